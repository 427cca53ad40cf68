// A temporary directory for tests, shared by every test program.
#pragma once

#include <string>
#include <vector>

namespace zel::test {

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
    // The names in the directory, sorted.
    std::vector<std::string> Entries() const;

private:
    std::string m_path;
};

}  // namespace zel::test
