// CCmlParserPool: CML parsers kept for reuse by the threads that read replies. Building and
// tearing down a Xerces parser costs about a third of reading a small reply, and a reply
// arrives with every heartbeat.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "SensorIndependence/CmlLib/cml_parser.h"

namespace zel::cml {

// Parsers with the default settings (validation mode 3, no registered namespace), lent to
// one thread at a time. Thread-safe.
class CCmlParserPool {
public:
    // The use of one parser for the lifetime of the object. The parser goes back to the pool
    // when the lease ends, without its last document (content objects that share the
    // document keep it), unless the lease ends by an exception: a parser whose parse was cut
    // short is destroyed rather than trusted with the next document.
    class CLease {
    public:
        CLease(CLease&& other) noexcept = default;
        CLease(const CLease&) = delete;
        CLease& operator=(const CLease&) = delete;
        CLease& operator=(CLease&&) = delete;
        ~CLease();

        CCmlParser& operator*() const { return *m_parser; }
        CCmlParser* operator->() const { return m_parser.get(); }

    private:
        friend class CCmlParserPool;
        CLease(CCmlParserPool& pool, std::unique_ptr<CCmlParser> parser);

        CCmlParserPool* m_pool;
        std::unique_ptr<CCmlParser> m_parser;
        int m_uncaughtExceptions;
    };

    CCmlParserPool() = default;
    CCmlParserPool(const CCmlParserPool&) = delete;
    CCmlParserPool& operator=(const CCmlParserPool&) = delete;

    // An idle parser, or a new one when none is idle.
    CLease Take();
    // How many parsers wait for reuse.
    std::size_t IdleCount() const;

private:
    // Idle parsers kept at most; a parser returned beyond that is destroyed.
    static constexpr std::size_t kMaxIdle = 4;

    void Give(std::unique_ptr<CCmlParser> parser);

    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<CCmlParser>> m_idle;
};

}  // namespace zel::cml
