// The controller's answers as pure functions from request bytes and controller state to reply
// bytes and HTTP status, so that they can be checked without a server.
#pragma once

#include <string>
#include <string_view>

#include "tools/controller/group_settings.h"

namespace zel::controller {

// What the reply to a heartbeat says about the agent and the group settings.
enum class SettingsOutcome {
    kNotAsked,     // the heartbeat asked for no group settings
    kSent,         // the document went out with the controller's version as token
    kUnchanged,    // the agent already holds the controller's version
    kUnavailable,  // the controller has no group settings document
};

struct HeartbeatReply {
    int status = 200;
    std::string contentType;
    std::string body;
    // The agent as the heartbeat named it (UTF-8); empty when the body was refused.
    std::string agentId;
    std::string agentName;
    SettingsOutcome settings = SettingsOutcome::kNotAsked;
    // A short reason for a refused body (empty on success).
    std::string error;
};

struct PingReply {
    int status = 200;
    std::string contentType;
    std::string body;
};

// Answers the heartbeat `body`: 200 with the reply document, or 400 (text/plain) when the body
// is not a CML document with a message envelope. `messageId` becomes the reply's message-id.
HeartbeatReply BuildHeartbeatReply(std::string_view body, const GroupSettings& settings,
                                   const std::u16string& messageId);

// Answers a ping whose body is the request identifier (UTF-8): an "agent-ping" document that
// echoes it, escaped. Bytes that are not UTF-8 are replaced.
PingReply BuildPingReply(std::string_view body);

}  // namespace zel::controller
