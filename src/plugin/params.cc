// Parameter look-ups over the records the agent hands in.
#include <cctype>
#include <cstdlib>

#include "lumenutil/langmap.h"
#include "base/text.h"
#include "plugin/component.h"

namespace {


}  // namespace

std::string CPolicyBase::FindParamValue(std::string name, const std::list<PolicyParam>& params) {
    const std::string wanted = outlinkwatch::AsciiStrToUpper(name);
    for (const PolicyParam& p : params) {
        if (p.kind != 0) continue;
        if (outlinkwatch::AsciiStrToUpper(p.name) == wanted) return p.value;
    }
    return std::string();
}

std::string CPolicyBase::GetPolicyParamValue(std::string name) {
    std::lock_guard<std::mutex> lock(m_csParams);
    return FindParamValue(name, m_lstPolicyParams);
}

std::string CPolicyBase::GetCommParamValue(std::string name) {
    std::lock_guard<std::mutex> lock(m_csParams);
    return FindParamValue(name, m_lstCommParams);
}

std::string CPolicyBase::FindGroupValue(std::string name, const std::list<ParamTriple>& triples) {
    const std::string wanted = outlinkwatch::AsciiStrToUpper(name);
    for (const ParamTriple& t : triples) {
        if (outlinkwatch::AsciiStrToUpper(t.name) == wanted) return t.value;
    }
    return std::string();
}

int CPolicyBase::FindTriple(std::string name, const std::list<ParamTriple>& triples, std::string& tag,
                            std::string& value) {
    const std::string wanted = outlinkwatch::AsciiStrToUpper(name);
    for (const ParamTriple& t : triples) {
        if (outlinkwatch::AsciiStrToUpper(t.name) == wanted) {
            tag = t.tag;
            value = t.value;
            break;
        }
    }
    return 0;
}

int CPolicyBase::FindParamGroup(std::string key, std::list<std::list<PolicyParam>>& out,
                                const std::list<PolicyParam>& params) {
    out.clear();
    for (const PolicyParam& p : params) {
        if (p.kind != 1) continue;
        auto it = p.children.find(key);
        if (it != p.children.end()) {
            out = it->second;
            return static_cast<int>(out.size());
        }
    }
    return 0;
}

int CPolicyBase::GetPolicyParamGroup(std::string key, std::list<std::list<PolicyParam>>& out) {
    std::lock_guard<std::mutex> lock(m_csParams);
    return FindParamGroup(key, out, m_lstPolicyParams);
}

int CPolicyBase::GetCommParamGroup(std::string key, std::list<std::list<PolicyParam>>& out) {
    std::lock_guard<std::mutex> lock(m_csParams);
    return FindParamGroup(key, out, m_lstCommParams);
}

void CPolicyBase::GetCommonParams(CommonParams& out) {
    std::list<std::list<PolicyParam>> group;
    GetPolicyParamGroup("PolicyCommParam", group);

    std::string abbr = lumenutil::GetLangAbbr(static_cast<int>(m_nLanguage));
    if (abbr == "ch") abbr = "zh";
    const std::string locationKey = "LocationName_" + abbr;

    // Matched in this order; the first equal name wins for a record.
    std::string* const texts[] = {&out.strPolicyParamVersion, &out.strAccount, &out.strAccountId,
                                  &out.strAuthType,           &out.strOrgId,   &out.strOrgName,
                                  &out.strUserId,             &out.strUserName, &out.strBsid,
                                  &out.strLocationId,         &out.strLocationName};
    const std::string names[] = {"PolicyParamVesion", "Account", "AccountID", "AuthType",
                                 "OrgID",             "OrgName", "UserID",    "UserName",
                                 "Bsid",              "LocationID", locationKey};

    for (const std::list<PolicyParam>& occurrence : group) {
        for (const PolicyParam& p : occurrence) {
            bool matched = false;
            for (size_t i = 0; i < sizeof(names) / sizeof(names[0]); ++i) {
                if (p.name == names[i]) {
                    *texts[i] = p.value;
                    matched = true;
                    break;
                }
            }
            if (!matched && p.name == "LocationOnlineState") {
                out.nLocationOnlineState = std::atoi(p.value.c_str());
            }
        }
        if (out.strUserName.empty()) out.strUserName = out.strAccount;
        if (out.strUserId.empty()) out.strUserId = out.strAccountId;
    }
}
