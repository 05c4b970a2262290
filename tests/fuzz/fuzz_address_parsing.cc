// Feeds arbitrary bytes through the policy address parsers.
// Input layout: byte 0 holds flags (bits 0-1: separator length - 1, bit 2:
// keep empty pieces, bit 3: entries carry a port); the separator follows,
// then the text to split. Each piece is trimmed, then the pieces go through
// ParseIPSec, InetAddr and ResolveAddrList. Broken invariants trap.
#include "config/address_parsing.h"
#include "fuzz_input.h"

using namespace outlinkwatch;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const ExactCopy in(data, size);
    const unsigned flags = data[0];
    const size_t sepLen = 1 + (flags & 3);
    if (size < 1 + sepLen) return 0;
    const bool keepEmpty = (flags & 4) != 0;
    const int withPort = (flags & 8) ? 1 : 0;
    const std::string sep = in.Text(1, sepLen), text = in.Text(1 + sepLen);

    std::list<std::string> pieces{"head"};
    SplitString(text, sep, keepEmpty, pieces);
    Check(pieces.front() == "head");
    pieces.pop_front();
    std::string joined;
    for (const std::string& p : pieces) {
        Check(p.find(sep) == std::string::npos && (keepEmpty || !p.empty()));
        if (&p != &pieces.front()) joined += sep;
        joined += p;
    }
    if (keepEmpty) Check(joined == text || joined + sep == text);

    std::list<std::string> trimmed;
    for (const std::string& p : pieces) {
        std::string t = TrimText(p);
        Check(p.find(t) != std::string::npos);
        Check(t.empty() || (t.front() != ' ' && t.back() != ' '));
        const uint32_t addr = InetAddr(t);
        if (addr != 0xFFFFFFFFu) Check(InetAddr(AddressText(addr)) == addr);
        trimmed.push_back(std::move(t));
    }

    std::list<std::string> expanded;
    size_t logs = 0;
    ParseIPSec(trimmed, expanded, [&logs](const char* m) {
        Check(std::strcmp(m, "uMask is invalid.") == 0);
        ++logs;
    });
    Check(logs <= trimmed.size() && expanded.size() <= 256 * trimmed.size());
    for (const std::string& e : expanded) Check(e.find('/') == std::string::npos);

    // A resolver that answers for some names with up to 255 addresses.
    const ResolveFn resolve = [](const std::string& host, std::vector<uint32_t>* addrs) {
        if (host.empty() || (host[0] & 1)) return false;
        addrs->assign(static_cast<unsigned char>(host[0]), static_cast<uint32_t>(host.size()));
        return true;
    };
    std::list<uint32_t> ip;
    std::list<std::string> texts, unresolved;
    std::list<ConnectAddrRecord> records;
    ResolveAddrList(pieces, withPort, ip, texts, records, unresolved, resolve);
    Check(texts.size() == (withPort ? records.size() : ip.size()));
    Check(texts.size() <= kMaxAddrsPerHost * pieces.size() && unresolved.size() <= pieces.size());
    return 0;
}
