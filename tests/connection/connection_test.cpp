// The binding to the session-config module (loading, entry resolution, start and stop, the
// forwarding of each operation) and the retry state over the real module: settings and
// controllers come from a property file and the module's controller list, the clock is the test's.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "connection/agent_trace.h"
#include "connection/retry_state.h"
#include "connection/session_config_loader.h"
#include "runtime/zel_error.h"
#include "support/temp_dir.h"
#include "zel/status_codes.h"

namespace zel::conn::test {
namespace {

constexpr const char* kAgentId = "0f8fad5b-d9cb-469f-a165-70867728950e";
constexpr uint32_t kNotInitialized = 0xC7210035;
constexpr const char* kInitWhere = "CSessionConfigLoader::Init()";

// Records every line it receives (from any thread) as "where level message"; the trace owner
// of the objects under test.
struct TraceRecorder : ITraceSinkOwner {
    explicit TraceRecorder(uint32_t mask = SS_TRACE_ERROR | SS_TRACE_WARNING | SS_TRACE_INFO)
        : sink{this, mask, [](void* context, uint32_t level, const char* message, const char* where) -> uint32_t {
              auto* self = static_cast<TraceRecorder*>(context);
              std::lock_guard<std::mutex> lock(self->mutex);
              self->lines.push_back(std::string(where ? where : "") + " " + std::to_string(level) + " " +
                                    (message ? message : ""));
              return 0;
          }} {}
    const SS_TraceSink* TraceSink() const override { return &sink; }
    // The lines recorded so far whose operation name starts with prefix.
    std::vector<std::string> Lines(const std::string& prefix = "") {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> found;
        for (const std::string& line : lines)
            if (line.rfind(prefix, 0) == 0) found.push_back(line);
        return found;
    }

    SS_TraceSink sink;
    std::mutex mutex;
    std::vector<std::string> lines;
};

uint32_t InitReal(CSessionConfigLoader& loader, const char* agentId = kAgentId, const SS_TraceSink* trace = nullptr,
                  bool startServer = false) {
    return loader.Init(ZEL_SCS_MODULE_DIR, kSessionConfigLibraryName, agentId, 0, nullptr, trace, true, startServer);
}

// Every forwarding operation with harmless arguments, in an order that works on a started
// module with no settings loaded, and what it gives there.
char* g_text = nullptr;
int32_t* g_servers = nullptr;
uint32_t g_count = 0;
using L = const CSessionConfigLoader&;
struct Forwarding { const char* name; std::function<uint32_t(L)> call; uint32_t started; };
#define FORWARD(call, started) Forwarding{#call, [](L l) { return l.call; }, started}
const Forwarding kForwardings[] = {
    FORWARD(Free(nullptr), 0), FORWARD(RegisterSettingsChanged(nullptr), ZEL_E_SCS_BAD_INPUT),
    FORWARD(UnregisterSettingsChanged(nullptr), ZEL_E_SCS_BAD_INPUT),
    FORWARD(LoadLocalProperties("x"), ZEL_E_SCS_FILE_NOT_LOADED),
    FORWARD(LoadGroupSettings("x"), ZEL_E_SCS_FILE_NOT_LOADED),
    FORWARD(RetrieveLocalProperty("s", "k", nullptr), ZEL_E_SCS_BAD_INPUT),
    FORWARD(GetDestinations(0, &g_servers, &g_count), 0),
    FORWARD(GetGroupSettingsInfo(0, 0, &g_text, nullptr), ZEL_E_SCS_BAD_INPUT),
    FORWARD(PostData(0, 1, "/", 0, "a/b", "x", 1, nullptr, &g_text, &g_count), ZEL_E_SCS_UNKNOWN_DESTINATION),
    FORWARD(SetAgentId(kAgentId), ZEL_E_SCS_FILE_NOT_LOADED),
    FORWARD(SetLastGoodAgentId(kAgentId), ZEL_E_SCS_FILE_NOT_LOADED),
    FORWARD(SaveGroupSettings(nullptr), ZEL_E_SCS_FILE_NOT_LOADED), FORWARD(GetControllerCount(&g_count), 0),
    FORWARD(GetControllerInfo(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            ZEL_E_SCS_BAD_INPUT),
    FORWARD(AddController("n", "h", "1", "http", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0),
    FORWARD(DeleteController(0), 0), FORWARD(SetGroupnameHint("g"), 0),
};

// A binding with nothing loaded: every forwarding operation gives "not initialised"; a
// started one: each gives its status there.
void ExpectForwarding(const CSessionConfigLoader& loader, const char* when, bool started = false) {
    EXPECT_EQ(std::make_pair(started, started), std::make_pair(loader.IsInitialized(), loader.IsLoaded())) << when;
    for (const Forwarding& forwarding : kForwardings)
        EXPECT_EQ(started ? forwarding.started : kNotInitialized, forwarding.call(loader)) << forwarding.name << when;
    EXPECT_TRUE(!g_text && !g_servers) << when;
}

// A missing module gives the platform error, traced at the error level only (mask 0: no trace sink at all).
TEST(SessionConfigLoaderTest, MissingModuleGivesThePlatformErrorAndTracesIt) {
    for (const uint32_t mask : {SS_TRACE_ERROR, SS_TRACE_WARNING | SS_TRACE_INFO, 0u}) {
        TraceRecorder trace(mask);
        CSessionConfigLoader loader;
        ExpectForwarding(loader, " before Init");
        EXPECT_EQ(static_cast<uint32_t>(ENOENT), loader.Init(nullptr, "zelNoSuchModule", kAgentId, 0, nullptr,
                                                             mask ? trace.TraceSink() : nullptr, true, false));
        EXPECT_EQ(static_cast<uint32_t>(ENOENT), loader.LastError());
        ExpectForwarding(loader, " after a failed load");
        const std::vector<std::string> lines = trace.Lines();
        EXPECT_EQ(mask == SS_TRACE_ERROR ? 1u : 0u, lines.size()) << mask;
        for (const std::string& line : lines)
            EXPECT_EQ(std::string(kInitWhere) + " " + std::to_string(SS_TRACE_ERROR) +
                          " Error loading library 'zelNoSuchModule'.  Error:  " + StatusText(ENOENT), line);
    }
    CSessionConfigLoader loader;
    EXPECT_EQ(ZEL_E_INVALIDARG, loader.Init(nullptr, nullptr, kAgentId, 0, nullptr, nullptr, true, false));
    EXPECT_EQ(ZEL_E_INVALIDARG, loader.Load(nullptr));
}

TEST(SessionConfigLoaderTest, MissingEntryPointOrFailedStartLeavesNothingLoadedAndTheRealModuleForwards) {
    TraceRecorder trace;
    CSessionConfigLoader loader;
    EXPECT_EQ(ZEL_E_INVALIDARG, loader.Init(ZEL_PARTIAL_MODULE_DIR, "zelConnPartialModule", kAgentId, 0, nullptr,
                                            trace.TraceSink(), true, false));
    EXPECT_EQ(nullptr, dlopen(ZEL_PARTIAL_MODULE_DIR "/libzelConnPartialModule.so", RTLD_NOW | RTLD_NOLOAD))
        << "the module was unloaded";
    ExpectForwarding(loader, " after a missing entry point");
    EXPECT_TRUE(trace.Lines(kInitWhere).empty());
    // A failed start of the real module unloads it and stops its client side.
    // Keeps the real module mapped, so that its state survives the loader's unloading.
    const std::unique_ptr<void, int (*)(void*)> pin(
        dlopen(ZEL_SCS_MODULE_DIR "/libzelSessionConfigSvcs3.so", RTLD_NOW | RTLD_LOCAL), dlclose);
    ASSERT_NE(nullptr, pin);
    // The module refuses a start without an agent identifier.
    EXPECT_EQ(ZEL_E_SCS_BAD_INPUT, InitReal(loader, nullptr));
    ExpectForwarding(loader, " after a failed SCS_Init");
    // The module has no server side, so the start fails after the client side started.
    EXPECT_EQ(ZEL_E_NOTIMPL, InitReal(loader, kAgentId, nullptr, true));
    ExpectForwarding(loader, " after a failed server start");
    // Were the client side still running, the module would answer "already initialised".
    ASSERT_EQ(0u, InitReal(loader, kAgentId, trace.TraceSink()));
    // A second Init does nothing, so the module is not started twice.
    EXPECT_EQ(0u, loader.Init(nullptr, "zelNoSuchModule", kAgentId, 0, nullptr, trace.TraceSink(), true, false));
    EXPECT_TRUE(trace.Lines(kInitWhere).empty());
    ExpectForwarding(loader, " started", true);
    loader.Shutdown();
    ExpectForwarding(loader, " after Shutdown");
    // Shutdown stopped the module: starting it again succeeds rather than finding it running.
    ASSERT_EQ(0u, InitReal(loader));
    loader.Shutdown();
}

constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr uint32_t kFail = 0xC7590009;  // a communication failure of the module
constexpr uint32_t kRetry = 0xC7210038;
constexpr uint32_t kNoController = 0xC7210009;
using P = std::pair<uint32_t, int32_t>;

// The real module started through a CSessionConfigLoader for one test, and a retry state on it.
class RetryStateTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0u, InitReal(m_loader, kAgentId, m_trace.TraceSink())); }
    void TearDown() override { m_loader.Shutdown(); }

    // Writes text as the local property file and loads it.
    void LoadProperties(const std::string& text) {
        std::ofstream(m_dir.File("agent.properties"), std::ios::trunc) << text;
        ASSERT_EQ(0u, m_loader.LoadLocalProperties(m_dir.File("agent.properties").c_str()));
    }
    // Appends a controller on 127.0.0.1 at port and returns its server identifier.
    int32_t AddController(int port) {
        EXPECT_EQ(0u, m_loader.AddController("controller", "127.0.0.1", std::to_string(port).c_str(), "http", nullptr,
                                             nullptr, nullptr, nullptr, nullptr, nullptr));
        int32_t* servers = nullptr;
        uint32_t count = 0;
        EXPECT_EQ(0u, m_loader.GetDestinations(0, &servers, &count));
        const int32_t id = count ? servers[count - 1] : -1;
        m_loader.Free(servers);
        return id;
    }
    // Loads sensorLines as the sensor_services section, adds controllers controllers and
    // initialises the state for the sensor service type.
    void Start(const std::string& sensorLines, int controllers) {
        LoadProperties("[sensor_services]\n" + sensorLines);
        for (int i = 0; i < controllers; ++i) m_ids.push_back(AddController(9100 + i));
        ASSERT_EQ(0u, m_state.Init(kServiceTypeSensor, &m_trace, &m_loader));
    }
    // NextState(status), and GetState: the delay and the controller.
    P Next(uint32_t status) {
        P out{12345, 12345};
        m_state.NextState(status, out.first, out.second);
        return out;
    }
    P State() const {
        P out{12345, 12345};
        m_state.GetState(out.first, out.second);
        return out;
    }

    TraceRecorder m_trace;
    zel::test::TempDir m_dir;
    CSessionConfigLoader m_loader;
    int64_t m_now = 1000000;
    svcRetryState m_state{[this] { return m_now; }};
    std::vector<int32_t> m_ids;
};

// One NextState call: the clock (0: unchanged), the status fed in, the delay and controller
// position expected out (-1: none), and whether an immediate send was requested before.
struct Step { int64_t at; uint32_t status; uint32_t delay; int position; bool immediate = false; };
struct SequenceCase { const char* name; const char* sensorLines; int controllers; std::vector<Step> steps; };

const SequenceCase kSequences[] = {
    {"TwoControllersMoveAfterFiveFailuresAndWrap", "", 2,
     {{0, kFail, 60000, 0}, {0, kFail, 120000, 0}, {0, kFail, 240000, 0}, {0, kFail, 480000, 0},
      {0, kFail, 0, 1}, {0, kFail, 60000, 1}, {0, kFail, 120000, 1}, {0, kFail, 240000, 1},
      {0, kFail, 480000, 1}, {0, kFail, 0, 0}, {0, kFail, 60000, 0}}},
    {"OneControllerNeverMovesAndStopsAtTheCeiling", "", 1,
     {{0, kFail, 60000, 0}, {0, kFail, 120000, 0}, {0, kFail, 240000, 0}, {0, kFail, 480000, 0},
      {0, kFail, 960000, 0}, {0, kFail, 1800000, 0}, {0, kFail, 1800000, 0}}},
    {"ZeroRetryIntervalRetriesAtOnce", "retryInterval = 0\n", 1, {{0, kFail, 0, 0}, {0, kFail, 0, 0}}},
    {"SuccessRestartsTheBackOffAndTheAttempts", "maxServerRetry = 2\n", 2,
     {{0, kFail, 60000, 0}, {0, 0, kNone, 0}, {0, kFail, 60000, 0}, {0, kFail, 0, 1}}},
    {"RetryStatusRestartsTheBackOffAndKeepsTheAttempts", "maxServerRetry = 4\n", 2,
     {{0, kFail, 60000, 0}, {0, kFail, 120000, 0}, {0, kRetry, 0, 0}, {0, kFail, 60000, 0}, {0, kFail, 0, 1}}},
    {"NoControllerStatusWaitsAndKeepsTheAttempts", "maxServerRetry = 2\n", 2,
     {{0, kFail, 60000, 0}, {0, kNoController, kNone, 0}, {0, kFail, 0, 1}}},
    // Exactly the limit on a secondary stays there; more goes back, and "none scheduled" stays.
    {"ReturnToThePrimaryOnlyAfterMoreThanTheConfiguredLimit", "maxServerRetry = 1\nretryPrimaryServer = 30\n", 3,
     {{1000, kFail, 0, 1}, {1020, kFail, 0, 2}, {1030, 0, kNone, 2}, {1031, 0, kNone, 0}}},
    {"ReturnToThePrimaryRestartsTheBackOff", "maxServerRetry = 2\n", 2,
     {{1000, kFail, 60000, 0}, {1000, kFail, 0, 1}, {2000, kFail, 60000, 1}, {8201, kRetry, 60000, 0}}},
    {"ImmediateRequestTurnsWaitingIntoNoDelayOnce", "", 1,
     {{0, 0, 0, 0, true}, {0, 0, kNone, 0}, {0, kFail, 60000, 0, true}, {0, kNoController, 0, 0, true}}},
};

class RetrySequenceTest : public RetryStateTest, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(RetrySequenceTest, GivesTheExpectedDelaysAndControllers) {
    const SequenceCase& c = GetParam();
    Start(c.sensorLines, c.controllers);
    ASSERT_EQ(static_cast<size_t>(c.controllers), m_ids.size());
    for (size_t i = 0; i < c.steps.size(); ++i) {
        const Step& step = c.steps[i];
        if (step.at) m_now = step.at;
        if (step.immediate) m_state.SetImmediate(true);
        const P expected(step.delay, step.position < 0 ? -1 : m_ids.at(step.position));
        EXPECT_EQ(expected, Next(step.status)) << "step " << i;
        EXPECT_FALSE(m_state.GetImmediate()) << "step " << i;
        EXPECT_EQ(expected, State()) << "step " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sequences, RetrySequenceTest, ::testing::ValuesIn(kSequences),
                         [](const auto& info) { return std::string(info.param.name); });

// Each service type reads its own section; unknown types have none and keep the initial
// values; a Reload keeps the values of keys absent from the new file.
TEST_F(RetryStateTest, InitAndReloadReadTheSectionOfTheServiceType) {
    LoadProperties(
        "[sensor_services]\nretryInterval = 1500\nretryCeiling = 9000\nmaxServerRetry = 3\n"
        "retryPrimaryServer = 600\n\n[event_services]\nretryInterval = 2500\nretryCeiling = 7000\n"
        "maxServerRetry = 4\nretryPrimaryServer = 60\n\n[update_services]\nretryInterval = 3500\n");
    m_ids = {AddController(9100), AddController(9101)};
    const struct { uint32_t type, interval, ceiling, maxRetry, primary; } rows[] = {
        {kServiceTypeSensor, 1500, 9000, 3, 600}, {kServiceTypeEvent, 2500, 7000, 4, 60},
        {kServiceTypeUpdate, 3500, 1800000, 5, 7200}, {99, 60000, 1800000, 5, 7200},
    };
    for (const auto& row : rows) {
        svcRetryState state;
        ASSERT_EQ(0u, state.Init(row.type, &m_trace, &m_loader));
        EXPECT_EQ((std::vector<uint32_t>{row.type, row.interval, row.ceiling, row.maxRetry, row.primary}),
                  (std::vector<uint32_t>{state.GetServiceType(), state.GetRetryInterval(), state.GetRetryCeiling(),
                                         state.GetMaxServerRetry(), state.GetRetryPrimaryServer()}));
        EXPECT_EQ(m_ids, state.GetServers()) << row.type;
    }
    ASSERT_EQ(0u, m_state.Init(kServiceTypeSensor, &m_trace, &m_loader));
    LoadProperties("[sensor_services]\nretryInterval = 1000\nretryPrimaryServer = 30\n");
    ASSERT_EQ(0u, m_state.Reload());
    EXPECT_EQ(P(1000, 9000), P(m_state.GetRetryInterval(), m_state.GetRetryCeiling()));
    EXPECT_EQ(P(3, 30), P(m_state.GetMaxServerRetry(), m_state.GetRetryPrimaryServer()));
}

TEST_F(RetryStateTest, ReloadReplacesTheListAndKeepsThePosition) {
    Start("", 3);
    m_state.SetState(5000, m_ids[2]);
    ASSERT_EQ(0u, m_loader.DeleteController(0));
    const int32_t added = AddController(9200);
    ASSERT_EQ(0u, m_state.Reload());
    EXPECT_EQ((std::vector<int32_t>{m_ids[1], m_ids[2], added}), m_state.GetServers());
    EXPECT_EQ(P(5000, added), State());
    // A position beyond a shortened list has no controller; NextState starts again from the primary.
    ASSERT_EQ(0u, m_loader.DeleteController(2));
    ASSERT_EQ(0u, m_loader.DeleteController(1));
    ASSERT_EQ(0u, m_state.Reload());
    EXPECT_EQ(P(5000, -1), State());
    EXPECT_EQ(P(kNone, m_ids[1]), Next(0));
}

// A state needs a binding. Reloads trace an empty list and a failure (keeping the list); NextState traces the
// scheduled retry at the info level.
TEST_F(RetryStateTest, NoBindingEmptyListFailedReloadAndScheduledRetriesAreTraced) {
    svcRetryState unbound;
    EXPECT_EQ(ZEL_E_INVALIDARG, unbound.Init(kServiceTypeSensor, nullptr, nullptr));
    EXPECT_EQ(kNotInitialized, unbound.Reload());
    Start("", 0);
    EXPECT_EQ(0u, m_state.GetServerCount());
    EXPECT_EQ(P(60000, -1), Next(kFail));
    EXPECT_EQ(P(kNone, -1), Next(kNoController));
    // Controllers added later are found by the next Reload; NextState then starts at the primary.
    m_ids = {AddController(9300), AddController(9301)};
    ASSERT_EQ(0u, m_state.Reload());
    EXPECT_EQ(P(0, m_ids[0]), Next(kRetry));
    EXPECT_EQ(P(60000, m_ids[0]), Next(kFail));
    Next(0);  // nothing scheduled: no line
    m_loader.Shutdown();
    EXPECT_EQ(kNotInitialized, m_state.Reload());
    EXPECT_EQ(m_ids, m_state.GetServers());
    const std::string reload = "svcRetryState::Reload() " + std::to_string(SS_TRACE_INFO) + " ";
    const std::string next = "svcRetryState::NextState() " + std::to_string(SS_TRACE_INFO) + " Next retry in ";
    const std::string server = std::to_string(m_ids[0]);
    EXPECT_EQ((std::vector<std::string>{reload + "No available servers for service type 1",
                                        next + "60 seconds to server -1", next + "0 seconds to server " + server,
                                        next + "60 seconds to server " + server,
                                        reload + "Unable to get server list for service type 1"}),
              m_trace.Lines("svcRetryState::"));
    m_trace.lines.clear();
    m_trace.sink.levelMask = SS_TRACE_ERROR | SS_TRACE_WARNING;
    Next(kFail);
    EXPECT_TRUE(m_trace.Lines().empty()) << "the info level is off";
}

// SetState finds the controller, restarts the attempts and starts the return timer; Reset
// returns to the primary with nothing scheduled.
TEST_F(RetryStateTest, SetStateAndReset) {
    Start("maxServerRetry = 2\n", 3);
    m_now = 5000;
    m_state.SetState(0, m_ids[1]);
    EXPECT_EQ(P(0, m_ids[1]), State());
    m_now = 5000 + 7200;
    EXPECT_EQ(m_ids[1], Next(0).second);
    m_now = 5000 + 7201;
    EXPECT_EQ(m_ids[0], Next(0).second);
    // One failure, then SetState: two more failures are needed to move on.
    Next(kFail);
    m_state.SetState(0, m_ids[0]);
    EXPECT_EQ(m_ids[0], Next(kFail).second);
    EXPECT_EQ(m_ids[1], Next(kFail).second);
    for (int32_t absent : {-1, 999999}) {
        m_state.SetState(7000, absent);
        EXPECT_EQ(P(7000, -1), State()) << absent;
        EXPECT_EQ(-1, m_state.GetIndex()) << absent;
    }
    // Reset returns to the primary with nothing scheduled.
    m_state.SetState(0, m_ids[1]);
    Next(kFail);
    m_state.SetImmediate(true);
    m_state.Reset();
    EXPECT_FALSE(m_state.GetImmediate());
    EXPECT_EQ(P(kNone, m_ids[0]), State());
    // The attempt on the secondary was forgotten: one failure does not move yet.
    EXPECT_EQ(P(60000, m_ids[0]), Next(kFail));
}

}  // namespace
}  // namespace zel::conn::test
