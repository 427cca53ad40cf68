// The library's life: argument checks, start and stop, the not-initialised answers, the
// settings the core reads, the pass-through exports and the controller copies.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <functional>
#include <string>
#include <vector>

#include "sensor_services/internal.h"
#include "library_test.h"
#include "zel/platform_posix.h"
#include "zel/sensor_services.h"

namespace zel::ss::test {
namespace {

constexpr uint32_t kNotInitialized = 0xC7560003;
constexpr const char* kSsInit = "SS_Init()";
constexpr const char* kBaseInit = "CBaseServices::Init()";
constexpr const char* kSensorInit = "CSensorServices::Init()";
constexpr const SS_PlatformServices* kSynchronous = nullptr;

struct ExportCall {
    const char* name;
    std::function<uint32_t()> call;
};

// Every export that runs in the common frame, and the internal operations, with
// harmless arguments.
std::vector<ExportCall> FramedExports() {
    static char* text = nullptr;
    static uint32_t count = 0;
    static bool flag = false;
    static uint32_t timeouts[3];
    return {
        {"SS_RegisterErrorCallback", [] { return SS_RegisterErrorCallback(nullptr); }},
        {"SS_LoadLocalProperties", [] { return SS_LoadLocalProperties("/nonexistent/agent.properties"); }},
        {"SS_LoadGroupSettings", [] { return SS_LoadGroupSettings("/nonexistent/group.xml"); }},
        {"SS_SaveGroupSettings", [] { return SS_SaveGroupSettings("/nonexistent/group.xml"); }},
        {"SS_SetAgentId", [] { return SS_SetAgentId(kAgentId); }},
        {"SS_SetLastGoodAgentId", [] { return SS_SetLastGoodAgentId(kAgentId); }},
        {"SS_SetGroupnameHint", [] { return SS_SetGroupnameHint("group"); }},
        {"SS_ResetToPrimaryController", [] { return SS_ResetToPrimaryController(); }},
        {"SS_GetControllerCount", [] { return SS_GetControllerCount(&count); }},
        {"SS_GetControllerInfo",
         [] { return SS_GetControllerInfo(0, &text, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); }},
        {"SS_AddController",
         [] {
             return SS_AddController("c", "127.0.0.1", "1", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr);
         }},
        {"SS_DeleteController", [] { return SS_DeleteController(5); }},
        {"QueueHeartbeatBytes", [] { return QueueHeartbeatBytes("x", 1); }},
        {"RequestDispatch", [] { return RequestDispatch(); }},
        {"GetHeartbeatPending", [] { return GetHeartbeatPending(flag); }},
        {"GetDumpEnabled", [] { return GetDumpEnabled(flag); }},
        {"GetPostTimeouts", [] { return GetPostTimeouts(timeouts); }},
    };
}

void ExpectNotInitialized() {
    for (const ExportCall& e : FramedExports()) EXPECT_EQ(kNotInitialized, e.call()) << e.name;
    EXPECT_EQ(nullptr, SS_Allocate(16));
    SS_Free(nullptr);
}

// Nothing listens on port 1: no test here posts.
class LifecycleTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        m_files = std::make_unique<SettingsFiles>(1);
    }
    uint32_t Init(const SS_PlatformServices* platform, const std::string& propertyFile) {
        return SS_Init("3.0", propertyFile.c_str(), m_files->GroupSettingsFile().c_str(), kAgentId, 0, platform,
                       m_trace.Sink());
    }
    uint32_t Init(const SS_PlatformServices* platform = ZEL_PosixPlatformServices()) {
        return Init(platform, m_files->PropertyFile());
    }
    std::vector<uint32_t> Timeouts() {
        uint32_t values[3] = {1, 1, 1};
        EXPECT_EQ(0u, GetPostTimeouts(values));
        return {values[0], values[1], values[2]};
    }
};

TEST_F(LifecycleTest, EveryFramedExportAnswersNotInitializedBeforeInitAndShutDownReturnsZero) {
    ExpectNotInitialized();
    EXPECT_EQ(0u, SS_ShutDown());
    EXPECT_EQ(0u, SS_ShutDown());
    ExpectNotInitialized();
}

// The two pointers the validation trace ends with.
std::string Pointers(const void* platform, const void* sink) {
    char text[64];
    std::snprintf(text, sizeof text, "0x%08lx, 0x%08lx)",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(platform)),
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(sink)));
    return text;
}

// (The decoding of UTF-8 itself is the runtime's, tested there.)
TEST_F(LifecycleTest, InvalidArgumentsAreRefusedWithTheirTrace) {
    const std::string id35(35, 'a'), id37(37, 'a'), notUtf8 = std::string(35, 'a') + "\x80",
                      control = std::string(35, 'a') + "\x1b", nonCharacter = std::string(33, 'a') + "\xEF\xBF\xBF";
    // Version, property file, group file, agent identifier; the trace names a null text "(null)".
    const std::vector<std::vector<const char*>> cases = {
        {"3.0 ", "/p", "/g", kAgentId},         {"3.1", "/p", "/g", kAgentId},
        {"", "/p", "/g", kAgentId},             {nullptr, "/p", "/g", kAgentId},
        {"3.0", "/p", "/g", id35.c_str()},      {"3.0", "/p", "/g", id37.c_str()},
        {"3.0", "/p", "/g", nullptr},           {"3.0", nullptr, "/g", kAgentId},
        {"3.0", "/p", nullptr, kAgentId},       {"3.0", "/p", "/g", notUtf8.c_str()},
        {"3.0", "/p", "/g", control.c_str()},   {"3.0", "/p", "/g", nonCharacter.c_str()},
    };
    const SS_PlatformServices* platform = ZEL_PosixPlatformServices();
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases.data());
        TraceRecorder trace;
        EXPECT_EQ(0xC7210003u, SS_Init(c[0], c[1], c[2], c[3], 0, platform, trace.Sink()));
        std::string call = "SS_Init(";
        for (int i = 0; i < 3; ++i) call += std::string(c[i] ? c[i] : "(null)") + ", ";
        const std::vector<TraceLine> lines = trace.Lines();
        ASSERT_EQ(2u, lines.size());
        EXPECT_EQ(8u, lines[0].level);
        EXPECT_EQ("Initializing Sensor Services...", lines[0].message);
        EXPECT_EQ(kSsInit, lines[0].where);
        EXPECT_EQ(1u, lines[1].level);
        EXPECT_EQ("...Error validating arguments in call to " + call + Pointers(platform, trace.Sink()),
                  lines[1].message);
        EXPECT_EQ(kSsInit, lines[1].where);
        ExpectNotInitialized();
    }
}

TEST_F(LifecycleTest, ValidationTraceNeedsTheErrorLevelAndANullSinkIsNeverCalled) {
    TraceRecorder infoOnly(SS_TRACE_INFO);
    EXPECT_EQ(0xC7210003u, SS_Init("3.0 ", "/p", "/g", kAgentId, 0, nullptr, infoOnly.Sink()));
    ASSERT_EQ(1u, infoOnly.Lines().size());
    EXPECT_EQ("Initializing Sensor Services...", infoOnly.Lines()[0].message);

    TraceRecorder errorsOnly(SS_TRACE_ERROR);
    EXPECT_EQ(0xC7210003u, SS_Init("3.0", "/p", "/g", "short", 0, nullptr, errorsOnly.Sink()));
    ASSERT_EQ(1u, errorsOnly.Lines().size());
    EXPECT_EQ("...Error validating arguments in call to SS_Init(3.0, /p, /g, " + Pointers(nullptr, errorsOnly.Sink()),
              errorsOnly.Lines()[0].message);
    EXPECT_EQ(0xC7210003u, SS_Init("3.0", "/p", "/g", "short", 0, nullptr, nullptr));
}

TEST_F(LifecycleTest, AMissingGroupSettingsFileFailsInitWithTheModuleStatus) {
    const std::string missing = m_files->MissingFile();
    for (const SS_PlatformServices* platform : {ZEL_PosixPlatformServices(), kSynchronous}) {
        TraceRecorder trace;
        EXPECT_EQ(0xC7590005u, SS_Init("3.0", m_files->PropertyFile().c_str(), missing.c_str(), kAgentId, 0, platform,
                                       trace.Sink()));
        EXPECT_EQ(1, trace.Count(2, "Unable to load group settings file: " + missing, kBaseInit));
        EXPECT_EQ(0, trace.Count(8, "Sensor services initialized.", kSsInit));
        ExpectNotInitialized();
    }
}

TEST_F(LifecycleTest, InitStartsOnceAndShutDownStopsEveryExport) {
    ASSERT_EQ(0u, Init());
    EXPECT_EQ(1, m_trace.Count(8, "Initializing Sensor Services...", kSsInit));
    EXPECT_EQ(1, m_trace.Count(8, "Sensor services initialized.", kSsInit));
    const std::size_t linesAfterInit = m_trace.Lines(kSsInit).size();

    // A second start changes nothing and traces only its first line.
    EXPECT_EQ(0x47560004u, Init());
    EXPECT_EQ(0x47560004u, Init(nullptr));
    EXPECT_EQ(linesAfterInit + 2, m_trace.Lines(kSsInit).size());
    EXPECT_EQ(1, m_trace.Count(8, "Sensor services initialized.", kSsInit));

    uint32_t count = 0;
    EXPECT_EQ(0u, SS_GetControllerCount(&count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(0u, SS_RegisterErrorCallback(nullptr));
    EXPECT_EQ(0u, SS_ResetToPrimaryController());
    void* block = SS_Allocate(64);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(0, static_cast<unsigned char*>(block)[63]);

    EXPECT_EQ(0u, SS_ShutDown());
    ExpectNotInitialized();
    SS_Free(block);  // blocks stay the agent's across the shut-down

    // Started again after the shut-down: a new object over the same files.
    ASSERT_EQ(0u, Init());
    EXPECT_EQ(0u, SS_GetControllerCount(&count));
}

// SS_Init does not wait for an instance shut down earlier whose post is still in flight: the
// new instance takes the session-config module over, and the earlier one, once its post has
// ended, goes without stopping the module under the new one.
TEST_F(LifecycleTest, InitRightAfterShutDownDoesNotWaitForAPostInFlight) {
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::atomic<int> arrived{0};
    std::atomic<bool> heldPostEnded{false};
    RecordingServer server([&](const httplib::Request&, httplib::Response& response) {
        if (arrived++ == 0) {
            released.wait_for(std::chrono::seconds(30));
            heldPostEnded = true;
        }
        response.set_content("not a reply", "text/plain");
    });
    SettingsFiles files(server.Port());
    const auto start = [&] {
        return SS_Init("3.0", files.PropertyFile().c_str(), files.GroupSettingsFile().c_str(), kAgentId, 0,
                       ZEL_PosixPlatformServices(), m_trace.Sink());
    };
    const auto post = [](const char* body) {
        EXPECT_EQ(0u, QueueHeartbeatBytes(body, static_cast<uint32_t>(std::strlen(body))));
        EXPECT_EQ(0u, RequestDispatch());
    };
    ASSERT_EQ(0u, start());
    post("held");
    ASSERT_TRUE(server.WaitForPosts(1));
    EXPECT_EQ(0u, SS_ShutDown());
    ASSERT_EQ(0u, start());
    EXPECT_FALSE(heldPostEnded);
    post("second");
    ASSERT_TRUE(server.WaitForPosts(2));

    release.set_value();
    ASSERT_TRUE(Eventually([] { return LibraryInstanceCount() == 1; }));
    post("third");
    ASSERT_TRUE(server.WaitForPosts(3));
    EXPECT_EQ("third", server.Posts()[2].body);
}

TEST_F(LifecycleTest, WithoutAnyTraceLevelTheSinkIsNeverCalled) {
    TraceRecorder silent(0);
    ASSERT_EQ(0u, SS_Init("3.0", m_files->MissingFile().c_str(), m_files->GroupSettingsFile().c_str(), kAgentId, 0,
                          ZEL_PosixPlatformServices(), silent.Sink()));
    EXPECT_EQ(0u, SS_ShutDown());
    WaitUntilLibraryGone();
    EXPECT_TRUE(silent.Lines().empty());
}

TEST_F(LifecycleTest, AnUnreadablePropertyFileOnlyWarnsWithPlatformServices) {
    const std::string missing = m_files->MissingFile();
    ASSERT_EQ(0u, Init(ZEL_PosixPlatformServices(), missing));
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 60000}), Timeouts());
    EXPECT_EQ(1, m_trace.Count(2, "Unable to load local property file: " + missing, kBaseInit));
    EXPECT_EQ(1, m_trace.Count(2, "Failed to load settings from local property file", kBaseInit));
    EXPECT_EQ(1, m_trace.Count(2, "Failed to load settings from local property file", kSensorInit));
    EXPECT_EQ(1, m_trace.Count(8, "Sensor services initialized.", kSsInit));
}

TEST_F(LifecycleTest, InSynchronousModeTheLookupOfTheLastTimeoutDecides) {
    // No property file: the lookup of dnsCacheTimeout fails with the module's status.
    EXPECT_EQ(0xC7590004u, Init(nullptr, m_files->MissingFile()));
    ExpectNotInitialized();
    // A file without that key fails the same way, even with the other keys present.
    m_files->SetProperties("[sensor_services]\nconnectTimeout = 5\ntransferTimeout = 6\n");
    EXPECT_EQ(0xC7590004u, Init(nullptr));
    ExpectNotInitialized();
    m_files->SetProperties("[sensor_services]\ndnsCacheTimeout = 0\n");
    ASSERT_EQ(0u, Init(nullptr));
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 0}), Timeouts());
}

TEST_F(LifecycleTest, TimeoutsAreLeadingDecimalDigitsAndTheDumpIsOnForANonZeroNumber) {
    const struct {
        const char* lines;
        std::vector<uint32_t> timeouts;
        bool dump;
    } cases[] = {
        {"connectTimeout = 1500\ntransferTimeout = 12x\ndnsCacheTimeout = abc\n[other]\nconnectTimeout = 7\n",
         {1500, 12, 0}, false},
        {"", {0, 0, 60000}, false},
        {"dumpEnabled = 0\n", {0, 0, 60000}, false},
        {"dumpEnabled = yes\n", {0, 0, 60000}, false},
        {"dumpEnabled =\n", {0, 0, 60000}, false},
        {"dumpEnabled = 1\n", {0, 0, 60000}, true},
        {"dumpEnabled = 12\n", {0, 0, 60000}, true},
    };
    for (const auto& c : cases) {
        m_files->SetProperties(std::string("[sensor_services]\n") + c.lines);
        // In synchronous mode only the first row has dnsCacheTimeout, which it needs.
        for (const SS_PlatformServices* platform : {ZEL_PosixPlatformServices(), kSynchronous}) {
            if (!platform && &c != cases) continue;
            ASSERT_EQ(0u, Init(platform)) << c.lines;
            EXPECT_EQ(c.timeouts, Timeouts()) << c.lines;
            bool enabled = !c.dump;
            EXPECT_EQ(0u, GetDumpEnabled(enabled));
            EXPECT_EQ(c.dump, enabled) << c.lines;
            EXPECT_EQ(0u, SS_ShutDown());
        }
    }
}

TEST_F(LifecycleTest, ReloadedPropertiesReachTheCoreThroughTheSettingsChangedHandler) {
    ASSERT_EQ(0u, Init());
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 60000}), Timeouts());
    const std::string second = m_files->MissingFile();
    WriteFile(second, "[sensor_services]\nconnectTimeout = 250\ntransferTimeout = 750\ndnsCacheTimeout = 5\n"
                      "dumpEnabled = 1\n");
    EXPECT_EQ(0u, SS_LoadLocalProperties(second.c_str()));
    EXPECT_TRUE(Eventually([&] { return Timeouts() == std::vector<uint32_t>{250, 750, 5}; }));
    bool enabled = false;
    EXPECT_EQ(0u, GetDumpEnabled(enabled));
    EXPECT_TRUE(enabled);
    // A failing load is the module's status, unchanged.
    EXPECT_EQ(0xC7590005u, SS_LoadLocalProperties((second + ".gone").c_str()));
    EXPECT_EQ(0xC7590005u, SS_LoadGroupSettings((second + ".gone").c_str()));
}

TEST_F(LifecycleTest, IdentifiersAndControllersPassThroughToTheModuleAsCopiesTheAgentFrees) {
    ASSERT_EQ(0u, Init());
    const char* newId = "11111111-2222-3333-4444-555555555555";
    EXPECT_EQ(0u, SS_SetAgentId(newId));
    EXPECT_EQ(0u, SS_SetLastGoodAgentId(newId));
    EXPECT_EQ(0u, SS_SetGroupnameHint("hint"));
    const std::string text = ReadFile(m_files->PropertyFile());
    EXPECT_NE(std::string::npos, text.find(std::string("agentId = ") + newId)) << text;
    EXPECT_NE(std::string::npos, text.find(std::string("lastGoodAgentId = ") + newId)) << text;
    EXPECT_NE(0u, SS_SetAgentId(""));

    ASSERT_EQ(0u, SS_AddController("backup", "backup.example", "8443", "https", "proxy.example", "3128", "user",
                                   "secret", "proxyuser", "proxysecret"));
    uint32_t count = 0;
    ASSERT_EQ(0u, SS_GetControllerCount(&count));
    ASSERT_EQ(2u, count);

    char* fields[8];
    for (char*& f : fields) f = reinterpret_cast<char*>(1);
    ASSERT_EQ(0u, SS_GetControllerInfo(1, &fields[0], &fields[1], &fields[2], &fields[3], &fields[4], &fields[5],
                                       &fields[6], &fields[7]));
    const char* expected[8] = {"backup", "backup.example", "8443", "https", "proxy.example", "3128", "user",
                               "proxyuser"};
    for (int i = 0; i < 8; ++i) {
        ASSERT_NE(nullptr, fields[i]) << i;
        EXPECT_STREQ(expected[i], fields[i]) << i;
        SS_Free(fields[i]);
    }

    // The primary from the group settings has no proxy or user: those outputs are null.
    char* name = nullptr;
    char* proxyHost = reinterpret_cast<char*>(1);
    char* userName = reinterpret_cast<char*>(1);
    ASSERT_EQ(0u, SS_GetControllerInfo(0, &name, nullptr, nullptr, nullptr, &proxyHost, nullptr, &userName, nullptr));
    EXPECT_STREQ("primary", name);
    EXPECT_EQ(nullptr, proxyHost);
    EXPECT_EQ(nullptr, userName);
    SS_Free(name);

    // All outputs null: the module is still asked and its status returned.
    EXPECT_EQ(0u, SS_GetControllerInfo(1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    // A position past the end: the module's failure, nothing written.
    char* untouched = reinterpret_cast<char*>(1);
    EXPECT_NE(0u, SS_GetControllerInfo(2, &untouched, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(reinterpret_cast<char*>(1), untouched);

    EXPECT_EQ(0u, SS_DeleteController(1));
    ASSERT_EQ(0u, SS_GetControllerCount(&count));
    EXPECT_EQ(1u, count);
    EXPECT_NE(0u, SS_DeleteController(1));
}

}  // namespace
}  // namespace zel::ss::test
