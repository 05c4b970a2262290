#include "nfw/nfw_frame.h"
#include "base/text.h"

#include <algorithm>
#include <cstdio>

namespace outlinkwatch {
namespace nfw {

void PutU32(uint32_t value, uint8_t* out) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t GetU32(const uint8_t* in) {
    return uint32_t{in[0]} | (uint32_t{in[1]} << 8) | (uint32_t{in[2]} << 16) | (uint32_t{in[3]} << 24);
}

std::vector<uint8_t> EncodeFrame(uint32_t code, const void* input, uint32_t length) {
    if (input == nullptr) length = 0;
    std::vector<uint8_t> frame(kHeaderBytes + length);
    PutU32(code, frame.data());
    PutU32(length, frame.data() + 4);
    if (length > 0) {
        const uint8_t* bytes = static_cast<const uint8_t*>(input);
        std::copy(bytes, bytes + length, frame.begin() + kHeaderBytes);
    }
    return frame;
}

std::string DeviceFileName(const std::string& devicePath) {
    static const std::string kPrefix = "\\\\.\\";
    if (devicePath.compare(0, kPrefix.size(), kPrefix) != 0) return std::string();
    std::string name = devicePath.substr(kPrefix.size());
    if (name.empty() || name.size() > 64) return std::string();
    for (char& c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                           c == '-';
        if (!plain) return std::string();
        c = AsciiToLower(c);
    }
    return name;
}

std::string DeviceSocketPath(const std::string& dir, const std::string& fileName) {
    std::string base = dir.empty() ? std::string(kDefaultDeviceDir) : dir;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/" + fileName;
}

namespace {

FrameResult Malformed(std::string why) {
    FrameResult r;
    r.status = FrameStatus::kMalformed;
    r.error = std::move(why);
    return r;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(value));
    return text;
}

}  // namespace

FrameResult ReadFrame(const uint8_t* data, size_t size) {
    FrameResult r;
    if (data == nullptr || size < kHeaderBytes) return r;
    const uint32_t code = GetU32(data);
    const uint32_t length = GetU32(data + 4);
    if (code == kSetDenyList) {
        if (length > kMaxDenyListBytes) {
            return Malformed("deny list of " + std::to_string(length) + " bytes, at most " +
                             std::to_string(kMaxDenyListBytes));
        }
        if (length % 4 != 0) {
            return Malformed("deny list of " + std::to_string(length) + " bytes, not a multiple of 4");
        }
    } else if (code == kCutNetwork) {
        if (length != 0) return Malformed("network cut with " + std::to_string(length) + " input bytes");
    } else {
        return Malformed("unknown control code " + Hex(code));
    }
    if (size - kHeaderBytes < length) return r;

    r.status = FrameStatus::kComplete;
    r.consumed = kHeaderBytes + length;
    r.command.code = code;
    for (uint32_t off = 0; off < length; off += 4) {
        const uint32_t entry = GetU32(data + kHeaderBytes + off);
        if (entry != 0) r.command.denied.push_back(entry);
    }
    return r;
}

std::string DottedAddress(uint32_t hostOrder) {
    return std::to_string(hostOrder >> 24) + "." + std::to_string((hostOrder >> 16) & 0xFF) + "." +
           std::to_string((hostOrder >> 8) & 0xFF) + "." + std::to_string(hostOrder & 0xFF);
}

}  // namespace nfw
}  // namespace outlinkwatch
