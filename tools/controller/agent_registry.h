// The agents the controller has heard from, shared by the server's threads.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace zel::controller {

struct AgentRecord {
    std::string name;
    // UTC time of the last heartbeat, "YYYY-MM-DDTHH:MM:SSZ".
    std::string lastHeartbeat;
    // The group settings version last sent with the document; empty when none was sent.
    std::string settingsVersionSent;
    uint64_t heartbeats = 0;
};

class CAgentRegistry {
public:
    // Counts one heartbeat of `agentId` at `time`; `versionSent` non-empty records the group
    // settings version sent in its reply.
    void RecordHeartbeat(const std::string& agentId, const std::string& name, const std::string& time,
                         const std::string& versionSent);
    // A copy of the records, by agent id.
    std::map<std::string, AgentRecord> Snapshot() const;
    // The records as a JSON document: {"agents":[{"agent_id":..,"name":..,"last_heartbeat":..,
    // "group_settings_version":..,"heartbeats":N},...]} in agent id order.
    std::string ToJson() const;

private:
    mutable std::mutex m_lock;
    std::map<std::string, AgentRecord> m_agents;
};

}  // namespace zel::controller
