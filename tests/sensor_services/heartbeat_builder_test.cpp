// Heartbeat construction through the exports: the argument rules every export shares, the
// caller's XML texts and the responses a heartbeat collects, where the golden heartbeat does
// not show them. The library runs in synchronous mode against a controller address nobody
// listens on, and nothing is ever sent.
#include "sensor_services/heartbeat_builder.h"

#include <gtest/gtest.h>

#include <sstream>

#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "library_test.h"
#include "sensor_services/heartbeat_message.h"

namespace zel::ss::test {
namespace {

constexpr const char* kParamsXml = "<params xmlns='http://schemas.zel.example/cml/common'><param name='a' value='1'/>"
                                   "<param name='b' value='2' ordinal='4'/></params>";
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
// null: it reads none), the call (with the heartbeat and its module), and the location under
// which it reports a missing announcement (null: `where`; "": it does not look for one).
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
const std::vector<ExportCase> kExports = {
    {"SetBasicAgentInfo", 1, true, nullptr,
     [](H h, M, A a) { return SetBasicAgentInfo(a.Or(0, h), "1", a.Long("p"), 0, "d", 0, "a", "b", "m", "g", 1, 1); }},
    {"SetAgentInfo", 1, true, nullptr, [](H h, M, A a) { return SetAgentInfo(a.Or(0, h), a.Long("1"), "1", 0, 0, 0); }},
    {"SetHostInfo", 1, true, nullptr,
     [](H h, M, A a) { return SetHostInfo(a.Or(0, h), "host", "10.1.1.1", "os", 0, "nb", "d", "o", a.Long("g")); }},
    {"AddSchemaInfo", 3, true, nullptr,
     [](H h, M, A a) { return AddSchemaInfo(a.Or(0, h), "n", a.Or(1, a.Long("urn:x")), a.Or(2, "1.0"), 1, 0, 0, 1); }},
    {"AddModuleInfo", 3, true, nullptr,
     [](H h, M, A a) { return AddModuleInfo(a.Or(0, h), a.Or(1, "mod"), a.Or(2, "1.0"), 0, a.Long("desc"), nullptr); }},
    {"AddModuleInfoParams", 3, false, "AddModuleInfoParams", [](H, M m, A a) {
         return AddModuleInfoParams(a.Or(0, m), a.Or(1, a.Xml(kParamsXml)), a.Or(2, a.XmlLength(kParamsXml))); }, ""},
    {"AddAgentParams", 3, false, "AddAgentParams", [](H h, M, A a) {
         return AddAgentParams(a.Or(0, h), a.Or(1, a.Xml(kParamsXml)), a.Or(2, a.XmlLength(kParamsXml))); },
     "CSensorServices::AddAgentParam()"},
    {"AddGetPolicyRequest", 2, true, nullptr,
     [](H h, M, A a) { return AddGetPolicyRequest(a.Or(0, h), a.Long("3"), "n", a.Or(1, "urn:p"), "1.0.0", 0, 0); }},
    {"AddAgentPolicyInfo", 2, false, nullptr,
     [](H h, M, A a) { return AddAgentPolicyInfo(a.Or(0, h), "3", "n", a.Or(1, "urn:p"), "1.0.0", nullptr, 0); }},
    {"AddGetSchemaRequest", 2, true, nullptr,
     [](H h, M, A a) { return AddGetSchemaRequest(a.Or(0, h), "n", a.Or(1, "urn:s"), a.Long("1"), nullptr, nullptr); }},
    {"AddSetSchemaRequest", 5, true, "SetSchemaRequest", [](H h, M, A a) {
         return AddSetSchemaRequest(a.Or(0, h), a.Long("n"), a.Or(1, "urn:s"), a.Or(2, "1.0"), 0,
                                    a.Or(3, a.Xml(kSchemaXml)), a.Or(4, a.XmlLength(kSchemaXml)), nullptr, nullptr); }},
    {"AddSetPolicyResponse", 4, true, nullptr, [](H h, M, A a) {
         return AddSetPolicyResponse(a.Or(0, h), "n", "1", a.Or(1, "urn:p"), 5, a.Long("t"), "1.0.0", a.Or(2, "r"),
                                     a.Or(3, 1u)); }},
    {"AddGetSchemaResponse", 4, true, "GetSchemaRequest", [](H h, M, A a) {
         return AddGetSchemaResponse(a.Or(0, h), "n", a.Or(1, "urn:s"), "1.0", 0, a.Long(nullptr), a.Xml(kSchemaXml),
                                     a.XmlLength(kSchemaXml), 0, a.Or(2, "r"), a.Or(3, 1u)); }},
    {"AddSetSchemaResponse", 4, true, nullptr, [](H h, M, A a) {
         return AddSetSchemaResponse(a.Or(0, h), 0, a.Or(1, "urn:s"), a.Long("1"), 5, 0, a.Or(2, "r"), a.Or(3, 1u)); }},
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
    // Expects `call` to fail with `status` and to trace one more error under `where`: `text` (with `pieces`: a line
    // that starts with `text` and holds each piece); and to leave the document of heartbeat `h` as it was.
    void ExpectRefused(uint32_t status, const std::string& text, const std::string& where, SS_Heartbeat h,
                       const std::function<uint32_t()>& call, const std::vector<std::string>& pieces = {}) {
        const std::string before = h ? Document(h) : "";
        const std::size_t traced = m_trace.Lines(where.c_str()).size();
        EXPECT_EQ(status, call());
        const std::vector<TraceLine> lines = m_trace.Lines(where.c_str());
        ASSERT_EQ(traced + 1, lines.size());
        const TraceLine& line = lines.back();
        const std::size_t compared = pieces.empty() ? std::string::npos : text.size();
        EXPECT_EQ(std::make_tuple(SS_TRACE_ERROR, text), std::make_tuple(line.level, line.message.substr(0, compared)));
        for (const std::string& piece : pieces) EXPECT_NE(std::string::npos, line.message.find(piece)) << line.message;
        EXPECT_EQ(before, h ? Document(h) : "");
    }
    SS_Module m_module = nullptr;
};

// Each export refuses: each null required argument; a handle without announcement (where it
// looks for one); a text that does not end within its first megabyte (where it checks); XML that
// cannot be parsed (where it reads XML). Every refusal is traced and attaches nothing.
TEST_F(HeartbeatBuilderTest, ExportsRefuseBadArgumentsAndAttachNothing) {
    const std::string tooLarge(0x100000, 'a'), largest(0xFFFFF, 'a');
    const std::vector<std::string> unparsable = {
        "<params xmlns='http://schemas.zel.example/cml/common'><param name='a'></params>",
        "<!DOCTYPE params [<!ENTITY e 'x'>]><params>&e;</params>",
    };
    for (const ExportCase& c : kExports) {
        const std::string where = std::string("CSensorServices::") + c.name + "()";
        SCOPED_TRACE(where);
        const Heartbeat heartbeat = NewHeartbeat();
        const SS_Heartbeat h = heartbeat.get();
        for (int which = 0; which < c.requiredCount; ++which)
            ExpectRefused(0xC7210003u, "A required input parameter is NULL.", where, h,
                          [&] { return c.call(h, m_module, Args{which}); });
        // A failed length check keeps what was set before it: the document may change.
        if (c.lengthChecked)
            ExpectRefused(0xC7210003u, "An input parameter is too large.", where, nullptr,
                          [&] { return c.call(h, m_module, Args{-1, tooLarge.c_str()}); });
        // The same arguments without a null one, with the longest text, are accepted: each refusal was the null's.
        EXPECT_EQ(0u, c.call(h, m_module, Args{-1, c.lengthChecked ? largest.c_str() : nullptr}));
        // What was attached must stay exactly as it is.
        for (const std::string& xml : c.documentName ? unparsable : std::vector<std::string>{}) {
            SCOPED_TRACE(xml);
            ExpectRefused(0xC7560012u, "parse failed with CML error. Exception: ", where, h,
                          [&] { return c.call(h, m_module, Args{-1, nullptr, &xml}); },
                          {" CML code: 0xc738000", " ERR code: 0xc738000",
                           "ZEL-SensorServices-" + std::string(c.documentName)});
        }
        if (c.announcementName && !*c.announcementName) continue;
        cml::CCmlMessage message;
        message.SetMessageId(u"m-1");
        message.AddRequest(std::make_unique<cml::CGetPolicyRequest>());
        const std::string at = c.announcementName ? c.announcementName : where;
        ExpectRefused(0xC7210005u, "Heartbeat message is missing its startup announcement", at, nullptr,
                      [&] { return c.call(HandleOf(&message), nullptr, Args{}); });
        EXPECT_EQ(std::make_pair(std::size_t(1), std::size_t(0)),
                  std::make_pair(message.GetRequests().size(), message.GetResponses().size()));
    }
    // A module refused for its description leaves no handle.
    SS_Module module = reinterpret_cast<SS_Module>(&module);
    EXPECT_EQ(0xC7210003u, AddModuleInfo(NewHeartbeat().get(), "m", "1", 0, tooLarge.c_str(), &module));
    EXPECT_EQ(nullptr, module);
}

// SetAgentInfo reads the status as decimal and registers the agent; a set-schema callback
// makes the agent ask for new schemas. (The other fields the setters write and the flags
// without a set-schema callback: the golden heartbeat.)
TEST_F(HeartbeatBuilderTest, AgentInfo) {
    ASSERT_EQ(0u, RegisterSetSchemaRequest(RecordSchema<Callback::kSetSchemaRequest>));
    const Heartbeat heartbeat = NewHeartbeat();
    const cml::CAgentInfoContent& c = Content(heartbeat.get());
    // Registration off, status 2.
    ASSERT_EQ(0u, SetBasicAgentInfo(heartbeat.get(), "1.0", "/last", 1, "d", 2, nullptr, nullptr, "m", nullptr, 1, 0));
    ASSERT_EQ(0u, SetAgentInfo(heartbeat.get(), "2.0", "3340828675", "not read", nullptr, "/daemon"));
    EXPECT_EQ(std::make_tuple(0xC7210003u, u"true", true),
              std::make_tuple(c.GetAgentStatus(), c.GetRegisterAgent(), c.GetSendNewSchemas()));
}

// A set-policy request that could never be written is refused when it is added, so that it
// cannot make the whole heartbeat fail when it is posted (null failure: accepted, keeping the
// identifier its text names). (Parameters in document order, other elements skipped, the given
// length: the golden heartbeat.)
TEST_F(HeartbeatBuilderTest, ASetPolicyRequestThatCouldNotBeWrittenIsRefused) {
    const std::string p = "<policy xmlns='http://schemas.zel.example/cml/P' name='p' schema-version=";
    const std::string base = "<policy schema-version='1.0.0' xmlns='http://schemas.zel.example/cml/PolicyBase'";
    const struct { std::string policies; const char* failure; } cases[] = {
        {"", "Reading set-policy-request:  No policy specified; error = 0xc7380009"},
        {p + "'1.0.0'/>" + p + "'2.0.0'/>", "error = 0xc738000e"},
        {base + "/>" + base + " name='2'/>", nullptr},
    };
    for (const auto& c : cases) {
        const std::string xml = "<set-policy-request xmlns='http://schemas.zel.example/cml' request-id='agent-chosen'"
                                ">" + c.policies + "</set-policy-request>";
        SCOPED_TRACE(xml);
        Heartbeat heartbeat = NewHeartbeat();
        char id[36];
        uint32_t idLength = sizeof id;
        const auto add = [&] {
            return AddSetPolicyRequest(heartbeat.get(), xml.data(), uint32_t(xml.size()), id, &idLength);
        };
        if (!c.failure) {
            ASSERT_EQ(0u, add());
            const auto& request = dynamic_cast<cml::CSetPolicyRequest&>(*MessageOf(heartbeat.get())->GetRequests()[1]);
            EXPECT_EQ(std::make_tuple(2u, u"agent-chosen", std::string("agent-chosen")),
                      std::make_tuple(unsigned(request.GetPolicySourceCount()), request.GetRequestId(),
                                      std::string(id, idLength)));
            continue;
        }
        ExpectRefused(0xC7560012u, "", "CSensorServices::AddSetPolicyRequest()", heartbeat.get(), add, {c.failure});
        // The heartbeat can still be written and queued (the post itself finds no controller).
        const uint32_t posted = PostHeartbeat(heartbeat.release(), nullptr, nullptr);
        EXPECT_NE(0xC7210005u, posted);
        EXPECT_EQ(posted != 0, Pending());
    }
}

// Responses of a kind share one response, cut to the given identifier length; only the first
// failed item marks it failed. (A failed set-policy item, which marks its response alike, and
// two get-schema results of one request: the golden heartbeat.) A set-policy response keeps
// no item that succeeded: one without failed items cannot be posted.
TEST_F(HeartbeatBuilderTest, ResponsesOfAKindShareOneResponse) {
    const Heartbeat heartbeat = NewHeartbeat();
    const auto h = heartbeat.get();
    ASSERT_EQ(0u, AddSetSchemaResponse(h, "a", "urn:a", "1", 0, nullptr, "req-1xx", 5));
    ASSERT_EQ(0u, AddSetSchemaResponse(h, "b", "urn:b", "2", 0xC738000Du, "bad", "req-2", 5));
    ASSERT_EQ(0u, AddSetSchemaResponse(h, nullptr, "urn:c", nullptr, 9, nullptr, "req-3", 5));
    ASSERT_EQ(1u, MessageOf(h)->GetResponses().size());
    const auto& schema = dynamic_cast<const cml::CSchemaResponse&>(*MessageOf(h)->GetResponses()[0]);
    EXPECT_EQ(std::make_tuple(u"req-1", 0xC7380019u, 3u, 0xC738000Du),
              std::make_tuple(schema.GetRequestId(), schema.GetCode(), unsigned(schema.GetSchemaCount()),
                              schema.GetSchemaInfo(1).GetCode()));
    Heartbeat empty = NewHeartbeat();
    ASSERT_EQ(0u, AddSetPolicyResponse(empty.get(), "a", "1", "urn:p", 0, "fine", nullptr, "r", 1));
    EXPECT_EQ(0xC7210005u, PostHeartbeat(empty.release(), nullptr, nullptr));
    EXPECT_FALSE(Pending());
}

// A module handle stays valid however many modules follow, and parameters added twice are
// appended. (A null handle is refused like any null argument.)
TEST_F(HeartbeatBuilderTest, AModuleHandleReachesTheStoredModule) {
    const Heartbeat heartbeat = NewHeartbeat();
    EXPECT_EQ(0xC7210003u, AddModuleInfoParams(static_cast<SS_Module>(nullptr), kParamsXml, Length(kParamsXml)));
    for (int i = 0; i < 40; ++i) ASSERT_EQ(0u, AddModuleInfo(heartbeat.get(), "later", "2", 0, nullptr, nullptr));
    for (int i = 0; i < 2; ++i) ASSERT_EQ(0u, AddModuleInfoParams(m_module, kParamsXml, Length(kParamsXml)));
    const auto& modules = Content(heartbeat.get()).GetModules();
    ASSERT_EQ(41u, modules.size());
    EXPECT_EQ(std::make_tuple(4u, 0u), std::make_tuple(unsigned(modules[0].GetParamCount()),
                                                       unsigned(modules[1].GetParamCount())));
}

}  // namespace
}  // namespace zel::ss::test
