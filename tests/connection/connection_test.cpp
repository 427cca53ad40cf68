// The binding to the session-config module (loading, entry resolution, start and stop, the
// forwarding of the operations) and the retry state over the real module: settings and
// controllers come from a property file and the module's controller list, the clock is the test's.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
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
    static uint32_t Record(void* context, uint32_t level, const char* message, const char* where) {
        auto* self = static_cast<TraceRecorder*>(context);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->lines.push_back(std::string(where ? where : "") + " " + std::to_string(level) + " " +
                              (message ? message : ""));
        return 0;
    }
    const SS_TraceSink* TraceSink() const override { return &sink; }
    // The lines recorded so far whose operation name starts with prefix.
    std::vector<std::string> Lines(const std::string& prefix = "") {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> found;
        for (const std::string& line : lines)
            if (line.rfind(prefix, 0) == 0) found.push_back(line);
        return found;
    }

    SS_TraceSink sink{this, SS_TRACE_ERROR | SS_TRACE_WARNING | SS_TRACE_INFO, &Record};
    std::mutex mutex;
    std::vector<std::string> lines;
};

uint32_t InitReal(CSessionConfigLoader& loader, const SS_TraceSink* trace, bool startServer = false) {
    return loader.Init(ZEL_SCS_MODULE_DIR, kSessionConfigLibraryName, kAgentId, 0, nullptr, trace, true, startServer);
}

// Nothing loaded: the forwarding operations give "not initialised"; started with no settings
// loaded: the module's own status. Two operations stand for all, since every one forwards alike
// (the retry state tests and the library's tests use the others on the started module).
void ExpectForwarding(const CSessionConfigLoader& loader, const char* when, bool started = false) {
    uint32_t count = 0;
    char* reply = nullptr;
    EXPECT_EQ(std::make_pair(started, started), std::make_pair(loader.IsInitialized(), loader.IsLoaded())) << when;
    EXPECT_EQ(started ? 0 : kNotInitialized, loader.GetControllerCount(&count)) << when;
    EXPECT_EQ(started ? ZEL_E_SCS_UNKNOWN_DESTINATION : kNotInitialized,
              loader.PostData(0, 1, "/", 0, "a/b", "x", 1, nullptr, &reply, &count)) << when;
    EXPECT_EQ(nullptr, reply) << when;
}

// A missing module gives the platform error, traced at the error level; a module without every
// entry point is refused and unloaded. (The trace levels are honoured as in the retry state's
// tracing.)
TEST(SessionConfigLoaderTest, MissingModuleEntryPointOrFailedStartLeavesNothingLoadedAndTheRealModuleForwards) {
    TraceRecorder trace;
    CSessionConfigLoader loader;
    EXPECT_EQ(static_cast<uint32_t>(ENOENT),
              loader.Init(nullptr, "zelNoSuchModule", kAgentId, 0, nullptr, trace.TraceSink(), true, false));
    EXPECT_EQ(ZEL_E_INVALIDARG, loader.Init(nullptr, nullptr, kAgentId, 0, nullptr, nullptr, true, false));
    EXPECT_EQ(ZEL_E_INVALIDARG, loader.Load(nullptr));
    EXPECT_EQ(ZEL_E_INVALIDARG, loader.Init(ZEL_PARTIAL_MODULE_DIR, "zelConnPartialModule", kAgentId, 0, nullptr,
                                            trace.TraceSink(), true, false));
    // The module was unloaded.
    EXPECT_EQ(nullptr, dlopen(ZEL_PARTIAL_MODULE_DIR "/libzelConnPartialModule.so", RTLD_NOW | RTLD_NOLOAD));
    ExpectForwarding(loader, " after a missing entry point");
    // A failed start of the real module unloads it and stops its client side.
    // Keeps the real module mapped, so that its state survives the loader's unloading.
    const std::unique_ptr<void, int (*)(void*)> pin(
        dlopen(ZEL_SCS_MODULE_DIR "/libzelSessionConfigSvcs3.so", RTLD_NOW | RTLD_LOCAL), dlclose);
    ASSERT_NE(nullptr, pin);
    // The module refuses a start without an agent identifier.
    EXPECT_EQ(ZEL_E_SCS_BAD_INPUT,
              loader.Init(ZEL_SCS_MODULE_DIR, kSessionConfigLibraryName, nullptr, 0, nullptr, nullptr, true, false));
    ExpectForwarding(loader, " after a refused start");
    // The module has no server side, so the start fails after the client side started.
    EXPECT_EQ(ZEL_E_NOTIMPL, InitReal(loader, nullptr, true));
    ExpectForwarding(loader, " after a failed server start");
    // Were the client side still running, the module would answer "already initialised".
    ASSERT_EQ(0u, InitReal(loader, trace.TraceSink()));
    // A second Init does nothing, so the module is not started twice.
    EXPECT_EQ(0u, loader.Init(nullptr, "zelNoSuchModule", kAgentId, 0, nullptr, trace.TraceSink(), true, false));
    // The one line Init traced: the missing module's.
    EXPECT_EQ(std::vector<std::string>{std::string(kInitWhere) + " " + std::to_string(SS_TRACE_ERROR) +
                                       " Error loading library 'zelNoSuchModule'.  Error:  " + StatusText(ENOENT)},
              trace.Lines(kInitWhere));
    ExpectForwarding(loader, " started", true);
    // (That Shutdown stops the module, so that it starts again: every retry state test.)
    loader.Shutdown();
    ExpectForwarding(loader, " after Shutdown");
}

constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr uint32_t kFail = 0xC7590009;  // a communication failure of the module
constexpr uint32_t kRetry = 0xC7210038;
constexpr uint32_t kNoController = 0xC7210009;
using P = std::pair<uint32_t, int32_t>;

// The real module started through a CSessionConfigLoader for one test, and a retry state on it.
class RetryStateTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0u, InitReal(m_loader, m_trace.TraceSink())); }
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
    // The delay and the controller NextState(*next) gives, or without next GetState.
    P State(std::optional<uint32_t> next = std::nullopt) {
        P out{12345, 12345};
        if (next) m_state.NextState(*next, out.first, out.second);
        else m_state.GetState(out.first, out.second);
        return out;
    }

    TraceRecorder m_trace;
    zel::test::TempDir m_dir;
    CSessionConfigLoader m_loader;
    int64_t m_now = 1000000;
    svcRetryState m_state{[this] { return m_now; }};
    std::vector<int32_t> m_ids;
};

// One step: the clock (0: unchanged), an immediate send requested first, the operation (NextState
// with the status; SetState with the delay and controller; Reset), and the delay and controller
// position expected after it (-1: none; for SetState, -1 asks for a controller not in the list).
enum Op { kNext, kSet, kReset };
struct Step { int64_t at; uint32_t status; uint32_t delay; int position; bool immediate = false; Op op = kNext; };
struct SequenceCase { const char* name; const char* sensorLines; int controllers; std::vector<Step> steps; };

const SequenceCase kSequences[] = {
    // (The default of five attempts is the constructor's.)
    {"TwoControllersMoveAfterTheConfiguredFailuresAndWrap", "maxServerRetry = 2\n", 2,
     {{0, kFail, 60000, 0}, {0, kFail, 0, 1}, {0, kFail, 60000, 1}, {0, kFail, 0, 0}, {0, kFail, 60000, 0}}},
    {"OneControllerNeverMovesAndStopsAtTheCeiling", "maxServerRetry = 1\nretryCeiling = 200000\n", 1,
     {{0, kFail, 60000, 0}, {0, kFail, 120000, 0}, {0, kFail, 200000, 0}, {0, kFail, 200000, 0}}},
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
    {"ImmediateRequestTurnsWaitingIntoNoDelayOnce", "", 1,
     {{0, 0, 0, 0, true}, {0, 0, kNone, 0}, {0, kFail, 60000, 0, true}, {0, kNoController, 0, 0, true}}},
    // SetState to a secondary starts the timer for the return (the default 7200 s).
    {"SetStateRestartsTheAttemptsAndStartsTheReturnTimer", "maxServerRetry = 2\n", 3,
     {{5000, 0, 0, 1, false, kSet}, {12200, 0, kNone, 1}, {12201, 0, kNone, 0}, {0, kFail, 60000, 0},
      {0, 0, 0, 0, false, kSet}, {0, kFail, 60000, 0}, {0, kFail, 0, 1}, {0, 0, 7000, -1, false, kSet}}},
    // The attempt on the secondary is forgotten: one failure does not move yet.
    {"ResetReturnsToThePrimaryWithNothingScheduled", "maxServerRetry = 2\n", 3,
     {{0, 0, 0, 1, false, kSet}, {0, kFail, 60000, 1}, {0, 0, kNone, 0, true, kReset}, {0, kFail, 60000, 0}}},
};

class RetrySequenceTest : public RetryStateTest, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(RetrySequenceTest, GivesTheExpectedDelaysAndControllers) {
    const SequenceCase& c = GetParam();
    Start(c.sensorLines, c.controllers);
    for (size_t i = 0; i < c.steps.size(); ++i) {
        const Step& step = c.steps[i];
        if (step.at) m_now = step.at;
        if (step.immediate) m_state.SetImmediate(true);
        const P expected(step.delay, step.position < 0 ? -1 : m_ids.at(step.position));
        if (step.op == kNext) { EXPECT_EQ(expected, State(step.status)) << "step " << i; }
        if (step.op == kSet) m_state.SetState(step.delay, step.position < 0 ? 999999 : expected.second);
        if (step.op == kReset) m_state.Reset();
        EXPECT_EQ(std::make_pair(expected, false), std::make_pair(State(), m_state.GetImmediate())) << "step " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sequences, RetrySequenceTest, ::testing::ValuesIn(kSequences),
                         [](const auto& info) { return std::string(info.param.name); });

// A state needs a binding. A Reload follows the module's list (an empty one traced) and the
// settings of the state's own section (keys absent from the new file keep their values), keeps the
// position, or fails (traced) and keeps the list; NextState traces a scheduled retry, at the info
// level only.
TEST_F(RetryStateTest, ReloadFollowsTheListKeepsThePositionAndIsTraced) {
    svcRetryState unbound;
    EXPECT_EQ(ZEL_E_INVALIDARG, unbound.Init(kServiceTypeSensor, nullptr, nullptr));
    Start("retryInterval = 1000\n", 0);
    EXPECT_EQ(P(1000, -1), State(kFail));
    // Controllers added later are found by the next Reload; NextState then starts at the primary.
    LoadProperties("[sensor_services]\nretryCeiling = 4000\n[event_services]\nretryInterval = 7\n"
                   "[update_services]\nretryInterval = 8\n");
    m_ids = {AddController(9100), AddController(9101), AddController(9102)};
    // Each service type reads its own section; an unknown type has none and keeps the defaults.
    for (const P& row : {P(kServiceTypeEvent, 7), P(kServiceTypeUpdate, 8), P(99, 60000)}) {
        svcRetryState other;
        ASSERT_EQ(0u, other.Init(row.first, &m_trace, &m_loader));
        EXPECT_EQ((std::vector<int64_t>{row.first, row.second, 1800000, 7200, 3, 0}),
                  (std::vector<int64_t>{other.GetServiceType(), other.GetRetryInterval(), other.GetRetryCeiling(),
                                        other.GetRetryPrimaryServer(), other.GetServerCount(), other.GetIndex()}));
    }
    ASSERT_EQ(0u, m_state.Reload());
    EXPECT_EQ(P(1000, 4000), P(m_state.GetRetryInterval(), m_state.GetRetryCeiling()));
    EXPECT_EQ(P(0, m_ids[0]), State(kRetry));
    m_state.SetState(5000, m_ids[2]);
    ASSERT_EQ(0u, m_loader.DeleteController(0));
    const int32_t added = AddController(9200);
    ASSERT_EQ(0u, m_state.Reload());
    EXPECT_EQ(P(5000, added), State());
    // A position beyond a shortened list has no controller; NextState starts again from the primary.
    ASSERT_EQ(0u, m_loader.DeleteController(2));
    ASSERT_EQ(0u, m_state.Reload());
    EXPECT_EQ(P(5000, -1), State());
    EXPECT_EQ(P(kNone, m_ids[1]), State(0));  // nothing scheduled: no line
    m_loader.Shutdown();
    EXPECT_EQ(kNotInitialized, m_state.Reload());
    EXPECT_EQ((std::vector<int32_t>{m_ids[1], m_ids[2]}), m_state.GetServers());
    const std::string reload = "svcRetryState::Reload() " + std::to_string(SS_TRACE_INFO) + " ";
    const std::string next = "svcRetryState::NextState() " + std::to_string(SS_TRACE_INFO) + " Next retry in ";
    EXPECT_EQ((std::vector<std::string>{reload + "No available servers for service type 1", next + "1 seconds to "
                                        "server -1", next + "0 seconds to server " + std::to_string(m_ids[0]),
                                        reload + "Unable to get server list for service type 1"}),
              m_trace.Lines("svcRetryState::"));
    m_trace.lines.clear();
    m_trace.sink.levelMask = SS_TRACE_ERROR | SS_TRACE_WARNING;
    State(kFail);
    EXPECT_TRUE(m_trace.Lines().empty()) << "the info level is off";
}

}  // namespace
}  // namespace zel::conn::test
