// The directory of XML Schema documents the controller hands out and stores: the schema
// named N is the file "N.xsd" directly in the directory.
#pragma once

#include <cstdint>
#include <string>

namespace zel::controller {

// A schema document read from the directory, or why there is none.
struct SchemaFile {
    // 0, ZEL_E_INVALIDARG for a name that is not a plain file name, ZEL_E_NOT_FOUND when
    // there is no such schema.
    uint32_t code = 0;
    // The document as stored (UTF-8 XML) when code is 0.
    std::string document;
};

class CSchemaDirectory {
public:
    // The directory at `path` (UTF-8); it is not checked here (see IsUsable).
    explicit CSchemaDirectory(std::string path) : m_path(std::move(path)) {}

    // True when the path names a directory that exists.
    bool IsUsable() const;

    // True for a name that stays inside the directory: not empty, at most 200 bytes, no '/'
    // or '\\', no control character and not beginning with '.' (which also keeps the
    // controller's temporary files out of reach).
    static bool IsSafeName(const std::string& name);

    // Reads the schema `name` (UTF-8).
    SchemaFile Load(const std::string& name) const;
    // Stores `document` as the schema `name`, replacing it atomically (a temporary file in
    // the directory renamed over the old one): 0, ZEL_E_INVALIDARG for an unsafe name,
    // ZEL_E_WRITE_FAULT when the file cannot be written.
    uint32_t Store(const std::string& name, const std::string& document) const;

private:
    std::string FileOf(const std::string& name) const { return m_path + "/" + name + ".xsd"; }

    std::string m_path;
};

}  // namespace zel::controller
