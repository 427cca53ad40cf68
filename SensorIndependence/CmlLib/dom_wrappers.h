// Thin holders of Xerces DOM pointers used by every Deserialize of the CML library: checked
// conversions from a generic node to a specific kind, and helpers that read names,
// namespaces and attributes as wide strings. A holder does not own its node; it stays valid
// as long as the parsed document does. DOM exceptions of Xerces pass through unchanged.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/dom/DOMNodeList.hpp>
#include <xercesc/dom/DOMText.hpp>

namespace zel::cml {

// A DOM string as a value: either null or a (possibly empty) UTF-16 text.
class CCmlDOMString {
public:
    CCmlDOMString() = default;
    // Copies the null-terminated `text`; a null pointer gives a null string.
    CCmlDOMString(const char16_t* text);
    virtual ~CCmlDOMString();

    bool IsNull() const { return m_null; }
    // The characters; empty for a null string.
    const std::u16string& ToWide() const { return m_text; }
    // The characters as UTF-8.
    std::string ToUtf8() const;

private:
    std::u16string m_text;
    bool m_null = true;
};

// Exact comparison of the characters (a null string compares as empty).
bool Equals(const CCmlDOMString& domString, const char16_t* text);
bool Equals(const char16_t* domString, const char16_t* text);
bool Equals(const std::u16string& domString, const char16_t* text);

class CCmlDOM_NodeList;
class CCmlDOM_NamedNodeMap;

// Any node, or null.
class CCmlDOM_Node {
public:
    CCmlDOM_Node(xercesc::DOMNode* node = nullptr) : m_node(node) {}
    virtual ~CCmlDOM_Node();

    xercesc::DOMNode* GetNode() const { return m_node; }
    bool IsNull() const { return m_node == nullptr; }
    explicit operator bool() const { return m_node != nullptr; }

    // The DOM node type (1 element, 2 attribute, 3 text, ...); 0 for a null node.
    unsigned GetNodeType() const;
    // The qualified name as written; empty for a null node.
    std::u16string GetNodeName() const;
    // The node value (text of text nodes, value of attributes); empty when none.
    std::u16string GetNodeValue() const;
    // The namespace URI; empty when none.
    std::u16string GetNamespaceURI() const;
    // The node name and the namespace URI as views into the document, valid while it lives
    // (empty for a null node or none): for reading without a copy.
    std::u16string_view NodeNameView() const;
    std::u16string_view NamespaceURIView() const;
    // The namespace prefix; empty when none.
    std::u16string GetPrefix() const;
    // The local name; empty when none.
    std::u16string GetLocalName() const;
    // The first child, the next sibling and the parent (null holders when absent).
    CCmlDOM_Node GetFirstChild() const;
    CCmlDOM_Node GetNextSibling() const;
    CCmlDOM_Node GetParentNode() const;
    // Child nodes and attributes of the node (null lists when it has none).
    CCmlDOM_NodeList GetChildNodes() const;
    CCmlDOM_NamedNodeMap GetAttributes() const;

protected:
    xercesc::DOMNode* m_node;
};

// An element, or null.
class CCmlDOM_Element : public CCmlDOM_Node {
public:
    CCmlDOM_Element() = default;
    CCmlDOM_Element(xercesc::DOMElement* element) : CCmlDOM_Node(element) {}
    // Checked: a null node gives a null element; a node of another kind throws
    // CCmlException ("Constructing a DOM_Element with a DOM_Node", 0xC738001F).
    CCmlDOM_Element(const CCmlDOM_Node& node);
    CCmlDOM_Element(const CCmlDOM_Element&) = default;
    CCmlDOM_Element& operator=(const CCmlDOM_Element&) = default;
    // Checked: as the constructor, with operation "Assigning a DOM_Node to a DOM_Element".
    CCmlDOM_Element& operator=(const CCmlDOM_Node& node);
    ~CCmlDOM_Element() override;

    xercesc::DOMElement* GetElement() const { return static_cast<xercesc::DOMElement*>(m_node); }

    // The tag name; empty for a null element.
    std::u16string GetTagName() const;
    // The attribute's value; empty when absent.
    std::u16string GetAttribute(const char16_t* name) const;
    // The same as a view into the document, valid while it lives.
    std::u16string_view AttributeView(const char16_t* name) const;
    // Stores a non-empty attribute value in `out` and returns true; otherwise stores
    // `defaultValue` unless `keepOnMissing` and returns false. Never throws: any failure
    // while reading returns false.
    bool GetAttribute(const char16_t* name, bool keepOnMissing, const std::u16string& defaultValue,
                      std::u16string& out) const;
    // The same with an ASCII/UTF-8 name and UTF-8 values.
    bool GetAttribute(const char* name, bool keepOnMissing, const std::string& defaultValue, std::string& out) const;
    // Whether the element carries the attribute.
    bool HasAttribute(const char16_t* name) const;
    // The descendant elements in namespace `namespaceURI` named `localName` ("*" matches
    // every name), in document order.
    CCmlDOM_NodeList GetElementsByTagNameNS(const char16_t* namespaceURI, const char16_t* localName) const;
    // The first of them, or null; found without building the list.
    CCmlDOM_Element GetFirstElementByTagNameNS(const char16_t* namespaceURI, const char16_t* localName) const;
};

// The value of `element`'s attribute `name`; "" when absent. The same text as
// element->getAttribute(name), read without DOMAttr::getValue(): that asks the value's text
// node for its next sibling through a dynamic_cast, which costs more than the lookup itself.
const XMLCh* AttributeValue(const xercesc::DOMElement* element, const char16_t* name);
// The same for an attribute node.
const XMLCh* AttributeValue(const xercesc::DOMAttr* attribute);

// The first element below `root` in document order (`root` itself excluded) in namespace
// `namespaceURI` (null: none) with local name `localName`, or null. The same element as the
// first item of root->getElementsByTagNameNS, found by walking the tree instead of through a
// node list of the document, which costs more than the walk.
xercesc::DOMElement* FirstDescendantElement(const xercesc::DOMNode* root, const char16_t* namespaceURI,
                                            const char16_t* localName);

// The elements of root->getElementsByTagNameNS(namespaceURI, localName), without the wildcard
// "*": the elements below `root` in document order in that namespace with that local name,
// collected by one walk when the list is made. Unlike Xerces's list, which the document keeps
// and looks up again in a pool of lists, it lives as long as the object and does not follow
// later changes of the tree.
class CDescendantElementList : public xercesc::DOMNodeList {
public:
    CDescendantElementList(const xercesc::DOMNode* root, const char16_t* namespaceURI, const char16_t* localName);

    xercesc::DOMNode* item(XMLSize_t index) const override;
    XMLSize_t getLength() const override;

private:
    std::vector<xercesc::DOMNode*> m_elements;
};

// A text node, or null.
class CCmlDOM_Text : public CCmlDOM_Node {
public:
    CCmlDOM_Text() = default;
    CCmlDOM_Text(xercesc::DOMText* text) : CCmlDOM_Node(text) {}
    // Checked: a node of another kind throws CCmlException
    // ("Constructing a DOM_Text with a DOM_Node", 0xC738001F).
    CCmlDOM_Text(const CCmlDOM_Node& node);
    ~CCmlDOM_Text() override;

    xercesc::DOMText* GetText() const { return static_cast<xercesc::DOMText*>(m_node); }
    // The text; empty for a null node.
    std::u16string GetData() const;
};

// An attribute node, or null.
class CCmlDOM_Attr : public CCmlDOM_Node {
public:
    CCmlDOM_Attr() = default;
    CCmlDOM_Attr(xercesc::DOMAttr* attr) : CCmlDOM_Node(attr) {}
    // Checked: a node of another kind throws CCmlException
    // ("Constructing a DOM_Attr with a DOM_Node", 0xC738001F).
    CCmlDOM_Attr(const CCmlDOM_Node& node);
    ~CCmlDOM_Attr() override;

    xercesc::DOMAttr* GetAttr() const { return static_cast<xercesc::DOMAttr*>(m_node); }
    // Name and value; empty for a null node.
    std::u16string GetName() const;
    std::u16string GetValue() const;
    // Whether the value was given in the document (not only by a schema default).
    bool GetSpecified() const;
};

// A document, or null. The parser owns the document itself.
class CCmlDOM_Document : public CCmlDOM_Node {
public:
    CCmlDOM_Document() = default;
    CCmlDOM_Document(xercesc::DOMDocument* document) : CCmlDOM_Node(document) {}
    ~CCmlDOM_Document() override;

    xercesc::DOMDocument* GetDocument() const { return static_cast<xercesc::DOMDocument*>(m_node); }
    // The root element; null for a null document.
    CCmlDOM_Element GetDocumentElement() const;
    // The elements of the document in namespace `namespaceURI` named `localName` ("*" for all).
    CCmlDOM_NodeList GetElementsByTagNameNS(const char16_t* namespaceURI, const char16_t* localName) const;
};

// A node list, or null (length 0).
class CCmlDOM_NodeList {
public:
    CCmlDOM_NodeList(xercesc::DOMNodeList* list = nullptr) : m_list(list) {}
    virtual ~CCmlDOM_NodeList();

    xercesc::DOMNodeList* GetList() const { return m_list; }
    bool IsNull() const { return m_list == nullptr; }
    // The number of items; 0 for a null list.
    std::size_t GetLength() const;
    // The item at `index`; a null node at or beyond the end.
    CCmlDOM_Node Item(std::size_t index) const;

private:
    xercesc::DOMNodeList* m_list;
};

// An attribute map, or null (length 0).
class CCmlDOM_NamedNodeMap {
public:
    CCmlDOM_NamedNodeMap(xercesc::DOMNamedNodeMap* map = nullptr) : m_map(map) {}
    virtual ~CCmlDOM_NamedNodeMap();

    xercesc::DOMNamedNodeMap* GetMap() const { return m_map; }
    bool IsNull() const { return m_map == nullptr; }
    // The number of items; 0 for a null map.
    std::size_t GetLength() const;
    // The item at `index`; a null node at or beyond the end.
    CCmlDOM_Node Item(std::size_t index) const;
    // The item named `name`; a null node when absent.
    CCmlDOM_Node GetNamedItem(const char16_t* name) const;

private:
    xercesc::DOMNamedNodeMap* m_map;
};

}  // namespace zel::cml
