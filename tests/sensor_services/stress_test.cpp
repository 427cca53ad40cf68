// Many starts and stops with the real session-config module, and exports racing a
// shut-down (for the ThreadSanitizer stage): nothing may be left behind and nothing may crash.
#include <gtest/gtest.h>

#include "library_test.h"

namespace zel::ss::test {
namespace {

uint32_t Start(const SettingsFiles& files) {
    return SS_Init("3.0", files.PropertyFile().c_str(), files.GroupSettingsFile().c_str(), kAgentId, 0,
                   ZEL_PosixPlatformServices(), nullptr);
}

TEST(LifecycleStressTest, AThousandStartsAndStopsLeaveNoThreadOrDescriptorBehind) {
    SettingsFiles files({1});
    std::size_t threads = 0, descriptors = 0;
    // Two rounds first: whatever the process keeps for good after a first use (loaded
    // libraries' own state, a sanitizer's helper thread) is part of the baseline.
    for (int i = -2; i < 1000; ++i) {
        if (i == 0) {
            WaitUntilLibraryGone();
            // The last dispatch thread has destroyed its object; give it the moment it needs to end.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            threads = EntriesOf("/proc/self/task"), descriptors = EntriesOf("/proc/self/fd");
        }
        ASSERT_EQ(0u, Start(files)) << i;  // each start waits until the last object has gone
        ASSERT_EQ(1u, ControllerCount()) << i;
        ASSERT_EQ(0u, SS_ShutDown()) << i;
    }
    // The last object may still be going on its dispatch thread.
    WaitUntilLibraryGone();
    EXPECT_TRUE(Eventually([&] { return EntriesOf("/proc/self/task") == threads; }));
    EXPECT_TRUE(Eventually([&] { return EntriesOf("/proc/self/fd") == descriptors; }));
}

TEST(LifecycleStressTest, ExportsRacingAShutDownFinishWithoutHarm) {
    RecordingServer server;
    SettingsFiles files({server.Port()});
    const std::vector<std::function<uint32_t()>> calls = {
        [] { uint32_t count = 0; return SS_GetControllerCount(&count); },
        [] {
            char* host = nullptr;
            const uint32_t status = SS_GetControllerInfo(0, nullptr, &host, nullptr, nullptr, nullptr, nullptr, 0, 0);
            return SS_Free(host), status;
        },
        [] { return SS_RegisterErrorCallback(nullptr); },
        [] { return SS_ResetToPrimaryController(); },
        [] { const uint32_t status = QueueHeartbeatBytes("beat", 4); return status ? status : RequestDispatch(); },
        [] { SS_Free(SS_Allocate(32)); return SS_SetGroupnameHint("hint"); },
    };
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(0u, Start(files));
        std::atomic<int> unexpected{0}, turns{0};
        std::vector<std::thread> callers;
        // Each thread runs until it has seen the library stopped a few times.
        for (int t = 0; t < 4; ++t)
            callers.emplace_back([&] {
                for (int stopped = 0; stopped < 20;) {
                    const uint32_t status = calls[turns++ % calls.size()]();
                    stopped += status == 0xC7560003;
                    unexpected += status != 0 && status != 0xC7560003;
                }
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + round));
        EXPECT_EQ(0u, SS_ShutDown());
        for (std::thread& caller : callers) caller.join();
        EXPECT_EQ(0, unexpected) << round;
    }
    WaitUntilLibraryGone();
}

}  // namespace
}  // namespace zel::ss::test
