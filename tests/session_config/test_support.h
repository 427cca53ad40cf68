// Shared fixtures of the session-config tests: temporary directories, files, and HTTP(S)
// servers on 127.0.0.1 that answer with canned replies and record what they received.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace zel::scs::test {

using zel::test::TempDir;

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);

// An HTTP (or, with a certificate and key, HTTPS) server on 127.0.0.1 and a free port.
class TestServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
    explicit TestServer(Handler handler, const std::string& certFile = "",
                        const std::string& keyFile = "");
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int Port() const { return m_port; }
    std::string PortText() const { return std::to_string(m_port); }
    // Copies of the requests received so far.
    std::vector<httplib::Request> Requests() const;
    // Blocks the calling handler until Release (or the server's end).
    void Hold();
    void Release();

private:
    std::unique_ptr<httplib::Server> m_server;
    Handler m_handler;
    int m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_release = false;
    std::vector<httplib::Request> m_requests;
};

// A port on 127.0.0.1 on which nothing listens: bound without listening for the object's
// life, so connections are refused and no other server takes it meanwhile.
class ClosedPort {
public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    std::string PortText() const { return std::to_string(m_port); }

private:
    int m_fd = -1;
    int m_port = 0;
};

// Kills a rewriting process at random moments to show that its file survives. Each round
// forks a child that calls start() once and then write(round, n) for n = 1, 2, ... without
// pause, ending with a nonzero status when either fails; the parent waits for the first
// write to finish, sleeps a random 0..maxDelay, kills the child with SIGKILL, expects it to
// have died by the signal and calls check(round). Runs 200 rounds, or fewer (at least 50)
// when they take more than some 15 s; stops at the first fatal failure. Returns the rounds run.
struct KillDuringWrite {
    std::function<bool()> start;
    std::function<bool(int round, unsigned n)> write;
    std::function<void(int round)> check;
    std::chrono::microseconds maxDelay{30000};
};
int RunKillDuringWrite(const KillDuringWrite& rounds);

// A self-signed certificate for 127.0.0.1 made with the openssl command.
struct SelfSignedCertificate {
    std::string certFile;
    std::string keyFile;
};
SelfSignedCertificate MakeSelfSignedCertificate(const std::string& directory);

}  // namespace zel::scs::test
