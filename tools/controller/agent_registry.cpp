#include "tools/controller/agent_registry.h"

#include "tools/controller/json_text.h"

namespace zel::controller {
namespace {

void KeepPolicy(std::vector<ReportedPolicy>& policies, const ReportedPolicy& policy) {
    for (ReportedPolicy& held : policies) {
        if (held.namespaceURI == policy.namespaceURI && held.name == policy.name) {
            held = policy;
            return;
        }
    }
    policies.push_back(policy);
}

void WriteAgent(CJsonWriter& json, const std::string& id, const AgentRecord& record) {
    json.BeginObject().Member("agent_id", id).Member("name", record.name);
    json.Key("last_heartbeat")
        .BeginObject()
        .Member("message_id", record.lastMessageId)
        .Member("time", record.lastHeartbeat)
        .EndObject();
    json.Member("agent_version", record.agentVersion);
    json.Key("modules").BeginArray();
    for (const ReportedModule& module : record.modules)
        json.BeginObject().Member("name", module.name).Member("version", module.version).EndObject();
    json.EndArray();
    json.Member("group_settings_token", record.settingsToken)
        .Member("group_settings_version", record.settingsVersionSent)
        .Key("heartbeats")
        .Number(record.heartbeats);
    json.Key("policies_set").BeginArray();
    for (const ReportedPolicy& policy : record.policiesSet) {
        json.BeginObject()
            .Member("name", policy.name)
            .Member("namespace", policy.namespaceURI)
            .Member("version", policy.version)
            .EndObject();
    }
    json.EndArray();
    json.Key("responses").BeginArray();
    for (const ReportedResponse& response : record.responses) {
        json.BeginObject()
            .Member("tag", response.tag)
            .Member("request_id", response.requestId)
            .Key("code")
            .Code(response.code)
            .Member("text", response.text);
        json.Key("items").BeginArray();
        for (const ReportedItem& item : response.items) {
            json.BeginObject()
                .Member("name", item.name)
                .Member("namespace", item.namespaceURI)
                .Key("code")
                .Code(item.code)
                .EndObject();
        }
        json.EndArray().EndObject();
    }
    json.EndArray().EndObject();
}

}  // namespace

void CAgentRegistry::RecordHeartbeat(const HeartbeatReport& report, const std::string& time,
                                     const std::string& versionSent) {
    std::lock_guard<std::mutex> guard(m_lock);
    AgentRecord& record = m_agents[report.agentId];
    record.name = report.agentName;
    record.lastHeartbeat = time;
    record.lastMessageId = report.messageId;
    if (report.announced) {
        record.agentVersion = report.agentVersion;
        record.modules = report.modules;
    }
    if (report.askedSettings) record.settingsToken = report.settingsToken;
    if (!versionSent.empty()) record.settingsVersionSent = versionSent;
    ++record.heartbeats;
    for (const ReportedPolicy& policy : report.policiesSet) KeepPolicy(record.policiesSet, policy);
    for (const ReportedResponse& response : report.responses) {
        record.responses.push_back(response);
        if (record.responses.size() > kMaxResponsesKept) record.responses.pop_front();
    }
}

std::map<std::string, AgentRecord> CAgentRegistry::Snapshot() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_agents;
}

std::string CAgentRegistry::ToJson() const {
    const auto agents = Snapshot();
    CJsonWriter json;
    json.BeginObject().Key("agents").BeginArray();
    for (const auto& [id, record] : agents) WriteAgent(json, id, record);
    json.EndArray().EndObject();
    return json.Text() + "\n";
}

}  // namespace zel::controller
