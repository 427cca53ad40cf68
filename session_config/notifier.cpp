#include "session_config/notifier.h"

#include <algorithm>

namespace zel::scs {

CNotifier::CNotifier(std::function<void()> poll)
    : m_poll(std::move(poll)), m_thread([this] { Run(); }) {}

CNotifier::~CNotifier() { Stop(); }

void CNotifier::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

bool CNotifier::Register(SCS_SettingsChangedCallback callback) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (std::find(m_callbacks.begin(), m_callbacks.end(), callback) != m_callbacks.end())
        return false;
    m_callbacks.push_back(callback);
    return true;
}

bool CNotifier::Unregister(SCS_SettingsChangedCallback callback) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto found = std::find(m_callbacks.begin(), m_callbacks.end(), callback);
    if (found == m_callbacks.end()) return false;
    m_callbacks.erase(found);
    // A callback that unregisters itself would wait for its own end.
    if (std::this_thread::get_id() != m_thread.get_id())
        m_finished.wait(lock, [&] { return m_running != callback; });
    return true;
}

void CNotifier::Notify() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending = true;
    }
    m_wake.notify_all();
}

void CNotifier::SetWatchInterval(uint32_t seconds) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_intervalSeconds == seconds) return;
        m_intervalSeconds = seconds;
    }
    m_wake.notify_all();
}

void CNotifier::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto nextPoll = std::chrono::steady_clock::now();
    while (!m_stop) {
        if (m_pending) {
            m_pending = false;
            lock.unlock();
            CallCallbacks();
            lock.lock();
            continue;
        }
        if (m_intervalSeconds == 0) {
            m_wake.wait(lock);
            nextPoll = std::chrono::steady_clock::now() + std::chrono::seconds(m_intervalSeconds);
            continue;
        }
        const uint32_t interval = m_intervalSeconds;
        if (std::chrono::steady_clock::now() >= nextPoll) {
            nextPoll = std::chrono::steady_clock::now() + std::chrono::seconds(interval);
            lock.unlock();
            if (m_poll) m_poll();
            lock.lock();
            continue;
        }
        const auto limit =
            std::min(nextPoll, std::chrono::steady_clock::now() + std::chrono::seconds(interval));
        m_wake.wait_until(lock, limit);
        // A shortened interval takes effect at once.
        if (m_intervalSeconds != interval)
            nextPoll = std::chrono::steady_clock::now() + std::chrono::seconds(m_intervalSeconds);
    }
}

void CNotifier::CallCallbacks() {
    std::vector<SCS_SettingsChangedCallback> round;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        round = m_callbacks;
    }
    for (SCS_SettingsChangedCallback callback : round) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            // A callback unregistered since the round began is skipped.
            if (m_stop) return;
            if (std::find(m_callbacks.begin(), m_callbacks.end(), callback) == m_callbacks.end())
                continue;
            m_running = callback;
        }
        callback();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_running = nullptr;
        }
        m_finished.notify_all();
    }
}

}  // namespace zel::scs
