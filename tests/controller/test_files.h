// Files for the controller tests: a temporary directory, whole-file reads and writes, and a
// self-signed certificate made with the openssl command.
#pragma once

#include <string>

#include "support/temp_dir.h"

namespace zel::controller::testing {

using zel::test::TempDir;

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
