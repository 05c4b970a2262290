// The task timer's platform half on Windows: a hidden window, owned by a
// thread of its own that runs the window's message loop. Numbered window
// timers (SetTimer) tick as WM_TIMER on that thread and are handed to the
// sink there.
//
// A window timer can only be set by the thread that owns the window
// (SetTimer requires it), so Arm from any other thread is carried to the
// window thread as a private message, sent with a bounded time-out: a
// window thread busy in a long tick makes Arm fail rather than hang its
// caller, who tries again later. Disarm goes the same way, so that the window's timers are only
// ever touched from the window's own thread.
#include "platform/win32/win32_api.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "platform/os.h"

namespace outlinkwatch {
namespace win32 {
namespace {

constexpr char kClassName[] = "OrvexTimerClass";
constexpr char kMenuName[] = "OrvexTimer";

// Private messages of our own window class.
constexpr UINT kArmMessage = WM_APP + 1;     // wParam timer id, lParam elapse in ms; answers 1 when set
constexpr UINT kDisarmMessage = WM_APP + 2;  // wParam timer id

// How long Arm waits for the window thread to have its window.
constexpr DWORD kWindowWaitMs = 2000;
// How long a call carried to the window thread may take.
constexpr UINT kCallWaitMs = 2000;
// How long a host being destroyed without Stop waits for its thread.
constexpr uint32_t kDestroyWaitMs = 5000;

// Registering the class, creating a window of it and, at the end,
// unregistering it are one step each under this lock, so that one host
// ending never pulls the class from under another one starting.
SRWLOCK g_classLock = SRWLOCK_INIT;

class CsGuard {
public:
    explicit CsGuard(CRITICAL_SECTION* cs) : cs_(cs) { EnterCriticalSection(cs_); }
    ~CsGuard() { LeaveCriticalSection(cs_); }
    CsGuard(const CsGuard&) = delete;
    CsGuard& operator=(const CsGuard&) = delete;

private:
    CRITICAL_SECTION* cs_;
};

// What the host and its window thread share. Both hold a reference, so a
// thread that outlives a Stop that gave up waiting still finds it intact.
struct TimerState {
    TimerState() : windowSettled(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        InitializeCriticalSection(&sinkLock);
    }
    ~TimerState() {
        DeleteCriticalSection(&sinkLock);
        if (windowSettled != nullptr) CloseHandle(windowSettled);
    }
    TimerState(const TimerState&) = delete;
    TimerState& operator=(const TimerState&) = delete;

    // Hands one tick to the sink. The lock is held across the call, so that
    // clearing the sink also waits out a tick being delivered.
    void Deliver(uint32_t id) {
        CsGuard guard(&sinkLock);
        if (sink == nullptr) return;
        try {
            sink->OnTimer(id);
        } catch (...) {
            // Nothing may unwind into the system's message dispatch.
        }
    }

    CRITICAL_SECTION sinkLock;
    TimerSink* sink = nullptr;  // guarded by sinkLock; null once stopped
    std::atomic<HWND> hwnd{nullptr};
    std::atomic<DWORD> threadId{0};
    std::atomic<bool> stopRequested{false};
    // Set once the window thread has its window or knows it cannot have one.
    HANDLE windowSettled;
};

LRESULT CALLBACK TimerWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER: {
            auto* state = reinterpret_cast<TimerState*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
            if (state != nullptr) state->Deliver(static_cast<uint32_t>(wParam));
            return 0;
        }
        case kArmMessage:
            return SetTimer(hwnd, wParam, static_cast<UINT>(lParam), nullptr) != 0 ? 1 : 0;
        case kDisarmMessage:
            KillTimer(hwnd, wParam);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

bool RegisterTimerClass(HINSTANCE instance) {  // g_classLock held
    WNDCLASSEXA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = TimerWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512));    // IDI_APPLICATION
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszMenuName = kMenuName;
    wc.lpszClassName = kClassName;
    wc.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(32513));
    if (RegisterClassExA(&wc) != 0) return true;
    if (GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

    // The class is there already. Ours, from another host, is fine; one
    // left with a window procedure that is not this one (a copy of this
    // library loaded earlier, say) would route our ticks elsewhere, so it
    // is replaced when it has no windows left.
    WNDCLASSEXA existing;
    std::memset(&existing, 0, sizeof existing);
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(instance, kClassName, &existing) && existing.lpfnWndProc == TimerWindowProc) return true;
    if (!UnregisterClassA(kClassName, instance)) return false;
    return RegisterClassExA(&wc) != 0;
}

HWND CreateTimerWindow(HINSTANCE instance) {
    SrwGuard guard(&g_classLock);
    if (!RegisterTimerClass(instance)) return nullptr;
    return CreateWindowExA(0, kClassName, "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
}

DWORD WINAPI TimerThreadMain(LPVOID param) {
    std::shared_ptr<TimerState> state;
    {
        auto* held = static_cast<std::shared_ptr<TimerState>*>(param);
        state = std::move(*held);
        delete held;
    }
    state->threadId.store(GetCurrentThreadId());

    HINSTANCE instance = GetModuleHandleA(nullptr);
    HWND hwnd = CreateTimerWindow(instance);
    if (hwnd != nullptr) {
        ShowWindow(hwnd, SW_HIDE);
        UpdateWindow(hwnd);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state.get()));
        state->hwnd.store(hwnd);
    }
    SetEvent(state->windowSettled);
    if (hwnd == nullptr) return 1;

    // Stop publishes its request before it looks for the window, and the
    // window is published before the request is looked at here: either
    // Stop finds the window and posts the quit, or this sees the request.
    if (!state->stopRequested.load()) {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

    state->hwnd.store(nullptr);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    DestroyWindow(hwnd);  // also ends the window's timers
    {
        // The class names a window procedure inside this library; it must
        // not survive the library. Refused while another host's window
        // still uses it, which is as it should be.
        SrwGuard guard(&g_classLock);
        UnregisterClassA(kClassName, instance);
    }
    return 0;
}

class Win32TimerHost final : public TimerHost {
public:
    Win32TimerHost() : state_(std::make_shared<TimerState>()) {}
    ~Win32TimerHost() override { Stop(kDestroyWaitMs); }
    Win32TimerHost(const Win32TimerHost&) = delete;
    Win32TimerHost& operator=(const Win32TimerHost&) = delete;

    bool Start(TimerSink* sink) override {
        if (started_.load() || state_->windowSettled == nullptr || state_->stopRequested.load()) return false;
        {
            CsGuard guard(&state_->sinkLock);
            state_->sink = sink;
        }
        auto* held = new (std::nothrow) std::shared_ptr<TimerState>(state_);
        if (held != nullptr) thread_ = CreateThread(nullptr, 0, TimerThreadMain, held, 0, nullptr);
        if (thread_ == nullptr) {
            delete held;
            CsGuard guard(&state_->sinkLock);
            state_->sink = nullptr;
            return false;
        }
        started_.store(true);
        return true;
    }

    bool Arm(uint32_t id, uint32_t elapseMs) override {
        HWND hwnd = SettledWindow();
        if (hwnd == nullptr) return false;
        if (OnWindowThread()) return SetTimer(hwnd, id, elapseMs, nullptr) != 0;
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(hwnd, kArmMessage, id, static_cast<LPARAM>(elapseMs), SMTO_NORMAL | SMTO_ABORTIFHUNG,
                                 kCallWaitMs, &result)) {
            return false;
        }
        return result != 0;
    }

    void Disarm(uint32_t id) override {
        HWND hwnd = state_->hwnd.load();
        if (hwnd == nullptr) return;
        if (OnWindowThread()) {
            KillTimer(hwnd, id);
            return;
        }
        DWORD_PTR result = 0;
        SendMessageTimeoutA(hwnd, kDisarmMessage, id, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, kCallWaitMs, &result);
    }

    void Stop(uint32_t waitMs) override {
        state_->stopRequested.store(true);
        if (HWND hwnd = state_->hwnd.load()) PostMessageA(hwnd, WM_QUIT, 0, 0);
        if (thread_ != nullptr) {
            // Stopped from inside a tick: the loop ends once the tick returns.
            if (!OnWindowThread()) WaitForSingleObject(thread_, waitMs);
            CloseHandle(thread_);
            thread_ = nullptr;
        }
        // Taking the sink lock waits out a tick that is being delivered now;
        // after it no tick can reach the sink, whether or not the thread has
        // ended within waitMs.
        CsGuard guard(&state_->sinkLock);
        state_->sink = nullptr;
    }

private:
    // The window once the thread has settled (bounded wait); null when it
    // has none, has not been started, or is being stopped.
    HWND SettledWindow() {
        if (!started_.load() || state_->stopRequested.load()) return nullptr;
        WaitForSingleObject(state_->windowSettled, kWindowWaitMs);
        return state_->hwnd.load();
    }

    bool OnWindowThread() const { return state_->threadId.load() == GetCurrentThreadId(); }

    std::shared_ptr<TimerState> state_;
    std::atomic<bool> started_{false};
    HANDLE thread_ = nullptr;  // touched by Start and Stop only
};

}  // namespace

std::unique_ptr<TimerHost> NewTimerHost() { return std::unique_ptr<TimerHost>(new Win32TimerHost()); }

}  // namespace win32
}  // namespace outlinkwatch
