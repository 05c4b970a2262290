// The ACE parts the connection probe stands on, in the library this build
// links (the system's on Linux, the static one in the Windows build): a
// connect with a time-out to a loopback server of the test's own, bytes
// out and an answer back, every step bounded.
#include <ace/ACE.h>
#include <ace/INET_Addr.h>
#include <ace/Init_ACE.h>
#include <ace/Message_Block.h>
#include <ace/SOCK_Connector.h>
#include <ace/SOCK_Stream.h>
#include <ace/Time_Value.h>
#include <gtest/gtest.h>

#include "fakes/loopback_server.h"

namespace outlinkwatch {
namespace {

TEST(AceLoopbackTest, ConnectWithTimeOutSendAndReadTheAnswer) {
    // ACE's object manager starts the sockets layer (WSAStartup on Windows).
    ASSERT_GE(ACE::init(), 0);
    {
        LoopbackServer server(Serve::Answer, "ok:ping");  // reads up to the blank line, then answers
        ASSERT_TRUE(server.ok());
        const ACE_Time_Value bound(5);
        ACE_Time_Value connectBound = bound;
        ACE_SOCK_Stream stream;
        ASSERT_EQ(ACE_SOCK_Connector().connect(stream, ACE_INET_Addr(server.port(), "127.0.0.1"), &connectBound), 0);
        ACE_Message_Block request(8);
        request.copy("ping\r\n\r\n", 8);
        EXPECT_EQ(stream.send_n(&request, &bound), 8);
        char answer[8] = {};
        EXPECT_EQ(stream.recv_n(answer, 7, &bound), 7);
        EXPECT_STREQ(answer, "ok:ping");
        stream.close();
        EXPECT_EQ(server.received(), "ping\r\n\r\n");
    }
    ACE::fini();
}

}  // namespace
}  // namespace outlinkwatch
