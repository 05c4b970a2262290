// Version resources of Windows files read on Linux, on DLLs the build makes
// with the mingw resource compiler (64-bit, and the same image turned into
// a 32-bit one), and through LumenFile on the backend of this build.
#include <gtest/gtest.h>

#include "lumenutil/file_util.h"
#include "emulation/pe_version.h"

namespace outlinkwatch {
namespace {

TEST(PeVersionTest, ItemsOfBuiltImages) {
    const std::string dir = OW_PE_SAMPLES_DIR;
    if (dir.empty()) GTEST_SKIP() << "no mingw resource compiler at configure time";
    struct Row {
        const char* file;
        const char* item;
        const char* value;  // null: not found
    };
    const Row rows[] = {
        {"version", "FileVersion", "1.2.3.4"},
        {"version", "productname", "Outlink Sample"},  // names compare without case
        {"version", "Comments", "Gr\u00fc\u00dfe \u4e2d\u6587"},
        {"version", "CompanyName", nullptr},
        {"translations", "FileVersion", "5.0 chinese"},  // the first translation's table
        {"noversion", "FileVersion", nullptr},
        {"notranslation", "FileVersion", nullptr},
    };
    for (const char* bits : {"64", "32"}) {
        for (const Row& r : rows) {
            const std::string path = dir + "/" + r.file + bits + ".dll";
            SCOPED_TRACE(path + " " + r.item);
            std::string value = "unchanged";
            EXPECT_EQ(PeFileVersionItem(path, r.item, &value), r.value != nullptr);
            EXPECT_EQ(value, r.value ? r.value : "unchanged");
            std::string out = "unchanged";
            EXPECT_EQ(lumenutil::LumenFile::GetFileVerInfo(path.c_str(), r.item, out), lumenutil::UTIL_OK);
            EXPECT_EQ(out, r.value ? r.value : "unchanged");
        }
    }
}

}  // namespace
}  // namespace outlinkwatch
