// The platform side of locking: pthread mutexes and condition variables live only here.
#include "runtime/sync.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <new>

#include "runtime/platform.h"

namespace zel {

class jsCriticalSection : public jsSyncObject {
public:
    explicit jsCriticalSection(bool initiallyLocked) {
        pthread_mutexattr_t attributes;
        if (pthread_mutexattr_init(&attributes) != 0) return;
        m_valid = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                  pthread_mutex_init(&m_mutex, &attributes) == 0;
        pthread_mutexattr_destroy(&attributes);
        if (m_valid && initiallyLocked) pthread_mutex_lock(&m_mutex);
    }

    ~jsCriticalSection() override {
        if (m_valid) pthread_mutex_destroy(&m_mutex);
    }

    void Lock() {
        if (m_valid) pthread_mutex_lock(&m_mutex);
    }

    // Callers read the last error right after leaving a lock (error paths unlock before
    // they report), so leaving must not disturb it.
    void Unlock() {
        if (!m_valid) return;
        uint32_t lastError = platform::GetLastError();
        pthread_mutex_unlock(&m_mutex);
        platform::SetLastError(lastError);
    }

    bool TryLock() { return m_valid && pthread_mutex_trylock(&m_mutex) == 0; }

private:
    pthread_mutex_t m_mutex;
};

namespace {
// Without memory the handle stays invalid instead of throwing out of a constructor that
// callers use as a plain member.
std::unique_ptr<jsCriticalSection> NewCriticalSection(bool initiallyLocked) {
    return std::unique_ptr<jsCriticalSection>(new (std::nothrow) jsCriticalSection(initiallyLocked));
}
}  // namespace

jsFastSync::jsFastSync(bool initiallyLocked) : m_lock(NewCriticalSection(initiallyLocked)) {
    m_valid = m_lock && m_lock->IsValid();
    m_enabled = true;
}

jsFastSync::~jsFastSync() = default;

void jsFastSync::Lock() {
    if (m_enabled && m_lock) m_lock->Lock();
}

void jsFastSync::Unlock() {
    if (m_enabled && m_lock) m_lock->Unlock();
}

jsRecursiveSync::jsRecursiveSync(bool initiallyLocked) : m_lock(NewCriticalSection(initiallyLocked)) {
    m_valid = m_lock && m_lock->IsValid();
    m_enabled = true;
}

jsRecursiveSync::~jsRecursiveSync() = default;

void jsRecursiveSync::Lock() {
    if (m_enabled && m_lock) m_lock->Lock();
}

void jsRecursiveSync::Unlock() {
    if (m_enabled && m_lock) m_lock->Unlock();
}

bool jsRecursiveSync::TryLock() { return m_enabled && m_lock && m_lock->TryLock(); }

struct jsEvent::State {
    State(bool signalledAtStart, bool manual) : manualReset(manual), signalled(signalledAtStart) {
        mutexReady = pthread_mutex_init(&mutex, nullptr) == 0;
        pthread_condattr_t attributes;
        if (pthread_condattr_init(&attributes) != 0) return;
        // Timeouts run on the monotonic clock so that a change of the wall clock neither
        // ends a wait early nor stretches it.
        conditionReady = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC) == 0 &&
                         pthread_cond_init(&condition, &attributes) == 0;
        pthread_condattr_destroy(&attributes);
    }

    ~State() {
        if (conditionReady) pthread_cond_destroy(&condition);
        if (mutexReady) pthread_mutex_destroy(&mutex);
    }

    pthread_mutex_t mutex;
    pthread_cond_t condition;
    bool mutexReady = false;
    bool conditionReady = false;
    const bool manualReset;
    bool signalled;
};

jsEvent::jsEvent(bool initiallyNonSignalled, bool manualReset)
    : m_state(new (std::nothrow) State(!initiallyNonSignalled, manualReset)) {
    m_valid = m_state && m_state->mutexReady && m_state->conditionReady;
}

jsEvent::~jsEvent() = default;

uint32_t jsEvent::Wait(uint32_t milliseconds) {
    if (!m_valid) return kFailed;
    timespec deadline{};
    if (milliseconds != kInfinite) {
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += milliseconds / 1000;
        deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
    }
    if (pthread_mutex_lock(&m_state->mutex) != 0) return kFailed;
    int rc = 0;
    // The loop absorbs spurious wake-ups and, for automatic reset, a waiter that was woken
    // but lost the signal to a thread that got there first.
    while (!m_state->signalled && rc == 0) {
        rc = milliseconds == kInfinite ? pthread_cond_wait(&m_state->condition, &m_state->mutex)
                                       : pthread_cond_timedwait(&m_state->condition, &m_state->mutex, &deadline);
    }
    uint32_t result;
    if (m_state->signalled) {
        if (!m_state->manualReset) m_state->signalled = false;
        result = kSignalled;
    } else {
        result = rc == ETIMEDOUT ? kTimedOut : kFailed;
    }
    pthread_mutex_unlock(&m_state->mutex);
    return result;
}

bool jsEvent::Set() {
    if (!m_valid || pthread_mutex_lock(&m_state->mutex) != 0) return false;
    m_state->signalled = true;
    if (m_state->manualReset)
        pthread_cond_broadcast(&m_state->condition);
    else
        pthread_cond_signal(&m_state->condition);
    pthread_mutex_unlock(&m_state->mutex);
    return true;
}

bool jsEvent::Reset() {
    if (!m_valid || pthread_mutex_lock(&m_state->mutex) != 0) return false;
    m_state->signalled = false;
    pthread_mutex_unlock(&m_state->mutex);
    return true;
}

}  // namespace zel
