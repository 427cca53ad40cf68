#include "SensorIndependence/CmlLib/dom_tree_links.h"

#include <xercesc/dom/impl/DOMCasts.hpp>
#include <xercesc/dom/impl/DOMElementImpl.hpp>
#include <xercesc/dom/impl/DOMTextImpl.hpp>

namespace zel::cml::dom_links {

xercesc::DOMChildNode& ChildLinks(xercesc::DOMNode* node) {
    switch (node->getNodeType()) {
        case xercesc::DOMNode::ELEMENT_NODE: return static_cast<xercesc::DOMElementImpl*>(node)->fChild;
        case xercesc::DOMNode::TEXT_NODE: return static_cast<xercesc::DOMTextImpl*>(node)->fChild;
        default: return *xercesc::castToChildImpl(node);
    }
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

}  // namespace zel::cml::dom_links
