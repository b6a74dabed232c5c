// Colour conversion between RGB and YCbCr.
//
// The converters are checked bit for bit against a plain scalar reference
// written here from the 16.16 formulas (its own coefficient tables, one pixel
// at a time), for every layout, range, siting, YUY2, odd sizes and padded
// strides, and with every kernel family the processor offers. Known colours
// are checked against the ideal (floating-point) definitions of the
// standards, and guard bytes prove that nothing is written outside a row or
// a plane.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "media/color_conversion.h"
#include "media/color_kernels.h"
#include "media/dib.h"
#include "media/file_types.h"
#include "media/frame_buffer.h"
#include "media/yuv_frame.h"

namespace {

using namespace ZarnTypes;
using ImageColorConversion::CImageColorConversion;
using ImageColorConversion::detail::TColorKernel;

// ---------------------------------------------------------------------------
// Reference: the formulas, one pixel at a time.

// entry i = trunc(k x (i - o) x 65,536)
std::int32_t RefEntry(double k, std::int32_t i, std::int32_t o) {
  return static_cast<std::int32_t>(std::trunc(k * (i - o) * 65536.0));
}

struct TRefInverse {
  double luma, blueCb, greenCb, greenCr, redCr;
  std::int32_t lumaOffset, chromaOffset;
};

// By matrix-range code 1..6.
const TRefInverse kRefInverse[6] = {
    {1.0, 1.772, -0.344136, -0.714136, 1.402, 0, 128},
    {1.066946, 1.890628, -0.367175, -0.761945, 1.495858, 16, 136},
    {1.164384, 2.017232, -0.391762, -0.812968, 1.596027, 16, 128},
    {1.0, 1.8556, -0.187324, -0.468124, 1.5748, 0, 128},
    {1.066946, 1.979824, -0.199865, -0.499463, 1.680226, 16, 136},
    {1.164384, 2.112402, -0.213249, -0.532909, 1.792741, 16, 128},
};

struct TRefForward {
  double y[3], cb[3], cr[3];  // from R, G, B
  std::int32_t yOffset, yMin, yMax, cOffset, cMin, cMax;
};

const TRefForward kRefForward[6] = {
    {{0.299, 0.587, 0.114}, {-0.168736, -0.331264, 0.5}, {0.5, -0.418688, -0.081312}, 0, 0, 255, 128, 0, 255},
    {{0.280239, 0.550169, 0.106847},
     {-0.158149, -0.310479, 0.468627},
     {0.468627, -0.392417, -0.07621},
     16,
     16,
     255,
     136,
     16,
     255},
    {{0.256788, 0.504129, 0.097906},
     {-0.148223, -0.290993, 0.439216},
     {0.439216, -0.367788, -0.071427},
     16,
     16,
     235,
     128,
     16,
     240},
    {{0.2126, 0.7152, 0.0722},
     {-0.114572, -0.385428, 0.5},
     {0.5, -0.454153, -0.045847},
     0,
     0,
     255,
     128,
     0,
     255},
    {{0.19926, 0.670325, 0.06767},
     {-0.107383, -0.361244, 0.468627},
     {0.468627, -0.425657, -0.04297},
     16,
     16,
     255,
     136,
     16,
     255},
    {{0.182586, 0.614231, 0.062007},
     {-0.100644, -0.338572, 0.439216},
     {0.439216, -0.398942, -0.040274},
     16,
     16,
     235,
     128,
     16,
     240},
};

std::uint8_t Clamp(std::int64_t v, std::int64_t lo = 0, std::int64_t hi = 255) {
  return static_cast<std::uint8_t>(std::min(hi, std::max(lo, v)));
}

// floor(v / 65,536) for any sign.
std::int64_t Shift16(std::int64_t v) { return v >= 0 ? v / 65536 : -((-v + 65535) / 65536); }

struct TRgb {
  std::uint8_t b, g, r;
};

TRgb RefInversePixel(std::int32_t code, std::int32_t y, std::int32_t cb, std::int32_t cr) {
  const TRefInverse& k = kRefInverse[code - 1];
  const std::int64_t luma = RefEntry(k.luma, y, k.lumaOffset);
  const std::int64_t o = k.chromaOffset;
  return TRgb{Clamp(Shift16(32768 + luma + RefEntry(k.blueCb, cb, o))),
              Clamp(Shift16(32768 + luma + RefEntry(k.greenCb, cb, o) + RefEntry(k.greenCr, cr, o))),
              Clamp(Shift16(32768 + luma + RefEntry(k.redCr, cr, o)))};
}

// Unclamped, rounded components of one pixel.
struct TYcc {
  std::int64_t y, cb, cr;
};

TYcc RefForwardPixel(std::int32_t code, TRgb px) {
  const TRefForward& k = kRefForward[code - 1];
  const auto sum = [&](const double* c, std::int32_t offset) {
    return Shift16(std::int64_t{offset} * 65536 + 32768 + RefEntry(c[0], px.r, 0) + RefEntry(c[1], px.g, 0) +
                   RefEntry(c[2], px.b, 0));
  };
  return TYcc{sum(k.y, k.yOffset), sum(k.cb, k.cOffset), sum(k.cr, k.cOffset)};
}

std::int32_t BytesPerPixel(const TFrameBuffer& f) { return f.ePixelFormat == PF_RGB32 ? 4 : 3; }

// Picture row r (top row 0) of a bottom-up RGB frame.
std::uint8_t* RgbRow(const TFrameBuffer& f, std::int32_t r) {
  return f.pBuffer + static_cast<std::ptrdiff_t>(f.nStride) * (f.nHeight - 1 - r);
}

TRgb RgbAt(const TFrameBuffer& f, std::int32_t r, std::int32_t x) {
  const std::uint8_t* p = RgbRow(f, r) + x * BytesPerPixel(f);
  return TRgb{p[0], p[1], p[2]};
}

// The geometry of a planar frame by its sampling-siting code.
struct TGeometry {
  std::int32_t chromaStride, chromaPlaneRows, chromaColumns, chromaRows;
};

TGeometry Geometry(const TYuvFrameBuffer& f, std::int32_t siting) {
  TGeometry g{};
  const bool full = siting == 1;
  const bool pairs = siting >= 5;
  g.chromaStride = full ? f.nAlignedWidth : f.nAlignedWidth / 2;
  g.chromaPlaneRows = pairs ? f.nAlignedHeight / 2 : f.nAlignedHeight;
  g.chromaColumns = full ? f.nWidth : std::min((f.nWidth + 1) / 2, g.chromaStride);
  g.chromaRows = pairs ? std::min((f.nHeight + 1) / 2, g.chromaPlaneRows) : f.nHeight;
  return g;
}

// The reference YUV -> RGB conversion, writing the picture bytes of `dst`.
void RefYuvToRgb(const TYuvFrameBuffer& src, TFrameBuffer& dst) {
  const std::int32_t code = GetYuvMatrixRangeCode(src.ePixelFormat);
  const std::int32_t neutral = kRefInverse[code - 1].chromaOffset;
  const std::int32_t w = src.nWidth;
  const std::int32_t h = src.nHeight;
  for (std::int32_t r = 0; r < h; ++r) {
    for (std::int32_t x = 0; x < w; ++x) {
      std::int32_t y = 0;
      std::int32_t cb = neutral;
      std::int32_t cr = neutral;
      if (src.ePixelFormat == PF_YUY2) {
        const std::uint8_t* row = src.pBuffer + std::ptrdiff_t{2} * w * r;
        const std::int32_t k = x / 2;
        y = row[2 * x];
        cb = row[4 * k + 1];
        if (4 * k + 3 < 2 * w) {
          cr = row[4 * k + 3];
        } else if (k > 0) {
          cr = row[4 * k - 1];
        }
      } else {
        const std::int32_t siting = GetYuvSubsamplingSiting(src.ePixelFormat);
        const TGeometry g = Geometry(src, siting);
        y = src.pBuffer[std::ptrdiff_t{r} * src.nAlignedWidth + x];
        if (g.chromaColumns > 0 && g.chromaRows > 0) {
          const std::int32_t j = std::min(siting >= 5 ? r / 2 : r, g.chromaRows - 1);
          const auto sample = [&](const std::uint8_t* plane, std::int32_t k) -> std::int32_t {
            return plane[std::ptrdiff_t{j} * g.chromaStride + std::min(k, g.chromaColumns - 1)];
          };
          const auto value = [&](const std::uint8_t* plane) -> std::int32_t {
            const std::int32_t k = x / 2;
            switch (siting) {
              case 1: return sample(plane, x);
              case 2:
              case 5: return x % 2 == 0 ? sample(plane, k) : (sample(plane, k) + sample(plane, k + 1)) / 2;
              case 3:
              case 6:
                if (x % 2 == 1 || x == 0) return sample(plane, k);
                return (sample(plane, k - 1) + sample(plane, k)) / 2;
              default: return sample(plane, k);
            }
          };
          cb = value(src.pCb);
          cr = value(src.pCr);
        }
      }
      const TRgb px = RefInversePixel(code, y, cb, cr);
      std::uint8_t* out = RgbRow(dst, r) + x * BytesPerPixel(dst);
      out[0] = px.b;
      out[1] = px.g;
      out[2] = px.r;
      if (BytesPerPixel(dst) == 4) out[3] = 0;
    }
  }
}

// The reference RGB -> YUV conversion, writing the picture samples of `dst`.
void RefRgbToYuv(const TFrameBuffer& src, TYuvFrameBuffer& dst) {
  const std::int32_t code = GetYuvMatrixRangeCode(dst.ePixelFormat);
  const std::int32_t siting = GetYuvSubsamplingSiting(dst.ePixelFormat);
  const TRefForward& k = kRefForward[code - 1];
  const TGeometry g = Geometry(dst, siting);
  const std::int32_t w = dst.nWidth;
  const std::int32_t h = dst.nHeight;
  const auto at = [&](std::int32_t r, std::int32_t x) { return RefForwardPixel(code, RgbAt(src, r, x)); };
  for (std::int32_t r = 0; r < h; ++r) {
    for (std::int32_t x = 0; x < w; ++x) {
      dst.pBuffer[std::ptrdiff_t{r} * dst.nAlignedWidth + x] = Clamp(at(r, x).y, k.yMin, k.yMax);
    }
  }
  for (std::int32_t j = 0; j < g.chromaRows; ++j) {
    for (std::int32_t c = 0; c < g.chromaColumns; ++c) {
      std::int64_t cb = 0;
      std::int64_t cr = 0;
      if (siting == 1) {
        cb = at(j, c).cb;
        cr = at(j, c).cr;
      } else {
        const std::int32_t even = 2 * c;
        const std::int32_t odd = std::min(even + 1, w - 1);
        const std::int32_t upper = siting >= 5 ? 2 * j : j;
        const std::int32_t lower = siting >= 5 ? std::min(upper + 1, h - 1) : upper;
        const TYcc a = at(upper, even), b = at(upper, odd), d = at(lower, even), e = at(lower, odd);
        switch (siting) {
          case 2:
            cb = a.cb;
            cr = a.cr;
            break;
          case 3:
            cb = b.cb;
            cr = b.cr;
            break;
          case 4:
            cb = (a.cb + b.cb) >> 1;
            cr = (a.cr + b.cr) >> 1;
            break;
          case 5:
            cb = (a.cb + d.cb) >> 1;
            cr = (a.cr + d.cr) >> 1;
            break;
          case 6:
            cb = (b.cb + e.cb) >> 1;
            cr = (b.cr + e.cr) >> 1;
            break;
          default:
            cb = (a.cb + b.cb + d.cb + e.cb) >> 2;
            cr = (a.cr + b.cr + d.cr + e.cr) >> 2;
            break;
        }
      }
      dst.pCb[std::ptrdiff_t{j} * g.chromaStride + c] = Clamp(cb, k.cMin, k.cMax);
      dst.pCr[std::ptrdiff_t{j} * g.chromaStride + c] = Clamp(cr, k.cMin, k.cMax);
    }
  }
}

// The decoder-path converter: BT.601 studio range, no rounding term, I420 planes.
TRgb RefDecoderPixel(std::int32_t y, std::int32_t cb, std::int32_t cr) {
  const std::int64_t yv = std::int64_t{y - 16} * 76309;
  return TRgb{Clamp((yv + std::int64_t{cb - 128} * 132201) >> 16),
              Clamp((yv - std::int64_t{cb - 128} * 25675 - std::int64_t{cr - 128} * 53279) >> 16),
              Clamp((yv + std::int64_t{cr - 128} * 104597) >> 16)};
}

// ---------------------------------------------------------------------------
// Fixtures made at test time.

std::vector<std::uint8_t> RandomBytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

void FillRandom(std::uint8_t* p, std::size_t n, std::uint32_t seed) {
  const auto bytes = RandomBytes(n, seed);
  std::copy(bytes.begin(), bytes.end(), p);
}

TPixelFormat LayoutFormat(std::int32_t standard, std::int32_t layout, std::int32_t range) {
  return static_cast<TPixelFormat>(ComposeYuvFileFormat(standard, layout, range) - 2);
}

// Every planar layout (pixel formats 51..92).
std::vector<TPixelFormat> AllLayouts() {
  std::vector<TPixelFormat> formats;
  for (std::int32_t s = 0; s < YUV_STD_COUNT; ++s)
    for (std::int32_t l = 0; l < YUV_LAYOUT_COUNT; ++l)
      for (std::int32_t r = 0; r < YUV_RANGE_COUNT; ++r) formats.push_back(LayoutFormat(s, l, r));
  return formats;
}

// An allocated frame pair that frees itself.
struct TYuv {
  TYuvFrameBuffer f;
  TYuv(TPixelFormat pf, std::int32_t w, std::int32_t h, std::int32_t wa, std::int32_t ha) {
    f.ePixelFormat = pf;
    f.nWidth = w;
    f.nHeight = h;
    f.nWidthAlignment = wa;
    f.nHeightAlignment = ha;
    EXPECT_TRUE(AllocYuvFrame(&f));
  }
  ~TYuv() { FreeYuvFrame(&f); }
  TYuv(const TYuv&) = delete;
  TYuv& operator=(const TYuv&) = delete;
  std::vector<std::uint8_t> Bytes() const { return {f.pBuffer, f.pBuffer + f.nTotalSize}; }
};

struct TRgbFrame {
  TFrameBuffer f;
  TRgbFrame(TPixelFormat pf, std::int32_t w, std::int32_t h, std::int32_t rowAlignment = 4) {
    f.ePixelFormat = pf;
    f.nWidth = w;
    f.nHeight = h;
    f.nRowAlignment = rowAlignment;
    f.nHeightAlignment = 1;
    EXPECT_TRUE(AllocFrameBuffer(&f));
  }
  ~TRgbFrame() { FreeFrameBuffer(&f); }
  TRgbFrame(const TRgbFrame&) = delete;
  TRgbFrame& operator=(const TRgbFrame&) = delete;
  std::vector<std::uint8_t> Bytes() const { return {f.pBuffer, f.pBuffer + f.nSize}; }
};

// The tests below run once per kernel family; a family the processor lacks
// is reported as skipped, not as passed.
class ColorKernelTest : public ::testing::TestWithParam<TColorKernel> {
 protected:
  void SetUp() override {
    m_previous = ImageColorConversion::detail::GetColorKernel();
    if (!ImageColorConversion::detail::SetColorKernel(GetParam()))
      GTEST_SKIP() << "this processor has no kernel family " << static_cast<int>(GetParam());
  }
  void TearDown() override { ImageColorConversion::detail::SetColorKernel(m_previous); }

  // Runs the body with the family of this test selected.
  template <typename F>
  void WithKernel(F&& body) {
    SCOPED_TRACE("kernel family " + std::to_string(static_cast<int>(GetParam())));
    body();
  }

 private:
  TColorKernel m_previous = TColorKernel::Scalar;
};

INSTANTIATE_TEST_SUITE_P(Kernels, ColorKernelTest,
                         ::testing::Values(TColorKernel::Scalar, TColorKernel::Avx2, TColorKernel::Avx512,
                                           TColorKernel::Avx512Vbmi),
                         [](const ::testing::TestParamInfo<TColorKernel>& info) {
                           switch (info.param) {
                             case TColorKernel::Scalar: return std::string("Scalar");
                             case TColorKernel::Avx2: return std::string("Avx2");
                             case TColorKernel::Avx512: return std::string("Avx512");
                             case TColorKernel::Avx512Vbmi: return std::string("Avx512Vbmi");
                           }
                           return std::string("Unknown");
                         });

struct TSize {
  std::int32_t w, h, widthAlignment, heightAlignment;
};

// Odd and even sizes, alignments that pad rows and planes, a single pixel,
// widths that end inside, on and beyond the kernels' groups and segments.
const TSize kSizes[] = {{1, 1, 1, 1},   {2, 2, 2, 2},  {3, 5, 1, 1},  {5, 3, 2, 2},  {17, 9, 4, 2},
                        {33, 7, 16, 1}, {47, 4, 1, 2}, {64, 3, 4, 1}, {66, 3, 2, 1}, {1037, 5, 2, 2}};

std::string Describe(TPixelFormat pf, const TSize& s, TPixelFormat rgb) {
  return "pixel format " + std::to_string(pf) + ", " + std::to_string(s.w) + "x" + std::to_string(s.h) +
         " aligned " + std::to_string(s.widthAlignment) + "/" + std::to_string(s.heightAlignment) +
         ", RGB format " + std::to_string(rgb);
}

// ---------------------------------------------------------------------------
// Equivalence with the reference.

TEST_P(ColorKernelTest, YuvToRgbMatchesReferenceForEveryLayoutSizeAndKernel) {
  std::vector<TPixelFormat> formats = AllLayouts();
  formats.push_back(PF_YUY2);
  WithKernel([&] {
    for (TPixelFormat pf : formats) {
      for (const TSize& s : kSizes) {
        // YUY2 rows carry whole groups in practice; odd widths are covered below.
        TYuv yuv(pf, s.w, s.h, pf == PF_YUY2 ? 4 : s.widthAlignment, s.heightAlignment);
        FillRandom(yuv.f.pBuffer, static_cast<std::size_t>(yuv.f.nTotalSize), pf * 131 + s.w);
        for (TPixelFormat rgbFormat : {PF_RGB24, PF_RGB32}) {
          SCOPED_TRACE(Describe(pf, s, rgbFormat));
          TRgbFrame got(rgbFormat, s.w, s.h);
          TRgbFrame want(rgbFormat, s.w, s.h);
          FillRandom(got.f.pBuffer, static_cast<std::size_t>(got.f.nSize), 7);
          std::memcpy(want.f.pBuffer, got.f.pBuffer, static_cast<std::size_t>(got.f.nSize));
          ASSERT_TRUE(ConvertYuvToRgb(yuv.f, got.f));
          RefYuvToRgb(yuv.f, want.f);
          // Padding bytes keep what they held: the whole buffers compare equal.
          ASSERT_EQ(got.Bytes(), want.Bytes());
        }
      }
    }
  });
}

// 32-bit RGB rows placed anywhere within their cache lines (the heap places
// frames 16 bytes into a line): the YUY2 kernels, which go on from the first
// pixel whose output starts a line after their first step, and every
// kernel's last step, which ends at the row's end, give the reference pixels
// at widths around those steps, and leave the row padding alone.
TEST_P(ColorKernelTest, YuvToRgbMatchesReferenceWhereverTheRowsStartInTheirLines) {
  struct TLineDelete {
    void operator()(std::uint8_t* p) const { ::operator delete[](p, std::align_val_t{64}); }
  };
  const TPixelFormat formats[] = {LayoutFormat(0, YUV_LAYOUT_420_CENTRED, 2),
                                  LayoutFormat(1, YUV_LAYOUT_420_COSITED_EVEN, 0),
                                  LayoutFormat(0, YUV_LAYOUT_422_COSITED_ODD, 1), PF_YUY2};
  const std::int32_t widths[] = {31, 32, 33, 43, 44, 45, 46, 63, 64, 77, 96, 1037};
  const std::size_t places[] = {0, 8, 16, 24, 56, 4, 12, 2};
  WithKernel([&] {
    for (TPixelFormat pf : formats) {
      for (std::int32_t w : widths) {
        TYuv yuv(pf, w, 4, 4, 2);
        FillRandom(yuv.f.pBuffer, static_cast<std::size_t>(yuv.f.nTotalSize), pf * 7 + w);
        TRgbFrame want(PF_RGB32, w, 4);
        FillRandom(want.f.pBuffer, static_cast<std::size_t>(want.f.nSize), 5);
        const std::vector<std::uint8_t> before = want.Bytes();
        RefYuvToRgb(yuv.f, want.f);
        for (std::size_t place : places) {
          SCOPED_TRACE("pixel format " + std::to_string(pf) + ", width " + std::to_string(w) + ", rows " +
                       std::to_string(place) + " bytes into a line");
          TFrameBuffer got = want.f;
          const std::unique_ptr<std::uint8_t[], TLineDelete> memory(static_cast<std::uint8_t*>(
              ::operator new[](place + static_cast<std::size_t>(got.nSize), std::align_val_t{64})));
          got.pBuffer = memory.get() + place;
          std::memcpy(got.pBuffer, before.data(), before.size());
          ASSERT_TRUE(ConvertYuvToRgb(yuv.f, got));
          ASSERT_EQ(std::vector<std::uint8_t>(got.pBuffer, got.pBuffer + got.nSize), want.Bytes());
        }
      }
    }
  });
}

TEST(ColorConversionTest, RgbToYuvMatchesReferenceForEveryLayoutAndSize) {
  for (TPixelFormat pf : AllLayouts()) {
    for (const TSize& s : kSizes) {
      for (TPixelFormat rgbFormat : {PF_RGB24, PF_RGB32}) {
        SCOPED_TRACE(Describe(pf, s, rgbFormat));
        TRgbFrame rgb(rgbFormat, s.w, s.h);
        FillRandom(rgb.f.pBuffer, static_cast<std::size_t>(rgb.f.nSize), pf + 17 * s.h);
        TYuv got(pf, s.w, s.h, s.widthAlignment, s.heightAlignment);
        TYuv want(pf, s.w, s.h, s.widthAlignment, s.heightAlignment);
        FillRandom(got.f.pBuffer, static_cast<std::size_t>(got.f.nTotalSize), 3);
        std::memcpy(want.f.pBuffer, got.f.pBuffer, static_cast<std::size_t>(got.f.nTotalSize));
        ASSERT_TRUE(ConvertRgbToYuv(rgb.f, got.f));
        RefRgbToYuv(rgb.f, want.f);
        ASSERT_EQ(got.Bytes(), want.Bytes());
      }
    }
  }
}

// The ideal YCbCr of an RGB colour in each matrix and range (floating point).
struct TIdeal {
  double y, cb, cr;
};

TIdeal IdealYcc(std::int32_t code, double r, double g, double b) {
  const bool bt709 = code >= 4;
  const double kr = bt709 ? 0.2126 : 0.299;
  const double kb = bt709 ? 0.0722 : 0.114;
  const double luma = kr * r + (1 - kr - kb) * g + kb * b;  // 0..255
  const double pb = (b - luma) / (2 * (1 - kb));            // -127.5..127.5
  const double pr = (r - luma) / (2 * (1 - kr));
  switch ((code - 1) % 3) {
    case 0: return {luma, 128 + pb, 128 + pr};
    case 1: return {16 + luma * 239 / 255, 136 + pb * 239 / 255, 136 + pr * 239 / 255};
    default: return {16 + luma * 219 / 255, 128 + pb * 224 / 255, 128 + pr * 224 / 255};
  }
}

// Pixels for the RGB -> YUV kernels: random bytes, with runs of 0 and 255
// so that the sums land below and above every clamp.
void FillRgbPixels(std::uint8_t* p, std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t v = rng();
    const std::uint32_t kind = (v >> 8) % 8;
    p[i] = kind == 0 ? 0 : kind == 1 ? 255 : static_cast<std::uint8_t>(v);
  }
}

// Where two buffers of a YUV frame first differ ("" when they are equal).
std::string FirstDifference(const TYuvFrameBuffer& f, const std::vector<std::uint8_t>& got,
                            const std::vector<std::uint8_t>& want) {
  const auto [a, b] = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  if (a == got.end() && b == want.end()) {
    return "";
  }
  const std::ptrdiff_t at = a - got.begin();
  const std::ptrdiff_t cb = f.pCb - f.pBuffer;
  const std::ptrdiff_t cr = f.pCr - f.pBuffer;
  const char* plane = at >= cr ? "Cr" : at >= cb ? "Cb" : "Y";
  const std::ptrdiff_t offset = at - (at >= cr ? cr : at >= cb ? cb : 0);
  return std::string(plane) + " byte " + std::to_string(offset) + ": " +
         (a == got.end() ? "missing" : std::to_string(*a)) + " instead of " +
         (b == want.end() ? "missing" : std::to_string(*b));
}

// Widths around the kernels' steps (32 and 64 pixels) and the tables'
// segments (512), 1-pixel and odd sizes, padded and unpadded planes and
// rows. Every row kernel (every layout, 24- and 32-bit input) is held to the
// table conversion, byte for byte over the whole buffers.
TEST_P(ColorKernelTest, RgbToYuvKernelsMatchTheTableConversionByteForByte) {
  struct TCase {
    std::int32_t w, h, widthAlignment, heightAlignment, rowAlignment;
  };
  const TCase cases[] = {{1, 1, 1, 1, 4},   {2, 1, 2, 1, 4},    {31, 3, 1, 1, 4},   {32, 2, 2, 2, 4},
                         {33, 5, 1, 2, 16}, {63, 4, 1, 1, 4},   {64, 1, 2, 2, 4},   {65, 3, 1, 1, 8},
                         {66, 2, 16, 2, 4}, {97, 7, 2, 1, 4},   {128, 4, 1, 1, 64}, {191, 3, 2, 2, 4},
                         {257, 2, 1, 1, 4}, {576, 3, 16, 2, 4}, {1037, 2, 2, 2, 4}, {1090, 3, 1, 1, 16}};
  WithKernel([&] {
    for (TPixelFormat pf : AllLayouts()) {
      for (const TCase& c : cases) {
        for (TPixelFormat rgbFormat : {PF_RGB24, PF_RGB32}) {
          SCOPED_TRACE(Describe(pf, TSize{c.w, c.h, c.widthAlignment, c.heightAlignment}, rgbFormat) +
                       ", rows aligned " + std::to_string(c.rowAlignment));
          TRgbFrame rgb(rgbFormat, c.w, c.h, c.rowAlignment);
          FillRgbPixels(rgb.f.pBuffer, static_cast<std::size_t>(rgb.f.nSize), pf * 7919u + c.w * 31u + c.h);
          TYuv got(pf, c.w, c.h, c.widthAlignment, c.heightAlignment);
          TYuv want(pf, c.w, c.h, c.widthAlignment, c.heightAlignment);
          FillRandom(got.f.pBuffer, static_cast<std::size_t>(got.f.nTotalSize), 11);
          std::memcpy(want.f.pBuffer, got.f.pBuffer, static_cast<std::size_t>(got.f.nTotalSize));
          const std::vector<std::uint8_t> before = rgb.Bytes();
          ASSERT_TRUE(ConvertRgbToYuv(rgb.f, got.f));
          ASSERT_TRUE(ZarnTypes::detail::ConvertRgbToYuvReference(rgb.f, want.f));
          ASSERT_EQ(FirstDifference(got.f, got.Bytes(), want.Bytes()), "");
          ASSERT_EQ(rgb.Bytes(), before);  // the source is only read
        }
      }
    }
  });
}

// The table conversion (and so every kernel) anchored to the matrices
// themselves: BT.601 and BT.709 in each range, from the luma weights, over
// random pixels. A sample of one pixel lies within 1 of the ideal value; a
// mean of two within 1 as well (each rounded value within 1/2, the floor of
// the mean loses up to 1/2 more); the centred 4:2:0 mean of four within
// 1.25 (the floor of a quarter loses up to 3/4).
TEST_P(ColorKernelTest, RgbToYuvStaysWithinOneOfTheIdealMatrices) {
  constexpr std::int32_t kW = 130;
  constexpr std::int32_t kH = 6;
  WithKernel([&] {
    for (std::int32_t code = 1; code <= 6; ++code) {
      const std::int32_t range = (code - 1) % 3;
      const double yLo = range == 0 ? 0 : 16;
      const double yHi = range == 2 ? 235 : 255;
      const double cLo = range == 0 ? 0 : 16;
      const double cHi = range == 2 ? 240 : 255;
      for (std::int32_t layout = 0; layout < YUV_LAYOUT_COUNT; ++layout) {
        const TPixelFormat pf = LayoutFormat((code - 1) / 3, layout, range);
        const std::int32_t siting = GetYuvSubsamplingSiting(pf);
        for (TPixelFormat rgbFormat : {PF_RGB24, PF_RGB32}) {
          SCOPED_TRACE("code " + std::to_string(code) + ", layout " + std::to_string(layout) +
                       ", RGB format " + std::to_string(rgbFormat));
          TRgbFrame rgb(rgbFormat, kW, kH);
          FillRgbPixels(rgb.f.pBuffer, static_cast<std::size_t>(rgb.f.nSize), code * 100u + layout);
          TYuv yuv(pf, kW, kH, 2, 2);
          ASSERT_TRUE(ConvertRgbToYuv(rgb.f, yuv.f));
          const auto ideal = [&](std::int32_t r, std::int32_t x) {
            const TRgb px = RgbAt(rgb.f, r, x);
            return IdealYcc(code, px.r, px.g, px.b);
          };
          for (std::int32_t r = 0; r < kH; ++r) {
            for (std::int32_t x = 0; x < kW; ++x) {
              ASSERT_NEAR(yuv.f.pBuffer[r * yuv.f.nAlignedWidth + x], std::clamp(ideal(r, x).y, yLo, yHi),
                          1.0)
                  << "luma at row " << r << ", column " << x;
            }
          }
          const TGeometry g = Geometry(yuv.f, siting);
          const double tolerance = (siting == 7 ? 1.25 : 1.0) + 1e-3;
          for (std::int32_t j = 0; j < g.chromaRows; ++j) {
            for (std::int32_t k = 0; k < g.chromaColumns; ++k) {
              // The pixels of the sample: (row, column) pairs.
              std::vector<std::pair<std::int32_t, std::int32_t>> from;
              const std::int32_t row = siting >= 5 ? 2 * j : j;
              switch (siting) {
                case 1: from = {{row, k}}; break;
                case 2: from = {{row, 2 * k}}; break;
                case 3: from = {{row, 2 * k + 1}}; break;
                case 4: from = {{row, 2 * k}, {row, 2 * k + 1}}; break;
                case 5: from = {{row, 2 * k}, {row + 1, 2 * k}}; break;
                case 6: from = {{row, 2 * k + 1}, {row + 1, 2 * k + 1}}; break;
                default:
                  from = {{row, 2 * k}, {row, 2 * k + 1}, {row + 1, 2 * k}, {row + 1, 2 * k + 1}};
                  break;
              }
              double cb = 0;
              double cr = 0;
              for (const auto& [pr, px] : from) {
                cb += ideal(pr, px).cb / static_cast<double>(from.size());
                cr += ideal(pr, px).cr / static_cast<double>(from.size());
              }
              const std::ptrdiff_t at = std::ptrdiff_t{j} * g.chromaStride + k;
              ASSERT_NEAR(yuv.f.pCb[at], std::clamp(cb, cLo, cHi), tolerance) << "Cb " << j << ", " << k;
              ASSERT_NEAR(yuv.f.pCr[at], std::clamp(cr, cLo, cHi), tolerance) << "Cr " << j << ", " << k;
            }
          }
        }
      }
    }
  });
}

TEST_P(ColorKernelTest, OddYuy2WidthTakesCrOfThePrecedingGroup) {
  WithKernel([] {
    for (std::int32_t w : {1, 3, 5, 35, 1031}) {
      SCOPED_TRACE("width " + std::to_string(w));
      // Rows of 2 x width bytes end in half a group (Y and Cb).
      TYuv yuv(PF_YUY2, w, 3, 2, 1);
      FillRandom(yuv.f.pBuffer, static_cast<std::size_t>(yuv.f.nTotalSize), 11 + w);
      TRgbFrame got(PF_RGB32, w, 3);
      TRgbFrame want(PF_RGB32, w, 3);
      ASSERT_TRUE(ConvertYuvToRgb(yuv.f, got.f));
      RefYuvToRgb(yuv.f, want.f);
      ASSERT_EQ(got.Bytes(), want.Bytes());
    }
  });
}

// ---------------------------------------------------------------------------
// Squared differences of 4-byte pixels (the PSNR of 32-bit pictures).

// Every length around the kernels' steps (8, 16 and 32 pixels), at every
// byte offset, over random pixels whose fourth bytes differ too: each
// family's sum equals the plain one. The buffers end exactly where the
// pixels do, so a kernel that reads past them is caught by the sanitizer.
TEST_P(ColorKernelTest, SquaredDiffBgrxMatchesThePlainSumAtEveryLengthAndOffset) {
  const std::size_t lengths[] = {0, 1, 2, 7, 8, 9, 15, 16, 17, 31, 32, 33, 47, 63, 64, 65, 97, 1920, 4097};
  WithKernel([&] {
    const auto kernel = ImageColorConversion::detail::SquaredDiffBgrxKernel();
    for (std::size_t n : lengths) {
      for (std::size_t offset = 0; offset < 4; ++offset) {
        SCOPED_TRACE(std::to_string(n) + " pixels at byte offset " + std::to_string(offset));
        const auto a = RandomBytes(4 * n + offset, static_cast<std::uint32_t>(n * 4 + offset));
        const auto b = RandomBytes(4 * n + offset, static_cast<std::uint32_t>(n * 4 + offset + 1000));
        EXPECT_EQ(
            kernel(a.data() + offset, b.data() + offset, n),
            ImageColorConversion::detail::SquaredDiffBgrxReference(a.data() + offset, b.data() + offset, n));
        // Black against white in blue, green and red, with the fourth bytes
        // as random as before: 3 x 255^2 per pixel.
        std::vector<std::uint8_t> black = a;
        std::vector<std::uint8_t> white = b;
        for (std::size_t i = 0; i < n; ++i) {
          std::memset(&black[offset + 4 * i], 0, 3);
          std::memset(&white[offset + 4 * i], 255, 3);
        }
        EXPECT_EQ(kernel(black.data() + offset, white.data() + offset, n), 3 * 65025 * std::uint64_t{n});
        EXPECT_EQ(kernel(white.data() + offset, black.data() + offset, n), 3 * 65025 * std::uint64_t{n});
      }
    }
  });
}

// Two pictures placed anywhere within their cache lines, alike or not (the
// heap places pictures 16 bytes into a line): the pixels before a line
// boundary, the whole lines after it and the last pixels add up to the
// plain sum at lengths around each of those parts. Each buffer starts on a
// line and ends where its pixels do.
TEST_P(ColorKernelTest, SquaredDiffBgrxMatchesThePlainSumWhereverThePicturesStartInTheirLines) {
  struct TLineDelete {
    void operator()(std::uint8_t* p) const { ::operator delete[](p, std::align_val_t{64}); }
  };
  struct TBuffer {
    std::unique_ptr<std::uint8_t[], TLineDelete> bytes;
    std::uint8_t* pixels = nullptr;
  };
  const auto make = [](std::size_t place, std::size_t n, std::uint32_t seed) {
    TBuffer buffer;
    buffer.bytes.reset(static_cast<std::uint8_t*>(::operator new[](place + 4 * n, std::align_val_t{64})));
    buffer.pixels = buffer.bytes.get() + place;
    FillRandom(buffer.pixels, 4 * n, seed);
    return buffer;
  };
  const std::pair<std::size_t, std::size_t> places[] = {{0, 0},  {16, 16}, {60, 60}, {4, 4},
                                                        {16, 0}, {0, 48},  {16, 20}, {1, 1}};
  const std::size_t lengths[] = {0, 1, 3, 11, 12, 13, 15, 16, 17, 43, 44, 45, 47, 48, 49, 300, 1920};
  WithKernel([&] {
    const auto kernel = ImageColorConversion::detail::SquaredDiffBgrxKernel();
    for (const auto& [placeA, placeB] : places) {
      for (std::size_t n : lengths) {
        SCOPED_TRACE(std::to_string(n) + " pixels at " + std::to_string(placeA) + " and " +
                     std::to_string(placeB) + " bytes into a line");
        const auto seed = static_cast<std::uint32_t>(n * 64 + placeA);
        const TBuffer a = make(placeA, n, seed);
        const TBuffer b = make(placeB, n, seed + 7);
        EXPECT_EQ(kernel(a.pixels, b.pixels, n),
                  ImageColorConversion::detail::SquaredDiffBgrxReference(a.pixels, b.pixels, n));
      }
    }
  });
}

// 24-bit rows widened to 32 bits: every length around the kernel's step and
// its read-ahead, at every byte offset of both rows, equals the plain
// widening byte for byte, and the padding bytes are 0 whatever the target
// held. The rows end exactly where the pixels do, so a read or write past
// them is caught by the sanitizer.
TEST_P(ColorKernelTest, WidenBgrRowMatchesThePlainWideningAtEveryLengthAndOffset) {
  const std::size_t lengths[] = {0, 1, 15, 16, 17, 18, 19, 33, 34, 35, 64, 1919, 1920};
  WithKernel([&] {
    const auto kernel = ImageColorConversion::detail::WidenBgrRowKernel();
    for (std::size_t n : lengths) {
      for (std::size_t offset = 0; offset < 4; ++offset) {
        SCOPED_TRACE(std::to_string(n) + " pixels at byte offset " + std::to_string(offset));
        const auto source = RandomBytes(3 * n + offset, static_cast<std::uint32_t>(n + offset));
        std::vector<std::uint8_t> ours(4 * n + offset, 0xA5);
        std::vector<std::uint8_t> plain(4 * n + offset, 0x5A);
        kernel(source.data() + offset, ours.data() + offset, n);
        ImageColorConversion::detail::WidenBgrRowReference(source.data() + offset, plain.data() + offset, n);
        EXPECT_TRUE(std::equal(ours.begin() + static_cast<std::ptrdiff_t>(offset), ours.end(),
                               plain.begin() + static_cast<std::ptrdiff_t>(offset)));
        for (std::size_t i = 0; i < n; ++i) {
          ASSERT_EQ(plain[offset + 4 * i + 3], 0);
          ASSERT_EQ(std::memcmp(&plain[offset + 4 * i], &source[offset + 3 * i], 3), 0);
        }
      }
    }
  });
}

// A run long enough that the 32-bit partial sums of every family would wrap
// if they were not emptied into the total on the way: 600,001 pixels of
// maximal difference.
TEST_P(ColorKernelTest, SquaredDiffBgrxLongRunsOfMaximalDifferenceDoNotWrap) {
  constexpr std::size_t kPixels = 600001;
  std::vector<std::uint8_t> black(4 * kPixels, 0);
  std::vector<std::uint8_t> white(4 * kPixels, 255);
  WithKernel([&] {
    EXPECT_EQ(ImageColorConversion::detail::SquaredDiffBgrxKernel()(black.data(), white.data(), kPixels),
              3 * 65025 * std::uint64_t{kPixels});
  });
}

// The PSNR of two 32-bit pictures is the same whether both are stored
// bottom-up, both top-down (compared in one run over the memory) or one of
// each (compared row by row), and equals the value of the plain sum.
TEST_P(ColorKernelTest, PsnrOfThirtyTwoBitPicturesTakesEveryRowOrder) {
  constexpr int kW = 61;
  constexpr int kH = 7;
  const auto pa = RandomBytes(std::size_t{4} * kW * kH, 31);
  const auto pb = RandomBytes(std::size_t{4} * kW * kH, 32);
  // The pictures with pa and pb as their rows from the top.
  const auto make = [](const std::vector<std::uint8_t>& pixels, bool topDown) {
    Dib::TDibPtr d = Dib::CreateDibSectionEx(kW, topDown ? -kH : kH, 32);
    for (int y = 0; y < kH; ++y) std::memcpy(d->RowFromTop(y), &pixels[std::size_t{4} * kW * y], 4 * kW);
    return d;
  };
  std::uint64_t sum = 0;
  for (int y = 0; y < kH; ++y) {
    sum += ImageColorConversion::detail::SquaredDiffBgrxReference(&pa[std::size_t{4} * kW * y],
                                                                  &pb[std::size_t{4} * kW * y], kW);
  }
  const double want = 20.0 * std::log10(255.0 / std::sqrt(static_cast<double>(sum) / (3.0 * kW * kH)));
  WithKernel([&] {
    for (const auto& [topDownA, topDownB] :
         {std::pair{false, false}, {true, true}, {false, true}, {true, false}}) {
      SCOPED_TRACE(std::string(topDownA ? "top-down" : "bottom-up") + " against " +
                   (topDownB ? "top-down" : "bottom-up"));
      double psnr = 0;
      ASSERT_EQ(Dib::ComputeBitmapPsnr(*make(pa, topDownA), *make(pb, topDownB), psnr), Dib::PSNR_OK);
      EXPECT_DOUBLE_EQ(psnr, want);
    }
  });
}

// YUY2 rows converted in one pass read their own groups only: the frame's
// bytes end exactly with the last row (the sanitizer catches any read past
// them), at widths that end on, just after and well after the kernels'
// 16- and 32-pixel steps, in both RGB depths.
TEST_P(ColorKernelTest, Yuy2ReadsNoByteBeyondItsRows) {
  WithKernel([] {
    for (std::int32_t w : {16, 32, 33, 48, 95, 1920}) {
      for (TPixelFormat rgbFormat : {PF_RGB24, PF_RGB32}) {
        SCOPED_TRACE("width " + std::to_string(w) + ", RGB format " + std::to_string(rgbFormat));
        constexpr std::int32_t kH = 3;
        std::vector<std::uint8_t> bytes = RandomBytes(std::size_t{2} * w * kH, 40 + w);
        TYuvFrameBuffer yuy2{};
        yuy2.ePixelFormat = PF_YUY2;
        yuy2.nWidth = w;
        yuy2.nHeight = kH;
        yuy2.pBuffer = yuy2.pCb = yuy2.pCr = bytes.data();
        yuy2.nTotalSize = static_cast<std::int32_t>(bytes.size());
        TRgbFrame got(rgbFormat, w, kH);
        TRgbFrame want(rgbFormat, w, kH);
        // Row padding keeps what it held: both start alike.
        FillRandom(got.f.pBuffer, static_cast<std::size_t>(got.f.nSize), 9);
        std::memcpy(want.f.pBuffer, got.f.pBuffer, static_cast<std::size_t>(got.f.nSize));
        ASSERT_TRUE(ConvertYuvToRgb(yuy2, got.f));
        RefYuvToRgb(yuy2, want.f);
        ASSERT_EQ(got.Bytes(), want.Bytes());
      }
    }
  });
}

// The decoder path against its formula: I420 planes with rows of
// (width + 1) / 2 chroma samples, all three output forms.
TEST_P(ColorKernelTest, DecoderPathMatchesReferenceInAllThreeForms) {
  CImageColorConversion converter;
  WithKernel([&] {
    for (const TSize& s : kSizes) {
      SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
      const std::int32_t cw = (s.w + 1) / 2;
      const std::int32_t ch = (s.h + 1) / 2;
      const auto y = RandomBytes(static_cast<std::size_t>(s.w) * s.h, 21);
      const auto cb = RandomBytes(static_cast<std::size_t>(cw) * ch, 22);
      const auto cr = RandomBytes(static_cast<std::size_t>(cw) * ch, 23);
      const auto want = [&](std::int32_t r, std::int32_t x) {
        return RefDecoderPixel(y[static_cast<std::size_t>(r) * s.w + x],
                               cb[static_cast<std::size_t>(r / 2) * cw + x / 2],
                               cr[static_cast<std::size_t>(r / 2) * cw + x / 2]);
      };
      // 24-bit: rows of 3 x width without padding, bottom-up.
      std::vector<std::uint8_t> rgb24(static_cast<std::size_t>(3) * s.w * s.h);
      converter.ConvertYuv420ToRgb24(y.data(), cb.data(), cr.data(), rgb24.data(), s.w, s.h);
      // 32-bit: top-down.
      std::vector<std::uint8_t> rgb32(static_cast<std::size_t>(4) * s.w * s.h, 0xAB);
      converter.ConvertYuv420ToRgb32(y.data(), cb.data(), cr.data(), rgb32.data(), s.w, s.h);
      // 32-bit bottom-up with a stride wider than the row: the padding stays.
      const std::int32_t stride = 4 * s.w + 12;
      std::vector<std::uint8_t> flip(static_cast<std::size_t>(stride) * s.h, 0xCD);
      converter.ConvertYuv420ToRgb32Flip(y.data(), cb.data(), cr.data(), flip.data(), s.w, s.h, stride);
      for (std::int32_t r = 0; r < s.h; ++r) {
        for (std::int32_t x = 0; x < s.w; ++x) {
          const TRgb px = want(r, x);
          const std::uint8_t* a = &rgb24[(static_cast<std::size_t>(s.h - 1 - r) * s.w + x) * 3];
          const std::uint8_t* b = &rgb32[(static_cast<std::size_t>(r) * s.w + x) * 4];
          const std::uint8_t* c = &flip[static_cast<std::size_t>(s.h - 1 - r) * stride + x * 4];
          for (const std::uint8_t* p : {a, b, c}) {
            ASSERT_EQ(p[0], px.b) << "row " << r << " column " << x;
            ASSERT_EQ(p[1], px.g) << "row " << r << " column " << x;
            ASSERT_EQ(p[2], px.r) << "row " << r << " column " << x;
          }
          ASSERT_EQ(b[3], 0);
          ASSERT_EQ(c[3], 0);
        }
        for (std::int32_t pad = 4 * s.w; pad < stride; ++pad) {
          ASSERT_EQ(flip[static_cast<std::size_t>(r) * stride + pad], 0xCD);
        }
      }
    }
  });
}

TEST(ColorConversionTest, DecoderPathSaturatesThroughTheClamp) {
  CImageColorConversion converter;
  // Y = 255 with Cr = 255 gives a red sum of 480 after the shift; Y = 0 with
  // Cb = 0 a blue sum far below zero.
  const std::uint8_t y[4] = {255, 255, 0, 0};
  const std::uint8_t cb[2] = {128, 0};
  const std::uint8_t cr[2] = {255, 128};
  std::uint8_t out[16] = {};
  converter.ConvertYuv420ToRgb32(y, cb, cr, out, 4, 1);
  EXPECT_EQ(out[2], 255);  // red of pixel 0
  EXPECT_EQ(out[8], 0);    // blue of pixel 2
  EXPECT_EQ(converter.Clamp()[480], 255);
  EXPECT_EQ(converter.Clamp()[-384], 0);
}

TEST(ColorConversionTest, DecoderPathRefusesBadArguments) {
  CImageColorConversion converter;
  const std::uint8_t y[8] = {}, c[2] = {};
  std::uint8_t out[32];
  std::memset(out, 0x5A, sizeof out);
  EXPECT_FALSE(converter.ConvertYuv420(y, 4, c, c, 2, out, 16, 5, 4, 2));  // pixel size
  EXPECT_FALSE(converter.ConvertYuv420(y, 3, c, c, 2, out, 16, 4, 4, 2));  // luma stride
  EXPECT_FALSE(converter.ConvertYuv420(y, 4, c, c, 1, out, 16, 4, 4, 2));  // chroma stride
  EXPECT_FALSE(converter.ConvertYuv420(y, 4, c, c, 2, out, 12, 4, 4, 2));  // output stride
  EXPECT_FALSE(converter.ConvertYuv420(y, 4, nullptr, c, 2, out, 16, 4, 4, 2));
  EXPECT_FALSE(converter.ConvertYuv420(y, 4, c, c, 2, out, 16, 4, 0, 2));
  converter.ConvertYuv420ToRgb32Flip(y, c, c, out, 4, 2, 15);  // stride below 4 x width
  for (std::uint8_t b : out) EXPECT_EQ(b, 0x5A);
}

// ---------------------------------------------------------------------------
// Guard bytes: caller-owned buffers with canaries after every row and plane.

TEST_P(ColorKernelTest, NothingIsWrittenOutsideRowsAndPlanes) {
  constexpr std::uint8_t kCanary = 0xE7;
  constexpr std::size_t kGuard = 64;
  WithKernel([&] {
    for (TPixelFormat pf :
         {LayoutFormat(0, YUV_LAYOUT_444, 2), LayoutFormat(1, YUV_LAYOUT_422_COSITED_ODD, 0),
          LayoutFormat(0, YUV_LAYOUT_420_CENTRED, 2), LayoutFormat(1, YUV_LAYOUT_420_COSITED_EVEN, 1)}) {
      for (const TSize& s : {TSize{7, 5, 16, 4}, TSize{35, 3, 4, 2}, TSize{32, 2, 1, 1}, TSize{1, 3, 2, 2}}) {
        for (TPixelFormat rgbFormat : {PF_RGB24, PF_RGB32}) {
          SCOPED_TRACE(Describe(pf, s, rgbFormat));
          // RGB rows aligned to 16 bytes: every row carries padding.
          TFrameBuffer rgb;
          rgb.ePixelFormat = rgbFormat;
          rgb.nWidth = s.w;
          rgb.nHeight = s.h;
          rgb.nRowAlignment = 16;
          rgb.nHeightAlignment = 1;
          ASSERT_TRUE(LayoutFrameBuffer(&rgb));
          std::vector<std::uint8_t> rgbMemory(static_cast<std::size_t>(rgb.nSize) + kGuard, kCanary);
          rgb.pBuffer = rgbMemory.data();

          TYuvFrameBuffer yuv;
          yuv.ePixelFormat = pf;
          yuv.nWidth = s.w;
          yuv.nHeight = s.h;
          yuv.nWidthAlignment = s.widthAlignment;
          yuv.nHeightAlignment = s.heightAlignment;
          ASSERT_TRUE(LayoutYuvFrame(&yuv));
          std::vector<std::uint8_t> yuvMemory(static_cast<std::size_t>(yuv.nTotalSize) + kGuard, kCanary);
          yuv.pBuffer = yuvMemory.data();
          ASSERT_TRUE(LayoutYuvFrame(&yuv));  // plane pointers into the memory

          const std::int32_t bpp = rgbFormat == PF_RGB32 ? 4 : 3;
          const TGeometry g = Geometry(yuv, GetYuvSubsamplingSiting(pf));
          // Which bytes belong to the picture.
          std::vector<bool> rgbPicture(rgbMemory.size(), false);
          for (std::int32_t r = 0; r < s.h; ++r)
            for (std::int32_t i = 0; i < s.w * bpp; ++i)
              rgbPicture[static_cast<std::size_t>(r) * rgb.nStride + i] = true;
          std::vector<bool> yuvPicture(yuvMemory.size(), false);
          for (std::int32_t r = 0; r < s.h; ++r)
            for (std::int32_t x = 0; x < s.w; ++x)
              yuvPicture[static_cast<std::size_t>(r) * yuv.nAlignedWidth + x] = true;
          for (const std::uint8_t* plane : {yuv.pCb, yuv.pCr})
            for (std::int32_t j = 0; j < g.chromaRows; ++j)
              for (std::int32_t c = 0; c < g.chromaColumns; ++c)
                yuvPicture[static_cast<std::size_t>(plane - yuv.pBuffer) +
                           static_cast<std::size_t>(j) * g.chromaStride + c] = true;

          // RGB -> YUV writes the picture samples and nothing else.
          for (std::size_t i = 0; i < rgbMemory.size(); ++i)
            if (rgbPicture[i]) rgbMemory[i] = static_cast<std::uint8_t>(i * 37 + 11);
          ASSERT_TRUE(ConvertRgbToYuv(rgb, yuv));
          for (std::size_t i = 0; i < yuvMemory.size(); ++i) {
            if (!yuvPicture[i]) {
              ASSERT_EQ(yuvMemory[i], kCanary) << "YUV byte " << i;
            }
          }
          // Back to RGB: the picture bytes change, padding and guard do not.
          std::fill(rgbMemory.begin(), rgbMemory.end(), kCanary);
          ASSERT_TRUE(ConvertYuvToRgb(yuv, rgb));
          for (std::size_t i = 0; i < rgbMemory.size(); ++i) {
            if (!rgbPicture[i]) {
              ASSERT_EQ(rgbMemory[i], kCanary) << "RGB byte " << i;
            }
          }
        }
      }
    }
  });
}

// ---------------------------------------------------------------------------
// Known colours.

TEST(ColorConversionTest, KnownColoursInEveryMatrixAndRange) {
  const std::array<std::array<std::uint8_t, 3>, 8> colours = {{{0, 0, 0},
                                                               {255, 255, 255},
                                                               {255, 0, 0},
                                                               {0, 255, 0},
                                                               {0, 0, 255},
                                                               {128, 128, 128},
                                                               {255, 255, 0},
                                                               {0, 255, 255}}};  // R, G, B
  for (std::int32_t code = 1; code <= 6; ++code) {
    const TPixelFormat pf = LayoutFormat((code - 1) / 3, YUV_LAYOUT_444, (code - 1) % 3);
    ASSERT_EQ(GetYuvMatrixRangeCode(pf), code);
    for (const auto& c : colours) {
      SCOPED_TRACE("code " + std::to_string(code) + " colour " + std::to_string(c[0]) + "," +
                   std::to_string(c[1]) + "," + std::to_string(c[2]));
      TRgbFrame rgb(PF_RGB32, 1, 1);
      rgb.f.pBuffer[0] = c[2];
      rgb.f.pBuffer[1] = c[1];
      rgb.f.pBuffer[2] = c[0];
      TYuv yuv(pf, 1, 1, 1, 1);
      ASSERT_TRUE(ConvertRgbToYuv(rgb.f, yuv.f));
      const TIdeal ideal = IdealYcc(code, c[0], c[1], c[2]);
      EXPECT_NEAR(yuv.f.pBuffer[0], ideal.y, 1.0);
      EXPECT_NEAR(yuv.f.pCb[0], std::clamp(ideal.cb, 0.0, 255.0), 1.0);
      EXPECT_NEAR(yuv.f.pCr[0], std::clamp(ideal.cr, 0.0, 255.0), 1.0);
      // The inverse of the ideal samples gives the colour back.
      yuv.f.pBuffer[0] = static_cast<std::uint8_t>(std::lround(ideal.y));
      yuv.f.pCb[0] = static_cast<std::uint8_t>(std::lround(std::clamp(ideal.cb, 0.0, 255.0)));
      yuv.f.pCr[0] = static_cast<std::uint8_t>(std::lround(std::clamp(ideal.cr, 0.0, 255.0)));
      ASSERT_TRUE(ConvertYuvToRgb(yuv.f, rgb.f));
      EXPECT_NEAR(rgb.f.pBuffer[2], c[0], 2.0);
      EXPECT_NEAR(rgb.f.pBuffer[1], c[1], 2.0);
      EXPECT_NEAR(rgb.f.pBuffer[0], c[2], 2.0);
      EXPECT_EQ(rgb.f.pBuffer[3], 0);
    }
  }
}

TEST(ColorConversionTest, BlackWhiteAndGreyLandOnTheRangeLimits) {
  struct TCase {
    std::int32_t code;
    std::uint8_t black, white, neutral;
  };
  for (const TCase& c : {TCase{1, 0, 255, 128}, TCase{2, 16, 255, 136}, TCase{3, 16, 235, 128},
                         TCase{4, 0, 255, 128}, TCase{5, 16, 255, 136}, TCase{6, 16, 235, 128}}) {
    SCOPED_TRACE("code " + std::to_string(c.code));
    const TPixelFormat pf = LayoutFormat((c.code - 1) / 3, YUV_LAYOUT_420_CENTRED, (c.code - 1) % 3);
    TRgbFrame rgb(PF_RGB24, 4, 2);
    for (std::int32_t r = 0; r < 2; ++r) {
      std::uint8_t* row = rgb.f.pBuffer + r * rgb.f.nStride;
      for (std::int32_t i = 0; i < 12; ++i) row[i] = i < 6 ? 0 : 255;  // black | white
    }
    TYuv yuv(pf, 4, 2, 2, 2);
    ASSERT_TRUE(ConvertRgbToYuv(rgb.f, yuv.f));
    EXPECT_EQ(yuv.f.pBuffer[0], c.black);
    EXPECT_EQ(yuv.f.pBuffer[3], c.white);
    // Black, white and every grey between carry neutral chroma.
    EXPECT_EQ(yuv.f.pCb[0], c.neutral);
    EXPECT_EQ(yuv.f.pCr[1], c.neutral);
    ASSERT_TRUE(ConvertYuvToRgb(yuv.f, rgb.f));
    EXPECT_EQ(rgb.f.pBuffer[0], 0);
    EXPECT_EQ(rgb.f.pBuffer[9], 255);
  }
}

TEST(ColorConversionTest, WhiteSumsTheLumaEntriesOfTheStudioTables) {
  // Y = floor((16 x 65,536 + 32,768 + 4,291,358 + 8,424,842 + 1,636,173) / 65,536),
  // the three numbers being the luma tables' entries at 255.
  TRgbFrame rgb(PF_RGB32, 1, 1);
  std::memset(rgb.f.pBuffer, 255, 3);
  TYuv yuv(LayoutFormat(0, YUV_LAYOUT_444, YUV_RANGE_16_235_240), 1, 1, 1, 1);
  ASSERT_TRUE(ConvertRgbToYuv(rgb.f, yuv.f));
  EXPECT_EQ(yuv.f.pBuffer[0], (16 * 65536 + 32768 + 4291358 + 8424842 + 1636173) / 65536);
}

TEST(ColorConversionTest, RoundTripStaysClose) {
  // 4:4:4 keeps every sample: RGB -> YUV -> RGB moves a component by at most
  // the quantisation of the range.
  const auto pixels = RandomBytes(64 * 16 * 4, 99);
  for (TPixelFormat pf : AllLayouts()) {
    TYuvLayout parts;
    ASSERT_TRUE(DecomposeYuvFileFormat(pf + 2, parts));
    if (parts.layout != YUV_LAYOUT_444) continue;
    SCOPED_TRACE("pixel format " + std::to_string(pf));
    TRgbFrame rgb(PF_RGB32, 64, 16);
    std::memcpy(rgb.f.pBuffer, pixels.data(), pixels.size());
    TYuv yuv(pf, 64, 16, 1, 1);
    ASSERT_TRUE(ConvertRgbToYuv(rgb.f, yuv.f));
    TRgbFrame back(PF_RGB32, 64, 16);
    ASSERT_TRUE(ConvertYuvToRgb(yuv.f, back.f));
    const int tolerance = parts.range == YUV_RANGE_0_255 ? 1 : 2;
    int worst = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
      if (i % 4 == 3) continue;
      worst = std::max(worst, std::abs(int{back.f.pBuffer[i]} - int{rgb.f.pBuffer[i]}));
    }
    EXPECT_LE(worst, tolerance);
  }
}

// ---------------------------------------------------------------------------
// Odd sizes: the last row and column are converted, not left behind.

TEST(ColorConversionTest, OddLastRowAndColumnOf420AreFilledFromThemselves) {
  for (std::int32_t layout : {YUV_LAYOUT_420_COSITED_EVEN, YUV_LAYOUT_420_CENTRED}) {
    const TPixelFormat pf = LayoutFormat(0, layout, YUV_RANGE_0_255);
    // 5 x 3 with alignment 2: planes of 6 x 4 and 3 x 2, so the last pixel
    // row and column have chroma places of their own.
    TRgbFrame rgb(PF_RGB24, 5, 3);
    std::memset(rgb.f.pBuffer, 0, static_cast<std::size_t>(rgb.f.nSize));
    // The bottom row (first in memory) red, the right column blue: black
    // elsewhere, magenta in the bottom right corner.
    for (std::int32_t x = 0; x < 5; ++x) rgb.f.pBuffer[3 * x + 2] = 255;
    for (std::int32_t r = 0; r < 3; ++r) rgb.f.pBuffer[r * rgb.f.nStride + 12] = 255;
    TYuv yuv(pf, 5, 3, 2, 2);
    std::memset(yuv.f.pBuffer, 0x11, static_cast<std::size_t>(yuv.f.nTotalSize));
    ASSERT_TRUE(ConvertRgbToYuv(rgb.f, yuv.f));
    const TYcc red = RefForwardPixel(1, {0, 0, 255});
    const TYcc blue = RefForwardPixel(1, {255, 0, 0});
    // The last luma row is converted (left of the magenta corner it is red).
    EXPECT_EQ(yuv.f.pBuffer[2 * yuv.f.nAlignedWidth + 0], Clamp(red.y));
    EXPECT_EQ(yuv.f.pBuffer[2 * yuv.f.nAlignedWidth + 3], Clamp(red.y));
    // Chroma row 1 comes from luma row 2 alone; column 2 from pixel column 4 alone.
    const std::int32_t cs = yuv.f.nAlignedWidth / 2;
    EXPECT_EQ(yuv.f.pCr[cs + 0], Clamp(red.cr));
    EXPECT_EQ(yuv.f.pCb[2], Clamp(blue.cb));
    // Back to RGB: the last row and column are red and blue again.
    TRgbFrame back(PF_RGB24, 5, 3);
    ASSERT_TRUE(ConvertYuvToRgb(yuv.f, back.f));
    const TRgb bottomLeft = RgbAt(back.f, 2, 0);
    const TRgb topRight = RgbAt(back.f, 0, 4);
    EXPECT_GE(bottomLeft.r, 250);
    EXPECT_LE(bottomLeft.b, 5);
    EXPECT_GE(topRight.b, 250);
    EXPECT_LE(topRight.r, 5);
  }
}

TEST(ColorConversionTest, ChromaOfAFrameWithoutChromaPlacesIsNeutral) {
  // Width 1 with alignment 1: 4:2:2 chroma rows hold no sample at all.
  for (std::int32_t range : {YUV_RANGE_0_255, YUV_RANGE_16_255}) {
    const TPixelFormat pf = LayoutFormat(0, YUV_LAYOUT_422_CENTRED, range);
    TYuv yuv(pf, 1, 2, 1, 1);
    yuv.f.pBuffer[0] = 100;
    yuv.f.pBuffer[1] = 200;
    TRgbFrame rgb(PF_RGB32, 1, 2);
    ASSERT_TRUE(ConvertYuvToRgb(yuv.f, rgb.f));
    for (std::int32_t r = 0; r < 2; ++r) {
      const TRgb px = RgbAt(rgb.f, r, 0);
      EXPECT_EQ(px.b, px.r);
      EXPECT_EQ(px.g, px.r);
    }
  }
}

// ---------------------------------------------------------------------------
// Refusals: false, and nothing written.

TEST(ColorConversionTest, UnsupportedFormatsAndBadRecordsAreRefused) {
  TRgbFrame rgb(PF_RGB32, 8, 4);
  std::memset(rgb.f.pBuffer, 0x42, static_cast<std::size_t>(rgb.f.nSize));
  const auto rgbBefore = rgb.Bytes();

  // Packed YUY2 is a source only.
  TYuv yuy2(PF_YUY2, 8, 4, 4, 2);
  std::memset(yuy2.f.pBuffer, 0x42, static_cast<std::size_t>(yuy2.f.nTotalSize));
  EXPECT_FALSE(ConvertRgbToYuv(rgb.f, yuy2.f));
  EXPECT_EQ(yuy2.Bytes(), std::vector<std::uint8_t>(static_cast<std::size_t>(yuy2.f.nTotalSize), 0x42));
  TRgbFrame fromYuy2(PF_RGB24, 8, 4);
  EXPECT_TRUE(ConvertYuvToRgb(yuy2.f, fromYuy2.f));

  // A planar format without a matrix and range (code 0) either way.
  TYuv generic(PF_YUV420_601, 8, 4, 2, 2);
  std::memset(generic.f.pBuffer, 0x42, static_cast<std::size_t>(generic.f.nTotalSize));
  EXPECT_FALSE(ConvertRgbToYuv(rgb.f, generic.f));
  EXPECT_FALSE(ConvertYuvToRgb(generic.f, rgb.f));
  EXPECT_EQ(rgb.Bytes(), rgbBefore);

  TYuv yuv(LayoutFormat(1, YUV_LAYOUT_420_CENTRED, YUV_RANGE_16_235_240), 8, 4, 2, 2);
  std::memset(yuv.f.pBuffer, 0x42, static_cast<std::size_t>(yuv.f.nTotalSize));
  const auto yuvBefore = yuv.Bytes();

  // RGB frames of other formats, sizes, strides or without pixels.
  struct TBadRgb {
    const char* what;
    void (*spoil)(TFrameBuffer&);
  };
  const TBadRgb bad[] = {
      {"16-bit pixels", [](TFrameBuffer& f) { f.ePixelFormat = PF_DIB_16; }},
      {"other width", [](TFrameBuffer& f) { f.nWidth = 7; }},
      {"other height", [](TFrameBuffer& f) { f.nHeight = 5; }},
      {"stride below a row", [](TFrameBuffer& f) { f.nStride = 31; }},
      {"buffer below the rows", [](TFrameBuffer& f) { f.nSize -= 1; }},
      {"no buffer", [](TFrameBuffer& f) { f.pBuffer = nullptr; }},
  };
  for (const TBadRgb& b : bad) {
    SCOPED_TRACE(b.what);
    TFrameBuffer spoilt = rgb.f;
    b.spoil(spoilt);
    EXPECT_FALSE(ConvertRgbToYuv(spoilt, yuv.f));
    EXPECT_FALSE(ConvertYuvToRgb(yuv.f, spoilt));
  }
  EXPECT_EQ(rgb.Bytes(), rgbBefore);
  EXPECT_EQ(yuv.Bytes(), yuvBefore);

  // YUV records that cannot hold their own layout.
  struct TBadYuv {
    const char* what;
    void (*spoil)(TYuvFrameBuffer&);
  };
  const TBadYuv badYuv[] = {
      {"luma plane too small", [](TYuvFrameBuffer& f) { f.nYSize -= 1; }},
      {"chroma plane too small", [](TYuvFrameBuffer& f) { f.nCrSize -= 1; }},
      {"aligned width below width", [](TYuvFrameBuffer& f) { f.nAlignedWidth = 6; }},
      {"no chroma plane", [](TYuvFrameBuffer& f) { f.pCb = nullptr; }},
      {"no pixels", [](TYuvFrameBuffer& f) { f.nWidth = 0; }},
  };
  for (const TBadYuv& b : badYuv) {
    SCOPED_TRACE(b.what);
    TYuvFrameBuffer spoilt = yuv.f;
    b.spoil(spoilt);
    EXPECT_FALSE(ConvertRgbToYuv(rgb.f, spoilt));
    EXPECT_FALSE(ConvertYuvToRgb(spoilt, rgb.f));
  }
  TYuvFrameBuffer shortYuy2 = yuy2.f;
  shortYuy2.nTotalSize -= 2;
  EXPECT_FALSE(ConvertYuvToRgb(shortYuy2, rgb.f));
  EXPECT_EQ(rgb.Bytes(), rgbBefore);
  EXPECT_EQ(yuv.Bytes(), yuvBefore);
}

}  // namespace
