// Under Windows (and Wine) the proxy demo's user is the real one: the demo
// desktop (demo_desktop.cc) starts AGENTUI.exe and sets the user's Internet
// Explorer setting in the real registry, for both built-in demos. Nothing
// is left to prepare here, and the setting stays on for the whole run.
#include "demo/proxy_demo.h"

namespace owhost {

bool ProxyDemo::Prepare(uint16_t, std::string*) {
    status_->Write("demo: the user's Internet Explorer setting is set in the registry; it stays on for the run");
    return true;
}

bool ProxyDemo::StartSwitchOff(std::string*) { return true; }

void ProxyDemo::Stop() {}

}  // namespace owhost
