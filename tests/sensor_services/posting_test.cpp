// Heartbeat posting through the real session-config module to a real HTTP server on
// 127.0.0.1, with the dispatch thread and in synchronous mode: delivery, failures and their
// retries, a record replaced during a failing post, the transfer timeout, no controller, and
// the dispatch thread's loop.
#include <gtest/gtest.h>

#include "library_test.h"

namespace zel::ss::test {
namespace {

bool Failed() { return !ErrorLog::Instance().PostFailures().empty(); }

// The parameter: true runs with the POSIX platform services (dispatch thread), false in
// synchronous mode.
class PostingTest : public LibraryTest, public ::testing::WithParamInterface<bool> {
protected:
    bool Threaded() const { return GetParam(); }
    void Start(const RecordingServer& server, const std::string& properties = "") {
        LibraryTest::Start(server.Port(), Threaded(), properties);
    }
    // What RequestDispatch returns: the post's status in synchronous mode, else 0.
    uint32_t Expected(uint32_t postStatus) const { return Threaded() ? 0 : postStatus; }
    // Synchronous mode: the record stays until the next dispatch.
    void DispatchAgainWhenSynchronous(uint32_t status) {
        if (Threaded()) return;
        EXPECT_TRUE(Pending());
        EXPECT_EQ(status, RequestDispatch());
    }
};

// A failed post calls the error callback and keeps the record, which is posted again until it
// reaches the server, and is then freed.
TEST_P(PostingTest, AQueuedRecordIsPostedUntilItReachesTheServerAndIsThenFreed) {
    std::atomic<bool> fail{true};
    std::atomic<int> successes{0};
    RecordingServer server([&](const httplib::Request&, httplib::Response& response) {
        response.status = fail ? 500 : 200;
        successes += response.status == 200;
    });
    Start(server);
    const std::string bytes("<heartbeat a='1'>\0\xc3\xa9\r\n</heartbeat>", 35);
    ASSERT_EQ(0u, QueueHeartbeatBytes(bytes.data(), uint32_t(bytes.size())));
    EXPECT_TRUE(Pending());
    EXPECT_EQ(Expected(0xC759001A), RequestDispatch());
    ASSERT_TRUE(Eventually(Failed));
    const ErrorReport report = ErrorLog::Instance().PostFailures()[0];
    EXPECT_EQ((ErrorReport{0xC759001Au, 1u}), report);
    EXPECT_EQ(Threaded(), report.thread != std::this_thread::get_id());
    // The dispatch thread retries the same bytes after the back-off.
    DispatchAgainWhenSynchronous(0xC759001Au);
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
    EXPECT_EQ(posts.size() - 1, ErrorLog::Instance().PostFailures().size());
    // Nothing is left to send: a further dispatch posts nothing.
    EXPECT_EQ(0u, RequestDispatch());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(posts.size(), server.Posts().size());
}

TEST_P(PostingTest, ARecordQueuedDuringAFailingPostReplacesTheFailedOne) {
    std::atomic<int> requests{0};
    RecordingServer server([&](const httplib::Request&, httplib::Response& response) {
        if (requests++ != 0) return response.set_content("ok", "text/plain");
        // The newer heartbeat arrives while the first post is still in flight.
        EXPECT_EQ(0u, QueueHeartbeatBytes("second", 6));
        response.status = 503;
    });
    Start(server);
    ASSERT_EQ(0u, QueueHeartbeatBytes("first", 5));
    EXPECT_EQ(Expected(0xC7590013), RequestDispatch());
    DispatchAgainWhenSynchronous(0);
    ASSERT_TRUE(server.WaitForPosts(2));
    EXPECT_TRUE(Eventually([] { return !Pending(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ((std::vector<std::string>{"first", "second"}), server.Bodies());
    EXPECT_EQ((std::vector<ErrorReport>{{0xC7590013u, 1u}}), ErrorLog::Instance().PostFailures());
}

TEST_P(PostingTest, TheTransferTimeoutReachesThePost) {
    RecordingServer server([](const httplib::Request&, httplib::Response& response) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        response.set_content("late", "text/plain");
    });
    Start(server, "transferTimeout = 200\n");
    ASSERT_EQ(0u, QueueHeartbeatBytes("slow", 4));
    EXPECT_EQ(Expected(0xC7590009), RequestDispatch());
    ASSERT_TRUE(Eventually(Failed));
    EXPECT_EQ(0xC7590009u, ErrorLog::Instance().PostFailures()[0].status);
    // Stop before the back-off retries, which would hold the server once more.
    EXPECT_EQ(0u, SS_ShutDown());
}

TEST_P(PostingTest, WithoutAControllerNothingIsSentAndTheRecordStays) {
    RecordingServer server;
    Start(server);
    // Deleting the only controller reaches the retry state through the settings-changed
    // handler, on the module's notifier thread.
    ASSERT_EQ(0u, SS_DeleteController(0));
    if (Threaded()) {
        ASSERT_TRUE(Eventually([] { return ControllerCount() == 0; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    } else {
        ASSERT_TRUE(Eventually([] { return RequestDispatch() == ZEL_E_INVALID_HANDLE; }));
    }
    ASSERT_EQ(0u, QueueHeartbeatBytes("orphan", 6));
    EXPECT_EQ(Expected(0xC7210009u), RequestDispatch());
    std::this_thread::sleep_for(std::chrono::milliseconds(Threaded() ? 300 : 0));
    EXPECT_TRUE(Pending());
    EXPECT_TRUE(server.Posts().empty());
}

TEST_P(PostingTest, TheDispatchThreadTracesEachTurnOfItsLoop) {
    if (!Threaded()) GTEST_SKIP() << "no dispatch thread in synchronous mode";
    constexpr const char* kWhere = "CBaseServices::_DispatchThread()";
    const std::string waitWithoutLimit = "Waiting on dispatch event with timeout = 4294967295";
    RecordingServer server;
    Start(server);
    // The thread has taken its first state before the send is asked for.
    ASSERT_TRUE(Eventually([&] { return m_trace.Count(8, waitWithoutLimit, kWhere) == 1; }));
    ASSERT_EQ(0u, QueueHeartbeatBytes("beat", 4));
    EXPECT_EQ(0u, RequestDispatch());
    // Back to waiting without a limit: the loop has finished its work.
    ASSERT_TRUE(Eventually([&] { return m_trace.Count(8, waitWithoutLimit, kWhere) == 2; }));
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

INSTANTIATE_TEST_SUITE_P(Modes, PostingTest, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "DispatchThread" : "Synchronous"); });

}  // namespace
}  // namespace zel::ss::test
