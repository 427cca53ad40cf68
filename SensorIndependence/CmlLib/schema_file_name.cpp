#include "SensorIndependence/CmlLib/schema_file_name.h"

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "zel/status_codes.h"

namespace zel::cml {

void SchemaFileName(const std::u16string& uri, const std::u16string& version, const std::u16string& directory,
                    std::u16string& out) {
    std::u16string versionPart = version;
    for (char16_t& c : versionPart) {
        if (c == u'.') c = u'_';
    }

    const std::u16string base = kCmlBaseURI;
    if (uri == base) {
        out = directory + u"/Zel" + versionPart + u".xsd";
        return;
    }
    if (uri.compare(0, base.size(), base) != 0) {
        throw CCmlException(u"Building schema filename", u"Invalid namespace URI", ZEL_E_CML_UNKNOWN_NAMESPACE);
    }
    const std::u16string path = uri.substr(base.size());
    const std::u16string lastSegment = uri.substr(uri.rfind(u'/') + 1);
    out = directory + path + u"/" + lastSegment + versionPart + u".xsd";
}

void SchemaLocation(const std::u16string& uri, const std::u16string& version, const std::u16string& directory,
                    std::u16string& out) {
    std::u16string fileName;
    SchemaFileName(uri, version, directory, fileName);
    out.clear();
    for (char16_t c : fileName) {
        if (c == u' ') {
            out += u"%20";
        } else {
            out += c;
        }
    }
}

}  // namespace zel::cml
