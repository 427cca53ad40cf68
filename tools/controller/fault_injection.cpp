#include "tools/controller/fault_injection.h"

namespace zel::controller {

bool CFaultInjector::NextFails() {
    // Counted down without the lock: concurrent answers each take one of the scripted failures
    // and never more than there are.
    unsigned left = m_firstFailuresLeft.load();
    while (left > 0) {
        if (m_firstFailuresLeft.compare_exchange_weak(left, left - 1)) return true;
    }
    if (m_percent == 0) return false;
    if (m_percent >= 100) return true;
    std::lock_guard<std::mutex> guard(m_lock);
    // mt19937 output is specified exactly, so a seed replays on every platform; the modulo bias
    // over 2^32 is far below what a test could notice.
    return m_random() % 100 < m_percent;
}

}  // namespace zel::controller
