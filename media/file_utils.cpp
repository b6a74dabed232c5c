#include "media/file_utils.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include <sys/stat.h>
#include <sys/types.h>

#include "platform/paths.h"
#include "platform/text.h"

namespace FileUtils {
namespace {

// A number zero-padded to the width; false for a width out of range.
bool AppendNumber(std::string& out, int nWidth, int nNumber) {
  if (nWidth < 0 || nWidth > kMaxNumberWidth) return false;
  char buf[kMaxNumberWidth + 16];
  const int n = nWidth > 0 ? std::snprintf(buf, sizeof buf, "%0*d", nWidth, nNumber)
                           : std::snprintf(buf, sizeof buf, "%d", nNumber);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf) return false;
  out.append(buf, static_cast<std::size_t>(n));
  return true;
}

// folder + "/" + rest; a bare rest when there is no folder.
std::string JoinFolder(std::string_view folder, std::string_view rest) {
  std::string out;
  out.reserve(folder.size() + 1 + rest.size());
  if (!folder.empty()) {
    out.append(folder);
    out.push_back(platform::kPathSeparator);
  }
  out.append(rest);
  return out;
}

// 0, or the errno value of a failed creation; an existing entry counts as
// created.
int MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return 0;
  const int err = errno;
  return err == EEXIST ? 0 : err;
}

}  // namespace

bool MakeIniPath(std::string_view path, std::string& out) {
  if (path.empty()) return false;
  const platform::TSplitPath parts = platform::SplitPath(path);
  if (platform::EqualsNoCase(parts.extension, ".ini")) {
    out.assign(path);
  } else {
    out = parts.folder + parts.name + ".ini";
  }
  return true;
}

bool FileExists(std::string_view pathOrPattern) {
  if (pathOrPattern.empty()) return false;
  const std::size_t slash = pathOrPattern.find_last_of(platform::kPathSeparator);
  const std::string_view leaf =
      slash == std::string_view::npos ? pathOrPattern : pathOrPattern.substr(slash + 1);
  if (leaf.empty()) return false;
  if (leaf.find_first_of("*?") == std::string_view::npos) {
    // A plain name: exactly this entry, spelt as given (names are
    // case-sensitive here; "A.ini" and "a.ini" are two files).
    struct stat st;
    return ::lstat(std::string(pathOrPattern).c_str(), &st) == 0;
  }
  // A pattern: its folder's entries, letters matched exactly.
  const std::string folder(slash == std::string_view::npos ? std::string_view(".")
                                                           : pathOrPattern.substr(0, slash + 1));
  std::error_code ec;
  std::filesystem::directory_iterator it(platform::PathFromUtf8(folder), ec);
  if (ec) return false;
  for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) return false;
    if (FindFileEx::MatchesWildcard(platform::PathToUtf8(it->path().filename()), leaf,
                                    FindFileEx::TLetterCase::Exact))
      return true;
  }
  return false;
}

int CreateDirectoryTree(std::string_view folder) {
  const std::string path(folder);
  if (path.empty()) return ENOENT;
  const int first = MakeFolder(path);
  if (first != ENOENT) return first;

  // A parent is missing: create the path folder by folder, each prefix up to
  // and including its separator. The root of an absolute path is not
  // created; the first folder of a relative path is.
  std::size_t pos = path.find(platform::kPathSeparator);
  if (pos == std::string::npos) return ENOENT;
  if (pos == 0) {
    pos = path.find_first_not_of(platform::kPathSeparator);
    if (pos == std::string::npos) return ENOENT;  // only separators: the root itself
  } else {
    const int err = MakeFolder(path.substr(0, pos + 1));
    if (err != 0) return err;
    ++pos;
  }
  while (pos < path.size()) {
    const std::size_t sep = path.find(platform::kPathSeparator, pos);
    const std::size_t end = sep == std::string::npos ? path.size() : sep + 1;
    const int err = MakeFolder(path.substr(0, end));
    if (err != 0) return err;
    pos = end;
  }
  return 0;
}

bool GetStdioFileSize(std::FILE* pStream, std::int64_t& nSize) {
  if (!pStream) return false;
  const off_t position = ::ftello(pStream);
  if (position < 0) return false;
  if (::fseeko(pStream, 0, SEEK_END) != 0) return false;
  const off_t end = ::ftello(pStream);
  // Put the stream back in every case; a stream that cannot be put back
  // is not measured.
  if (::fseeko(pStream, position, SEEK_SET) != 0) return false;
  if (end < 0) return false;
  nSize = static_cast<std::int64_t>(end);
  return true;
}

bool BuildNumberedFileName(std::string_view folder, std::string_view prefix, std::string_view title,
                           std::string_view extension, std::string& out, bool bFirstNumber,
                           bool bSecondNumber, int nFirstWidth, int nFirstNumber, int nSecondWidth,
                           int nSecondNumber) {
  std::string name;
  name.append(prefix);
  name.append(title);
  if (bFirstNumber) {
    if (!name.empty()) name.push_back('_');
    if (!AppendNumber(name, nFirstWidth, nFirstNumber)) {
      out.clear();
      return false;
    }
    if (bSecondNumber) {
      name.push_back('_');
      if (!AppendNumber(name, nSecondWidth, nSecondNumber)) {
        out.clear();
        return false;
      }
    }
  }
  name.append(extension);
  out = JoinFolder(folder, name);
  return true;
}

bool MakeNumberedPath(std::string_view path, std::string& out, int nNumber) {
  const platform::TSplitPath parts = platform::SplitPath(path);
  std::string name = parts.name;
  if (!name.empty()) name.push_back('_');
  AppendNumber(name, 3, nNumber);
  name.append(parts.extension);
  out = JoinFolder(parts.folder, name);
  return true;
}

}  // namespace FileUtils

namespace ZarnTypes {

const std::string& TFilePathParts::BuildPath() {
  sFullPath = FileUtils::JoinFolder(sFolder, sName3 + sName1 + sName4 + sExtension);
  return sFullPath;
}

bool TLogTextFile::Open() {
  if (pStream || sPath.empty()) return false;
  std::FILE* f = std::fopen(sPath.c_str(), "ab");
  if (!f) return false;
  // A new log starts with the byte-order mark, as UTF-16LE text files do.
  if (::fseeko(f, 0, SEEK_END) == 0 && ::ftello(f) == 0) {
    static const unsigned char kBom[2] = {0xFF, 0xFE};
    if (std::fwrite(kBom, 1, sizeof kBom, f) != sizeof kBom || std::fflush(f) != 0) {
      std::fclose(f);
      return false;
    }
  }
  pStream = f;
  return true;
}

bool TLogTextFile::WriteString(std::string_view text) {
  if (!pStream) return false;
  // Flushed at once: what was logged survives a crash of the session.
  const bool written = platform::WriteUtf16Le(pStream, text);
  return std::fflush(pStream) == 0 && written;
}

void TLogTextFile::Close() {
  if (pStream) {
    std::fclose(pStream);
    pStream = nullptr;
  }
}

}  // namespace ZarnTypes

namespace FindFileEx {
namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool LessNoCase(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(LowerAscii(a[i]));
    const auto y = static_cast<unsigned char>(LowerAscii(b[i]));
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;  // names that differ only in case: a fixed order all the same
}

}  // namespace

bool MatchesWildcard(std::string_view name, std::string_view pattern, TLetterCase letters) {
  if (pattern == "*.*" || pattern == "*") return true;
  const auto same = [letters](char p, char n) {
    return letters == TLetterCase::Exact ? p == n : LowerAscii(p) == LowerAscii(n);
  };
  // Greedy walk with one back-track point (the last '*'): linear in practice,
  // never recursive.
  std::size_t n = 0, p = 0;
  std::size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], name[n]))) {
      ++n;
      ++p;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool CFileFindEx::FindFile(std::string_view pattern) {
  Close();
  if (pattern.empty()) return false;
  const std::size_t slash = pattern.find_last_of("/\\");
  std::string leaf;
  if (slash == std::string_view::npos) {
    leaf = std::string(pattern);
  } else {
    m_sFolder = std::string(pattern.substr(0, slash + 1));
    leaf = std::string(pattern.substr(slash + 1));
  }
  if (leaf.empty()) return false;

  const std::filesystem::path dir =
      m_sFolder.empty() ? std::filesystem::path(".") : platform::PathFromUtf8(m_sFolder);
  std::error_code ec;
  std::filesystem::directory_iterator it(dir, ec);
  if (ec) return false;
  for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    std::string name = platform::PathToUtf8(it->path().filename());
    if (!MatchesWildcard(name, leaf)) continue;
    TEntry entry;
    entry.sName = std::move(name);
    std::error_code statEc;
    const std::filesystem::file_status st = it->status(statEc);
    entry.bDirectory = !statEc && std::filesystem::is_directory(st);
    if (!statEc && std::filesystem::is_regular_file(st)) {
      const auto size = it->file_size(statEc);
      entry.nLength = statEc ? 0 : static_cast<std::int64_t>(size);
    }
    m_Entries.push_back(std::move(entry));
  }
  std::sort(m_Entries.begin(), m_Entries.end(),
            [](const TEntry& a, const TEntry& b) { return LessNoCase(a.sName, b.sName); });
  return !m_Entries.empty();
}

bool CFileFindEx::FindNextFile() {
  if (m_nNext >= m_Entries.size()) return false;
  m_nCurrent = static_cast<std::ptrdiff_t>(m_nNext++);
  return m_nNext < m_Entries.size();
}

void CFileFindEx::Close() {
  m_sFolder.clear();
  m_Entries.clear();
  m_nNext = 0;
  m_nCurrent = -1;
}

std::string CFileFindEx::GetFilePath() const {
  if (m_nCurrent < 0) return {};
  return m_sFolder + m_Entries[static_cast<std::size_t>(m_nCurrent)].sName;
}

std::string CFileFindEx::GetFileName() const {
  if (m_nCurrent < 0) return {};
  return m_Entries[static_cast<std::size_t>(m_nCurrent)].sName;
}

bool CFileFindEx::IsDirectory() const {
  return m_nCurrent >= 0 && m_Entries[static_cast<std::size_t>(m_nCurrent)].bDirectory;
}

std::int64_t CFileFindEx::GetLength() const {
  return m_nCurrent >= 0 ? m_Entries[static_cast<std::size_t>(m_nCurrent)].nLength : 0;
}

}  // namespace FindFileEx
