#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/dom_document_ref.h"
#include "SensorIndependence/CmlLib/message_factory.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "cml/cml_test_support.h"
#include "runtime/unicode.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

using test::CountingMemoryManager;
using test::Narrow;
using test::Parsed;
using test::Wide;

// Reads `text` (one element) into a default `Message` and writes it again; the parser is gone
// before the object is written.
template <typename Message>
std::string ReadBack(const std::string& text) {
    Message message;
    test::ReadElement(message, text);
    return Narrow(message);
}

using test::ExpectCmlError;

const std::u16string kGroupSettingsURI = std::u16string(kCmlBaseURI) + u"/cml/GroupSettings";
const std::u16string kServerSettingsURI = std::u16string(kCmlBaseURI) + u"/cml/ServerSettings";

using CTestPolicy = test::TestPolicy;

CTestPolicy GroupSettings() {
    CTestPolicy policy;
    policy.SetName(u"Default Group");
    policy.SetVersion(u"3");
    policy.AddController("<controller-info name='primary' host-name='127.0.0.1' port='8080'/>");
    return policy;
}

// A stand-alone group settings document, as a controller or a settings file holds it.
const char kGroupSettingsDocument[] =
    "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
    "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Default Group' version='3' "
    "schema-version='1.0.0'>\n"
    "  <controller-list>\n"
    "    <controller-info name='primary' host-name='127.0.0.1' port='8080'/>\n"
    "  </controller-list>\n"
    "</policy>\n";

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
    "text='line1&#xa;&quot;line2&quot;'/>\n"
    "</get-policy-request>\n";

const char kGoldenSetPolicyRequest[] =
    "<set-policy-request xmlns='http://schemas.zel.example/cml' request-id='req-2' schema-version='2.4.2' "
    "need-reply='false'>\n"
    "    <policy name='Default Group' schema-version='1.0.0' version='3' "
    "xmlns='http://schemas.zel.example/cml/GroupSettings'>\n"
    "        <controller-list>\n"
    "            <controller-info host-name='127.0.0.1' name='primary' port='8080'/>\n"
    "        </controller-list>\n"
    "    </policy>\n"
    "</set-policy-request>\n";

// The same request with the policy held as an object.
const char kGoldenSetPolicyRequestObject[] =
    "<set-policy-request xmlns='http://schemas.zel.example/cml' request-id='req-2' schema-version='2.4.2' "
    "need-reply='false'>\n"
    "    <policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Default Group' version='3' "
    "schema-version='1.0.0'>\n"
    "        <controller-list>\n"
    "            <controller-info name='primary' host-name='127.0.0.1' port='8080'/>\n"
    "        </controller-list>\n"
    "    </policy>\n"
    "</set-policy-request>\n";

const char kGoldenGetPolicyResponse[] =
    "<get-policy-response xmlns='http://schemas.zel.example/cml' request-id='' schema-version='2.4.2'>\n"
    "    <policy-item name='Default Group' namespace='http://schemas.zel.example/cml/GroupSettings' version='3' "
    "token='3'>\n"
    "        <policy name='Default Group' schema-version='1.0.0' version='3' "
    "xmlns='http://schemas.zel.example/cml/GroupSettings'>\n"
    "            <controller-list>\n"
    "                <controller-info host-name='127.0.0.1' name='primary' port='8080'/>\n"
    "            </controller-list>\n"
    "        </policy>\n"
    "    </policy-item>\n"
    "    <policy-item namespace='http://schemas.zel.example/cml/ServerSettings' code='0x47560013' "
    "text='none &gt; here'/>\n"
    "</get-policy-response>\n";

CGetPolicyRequest BuildGetPolicyRequest() {
    CGetPolicyRequest request;
    request.SetRequestId(u"req-1");
    CPolicyItem first;
    first.SetName(u"Default & 'Group'");
    first.SetNamespace(kGroupSettingsURI.c_str());
    first.SetVersion(u"3");
    first.SetSchemaVersion(u"1.0.0");
    first.SetTag(u"gs");
    first.SetToken(u"tok<1>");
    request.AddPolicyItem(first);
    auto second = std::make_unique<CPolicyItem>();
    second->SetNamespace(kServerSettingsURI.c_str());
    second->SetCode(ZEL_E_CML_SET_POLICY_REQUEST_FAILED);
    second->SetText(u"line1\n\"line2\"");
    request.AddPolicyItem(second.release());
    return request;
}

// With the policy parsed from a stand-alone document (`asObject` false) or held as an object.
CSetPolicyRequest BuildSetPolicyRequest(bool asObject = false) {
    CSetPolicyRequest request;
    request.SetRequestId(u"req-2");
    request.SetNeedReply(false);
    if (asObject) {
        request.AddPolicy(GroupSettings());
    } else {
        const std::string document = kGroupSettingsDocument;
        EXPECT_EQ(request.ParsePolicy(document.data(), document.size()).GetSourceType(), kPolicySourceNode);
    }
    return request;
}

CGetPolicyResponse BuildGetPolicyResponse() {
    CGetPolicyResponse response;
    CPolicyData withDocument;
    withDocument.SetName(u"Default Group");
    withDocument.SetNamespace(kGroupSettingsURI.c_str());
    withDocument.SetVersion(u"3");
    withDocument.SetToken(u"3");
    const std::string document = kGroupSettingsDocument;
    withDocument.ParsePolicy(document.data(), document.size());
    response.AddPolicyItem(withDocument);
    CPolicyItem coded;
    coded.SetNamespace(kServerSettingsURI.c_str());
    coded.SetCode(ZEL_I_SS_NO_POLICY_AVAILABLE);
    coded.SetText(u"none > here");
    response.AddPolicyItem(coded);
    return response;
}

TEST(PolicyGolden, GetPolicyRequestWithTwoItems) {
    const CGetPolicyRequest request = BuildGetPolicyRequest();
    EXPECT_EQ(Narrow(request), kGoldenGetPolicyRequest);
    EXPECT_EQ(Wide(request), kGoldenGetPolicyRequest);
    EXPECT_EQ(ReadBack<CGetPolicyRequest>(kGoldenGetPolicyRequest), kGoldenGetPolicyRequest);
    const CPolicyItem& first = *request.GetPolicyItems()[0];
    const CPolicyItem& second = *request.GetPolicyItems()[1];
    EXPECT_EQ(first.GetNamespace() + first.GetVersion() + first.GetSchemaVersion() + first.GetTag() +
                  first.GetToken() + second.GetText(),
              kGroupSettingsURI + u"31.0.0gstok<1>line1\n\"line2\"");
    EXPECT_EQ(second.GetCode(), ZEL_E_CML_SET_POLICY_REQUEST_FAILED);
}

TEST(PolicyGolden, SetPolicyRequestWithAPolicyDocument) {
    EXPECT_EQ(Narrow(BuildSetPolicyRequest()), kGoldenSetPolicyRequest);
    EXPECT_EQ(Wide(BuildSetPolicyRequest()), kGoldenSetPolicyRequest);
    EXPECT_EQ(ReadBack<CSetPolicyRequest>(kGoldenSetPolicyRequest), kGoldenSetPolicyRequest);

    // A policy object writes its own attribute order; read back, it is a DOM element.
    EXPECT_EQ(Narrow(BuildSetPolicyRequest(true)), kGoldenSetPolicyRequestObject);
    EXPECT_EQ(Wide(BuildSetPolicyRequest(true)), kGoldenSetPolicyRequestObject);
    EXPECT_EQ(ReadBack<CSetPolicyRequest>(kGoldenSetPolicyRequestObject), kGoldenSetPolicyRequest);
}

TEST(PolicyGolden, GetPolicyResponseMixingADocumentAndACode) {
    const CGetPolicyResponse response = BuildGetPolicyResponse();
    EXPECT_EQ(Narrow(response), kGoldenGetPolicyResponse);
    EXPECT_EQ(Wide(response), kGoldenGetPolicyResponse);

    CGetPolicyResponse back;
    const Parsed parsed(kGoldenGetPolicyResponse);
    back.Deserialize(parsed.Root());
    ASSERT_EQ(back.GetPolicyItemCount(), 2u);
    const auto& data = dynamic_cast<const CPolicyData&>(back.GetPolicyItem(0));
    ASSERT_NE(data.GetPolicy(), nullptr);
    EXPECT_EQ(data.GetPolicy()->GetSourceType(), kPolicySourceNode);
    EXPECT_EQ(data.GetPolicy()->GetName(), u"Default Group");
    EXPECT_EQ(back.GetPolicyItem(1).GetCode(), ZEL_I_SS_NO_POLICY_AVAILABLE);
    EXPECT_EQ(dynamic_cast<const CPolicyData&>(back.GetPolicyItem(1)).GetPolicy(), nullptr);
    EXPECT_EQ(Narrow(back), kGoldenGetPolicyResponse);
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
              "overwrite='true' schema-version='1.0.0' valid='false'>\n"
              "    <controller-list>\n"
              "        <controller-info name='primary' host-name='127.0.0.1' port='8080'/>\n"
              "    </controller-list>\n"
              "</policy>\n");

    // Without content the root closes at once; the element form still writes both tags.
    CTestPolicy empty;
    std::basic_ostringstream<char16_t> wide;
    empty.SerializeDocument(wide);
    EXPECT_EQ(ToUtf8(wide.str()),
              "\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-16' standalone='no'?>\n"
              "<policy xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"
              "    xsi:schemaLocation='http://schemas.zel.example/cml/GroupSettings "
              "./schemas/cml/GroupSettings/GroupSettings1_0_0.xsd'\n"
              "    xmlns='http://schemas.zel.example/cml/GroupSettings' schema-version='1.0.0'/>\n");
    EXPECT_EQ(Narrow(empty, 1),
              "    <policy xmlns='http://schemas.zel.example/cml/GroupSettings' schema-version='1.0.0'>\n"
              "    </policy>\n");
}

TEST(PolicyGolden, EnvelopeRoundTripThroughTheFactories) {
    CCmlMessage message;
    message.SetMessageId(u"m-1");
    message.AddRequest(BuildGetPolicyRequest());
    message.AddRequest(BuildSetPolicyRequest());
    message.AddResponse(BuildGetPolicyResponse());
    CSetPolicyResponse setResponse;
    CPolicyItem status;
    status.SetNamespace(kGroupSettingsURI.c_str());
    status.SetCode(ZEL_E_CML_SET_POLICY_REQUEST_FAILED);
    setResponse.AddPolicyItem(status);
    message.AddResponse(setResponse);
    std::ostringstream out;
    message.SerializeDocument(out);
    const std::string text = out.str();
    // The set-policy-request brings the policy's namespace into the schema locations.
    EXPECT_NE(text.find("http://schemas.zel.example/cml/GroupSettings "
                        "./schemas/cml/GroupSettings/GroupSettings1_0_0.xsd"),
              std::string::npos);

    CCmlMessage back;
    {
        const Parsed parsed(text);
        back.Deserialize(parsed.Envelope());
    }
    ASSERT_EQ(back.GetRequests().size(), 2u);
    ASSERT_EQ(back.GetResponses().size(), 2u);
    EXPECT_NE(dynamic_cast<const CGetPolicyRequest*>(back.GetRequests()[0].get()), nullptr);
    EXPECT_NE(dynamic_cast<const CSetPolicyRequest*>(back.GetRequests()[1].get()), nullptr);
    EXPECT_NE(dynamic_cast<const CGetPolicyResponse*>(back.GetResponses()[0].get()), nullptr);
    EXPECT_NE(dynamic_cast<const CSetPolicyResponse*>(back.GetResponses()[1].get()), nullptr);
    std::ostringstream again;
    back.SerializeDocument(again);
    EXPECT_EQ(again.str(), text);
}

// ---- CPolicyItem ----

TEST(PolicyItem, OnlyNonEmptyAttributesAreWritten) {
    const struct {
        std::function<void(CPolicyItem&)> set;
        const char* expected;
    } cases[] = {
        {[](CPolicyItem&) {}, "<policy-item/>\n"},
        {[](CPolicyItem& i) { i.SetCode(ZEL_E_CML_SET_POLICY_REQUEST_FAILED); },
         "<policy-item code='0xc7380017'/>\n"},
        {[](CPolicyItem& i) { i.SetCode(0x10); }, "<policy-item code='0x10'/>\n"},
        // namespace, version, schema-version and tag are written as they are.
        {[](CPolicyItem& i) {
             i.SetNamespace(u"a&b");
             i.SetTag(u"<t>");
         },
         "<policy-item namespace='a&amp;b' tag='&lt;t&gt;'/>\n"},
        {[](CPolicyItem& i) {
             i.SetToken(u"'");
             i.SetText(u"&");
             i.SetName(u"\n");
         },
         "<policy-item name='&#xa;' text='&amp;' token='&apos;'/>\n"},
        {[](CPolicyItem& i) { i.SetTagName(u"other-item"); }, "<other-item/>\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        CPolicyItem item;
        c.set(item);
        EXPECT_EQ(Narrow(item), c.expected);
        EXPECT_EQ(Wide(item), c.expected);
    }
}

// ---- policy sources ----

TEST(PolicySource, PolicyDocumentFlagsReadExactly) {
    const struct {
        const char* attributes;
        bool overwrite;
        bool valid;
    } cases[] = {
        {"", false, true},
        {" valid='false'", false, false},
        {" valid='False'", false, true},
        {" overwrite='true'", true, true},
        {" overwrite='TRUE'", false, true},
        {" overwrite='true' valid='false'", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.attributes);
        const Parsed parsed(std::string("<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='n' "
                                        "version='2' schema-version='0.9.0'") +
                            c.attributes + "/>");
        CTestPolicy policy;
        policy.Deserialize(parsed.Root());
        EXPECT_EQ(policy.GetOverwrite(), c.overwrite);
        EXPECT_EQ(policy.GetValid(), c.valid);
        EXPECT_EQ(policy.GetNamespaceURI(), kGroupSettingsURI);
        EXPECT_EQ(policy.GetDocumentSchemaVersion(), u"0.9.0");
        // The document's own schema version is what the class writes, not what was read.
        std::ostringstream attributes;
        policy.SerializeAttributes(attributes);
        std::string expected = " xmlns='http://schemas.zel.example/cml/GroupSettings' name='n' version='2'";
        if (c.overwrite) expected += " overwrite='true'";
        expected += " schema-version='1.0.0'";
        if (!c.valid) expected += " valid='false'";
        EXPECT_EQ(attributes.str(), expected);
    }
}

TEST(PolicySource, NodeGettersReadTheElement) {
    const Parsed parsed(
        "<p:policy xmlns:p='http://schemas.zel.example/cml/GroupSettings' name='n' version='4' "
        "schema-version='1.0.1' valid='true'><a/></p:policy>");
    CPolicyNode node(parsed.Root());
    EXPECT_EQ(node.GetSourceType(), kPolicySourceNode);
    EXPECT_EQ(node.GetNamespaceURI(), kGroupSettingsURI);
    EXPECT_EQ(node.GetTagName(), u"p:policy");
    EXPECT_EQ(node.GetName(), u"n");
    EXPECT_EQ(node.GetVersion(), u"4");
    EXPECT_EQ(node.GetSchemaVersion(), u"1.0.1");
    EXPECT_TRUE(node.GetValid());
    NamespaceSet set;
    node.CollectNamespaces(set);
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set.begin()->GetVersion(), u"1.0.1");

    // A node is valid only when it says exactly "true" (the reverse of a policy object).
    for (const char* valid : {"", " valid='True'", " valid='false'", " valid='1'"}) {
        const Parsed other(std::string("<policy") + valid + "/>");
        EXPECT_FALSE(CPolicyNode(other.Root()).GetValid()) << valid;
    }

    // The schema version is set on the element itself, so every writer sees it.
    node.SetSchemaVersion(u"1.0.2");
    EXPECT_EQ(node.GetSchemaVersion(), u"1.0.2");
    EXPECT_NE(Narrow(node).find("schema-version='1.0.2'"), std::string::npos);
}

TEST(PolicySource, ReferenceWritesAndReadsItsElement) {
    CPolicyReference reference;
    reference.SetName(u"a&b");
    reference.SetPolicyNamespace(kGroupSettingsURI.c_str());
    const char kWithoutVersion[] =
        "        <policy-ref xmlns='http://schemas.zel.example/cml' name='a&amp;b' "
        "namespace='http://schemas.zel.example/cml/GroupSettings'/>\n";
    EXPECT_EQ(Narrow(reference, 2), kWithoutVersion);
    reference.SetVersion(u"7");
    const char kWithVersion[] =
        "<policy-ref xmlns='http://schemas.zel.example/cml' name='a&amp;b' "
        "namespace='http://schemas.zel.example/cml/GroupSettings' version='7'/>\n";
    EXPECT_EQ(Narrow(reference), kWithVersion);
    EXPECT_EQ(Wide(reference), kWithVersion);
    EXPECT_EQ(reference.GetSchemaVersion(), kCmlSchemaVersion);
    reference.SetSchemaVersion(u"9.9.9");
    EXPECT_EQ(reference.GetSchemaVersion(), kCmlSchemaVersion);

    CPolicyReference back;
    {
        const Parsed parsed(kWithVersion);
        back.Deserialize(parsed.Root());
    }
    EXPECT_EQ(back.GetName(), u"a&b");
    EXPECT_EQ(back.GetPolicyNamespace(), kGroupSettingsURI);
    EXPECT_EQ(back.GetVersion(), u"7");
    EXPECT_EQ(Narrow(back), kWithVersion);
}

// ---- the four messages ----

TEST(PolicyMessages, GetPolicyResponseNamespaceRules) {
    const auto collect = [](const CGetPolicyResponse& response) {
        NamespaceSet set;
        response.CollectNamespaces(set);
        std::vector<std::u16string> uris;
        for (const CNamespace& ns : set) uris.push_back(ns.GetURI());
        return uris;
    };
    // A coded item without content brings no namespace.
    CGetPolicyResponse coded;
    CPolicyData item;
    item.SetCode(ZEL_I_SS_NO_POLICY_CHANGE);
    coded.AddPolicyItem(item);
    EXPECT_EQ(collect(coded), std::vector<std::u16string>{kCmlNamespaceURI});

    // The same item with code 0 must carry content.
    coded.GetPolicyItem(0).SetCode(0);
    ExpectCmlError([&] { collect(coded); }, u"Constructing get-policy-response namespace set", u"No policy specified",
                   ZEL_E_CML_INVALID_POLICY_CONTAINER);

    // ... and be able to carry it at all.
    CGetPolicyResponse plain;
    plain.AddPolicyItem(CPolicyItem());
    ExpectCmlError([&] { collect(plain); }, u"Constructing get-policy-response namespace set",
                   u"Invalid policy object", ZEL_E_CML_INVALID_POLICY_CONTAINER);

    EXPECT_EQ(collect(BuildGetPolicyResponse()),
              (std::vector<std::u16string>{kCmlNamespaceURI, kGroupSettingsURI}));
}

TEST(PolicyMessages, ConflictingPolicyVersionsAreRefused) {
    CSetPolicyRequest request;
    request.AddPolicy(GroupSettings());
    CTestPolicy newer = GroupSettings();
    newer.SetSchemaVersion(u"1.1.0");
    request.AddPolicy(newer);
    NamespaceSet set;
    try {
        request.CollectNamespaces(set);
        ADD_FAILURE() << "no exception";
    } catch (const CCmlException& e) {
        EXPECT_EQ(e.GetCode(), ZEL_E_CML_VERSION_CONFLICT);
        EXPECT_EQ(std::u16string(e.GetOperation()), u"Constructing policy namespace object");
    }
}

TEST(PolicyMessages, ReadingSelectsTheRightChildren) {
    const std::string cml = " xmlns='http://schemas.zel.example/cml'";
    // get-policy-request and set-policy-response take "policy-item" in "/cml" only.
    const std::string items = "<policy-item name='a'/>text<policy-item xmlns='urn:other' name='b'/>"
                              "<c:policy-item xmlns:c='http://schemas.zel.example/cml' name='c'/>"
                              "<policy-items name='d'/><policy-item name='e'><x/></policy-item>";
    {
        CGetPolicyRequest request;
        const Parsed parsed("<get-policy-request" + cml + ">" + items + "</get-policy-request>");
        request.AddPolicyItem(CPolicyItem());
        request.Deserialize(parsed.Root());
        ASSERT_EQ(request.GetPolicyItemCount(), 2u);
        EXPECT_EQ(request.GetPolicyItems()[0]->GetName(), u"a");
        EXPECT_EQ(request.GetPolicyItems()[1]->GetName(), u"e");
        EXPECT_TRUE(request.GetNeedReply());
    }
    {
        CSetPolicyResponse response;
        const Parsed parsed("<set-policy-response" + cml + " code='0x5'>" + items + "</set-policy-response>");
        response.Deserialize(parsed.Root());
        ASSERT_EQ(response.GetPolicyItemCount(), 2u);
        EXPECT_EQ(response.GetPolicyItem(1).GetName(), u"e");
        EXPECT_EQ(response.GetCode(), 5u);
    }
    // get-policy-response takes every element child; its first element child is the content.
    {
        CGetPolicyResponse response;
        const Parsed parsed("<get-policy-response" + cml + ">" + items +
                            "<other code='1'> <!--c--> <first/><second/></other></get-policy-response>");
        response.Deserialize(parsed.Root());
        ASSERT_EQ(response.GetPolicyItemCount(), 6u);
        EXPECT_EQ(response.GetPolicyItem(2).GetTagName(), u"c:policy-item");
        const auto& last = dynamic_cast<const CPolicyData&>(response.GetPolicyItem(5));
        EXPECT_EQ(last.GetTagName(), u"other");
        ASSERT_NE(last.GetPolicy(), nullptr);
        EXPECT_EQ(last.GetPolicy()->GetTagName(), u"first");
        EXPECT_EQ(dynamic_cast<const CPolicyData&>(response.GetPolicyItem(0)).GetPolicy(), nullptr);
    }
    // set-policy-request takes every element child, of any name, as a policy node.
    {
        CSetPolicyRequest request;
        request.AddPolicy(GroupSettings());
        const Parsed parsed("<set-policy-request" + cml + " need-reply='false'>" + items + "</set-policy-request>");
        request.Deserialize(parsed.Root());
        ASSERT_EQ(request.GetPolicySourceCount(), 5u);
        EXPECT_FALSE(request.GetNeedReply());
        for (const auto& source : request.GetPolicySources()) EXPECT_EQ(source->GetSourceType(), kPolicySourceNode);
        EXPECT_EQ(request.GetPolicySource(1).GetNamespaceURI(), u"urn:other");
    }
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
    const char16_t* nullElement = u"Null element received";
    const char16_t* noPolicy = u"No policy specified";
    const uint32_t noContainer = ZEL_E_CML_INVALID_POLICY_CONTAINER;
    const struct {
        std::function<void()> action;
        const char16_t* operation;
        const char16_t* description;
        uint32_t code;
    } cases[] = {
        {[&] { CPolicyItem().Deserialize(none); }, u"Deserializing policy-item node", nullElement,
         ZEL_E_CML_NULL_ELEMENT},
        {[&] { CPolicyData().Deserialize(none); }, u"Deserializing policy-item node", nullElement,
         ZEL_E_CML_NULL_ELEMENT},
        {[&] { CPolicyReference().Deserialize(none); }, u"Deserializing policy reference", nullElement,
         ZEL_E_CML_NULL_ELEMENT},
        {[&] { CTestPolicy().Deserialize(none); }, u"Deserializing policy", nullElement, ZEL_E_CML_NULL_ELEMENT},
        {[&] { node.GetNamespaceURI(); }, u"Getting policy node namespace", u"Null node", ZEL_E_CML_INVALID_METHOD},
        {[&] { node.GetSchemaVersion(); }, u"Getting policy node schema version", u"Null node",
         ZEL_E_CML_INVALID_METHOD},
        {[&] { node.GetTagName(); }, u"Getting policy node tagname", u"Null node", ZEL_E_CML_INVALID_METHOD},
        {[&] { node.GetName(); }, u"Getting policy node name", u"Null node", ZEL_E_CML_INVALID_METHOD},
        {[&] { node.GetVersion(); }, u"Getting policy node version #", u"Null node", ZEL_E_CML_INVALID_METHOD},
        {[&] { node.GetValid(); }, u"Getting policy node valid attribute", u"Null node", ZEL_E_CML_INVALID_METHOD},
        {[&] { mutableNode.SetSchemaVersion(u"1"); }, u"Setting policy schema version", u"Null node",
         ZEL_E_CML_INVALID_METHOD},
        {[&] { node.CollectNamespaces(set); }, u"Getting policy node namespace", u"Null node",
         ZEL_E_CML_INVALID_METHOD},
        {[&] { Narrow(getRequest); }, u"Serializing get-policy-request", noPolicy, noContainer},
        {[&] { Wide(getRequest); }, u"Serializing get-policy-request", noPolicy, noContainer},
        {[&] { Narrow(CSetPolicyRequest()); }, u"Serializing set-policy-request", noPolicy, noContainer},
        {[&] { Wide(CSetPolicyRequest()); }, u"Serializing set-policy-request", noPolicy, noContainer},
        {[&] { Narrow(CGetPolicyResponse()); }, u"Serializing get-policy-response", noPolicy, noContainer},
        {[&] { Wide(CGetPolicyResponse()); }, u"Serializing get-policy-response", noPolicy, noContainer},
        {[&] { Narrow(setResponse); }, u"Serializing set-policy-response", noPolicy, noContainer},
        {[&] { Wide(setResponse); }, u"Serializing set-policy-response", noPolicy, noContainer},
        {[&] { CSetPolicyRequest().CollectNamespaces(set); }, u"Constructing set-policy-request namespace set",
         noPolicy, noContainer},
        {[&] { setRequest.GetPolicySource(1); }, u"Getting policy source from set-policy-request",
         u"Invalid vector index", ZEL_E_CML_INDEX_OUT_OF_BOUNDS},
        {[&] { std::as_const(setRequest).GetPolicySource(5); }, u"Getting policy source from set-policy-request",
         u"Invalid vector index", ZEL_E_CML_INDEX_OUT_OF_BOUNDS},
        {[&] { setRequest.SetPolicySource(1, CPolicyReference()); }, u"Setting set-policy-request policy source",
         u"Invalid vector index", ZEL_E_CML_INDEX_OUT_OF_BOUNDS},
        {[&] { setRequest.SetPolicySource(1, std::make_unique<CPolicyReference>().release()); },
         u"Setting set-policy-request policy source",
         u"Invalid vector index", ZEL_E_CML_INDEX_OUT_OF_BOUNDS},
        {[&] { setRequest.SetPolicySource(0, static_cast<CPolicySource*>(nullptr)); },
         u"Setting set-policy-request policy source", u"NULL object pointer", ZEL_E_INVALIDARG},
        {[&] { getResponse.GetPolicyItem(1); }, u"Getting set-policy request", u"Invalid vector index",
         ZEL_E_CML_INDEX_OUT_OF_BOUNDS},
        {[&] { setResponse.GetPolicyItem(0); }, u"Getting set-policy response", u"Invalid vector index",
         ZEL_E_CML_INDEX_OUT_OF_BOUNDS},
        {[&] { setRequest.AddPolicy(static_cast<CPolicySource*>(nullptr)); }, u"Adding policy to policy vector",
         u"NULL object pointer", ZEL_E_INVALIDARG},
        {[&] { getResponse.AddPolicyItem(static_cast<CPolicyItem*>(nullptr)); },
         u"Adding policy item to specification vector", u"NULL object pointer", ZEL_E_INVALIDARG},
        {[&] { getRequest.AddPolicyItem(static_cast<CPolicyItem*>(nullptr)); },
         u"Adding policy item to policy vector", u"NULL object pointer", ZEL_E_INVALIDARG},
        {[&] { setResponse.AddPolicyItem(static_cast<CPolicyItem*>(nullptr)); },
         u"Adding policy item to policy vector", u"NULL object pointer", ZEL_E_INVALIDARG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.operation));
        test::ExpectCmlError(c.action, c.operation, c.description, c.code);
    }
    EXPECT_EQ(Narrow(node), "");
    // Nothing was added or replaced by the failing calls.
    EXPECT_EQ(setRequest.GetPolicySourceCount(), 1u);
    EXPECT_EQ(setRequest.GetPolicySource(0).GetSourceType(), kPolicySourceDocument);
    EXPECT_EQ(getResponse.GetPolicyItemCount(), 1u);

    setRequest.SetPolicySource(0, std::make_unique<CPolicyReference>().release());
    EXPECT_EQ(setRequest.GetPolicySource(0).GetSourceType(), kPolicySourceReference);
}

TEST(PolicyMessages, ParsePolicyAcceptsUtf16AndKeepsStateOnFailure) {
    const std::u16string wide = u"<?xml version='1.0' encoding='UTF-16'?><policy xmlns='" + kGroupSettingsURI +
                                u"' name='\u00e9t\u00e9' schema-version='1.0.0'/>";
    CPolicyData data;
    data.ParsePolicy(wide.data(), wide.size());
    ASSERT_NE(data.GetPolicy(), nullptr);
    EXPECT_EQ(data.GetPolicy()->GetName(), u"\u00e9t\u00e9");

    const std::string broken = "<policy><unclosed></policy>";
    EXPECT_THROW(data.ParsePolicy(broken.data(), broken.size()), CCmlException);
    ASSERT_NE(data.GetPolicy(), nullptr);
    EXPECT_EQ(data.GetPolicy()->GetName(), u"\u00e9t\u00e9");

    CSetPolicyRequest request;
    EXPECT_THROW(request.ParsePolicy(broken.data(), broken.size()), CCmlException);
    EXPECT_EQ(request.GetPolicySourceCount(), 0u);
    request.ParsePolicy(wide.data(), wide.size());
    EXPECT_EQ(request.GetPolicySourceCount(), 1u);
}

// ---- copies and document lifetime ----

TEST(PolicyCopies, MessagesCopyDeeplyAndDieInAnyOrder) {
    const std::string getRequestText = Narrow(BuildGetPolicyRequest());
    const std::string setRequestText = Narrow(BuildSetPolicyRequest());
    const std::string getResponseText = Narrow(BuildGetPolicyResponse());

    auto original = std::make_unique<CGetPolicyResponse>(BuildGetPolicyResponse());
    auto copy = std::make_unique<CGetPolicyResponse>(*original);
    CGetPolicyResponse assigned;
    assigned.AddPolicyItem(CPolicyItem());
    assigned = *original;
    std::unique_ptr<CCmlResponse> clone = static_cast<const CCmlResponse&>(*original).Clone();
    const auto* firstOriginal = dynamic_cast<const CPolicyData*>(&original->GetPolicyItem(0));
    const auto* firstCopy = dynamic_cast<const CPolicyData*>(&copy->GetPolicyItem(0));
    ASSERT_NE(firstCopy, nullptr);
    EXPECT_NE(firstCopy, firstOriginal);
    EXPECT_NE(firstCopy->GetPolicy(), firstOriginal->GetPolicy());
    original->GetPolicyItem(1).SetText(u"changed");
    original.reset();
    EXPECT_EQ(Narrow(*copy), getResponseText);
    EXPECT_EQ(Narrow(assigned), getResponseText);
    copy.reset();
    EXPECT_EQ(Narrow(*clone), getResponseText);
    ASSERT_NE(dynamic_cast<CGetPolicyResponse*>(clone.get()), nullptr);

    CSetPolicyRequest setRequest = BuildSetPolicyRequest();
    std::unique_ptr<CCmlRequest> setClone = static_cast<const CCmlRequest&>(setRequest).Clone();
    setRequest.SetPolicySource(0, CPolicyReference());
    EXPECT_EQ(Narrow(*setClone), setRequestText);
    CSetPolicyRequest objectRequest = BuildSetPolicyRequest(true);
    const std::unique_ptr<CSetPolicyRequest> objectClone = objectRequest.Clone();
    objectRequest.GetPolicySources().clear();
    EXPECT_EQ(Narrow(*objectClone), kGoldenSetPolicyRequestObject);

    CGetPolicyRequest getRequest = BuildGetPolicyRequest();
    CGetPolicyRequest getCopy;
    getCopy = getRequest;
    getRequest.GetPolicyItems().clear();
    EXPECT_EQ(Narrow(getCopy), getRequestText);
    getCopy = getCopy;  // self-assignment keeps the items
    EXPECT_EQ(Narrow(getCopy), getRequestText);

    CPolicyData data;
    data.SetPolicy(GroupSettings());
    CPolicyData other;
    other = data;
    other = static_cast<const CPolicyItem&>(CPolicyItem(u"renamed"));
    EXPECT_EQ(other.GetTagName(), u"renamed");
    EXPECT_NE(other.GetPolicy(), nullptr) << "assigning the item part keeps the content";
    data.SetPolicy(data.GetPolicy());  // handing back the held source keeps it
    EXPECT_NE(data.GetPolicy(), nullptr);
    std::unique_ptr<CPolicyItem> itemClone = static_cast<const CPolicyItem&>(data).Clone();
    EXPECT_NE(dynamic_cast<CPolicyData*>(itemClone.get()), nullptr);
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
    const std::string document = kGroupSettingsDocument;
    data.ParsePolicy(document.data(), document.size());
    CPolicyData copy = data;
    data.SetPolicy(static_cast<CPolicySource*>(nullptr));
    EXPECT_EQ(copy.GetPolicy()->GetName(), u"Default Group");

    // A parser that moves on to the next document leaves the nodes of the previous one alone.
    CCmlParser parser;
    const auto parse = [&](const std::string& text) {
        parser.ParseBuffer(reinterpret_cast<const XMLByte*>(text.data()), static_cast<unsigned>(text.size()),
                           kParseNonValidating);
    };
    parse(kGoldenGetPolicyResponse);
    CGetPolicyResponse response;
    response.Deserialize(parser.GetDocumentElement());
    parse("<other/>");
    parse(kGoldenSetPolicyRequest);
    EXPECT_EQ(Narrow(response), kGoldenGetPolicyResponse);

    // Re-reading a node from the same document keeps it alive throughout.
    auto& node = dynamic_cast<CPolicyNode&>(*dynamic_cast<CPolicyData&>(response.GetPolicyItem(0)).GetPolicy());
    const CCmlDOM_Element same = node.GetElement();
    node.Deserialize(same);
    EXPECT_EQ(node.GetName(), u"Default Group");
}

TEST(PolicyLifetime, DocumentRefFindsItsOwnerFromAnyNode) {
    EXPECT_FALSE(CDomDocumentRef::Of(nullptr));
    EXPECT_FALSE(CDomDocumentRef::Adopt(nullptr));
    CCmlParser parser;
    const std::string text = kGoldenSetPolicyRequest;
    parser.ParseBuffer(reinterpret_cast<const XMLByte*>(text.data()), static_cast<unsigned>(text.size()),
                       kParseNonValidating);
    const CCmlDOM_Element root = parser.GetDocumentElement();
    const CDomDocumentRef fromRoot = CDomDocumentRef::Of(root.GetNode());
    const CDomDocumentRef fromText = CDomDocumentRef::Of(root.GetFirstChild().GetNode());
    const CDomDocumentRef fromDocument = CDomDocumentRef::Of(parser.GetDocument().GetNode());
    ASSERT_TRUE(fromRoot);
    EXPECT_EQ(fromRoot.Get(), parser.GetDocument().GetDocument());
    EXPECT_EQ(fromText.Get(), fromRoot.Get());
    EXPECT_EQ(fromDocument.Get(), fromRoot.Get());
    EXPECT_EQ(fromRoot.UseCount(), 4);
    // Adopting an owned document again shares the owner rather than making a second one.
    const CDomDocumentRef again = CDomDocumentRef::Adopt(parser.GetDocument().GetDocument());
    EXPECT_EQ(again.UseCount(), 5);
}

}  // namespace
}  // namespace zel::cml
