// The demo agent: starts the library, registers every callback, sends heartbeats and a
// ping, answers the controller's schema requests, and says what happens, one line each.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tools/agent/agent_options.h"
#include "tools/agent/library_api.h"

namespace zel::agent {

// An answer owed to the controller, sent with the next heartbeat.
struct PendingAnswer {
    bool setSchema = false;  // true: set-schema-response; false: get-schema-response
    std::string requestId;
    std::string name;
    std::string schemaNamespace;
    std::string version;
};

// A schema document the controller installed, by namespace.
struct InstalledSchema {
    std::string schemaNamespace;
    std::string version;
    std::string name;
    std::string document;
};

class DemoAgent {
public:
    DemoAgent(const LibraryApi& api, const AgentOptions& options);
    DemoAgent(const DemoAgent&) = delete;
    DemoAgent& operator=(const DemoAgent&) = delete;
    ~DemoAgent();

    // Runs the whole session; the process's exit code.
    int Run();

private:
    // The library's callbacks are plain functions: they reach the running agent here.
    static DemoAgent* s_current;
    // The trace sink given to SS_Init and the levels OnTrace prints. The dispatch thread
    // traces until it ends, after SS_ShutDown and possibly after this object is gone, so
    // the sink outlives the object and does not point at it.
    static SS_TraceSink s_trace;
    static std::atomic<uint32_t> s_printedLevels;

    static uint32_t OnTrace(void* context, uint32_t level, const char* message, const char* where);
    static uint32_t OnError(uint32_t status, uint32_t channel);
    static uint32_t OnGetSchemaRequest(const char* requestId, uint32_t requestIdLength, uint32_t status,
                                       const char* agentId, const char* name, const char* schemaNamespace,
                                       const char* version, uint32_t code, const char* text, const char* schema,
                                       uint32_t schemaLength, uint32_t last);
    static uint32_t OnSetSchemaRequest(const char* requestId, uint32_t requestIdLength, uint32_t status,
                                       const char* agentId, const char* name, const char* schemaNamespace,
                                       const char* version, uint32_t code, const char* text, const char* schema,
                                       uint32_t schemaLength, uint32_t last);
    static uint32_t OnSchemaResponse(const char* requestId, uint32_t requestIdLength, uint32_t status,
                                     const char* agentId, const char* name, const char* schemaNamespace,
                                     const char* version, uint32_t code, const char* text, const char* schema,
                                     uint32_t schemaLength, uint32_t last);
    static uint32_t OnPolicyResponse(const char* requestId, uint32_t requestIdLength, uint32_t status,
                                     const char* agentId, const char* token, const char* name,
                                     const char* policyNamespace, const char* schemaVersion, uint32_t code,
                                     const char* text, const char* policy, uint32_t policyLength, uint32_t last);
    static uint32_t OnGroupSettings(const char* requestId, uint32_t requestIdLength, uint32_t status,
                                    const char* agentId, const char* token, const char* name,
                                    const char* policyNamespace, const char* schemaVersion, uint32_t code,
                                    const char* text, const char* policy, uint32_t policyLength, uint32_t last);
    static uint32_t OnGenericResponse(const char* tagName, const char* requestId, uint32_t status,
                                      const char* agentId, uint32_t code, const char* text, uint32_t last);
    static uint32_t OnResponseComplete(const char* responseTo);
    static uint32_t OnPing(const char* requestId, uint32_t requestIdLength, uint32_t status, const char* response,
                           uint32_t responseLength);

    // Builds one heartbeat with the answers owed so far and posts it; false on failure.
    bool SendHeartbeat(uint32_t number);
    // Adds the owed answers to `heartbeat`.
    uint32_t AddAnswers(SS_Heartbeat heartbeat);
    // Prints the controller list.
    void ShowControllers();
    // Waits until the reply to `messageId` was processed or `timeoutMs` passed.
    bool WaitForReply(const std::string& messageId, uint32_t timeoutMs);
    bool WaitForPing(uint32_t timeoutMs);

    const LibraryApi& m_api;
    const AgentOptions& m_options;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<PendingAnswer> m_pending;
    std::vector<InstalledSchema> m_schemas;
    std::vector<std::string> m_answeredReplies;
    bool m_pingDone = false;
};

// Prints one line "agent: <text>" (whole lines, from any thread) and writes it through the
// process's trace object.
void Say(const std::string& text);

}  // namespace zel::agent
