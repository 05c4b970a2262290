// The Internet Explorer half of the browser proxy reading: where the
// interactive user's setting lives and the reader of its "ProxyServer"
// text, kept apart from the registry so that it can be tested and fuzzed
// on text alone.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "config/address_parsing.h"

namespace outlinkwatch {

// The agent's user-interface process: it runs as the person at the
// terminal, so its user is the interactive one.
constexpr const char* kAgentUiImage = "AGENTUI.exe";
// The settings key under the user's key in HKEY_USERS.
constexpr const char* kIESettingsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
// The buffer the user's key name is read into, terminator included.
constexpr size_t kUserKeyNameBytes = 260;
// The buffer "ProxyServer" is read through; a longer value is not read.
constexpr uint32_t kProxyServerBytes = 1024;
// The label of a proxy that serves every protocol.
constexpr const char* kAllProtocols = "PRO_ALL";

// Appends the configured proxies of a "ProxyServer" text, in text order:
// each ';'-separated item "protocol=host:port" gives (host, port, "",
// "protocol:"), hosts and ports trimmed, the protocol as written (a blank
// after ';' stays in front of it); an earlier item without '=' gives an
// empty record with the label ":". The last item, or the whole text
// without ';', gives the same when it holds '=', a proxy for every
// protocol (label "PRO_ALL") when it holds only ':', and nothing else.
void ParseProxyServer(const std::string& raw, std::list<ConnectAddrRecord>& configured);

}  // namespace outlinkwatch
