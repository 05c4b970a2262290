// Value classes of the agent framework's XML document model. The plug-in
// never builds or reads these documents; it exports their copy, assignment
// and (for the attributes) destruction, so that an object can be copied and
// destroyed on either side of the library boundary with the same code.
// Field order and types are part of the contract: do not reorder, do not insert.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <string>

#include "outlinkwatch/export.h"

class attribute {
public:
    attribute() = default;
    OW_EXPORT attribute(const attribute& other);
    OW_EXPORT attribute& operator=(const attribute& other);
    OW_EXPORT ~attribute();

    std::string m_strName;
    std::string m_strValue;
};

// The pointers in m_lstLinks belong to the document; a copy shares them.
class element {
public:
    element() = default;
    OW_EXPORT element(const element& other);
    OW_EXPORT element& operator=(const element& other);

    std::string m_strName;
    std::string m_strText;
    int32_t m_nType = 0;
    std::string m_strExtra;
    std::list<element*> m_lstLinks;
    int32_t m_nValues[5] = {0, 0, 0, 0, 0};
};

class CIAXMLParser {
public:
    CIAXMLParser() = default;
    OW_EXPORT CIAXMLParser(const CIAXMLParser& other);
    OW_EXPORT CIAXMLParser& operator=(const CIAXMLParser& other);

    std::map<uint32_t, uint32_t> m_mapIndex;
    int32_t m_nValues[3] = {0, 0, 0};
    uint8_t m_bFlags[5] = {0, 0, 0, 0, 0};
    std::list<element*> m_lstFirst;
    std::list<element*> m_lstOther;
};

class attribute_u {
public:
    attribute_u() = default;
    OW_EXPORT attribute_u(const attribute_u& other);
    OW_EXPORT attribute_u& operator=(const attribute_u& other);
    OW_EXPORT ~attribute_u();

    std::wstring m_strName;
    std::wstring m_strValue;
};

class element_u {
public:
    element_u() = default;
    OW_EXPORT element_u(const element_u& other);
    OW_EXPORT element_u& operator=(const element_u& other);

    std::wstring m_strName;
    std::wstring m_strText;
    int32_t m_nType = 0;
    std::wstring m_strExtra;
    std::list<element_u*> m_lstLinks;
    int32_t m_nValues[5] = {0, 0, 0, 0, 0};
};

class CIAXMLParser_u {
public:
    CIAXMLParser_u() = default;
    OW_EXPORT CIAXMLParser_u(const CIAXMLParser_u& other);
    OW_EXPORT CIAXMLParser_u& operator=(const CIAXMLParser_u& other);

    std::map<uint32_t, uint32_t> m_mapIndex;
    int32_t m_nValues[3] = {0, 0, 0};
    uint8_t m_bFlags[5] = {0, 0, 0, 0, 0};
    std::list<element_u*> m_lstFirst;
    std::list<element_u*> m_lstOther;
};

// Layout checks: an agent built separately relies on these positions.
#if defined(__GNUC__)
#  pragma GCC diagnostic push
#  pragma GCC diagnostic ignored "-Winvalid-offsetof"
#endif
namespace outlinkwatch_xml_layout {
constexpr std::size_t Align(std::size_t n, std::size_t a) { return (n + a - 1) / a * a; }

template <typename Str, typename Attr>
constexpr bool AttributeLayout() {
    return offsetof(Attr, m_strValue) == sizeof(Str) && sizeof(Attr) == 2 * sizeof(Str);
}
template <typename Str, typename Elem>
constexpr bool ElementLayout() {
    return offsetof(Elem, m_strText) == sizeof(Str) && offsetof(Elem, m_nType) == 2 * sizeof(Str) &&
           offsetof(Elem, m_strExtra) == Align(2 * sizeof(Str) + 4, alignof(Str)) &&
           offsetof(Elem, m_lstLinks) == offsetof(Elem, m_strExtra) + sizeof(Str) &&
           offsetof(Elem, m_nValues) == offsetof(Elem, m_lstLinks) + sizeof(std::list<Elem*>) &&
           sizeof(Elem) == Align(offsetof(Elem, m_nValues) + 20, alignof(Elem));
}
template <typename Doc, typename Elem>
constexpr bool DocumentLayout() {
    using Map = std::map<uint32_t, uint32_t>;
    return offsetof(Doc, m_mapIndex) == 0 && offsetof(Doc, m_nValues) == sizeof(Map) &&
           offsetof(Doc, m_bFlags) == sizeof(Map) + 12 &&
           offsetof(Doc, m_lstFirst) == Align(sizeof(Map) + 17, alignof(std::list<Elem*>)) &&
           offsetof(Doc, m_lstOther) == offsetof(Doc, m_lstFirst) + sizeof(std::list<Elem*>) &&
           sizeof(Doc) == offsetof(Doc, m_lstOther) + sizeof(std::list<Elem*>);
}

static_assert(AttributeLayout<std::string, attribute>(), "attribute: name, value");
static_assert(AttributeLayout<std::wstring, attribute_u>(), "attribute_u: name, value");
static_assert(ElementLayout<std::string, element>(), "element field order");
static_assert(ElementLayout<std::wstring, element_u>(), "element_u field order");
static_assert(DocumentLayout<CIAXMLParser, element>(), "CIAXMLParser field order");
static_assert(DocumentLayout<CIAXMLParser_u, element_u>(), "CIAXMLParser_u field order");
static_assert(sizeof(std::map<uint32_t, uint32_t>::value_type) == 8, "index entries are two 32-bit words");
}  // namespace outlinkwatch_xml_layout
#if defined(__GNUC__)
#  pragma GCC diagnostic pop
#endif
