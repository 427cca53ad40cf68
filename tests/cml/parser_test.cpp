// The CML parser: schema versions and their compatibility, the namespaces it knows, locating the
// document frame, fatal errors and their position, validation against local schemas, memory and
// resident size over many parses, the memory its documents are built on, the parser pool used
// from many threads, and the tree it builds, against the one plain Xerces builds.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include <xercesc/util/OutOfMemoryException.hpp>

#include "SensorIndependence/CmlLib/cml_parser_pool.h"
#include "SensorIndependence/CmlLib/retaining_memory_manager.h"
#include "SensorIndependence/CmlLib/xml_init.h"
#include "cml/cml_test_support.h"
#include "cml/dom_test_support.h"
#include "support/dom_tree_compare.h"
#include "support/temp_dir.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

using test::ParseInto;
using zel::test::TempDir;

// A CML document whose "zel" and "cml" versions are the given ones (an empty root version
// leaves the attribute out) around `envelopeBody`.
std::string Document(const std::string& rootVersion, const std::string& cmlVersion,
                     const std::string& envelopeBody = "<source/><message-body/>") {
    std::string root = "<zel xmlns='http://schemas.zel.example'";
    if (!rootVersion.empty()) root += " schema-version='" + rootVersion + "'";
    return "<?xml version='1.0' encoding='UTF-8'?>\n" + root +
           ">\n<cml xmlns='http://schemas.zel.example/cml' schema-version='" + cmlVersion +
           "'>\n<message-envelope message-id='m'>" + envelopeBody + "</message-envelope>\n</cml>\n</zel>\n";
}

// The exception `action` throws.
CCmlException ParseFailure(const std::function<void()>& action) {
    try {
        action();
    } catch (const CCmlException& e) {
        return e;
    }
    ADD_FAILURE() << "no exception";
    return CCmlException(u"", u"", 0);
}

CCmlException ParseFailure(const std::string& text, int kind = kParseNonValidating) {
    CCmlParser parser;
    return ParseFailure([&] { ParseInto(parser, text, kind); });
}

// Writes `content` to `relative` below `dir`, making the folders on the way.
void WriteBelow(const TempDir& dir, const std::string& relative, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(dir.File(relative)).parent_path());
    std::ofstream(dir.File(relative), std::ios::binary) << content;
}

TEST(SchemaVersions, ComparisonTable) {
    const struct { const char16_t *document, *supported; SchemaVersionOutcome outcome; } cases[] = {
        {u"2.4.2", u"2.4.2", kVersionEqual},         {u"2.4.1", u"2.4.2", kVersionOlderPatch},
        {u"2.4.7", u"2.4.2", kVersionNewerPatch},    {u"2.4.10", u"2.4.9", kVersionNewerPatch},  // numbers
        {u"2.5.0", u"2.4.2", kVersionMinorDiffers},  {u"3.4.2", u"2.4.2", kVersionMajorDiffers},
        {u"02.4.2", u"2.4.2", kVersionMajorDiffers},  // major compared as strings
        {u"2.04.2", u"2.4.2", kVersionMinorDiffers},  // minor compared as strings
        {u"2.4.0x2", u"2.4.2", kVersionEqual},        // patch read as hexadecimal
        {u"2.4.010", u"2.4.9", kVersionOlderPatch},   // octal 010 is 8
        {u"2.4", u"2.4.0", kVersionEqual},            // missing patch reads 0
        {u"", u"1.0.0", kVersionMajorDiffers},        {u"1", u"1.0.0", kVersionMinorDiffers},
        {u"2.4.2.7", u"2.4.2", kVersionEqual},        // the patch is read up to what is a number
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompareSchemaVersions(c.document, c.supported), c.outcome)
            << ToUtf8(c.document) << " against " << ToUtf8(c.supported);
        EXPECT_EQ(IsCompatible(c.outcome), c.outcome == kVersionEqual || c.outcome == kVersionOlderPatch);
    }
}

TEST(CmlParser, CheckSchemaCompatibilityRecordsEachMismatch) {
    const std::u16string cml = kCmlNamespaceURI, base = kCmlBaseURI, common = kCommonNamespaceURI;
    const std::string x = "<c:x xmlns:c='http://schemas.zel.example/cml/common'";
    const struct {
        std::string rootVersion, cmlVersion, body;
        std::vector<std::u16string> records;  // uri|supported|document
    } cases[] = {
        {"1.0.0", "2.4.1", "<source/>", {}}, {"1.0.0", "2.4.7", "<source/>", {cml + u"|2.4.2|2.4.7"}},
        {"", "2.4.2", "<source/>", {base + u"|1.0.0|"}},
        {"1.1.0", "", "<source/>", {base + u"|1.0.0|1.1.0", cml + u"|2.4.2|"}},
        // Elements of a registered namespace, with and without a version; other namespaces are not checked.
        {"1.0.0", "2.4.2",
         "<source/><message-body><request><get-policy-request/></request>" + x + " schema-version='1.0.3'/>" + x +
             "/>" + x + " schema-version='1.0.0'/>" + x + " schema-version='1.2.0'/>"
             "<g xmlns='http://schemas.zel.example/cml/GroupSettings' schema-version='9.9.9'/></message-body>",
         {common + u"|1.0.0|1.0.3", common + u"|1.0.0|1.2.0"}},
    };
    for (const auto& c : cases) {
        const std::string text = Document(c.rootVersion, c.cmlVersion, c.body);
        const CCmlMemBufInputSource input(reinterpret_cast<const XMLByte*>(text.data()), text.size());
        CCmlParser parser;
        parser.AddNamespace(kCommonNamespaceURI, u"1.0.0");
        SchemaIncompatibilityList list;
        parser.CheckSchemaCompatibility(input, list);
        std::vector<std::u16string> records;
        for (const auto& r : list)
            records.push_back(r.GetNamespaceURI() + u"|" + r.GetSupportedVersion() + u"|" + r.GetDocumentVersion());
        EXPECT_EQ(records, c.records) << c.rootVersion << " / " << c.cmlVersion;
    }
}

TEST(CmlParser, NamespaceRegistration) {
    CCmlParser parser;
    parser.AddNamespace(kCommonNamespaceURI, u"1.0.0");
    parser.AddNamespace(kCommonNamespaceURI, u"1.0.0");
    EXPECT_EQ(parser.GetNamespaces().size(), 1u);
    test::ExpectCmlError([&] { parser.AddNamespace(kCommonNamespaceURI, u"1.1.0"); }, u"Adding namespace to CML parser",
                         u"Adding namespace \"http://schemas.zel.example/cml/common\" version 1.1.0; namespace "
                         u"\"http://schemas.zel.example/cml/common\" version 1.0.0 already specified",
                         ZEL_E_CML_VERSION_CONFLICT);
    EXPECT_EQ(parser.GetNamespaces().begin()->GetVersion(), u"1.0.0");
    parser.AddNamespace(kCmlNamespaceURI, kCmlSchemaVersion);
    std::u16string locations;
    parser.BuildExternalSchemaLocation(locations);
    EXPECT_EQ(locations,
              u"http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd "
              u"http://schemas.zel.example/cml/common ./schemas/cml/common/common1_0_0.xsd");
    parser.RemoveNamespace(kCommonNamespaceURI, u"any");  // whatever version
    EXPECT_EQ(parser.GetNamespaces().size(), 1u);
    parser.ClearNamespaces();
    EXPECT_TRUE(parser.GetNamespaces().empty());
}

TEST(CmlParser, LocatesTheDocumentFrame) {
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
    // "cml" and the envelope in the wrong namespace; the envelope outside "cml"; no namespaces at all.
    for (const char* text :
         {"<zel xmlns='http://schemas.zel.example'><cml xmlns='http://other'><message-envelope/></cml></zel>",
          "<zel xmlns='http://schemas.zel.example'><cml xmlns='http://schemas.zel.example/cml'/>"
          "<message-envelope xmlns='http://schemas.zel.example/cml'/></zel>",
          "<zel><cml><message-envelope/></cml></zel>"}) {
        ParseInto(parser, text);
        EXPECT_TRUE(parser.GetEnvelopeElement().IsNull()) << text;
    }
}

TEST(CmlParser, MalformedInputsGiveFatalErrorsWithTheirPosition) {
    const struct { std::string text, line; } cases[] = {
        {"<zel><cml></zel>", "line 1"}, {"", "line 1"},  {"<zel>\n<a b='1' b='2'/></zel>", "line 2"},
        {"<zel>\n\n<x:a/></zel>", "line 3"},  // unbound prefix
        {"<zel>\xff\xfe</zel>", ""},          // not UTF-8
    };
    for (const auto& c : cases) {
        const CCmlException e = ParseFailure(c.text);
        EXPECT_EQ(e.GetCode(), ZEL_E_CML_PARSE_FATAL) << c.text;
        EXPECT_EQ(std::u16string(e.GetOperation()), u"Parse operation");
        const std::string description = ToUtf8(e.GetDescription());
        EXPECT_EQ(description.rfind("Fatal error parsing input \"ZEL CML Stream\", line ", 0), 0u) << description;
        EXPECT_NE(description.find(c.line + ", column "), std::string::npos) << description;
        EXPECT_NE(description.find("\n   Message:  "), std::string::npos) << description;
    }
}

TEST(CmlParser, SystemIdentifierNamesTheDocumentAndFilesAreReadByUtf8Path) {
    CCmlParser parser;
    const CCmlMemBufInputSource input(reinterpret_cast<const XMLByte*>("<zel>"), 5,
                                      u"ZEL-SensorServices-Ping-Response");
    const std::string description = ToUtf8(ParseFailure([&] { parser.ParseNonValidating(input); }).GetDescription());
    EXPECT_EQ(description.rfind("Fatal error parsing input \"ZEL-SensorServices-Ping-Response\", line 1, column ", 0),
              0u);
    const TempDir dir;
    WriteBelow(dir, "r\xc3\xa9ply.xml", Document("1.0.0", "2.4.2"));
    parser.ParseFile((dir.Path() + "/r\xc3\xa9ply.xml").c_str(), kParseNonValidating);
    EXPECT_FALSE(parser.GetEnvelopeElement().IsNull());
    EXPECT_EQ(ParseFailure([&] { parser.ParseFile((dir.Path() + "/missing.xml").c_str(), kParseNonValidating); })
                  .GetCode(), ZEL_E_CML_PARSE_FATAL);
    EXPECT_TRUE(parser.GetEnvelopeElement().IsNull());
}

// Schemas for the validation tests: "zel" and "cml" with fixed schema-version attributes.
const char kRootSchema[] =
    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='http://schemas.zel.example'"
    " elementFormDefault='qualified'><xs:element name='zel'><xs:complexType><xs:sequence>"
    "<xs:any namespace='##other' processContents='lax' minOccurs='0' maxOccurs='unbounded'/>"
    "</xs:sequence><xs:attribute name='schema-version' type='xs:string' fixed='1.0.0'/>"
    "</xs:complexType></xs:element></xs:schema>";
const char kCmlSchema[] =
    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='http://schemas.zel.example/cml'"
    " elementFormDefault='qualified'><xs:element name='cml'><xs:complexType><xs:sequence>"
    "<xs:any processContents='skip' minOccurs='0' maxOccurs='unbounded'/>"
    "</xs:sequence><xs:attribute name='schema-version' type='xs:string' fixed='2.4.2'/>"
    "</xs:complexType></xs:element></xs:schema>";

std::string ValidatedDocument(const std::string& cmlVersion, const std::string& extraCmlAttribute = "") {
    return "<?xml version='1.0' encoding='UTF-8'?>\n"
           "<zel xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"
           "    xsi:schemaLocation='http://schemas.zel.example ./schemas/Zel1_0_0.xsd\n"
           "    http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd'\n"
           "    xmlns='http://schemas.zel.example' schema-version='1.0.0'>\n"
           "<cml xmlns='http://schemas.zel.example/cml' schema-version='" +
           cmlVersion + "'" + extraCmlAttribute + "><message-envelope message-id='v'/></cml>\n</zel>\n";
}

TEST(CmlParser, ValidatingParseUsesTheLocalSchemas) {
    const TempDir dir;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());  // schemas are found in ./schemas
    // A missing schema file is a warning.
    const CCmlException missing = ParseFailure(ValidatedDocument("2.4.2"), kParseValidating);
    EXPECT_EQ(missing.GetCode(), ZEL_I_CML_PARSE_WARNING);
    EXPECT_EQ(ToUtf8(missing.GetDescription()).rfind("Warning parsing input \"", 0), 0u);

    WriteBelow(dir, "schemas/Zel1_0_0.xsd", kRootSchema);
    WriteBelow(dir, "schemas/cml/cml2_4_2.xsd", kCmlSchema);
    CCmlParser parser;
    ParseInto(parser, ValidatedDocument("2.4.2"), kParseValidating);
    EXPECT_EQ(parser.GetEnvelopeElement().GetAttribute(kTagMessageId), u"v");
    // The validating parse registered the CML namespace.
    ASSERT_EQ(parser.GetNamespaces().size(), 1u);
    EXPECT_EQ(parser.GetNamespaces().begin()->GetURI() + parser.GetNamespaces().begin()->GetVersion(),
              std::u16string(kCmlNamespaceURI) + kCmlSchemaVersion);

    // A validation error with matching versions stays a plain parse error.
    try {
        ParseInto(parser, ValidatedDocument("2.4.2", " bogus='1'"), kParseValidating);
        ADD_FAILURE() << "no exception";
    } catch (const CSchemaException&) {
        ADD_FAILURE() << "no version differs, so no CSchemaException";
    } catch (const CCmlException& plain) {
        EXPECT_EQ(plain.GetCode(), ZEL_E_CML_PARSE_ERROR);
        EXPECT_EQ(ToUtf8(plain.GetDescription()).rfind("Error parsing input \"ZEL CML Stream\", line 6, column ", 0),
                  0u);
    }

    // The same error with a version mismatch becomes a CSchemaException listing it.
    CCmlParser mismatchParser;
    const std::string mismatch = ValidatedDocument("3.4.2");
    try {
        ParseInto(mismatchParser, mismatch, kParseByMode);
        ADD_FAILURE() << "no exception";
    } catch (const CSchemaException& e) {
        EXPECT_EQ(e.GetCode(), ZEL_E_CML_PARSE_ERROR);
        EXPECT_EQ(ToUtf8(e.GetDescription()).rfind("Error parsing input \"ZEL CML Stream\", line 6", 0), 0u);
        // The "cml" element is checked once as the frame and once as an element of the
        // namespace the validating parse registered.
        ASSERT_EQ(e.Count(), 2u);
        for (auto record = e.Begin(); record != e.End(); ++record)
            EXPECT_EQ(record->GetNamespaceURI() + u"|" + record->GetSupportedVersion() + u"|" +
                          record->GetDocumentVersion(), std::u16string(kCmlNamespaceURI) + u"|2.4.2|3.4.2");
    }

    // The non-validating parse does not look at schemas, and mode 2 turns kind 3 into it.
    CCmlParser lenient(2);
    ParseInto(lenient, mismatch, kParseByMode);
    EXPECT_EQ(lenient.GetCmlSchemaVersion(), u"3.4.2");
    ParseInto(lenient, mismatch, kParseNonValidating);
    std::filesystem::current_path(previous);
}

TEST(CmlParser, EveryParseReleasesThePreviousDocument) {
    const std::string text = Document("1.0.0", "2.4.2", "<source name='s'/><message-body><request>"
                                                        "<get-policy-request/></request></message-body>");
    const std::string broken = text.substr(0, text.size() - 20);
    test::CountingMemoryManager counter;
    {
        CCmlParser parser(3, &counter);
        for (int i = 0; i < 20; ++i) ParseInto(parser, text);
        const long long afterWarmUp = counter.Live();
        for (int i = 0; i < 500; ++i) {
            ParseInto(parser, text);
            if (i % 10 == 0) {
                EXPECT_THROW(ParseInto(parser, broken), CCmlException);
            }
        }
        ParseInto(parser, text);
        // Without the release, 500 documents of a few kB each would be held.
        EXPECT_LT(counter.Live() - afterWarmUp, 4096) << "documents pile up in the parser";
        EXPECT_FALSE(parser.GetEnvelopeElement().IsNull());
    }
    EXPECT_EQ(counter.Live(), 0);
}

TEST(CmlParser, ManySmallRepliesKeepTheResidentSizeFlat) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's quarantine grows the resident size by design";
#endif
    const std::string reply = Document("1.0.0", "2.4.2",
        "<source name='DesktopController'/><destination agent-id='A-1'/><message-body><response>"
        "<agent-startup-acknowledgement request-id='1'/><get-policy-response code='0x47560006'/>"
        "</response></message-body>");
    const auto parseOne = [&reply]() {
        CCmlParser parser;  // a new parser per document, as the library does
        ParseInto(parser, reply);
        CCmlMessage message;
        message.Deserialize(parser.GetEnvelopeElement());
        return message.GetResponses().size();
    };
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(parseOne(), 2u);
    const long before = test::ResidentKilobytes();
    std::size_t total = 0;
    for (int i = 0; i < 100000; ++i) total += parseOne();
    EXPECT_EQ(total, 200000u);
    ASSERT_GT(before, 0);
    EXPECT_LT(test::ResidentKilobytes() - before, 5 * 1024) << "resident size grew from " << before << " kB";
}

TEST(CmlParser, PooledParsersWorkFromManyThreadsAtOnce) {
    const std::string text = Document("1.0.0", "2.4.2");
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
    EXPECT_TRUE(pool.IdleCount() >= 1 && pool.IdleCount() <= 4) << pool.IdleCount();
}

TEST(CmlParser, APooledParserComesBackEmptyAndOnlyAfterACompleteUse) {
    CCmlParserPool pool;
    const CCmlParser* first = nullptr;
    {
        const CCmlParserPool::CLease parser = pool.Take();
        first = &*parser;
        ParseInto(*parser, Document("1.0.0", "2.4.2"));
        ASSERT_FALSE(parser->GetEnvelopeElement().IsNull());
    }
    {
        const CCmlParserPool::CLease parser = pool.Take();
        EXPECT_EQ(&*parser, first);
        EXPECT_TRUE(parser->GetDocument().IsNull() && parser->GetEnvelopeElement().IsNull());
        EXPECT_TRUE(parser->GetRootName().empty() && parser->GetCmlSchemaVersion().empty());
    }
    // A use that ends by an exception destroys the parser instead.
    try {
        const CCmlParserPool::CLease parser = pool.Take();
        ParseInto(*parser, "<zel");
    } catch (const CCmlException&) {
    }
    EXPECT_EQ(pool.IdleCount(), 0u);
}

TEST(RetainingMemoryManager, KeepsBigBlocksWithinItsBoundForTheNextOfTheSameSize) {
    XmlInit();
    constexpr std::size_t kBig = 64 * 1024, kBound = CRetainingMemoryManager::kRetainedAtMost;
    CRetainingMemoryManager memory;
    memory.deallocate(memory.allocate(1024));
    EXPECT_EQ(memory.RetainedBytes(), 0u) << "small blocks go back to the heap";
    void* first = memory.allocate(kBig);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first) % alignof(std::max_align_t), 0u);
    std::memset(first, 0xA5, kBig);
    memory.deallocate(first);
    void* half = memory.allocate(kBig / 2);
    void* again = memory.allocate(kBig);
    EXPECT_TRUE(again == first && half != first && memory.RetainedBytes() == 0u);
    memory.deallocate(half);
    memory.deallocate(again);
    std::vector<void*> blocks;
    for (int i = 0; i < 100; ++i) blocks.push_back(memory.allocate(kBig));
    for (void* block : blocks) memory.deallocate(block);
    EXPECT_EQ(memory.RetainedBytes(), kBound) << "the oldest blocks make room";
    void* newest = memory.allocate(kBig);
    EXPECT_EQ(newest, blocks.back());
    memory.deallocate(newest);
    memory.deallocate(memory.allocate(kBound + 1));
    EXPECT_EQ(memory.RetainedBytes(), kBound) << "a block above the bound is never kept";
    EXPECT_THROW(memory.allocate(SIZE_MAX), xercesc::OutOfMemoryException);
}

TEST(RetainingMemoryManager, TheNextDocumentReusesTheBlocksAndKeptDocumentsOutliveTheirParser) {
    std::string body = "<source name='s'/><message-body><response>";
    for (int i = 0; i < 400; ++i) body += "<get-policy-response>" + std::to_string(i) + "</get-policy-response>";
    const std::string text = Document("1.0.0", "2.4.2", body + "</response></message-body>");
    CRetainingMemoryManager memory;
    {
        CCmlParser parser(3, &memory);
        ParseInto(parser, text);
        parser.ReleaseDocument();
        const std::size_t kept = memory.RetainedBytes();
        EXPECT_GT(kept, 2 * CRetainingMemoryManager::kRetainedFrom);
        ParseInto(parser, text);
        EXPECT_LT(memory.RetainedBytes(), kept) << "the next document is built on the kept blocks";
    }
    // Documents of the parser's own manager stay readable after the parser, and are released
    // on other threads.
    std::vector<CDomDocumentRef> documents;
    {
        CCmlParser parser;
        for (int i = 0; i < 16; ++i) {
            ParseInto(parser, text);
            documents.push_back(CDomDocumentRef::Of(parser.GetEnvelopeElement().GetElement()));
        }
    }
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

TEST(CmlParser, BuildsTheSameTreeAsXerces) {
    std::ostringstream reply;
    CCmlMessage message;
    message.SetMessageId(u"m-1");
    message.AddResponse(CCmlResponse(kTagGetPolicyResponse, 0x47560006u, u"No <policy> & 'none'", kCmlNamespaceURI));
    message.AddRequest(CCmlRequest(u"r-1", kTagGetSchemaRequest, false, kCmlNamespaceURI));
    message.SerializeDocument(reply);
    std::string deep;
    for (int i = 0; i < 200; ++i) deep += "<e" + std::to_string(i % 3) + " n='" + std::to_string(i) + "'>t";
    for (int i = 199; i >= 0; --i) deep += "</e" + std::to_string(i % 3) + ">";
    const std::string documents[] = {
        reply.str(),
        "<a xmlns='urn:u' xmlns:p='urn:v' p:x='1' y='' z='&lt;&amp;&#10;&apos;'><p:b p:z='2'/><c>text &amp; more"
        "<![CDATA[raw <x>]]>tail<!-- note --><?pi data?>&#65;</c>\n  <d/><p:e xmlns:p='urn:w'>q</p:e></a>",
        "<?xml version='1.0' encoding='UTF-8'?><!--before--><?p d?><r>\n</r><!--after--><?q?>",
        "<r/>",
        "<r \xC3\xA9='\xC3\xBC' b='x' a='y'>\xE6\x97\xA5\xE6\x9C\xAC<s/><s/>x<s>\n</s></r>",
        "<x:r xmlns:x='urn:x'><x:s x:a='1' a='2'/>text<!--c-->more</x:r>",
        deep,
    };
    for (const std::string& text : documents) {
        CCmlParser parser;
        ParseInto(parser, text);
        const test::ParsedXml plain(text);
        EXPECT_EQ(zel::test::FirstTreeDifference(parser.GetDocument().GetDocument(), plain.Document()), "")
            << text.substr(0, 40);
        // The tree stays editable through Xerces's own operations.
        xercesc::DOMElement* root = parser.GetDocument().GetDocument()->getDocumentElement();
        xercesc::DOMNode* copy = root->cloneNode(true);
        EXPECT_TRUE(copy->isEqualNode(root));
        while (xercesc::DOMNode* first = root->getFirstChild()) copy->appendChild(root->removeChild(first));
        EXPECT_EQ(root->getLastChild(), nullptr);
    }
}

}  // namespace
}  // namespace zel::cml
