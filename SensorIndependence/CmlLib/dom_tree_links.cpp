#include "SensorIndependence/CmlLib/dom_tree_links.h"

#include <xercesc/dom/impl/DOMAttrMapImpl.hpp>
#include <xercesc/dom/impl/DOMCasts.hpp>
#include <xercesc/dom/impl/DOMNodeVector.hpp>
#include <xercesc/dom/impl/DOMTextImpl.hpp>

namespace zel::cml::dom_links {
namespace {

// The node vector that DOMAttrMapImpl keeps for its subclasses, reached as one of them.
struct AttributeNodes : xercesc::DOMAttrMapImpl {
    static xercesc::DOMNodeVector* Of(xercesc::DOMAttrMapImpl& map) { return map.*(&AttributeNodes::fNodes); }
};

// The document's record of its root element, protected in DOMDocumentImpl.
struct DocumentElementField : xercesc::DOMDocumentImpl {
    static xercesc::DOMElement*& Of(xercesc::DOMDocumentImpl& document) {
        return document.*(&DocumentElementField::fDocElement);
    }
};

}  // namespace

xercesc::DOMChildNode& ChildLinks(xercesc::DOMNode* node) {
    switch (node->getNodeType()) {
        case xercesc::DOMNode::ELEMENT_NODE: return static_cast<xercesc::DOMElementImpl*>(node)->fChild;
        case xercesc::DOMNode::TEXT_NODE: return static_cast<xercesc::DOMTextImpl*>(node)->fChild;
        default: return *xercesc::castToChildImpl(node);
    }
}

const xercesc::DOMNode* ParentOf(const xercesc::DOMNode* node) {
    const xercesc::DOMNodeImpl* data = nullptr;
    switch (node->getNodeType()) {
        case xercesc::DOMNode::ELEMENT_NODE: data = &static_cast<const xercesc::DOMElementImpl*>(node)->fNode; break;
        case xercesc::DOMNode::TEXT_NODE: data = &static_cast<const xercesc::DOMTextImpl*>(node)->fNode; break;
        default: return node->getParentNode();
    }
    return data->isOwned() ? data->fOwnerNode : nullptr;
}

void AppendChild(xercesc::DOMParentNode& parent, xercesc::DOMNode* child, xercesc::DOMNodeImpl& childData,
                 xercesc::DOMChildNode& childLinks) {
    childData.fOwnerNode = parent.fContainingNode;
    childData.isOwned(true);
    if (parent.fFirstChild == nullptr) {
        parent.fFirstChild = child;
        childData.isFirstChild(true);
        // The first child's previous sibling is the last child.
        childLinks.previousSibling = child;
        return;
    }
    xercesc::DOMChildNode& first = ChildLinks(parent.fFirstChild);
    xercesc::DOMNode* const last = first.previousSibling;
    ChildLinks(last).nextSibling = child;
    childLinks.previousSibling = last;
    first.previousSibling = child;
}

void AppendDocumentElement(xercesc::DOMDocumentImpl& document, xercesc::DOMElementImpl* root) {
    AppendChild(document.fParent, root);
    DocumentElementField::Of(document) = root;
    // Counted as a change, as the checked append counts it: Xerces's element lists over a
    // document whose change count is still zero stay empty.
    document.changed();
}

void SetAttribute(xercesc::DOMElementImpl& element, xercesc::DOMAttrImpl* attribute) {
    xercesc::DOMAttrMapImpl& attributes = *element.fAttributes;
    xercesc::DOMNodeVector* const nodes = AttributeNodes::Of(attributes);
    if (!nodes) {
        attributes.setNamedItemNSFast(attribute);
        return;
    }
    // Xerces finds the attribute's node data through a cross-cast; the type is known here.
    attribute->fNode.fOwnerNode = &element;
    attribute->fNode.isOwned(true);
    const int same = attributes.findNamePoint(attribute->getNamespaceURI(), attribute->getLocalName());
    if (same >= 0) {
        nodes->setElementAt(attribute, static_cast<XMLSize_t>(same));
        return;
    }
    // A name not in the map comes back as -1 - (the place it would take).
    const int place = attributes.findNamePoint(attribute->getNodeName());
    nodes->insertElementAt(attribute, static_cast<XMLSize_t>(place < 0 ? -1 - place : place));
}

}  // namespace zel::cml::dom_links
