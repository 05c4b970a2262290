// The Internet Explorer setting in the system's own registry (Wine's, in
// the cross build): written under this process's user key in HKEY_USERS,
// found through the user look-up and read back as the proxy reading does.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "fakes/recording_agent.h"
#include "lumenutil/registry.h"
#include "lumenutil/system_info.h"
#include "plugin/policy.h"
#include "proxy/deal_my_proxy.h"

namespace outlinkwatch {
namespace {

TEST(IERegistryWin32Test, WrittenUnderTheUsersKeyAndReadBack) {
    char image[MAX_PATH] = {0};
    ASSERT_GT(GetModuleFileNameA(nullptr, image, MAX_PATH), 0u);
    const std::string self = std::string(image).substr(std::string(image).find_last_of("\\/") + 1);
    std::string sid;
    ASSERT_EQ(lumenutil::LumenSystemInfo::GetCurrentUserSID(self, sid), lumenutil::UTIL_OK);
    const std::string key = CDealMyProxy::IESettingsPath(sid.c_str());
    using lumenutil::LumenReg;
    ASSERT_EQ(LumenReg::CreateRegKeyValue(HKEY_USERS, key, "ProxyEnable", 1u, lumenutil::OSTYPE_X86), lumenutil::UTIL_OK);
    ASSERT_EQ(LumenReg::CreateRegKeyValue(HKEY_USERS, key, "ProxyServer", "http=192.0.2.5:8080; https=192.0.2.6:443",
                                          false, lumenutil::OSTYPE_X86),
              lumenutil::UTIL_OK);
    RecordingAgent agent;
    {
        CPolicy policy;
        policy.SetAgent(&agent);
        CDealMyProxy proxy;
        EXPECT_EQ(proxy.IsIEProxyEnable(key, "ProxyEnable"), 1);
        std::list<ProxyRecord> records;
        std::list<ConnectAddrRecord> configured;
        std::list<uint32_t> addresses;
        EXPECT_EQ(proxy.GetIEProxyServer(key, "ProxyServer", records, configured, addresses), 1);
        std::string shown;
        for (const ProxyRecord& r : records) shown += r.strProtocol + r.strHost + "=" + r.strAddr + " ";
        EXPECT_EQ(shown, "http:192.0.2.5=192.0.2.5  https:192.0.2.6=192.0.2.6 ");
        EXPECT_EQ(addresses.size(), 2u);
    }
    EXPECT_EQ(LumenReg::DeleteRegKeyValue(HKEY_USERS, key, "ProxyServer", lumenutil::OSTYPE_X86), lumenutil::UTIL_OK);
    EXPECT_EQ(LumenReg::DeleteRegKeyValue(HKEY_USERS, key, "ProxyEnable", lumenutil::OSTYPE_X86), lumenutil::UTIL_OK);
}

}  // namespace
}  // namespace outlinkwatch
