// Life cycle, exports, controller list, identifiers, group settings information,
// settings-changed callbacks and bad input of the module, through its real entry points.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "module_fixture.h"

extern "C" int ScsPlainCCheck(const char* modulePath);

namespace zel::scs::test {
namespace {

using namespace std::chrono_literals;

// Polls condition for up to limit; true as soon as it holds.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return condition();
}

TEST(ScsExports, ModuleExportsExactlyTheEntryPoints) {
    const std::string command = std::string("nm -D --defined-only '") + ModulePath() + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    std::set<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        char address[64], kind[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, kind, name) == 3) exported.insert(name);
    }
    ASSERT_EQ(0, ::pclose(pipe));
    std::set<std::string> expected;
#define ZEL_SCS_NAME(name) expected.insert(#name);
    ZEL_SCS_ENTRY_POINTS(ZEL_SCS_NAME)
#undef ZEL_SCS_NAME
    EXPECT_EQ(32u, expected.size());
    EXPECT_EQ(expected, exported);
}

TEST(ScsExports, PlainCAgentUsesTheHeaderAndEntryPoints) {
    EXPECT_EQ(0, ScsPlainCCheck(ModulePath()));
}

TEST(ScsLifecycle, InitChecksVersionAndIdentifier) {
    const ScsApi& scs = Scs();
    EXPECT_EQ(0xC7590008u, scs.SCS_Init(nullptr, kAgentId, 0, nullptr, nullptr));
    EXPECT_EQ(0xC7590008u, scs.SCS_Init("3.0 ", kAgentId, 0, nullptr, nullptr));
    EXPECT_EQ(0xC7590008u, scs.SCS_Init("2.0", kAgentId, 0, nullptr, nullptr));
    EXPECT_EQ(0xC7590008u, scs.SCS_Init("3.0", nullptr, 0, nullptr, nullptr));
    const std::string huge(100000, 'a');
    EXPECT_EQ(0xC7590008u, scs.SCS_Init("3.0", huge.c_str(), 0, nullptr, nullptr));
    uint32_t count = 0;
    EXPECT_EQ(0xC7590001u, scs.SCS_GetControllerCount(&count));
}

TEST(ScsLifecycle, EveryCallBeforeInitIsRefusedAndShutDownIsHarmless) {
    const ScsApi& scs = Scs();
    EXPECT_EQ(0u, scs.SCS_ShutDown());
    uint32_t count = 0;
    char* text = nullptr;
    void* block = nullptr;
    EXPECT_EQ(0xC7590001u, scs.SCS_GetControllerCount(&count));
    EXPECT_EQ(0xC7590001u, scs.SCS_LoadLocalProperties("/nonexistent"));
    EXPECT_EQ(0xC7590001u, scs.SCS_RetrieveLocalProperty("a", "b", &text));
    EXPECT_EQ(nullptr, text);
    EXPECT_EQ(0xC7590001u, scs.SCS_Allocate(16, &block));
    EXPECT_EQ(nullptr, block);
    EXPECT_EQ(0xC7590001u, scs.SCS_AddController("n", "h", "1", nullptr, nullptr, nullptr,
                                                  nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0u, scs.SCS_Free(nullptr));
}

TEST(ScsLifecycle, InitShutDownInitStartsAfresh) {
    const ScsApi& scs = Scs();
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(0u, scs.SCS_Init("3.0", kAgentId, 7, nullptr, nullptr));
        EXPECT_EQ(0x47590002u, scs.SCS_Init("3.0", kAgentId, 7, nullptr, nullptr));
        uint32_t count = 99;
        ASSERT_EQ(0u, scs.SCS_GetControllerCount(&count));
        EXPECT_EQ(0u, count) << "round " << round;
        ASSERT_EQ(0u, scs.SCS_AddController("a", "h.example", "80", nullptr, nullptr, nullptr,
                                             nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(0u, scs.SCS_ShutDown());
        EXPECT_EQ(0u, scs.SCS_ShutDown());
    }
}

TEST(ScsLifecycle, ConcurrentInitStartsTheModuleOnce) {
    const ScsApi& scs = Scs();
    std::atomic<int> started{0}, already{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            const uint32_t status = scs.SCS_Init("3.0", kAgentId, 0, nullptr, nullptr);
            if (status == 0) ++started;
            if (status == 0x47590002u) ++already;
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(1, started.load());
    EXPECT_EQ(7, already.load());
    EXPECT_EQ(0u, scs.SCS_ShutDown());
}

class ScsModule : public ModuleTest {};

TEST_F(ScsModule, EntryPointsOutsideTheModulesJobAreNotImplemented) {
    const ScsApi& scs = Scs();
    char* response = reinterpret_cast<char*>(1);
    uint32_t length = 5;
    const uint32_t timeouts[3] = {0, 0, 0};
    EXPECT_EQ(0xC721003Cu, scs.SCS_S_Init("3.0", kAgentId, 0, nullptr, nullptr));
    EXPECT_EQ(0xC721003Cu, scs.SCS_S_ShutDown());
    EXPECT_EQ(0xC721003Cu, scs.SCS_LoadServerSettings("x"));
    EXPECT_EQ(0xC721003Cu, scs.SCS_PostDataFile(0, 1, "/", 0, "a/b", "f", timeouts, &response,
                                                 &length));
    EXPECT_EQ(nullptr, response);
    EXPECT_EQ(0u, length);
    EXPECT_EQ(0xC721003Cu, scs.SCS_S_RegisterOnPostData(nullptr));
    EXPECT_EQ(0xC721003Cu, scs.SCS_S_StartServer());
    EXPECT_EQ(0xC721003Cu, scs.SCS_S_StopServer());
    EXPECT_EQ(0xC721003Cu, scs.SCS_PostUpdateData(0, 1, "/", "a/b", "x", 1, "out"));
    EXPECT_EQ(0xC721003Cu, scs.SCS_InitUpdater("dir"));
    EXPECT_EQ(0xC721003Cu, scs.SCS_UninitUpdater());
    EXPECT_EQ(0xC721003Cu, scs.SCS_S_SetAgentId(kAgentId));
    EXPECT_EQ(0xC721003Cu, scs.SCS_S_SetLastGoodAgentId(kAgentId));
}

TEST_F(ScsModule, AllocateGivesZeroedBlocksFreedWithFree) {
    void* block = nullptr;
    ASSERT_EQ(0u, Scs().SCS_Allocate(64, &block));
    ASSERT_NE(nullptr, block);
    const unsigned char zeros[64] = {};
    EXPECT_EQ(0, std::memcmp(zeros, block, sizeof zeros));
    EXPECT_EQ(0u, Scs().SCS_Free(block));
    EXPECT_EQ(0xC7590008u, Scs().SCS_Allocate(0, &block));
    EXPECT_EQ(nullptr, block);
    EXPECT_EQ(0xC7590008u, Scs().SCS_Allocate(8, nullptr));
}

TEST_F(ScsModule, ControllersKeepTheirTenFieldsAndNeverHandOutPasswords) {
    ASSERT_EQ(0u, Scs().SCS_AddController("primary", "127.0.0.1", "8080", nullptr, nullptr,
                                          nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_EQ(0u, Scs().SCS_AddController("backup", "backup.example", "8443", "https",
                                          "proxy.example", "3128", "agent", "agent-secret",
                                          "relay", "relay-secret"));
    uint32_t count = 0;
    ASSERT_EQ(0u, Scs().SCS_GetControllerCount(&count));
    EXPECT_EQ(2u, count);

    ScsText name, host, port, type, proxyHost, proxyPort, user, proxyUser;
    ASSERT_EQ(0u, Scs().SCS_GetControllerInfo(1, name.Out(), host.Out(), port.Out(), type.Out(),
                                              proxyHost.Out(), proxyPort.Out(), user.Out(),
                                              proxyUser.Out()));
    EXPECT_EQ("backup", name.Str());
    EXPECT_EQ("backup.example", host.Str());
    EXPECT_EQ("8443", port.Str());
    EXPECT_EQ("https", type.Str());
    EXPECT_EQ("proxy.example", proxyHost.Str());
    EXPECT_EQ("3128", proxyPort.Str());
    EXPECT_EQ("agent", user.Str());
    EXPECT_EQ("relay", proxyUser.Str());

    ScsText name0, host0, port0, type0, proxyHost0, proxyPort0, user0, proxyUser0;
    ASSERT_EQ(0u, Scs().SCS_GetControllerInfo(0, name0.Out(), host0.Out(), port0.Out(),
                                              type0.Out(), proxyHost0.Out(), proxyPort0.Out(),
                                              user0.Out(), proxyUser0.Out()));
    EXPECT_EQ("primary", name0.Str());
    EXPECT_EQ("http", type0.Str()) << "an absent type reads as http";
    EXPECT_EQ(nullptr, proxyHost0.Get());
    EXPECT_EQ(nullptr, user0.Get());

    // Only some outputs asked for.
    ScsText onlyPort;
    EXPECT_EQ(0u, Scs().SCS_GetControllerInfo(1, nullptr, nullptr, onlyPort.Out(), nullptr,
                                              nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ("8443", onlyPort.Str());
    ScsText none;
    EXPECT_EQ(0xC7590008u, Scs().SCS_GetControllerInfo(2, none.Out(), nullptr, nullptr, nullptr,
                                                        nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(nullptr, none.Get());
}

TEST_F(ScsModule, ServerIdentifiersAreStablePerTypeHostAndPort) {
    const int32_t a = AddController("a.example", "80");
    const int32_t b = AddController("b.example", "80");
    const int32_t aTls = AddController("a.example", "80", "https");
    const int32_t aOtherPort = AddController("a.example", "81");
    EXPECT_GT(a, 0);
    EXPECT_EQ(4u, (std::set<int32_t>{a, b, aTls, aOtherPort}.size()));
    EXPECT_EQ((std::vector<int32_t>{a, b, aTls, aOtherPort}), Destinations());

    // Deleting and adding back, or spelling the host in other case, keeps the identifier.
    ASSERT_EQ(0u, Scs().SCS_DeleteController(0));
    EXPECT_EQ((std::vector<int32_t>{b, aTls, aOtherPort}), Destinations());
    EXPECT_EQ(a, AddController("A.Example", "80"));
    EXPECT_EQ(a, AddController("a.example", "80", ""));
    // A new address gets a new identifier, never one used before.
    const int32_t c = AddController("c.example", "80");
    EXPECT_EQ(0u, (std::set<int32_t>{a, b, aTls, aOtherPort}.count(c)));
    EXPECT_EQ(0xC7590008u, Scs().SCS_DeleteController(6));
    EXPECT_EQ(6u, Destinations().size());
}

TEST_F(ScsModule, EmptyListGivesNoDestinations) {
    int32_t* servers = reinterpret_cast<int32_t*>(1);
    uint32_t count = 7;
    EXPECT_EQ(0u, Scs().SCS_GetDestinations(0, &servers, &count));
    EXPECT_EQ(nullptr, servers);
    EXPECT_EQ(0u, count);
}

TEST_F(ScsModule, GroupSettingsInfoReportsDefaultsAndTheHint) {
    ScsText schema, group;
    ASSERT_EQ(0u, Scs().SCS_GetGroupSettingsInfo(0, 0, schema.Out(), group.Out()));
    EXPECT_EQ("1.0.0", schema.Str());
    EXPECT_EQ(nullptr, group.Get());

    ASSERT_EQ(0u, Scs().SCS_SetGroupnameHint("Default Group"));
    ScsText schema2, group2;
    ASSERT_EQ(0u, Scs().SCS_GetGroupSettingsInfo(0, 0, schema2.Out(), group2.Out()));
    EXPECT_EQ("1.0.0", schema2.Str());
    EXPECT_EQ("Default Group", group2.Str());

    ASSERT_EQ(0u, Scs().SCS_SetGroupnameHint(nullptr));
    ScsText schema3, group3;
    ASSERT_EQ(0u, Scs().SCS_GetGroupSettingsInfo(0, 0, schema3.Out(), group3.Out()));
    EXPECT_EQ(nullptr, group3.Get());
}

// Bad input: every row is one call that must be refused without a crash.
struct BadCall {
    const char* name;
    std::function<uint32_t()> call;
    uint32_t expected;
};

TEST_F(ScsModule, BadInputIsRefused) {
    const ScsApi& scs = Scs();
    const std::string huge(1 << 20, 'h');
    const std::string hugePath = "/" + std::string(8000, 'p');
    char* text = nullptr;
    char* response = nullptr;
    uint32_t length = 0;
    int32_t* servers = nullptr;
    const uint32_t timeouts[3] = {100, 100, 100};
    auto add = [&](const char* name, const char* host, const char* port, const char* type,
                   const char* proxyHost = nullptr, const char* proxyPort = nullptr) {
        return scs.SCS_AddController(name, host, port, type, proxyHost, proxyPort, nullptr,
                                     nullptr, nullptr, nullptr);
    };
    const int32_t id = AddController("127.0.0.1", "1");
    const std::vector<BadCall> calls = {
        {"LoadNull", [&] { return scs.SCS_LoadLocalProperties(nullptr); }, 0xC7590008},
        {"LoadEmpty", [&] { return scs.SCS_LoadLocalProperties(""); }, 0xC7590008},
        {"LoadHuge", [&] { return scs.SCS_LoadLocalProperties(huge.c_str()); }, 0xC7590008},
        {"GroupNull", [&] { return scs.SCS_LoadGroupSettings(nullptr); }, 0xC7590008},
        {"RetrieveNullOut", [&] { return scs.SCS_RetrieveLocalProperty("a", "b", nullptr); },
         0xC7590008},
        {"RetrieveNullKey", [&] { return scs.SCS_RetrieveLocalProperty("a", nullptr, &text); },
         0xC7590008},
        {"RetrieveNullSection", [&] { return scs.SCS_RetrieveLocalProperty(nullptr, "b", &text); },
         0xC7590008},
        {"RetrieveHugeKey",
         [&] { return scs.SCS_RetrieveLocalProperty("a", huge.c_str(), &text); }, 0xC7590008},
        {"DestinationsNull", [&] { return scs.SCS_GetDestinations(0, nullptr, &length); },
         0xC7590008},
        {"DestinationsNullCount", [&] { return scs.SCS_GetDestinations(0, &servers, nullptr); },
         0xC7590008},
        {"InfoNull", [&] { return scs.SCS_GetGroupSettingsInfo(0, 0, nullptr, &text); },
         0xC7590008},
        {"CountNull", [&] { return scs.SCS_GetControllerCount(nullptr); }, 0xC7590008},
        {"AddNullHost", [&] { return add("n", nullptr, "80", nullptr); }, 0xC7590008},
        {"AddEmptyHost", [&] { return add("n", "", "80", nullptr); }, 0xC7590008},
        {"AddNullPort", [&] { return add("n", "h", nullptr, nullptr); }, 0xC7590008},
        {"AddPortZero", [&] { return add("n", "h", "0", nullptr); }, 0xC7590008},
        {"AddPortTooBig", [&] { return add("n", "h", "65536", nullptr); }, 0xC7590008},
        {"AddPortNotANumber", [&] { return add("n", "h", "80a", nullptr); }, 0xC7590008},
        {"AddPortNegative", [&] { return add("n", "h", "-1", nullptr); }, 0xC7590008},
        {"AddUnknownType", [&] { return add("n", "h", "80", "ftp"); }, 0xC7590008},
        {"AddHostWithSlash", [&] { return add("n", "h/x", "80", nullptr); }, 0xC7590008},
        {"AddHostWithAt", [&] { return add("n", "u@h", "80", nullptr); }, 0xC7590008},
        {"AddHostWithBlank", [&] { return add("n", "a b", "80", nullptr); }, 0xC7590008},
        {"AddNameWithLineBreak", [&] { return add("a\r\nb", "h", "80", nullptr); }, 0xC7590008},
        {"AddHugeName", [&] { return add(huge.c_str(), "h", "80", nullptr); }, 0xC7590008},
        {"AddInvalidUtf8", [&] { return add("\xC3\x28", "h", "80", nullptr); }, 0xC7590008},
        {"AddProxyPortWithoutHost", [&] { return add("n", "h", "80", nullptr, nullptr, "3128"); },
         0xC7590008},
        {"AddBadProxyPort", [&] { return add("n", "h", "80", nullptr, "p", "x"); }, 0xC7590008},
        {"DeleteOutOfRange", [&] { return scs.SCS_DeleteController(1); }, 0xC7590008},
        {"DeleteHuge", [&] { return scs.SCS_DeleteController(0xFFFFFFFFu); }, 0xC7590008},
        {"SetAgentIdNull", [&] { return scs.SCS_SetAgentId(nullptr); }, 0xC7590008},
        {"SetAgentIdEmpty", [&] { return scs.SCS_SetAgentId(""); }, 0xC7590008},
        {"SetAgentIdLineBreak", [&] { return scs.SCS_SetAgentId("a\nb"); }, 0xC7590008},
        {"SetAgentIdHuge", [&] { return scs.SCS_SetAgentId(huge.c_str()); }, 0xC7590008},
        {"SetLastGoodNull", [&] { return scs.SCS_SetLastGoodAgentId(nullptr); }, 0xC7590008},
        {"HintHuge", [&] { return scs.SCS_SetGroupnameHint(huge.c_str()); }, 0xC7590008},
        {"HintInvalidUtf8", [&] { return scs.SCS_SetGroupnameHint("\xFF"); }, 0xC7590008},
        {"RegisterNull", [&] { return scs.SCS_RegisterSettingsChanged(nullptr); }, 0xC7590008},
        {"UnregisterUnknown",
         [&] { return scs.SCS_UnregisterSettingsChanged([]() -> uint32_t { return 0; }); },
         0xC7590008},
        {"SaveHugePath", [&] { return scs.SCS_SaveGroupSettings(huge.c_str()); }, 0xC7590008},
        {"PostNullPath",
         [&] {
             return scs.SCS_PostData(0, id, nullptr, 0, "a/b", "x", 1, timeouts, &response,
                                     &length);
         },
         0xC7590008},
        {"PostRelativePath",
         [&] {
             return scs.SCS_PostData(0, id, "zel", 0, "a/b", "x", 1, timeouts, &response,
                                     &length);
         },
         0xC7590008},
        {"PostPathWithBlank",
         [&] {
             return scs.SCS_PostData(0, id, "/a b", 0, "a/b", "x", 1, timeouts, &response,
                                     &length);
         },
         0xC7590008},
        {"PostHugePath",
         [&] {
             return scs.SCS_PostData(0, id, hugePath.c_str(), 0, "a/b", "x", 1, timeouts,
                                     &response, &length);
         },
         0xC7590008},
        {"PostNullMime",
         [&] {
             return scs.SCS_PostData(0, id, "/", 0, nullptr, "x", 1, timeouts, &response, &length);
         },
         0xC7590008},
        {"PostMimeWithLineBreak",
         [&] {
             return scs.SCS_PostData(0, id, "/", 0, "a/b\r\nX-Evil: 1", "x", 1, timeouts,
                                     &response, &length);
         },
         0xC7590008},
        {"PostNullBodyWithLength",
         [&] {
             return scs.SCS_PostData(0, id, "/", 0, "a/b", nullptr, 10, timeouts, &response,
                                     &length);
         },
         0xC7590008},
        {"PostNullResponse",
         [&] { return scs.SCS_PostData(0, id, "/", 0, "a/b", "x", 1, timeouts, nullptr, &length); },
         0xC7590008},
        {"PostNullLength",
         [&] {
             return scs.SCS_PostData(0, id, "/", 0, "a/b", "x", 1, timeouts, &response, nullptr);
         },
         0xC7590008},
    };
    for (const BadCall& row : calls) {
        EXPECT_EQ(row.expected, row.call()) << row.name;
        EXPECT_EQ(nullptr, text) << row.name;
        EXPECT_EQ(nullptr, response) << row.name;
    }
    uint32_t count = 0;
    ASSERT_EQ(0u, scs.SCS_GetControllerCount(&count));
    EXPECT_EQ(1u, count) << "no bad controller was added";
}

// Settings-changed callbacks. The callbacks are plain C functions, so they report through
// these counters.
std::atomic<int> g_calls{0};
std::atomic<int> g_slowStarted{0};
std::atomic<int> g_slowFinished{0};
std::atomic<bool> g_onCallerThread{false};
std::thread::id g_callerThread;
std::atomic<uint32_t> g_countSeen{0};

uint32_t CountingCallback() {
    if (std::this_thread::get_id() == g_callerThread) g_onCallerThread = true;
    // The module's lock must be free here: a call back into the module must not block.
    uint32_t count = 0;
    Scs().SCS_GetControllerCount(&count);
    g_countSeen = count;
    ++g_calls;
    return 0;
}

uint32_t SlowCallback() {
    ++g_slowStarted;
    std::this_thread::sleep_for(300ms);
    ++g_slowFinished;
    return 0;
}

class ScsCallbacks : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        g_calls = 0;
        g_slowStarted = 0;
        g_slowFinished = 0;
        g_onCallerThread = false;
        g_callerThread = std::this_thread::get_id();
    }
};

TEST_F(ScsCallbacks, CalledOnTheNotifierThreadAfterLoadsAddsAndDeletes) {
    ASSERT_EQ(0u, Scs().SCS_RegisterSettingsChanged(&CountingCallback));
    LoadModuleProperties("");
    ASSERT_TRUE(Eventually([] { return g_calls >= 1; }));
    const int afterLoad = g_calls;
    AddController("a.example", "80");
    ASSERT_TRUE(Eventually([&] { return g_calls > afterLoad; }));
    const int afterAdd = g_calls;
    ASSERT_EQ(0u, Scs().SCS_DeleteController(0));
    ASSERT_TRUE(Eventually([&] { return g_calls > afterAdd && g_countSeen == 0; }));
    EXPECT_FALSE(g_onCallerThread);
    // A failed load is no change.
    const int beforeFailure = g_calls;
    EXPECT_EQ(0xC7590005u, Scs().SCS_LoadLocalProperties(m_dir.File("missing").c_str()));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(beforeFailure, g_calls);
    EXPECT_EQ(0u, Scs().SCS_UnregisterSettingsChanged(&CountingCallback));
}

TEST_F(ScsCallbacks, NoCallAfterUnregister) {
    ASSERT_EQ(0u, Scs().SCS_RegisterSettingsChanged(&CountingCallback));
    ASSERT_EQ(0u, Scs().SCS_UnregisterSettingsChanged(&CountingCallback));
    LoadModuleProperties("");
    AddController("a.example", "80");
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(0, g_calls);
}

TEST_F(ScsCallbacks, UnregisterWaitsForTheCallInProgress) {
    ASSERT_EQ(0u, Scs().SCS_RegisterSettingsChanged(&SlowCallback));
    AddController("a.example", "80");
    ASSERT_TRUE(Eventually([] { return g_slowStarted == 1; }));
    EXPECT_EQ(0u, Scs().SCS_UnregisterSettingsChanged(&SlowCallback));
    EXPECT_EQ(1, g_slowFinished.load());
}

TEST_F(ScsCallbacks, ShutDownWaitsForTheCallInProgress) {
    ASSERT_EQ(0u, Scs().SCS_RegisterSettingsChanged(&SlowCallback));
    AddController("a.example", "80");
    ASSERT_TRUE(Eventually([] { return g_slowStarted == 1; }));
    EXPECT_EQ(0u, Scs().SCS_ShutDown());
    EXPECT_EQ(1, g_slowFinished.load());
    ASSERT_EQ(0u, Scs().SCS_Init("3.0", kAgentId, 0, nullptr, nullptr));
}

TEST_F(ScsCallbacks, WatchedPropertyFileIsReloadedWhenItChanges) {
    ASSERT_EQ(0u, Scs().SCS_RegisterSettingsChanged(&CountingCallback));
    const std::string path = m_dir.File("agent.properties");
    WriteFile(path, "[session_config]\nwatchInterval = 1\n[sensor_services]\nretryInterval = 1\n");
    ASSERT_EQ(0u, Scs().SCS_LoadLocalProperties(path.c_str()));
    ASSERT_TRUE(Eventually([] { return g_calls >= 1; }));
    const int afterLoad = g_calls;
    WriteFile(path, "[session_config]\nwatchInterval = 1\n[sensor_services]\nretryInterval = 22\n");
    ASSERT_TRUE(Eventually([&] { return g_calls > afterLoad; }, 5000ms));
    ScsText value;
    ASSERT_EQ(0u, Scs().SCS_RetrieveLocalProperty("sensor_services", "retryInterval", value.Out()));
    EXPECT_EQ("22", value.Str());
}

}  // namespace
}  // namespace zel::scs::test
