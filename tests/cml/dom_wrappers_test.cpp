// The DOM wrappers: checked conversions with their texts and code, attribute reading with
// defaults, exact string comparison and the element helpers.
#include <gtest/gtest.h>

#include "SensorIndependence/CmlLib/dom_wrappers.h"
#include "cml/cml_test_support.h"
#include "cml/dom_test_support.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

using test::ParsedXml;

const char kDocument[] =
    "<p:root xmlns:p='urn:p' xmlns='urn:d' id='r1' empty=''>text<a n='1'/><p:b n='2'><a n='3'/></p:b><!--c--></p:root>";

// Every wrapper checks the node kind through the same function; the element's constructor and
// its assignment, which leaves the target as it was, stand for them.
TEST(DomWrappers, CheckedConversionsRejectOtherNodeKinds) {
    ParsedXml xml(kDocument);
    const CCmlDOM_Node text(xml.Root()->getFirstChild()), comment(xml.Root()->getLastChild());
    CCmlDOM_Element kept(xml.Root());
    test::ExpectCmlError([&] { CCmlDOM_Element e(text); }, u"Constructing a DOM_Element with a DOM_Node",
                         u"received object is not a DOM_Element", ZEL_E_CML_INVALID_CONVERSION);
    test::ExpectCmlError([&] { kept = comment; }, u"Assigning a DOM_Node to a DOM_Element",
                         u"received object is not a DOM_Element", ZEL_E_CML_INVALID_CONVERSION);
    EXPECT_EQ(kept.GetNode(), xml.Root());

    // Null converts to null; matching kinds convert.
    const CCmlDOM_Node null;
    EXPECT_TRUE(CCmlDOM_Element(null).IsNull() && CCmlDOM_Text(null).IsNull() && CCmlDOM_Attr(null).IsNull());
    kept = null;
    EXPECT_TRUE(kept.IsNull());
    const CCmlDOM_Attr id(CCmlDOM_Node(xml.Root()->getAttributeNode(u"id")));
    EXPECT_EQ(CCmlDOM_Text(text).GetData() + id.GetName() + u"=" + id.GetValue(), u"textid=r1");
}

// An empty value counts as missing; a missing one gives the default unless the output is kept.
TEST(DomWrappers, GetAttributeWithDefaults) {
    ParsedXml xml(kDocument);
    const CCmlDOM_Element root(xml.Root());
    const struct { const char16_t* name; bool keepOnMissing, found; const char16_t* out; } cases[] = {
        {u"id", true, true, u"r1"}, {u"empty", false, false, u"dflt"}, {u"absent", true, false, u"before"}};
    for (const auto& c : cases) {
        std::u16string out = u"before";
        EXPECT_EQ(root.GetAttribute(c.name, c.keepOnMissing, u"dflt", out), c.found);
        EXPECT_EQ(out, c.out);
    }

    // The narrow form reads and gives UTF-8.
    ParsedXml accented("<r v='gr\xC3\xBC\xC3\x9F' e=''/>");
    std::string narrowOut;
    EXPECT_TRUE(CCmlDOM_Element(accented.Root()).GetAttribute("v", false, "", narrowOut));
    EXPECT_EQ(narrowOut, "gr\xC3\xBC\xC3\x9F");
    EXPECT_FALSE(CCmlDOM_Element(accented.Root()).GetAttribute("e", false, "dflt", narrowOut));
    EXPECT_EQ(narrowOut, "dflt");

    // A null element reads nothing and never throws.
    EXPECT_FALSE(CCmlDOM_Element().GetAttribute("id", false, "dflt", narrowOut));
}

// The direct read of an attribute's text node gives what getAttribute gives, also for values
// made of references and for a value the DOM holds as several nodes.
TEST(DomWrappers, AttributeValueReadsWhatGetAttributeReads) {
    ParsedXml xml("<r a='x &amp; &#x3C;y&gt;' e='' n='1'/>");
    xercesc::DOMElement* root = xml.Root();
    root->getAttributeNode(u"n")->appendChild(xml.Document()->createTextNode(u"2"));
    root->setAttribute(u"s", u"set");
    for (const char16_t* name : {u"a", u"e", u"n", u"s", u"absent"})
        EXPECT_EQ(std::u16string(AttributeValue(root, name)), std::u16string(root->getAttribute(name)));
}

TEST(DomWrappers, EqualsIsExact) {
    const struct { const char16_t* value; bool equal; } cases[] = {
        {u"false", true}, {u"False", false}, {u"false ", false}, {u"", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(Equals(CCmlDOMString(c.value), u"false"), c.equal);
        EXPECT_EQ(Equals(c.value, u"false"), c.equal);
    }
    EXPECT_TRUE(CCmlDOMString(nullptr).IsNull() && Equals(CCmlDOMString(nullptr), u"") && !CCmlDOMString(u"").IsNull());
}

// Each getter is a null-safe forward to Xerces; a few stand for them.
TEST(DomWrappers, ElementHelpersListsAndFirstDescendant) {
    ParsedXml xml(kDocument);
    const CCmlDOM_Element root = CCmlDOM_Document(xml.Document()).GetDocumentElement();
    std::u16string names;
    for (CCmlDOM_Node child = root.GetFirstChild(); child; child = child.GetNextSibling())
        names += child.GetNodeName() + u",";
    EXPECT_EQ(names, u"#text,a,p:b,#comment,");
    const CCmlDOM_NodeList as = root.GetElementsByTagNameNS(u"urn:d", u"a");
    ASSERT_EQ(as.GetLength(), 2u);
    EXPECT_EQ(CCmlDOM_Element(as.Item(0)).GetAttribute(u"n") + CCmlDOM_Element(as.Item(1)).GetAttribute(u"n"), u"13");
    EXPECT_TRUE(as.Item(2).IsNull() && as.Item(0).GetParentNode().GetNode() == xml.Root());
    EXPECT_EQ(CCmlDOM_Document(xml.Document()).GetElementsByTagNameNS(u"urn:p", u"*").GetLength(), 2u);  // the root too
    const CCmlDOM_NamedNodeMap map = root.GetAttributes();
    EXPECT_EQ(root.GetTagName() + u"|" + root.GetPrefix() + u"|" + CCmlDOM_Attr(map.GetNamedItem(u"id")).GetValue(),
              u"p:root|p|r1");
    EXPECT_TRUE(map.GetLength() == 4 && map.GetNamedItem(u"absent").IsNull() && root.GetChildNodes().GetLength() == 4);
    const CCmlDOM_Node null;
    EXPECT_TRUE(null.GetNodeType() == 0 && null.GetNodeName().empty() && null.GetFirstChild().IsNull());
    EXPECT_TRUE(CCmlDOM_NodeList().GetLength() == 0 && CCmlDOM_NodeList().Item(0).IsNull() &&
                CCmlDOM_NamedNodeMap().GetLength() == 0 && CCmlDOM_Document().GetDocumentElement().IsNull());

    // The first-descendant search and the walked list find what Xerces's descendant list holds,
    // in its order, from every node; from the document node the root itself is a descendant.
    const auto xercesList = [](xercesc::DOMNode* from, const char16_t* uri, const char16_t* name) {
        if (auto* element = dynamic_cast<xercesc::DOMElement*>(from)) return element->getElementsByTagNameNS(uri, name);
        if (auto* document = dynamic_cast<xercesc::DOMDocument*>(from)) return document->getElementsByTagNameNS(uri, name);
        return static_cast<xercesc::DOMNodeList*>(nullptr);
    };
    // The walk from "b" must stop at "b", before the "a" that follows it.
    const ParsedXml nested("<r xmlns='urn:d'><b><a/></b><a/></r>");
    for (xercesc::DOMNode* from : std::initializer_list<xercesc::DOMNode*>{
             xml.Document(), xml.Root(), xml.Root()->getChildNodes()->item(2), xml.Root()->getFirstChild(),
             nested.Root()->getFirstChild()}) {
        for (const auto& [uri, name] :
             {std::pair{u"urn:d", u"a"}, {u"urn:p", u"b"}, {u"urn:p", u"root"}, {u"urn:d", u"b"}}) {
            const xercesc::DOMNodeList* expected = xercesList(from, uri, name);
            const CDescendantElementList walked(from, uri, name);
            const XMLSize_t length = expected ? expected->getLength() : 0;
            ASSERT_EQ(walked.getLength(), length);
            for (XMLSize_t i = 0; i <= length; ++i) EXPECT_EQ(walked.item(i), expected ? expected->item(i) : nullptr);
            EXPECT_EQ(FirstDescendantElement(from, uri, name), walked.item(0));
        }
    }
}

}  // namespace
}  // namespace zel::cml
