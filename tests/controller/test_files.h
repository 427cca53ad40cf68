// Files for the controller tests: a temporary directory, whole-file reads and writes, and a
// self-signed certificate made with the openssl command.
#pragma once

#include <string>

namespace zel::controller::testing {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // The path of `name` inside the directory.
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

void WriteFile(const std::string& path, const std::string& text);
// The whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

struct Certificate {
    std::string certFile;
    std::string keyFile;
};

// A self-signed certificate for 127.0.0.1 (also its subject alternative name) in `directory`.
// Throws std::runtime_error when openssl fails.
Certificate MakeSelfSignedCertificate(const std::string& directory);

}  // namespace zel::controller::testing
