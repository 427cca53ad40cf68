#include "SensorIndependence/CmlLib/dom_wrappers.h"

#include <string_view>

#include <xercesc/util/XMLString.hpp>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/dom_tree_links.h"
#include "SensorIndependence/CmlLib/nullable_text.h"
#include "runtime/unicode.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

// A node of the wrong kind is an internal error; a null node is a null handle.
void CheckKind(const CCmlDOM_Node& node, xercesc::DOMNode::NodeType kind, const char16_t* operation,
               const char16_t* description) {
    if (!node.IsNull() && node.GetNode()->getNodeType() != kind) {
        throw CCmlException(operation, description, ZEL_E_CML_INVALID_CONVERSION);
    }
}

constexpr const char16_t* kNotAnElement = u"received object is not a DOM_Element";

}  // namespace

CCmlDOMString::CCmlDOMString(const char16_t* text) : m_text(Text(text)), m_null(text == nullptr) {}

CCmlDOMString::~CCmlDOMString() = default;

std::string CCmlDOMString::ToUtf8() const { return zel::ToUtf8(m_text); }

bool Equals(const CCmlDOMString& domString, const char16_t* text) { return domString.ToWide() == View(text); }

bool Equals(const char16_t* domString, const char16_t* text) { return View(domString) == View(text); }

bool Equals(const std::u16string& domString, const char16_t* text) { return domString == View(text); }

CCmlDOM_Node::~CCmlDOM_Node() = default;

unsigned CCmlDOM_Node::GetNodeType() const { return m_node ? static_cast<unsigned>(m_node->getNodeType()) : 0; }

std::u16string CCmlDOM_Node::GetNodeName() const { return m_node ? Text(m_node->getNodeName()) : std::u16string(); }

std::u16string_view CCmlDOM_Node::NodeNameView() const { return m_node ? View(m_node->getNodeName()) : u""; }

std::u16string_view CCmlDOM_Node::NamespaceURIView() const { return m_node ? View(m_node->getNamespaceURI()) : u""; }

std::u16string CCmlDOM_Node::GetNodeValue() const { return m_node ? Text(m_node->getNodeValue()) : std::u16string(); }

std::u16string CCmlDOM_Node::GetNamespaceURI() const {
    return m_node ? Text(m_node->getNamespaceURI()) : std::u16string();
}

std::u16string CCmlDOM_Node::GetPrefix() const { return m_node ? Text(m_node->getPrefix()) : std::u16string(); }

std::u16string CCmlDOM_Node::GetLocalName() const { return m_node ? Text(m_node->getLocalName()) : std::u16string(); }

CCmlDOM_Node CCmlDOM_Node::GetFirstChild() const { return m_node ? m_node->getFirstChild() : nullptr; }

CCmlDOM_Node CCmlDOM_Node::GetNextSibling() const { return m_node ? m_node->getNextSibling() : nullptr; }

CCmlDOM_Node CCmlDOM_Node::GetParentNode() const { return m_node ? m_node->getParentNode() : nullptr; }

CCmlDOM_NodeList CCmlDOM_Node::GetChildNodes() const { return m_node ? m_node->getChildNodes() : nullptr; }

CCmlDOM_NamedNodeMap CCmlDOM_Node::GetAttributes() const { return m_node ? m_node->getAttributes() : nullptr; }

CCmlDOM_Element::CCmlDOM_Element(const CCmlDOM_Node& node) : CCmlDOM_Node(node.GetNode()) {
    CheckKind(node, xercesc::DOMNode::ELEMENT_NODE, u"Constructing a DOM_Element with a DOM_Node", kNotAnElement);
}

CCmlDOM_Element& CCmlDOM_Element::operator=(const CCmlDOM_Node& node) {
    CheckKind(node, xercesc::DOMNode::ELEMENT_NODE, u"Assigning a DOM_Node to a DOM_Element", kNotAnElement);
    m_node = node.GetNode();
    return *this;
}

CCmlDOM_Element::~CCmlDOM_Element() = default;

std::u16string CCmlDOM_Element::GetTagName() const {
    return m_node ? Text(GetElement()->getTagName()) : std::u16string();
}

std::u16string CCmlDOM_Element::GetAttribute(const char16_t* name) const {
    // AttributeValue gives an empty string, never null, for an absent attribute.
    return m_node ? Text(AttributeValue(GetElement(), name)) : std::u16string();
}

std::u16string_view CCmlDOM_Element::AttributeView(const char16_t* name) const {
    return m_node ? View(AttributeValue(GetElement(), name)) : u"";
}

bool CCmlDOM_Element::GetAttribute(const char16_t* name, bool keepOnMissing, const std::u16string& defaultValue,
                                   std::u16string& out) const {
    try {
        if (m_node == nullptr || name == nullptr) return false;
        const XMLCh* value = AttributeValue(GetElement(), name);
        if (value != nullptr && value[0] != 0) {
            out = value;
            return true;
        }
        if (!keepOnMissing) out = defaultValue;
        return false;
    } catch (...) {
        return false;
    }
}

bool CCmlDOM_Element::GetAttribute(const char* name, bool keepOnMissing, const std::string& defaultValue,
                                   std::string& out) const {
    try {
        if (m_node == nullptr || name == nullptr) return false;
        const std::u16string wideName = ToUtf16(name);
        const XMLCh* value = AttributeValue(GetElement(), wideName.c_str());
        if (value != nullptr && value[0] != 0) {
            out = ToUtf8(value);
            return true;
        }
        if (!keepOnMissing) out = defaultValue;
        return false;
    } catch (...) {
        return false;
    }
}

bool CCmlDOM_Element::HasAttribute(const char16_t* name) const {
    return m_node != nullptr && name != nullptr && GetElement()->hasAttribute(name);
}

CCmlDOM_NodeList CCmlDOM_Element::GetElementsByTagNameNS(const char16_t* namespaceURI,
                                                         const char16_t* localName) const {
    return m_node ? GetElement()->getElementsByTagNameNS(namespaceURI, localName) : nullptr;
}

CCmlDOM_Element CCmlDOM_Element::GetFirstElementByTagNameNS(const char16_t* namespaceURI,
                                                            const char16_t* localName) const {
    return CCmlDOM_Element(FirstDescendantElement(m_node, namespaceURI, localName));
}

const XMLCh* AttributeValue(const xercesc::DOMElement* element, const char16_t* name) {
    const xercesc::DOMAttr* attribute = element->getAttributeNode(name);
    return attribute ? AttributeValue(attribute) : u"";
}

const XMLCh* AttributeValue(const xercesc::DOMAttr* attribute) {
    // A parsed attribute holds its value as a single text node; anything else (a value built
    // from several nodes through the DOM) takes the general path.
    const xercesc::DOMNode* text = attribute->getFirstChild();
    if (text && text->getNodeType() == xercesc::DOMNode::TEXT_NODE && !text->getNextSibling())
        return text->getNodeValue();
    return attribute->getValue();
}

namespace {

// The node after `node` in document order among the nodes below `root`, or null after the
// last: down first, then along, then up until a sibling follows; never above `root`.
const xercesc::DOMNode* NextBelow(const xercesc::DOMNode* root, const xercesc::DOMNode* node) {
    if (const xercesc::DOMNode* child = node->getFirstChild()) return child;
    for (; node && node != root; node = dom_links::ParentOf(node)) {
        if (const xercesc::DOMNode* sibling = node->getNextSibling()) return sibling;
    }
    return nullptr;
}

bool IsElementNamed(const xercesc::DOMNode* node, const char16_t* namespaceURI, const char16_t* localName) {
    return node->getNodeType() == xercesc::DOMNode::ELEMENT_NODE &&
           xercesc::XMLString::equals(node->getLocalName(), localName) &&
           xercesc::XMLString::equals(node->getNamespaceURI(), namespaceURI);
}

}  // namespace

xercesc::DOMElement* FirstDescendantElement(const xercesc::DOMNode* root, const char16_t* namespaceURI,
                                            const char16_t* localName) {
    if (!root || !localName) return nullptr;
    for (const xercesc::DOMNode* node = root->getFirstChild(); node; node = NextBelow(root, node)) {
        if (IsElementNamed(node, namespaceURI, localName))
            return const_cast<xercesc::DOMElement*>(static_cast<const xercesc::DOMElement*>(node));
    }
    return nullptr;
}

CDescendantElementList::CDescendantElementList(const xercesc::DOMNode* root, const char16_t* namespaceURI,
                                               const char16_t* localName) {
    if (!root || !localName) return;
    for (const xercesc::DOMNode* node = root->getFirstChild(); node; node = NextBelow(root, node)) {
        if (IsElementNamed(node, namespaceURI, localName)) m_elements.push_back(const_cast<xercesc::DOMNode*>(node));
    }
}

xercesc::DOMNode* CDescendantElementList::item(XMLSize_t index) const {
    return index < m_elements.size() ? m_elements[index] : nullptr;
}

XMLSize_t CDescendantElementList::getLength() const { return m_elements.size(); }

CCmlDOM_Text::CCmlDOM_Text(const CCmlDOM_Node& node) : CCmlDOM_Node(node.GetNode()) {
    CheckKind(node, xercesc::DOMNode::TEXT_NODE, u"Constructing a DOM_Text with a DOM_Node",
              u"received object is not a text node");
}

CCmlDOM_Text::~CCmlDOM_Text() = default;

std::u16string CCmlDOM_Text::GetData() const { return m_node ? Text(GetText()->getData()) : std::u16string(); }

CCmlDOM_Attr::CCmlDOM_Attr(const CCmlDOM_Node& node) : CCmlDOM_Node(node.GetNode()) {
    CheckKind(node, xercesc::DOMNode::ATTRIBUTE_NODE, u"Constructing a DOM_Attr with a DOM_Node",
              u"received object is not an attribute node");
}

CCmlDOM_Attr::~CCmlDOM_Attr() = default;

std::u16string CCmlDOM_Attr::GetName() const { return m_node ? Text(GetAttr()->getName()) : std::u16string(); }

std::u16string CCmlDOM_Attr::GetValue() const { return m_node ? Text(AttributeValue(GetAttr())) : std::u16string(); }

bool CCmlDOM_Attr::GetSpecified() const { return m_node != nullptr && GetAttr()->getSpecified(); }

CCmlDOM_Document::~CCmlDOM_Document() = default;

CCmlDOM_Element CCmlDOM_Document::GetDocumentElement() const {
    return CCmlDOM_Element(m_node ? GetDocument()->getDocumentElement() : nullptr);
}

CCmlDOM_NodeList CCmlDOM_Document::GetElementsByTagNameNS(const char16_t* namespaceURI,
                                                          const char16_t* localName) const {
    return m_node ? GetDocument()->getElementsByTagNameNS(namespaceURI, localName) : nullptr;
}

CCmlDOM_NodeList::~CCmlDOM_NodeList() = default;

std::size_t CCmlDOM_NodeList::GetLength() const { return m_list ? m_list->getLength() : 0; }

CCmlDOM_Node CCmlDOM_NodeList::Item(std::size_t index) const { return m_list ? m_list->item(index) : nullptr; }

CCmlDOM_NamedNodeMap::~CCmlDOM_NamedNodeMap() = default;

std::size_t CCmlDOM_NamedNodeMap::GetLength() const { return m_map ? m_map->getLength() : 0; }

CCmlDOM_Node CCmlDOM_NamedNodeMap::Item(std::size_t index) const { return m_map ? m_map->item(index) : nullptr; }

CCmlDOM_Node CCmlDOM_NamedNodeMap::GetNamedItem(const char16_t* name) const {
    return m_map ? m_map->getNamedItem(name) : nullptr;
}

}  // namespace zel::cml
