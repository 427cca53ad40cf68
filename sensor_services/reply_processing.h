// The controller's reply to a heartbeat: parsing it, sorting its requests and responses into
// groups and handing each to the agent's callback for its kind, in a fixed order.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zel::cml {
class CCmlDOM_Element;
class CCmlMessage;
class CMessageBase;
class CGetPolicyResponse;
class CGetSchemaResponse;
class CSchemaRequest;
class CSchemaResponse;
class CSetPolicyResponse;
class CSetSchemaRequest;
}  // namespace zel::cml

namespace zel::ss {

class CSensorServices;

// The messages of one group of a reply, in reply order; the envelope owns them.
using MessageList = std::vector<const cml::CMessageBase*>;

// The name of a reply document in the parser's error texts.
inline constexpr const char16_t* kHeartbeatResponseDocumentName = u"ZEL-SensorServices-Heartbeat-Response";
// Where the raw bytes of each reply go when "dumpEnabled" is set (the current directory).
inline constexpr const char* kHeartbeatResponseDumpFile = "ss_dump_hbresp.txt";

// Processes the replies to the heartbeats of agent `agentId` for one services object. Runs on
// the thread that posted, without the object lock: every callback is read under the lock and
// called after it was released, so a callback may call any export.
class CReplyProcessor {
public:
    CReplyProcessor(CSensorServices& services, std::string agentId)
        : m_services(services), m_agentId(std::move(agentId)) {}

    // Parses `length` bytes of a reply and dispatches it (after writing the dump file when
    // "dumpEnabled" is set). 0, ZEL_E_INVALIDARG for no bytes, or the failure, which has
    // been traced at level 1; nothing is called for a reply that does not parse.
    uint32_t HelperProcessHeartbeatResponse(const char* bytes, uint32_t length);

    // Dispatches the first envelope below `root`: schema messages, then policy and schema
    // answers, then acknowledgements and errors, then unknown messages, then the
    // response-complete callback. 0; ZEL_E_INVALIDARG for a null root; ZEL_E_SS_BAD_RESPONSE
    // for a reply without envelope or destination, one whose first destination is another
    // agent (nothing is dispatched), a message of the wrong class, a CML failure or an
    // exception from a typed callback (each traced at level 1).
    uint32_t HelperProcessParsedHeartbeatResponse(const cml::CCmlDOM_Element& root);

    // Hands each message of `messages` in a "/cml" namespace to the agent's callback for
    // its tag (skipped when none is registered). `lastBatch` says that no later group of
    // the reply calls a callback, so the final call carries last = 1. Throws CTRLEXC
    // (ZEL_E_SS_BAD_RESPONSE) for a known tag whose object is not of its class.
    void DispatchTypedMessages(const MessageList& messages, const std::string& agentId, bool lastBatch);

    // Calls the generic-response callback for each response, last = 1 on the final one. An
    // exception from the callback is traced and the next response follows.
    void HelperProcessGenericResponses(const std::string& agentId, const MessageList& responses);

    // Traces each unknown message and owes every one that carries a request identifier an
    // "error-response" (ZEL_E_CML_REQUEST_NOT_RECOGNIZED), which the heartbeats queued from
    // now on carry (CAnswerQueue). Nothing is posted from here.
    void HelperProcessUnknownMessages(const MessageList& messages);

    // A reply without a body, which holds no envelope: traced as such (and dumped, empty,
    // when "dumpEnabled" is set); ZEL_E_SS_BAD_RESPONSE.
    uint32_t HelperProcessEmptyResponse();

private:
    // Traces a refused reply at level 1: `message`, then its status and CML code.
    void TraceRefusal(const std::string& message, uint32_t status, uint32_t cmlCode) const;

    void OnSetSchemaRequest(const cml::CSetSchemaRequest& request, const std::string& requestId,
                            const std::string& agentId, bool last);
    void OnGetSchemaRequest(const cml::CSchemaRequest& request, const std::string& requestId,
                            const std::string& agentId, bool last);
    void OnGetSchemaResponse(const cml::CGetSchemaResponse& response, const std::string& requestId,
                             const std::string& agentId, bool last);
    void OnSetSchemaResponse(const cml::CSchemaResponse& response, const std::string& requestId,
                             const std::string& agentId, bool last);
    // The item of the "/cml/GroupSettings" namespace goes to the library's own group-settings
    // handler instead of the agent.
    void OnGetPolicyResponse(const cml::CGetPolicyResponse& response, const std::string& requestId,
                             const std::string& agentId, bool last);
    void OnSetPolicyResponse(const cml::CSetPolicyResponse& response, const std::string& requestId,
                             const std::string& agentId, bool last);

    CSensorServices& m_services;
    // Only a reply whose first destination names this agent is dispatched.
    const std::string m_agentId;
};

}  // namespace zel::ss
