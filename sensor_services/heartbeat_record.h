// CHeartbeatRecord: one serialised document waiting to be posted.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

namespace zel::ss {

// Owns a copy of the document's bytes (no terminating NUL). Not copyable: a record is
// moved between the pending slot and the poster, never duplicated.
class CHeartbeatRecord {
public:
    CHeartbeatRecord() = default;
    CHeartbeatRecord(const CHeartbeatRecord&) = delete;
    CHeartbeatRecord& operator=(const CHeartbeatRecord&) = delete;
    virtual ~CHeartbeatRecord() = default;

    // Replaces the content by a copy of `length` bytes at `bytes`; false (content
    // unchanged) when out of memory.
    bool Assign(const char* bytes, uint32_t length) {
        std::unique_ptr<char[]> copy(new (std::nothrow) char[length ? length : 1]);
        if (!copy) return false;
        if (length) std::memcpy(copy.get(), bytes, length);
        m_bytes = std::move(copy);
        m_length = length;
        return true;
    }

    // The bytes (null while empty).
    const char* Bytes() const noexcept { return m_bytes.get(); }
    // Their count.
    uint32_t Length() const noexcept { return m_length; }

    // The agent the document speaks for (the agent id of its announcement): a reply must be
    // addressed to it.
    const std::string& AgentId() const noexcept { return m_agentId; }
    void SetAgentId(std::string agentId) noexcept { m_agentId = std::move(agentId); }

    // The mark of the owed answers the document carries (CAnswerQueue::Owed; 0: none).
    uint64_t AnswersUpTo() const noexcept { return m_answersUpTo; }
    void SetAnswersUpTo(uint64_t upTo) noexcept { m_answersUpTo = upTo; }

private:
    std::unique_ptr<char[]> m_bytes;
    uint32_t m_length = 0;
    std::string m_agentId;
    uint64_t m_answersUpTo = 0;
};

}  // namespace zel::ss
