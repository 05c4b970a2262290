// %name% expansion as ExpandEnvironmentStrings does it, for the backends
// that have no such call and for the test fake.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace outlinkwatch {

// A name is looked up in upper case (so without regard to case); an
// unknown one, or a lone '%', stays as written. False when the result is
// longer than cap bytes.
bool ExpandPercentVariables(const std::string& text, size_t cap,
                            const std::function<bool(const std::string& upperName, std::string* value)>& lookup,
                            std::string* out);

}  // namespace outlinkwatch
