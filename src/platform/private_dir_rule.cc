#include "platform/private_dir_rule.h"

namespace outlinkwatch {
namespace {

// The Windows access rights of the write type, by value.
constexpr uint32_t kWriteData = 0x0002;        // FILE_WRITE_DATA, FILE_ADD_FILE
constexpr uint32_t kAppendData = 0x0004;       // FILE_APPEND_DATA, FILE_ADD_SUBDIRECTORY
constexpr uint32_t kWriteEa = 0x0010;          // FILE_WRITE_EA
constexpr uint32_t kDeleteChild = 0x0040;      // FILE_DELETE_CHILD
constexpr uint32_t kWriteAttributes = 0x0100;  // FILE_WRITE_ATTRIBUTES
constexpr uint32_t kDelete = 0x00010000;       // DELETE
constexpr uint32_t kWriteDac = 0x00040000;     // WRITE_DAC
constexpr uint32_t kWriteOwner = 0x00080000;   // WRITE_OWNER
constexpr uint32_t kSystemSecurity = 0x01000000;
constexpr uint32_t kMaximumAllowed = 0x02000000;
constexpr uint32_t kGenericAll = 0x10000000;
constexpr uint32_t kGenericWrite = 0x40000000;

constexpr uint32_t kWriteTypeRights = kWriteData | kAppendData | kWriteEa | kDeleteChild | kWriteAttributes |
                                      kDelete | kWriteDac | kWriteOwner | kSystemSecurity | kMaximumAllowed |
                                      kGenericAll | kGenericWrite;

}  // namespace

bool GrantsWriteType(uint32_t accessMask) { return (accessMask & kWriteTypeRights) != 0; }

bool IsPrivateDirectory(const DirectoryFacts& facts) {
    if (!facts.isDirectory || facts.isReparsePoint || !facts.hasAccessList) return false;
    if (facts.owner == Trustee::kOther) return false;
    for (const AccessEntry& entry : facts.entries) {
        // An inherited entry is the parent's to change, whoever owns it.
        if (entry.inherited) return false;
        if (entry.grantsWrite && entry.trustee == Trustee::kOther) return false;
    }
    return true;
}

}  // namespace outlinkwatch
