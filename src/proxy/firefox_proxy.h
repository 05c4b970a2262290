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

// prefs.js is read whole, however long, but never held whole: a stored
// value (and the text of all of them together) is kept as it is up to
// these sizes; a longer one is kept as its head, '#' and a 64-bit
// fingerprint of all of it, so a change anywhere in it still shows.
constexpr size_t kMaxPrefsValueBytes = 64u * 1024u;
constexpr size_t kMaxPrefsRawBytes = 256u * 1024u;
// How long one reading of a file the user controls may take.
constexpr uint64_t kUserFileReadMs = 10000;
// The buffer the program folder is read into from compatibility.ini.
constexpr uint32_t kPlatformDirBytes = 260;

// The preference names looked for in prefs.js, quotes included: hosts
// 0-4 (ftp, http, ssl, gopher, socks), ports 5-9 (http, ftp, gopher,
// socks, ssl).
std::map<int, std::string> FirefoxPrefKeys();

// Reads prefs.js text fed in pieces of any size, in bounded memory. The
// text ends at its first NUL, as a C string would. It is cut into
// segments: first the text before the first ';' (empty when there is
// none), then each piece after it up to the next line feed; the text after
// the last line feed is never looked at. A segment is looked at for three
// things only - which keys it holds, whether it holds the digit 1, and the
// text after its first ',' - so a segment of any length is judged whole.
class PrefsScanner {
public:
    explicit PrefsScanner(const std::map<int, std::string>& keys);
    void Feed(std::string_view piece);
    // Whether the text has ended (a NUL came): what follows is not looked at.
    bool Ended() const { return ended_; }
    // Once the text is fed: whether a segment holds both
    // "\"network.proxy.type\"" and the digit 1.
    bool Enabled() const;
    // Once the text is fed: appends the five configured records in the order
    // http, ftp, ssl, socks, gopher, filled from the segments: the first key
    // of keys (in key order) found in a segment names what the text after
    // the segment's first ',' sets - a host (keys 0-4) taken from between
    // the quotes, or a port (keys 5-9) kept whole; both trimmed as TrimText
    // does. A later segment wins. raw collects every stored text, without
    // separators.
    void Records(std::list<ConnectAddrRecord>& configured, std::string& raw) const;

    // A text trimmed as TrimText trims it, kept up to kMaxPrefsValueBytes.
    class Value {
    public:
        void Add(std::string_view text);
        std::string Text() const;
        // Empty again, keeping the memory it has.
        void Clear() {
            phase_ = 0;
            head_.clear();
            over_ = false;
            hash_ = 0;
        }

    private:
        int phase_ = 0;  // which of TrimText's leading strips is under way; 4: none
        std::string head_;
        bool over_ = false;
        uint64_t hash_ = 0;
    };

private:
    struct Segment {
        uint64_t hits = 0;  // bit i: the i-th key (in key order); the top bit: the type key
        bool one = false;
        bool comma = false;
        int quotes = 0;  // of the text after the comma, up to two
        Value whole;     // the text after the first ','
        Value quoted;    // of that, the text after its first quote up to the next
        std::string carry;  // the segment's last bytes, for a key cut between pieces
        // Empty again, keeping the memory it has: a segment is a line.
        void Clear() {
            hits = 0;
            one = comma = false;
            quotes = 0;
            whole.Clear();
            quoted.Clear();
            carry.clear();
        }
    };
    struct Fold {
        bool enabled = false;
        ConnectAddrRecord records[5];
        std::string raw;
        bool rawOver = false;
        uint64_t rawHash = 0;
    };
    void Add(Segment& segment, std::string_view text);
    void Take(Fold& fold, const Segment& segment) const;

    std::vector<std::pair<int, std::string>> keys_;
    std::string commonPrefix_;  // of every key: a text without it holds none
    size_t longestKey_ = 0;
    std::string joined_;  // the bytes a key is looked for in
    bool ended_ = false;
    bool semicolon_ = false;
    Segment first_, line_;
    // What the segments give if a ';' comes (the first one is then the text
    // before it), and what they give if none does (every line then is one).
    Fold withSemicolon_, withoutSemicolon_;
};

// PrefsScanner's records over a whole text.
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

// Hands a file the user (ownerSid) controls to take piece by piece
// (FileService::ReadUserFile), until take answers false or
// kUserFileReadMs have passed on the seam's clock; a reading stopped by
// the clock is kFailed.
UserFileRead ReadUserText(Os* os, const std::string& ownerSid, const std::string& path,
                          const std::function<bool(std::string_view)>& take);

// The drive part of a path ("C:" of "C:\\Windows"), empty when it has none.
std::string DriveOf(const std::string& path);

}  // namespace outlinkwatch
