// Shared parts of the reply tests: reply documents written by hand, a log of every agent
// callback the library calls, and a library start against a server that answers each
// heartbeat with the next scripted reply.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "library_test.h"
#include "zel/platform_posix.h"

namespace zel::ss::test {

constexpr const char* kHeartbeatPath = "/zel/sensor_services/heartbeat";
constexpr const char* kCmlNs = "http://schemas.zel.example/cml";
constexpr const char* kGroupSettingsNs = "http://schemas.zel.example/cml/GroupSettings";

// A reply document: the "zel" root, the "cml" element and an envelope with message-id
// "reply-1", `responseTo`, a controller source, one destination naming agent `agentId`
// ("Agent One" in namespace "urn:agent"), and `requests` and `responses` (element texts
// placed inside "request" and "response"; an empty text leaves that element out).
std::string ReplyDocument(const std::string& requests, const std::string& responses,
                          const std::string& responseTo = "hb-42", const std::string& agentId = kAgentId);

// A group settings document naming the controllers `controllers` (controller-info elements).
std::string GroupSettingsDocument(const std::string& version, const std::string& controllers);

// Which callback a call went to.
enum class Callback {
    kSetSchemaRequest,
    kGetSchemaRequest,
    kGetSchemaResponse,
    kSetSchemaResponse,
    kGetPolicyResponse,
    kSetPolicyResponse,
    kGroupSettings,
    kGeneric,
    kResponseComplete,
};

// One call with its arguments; a null text argument is an empty optional.
struct CallRecord {
    Callback callback = Callback::kResponseComplete;
    std::optional<std::string> requestId;  // the generic callback's request id; response-to
    uint32_t requestIdLength = 0;
    uint32_t status = 0;
    std::optional<std::string> agentId;
    // Schema callbacks: name, namespace, version. Policy callbacks: token, name, namespace,
    // schema version. Generic callback: the tag name.
    std::vector<std::optional<std::string>> texts;
    uint32_t code = 0;
    std::optional<std::string> text;
    std::optional<std::string> document;
    uint32_t documentLength = 0;
    uint32_t last = 0;
};

bool operator==(const CallRecord& a, const CallRecord& b);
void PrintTo(const CallRecord& record, std::ostream* out);
using Texts = std::vector<std::optional<std::string>>;
// A call for agent kAgentId with status 0 and the lengths of `requestId` and `document`
// (the generic callback gets no lengths).
CallRecord Call(Callback callback, const std::string& requestId, Texts texts, uint32_t code = 0,
                std::optional<std::string> text = std::nullopt, std::optional<std::string> document = std::nullopt,
                uint32_t last = 0);
// The response-complete call for the reply to `responseTo`.
CallRecord Complete(const std::string& responseTo = "hb-42");

// Every call of the callbacks below, in order, from any thread.
class CallbackLog {
public:
    static CallbackLog& Instance();
    void Clear();
    std::vector<CallRecord> Calls() const;
    void Add(CallRecord record);

private:
    mutable std::mutex m_mutex;
    std::vector<CallRecord> m_calls;
};

// Registers the recording callback for `callback` (every kind has one).
uint32_t RegisterRecorder(Callback callback);

// A server whose n-th heartbeat post is answered with the n-th scripted reply (200,
// "application/x-zel-cml-data"); posts beyond the script get `FallbackReply()`.
class ReplyServer {
public:
    explicit ReplyServer(std::vector<std::string> replies);
    int Port() const { return m_server.Port(); }
    // Replaces the script (for replies that name the server's own port); the count of
    // posts answered so far stays.
    void SetReplies(std::vector<std::string> replies);
    const RecordingServer& Server() const { return m_server; }
    // A valid reply without messages.
    static std::string FallbackReply();

private:
    std::vector<std::string> m_replies;
    std::mutex m_mutex;
    std::size_t m_next = 0;
    RecordingServer m_server;
};

// A library start against a ReplyServer: synchronous mode unless `threaded`, with a short
// first back-off.
class ReplyTestBase : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        CallbackLog::Instance().Clear();
    }
    void Start(const ReplyServer& server, bool threaded = false, const std::string& properties = "") {
        Start(server.Port(), threaded, properties);
    }
    void Start(int controllerPort, bool threaded = false, const std::string& properties = "") {
        LibraryTest::Start({controllerPort}, threaded, "retryInterval = 100\n" + properties);
    }
    // Builds a heartbeat with the exports and posts it; the post's status.
    uint32_t PostOneHeartbeat();
    // Waits until `count` heartbeats have reached the server and the response-complete
    // callback has run `completes` times (or 20 s passed).
    bool WaitFor(const ReplyServer& server, std::size_t count, std::size_t completes) const;
};

// The number of calls of `callback` in `calls`.
std::size_t CountOf(const std::vector<CallRecord>& calls, Callback callback);

}  // namespace zel::ss::test
