#include "support/controller_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace zel::test {
namespace {

// One line without its line end; false at the end of the output.
bool ReadLine(FILE* input, std::string& line) {
    line.clear();
    for (int c = fgetc(input); c != EOF; c = fgetc(input)) {
        if (c == '\n') return true;
        line += static_cast<char>(c);
    }
    return !line.empty();
}

}  // namespace

ControllerProcess::ControllerProcess(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> words = {program, "--listen", "127.0.0.1:0"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    // Close-on-exec, so that no other child started meanwhile holds the pipe open and the
    // reader sees its end when this child exits.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const int spawned = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    m_output = fdopen(fds[0], "r");
    if (m_output == nullptr) close(fds[0]);
    if (spawned != 0) m_pid = -1;
    if (spawned != 0 || m_output == nullptr) return;

    std::string first;
    const std::string prefix = "listening on 127.0.0.1:";
    if (ReadLine(m_output, first) && first.rfind(prefix, 0) == 0) m_port = std::atoi(first.c_str() + prefix.size());
    // Reads stdout to its end, so that the child never blocks on a full pipe.
    m_reader = std::thread([this] {
        for (std::string line; ReadLine(m_output, line);) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(line);
            m_changed.notify_all();
        }
    });
}

ControllerProcess::~ControllerProcess() {
    Stop();
    if (m_reader.joinable()) m_reader.join();
    if (m_output != nullptr) fclose(m_output);
}

int ControllerProcess::Stop() {
    if (m_pid <= 0) return m_exitStatus;
    kill(m_pid, SIGTERM);
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    m_exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m_exitStatus;
}

std::vector<std::string> ControllerProcess::LogLines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

bool ControllerProcess::WaitForLogLines(const std::string& piece, std::size_t count,
                                        std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        std::size_t found = 0;
        for (const std::string& line : m_lines) found += line.find(piece) != std::string::npos;
        return found >= count;
    });
}

}  // namespace zel::test
