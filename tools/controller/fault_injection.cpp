#include "tools/controller/fault_injection.h"

namespace zel::controller {

Fault CFaultInjector::Next() {
    // Counted down without the lock: concurrent answers each take one of the scripted
    // failures and never more than there are.
    unsigned left = m_firstFailuresLeft.load();
    while (left > 0) {
        if (m_firstFailuresLeft.compare_exchange_weak(left, left - 1)) return Fault::kServiceUnavailable;
    }
    if (m_shares.serviceUnavailable + m_shares.drop + m_shares.malformed == 0) return Fault::kNone;
    unsigned draw = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        // mt19937 output is specified exactly, so a seed replays on every platform; the modulo
        // bias over 2^32 is far below what a test could notice.
        draw = static_cast<unsigned>(m_random() % 100);
    }
    // One draw picks among the shares laid end to end, so they never overlap.
    if (draw < m_shares.serviceUnavailable) return Fault::kServiceUnavailable;
    draw -= m_shares.serviceUnavailable;
    if (draw < m_shares.drop) return Fault::kDrop;
    draw -= m_shares.drop;
    if (draw < m_shares.malformed) return Fault::kMalformed;
    return Fault::kNone;
}

}  // namespace zel::controller
