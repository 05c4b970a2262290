// Linux has no desktop process or browser setting for the demo to stand
// for: nothing is set up and nothing is said.
#include "demo/demo_desktop.h"

namespace owhost {

const char* const kDemoAllowedProxy = "";

struct DemoDesktop::State {};

DemoDesktop::DemoDesktop(LineSink* status) : status_(status) {}
DemoDesktop::~DemoDesktop() { Stop(); }
void DemoDesktop::Start(const std::string&) { (void)status_; }
void DemoDesktop::Stop() {}

}  // namespace owhost
