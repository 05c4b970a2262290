// The filter device end to end: the policy on the real Linux backend talks
// to the outlinkwatch-nfw stand-in, which applies the deny list and the
// network cut with nftables inside a network namespace the test made.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>
#include <functional>

#include "fakes/other_user.h"
#include "fakes/recording_agent.h"
#include "fakes/recording_sink.h"
#include "fakes/scoped_env.h"
#include "fakes/temp_dir.h"
#include "fakes/test_netns.h"
#include "nfw/nfw_frame.h"
#include "outlinkwatch/plugin.h"
#include "reaction/reactor.h"

namespace outlinkwatch {
namespace {

// The next line of a child's output, waited for with a bound.
bool NextLine(int fd, std::string* buffer, std::string* line) {
    for (size_t end; (end = buffer->find('\n')) == std::string::npos;) {
        struct pollfd p = {fd, POLLIN, 0};
        char chunk[256];
        const ssize_t n = poll(&p, 1, 10000) == 1 ? read(fd, chunk, sizeof(chunk)) : -1;
        if (n <= 0) return false;
        buffer->append(chunk, static_cast<size_t>(n));
    }
    *line = buffer->substr(0, buffer->find('\n'));
    buffer->erase(0, line->size() + 1);
    return true;
}

sockaddr_in Peer(uint16_t port) { return {AF_INET, htons(port), {inet_addr("198.51.100.2")}, {}}; }

// A TCP connect from inside ns to the peer, bounded; true when accepted.
bool Connects(const TestNetns& ns, uint16_t port) {
    bool connected = false;
    ns.RunInside([&] {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const sockaddr_in to = Peer(port);
        struct pollfd p = {fd, POLLOUT, 0};
        int error = -1;
        socklen_t len = sizeof(error);
        connected = connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof(to)) != 0 && errno == EINPROGRESS &&
                    poll(&p, 1, 1000) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
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
        sockaddr_in at = Peer(0);
        socklen_t len = sizeof(at);
        if (bind(listener, reinterpret_cast<sockaddr*>(&at), len) == 0 && listen(listener, 64) == 0 &&
            getsockname(listener, reinterpret_cast<sockaddr*>(&at), &len) == 0) {
            port = ntohs(at.sin_port);
        }
    }));
    ASSERT_NE(port, 0);

    TempDir dir;
    const ScopedEnv devices("OUTLINKWATCH_DEVICE_DIR", dir.path());
    // The stand-in, applying rules in the client namespace.
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    const std::string netns = client.name();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        execlp("ip", "ip", "netns", "exec", netns.c_str(), OW_NFW_PATH, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string buffer, line;
    auto next = [&] { return NextLine(out[0], &buffer, &line); };
    ASSERT_TRUE(next());
    EXPECT_EQ(line, "listening on " + dir.path() + "/nfw");
    EXPECT_TRUE(Connects(client, port)) << "open before any command";

    const struct {
        std::function<int(Reactor&)> op;
        const char* line;
        bool open;
    } steps[] = {
        {[](Reactor& r) { return r.DenyProxySerer({"198.51.100.2", "192.0.2.77"}); }, "deny: 198.51.100.2, 192.0.2.77",
         false},
        {[](Reactor& r) { return r.EnableProxy(); }, "deny list lifted", true},
        {[](Reactor& r) { return r.BlockNetwork(); }, "network cut", false},
    };
    {
        RecordingSink sink;
        Reactor reactor(Os::Default(), &sink, nullptr, "policy.win.outlink.watch");  // the commands ask no agent
        for (const auto& step : steps) {
            SCOPED_TRACE(step.line);
            EXPECT_NE(step.op(reactor), 0);
            ASSERT_TRUE(next());
            EXPECT_EQ(line, step.line);
            EXPECT_EQ(Connects(client, port), step.open);
        }
    }
    {
        RecordingAgent agent;
        IPolicy* policy = CreateObject("IPolicy", nullptr, nullptr);
        ASSERT_NE(policy, nullptr);
        policy->SetAgent(&agent);
        EXPECT_EQ(policy->Release(), 0u);  // the policy lifts the deny list once more on its way out; the cut stays
    }
    ASSERT_TRUE(next());
    EXPECT_EQ(line, "deny list lifted");
    EXPECT_FALSE(Connects(client, port));

    kill(pid, SIGTERM);
    ASSERT_TRUE(next());
    EXPECT_EQ(line, "stopping on SIGTERM");
    EXPECT_FALSE(next()) << "output ends: " << line;
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(access((dir.path() + "/nfw").c_str(), F_OK), -1) << "socket removed";
    EXPECT_TRUE(Connects(client, port)) << "its table went with it";

    close(out[0]);
    close(listener);
}

// The device is the plug-in's user's alone. Another user cannot reach the
// socket; where its mode lets them through (a umask of 0), the stand-in
// refuses and reports them; and a socket of theirs in the device's place is
// no device to the plug-in.
TEST(NfwNetnsTest, AnotherUserIsRefused) {
    OW_SKIP_UNLESS_ROOT();
    TempDir dir;
    const std::string path = dir.path() + "/nfw";
    sockaddr_un at = {AF_UNIX, {}};
    path.copy(at.sun_path, sizeof(at.sun_path) - 1);
    auto* to = reinterpret_cast<sockaddr*>(&at);
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1), dup2(out[1], 2);
        execl(OW_NFW_PATH, OW_NFW_PATH, "--dry-run", "--device-dir", dir.path().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string buffer, line;
    ASSERT_TRUE(NextLine(out[0], &buffer, &line));
    // 1: the socket refused them; 2: the stand-in did; 3: their deny list was applied.
    auto deny = [&] {
        return AsOtherUser([&] {
            const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            const std::vector<uint8_t> frame = nfw::EncodeFrame(nfw::kSetDenyList, "\x01\x02\x00\x0a", 4);
            uint8_t answer[4] = {0};
            if (connect(fd, to, sizeof(at)) != 0) return 1;
            send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
            return recv(fd, answer, 4, MSG_WAITALL) == 4 && nfw::GetU32(answer) != 0 ? 3 : 2;
        });
    };
    EXPECT_EQ(deny(), 1);
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    EXPECT_EQ(deny(), 2);
    ASSERT_TRUE(NextLine(out[0], &buffer, &line));
    EXPECT_EQ(line.rfind("outlinkwatch-nfw: refused connection from uid 65534 (pid ", 0), 0u) << line;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    close(out[0]);

    const int fake = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 01777), 0);
    ASSERT_EQ(AsOtherUser([&] { return bind(fake, to, sizeof(at)) + listen(fake, 1); }), 0);
    const ScopedEnv devices("OUTLINKWATCH_DEVICE_DIR", dir.path());
    DeviceHandle device;
    EXPECT_FALSE(Os::Default()->Device()->OpenDevice("\\\\.\\nfw", kOpenExisting, &device)) << "their socket is no device";
    close(fake);
}

}  // namespace
}  // namespace outlinkwatch
