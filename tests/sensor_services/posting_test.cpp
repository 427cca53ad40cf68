// Heartbeat posting through the real session-config module to a real HTTP server on
// 127.0.0.1, with the dispatch thread and in synchronous mode: delivery, failures and their
// retries, a record replaced during a failing post, no controller, and the dispatch thread's loop.
#include <gtest/gtest.h>

#include "library_test.h"

namespace zel::ss::test {
namespace {

std::vector<ErrorReport> Failures() { return ErrorLog::Instance().PostFailures(); }

// The parameter: true runs with the POSIX platform services (dispatch thread), false in
// synchronous mode.
class PostingTest : public LibraryTest, public ::testing::WithParamInterface<bool> {
protected:
    // Starts, queues `bytes` and asks for a send, which returns the post's status in
    // synchronous mode, else 0.
    void StartAndDispatch(const RecordingServer& server, const std::string& bytes, uint32_t postStatus) {
        LibraryTest::Start(server.Port(), GetParam());
        ASSERT_EQ(0u, QueueHeartbeatBytes(bytes.data(), uint32_t(bytes.size())));
        EXPECT_EQ(GetParam() ? 0 : postStatus, RequestDispatch());
    }
};

// A failed post calls the error callback and keeps the record, which is posted again until it
// reaches the server, and is then freed. (How the module fails a post, by status or by its
// timeouts, is the module's: the library handles every failure alike.)
TEST_P(PostingTest, AQueuedRecordIsPostedUntilItReachesTheServerAndIsThenFreed) {
    std::atomic<int> requests{0};
    RecordingServer server([&](const httplib::Request&, httplib::Response& response) {
        response.status = requests++ < 2 ? 500 : 200;
    });
    const std::string bytes("<heartbeat a='1'>\0\xc3\xa9\r\n</heartbeat>", 35);
    StartAndDispatch(server, bytes, 0xC759001A);
    // The dispatch thread retries the same bytes after the back-off; in synchronous mode the
    // record stays until the next dispatch.
    if (!GetParam()) { EXPECT_EQ(0xC759001A, RequestDispatch()); }
    if (!GetParam()) { EXPECT_EQ(0u, RequestDispatch()); }
    ASSERT_TRUE(server.WaitForPosts(3));
    // Every failed post was reported before the next one started.
    ASSERT_EQ(std::vector<ErrorReport>(2, {0xC759001A, 1u}), Failures());
    EXPECT_EQ(GetParam(), Failures()[0].thread != std::this_thread::get_id());
    EXPECT_TRUE(Eventually([] { return !Pending(); }));
    for (const ReceivedPost& post : server.Posts())
        EXPECT_EQ(std::make_tuple("/zel/sensor_services/heartbeat", kCmlType, bytes),
                  std::tie(post.path, post.contentType, post.body));
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
    if (!GetParam()) { EXPECT_EQ(0u, RequestDispatch()); }
    ASSERT_TRUE(server.WaitForPosts(2));
    // Nothing is posted again once the newer record has gone.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ((std::vector<std::string>{"first", "second"}), server.Bodies());
    EXPECT_EQ((std::vector<ErrorReport>{{0xC7590013u, 1u}}), Failures());
}

INSTANTIATE_TEST_SUITE_P(Modes, PostingTest, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "DispatchThread" : "Synchronous"); });

using DispatchThreadTest = LibraryTest;
using NoControllerTest = LibraryTest;

// Synchronous, where the send's status is the agent's (the dispatch thread asks the same retry
// state). Deleting the only controller reaches the retry state through the settings-changed
// handler, on the module's notifier thread.
TEST_F(NoControllerTest, InSynchronousModeNothingIsSentAndTheRecordStays) {
    RecordingServer server;
    Start(server.Port());
    ASSERT_EQ(0u, SS_DeleteController(0));
    ASSERT_TRUE(Eventually([] { return RequestDispatch() == ZEL_E_INVALID_HANDLE; }));
    ASSERT_EQ(0u, QueueHeartbeatBytes("orphan", 6));
    EXPECT_EQ(0xC7210009u, RequestDispatch());
    EXPECT_TRUE(Pending());
    EXPECT_TRUE(server.Posts().empty());
}

TEST_F(DispatchThreadTest, TracesEachTurnOfItsLoop) {
    constexpr const char* kWhere = "CBaseServices::_DispatchThread()";
    const std::string waitWithoutLimit = "Waiting on dispatch event with timeout = 4294967295";
    RecordingServer server;
    Start(server.Port(), true);
    // The thread has taken its first state before the send is asked for.
    ASSERT_TRUE(Eventually([&] { return m_trace.Count(8, waitWithoutLimit, kWhere) == 1; }));
    ASSERT_EQ(0u, QueueHeartbeatBytes("beat", 4));
    EXPECT_EQ(0u, RequestDispatch());
    // Back to waiting without a limit: the loop has finished its work.
    ASSERT_TRUE(Eventually([&] { return m_trace.Count(8, waitWithoutLimit, kWhere) == 2; }));
    TearDown();
    std::vector<std::string> messages;
    for (const TraceLine& line : m_trace.Lines(kWhere)) messages.push_back(std::to_string(line.level) + line.message);
    const std::string sending = messages.size() > 2 ? messages[2] : "";
    EXPECT_EQ(0u, sending.rfind("8Sending requests to server ", 0)) << sending;
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
