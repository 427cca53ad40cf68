// The XML writer: escaping, declarations per stream kind, the document head, the formatted
// DOM subtree writer. Most cases run as one typed suite over narrow (char, UTF-8) and wide
// (char16_t, UTF-16) streams against the same hand-written golden texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <locale>

#include <xercesc/dom/DOMNodeList.hpp>

#include "SensorIndependence/CmlLib/cml_namespace.h"
#include "SensorIndependence/CmlLib/schema_file_name.h"
#include "SensorIndependence/CmlLib/xml_writer.h"
#include "cml/cml_test_support.h"
#include "cml/dom_test_support.h"
#include "support/small_stack.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

using test::ParsedXml;

template <typename CharT>
std::basic_string<CharT> Text(std::string_view ascii) { return std::basic_string<CharT>(ascii.begin(), ascii.end()); }

// The first line of every document on the stream kind: the UTF-8 declaration on narrow
// streams, the byte-order mark and the UTF-16 declaration on wide string streams.
template <typename CharT>
std::basic_string<CharT> DeclarationLine(bool standalone) {
    const std::string tail = std::string(" standalone='") + (standalone ? "yes" : "no") + "'?>\n";
    if constexpr (std::is_same_v<CharT, char>) return "<?xml version='1.0' encoding='UTF-8'" + tail;
    else return u"\uFEFF" + Text<char16_t>("<?xml version='1.0' encoding='UTF-16'" + tail);
}

// Counts flushes, to check that every line end flushes once.
template <typename CharT>
struct CountingBuffer : std::basic_stringbuf<CharT> {
    int syncs = 0;
    int sync() override { return ++syncs, 0; }
};

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

TYPED_TEST(XmlWriterTest, EscapesInTextAndAttributeModeAndReplacesWhatXmlCannotCarry) {
    const std::u16string lowAlone(1, char16_t(0xDC00)), highAlone(1, char16_t(0xDBFF));
    const struct { std::u16string input; EscapeMode mode; std::u16string expected; } cases[] = {
        {u"a<b & 'c'\n\"q\" > x", kEscapeText, u"a&lt;b &amp; &apos;c&apos;\n&quot;q&quot; &gt; x"},
        {u"a<b & 'c'\n\t\r", kEscapeAttribute, u"a&lt;b &amp; &apos;c&apos;&#xa;\t\r"},
        {u"", kEscapeText, u""}, {u"<>", kEscapeNone, u"<>"},
        // Characters outside ASCII pass (the narrow form is their UTF-8), a surrogate pair too.
        {u"\u00e9<\u20ac\U0001F600\uFFFD", kEscapeAttribute, u"\u00e9&lt;\u20ac\U0001F600\uFFFD"},
        // What XML 1.0 cannot carry becomes U+FFFD in every mode.
        {std::u16string(u"a\0b\x01\x08\x0b\x0c\x1f", 8), kEscapeAttribute, u"a\uFFFDb\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {u"<\x07>", kEscapeNone, u"<\uFFFD>"}, {u"\uFFFE\uFFFF\uFFFD", kEscapeText, u"\uFFFD\uFFFD\uFFFD"},
        {lowAlone + u"<" + highAlone, kEscapeText, u"\uFFFD&lt;\uFFFD"},
        {highAlone + highAlone + u"\U0001F600", kEscapeAttribute, u"\uFFFD\uFFFD\U0001F600"},
    };
    for (const auto& c : cases) {
        std::basic_ostringstream<TypeParam> out;
        WriteEscaped(out, c.input, c.mode);
        EXPECT_EQ(out.str(), Expected<TypeParam>(c.expected)) << ToUtf8(c.expected);
    }
}

TYPED_TEST(XmlWriterTest, LongTextCrossesTheLineBufferIntact) {
    // Plain runs, entities and non-ASCII characters (a surrogate pair among them) falling on
    // every position relative to the writer's internal buffer.
    std::u16string text;
    for (int i = 0; i < 700; ++i) {
        text += u"ab";
        text += (i % 7 == 0) ? u"&" : (i % 11 == 0) ? u"\u00e9" : (i % 13 == 0) ? u"\U0001F600" : u"";
        text += u"cdefghijk"[i % 9];
    }
    std::basic_ostringstream<TypeParam> out;
    XmlSink<TypeParam>(out).Indent(150).Escaped(text, kEscapeAttribute).Ascii("|").Wide(text).EndLine();
    EXPECT_EQ(out.str(), Expected<TypeParam>(Indent(150) + EscapeAttribute(text) + u"|" + text + u"\n"));
}

TYPED_TEST(XmlWriterTest, EveryCharacterIsEscapedAtEveryPositionOfABlock) {
    // The sink copies plain ASCII eight units at a time, the last eight overlapping what it
    // has written; the string forms escape unit by unit. Both must agree wherever a unit that
    // needs care falls, also when the text starts just before the sink hands its buffer on.
    const char16_t specials[] = {u'&', u'<', u'>', u'"', u'\'', u'\n', u'\t', u'\r', 0x01, 0x1F, 0x7F, 0xE9, 0xD800};
    for (std::size_t prefix : {0, 3, 462, 509}) {
        for (std::size_t length = 1; length <= 20; ++length) {
            for (std::size_t at = 0; at < length; ++at) {
                for (char16_t special : specials) {
                    std::u16string text(length, u'x');
                    text[at] = special;
                    std::basic_ostringstream<TypeParam> out;
                    XmlSink<TypeParam>(out).Ascii(std::string(prefix, '-')).Escaped(text, kEscapeText).Ascii("|")
                        .Escaped(text, kEscapeAttribute).Ascii("|").Escaped(text, kEscapeNone);
                    // Without escaping only what XML cannot carry is replaced.
                    std::u16string unescaped = text;
                    const bool control = special < 0x20 && special != u'\t' && special != u'\n' && special != u'\r';
                    if (control || special == 0xD800) unescaped[at] = 0xFFFD;
                    const std::u16string expected = std::u16string(prefix, u'-') + EscapeText(text) + u"|" +
                                                    EscapeAttribute(text) + u"|" + unescaped;
                    ASSERT_EQ(out.str(), Expected<TypeParam>(expected)) << prefix << " " << length << " " << at;
                }
            }
        }
    }
}

TYPED_TEST(XmlWriterTest, VocabularyWordsAreCopiedWholeAtEveryPositionNearTheBufferEnd) {
    // Words are copied a block at a time into the sink's buffer: near its end the sink must
    // hand the buffer on first. A word that needs escaping as a value is still escaped.
    const std::u16string uri = kCommonNamespaceURI;
    for (std::size_t prefix = 440; prefix <= 520; ++prefix) {
        std::basic_ostringstream<TypeParam> out;
        XmlSink<TypeParam>(out)
            .Ascii(std::string(prefix, '-'))
            .Name(word::kCommonNamespaceURI)
            .Attribute(word::kTagXmlns, word::kCommonNamespaceURI)
            .Attribute(word::kTagValue, word::kEntityAmp)
            .Attribute(word::kTagName, u"a<b")
            .AttributeIfSet(word::kTagVersion, u"");
        const std::u16string expected = std::u16string(prefix, u'-') + uri + u" xmlns='" + uri +
                                        u"' value='&amp;amp;' name='a&lt;b'";
        ASSERT_EQ(out.str(), Expected<TypeParam>(expected)) << prefix;
    }
}

TYPED_TEST(XmlWriterTest, IndentationNumbersAttributesAndFailedStreams) {
    std::basic_ostringstream<TypeParam> out;
    for (int level : {0, 3, 20}) WriteIndent(out, level), WriteAscii(out, "|");  // 20: more than one chunk of blanks
    for (uint32_t n : {0u, 4294967295u}) WriteDecimal(out, n), WriteAscii(out, ",");
    WriteHex(out, 0xC7380017u);
    WriteAscii(out, ",");
    WriteHex(out, 0);
    WriteAttribute(out, u"text", u"it's\n");
    // A sink left by an exception hands over what it holds.
    try {
        XmlSink<TypeParam> sink(out);
        sink.Ascii("<a").Attribute(u"x", u"1");
        throw CCmlException(u"o", u"d", ZEL_E_INTERNAL);
    } catch (const CCmlException&) {
    }
    // A failed stream takes nothing more.
    out.setstate(std::ios_base::failbit);
    WriteAscii(out, "b");
    WriteWide(out, u"c");
    WriteEscaped(out, u"&", kEscapeText);
    WriteIndent(out, 2);
    EXPECT_EQ(out.str(), Text<TypeParam>("|            |" + std::string(80, ' ') +
                                     "|0,4294967295,c7380017,0 text='it&apos;s&#xa;'<a x='1'"));
    EXPECT_EQ(Indent(2), u"        ");
    EXPECT_EQ(Indent(-1), u"");
}

TYPED_TEST(XmlWriterTest, DeclarationAndDocumentHead) {
    for (bool standalone : {true, false}) {
        std::basic_ostringstream<TypeParam> out;
        std::basic_stringstream<TypeParam> both;  // a bidirectional string stream is a string stream too
        WriteXmlDeclaration(out, standalone);
        WriteXmlDeclaration(both, standalone);
        EXPECT_EQ(out.str(), DeclarationLine<TypeParam>(standalone));
        EXPECT_EQ(both.str(), DeclarationLine<TypeParam>(standalone));
    }
    const std::string head = "<zel xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n    xsi:schemaLocation='";
    const std::string rootLocation = "http://schemas.zel.example ./schemas/Zel1_0_0.xsd\n    ";
    NamespaceSet set, blank, foreign;
    AddNamespace(set, kCmlNamespaceURI, kCmlSchemaVersion, u"t");
    AddNamespace(set, kCmlBaseURI, kRootSchemaVersion, u"t");
    AddNamespace(set, kCommonNamespaceURI, u"1.0.0", u"t");
    AddNamespace(blank, ZEL_CML_BASE_URI u"/cml/my ns", u"1.0.0", u"t");
    AddNamespace(foreign, kCmlBaseURI, kRootSchemaVersion, u"t");
    AddNamespace(foreign, u"urn:other", u"1.0.0", u"t");
    const struct { const char16_t* root; const NamespaceSet& set; std::string expected; } cases[] = {
        // Locations in URI order; blanks escaped in the file name.
        {kTagZel, set, head + rootLocation + "http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd\n"
                       "    http://schemas.zel.example/cml/common ./schemas/cml/common/common1_0_0.xsd'"},
        {u"get-policy-request", NamespaceSet(),
         "<get-policy-request xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"},
        {u"zel", blank, head + "http://schemas.zel.example/cml/my ns ./schemas/cml/my%20ns/my%20ns1_0_0.xsd'"},
    };
    for (const auto& c : cases) {
        std::basic_ostringstream<TypeParam> out;
        WriteDocumentHead(out, c.root, c.set);
        EXPECT_EQ(out.str(), DeclarationLine<TypeParam>(false) + Text<TypeParam>(c.expected));
    }
    // The head written before the failing entry stays in the stream.
    std::basic_ostringstream<TypeParam> partial;
    test::ExpectCmlError([&] { WriteDocumentHead(partial, u"zel", foreign); }, u"Building schema filename",
                         u"Invalid namespace URI", ZEL_E_CML_UNKNOWN_NAMESPACE);
    EXPECT_EQ(partial.str(), DeclarationLine<TypeParam>(false) + Text<TypeParam>(head + rootLocation));
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

TYPED_TEST(XmlWriterTest, WriteNodeFormatsParsedSubtree) {
    ParsedXml xml(kSubtreeDocument);
    CountingBuffer<TypeParam> buffer;
    std::basic_ostream<TypeParam> out(&buffer);
    WriteNode(xml.Root(), out, 0);
    const std::basic_string<TypeParam> written = buffer.str();
    EXPECT_EQ(written, Text<TypeParam>(kSubtreeGolden));
    // One flush per line end.
    EXPECT_EQ(buffer.syncs, std::count(written.begin(), written.end(), TypeParam('\n')));
}

// Namespace declarations of the first element written; white space the DOM marks ignorable.
TYPED_TEST(XmlWriterTest, WriteNodeOfSingleNodes) {
    ParsedXml xml(kSubtreeDocument);
    const std::string body = "<r>\t<a>\t</a>\t</r>";
    ParsedXml plain("<a><b/></a>"), undeclared("<a xmlns:q='urn:q'><q:b/></a>"), tabs(body),
        validated("<!DOCTYPE r [<!ELEMENT r (a)*><!ELEMENT a (#PCDATA)>]>" + body, true);
    const struct { const xercesc::DOMNode* node; int level; const char* expected; } cases[] = {
        // Same namespace as its parent in the DOM: no declaration even as the first element written.
        {xml.Root()->getElementsByTagNameNS(u"urn:a", u"t")->item(0), 1, "    <t>\n        \ttab\n    </t>\n"},
        {xml.Root()->getElementsByTagNameNS(u"urn:p", u"item")->item(0), 0, "<p:item xmlns='urn:p' p:k='v'/>\n"},
        {nullptr, 0, ""},
        // The root's parent is the document node, which counts as having no namespace.
        {plain.Root(), 0, "<a>\n    <b/>\n</a>\n"}, {undeclared.Root()->getFirstChild(), 0, "<q:b xmlns='urn:q'/>\n"},
        // Tabs are content, unless a DTD makes them white space between elements.
        {tabs.Root(), 0, "<r>\n    \t\n    <a>\n        \t\n    </a>\n    \t\n</r>\n"},
        {validated.Root(), 0, "<r>\n    <a>\n        \t\n    </a>\n</r>\n"},
    };
    for (const auto& c : cases) {
        std::basic_ostringstream<TypeParam> out;
        WriteNode(c.node, out, c.level);
        EXPECT_EQ(out.str(), Text<TypeParam>(c.expected));
    }
}

// Counts the lines of what it is given and keeps the last one (with no buffer, every character
// comes through overflow).
template <typename CharT>
struct LineCounter : std::basic_streambuf<CharT> {
    std::size_t lines = 0;
    std::basic_string<CharT> line, lastLine;
    typename std::basic_streambuf<CharT>::int_type overflow(typename std::basic_streambuf<CharT>::int_type c) override {
        if (c != CharT('\n')) return line.push_back(static_cast<CharT>(c)), c;
        ++lines;
        lastLine.swap(line);
        line.clear();
        return c;
    }
};

TYPED_TEST(XmlWriterTest, WriteNodeWalksAnyDepthOnASmallStack) {
    constexpr std::size_t kDepth = 5000;
    ParsedXml xml("<e/>");
    xercesc::DOMNode* inner = xml.Root();
    for (std::size_t i = 1; i < kDepth; ++i) inner = inner->appendChild(xml.Document()->createElement(u"e"));
    inner->appendChild(xml.Document()->createTextNode(u"x"));
    LineCounter<TypeParam> counter;
    std::basic_ostream<TypeParam> out(&counter);
    zel::test::RunOnSmallStack([&] { WriteNode(xml.Root(), out, 0); });
    // A start and an end tag per element, the text between the innermost pair.
    EXPECT_EQ(counter.lines, 2 * kDepth + 1);
    EXPECT_EQ(counter.lastLine, Text<TypeParam>("</e>"));
}

TEST(XmlWriter, NarrowOutputReplacesUnpairedSurrogates) {
    std::ostringstream out;
    WriteWide(out, std::u16string(u"a") + char16_t(0xD800) + u"b");
    WriteWide(out, std::u16string(u"\u00e9") + char16_t(0xD800) + char16_t(0xD800) + u"\U0001F600");
    EXPECT_EQ(out.str(), "a\xEF\xBF\xBD" "b\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBD\xF0\x9F\x98\x80");
}

TEST(XmlWriter, WideFileStreamGetsUtf8DeclarationAndBytes) {
    const std::string path = ::testing::TempDir() + "/xml_writer_wide_file.xml";
    const auto write = [&](auto&& file, bool standalone) {
        file.imbue(std::locale(std::locale::classic(), new zelUnicode));
        file.open(path, std::ios::out | std::ios::trunc);
        ASSERT_TRUE(file.is_open());
        WriteXmlDeclaration(file, standalone);
        WriteWide(file, u"<a>\u00e9</a>");
    };
    for (bool bidirectional : {false, true}) {
        if (bidirectional) write(std::basic_fstream<char16_t>(), true);
        else write(std::basic_ofstream<char16_t>(), false);
        std::ifstream in(path, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
                  std::string("<?xml version='1.0' encoding='UTF-8' standalone='") + (bidirectional ? "yes" : "no") +
                      "'?>\n<a>\xC3\xA9</a>");
    }
    std::remove(path.c_str());
}

TEST(XmlWriter, OtherWideStreamIsRejectedBeforeWriting) {
    LineCounter<char16_t> sink;
    std::basic_ostream<char16_t> out(&sink);
    test::ExpectCmlError([&] { WriteXmlDeclaration(out, false); }, u"Writing XML declaration",
                         u"Unsupported stream type", 0xC7210003u);
    EXPECT_EQ(sink.line + sink.lastLine, u"");
}

// The wide forms are checked against the stream writer above.
TEST(XmlWriter, NarrowStringEscapeForms) {
    EXPECT_EQ(EscapeText(std::string_view("\"x\" \xC3\xA9>")), "&quot;x&quot; \xC3\xA9&gt;");
    EXPECT_EQ(EscapeAttribute(std::string_view("\n")), "&#xa;");
    EXPECT_EQ(EscapeAttribute(std::string_view("plain")), "plain");
}

TEST(SchemaFileName, MapsNamespaceAndVersionToFile) {
    // A null location: the file name.
    const struct { const char16_t *uri, *version, *directory, *fileName, *location; } cases[] = {
        {kCmlBaseURI, u"1.0.0", u"./schemas", u"./schemas/Zel1_0_0.xsd", nullptr},
        {kCommonNamespaceURI, u"1.0.0", u"./schemas", u"./schemas/cml/common/common1_0_0.xsd", nullptr},
        {kBase64BinaryNamespaceURI, u"1.0", u"d", u"d/cml/CommonDocuments/Base64Binary/Base64Binary1_0.xsd", nullptr},
        {kCmlNamespaceURI, u"2.4.2", u"./my schemas", u"./my schemas/cml/cml2_4_2.xsd",
         u"./my%20schemas/cml/cml2_4_2.xsd"},
    };
    for (const auto& c : cases) {
        std::u16string fileName, location;
        SchemaFileName(c.uri, c.version, c.directory, fileName);
        SchemaLocation(c.uri, c.version, c.directory, location);
        EXPECT_EQ(fileName, c.fileName);
        EXPECT_EQ(location, c.location ? c.location : c.fileName);
    }
    for (const char16_t* foreign : {u"http://other.example/cml", u"https://schemas.zel.example/cml", u""}) {
        std::u16string out = u"unchanged";
        test::ExpectCmlError([&] { SchemaFileName(foreign, u"1.0.0", u"./schemas", out); },
                             u"Building schema filename", u"Invalid namespace URI", 0xC738000Au);
        EXPECT_EQ(out, u"unchanged");
    }
}

}  // namespace
}  // namespace zel::cml
