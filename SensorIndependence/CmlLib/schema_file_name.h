// The rule that maps a CML namespace and schema version to the file name of its schema.
#pragma once

#include <string>

namespace zel::cml {

// The schema directory named in every schema location that documents carry.
inline constexpr const char16_t* kSchemaDirectory = u"./schemas";

// Replaces `out` with the schema file of (uri, version) under `directory`: for the CML base
// URI directory + "/Zel" + V + ".xsd", for a URI below it directory + path + "/" + the last
// path segment + V + ".xsd", where V is the version with "." replaced by "_". Throws
// CCmlException ("Building schema filename", "Invalid namespace URI", 0xC738000A) for a
// URI that does not begin with the CML base URI.
void SchemaFileName(const std::u16string& uri, const std::u16string& version, const std::u16string& directory,
                    std::u16string& out);

// SchemaFileName followed by replacing every blank with "%20".
void SchemaLocation(const std::u16string& uri, const std::u16string& version, const std::u16string& directory,
                    std::u16string& out);

}  // namespace zel::cml
