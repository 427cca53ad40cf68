#include "reply_fixture.h"

#include <tuple>
#include <utility>

#include "sensor_services/internal.h"
#include "zel/platform_posix.h"
#include "zel/sensor_services.h"

namespace zel::ss::test {

namespace {

std::optional<std::string> Text(const char* text) {
    return text ? std::optional<std::string>(text) : std::nullopt;
}

// The document arguments are byte buffers with a length, not NUL-terminated texts.
std::optional<std::string> Bytes(const char* bytes, uint32_t length) {
    return bytes ? std::optional<std::string>(std::string(bytes, length)) : std::nullopt;
}

template <Callback Kind>
uint32_t RecordSchema(const char* requestId, uint32_t requestIdLength, uint32_t status, const char* agentId,
                      const char* name, const char* schemaNamespace, const char* version, uint32_t code,
                      const char* text, const char* schema, uint32_t schemaLength, uint32_t last) {
    CallbackLog::Instance().Add({Kind, Text(requestId), requestIdLength, status, Text(agentId),
                                 {Text(name), Text(schemaNamespace), Text(version)}, code, Text(text),
                                 Bytes(schema, schemaLength), schemaLength, last});
    return 0;
}

template <Callback Kind>
uint32_t RecordPolicy(const char* requestId, uint32_t requestIdLength, uint32_t status, const char* agentId,
                      const char* token, const char* name, const char* policyNamespace, const char* schemaVersion,
                      uint32_t code, const char* text, const char* policy, uint32_t policyLength, uint32_t last) {
    CallbackLog::Instance().Add({Kind, Text(requestId), requestIdLength, status, Text(agentId),
                                 {Text(token), Text(name), Text(policyNamespace), Text(schemaVersion)}, code,
                                 Text(text), Bytes(policy, policyLength), policyLength, last});
    return 0;
}

uint32_t RecordGeneric(const char* tagName, const char* requestId, uint32_t status, const char* agentId,
                       uint32_t code, const char* text, uint32_t last) {
    CallRecord record{Callback::kGeneric, Text(requestId), 0, status, Text(agentId), {Text(tagName)}, code,
                      Text(text), std::nullopt, 0, last};
    CallbackLog::Instance().Add(std::move(record));
    return 0;
}

uint32_t RecordComplete(const char* responseTo) {
    CallRecord record;
    record.callback = Callback::kResponseComplete;
    record.requestId = Text(responseTo);
    CallbackLog::Instance().Add(std::move(record));
    return 0;
}

}  // namespace

std::string ReplyDocument(const std::string& requests, const std::string& responses, const std::string& responseTo,
                          const std::string& agentId) {
    std::string document =
        "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
        "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>\n"
        "  <cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>\n"
        "    <message-envelope message-id='reply-1' response-to='" +
        responseTo +
        "'>\n"
        "      <source name='DesktopController' namespace='http://schemas.zel.example/cml/DesktopController'/>\n"
        "      <destination name='Agent One' namespace='urn:agent' agent-id='" +
        agentId +
        "'/>\n"
        "      <message-body>\n";
    if (!requests.empty()) document += "        <request>\n" + requests + "        </request>\n";
    if (!responses.empty()) document += "        <response>\n" + responses + "        </response>\n";
    document +=
        "      </message-body>\n"
        "    </message-envelope>\n"
        "  </cml>\n"
        "</zel>\n";
    return document;
}

std::string GroupSettingsDocument(const std::string& version, const std::string& controllers) {
    return "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Night Shift' version='" + version +
           "' schema-version='1.0.0'><controller-list>" + controllers + "</controller-list></policy>";
}

namespace {
auto Tied(const CallRecord& r) {
    return std::tie(r.callback, r.requestId, r.requestIdLength, r.status, r.agentId, r.texts, r.code, r.text,
                    r.document, r.documentLength, r.last);
}
}  // namespace

bool operator==(const CallRecord& a, const CallRecord& b) { return Tied(a) == Tied(b); }

void PrintTo(const CallRecord& r, std::ostream* out) {
    *out << "{" << static_cast<int>(r.callback) << ", " << ::testing::PrintToString(r.requestId) << "/"
         << r.requestIdLength << ", status " << r.status << ", " << ::testing::PrintToString(r.agentId) << ", "
         << ::testing::PrintToString(r.texts) << ", code " << r.code << ", " << ::testing::PrintToString(r.text)
         << ", " << ::testing::PrintToString(r.document) << "/" << r.documentLength << ", last " << r.last << "}";
}

CallRecord Call(Callback callback, const std::string& requestId, Texts texts, uint32_t code,
                std::optional<std::string> text, std::optional<std::string> document, uint32_t last) {
    const bool generic = callback == Callback::kGeneric;
    const auto documentLength = static_cast<uint32_t>(document ? document->size() : 0);
    return {callback, requestId, generic ? 0 : static_cast<uint32_t>(requestId.size()), 0, kAgentId,
            std::move(texts), code, std::move(text), std::move(document), documentLength, last};
}

CallRecord Complete(const std::string& responseTo) {
    CallRecord record;
    record.requestId = responseTo;
    return record;
}

CallbackLog& CallbackLog::Instance() {
    static CallbackLog log;
    return log;
}

void CallbackLog::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
}

std::vector<CallRecord> CallbackLog::Calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

void CallbackLog::Add(CallRecord record) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(std::move(record));
}

uint32_t RegisterRecorder(Callback callback) {
    switch (callback) {
        case Callback::kSetSchemaRequest:
            return RegisterSetSchemaRequest(&RecordSchema<Callback::kSetSchemaRequest>);
        case Callback::kGetSchemaRequest:
            return RegisterGetSchemaRequest(&RecordSchema<Callback::kGetSchemaRequest>);
        case Callback::kGetSchemaResponse:
            return RegisterGetSchemaResponse(&RecordSchema<Callback::kGetSchemaResponse>);
        case Callback::kSetSchemaResponse:
            return RegisterSetSchemaResponse(&RecordSchema<Callback::kSetSchemaResponse>);
        case Callback::kGetPolicyResponse:
            return RegisterGetPolicyResponse(&RecordPolicy<Callback::kGetPolicyResponse>);
        case Callback::kSetPolicyResponse:
            return RegisterSetPolicyResponse(&RecordPolicy<Callback::kSetPolicyResponse>);
        case Callback::kGroupSettings:
            return RegisterGroupSettingsResponse(&RecordPolicy<Callback::kGroupSettings>);
        case Callback::kGeneric:
            return RegisterGenericResponse(&RecordGeneric);
        case Callback::kResponseComplete:
            return RegisterResponseComplete(&RecordComplete);
    }
    return ZEL_E_INVALIDARG;
}

ReplyServer::ReplyServer(std::vector<std::string> replies)
    : m_replies(std::move(replies)), m_server([this](const httplib::Request&, httplib::Response& response) {
          std::string body;
          {
              std::lock_guard<std::mutex> lock(m_mutex);
              body = m_next < m_replies.size() ? m_replies[m_next] : FallbackReply();
              ++m_next;
          }
          response.set_content(body, "application/x-zel-cml-data");
      }) {}

void ReplyServer::SetReplies(std::vector<std::string> replies) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replies = std::move(replies);
}

std::string ReplyServer::FallbackReply() { return ReplyDocument("", "", "fallback"); }

uint32_t ReplyTestBase::PostOneHeartbeat() {
    SS_Heartbeat heartbeat = nullptr;
    const uint32_t created = CreateHeartbeat(&heartbeat, kAgentId, "Agent One", "urn:agent", "1.0", "127.0.0.1");
    if (created != 0) return created;
    return PostHeartbeat(heartbeat, nullptr, nullptr);
}

bool ReplyTestBase::WaitFor(const ReplyServer& server, std::size_t count, std::size_t completes) const {
    return server.Server().WaitForPosts(count) && Eventually([&] {
               return CountOf(CallbackLog::Instance().Calls(), Callback::kResponseComplete) >= completes;
           });
}

std::size_t CountOf(const std::vector<CallRecord>& calls, Callback callback) {
    std::size_t count = 0;
    for (const CallRecord& call : calls)
        if (call.callback == callback) ++count;
    return count;
}

}  // namespace zel::ss::test
