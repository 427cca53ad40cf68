// The library's life: argument checks, start and stop, the not-initialised answers, the
// settings the core reads, the pass-through exports and the controller copies.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <future>
#include <iterator>

#include "library_test.h"

namespace zel::ss::test {
namespace {

constexpr uint32_t kNotInitialized = 0xC7560003;
constexpr const char* kSsInit = "SS_Init()";

// Every export that runs in the common frame, and the internal operations, with harmless
// arguments, answer "not initialised" while the library is down.
void ExpectNotInitialized() {
    char* text = nullptr;
    uint32_t count = 0, timeouts[3];
    bool flag = false;
    const uint32_t statuses[] = {
        SS_RegisterErrorCallback(nullptr), SS_LoadLocalProperties("/nonexistent/agent.properties"),
        SS_LoadGroupSettings("/nonexistent/group.xml"), SS_SaveGroupSettings("/nonexistent/group.xml"),
        SS_SetAgentId(kAgentId), SS_SetLastGoodAgentId(kAgentId), SS_SetGroupnameHint("group"),
        SS_ResetToPrimaryController(), SS_GetControllerCount(&count),
        SS_GetControllerInfo(0, &text, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
        SS_AddController("c", "127.0.0.1", "1", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
        SS_DeleteController(5), QueueHeartbeatBytes("x", 1), RequestDispatch(), GetHeartbeatPending(flag),
        GetDumpEnabled(flag), GetPostTimeouts(timeouts)};
    EXPECT_EQ(std::vector<uint32_t>(std::size(statuses), kNotInitialized),
              std::vector<uint32_t>(std::begin(statuses), std::end(statuses)));
    EXPECT_EQ(nullptr, SS_Allocate(16));
    SS_Free(nullptr);
}

// Nothing listens on port 1: no test here posts.
class LifecycleTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        m_files = std::make_unique<SettingsFiles>(std::vector<int>{1});
    }
    // With `trace`: without a property file, traced there.
    uint32_t Init(const SS_PlatformServices* platform = ZEL_PosixPlatformServices(), const TraceRecorder* trace = 0) {
        return SS_Init("3.0", (trace ? m_files->MissingFile() : m_files->PropertyFile()).c_str(),
                       m_files->GroupSettingsFile().c_str(), kAgentId, 0, platform, (trace ? *trace : m_trace).Sink());
    }
    // The timeouts and, last, the dump flag the core holds.
    static std::vector<uint32_t> Settings() {
        uint32_t values[3] = {1, 1, 1};
        bool enabled = false;
        EXPECT_EQ(0u, GetPostTimeouts(values));
        EXPECT_EQ(0u, GetDumpEnabled(enabled));
        return {values[0], values[1], values[2], enabled};
    }
};

// The lines of `trace` as "level where: message".
std::vector<std::string> Texts(const TraceRecorder& trace) {
    std::vector<std::string> texts;
    for (auto& l : trace.Lines()) texts.push_back(std::to_string(l.level) + " " + l.where + ": " + l.message);
    return texts;
}

// The two pointers the validation trace ends with.
std::string Pointers(const void* platform, const void* sink) {
    char text[64];
    std::snprintf(text, sizeof text, "0x%08lx, 0x%08lx)", (unsigned long)reinterpret_cast<uintptr_t>(platform),
                  (unsigned long)reinterpret_cast<uintptr_t>(sink));
    return text;
}

// (The decoding of UTF-8 itself is the runtime's, tested there.)
TEST_F(LifecycleTest, InvalidArgumentsAreRefusedWithTheirTrace) {
    const std::string id35(35, 'a'), notUtf8 = id35 + "\x80", control = id35 + "\x1b",
                      nonCharacter = std::string(33, 'a') + "\xEF\xBF\xBF";
    // Version, property file, group file, agent identifier; the trace names a null text "(null)".
    const std::vector<std::vector<const char*>> cases = {
        {"3.1", "/p", "/g", kAgentId},   {nullptr, "/p", "/g", kAgentId},      {"3.0", "/p", "/g", id35.c_str()},
        {"3.0", "/p", "/g", nullptr},    {"3.0", nullptr, "/g", kAgentId},     {"3.0", "/p", nullptr, kAgentId},
        {"3.0", "/p", "/g", notUtf8.c_str()}, {"3.0", "/p", "/g", control.c_str()},
        {"3.0", "/p", "/g", nonCharacter.c_str()},
    };
    const SS_PlatformServices* platform = ZEL_PosixPlatformServices();
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases.data());
        TraceRecorder trace;
        EXPECT_EQ(0xC7210003u, SS_Init(c[0], c[1], c[2], c[3], 0, platform, trace.Sink()));
        std::string call = "SS_Init(";
        for (int i = 0; i < 3; ++i) call += std::string(c[i] ? c[i] : "(null)") + ", ";
        EXPECT_EQ((std::vector<std::string>{"8 SS_Init(): Initializing Sensor Services...",
                                            "1 SS_Init(): ...Error validating arguments in call to " + call +
                                                Pointers(platform, trace.Sink())}),
                  Texts(trace));
        ExpectNotInitialized();
    }
    // The validation trace needs the error level; a null sink is never called.
    TraceRecorder infoOnly(SS_TRACE_INFO), errorsOnly(SS_TRACE_ERROR);
    EXPECT_EQ(0xC7210003u, SS_Init("3.0 ", "/p", "/g", kAgentId, 0, nullptr, infoOnly.Sink()));
    EXPECT_EQ(std::vector<std::string>{"8 SS_Init(): Initializing Sensor Services..."}, Texts(infoOnly));
    EXPECT_EQ(0xC7210003u, SS_Init("3.0", "/p", "/g", "short", 0, nullptr, errorsOnly.Sink()));
    EXPECT_EQ(std::vector<std::string>{"1 SS_Init(): ...Error validating arguments in call to SS_Init(3.0, /p, /g, " +
                                       Pointers(nullptr, errorsOnly.Sink())},
              Texts(errorsOnly));
    EXPECT_EQ(0xC7210003u, SS_Init("3.0", "/p", "/g", "short", 0, nullptr, nullptr));
    // Without any trace level the sink is never called, even for a start that warns.
    TraceRecorder silent(0);
    ASSERT_EQ(0u, Init(ZEL_PosixPlatformServices(), &silent));
    TearDown();
    EXPECT_TRUE(silent.Lines().empty());
}

TEST_F(LifecycleTest, InitStartsOnceAndShutDownStopsEveryExport) {
    // A shut-down without a start returns 0. (Not initialised before any start: the argument checks.)
    EXPECT_EQ(0u, SS_ShutDown());
    EXPECT_EQ(0u, SS_ShutDown());
    ASSERT_EQ(0u, Init());
    EXPECT_EQ(1, m_trace.Count(8, "Initializing Sensor Services...", kSsInit));
    const std::size_t linesAfterInit = m_trace.Lines(kSsInit).size();
    // A second start changes nothing and traces only its first line.
    EXPECT_EQ(0x47560004u, Init());
    EXPECT_EQ(0x47560004u, Init(nullptr));
    EXPECT_EQ(linesAfterInit + 2, m_trace.Lines(kSsInit).size());
    EXPECT_EQ(1, m_trace.Count(8, "Sensor services initialized.", kSsInit));
    EXPECT_EQ(1u, ControllerCount());
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
    EXPECT_EQ(1u, ControllerCount());
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
    m_files = std::make_unique<SettingsFiles>(std::vector<int>{server.Port()});
    const auto post = [](const char* body) {
        EXPECT_EQ(0u, QueueHeartbeatBytes(body, static_cast<uint32_t>(std::strlen(body))));
        EXPECT_EQ(0u, RequestDispatch());
    };
    ASSERT_EQ(0u, Init());
    post("held");
    ASSERT_TRUE(server.WaitForPosts(1));
    EXPECT_EQ(0u, SS_ShutDown());
    ASSERT_EQ(0u, Init());
    EXPECT_FALSE(heldPostEnded);
    post("second");
    ASSERT_TRUE(server.WaitForPosts(2));
    release.set_value();
    ASSERT_TRUE(Eventually([] { return LibraryInstanceCount() == 1; }));
    post("third");
    ASSERT_TRUE(server.WaitForPosts(3));
    EXPECT_EQ("third", server.Posts()[2].body);
}

// What a start reads from its files: the timeouts are leading decimal digits, the dump is on
// for a non-zero number; in synchronous mode the lookup of the last timeout decides. Rows:
// property lines (null: no property file), group file missing, with platform services, the
// status, the timeouts and dump flag of a start, and a trace line ("level where: message").
TEST_F(LifecycleTest, AStartReadsItsSettingsFiles) {
    const std::string missing = m_files->MissingFile(), noLoad = "2 CBaseServices::Init(): Unable to load ";
    const std::string failed = "Failed to load settings from local property file";
    const std::string timeouts = "connectTimeout = 1500\ntransferTimeout = 12x\ndnsCacheTimeout = abc\n[other]\n"
                                 "connectTimeout = 7\n",
                      dumpYes = "dumpEnabled = yes\n" + timeouts, dumpZero = "dumpEnabled = 0\n" + timeouts;
    const struct { const char* lines; bool groupMissing, threaded; uint32_t status; std::vector<uint32_t> settings;
                   std::vector<std::string> traces; } cases[] = {
        {"", true, true, 0xC7590005u, {}, {noLoad + "group settings file: " + missing}},
        // Without a property file only a warning with platform services; a failure without.
        {nullptr, false, true, 0, {0, 0, 60000, 0}, {noLoad + "local property file: " + missing,
         "2 CBaseServices::Init(): " + failed, "2 CSensorServices::Init(): " + failed}},
        {nullptr, false, false, 0xC7590004u, {}, {}},
        {"connectTimeout = 5\ntransferTimeout = 6\n", false, false, 0xC7590004u, {}, {}},
        {dumpYes.c_str(), false, true, 0, {1500, 12, 0, 0}, {}},
        {dumpZero.c_str(), false, false, 0, {1500, 12, 0, 0}, {}},
        {"dumpEnabled =\n", false, true, 0, {0, 0, 60000, 0}, {}},
        {"dumpEnabled = 12\n", false, true, 0, {0, 0, 60000, 1}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        TraceRecorder trace;
        m_files->SetProperties(std::string("[sensor_services]\n") + (c.lines ? c.lines : ""));
        EXPECT_EQ(c.status, SS_Init("3.0", (c.lines ? m_files->PropertyFile() : missing).c_str(),
                                    (c.groupMissing ? missing : m_files->GroupSettingsFile()).c_str(), kAgentId, 0,
                                    c.threaded ? ZEL_PosixPlatformServices() : nullptr, trace.Sink()));
        const std::vector<std::string> lines = Texts(trace);
        for (const std::string& line : c.traces) EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), line));
        EXPECT_EQ(c.status == 0, std::find(lines.begin(), lines.end(), "8 SS_Init(): Sensor services initialized.") !=
                                     lines.end());
        if (c.status != 0) ExpectNotInitialized();
        else EXPECT_EQ(c.settings, Settings());
        TearDown();  // before the recorder goes
    }
}

TEST_F(LifecycleTest, ReloadsAndIdentifiersPassThroughToTheModule) {
    // Reloaded properties reach the core through the settings-changed handler.
    ASSERT_EQ(0u, Init());
    const std::string second = m_files->MissingFile();
    WriteFile(second, "[sensor_services]\nconnectTimeout = 250\ntransferTimeout = 750\ndnsCacheTimeout = 5\n"
                      "dumpEnabled = 1\n");
    EXPECT_EQ(0u, SS_LoadLocalProperties(second.c_str()));
    EXPECT_TRUE(Eventually([&] { return Settings() == std::vector<uint32_t>{250, 750, 5, 1}; }));
    // A failing load is the module's status, unchanged.
    EXPECT_EQ(0xC7590005u, SS_LoadLocalProperties((second + ".gone").c_str()));
    EXPECT_EQ(0xC7590005u, SS_LoadGroupSettings((second + ".gone").c_str()));
    // Identifiers and controllers pass through to the module.
    const std::string newId = "11111111-2222-3333-4444-555555555555";
    EXPECT_EQ(0u, SS_SetAgentId(newId.c_str()));
    EXPECT_EQ(0u, SS_SetLastGoodAgentId(newId.c_str()));
    EXPECT_EQ(0u, SS_SetGroupnameHint("hint"));
    const std::string text = ReadFile(second);  // the property file loaded last
    for (const std::string key : {"agentId = ", "lastGoodAgentId = "})
        EXPECT_NE(std::string::npos, text.find(key + newId)) << text;
    EXPECT_NE(0u, SS_SetAgentId(""));

    // (The controller list's copies: the plain C agent and the group settings tests.)
    // All outputs null: the module is still asked and its status returned.
    EXPECT_EQ(0u, SS_GetControllerInfo(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    // A position past the end: the module's failure, nothing written.
    char* untouched = reinterpret_cast<char*>(1);
    EXPECT_NE(0u, SS_GetControllerInfo(1, &untouched, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(reinterpret_cast<char*>(1), untouched);
    EXPECT_NE(0u, SS_DeleteController(1));
}

}  // namespace
}  // namespace zel::ss::test
