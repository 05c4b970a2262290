// The emulation's parsers. Version resources of Windows files read on
// Linux, on DLLs the build makes with the mingw resource compiler (64-bit,
// and the same image turned into a 32-bit one), and through LumenFile on the
// backend of this build. Percent variables: known names (looked up in
// capitals) are replaced, others and a lone '%' stay as written; a result of
// exactly cap bytes fits.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "lumenutil/file_util.h"
#include "emulation/expand_vars.h"
#include "emulation/pe_version.h"
#include "platform/os.h"

namespace outlinkwatch {
namespace {

TEST(PeVersionTest, ItemsOfBuiltImages) {
    const std::string dir = OW_PE_SAMPLES_DIR;
    if (dir.empty()) GTEST_SKIP() << "no mingw resource compiler at configure time";
    struct Row {
        const char* file;
        const char* item;
        const char* value;  // null: not found
    };
    const Row rows[] = {
        {"version", "FileVersion", "1.2.3.4"},
        {"version", "productname", "Outlink Sample"},  // names compare without case
        {"version", "Comments", "Gr\u00fc\u00dfe \u4e2d\u6587"},
        {"version", "CompanyName", nullptr},
        {"translations", "FileVersion", "5.0 chinese"},  // the first translation's table
        {"noversion", "FileVersion", nullptr},
        {"notranslation", "FileVersion", nullptr},
    };
    for (const char* bits : {"64", "32"}) {
        for (const Row& r : rows) {
            const std::string path = dir + "/" + r.file + bits + ".dll";
            SCOPED_TRACE(path + " " + r.item);
            std::string value = "unchanged";
            EXPECT_EQ(Os::Default()->Files()->FileVersionItem(path, r.item, &value), r.value != nullptr);
            EXPECT_EQ(value, r.value ? r.value : "unchanged");
            std::string out = "unchanged";
            EXPECT_EQ(lumenutil::LumenFile::GetFileVerInfo(path.c_str(), r.item, out), lumenutil::UTIL_OK);
            EXPECT_EQ(out, r.value ? r.value : "unchanged");
        }
        // Judged on the open file: a folder, a FIFO or a link in an image's place is no image.
        const std::string fifo = ::testing::TempDir() + "ow_fifo.dll", link = ::testing::TempDir() + "ow_link.dll";
        std::remove(fifo.c_str()), std::remove(link.c_str());
        ASSERT_TRUE(mkfifo(fifo.c_str(), 0600) == 0 && symlink((dir + "/version64.dll").c_str(), link.c_str()) == 0);
        for (const std::string& path : {dir, fifo, link}) {
            std::string value;
            EXPECT_FALSE(Os::Default()->Files()->FileVersionItem(path, "FileVersion", &value)) << path;
        }
        std::remove(fifo.c_str()), std::remove(link.c_str());
        // The same image with one header field changed is refused, unless
        // it stays within bounds (the last two: 3 directories, 96 sections).
        std::ifstream in(dir + "/version" + bits + ".dll", std::ios::binary);
        const std::string image((std::istreambuf_iterator<char>(in)), {});
        ASSERT_GT(image.size(), 0x400u);
        const size_t pe = static_cast<uint8_t>(image[0x3C]) | static_cast<uint8_t>(image[0x3D]) << 8;
        const size_t dirs = pe + 24 + (image[pe + 25] == 2 ? 108 : 92);  // the count, then the directories
        const struct { size_t at; std::string bytes; bool found; } patches[] = {
            {0, "X", false}, {pe + 1, "Q", false}, {pe + 6, std::string(2, '\0'), false}, {pe + 6, "a", false},
            {pe + 24, "\x0c", false}, {dirs, "\x02", false}, {dirs + 20, std::string(4, '\0'), false},
            {dirs + 20, "\xF0\xFF\xFF\x7F", false},  // a resource address in no section
            {dirs + 24, std::string(4, '\0') + "\x01", false}, {dirs, "\x03", true}, {pe + 6, "`", true}};
        for (const auto& p : patches) {
            std::string damaged = image, block;
            damaged.replace(p.at, p.bytes.size(), p.bytes);
            const ReadAtFn read = [&](uint64_t at, size_t n, std::string* out) {
                return at + n <= damaged.size() && (*out = damaged.substr(at, n), true);
            };
            EXPECT_EQ(PeVersionBlock(read, &block), p.found) << bits << " at " << p.at;
        }
    }
}

std::string Utf16(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    return out;
}

// A VS_VERSIONINFO-style node: length, value length, type, the key in
// UTF-16 with its terminator, the value and the children, each 4-aligned.
std::string Node(const std::u16string& key, const std::string& value, uint16_t valueLength, uint16_t type,
                 const std::string& children = "", int lengthDelta = 0) {
    std::string b = std::string(6, '\0') + Utf16(key + u'\0');
    b.resize((b.size() + 3) & ~size_t{3}, '\0');
    b += value;
    if (!children.empty()) b.resize((b.size() + 3) & ~size_t{3}, '\0');
    b += children;
    const size_t length = b.size() + lengthDelta;
    b[0] = static_cast<char>(length & 0xFF), b[1] = static_cast<char>(length >> 8);
    b[2] = static_cast<char>(valueLength & 0xFF), b[3] = static_cast<char>(valueLength >> 8);
    b[4] = static_cast<char>(type);
    b.resize((b.size() + 3) & ~size_t{3}, '\0');  // the next sibling's alignment, not counted
    return b;
}

// The item's text in a block built here: it runs to its terminator or to
// the end of its node, a pair of halves is one character and a lone half
// none; a translation shorter than its two numbers, or a node longer than
// its parent, finds nothing.
TEST(PeVersionTest, BlockBounds) {
    const auto block = [](const std::string& text, const std::string& translation = "\x09\x04\xb0\x04",
                          int textDelta = 0) {
        const std::string item = Node(u"FileVersion", text, static_cast<uint16_t>(text.size() / 2), 1, "", textDelta);
        return Node(u"VS_VERSION_INFO", std::string(52, '\0'), 52, 0,
                    Node(u"StringFileInfo", "", 0, 1, Node(u"040904b0", "", 0, 1, item)) +
                        Node(u"VarFileInfo", "", 0, 1,
                             Node(u"Translation", translation, static_cast<uint16_t>(translation.size()), 0)));
    };
    const struct {
        const char* what;
        std::string block;
        const char* value;  // null: not found
    } rows[] = {
        {"terminated", block(Utf16(u"1.2") + std::string(2, '\0') + Utf16(u"9")), "1.2"},
        {"to the node's end", block(Utf16(u"1.23")), "1.23"},
        {"a pair at the end", block(Utf16(u"x\xDBFF\xDFFF")), "x\xF4\x8F\xBF\xBF"},
        {"a high half at the end", block(Utf16(u"x\xD800")), "x\xEF\xBF\xBD"},
        {"halves alone and in order", block(Utf16(u"\xDC00\xD800" u"a\xD7FF\xE000\xD800\xDC00\xD800\xE000")),
         "\xEF\xBF\xBD\xEF\xBF\xBD" "a\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80\xEF\xBF\xBD\xEE\x80\x80"},
        {"translation of three bytes", block(Utf16(u"1"), "\x09\x04\xb0"), nullptr},
        {"another translation", block(Utf16(u"1"), std::string("\x07\x04\xb0\x04", 4)), nullptr},
        {"text node past its parent", block(Utf16(u"1"), "\x09\x04\xb0\x04", 4), nullptr},
        {"text node shorter than a header", block(Utf16(u"1"), "\x09\x04\xb0\x04", -29), nullptr},
        {"a key ending its node, no text", block("", "\x09\x04\xb0\x04", -2), ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        std::string value = "unchanged";
        EXPECT_EQ(VersionBlockItem(r.block, "FileVersion", &value), r.value != nullptr);
        EXPECT_EQ(value, r.value ? r.value : "unchanged");
    }
}

TEST(ExpandVarsTest, Table) {
    const auto lookup = [](const std::string& name, std::string* value) {
        return (name == "HOME" || name == "X") && (*value = "/h", true);
    };
    const struct { const char* text; size_t cap; const char* out; } rows[] = {
        {"%home%/x%", 5, "/h/x%"}, {"%home%/x%", 4, nullptr}, {"%%a%x%", 5, "%%a/h"}, {"%HOME%", 2, "/h"},
        {"%HOME%", 1, nullptr}};
    for (const auto& r : rows) {
        std::string out = "unchanged";
        EXPECT_EQ(ExpandPercentVariables(r.text, r.cap, lookup, &out), r.out != nullptr) << r.text << " " << r.cap;
        EXPECT_EQ(out, r.out ? r.out : "unchanged") << r.text << " " << r.cap;
    }
}

}  // namespace
}  // namespace outlinkwatch
