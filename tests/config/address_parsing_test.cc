#include "config/address_parsing.h"
#include "base/text.h"

#ifndef _WIN32
#include <arpa/inet.h>
#endif
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>

namespace outlinkwatch {
namespace {

using Strings = std::vector<std::string>;
Strings Vec(const std::list<std::string>& l) { return Strings(l.begin(), l.end()); }

uint32_t Net(unsigned char a, unsigned char b, unsigned char c, unsigned char d) {
    const unsigned char bytes[4] = {a, b, c, d};
    uint32_t n;
    std::memcpy(&n, bytes, 4);
    return n;
}

TEST(AddressParsing, TrimTextAndAsciiCase) {
    const struct { std::string in, want; } cases[] = {
        {"", ""}, {" \t\r\n", ""}, {"  a b  ", "a b"}, {"\r\n x \t\r\n", "x"}, {"\t x \t", "x"},
        {" \nx", "\nx"}, {"x\t \t", "x\t"},  // one pass per set: what a later pass uncovers stays
        {"\v x", "\v x"}, {std::string("\0x\0", 3), std::string("\0x\0", 3)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(TrimText(c.in), c.want);
    }
    // Case folding touches A-Z only: the bytes next to both ranges, NUL, UTF-8 and Latin-1 stay.
    EXPECT_EQ(AsciiStrToLower(std::string("AzZ\xC3\x89\xE9\0[@`{", 11)), std::string("azz\xC3\x89\xE9\0[@`{", 11));
}

TEST(AddressParsing, SplitStringAppends) {
    const struct { std::string text, sep; bool keep; Strings want; } cases[] = {
        {"", ";", true, {}}, {";;a;;b;", ";", false, {"a", "b"}}, {";;a;;b;", ";", true, {"", "", "a", "", "b"}},
        {";", ";", true, {""}}, {"a, b ,c", ",", false, {"a", " b ", "c"}}, {"a:::b", "::", false, {"a", ":b"}},
        {"abc", "", false, {"abc"}}, {"abc", "abcd", false, {"abc"}},
        {std::string("a\0b", 3), std::string(1, '\0'), false, {"a", "b"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + " at " + c.sep);
        std::list<std::string> out{"old"};
        SplitString(c.text, c.sep, c.keep, out);
        Strings want{"old"};
        want.insert(want.end(), c.want.begin(), c.want.end());
        EXPECT_EQ(Vec(out), want);
    }
}

TEST(AddressParsing, ParseIPSecExpandsAndLogs) {
    const struct { Strings in; size_t size; std::string front, back; size_t logs; } cases[] = {
        {{"10.1.2.7/24"}, 256, "10.1.2.0", "10.1.2.255", 0}, {{"10.1.2.7/32"}, 1, "10.1.2.7", "10.1.2.7", 0},
        {{"10.0.0.1/31"}, 2, "10.0.0.0", "10.0.0.1", 0}, {{"10.0.0.200/25"}, 128, "10.0.0.128", "10.0.0.255", 0},
        {{"0x0A.1/30"}, 4, "10.0.0.0", "10.0.0.3", 0}, {{"10.0.0.9/ +30junk"}, 4, "10.0.0.8", "10.0.0.11", 0},
        {{"bogus/30"}, 4, "255.255.255.252", "255.255.255.255", 0},
        {{"a/10.0.0.9/32"}, 1, "255.255.255.255", "255.255.255.255", 0},
        // 2^64 + 24 must saturate, not wrap round to 24.
        {{"1.2.3.4/23", "1.2.3.4/33", "/", "1.2.3.4/-24", "1.2.3.4/18446744073709551640"}, 0, "", "", 5},
        {{"a", "1.2.3.4/32", "x/5", "b"}, 3, "a", "b", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in.front());
        std::list<std::string> out;
        Strings logged;
        ParseIPSec({c.in.begin(), c.in.end()}, out, [&](const char* m) { logged.push_back(m); });
        ASSERT_EQ(out.size(), c.size);
        if (c.size > 0) {
            EXPECT_EQ(Strings({out.front(), out.back()}), Strings({c.front, c.back}));
        }
        EXPECT_EQ(logged, Strings(c.logs, "uMask is invalid."));
    }
}

TEST(AddressParsing, InetAddrMatchesGlibcAndAddressTextReadsNetworkOrder) {
    EXPECT_EQ(AddressText(Net(255, 0, 128, 9)), "255.0.128.9");
    EXPECT_EQ(AddressText(InetAddr("192.168.0.77")), "192.168.0.77");
    for (const char* port : {" 80", "+8080x", "-1", "65536", "70000", "\t\n-0", "", "x1", "- 1", "+-1", "2147483647"}) {
        EXPECT_EQ(AtoiPort(port), static_cast<uint16_t>(std::atoi(port))) << "a port is atoi's, cut to 16 bits: " << port;
    }
#ifdef _WIN32
    GTEST_SKIP() << "glibc's inet_addr is the reference";
#else
    const std::string cases[] = {
        "1.2.3.4", "0", "255.255.255.255", "4294967295", "4294967296", "1", "1.2", "1.2.3", "1.16777215",
        "1.16777216", "1.2.65535", "1.2.65536", "1.2.3.256", "256.1.2.3", "1.2.3.4.5", "0x7f.1", "0X7F.0.0.1",
        "0x", "0x.1", "0xg", "017.0.0.1", "08.0.0.1", "1.2.3.04", "1.2.3.0x", "00000000000000000000001.2.3.4",
        "0x00000000000ff.1.1.1", "0xffffffff", "0x100000000", "18446744073709551616", "1.2.3.4 junk",
        "1.2.3.4\tx", "1.2.3.4\n", "1 .2", "1.2.3.4x", "1.2.3.4:", " 1.2.3.4", "+1.2.3.4", "1.-2.3.4", "1..2", "1.", ".1",
        "", "1.2.3.4\x80", "\xff", std::string("1.2.3.4\0zz", 10), std::string(100 * 1024, '7')};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.substr(0, 32));
        EXPECT_EQ(InetAddr(c), inet_addr(c.c_str()));
    }
#endif
}

TEST(AddressParsing, ResolveAddrList) {
    const std::map<std::string, std::vector<uint32_t>> dns{
        {"multi", {Net(10, 0, 0, 1), Net(10, 0, 0, 2)}}, {"one", {Net(192, 168, 1, 9)}}, {"a:b", {Net(1, 2, 3, 4)}},
        {"noaddr", {}}, {"many", std::vector<uint32_t>(1000, Net(9, 9, 9, 9))}};
    const ResolveFn resolve = [&](const std::string& host, std::vector<uint32_t>* addrs) {
        const auto it = dns.find(host);
        if (it != dns.end()) *addrs = it->second;
        return it != dns.end();
    };
    const struct { Strings in; int withPort; std::vector<uint32_t> ip; Strings text, records, unresolved; } cases[] = {
        {{"multi", " one \r\n", "nohost", "  nohost", "noaddr"}, 0, {0x0A000001u, 0x0A000002u, 0xC0A80109u},
         {"10.0.0.1", "10.0.0.2", "192.168.1.9"}, {}, {"nohost", "  nohost"}},
        {{"multi:80", " one :443 ", "noport", "a:b:8080", "  nohost:1"}, 1, {},
         {"10.0.0.1", "10.0.0.2", "192.168.1.9", "1.2.3.4"},
         {"10.0.0.1|80|multi|", "10.0.0.2|80|multi|", "192.168.1.9|443 |one|", "1.2.3.4|8080|a:b|"}, {"  nohost:1"}},
        {{"noport"}, 1, {}, {}, {}, {}},
        {{"many"}, 0, std::vector<uint32_t>(kMaxAddrsPerHost, 0x09090909u), Strings(kMaxAddrsPerHost, "9.9.9.9"),
         {}, {}},
        {{}, 0, {7}, {"stale"}, {"stale|||"}, {"stale"}}};  // empty input: outputs untouched
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in.empty() ? "(empty)" : c.in.front());
        std::list<uint32_t> ip{7};
        std::list<std::string> text{"stale"}, unresolved{"stale"};
        std::list<ConnectAddrRecord> records{{"stale", "", "", ""}};
        ResolveAddrList({c.in.begin(), c.in.end()}, c.withPort, ip, text, records, unresolved, resolve);
        Strings recs;
        for (const auto& r : records) recs.push_back(r.strAddr + "|" + r.strPort + "|" + r.strHost + "|" + r.strSpare);
        EXPECT_EQ(std::vector<uint32_t>(ip.begin(), ip.end()), c.ip);
        EXPECT_EQ(Vec(text), c.text);
        EXPECT_EQ(recs, c.records);
        EXPECT_EQ(Vec(unresolved), c.unresolved);
    }
}

}  // namespace
}  // namespace outlinkwatch
