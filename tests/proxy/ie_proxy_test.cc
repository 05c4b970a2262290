// The Internet Explorer proxy reading: the "ProxyServer" reader on text,
// and the whole reading over the fake registry and users.
#include <gtest/gtest.h>

#include "fakes/loopback_server.h"
#include "fakes/proxy_check_rig.h"
#include "proxy/deal_my_proxy.h"
#include "proxy/ie_proxy.h"

namespace outlinkwatch {
namespace {

TEST(ProxyServerTest, Table) {
    const struct {
        const char* raw;
        const char* records;  // "host|port|label " each
    } cases[] = {
        {"http=a:80; https=b:81", "a|80|http: b|81| https: "},
        {"proxy.local", ""},
        {"", ""},
        {"\r\n http = h : 8 ;\r\n", "h|8|http : "},
        {" \nhttp=h:8", "h|8|\nhttp: "},
        {"garbage;;x", "||: ||: "},
        {"a=b=c:1:2", "b=c|1:2|a: "},
        {"ftp=:21;socks=s", "|21|ftp: s||socks: "},
        {":8080", "|8080|PRO_ALL "},
        {"http=h:1;p:2", "h|1|http: p|2|PRO_ALL "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        std::list<ConnectAddrRecord> records;
        ParseProxyServer(c.raw, records);
        std::string summary;
        for (const auto& r : records) summary += r.strAddr + "|" + r.strPort + r.strHost + "|" + r.strSpare + " ";
        EXPECT_EQ(summary, c.records);
    }
}

constexpr const char* kSid = "S-1-5-21-7";
const std::string kKey = std::string(kSid) + "\\" + kIESettingsKey;

std::string Dword(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

TEST(IEProxyTest, Readings) {
    // Forty endpoints that refuse at once ahead of one that answers, in
    // some 860 bytes: every one is probed in the one reading.
    LoopbackServer closed(Serve::Accept, "", 0, false), live(Serve::Accept);
    std::string refused, refusedRecords;
    for (int i = 10; i < 50; ++i) {
        refused += "ftp=127.0.0." + std::to_string(i) + ":" + std::to_string(closed.port()) + ";";
        refusedRecords += "ftp:?127.0.0." + std::to_string(i) + " ";
    }
    refused += "http=127.0.0.1:" + std::to_string(live.port());
    const std::string liveLog = "Proxy Connect succ:127.0.0.1:" + std::to_string(live.port());
    const struct {
        const char* name;
        uint32_t enable;
        const char* server;  // null: no value
        const char* records;
        size_t addresses;
        const char* log;  // a line the reading wrote, at level 4
        int fails;   // "Proxy Connect fail:" lines
        int probes;  // each distinct endpoint once (fake.networkTimeouts)
        int read = 0;
    } cases[] = {
        {"one proxy for all", 1, "127.0.0.9:1", "ftp:127.0.0.9 http:127.0.0.9 https:127.0.0.9 gopher:127.0.0.9 socks:127.0.0.9 ",
         1, "Proxy Connect fail:127.0.0.9:1", 1, 1},
        {"two addresses, two protocols", 1, "http=p:1;https=p:1",
         "http:127.0.0.7 http:127.0.0.8 https:127.0.0.7 https:127.0.0.8 ", 4, "Proxy Connect fail:p:1", 2, 1},
        {"no port: recorded, not probed", 1, "http=p", "http:127.0.0.7 http:127.0.0.8 ", 2, "", 0, 0},
        {"switch at 2 is off", 2, "127.0.0.9:1", "", 0, "IE Proxy is Disable!", 0, 0},
        {"no server value", 1, nullptr, "", 0, "QueryRegKeyValue failed!", 0, 0},
        {"loopback only", 1, "lo:1", "", 0, "Get IE Proxy server info failed!", 0, 0},
        {"forty refusing ahead of a live one", 1, refused.c_str(), refusedRecords.c_str(), 40, liveLog.c_str(), 40, 41, 1},
        {"time up after a slow name", 1, "http=slow:1;https=127.0.0.9:2", "http:?127.0.0.6 ", 1,
         "Proxy not resolved, the time of the check is up:127.0.0.9", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProxyCheckRig rig;
        FakeOs& fake = rig.fake;
        fake.processes.push_back({"agentui.EXE", kSid, "alice", "/nonexistent"});
        fake.userKeys = {".DEFAULT", kSid};
        fake.resolutions["p"] = {"127.0.0.7", "127.0.0.8"};
        fake.resolutions["lo"] = {"127.0.0.1"};
        fake.resolutions["slow"] = {"127.0.0.6"};
        fake.resolveHook = [&fake](const std::string& host) { if (host == "slow") fake.AdvanceTime(kProxyBrowserShareMs); };
        fake.registry().PutValue(HKEY_USERS, kKey, "ProxyEnable", 4, Dword(c.enable));
        if (c.server != nullptr) fake.registry().PutValue(HKEY_USERS, kKey, "ProxyServer", 1, std::string(c.server) + '\0');
        ProxyCheck& check = rig.check;
        EXPECT_EQ(check.ReadIEProxy(), c.read) << "nothing listens on port 1 of these loopback addresses";
        EXPECT_EQ(check.m_strIEProxy, kKey);
        std::string records;
        for (const auto& r : check.m_lstIEProxy) {
            records += r.strProtocol + (r.strHost == "p" || r.strHost == "127.0.0.9" ? "" : "?") + r.strAddr + " ";
        }
        EXPECT_EQ(records, c.records);
        EXPECT_EQ(check.IEProxyIPs().size(), c.addresses);
        if (*c.log != '\0') { EXPECT_GE(rig.log.CountLogs(std::string("4:") + c.log), 1); }
        EXPECT_EQ(rig.log.CountLogs("Proxy Connect fail:"), c.fails);
        EXPECT_EQ(fake.networkTimeouts.load(), c.probes);
    }
}

}  // namespace
}  // namespace outlinkwatch
