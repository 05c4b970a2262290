// On Windows the plug-in talks to the filter driver's device \\.\NFW
// itself; there is no stand-in to start. Start only tells whether the
// device is there, so that the demo can say what its blocks will do.
#include "demo/nfw_child.h"

#include <windows.h>

namespace owhost {

bool NfwChild::Start(const std::string&, std::string* error) {
    HANDLE device = CreateFileA("\\\\.\\NFW", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        *error = "the device \\\\.\\NFW cannot be opened (error " + std::to_string(GetLastError()) +
                 "), and Windows has no stand-in for it";
        return false;
    }
    CloseHandle(device);
    status_->Write("nfw: the filter device \\\\.\\NFW is there; blocks go to the driver");
    return true;
}

void NfwChild::Stop() {}

}  // namespace owhost
