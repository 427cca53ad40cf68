// The library's life: argument checks, start and stop, the not-initialised answers, the
// settings the core reads, the pass-through exports and the controller copies.
#include <gtest/gtest.h>

#include <cstdio>

#include "library_test.h"

namespace zel::ss::test {
namespace {

constexpr uint32_t kNotInitialized = 0xC7560003;
constexpr const char* kSsInit = "SS_Init()";

// Every export and internal operation runs in one common frame, which answers "not initialised"
// while the library is down; one export of each kind of argument stands for the rest (a text, an
// output copy, bytes, an internal operation).
void ExpectNotInitialized() {
    char* text = nullptr;
    uint32_t timeouts[3];
    const uint32_t statuses[] = {
        SS_LoadLocalProperties("/nonexistent/agent.properties"), QueueHeartbeatBytes("x", 1), GetPostTimeouts(timeouts),
        SS_GetControllerInfo(0, &text, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)};
    for (const uint32_t& status : statuses) EXPECT_EQ(kNotInitialized, status) << "export " << &status - statuses;
    EXPECT_EQ(nullptr, SS_Allocate(16));
}

// Nothing listens on port 1: no test here posts.
class LifecycleTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        m_files = std::make_unique<SettingsFiles>(std::vector<int>{1});
    }
    uint32_t Init() {
        return SS_Init("3.0", m_files->PropertyFile().c_str(), m_files->GroupSettingsFile().c_str(), kAgentId, 0,
                       ZEL_PosixPlatformServices(), m_trace.Sink());
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

// (The decoding of UTF-8 itself is the runtime's, tested there; one malformed identifier stands for its cases.)
TEST_F(LifecycleTest, InvalidArgumentsAreRefusedWithTheirTrace) {
    const std::string id35(35, 'a'), notUtf8 = id35 + "\x80";
    // Version, property file, group file, agent identifier.
    const std::vector<std::vector<const char*>> cases = {
        {"3.1", "/p", "/g", kAgentId},   {nullptr, "/p", "/g", kAgentId},      {"3.0", "/p", "/g", id35.c_str()},
        {"3.0", "/p", "/g", nullptr},    {"3.0", nullptr, "/g", kAgentId},     {"3.0", "/p", nullptr, kAgentId},
        {"3.0", "/p", "/g", notUtf8.c_str()}};
    const SS_PlatformServices* platform = ZEL_PosixPlatformServices();
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases.data());
        EXPECT_EQ(0xC7210003u, SS_Init(c[0], c[1], c[2], c[3], 0, platform, m_trace.Sink()));
        ExpectNotInitialized();
    }
    // The trace names the texts, a null one "(null)", and the two pointers.
    TraceRecorder trace;
    EXPECT_EQ(0xC7210003u, SS_Init(nullptr, "/p", "/g", kAgentId, 0, platform, trace.Sink()));
    char pointers[64];
    std::snprintf(pointers, sizeof pointers, "0x%08lx, 0x%08lx)", reinterpret_cast<unsigned long>(platform),
                  reinterpret_cast<unsigned long>(trace.Sink()));
    const std::string refusal = "...Error validating arguments in call to SS_Init((null), /p, /g, ";
    EXPECT_EQ(1, trace.Count(SS_TRACE_ERROR, refusal + pointers, kSsInit));
    // Neither platform services nor a trace sink: refused the same way.
    EXPECT_EQ(0xC7210003u, SS_Init("3.0", "/p", "/g", "short", 0, nullptr, nullptr));
}

TEST_F(LifecycleTest, InitStartsOnceAndShutDownStopsEveryExport) {
    // A shut-down without a start returns 0. (Not initialised before any start: the argument checks.)
    EXPECT_EQ(0u, SS_ShutDown());
    ASSERT_EQ(0u, Init());
    const std::size_t linesAfterInit = m_trace.Lines(kSsInit).size();
    // A second start changes nothing and traces only its first line.
    EXPECT_EQ(0x47560004u, Init());
    EXPECT_EQ(linesAfterInit + 1, m_trace.Lines(kSsInit).size());
    EXPECT_EQ(2, m_trace.Count(8, "Initializing Sensor Services...", kSsInit));
    void* block = SS_Allocate(64);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(0, static_cast<unsigned char*>(block)[63]);
    EXPECT_EQ(0u, SS_ShutDown());
    ExpectNotInitialized();
    SS_Free(block);  // blocks stay the agent's across the shut-down
    // (Starts after a shut-down: the stress test.)
}

// SS_Init does not wait for an instance shut down earlier whose post is still in flight: the
// new instance takes the session-config module over, and the earlier one, once its post has
// ended, goes without stopping the module under the new one.
TEST_F(LifecycleTest, InitRightAfterShutDownDoesNotWaitForAPostInFlight) {
    std::atomic<bool> released{false};
    RecordingServer server([&](const httplib::Request& request, httplib::Response& response) {
        if (request.body == "held") Eventually([&] { return released.load(); });
        response.set_content("not a reply", "text/plain");
    });
    m_files = std::make_unique<SettingsFiles>(std::vector<int>{server.Port()});
    const auto post = [](const std::string& body) {
        EXPECT_EQ(0u, QueueHeartbeatBytes(body.data(), static_cast<uint32_t>(body.size())));
        EXPECT_EQ(0u, RequestDispatch());
    };
    ASSERT_EQ(0u, Init());
    post("held");
    ASSERT_TRUE(server.WaitForPosts(1));
    EXPECT_EQ(0u, SS_ShutDown());
    ASSERT_EQ(0u, Init());
    // The earlier instance lives on with its held post.
    EXPECT_EQ(2u, LibraryInstanceCount());
    post("second");
    ASSERT_TRUE(server.WaitForPosts(2));
    released = true;
    ASSERT_TRUE(Eventually([] { return LibraryInstanceCount() == 1; }));
    post("third");
    ASSERT_TRUE(server.WaitForPosts(3));
    EXPECT_EQ("third", server.Posts()[2].body);
}

// What a start reads from its files: the timeouts are leading decimal digits, the dump is on
// for a non-zero number; in synchronous mode the lookup of the last timeout decides. Rows:
// property lines (null: no property file), group file missing, with platform services, the
// status, the timeouts and dump flag of a start, and the warning it traces.
TEST_F(LifecycleTest, AStartReadsItsSettingsFiles) {
    const std::string missing = m_files->MissingFile(), noLoad = "Unable to load ";
    const std::string timeouts = "dumpEnabled = 0\nconnectTimeout = 1500\ntransferTimeout = 12x\n"
                                 "dnsCacheTimeout = abc\n[other]\nconnectTimeout = 7\n";
    const struct { const char* lines; bool groupMissing, threaded; uint32_t status; std::vector<uint32_t> settings;
                   std::string warning; } cases[] = {
        {"", true, true, 0xC7590005u, {}, noLoad + "group settings file: " + missing},
        // Without a property file only a warning with platform services; without them the
        // lookup of the last timeout fails as for a file that lacks it.
        {nullptr, false, true, 0, {0, 0, 60000, 0}, noLoad + "local property file: " + missing},
        {"connectTimeout = 5\ntransferTimeout = 6\n", false, false, 0xC7590004u, {}, ""},
        {timeouts.c_str(), false, false, 0, {1500, 12, 0, 0}, ""},
        {"dumpEnabled = 12\n", false, true, 0, {0, 0, 60000, 1}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        m_files->SetProperties(std::string("[sensor_services]\n") + (c.lines ? c.lines : ""));
        EXPECT_EQ(c.status, SS_Init("3.0", (c.lines ? m_files->PropertyFile() : missing).c_str(),
                                    (c.groupMissing ? missing : m_files->GroupSettingsFile()).c_str(), kAgentId, 0,
                                    c.threaded ? ZEL_PosixPlatformServices() : nullptr, m_trace.Sink()));
        if (!c.warning.empty()) { EXPECT_EQ(1, m_trace.Count(SS_TRACE_WARNING, c.warning, "CBaseServices::Init()")); }
        if (c.status != 0) ExpectNotInitialized();
        else EXPECT_EQ(c.settings, Settings());
        TearDown();
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
    // The identifiers pass through to the module, which saves them in the property file loaded last.
    const std::string newId = "11111111-2222-3333-4444-555555555555";
    EXPECT_EQ(0u, SS_SetAgentId(newId.c_str()));
    EXPECT_NE(std::string::npos, ReadFile(second).find("agentId = " + newId)) << ReadFile(second);
    EXPECT_EQ(0u, SS_SetLastGoodAgentId(newId.c_str()));
    EXPECT_NE(std::string::npos, ReadFile(second).find("lastGoodAgentId = " + newId)) << ReadFile(second);
    // The group settings pass through the same way, saved wherever the agent asks.
    EXPECT_EQ(0u, SS_SaveGroupSettings((second + ".xml").c_str()));
    EXPECT_NE(std::string::npos, ReadFile(second + ".xml").find("Default Group")) << ReadFile(second + ".xml");
    // (The controller list's copies: the plain C agent and the group settings tests.)
    // A position past the end, the other outputs null: the module's failure, nothing written.
    char* untouched = reinterpret_cast<char*>(1);
    EXPECT_NE(0u, SS_GetControllerInfo(1, &untouched, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(reinterpret_cast<char*>(1), untouched);
}

}  // namespace
}  // namespace zel::ss::test
