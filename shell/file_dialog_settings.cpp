#include "shell/file_dialog_settings.h"

#include <filesystem>

#include "media/file_types.h"

namespace ZarnTypes {

const char* FileDialogModeTitle(std::int32_t mode) {
  switch (mode) {
    case FDM_OPEN: return "Open";
    case FDM_OPEN_TO: return "Open to";
    case FDM_SAVE_IMAGE: return "Save Image";
    case FDM_SAVE_IMAGE_AS: return "Save Image As";
    default: return "";
  }
}

void CopyFileDialogAnswers(const TFileDialogSettings& from, TFileDialogSettings& to) {
  to.destination = from.destination;
  to.channel = from.channel;
  to.format = from.format;
  to.pixelFormat = from.pixelFormat;
  to.singleImage = from.singleImage;
  to.width = from.width;
  to.height = from.height;
  to.filterCode = from.filterCode;
  to.yuvFormat = from.yuvFormat;
  to.yuvSingleImage = from.yuvSingleImage;
  to.yuvWidth = from.yuvWidth;
  to.yuvHeight = from.yuvHeight;
  to.jpegQuality = from.jpegQuality;
  to.jpeg2000 = from.jpeg2000;
  to.png = from.png;
  to.gif = from.gif;
  to.tiff = from.tiff;
}

std::string QtFilterText(std::int32_t filterCode) {
  const std::string label = GetFileFilterLabel(filterCode);
  const std::string pattern = GetFileFilterPattern(filterCode);
  if (label.empty()) return {};
  std::string patterns;
  std::size_t start = 0;
  while (start <= pattern.size()) {
    std::size_t end = pattern.find(';', start);
    if (end == std::string::npos) end = pattern.size();
    std::string one = pattern.substr(start, end - start);
    if (one == "*.*") one = "*";
    if (!one.empty()) {
      if (!patterns.empty()) patterns += ' ';
      patterns += one;
    }
    start = end + 1;
  }
  return label + " (" + patterns + ")";
}

bool AppendFileFilter(std::vector<std::int32_t>& codes, std::int32_t filterCode) {
  if (filterCode == 0 || filterCode == FLT_LAST + 1) return true;
  if (filterCode < FLT_FIRST || filterCode > FLT_LAST) return false;
  codes.push_back(filterCode);
  return true;
}

namespace {

bool Offered(std::int32_t code, bool open) {
  if (code >= 1 && code <= 21) return open;    // groups, video, audio, BMP
  if (code >= 22 && code <= 27) return !open;  // BMP by bit depth
  if (code == 28 || code == 29) return false;  // 48-bit BMP, ICO
  if (code == 30 || code == 31) return true;   // GIF, JPEG
  if (code == 32) return !open;                // greyscale JPEG
  if (code >= 33 && code <= 78) return true;   // JP2, JPC, PNG, TIFF, YCbCr
  return false;
}

}  // namespace

std::vector<std::int32_t> BuildFilterList(std::int32_t mode) {
  std::vector<std::int32_t> codes;
  if (!IsOpenMode(mode) && !IsSaveMode(mode)) return codes;
  const bool open = IsOpenMode(mode);
  for (std::int32_t code = FLT_FIRST; code <= FLT_LAST; ++code)
    if (Offered(code, open)) AppendFileFilter(codes, code);
  return codes;
}

int InitialFilterIndex(const std::vector<std::int32_t>& codes, std::int32_t wantedCode) {
  for (std::size_t i = 0; i < codes.size(); ++i)
    if (codes[i] == wantedCode) return static_cast<int>(i);
  const std::string pattern = GetFileFilterPattern(wantedCode);
  if (pattern.empty()) return -1;
  int found = -1;
  for (std::size_t i = 0; i < codes.size(); ++i)
    if (GetFileFilterPattern(codes[i]) == pattern) found = static_cast<int>(i);
  return found;
}

std::string ProposeSaveName(const TFileDialogSettings& settings) {
  const std::string ext = GetDefaultExtension(settings.format);
  const std::string& path = settings.channelPaths[0];
  if (path.empty()) return ext;
  const std::filesystem::path p(path);
  const std::int32_t f = FileExtCodeToFileFormat(GetFileExtCode(p.extension().string()));
  if (f >= 3 && f <= 94) return p.stem().string() + ext;
  return path + ext;
}

}  // namespace ZarnTypes
