// CCmlParser: turns CML text into a DOM document with Xerces, locates the document frame
// (root "zel", the "cml" element, the "message-envelope" element) and checks the schema
// versions of a document against the versions this system supports.
//
// Every document is untrusted input: the parser never opens a file or a connection on a
// document's behalf. A document type declaration is a fatal error, external entities and
// DTDs are never loaded, entity expansion is capped, elements may nest only kMaxElementDepth
// deep, and only the validating parse loads schema files, only from ./schemas and only under
// the names the file-name rule gives.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLEntityResolver.hpp>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_namespace.h"
#include "SensorIndependence/CmlLib/dom_document_ref.h"
#include "SensorIndependence/CmlLib/dom_wrappers.h"
#include "SensorIndependence/CmlLib/retaining_memory_manager.h"

namespace zel::cml {

// The deepest element nesting a document may have (the root is at depth 1). A deeper document
// is a fatal parse error, found while it is read: nothing that walks a parsed tree (reading,
// writing, checking) meets more levels than this, and the text formatted from a document
// stays within a fixed multiple of its size.
inline constexpr unsigned kMaxElementDepth = 256;

// Which parse CCmlParser::Parse runs.
enum ParseKind : int {
    kParseValidating = 1,     // always validate against the schemas of ./schemas
    kParseNonValidating = 2,  // well-formedness and namespaces only (what this system's callers use)
    kParseByMode = 3,         // validate when the parser's validation mode is 1 or 3
};

// The outcome of comparing a document's schema version with a supported one.
enum SchemaVersionOutcome : int {
    kVersionEqual = 0,          // compatible
    kVersionOlderPatch = 1,     // compatible: the document's patch is lower
    kVersionNewerPatch = 2,     // incompatible: the document's patch is higher
    kVersionMinorDiffers = 3,   // incompatible
    kVersionMajorDiffers = 4,   // incompatible
};

// Compares `documentVersion` with `supportedVersion`: major and minor as strings (so "02" and
// "2" differ), the patch as an integer read with automatic base (empty reads 0). Missing parts
// are empty strings.
SchemaVersionOutcome CompareSchemaVersions(const std::u16string& documentVersion,
                                           const std::u16string& supportedVersion);

// True for the outcomes that are compatible (equal, or an older patch).
bool IsCompatible(SchemaVersionOutcome outcome);

// A memory input source over the caller's buffer; the buffer is neither copied nor adopted and
// must outlive the parse. Its system identifier names the document in error texts.
class CCmlMemBufInputSource : public xercesc::MemBufInputSource {
public:
    // `systemId` null: "ZEL CML Stream".
    CCmlMemBufInputSource(const XMLByte* buffer, XMLSize_t length, const char16_t* systemId = nullptr);
};

// A local file input source over a wide path.
class CCmlLocalFileInputSource : public xercesc::LocalFileInputSource {
public:
    explicit CCmlLocalFileInputSource(const char16_t* path);
};

// Turns every report of the XML library into a thrown CCmlException ("Parse operation"):
// warnings 0x47380001, errors 0xC7380002, fatal errors 0xC7380003. A warning therefore ends
// the parse too.
class CCmlSaxErrorHandler : public xercesc::ErrorHandler {
public:
    void warning(const xercesc::SAXParseException& e) override;
    void error(const xercesc::SAXParseException& e) override;
    void fatalError(const xercesc::SAXParseException& e) override;
    // Does nothing: the handler keeps no state.
    void resetErrors() override;
};

// The Xerces DOM parser with the untrusted-input settings, set at construction and again for
// each scanner it switches to. It counts the open elements while the document is read and
// ends the parse with a fatal CCmlException (0xC7380003) at the first element deeper than
// kMaxElementDepth.
class CCmlDOMParser : public xercesc::XercesDOMParser {
public:
    CCmlDOMParser(xercesc::MemoryManager* manager, xercesc::XMLEntityResolver* resolver,
                  xercesc::SecurityManager* securityManager);

    void startDocument() override;
    void startElement(const xercesc::XMLElementDecl& elemDecl, unsigned int urlId, const XMLCh* elemPrefix,
                      const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList, XMLSize_t attrCount, bool isEmpty,
                      bool isRoot) override;
    void endElement(const xercesc::XMLElementDecl& elemDecl, unsigned int urlId, bool isRoot,
                    const XMLCh* elemPrefix) override;
    void docCharacters(const XMLCh* chars, XMLSize_t length, bool cdataSection) override;

    // Chooses the scanner for the next parse: Xerces's general scanner to validate, its
    // lighter well-formedness scanner otherwise, each with the untrusted-input settings.
    // Validation starts off; the caller turns it on for a validating parse.
    void SelectScanner(bool validating);

private:
    // The untrusted-input settings, for the current scanner.
    void ApplyInputSettings();
    // Builds the element of a start tag and makes it the current node, as XercesDOMParser
    // does, but links it, its attributes and their values without Xerces's casts. False,
    // having done nothing, for what only Xerces handles (attributes declared by a grammar,
    // ID attributes).
    bool BuildElement(const xercesc::XMLElementDecl& elemDecl, unsigned int urlId, const XMLCh* elemPrefix,
                      const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList, XMLSize_t attrCount);

    xercesc::XMLEntityResolver* const m_resolver;
    xercesc::SecurityManager* const m_securityManager;
    unsigned m_depth = 0;
    bool m_validatingScanner = true;
    // Whether this parse builds its tree through BuildElement and the direct links: only the
    // well-formedness scanner's, with namespaces on and no schema types or XInclude.
    bool m_linkDirectly = false;
};

// Resolves the external resources a document asks for: only schema grammars of a namespace
// the parser knows, only while a validating parse runs, and only from the file the file-name
// rule gives below ./schemas. Everything else is refused, so nothing is fetched or opened.
class CCmlEntityResolver : public xercesc::XMLEntityResolver {
public:
    explicit CCmlEntityResolver(const NamespaceSet& allowed) : m_allowed(allowed) {}
    void SetSchemaLoadingAllowed(bool allowed) { m_schemaLoadingAllowed = allowed; }
    // A file input source for an allowed schema, null (refused) for everything else.
    xercesc::InputSource* resolveEntity(xercesc::XMLResourceIdentifier* resource) override;

private:
    const NamespaceSet& m_allowed;
    bool m_schemaLoadingAllowed = false;
};

// The CML parser. One thread at a time; each user creates its own or borrows one from a
// CCmlParserPool. The parser holds the parsed document until the next parse, ReleaseDocument
// or its destruction; content objects that point into it (CDomDocumentRef::Of) keep it alive
// beyond that.
class CCmlParser {
public:
    // `validationMode`: 1 or 3 lets kParseByMode validate (this system uses 3). `manager`:
    // the memory manager every document of this parser is allocated from, which must outlive
    // every content object that keeps a document of this parser alive; null gives the parser
    // a CRetainingMemoryManager of its own, shared with those objects.
    explicit CCmlParser(int validationMode = 3, xercesc::MemoryManager* manager = nullptr);
    CCmlParser(const CCmlParser&) = delete;
    CCmlParser& operator=(const CCmlParser&) = delete;
    virtual ~CCmlParser();

    // Registers a namespace whose elements' schema versions are checked. The same URI with the
    // same version is harmless; with another version throws CCmlException 0xC738000E.
    virtual void AddNamespace(const char16_t* uri, const char16_t* version);
    // Erases the entry with that URI (the version is not compared).
    virtual void RemoveNamespace(const char16_t* uri, const char16_t* version);
    virtual void ClearNamespaces();

    // Parses `input` (ParseKind); a parse error in a document with version mismatches throws
    // CSchemaException listing them, every other failure its CCmlException unchanged.
    virtual void Parse(const xercesc::InputSource& input, int kind);
    // Parses a byte buffer in any encoding the XML library detects; the buffer is not copied.
    virtual void ParseBuffer(const XMLByte* buffer, unsigned int length, int kind);
    // Parses a file; the 8-bit path is UTF-8.
    virtual void ParseFile(const char* path, int kind);
    virtual void ParseFile(const char16_t* path, int kind);

    // The "schema-version" of the "zel" root of the last document (empty when absent).
    virtual const std::u16string& GetRootSchemaVersion() const;
    // The "schema-version" of the first "cml" element of the last document (empty when absent).
    virtual const std::u16string& GetCmlSchemaVersion() const;
    // Tag name and namespace URI of the last document's root element.
    virtual const std::u16string& GetRootName() const;
    virtual const std::u16string& GetRootNamespaceURI() const;
    // The last document's root element; null before a successful parse.
    virtual CCmlDOM_Element GetDocumentElement() const;
    virtual const NamespaceSet& GetNamespaces() const;
    virtual NamespaceSet& GetNamespaces();
    virtual int GetValidationMode() const;
    virtual void SetValidationMode(int mode);
    // The last document; null before a successful parse.
    virtual CCmlDOM_Document GetDocument() const;
    // The "cml" element and the "message-envelope" element of the last document; null when absent.
    virtual CCmlDOM_Element GetCmlElement() const;
    virtual CCmlDOM_Element GetEnvelopeElement() const;

    // Parses with schema processing (schemas only from ./schemas); registers ("/cml", "2.4.2")
    // first when no namespace is registered.
    virtual void ParseValidating(const xercesc::InputSource& input);
    // Parses without schema processing or validation.
    virtual void ParseNonValidating(const xercesc::InputSource& input);
    // Parses `input` again without validation and appends one record to `list` for every
    // version in it that is not compatible: the "zel" root against "1.0.0", every "cml"
    // element against "2.4.2" (an absent version is incompatible), and every element of a
    // registered namespace that carries a "schema-version" against the registered version.
    virtual void CheckSchemaCompatibility(const xercesc::InputSource& input, SchemaIncompatibilityList& list);
    // Replaces `out` with "uri location uri location ..." for the registered namespaces.
    virtual void BuildExternalSchemaLocation(std::u16string& out) const;
    // Lets go of the last document and of what was read from it, as before the first parse.
    void ReleaseDocument();

protected:
    // Runs the XML library's parse with the current settings, keeps the document and locates
    // the envelope; converts the library's exceptions to CCmlException 0xC7380002.
    virtual void DoParse(const xercesc::InputSource& input);
    // Fills the root name and namespace, the versions and the two elements from the document.
    virtual void LocateEnvelope();

private:
    // Takes the document the XML library built (complete or partial) so that it is freed with
    // this parser's next parse instead of piling up in the library's document pool. Content
    // objects that keep pointing into the document share its ownership and keep it alive.
    void AdoptDocument();
    void ForgetDocument();

    NamespaceSet m_namespaces;
    CCmlEntityResolver m_resolver;
    xercesc::SecurityManager m_securityManager;
    // The parser's own memory manager (null when the caller gave one); declared before the
    // XML library's parser, which allocates from it.
    std::shared_ptr<CRetainingMemoryManager> m_memory;
    std::unique_ptr<CCmlDOMParser> m_domParser;
    CDomDocumentRef m_document;
    xercesc::DOMElement* m_cmlElement = nullptr;
    xercesc::DOMElement* m_envelopeElement = nullptr;
    std::u16string m_rootSchemaVersion;
    std::u16string m_cmlSchemaVersion;
    std::u16string m_rootName;
    std::u16string m_rootNamespaceURI;
    CCmlSaxErrorHandler m_errorHandler;
    int m_validationMode;
};

}  // namespace zel::cml
