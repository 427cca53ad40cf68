#include "tools/controller/agent_registry.h"

#include "tools/controller/json_text.h"

namespace zel::controller {

void CAgentRegistry::RecordHeartbeat(const std::string& agentId, const std::string& name, const std::string& time,
                                     const std::string& versionSent) {
    std::lock_guard<std::mutex> guard(m_lock);
    AgentRecord& record = m_agents[agentId];
    record.name = name;
    record.lastHeartbeat = time;
    if (!versionSent.empty()) record.settingsVersionSent = versionSent;
    ++record.heartbeats;
}

std::map<std::string, AgentRecord> CAgentRegistry::Snapshot() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_agents;
}

std::string CAgentRegistry::ToJson() const {
    const auto agents = Snapshot();
    std::string out = "{\"agents\":[";
    bool first = true;
    for (const auto& [id, record] : agents) {
        if (!first) out += ',';
        first = false;
        out += "{\"agent_id\":" + JsonString(id) + ",\"name\":" + JsonString(record.name) +
               ",\"last_heartbeat\":" + JsonString(record.lastHeartbeat) +
               ",\"group_settings_version\":" + JsonString(record.settingsVersionSent) +
               ",\"heartbeats\":" + std::to_string(record.heartbeats) + "}";
    }
    out += "]}\n";
    return out;
}

}  // namespace zel::controller
