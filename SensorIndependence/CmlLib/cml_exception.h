// The exceptions of the CML library: every failure in zel::cml is reported by throwing
// CCmlException, or CSchemaException when a document's schema versions do not match.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "zel/status_codes.h"

namespace zel::cml {

// Descriptions shared by many operations.
inline constexpr const char16_t* kTextInsufficientMemory = u"Insufficient memory";
inline constexpr const char16_t* kTextNullElement = u"Null element received";
inline constexpr const char16_t* kTextInvalidVectorIndex = u"Invalid vector index";
inline constexpr const char16_t* kTextNullObjectPointer = u"NULL object pointer";
inline constexpr const char16_t* kTextNullNode = u"Null node";

// A failure: what was being done, what went wrong, and its status code.
class CCmlException {
public:
    CCmlException(std::u16string operation, std::u16string description, uint32_t code);
    CCmlException(const CCmlException&) = default;
    CCmlException& operator=(const CCmlException&) = default;
    virtual ~CCmlException();

    // The operation text; never null (empty when none was given).
    virtual const char16_t* GetOperation() const;
    // The description text; never null (empty when none was given).
    virtual const char16_t* GetDescription() const;
    // The status code.
    virtual uint32_t GetCode() const;
    // Replaces `out` with "<operation>:  <description>; error = 0x<code in lower-case hex>".
    virtual void Format(std::u16string& out) const;

private:
    std::u16string m_operation;
    std::u16string m_description;
    uint32_t m_code;
};

// One namespace whose schema version in a document is not the one this system supports.
class CSchemaIncompatibility {
public:
    CSchemaIncompatibility(std::u16string namespaceURI, std::u16string supportedVersion,
                           std::u16string documentVersion);
    CSchemaIncompatibility(const CSchemaIncompatibility&) = default;
    virtual ~CSchemaIncompatibility();

    // Orders by URI, then supported version, then document version (code-unit order).
    virtual bool operator<(const CSchemaIncompatibility& other) const;
    // Copies all three strings; self-assignment does nothing.
    virtual CSchemaIncompatibility& operator=(const CSchemaIncompatibility& other);
    // A heap copy; throws CCmlException (0xC7210001) when memory runs out.
    virtual std::unique_ptr<CSchemaIncompatibility> Clone() const;

    virtual const std::u16string& GetNamespaceURI() const;
    virtual const std::u16string& GetSupportedVersion() const;
    virtual const std::u16string& GetDocumentVersion() const;

private:
    std::u16string m_namespaceURI;
    std::u16string m_supportedVersion;
    std::u16string m_documentVersion;
};

// A heap copy of `object` (copy constructor of T); running out of memory throws
// CCmlException (`operation`, "Insufficient memory", 0xC7210001).
template <typename T>
std::unique_ptr<T> CloneOrThrow(const T& object, const char16_t* operation) {
    try {
        return std::make_unique<T>(object);
    } catch (const std::bad_alloc&) {
        throw CCmlException(operation, kTextInsufficientMemory, ZEL_E_OUTOFMEMORY);
    }
}

using SchemaIncompatibilityList = std::vector<CSchemaIncompatibility>;

// A CCmlException that also lists every schema-version mismatch found in the document.
class CSchemaException : public CCmlException {
public:
    CSchemaException(std::u16string operation, std::u16string description, uint32_t code);
    // Copies operation, description and code of `source` (and its records when `source`
    // is itself a CSchemaException).
    explicit CSchemaException(const CCmlException& source);
    CSchemaException(const CSchemaException&) = default;
    CSchemaException& operator=(const CSchemaException&) = default;
    ~CSchemaException() override;

    // Appends one record.
    virtual void AddIncompatibility(const std::u16string& namespaceURI, const std::u16string& supportedVersion,
                                    const std::u16string& documentVersion);
    // The records in the order they were added; Begin() == End() when there are none.
    virtual SchemaIncompatibilityList::const_iterator Begin() const;
    virtual SchemaIncompatibilityList::const_iterator End() const;
    virtual std::size_t Count() const;
    virtual const SchemaIncompatibilityList& GetIncompatibilities() const;
    virtual SchemaIncompatibilityList& GetIncompatibilities();

private:
    SchemaIncompatibilityList m_incompatibilities;
};

}  // namespace zel::cml
