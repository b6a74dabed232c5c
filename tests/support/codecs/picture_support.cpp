#include "tests/support/codecs/picture_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <random>
#include <set>
#include <string>

namespace tovrin_test {

using namespace ZarnTypes;

Dib::TDibSection MakeSection(int w, int h, const std::function<TPixel(int, int)>& fn, bool topDown,
                             int bits) {
  Dib::TDibSection s;
  s.header.biWidth = w;
  s.header.biHeight = topDown ? -h : h;
  s.header.biBitCount = static_cast<std::uint16_t>(bits);
  s.bits.assign(s.Stride() * h, 0);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = s.RowFromTop(y);
    for (int x = 0; x < w; ++x) {
      const TPixel p = fn(x, y);
      std::uint8_t* px = row + x * (bits / 8);
      px[0] = static_cast<std::uint8_t>(p.b);
      px[1] = static_cast<std::uint8_t>(p.g);
      px[2] = static_cast<std::uint8_t>(p.r);
      if (bits == 32) px[3] = static_cast<std::uint8_t>(p.a);
    }
  }
  return s;
}

TPixel SectionPixel(const Dib::TDibSection& s, int x, int y) {
  const std::uint8_t* px = s.RowFromTop(y) + x * (s.BitCount() / 8);
  return {px[2], px[1], px[0], s.BitCount() == 32 ? px[3] : 0};
}

TPixel FramePixel(const TFrameBuffer& f, int x, int y) {
  const std::uint8_t* px = f.pBuffer + static_cast<std::size_t>(f.nHeight - 1 - y) * f.nStride + 4 * x;
  return {px[2], px[1], px[0], px[3]};
}

double ColourPsnr(const Dib::TDibSection& picture, const TFrameBuffer& frame) {
  const int w = picture.Width(), h = picture.Height();
  double squared = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const TPixel a = SectionPixel(picture, x, y), b = FramePixel(frame, x, y);
      squared += (a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b);
    }
  return 10 * std::log10(255.0 * 255.0 / (squared / (w * h * 3) + 1e-9));
}

std::vector<TRgb> RandomColours(std::size_t count, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> d(0, 255);
  std::set<TRgb> set;
  while (set.size() < count) set.insert({d(gen), d(gen), d(gen)});
  std::vector<TRgb> out(set.begin(), set.end());
  std::shuffle(out.begin(), out.end(), gen);
  return out;
}

TFrameBuffer FrameRecord(TPixelFormat format, int width, int height) {
  TFrameBuffer frame{};
  frame.ePixelFormat = format;
  frame.nWidth = width;
  frame.nHeight = height;
  frame.nRowAlignment = 4;
  frame.nHeightAlignment = 1;
  return frame;
}

TMediaRequest ReadRequest(const std::string& path, TPixelFormat target, TFrameBuffer& frame, void* results) {
  TMediaRequest request{};
  request.eOp = MEDIA_OP_READ;
  request.ePixelFormat = target;
  request.pPath = &path;
  request.pFrameBuffer = &frame;
  request.pResults = results;
  return request;
}

TDecoded::TDecoded(std::int32_t fill) { std::fill(std::begin(results), std::end(results), fill); }

void ReadPicture(const std::filesystem::path& path, TDecoded& out,
                 const std::function<bool(TMediaRequest&)>& read) {
  const std::string p = path.string();
  TMediaRequest request = ReadRequest(p, PF_RGB32, out.frame, out.results);
  out.ok = read(request);
  out.error = request.eError;
  if (out.ok) {
    EXPECT_TRUE(request.bSuccess);
    EXPECT_EQ(request.nWidth, out.frame.nWidth);
    EXPECT_EQ(request.nHeight, out.frame.nHeight);
    EXPECT_EQ(request.pPixels, out.frame.pBuffer);
    EXPECT_EQ(request.nStride, out.frame.nWidth * 4);
    EXPECT_EQ(request.nSize, out.frame.nWidth * out.frame.nHeight * 4);
  }
}

}  // namespace tovrin_test
