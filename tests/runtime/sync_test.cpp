// Locks, lock guards and events, across threads (also run in the ThreadSanitizer stage).
#include "runtime/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "runtime/platform.h"

namespace {

using zel::jsEvent;
using zel::jsFastSync;
using zel::jsLockGuard;
using zel::jsRecursiveSync;

// Whether another thread can take the lock right now (it lets go again at once).
bool FreeForOtherThread(jsRecursiveSync& lock) {
    return std::async(std::launch::async, [&lock] {
               if (!lock.TryLock()) return false;
               lock.Unlock();
               return true;
           })
        .get();
}

TEST(RecursiveSync, TryLockFailsOnlyWhileAnotherThreadHoldsTheLock) {
    jsRecursiveSync lock;
    ASSERT_TRUE(lock.IsValid());
    EXPECT_TRUE(FreeForOtherThread(lock));
    // The owner enters three times (twice blocking, once trying) and must leave three times.
    lock.Lock();
    lock.Lock();
    EXPECT_TRUE(lock.TryLock());
    for (int held = 3; held > 0; --held) {
        EXPECT_FALSE(FreeForOtherThread(lock)) << "held " << held << " times";
        lock.Unlock();
    }
    EXPECT_TRUE(FreeForOtherThread(lock));

    // Created locked, it belongs to the creating thread.
    jsRecursiveSync locked(true);
    ASSERT_TRUE(locked.IsValid());
    EXPECT_FALSE(FreeForOtherThread(locked));
    locked.Unlock();
    EXPECT_TRUE(FreeForOtherThread(locked));
}

TEST(Sync, UnlockKeepsTheThreadsLastError) {
    jsFastSync fast;
    jsRecursiveSync recursive;
    for (uint32_t error : {0u, 2u, 0xFFFFu, 0xC7210003u}) {
        fast.Lock();
        zel::platform::SetLastError(error);
        fast.Unlock();
        EXPECT_EQ(zel::platform::GetLastError(), error);
        recursive.Lock();
        recursive.Lock();
        zel::platform::SetLastError(error);
        recursive.Unlock();
        EXPECT_EQ(zel::platform::GetLastError(), error);
        recursive.Unlock();
        EXPECT_EQ(zel::platform::GetLastError(), error);
    }
}

// Each thread reads, yields and writes back: without mutual exclusion increments get lost.
// Each round enters twice, as the owner may (a plain mutex would deadlock).
template <class Lock>
void ExpectMutualExclusion() {
    Lock lock;
    ASSERT_TRUE(lock.IsValid());
    int counter = 0;
    constexpr int kThreads = 4, kRounds = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                jsLockGuard<Lock> guard(lock);
                jsLockGuard<Lock> again(lock);
                int seen = counter;
                std::this_thread::yield();
                counter = seen + 1;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(counter, kThreads * kRounds);
}

TEST(Sync, LockHandlesExcludeOtherThreadsAndAdmitTheirOwner) {
    ExpectMutualExclusion<jsFastSync>();
    ExpectMutualExclusion<jsRecursiveSync>();
}

TEST(LockGuard, ReleasesExactlyWhatItAcquired) {
    jsRecursiveSync lock;
    {
        jsLockGuard<jsRecursiveSync> guard(lock);
        EXPECT_TRUE(guard.IsValid());
        EXPECT_EQ(guard.Count(), 1u);
        EXPECT_FALSE(FreeForOtherThread(lock));
        guard.Release();
        EXPECT_EQ(guard.Count(), 0u);
        EXPECT_TRUE(FreeForOtherThread(lock));
        // A second Release and the destructor must not unlock a hold the guard does not own.
        lock.Lock();
        guard.Release();
        EXPECT_FALSE(FreeForOtherThread(lock));
    }
    EXPECT_FALSE(FreeForOtherThread(lock));
    {
        jsLockGuard<jsRecursiveSync> notAcquired(lock, false);
        EXPECT_EQ(notAcquired.Count(), 0u);
    }
    EXPECT_FALSE(FreeForOtherThread(lock));
    lock.Unlock();
    EXPECT_TRUE(FreeForOtherThread(lock));
}

TEST(Event, StatesFollowTheResetMode) {
    for (bool initiallyNonSignalled : {true, false}) {
        for (bool manualReset : {true, false}) {
            SCOPED_TRACE(std::string(initiallyNonSignalled ? "clear" : "set") + (manualReset ? ", manual" : ", auto"));
            jsEvent event(initiallyNonSignalled, manualReset);
            ASSERT_TRUE(event.IsValid());
            EXPECT_EQ(event.Wait(0), initiallyNonSignalled ? jsEvent::kTimedOut : jsEvent::kSignalled);
            // A manual-reset event stays signalled; an automatic one was consumed by the first wait.
            EXPECT_EQ(event.Wait(1), !initiallyNonSignalled && manualReset ? jsEvent::kSignalled : jsEvent::kTimedOut);
            ASSERT_TRUE(event.Set());
            EXPECT_EQ(event.Wait(0), jsEvent::kSignalled);
            EXPECT_EQ(event.Wait(0), manualReset ? jsEvent::kSignalled : jsEvent::kTimedOut);
            ASSERT_TRUE(event.Set());
            ASSERT_TRUE(event.Reset());
            EXPECT_EQ(event.Wait(20), jsEvent::kTimedOut);
        }
    }
}

TEST(Event, ManualResetReleasesEveryWaiter) {
    jsEvent event(true, true);
    std::atomic<int> waiting{0};
    auto waiter = [&] {
        ++waiting;
        return event.Wait(jsEvent::kInfinite);
    };
    auto first = std::async(std::launch::async, waiter);
    auto second = std::async(std::launch::async, waiter);
    while (waiting < 2) std::this_thread::yield();
    ASSERT_TRUE(event.Set());
    EXPECT_EQ(first.get(), jsEvent::kSignalled);
    EXPECT_EQ(second.get(), jsEvent::kSignalled);
    EXPECT_EQ(event.Wait(0), jsEvent::kSignalled);
}

TEST(Event, AutomaticResetReleasesOneWaiterPerSet) {
    jsEvent event(true, false);
    std::atomic<int> released{0};
    auto waiter = [&] {
        uint32_t result = event.Wait(jsEvent::kInfinite);
        ++released;
        return result;
    };
    auto first = std::async(std::launch::async, waiter);
    auto second = std::async(std::launch::async, waiter);
    ASSERT_TRUE(event.Set());
    while (released < 1) std::this_thread::yield();
    // The released waiter consumed the signal: the event is clear again and the other
    // waiter still waits.
    EXPECT_EQ(event.Wait(0), jsEvent::kTimedOut);
    EXPECT_EQ(released.load(), 1);
    ASSERT_TRUE(event.Set());
    EXPECT_EQ(first.get(), jsEvent::kSignalled);
    EXPECT_EQ(second.get(), jsEvent::kSignalled);
    EXPECT_EQ(event.Wait(0), jsEvent::kTimedOut);
}

}  // namespace
