#pragma once
// Pictures, frames and reads shared by the codec tests.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "io/media_request.h"
#include "media/dib.h"
#include "media/frame_buffer.h"

namespace tovrin_test {

// A colour with alpha, as the tests write and read it.
struct TPixel {
  int r = 0, g = 0, b = 0, a = 0;
  bool SameColour(const TPixel& o) const { return r == o.r && g == o.g && b == o.b; }
};

// A colour without alpha, ordered so that sets of colours can be made.
struct TRgb {
  int r = 0, g = 0, b = 0;
  auto operator<=>(const TRgb&) const = default;
};

// A 24- or 32-bit section, bottom-up unless topDown, whose pixel (x, y from
// the top) is fn(x, y); the fourth byte of a 32-bit pixel is the alpha.
Dib::TDibSection MakeSection(int w, int h, const std::function<TPixel(int, int)>& fn, bool topDown = false,
                             int bits = 32);

// Pixel (x, y from the top) of a 24- or 32-bit section (alpha 0 for 24 bits).
TPixel SectionPixel(const Dib::TDibSection& s, int x, int y);

// Pixel (x, y from the top) of a bottom-up 32-bit frame.
TPixel FramePixel(const ZarnTypes::TFrameBuffer& f, int x, int y);

// PSNR over red, green and blue of a decoded frame against the section it
// was made from (the section's size counts).
double ColourPsnr(const Dib::TDibSection& picture, const ZarnTypes::TFrameBuffer& frame);

// `count` different colours in an order drawn from `seed`.
std::vector<TRgb> RandomColours(std::size_t count, unsigned seed);

// A frame record of the format and size with rows aligned to 4 bytes and
// height alignment 1, neither laid out nor allocated.
ZarnTypes::TFrameBuffer FrameRecord(ZarnTypes::TPixelFormat format, int width, int height);

// A read request for the file at `path` (kept by the caller) into `frame`,
// with the target pixel format and the result block, when given.
ZarnTypes::TMediaRequest ReadRequest(const std::string& path, ZarnTypes::TPixelFormat target,
                                     ZarnTypes::TFrameBuffer& frame, void* results = nullptr);

// An owned frame buffer released at scope exit.
struct TOwnedFrame {
  ZarnTypes::TFrameBuffer fb{};
  TOwnedFrame() = default;
  TOwnedFrame(const TOwnedFrame&) = delete;
  TOwnedFrame& operator=(const TOwnedFrame&) = delete;
  ~TOwnedFrame() { ZarnTypes::FreeFrameBuffer(&fb); }
};

// The outcome of a file read into a 32-bit frame; every field of the result
// block starts as `fill`.
struct TDecoded {
  bool ok = false;
  ZarnTypes::TMediaRequestError error = ZarnTypes::MEDIA_ERR_NONE;
  ZarnTypes::TFrameBuffer frame;
  std::int32_t results[ZarnTypes::kMediaResultBlockSize / 4];
  explicit TDecoded(std::int32_t fill = 0);
  TDecoded(const TDecoded&) = delete;
  TDecoded& operator=(const TDecoded&) = delete;
  ~TDecoded() { ZarnTypes::FreeFrameBuffer(&frame); }
};

// Reads the file at `path` into `out` through `read` with a PF_RGB32 read
// request; a successful read must describe the frame it filled: its width,
// height and pixels, rows of 4 x width bytes, and all of its rows.
void ReadPicture(const std::filesystem::path& path, TDecoded& out,
                 const std::function<bool(ZarnTypes::TMediaRequest&)>& read);

}  // namespace tovrin_test
