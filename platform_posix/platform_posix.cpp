#include "zel/platform_posix.h"

#include <pthread.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_set>

#include "zel/status_codes.h"

namespace {

// Threads run detached. The table holds the names of the running ones so that waitThread
// can tell when a thread has ended; a thread removes its own name as its last act.
class ThreadTable {
public:
    uintptr_t Add() {
        std::lock_guard<std::mutex> lock(m_mutex);
        const uintptr_t name = ++m_lastName;
        m_running.insert(name);
        return name;
    }
    void Remove(uintptr_t name) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running.erase(name);
        m_ended.notify_all();
    }
    // True when the thread has ended within timeoutMs.
    bool WaitEnded(uintptr_t name, uint32_t timeoutMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        const auto ended = [&] { return m_running.count(name) == 0; };
        if (timeoutMs == SS_INFINITE) {
            m_ended.wait(lock, ended);
            return true;
        }
        return m_ended.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ended;
    uintptr_t m_lastName = 0;
    std::unordered_set<uintptr_t> m_running;
};

// Never destroyed: a detached thread may still end while the process exits.
ThreadTable& Threads() {
    static ThreadTable* const table = new ThreadTable;
    return *table;
}

struct ThreadStart {
    SS_ThreadRoutine routine;
    void* argument;
    uintptr_t name;
};

void* RunThread(void* raw) {
    const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(raw));
    start->routine(start->argument);
    Threads().Remove(start->name);
    return nullptr;
}

struct Event {
    Event(bool manual, bool signalled) : manualReset(manual), state(signalled) {}
    std::mutex mutex;
    std::condition_variable changed;
    const bool manualReset;
    bool state;
};

struct Lock {
    std::recursive_mutex mutex;
};

// Never destroyed, for the same reason as the thread table.
std::recursive_mutex& ProcessLock() {
    static std::recursive_mutex* const lock = new std::recursive_mutex;
    return *lock;
}

std::recursive_mutex* LockOf(SS_Handle handle) {
    if (handle == SS_PROCESS_LOCK) return &ProcessLock();
    return handle ? &static_cast<Lock*>(handle)->mutex : nullptr;
}

uint32_t CreateThread(SS_ThreadRoutine routine, void* argument, SS_Handle* thread) {
    if (!routine || !thread) return ZEL_E_INVALIDARG;
    *thread = nullptr;
    std::unique_ptr<ThreadStart> start(new (std::nothrow) ThreadStart{routine, argument, 0});
    if (!start) return ZEL_E_NO_VIRTUAL_MEMORY;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return EAGAIN;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    start->name = Threads().Add();
    const uintptr_t name = start->name;
    pthread_t id;
    const int error = pthread_create(&id, &attributes, RunThread, start.get());
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        Threads().Remove(name);
        return static_cast<uint32_t>(error);
    }
    start.release();  // the thread owns it now
    *thread = reinterpret_cast<SS_Handle>(name);
    return 0;
}

uint32_t WaitThread(SS_Handle thread, uint32_t timeoutMs) {
    if (!thread) return ZEL_E_INVALID_HANDLE;
    return Threads().WaitEnded(reinterpret_cast<uintptr_t>(thread), timeoutMs) ? 0 : ETIMEDOUT;
}

uint32_t CloseThread(SS_Handle thread) { return thread ? 0 : ZEL_E_INVALID_HANDLE; }

uint32_t CreateEvent(uint32_t manualReset, uint32_t initialState, SS_Handle* event) {
    if (!event) return ZEL_E_INVALIDARG;
    *event = new (std::nothrow) Event(manualReset != 0, initialState != 0);
    return *event ? 0 : ZEL_E_NO_VIRTUAL_MEMORY;
}

uint32_t SignalEvent(SS_Handle handle) {
    if (!handle) return ZEL_E_INVALID_HANDLE;
    auto* event = static_cast<Event*>(handle);
    std::lock_guard<std::mutex> lock(event->mutex);
    event->state = true;
    if (event->manualReset)
        event->changed.notify_all();
    else
        event->changed.notify_one();
    return 0;
}

uint32_t ResetEvent(SS_Handle handle) {
    if (!handle) return ZEL_E_INVALID_HANDLE;
    auto* event = static_cast<Event*>(handle);
    std::lock_guard<std::mutex> lock(event->mutex);
    event->state = false;
    return 0;
}

uint32_t WaitEvent(SS_Handle handle, uint32_t timeoutMs) {
    if (!handle) return ZEL_E_INVALID_HANDLE;
    auto* event = static_cast<Event*>(handle);
    std::unique_lock<std::mutex> lock(event->mutex);
    const auto signalled = [event] { return event->state; };
    if (timeoutMs == SS_INFINITE)
        event->changed.wait(lock, signalled);
    else if (!event->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), signalled))
        return ETIMEDOUT;
    if (!event->manualReset) event->state = false;
    return 0;
}

uint32_t Sleep(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return 0;
}

uint32_t DestroyEvent(SS_Handle handle) {
    if (!handle) return ZEL_E_INVALID_HANDLE;
    std::unique_ptr<Event> event(static_cast<Event*>(handle));
    return 0;
}

uint32_t CreateLock(uint32_t, SS_Handle* lock) {
    if (!lock) return ZEL_E_INVALIDARG;
    *lock = new (std::nothrow) Lock;
    return *lock ? 0 : ZEL_E_NO_VIRTUAL_MEMORY;
}

uint32_t AcquireLock(SS_Handle handle) {
    std::recursive_mutex* lock = LockOf(handle);
    if (!lock) return ZEL_E_INVALID_HANDLE;
    lock->lock();
    return 0;
}

uint32_t TryAcquireLock(SS_Handle handle) {
    std::recursive_mutex* lock = LockOf(handle);
    if (!lock) return ZEL_E_INVALID_HANDLE;
    return lock->try_lock() ? 0 : EBUSY;
}

uint32_t ReleaseLock(SS_Handle handle) {
    std::recursive_mutex* lock = LockOf(handle);
    if (!lock) return ZEL_E_INVALID_HANDLE;
    lock->unlock();
    return 0;
}

uint32_t DestroyLock(SS_Handle handle) {
    // The process-wide lock belongs to the process, not to whoever names it.
    if (!handle || handle == SS_PROCESS_LOCK) return ZEL_E_INVALID_HANDLE;
    std::unique_ptr<Lock> lock(static_cast<Lock*>(handle));
    return 0;
}

const SS_PlatformServices kPosixServices = {
    CreateThread, WaitThread,   CloseThread, CreateEvent,    SignalEvent,
    ResetEvent,   WaitEvent,    Sleep,       DestroyEvent,   CreateLock,
    AcquireLock,  TryAcquireLock, ReleaseLock, DestroyLock,
};

}  // namespace

extern "C" const SS_PlatformServices* ZEL_PosixPlatformServices(void) { return &kPosixServices; }
