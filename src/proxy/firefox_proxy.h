// The Firefox half of the browser proxy reading: the pure readers of
// prefs.js and of the profile layout, kept apart from the file system so
// that each can be tested and fuzzed on text alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "config/address_parsing.h"
#include "platform/os.h"

namespace outlinkwatch {

// The most of prefs.js that is read; a longer file is cut there, and its
// cut last line is then never looked at.
constexpr size_t kMaxPrefsBytes = 4u * 1024u * 1024u;
// The buffer the program folder is read into from compatibility.ini.
constexpr uint32_t kPlatformDirBytes = 260;

// The preference names looked for in prefs.js, quotes included: hosts
// 0-4 (ftp, http, ssl, gopher, socks), ports 5-9 (http, ftp, gopher,
// socks, ssl).
std::map<int, std::string> FirefoxPrefKeys();

// Calls visit for each segment of prefs.js text, in order: first the text
// before the first ';' (empty when there is none), then each piece after
// it up to the next line feed. The text after the last line feed is never
// visited, and the text ends at its first NUL, as a C string would.
void ForEachPrefsSegment(std::string_view text, const std::function<void(std::string_view)>& visit);

// Whether a segment holds both "\"network.proxy.type\"" and the digit 1.
bool PrefsProxyEnabled(std::string_view text);

// Appends the five configured records in the order http, ftp, ssl, socks,
// gopher, filled from the segments: the first key of keys (in key order)
// found in a segment names what the text after the segment's first ','
// sets - a host (keys 0-4) taken from between the quotes, or a port (keys
// 5-9) kept whole; both trimmed. A later segment wins. raw collects every
// stored text, without separators.
void PrefsProxyRecords(std::string_view text, const std::map<int, std::string>& keys,
                       std::list<ConnectAddrRecord>& configured, std::string& raw);

// The profile layout of a system family, told by its path separator:
// Windows ('\\') or a Unix-like system with Firefox's dot folder ('/').
//
// The folders that may hold the profiles, in the order they are tried.
std::vector<std::string> FirefoxProfileFolders(char sep, const std::string& drive, const std::string& userName,
                                               const std::string& profileDir);
// Whether a folder entry can be the profile: a directory other than "."
// and "..", and on Unix-like systems none of the folders Firefox keeps
// beside the profiles ("Crash Reports", "Pending Pings").
bool IsFirefoxProfileEntry(char sep, const DirEntry& entry);
// The program files whose presence in the program folder (LastPlatformDir
// of compatibility.ini) tells that Firefox is installed: "firefox.exe" on
// Windows; "firefox-esr" (the name Debian's build has there) or "firefox"
// elsewhere.
std::vector<std::string> FirefoxPrograms(char sep, const std::string& platformDir);
// The profile among the entries of the profile folder: the first that can
// be one, as folder + sep + name; empty when there is none.
std::string FirefoxProfileIn(char sep, const std::string& folder, const std::vector<DirEntry>& entries);

// Where a profile's proxy settings are read, from what its
// compatibility.ini tells: prefs.js of the profile, unless the file is
// there and its program folder holds no Firefox (path empty then). log is
// the line the choice is logged with.
struct FirefoxPrefsChoice {
    std::string path;
    const char* log;
};
FirefoxPrefsChoice ChooseFirefoxPrefs(char sep, const std::string& profile, bool compatibilityFound, bool installed);

// The drive part of a path ("C:" of "C:\\Windows"), empty when it has none.
std::string DriveOf(const std::string& path);

}  // namespace outlinkwatch
