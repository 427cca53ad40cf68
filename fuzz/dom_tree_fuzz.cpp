// The tree the CML parser builds for any input, against the one plain Xerces builds with the
// same scanner and settings: the same nodes, names, namespaces, values and links. An input
// the CML parser refuses (a warning, a DOCTYPE, nesting too deep) has nothing to compare; one
// it accepts must parse in plain Xerces too.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/xml_init.h"
#include "tests/support/bare_xerces_parser.h"
#include "tests/support/dom_tree_compare.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zel::cml::XmlInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The CML parser is reused, as the library's pool reuses it. The reference is built afresh
    // for every input: a reused plain parser has been seen, after millions of inputs, to report
    // an error in a document that a new one reads without complaint.
    static zel::cml::CCmlParser parser;
    zel::test::BareXercesParser plain;
    try {
        parser.ParseBuffer(data, static_cast<unsigned>(size), zel::cml::kParseNonValidating);
    } catch (const zel::cml::CCmlException&) {
        return 0;
    }
    // Without an error handler, Xerces throws at a fatal error.
    const xercesc::DOMDocument* expected = nullptr;
    try {
        expected = plain.Parse(data, size);
    } catch (...) {
    }
    if (expected == nullptr) {
        std::fprintf(stderr, "dom_tree: the CML parser accepted what Xerces refuses\n");
        std::abort();
    }
    const std::string difference =
        zel::test::FirstTreeDifference(parser.GetDocument().GetDocument(), expected);
    if (!difference.empty()) {
        std::fprintf(stderr, "dom_tree: %s\n", difference.c_str());
        std::abort();
    }
    return 0;
}
