// The XML value operations across the library boundary: the plug-in exports
// them, and a module built apart (as an agent is) binds to those exports
// rather than to copies of its own.
#include <dlfcn.h>
#include <gtest/gtest.h>

namespace {

const char* const kAssignments[] = {"_ZN9attributeaSERKS_",    "_ZN11attribute_uaSERKS_",
                                    "_ZN7elementaSERKS_",      "_ZN9element_uaSERKS_",
                                    "_ZN12CIAXMLParseraSERKS_", "_ZN14CIAXMLParser_uaSERKS_"};
const char* const kOthers[] = {"_ZN9attributeC1ERKS_",      "_ZN9attributeD1Ev",
                               "_ZN11attribute_uC1ERKS_",   "_ZN11attribute_uD1Ev",
                               "_ZN7elementC1ERKS_",        "_ZN9element_uC1ERKS_",
                               "_ZN12CIAXMLParserC1ERKS_",  "_ZN14CIAXMLParser_uC1ERKS_"};

TEST(XmlBoundaryTest, AgentModuleUsesThePluginsExports) {
    void* plugin = dlopen(OW_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    void* fixture = dlopen(OW_XML_FIXTURE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(plugin, nullptr) << dlerror();
    ASSERT_NE(fixture, nullptr) << dlerror();

    auto assignments = reinterpret_cast<void (*)(void**)>(dlsym(fixture, "OwXmlAssignments"));
    ASSERT_NE(assignments, nullptr);

    void* seen[6] = {};
    assignments(seen);
    // The same address as the plug-in's export is the plug-in's code, not a copy in the module.
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(seen[i] != nullptr && seen[i] == dlsym(plugin, kAssignments[i])) << kAssignments[i];
    }

    // The copy constructors and destructors are exported as well.
    for (const char* name : kOthers) EXPECT_NE(dlsym(plugin, name), nullptr) << name;
    dlclose(fixture);
    dlclose(plugin);
}

}  // namespace
