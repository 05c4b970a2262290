// The Win32 backend against the system it was built for: Windows, or Wine
// in the cross build (.ci/cross-build.sh). What every backend keeps (profile
// strings among it) is the contract test's; these are answers that come
// from Windows itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "lumenutil/langmap.h"
#include "platform/win32/win32_api.h"
// (after windows.h)
#include <aclapi.h>

#include "plugin/policy.h"
#include "probes/route_tracer.h"
#include "proxy/firefox_proxy.h"

namespace ow = outlinkwatch;

namespace {

// The calls as Windows (or Wine) answers them, each as the shared code
// makes it: the utility library's, the route tracer's command and files,
// identity, time, users, registry key dates, module unloading, and the
// filter device's calls on a device that is no filter (Wine has no "NFW":
// the Firefox test has the policy's answer to that).
TEST(Win32OsTest, SystemFilesAndAccounts) {
    ow::Os* os = ow::Os::Default();
    std::vector<uint32_t> got{0xDEADBEEFu};
    EXPECT_FALSE(os->Network()->ResolveHostIPv4(std::string("127.0.0.1\0.evil", 15), &got)) << "not cut at the NUL";
    EXPECT_TRUE(got.empty());
    char sys[MAX_PATH] = {};
    ASSERT_NE(GetSystemDirectoryA(sys, sizeof sys), 0u);
    const std::string kernel32 = std::string(sys) + "\\kernel32.dll";
    std::string value;
    EXPECT_TRUE(os->Files()->FileVersionItem(kernel32, "FileVersion", &value));
    EXPECT_FALSE(value.empty());

    const ow::SystemFacts f = os->System()->SystemInfoFacts();
    EXPECT_TRUE(f.nativeVersion);
    EXPECT_EQ(f.processorArchitecture, ow::kArchAMD64);
    EXPECT_EQ(f.systemDirectory, sys);
    std::string name, exe;
    EXPECT_TRUE(os->Users()->AccountNameOfSid("S-1-1-0", &name));
    EXPECT_FALSE(name.empty());
    EXPECT_FALSE(os->Users()->AccountNameOfSid("S-1-x", &name));
    ASSERT_TRUE(os->System()->ModuleFileName(nullptr, &exe));
    EXPECT_NE(exe.find(".exe"), std::string::npos) << exe;
    std::vector<ow::AdapterInfo> adapters;
    uint32_t error = 0;
    EXPECT_TRUE(os->Network()->Adapters(ow::AdapterDetail::kAll, &adapters, &error)) << error;
    os->Users()->ProcessIsAdministrator();  // either answer; the token walk must hold

    std::string text, dir;
    EXPECT_FALSE(os->Files()->TempDirectory(1, &dir)) << "too small a buffer";
    ASSERT_TRUE(os->Files()->TempDirectory(260, &dir));
    const std::string out = dir + "ow_" + std::to_string(os->Clock()->UnixTime32()) + ".txt";
    ASSERT_TRUE(os->Users()->StartHiddenCommand("cmd /C echo hops>\"" + out + "\""));
    uint64_t size = 0;
    for (int i = 0; i < 500 && !(os->Files()->FileSize(out, &size) && size >= 6); ++i) os->Clock()->SleepMs(10);  // bounded
    // The read takes what the file holds, not its cap.
    ASSERT_TRUE(os->Files()->ReadFileBytes(out, 4u << 20, &text));
    EXPECT_EQ(text.substr(0, 6), "hops\r\n");
    EXPECT_LT(text.capacity(), 64u * 1024);
    os->Users()->EndHiddenCommands();  // WinExec gave no handle: nothing to end, nothing fails
    EXPECT_TRUE(os->Files()->RemoveFile(out));
    EXPECT_FALSE(os->Files()->FileSize(out, &size));
    EXPECT_FALSE(os->Files()->ReadFileBytes(out, 16, &text));

    EXPECT_TRUE(os->System()->ComputerDnsName(&name) && !name.empty());
    EXPECT_TRUE(os->System()->ComputerNetbiosName(&name));
    os->System()->DebugOutput("ow test\n");
    const ow::OsVersionFacts v = os->System()->VersionFacts();
    EXPECT_TRUE(v.versionExOk && v.ntNumbersOk && v.ntMajor >= 6);
    std::tm tm{};
    EXPECT_TRUE(os->Clock()->LocalTime(0, &tm));
    EXPECT_FALSE(os->Clock()->LocalTime(ow::kMaxLocalTime + 86400, &tm));
    std::vector<std::string> users;
    EXPECT_TRUE(os->Users()->UserKeyNames(&users));
    EXPECT_FALSE(users.empty());
    os->System()->Firmware();  // whatever the machine tells
    uint32_t characteristics = 0;
    EXPECT_FALSE(os->Network()->AdapterCharacteristics("{00000000-0000-0000-0000-000000000000}", &characteristics));
    EXPECT_TRUE(os->System()->UnloadModule(LoadLibraryA("version.dll")));

    HKEY key = nullptr;
    ow::LocalDate date;
    ASSERT_EQ(os->Registry()->CreateKey(HKEY_CURRENT_USER, "Software\\OwDateTest", KEY_ALL_ACCESS, &key), 0u);
    EXPECT_EQ(os->Registry()->KeyWriteDate(key, &date), 0u);
    EXPECT_GE(date.year, 2020);
    EXPECT_EQ(os->Registry()->CloseKey(key), 0u);
    EXPECT_EQ(os->Registry()->DeleteKey(HKEY_CURRENT_USER, "Software\\OwDateTest", KEY_WOW64_64KEY), 0u);

    ow::DeviceHandle nul;
    ASSERT_TRUE(os->Device()->OpenDevice("\\\\.\\NUL", ow::kOpenExisting, &nul) && nul);
    uint32_t returned = 7;
    EXPECT_FALSE(os->Device()->DeviceControl(nul, 0x804D21BC, nullptr, 0, &returned)) << "no filter device";
    EXPECT_TRUE(os->Device()->CloseDevice(nul));
}

// A language map another process holds open for writing at the first
// look-up: once it lets go, the next look-up has the map and the texts.
TEST(Win32OsTest, LanguageMapHeldByAWriterIsReadAgain) {
    std::string exe;
    ASSERT_TRUE(ow::Os::Default()->System()->ModuleFileName(nullptr, &exe));
    const std::string dir = exe.substr(0, exe.rfind('\\')) + "\\language", map = dir + "\\langmap.ini";
    const std::string texts = dir + "\\UniLang_en.ini";
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    HANDLE writer = CreateFileA(map.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(writer, "1 English en\r\n", 14, &n, nullptr) && n == 14);
    HANDLE t = CreateFileA(texts.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_TRUE(t != INVALID_HANDLE_VALUE && WriteFile(t, "[S]\r\nk=hello\r\n", 16, &n, nullptr) && n == 16);
    CloseHandle(t);
    lumenutil::ReloadLangMapForTesting();  // the first look, while the writer holds the map
    lumenutil::GetLangAbbr(1);
    CloseHandle(writer);
    EXPECT_EQ(lumenutil::GetLangAbbr(1), "en");
    EXPECT_EQ(lumenutil::getStringFromLangIni("S", "k", 1), "hello");
    EXPECT_TRUE(DeleteFileA(map.c_str()) && DeleteFileA(texts.c_str()) && RemoveDirectoryA(dir.c_str()));
    lumenutil::ReloadLangMapForTesting();
}

// A user's files are judged on the handle opened without following a
// reparse point: a folder, a device, a pipe or a link in a file's place is
// refused at once; a file is read in pieces; a folder is listed from its
// own handle.
TEST(Win32OsTest, UserFilesAreJudgedOnTheirHandle) {
    ow::Os* os = ow::Os::Default();
    std::string tmp;
    ASSERT_TRUE(os->Files()->TempDirectory(260, &tmp));
    const std::string dir = tmp + "ow_user_" + std::to_string(GetCurrentProcessId()), file = dir + "\\prefs.js";
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((dir + "\\sub").c_str(), nullptr));
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const std::string text(ow::kUserFilePieceBytes + 3, 'p');
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    CloseHandle(h);
    HANDLE pipe = CreateNamedPipeA("\\\\.\\pipe\\ow_user_file", PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
    const std::string link = dir + "\\link.js";
    const bool linked = CreateSymbolicLinkA(link.c_str(), file.c_str(), 0) != FALSE;
    struct Row { std::string path; ow::UserFileRead want; std::string got; };
    std::vector<Row> rows = {{file, ow::UserFileRead::kRead, text},
                             {dir + "\\absent.js", ow::UserFileRead::kMissing, ""},
                             {dir, ow::UserFileRead::kRefused, ""},
                             {"\\\\.\\NUL", ow::UserFileRead::kRefused, ""},
                             {"\\\\.\\pipe\\ow_user_file", ow::UserFileRead::kRefused, ""}};
    // Wine makes the link a Unix one it does not show again: never read through, at least.
    const auto none = [](std::string_view) { return true; };
    if (linked) {
        EXPECT_NE(os->Files()->ReadUserFile("S-1-5-21-1", link, none), ow::UserFileRead::kRead);
    } else {
        std::printf("no symbolic link could be made here (%lu)\n", GetLastError());
    }
    for (const Row& row : rows) {
        std::string got;
        size_t pieces = 0;
        const uint64_t start = os->Clock()->MonotonicMs();
        EXPECT_EQ(os->Files()->ReadUserFile("S-1-5-21-1", row.path, [&](std::string_view piece) {
            got.append(piece);
            return ++pieces < 100;
        }), row.want) << row.path;
        EXPECT_LT(os->Clock()->MonotonicMs() - start, 5000u) << row.path;
        EXPECT_EQ(got, row.want == ow::UserFileRead::kRead ? row.got : "") << row.path;
    }
    std::vector<ow::DirEntry> entries;
    EXPECT_FALSE(os->Files()->ListUserDirectory("S-1-5-21-1", file, 16, &entries)) << "a file is no folder";
    ASSERT_TRUE(os->Files()->ListUserDirectory("S-1-5-21-1", dir, 16, &entries));
    std::vector<std::string> names;
    for (const auto& e : entries) {
        if (e.name != "link.js") names.push_back(e.name + (e.isDirectory ? "/" : ""));
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"../", "./", "prefs.js", "sub/"}));
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    DeleteFileA(link.c_str());
    DeleteFileA(file.c_str());
    RemoveDirectoryA((dir + "\\sub").c_str());
    RemoveDirectoryA(dir.c_str());

    // The handle's verdict where Wine cannot plant the kind.
    const struct { DWORD type, attributes; bool directory, accept; } verdicts[] = {
        {FILE_TYPE_DISK, FILE_ATTRIBUTE_ARCHIVE, false, true},
        {FILE_TYPE_DISK, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT, false, false},
        {FILE_TYPE_DISK, FILE_ATTRIBUTE_DIRECTORY, false, false},
        {FILE_TYPE_DISK, FILE_ATTRIBUTE_DIRECTORY, true, true},
        {FILE_TYPE_DISK, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, true, false},
        {FILE_TYPE_PIPE, FILE_ATTRIBUTE_NORMAL, false, false},
        {FILE_TYPE_CHAR, FILE_ATTRIBUTE_NORMAL, false, false},
    };
    for (const auto& v : verdicts) {
        EXPECT_EQ(ow::win32::AcceptUserHandle(v.type, v.attributes, v.directory), v.accept) << &v - verdicts;
    }
}

// Issuing a route-change request resets its event: a completed request is
// replaced only once the route thread has consumed the change it reported.
// (Wine does not serve the notification; this is its decision alone.)
TEST(Win32OsTest, RouteRequestStep) {
    using S = ow::win32::RouteRequestStep;
    const struct { bool out, completed, eventSet; S want; } rows[] = {
        {false, false, false, S::kIssue}, {true, false, false, S::kKeep}, {true, false, true, S::kKeep},
        {true, true, true, S::kKeep},     {true, true, false, S::kIssue},
    };
    for (const auto& r : rows) EXPECT_EQ(ow::win32::NextRouteRequest(r.out, r.completed, r.eventSet), r.want) << &r - rows;
}

std::string SharedTempPath() {
    char buf[MAX_PATH] = {};
    const DWORD n = GetTempPathA(sizeof buf, buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

std::string SelfSidText() {
    HANDLE token = nullptr;
    BYTE info[512];
    DWORD n = 0;
    LPSTR text = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
    const bool ok = GetTokenInformation(token, TokenUser, info, sizeof info, &n) &&
                    ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(info)->User.Sid, &text);
    CloseHandle(token);
    const std::string sid = ok ? text : "";
    LocalFree(text);
    return sid;
}

// The owner and access list of a path as the system gives them back.
std::string SecurityText(const std::string& path) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    LPSTR text = nullptr;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, what, nullptr, nullptr, nullptr, nullptr, &sd) != 0) return "";
    const std::string result =
        ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, what, &text, nullptr) ? text : "";
    LocalFree(text);
    LocalFree(sd);
    return result;
}

// Lets everyone do everything in a directory of this account's.
bool OpenToEveryone(const std::string& dir) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    const bool ok =
        ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1, &sd, nullptr) &&
        SetFileSecurityA(dir.c_str(), DACL_SECURITY_INFORMATION, sd);
    LocalFree(sd);
    return ok;
}

// Wine keeps a file's access list as Unix permission bits: no protection
// flag, no entry for the administrators.
bool UnderWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

// The trace's directory is made with an access list of its own; where the
// usual name is taken by anything another account can write, a fresh
// unpredictable one is used, kept, and checked again at every call.
TEST(Win32TempDirTest, OwnDirectoryOrAFreshOne) {
    ow::Os* os = ow::Os::Default();
    if (GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTempPath2A") != nullptr) {
        GTEST_SKIP() << "GetTempPath2A answers here";
    }
    const std::string usual = SharedTempPath() + ow::win32::kPrivateTempName, self = SelfSidText();
    ASSERT_FALSE(self.empty());
    for (const std::string planted : {"nothing", "a folder everyone may write", "a file"}) {
        SCOPED_TRACE(planted);
        RemoveDirectoryA(usual.c_str());
        DeleteFileA(usual.c_str());
        if (planted == "a file") {
            ASSERT_TRUE(std::ofstream(usual) << "planted");
        } else if (planted != "nothing") {
            ASSERT_TRUE(CreateDirectoryA(usual.c_str(), nullptr) && OpenToEveryone(usual));
        }
        std::string dir, again;
        ASSERT_TRUE(os->Files()->TempDirectory(260, &dir));
        ASSERT_TRUE(os->Files()->TempDirectory(260, &again));
        EXPECT_EQ(again, dir) << "kept";
        const std::string made = dir.substr(0, dir.size() - 1);
        if (planted == "nothing") {
            EXPECT_EQ(dir, usual + "\\");
            // Windows keeps the list as made, under the token's default owner.
            const std::string text = SecurityText(made), mine = "(A;OICI;FA;;;" + self + ")";
            EXPECT_EQ(text, UnderWine() ? "O:" + self + "D:(A;OICI;FA;;;SY)" + mine
                                        : text.substr(0, text.find("D:")) + "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)" + mine);
            continue;
        }
        EXPECT_EQ(dir.compare(0, usual.size() + 1, usual + "-"), 0) << dir;
        EXPECT_EQ(dir.size(), usual.size() + 26) << "24 random hex digits";
        EXPECT_EQ(dir.find_first_not_of("0123456789abcdef", usual.size() + 1), dir.size() - 1) << dir;
        // A fresh directory that others may write is given up for another.
        ASSERT_TRUE(OpenToEveryone(made));
        ASSERT_TRUE(os->Files()->TempDirectory(260, &again));
        EXPECT_NE(again, dir);
        EXPECT_EQ(again.compare(0, usual.size() + 1, usual + "-"), 0) << again;
        RemoveDirectoryA(made.c_str());
        RemoveDirectoryA(again.substr(0, again.size() - 1).c_str());
    }
    RemoveDirectoryA(usual.c_str());
    DeleteFileA(usual.c_str());
}

// Polls of the trace come every 20 ms instead of every second.
class QuickPollOs : public ow::OsWrapper, ow::ClockWrapper {
public:
    explicit QuickPollOs(ow::Os* target) : OsWrapper(target), ClockWrapper(target->Clock()) {}
    ow::ClockService* Clock() override { return this; }
    void SleepMs(uint32_t ms) override { ClockWrapper::SleepMs(std::min<uint32_t>(ms, 20)); }
};

// Another user takes the names of the coming seconds in the shared
// temporary directory: with folders (the output never comes), or with files
// of a forged route through an allowed hop, held open so that the command
// cannot write them. The trace still gets its own output and reports.
TEST(Win32TempDirTest, TraceReportsWhileTheComingSecondsAreTaken) {
    std::string exe;
    ASSERT_TRUE(ow::Os::Default()->System()->ModuleFileName(nullptr, &exe));
    const std::string tools = exe.substr(0, exe.rfind('\\')) + "\\..\\tools\\host";
    if (GetFileAttributesA((tools + "\\tracert.exe").c_str()) == INVALID_FILE_ATTRIBUTES) {
        GTEST_SKIP() << "no tracert.exe in " << tools;
    }
    std::string path(32768, '\0');
    path.resize(GetEnvironmentVariableA("PATH", &path[0], static_cast<DWORD>(path.size())));
    ASSERT_TRUE(SetEnvironmentVariableA("PATH", (tools + ";" + path).c_str()));
    const std::string forged = "Tracing route\r\n  1  1 ms  192.0.2.1\r\n\r\nTrace complete.\r\n";

    for (const bool files : {false, true}) {
        SCOPED_TRACE(files ? "forged files" : "folders");
        const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
        std::vector<std::string> taken;
        std::vector<HANDLE> held;
        for (uint32_t s = now; s < now + 700; ++s) {
            taken.push_back(SharedTempPath() + std::to_string(s));
            if (!files) {
                CreateDirectoryA(taken.back().c_str(), nullptr);
                continue;
            }
            std::ofstream(taken.back(), std::ios::binary) << forged;
            held.push_back(CreateFileA(taken.back().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                       nullptr));
        }
        QuickPollOs os(ow::Os::Default());
        CRouteTracer tracer;
        std::string route;
        std::atomic<int32_t> exiting{0}, pending{0};
        EXPECT_EQ(tracer.Trace(&os, ow::StopToken(exiting, pending), 110, "127.0.0.1", {0xC0000201u}, route),
                  TRACE_RESPONSES);
        EXPECT_EQ(route, "\n1 127.0.0.1;\n");
        for (HANDLE h : held) CloseHandle(h);
        for (const std::string& name : taken) files ? DeleteFileA(name.c_str()) : RemoveDirectoryA(name.c_str());
    }
    SetEnvironmentVariableA("PATH", path.c_str());
}

}  // namespace
