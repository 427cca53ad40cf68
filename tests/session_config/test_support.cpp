#include "test_support.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zel::scs::test {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/scs-test-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir() {
    for (const std::string& name : Entries()) ::unlink(File(name).c_str());
    ::rmdir(m_path.c_str());
}

std::vector<std::string> TempDir::Entries() const {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(m_path.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

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
        RecordedRequest recorded;
        recorded.method = request.method;
        recorded.path = request.path;
        recorded.contentType = request.get_header_value("Content-Type");
        recorded.body = request.body;
        recorded.hasExpect = request.has_header("Expect");
        recorded.authorization = request.get_header_value("Authorization");
        recorded.proxyAuthorization = request.get_header_value("Proxy-Authorization");
        recorded.remotePort = request.remote_port;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(std::move(recorded));
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

std::vector<RecordedRequest> TestServer::Requests() const {
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

}  // namespace zel::scs::test
