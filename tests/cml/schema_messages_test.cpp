// The schema messages: the golden set-schema request and get-schema response, one message of each
// class through the factories, index errors, the lifetime of the schema documents they hold, which
// children are read.
#include <gtest/gtest.h>

#include "SensorIndependence/CmlLib/dom_document_ref.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "cml/cml_test_support.h"
#include "cml/golden_rows.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

using namespace test;

#define CML "http://schemas.zel.example/cml"

// ---- Inputs (documents as another program might send them) ----

const char kAvpSchemaInput[] =
    "<schema xmlns='http://www.w3.org/2001/XMLSchema' targetNamespace='" CML "/AvpSections' "
    "version='1.2.0'>\n  <!--sections & values-->\n  <element name='avp-sections'/>\n</schema>\n";

const char kGroupSchemaInput[] =
    "<schema xmlns='http://www.w3.org/2001/XMLSchema' targetNamespace='" CML "/GroupSettings' version='1.0.0'>"
    "<element name='policy'/></schema>";

// ---- Golden texts, written by hand from the writing rules ----

// The embedded documents start at column 0 (level 0), whatever the level of the item. The
// DOM keeps an element's attributes sorted by name, so "xmlns" comes last.
const std::string kGroupSchemaGolden = "<schema targetNamespace='" CML "/GroupSettings' version='1.0.0' "
                                       "xmlns='http://www.w3.org/2001/XMLSchema'>\n    <element name='policy'/>\n"
                                       "</schema>\n";

const std::string kGoldenSetSchemaRequest =
    "<set-schema-request xmlns='" CML "' request-id='s-1' schema-version='2.4.2' need-reply='false'>\n"
    "    <schema-info namespace='" CML "/AvpSections' version='1.2.0' name='AVP &apos;sections&apos; &amp; more'>\n"
    "<schema targetNamespace='" CML "/AvpSections' version='1.2.0' xmlns='http://www.w3.org/2001/XMLSchema'>\n"
    "    <!--sections & values-->\n    <element name='avp-sections'/>\n</schema>\n\n    </schema-info>\n"
    "    <schema-info namespace='" CML "/GroupSettings' version='1.0.0'>\n" + kGroupSchemaGolden +
    "\n    </schema-info>\n</set-schema-request>\n";

const std::string kGoldenGetSchemaResponse =
    "<get-schema-response xmlns='" CML "' request-id='' schema-version='2.4.2'>\n"
    "    <schema-info namespace='" CML "/GroupSettings' version='1.0.0' name='Group settings'>\n" +
    kGroupSchemaGolden + "\n    </schema-info>\n    <schema-info namespace='" CML "/ServerSettings' "
    "version='2.0.0' code='0xc738000d' text='No &quot;ServerSettings&quot; &lt;here&gt;'/>\n</get-schema-response>\n";

// Parses a stand-alone schema document; the parser is gone when the node is returned.
std::unique_ptr<CSchemaNode> ParseSchema(const std::string& text) {
    return std::make_unique<CSchemaNode>(test::Parsed(text).Root());
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

// Built from the setters, and read back through the factories (the parser gone) on both stream kinds.
TEST(SchemaMessagesGolden, SetSchemaRequestAndGetSchemaResponse) {
    EXPECT_EQ(Narrow(BuildSetSchemaRequest()), kGoldenSetSchemaRequest);
    EXPECT_EQ(Narrow(BuildGetSchemaResponse()), kGoldenGetSchemaResponse);
    ExpectGoldenRows({{Reread<CCmlRequest>, kGoldenSetSchemaRequest},
                      {Reread<CCmlResponse>, kGoldenGetSchemaResponse}});
    // Assigning a clone replaces the code and text held too.
    CGetSchemaResponse assigned(kTagGetSchemaResponse, 5u, u"old");
    assigned = *BuildGetSchemaResponse().Clone();
    EXPECT_EQ(Narrow(assigned), kGoldenGetSchemaResponse);
}

// One message of each class (the other tags of a class share its code), written, read back through
// the factories and written again.
TEST(SchemaMessagesRoundTrip, EveryClassThroughTheFactories) {
    CSchemaInfo info; info.SetNamespace(kAvpSectionsNamespaceURI); info.SetVersion(u"1.2.0"); info.SetName(u"a<b");
    CSchemaRequest infoRequest(kTagGetSchemaInfoRequest, u"q-1");
    infoRequest.AddSchemaInfo(info);
    CSchemaResponse setResponse(kTagSetSchemaResponse, 0x47380022u, u"partial");
    setResponse.AddSchemaInfo(CSchemaInfoResponseData());
    CSchemaNotSupportedResponse notSupported;
    notSupported.AddSchemaInfo(info);
    ExpectGoldenRows({{Reread<CCmlRequest>, Narrow(infoRequest)}, {Reread<CCmlResponse>, Narrow(setResponse)},
                      {Reread<CCmlResponse>, Narrow(notSupported)}});
    // Clones write what the originals write.
    EXPECT_EQ(Narrow(*infoRequest.Clone()) + Narrow(*setResponse.Clone()) + Narrow(*notSupported.Clone()),
              Narrow(infoRequest) + Narrow(setResponse) + Narrow(notSupported));
    // An index at the count is refused, by the const and the mutable getters.
    const std::pair<std::function<void()>, const char16_t*> rows[] = {
        {[&] { notSupported.GetSchemaInfo(1); }, u"Getting schema-not-supported response"},
        {[&] { std::as_const(infoRequest).GetSchemaInfo(1); }, u"Getting schema request"},
        {[&] { setResponse.GetSchemaInfo(1); }, u"Getting schema response"},
        {[] { const auto r = BuildSetSchemaRequest(); r.GetSchemaData(2); }, u"Getting set-schema request"},
        {[] { BuildGetSchemaResponse().GetSchemaData(2); }, u"Getting get-schema-response"},
        {[] { const auto r = BuildGetSchemaResponse(); r.GetSchemaData(2); }, u"Getting get-schema-response"},
    };
    for (const auto& [get, op] : rows) ExpectCmlError(get, op, u"Invalid vector index", ZEL_E_CML_INDEX_OUT_OF_BOUNDS);
}

// Nodes share the parsed document: copies, clones and the parser die in any order.
TEST(SchemaMessagesLifetime, NodesKeepTheDocumentAndCopiesOwnTheirs) {
    auto original = std::make_unique<CSetSchemaRequest>();
    {
        test::Parsed parsed(kGoldenSetSchemaRequest);
        original->Deserialize(parsed.Root());
        const auto& node = dynamic_cast<const CSchemaNode&>(*original->GetSchemaData(0).GetSchema());
        // The parser and the two nodes share the document (the temporary makes one more).
        EXPECT_EQ(CDomDocumentRef::Of(node.GetNode()).UseCount(), 4);
        parsed.DestroyParser();
        EXPECT_EQ(CDomDocumentRef::Of(node.GetNode()).UseCount(), 3);
    }
    std::unique_ptr<CSetSchemaRequest> copied = original->Clone();
    CSetSchemaRequest assigned;
    assigned = *original;
    original.reset();
    EXPECT_EQ(Narrow(*copied), kGoldenSetSchemaRequest);
    copied.reset();
    EXPECT_EQ(Narrow(assigned), kGoldenSetSchemaRequest);

    // Replacing an item's document deletes the previous one.
    CSetSchemaRequestData item; item.SetSchema(ParseSchema(kAvpSchemaInput).release());
    item.SetSchema(*ParseSchema(kGroupSchemaInput));
    EXPECT_EQ(item.GetSchema()->GetVersion(), u"1.0.0");  // the copy takes the version read
    EXPECT_EQ(item.GetSchema()->GetNamespaceURI(), kXmlSchemaNamespaceURI);
    item.SetSchema(std::unique_ptr<CSchemaSource>());
    // An item without a document is not written.
    ExpectCmlError([&] { Narrow(item); }, u"Serializing schema", u"No schema specified", ZEL_E_CML_INVALID_SCHEMA);

    const CSchemaNode node{CCmlDOM_Element()};
    ExpectCmlError([&] { node.GetVersion(); }, u"Getting schema version", u"Null node", ZEL_E_CML_INVALID_METHOD);
    ExpectCmlError([&] { node.GetNamespaceURI(); }, u"Getting schema node namespace", u"Null node",
                   ZEL_E_CML_INVALID_METHOD);
    EXPECT_EQ(Narrow(node), "");
}

// ---- Reading: which children become items and documents ----

TEST(SchemaMessagesReading, WhichChildrenBecomeItems) {
    const std::string open = "<get-schema-request xmlns='" CML "' xmlns:c='" CML "' xmlns:o='" CML "/common'>";
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
        const char16_t* version;  // of the document taken
    } rows[] = {
        {xs + "'1'/>" + xs + "'2'/>", u"1"},  // second schema child ignored
        {"<schema xmlns='urn:other' version='1'/>" + xs + "'2'/>", u"2"},
        {"<schema xmlns='urn:other' version='1'/>", u"none"},
        {"<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' version='1'/>", u"none"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.children);
        CSetSchemaRequest request;
        ReadElement(request, "<set-schema-request xmlns='" CML "'><schema-info namespace='N'>" + row.children +
                                 "</schema-info></set-schema-request>");
        const CSchemaSource* schema = request.GetSchemaData(0).GetSchema();
        EXPECT_EQ(schema ? schema->GetVersion() : u"none", row.version);
        // Reading again replaces the document held (get-schema-response items alike).
        CGetSchemaResponseData data; data.SetSchema(ParseSchema(kAvpSchemaInput));
        ReadElement(data, "<schema-info xmlns='" CML "'>" + row.children + "</schema-info>");
        EXPECT_EQ(data.GetSchema() == nullptr, schema == nullptr);
    }
}

}  // namespace
}  // namespace zel::cml
