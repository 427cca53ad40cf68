#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <xercesc/parsers/XercesDOMParser.hpp>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/cml_parser_pool.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_init.h"
#include "cml/cml_test_support.h"
#include "support/temp_dir.h"
#include "runtime/unicode.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

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

void ParseText(CCmlParser& parser, const std::string& text, int kind = kParseNonValidating) {
    parser.ParseBuffer(reinterpret_cast<const XMLByte*>(text.data()), static_cast<unsigned>(text.size()), kind);
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
    return ParseFailure([&] { ParseText(parser, text, kind); });
}

std::string Utf8(const char16_t* text) { return ToUtf8(std::u16string(text)); }

using zel::test::TempDir;

// Writes `content` to `relative` below `dir`, making the folders on the way.
void WriteBelow(const TempDir& dir, const std::string& relative, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(dir.File(relative)).parent_path());
    std::ofstream(dir.File(relative), std::ios::binary) << content;
}

// Runs the test body with `path` as the working directory (schemas are found in ./schemas).
class ScopedWorkingDirectory {
public:
    explicit ScopedWorkingDirectory(const std::string& path) {
        char* previous = getcwd(nullptr, 0);
        m_previous = previous;
        std::free(previous);
        if (chdir(path.c_str()) != 0) throw std::runtime_error("chdir failed");
    }
    ~ScopedWorkingDirectory() { (void)chdir(m_previous.c_str()); }

private:
    std::string m_previous;
};

TEST(SchemaVersions, ComparisonTable) {
    struct Case {
        const char16_t* document;
        const char16_t* supported;
        SchemaVersionOutcome outcome;
    };
    const Case cases[] = {
        {u"2.4.2", u"2.4.2", kVersionEqual},
        {u"2.4.1", u"2.4.2", kVersionOlderPatch},
        {u"2.4.0", u"2.4.2", kVersionOlderPatch},
        {u"2.4.7", u"2.4.2", kVersionNewerPatch},
        {u"2.4.10", u"2.4.9", kVersionNewerPatch},  // numbers, not strings
        {u"2.5.0", u"2.4.2", kVersionMinorDiffers},
        {u"2.3.9", u"2.4.2", kVersionMinorDiffers},
        {u"3.4.2", u"2.4.2", kVersionMajorDiffers},
        {u"1.4.2", u"2.4.2", kVersionMajorDiffers},
        {u"02.4.2", u"2.4.2", kVersionMajorDiffers},  // major compared as strings
        {u"2.04.2", u"2.4.2", kVersionMinorDiffers},  // minor compared as strings
        {u"2.4.02", u"2.4.2", kVersionEqual},         // patch "02" is octal 2
        {u"2.4.0x2", u"2.4.2", kVersionEqual},        // patch read as hexadecimal
        {u"2.4.010", u"2.4.9", kVersionOlderPatch},   // octal 010 is 8
        {u"2.4", u"2.4.0", kVersionEqual},            // missing patch reads 0
        {u"2.4.", u"2.4.0", kVersionEqual},
        {u"", u"1.0.0", kVersionMajorDiffers},
        {u"1", u"1.0.0", kVersionMinorDiffers},
        {u"2.4.2.7", u"2.4.2", kVersionEqual},        // the patch is read up to what is a number
        {u"2.4.x", u"2.4.0", kVersionEqual},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompareSchemaVersions(c.document, c.supported), c.outcome)
            << Utf8(c.document) << " against " << Utf8(c.supported);
    }
    EXPECT_TRUE(IsCompatible(kVersionEqual));
    EXPECT_TRUE(IsCompatible(kVersionOlderPatch));
    EXPECT_FALSE(IsCompatible(kVersionNewerPatch));
    EXPECT_FALSE(IsCompatible(kVersionMinorDiffers));
    EXPECT_FALSE(IsCompatible(kVersionMajorDiffers));
}

TEST(CmlParser, CheckSchemaCompatibilityRecordsEachMismatch) {
    struct Case {
        std::string rootVersion;
        std::string cmlVersion;
        std::vector<std::u16string> records;  // uri|supported|document
    };
    const std::u16string cml = kCmlNamespaceURI;
    const std::u16string base = kCmlBaseURI;
    const Case cases[] = {
        {"1.0.0", "2.4.2", {}},
        {"1.0.0", "2.4.1", {}},
        {"1.0.0", "2.4.7", {cml + u"|2.4.2|2.4.7"}},
        {"1.0.0", "2.5.0", {cml + u"|2.4.2|2.5.0"}},
        {"1.0.0", "3.4.2", {cml + u"|2.4.2|3.4.2"}},
        {"", "2.4.2", {base + u"|1.0.0|"}},
        {"1.1.0", "", {base + u"|1.0.0|1.1.0", cml + u"|2.4.2|"}},
    };
    for (const Case& c : cases) {
        const std::string text = Document(c.rootVersion, c.cmlVersion);
        const CCmlMemBufInputSource input(reinterpret_cast<const XMLByte*>(text.data()), text.size());
        CCmlParser parser;
        SchemaIncompatibilityList list;
        parser.CheckSchemaCompatibility(input, list);
        std::vector<std::u16string> records;
        for (const auto& record : list) {
            records.push_back(record.GetNamespaceURI() + u"|" + record.GetSupportedVersion() + u"|" +
                              record.GetDocumentVersion());
        }
        EXPECT_EQ(records, c.records) << c.rootVersion << " / " << c.cmlVersion;
    }
}

TEST(CmlParser, CheckSchemaCompatibilityOfRegisteredNamespaces) {
    const std::string text = Document(
        "1.0.0", "2.4.2",
        "<source/><message-body><request><get-policy-request/></request>"
        "<c:a xmlns:c='http://schemas.zel.example/cml/common' schema-version='1.0.3'/>"
        "<c:b xmlns:c='http://schemas.zel.example/cml/common'/>"
        "<c:d xmlns:c='http://schemas.zel.example/cml/common' schema-version='1.0.0'/>"
        "<c:e xmlns:c='http://schemas.zel.example/cml/common' schema-version='1.2.0'/>"
        "<g xmlns='http://schemas.zel.example/cml/GroupSettings' schema-version='9.9.9'/>"
        "</message-body>");
    const CCmlMemBufInputSource input(reinterpret_cast<const XMLByte*>(text.data()), text.size());
    CCmlParser parser;
    parser.AddNamespace(kCommonNamespaceURI, u"1.0.0");
    SchemaIncompatibilityList list;
    parser.CheckSchemaCompatibility(input, list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].GetNamespaceURI(), kCommonNamespaceURI);
    EXPECT_EQ(list[0].GetDocumentVersion(), u"1.0.3");
    EXPECT_EQ(list[1].GetDocumentVersion(), u"1.2.0");
    EXPECT_EQ(list[1].GetSupportedVersion(), u"1.0.0");
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
    parser.RemoveNamespace(kCommonNamespaceURI, u"any");
    EXPECT_EQ(parser.GetNamespaces().size(), 1u);
    parser.ClearNamespaces();
    EXPECT_TRUE(parser.GetNamespaces().empty());
}

TEST(CmlParser, LocatesTheDocumentFrame) {
    CCmlParser parser;
    EXPECT_TRUE(parser.GetEnvelopeElement().IsNull());
    EXPECT_EQ(parser.GetValidationMode(), 3);
    ParseText(parser, Document("1.0.0", "2.4.1"));
    EXPECT_EQ(parser.GetRootName(), u"zel");
    EXPECT_EQ(parser.GetRootNamespaceURI(), kCmlBaseURI);
    EXPECT_EQ(parser.GetRootSchemaVersion(), u"1.0.0");
    EXPECT_EQ(parser.GetCmlSchemaVersion(), u"2.4.1");
    EXPECT_EQ(parser.GetCmlElement().GetNodeName(), u"cml");
    EXPECT_EQ(parser.GetEnvelopeElement().GetAttribute(kTagMessageId), u"m");
    EXPECT_EQ(parser.GetDocumentElement().GetNodeName(), u"zel");
    EXPECT_FALSE(parser.GetDocument().IsNull());

    // Another root parses, but has no frame; the previous frame is gone.
    ParseText(parser, "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' schema-version='1.0.0'/>");
    EXPECT_EQ(parser.GetRootName(), u"policy");
    EXPECT_EQ(parser.GetRootNamespaceURI(), kGroupSettingsNamespaceURI);
    EXPECT_TRUE(parser.GetRootSchemaVersion().empty());
    EXPECT_TRUE(parser.GetCmlSchemaVersion().empty());
    EXPECT_TRUE(parser.GetCmlElement().IsNull());
    EXPECT_TRUE(parser.GetEnvelopeElement().IsNull());
}

TEST(CmlParser, WronglyNamespacedFrameHasNoEnvelope) {
    for (const std::string& text : {
             // "cml" and the envelope in the wrong namespace.
             std::string("<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'><cml xmlns='http://other'>"
                         "<message-envelope/></cml></zel>"),
             // The envelope outside "cml".
             std::string("<zel xmlns='http://schemas.zel.example'><cml xmlns='http://schemas.zel.example/cml'/>"
                         "<message-envelope xmlns='http://schemas.zel.example/cml'/></zel>"),
             // No namespaces at all.
             std::string("<zel><cml><message-envelope/></cml></zel>"),
         }) {
        CCmlParser parser;
        ParseText(parser, text);
        EXPECT_TRUE(parser.GetEnvelopeElement().IsNull()) << text;
        CCmlMessage message;
        EXPECT_THROW(message.Deserialize(parser.GetEnvelopeElement()), CCmlException) << text;
    }
}

TEST(CmlParser, MalformedInputsGiveFatalErrorsWithTheirPosition) {
    struct Case {
        std::string text;
        std::string line;
    };
    const std::string good = Document("1.0.0", "2.4.2");
    const Case cases[] = {
        {"<zel><cml></zel>", "line 1"},
        {good.substr(0, good.size() / 2), ""},  // truncated
        {"", "line 1"},
        {"not xml at all", "line 1"},
        {"<zel>\n<a b='1' b='2'/></zel>", "line 2"},
        {"<zel>\n\n<x:a/></zel>", "line 3"},        // unbound prefix
        {"<zel>&undefined;</zel>", "line 1"},
        {"<zel>\xff\xfe</zel>", ""},                 // not UTF-8
        {std::string("<zel>\0</zel>", 12), ""},
    };
    for (const Case& c : cases) {
        const CCmlException e = ParseFailure(c.text);
        EXPECT_EQ(e.GetCode(), ZEL_E_CML_PARSE_FATAL) << c.text;
        EXPECT_EQ(std::u16string(e.GetOperation()), u"Parse operation");
        const std::string description = ToUtf8(e.GetDescription());
        EXPECT_EQ(description.rfind("Fatal error parsing input \"ZEL CML Stream\", line ", 0), 0u) << description;
        EXPECT_NE(description.find(", column "), std::string::npos) << description;
        EXPECT_NE(description.find("\n   Message:  "), std::string::npos) << description;
        if (!c.line.empty()) {
            EXPECT_NE(description.find(c.line + ", column"), std::string::npos) << description;
        }
    }
}

TEST(CmlParser, SystemIdentifierNamesTheDocument) {
    const std::string text = "<zel>";
    CCmlParser parser;
    const CCmlMemBufInputSource input(reinterpret_cast<const XMLByte*>(text.data()), text.size(),
                                      u"ZEL-SensorServices-Ping-Response");
    const std::string description = ToUtf8(ParseFailure([&] { parser.ParseNonValidating(input); }).GetDescription());
    EXPECT_EQ(description.rfind("Fatal error parsing input \"ZEL-SensorServices-Ping-Response\", line 1, column ", 0),
              0u);
}

TEST(CmlParser, ParseFileReadsUtf8PathsAndReportsMissingFiles) {
    const TempDir dir;
    WriteBelow(dir, "r\xc3\xa9ply.xml", Document("1.0.0", "2.4.2"));
    CCmlParser parser;
    parser.ParseFile((dir.Path() + "/r\xc3\xa9ply.xml").c_str(), kParseNonValidating);
    EXPECT_FALSE(parser.GetEnvelopeElement().IsNull());
    EXPECT_EQ(ParseFailure([&] { parser.ParseFile((dir.Path() + "/missing.xml").c_str(), kParseNonValidating); })
                  .GetCode(),
              ZEL_E_CML_PARSE_FATAL);
    EXPECT_TRUE(parser.GetEnvelopeElement().IsNull());
}

// Schemas for the validation tests: "zel" and "cml" with fixed schema-version attributes.
const char kRootSchema[] =
    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='http://schemas.zel.example'"
    " elementFormDefault='qualified'>"
    "<xs:element name='zel'><xs:complexType><xs:sequence>"
    "<xs:any namespace='##other' processContents='lax' minOccurs='0' maxOccurs='unbounded'/>"
    "</xs:sequence><xs:attribute name='schema-version' type='xs:string' fixed='1.0.0'/>"
    "</xs:complexType></xs:element></xs:schema>";
const char kCmlSchema[] =
    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='http://schemas.zel.example/cml'"
    " elementFormDefault='qualified'>"
    "<xs:element name='cml'><xs:complexType><xs:sequence>"
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
    WriteBelow(dir, "schemas/Zel1_0_0.xsd", kRootSchema);
    WriteBelow(dir, "schemas/cml/cml2_4_2.xsd", kCmlSchema);
    const ScopedWorkingDirectory cwd(dir.Path());

    CCmlParser parser;
    ParseText(parser, ValidatedDocument("2.4.2"), kParseValidating);
    EXPECT_EQ(parser.GetEnvelopeElement().GetAttribute(kTagMessageId), u"v");
    // The validating parse registered the CML namespace.
    ASSERT_EQ(parser.GetNamespaces().size(), 1u);
    EXPECT_EQ(parser.GetNamespaces().begin()->GetURI(), kCmlNamespaceURI);

    // A validation error with matching versions stays a plain parse error.
    try {
        CCmlParser strict;
        ParseText(strict, ValidatedDocument("2.4.2", " bogus='1'"), kParseValidating);
        FAIL() << "no exception";
    } catch (const CSchemaException&) {
        FAIL() << "no version differs, so no CSchemaException";
    } catch (const CCmlException& plain) {
        EXPECT_EQ(plain.GetCode(), ZEL_E_CML_PARSE_ERROR);
        EXPECT_EQ(ToUtf8(plain.GetDescription()).rfind("Error parsing input \"ZEL CML Stream\", line 6, column ", 0),
                  0u)
            << ToUtf8(plain.GetDescription());
    }

    // The same error with a version mismatch becomes a CSchemaException listing it.
    CCmlParser mismatchParser;
    const std::string mismatch = ValidatedDocument("3.4.2");
    try {
        ParseText(mismatchParser, mismatch, kParseByMode);
        FAIL() << "no exception";
    } catch (const CSchemaException& e) {
        EXPECT_EQ(e.GetCode(), ZEL_E_CML_PARSE_ERROR);
        EXPECT_EQ(std::u16string(e.GetOperation()), u"Parse operation");
        EXPECT_EQ(ToUtf8(e.GetDescription()).rfind("Error parsing input \"ZEL CML Stream\", line 6", 0), 0u);
        // The "cml" element is checked once as the frame and once as an element of the
        // namespace the validating parse registered.
        ASSERT_EQ(e.Count(), 2u);
        for (auto record = e.Begin(); record != e.End(); ++record) {
            EXPECT_EQ(record->GetNamespaceURI(), kCmlNamespaceURI);
            EXPECT_EQ(record->GetSupportedVersion(), u"2.4.2");
            EXPECT_EQ(record->GetDocumentVersion(), u"3.4.2");
        }
    }

    // The non-validating parse does not look at schemas, and mode 2 turns kind 3 into it.
    CCmlParser lenient(2);
    ParseText(lenient, mismatch, kParseByMode);
    EXPECT_EQ(lenient.GetCmlSchemaVersion(), u"3.4.2");
    ParseText(lenient, mismatch, kParseNonValidating);
}

TEST(CmlParser, MissingSchemaFileIsAWarning) {
    const TempDir dir;  // no ./schemas below it
    const ScopedWorkingDirectory cwd(dir.Path());
    const CCmlException e = ParseFailure(ValidatedDocument("2.4.2"), kParseValidating);
    EXPECT_EQ(e.GetCode(), ZEL_I_CML_PARSE_WARNING);
    EXPECT_EQ(ToUtf8(e.GetDescription()).rfind("Warning parsing input \"", 0), 0u) << ToUtf8(e.GetDescription());
}

using test::CountingMemoryManager;

TEST(CmlParser, EveryParseReleasesThePreviousDocument) {
    const std::string text = Document("1.0.0", "2.4.2", "<source name='s'/><message-body><request>"
                                                        "<get-policy-request/></request></message-body>");
    const std::string broken = text.substr(0, text.size() - 20);
    CountingMemoryManager counter;
    {
        CCmlParser parser(3, &counter);
        for (int i = 0; i < 20; ++i) ParseText(parser, text);
        const long long afterWarmUp = counter.Live();
        for (int i = 0; i < 500; ++i) {
            ParseText(parser, text);
            if (i % 10 == 0) {
                EXPECT_THROW(ParseText(parser, broken), CCmlException);
            }
        }
        ParseText(parser, text);
        // Without the release, 500 documents of a few kB each would be held.
        EXPECT_LT(counter.Live() - afterWarmUp, 4096) << "documents pile up in the parser";
        EXPECT_FALSE(parser.GetEnvelopeElement().IsNull());
    }
    EXPECT_EQ(counter.Live(), 0);

    // The measure sees the pile-up of a Xerces parser that keeps its documents.
    CountingMemoryManager control;
    {
        xercesc::XercesDOMParser keeping(nullptr, &control);
        const CCmlMemBufInputSource input(reinterpret_cast<const XMLByte*>(text.data()), text.size());
        keeping.parse(input);
        const long long one = control.Live();
        for (int i = 0; i < 50; ++i) keeping.parse(input);
        EXPECT_GT(control.Live() - one, 50 * 1000);
    }
}

using test::ResidentKilobytes;

TEST(CmlParser, ManySmallRepliesKeepTheResidentSizeFlat) {
    if (kSanitized) {
        GTEST_SKIP() << "the sanitizer's quarantine grows the resident size by design";
    }
    const std::string reply = Document(
        "1.0.0", "2.4.2",
        "<source name='DesktopController'/><destination agent-id='A-1'/><message-body><response>"
        "<agent-startup-acknowledgement request-id='1'/><get-policy-response code='0x47560006'/>"
        "</response></message-body>");
    const auto parseOne = [&reply]() {
        CCmlParser parser;  // a new parser per document, as the library does
        ParseText(parser, reply);
        CCmlMessage message;
        message.Deserialize(parser.GetEnvelopeElement());
        return message.GetResponses().size();
    };
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(parseOne(), 2u);
    const long before = ResidentKilobytes();
    std::size_t total = 0;
    for (int i = 0; i < 100000; ++i) total += parseOne();
    const long after = ResidentKilobytes();
    EXPECT_EQ(total, 200000u);
    ASSERT_GT(before, 0);
    EXPECT_LT(after - before, 5 * 1024) << "resident size grew from " << before << " kB to " << after << " kB";
}

TEST(CmlParser, PooledParsersWorkFromManyThreadsAtOnce) {
    const std::string text = Document("1.0.0", "2.4.2");
    CCmlParserPool pool;
    std::atomic<int> located{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            XmlInit();
            for (int i = 0; i < 50; ++i) {
                const CCmlParserPool::CLease parser = pool.Take();
                ParseText(*parser, text);
                if (!parser->GetEnvelopeElement().IsNull()) ++located;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(located.load(), 400);
    EXPECT_GE(pool.IdleCount(), 1u);
    EXPECT_LE(pool.IdleCount(), 4u);
}

TEST(CmlParser, APooledParserComesBackEmptyAndOnlyAfterACompleteUse) {
    CCmlParserPool pool;
    CCmlDOM_Element envelope;
    const CCmlParser* first = nullptr;
    {
        const CCmlParserPool::CLease parser = pool.Take();
        first = &*parser;
        ParseText(*parser, Document("1.0.0", "2.4.2"));
        envelope = parser->GetEnvelopeElement();
    }
    // The returned parser forgot the document; the element still shares it.
    EXPECT_EQ(envelope.GetAttribute(kTagMessageId), u"m");
    {
        const CCmlParserPool::CLease parser = pool.Take();
        EXPECT_EQ(&*parser, first);
        EXPECT_TRUE(parser->GetDocument().IsNull());
        EXPECT_TRUE(parser->GetEnvelopeElement().IsNull());
        EXPECT_TRUE(parser->GetRootName().empty());
        EXPECT_TRUE(parser->GetCmlSchemaVersion().empty());
    }
    // A use that ends by an exception destroys the parser instead.
    try {
        const CCmlParserPool::CLease parser = pool.Take();
        ParseText(*parser, "<zel");
    } catch (const CCmlException&) {
    }
    EXPECT_EQ(pool.IdleCount(), 0u);
}

}  // namespace
}  // namespace zel::cml
