// A temporary directory for tests and the reading and writing of whole files, shared by
// every test program.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace zel::test {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it at the end.
class TempDir {
public:
    TempDir() : m_path((std::filesystem::temp_directory_path() / "zel-test-XXXXXX").string()) {
        if (!::mkdtemp(m_path.data())) throw std::runtime_error("cannot create a temporary directory");
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // The path of `name` inside the directory.
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    // The names in the directory, sorted.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(m_path, error))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string m_path;
};

// Writes `text` as the whole content of the file at `path`; throws when it cannot.
inline void WriteFile(const std::string& path, const std::string& text) {
    if (!(std::ofstream(path, std::ios::binary) << text)) throw std::runtime_error("cannot write " + path);
}

// The bytes of the file at `path`; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace zel::test
