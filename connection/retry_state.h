// svcRetryState: which controller the next post goes to and how long to wait before it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zel {

class CSessionConfigLoader;
class ITraceSinkOwner;

// Service type numbers; the number selects the property-file section of the settings.
inline constexpr uint32_t kServiceTypeSensor = 1;
inline constexpr uint32_t kServiceTypeEvent = 3;
inline constexpr uint32_t kServiceTypeUpdate = 4;

// The delay value meaning "nothing scheduled: wait until woken".
inline constexpr uint32_t kRetryNoDelay = 0xFFFFFFFFu;

// The property-file section of a service type; empty for an unknown type.
const char* ServiceSectionName(uint32_t serviceType);

// The calendar time in seconds; tests substitute their own clock.
using RetryClock = std::function<int64_t()>;

// Exponential back-off over the ordered controller list (position 0 is the primary), with a
// timed return to the primary after a while on a secondary controller. The object has no
// lock of its own: its owner serialises every call, including GetServers.
class svcRetryState {
public:
    // `clock` gives the calendar time in seconds (null: the system clock).
    explicit svcRetryState(RetryClock clock = nullptr);
    svcRetryState(const svcRetryState&) = delete;
    svcRetryState& operator=(const svcRetryState&) = delete;
    virtual ~svcRetryState();

    // Binds to the service type, trace owner (may be null) and session-config binding, then
    // Reload and Reset; Reload's result, or ZEL_E_INVALIDARG for a null binding.
    virtual uint32_t Init(uint32_t serviceType, const ITraceSinkOwner* traceOwner, CSessionConfigLoader* binding);
    // The service type given to Init.
    virtual uint32_t GetServiceType() const;
    // Rereads the retry settings (an absent key keeps its value) and the controller list;
    // 0, or the module's failure with the list unchanged. Delay, position, attempts and the
    // departure time from the primary are left as they are.
    virtual uint32_t Reload();
    // The current delay and controller identifier (-1 when the position is outside the list).
    virtual void GetState(uint32_t& delay, int32_t& server) const;
    // Advances after a send that ended with `status` and gives the wait before the next
    // send (kRetryNoDelay: until woken) and its controller (-1: none).
    virtual void NextState(uint32_t status, uint32_t& delay, int32_t& server);
    // Back to the primary with nothing scheduled (position -1 for an empty list).
    virtual void Reset();
    // Continues with `server` (position -1 when negative or absent) after `delay`; moving
    // to a secondary position starts the timer for the return to the primary.
    virtual void SetState(uint32_t delay, int32_t server);
    // True when a send was requested and the next NextState is to schedule it at once.
    virtual bool GetImmediate() const;
    // Requests (or withdraws the request for) an immediate send at the next NextState.
    virtual void SetImmediate(bool immediate);

    // The number of controllers.
    uint32_t GetServerCount() const;
    // The controller identifier at `position`, or -1 outside the list.
    int32_t GetServerAt(int32_t position) const;
    // The position of controller `server`, or -1 when it is not in the list.
    int32_t FindServer(int32_t server) const;
    // Failed attempts on one controller before moving to the next.
    uint32_t GetMaxServerRetry() const;
    // A copy of the controller list, for walking it while Reload may replace the list.
    std::vector<int32_t> GetServers() const;

    // The current position in the list (-1: none).
    int32_t GetIndex() const { return m_index; }
    // The first back-off delay in milliseconds.
    uint32_t GetRetryInterval() const { return m_retryInterval; }
    // The largest back-off delay in milliseconds.
    uint32_t GetRetryCeiling() const { return m_retryCeiling; }
    // Seconds on secondary controllers after which the primary is tried again.
    uint32_t GetRetryPrimaryServer() const { return m_retryPrimaryServer; }

private:
    // Reads one unsigned setting of the section into `field`; absent keeps the value.
    void ReadSetting(const char* key, uint32_t& field) const;
    // The first back-off step after a failed send, and the move to the next controller
    // after too many failures on this one.
    void BackOff(int64_t now);
    int64_t Now() const;

    RetryClock m_clock;
    uint32_t m_serviceType = 0;
    const ITraceSinkOwner* m_traceOwner = nullptr;
    CSessionConfigLoader* m_binding = nullptr;
    std::string m_sectionName;
    uint32_t m_retryInterval = 60000;
    uint32_t m_retryCeiling = 1800000;
    uint32_t m_maxServerRetry = 5;
    uint32_t m_retryPrimaryServer = 7200;
    std::vector<int32_t> m_servers;
    uint32_t m_delay = kRetryNoDelay;
    int32_t m_index = -1;
    uint32_t m_attempts = 0;
    int64_t m_leftPrimaryAt = 0;
    bool m_immediate = false;
};

}  // namespace zel
