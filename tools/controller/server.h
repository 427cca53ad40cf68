// The HTTP side of ss-controller: routes, fault injection and the exchange log.
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

namespace httplib {
class Server;
}

namespace zel::controller {

class CControllerServer {
public:
    // A server answering with `settings`; every exchange is logged as one line on `log`.
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
    void Log(const std::string& client, const std::string& endpoint, const std::string& agentId,
             const std::string& outcome);
    // Applies the delay and the 503 share; true when the answer was already given.
    bool Inject(const std::string& client, const std::string& endpoint, int& status);

    ControllerOptions m_options;
    GroupSettings m_settings;
    std::ostream& m_log;
    std::mutex m_logLock;
    CAgentRegistry m_agents;
    CFaultInjector m_faults;
    std::atomic<uint64_t> m_messageCount{0};
    std::unique_ptr<httplib::Server> m_server;
};

// UTC time now as "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcTimeText();

}  // namespace zel::controller
