#include "tools/controller/server.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <thread>

#include <httplib.h>

#include "runtime/guid.h"
#include "runtime/unicode.h"
#include "tools/controller/connection_drop.h"
#include "tools/controller/controller_vocabulary.h"
#include "tools/controller/json_text.h"
#include "tools/controller/reply_builder.h"

namespace zel::controller {
namespace {

const char* OutcomeText(SettingsOutcome outcome) {
    switch (outcome) {
        case SettingsOutcome::kSent: return "settings sent";
        case SettingsOutcome::kUnchanged: return "settings unchanged";
        case SettingsOutcome::kUnavailable: return "no settings";
        case SettingsOutcome::kNotAsked: break;
    }
    return "settings not asked";
}

// Agent-supplied text and parser messages may hold line ends; the log keeps one line per exchange.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    return text;
}

// A status code as "0x" and eight lower-case hexadecimal digits.
std::string Hex(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", code);
    return text;
}

// "1 request", "2 requests".
std::string Count(std::size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::unique_ptr<httplib::Server> MakeServer(const ControllerOptions& options) {
    if (options.certificateFile.empty()) return std::make_unique<httplib::Server>();
    auto server = std::make_unique<httplib::SSLServer>(options.certificateFile.c_str(), options.keyFile.c_str());
    if (!server->is_valid())
        throw std::runtime_error("cannot use certificate " + options.certificateFile + " with key " + options.keyFile);
    return server;
}

}  // namespace

std::string UtcTimeText() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

CControllerServer::CControllerServer(const ControllerOptions& options, GroupSettings settings, std::ostream& log)
    : m_options(options),
      m_settings(std::move(settings)),
      m_log(log),
      m_faults(options.faults, options.seed, options.fail503First),
      m_server(MakeServer(options)) {
    if (!options.schemaDirectory.empty()) {
        m_schemas = std::make_unique<CSchemaDirectory>(options.schemaDirectory);
        if (!m_schemas->IsUsable()) throw std::runtime_error("schema directory " + options.schemaDirectory + " is not a directory");
    }
    // Without it every small answer waits for the client's delayed acknowledgement (~40 ms).
    m_server->set_tcp_nodelay(true);
    Route();
}

CControllerServer::~CControllerServer() = default;

int CControllerServer::Bind() {
    if (m_options.port == 0) return m_server->bind_to_any_port(m_options.host);
    return m_server->bind_to_port(m_options.host, m_options.port) ? m_options.port : -1;
}

bool CControllerServer::Serve() { return m_server->listen_after_bind(); }

void CControllerServer::Stop() { m_server->stop(); }

void CControllerServer::Log(const std::string& line) {
    std::lock_guard<std::mutex> guard(m_logLock);
    // std::endl flushes: a reader of the pipe sees each exchange as it happens.
    m_log << OneLine(line) << std::endl;
}

bool CControllerServer::Inject(const httplib::Request& request, httplib::Response& response, const std::string& what,
                               const char* contentType) {
    if (m_options.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(m_options.delayMs));
    switch (m_faults.Next()) {
        case Fault::kNone:
            return false;
        case Fault::kServiceUnavailable:
            break;
        case Fault::kDrop: {
            const int connection = FindConnection(request.remote_addr, request.remote_port);
            if (connection >= 0) {
                // Logged before the drop: the client may send its next request at once.
                Log(what + ": dropped (injected)");
                DropConnection(connection);
                return true;
            }
            // The socket was not found: the nearest failure the client can still see.
            Log(what + ": drop failed, reply 503 (injected)");
            response.status = 503;
            response.set_content("service unavailable\n", kTextContentType);
            return true;
        }
        case Fault::kMalformed:
            response.status = 200;
            response.set_content(kMalformedBody, contentType);
            Log(what + ": reply 200 malformed (injected)");
            return true;
    }
    response.status = 503;
    response.set_content("service unavailable\n", kTextContentType);
    Log(what + ": reply 503 (injected)");
    return true;
}

void CControllerServer::AnswerHeartbeat(const httplib::Request& request, httplib::Response& response) {
    if (Inject(request, response, "heartbeat", kCmlContentType)) return;
    ReplyContext context;
    context.settings = &m_settings;
    context.schemas = m_schemas.get();
    context.messageId = u"controller-" + ToUtf16(std::to_string(++m_messageCount));
    context.takeQueued = [this](const std::string& agentId) { return m_queue.Take(agentId); };
    const HeartbeatReply reply = BuildHeartbeatReply(request.body, context);
    response.status = reply.status;
    response.set_content(reply.body, reply.contentType);
    if (reply.status != 200) {
        Log("heartbeat refused: reply " + std::to_string(reply.status) + ", " + reply.error);
        return;
    }
    const std::string versionSent = reply.settings == SettingsOutcome::kSent ? ToUtf8(m_settings.version) : "";
    m_agents.RecordHeartbeat(reply.report, UtcTimeText(), versionSent);
    std::string line = "heartbeat from " + reply.report.agentId + " (" + reply.report.agentName + ") message " +
                       reply.report.messageId + ": reply 200, " + Count(reply.responsesSent, "response") + ", " +
                       Count(reply.requestsSent, "request") + "; " + OutcomeText(reply.settings) + "; " +
                       Count(reply.report.responses.size(), "response") + " received";
    for (const QueuedRequest& delivered : reply.delivered)
        line += "; delivered " + delivered.tag + " " + delivered.requestId;
    Log(line);
    // One line per answer to a request an operator queued: what was asked and what came back.
    for (const ReportedResponse& answer : reply.report.responses) {
        const std::string asked = m_queue.Answered(reply.report.agentId, answer.requestId);
        if (asked.empty()) continue;
        Log(asked + " " + answer.requestId + " answered by " + reply.report.agentId + ": " + answer.tag + " " +
            Hex(answer.code) + (answer.text.empty() ? "" : " (" + answer.text + ")"));
    }
}

void CControllerServer::AnswerQueue(const httplib::Request& request, httplib::Response& response) {
    const std::string agentId = request.get_param_value(kQueueAgentParameter);
    if (agentId.empty()) {
        response.status = 400;
        response.set_content("the agent parameter is missing\n", kTextContentType);
        Log("queue: reply 400, no agent");
        return;
    }
    PreparedRequest prepared = PrepareQueuedRequest(request.body, ToUtf8(NewGuidText()));
    if (!prepared.error.empty()) {
        response.status = 400;
        response.set_content(prepared.error + "\n", kTextContentType);
        Log("queue for " + agentId + ": reply 400, " + prepared.error);
        return;
    }
    const std::string tag = prepared.request.tag;
    const std::string requestId = prepared.request.requestId;
    m_queue.Add(agentId, std::move(prepared.request));
    response.set_content(JsonText({{"request-id", requestId}}), kJsonContentType);
    Log("queued " + tag + " " + requestId + " for " + agentId);
}

void CControllerServer::Route() {
    m_server->Post(kHeartbeatPath, [this](const httplib::Request& request, httplib::Response& response) {
        AnswerHeartbeat(request, response);
    });
    m_server->Post(kPingPath, [this](const httplib::Request& request, httplib::Response& response) {
        const std::string what = "ping " + request.body;
        if (Inject(request, response, what, kXmlContentType)) return;
        const PingReply reply = BuildPingReply(request.body);
        response.status = reply.status;
        response.set_content(reply.body, reply.contentType);
        Log(what + ": " + std::to_string(reply.status));
    });
    m_server->Get(kAgentsPath, [this](const httplib::Request&, httplib::Response& response) {
        response.set_content(m_agents.ToJson(), kJsonContentType);
        Log("agents: 200");
    });
    m_server->Post(kQueuePath, [this](const httplib::Request& request, httplib::Response& response) {
        AnswerQueue(request, response);
    });
}

}  // namespace zel::controller
