#include "sensor_services/sensor_services_object.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/message_base.h"
#include "runtime/platform.h"
#include "sensor_services/library.h"
#include "sensor_services/reply_processing.h"
#include "zel/status_codes.h"

namespace zel::ss {

namespace {

constexpr const char* kInitWhere = "CSensorServices::Init()";
constexpr const char* kSsInitWhere = "SS_Init()";
constexpr const char* kDumpEnabledKey = "dumpEnabled";
constexpr std::size_t kControllerFieldCount = 8;

}  // namespace

CSensorServices* CSensorServices::Create() noexcept { return new (std::nothrow) CSensorServices; }

uint32_t CSensorServices::Init(const SS_PlatformServices* platform, const SS_TraceSink* trace,
                               const char* localPropertyFile, const char* groupSettingsFile,
                               const char* agentIdentifier, uint32_t option) {
    m_retryState.reset(new (std::nothrow) svcRetryState);
    if (!m_retryState) return ZEL_E_NO_VIRTUAL_MEMORY;

    uint32_t status = CBaseServices::Init(kServiceTypeSensor, m_retryState.get(), platform, trace,
                                          localPropertyFile, groupSettingsFile, agentIdentifier, option, true,
                                          false);
    if (status != 0) {
        Cleanup();
        return status;
    }

    // From here on a dispatch thread may run: failures stop it instead of cleaning up
    // under it, and the last Release cleans up once it has gone.
    try {
        m_groupSettingsFile = groupSettingsFile;
    } catch (...) {
        StopDispatch();
        return ZEL_E_NO_VIRTUAL_MEMORY;
    }

    uint32_t settingsStatus;
    {
        ObjectLock lock(*this);
        settingsStatus = LoadSettings(kServiceTypeSensor);
    }
    if (settingsStatus != 0)
        AgentTrace(trace, SS_TRACE_WARNING, kInitWhere, "Failed to load settings from local property file");

    status = Binding()->RegisterSettingsChanged(&CSensorServices::OnSettingsChanged);
    if (status != 0) {
        StopDispatch();
        return status;
    }

    AgentTrace(trace, SS_TRACE_INFO, kSsInitWhere, "Sensor services initialized.");
    return 0;
}

uint32_t CSensorServices::Cleanup() {
    if (CSessionConfigLoader* binding = Binding())
        binding->UnregisterSettingsChanged(&CSensorServices::OnSettingsChanged);
    m_groupSettingsFile.clear();
    m_answers.Clear();
    // The base still points at the retry state; it forgets it in its own clean-up below,
    // and nothing uses it in between.
    m_retryState.reset();
    m_errorCallback = nullptr;
    m_callbacks = AgentCallbacks{};
    m_pendingHeartbeat.reset();
    m_pendingPing.reset();
    m_dumpEnabled = false;
    return CBaseServices::Cleanup();
}

uint32_t CSensorServices::LoadSettings(uint32_t serviceType) {
    if (CSessionConfigLoader* binding = Binding()) {
        char* raw = nullptr;
        const uint32_t status = binding->RetrieveLocalProperty(ServiceSectionName(kServiceTypeSensor),
                                                               kDumpEnabledKey, &raw);
        const ModuleText value(raw, ModuleRelease{binding});
        if (status == 0 && value) m_dumpEnabled = std::atoi(value.get()) != 0;
    }
    return CBaseServices::LoadSettings(serviceType);
}

uint32_t CSensorServices::OnSettingsChanged() {
    const SettingsChangedScope scope;
    return ExportFrame([](CSensorServices& services) -> uint32_t {
        ObjectLock lock(services);
        services.LoadSettings(kServiceTypeSensor);
        if (services.RetryState()) services.RetryState()->Reload();
        return 0;
    });
}

uint32_t CSensorServices::RegisterErrorCallback(SS_ErrorCallback callback) {
    ObjectLock lock(*this);
    m_errorCallback = callback;
    return 0;
}

CAnswerQueue::AddResult CSensorServices::OweAnswer(const std::u16string& requestId) {
    ObjectLock lock(*this);
    return m_answers.Add(requestId);
}

uint64_t CSensorServices::AddOwedAnswers(cml::CCmlMessage& message) const {
    uint64_t upTo = 0;
    std::vector<std::u16string> owed;
    {
        ObjectLock lock(*this);
        owed = m_answers.Owed(upTo);
    }
    for (const std::u16string& requestId : owed) message.AddResponse(UnrecognizedRequestAnswer(requestId));
    return upTo;
}

AgentCallbacks CSensorServices::Callbacks() const {
    ObjectLock lock(*this);
    return m_callbacks;
}

std::string CSensorServices::GroupSettingsVersion() const {
    ObjectLock lock(*this);
    return m_groupSettingsVersion;
}

void CSensorServices::SetGroupSettingsVersion(std::string version) {
    ObjectLock lock(*this);
    m_groupSettingsVersion.swap(version);
}

void CSensorServices::QueueHeartbeatRecord(std::unique_ptr<CHeartbeatRecord> record) {
    std::unique_ptr<CHeartbeatRecord> older;
    {
        ObjectLock lock(*this);
        older = std::move(m_pendingHeartbeat);
        m_pendingHeartbeat = std::move(record);
    }
}

bool CSensorServices::HasPendingHeartbeat() const {
    ObjectLock lock(*this);
    return m_pendingHeartbeat != nullptr;
}

bool CSensorServices::DumpEnabled() const {
    ObjectLock lock(*this);
    return m_dumpEnabled;
}

void CSensorServices::BeginShutDown() {
    m_shutDown = true;
    // The agent's callbacks go now, so that a reply still in processing calls none of them
    // once SS_ShutDown has returned; the error callback stays until the object is destroyed.
    {
        ObjectLock lock(*this);
        m_callbacks = AgentCallbacks{};
    }
    StopDispatch();
}

uint32_t CSensorServices::GetControllerInfo(uint32_t index, char** outputs[8]) const {
    const CSessionConfigLoader* binding = Binding();
    if (!binding) return ZEL_E_SS_NOT_INITIALIZED;
    // Every field is asked for, so that each text the module hands out is released here
    // whether or not the agent wants it.
    char* raw[kControllerFieldCount] = {};
    const uint32_t status = binding->GetControllerInfo(index, &raw[0], &raw[1], &raw[2], &raw[3], &raw[4],
                                                       &raw[5], &raw[6], &raw[7]);
    if (status != 0) return status;
    ModuleText texts[kControllerFieldCount] = {
        {raw[0], {binding}}, {raw[1], {binding}}, {raw[2], {binding}}, {raw[3], {binding}},
        {raw[4], {binding}}, {raw[5], {binding}}, {raw[6], {binding}}, {raw[7], {binding}}};

    for (std::size_t i = 0; i < kControllerFieldCount; ++i)
        if (outputs[i]) *outputs[i] = nullptr;
    for (std::size_t i = 0; i < kControllerFieldCount; ++i) {
        if (!outputs[i] || !texts[i]) continue;
        const std::size_t size = std::strlen(texts[i].get()) + 1;
        auto* copy = static_cast<char*>(platform::LocalAlloc(size));
        if (!copy) {
            // All or nothing: the copies made so far go back.
            for (std::size_t j = 0; j < i; ++j) {
                if (!outputs[j]) continue;
                platform::LocalFree(*outputs[j]);
                *outputs[j] = nullptr;
            }
            return ZEL_E_NO_VIRTUAL_MEMORY;
        }
        std::memcpy(copy, texts[i].get(), size);
        *outputs[i] = copy;
    }
    return 0;
}

uint32_t CSensorServices::DispatchRequests(int32_t server) {
    if (!Binding()) return ZEL_E_SS_NOT_INITIALIZED;
    // The ping goes first: the controller that answers it takes the heartbeat too. Its
    // failure is the ping callback's business, not the retry state's.
    SendPing(server);
    return SendHeartbeat(server);
}

void CSensorServices::ReportError(uint32_t status, uint32_t channel) const {
    SS_ErrorCallback callback;
    {
        ObjectLock lock(*this);
        callback = m_errorCallback;
    }
    if (callback) callback(status, channel);
}

uint32_t CSensorServices::SendHeartbeat(int32_t server) {
    std::unique_ptr<CHeartbeatRecord> record;
    PostTimeouts timeouts;
    {
        ObjectLock lock(*this);
        record = std::move(m_pendingHeartbeat);
        if (!record) return 0;
        timeouts = Timeouts();
    }

    // No lock is held from here to the end of the post: the post may take long and the
    // error callback may call exports.
    const CSessionConfigLoader* binding = Binding();
    uint32_t status;
    try {
        char* raw = nullptr;
        uint32_t responseLength = 0;
        status = binding->PostData(0, server, kHeartbeatPath, 0, kHeartbeatMimeType, record->Bytes(),
                                   record->Length(), timeouts.values, &raw, &responseLength);
        const ModuleText response(raw, {binding});
        if (status != 0) {
            ReportError(status, SS_CHANNEL_HEARTBEAT);
        } else {
            {
                // Delivered: the answers it carried are owed no more, whatever the reply says.
                ObjectLock lock(*this);
                m_answers.Delivered(record->AnswersUpTo());
            }
            // The reply's failures are traced there; the post stays a success. Once SS_ShutDown
            // ran the reply reaches nobody: its callbacks are gone, and its group settings
            // would land in the files of whichever instance runs next.
            if (!m_shutDown) {
                CReplyProcessor processor(*this, record->AgentId());
                const uint32_t replyStatus =
                    response && responseLength != 0
                        ? processor.HelperProcessHeartbeatResponse(response.get(), responseLength)
                        : processor.HelperProcessEmptyResponse();
                if (replyStatus != 0) ReportError(replyStatus, SS_CHANNEL_HEARTBEAT);
            }
        }
    } catch (...) {
        status = ZEL_E_INTERNAL;
    }

    if (status != 0) {
        ObjectLock lock(*this);
        // A heartbeat queued during the post is newer: the failed one is dropped for it.
        if (!m_pendingHeartbeat) m_pendingHeartbeat = std::move(record);
    }
    return status;
}

}  // namespace zel::ss
