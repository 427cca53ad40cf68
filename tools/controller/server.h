// The HTTP(S) side of ss-controller: routes, fault injection and the exchange log.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

#include "tools/controller/agent_registry.h"
#include "tools/controller/fault_injection.h"
#include "tools/controller/group_settings.h"
#include "tools/controller/options.h"
#include "tools/controller/request_queue.h"
#include "tools/controller/schema_directory.h"

namespace httplib {
class Server;
class Request;
class Response;
}  // namespace httplib

namespace zel::controller {

class CControllerServer {
public:
    // A server answering with `settings`, over HTTPS when the options name a certificate and
    // key; every exchange is logged as one line on `log`. Throws std::runtime_error when the
    // certificate or key cannot be loaded or the schema directory is not a directory.
    CControllerServer(const ControllerOptions& options, GroupSettings settings, std::ostream& log);
    CControllerServer(const CControllerServer&) = delete;
    CControllerServer& operator=(const CControllerServer&) = delete;
    ~CControllerServer();

    // Binds the listening socket; returns the port bound (the chosen one for port 0), or -1.
    int Bind();
    // Serves until Stop; false when the server could not serve.
    bool Serve();
    // Makes Serve return; callable from any thread.
    void Stop();

private:
    void Route();
    void Log(const std::string& line);
    // Applies the delay and the injected fault to an answer of `what`; true when the answer
    // was given (or dropped) here.
    bool Inject(const httplib::Request& request, httplib::Response& response, const std::string& what,
                const char* contentType);
    void AnswerHeartbeat(const httplib::Request& request, httplib::Response& response);
    void AnswerQueue(const httplib::Request& request, httplib::Response& response);

    ControllerOptions m_options;
    GroupSettings m_settings;
    std::unique_ptr<CSchemaDirectory> m_schemas;
    std::ostream& m_log;
    std::mutex m_logLock;
    CAgentRegistry m_agents;
    CRequestQueue m_queue;
    CFaultInjector m_faults;
    std::atomic<uint64_t> m_messageCount{0};
    std::unique_ptr<httplib::Server> m_server;
};

// UTC time now as "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcTimeText();

}  // namespace zel::controller
