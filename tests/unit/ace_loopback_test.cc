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

#include <future>
#include <string>

namespace {

const ACE_Time_Value kBound(5);

// Accepts one connection, reads four bytes and answers "ok:" and them.
std::string ServeOnce(ACE_SOCK_Acceptor* acceptor) {
    ACE_SOCK_Stream peer;
    ACE_Time_Value acceptBound = kBound;
    char request[4];
    if (acceptor->accept(peer, nullptr, &acceptBound) != 0) return "<accept failed>";
    if (peer.recv_n(request, sizeof request, &kBound) != static_cast<ssize_t>(sizeof request)) return "<recv failed>";
    const std::string seen(request, sizeof request), answer = "ok:" + seen;
    return peer.send_n(answer.data(), answer.size(), &kBound) == static_cast<ssize_t>(answer.size()) ? seen : "<send>";
}

TEST(AceLoopbackTest, ConnectWithTimeOutSendAndReadTheAnswer) {
    // ACE's object manager starts the sockets layer (WSAStartup on Windows).
    ASSERT_GE(ACE::init(), 0);
    ACE_SOCK_Acceptor acceptor;
    ACE_INET_Addr server;
    ASSERT_EQ(acceptor.open(ACE_INET_Addr(static_cast<u_short>(0), "127.0.0.1"), 1), 0);
    ASSERT_EQ(acceptor.get_local_addr(server), 0);
    std::future<std::string> served = std::async(std::launch::async, ServeOnce, &acceptor);

    ACE_SOCK_Stream stream;
    ACE_Time_Value connectBound = kBound;
    ASSERT_EQ(ACE_SOCK_Connector().connect(stream, server, &connectBound), 0) << server.get_port_number();
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
    ACE::fini();
}

}  // namespace
