// Stand-ins for the proxy probe until the TCP/HTTP probe is part of the
// build: resolution goes straight to the Os, and no proxy is taken to
// answer. Both are virtual, so tests put their own answers in.
#include "proxy/deal_my_proxy.h"

int CDealMyProxy::CheckProxyIsValid(std::list<outlinkwatch::ConnectAddrRecord>&, std::list<std::string>&) {
    return 0;
}

std::list<std::string> CDealMyProxy::ResolveHost(const std::string& host) {
    std::list<std::string> out;
    std::vector<uint32_t> addrs;
    if (host.empty() || !m_pOs->ResolveHostIPv4(host, &addrs)) return out;
    for (uint32_t a : addrs) {
        if (out.size() >= outlinkwatch::kMaxAddrsPerHost) break;
        const std::string text = outlinkwatch::AddressText(a);
        if (text != "127.0.0.1" && text != "0.0.0.0") out.push_back(text);
    }
    return out;
}
