// CHeartbeatRecord: one serialised document waiting to be posted.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <utility>

namespace zel::ss {

// Owns the document's bytes (no terminating NUL). Not copyable: a record is moved between
// the pending slot and the poster, never duplicated.
class CHeartbeatRecord {
public:
    CHeartbeatRecord() = default;
    CHeartbeatRecord(const CHeartbeatRecord&) = delete;
    CHeartbeatRecord& operator=(const CHeartbeatRecord&) = delete;
    virtual ~CHeartbeatRecord() = default;

    // Replaces the content by a copy of `length` bytes at `bytes`; false (content
    // unchanged) when out of memory.
    bool Assign(const char* bytes, uint32_t length) {
        try {
            m_bytes.assign(bytes, length);
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    // Replaces the content by `bytes`, taken over without a copy.
    void Adopt(std::string bytes) noexcept { m_bytes = std::move(bytes); }

    // The bytes.
    const char* Bytes() const noexcept { return m_bytes.data(); }
    // Their count.
    uint32_t Length() const noexcept { return static_cast<uint32_t>(m_bytes.size()); }

    // The agent the document speaks for (the agent id of its announcement): a reply must be
    // addressed to it.
    const std::string& AgentId() const noexcept { return m_agentId; }
    void SetAgentId(std::string agentId) noexcept { m_agentId = std::move(agentId); }

    // The mark of the owed answers the document carries (CAnswerQueue::Owed; 0: none).
    uint64_t AnswersUpTo() const noexcept { return m_answersUpTo; }
    void SetAnswersUpTo(uint64_t upTo) noexcept { m_answersUpTo = upTo; }

private:
    std::string m_bytes;
    std::string m_agentId;
    uint64_t m_answersUpTo = 0;
};

}  // namespace zel::ss
