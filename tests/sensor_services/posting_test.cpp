// Heartbeat posting through the real session-config module to a real HTTP server on
// 127.0.0.1, with the dispatch thread and in synchronous mode: delivery, failures and their
// retries, a record replaced during a failing post, the transfer timeout, no controller, and
// the dispatch thread's loop.
#include <gtest/gtest.h>

#include "library_test.h"

namespace zel::ss::test {
namespace {

std::vector<ErrorReport> Failures() { return ErrorLog::Instance().PostFailures(); }

// The parameter: true runs with the POSIX platform services (dispatch thread), false in
// synchronous mode.
class PostingTest : public LibraryTest, public ::testing::WithParamInterface<bool> {
protected:
    bool Threaded() const { return GetParam(); }
    // Starts, queues `bytes` and asks for a send, which returns the post's status in
    // synchronous mode, else 0.
    void StartAndDispatch(const RecordingServer& server, const std::string& bytes, uint32_t postStatus,
                          const std::string& properties = "") {
        LibraryTest::Start(server.Port(), Threaded(), properties);
        ASSERT_EQ(0u, QueueHeartbeatBytes(bytes.data(), uint32_t(bytes.size())));
        EXPECT_TRUE(Pending());
        EXPECT_EQ(Threaded() ? 0 : postStatus, RequestDispatch());
    }
    // Synchronous mode: the record stays until the next dispatch.
    void DispatchAgainWhenSynchronous(uint32_t status) {
        if (Threaded()) return;
        EXPECT_TRUE(Pending());
        EXPECT_EQ(status, RequestDispatch());
    }
};

// A failed post (an error status, or no answer within the transfer timeout) calls the error
// callback and keeps the record, which is posted again until it reaches the server, and is then
// freed.
TEST_P(PostingTest, AQueuedRecordIsPostedUntilItReachesTheServerAndIsThenFreed) {
    const struct { const char* name; bool slow; uint32_t status; const char* properties; } rows[] = {
        {"error status", false, 0xC759001A, ""}, {"transfer timeout", true, 0xC7590009, "transferTimeout = 200\n"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (&row != rows) Restart();
        std::atomic<bool> fail{true};
        std::atomic<int> successes{0};
        RecordingServer server([&](const httplib::Request&, httplib::Response& response) {
            const bool failing = fail;
            if (failing && row.slow) std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            response.status = failing && !row.slow ? 500 : 200;
            successes += !failing;
        });
        const std::string bytes("<heartbeat a='1'>\0\xc3\xa9\r\n</heartbeat>", 35);
        StartAndDispatch(server, bytes, row.status, row.properties);
        ASSERT_TRUE(Eventually([] { return !Failures().empty(); }));
        EXPECT_EQ((ErrorReport{row.status, 1u}), Failures()[0]);
        EXPECT_EQ(Threaded(), Failures()[0].thread != std::this_thread::get_id());
        // The dispatch thread retries the same bytes after the back-off.
        DispatchAgainWhenSynchronous(row.status);
        ASSERT_TRUE(server.WaitForPosts(2));
        fail = false;
        DispatchAgainWhenSynchronous(0);
        // Every failed post was reported before the next one started.
        ASSERT_TRUE(Eventually([&] { return successes == 1; }));
        EXPECT_TRUE(Eventually([] { return !Pending(); }));
        const std::vector<ReceivedPost> posts = server.Posts();
        for (const ReceivedPost& post : posts)
            EXPECT_EQ(std::make_tuple("/zel/sensor_services/heartbeat", kCmlType, bytes),
                      std::tie(post.path, post.contentType, post.body));
        EXPECT_EQ(posts.size() - 1, Failures().size());
        for (const ErrorReport& failure : Failures()) EXPECT_EQ(row.status, failure.status);
        // Nothing is left to send: a further dispatch posts nothing.
        EXPECT_EQ(0u, RequestDispatch());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(posts.size(), server.Posts().size());
    }
}

TEST_P(PostingTest, ARecordQueuedDuringAFailingPostReplacesTheFailedOne) {
    std::atomic<int> requests{0};
    RecordingServer server([&](const httplib::Request&, httplib::Response& response) {
        if (requests++ != 0) return response.set_content("ok", "text/plain");
        // The newer heartbeat arrives while the first post is still in flight.
        EXPECT_EQ(0u, QueueHeartbeatBytes("second", 6));
        response.status = 503;
    });
    StartAndDispatch(server, "first", 0xC7590013);
    DispatchAgainWhenSynchronous(0);
    ASSERT_TRUE(server.WaitForPosts(2));
    EXPECT_TRUE(Eventually([] { return !Pending(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ((std::vector<std::string>{"first", "second"}), server.Bodies());
    EXPECT_EQ((std::vector<ErrorReport>{{0xC7590013u, 1u}}), Failures());
}

TEST_P(PostingTest, WithoutAControllerNothingIsSentAndTheRecordStays) {
    RecordingServer server;
    LibraryTest::Start(server.Port(), Threaded());
    // Deleting the only controller reaches the retry state through the settings-changed
    // handler, on the module's notifier thread.
    ASSERT_EQ(0u, SS_DeleteController(0));
    if (Threaded())
        ASSERT_TRUE(Eventually([] { return ControllerCount() == 0; }));
    else
        ASSERT_TRUE(Eventually([] { return RequestDispatch() == ZEL_E_INVALID_HANDLE; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(Threaded() ? 200 : 0));
    ASSERT_EQ(0u, QueueHeartbeatBytes("orphan", 6));
    EXPECT_EQ(Threaded() ? 0 : 0xC7210009u, RequestDispatch());
    std::this_thread::sleep_for(std::chrono::milliseconds(Threaded() ? 300 : 0));
    EXPECT_TRUE(Pending());
    EXPECT_TRUE(server.Posts().empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, PostingTest, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "DispatchThread" : "Synchronous"); });

using DispatchThreadTest = LibraryTest;

TEST_F(DispatchThreadTest, TracesEachTurnOfItsLoop) {
    constexpr const char* kWhere = "CBaseServices::_DispatchThread()";
    const std::string waitWithoutLimit = "Waiting on dispatch event with timeout = 4294967295";
    const auto waits = [&](int count) {
        return Eventually([&] { return m_trace.Count(8, waitWithoutLimit, kWhere) == count; });
    };
    RecordingServer server;
    Start(server.Port(), true);
    // The thread has taken its first state before the send is asked for.
    ASSERT_TRUE(waits(1));
    ASSERT_EQ(0u, QueueHeartbeatBytes("beat", 4));
    EXPECT_EQ(0u, RequestDispatch());
    // Back to waiting without a limit: the loop has finished its work.
    ASSERT_TRUE(waits(2));
    TearDown();
    std::vector<std::string> messages;
    for (const TraceLine& line : m_trace.Lines(kWhere)) messages.push_back(std::to_string(line.level) + line.message);
    ASSERT_EQ(7u, messages.size()) << ::testing::PrintToString(messages);
    const std::string sending = messages[2];
    EXPECT_EQ(0u, sending.rfind("8Sending requests to server ", 0)) << sending;
    EXPECT_GT(std::stoi(sending.substr(28)), 0);
    // Nothing is scheduled after the start: the wait has no limit until a send is asked for.
    // The request for a send also set the retry state's immediate flag, which the success
    // consumes: one more turn at once, with nothing left to send.
    EXPECT_EQ((std::vector<std::string>{"8Entering dispatch thread", "8" + waitWithoutLimit, sending,
                                        "8Waiting on dispatch event with timeout = 0", sending, "8" + waitWithoutLimit,
                                        "8Exiting dispatch thread"}),
              messages);
    EXPECT_EQ(1u, server.Posts().size());
}

}  // namespace
}  // namespace zel::ss::test
