// Deliberate failures for tests: the first answers, or a share of them, refused with 503.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <random>

namespace zel::controller {

class CFaultInjector {
public:
    // `percent` 0 never fails, 100 always; between, the same seed gives the same sequence. The
    // first `failFirst` answers fail whatever the share and draw nothing from the sequence.
    CFaultInjector(unsigned percent, uint32_t seed, unsigned failFirst = 0)
        : m_percent(percent), m_firstFailuresLeft(failFirst), m_random(seed) {}
    // True when this answer is to be a 503.
    bool NextFails();

private:
    const unsigned m_percent;
    std::atomic<unsigned> m_firstFailuresLeft;
    std::mutex m_lock;
    std::mt19937 m_random;
};

}  // namespace zel::controller
