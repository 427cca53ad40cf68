#include "tools/controller/agent_registry.h"

#include <cstdio>

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

// A status code as JSON shows it: "0x" and eight lower-case hexadecimal digits.
std::string CodeText(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", code);
    return text;
}

nlohmann::ordered_json AgentJson(const std::string& id, const AgentRecord& record) {
    nlohmann::ordered_json agent = {
        {"agent_id", id},
        {"name", record.name},
        {"last_heartbeat", {{"message_id", record.lastMessageId}, {"time", record.lastHeartbeat}}},
        {"agent_version", record.agentVersion},
        {"modules", nlohmann::ordered_json::array()},
        {"group_settings_token", record.settingsToken},
        {"group_settings_version", record.settingsVersionSent},
        {"heartbeats", record.heartbeats},
        {"policies_set", nlohmann::ordered_json::array()},
        {"responses", nlohmann::ordered_json::array()},
    };
    for (const ReportedModule& module : record.modules)
        agent["modules"].push_back({{"name", module.name}, {"version", module.version}});
    for (const ReportedPolicy& policy : record.policiesSet) {
        agent["policies_set"].push_back(
            {{"name", policy.name}, {"namespace", policy.namespaceURI}, {"version", policy.version}});
    }
    for (const ReportedResponse& response : record.responses) {
        nlohmann::ordered_json items = nlohmann::ordered_json::array();
        for (const ReportedItem& item : response.items)
            items.push_back({{"name", item.name}, {"namespace", item.namespaceURI}, {"code", CodeText(item.code)}});
        agent["responses"].push_back({{"tag", response.tag},
                                      {"request_id", response.requestId},
                                      {"code", CodeText(response.code)},
                                      {"text", response.text},
                                      {"items", std::move(items)}});
    }
    return agent;
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
    nlohmann::ordered_json agents = nlohmann::ordered_json::array();
    for (const auto& [id, record] : Snapshot()) agents.push_back(AgentJson(id, record));
    return JsonText(nlohmann::ordered_json{{"agents", std::move(agents)}});
}

}  // namespace zel::controller
