// Pings through the real session-config module to real HTTP servers on 127.0.0.1: the
// identifier buffer, the walk along the controller list, the reading of replies, the dumps.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "sensor_services/internal.h"
#include "library_test.h"
#include "zel/platform_posix.h"
#include "zel/sensor_services.h"

namespace zel::ss::test {
namespace {

constexpr const char* kPingPath = "/zel/sensor_services/ping";
constexpr const char* kHeartbeatPath = "/zel/sensor_services/heartbeat";
constexpr const char* kProcessWhere = "CSensorServices::HelperProcessPingResponse";

// What the ping callback received; it is a plain function, so this is shared.
struct Outcome {
    std::string requestId;
    uint32_t status;
    bool hasResponse;
    std::string response;
    std::thread::id thread;
};
std::mutex g_mutex;
std::vector<Outcome> g_pings;

uint32_t OnPing(const char* id, uint32_t idLength, uint32_t status, const char* response, uint32_t length) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_pings.push_back({std::string(id, idLength), status, response != nullptr,
                       response ? std::string(response, length) : std::string(), std::this_thread::get_id()});
    return 0;
}
std::vector<Outcome> Pings() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_pings;
}
// The error reports of the ping channel (the heartbeats of these tests get replies that are
// no heartbeat replies, which the heartbeat channel reports).
std::vector<ErrorReport> PingErrors() {
    std::vector<ErrorReport> errors;
    for (const ErrorReport& error : ErrorLog::Instance().Reports())
        if (error.channel == SS_CHANNEL_PING) errors.push_back(error);
    return errors;
}
using Errors = std::vector<ErrorReport>;

// The reply the controller gives: the body echoed in an "agent-ping" element.
std::string Reply(const std::string& id) {
    return "<?xml version='1.0' encoding='UTF-8'?>\n<agent-ping request-id='" + id + "'/>\n";
}
void Answer(const httplib::Request& request, httplib::Response& response) {
    response.set_content(request.path == kPingPath ? Reply(request.body) : "ok", "application/x-zel-xml-data");
}

std::vector<std::string> Bodies(const RecordingServer& server, const char* path) {
    std::vector<std::string> bodies;
    for (const ReceivedPost& post : server.Posts())
        if (post.path == path) bodies.push_back(post.body);
    return bodies;
}

class PingTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        std::lock_guard<std::mutex> lock(g_mutex);
        g_pings.clear();
    }
    void ShutDown() {
        EXPECT_EQ(0u, SS_ShutDown());
        WaitUntilLibraryGone();
    }
    // Starts the library on the controllers at `ports` (in list order) with the properties.
    void Start(const std::vector<int>& ports, const std::string& properties = "", bool callback = true,
               bool threaded = true) {
        LibraryTest::Start(ports, threaded, properties);
        if (callback) { ASSERT_EQ(0u, RegisterPingResponse(&OnPing)); }
    }

    // Posts a ping and returns its identifier.
    std::string Ping() {
        char id[36];
        uint32_t length = sizeof id;
        EXPECT_EQ(0u, PostPing(id, &length));
        return std::string(id, length);
    }
};

// (CopyIdentifier serves every export with an identifier buffer.)
TEST_F(PingTest, TheIdentifierBufferGetsTheIdentifierOnlyWhenItFits) {
    // Groups 8-4-4-4-12 of lower-case hexadecimal digits.
    const auto isGuid = [](const std::string& text) {
        for (std::size_t i = 0; i < 36; ++i) {
            const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
            if (hyphen ? text[i] != '-' : std::string("0123456789abcdef").find(text[i]) == std::string::npos)
                return false;
        }
        return true;
    };
    struct Case {
        uint32_t capacity;
        bool withSize;
        bool receives;
    } const cases[] = {{36, true, true}, {37, true, true}, {20, true, false}, {64, false, false}};
    RecordingServer server(Answer);
    Start({server.Port()});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capacity);
        std::string buffer(80, 'x');
        uint32_t size = c.capacity;
        ASSERT_EQ(0u, PostPing(buffer.data(), c.withSize ? &size : nullptr));
        const std::string written = buffer.substr(0, c.capacity);
        if (c.receives) {
            EXPECT_EQ(36u, size);
            EXPECT_TRUE(isGuid(written)) << written;
            EXPECT_EQ(std::string(c.capacity - 36, '\0'), written.substr(36));
        } else {
            EXPECT_EQ(c.capacity, size);
            EXPECT_EQ(std::string(c.capacity, c.withSize ? '\0' : 'x'), written);
        }
        EXPECT_EQ(std::string(80 - c.capacity, 'x'), buffer.substr(c.capacity)) << "written beyond the capacity";
        // Each ping goes out before the next is posted, with the identifier as its body.
        const auto sent = static_cast<std::size_t>(&c - cases + 1);
        ASSERT_TRUE(server.WaitForPosts(sent));
        ASSERT_TRUE(Eventually([&] { return Pings().size() == sent; }));
        if (c.receives) { EXPECT_EQ(written.substr(0, 36), server.Posts().back().body); }
    }
}

TEST_F(PingTest, OfTwoPingsQueuedBeforeTheThreadRunsOnlyTheSecondIsSent) {
    std::atomic<bool> release{false};
    RecordingServer server([&](const httplib::Request& request, httplib::Response& response) {
        // The heartbeat holds the dispatch thread while both pings are queued.
        if (request.path == kHeartbeatPath) Eventually([&] { return release.load(); });
        Answer(request, response);
    });
    Start({server.Port()});
    ASSERT_EQ(0u, QueueHeartbeatBytes("beat", 4));
    ASSERT_EQ(0u, RequestDispatch());
    ASSERT_TRUE(server.WaitForPosts(1));
    Ping();
    const std::string second = Ping();
    release = true;
    ASSERT_TRUE(Eventually([] { return !Pings().empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(std::vector<std::string>{second}, Bodies(server, kPingPath));
    ASSERT_EQ(1u, Pings().size());
    EXPECT_EQ(second, Pings()[0].requestId);
    EXPECT_EQ(Reply(second), Pings()[0].response);
}

TEST_F(PingTest, WhenEveryControllerIsBusyEachIsAskedAgainAfterAPauseThenTheCallbackGetsTheFailure) {
    std::mutex mutex;
    std::vector<std::pair<int, std::chrono::steady_clock::time_point>> arrivals;
    auto busy = [&](int which) {
        return [&, which](const httplib::Request&, httplib::Response& response) {
            std::lock_guard<std::mutex> lock(mutex);
            arrivals.emplace_back(which, std::chrono::steady_clock::now());
            response.status = 503;
        };
    };
    RecordingServer primary(busy(0)), secondary(busy(1));
    Start({primary.Port(), secondary.Port()}, "maxServerRetry = 2\n");
    const std::string id = Ping();
    ASSERT_TRUE(Eventually([] { return !Pings().empty(); }));

    const Outcome outcome = Pings()[0];
    EXPECT_EQ(id, outcome.requestId);
    EXPECT_EQ(0xC7590013u, outcome.status);
    EXPECT_FALSE(outcome.hasResponse);
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(6u, arrivals.size());
    for (std::size_t i = 0; i < arrivals.size(); ++i) {
        EXPECT_EQ(static_cast<int>(i / 3), arrivals[i].first) << i;
        if (i % 3 != 0) {
            const auto pause = arrivals[i].second - arrivals[i - 1].second;
            EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(pause).count(), 450) << i;
        }
    }
    EXPECT_EQ(std::vector<std::string>(3, id), Bodies(secondary, kPingPath));
    EXPECT_EQ(Errors(6, {0xC7590013u, 2u}), PingErrors());
}

TEST_F(PingTest, TheControllerThatAnswersThePingTakesTheFollowingHeartbeats) {
    struct Case {
        const char* name;
        bool primaryListens;
        uint32_t primaryFailure;
    } const cases[] = {{"primary down", false, 0xC7590009}, {"primary busy", true, 0xC7590013}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        auto primary = std::make_unique<RecordingServer>([](const httplib::Request&, httplib::Response& response) {
            response.status = 503;
        });
        const int primaryPort = primary->Port();
        if (!c.primaryListens) primary.reset();
        RecordingServer secondary(Answer);
        Start({primaryPort, secondary.Port()}, "maxServerRetry = 0\n");

        // Queued with the ping: it leaves in the same turn, to the controller that answered.
        ASSERT_EQ(0u, QueueHeartbeatBytes("with the ping", 13));
        const std::string id = Ping();
        ASSERT_TRUE(secondary.WaitForPosts(2));
        // Queued afterwards: the retry state stays on that controller.
        ASSERT_EQ(0u, QueueHeartbeatBytes("afterwards", 10));
        ASSERT_EQ(0u, RequestDispatch());
        ASSERT_TRUE(secondary.WaitForPosts(3));
        EXPECT_EQ((std::vector<std::string>{"with the ping", "afterwards"}), Bodies(secondary, kHeartbeatPath));
        if (primary) {
            EXPECT_EQ(std::vector<std::string>{id}, Bodies(*primary, kPingPath));
            EXPECT_TRUE(Bodies(*primary, kHeartbeatPath).empty());
        }
        ASSERT_EQ(1u, Pings().size());
        EXPECT_EQ(id, Pings()[0].requestId);
        EXPECT_EQ(0u, Pings()[0].status);
        EXPECT_EQ((Errors{{c.primaryFailure, 2u}}), PingErrors());
        ShutDown();
    }
}

TEST_F(PingTest, RepliesAreReadForTheFirstAgentPingWithARequestId) {
    const std::string noId = "no request ID specified in response ERR code: 0xc7560005 CML code: 0x00000000";
    struct Case {
        const char* reply;  // %s: the request identifier
        const char* trace;  // empty: the callback gets the identifier; else the start of the trace
    } const cases[] = {
        {"<agent-ping request-id='%s'/>", ""},
        {"<r><agent-ping/><x request-id='no'/><agent-ping request-id='%s'/></r>", ""},
        {"<agent-ping id='%s'/>", noId.c_str()},
        {"<other request-id='%s'/>", noId.c_str()},
        {"agent-ping request-id=%s", "parse failed with CML error. Exception: "},
        {"<!DOCTYPE agent-ping []><agent-ping request-id='%s'/>", "parse failed with CML error. Exception: "},
    };
    std::atomic<const char*> reply{nullptr};
    RecordingServer server([&](const httplib::Request& request, httplib::Response& response) {
        std::string text = reply.load();
        text.replace(text.find("%s"), 2, request.body);
        response.set_content(text, "application/x-zel-xml-data");
    });
    Start({server.Port()});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        const std::size_t before = Pings().size();
        const std::size_t traced = m_trace.Lines(kProcessWhere).size();
        reply = c.reply;
        const std::string id = Ping();
        if (*c.trace == '\0') {
            ASSERT_TRUE(Eventually([&] { return Pings().size() == before + 1; }));
            EXPECT_EQ(id, Pings().back().requestId);
            EXPECT_EQ(0u, Pings().back().status);
            continue;
        }
        ASSERT_TRUE(Eventually([&] { return m_trace.Lines(kProcessWhere).size() == traced + 1; }));
        const TraceLine line = m_trace.Lines(kProcessWhere).back();
        EXPECT_EQ(1u, line.level);
        EXPECT_EQ(0u, line.message.rfind(c.trace, 0)) << line.message;
        EXPECT_NE(std::string::npos, line.message.find(" ERR code: 0xc7560005 CML code: 0x")) << line.message;
        // The refusal is reported on the ping's channel.
        EXPECT_TRUE(Eventually([] { return !PingErrors().empty(); }));
        EXPECT_EQ((Errors{{0xC7560005u, 2u}}), PingErrors());
        ErrorLog::Instance().Clear();
        // The next ping is read again; this one called nothing.
        reply = cases[0].reply;
        const std::string next = Ping();
        ASSERT_TRUE(Eventually([&] { return Pings().size() == before + 1; }));
        EXPECT_EQ(next, Pings().back().requestId);
        EXPECT_EQ(traced + 1, m_trace.Lines(kProcessWhere).size());
    }
}

TEST_F(PingTest, TheDumpsHoldTheIdentifierAndTheReplyWhichIsReadOnlyForACallback) {
    for (const bool callback : {true, false}) {
        SCOPED_TRACE(callback);
        SetUp();
        TempDir directory;
        const WorkingDirectory inside(directory.File(""));
        // Not XML: without a callback it is not parsed, so nothing is traced.
        const std::string reply = callback ? Reply("id") : "<not xml";
        RecordingServer server([&](const httplib::Request&, httplib::Response& response) {
            response.set_content(reply, "application/x-zel-xml-data");
        });
        Start({server.Port()}, "dumpEnabled = 1\n", callback);
        // The heartbeat leaves once the ping's reply has been dealt with.
        ASSERT_EQ(0u, QueueHeartbeatBytes("beat", 4));
        const std::string id = Ping();
        ASSERT_TRUE(server.WaitForPosts(2));
        ShutDown();
        EXPECT_EQ(id, ReadFile("ss_dump_pingreq.txt"));
        EXPECT_EQ(callback ? reply : "", ReadFile("ss_dump_pingresp.txt"));
        EXPECT_EQ(callback, std::ifstream("ss_dump_pingresp.txt").good());
        EXPECT_EQ(callback ? 1u : 0u, Pings().size());
        EXPECT_TRUE(m_trace.Lines(kProcessWhere).empty());
    }
}

uint32_t ThrowingOnPing(const char* id, uint32_t idLength, uint32_t status, const char* response, uint32_t length) {
    OnPing(id, idLength, status, response, length);
    throw std::runtime_error("the agent's callback failed");
}

// In synchronous mode the ping is sent, and the callback called, on the caller's thread.
TEST_F(PingTest, AnExceptionFromThePingCallbackIsTracedAndGoesNoFurther) {
    // One controller that answers, one that is busy (and is asked only once).
    RecordingServer answering(Answer);
    RecordingServer busy([](const httplib::Request&, httplib::Response& response) { response.status = 503; });
    for (const int port : {answering.Port(), busy.Port()}) {
        SCOPED_TRACE(port == answering.Port() ? "answered" : "failed");
        SetUp();
        Start({port}, "maxServerRetry = 0\n", false, false);
        ASSERT_EQ(0u, RegisterPingResponse(&ThrowingOnPing));
        const auto traced = [&] {
            return m_trace.Count(SS_TRACE_ERROR, "An exception occurred in the agent's ping callback function",
                                 "CSensorServices::HelperProcessPingResponse");
        };
        const int before = traced();
        char id[36];
        uint32_t length = sizeof id;
        EXPECT_EQ(0u, PostPing(id, &length));
        ASSERT_EQ(1u, Pings().size());
        EXPECT_EQ(port == answering.Port() ? 0u : 0xC7590013u, Pings()[0].status);
        EXPECT_EQ(std::string(id, length), Pings()[0].requestId);
        EXPECT_EQ(std::this_thread::get_id(), Pings()[0].thread);
        EXPECT_EQ(before + 1, traced());
        EXPECT_EQ(0u, SS_ShutDown());
    }
}

}  // namespace
}  // namespace zel::ss::test
