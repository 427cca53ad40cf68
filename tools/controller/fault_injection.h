// Deliberate failures for tests: the first answers refused with 503, or a share of answers
// refused with 503, dropped without an answer, or answered with a body that is not XML.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <random>

namespace zel::controller {

enum class Fault {
    kNone,
    kServiceUnavailable,  // answer 503
    kDrop,                // close the connection without answering
    kMalformed,           // answer 200 with a body that is not XML
};

// The percentage of answers given each fault; together at most 100.
struct FaultShares {
    unsigned serviceUnavailable = 0;
    unsigned drop = 0;
    unsigned malformed = 0;
};

class CFaultInjector {
public:
    // Shares of 0 never happen, a share of 100 always; between, the same seed gives the same
    // sequence. The first `failFirst` answers are 503 whatever the shares and draw nothing.
    CFaultInjector(FaultShares shares, uint32_t seed, unsigned failFirst = 0)
        : m_shares(shares), m_firstFailuresLeft(failFirst), m_random(seed) {}
    // The fault of the next answer.
    Fault Next();

private:
    const FaultShares m_shares;
    std::atomic<unsigned> m_firstFailuresLeft;
    std::mutex m_lock;
    std::mt19937 m_random;
};

}  // namespace zel::controller
