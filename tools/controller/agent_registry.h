// The agents the controller has heard from and what they told it, shared by the server's
// threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tools/controller/agent_report.h"

namespace zel::controller {

struct AgentRecord {
    std::string name;
    // UTC time of the last heartbeat, "YYYY-MM-DDTHH:MM:SSZ", and its message id.
    std::string lastHeartbeat;
    std::string lastMessageId;
    // From the last startup announcement; kept when a heartbeat carries none.
    std::string agentVersion;
    std::vector<ReportedModule> modules;
    // The group settings token the agent last sent (the version it holds).
    std::string settingsToken;
    // The group settings version last sent with the document; empty when none was sent.
    std::string settingsVersionSent;
    uint64_t heartbeats = 0;
    // The policies the agent handed over, the latest per (namespace, name).
    std::vector<ReportedPolicy> policiesSet;
    // The responses the agent sent, oldest first; at most kMaxResponsesKept.
    std::deque<ReportedResponse> responses;
};

class CAgentRegistry {
public:
    // The responses kept per agent; older ones are dropped first.
    static constexpr std::size_t kMaxResponsesKept = 200;

    // Counts one heartbeat of `report.agentId` at `time` and keeps what it reported;
    // `versionSent` non-empty records the group settings version sent in its reply.
    void RecordHeartbeat(const HeartbeatReport& report, const std::string& time, const std::string& versionSent);
    // A copy of the records, by agent id.
    std::map<std::string, AgentRecord> Snapshot() const;
    // The records as a JSON document, in agent id order:
    // {"agents":[{"agent_id","name","last_heartbeat":{"message_id","time"},"agent_version",
    //   "modules":[{"name","version"}],"group_settings_token","group_settings_version",
    //   "heartbeats":N,"policies_set":[{"name","namespace","version"}],
    //   "responses":[{"tag","request_id","code":"0x........","text",
    //                 "items":[{"name","namespace","code"}]}]}]}
    std::string ToJson() const;

private:
    mutable std::mutex m_lock;
    std::map<std::string, AgentRecord> m_agents;
};

}  // namespace zel::controller
