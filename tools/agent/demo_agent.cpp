#include "tools/agent/demo_agent.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "runtime/trace.h"
#include "zel/platform_posix.h"

namespace zel::agent {

namespace {

constexpr const char* kAgentName = "ss-agent";
constexpr const char* kAgentNamespace = "http://schemas.zel.example/agents/demo";
constexpr const char* kAgentVersion = "1.0.0";
constexpr const char* kModuleParams =
    "<params xmlns='http://schemas.zel.example/cml/common'>"
    "<param name='scan-interval' value='3600'/><param name='quarantine' value='on'/></params>";
// The trace categories of the lines ss-agent writes through the process's trace object.
constexpr uint32_t kLibraryCategory = 0x1000;  // the library's trace sink lines
constexpr uint32_t kAgentCategory = 0x2000;    // the lines the agent prints
constexpr uint32_t kEveryTraceLevel = SS_TRACE_ERROR | SS_TRACE_WARNING | SS_TRACE_INFO;
// The status with which the agent answers a request for a schema it does not hold.
constexpr uint32_t kSchemaNotHeld = ZEL_E_CML_GET_SCHEMA_REQUEST_FAILED;

std::string Hex(uint32_t value) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

std::string Text(const char* text) { return text ? text : ""; }

const char* ChannelName(uint32_t channel) {
    return channel == SS_CHANNEL_PING ? "ping" : channel == SS_CHANNEL_HEARTBEAT ? "heartbeat" : "post";
}

// Prints one line "agent: <text>" (whole lines, from any thread).
void Print(const std::string& text) {
    static std::mutex console;
    std::lock_guard<std::mutex> lock(console);
    std::cout << "agent: " << text << std::endl;
}

}  // namespace

DemoAgent* DemoAgent::s_current = nullptr;
SS_TraceSink DemoAgent::s_trace = {nullptr, 0, &DemoAgent::OnTrace};
std::atomic<uint32_t> DemoAgent::s_printedLevels{0};

void Say(const std::string& text) {
    if (TraceInterface* const trace = ProcessTrace())
        trace->Trace(kAgentCategory, SS_TRACE_INFO, kAgentName, "%s", text.c_str());
    Print(text);
}

// With a trace log the library traces every level: the log takes them all, the console
// those of --trace.
DemoAgent::DemoAgent(const LibraryApi& api, const AgentOptions& options) : m_api(api), m_options(options) {
    s_current = this;
    s_printedLevels = options.traceMask;
    s_trace.levelMask = options.traceLog.empty() ? options.traceMask : options.traceMask | kEveryTraceLevel;
}

DemoAgent::~DemoAgent() { s_current = nullptr; }

uint32_t DemoAgent::OnTrace(void*, uint32_t level, const char* message, const char* where) {
    if (TraceInterface* const trace = ProcessTrace())
        trace->Trace(kLibraryCategory, level, where, "%s", Text(message).c_str());
    if ((level & s_printedLevels) == 0) return 0;
    const char* const kind = level & SS_TRACE_ERROR ? "error" : level & SS_TRACE_WARNING ? "warning" : "info";
    Print(std::string("library ") + kind + " in " + Text(where) + ": " + Text(message));
    return 0;
}

uint32_t DemoAgent::OnError(uint32_t status, uint32_t channel) {
    Say(std::string(ChannelName(channel)) + " post failed with " + Hex(status) + "; the library retries");
    return 0;
}

uint32_t DemoAgent::OnGetSchemaRequest(const char* requestId, uint32_t, uint32_t, const char*, const char* name,
                                       const char* schemaNamespace, const char* version, uint32_t, const char*,
                                       const char*, uint32_t, uint32_t) {
    Say("controller asks for schema " + Text(schemaNamespace) + " version " + Text(version) +
        "; answering with the next heartbeat");
    std::lock_guard<std::mutex> lock(s_current->m_mutex);
    s_current->m_pending.push_back({false, Text(requestId), Text(name), Text(schemaNamespace), Text(version)});
    return 0;
}

uint32_t DemoAgent::OnSetSchemaRequest(const char* requestId, uint32_t, uint32_t, const char*, const char* name,
                                       const char* schemaNamespace, const char* version, uint32_t, const char*,
                                       const char* schema, uint32_t schemaLength, uint32_t) {
    Say("controller sends schema " + Text(schemaNamespace) + " version " + Text(version) + " (" +
        std::to_string(schemaLength) + " bytes): installed; answering with the next heartbeat");
    std::lock_guard<std::mutex> lock(s_current->m_mutex);
    s_current->m_schemas.push_back({Text(schemaNamespace), Text(version), Text(name),
                                    schema ? std::string(schema, schemaLength) : std::string()});
    s_current->m_pending.push_back({true, Text(requestId), Text(name), Text(schemaNamespace), Text(version)});
    return 0;
}

uint32_t DemoAgent::OnSchemaResponse(const char* requestId, uint32_t, uint32_t, const char*, const char*,
                                     const char* schemaNamespace, const char*, uint32_t code, const char*,
                                     const char*, uint32_t schemaLength, uint32_t) {
    Say("schema answer to request " + Text(requestId) + ": " + Text(schemaNamespace) + " code " + Hex(code) +
        (schemaLength ? " with " + std::to_string(schemaLength) + " bytes" : std::string()));
    return 0;
}

uint32_t DemoAgent::OnPolicyResponse(const char* requestId, uint32_t, uint32_t, const char*, const char* token,
                                     const char*, const char* policyNamespace, const char*, uint32_t code,
                                     const char*, const char*, uint32_t, uint32_t) {
    Say("policy answer to request " + Text(requestId) + ": " + Text(policyNamespace) + " version '" + Text(token) +
        "' code " + Hex(code));
    return 0;
}

uint32_t DemoAgent::OnGroupSettings(const char*, uint32_t, uint32_t, const char*, const char* token,
                                    const char* name, const char*, const char*, uint32_t, const char*,
                                    const char*, uint32_t policyLength, uint32_t) {
    Say("group settings" + (name && *name ? " '" + Text(name) + "'" : std::string()) + " updated to version " +
        Text(token) + " (" +
        std::to_string(policyLength) + " bytes), saved to " + s_current->m_options.groupSettingsFile +
        " and loaded");
    s_current->ShowControllers();
    return 0;
}

uint32_t DemoAgent::OnGenericResponse(const char* tagName, const char* requestId, uint32_t, const char*,
                                      uint32_t code, const char* text, uint32_t) {
    std::string line = "controller answered " + Text(requestId) + " with " + Text(tagName) + " code " + Hex(code);
    if (text && *text) line += std::string(" \"") + text + "\"";
    Say(line);
    return 0;
}

uint32_t DemoAgent::OnResponseComplete(const char* responseTo) {
    Say("reply to heartbeat " + Text(responseTo) + " processed");
    std::lock_guard<std::mutex> lock(s_current->m_mutex);
    s_current->m_answeredReplies.push_back(Text(responseTo));
    s_current->m_changed.notify_all();
    return 0;
}

uint32_t DemoAgent::OnPing(const char* requestId, uint32_t requestIdLength, uint32_t status, const char*,
                           uint32_t responseLength) {
    const std::string id(requestId, requestIdLength);
    if (status == 0)
        Say("ping " + id + " answered by the current controller (" + std::to_string(responseLength) +
            "-byte reply naming the ping)");
    else
        Say("ping " + id + " failed with " + Hex(status) + " on every controller");
    std::lock_guard<std::mutex> lock(s_current->m_mutex);
    s_current->m_pingDone = true;
    s_current->m_changed.notify_all();
    return 0;
}

void DemoAgent::ShowControllers() {
    uint32_t count = 0;
    if (m_api.SS_GetControllerCount(&count) != 0) return;
    for (uint32_t i = 0; i < count; ++i) {
        char* name = nullptr;
        char* host = nullptr;
        char* port = nullptr;
        char* type = nullptr;
        if (m_api.SS_GetControllerInfo(i, &name, &host, &port, &type, nullptr, nullptr, nullptr, nullptr) != 0)
            continue;
        Say("  controller " + std::to_string(i) + ": " + Text(name) + " " + Text(type ? type : "http") + "://" +
            Text(host) + ":" + Text(port));
        m_api.SS_Free(name);
        m_api.SS_Free(host);
        m_api.SS_Free(port);
        m_api.SS_Free(type);
    }
}

uint32_t DemoAgent::AddAnswers(SS_Heartbeat heartbeat) {
    std::vector<PendingAnswer> answers;
    std::vector<InstalledSchema> schemas;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        answers.swap(m_pending);
        schemas = m_schemas;
    }
    for (const InstalledSchema& schema : schemas) {
        const uint32_t status = m_api.AddSchemaInfo(heartbeat, schema.name.c_str(), schema.schemaNamespace.c_str(),
                                                    schema.version.c_str(), 0, 0, 0, 0);
        if (status != 0) return status;
    }
    for (const PendingAnswer& answer : answers) {
        const auto idLength = static_cast<uint32_t>(answer.requestId.size());
        uint32_t status;
        if (answer.setSchema) {
            status = m_api.AddSetSchemaResponse(heartbeat, answer.name.c_str(), answer.schemaNamespace.c_str(),
                                                answer.version.c_str(), 0, nullptr, answer.requestId.c_str(),
                                                idLength);
        } else {
            const InstalledSchema* held = nullptr;
            for (const InstalledSchema& schema : schemas)
                if (schema.schemaNamespace == answer.schemaNamespace) held = &schema;
            status = held ? m_api.AddGetSchemaResponse(heartbeat, held->name.c_str(), held->schemaNamespace.c_str(),
                                                       held->version.c_str(), 0, nullptr, held->document.c_str(),
                                                       static_cast<uint32_t>(held->document.size()), 0,
                                                       answer.requestId.c_str(), idLength)
                          : m_api.AddGetSchemaResponse(heartbeat, answer.name.c_str(),
                                                       answer.schemaNamespace.c_str(), answer.version.c_str(),
                                                       kSchemaNotHeld, "schema not held", nullptr, 0, 0,
                                                       answer.requestId.c_str(), idLength);
        }
        if (status != 0) return status;
        Say(std::string(answer.setSchema ? "set" : "get") + "-schema request " + answer.requestId +
            " answered in this heartbeat");
    }
    return 0;
}

bool DemoAgent::SendHeartbeat(uint32_t number) {
    char host[256] = "localhost";
    gethostname(host, sizeof host - 1);

    SS_Heartbeat heartbeat = nullptr;
    uint32_t status = m_api.CreateHeartbeat(&heartbeat, m_options.agentId.c_str(), kAgentName, kAgentNamespace,
                                            kAgentVersion, "127.0.0.1");
    SS_Module module = nullptr;
    if (status == 0)
        status = m_api.SetBasicAgentInfo(heartbeat, kAgentVersion, nullptr, 0, nullptr, 0, "/opt/ss-agent",
                                         "/opt/ss-agent/daemon", "demo", nullptr, 0, 1);
    if (status == 0)
        status = m_api.SetHostInfo(heartbeat, host, "127.0.0.1", "Linux", nullptr, nullptr, nullptr, nullptr,
                                   nullptr);
    if (status == 0) status = m_api.AddModuleInfo(heartbeat, "scanner", "2.1.0", 0, "file scanner", &module);
    if (status == 0)
        status = m_api.AddModuleInfoParams(module, kModuleParams, static_cast<uint32_t>(std::strlen(kModuleParams)));
    if (status == 0) status = AddAnswers(heartbeat);
    if (status != 0) {
        Say("building heartbeat " + std::to_string(number) + " failed with " + Hex(status));
        m_api.FreeHeartbeat(heartbeat);
        return false;
    }

    char id[SS_AGENT_ID_LENGTH + 1] = {};
    uint32_t idLength = SS_AGENT_ID_LENGTH;
    status = m_api.PostHeartbeat(heartbeat, id, &idLength);
    const std::string messageId(id, idLength);
    if (status != 0) {
        Say("heartbeat " + std::to_string(number) + " queued, but posting reported " + Hex(status));
        return false;
    }
    Say("heartbeat " + std::to_string(number) + " posted as message " + messageId);
    if (!WaitForReply(messageId, 15000)) Say("no reply to heartbeat " + messageId + " yet");
    return true;
}

bool DemoAgent::WaitForReply(const std::string& messageId, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const std::string& answered : m_answeredReplies)
            if (answered == messageId) return true;
        return false;
    });
}

bool DemoAgent::WaitForPing(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_pingDone; });
}

int DemoAgent::Run() {
    uint32_t status = m_api.SS_Init(SS_INTERFACE_VERSION, m_options.propertyFile.c_str(),
                                    m_options.groupSettingsFile.c_str(), m_options.agentId.c_str(), 0,
                                    ZEL_PosixPlatformServices(), &s_trace);
    if (status != 0) {
        Say("SS_Init failed with " + Hex(status));
        return 1;
    }
    Say("library started for agent " + m_options.agentId + " with group settings " + m_options.groupSettingsFile);

    m_api.SS_RegisterErrorCallback(&OnError);
    m_api.RegisterGetSchemaRequest(&OnGetSchemaRequest);
    m_api.RegisterSetSchemaRequest(&OnSetSchemaRequest);
    m_api.RegisterGetSchemaResponse(&OnSchemaResponse);
    m_api.RegisterSetSchemaResponse(&OnSchemaResponse);
    m_api.RegisterGetPolicyResponse(&OnPolicyResponse);
    m_api.RegisterSetPolicyResponse(&OnPolicyResponse);
    m_api.RegisterGenericResponse(&OnGenericResponse);
    m_api.RegisterResponseComplete(&OnResponseComplete);
    m_api.RegisterPingResponse(&OnPing);
    m_api.RegisterGroupSettingsResponse(&OnGroupSettings);

    if (!m_options.controller.empty()) {
        const std::string::size_type colon = m_options.controller.rfind(':');
        const std::string host = m_options.controller.substr(0, colon);
        const std::string port = m_options.controller.substr(colon + 1);
        status = m_api.SS_AddController("command-line", host.c_str(), port.c_str(), "http", nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
        if (status != 0) Say("adding controller " + m_options.controller + " failed with " + Hex(status));
    }
    ShowControllers();

    int result = 0;
    for (uint32_t number = 1; number <= m_options.heartbeats; ++number) {
        if (!SendHeartbeat(number)) result = 1;
        if (number == m_options.pingAfter) {
            char id[SS_AGENT_ID_LENGTH + 1] = {};
            uint32_t idLength = SS_AGENT_ID_LENGTH;
            status = m_api.PostPing(id, &idLength);
            Say(status == 0 ? "ping " + std::string(id, idLength) + " posted" : "PostPing failed with " + Hex(status));
            if (status == 0 && !WaitForPing(15000)) Say("no answer to the ping yet");
        }
        if (number < m_options.heartbeats) usleep(m_options.intervalMs * 1000u);
    }

    m_api.SS_ShutDown();
    Say("library shut down");
    return result;
}

}  // namespace zel::agent
