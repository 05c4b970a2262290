#include <algorithm>
#include <cstdlib>

#include "config/address_parsing.h"
#include "config/params_plan.h"

namespace outlinkwatch {

PolicyParamsPlan PlanPolicyParams(const PolicyParamTexts& texts) {
    PolicyParamsPlan plan;
    plan.checkType = std::atoi(texts.type.c_str());
    plan.checkCycle = std::atoi(texts.checkcyc.c_str());
    plan.usable = !(texts.tracert.empty() && texts.connect.empty() && texts.proxy.empty());
    if (!plan.usable) return plan;
    if (plan.checkType == 0) {
        SplitString(texts.tracert, ";", false, plan.tracert);
        SplitString(texts.route, ";", false, plan.routes);
        SplitString(texts.proxy, ";", false, plan.proxies);
    } else {
        SplitString(texts.connect, ";", false, plan.connect);
        SplitString(texts.image, ";", false, plan.imageIPs);
    }
    return plan;
}

void AppendMissing(std::list<uint32_t>& to, const std::list<uint32_t>& from) {
    for (const uint32_t ip : from) {
        if (std::find(to.begin(), to.end(), ip) == to.end()) to.push_back(ip);
    }
}

}  // namespace outlinkwatch
