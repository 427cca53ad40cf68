// Shared ownership of parsed DOM documents. A content object that keeps pointing into the
// document it was read from (a policy node, a schema node) holds a CDomDocumentRef to that
// document, so the document lives until the parser has moved on AND the last such object
// (clones included) is gone, whichever comes last.
//
// CCmlParser hands every document it builds to a CDomDocumentRef::Adopt; the owner records
// itself in a process-wide registry by document, so that CDomDocumentRef::Of(node) finds it
// again from any node of that document without the node's holder knowing the parser.
#pragma once

#include <memory>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMNode.hpp>

namespace zel::cml {

class CDomDocumentRef {
public:
    // An empty reference: owns nothing.
    CDomDocumentRef() = default;
    CDomDocumentRef(const CDomDocumentRef&) = default;
    CDomDocumentRef& operator=(const CDomDocumentRef&) = default;
    CDomDocumentRef(CDomDocumentRef&&) noexcept = default;
    CDomDocumentRef& operator=(CDomDocumentRef&&) noexcept = default;
    ~CDomDocumentRef();

    // Takes ownership of `document` (released with DOMDocument::release when the last
    // reference goes) and records the owner in it; null gives an empty reference. The memory
    // manager the document was allocated from must outlive every reference: `memory`, when
    // given, is that manager, kept alive until the document has been released.
    static CDomDocumentRef Adopt(xercesc::DOMDocument* document, std::shared_ptr<void> memory = nullptr);
    // The reference that owns the document `node` belongs to (the node may be the document
    // itself); empty for a null node or a document that no CDomDocumentRef owns (one built
    // elsewhere, whose owner then has to keep it alive).
    static CDomDocumentRef Of(const xercesc::DOMNode* node);

    // The document; null for an empty reference.
    xercesc::DOMDocument* Get() const;
    explicit operator bool() const { return m_owner != nullptr; }
    // Drops this reference; the document is released when it was the last one.
    void Reset();
    // How many references share the document (0 for an empty reference).
    long UseCount() const { return m_owner.use_count(); }

    // Owns one document (defined in the source).
    class COwner;

private:
    explicit CDomDocumentRef(std::shared_ptr<COwner> owner);

    std::shared_ptr<COwner> m_owner;
};

}  // namespace zel::cml
