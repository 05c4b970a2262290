// Cost of one probe on the real backend: against a loopback port that
// refuses (both connection attempts fail at once), and, when something
// listens on 127.0.0.1:80 (bench/probe_vs_curl.sh runs it in a namespace
// with a web server), the whole HTTP exchange.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ace/INET_Addr.h>

#include "platform/os.h"
#include "probes/invalid_socket.h"

namespace {

void BM_ProbeRefusedPort(benchmark::State& state) {
    // Bound but not listening: the port refuses and stays ours.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        state.SkipWithError("no loopback port");
        return;
    }
    const ACE_INET_Addr target(ntohs(a.sin_port), "127.0.0.1", AF_INET);
    const std::list<std::string> images;
    for (auto _ : state) {
        if (CInvalidSocket(outlinkwatch::Os::Default()).connect(target, images) != PROBE_FAILED) {
            state.SkipWithError("the port did not refuse");
            break;
        }
    }
    close(fd);
}
BENCHMARK(BM_ProbeRefusedPort)->Unit(benchmark::kMicrosecond);

void BM_ProbeHttp80(benchmark::State& state) {
    const ACE_INET_Addr target(80, "127.0.0.1", AF_INET);
    const std::list<std::string> images{"192.0.2.1"};
    for (auto _ : state) {
        if (CInvalidSocket(outlinkwatch::Os::Default()).connect(target, images) != PROBE_CONNECTED) {
            state.SkipWithError("nothing answers on 127.0.0.1:80");
            break;
        }
    }
}
BENCHMARK(BM_ProbeHttp80)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
