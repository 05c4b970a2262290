// The proxy check on a fake OS of its own, which is the process-wide seam
// while the rig lives, with a recording sink and reporter.
#pragma once

#include <atomic>

#include "fakes/fake_os.h"
#include "fakes/recording_sink.h"
#include "proxy/proxy_check.h"

// The probe the check uses polls the library's stop flag, which the end of
// an earlier policy leaves set.
extern std::atomic<int32_t> g_bExit;

namespace outlinkwatch {

struct ProxyCheckRig {
    ProxyCheckRig() { g_bExit.store(0); }
    ~ProxyCheckRig() {
        SetOsForTesting(previous);
        EXPECT_EQ(fake.BadCloses(), 0);
    }
    int Task() { return check.CheckProxyConfig([] {}, [] {}); }
    FakeOs fake;
    Os* previous = SetOsForTesting(&fake);
    RecordingSink log;
    RecordingReporter reporter;
    PolicySettings settings;
    std::atomic<int32_t> exiting{0}, pending{0};
    ProxyCheck check{&fake, &log, StopToken(exiting, pending), settings, reporter};
};

}  // namespace outlinkwatch
