// Feeds raw YUV settings and a frame to the conversion the program makes of
// a raw YUV file's first frame (the file dialog's preview, a raw YUV still):
// 4 bytes file format, 4 bytes width, 4 bytes height, 1 byte width and 1
// byte height alignment, then the frame's bytes. The settings must be
// refused or laid out within their buffer, and the conversion to 32-bit RGB
// must stay inside both frames.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "media/color_conversion.h"
#include "media/frame_buffer.h"
#include "media/yuv_frame.h"

namespace {

// Frames up to this size are converted; larger ones are only laid out.
constexpr std::int64_t kFuzzMaxFrameBytes = 8 << 20;

std::int32_t Le32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                   std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::SilenceMessages();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ZarnTypes;
  if (size < 14) return 0;
  TYuvFrameBuffer yuv;
  yuv.ePixelFormat = FileFormatToPixelFormat(Le32(data));
  yuv.nWidth = Le32(data + 4);
  yuv.nHeight = Le32(data + 8);
  yuv.nWidthAlignment = data[12];
  yuv.nHeightAlignment = data[13];
  data += 14;
  size -= 14;
  if (yuv.ePixelFormat == TPixelFormat{0}) return 0;
  // The layout alone first: any settings, however large, are checked.
  TYuvFrameBuffer layout = yuv;
  if (!LayoutYuvFrame(&layout)) return 0;
  if (layout.nTotalSize < 0 || layout.nYSize < 0) __builtin_trap();
  if (std::int64_t{layout.nTotalSize} > kFuzzMaxFrameBytes) return 0;
  if (!AllocYuvFrame(&yuv)) return 0;
  // A short frame fills what it has; the rest stays zero, as from a short file.
  std::memset(yuv.pBuffer, 0, static_cast<std::size_t>(yuv.nTotalSize));
  std::memcpy(yuv.pBuffer, data, std::min<std::size_t>(size, static_cast<std::size_t>(yuv.nTotalSize)));

  TFrameBuffer rgb;
  rgb.ePixelFormat = PF_RGB32;
  rgb.nWidth = yuv.nWidth;
  rgb.nHeight = yuv.nHeight;
  rgb.nRowAlignment = 4;
  rgb.nHeightAlignment = 1;
  if (AllocFrameBuffer(&rgb) && ConvertYuvToRgb(yuv, rgb)) {
    volatile std::uint8_t sum = 0;
    for (std::int32_t i = 0; i < rgb.nSize; i += 61) sum = static_cast<std::uint8_t>(sum + rgb.pBuffer[i]);
    sum = static_cast<std::uint8_t>(sum + rgb.pBuffer[rgb.nSize - 1]);
  }
  FreeFrameBuffer(&rgb);
  FreeYuvFrame(&yuv);
  return 0;
}
