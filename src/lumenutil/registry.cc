#include "lumenutil/registry.h"

#include <cstdio>
#include <memory>
#include <new>

#include "platform/os.h"

namespace lumenutil {
namespace {

using outlinkwatch::CurrentOs;
using outlinkwatch::kErrorMoreData;
using outlinkwatch::kErrorSuccess;
using outlinkwatch::Os;

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;

uint32_t ViewFlag(OSTYPE osType) { return osType == OSTYPE_X64 ? kRegView64 : 0; }

// A key this call opened; closed when the call returns, whatever happened.
class ScopedKey {
public:
    explicit ScopedKey(Os* os) : os_(os) {}
    ~ScopedKey() {
        if (opened_) os_->Registry()->CloseKey(key_);
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    bool Open(HKEY root, const std::string& subkey, uint32_t access, OSTYPE osType) {
        opened_ = os_->Registry()->OpenKey(root, subkey, access | ViewFlag(osType), &key_) == kErrorSuccess;
        return opened_;
    }
    bool Create(HKEY root, const std::string& subkey, OSTYPE osType) {
        opened_ = os_->Registry()->CreateKey(root, subkey, kRegAccessCreate | ViewFlag(osType), &key_) == kErrorSuccess;
        return opened_;
    }
    HKEY get() const { return key_; }

private:
    Os* os_;
    HKEY key_ = nullptr;
    bool opened_ = false;
};

bool BadKeyArgs(HKEY root, const std::string& subkey) { return root == nullptr || subkey.empty(); }

// Opens the existing key for set and writes one value.
uint32_t SetExisting(HKEY root, const std::string& subkey, const std::string& name, uint32_t type,
                     const uint8_t* data, uint32_t size, OSTYPE osType) {
    Os* os = CurrentOs();
    ScopedKey key(os);
    if (!key.Open(root, subkey, kRegAccessSet, osType)) return UTIL_E_OPENKEY;
    return os->Registry()->SetValue(key.get(), name, type, data, size) == kErrorSuccess ? UTIL_OK : UTIL_E_SETVALUE;
}

// Creates the key when missing and writes one value.
uint32_t CreateAndSet(HKEY root, const std::string& subkey, const std::string& name, uint32_t type,
                      const uint8_t* data, uint32_t size, OSTYPE osType) {
    Os* os = CurrentOs();
    ScopedKey key(os);
    if (!key.Create(root, subkey, osType)) return UTIL_E_CREATEKEY;
    return os->Registry()->SetValue(key.get(), name, type, data, size) == kErrorSuccess ? UTIL_OK : UTIL_E_SETVALUE;
}

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

}  // namespace

DWORD LumenReg::QueryRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName, DWORD& value,
                                 OSTYPE osType) {
    if (BadKeyArgs(root, subkey) || valueName.empty()) return UTIL_E_INVALIDARG;
    Os* os = CurrentOs();
    ScopedKey key(os);
    if (!key.Open(root, subkey, kRegAccessQuery, osType)) return UTIL_E_OPENKEY;
    // The caller's variable is the buffer: whatever the first four bytes are
    // land in it, and anything longer fails like any other error.
    uint32_t type = 0, size = sizeof(value);
    const uint32_t rc = os->Registry()->QueryValue(key.get(), valueName, &type, reinterpret_cast<uint8_t*>(&value), &size);
    return rc == kErrorSuccess ? UTIL_OK : UTIL_E_QUERYVALUE;
}

DWORD LumenReg::QueryRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName, DWORD& size,
                                 std::string& value, OSTYPE osType) {
    if (BadKeyArgs(root, subkey) || size == 0) return UTIL_E_INVALIDARG;
    // One zero byte past the caller's size ends a text stored without its
    // terminator. A size no allocation can meet is the caller's fault too.
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[static_cast<size_t>(size) + 1]());
    if (!buffer) return UTIL_E_INVALIDARG;
    value.clear();
    Os* os = CurrentOs();
    ScopedKey key(os);
    if (!key.Open(root, subkey, kRegAccessQuery, osType)) return UTIL_E_OPENKEY;
    uint32_t type = 0, bytes = static_cast<uint32_t>(size);
    const uint32_t rc = os->Registry()->QueryValue(key.get(), valueName, &type, buffer.get(), &bytes);
    size = bytes;
    if (rc == kErrorMoreData) return UTIL_E_MOREDATA;
    if (rc != kErrorSuccess) return UTIL_E_QUERYVALUE;
    value = reinterpret_cast<const char*>(buffer.get());
    return UTIL_OK;
}

DWORD LumenReg::QueryRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName, DWORD& size,
                                 BYTE* data, OSTYPE osType) {
    if (BadKeyArgs(root, subkey) || data == nullptr) return UTIL_E_INVALIDARG;
    Os* os = CurrentOs();
    ScopedKey key(os);
    if (!key.Open(root, subkey, kRegAccessQuery, osType)) return UTIL_E_OPENKEY;
    uint32_t type = 0, bytes = static_cast<uint32_t>(size);
    const uint32_t rc = os->Registry()->QueryValue(key.get(), valueName, &type, data, &bytes);
    size = bytes;
    if (rc == kErrorMoreData) return UTIL_E_MOREDATA;
    return rc == kErrorSuccess ? UTIL_OK : UTIL_E_QUERYVALUE;
}

DWORD LumenReg::SetRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName, DWORD value,
                               OSTYPE osType) {
    if (BadKeyArgs(root, subkey) || valueName.empty()) return UTIL_E_INVALIDARG;
    return SetExisting(root, subkey, valueName, kRegDword, reinterpret_cast<const uint8_t*>(&value), sizeof(value),
                       osType);
}

// The binary and text writes take an empty name: it is the key's default value.
DWORD LumenReg::SetRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName, const BYTE* data,
                               long length, OSTYPE osType) {
    if (BadKeyArgs(root, subkey) || data == nullptr) return UTIL_E_INVALIDARG;
    return SetExisting(root, subkey, valueName, kRegBinary, data, static_cast<uint32_t>(length), osType);
}

DWORD LumenReg::SetRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName,
                               const std::string& text, bool multi, OSTYPE osType) {
    if (BadKeyArgs(root, subkey)) return UTIL_E_INVALIDARG;
    return SetExisting(root, subkey, valueName, multi ? kRegMultiSz : kRegSz, Bytes(text),
                       static_cast<uint32_t>(text.size()), osType);
}

DWORD LumenReg::CreateRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName, BYTE* data,
                                  long length, OSTYPE osType) {
    if (BadKeyArgs(root, subkey) || data == nullptr) return UTIL_E_INVALIDARG;
    return CreateAndSet(root, subkey, valueName, kRegBinary, data, static_cast<uint32_t>(length), osType);
}

DWORD LumenReg::CreateRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName,
                                  const std::string& text, bool multi, OSTYPE osType) {
    if (BadKeyArgs(root, subkey)) return UTIL_E_INVALIDARG;
    return CreateAndSet(root, subkey, valueName, multi ? kRegMultiSz : kRegSz, Bytes(text),
                        static_cast<uint32_t>(text.size()), osType);
}

DWORD LumenReg::CreateRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName, DWORD value,
                                  OSTYPE osType) {
    if (BadKeyArgs(root, subkey) || valueName.empty()) return UTIL_E_INVALIDARG;
    return CreateAndSet(root, subkey, valueName, kRegDword, reinterpret_cast<const uint8_t*>(&value), sizeof(value),
                        osType);
}

DWORD LumenReg::DeleteRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName,
                                  OSTYPE osType) {
    if (BadKeyArgs(root, subkey)) return UTIL_E_INVALIDARG;
    Os* os = CurrentOs();
    ScopedKey key(os);
    if (!key.Open(root, subkey, kRegAccessDelete, osType)) return UTIL_E_OPENKEY;
    return os->Registry()->DeleteValue(key.get(), valueName) == kErrorSuccess ? UTIL_OK : UTIL_E_DELETEVALUE;
}

DWORD LumenReg::DeleteRegKey(HKEY root, const std::string& subkey, OSTYPE osType) {
    if (BadKeyArgs(root, subkey)) return UTIL_E_INVALIDARG;
    const uint32_t view = osType == OSTYPE_X64 ? kRegView64 : kRegView32;
    return CurrentOs()->Registry()->DeleteKey(root, subkey, view) == kErrorSuccess ? UTIL_OK : UTIL_E_DELETEKEY;
}

DWORD LumenReg::QueryRegKeyModifyTime(HKEY root, const std::string& subkey, char* out, DWORD outSize,
                                      OSTYPE osType) {
    if (BadKeyArgs(root, subkey) || out == nullptr) return UTIL_E_INVALIDARG;
    Os* os = CurrentOs();
    ScopedKey key(os);
    if (!key.Open(root, subkey, kRegAccessQuery, osType)) return UTIL_E_OPENKEY;
    outlinkwatch::LocalDate date;
    const uint32_t rc = os->Registry()->KeyWriteDate(key.get(), &date);
    if (rc != kErrorSuccess) return rc;
    std::snprintf(out, outSize, "%d-%02d-%02d", date.year, date.month, date.day);
    return UTIL_OK;
}

}  // namespace lumenutil
