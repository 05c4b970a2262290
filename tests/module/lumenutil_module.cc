// Built apart from the plug-in, on lumenutil_api.h only: a declared type
// that mangles otherwise than the export's does not link.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "lumenutil_api.h"

using namespace lumenutil;

int main() {
    std::string exe, dir;
    const bool named = LumenSystemInfo::GetCurrentModuleFileName(nullptr, exe, dir) == 0;
    const std::string base = (std::filesystem::path(dir) / "lumenutil_module").string();
#if !defined(_WIN32)
    std::filesystem::create_directories(base + ".reg");
    setenv("OUTLINKWATCH_REGISTRY_DIR", (base + ".reg").c_str(), 1);
#endif
    const std::string key = "Software\\OutlinkWatch\\ModuleTest";
    BYTE bytes[8] = {0};
    DWORD size = sizeof bytes, session = 0;
    HANDLE token = nullptr;
    std::list<DWORD> listed;
    SYSTEMTIME st{};
    char value[16] = "";
    std::ofstream(base + ".ini", std::ios::binary) << "[S]\nk=value\n";
    const bool checks[] = {
        named && exe.find("lumenutil_module") == 0,
        LumenReg::CreateRegKeyValue(HKEY_CURRENT_USER, key, "Word", DWORD{7}, OSTYPE_X86) == 0,
        LumenReg::QueryRegKeyValue(HKEY_CURRENT_USER, key, "Word", size, bytes, OSTYPE_X86) == 0 && size == 4 &&
            bytes[0] == 7,
        LumenReg::DeleteRegKey(HKEY_CURRENT_USER, key, OSTYPE_X64) == 0,
        LumenSystemInfo::GetTokenByName("no-such-image.exe", token, session) == 0x3000001A && token == nullptr,
        LumenSystemInfo::GetVirtualAdapterCharacteristicsFromIniFile(listed) == 1 && listed.empty(),
        LumenFile::GetFileTime(base + ".ini", st) == 35 && st.wYear >= 2020,
        LumenFile::GetInifileStringA("S", "k", "", value, sizeof value, (base + ".ini").c_str()) == 5 &&
            std::strcmp(value, "value") == 0,
    };
    std::filesystem::remove(base + ".ini");
    std::filesystem::remove_all(base + ".reg");
    int failed = 0;
    for (size_t i = 0; i < sizeof checks / sizeof checks[0]; ++i) {
        if (checks[i]) continue;
        std::fprintf(stderr, "lumenutil module: check %zu failed\n", i);
        ++failed;
    }
    std::printf("lumenutil module: %d of %zu checks failed\n", failed, sizeof checks / sizeof checks[0]);
    return failed == 0 ? 0 : 1;
}
