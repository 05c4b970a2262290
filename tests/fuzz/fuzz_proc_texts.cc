// Feeds arbitrary bytes as a process's /proc texts: exe link target,
// cmdline and comm (split at the first two 0x01 bytes), and status.
#include "fuzz_input.h"
#include "platform/linux/users_linux.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace outlinkwatch::linuxusers;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t a = text.find('\1'), b = a == std::string::npos ? a : text.find('\1', a + 1);
    const std::string exe = text.substr(0, a), cmdline = a == b ? "" : text.substr(a + 1, b - a - 1);
    const std::string comm = b == std::string::npos ? "" : text.substr(b + 1);
    const ProcessNames names = NamesFromProcTexts(exe, cmdline, comm);
    // Bare file names, each a piece of its own text; a process answers to its own names.
    if (names.exeBase.find('/') != std::string::npos || names.argv0Base.find_first_of(std::string("/\\\0", 3)) !=
        std::string::npos || names.comm.find('\0') != std::string::npos) __builtin_trap();
    if (names.comm.size() > comm.size() || exe.find(names.exeBase) == std::string::npos) __builtin_trap();
    for (const std::string& own : {names.argv0Base, names.comm}) {  // a bare ".exe" names nothing
        if (own.size() > 4 || (!own.empty() && own.find_first_not_of(".eExX") != std::string::npos)) {
            if (!ImageNameMatches(own, names)) __builtin_trap();
        }
    }
    ProcessIds ids;
    ids.pid = 7;
    if (IdsFromStatus(text, &ids) && (ids.pid != 7 || text.find("\nGid:") == std::string::npos)) __builtin_trap();
    return 0;
}
