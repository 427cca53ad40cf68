// CHeartbeatRecord: one serialised document waiting to be posted.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

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

private:
    std::unique_ptr<char[]> m_bytes;
    uint32_t m_length = 0;
};

}  // namespace zel::ss
