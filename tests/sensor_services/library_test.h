// The fixture of the tests that link the library's code: a library start per test, reply
// documents written by hand, a log of every agent callback the library calls, a server that
// answers each heartbeat with the next scripted reply, and the parsing of posted heartbeats.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "sensor_services/internal.h"
#include "services_fixture.h"
#include "zel/platform_posix.h"

namespace zel::ss::test {

constexpr const char* kCmlType = "application/x-zel-cml-data";
constexpr const char* kGroupSettingsNs = "http://schemas.zel.example/cml/GroupSettings";

// A reply to `responseTo` from the controller for agent `agentId`, with `requests` and
// `responses` placed inside "request" and "response" (an empty text leaves that out).
inline std::string ReplyDocument(const std::string& requests, const std::string& responses,
                                 const std::string& responseTo = "hb-42", const std::string& agentId = kAgentId) {
    return "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
           "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>\n"
           "  <cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>\n"
           "    <message-envelope message-id='reply-1' response-to='" + responseTo + "'>\n"
           "      <source name='DesktopController' namespace='http://schemas.zel.example/cml/DesktopController'/>\n"
           "      <destination name='Agent One' namespace='urn:agent' agent-id='" + agentId + "'/>\n"
           "      <message-body>\n" + (requests.empty() ? "" : "<request>\n" + requests + "</request>\n") +
           (responses.empty() ? "" : "<response>\n" + responses + "</response>\n") +
           "      </message-body>\n    </message-envelope>\n  </cml>\n</zel>\n";
}
inline std::string FallbackReply() { return ReplyDocument("", "", "fallback"); }

// The envelope of a posted heartbeat.
inline cml::CCmlMessage Parsed(const std::string& body) {
    cml::CCmlParser parser;
    parser.ParseBuffer(reinterpret_cast<const XMLByte*>(body.data()), unsigned(body.size()), cml::kParseNonValidating);
    cml::CCmlMessage envelope;
    envelope.Deserialize(parser.GetEnvelopeElement());
    return envelope;
}

// Which callback a call went to.
enum class Callback {
    kSetSchemaRequest, kGetSchemaRequest, kGetSchemaResponse, kSetSchemaResponse, kGetPolicyResponse,
    kSetPolicyResponse, kGroupSettings, kGeneric, kResponseComplete, kPing,
};

using Text = std::optional<std::string>;
// One call with its arguments; a null text argument is an empty optional. Texts: schema name,
// namespace, version; policy token, name, namespace, schema version; the generic tag name.
// The request id is the generic callback's request id, response-complete's response-to.
struct CallRecord {
    Callback callback = Callback::kResponseComplete;
    Text requestId{};
    uint32_t requestIdLength = 0, status = 0;
    Text agentId{};
    std::vector<Text> texts{};
    uint32_t code = 0;
    Text text{}, document{};
    uint32_t documentLength = 0, last = 0;
    auto Tied() const {
        return std::tie(callback, requestId, requestIdLength, status, agentId, texts, code, text, document,
                        documentLength, last);
    }
    bool operator==(const CallRecord& other) const { return Tied() == other.Tied(); }
};
inline void PrintTo(const CallRecord& r, std::ostream* out) {
    *out << int(r.callback) << ::testing::PrintToString(r.Tied());
}

// A call for agent kAgentId with status 0 and the lengths of `requestId` and `document`
// (the generic callback gets no request id length).
inline CallRecord Call(Callback callback, const std::string& requestId, std::vector<Text> texts, uint32_t code = 0,
                       Text text = std::nullopt, Text document = std::nullopt, uint32_t last = 0) {
    const auto idLength = uint32_t(callback == Callback::kGeneric ? 0 : requestId.size());
    return {callback, requestId, idLength, 0, kAgentId, std::move(texts), code, std::move(text), document,
            uint32_t(document ? document->size() : 0), last};
}
// The response-complete call for the reply to `responseTo`.
inline CallRecord Complete(const std::string& to = "hb-42") { return {Callback::kResponseComplete, to}; }

// Every call of the recording callbacks, in order, from any thread.
inline Recorded<CallRecord> g_calls;
inline std::vector<CallRecord> Calls() { return g_calls.Items(); }

// The document arguments are byte buffers with a length, not NUL-terminated texts.
inline Text Opt(const char* text) { return text ? Text(text) : std::nullopt; }
inline Text Opt(const char* bytes, uint32_t length) { return bytes ? Text(std::string(bytes, length)) : std::nullopt; }

// The recorder of the schema callbacks (three texts) and the policy ones (four texts).
template <Callback Kind, typename... Names>
uint32_t Record(const char* requestId, uint32_t requestIdLength, uint32_t status, const char* agentId, Names... names,
                uint32_t code, const char* text, const char* document, uint32_t length, uint32_t last) {
    g_calls.Add({Kind, Opt(requestId), requestIdLength, status, Opt(agentId), {Opt(names)...}, code, Opt(text),
                 Opt(document, length), length, last});
    return 0;
}
template <Callback Kind>
constexpr auto RecordSchema = &Record<Kind, const char*, const char*, const char*>;
template <Callback Kind>
constexpr auto RecordPolicy = &Record<Kind, const char*, const char*, const char*, const char*>;
// The ping callback's recorder: the reply as the document.
inline uint32_t RecordPing(const char* id, uint32_t idLength, uint32_t status, const char* reply, uint32_t length) {
    g_calls.Add({Callback::kPing, Opt(id, idLength), idLength, status, {}, {}, 0, {}, Opt(reply, length), length});
    return 0;
}

inline uint32_t Length(const char* text) { return static_cast<uint32_t>(std::strlen(text)); }
inline bool Pending() {
    bool pending = false;
    EXPECT_EQ(0u, GetHeartbeatPending(pending));
    return pending;
}

// Registers a recorder for every callback (the generic one only when `generic`).
inline void RegisterAll(bool generic = true) {
    using C = Callback;
    ASSERT_EQ(0u, RegisterSetSchemaRequest(RecordSchema<C::kSetSchemaRequest>));
    ASSERT_EQ(0u, RegisterGetSchemaRequest(RecordSchema<C::kGetSchemaRequest>));
    ASSERT_EQ(0u, RegisterGetSchemaResponse(RecordSchema<C::kGetSchemaResponse>));
    ASSERT_EQ(0u, RegisterSetSchemaResponse(RecordSchema<C::kSetSchemaResponse>));
    ASSERT_EQ(0u, RegisterGetPolicyResponse(RecordPolicy<C::kGetPolicyResponse>));
    ASSERT_EQ(0u, RegisterSetPolicyResponse(RecordPolicy<C::kSetPolicyResponse>));
    ASSERT_EQ(0u, RegisterGroupSettingsResponse(RecordPolicy<C::kGroupSettings>));
    ASSERT_EQ(0u, RegisterResponseComplete([](const char* to) {
        g_calls.Add({C::kResponseComplete, Opt(to)});
        return 0u;
    }));
    if (!generic) return;
    ASSERT_EQ(0u, RegisterGenericResponse([](const char* tag, const char* requestId, uint32_t status,
                                             const char* agentId, uint32_t code, const char* text, uint32_t last) {
        g_calls.Add({C::kGeneric, Opt(requestId), 0, status, Opt(agentId), {Opt(tag)}, code, Opt(text), {}, 0, last});
        return 0u;
    }));
}

// A server whose n-th heartbeat post is answered with the n-th scripted reply (200, CML
// data); posts beyond the script get FallbackReply().
// (SetReplies replaces the script, for replies that name the server's own port.)
struct ReplyServer {
    explicit ReplyServer(std::vector<std::string> replies) : m_replies(std::move(replies)) {}
    int Port() const { return server.Port(); }
    void SetReplies(std::vector<std::string> replies) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_replies = std::move(replies);
    }
    std::mutex m_mutex;
    std::vector<std::string> m_replies;
    std::size_t m_next = 0;
    RecordingServer server{[this](const httplib::Request&, httplib::Response& response) {
        std::lock_guard<std::mutex> lock(m_mutex);
        response.set_content(m_next < m_replies.size() ? m_replies[m_next++] : FallbackReply(), kCmlType);
    }};
};

// The eight fields of controller `index` ("<null>": none); empty when the module refuses.
inline std::vector<std::string> ControllerFields(uint32_t index) {
    char* t[8] = {};
    if (SS_GetControllerInfo(index, &t[0], &t[1], &t[2], &t[3], &t[4], &t[5], &t[6], &t[7]) != 0) return {};
    std::vector<std::string> fields;
    for (char* text : t) fields.push_back(text ? text : "<null>"), SS_Free(text);
    return fields;
}

// Each test starts and ends with the library shut down; the logs are cleared first.
class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ErrorLog::Instance().Clear();
        g_calls.Clear();
    }
    // The dispatch thread may still trace while it ends: the recorder must outlive it.
    void TearDown() override {
        EXPECT_EQ(0u, SS_ShutDown());
        WaitUntilLibraryGone();
    }
    // Restarts from scratch between the rows of a test.
    void Restart() { TearDown(), SetUp(); }
    // Writes the settings files naming `ports`, adding `properties` to the sensor_services
    // section, and starts the library (threaded: with m_platform) with ErrorLog's callback.
    void Start(const std::vector<int>& ports, bool threaded, const std::string& properties = "") {
        m_files = std::make_unique<SettingsFiles>(ports, properties);
        ASSERT_EQ(0u, SS_Init("3.0", m_files->PropertyFile().c_str(), m_files->GroupSettingsFile().c_str(), kAgentId,
                              0, threaded ? m_platform : nullptr, m_trace.Sink()));
        ASSERT_EQ(0u, SS_RegisterErrorCallback(&ErrorLog::Callback));
    }
    // One controller, with a short first back-off.
    void Start(int port, bool threaded = false, const std::string& properties = "") {
        Start(std::vector<int>{port}, threaded, "retryInterval = 100\n" + properties);
    }
    void Start(const ReplyServer& server, bool threaded = false) { Start(server.Port(), threaded); }
    // Builds a heartbeat with the exports and posts it; the post's status.
    static uint32_t PostOneHeartbeat() {
        SS_Heartbeat heartbeat = nullptr;
        const uint32_t created = CreateHeartbeat(&heartbeat, kAgentId, "Agent One", "urn:agent", "1.0", "127.0.0.1");
        return created ? created : PostHeartbeat(heartbeat, nullptr, nullptr);
    }
    // Waits until `count` heartbeats have reached the server and the response-complete
    // callback has run `completes` times.
    static bool WaitFor(const ReplyServer& server, std::size_t count, std::size_t completes) {
        const auto complete = [](const CallRecord& c) { return c.callback == Callback::kResponseComplete; };
        return server.server.WaitForPosts(count) &&
               Eventually([&] { return g_calls.Items(complete).size() >= completes; });
    }

    TraceRecorder m_trace;
    std::unique_ptr<SettingsFiles> m_files;
    const SS_PlatformServices* m_platform = ZEL_PosixPlatformServices();
};

}  // namespace zel::ss::test
