// Test helper: parses an XML text into a Xerces DOM with a plain XercesDOMParser
// (namespaces on; validation against an internal DTD only when asked). The document lives
// as long as the ParsedXml object.
#pragma once

#include <memory>
#include <string>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>

namespace zel::cml::test {

class ParsedXml {
public:
    explicit ParsedXml(const std::string& utf8Text, bool validateDtd = false);
    xercesc::DOMDocument* Document() const { return m_parser->getDocument(); }
    xercesc::DOMElement* Root() const { return Document()->getDocumentElement(); }

private:
    std::unique_ptr<xercesc::XercesDOMParser> m_parser;
};

}  // namespace zel::cml::test
