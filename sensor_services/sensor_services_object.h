// CSensorServices: the process-wide object behind the exports of the sensor services
// library (service type "sensor_services").
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "SensorIndependence/CmlLib/cml_parser_pool.h"
#include "sensor_services/answer_queue.h"
#include "sensor_services/base_services.h"
#include "sensor_services/heartbeat_record.h"
#include "sensor_services/ping.h"
#include "zel/sensor_services.h"

namespace zel::cml {
class CCmlMessage;
}

namespace zel::ss {

// The URL path and content type of a heartbeat post.
inline constexpr const char* kHeartbeatPath = "/zel/sensor_services/heartbeat";
inline constexpr const char* kHeartbeatMimeType = "application/x-zel-cml-data";
// The URL path and content type of a ping post.
inline constexpr const char* kPingPath = "/zel/sensor_services/ping";
inline constexpr const char* kPingMimeType = "application/x-zel-xml-data";

// The agent's callbacks for replies, pings and group settings (null: not registered).
struct AgentCallbacks {
    SS_SchemaCallback getSchemaRequest = nullptr;
    SS_SchemaCallback setSchemaRequest = nullptr;
    SS_SchemaCallback getSchemaResponse = nullptr;
    SS_SchemaCallback setSchemaResponse = nullptr;
    SS_PolicyCallback getPolicyResponse = nullptr;
    SS_PolicyCallback setPolicyResponse = nullptr;
    SS_GenericResponseCallback genericResponse = nullptr;
    SS_ResponseCompleteCallback responseComplete = nullptr;
    SS_PingCallback pingResponse = nullptr;
    SS_PolicyCallback groupSettings = nullptr;
};

class CSensorServices : public CBaseServices {
public:
    // A new object with no reference; null when out of memory.
    static CSensorServices* Create() noexcept;

    // Creates the retry state, runs the base initialisation (group settings loaded, server
    // settings not), reads the settings and registers for settings-changed notifications.
    // On failure the object is left for its last Release to clean up; a dispatch thread
    // already started has been told to stop.
    uint32_t Init(const SS_PlatformServices* platform, const SS_TraceSink* trace, const char* localPropertyFile,
                  const char* groupSettingsFile, const char* agentIdentifier, uint32_t option);

    // Stores the error callback (null removes it); 0.
    uint32_t RegisterErrorCallback(SS_ErrorCallback callback);

    // Stores `callback` in `slot` under the object lock (null removes it); 0.
    template <typename Callback>
    uint32_t RegisterCallback(Callback AgentCallbacks::*slot, Callback callback) {
        ObjectLock lock(*this);
        m_callbacks.*slot = callback;
        return 0;
    }
    // A copy of the callbacks, taken under the object lock; the caller calls them after
    // the lock is released.
    AgentCallbacks Callbacks() const;

    // The version of the group settings the agent holds, sent as the token of every
    // heartbeat's group-settings request ("0" until the controller sent settings).
    std::string GroupSettingsVersion() const;
    // Replaces that version, once new settings are saved and loaded.
    void SetGroupSettingsVersion(std::string version);
    // The group settings file given to SS_Init.
    const std::string& GroupSettingsFile() const { return m_groupSettingsFile; }
    // The name of the agent parameter that carries a group name hint.
    const std::u16string& GroupNameHintParamName() const { return m_groupNameHintParamName; }

    // Owes the controller an error response to request `requestId`; every heartbeat queued
    // from now on carries it until one of them was delivered.
    CAnswerQueue::AddResult OweAnswer(const std::u16string& requestId);

    // PostHeartbeat: queues the heartbeat and, when that succeeded, asks for it to be sent
    // (TriggerDispatch's status). The message is taken over and destroyed unless it is null
    // or lacks its startup announcement (no memory for the record destroys it in any case).
    uint32_t PostHeartbeat(cml::CCmlMessage* message, char* idBuffer, uint32_t* idLength);
    // Turns the heartbeat into the pending record: adds the group-settings request, fills
    // in the group name hint, copies the message identifier to the agent's buffer, adds the
    // error responses owed to the controller, writes the dump, serialises once and replaces
    // any heartbeat not yet sent. The same
    // ownership rule as PostHeartbeat. Returns the status of the group-settings request
    // (the heartbeat is queued even when that failed) or the failure that stopped it.
    uint32_t QueueHeartbeatRequest(cml::CCmlMessage* message, char* idBuffer, uint32_t* idLength);

    // Makes `record` the pending heartbeat, destroying one that has not been sent yet.
    void QueueHeartbeatRecord(std::unique_ptr<CHeartbeatRecord> record);
    // True while a heartbeat waits to be sent.
    bool HasPendingHeartbeat() const;
    // True when "dumpEnabled" was set to a non-zero number.
    bool DumpEnabled() const;

    // PostPing: queues a ping with a new request identifier (replacing one not yet sent)
    // and asks for it to be sent; TriggerDispatch's status, ZEL_E_NO_VIRTUAL_MEMORY or
    // ZEL_E_INTERNAL (no identifier could be made). The identifier goes to idBuffer as for
    // every identifier buffer of the interface.
    uint32_t PostPing(char* idBuffer, uint32_t* idLength);

    // The first steps of SS_ShutDown on this object, none of which waits: replies that
    // arrive from now on are not processed, the agent's response callbacks are cleared and
    // the dispatch thread is told to stop.
    void BeginShutDown();

    // The parsers that read replies to heartbeats and pings, kept between replies.
    cml::CCmlParserPool& ReplyParsers() const { return m_replyParsers; }

    // Parses and dispatches a reply to a heartbeat of agent `agentId` (CReplyProcessor); its
    // failures are traced.
    uint32_t HelperProcessHeartbeatResponse(const char* bytes, uint32_t length, const std::string& agentId);
    // Hands the reply to a ping to the ping callback: 0 without a callback (nothing read)
    // or after the callback; ZEL_E_INVALIDARG for an empty reply; ZEL_E_SS_BAD_RESPONSE
    // (traced) when the reply is no XML or names no request identifier.
    uint32_t HelperProcessPingResponse(const char* response, uint32_t length);

    // The handler of the group-settings item of a get-policy-response (the get-policy
    // callback's arguments): saves the settings document, takes its token as the new
    // version, reloads the settings and tells the agent's group-settings callback. 0 also
    // for "no change" and "no policy" answers; otherwise the failure, traced.
    // ZEL_E_SS_NOT_INITIALIZED when the library is not initialised.
    static uint32_t _GetPropertiesCallback(const char* requestId, uint32_t requestIdLength, uint32_t status,
                                           const char* agentId, const char* token, const char* name,
                                           const char* policyNamespace, const char* schemaVersion, uint32_t code,
                                           const char* itemText, const char* policy, uint32_t policyLength,
                                           uint32_t last);
    // Loads the group settings file given to SS_Init again; a failure is only traced.
    void ReloadGroupSettings() const;

    // SS_GetControllerInfo: copies of the controller's texts allocated with SS_Allocate.
    uint32_t GetControllerInfo(uint32_t index, char** outputs[8]) const;

    // The settings-changed handler registered with the session-config module: rereads the
    // settings and the controller list of the published object.
    static uint32_t OnSettingsChanged();

protected:
    using CBaseServices::Init;

    uint32_t Cleanup() override;
    uint32_t LoadSettings(uint32_t serviceType) override;
    uint32_t DispatchRequests(int32_t server) override;

private:
    CSensorServices() = default;
    ~CSensorServices() override = default;

    // Posts the pending heartbeat to `server` and hands a reply to reply processing: 0 when
    // there was none or the post succeeded (a refused reply is told to the error callback
    // and still counts as delivered); the post's failure otherwise, after the error
    // callback was told; ZEL_E_INTERNAL when something threw on the way. On failure the
    // heartbeat is put back unless a newer one was queued meanwhile.
    uint32_t SendHeartbeat(int32_t server);
    // Tells the agent's error callback, if one is registered, that a post on `channel`
    // failed with `status`, or that its reply was refused with `status`; the callback runs
    // without the object lock.
    void ReportError(uint32_t status, uint32_t channel) const;
    // Adds an error response for every answer owed to `message`; the mark of the answers it
    // now carries.
    uint64_t AddOwedAnswers(cml::CCmlMessage& message) const;

    // Posts the pending ping, starting with `server` and walking the controller list until
    // one accepts it; that controller replaces `server` and becomes the retry state's
    // current one. 0 when there was none or a controller answered, else the last failure
    // (after the ping callback was told). Runs outside the object lock.
    uint32_t SendPing(int32_t& server);
    // Calls the agent's ping callback, if one is registered, with no lock held; an exception
    // from it is traced and goes no further.
    void CallPingCallback(const std::string& requestId, uint32_t status, const char* response, uint32_t length);

    std::unique_ptr<svcRetryState> m_retryState;
    std::string m_groupSettingsFile;
    CAnswerQueue m_answers;
    SS_ErrorCallback m_errorCallback = nullptr;
    AgentCallbacks m_callbacks;
    std::string m_groupSettingsVersion = "0";
    const std::u16string m_groupNameHintParamName = u"group-name-hint-param";
    std::unique_ptr<CHeartbeatRecord> m_pendingHeartbeat;
    std::unique_ptr<CPingRecord> m_pendingPing;
    bool m_dumpEnabled = false;
    std::atomic<bool> m_shutDown{false};
    mutable cml::CCmlParserPool m_replyParsers;
};

}  // namespace zel::ss
