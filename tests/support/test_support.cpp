#include "tests/support/test_support.h"

#include <fstream>
#include <stdexcept>
#include <system_error>

#include "platform/paths.h"

namespace tovrin_test {

TTempDir::TTempDir() : m_path(platform::MakeTempFolder("tovrin-test-")) {
  if (m_path.empty()) throw std::runtime_error("cannot create a temporary folder");
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteAll(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace tovrin_test
