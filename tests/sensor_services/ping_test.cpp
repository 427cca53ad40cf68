// Pings through the real session-config module to real HTTP servers on 127.0.0.1: the
// identifier buffer, the walk along the controller list, the reading of replies and the
// agent's exceptions.
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

// The primary busy (down is the same failed post): the ping moves on, and the controller that
// answered takes the following heartbeats. Of two pings queued while the dispatch thread is held,
// only the newer is sent.
TEST_F(PingTest, TheControllerThatAnswersThePingTakesTheFollowingHeartbeats) {
    std::atomic<bool> release{false};
    RecordingServer primary(Busy), secondary([&](const httplib::Request& request, httplib::Response& response) {
        if (request.body == "afterwards") Eventually([&] { return release.load(); });
        Answer(request, response);
    });
    Start({primary.Port(), secondary.Port()}, "maxServerRetry = 0\n");
    // Queued with the ping: it leaves in the same turn, to the controller that answered.
    ASSERT_EQ(0u, QueueHeartbeatBytes("with the ping", 13));
    const std::string id = Ping();
    ASSERT_TRUE(secondary.WaitForPosts(2));
    // Queued afterwards: the retry state stays on that controller.
    ASSERT_EQ(0u, QueueHeartbeatBytes("afterwards", 10));
    ASSERT_EQ(0u, RequestDispatch());
    ASSERT_TRUE(secondary.WaitForPosts(3));
    // Both queued while "afterwards" holds the dispatch thread: the older one is dropped, not sent first.
    Ping();
    const std::string newer = Ping();
    release = true;
    ASSERT_TRUE(Eventually([] { return Calls().size() == 2; }));
    EXPECT_EQ((std::vector<std::string>{"with the ping", "afterwards"}), secondary.Bodies(kHeartbeatPath));
    EXPECT_EQ(std::vector<std::string>{id}, primary.Bodies());
    EXPECT_EQ((std::vector<CallRecord>{PingCall(id, 0, Reply(id)), PingCall(newer, 0, Reply(newer))}), Calls());
    EXPECT_EQ((Errors{{0xC7590013u, 2u}}), PingErrors());
}

// The identifier buffer gets the identifier only when it fits (CopyIdentifier serves every export
// with an identifier buffer); replies are read for the first agent-ping with a request id.
TEST_F(PingTest, TheIdentifierBufferAndTheReadingOfReplies) {
    const std::string noId = "no request ID specified in response ERR code: 0xc7560005 CML code: 0x00000000";
    const std::string parseFailed = "parse failed with CML error. Exception: ";
    // The reply (%s: the request identifier); empty: the callback gets the identifier, else the
    // start of the trace. A reply read after each refusal shows that the refusal left nothing behind.
    const char* const kPlain = "<agent-ping request-id='%s'/>";
    const std::pair<const char*, std::string> cases[] = {
        {"<agent-ping id='%s'/>", noId},
        {"<r><agent-ping/><x request-id='no'/><agent-ping request-id='%s'/></r>", ""},
        {"agent-ping request-id=%s", parseFailed},
        {kPlain, ""},
        {"<!DOCTYPE agent-ping []><agent-ping request-id='%s'/>", parseFailed},
    };
    std::atomic<const char*> reply{kPlain};
    RecordingServer server([&](const httplib::Request& request, httplib::Response& response) {
        std::string text = reply.load();
        response.set_content(text.replace(text.find("%s"), 2, request.body), "application/x-zel-xml-data");
    });
    Start({server.Port()});
    const struct { uint32_t capacity; bool withSize, receives; } buffers[] = {
        {36, true, true}, {20, true, false}, {64, false, false}};
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
        // The refusal is reported on the ping's channel, and nothing is called.
        EXPECT_TRUE(Eventually([] { return PingErrors() == Errors{{0xC7560005u, 2u}}; }));
        EXPECT_EQ(before, Calls().size());
        ErrorLog::Instance().Clear();
    }
}

// Synchronous pings (sent, and the callback called, on the caller's thread): an exception from
// the callback is traced and goes no further; without a callback the reply is not read. (The
// dumps, alike for every channel: the heartbeat's tests.)
TEST_F(PingTest, AnExceptionFromThePingCallbackIsTracedAndGoesNoFurther) {
    const SS_PingCallback throwing = [](const char* id, uint32_t idLength, uint32_t status, const char* reply,
                                        uint32_t length) -> uint32_t {
        RecordPing(id, idLength, status, reply, length);
        throw std::runtime_error("the agent's callback failed");
    };
    // Server: 0 answers, 1 not XML (not parsed without a callback, so nothing traced), 2 busy (asked
    // once more after a pause, as one retry on a busy controller allows).
    const struct { SS_PingCallback callback; int server; uint32_t status; } rows[] = {
        {nullptr, 1, 0}, {throwing, 0, 0}, {throwing, 2, 0xC7590013u}};
    int exceptions = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        Restart();
        RecordingServer server([&](const httplib::Request& request, httplib::Response& response) {
            if (row.server == 1) return response.set_content("<not xml", "text/xml");
            row.server == 2 ? Busy(request, response) : Answer(request, response);
        });
        LibraryTest::Start({server.Port()}, false, "maxServerRetry = 1\n");
        if (row.callback) { ASSERT_EQ(0u, RegisterPingResponse(row.callback)); }
        const std::string id = Ping();
        EXPECT_EQ(row.status ? 2u : 1u, server.Posts().size());
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
