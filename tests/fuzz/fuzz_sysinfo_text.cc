// Feeds arbitrary bytes as os-release and as a DMI file's text.
#include "fuzz_input.h"
#include "platform/linux/sysinfo_linux.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace outlinkwatch::linuxsys;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string name = OsReleaseNameOf(text);
    // One line's value, found in the text; written back as PRETTY_NAME it reads the same.
    Check(name.find('\n') == std::string::npos && text.find(name) != std::string::npos);
    Check(name.empty() || OsReleaseNameOf("NAME=x\nPRETTY_NAME=\"" + name + "\"") == name);
    const std::string dmi = TrimmedSysText(text);
    Check(text.compare(0, dmi.size(), dmi) == 0 && TrimmedSysText(dmi) == dmi &&
          text.find_first_not_of("\r\n ", dmi.size()) == std::string::npos);
    return 0;
}
