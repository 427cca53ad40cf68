#include "SensorIndependence/CmlLib/retaining_memory_manager.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <new>

#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>

namespace zel::cml {

// Precedes every block handed out, so that deallocate knows the size; it keeps the block's
// start aligned as malloc's would be.
struct alignas(std::max_align_t) CRetainingMemoryManager::CBlockHeader {
    std::size_t size;
};

CRetainingMemoryManager::CRetainingMemoryManager() {
    // Room for as many blocks as can ever be kept, so that giving one back never allocates.
    m_retained.reserve(kRetainedAtMost / kRetainedFrom);
}

CRetainingMemoryManager::~CRetainingMemoryManager() {
    for (CBlockHeader* block : m_retained) ::operator delete(block);
}

void* CRetainingMemoryManager::allocate(XMLSize_t size) {
    if (size >= kRetainedFrom) {
        std::lock_guard<std::mutex> lock(m_mutex);
        // The newest block of that size: the one most likely still in the cache.
        const auto kept = std::find_if(m_retained.rbegin(), m_retained.rend(),
                                       [size](const CBlockHeader* block) { return block->size == size; });
        if (kept != m_retained.rend()) {
            CBlockHeader* block = *kept;
            m_retained.erase(std::next(kept).base());
            m_retainedBytes -= size;
            return block + 1;
        }
    }
    if (size > std::numeric_limits<std::size_t>::max() - sizeof(CBlockHeader)) throw xercesc::OutOfMemoryException();
    CBlockHeader* block;
    try {
        block = static_cast<CBlockHeader*>(::operator new(sizeof(CBlockHeader) + size));
    } catch (const std::bad_alloc&) {
        throw xercesc::OutOfMemoryException();
    }
    block->size = size;
    return block + 1;
}

void CRetainingMemoryManager::deallocate(void* p) {
    if (!p) return;
    CBlockHeader* block = static_cast<CBlockHeader*>(p) - 1;
    if (block->size >= kRetainedFrom && block->size <= kRetainedAtMost) {
        std::lock_guard<std::mutex> lock(m_mutex);
        while (m_retainedBytes + block->size > kRetainedAtMost) {
            m_retainedBytes -= m_retained.front()->size;
            ::operator delete(m_retained.front());
            m_retained.erase(m_retained.begin());
        }
        m_retained.push_back(block);
        m_retainedBytes += block->size;
        return;
    }
    ::operator delete(block);
}

xercesc::MemoryManager* CRetainingMemoryManager::getExceptionMemoryManager() {
    return xercesc::XMLPlatformUtils::fgMemoryManager;
}

std::size_t CRetainingMemoryManager::RetainedBytes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_retainedBytes;
}

}  // namespace zel::cml
