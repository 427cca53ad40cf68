#include "cml/dom_test_support.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/util/PlatformUtils.hpp>

namespace zel::cml::test {
namespace {

// Starts Xerces once for the whole test program.
struct XercesEnvironment : ::testing::Environment {
    void SetUp() override { xercesc::XMLPlatformUtils::Initialize(); }
};

[[maybe_unused]] ::testing::Environment* const g_xercesEnvironment =
    ::testing::AddGlobalTestEnvironment(new XercesEnvironment);

}  // namespace

ParsedXml::ParsedXml(const std::string& utf8Text, bool validateDtd)
    : m_parser(std::make_unique<xercesc::XercesDOMParser>()) {
    m_parser->setDoNamespaces(true);
    m_parser->setValidationScheme(validateDtd ? xercesc::XercesDOMParser::Val_Always
                                              : xercesc::XercesDOMParser::Val_Never);
    m_parser->setCreateEntityReferenceNodes(false);
    xercesc::MemBufInputSource input(reinterpret_cast<const XMLByte*>(utf8Text.data()), utf8Text.size(),
                                     u"test document");
    m_parser->parse(input);
    if (m_parser->getErrorCount() != 0 || Document() == nullptr) throw std::runtime_error("test XML does not parse");
}

}  // namespace zel::cml::test
