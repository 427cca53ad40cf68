// Deliberate failures for tests: a share of answers refused with 503.
#pragma once

#include <cstdint>
#include <mutex>
#include <random>

namespace zel::controller {

class CFaultInjector {
public:
    // `percent` 0 never fails, 100 always; between, the same seed gives the same sequence.
    CFaultInjector(unsigned percent, uint32_t seed) : m_percent(percent), m_random(seed) {}
    // True when this answer is to be a 503.
    bool NextFails();

private:
    const unsigned m_percent;
    std::mutex m_lock;
    std::mt19937 m_random;
};

}  // namespace zel::controller
