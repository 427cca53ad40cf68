#include "support/small_stack.h"

#include <pthread.h>

#include <memory>
#include <stdexcept>

#include "zel/platform_posix.h"
#include "zel/status_codes.h"

namespace zel::test {
namespace {

// Starts `start` on a detached or joinable thread with a stack of kSmallStackBytes; the
// thread owns `start`.
template <typename Start>
pthread_t StartThread(std::unique_ptr<Start> start, void* (*entry)(void*), bool detached) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kSmallStackBytes);
    if (detached) pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int failed = pthread_create(&thread, &attributes, entry, start.get());
    pthread_attr_destroy(&attributes);
    if (failed) throw std::runtime_error("pthread_create failed");
    start.release();
    return thread;
}

struct WorkStart {
    std::function<void()> work;
};

void* RunWork(void* raw) {
    const std::unique_ptr<WorkStart> start(static_cast<WorkStart*>(raw));
    start->work();
    return nullptr;
}

struct RoutineStart {
    SS_ThreadRoutine routine;
    void* argument;
};

void* RunRoutine(void* raw) {
    const std::unique_ptr<RoutineStart> start(static_cast<RoutineStart*>(raw));
    start->routine(start->argument);
    return nullptr;
}

uint32_t CreateSmallStackThread(SS_ThreadRoutine routine, void* argument, SS_Handle* thread) {
    try {
        const pthread_t started = StartThread(std::make_unique<RoutineStart>(RoutineStart{routine, argument}),
                                              &RunRoutine, true);
        if (thread) *thread = reinterpret_cast<SS_Handle>(started);
        return 0;
    } catch (const std::exception&) {
        return ZEL_E_THREAD_START;
    }
}

}  // namespace

void RunOnSmallStack(const std::function<void()>& work) {
    const pthread_t thread = StartThread(std::make_unique<WorkStart>(WorkStart{work}), &RunWork, false);
    pthread_join(thread, nullptr);
}

const SS_PlatformServices* SmallStackPlatformServices() {
    static const SS_PlatformServices table = [] {
        SS_PlatformServices copy = *ZEL_PosixPlatformServices();
        copy.createThread = &CreateSmallStackThread;
        return copy;
    }();
    return &table;
}

}  // namespace zel::test
