// The module's notifier thread: calls the settings-changed callbacks, and polls the loaded
// files for changes when a watch interval is set.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "zel/session_config.h"

namespace zel::scs {

class CNotifier {
public:
    // poll runs on the notifier thread every watch interval (it reloads changed files,
    // and those loads call Notify).
    explicit CNotifier(std::function<void()> poll);
    ~CNotifier();
    CNotifier(const CNotifier&) = delete;
    CNotifier& operator=(const CNotifier&) = delete;

    // Adds a callback; false when it was registered already.
    bool Register(SCS_SettingsChangedCallback callback);
    // Removes a callback; false when it was not registered. Returns only after a call of
    // it in progress on the notifier thread has ended (unless called from that call).
    bool Unregister(SCS_SettingsChangedCallback callback);
    // Asks the thread to call every callback once; notices that arrive while a round is
    // pending are merged into it.
    void Notify();
    // Polls every interval seconds; 0 stops polling.
    void SetWatchInterval(uint32_t seconds);
    // True on the notifier thread.
    bool IsNotifierThread() const { return std::this_thread::get_id() == m_thread.get_id(); }
    // Ends the thread after the call in progress; idempotent.
    void Stop();

private:
    void Run();
    void CallCallbacks();

    std::function<void()> m_poll;
    std::mutex m_mutex;
    std::condition_variable m_wake;      // pending notice, interval change or stop
    std::condition_variable m_finished;  // a callback call has ended
    std::vector<SCS_SettingsChangedCallback> m_callbacks;
    SCS_SettingsChangedCallback m_running = nullptr;
    bool m_pending = false;
    bool m_stop = false;
    uint32_t m_intervalSeconds = 0;
    std::thread m_thread;  // last: starts after every other member exists
};

}  // namespace zel::scs
