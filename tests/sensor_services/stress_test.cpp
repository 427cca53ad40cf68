// Many starts and stops with the real session-config module, the last ones with exports racing
// the shut-down (for the ThreadSanitizer stage): nothing may be left behind and nothing may crash.
#include <gtest/gtest.h>

#include "library_test.h"

namespace zel::ss::test {
namespace {

constexpr int kRounds = 1000, kRacedRounds = 20;

TEST(LifecycleStressTest, AThousandStartsAndStopsSomeRacedByExportsLeaveNoThreadOrDescriptorBehind) {
    RecordingServer server;
    SettingsFiles files({server.Port()});
    // One export per kind of work: a copy the agent frees, a registration, a post, the agent's memory.
    const std::vector<std::function<uint32_t()>> calls = {
        [] {
            char* host = nullptr;
            const uint32_t status = SS_GetControllerInfo(0, nullptr, &host, nullptr, nullptr, nullptr, nullptr, 0, 0);
            return SS_Free(host), status;
        },
        [] { return SS_RegisterErrorCallback(nullptr); },
        [] { const uint32_t status = QueueHeartbeatBytes("beat", 4); return status ? status : RequestDispatch(); },
        [] { SS_Free(SS_Allocate(32)); return SS_SetGroupnameHint("hint"); },
    };
    std::size_t threads = 0, descriptors = 0;
    // Two rounds first: whatever the process keeps for good after a first use (loaded
    // libraries' own state, a sanitizer's helper thread) is part of the baseline.
    for (int i = -2; i < kRounds; ++i) {
        if (i == 0) {
            WaitUntilLibraryGone();
            // The last dispatch thread has destroyed its object; give it the moment it needs to end.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            threads = EntriesOf("/proc/self/task"), descriptors = EntriesOf("/proc/self/fd");
        }
        // Each start waits until the last object has gone.
        ASSERT_EQ(0u, SS_Init("3.0", files.PropertyFile().c_str(), files.GroupSettingsFile().c_str(), kAgentId, 0,
                              ZEL_PosixPlatformServices(), nullptr)) << i;
        std::atomic<int> unexpected{0}, turns{0};
        std::vector<std::thread> callers;
        // In the last rounds each of four threads runs until it has seen the library stopped a few times.
        for (int t = 0; t < (i < kRounds - kRacedRounds ? 0 : 4); ++t)
            callers.emplace_back([&] {
                for (int stopped = 0; stopped < 20;) {
                    const uint32_t status = calls[turns++ % calls.size()]();
                    stopped += status == 0xC7560003;
                    unexpected += status != 0 && status != 0xC7560003;
                }
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(callers.empty() ? 0 : 5 + kRounds - i));
        EXPECT_EQ(0u, SS_ShutDown()) << i;
        for (std::thread& caller : callers) caller.join();
        EXPECT_EQ(0, unexpected) << i;
    }
    // The last object may still be going on its dispatch thread.
    WaitUntilLibraryGone();
    EXPECT_TRUE(Eventually([&] { return EntriesOf("/proc/self/task") == threads; }));
    EXPECT_TRUE(Eventually([&] { return EntriesOf("/proc/self/fd") == descriptors; }));
}

}  // namespace
}  // namespace zel::ss::test
