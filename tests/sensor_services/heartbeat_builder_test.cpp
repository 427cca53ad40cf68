// Heartbeat construction through the exports: the argument rules every export shares, the
// identifier buffer, the caller's XML texts and the responses a heartbeat collects. The
// library runs in synchronous mode against a controller address nobody listens on, and
// nothing is ever sent.
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

// `value`, or null when `which` names argument `position` (so a case can null any one).
template <typename T>
T* Or(int which, int position, T* value) {
    return which == position ? nullptr : value;
}
uint32_t Or(int which, int position, uint32_t value) { return which == position ? 0 : value; }

// One export, called with valid arguments except the required one numbered `which`
// (-1: none).
struct ExportCase {
    const char* name;
    const char* where;
    // Where it reports a missing announcement; null when it does not look for one.
    const char* announcementWhere;
    int requiredCount;
    std::function<uint32_t(SS_Heartbeat, SS_Module, int which)> call;
};

std::vector<ExportCase> ExportCases() {
    static const char* const id = "0a1b";
    return {
        {"SetBasicAgentInfo", "CSensorServices::SetBasicAgentInfo()", "CSensorServices::SetBasicAgentInfo()", 1,
         [](SS_Heartbeat h, SS_Module, int w) {
             return SetBasicAgentInfo(Or(w, 0, h), "1", "p", 0, "d", 0, "a", "b", "m", "g", 1, 1);
         }},
        {"SetAgentInfo", "CSensorServices::SetAgentInfo()", "CSensorServices::SetAgentInfo()", 1,
         [](SS_Heartbeat h, SS_Module, int w) { return SetAgentInfo(Or(w, 0, h), "1", "12", nullptr, "a", "b"); }},
        {"SetHostInfo", "CSensorServices::SetHostInfo()", "CSensorServices::SetHostInfo()", 1,
         [](SS_Heartbeat h, SS_Module, int w) {
             return SetHostInfo(Or(w, 0, h), "host", "10.1.1.1", "os", nullptr, "nb", "dom", "o", "g");
         }},
        {"AddSchemaInfo", "CSensorServices::AddSchemaInfo()", "CSensorServices::AddSchemaInfo()", 3,
         [](SS_Heartbeat h, SS_Module, int w) {
             return AddSchemaInfo(Or(w, 0, h), "n", Or(w, 1, "urn:x"), Or(w, 2, "1.0"), 1, 0, 0, 1);
         }},
        {"AddModuleInfo", "CSensorServices::AddModuleInfo()", "CSensorServices::AddModuleInfo()", 3,
         [](SS_Heartbeat h, SS_Module, int w) {
             return AddModuleInfo(Or(w, 0, h), Or(w, 1, "mod"), Or(w, 2, "1.0"), 0, "desc", nullptr);
         }},
        {"AddModuleInfoParams", "CSensorServices::AddModuleInfoParams()", nullptr, 3,
         [](SS_Heartbeat, SS_Module m, int w) {
             return AddModuleInfoParams(Or(w, 0, m), Or(w, 1, kParamsXml), Or(w, 2, Length(kParamsXml)));
         }},
        {"AddAgentParams", "CSensorServices::AddAgentParams()", "CSensorServices::AddAgentParam()", 3,
         [](SS_Heartbeat h, SS_Module, int w) {
             return AddAgentParams(Or(w, 0, h), Or(w, 1, kParamsXml), Or(w, 2, Length(kParamsXml)));
         }},
        {"AddGetPolicyRequest", "CSensorServices::AddGetPolicyRequest()", "CSensorServices::AddGetPolicyRequest()", 2,
         [](SS_Heartbeat h, SS_Module, int w) {
             return AddGetPolicyRequest(Or(w, 0, h), "3", "n", Or(w, 1, kPolicyNs), "1.0.0", nullptr, nullptr);
         }},
        {"AddAgentPolicyInfo", "CSensorServices::AddAgentPolicyInfo()", "CSensorServices::AddAgentPolicyInfo()", 2,
         [](SS_Heartbeat h, SS_Module, int w) {
             return AddAgentPolicyInfo(Or(w, 0, h), "3", "n", Or(w, 1, kPolicyNs), "1.0.0", nullptr, nullptr);
         }},
        {"AddSetPolicyRequest", "CSensorServices::AddSetPolicyRequest()", "CSensorServices::AddSetPolicyRequest()", 3,
         [](SS_Heartbeat h, SS_Module, int w) {
             return AddSetPolicyRequest(Or(w, 0, h), Or(w, 1, kSetPolicyXml), Or(w, 2, Length(kSetPolicyXml)), nullptr,
                                        nullptr);
         }},
        {"AddOptAgentProperties", "CSensorServices::AddOptAgentProperties()",
         "CSensorServices::AddOptAgentProperties()", 3,
         [](SS_Heartbeat h, SS_Module, int w) {
             return AddOptAgentProperties(Or(w, 0, h), Or(w, 1, kSetPolicyXml), Or(w, 2, Length(kSetPolicyXml)),
                                          nullptr, nullptr);
         }},
        {"AddGetSchemaRequest", "CSensorServices::AddGetSchemaRequest()", "CSensorServices::AddGetSchemaRequest()", 2,
         [](SS_Heartbeat h, SS_Module, int w) {
             return AddGetSchemaRequest(Or(w, 0, h), "n", Or(w, 1, "urn:s"), "1", nullptr, nullptr);
         }},
        {"AddSetSchemaRequest", "CSensorServices::AddSetSchemaRequest()", "CSensorServices::AddSetSchemaRequest()", 5,
         [](SS_Heartbeat h, SS_Module, int w) {
             return AddSetSchemaRequest(Or(w, 0, h), "n", Or(w, 1, "urn:s"), Or(w, 2, "1.0"), 0, Or(w, 3, kSchemaXml),
                                        Or(w, 4, Length(kSchemaXml)), nullptr, nullptr);
         }},
        {"AddSetPolicyResponse", "CSensorServices::AddSetPolicyResponse()", "CSensorServices::AddSetPolicyResponse()",
         4,
         [](SS_Heartbeat h, SS_Module, int w) {
             return AddSetPolicyResponse(Or(w, 0, h), "n", "1", Or(w, 1, kPolicyNs), 0xC7380009u, "bad", "1.0.0",
                                         Or(w, 2, id), Or(w, 3, 4u));
         }},
        {"AddGetSchemaResponse", "CSensorServices::AddGetSchemaResponse()", "CSensorServices::AddGetSchemaResponse()",
         4,
         [](SS_Heartbeat h, SS_Module, int w) {
             return AddGetSchemaResponse(Or(w, 0, h), "n", Or(w, 1, "urn:s"), "1.0", 0, nullptr, kSchemaXml,
                                         Length(kSchemaXml), 0, Or(w, 2, id), Or(w, 3, 4u));
         }},
        {"AddSetSchemaResponse", "CSensorServices::AddSetSchemaResponse()", "CSensorServices::AddSetSchemaResponse()",
         4,
         [](SS_Heartbeat h, SS_Module, int w) {
             return AddSetSchemaResponse(Or(w, 0, h), "n", Or(w, 1, "urn:s"), "1.0", 5, "t", Or(w, 2, id),
                                         Or(w, 3, 4u));
         }},
    };
}

class HeartbeatBuilderTest : public HeartbeatLibraryTest {};

TEST_F(HeartbeatBuilderTest, EachNullRequiredArgumentIsRefusedAndAttachesNothing) {
    for (const ExportCase& c : ExportCases()) {
        for (int which = 0; which < c.requiredCount; ++which) {
            SCOPED_TRACE(std::string(c.name) + " argument " + std::to_string(which));
            const Heartbeat heartbeat = NewHeartbeat();
            SS_Module module = nullptr;
            ASSERT_EQ(0u, AddModuleInfo(heartbeat.get(), "m", "1", 0, nullptr, &module));
            const std::string before = Document(heartbeat.get());
            const int traced = m_trace.Count(SS_TRACE_ERROR, kNullText, c.where);

            EXPECT_EQ(0xC7210003u, c.call(heartbeat.get(), module, which));
            EXPECT_EQ(traced + 1, m_trace.Count(SS_TRACE_ERROR, kNullText, c.where));
            EXPECT_EQ(before, Document(heartbeat.get()));
        }
        // The same arguments without a null one are accepted, so each refusal above was
        // the null argument's.
        SCOPED_TRACE(c.name);
        const Heartbeat heartbeat = NewHeartbeat();
        SS_Module module = nullptr;
        ASSERT_EQ(0u, AddModuleInfo(heartbeat.get(), "m", "1", 0, nullptr, &module));
        EXPECT_EQ(0u, c.call(heartbeat.get(), module, -1));
    }
}

TEST_F(HeartbeatBuilderTest, AHandleWithoutAnnouncementIsRefusedByEveryExportThatLooksForIt) {
    for (const ExportCase& c : ExportCases()) {
        if (!c.announcementWhere) continue;
        SCOPED_TRACE(c.name);
        cml::CCmlMessage message;
        message.SetMessageId(u"m-1");
        message.AddRequest(std::make_unique<cml::CGetPolicyRequest>());
        const int traced = m_trace.Count(SS_TRACE_ERROR, kNoAnnouncementText, c.announcementWhere);

        EXPECT_EQ(0xC7210005u, c.call(HandleOf(&message), nullptr, -1));
        EXPECT_EQ(traced + 1, m_trace.Count(SS_TRACE_ERROR, kNoAnnouncementText, c.announcementWhere));
        EXPECT_EQ(1u, message.GetRequests().size());
        EXPECT_TRUE(message.GetResponses().empty());
    }
}

// One length-checked text of an export, put at its place.
struct LengthCase {
    const char* name;
    const char* where;
    std::function<uint32_t(SS_Heartbeat, const char* text)> call;
};

TEST_F(HeartbeatBuilderTest, ATextMustEndWithinItsFirstMegabyte) {
    const std::vector<LengthCase> cases = {
        {"CreateHeartbeat", "CSensorServices::CreateHeartbeat()",
         [](SS_Heartbeat, const char* text) {
             SS_Heartbeat created = nullptr;
             const uint32_t status = CreateHeartbeat(&created, "id", text, "urn:a", "1", "10.0.0.1");
             FreeHeartbeat(created);
             return status;
         }},
        {"SetBasicAgentInfo", "CSensorServices::SetBasicAgentInfo()",
         [](SS_Heartbeat h, const char* text) {
             return SetBasicAgentInfo(h, nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, text, nullptr, 0, 0);
         }},
        {"SetAgentInfo", "CSensorServices::SetAgentInfo()",
         [](SS_Heartbeat h, const char* text) { return SetAgentInfo(h, text, "1", nullptr, nullptr, nullptr); }},
        {"SetHostInfo", "CSensorServices::SetHostInfo()",
         [](SS_Heartbeat h, const char* text) {
             return SetHostInfo(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, text);
         }},
        {"AddSchemaInfo", "CSensorServices::AddSchemaInfo()",
         [](SS_Heartbeat h, const char* text) { return AddSchemaInfo(h, nullptr, text, "1", 0, 0, 0, 0); }},
        {"AddModuleInfo", "CSensorServices::AddModuleInfo()",
         [](SS_Heartbeat h, const char* text) { return AddModuleInfo(h, "m", "1", 0, text, nullptr); }},
        {"AddGetPolicyRequest", "CSensorServices::AddGetPolicyRequest()",
         [](SS_Heartbeat h, const char* text) {
             return AddGetPolicyRequest(h, text, nullptr, kPolicyNs, nullptr, nullptr, nullptr);
         }},
        {"AddGetSchemaRequest", "CSensorServices::AddGetSchemaRequest()",
         [](SS_Heartbeat h, const char* text) {
             return AddGetSchemaRequest(h, nullptr, "urn:s", text, nullptr, nullptr);
         }},
        {"AddSetSchemaRequest", "CSensorServices::AddSetSchemaRequest()",
         [](SS_Heartbeat h, const char* text) {
             return AddSetSchemaRequest(h, text, "urn:s", "1", 0, kSchemaXml, Length(kSchemaXml), nullptr, nullptr);
         }},
        {"AddSetPolicyResponse", "CSensorServices::AddSetPolicyResponse()",
         [](SS_Heartbeat h, const char* text) {
             return AddSetPolicyResponse(h, nullptr, nullptr, kPolicyNs, 5, text, nullptr, "r", 1);
         }},
        {"AddGetSchemaResponse", "CSensorServices::AddGetSchemaResponse()",
         [](SS_Heartbeat h, const char* text) {
             return AddGetSchemaResponse(h, nullptr, "urn:s", nullptr, 5, text, nullptr, 0, 0, "r", 1);
         }},
        {"AddSetSchemaResponse", "CSensorServices::AddSetSchemaResponse()",
         [](SS_Heartbeat h, const char* text) {
             return AddSetSchemaResponse(h, nullptr, "urn:s", text, 0, nullptr, "r", 1);
         }},
    };
    const std::string tooLarge(0x100000, 'a');
    const std::string largest(0xFFFFF, 'a');
    for (const LengthCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Heartbeat heartbeat = NewHeartbeat();
        const int traced = m_trace.Count(SS_TRACE_ERROR, kTooLargeText, c.where);
        EXPECT_EQ(0xC7210003u, c.call(heartbeat.get(), tooLarge.c_str()));
        EXPECT_EQ(traced + 1, m_trace.Count(SS_TRACE_ERROR, kTooLargeText, c.where));
        EXPECT_EQ(0u, c.call(heartbeat.get(), largest.c_str()));
    }
}

TEST_F(HeartbeatBuilderTest, AFailedLengthCheckKeepsTheAgentFieldsSetBeforeIt) {
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
}

uint32_t AnySchemaCallback(const char*, uint32_t, uint32_t, const char*, const char*, const char*, const char*,
                           uint32_t, const char*, const char*, uint32_t, uint32_t) {
    return 0;
}

class BasicAgentInfoTest : public HeartbeatLibraryTest, public ::testing::WithParamInterface<bool> {};

TEST_P(BasicAgentInfoTest, NullTextsKeepTheirFieldsWhileNumbersAndFlagsAreStored) {
    const bool callbackRegistered = GetParam();
    ASSERT_EQ(0u, RegisterSetSchemaRequest(callbackRegistered ? &AnySchemaCallback : nullptr));
    const Heartbeat heartbeat = NewHeartbeat();
    ASSERT_EQ(0u, SetBasicAgentInfo(heartbeat.get(), "1.0", "/last", 1, "desc", 2, "/agent", "/daemon", "model", "hint",
                                    0, 1));
    ASSERT_EQ(0u, SetBasicAgentInfo(heartbeat.get(), nullptr, nullptr, 0xC7560012u, nullptr, 0xC7210003u, nullptr,
                                    nullptr, nullptr, nullptr, 1, 0));

    const cml::CAgentInfoContent& content = Content(heartbeat.get());
    EXPECT_EQ(0xC7210003u, content.GetAgentStatus());
    EXPECT_EQ(0xC7560012u, content.GetQpkStatus());
    EXPECT_TRUE(content.GetUseLocalSettings());
    EXPECT_EQ(u"false", content.GetRegisterAgent());
    EXPECT_EQ(callbackRegistered, content.GetSendNewSchemas());
    EXPECT_EQ(u"1.0", content.GetQpkVersion());
    EXPECT_EQ(u"/last", content.GetLastQpkPath());
    EXPECT_EQ(u"desc", content.GetQpkStatusDescription());
    EXPECT_EQ(u"/agent", content.GetAgentInstallPath());
    EXPECT_EQ(u"/daemon", content.GetDaemonInstallPath());
    EXPECT_EQ(u"model", content.GetModel());
    EXPECT_EQ(u"hint", content.GetGroupnameHint());
}

INSTANTIATE_TEST_SUITE_P(SetSchemaRequestCallback, BasicAgentInfoTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Registered" : "NotRegistered";
                         });

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

TEST_F(HeartbeatBuilderTest, SetHostInfoKeepsTheOsVersionAndFieldsGivenAsNull) {
    const Heartbeat heartbeat = NewHeartbeat();
    ASSERT_EQ(0u, SetHostInfo(heartbeat.get(), "host", nullptr, "Linux", "6.1", "NB", nullptr, "obj", "grp"));
    const cml::CHostInfo& host = Content(heartbeat.get()).GetHostInfo();
    EXPECT_EQ(u"host", host.GetHostName());
    EXPECT_EQ(u"10.0.0.1", host.GetIpAddress());
    EXPECT_EQ(u"Linux", host.GetOs());
    EXPECT_EQ(u"", host.GetVersion());
    EXPECT_EQ(u"NB", host.GetNbName());
    EXPECT_EQ(u"", host.GetNbDomain());
    EXPECT_EQ(u"obj", host.GetAdObjectId());
    EXPECT_EQ(u"grp", host.GetAdGroupId());
}

TEST_F(HeartbeatBuilderTest, TwoPolicyRequestsShareOneGetPolicyRequest) {
    const Heartbeat heartbeat = NewHeartbeat();
    char first[40] = {};
    char second[40] = {};
    uint32_t firstLength = sizeof first;
    uint32_t secondLength = sizeof second;
    ASSERT_EQ(0u, AddGetPolicyRequest(heartbeat.get(), nullptr, "a", kPolicyNs, "1.0.0", first, &firstLength));
    ASSERT_EQ(0u, AddAgentPolicyInfo(heartbeat.get(), "5", nullptr, kPolicyNs, "9.9", second, &secondLength));

    const auto requests = RequestsTagged(heartbeat.get(), u"get-policy-request");
    ASSERT_EQ(1u, requests.size());
    const auto& request = dynamic_cast<const cml::CGetPolicyRequest&>(*requests[0]);
    ASSERT_EQ(2u, request.GetPolicyItemCount());
    EXPECT_EQ(u"0", request.GetPolicyItems()[0]->GetToken());
    EXPECT_EQ(u"1.0.0", request.GetPolicyItems()[0]->GetSchemaVersion());
    EXPECT_EQ(u"5", request.GetPolicyItems()[1]->GetToken());
    EXPECT_EQ(u"", request.GetPolicyItems()[1]->GetSchemaVersion());
    EXPECT_EQ(36u, firstLength);
    EXPECT_EQ(std::string(first), std::string(second));
    EXPECT_EQ(Utf8(request.GetRequestId()), std::string(first));
}

// An identifier buffer of `capacity` bytes (after it, guard bytes that must stay 'G').
struct IdBufferCase {
    uint32_t capacity;
    bool giveLength;
    bool filled;
};

class IdentifierBufferTest : public HeartbeatLibraryTest, public ::testing::WithParamInterface<IdBufferCase> {};

TEST_P(IdentifierBufferTest, TheBufferGetsTheIdentifierOnlyWhenItFits) {
    const IdBufferCase& c = GetParam();
    const Heartbeat heartbeat = NewHeartbeat();
    std::vector<char> buffer(c.capacity + 8, 'G');
    uint32_t length = c.capacity;
    ASSERT_EQ(0u, AddGetPolicyRequest(heartbeat.get(), nullptr, nullptr, kPolicyNs, nullptr, buffer.data(),
                                      c.giveLength ? &length : nullptr));
    const auto requests = RequestsTagged(heartbeat.get(), u"get-policy-request");
    ASSERT_EQ(1u, requests.size());
    const std::string identifier = Utf8(requests[0]->GetRequestId());
    ASSERT_EQ(36u, identifier.size());

    if (!c.giveLength) {
        EXPECT_EQ(std::string(buffer.size(), 'G'), std::string(buffer.begin(), buffer.end()));
        return;
    }
    const std::string written(buffer.begin(), buffer.begin() + c.capacity);
    if (c.filled) {
        EXPECT_EQ(36u, length);
        EXPECT_EQ(identifier, written.substr(0, 36));
        EXPECT_EQ(std::string(c.capacity - 36, '\0'), written.substr(36));
    } else {
        EXPECT_EQ(c.capacity, length);
        EXPECT_EQ(std::string(c.capacity, '\0'), written);
    }
    EXPECT_EQ(std::string(8, 'G'), std::string(buffer.begin() + c.capacity, buffer.end()));
}

INSTANTIATE_TEST_SUITE_P(Capacities, IdentifierBufferTest,
                         ::testing::Values(IdBufferCase{36, true, true}, IdBufferCase{37, true, true},
                                           IdBufferCase{20, true, false}, IdBufferCase{36, false, false}),
                         [](const ::testing::TestParamInfo<IdBufferCase>& info) {
                             return std::to_string(info.param.capacity) + (info.param.giveLength ? "" : "NoLength");
                         });

// One export that reads the caller's XML, with the XML as its only varying argument.
struct XmlCase {
    const char* name;
    const char* where;
    // A text the export takes.
    const char* validXml;
    // The name the parser's messages give the text.
    const char* documentName;
    std::function<uint32_t(SS_Heartbeat, SS_Module, const std::string& xml)> call;
};

std::vector<XmlCase> XmlCases() {
    auto size = [](const std::string& xml) { return static_cast<uint32_t>(xml.size()); };
    return {
        {"AddModuleInfoParams", "CSensorServices::AddModuleInfoParams()", kParamsXml,
         "ZEL-SensorServices-AddModuleInfoParams",
         [=](SS_Heartbeat, SS_Module m, const std::string& x) { return AddModuleInfoParams(m, x.data(), size(x)); }},
        {"AddAgentParams", "CSensorServices::AddAgentParams()", kParamsXml, "ZEL-SensorServices-AddAgentParams",
         [=](SS_Heartbeat h, SS_Module, const std::string& x) { return AddAgentParams(h, x.data(), size(x)); }},
        {"AddSetPolicyRequest", "CSensorServices::AddSetPolicyRequest()", kSetPolicyXml,
         "ZEL-SensorServices-SetPolicyRequest",
         [=](SS_Heartbeat h, SS_Module, const std::string& x) {
             return AddSetPolicyRequest(h, x.data(), size(x), nullptr, nullptr);
         }},
        {"AddOptAgentProperties", "CSensorServices::AddOptAgentProperties()", kSetPolicyXml,
         "ZEL-SensorServices-SetPolicyRequest",
         [=](SS_Heartbeat h, SS_Module, const std::string& x) {
             return AddOptAgentProperties(h, x.data(), size(x), nullptr, nullptr);
         }},
        {"AddSetSchemaRequest", "CSensorServices::AddSetSchemaRequest()", kSchemaXml,
         "ZEL-SensorServices-SetSchemaRequest",
         [=](SS_Heartbeat h, SS_Module, const std::string& x) {
             return AddSetSchemaRequest(h, "n", "urn:s", "1", 0, x.data(), size(x), nullptr, nullptr);
         }},
        {"AddGetSchemaResponse", "CSensorServices::AddGetSchemaResponse()", kSchemaXml,
         "ZEL-SensorServices-GetSchemaRequest",
         [=](SS_Heartbeat h, SS_Module, const std::string& x) {
             return AddGetSchemaResponse(h, "n", "urn:s", "1", 0, nullptr, x.data(), size(x), 0, "r-1", 3);
         }},
    };
}

TEST_F(HeartbeatBuilderTest, XmlThatCannotBeParsedLeavesTheHeartbeatAsItWas) {
    const std::vector<std::string> refused = {
        "<params xmlns='http://schemas.zel.example/cml/common'><param name='a'></params>",
        "<!DOCTYPE params [<!ENTITY e 'x'>]><params>&e;</params>",
    };
    for (const XmlCase& c : XmlCases()) {
        for (const std::string& xml : refused) {
            SCOPED_TRACE(std::string(c.name) + ": " + xml);
            const Heartbeat heartbeat = NewHeartbeat();
            SS_Module module = nullptr;
            ASSERT_EQ(0u, AddModuleInfo(heartbeat.get(), "m", "1", 0, nullptr, &module));
            // Something of each kind already there, which must stay exactly as it is.
            ASSERT_EQ(0u, AddModuleInfoParams(module, kParamsXml, Length(kParamsXml)));
            ASSERT_EQ(0u, AddAgentParams(heartbeat.get(), kParamsXml, Length(kParamsXml)));
            ASSERT_EQ(0u, c.call(heartbeat.get(), module, c.validXml));
            const std::string before = Document(heartbeat.get());
            const std::size_t lines = m_trace.Lines(c.where).size();

            EXPECT_EQ(0xC7560012u, c.call(heartbeat.get(), module, xml));
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

TEST_F(HeartbeatBuilderTest, ParametersFromXmlAreAppendedInDocumentOrder) {
    const Heartbeat heartbeat = NewHeartbeat();
    SS_Module module = nullptr;
    ASSERT_EQ(0u, AddModuleInfo(heartbeat.get(), "m", "1", 0, nullptr, &module));
    const std::string xml =
        "<p xmlns='http://schemas.zel.example/cml/common' xmlns:o='urn:other'>\n"
        "  <param name='x' value='&lt;1&gt;'/><o:param name='skipped'/><other name='skipped'/>\n"
        "  <param name='y' value='2' ordinal='0x10'/></p>";
    ASSERT_EQ(0u, AddModuleInfoParams(module, xml.data(), static_cast<uint32_t>(xml.size())));
    ASSERT_EQ(0u, AddModuleInfoParams(module, kParamsXml, Length(kParamsXml)));
    ASSERT_EQ(0u, AddAgentParams(heartbeat.get(), xml.data(), static_cast<uint32_t>(xml.size())));

    const cml::CModuleInfo& stored = Content(heartbeat.get()).GetModules()[0];
    ASSERT_EQ(4u, stored.GetParamCount());
    EXPECT_EQ(u"x", stored.GetParams()[0].GetName());
    EXPECT_EQ(u"<1>", stored.GetParams()[0].GetValue());
    EXPECT_EQ(16, stored.GetParams()[1].GetOrdinal());
    EXPECT_EQ(u"a", stored.GetParams()[2].GetName());
    EXPECT_EQ(4, stored.GetParams()[3].GetOrdinal());
    const cml::NameValuePairVector& params = Content(heartbeat.get()).GetParams();
    ASSERT_EQ(2u, params.size());
    EXPECT_EQ(u"y", params[1].GetName());
}

TEST_F(HeartbeatBuilderTest, XmlIsReadFromExactlyTheGivenLength) {
    const Heartbeat heartbeat = NewHeartbeat();
    // The bytes after the length would make the document malformed.
    const std::string xml = std::string(kParamsXml) + "<garbage";
    ASSERT_EQ(0u, AddAgentParams(heartbeat.get(), xml.data(), Length(kParamsXml)));
    EXPECT_EQ(2u, Content(heartbeat.get()).GetParamCount());
}

TEST_F(HeartbeatBuilderTest, RequestsFromXmlKeepTheirIdentifiersAndDocuments) {
    const Heartbeat heartbeat = NewHeartbeat();
    char policyId[36];
    uint32_t policyIdLength = sizeof policyId;
    char schemaId[36];
    uint32_t schemaIdLength = sizeof schemaId;
    const std::string policyXml =
        "<set-policy-request xmlns='http://schemas.zel.example/cml' request-id='agent-chosen'>"
        "<policy schema-version='1.0.0' xmlns='http://schemas.zel.example/cml/PolicyBase'/>"
        "<policy schema-version='1.0.0' xmlns='http://schemas.zel.example/cml/PolicyBase' name='2'/>"
        "</set-policy-request>";
    ASSERT_EQ(0u, AddSetPolicyRequest(heartbeat.get(), policyXml.data(), static_cast<uint32_t>(policyXml.size()),
                                      policyId, &policyIdLength));
    ASSERT_EQ(0u, AddSetSchemaRequest(heartbeat.get(), nullptr, "urn:s", "1.0", 1, kSchemaXml, Length(kSchemaXml),
                                      schemaId, &schemaIdLength));

    const auto policies = RequestsTagged(heartbeat.get(), u"set-policy-request");
    ASSERT_EQ(1u, policies.size());
    const auto& policyRequest = dynamic_cast<const cml::CSetPolicyRequest&>(*policies[0]);
    EXPECT_EQ(2u, policyRequest.GetPolicySourceCount());
    EXPECT_EQ(u"2", policyRequest.GetPolicySource(1).GetName());
    EXPECT_EQ(u"agent-chosen", policyRequest.GetRequestId());
    EXPECT_EQ("agent-chosen", std::string(policyId, policyIdLength));
    // Without an identifier in the text the request gets a new one.
    const std::string unnamed = "<set-policy-request xmlns='http://schemas.zel.example/cml'>"
                                "<policy xmlns='http://schemas.zel.example/cml/PolicyBase' schema-version='1.0.0'/>"
                                "</set-policy-request>";
    policyIdLength = sizeof policyId;
    ASSERT_EQ(0u, AddOptAgentProperties(heartbeat.get(), unnamed.data(), static_cast<uint32_t>(unnamed.size()),
                                        policyId, &policyIdLength));
    const auto both = RequestsTagged(heartbeat.get(), u"set-policy-request");
    ASSERT_EQ(2u, both.size());
    EXPECT_EQ(36u, both[1]->GetRequestId().size());
    EXPECT_EQ(std::string(policyId, policyIdLength), Utf8(both[1]->GetRequestId()));

    const auto schemas = RequestsTagged(heartbeat.get(), u"set-schema-request");
    ASSERT_EQ(1u, schemas.size());
    const auto& schemaRequest = dynamic_cast<const cml::CSetSchemaRequest&>(*schemas[0]);
    ASSERT_EQ(1u, schemaRequest.GetSchemaCount());
    const cml::CSetSchemaRequestData& item = schemaRequest.GetSchemaData(0);
    EXPECT_EQ(u"urn:s", item.GetNamespace());
    EXPECT_TRUE(item.GetOverwrite());
    ASSERT_NE(nullptr, item.GetSchema());
    // The parser is gone; the schema document lives on with the item.
    EXPECT_EQ(u"1.0", item.GetSchema()->GetVersion());
    EXPECT_EQ(std::string(schemaId, schemaIdLength), Utf8(schemaRequest.GetRequestId()));
}

TEST_F(HeartbeatBuilderTest, SetPolicyResponsesShareOneResponseMarkedFailedOnce) {
    const Heartbeat heartbeat = NewHeartbeat();
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
    const cml::CPolicyItem& item = response.GetPolicyItem(0);
    EXPECT_EQ(u"b", item.GetName());
    EXPECT_EQ(u"2", item.GetVersion());
    EXPECT_EQ(0xC7380009u, item.GetCode());
    EXPECT_EQ(u"broken", item.GetText());
    EXPECT_EQ(u"1.0.0", item.GetSchemaVersion());

    // A code already set stays: the response is marked failed only while it has none.
    response.SetCode(0xC7380001u);
    ASSERT_EQ(0u, AddSetPolicyResponse(heartbeat.get(), "c", nullptr, kPolicyNs, 7, nullptr, nullptr, "req-3", 5));
    EXPECT_EQ(0xC7380001u, response.GetCode());
    EXPECT_EQ(2u, response.GetPolicyItemCount());
    EXPECT_EQ(1u, ResponsesTagged(heartbeat.get(), u"set-policy-response").size());
    EXPECT_EQ(u"req-1", response.GetRequestId());
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
    EXPECT_EQ(0u, response.GetSchemaInfo(0).GetCode());
    EXPECT_EQ(0xC738000Du, response.GetSchemaInfo(1).GetCode());
    EXPECT_EQ(u"bad", response.GetSchemaInfo(1).GetText());
    EXPECT_EQ(u"urn:b", response.GetSchemaInfo(1).GetNamespace());
    EXPECT_EQ(u"req-1", response.GetRequestId());
    EXPECT_EQ(1u, ResponsesTagged(heartbeat.get(), u"set-schema-response").size());
}

TEST_F(HeartbeatBuilderTest, GetSchemaResponsesAreSharedPerAnsweredRequest) {
    const Heartbeat heartbeat = NewHeartbeat();
    ASSERT_EQ(0u, AddGetSchemaResponse(heartbeat.get(), "a", "urn:a", "1", 0, nullptr, kSchemaXml, Length(kSchemaXml),
                                       1, "req-1", 5));
    ASSERT_EQ(0u, AddGetSchemaResponse(heartbeat.get(), "b", "urn:b", "1", 0xC738000Du, "missing", nullptr, 0, 0,
                                       "req-1", 5));
    ASSERT_EQ(0u, AddGetSchemaResponse(heartbeat.get(), "c", "urn:c", "1", 0, nullptr, nullptr, 0, 0, "req-2", 5));

    const auto responses = ResponsesTagged(heartbeat.get(), u"get-schema-response");
    ASSERT_EQ(2u, responses.size());
    const auto& first = dynamic_cast<const cml::CGetSchemaResponse&>(*responses[0]);
    EXPECT_EQ(u"req-1", first.GetRequestId());
    EXPECT_EQ(0xC738001Au, first.GetCode());
    ASSERT_EQ(2u, first.GetSchemaCount());
    ASSERT_NE(nullptr, first.GetSchemaData(0).GetSchema());
    EXPECT_TRUE(first.GetSchemaData(0).GetOverwrite());
    EXPECT_EQ(nullptr, first.GetSchemaData(1).GetSchema());
    EXPECT_EQ(u"missing", first.GetSchemaData(1).GetText());
    const auto& second = dynamic_cast<const cml::CGetSchemaResponse&>(*responses[1]);
    EXPECT_EQ(u"req-2", second.GetRequestId());
    EXPECT_EQ(0u, second.GetCode());
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
    ASSERT_EQ(0u, AddModuleInfoParams(module, kParamsXml, Length(kParamsXml)));
    const cml::CAgentInfoContent& content = Content(heartbeat.get());
    ASSERT_EQ(41u, content.GetModuleCount());
    EXPECT_EQ(0u, content.GetModules()[1].GetParamCount());
    EXPECT_EQ(2u, content.GetModules()[0].GetParamCount());
    EXPECT_EQ(0x47380022u, content.GetModules()[0].GetStatus());
    EXPECT_EQ(u"http://schemas.zel.example/cml", content.GetModules()[0].GetNamespaceURI());
}

}  // namespace
}  // namespace zel::ss::test
