#pragma once
// Start parameter files and the command line.
//
// A start parameter file is UTF-16LE text of "name = value" lines with the
// `ch_*` keys. Up to two are read at start-up: the program's own (its path
// with the extension ".ini") and the one named by the command-line flag -i.
// Values of the later file replace those of the earlier.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "shell/app_params.h"

namespace shell {

enum class TParamKind { Number, Flag, String };

// The keys in the parser's order; the index is the was-set flag's index.
struct TParamKey {
  const char* name;
  TParamKind kind;
};
const std::vector<TParamKey>& ChannelParamKeys();

// Applies one line (UTF-8; its line break may still end it).
void ParseChannelParamLine(std::string_view line, TAppParams& params, TChannelParamsSet& set);

enum class TStartFileStatus {
  Read,        // read and applied
  CannotOpen,  // missing or unreadable
  NotUtf16,    // not UTF-16LE text (an 8-bit or big-endian file): not applied
};

// Reads a start parameter file into the records. A leading byte-order mark
// is skipped. Lines are read as the program always read them: at most 255
// characters, a longer line in 255-character pieces each parsed alone.
TStartFileStatus ReadChannelParamFile(const std::filesystem::path& path, TAppParams& params,
                                      TChannelParamsSet& set);

// The user's text for a file that was found but not read ("" for the others).
std::string StartFileProblemText(const std::filesystem::path& path, TStartFileStatus status);

// The command line: standard arguments plus the start file flag.
class CCommandLineInfoEx {
 public:
  enum TShellCommand { FileNew, FileOpen, FileNothing };

  // Takes the whole argument list (argument 0 is the program path).
  void ParseCommandLine(const std::vector<std::string>& args);
  // One argument; `isFlag` when it began with "-" (stripped here already).
  void ParseParam(std::string_view param, bool isFlag, bool isLast);

  TShellCommand m_nShellCommand = FileNew;
  std::string m_strFileName;   // the file to open
  std::string m_strStartFile;  // from -i<path>; "" when none or empty
  bool m_bHasStartFileFlag = false;
  std::string m_strProgramPath;  // argument 0 as given
  std::string m_strScreenshot;   // --screenshot <file>: grab the window and quit
  bool m_bShowHelp = false;      // --help
  std::vector<std::string> m_unknownFlags;

 private:
  bool m_expectScreenshot = false;
};

// The usage text of --help.
std::string CommandLineUsage();

}  // namespace shell
