// Writes the libFuzzer dictionary of the CML vocabulary: one quoted entry for every
// distinct non-empty word of the table built from vocabulary.inc (tags, attributes,
// namespaces, versions, XML punctuation) and for the declarations vocabulary.h adds, then
// a few pieces of XML syntax the vocabulary has no word for.
// Usage: make_cml_dictionary <output file>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "SensorIndependence/CmlLib/vocabulary.h"
#include "runtime/unicode.h"

namespace {

// Markup the documents can hold but the CML library never writes.
constexpr const char* kXmlSyntax[] = {
    "<?xml", "?>", "version=", "encoding=", "standalone=", "UTF-16", "xmlns=", "xmlns:", "<!DOCTYPE", "<!ENTITY",
    "SYSTEM", "']>", "&#x", "&#", "\"",
};

// The entry in dictionary syntax: printable ASCII as it is, quotes, backslashes and every
// other byte as \xNN.
std::string Quoted(const std::string& word) {
    std::string out = "\"";
    for (const unsigned char c : word) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_cml_dictionary <output file>\n");
        return 2;
    }
    std::set<std::string> words;
    for (const char16_t* word : zel::cml::kVocabulary) words.insert(zel::ToUtf8(word));
    for (const char* declaration : zel::cml::kXmlDeclarations) words.insert(declaration);
    words.insert(zel::cml::kSchemaInstanceDeclaration);
    for (const char* piece : kXmlSyntax) words.insert(piece);
    words.erase("");

    std::ofstream out(argv[1], std::ios::trunc);
    out << "# The CML vocabulary, written by make_cml_dictionary at build time.\n";
    for (const std::string& word : words) out << Quoted(word) << "\n";
    if (!out.good()) {
        std::fprintf(stderr, "make_cml_dictionary: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
