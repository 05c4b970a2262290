// The probe's answer parsers, and the connection check over loopback
// servers on ports other than 80 (no root needed).
#include <gtest/gtest.h>

#include "fakes/loopback_server.h"
#include "fakes/policy_rig.h"
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
    } rows[] = {
        {"empty list", "", 1, false, false, 1, "", {"k"}, ""},
        {"first unreachable, second reached", "ro", 1, false, false, 1, "f0s1", {"127.0.0.1"}, "host1 reaches out"},
        {"only the first reachable one", "oo", 1, false, false, 1, "s0", {"127.0.0.1"}, "host0 reaches out"},
        {"none reachable", "rx", 1, false, false, 0, "f0f1", {}, ""},
        {"reported once", "o", 2, false, false, 1, "s0s0", {}, "host0 reaches out"},
        {"stop flag", "o", 1, true, false, 0, "T0", {}, ""},
        {"parameters pending", "o", 1, false, true, 0, "", {}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PolicyRig rig;
        CPolicy* policy = rig.policy.get();
        rig.agent.SetLangText("rsSuccess", " reaches out");
        std::vector<std::unique_ptr<LoopbackServer>> servers;
        std::vector<std::string> endpoints;
        for (char t : row.targets) {
            servers.push_back(std::make_unique<LoopbackServer>(Serve::Accept, "", 0, t == 'o'));
            const std::string port = t == 'x' ? "http" : std::to_string(servers.back()->port());
            const std::string host = "host" + std::to_string(endpoints.size());
            policy->m_settings.m_lstConnectAddr.push_back({"127.0.0.1", port, host, ""});
            endpoints.push_back("127.0.0.1:" + port);
        }
        policy->m_lstDenyAddr = {"k"};
        g_bExit = row.exitSet ? 1 : 0;
        policy->m_bParamsPending = row.pending ? 1 : 0;
        int result = -5;
        for (int i = 0; i < row.runs; ++i) result = policy->TCPCheckOutlink();
        g_bExit = 0;
        EXPECT_EQ(result, row.result);

        std::string logs;  // each check line as its letter and the target's index
        for (const LogLine& line : rig.agent.Logs()) {
            for (size_t i = 0; i < endpoints.size(); ++i) {
                for (const char* kind : {"fail:", "succ:", "Telnet:"}) {
                    if (line.text.find(kind + endpoints[i]) != std::string::npos) logs += kind[0] + std::to_string(i);
                }
            }
        }
        EXPECT_EQ(logs, row.logs);
        EXPECT_EQ(policy->m_lstDenyAddr, row.denied);
        EXPECT_EQ(policy->m_strConnInfo, row.info);
        for (auto& server : servers) EXPECT_EQ(server->received(), "") << "no bytes go to a port other than 80";
    }
}

}  // namespace
}  // namespace outlinkwatch
