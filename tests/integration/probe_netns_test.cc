// The probe against hostile web servers. They need port 80 and so run
// inside a network namespace the test makes (root only); the other ports
// are covered by the connection check's table. The fake Os shortens the
// probe's network time-outs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ace/INET_Addr.h>

#include "fakes/fake_os.h"
#include "fakes/loopback_server.h"
#include "fakes/recording_agent.h"
#include "fakes/test_netns.h"
#include "plugin/policy.h"
#include "probes/invalid_socket.h"

namespace outlinkwatch {
namespace {

constexpr const char* kRequest =
    "GET / HTTP/1.1\r\nAccept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\nAccept-Language: zh-cn\r\n"
    "Accept-Encoding: gzip, deflate\r\nUserAgent: Orvex\r\nHost: 127.0.0.1\r\nConnection: Keep-Alive\r\n\r\n";

std::string Redirect(const char* status, const char* location) {
    return std::string("HTTP/1.1 ") + status + " Moved\r\nLocation: " + location + "\r\n\r\n";
}

struct Row {
    const char* name;
    Serve serve;
    std::string answer;
    int result;
    const char* log = nullptr;  // a line the probe must have written
};

const Row kRows[] = {
    {"200", Serve::Answer, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", PROBE_CONNECTED, "***successful ***"},
    {"301 to an image host", Serve::Answer, Redirect("301", "http://127.0.0.2/x"), PROBE_REDIRECTED},
    {"302 to an image host with a port", Serve::Answer, Redirect("302", "http://127.0.0.2:8080/"), PROBE_REDIRECTED},
    {"307 elsewhere", Serve::Answer, Redirect("307", "http://127.0.0.3/"), PROBE_CONNECTED,
     "The IP does not belong to the image IP aggregation."},
    {"302 to 127.0.0.1", Serve::Answer, Redirect("302", "http://127.0.0.1/"), PROBE_CONNECTED},
    {"302 to a name that does not resolve", Serve::Answer, Redirect("302", "http://nowhere.invalid/"),
     PROBE_REDIRECTED},
    {"303", Serve::Answer, Redirect("303", "http://127.0.0.2/"), PROBE_CONNECTED},
    {"308", Serve::Answer, Redirect("308", "http://127.0.0.2/"), PROBE_CONNECTED},
    {"https", Serve::Answer, Redirect("302", "https://127.0.0.3/"), PROBE_REDIRECTED},
    {"never answers", Serve::Silent, "", PROBE_CONNECTED, "The HTTP connection response code is : -1"},
    {"1 GB body", Serve::Flood, "HTTP/1.1 302 Found\r\nContent-Length: 1073741824\r\nLocation: http://127.0.0.2/\r\n\r\n",
     PROBE_REDIRECTED},
    {"garbage", Serve::Answer, std::string("\x16\x03\x01\0\xff HTTP/1.1 302 \r\n", 21), PROBE_CONNECTED},
    {"closes at once", Serve::CloseAtOnce, "", PROBE_CONNECTED},
    {"slow drip", Serve::Drip, Redirect("302", "http://127.0.0.2/"), PROBE_CONNECTED,
     "The HTTP connection response code is : 1"},
};

class ProbeServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = SetOsForTesting(&os_);
        os_.SetNetworkTimeScale(40);  // 200 ms a connect attempt, 125 ms a send or receive
        policy_ = std::make_unique<CPolicy>();
        policy_->SetAgent(&agent_);
    }
    void TearDown() override {
        policy_.reset();
        SetOsForTesting(previous_);
    }
    int Probe(const char* ip, uint16_t port) {
        return CInvalidSocket(policy_->os()).connect(ACE_INET_Addr(port, ip, AF_INET), images_);
    }

    FakeOs os_;
    Os* previous_ = nullptr;
    RecordingAgent agent_;
    std::unique_ptr<CPolicy> policy_;
    std::list<std::string> images_{"192.0.2.1", " 127.0.0.2\r\n"};
};

TEST_F(ProbeServerTest, HttpRowsOnPort80InANamespace) {
    if (geteuid() != 0 || !Shell("ip -V")) GTEST_SKIP() << "needs root and the ip tool";
    TestNetns ns("probe");
    ASSERT_TRUE(ns.ok());
    // Packets to 198.51.100.2 go to a MAC address nobody has: a connect that never completes.
    ASSERT_TRUE(ns.Ip("link add ow0 type veth peer name ow1") && ns.Ip("addr add 198.51.100.1/24 dev ow0") &&
                ns.Ip("link set ow0 up") && ns.Ip("link set ow1 up") &&
                ns.Ip("neigh add 198.51.100.2 lladdr 02:00:00:00:00:02 dev ow0"));
    ASSERT_TRUE(ns.RunInside([&] {
        for (const Row& row : kRows) {
            SCOPED_TRACE(row.name);
            const int logsBefore = static_cast<int>(agent_.Logs().size());
            LoopbackServer server(row.serve, row.answer, 80);
            ASSERT_TRUE(server.ok());
            EXPECT_EQ(Probe("127.0.0.1", 80), row.result);
            const std::string request = server.received();
            if (row.serve != Serve::CloseAtOnce) {
                EXPECT_EQ(request, kRequest);
            }
            const std::vector<LogLine> logs = agent_.Logs();
            bool logged = row.log == nullptr;
            for (size_t i = logsBefore; i < logs.size() && !logged; ++i) logged = logs[i].text.find(row.log) != std::string::npos;
            EXPECT_TRUE(logged) << row.log;
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Probe("198.51.100.2", 80), PROBE_FAILED);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "time-outs compressed";
    }));
}

}  // namespace
}  // namespace outlinkwatch
