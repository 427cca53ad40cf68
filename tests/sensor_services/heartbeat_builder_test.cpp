// Heartbeat construction through the exports: the argument rules every export shares, the
// caller's XML texts and the responses a heartbeat collects, where the golden heartbeat does
// not show them. The library runs in synchronous mode against a controller address nobody
// listens on, and nothing is ever sent.
#include "sensor_services/heartbeat_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "library_test.h"
#include "sensor_services/heartbeat_message.h"

namespace zel::ss::test {
namespace {

constexpr const char* kNullText = "A required input parameter is NULL.";
constexpr const char* kTooLargeText = "An input parameter is too large.";
constexpr const char* kNoAnnouncementText = "Heartbeat message is missing its startup announcement";
constexpr const char* kPolicyNs = "http://schemas.zel.example/cml/PolicyBase";
constexpr const char* kParamsXml = "<params xmlns='http://schemas.zel.example/cml/common'><param name='a' value='1'/>"
                                   "<param name='b' value='2' ordinal='4'/></params>";
constexpr const char* kSetPolicyXml = "<set-policy-request xmlns='http://schemas.zel.example/cml'><policy name='p' "
                                      "schema-version='1.0.0' xmlns='http://schemas.zel.example/cml/PolicyBase'/>"
                                      "</set-policy-request>";
constexpr const char* kSchemaXml = "<schema targetNamespace='http://schemas.zel.example/cml/SchemaA' version='1.0'"
                                   " xmlns='http://www.w3.org/2001/XMLSchema'><element name='on' type='boolean'/>"
                                   "</schema>";

using Heartbeat = std::unique_ptr<std::remove_pointer_t<SS_Heartbeat>, decltype(&FreeHeartbeat)>;

// The whole document of the heartbeat, as PostHeartbeat would serialise it.
std::string Document(SS_Heartbeat handle) {
    std::ostringstream document;
    return MessageOf(handle)->SerializeDocument(document), document.str();
}
cml::CAgentInfoContent& Content(SS_Heartbeat handle) { return FindAnnouncement(*MessageOf(handle))->GetContent(); }
// The body's responses tagged `tagName`, in order.
std::vector<cml::CCmlResponse*> ResponsesTagged(SS_Heartbeat handle, const std::u16string& tagName) {
    std::vector<cml::CCmlResponse*> found;
    for (const auto& response : MessageOf(handle)->GetResponses())
        if (response->GetTagName() == tagName) found.push_back(response.get());
    return found;
}

// The arguments of one call: valid ones, except the required argument numbered `null`, the
// length-checked text, which is `longText` when not null, and the caller's XML, which is
// `xml` when not null.
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

// One export: its name in the trace location, the number of its required arguments, whether a
// text is length-checked, the name the parser's messages give its XML (after "ZEL-SensorServices-";
// null: it reads none), the call, and where it reports a missing announcement (null: `where`;
// "": it does not look).
struct ExportCase {
    const char* name;
    int requiredCount;
    bool lengthChecked;
    const char* documentName;
    std::function<uint32_t(SS_Heartbeat, SS_Module, const Args&)> call;
    const char* announcementName = nullptr;
};

using H = SS_Heartbeat;
using M = SS_Module;
using A = const Args&;
const char *const kId = "0a1b", *const kP = kParamsXml, *const kS = kSetPolicyXml;
const std::vector<ExportCase> kExports = {
    {"SetBasicAgentInfo", 1, true, nullptr,
     [](H h, M, A a) { return SetBasicAgentInfo(a.Or(0, h), "1", "p", 0, "d", 0, "a", "b", a.Long("m"), "g", 1, 1); }},
    {"SetAgentInfo", 1, true, nullptr, [](H h, M, A a) { return SetAgentInfo(a.Or(0, h), a.Long("1"), "1", 0, 0, 0); }},
    {"SetHostInfo", 1, true, nullptr,
     [](H h, M, A a) { return SetHostInfo(a.Or(0, h), "host", "10.1.1.1", "os", 0, "nb", "d", "o", a.Long("g")); }},
    {"AddSchemaInfo", 3, true, nullptr,
     [](H h, M, A a) { return AddSchemaInfo(a.Or(0, h), "n", a.Or(1, a.Long("urn:x")), a.Or(2, "1.0"), 1, 0, 0, 1); }},
    {"AddModuleInfo", 3, true, nullptr,
     [](H h, M, A a) { return AddModuleInfo(a.Or(0, h), a.Or(1, "mod"), a.Or(2, "1.0"), 0, a.Long("desc"), nullptr); }},
    {"AddModuleInfoParams", 3, false, "AddModuleInfoParams",
     [](H, M m, A a) { return AddModuleInfoParams(a.Or(0, m), a.Or(1, a.Xml(kP)), a.Or(2, a.XmlLength(kP))); }, ""},
    {"AddAgentParams", 3, false, "AddAgentParams",
     [](H h, M, A a) { return AddAgentParams(a.Or(0, h), a.Or(1, a.Xml(kP)), a.Or(2, a.XmlLength(kP))); },
     "AddAgentParam"},
    {"AddGetPolicyRequest", 2, true, nullptr,
     [](H h, M, A a) { return AddGetPolicyRequest(a.Or(0, h), a.Long("3"), "n", a.Or(1, kPolicyNs), "1.0.0", 0, 0); }},
    {"AddAgentPolicyInfo", 2, false, nullptr,
     [](H h, M, A a) { return AddAgentPolicyInfo(a.Or(0, h), "3", "n", a.Or(1, kPolicyNs), "1.0.0", nullptr, 0); }},
    {"AddSetPolicyRequest", 3, false, "SetPolicyRequest",
     [](H h, M, A a) { return AddSetPolicyRequest(a.Or(0, h), a.Or(1, a.Xml(kS)), a.Or(2, a.XmlLength(kS)), 0, 0); }},
    {"AddOptAgentProperties", 3, false, "SetPolicyRequest",
     [](H h, M, A a) { return AddOptAgentProperties(a.Or(0, h), a.Or(1, a.Xml(kS)), a.Or(2, a.XmlLength(kS)), 0, 0); }},
    {"AddGetSchemaRequest", 2, true, nullptr,
     [](H h, M, A a) { return AddGetSchemaRequest(a.Or(0, h), "n", a.Or(1, "urn:s"), a.Long("1"), nullptr, nullptr); }},
    {"AddSetSchemaRequest", 5, true, "SetSchemaRequest", [](H h, M, A a) {
         return AddSetSchemaRequest(a.Or(0, h), a.Long("n"), a.Or(1, "urn:s"), a.Or(2, "1.0"), 0,
                                    a.Or(3, a.Xml(kSchemaXml)), a.Or(4, a.XmlLength(kSchemaXml)), nullptr, nullptr); }},
    {"AddSetPolicyResponse", 4, true, nullptr, [](H h, M, A a) {
         return AddSetPolicyResponse(a.Or(0, h), "n", "1", a.Or(1, kPolicyNs), 0xC7380009u, a.Long("bad"), "1.0.0",
                                     a.Or(2, kId), a.Or(3, 4u)); }},
    {"AddGetSchemaResponse", 4, true, "GetSchemaRequest", [](H h, M, A a) {
         return AddGetSchemaResponse(a.Or(0, h), "n", a.Or(1, "urn:s"), "1.0", 0, a.Long(nullptr), a.Xml(kSchemaXml),
                                     a.XmlLength(kSchemaXml), 0, a.Or(2, kId), a.Or(3, 4u)); }},
    {"AddSetSchemaResponse", 4, true, nullptr, [](H h, M, A a) {
         return AddSetSchemaResponse(a.Or(0, h), "n", a.Or(1, "urn:s"), a.Long("1.0"), 5, "t", a.Or(2, kId),
                                     a.Or(3, 4u)); }},
};

// The library in synchronous mode (no dispatch thread), its controller on port 1 (nobody
// listens there).
class HeartbeatBuilderTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        Start(std::vector<int>{1}, false);
    }
    // A new heartbeat for agent "id" with host address 10.0.0.1, with one module `m_module`.
    Heartbeat NewHeartbeat() {
        SS_Heartbeat handle = nullptr;
        EXPECT_EQ(0u, CreateHeartbeat(&handle, "id", "agent", "urn:agent", "1.0", "10.0.0.1"));
        EXPECT_EQ(0u, AddModuleInfo(handle, "m", "1", 0, nullptr, &m_module));
        return Heartbeat(handle, &FreeHeartbeat);
    }
    // Expects `call` to fail with `status`, to trace `text` under `where` once more and to
    // leave the heartbeat's document as it was.
    void ExpectRefused(uint32_t status, const char* text, const std::string& where, SS_Heartbeat h,
                       const std::function<uint32_t()>& call) {
        const std::string before = h ? Document(h) : "";
        const int traced = m_trace.Count(SS_TRACE_ERROR, text, where);
        EXPECT_EQ(status, call());
        EXPECT_EQ(traced + 1, m_trace.Count(SS_TRACE_ERROR, text, where));
        EXPECT_EQ(before, h ? Document(h) : "");
    }
    SS_Module m_module = nullptr;
};

// Each export refuses: each null required argument; a handle without announcement (where it
// looks for one); a text that does not end within its first megabyte (where it checks); XML that
// cannot be parsed (where it reads XML). Every refusal is traced and attaches nothing.
TEST_F(HeartbeatBuilderTest, EveryExportRefusesBadArgumentsAndAttachesNothing) {
    const std::string tooLarge(0x100000, 'a'), largest(0xFFFFF, 'a');
    const std::vector<std::string> unparsable = {
        "<params xmlns='http://schemas.zel.example/cml/common'><param name='a'></params>",
        "<!DOCTYPE params [<!ENTITY e 'x'>]><params>&e;</params>",
    };
    for (const ExportCase& c : kExports) {
        const std::string where = std::string("CSensorServices::") + c.name + "()";
        SCOPED_TRACE(where);
        for (int which = 0; which < c.requiredCount; ++which) {
            const Heartbeat heartbeat = NewHeartbeat();
            ExpectRefused(0xC7210003u, kNullText, where, heartbeat.get(),
                          [&] { return c.call(heartbeat.get(), m_module, Args{which}); });
        }
        // The same arguments without a null one are accepted, so each refusal was the null's.
        const Heartbeat accepted = NewHeartbeat();  // before m_module is read: it names this one's module
        EXPECT_EQ(0u, c.call(accepted.get(), m_module, Args{}));
        if (!c.announcementName || *c.announcementName) {
            cml::CCmlMessage message;
            message.SetMessageId(u"m-1");
            message.AddRequest(std::make_unique<cml::CGetPolicyRequest>());
            const std::string at = c.announcementName ? "CSensorServices::" + std::string(c.announcementName) + "()"
                                                      : where;
            ExpectRefused(0xC7210005u, kNoAnnouncementText, at, nullptr,
                          [&] { return c.call(HandleOf(&message), nullptr, Args{}); });
            EXPECT_EQ(1u, message.GetRequests().size());
            EXPECT_TRUE(message.GetResponses().empty());
        }
        if (c.lengthChecked) {
            const Heartbeat heartbeat = NewHeartbeat();
            ExpectRefused(0xC7210003u, kTooLargeText, where, nullptr,
                          [&] { return c.call(heartbeat.get(), nullptr, Args{-1, tooLarge.c_str()}); });
            EXPECT_EQ(0u, c.call(heartbeat.get(), nullptr, Args{-1, largest.c_str()}));
        }
        for (const std::string& xml : c.documentName ? unparsable : std::vector<std::string>{}) {
            SCOPED_TRACE(xml);
            const Heartbeat heartbeat = NewHeartbeat();
            // Something of each kind already there, which must stay exactly as it is.
            ASSERT_EQ(0u, AddModuleInfoParams(m_module, kParamsXml, Length(kParamsXml)));
            ASSERT_EQ(0u, AddAgentParams(heartbeat.get(), kParamsXml, Length(kParamsXml)));
            ASSERT_EQ(0u, c.call(heartbeat.get(), m_module, Args{}));
            const std::string before = Document(heartbeat.get());
            const std::size_t lines = m_trace.Lines(where.c_str()).size();
            EXPECT_EQ(0xC7560012u, c.call(heartbeat.get(), m_module, Args{-1, nullptr, &xml}));
            EXPECT_EQ(before, Document(heartbeat.get()));
            ASSERT_EQ(lines + 1, m_trace.Lines(where.c_str()).size());
            const TraceLine line = m_trace.Lines(where.c_str()).back();
            EXPECT_EQ(SS_TRACE_ERROR, line.level);
            EXPECT_EQ(0u, line.message.find("parse failed with CML error. Exception: ")) << line.message;
            const std::string document = std::string("ZEL-SensorServices-") + c.documentName;
            for (const std::string piece : {" CML code: 0xc738000", " ERR code: 0xc738000", document.c_str()})
                EXPECT_NE(std::string::npos, line.message.find(piece)) << line.message;
        }
    }
    // CreateHeartbeat checks its texts too; a module refused for its description leaves no handle.
    SS_Heartbeat created = nullptr;
    ExpectRefused(0xC7210003u, kTooLargeText, "CSensorServices::CreateHeartbeat()", nullptr,
                  [&] { return CreateHeartbeat(&created, "id", tooLarge.c_str(), "urn:a", "1", "10.0.0.1"); });
    EXPECT_EQ(0u, CreateHeartbeat(&created, "id", largest.c_str(), "urn:a", "1", "10.0.0.1"));
    FreeHeartbeat(created);
    SS_Module module = reinterpret_cast<SS_Module>(&module);
    EXPECT_EQ(0xC7210003u, AddModuleInfo(NewHeartbeat().get(), "m", "1", 0, tooLarge.c_str(), &module));
    EXPECT_EQ(nullptr, module);
}

// A failed length check keeps the agent fields set before it; SetAgentInfo reads the status
// as decimal and registers the agent. (Null texts keeping their fields and the flags without
// a set-schema callback: the golden heartbeat.)
TEST_F(HeartbeatBuilderTest, AgentInfo) {
    ASSERT_EQ(0u, RegisterSetSchemaRequest(RecordSchema<Callback::kSetSchemaRequest>));
    const Heartbeat first = NewHeartbeat(), second = NewHeartbeat();
    EXPECT_EQ(0xC7210003u, SetBasicAgentInfo(first.get(), "7.0", std::string(0x100000, 'p').c_str(), 12, "desc", 13,
                                             "a", "d", "m", "g", 1, 1));
    ASSERT_EQ(0u, SetBasicAgentInfo(second.get(), "1.0", "/last", 1, "d", 2, nullptr, nullptr, "m", nullptr, 1, 0));
    ASSERT_EQ(0u, SetAgentInfo(second.get(), "2.0", "3340828675", "not read", nullptr, "/daemon"));
    const cml::CAgentInfoContent &c = Content(first.get()), &d = Content(second.get());
    EXPECT_EQ(std::make_tuple(u"true", u"7.0", u"", 0x47380022u, 0x47380022u, false, true),
              std::make_tuple(c.GetRegisterAgent(), c.GetQpkVersion(), c.GetLastQpkPath(), c.GetQpkStatus(),
                              c.GetAgentStatus(), c.GetUseLocalSettings(), c.GetSendNewSchemas()));
    EXPECT_EQ(std::make_tuple(0xC7210003u, 0u, u"2.0", u"/last", u"/daemon", u"true", false),
              std::make_tuple(d.GetAgentStatus(), d.GetQpkStatus(), d.GetQpkVersion(), d.GetLastQpkPath(),
                              d.GetDaemonInstallPath(), d.GetRegisterAgent(), d.GetUseLocalSettings()));
    ASSERT_EQ(0u, SetAgentInfo(second.get(), nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0u, d.GetAgentStatus());
}

// A set-policy request that could never be written is refused when it is added, so that it
// cannot make the whole heartbeat fail when it is posted (null failure: accepted, keeping the
// identifier its text names). (Parameters in document order, other elements skipped, the given
// length: the golden heartbeat.)
TEST_F(HeartbeatBuilderTest, ASetPolicyRequestThatCouldNotBeWrittenIsRefused) {
    constexpr const char* kWhere = "CSensorServices::AddSetPolicyRequest()";
    const std::string p = "<policy xmlns='http://schemas.zel.example/cml/P' name='p' schema-version=";
    const std::string base = "<policy schema-version='1.0.0' xmlns='http://schemas.zel.example/cml/PolicyBase'";
    const struct { std::string policies; const char* failure; } cases[] = {
        {"", "Reading set-policy-request:  No policy specified; error = 0xc7380009"},
        {"<policy xmlns='urn:outside' name='p' schema-version='1.0.0'/>",
         "Building schema filename:  Invalid namespace URI"},
        {p + "'1.0.0'/>" + p + "'2.0.0'/>", "error = 0xc738000e"},
        {base + "/>" + base + " name='2'/>", nullptr},
    };
    for (const auto& c : cases) {
        const std::string xml = "<set-policy-request xmlns='http://schemas.zel.example/cml' request-id='agent-chosen'"
                                ">" + c.policies + "</set-policy-request>";
        SCOPED_TRACE(xml);
        Heartbeat heartbeat = NewHeartbeat();
        const std::size_t lines = m_trace.Lines(kWhere).size();
        char id[36];
        uint32_t idLength = sizeof id;
        const uint32_t added = AddSetPolicyRequest(heartbeat.get(), xml.data(), uint32_t(xml.size()), id, &idLength);
        if (!c.failure) {
            ASSERT_EQ(0u, added);
            const auto& request = dynamic_cast<cml::CSetPolicyRequest&>(*MessageOf(heartbeat.get())->GetRequests()[1]);
            EXPECT_EQ(std::make_tuple(2u, std::u16string(u"agent-chosen"), std::string("agent-chosen")),
                      std::make_tuple(unsigned(request.GetPolicySourceCount()), request.GetRequestId(),
                                      std::string(id, idLength)));
            continue;
        }
        EXPECT_EQ(0xC7560012u, added);
        ASSERT_EQ(lines + 1, m_trace.Lines(kWhere).size());
        EXPECT_NE(std::string::npos, m_trace.Lines(kWhere).back().message.find(c.failure));
        // The heartbeat can still be written and queued (the post itself finds no controller).
        const uint32_t posted = PostHeartbeat(heartbeat.release(), nullptr, nullptr);
        EXPECT_NE(0xC7210005u, posted);
        EXPECT_EQ(posted != 0, Pending());
    }
}

// Responses of a kind share one response, cut to the given identifier length; the first
// failed item marks it failed unless it has a code already. (One failed item and its fields,
// two get-schema results: the golden heartbeat.) One without items cannot be posted.
TEST_F(HeartbeatBuilderTest, ResponsesOfAKindShareOneResponse) {
    const Heartbeat heartbeat = NewHeartbeat();
    const auto h = heartbeat.get();
    ASSERT_EQ(0u, AddSetPolicyResponse(h, "a", "1", kPolicyNs, 0, "fine", nullptr, "req-1xx", 5));
    ASSERT_EQ(0u, AddSetSchemaResponse(h, "a", "urn:a", "1", 0, nullptr, "req-1xx", 5));
    auto& policy = dynamic_cast<cml::CSetPolicyResponse&>(*ResponsesTagged(h, u"set-policy-response").at(0));
    auto& schema = dynamic_cast<cml::CSchemaResponse&>(*ResponsesTagged(h, u"set-schema-response").at(0));
    EXPECT_EQ(std::make_tuple(u"req-1", 0u, 0u, u"req-1", 0u, 1u),
              std::make_tuple(policy.GetRequestId(), policy.GetCode(), unsigned(policy.GetPolicyItemCount()),
                              schema.GetRequestId(), schema.GetCode(), unsigned(schema.GetSchemaCount())));
    ASSERT_EQ(0u, AddSetPolicyResponse(h, "b", "2", kPolicyNs, 0xC7380009u, "broken", "1.0.0", "req-2", 5));
    ASSERT_EQ(0u, AddSetSchemaResponse(h, "b", "urn:b", "2", 0xC738000Du, "bad", "req-2", 5));
    EXPECT_EQ(std::make_tuple(0xC7380017u, 1u, 0xC7380019u),
              std::make_tuple(policy.GetCode(), unsigned(policy.GetPolicyItemCount()), schema.GetCode()));
    policy.SetCode(0xC7380001u);
    schema.SetCode(0xC7380001u);
    ASSERT_EQ(0u, AddSetPolicyResponse(h, "c", nullptr, kPolicyNs, 7, nullptr, nullptr, "req-3", 5));
    ASSERT_EQ(0u, AddSetSchemaResponse(h, nullptr, "urn:c", nullptr, 9, nullptr, "req-3", 5));
    EXPECT_EQ(std::make_tuple(0xC7380001u, 2u, 0xC7380001u, 3u, 0xC738000Du),
              std::make_tuple(policy.GetCode(), unsigned(policy.GetPolicyItemCount()), schema.GetCode(),
                              unsigned(schema.GetSchemaCount()), schema.GetSchemaInfo(1).GetCode()));
    // Get-schema responses are shared per answered request.
    ASSERT_EQ(0u, AddGetSchemaResponse(h, "a", "urn:a", "1", 0, 0, kSchemaXml, Length(kSchemaXml), 1, "req-1", 5));
    ASSERT_EQ(0u, AddGetSchemaResponse(h, "c", "urn:c", "1", 0, nullptr, nullptr, 0, 0, "req-2", 5));
    const auto responses = ResponsesTagged(h, u"get-schema-response");
    ASSERT_EQ(2u, responses.size());
    const auto& first = dynamic_cast<const cml::CGetSchemaResponse&>(*responses[0]);
    EXPECT_EQ(std::make_tuple(1u, true, u"req-2"), std::make_tuple(unsigned(first.GetSchemaCount()),
                                                                   first.GetSchemaData(0).GetOverwrite(),
                                                                   responses[1]->GetRequestId()));
    EXPECT_EQ(4u, MessageOf(h)->GetResponses().size());
    // A set-policy response without item cannot be posted.
    Heartbeat empty = NewHeartbeat();
    ASSERT_EQ(0u, AddSetPolicyResponse(empty.get(), nullptr, nullptr, kPolicyNs, 0, nullptr, nullptr, "r", 1));
    EXPECT_EQ(0xC7210005u, PostHeartbeat(empty.release(), nullptr, nullptr));
    EXPECT_FALSE(Pending());
}

TEST_F(HeartbeatBuilderTest, AModuleHandleReachesTheStoredModule) {
    const Heartbeat heartbeat = NewHeartbeat();
    SS_Module module = nullptr;
    ASSERT_EQ(0u, AddModuleInfo(heartbeat.get(), "m", "1", 0x47380022u, "not sent", &module));
    // Modules added later must not move the first one away from its handle.
    for (int i = 0; i < 40; ++i) ASSERT_EQ(0u, AddModuleInfo(heartbeat.get(), "later", "2", 0, nullptr, nullptr));
    // Parameters added twice are appended.
    for (int i = 0; i < 2; ++i) ASSERT_EQ(0u, AddModuleInfoParams(module, kParamsXml, Length(kParamsXml)));
    const auto& modules = Content(heartbeat.get()).GetModules();
    ASSERT_EQ(42u, modules.size());
    EXPECT_EQ(std::make_tuple(0u, 4u, 0x47380022u, u"http://schemas.zel.example/cml"),
              std::make_tuple(unsigned(modules[2].GetParamCount()), unsigned(modules[1].GetParamCount()),
                              modules[1].GetStatus(), modules[1].GetNamespaceURI()));
}

}  // namespace
}  // namespace zel::ss::test
