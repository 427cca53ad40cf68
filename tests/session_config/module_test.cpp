// The module through its real entry points, loaded with dlopen: life cycle, exports, the C boundary, allocation, bad
// input, settings-changed callbacks, posts to HTTP(S) servers on 127.0.0.1 and concurrent use.
#include <netinet/in.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>

#include "module_fixture.h"

extern "C" int ScsPlainCCheck(const char* modulePath);

namespace zel::scs::test {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kBad = 0xC7590008, kNotInit = 0xC7590001, kNotImpl = 0xC721003C;

// Polls `condition` for up to 5 s; true as soon as it holds.
bool Eventually(const std::function<bool()>& condition) {
    for (const auto end = std::chrono::steady_clock::now() + 5s; !condition(); std::this_thread::sleep_for(5ms))
        if (std::chrono::steady_clock::now() > end) return false;
    return true;
}

// One call that must give `expected` and leave g_text and g_response null.
struct Call { const char* name; std::function<uint32_t()> call; uint32_t expected; };
#define CALL(expression, expected) Call{#expression, [&] { return expression; }, expected}

char* g_text = nullptr;
char* g_response = nullptr;

void ExpectCalls(const std::vector<Call>& calls) {
    for (const Call& row : calls) {
        EXPECT_EQ(row.expected, row.call()) << row.name;
        EXPECT_TRUE(!g_text && !g_response) << row.name;
    }
}

uint32_t PostRaw(int32_t id, const char* path, const char* mime, const char* body, uint32_t length,
                 bool withResponse = true, bool withLength = true) {
    uint32_t responseLength = 0;
    return SCS(PostData)(0, id, path, 0, mime, body, length, nullptr, withResponse ? &g_response : nullptr,
                         withLength ? &responseLength : nullptr);
}

uint32_t Add(const char* name, const char* host, const char* port, const char* proxyHost = nullptr,
             const char* proxyPort = nullptr) {
    return SCS(AddController)(name, host, port, nullptr, proxyHost, proxyPort, nullptr, nullptr, nullptr, nullptr);
}

TEST(ScsLifecycle, ExportsServesPlainCRefusesCallsBeforeInitAndStartsOnceWhenConcurrent) {
    // Every exported name is called (and so found) by the tests here; nothing else is exported.
    FILE* pipe = ::popen("nm -D --defined-only '" ZEL_SCS_MODULE_PATH "'", "r");
    ASSERT_NE(nullptr, pipe);
    std::set<std::string> exported;
    char line[512], address[64], kind[8], name[400];
    while (std::fgets(line, sizeof line, pipe))
        if (std::sscanf(line, "%63s %7s %399s", address, kind, name) == 3) exported.insert(name);
    ASSERT_EQ(0, ::pclose(pipe));
    EXPECT_EQ(32u, exported.size());
    for (const std::string& symbol : exported) EXPECT_EQ(0u, symbol.rfind("SCS_", 0)) << symbol;
    EXPECT_EQ(0, ScsPlainCCheck(ZEL_SCS_MODULE_PATH));
    // Bad starts and every call before a start are refused.
    const std::string huge(100000, 'a');
    uint32_t count = 0;
    void* block = nullptr;
    EXPECT_EQ(0u, SCS(ShutDown)());
    ExpectCalls({
        CALL(SCS(Init)(nullptr, kAgentId, 0, nullptr, nullptr), kBad),
        CALL(SCS(Init)("2.0", kAgentId, 0, nullptr, nullptr), kBad),
        CALL(SCS(Init)("3.0", nullptr, 0, nullptr, nullptr), kBad),
        CALL(SCS(Init)("3.0", huge.c_str(), 0, nullptr, nullptr), kBad),
        CALL(SCS(GetControllerCount)(&count), kNotInit), CALL(SCS(LoadLocalProperties)("/nonexistent"), kNotInit),
        CALL(SCS(RetrieveLocalProperty)("a", "b", &g_text), kNotInit), CALL(SCS(Allocate)(16, &block), kNotInit),
        CALL(Add("n", "h", "1"), kNotInit), CALL(PostRaw(1, kPath, kMimeType, "x", 1), kNotInit),
        CALL(SCS(Free)(nullptr), 0),
    });
    EXPECT_EQ(nullptr, block);
    // Of eight concurrent starts one starts the module; a shut-down module starts afresh.
    for (int round = 0; round < 2; ++round) {
        std::atomic<int> started{0}, already{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&] {
                const uint32_t status = SCS(Init)("3.0", kAgentId, 7, nullptr, nullptr);
                started += status == 0;
                already += status == 0x47590002u;
            });
        for (auto& thread : threads) thread.join();
        EXPECT_EQ(std::make_pair(1, 7), std::make_pair(started.load(), already.load())) << "started, already";
        count = 99;
        ASSERT_EQ(0u, SCS(GetControllerCount)(&count));
        EXPECT_EQ(0u, count) << "round " << round;
        ASSERT_EQ(0u, Add("a", "h.example", "80"));
        EXPECT_EQ(0u, SCS(ShutDown)());
    }
}

// Allocation and the group name hint, then bad input: the controller fields' checks shared with group settings
// documents are tested on the malformed documents. The entry points outside the module's job are not implemented.
TEST_F(ModuleTest, AllocatesZeroedBlocksRefusesBadInputAndLeavesOtherEntryPointsUnimplemented) {
    void* block = nullptr;
    ASSERT_EQ(0u, SCS(Allocate)(64, &block));
    ASSERT_NE(nullptr, block);
    const unsigned char zeros[64] = {};
    EXPECT_EQ(0, std::memcmp(zeros, block, sizeof zeros));
    EXPECT_EQ(0u, SCS(Free)(block));
    ASSERT_EQ(0u, SCS(SetGroupnameHint)("Default Group"));
    EXPECT_EQ("1.0.0|Default Group", Info());
    ASSERT_EQ(0u, SCS(SetGroupnameHint)(nullptr));
    EXPECT_EQ("1.0.0|<null>", Info());
    const std::string huge(1 << 20, 'h');
    const std::string hugePath = "/" + std::string(8000, 'p');
    uint32_t length = 5;
    int32_t* servers = nullptr;
    ScsText none;
    const uint32_t timeouts[3] = {0, 0, 0};
    g_response = reinterpret_cast<char*>(1);
    const int32_t id = AddController("127.0.0.1", "1");
    ExpectCalls({
        CALL(SCS(PostDataFile)(0, 1, "/", 0, "a/b", "f", timeouts, &g_response, &length), kNotImpl),
        CALL(SCS(Allocate)(0, &block), kBad), CALL(SCS(Allocate)(8, nullptr), kBad),
        CALL(SCS(S_Init)("3.0", kAgentId, 0, nullptr, nullptr), kNotImpl), CALL(SCS(S_ShutDown)(), kNotImpl),
        CALL(SCS(LoadServerSettings)("x"), kNotImpl), CALL(SCS(S_RegisterOnPostData)(nullptr), kNotImpl),
        CALL(SCS(S_StartServer)(), kNotImpl), CALL(SCS(S_StopServer)(), kNotImpl),
        CALL(SCS(PostUpdateData)(0, 1, "/", "a/b", "x", 1, "out"), kNotImpl), CALL(SCS(InitUpdater)("dir"), kNotImpl),
        CALL(SCS(UninitUpdater)(), kNotImpl), CALL(SCS(S_SetAgentId)(kAgentId), kNotImpl),
        CALL(SCS(S_SetLastGoodAgentId)(kAgentId), kNotImpl), CALL(SCS(LoadLocalProperties)(nullptr), kBad),
        CALL(SCS(LoadLocalProperties)(""), kBad), CALL(SCS(LoadLocalProperties)(huge.c_str()), kBad),
        CALL(SCS(LoadGroupSettings)(nullptr), kBad), CALL(SCS(RetrieveLocalProperty)("a", "b", nullptr), kBad),
        CALL(SCS(RetrieveLocalProperty)("a", nullptr, &g_text), kBad),
        CALL(SCS(RetrieveLocalProperty)(nullptr, "b", &g_text), kBad),
        CALL(SCS(RetrieveLocalProperty)("a", huge.c_str(), &g_text), kBad),
        CALL(SCS(GetDestinations)(0, nullptr, &length), kBad), CALL(SCS(GetDestinations)(0, &servers, nullptr), kBad),
        CALL(SCS(GetGroupSettingsInfo)(0, 0, nullptr, &g_text), kBad), CALL(SCS(GetControllerCount)(nullptr), kBad),
        CALL(SCS(GetControllerInfo)(1, &none.p, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), kBad),
        CALL(Add("n", nullptr, "80"), kBad), CALL(Add("n", "h", nullptr), kBad), CALL(Add("n", "h", "123456"), kBad),
        CALL(Add("n", "h/x", "80"), kBad), CALL(Add("n", "[::1", "80"), kBad), CALL(Add("a\r\nb", "h", "80"), kBad),
        CALL(Add(huge.c_str(), "h", "80"), kBad), CALL(Add("\xC3\x28", "h", "80"), kBad),
        CALL(Add("n", "h", "80", "p/x", "1"), kBad), CALL(Add("n", "h", "80", "p", "x"), kBad),
        CALL(SCS(DeleteController)(1), kBad), CALL(SCS(SetAgentId)(nullptr), kBad), CALL(SCS(SetAgentId)(""), kBad),
        CALL(SCS(SetAgentId)("a\nb"), kBad), CALL(SCS(SetAgentId)("a "), kBad),
        CALL(SCS(SetAgentId)(huge.c_str()), kBad), CALL(SCS(SetAgentId)("x"), 0xC7590005),
        CALL(SCS(SetGroupnameHint)(huge.c_str()), kBad), CALL(SCS(SetGroupnameHint)("\xFF"), kBad),
        CALL(SCS(RegisterSettingsChanged)(nullptr), kBad), CALL(SCS(UnregisterSettingsChanged)(nullptr), kBad),
        CALL(SCS(UnregisterSettingsChanged)([]() -> uint32_t { return 0; }), kBad),
        CALL(SCS(SaveGroupSettings)(huge.c_str()), kBad), CALL(SCS(SaveGroupSettings)(nullptr), 0xC7590005),
        CALL(PostRaw(id, nullptr, "a/b", "x", 1), kBad), CALL(PostRaw(id, "zel", "a/b", "x", 1), kBad),
        CALL(PostRaw(id, "/a b", "a/b", "x", 1), kBad), CALL(PostRaw(id, hugePath.c_str(), "a/b", "x", 1), kBad),
        CALL(PostRaw(id, "/", nullptr, "x", 1), kBad), CALL(PostRaw(id, "/", "", "x", 1), kBad),
        CALL(PostRaw(id, "/", "a/b\r\nX-Evil: 1", "x", 1), kBad), CALL(PostRaw(id, "/", "a/b", nullptr, 10), kBad),
        CALL(PostRaw(id, "/", "a/b", "x", 1, false), kBad), CALL(PostRaw(id, "/", "a/b", "x", 1, true, false), kBad),
        CALL(PostRaw(id + 1000, "/", "a/b", "x", 1), 0xC7590007), CALL(PostRaw(-1, "/", "a/b", "x", 1), 0xC7590007),
    });
    EXPECT_EQ(nullptr, block);
    EXPECT_EQ(0u, length);
    EXPECT_EQ(nullptr, none.p);
    EXPECT_EQ(std::vector<int32_t>{id}, Destinations()) << "no bad controller was added";
}

// Settings-changed callbacks are plain C functions, so they report through these counters.
std::atomic<int> g_calls{0}, g_slowStarted{0}, g_slowFinished{0};
std::atomic<bool> g_onCallerThread{false};
std::thread::id g_callerThread;
std::atomic<uint32_t> g_countSeen{0};

uint32_t CountingCallback() {
    if (std::this_thread::get_id() == g_callerThread) g_onCallerThread = true;
    // The module's lock must be free here: a call back into the module must not block.
    uint32_t count = 0;
    SCS(GetControllerCount)(&count);
    g_countSeen = count;
    ++g_calls;
    return 0;
}

uint32_t SlowCallback() {
    ++g_slowStarted;
    std::this_thread::sleep_for(300ms);
    ++g_slowFinished;
    return 0;
}

TEST_F(ModuleTest, CalledOnTheNotifierThreadAfterChangesAndReloadsUntilUnregistered) {
    g_callerThread = std::this_thread::get_id();
    ASSERT_EQ(0u, SCS(RegisterSettingsChanged)(&CountingCallback));
    const std::string path = Write("agent.properties", "[session_config]\nwatchInterval = 1\n[s]\nr = 1\n");
    ASSERT_EQ(0u, SCS(LoadLocalProperties)(path.c_str()));
    ASSERT_TRUE(Eventually([] { return g_calls >= 1; }));
    int before = g_calls;
    // The watched file is reloaded when it changes.
    WriteFile(path, "[session_config]\nwatchInterval = 1\n[s]\nr = 22\n");
    ASSERT_TRUE(Eventually([&] { return g_calls > before; }));
    EXPECT_EQ("22", Retrieve("s", "r"));
    before = g_calls;
    AddController("a.example", "80");
    ASSERT_TRUE(Eventually([&] { return g_calls > before; }));
    before = g_calls;
    ASSERT_EQ(0u, SCS(DeleteController)(0));
    ASSERT_TRUE(Eventually([&] { return g_calls > before && g_countSeen == 0; }));
    EXPECT_FALSE(g_onCallerThread);
    // A failed load is no change.
    before = g_calls;
    EXPECT_EQ(0xC7590005u, SCS(LoadLocalProperties)(m_dir.File("missing").c_str()));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(before, g_calls);
    EXPECT_EQ(0u, SCS(UnregisterSettingsChanged)(&CountingCallback));
    AddController("b.example", "80");
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(before, g_calls) << "no call after unregistering";
}

TEST_F(ModuleTest, UnregisterAndShutDownWaitForTheCallInProgress) {
    for (const bool byShutDown : {false, true}) {
        g_slowStarted = g_slowFinished = 0;
        ASSERT_EQ(0u, SCS(RegisterSettingsChanged)(&SlowCallback));
        AddController("a.example", "80");
        ASSERT_TRUE(Eventually([] { return g_slowStarted == 1; }));
        EXPECT_EQ(0u, byShutDown ? SCS(ShutDown)() : SCS(UnregisterSettingsChanged)(&SlowCallback));
        EXPECT_EQ(1, g_slowFinished.load()) << (byShutDown ? "shut down" : "unregister");
    }
}

// SCS_PostData against real HTTP and HTTPS servers on 127.0.0.1 (credentials and proxies: see the group settings
// tests). The body is binary: a zero byte and a byte above 0x7F inside.
const std::string kRequestBody("<cml>\0\xff</cml>", 14);

// Each reply gives its status; only a success hands out the body, when there is one. Exactly one request of the
// exact bytes goes out: a redirect is never followed.
TEST_F(ModuleTest, PostGivesTheStatusOfEachReplyAndSendsTheExactRequest) {
    const struct { const char* name; int httpCode; const char* replyBody; uint32_t expectedStatus; } outcomes[] = {
        {"Ok", 200, "<reply/>", 0}, {"OkWithoutBody", 200, "", 0}, {"Accepted", 202, "later", 0x4759001F},
        {"Found", 302, "", 0x8759000C}, {"NotModified", 304, "", 0x8759000D}, {"UseProxy", 305, "", 0xC759000E},
        {"BadRequest", 400, "bad", 0xC7590018}, {"Unauthorized", 401, "", 0xC759000F},
        {"Forbidden", 403, "", 0xC7590010}, {"NotFound", 404, "", 0xC7590011}, {"Busy", 503, "", 0xC7590013},
        {"InternalError", 500, "oops", 0xC759001A}, {"Teapot", 418, "", 0xC759000B},
        {"Created", 201, "made", 0xC7590012},
    };
    for (const auto& row : outcomes) {
        SCOPED_TRACE(row.name);
        TestServer& server = StartServer([&row](const httplib::Request&, httplib::Response& response) {
            response.status = row.httpCode;
            if (row.httpCode >= 300 && row.httpCode < 400) response.set_header("Location", "/elsewhere");
            if (*row.replyBody) response.set_content(row.replyBody, "text/plain");
        });
        const PostResult result = Post(AddController("127.0.0.1", server.port), kRequestBody);
        EXPECT_EQ(row.expectedStatus, result.status);
        EXPECT_EQ(row.expectedStatus == 0 && *row.replyBody, result.hasBody);
        EXPECT_EQ(row.expectedStatus == 0 ? row.replyBody : "", result.body);
        const auto requests = server.Requests();
        ASSERT_EQ(1u, requests.size());
        const httplib::Request& r = requests[0];
        EXPECT_EQ("POST " + std::string(kPath) + " " + kMimeType + " " + kRequestBody,
                  r.method + " " + r.path + " " + r.get_header_value("Content-Type") + " " + r.body);
        EXPECT_FALSE(r.has_header("Expect") || r.has_header("Authorization"));
    }
}

// A port on 127.0.0.1 bound for the test's life: connections to it are refused, or, when it listens, accepted by
// the system and never answered.
struct RawPort {
    explicit RawPort(bool listening) {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        EXPECT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
        EXPECT_EQ(0, listening ? ::listen(fd, 8) : 0);
        EXPECT_EQ(0, ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length));
        port = std::to_string(ntohs(address.sin_port));
    }
    ~RawPort() { ::close(fd); }
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    std::string port;
};

TEST_F(ModuleTest, RefusedAndNeverAnsweredConnectionsAreCommunicationFailures) {
    RawPort refused(false), silent(true);
    EXPECT_EQ(0xC7590009u, Post(AddController("127.0.0.1", refused.port), kRequestBody).status);
    const uint32_t timeouts[3] = {2000, 300, 60000};
    EXPECT_EQ(0xC7590009u, Post(AddController("127.0.0.1", silent.port), kRequestBody, timeouts).status);
}

// The connection is kept and follows the controller's settings; a reply over the limit is refused, and an endless
// one is cut off while it is received.
TEST_F(ModuleTest, PostsReuseTheConnectionAndRefuseResponsesLargerThanTheLimit) {
    LoadModuleProperties("maxResponseBytes = 1000\n");
    auto reply = std::make_shared<std::string>(1000, 'y');
    auto& server = StartServer([reply](const httplib::Request&, httplib::Response& r) { r.set_content(*reply, "x"); });
    const int32_t id = AddController("127.0.0.1", server.port);
    for (int i = 0; i < 3; ++i) {
        const PostResult atLimit = Post(id, kRequestBody);
        EXPECT_EQ(std::make_pair(0u, *reply), std::make_pair(atLimit.status, atLimit.body));
    }
    // The same controller listed again with credentials: the kept connection now carries them, then a post of
    // another MIME type its header, then the credentials are gone again.
    ASSERT_EQ(0u, SCS(AddController)("again", "127.0.0.1", server.port.c_str(), nullptr, nullptr, nullptr, "agent",
                                     "secret", nullptr, nullptr));
    EXPECT_EQ(0u, Post(id, kRequestBody).status);
    EXPECT_EQ(0u, PostRaw(id, kPath, "text/x-other", "b", 1));
    SCS(Free)(g_response);
    g_response = nullptr;
    ASSERT_EQ(0u, SCS(DeleteController)(1));
    EXPECT_EQ(0u, Post(id, kRequestBody).status);
    const auto requests = server.Requests();
    ASSERT_EQ(6u, requests.size());
    for (const auto& request : requests) EXPECT_EQ(requests[0].remote_port, request.remote_port);
    EXPECT_EQ("Basic YWdlbnQ6c2VjcmV0", requests[3].get_header_value("Authorization"));
    EXPECT_EQ("text/x-other", requests[4].get_header_value("Content-Type"));
    EXPECT_EQ("Basic YWdlbnQ6c2VjcmV0", requests[4].get_header_value("Authorization"));
    EXPECT_FALSE(requests[5].has_header("Authorization"));
    EXPECT_EQ(kMimeType, requests[5].get_header_value("Content-Type"));
    reply->assign(1001, 'x');
    EXPECT_EQ(0xC7590009u, Post(id, kRequestBody).status);
    ASSERT_EQ(0u, SCS(DeleteController)(0));
    EXPECT_EQ(0xC7590007u, Post(id, kRequestBody).status);
#if !defined(__SANITIZE_THREAD__)
    // Left out under ThreadSanitizer: with the runtime of GCC 12 the main thread intermittently ends with a
    // corrupted frame pointer after the aborted transfer. Shared with the server's thread, which may still be
    // writing after the test body ends; it ends on its own only after 64 MiB.
    auto sent = std::make_shared<std::atomic<std::size_t>>(0);
    TestServer& endless = StartServer([sent](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("text/plain", [sent](size_t, httplib::DataSink& sink) {
            if (*sent >= 64u << 20) return sink.done(), true;
            *sent += 16384;
            return sink.write(std::string(16384, 'z').data(), 16384);
        });
    });
    EXPECT_EQ(0xC7590009u, Post(AddController("127.0.0.1", endless.port), kRequestBody).status);
    EXPECT_LT(sent->load(), 16u << 20);
#endif
}

// A directory with a self-signed certificate for 127.0.0.1 (crt) and its key (key), made once.
const TempDir& Certificate() {
    static const TempDir dir;
    static const int made = std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext"
                                         " subjectAltName=IP:127.0.0.1 -keyout " + dir.File("key") + " -out " +
                                         dir.File("crt") + " >/dev/null 2>&1").c_str());
    EXPECT_EQ(0, made);
    return dir;
}

// HTTPS against a server with the certificate made for the test, one row per setting; nothing reaches a server that
// is not trusted. The kept handle of a controller is set up again when the settings change under it.
TEST_F(ModuleTest, HttpsChecksTheCertificateAsTheSettingsSay) {
    const std::string crt = Certificate().File("crt"), key = Certificate().File("key");
    const struct { const char* name; const char* properties; bool caFile, tlsServer; uint32_t expected; } rows[] = {
        {"SelfSignedRefusedWithoutTheCaFile", "", false, true, 0xC7590014},
        {"SelfSignedAcceptedWithTheCaFile", "", true, true, 0},
        {"VerificationTurnedOff", "verifyPeer = 0\n", false, true, 0},
        {"PlainHttpServerBehindAnHttpsController", "", false, false, 0xC7590014},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LoadModuleProperties(row.properties + (row.caFile ? "caFile = " + crt : std::string()));
        TestServer& server = StartReplying("secret", row.tlsServer ? crt : "", key);
        const PostResult result = Post(AddController("127.0.0.1", server.port, "https"), kRequestBody);
        EXPECT_EQ(row.expected, result.status);
        EXPECT_EQ(row.expected == 0, result.hasBody);
        EXPECT_EQ(row.expected == 0 ? "secret" : "", result.body);
        EXPECT_EQ(row.expected == 0 ? 1u : 0u, server.Requests().size());
    }
    LoadModuleProperties("verifyPeer = 0\n");
    TestServer& server = StartReplying("secret", crt, key);
    const int32_t id = AddController("127.0.0.1", server.port, "https");
    EXPECT_EQ(0u, Post(id, kRequestBody).status);
    LoadModuleProperties("");
    EXPECT_EQ(0xC7590014u, Post(id, kRequestBody).status) << "verification turned back on reaches the kept handle";
    EXPECT_EQ(1u, server.Requests().size());
}

// Posts from several threads while others reload and rewrite the property and group settings files and change the
// controller list (run under ASan and TSan too).
class ScsConcurrency : public ModuleTest {
protected:
    // `posters` threads post `postsEach` posts each to `id` while `changers` threads call change(n) for n = 0, 1, ...
    // until the posts are done; every post must come back and every change succeed.
    void Run(int posters, int postsEach, int32_t id, int changers, const std::function<bool(int)>& change) {
        std::atomic<bool> stop{false};
        std::atomic<int> failures{0}, rounds{0};
        std::vector<std::thread> changing, posting;
        for (int c = 0; c < changers; ++c)
            changing.emplace_back([&] { while (!stop) failures += !change(rounds++); });
        for (int t = 0; t < posters; ++t)
            posting.emplace_back([&, t] {
                for (int i = 0; i < postsEach; ++i) {
                    const std::string request = "thread " + std::to_string(t) + " post " + std::to_string(i);
                    const PostResult result = Post(id, request);
                    failures += result.status != 0 || result.body != "echo:" + request;
                }
            });
        for (auto& thread : posting) thread.join();
        stop = true;
        for (auto& thread : changing) thread.join();
        EXPECT_EQ(0, failures.load());
        EXPECT_GT(rounds.load(), 0);
        EXPECT_EQ(static_cast<std::size_t>(posters * postsEach), m_echo.Requests().size());
    }

    TestServer& m_echo = StartServer([](const auto& q, auto& r) { r.set_content("echo:" + q.body, "x"); });
};

TEST_F(ScsConcurrency, PostsWhileSettingsAndControllersChange) {
    const std::string path = Write("agent.properties", "[session_config]\nmaxResponseBytes = 100000\n");
    ASSERT_EQ(0u, SCS(LoadLocalProperties)(path.c_str()));
    const int32_t id = AddController("127.0.0.1", m_echo.port);
    int last = 0;
    // The posters' controller stays first; the added one goes again.
    Run(4, 200, id, 1, [&](int n) {
        last = n;
        return SCS(LoadLocalProperties)(path.c_str()) == 0 &&
               SCS(SetAgentId)(("agent-" + std::to_string(n)).c_str()) == 0 &&
               Add("x", ("other" + std::to_string(n % 5) + ".example").c_str(), "80") == 0 &&
               SCS(DeleteController)(1) == 0;
    });
    EXPECT_EQ(std::vector<int32_t>{id}, Destinations());
    EXPECT_EQ("agent-" + std::to_string(last), Retrieve("session_config", "agentId"));
    EXPECT_EQ(std::vector<std::string>{"agent.properties"}, m_dir.Entries());
}

// Two threads load and save the group settings file in turn (each parse on its own thread, each save replacing the
// file another thread may be reading) while posts go on.
TEST_F(ScsConcurrency, PostsWhileGroupSettingsAreLoadedAndSaved) {
    const std::string path = Write(
        "group.xml", "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='G'><controller-list>"
                     "<controller-info host-name='127.0.0.1' port='" + m_echo.port + "' passwd='s&amp;'/>"
                     "<controller-info host-name='backup.example' port='80'/></controller-list></policy>");
    ASSERT_EQ(0u, SCS(LoadGroupSettings)(path.c_str()));
    const std::vector<int32_t> ids = Destinations();
    ASSERT_EQ(2u, ids.size());
    Run(2, 100, ids[0], 2, [&](int) {
        return SCS(LoadGroupSettings)(path.c_str()) == 0 && SCS(SaveGroupSettings)(nullptr) == 0 &&
               Info() == "1.0.0|G";
    });
    EXPECT_EQ(ids, Destinations());
    EXPECT_NE(std::string::npos, ReadFile(path).find(" passwd='s&amp;'/>"));
    EXPECT_EQ(std::vector<std::string>{"group.xml"}, m_dir.Entries());
}

}  // namespace
}  // namespace zel::scs::test
