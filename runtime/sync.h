// Locks and events: re-entrant critical-section locks, a scoped lock guard and a
// manual- or automatic-reset event.
#pragma once

#include <cstdint>
#include <memory>

namespace zel {

// Base of every lock and event: remembers whether the object came up usable.
class jsSyncObject {
public:
    jsSyncObject() = default;
    virtual ~jsSyncObject() = default;
    jsSyncObject(const jsSyncObject&) = delete;
    jsSyncObject& operator=(const jsSyncObject&) = delete;

    // True when the object was created completely and may be used.
    virtual bool IsValid() const { return m_valid; }

protected:
    bool m_valid = false;
};

// The critical section behind each lock handle (a re-entrant mutex); defined with the
// platform code.
class jsCriticalSection;

// The lock handle of hot paths: plain Lock and Unlock, no try-lock.
class jsFastSync : public jsSyncObject {
public:
    // Valid when the inner critical section could be created.
    explicit jsFastSync(bool initiallyLocked = false);
    ~jsFastSync() override;

    // Enters the lock; does nothing when not valid.
    void Lock();
    // Leaves the lock once, keeping the thread's last error; does nothing when not valid.
    void Unlock();

private:
    bool m_enabled = false;
    std::unique_ptr<jsCriticalSection> m_lock;
};

// The general lock handle: overridable Lock, Unlock and TryLock.
class jsRecursiveSync : public jsSyncObject {
public:
    // Valid when the inner critical section could be created.
    explicit jsRecursiveSync(bool initiallyLocked = false);
    ~jsRecursiveSync() override;

    // Enters the lock; does nothing when not valid.
    virtual void Lock();
    // Leaves the lock once, keeping the thread's last error; does nothing when not valid.
    virtual void Unlock();
    // Enters without blocking: true when entered (also re-entered by the owner), false when
    // another thread holds the lock or the lock is not valid.
    virtual bool TryLock();

private:
    bool m_enabled = false;
    std::unique_ptr<jsCriticalSection> m_lock;
};

// Holds a lock handle (jsFastSync or jsRecursiveSync) for a scope: the destructor releases
// what the guard acquired.
template <class LockHandle>
class jsLockGuard {
public:
    // Locks `lock` when `acquire`; otherwise the guard holds nothing until destroyed.
    explicit jsLockGuard(LockHandle& lock, bool acquire = true) : m_valid(lock.IsValid()), m_lock(lock) {
        if (acquire) {
            m_lock.Lock();
            m_count = 1;
        }
    }
    ~jsLockGuard() { Release(); }
    jsLockGuard(const jsLockGuard&) = delete;
    jsLockGuard& operator=(const jsLockGuard&) = delete;

    // Unlocks once when the guard still holds the lock; later calls do nothing.
    void Release() {
        if (m_count > 0) {
            --m_count;
            m_lock.Unlock();
        }
    }

    // True when the guarded lock handle is valid.
    bool IsValid() const { return m_valid; }
    // How many times the guard still has to unlock (0 or 1).
    unsigned Count() const { return m_count; }

private:
    bool m_valid;
    unsigned m_count = 0;
    LockHandle& m_lock;
};

// An event that threads wait on until another thread sets it.
class jsEvent : public jsSyncObject {
public:
    static constexpr uint32_t kInfinite = 0xFFFFFFFFu;  // Wait: no time limit
    static constexpr uint32_t kSignalled = 0;           // Wait results
    static constexpr uint32_t kTimedOut = 1;
    static constexpr uint32_t kFailed = 2;

    // Creates the event, signalled unless `initiallyNonSignalled`. A manual-reset event stays
    // signalled until Reset; an automatic-reset event releases one waiter and clears itself.
    jsEvent(bool initiallyNonSignalled, bool manualReset);
    ~jsEvent() override;

    // Waits up to `milliseconds` (kInfinite: without limit) for the event: kSignalled,
    // kTimedOut, or kFailed when the event is not valid or the wait itself failed.
    uint32_t Wait(uint32_t milliseconds);
    // Signals the event; false when not valid.
    bool Set();
    // Clears the event; false when not valid.
    bool Reset();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace zel
