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

TEST(DomWrappers, CheckedConversionsRejectOtherNodeKinds) {
    ParsedXml xml(kDocument);
    const CCmlDOM_Node text(xml.Root()->getFirstChild()), element(xml.Root()), comment(xml.Root()->getLastChild());
    const CCmlDOM_Node attribute(xml.Root()->getAttributeNode(u"id"));
    ASSERT_EQ(text.GetNodeType(), 3u);
    CCmlDOM_Element kept(element);
    const std::u16string notElement = u"received object is not a DOM_Element";
    const struct { std::function<void()> convert; std::u16string operation, description; } cases[] = {
        {[&] { CCmlDOM_Element e(text); }, u"Constructing a DOM_Element with a DOM_Node", notElement},
        {[&] { kept = comment; }, u"Assigning a DOM_Node to a DOM_Element", notElement},
        {[&] { CCmlDOM_Text t(element); }, u"Constructing a DOM_Text with a DOM_Node",
         u"received object is not a text node"},
        {[&] { CCmlDOM_Attr a(text); }, u"Constructing a DOM_Attr with a DOM_Node",
         u"received object is not an attribute node"},
    };
    for (const auto& c : cases)
        test::ExpectCmlError(c.convert, c.operation, c.description, ZEL_E_CML_INVALID_CONVERSION);
    // A failed assignment leaves the target as it was.
    EXPECT_EQ(kept.GetNode(), xml.Root());

    // Null converts to null; matching kinds convert.
    const CCmlDOM_Node null;
    EXPECT_TRUE(CCmlDOM_Element(null).IsNull() && CCmlDOM_Text(null).IsNull() && CCmlDOM_Attr(null).IsNull());
    kept = null;
    EXPECT_TRUE(kept.IsNull());
    const CCmlDOM_Attr id(attribute);
    EXPECT_EQ(CCmlDOM_Text(text).GetData() + id.GetName() + u"=" + id.GetValue(), u"textid=r1");
}

TEST(DomWrappers, GetAttributeWithDefaults) {
    ParsedXml xml(kDocument);
    const CCmlDOM_Element root(xml.Root());
    const struct { const char16_t* name; bool keepOnMissing, found; const char16_t* out; } cases[] = {
        {u"id", false, true, u"r1"},        {u"id", true, true, u"r1"},
        {u"empty", false, false, u"dflt"},  {u"empty", true, false, u"before"},
        {u"absent", false, false, u"dflt"}, {u"absent", true, false, u"before"},
    };
    for (const auto& c : cases) {
        std::u16string out = u"before";
        EXPECT_EQ(root.GetAttribute(c.name, c.keepOnMissing, u"dflt", out), c.found);
        EXPECT_EQ(out, c.out);

        std::string narrowOut = "before";
        const std::u16string wideName = c.name;
        const std::string narrowName(wideName.begin(), wideName.end());
        EXPECT_EQ(root.GetAttribute(narrowName.c_str(), c.keepOnMissing, "dflt", narrowOut), c.found);
        EXPECT_EQ(std::u16string(narrowOut.begin(), narrowOut.end()), c.out);
    }
    EXPECT_EQ(root.GetAttribute(u"id") + root.GetAttribute(u"absent"), u"r1");
    EXPECT_TRUE(root.HasAttribute(u"empty") && !root.HasAttribute(u"absent"));

    // UTF-8 values come back as UTF-8.
    ParsedXml accented("<r v='gr\xC3\xBC\xC3\x9F'/>");
    std::string narrowOut;
    EXPECT_TRUE(CCmlDOM_Element(accented.Root()).GetAttribute("v", false, "", narrowOut));
    EXPECT_EQ(narrowOut, "gr\xC3\xBC\xC3\x9F");

    // A null element reads nothing and never throws.
    std::u16string out = u"before";
    EXPECT_FALSE(CCmlDOM_Element().GetAttribute(u"id", false, u"dflt", out));
    EXPECT_EQ(CCmlDOM_Element().GetAttribute(u"id"), u"");
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
    EXPECT_EQ(CCmlDOM_Element(root).GetAttribute(u"a") + CCmlDOM_Element(root).GetAttribute(u"n"), u"x & <y>12");
}

TEST(DomWrappers, EqualsIsExact) {
    const struct { const char16_t* value; bool equal; } cases[] = {
        {u"false", true}, {u"False", false}, {u"false ", false}, {u" false", false}, {u"", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(Equals(CCmlDOMString(c.value), u"false"), c.equal);
        EXPECT_EQ(Equals(c.value, u"false"), c.equal);
        EXPECT_EQ(Equals(std::u16string(c.value), u"false"), c.equal);
    }
    const CCmlDOMString null(nullptr);
    EXPECT_TRUE(null.IsNull() && null.ToWide().empty() && Equals(null, u"") && !CCmlDOMString(u"").IsNull());
    EXPECT_EQ(CCmlDOMString(u"gr\u00fc").ToUtf8(), "gr\xC3\xBC");
}

TEST(DomWrappers, ElementHelpersAndLists) {
    ParsedXml xml(kDocument);
    const CCmlDOM_Document document(xml.Document());
    const CCmlDOM_Element root = document.GetDocumentElement();
    EXPECT_EQ(root.GetNodeName() + u"|" + root.GetTagName() + u"|" + root.GetLocalName() + u"|" + root.GetPrefix() +
                  u"|" + root.GetNamespaceURI(), u"p:root|p:root|root|p|urn:p");
    EXPECT_TRUE(root.GetAttributes().GetLength() == 4 && root.GetAttributes().GetNamedItem(u"absent").IsNull());
    EXPECT_EQ(CCmlDOM_Attr(root.GetAttributes().GetNamedItem(u"id")).GetValue(), u"r1");

    // Children in document order through first child / next sibling.
    std::u16string names;
    for (CCmlDOM_Node child = root.GetFirstChild(); child; child = child.GetNextSibling())
        names += child.GetNodeName() + u",";
    EXPECT_EQ(names, u"#text,a,p:b,#comment,");
    EXPECT_EQ(root.GetChildNodes().GetLength(), 4u);

    // Descendants by namespace and local name, "*" matching every name.
    const CCmlDOM_NodeList as = root.GetElementsByTagNameNS(u"urn:d", u"a");
    ASSERT_EQ(as.GetLength(), 2u);
    EXPECT_EQ(CCmlDOM_Element(as.Item(0)).GetAttribute(u"n") + CCmlDOM_Element(as.Item(1)).GetAttribute(u"n"), u"13");
    EXPECT_TRUE(as.Item(2).IsNull());
    EXPECT_EQ(root.GetElementsByTagNameNS(u"urn:p", u"*").GetLength() * 100 +
                  document.GetElementsByTagNameNS(u"urn:p", u"*").GetLength() * 10 +
                  root.GetElementsByTagNameNS(u"urn:none", u"*").GetLength(), 120u);  // root is not its own descendant
    const CCmlDOM_Element b(root.GetElementsByTagNameNS(u"urn:p", u"b").Item(0));
    EXPECT_EQ(b.GetParentNode().GetNode(), xml.Root());
    const CCmlDOM_Element inner(b.GetFirstChild());
    EXPECT_EQ(inner.GetNamespaceURI() + u"|" + inner.GetPrefix(), u"urn:d|");

    // Null holders answer empty.
    const CCmlDOM_Node null;
    EXPECT_TRUE(null.GetNodeType() == 0 && null.GetNodeName().empty() && null.GetFirstChild().IsNull());
    EXPECT_TRUE(CCmlDOM_NodeList().GetLength() == 0 && CCmlDOM_NodeList().Item(0).IsNull());
    EXPECT_TRUE(CCmlDOM_NamedNodeMap().GetLength() == 0 && CCmlDOM_Document().GetDocumentElement().IsNull());
}

// The first-descendant search finds what the descendant list holds first, and nothing where
// the list is empty; from the document node the root itself is a descendant.
TEST(DomWrappers, FirstDescendantIsTheFirstListedElement) {
    ParsedXml xml(kDocument);
    for (const auto& [uri, name] : {std::pair{u"urn:d", u"a"}, {u"urn:p", u"b"}, {u"urn:p", u"root"}, {u"urn:d", u"b"}})
        EXPECT_EQ(FirstDescendantElement(xml.Root(), uri, name),
                  xml.Root()->getElementsByTagNameNS(uri, name)->item(0));
    EXPECT_EQ(FirstDescendantElement(xml.Document(), u"urn:p", u"root"), xml.Root());
}

}  // namespace
}  // namespace zel::cml
