#include "support/small_stack.h"

#include <pthread.h>

#include <memory>
#include <stdexcept>

#include "zel/platform_posix.h"
#include "zel/status_codes.h"

namespace zel::test {
namespace {

// A stack small enough to catch a walk whose depth follows the input.
constexpr std::size_t kSmallStackBytes = 256 * 1024;

void* Run(void* work) {
    const std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(work));
    (*owned)();
    return nullptr;
}

// Starts `work` on a detached or joinable thread with a stack of kSmallStackBytes; false when
// the thread could not start.
bool StartThread(std::function<void()> work, bool detached, pthread_t& thread) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kSmallStackBytes);
    if (detached) pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    auto owned = std::make_unique<std::function<void()>>(std::move(work));
    const bool started = pthread_create(&thread, &attributes, &Run, owned.get()) == 0;
    pthread_attr_destroy(&attributes);
    if (started) owned.release();
    return started;
}

uint32_t CreateSmallStackThread(SS_ThreadRoutine routine, void* argument, SS_Handle* thread) {
    pthread_t started;
    if (!StartThread([routine, argument] { routine(argument); }, true, started)) return ZEL_E_THREAD_START;
    if (thread) *thread = reinterpret_cast<SS_Handle>(started);
    return 0;
}

}  // namespace

void RunOnSmallStack(const std::function<void()>& work) {
    pthread_t thread;
    if (!StartThread(work, false, thread)) throw std::runtime_error("pthread_create failed");
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
