// The resident set size of this process, read from /proc: what the memory tests and the
// memory benchmark compare.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

namespace zel::test {

// The resident set size of this process in KiB, -1 when unknown.
inline long ResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

}  // namespace zel::test
