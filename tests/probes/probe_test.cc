// The probe's answer parsers, and the connection check over loopback
// servers on ports other than 80 (no root needed).
#include <gtest/gtest.h>

#include "fakes/loopback_server.h"
#include "fakes/conn_check_rig.h"
#include "platform/adapter_query.h"
#include "probes/invalid_socket.h"

namespace outlinkwatch {
namespace {

TEST(ProbeParseTest, ResponseCode) {
    const std::string longLine = "HTTP/1.1 200 " + std::string(242, 'a');  // 255 bytes
    struct Row { std::string answer; int code; std::string text; } rows[] = {
        {"HTTP/1.1    307   Temporary\r\n", 307, "307"},
        {"HTTP/1.1 30x2 Odd\r\n", 30, "30x2"},
        {"HTTP/1.1 abc Odd\r\n", 0, "abc"},
        {"HTTP/1.1 " + std::string(31, '9') + " Big\r\n", INT32_MAX, std::string(31, '9')},
        {"HTTP/1.1 " + std::string(32, '9') + " Big\r\n", -1, ""},
        {longLine + "\r\n", 200, "200"},
        {longLine + "a\r\n", -1, ""},
        {"HTTP/1.1 302\r\n", -1, ""},
        {"HTTP/1.1 302 Found", -1, ""},
        {"HTTP/1.1\r\n302 x \r\n", -1, ""},
        {"HTTP/1.1   \r\n", -1, ""},
        {std::string("HTTP/1.1 302 Found\0\r\n", 21), -1, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer.substr(0, 40));
        std::string text;
        EXPECT_EQ(ParseResponseCode(row.answer.data(), row.answer.size(), &text), row.code);
        EXPECT_EQ(text, row.text);
    }
}

TEST(ProbeParseTest, LocationHost) {
    struct Row { std::string answer; std::string host; } rows[] = {
        {"HTTP/1.1 302 Found\r\nlocation:http://127.0.0.2:8080/x\r\n", "127.0.0.2"},
        {"Location: h t t p : / / a b c\r\n", "ABC"},
        {"Location: https://secure.example/\r\n", ""},
        {"Location: http://\r\n", ""},
        {"Location: ftp\r\n", ""},
        {"Location: http://no.line.end", ""},
        {"X: 1\r\n\r\nbody LoCaTiOn: http://b:1/\r\nLocation: http://second/\r\n", "B"},
        {std::string("X: 1\0Location: http://a/\r\n", 26), ""},
        {std::string(1003, 'x') + "Location: http://cut/\r\n", ""},
        {"HTTP/1.1 200 OK\r\n\r\n", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer.substr(0, 40));
        EXPECT_EQ(ParseLocationHost(row.answer.data(), row.answer.size()), row.host);
    }
}

// Targets: 'o' a listening port, 'r' a refusing one, 'x' a port text that is no number.
TEST(ConnCheckTest, Table) {
    struct Row {
        const char* name;
        std::string targets;
        int runs;
        bool exitSet, pending;
        int result;
        std::string logs;  // f/s/T and the target's index, in order
        std::list<std::string> denied;  // {"k"}: left as it was
        const char* info;    // the last reported finding
        size_t reports;  // each reacted to with the reached server to deny
    } rows[] = {
        {"empty list", "", 1, false, false, 1, "", {"k"}, "", 0},
        {"first unreachable, second reached", "ro", 1, false, false, 1, "f0s1", {"127.0.0.1"}, "host1 reaches out", 1},
        {"only the first reachable one", "oo", 1, false, false, 1, "s0", {"127.0.0.1"}, "host0 reaches out", 1},
        {"none reachable", "rx", 1, false, false, 0, "f0f1", {}, "", 0},
        {"reported once", "o", 2, false, false, 1, "s0s0", {}, "host0 reaches out", 1},
        {"stop flag", "o", 1, true, false, 0, "T0", {}, "", 0},
        {"parameters pending", "o", 1, false, true, 0, "", {}, "", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ConnCheckRig rig;
        rig.texts["rsSuccess"] = " reaches out";
        std::vector<std::unique_ptr<LoopbackServer>> servers;
        std::vector<std::string> endpoints;
        for (char t : row.targets) {
            servers.push_back(std::make_unique<LoopbackServer>(Serve::Accept, "", 0, t == 'o'));
            const std::string port = t == 'x' ? "http" : std::to_string(servers.back()->port());
            const std::string host = "host" + std::to_string(endpoints.size());
            rig.settings.m_lstConnectAddr.push_back({"127.0.0.1", port, host, ""});
            endpoints.push_back("127.0.0.1:" + port);
        }
        rig.check.DenyAddrsForTesting() = {"k"};
        rig.exiting = row.exitSet ? 1 : 0;
        rig.pending = row.pending ? 1 : 0;
        int result = -5;
        for (int i = 0; i < row.runs; ++i) result = rig.check.TCPCheckOutlink(rig.settings);
        EXPECT_EQ(result, row.result);

        std::string logs;  // each check line as its letter and the target's index
        for (const std::string& line : rig.sink.tagged) {
            for (size_t i = 0; i < endpoints.size(); ++i) {
                for (const char* kind : {"fail:", "succ:", "Telnet:"}) {
                    if (line.find(kind + endpoints[i]) != std::string::npos) logs += kind[0] + std::to_string(i);
                }
            }
        }
        EXPECT_EQ(logs, row.logs);
        EXPECT_EQ(rig.check.DenyAddrs(), row.denied);
        EXPECT_EQ(rig.check.ConnInfo(), row.info);
        EXPECT_EQ(rig.reactions, std::vector<std::string>(row.reports, "conn 127.0.0.1"));
        const std::string finding = std::string(row.info) + "|3|\x02" + std::string(row.info).substr(0, 5);
        EXPECT_EQ(rig.findings, std::vector<std::string>(row.reports, finding));
        for (auto& server : servers) EXPECT_EQ(server->received(), "") << "no bytes go to a port other than 80";
    }
}

// The adapter rows: what the size protocol makes of each adapter list, for
// the active-network check (its lines, at level 2, and its answer) and for
// the local address list, which neither logs nor asks a third time.
TEST(AdapterQueryTest, ActiveNetworkAndLocalAddresses) {
    const AdapterInfo usable{"eth", {"192.0.2.10"}}, empty{"eth0", {"0.0.0.0"}};
    const uint32_t kUsable = 0xC000020Au;
    const struct {
        const char* name;
        std::vector<AdapterInfo> adapters;
        size_t growBy;
        uint32_t error;
        std::vector<std::string> lines;  // the active-network check's, in order
        int active;
        std::list<uint32_t> local;
    } rows[] = {
        {"steady", {empty, usable}, 0, 0, {"1280"}, 1, {0, kUsable}},
        {"one more fits the spare record", {usable}, 1, 0, {"640"}, 1, {kUsable, 0}},
        {"grows by two", {usable}, 2, 0, {"1920", "ERROR_BUFFER_OVERFLOW ", "2560"}, 1, {}},
        {"too large to hold", std::vector<AdapterInfo>(30000, usable), 0, 0, {"pAdapterListBuffer == NULL!"}, 0, {}},
        {"loopback and empty", {{"lo", {"127.0.0.1"}}, empty}, 0, 0, {"1280", "return FALSE;"}, 0, {0x7F000001u, 0}},
        {"no adapters", {}, 0, 0, {"GetAdaptersInfo size error!"}, 0, {}},
        {"query fails", {usable}, 0, 31, {"GetAdaptersInfo size error!"}, 0, {}},
        {"no address but 0.0.0.0 and loopback", {{"lo", {"127.0.0.2"}}}, 0, 0, {"640"}, 1, {0x7F000002u}},
        {"a usable address behind 0.0.0.0", {{"eth0", {"0.0.0.0", "10.1.2.3"}}, {"eth1", {}}}, 0, 0, {"1280"}, 1,
         {0, 0x0A010203u}},
        {"an adapter without addresses", {{"eth1", {}}}, 0, 0, {"640", "return FALSE;"}, 0, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ConnCheckRig rig;
        rig.fake.adapters = row.adapters;
        rig.fake.growBy.assign(row.growBy, AdapterInfo{"new", {"0.0.0.0"}});
        rig.fake.adapterError = row.error;
        EXPECT_EQ(rig.check.IsActivedNetwork(), row.active);
        EXPECT_EQ(rig.sink.tagged, ConnCheckRig::Lines("CPolicy::IsActivedNetwork", row.lines));

        rig.fake.adapters = row.adapters;
        rig.fake.growBy.assign(row.growBy, AdapterInfo{"new", {"0.0.0.0"}});
        std::vector<AdapterInfo> got{{"stale", {"192.0.2.1"}}};  // none left after a failed read
        const bool read = ReadAdapterList(&rig.fake, AdapterSizeProtocol::kAskTwice, nullptr, nullptr, &got);
        std::list<uint32_t> local;
        for (const AdapterInfo& a : got) {
            for (const std::string& ip : a.ipv4) local.push_back(HostFromNet(InetAddr(ip)));
        }
        EXPECT_EQ(local, row.local);
        EXPECT_EQ(read, row.error == 0 && !row.adapters.empty() && row.growBy < 2 && row.adapters.size() < 30000);
    }
}

}  // namespace
}  // namespace outlinkwatch
