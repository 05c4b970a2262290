// Language texts of the utility library: the language map read from
// "language/langmap.ini" beside the host executable, and texts read from the
// per-language files with their customer override files.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "lumenutil/file_util.h"
#include "outlinkwatch/export.h"

namespace outlinkwatch {
class Os;
}

namespace lumenutil {

struct LangEntry {
    std::string name;
    std::string abbr;
    std::string stdName;  // the loader never fills it
};

class LangMap {
public:
    // Reads the map file beside the host executable; a missing file leaves
    // the map empty and not loaded.
    void Load(outlinkwatch::Os* os);
    // Reads map lines from text (for the loader and for tests).
    void LoadText(const std::string& text);

    bool loaded() const { return m_bLoaded; }
    int GetLangID(const std::string& name) const;
    std::string GetLangAbbr(int id) const;
    std::string GetLangName(int id) const;
    std::string GetLangStdName(int id) const;
    std::string GetLangNameByAbbr(const std::string& abbr) const;
    std::string Print() const;

private:
    std::string FieldOf(int id, std::string LangEntry::*field) const;

    std::map<int32_t, LangEntry> m_mapLang;
    bool m_bLoaded = false;
};

// The process-wide map, loaded on first use and, while it could not be
// read, looked for again at each use.
const LangMap& GlobalLangMap();
// Loads the process-wide map again, from the current Os.
void ReloadLangMapForTesting();
// Frees the maps when the module is unloaded.
void ReleaseLangMaps();

// Directory of a path: the part before its last separator; the whole path
// without one; the separator itself when it stands only at the start.
std::string DirectoryOf(const std::string& path, char sep);

// Reads a key, preferring a non-empty value from the "_cust.ini" twin of the
// file. Returns the number of characters copied, as the ini reader counts.
uint32_t ReadIniWithOverride(outlinkwatch::Os* os, const char* section, const char* key,
                             const char* defaultValue, char* buffer, uint32_t size, const char* path);

OW_EXPORT int GetLangID(const std::string& name);
OW_EXPORT std::string GetLangAbbr(int id);
OW_EXPORT std::string GetLangName(int id);
OW_EXPORT std::string GetLangStdName(int id);
OW_EXPORT std::string GetLangNameByAbbr(const std::string& abbr);
OW_EXPORT void PrintLangMap();
OW_EXPORT std::string getStringFromLangIni(const std::string& section, const std::string& key, int langId);

}  // namespace lumenutil
