// The XML value operations across the library boundary: the plug-in exports
// them, and a module built apart (as an agent is) binds to those exports
// rather than to copies of its own.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

namespace {

const char* const kAssignments[] = {"_ZN9attributeaSERKS_",    "_ZN11attribute_uaSERKS_",
                                    "_ZN7elementaSERKS_",      "_ZN9element_uaSERKS_",
                                    "_ZN12CIAXMLParseraSERKS_", "_ZN14CIAXMLParser_uaSERKS_"};
const char* const kOthers[] = {"_ZN9attributeC1ERKS_",      "_ZN9attributeD1Ev",
                               "_ZN11attribute_uC1ERKS_",   "_ZN11attribute_uD1Ev",
                               "_ZN7elementC1ERKS_",        "_ZN9element_uC1ERKS_",
                               "_ZN12CIAXMLParserC1ERKS_",  "_ZN14CIAXMLParser_uC1ERKS_"};

// The dynamic symbols of a file as nm lists them; empty without nm.
std::set<std::string> DynamicSymbols(const std::string& file, bool undefined) {
    std::set<std::string> names;
    const std::string cmd = "nm -D " + std::string(undefined ? "--undefined-only " : "--defined-only ") + "'" + file + "' 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return names;
    char line[1024];
    while (std::fgets(line, sizeof line, p) != nullptr) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        const size_t sp = s.rfind(' ');
        names.insert(sp == std::string::npos ? s : s.substr(sp + 1));
    }
    pclose(p);
    return names;
}

TEST(XmlBoundaryTest, AgentModuleUsesThePluginsExports) {
    void* plugin = dlopen(OW_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    void* fixture = dlopen(OW_XML_FIXTURE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(plugin, nullptr) << dlerror();
    ASSERT_NE(fixture, nullptr) << dlerror();

    using AssignmentsFn = void (*)(void**);
    using RoundTripFn = int (*)();
    auto assignments = reinterpret_cast<AssignmentsFn>(dlsym(fixture, "OwXmlAssignments"));
    auto roundTrip = reinterpret_cast<RoundTripFn>(dlsym(fixture, "OwXmlRoundTrip"));
    ASSERT_TRUE(assignments && roundTrip);
    EXPECT_EQ(roundTrip(), 1);

    void* seen[6] = {};
    assignments(seen);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(kAssignments[i]);
        EXPECT_EQ(seen[i], dlsym(plugin, kAssignments[i])) << "bound to the plug-in's export";
        Dl_info info;
        ASSERT_NE(dladdr(seen[i], &info), 0);
        EXPECT_NE(std::string(info.dli_fname).find("OutlinkWatch"), std::string::npos) << info.dli_fname;
    }

    // What the linker saw: the module leaves every operation to the plug-in.
    const std::set<std::string> wanted = DynamicSymbols(OW_XML_FIXTURE_PATH, true);
    const std::set<std::string> exported = DynamicSymbols(OW_PLUGIN_PATH, false);
    if (wanted.empty()) GTEST_SKIP() << "nm not available";
    std::set<std::string> all(std::begin(kAssignments), std::end(kAssignments));
    all.insert(std::begin(kOthers), std::end(kOthers));
    for (const std::string& name : all) {
        EXPECT_EQ(wanted.count(name), 1u) << "the module's own copy of " << name;
        EXPECT_EQ(exported.count(name), 1u) << name;
    }
    dlclose(fixture);
    dlclose(plugin);
}

}  // namespace
