// The schema messages: the golden set-schema request and get-schema response, every class through
// the factories and their index errors, the lifetime of the schema documents they hold, which children are read.
#include <gtest/gtest.h>

#include "SensorIndependence/CmlLib/dom_document_ref.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "cml/cml_test_support.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

// ---- Inputs (documents as another program might send them) ----

const char kAvpSchemaInput[] =
    "<schema xmlns='http://www.w3.org/2001/XMLSchema' targetNamespace='http://schemas.zel.example/cml/AvpSections' "
    "version='1.2.0'>\n  <!--sections & values-->\n  <element name='avp-sections'/>\n</schema>\n";

const char kGroupSchemaInput[] =
    "<schema xmlns='http://www.w3.org/2001/XMLSchema' "
    "targetNamespace='http://schemas.zel.example/cml/GroupSettings' version='1.0.0'>"
    "<element name='policy'/></schema>";

// ---- Golden text, written by hand from the writing rules ----

// The embedded documents start at column 0 (level 0), whatever the level of the item. The
// DOM keeps an element's attributes sorted by name, so "xmlns" comes last.
const char kGroupSchemaGolden[] =
    "<schema targetNamespace='http://schemas.zel.example/cml/GroupSettings' version='1.0.0' "
    "xmlns='http://www.w3.org/2001/XMLSchema'>\n    <element name='policy'/>\n" "</schema>\n";

std::string GoldenDocument() {
    return std::string("<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
               "<zel xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"
               "    xsi:schemaLocation='http://schemas.zel.example ./schemas/Zel1_0_0.xsd\n"
               "    http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd'\n"
               "    xmlns='http://schemas.zel.example' schema-version='1.0.0'>\n"
               "    <cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>\n"
               "        <message-envelope broadcast='false' message-id='m-7'>\n            <source name='agent-1'/>\n"
               "            <message-body>\n                <request>\n"
               "                    <set-schema-request xmlns='http://schemas.zel.example/cml' request-id='s-1' "
               "schema-version='2.4.2' need-reply='false'>\n"
               "                        <schema-info namespace='http://schemas.zel.example/cml/AvpSections' "
               "version='1.2.0' name='AVP &apos;sections&apos; &amp; more'>\n"
               "<schema targetNamespace='http://schemas.zel.example/cml/AvpSections' version='1.2.0' "
               "xmlns='http://www.w3.org/2001/XMLSchema'>\n    <!--sections & values-->\n"
               "    <element name='avp-sections'/>\n" "</schema>\n\n                        </schema-info>\n"
               "                        <schema-info namespace='http://schemas.zel.example/cml/GroupSettings' "
               "version='1.0.0'>\n") + kGroupSchemaGolden +
           "\n                        </schema-info>\n                    </set-schema-request>\n"
           "                </request>\n                <response>\n"
           "                    <get-schema-response xmlns='http://schemas.zel.example/cml' request-id='' "
           "schema-version='2.4.2'>\n"
           "                        <schema-info namespace='http://schemas.zel.example/cml/GroupSettings' "
           "version='1.0.0' name='Group settings'>\n" + kGroupSchemaGolden +
           "\n                        </schema-info>\n"
           "                        <schema-info namespace='http://schemas.zel.example/cml/ServerSettings' "
           "version='2.0.0' code='0xc738000d' text='No &quot;ServerSettings&quot; &lt;here&gt;'/>\n"
           "                    </get-schema-response>\n                </response>\n            </message-body>\n"
           "        </message-envelope>\n    </cml>\n" "</zel>\n";
}

// Parses a stand-alone schema document; the parser is gone when the node is returned.
std::unique_ptr<CSchemaNode> ParseSchema(const std::string& text) {
    return std::make_unique<CSchemaNode>(test::Parsed(text).Root());
}

using namespace test;

CCmlMessage SourcedEnvelope() {
    CCmlMessage message;
    CAgentInfo source; source.SetName(u"agent-1"); message.SetSource(source); message.SetMessageId(u"m-7");
    return message;
}

CSetSchemaRequest BuildSetSchemaRequest() {
    CSetSchemaRequest request; request.SetRequestId(u"s-1"); request.SetNeedReply(false);
    CSetSchemaRequestData avp; avp.SetNamespace(kAvpSectionsNamespaceURI); avp.SetVersion(u"1.2.0");
    avp.SetName(u"AVP 'sections' & more"); avp.SetSchema(ParseSchema(kAvpSchemaInput)); request.AddSchemaData(avp);
    CSetSchemaRequestData group; group.SetNamespace(kGroupSettingsNamespaceURI); group.SetVersion(u"1.0.0");
    group.SetSchema(*ParseSchema(kGroupSchemaInput)); request.AddSchemaData(group);
    return request;
}

CGetSchemaResponse BuildGetSchemaResponse() {
    CGetSchemaResponse response;
    CGetSchemaResponseData supplied; supplied.SetNamespace(kGroupSettingsNamespaceURI); supplied.SetVersion(u"1.0.0");
    supplied.SetName(u"Group settings");
    // A document answers by itself: this code and text must not be written.
    supplied.SetCode(ZEL_I_CML_NOT_SPECIFIED); supplied.SetText(u"not written");
    supplied.SetSchema(ParseSchema(kGroupSchemaInput)); response.AddSchemaData(supplied);
    CGetSchemaResponseData missing; missing.SetNamespace(kServerSettingsNamespaceURI); missing.SetVersion(u"2.0.0");
    missing.SetCode(ZEL_E_CML_INVALID_SCHEMA); missing.SetText(u"No \"ServerSettings\" <here>");
    response.AddSchemaData(missing);
    return response;
}

TEST(SchemaMessagesGolden, SetSchemaRequestAndGetSchemaResponse) {
    CCmlMessage message = SourcedEnvelope();
    message.AddRequest(BuildSetSchemaRequest());
    message.AddResponse(BuildGetSchemaResponse());
    const std::string written = Document(message);
    EXPECT_EQ(written, GoldenDocument());

    const CCmlMessage read = ReadEnvelope(written);
    EXPECT_EQ(Document(read), written);
    const auto* request = dynamic_cast<const CSetSchemaRequest*>(read.GetRequests().at(0).get());
    const auto* response = dynamic_cast<const CGetSchemaResponse*>(read.GetResponses().at(0).get());
    ASSERT_TRUE(request && response);
    CGetSchemaResponse assigned;
    assigned = *response->Clone();
    EXPECT_EQ(Narrow(assigned, 1), Narrow(*response, 1));

    EXPECT_EQ(test::Wide(BuildSetSchemaRequest(), 3), Narrow(BuildSetSchemaRequest(), 3));
    EXPECT_EQ(test::Wide(BuildGetSchemaResponse(), 1), Narrow(BuildGetSchemaResponse(), 1));
    EXPECT_EQ(test::Wide(CSchemaInfoResponseData(), 1), Narrow(CSchemaInfoResponseData(), 1));
}

// Every class, written into an envelope, read back through the factories and written again.
TEST(SchemaMessagesRoundTrip, EveryClassThroughTheFactories) {
    CSchemaInfo info, bare; info.SetNamespace(kAvpSectionsNamespaceURI); info.SetVersion(u"1.2.0");
    info.SetName(u"a<b"); bare.SetNamespace(kGroupSettingsNamespaceURI);
    CSchemaInfoResponseData result; result.SetNamespace(kAvpSectionsNamespaceURI); result.SetCode(0xC7560003u);
    result.SetText(u"it's\nbroken");

    CSchemaRequest infoRequest(kTagGetSchemaInfoRequest, u"q-1"), schemaRequest(kTagGetSchemaRequest);
    infoRequest.AddSchemaInfo(info); infoRequest.AddSchemaInfo(bare); schemaRequest.AddSchemaInfo(bare);
    CSchemaResponse infoResponse(kTagGetSchemaInfoResponse, 0x47380022u, u"partial");
    CSchemaResponse setResponse(kTagSetSchemaResponse); infoResponse.AddSchemaInfo(result);
    setResponse.AddSchemaInfo(result); setResponse.AddSchemaInfo(CSchemaInfoResponseData());
    CSchemaNotSupportedResponse notSupported; notSupported.AddSchemaInfo(info);

    CCmlMessage message = SourcedEnvelope(); message.AddRequest(infoRequest); message.AddRequest(schemaRequest);
    message.AddResponse(infoResponse); message.AddResponse(setResponse); message.AddResponse(notSupported);
    const std::string written = Document(message);
    const CCmlMessage read = ReadEnvelope(written);
    EXPECT_EQ(Document(read), written);

    // Each read back as its own class.
    const auto& q = read.GetRequests();
    const auto& r = read.GetResponses();
    ASSERT_EQ(q.size() + r.size(), 5u);
    EXPECT_TRUE(dynamic_cast<const CSchemaRequest*>(q[0].get()) && dynamic_cast<const CSchemaRequest*>(q[1].get()) &&
                dynamic_cast<const CSchemaResponse*>(r[0].get()) && dynamic_cast<const CSchemaResponse*>(r[1].get()) &&
                dynamic_cast<const CSchemaNotSupportedResponse*>(r[2].get()));
    // An index at the count is refused.
    const auto outOfBounds = [](const std::function<void()>& get, const char16_t* operation) {
        ExpectCmlError(get, operation, u"Invalid vector index", ZEL_E_CML_INDEX_OUT_OF_BOUNDS);
    };
    outOfBounds([&] { infoRequest.GetSchemaInfo(2); }, u"Getting schema request");
    outOfBounds([&] { setResponse.GetSchemaInfo(2); }, u"Getting schema response");
    outOfBounds([&] { notSupported.GetSchemaInfo(1); }, u"Getting schema-not-supported response");
    outOfBounds([] { BuildSetSchemaRequest().GetSchemaData(2); }, u"Getting set-schema request");
    outOfBounds([] { BuildGetSchemaResponse().GetSchemaData(2); }, u"Getting get-schema-response");
}

// Nodes share the parsed document: copies, clones and the parser die in any order.
TEST(SchemaMessagesLifetime, NodesKeepTheDocumentAndCopiesOwnTheirs) {
    const std::string text = GoldenDocument(); auto message = std::make_unique<CCmlMessage>();
    {
        test::Parsed parsed(text); message->Deserialize(parsed.Envelope());
        const auto* node = dynamic_cast<const CSchemaNode*>(
            static_cast<const CSetSchemaRequest&>(*message->GetRequests()[0]).GetSchemaData(0).GetSchema());
        ASSERT_NE(node, nullptr);
        // The parser and the three nodes share the document (the temporary makes one more).
        EXPECT_EQ(CDomDocumentRef::Of(node->GetNode()).UseCount(), 5);
        parsed.DestroyParser();
        EXPECT_EQ(CDomDocumentRef::Of(node->GetNode()).UseCount(), 4);
    }
    CCmlMessage copy(*message); std::unique_ptr<CCmlMessage> clone = message->Clone(); message.reset();
    EXPECT_EQ(Document(copy), text);
    clone.reset();
    EXPECT_EQ(Document(copy), text);

    auto original = std::make_unique<CSetSchemaRequest>(BuildSetSchemaRequest());
    auto copied = std::make_unique<CSetSchemaRequest>(*original);
    std::unique_ptr<CSetSchemaRequest> cloned = original->Clone();
    CSetSchemaRequest assigned; assigned = *original; const std::string expected = Narrow(*original, 2);
    original.reset();
    EXPECT_EQ(Narrow(*copied, 2), expected);
    cloned.reset(); copied.reset();
    EXPECT_EQ(Narrow(assigned, 2), expected);

    // Replacing an item's document deletes the previous one.
    CSetSchemaRequestData item; item.SetSchema(ParseSchema(kAvpSchemaInput).release());
    item.SetSchema(*ParseSchema(kGroupSchemaInput));
    EXPECT_EQ(item.GetSchema()->GetVersion(), u"1.0.0");  // the copy takes the version read
    CSetSchemaRequestData itemCopy = item; item.SetSchema(std::unique_ptr<CSchemaSource>());
    EXPECT_EQ(item.GetSchema(), nullptr);
    EXPECT_EQ(itemCopy.GetSchema()->GetVersion(), u"1.0.0");

    const CSchemaNode node{CCmlDOM_Element()};
    ExpectCmlError([&] { node.GetNamespaceURI(); }, u"Getting schema node namespace", u"Null node",
                   ZEL_E_CML_INVALID_METHOD);
    ExpectCmlError([&] { node.GetVersion(); }, u"Getting schema version", u"Null node", ZEL_E_CML_INVALID_METHOD);
    EXPECT_EQ(Narrow(node), "");
    EXPECT_EQ(node.Clone()->GetSourceType(), kSchemaSourceNode);
}

// ---- Reading: which children become items and documents ----

TEST(SchemaMessagesReading, WhichChildrenBecomeItems) {
    const std::string open =
        "<get-schema-request xmlns='http://schemas.zel.example/cml' xmlns:c='http://schemas.zel.example/cml' "
        "xmlns:o='http://schemas.zel.example/cml/common'>";
    const struct {
        std::string children; std::u16string namespaces;
    } rows[] = {
        {"<schema-info namespace='A'/>text<schema-info namespace='B'/>", u"A,B,"},
        {"<c:schema-info namespace='A'/><schema-info namespace='B'/>", u"B,"},  // prefixed item bound to /cml
        {"<o:schema-info namespace='A'/><schema-info xmlns='' namespace='A'/>", u""},
        {"<schema namespace='A'/><!-- c --><schema-info namespace='C'/>", u"C,"},
    };
    for (const auto& row : rows) {
        CSchemaRequest request(kTagGetSchemaRequest);
        request.AddSchemaInfo(CSchemaInfo());  // reading starts from empty
        ReadElement(request, open + row.children + "</get-schema-request>"); std::u16string namespaces;
        for (std::size_t i = 0; i < request.GetSchemaCount(); ++i) {
            namespaces += request.GetSchemaInfo(i).GetNamespace() + u",";
        }
        EXPECT_EQ(namespaces, row.namespaces) << row.children;
    }
}

TEST(SchemaMessagesReading, WhichChildBecomesTheDocument) {
    const std::string xs = "<schema xmlns='http://www.w3.org/2001/XMLSchema' version=";
    const struct {
        std::string children;
        const char16_t* version;  // of the document taken; null: none
    } rows[] = {
        {xs + "'1'/>" + xs + "'2'/>", u"1"},  // second schema child ignored
        {"<schema xmlns='urn:other' version='1'/>" + xs + "'2'/>", u"2"},
        {"<schema xmlns='urn:other' version='1'/>", nullptr},
        {"<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' version='1'/>", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.children);
        CSetSchemaRequest request;
        ReadElement(request, "<set-schema-request xmlns='http://schemas.zel.example/cml'><schema-info namespace='N'>" +
                                 row.children + "</schema-info></set-schema-request>");
        ASSERT_EQ(request.GetSchemaCount(), 1u);
        const CSetSchemaRequestData& item = request.GetSchemaData(0);
        if (row.version == nullptr) {
            EXPECT_EQ(item.GetSchema(), nullptr);
            ExpectCmlError([&] { Narrow(request); }, u"Serializing schema", u"No schema specified",
                           ZEL_E_CML_INVALID_SCHEMA);
        } else {
            ASSERT_NE(item.GetSchema(), nullptr);
            EXPECT_EQ(item.GetSchema()->GetVersion(), row.version);
        }
        // Reading again replaces the document held (get-schema-response items alike).
        CGetSchemaResponseData data; data.SetSchema(ParseSchema(kAvpSchemaInput));
        ReadElement(data, "<schema-info xmlns='http://schemas.zel.example/cml'>" + row.children + "</schema-info>");
        EXPECT_EQ(data.GetSchema() == nullptr, row.version == nullptr);
    }
}

}  // namespace
}  // namespace zel::cml
