#include "io/codecs/save_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "media/color_conversion.h"
#include "media/file_utils.h"
#include "platform/message_sink.h"

namespace ProcessingNode {

void CProcessingNode::ResetNode() {
  m_nInputCount = 0;
  m_nThreadsStarted = 0;
  m_nInputOrder.fill(0);
}

bool CProcessingNode::AddInput(std::int32_t nProcId) {
  if (nProcId < 0 || nProcId >= kProcIdCount || m_nInputOrder[static_cast<std::size_t>(nProcId)] != 0) {
    return false;
  }
  m_nInputOrder[static_cast<std::size_t>(nProcId)] = ++m_nInputCount;
  return true;
}

std::int32_t CProcessingNode::InputOrder(std::int32_t nProcId) const {
  if (nProcId < 0 || nProcId >= kProcIdCount) {
    return 0;
  }
  return m_nInputOrder[static_cast<std::size_t>(nProcId)];
}

}  // namespace ProcessingNode

namespace SaveStream {

using namespace ZarnTypes;

namespace {

// A message text with the channel number (%d) and an optional text (%s).
std::string Format(const char* format, std::int32_t number, const std::string& text = {}) {
  const int length = std::snprintf(nullptr, 0, format, number, text.c_str());
  if (length <= 0) {
    return format;
  }
  std::string out(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(out.data(), out.size(), format, number, text.c_str());
  out.resize(static_cast<std::size_t>(length));
  return out;
}

// Writes all of `size` bytes, going on after interruptions and short writes.
bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    if (written == 0) {
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// 32-bit pixels whose bit fields are not the usual blue, green, red bytes
// cannot be read as such.
bool HasPlainPixels(const Dib::TDibSection& picture) {
  if (picture.header.biCompression == Dib::BI_RGB) {
    return true;
  }
  return picture.header.biCompression == Dib::BI_BITFIELDS && picture.BitCount() == 32 &&
         picture.masks[0] == 0x00FF0000u && picture.masks[1] == 0x0000FF00u &&
         picture.masks[2] == 0x000000FFu;
}

}  // namespace

TEncoderSettings TStreamEncoderSettings::ToEncoderSettings(std::int32_t format) const {
  TEncoderSettings settings;
  settings.nValue = format;
  settings.nJpegQuality = nJpegQuality;
  settings.jpeg2000 = jpeg2000;
  settings.png = png;
  settings.gif = gif;
  settings.tiff = tiff;
  return settings;
}

TSaveStreamSession MakeSession(std::int32_t nChannel, void* pContext, std::atomic<bool>* pStopFlag,
                               std::atomic<bool>* pFinishFlag, std::atomic<bool>* pPauseFlag,
                               TMediaOwnerCallback pCallback, std::int32_t nWidth, std::int32_t nHeight,
                               TPixelFormat ePixelFormat) {
  TSaveStreamSession session;
  session.nProcId = kFirstRecorderProcId + nChannel;
  session.eSenderKind = MEDIA_SENDER_RECORDER;
  session.ePurpose = SRC_WRITE_STREAM;
  for (std::int32_t i = 0; i < kChannelCount; ++i) {
    session.nInputProcIds[static_cast<std::size_t>(i)] = kFirstReaderProcId + i;
  }
  session.nInputCount = kChannelCount;
  session.pContext = pContext;
  session.pStopFlag = pStopFlag;
  session.pFinishFlag = pFinishFlag;
  session.pPauseFlag = pPauseFlag;
  session.bFlag = 1;
  session.pCallback = pCallback;
  session.nWidth = nWidth;
  session.nHeight = nHeight;
  session.ePixelFormat = ePixelFormat;
  return session;
}

CSaveStream::CSaveStream(std::int32_t nChannel)
    : m_nChannel(nChannel), m_sExtension(GetDefaultExtension(FF_NULL_STREAM)) {}

CSaveStream::~CSaveStream() {
  {
    std::lock_guard<std::mutex> lock(m_FileLock);
    if (m_nFile >= 0) {
      ::close(m_nFile);
      m_nFile = -1;
    }
  }
  FreeFrameBuffer(&m_RgbFrame);
  FreeYuvFrame(&m_YuvFrame);
}

void CSaveStream::SetOutputFileFormat(std::int32_t eFileFormat) {
  m_eOutputFormat = static_cast<TFileFormat>(eFileFormat);
  m_eOutputStreamType = static_cast<TStreamType>(FileFormatToStreamType(eFileFormat));
}

bool CSaveStream::BuildSingleFileName() {
  return FileUtils::BuildNumberedFileName(m_sOutputFolder, m_sPrefix, m_sTitle, m_sExtension,
                                          m_sSingleFileName, m_bFirstNumber, !m_bSingleFile, m_nFirstWidth,
                                          m_nSessionNumber, m_nSecondWidth, 0);
}

const char* CSaveStream::GetOutputFileName(std::int32_t nFrameNumber) {
  if (m_bSingleFile) {
    return m_sSingleFileName.c_str();
  }
  // Every frame gets a name of its own: without the session number the
  // frame number takes its place, in the frame number's width.
  const bool ok = m_bFirstNumber ? FileUtils::BuildNumberedFileName(
                                       m_sOutputFolder, m_sPrefix, m_sTitle, m_sExtension, m_sLastName, true,
                                       true, m_nFirstWidth, m_nSessionNumber, m_nSecondWidth, nFrameNumber)
                                 : FileUtils::BuildNumberedFileName(m_sOutputFolder, m_sPrefix, m_sTitle,
                                                                    m_sExtension, m_sLastName, true, false,
                                                                    m_nSecondWidth, nFrameNumber, 0, 0);
  if (!ok) {
    return nullptr;
  }
  return m_sLastName.c_str();
}

bool CSaveStream::Open() {
  std::string message;
  const bool ok = OpenLocked(message);
  if (!message.empty()) {
    platform::ShowMessage(message);
  }
  return ok;
}

bool CSaveStream::OpenLocked(std::string& message) {
  std::lock_guard<std::mutex> lock(m_FileLock);
  if (m_bOpen.load() || m_nFile >= 0) {
    CloseLocked(message);
    message.clear();  // the earlier recording's close is not this open's fault
  }
  if (!m_bSingleFile) {
    return true;
  }
  const std::int32_t type = m_eOutputStreamType;
  switch (type) {
    case ST_AVI:
    case ST_ASF: return true;
    case ST_WMV:
      if (!m_bWindowsMedia) {
        return true;
      }
      [[fallthrough]];
    case ST_MNG:
      message = Format(type == ST_MNG ? "Recording channel %d into one MNG file is not available yet; "
                                        "the channel is not recorded"
                                      : "Recording channel %d with the Windows Media writer is not "
                                        "available yet; the channel is not recorded",
                       m_nChannel);
      return false;
    default: break;
  }
  const TPixelFormat layout = FileFormatToPixelFormat(m_eOutputFormat);
  if (!IsYuvType(type) || !IsYuvType(m_eOutputFormat) || GetYuvChromaDivisor(layout) == 0) {
    message = Format(
        "Recording channel %d into one file is not available for this output format; the channel is not "
        "recorded",
        m_nChannel);
    return false;
  }
  if (!OpenOutputFile(message)) {
    return false;
  }
  m_bRecording = true;
  m_bOpen = true;
  return true;
}

bool CSaveStream::OpenOutputFile(std::string& message) {
  // Opened without truncating and without waiting for a FIFO's other end,
  // then emptied only once it is known to be a regular file.
  int fd = -1;
  if (!m_sSingleFileName.empty()) {
    do {
      fd = ::open(m_sSingleFileName.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
  }
  bool ok = fd >= 0;
  if (ok) {
    struct stat info {};
    ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::ftruncate(fd, 0) == 0;
    if (ok) {
      const int flags = ::fcntl(fd, F_GETFL);
      ok = flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
    }
    if (!ok) {
      ::close(fd);
    }
  }
  if (!ok) {
    message = Format(
        "Open \"Save Sequence\" channel %d \n Can not open output file %s \n Saving for channel has been "
        "disabled",
        m_nChannel, m_sSingleFileName);
    return false;
  }
  m_nFile = fd;
  return true;
}

bool CSaveStream::Close() {
  std::string message;
  bool ok = true;
  {
    std::lock_guard<std::mutex> lock(m_FileLock);
    ok = CloseLocked(message);
  }
  if (!message.empty()) {
    platform::ShowMessage(message);
  }
  return ok;
}

bool CSaveStream::CloseLocked(std::string& message) {
  m_bOpen = false;
  m_bRecording = false;
  m_bPipelineRunning = false;
  return CloseOutputFile(message);
}

bool CSaveStream::CloseOutputFile(std::string& message) {
  if (m_nFile < 0) {
    return true;
  }
  const int fd = m_nFile;
  m_nFile = -1;
  // After close fails the descriptor is released all the same (Linux), so
  // it is never closed twice.
  if (::close(fd) != 0) {
    message =
        Format("The recording of channel %d could not be closed: %s", m_nChannel, std::strerror(errno)) +
        "\n" + m_sSingleFileName;
    return false;
  }
  return true;
}

bool CSaveStream::SetRecording(bool bRecording) {
  std::lock_guard<std::mutex> lock(m_FileLock);
  if (!m_bOpen.load()) {
    return false;
  }
  m_bRecording = bRecording;
  return true;
}

bool CSaveStream::WriteBitmapYuv(const Dib::TDibSection& bitmap) { return AppendPicture(bitmap, false); }

bool CSaveStream::WriteDibSectionYuv(const Dib::TDibSection& section) { return AppendPicture(section, true); }

bool CSaveStream::PushFrame(std::int32_t /*nProcId*/, const TMediaFrameNotice* /*pFrame*/) { return false; }

bool CSaveStream::AppendPicture(const Dib::TDibSection& picture, bool bNeedRecording) {
  const int bits = picture.BitCount();
  if ((bits != 24 && bits != 32) || !HasPlainPixels(picture)) {
    return false;
  }
  const int width = picture.Width();
  const int height = picture.Height();
  if (width <= 0 || height <= 0) {
    return false;
  }
  const std::size_t stride = picture.Stride();
  if (stride == 0 || picture.bits.size() / stride < static_cast<std::size_t>(height)) {
    return false;
  }
  const TPixelFormat layout = FileFormatToPixelFormat(m_eOutputFormat);
  if (GetYuvChromaDivisor(layout) == 0) {
    return false;
  }

  std::lock_guard<std::mutex> lock(m_FileLock);
  if (m_nFile < 0 || !m_bOpen.load() || (bNeedRecording && !m_bRecording.load())) {
    return false;
  }

  // The converter reads bottom-up rows: a bottom-up picture is read in
  // place, a top-down one is copied row by row into the recorder's buffer.
  const TPixelFormat rgbFormat = bits == 24 ? PF_RGB24 : PF_RGB32;
  TFrameBuffer source;
  if (!picture.TopDown()) {
    source.ePixelFormat = rgbFormat;
    source.nWidth = width;
    source.nHeight = height;
    source.nRowAlignment = 4;
    source.nHeightAlignment = 1;
    source.pBuffer = const_cast<std::uint8_t*>(picture.bits.data());
    if (!LayoutFrameBuffer(&source)) {
      return false;
    }
  } else {
    if (m_RgbFrame.pBuffer == nullptr || m_RgbFrame.ePixelFormat != rgbFormat || m_RgbFrame.nWidth != width ||
        m_RgbFrame.nHeight != height) {
      m_RgbFrame.ePixelFormat = rgbFormat;
      m_RgbFrame.nWidth = width;
      m_RgbFrame.nHeight = height;
      m_RgbFrame.nRowAlignment = 4;
      m_RgbFrame.nHeightAlignment = 1;
      if (!AllocFrameBuffer(&m_RgbFrame) || m_RgbFrame.pBuffer == nullptr) {
        FreeFrameBuffer(&m_RgbFrame);
        return false;
      }
    }
    const std::size_t rowBytes = static_cast<std::size_t>(m_RgbFrame.nStride);
    for (int y = 0; y < height; ++y) {
      // Memory row (height - 1 - y) of the bottom-up buffer is picture row y.
      std::memcpy(m_RgbFrame.pBuffer + static_cast<std::size_t>(height - 1 - y) * rowBytes,
                  picture.RowFromTop(y), std::min(rowBytes, stride));
    }
    source = m_RgbFrame;
  }

  if (m_YuvFrame.pBuffer == nullptr || m_YuvFrame.ePixelFormat != layout || m_YuvFrame.nWidth != width ||
      m_YuvFrame.nHeight != height) {
    FreeYuvFrame(&m_YuvFrame);
    m_YuvFrame.ePixelFormat = layout;
    m_YuvFrame.nWidth = width;
    m_YuvFrame.nHeight = height;
    m_YuvFrame.nWidthAlignment = 2;
    m_YuvFrame.nHeightAlignment = 2;
    if (!AllocYuvFrame(&m_YuvFrame) || m_YuvFrame.pBuffer == nullptr) {
      FreeYuvFrame(&m_YuvFrame);
      return false;
    }
    // The converter leaves the samples beyond an odd size alone: they are
    // written as zeros, the same in every frame.
    std::memset(m_YuvFrame.pBuffer, 0, static_cast<std::size_t>(m_YuvFrame.nTotalSize));
  }
  if (!ConvertRgbToYuv(source, m_YuvFrame)) {
    return false;
  }

  // Only whole frames stay in the file: a failed or short write is cut off.
  const off_t end = ::lseek(m_nFile, 0, SEEK_END);
  if (end < 0) {
    return false;
  }
  if (!WriteAll(m_nFile, m_YuvFrame.pBuffer, static_cast<std::size_t>(m_YuvFrame.nTotalSize))) {
    const int saved = errno;
    while (::ftruncate(m_nFile, end) != 0 && errno == EINTR) {
    }
    ::lseek(m_nFile, end, SEEK_SET);
    errno = saved;
    return false;
  }
  return true;
}

}  // namespace SaveStream
