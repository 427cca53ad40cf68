// Test helper: parses an XML text into a Xerces DOM with a plain XercesDOMParser (namespaces on;
// validation against an internal DTD only when asked). The document lives as long as the ParsedXml.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>

namespace zel::cml::test {

class ParsedXml {
public:
    explicit ParsedXml(const std::string& utf8Text, bool validateDtd = false) {
        m_parser->setDoNamespaces(true);
        m_parser->setValidationScheme(validateDtd ? xercesc::XercesDOMParser::Val_Always
                                                  : xercesc::XercesDOMParser::Val_Never);
        m_parser->setCreateEntityReferenceNodes(false);
        m_parser->parse(xercesc::MemBufInputSource(reinterpret_cast<const XMLByte*>(utf8Text.data()),
                                                   utf8Text.size(), u"test document"));
        if (m_parser->getErrorCount() != 0 || !Document()) throw std::runtime_error("test XML does not parse");
    }
    xercesc::DOMDocument* Document() const { return m_parser->getDocument(); }
    xercesc::DOMElement* Root() const { return Document()->getDocumentElement(); }

private:
    const std::unique_ptr<xercesc::XercesDOMParser> m_parser = std::make_unique<xercesc::XercesDOMParser>();
};

}  // namespace zel::cml::test
