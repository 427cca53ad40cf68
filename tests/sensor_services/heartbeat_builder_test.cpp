// Heartbeat construction through the exports: the argument rules every export shares, the
// caller's XML texts and the responses a heartbeat collects, where the golden heartbeat does
// not show them. The library runs in synchronous mode against a controller address nobody
// listens on, and nothing is ever sent.
#include "sensor_services/heartbeat_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "heartbeat_test_support.h"
#include "sensor_services/internal.h"
#include "services_fixture.h"
#include "zel/sensor_services.h"

namespace zel::ss::test {
namespace {

constexpr const char* kNullText = "A required input parameter is NULL.";
constexpr const char* kTooLargeText = "An input parameter is too large.";
constexpr const char* kNoAnnouncementText = "Heartbeat message is missing its startup announcement";
constexpr const char* kPolicyNs = "http://schemas.zel.example/cml/PolicyBase";
constexpr const char* kParamsXml =
    "<params xmlns='http://schemas.zel.example/cml/common'><param name='a' value='1'/>"
    "<param name='b' value='2' ordinal='4'/></params>";
constexpr const char* kSetPolicyXml =
    "<set-policy-request xmlns='http://schemas.zel.example/cml'>"
    "<policy name='p' schema-version='1.0.0' xmlns='http://schemas.zel.example/cml/PolicyBase'/>"
    "</set-policy-request>";
constexpr const char* kSchemaXml =
    "<schema targetNamespace='http://schemas.zel.example/cml/SchemaA' version='1.0'"
    " xmlns='http://www.w3.org/2001/XMLSchema'><element name='on' type='boolean'/></schema>";

uint32_t Length(const char* text) { return static_cast<uint32_t>(std::strlen(text)); }

// The arguments of one call: valid ones, except the required argument numbered `null` (so a
// case can null any one), the length-checked text, which is `longText` when not null, and
// the caller's XML, which is `xml` when not null.
struct Args {
    int null = -1;
    const char* longText = nullptr;
    const std::string* xml = nullptr;
    const char* Xml(const char* value) const { return xml ? xml->data() : value; }
    uint32_t XmlLength(const char* value) const { return xml ? static_cast<uint32_t>(xml->size()) : Length(value); }
    template <typename T>
    T* Or(int position, T* value) const { return position == null ? nullptr : value; }
    uint32_t Or(int position, uint32_t value) const { return position == null ? 0 : value; }
    const char* Long(const char* value) const { return longText ? longText : value; }
};

// One export with its trace location and the number of its required arguments.
struct ExportCase {
    const char* where;
    int requiredCount;
    bool lengthChecked;
    // The name the parser's messages give the caller's XML; null when it reads none.
    const char* documentName;
    std::function<uint32_t(SS_Heartbeat, SS_Module, const Args&)> call;
    // Where it reports a missing announcement ("": `where`); null when it does not look.
    const char* announcementWhere = "";
};

std::vector<ExportCase> ExportCases() {
    static const char* const id = "0a1b";
    using H = SS_Heartbeat;
    using M = SS_Module;
    using A = const Args&;
    return {
        {"CSensorServices::SetBasicAgentInfo()", 1, true, nullptr,
         [](H h, M, A a) {
             return SetBasicAgentInfo(a.Or(0, h), "1", "p", 0, "d", 0, "a", "b", a.Long("m"), "g", 1, 1);
         }},
        {"CSensorServices::SetAgentInfo()", 1, true, nullptr,
         [](H h, M, A a) { return SetAgentInfo(a.Or(0, h), a.Long("1"), "12", nullptr, "a", "b"); }},
        {"CSensorServices::SetHostInfo()", 1, true, nullptr,
         [](H h, M, A a) {
             return SetHostInfo(a.Or(0, h), "host", "10.1.1.1", "os", nullptr, "nb", "dom", "o", a.Long("g"));
         }},
        {"CSensorServices::AddSchemaInfo()", 3, true, nullptr,
         [](H h, M, A a) {
             return AddSchemaInfo(a.Or(0, h), "n", a.Or(1, a.Long("urn:x")), a.Or(2, "1.0"), 1, 0, 0, 1);
         }},
        {"CSensorServices::AddModuleInfo()", 3, true, nullptr,
         [](H h, M, A a) {
             return AddModuleInfo(a.Or(0, h), a.Or(1, "mod"), a.Or(2, "1.0"), 0, a.Long("desc"), nullptr);
         }},
        {"CSensorServices::AddModuleInfoParams()", 3, false, "ZEL-SensorServices-AddModuleInfoParams",
         [](H, M m, A a) {
             return AddModuleInfoParams(a.Or(0, m), a.Or(1, a.Xml(kParamsXml)), a.Or(2, a.XmlLength(kParamsXml)));
         },
         nullptr},
        {"CSensorServices::AddAgentParams()", 3, false, "ZEL-SensorServices-AddAgentParams",
         [](H h, M, A a) {
             return AddAgentParams(a.Or(0, h), a.Or(1, a.Xml(kParamsXml)), a.Or(2, a.XmlLength(kParamsXml)));
         },
         "CSensorServices::AddAgentParam()"},
        {"CSensorServices::AddGetPolicyRequest()", 2, true, nullptr,
         [](H h, M, A a) {
             return AddGetPolicyRequest(a.Or(0, h), a.Long("3"), "n", a.Or(1, kPolicyNs), "1.0.0", nullptr, nullptr);
         }},
        {"CSensorServices::AddAgentPolicyInfo()", 2, false, nullptr,
         [](H h, M, A a) {
             return AddAgentPolicyInfo(a.Or(0, h), "3", "n", a.Or(1, kPolicyNs), "1.0.0", nullptr, nullptr);
         }},
        {"CSensorServices::AddSetPolicyRequest()", 3, false, "ZEL-SensorServices-SetPolicyRequest",
         [](H h, M, A a) {
             return AddSetPolicyRequest(a.Or(0, h), a.Or(1, a.Xml(kSetPolicyXml)), a.Or(2, a.XmlLength(kSetPolicyXml)),
                                        nullptr, nullptr);
         }},
        {"CSensorServices::AddOptAgentProperties()", 3, false, "ZEL-SensorServices-SetPolicyRequest",
         [](H h, M, A a) {
             return AddOptAgentProperties(a.Or(0, h), a.Or(1, a.Xml(kSetPolicyXml)),
                                          a.Or(2, a.XmlLength(kSetPolicyXml)), nullptr, nullptr);
         }},
        {"CSensorServices::AddGetSchemaRequest()", 2, true, nullptr,
         [](H h, M, A a) {
             return AddGetSchemaRequest(a.Or(0, h), "n", a.Or(1, "urn:s"), a.Long("1"), nullptr, nullptr);
         }},
        {"CSensorServices::AddSetSchemaRequest()", 5, true, "ZEL-SensorServices-SetSchemaRequest",
         [](H h, M, A a) {
             return AddSetSchemaRequest(a.Or(0, h), a.Long("n"), a.Or(1, "urn:s"), a.Or(2, "1.0"), 0,
                                        a.Or(3, a.Xml(kSchemaXml)), a.Or(4, a.XmlLength(kSchemaXml)), nullptr, nullptr);
         }},
        {"CSensorServices::AddSetPolicyResponse()", 4, true, nullptr,
         [](H h, M, A a) {
             return AddSetPolicyResponse(a.Or(0, h), "n", "1", a.Or(1, kPolicyNs), 0xC7380009u, a.Long("bad"), "1.0.0",
                                         a.Or(2, id), a.Or(3, 4u));
         }},
        {"CSensorServices::AddGetSchemaResponse()", 4, true, "ZEL-SensorServices-GetSchemaRequest",
         [](H h, M, A a) {
             return AddGetSchemaResponse(a.Or(0, h), "n", a.Or(1, "urn:s"), "1.0", 0, a.Long(nullptr),
                                         a.Xml(kSchemaXml), a.XmlLength(kSchemaXml), 0, a.Or(2, id), a.Or(3, 4u));
         }},
        {"CSensorServices::AddSetSchemaResponse()", 4, true, nullptr,
         [](H h, M, A a) {
             return AddSetSchemaResponse(a.Or(0, h), "n", a.Or(1, "urn:s"), a.Long("1.0"), 5, "t", a.Or(2, id),
                                         a.Or(3, 4u));
         }},
    };
}

class HeartbeatBuilderTest : public HeartbeatLibraryTest {};

TEST_F(HeartbeatBuilderTest, EachNullRequiredArgumentIsRefusedAndAttachesNothing) {
    for (const ExportCase& c : ExportCases()) {
        for (int which = 0; which < c.requiredCount; ++which) {
            SCOPED_TRACE(std::string(c.where) + " argument " + std::to_string(which));
            const Heartbeat heartbeat = NewHeartbeat();
            SS_Module module = nullptr;
            ASSERT_EQ(0u, AddModuleInfo(heartbeat.get(), "m", "1", 0, nullptr, &module));
            const std::string before = Document(heartbeat.get());
            const int traced = m_trace.Count(SS_TRACE_ERROR, kNullText, c.where);

            EXPECT_EQ(0xC7210003u, c.call(heartbeat.get(), module, Args{which}));
            EXPECT_EQ(traced + 1, m_trace.Count(SS_TRACE_ERROR, kNullText, c.where));
            EXPECT_EQ(before, Document(heartbeat.get()));
        }
        // The same arguments without a null one are accepted, so each refusal above was
        // the null argument's.
        SCOPED_TRACE(c.where);
        const Heartbeat heartbeat = NewHeartbeat();
        SS_Module module = nullptr;
        ASSERT_EQ(0u, AddModuleInfo(heartbeat.get(), "m", "1", 0, nullptr, &module));
        EXPECT_EQ(0u, c.call(heartbeat.get(), module, Args{}));
    }
}

TEST_F(HeartbeatBuilderTest, AHandleWithoutAnnouncementIsRefusedByEveryExportThatLooksForIt) {
    for (const ExportCase& c : ExportCases()) {
        if (!c.announcementWhere) continue;
        const char* const where = *c.announcementWhere ? c.announcementWhere : c.where;
        SCOPED_TRACE(where);
        cml::CCmlMessage message;
        message.SetMessageId(u"m-1");
        message.AddRequest(std::make_unique<cml::CGetPolicyRequest>());
        const int traced = m_trace.Count(SS_TRACE_ERROR, kNoAnnouncementText, where);

        EXPECT_EQ(0xC7210005u, c.call(HandleOf(&message), nullptr, Args{}));
        EXPECT_EQ(traced + 1, m_trace.Count(SS_TRACE_ERROR, kNoAnnouncementText, where));
        EXPECT_EQ(1u, message.GetRequests().size());
        EXPECT_TRUE(message.GetResponses().empty());
    }
}

TEST_F(HeartbeatBuilderTest, ATextMustEndWithinItsFirstMegabyte) {
    const std::string tooLarge(0x100000, 'a');
    const std::string largest(0xFFFFF, 'a');
    const auto expectTooLarge = [&](const char* where, const std::function<uint32_t(const char*)>& call) {
        SCOPED_TRACE(where);
        const int traced = m_trace.Count(SS_TRACE_ERROR, kTooLargeText, where);
        EXPECT_EQ(0xC7210003u, call(tooLarge.c_str()));
        EXPECT_EQ(traced + 1, m_trace.Count(SS_TRACE_ERROR, kTooLargeText, where));
        EXPECT_EQ(0u, call(largest.c_str()));
    };
    expectTooLarge("CSensorServices::CreateHeartbeat()", [](const char* text) {
        SS_Heartbeat created = nullptr;
        const uint32_t status = CreateHeartbeat(&created, "id", text, "urn:a", "1", "10.0.0.1");
        FreeHeartbeat(created);
        return status;
    });
    for (const ExportCase& c : ExportCases()) {
        if (!c.lengthChecked) continue;
        const Heartbeat heartbeat = NewHeartbeat();
        expectTooLarge(c.where, [&](const char* text) { return c.call(heartbeat.get(), nullptr, Args{-1, text}); });
    }
}

uint32_t AnySchemaCallback(const char*, uint32_t, uint32_t, const char*, const char*, const char*, const char*,
                           uint32_t, const char*, const char*, uint32_t, uint32_t) {
    return 0;
}

// (Null texts keeping their fields and the flags without a set-schema callback: the golden
// heartbeat.)
TEST_F(HeartbeatBuilderTest, AFailedLengthCheckKeepsTheAgentFieldsSetBeforeIt) {
    ASSERT_EQ(0u, RegisterSetSchemaRequest(&AnySchemaCallback));
    const Heartbeat heartbeat = NewHeartbeat();
    const std::string tooLarge(0x100000, 'p');
    EXPECT_EQ(0xC7210003u,
              SetBasicAgentInfo(heartbeat.get(), "7.0", tooLarge.c_str(), 12, "desc", 13, "a", "d", "m", "g", 1, 1));
    const cml::CAgentInfoContent& content = Content(heartbeat.get());
    EXPECT_EQ(u"true", content.GetRegisterAgent());
    EXPECT_EQ(u"7.0", content.GetQpkVersion());
    EXPECT_EQ(u"", content.GetLastQpkPath());
    EXPECT_EQ(0x47380022u, content.GetQpkStatus());
    EXPECT_EQ(0x47380022u, content.GetAgentStatus());
    EXPECT_FALSE(content.GetUseLocalSettings());
    EXPECT_TRUE(content.GetSendNewSchemas());
}

TEST_F(HeartbeatBuilderTest, SetAgentInfoReadsTheStatusAsDecimalAndRegistersTheAgent) {
    const Heartbeat heartbeat = NewHeartbeat();
    ASSERT_EQ(
        0u, SetBasicAgentInfo(heartbeat.get(), "1.0", "/last", 1, "desc", 2, nullptr, nullptr, "model", nullptr, 1, 0));
    ASSERT_EQ(0u, SetAgentInfo(heartbeat.get(), "2.0", "3340828675", "not read", nullptr, "/daemon"));
    const cml::CAgentInfoContent& content = Content(heartbeat.get());
    EXPECT_EQ(0xC7210003u, content.GetAgentStatus());
    EXPECT_EQ(0u, content.GetQpkStatus());
    EXPECT_EQ(u"2.0", content.GetQpkVersion());
    EXPECT_EQ(u"/last", content.GetLastQpkPath());
    EXPECT_EQ(u"/daemon", content.GetDaemonInstallPath());
    EXPECT_EQ(u"true", content.GetRegisterAgent());
    EXPECT_FALSE(content.GetUseLocalSettings());

    ASSERT_EQ(0u, SetAgentInfo(heartbeat.get(), nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0u, Content(heartbeat.get()).GetAgentStatus());
}

TEST_F(HeartbeatBuilderTest, XmlThatCannotBeParsedLeavesTheHeartbeatAsItWas) {
    const std::vector<std::string> refused = {
        "<params xmlns='http://schemas.zel.example/cml/common'><param name='a'></params>",
        "<!DOCTYPE params [<!ENTITY e 'x'>]><params>&e;</params>",
    };
    for (const ExportCase& c : ExportCases()) {
        if (!c.documentName) continue;
        for (const std::string& xml : refused) {
            SCOPED_TRACE(std::string(c.where) + ": " + xml);
            const Heartbeat heartbeat = NewHeartbeat();
            SS_Module module = nullptr;
            ASSERT_EQ(0u, AddModuleInfo(heartbeat.get(), "m", "1", 0, nullptr, &module));
            // Something of each kind already there, which must stay exactly as it is.
            ASSERT_EQ(0u, AddModuleInfoParams(module, kParamsXml, Length(kParamsXml)));
            ASSERT_EQ(0u, AddAgentParams(heartbeat.get(), kParamsXml, Length(kParamsXml)));
            ASSERT_EQ(0u, c.call(heartbeat.get(), module, Args{}));
            const std::string before = Document(heartbeat.get());
            const std::size_t lines = m_trace.Lines(c.where).size();

            EXPECT_EQ(0xC7560012u, c.call(heartbeat.get(), module, Args{-1, nullptr, &xml}));
            EXPECT_EQ(before, Document(heartbeat.get()));
            const std::vector<TraceLine> traced = m_trace.Lines(c.where);
            ASSERT_EQ(lines + 1, traced.size());
            const TraceLine& line = traced.back();
            EXPECT_EQ(SS_TRACE_ERROR, line.level);
            EXPECT_EQ(0u, line.message.find("parse failed with CML error. Exception: ")) << line.message;
            EXPECT_NE(std::string::npos, line.message.find(" CML code: 0xc738000")) << line.message;
            EXPECT_NE(std::string::npos, line.message.find(" ERR code: 0xc738000")) << line.message;
            EXPECT_NE(std::string::npos, line.message.find(c.documentName)) << line.message;
        }
    }
}

// A set-policy request that could never be written is refused when it is added, so that it
// cannot make the whole heartbeat fail when it is posted.
TEST_F(HeartbeatBuilderTest, ASetPolicyRequestThatCouldNotBeWrittenIsRefused) {
    const auto withPolicies = [&](std::vector<std::pair<std::string, std::string>> policies) {
        std::string xml = "<set-policy-request xmlns='http://schemas.zel.example/cml'>";
        for (const auto& [uri, version] : policies)
            xml += "<policy xmlns='" + uri + "' name='p' schema-version='" + version + "'/>";
        return xml + "</set-policy-request>";
    };
    const struct {
        std::string xml;
        const char* failure;
    } cases[] = {
        {withPolicies({}), "Reading set-policy-request:  No policy specified; error = 0xc7380009"},
        {withPolicies({{"urn:outside", "1.0.0"}}), "Building schema filename:  Invalid namespace URI"},
        {withPolicies({{"http://schemas.zel.example/cml/P", "1.0.0"}, {"http://schemas.zel.example/cml/P", "2.0.0"}}),
         "error = 0xc738000e"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xml);
        Heartbeat heartbeat = NewHeartbeat();
        const std::size_t lines = m_trace.Lines("CSensorServices::AddSetPolicyRequest()").size();
        EXPECT_EQ(0xC7560012u, AddSetPolicyRequest(heartbeat.get(), c.xml.data(), static_cast<uint32_t>(c.xml.size()),
                                                   nullptr, nullptr));
        const std::vector<TraceLine> traced = m_trace.Lines("CSensorServices::AddSetPolicyRequest()");
        ASSERT_EQ(lines + 1, traced.size());
        EXPECT_NE(std::string::npos, traced.back().message.find(c.failure)) << traced.back().message;
        // The heartbeat can still be written and queued (the post itself finds no controller).
        const uint32_t posted = PostHeartbeat(heartbeat.release(), nullptr, nullptr);
        EXPECT_NE(0xC7210005u, posted);
        bool pending = false;
        ASSERT_EQ(0u, GetHeartbeatPending(pending));
        EXPECT_EQ(posted != 0, pending);
    }
}

// (Parameters in document order, other elements skipped, the given length: the golden
// heartbeat.)
TEST_F(HeartbeatBuilderTest, ASetPolicyRequestKeepsTheIdentifierItsTextNames) {
    const Heartbeat heartbeat = NewHeartbeat();
    char policyId[36];
    uint32_t policyIdLength = sizeof policyId;
    const std::string policyXml =
        "<set-policy-request xmlns='http://schemas.zel.example/cml' request-id='agent-chosen'>"
        "<policy schema-version='1.0.0' xmlns='http://schemas.zel.example/cml/PolicyBase'/>"
        "<policy schema-version='1.0.0' xmlns='http://schemas.zel.example/cml/PolicyBase' name='2'/>"
        "</set-policy-request>";
    ASSERT_EQ(0u, AddSetPolicyRequest(heartbeat.get(), policyXml.data(), static_cast<uint32_t>(policyXml.size()),
                                      policyId, &policyIdLength));
    const auto policies = RequestsTagged(heartbeat.get(), u"set-policy-request");
    ASSERT_EQ(1u, policies.size());
    const auto& policyRequest = dynamic_cast<const cml::CSetPolicyRequest&>(*policies[0]);
    EXPECT_EQ(2u, policyRequest.GetPolicySourceCount());
    EXPECT_EQ(u"agent-chosen", policyRequest.GetRequestId());
    EXPECT_EQ("agent-chosen", std::string(policyId, policyIdLength));
}

// (One failed item and its fields: the golden heartbeat.)
TEST_F(HeartbeatBuilderTest, SetPolicyResponsesShareOneResponseMarkedFailedOnce) {
    const Heartbeat heartbeat = NewHeartbeat();
    // The request identifier is cut at the given length.
    ASSERT_EQ(0u, AddSetPolicyResponse(heartbeat.get(), "a", "1", kPolicyNs, 0, "fine", nullptr, "req-1xx", 5));
    auto responses = ResponsesTagged(heartbeat.get(), u"set-policy-response");
    ASSERT_EQ(1u, responses.size());
    auto& response = dynamic_cast<cml::CSetPolicyResponse&>(*responses[0]);
    EXPECT_EQ(u"req-1", response.GetRequestId());
    EXPECT_EQ(0u, response.GetCode());
    EXPECT_EQ(0u, response.GetPolicyItemCount());

    ASSERT_EQ(0u,
              AddSetPolicyResponse(heartbeat.get(), "b", "2", kPolicyNs, 0xC7380009u, "broken", "1.0.0", "req-2", 5));
    EXPECT_EQ(0xC7380017u, response.GetCode());
    ASSERT_EQ(1u, response.GetPolicyItemCount());
    // A code already set stays: the response is marked failed only while it has none.
    response.SetCode(0xC7380001u);
    ASSERT_EQ(0u, AddSetPolicyResponse(heartbeat.get(), "c", nullptr, kPolicyNs, 7, nullptr, nullptr, "req-3", 5));
    EXPECT_EQ(0xC7380001u, response.GetCode());
    EXPECT_EQ(2u, response.GetPolicyItemCount());
    EXPECT_EQ(1u, ResponsesTagged(heartbeat.get(), u"set-policy-response").size());
}

TEST_F(HeartbeatBuilderTest, ASetPolicyResponseWithoutItemCannotBePosted) {
    Heartbeat heartbeat = NewHeartbeat();
    ASSERT_EQ(0u, AddSetPolicyResponse(heartbeat.get(), nullptr, nullptr, kPolicyNs, 0, nullptr, nullptr, "r", 1));
    EXPECT_EQ(0xC7210005u, PostHeartbeat(heartbeat.release(), nullptr, nullptr));
    bool pending = true;
    ASSERT_EQ(0u, GetHeartbeatPending(pending));
    EXPECT_FALSE(pending);
}

TEST_F(HeartbeatBuilderTest, SetSchemaResponsesShareOneResponseAndKeepEveryResult) {
    const Heartbeat heartbeat = NewHeartbeat();
    ASSERT_EQ(0u, AddSetSchemaResponse(heartbeat.get(), "a", "urn:a", "1", 0, nullptr, "req-1", 5));
    auto responses = ResponsesTagged(heartbeat.get(), u"set-schema-response");
    ASSERT_EQ(1u, responses.size());
    auto& response = dynamic_cast<cml::CSchemaResponse&>(*responses[0]);
    EXPECT_EQ(0u, response.GetCode());
    ASSERT_EQ(1u, response.GetSchemaCount());

    ASSERT_EQ(0u, AddSetSchemaResponse(heartbeat.get(), "b", "urn:b", "2", 0xC738000Du, "bad", "req-2", 5));
    EXPECT_EQ(0xC7380019u, response.GetCode());
    response.SetCode(0xC7380001u);
    ASSERT_EQ(0u, AddSetSchemaResponse(heartbeat.get(), nullptr, "urn:c", nullptr, 9, nullptr, "req-3", 5));
    EXPECT_EQ(0xC7380001u, response.GetCode());
    ASSERT_EQ(3u, response.GetSchemaCount());
    EXPECT_EQ(0xC738000Du, response.GetSchemaInfo(1).GetCode());
    EXPECT_EQ(u"req-1", response.GetRequestId());
    EXPECT_EQ(1u, ResponsesTagged(heartbeat.get(), u"set-schema-response").size());
}

// (Two results for one request, with and without a schema: the golden heartbeat.)
TEST_F(HeartbeatBuilderTest, GetSchemaResponsesAreSharedPerAnsweredRequest) {
    const Heartbeat heartbeat = NewHeartbeat();
    ASSERT_EQ(0u, AddGetSchemaResponse(heartbeat.get(), "a", "urn:a", "1", 0, nullptr, kSchemaXml, Length(kSchemaXml),
                                       1, "req-1", 5));
    ASSERT_EQ(0u, AddGetSchemaResponse(heartbeat.get(), "c", "urn:c", "1", 0, nullptr, nullptr, 0, 0, "req-2", 5));
    const auto responses = ResponsesTagged(heartbeat.get(), u"get-schema-response");
    ASSERT_EQ(2u, responses.size());
    const auto& first = dynamic_cast<const cml::CGetSchemaResponse&>(*responses[0]);
    ASSERT_EQ(1u, first.GetSchemaCount());
    EXPECT_TRUE(first.GetSchemaData(0).GetOverwrite());
    EXPECT_EQ(u"req-2", responses[1]->GetRequestId());
}

TEST_F(HeartbeatBuilderTest, AModuleHandleReachesTheStoredModule) {
    const Heartbeat heartbeat = NewHeartbeat();
    SS_Module module = reinterpret_cast<SS_Module>(&module);
    EXPECT_EQ(0xC7210003u, AddModuleInfo(heartbeat.get(), nullptr, "1", 0, nullptr, &module));
    EXPECT_EQ(0xC7210003u, AddModuleInfo(heartbeat.get(), "m", "1", 0, std::string(0x100000, 'x').c_str(), &module));
    EXPECT_EQ(nullptr, module);
    ASSERT_EQ(0u, AddModuleInfo(heartbeat.get(), "m", "1", 0x47380022u, "not sent", &module));
    // Modules added later must not move the first one away from its handle.
    for (int i = 0; i < 40; ++i) ASSERT_EQ(0u, AddModuleInfo(heartbeat.get(), "later", "2", 0, nullptr, nullptr));
    // Parameters added twice are appended.
    ASSERT_EQ(0u, AddModuleInfoParams(module, kParamsXml, Length(kParamsXml)));
    ASSERT_EQ(0u, AddModuleInfoParams(module, kParamsXml, Length(kParamsXml)));
    const cml::CAgentInfoContent& content = Content(heartbeat.get());
    ASSERT_EQ(41u, content.GetModuleCount());
    EXPECT_EQ(0u, content.GetModules()[1].GetParamCount());
    EXPECT_EQ(4u, content.GetModules()[0].GetParamCount());
    EXPECT_EQ(0x47380022u, content.GetModules()[0].GetStatus());
    EXPECT_EQ(u"http://schemas.zel.example/cml", content.GetModules()[0].GetNamespaceURI());
}

}  // namespace
}  // namespace zel::ss::test
