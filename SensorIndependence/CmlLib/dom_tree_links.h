// Linking freshly parsed nodes and attributes into a Xerces DOM tree without Xerces's dynamic_casts.
//
// Xerces reaches the parts of a node (its node data, its child links, its parent links)
// through dynamic_casts to cross-cast interfaces; building the tree of a parsed document
// costs four to six of them per node, each several hundred instructions, which is most of
// what a parse costs. The parser knows the concrete type of every node it creates, so it
// links them here directly, exactly as DOMParentNode::appendChildFast does.
#pragma once

#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/dom/impl/DOMAttrImpl.hpp>
#include <xercesc/dom/impl/DOMChildNode.hpp>
#include <xercesc/dom/impl/DOMDocumentImpl.hpp>
#include <xercesc/dom/impl/DOMElementImpl.hpp>
#include <xercesc/dom/impl/DOMNodeImpl.hpp>
#include <xercesc/dom/impl/DOMParentNode.hpp>

namespace zel::cml::dom_links {

// The sibling links of `node`, a node of a parsed document: read straight from the element
// and text implementations, through Xerces's cast for every other kind of node.
xercesc::DOMChildNode& ChildLinks(xercesc::DOMNode* node);
// The parent of `node`, read the same way: Xerces's getParentNode() finds the node data
// through a cross-cast.
const xercesc::DOMNode* ParentOf(const xercesc::DOMNode* node);

// Appends `child`, a new node without parent or siblings, whose node data is `childData`
// and sibling links `childLinks`, as the last child of `parent`.
void AppendChild(xercesc::DOMParentNode& parent, xercesc::DOMNode* child, xercesc::DOMNodeImpl& childData,
                 xercesc::DOMChildNode& childLinks);

// The same for a node of a concrete implementation type (element or text), which carries
// its node data and sibling links as fNode and fChild.
template <typename NodeImpl>
void AppendChild(xercesc::DOMParentNode& parent, NodeImpl* child) {
    AppendChild(parent, child, child->fNode, child->fChild);
}

// Appends `root`, a new element without parent or siblings, to `document`, which has no
// element yet, records it as the document element and counts the change: what
// DOMDocumentImpl::appendChild does once its checks (through four dynamic_casts) have passed.
void AppendDocumentElement(xercesc::DOMDocumentImpl& document, xercesc::DOMElementImpl* root);

// Adds `attribute`, a new attribute node without owner, to the attributes of `element`, as
// DOMAttrMapImpl::setNamedItemNSFast does: in place of an attribute with the same namespace
// and local name, else at its place in the map's order by qualified name.
void SetAttribute(xercesc::DOMElementImpl& element, xercesc::DOMAttrImpl* attribute);

}  // namespace zel::cml::dom_links
