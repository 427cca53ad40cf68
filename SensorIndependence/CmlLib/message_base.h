// The CML message model: the abstract message CMessageBase and its two kinds, CCmlRequest and
// CCmlResponse. Every request and response of the system derives from one of them.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "SensorIndependence/CmlLib/cml_namespace.h"
#include "SensorIndependence/CmlLib/dom_wrappers.h"

namespace zel::cml {

// Reads `text` as an integer with automatic base ("0x" hexadecimal, a leading "0" octal, else
// decimal), as the C library does; empty or unreadable text gives 0. The value wraps to 32 bits.
uint32_t ReadAutoBaseNumber(std::u16string_view text);
// The same, but `unreadable` when the text holds no number at all (empty text included).
uint32_t ReadAutoBaseNumber(std::u16string_view text, uint32_t unreadable);

// A CML message element: namespace, request id, tag name and the two schema versions.
class CMessageBase {
public:
    // A message whose schema version is the CML schema version "2.4.2"; null pointers give
    // empty strings.
    CMessageBase(const char16_t* requestId, const char16_t* tagName, const char16_t* namespaceURI);
    CMessageBase(const CMessageBase&) = default;
    virtual ~CMessageBase();

    // Copies the five fields; self-assignment does nothing.
    virtual CMessageBase& operator=(const CMessageBase& other);
    // A heap copy of the object's own class; throws CCmlException ("Cloning ...", 0xC7210001)
    // when memory runs out.
    std::unique_ptr<CMessageBase> Clone() const { return std::unique_ptr<CMessageBase>(DoClone()); }

    virtual const std::u16string& GetNamespaceURI() const;
    virtual const std::u16string& GetRequestId() const;
    virtual const std::u16string& GetTagName() const;
    // The "schema-version" read from a document; empty for a message built in memory.
    virtual const std::u16string& GetDocumentSchemaVersion() const;
    // The schema version the message writes.
    virtual const std::u16string& GetSchemaVersion() const;
    // Each setter replaces its field; a null pointer gives the empty string.
    virtual void SetNamespaceURI(const char16_t* namespaceURI);
    virtual void SetRequestId(const char16_t* requestId);
    virtual void SetTagName(const char16_t* tagName);
    virtual void SetDocumentSchemaVersion(const char16_t* version);
    virtual void SetSchemaVersion(const char16_t* version);

    // True when the element has child content (false here).
    virtual bool HasContent() const;
    // Adds (namespace URI, schema version); a conflicting version throws CCmlException 0xC738000E.
    virtual void CollectNamespaces(NamespaceSet& namespaces) const;
    // 0 here; a response's status code.
    virtual uint32_t GetCode() const;
    // Empty here; a response's text.
    virtual const std::u16string& GetText() const;

    // Reads namespace, tag name, "schema-version" and "request-id" (absent ones empty). A null
    // element throws CCmlException ("Deserializing message", "Null element received", 0xC738000F).
    virtual void Deserialize(const CCmlDOM_Element& element);

    // Writes the element indented at `level`, on one line unless it has content.
    virtual void Serialize(std::ostream& stream, int level) const;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const;
    // Writes the message as a stand-alone document with its namespaces' schema locations.
    virtual void SerializeDocument(std::ostream& stream) const;
    virtual void SerializeDocument(std::basic_ostream<char16_t>& stream) const;
    // Writes " xmlns='...' request-id='...' schema-version='...'" (request-id even when
    // empty).
    virtual void SerializeAttributes(std::ostream& stream) const;
    virtual void SerializeAttributes(std::basic_ostream<char16_t>& stream) const;
    // Writes the child content at `level` (nothing here).
    virtual void SerializeContent(std::ostream& stream, int level) const;
    virtual void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const;

protected:
    // The copy behind Clone(); each class returns a copy of its own type.
    virtual CMessageBase* DoClone() const;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;
    template <typename CharT>
    void SerializeDocumentImpl(std::basic_ostream<CharT>& stream) const;
    template <typename CharT>
    void SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const;
    template <typename CharT>
    void SerializeTail(std::basic_ostream<CharT>& stream, int level) const;

    std::u16string m_namespaceURI;
    std::u16string m_requestId;
    std::u16string m_tagName;
    std::u16string m_documentSchemaVersion;
    std::u16string m_schemaVersion;
};

// A request: a message with a need-reply flag (true unless the document says exactly "false").
class CCmlRequest : public CMessageBase {
public:
    // Null pointers give empty strings; the request classes pass an empty id, their tag name,
    // true and the "/cml" namespace URI.
    CCmlRequest(const char16_t* requestId, const char16_t* tagName, bool needReply, const char16_t* namespaceURI);
    CCmlRequest(const CCmlRequest&) = default;
    ~CCmlRequest() override;

    // Base fields, then the flag; self-assignment does nothing.
    virtual CCmlRequest& operator=(const CCmlRequest& other);
    // A heap copy of the object's own class ("Cloning request object", 0xC7210001).
    std::unique_ptr<CCmlRequest> Clone() const { return std::unique_ptr<CCmlRequest>(DoClone()); }
    virtual bool GetNeedReply() const;
    virtual void SetNeedReply(const bool& needReply);

    // The base fields, then need-reply = ("need-reply" is not exactly "false").
    void Deserialize(const CCmlDOM_Element& element) override;
    // The base attributes, then " need-reply='false'" only when the flag is false.
    void SerializeAttributes(std::ostream& stream) const override;
    void SerializeAttributes(std::basic_ostream<char16_t>& stream) const override;

protected:
    CCmlRequest* DoClone() const override;

private:
    template <typename CharT>
    void SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const;

    bool m_needReply;
};

// A response: a message with a status code and a text.
class CCmlResponse : public CMessageBase {
public:
    // The request id starts empty; null pointers give empty strings.
    CCmlResponse(const char16_t* tagName, uint32_t code, const char16_t* text, const char16_t* namespaceURI);
    CCmlResponse(const CCmlResponse&) = default;
    ~CCmlResponse() override;

    // Base fields, then code and text; self-assignment does nothing.
    virtual CCmlResponse& operator=(const CCmlResponse& other);
    // A heap copy of the object's own class ("Cloning response object", 0xC7210001).
    std::unique_ptr<CCmlResponse> Clone() const { return std::unique_ptr<CCmlResponse>(DoClone()); }
    uint32_t GetCode() const override;
    const std::u16string& GetText() const override;
    virtual void SetCode(uint32_t code);
    virtual void SetText(const char16_t* text);

    // The base fields, then "code" (automatic base, empty 0) and "text".
    void Deserialize(const CCmlDOM_Element& element) override;
    // The base attributes, then " code='0x<hex>'" when non-zero and " text='<escaped>'" when
    // non-empty.
    void SerializeAttributes(std::ostream& stream) const override;
    void SerializeAttributes(std::basic_ostream<char16_t>& stream) const override;

protected:
    CCmlResponse* DoClone() const override;

private:
    template <typename CharT>
    void SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const;

    uint32_t m_code;
    std::u16string m_text;
};

}  // namespace zel::cml
