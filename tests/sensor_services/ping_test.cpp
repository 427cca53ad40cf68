// Pings through the real session-config module to real HTTP servers on 127.0.0.1: the
// identifier buffer, the walk along the controller list, the reading of replies, the dumps
// and the agent's exceptions.
#include <gtest/gtest.h>

#include <regex>

#include "library_test.h"

namespace zel::ss::test {
namespace {

constexpr const char* kPingPath = "/zel/sensor_services/ping";
constexpr const char* kHeartbeatPath = "/zel/sensor_services/heartbeat";
constexpr const char* kProcessWhere = "CSensorServices::HelperProcessPingResponse";
using Errors = std::vector<ErrorReport>;

// The error reports of the ping channel (the heartbeats here get replies that are no
// heartbeat replies, which the heartbeat channel reports).
Errors PingErrors() { return ErrorLog::Instance().PostFailures(SS_CHANNEL_PING); }

// The reply the controller gives: the body echoed in an "agent-ping" element.
std::string Reply(const std::string& id) {
    return "<?xml version='1.0' encoding='UTF-8'?>\n<agent-ping request-id='" + id + "'/>\n";
}
void Answer(const httplib::Request& request, httplib::Response& response) {
    response.set_content(request.path == kPingPath ? Reply(request.body) : "ok", "application/x-zel-xml-data");
}
void Busy(const httplib::Request&, httplib::Response& response) { response.status = 503; }

// A ping call with `id`, `status` and, when not null, the reply.
CallRecord PingCall(const std::string& id, uint32_t status, const Text& reply = std::nullopt) {
    return {Callback::kPing, id, 36, status, {}, {}, 0, {}, reply, static_cast<uint32_t>(reply ? reply->size() : 0)};
}

class PingTest : public LibraryTest {
protected:
    // Starts the library, threaded, on the controllers at `ports` (in list order) with the properties.
    void Start(const std::vector<int>& ports, const std::string& properties = "") {
        LibraryTest::Start(ports, true, properties);
        ASSERT_EQ(0u, RegisterPingResponse(&RecordPing));
    }
    // Posts a ping and returns its identifier.
    static std::string Ping() {
        char id[36];
        uint32_t length = sizeof id;
        EXPECT_EQ(0u, PostPing(id, &length));
        return std::string(id, length);
    }
};

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
    ASSERT_TRUE(Eventually([] { return !Calls().empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(std::vector<std::string>{second}, server.Bodies(kPingPath));
    EXPECT_EQ(std::vector<CallRecord>{PingCall(second, 0, Reply(second))}, Calls());
}

// Rows: the primary down, busy, or every controller busy (each asked again after a pause,
// then the callback gets the failure).
TEST_F(PingTest, TheControllerThatAnswersThePingTakesTheFollowingHeartbeats) {
    for (const int row : {0, 1, 2}) {
        SCOPED_TRACE(row);
        Restart();
        std::mutex mutex;
        std::vector<std::pair<int, std::chrono::steady_clock::time_point>> arrivals;
        const auto busy = [&](int which) {
            return [&, which](const httplib::Request& request, httplib::Response& response) {
                std::lock_guard<std::mutex> lock(mutex);
                arrivals.emplace_back(which, std::chrono::steady_clock::now());
                Busy(request, response);
            };
        };
        auto primary = std::make_unique<RecordingServer>(busy(0));
        const int primaryPort = primary->Port();
        if (row == 0) primary.reset();
        RecordingServer secondary(row == 2 ? RecordingServer::Handler(busy(1)) : Answer);
        Start({primaryPort, secondary.Port()}, row == 2 ? "maxServerRetry = 2\n" : "maxServerRetry = 0\n");
        if (row == 2) {
            const std::string id = Ping();
            ASSERT_TRUE(Eventually([] { return !Calls().empty(); }));
            EXPECT_EQ(std::vector<CallRecord>{PingCall(id, 0xC7590013u)}, Calls());
            std::lock_guard<std::mutex> lock(mutex);
            ASSERT_EQ(6u, arrivals.size());
            for (std::size_t i = 0; i < arrivals.size(); ++i) {
                EXPECT_EQ(static_cast<int>(i / 3), arrivals[i].first) << i;
                if (i % 3) { EXPECT_GE(arrivals[i].second - arrivals[i - 1].second, std::chrono::milliseconds(450)); }
            }
            EXPECT_EQ(std::vector<std::string>(3, id), secondary.Bodies(kPingPath));
            EXPECT_EQ(Errors(6, {0xC7590013u, 2u}), PingErrors());
            continue;
        }
        // Queued with the ping: it leaves in the same turn, to the controller that answered.
        ASSERT_EQ(0u, QueueHeartbeatBytes("with the ping", 13));
        const std::string id = Ping();
        ASSERT_TRUE(secondary.WaitForPosts(2));
        // Queued afterwards: the retry state stays on that controller.
        ASSERT_EQ(0u, QueueHeartbeatBytes("afterwards", 10));
        ASSERT_EQ(0u, RequestDispatch());
        ASSERT_TRUE(secondary.WaitForPosts(3));
        EXPECT_EQ((std::vector<std::string>{"with the ping", "afterwards"}), secondary.Bodies(kHeartbeatPath));
        EXPECT_EQ(primary ? std::vector<std::string>{id} : std::vector<std::string>{},
                  primary ? primary->Bodies(kPingPath) : std::vector<std::string>{});
        EXPECT_TRUE(!primary || primary->Bodies(kHeartbeatPath).empty());
        EXPECT_EQ(std::vector<CallRecord>{PingCall(id, 0, Reply(id))}, Calls());
        EXPECT_EQ((Errors{{row == 1 ? 0xC7590013u : 0xC7590009u, 2u}}), PingErrors());
    }
}

// The identifier buffer gets the identifier only when it fits (CopyIdentifier serves every export
// with an identifier buffer); replies are read for the first agent-ping with a request id.
TEST_F(PingTest, TheIdentifierBufferAndTheReadingOfReplies) {
    const std::string noId = "no request ID specified in response ERR code: 0xc7560005 CML code: 0x00000000";
    const std::string parseFailed = "parse failed with CML error. Exception: ";
    // The reply (%s: the request identifier); empty: the callback gets the identifier, else the
    // start of the trace.
    const std::pair<const char*, std::string> cases[] = {
        {"<agent-ping request-id='%s'/>", ""},
        {"<r><agent-ping/><x request-id='no'/><agent-ping request-id='%s'/></r>", ""},
        {"<agent-ping id='%s'/>", noId},
        {"<other request-id='%s'/>", noId},
        {"agent-ping request-id=%s", parseFailed},
        {"<!DOCTYPE agent-ping []><agent-ping request-id='%s'/>", parseFailed},
    };
    std::atomic<const char*> reply{nullptr};
    RecordingServer server([&](const httplib::Request& request, httplib::Response& response) {
        std::string text = reply.load();
        response.set_content(text.replace(text.find("%s"), 2, request.body), "application/x-zel-xml-data");
    });
    Start({server.Port()});
    reply = cases[0].first;
    const struct { uint32_t capacity; bool withSize, receives; } buffers[] = {
        {36, true, true}, {37, true, true}, {20, true, false}, {64, false, false}};
    for (const auto& c : buffers) {
        SCOPED_TRACE(c.capacity);
        std::string buffer(80, 'x');
        uint32_t size = c.capacity;
        ASSERT_EQ(0u, PostPing(buffer.data(), c.withSize ? &size : nullptr));
        const std::string written = buffer.substr(0, c.capacity);
        // Each ping goes out before the next is posted, with the identifier as its body.
        const auto sent = std::size_t(&c - buffers + 1);
        ASSERT_TRUE(server.WaitForPosts(sent));
        ASSERT_TRUE(Eventually([&] { return Calls().size() == sent; }));
        const std::string id = server.Posts().back().body;
        // Groups 8-4-4-4-12 of lower-case hexadecimal digits.
        EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}"))) << id;
        EXPECT_EQ(c.receives ? 36u : c.capacity, size);
        const char fill = c.withSize ? '\0' : 'x';
        EXPECT_EQ(c.receives ? id + std::string(c.capacity - 36, '\0') : std::string(c.capacity, fill), written);
        EXPECT_EQ(std::string(80 - c.capacity, 'x'), buffer.substr(c.capacity)) << "written beyond the capacity";
    }
    for (const auto& [text, trace] : cases) {
        SCOPED_TRACE(text);
        const std::size_t before = Calls().size();
        const std::size_t traced = m_trace.Lines(kProcessWhere).size();
        reply = text;
        const std::string id = Ping();
        if (trace.empty()) {
            ASSERT_TRUE(Eventually([&] { return Calls().size() == before + 1; }));
            EXPECT_EQ(std::make_tuple(id, 0u), std::make_tuple(*Calls().back().requestId, Calls().back().status));
            continue;
        }
        ASSERT_TRUE(Eventually([&] { return m_trace.Lines(kProcessWhere).size() == traced + 1; }));
        const TraceLine line = m_trace.Lines(kProcessWhere).back();
        EXPECT_EQ(std::make_tuple(1u, 0u), std::make_tuple(line.level, line.message.rfind(trace, 0))) << line.message;
        EXPECT_NE(std::string::npos, line.message.find(" ERR code: 0xc7560005 CML code: 0x")) << line.message;
        // The refusal is reported on the ping's channel.
        EXPECT_TRUE(Eventually([] { return !PingErrors().empty(); }));
        EXPECT_EQ((Errors{{0xC7560005u, 2u}}), PingErrors());
        ErrorLog::Instance().Clear();
        // The next ping is read again; this one called nothing.
        reply = cases[0].first;
        const std::string next = Ping();
        ASSERT_TRUE(Eventually([&] { return Calls().size() == before + 1; }));
        EXPECT_EQ(next, *Calls().back().requestId);
        EXPECT_EQ(traced + 1, m_trace.Lines(kProcessWhere).size());
    }
}

// Synchronous pings (sent, and the callback called, on the caller's thread) with dumps: the
// dumps hold the identifier and the reply, which is read only for a callback; an exception from
// the callback is traced and goes no further.
TEST_F(PingTest, TheDumpsAndAnExceptionFromThePingCallback) {
    const SS_PingCallback throwing = [](const char* id, uint32_t idLength, uint32_t status, const char* reply,
                                        uint32_t length) -> uint32_t {
        RecordPing(id, idLength, status, reply, length);
        throw std::runtime_error("the agent's callback failed");
    };
    // Server: 0 answers, 1 not XML (not parsed without a callback, so nothing traced), 2 busy.
    const struct { SS_PingCallback callback; int server; uint32_t status; } rows[] = {
        {&RecordPing, 0, 0}, {nullptr, 1, 0}, {throwing, 0, 0}, {throwing, 2, 0xC7590013u}};
    int exceptions = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        Restart();
        TempDir directory;
        const WorkingDirectory inside(directory.File(""));
        RecordingServer server([&](const httplib::Request& request, httplib::Response& response) {
            if (row.server == 1) return response.set_content("<not xml", "text/xml");
            row.server == 2 ? Busy(request, response) : Answer(request, response);
        });
        LibraryTest::Start({server.Port()}, false, "dumpEnabled = 1\nmaxServerRetry = 0\n");
        if (row.callback) { ASSERT_EQ(0u, RegisterPingResponse(row.callback)); }
        const std::string id = Ping();
        EXPECT_EQ(id, ReadFile("ss_dump_pingreq.txt"));
        EXPECT_EQ(row.callback && !row.status ? Reply(id) : "", ReadFile("ss_dump_pingresp.txt"));
        EXPECT_EQ(row.callback && !row.status, std::ifstream("ss_dump_pingresp.txt").good());
        ASSERT_EQ(row.callback ? 1u : 0u, Calls().size());
        if (row.callback) { EXPECT_EQ(PingCall(id, row.status, row.status ? Text() : Reply(id)), Calls()[0]); }
        exceptions += row.callback == throwing;
        EXPECT_EQ(exceptions, m_trace.Count(SS_TRACE_ERROR, "An exception occurred in the agent's ping callback "
                                            "function", kProcessWhere));
        EXPECT_EQ(std::size_t(exceptions), m_trace.Lines(kProcessWhere).size());
    }
}

}  // namespace
}  // namespace zel::ss::test
