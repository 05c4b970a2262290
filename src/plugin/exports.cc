// The plain-named entry points through which the agent finds and creates the policy.
#include <cstring>

#include "outlinkwatch/plugin.h"
#include "lumenutil/langmap.h"
#include "plugin/policy.h"

namespace {

// The build date as "Mmm d yyyy": __DATE__ pads a day below 10 with a
// second blank, which the record does not carry. Made while compiling, so
// a date longer than the text (or one starting with a blank) cannot reach
// past either end of it: that would not compile.
struct BuildDate {
    char text[sizeof(__DATE__)];
};
constexpr BuildDate MakeBuildDate(const char* date) {
    BuildDate b{};
    int j = 0;
    for (int i = 0; date[i] != '\0'; ++i) {
        if (date[i] == ' ' && date[i - 1] == ' ') continue;  // the second blank; a date starts with its month
        b.text[j++] = date[i];
    }
    return b;
}
constexpr BuildDate kBuildDate = MakeBuildDate(__DATE__);

const ComponentInfo kComponentInfo = {
    "IPolicy",
    "1.0.0.0",
    nullptr,
    "{6A1D2C44-3B7E-4F19-A2C5-0D8E91B47F36}",
    "Tessel Vanta Security Policy.",
    "OutlinkWatch developers",
    kBuildDate.text,
};

}  // namespace

int GetInterfaceList(ComponentInfo** ppInfo) {
    if (ppInfo != nullptr) *ppInfo = const_cast<ComponentInfo*>(&kComponentInfo);
    return 1;
}

IPolicy* CreateObject(const char* pszInterface, ICommonControl** ppControl, InterfaceEntry* pEntry) {
    if (pszInterface == nullptr || std::strcmp(pszInterface, "IPolicy") != 0) return nullptr;
    CPolicy* policy = nullptr;
    try {
        policy = new CPolicy();
    } catch (...) {
        return nullptr;  // no exception crosses into the agent
    }
    if (pEntry != nullptr) policy->RegisterInterface(0x100, pEntry->pInterface, pEntry->nCompanion);
    if (ppControl != nullptr) *ppControl = &policy->CommonControl();
    IPolicy* result = &policy->Policy();
    result->AddRef();
    return result;
}

int QuerySupportedCommand(std::string /*command*/) { return -1; }

namespace {

// When the agent unloads the library with every policy released, the
// process-wide objects go with it; with a policy still alive (its threads
// may run on) they are left in place.
#if defined(__GNUC__)
__attribute__((destructor))
#endif
void ReleaseOnUnload() {
    if (CPolicy::LiveCount() != 0) return;
    lumenutil::ReleaseLangMaps();
    outlinkwatch::ReleaseDefaultOs();
}

}  // namespace
