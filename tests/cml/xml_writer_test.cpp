// The XML writer: escaping, declarations per stream kind, the document head, the formatted
// DOM subtree writer. Most cases run as one typed suite over narrow (char, UTF-8) and wide
// (char16_t, UTF-16) streams against the same hand-written golden texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <locale>
#include <sstream>
#include <string>

#include <xercesc/dom/DOMNodeList.hpp>
#include <xercesc/dom/DOMText.hpp>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_namespace.h"
#include "SensorIndependence/CmlLib/schema_file_name.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_writer.h"
#include "cml/cml_test_support.h"
#include "cml/dom_test_support.h"
#include "support/small_stack.h"
#include "runtime/unicode.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

using test::ParsedXml;

// An ASCII golden text in the character type under test.
template <typename CharT>
std::basic_string<CharT> Text(std::string_view ascii) {
    return std::basic_string<CharT>(ascii.begin(), ascii.end());
}

// The first line of every document on the stream kind: the UTF-8 declaration on narrow
// streams, the byte-order mark and the UTF-16 declaration on wide string streams.
template <typename CharT>
std::basic_string<CharT> DeclarationLine(bool standalone) {
    const char* yesNo = standalone ? "yes" : "no";
    if constexpr (std::is_same_v<CharT, char>) {
        return "<?xml version='1.0' encoding='UTF-8' standalone='" + std::string(yesNo) + "'?>\n";
    } else {
        return u"\uFEFF" + Text<char16_t>("<?xml version='1.0' encoding='UTF-16' standalone='" + std::string(yesNo) +
                                          "'?>\n");
    }
}

// Counts flushes, to check that every line end flushes once.
template <typename CharT>
class CountingBuffer : public std::basic_stringbuf<CharT> {
public:
    int syncs = 0;

protected:
    int sync() override {
        ++syncs;
        return 0;
    }
};

template <typename CharT>
class XmlWriterTest : public ::testing::Test {};

using CharTypes = ::testing::Types<char, char16_t>;
TYPED_TEST_SUITE(XmlWriterTest, CharTypes);

// The expected wide text, or its UTF-8 for narrow streams.
template <typename CharT>
std::basic_string<CharT> Expected(const std::u16string& wide) {
    if constexpr (std::is_same_v<CharT, char>) {
        return ToUtf8(wide);
    } else {
        return wide;
    }
}

TYPED_TEST(XmlWriterTest, EscapesInTextAndAttributeModeAndReplacesWhatXmlCannotCarry) {
    using CharT = TypeParam;
    const std::u16string lowAlone(1, char16_t(0xDC00));
    const std::u16string highAlone(1, char16_t(0xDBFF));
    struct Case {
        std::u16string input;
        EscapeMode mode;
        std::u16string expected;
    };
    const Case cases[] = {
        {u"a<b & 'c'", kEscapeText, u"a&lt;b &amp; &apos;c&apos;"},
        {u"a<b & 'c'\n", kEscapeAttribute, u"a&lt;b &amp; &apos;c&apos;&#xa;"},
        {u"line1\nline2", kEscapeText, u"line1\nline2"},
        {u"\"q\" > x", kEscapeText, u"&quot;q&quot; &gt; x"},
        {u"\t\r plain", kEscapeAttribute, u"\t\r plain"},
        {u"&&", kEscapeAttribute, u"&amp;&amp;"},
        {u"", kEscapeText, u""},
        {u"<>", kEscapeNone, u"<>"},
        // Characters outside ASCII pass (the narrow form is their UTF-8), a surrogate pair too.
        {u"\u00e9<\u20ac\U0001F600\uFFFD", kEscapeAttribute, u"\u00e9&lt;\u20ac\U0001F600\uFFFD"},
        // What XML 1.0 cannot carry becomes U+FFFD in every mode.
        {std::u16string(u"a\0b\x01\x08\x0b\x0c\x1f", 8), kEscapeAttribute, u"a\uFFFDb\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {u"\x1b[31m'", kEscapeText, u"\uFFFD[31m&apos;"},
        {u"<\x07>", kEscapeNone, u"<\uFFFD>"},
        {u"\uFFFE\uFFFF\uFFFD", kEscapeText, u"\uFFFD\uFFFD\uFFFD"},
        {lowAlone + u"<" + highAlone, kEscapeText, u"\uFFFD&lt;\uFFFD"},
        {highAlone + highAlone + u"\U0001F600", kEscapeAttribute, u"\uFFFD\uFFFD\U0001F600"},
    };
    for (const Case& c : cases) {
        std::basic_ostringstream<CharT> out;
        WriteEscaped(out, c.input, c.mode);
        EXPECT_EQ(out.str(), Expected<CharT>(c.expected)) << ToUtf8(c.expected);
    }
}

TYPED_TEST(XmlWriterTest, LongTextCrossesTheLineBufferIntact) {
    using CharT = TypeParam;
    // Plain runs, entities and non-ASCII characters (a surrogate pair among them) falling on
    // every position relative to the writer's internal buffer.
    std::u16string text;
    for (int i = 0; i < 700; ++i) {
        text += u"ab";
        text += (i % 7 == 0) ? u"&" : (i % 11 == 0) ? u"\u00e9" : (i % 13 == 0) ? u"\U0001F600" : u"";
        text += u"cdefghijk"[i % 9];
    }
    std::basic_ostringstream<CharT> out;
    XmlSink<CharT>(out).Indent(150).Escaped(text, kEscapeAttribute).Ascii("|").Wide(text).EndLine();
    const std::u16string expected = Indent(150) + EscapeAttribute(text) + u"|" + text + u"\n";
    if constexpr (std::is_same_v<CharT, char>) {
        EXPECT_EQ(out.str(), ToUtf8(expected));
    } else {
        EXPECT_EQ(out.str(), expected);
    }
}

TYPED_TEST(XmlWriterTest, SinkHandsOverWhatItHoldsWhenLeftByAnException) {
    using CharT = TypeParam;
    std::basic_ostringstream<CharT> out;
    try {
        XmlSink<CharT> sink(out);
        sink.Ascii("<a").Attribute(u"x", u"1");
        throw CCmlException(u"o", u"d", ZEL_E_INTERNAL);
    } catch (const CCmlException&) {
    }
    EXPECT_EQ(out.str(), Text<CharT>("<a x='1'"));
}

TYPED_TEST(XmlWriterTest, IndentationNumbersAndAttributes) {
    using CharT = TypeParam;
    std::basic_ostringstream<CharT> out;
    WriteIndent(out, 0);
    WriteAscii(out, "|");
    WriteIndent(out, 3);
    WriteAscii(out, "|");
    WriteIndent(out, 20);  // longer than one chunk of blanks
    WriteAscii(out, "|");
    WriteDecimal(out, 0);
    WriteAscii(out, ",");
    WriteDecimal(out, 4294967295u);
    WriteAscii(out, ",");
    WriteHex(out, 0xC7380017u);
    WriteAscii(out, ",");
    WriteHex(out, 0);
    WriteAttribute(out, u"text", u"it's\n");
    EXPECT_EQ(out.str(), Text<CharT>("|            |" + std::string(80, ' ') +
                                     "|0,4294967295,c7380017,0 text='it&apos;s&#xa;'"));
    EXPECT_EQ(Indent(2), u"        ");
    EXPECT_EQ(Indent(-1), u"");
}

TYPED_TEST(XmlWriterTest, DeclarationOnStringStreams) {
    using CharT = TypeParam;
    for (bool standalone : {true, false}) {
        std::basic_ostringstream<CharT> out;
        WriteXmlDeclaration(out, standalone);
        EXPECT_EQ(out.str(), DeclarationLine<CharT>(standalone));
        // A bidirectional string stream is a string stream too.
        std::basic_stringstream<CharT> both;
        WriteXmlDeclaration(both, standalone);
        EXPECT_EQ(both.str(), DeclarationLine<CharT>(standalone));
    }
}

TYPED_TEST(XmlWriterTest, DocumentHeadListsSchemaLocationsInUriOrder) {
    using CharT = TypeParam;
    NamespaceSet set;
    AddNamespace(set, kCmlNamespaceURI, kCmlSchemaVersion, u"t");
    AddNamespace(set, kCmlBaseURI, kRootSchemaVersion, u"t");
    AddNamespace(set, kCommonNamespaceURI, u"1.0.0", u"t");
    std::basic_ostringstream<CharT> out;
    WriteDocumentHead(out, kTagZel, set);
    EXPECT_EQ(out.str(),
              DeclarationLine<CharT>(false) +
                  Text<CharT>("<zel xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"
                              "    xsi:schemaLocation='http://schemas.zel.example ./schemas/Zel1_0_0.xsd\n"
                              "    http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd\n"
                              "    http://schemas.zel.example/cml/common ./schemas/cml/common/common1_0_0.xsd'"));

    std::basic_ostringstream<CharT> empty;
    WriteDocumentHead(empty, u"get-policy-request", NamespaceSet());
    EXPECT_EQ(empty.str(), DeclarationLine<CharT>(false) +
                               Text<CharT>("<get-policy-request "
                                           "xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"));
}

TYPED_TEST(XmlWriterTest, DocumentHeadEscapesBlanksAndStopsAtForeignUri) {
    using CharT = TypeParam;
    NamespaceSet set;
    AddNamespace(set, ZEL_CML_BASE_URI u"/cml/my ns", u"1.0.0", u"t");
    std::basic_ostringstream<CharT> out;
    WriteDocumentHead(out, u"zel", set);
    EXPECT_EQ(out.str(), DeclarationLine<CharT>(false) +
                             Text<CharT>("<zel xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"
                                         "    xsi:schemaLocation='http://schemas.zel.example/cml/my ns "
                                         "./schemas/cml/my%20ns/my%20ns1_0_0.xsd'"));

    NamespaceSet foreign;
    AddNamespace(foreign, kCmlBaseURI, kRootSchemaVersion, u"t");
    AddNamespace(foreign, u"urn:other", u"1.0.0", u"t");
    std::basic_ostringstream<CharT> partial;
    test::ExpectCmlError([&] { WriteDocumentHead(partial, u"zel", foreign); }, u"Building schema filename",
                         u"Invalid namespace URI", ZEL_E_CML_UNKNOWN_NAMESPACE);
    // The head written before the failing entry stays in the stream.
    EXPECT_EQ(partial.str(), DeclarationLine<CharT>(false) +
                                 Text<CharT>("<zel xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"
                                             "    xsi:schemaLocation='http://schemas.zel.example "
                                             "./schemas/Zel1_0_0.xsd\n    "));
}

const char kSubtreeDocument[] =
    "<?xml version='1.0' encoding='UTF-8'?>\n"
    "<root id='x&amp;y' xmlns='urn:a' xmlns:p='urn:p'>\n"
    "  <child attr='a&lt;b&#10;c' other='q\"t'>text &amp; more</child>\n"
    "  <p:item p:k='v'/>\n"
    "  <p:bare xmlns:p='urn:p'><inner/></p:bare>\n"
    "  <other xmlns='urn:b'><deep/></other>\n"
    "  <t>\ttab</t>\n"
    "  <e>it's &gt; 1</e>\n"
    "  <blank>  \n  </blank>\n"
    "  <!-- note & <more> -->\n"
    "  <c><![CDATA[raw <stuff> & 'q']]><![CDATA[ \n ]]></c>\n"
    "  <?pi data?>\n"
    "</root>\n";

const char kSubtreeGolden[] =
    "<root id='x&amp;y' xmlns='urn:a' xmlns:p='urn:p'>\n"
    "    <child attr='a&lt;b&#xa;c' other='q&quot;t'>\n"
    "        text &amp; more\n"
    "    </child>\n"
    "    <p:item xmlns='urn:p' p:k='v'/>\n"
    "    <p:bare xmlns:p='urn:p'>\n"
    "        <inner xmlns='urn:a'/>\n"
    "    </p:bare>\n"
    "    <other xmlns='urn:b'>\n"
    "        <deep/>\n"
    "    </other>\n"
    "    <t>\n"
    "        \ttab\n"
    "    </t>\n"
    "    <e>\n"
    "        it&apos;s &gt; 1\n"
    "    </e>\n"
    "    <blank>\n"
    "    </blank>\n"
    "    <!-- note & <more> -->\n"
    "    <c>\n"
    "        <![CDATA[raw <stuff> & 'q']]>\n"
    "    </c>\n"
    "\n"
    "Unrecognized node type:  7</root>\n";

TYPED_TEST(XmlWriterTest, WriteNodeFormatsParsedSubtree) {
    using CharT = TypeParam;
    ParsedXml xml(kSubtreeDocument);
    CountingBuffer<CharT> buffer;
    std::basic_ostream<CharT> out(&buffer);
    WriteNode(xml.Root(), out, 0);
    const std::basic_string<CharT> written = buffer.str();
    EXPECT_EQ(written, Text<CharT>(kSubtreeGolden));
    // One flush per line end.
    EXPECT_EQ(buffer.syncs, std::count(written.begin(), written.end(), CharT('\n')));
}

TYPED_TEST(XmlWriterTest, WriteNodeNamespaceRuleForFirstElementWritten) {
    using CharT = TypeParam;
    ParsedXml xml(kSubtreeDocument);
    const xercesc::DOMNode* t = xml.Root()->getElementsByTagNameNS(u"urn:a", u"t")->item(0);
    const xercesc::DOMNode* item = xml.Root()->getElementsByTagNameNS(u"urn:p", u"item")->item(0);
    std::basic_ostringstream<CharT> out;
    // Same namespace as its parent in the DOM: no declaration even as the first element written.
    WriteNode(t, out, 1);
    WriteNode(item, out, 0);
    WriteNode(nullptr, out, 0);
    EXPECT_EQ(out.str(), Text<CharT>("    <t>\n        \ttab\n    </t>\n<p:item xmlns='urn:p' p:k='v'/>\n"));

    // The root's parent is the document node, which counts as having no namespace.
    ParsedXml plain("<a><b/></a>");
    ParsedXml undeclared("<a xmlns:q='urn:q'><q:b/></a>");
    std::basic_ostringstream<CharT> out2;
    WriteNode(plain.Root(), out2, 0);
    WriteNode(undeclared.Root()->getFirstChild(), out2, 0);
    EXPECT_EQ(out2.str(), Text<CharT>("<a>\n    <b/>\n</a>\n<q:b xmlns='urn:q'/>\n"));
}

// Counts the lines of what it is given and keeps the last one.
template <typename CharT>
class LineCounter : public std::basic_streambuf<CharT> {
public:
    using int_type = typename std::basic_streambuf<CharT>::int_type;
    std::size_t lines = 0;
    std::basic_string<CharT> line, lastLine;

protected:
    std::streamsize xsputn(const CharT* text, std::streamsize count) override {
        for (std::streamsize i = 0; i < count; ++i) Put(text[i]);
        return count;
    }
    int_type overflow(int_type c) override {
        Put(static_cast<CharT>(c));
        return c;
    }

private:
    void Put(CharT c) {
        if (c != CharT('\n')) return line.push_back(c);
        ++lines;
        lastLine.swap(line);
        line.clear();
    }
};

TYPED_TEST(XmlWriterTest, WriteNodeWalksAnyDepthOnASmallStack) {
    using CharT = TypeParam;
    constexpr std::size_t kDepth = 5000;
    ParsedXml xml("<e/>");
    xercesc::DOMNode* inner = xml.Root();
    for (std::size_t i = 1; i < kDepth; ++i) inner = inner->appendChild(xml.Document()->createElement(u"e"));
    inner->appendChild(xml.Document()->createTextNode(u"x"));
    LineCounter<CharT> counter;
    std::basic_ostream<CharT> out(&counter);
    zel::test::RunOnSmallStack([&] { WriteNode(xml.Root(), out, 0); });
    // A start and an end tag per element, the text between the innermost pair.
    EXPECT_EQ(counter.lines, 2 * kDepth + 1);
    EXPECT_EQ(counter.lastLine, Text<CharT>("</e>"));
}

TYPED_TEST(XmlWriterTest, WriteNodeSkipsWhiteSpaceTheDomMarksIgnorable) {
    using CharT = TypeParam;
    // Tabs are content, unless a DTD makes them white space between elements.
    const std::string body = "<r>\t<a>\t</a>\t</r>";
    ParsedXml plain(body);
    ParsedXml validated("<!DOCTYPE r [<!ELEMENT r (a)*><!ELEMENT a (#PCDATA)>]>" + body, true);
    std::basic_ostringstream<CharT> out;
    WriteNode(plain.Root(), out, 0);
    EXPECT_EQ(out.str(), Text<CharT>("<r>\n    \t\n    <a>\n        \t\n    </a>\n    \t\n</r>\n"));
    std::basic_ostringstream<CharT> outValidated;
    WriteNode(validated.Root(), outValidated, 0);
    EXPECT_EQ(outValidated.str(), Text<CharT>("<r>\n    <a>\n        \t\n    </a>\n</r>\n"));
}

TYPED_TEST(XmlWriterTest, FailedStreamTakesNothingMore) {
    using CharT = TypeParam;
    std::basic_ostringstream<CharT> out;
    WriteAscii(out, "a");
    out.setstate(std::ios_base::failbit);
    WriteAscii(out, "b");
    WriteWide(out, u"c");
    WriteEscaped(out, u"&", kEscapeText);
    WriteIndent(out, 2);
    EXPECT_EQ(out.str(), Text<CharT>("a"));
}

TEST(XmlWriter, WideOutputEqualsNarrowAfterConversion) {
    const std::string document =
        "<r xmlns='urn:\xC3\xBC'><x a='\xE2\x82\xAC&lt;'>gr\xC3\xBC\xC3\x9F &amp; \xF0\x9F\x98\x80</x>"
        "<!--\xC3\xA9--><![CDATA[\xC3\xA0]]></r>";
    ParsedXml xml(document);
    NamespaceSet set;
    AddNamespace(set, kCmlBaseURI, kRootSchemaVersion, u"t");
    AddNamespace(set, ZEL_CML_BASE_URI u"/cml/\u00fc", u"1.0.0", u"t");

    std::ostringstream narrow;
    std::basic_ostringstream<char16_t> wide;
    WriteDocumentHead(narrow, u"r\u00e9", set);
    WriteDocumentHead(wide, u"r\u00e9", set);
    WriteLineEnd(narrow);
    WriteLineEnd(wide);
    WriteNode(xml.Root(), narrow, 1);
    WriteNode(xml.Root(), wide, 1);

    const std::string narrowText = narrow.str();
    const std::u16string wideText = wide.str();
    const std::string narrowBody = narrowText.substr(narrowText.find('\n'));
    const std::u16string wideBody = wideText.substr(wideText.find(u'\n'));
    EXPECT_EQ(ToUtf8(wideBody), narrowBody);
    EXPECT_NE(narrowBody.find("gr\xC3\xBC\xC3\x9F &amp; \xF0\x9F\x98\x80"), std::string::npos);
    EXPECT_EQ(wideText.substr(0, 1), u"\uFEFF");
}

TEST(XmlWriter, NarrowOutputReplacesUnpairedSurrogates) {
    std::ostringstream out;
    WriteWide(out, std::u16string(u"a") + char16_t(0xD800) + u"b");
    WriteEscaped(out, std::u16string(1, char16_t(0xDC00)) + u"<", kEscapeText);
    WriteEscaped(out, std::u16string(1, char16_t(0xDBFF)) + u"&" + char16_t(0xD800), kEscapeText);
    WriteWide(out, std::u16string(u"\u00e9") + char16_t(0xD800) + char16_t(0xD800) + u"\U0001F600");
    EXPECT_EQ(out.str(), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD&lt;\xEF\xBF\xBD&amp;\xEF\xBF\xBD"
                         "\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBD\xF0\x9F\x98\x80");
}

TEST(XmlWriter, WideFileStreamGetsUtf8DeclarationAndBytes) {
    const std::string path = ::testing::TempDir() + "/xml_writer_wide_file.xml";
    for (bool bidirectional : {false, true}) {
        {
            std::locale utf8(std::locale::classic(), new zelUnicode);
            if (bidirectional) {
                std::basic_fstream<char16_t> file;
                file.imbue(utf8);
                file.open(path, std::ios::out | std::ios::trunc);
                ASSERT_TRUE(file.is_open());
                WriteXmlDeclaration(file, true);
                WriteWide(file, u"<a>\u00e9</a>");
            } else {
                std::basic_ofstream<char16_t> file;
                file.imbue(utf8);
                file.open(path);
                ASSERT_TRUE(file.is_open());
                WriteXmlDeclaration(file, false);
                WriteWide(file, u"<a>\u00e9</a>");
            }
        }
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes, std::string("<?xml version='1.0' encoding='UTF-8' standalone='") +
                             (bidirectional ? "yes" : "no") + "'?>\n<a>\xC3\xA9</a>");
    }
    std::remove(path.c_str());
}

TEST(XmlWriter, OtherWideStreamIsRejectedBeforeWriting) {
    struct Sink : std::basic_streambuf<char16_t> {
        std::u16string taken;
        int_type overflow(int_type c) override {
            taken += static_cast<char16_t>(c);
            return c;
        }
    } sink;
    std::basic_ostream<char16_t> out(&sink);
    test::ExpectCmlError([&] { WriteXmlDeclaration(out, false); }, u"Writing XML declaration",
                         u"Unsupported stream type", 0xC7210003u);
    EXPECT_EQ(sink.taken, u"");
}

TEST(XmlWriter, StringEscapeForms) {
    EXPECT_EQ(EscapeText(u"a<b & 'c'\n"), u"a&lt;b &amp; &apos;c&apos;\n");
    EXPECT_EQ(EscapeAttribute(u"a<b & 'c'\n"), u"a&lt;b &amp; &apos;c&apos;&#xa;");
    EXPECT_EQ(EscapeText(std::string_view("\"x\" \xC3\xA9>")), "&quot;x&quot; \xC3\xA9&gt;");
    EXPECT_EQ(EscapeAttribute(std::string_view("\n")), "&#xa;");
    EXPECT_EQ(EscapeAttribute(std::string_view("plain")), "plain");
}

TEST(SchemaFileName, MapsNamespaceAndVersionToFile) {
    struct Case {
        const char16_t* uri;
        const char16_t* version;
        const char16_t* directory;
        const char16_t* fileName;
        const char16_t* location;
    };
    const Case cases[] = {
        {kCmlBaseURI, u"1.0.0", u"./schemas", u"./schemas/Zel1_0_0.xsd", u"./schemas/Zel1_0_0.xsd"},
        {kCmlNamespaceURI, u"2.4.2", u"./schemas", u"./schemas/cml/cml2_4_2.xsd", u"./schemas/cml/cml2_4_2.xsd"},
        {kCommonNamespaceURI, u"1.0.0", u"./schemas", u"./schemas/cml/common/common1_0_0.xsd",
         u"./schemas/cml/common/common1_0_0.xsd"},
        {kBase64BinaryNamespaceURI, u"1.0", u"d", u"d/cml/CommonDocuments/Base64Binary/Base64Binary1_0.xsd",
         u"d/cml/CommonDocuments/Base64Binary/Base64Binary1_0.xsd"},
        {kCmlNamespaceURI, u"2.4.2", u"./my schemas", u"./my schemas/cml/cml2_4_2.xsd",
         u"./my%20schemas/cml/cml2_4_2.xsd"},
    };
    for (const Case& c : cases) {
        std::u16string fileName, location;
        SchemaFileName(c.uri, c.version, c.directory, fileName);
        SchemaLocation(c.uri, c.version, c.directory, location);
        EXPECT_EQ(fileName, c.fileName);
        EXPECT_EQ(location, c.location);
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
