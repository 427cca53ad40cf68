// Many starts and stops with the real session-config module, and exports racing a
// shut-down: nothing may be left behind and nothing may crash.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sensor_services/internal.h"
#include "services_fixture.h"
#include "zel/platform_posix.h"
#include "zel/sensor_services.h"

namespace zel::ss::test {
namespace {

constexpr uint32_t kNotInitialized = 0xC7560003;

TEST(LifecycleStressTest, AThousandStartsAndStopsLeaveNoThreadOrDescriptorBehind) {
    SettingsFiles files(1);
    const auto start = [&] {
        return SS_Init("3.0", files.PropertyFile().c_str(), files.GroupSettingsFile().c_str(), kAgentId, 0,
                       ZEL_PosixPlatformServices(), nullptr);
    };
    // Two rounds first: whatever the process keeps for good after a first use (loaded
    // libraries' own state, a sanitizer's helper thread) is part of the baseline.
    ASSERT_EQ(0u, start());
    ASSERT_EQ(0u, SS_ShutDown());
    ASSERT_EQ(0u, start());  // waits until the first object has gone
    ASSERT_EQ(0u, SS_ShutDown());
    WaitUntilLibraryGone();
    // The last dispatch thread has destroyed its object; give it the moment it needs to end.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::size_t threads = ThreadCount();
    const std::size_t descriptors = DescriptorCount();

    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(0u, start()) << i;
        uint32_t count = 0;
        ASSERT_EQ(0u, SS_GetControllerCount(&count)) << i;
        ASSERT_EQ(0u, SS_ShutDown()) << i;
    }
    // The last object may still be going on its dispatch thread.
    WaitUntilLibraryGone();
    EXPECT_TRUE(Eventually([&] { return ThreadCount() == threads; })) << ThreadCount();
    EXPECT_TRUE(Eventually([&] { return DescriptorCount() == descriptors; })) << DescriptorCount();
}

TEST(LifecycleStressTest, ExportsRacingAShutDownFinishWithoutHarm) {
    RecordingServer server;
    SettingsFiles files(server.Port());
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(0u, SS_Init("3.0", files.PropertyFile().c_str(), files.GroupSettingsFile().c_str(), kAgentId, 0,
                              ZEL_PosixPlatformServices(), nullptr));
        std::atomic<int> unexpected{0};
        std::atomic<int> calls{0};
        std::vector<std::thread> callers;
        for (int t = 0; t < 4; ++t) {
            callers.emplace_back([&, t] {
                // Each thread runs until it has seen the library stopped a few times.
                for (int stopped = 0; stopped < 20;) {
                    uint32_t status = 0;
                    switch ((t + calls++) % 6) {
                    case 0: {
                        uint32_t count = 0;
                        status = SS_GetControllerCount(&count);
                        break;
                    }
                    case 1: {
                        char* host = nullptr;
                        status = SS_GetControllerInfo(0, nullptr, &host, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                      nullptr);
                        SS_Free(host);
                        break;
                    }
                    case 2:
                        status = SS_RegisterErrorCallback(nullptr);
                        break;
                    case 3:
                        status = SS_ResetToPrimaryController();
                        break;
                    case 4:
                        status = QueueHeartbeatBytes("beat", 4);
                        if (status == 0) status = RequestDispatch();
                        break;
                    default:
                        SS_Free(SS_Allocate(32));
                        status = SS_SetGroupnameHint("hint");
                        break;
                    }
                    if (status == kNotInitialized)
                        ++stopped;
                    else if (status != 0)
                        ++unexpected;
                }
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + round));
        EXPECT_EQ(0u, SS_ShutDown());
        for (std::thread& caller : callers) caller.join();
        EXPECT_EQ(0, unexpected) << round;
    }
    WaitUntilLibraryGone();
}

}  // namespace
}  // namespace zel::ss::test
