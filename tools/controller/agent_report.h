// What one heartbeat tells the controller about its agent: identity, version, modules, the
// group settings token it holds, the responses it sends back and the policies it hands over.
// Plain UTF-8 values, so that the registry can keep them beyond the parsed document.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zel::cml {
class CAgentInfoContent;
class CCmlMessage;
}  // namespace zel::cml

namespace zel::controller {

// One item of a response: a policy or schema item, a task (by its id, with its state) or a
// module of an agent-status response (with its status).
struct ReportedItem {
    std::string name;
    std::string namespaceURI;
    uint32_t code = 0;
};

// One response the agent sent.
struct ReportedResponse {
    std::string tag;
    std::string requestId;
    uint32_t code = 0;
    std::string text;
    std::vector<ReportedItem> items;
};

struct ReportedModule {
    std::string name;
    std::string version;
};

// A policy the agent handed over with a set-policy request.
struct ReportedPolicy {
    std::string name;
    std::string namespaceURI;
    std::string version;
};

struct HeartbeatReport {
    std::string agentId;
    std::string agentName;
    // The heartbeat envelope's message id.
    std::string messageId;
    // True when the heartbeat carried a startup announcement; version and modules come from it.
    bool announced = false;
    std::string agentVersion;
    std::vector<ReportedModule> modules;
    // True when the heartbeat asked for the group settings; the token is the version it holds.
    bool askedSettings = false;
    std::string settingsToken;
    std::vector<ReportedResponse> responses;
    std::vector<ReportedPolicy> policiesSet;
};

// Version and modules of the announcement `content`; marks the report as announced.
void ReadAnnouncement(const cml::CAgentInfoContent& content, HeartbeatReport& report);

// Every response of the "/cml" namespace in `heartbeat`, in order, with the items of the
// policy, schema, task and agent-status responses.
std::vector<ReportedResponse> ReadResponses(const cml::CCmlMessage& heartbeat);

}  // namespace zel::controller
