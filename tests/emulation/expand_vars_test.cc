// Percent variables: known names (looked up in capitals) are replaced, others
// and a lone '%' stay as written; a result of exactly cap bytes fits.
#include <gtest/gtest.h>

#include "emulation/expand_vars.h"

namespace outlinkwatch {
namespace {

TEST(ExpandVarsTest, Table) {
    const auto lookup = [](const std::string& name, std::string* value) {
        return (name == "HOME" || name == "X") && (*value = "/h", true);
    };
    const struct { const char* text; size_t cap; const char* out; } rows[] = {
        {"%home%/x%", 5, "/h/x%"}, {"%home%/x%", 4, nullptr}, {"%%a%x%", 5, "%%a/h"}, {"%HOME%", 2, "/h"},
        {"%HOME%", 1, nullptr}};
    for (const auto& r : rows) {
        std::string out = "unchanged";
        EXPECT_EQ(ExpandPercentVariables(r.text, r.cap, lookup, &out), r.out != nullptr) << r.text << " " << r.cap;
        EXPECT_EQ(out, r.out ? r.out : "unchanged") << r.text << " " << r.cap;
    }
}

}  // namespace
}  // namespace outlinkwatch
