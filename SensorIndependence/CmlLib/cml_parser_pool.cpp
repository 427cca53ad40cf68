#include "SensorIndependence/CmlLib/cml_parser_pool.h"

#include <exception>
#include <utility>

namespace zel::cml {

CCmlParserPool::CLease::CLease(CCmlParserPool& pool, std::unique_ptr<CCmlParser> parser)
    : m_pool(&pool), m_parser(std::move(parser)), m_uncaughtExceptions(std::uncaught_exceptions()) {}

CCmlParserPool::CLease::~CLease() {
    if (!m_parser || std::uncaught_exceptions() > m_uncaughtExceptions) return;
    try {
        m_parser->ReleaseDocument();
        m_pool->Give(std::move(m_parser));
    } catch (...) {
        // Out of memory for the idle list: the parser is simply destroyed.
    }
}

CCmlParserPool::CLease CCmlParserPool::Take() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_idle.empty()) {
            std::unique_ptr<CCmlParser> parser = std::move(m_idle.back());
            m_idle.pop_back();
            return CLease(*this, std::move(parser));
        }
    }
    return CLease(*this, std::make_unique<CCmlParser>());
}

std::size_t CCmlParserPool::IdleCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_idle.size();
}

void CCmlParserPool::Give(std::unique_ptr<CCmlParser> parser) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_idle.size() < kMaxIdle) m_idle.push_back(std::move(parser));
}

}  // namespace zel::cml
