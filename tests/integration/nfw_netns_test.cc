// The filter device end to end: the policy on the real Linux backend talks
// to the outlinkwatch-nfw stand-in, which applies the deny list and the
// network cut with nftables inside a network namespace the test made.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "fakes/recording_agent.h"
#include "fakes/test_netns.h"
#include "plugin/policy.h"

extern char** environ;

namespace outlinkwatch {
namespace {

// Lines of a child's output, each waited for with a bound.
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd) {}
    bool Next(std::string* line, int boundMs = 10000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
        for (;;) {
            const size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                *line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                   std::chrono::steady_clock::now());
            struct pollfd p = {fd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
            char chunk[256];
            const ssize_t n = read(fd_, chunk, sizeof(chunk));
            if (n <= 0) return false;
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

private:
    int fd_;
    std::string buffer_;
};

// A TCP connect from inside ns, bounded; true when it was accepted.
bool Connects(const TestNetns& ns, const char* address, uint16_t port) {
    bool connected = false;
    ns.RunInside([&] {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        struct sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, address, &to.sin_addr);
        if (connect(fd, reinterpret_cast<struct sockaddr*>(&to), sizeof(to)) == 0) {
            connected = true;
        } else if (errno == EINPROGRESS) {
            struct pollfd p = {fd, POLLOUT, 0};
            int error = -1;
            socklen_t len = sizeof(error);
            connected = poll(&p, 1, 1000) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
        }
        close(fd);
    });
    return connected;
}

TEST(NfwNetnsTest, DenyListAndCutAreAppliedInTheNamespace) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for network namespaces";
    if (!Shell("command -v ip") || !Shell("command -v nft")) GTEST_SKIP() << "needs the ip and nft tools";
    TestNetns client("nfwc"), server("nfws");
    ASSERT_TRUE(client.ok() && server.ok());
    ASSERT_TRUE(client.Ip("link add owc0 type veth peer name ows0 netns " + server.name()));
    ASSERT_TRUE(client.Ip("addr add 198.51.100.1/24 dev owc0") && client.Ip("link set owc0 up"));
    ASSERT_TRUE(server.Ip("addr add 198.51.100.2/24 dev ows0") && server.Ip("link set ows0 up"));

    // The listener lives in the server namespace; the test thread stays outside.
    int listener = -1;
    uint16_t port = 0;
    ASSERT_TRUE(server.RunInside([&] {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        struct sockaddr_in at = {};
        at.sin_family = AF_INET;
        inet_pton(AF_INET, "198.51.100.2", &at.sin_addr);
        socklen_t len = sizeof(at);
        if (bind(listener, reinterpret_cast<struct sockaddr*>(&at), sizeof(at)) == 0 && listen(listener, 64) == 0 &&
            getsockname(listener, reinterpret_cast<struct sockaddr*>(&at), &len) == 0) {
            port = ntohs(at.sin_port);
        }
    }));
    ASSERT_NE(port, 0);

    char dirTemplate[] = "/tmp/ow-nfw-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    ASSERT_EQ(setenv("OUTLINKWATCH_DEVICE_DIR", dir.c_str(), 1), 0);

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string netnsName = client.name(), nfwPath = OW_NFW_PATH;
    std::vector<char*> argv = {const_cast<char*>("ip"), const_cast<char*>("netns"), const_cast<char*>("exec"),
                               &netnsName[0], &nfwPath[0], nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawnp(&pid, "ip", &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    LineReader lines(out[0]);
    std::string line;
    ASSERT_TRUE(lines.Next(&line));
    EXPECT_EQ(line, "listening on " + dir + "/nfw");

    EXPECT_TRUE(Connects(client, "198.51.100.2", port)) << "open before any command";
    {
        RecordingAgent agent;
        CPolicy policy;
        policy.SetAgent(&agent);
        policy.m_lstDenyAddr = {"198.51.100.2", "192.0.2.77"};
        EXPECT_NE(policy.DenyProxySerer(), 0);
        ASSERT_TRUE(lines.Next(&line));
        EXPECT_EQ(line, "deny: 198.51.100.2, 192.0.2.77");
        EXPECT_FALSE(Connects(client, "198.51.100.2", port)) << "denied";

        EXPECT_NE(policy.EnableProxy(), 0);
        ASSERT_TRUE(lines.Next(&line));
        EXPECT_EQ(line, "deny list lifted");
        EXPECT_TRUE(Connects(client, "198.51.100.2", port)) << "lifted";

        EXPECT_NE(policy.BlockNetwork(), 0);
        ASSERT_TRUE(lines.Next(&line));
        EXPECT_EQ(line, "network cut");
        EXPECT_FALSE(Connects(client, "198.51.100.2", port)) << "cut";
        EXPECT_TRUE(Shell("ip netns exec " + client.name() + " nft list table inet outlinkwatch"));
    }  // the destructor lifts the deny list once more
    ASSERT_TRUE(lines.Next(&line));
    EXPECT_EQ(line, "deny list lifted");

    kill(pid, SIGTERM);
    ASSERT_TRUE(lines.Next(&line));
    EXPECT_EQ(line, "stopping on SIGTERM");
    EXPECT_FALSE(lines.Next(&line)) << "output ends: " << line;
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(access((dir + "/nfw").c_str(), F_OK), -1) << "socket removed";
    EXPECT_FALSE(Shell("ip netns exec " + client.name() + " nft list table inet outlinkwatch")) << "rules removed";
    EXPECT_TRUE(Connects(client, "198.51.100.2", port)) << "open again";

    close(out[0]);
    close(listener);
    unsetenv("OUTLINKWATCH_DEVICE_DIR");
    rmdir(dir.c_str());
}

}  // namespace
}  // namespace outlinkwatch
