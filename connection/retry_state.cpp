#include "connection/retry_state.h"

#include <cstdlib>
#include <ctime>
#include <memory>

#include "connection/agent_trace.h"
#include "connection/session_config_loader.h"
#include "zel/status_codes.h"

namespace zel {

namespace {

constexpr const char* kReloadWhere = "svcRetryState::Reload()";
constexpr const char* kNextStateWhere = "svcRetryState::NextState()";

constexpr const char* kKeyRetryInterval = "retryInterval";
constexpr const char* kKeyRetryCeiling = "retryCeiling";
constexpr const char* kKeyMaxServerRetry = "maxServerRetry";
constexpr const char* kKeyRetryPrimaryServer = "retryPrimaryServer";

int64_t SystemClock() { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace

const char* ServiceSectionName(uint32_t serviceType) {
    switch (serviceType) {
    case kServiceTypeSensor: return "sensor_services";
    case kServiceTypeEvent: return "event_services";
    case kServiceTypeUpdate: return "update_services";
    default: return "";
    }
}

svcRetryState::svcRetryState(RetryClock clock) : m_clock(clock ? std::move(clock) : RetryClock(SystemClock)) {}

svcRetryState::~svcRetryState() = default;

int64_t svcRetryState::Now() const { return m_clock(); }

uint32_t svcRetryState::Init(uint32_t serviceType, const ITraceSinkOwner* traceOwner,
                             CSessionConfigLoader* binding) {
    if (!binding) return ZEL_E_INVALIDARG;
    m_serviceType = serviceType;
    m_traceOwner = traceOwner;
    m_binding = binding;
    m_sectionName = ServiceSectionName(serviceType);
    const uint32_t status = Reload();
    Reset();
    return status;
}

uint32_t svcRetryState::GetServiceType() const { return m_serviceType; }

void svcRetryState::ReadSetting(const char* key, uint32_t& field) const {
    char* text = nullptr;
    const uint32_t status = m_binding->RetrieveLocalProperty(m_sectionName.c_str(), key, &text);
    const ModuleText release(text, ModuleRelease{m_binding});
    // atoi, so that a negative value wraps the way the settings have always been read.
    if (status == 0 && text) field = static_cast<uint32_t>(std::atoi(text));
}

uint32_t svcRetryState::Reload() {
    if (!m_binding) return ZEL_E_NOT_INITIALIZED;
    ReadSetting(kKeyRetryInterval, m_retryInterval);
    ReadSetting(kKeyRetryCeiling, m_retryCeiling);
    ReadSetting(kKeyMaxServerRetry, m_maxServerRetry);
    ReadSetting(kKeyRetryPrimaryServer, m_retryPrimaryServer);

    int32_t* servers = nullptr;
    uint32_t count = 0;
    const uint32_t status = m_binding->GetDestinations(0, &servers, &count);
    const std::unique_ptr<int32_t, ModuleRelease> release(servers, ModuleRelease{m_binding});
    if (status != 0) {
        AgentTraceF(SinkOf(m_traceOwner), SS_TRACE_INFO, kReloadWhere,
                    "Unable to get server list for service type %d", static_cast<int>(m_serviceType));
        return status;
    }
    if (!servers) count = 0;
    if (count == 0) {
        AgentTraceF(SinkOf(m_traceOwner), SS_TRACE_INFO, kReloadWhere,
                    "No available servers for service type %d", static_cast<int>(m_serviceType));
    }
    m_servers.assign(servers, servers + count);
    return 0;
}

void svcRetryState::GetState(uint32_t& delay, int32_t& server) const {
    delay = m_delay;
    server = GetServerAt(m_index);
}

void svcRetryState::BackOff(int64_t now) {
    if (m_delay == kRetryNoDelay || m_delay == 0) {
        m_delay = m_retryInterval;
    } else if (m_delay != m_retryCeiling) {
        // Doubled in 64 bits: a delay above a lowered ceiling must not wrap to a short one.
        const uint64_t doubled = static_cast<uint64_t>(m_delay) * 2;
        m_delay = doubled >= m_retryCeiling ? m_retryCeiling : static_cast<uint32_t>(doubled);
    }

    // With a single controller there is nowhere to move to; it is retried for ever.
    const auto count = static_cast<int64_t>(m_servers.size());
    if (count < 2) return;
    if (++m_attempts < m_maxServerRetry) return;
    m_index = m_index + 1 >= count ? 0 : m_index + 1;
    m_delay = 0;
    if (m_index == 1) m_leftPrimaryAt = now;
    m_attempts = 0;
}

void svcRetryState::NextState(uint32_t status, uint32_t& delay, int32_t& server) {
    const int64_t now = Now();
    switch (status) {
    case 0:
        m_delay = kRetryNoDelay;
        m_attempts = 0;
        break;
    case ZEL_E_RETRY:
        m_delay = 0;
        break;
    case ZEL_E_INVALID_HANDLE:
        // There was no controller to send to: wait until a send is requested.
        m_delay = kRetryNoDelay;
        break;
    default:
        BackOff(now);
        break;
    }

    if (m_index > 0 && now - m_leftPrimaryAt > static_cast<int64_t>(m_retryPrimaryServer)) {
        m_index = 0;
        if (m_delay != kRetryNoDelay) m_delay = m_retryInterval;
    }

    // A position outside the list (none yet, or the list shrank under it at a Reload)
    // starts again from the primary.
    const auto count = static_cast<int64_t>(m_servers.size());
    if (count > 0 && (m_index < 0 || m_index >= count)) m_index = 0;

    if (m_immediate && m_delay == kRetryNoDelay) m_delay = 0;
    m_immediate = false;

    delay = m_delay;
    if (count == 0) {
        m_index = -1;
        server = -1;
    } else {
        server = m_servers[static_cast<std::size_t>(m_index)];
    }

    if (m_delay != kRetryNoDelay) {
        AgentTraceF(SinkOf(m_traceOwner), SS_TRACE_INFO, kNextStateWhere, "Next retry in %d seconds to server %d",
                    static_cast<int>(m_delay / 1000), server);
    }
}

void svcRetryState::Reset() {
    m_delay = kRetryNoDelay;
    m_attempts = 0;
    m_leftPrimaryAt = 0;
    m_immediate = false;
    m_index = m_servers.empty() ? -1 : 0;
}

void svcRetryState::SetState(uint32_t delay, int32_t server) {
    m_delay = delay;
    m_attempts = 0;
    m_index = server < 0 ? -1 : FindServer(server);
    if (m_index >= 1) m_leftPrimaryAt = Now();
}

bool svcRetryState::GetImmediate() const { return m_immediate; }

void svcRetryState::SetImmediate(bool immediate) { m_immediate = immediate; }

uint32_t svcRetryState::GetServerCount() const { return static_cast<uint32_t>(m_servers.size()); }

int32_t svcRetryState::GetServerAt(int32_t position) const {
    if (position < 0 || static_cast<std::size_t>(position) >= m_servers.size()) return -1;
    return m_servers[static_cast<std::size_t>(position)];
}

int32_t svcRetryState::FindServer(int32_t server) const {
    for (std::size_t i = 0; i < m_servers.size(); ++i)
        if (m_servers[i] == server) return static_cast<int32_t>(i);
    return -1;
}

uint32_t svcRetryState::GetMaxServerRetry() const { return m_maxServerRetry; }

std::vector<int32_t> svcRetryState::GetServers() const { return m_servers; }

}  // namespace zel
