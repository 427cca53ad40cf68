// Policies in CML: the "policy-item" element that names a policy and carries its status, the
// three kinds of policy content (a policy document object, a DOM element as received, a
// reference by name) and the four policy messages "get-policy-request",
// "set-policy-request", "get-policy-response" and "set-policy-response".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "SensorIndependence/CmlLib/cml_namespace.h"
#include "SensorIndependence/CmlLib/dom_document_ref.h"
#include "SensorIndependence/CmlLib/dom_wrappers.h"
#include "SensorIndependence/CmlLib/message_base.h"

namespace zel::cml {

// What a CPolicySource holds, as GetSourceType answers.
enum PolicySourceType : int {
    kPolicySourceReference = 0,  // CPolicyReference
    kPolicySourceDocument = 1,   // CCmlPolicy
    kPolicySourceNode = 2,       // CPolicyNode
};

// The abstract policy content: something that names a policy document and can write it.
class CPolicySource {
public:
    CPolicySource() = default;
    CPolicySource(const CPolicySource&) = default;
    CPolicySource& operator=(const CPolicySource&) = default;
    virtual ~CPolicySource();

    // One of PolicySourceType.
    virtual int GetSourceType() const = 0;
    // A heap copy of the object's own class; throws CCmlException ("Cloning ...", 0xC7210001)
    // when memory runs out.
    std::unique_ptr<CPolicySource> Clone() const { return std::unique_ptr<CPolicySource>(DoClone()); }
    // The namespace URI of the policy document.
    virtual std::u16string GetNamespaceURI() const = 0;
    // The schema version the policy is written with.
    virtual std::u16string GetSchemaVersion() const = 0;
    // The element name of the policy.
    virtual std::u16string GetTagName() const = 0;
    // The policy's "name" (empty when none).
    virtual std::u16string GetName() const = 0;
    // The policy's "version" (empty when none).
    virtual std::u16string GetVersion() const = 0;
    // Whether the policy is marked valid.
    virtual bool GetValid() const = 0;
    // Adds the policy's namespace (and its descendants') to `namespaces`; a conflicting
    // version throws CCmlException 0xC738000E.
    virtual void CollectNamespaces(NamespaceSet& namespaces) const = 0;
    // Replaces the schema version the policy is written with (null: empty).
    virtual void SetSchemaVersion(const char16_t* version) = 0;
    // Writes the policy as an element at `level`.
    virtual void Serialize(std::ostream& stream, int level) const = 0;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const = 0;
    // Reads the policy from `element`.
    virtual void Deserialize(const CCmlDOM_Element& element) = 0;

protected:
    // The copy behind Clone(); each class returns a copy of its own type.
    virtual CPolicySource* DoClone() const = 0;
};

// Owned policy sources in insertion order (also the order they are written in).
using PolicySourceVector = std::vector<std::unique_ptr<CPolicySource>>;

// The base of policy documents held as objects. A concrete document supplies its schema
// version, SetSchemaVersion, HasContent and the content writers.
class CCmlPolicy : public CPolicySource {
public:
    // A document with the given element name (null: "policy") and namespace URI (null: empty),
    // not overwriting and valid.
    explicit CCmlPolicy(const char16_t* tagName = nullptr, const char16_t* namespaceURI = nullptr);
    CCmlPolicy(const CCmlPolicy&) = default;
    CCmlPolicy& operator=(const CCmlPolicy&) = default;
    ~CCmlPolicy() override;

    // kPolicySourceDocument.
    int GetSourceType() const override;
    std::u16string GetNamespaceURI() const override;
    std::u16string GetTagName() const override;
    std::u16string GetName() const override;
    std::u16string GetVersion() const override;
    // False only when the document said valid='false' or SetValid(false) was called.
    bool GetValid() const override;
    // The "schema-version" as read from a document; empty for a document built in memory.
    virtual const std::u16string& GetDocumentSchemaVersion() const;
    // True when the document replaces the policy rather than merging into it.
    virtual bool GetOverwrite() const;
    // Each setter replaces its field; a null pointer gives the empty string.
    virtual void SetTagName(const char16_t* tagName);
    virtual void SetName(const char16_t* name);
    virtual void SetDocumentSchemaVersion(const char16_t* version);
    virtual void SetVersion(const char16_t* version);
    virtual void SetNamespaceURI(const char16_t* namespaceURI);
    virtual void SetOverwrite(bool overwrite);
    virtual void SetValid(bool valid);

    // Adds (namespace URI, GetSchemaVersion()) with "Constructing policy namespace object".
    void CollectNamespaces(NamespaceSet& namespaces) const override;
    // Reads tag name, namespace URI, "name", "version", "schema-version", overwrite (exactly
    // "true") and valid (not exactly "false"). A null element throws CCmlException
    // ("Deserializing policy", "Null element received", 0xC738000F). Concrete documents
    // read their content after calling this.
    void Deserialize(const CCmlDOM_Element& element) override;

    // The element form: start tag, content at level + 1, end tag, even without content.
    void Serialize(std::ostream& stream, int level) const override;
    void Serialize(std::basic_ostream<char16_t>& stream, int level) const override;
    // The stand-alone document: declaration, schema locations of the collected namespaces,
    // the attributes, then the content or "/>" when HasContent() is false.
    virtual void SerializeDocument(std::ostream& stream) const;
    virtual void SerializeDocument(std::basic_ostream<char16_t>& stream) const;
    // Indentation, "<", tag name, the attributes, ">", line end.
    virtual void SerializeStartTag(std::ostream& stream, int level) const;
    virtual void SerializeStartTag(std::basic_ostream<char16_t>& stream, int level) const;
    // Indentation, "</", tag name, ">", line end.
    virtual void SerializeEndTag(std::ostream& stream, int level) const;
    virtual void SerializeEndTag(std::basic_ostream<char16_t>& stream, int level) const;
    // " xmlns", then " name" (escaped) and " version" when non-empty, " overwrite='true'" when
    // set, " schema-version" (GetSchemaVersion()), " valid='false'" when not valid.
    virtual void SerializeAttributes(std::ostream& stream) const;
    virtual void SerializeAttributes(std::basic_ostream<char16_t>& stream) const;

    // True when the document has child content to write.
    virtual bool HasContent() const = 0;
    // Writes the document's child content at `level`.
    virtual void SerializeContent(std::ostream& stream, int level) const = 0;
    virtual void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const = 0;

protected:
    CCmlPolicy* DoClone() const override = 0;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;
    template <typename CharT>
    void SerializeDocumentImpl(std::basic_ostream<CharT>& stream) const;
    template <typename CharT>
    void SerializeStartTagImpl(std::basic_ostream<CharT>& stream, int level) const;
    template <typename CharT>
    void SerializeEndTagImpl(std::basic_ostream<CharT>& stream, int level) const;
    template <typename CharT>
    void SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const;

    std::u16string m_tagName;
    std::u16string m_name;
    std::u16string m_documentSchemaVersion;
    std::u16string m_version;
    std::u16string m_namespaceURI;
    bool m_overwrite = false;
    bool m_valid = true;
};

// Policy content held as the DOM element it was received as. Every getter reads the element.
// The node keeps the parsed document alive (CDomDocumentRef) for as long as it or any clone
// exists, even after the parser that built the document is gone.
class CPolicyNode : public CPolicySource, public CCmlDOM_Node {
public:
    // A node over `element` (null allowed: every getter then throws "Null node").
    explicit CPolicyNode(const CCmlDOM_Element& element = CCmlDOM_Element());
    CPolicyNode(const CPolicyNode&) = default;
    CPolicyNode& operator=(const CPolicyNode&) = default;
    ~CPolicyNode() override;

    // kPolicySourceNode.
    int GetSourceType() const override;
    // Each getter throws CCmlException ("Getting policy node ...", "Null node", 0xC7380010)
    // on a null node.
    std::u16string GetNamespaceURI() const override;
    // The "schema-version" attribute.
    std::u16string GetSchemaVersion() const override;
    // The node name.
    std::u16string GetTagName() const override;
    // The "name" attribute.
    std::u16string GetName() const override;
    // The "version" attribute.
    std::u16string GetVersion() const override;
    // True only when the "valid" attribute is exactly "true".
    bool GetValid() const override;
    // Adds (namespace URI, "schema-version") with "Constructing policy node namespace object".
    void CollectNamespaces(NamespaceSet& namespaces) const override;
    // Sets the element's "schema-version" attribute; a null node throws ("Setting policy
    // schema version", "Null node", 0xC7380010).
    void SetSchemaVersion(const char16_t* version) override;
    // Writes the element and its subtree with the formatted DOM writer.
    void Serialize(std::ostream& stream, int level) const override;
    void Serialize(std::basic_ostream<char16_t>& stream, int level) const override;
    // Points the node at `element` (and its document); null allowed.
    void Deserialize(const CCmlDOM_Element& element) override;

    // The wrapped element (null when none).
    CCmlDOM_Element GetElement() const;
    // The owner of the document the element belongs to (empty when the document was not
    // built by CCmlParser).
    const CDomDocumentRef& GetDocumentRef() const { return m_document; }

protected:
    CPolicyNode* DoClone() const override;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;

    CDomDocumentRef m_document;
};

// A reference to a policy by name: the "policy-ref" element of task descriptors. Its schema
// version is always the CML schema version "2.4.2".
class CPolicyReference : public CPolicySource {
public:
    // Tag name "policy-ref", the "/cml" namespace, every other field empty.
    CPolicyReference();
    CPolicyReference(const CPolicyReference&) = default;
    CPolicyReference& operator=(const CPolicyReference&) = default;
    ~CPolicyReference() override;

    // kPolicySourceReference.
    int GetSourceType() const override;
    // The element's own namespace URI.
    std::u16string GetNamespaceURI() const override;
    // Always "2.4.2".
    std::u16string GetSchemaVersion() const override;
    std::u16string GetTagName() const override;
    std::u16string GetName() const override;
    std::u16string GetVersion() const override;
    // Always true: a reference has no validity of its own.
    bool GetValid() const override;
    // The namespace of the referenced policy.
    virtual const std::u16string& GetPolicyNamespace() const;
    // Each setter replaces its field; a null pointer gives the empty string.
    virtual void SetTagName(const char16_t* tagName);
    virtual void SetNamespaceURI(const char16_t* namespaceURI);
    virtual void SetName(const char16_t* name);
    virtual void SetPolicyNamespace(const char16_t* policyNamespace);
    virtual void SetVersion(const char16_t* version);
    // Does nothing: the schema version is fixed.
    void SetSchemaVersion(const char16_t* version) override;

    // Adds (namespace URI, "2.4.2") with "Constructing policy reference namespace object".
    void CollectNamespaces(NamespaceSet& namespaces) const override;
    // Reads node name, namespace URI, "name", "namespace" and "version". A null element throws
    // ("Deserializing policy reference", "Null element received", 0xC738000F).
    void Deserialize(const CCmlDOM_Element& element) override;
    // One empty element: xmlns, name (escaped), namespace, version when non-empty.
    void Serialize(std::ostream& stream, int level) const override;
    void Serialize(std::basic_ostream<char16_t>& stream, int level) const override;

protected:
    CPolicyReference* DoClone() const override;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;

    std::u16string m_tagName;
    std::u16string m_namespaceURI;
    std::u16string m_name;
    std::u16string m_policyNamespace;
    std::u16string m_version;
};

// The "policy-item" element: names one policy and, in responses, carries its status.
// Code 0 means "no status" and is not written.
class CPolicyItem {
public:
    // An item with every string empty and code 0; `tagName` null gives "policy-item".
    explicit CPolicyItem(const char16_t* tagName = nullptr);
    CPolicyItem(const CPolicyItem&) = default;
    virtual ~CPolicyItem();

    // Copies the nine fields; self-assignment does nothing.
    virtual CPolicyItem& operator=(const CPolicyItem& other);
    // A heap copy of the object's own class ("Cloning policy item object", 0xC7210001).
    std::unique_ptr<CPolicyItem> Clone() const { return std::unique_ptr<CPolicyItem>(DoClone()); }

    virtual const std::u16string& GetTagName() const;
    virtual const std::u16string& GetName() const;
    // The namespace URI of the policy named.
    virtual const std::u16string& GetNamespace() const;
    virtual const std::u16string& GetVersion() const;
    virtual const std::u16string& GetSchemaVersion() const;
    virtual const std::u16string& GetTag() const;
    virtual uint32_t GetCode() const;
    virtual const std::u16string& GetText() const;
    virtual const std::u16string& GetToken() const;
    // Each setter replaces its field; a null pointer gives the empty string.
    virtual void SetTagName(const char16_t* tagName);
    virtual void SetName(const char16_t* name);
    virtual void SetNamespace(const char16_t* namespaceURI);
    virtual void SetVersion(const char16_t* version);
    virtual void SetSchemaVersion(const char16_t* version);
    virtual void SetTag(const char16_t* tag);
    virtual void SetCode(uint32_t code);
    virtual void SetText(const char16_t* text);
    virtual void SetToken(const char16_t* token);

    // Always one empty element: indentation, "<" + tag name, the attributes, "/>", line end.
    virtual void Serialize(std::ostream& stream, int level) const;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const;
    // Reads node name and the eight attributes ("code" with automatic base; absent 0). A null
    // element throws ("Deserializing policy-item node", "Null element received", 0xC738000F).
    virtual void Deserialize(const CCmlDOM_Element& element);
    // The non-empty attributes in the fixed order: name (escaped), namespace, version,
    // schema-version, tag, code ("0x" + lower-case hex, when non-zero), text and token (escaped).
    virtual void SerializeAttributes(std::ostream& stream) const;
    virtual void SerializeAttributes(std::basic_ostream<char16_t>& stream) const;

protected:
    // The copy behind Clone(); each class returns a copy of its own type.
    virtual CPolicyItem* DoClone() const;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;
    template <typename CharT>
    void SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const;

    std::u16string m_tagName;
    std::u16string m_name;
    std::u16string m_namespace;
    std::u16string m_version;
    std::u16string m_schemaVersion;
    std::u16string m_tag;
    uint32_t m_code = 0;
    std::u16string m_text;
    std::u16string m_token;
};

// A policy item that may carry the policy's content (a policy source it owns).
class CPolicyData : public CPolicyItem {
public:
    // An item without content; `tagName` null gives "policy-item".
    explicit CPolicyData(const char16_t* tagName = nullptr);
    // Copies the item fields and clones the content.
    CPolicyData(const CPolicyData& other);
    ~CPolicyData() override;

    // Copies the item fields and clones the other's content ("Assigning policy data object",
    // 0xC7210001 when memory runs out); self-assignment does nothing.
    virtual CPolicyData& operator=(const CPolicyData& other);
    // Copies only the item fields; the content stays.
    CPolicyData& operator=(const CPolicyItem& other) override;
    // A heap copy ("Cloning policy data object", 0xC7210001).
    std::unique_ptr<CPolicyData> Clone() const { return std::unique_ptr<CPolicyData>(DoClone()); }

    // The content; null when the item carries none.
    virtual const CPolicySource* GetPolicy() const;
    virtual CPolicySource* GetPolicy();
    // Parses a policy document (UTF-8 or any encoding its declaration names) and keeps its
    // root element as a CPolicyNode, replacing the content. Parse failures throw the
    // parser's CCmlException; the content is unchanged then.
    virtual void ParsePolicy(const char* buffer, std::size_t length);
    // The same for a UTF-16 text of `length` code units.
    virtual void ParsePolicy(const char16_t* buffer, std::size_t length);
    // Replaces the content with a clone of `policy`.
    virtual void SetPolicy(const CPolicySource& policy);
    // Replaces the content with `policy`, taking ownership (null clears it).
    virtual void SetPolicy(CPolicySource* policy);
    // Replaces the content with a CPolicyNode over `element`.
    virtual void SetPolicyNode(const CCmlDOM_Element& element);

    // Without content as CPolicyItem; with content: the start tag with the item attributes,
    // the content at level + 1, the end tag.
    void Serialize(std::ostream& stream, int level) const override;
    void Serialize(std::basic_ostream<char16_t>& stream, int level) const override;
    // The item attributes, then the content: the first element child (if any) becomes a
    // CPolicyNode; without one the item carries no content.
    void Deserialize(const CCmlDOM_Element& element) override;

protected:
    CPolicyData* DoClone() const override;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;

    std::unique_ptr<CPolicySource> m_policy;
};

// Owned policy items in insertion order (also the order they are written in).
using PolicyItemVector = std::vector<std::unique_ptr<CPolicyItem>>;

// "get-policy-request": the policies the sender asks for.
class CGetPolicyRequest : public CCmlRequest {
public:
    // Tag "get-policy-request", "/cml" namespace, need-reply true, no items.
    CGetPolicyRequest();
    // Deep copy: every item is cloned.
    CGetPolicyRequest(const CGetPolicyRequest& other);
    ~CGetPolicyRequest() override;

    // Request fields, then clones of the other's items; self-assignment does nothing.
    virtual CGetPolicyRequest& operator=(const CGetPolicyRequest& other);
    // A heap copy ("Cloning get-policy-request object", 0xC7210001).
    std::unique_ptr<CGetPolicyRequest> Clone() const { return std::unique_ptr<CGetPolicyRequest>(DoClone()); }

    // Appends `item`, taking ownership; null throws ("Adding policy item to policy vector",
    // "NULL object pointer", 0xC7210003). Returns the stored item.
    virtual CPolicyItem& AddPolicyItem(CPolicyItem* item);
    // Appends a clone of `item` and returns it.
    virtual CPolicyItem& AddPolicyItem(const CPolicyItem& item);
    virtual const PolicyItemVector& GetPolicyItems() const;
    virtual PolicyItemVector& GetPolicyItems();
    virtual std::size_t GetPolicyItemCount() const;

    // Always true: an empty request is refused when written, not written empty.
    bool HasContent() const override;
    // The request fields, then each "policy-item" child in the "/cml" namespace; other
    // children are ignored.
    void Deserialize(const CCmlDOM_Element& element) override;
    // Each item at `level`; none throws ("Serializing get-policy-request", "No policy
    // specified", 0xC7380009).
    void SerializeContent(std::ostream& stream, int level) const override;
    void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const override;

protected:
    CGetPolicyRequest* DoClone() const override;

private:
    template <typename CharT>
    void SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const;

    PolicyItemVector m_items;
};

// "set-policy-request": the policies to install.
class CSetPolicyRequest : public CCmlRequest {
public:
    // Tag "set-policy-request", "/cml" namespace, need-reply true, no policies.
    CSetPolicyRequest();
    // Deep copy: every policy source is cloned.
    CSetPolicyRequest(const CSetPolicyRequest& other);
    ~CSetPolicyRequest() override;

    // Request fields, then clones of the other's sources; self-assignment does nothing.
    virtual CSetPolicyRequest& operator=(const CSetPolicyRequest& other);
    // A heap copy ("Cloning set-policy-request object", 0xC7210001).
    std::unique_ptr<CSetPolicyRequest> Clone() const { return std::unique_ptr<CSetPolicyRequest>(DoClone()); }

    // Appends `policy`, taking ownership; null throws ("Adding policy to policy vector",
    // "NULL object pointer", 0xC7210003). Returns the stored source.
    virtual CPolicySource& AddPolicy(CPolicySource* policy);
    // Appends a clone of `policy` and returns it.
    virtual CPolicySource& AddPolicy(const CPolicySource& policy);
    // Parses a policy document and appends its root element as a CPolicyNode. Parse
    // failures throw the parser's CCmlException and append nothing.
    virtual CPolicySource& ParsePolicy(const char* buffer, std::size_t length);
    // The same for a UTF-16 text of `length` code units.
    virtual CPolicySource& ParsePolicy(const char16_t* buffer, std::size_t length);
    // Appends a CPolicyNode over `element`.
    virtual CPolicySource& AddPolicyNode(const CCmlDOM_Element& element);
    // Source `index`; beyond the count throws ("Getting policy source from
    // set-policy-request", "Invalid vector index", 0xC738000B).
    virtual const CPolicySource& GetPolicySource(std::size_t index) const;
    virtual CPolicySource& GetPolicySource(std::size_t index);
    // Replaces source `index` with a clone of `policy` / with `policy` (taking ownership; null
    // throws 0xC7210003); beyond the count throws ("Setting set-policy-request policy source",
    // "Invalid vector index", 0xC738000B).
    virtual CPolicySource& SetPolicySource(std::size_t index, const CPolicySource& policy);
    virtual CPolicySource& SetPolicySource(std::size_t index, CPolicySource* policy);
    virtual const PolicySourceVector& GetPolicySources() const;
    virtual PolicySourceVector& GetPolicySources();
    virtual std::size_t GetPolicySourceCount() const;

    // Always true: an empty request is refused when written.
    bool HasContent() const override;
    // The base namespace, then every source's; no source throws ("Constructing
    // set-policy-request namespace set", "No policy specified", 0xC7380009).
    void CollectNamespaces(NamespaceSet& namespaces) const override;
    // The request fields, then every child element (any name) as a CPolicyNode.
    void Deserialize(const CCmlDOM_Element& element) override;
    // Each source at `level`; none throws ("Serializing set-policy-request", "No policy
    // specified", 0xC7380009).
    void SerializeContent(std::ostream& stream, int level) const override;
    void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const override;

protected:
    CSetPolicyRequest* DoClone() const override;

private:
    template <typename CharT>
    void SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const;

    PolicySourceVector m_policies;
};

// "get-policy-response": each policy asked for, with its content (code 0) or its status.
// Items read from a document are CPolicyData; a builder may add plain CPolicyItem objects
// for policies answered with a code only.
class CGetPolicyResponse : public CCmlResponse {
public:
    // Tag "get-policy-response", "/cml" namespace, code 0, no items.
    CGetPolicyResponse();
    // Deep copy: every item (and its content) is cloned.
    CGetPolicyResponse(const CGetPolicyResponse& other);
    ~CGetPolicyResponse() override;

    // Response fields, then clones of the other's items; self-assignment does nothing.
    virtual CGetPolicyResponse& operator=(const CGetPolicyResponse& other);
    // A heap copy ("Cloning get-policy-response object", 0xC7210001).
    std::unique_ptr<CGetPolicyResponse> Clone() const { return std::unique_ptr<CGetPolicyResponse>(DoClone()); }

    // Item `index`; beyond the count throws ("Getting set-policy request", "Invalid vector
    // index", 0xC738000B).
    virtual const CPolicyItem& GetPolicyItem(std::size_t index) const;
    virtual CPolicyItem& GetPolicyItem(std::size_t index);
    // Appends `item`, taking ownership; null throws ("Adding policy item to specification
    // vector", "NULL object pointer", 0xC7210003). Returns the stored item.
    virtual CPolicyItem& AddPolicyItem(CPolicyItem* item);
    // Appends a clone of `item` (of its own class) and returns it.
    virtual CPolicyItem& AddPolicyItem(const CPolicyItem& item);
    virtual const PolicyItemVector& GetPolicyItems() const;
    virtual PolicyItemVector& GetPolicyItems();
    virtual std::size_t GetPolicyItemCount() const;

    // Always true: an empty response is refused when written.
    bool HasContent() const override;
    // The base namespace, then the content namespaces of every item with code 0. Such an
    // item must be a CPolicyData ("Invalid policy object") carrying content ("No policy
    // specified"), else throws ("Constructing get-policy-response namespace set", 0xC7380009).
    void CollectNamespaces(NamespaceSet& namespaces) const override;
    // The response fields, then every child element (any name) as a CPolicyData.
    void Deserialize(const CCmlDOM_Element& element) override;
    // Each item at `level`; none throws ("Serializing get-policy-response", "No policy
    // specified", 0xC7380009).
    void SerializeContent(std::ostream& stream, int level) const override;
    void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const override;

protected:
    CGetPolicyResponse* DoClone() const override;

private:
    template <typename CharT>
    void SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const;

    PolicyItemVector m_items;
};

// "set-policy-response": one status item per policy set.
class CSetPolicyResponse : public CCmlResponse {
public:
    // Tag "set-policy-response", "/cml" namespace, code 0, no items.
    CSetPolicyResponse();
    // Deep copy: every item is cloned.
    CSetPolicyResponse(const CSetPolicyResponse& other);
    ~CSetPolicyResponse() override;

    // Response fields, then clones of the other's items; self-assignment does nothing.
    virtual CSetPolicyResponse& operator=(const CSetPolicyResponse& other);
    // A heap copy ("Cloning set-policy-response object", 0xC7210001).
    std::unique_ptr<CSetPolicyResponse> Clone() const { return std::unique_ptr<CSetPolicyResponse>(DoClone()); }

    // Item `index`; beyond the count throws ("Getting set-policy response", "Invalid vector
    // index", 0xC738000B).
    virtual const CPolicyItem& GetPolicyItem(std::size_t index) const;
    virtual CPolicyItem& GetPolicyItem(std::size_t index);
    // Appends `item`, taking ownership; null throws ("Adding policy item to policy vector",
    // "NULL object pointer", 0xC7210003). Returns the stored item.
    virtual CPolicyItem& AddPolicyItem(CPolicyItem* item);
    // Appends a clone of `item` and returns it.
    virtual CPolicyItem& AddPolicyItem(const CPolicyItem& item);
    virtual const PolicyItemVector& GetPolicyItems() const;
    virtual PolicyItemVector& GetPolicyItems();
    virtual std::size_t GetPolicyItemCount() const;

    // Always true: an empty response is refused when written.
    bool HasContent() const override;
    // The response fields, then each "policy-item" child in the "/cml" namespace; other
    // children are ignored.
    void Deserialize(const CCmlDOM_Element& element) override;
    // Each item at `level`; none throws ("Serializing set-policy-response", "No policy
    // specified", 0xC7380009).
    void SerializeContent(std::ostream& stream, int level) const override;
    void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const override;

protected:
    CSetPolicyResponse* DoClone() const override;

private:
    template <typename CharT>
    void SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const;

    PolicyItemVector m_items;
};

}  // namespace zel::cml
