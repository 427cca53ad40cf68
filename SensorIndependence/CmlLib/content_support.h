// Small pieces the content sources of the CML library share: null-safe texts, the conversion
// of DOM failures, walks over the element children of an element, element lists and the
// owned-pointer vectors of polymorphic children. Internal: included by .cpp files only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <xercesc/dom/DOMException.hpp>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/dom_wrappers.h"
#include "SensorIndependence/CmlLib/nullable_text.h"
#include "SensorIndependence/CmlLib/xml_writer.h"
#include "zel/status_codes.h"

namespace zel::cml {

// Runs `body`, turning a DOM exception into CCmlException (`operation`, the DOM message, the
// DOM code).
template <typename Body>
void WithDomErrors(const char16_t* operation, Body&& body) {
    try {
        body();
    } catch (const xercesc::DOMException& e) {
        throw CCmlException(operation, Text(e.getMessage()), static_cast<uint32_t>(e.code));
    }
}

// Copies `object` to the heap as its own class for a DoClone; running out of memory throws
// CCmlException (`operation`, "Insufficient memory", 0xC7210001).
template <typename T>
T* CopyOnHeap(const T& object, const char16_t* operation) {
    // Owning pointer: the public Clone() wraps it at once.
    return CloneOrThrow(object, operation).release();
}

// Calls `visit` with every element child of `parent` (none for a null parent), in document
// order. Only the direct children are visited, so the walk is as long as the child list.
template <typename Visit>
void ForEachChildElement(const CCmlDOM_Element& parent, Visit&& visit) {
    if (parent.IsNull()) return;
    for (xercesc::DOMNode* node = parent.GetNode()->getFirstChild(); node != nullptr; node = node->getNextSibling()) {
        if (node->getNodeType() == xercesc::DOMNode::ELEMENT_NODE) {
            visit(CCmlDOM_Element(static_cast<xercesc::DOMElement*>(node)));
        }
    }
}

// True when `element` is in `namespaceURI`; compared exactly.
inline bool InNamespace(const CCmlDOM_Element& element, const char16_t* namespaceURI) {
    return Equals(element.GetNode()->getNamespaceURI(), namespaceURI);
}

// Namespace and qualified name compared exactly: a prefixed name never matches.
inline bool Is(const CCmlDOM_Element& element, const char16_t* namespaceURI, const char16_t* name) {
    return InNamespace(element, namespaceURI) && Equals(element.GetNode()->getNodeName(), name);
}

// Appends a default entry to `entries` for every child of `list` in (namespaceURI, name) and
// reads it from that child; other children are skipped.
template <typename Vector>
void ReadList(const CCmlDOM_Element& list, const char16_t* namespaceURI, const char16_t* name, Vector& entries) {
    ForEachChildElement(list, [&](const CCmlDOM_Element& child) {
        if (!Is(child, namespaceURI, name)) return;
        entries.emplace_back();
        entries.back().Deserialize(child);
    });
}

// "<list>", each entry one level deeper, "</list>"; nothing for an empty list.
template <typename CharT, typename Vector>
void WriteList(std::basic_ostream<CharT>& stream, int level, const Word& listTag, const Vector& entries) {
    if (entries.empty()) return;
    XmlSink<CharT>(stream).Indent(level).Ascii("<").Name(listTag).Ascii(">").EndLine();
    for (const auto& entry : entries) entry.Serialize(stream, level + 1);
    XmlSink<CharT>(stream).Indent(level).Ascii("</").Name(listTag).Ascii(">").EndLine();
}

// ---- Owned polymorphic children ----

// Clones every element of `from` in order.
template <typename T>
std::vector<std::unique_ptr<T>> CloneAll(const std::vector<std::unique_ptr<T>>& from) {
    std::vector<std::unique_ptr<T>> copy;
    copy.reserve(from.size());
    for (const auto& item : from) copy.push_back(item->Clone());
    return copy;
}

// Appends `owned`, which it owns from here on; null throws CCmlException (`operation`, "NULL
// object pointer", 0xC7210003). Returns the stored element.
template <typename T>
T& Append(std::vector<std::unique_ptr<T>>& vector, T* owned, const char16_t* operation) {
    // Owned from here on, also when the null check or the append below throws.
    std::unique_ptr<T> item(owned);
    if (!item) throw CCmlException(operation, kTextNullObjectPointer, ZEL_E_INVALIDARG);
    vector.push_back(std::move(item));
    return *vector.back();
}

template <typename T>
T& Append(std::vector<std::unique_ptr<T>>& vector, std::unique_ptr<T> item) {
    vector.push_back(std::move(item));
    return *vector.back();
}

// Element `index`; at or beyond the count throws CCmlException (`operation`, "Invalid vector
// index", 0xC738000B).
template <typename T>
T& At(const std::vector<std::unique_ptr<T>>& vector, std::size_t index, const char16_t* operation) {
    if (index >= vector.size()) throw CCmlException(operation, kTextInvalidVectorIndex, ZEL_E_CML_INDEX_OUT_OF_BOUNDS);
    return *vector[index];
}

// Replaces element `index` (deleting the old one) with `item`; an index at or beyond the
// count or a null item throws (`operation`) and leaves the vector as it was. Handing back the
// element already held keeps it.
template <typename T>
T& Replace(std::vector<std::unique_ptr<T>>& vector, std::size_t index, std::unique_ptr<T> item,
           const char16_t* operation) {
    At(vector, index, operation);
    if (!item) throw CCmlException(operation, kTextNullObjectPointer, ZEL_E_INVALIDARG);
    if (item.get() == vector[index].get()) {
        // Already the one owner of it: not deleted.
        return *item.release();
    }
    vector[index] = std::move(item);
    return *vector[index];
}

}  // namespace zel::cml
