#include "proxy/firefox_proxy.h"

#include <algorithm>
#include <cstring>

namespace outlinkwatch {

std::map<int, std::string> FirefoxPrefKeys() {
    return {
        {0, "\"network.proxy.ftp\""},      {1, "\"network.proxy.http\""},        {2, "\"network.proxy.ssl\""},
        {3, "\"network.proxy.gopher\""},   {4, "\"network.proxy.socks\""},       {5, "\"network.proxy.http_port\""},
        {6, "\"network.proxy.ftp_port\""}, {7, "\"network.proxy.gopher_port\""}, {8, "\"network.proxy.socks_port\""},
        {9, "\"network.proxy.ssl_port\""},
    };
}

namespace {

constexpr uint64_t kFnvBasis = 14695981039346656037ull;
constexpr uint64_t kFnvPrime = 1099511628211ull;
constexpr uint64_t kTypeBit = uint64_t{1} << 63;
const char kTypeKey[] = "\"network.proxy.type\"";
// TrimText's strips, in its order.
const char* const kTrimSets[] = {"\r\n", " ", "\t", " "};

uint64_t Fnv(uint64_t hash, std::string_view text) {
    for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * kFnvPrime;
    return hash;
}

std::string Fingerprint(uint64_t hash) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "#";
    for (int shift = 60; shift >= 0; shift -= 4) out += kHex[(hash >> shift) & 0xF];
    return out;
}

}  // namespace

void PrefsScanner::Value::Add(std::string_view text) {
    // The leading strips run over the text as it comes; what is left is kept.
    while (phase_ < 4 && !text.empty()) {
        if (std::strchr(kTrimSets[phase_], text.front()) != nullptr) {
            text.remove_prefix(1);
        } else {
            ++phase_;
        }
    }
    if (text.empty()) return;
    if (over_) {
        hash_ = Fnv(hash_, text);
        return;
    }
    const size_t room = kMaxPrefsValueBytes - head_.size();
    head_.append(text.substr(0, room));
    if (text.size() > room) {
        over_ = true;
        hash_ = Fnv(Fnv(kFnvBasis, head_), text.substr(room));
    }
}

std::string PrefsScanner::Value::Text() const {
    if (over_) return head_ + Fingerprint(hash_);
    // The trailing strips, in TrimText's order.
    std::string out = head_;
    for (const char* set : kTrimSets) {
        const size_t last = out.find_last_not_of(set);
        out.erase(last == std::string::npos ? 0 : last + 1);
    }
    return out;
}

PrefsScanner::PrefsScanner(const std::map<int, std::string>& keys) {
    for (const auto& key : keys) {
        if (keys_.size() == 63) break;
        keys_.push_back(key);
    }
    commonPrefix_ = kTypeKey;
    longestKey_ = commonPrefix_.size();
    for (const auto& key : keys_) {
        size_t same = 0;
        while (same < commonPrefix_.size() && same < key.second.size() && commonPrefix_[same] == key.second[same]) ++same;
        commonPrefix_.resize(same);
        longestKey_ = std::max(longestKey_, key.second.size());
    }
}

void PrefsScanner::Add(Segment& segment, std::string_view text) {
    if (text.empty()) return;
    segment.one = segment.one || text.find('1') != std::string_view::npos;
    // A key may begin in the bytes kept from before.
    std::string& joined = joined_;
    joined.assign(segment.carry);
    joined.append(text.data(), text.size());
    if (joined.find(commonPrefix_) != std::string::npos) {
        for (size_t i = 0; i < keys_.size(); ++i) {
            if (joined.find(keys_[i].second) != std::string::npos) segment.hits |= uint64_t{1} << i;
        }
        if (joined.find(kTypeKey) != std::string::npos) segment.hits |= kTypeBit;
    }
    segment.carry.assign(joined, joined.size() - std::min(joined.size(), longestKey_), std::string::npos);

    if (!segment.comma) {
        const size_t comma = text.find(',');
        if (comma == std::string_view::npos) return;
        segment.comma = true;
        text.remove_prefix(comma + 1);
    }
    segment.whole.Add(text);
    while (segment.quotes < 2 && !text.empty()) {
        const size_t quote = text.find('"');
        if (segment.quotes == 1) segment.quoted.Add(text.substr(0, quote));
        if (quote == std::string_view::npos) break;
        ++segment.quotes;
        text.remove_prefix(quote + 1);
    }
}

void PrefsScanner::Take(Fold& fold, const Segment& segment) const {
    if ((segment.hits & kTypeBit) != 0 && segment.one) fold.enabled = true;
    // Position of each key's record: http, ftp, ssl, socks, gopher.
    static const std::map<int, size_t> kRecordOfKey = {{1, 0}, {5, 0}, {0, 1}, {6, 1}, {2, 2},
                                                       {9, 2}, {4, 3}, {8, 3}, {3, 4}, {7, 4}};
    size_t i = 0;
    // An empty key is in every segment, even an empty one.
    while (i < keys_.size() && (segment.hits & (uint64_t{1} << i)) == 0 && !keys_[i].second.empty()) ++i;
    if (i == keys_.size()) return;
    const int key = keys_[i].first;
    const auto record = kRecordOfKey.find(key);
    if (record == kRecordOfKey.end()) return;
    std::string stored;
    if (key <= 4) {
        stored = segment.quotes == 0 ? segment.whole.Text() : segment.quoted.Text();
        fold.records[record->second].strAddr = stored;
    } else {
        // The rest of the line stays: "80);" is read as 80 by the probe.
        stored = segment.whole.Text();
        fold.records[record->second].strPort = stored;
    }
    if (!fold.rawOver && fold.raw.size() + stored.size() <= kMaxPrefsRawBytes) {
        fold.raw += stored;
        return;
    }
    if (!fold.rawOver) fold.rawHash = Fnv(kFnvBasis, fold.raw);
    fold.rawOver = true;
    fold.rawHash = Fnv(fold.rawHash, stored);
}

void PrefsScanner::Feed(std::string_view piece) {
    if (ended_) return;
    const size_t nul = piece.find('\0');
    if (nul != std::string_view::npos) {
        piece = piece.substr(0, nul);
        ended_ = true;
    }
    while (!piece.empty()) {
        if (semicolon_) {
            const size_t lf = piece.find('\n');
            Add(line_, piece.substr(0, lf));
            if (lf == std::string_view::npos) break;
            Take(withSemicolon_, line_);
            line_.Clear();
            piece.remove_prefix(lf + 1);
            continue;
        }
        // Before the first ';' the text is the first segment, and its lines
        // are segments should no ';' come.
        const size_t stop = piece.find_first_of(";\n");
        Add(first_, piece.substr(0, stop));
        Add(line_, piece.substr(0, stop));
        if (stop == std::string_view::npos) break;
        if (piece[stop] == ';') {
            semicolon_ = true;
            Take(withSemicolon_, first_);
            first_.Clear();
            withoutSemicolon_ = Fold();
        } else {
            Add(first_, "\n");
            Take(withoutSemicolon_, line_);
        }
        line_.Clear();
        piece.remove_prefix(stop + 1);
    }
}

bool PrefsScanner::Enabled() const { return (semicolon_ ? withSemicolon_ : withoutSemicolon_).enabled; }

void PrefsScanner::Records(std::list<ConnectAddrRecord>& configured, std::string& raw) const {
    const Fold& fold = semicolon_ ? withSemicolon_ : withoutSemicolon_;
    for (const ConnectAddrRecord& r : fold.records) configured.push_back(r);
    if (!fold.rawOver) {
        raw += fold.raw;
        return;
    }
    // Too long to keep: its head and fingerprint, and what the records hold.
    raw += fold.raw + Fingerprint(fold.rawHash) + "|";
    for (const ConnectAddrRecord& r : fold.records) raw += r.strAddr + "|" + r.strPort + "|";
}

void PrefsProxyRecords(std::string_view text, const std::map<int, std::string>& keys,
                       std::list<ConnectAddrRecord>& configured, std::string& raw) {
    PrefsScanner scanner(keys);
    scanner.Feed(text);
    scanner.Records(configured, raw);
}

std::vector<std::string> FirefoxProfileFolders(char sep, const std::string& drive, const std::string& userName,
                                               const std::string& profileDir) {
    if (sep != '\\') return {profileDir + "/.mozilla/firefox"};
    const std::string appData = "\\Application Data\\Mozilla\\Firefox\\Profiles";
    return {drive + "\\Documents and Settings\\" + userName + appData,
            drive + "\\Documents and Settings\\" + "Administrator" + appData, profileDir + appData};
}

bool IsFirefoxProfileEntry(char sep, const DirEntry& entry) {
    if (!entry.isDirectory || entry.name == "." || entry.name == "..") return false;
    return sep == '\\' || (entry.name != "Crash Reports" && entry.name != "Pending Pings");
}

std::vector<std::string> FirefoxPrograms(char sep, const std::string& platformDir) {
    if (sep == '\\') return {platformDir + "\\firefox.exe"};
    return {platformDir + "/firefox-esr", platformDir + "/firefox"};
}

std::string FirefoxProfileIn(char sep, const std::string& folder, const std::vector<DirEntry>& entries) {
    for (const DirEntry& entry : entries) {
        if (IsFirefoxProfileEntry(sep, entry)) return folder + sep + entry.name;
    }
    return std::string();
}

FirefoxPrefsChoice ChooseFirefoxPrefs(char sep, const std::string& profile, bool compatibilityFound, bool installed) {
    const std::string prefs = profile + sep + "prefs.js";
    if (!compatibilityFound) return {prefs, "Can not find compatibility.ini."};
    if (!installed) return {std::string(), "Firefox is not installed."};
    return {prefs, "Firefox is installed."};
}

UserFileRead ReadUserText(Os* os, const std::string& ownerSid, const std::string& path,
                          const std::function<bool(std::string_view)>& take) {
    const uint64_t deadline = os->Clock()->MonotonicMs() + kUserFileReadMs;
    bool late = false;
    const UserFileRead read = os->Files()->ReadUserFile(ownerSid, path, [&](std::string_view piece) {
        if (!take(piece)) return false;
        late = os->Clock()->MonotonicMs() > deadline;
        return !late;
    });
    return late ? UserFileRead::kFailed : read;
}

std::string DriveOf(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
    return std::string();
}

}  // namespace outlinkwatch
