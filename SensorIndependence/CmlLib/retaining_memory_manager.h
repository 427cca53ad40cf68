// CRetainingMemoryManager: the memory manager of a CML parser and of the documents it builds.
//
// Xerces builds a document on a chain of big blocks (16 KiB, then twice as big each time) and
// reads each input through a reader of about 160 KiB; all of them are freed again by the next
// parse. glibc hands the freed top of its heap back to the system every time, and the next
// document faults each of those pages in again: two thirds of the time of reading a 50 KB
// reply went to that. This manager keeps the big blocks given back, up to kRetainedAtMost
// bytes, and hands them to the next request for the same size, so that a parser reading reply
// after reply works on memory it already has.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include <xercesc/framework/MemoryManager.hpp>

namespace zel::cml {

// Thread-safe: a document may be released on any thread, after its parser is gone.
class CRetainingMemoryManager final : public xercesc::MemoryManager {
public:
    // Blocks smaller than this go straight to the heap and back.
    static constexpr std::size_t kRetainedFrom = 16 * 1024;
    // The most bytes kept for reuse; the oldest blocks go first when more are given back.
    static constexpr std::size_t kRetainedAtMost = 4 * 1024 * 1024;

    CRetainingMemoryManager();
    CRetainingMemoryManager(const CRetainingMemoryManager&) = delete;
    CRetainingMemoryManager& operator=(const CRetainingMemoryManager&) = delete;
    ~CRetainingMemoryManager() override;

    // Throws xercesc::OutOfMemoryException when the heap is exhausted, as Xerces's own does.
    void* allocate(XMLSize_t size) override;
    void deallocate(void* p) override;
    // The XML library's own manager: an exception may outlive this one.
    xercesc::MemoryManager* getExceptionMemoryManager() override;

    // The bytes kept for reuse now.
    std::size_t RetainedBytes() const;

private:
    struct CBlockHeader;

    mutable std::mutex m_mutex;
    std::vector<CBlockHeader*> m_retained;  // oldest first
    std::size_t m_retainedBytes = 0;
};

}  // namespace zel::cml
