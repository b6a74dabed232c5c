#pragma once
// The record behind every file prompt (TFileDialogSettings), its modes, and
// the program's file-type filter list as the prompts offer it.
//
// A caller fills the document manager's record, asks for a name
// (CDocManagerEx::DoPromptFileName) and reads the user's choices back:
// destination document and channel, the format of the file, the raw-YUV
// layout and the encoder settings of the save formats. The answers are
// copied back only when the user pressed OK; Cancel leaves the record as it
// was.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ZarnTypes {

enum TFileDialogMode : std::int32_t {
  FDM_NONE = 0,
  FDM_OPEN = 1,
  FDM_OPEN_TO = 2,
  FDM_SAVE_IMAGE = 3,
  FDM_SAVE_IMAGE_AS = 4,
};

constexpr bool IsOpenMode(std::int32_t mode) { return mode == FDM_OPEN || mode == FDM_OPEN_TO; }
constexpr bool IsSaveMode(std::int32_t mode) { return mode == FDM_SAVE_IMAGE || mode == FDM_SAVE_IMAGE_AS; }

// The title of a mode ("" outside 1..4).
const char* FileDialogModeTitle(std::int32_t mode);

inline constexpr int kDialogChannelCount = 4;

struct TFileDialogSettings {
  // --- in ---
  bool extended = false;         // use the extended dialog and the fields below
  std::int32_t mode = FDM_NONE;  // TFileDialogMode
  // --- in/out ---
  std::int32_t destination = 0;  // 0 a new document, 1 the active document
  // --- in ---
  bool newDocAllowed = false;
  bool activeDocAllowed = false;
  std::array<bool, kDialogChannelCount> channelAllowed{};
  // --- in/out ---
  std::int32_t channel = 0;  // 0..3
  // --- in --- the source path of each channel ("" none); proposes save names
  std::array<std::string, kDialogChannelCount> channelPaths{};
  // --- in/out ---
  std::int32_t format = 0;       // TFileFormat; 0 = from the extension
  std::int32_t pixelFormat = 0;  // of the previewed picture (kept, persisted)
  std::uint8_t singleImage = 0;  // a flag; kept as its stored byte
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t filterCode = 1;  // TFileFilter chosen last in an open mode
  std::int32_t yuvFormat = 70;  // 53..94, as edited on the YUV page
  std::uint8_t yuvSingleImage = 0;
  std::int32_t yuvWidth = 640;
  std::int32_t yuvHeight = 480;
  std::int32_t jpegQuality = 80;
  // The encoder blocks: the format pages' fields from their offset 8 on
  // (JPEG 2000 36 bytes, PNG 28, GIF 32, TIFF 36). The first field of each
  // is a format code.
  std::array<std::uint8_t, 36> jpeg2000{};
  std::array<std::uint8_t, 28> png{};
  std::array<std::uint8_t, 32> gif{};
  std::array<std::uint8_t, 36> tiff{};

  bool operator==(const TFileDialogSettings&) const = default;
};

// Copies the answer fields (everything but mode, extended, the allowed
// flags and the channel paths) from a dialog's copy into the record.
void CopyFileDialogAnswers(const TFileDialogSettings& from, TFileDialogSettings& to);

// --- the filter list -----------------------------------------------------

// A filter entry in Qt's form: "description (*.a *.b)", with "*.*" as "*".
std::string QtFilterText(std::int32_t filterCode);

// Appends the entry of a code 1..78 to a dialog's filter-code table; codes
// 0 and 79 append nothing and succeed; other codes fail.
bool AppendFileFilter(std::vector<std::int32_t>& codes, std::int32_t filterCode);

// The entries a prompt of the mode offers, in code order: 69 in the open
// modes, 55 in the save modes, none otherwise.
std::vector<std::int32_t> BuildFilterList(std::int32_t mode);

// The entry a prompt starts on (0-based), or -1 for the dialog's default
// (the first): the position of `wantedCode` in the table, else the last
// entry with the same pattern.
int InitialFilterIndex(const std::vector<std::int32_t>& codes, std::int32_t wantedCode);

// The name a save prompt proposes when the caller gave none: from channel
// 1's path and the format's default extension.
std::string ProposeSaveName(const TFileDialogSettings& settings);

}  // namespace ZarnTypes
