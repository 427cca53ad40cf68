#include "SensorIndependence/CmlLib/dom_document_ref.h"

#include <mutex>
#include <unordered_map>
#include <utility>

namespace zel::cml {

// Owns the document and is found from it through the registry below, never through the
// document's user data: Xerces walks every node of a document that has user data when it
// releases it, which cost more than the parse itself.
class CDomDocumentRef::COwner {
public:
    COwner(xercesc::DOMDocument* document, std::shared_ptr<void> memory)
        : m_document(document), m_memory(std::move(memory)) {}
    COwner(const COwner&) = delete;
    COwner& operator=(const COwner&) = delete;
    ~COwner();

    xercesc::DOMDocument* Document() const { return m_document; }

private:
    xercesc::DOMDocument* m_document;
    std::shared_ptr<void> m_memory;  // released after the document
};

namespace {

// The owner of every adopted document, by document. Parsers of different threads adopt and
// release documents at the same time, hence the lock.
class COwnerRegistry {
public:
    static COwnerRegistry& Instance() {
        static COwnerRegistry registry;
        return registry;
    }

    // The owner recorded for `document`, or null.
    std::shared_ptr<CDomDocumentRef::COwner> Find(const xercesc::DOMDocument* document) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_owners.find(document);
        return found == m_owners.end() ? nullptr : found->second.lock();
    }
    void Add(const xercesc::DOMDocument* document, const std::shared_ptr<CDomDocumentRef::COwner>& owner) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_owners[document] = owner;
    }
    void Remove(const xercesc::DOMDocument* document) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_owners.erase(document);
    }

private:
    std::mutex m_mutex;
    std::unordered_map<const xercesc::DOMDocument*, std::weak_ptr<CDomDocumentRef::COwner>> m_owners;
};

}  // namespace

CDomDocumentRef::COwner::~COwner() {
    // Forgotten before the release: Xerces may hand the same address to the next document.
    COwnerRegistry::Instance().Remove(m_document);
    m_document->release();
}

CDomDocumentRef::CDomDocumentRef(std::shared_ptr<COwner> owner) : m_owner(std::move(owner)) {}

CDomDocumentRef::~CDomDocumentRef() = default;

CDomDocumentRef CDomDocumentRef::Adopt(xercesc::DOMDocument* document, std::shared_ptr<void> memory) {
    if (!document) return CDomDocumentRef();
    // A document that already has an owner keeps it: a second one would release it twice.
    if (std::shared_ptr<COwner> owner = COwnerRegistry::Instance().Find(document)) return CDomDocumentRef(owner);
    std::shared_ptr<COwner> owner;
    try {
        owner = std::make_shared<COwner>(document, std::move(memory));
        COwnerRegistry::Instance().Add(document, owner);
    } catch (...) {
        // Nobody else holds the document yet; without an owner it would be lost.
        if (!owner) document->release();
        throw;
    }
    return CDomDocumentRef(std::move(owner));
}

CDomDocumentRef CDomDocumentRef::Of(const xercesc::DOMNode* node) {
    if (!node) return CDomDocumentRef();
    const xercesc::DOMDocument* document = node->getNodeType() == xercesc::DOMNode::DOCUMENT_NODE
                                               ? static_cast<const xercesc::DOMDocument*>(node)
                                               : node->getOwnerDocument();
    if (!document) return CDomDocumentRef();
    return CDomDocumentRef(COwnerRegistry::Instance().Find(document));
}

xercesc::DOMDocument* CDomDocumentRef::Get() const { return m_owner ? m_owner->Document() : nullptr; }

void CDomDocumentRef::Reset() { m_owner.reset(); }

}  // namespace zel::cml
