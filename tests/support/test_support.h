#pragma once
// Helpers shared by the test programs.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tovrin_test {

// A fresh empty folder, removed with everything in it at scope exit.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::filesystem::path& Path() const { return m_path; }
  std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

 private:
  std::filesystem::path m_path;
};

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path);
void WriteAll(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
void WriteAll(const std::filesystem::path& path, const std::string& text);

}  // namespace tovrin_test
