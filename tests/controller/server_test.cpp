// The real ss-controller on a loopback port: heartbeats, pings, the agents document and the
// request queue over HTTP, concurrent agents, the schema directory, HTTPS with libcurl as the
// agent posts, injected faults, and refused starts and the help.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <curl/curl.h>
#include <httplib.h>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "controller/cml_texts.h"
#include "controller/test_files.h"
#include "support/controller_process.h"
#include "tools/controller/options.h"
#include "tools/controller/reply_builder.h"

namespace zel::controller {
namespace {

constexpr const char* kCml = "application/x-zel-cml-data";
constexpr const char* kHeartbeatPath = "/zel/sensor_services/heartbeat";

// ss-controller serving the example group settings, with `extra` arguments.
class Controller : public zel::test::ControllerProcess {
public:
    explicit Controller(std::vector<std::string> extra = {}) : ControllerProcess(SS_CONTROLLER_PATH, With(extra)) {}

    httplib::Result Post(const std::string& path, const std::string& body) const {
        return httplib::Client("127.0.0.1", Port()).Post(path, body, kCml);
    }
    httplib::Result Get(const std::string& path) const { return httplib::Client("127.0.0.1", Port()).Get(path); }
    std::string Url(const std::string& path, const char* scheme = "http") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(Port()) + path;
    }
    // The log once it holds `count` lines (after Stop: every line the controller wrote).
    std::vector<std::string> Log(std::size_t count) const {
        WaitForLogLines("", count);
        return LogLines();
    }

private:
    static std::vector<std::string> With(std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"--group-settings", ZEL_EXAMPLES_DIR "/group_settings.xml"});
        return extra;
    }
};

const std::string kHeartbeat = testing::AgentHeartbeat("0");

using testing::Envelope;
using testing::ParseReply;

struct CurlResult {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
};

size_t AppendBody(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

// POSTs `body` with libcurl, as the agent's session-config module does; `caFile` non-empty
// verifies the server against it.
CurlResult CurlPost(const std::string& url, const std::string& body, const std::string& caFile = "") {
    CurlResult result;
    CURL* curl = curl_easy_init();
    if (curl == nullptr) return {CURLE_FAILED_INIT, 0, ""};
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/x-zel-cml-data");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    result.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return result;
}

TEST(ControllerServer, HeartbeatPingAndAgentsOverHttp) {
    Controller controller({"--group-settings-version", "5"});
    ASSERT_GT(controller.Port(), 0);

    auto heartbeat = controller.Post(kHeartbeatPath, kHeartbeat);
    ASSERT_TRUE(heartbeat);
    EXPECT_EQ(heartbeat->status, 200);
    EXPECT_EQ(heartbeat->get_header_value("Content-Type"), kCml);
    EXPECT_NE(heartbeat->body.find("response-to='hb-1'"), std::string::npos);
    // The reply itself is checked on the reply builder; here the version is the command line's.
    EXPECT_NE(heartbeat->body.find("version='5' schema-version='1.0.0' token='5'>"), std::string::npos);

    auto refused = controller.Post(kHeartbeatPath, "not xml");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400);

    auto ping = controller.Post("/zel/sensor_services/ping", "ping-<7>");
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->status, 200);
    EXPECT_EQ(ping->get_header_value("Content-Type"), "application/x-zel-xml-data");
    EXPECT_EQ(ping->body, BuildPingReply("ping-<7>").body);

    auto agents = controller.Get("/admin/agents");
    ASSERT_TRUE(agents);
    EXPECT_EQ(agents->status, 200);
    EXPECT_EQ(agents->get_header_value("Content-Type"), "application/json");
    // The version sent is the one of the command line.
    EXPECT_NE(agents->body.find("\"group_settings_token\":\"0\",\"group_settings_version\":\"5\",\"heartbeats\":1,"),
              std::string::npos)
        << agents->body;

    EXPECT_EQ(controller.Stop(), 0);
    // One log line per exchange, in order.
    const std::vector<std::string> lines = controller.Log(4);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0],
              "heartbeat from A-1 (Agent & One) message hb-1: reply 200, 2 responses, 0 requests; "
              "settings sent; 0 responses received");
    EXPECT_EQ(lines[1].rfind("heartbeat refused: reply 400, heartbeat is not a CML document: ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], "ping ping-<7>: 200");
    EXPECT_EQ(lines[3], "agents: 200");
}

// Several agents at once: every heartbeat is answered and counted for its own agent.
TEST(ControllerServer, ConcurrentAgentsAreCountedApart) {
    Controller controller;
    ASSERT_GT(controller.Port(), 0);
    constexpr int kAgents = 4;
    constexpr int kHeartbeats = 10;
    std::vector<std::thread> agents;
    std::vector<int> answered(kAgents, 0);
    for (int agent = 0; agent < kAgents; ++agent) {
        agents.emplace_back([&, agent] {
            std::string body = kHeartbeat;
            for (std::size_t at = body.find("A-1"); at != std::string::npos; at = body.find("A-1", at))
                body.replace(at, 3, "B-" + std::to_string(agent));
            httplib::Client client("127.0.0.1", controller.Port());
            for (int i = 0; i < kHeartbeats; ++i) {
                auto reply = client.Post(kHeartbeatPath, body, kCml);
                if (reply && reply->status == 200 &&
                    reply->body.find("agent-id='B-" + std::to_string(agent) + "'") != std::string::npos)
                    ++answered[agent];
            }
        });
    }
    for (auto& thread : agents) thread.join();
    auto list = controller.Get("/admin/agents");
    ASSERT_TRUE(list);
    for (int agent = 0; agent < kAgents; ++agent) {
        EXPECT_EQ(answered[agent], kHeartbeats);
        EXPECT_NE(list->body.find("{\"agent_id\":\"B-" + std::to_string(agent) + "\""), std::string::npos);
    }
    std::size_t counted = 0;
    for (std::size_t at = list->body.find("\"heartbeats\":10,"); at != std::string::npos;
         at = list->body.find("\"heartbeats\":10,", at + 1))
        ++counted;
    EXPECT_EQ(counted, static_cast<std::size_t>(kAgents)) << list->body;
    EXPECT_EQ(controller.Stop(), 0);
}

TEST(ControllerServer, QueuedRequestsGoOutOnceInTheNextReply) {
    Controller controller;
    ASSERT_GT(controller.Port(), 0);
    const struct {
        const char* query;
        const char* body;
        const char* answer;  // the request id it is queued with; null when refused
    } queued[] = {
        {"/admin/queue", "<get-schema-request xmlns='http://schemas.zel.example/cml'/>", nullptr},
        {"/admin/queue?agent=A-9", "not xml", nullptr},
        {"/admin/queue?agent=A-9",
         "<get-schema-request xmlns='http://schemas.zel.example/cml'><schema-info namespace='urn:x' name='x'/>"
         "</get-schema-request>",
         ""},
        {"/admin/queue?agent=A-9", "<frobnicate-request xmlns='http://schemas.zel.example/cml' request-id='op-2'/>",
         "op-2"},
    };
    std::string assignedId;
    for (const auto& c : queued) {
        SCOPED_TRACE(c.body);
        auto answer = controller.Post(c.query, c.body);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, c.answer ? 200 : 400);
        if (c.answer == nullptr) continue;
        EXPECT_EQ(answer->get_header_value("Content-Type"), "application/json");
        // Without a request id of its own, the request is given a new 36-character one.
        const std::string id = *c.answer ? c.answer : answer->body.substr(15, 36);
        if (!*c.answer) assignedId = id;
        EXPECT_EQ(answer->body, "{\"request-id\":\"" + id + "\"}\n");
    }

    // The reply's requests themselves are checked on the reply builder; the log shows which went.
    const std::string answer = "<error-response request-id='op-2' code='0xC7380004' text='no'/>";
    for (const std::string& body : {Envelope("", "", "hb-1"), Envelope("", answer, "hb-2")}) {
        auto reply = controller.Post(kHeartbeatPath, body);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 200);
    }

    EXPECT_EQ(controller.Stop(), 0);
    const std::vector<std::string> lines = controller.Log(7);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "queue: reply 400, no agent");
    EXPECT_EQ(lines[1].rfind("queue for A-9: reply 400, not a CML request element: ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], "queued get-schema-request " + assignedId + " for A-9");
    EXPECT_EQ(lines[3], "queued frobnicate-request op-2 for A-9");
    EXPECT_EQ(lines[4],
              "heartbeat from A-9 (Nine) message hb-1: reply 200, 0 responses, 2 requests; settings not asked; "
              "0 responses received; delivered get-schema-request " + assignedId +
                  "; delivered frobnicate-request op-2");
    EXPECT_EQ(lines[5],
              "heartbeat from A-9 (Nine) message hb-2: reply 200, 0 responses, 0 requests; settings not asked; "
              "1 response received");
    EXPECT_EQ(lines[6], "frobnicate-request op-2 answered by A-9: error-response 0xc7380004 (no)");
}

// The answers themselves are checked on the reply builder: here the schema directory given on
// the command line is the one used, and what the agent set and answered reaches its record.
TEST(ControllerServer, UsesItsSchemaDirectoryAndRecordsPoliciesAndResponses) {
    testing::TempDir root;
    ASSERT_EQ(::mkdir(root.File("schemas").c_str(), 0755), 0);
    Controller controller({"--schema-dir", root.File("schemas")});
    ASSERT_GT(controller.Port(), 0);
    auto reply = controller.Post(
        kHeartbeatPath,
        Envelope("<set-policy-request request-id='sp-1'><policy xmlns='urn:p' name='P' version='2'/>"
                 "</set-policy-request>"
                 "<set-schema-request request-id='ss-1'><schema-info namespace='urn:s' name='kept'>"
                 "<schema xmlns='http://www.w3.org/2001/XMLSchema' version='1'/></schema-info></set-schema-request>",
                 "<get-schema-response request-id='op-8'><schema-info namespace='urn:s' name='s' code='0x7'/>"
                 "</get-schema-response>"));
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->status, 200) << reply->body;
    EXPECT_EQ(ParseReply(reply->body).GetResponses().size(), 2u);
    EXPECT_TRUE(testing::FileExists(root.File("schemas/kept.xsd")));

    auto agents = controller.Get("/admin/agents");
    ASSERT_TRUE(agents);
    EXPECT_NE(agents->body.find("\"policies_set\":[{\"name\":\"P\",\"namespace\":\"urn:p\",\"version\":\"2\"}],"
                                "\"responses\":[{\"tag\":\"get-schema-response\",\"request_id\":\"op-8\","
                                "\"code\":\"0x00000000\",\"text\":\"\",\"items\":[{\"name\":\"s\","
                                "\"namespace\":\"urn:s\",\"code\":\"0x00000007\"}]}]"),
              std::string::npos)
        << agents->body;
    EXPECT_EQ(controller.Stop(), 0);
}

TEST(ControllerServer, ServesHttpsWithACertificate) {
    testing::TempDir root;
    const testing::Certificate certificate = testing::MakeSelfSignedCertificate(root.Path());
    Controller controller({"--cert", certificate.certFile, "--key", certificate.keyFile});
    ASSERT_GT(controller.Port(), 0);

    const CurlResult reply = CurlPost(controller.Url(kHeartbeatPath, "https"), kHeartbeat, certificate.certFile);
    ASSERT_EQ(reply.code, CURLE_OK) << curl_easy_strerror(reply.code);
    EXPECT_EQ(reply.status, 200);
    const cml::CCmlMessage message = ParseReply(reply.body);
    EXPECT_EQ(message.GetResponseTo(), u"hb-1");
    EXPECT_EQ(message.GetResponses().size(), 2u);

    // Without the certificate as trust anchor the handshake fails; plain HTTP gets no answer.
    EXPECT_EQ(CurlPost(controller.Url(kHeartbeatPath, "https"), kHeartbeat).code, CURLE_PEER_FAILED_VERIFICATION);
    EXPECT_NE(CurlPost(controller.Url(kHeartbeatPath), kHeartbeat).code, CURLE_OK);
    EXPECT_EQ(controller.Stop(), 0);
}

TEST(ControllerServer, InjectedFaultsAreSeenByClients) {
    const struct {
        const char* option;
        CURLcode code;
        long status;
        const char* logLine;
    } cases[] = {
        {"--fail-503", CURLE_OK, 503, "heartbeat: reply 503 (injected)"},
        {"--drop-share", CURLE_GOT_NOTHING, 0, "heartbeat: dropped (injected)"},
        {"--malformed-share", CURLE_OK, 200, "heartbeat: reply 200 malformed (injected)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        Controller controller({c.option, "100"});
        ASSERT_GT(controller.Port(), 0);
        const CurlResult reply = CurlPost(controller.Url(kHeartbeatPath), kHeartbeat);
        EXPECT_EQ(reply.code, c.code) << curl_easy_strerror(reply.code);
        EXPECT_EQ(reply.status, c.status);
        if (c.status == 200) {
            EXPECT_THROW(ParseReply(reply.body), cml::CCmlException) << reply.body;
        }
        if (c.status == 0) {
            EXPECT_TRUE(reply.body.empty());
        }
        // Nothing was heard: injected answers record no agent.
        EXPECT_EQ(CurlPost(controller.Url("/zel/sensor_services/ping"), "p-1").code, c.code);
        auto agents = controller.Get("/admin/agents");
        ASSERT_TRUE(agents);
        EXPECT_EQ(agents->body, "{\"agents\":[]}\n");
        EXPECT_EQ(controller.Stop(), 0);
        const std::vector<std::string> lines = controller.Log(3);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], c.logLine);
        EXPECT_EQ(lines[1].rfind("ping p-1: ", 0), 0u) << lines[1];
        EXPECT_EQ(lines[2], "agents: 200");
    }
}

// Each start runs to its end: its exit status, and for the help the text it wrote.
TEST(ControllerServer, RefusesBadStartsAndPrintsItsHelp) {
    testing::TempDir root;
    testing::WriteFile(root.File("bad.pem"), "nothing\n");
    const struct {
        std::string arguments;
        int exitStatus;
    } cases[] = {
        {"--fail-503 200", 2},
        {"--schema-dir '" + root.File("missing") + "'", 1},
        {"--cert '" + root.File("bad.pem") + "' --key '" + root.File("bad.pem") + "'", 1},
        {"--help", 0},
    };
    for (const auto& c : cases) {
        const std::string command = std::string(SS_CONTROLLER_PATH) + " --listen 127.0.0.1:0 --group-settings " +
                                    ZEL_EXAMPLES_DIR "/group_settings.xml " + c.arguments + " >'" +
                                    root.File("out.txt") + "' 2>/dev/null";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << c.arguments;
        EXPECT_EQ(WEXITSTATUS(status), c.exitStatus) << c.arguments;
        EXPECT_EQ(testing::ReadFile(root.File("out.txt")), c.exitStatus == 0 ? Usage() : "") << c.arguments;
    }
}

}  // namespace
}  // namespace zel::controller
