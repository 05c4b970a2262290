// The exported value operations of the XML document classes. Strings, lists
// and the map are copied deeply; the pointers they hold are copied as they
// are: the objects behind them belong to the document, never to a copy.
#include "outlinkwatch/xml_types.h"

#include <algorithm>
#include <iterator>

namespace {

template <typename Attr>
void AssignAttribute(Attr& to, const Attr& from) {
    to.m_strName = from.m_strName;
    to.m_strValue = from.m_strValue;
}

template <typename Elem>
void AssignElement(Elem& to, const Elem& from) {
    to.m_strName = from.m_strName;
    to.m_strText = from.m_strText;
    to.m_nType = from.m_nType;
    to.m_strExtra = from.m_strExtra;
    to.m_lstLinks = from.m_lstLinks;
    std::copy(std::begin(from.m_nValues), std::end(from.m_nValues), to.m_nValues);
}

template <typename Doc>
void AssignDocument(Doc& to, const Doc& from) {
    to.m_mapIndex.clear();
    to.m_mapIndex.insert(from.m_mapIndex.begin(), from.m_mapIndex.end());
    std::copy(std::begin(from.m_nValues), std::end(from.m_nValues), to.m_nValues);
    std::copy(std::begin(from.m_bFlags), std::end(from.m_bFlags), to.m_bFlags);
    to.m_lstFirst = from.m_lstFirst;
    to.m_lstOther = from.m_lstOther;
}

}  // namespace

attribute::attribute(const attribute& other) : m_strName(other.m_strName), m_strValue(other.m_strValue) {}
attribute& attribute::operator=(const attribute& other) {
    if (this != &other) AssignAttribute(*this, other);
    return *this;
}
attribute::~attribute() = default;

attribute_u::attribute_u(const attribute_u& other) : m_strName(other.m_strName), m_strValue(other.m_strValue) {}
attribute_u& attribute_u::operator=(const attribute_u& other) {
    if (this != &other) AssignAttribute(*this, other);
    return *this;
}
attribute_u::~attribute_u() = default;

element::element(const element& other) { AssignElement(*this, other); }
element& element::operator=(const element& other) {
    if (this != &other) AssignElement(*this, other);
    return *this;
}

element_u::element_u(const element_u& other) { AssignElement(*this, other); }
element_u& element_u::operator=(const element_u& other) {
    if (this != &other) AssignElement(*this, other);
    return *this;
}

CIAXMLParser::CIAXMLParser(const CIAXMLParser& other) { AssignDocument(*this, other); }
CIAXMLParser& CIAXMLParser::operator=(const CIAXMLParser& other) {
    if (this != &other) AssignDocument(*this, other);
    return *this;
}

CIAXMLParser_u::CIAXMLParser_u(const CIAXMLParser_u& other) { AssignDocument(*this, other); }
CIAXMLParser_u& CIAXMLParser_u::operator=(const CIAXMLParser_u& other) {
    if (this != &other) AssignDocument(*this, other);
    return *this;
}
