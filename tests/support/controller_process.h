// The real ss-controller as a child process on a free loopback port, for tests and benchmarks
// that talk to it over HTTP.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zel::test {

class ControllerProcess {
public:
    // Starts `program` with "--listen 127.0.0.1:0" and `arguments`, and reads the port from its
    // "listening on" line. Port() is 0 when the program could not be started or did not listen.
    ControllerProcess(const std::string& program, const std::vector<std::string>& arguments);
    // Stops the child (SIGTERM) and waits for it.
    ~ControllerProcess();

    int Port() const { return m_port; }

    // Sends SIGTERM and waits for the child; its exit status, -1 when it did not exit normally
    // or never ran. Later calls return the same status.
    int Stop();

    // The lines the child wrote to stdout after its "listening on" line (one per exchange).
    std::vector<std::string> LogLines() const;
    // Waits up to `timeout` until at least `count` log lines contain `piece`.
    bool WaitForLogLines(const std::string& piece, std::size_t count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

private:
    pid_t m_pid = -1;
    FILE* m_output = nullptr;
    int m_port = 0;
    int m_exitStatus = -1;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_lines;
};

}  // namespace zel::test
