// The XML writer: escaping, declarations per stream kind, the document head, the formatted
// DOM subtree writer. Most cases run as one typed suite over narrow (char, UTF-8) and wide
// (char16_t, UTF-16) streams against the same hand-written golden texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <locale>

#include "SensorIndependence/CmlLib/cml_namespace.h"
#include "SensorIndependence/CmlLib/schema_file_name.h"
#include "SensorIndependence/CmlLib/xml_writer.h"
#include "cml/cml_test_support.h"
#include "cml/dom_test_support.h"
#include "support/small_stack.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

template <typename CharT>
std::basic_string<CharT> Text(std::string_view ascii) { return std::basic_string<CharT>(ascii.begin(), ascii.end()); }

// A document head on the stream kind: the UTF-8 declaration on narrow streams, the byte-order
// mark and the UTF-16 declaration on wide string streams, then `rest`.
template <typename CharT>
std::basic_string<CharT> Head(std::string_view rest) {
    const std::string tail = " standalone='no'?>\n" + std::string(rest);
    if constexpr (std::is_same_v<CharT, char>) return "<?xml version='1.0' encoding='UTF-8'" + tail;
    else return u"\uFEFF" + Text<char16_t>("<?xml version='1.0' encoding='UTF-16'" + tail);
}

template <typename>
class XmlWriterTest : public ::testing::Test {};
using CharTypes = ::testing::Types<char, char16_t>;
TYPED_TEST_SUITE(XmlWriterTest, CharTypes);

// The expected wide text, or its UTF-8 for narrow streams.
template <typename CharT>
std::basic_string<CharT> Expected(const std::u16string& wide) {
    if constexpr (std::is_same_v<CharT, char>) return ToUtf8(wide);
    else return wide;
}

TYPED_TEST(XmlWriterTest, EveryCharacterClassIsEscapedAtEveryPositionOfABlock) {
    // Each class of unit (or pair) as text and attribute mode write it. Without escaping only
    // what XML 1.0 cannot carry is replaced: every mode writes U+FFFD for it.
    const std::u16string high(1, char16_t(0xD800)), low(1, char16_t(0xDC00)), bad = u"\uFFFD";
    // An empty attribute form: the same as the text form.
    const struct { std::u16string unit, text, attribute = {}; } classes[] = {
        {u"", u""}, {u"&", u"&amp;"}, {u"<", u"&lt;"}, {u">", u"&gt;"}, {u"\"", u"&quot;"}, {u"'", u"&apos;"},
        // The line feed is escaped in attribute values only; tab and carriage return pass.
        {u"\n", u"\n", u"&#xa;"}, {u"\t", u"\t"}, {u"\r", u"\r"},
        // Characters outside ASCII pass (the narrow form is their UTF-8), a surrogate pair too.
        {u"\x7f", u"\x7f"}, {u"\u00e9", u"\u00e9"}, {u"\U0001F600", u"\U0001F600"}, {u"\uFFFD", bad},
        {std::u16string(1, u'\0'), bad}, {u"\x08", bad}, {u"\x0b", bad}, {u"\x1f", bad}, {u"\uFFFE", bad},
        {u"\uFFFF", bad}, {high, bad}, {low, bad}, {high + high + u"\U0001F600", bad + bad + u"\U0001F600"},
    };
    // The sink copies plain ASCII eight units at a time, the last eight overlapping what it has
    // written, and a text of four to seven units as its first and last four; the string forms
    // escape unit by unit. Both must agree wherever a unit that needs care falls, also when the
    // text starts just before the sink hands its buffer on.
    for (std::size_t prefix : {0, 3, 462, 509}) {
        for (std::size_t length = 0; length <= 20; ++length) {
            for (std::size_t at = 0; at <= length; ++at) {
                const auto around = [&](const std::u16string& middle) {
                    return std::u16string(at, u'x') + middle + std::u16string(length - at, u'x');
                };
                for (const auto& c : classes) {
                    const std::u16string text = around(c.unit);
                    // Escaping gives an entity exactly for the markup characters.
                    const std::u16string unescaped = around(c.text.substr(0, 1) == u"&" ? c.unit : c.text);
                    std::basic_ostringstream<TypeParam> out;
                    XmlSink<TypeParam>(out).Ascii(std::string(prefix, '-')).Escaped(text, kEscapeText).Ascii("|")
                        .Escaped(text, kEscapeAttribute).Ascii("|").Escaped(text, kEscapeNone);
                    const auto escaped = around(c.text) + u"|" + around(c.attribute.empty() ? c.text : c.attribute);
                    ASSERT_EQ(out.str(), Expected<TypeParam>(std::u16string(prefix, u'-') + escaped + u"|" + unescaped))
                        << prefix << " " << length << " " << at << " " << ToUtf8(c.text);
                    ASSERT_EQ(EscapeText(text) + u"|" + EscapeAttribute(text), escaped);
                }
            }
        }
    }
}

TYPED_TEST(XmlWriterTest, WordsIndentationAndWideTextCrossTheBufferIntact) {
    // Near the end of the sink's buffer (512 units) the sink must hand the buffer on first: amid a
    // surrogate pair, a word (copied a block at a time) or a long indentation. A word that needs
    // escaping as a value is still escaped.
    for (std::size_t prefix = 440; prefix <= 520; ++prefix) {
        std::basic_ostringstream<TypeParam> out;
        XmlSink<TypeParam>(out)
            .Ascii(std::string(prefix, '-'))
            .Wide(u"\u00e9\U0001F600")
            .Attribute(word::kTagXmlns, word::kCommonNamespaceURI)
            .Attribute(word::kTagValue, word::kEntityAmp)
            .Indent(150);
        const std::u16string expected = std::u16string(prefix, u'-') + u"\u00e9\U0001F600 xmlns='" +
                                        kCommonNamespaceURI + u"' value='&amp;amp;'" + Indent(150);
        ASSERT_EQ(out.str(), Expected<TypeParam>(expected)) << prefix;
    }
}

TYPED_TEST(XmlWriterTest, IndentationNumbersAndFailedStreams) {
    std::basic_ostringstream<TypeParam> out;
    for (int level : {0, 3, 20}) WriteIndent(out, level), WriteAscii(out, "|");  // 20: more than one chunk of blanks
    for (uint32_t n : {0u, 4294967295u}) WriteDecimal(out, n), WriteAscii(out, ",");
    WriteHex(out, 0xC7380017u);
    WriteAscii(out, ",");
    WriteHex(out, 0);
    WriteAttribute(out, u"text", u"it's\n");
    // A failed stream takes nothing more.
    out.setstate(std::ios_base::failbit);
    WriteEscaped(out, u"&", kEscapeText);
    EXPECT_EQ(out.str(), Text<TypeParam>("|            |" + std::string(80, ' ') +
                                         "|0,4294967295,c7380017,0 text='it&apos;s&#xa;'"));
    EXPECT_EQ(Indent(-1), u"");
}

TYPED_TEST(XmlWriterTest, DocumentHead) {
    const std::string head = "<zel xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n    xsi:schemaLocation='";
    const std::string locations = "http://schemas.zel.example ./schemas/Zel1_0_0.xsd\n"
                                  "    http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd";
    NamespaceSet set;
    AddNamespace(set, kCmlNamespaceURI, kCmlSchemaVersion, u"t");
    // An entry assigned from a clone writes as the original would.
    CNamespace root(u"urn:replaced", u"0");
    root = *CNamespace(kCmlBaseURI, kRootSchemaVersion).Clone();
    set.insert(root);
    std::basic_ostringstream<TypeParam> out, empty, partial;
    // Locations in URI order.
    WriteDocumentHead(out, kTagZel, set);
    EXPECT_EQ(out.str(), Head<TypeParam>(head + locations + "'"));
    WriteDocumentHead(empty, u"get-policy-request", NamespaceSet());
    EXPECT_EQ(empty.str(),
              Head<TypeParam>("<get-policy-request xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"));
    // The head written before the failing entry stays in the stream, also what the writer held
    // when the exception left it.
    AddNamespace(set, u"urn:other", u"1.0.0", u"t");
    test::ExpectCmlError([&] { WriteDocumentHead(partial, u"zel", set); }, u"Building schema filename",
                         u"Invalid namespace URI", ZEL_E_CML_UNKNOWN_NAMESPACE);
    EXPECT_EQ(partial.str(), Head<TypeParam>(head + locations + "\n    "));
}

const char kSubtreeDocument[] =
    "<?xml version='1.0' encoding='UTF-8'?>\n<root id='x&amp;y' xmlns='urn:a' xmlns:p='urn:p'>\n"
    "  <child attr='a&lt;b&#10;c' other='q\"t'>text &amp; more</child>\n  <p:item p:k='v'/>\n"
    "  <p:bare xmlns:p='urn:p'><inner/></p:bare>\n  <other xmlns='urn:b'><deep/></other>\n  <t>\ttab</t>\n"
    "  <e>it's &gt; 1</e>\n  <blank>  \n  </blank>\n  <!-- note & <more> -->\n"
    "  <c><![CDATA[raw <stuff> & 'q']]><![CDATA[ \n ]]></c>\n  <?pi data?>\n"
    "</root>\n";

const char kSubtreeGolden[] =
    "<root id='x&amp;y' xmlns='urn:a' xmlns:p='urn:p'>\n    <child attr='a&lt;b&#xa;c' other='q&quot;t'>\n"
    "        text &amp; more\n    </child>\n    <p:item xmlns='urn:p' p:k='v'/>\n    <p:bare xmlns:p='urn:p'>\n"
    "        <inner xmlns='urn:a'/>\n    </p:bare>\n    <other xmlns='urn:b'>\n        <deep/>\n    </other>\n    <t>\n"
    "        \ttab\n    </t>\n    <e>\n        it&apos;s &gt; 1\n    </e>\n    <blank>\n    </blank>\n"
    "    <!-- note & <more> -->\n    <c>\n        <![CDATA[raw <stuff> & 'q']]>\n    </c>\n\n"
    "Unrecognized node type:  7</root>\n";

TYPED_TEST(XmlWriterTest, WriteNodeFormatsParsedSubtrees) {
    const std::string body = "<r>\t<a>\t</a>\t</r>";
    const struct { std::string document; bool validate; const char* expected; } cases[] = {
        {kSubtreeDocument, false, kSubtreeGolden},
        // The root's parent is the document node, which counts as having no namespace.
        {"<a><b/></a>", false, "<a>\n    <b/>\n</a>\n"},
        // Tabs are content, unless a DTD makes them white space between elements.
        {body, false, "<r>\n    \t\n    <a>\n        \t\n    </a>\n    \t\n</r>\n"},
        {"<!DOCTYPE r [<!ELEMENT r (a)*><!ELEMENT a (#PCDATA)>]>" + body, true,
         "<r>\n    <a>\n        \t\n    </a>\n</r>\n"},
    };
    for (const auto& c : cases) {
        std::basic_ostringstream<TypeParam> out;
        WriteNode(nullptr, out, 0);  // a null node writes nothing
        WriteNode(test::ParsedXml(c.document, c.validate).Root(), out, 0);
        EXPECT_EQ(out.str(), Text<TypeParam>(c.expected));
    }
}

// Counts the lines of what it is given and the flushes, and keeps the last line (with no buffer,
// every character comes through overflow).
template <typename CharT>
struct LineCounter : std::basic_streambuf<CharT> {
    std::size_t lines = 0, syncs = 0;
    std::basic_string<CharT> line, lastLine;
    typename std::basic_streambuf<CharT>::int_type overflow(typename std::basic_streambuf<CharT>::int_type c) override {
        if (c != CharT('\n')) return line.push_back(static_cast<CharT>(c)), c;
        ++lines;
        lastLine.swap(line);
        line.clear();
        return c;
    }
    int sync() override { ++syncs; return 0; }
};

TYPED_TEST(XmlWriterTest, WriteNodeWalksAnyDepthOnASmallStack) {
    constexpr std::size_t kDepth = 5000;
    test::ParsedXml xml("<e/>");
    xercesc::DOMNode* inner = xml.Root();
    for (std::size_t i = 1; i < kDepth; ++i) inner = inner->appendChild(xml.Document()->createElement(u"e"));
    inner->appendChild(xml.Document()->createTextNode(u"x"));
    LineCounter<TypeParam> counter;
    std::basic_ostream<TypeParam> out(&counter);
    zel::test::RunOnSmallStack([&] { WriteNode(xml.Root(), out, 0); });
    // A start and an end tag per element, the text between the innermost pair.
    EXPECT_EQ(counter.lines, 2 * kDepth + 1);
    EXPECT_EQ(counter.syncs, counter.lines) << "every line end flushes once";
    EXPECT_EQ(counter.lastLine, Text<TypeParam>("</e>"));
}

// The 8-bit string forms of escaping; the wide forms are checked against the stream writer above.
// And narrow output replaces an unpaired surrogate.
TEST(XmlWriter, NarrowForms) {
    EXPECT_EQ(EscapeText(std::string_view("\"x\" \xC3\xA9>")), "&quot;x&quot; \xC3\xA9&gt;");
    EXPECT_EQ(EscapeAttribute(std::string_view("\n\xC3\xA9<")), "&#xa;\xC3\xA9&lt;");
    std::ostringstream out;
    WriteWide(out, std::u16string(u"a") + char16_t(0xD800) + u"b\u00e9" + char16_t(0xD800) + char16_t(0xD800) +
                       u"\U0001F600");
    EXPECT_EQ(out.str(), "a\xEF\xBF\xBD" "b\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBD\xF0\x9F\x98\x80");
}

// A wide file stream with the converting facet writes UTF-8: its declaration says so.
TEST(XmlWriter, WideFileStreamGetsUtf8DeclarationOtherWideStreamsNone) {
    const std::string path = ::testing::TempDir() + "/xml_writer_wide_file.xml";
    {
        std::basic_ofstream<char16_t> file;
        file.imbue(std::locale(std::locale::classic(), new zelUnicode));
        file.open(path, std::ios::out | std::ios::trunc);
        WriteXmlDeclaration(file, true);
        WriteWide(file, u"<a>\u00e9</a>");
    }
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\n<a>\xC3\xA9</a>");
    std::remove(path.c_str());
    // Any other wide stream is rejected before anything is written.
    LineCounter<char16_t> sink;
    std::basic_ostream<char16_t> out(&sink);
    test::ExpectCmlError([&] { WriteXmlDeclaration(out, false); }, u"Writing XML declaration",
                         u"Unsupported stream type", 0xC7210003u);
    EXPECT_EQ(sink.line + sink.lastLine, u"");
}

TEST(SchemaFileName, MapsNamespaceAndVersionToFile) {
    // Each step of the namespace below the base is a directory; the location escapes blanks. The
    // document head above maps the root and "/cml" namespaces.
    std::u16string fileName, location;
    SchemaFileName(kBase64BinaryNamespaceURI, u"1.0", u"./my schemas", fileName);
    SchemaLocation(kBase64BinaryNamespaceURI, u"1.0", u"./my schemas", location);
    EXPECT_EQ(fileName, u"./my schemas/cml/CommonDocuments/Base64Binary/Base64Binary1_0.xsd");
    EXPECT_EQ(location, u"./my%20schemas/cml/CommonDocuments/Base64Binary/Base64Binary1_0.xsd");
    for (const char16_t* foreign : {u"http://other.example/cml", u"https://schemas.zel.example/cml", u""}) {
        std::u16string out = u"unchanged";
        test::ExpectCmlError([&] { SchemaFileName(foreign, u"1.0.0", u"./schemas", out); },
                             u"Building schema filename", u"Invalid namespace URI", 0xC738000Au);
        EXPECT_EQ(out, u"unchanged");
    }
}

}  // namespace
}  // namespace zel::cml
