// Linux counterparts of the three Windows network services behind the OS
// seam: the adapter list, host-name resolution and the routing-table change
// notification. They return what the Windows calls return (error codes,
// address order) so that the shared code cannot tell the backends apart.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/os.h"

namespace outlinkwatch {
namespace linuxnet {

// Longest host name handed to the resolver, in bytes.
constexpr size_t kMaxHostNameLength = 255;

// gethostbyname over getaddrinfo (IPv4 only).
//
// addrs receives the addresses in network byte order, in resolver order,
// each address once (gethostbyname lists an address once, where getaddrinfo
// repeats it per socket type and per duplicate hosts-file line); at most
// kMaxAddrsPerHost of them. An IPv4 text resolves to itself without any
// query, in every form Windows' inet_addr takes ("127.0.0.1", "127.1",
// "0x7f.0.0.1"). Answers false, with addrs empty, for: an empty name, a name
// longer than kMaxHostNameLength bytes, a name holding NUL, a control
// character or white space, a name that is no address but ends in an
// all-numeric label ("1.2.3.4.5", "host.123": no host name does, so it is
// refused here rather than sent to a name server), and a name that does not
// resolve.
bool ResolveHostIPv4(const std::string& host, std::vector<uint32_t>* addrs);

// Whether one rtnetlink datagram of len bytes holds an IPv4 route added or
// removed (RTM_NEWROUTE/RTM_DELROUTE with rtm_family AF_INET), or an
// overrun report. Every header is bounds-checked against len; a truncated
// or malformed message ends the scan. buf must be aligned for nlmsghdr
// (false otherwise).
bool HoldsIPv4RouteChange(const void* buf, size_t len);

// NotifyRouteChange with an overlapped event, over rtnetlink.
//
// A watcher thread sleeps in poll without a time-out: it wakes for route
// messages and for its cancel descriptor only, so an idle policy costs no
// wake-ups here.
//
// Arm(event) opens a NETLINK_ROUTE socket subscribed to IPv4 route changes
// on the calling thread, so the request watches the caller's network
// namespace, and starts one watcher thread for it; it answers
// true. At the first IPv4 route added or removed (or when the
// kernel reports it dropped notifications, as a change may be among them)
// the watcher calls setEvent(event) once and ends: the request is used up
// and the next Arm starts a new one. Arm while a request for the same event
// is still pending reuses it (true). When no socket can be had, Arm
// answers false and starts nothing.
//
// Cancel(event) withdraws the pending request and joins its thread; it also
// waits out a setEvent call for that event already under way, so after
// Cancel returns no setEvent(event) comes from an earlier Arm. The watcher
// wakes at once on cancel, so the join takes about as long as a running
// setEvent call.
//
// setEvent runs on a watcher thread, without the watcher's lock held: it may
// call Arm and Cancel (re-arming from the callback is fine). Since Cancel
// waits for a running setEvent, setEvent must not wait for a lock that a
// caller holds around Cancel. The destructor cancels everything and joins
// every thread; it must not run from setEvent.
class RouteWatcher {
public:
    explicit RouteWatcher(std::function<bool(Handle)> setEvent);
    ~RouteWatcher();
    RouteWatcher(const RouteWatcher&) = delete;
    RouteWatcher& operator=(const RouteWatcher&) = delete;

    bool Arm(Handle event);
    void Cancel(Handle event);

private:
    struct Request;

    void Watch(Request* req);
    // Moves the requests whose threads have ended out of finished_ (lock held).
    void TakeExited(std::vector<std::unique_ptr<Request>>* out);
    static void Finish(std::vector<std::unique_ptr<Request>>* reqs);

    const std::function<bool(Handle)> setEvent_;
    std::mutex mu_;
    std::map<Handle, std::unique_ptr<Request>> pending_;
    // Requests that fired and whose threads still have to be joined.
    std::vector<std::unique_ptr<Request>> finished_;
};

}  // namespace linuxnet
}  // namespace outlinkwatch
