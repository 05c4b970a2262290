#include "emulation/wide_text.h"

#include "emulation/ini_reader.h"
#include "platform/os.h"
#include "base/text.h"

#include <algorithm>

namespace outlinkwatch {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void PutWide(char32_t c, std::wstring* out) {
    const auto put = [out](char32_t unit) { out->push_back(static_cast<wchar_t>(unit)); };
    if constexpr (kWideIsUtf16) {
        EncodeUtf16(c, put);
    } else {
        put(c);
    }
}

}  // namespace

std::string WideToUtf8(const std::wstring& wide) {
    std::string out;
    for (size_t i = 0; i < wide.size(); ++i) {
        // Windows' wchar_t is an unsigned 16-bit unit already.
        char32_t c = static_cast<char32_t>(wide[i]);
        if (IsHighSurrogate(c) && i + 1 < wide.size()) {
            const char32_t low = static_cast<char32_t>(wide[i + 1]) & 0xFFFF;
            if (IsLowSurrogate(low)) {
                c = CombineSurrogates(c, low);
                ++i;
            }
        }
        AppendUtf8(c, &out);
    }
    return out;
}

std::wstring Utf8ToWide(const std::string& text) {
    std::wstring out;
    size_t i = 0;
    while (i < text.size()) {
        const Utf8Sequence seq = DecodeUtf8(text, i);
        if (seq.length == 0) {
            // A byte that cannot begin a sequence, or a cut one: one
            // replacement per byte.
            PutWide(kReplacement, &out);
            ++i;
            continue;
        }
        // Overlong forms and surrogates are not characters: one
        // replacement for the whole sequence.
        PutWide(seq.wellFormed ? seq.codePoint : kReplacement, &out);
        i += seq.length;
    }
    return out;
}

std::string Utf8Of(const FileText& text) { return text.wide() ? WideToUtf8(text.wideText()) : text.ansi(); }

bool Utf8ProfileString(FileService* files, const FileText& section, const FileText& key,
                       const FileText& defaultValue, const FileText& path, uint32_t size, FileText* value) {
    if (!path.wide()) {
        std::string text;
        files->ReadFileBytes(path.ansi(), kMaxIniFileBytes, &text);
        *value = IniProfileString(text, section.AnsiOrNull(), key.AnsiOrNull(), defaultValue.AnsiOrNull(), size);
        return size != 0;
    }
    *value = std::wstring();
    if (size == 0) return false;
    if (size > kMaxProfileBuffer) size = kMaxProfileBuffer;
    // A character takes at most four bytes of UTF-8.
    const uint64_t narrowSize = std::min<uint64_t>(uint64_t{size} * 4, kMaxProfileBuffer);
    const auto narrow = [](const FileText& t) { return t.none() ? FileText() : FileText(Utf8Of(t)); };
    FileText read;
    Utf8ProfileString(files, narrow(section), narrow(key), narrow(defaultValue), Utf8Of(path),
                      static_cast<uint32_t>(narrowSize), &read);
    std::wstring wide = Utf8ToWide(read.ansi());
    // A name list keeps room for its two terminators, a value for one.
    const bool list = section.none() || key.none();
    const size_t room = list ? (size >= 2 ? size - 2 : 0) : size - 1;
    wide.resize(std::min(wide.size(), room));
    *value = std::move(wide);
    return true;
}

}  // namespace outlinkwatch
