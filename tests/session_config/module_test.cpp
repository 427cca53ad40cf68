// Life cycle, exports, the C boundary, controller fields, allocation, bad input and the
// settings-changed callbacks of the module, through its real entry points.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>

#include "module_fixture.h"

extern "C" int ScsPlainCCheck(const char* modulePath);

namespace zel::scs::test {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kBad = 0xC7590008;
constexpr uint32_t kNotInit = 0xC7590001;
constexpr uint32_t kNotImpl = 0xC721003C;

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

// One call that must give expected; text and response must stay null.
struct Call {
    const char* name;
    std::function<uint32_t()> call;
    uint32_t expected;
};

char* g_text = nullptr;
char* g_response = nullptr;

void ExpectCalls(const std::vector<Call>& calls) {
    for (const Call& row : calls) {
        EXPECT_EQ(row.expected, row.call()) << row.name;
        EXPECT_EQ(nullptr, g_text) << row.name;
        EXPECT_EQ(nullptr, g_response) << row.name;
    }
}

uint32_t PostRaw(int32_t id, const char* path, const char* mime, const char* body, uint32_t length,
                 bool withResponse = true, bool withLength = true) {
    static const uint32_t timeouts[3] = {100, 100, 100};
    uint32_t responseLength = 0;
    return Scs().SCS_PostData(0, id, path, 0, mime, body, length, timeouts, withResponse ? &g_response : nullptr,
                              withLength ? &responseLength : nullptr);
}

uint32_t Add(const char* name, const char* host, const char* port, const char* type = nullptr,
             const char* proxyHost = nullptr, const char* proxyPort = nullptr) {
    return Scs().SCS_AddController(name, host, port, type, proxyHost, proxyPort, nullptr, nullptr, nullptr,
                                   nullptr);
}

TEST(ScsExports, ModuleExportsExactlyTheEntryPointsAndServesPlainC) {
    const std::string command = std::string("nm -D --defined-only '") + ModulePath() + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    std::set<std::string> exported, expected;
    char line[512], address[64], kind[8], name[400];
    while (std::fgets(line, sizeof line, pipe))
        if (std::sscanf(line, "%63s %7s %399s", address, kind, name) == 3) exported.insert(name);
    ASSERT_EQ(0, ::pclose(pipe));
#define ZEL_SCS_NAME(name) expected.insert(#name);
    ZEL_SCS_ENTRY_POINTS(ZEL_SCS_NAME)
#undef ZEL_SCS_NAME
    EXPECT_EQ(32u, expected.size());
    EXPECT_EQ(expected, exported);
    EXPECT_EQ(0, ScsPlainCCheck(ModulePath()));
}

TEST(ScsLifecycle, BadInitAndEveryCallBeforeInitAreRefused) {
    const ScsApi& scs = Scs();
    const std::string huge(100000, 'a');
    uint32_t count = 0;
    void* block = nullptr;
    EXPECT_EQ(0u, scs.SCS_ShutDown());
    ExpectCalls({
        {"InitNullVersion", [&] { return scs.SCS_Init(nullptr, kAgentId, 0, nullptr, nullptr); }, kBad},
        {"InitVersionBlank", [&] { return scs.SCS_Init("3.0 ", kAgentId, 0, nullptr, nullptr); }, kBad},
        {"InitOldVersion", [&] { return scs.SCS_Init("2.0", kAgentId, 0, nullptr, nullptr); }, kBad},
        {"InitNullId", [&] { return scs.SCS_Init("3.0", nullptr, 0, nullptr, nullptr); }, kBad},
        {"InitHugeId", [&] { return scs.SCS_Init("3.0", huge.c_str(), 0, nullptr, nullptr); }, kBad},
        {"Count", [&] { return scs.SCS_GetControllerCount(&count); }, kNotInit},
        {"Load", [&] { return scs.SCS_LoadLocalProperties("/nonexistent"); }, kNotInit},
        {"Retrieve", [&] { return scs.SCS_RetrieveLocalProperty("a", "b", &g_text); }, kNotInit},
        {"Allocate", [&] { return scs.SCS_Allocate(16, &block); }, kNotInit},
        {"Add", [&] { return Add("n", "h", "1"); }, kNotInit},
        {"Post", [&] { return PostRaw(1, kPath, kMimeType, "x", 1); }, kNotInit},
        {"Free", [&] { return scs.SCS_Free(nullptr); }, 0},
    });
    EXPECT_EQ(nullptr, block);
}

TEST(ScsLifecycle, InitShutDownInitStartsAfresh) {
    const ScsApi& scs = Scs();
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(0u, scs.SCS_Init("3.0", kAgentId, 7, nullptr, nullptr));
        EXPECT_EQ(0x47590002u, scs.SCS_Init("3.0", kAgentId, 7, nullptr, nullptr));
        uint32_t count = 99;
        ASSERT_EQ(0u, scs.SCS_GetControllerCount(&count));
        EXPECT_EQ(0u, count) << "round " << round;
        ASSERT_EQ(0u, Add("a", "h.example", "80"));
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
    uint32_t length = 5;
    const uint32_t timeouts[3] = {0, 0, 0};
    g_response = reinterpret_cast<char*>(1);
    ExpectCalls({
        {"PostDataFile",
         [&] { return scs.SCS_PostDataFile(0, 1, "/", 0, "a/b", "f", timeouts, &g_response, &length); }, kNotImpl},
        {"S_Init", [&] { return scs.SCS_S_Init("3.0", kAgentId, 0, nullptr, nullptr); }, kNotImpl},
        {"S_ShutDown", [&] { return scs.SCS_S_ShutDown(); }, kNotImpl},
        {"LoadServerSettings", [&] { return scs.SCS_LoadServerSettings("x"); }, kNotImpl},
        {"S_RegisterOnPostData", [&] { return scs.SCS_S_RegisterOnPostData(nullptr); }, kNotImpl},
        {"S_StartServer", [&] { return scs.SCS_S_StartServer(); }, kNotImpl},
        {"S_StopServer", [&] { return scs.SCS_S_StopServer(); }, kNotImpl},
        {"PostUpdateData", [&] { return scs.SCS_PostUpdateData(0, 1, "/", "a/b", "x", 1, "out"); }, kNotImpl},
        {"InitUpdater", [&] { return scs.SCS_InitUpdater("dir"); }, kNotImpl},
        {"UninitUpdater", [&] { return scs.SCS_UninitUpdater(); }, kNotImpl},
        {"S_SetAgentId", [&] { return scs.SCS_S_SetAgentId(kAgentId); }, kNotImpl},
        {"S_SetLastGoodAgentId", [&] { return scs.SCS_S_SetLastGoodAgentId(kAgentId); }, kNotImpl},
    });
    EXPECT_EQ(0u, length);
}

TEST_F(ScsModule, AllocateGivesZeroedBlocksFreedWithFree) {
    void* block = nullptr;
    ASSERT_EQ(0u, Scs().SCS_Allocate(64, &block));
    ASSERT_NE(nullptr, block);
    const unsigned char zeros[64] = {};
    EXPECT_EQ(0, std::memcmp(zeros, block, sizeof zeros));
    EXPECT_EQ(0u, Scs().SCS_Free(block));
    EXPECT_EQ(kBad, Scs().SCS_Allocate(0, &block));
    EXPECT_EQ(nullptr, block);
    EXPECT_EQ(kBad, Scs().SCS_Allocate(8, nullptr));
}

// Passwords are kept (see the group settings tests) but never handed out; an absent type
// reads as http; only the outputs asked for are filled.
TEST_F(ScsModule, ControllerInfoAndGroupNameHint) {
    ASSERT_EQ(0u, Add("primary", "127.0.0.1", "8080"));
    ASSERT_EQ(0u, Scs().SCS_AddController("backup", "backup.example", "8443", "https", "proxy.example", "3128",
                                          "agent", "agent-secret", "relay", "relay-secret"));
    uint32_t count = 0;
    ASSERT_EQ(0u, Scs().SCS_GetControllerCount(&count));
    EXPECT_EQ(2u, count);
    EXPECT_EQ((std::vector<std::string>{"backup", "backup.example", "8443", "https", "proxy.example", "3128",
                                        "agent", "relay"}),
              Controller(1));
    EXPECT_EQ((std::vector<std::string>{"primary", "127.0.0.1", "8080", "http", "<null>", "<null>", "<null>",
                                        "<null>"}),
              Controller(0));
    ScsText onlyPort;
    EXPECT_EQ(0u, Scs().SCS_GetControllerInfo(1, nullptr, nullptr, onlyPort.Out(), nullptr, nullptr, nullptr,
                                              nullptr, nullptr));
    EXPECT_EQ("8443", onlyPort.Str());

    EXPECT_EQ("1.0.0|<null>", Info());
    ASSERT_EQ(0u, Scs().SCS_SetGroupnameHint("Default Group"));
    EXPECT_EQ("1.0.0|Default Group", Info());
    ASSERT_EQ(0u, Scs().SCS_SetGroupnameHint(nullptr));
    EXPECT_EQ("1.0.0|<null>", Info());
}

// The controller fields' checks shared with group settings documents: see the malformed documents.
TEST_F(ScsModule, BadInputIsRefused) {
    const ScsApi& scs = Scs();
    const std::string huge(1 << 20, 'h');
    const std::string hugePath = "/" + std::string(8000, 'p');
    uint32_t length = 0;
    int32_t* servers = nullptr;
    ScsText none;
    const int32_t id = AddController("127.0.0.1", "1");
    ExpectCalls({
        {"LoadNull", [&] { return scs.SCS_LoadLocalProperties(nullptr); }, kBad},
        {"LoadEmpty", [&] { return scs.SCS_LoadLocalProperties(""); }, kBad},
        {"LoadHuge", [&] { return scs.SCS_LoadLocalProperties(huge.c_str()); }, kBad},
        {"GroupNull", [&] { return scs.SCS_LoadGroupSettings(nullptr); }, kBad},
        {"RetrieveNullOut", [&] { return scs.SCS_RetrieveLocalProperty("a", "b", nullptr); }, kBad},
        {"RetrieveNullKey", [&] { return scs.SCS_RetrieveLocalProperty("a", nullptr, &g_text); }, kBad},
        {"RetrieveNullSection", [&] { return scs.SCS_RetrieveLocalProperty(nullptr, "b", &g_text); }, kBad},
        {"RetrieveHugeKey", [&] { return scs.SCS_RetrieveLocalProperty("a", huge.c_str(), &g_text); }, kBad},
        {"DestinationsNull", [&] { return scs.SCS_GetDestinations(0, nullptr, &length); }, kBad},
        {"DestinationsNullCount", [&] { return scs.SCS_GetDestinations(0, &servers, nullptr); }, kBad},
        {"InfoNull", [&] { return scs.SCS_GetGroupSettingsInfo(0, 0, nullptr, &g_text); }, kBad},
        {"CountNull", [&] { return scs.SCS_GetControllerCount(nullptr); }, kBad},
        {"ControllerOutOfRange",
         [&] {
             return scs.SCS_GetControllerInfo(1, none.Out(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr);
         },
         kBad},
        {"AddNullHost", [&] { return Add("n", nullptr, "80"); }, kBad},
        {"AddNullPort", [&] { return Add("n", "h", nullptr); }, kBad},
        {"AddPortTooLong", [&] { return Add("n", "h", "123456"); }, kBad},
        {"AddHostWithSlash", [&] { return Add("n", "h/x", "80"); }, kBad},
        {"AddUnclosedIpv6", [&] { return Add("n", "[::1", "80"); }, kBad},
        {"AddNameWithLineBreak", [&] { return Add("a\r\nb", "h", "80"); }, kBad},
        {"AddHugeName", [&] { return Add(huge.c_str(), "h", "80"); }, kBad},
        {"AddInvalidUtf8", [&] { return Add("\xC3\x28", "h", "80"); }, kBad},
        {"AddBadProxyHost", [&] { return Add("n", "h", "80", nullptr, "p/x", "1"); }, kBad},
        {"AddBadProxyPort", [&] { return Add("n", "h", "80", nullptr, "p", "x"); }, kBad},
        {"DeleteOutOfRange", [&] { return scs.SCS_DeleteController(1); }, kBad},
        {"DeleteHuge", [&] { return scs.SCS_DeleteController(0xFFFFFFFFu); }, kBad},
        {"SetAgentIdNull", [&] { return scs.SCS_SetAgentId(nullptr); }, kBad},
        {"SetAgentIdEmpty", [&] { return scs.SCS_SetAgentId(""); }, kBad},
        {"SetAgentIdLineBreak", [&] { return scs.SCS_SetAgentId("a\nb"); }, kBad},
        {"SetAgentIdBlankEnd", [&] { return scs.SCS_SetAgentId("a "); }, kBad},
        {"SetAgentIdHuge", [&] { return scs.SCS_SetAgentId(huge.c_str()); }, kBad},
        {"SetAgentIdWithoutFile", [&] { return scs.SCS_SetAgentId("x"); }, 0xC7590005},
        {"SetLastGoodNull", [&] { return scs.SCS_SetLastGoodAgentId(nullptr); }, kBad},
        {"SetLastGoodWithoutFile", [&] { return scs.SCS_SetLastGoodAgentId("x"); }, 0xC7590005},
        {"HintHuge", [&] { return scs.SCS_SetGroupnameHint(huge.c_str()); }, kBad},
        {"HintInvalidUtf8", [&] { return scs.SCS_SetGroupnameHint("\xFF"); }, kBad},
        {"RegisterNull", [&] { return scs.SCS_RegisterSettingsChanged(nullptr); }, kBad},
        {"UnregisterNull", [&] { return scs.SCS_UnregisterSettingsChanged(nullptr); }, kBad},
        {"UnregisterUnknown",
         [&] { return scs.SCS_UnregisterSettingsChanged([]() -> uint32_t { return 0; }); }, kBad},
        {"SaveHugePath", [&] { return scs.SCS_SaveGroupSettings(huge.c_str()); }, kBad},
        {"SaveNothingLoaded", [&] { return scs.SCS_SaveGroupSettings(nullptr); }, 0xC7590005},
        {"PostNullPath", [&] { return PostRaw(id, nullptr, "a/b", "x", 1); }, kBad},
        {"PostRelativePath", [&] { return PostRaw(id, "zel", "a/b", "x", 1); }, kBad},
        {"PostPathWithBlank", [&] { return PostRaw(id, "/a b", "a/b", "x", 1); }, kBad},
        {"PostHugePath", [&] { return PostRaw(id, hugePath.c_str(), "a/b", "x", 1); }, kBad},
        {"PostNullMime", [&] { return PostRaw(id, "/", nullptr, "x", 1); }, kBad},
        {"PostEmptyMime", [&] { return PostRaw(id, "/", "", "x", 1); }, kBad},
        {"PostMimeWithLineBreak", [&] { return PostRaw(id, "/", "a/b\r\nX-Evil: 1", "x", 1); }, kBad},
        {"PostNullBodyWithLength", [&] { return PostRaw(id, "/", "a/b", nullptr, 10); }, kBad},
        {"PostNullResponse", [&] { return PostRaw(id, "/", "a/b", "x", 1, false); }, kBad},
        {"PostNullLength", [&] { return PostRaw(id, "/", "a/b", "x", 1, true, false); }, kBad},
        {"PostUnknownServer", [&] { return PostRaw(id + 1000, "/", "a/b", "x", 1); }, 0xC7590007},
        {"PostNegativeServer", [&] { return PostRaw(-1, "/", "a/b", "x", 1); }, 0xC7590007},
        {"PostServerZero", [&] { return PostRaw(0, "/", "a/b", "x", 1); }, 0xC7590007},
    });
    EXPECT_EQ(nullptr, none.Get());
    EXPECT_EQ(std::vector<int32_t>{id}, Destinations()) << "no bad controller was added";
}

// Settings-changed callbacks are plain C functions, so they report through these counters.
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
        g_onCallerThread = false;
        g_callerThread = std::this_thread::get_id();
    }
};

TEST_F(ScsCallbacks, CalledOnTheNotifierThreadAfterChangesUntilUnregistered) {
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
    AddController("b.example", "80");
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(beforeFailure, g_calls) << "no call after unregistering";
}

TEST_F(ScsCallbacks, UnregisterAndShutDownWaitForTheCallInProgress) {
    for (const bool byShutDown : {false, true}) {
        g_slowStarted = 0;
        g_slowFinished = 0;
        ASSERT_EQ(0u, Scs().SCS_RegisterSettingsChanged(&SlowCallback));
        AddController("a.example", "80");
        ASSERT_TRUE(Eventually([] { return g_slowStarted == 1; }));
        if (byShutDown) {
            EXPECT_EQ(0u, Scs().SCS_ShutDown());
            ASSERT_EQ(0u, Scs().SCS_Init("3.0", kAgentId, 0, nullptr, nullptr));
        } else {
            EXPECT_EQ(0u, Scs().SCS_UnregisterSettingsChanged(&SlowCallback));
        }
        EXPECT_EQ(1, g_slowFinished.load()) << (byShutDown ? "shut down" : "unregister");
    }
}

TEST_F(ScsCallbacks, WatchedPropertyFileIsReloadedWhenItChanges) {
    ASSERT_EQ(0u, Scs().SCS_RegisterSettingsChanged(&CountingCallback));
    const std::string path = Write("agent.properties", "[session_config]\nwatchInterval = 1\n[s]\nr = 1\n");
    ASSERT_EQ(0u, Scs().SCS_LoadLocalProperties(path.c_str()));
    ASSERT_TRUE(Eventually([] { return g_calls >= 1; }));
    const int afterLoad = g_calls;
    WriteFile(path, "[session_config]\nwatchInterval = 1\n[s]\nr = 22\n");
    ASSERT_TRUE(Eventually([&] { return g_calls > afterLoad; }));
    EXPECT_EQ("22", Retrieve("s", "r"));
}

}  // namespace
}  // namespace zel::scs::test
