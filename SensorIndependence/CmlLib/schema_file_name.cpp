#include "SensorIndependence/CmlLib/schema_file_name.h"

#include <algorithm>
#include <string_view>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "zel/status_codes.h"

namespace zel::cml {

namespace {

// Appends the version with every "." replaced by "_".
void AppendVersionPart(const std::u16string& version, std::u16string& out) {
    const std::size_t start = out.size();
    out += version;
    std::replace(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(), u'.', u'_');
}

}  // namespace

void SchemaFileName(const std::u16string& uri, const std::u16string& version, const std::u16string& directory,
                    std::u16string& out) {
    const std::u16string_view base = kCmlBaseURI;
    const std::u16string_view name = uri;
    if (name.substr(0, base.size()) != base) {
        throw CCmlException(u"Building schema filename", u"Invalid namespace URI", ZEL_E_CML_UNKNOWN_NAMESPACE);
    }
    out = directory;
    if (name.size() == base.size()) {
        out += u"/Zel";
    } else {
        // The path below the base, then its last segment again as the file's stem.
        out += name.substr(base.size());
        out += u'/';
        out += name.substr(name.rfind(u'/') + 1);
    }
    AppendVersionPart(version, out);
    out += u".xsd";
}

void SchemaLocation(const std::u16string& uri, const std::u16string& version, const std::u16string& directory,
                    std::u16string& out) {
    SchemaFileName(uri, version, directory, out);
    for (std::size_t blank = out.find(u' '); blank != std::u16string::npos; blank = out.find(u' ', blank + 3))
        out.replace(blank, 1, u"%20");
}

}  // namespace zel::cml
