// SCS_PostData against real HTTP and HTTPS servers on 127.0.0.1: the status of every reply,
// redirects never followed, refused, silent, oversize and endless replies, connection
// reuse and certificate checks. Credentials and proxies: see the group settings tests.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <string>

#include "module_fixture.h"

namespace zel::scs::test {
namespace {

// Binary-safe: a zero byte and a byte above 0x7F inside the body.
const std::string kRequestBody("<cml>\0\xff</cml>", 14);

// One row per outcome: the server's canned reply and what the post must give.
struct Outcome {
    const char* name;
    int httpCode;
    const char* replyBody;
    uint32_t expectedStatus;
    const char* expectedBody;  // null: no body handed out
};

const Outcome kOutcomes[] = {
    {"Ok", 200, "<reply/>", 0x00000000, "<reply/>"},
    {"OkWithoutBody", 200, "", 0x00000000, nullptr},
    {"Accepted", 202, "later", 0x4759001F, nullptr},
    {"MultipleChoices", 300, "", 0x8759000C, nullptr},
    {"MovedPermanently", 301, "", 0x8759000C, nullptr},
    {"Found", 302, "", 0x8759000C, nullptr},
    {"SeeOther", 303, "", 0x8759000C, nullptr},
    {"TemporaryRedirect", 307, "", 0x8759000C, nullptr},
    {"PermanentRedirect", 308, "", 0x8759000C, nullptr},
    {"NotModified", 304, "", 0x8759000D, nullptr},
    {"UseProxy", 305, "", 0xC759000E, nullptr},
    {"BadRequest", 400, "bad", 0xC7590018, nullptr},
    {"Unauthorized", 401, "", 0xC759000F, nullptr},
    {"Forbidden", 403, "", 0xC7590010, nullptr},
    {"NotFound", 404, "", 0xC7590011, nullptr},
    {"InternalError", 500, "oops", 0xC759001A, nullptr},
    {"Busy", 503, "", 0xC7590013, nullptr},
    {"Teapot", 418, "", 0xC759000B, nullptr},
    {"BadGateway", 502, "", 0xC759000B, nullptr},
    {"Created", 201, "made", 0xC7590012, nullptr},
};

// Names the row in test names and failure messages.
void PrintTo(const Outcome& row, std::ostream* out) { *out << row.name; }

class PostOutcomeTest : public ModuleTest, public ::testing::WithParamInterface<Outcome> {};

TEST_P(PostOutcomeTest, GivesTheStatusOfTheRowAndSendsTheExactRequest) {
    const Outcome& row = GetParam();
    TestServer& server = StartServer([&](const httplib::Request&, httplib::Response& response) {
        response.status = row.httpCode;
        if (row.httpCode >= 300 && row.httpCode < 400) response.set_header("Location", "/elsewhere");
        if (*row.replyBody) response.set_content(row.replyBody, "text/plain");
    });
    const PostResult result = Post(AddController("127.0.0.1", server.PortText()), kRequestBody);
    EXPECT_EQ(row.expectedStatus, result.status);
    EXPECT_EQ(row.expectedBody != nullptr, result.hasBody);
    if (row.expectedBody) {
        EXPECT_EQ(row.expectedBody, result.body);
    }
    // Exactly one request: a redirect is never followed.
    const auto requests = server.Requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("POST", requests[0].method);
    EXPECT_EQ(kPath, requests[0].path);
    EXPECT_EQ(kMimeType, requests[0].get_header_value("Content-Type"));
    EXPECT_EQ(kRequestBody, requests[0].body);
    EXPECT_FALSE(requests[0].has_header("Expect"));
    EXPECT_EQ("", requests[0].get_header_value("Authorization"));
}

INSTANTIATE_TEST_SUITE_P(Table, PostOutcomeTest, ::testing::ValuesIn(kOutcomes),
                         [](const auto& info) { return std::string(info.param.name); });

class PostTest : public ModuleTest {};

TEST_F(PostTest, RefusedConnectionIsACommunicationFailure) {
    ClosedPort closed;
    EXPECT_EQ(0xC7590009u, Post(AddController("127.0.0.1", closed.PortText()), kRequestBody).status);
}

TEST_F(PostTest, ServerThatNeverAnswersEndsAtTheTransferTimeout) {
    TestServer* self = nullptr;
    TestServer& server = StartServer([&](const httplib::Request&, httplib::Response&) { self->Hold(); });
    self = &server;
    const int32_t id = AddController("127.0.0.1", server.PortText());
    const uint32_t timeouts[3] = {2000, 300, 60000};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0xC7590009u, Post(id, kRequestBody, timeouts).status);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(250));
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    server.Release();
}

TEST_F(PostTest, ResponseLargerThanTheLimitIsRefusedAndOneAtTheLimitAccepted) {
    LoadModuleProperties("maxResponseBytes = 1000\n");
    auto reply = std::make_shared<std::string>();
    TestServer& server = StartServer([reply](const httplib::Request&, httplib::Response& response) {
        response.set_content(*reply, "text/plain");
    });
    const int32_t id = AddController("127.0.0.1", server.PortText());
    reply->assign(1001, 'x');
    EXPECT_EQ(0xC7590009u, Post(id, kRequestBody).status);
    reply->assign(1000, 'y');
    const PostResult atLimit = Post(id, kRequestBody);
    EXPECT_EQ(0u, atLimit.status);
    EXPECT_EQ(*reply, atLimit.body);
}

TEST_F(PostTest, EndlessChunkedResponseIsCutOffWhileReceiving) {
#if defined(__SANITIZE_THREAD__)
    // Under the ThreadSanitizer runtime of GCC 12 this case intermittently ends with a
    // corrupted frame pointer in the main thread after the aborted transfer; the normal
    // and AddressSanitizer builds run it.
    GTEST_SKIP() << "not run under ThreadSanitizer";
#endif
    LoadModuleProperties("maxResponseBytes = 65536\n");
    // Shared with the server's thread, which may still be writing after the test body ends.
    auto sent = std::make_shared<std::atomic<std::size_t>>(0);
    constexpr std::size_t kEnough = 64u << 20;
    TestServer& server = StartServer([sent](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("text/plain", [sent](size_t, httplib::DataSink& sink) {
            // Ends on its own only after 64 MiB; the client must stop long before.
            if (*sent >= kEnough) {
                sink.done();
                return true;
            }
            const std::string chunk(16384, 'z');
            if (!sink.write(chunk.data(), chunk.size())) return false;
            *sent += chunk.size();
            return true;
        });
    });
    EXPECT_EQ(0xC7590009u, Post(AddController("127.0.0.1", server.PortText()), kRequestBody).status);
    EXPECT_LT(sent->load(), 16u << 20);
}

TEST_F(PostTest, ConsecutivePostsReuseTheConnectionUntilTheControllerIsDeleted) {
    TestServer& server = StartReplying("ok");
    const int32_t id = AddController("127.0.0.1", server.PortText());
    for (int i = 0; i < 3; ++i) ASSERT_EQ(0u, Post(id, kRequestBody).status);
    const auto requests = server.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ(requests[0].remote_port, requests[1].remote_port);
    EXPECT_EQ(requests[0].remote_port, requests[2].remote_port);
    ASSERT_EQ(0u, Scs().SCS_DeleteController(0));
    EXPECT_EQ(0xC7590007u, Post(id, kRequestBody).status);
}

// HTTPS against a server with a certificate made for this test: one row per setting.
struct TlsRow {
    const char* name;
    const char* properties;  // "%s" stands for the certificate file
    bool tlsServer;
    uint32_t expected;
};

void PrintTo(const TlsRow& row, std::ostream* out) { *out << row.name; }

class HttpsPostTest : public ModuleTest, public ::testing::WithParamInterface<TlsRow> {
protected:
    static void SetUpTestSuite() {
        s_certDir = std::make_unique<TempDir>();
        s_certificate = MakeSelfSignedCertificate(s_certDir->Path());
    }
    static void TearDownTestSuite() { s_certDir.reset(); }
    static std::unique_ptr<TempDir> s_certDir;
    static SelfSignedCertificate s_certificate;
};
std::unique_ptr<TempDir> HttpsPostTest::s_certDir;
SelfSignedCertificate HttpsPostTest::s_certificate;

TEST_P(HttpsPostTest, ChecksTheCertificate) {
    const TlsRow& row = GetParam();
    std::string properties = row.properties;
    if (const auto at = properties.find("%s"); at != std::string::npos)
        properties.replace(at, 2, s_certificate.certFile);
    LoadModuleProperties(properties);
    TestServer& server = row.tlsServer ? StartReplying("secret", s_certificate.certFile, s_certificate.keyFile)
                                       : StartReplying("secret");
    const PostResult result = Post(AddController("127.0.0.1", server.PortText(), "https"), kRequestBody);
    EXPECT_EQ(row.expected, result.status);
    EXPECT_EQ(row.expected == 0, result.hasBody);
    EXPECT_EQ(row.expected == 0 ? 1u : 0u, server.Requests().size()) << "nothing reaches an unchecked server";
    if (row.expected == 0) {
        EXPECT_EQ("secret", result.body);
        EXPECT_EQ(kRequestBody, server.Requests()[0].body);
    }
}

const TlsRow kTlsRows[] = {
    {"SelfSignedRefusedWithoutTheCaFile", "", true, 0xC7590014},
    {"SelfSignedAcceptedWithTheCaFile", "caFile = %s\n", true, 0},
    {"VerificationTurnedOff", "verifyPeer = 0\n", true, 0},
    {"PlainHttpServerBehindAnHttpsController", "", false, 0xC7590014},
};

INSTANTIATE_TEST_SUITE_P(Table, HttpsPostTest, ::testing::ValuesIn(kTlsRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zel::scs::test
