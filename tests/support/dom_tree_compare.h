// The first difference between two Xerces DOM trees: node kinds, names, namespaces, values,
// attributes in order, and children, checking in the first tree the parent, owner and sibling
// links that Xerces keeps in both directions. Used by the parser tests and its fuzz target.
#pragma once

#include <string>
#include <tuple>

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMNode.hpp>

#include "runtime/unicode.h"

namespace zel::test {

// Empty when `ours` and `theirs` are the same tree; else where and how they first differ.
inline std::string FirstTreeDifference(const xercesc::DOMNode* ours, const xercesc::DOMNode* theirs,
                                       const std::string& path = "") {
    if (ours->getNodeType() != theirs->getNodeType()) return path + ": node kinds differ";
    // Tells a null text from an empty one.
    const auto show = [](const XMLCh* text) { return text ? "'" + ToUtf8(text) + "'" : std::string("null"); };
    const std::tuple<const char*, const XMLCh*, const XMLCh*> texts[] = {
        {"name", ours->getNodeName(), theirs->getNodeName()},
        {"namespace", ours->getNamespaceURI(), theirs->getNamespaceURI()},
        {"prefix", ours->getPrefix(), theirs->getPrefix()},
        {"local name", ours->getLocalName(), theirs->getLocalName()},
        {"value", ours->getNodeValue(), theirs->getNodeValue()}};
    for (const auto& [what, mine, expected] : texts) {
        if (show(mine) != show(expected)) return path + ": " + what + " " + show(mine) + ", expected " + show(expected);
    }
    if (const xercesc::DOMNamedNodeMap* attributes = ours->getAttributes()) {
        if (attributes->getLength() != theirs->getAttributes()->getLength()) return path + ": attribute counts differ";
        for (XMLSize_t i = 0; i < attributes->getLength(); ++i) {
            const auto* attribute = static_cast<const xercesc::DOMAttr*>(attributes->item(i));
            const auto* expected = static_cast<const xercesc::DOMAttr*>(theirs->getAttributes()->item(i));
            const std::string where = path + "/@" + ToUtf8(attribute->getNodeName());
            if (attribute->getOwnerElement() != ours) return where + ": wrong owner element";
            if (attribute->getSpecified() != expected->getSpecified()) return where + ": specified flags differ";
            const std::string difference = FirstTreeDifference(attribute, expected, where);
            if (!difference.empty()) return difference;
        }
    }
    const xercesc::DOMNode* child = ours->getFirstChild();
    const xercesc::DOMNode* expected = theirs->getFirstChild();
    const xercesc::DOMNode* previous = nullptr;
    for (int i = 0; child && expected; ++i) {
        const std::string where = path + "/" + std::to_string(i);
        if (child->getParentNode() != ours) return where + ": wrong parent";
        if (child->getPreviousSibling() != previous) return where + ": wrong previous sibling";
        const std::string difference = FirstTreeDifference(child, expected, where);
        if (!difference.empty()) return difference;
        previous = child;
        child = child->getNextSibling();
        expected = expected->getNextSibling();
    }
    if ((child == nullptr) != (expected == nullptr)) return path + ": child counts differ";
    if (ours->getLastChild() != previous) return path + ": wrong last child";
    return {};
}

}  // namespace zel::test
