// Copy semantics of the XML value classes: deep copies of texts, lists and
// the map, shared pointees, unchanged self-assignment (run under ASan too).
#include <gtest/gtest.h>

#include <memory>

#include "outlinkwatch/xml_types.h"

namespace {

template <typename Elem>
bool SameElement(const Elem& x, const Elem& y) {
    return x.m_strName == y.m_strName && x.m_strText == y.m_strText && x.m_nType == y.m_nType &&
           x.m_strExtra == y.m_strExtra && x.m_lstLinks == y.m_lstLinks && std::equal(x.m_nValues, x.m_nValues + 5, y.m_nValues);
}

template <typename Doc>
bool SameDocument(const Doc& x, const Doc& y) {
    return x.m_mapIndex == y.m_mapIndex && std::equal(x.m_nValues, x.m_nValues + 3, y.m_nValues) &&
           std::equal(x.m_bFlags, x.m_bFlags + 5, y.m_bFlags) && x.m_lstFirst == y.m_lstFirst &&
           x.m_lstOther == y.m_lstOther;
}

template <typename Elem, typename Doc, typename Attr>
void CheckFamily() {
    Elem a, b, e;  // a and b are the pointees; copies only hold their addresses
    e.m_strName.assign(40, 'n');  // longer than a short-string buffer
    e.m_strText.assign(3, 't');
    e.m_nType = 7;
    e.m_strExtra.assign(50, 'x');
    e.m_lstLinks = {&a, &b};
    for (int i = 0; i < 5; ++i) e.m_nValues[i] = i + 1;
    {
        auto copy = std::make_unique<Elem>(e);
        EXPECT_TRUE(SameElement(*copy, e));
        EXPECT_NE(copy->m_strName.data(), e.m_strName.data()) << "own text";
        copy->m_lstLinks.pop_front();
        EXPECT_EQ(e.m_lstLinks.size(), 2u) << "own list nodes";
        Elem assigned;
        assigned = e;
        EXPECT_TRUE(SameElement(assigned, e));
    }  // destroying the copies leaves a and b alone (ASan would report otherwise)
    e = *&e;
    EXPECT_TRUE(SameElement(e, Elem(e)) && e.m_strName.size() == 40 && e.m_nValues[4] == 5) << "self-assignment";

    Doc d, target;
    d.m_mapIndex = {{1, 10}, {2, 20}};
    d.m_nValues[2] = 9;
    d.m_bFlags[4] = 1;
    d.m_lstFirst = {&a};
    d.m_lstOther = {&b, &a};
    EXPECT_TRUE(SameDocument(Doc(d), d));
    target.m_mapIndex = {{99, 99}, {1, 11}};
    target = d;
    EXPECT_TRUE(SameDocument(target, d)) << "the old index is gone";
    target.m_mapIndex[3] = 30;
    EXPECT_EQ(d.m_mapIndex.size(), 2u);
    target = *&target;
    EXPECT_EQ(target.m_mapIndex.size(), 3u) << "self-assignment";

    Attr at, as;
    at.m_strName.assign(30, 'k');
    at.m_strValue.assign(30, 'v');
    auto ac = std::make_unique<Attr>(at);
    as = *ac;
    ac.reset();
    as = *&as;
    EXPECT_EQ(as.m_strName + as.m_strValue, at.m_strName + at.m_strValue);
}

TEST(XmlTypesTest, NarrowCopies) { CheckFamily<element, CIAXMLParser, attribute>(); }
TEST(XmlTypesTest, WideCopies) { CheckFamily<element_u, CIAXMLParser_u, attribute_u>(); }

}  // namespace
