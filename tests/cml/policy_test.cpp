// Policy sources (objects, DOM nodes, references), policy items and the four policy messages:
// golden texts built and read back, reading rules, namespaces, failures, copies and the life
// of the documents that policy nodes share.
#include <gtest/gtest.h>

#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/dom_document_ref.h"
#include "cml/cml_test_support.h"
#include "cml/golden_rows.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

using namespace test;
using CTestPolicy = test::TestPolicy;

const std::u16string kGroupSettingsURI = std::u16string(kCmlBaseURI) + u"/cml/GroupSettings";
const std::u16string kServerSettingsURI = std::u16string(kCmlBaseURI) + u"/cml/ServerSettings";

CTestPolicy GroupSettings() {
    CTestPolicy policy; policy.SetName(u"Default Group"); policy.SetVersion(u"3");
    policy.AddController("<controller-info name='primary' host-name='127.0.0.1' port='8080'/>");
    return policy;
}

// ---- golden texts, written by hand from the writing rules ----
// A policy held as a DOM element is written by the DOM writer, which gives an element's
// attributes in the DOM's order: Xerces keeps them sorted by name. A policy object writes its
// own fixed order (xmlns, name, version, overwrite, schema-version, valid).

const char kGoldenGetPolicyRequest[] =
    "<get-policy-request xmlns='http://schemas.zel.example/cml' request-id='req-1' schema-version='2.4.2'>\n"
    "    <policy-item name='Default &amp; &apos;Group&apos;' "
    "namespace='http://schemas.zel.example/cml/GroupSettings' version='3' schema-version='1.0.0' tag='gs' "
    "token='tok&lt;1&gt;'/>\n"
    "    <policy-item namespace='http://schemas.zel.example/cml/ServerSettings' code='0xc7380017' "
    "text='line1&#xa;&quot;line2&quot;'/>\n" "</get-policy-request>\n";

#define CML "http://schemas.zel.example/cml"
#define SET_HEAD "<set-policy-request xmlns='" CML "' request-id='req-2' " \
                 "schema-version='2.4.2' need-reply='false'>\n"
#define SET_TAIL "        </controller-list>\n    </policy>\n</set-policy-request>\n"

const char kGoldenSetPolicyRequest[] = SET_HEAD "    <policy name='Default Group' schema-version='1.0.0' version='3' "
    "xmlns='http://schemas.zel.example/cml/GroupSettings'>\n        <controller-list>\n"
    "            <controller-info host-name='127.0.0.1' name='primary' port='8080'/>\n" SET_TAIL;

// The same request with the policy held as an object.
const char kGoldenSetPolicyRequestObject[] = SET_HEAD "    <policy xmlns='" CML "/GroupSettings' "
    "name='Default Group' version='3' schema-version='1.0.0'>\n        <controller-list>\n"
    "            <controller-info name='primary' host-name='127.0.0.1' port='8080'/>\n" SET_TAIL;

const char kGoldenGetPolicyResponse[] =
    "<get-policy-response xmlns='http://schemas.zel.example/cml' request-id='' schema-version='2.4.2'>\n"
    "    <policy-item name='Default Group' namespace='http://schemas.zel.example/cml/GroupSettings' version='3' "
    "token='3'>\n" "        <policy name='Default Group' schema-version='1.0.0' version='3' "
    "xmlns='http://schemas.zel.example/cml/GroupSettings'>\n" "            <controller-list>\n"
    "                <controller-info host-name='127.0.0.1' name='primary' port='8080'/>\n"
    "            </controller-list>\n" "        </policy>\n" "    </policy-item>\n"
    "    <policy-item namespace='http://schemas.zel.example/cml/ServerSettings' code='0x47560013' "
    "text='none &gt; here'/>\n" "</get-policy-response>\n";

CGetPolicyRequest BuildGetPolicyRequest() {
    CGetPolicyRequest request; request.SetRequestId(u"req-1");
    CPolicyItem first;
    first.SetName(u"Default & 'Group'"); first.SetNamespace(kGroupSettingsURI.c_str()); first.SetVersion(u"3");
    first.SetSchemaVersion(u"1.0.0"); first.SetTag(u"gs"); first.SetToken(u"tok<1>"); request.AddPolicyItem(first);
    auto second = std::make_unique<CPolicyItem>();
    second->SetNamespace(kServerSettingsURI.c_str()); second->SetCode(ZEL_E_CML_SET_POLICY_REQUEST_FAILED);
    second->SetText(u"line1\n\"line2\""); request.AddPolicyItem(second.release());
    return request;
}

// With the policy parsed from a stand-alone document (`asObject` false) or held as an object.
CSetPolicyRequest BuildSetPolicyRequest(bool asObject = false) {
    CSetPolicyRequest request; request.SetRequestId(u"req-2"); request.SetNeedReply(false);
    if (asObject) {
        request.AddPolicy(GroupSettings());
    } else {
        request.ParsePolicy(kGroupSettingsDocument.data(), kGroupSettingsDocument.size());
    }
    return request;
}

CGetPolicyResponse BuildGetPolicyResponse() {
    CGetPolicyResponse response;
    CPolicyData withDocument;
    withDocument.SetName(u"Default Group"); withDocument.SetNamespace(kGroupSettingsURI.c_str());
    withDocument.SetVersion(u"3"); withDocument.SetToken(u"3");
    withDocument.ParsePolicy(kGroupSettingsDocument.data(), kGroupSettingsDocument.size());
    response.AddPolicyItem(withDocument);
    CPolicyItem coded; coded.SetNamespace(kServerSettingsURI.c_str()); coded.SetCode(ZEL_I_SS_NO_POLICY_AVAILABLE);
    coded.SetText(u"none > here"); response.AddPolicyItem(coded);
    return response;
}

#define REQ " request-id='' schema-version='2.4.2'"
#define GS_POLICY "<policy xmlns='" CML "/GroupSettings' name='n' version='2'"
// Items in and outside "/cml": get-policy-request and set-policy-response take "policy-item" in "/cml" only.
#define ITEMS                                                                                                  \
    "<policy-item name='a'/>text<policy-item xmlns='urn:other' name='b'/><c:policy-item xmlns:c='" CML "' " \
    "name='c'/><policy-items name='d'/><policy-item name='e'><x/></policy-item>"

TEST(PolicyGolden, GoldenRows) {
    test::ExpectGoldenRows({
        {Reread<CCmlRequest>, kGoldenGetPolicyRequest},
        {Reread<CCmlRequest>, kGoldenSetPolicyRequest},
        // A policy object writes its own attribute order; read back, it is a DOM element.
        {Reread<CCmlRequest>, kGoldenSetPolicyRequestObject, kGoldenSetPolicyRequest},
        {Reread<CCmlResponse>, kGoldenGetPolicyResponse},
        {Reread<CCmlRequest>, "<get-policy-request xmlns='" CML "'>" ITEMS "</get-policy-request>",
         "<get-policy-request xmlns='" CML "'" REQ ">\n    <policy-item name='a'/>\n"
         "    <policy-item name='e'/>\n</get-policy-request>\n"},
        // get-policy-response and set-policy-request take every element child.
        {Reread<CCmlResponse>, "<get-policy-response xmlns='" CML "'>" ITEMS
         "<other code='1'> <!--c--> <first/><second/></other></get-policy-response>",
         "<get-policy-response xmlns='" CML "'" REQ ">\n    <policy-item name='a'/>\n    <policy-item name='b'/>\n"
         "    <c:policy-item name='c'/>\n    <policy-items name='d'/>\n    <policy-item name='e'>\n        <x/>\n"
         "    </policy-item>\n    <other code='0x1'>\n        <first/>\n    </other>\n</get-policy-response>\n"},
        {Reread<CCmlRequest>, "<set-policy-request xmlns='" CML "' need-reply='false'>" ITEMS "</set-policy-request>",
         "<set-policy-request xmlns='" CML "'" REQ " need-reply='false'>\n    <policy-item name='a'/>\n"
         "    <policy-item name='b' xmlns='urn:other'/>\n    <c:policy-item name='c' xmlns:c='" CML "'/>\n"
         "    <policy-items name='d'/>\n    <policy-item name='e'>\n        <x/>\n    </policy-item>\n"
         "</set-policy-request>\n"},
        {Reread<CCmlResponse>, "<set-policy-response xmlns='" CML "' code='0x5'>" ITEMS "</set-policy-response>",
         "<set-policy-response xmlns='" CML "'" REQ " code='0x5'>\n"
         "    <policy-item name='a'/>\n    <policy-item name='e'/>\n</set-policy-response>\n"},
        // A policy item writes only its non-empty attributes.
        {Reread<CPolicyItem>, "<policy-item/>\n"},
        {Reread<CPolicyItem>, "<other-item/>\n"},
        {Reread<CPolicyReference>, "<policy-ref xmlns='" CML "' name='a&amp;b' namespace='urn:p'/>\n"},
        {Reread<CPolicyReference>, "<policy-ref xmlns='" CML "' name='' namespace='urn:p' version='7'/>\n"},
        // The flags are read exactly; the schema version written is the class's, not the document's.
        {Reread<CTestPolicy>, GS_POLICY " schema-version='0.9.0' overwrite='TRUE' valid='False'/>",
         GS_POLICY " schema-version='1.0.0'>\n</policy>\n"},
        {Reread<CTestPolicy>, GS_POLICY " overwrite='true' valid='false'/>",
         GS_POLICY " overwrite='true' schema-version='1.0.0' valid='false'>\n</policy>\n"},
    });
    CPolicyReference reference;
    reference.SetSchemaVersion(u"9.9.9");
    EXPECT_EQ(reference.GetSchemaVersion(), kCmlSchemaVersion);
    // The document's own schema version is kept apart from the class's.
    CTestPolicy policy;
    test::ReadElement(policy, GS_POLICY " schema-version='0.9.0'/>");
    EXPECT_EQ(policy.GetDocumentSchemaVersion(), u"0.9.0");
}

TEST(PolicyGolden, StandAlonePolicyDocument) {
    CTestPolicy policy = GroupSettings();
    policy.SetOverwrite(true);
    policy.SetValid(false);
    std::ostringstream out;
    policy.SerializeDocument(out);
    EXPECT_EQ(out.str(),
              "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
              "<policy xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"
              "    xsi:schemaLocation='http://schemas.zel.example/cml/GroupSettings "
              "./schemas/cml/GroupSettings/GroupSettings1_0_0.xsd'\n"
              "    xmlns='http://schemas.zel.example/cml/GroupSettings' name='Default Group' version='3' "
              "overwrite='true' schema-version='1.0.0' valid='false'>\n" "    <controller-list>\n"
              "        <controller-info name='primary' host-name='127.0.0.1' port='8080'/>\n" "    </controller-list>\n"
              "</policy>\n");
    // Without content the root closes at once.
    std::basic_ostringstream<char16_t> wide;
    CTestPolicy().SerializeDocument(wide);
    EXPECT_EQ(ToUtf8(wide.str()),
              "\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-16' standalone='no'?>\n"
              "<policy xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"
              "    xsi:schemaLocation='http://schemas.zel.example/cml/GroupSettings "
              "./schemas/cml/GroupSettings/GroupSettings1_0_0.xsd'\n"
              "    xmlns='http://schemas.zel.example/cml/GroupSettings' schema-version='1.0.0'/>\n");
}

// The golden rows read each message through the factories; in an envelope, the set-policy-request
// brings the policy's namespace into the schema locations.
TEST(PolicyGolden, SetPolicyRequestNamesThePolicySchemaInTheEnvelope) {
    CCmlMessage message;
    message.AddRequest(BuildSetPolicyRequest());
    EXPECT_NE(Document(message).find(CML "/GroupSettings ./schemas/cml/GroupSettings/GroupSettings1_0_0.xsd"),
              std::string::npos);
}

TEST(PolicySource, NodeGettersReadTheElement) {
    const Parsed parsed("<p:policy xmlns:p='" CML "/GroupSettings' name='n' version='4' schema-version='1.0.1' "
                        "valid='true'><a/></p:policy>");
    CPolicyNode node(parsed.Root());
    EXPECT_EQ(node.GetSourceType(), kPolicySourceNode);
    EXPECT_EQ(node.GetNamespaceURI() + node.GetTagName() + node.GetName() + node.GetVersion() + node.GetSchemaVersion(),
              kGroupSettingsURI + u"p:policyn41.0.1");
    // A node is valid only when it says exactly "true" (the reverse of a policy object).
    EXPECT_TRUE(node.GetValid());
    EXPECT_FALSE(CPolicyNode(Parsed("<policy valid='True'/>").Root()).GetValid());
    // The schema version is set on the element itself, so every writer sees it.
    node.SetSchemaVersion(u"1.0.2");
    EXPECT_NE(Narrow(node).find("schema-version='1.0.2'"), std::string::npos);
}

TEST(PolicyMessages, NamespaceRules) {
    const auto collect = [](const CMessageBase& message) {
        NamespaceSet set;
        message.CollectNamespaces(set);
        std::vector<std::u16string> uris;
        for (const CNamespace& ns : set) uris.push_back(ns.GetURI());
        return uris;
    };
    // A coded item without content brings no namespace; with code 0 it must carry content.
    CGetPolicyResponse coded;
    coded.AddPolicyItem(CPolicyData()).SetCode(ZEL_I_SS_NO_POLICY_CHANGE);
    EXPECT_EQ(collect(coded), std::vector<std::u16string>{kCmlNamespaceURI});
    coded.GetPolicyItem(0).SetCode(0);
    ExpectCmlError([&] { collect(coded); }, u"Constructing get-policy-response namespace set", u"No policy specified",
                   ZEL_E_CML_INVALID_POLICY_CONTAINER);
    // ... and be able to carry it at all.
    CGetPolicyResponse plain;
    plain.AddPolicyItem(CPolicyItem());
    ExpectCmlError([&] { collect(plain); }, u"Constructing get-policy-response namespace set",
                   u"Invalid policy object", ZEL_E_CML_INVALID_POLICY_CONTAINER);
    EXPECT_EQ(collect(BuildGetPolicyResponse()), (std::vector<std::u16string>{kCmlNamespaceURI, kGroupSettingsURI}));

    CSetPolicyRequest request;
    request.AddPolicy(GroupSettings());
    CTestPolicy newer = GroupSettings();
    newer.SetSchemaVersion(u"1.1.0");
    request.AddPolicy(newer);
    ExpectCmlError([&] { collect(request); }, u"Constructing policy namespace object",
                   u"Namespace/schema-version conflict among descendant elements:  tried to add namespace \""
                   u"http://schemas.zel.example/cml/GroupSettings\" version 1.1.0; set already contains namespace \""
                   u"http://schemas.zel.example/cml/GroupSettings\" version 1.0.0", ZEL_E_CML_VERSION_CONFLICT);
}

// Index, null pointer, null element and null node errors, and messages without a policy.
TEST(PolicyMessages, FailuresCarryTheirOperationTextAndCode) {
    CSetPolicyRequest setRequest;
    setRequest.AddPolicy(GroupSettings());
    CGetPolicyResponse getResponse;
    getResponse.AddPolicyItem(CPolicyItem());
    CSetPolicyResponse setResponse;
    CGetPolicyRequest getRequest;
    const CPolicyNode node;
    CPolicyNode mutableNode;
    NamespaceSet set;
    const CCmlDOM_Element none;
    const char16_t *nullElement = u"Null element received", *nullNode = u"Null node", *index = u"Invalid vector index";
    const char16_t *nullPointer = u"NULL object pointer", *setSource = u"Setting set-policy-request policy source";
    const uint32_t noElement = ZEL_E_CML_NULL_ELEMENT, method = ZEL_E_CML_INVALID_METHOD;
    const uint32_t bounds = ZEL_E_CML_INDEX_OUT_OF_BOUNDS, invalid = ZEL_E_INVALIDARG;
    const struct {
        std::function<void()> action;
        const char16_t *operation, *description;
        uint32_t code;
    } cases[] = {
        {[&] { CPolicyItem().Deserialize(none); }, u"Deserializing policy-item node", nullElement, noElement},
        {[&] { CPolicyReference().Deserialize(none); }, u"Deserializing policy reference", nullElement, noElement},
        {[&] { CTestPolicy().Deserialize(none); }, u"Deserializing policy", nullElement, noElement},
        {[&] { node.GetNamespaceURI(); }, u"Getting policy node namespace", nullNode, method},
        {[&] { node.GetSchemaVersion(); }, u"Getting policy node schema version", nullNode, method},
        {[&] { node.GetTagName(); }, u"Getting policy node tagname", nullNode, method},
        {[&] { node.GetName(); }, u"Getting policy node name", nullNode, method},
        {[&] { node.GetVersion(); }, u"Getting policy node version #", nullNode, method},
        {[&] { node.GetValid(); }, u"Getting policy node valid attribute", nullNode, method},
        {[&] { mutableNode.SetSchemaVersion(u"1"); }, u"Setting policy schema version", nullNode, method},
        {[&] { node.CollectNamespaces(set); }, u"Getting policy node namespace", nullNode, method},
        {[&] { CSetPolicyRequest().CollectNamespaces(set); }, u"Constructing set-policy-request namespace set",
         u"No policy specified", ZEL_E_CML_INVALID_POLICY_CONTAINER},
        {[&] { setRequest.GetPolicySource(1); }, u"Getting policy source from set-policy-request", index, bounds},
        {[&] { std::as_const(setRequest).GetPolicySource(5); }, u"Getting policy source from set-policy-request",
         index, bounds},
        {[&] { setRequest.SetPolicySource(1, CPolicyReference()); }, setSource, index, bounds},
        {[&] { setRequest.SetPolicySource(1, new CPolicyReference()); }, setSource, index, bounds},
        {[&] { setRequest.SetPolicySource(0, static_cast<CPolicySource*>(nullptr)); }, setSource, nullPointer,
         invalid},
        {[&] { getResponse.GetPolicyItem(1); }, u"Getting set-policy request", index, bounds},
        {[&] { setResponse.GetPolicyItem(0); }, u"Getting set-policy response", index, bounds},
        {[&] { setRequest.AddPolicy(static_cast<CPolicySource*>(nullptr)); }, u"Adding policy to policy vector",
         nullPointer, invalid},
        {[&] { getResponse.AddPolicyItem(static_cast<CPolicyItem*>(nullptr)); },
         u"Adding policy item to specification vector", nullPointer, invalid},
        {[&] { getRequest.AddPolicyItem(static_cast<CPolicyItem*>(nullptr)); },
         u"Adding policy item to policy vector", nullPointer, invalid},
        {[&] { setResponse.AddPolicyItem(static_cast<CPolicyItem*>(nullptr)); },
         u"Adding policy item to policy vector", nullPointer, invalid},
    };
    for (const auto& c : cases) ExpectCmlError(c.action, c.operation, c.description, c.code);
    // Messages without a policy are not written, on either stream kind.
    const CSetPolicyRequest noSources;
    const CGetPolicyResponse noItems;
    const std::pair<const CMessageBase*, const char16_t*> empty[] = {
        {&getRequest, u"Serializing get-policy-request"}, {&setResponse, u"Serializing set-policy-response"},
        {&noSources, u"Serializing set-policy-request"}, {&noItems, u"Serializing get-policy-response"}};
    const uint32_t noContainer = ZEL_E_CML_INVALID_POLICY_CONTAINER;
    for (const auto& [message, operation] : empty) {
        ExpectCmlError([&] { Narrow(*message); }, operation, u"No policy specified", noContainer);
        ExpectCmlError([&] { Wide(*message); }, operation, u"No policy specified", noContainer);
    }
    EXPECT_EQ(Narrow(node), "");
    // Nothing was added or replaced by the failing calls.
    EXPECT_EQ(setRequest.GetPolicySourceCount() + getResponse.GetPolicyItemCount(), 2u);
    EXPECT_EQ(setRequest.GetPolicySource(0).GetSourceType(), kPolicySourceDocument);
    setRequest.SetPolicySource(0, new CPolicyReference());
    EXPECT_EQ(setRequest.GetPolicySource(0).GetSourceType(), kPolicySourceReference);
}

TEST(PolicyMessages, ParsePolicyAcceptsUtf16AndKeepsStateOnFailure) {
    const std::u16string wide = u"<?xml version='1.0' encoding='UTF-16'?><policy xmlns='" + kGroupSettingsURI +
                                u"' name='\u00e9t\u00e9' schema-version='1.0.0'/>";
    const std::string broken = "<policy><unclosed></policy>";
    CPolicyData data;
    data.ParsePolicy(wide.data(), wide.size());
    EXPECT_THROW(data.ParsePolicy(broken.data(), broken.size()), CCmlException);
    EXPECT_EQ(data.GetPolicy()->GetName(), u"\u00e9t\u00e9");
    CSetPolicyRequest request;
    EXPECT_THROW(request.ParsePolicy(broken.data(), broken.size()), CCmlException);
    EXPECT_TRUE(request.GetPolicySources().empty());
    request.ParsePolicy(wide.data(), wide.size());
    EXPECT_EQ(request.GetPolicySource(0).GetName(), u"\u00e9t\u00e9");
}

TEST(PolicyCopies, MessagesCopyDeeplyAndDieInAnyOrder) {
    auto original = std::make_unique<CGetPolicyResponse>(BuildGetPolicyResponse());
    auto copy = std::make_unique<CGetPolicyResponse>(*original);
    CGetPolicyResponse assigned;
    assigned.AddPolicyItem(CPolicyItem());
    assigned = *original;
    std::unique_ptr<CCmlResponse> clone = static_cast<const CCmlResponse&>(*original).Clone();
    original->GetPolicyItem(1).SetText(u"changed");
    original.reset();
    EXPECT_EQ(Narrow(*copy), kGoldenGetPolicyResponse);
    EXPECT_EQ(Narrow(assigned), kGoldenGetPolicyResponse);
    copy.reset();
    EXPECT_EQ(Narrow(*clone), kGoldenGetPolicyResponse);

    CSetPolicyRequest setRequest = BuildSetPolicyRequest();
    std::unique_ptr<CCmlRequest> setClone = static_cast<const CCmlRequest&>(setRequest).Clone();
    setRequest.SetPolicySource(0, CPolicyReference());
    EXPECT_EQ(Narrow(*setClone), kGoldenSetPolicyRequest);
    EXPECT_EQ(Narrow(*BuildSetPolicyRequest(true).Clone()), kGoldenSetPolicyRequestObject);

    CGetPolicyRequest getRequest = BuildGetPolicyRequest();
    CGetPolicyRequest getCopy;
    getCopy = getRequest;
    getRequest.GetPolicyItems().clear();
    getCopy = getCopy;  // self-assignment keeps the items
    EXPECT_EQ(Narrow(getCopy), kGoldenGetPolicyRequest);

    CPolicyData data;
    data.SetPolicy(GroupSettings());
    CPolicyData other;
    other = data;
    other = static_cast<const CPolicyItem&>(CPolicyItem(u"renamed"));
    EXPECT_EQ(other.GetTagName(), u"renamed");
    EXPECT_NE(other.GetPolicy(), nullptr) << "assigning the item part keeps the content";
    data.SetPolicy(data.GetPolicy());  // handing back the held source keeps it
    EXPECT_NE(dynamic_cast<CPolicyData&>(*static_cast<const CPolicyItem&>(data).Clone()).GetPolicy(), nullptr);
}

TEST(PolicyLifetime, NodesKeepTheirDocumentAfterTheParserIsGone) {
    CountingMemoryManager memory;
    auto original = std::make_unique<CSetPolicyRequest>();
    {
        Parsed parsed(kGoldenSetPolicyRequest, &memory);
        original->Deserialize(parsed.Root());
        const auto& node = dynamic_cast<const CPolicyNode&>(original->GetPolicySource(0));
        EXPECT_EQ(node.GetDocumentRef().UseCount(), 2) << "the parser and the node";
        parsed.DestroyParser();
        EXPECT_EQ(node.GetDocumentRef().UseCount(), 1);
    }
    const long long heldByOneDocument = memory.Live();
    EXPECT_GT(heldByOneDocument, 0) << "the node keeps the document";

    auto copy = std::make_unique<CSetPolicyRequest>(*original);
    std::unique_ptr<CCmlRequest> clone = static_cast<const CCmlRequest&>(*original).Clone();
    EXPECT_EQ(memory.Live(), heldByOneDocument) << "copies share the document instead of copying it";
    original.reset();
    EXPECT_EQ(Narrow(*copy), kGoldenSetPolicyRequest);
    copy.reset();
    EXPECT_GT(memory.Live(), 0);
    EXPECT_EQ(Narrow(*clone), kGoldenSetPolicyRequest);
    clone.reset();
    EXPECT_EQ(memory.Live(), 0) << "the last node released the document";
}

TEST(PolicyLifetime, ParsedPoliciesAndReparsedParsersStayValid) {
    // ParsePolicy's own parser is gone when it returns.
    CPolicyData data;
    data.ParsePolicy(kGroupSettingsDocument.data(), kGroupSettingsDocument.size());
    CPolicyData copy = data;
    data.SetPolicy(static_cast<CPolicySource*>(nullptr));
    EXPECT_EQ(copy.GetPolicy()->GetName(), u"Default Group");
    // A parser that moves on to the next document leaves the nodes of the previous one alone.
    CCmlParser parser;
    test::ParseInto(parser, kGoldenGetPolicyResponse);
    CGetPolicyResponse response;
    response.Deserialize(parser.GetDocumentElement());
    test::ParseInto(parser, "<other/>");
    test::ParseInto(parser, kGoldenSetPolicyRequest);
    EXPECT_EQ(Narrow(response), kGoldenGetPolicyResponse);
    // Re-reading a node from the same document keeps it alive throughout.
    auto& node = dynamic_cast<CPolicyNode&>(*dynamic_cast<CPolicyData&>(response.GetPolicyItem(0)).GetPolicy());
    node.Deserialize(CCmlDOM_Element(node.GetElement()));
    EXPECT_EQ(node.GetName(), u"Default Group");

    // A document ref finds the owner from any node; adopting an owned document shares its owner.
    EXPECT_FALSE(CDomDocumentRef::Of(nullptr) || CDomDocumentRef::Adopt(nullptr));
    const CCmlDOM_Element root = parser.GetDocumentElement();
    const CDomDocumentRef fromRoot = CDomDocumentRef::Of(root.GetNode());
    const CDomDocumentRef fromText = CDomDocumentRef::Of(root.GetFirstChild().GetNode());
    const CDomDocumentRef fromDocument = CDomDocumentRef::Of(parser.GetDocument().GetNode());
    EXPECT_EQ(fromRoot.Get(), parser.GetDocument().GetDocument());
    EXPECT_TRUE(fromText.Get() == fromRoot.Get() && fromDocument.Get() == fromRoot.Get());
    EXPECT_EQ(fromRoot.UseCount(), 4);
    EXPECT_EQ(CDomDocumentRef::Adopt(parser.GetDocument().GetDocument()).UseCount(), 5);
}

}  // namespace
}  // namespace zel::cml
