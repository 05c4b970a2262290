#include "platform/linux/net_linux.h"

#include "base/address_text.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

namespace outlinkwatch {
namespace linuxnet {

namespace {

struct AddrInfoDeleter {
    void operator()(addrinfo* p) const { freeaddrinfo(p); }
};

// Whether the name ends in an all-numeric or empty label ("1.2.3.4.5",
// "host.123", "host.."): no host name does, as a top-level label always
// holds a letter, so such a text is an address or nothing and a name
// server need not be asked.
bool LooksNumeric(std::string_view host) {
    if (!host.empty() && host.back() == '.') host.remove_suffix(1);
    // The whole text when it has no dot (npos + 1 is 0).
    const std::string_view last = host.substr(host.rfind('.') + 1);
    return last.find_first_not_of("0123456789") == std::string_view::npos;
}

void AddOnce(std::vector<uint32_t>* addrs, uint32_t a) {
    if (addrs->size() >= kMaxAddrsPerHost) return;
    if (std::find(addrs->begin(), addrs->end(), a) == addrs->end()) addrs->push_back(a);
}

// getaddrinfo for IPv4, each address once, at most kMaxAddrsPerHost.
bool Lookup(const std::string& host, int flags, std::vector<uint32_t>* addrs) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    // One socket type, otherwise every address comes back once per type.
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* raw = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &raw) != 0) return false;
    std::unique_ptr<addrinfo, AddrInfoDeleter> res(raw);
    for (const addrinfo* ai = res.get(); ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET || ai->ai_addr == nullptr || ai->ai_addrlen < sizeof(sockaddr_in))
            continue;
        sockaddr_in sin;
        std::memcpy(&sin, ai->ai_addr, sizeof sin);
        AddOnce(addrs, sin.sin_addr.s_addr);
    }
    return true;
}

void CloseFd(int* fd) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
}

}  // namespace

bool ResolveHostIPv4(const std::string& host, std::vector<uint32_t>* addrs) {
    if (addrs == nullptr) return false;
    addrs->clear();
    if (host.empty() || host.size() > kMaxHostNameLength) return false;
    for (unsigned char c : host) {
        if (c <= 0x20 || c == 0x7f) return false;  // NUL, controls, space
    }

    // A dotted address, or one of the short forms inet_addr takes ("127.1",
    // "0x7f.0.0.1"), without a query.
    if (Lookup(host, AI_NUMERICHOST, addrs)) return !addrs->empty();
    if (LooksNumeric(host)) return false;
    return Lookup(host, 0, addrs) && !addrs->empty();
}

bool HoldsIPv4RouteChange(const void* buf, size_t len) {
    if (buf == nullptr || reinterpret_cast<uintptr_t>(buf) % alignof(nlmsghdr) != 0) return false;
    // The header walk of NLMSG_OK/NLMSG_NEXT, written out with sizes in
    // size_t so that no signed length is compared with an unsigned one.
    const char* p = static_cast<const char*>(buf);
    size_t remaining = len;
    while (remaining >= sizeof(nlmsghdr)) {
        nlmsghdr nh;
        std::memcpy(&nh, p, sizeof nh);
        if (nh.nlmsg_len < sizeof(nlmsghdr) || nh.nlmsg_len > remaining) break;
        if (nh.nlmsg_type == NLMSG_OVERRUN) return true;
        if ((nh.nlmsg_type == RTM_NEWROUTE || nh.nlmsg_type == RTM_DELROUTE) &&
            nh.nlmsg_len >= NLMSG_LENGTH(sizeof(rtmsg))) {
            rtmsg rt;
            std::memcpy(&rt, p + NLMSG_HDRLEN, sizeof rt);
            if (rt.rtm_family == AF_INET) return true;
        }
        // The last message's padding may reach past the datagram's end.
        const size_t step = std::min<size_t>(NLMSG_ALIGN(nh.nlmsg_len), remaining);
        p += step;
        remaining -= step;
    }
    return false;
}

struct RouteWatcher::Request {
    Handle event = nullptr;
    int sock = -1;
    int wake = -1;  // eventfd that cuts the watcher's wait short on cancel
    std::atomic<bool> cancelled{false};
    std::atomic<bool> exited{false};  // the watcher will not touch this request again
    std::thread thread;

    ~Request() {
        CloseFd(&sock);
        CloseFd(&wake);
    }

    // Any count on the eventfd wakes the watcher; the flag tells it why.
    void Cancel() {
        cancelled = true;
        const uint64_t one = 1;
        // Cannot fail short of a full counter; the flag is set anyway.
        [[maybe_unused]] const ssize_t written = write(wake, &one, sizeof one);
    }
};

RouteWatcher::RouteWatcher(std::function<bool(Handle)> setEvent) : setEvent_(std::move(setEvent)) {}

RouteWatcher::~RouteWatcher() {
    std::vector<std::unique_ptr<Request>> all;
    {
        // The maps go with this object; a cancelled watcher no longer looks
        // at them, so they keep only the emptied places.
        std::lock_guard<std::mutex> lock(mu_);
        for (auto& kv : pending_) {
            kv.second->Cancel();
            all.push_back(std::move(kv.second));
        }
        for (auto& r : finished_) all.push_back(std::move(r));
    }
    Finish(&all);
}

bool RouteWatcher::Arm(Handle event) {
    std::vector<std::unique_ptr<Request>> reap;
    bool armed = true;
    {
        std::lock_guard<std::mutex> lock(mu_);
        TakeExited(&reap);
        if (pending_.count(event) == 0) {
            auto req = std::make_unique<Request>();
            req->event = event;
            // Opened here, on the caller's thread, so that the socket lives in
            // the caller's network namespace.
            req->sock = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
            sockaddr_nl sa{};
            sa.nl_family = AF_NETLINK;
            sa.nl_groups = RTMGRP_IPV4_ROUTE;
            if (req->sock < 0 || bind(req->sock, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
                armed = false;
            } else if ((req->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) < 0) {
                armed = false;
            } else {
                try {
                    // The watcher takes mu_ before it reads the map, so it cannot
                    // look for its request before the insertion below.
                    req->thread = std::thread(&RouteWatcher::Watch, this, req.get());
                    pending_[event] = std::move(req);
                } catch (const std::system_error&) {
                    armed = false;
                }
            }
        }
    }
    Finish(&reap);
    return armed;
}

void RouteWatcher::Cancel(Handle event) {
    std::vector<std::unique_ptr<Request>> done;
    {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = pending_.find(event);
        if (it != pending_.end()) {
            it->second->Cancel();
            done.push_back(std::move(it->second));
            pending_.erase(it);
        }
        // A request for this event that already fired may still be inside
        // setEvent: wait that out too, unless it is the caller itself.
        const auto self = std::this_thread::get_id();
        for (auto f = finished_.begin(); f != finished_.end();) {
            if ((*f)->event == event && (*f)->thread.get_id() != self) {
                done.push_back(std::move(*f));
                f = finished_.erase(f);
            } else {
                ++f;
            }
        }
        TakeExited(&done);
    }
    Finish(&done);
}

void RouteWatcher::TakeExited(std::vector<std::unique_ptr<Request>>* out) {
    for (auto f = finished_.begin(); f != finished_.end();) {
        if ((*f)->exited.load()) {
            out->push_back(std::move(*f));
            f = finished_.erase(f);
        } else {
            ++f;
        }
    }
}

void RouteWatcher::Finish(std::vector<std::unique_ptr<Request>>* reqs) {
    for (auto& r : *reqs) {
        if (r->thread.joinable()) r->thread.join();
    }
    reqs->clear();
}

void RouteWatcher::Watch(Request* req) {
    // Route messages are a few hundred bytes; the kernel sends one per datagram.
    alignas(nlmsghdr) char buf[16384];
    bool changed = false;
    while (!changed && !req->cancelled.load()) {
        pollfd fds[] = {{req->sock, POLLIN, 0}, {req->wake, POLLIN, 0}};
        // No time-out: a route message or the cancel descriptor ends the wait.
        if (poll(fds, std::size(fds), -1) < 0) {
            if (errno == EINTR) continue;
            // The request can no longer be served. Windows completes such a
            // request with an error, which sets its event as well; the caller
            // then re-reads the routes and re-arms.
            changed = true;
            break;
        }
        // Drains what is queued; stops at the first route change. Whatever
        // woke the wait, the socket is read: an error (POLLERR, POLLNVAL) is
        // reported by the read instead of making poll return at once forever,
        // and a cancel with nothing queued meets an empty socket.
        while (!changed && !req->cancelled.load()) {
            sockaddr_nl from{};
            socklen_t fromLen = sizeof from;
            // At most sizeof buf: without MSG_TRUNC a longer datagram is cut.
            const ssize_t len =
                recvfrom(req->sock, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (len < 0) {
                // EWOULDBLOCK is EAGAIN on Linux. A receive that does not
                // wait is not interrupted either.
                if (errno == EAGAIN) break;
                // ENOBUFS: the kernel dropped notifications, a change may be
                // among them. Anything else ends the request as above.
                changed = true;
                break;
            }
            // Only the kernel speaks for the routing table; anything another
            // process sends to this socket is ignored.
            if (fromLen < sizeof from || from.nl_family != AF_NETLINK || from.nl_pid != 0) continue;
            if (HoldsIPv4RouteChange(buf, static_cast<size_t>(len))) changed = true;
        }
    }

    if (changed) {
        bool fire = false;
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (!req->cancelled.load()) {
                // Not cancelled, so still its event's pending request: only a
                // cancel (which sets the flag under mu_) or this thread takes
                // a request out. Used up: the next Arm for this event starts a
                // new request, while this thread is joined later.
                auto node = pending_.extract(req->event);
                if (!node.empty()) {
                    finished_.push_back(std::move(node.mapped()));
                    fire = true;
                }
            }
        }
        if (fire) setEvent_(req->event);
    }
    req->exited.store(true);
}

}  // namespace linuxnet
}  // namespace outlinkwatch
