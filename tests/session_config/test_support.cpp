#include "test_support.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zel::scs::test {

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TestServer::TestServer(Handler handler, const std::string& certFile, const std::string& keyFile)
    : m_handler(std::move(handler)) {
    if (certFile.empty()) {
        m_server = std::make_unique<httplib::Server>();
    } else {
        m_server = std::make_unique<httplib::SSLServer>(certFile.c_str(), keyFile.c_str());
        if (!m_server->is_valid()) throw std::runtime_error("cannot start the HTTPS server");
    }
    m_server->set_keep_alive_max_count(100000);
    m_server->set_tcp_nodelay(true);
    auto serve = [this](const httplib::Request& request, httplib::Response& response) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
        }
        m_handler(request, response);
    };
    m_server->Post(".*", serve);
    m_server->Get(".*", serve);
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0) throw std::runtime_error("cannot bind the test server");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running()) std::this_thread::yield();
}

TestServer::~TestServer() {
    Release();
    m_server->stop();
    m_thread.join();
}

std::vector<httplib::Request> TestServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void TestServer::Hold() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_released.wait(lock, [this] { return m_release; });
}

void TestServer::Release() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_release = true;
    }
    m_released.notify_all();
}

ClosedPort::ClosedPort() {
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot reserve a port");
    m_port = ntohs(address.sin_port);
}

ClosedPort::~ClosedPort() {
    if (m_fd >= 0) ::close(m_fd);
}

SelfSignedCertificate MakeSelfSignedCertificate(const std::string& directory) {
    SelfSignedCertificate made{directory + "/server.crt", directory + "/server.key"};
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
        " -addext subjectAltName=IP:127.0.0.1 -keyout '" + made.keyFile + "' -out '" +
        made.certFile + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("openssl failed");
    return made;
}

namespace {

// One round of RunKillDuringWrite; fatal failures end it early.
void KillOneWriter(const KillDuringWrite& rounds, int round, std::mt19937& random) {
    int ready[2];
    ASSERT_EQ(0, ::pipe(ready));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        if (!rounds.start()) ::_exit(2);
        for (unsigned n = 1;; ++n) {
            if (!rounds.write(round, n)) ::_exit(3);
            if (n == 1 && ::write(ready[1], "r", 1) != 1) ::_exit(4);
        }
    }
    ::close(ready[1]);
    char byte = 0;
    const ssize_t got = ::read(ready[0], &byte, 1);
    ::close(ready[0]);
    if (got != 1) {
        int status = 0;
        ::waitpid(child, &status, 0);
        FAIL() << "the writer did not start: status " << status;
    }
    std::uniform_int_distribution<long> delayUs(0, rounds.maxDelay.count());
    ::usleep(static_cast<useconds_t>(delayUs(random)));
    ASSERT_EQ(0, ::kill(child, SIGKILL));
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself: " << status;
    rounds.check(round);
}

}  // namespace

int RunKillDuringWrite(const KillDuringWrite& rounds) {
    std::mt19937 random(12345);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    int round = 0;
    for (; round < 200 && (round < 50 || std::chrono::steady_clock::now() < deadline); ++round) {
        KillOneWriter(rounds, round, random);
        if (::testing::Test::HasFatalFailure()) break;
    }
    return round;
}

}  // namespace zel::scs::test
