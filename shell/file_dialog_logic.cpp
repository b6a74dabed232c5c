#include "shell/file_dialog_logic.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "media/file_types.h"
#include "media/frame_buffer.h"
#include "options/opts_file_format.h"

using namespace ZarnTypes;

namespace FileDialogEx {

namespace {

std::string Format(const char* fmt, auto... args) {
  const int n = std::snprintf(nullptr, 0, fmt, args...);
  if (n <= 0) return {};
  std::vector<char> out(static_cast<std::size_t>(n) + 1);
  std::snprintf(out.data(), out.size(), fmt, args...);
  return std::string(out.data(), static_cast<std::size_t>(n));
}

const char* const kChannelNames[kDialogChannelCount] = {
    "Media channel 1, Primary", "Media Channel 2, Assistant", "Media Channel 3", "Media Channel 4"};

bool IsMediaPreviewFormat(std::int32_t f) { return f == 3 || f == 5 || f == 6 || (f >= 8 && f <= 21); }
bool IsStillPreviewFormat(std::int32_t f) { return f == 27 || f == 37 || f == 38 || (f >= 41 && f <= 44); }

std::int32_t ReadInt(const TOptsExchangeHeader& header, std::size_t offset) {
  std::int32_t v = 0;
  std::memcpy(&v, reinterpret_cast<const std::uint8_t*>(&header) + offset, sizeof v);
  return v;
}
void WriteInt(TOptsExchangeHeader& header, std::size_t offset, std::int32_t v) {
  std::memcpy(reinterpret_cast<std::uint8_t*>(&header) + offset, &v, sizeof v);
}
template <std::size_t N>
void ReadBytes(const TOptsExchangeHeader& header, std::array<std::uint8_t, N>& to) {
  std::memcpy(to.data(), reinterpret_cast<const std::uint8_t*>(&header) + 8, N);
}
template <std::size_t N>
void WriteBytes(TOptsExchangeHeader& header, const std::array<std::uint8_t, N>& from) {
  std::memcpy(reinterpret_cast<std::uint8_t*>(&header) + 8, from.data(), N);
}

// True when a file name's extension is one of a filter entry's patterns.
bool ExtensionMatchesFilter(const std::string& extension, std::int32_t filterCode) {
  const std::string pattern = GetFileFilterPattern(filterCode);
  if (pattern.empty() || extension.empty()) return false;
  std::string ext = extension;
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::size_t start = 0;
  while (start <= pattern.size()) {
    std::size_t end = pattern.find(';', start);
    if (end == std::string::npos) end = pattern.size();
    const std::string one = pattern.substr(start, end - start);
    if (one.size() > 1 && one[0] == '*' && one.substr(1) == ext) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

bool FormatHasOptionsButton(std::int32_t f) {
  return f == 37 || f == 38 || f == 39 || (f >= 41 && f <= 44) || IsYuvFileFormat(f);
}

std::int32_t FormatOptionsCategory(std::int32_t f) {
  if (f == 37) return OPTCAT_GIF;
  if (f == 38 || f == 39) return OPTCAT_JPEG;
  if (f == 41 || f == 42) return OPTCAT_JPEG2000;
  if (f == 43) return OPTCAT_PNG;
  if (f == 44) return OPTCAT_TIFF;
  if (IsYuvFileFormat(f)) return OPTCAT_YUV;
  return 0;
}

std::string FileTypeName(std::int32_t f) {
  switch (f) {
    case 5: return "Video MPEG";
    case 6: return "Video MPEG-4";
    case 7: return "H.264 video (ITU-T)";
    case 8: return "DV - Digital Video";
    case 9: return "AVI - Audio Video Interlived";
    case 10: return "WMV - Windows Media Video";
    case 11: return "ASF - Advanced Systems Format, Microsoft";
    case 12: return "FLV - Flash Video";
    case 13: return "SWF - ShockWave Flash Format";
    case 14: return "MOV - QuickTime Video";
    case 15: return "MNG - Multiple-image Network Graphics";
    case 16: return "DVD info file";
    case 17: return "DVD back up file";
    case 18: return "DVD video object file";
    case 19: return "MP3 - MPEG-1 Audio Layer 3";
    case 20: return "WMA - Windows Media Audio";
    case 21: return "WAV - Waveform Audio";
    case 22: return "PGM";
    case 27: return "BMP - Microsoft Bitmap";
    case 37: return "GIF - Graphics Interchange Format";
    case 38: return "JPEG";
    case 41: return "JPEG2000 JP2";
    case 42: return "JPEG2000 Code Stream";
    case 43: return "PNG - Portable Network Graphics";
    case 44: return "TIFF - Tagged Image File Format";
    case 45: return "Video YUV";
    default: return {};
  }
}

std::int32_t PixelFormatForBits(std::int32_t bits) {
  switch (bits) {
    case 1: return 22;
    case 4: return 24;
    case 8: return 25;
    case 16: return 26;
    case 24: return 27;
    case 32: return 28;
    case 48: return 29;
    default: return 21;
  }
}

CFileDialogLogic::CFileDialogLogic(const TFileDialogSettings& settings, std::vector<std::int32_t> filterCodes)
    : m_settings(settings), m_codes(std::move(filterCodes)) {}

void CFileDialogLogic::Init() {
  if (m_initDone) return;
  m_initDone = true;
  const std::int32_t mode = Mode();
  m_detailsShown = IsOpenMode(mode);
  if (mode == FDM_OPEN) {
    m_settings.newDocAllowed = true;
    m_settings.activeDocAllowed = false;
  } else if (IsSaveMode(mode)) {
    m_settings.newDocAllowed = false;
    m_settings.activeDocAllowed = true;
  }
  FillDestinations();
  FillChannels();
  for (std::size_t i = 0; i < m_channels.size(); ++i)
    if (m_channels[i].data == m_settings.channel) m_channelIndex = static_cast<int>(i);
  m_optionsEnabled = true;
  if (IsSaveMode(mode)) {
    m_currentFormat = m_settings.format;
    EnableOptionsButton(m_settings.format);
  }
  if (!IsYuvFileFormat(m_settings.yuvFormat)) m_settings.yuvFormat = 70;
  if (m_settings.yuvWidth < 1) m_settings.yuvWidth = 640;
  if (m_settings.yuvHeight < 1) m_settings.yuvHeight = 480;
}

std::string CFileDialogLogic::LabelText() const {
  if (IsOpenMode(Mode())) return "Open to:";
  if (IsSaveMode(Mode())) return "Save from:";
  return {};
}

int CFileDialogLogic::AreaHeight() const { return IsOpenMode(Mode()) ? 190 : 52; }

void CFileDialogLogic::FillDestinations() {
  m_destinations.clear();
  if (m_settings.newDocAllowed) m_destinations.push_back({"New document", 0});
  if (m_settings.activeDocAllowed) m_destinations.push_back({"Active document", 1});
  const bool wantActive = Mode() == FDM_OPEN_TO && m_settings.activeDocAllowed && m_settings.destination == 1;
  m_destinationIndex = m_destinations.empty() ? -1 : 0;
  for (std::size_t i = 0; i < m_destinations.size(); ++i)
    if (wantActive && m_destinations[i].data == 1) m_destinationIndex = static_cast<int>(i);
  // The record follows what the list shows, so the channels match it.
  if (m_destinationIndex >= 0)
    m_settings.destination = m_destinations[static_cast<std::size_t>(m_destinationIndex)].data;
}

void CFileDialogLogic::FillChannels() {
  m_channels.clear();
  // Channels 2..4 belong to the active document: "Open to" lists them while
  // that is the destination, "Save Image As" always; any other prompt offers
  // at most channel 1.
  const bool all = (Mode() == FDM_OPEN_TO && m_settings.destination == 1) || Mode() == FDM_SAVE_IMAGE_AS;
  for (int c = 0; c < kDialogChannelCount; ++c) {
    if (c > 0 && !all) break;
    if (m_settings.channelAllowed[static_cast<std::size_t>(c)]) m_channels.push_back({kChannelNames[c], c});
  }
  m_channelIndex = m_channels.empty() ? -1 : 0;
}

int CFileDialogLogic::FilterIndexForFormat(std::int32_t format) const {
  std::int32_t code = 0;
  if (format == 37)
    code = 30;
  else if (format == 38)
    code = 31;
  else if (format == 39)
    code = 32;
  else if (format >= 41 && format <= 44)
    code = format - 8;
  else if (IsYuvFileFormat(format))
    code = format - 16;
  else
    return -1;
  for (std::size_t i = 0; i < m_codes.size(); ++i)
    if (m_codes[i] == code) return static_cast<int>(i);
  return -1;
}

std::int32_t CFileDialogLogic::FilterFormat(int filterIndex) const {
  const std::int32_t code = filterIndex >= 0 && filterIndex < static_cast<int>(m_codes.size())
                                ? m_codes[static_cast<std::size_t>(filterIndex)]
                                : 0;
  return FileFilterToFileFormat(code);
}

void CFileDialogLogic::EnableOptionsButton(std::int32_t format) {
  m_optionsEnabled = FormatHasOptionsButton(format);
}

void CFileDialogLogic::CloseUpDestination(int index) {
  if (index < 0 || index >= static_cast<int>(m_destinations.size())) return;
  m_destinationIndex = index;
  m_settings.destination = m_destinations[static_cast<std::size_t>(index)].data;
  if (Mode() == FDM_OPEN_TO) FillChannels();
}

std::string CFileDialogLogic::CloseUpChannel(int index, int filterIndex) {
  if (index < 0 || index >= static_cast<int>(m_channels.size())) return {};
  m_channelIndex = index;
  if (Mode() != FDM_SAVE_IMAGE_AS) return {};
  const std::int32_t channel = m_channels[static_cast<std::size_t>(index)].data;
  const std::string& path = m_settings.channelPaths[static_cast<std::size_t>(channel)];
  const std::string title = std::filesystem::path(path).stem().string();
  if (title.empty()) return {};
  return title + GetDefaultExtension(FilterFormat(filterIndex));
}

CFileDialogLogic::TTypeChange CFileDialogLogic::OnTypeChange(int filterIndex,
                                                             const std::string& currentFileTitle) {
  TTypeChange change;
  const std::int32_t f = FilterFormat(filterIndex);
  m_currentFormat = f;
  if (IsYuvFileFormat(f)) m_settings.yuvFormat = f;
  if (IsSaveMode(Mode())) {
    m_settings.format = f;
    if (!currentFileTitle.empty()) change.newName = currentFileTitle + GetDefaultExtension(f);
  } else if (IsOpenMode(Mode()) && IsYuvFileFormat(f)) {
    m_settings.format = f;
    change.refreshInfo = true;
  }
  EnableOptionsButton(m_settings.format);
  return change;
}

std::string CFileDialogLogic::DescribeStill(std::int32_t f, const TStillInfo& in) const {
  std::string name;
  switch (f) {
    case 27:
      return Format("Width, Height:  %d x %d\n Bits per pixel:  %d\n Planes:  %d", in.width, in.height,
                    in.bmpBitsPerPixel, in.bmpPlanes);
    case 37:
      return Format(
          "Width, Height:  %d x %d\n Color space:  Color palette\n Bits per pixel:  %d\n Planes:  %d",
          in.width, in.height, in.info[3], 1);
    case 38:
      GetJpegColorSpaceName(in.info[0], name);
      return Format("Width, Height:  %d x %d\n Color space:  %s\n Bits per color:  %d", in.width, in.height,
                    name.c_str(), in.info[1]);
    case 41:
    case 42:
      return Format("Width, Height:  %d x %d\n Color components:  %d\n Bits per pixel:  %d\n Planes:  %d",
                    in.width, in.height, in.info[1], in.info[1] * in.info[0], 1);
    case 43: {
      GetPngColorTypeName(in.info[0], name);
      int channels = 0;
      switch (in.info[0]) {
        case 2: channels = 1; break;
        case 3: channels = 2; break;
        case 4: channels = 1; break;
        case 5: channels = 3; break;
        case 6: channels = 4; break;
        default: break;
      }
      return Format("Width, Height:  %d x %d\n Color space: %s\n Bits per pixel: %d\n Planes: %d", in.width,
                    in.height, name.c_str(), channels * in.info[1], 1);
    }
    case 44: {
      std::string compression;
      GetTiffPhotometricName(in.info[1], name);
      GetTiffCompressionName(in.info[5], compression);
      return Format(
          "Width, Height:  %d x %d\n Color space:  %s\n Bits per pixel:  %d\n Planes:  %d\n Compression:  %s",
          in.width, in.height, name.c_str(), in.info[2] * in.info[3], 1, compression.c_str());
    }
    default: return {};
  }
}

bool CFileDialogLogic::UpdateFileInfo(const std::string& path, IPreviewTarget& preview) {
  if (path.empty()) return false;
  std::error_code ec;
  const std::filesystem::path p(path);
  if (!std::filesystem::exists(p, ec)) {
    preview.Clear();
    return true;
  }
  const bool folder = std::filesystem::is_directory(p, ec);
  const std::string extension = p.extension().string();
  m_detailsText.clear();

  std::int32_t f = 0;
  if (IsOpenMode(Mode())) {
    if (folder) {
      m_optionsEnabled = false;
    } else {
      const std::int32_t ext = GetFileExtCode(extension);
      f = FileExtCodeToFileFormat(ext);
      m_optionsEnabled = ext == FEXT_YUV;
    }
  }
  if (!m_detailsShown) return true;

  bool ok = false;
  if (IsMediaPreviewFormat(f)) {
    ok = preview.LoadMedia(path, f);
    if (ok) {
      m_settings.pixelFormat = 27;
      m_settings.format = f;
    } else {
      // A source that cannot be read, or not within the preview's short
      // wait (a damaged file): the panel says so rather than nothing.
      m_detailsText = kCannotPreview;
    }
  } else if (IsStillPreviewFormat(f)) {
    TStillInfo info;
    ok = preview.LoadImage(path, f, info);
    if (ok) {
      m_settings.width = info.width;
      m_settings.height = info.height;
      m_settings.pixelFormat = PixelFormatForBits(f == 27 ? info.bmpBitsPerPixel : 24);
      m_settings.format = f;
    }
    m_detailsText = DescribeStill(f, ok ? info : TStillInfo{});
  } else if (f == FF_YUV_RAW) {
    ok = preview.LoadYuvFrame(path, m_settings.yuvWidth, m_settings.yuvHeight, m_settings.yuvFormat);
    if (ok) {
      m_settings.format = m_settings.yuvFormat;
      m_settings.singleImage = m_settings.yuvSingleImage;
      m_settings.pixelFormat = FileFormatToPixelFormat(m_settings.yuvFormat);
      std::string name;
      if (!GetFileFormatName(m_settings.yuvFormat, name)) name.clear();
      m_detailsText =
          Format(" %s\n Width, Height:  %d x %d\n Bits per pixel:  %d\n Planes:  %d", name.c_str(),
                 m_settings.yuvWidth, m_settings.yuvHeight, GetYuvBitsPerPixel(m_settings.yuvFormat), 3);
    }
  } else {
    m_settings.format = 0;
  }

  std::string type;
  if (!folder) {
    type = FileTypeName(f);
    if (type.empty()) type = extension;
  }
  m_panelText = Format(" %s\n %s\n Type: %s\n %s", p.filename().string().c_str(),
                       folder ? "Directory" : "File", type.c_str(), m_detailsText.c_str());
  if (!ok) preview.Clear();
  return true;
}

void CFileDialogLogic::OnPreviewInfo(std::int32_t senderKind, const std::int32_t* v) {
  if (senderKind != 16 || !v) return;
  m_detailsText = Format(
      " Width, Height:  %d x %d\n Ticks per second:  %d\n Layers:  %d\n Frames:  %d\n Play time:  %d\n "
      "Simplicity "
      "profile:  %d",
      v[0], v[1], v[2], v[3], v[4], v[5], v[6]);
}

TAcceptResult CFileDialogLogic::OnFileNameOK(const std::string& path, int filterIndex) {
  TAcceptResult result;
  if (path.empty()) return result;
  const std::filesystem::path p(path);
  const std::string extension = p.extension().string();
  const std::int32_t f = FileExtCodeToFileFormat(GetFileExtCode(extension));

  const std::int32_t code = filterIndex >= 0 && filterIndex < static_cast<int>(m_codes.size())
                                ? m_codes[static_cast<std::size_t>(filterIndex)]
                                : 0;
  if (IsSaveMode(Mode())) {
    // The selected filter decides the format; a name that says otherwise
    // would put one format under another's extension.
    const std::int32_t g = FilterFormat(filterIndex);
    if (g != 0 && !ExtensionMatchesFilter(extension, code)) {
      result.correctedName = path + GetDefaultExtension(g);
      return result;
    }
  }
  // Only an open prompt remembers its filter for the next open prompt: a
  // save prompt's filter (the YUV one after the YUV page, say) must not make
  // the next File Open list only that kind of file.
  if (IsOpenMode(Mode())) m_settings.filterCode = code;
  if (m_destinationIndex >= 0)
    m_settings.destination = m_destinations[static_cast<std::size_t>(m_destinationIndex)].data;
  if (m_channelIndex >= 0) m_settings.channel = m_channels[static_cast<std::size_t>(m_channelIndex)].data;

  if (IsOpenMode(Mode())) {
    m_settings.format = f;
    if (f == FF_YUV_RAW || IsYuvFileFormat(f)) {
      m_settings.format = m_settings.yuvFormat;
      m_settings.singleImage = m_settings.yuvSingleImage;
      m_settings.width = m_settings.yuvWidth;
      m_settings.height = m_settings.yuvHeight;
    }
  } else if (IsSaveMode(Mode())) {
    m_settings.format = FilterFormat(filterIndex);
  }
  const std::int32_t fmt = m_settings.format;
  if (fmt == 27 || fmt == 37 || fmt == 38 || fmt == 39 || (fmt >= 41 && fmt <= 44)) {
    m_settings.singleImage = 1;
  } else if (!IsYuvFileFormat(fmt)) {
    m_settings.singleImage = 0;
  }
  result.accept = true;
  return result;
}

std::int32_t CFileDialogLogic::OptionsCategory(int filterIndex) {
  m_currentFormat = FilterFormat(filterIndex);
  if (IsOpenMode(Mode())) return OPTCAT_YUV;
  if (IsSaveMode(Mode())) return FormatOptionsCategory(m_currentFormat);
  return 0;
}

bool CFileDialogLogic::ExchangeYuv(TYuvFormatExchange& block) {
  if (block.header.op == OPTS_XCHG_READ) {
    block.format = m_settings.yuvFormat;
    block.width = m_settings.yuvWidth;
    block.height = m_settings.yuvHeight;
    block.singleImage = m_settings.yuvSingleImage ? 1 : 0;
    block.sizeEditable = IsOpenMode(Mode()) ? 1 : 0;
  } else if (block.header.op == OPTS_XCHG_WRITE) {
    if (IsYuvFileFormat(block.format)) {
      m_currentFormat = block.format;
      m_settings.format = block.format;
      m_settings.yuvFormat = block.format;
    }
    m_settings.width = m_settings.yuvWidth = block.width;
    m_settings.height = m_settings.yuvHeight = block.height;
    m_settings.yuvSingleImage = block.singleImage != 0 ? 1 : 0;
  } else {
    return false;
  }
  block.header.answered = 1;
  return true;
}

bool CFileDialogLogic::ExchangeFormatBlock(UINT message, TOptsExchangeHeader& header) {
  using namespace platform::qt;
  const bool read = header.op == OPTS_XCHG_READ;
  if (!read && header.op != OPTS_XCHG_WRITE) return false;
  switch (message) {
    case WM_APP_OPTS_JPEG:
      if (read) {
        WriteInt(header, 8, m_currentFormat);
        WriteInt(header, 12, m_settings.jpegQuality);
      } else {
        m_currentFormat = m_settings.format = ReadInt(header, 8);
        m_settings.jpegQuality = ReadInt(header, 12);
      }
      break;
    case WM_APP_OPTS_JPEG2000:
      if (read)
        WriteBytes(header, m_settings.jpeg2000), WriteInt(header, 8, m_currentFormat);
      else
        ReadBytes(header, m_settings.jpeg2000), m_currentFormat = ReadInt(header, 8);
      break;
    case WM_APP_OPTS_PNG:
      if (read)
        WriteBytes(header, m_settings.png), WriteInt(header, 8, m_currentFormat);
      else
        ReadBytes(header, m_settings.png), m_currentFormat = ReadInt(header, 8);
      break;
    case WM_APP_OPTS_GIF:
      if (read)
        WriteBytes(header, m_settings.gif), WriteInt(header, 8, m_currentFormat);
      else
        ReadBytes(header, m_settings.gif), m_currentFormat = ReadInt(header, 8);
      break;
    case WM_APP_OPTS_TIFF:
      if (read)
        WriteBytes(header, m_settings.tiff), WriteInt(header, 8, m_currentFormat);
      else
        ReadBytes(header, m_settings.tiff), m_currentFormat = ReadInt(header, 8);
      break;
    default: return false;
  }
  header.answered = 1;
  return true;
}

}  // namespace FileDialogEx
