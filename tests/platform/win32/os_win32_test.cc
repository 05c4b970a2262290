// The Win32 backend against the system it was built for: Windows, or Wine
// in the cross build (.ci/cross-build.sh). What every backend keeps (profile
// strings among it) is the contract test's; these are answers that come
// from Windows itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "lumenutil/langmap.h"
#include "platform/win32/win32_api.h"
// (after windows.h)
#include <aclapi.h>

#include "platform/os.h"
#include "platform/os_clock.h"
#include "probes/route_tracer.h"
#include "proxy/firefox_proxy.h"

namespace ow = outlinkwatch;

namespace {

// The calls as Wine answers them, each as the shared code makes it: the
// utility library's, the route tracer's command and files, identity, time,
// users, registry key dates, module unloading, and the filter device's
// calls on a device that is no filter (Wine has no "NFW": the Firefox test
// has the policy's answer to that). One row per answer, with its reason:
// "yes"/"no" for the call, then what it gave.
TEST(Win32OsTest, SystemFilesAndAccounts) {
    ow::Os* os = ow::Os::Default();
    char sys[MAX_PATH] = {};
    ASSERT_NE(GetSystemDirectoryA(sys, sizeof sys), 0u);
    const auto yes = [](bool ok) { return std::string(ok ? "yes " : "no "); };
    const auto upper = [](std::string t) {
        for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return t;
    };
    std::vector<uint32_t> addrs{0xDEADBEEFu};
    std::vector<ow::AdapterInfo> adapters;
    std::vector<std::string> users;
    std::string text, dns, temp;
    uint32_t n = 7;
    std::tm tm{};
    ow::DeviceHandle nul;
    const ow::SystemFacts f = os->System()->SystemInfoFacts();
    const ow::OsVersionFacts v = os->System()->VersionFacts();
    const struct {
        const char* why;
        std::function<std::string()> answer;
        std::string want;
    } rows[] = {
        {"an address text is not cut at an embedded NUL",
         [&] {
             const bool ok = os->Network()->ResolveHostIPv4(std::string("127.0.0.1\0.evil", 15), &addrs);
             return yes(ok) + std::to_string(addrs.size());
         },
         "no 0"},
        {"kernel32's version resource begins with four numbers",
         [&] {
             const bool ok = os->Files()->FileVersionItem(std::string(sys) + "\\kernel32.dll", "FileVersion", &text);
             const std::string numbers = text.substr(0, text.find_first_not_of("0123456789."));
             return yes(ok && !numbers.empty()) + std::to_string(std::count(numbers.begin(), numbers.end(), '.'));
         },
         "yes 3"},
        {"Wine names the world SID in English",
         [&] {
             const bool ok = os->Users()->AccountNameOfSid("S-1-1-0", &text);
             return yes(ok) + text;
         },
         "yes Everyone"},
        {"a malformed SID has no name", [&] { return yes(os->Users()->AccountNameOfSid("S-1-x", &text)); }, "no "},
        {"the module is this program",
         [&] {
             const bool ok = os->System()->ModuleFileName(nullptr, &text);
             return yes(ok) + text.substr(text.rfind('\\') + 1);
         },
         "yes ow_win_tests.exe"},
        {"the adapters can be listed", [&] { return yes(os->Network()->Adapters(ow::AdapterDetail::kAll, &adapters, &n)); },
         "yes "},
        {"Wine's user holds the administrators' group", [&] { return yes(os->Users()->ProcessIsAdministrator()); }, "yes "},
        {"no temp path fits one byte", [&] { return yes(os->Files()->TempDirectory(1, &text)); }, "no "},
        {"the temp path fits MAX_PATH and ends in a separator",
         [&] {
             const bool ok = os->Files()->TempDirectory(260, &temp) && !temp.empty();
             return yes(ok) + (ok ? temp.substr(temp.size() - 1) : "");
         },
         "yes \\"},
        {"the NetBIOS name is the DNS name's first label in upper case",
         [&] {
             const bool ok = os->System()->ComputerDnsName(&dns) && os->System()->ComputerNetbiosName(&text);
             const std::string label = upper(dns.substr(0, dns.find('.'))).substr(0, 15);
             return yes(ok && !text.empty()) + (label == text ? "same" : label + " but " + text);
         },
         "yes same"},
        {"the facts name the system directory", [&] { return f.systemDirectory; }, sys},
        {"a 64-bit Windows on a 64-bit processor",
         [&] { return yes(f.nativeVersion) + std::to_string(f.processorArchitecture); }, "yes 9"},
        {"Wine 8 answers as its default, Windows 7",
         [&] { return yes(v.versionExOk && v.ntNumbersOk) + std::to_string(v.ntMajor) + "." + std::to_string(v.ntMinor); },
         "yes 6.1"},
        {"the epoch is a local time", [&] { return yes(os->Clock()->LocalTime(0, &tm)); }, "yes "},
        {"a day past the last one is none", [&] { return yes(os->Clock()->LocalTime(ow::kMaxLocalTime + 86400, &tm)); },
         "no "},
        {"HKEY_USERS lists the default user's key",
         [&] {
             const bool ok = os->Users()->UserKeyNames(&users);
             return yes(ok) + std::to_string(std::count_if(users.begin(), users.end(),
                                                           [&](const std::string& u) { return upper(u) == ".DEFAULT"; }));
         },
         "yes 1"},
        {"no adapter has the zero GUID",
         [&] { return yes(os->Network()->AdapterCharacteristics("{00000000-0000-0000-0000-000000000000}", &n)); }, "no "},
        {"a loaded module unloads", [&] { return yes(os->System()->UnloadModule(LoadLibraryA("version.dll"))); }, "yes "},
        {"NUL is a device but no filter device",
         [&] {
             const std::string opened = yes(os->Device()->OpenDevice("\\\\.\\NUL", ow::kOpenExisting, &nul) && nul);
             const std::string control = yes(os->Device()->DeviceControl(nul, 0x804D21BC, nullptr, 0, &n));
             return opened + control + yes(os->Device()->CloseDevice(nul));
         },
         "yes no yes "},
    };
    for (const auto& r : rows) EXPECT_EQ(r.answer(), r.want) << r.why;

    // The route tracer's command writes its file; the read takes what the
    // file holds, not its cap; once removed it is gone.
    const std::string out = temp + "ow_" + std::to_string(os->Clock()->UnixTime32()) + ".txt";
    ASSERT_TRUE(os->Users()->StartHiddenCommand("cmd /C echo hops>\"" + out + "\""));
    uint64_t size = 0;
    for (int i = 0; i < 500 && !(os->Files()->FileSize(out, &size) && size >= 6); ++i) os->Clock()->SleepMs(10);  // bounded
    ASSERT_TRUE(os->Files()->ReadFileBytes(out, 4u << 20, &text));
    EXPECT_EQ(text.substr(0, 6), "hops\r\n");
    EXPECT_LT(text.capacity(), 64u * 1024);
    EXPECT_TRUE(os->Files()->RemoveFile(out));
    EXPECT_FALSE(os->Files()->FileSize(out, &size));

    HKEY key = nullptr;
    ow::LocalDate date;
    ASSERT_EQ(os->Registry()->CreateKey(HKEY_CURRENT_USER, "Software\\OwDateTest", KEY_ALL_ACCESS, &key), 0u);
    EXPECT_EQ(os->Registry()->KeyWriteDate(key, &date), 0u);
    EXPECT_GE(date.year, 2020);
    EXPECT_EQ(os->Registry()->CloseKey(key), 0u);
    EXPECT_EQ(os->Registry()->DeleteKey(HKEY_CURRENT_USER, "Software\\OwDateTest", KEY_WOW64_64KEY), 0u);
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

// A route-change request is replaced only once the route thread has
// consumed (reset) the change it reported, so no change goes unseen and no
// second request is refused. Wine does not serve the notification, so the
// decision is followed over event sequences: n: the thread asks, c: the
// system reports a change (completes and sets the event), r: the thread
// resets the event; the rows count the requests issued.
TEST(Win32OsTest, RouteRequestIsReplacedOncePerConsumedChange) {
    const std::pair<const char*, int> rows[] = {{"n", 1}, {"nn", 1}, {"ncn", 1}, {"ncrn", 2}, {"ncrnn", 2},
                                                {"ncrncrn", 3}, {"nrn", 1}};
    for (const auto& [events, issued] : rows) {
        bool out = false, completed = false, eventSet = false;
        int count = 0;
        for (const char* e = events; *e != '\0'; ++e) {
            if (*e == 'c') completed = eventSet = true;
            if (*e == 'r') eventSet = false;
            if (*e == 'n' && ow::win32::NextRouteRequest(out, completed, eventSet) == ow::win32::RouteRequestStep::kIssue) {
                out = true, completed = false, ++count;
            }
        }
        EXPECT_EQ(count, issued) << events;
    }
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
