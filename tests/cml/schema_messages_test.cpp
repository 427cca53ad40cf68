#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/dom_document_ref.h"
#include "SensorIndependence/CmlLib/message_factory.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "cml/cml_test_support.h"
#include "runtime/unicode.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

// ---- Inputs (documents as another program might send them) ----

const char kAvpSchemaInput[] =
    "<schema xmlns='http://www.w3.org/2001/XMLSchema' "
    "targetNamespace='http://schemas.zel.example/cml/AvpSections' version='1.2.0'>\n"
    "  <complexType name='section'><sequence>\n"
    "    <element name='value' type='string' maxOccurs='unbounded'/>\n"
    "  </sequence></complexType>\n"
    "  <!--sections & values-->\n"
    "  <element name='avp-sections' type='section'/>\n"
    "</schema>\n";

const char kGroupSchemaInput[] =
    "<schema xmlns='http://www.w3.org/2001/XMLSchema' "
    "targetNamespace='http://schemas.zel.example/cml/GroupSettings' version='1.0.0'>"
    "<element name='policy'/></schema>";

// ---- Golden texts, written by hand from the writing rules ----

const char kDocumentHead[] =
    "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
    "<zel xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"
    "    xsi:schemaLocation='http://schemas.zel.example ./schemas/Zel1_0_0.xsd\n"
    "    http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd'\n"
    "    xmlns='http://schemas.zel.example' schema-version='1.0.0'>\n"
    "    <cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>\n"
    "        <message-envelope broadcast='false' message-id='m-7'>\n"
    "            <source name='agent-1'/>\n"
    "            <message-body>\n";

const char kDocumentTail[] =
    "            </message-body>\n"
    "        </message-envelope>\n"
    "    </cml>\n"
    "</zel>\n";

// The embedded documents start at column 0 (level 0), whatever the level of the item. The
// DOM keeps an element's attributes sorted by name, so "xmlns" comes last.
const char kAvpSchemaGolden[] =
    "<schema targetNamespace='http://schemas.zel.example/cml/AvpSections' version='1.2.0' "
    "xmlns='http://www.w3.org/2001/XMLSchema'>\n"
    "    <complexType name='section'>\n"
    "        <sequence>\n"
    "            <element maxOccurs='unbounded' name='value' type='string'/>\n"
    "        </sequence>\n"
    "    </complexType>\n"
    "    <!--sections & values-->\n"
    "    <element name='avp-sections' type='section'/>\n"
    "</schema>\n";

const char kGroupSchemaGolden[] =
    "<schema targetNamespace='http://schemas.zel.example/cml/GroupSettings' version='1.0.0' "
    "xmlns='http://www.w3.org/2001/XMLSchema'>\n"
    "    <element name='policy'/>\n"
    "</schema>\n";

std::string GoldenSetSchemaRequest() {
    return std::string(kDocumentHead) +
           "                <request>\n"
           "                    <set-schema-request xmlns='http://schemas.zel.example/cml' request-id='s-1' "
           "schema-version='2.4.2' need-reply='false'>\n"
           "                        <schema-info namespace='http://schemas.zel.example/cml/AvpSections' "
           "version='1.2.0' name='AVP &apos;sections&apos; &amp; more' overwrite='true' root='true'>\n" +
           kAvpSchemaGolden +
           "\n"
           "                        </schema-info>\n"
           "                        <schema-info namespace='http://schemas.zel.example/cml/GroupSettings' "
           "version='1.0.0' get-from-agent='true' get-latest-compatible='true'>\n" +
           kGroupSchemaGolden +
           "\n"
           "                        </schema-info>\n"
           "                    </set-schema-request>\n"
           "                </request>\n" +
           kDocumentTail;
}

std::string GoldenGetSchemaResponse() {
    return std::string(kDocumentHead) +
           "                <response>\n"
           "                    <get-schema-response xmlns='http://schemas.zel.example/cml' request-id='' "
           "schema-version='2.4.2'>\n"
           "                        <schema-info namespace='http://schemas.zel.example/cml/GroupSettings' "
           "version='1.0.0' name='Group settings'>\n" +
           kGroupSchemaGolden +
           "\n"
           "                        </schema-info>\n"
           "                        <schema-info namespace='http://schemas.zel.example/cml/ServerSettings' "
           "version='2.0.0' cpe-editable='true' code='0xc738000d' text='No &quot;ServerSettings&quot; &lt;here&gt;'/>\n"
           "                    </get-schema-response>\n"
           "                </response>\n" +
           kDocumentTail;
}

// ---- Helpers ----

// Parses a stand-alone schema document; the parser is gone when the node is returned.
std::unique_ptr<CSchemaNode> ParseSchema(const std::string& text) {
    const test::Parsed parsed(text);
    return std::make_unique<CSchemaNode>(parsed.Root());
}

// Parses a CML document and reads its envelope; the parser is gone when the envelope is returned.
CCmlMessage ReadEnvelope(const std::string& text) {
    const test::Parsed parsed(text);
    CCmlMessage message;
    message.Deserialize(parsed.Envelope());
    return message;
}

using test::Document;
using test::ExpectCmlError;
using test::ReadElement;

template <typename T>
std::string Element(const T& object, int level = 0) {
    return test::Narrow(object, level);
}

template <typename T>
std::string WideElement(const T& object, int level = 0) {
    return test::Wide(object, level);
}

CCmlMessage EmptyEnvelope() {
    CCmlMessage message;
    CAgentInfo source;
    source.SetName(u"agent-1");
    message.SetSource(source);
    message.SetMessageId(u"m-7");
    return message;
}

CSetSchemaRequest BuildSetSchemaRequest() {
    CSetSchemaRequest request;
    request.SetRequestId(u"s-1");
    request.SetNeedReply(false);
    CSetSchemaRequestData avp;
    avp.SetNamespace(kAvpSectionsNamespaceURI);
    avp.SetVersion(u"1.2.0");
    avp.SetName(u"AVP 'sections' & more");
    avp.SetOverwrite(true);
    avp.SetRoot(true);
    avp.SetSchema(ParseSchema(kAvpSchemaInput));
    request.AddSchemaData(avp);
    CSetSchemaRequestData group;
    group.SetNamespace(kGroupSettingsNamespaceURI);
    group.SetVersion(u"1.0.0");
    group.SetGetFromAgent(true);
    group.SetGetLatestCompatible(true);
    group.SetSchema(*ParseSchema(kGroupSchemaInput));
    request.AddSchemaData(group);
    return request;
}

CGetSchemaResponse BuildGetSchemaResponse() {
    CGetSchemaResponse response;
    CGetSchemaResponseData supplied;
    supplied.SetNamespace(kGroupSettingsNamespaceURI);
    supplied.SetVersion(u"1.0.0");
    supplied.SetName(u"Group settings");
    // A document answers by itself: this code and text must not be written.
    supplied.SetCode(ZEL_I_CML_NOT_SPECIFIED);
    supplied.SetText(u"not written");
    supplied.SetSchema(ParseSchema(kGroupSchemaInput));
    response.AddSchemaData(supplied);
    CGetSchemaResponseData missing;
    missing.SetNamespace(kServerSettingsNamespaceURI);
    missing.SetVersion(u"2.0.0");
    missing.SetCpeEditable(true);
    missing.SetCode(ZEL_E_CML_INVALID_SCHEMA);
    missing.SetText(u"No \"ServerSettings\" <here>");
    response.AddSchemaData(missing);
    return response;
}

// ---- Golden texts and round trips ----

TEST(SchemaMessagesGolden, SetSchemaRequestWithTwoDocuments) {
    CCmlMessage message = EmptyEnvelope();
    message.AddRequest(BuildSetSchemaRequest());
    const std::string written = Document(message);
    EXPECT_EQ(written, GoldenSetSchemaRequest());

    const CCmlMessage read = ReadEnvelope(written);
    ASSERT_EQ(read.GetRequests().size(), 1u);
    const auto* request = dynamic_cast<const CSetSchemaRequest*>(read.GetRequests()[0].get());
    ASSERT_NE(request, nullptr);
    EXPECT_FALSE(request->GetNeedReply());
    ASSERT_EQ(request->GetSchemaCount(), 2u);
    EXPECT_NE(request->GetSchemaData(0).GetSchema(), request->GetSchemaData(1).GetSchema());
    EXPECT_EQ(request->GetSchemaData(0).GetSchema()->GetNamespaceURI(), kXmlSchemaNamespaceURI);
    EXPECT_EQ(Document(read), written);
}

TEST(SchemaMessagesGolden, GetSchemaResponseWithAndWithoutDocument) {
    CCmlMessage message = EmptyEnvelope();
    message.AddResponse(BuildGetSchemaResponse());
    const std::string written = Document(message);
    EXPECT_EQ(written, GoldenGetSchemaResponse());

    const CCmlMessage read = ReadEnvelope(written);
    ASSERT_EQ(read.GetResponses().size(), 1u);
    const auto* response = dynamic_cast<const CGetSchemaResponse*>(read.GetResponses()[0].get());
    ASSERT_NE(response, nullptr);
    ASSERT_EQ(response->GetSchemaCount(), 2u);
    EXPECT_NE(response->GetSchemaData(0).GetSchema(), nullptr);
    EXPECT_EQ(response->GetSchemaData(0).GetCode(), 0u);
    EXPECT_EQ(response->GetSchemaData(1).GetSchema(), nullptr);
    EXPECT_EQ(response->GetSchemaData(1).GetCode(), ZEL_E_CML_INVALID_SCHEMA);
    EXPECT_EQ(response->GetSchemaData(1).GetText(), u"No \"ServerSettings\" <here>");
    EXPECT_EQ(Document(read), written);
}

TEST(SchemaMessagesGolden, WideElementMatchesNarrow) {
    const CSetSchemaRequest request = BuildSetSchemaRequest();
    EXPECT_EQ(WideElement(request, 3), Element(request, 3));
    const CGetSchemaResponse response = BuildGetSchemaResponse();
    EXPECT_EQ(WideElement(response, 1), Element(response, 1));
    const CSchemaInfoResponseData plain;
    EXPECT_EQ(WideElement(plain, 1), Element(plain, 1));
}

// Every class, written into an envelope, read back through the factories and written again.
TEST(SchemaMessagesRoundTrip, EveryClassThroughTheFactories) {
    CSchemaInfo info;
    info.SetNamespace(kAvpSectionsNamespaceURI);
    info.SetVersion(u"1.2.0");
    info.SetName(u"a<b");
    info.SetGetFromAgent(true);
    CSchemaInfo bare;
    bare.SetNamespace(kGroupSettingsNamespaceURI);
    CSchemaInfoResponseData result;
    result.SetNamespace(kAvpSectionsNamespaceURI);
    result.SetCode(0xC7560003u);
    result.SetText(u"it's\nbroken");

    CSchemaRequest infoRequest(kTagGetSchemaInfoRequest, u"q-1");
    infoRequest.AddSchemaInfo(info);
    infoRequest.AddSchemaInfo(bare);
    CSchemaRequest schemaRequest(kTagGetSchemaRequest);
    schemaRequest.AddSchemaInfo(bare);
    CSchemaResponse infoResponse(kTagGetSchemaInfoResponse, 0x47380022u, u"partial");
    infoResponse.AddSchemaInfo(result);
    CSchemaResponse setResponse(kTagSetSchemaResponse);
    setResponse.AddSchemaInfo(result);
    setResponse.AddSchemaInfo(CSchemaInfoResponseData());
    CSchemaNotSupportedResponse notSupported;
    notSupported.AddSchemaInfo(info);

    CCmlMessage message = EmptyEnvelope();
    message.AddRequest(infoRequest);
    message.AddRequest(schemaRequest);
    message.AddResponse(infoResponse);
    message.AddResponse(setResponse);
    message.AddResponse(notSupported);
    const std::string written = Document(message);
    const CCmlMessage read = ReadEnvelope(written);
    EXPECT_EQ(Document(read), written);

    ASSERT_EQ(read.GetRequests().size(), 2u);
    ASSERT_EQ(read.GetResponses().size(), 3u);
    const auto* r0 = dynamic_cast<const CSchemaRequest*>(read.GetRequests()[0].get());
    const auto* r1 = dynamic_cast<const CSchemaRequest*>(read.GetRequests()[1].get());
    const auto* s0 = dynamic_cast<const CSchemaResponse*>(read.GetResponses()[0].get());
    const auto* s1 = dynamic_cast<const CSchemaResponse*>(read.GetResponses()[1].get());
    const auto* s2 = dynamic_cast<const CSchemaNotSupportedResponse*>(read.GetResponses()[2].get());
    ASSERT_TRUE(r0 && r1 && s0 && s1 && s2);
    EXPECT_EQ(s0->GetSchemaInfo(0).GetCode(), 0xC7560003u);
    EXPECT_EQ(r1->GetSchemaCount() + s1->GetSchemaCount() + s2->GetSchemaCount(), 4u);
    EXPECT_EQ(r0->GetSchemaInfo(0).GetName() + s2->GetSchemaInfo(0).GetNamespace(),
              u"a<b" + std::u16string(kAvpSectionsNamespaceURI));
}

// ---- Document lifetime and copies ----

TEST(SchemaMessagesLifetime, NodesKeepTheDocumentAfterTheParserIsGone) {
    const std::string text = GoldenSetSchemaRequest();
    auto message = std::make_unique<CCmlMessage>();
    {
        auto parser = std::make_unique<CCmlParser>();
        parser->ParseBuffer(reinterpret_cast<const XMLByte*>(text.data()), static_cast<unsigned>(text.size()),
                            kParseNonValidating);
        message->Deserialize(parser->GetEnvelopeElement());
        const auto* request = dynamic_cast<const CSetSchemaRequest*>(message->GetRequests()[0].get());
        ASSERT_NE(request, nullptr);
        const auto* node = dynamic_cast<const CSchemaNode*>(request->GetSchemaData(0).GetSchema());
        ASSERT_NE(node, nullptr);
        // The parser and the two nodes share the document (the temporary makes one more).
        EXPECT_EQ(CDomDocumentRef::Of(node->GetNode()).UseCount(), 4);
        parser.reset();
        EXPECT_EQ(CDomDocumentRef::Of(node->GetNode()).UseCount(), 3);
    }
    CCmlMessage copy(*message);
    std::unique_ptr<CCmlMessage> clone = message->Clone();
    message.reset();
    EXPECT_EQ(Document(copy), text);
    clone.reset();
    EXPECT_EQ(Document(copy), text);
}

TEST(SchemaMessagesLifetime, CopiesOwnTheirDocumentsAndDieInAnyOrder) {
    auto original = std::make_unique<CSetSchemaRequest>(BuildSetSchemaRequest());
    auto copied = std::make_unique<CSetSchemaRequest>(*original);
    std::unique_ptr<CSetSchemaRequest> cloned = original->Clone();
    CSetSchemaRequest assigned;
    assigned = *original;
    for (const CSetSchemaRequest* other : {copied.get(), cloned.get(), &assigned}) {
        ASSERT_EQ(other->GetSchemaCount(), 2u);
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_NE(other->GetSchemaData(i).GetSchema(), original->GetSchemaData(i).GetSchema());
        }
    }
    const std::string expected = Element(*original, 2);
    original.reset();
    EXPECT_EQ(Element(*copied, 2), expected);
    cloned.reset();
    EXPECT_EQ(Element(assigned, 2), expected);
    copied.reset();
    EXPECT_EQ(Element(assigned, 2), expected);

    CGetSchemaResponse response = BuildGetSchemaResponse();
    auto responseClone = response.Clone();
    response = CGetSchemaResponse();
    EXPECT_EQ(response.GetSchemaCount(), 0u);
    EXPECT_EQ(Element(*responseClone), Element(BuildGetSchemaResponse()));
}

TEST(SchemaMessagesLifetime, ItemSchemaReplacementDeletesThePrevious) {
    CSetSchemaRequestData item;
    item.SetNamespace(kGroupSettingsNamespaceURI);
    item.SetSchema(ParseSchema(kAvpSchemaInput).release());
    item.SetSchema(*ParseSchema(kGroupSchemaInput));
    ASSERT_NE(item.GetSchema(), nullptr);
    EXPECT_EQ(item.GetSchema()->GetVersion(), u"1.0.0");
    CSetSchemaRequestData copy = item;
    item.SetSchema(std::unique_ptr<CSchemaSource>());
    EXPECT_EQ(item.GetSchema(), nullptr);
    ASSERT_NE(copy.GetSchema(), nullptr);
    EXPECT_EQ(copy.GetSchema()->GetVersion(), u"1.0.0");
}

// ---- CSchemaNode ----

TEST(SchemaNode, NullNodeThrowsAndWritesNothing) {
    const CSchemaNode node{CCmlDOM_Element()};
    ExpectCmlError([&] { node.GetNamespaceURI(); }, u"Getting schema node namespace", u"Null node",
                   ZEL_E_CML_INVALID_METHOD);
    ExpectCmlError([&] { node.GetVersion(); }, u"Getting schema version", u"Null node", ZEL_E_CML_INVALID_METHOD);
    EXPECT_EQ(Element(node), "");
    EXPECT_EQ(node.Clone()->GetSourceType(), kSchemaSourceNode);
}

// ---- Reading: which children become items and documents ----

TEST(SchemaMessagesReading, WhichChildrenBecomeItems) {
    const std::string open =
        "<get-schema-request xmlns='http://schemas.zel.example/cml' xmlns:c='http://schemas.zel.example/cml' "
        "xmlns:o='http://schemas.zel.example/cml/common'>";
    const std::string close = "</get-schema-request>";
    struct Row {
        const char* name;
        std::string children;
        std::vector<std::u16string> namespaces;
    };
    const std::vector<Row> rows = {
        {"plain items in order", "<schema-info namespace='A'/>text<schema-info namespace='B'/>", {u"A", u"B"}},
        {"prefixed item bound to /cml", "<c:schema-info namespace='A'/><schema-info namespace='B'/>", {u"B"}},
        {"item in another namespace", "<o:schema-info namespace='A'/>", {}},
        {"item in no namespace", "<schema-info xmlns='' namespace='A'/>", {}},
        {"other names skipped", "<schema namespace='A'/><!-- c --><schema-info namespace='C'/>", {u"C"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CSchemaRequest request(kTagGetSchemaRequest);
        request.AddSchemaInfo(CSchemaInfo());  // reading starts from empty
        ReadElement(request, open + row.children + close);
        ASSERT_EQ(request.GetSchemaCount(), row.namespaces.size());
        for (std::size_t i = 0; i < row.namespaces.size(); ++i) {
            EXPECT_EQ(request.GetSchemaInfo(i).GetNamespace(), row.namespaces[i]);
        }
    }
}

TEST(SchemaMessagesReading, WhichChildBecomesTheDocument) {
    const std::string open =
        "<set-schema-request xmlns='http://schemas.zel.example/cml'><schema-info namespace='N'>";
    const std::string close = "</schema-info></set-schema-request>";
    struct Row {
        const char* name;
        std::string children;
        const char16_t* version;  // of the document taken; null: none
    };
    const Row rows[] = {
        {"one document", "<schema xmlns='http://www.w3.org/2001/XMLSchema' version='1'/>", u"1"},
        {"second schema child ignored",
         "<schema xmlns='http://www.w3.org/2001/XMLSchema' version='1'/>"
         "<schema xmlns='http://www.w3.org/2001/XMLSchema' version='2'/>",
         u"1"},
        {"other namespace skipped, later document taken",
         "<schema xmlns='urn:other' version='1'/><schema xmlns='http://www.w3.org/2001/XMLSchema' version='2'/>",
         u"2"},
        {"schema in another namespace only", "<schema xmlns='urn:other' version='1'/>", nullptr},
        {"schema in the /cml namespace", "<schema version='1'/>", nullptr},
        {"prefixed xs:schema", "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' version='1'/>", nullptr},
        {"no child", "", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CSetSchemaRequest request;
        ReadElement(request, open + row.children + close);
        ASSERT_EQ(request.GetSchemaCount(), 1u);
        const CSetSchemaRequestData& item = request.GetSchemaData(0);
        if (row.version == nullptr) {
            EXPECT_EQ(item.GetSchema(), nullptr);
            ExpectCmlError([&] { Element(request); }, u"Serializing schema", u"No schema specified",
                           ZEL_E_CML_INVALID_SCHEMA);
        } else {
            ASSERT_NE(item.GetSchema(), nullptr);
            EXPECT_EQ(item.GetSchema()->GetVersion(), row.version);
            const std::string written = Element(item);
            EXPECT_EQ(written.find("version='2'") != std::string::npos, std::u16string(row.version) == u"2");
            EXPECT_EQ(written.find("version='1'") != std::string::npos, std::u16string(row.version) == u"1");
        }
        // Reading again replaces the document held (get-schema-response items alike).
        CGetSchemaResponseData data;
        data.SetSchema(ParseSchema(kAvpSchemaInput));
        ReadElement(data, "<schema-info xmlns='http://schemas.zel.example/cml'>" + row.children + "</schema-info>");
        EXPECT_EQ(data.GetSchema() == nullptr, row.version == nullptr);
    }
}

// ---- Index errors ----

TEST(SchemaMessagesErrors, IndexAtOrBeyondTheCount) {
    CSchemaRequest request(kTagGetSchemaRequest);
    CSetSchemaRequest setRequest;
    CGetSchemaResponse getResponse;
    CSchemaResponse response(kTagSetSchemaResponse);
    CSchemaNotSupportedResponse notSupported;
    request.AddSchemaInfo(CSchemaInfo());
    setRequest.AddSchemaData(CSetSchemaRequestData());
    getResponse.AddSchemaData(CGetSchemaResponseData());
    response.AddSchemaInfo(CSchemaInfoResponseData());
    notSupported.AddSchemaInfo(CSchemaInfo());
    struct Row {
        const char16_t* operation;
        std::function<void(std::size_t)> get;
    };
    const Row rows[] = {
        {u"Getting schema request", [&](std::size_t i) { request.GetSchemaInfo(i); }},
        {u"Getting set-schema request", [&](std::size_t i) { setRequest.GetSchemaData(i); }},
        {u"Getting get-schema-response", [&](std::size_t i) { getResponse.GetSchemaData(i); }},
        {u"Getting schema response", [&](std::size_t i) { response.GetSchemaInfo(i); }},
        {u"Getting schema-not-supported response", [&](std::size_t i) { notSupported.GetSchemaInfo(i); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(ToUtf8(row.operation));
        EXPECT_NO_THROW(row.get(0));
        ExpectCmlError([&] { row.get(1); }, row.operation, u"Invalid vector index", ZEL_E_CML_INDEX_OUT_OF_BOUNDS);
        ExpectCmlError([&] { row.get(static_cast<std::size_t>(-1)); }, row.operation, u"Invalid vector index",
                       ZEL_E_CML_INDEX_OUT_OF_BOUNDS);
    }
}

}  // namespace
}  // namespace zel::cml
