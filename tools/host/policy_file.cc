#include "policy_file.h"

#include <pugixml.hpp>

#include <cstring>
#include <set>

#include "bounded_file.h"

namespace owhost {
namespace {

// Walks the document once; the first problem found ends the walk.
class Reader {
public:
    Reader(const std::string& text, const PolicyLimits& limits) : text_(text), limits_(limits) {}

    bool Fail(const pugi::xml_node& node, const std::string& what) {
        if (error_.empty()) {
            const ptrdiff_t offset = node.offset_debug();
            error_ = "line " + std::to_string(offset < 0 ? 0 : LineOfOffset(text_, static_cast<size_t>(offset))) +
                     ": " + what;
        }
        return false;
    }
    const std::string& error() const { return error_; }

    // The one <policy> element and what it holds.
    bool ReadDocument(const pugi::xml_document& doc, PolicyDocument* out) {
        // Read as a fragment so that stray text at the top stays visible; a
        // second element or such text is refused here rather than dropped.
        pugi::xml_node root;
        for (const pugi::xml_node& top : doc.children()) {
            if (top.type() == pugi::node_pcdata || top.type() == pugi::node_cdata) {
                return Fail(top, "text outside <policy>");
            }
            if (top.type() != pugi::node_element) continue;
            if (root) return Fail(top, "a second top-level element <" + Shown(top.name()) + ">");
            root = top;
        }
        if (!root) {
            error_ = "line 1: no <policy> element";
            return false;
        }
        if (std::strcmp(root.name(), "policy") != 0) {
            return Fail(root, "the root element is <" + Shown(root.name()) + ">, not <policy>");
        }
        return ReadPolicyAttributes(root, out) && ReadPolicyChildren(root, out);
    }

private:
    static std::string Shown(const std::string& s) { return OneLine(s, 80); }

    bool ReadPolicyAttributes(const pugi::xml_node& root, PolicyDocument* out) {
        for (const pugi::xml_attribute& a : root.attributes()) {
            const std::string name = a.name();
            if (name == "type") {
                if (std::strcmp(a.value(), kPolicyType) != 0) {
                    return Fail(root, "policy type \"" + Shown(a.value()) + "\" is not served here (only " +
                                          kPolicyType + ")");
                }
            } else if (name == "language") {
                uint32_t id = 0;
                if (!ParseUint32(a.value(), &id)) {
                    return Fail(root, "language \"" + Shown(a.value()) + "\" is not a number");
                }
                out->language = id;
            } else {
                return Fail(root, "unknown attribute \"" + Shown(name) + "\" of <policy>");
            }
        }
        return true;
    }

    bool ReadPolicyChildren(const pugi::xml_node& root, PolicyDocument* out) {
        bool sawCommon = false;
        std::set<std::string> groups;
        for (const pugi::xml_node& child : root.children()) {
            if (!CheckNoText(child)) return false;
            if (child.type() != pugi::node_element) continue;
            const std::string name = child.name();
            if (name == "common") {
                if (sawCommon) return Fail(child, "<common> given twice");
                sawCommon = true;
                if (!CheckNoAttributes(child)) return false;
                if (!ReadList(child, 0, "<common>", &out->commParams)) return false;
            } else if (!ReadItem(child, 0, "<policy>", &groups, &out->policyParams)) {
                return false;
            }
        }
        return true;
    }

    bool CheckNoText(const pugi::xml_node& node) {
        if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
            return Fail(node, "unexpected text \"" + Shown(node.value()) + "\"");
        }
        return true;
    }

    bool CheckNoAttributes(const pugi::xml_node& node) {
        if (node.first_attribute()) {
            return Fail(node, "unknown attribute \"" + Shown(node.first_attribute().name()) + "\" of <" +
                                  node.name() + ">");
        }
        return true;
    }

    bool Count(const pugi::xml_node& node) {
        if (++records_ > limits_.maxRecords) {
            return Fail(node, "more than " + std::to_string(limits_.maxRecords) + " parameters");
        }
        return true;
    }

    // The children of <common> or <occurrence>: parameters and groups.
    bool ReadList(const pugi::xml_node& parent, int depth, const std::string& where, std::list<PolicyParam>* out) {
        std::set<std::string> groups;
        for (const pugi::xml_node& child : parent.children()) {
            if (!CheckNoText(child)) return false;
            if (child.type() != pugi::node_element) continue;
            if (!ReadItem(child, depth, where, &groups, out)) return false;
        }
        return true;
    }

    bool ReadItem(const pugi::xml_node& node, int depth, const std::string& where, std::set<std::string>* groups,
                  std::list<PolicyParam>* out) {
        const std::string element = node.name();
        if (element == "param") return ReadParam(node, out);
        if (element == "group") return ReadGroup(node, depth + 1, groups, out);
        return Fail(node, "unexpected element <" + Shown(element) + "> in " + where);
    }

    bool ReadName(const pugi::xml_node& node, std::string* name) {
        const pugi::xml_attribute a = node.attribute("name");
        if (!a) return Fail(node, std::string("<") + node.name() + "> has no name");
        *name = a.value();
        if (name->empty()) return Fail(node, std::string("<") + node.name() + "> has an empty name");
        if (name->size() > limits_.maxNameBytes) {
            return Fail(node, "name longer than " + std::to_string(limits_.maxNameBytes) + " bytes");
        }
        return true;
    }

    bool ReadParam(const pugi::xml_node& node, std::list<PolicyParam>* out) {
        if (!Count(node)) return false;
        PolicyParam p;
        p.tag = "param";
        p.kind = 0;
        if (!ReadName(node, &p.name)) return false;
        const pugi::xml_attribute value = node.attribute("value");
        if (!value) return Fail(node, "parameter \"" + Shown(p.name) + "\" has no value attribute");
        p.value = value.value();
        if (p.value.size() > limits_.maxValueBytes) {
            return Fail(node, "value of \"" + Shown(p.name) + "\" longer than " +
                                  std::to_string(limits_.maxValueBytes) + " bytes");
        }
        for (const pugi::xml_attribute& a : node.attributes()) {
            const std::string n = a.name();
            if (n != "name" && n != "value") {
                return Fail(node, "unknown attribute \"" + Shown(n) + "\" of parameter \"" + Shown(p.name) + "\"");
            }
        }
        for (const pugi::xml_node& child : node.children()) {
            if (!CheckNoText(child)) return false;
            if (child.type() == pugi::node_element) {
                return Fail(child, "parameter \"" + Shown(p.name) + "\" cannot contain elements");
            }
        }
        out->push_back(std::move(p));
        return true;
    }

    bool ReadGroup(const pugi::xml_node& node, int depth, std::set<std::string>* groups,
                   std::list<PolicyParam>* out) {
        if (!Count(node)) return false;
        if (depth > limits_.maxGroupDepth) {
            return Fail(node, "groups nested deeper than " + std::to_string(limits_.maxGroupDepth));
        }
        PolicyParam g;
        g.tag = "group";
        g.kind = 1;
        if (!ReadName(node, &g.name)) return false;
        for (const pugi::xml_attribute& a : node.attributes()) {
            if (std::strcmp(a.name(), "name") != 0) {
                return Fail(node, "unknown attribute \"" + Shown(a.name()) + "\" of group \"" + Shown(g.name) + "\"");
            }
        }
        // The policy looks a group up by name and takes the first: a second
        // one would be silently ignored, which is never what the author meant.
        if (!groups->insert(g.name).second) return Fail(node, "group \"" + Shown(g.name) + "\" given twice");

        std::list<std::list<PolicyParam>>& occurrences = g.children[g.name];
        const std::string where = "occurrence of group \"" + Shown(g.name) + "\"";
        for (const pugi::xml_node& child : node.children()) {
            if (!CheckNoText(child)) return false;
            if (child.type() != pugi::node_element) continue;
            if (std::strcmp(child.name(), "occurrence") != 0) {
                return Fail(child, "unexpected element <" + Shown(child.name()) + "> in group \"" + Shown(g.name) +
                                       "\" (only <occurrence>)");
            }
            if (!CheckNoAttributes(child) || !Count(child)) return false;
            occurrences.emplace_back();
            if (!ReadList(child, depth, where, &occurrences.back())) return false;
        }
        out->push_back(std::move(g));
        return true;
    }

    const std::string& text_;
    const PolicyLimits& limits_;
    size_t records_ = 0;
    std::string error_;
};

const char kDemoPolicy[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- Built-in demonstration policy: connection mode against the demo's own
     loopback "outside" server; what it reaches is denied (block 3). -->
<policy type="policy.win.outlink.watch" language="1">
  <param name="Type" value="1"/>
  <param name="ConnectAddr" value="127.0.0.1:@PORT@"/>
  <param name="ImageIP" value=""/>
  <param name="checkcyc" value="1"/>
  <param name="block" value="3"/>
  <param name="rank" value="1"/>
@PROXY@  <group name="PolicyCommParam">
    <occurrence>
      <param name="PolicyParamVesion" value="1"/>
      <param name="Account" value="demo.user"/>
      <param name="AccountID" value="1001"/>
      <param name="AuthType" value="local"/>
      <param name="OrgID" value="42"/>
      <param name="OrgName" value="Demo organisation"/>
      <param name="UserID" value="1001"/>
      <param name="UserName" value="Demo User"/>
      <param name="Bsid" value="demo-bsid"/>
      <param name="LocationID" value="7"/>
      <param name="LocationName_en" value="Head office"/>
      <param name="LocationOnlineState" value="1"/>
    </occurrence>
  </group>
</policy>
)";

}  // namespace

bool ParseUint32(const std::string& text, uint32_t* value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > UINT32_MAX) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

bool ParsePolicyText(const std::string& text, PolicyDocument* out, std::string* error, const PolicyLimits& limits) {
    if (text.size() > limits.maxFileBytes) {
        *error = "larger than " + std::to_string(limits.maxFileBytes) + " bytes";
        return false;
    }
    pugi::xml_document doc;
    // No entity expansion beyond the five predefined ones and character
    // references: pugixml never reads a DTD, so a file cannot grow itself.
    const pugi::xml_parse_result parsed =
        doc.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_fragment, pugi::encoding_auto);
    if (!parsed) {
        *error = "line " + std::to_string(LineOfOffset(text, static_cast<size_t>(parsed.offset))) +
                 ": malformed XML: " + parsed.description();
        return false;
    }
    Reader reader(text, limits);
    PolicyDocument doc_out;
    if (!reader.ReadDocument(doc, &doc_out)) {
        *error = reader.error();
        return false;
    }
    *out = std::move(doc_out);
    return true;
}

bool LoadPolicyFile(const std::string& path, PolicyDocument* out, std::string* error, const PolicyLimits& limits) {
    std::string text;
    if (!ReadBoundedFile(path, limits.maxFileBytes, &text, error)) {
        *error = "policy file: " + *error;
        return false;
    }
    std::string why;
    if (!ParsePolicyText(text, out, &why, limits)) {
        *error = "policy file " + OneLine(path, 512) + ": " + why;
        return false;
    }
    return true;
}

std::string DemoProxyPolicyText() {
    // The same policy in route mode with an allowed proxy and nothing to
    // trace: the browser proxy check is all it does.
    std::string text(kDemoPolicy);
    const size_t from = text.find("<!--"), to = text.find("<param name=\"checkcyc\"");
    text.replace(from, to - from,
                 "<!-- Built-in proxy demonstration policy: route mode (the browser proxy check runs\n"
                 "     only there) with one allowed proxy; the interactive user's browser proxies\n"
                 "     that are not allowed are denied (block 3). -->\n"
                 "<policy type=\"policy.win.outlink.watch\" language=\"1\">\n"
                 "  <param name=\"Type\" value=\"0\"/>\n"
                 "  <param name=\"Proxy\" value=\"192.0.2.80\"/>\n  ");
    text.erase(text.find("@PROXY@"), 7);
    return text;
}

std::string DemoPolicyText(uint16_t outsidePort, const std::string& allowedProxies) {
    std::string text(kDemoPolicy);
    text.replace(text.find("@PORT@"), 6, std::to_string(outsidePort));
    const size_t at = text.find("@PROXY@");
    // The allowed list comes from the host itself, never from outside, but
    // it still must not break the document.
    const bool plain = allowedProxies.find_first_of("<>&\"") == std::string::npos;
    text.replace(at, 7, allowedProxies.empty() || !plain ? std::string()
                                                         : "  <param name=\"Proxy\" value=\"" + allowedProxies + "\"/>\n");
    return text;
}

}  // namespace owhost
