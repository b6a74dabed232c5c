// The channel reader's own frame loop for still images, folders of stills
// read as a sequence and raw YUV files, and the folder listing behind the
// document's first / last / previous / next navigation.

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

#include "io/read_stream.h"
#include "platform/files.h"
#include "platform/message_sink.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace ReadStream {

using namespace ZarnTypes;

namespace {

// printf-style text of any length.
[[gnu::format(printf, 1, 2)]] std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<std::size_t>(n));
  }
  va_end(args);
  return out;
}

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Number of UTF-16 code units the UTF-8 text takes.
std::size_t Utf16Length(std::string_view text) {
  std::size_t units = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) {  // a lead byte or ASCII
      units += (c >= 0xF0) ? 2 : 1;
    }
  }
  return units;
}

// Compares two runs of decimal digits by value, whatever their length.
int CompareDigitRuns(std::string_view a, std::string_view b) {
  const auto strip = [](std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == '0') {
      ++i;
    }
    return s.substr(i);
  };
  a = strip(a);
  b = strip(b);
  if (a.size() != b.size()) {
    return a.size() < b.size() ? -1 : 1;
  }
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Cuts the token at the front of `rest`: a run of digits or a run of other characters.
std::string_view CutToken(std::string_view& rest) {
  if (rest.empty()) {
    return {};
  }
  const bool digits = IsDigit(rest.front());
  std::size_t n = 1;
  while (n < rest.size() && IsDigit(rest[n]) == digits) {
    ++n;
  }
  const std::string_view token = rest.substr(0, n);
  rest.remove_prefix(n);
  return token;
}

// Whether a file can be read as a picture: it opens as a regular file (a
// FIFO, a device or a folder carrying a picture's name is refused at once,
// never waited on). errno tells why not.
bool CanReadRegularFile(const std::string& path) {
  const int fd = platform::OpenRegularFileForRead(path);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// The formats the loop decodes one picture per file of.
bool IsStillFileFormat(std::int32_t format) {
  switch (format) {
    case FF_BMP:
    case FF_GIF:
    case FF_JPEG:
    case FF_JPEG_GRAY:
    case FF_JP2:
    case FF_JPC:
    case FF_PNG:
    case FF_TIFF: return true;
    default: return false;
  }
}

// The reason a file could not be read, for the user.
std::string UnreadableReason(int error) {
  if (error == EINVAL) return "it is not a regular file";
  const char* text = error != 0 ? std::strerror(error) : nullptr;
  return text != nullptr && *text != '\0' ? std::string(text) : std::string("an unknown error occurred");
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    c = FoldAscii(c);
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Orderings

bool CompareNamesByText(const TFindData& a, const TFindData& b) {
  const std::string& x = a.sName;
  const std::string& y = b.sName;
  // Letters regardless of case first.
  const std::size_t n = std::min(x.size(), y.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char fx = static_cast<unsigned char>(FoldAscii(x[i]));
    const unsigned char fy = static_cast<unsigned char>(FoldAscii(y[i]));
    if (fx != fy) {
      return fx < fy;
    }
  }
  if (x.size() != y.size()) {
    return x.size() < y.size();
  }
  // Equal but for case: at the first difference the lower-case letter comes first.
  for (std::size_t i = 0; i < n; ++i) {
    if (x[i] != y[i]) {
      const bool xLower = x[i] >= 'a' && x[i] <= 'z';
      const bool yLower = y[i] >= 'a' && y[i] <= 'z';
      if (xLower != yLower) {
        return xLower;
      }
      return static_cast<unsigned char>(x[i]) < static_cast<unsigned char>(y[i]);
    }
  }
  return false;
}

// The names are lower-cased and read as a sequence of symbols: every run of
// digits is one symbol ranked by its value, every other character a symbol of
// its own. Symbols compare as the characters they stand for, a digit run
// sitting where the digits sit among the characters, so "x.png" comes before
// "x1.png" ('.' is below the digits) and "img2" before "img10". A name that
// is a prefix of the other comes first.
bool CompareNamesNatural(const TFindData& a, const TFindData& b) {
  const std::string x = LowerAscii(a.sName);
  const std::string y = LowerAscii(b.sName);
  std::string_view restX(x);
  std::string_view restY(y);
  while (!restX.empty() && !restY.empty()) {
    const bool dx = IsDigit(restX.front());
    const bool dy = IsDigit(restY.front());
    if (dx && dy) {
      const std::string_view tx = CutToken(restX);
      const std::string_view ty = CutToken(restY);
      const int c = CompareDigitRuns(tx, ty);
      if (c != 0) {
        return c < 0;
      }
      continue;
    }
    const auto cx = static_cast<unsigned char>(restX.front());
    const auto cy = static_cast<unsigned char>(restY.front());
    if (cx != cy) {
      return cx < cy;  // a digit against another character: any digit ranks the same
    }
    restX.remove_prefix(1);
    restY.remove_prefix(1);
  }
  return restX.empty() && !restY.empty();
}

// ---------------------------------------------------------------------------
// Folder listing and navigation

bool CReadStream::FileTypeModeKeeps(std::int32_t nMode, std::int32_t nExtCode, std::int32_t nSiblingExtCode) {
  if (nExtCode == FEXT_NONE) {
    return false;
  }
  switch (nMode) {
    case FILE_TYPES_SUPPORTED: return IsSupportedFileExt(nExtCode);
    case FILE_TYPES_STREAMS: return (nExtCode >= 2 && nExtCode <= 6) || (nExtCode >= 8 && nExtCode <= 19);
    case FILE_TYPES_STILLS:
      return nExtCode == 16 || nExtCode == 23 || (nExtCode >= 27 && nExtCode <= 32) ||
             (nExtCode >= 34 && nExtCode <= 36);
    case FILE_TYPES_AUDIO: return nExtCode >= 20 && nExtCode <= 22;
    case FILE_TYPES_SAME: return nExtCode == nSiblingExtCode;
    default: return false;
  }
}

bool CReadStream::ListSequenceFiles(const std::string& pattern, std::int32_t nExtCode) {
  m_FolderList.clear();
  m_nListError = 0;
  if (pattern.empty()) {
    return false;
  }
  if (Utf16Length(pattern) > kMaxPatternLength) {
    m_nListError = kErrorBadArguments;
    return false;
  }
  FindFileEx::CFileFindEx finder;
  bool more = finder.FindFile(pattern);
  if (!more) {
    return false;
  }
  const std::int32_t nMode = m_nFileTypeMode.load();
  while (more) {
    more = finder.FindNextFile();
    if (finder.IsDirectory()) {
      continue;
    }
    TFindData entry;
    entry.sName = finder.GetFileName();
    entry.nLength = finder.GetLength();
    const std::int32_t code = GetFileExtCode(platform::SplitPath(entry.sName).extension);
    if (FileTypeModeKeeps(nMode, code, nExtCode)) {
      m_FolderList.push_back(std::move(entry));
    }
  }
  finder.Close();
  if (!m_FolderList.empty()) {
    switch (m_nSortMode.load()) {
      case SORT_BY_TEXT:
        std::stable_sort(m_FolderList.begin(), m_FolderList.end(), CompareNamesByText);
        break;
      case SORT_NATURAL:
        std::stable_sort(m_FolderList.begin(), m_FolderList.end(), CompareNamesNatural);
        break;
      default: break;
    }
  }
  return true;
}

bool CReadStream::FindSiblingFile(int nWhich, const std::string& path, std::string* pFound) {
  const platform::TSplitPath parts = platform::SplitPath(path);
  std::int32_t nSiblingExtCode = 0;
  std::string pattern;
  if (m_nFileTypeMode.load() == FILE_TYPES_SAME) {
    nSiblingExtCode = GetFileExtCode(parts.extension);
    pattern = parts.folder + "*" + parts.extension;
  } else {
    pattern = parts.folder + "*" + ".*";
  }
  const bool listed = ListSequenceFiles(pattern, nSiblingExtCode);
  if (!listed || m_FolderList.empty() || nWhich < SIBLING_FIRST || nWhich > SIBLING_NEXT) {
    m_FolderList.clear();
    return false;
  }
  const std::size_t count = m_FolderList.size();
  std::size_t index = 0;
  if (nWhich == SIBLING_LAST) {
    index = count - 1;
  } else if (nWhich == SIBLING_PREVIOUS || nWhich == SIBLING_NEXT) {
    const std::string own = parts.name + parts.extension;
    for (std::size_t i = 0; i < count; ++i) {
      if (m_FolderList[i].sName == own) {
        if (nWhich == SIBLING_PREVIOUS) {
          index = i == 0 ? count - 1 : i - 1;
        } else {
          index = i + 1 == count ? 0 : i + 1;
        }
        break;
      }
    }
  }
  std::string found = parts.folder + m_FolderList[index].sName;
  if (pFound != nullptr) {
    *pFound = found;
  }
  {
    std::lock_guard<std::mutex> lock(m_CurrentFileLock);
    m_sCurrentFile = std::move(found);
  }
  m_FolderList.clear();
  return true;
}

// ---------------------------------------------------------------------------
// The frame loop

bool CReadStream::RunReadSequence() {
  m_bRunning = true;
  m_bHaveFile = false;
  m_bFirstPass = true;
  m_bStillLoaded = false;
  m_bBitmapLoaded = false;
  m_nFindError = 0;
  const bool bSequence = m_Source.bSequence;
  bool result = true;

  if (!bSequence) {
    SetLoopFile(m_Source.sPath);
    // A still that is gone or is no regular file any more is said so; a
    // raw YUV file says so when it is opened.
    if (IsStillFileFormat(m_Source.eFileFormat) && !CheckSequenceFile()) {
      m_bRunning = false;
      return false;
    }
    if (!OpenInputFile(m_Source.sPath)) {
      m_bRunning = false;
      return false;
    }
  } else {
    BuildSearchPattern();
    if (!ListSequence()) {
      result = false;
    } else {
      m_bHaveFile = true;
      m_nFindError = 0;
    }
  }

  if (result && (!PrepareFrameBuffers() || !FillFrameNotice())) {
    result = false;
  }

  while (result && m_bRunning) {
    // A stop that came before this frame ends the loop without reading it.
    if (StopRaised()) {
      break;
    }
    if (!bSequence) {
      if (!ReadFrame()) {
        // The source has ended, read to its end or not (the file gone, a
        // decode that failed, another size, a read error): the session must
        // not wait for more frames of it.
        RaiseEnd();
        break;
      }
    } else {
      if (!m_bHaveFile) {
        RaiseEnd();
        break;
      }
      if (m_bFirstPass) {
        m_bFirstPass = false;
        if (!SkipToStartFile()) {
          RaiseEnd();
          break;
        }
      } else if (!NextSequenceFile()) {
        RaiseEnd();
        if (!m_bHaveFile) {
          break;
        }
      }
      if (!CheckSequenceFile() || !OpenInputFile(m_sLoopFile) || !ReadFrame()) {
        RaiseEnd();
        break;
      }
    }

    const bool bFilled = FillFrameNotice();
    if (bFilled && m_pFrameSlot != nullptr) {
      // Read straight into the owner's memory, laid out as m_YuvFrame.
      m_FrameNotice.pY = m_pFrameSlot;
      m_FrameNotice.pCb = m_pFrameSlot + (m_YuvFrame.pCb - m_YuvFrame.pBuffer);
      m_FrameNotice.pCr = m_pFrameSlot + (m_YuvFrame.pCr - m_YuvFrame.pBuffer);
    }
    if (bFilled && m_Delivery.pFrameCallback != nullptr) {
      const bool bStoppingBefore = StopRaised();
      if (!m_Delivery.pFrameCallback(m_Delivery.eSenderKind, m_Delivery.ePurpose, m_Delivery.nProcId,
                                     m_Delivery.pContext, &m_FrameNotice)) {
        // A frame refused because the channel is being stopped is no failure.
        if (!bStoppingBefore && !StopRaised()) {
          platform::ShowMessage(
              FormatText("Can not send video data to DPB: process ID %d", m_Delivery.nProcId));
        }
        RaiseStop();
      }
    }

    if (m_nFindError != 0) {
      m_bRunning = false;
      RaiseEnd();
    }
    if (StopRaised() || EndRaised()) {
      break;
    }
  }

  FreeFrameBuffers();
  CloseInputFile();
  if (bSequence) {
    m_SequenceFiles.clear();
    m_nSequenceNext = 0;
  }
  m_bRunning = false;
  return result;
}

void CReadStream::BuildSearchPattern() {
  const platform::TSplitPath parts = platform::SplitPath(m_Source.sPath);
  m_sSearchPattern = parts.folder + "*" + parts.extension;
}

// The files of the sequence's folder that match the pattern, in the folder's
// listing order (by name, letters regardless of case) or in the channel's
// sort order when one is chosen. Folders are never part of a sequence.
bool CReadStream::ListSequence() {
  m_SequenceFiles.clear();
  m_nSequenceNext = 0;
  std::vector<TFindData> entries;
  bool more = m_Finder.FindFile(m_sSearchPattern);
  const std::string root = m_Finder.GetRoot();
  while (more) {
    more = m_Finder.FindNextFile();
    // Only regular files are frames: a FIFO or a device carrying a
    // picture's name is never opened (it could block the reader).
    if (!m_Finder.IsDirectory() && platform::IsRegularFile(root + m_Finder.GetFileName())) {
      entries.push_back(TFindData{m_Finder.GetFileName(), false, m_Finder.GetLength()});
    }
  }
  const std::string folder = root;
  m_Finder.Close();
  if (entries.empty()) {
    return false;
  }
  switch (m_nSortMode.load()) {
    case SORT_BY_TEXT: std::stable_sort(entries.begin(), entries.end(), CompareNamesByText); break;
    case SORT_NATURAL: std::stable_sort(entries.begin(), entries.end(), CompareNamesNatural); break;
    default: break;
  }
  m_SequenceFiles.reserve(entries.size());
  for (const TFindData& entry : entries) {
    m_SequenceFiles.push_back(folder + entry.sName);
  }
  return true;
}

// Moves to the next file of the sequence. False when the sequence had no
// file left (have-file is then cleared) or when the file moved to is the
// last one (the find error is then set); the current file is the one moved
// to in both cases.
bool CReadStream::NextSequenceFile() {
  if (m_nFindError != 0 || m_nSequenceNext >= m_SequenceFiles.size()) {
    m_bHaveFile = false;
    return false;
  }
  SetLoopFile(m_SequenceFiles[m_nSequenceNext]);
  ++m_nSequenceNext;
  if (m_nSequenceNext == m_SequenceFiles.size()) {
    m_nFindError = kErrorNoMoreFiles;
    return false;
  }
  return true;
}

// The file the loop moves to (a still, or the next file of a sequence)
// must still be there and readable as a regular file before a decoder opens
// it; otherwise the user is told why, once, and the source ends.
bool CReadStream::CheckSequenceFile() {
  errno = 0;
  if (CanReadRegularFile(m_sLoopFile)) {
    return true;
  }
  const int error = errno;
  platform::ShowMessage(
      FormatText("Read sequence: Can not read %s: %s", m_sLoopFile.c_str(), UnreadableReason(error).c_str()));
  return false;
}

bool CReadStream::SkipToStartFile() {
  while (m_bHaveFile) {
    if (!NextSequenceFile()) {
      break;
    }
    if (m_sLoopFile == m_Source.sPath) {
      break;
    }
  }
  return m_bHaveFile;
}

bool CReadStream::OpenInputFile(const std::string& path) {
  const std::int32_t format = m_Source.eFileFormat;
  switch (format) {
    case FF_BMP: return true;
    case FF_GIF:
    case FF_JPEG:
    case FF_JPEG_GRAY:
    case FF_JP2:
    case FF_JPC:
    case FF_PNG:
    case FF_TIFF:
      m_CodecRequest.Clear();
      m_CodecRequest.eOp = MEDIA_OP_READ;
      m_CodecRequest.bSuccess = false;
      m_CodecRequest.ePixelFormat = m_Source.ePixelFormat;
      m_CodecRequest.pPath = &m_sLoopFile;
      m_CodecRequest.pFrameBuffer = &m_FrameBuffer;
      (void)path;  // the loop file is the path
      return true;
    default: break;
  }
  if (!IsYuvFileFormat(format)) {
    return false;
  }
  if (m_Source.bSequence) {
    return true;  // each file is read whole by name
  }
  if (m_pRawYuvFile != nullptr) {
    std::fclose(m_pRawYuvFile);
  }
  m_pRawYuvFile = nullptr;
  // Only a regular file can be read as frames; a folder, a FIFO or a device
  // of that name is refused at once (never waited on).
  m_pRawYuvFile = platform::OpenRegularFileStream(path);
  if (m_pRawYuvFile == nullptr) {
    platform::ShowMessage(
        FormatText("Open \"Read Sequence\" channel %d \n Can not open input file %s \n Reading from channel "
                   "has been disabled",
                   m_nChannel, path.c_str()));
    return false;
  }
  return true;
}

bool CReadStream::PrepareFrameBuffers() {
  const std::int32_t pf = m_Source.ePixelFormat;
  const auto prepareRgb = [this, pf](std::int32_t rowAlignment) {
    FreeFrameBuffer(&m_FrameBuffer);
    m_FrameBuffer.ePixelFormat = TPixelFormat{pf};
    m_FrameBuffer.nWidth = m_Source.nWidth;
    m_FrameBuffer.nHeight = m_Source.nHeight;
    m_FrameBuffer.nRowAlignment = rowAlignment;
    m_FrameBuffer.nHeightAlignment = 1;
    m_FrameBuffer.nFlag = 1;
    return AllocFrameBuffer(&m_FrameBuffer) && m_FrameBuffer.pBuffer != nullptr;
  };
  const auto prepareYuv = [this, pf](std::int32_t widthAlignment, std::int32_t heightAlignment) {
    FreeYuvFrame(&m_YuvFrame);
    m_YuvFrame.ePixelFormat = TPixelFormat{pf};
    m_YuvFrame.nWidth = m_Source.nWidth;
    m_YuvFrame.nHeight = m_Source.nHeight;
    m_YuvFrame.nWidthAlignment = widthAlignment;
    m_YuvFrame.nHeightAlignment = heightAlignment;
    return AllocYuvFrame(&m_YuvFrame) && m_YuvFrame.pBuffer != nullptr;
  };
  if (pf >= 18 && pf <= 20) {
    return prepareRgb(1);
  }
  if (pf == 22 || (pf >= 24 && pf <= 29)) {
    if (m_Source.eFileFormat == FF_BMP) {
      // A bitmap's rows are handed over from the bitmap itself; the frame
      // record only describes them (FillFrameNotice).
      FreeFrameBuffer(&m_FrameBuffer);
      return m_Source.nWidth > 0 && m_Source.nHeight > 0;
    }
    return prepareRgb(4);
  }
  if (pf == 42 || pf == 45 || (pf >= 51 && pf <= 53) || (pf >= 72 && pf <= 74)) {
    return prepareYuv(1, 1);
  }
  if (pf == 43 || pf == 46 || (pf >= 54 && pf <= 62) || (pf >= 75 && pf <= 83)) {
    return prepareYuv(2, 1);
  }
  if (pf == 44 || pf == 47 || (pf >= 63 && pf <= 71) || (pf >= 84 && pf <= 92)) {
    return prepareYuv(2, 2);
  }
  return false;
}

bool CReadStream::FillFrameNotice() {
  const std::int32_t pf = m_Source.ePixelFormat;
  const std::int32_t format = m_Source.eFileFormat;
  TMediaFrameNotice& notice = m_FrameNotice;
  notice = TMediaFrameNotice{};
  notice.ePixelFormat = TPixelFormat{pf};
  notice.nWidth = m_Source.nWidth;
  notice.nHeight = m_Source.nHeight;

  const auto describeRgb = [this, &notice](const TFrameBuffer& frame) {
    m_FrameHeader = Dib::TBitmapInfoHeader{};
    m_FrameHeader.biWidth = frame.nWidth;
    m_FrameHeader.biHeight = frame.nHeight;
    m_FrameHeader.biBitCount = static_cast<std::uint16_t>(frame.nBitsPerPixel);
    m_FrameHeader.biSizeImage = static_cast<std::uint32_t>(frame.nSize);
    notice.pRgbData = frame.pBuffer;
    notice.nRgbSize = frame.nSize;
    notice.pFrameRecord = const_cast<TFrameBuffer*>(&frame);
    notice.pHeader = &m_FrameHeader;
  };

  if (pf >= 18 && pf <= 20) {
    describeRgb(m_FrameBuffer);
    return true;
  }
  if (pf == 22 || (pf >= 24 && pf <= 29)) {
    const bool codec = format == FF_GIF || format == FF_JPEG || format == FF_JPEG_GRAY ||
                       (format >= FF_JP2 && format <= FF_TIFF);
    if (codec) {
      describeRgb(m_FrameBuffer);
      return true;
    }
    if (!m_bBitmapLoaded || !m_pBitmap) {
      return true;  // nothing loaded yet
    }
    // The bitmap's rows, described by a frame record that does not own them.
    m_BitmapFrame = TFrameBuffer{};
    m_BitmapFrame.ePixelFormat = TPixelFormat{pf};
    m_BitmapFrame.nWidth = m_pBitmap->Width();
    m_BitmapFrame.nHeight = m_pBitmap->Height();
    m_BitmapFrame.nRowAlignment = 4;
    m_BitmapFrame.nHeightAlignment = 1;
    if (!LayoutFrameBuffer(&m_BitmapFrame)) {
      return false;
    }
    if (static_cast<std::size_t>(m_BitmapFrame.nSize) > m_pBitmap->bits.size()) {
      return false;
    }
    m_BitmapFrame.pBuffer = m_pBitmap->bits.data();
    notice.pRgbData = m_BitmapFrame.pBuffer;
    notice.nRgbSize = m_BitmapFrame.nSize;
    notice.pFrameRecord = &m_BitmapFrame;
    m_FrameHeader = m_pBitmap->header;
    m_FrameHeader.biSizeImage = static_cast<std::uint32_t>(m_BitmapFrame.nSize);
    notice.pHeader = &m_FrameHeader;
    if (pf == 22 || pf == 24 || pf == 25) {
      notice.pColourTable = m_nColourTableSize > 0 ? m_ColourTable.data() : nullptr;
      notice.nColourTableSize = m_nColourTableSize;
    }
    return true;
  }
  if ((pf >= 42 && pf <= 47) || (pf >= 51 && pf <= 92)) {
    const TYuvFrameBuffer& yuv = m_YuvFrame;
    // Chroma planes as the frame lays them out: 4:4:4 keeps the full size,
    // 4:2:2 halves the width, 4:2:0 both.
    std::int32_t chromaWidth = yuv.nAlignedWidth;
    std::int32_t chromaHeight = yuv.nAlignedHeight;
    if (yuv.nChromaDivisor >= 2) {
      chromaWidth /= 2;
    }
    if (yuv.nChromaDivisor >= 4) {
      chromaHeight /= 2;
    }
    notice.nChromaWidth = chromaWidth;
    notice.nChromaHeight = chromaHeight;
    notice.pY = yuv.pBuffer;
    notice.pCb = yuv.pCb;
    notice.pCr = yuv.pCr;
    notice.nYSize = yuv.nYSize;
    notice.nCbSize = yuv.nCbSize;
    notice.nCrSize = yuv.nCrSize;
    notice.pPlanarRecord = const_cast<TYuvFrameBuffer*>(&m_YuvFrame);
    return true;
  }
  return true;
}

bool CReadStream::ReadFrame() {
  const std::int32_t format = m_Source.eFileFormat;
  switch (format) {
    case FF_BMP: return ReadBmpFrame();
    case FF_GIF:
    case FF_JPEG:
    case FF_JPEG_GRAY:
    case FF_JP2:
    case FF_JPC:
    case FF_PNG:
    case FF_TIFF: return ReadCodecFrame();
    default: break;
  }
  if (format >= 47 && format <= FF_YCBCR_LAST) {
    return m_Source.bSequence ? ReadYuvSequenceFrame() : ReadRawYuvFrame();
  }
  return false;
}

bool CReadStream::ReadCodecFrame() {
  if (!m_Source.bSequence && m_bStillLoaded) {
    return true;  // a single still is delivered again from its buffer
  }
  bool ok = false;
  switch (m_Source.eFileFormat) {
    case FF_GIF: ok = m_GifMgr.ReadGif(m_CodecRequest); break;
    case FF_JPEG:
    case FF_JPEG_GRAY: ok = m_JpegMgr.ReadJpeg(m_CodecRequest); break;
    case FF_JP2:
    case FF_JPC: ok = m_Jpeg2000Mgr.ReadJpeg2000(m_CodecRequest); break;
    case FF_PNG: ok = m_PngMgr.ReadPng(m_CodecRequest); break;
    case FF_TIFF: ok = m_TiffMgr.ReadTiff(m_CodecRequest); break;
    default: return false;
  }
  if (!ok) {
    return false;
  }
  if (m_CodecRequest.nWidth != m_Source.nWidth || m_CodecRequest.nHeight != m_Source.nHeight) {
    platform::ShowMessage(FormatText("Read sequence: Size of %s is different from the start image %s",
                                     m_sLoopFile.c_str(), m_Source.sPath.c_str()));
    return false;
  }
  // The buffer must hold the layout the channel was opened with; a decoder
  // that produced another one ends the source rather than hand over rows
  // the engine would misread.
  if (m_FrameBuffer.ePixelFormat != m_Source.ePixelFormat || m_FrameBuffer.pBuffer == nullptr) {
    return false;
  }
  m_bStillLoaded = true;
  return true;
}

bool CReadStream::ReadBmpFrame() {
  if (!m_Source.bSequence && m_bStillLoaded) {
    return true;
  }
  const std::string& path = m_Source.bSequence ? m_sLoopFile : m_Source.sPath;
  auto section = std::make_unique<Dib::TDibSection>();
  if (!Dib::ReadBmpFile(platform::PathFromUtf8(path), *section)) {
    return false;
  }
  m_pBitmap = std::move(section);
  m_bBitmapLoaded = true;
  if (m_pBitmap->Width() != m_Source.nWidth || m_pBitmap->Height() != m_Source.nHeight) {
    platform::ShowMessage(FormatText("Read sequence: Size of %s is different from the start bitmap %s",
                                     path.c_str(), m_Source.sPath.c_str()));
    return false;
  }
  const std::int32_t pf = m_Source.ePixelFormat;
  bool fits = false;
  switch (m_pBitmap->BitCount()) {
    case 1: fits = pf == PF_DIB_1; break;
    case 4: fits = pf == PF_DIB_4; break;
    case 8: fits = pf == PF_DIB_8; break;
    case 16: fits = pf == PF_DIB_16; break;
    case 24: fits = pf == PF_PACKED_24 || pf == PF_RGB24; break;
    case 32: fits = pf == PF_PACKED_32 || pf == PF_RGB32; break;
    default:
      platform::ShowMessage(FormatText("Read sequence: unsupported bitmap format %s", path.c_str()));
      return false;
  }
  if (!fits) {
    return false;
  }
  m_nColourTableSize = 0;
  const int bits = m_pBitmap->BitCount();
  if (bits <= 8) {
    std::size_t entries =
        m_pBitmap->header.biClrUsed != 0 ? m_pBitmap->header.biClrUsed : (std::size_t{1} << bits);
    entries = std::min({entries, m_pBitmap->colorTable.size(), std::size_t{256}});
    if (entries == 0) {
      return false;
    }
    // A logical palette: version 0x300, entry count, then red, green, blue, flags.
    m_ColourTable[0] = 0x00;
    m_ColourTable[1] = 0x03;
    m_ColourTable[2] = static_cast<std::uint8_t>(entries & 0xFF);
    m_ColourTable[3] = static_cast<std::uint8_t>(entries >> 8);
    for (std::size_t i = 0; i < entries; ++i) {
      const Dib::TRgbQuad& q = m_pBitmap->colorTable[i];
      m_ColourTable[4 + 4 * i] = q.rgbRed;
      m_ColourTable[4 + 4 * i + 1] = q.rgbGreen;
      m_ColourTable[4 + 4 * i + 2] = q.rgbBlue;
      m_ColourTable[4 + 4 * i + 3] = 0;
    }
    m_nColourTableSize = static_cast<std::int32_t>(4 + 4 * entries);
  }
  m_bStillLoaded = true;
  return true;
}

bool CReadStream::ReadRawYuvFrame() {
  if (m_pRawYuvFile == nullptr || m_YuvFrame.pBuffer == nullptr || m_YuvFrame.nTotalSize <= 0) {
    return false;
  }
  const std::size_t want = static_cast<std::size_t>(m_YuvFrame.nTotalSize);
  // The owner's slot when it takes the frame there: the frame crosses memory
  // once. Its planes must lie one behind the other, as the owner keeps them.
  m_pFrameSlot = nullptr;
  if (m_Delivery.pSlotCallback != nullptr && m_YuvFrame.pCb != nullptr && m_YuvFrame.pCr != nullptr &&
      m_YuvFrame.pCb == m_YuvFrame.pBuffer + m_YuvFrame.nYSize &&
      m_YuvFrame.pCr == m_YuvFrame.pCb + m_YuvFrame.nCbSize &&
      static_cast<std::int64_t>(m_YuvFrame.nYSize) + m_YuvFrame.nCbSize + m_YuvFrame.nCrSize ==
          m_YuvFrame.nTotalSize) {
    m_pFrameSlot = m_Delivery.pSlotCallback(m_Delivery.pContext, m_Delivery.nProcId, m_YuvFrame);
  }
  std::uint8_t* const target = m_pFrameSlot != nullptr ? m_pFrameSlot : m_YuvFrame.pBuffer;
  errno = 0;
  const std::size_t got = std::fread(target, 1, want, m_pRawYuvFile);
  if (got == want) {
    return true;
  }
  if (std::ferror(m_pRawYuvFile) != 0) {
    ReportFileError(errno);
    return false;
  }
  // The end of the file, or a last frame that is not whole: not delivered.
  RaiseEnd();
  return false;
}

bool CReadStream::ReadYuvSequenceFrame() {
  if (m_YuvFrame.pBuffer == nullptr || m_YuvFrame.nTotalSize <= 0) {
    return false;
  }
  // A file shorter than one frame would leave the previous frame's bytes
  // behind the ones it has: such a file ends the sequence instead.
  std::error_code ec;
  const auto size = std::filesystem::file_size(platform::PathFromUtf8(m_sLoopFile), ec);
  if (ec || size < static_cast<std::uintmax_t>(m_YuvFrame.nTotalSize)) {
    return false;
  }
  return ReadYuvFrameFile(platform::PathFromUtf8(m_sLoopFile), &m_YuvFrame);
}

void CReadStream::FreeFrameBuffers() {
  m_pFrameSlot = nullptr;
  FreeFrameBuffer(&m_FrameBuffer);
  FreeYuvFrame(&m_YuvFrame);
  m_BitmapFrame = TFrameBuffer{};
  m_FrameNotice = TMediaFrameNotice{};
  m_bStillLoaded = false;
}

bool CReadStream::CloseInputFile() {
  if (m_pRawYuvFile == nullptr) {
    return true;
  }
  errno = 0;
  const int rc = std::fclose(m_pRawYuvFile);
  m_pRawYuvFile = nullptr;
  if (rc != 0) {
    ReportFileError(errno);
    return false;
  }
  return true;
}

}  // namespace ReadStream
