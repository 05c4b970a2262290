// Result codes of the utility library: 0 is success, 0x2xxxxxxx a fault of
// the caller's arguments or buffer, 0x3xxxxxxx a failed system call.
#pragma once

#include <cstdint>

namespace lumenutil {

constexpr uint32_t UTIL_OK = 0;
constexpr uint32_t UTIL_E_INVALIDARG = 0x20000003;
constexpr uint32_t UTIL_E_MOREDATA = 0x2000000C;
constexpr uint32_t UTIL_E_CREATEKEY = 0x30000008;
constexpr uint32_t UTIL_E_SETVALUE = 0x30000009;
constexpr uint32_t UTIL_E_OPENKEY = 0x3000000A;
constexpr uint32_t UTIL_E_QUERYVALUE = 0x3000000B;
constexpr uint32_t UTIL_E_DELETEKEY = 0x3000000D;
constexpr uint32_t UTIL_E_DELETEVALUE = 0x3000000E;

}  // namespace lumenutil
