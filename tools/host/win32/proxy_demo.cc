// The proxy demo of the Linux host seeds a private registry directory and
// home; under Windows (and Wine) the built-in demo sets the user's
// Internet Explorer setting in the real registry instead (demo_desktop),
// so this demo is refused with a pointer to that one.
#include "proxy_demo.h"

namespace owhost {

bool ProxyDemo::Prepare(uint16_t, std::string* error) {
    *error = "--demo proxy: runs on the Linux host; the Windows host's built-in demo checks the proxy itself";
    return false;
}

bool ProxyDemo::StartSwitchOff(std::string*) { return false; }

void ProxyDemo::Stop() {}

}  // namespace owhost
