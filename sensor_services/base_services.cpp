#include "sensor_services/base_services.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>

#include "runtime/platform.h"
#include "zel/status_codes.h"

namespace zel::ss {

namespace {

constexpr const char* kInitWhere = "CBaseServices::Init()";

// The directory to load the session-config module from: the one this library was loaded
// from when the module is there, else "" (the loader's search order, which includes this
// library's RUNPATH). Naming the directory matters where a sanitizer runtime intercepts
// dlopen, which hides the calling library's RUNPATH.
std::string SessionConfigDirectory() {
    const std::string directory = platform::ModuleDirectoryOf(reinterpret_cast<const void*>(&SessionConfigDirectory));
    if (directory.empty() ||
        !platform::FileExists(directory + "/" + platform::ModuleFileName(kSessionConfigLibraryName)))
        return std::string();
    return directory;
}
constexpr const char* kDispatchWhere = "CBaseServices::_DispatchThread()";

// Keys of the post timeouts, in the order of PostTimeouts.
constexpr const char* kTimeoutKeys[3] = {"connectTimeout", "transferTimeout", "dnsCacheTimeout"};

// Texts that carry a path are formatted into a buffer of this size (longer ones are cut).
constexpr std::size_t kPathMessageSize = 1024;

// Set on a dispatch thread for its whole life.
thread_local bool t_onDispatchThread = false;
// Set while the session-config module's notifier thread runs the settings-changed handler.
thread_local bool t_inSettingsChanged = false;

// Traces `format` with one path at `level` when the level is enabled.
void TracePath(const SS_TraceSink* trace, uint32_t level, const char* where, const char* format,
               const char* path) {
    if (!TraceEnabled(trace, level)) return;
    char text[kPathMessageSize];
    std::snprintf(text, sizeof text, format, path ? path : "(null)");
    AgentTrace(trace, level, where, text);
}

}  // namespace

struct CBaseServices::Census {
    std::mutex mutex;
    std::condition_variable allGone;
    unsigned alive = 0;
};

CBaseServices::Census& CBaseServices::LiveObjects() {
    // Never destroyed: the last object may go on a dispatch thread while the process exits.
    static Census* const census = new Census;
    return *census;
}

CBaseServices::CBaseServices() {
    Census& census = LiveObjects();
    std::lock_guard<std::mutex> lock(census.mutex);
    ++census.alive;
}

CBaseServices::~CBaseServices() = default;

bool CBaseServices::WaitUntilNoneAlive(std::chrono::milliseconds limit) {
    if (t_onDispatchThread) return false;
    Census& census = LiveObjects();
    std::unique_lock<std::mutex> lock(census.mutex);
    return census.allGone.wait_for(lock, limit, [&] { return census.alive == 0; });
}

unsigned CBaseServices::AliveCount() {
    Census& census = LiveObjects();
    std::lock_guard<std::mutex> lock(census.mutex);
    return census.alive;
}

void CBaseServices::WaitUntilNoneAlive() {
    if (t_onDispatchThread) return;
    Census& census = LiveObjects();
    std::unique_lock<std::mutex> lock(census.mutex);
    census.allGone.wait(lock, [&] { return census.alive == 0; });
}

void CBaseServices::AddRef() noexcept { m_refCount.fetch_add(1, std::memory_order_relaxed); }

void CBaseServices::Release() noexcept {
    if (m_refCount.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    if (t_inSettingsChanged) {
        // The session-config module's notifier thread cannot stop the module (that would
        // join the thread itself): the clean-up moves to a thread of its own.
        try {
            std::thread([this] { Destroy(); }).detach();
            return;
        } catch (...) {
            // No thread: the clean-up runs here and the module stays up until the process ends.
        }
    }
    Destroy();
}

void CBaseServices::Destroy() noexcept {
    try {
        Cleanup();
    } catch (...) {
        // Clean-up runs in a destructor's place and must not throw; what it could not
        // release is lost.
    }
    delete this;
    Census& census = LiveObjects();
    std::lock_guard<std::mutex> lock(census.mutex);
    if (--census.alive == 0) census.allGone.notify_all();
}

CBaseServices::SettingsChangedScope::SettingsChangedScope() noexcept { t_inSettingsChanged = true; }
CBaseServices::SettingsChangedScope::~SettingsChangedScope() { t_inSettingsChanged = false; }

CBaseServices::ObjectLock::ObjectLock(const CBaseServices& owner) : m_owner(owner), m_platform(owner.m_platform) {
    if (m_platform)
        m_platform->acquireLock(owner.m_lock);
    else
        owner.m_privateLock.lock();
}

CBaseServices::ObjectLock::~ObjectLock() {
    if (m_platform)
        m_platform->releaseLock(m_owner.m_lock);
    else
        m_owner.m_privateLock.unlock();
}

PostTimeouts CBaseServices::Timeouts() const {
    ObjectLock lock(*this);
    return m_timeouts;
}

uint32_t CBaseServices::Init(uint32_t serviceType, svcRetryState* retryState, const SS_PlatformServices* platform,
                             const SS_TraceSink* trace, const char* localPropertyFile,
                             const char* groupSettingsFile, const char* agentIdentifier, uint32_t option,
                             bool loadGroupSettings, bool loadServerSettings) {
    try {
        m_trace = trace;
        if (platform) {
            // Stored before the handles exist, so that Cleanup destroys whichever of them
            // was created when the other fails.
            m_platform = platform;
            uint32_t status = platform->createLock(1, &m_lock);
            if (status == 0) status = platform->createEvent(0, 0, &m_event);
            if (status != 0) {
                Cleanup();
                return status;
            }
        }

        m_binding.reset(new (std::nothrow) CSessionConfigLoader);
        if (!m_binding) {
            Cleanup();
            return ZEL_E_NO_VIRTUAL_MEMORY;
        }
        uint32_t status = m_binding->Init(SessionConfigDirectory().c_str(), kSessionConfigLibraryName,
                                          agentIdentifier, option, platform, trace, true, false);
        if (status != 0) {
            AgentTrace(trace, SS_TRACE_ERROR, kInitWhere, "Failure loading SCS support library");
            Cleanup();
            return status;
        }

        if (m_binding->LoadLocalProperties(localPropertyFile) != 0)
            TracePath(trace, SS_TRACE_WARNING, kInitWhere, "Unable to load local property file: %s",
                      localPropertyFile);

        if (loadGroupSettings) {
            status = m_binding->LoadGroupSettings(groupSettingsFile);
            if (status != 0) {
                TracePath(trace, SS_TRACE_WARNING, kInitWhere, "Unable to load group settings file: %s",
                          groupSettingsFile);
                Cleanup();
                return status;
            }
        }
        if (loadServerSettings) {
            // The binding reaches only the client side of the module, whose server side
            // (server settings included) is not built.
            TracePath(trace, SS_TRACE_WARNING, kInitWhere, "Unable to load server settings file: %s",
                      groupSettingsFile);
            Cleanup();
            return ZEL_E_NOTIMPL;
        }

        m_retryState = retryState;
        status = retryState ? retryState->Init(serviceType, this, m_binding.get()) : ZEL_E_INVALIDARG;
        if (status != 0) {
            AgentTrace(trace, SS_TRACE_ERROR, kInitWhere, "Failed to initialize the retry state object");
            Cleanup();
            return status;
        }

        const uint32_t settingsStatus = LoadSettings(serviceType);
        if (settingsStatus != 0)
            AgentTrace(trace, SS_TRACE_WARNING, kInitWhere, "Failed to load settings from local property file");

        if (!platform) return settingsStatus;

        m_stop = false;
        AddRef();  // the dispatch thread's reference
        status = platform->createThread(&CBaseServices::DispatchThreadEntry, this, &m_thread);
        if (status != 0) {
            m_stop = true;
            // The thread never ran: take its reference back without the clean-up of a
            // last Release, which runs below.
            m_refCount.fetch_sub(1, std::memory_order_acq_rel);
            Cleanup();
            return status;
        }
        return 0;
    } catch (...) {
        AgentTrace(trace, SS_TRACE_ERROR, kInitWhere, "Unexpected failure in base services initialization");
        Cleanup();
        return ZEL_E_INTERNAL;
    }
}

uint32_t CBaseServices::Cleanup() {
    uint32_t status = 0;
    if (m_binding) {
        status = m_binding->Shutdown();
        m_binding.reset();
    }
    if (const SS_PlatformServices* platform = m_platform) {
        m_platform = nullptr;
        if (m_event) {
            platform->signalEvent(m_event);
            platform->destroyEvent(m_event);
        }
        if (m_lock) platform->destroyLock(m_lock);
        m_event = nullptr;
        m_lock = nullptr;
        m_thread = nullptr;
    }
    m_retryState = nullptr;
    return status;
}

uint32_t CBaseServices::LoadSettings(uint32_t serviceType) {
    if (!m_binding) return ZEL_E_SS_NOT_INITIALIZED;
    const char* section = ServiceSectionName(serviceType);
    uint32_t status = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        char* raw = nullptr;
        status = m_binding->RetrieveLocalProperty(section, kTimeoutKeys[i], &raw);
        const ModuleText value(raw, {m_binding.get()});
        // atoi: leading digits count, a text without them reads as 0.
        if (status == 0 && value) m_timeouts.values[i] = static_cast<uint32_t>(std::atoi(value.get()));
    }
    return status;
}

uint32_t CBaseServices::ResetToPrimaryController() {
    {
        ObjectLock lock(*this);
        if (m_retryState) m_retryState->Reset();
    }
    if (m_platform) m_platform->signalEvent(m_event);
    return 0;
}

uint32_t CBaseServices::TriggerDispatch() {
    uint32_t delay = kRetryNoDelay;
    int32_t server = -1;
    {
        ObjectLock lock(*this);
        if (!m_retryState) return ZEL_E_SS_NOT_INITIALIZED;
        m_retryState->GetState(delay, server);
        m_retryState->SetImmediate(true);
    }
    if (m_platform) {
        // A thread waiting with a finite delay sends when the wait ends; the immediate flag
        // makes that delay 0 from then on.
        if (delay == kRetryNoDelay) m_platform->signalEvent(m_event);
        return 0;
    }
    if (server < 0) return ZEL_E_INVALID_HANDLE;
    return DispatchRequests(server);
}

void CBaseServices::StopDispatch() noexcept {
    m_stop = true;
    if (m_platform && m_event) m_platform->signalEvent(m_event);
}

uint32_t CBaseServices::DispatchThreadEntry(void* services) {
    return static_cast<CBaseServices*>(services)->_DispatchThread();
}

uint32_t CBaseServices::_DispatchThread() {
    t_onDispatchThread = true;
    const SS_TraceSink* const trace = m_trace;
    AgentTrace(trace, SS_TRACE_INFO, kDispatchWhere, "Entering dispatch thread");
    uint32_t status = 0;
    try {
        uint32_t delay = kRetryNoDelay;
        int32_t server = -1;
        {
            ObjectLock lock(*this);
            m_retryState->NextState(0, delay, server);
        }
        for (;;) {
            AgentTraceF(trace, SS_TRACE_INFO, kDispatchWhere, "Waiting on dispatch event with timeout = %u", delay);
            if (m_stop) break;
            m_platform->waitEvent(m_event, delay);
            if (m_stop) break;
            AgentTraceF(trace, SS_TRACE_INFO, kDispatchWhere, "Sending requests to server %d", server);
            status = server < 0 ? ZEL_E_INVALID_HANDLE : DispatchRequests(server);
            if (m_stop) break;
            ObjectLock lock(*this);
            m_retryState->NextState(status, delay, server);
        }
    } catch (...) {
        AgentTrace(trace, SS_TRACE_INFO, kDispatchWhere, "Unknown exception caught!");
        status = ZEL_E_INTERNAL;
    }
    AgentTrace(trace, SS_TRACE_INFO, kDispatchWhere, "Exiting dispatch thread");
    // The last use of the object: the reference may be the last one.
    Release();
    return status;
}

}  // namespace zel::ss
