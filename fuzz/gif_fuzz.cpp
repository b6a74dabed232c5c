// Feeds arbitrary bytes to the GIF reader. Whatever it accepts must be a
// consistent 32-bit picture of the logical screen's size, read the same a
// second time into the same buffer, and quantize and map onto an 8-bit
// palette section; whatever it refuses must carry the read error.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "io/codecs/gif_mgr.h"
#include "io/codecs/quantizer.h"
#include "media/dib.h"
#include "media/frame_buffer.h"

namespace {

using namespace ZarnTypes;

// Screens larger than this are skipped: they only cost memory here.
constexpr std::int64_t kMaxScreenPixels = std::int64_t{4} << 20;

void CheckQuantizable(const TFrameBuffer& frame) {
  if (std::int64_t{frame.nWidth} * frame.nHeight > (std::int64_t{1} << 16)) return;
  Dib::TDibSection picture;
  picture.header.biWidth = frame.nWidth;
  picture.header.biHeight = frame.nHeight;
  picture.header.biBitCount = 32;
  picture.bits.assign(frame.pBuffer, frame.pBuffer + frame.nSize);
  Quantizer::CQuantizer quantizer;
  auto palette = quantizer.QuantizeToPalette(picture, 256, 6);
  if (!palette || palette->entries.empty() || palette->entries.size() > 256) std::abort();
  Dib::TDibPtr target = Dib::CreateDibSectionPal(frame.nWidth, frame.nHeight, 8, palette.get());
  if (!target || !quantizer.MapToPalette(picture, *target, palette.get())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size >= 10) {
    const std::int64_t width = data[6] | (data[7] << 8);
    const std::int64_t height = data[8] | (data[9] << 8);
    if (width * height > kMaxScreenPixels) return 0;
  }

  GifMgr::CGifMgr gif;
  fuzz_support::TReadRequest read(PF_RGB32);
  TFrameBuffer& frame = read.frame;
  const std::int32_t* results = read.results;
  TMediaRequest& request = read.request;
  const bool ok = gif.ReadGifMemory(data, size, request);
  if (!ok) {
    if (request.bSuccess || request.eError != MEDIA_ERR_READ_GIF) std::abort();
    return 0;
  }
  if (!request.bSuccess || frame.pBuffer == nullptr || frame.ePixelFormat != PF_RGB32 ||
      request.nWidth != (data[6] | (data[7] << 8)) || request.nHeight != (data[8] | (data[9] << 8)) ||
      frame.nStride != frame.nWidth * 4 || frame.nSize != frame.nStride * frame.nHeight ||
      request.pPixels != frame.pBuffer || request.nSize != frame.nSize ||
      results[GifMgr::kResultImageCount] < 1)
    std::abort();

  // A second read reuses the buffer and gives the same picture (the fourth
  // byte of each pixel is not the reader's, so it is set the same first).
  for (std::int32_t i = 3; i < frame.nSize; i += 4) frame.pBuffer[i] = 0;
  const std::vector<std::uint8_t> first(frame.pBuffer, frame.pBuffer + frame.nSize);
  std::uint8_t* storage = frame.pBuffer;
  TMediaRequest again = request;
  if (!gif.ReadGifMemory(data, size, again) || frame.pBuffer != storage ||
      std::memcmp(first.data(), frame.pBuffer, first.size()) != 0)
    std::abort();

  CheckQuantizable(frame);
  return 0;
}
