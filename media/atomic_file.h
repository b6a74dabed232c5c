#pragma once
// A file written whole or not at all. The bytes go to a temporary file in
// the target's folder, which replaces the target only once every byte was
// written and the file closed; a write that fails half-way (a full disk, a
// file-size limit, a folder that cannot be written) leaves no file behind
// and an existing file of that name exactly as it was.
//
// A target that exists and is not a plain file (a device, a pipe) is written
// in place: it cannot be replaced and is never removed. A symbolic link is
// followed, so the file it names is replaced and the link stays.
//
// No Qt: the savers use it from any thread; each object is used by one.

#include <cstddef>
#include <cstdio>
#include <filesystem>

namespace AtomicFile {

class CAtomicFile {
 public:
  // Opens the temporary file (or the device) at once; IsOpen tells whether
  // that worked.
  explicit CAtomicFile(const std::filesystem::path& target);
  // Discards what was written unless Commit succeeded.
  ~CAtomicFile();
  CAtomicFile(const CAtomicFile&) = delete;
  CAtomicFile& operator=(const CAtomicFile&) = delete;

  bool IsOpen() const { return m_file != nullptr; }
  std::FILE* Get() const { return m_file; }
  // Appends bytes; false (and the file is spoilt) when they could not all
  // be written.
  bool Write(const void* data, std::size_t size);
  // Flushes, closes and puts the file in place of the target. False, with
  // nothing left behind and the target unchanged, when any write failed or
  // the file could not be completed or renamed.
  bool Commit();
  // Drops what was written (also done by the destructor).
  void Discard();

 private:
  std::filesystem::path m_target;
  std::filesystem::path m_temp;  // empty when writing in place
  std::FILE* m_file = nullptr;
  bool m_bFailed = false;
};

// Writes `size` bytes as the whole file at `path` through CAtomicFile.
bool WriteWholeFile(const std::filesystem::path& path, const void* data, std::size_t size);

}  // namespace AtomicFile
