#pragma once

#include <string>

// A proxy found in a browser's settings.
struct ProxyRecord {
    std::string strProtocol;  // protocol label
    std::string strHost;      // host as written
    std::string strAddr;      // one resolved dotted address
};
