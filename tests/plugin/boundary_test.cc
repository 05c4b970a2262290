// The agent boundary as a separately built agent meets it: the plug-in is
// loaded with dlopen and shows its entry points only (the host test drives a
// loaded plug-in through a whole run); an agent from another shared object is
// recognised by the checked cast; a module built apart (as an agent is)
// binds to the plug-in's XML value operations rather than to copies.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <regex>

#include "outlinkwatch/plugin.h"
#include "plugin/policy.h"

namespace outlinkwatch {
namespace {

struct Library {
    explicit Library(const char* path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (handle != nullptr) dlclose(handle);
    }
    template <typename T>
    T Symbol(const char* name) {
        return reinterpret_cast<T>(dlsym(handle, name));
    }
    void* handle;
};

TEST(BoundaryTest, AgentFromAnotherSharedObjectPassesTheCheckedCast) {
    Library fixture(OW_FIXTURE_PATH);
    ASSERT_NE(fixture.handle, nullptr) << dlerror();
    auto agent = fixture.Symbol<IUnknown* (*)()>("OwFixtureAgent");
    auto other = fixture.Symbol<IUnknown* (*)()>("OwFixtureOther");
    auto lastLog = fixture.Symbol<const char* (*)(int)>("OwFixtureLastLog");
    ASSERT_TRUE(agent && other && lastLog);

    CPolicy policy;
    policy.Initialize("policy.win.outlink.watch");
    policy.SetAgent(agent());
    EXPECT_NE(policy.GetCheckedAgent(), nullptr);
    EXPECT_EQ(policy.GetLangString("rsTitle"), "OutlinkWatch:rsTitle");
    policy.WriteLog(2, "F", 1, "to the agent");
    EXPECT_STREQ(lastLog(0), "[F] [line=1]to the agent");

    // Not an agent: no checked call, but the direct log call still happens.
    policy.SetAgent(other());
    EXPECT_EQ(policy.GetCheckedAgent(), nullptr);
    EXPECT_EQ(policy.GetLangString("rsTitle"), "");
    policy.WriteLog(2, "F", 2, "direct");
    EXPECT_STREQ(lastLog(1), "[F] [line=2]direct");

    policy.SetAgent(nullptr);
    EXPECT_EQ(policy.GetLangString("rsTitle"), "");
}

TEST(BoundaryTest, LoadedPluginShowsOnlyItsInterfaces) {
    Library plugin(OW_PLUGIN_PATH);
    ASSERT_NE(plugin.handle, nullptr) << dlerror();
    auto list = plugin.Symbol<PFN_GetInterfaceList>("GetInterfaceList");
    auto create = plugin.Symbol<PFN_CreateObject>("CreateObject");
    auto query = plugin.Symbol<PFN_QuerySupportedCommand>("QuerySupportedCommand");
    ASSERT_TRUE(list && create && query);
    EXPECT_EQ(plugin.Symbol<void*>("g_bExit"), nullptr) << "internals stay hidden";

    ComponentInfo* info = nullptr;
    ASSERT_EQ(list(&info), 1);
    EXPECT_STREQ(info->pszInterfaceName, "IPolicy");
    EXPECT_TRUE(std::regex_match(info->pszBuildDate, std::regex("[A-Z][a-z]{2} [1-9][0-9]? [0-9]{4}")))
        << info->pszBuildDate;
    EXPECT_EQ(query("x"), -1);
}

TEST(XmlBoundaryTest, AgentModuleUsesThePluginsExports) {
    const char* const assignments[] = {"_ZN9attributeaSERKS_",    "_ZN11attribute_uaSERKS_",
                                       "_ZN7elementaSERKS_",      "_ZN9element_uaSERKS_",
                                       "_ZN12CIAXMLParseraSERKS_", "_ZN14CIAXMLParser_uaSERKS_"};
    const char* const others[] = {"_ZN9attributeC1ERKS_",     "_ZN9attributeD1Ev",       "_ZN11attribute_uC1ERKS_",
                                  "_ZN11attribute_uD1Ev",     "_ZN7elementC1ERKS_",      "_ZN9element_uC1ERKS_",
                                  "_ZN12CIAXMLParserC1ERKS_", "_ZN14CIAXMLParser_uC1ERKS_"};
    Library plugin(OW_PLUGIN_PATH), fixture(OW_XML_FIXTURE_PATH);
    ASSERT_TRUE(plugin.handle != nullptr && fixture.handle != nullptr) << dlerror();
    auto seenBy = fixture.Symbol<void (*)(void**)>("OwXmlAssignments");
    ASSERT_NE(seenBy, nullptr);
    void* seen[6] = {};
    seenBy(seen);
    // The same address as the plug-in's export is the plug-in's code, not a copy in the module.
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(seen[i] != nullptr && seen[i] == plugin.Symbol<void*>(assignments[i])) << assignments[i];
    }
    for (const char* name : others) EXPECT_NE(plugin.Symbol<void*>(name), nullptr) << name << ": exported as well";
}

}  // namespace
}  // namespace outlinkwatch
