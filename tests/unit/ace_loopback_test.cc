// The ACE parts the connection probe stands on, in the library this build
// links (the system's on Linux, the static one in the Windows build): a
// connect with a time-out to a loopback server of the test's own, bytes
// out and an answer back, every step bounded.
#include <ace/ACE.h>
#include <ace/INET_Addr.h>
#include <ace/Init_ACE.h>
#include <ace/Message_Block.h>
#include <ace/SOCK_Acceptor.h>
#include <ace/SOCK_Connector.h>
#include <ace/SOCK_Stream.h>
#include <ace/Time_Value.h>
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <string>

namespace {

const ACE_Time_Value kBound(5);

// Accepts one connection, reads four bytes and answers them with "ok:"
// in front. Returns what it read, or a text that says where it stopped.
std::string ServeOnce(ACE_SOCK_Acceptor* acceptor) {
    ACE_SOCK_Stream peer;
    ACE_Time_Value acceptBound = kBound;
    if (acceptor->accept(peer, nullptr, &acceptBound) != 0) return "<accept failed>";
    char request[4];
    std::string seen = "<recv failed>";
    if (peer.recv_n(request, sizeof request, &kBound) == static_cast<ssize_t>(sizeof request)) {
        seen.assign(request, sizeof request);
        const std::string answer = "ok:" + seen;
        if (peer.send_n(answer.data(), answer.size(), &kBound) != static_cast<ssize_t>(answer.size()))
            seen = "<send failed>";
    }
    peer.close();
    return seen;
}

class AceLoopbackTest : public ::testing::Test {
protected:
    // Starts ACE's object manager and with it the sockets layer (WSAStartup
    // on Windows); 1 means it was running already. Paired with fini, which
    // ends it only on the last call.
    static void SetUpTestSuite() { ASSERT_GE(ACE::init(), 0) << "ACE::init"; }
    static void TearDownTestSuite() { ACE::fini(); }
};

TEST_F(AceLoopbackTest, ConnectWithTimeOutSendAndReadTheAnswer) {
    ACE_SOCK_Acceptor acceptor;
    ACE_INET_Addr listenOn(static_cast<u_short>(0), "127.0.0.1");
    ASSERT_EQ(acceptor.open(listenOn, 1), 0);
    ACE_INET_Addr server;
    ASSERT_EQ(acceptor.get_local_addr(server), 0);
    ASSERT_NE(server.get_port_number(), 0);
    std::future<std::string> served = std::async(std::launch::async, ServeOnce, &acceptor);

    ACE_SOCK_Connector connector;
    ACE_SOCK_Stream stream;
    ACE_Time_Value connectBound = kBound;
    ASSERT_EQ(connector.connect(stream, server, &connectBound), 0) << "connect to port " << server.get_port_number();

    ACE_Message_Block request(4);
    request.copy("ping", 4);
    EXPECT_EQ(stream.send_n(&request, &kBound), 4);
    char answer[8] = {};
    EXPECT_EQ(stream.recv_n(answer, 7, &kBound), 7);
    EXPECT_STREQ(answer, "ok:ping");
    stream.close();

    ASSERT_EQ(served.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(served.get(), "ping");
    acceptor.close();
}

}  // namespace
