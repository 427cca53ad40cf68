#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <curl/curl.h>
#include <httplib.h>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "SensorIndependence/CmlLib/xml_init.h"
#include "controller/test_files.h"
#include "runtime/unicode.h"

extern char** environ;

namespace zel::controller {
namespace {

// The real ss-controller as a child process on a free loopback port; its stdout is a pipe
// whose first line names the port.
class ControllerProcess {
public:
    explicit ControllerProcess(std::vector<std::string> extraArguments) {
        std::vector<std::string> arguments = {SS_CONTROLLER_PATH, "--listen", "127.0.0.1:0", "--group-settings",
                                              ZEL_EXAMPLES_DIR "/group_settings.xml"};
        Start(std::move(arguments), std::move(extraArguments));
    }
    ControllerProcess(const ControllerProcess&) = delete;
    ControllerProcess& operator=(const ControllerProcess&) = delete;
    ~ControllerProcess() {
        Stop();
        if (m_output != nullptr) fclose(m_output);
    }

    int Port() const { return m_port; }
    // The rest of the first line after the port (" (https)" for HTTPS).
    const std::string& ListeningSuffix() const { return m_suffix; }

    // Sends SIGTERM and waits; the exit status (-1 when it did not exit normally).
    int Stop() {
        if (m_pid > 0) kill(m_pid, SIGTERM);
        return Wait();
    }

    // Waits for the controller to end by itself; the exit status as for Stop.
    int Wait() {
        if (m_pid <= 0) return m_exitStatus;
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        m_exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return m_exitStatus;
    }

    // One line of the child's stdout without its line end; empty at the end of the output.
    std::string ReadLine() {
        std::string line;
        if (m_output == nullptr) return line;
        for (int c = fgetc(m_output); c != EOF && c != '\n'; c = fgetc(m_output)) line += static_cast<char>(c);
        return line;
    }

    // Everything left on stdout, blank lines included (call after Stop or Wait).
    std::string RemainingText() {
        std::string text;
        if (m_output == nullptr) return text;
        for (int c = fgetc(m_output); c != EOF; c = fgetc(m_output)) text += static_cast<char>(c);
        return text;
    }

    // Every remaining line of stdout up to the first blank one (call after Stop).
    std::vector<std::string> RemainingLines() {
        std::vector<std::string> lines;
        for (std::string line = ReadLine(); !line.empty(); line = ReadLine()) lines.push_back(line);
        return lines;
    }

private:
    void Start(std::vector<std::string> arguments, std::vector<std::string> extraArguments) {
        arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);

        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        const int spawned = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        m_output = fdopen(fds[0], "r");
        if (spawned != 0) {
            m_pid = -1;
            return;
        }
        const std::string first = ReadLine();
        const std::string prefix = "listening on 127.0.0.1:";
        if (first.rfind(prefix, 0) == 0) {
            std::size_t digits = 0;
            m_port = std::stoi(first.substr(prefix.size()), &digits);
            m_suffix = first.substr(prefix.size() + digits);
        }
    }

    pid_t m_pid = -1;
    FILE* m_output = nullptr;
    int m_port = 0;
    int m_exitStatus = -1;
    std::string m_suffix;
};

const char kHeartbeat[] =
    "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>"
    "<cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>"
    "<message-envelope message-id='hb-42'><source agent-id='A-1'/><message-body><request>"
    "<agent-startup-announcement request-id='ann-1' schema-version='2.4.2' name='Agent \"One\"' agent-id='A-1'/>"
    "<get-policy-request request-id='gp-1' schema-version='2.4.2'>"
    "<policy-item namespace='http://schemas.zel.example/cml/GroupSettings' token='0'/>"
    "</get-policy-request></request></message-body></message-envelope></cml></zel>";

// A heartbeat of A-1 with the given request and response elements and no announcement.
std::string Heartbeat(const std::string& messageId, const std::string& requests, const std::string& responses = "") {
    std::string body =
        "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>"
        "<cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>"
        "<message-envelope message-id='" + messageId + "'><source name='One' agent-id='A-1'/><message-body>";
    if (!requests.empty()) body += "<request>" + requests + "</request>";
    if (!responses.empty()) body += "<response>" + responses + "</response>";
    return body + "</message-body></message-envelope></cml></zel>";
}

// The reply's envelope as the agent's library reads it; throws CCmlException when the body is
// not a CML document.
cml::CCmlMessage ParseReply(const std::string& text) {
    cml::XmlInit();
    cml::CCmlParser parser;
    parser.ParseBuffer(reinterpret_cast<const XMLByte*>(text.data()), static_cast<unsigned>(text.size()),
                       cml::kParseNonValidating);
    cml::CCmlMessage message;
    message.Deserialize(parser.GetEnvelopeElement());
    return message;
}

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
    if (curl == nullptr) {
        result.code = CURLE_FAILED_INIT;
        return result;
    }
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

std::string Url(const ControllerProcess& controller, const char* path, const char* scheme = "http") {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(controller.Port()) + path;
}

TEST(ControllerServer, HeartbeatPingAndAgentsOverHttp) {
    ControllerProcess controller({"--group-settings-version", "5"});
    ASSERT_GT(controller.Port(), 0);
    EXPECT_EQ(controller.ListeningSuffix(), "");
    httplib::Client client("127.0.0.1", controller.Port());

    auto heartbeat = client.Post("/zel/sensor_services/heartbeat", kHeartbeat, "application/x-zel-cml-data");
    ASSERT_TRUE(heartbeat);
    EXPECT_EQ(heartbeat->status, 200);
    EXPECT_EQ(heartbeat->get_header_value("Content-Type"), "application/x-zel-cml-data");
    EXPECT_NE(heartbeat->body.find("response-to='hb-42'"), std::string::npos);
    EXPECT_NE(heartbeat->body.find("<agent-startup-acknowledgement xmlns='http://schemas.zel.example/cml' "
                                   "request-id='ann-1'"),
              std::string::npos);
    EXPECT_NE(heartbeat->body.find("version='5' token='5'>"), std::string::npos);
    EXPECT_NE(heartbeat->body.find("<controller-info host-name='backup.example'"), std::string::npos);

    auto refused = client.Post("/zel/sensor_services/heartbeat", "not xml", "application/x-zel-cml-data");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400);

    auto ping = client.Post("/zel/sensor_services/ping", "ping-<7>", "application/x-zel-xml-data");
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->status, 200);
    EXPECT_EQ(ping->get_header_value("Content-Type"), "application/x-zel-xml-data");
    EXPECT_NE(ping->body.find("<agent-ping request-id='ping-&lt;7&gt;'/>"), std::string::npos);

    auto agents = client.Get("/admin/agents");
    ASSERT_TRUE(agents);
    EXPECT_EQ(agents->status, 200);
    EXPECT_EQ(agents->get_header_value("Content-Type"), "application/json");
    const std::string& json = agents->body;
    EXPECT_EQ(json.rfind("{\"agents\":[{\"agent_id\":\"A-1\",\"name\":\"Agent \\\"One\\\"\","
                         "\"last_heartbeat\":{\"message_id\":\"hb-42\",\"time\":\"",
                         0),
              0u)
        << json;
    EXPECT_NE(json.find("\"group_settings_token\":\"0\",\"group_settings_version\":\"5\",\"heartbeats\":1,"),
              std::string::npos)
        << json;

    EXPECT_EQ(controller.Stop(), 0);
    // One log line per exchange, in order.
    const std::vector<std::string> lines = controller.RemainingLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0],
              "heartbeat from A-1 (Agent \"One\") message hb-42: reply 200, 2 responses, 0 requests; "
              "settings sent; 0 responses received");
    EXPECT_EQ(lines[1].rfind("heartbeat refused: reply 400, heartbeat is not a CML document: ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], "ping ping-<7>: 200");
    EXPECT_EQ(lines[3], "agents: 200");
}

// Several agents at once: every heartbeat is answered and counted for its own agent.
TEST(ControllerServer, ConcurrentAgentsAreCountedApart) {
    ControllerProcess controller({});
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
                auto reply = client.Post("/zel/sensor_services/heartbeat", body, "application/x-zel-cml-data");
                if (reply && reply->status == 200 &&
                    reply->body.find("agent-id='B-" + std::to_string(agent) + "'") != std::string::npos)
                    ++answered[agent];
            }
        });
    }
    for (auto& thread : agents) thread.join();
    httplib::Client client("127.0.0.1", controller.Port());
    auto list = client.Get("/admin/agents");
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
    ControllerProcess controller({});
    ASSERT_GT(controller.Port(), 0);
    httplib::Client client("127.0.0.1", controller.Port());

    const struct {
        const char* query;
        const char* body;
        int status;
    } refusals[] = {
        {"/admin/queue", "<get-schema-request xmlns='http://schemas.zel.example/cml'/>", 400},
        {"/admin/queue?agent=A-1", "not xml", 400},
        {"/admin/queue?agent=A-1", "<get-schema-request xmlns='urn:elsewhere'/>", 400},
    };
    for (const auto& c : refusals) {
        auto answer = client.Post(c.query, c.body, "application/xml");
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, c.status) << c.query << " " << c.body;
    }

    auto first = client.Post("/admin/queue?agent=A-1",
                             "<get-schema-request xmlns='http://schemas.zel.example/cml'>"
                             "<schema-info namespace='urn:x' name='x'/></get-schema-request>",
                             "application/xml");
    ASSERT_TRUE(first);
    ASSERT_EQ(first->status, 200);
    EXPECT_EQ(first->get_header_value("Content-Type"), "application/json");
    const std::string prefix = "{\"request-id\":\"";
    ASSERT_EQ(first->body.rfind(prefix, 0), 0u) << first->body;
    const std::string assignedId = first->body.substr(prefix.size(), 36);
    EXPECT_EQ(first->body, prefix + assignedId + "\"}\n");
    auto second = client.Post("/admin/queue?agent=A-1",
                              "<frobnicate-request xmlns='http://schemas.zel.example/cml' request-id='op-2'/>",
                              "application/xml");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->body, "{\"request-id\":\"op-2\"}\n");
    auto elsewhere = client.Post("/admin/queue?agent=B-2",
                                 "<frobnicate-request xmlns='http://schemas.zel.example/cml' request-id='op-3'/>",
                                 "application/xml");
    ASSERT_TRUE(elsewhere);
    EXPECT_EQ(elsewhere->status, 200);

    auto delivered = client.Post("/zel/sensor_services/heartbeat", Heartbeat("hb-1", ""), "application/x-zel-cml-data");
    ASSERT_TRUE(delivered);
    ASSERT_EQ(delivered->status, 200);
    const cml::CCmlMessage message = ParseReply(delivered->body);
    ASSERT_EQ(message.GetRequests().size(), 2u);
    const auto* getSchema = dynamic_cast<const cml::CSchemaRequest*>(message.GetRequests()[0].get());
    ASSERT_NE(getSchema, nullptr);
    EXPECT_EQ(getSchema->GetRequestId(), ToUtf16(assignedId));
    EXPECT_EQ(getSchema->GetSchemaCount(), 1u);
    EXPECT_EQ(message.GetRequests()[1]->GetTagName(), u"frobnicate-request");
    EXPECT_EQ(message.GetRequests()[1]->GetRequestId(), u"op-2");

    auto next = client.Post("/zel/sensor_services/heartbeat",
                            Heartbeat("hb-2", "", "<error-response request-id='op-2' code='0xC7380004' text='no'/>"),
                            "application/x-zel-cml-data");
    ASSERT_TRUE(next);
    ASSERT_EQ(next->status, 200);
    EXPECT_TRUE(ParseReply(next->body).GetRequests().empty());

    EXPECT_EQ(controller.Stop(), 0);
    const std::vector<std::string> lines = controller.RemainingLines();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "queue: reply 400, no agent");
    EXPECT_EQ(lines[1].rfind("queue for A-1: reply 400, not a CML request element: ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[3], "queued get-schema-request " + assignedId + " for A-1");
    EXPECT_EQ(lines[4], "queued frobnicate-request op-2 for A-1");
    EXPECT_EQ(lines[6],
              "heartbeat from A-1 (One) message hb-1: reply 200, 0 responses, 2 requests; settings not asked; "
              "0 responses received; delivered get-schema-request " + assignedId + "; delivered frobnicate-request op-2");
    EXPECT_EQ(lines[7],
              "heartbeat from A-1 (One) message hb-2: reply 200, 0 responses, 0 requests; settings not asked; "
              "1 response received");
    EXPECT_EQ(lines[8], "frobnicate-request op-2 answered by A-1: error-response 0xc7380004 (no)");
}

TEST(ControllerServer, AnswersSchemaAndPolicyRequestsAndRecordsResponses) {
    testing::TempDir root;
    ASSERT_EQ(::mkdir(root.File("schemas").c_str(), 0755), 0);
    ControllerProcess controller({"--schema-dir", root.File("schemas")});
    ASSERT_GT(controller.Port(), 0);
    httplib::Client client("127.0.0.1", controller.Port());
    const std::string schema = "<schema xmlns='http://www.w3.org/2001/XMLSchema' version='1'/>";
    auto reply = client.Post(
        "/zel/sensor_services/heartbeat",
        Heartbeat("hb-7",
                  "<set-policy-request request-id='sp-1'><policy xmlns='urn:p' name='P' version='2'/></set-policy-request>"
                  "<get-schema-request request-id='gs-1'><schema-info namespace='urn:s' name='unknown'/>"
                  "</get-schema-request>"
                  "<set-schema-request request-id='ss-1'>"
                  "<schema-info namespace='urn:s' name='../escaped'>" + schema + "</schema-info>"
                  "<schema-info namespace='urn:s' name='kept'>" + schema + "</schema-info></set-schema-request>",
                  "<error-response request-id='op-9' code='0xC7380004' text='sensor services - unrecognized request'/>"
                  "<get-schema-response request-id='op-8'><schema-info namespace='urn:s' name='s' code='0x7'/>"
                  "</get-schema-response>"),
        "application/x-zel-cml-data");
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->status, 200) << reply->body;
    const cml::CCmlMessage message = ParseReply(reply->body);
    ASSERT_EQ(message.GetResponses().size(), 3u);
    const auto* setPolicy = dynamic_cast<const cml::CSetPolicyResponse*>(message.GetResponses()[0].get());
    ASSERT_NE(setPolicy, nullptr);
    EXPECT_EQ(setPolicy->GetRequestId(), u"sp-1");
    EXPECT_EQ(setPolicy->GetCode(), 0u);
    const auto* getSchema = dynamic_cast<const cml::CGetSchemaResponse*>(message.GetResponses()[1].get());
    ASSERT_NE(getSchema, nullptr);
    EXPECT_EQ(getSchema->GetCode(), 0xC738001Au);
    ASSERT_EQ(getSchema->GetSchemaCount(), 1u);
    EXPECT_EQ(getSchema->GetSchemaData(0).GetCode(), 0xC7210095u);
    const auto* setSchema = dynamic_cast<const cml::CSchemaResponse*>(message.GetResponses()[2].get());
    ASSERT_NE(setSchema, nullptr);
    ASSERT_EQ(setSchema->GetSchemaCount(), 2u);
    EXPECT_EQ(setSchema->GetSchemaInfo(0).GetCode(), 0xC7210003u);
    EXPECT_EQ(setSchema->GetSchemaInfo(1).GetCode(), 0u);
    EXPECT_FALSE(testing::FileExists(root.File("escaped.xsd")));
    EXPECT_TRUE(testing::FileExists(root.File("schemas/kept.xsd")));

    auto agents = client.Get("/admin/agents");
    ASSERT_TRUE(agents);
    EXPECT_NE(agents->body.find("\"policies_set\":[{\"name\":\"P\",\"namespace\":\"urn:p\",\"version\":\"2\"}],"
                                "\"responses\":["
                                "{\"tag\":\"error-response\",\"request_id\":\"op-9\",\"code\":\"0xc7380004\","
                                "\"text\":\"sensor services - unrecognized request\",\"items\":[]},"
                                "{\"tag\":\"get-schema-response\",\"request_id\":\"op-8\",\"code\":\"0x00000000\","
                                "\"text\":\"\",\"items\":[{\"name\":\"s\",\"namespace\":\"urn:s\",\"code\":\"0x00000007\"}]}]"),
              std::string::npos)
        << agents->body;
    EXPECT_EQ(controller.Stop(), 0);
}

TEST(ControllerServer, ServesHttpsWithACertificate) {
    testing::TempDir root;
    const testing::Certificate certificate = testing::MakeSelfSignedCertificate(root.Path());
    ControllerProcess controller({"--cert", certificate.certFile, "--key", certificate.keyFile});
    ASSERT_GT(controller.Port(), 0);
    EXPECT_EQ(controller.ListeningSuffix(), " (https)");

    const CurlResult reply = CurlPost(Url(controller, "/zel/sensor_services/heartbeat", "https"), kHeartbeat,
                                      certificate.certFile);
    ASSERT_EQ(reply.code, CURLE_OK) << curl_easy_strerror(reply.code);
    EXPECT_EQ(reply.status, 200);
    const cml::CCmlMessage message = ParseReply(reply.body);
    EXPECT_EQ(message.GetResponseTo(), u"hb-42");
    EXPECT_EQ(message.GetResponses().size(), 2u);

    // Without the certificate as trust anchor the handshake fails; plain HTTP gets no answer.
    EXPECT_EQ(CurlPost(Url(controller, "/zel/sensor_services/heartbeat", "https"), kHeartbeat).code,
              CURLE_PEER_FAILED_VERIFICATION);
    EXPECT_NE(CurlPost(Url(controller, "/zel/sensor_services/heartbeat"), kHeartbeat).code, CURLE_OK);
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
        ControllerProcess controller({c.option, "100"});
        ASSERT_GT(controller.Port(), 0);
        const CurlResult reply = CurlPost(Url(controller, "/zel/sensor_services/heartbeat"), kHeartbeat);
        EXPECT_EQ(reply.code, c.code) << curl_easy_strerror(reply.code);
        EXPECT_EQ(reply.status, c.status);
        if (c.status == 200) {
            EXPECT_THROW(ParseReply(reply.body), cml::CCmlException) << reply.body;
        }
        if (c.status == 0) {
            EXPECT_TRUE(reply.body.empty());
        }
        // Nothing was heard: injected answers record no agent.
        const CurlResult ping = CurlPost(Url(controller, "/zel/sensor_services/ping"), "p-1");
        EXPECT_EQ(ping.code, c.code);
        httplib::Client client("127.0.0.1", controller.Port());
        auto agents = client.Get("/admin/agents");
        ASSERT_TRUE(agents);
        EXPECT_EQ(agents->body, "{\"agents\":[]}\n");
        EXPECT_EQ(controller.Stop(), 0);
        const std::vector<std::string> lines = controller.RemainingLines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], c.logLine);
        EXPECT_EQ(lines[1].rfind("ping p-1: ", 0), 0u) << lines[1];
        EXPECT_EQ(lines[2], "agents: 200");
    }
}

TEST(ControllerServer, RefusesBadStartsAndExplainsItsOptions) {
    testing::TempDir root;
    testing::WriteFile(root.File("not-a-certificate.pem"), "nothing\n");
    const struct {
        std::vector<std::string> arguments;
        int exitStatus;
    } cases[] = {
        {{"--fail-503", "200"}, 2},
        {{"--schema-dir", root.File("missing")}, 1},
        {{"--cert", root.File("not-a-certificate.pem"), "--key", root.File("not-a-certificate.pem")}, 1},
    };
    for (const auto& c : cases) {
        ControllerProcess controller(c.arguments);
        EXPECT_EQ(controller.Port(), 0) << c.arguments[0];
        EXPECT_EQ(controller.Wait(), c.exitStatus) << c.arguments[0];
    }
    ControllerProcess help({"--help"});
    EXPECT_EQ(help.Wait(), 0);
    const std::string text = help.RemainingText();
    for (const char* option : {"--schema-dir", "--cert", "--drop-share", "--malformed-share", "/admin/queue"})
        EXPECT_NE(text.find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace zel::controller
