// The POSIX platform services table that agents and tests hand to SS_Init: events, threads
// and locks.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "services_fixture.h"
#include "zel/platform_posix.h"
#include "zel/status_codes.h"

namespace zel::ss::test {
namespace {

const SS_PlatformServices& P() { return *ZEL_PosixPlatformServices(); }
constexpr uint32_t kTimedOut = ETIMEDOUT;

TEST(PosixPlatformTest, AutomaticAndManualResetEvents) {
    SS_Handle automatic = nullptr, manual = nullptr;
    ASSERT_EQ(0u, P().createEvent(0, 1, &automatic));
    ASSERT_EQ(0u, P().createEvent(1, 0, &manual));
    // Automatic, initially signalled: each signal releases one wait.
    EXPECT_EQ(0u, P().waitEvent(automatic, 0));
    EXPECT_EQ(kTimedOut, P().waitEvent(automatic, 20));
    EXPECT_EQ(0u, P().signalEvent(automatic));
    EXPECT_EQ(0u, P().waitEvent(automatic, SS_INFINITE));
    EXPECT_EQ(kTimedOut, P().waitEvent(automatic, 0));
    // Manual: signalled until reset.
    EXPECT_EQ(kTimedOut, P().waitEvent(manual, 0));
    EXPECT_EQ(0u, P().signalEvent(manual));
    EXPECT_EQ(0u, P().waitEvent(manual, 0));
    EXPECT_EQ(0u, P().waitEvent(manual, 0));
    EXPECT_EQ(0u, P().resetEvent(manual));
    EXPECT_EQ(kTimedOut, P().waitEvent(manual, 0));
    EXPECT_EQ(0u, P().destroyEvent(automatic));
    EXPECT_EQ(0u, P().destroyEvent(manual));
}

TEST(PosixPlatformTest, ADetachedThreadRunsAndCanBeWaitedFor) {
    struct Work { SS_Handle go = nullptr; std::atomic<int> runs{0}; } work;
    const auto body = [](void* argument) -> uint32_t {
        auto* w = static_cast<Work*>(argument);
        P().waitEvent(w->go, SS_INFINITE);
        return ++w->runs, 0;
    };
    SS_Handle thread = nullptr;
    ASSERT_EQ(0u, P().createEvent(0, 0, &work.go));
    ASSERT_EQ(0u, P().createThread(body, &work, &thread));
    EXPECT_EQ(kTimedOut, P().waitThread(thread, 20));
    EXPECT_EQ(0, work.runs.load());
    P().signalEvent(work.go);
    EXPECT_EQ(0u, P().waitThread(thread, SS_INFINITE));
    EXPECT_EQ(1, work.runs.load());
    EXPECT_EQ(0u, P().waitThread(thread, 0));  // ended threads stay ended
    EXPECT_EQ(0u, P().closeThread(thread));
    P().destroyEvent(work.go);
}

TEST(PosixPlatformTest, LocksAreRecursiveAndTheProcessLockExcludesOtherThreads) {
    SS_Handle lock = nullptr;
    ASSERT_EQ(0u, P().createLock(0, &lock));
    for (auto step : {P().acquireLock, P().acquireLock, P().releaseLock, P().releaseLock, P().destroyLock})
        EXPECT_EQ(0u, step(lock));
    ASSERT_EQ(0u, P().acquireLock(SS_PROCESS_LOCK));
    uint32_t fromOtherThread = 0;
    std::thread([&] { fromOtherThread = P().tryAcquireLock(SS_PROCESS_LOCK); }).join();
    EXPECT_EQ(static_cast<uint32_t>(EBUSY), fromOtherThread);
    EXPECT_EQ(0u, P().releaseLock(SS_PROCESS_LOCK));
    EXPECT_EQ(ZEL_E_INVALID_HANDLE, P().destroyLock(SS_PROCESS_LOCK));
    EXPECT_EQ(ZEL_E_INVALID_HANDLE, P().acquireLock(nullptr));
    EXPECT_EQ(ZEL_E_INVALIDARG, P().createEvent(0, 0, nullptr));
}

}  // namespace
}  // namespace zel::ss::test
