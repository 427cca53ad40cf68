// The controller's answers as pure functions from request bytes and controller state to reply
// bytes and HTTP status, so that they can be checked without a server.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/controller/agent_report.h"
#include "tools/controller/group_settings.h"
#include "tools/controller/request_answers.h"
#include "tools/controller/request_queue.h"
#include "tools/controller/schema_directory.h"

namespace zel::controller {

// What a heartbeat reply is built from besides the heartbeat itself.
struct ReplyContext {
    // The group settings handed out; null: none.
    const GroupSettings* settings = nullptr;
    // Where schemas are looked up and stored; null: no schema directory.
    const CSchemaDirectory* schemas = nullptr;
    // The reply's message-id.
    std::u16string messageId;
    // Hands over (and forgets) the requests queued for an agent id; called at most once per
    // reply, only for a heartbeat that was read; empty: nothing is queued.
    std::function<std::vector<QueuedRequest>(const std::string& agentId)> takeQueued;
};

struct HeartbeatReply {
    int status = 200;
    std::string contentType;
    std::string body;
    // What the heartbeat reported (agent id and name are those the reply is addressed to);
    // empty when the body was refused.
    HeartbeatReport report;
    SettingsOutcome settings = SettingsOutcome::kNotAsked;
    // How many responses and requests the reply carries, and the queued requests among them.
    std::size_t responsesSent = 0;
    std::size_t requestsSent = 0;
    std::vector<QueuedRequest> delivered;
    // A short reason for a refused body (empty on success).
    std::string error;
};

struct PingReply {
    int status = 200;
    std::string contentType;
    std::string body;
};

// Answers the heartbeat `body`: 200 with the reply document, or 400 (text/plain) when the body
// is not a CML document with a message envelope. The reply answers the announcement, every
// get-policy, set-policy, get-schema and set-schema request, and carries the requests queued
// for the agent.
HeartbeatReply BuildHeartbeatReply(std::string_view body, const ReplyContext& context);

// Answers a ping whose body is the request identifier (UTF-8): an "agent-ping" document that
// echoes it, escaped. Bytes that are not UTF-8 are replaced.
PingReply BuildPingReply(std::string_view body);

}  // namespace zel::controller
