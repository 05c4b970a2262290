#include "proxy/ie_proxy.h"

#include <cstring>

namespace outlinkwatch {
namespace {

// One "protocol=host:port" item; the label is the protocol and a ':'.
ConnectAddrRecord ProtocolItem(const std::string& item) {
    std::string protocol, rest;
    const size_t eq = item.find('=');
    if (eq != std::string::npos) {
        protocol = item.substr(0, eq);
        rest = item.substr(eq + 1);
    }
    std::string host = rest, port;
    const size_t colon = rest.find(':');
    if (colon != std::string::npos) {
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    ConnectAddrRecord record;
    record.strAddr = TrimText(host);
    record.strPort = TrimText(port);
    record.strSpare = protocol + ":";
    return record;
}

}  // namespace

void ParseProxyServer(const std::string& raw, std::list<ConnectAddrRecord>& configured) {
    std::string rest = TrimText(raw);
    size_t start = 0;
    for (size_t semicolon = rest.find(';'); semicolon != std::string::npos; semicolon = rest.find(';', start)) {
        configured.push_back(ProtocolItem(rest.substr(start, semicolon - start)));
        start = semicolon + 1;
    }
    rest.erase(0, start);
    if (rest.find('=') != std::string::npos) {
        configured.push_back(ProtocolItem(rest));
        return;
    }
    const size_t colon = rest.find(':');
    if (colon == std::string::npos) return;
    ConnectAddrRecord record;
    record.strAddr = TrimText(rest.substr(0, colon));
    record.strPort = TrimText(rest.substr(colon + 1));
    record.strSpare = kAllProtocols;
    configured.push_back(std::move(record));
}

}  // namespace outlinkwatch
