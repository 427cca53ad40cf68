#include "tools/controller/server.h"

#include <chrono>
#include <ctime>
#include <thread>

#include <httplib.h>

#include "runtime/unicode.h"
#include "tools/controller/controller_vocabulary.h"
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

std::string ClientOf(const httplib::Request& request) {
    return request.remote_addr + ":" + std::to_string(request.remote_port);
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
      m_faults(options.fail503Percent, options.seed, options.fail503First),
      m_server(std::make_unique<httplib::Server>()) {
    Route();
}

CControllerServer::~CControllerServer() = default;

int CControllerServer::Bind() {
    if (m_options.port == 0) return m_server->bind_to_any_port(m_options.host);
    return m_server->bind_to_port(m_options.host, m_options.port) ? m_options.port : -1;
}

bool CControllerServer::Serve() { return m_server->listen_after_bind(); }

void CControllerServer::Stop() { m_server->stop(); }

void CControllerServer::Log(const std::string& client, const std::string& endpoint, const std::string& agentId,
                            const std::string& outcome) {
    std::lock_guard<std::mutex> guard(m_logLock);
    m_log << UtcTimeText() << ' ' << client << ' ' << endpoint << " agent=" << (agentId.empty() ? "-" : OneLine(agentId))
          << ' ' << OneLine(outcome) << std::endl;
}

bool CControllerServer::Inject(const std::string& client, const std::string& endpoint, int& status) {
    if (m_options.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(m_options.delayMs));
    if (!m_faults.NextFails()) return false;
    status = 503;
    Log(client, endpoint, "", "503 injected");
    return true;
}

void CControllerServer::Route() {
    m_server->Post(kHeartbeatPath, [this](const httplib::Request& request, httplib::Response& response) {
        const std::string client = ClientOf(request);
        if (Inject(client, kHeartbeatPath, response.status)) {
            response.set_content("service unavailable\n", kTextContentType);
            return;
        }
        const std::u16string messageId = u"controller-" + ToUtf16(std::to_string(++m_messageCount));
        const HeartbeatReply reply = BuildHeartbeatReply(request.body, m_settings, messageId);
        response.status = reply.status;
        response.set_content(reply.body, reply.contentType);
        if (reply.status != 200) {
            Log(client, kHeartbeatPath, "", std::to_string(reply.status) + " " + reply.error);
            return;
        }
        const std::string versionSent =
            reply.settings == SettingsOutcome::kSent ? ToUtf8(m_settings.version) : std::string();
        m_agents.RecordHeartbeat(reply.agentId, reply.agentName, UtcTimeText(), versionSent);
        Log(client, kHeartbeatPath, reply.agentId, "200 " + std::string(OutcomeText(reply.settings)));
    });
    m_server->Post(kPingPath, [this](const httplib::Request& request, httplib::Response& response) {
        const std::string client = ClientOf(request);
        if (Inject(client, kPingPath, response.status)) {
            response.set_content("service unavailable\n", kTextContentType);
            return;
        }
        const PingReply reply = BuildPingReply(request.body);
        response.status = reply.status;
        response.set_content(reply.body, reply.contentType);
        Log(client, kPingPath, "", "200 ping");
    });
    m_server->Get(kAgentsPath, [this](const httplib::Request& request, httplib::Response& response) {
        response.set_content(m_agents.ToJson(), kJsonContentType);
        Log(ClientOf(request), kAgentsPath, "", "200");
    });
}

}  // namespace zel::controller
