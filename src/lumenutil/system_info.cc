#include "lumenutil/system_info.h"
#include "base/text.h"

#include <cctype>

namespace lumenutil {

int LumenSystemInfo::Transform32To64(const int& code) {
    switch (code) {
        case 106: return 112;
        case 107: return 113;
        case 108: return 114;
        case 109: return 115;
        case 110: return 116;
        case 111: return 117;
        case 118: return 119;
        case 120: return 121;
        case 122: return 123;
        default: return -1;
    }
}

uint32_t OSCodeFromFacts(const outlinkwatch::OsVersionFacts& f, int want64, int& osCode,
                                          int& servicePackMajor) {
    osCode = -1;
    servicePackMajor = -1;
    if (!f.versionExOk || !f.ntNumbersOk) return UTIL_E_OSVERSION;
    servicePackMajor = f.servicePackMajor;

    const bool workstation = f.productType == 1;
    if (f.platformId == 0) {
        osCode = 100;
    } else if (f.platformId == 1) {
        if (f.major == 4 && f.minor == 0) osCode = 101;
        else if (f.major == 4 && f.minor == 10) osCode = 102;
        else if (f.major == 4 && f.minor == 90) osCode = 103;
    } else if (f.platformId == 2) {
        const uint32_t major = f.ntMajor, minor = f.ntMinor;
        if (major <= 4) osCode = 104;
        else if (major == 5 && minor == 0) osCode = 105;
        else if (major == 5 && minor == 1) osCode = 106;
        else if (major == 5 && minor == 2) osCode = workstation ? 106 : 107;
        else if (major == 6 && minor == 0) osCode = workstation ? 108 : 110;
        else if (major == 6 && minor == 1) osCode = workstation ? 109 : 111;
        else if (major == 6 && minor >= 2) osCode = (f.equalsMajor6 && f.equalsMinor3) ? 120 : 118;
        else osCode = 122;
    }
    if (f.is64bit && want64 != 0 && osCode >= 106 && osCode <= 122) osCode = LumenSystemInfo::Transform32To64(osCode);
    return UTIL_OK;
}

DWORD LumenSystemInfo::GetOSVersionInfo(int& osCode, int& servicePackMajor, int want64) {
    return OSCodeFromFacts(outlinkwatch::CurrentOs()->System()->VersionFacts(), want64, osCode, servicePackMajor);
}

// --- users and profiles

namespace {


}  // namespace

CAutoCloseHandle::~CAutoCloseHandle() {
    if (m_handle != nullptr && m_handle != InvalidHandleValue()) outlinkwatch::CurrentOs()->Kernel()->CloseObject(m_handle);
    m_handle = nullptr;
}

CAutoFreeLibrary::~CAutoFreeLibrary() {
    if (m_module != nullptr && m_module != InvalidHandleValue()) outlinkwatch::CurrentOs()->System()->UnloadModule(m_module);
    m_module = nullptr;
}

bool ParseSidText(const std::string& text, SidValue* sid) {
    constexpr size_t kMaxFields = 2 + kMaxSubAuthorities;
    uint32_t fields[kMaxFields];
    size_t count = 0;
    size_t pos = 1;
    if (text.empty() || text[0] != 'S') return false;
    while (count < kMaxFields && pos < text.size() && text[pos] == '-') {
        size_t p = pos + 1;
        uint64_t value = 0;
        while (p < text.size() && text[p] >= '0' && text[p] <= '9' && value <= 0xFFFFFFFFu) {
            value = value * 10 + static_cast<uint64_t>(text[p] - '0');
            ++p;
        }
        if (p == pos + 1 || value > 0xFFFFFFFFu) break;
        fields[count++] = static_cast<uint32_t>(value);
        pos = p;
    }
    if (count < 3) return false;
    sid->authority = fields[1];
    sid->subAuthorities.assign(fields + 2, fields + count);
    return true;
}

uint32_t TokenByName(outlinkwatch::Os* os, const std::string& imageName, outlinkwatch::Handle& token,
                     uint32_t& sessionId) {
    if (imageName.empty()) return UTIL_E_INVALIDARG;
    switch (os->Users()->OpenProcessTokenByImage(imageName, &token, &sessionId)) {
        case outlinkwatch::UserStatus::kOk: return UTIL_OK;
        case outlinkwatch::UserStatus::kSnapshotFailed: return UTIL_E_SNAPSHOT;
        default: return UTIL_E_NOPROCESS;
    }
}

uint32_t CurrentUserSid(outlinkwatch::Os* os, const std::string& imageName, std::string& userKeyName) {
    outlinkwatch::Handle token = nullptr;
    uint32_t sessionId = 0;
    // The token goes on every path, through the process's own Os or this one.
    const OsHandleGuard closer{os, token};
    if (TokenByName(os, imageName, token, sessionId) != UTIL_OK) return UTIL_E_NOPROCESS;
    return UserKeyNameOfToken(os, token, userKeyName);
}

uint32_t UserKeyNameOfToken(outlinkwatch::Os* os, outlinkwatch::Handle token, std::string& userKeyName) {
    std::string sidText;
    switch (os->Users()->TokenUserSid(token, &sidText)) {
        case outlinkwatch::UserStatus::kOk: break;
        case outlinkwatch::UserStatus::kNoMemory: return UTIL_E_NOMEMORY;
        default: return UTIL_E_NOUSERSID;
    }
    SidValue user;
    if (!ParseSidText(sidText, &user)) return UTIL_E_NOUSERSID;

    std::vector<std::string> keys;
    if (!os->Users()->UserKeyNames(&keys)) return UTIL_E_OPENKEY;
    // Every key is read as a SID and compared with the user's; the default
    // profile and the per-user class keys are never a user's key. The walk
    // goes to the end, so the last matching key wins.
    bool found = false;
    for (const std::string& name : keys) {
        if (outlinkwatch::EqualsIgnoreAsciiCase(name, ".default") || name.find("Classes") != std::string::npos) continue;
        SidValue key;
        if (!ParseSidText(name, &key)) continue;
        if (key.authority == user.authority && key.subAuthorities == user.subAuthorities) {
            userKeyName = name;
            found = true;
        }
    }
    return found ? UTIL_OK : UTIL_E_NOUSERSID;
}

DWORD LumenSystemInfo::GetTokenByName(const std::string& imageName, HANDLE& token, DWORD& sessionId) {
    uint32_t session = static_cast<uint32_t>(sessionId);
    const uint32_t rc = TokenByName(outlinkwatch::CurrentOs(), imageName, token, session);
    sessionId = session;
    return rc;
}

DWORD LumenSystemInfo::GetCurrentUserSID(const std::string& imageName, std::string& userKeyName) {
    return CurrentUserSid(outlinkwatch::CurrentOs(), imageName, userKeyName);
}

}  // namespace lumenutil
