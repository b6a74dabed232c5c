#include "tests/support/test_support.h"

#include <sys/resource.h>

#include <csignal>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
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

std::size_t EntryCount(const std::filesystem::path& folder) {
  return static_cast<std::size_t>(
      std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()));
}

std::optional<std::vector<std::uint8_t>> RunCapture(const std::string& command) {
  std::FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return std::nullopt;
  std::vector<std::uint8_t> out;
  std::uint8_t buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.insert(out.end(), buf, buf + n);
  if (::pclose(pipe) != 0) return std::nullopt;
  return out;
}

std::string Quote(const std::filesystem::path& path) {
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about the
  // inlined concatenation of a literal and a string.
  std::string quoted(1, '\'');
  quoted.append(path.string()).push_back('\'');
  return quoted;
}

TScopedEnv::TScopedEnv(const char* name, std::optional<std::string> value) : m_name(name) {
  if (const char* old = std::getenv(name)) m_old = old;
  if (value) {
    ::setenv(name, value->c_str(), 1);
  } else {
    ::unsetenv(name);
  }
}

TScopedEnv::~TScopedEnv() {
  if (m_old) {
    ::setenv(m_name, m_old->c_str(), 1);
  } else {
    ::unsetenv(m_name);
  }
}

TFileSizeLimit::TFileSizeLimit(std::uint64_t bytes) {
  m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  m_ok = ::getrlimit(RLIMIT_FSIZE, &limit) == 0;
  m_oldSoft = limit.rlim_cur;
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  m_ok = m_ok && ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

TFileSizeLimit::~TFileSizeLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0) {
    limit.rlim_cur = static_cast<rlim_t>(m_oldSoft);
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  std::signal(SIGXFSZ, m_oldHandler);
}

}  // namespace tovrin_test
