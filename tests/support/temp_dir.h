#pragma once
// A fresh directory under the system temporary folder, removed with its
// contents when the object goes away. Tests put profile folders, settings
// files and downloads in one so they never touch the user's home.
#include <filesystem>
#include <string>

namespace fetchora::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& bytes);

}  // namespace fetchora::test
