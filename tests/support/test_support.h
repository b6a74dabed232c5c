#pragma once
// Helpers shared by the test programs.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
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

// Entries (files and folders) directly inside a folder.
std::size_t EntryCount(const std::filesystem::path& folder);

// What a shell command wrote to its standard output, or nothing when it could
// not be run or ended with a non-zero status. Its standard error is dropped.
std::optional<std::vector<std::uint8_t>> RunCapture(const std::string& command);

// A path in single quotes, for a shell command line.
std::string Quote(const std::filesystem::path& path);

// Sets an environment variable (unsets it for no value) for the scope and
// restores it afterwards.
class TScopedEnv {
 public:
  TScopedEnv(const char* name, std::optional<std::string> value);
  ~TScopedEnv();
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

// Files of this process may grow to `bytes` while the object lives: writes
// past the limit fail with EFBIG, as on a full disk.
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(std::uint64_t bytes);
  ~TFileSizeLimit();
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;
  bool Ok() const { return m_ok; }

 private:
  std::uint64_t m_oldSoft = 0;
  void (*m_oldHandler)(int) = nullptr;
  bool m_ok = false;
};

}  // namespace tovrin_test
