// The route trace's temporary directory on Windows. The service runs as
// LocalSystem, whose GetTempPathA is C:\Windows\Temp\, where every user may
// create files and folders; the trace names its output file after the
// current second, so a name there is a name anyone can take first. The
// directory handed out is one only the system, the administrators and this
// process's own account can write: GetTempPath2A's where the system has it
// (C:\Windows\SystemTemp\ for LocalSystem), else a folder of our own in
// the GetTempPathA directory, made with an access list of its own and
// checked on its open handle at every call.
#include "platform/win32/win32_api.h"

#include <aclapi.h>
#include <bcrypt.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/private_dir_rule.h"

namespace outlinkwatch {
namespace win32 {
namespace {

constexpr DWORD kMaxTempPathChars = 32768;
constexpr int kFreshNameAttempts = 8;
constexpr size_t kRandomBytes = 12;

using GetTempPath2AFn = DWORD(WINAPI*)(DWORD, LPSTR);

struct LocalDeleter {
    void operator()(void* p) const { LocalFree(p); }
};
using LocalPtr = std::unique_ptr<void, LocalDeleter>;

struct HandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

// This process's account (the token's user), as a copy of its SID.
std::vector<BYTE> SelfSid() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
    OwnedHandle token(raw);
    DWORD needed = 0;
    GetTokenInformation(raw, TokenUser, nullptr, 0, &needed);
    if (needed == 0 || needed > 4096) return {};
    std::vector<BYTE> info(needed);
    if (!GetTokenInformation(raw, TokenUser, info.data(), needed, &needed)) return {};
    const PSID sid = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
    if (!IsValidSid(sid)) return {};
    const DWORD length = GetLengthSid(sid);
    std::vector<BYTE> copy(length);
    if (!CopySid(length, copy.data(), sid)) return {};
    return copy;
}

Trustee TrusteeOf(PSID sid, PSID self) {
    if (sid == nullptr || !IsValidSid(sid)) return Trustee::kOther;
    if (IsWellKnownSid(sid, WinLocalSystemSid)) return Trustee::kSystem;
    if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return Trustee::kAdministrators;
    if (EqualSid(sid, self)) return Trustee::kSelf;
    return Trustee::kOther;
}

// Reads the facts on the directory's own handle: opened without following
// a reparse point, so a junction or link planted under the name is seen as
// what it is.
bool ReadDirectoryFacts(const std::string& dir, PSID self, DirectoryFacts* facts) {
    HANDLE raw = CreateFileA(dir.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (raw == INVALID_HANDLE_VALUE) return false;
    OwnedHandle handle(raw);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(raw, &info)) return false;
    facts->isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts->isReparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;

    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(raw, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &sd) != ERROR_SUCCESS) {
        return false;
    }
    LocalPtr keep(sd);
    facts->owner = TrusteeOf(owner, self);
    facts->hasAccessList = dacl != nullptr;
    facts->entries.clear();
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return false;
        const ACE_HEADER* header = static_cast<ACE_HEADER*>(ace);
        AccessEntry entry;
        entry.inherited = (header->AceFlags & INHERITED_ACE) != 0;
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            entry.trustee = TrusteeOf(reinterpret_cast<PSID>(&allowed->SidStart), self);
            entry.grantsWrite = GrantsWriteType(allowed->Mask);
        } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
            auto* denied = static_cast<ACCESS_DENIED_ACE*>(ace);
            entry.trustee = TrusteeOf(reinterpret_cast<PSID>(&denied->SidStart), self);
        } else {
            // Kinds of entry not looked into count as someone else's write.
            entry.grantsWrite = true;
        }
        facts->entries.push_back(entry);
    }
    return true;
}

bool Private(const std::string& dir, PSID self) {
    DirectoryFacts facts;
    return ReadDirectoryFacts(dir, self, &facts) && IsPrivateDirectory(facts);
}

// Makes dir with full control for the system, the administrators and this
// process's account (the one that runs the trace command), inherited by
// what is made inside, and nothing inherited from the parent. The owner
// is left to the token's default: a process may not name another owner.
bool MakePrivateDirectory(const std::string& dir, PSID self) {
    LPSTR selfText = nullptr;
    if (!ConvertSidToStringSidA(self, &selfText)) return false;
    LocalPtr keepText(selfText);
    std::string sddl = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    if (!IsWellKnownSid(self, WinLocalSystemSid) && !IsWellKnownSid(self, WinBuiltinAdministratorsSid)) {
        sddl += std::string("(A;OICI;FA;;;") + selfText + ")";
    }
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr)) return false;
    LocalPtr keepSd(sd);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), sd, FALSE};
    return CreateDirectoryA(dir.c_str(), &attributes) != FALSE;
}

// "-" and 24 hex digits from the system's random number generator.
bool RandomSuffix(std::string* suffix) {
    unsigned char bytes[kRandomBytes];
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof(bytes), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
    char text[2 * kRandomBytes + 2] = "-";
    for (size_t i = 0; i < kRandomBytes; ++i) std::snprintf(text + 1 + 2 * i, 3, "%02x", bytes[i]);
    *suffix = text;
    return true;
}

// The directory with its separator, when it fits a buffer of bufferSize
// bytes with its terminator, as GetTempPathA's answer must.
bool Answer(const std::string& dir, uint32_t bufferSize, std::string* path) {
    if (dir.size() + 1 >= bufferSize) return false;
    *path = dir + "\\";
    return true;
}

}  // namespace

bool PrivateTempDirectory(uint32_t bufferSize, std::string* path) {
    const auto tempPath2 =
        ProcAs<GetTempPath2AFn>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTempPath2A"));
    if (tempPath2 != nullptr) {
        std::string buf(bufferSize, '\0');
        const DWORD n = tempPath2(bufferSize, &buf[0]);
        if (n == 0 || n >= bufferSize) return false;  // failure, or the size it needs
        path->assign(buf.data(), n);
        return true;
    }

    std::string base(kMaxTempPathChars, '\0');
    const DWORD n = GetTempPathA(kMaxTempPathChars, &base[0]);
    if (n == 0 || n >= kMaxTempPathChars) return false;
    base.resize(n);
    if (base.back() != '\\') base += '\\';
    std::vector<BYTE> self = SelfSid();
    if (self.empty()) return false;
    const PSID selfSid = self.data();

    const std::string usual = base + kPrivateTempName;
    MakePrivateDirectory(usual, selfSid);  // fails when it is there already
    if (Private(usual, selfSid)) return Answer(usual, bufferSize, path);

    // Someone else has the name, or it is not fit: a fresh name nobody can
    // guess, kept for the process's life and checked like the usual one.
    static std::mutex mu;
    static std::string fresh;
    std::lock_guard<std::mutex> lock(mu);
    if (!fresh.empty() && Private(fresh, selfSid)) return Answer(fresh, bufferSize, path);
    for (int attempt = 0; attempt < kFreshNameAttempts; ++attempt) {
        std::string suffix;
        if (!RandomSuffix(&suffix)) return false;
        const std::string candidate = usual + suffix;
        if (MakePrivateDirectory(candidate, selfSid) && Private(candidate, selfSid)) {
            fresh = candidate;
            return Answer(fresh, bufferSize, path);
        }
    }
    return false;
}

}  // namespace win32
}  // namespace outlinkwatch
