// CBaseServices: the part of the services object that any service type shares: the
// session-config binding, the agent's platform services and trace sink, the object lock,
// the dispatch event and thread, the post timeouts and the reference count.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "connection/agent_trace.h"
#include "connection/retry_state.h"
#include "connection/session_config_loader.h"
#include "zel/platform_services.h"

namespace zel::ss {

// The post timeouts as SCS_PostData takes them: connect, transfer, DNS cache (ms).
struct PostTimeouts {
    uint32_t values[3] = {0, 0, 60000};
};

// Reference-counted: Init's caller holds the first reference, the dispatch thread one of
// its own while it runs, each export call one for its duration. The last Release runs
// Cleanup and destroys the object, on whichever thread that is. With platform services
// the object lock, the dispatch event and the thread come from the agent's table; without
// them (synchronous mode) there is no thread and the object lock is a private mutex,
// because the session-config module's notifier thread still calls in.
class CBaseServices : public ITraceSinkOwner {
public:
    CBaseServices(const CBaseServices&) = delete;
    CBaseServices& operator=(const CBaseServices&) = delete;

    // Adds a reference.
    void AddRef() noexcept;
    // Drops a reference; the last one runs Cleanup and destroys the object (on a thread of
    // its own when the last reference goes inside a settings-changed handler).
    void Release() noexcept;

    // Marks the calling thread as running the settings-changed handler for a scope.
    class SettingsChangedScope {
    public:
        SettingsChangedScope() noexcept;
        ~SettingsChangedScope();
        SettingsChangedScope(const SettingsChangedScope&) = delete;
        SettingsChangedScope& operator=(const SettingsChangedScope&) = delete;
    };

    // Asks the retry state to go back to the primary controller and wakes the dispatch
    // thread; 0.
    virtual uint32_t ResetToPrimaryController();
    // Asks for the pending work to be sent now: wakes the dispatch thread when it waits
    // without a limit (0); in synchronous mode sends on the calling thread and returns the
    // send's status (ZEL_E_INVALID_HANDLE when there is no controller).
    virtual uint32_t TriggerDispatch();

    // Sets the stop flag and wakes the dispatch thread, which then leaves its loop and
    // drops its reference. Harmless without a thread.
    void StopDispatch() noexcept;

    // Blocks until every services object created so far has been destroyed; returns at
    // once on a dispatch thread, whose own object cannot go while it waits.
    static void WaitUntilNoneAlive();
    // The same with a limit; false when objects were still alive when it passed.
    static bool WaitUntilNoneAlive(std::chrono::milliseconds limit);
    // The number of services objects not yet destroyed.
    static unsigned AliveCount();

    // The agent's trace sink, or null.
    const SS_TraceSink* TraceSink() const override { return m_trace; }
    // The session-config binding (null before Init and after Cleanup).
    CSessionConfigLoader* Binding() const { return m_binding.get(); }
    // True when the agent gave platform services (not synchronous mode).
    bool HasPlatform() const { return m_platform != nullptr; }
    // A copy of the post timeouts, taken under the object lock.
    PostTimeouts Timeouts() const;

protected:
    CBaseServices();
    virtual ~CBaseServices();

    // Loads the session-config module and its files, initialises `retryState` for
    // `serviceType`, reads the settings and (with platform services) starts the dispatch
    // thread. On failure everything acquired is released again (Cleanup). With platform
    // services a failed settings lookup is only traced; in synchronous mode it is the
    // result.
    virtual uint32_t Init(uint32_t serviceType, svcRetryState* retryState, const SS_PlatformServices* platform,
                          const SS_TraceSink* trace, const char* localPropertyFile,
                          const char* groupSettingsFile, const char* agentIdentifier, uint32_t option,
                          bool loadGroupSettings, bool loadServerSettings);
    // Releases what Init acquired: the session-config module (its shut-down status is the
    // result), the event and the lock. Safe to run more than once; never runs while the
    // dispatch thread does.
    virtual uint32_t Cleanup();
    // Reads the post timeouts of `serviceType`'s section; the status of the last lookup.
    // The caller holds the object lock once other threads can see the object.
    virtual uint32_t LoadSettings(uint32_t serviceType);
    // Sends the pending work to controller `server`; the send's status.
    virtual uint32_t DispatchRequests(int32_t server) = 0;

    // Holds the object lock for a scope.
    class ObjectLock {
    public:
        explicit ObjectLock(const CBaseServices& owner);
        ~ObjectLock();
        ObjectLock(const ObjectLock&) = delete;
        ObjectLock& operator=(const ObjectLock&) = delete;

    private:
        const CBaseServices& m_owner;
        // The table the lock was taken through, so that the release matches the acquire.
        const SS_PlatformServices* m_platform;
    };

    svcRetryState* RetryState() const { return m_retryState; }
    // True once the dispatch thread was told to stop, so that long work on it can end
    // early; always false in synchronous mode, where no thread runs.
    bool StopRequested() const { return HasPlatform() && m_stop.load(); }

private:
    // The process-wide count of objects not yet destroyed.
    struct Census;
    static Census& LiveObjects();

    // Cleanup, then the object's destruction.
    void Destroy() noexcept;

    static uint32_t DispatchThreadEntry(void* services);
    // The dispatch loop; returns the last status and drops the thread's reference.
    uint32_t _DispatchThread();

    std::unique_ptr<CSessionConfigLoader> m_binding;
    svcRetryState* m_retryState = nullptr;
    const SS_PlatformServices* m_platform = nullptr;
    const SS_TraceSink* m_trace = nullptr;
    SS_Handle m_lock = nullptr;
    SS_Handle m_event = nullptr;
    SS_Handle m_thread = nullptr;
    std::atomic<bool> m_stop{true};
    PostTimeouts m_timeouts;
    std::atomic<uint32_t> m_refCount{0};
    // The object lock of synchronous mode.
    mutable std::recursive_mutex m_privateLock;
};

}  // namespace zel::ss
