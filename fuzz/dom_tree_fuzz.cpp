// The tree the CML parser builds for any input, against the one plain Xerces builds with the
// same scanner and settings: the same nodes, names, namespaces, values and links. An input
// the CML parser refuses (a warning, a DOCTYPE, nesting too deep) has nothing to compare; one
// it accepts must parse in plain Xerces too.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/xml_init.h"
#include "tests/support/dom_tree_compare.h"

namespace {

// Xerces as the CML parser sets it up for a reply, but building its tree itself.
class PlainParser : public xercesc::XercesDOMParser {
public:
    PlainParser() {
        useScanner(xercesc::XMLUni::fgWFXMLScanner);
        setDoNamespaces(true);
        setCreateEntityReferenceNodes(false);
        getScanner()->setDisallowDTD(true);
        setLoadExternalDTD(false);
        setDisableDefaultEntityResolution(true);
        setValidationScheme(Val_Never);
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zel::cml::XmlInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static zel::cml::CCmlParser parser;
    static PlainParser plain;
    try {
        parser.ParseBuffer(data, static_cast<unsigned>(size), zel::cml::kParseNonValidating);
    } catch (const zel::cml::CCmlException&) {
        return 0;
    }
    plain.resetDocumentPool();
    const xercesc::MemBufInputSource input(data, size, u"dom_tree");
    plain.parse(input);
    if (plain.getErrorCount() != 0 || plain.getDocument() == nullptr) {
        std::fprintf(stderr, "dom_tree: the CML parser accepted what Xerces refuses\n");
        std::abort();
    }
    const std::string difference =
        zel::test::FirstTreeDifference(parser.GetDocument().GetDocument(), plain.getDocument());
    if (!difference.empty()) {
        std::fprintf(stderr, "dom_tree: %s\n", difference.c_str());
        std::abort();
    }
    return 0;
}
