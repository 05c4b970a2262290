#include "lumenutil/langmap.h"
#include "base/text.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>

#include "platform/os.h"

namespace lumenutil {
namespace {

// A map line longer than this is not a language entry; skip it rather than
// let a damaged file grow one string without bound.
constexpr size_t kMaxMapLine = 4096;
constexpr size_t kMaxPath = 260;
// A language map lists a few dozen languages; anything past this is not one.
constexpr size_t kMaxMapFileBytes = 1u << 20;

// Copies a profile string into the caller's buffer as the Windows reader
// leaves it: the characters, then a terminator (two for a name list).
uint32_t CopyProfileString(const std::string& value, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return 0;
    const size_t n = value.size() < size ? value.size() : size - 1;
    if (n > 0) std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    if (n + 1 < size) buffer[n + 1] = '\0';
    return static_cast<uint32_t>(n);
}

}  // namespace

std::string DirectoryOf(const std::string& path, char sep) {
    const size_t pos = path.rfind(sep);
    if (pos == std::string::npos) return path;
    if (pos == 0) return std::string(1, sep);
    return path.substr(0, pos);
}

void LangMap::LoadText(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > kMaxMapLine) continue;
        std::istringstream fields(line);
        int32_t id = 0;
        std::string name, abbr;
        if (fields >> id >> name >> abbr) m_mapLang[id] = LangEntry{name, abbr, std::string()};
    }
    m_bLoaded = !m_mapLang.empty();
}

void LangMap::Load(outlinkwatch::Os* os) {
    const char sep = os->Files()->PathSeparator();
    std::string exe;
    if (!os->System()->ModuleFileName(nullptr, &exe)) exe.clear();
    if (exe.size() >= kMaxPath) exe.resize(kMaxPath - 1);
    const std::string file =
        DirectoryOf(exe, sep) + sep + "language" + sep + "langmap.ini";
    if (!os->Files()->FileExists(file)) return;
    std::string text;
    if (os->Files()->ReadFileBytes(file, kMaxMapFileBytes, &text)) LoadText(text);
}

std::string LangMap::FieldOf(int id, std::string LangEntry::*field) const {
    if (!m_bLoaded) return std::string();
    auto it = m_mapLang.find(id);
    if (it != m_mapLang.end() && !(it->second.*field).empty()) return it->second.*field;
    return m_mapLang.begin()->second.*field;
}

std::string LangMap::GetLangAbbr(int id) const { return FieldOf(id, &LangEntry::abbr); }
std::string LangMap::GetLangName(int id) const { return FieldOf(id, &LangEntry::name); }
std::string LangMap::GetLangStdName(int id) const { return FieldOf(id, &LangEntry::stdName); }

std::string LangMap::GetLangNameByAbbr(const std::string& abbr) const {
    if (!m_bLoaded) return std::string();
    for (const auto& kv : m_mapLang) {
        if (kv.second.abbr == abbr) {
            if (!kv.second.name.empty()) return kv.second.name;
            break;
        }
    }
    return m_mapLang.begin()->second.name;
}

int LangMap::GetLangID(const std::string& name) const {
    if (!m_bLoaded) return -1;
    std::string cleaned;
    for (char c : name) {
        if (std::isgraph(static_cast<unsigned char>(c))) cleaned += c;
    }
    for (const auto& kv : m_mapLang) {
        if (outlinkwatch::EqualsIgnoreAsciiCase(kv.second.name, cleaned)) return kv.first;
    }
    return m_mapLang.begin()->first;
}

std::string LangMap::Print() const {
    std::string out;
    for (const auto& kv : m_mapLang) {
        char head[32];
        std::snprintf(head, sizeof(head), "ID:%d, Name:", static_cast<int>(kv.first));
        out += head;
        out += kv.second.name;
        out += ", Abbr:";
        out += kv.second.abbr;
        out += "\n";
    }
    return out;
}

namespace {
std::atomic<const LangMap*> g_langMap{nullptr};
std::mutex g_langMapMutex;
// Maps replaced by a reload; kept until unload, since a reader may hold
// one. Plain storage: the unload hook may run after static destructors.
struct RetiredLangMap {
    const LangMap* map;
    RetiredLangMap* next;
};
RetiredLangMap* g_retiredLangMaps = nullptr;

// Publishes a fresh map when it loaded, when none is published yet, or when
// forced; an empty one read again is dropped, so that looking again while
// the file cannot be read retires nothing.
const LangMap* LoadGlobalLangMap(bool force) {
    const LangMap* old = g_langMap.load(std::memory_order_acquire);
    auto map = std::make_unique<LangMap>();
    map->Load(outlinkwatch::CurrentOs());
    if (!force && old != nullptr && !map->loaded()) return old;
    const LangMap* published = map.release();  // lives until the module is unloaded
    old = g_langMap.exchange(published, std::memory_order_acq_rel);
    if (old) g_retiredLangMaps = new RetiredLangMap{old, g_retiredLangMaps};
    return published;
}
}  // namespace

// A map that could not be read (missing, or held open by a writer that
// keeps readers out) is read again at the next look-up, so a writer at
// the first look-up does not leave every text empty for the process's life.
// The look costs what a text look-up costs anyway; once loaded, none.
const LangMap& GlobalLangMap() {
    const LangMap* map = g_langMap.load(std::memory_order_acquire);
    if (map != nullptr && map->loaded()) return *map;
    std::lock_guard<std::mutex> lock(g_langMapMutex);
    map = g_langMap.load(std::memory_order_acquire);
    return map != nullptr && map->loaded() ? *map : *LoadGlobalLangMap(false);
}

void ReloadLangMapForTesting() {
    std::lock_guard<std::mutex> lock(g_langMapMutex);
    LoadGlobalLangMap(true);
}

void ReleaseLangMaps() {
    std::lock_guard<std::mutex> lock(g_langMapMutex);
    delete g_langMap.exchange(nullptr, std::memory_order_acq_rel);
    while (RetiredLangMap* retired = g_retiredLangMaps) {
        g_retiredLangMaps = retired->next;
        delete retired->map;
        delete retired;
    }
}

uint32_t ReadIniWithOverride(outlinkwatch::Os* os, const char* section, const char* key, const char* defaultValue,
                             char* buffer, uint32_t size, const char* path) {
    if (path == nullptr) return 0;
    std::string custom(path, strnlen(path, kMaxPath - 1));
    const size_t dot = custom.rfind('.');
    if (dot != std::string::npos) {
        custom.replace(dot, std::string::npos, "_cust.ini");
        if (os->Files()->FileExists(custom) && buffer != nullptr && size > 0) {
            outlinkwatch::FileText value;
            os->Files()->ReadProfileString(section, key, "", custom, size, &value);
            if (!value.ansi().empty() && value.ansi()[0] != '\0') return CopyProfileString(value.ansi(), buffer, size);
        }
    }
    outlinkwatch::FileText value;
    os->Files()->ReadProfileString(section, key, defaultValue, path, size, &value);
    return CopyProfileString(value.ansi(), buffer, size);
}

int GetLangID(const std::string& name) { return GlobalLangMap().GetLangID(name); }
std::string GetLangAbbr(int id) { return GlobalLangMap().GetLangAbbr(id); }
std::string GetLangName(int id) { return GlobalLangMap().GetLangName(id); }
std::string GetLangStdName(int id) { return GlobalLangMap().GetLangStdName(id); }
std::string GetLangNameByAbbr(const std::string& abbr) { return GlobalLangMap().GetLangNameByAbbr(abbr); }

void PrintLangMap() {
    const std::string text = GlobalLangMap().Print();
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

std::string getStringFromLangIni(const std::string& section, const std::string& key, int langId) {
    const std::string abbr = GetLangAbbr(langId);
    if (abbr.empty()) return std::string();
    outlinkwatch::Os* os = outlinkwatch::CurrentOs();
    const char sep = os->Files()->PathSeparator();
    std::string exe;
    if (!os->System()->ModuleFileName(nullptr, &exe)) exe.clear();
    if (exe.size() >= kMaxPath) exe.resize(kMaxPath - 1);
    // Drive and directory keep their closing separator.
    const size_t pos = exe.rfind(sep);
    const std::string dir = pos == std::string::npos ? std::string() : exe.substr(0, pos + 1);
    const std::string file = dir + "language" + sep + "UniLang_" + abbr + ".ini";
    if (!os->Files()->FileExists(file)) return std::string();
    char value[kMaxPath] = {0};
    ReadIniWithOverride(os, section.c_str(), key.c_str(), "", value, sizeof(value), file.c_str());
    std::string result(value, strnlen(value, sizeof(value)));
    if (result.size() > 2 && result.front() == '"' && result.back() == '"') {
        result = result.substr(1, result.size() - 2);
    }
    return result;
}

DWORD LumenFile::GetInifileStringA(const char* section, const char* key, const char* defaultValue, char* buffer,
                                   DWORD size, const char* path) {
    return ReadIniWithOverride(outlinkwatch::CurrentOs(), section, key, defaultValue, buffer, size, path);
}

}  // namespace lumenutil
