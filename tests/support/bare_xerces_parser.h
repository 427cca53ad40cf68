// Xerces alone with the settings CCmlParser uses for a non-validating parse: the
// well-formedness scanner, which refuses a DOCTYPE, and so no entity expansion limit. The
// baseline of the parser benchmarks and the reference of the parser's tree in its fuzz target.
#pragma once

#include <cstddef>
#include <string>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/XMLUni.hpp>

namespace zel::test {

class BareXercesParser : public xercesc::XercesDOMParser {
public:
    BareXercesParser() {
        useScanner(xercesc::XMLUni::fgWFXMLScanner);
        setDoNamespaces(true);
        setCreateEntityReferenceNodes(false);
        getScanner()->setDisallowDTD(true);
        setLoadExternalDTD(false);
        setDisableDefaultEntityResolution(true);
        useCachedGrammarInParse(false);
        cacheGrammarFromParse(false);
        setLoadSchema(false);
        setDoSchema(false);
        setValidationScheme(Val_Never);
    }

    // Parses `length` bytes after freeing the previous document, as a reused parser must.
    // Without an error handler a fatal error throws; null after any other error.
    xercesc::DOMDocument* Parse(const void* bytes, std::size_t length) {
        resetDocumentPool();
        const xercesc::MemBufInputSource input(static_cast<const XMLByte*>(bytes), length, u"ZEL CML Stream");
        parse(input);
        return getErrorCount() == 0 ? getDocument() : nullptr;
    }
    xercesc::DOMDocument* Parse(const std::string& text) { return Parse(text.data(), text.size()); }
};

}  // namespace zel::test
