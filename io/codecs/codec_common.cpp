#include "io/codecs/codec_common.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "platform/message_sink.h"

namespace Codecs {

using namespace ZarnTypes;

namespace {

// Lines of one kind shown for one call; the rest are summed up.
constexpr std::size_t kMaxShownLines = 10;

}  // namespace

bool ReadRegularFile(const std::string& path, std::vector<std::uint8_t>& out, std::uint64_t maxBytes) {
  out.clear();
  if (path.empty()) return false;
  std::FILE* file = platform::OpenRegularFileStream(path);
  if (!file) return false;
  bool ok = std::fseek(file, 0, SEEK_END) == 0;
  const long length = ok ? std::ftell(file) : -1;
  ok = length >= 0 && static_cast<std::uint64_t>(length) <= maxBytes && std::fseek(file, 0, SEEK_SET) == 0;
  if (ok) {
    out.resize(static_cast<std::size_t>(length));
    ok = length == 0 || std::fread(out.data(), 1, out.size(), file) == out.size();
  }
  std::fclose(file);
  if (!ok) out.clear();
  return ok;
}

bool SectionHoldsRows(const Dib::TDibSection& section) {
  if (section.Width() <= 0 || section.Height() <= 0 || section.BitCount() <= 0) return false;
  // Divided rather than multiplied: a crafted depth cannot wrap the product.
  const std::size_t stride = section.Stride();
  return stride > 0 && section.bits.size() / stride >= static_cast<std::size_t>(section.Height());
}

bool FrameHoldsRows(const TFrameBuffer* frame, std::int32_t height, std::int64_t rowBytes) {
  return frame && frame->pBuffer && frame->nStride >= rowBytes &&
         std::int64_t{frame->nStride} * height <= std::int64_t{frame->nSize};
}

Dib::TDibPtr WidenToRgb32(const Dib::TDibSection& bitmap) {
  if (bitmap.BitCount() != 24 || !SectionHoldsRows(bitmap)) return nullptr;
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  Dib::TDibPtr wide = Dib::CreateDibSectionPal(width, height, 32, nullptr);
  if (!wide) return nullptr;
  // Both sections are described as frames over their own rows; row i of the
  // copy is row i of the original.
  TFrameBuffer source;
  source.ePixelFormat = PF_RGB24;
  source.nWidth = width;
  source.nHeight = height;
  source.nRowAlignment = 4;
  source.nHeightAlignment = 1;
  TFrameBuffer target = source;
  target.ePixelFormat = PF_RGB32;
  if (!LayoutFrameBuffer(&source) || !LayoutFrameBuffer(&target) ||
      static_cast<std::size_t>(target.nSize) > wide->bits.size())
    return nullptr;
  source.pBuffer = const_cast<std::uint8_t*>(bitmap.bits.data());
  target.pBuffer = wide->bits.data();
  if (!Dib::ConvertRgb24ToRgb32(source, target)) return nullptr;
  // The rows kept their order, so the copy runs the same way as the original.
  if (bitmap.TopDown()) wide->header.biHeight = -height;
  return wide;
}

bool CopyToBottomUpFrame(const Dib::TDibSection& bitmap, TFrameBuffer& frame) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  frame.ePixelFormat = PF_RGB32;
  frame.nWidth = width;
  frame.nHeight = height;
  frame.nRowAlignment = 4;
  frame.nHeightAlignment = 1;
  frame.nFlag = 1;
  if (!AllocFrameBuffer(&frame)) return false;
  std::memset(frame.pBuffer, 0, static_cast<std::size_t>(frame.nSize));
  for (int y = 0; y < height; ++y)
    std::memcpy(frame.pBuffer + std::int64_t{height - 1 - y} * frame.nStride, bitmap.RowFromTop(y),
                static_cast<std::size_t>(width) * 4);
  return true;
}

bool PrepareFrame(TFrameBuffer* frame, TPixelFormat format, std::int32_t width, std::int32_t height,
                  std::int32_t flag) {
  if (!frame) return false;
  const std::int64_t rowBytes = (std::int64_t{width} * GetPixelFormatBitsPerPixel(format) + 7) / 8;
  if (frame->pBuffer && frame->ePixelFormat == format && frame->nRowAlignment == 4 &&
      frame->nHeightAlignment == 1 && frame->nWidth == width && frame->nHeight == height &&
      FrameHoldsRows(frame, height, rowBytes))
    return true;
  FreeFrameBuffer(frame);
  frame->ePixelFormat = format;
  frame->nWidth = width;
  frame->nHeight = height;
  frame->nRowAlignment = 4;
  frame->nHeightAlignment = 1;
  frame->nFlag = flag;
  if (!AllocFrameBuffer(frame)) return false;
  // New storage starts cleared: bytes a decoder leaves alone (the fourth byte
  // of a pixel, row padding) are 0 rather than whatever the heap held.
  std::memset(frame->pBuffer, 0, static_cast<std::size_t>(frame->nSize));
  return true;
}

void DescribeFrame(TMediaRequest& request, const TFrameBuffer& frame) {
  request.nWidth = frame.nWidth;
  request.nHeight = frame.nHeight;
  request.nStride = frame.nStride;
  request.pPixels = frame.pBuffer;
  request.nSize = frame.nSize;
}

// ---------------------------------------------------------------------------

void TCallMessages::Show() const {
  if (!m_own.shown.empty()) platform::ShowMessage(Join(m_own));
  if (!m_errors.shown.empty())
    platform::ShowMessage(Join(m_errors), m_errors.shown.front().source + " Error",
                          platform::MB_OK | platform::MB_ICONEXCLAMATION);
  if (!m_warnings.shown.empty())
    platform::ShowMessage(Join(m_warnings), m_warnings.shown.front().source + " Warning",
                          platform::MB_OK | platform::MB_ICONINFORMATION);
}

void TCallMessages::Log() const {
  for (const TLine& line : m_own.shown) std::fprintf(stderr, "%s\n", line.text.c_str());
  if (m_own.dropped) std::fprintf(stderr, "...\n");
  for (const TLine& line : m_errors.shown) LogLibraryMessage(line.source, true, line.text);
  if (m_errors.dropped) std::fprintf(stderr, "...\n");
  for (const TLine& line : m_warnings.shown) LogLibraryMessage(line.source, false, line.text);
  if (m_warnings.dropped) std::fprintf(stderr, "...\n");
}

void LogLibraryMessage(const std::string& source, bool error, const std::string& text) {
  std::string line = source + (error ? " error: " : " warning: ") + text;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  line += '\n';
  std::fputs(line.c_str(), stderr);
}

void TCallMessages::Add(TLines& lines, std::string source, std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.empty()) return;
  TLine line{std::move(source), std::move(text)};
  if (std::find(lines.shown.begin(), lines.shown.end(), line) != lines.shown.end()) return;
  if (lines.shown.size() < kMaxShownLines)
    lines.shown.push_back(std::move(line));
  else
    ++lines.dropped;
}

std::string TCallMessages::Join(const TLines& lines) {
  std::string text;
  for (const TLine& line : lines.shown) {
    if (!text.empty()) text += '\n';
    if (line.source != lines.shown.front().source) text += line.source + ": ";
    text += line.text;
  }
  if (lines.dropped) text += "\n...";
  return text;
}

}  // namespace Codecs
