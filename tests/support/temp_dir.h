// A fresh folder under /tmp for one test, removed with everything in it.
#pragma once

#include <string>

namespace test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Whole file contents; `exists` tells a missing file from an empty one.
std::string ReadFile(const std::string& path, bool* exists = nullptr);
void WriteFile(const std::string& path, const std::string& contents);

}  // namespace test
