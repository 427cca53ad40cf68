// The schema messages: requests and responses through which agent and controller ask for
// settings schemas, hand schema documents over and report per-schema results, with the
// "schema-info" items they carry and the wrapper of an XML Schema document inside a message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/dom_document_ref.h"
#include "SensorIndependence/CmlLib/dom_wrappers.h"
#include "SensorIndependence/CmlLib/message_base.h"
#include "SensorIndependence/CmlLib/vocabulary.h"

namespace zel::cml {

// The kinds of schema document a CSchemaSource can be (GetSourceType).
enum SchemaSourceType : int {
    kSchemaSourceNode = 0,  // a "schema" element of a parsed DOM document (CSchemaNode)
};

// A whole XML Schema document carried inside a schema message.
class CSchemaSource {
public:
    virtual ~CSchemaSource();

    // Which kind of document this is (SchemaSourceType).
    virtual int GetSourceType() const = 0;
    // A heap copy of the object's own class; throws CCmlException (0xC7210001) when memory runs out.
    virtual std::unique_ptr<CSchemaSource> Clone() const = 0;
    // The namespace URI of the document's root element.
    virtual const std::u16string& GetNamespaceURI() const = 0;
    // The document's "version" attribute (empty when absent).
    virtual const std::u16string& GetVersion() const = 0;
    // Writes the whole document as formatted XML at `level`, ending with a line end.
    virtual void Serialize(std::ostream& stream, int level) const = 0;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const = 0;

protected:
    CSchemaSource() = default;
    CSchemaSource(const CSchemaSource&) = default;
    CSchemaSource& operator=(const CSchemaSource&) = default;
};

// A schema document held as the "schema" element of a parsed DOM document. The node keeps
// that document alive (shared with every clone) when the document came from CCmlParser, so
// the parser may go first; a document built elsewhere must outlive the node.
class CSchemaNode : public CSchemaSource, public CCmlDOM_Node {
public:
    // Wraps `element` (a null element gives a null node, whose getters throw).
    explicit CSchemaNode(const CCmlDOM_Element& element);
    CSchemaNode(const CSchemaNode&) = default;
    CSchemaNode& operator=(const CSchemaNode&) = default;
    ~CSchemaNode() override;

    // Always kSchemaSourceNode (0).
    int GetSourceType() const override;
    // Shares the node, its document and the caches ("Cloning schema node object", 0xC7210001).
    std::unique_ptr<CSchemaSource> Clone() const override;
    // The element's namespace URI, cached on first use; a null node throws CCmlException
    // ("Getting schema node namespace", "Null node", 0xC7380010).
    const std::u16string& GetNamespaceURI() const override;
    // The element's "version" attribute, cached on first use; a null node throws CCmlException
    // ("Getting schema version", "Null node", 0xC7380010).
    const std::u16string& GetVersion() const override;
    // Writes the element and its subtree with the DOM subtree writer; a null node writes nothing.
    void Serialize(std::ostream& stream, int level) const override;
    void Serialize(std::basic_ostream<char16_t>& stream, int level) const override;

    // The wrapped "schema" element (null for a null node).
    CCmlDOM_Element GetSchemaElement() const;

private:
    // Owns (shares) the document the node points into; empty for a document nobody adopted.
    CDomDocumentRef m_document;
    // Filled on first use; reading is single-threaded like every CML object.
    mutable std::u16string m_namespaceURI;
    mutable std::u16string m_version;
};

// A deep-copying holder of an optional schema document, shared by the items that carry one.
class CSchemaDocumentSlot {
public:
    CSchemaDocumentSlot() = default;
    // Clones the other slot's document ("Cloning schema node object" etc., 0xC7210001).
    CSchemaDocumentSlot(const CSchemaDocumentSlot& other);
    CSchemaDocumentSlot& operator=(const CSchemaDocumentSlot& other);
    CSchemaDocumentSlot(CSchemaDocumentSlot&&) noexcept = default;
    CSchemaDocumentSlot& operator=(CSchemaDocumentSlot&&) noexcept = default;
    ~CSchemaDocumentSlot();

    // The document, or null.
    const CSchemaSource* Get() const { return m_schema.get(); }
    CSchemaSource* Get() { return m_schema.get(); }
    // Replaces (and so deletes) the document held; null leaves the slot empty.
    void Reset(std::unique_ptr<CSchemaSource> schema) { m_schema = std::move(schema); }
    // Replaces the document with the first child element of `item` that is a "schema" element
    // of the W3C XML Schema namespace (node name compared exactly, so a prefixed "xs:schema"
    // does not count); empty when there is none. A failing allocation throws CCmlException
    // ("Deserializing schema item", "Insufficient memory", 0xC7210001).
    void Read(const CCmlDOM_Element& item);

private:
    std::unique_ptr<CSchemaSource> m_schema;
};

// A schema's result in a response: CSchemaInfo plus a status code and a text.
class CSchemaInfoResponseData : public CSchemaInfo {
public:
    // Code 0 and an empty text, the CSchemaInfo defaults otherwise.
    CSchemaInfoResponseData();
    CSchemaInfoResponseData(const CSchemaInfoResponseData&) = default;
    CSchemaInfoResponseData& operator=(const CSchemaInfoResponseData&) = default;
    ~CSchemaInfoResponseData() override;

    // The CSchemaInfo attributes, then "code" (automatic base; absent or unreadable gives 0)
    // and "text".
    void Deserialize(const CCmlDOM_Element& element) override;
    virtual uint32_t GetCode() const;
    virtual const std::u16string& GetText() const;
    virtual void SetCode(uint32_t code);
    // A null pointer gives the empty text.
    virtual void SetText(const char16_t* text);
    // Writes "<schema-info" + the CSchemaInfo attributes + " code='0x..'" when non-zero +
    // " text='..'" (escaped) when non-empty + "/>" and a line end, indented at `level`.
    virtual void Serialize(std::ostream& stream, int level) const;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const;

private:
    // " code='0x..'" and " text='..'" as far as they are set.
    template <typename CharT>
    void SerializeResultAttributes(std::basic_ostream<CharT>& stream) const;
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;

    uint32_t m_code = 0;
    std::u16string m_text;
};

// A schema to install: CSchemaInfo plus the schema document.
class CSetSchemaRequestData : public CSchemaInfo {
public:
    // No document, the CSchemaInfo defaults otherwise.
    CSetSchemaRequestData();
    // Copies clone the document.
    CSetSchemaRequestData(const CSetSchemaRequestData&) = default;
    CSetSchemaRequestData& operator=(const CSetSchemaRequestData&) = default;
    ~CSetSchemaRequestData() override;

    // The CSchemaInfo attributes, then the document (see CSchemaDocumentSlot::Read).
    void Deserialize(const CCmlDOM_Element& element) override;
    // The document held, or null.
    virtual const CSchemaSource* GetSchema() const;
    virtual CSchemaSource* GetSchema();
    // Takes ownership of `schema` (null: no document); the previous document is deleted.
    virtual void SetSchema(std::unique_ptr<CSchemaSource> schema);
    // The same for a raw owning pointer (the caller gives up `schema`).
    void SetSchema(CSchemaSource* schema) { SetSchema(std::unique_ptr<CSchemaSource>(schema)); }
    // Stores a clone of `schema`; the previous document is deleted.
    virtual void SetSchema(const CSchemaSource& schema);
    // Writes "<schema-info" + attributes + ">", the document at level 0, an empty line and
    // "</schema-info>" at `level`. Without a document throws CCmlException ("Serializing
    // schema", "No schema specified", 0xC738000D) before writing anything.
    virtual void Serialize(std::ostream& stream, int level) const;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;

    CSchemaDocumentSlot m_schema;
};

// A schema asked for: its result and, when it could be supplied, its document.
class CGetSchemaResponseData : public CSchemaInfoResponseData {
public:
    // Code 0, empty text, no document.
    CGetSchemaResponseData();
    // Copies clone the document.
    CGetSchemaResponseData(const CGetSchemaResponseData&) = default;
    CGetSchemaResponseData& operator=(const CGetSchemaResponseData&) = default;
    ~CGetSchemaResponseData() override;

    // The result attributes, then the document (see CSchemaDocumentSlot::Read).
    void Deserialize(const CCmlDOM_Element& element) override;
    virtual const CSchemaSource* GetSchema() const;
    virtual CSchemaSource* GetSchema();
    // Takes ownership of `schema` (null: no document); the previous document is deleted.
    virtual void SetSchema(std::unique_ptr<CSchemaSource> schema);
    // The same for a raw owning pointer (the caller gives up `schema`).
    void SetSchema(CSchemaSource* schema) { SetSchema(std::unique_ptr<CSchemaSource>(schema)); }
    // Stores a clone of `schema`; the previous document is deleted.
    virtual void SetSchema(const CSchemaSource& schema);
    // Without a document: as CSchemaInfoResponseData. With one: the start tag without code
    // and text, the document at level 0, an empty line and the end tag.
    void Serialize(std::ostream& stream, int level) const override;
    void Serialize(std::basic_ostream<char16_t>& stream, int level) const override;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;

    CSchemaDocumentSlot m_schema;
};

// "get-schema-info-request" or "get-schema-request": the schemas asked for, by their info.
class CSchemaRequest : public CCmlRequest {
public:
    // One of the two element names; need-reply true and the "/cml" namespace by default.
    explicit CSchemaRequest(const char16_t* tagName, const char16_t* requestId = nullptr, bool needReply = true,
                            const char16_t* namespaceURI = kCmlNamespaceURI);
    CSchemaRequest(const CSchemaRequest&) = default;
    ~CSchemaRequest() override;

    // A heap copy ("Cloning schema-request object", 0xC7210001).
    std::unique_ptr<CSchemaRequest> Clone() const { return std::unique_ptr<CSchemaRequest>(DoClone()); }
    // True when there is at least one item.
    bool HasContent() const override;
    // Empties the items, reads the request attributes, then every "schema-info" child of the
    // "/cml" namespace. A DOM failure throws CCmlException ("Parsing schema request element").
    void Deserialize(const CCmlDOM_Element& element) override;
    // Writes every item at `level`, in order.
    void SerializeContent(std::ostream& stream, int level) const override;
    void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const override;

    // Request fields and items; self-assignment does nothing.
    virtual CSchemaRequest& operator=(const CSchemaRequest& other);
    // Appends a copy and returns the stored item.
    virtual CSchemaInfo& AddSchemaInfo(const CSchemaInfo& info);
    virtual std::vector<CSchemaInfo>& GetSchemas();
    virtual const std::vector<CSchemaInfo>& GetSchemas() const;
    virtual std::size_t GetSchemaCount() const;
    // Item `index`; at or beyond the count throws CCmlException ("Getting schema request",
    // "Invalid vector index", 0xC738000B).
    virtual CSchemaInfo& GetSchemaInfo(std::size_t index);
    virtual const CSchemaInfo& GetSchemaInfo(std::size_t index) const;

protected:
    CSchemaRequest* DoClone() const override;

private:
    std::vector<CSchemaInfo> m_schemas;
};

// "set-schema-request": schema documents to install.
class CSetSchemaRequest : public CCmlRequest {
public:
    explicit CSetSchemaRequest(const char16_t* tagName = kTagSetSchemaRequest, const char16_t* requestId = nullptr,
                               bool needReply = true, const char16_t* namespaceURI = kCmlNamespaceURI);
    // Copies clone every item's document.
    CSetSchemaRequest(const CSetSchemaRequest&) = default;
    ~CSetSchemaRequest() override;

    // A heap copy ("Cloning set-schema-request object", 0xC7210001).
    std::unique_ptr<CSetSchemaRequest> Clone() const { return std::unique_ptr<CSetSchemaRequest>(DoClone()); }
    bool HasContent() const override;
    // As CSchemaRequest; DOM failures carry "Parsing set-schema-request element".
    void Deserialize(const CCmlDOM_Element& element) override;
    // Writes every item at `level`; an item without a document throws "No schema specified".
    void SerializeContent(std::ostream& stream, int level) const override;
    void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const override;

    virtual CSetSchemaRequest& operator=(const CSetSchemaRequest& other);
    virtual CSetSchemaRequestData& AddSchemaData(const CSetSchemaRequestData& data);
    virtual std::vector<CSetSchemaRequestData>& GetSchemas();
    virtual const std::vector<CSetSchemaRequestData>& GetSchemas() const;
    virtual std::size_t GetSchemaCount() const;
    // Item `index`; out of range throws ("Getting set-schema request", "Invalid vector index",
    // 0xC738000B).
    virtual CSetSchemaRequestData& GetSchemaData(std::size_t index);
    virtual const CSetSchemaRequestData& GetSchemaData(std::size_t index) const;

protected:
    CSetSchemaRequest* DoClone() const override;

private:
    std::vector<CSetSchemaRequestData> m_schemas;
};

// "get-schema-response": the schemas asked for, each with its document or its result.
class CGetSchemaResponse : public CCmlResponse {
public:
    explicit CGetSchemaResponse(const char16_t* tagName = kTagGetSchemaResponse, uint32_t code = 0,
                                const char16_t* text = nullptr, const char16_t* namespaceURI = kCmlNamespaceURI);
    CGetSchemaResponse(const CGetSchemaResponse&) = default;
    ~CGetSchemaResponse() override;

    // A heap copy ("Cloning get-schema-response object", 0xC7210001).
    std::unique_ptr<CGetSchemaResponse> Clone() const { return std::unique_ptr<CGetSchemaResponse>(DoClone()); }
    bool HasContent() const override;
    // As CSchemaRequest; DOM failures carry "Parsing get-schema-response element".
    void Deserialize(const CCmlDOM_Element& element) override;
    void SerializeContent(std::ostream& stream, int level) const override;
    void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const override;

    virtual CGetSchemaResponse& operator=(const CGetSchemaResponse& other);
    virtual CGetSchemaResponseData& AddSchemaData(const CGetSchemaResponseData& data);
    virtual std::vector<CGetSchemaResponseData>& GetSchemas();
    virtual const std::vector<CGetSchemaResponseData>& GetSchemas() const;
    virtual std::size_t GetSchemaCount() const;
    // Out of range throws ("Getting get-schema-response", "Invalid vector index", 0xC738000B).
    virtual CGetSchemaResponseData& GetSchemaData(std::size_t index);
    virtual const CGetSchemaResponseData& GetSchemaData(std::size_t index) const;

protected:
    CGetSchemaResponse* DoClone() const override;

private:
    std::vector<CGetSchemaResponseData> m_schemas;
};

// "get-schema-info-response" or "set-schema-response": one result per schema.
class CSchemaResponse : public CCmlResponse {
public:
    explicit CSchemaResponse(const char16_t* tagName, uint32_t code = 0, const char16_t* text = nullptr,
                             const char16_t* namespaceURI = kCmlNamespaceURI);
    CSchemaResponse(const CSchemaResponse&) = default;
    ~CSchemaResponse() override;

    // A heap copy ("Cloning get-schema-info-response object", 0xC7210001).
    std::unique_ptr<CSchemaResponse> Clone() const { return std::unique_ptr<CSchemaResponse>(DoClone()); }
    bool HasContent() const override;
    // As CSchemaRequest; DOM failures carry "Parsing schema info response element".
    void Deserialize(const CCmlDOM_Element& element) override;
    void SerializeContent(std::ostream& stream, int level) const override;
    void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const override;

    virtual CSchemaResponse& operator=(const CSchemaResponse& other);
    // Reads an item from `element`, then appends it; returns the stored item.
    virtual CSchemaInfoResponseData& AddSchemaInfo(const CCmlDOM_Element& element);
    virtual CSchemaInfoResponseData& AddSchemaInfo(const CSchemaInfoResponseData& info);
    virtual std::vector<CSchemaInfoResponseData>& GetSchemas();
    virtual const std::vector<CSchemaInfoResponseData>& GetSchemas() const;
    virtual std::size_t GetSchemaCount() const;
    // Out of range throws ("Getting schema response", "Invalid vector index", 0xC738000B).
    virtual CSchemaInfoResponseData& GetSchemaInfo(std::size_t index);
    virtual const CSchemaInfoResponseData& GetSchemaInfo(std::size_t index) const;

protected:
    CSchemaResponse* DoClone() const override;

private:
    std::vector<CSchemaInfoResponseData> m_schemas;
};

// "schema-not-supported-response": the schemas the sender does not support.
class CSchemaNotSupportedResponse : public CCmlResponse {
public:
    explicit CSchemaNotSupportedResponse(const char16_t* tagName = kTagSchemaNotSupportedResponse, uint32_t code = 0,
                                         const char16_t* text = nullptr,
                                         const char16_t* namespaceURI = kCmlNamespaceURI);
    CSchemaNotSupportedResponse(const CSchemaNotSupportedResponse&) = default;
    ~CSchemaNotSupportedResponse() override;

    // A heap copy ("Cloning schema-not-supported object", 0xC7210001).
    std::unique_ptr<CSchemaNotSupportedResponse> Clone() const {
        return std::unique_ptr<CSchemaNotSupportedResponse>(DoClone());
    }
    bool HasContent() const override;
    // As CSchemaRequest; DOM failures carry "Parsing schema-not-supported response element".
    void Deserialize(const CCmlDOM_Element& element) override;
    void SerializeContent(std::ostream& stream, int level) const override;
    void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const override;

    virtual CSchemaNotSupportedResponse& operator=(const CSchemaNotSupportedResponse& other);
    // Reads an item from `element`, then appends it; returns the stored item.
    virtual CSchemaInfo& AddSchemaInfo(const CCmlDOM_Element& element);
    virtual CSchemaInfo& AddSchemaInfo(const CSchemaInfo& info);
    virtual std::vector<CSchemaInfo>& GetSchemas();
    virtual const std::vector<CSchemaInfo>& GetSchemas() const;
    virtual std::size_t GetSchemaCount() const;
    // Out of range throws ("Getting schema-not-supported response", "Invalid vector index",
    // 0xC738000B).
    virtual CSchemaInfo& GetSchemaInfo(std::size_t index);
    virtual const CSchemaInfo& GetSchemaInfo(std::size_t index) const;

protected:
    CSchemaNotSupportedResponse* DoClone() const override;

private:
    std::vector<CSchemaInfo> m_schemas;
};

}  // namespace zel::cml
