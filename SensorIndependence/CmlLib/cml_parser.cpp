#include "SensorIndependence/CmlLib/cml_parser.h"

#include <exception>
#include <new>
#include <string>

#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/impl/DOMAttrImpl.hpp>
#include <xercesc/dom/impl/DOMAttrMapImpl.hpp>
#include <xercesc/dom/impl/DOMDocumentImpl.hpp>
#include <xercesc/dom/impl/DOMElementImpl.hpp>
#include <xercesc/dom/impl/DOMTextImpl.hpp>
#include <xercesc/framework/XMLBufferMgr.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/dom/DOMNodeList.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "SensorIndependence/CmlLib/dom_tree_links.h"
#include "SensorIndependence/CmlLib/message_base.h"
#include "SensorIndependence/CmlLib/nullable_text.h"
#include "SensorIndependence/CmlLib/schema_file_name.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_init.h"
#include "runtime/unicode.h"
#include "zel/status_codes.h"

namespace zel::cml {

namespace {

constexpr const char16_t* kOpParse = u"Parse operation";
constexpr const char16_t* kOpParseVersion = u"Parsing CML version";
constexpr const char16_t* kOpAddNamespace = u"Adding namespace to CML parser";
constexpr const char16_t* kDefaultSystemId = u"ZEL CML Stream";
constexpr const char16_t* kTextWarning = u"Warning parsing input ";
constexpr const char16_t* kTextError = u"Error parsing input ";
constexpr const char16_t* kTextFatal = u"Fatal error parsing input ";
constexpr const char16_t* kTextLine = u", line ";
constexpr const char16_t* kTextColumn = u", column ";
constexpr const char16_t* kTextHandlerMessage = u"\n   Message:  ";
constexpr const char16_t* kTextContentError = u"Error parsing input content";
constexpr const char16_t* kTextErrorNumber = u"; error = ";
constexpr const char16_t* kTextMessage = u"\nMessage:  ";
constexpr const char16_t* kTextAddingNamespace = u"Adding namespace ";
constexpr const char16_t* kTextVersion = u" version ";
constexpr const char16_t* kTextNamespace = u"; namespace ";
constexpr const char16_t* kTextAlreadySpecified = u" already specified";
constexpr const char16_t* kTextTooDeep = u"Elements are nested deeper than ";
constexpr const char16_t* kTextLevels = u" levels";

// Entity references expanded per document at most. CML uses only the predefined entities
// and character references; declared entities cannot appear because a DOCTYPE is refused,
// so the cap is a second line of defence and can be small.
constexpr XMLSize_t kEntityExpansionLimit = 64;

std::u16string Number(uint64_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

// "<kind>"<system id>", line <n>, column <n>\n   Message:  <message>"
std::u16string HandlerDescription(const char16_t* kind, const XMLCh* systemId, XMLFileLoc line, XMLFileLoc column,
                                  const std::u16string& message) {
    std::u16string out = kind;
    out += u'"';
    out += Text(systemId);
    out += u'"';
    out += kTextLine;
    out += Number(line);
    out += kTextColumn;
    out += Number(column);
    out += kTextHandlerMessage;
    out += message;
    return out;
}

std::u16string HandlerDescription(const char16_t* kind, const xercesc::SAXParseException& e) {
    return HandlerDescription(kind, e.getSystemId(), e.getLineNumber(), e.getColumnNumber(), Text(e.getMessage()));
}

std::u16string Attribute(const xercesc::DOMElement* element, const char16_t* name) {
    return Text(AttributeValue(element, name));
}

void SplitVersion(const std::u16string& version, std::u16string& major, std::u16string& minor,
                  std::u16string& patch) {
    const std::size_t first = version.find(u'.');
    if (first == std::u16string::npos) {
        major = version;
        minor.clear();
        patch.clear();
        return;
    }
    major = version.substr(0, first);
    const std::size_t second = version.find(u'.', first + 1);
    if (second == std::u16string::npos) {
        minor = version.substr(first + 1);
        patch.clear();
        return;
    }
    minor = version.substr(first + 1, second - first - 1);
    patch = version.substr(second + 1);
}

// The elements of a by-name search. Only item() is used: getLength() of such a list walks
// the whole subtree, and item(i) after it starts again from the top.
template <typename Visit>
void ForEachElement(const xercesc::DOMNodeList* list, Visit visit) {
    if (!list) return;
    for (XMLSize_t i = 0; const xercesc::DOMNode* node = list->item(i); ++i) {
        visit(static_cast<const xercesc::DOMElement*>(node));
    }
}

void CheckVersion(const std::u16string& uri, const std::u16string& supported, const std::u16string& document,
                  SchemaIncompatibilityList& list) {
    if (!IsCompatible(CompareSchemaVersions(document, supported))) {
        list.emplace_back(uri, supported, document);
    }
}

}  // namespace

SchemaVersionOutcome CompareSchemaVersions(const std::u16string& documentVersion,
                                           const std::u16string& supportedVersion) {
    std::u16string documentMajor, documentMinor, documentPatch;
    std::u16string supportedMajor, supportedMinor, supportedPatch;
    SplitVersion(documentVersion, documentMajor, documentMinor, documentPatch);
    SplitVersion(supportedVersion, supportedMajor, supportedMinor, supportedPatch);
    if (documentMajor != supportedMajor) return kVersionMajorDiffers;
    if (documentMinor != supportedMinor) return kVersionMinorDiffers;
    // The patches are numbers read with automatic base; an empty patch reads 0.
    const uint32_t documentNumber = ReadAutoBaseNumber(documentPatch);
    const uint32_t supportedNumber = ReadAutoBaseNumber(supportedPatch);
    if (documentNumber > supportedNumber) return kVersionNewerPatch;
    if (documentNumber < supportedNumber) return kVersionOlderPatch;
    return kVersionEqual;
}

bool IsCompatible(SchemaVersionOutcome outcome) { return outcome == kVersionEqual || outcome == kVersionOlderPatch; }

CCmlMemBufInputSource::CCmlMemBufInputSource(const XMLByte* buffer, XMLSize_t length, const char16_t* systemId)
    : xercesc::MemBufInputSource(buffer, length, systemId ? systemId : kDefaultSystemId, false) {
    // Xerces would otherwise copy the whole buffer into every stream it reads from it.
    setCopyBufToStream(false);
}

CCmlLocalFileInputSource::CCmlLocalFileInputSource(const char16_t* path) : xercesc::LocalFileInputSource(path) {}

void CCmlSaxErrorHandler::warning(const xercesc::SAXParseException& e) {
    throw CCmlException(kOpParse, HandlerDescription(kTextWarning, e), ZEL_I_CML_PARSE_WARNING);
}

void CCmlSaxErrorHandler::error(const xercesc::SAXParseException& e) {
    throw CCmlException(kOpParse, HandlerDescription(kTextError, e), ZEL_E_CML_PARSE_ERROR);
}

void CCmlSaxErrorHandler::fatalError(const xercesc::SAXParseException& e) {
    throw CCmlException(kOpParse, HandlerDescription(kTextFatal, e), ZEL_E_CML_PARSE_FATAL);
}

void CCmlSaxErrorHandler::resetErrors() {}

CCmlDOMParser::CCmlDOMParser(xercesc::MemoryManager* manager, xercesc::XMLEntityResolver* resolver,
                             xercesc::SecurityManager* securityManager)
    : xercesc::XercesDOMParser(nullptr, manager), m_resolver(resolver), m_securityManager(securityManager) {
    ApplyInputSettings();
}

void CCmlDOMParser::ApplyInputSettings() {
    setDoNamespaces(true);
    setCreateEntityReferenceNodes(false);
    // A DOCTYPE is a fatal error reported at the declaration itself, before any of its
    // internal subset (entity declarations) or external subset is read.
    getScanner()->setDisallowDTD(true);
    setLoadExternalDTD(false);
    setDisableDefaultEntityResolution(true);
    setXMLEntityResolver(m_resolver);
    // The well-formedness scanner counts every entity reference against the expansion limit,
    // the predefined ones too (&lt; and the like). Without a DOCTYPE no other entity can be
    // declared, so there is nothing for the limit to guard, and an ordinary document with
    // many escaped characters must not fail.
    setSecurityManager(m_validatingScanner ? m_securityManager : nullptr);
    setHandleMultipleImports(false);
    setExternalSchemaLocation(u"");
    setExternalNoNamespaceSchemaLocation(u"");
    useCachedGrammarInParse(false);
    cacheGrammarFromParse(false);
    setLoadSchema(false);
    setDoSchema(false);
    setValidationScheme(Val_Never);
}

void CCmlDOMParser::SelectScanner(bool validating) {
    if (validating == m_validatingScanner) return;
    useScanner(validating ? xercesc::XMLUni::fgIGXMLScanner : xercesc::XMLUni::fgWFXMLScanner);
    m_validatingScanner = validating;
    // Set on the new scanner rather than trusting what it copies from the old one.
    ApplyInputSettings();
}

void CCmlDOMParser::startDocument() {
    m_depth = 0;
    m_linkDirectly = !m_validatingScanner && getDoNamespaces() && !getCreateSchemaInfo() && !getDoXInclude();
    XercesDOMParser::startDocument();
}

void CCmlDOMParser::startElement(const xercesc::XMLElementDecl& elemDecl, unsigned int urlId, const XMLCh* elemPrefix,
                                 const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList, XMLSize_t attrCount,
                                 bool isEmpty, bool isRoot) {
    // The base class ends an empty element itself, through endElement, which counts down.
    if (++m_depth > kMaxElementDepth) {
        const xercesc::Locator* const where = getScanner()->getLocator();
        throw CCmlException(kOpParse,
                            HandlerDescription(kTextFatal, where->getSystemId(), where->getLineNumber(),
                                               where->getColumnNumber(),
                                               kTextTooDeep + Number(kMaxElementDepth) + kTextLevels),
                            ZEL_E_CML_PARSE_FATAL);
    }
    if (!m_linkDirectly || !BuildElement(elemDecl, urlId, elemPrefix, attrList, attrCount)) {
        XercesDOMParser::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty, isRoot);
        return;
    }
    if (isEmpty) endElement(elemDecl, urlId, isRoot, elemPrefix);
}

bool CCmlDOMParser::BuildElement(const xercesc::XMLElementDecl& elemDecl, unsigned int urlId,
                                 const XMLCh* elemPrefix, const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList,
                                 XMLSize_t attrCount) {
    const bool isRoot = fCurrentParent == fDocument;
    if (elemDecl.hasAttDefs() || (!isRoot && fCurrentParent->getNodeType() != xercesc::DOMNode::ELEMENT_NODE))
        return false;
    for (XMLSize_t i = 0; i < attrCount; ++i) {
        if (attrList.elementAt(i)->getType() == xercesc::XMLAttDef::ID) return false;
    }
    const unsigned emptyNamespace = fScanner->getEmptyNamespaceId();
    const XMLCh* const localName = elemDecl.getBaseName();
    const XMLCh* const namespaceURI = urlId != emptyNamespace ? fScanner->getURIText(urlId) : nullptr;
    xercesc::DOMElement* element = nullptr;
    if (namespaceURI && elemPrefix && *elemPrefix) {
        xercesc::XMLBufBid qualifiedName(&fBufMgr);
        qualifiedName.set(elemPrefix);
        qualifiedName.append(xercesc::chColon);
        qualifiedName.append(localName);
        element = createElementNS(namespaceURI, elemPrefix, localName, qualifiedName.getRawBuffer());
    } else {
        element = createElementNS(namespaceURI, nullptr, localName, localName);
    }
    auto* const elementImpl = static_cast<xercesc::DOMElementImpl*>(element);

    if (attrCount > 0) {
        const unsigned xmlnsNamespace = fScanner->getXMLNSNamespaceId();
        elementImpl->fAttributes->reserve(attrCount);
        for (XMLSize_t i = 0; i < attrCount; ++i) {
            const xercesc::XMLAttr* const source = attrList.elementAt(i);
            const XMLCh* const prefix = source->getPrefix();
            const XMLCh* const name = source->getName();
            // A default namespace declaration belongs to the xmlns namespace.
            const bool declaresDefault =
                (!prefix || !*prefix) && xercesc::XMLString::equals(name, xercesc::XMLUni::fgXMLNSString);
            const unsigned uriId = declaresDefault ? xmlnsNamespace : source->getURIId();
            const XMLCh* const uri = uriId != emptyNamespace ? fScanner->getURIText(uriId) : nullptr;
            auto* const attribute =
                static_cast<xercesc::DOMAttrImpl*>(createAttrNS(uri, prefix, name, source->getQName()));
            dom_links::SetAttribute(*elementImpl, attribute);
            if (const XMLCh* const value = source->getValue()) {
                auto* const text = static_cast<xercesc::DOMTextImpl*>(fDocument->createTextNode(value));
                dom_links::AppendChild(attribute->fParent, text);
            }
            attribute->setSpecified(source->getSpecified());
        }
    }

    if (isRoot && fDocument->getDocumentElement() == nullptr) {
        dom_links::AppendDocumentElement(*fDocument, elementImpl);
    } else if (isRoot) {
        // A second root: the document refuses it.
        fDocument->appendChild(element);
    } else {
        auto* const parent = static_cast<xercesc::DOMElementImpl*>(fCurrentParent);
        dom_links::AppendChild(parent->fParent, elementImpl);
    }
    fCurrentParent = element;
    fCurrentNode = element;
    fWithinElement = true;
    return true;
}

void CCmlDOMParser::endElement(const xercesc::XMLElementDecl& elemDecl, unsigned int urlId, bool isRoot,
                               const XMLCh* elemPrefix) {
    --m_depth;
    if (!m_linkDirectly || fCurrentParent->getNodeType() != xercesc::DOMNode::ELEMENT_NODE) {
        XercesDOMParser::endElement(elemDecl, urlId, isRoot, elemPrefix);
        return;
    }
    // The element's parent, read from its node data instead of through getParentNode().
    const xercesc::DOMNodeImpl& element = static_cast<xercesc::DOMElementImpl*>(fCurrentParent)->fNode;
    fCurrentNode = fCurrentParent;
    fCurrentParent = element.isOwned() ? element.fOwnerNode : nullptr;
    if (fCurrentParent == nullptr) {
        fCurrentNode = fDocument->getDocumentElement();
        fCurrentParent = fCurrentNode;
    }
    if (fCurrentParent == fDocument) fWithinElement = false;
}

void CCmlDOMParser::docCharacters(const XMLCh* chars, XMLSize_t length, bool cdataSection) {
    // Text that continues a text node, CDATA and text outside the root go through Xerces.
    if (!m_linkDirectly || cdataSection || !fWithinElement ||
        fCurrentNode->getNodeType() == xercesc::DOMNode::TEXT_NODE ||
        fCurrentParent->getNodeType() != xercesc::DOMNode::ELEMENT_NODE) {
        XercesDOMParser::docCharacters(chars, length, cdataSection);
        return;
    }
    auto* const text = static_cast<xercesc::DOMTextImpl*>(createText(chars, length));
    auto* const parent = static_cast<xercesc::DOMElementImpl*>(fCurrentParent);
    dom_links::AppendChild(parent->fParent, text);
    fCurrentNode = text;
}

xercesc::InputSource* CCmlEntityResolver::resolveEntity(xercesc::XMLResourceIdentifier* resource) {
    if (!m_schemaLoadingAllowed || !resource ||
        resource->getResourceIdentifierType() != xercesc::XMLResourceIdentifier::SchemaGrammar) {
        return nullptr;
    }
    // The file comes from the namespace the document names, never from the location it gives.
    const std::u16string uri = Text(resource->getNameSpace());
    std::u16string version;
    if (uri == kCmlBaseURI) {
        version = kParserRootSchemaVersion;
    } else if (uri == kCmlNamespaceURI) {
        version = kCmlSchemaVersion;
    }
    const auto registered = m_allowed.find(std::u16string_view(uri));
    if (registered != m_allowed.end()) version = registered->GetVersion();
    if (version.empty()) return nullptr;
    std::u16string path;
    try {
        SchemaFileName(uri, version, kSchemaDirectory, path);
    } catch (const CCmlException&) {
        return nullptr;  // a registered namespace outside the CML base URI has no schema file
    }
    // The XML library adopts the returned source.
    return std::make_unique<xercesc::LocalFileInputSource>(path.c_str()).release();
}

CCmlParser::CCmlParser(int validationMode, xercesc::MemoryManager* manager)
    : m_resolver(m_namespaces), m_validationMode(validationMode) {
    XmlInit();
    m_securityManager.setEntityExpansionLimit(kEntityExpansionLimit);
    if (!manager) {
        m_memory = std::make_shared<CRetainingMemoryManager>();
        manager = m_memory.get();
    }
    m_domParser = std::make_unique<CCmlDOMParser>(manager, &m_resolver, &m_securityManager);
}

CCmlParser::~CCmlParser() {
    // The parser's share of the document goes first; content objects may still hold theirs,
    // and with it the parser's own memory manager (a caller's has to outlive them).
    ForgetDocument();
}

void CCmlParser::AddNamespace(const char16_t* uri, const char16_t* version) {
    const std::u16string newUri = uri ? uri : u"";
    const std::u16string newVersion = version ? version : u"";
    const auto inserted = m_namespaces.insert(CNamespace(newUri, newVersion));
    if (inserted.second || inserted.first->GetVersion() == newVersion) return;
    std::u16string description = kTextAddingNamespace;
    description += u'"' + newUri + u'"' + kTextVersion + newVersion + kTextNamespace;
    description += u'"' + inserted.first->GetURI() + u'"' + kTextVersion + inserted.first->GetVersion();
    description += kTextAlreadySpecified;
    throw CCmlException(kOpAddNamespace, description, ZEL_E_CML_VERSION_CONFLICT);
}

void CCmlParser::RemoveNamespace(const char16_t* uri, const char16_t* /*version*/) {
    m_namespaces.erase(CNamespace(uri ? uri : u"", std::u16string()));
}

void CCmlParser::ClearNamespaces() { m_namespaces.clear(); }

void CCmlParser::Parse(const xercesc::InputSource& input, int kind) {
    try {
        const bool validate = kind == kParseValidating ||
                              (kind == kParseByMode && (m_validationMode == 1 || m_validationMode == 3));
        if (validate) {
            ParseValidating(input);
        } else {
            ParseNonValidating(input);
        }
    } catch (const CCmlException& failure) {
        if (failure.GetCode() != ZEL_E_CML_PARSE_ERROR) throw;
        CSchemaException schemaFailure(failure);
        bool mismatch = false;
        try {
            CheckSchemaCompatibility(input, schemaFailure.GetIncompatibilities());
            mismatch = schemaFailure.Count() > 0;
        } catch (const CCmlException&) {
            // The first failure is the one to report; a document that cannot be read again
            // has no versions to list.
        }
        if (mismatch) throw schemaFailure;
        throw;
    }
}

void CCmlParser::ParseBuffer(const XMLByte* buffer, unsigned int length, int kind) {
    const CCmlMemBufInputSource input(buffer, length);
    Parse(input, kind);
}

void CCmlParser::ParseFile(const char* path, int kind) {
    const std::u16string widePath = ToUtf16(path ? std::string(path) : std::string());
    ParseFile(widePath.c_str(), kind);
}

void CCmlParser::ParseFile(const char16_t* path, int kind) {
    const CCmlLocalFileInputSource input(path ? path : u"");
    Parse(input, kind);
}

const std::u16string& CCmlParser::GetRootSchemaVersion() const { return m_rootSchemaVersion; }
const std::u16string& CCmlParser::GetCmlSchemaVersion() const { return m_cmlSchemaVersion; }
const std::u16string& CCmlParser::GetRootName() const { return m_rootName; }
const std::u16string& CCmlParser::GetRootNamespaceURI() const { return m_rootNamespaceURI; }

CCmlDOM_Element CCmlParser::GetDocumentElement() const {
    return CCmlDOM_Element(m_document ? m_document.Get()->getDocumentElement() : nullptr);
}

const NamespaceSet& CCmlParser::GetNamespaces() const { return m_namespaces; }
NamespaceSet& CCmlParser::GetNamespaces() { return m_namespaces; }
int CCmlParser::GetValidationMode() const { return m_validationMode; }
void CCmlParser::SetValidationMode(int mode) { m_validationMode = mode; }
CCmlDOM_Document CCmlParser::GetDocument() const { return CCmlDOM_Document(m_document.Get()); }
CCmlDOM_Element CCmlParser::GetCmlElement() const { return CCmlDOM_Element(m_cmlElement); }
CCmlDOM_Element CCmlParser::GetEnvelopeElement() const { return CCmlDOM_Element(m_envelopeElement); }

void CCmlParser::ParseValidating(const xercesc::InputSource& input) {
    m_domParser->SelectScanner(true);
    m_domParser->setIncludeIgnorableWhitespace(false);
    m_domParser->setDoSchema(true);
    m_domParser->setLoadSchema(true);
    m_domParser->setValidationScheme(xercesc::XercesDOMParser::Val_Auto);
    if (m_namespaces.empty()) AddNamespace(kCmlNamespaceURI, kCmlSchemaVersion);
    m_resolver.SetSchemaLoadingAllowed(true);
    try {
        DoParse(input);
    } catch (...) {
        m_resolver.SetSchemaLoadingAllowed(false);
        throw;
    }
    m_resolver.SetSchemaLoadingAllowed(false);
}

void CCmlParser::ParseNonValidating(const xercesc::InputSource& input) {
    m_domParser->SelectScanner(false);
    m_domParser->setDoSchema(false);
    m_domParser->setLoadSchema(false);
    m_domParser->setValidationScheme(xercesc::XercesDOMParser::Val_Never);
    m_resolver.SetSchemaLoadingAllowed(false);
    DoParse(input);
}

void CCmlParser::CheckSchemaCompatibility(const xercesc::InputSource& input, SchemaIncompatibilityList& list) {
    ParseNonValidating(input);
    const xercesc::DOMDocument* document = m_document.Get();
    if (!document) return;
    try {
        if (const xercesc::DOMElement* root = FirstDescendantElement(document, kCmlBaseURI, kTagZel)) {
            CheckVersion(kCmlBaseURI, kParserRootSchemaVersion, Attribute(root, kTagSchemaVersion), list);
        }
        ForEachElement(document->getElementsByTagNameNS(kCmlNamespaceURI, kTagCml), [&](const xercesc::DOMElement* cml) {
            CheckVersion(kCmlNamespaceURI, kCmlSchemaVersion, Attribute(cml, kTagSchemaVersion), list);
        });
        for (const CNamespace& registered : m_namespaces) {
            ForEachElement(document->getElementsByTagNameNS(registered.GetURI().c_str(), u"*"),
                           [&](const xercesc::DOMElement* element) {
                               const std::u16string version = Attribute(element, kTagSchemaVersion);
                               if (!version.empty()) {
                                   CheckVersion(registered.GetURI(), registered.GetVersion(), version, list);
                               }
                           });
        }
    } catch (const xercesc::DOMException& e) {
        throw CCmlException(kOpParseVersion, Text(e.getMessage()), static_cast<uint32_t>(e.code));
    }
}

void CCmlParser::BuildExternalSchemaLocation(std::u16string& out) const {
    out.clear();
    for (const CNamespace& registered : m_namespaces) {
        std::u16string location;
        SchemaLocation(registered.GetURI(), registered.GetVersion(), kSchemaDirectory, location);
        if (!out.empty()) out += kBlank;
        out += registered.GetURI() + kBlank + location;
    }
}

void CCmlParser::AdoptDocument() {
    if (xercesc::DOMDocument* document = m_domParser->adoptDocument()) {
        m_document = CDomDocumentRef::Adopt(document, m_memory);
    }
}

void CCmlParser::ForgetDocument() {
    m_cmlElement = nullptr;
    m_envelopeElement = nullptr;
    m_document.Reset();
}

void CCmlParser::ReleaseDocument() {
    ForgetDocument();
    m_rootSchemaVersion.clear();
    m_cmlSchemaVersion.clear();
    m_rootName.clear();
    m_rootNamespaceURI.clear();
}

void CCmlParser::DoParse(const xercesc::InputSource& input) {
    ReleaseDocument();
    m_domParser->setExternalSchemaLocation(u"");
    m_domParser->setErrorHandler(&m_errorHandler);
    m_domParser->setDoNamespaces(true);
    // Frees whatever an earlier failure may have left in the library's document pool.
    m_domParser->resetDocumentPool();
    try {
        m_domParser->parse(input);
    } catch (const CCmlException&) {
        AdoptDocument();
        throw;
    } catch (const xercesc::XMLException& e) {
        AdoptDocument();
        throw CCmlException(kOpParse,
                            kTextContentError + std::u16string(kTextErrorNumber) +
                                Number(static_cast<uint64_t>(e.getCode())) + kTextMessage + Text(e.getMessage()),
                            ZEL_E_CML_PARSE_ERROR);
    } catch (const xercesc::SAXException& e) {
        AdoptDocument();
        throw CCmlException(kOpParse, kTextContentError + std::u16string(kTextMessage) + Text(e.getMessage()),
                            ZEL_E_CML_PARSE_ERROR);
    } catch (const xercesc::DOMException& e) {
        AdoptDocument();
        throw CCmlException(kOpParse,
                            kTextContentError + std::u16string(kTextErrorNumber) +
                                Number(static_cast<uint64_t>(e.code)) + kTextMessage + Text(e.getMessage()),
                            ZEL_E_CML_PARSE_ERROR);
    } catch (const xercesc::OutOfMemoryException&) {
        AdoptDocument();
        throw CCmlException(kOpParse, kTextInsufficientMemory, ZEL_E_OUTOFMEMORY);
    } catch (const std::bad_alloc&) {
        AdoptDocument();
        throw CCmlException(kOpParse, kTextInsufficientMemory, ZEL_E_OUTOFMEMORY);
    } catch (const std::exception& e) {
        AdoptDocument();
        throw CCmlException(kOpParse, kOpParse + std::u16string(kTextMessage) + ToUtf16(e.what()),
                            ZEL_E_CML_PARSE_ERROR);
    }
    AdoptDocument();
    LocateEnvelope();
}

void CCmlParser::LocateEnvelope() {
    if (!m_document) return;
    try {
        const xercesc::DOMElement* root = m_document.Get()->getDocumentElement();
        if (!root) return;
        m_rootName = Text(root->getTagName());
        m_rootNamespaceURI = Text(root->getNamespaceURI());
        if (m_rootName != kTagZel) return;
        const std::u16string rootVersion = Attribute(root, kTagSchemaVersion);
        if (!rootVersion.empty()) m_rootSchemaVersion = rootVersion;
        m_cmlElement = FirstDescendantElement(root, kCmlNamespaceURI, kTagCml);
        if (!m_cmlElement) return;
        m_cmlSchemaVersion = Attribute(m_cmlElement, kTagSchemaVersion);
        m_envelopeElement = FirstDescendantElement(m_cmlElement, kCmlNamespaceURI, kTagMessageEnvelope);
    } catch (const xercesc::DOMException& e) {
        throw CCmlException(kOpParseVersion, Text(e.getMessage()), static_cast<uint32_t>(e.code));
    }
}

}  // namespace zel::cml
