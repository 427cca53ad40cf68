// The retry state over the real session-config module: settings and controllers come from
// a property file and the module's controller list, the clock is the test's.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "connection/retry_state.h"
#include "connection_fixture.h"
#include "zel/status_codes.h"

namespace zel::conn::test {
namespace {

constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr uint32_t kFail = 0xC7590009;  // a communication failure of the module
constexpr uint32_t kRetry = 0xC7210038;
constexpr uint32_t kNoController = 0xC7210009;
constexpr const char* kReloadWhere = "svcRetryState::Reload()";
constexpr const char* kNextStateWhere = "svcRetryState::NextState()";

class RetryStateTest : public StartedModuleTest {
protected:
    // Loads `sensorLines` as the sensor_services section, adds `controllers` controllers
    // and initialises the state for the sensor service type.
    void Start(const std::string& sensorLines, int controllers) {
        LoadProperties("[sensor_services]\n" + sensorLines);
        for (int i = 0; i < controllers; ++i) m_ids.push_back(AddController(9100 + i));
        ASSERT_EQ(0u, m_state.Init(kServiceTypeSensor, &m_trace, &m_loader));
    }
    // The identifier at list position `position`, or -1 for a negative position.
    int32_t IdAt(int position) const { return position < 0 ? -1 : m_ids.at(static_cast<size_t>(position)); }
    // NextState(status), and GetState: the delay and the controller.
    std::pair<uint32_t, int32_t> Next(uint32_t status) {
        std::pair<uint32_t, int32_t> out{12345, 12345};
        m_state.NextState(status, out.first, out.second);
        return out;
    }
    std::pair<uint32_t, int32_t> State() const {
        std::pair<uint32_t, int32_t> out{12345, 12345};
        m_state.GetState(out.first, out.second);
        return out;
    }
    using P = std::pair<uint32_t, int32_t>;

    int64_t m_now = 1000000;
    svcRetryState m_state{[this] { return m_now; }};
    std::vector<int32_t> m_ids;
};

// One NextState call: the clock, an optional immediate request, the status fed in, and
// the delay and controller position expected out.
struct Step {
    int64_t at;
    uint32_t status;
    uint32_t delay;
    int position;
    bool immediate = false;
};

struct SequenceCase {
    const char* name;
    const char* sensorLines;
    int controllers;
    std::vector<Step> steps;
};

std::vector<SequenceCase> SequenceCases() {
    return {
        {"TwoControllersMoveAfterFiveFailuresAndWrap", "", 2,
         {{0, kFail, 60000, 0}, {0, kFail, 120000, 0}, {0, kFail, 240000, 0}, {0, kFail, 480000, 0},
          {0, kFail, 0, 1}, {0, kFail, 60000, 1}, {0, kFail, 120000, 1}, {0, kFail, 240000, 1},
          {0, kFail, 480000, 1}, {0, kFail, 0, 0}, {0, kFail, 60000, 0}}},
        {"OneControllerNeverMovesAndStopsAtTheCeiling", "", 1,
         {{0, kFail, 60000, 0}, {0, kFail, 120000, 0}, {0, kFail, 240000, 0}, {0, kFail, 480000, 0},
          {0, kFail, 960000, 0}, {0, kFail, 1800000, 0}, {0, kFail, 1800000, 0}, {0, kFail, 1800000, 0}}},
        {"ZeroRetryIntervalRetriesAtOnce", "retryInterval = 0\n", 1,
         {{0, kFail, 0, 0}, {0, kFail, 0, 0}, {0, kFail, 0, 0}}},
        {"DoublingStopsAtAnUnevenCeiling", "retryInterval = 1000\nretryCeiling = 3000\n", 1,
         {{0, kFail, 1000, 0}, {0, kFail, 2000, 0}, {0, kFail, 3000, 0}, {0, kFail, 3000, 0}}},
        {"SuccessLeavesTheControllerAndWaitsUntilWoken", "maxServerRetry = 1\n", 3,
         {{0, kFail, 0, 1}, {0, kFail, 0, 2}, {0, 0, kNone, 2}, {0, kFail, 0, 0}}},
        {"SuccessRestartsTheBackOffAndTheAttempts", "maxServerRetry = 2\n", 2,
         {{0, kFail, 60000, 0}, {0, 0, kNone, 0}, {0, kFail, 60000, 0}, {0, kFail, 0, 1}}},
        {"RetryStatusGivesNoDelayAndKeepsTheAttempts", "", 2,
         {{0, kFail, 60000, 0}, {0, kFail, 120000, 0}, {0, kFail, 240000, 0}, {0, kFail, 480000, 0},
          {0, kRetry, 0, 0}, {0, kFail, 0, 1}}},
        {"RetryStatusRestartsTheBackOff", "", 1,
         {{0, kFail, 60000, 0}, {0, kFail, 120000, 0}, {0, kRetry, 0, 0}, {0, kFail, 60000, 0}}},
        {"NoControllerStatusWaitsAndKeepsTheAttempts", "", 2,
         {{0, kFail, 60000, 0}, {0, kFail, 120000, 0}, {0, kFail, 240000, 0}, {0, kFail, 480000, 0},
          {0, kNoController, kNone, 0}, {0, kFail, 0, 1}}},
        // Exactly 7200 s on the secondary stays there; more goes back, and "none scheduled" stays.
        {"ReturnToThePrimaryOnlyAfterMoreThanTheLimit", "maxServerRetry = 1\n", 2,
         {{1000, kFail, 0, 1}, {8200, 0, kNone, 1}, {8201, 0, kNone, 0}}},
        {"ReturnToThePrimaryRestartsTheBackOff", "maxServerRetry = 2\n", 2,
         {{1000, kFail, 60000, 0}, {1000, kFail, 0, 1}, {2000, kFail, 60000, 1}, {8201, kRetry, 60000, 0}}},
        {"ReturnToThePrimaryUsesTheConfiguredLimit", "maxServerRetry = 1\nretryPrimaryServer = 30\n", 3,
         {{1000, kFail, 0, 1}, {1020, kFail, 0, 2}, {1030, 0, kNone, 2}, {1031, 0, kNone, 0}}},
        {"ImmediateRequestTurnsWaitingIntoNoDelayOnce", "", 1,
         {{0, 0, 0, 0, true}, {0, 0, kNone, 0}, {0, kFail, 60000, 0, true}, {0, kNoController, 0, 0, true}}},
    };
}

class RetrySequenceTest : public RetryStateTest, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(RetrySequenceTest, GivesTheExpectedDelaysAndControllers) {
    const SequenceCase& c = GetParam();
    Start(c.sensorLines, c.controllers);
    ASSERT_EQ(static_cast<size_t>(c.controllers), m_ids.size());
    for (size_t i = 0; i < c.steps.size(); ++i) {
        const Step& step = c.steps[i];
        if (step.at) m_now = step.at;
        if (step.immediate) m_state.SetImmediate(true);
        EXPECT_EQ(P(step.delay, IdAt(step.position)), Next(step.status)) << "step " << i;
        EXPECT_FALSE(m_state.GetImmediate()) << "step " << i;
        EXPECT_EQ(P(step.delay, IdAt(step.position)), State()) << "step " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sequences, RetrySequenceTest, ::testing::ValuesIn(SequenceCases()),
                         [](const ::testing::TestParamInfo<SequenceCase>& info) { return info.param.name; });

// Each service type reads its own section; unknown types have none and keep the initial
// values; a Reload keeps the values of keys absent from the new file.
TEST_F(RetryStateTest, InitAndReloadReadTheSectionOfTheServiceType) {
    LoadProperties(
        "[sensor_services]\nretryInterval = 1500\nretryCeiling = 9000\nmaxServerRetry = 3\n"
        "retryPrimaryServer = 600\n\n[event_services]\nretryInterval = 2500\nretryCeiling = 7000\n"
        "maxServerRetry = 4\nretryPrimaryServer = 60\n\n[update_services]\nretryInterval = 3500\n");
    m_ids = {AddController(9100), AddController(9101)};
    const struct {
        uint32_t type, interval, ceiling, maxRetry, primary;
    } rows[] = {
        {kServiceTypeSensor, 1500, 9000, 3, 600}, {kServiceTypeEvent, 2500, 7000, 4, 60},
        {kServiceTypeUpdate, 3500, 1800000, 5, 7200}, {0, 60000, 1800000, 5, 7200},
        {2, 60000, 1800000, 5, 7200}, {99, 60000, 1800000, 5, 7200},
    };
    for (const auto& row : rows) {
        svcRetryState state;
        ASSERT_EQ(0u, state.Init(row.type, &m_trace, &m_loader));
        EXPECT_EQ(row.type, state.GetServiceType());
        EXPECT_EQ(row.interval, state.GetRetryInterval()) << row.type;
        EXPECT_EQ(row.ceiling, state.GetRetryCeiling()) << row.type;
        EXPECT_EQ(row.maxRetry, state.GetMaxServerRetry()) << row.type;
        EXPECT_EQ(row.primary, state.GetRetryPrimaryServer()) << row.type;
        EXPECT_EQ(m_ids, state.GetServers()) << row.type;
    }
    ASSERT_EQ(0u, m_state.Init(kServiceTypeSensor, &m_trace, &m_loader));
    LoadProperties("[sensor_services]\nretryInterval = 1000\nretryPrimaryServer = 30\n");
    ASSERT_EQ(0u, m_state.Reload());
    EXPECT_EQ(1000u, m_state.GetRetryInterval());
    EXPECT_EQ(9000u, m_state.GetRetryCeiling());
    EXPECT_EQ(3u, m_state.GetMaxServerRetry());
    EXPECT_EQ(30u, m_state.GetRetryPrimaryServer());
}

TEST_F(RetryStateTest, ReloadReplacesTheListAndKeepsThePosition) {
    Start("", 3);
    m_state.SetState(5000, m_ids[2]);
    ASSERT_EQ(0u, m_loader.DeleteController(0));
    const int32_t added = AddController(9200);
    ASSERT_EQ(0u, m_state.Reload());
    EXPECT_EQ((std::vector<int32_t>{m_ids[1], m_ids[2], added}), m_state.GetServers());
    EXPECT_EQ(2, m_state.GetIndex());
    EXPECT_EQ(P(5000, added), State());

    // A position beyond a shortened list has no controller; NextState starts again from the primary.
    ASSERT_EQ(0u, m_loader.DeleteController(2));
    ASSERT_EQ(0u, m_loader.DeleteController(1));
    ASSERT_EQ(0u, m_state.Reload());
    EXPECT_EQ(P(5000, -1), State());
    EXPECT_EQ(P(kNone, m_ids[1]), Next(0));
    EXPECT_EQ(0, m_state.GetIndex());
}

TEST_F(RetryStateTest, EmptyListGivesNoControllerAndIsTraced) {
    Start("", 0);
    const std::vector<TraceLine> reload = m_trace.Lines(kReloadWhere);
    ASSERT_EQ(1u, reload.size());
    EXPECT_EQ(SS_TRACE_INFO, reload[0].level);
    EXPECT_EQ("No available servers for service type 1", reload[0].message);
    EXPECT_EQ(0u, m_state.GetServerCount());
    EXPECT_EQ(-1, m_state.GetIndex());
    EXPECT_EQ(P(60000, -1), Next(kFail));
    EXPECT_EQ(-1, m_state.GetIndex());
    EXPECT_EQ(P(kNone, -1), Next(kNoController));
    // Controllers added later are found by the next Reload; NextState then starts at the primary.
    const int32_t id = AddController(9300);
    ASSERT_EQ(0u, m_state.Reload());
    EXPECT_EQ(id, Next(kFail).second);
    EXPECT_EQ(0, m_state.GetIndex());
}

TEST_F(RetryStateTest, NextStateTracesTheScheduledRetryAtTheInfoLevel) {
    Start("", 2);
    Next(kFail);
    Next(kFail);
    Next(0);  // nothing scheduled: no line
    const std::vector<TraceLine> lines = m_trace.Lines(kNextStateWhere);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("Next retry in 60 seconds to server " + std::to_string(m_ids[0]), lines[0].message);
    EXPECT_EQ("Next retry in 120 seconds to server " + std::to_string(m_ids[0]), lines[1].message);
    EXPECT_EQ(SS_TRACE_INFO, lines[1].level);
    m_trace.Clear();
    m_trace.SetLevelMask(SS_TRACE_ERROR | SS_TRACE_WARNING);
    ASSERT_EQ(0u, m_loader.DeleteController(1));
    ASSERT_EQ(0u, m_loader.DeleteController(0));
    ASSERT_EQ(0u, m_state.Reload());
    Next(kFail);
    EXPECT_TRUE(m_trace.Lines().empty());
}

TEST_F(RetryStateTest, ReloadFailureKeepsTheListAndIsTraced) {
    Start("retryInterval = 1000\n", 2);
    m_trace.Clear();
    m_loader.Shutdown();
    EXPECT_EQ(0xC7210035u, m_state.Reload());
    EXPECT_EQ(m_ids, m_state.GetServers());
    EXPECT_EQ(1000u, m_state.GetRetryInterval());
    const std::vector<TraceLine> lines = m_trace.Lines(kReloadWhere);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("Unable to get server list for service type 1", lines[0].message);
    EXPECT_EQ(SS_TRACE_INFO, lines[0].level);
}

TEST_F(RetryStateTest, SetStateFindsTheControllerRestartsTheAttemptsAndStartsTheReturnTimer) {
    Start("maxServerRetry = 2\n", 3);
    m_now = 5000;
    m_state.SetState(0, m_ids[1]);
    EXPECT_EQ(P(0, m_ids[1]), State());
    m_now = 5000 + 7200;
    EXPECT_EQ(m_ids[1], Next(0).second);
    m_now = 5000 + 7201;
    EXPECT_EQ(m_ids[0], Next(0).second);

    // Moving to any secondary position, not only the second, restarts the timer.
    m_now = 100000;
    m_state.SetState(0, m_ids[2]);
    m_now = 100000 + 7200;
    EXPECT_EQ(m_ids[2], Next(0).second);

    // One failure, then SetState: two more failures are needed to move on.
    Next(kFail);
    m_state.SetState(0, m_ids[0]);
    EXPECT_EQ(m_ids[0], Next(kFail).second);
    EXPECT_EQ(m_ids[1], Next(kFail).second);

    for (int32_t absent : {-1, -77, 999999}) {
        m_state.SetState(7000, absent);
        EXPECT_EQ(P(7000, -1), State()) << absent;
        EXPECT_EQ(-1, m_state.GetIndex()) << absent;
    }
}

TEST_F(RetryStateTest, ResetReturnsToThePrimaryWithNothingScheduled) {
    Start("maxServerRetry = 2\n", 2);
    Next(kFail);
    ASSERT_EQ(m_ids[1], Next(kFail).second);
    Next(kFail);
    m_state.SetImmediate(true);
    m_state.Reset();
    EXPECT_FALSE(m_state.GetImmediate());
    EXPECT_EQ(P(kNone, m_ids[0]), State());
    // The attempt on the secondary was forgotten: one failure does not move yet.
    EXPECT_EQ(P(60000, m_ids[0]), Next(kFail));
}

TEST(RetryStateInitTest, NeedsABinding) {
    svcRetryState state;
    EXPECT_EQ(ZEL_E_INVALIDARG, state.Init(kServiceTypeSensor, nullptr, nullptr));
    EXPECT_EQ(0xC7210035u, state.Reload());
    uint32_t delay = 0;
    int32_t server = 0;
    state.GetState(delay, server);
    EXPECT_EQ(kNone, delay);
    EXPECT_EQ(-1, server);
}

}  // namespace
}  // namespace zel::conn::test
