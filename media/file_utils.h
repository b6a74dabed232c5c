#pragma once
// Small file-system helpers shared by the whole program: the start-up code
// derives the parameter-file path and tests for files, creates folder trees,
// the MNG reader measures open streams, the recorders and the capture graph
// build numbered output names, the capture graph appends to its media-format
// log, the document composes a path from name parts, and the sequence reader
// walks folders with CFileFindEx. All of them are synchronous; text is UTF-8
// and paths use '/'.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace FileUtils {

// The start parameter file that goes with a program path: the same folder
// and name with the extension ".ini" ("/opt/tovrin/tovrin" ->
// "/opt/tovrin/tovrin.ini"); a path whose extension already is ".ini" (in any
// case) is taken as it is. False, with out untouched, for an empty path.
bool MakeIniPath(std::string_view path, std::string& out);

// True when a file or folder matches the path, whose last component may be a
// wildcard pattern: '*' any run of characters, '?' any one character, "*.*"
// every name. Names match exactly, letter case included: a case variant of
// a file is another file. A path ending in a separator names nothing.
bool FileExists(std::string_view pathOrPattern);

// Creates a folder together with every missing folder above it. Returns 0 on
// success (also when the folder already exists) or the errno value of the
// step that failed: ENOENT for an empty path, or for a name without '/'
// whose parent is missing; the error of the first creation as it is unless
// that was ENOENT; otherwise the first error of the walk down the path.
int CreateDirectoryTree(std::string_view folder);

// Size in bytes of an open stream; the stream keeps its position. False for
// a null stream or when the stream cannot be measured or put back.
bool GetStdioFileSize(std::FILE* pStream, std::int64_t& nSize);

// Widest zero-padded number the numbered names accept.
inline constexpr int kMaxNumberWidth = 32;

// folder + "/" + name + extension, where name is prefix + title, then (with
// the first-number flag) "_" when the name is not empty and the first number
// zero-padded to the first width, then (with both flags) "_" and the second
// number zero-padded to the second width. A width of 0 writes the plain
// number. An empty folder gives a name in the current folder rather than in
// the root. False, with out cleared, for a width outside 0..kMaxNumberWidth
// of a number that is written.
bool BuildNumberedFileName(std::string_view folder, std::string_view prefix, std::string_view title,
                           std::string_view extension, std::string& out, bool bFirstNumber,
                           bool bSecondNumber, int nFirstWidth, int nFirstNumber, int nSecondWidth,
                           int nSecondNumber);

// The next file of a numbered series: the path's folder, "/", its name, "_"
// (only when the name is not empty), the number in at least three digits and
// its extension. The folder part of a split path keeps its separator, so
// "/v/cap.avi" with 4 gives "/v//cap_004.avi", which names the same file. A
// path without a folder gives a name in the current folder.
bool MakeNumberedPath(std::string_view path, std::string& out, int nNumber);

}  // namespace FileUtils

namespace ZarnTypes {

// A path kept in parts by the media document.
struct TFilePathParts {
  std::int32_t nValue = 0;
  std::string sFullPath;
  std::string sFolder;
  std::string sName1;
  std::string sName2;  // takes no part in the full path
  std::string sName3;
  std::string sName4;
  std::string sExtension = ".txt";
  std::uint16_t nWord1 = 0;
  std::uint16_t nWord2 = 0;

  // Full path = folder + "/" + name 3 + name 1 + name 4 + extension (no
  // separator when the folder is empty).
  const std::string& BuildPath();
};

// The capture graph's media-format log: UTF-16LE text appended to a file.
// A new (empty) file starts with the byte-order mark.
struct TLogTextFile {
  TLogTextFile() = default;
  TLogTextFile(const TLogTextFile&) = delete;
  TLogTextFile& operator=(const TLogTextFile&) = delete;
  ~TLogTextFile() { Close(); }

  // Opens sPath for appending. False when a stream is already open, the
  // path is empty or the file cannot be opened.
  bool Open();
  // Appends the text; false when no stream is open or not every byte was written.
  bool WriteString(std::string_view text);
  void Close();
  bool IsOpen() const { return pStream != nullptr; }

  std::FILE* pStream = nullptr;
  std::string sPath;     // set by the owner before Open
  bool bDetail = false;  // the owner's choice of a detailed log
};

}  // namespace ZarnTypes

namespace FindFileEx {

enum class TLetterCase { Ignore, Exact };

// Whether a file name matches a wildcard pattern: '*' stands for any run of
// characters, '?' for any one character, and "*.*" for every name. By
// default letters match regardless of case, as the program's extension codes
// do (a folder of "*.BMP" stills is walked by "*.bmp").
bool MatchesWildcard(std::string_view name, std::string_view pattern,
                     TLetterCase letters = TLetterCase::Ignore);

// Walks the entries of one folder that match a pattern ("/dir/*.bmp",
// "/dir/*.*", or a plain path). The matches are taken when the search starts
// and come in name order (letters regardless of case), so a folder of
// numbered stills is walked in the same order everywhere.
//
// Use: FindFile(pattern) tells whether anything matches; each FindNextFile()
// then moves to the next match and answers whether another one follows it,
// so the last match is reached by the call that returns false:
//
//   bool more = finder.FindFile(pattern);
//   while (more) { more = finder.FindNextFile(); use(finder.GetFilePath()); }
class CFileFindEx {
 public:
  CFileFindEx() = default;

  // Starts a search (ending any earlier one). False when nothing matches,
  // the folder cannot be read or the pattern is empty.
  bool FindFile(std::string_view pattern = "*.*");
  // Moves to the next match; true when there is a further one after it.
  // False also when the search has no match left (the current match then
  // stays where it was, or is empty before the first move).
  bool FindNextFile();
  void Close();

  // The current match (empty before the first FindNextFile).
  std::string GetFilePath() const;  // the folder as the pattern gave it, then the name
  std::string GetFileName() const;
  std::string GetRoot() const { return m_sFolder; }  // the pattern's folder with its separator, or empty
  bool IsDirectory() const;
  std::int64_t GetLength() const;  // bytes of a regular file; 0 otherwise

 private:
  struct TEntry {
    std::string sName;
    bool bDirectory = false;
    std::int64_t nLength = 0;
  };
  std::string m_sFolder;
  std::vector<TEntry> m_Entries;
  std::size_t m_nNext = 0;  // index of the match the next FindNextFile moves to
  std::ptrdiff_t m_nCurrent = -1;
};

}  // namespace FindFileEx
