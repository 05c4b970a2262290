#include "demo/outside_server.h"

#include <system_error>

namespace owhost {

bool OutsideServer::Start(std::string* error) {
    if (!PrepareWait()) {
        *error = "demo outside server: cannot start";
        return false;
    }
    try {
        thread_ = std::thread([this] { Serve(); });
    } catch (const std::system_error& e) {
        *error = std::string("demo outside server: ") + e.what();
        return false;
    }
    return true;
}

}  // namespace owhost
