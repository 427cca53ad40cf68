#include "sensor_services/library.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "connection/agent_trace.h"
#include "runtime/trace.h"
#include "runtime/unicode.h"
#include "sensor_services/internal.h"
#include "sensor_services/sensor_services_object.h"

namespace zel::ss {

namespace {

// Found or created when the library is loaded, so that the modules of the agent's process
// share one trace object (the library's own components trace through the agent's sink).
[[maybe_unused]] TraceInterface* const g_processTrace = ProcessTrace();

constexpr const char* kInitWhere = "SS_Init()";
constexpr const char* kInterfaceVersion = "3.0";
constexpr std::size_t kAgentIdLength = 36;
constexpr std::size_t kValidationMessageSize = 512;
// How long the process exit waits for a dispatch thread still finishing.
constexpr std::chrono::seconds kExitWaitLimit(5);

// The process-wide state. `published` and `platform` change only under `mutex`, which is
// held just long enough to read or swap them (and to add the caller's reference).
// `initialisation` makes SS_Init calls run one at a time: the session-config module is
// one per process, so two objects must never be started side by side.
struct LibraryState {
    std::mutex mutex;
    CSensorServices* published = nullptr;
    const SS_PlatformServices* platform = nullptr;
    std::mutex initialisation;
};

LibraryState& State() {
    // Never destroyed: a dispatch thread may still use it while the process exits.
    static LibraryState* const state = new LibraryState;
    return *state;
}

// Holds the process-wide lock of `platform` (none without platform services).
class ProcessLock {
public:
    explicit ProcessLock(const SS_PlatformServices* platform) : m_platform(platform) {
        if (m_platform) m_platform->acquireLock(SS_PROCESS_LOCK);
    }
    ~ProcessLock() {
        if (m_platform) m_platform->releaseLock(SS_PROCESS_LOCK);
    }
    ProcessLock(const ProcessLock&) = delete;
    ProcessLock& operator=(const ProcessLock&) = delete;

private:
    const SS_PlatformServices* m_platform;
};

// The identifier names the agent in its property file and in every reply it accepts: 36
// bytes of UTF-8 without control characters.
bool IsAgentIdentifier(const char* agentIdentifier) {
    if (std::strlen(agentIdentifier) != kAgentIdLength) return false;
    std::u16string characters;
    if (zelToUtf16(agentIdentifier, kAgentIdLength, characters) != 0) return false;
    return std::none_of(characters.begin(), characters.end(),
                        [](char16_t c) { return c < 0x20 || c == 0x7F || c == 0xFFFE || c == 0xFFFF; });
}

bool ArgumentsValid(const char* version, const char* localPropertyFile, const char* groupSettingsFile,
                    const char* agentIdentifier) {
    return version && localPropertyFile && groupSettingsFile && agentIdentifier &&
           IsAgentIdentifier(agentIdentifier) && std::strcmp(version, kInterfaceVersion) == 0;
}

void TraceInvalidArguments(const SS_TraceSink* trace, const char* version, const char* localPropertyFile,
                           const char* groupSettingsFile, const SS_PlatformServices* platform) {
    if (!TraceEnabled(trace, SS_TRACE_ERROR)) return;
    const auto text = [](const char* s) { return s ? s : "(null)"; };
    char message[kValidationMessageSize];
    std::snprintf(message, sizeof message,
                  "...Error validating arguments in call to SS_Init(%s, %s, %s, 0x%08lx, 0x%08lx)", text(version),
                  text(localPropertyFile), text(groupSettingsFile),
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(platform)),
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(trace)));
    AgentTrace(trace, SS_TRACE_ERROR, kInitWhere, message);
}

bool IsPublished() {
    LibraryState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.published != nullptr;
}

// Lets go of an object that was not published: its dispatch thread (if any) is told to
// stop, and the last of the two references (the caller's, the thread's) cleans up.
void Discard(CSensorServices* services) {
    services->StopDispatch();
    services->Release();
}

}  // namespace

CSensorServices* AcquireServices() noexcept {
    LibraryState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.published) state.published->AddRef();
    return state.published;
}

void ReleaseServices(CSensorServices* services) noexcept { services->Release(); }

uint32_t InitializeLibrary(const char* version, const char* localPropertyFile, const char* groupSettingsFile,
                           const char* agentIdentifier, uint32_t option, const SS_PlatformServices* platform,
                           const SS_TraceSink* trace) {
    AgentTrace(trace, SS_TRACE_INFO, kInitWhere, "Initializing Sensor Services...");
    if (!ArgumentsValid(version, localPropertyFile, groupSettingsFile, agentIdentifier)) {
        TraceInvalidArguments(trace, version, localPropertyFile, groupSettingsFile, platform);
        return ZEL_E_INVALIDARG;
    }
    if (IsPublished()) return ZEL_I_SS_ALREADY_INITIALIZED;

    LibraryState& state = State();
    std::lock_guard<std::mutex> initialisation(state.initialisation);
    if (IsPublished()) return ZEL_I_SS_ALREADY_INITIALIZED;
    // An object shut down earlier may still be finishing a post; it is not waited for. The
    // new object's binding takes the session-config module over (CSessionConfigLoader).

    CSensorServices* const services = CSensorServices::Create();
    if (!services) return ZEL_E_NO_VIRTUAL_MEMORY;
    services->AddRef();  // this function's reference; publication takes it over
    const uint32_t status =
        services->Init(platform, trace, localPropertyFile, groupSettingsFile, agentIdentifier, option);
    // An agent that exits right after SS_ShutDown would otherwise destroy the static objects
    // of this library, Xerces, the session-config module and libcurl under a dispatch
    // thread still finishing its clean-up. The exit waits for that thread a bounded time
    // (one post may still be in flight). Exit handlers run in the reverse order of their
    // registration, and the module registers the destructors of its static objects when it
    // is loaded: so the wait is registered after Init has loaded it, and, since every start
    // loads it anew, by every start. atexit from a shared library is tied to the library,
    // so unloading it first is safe.
    std::atexit([] { CBaseServices::WaitUntilNoneAlive(kExitWaitLimit); });
    if (status != 0) {
        Discard(services);
        return status;
    }

    bool published = false;
    {
        ProcessLock processLock(platform);
        std::lock_guard<std::mutex> lock(state.mutex);
        if (!state.published) {
            state.published = services;
            state.platform = platform;
            published = true;
        }
    }
    if (!published) Discard(services);
    return 0;
}

uint32_t ShutDownLibrary() noexcept {
    LibraryState& state = State();
    CSensorServices* services;
    {
        const SS_PlatformServices* platform;
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            platform = state.platform;
        }
        ProcessLock processLock(platform);
        std::lock_guard<std::mutex> lock(state.mutex);
        services = state.published;
        state.published = nullptr;
        state.platform = nullptr;
    }
    if (services) {
        services->BeginShutDown();
        services->Release();  // the publication's reference
    }
    return 0;
}

void WaitUntilLibraryGone() { CBaseServices::WaitUntilNoneAlive(); }

unsigned LibraryInstanceCount() { return CBaseServices::AliveCount(); }

uint32_t QueueHeartbeatBytes(const char* bytes, uint32_t length) {
    return ExportFrame([&](CSensorServices& services) -> uint32_t {
        auto record = std::make_unique<CHeartbeatRecord>();
        if (!record->Assign(bytes, length)) return ZEL_E_NO_VIRTUAL_MEMORY;
        services.QueueHeartbeatRecord(std::move(record));
        return 0;
    });
}

uint32_t RequestDispatch() {
    return ExportFrame([](CSensorServices& services) { return services.TriggerDispatch(); });
}

uint32_t GetHeartbeatPending(bool& pending) {
    return ExportFrame([&](CSensorServices& services) -> uint32_t {
        pending = services.HasPendingHeartbeat();
        return 0;
    });
}

uint32_t GetDumpEnabled(bool& enabled) {
    return ExportFrame([&](CSensorServices& services) -> uint32_t {
        enabled = services.DumpEnabled();
        return 0;
    });
}

uint32_t GetPostTimeouts(uint32_t (&timeouts)[3]) {
    return ExportFrame([&](CSensorServices& services) -> uint32_t {
        const PostTimeouts values = services.Timeouts();
        for (int i = 0; i < 3; ++i) timeouts[i] = values.values[i];
        return 0;
    });
}

uint32_t ProcessHeartbeatReply(const char* bytes, uint32_t length, const char* agentId) {
    return ExportFrame([&](CSensorServices& services) {
        return services.HelperProcessHeartbeatResponse(bytes, length, agentId ? agentId : "");
    });
}

uint32_t ProcessPingReply(const char* bytes, uint32_t length) {
    return ExportFrame([&](CSensorServices& services) { return services.HelperProcessPingResponse(bytes, length); });
}

}  // namespace zel::ss
