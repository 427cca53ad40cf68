// The POSIX platform services table that agents and tests hand to SS_Init.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "services_fixture.h"
#include "zel/platform_posix.h"
#include "zel/status_codes.h"

namespace zel::ss::test {
namespace {

const SS_PlatformServices& Table() { return *ZEL_PosixPlatformServices(); }

TEST(PosixPlatformTest, AnAutomaticResetEventReleasesOneWaitAndTimesOut) {
    SS_Handle event = nullptr;
    ASSERT_EQ(0u, Table().createEvent(0, 1, &event));
    EXPECT_EQ(0u, Table().waitEvent(event, 0));  // initially signalled
    EXPECT_EQ(static_cast<uint32_t>(ETIMEDOUT), Table().waitEvent(event, 20));
    EXPECT_EQ(0u, Table().signalEvent(event));
    EXPECT_EQ(0u, Table().waitEvent(event, SS_INFINITE));
    EXPECT_EQ(static_cast<uint32_t>(ETIMEDOUT), Table().waitEvent(event, 0));
    EXPECT_EQ(0u, Table().destroyEvent(event));
}

TEST(PosixPlatformTest, AManualResetEventStaysSignalledUntilReset) {
    SS_Handle event = nullptr;
    ASSERT_EQ(0u, Table().createEvent(1, 0, &event));
    EXPECT_EQ(static_cast<uint32_t>(ETIMEDOUT), Table().waitEvent(event, 0));
    EXPECT_EQ(0u, Table().signalEvent(event));
    EXPECT_EQ(0u, Table().waitEvent(event, 0));
    EXPECT_EQ(0u, Table().waitEvent(event, 0));
    EXPECT_EQ(0u, Table().resetEvent(event));
    EXPECT_EQ(static_cast<uint32_t>(ETIMEDOUT), Table().waitEvent(event, 0));
    EXPECT_EQ(0u, Table().destroyEvent(event));
}

TEST(PosixPlatformTest, ADetachedThreadRunsAndCanBeWaitedFor) {
    struct Work {
        SS_Handle go = nullptr;
        std::atomic<int> runs{0};
    } work;
    SS_Handle thread = nullptr;
    ASSERT_EQ(0u, Table().createEvent(0, 0, &work.go));
    ASSERT_EQ(0u, Table().createThread(
                      [](void* argument) -> uint32_t {
                          auto* w = static_cast<Work*>(argument);
                          Table().waitEvent(w->go, SS_INFINITE);
                          ++w->runs;
                          return 0;
                      },
                      &work, &thread));
    EXPECT_EQ(static_cast<uint32_t>(ETIMEDOUT), Table().waitThread(thread, 20));
    EXPECT_EQ(0, work.runs.load());
    Table().signalEvent(work.go);
    EXPECT_EQ(0u, Table().waitThread(thread, SS_INFINITE));
    EXPECT_EQ(1, work.runs.load());
    EXPECT_EQ(0u, Table().waitThread(thread, 0));  // ended threads stay ended
    EXPECT_EQ(0u, Table().closeThread(thread));
    Table().destroyEvent(work.go);
}

TEST(PosixPlatformTest, LocksAreRecursiveAndTheProcessLockExcludesOtherThreads) {
    SS_Handle lock = nullptr;
    ASSERT_EQ(0u, Table().createLock(0, &lock));
    EXPECT_EQ(0u, Table().acquireLock(lock));
    EXPECT_EQ(0u, Table().acquireLock(lock));
    EXPECT_EQ(0u, Table().releaseLock(lock));
    EXPECT_EQ(0u, Table().releaseLock(lock));
    EXPECT_EQ(0u, Table().destroyLock(lock));

    ASSERT_EQ(0u, Table().acquireLock(SS_PROCESS_LOCK));
    uint32_t fromOtherThread = 0;
    std::thread other([&] { fromOtherThread = Table().tryAcquireLock(SS_PROCESS_LOCK); });
    other.join();
    EXPECT_EQ(static_cast<uint32_t>(EBUSY), fromOtherThread);
    EXPECT_EQ(0u, Table().releaseLock(SS_PROCESS_LOCK));
    EXPECT_EQ(ZEL_E_INVALID_HANDLE, Table().destroyLock(SS_PROCESS_LOCK));
    EXPECT_EQ(ZEL_E_INVALID_HANDLE, Table().acquireLock(nullptr));
    EXPECT_EQ(ZEL_E_INVALIDARG, Table().createEvent(0, 0, nullptr));
}

}  // namespace
}  // namespace zel::ss::test
