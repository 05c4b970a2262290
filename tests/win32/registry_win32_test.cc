// The system's own registry (Wine's, in the cross build) as a 32-bit or a
// 64-bit agent meets it. Reading the interactive user's Internet Explorer
// setting from it is the Windows proxy demos' check in CI (.ci/run), for
// the 64-bit and the 32-bit build.
#include <gtest/gtest.h>
#include <windows.h>

#include "lumenutil/registry.h"

namespace outlinkwatch {
namespace {

// HKLM\Software has a 32-bit view of its own, where a 32-bit process on
// 64-bit Windows lands unless it asks for the 64-bit view (OSTYPE_X64); a
// 64-bit process has that view as its own. DeleteRegKey names the 32-bit
// view for OSTYPE_X86 in either process.
TEST(RegistryWin32Test, OsTypeChoosesTheView) {
    using namespace lumenutil;
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    if (sizeof(void*) == 4 && !wow64) GTEST_SKIP() << "32-bit Windows: one registry view";
    const uint32_t own = sizeof(void*) == 8 ? 64 : 32;  // the view OSTYPE_X86 reaches
    const char* path = "Software\\OutlinkWatch view test";
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path, view, 0);
    const auto put = [&](REGSAM view, DWORD value) {  // as a program of that view writes it
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE | view, nullptr, &key, nullptr), 0);
        EXPECT_EQ(RegSetValueExA(key, "View", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof value), 0);
        RegCloseKey(key);
    };
    const auto seen = [&](OSTYPE type) {  // 0: no such key
        uint32_t v = 0;
        return LumenReg::QueryRegKeyValue(HKEY_LOCAL_MACHINE, path, "View", v, type) == UTIL_OK ? v : 0;
    };
    put(KEY_WOW64_64KEY, 64);
    EXPECT_EQ(seen(OSTYPE_X64), 64u);
    EXPECT_EQ(seen(OSTYPE_X86), own == 64 ? 64u : 0u);
    put(KEY_WOW64_32KEY, 32);
    EXPECT_EQ(seen(OSTYPE_X86), own);
    EXPECT_EQ(LumenReg::DeleteRegKey(HKEY_LOCAL_MACHINE, path, OSTYPE_X86), UTIL_OK);
    EXPECT_EQ(LumenReg::DeleteRegKey(HKEY_LOCAL_MACHINE, path, OSTYPE_X86), UTIL_E_DELETEKEY);
    EXPECT_EQ(seen(OSTYPE_X64), 64u) << "the 64-bit view's key stays";
    EXPECT_EQ(LumenReg::DeleteRegKey(HKEY_LOCAL_MACHINE, path, OSTYPE_X64), UTIL_OK);
    EXPECT_EQ(seen(OSTYPE_X64), 0u);
}

}  // namespace
}  // namespace outlinkwatch
