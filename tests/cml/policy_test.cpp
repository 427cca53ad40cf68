// Policy sources (objects, DOM nodes, references), policy items and the four policy messages:
// golden texts read back, reading rules, namespaces, failures, copies and the life of the
// documents that policy nodes share.
#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "cml/cml_test_support.h"
#include "cml/golden_rows.h"

namespace zel::cml {
namespace {

using namespace test;

TestPolicy GroupSettings() {
    TestPolicy policy; policy.SetName(u"Default Group"); policy.SetVersion(u"3");
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

const char kGoldenSetPolicyRequest[] = "<set-policy-request xmlns='" CML "' request-id='req-2' "
    "schema-version='2.4.2' need-reply='false'>\n    <policy name='Default Group' schema-version='1.0.0' version='3' "
    "xmlns='http://schemas.zel.example/cml/GroupSettings'>\n        <controller-list>\n"
    "            <controller-info host-name='127.0.0.1' name='primary' port='8080'/>\n"
    "        </controller-list>\n    </policy>\n</set-policy-request>\n";

const char kGoldenGetPolicyResponse[] =
    "<get-policy-response xmlns='http://schemas.zel.example/cml' request-id='' schema-version='2.4.2'>\n"
    "    <policy-item name='Default Group' namespace='http://schemas.zel.example/cml/GroupSettings' version='3' "
    "token='3'>\n" "        <policy name='Default Group' schema-version='1.0.0' version='3' "
    "xmlns='http://schemas.zel.example/cml/GroupSettings'>\n" "            <controller-list>\n"
    "                <controller-info host-name='127.0.0.1' name='primary' port='8080'/>\n"
    "            </controller-list>\n" "        </policy>\n" "    </policy-item>\n"
    "    <policy-item namespace='http://schemas.zel.example/cml/ServerSettings' code='0x47560013' "
    "text='none &gt; here'/>\n" "</get-policy-response>\n";

#define REQ " request-id='' schema-version='2.4.2'"
#define GS_POLICY "<policy xmlns='" CML "/GroupSettings' name='n' version='2'"
// Items in and outside "/cml", for the two reading rules of the policy messages.
#define ITEMS                                                                                                  \
    "<policy-item name='a'/>text<policy-item xmlns='urn:other' name='b'/><c:policy-item xmlns:c='" CML "' " \
    "name='c'/><policy-items name='d'/><policy-item name='e'><x/></policy-item>"

TEST(PolicyGolden, GoldenRowsAndDocuments) {
    test::ExpectGoldenRows({
        {Reread<CCmlRequest>, kGoldenGetPolicyRequest},
        {Reread<CCmlRequest>, kGoldenSetPolicyRequest},
        {Reread<CCmlResponse>, kGoldenGetPolicyResponse},
        // get-policy-response takes every element child.
        {Reread<CCmlResponse>, "<get-policy-response xmlns='" CML "'>" ITEMS
         "<other code='1'> <!--c--> <first/><second/></other></get-policy-response>",
         "<get-policy-response xmlns='" CML "'" REQ ">\n    <policy-item name='a'/>\n    <policy-item name='b'/>\n"
         "    <c:policy-item name='c'/>\n    <policy-items name='d'/>\n    <policy-item name='e'>\n        <x/>\n"
         "    </policy-item>\n    <other code='0x1'>\n        <first/>\n    </other>\n</get-policy-response>\n"},
        // set-policy-response takes "policy-item" in "/cml" only.
        {Reread<CCmlResponse>, "<set-policy-response xmlns='" CML "' code='0x5'>" ITEMS "</set-policy-response>",
         "<set-policy-response xmlns='" CML "'" REQ " code='0x5'>\n"
         "    <policy-item name='a'/>\n    <policy-item name='e'/>\n</set-policy-response>\n"},
        // A policy item writes only its non-empty attributes.
        {Reread<CPolicyItem>, "<policy-item/>\n"},
        {Reread<CPolicyReference>, "<policy-ref xmlns='" CML "' name='a&amp;b' namespace='urn:p'/>\n"},
        {Reread<CPolicyReference>, "<policy-ref xmlns='" CML "' name='' namespace='urn:p' version='7'/>\n"},
        // The flags are read exactly; the schema version written is the class's, not the document's.
        {Reread<TestPolicy>, GS_POLICY " schema-version='0.9.0' overwrite='TRUE' valid='False'/>",
         GS_POLICY " schema-version='1.0.0'>\n</policy>\n"},
        {Reread<TestPolicy>, GS_POLICY " overwrite='true' valid='false'/>",
         GS_POLICY " overwrite='true' schema-version='1.0.0' valid='false'>\n</policy>\n"},
    });

    // A stand-alone policy document, and the schema of a policy in an envelope.
    const std::string head = "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
                             "<policy xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"
                             "    xsi:schemaLocation='" CML "/GroupSettings "
                             "./schemas/cml/GroupSettings/GroupSettings1_0_0.xsd'\n"
                             "    xmlns='" CML "/GroupSettings' ";
    TestPolicy policy = GroupSettings();
    policy.SetOverwrite(true);
    policy.SetValid(false);
    EXPECT_EQ(Document(policy), head + "name='Default Group' version='3' overwrite='true' schema-version='1.0.0' "
                                       "valid='false'>\n    <controller-list>\n        <controller-info "
                                       "name='primary' host-name='127.0.0.1' port='8080'/>\n    </controller-list>\n"
                                       "</policy>\n");
    // Without content the root closes at once.
    EXPECT_EQ(Document(TestPolicy()), head + "schema-version='1.0.0'/>\n");
    // In an envelope, the set-policy-request brings the policy's namespace into the schema locations.
    CSetPolicyRequest request;
    request.ParsePolicy(kGroupSettingsDocument.data(), kGroupSettingsDocument.size());
    CCmlMessage message;
    message.AddRequest(request);
    EXPECT_NE(Document(message).find(CML "/GroupSettings ./schemas/cml/GroupSettings/GroupSettings1_0_0.xsd"),
              std::string::npos);
}

TEST(PolicySource, NodeGettersReadTheElementAndParsedPolicies) {
    const Parsed parsed("<p:policy xmlns:p='" CML "/GroupSettings' name='n' version='4' schema-version='1.0.1' "
                        "valid='true'><a/></p:policy>");
    CPolicyNode node(parsed.Root());
    EXPECT_EQ(node.GetSourceType(), kPolicySourceNode);
    EXPECT_EQ(node.GetNamespaceURI() + node.GetTagName() + node.GetName() + node.GetVersion() + node.GetSchemaVersion(),
              kGroupSettingsNamespaceURI + std::u16string(u"p:policyn41.0.1"));
    // A node is valid only when it says exactly "true" (the reverse of a policy object).
    EXPECT_TRUE(node.GetValid());
    EXPECT_FALSE(CPolicyNode(Parsed("<policy valid='True'/>").Root()).GetValid());
    // The schema version is set on the element itself, so every writer sees it.
    node.SetSchemaVersion(u"1.0.2");
    EXPECT_NE(Narrow(node).find("schema-version='1.0.2'"), std::string::npos);

    // Parsing a policy accepts UTF-16 and keeps the state on failure.
    const std::u16string wide = u"<?xml version='1.0' encoding='UTF-16'?><policy xmlns='" CML "/GroupSettings' "
                                u"name='\u00e9t\u00e9' schema-version='1.0.0'/>";
    CPolicyData data;
    data.ParsePolicy(wide.data(), wide.size());
    EXPECT_THROW(data.ParsePolicy(kGroupSettingsDocument.data(), kGroupSettingsDocument.size() - 10), CCmlException);
    CSetPolicyRequest request;
    request.ParsePolicy(wide.data(), wide.size());
    EXPECT_EQ(data.GetPolicy()->GetName() + request.GetPolicySource(0).GetName(), u"\u00e9t\u00e9\u00e9t\u00e9");
}

// The namespace rules of the policy messages, and one representative each of the null element,
// null node, index and null pointer errors, and messages without a policy.
TEST(PolicyMessages, NamespaceRulesAndFailuresWithTheirOperationTextAndCode) {
    const auto collect = [](const CMessageBase& message) {
        NamespaceSet set;
        message.CollectNamespaces(set);
        std::vector<std::u16string> uris;
        for (const CNamespace& ns : set) uris.push_back(ns.GetURI());
        return uris;
    };
    // A coded item without content brings no namespace; with code 0 it must carry content, and be
    // able to carry it at all.
    CGetPolicyResponse coded, plain, full;
    coded.AddPolicyItem(CPolicyData()).SetCode(ZEL_I_SS_NO_POLICY_CHANGE);
    EXPECT_EQ(collect(coded), std::vector<std::u16string>{kCmlNamespaceURI});
    coded.GetPolicyItem(0).SetCode(0);
    plain.AddPolicyItem(CPolicyItem());
    ReadElement(full, kGoldenGetPolicyResponse);
    EXPECT_EQ(collect(full), (std::vector<std::u16string>{kCmlNamespaceURI, kGroupSettingsNamespaceURI}));
    // Two versions of one policy namespace conflict.
    CSetPolicyRequest setRequest;
    setRequest.AddPolicy(GroupSettings());
    TestPolicy newer = GroupSettings();
    newer.SetSchemaVersion(u"1.1.0");
    setRequest.AddPolicy(newer);
    NamespaceSet set;
    const char16_t *nullPointer = u"NULL object pointer", *setSource = u"Setting set-policy-request policy source";
    const char16_t *noPolicy = u"No policy specified", *getSet = u"Constructing get-policy-response namespace set";
    const uint32_t noContainer = ZEL_E_CML_INVALID_POLICY_CONTAINER;
    const struct {
        std::function<void()> action;
        const char16_t *operation, *description;
        uint32_t code;
    } cases[] = {
        {[&] { collect(coded); }, getSet, noPolicy, noContainer},
        {[&] { collect(plain); }, getSet, u"Invalid policy object", noContainer},
        {[&] { collect(setRequest); }, u"Constructing policy namespace object",
         u"Namespace/schema-version conflict among descendant elements:  tried to add namespace \""
         u"http://schemas.zel.example/cml/GroupSettings\" version 1.1.0; set already contains namespace \""
         u"http://schemas.zel.example/cml/GroupSettings\" version 1.0.0", ZEL_E_CML_VERSION_CONFLICT},
        {[&] { TestPolicy().Deserialize(CCmlDOM_Element()); }, u"Deserializing policy", u"Null element received",
         ZEL_E_CML_NULL_ELEMENT},
        {[&] { CPolicyNode().CollectNamespaces(set); }, u"Getting policy node namespace", u"Null node",
         ZEL_E_CML_INVALID_METHOD},
        {[&] { CSetPolicyRequest().CollectNamespaces(set); }, u"Constructing set-policy-request namespace set",
         noPolicy, noContainer},
        {[&] { setRequest.SetPolicySource(2, new CPolicyReference()); }, setSource, u"Invalid vector index",
         ZEL_E_CML_INDEX_OUT_OF_BOUNDS},
        {[&] { setRequest.SetPolicySource(0, static_cast<CPolicySource*>(nullptr)); }, setSource, nullPointer,
         ZEL_E_INVALIDARG},
        {[&] { setRequest.AddPolicy(static_cast<CPolicySource*>(nullptr)); }, u"Adding policy to policy vector",
         nullPointer, ZEL_E_INVALIDARG},
        // Messages without a policy are not written.
        {[&] { Narrow(CGetPolicyRequest()); }, u"Serializing get-policy-request", noPolicy, noContainer},
        {[&] { Wide(CSetPolicyRequest()); }, u"Serializing set-policy-request", noPolicy, noContainer},
    };
    for (const auto& c : cases) ExpectCmlError(c.action, c.operation, c.description, c.code);
    EXPECT_EQ(Narrow(CPolicyNode()), "");
    // Nothing was added or replaced by the failing calls.
    EXPECT_EQ(setRequest.GetPolicySourceCount(), 2u);
    EXPECT_EQ(setRequest.GetPolicySource(0).GetSourceType(), kPolicySourceDocument);
    setRequest.SetPolicySource(0, new CPolicyReference());
    EXPECT_EQ(setRequest.GetPolicySource(0).GetSourceType(), kPolicySourceReference);
    // A reference built from its setters is stored as a copy, and a clone of the message copies it again.
    CPolicyReference reference;
    reference.SetName(u"r"); reference.SetPolicyNamespace(u"urn:p"); reference.SetVersion(u"7");
    setRequest.SetPolicySource(0, reference);
    EXPECT_EQ(Narrow(setRequest.Clone()->GetPolicySource(0)),
              "<policy-ref xmlns='" CML "' name='r' namespace='urn:p' version='7'/>\n");
}

// Copies of messages are deep, share the documents of their policy nodes and die in any order; a
// parser that moves on to the next document leaves the nodes of the previous one alone.
TEST(PolicyCopies, MessagesCopyDeeplyShareTheirDocumentsAndDieInAnyOrder) {
    CountingMemoryManager memory;
    auto request = std::make_unique<CSetPolicyRequest>();
    request->Deserialize(Parsed(kGoldenSetPolicyRequest, &memory).Root());
    const long long heldByOneDocument = memory.Live();
    EXPECT_GT(heldByOneDocument, 0) << "the node keeps the document after the parser is gone";
    auto requestCopy = std::make_unique<CSetPolicyRequest>(*request);
    std::unique_ptr<CCmlRequest> requestClone = static_cast<const CCmlRequest&>(*request).Clone();
    EXPECT_EQ(memory.Live(), heldByOneDocument) << "copies share the document instead of copying it";
    request.reset();
    EXPECT_EQ(Narrow(*requestCopy), kGoldenSetPolicyRequest);
    requestCopy.reset();
    EXPECT_GT(memory.Live(), 0);
    EXPECT_EQ(Narrow(*requestClone), kGoldenSetPolicyRequest);
    requestClone.reset();
    EXPECT_EQ(memory.Live(), 0) << "the last node released the document";

    CCmlParser parser;
    ParseInto(parser, kGoldenGetPolicyResponse);
    auto original = std::make_unique<CGetPolicyResponse>();
    original->Deserialize(parser.GetDocumentElement());
    auto copy = std::make_unique<CGetPolicyResponse>(*original);
    CGetPolicyResponse assigned;
    assigned.AddPolicyItem(CPolicyItem());
    assigned = *original;
    assigned = assigned;  // self-assignment keeps the items
    std::unique_ptr<CCmlResponse> clone = static_cast<const CCmlResponse&>(*original).Clone();
    original->GetPolicyItem(1).SetText(u"changed");
    original.reset();
    ParseInto(parser, "<other/>");
    ParseInto(parser, kGoldenSetPolicyRequest);
    EXPECT_EQ(Narrow(*copy), kGoldenGetPolicyResponse);
    EXPECT_EQ(Narrow(assigned), kGoldenGetPolicyResponse);
    copy.reset();
    EXPECT_EQ(Narrow(*clone), kGoldenGetPolicyResponse);
    clone.reset();
    // Re-reading a node from the same document keeps it alive throughout.
    auto& node = dynamic_cast<CPolicyNode&>(*dynamic_cast<CPolicyData&>(assigned.GetPolicyItem(0)).GetPolicy());
    node.Deserialize(CCmlDOM_Element(node.GetElement()));
    EXPECT_EQ(node.GetName(), u"Default Group");
    // A document ref finds the owner from any node; adopting an owned document shares its owner.
    EXPECT_FALSE(CDomDocumentRef::Of(nullptr) || CDomDocumentRef::Adopt(nullptr));
    const CDomDocumentRef fromText = CDomDocumentRef::Of(parser.GetDocumentElement().GetFirstChild().GetNode());
    const CDomDocumentRef fromDocument = CDomDocumentRef::Of(parser.GetDocument().GetNode());
    EXPECT_EQ(fromText.Get(), parser.GetDocument().GetDocument());
    EXPECT_EQ(fromDocument.Get(), fromText.Get());
    EXPECT_EQ(fromText.UseCount(), 3);
    EXPECT_EQ(CDomDocumentRef::Adopt(parser.GetDocument().GetDocument()).UseCount(), 4);

    CPolicyData data;
    data.SetPolicy(GroupSettings());
    data.SetPolicy(data.GetPolicy());  // handing back the held source keeps it
    EXPECT_NE(dynamic_cast<CPolicyData&>(*static_cast<const CPolicyItem&>(data).Clone()).GetPolicy(), nullptr);

    // Assignment replaces the items held with copies of every attribute.
    CGetPolicyRequest getRequest, getCopy;
    ReadElement(getRequest, kGoldenGetPolicyRequest);
    getCopy.AddPolicyItem(new CPolicyItem());
    getCopy = getRequest;
    EXPECT_EQ(Narrow(getCopy), kGoldenGetPolicyRequest);
    // Assigning a plain item to a policy item copies every attribute and keeps the policy held; assigning a
    // policy item copies its policy too.
    CPolicyData other;
    for (const auto& item : getRequest.GetPolicyItems()) EXPECT_EQ(Narrow(other = *item), Narrow(*item));
    EXPECT_EQ(Narrow(other = data), Narrow(data));
    EXPECT_NE((other = CPolicyItem()).GetPolicy(), nullptr);

    // A holder's list or entry is set to copies; a read-only AVP policy among them gets the AVP-sections version.
    PolicySourceVector given;
    given.push_back(std::make_unique<TestPolicy>(kRoAvpSectionsNamespaceURI, u"9.9.9"));
    given.push_back(std::make_unique<TestPolicy>());
    CModuleInfo module;
    module.SetPolicies(given);
    module.SetPolicy(1, *given[0]);
    EXPECT_EQ(std::as_const(module).GetPolicy(0).GetSchemaVersion() + module.GetPolicy(1).GetSchemaVersion() +
              given[0]->GetSchemaVersion(), u"2.0.1" u"2.0.1" u"9.9.9");
}

}  // namespace
}  // namespace zel::cml
