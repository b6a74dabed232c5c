// Files written whole or not at all: a temporary file beside the target,
// renamed over it once complete.

#include "media/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <system_error>

namespace AtomicFile {

namespace {

// The permissions a file created with fopen would get (0666 less the
// process's mask), read once.
mode_t NewFileMode() {
  static mode_t mode = [] {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

}  // namespace

CAtomicFile::CAtomicFile(const std::filesystem::path& target) : m_target(target) {
  if (target.empty()) return;
  std::error_code ec;
  // A link is followed: the file it names is what gets replaced.
  std::filesystem::path resolved = target;
  if (std::filesystem::is_symlink(target, ec)) {
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(target, ec);
    if (!ec) resolved = canonical;
  }
  const std::filesystem::file_status status = std::filesystem::status(resolved, ec);
  const bool exists = !ec && std::filesystem::exists(status);
  if (exists && !std::filesystem::is_regular_file(status)) {
    if (std::filesystem::is_directory(status)) return;
    // A device or a pipe: written in place, never replaced or removed.
    m_file = std::fopen(resolved.c_str(), "wb");
    return;
  }
  m_target = resolved;
  const std::filesystem::path folder = resolved.has_parent_path() ? resolved.parent_path() : ".";
  std::string name(1, '.');  // built by appends: GCC 12 warns falsely (-Wrestrict) on "." + name
  name.append(resolved.filename().string()).append(".part-XXXXXX");
  std::string pattern = (folder / name).string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return;
  m_temp = pattern;
  // The finished file keeps the permissions of the one it replaces, or
  // gets those of a newly created file.
  struct stat old {};
  const mode_t mode = exists && ::stat(resolved.c_str(), &old) == 0 ? (old.st_mode & 07777) : NewFileMode();
  ::fchmod(fd, mode);
  m_file = ::fdopen(fd, "wb");
  if (!m_file) {
    ::close(fd);
    ::unlink(m_temp.c_str());
    m_temp.clear();
  }
}

CAtomicFile::~CAtomicFile() { Discard(); }

bool CAtomicFile::Write(const void* data, std::size_t size) {
  if (!m_file || m_bFailed) return false;
  if (size && std::fwrite(data, 1, size, m_file) != size) m_bFailed = true;
  return !m_bFailed;
}

bool CAtomicFile::Commit() {
  if (!m_file) return false;
  const bool flushed = !m_bFailed && std::fflush(m_file) == 0 && !std::ferror(m_file);
  const bool closed = std::fclose(m_file) == 0;
  m_file = nullptr;
  if (m_temp.empty()) return flushed && closed;  // a device written in place
  if (!flushed || !closed || ::rename(m_temp.c_str(), m_target.c_str()) != 0) {
    ::unlink(m_temp.c_str());
    m_temp.clear();
    return false;
  }
  m_temp.clear();
  return true;
}

void CAtomicFile::Discard() {
  if (m_file) {
    std::fclose(m_file);
    m_file = nullptr;
  }
  if (!m_temp.empty()) {
    ::unlink(m_temp.c_str());
    m_temp.clear();
  }
}

bool WriteWholeFile(const std::filesystem::path& path, const void* data, std::size_t size) {
  CAtomicFile file(path);
  if (!file.IsOpen() || (size && !data)) return false;
  return file.Write(data, size) && file.Commit();
}

}  // namespace AtomicFile
