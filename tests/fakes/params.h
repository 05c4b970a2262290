// Parameter records as an agent builds them.
#pragma once

#include <list>
#include <string>

#include "outlinkwatch/records.h"

namespace outlinkwatch {

inline PolicyParam Param(const std::string& name, const std::string& value, int kind = 0) {
    PolicyParam p;
    p.tag = "param";
    p.name = name;
    p.value = value;
    p.kind = kind;
    return p;
}

// A group record whose occurrences sit under its own name.
inline PolicyParam Group(const std::string& name, const std::list<std::list<PolicyParam>>& occurrences) {
    PolicyParam g = Param(name, "", 1);
    g.children[name] = occurrences;
    return g;
}

}  // namespace outlinkwatch
