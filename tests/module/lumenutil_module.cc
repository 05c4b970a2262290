// A module built apart from the plug-in, as an agent's is: it knows only
// lumenutil_api.h, links to the plug-in's utility exports and calls a sample
// of each parameter type. A declared type that mangles otherwise than the
// export's does not link.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "lumenutil_api.h"

using namespace lumenutil;

namespace {
int failures = 0;
void Check(bool ok, int line) {
    if (ok) return;
    std::fprintf(stderr, "lumenutil module: check at line %d failed\n", line);
    ++failures;
}
}  // namespace
#define CHECK(condition) Check(condition, __LINE__)

int main() {
    std::string exe, dir;
    CHECK(LumenSystemInfo::GetCurrentModuleFileName(nullptr, exe, dir) == 0 && exe.find("lumenutil_module") == 0);
    const std::string base = (std::filesystem::path(dir) / "lumenutil_module").string();
#if !defined(_WIN32)
    std::filesystem::create_directories(base + ".reg");
    setenv("OUTLINKWATCH_REGISTRY_DIR", (base + ".reg").c_str(), 1);
#endif
    const std::string key = "Software\\OutlinkWatch\\ModuleTest";
    BYTE bytes[3] = {1, 2, 3};
    DWORD word = 0, size = sizeof bytes, textSize = 64, major = 0, minor = 0, build = 0, session = 0, kind = 0;
    std::string text;
    char day[16] = "";
    CHECK(LumenReg::CreateRegKeyValue(HKEY_CURRENT_USER, key, "Word", DWORD{7}, OSTYPE_X86) == 0);
    CHECK(LumenReg::CreateRegKeyValue(HKEY_CURRENT_USER, key, "Bytes", bytes, 3, OSTYPE_X86) == 0);
    CHECK(LumenReg::SetRegKeyValue(HKEY_CURRENT_USER, key, "", std::string("text"), false, OSTYPE_X86) == 0);
    CHECK(LumenReg::QueryRegKeyValue(HKEY_CURRENT_USER, key, "Word", word, OSTYPE_X86) == 0 && word == 7);
    CHECK(LumenReg::QueryRegKeyValue(HKEY_CURRENT_USER, key, "Bytes", size, bytes, OSTYPE_X86) == 0 && size == 3);
    CHECK(LumenReg::QueryRegKeyValue(HKEY_CURRENT_USER, key, "", textSize, text, OSTYPE_X86) == 0 && text == "text");
    CHECK(LumenReg::QueryRegKeyModifyTime(HKEY_CURRENT_USER, key, day, sizeof day, OSTYPE_X86) == 0 &&
          std::strlen(day) == 10);
    CHECK(LumenReg::DeleteRegKey(HKEY_CURRENT_USER, key, OSTYPE_X64) == 0);

    HANDLE token = nullptr;
    std::list<DWORD> listed;
    CHECK(LumenSystemInfo::GetTokenByName("no-such-image.exe", token, session) == 0x3000001A && token == nullptr);
    const bool nt = LumenSystemInfo::GetNtVersionNumbers(major, minor, build);  // none on Linux
    CHECK(nt == (major >= 5));
    const bool vm = LumenSystemInfo::isVirtualMachine(kind);
    CHECK(vm == (kind != 0));
    CHECK(LumenSystemInfo::GetVirtualAdapterCharacteristicsFromIniFile(listed) == 1 && listed.empty());
    const BOOL admin = LumenSystemInfo::IsAdminUser();
    CHECK(admin == 0 || admin == 1);

    const std::string ini = base + ".ini";
    std::ofstream(ini, std::ios::binary) << "[S]\nk=value\n";
    char value[16] = "";
    SYSTEMTIME st{};
    CHECK(LumenFile::GetFileSize(ini.c_str()) == 12);
    CHECK(LumenFile::GetFileTime(ini, st) == 35 && st.wYear >= 2020);
    CHECK(LumenFile::GetInifileStringA("S", "k", "", value, sizeof value, ini.c_str()) == 5 &&
          std::string(value) == "value");
    std::filesystem::remove(ini);
    std::filesystem::remove_all(base + ".reg");
    std::printf("lumenutil module: %d failed check(s)\n", failures);
    return failures == 0 ? 0 : 1;
}
