#include "SensorIndependence/CmlLib/dom_document_ref.h"

#include <utility>

namespace zel::cml {

namespace {
// The user-data key under which a document records its owner. Xerces compares keys by value.
constexpr const char16_t* kOwnerKey = u"zel-cml-document-owner";
}  // namespace

// Owns the document; the document points back at it through its user data, which is safe
// because the document never outlives its owner.
class CDomDocumentRef::COwner : public std::enable_shared_from_this<COwner> {
public:
    explicit COwner(xercesc::DOMDocument* document) : m_document(document) {}
    COwner(const COwner&) = delete;
    COwner& operator=(const COwner&) = delete;
    ~COwner() { m_document->release(); }

    xercesc::DOMDocument* Document() const { return m_document; }

private:
    xercesc::DOMDocument* m_document;
};

CDomDocumentRef::CDomDocumentRef(std::shared_ptr<COwner> owner) : m_owner(std::move(owner)) {}

CDomDocumentRef::~CDomDocumentRef() = default;

CDomDocumentRef CDomDocumentRef::Adopt(xercesc::DOMDocument* document) {
    if (!document) return CDomDocumentRef();
    // A document that already has an owner keeps it: a second one would release it twice.
    if (document->getUserData(kOwnerKey)) return Of(document);
    std::shared_ptr<COwner> owner;
    try {
        owner = std::make_shared<COwner>(document);
    } catch (...) {
        // Nobody else holds the document yet; without an owner it would be lost.
        document->release();
        throw;
    }
    document->setUserData(kOwnerKey, owner.get(), nullptr);
    return CDomDocumentRef(std::move(owner));
}

CDomDocumentRef CDomDocumentRef::Of(const xercesc::DOMNode* node) {
    if (!node) return CDomDocumentRef();
    const xercesc::DOMDocument* document = node->getNodeType() == xercesc::DOMNode::DOCUMENT_NODE
                                               ? static_cast<const xercesc::DOMDocument*>(node)
                                               : node->getOwnerDocument();
    if (!document) return CDomDocumentRef();
    auto* owner = static_cast<COwner*>(document->getUserData(kOwnerKey));
    if (!owner) return CDomDocumentRef();
    return CDomDocumentRef(owner->shared_from_this());
}

xercesc::DOMDocument* CDomDocumentRef::Get() const { return m_owner ? m_owner->Document() : nullptr; }

void CDomDocumentRef::Reset() { m_owner.reset(); }

}  // namespace zel::cml
