// The CML parser: schema versions and their compatibility, the namespaces it knows, locating the
// document frame, fatal errors and their position, validation against local schemas, memory and
// resident size over many parses, the memory its documents are built on, the parser pool used
// from many threads, and the tree it builds, against the one plain Xerces builds.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include <xercesc/util/OutOfMemoryException.hpp>

#include "SensorIndependence/CmlLib/cml_parser_pool.h"
#include "SensorIndependence/CmlLib/xml_init.h"
#include "cml/cml_test_support.h"
#include "cml/dom_test_support.h"
#include "support/dom_tree_compare.h"
#include "support/temp_dir.h"

namespace zel::cml {
namespace {

using test::ParseInto;

// A CML document whose "zel" and "cml" versions are the given ones around `envelopeBody`.
std::string Document(const std::string& rootVersion, const std::string& cmlVersion,
                     const std::string& envelopeBody = "<source/><message-body/>") {
    return "<?xml version='1.0' encoding='UTF-8'?>\n<zel xmlns='http://schemas.zel.example' schema-version='" +
           rootVersion + "'>\n<cml xmlns='http://schemas.zel.example/cml' schema-version='" + cmlVersion +
           "'>\n<message-envelope message-id='m'>" + envelopeBody + "</message-envelope>\n</cml>\n</zel>\n";
}

// The exception parsing `text` (named `systemId`) with `kind` throws, with its records when it
// is a CSchemaException.
CSchemaException ParseFailure(CCmlParser& parser, const std::string& text, int kind = kParseNonValidating,
                              const char16_t* systemId = nullptr) {
    try {
        parser.Parse(CCmlMemBufInputSource(reinterpret_cast<const XMLByte*>(text.data()), text.size(), systemId), kind);
    } catch (const CCmlException& e) {
        return CSchemaException(e);
    }
    ADD_FAILURE() << "no exception";
    return CSchemaException(u"", u"", 0);
}

// The versions compared, the frame located, and the parser's namespaces: they keep their first
// version, and the compatibility check reads the versions of the frame and those of elements of a
// registered namespace that have one.
TEST(CmlParser, SchemaVersionsTheDocumentFrameAndNamespaces) {
    const struct { const char16_t *document, *supported; SchemaVersionOutcome outcome; } cases[] = {
        {u"2.4.2", u"2.4.2", kVersionEqual},         {u"2.4.1", u"2.4.2", kVersionOlderPatch},
        {u"2.4.10", u"2.4.9", kVersionNewerPatch},   // patches compared as numbers
        {u"2.5.0", u"2.4.2", kVersionMinorDiffers},  {u"3.4.2", u"2.4.2", kVersionMajorDiffers},
        {u"02.4.2", u"2.4.2", kVersionMajorDiffers},  // major and minor compared as strings
        {u"2.4.0x2", u"2.4.2", kVersionEqual},        // patch read as hexadecimal
        {u"2.4", u"2.4.0", kVersionEqual},            {u"", u"1.0.0", kVersionMajorDiffers},  // missing parts
        {u"2.4.2.7", u"2.4.2", kVersionEqual},        // the patch is read up to what is a number
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompareSchemaVersions(c.document, c.supported), c.outcome)
            << ToUtf8(c.document) << " against " << ToUtf8(c.supported);
        EXPECT_EQ(IsCompatible(c.outcome), c.outcome == kVersionEqual || c.outcome == kVersionOlderPatch);
    }

    CCmlParser parser;
    const auto frame = [&] {
        return parser.GetRootName() + u"|" + parser.GetRootNamespaceURI() + u"|" + parser.GetRootSchemaVersion() +
               u"|" + parser.GetCmlSchemaVersion() + u"|" + parser.GetCmlElement().GetNodeName() + u"|" +
               parser.GetEnvelopeElement().GetAttribute(kTagMessageId);
    };
    ParseInto(parser, Document("1.0.0", "2.4.1"));
    EXPECT_EQ(frame(), u"zel|http://schemas.zel.example|1.0.0|2.4.1|cml|m");
    // Another root parses, but has no frame; the previous frame is gone.
    ParseInto(parser, "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' schema-version='1.0.0'/>");
    EXPECT_EQ(frame(), u"policy|http://schemas.zel.example/cml/GroupSettings||||");
    // "cml" in another namespace is no frame.
    ParseInto(parser, "<zel xmlns='http://schemas.zel.example'><cml xmlns='urn:o'><message-envelope/></cml></zel>");
    EXPECT_EQ(frame(), u"zel|http://schemas.zel.example||||");

    // The second version of a namespace is refused; the schema locations below show the first kept.
    parser.AddNamespace(kCommonNamespaceURI, u"1.0.0");
    parser.AddNamespace(kCommonNamespaceURI, u"1.0.0");
    test::ExpectCmlError([&] { parser.AddNamespace(kCommonNamespaceURI, u"1.1.0"); }, u"Adding namespace to CML parser",
                         u"Adding namespace \"http://schemas.zel.example/cml/common\" version 1.1.0; namespace "
                         u"\"http://schemas.zel.example/cml/common\" version 1.0.0 already specified",
                         ZEL_E_CML_VERSION_CONFLICT);

    // A root version that differs, no "cml" version, and elements of the common namespace at
    // a newer patch, the same version and none; a namespace not registered is not checked.
    const std::string x = "<c:x xmlns:c='http://schemas.zel.example/cml/common'";
    const std::string text = Document("1.1.0", "", "<source/><message-body>" + x + " schema-version='1.0.3'/>" + x +
                                      " schema-version='1.0.0'/>" + x + "/><g xmlns='http://schemas.zel.example/cml/"
                                      "GroupSettings' schema-version='9.9.9'/></message-body>");
    SchemaIncompatibilityList list;
    parser.CheckSchemaCompatibility(CCmlMemBufInputSource(reinterpret_cast<const XMLByte*>(text.data()), text.size()),
                                    list);
    std::u16string records;
    for (const auto& r : list)
        records += r.GetNamespaceURI() + u"|" + r.GetSupportedVersion() + u"|" + r.GetDocumentVersion() + u"\n";
    EXPECT_EQ(records, u"http://schemas.zel.example|1.0.0|1.1.0\nhttp://schemas.zel.example/cml|2.4.2|\n"
                       u"http://schemas.zel.example/cml/common|1.0.0|1.0.3\n");

    // The schema locations of the namespaces, in the order of their URIs; removal ignores the version.
    parser.AddNamespace(kCmlNamespaceURI, kCmlSchemaVersion);
    std::u16string locations = u"left over";
    parser.BuildExternalSchemaLocation(locations);
    EXPECT_EQ(locations, u"http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd http://schemas.zel.example/cml/"
                         u"common ./schemas/cml/common/common1_0_0.xsd");
    parser.RemoveNamespace(kCommonNamespaceURI, u"9.9.9");
    EXPECT_TRUE(parser.GetNamespaces().size() == 1 && parser.GetNamespaces().begin()->GetURI() == kCmlNamespaceURI);
}

// Malformed inputs give fatal errors with the position of the first error, in the document the
// input source names; well-formed ones build the same tree as plain Xerces, which stays editable
// through Xerces's own operations.
TEST(CmlParser, FatalErrorsWithTheirPositionAndTheSameTreeAsXerces) {
    const struct { std::string text; const char16_t* systemId; std::string where; } cases[] = {
        {"<zel><cml></zel>", nullptr, "ZEL CML Stream\", line 1, column "}, {"", nullptr, "ZEL CML Stream\", line 1, "},
        {"<zel>\n<a b='1' b='2'/></zel>", nullptr, "ZEL CML Stream\", line 2, column "},
        {"<zel>\n\n<x:a/></zel>", nullptr, "ZEL CML Stream\", line 3, column "},  // unbound prefix
        {"<zel>\xff\xfe</zel>", nullptr, "ZEL CML Stream\", line "},              // not UTF-8
        {"<zel>", u"ZEL-SensorServices-Ping-Response", "ZEL-SensorServices-Ping-Response\", line 1, column "},
    };
    for (const auto& c : cases) {
        CCmlParser parser;
        const CCmlException e = ParseFailure(parser, c.text, kParseNonValidating, c.systemId);
        EXPECT_EQ(e.GetCode(), ZEL_E_CML_PARSE_FATAL) << c.text;
        const std::string description = ToUtf8(e.GetDescription());
        EXPECT_EQ(description.rfind("Fatal error parsing input \"" + c.where, 0), 0u) << description;
    }
    const std::string documents[] = {
        "<a xmlns='urn:u' xmlns:p='urn:v' p:x='1' y='' z='&lt;&amp;&#10;&apos;'><p:b p:z='2'/><c>text &amp; more"
        "<![CDATA[raw <x>]]>tail<!-- note --><?pi data?>&#65;</c>\n  <d/><p:e xmlns:p='urn:w'>q</p:e></a>",
        "<?xml version='1.0' encoding='UTF-8'?><!--before--><?p d?><r>\n</r><!--after--><?q?>",
        "<r \xC3\xA9='\xC3\xBC' b='x' a='y'>\xE6\x97\xA5\xE6\x9C\xAC<s/><s/>x<s>\n</s></r>",
    };
    for (const std::string& text : documents) {
        CCmlParser parser;
        ParseInto(parser, text);
        const test::ParsedXml plain(text);
        EXPECT_EQ(zel::test::FirstTreeDifference(parser.GetDocument().GetDocument(), plain.Document()), "")
            << text.substr(0, 40);
        xercesc::DOMElement* root = parser.GetDocument().GetDocument()->getDocumentElement();
        xercesc::DOMNode* copy = root->cloneNode(true);
        EXPECT_TRUE(copy->isEqualNode(root));
        while (xercesc::DOMNode* first = root->getFirstChild()) copy->appendChild(root->removeChild(first));
        EXPECT_EQ(root->getLastChild(), nullptr);
    }
}

// A schema for the element `name` of `uri` that fixes its schema-version attribute to `version`.
std::string Schema(const std::string& uri, const std::string& name, const std::string& version) {
    return "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='" + uri +
           "' elementFormDefault='qualified'><xs:element name='" + name + "'><xs:complexType><xs:sequence>"
           "<xs:any processContents='lax' minOccurs='0' maxOccurs='unbounded'/></xs:sequence>"
           "<xs:attribute name='schema-version' type='xs:string' fixed='" + version +
           "'/></xs:complexType></xs:element></xs:schema>";
}

// A CML document that names where the schemas of "zel" and "cml" are, with `cmlAttribute` on "cml".
std::string Validated(const std::string& cmlVersion, const std::string& cmlAttribute = "") {
    std::string text = Document("1.0.0", cmlVersion);
    text.insert(text.find(">\n<message-envelope"), cmlAttribute);
    return text.insert(text.find(" schema-version"), " xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'"
                       " xsi:schemaLocation='http://schemas.zel.example ./schemas/Zel1_0_0.xsd"
                       " http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd'");
}

TEST(CmlParser, ValidatingParseUsesTheLocalSchemas) {
    const zel::test::TempDir dir;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());  // schemas are found in ./schemas
    CCmlParser parser;
    // A missing schema file is a warning.
    EXPECT_EQ(ParseFailure(parser, Validated("2.4.2"), kParseValidating).GetCode(), ZEL_I_CML_PARSE_WARNING);

    std::filesystem::create_directories("schemas/cml");
    std::ofstream("schemas/Zel1_0_0.xsd") << Schema("http://schemas.zel.example", "zel", "1.0.0");
    std::ofstream("schemas/cml/cml2_4_2.xsd") << Schema("http://schemas.zel.example/cml", "cml", "2.4.2");
    ParseInto(parser, Validated("2.4.2"), kParseValidating);

    // A validation error with matching versions stays a plain parse error.
    const CSchemaException plain = ParseFailure(parser, Validated("2.4.2", " bogus='1'"), kParseValidating);
    EXPECT_EQ(plain.GetCode(), ZEL_E_CML_PARSE_ERROR);
    EXPECT_EQ(plain.Count(), 0u) << "no version differs, so no CSchemaException";
    EXPECT_EQ(ToUtf8(plain.GetDescription()).rfind("Error parsing input \"ZEL CML Stream\", line 3, column ", 0), 0u);

    // The same error with a version mismatch becomes a CSchemaException listing it. The "cml"
    // element is checked once as the frame and once as an element of the namespace the
    // validating parse registered.
    const CSchemaException e = ParseFailure(parser, Validated("3.4.2"), kParseByMode);
    EXPECT_EQ(e.GetCode(), ZEL_E_CML_PARSE_ERROR);
    EXPECT_EQ(e.Count(), 2u);
    for (const CSchemaIncompatibility& record : e.GetIncompatibilities())
        EXPECT_EQ(record.GetNamespaceURI() + u"|" + record.GetSupportedVersion() + u"|" + record.GetDocumentVersion(),
                  std::u16string(kCmlNamespaceURI) + u"|2.4.2|3.4.2");

    // Files are read by their UTF-8 path; mode 2 does not validate what is parsed by mode.
    std::ofstream("r\xc3\xa9ply.xml") << Validated("3.4.2");
    CCmlParser lenient(2);
    lenient.ParseFile(dir.File("r\xc3\xa9ply.xml").c_str(), kParseByMode);
    EXPECT_EQ(lenient.GetCmlSchemaVersion(), u"3.4.2");
    test::ExpectCmlError([&] { lenient.ParseFile(dir.File("missing.xml").c_str(), kParseByMode); }, u"Parse operation",
                         u"Fatal error parsing input \"\", line 0, column 0\n   Message:  unable to open primary "
                         u"document entity '" + ToUtf16(dir.File("missing.xml")) + u"'", ZEL_E_CML_PARSE_FATAL);
    std::filesystem::current_path(previous);
}

// Every parse releases the previous document. A pooled parser comes back to the pool without its
// document, and only after a use that did not end by an exception.
TEST(CmlParser, MemoryOverManyParsesAndPooledParsersComeBackEmpty) {
    const std::string text = Document("1.0.0", "2.4.2");
    test::CountingMemoryManager counter;
    {
        CCmlParser parser(3, &counter);
        for (int i = 0; i < 20; ++i) ParseInto(parser, text);
        const long long afterWarmUp = counter.Live();
        for (int i = 0; i < 50; ++i) {
            for (int j = 0; j < 10; ++j) ParseInto(parser, text);
            EXPECT_THROW(ParseInto(parser, text.substr(0, text.size() - 20)), CCmlException);
        }
        ParseInto(parser, text);
        // Without the release, 500 documents of a few kB each would be held.
        EXPECT_LT(counter.Live() - afterWarmUp, 4096) << "documents pile up in the parser";
        EXPECT_FALSE(parser.GetEnvelopeElement().IsNull());
    }
    EXPECT_EQ(counter.Live(), 0);

    CCmlParserPool pool;
    std::atomic<int> located{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) threads.emplace_back([&] {
        XmlInit();
        for (int i = 0; i < 50; ++i) {
            const CCmlParserPool::CLease parser = pool.Take();
            ParseInto(*parser, text);
            if (!parser->GetEnvelopeElement().IsNull()) ++located;
        }
    });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(located.load(), 400);
    const std::size_t idle = pool.IdleCount();
    ASSERT_TRUE(idle >= 1 && idle <= 4) << idle;
    {
        const CCmlParserPool::CLease parser = pool.Take();
        EXPECT_EQ(pool.IdleCount(), idle - 1);
        EXPECT_TRUE(parser->GetDocument().IsNull() && parser->GetEnvelopeElement().IsNull());
    }
    EXPECT_THROW(ParseInto(*pool.Take(), "<zel"), CCmlException);
    EXPECT_EQ(pool.IdleCount(), idle - 1);

    // Many small replies keep the resident size flat (not under the sanitizer, whose quarantine
    // grows it by design).
#if !defined(__SANITIZE_ADDRESS__)
    const std::string reply = Document("1.0.0", "2.4.2", "<source name='DesktopController'/><message-body><response>"
                                       "<get-policy-response code='0x47560006'/></response></message-body>");
    // A new parser per document, as the library does.
    const auto parseOne = [&reply] { ASSERT_EQ(test::ReadEnvelope(reply).GetResponses().size(), 1u); };
    for (int i = 0; i < 2000; ++i) parseOne();
    const long before = test::ResidentKilobytes();
    for (int i = 0; i < 100000; ++i) parseOne();
    ASSERT_GT(before, 0);
    EXPECT_LT(test::ResidentKilobytes() - before, 5 * 1024) << "resident size grew from " << before << " kB";
#endif
}

// Big blocks are kept within the bound for the next of the same size. Documents built on the
// parser's own manager, with big blocks in it, stay readable after the parser, and are released
// on other threads.
TEST(RetainingMemoryManager, KeepsBigBlocksAndItsDocumentsOutliveTheirParser) {
    XmlInit();
    constexpr std::size_t kBig = 64 * 1024, kBound = CRetainingMemoryManager::kRetainedAtMost;
    CRetainingMemoryManager memory;
    memory.deallocate(memory.allocate(1024));
    EXPECT_EQ(memory.RetainedBytes(), 0u) << "small blocks go back to the heap";
    std::vector<void*> blocks;
    for (int i = 0; i < 100; ++i) blocks.push_back(memory.allocate(kBig));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(blocks[0]) % alignof(std::max_align_t), 0u);
    for (void* block : blocks) memory.deallocate(block);
    EXPECT_EQ(memory.RetainedBytes(), kBound) << "the oldest blocks make room";
    void* newest = memory.allocate(kBig);
    EXPECT_EQ(newest, blocks.back());
    memory.deallocate(newest);
    memory.deallocate(memory.allocate(kBound + 1));
    EXPECT_EQ(memory.RetainedBytes(), kBound) << "a block above the bound is never kept";
    EXPECT_THROW(memory.allocate(SIZE_MAX), xercesc::OutOfMemoryException);

    std::string body = "<source name='s'/><message-body><response>";
    for (int i = 0; i < 400; ++i) body += "<get-policy-response>" + std::to_string(i) + "</get-policy-response>";
    const std::string text = Document("1.0.0", "2.4.2", body + "</response></message-body>");
    std::vector<CDomDocumentRef> documents;
    test::Parsed parsed(text);
    for (int i = 0; i < 16; ++i) {
        ParseInto(parsed.Parser(), text);
        documents.push_back(CDomDocumentRef::Of(parsed.Envelope().GetElement()));
    }
    parsed.DestroyParser();
    std::atomic<int> read{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back([&documents, &read, t] {
        for (int i = t; i < 16; i += 4) {
            if (documents[i].Get()->getDocumentElement()->getChildElementCount() == 1) ++read;
            documents[i].Reset();
        }
    });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(read.load(), 16);
}

}  // namespace
}  // namespace zel::cml
