// JPEG 2000 codec manager: lossless and lossy round trips through JP2 and
// bare code streams, the rate, sample scaling and colour conversion of
// streams made here with OpenJPEG, cross-checks with ffmpeg's own JPEG 2000
// codec, refused settings and hostile files.

#include <gtest/gtest.h>
#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "io/codecs/jpeg2000_mgr.h"
#include "io/media_request.h"
#include "media/dib.h"
#include "media/frame_buffer.h"
#include "platform/message_sink.h"
#include "tests/support/codecs/picture_support.h"
#include "tests/support/message_fixture.h"
#include "tests/support/test_support.h"

namespace {

using namespace ZarnTypes;
using Jpeg2000Mgr::CJpeg2000Mgr;
using tovrin_test::FramePixel;
using tovrin_test::MakeSection;
using tovrin_test::Quote;
using tovrin_test::RunCapture;
using tovrin_test::SectionPixel;
using tovrin_test::TDecoded;
using tovrin_test::TPixel;

// Every byte of the picture drawn at random: nothing to gain from smoothness.
Dib::TDibSection NoisySection(int w, int h, unsigned seed, bool topDown = false, int bits = 32) {
  std::mt19937 rng(seed);
  std::vector<TPixel> px(static_cast<std::size_t>(w) * h);
  for (auto& p : px) p = {int(rng() & 255), int(rng() & 255), int(rng() & 255), int(rng() & 255)};
  return MakeSection(
      w, h, [&](int x, int y) { return px[static_cast<std::size_t>(y) * w + x]; }, topDown, bits);
}

void Read(const std::filesystem::path& path, TDecoded& out) {
  tovrin_test::ReadPicture(path, out,
                           [](TMediaRequest& request) { return CJpeg2000Mgr().ReadJpeg2000(request); });
}

TJpeg2000Settings Settings(std::int32_t colorSpace, std::int32_t mode, std::int32_t quality = 300,
                           std::int32_t depth = 8) {
  TJpeg2000Settings s;
  s.nColorSpace = colorSpace;
  s.nCompressionMode = mode;
  s.nQuality = quality;
  s.nBitDepth = depth;
  s.nFileFormat = mode == J2K_MODE_JPC ? FF_JPC : FF_JP2;
  return s;
}

bool StartsWith(const std::vector<std::uint8_t>& bytes, std::initializer_list<std::uint8_t> head) {
  return bytes.size() >= head.size() && std::equal(head.begin(), head.end(), bytes.begin());
}

// ---------------------------------------------------------------------------
// Streams made with OpenJPEG for the reader.

struct TComponentSpec {
  OPJ_UINT32 prec = 8;
  bool sgnd = false;
  OPJ_UINT32 dx = 1, dy = 1;
  bool alpha = false;
};

// Writes a lossless stream whose sample of component c at (x, y) of that
// component's grid is value(c, x, y).
bool WriteTestStream(const std::filesystem::path& path, OPJ_CODEC_FORMAT kind, OPJ_COLOR_SPACE space, int w,
                     int h, const std::vector<TComponentSpec>& specs,
                     const std::function<int(int, int, int)>& value) {
  std::vector<opj_image_cmptparm_t> parms(specs.size());
  std::memset(parms.data(), 0, parms.size() * sizeof(opj_image_cmptparm_t));
  for (std::size_t c = 0; c < specs.size(); ++c) {
    parms[c].dx = specs[c].dx;
    parms[c].dy = specs[c].dy;
    parms[c].w = (static_cast<OPJ_UINT32>(w) + specs[c].dx - 1) / specs[c].dx;
    parms[c].h = (static_cast<OPJ_UINT32>(h) + specs[c].dy - 1) / specs[c].dy;
    parms[c].prec = specs[c].prec;
    parms[c].sgnd = specs[c].sgnd;
  }
  opj_image_t* image = opj_image_create(static_cast<OPJ_UINT32>(specs.size()), parms.data(), space);
  if (!image) return false;
  image->x0 = image->y0 = 0;
  image->x1 = static_cast<OPJ_UINT32>(w);
  image->y1 = static_cast<OPJ_UINT32>(h);
  for (std::size_t c = 0; c < specs.size(); ++c) {
    image->comps[c].alpha = specs[c].alpha ? 1 : 0;
    for (OPJ_UINT32 y = 0; y < parms[c].h; ++y)
      for (OPJ_UINT32 x = 0; x < parms[c].w; ++x)
        image->comps[c].data[y * parms[c].w + x] =
            value(static_cast<int>(c), static_cast<int>(x), static_cast<int>(y));
  }
  opj_cparameters_t params;
  opj_set_default_encoder_parameters(&params);
  params.numresolution = 3;
  params.tcp_mct = 0;
  opj_codec_t* codec = opj_create_compress(kind);
  opj_stream_t* stream = opj_stream_create_default_file_stream(path.string().c_str(), OPJ_FALSE);
  const bool ok = codec && stream && opj_setup_encoder(codec, &params, image) &&
                  opj_start_compress(codec, image, stream) && opj_encode(codec, stream) &&
                  opj_end_compress(codec, stream);
  if (stream) opj_stream_destroy(stream);
  if (codec) opj_destroy_codec(codec);
  opj_image_destroy(image);
  return ok;
}

int Scaled(int v, int prec, bool sgnd) {
  const double max = std::ldexp(1.0, prec) - 1.0;
  if (sgnd) v += 1 << (prec - 1);
  return static_cast<int>(std::lround(v * 255.0 / max));
}

class Jpeg2000MgrTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  CJpeg2000Mgr mgr;
};

// ---------------------------------------------------------------------------

TEST_F(Jpeg2000MgrTest, LosslessRoundTripsAreExact) {
  struct TCase {
    const char* name;
    std::int32_t colorSpace, mode, quality;
    bool jp2;
  };
  const TCase cases[] = {
      {"lossless.jp2", J2K_CS_RGB, J2K_MODE_LOSSLESS, 300, true},
      {"lossless_alpha.jp2", J2K_CS_RGB_ALPHA, J2K_MODE_LOSSLESS, 300, true},
      {"full_rate.jp2", J2K_CS_RGB, J2K_MODE_JP2, 1000, true},
      {"full_rate.jpc", J2K_CS_RGB, J2K_MODE_JPC, 1000, false},
      {"full_rate_alpha.jpc", J2K_CS_RGB_ALPHA, J2K_MODE_JPC, 1000, false},
  };
  const Dib::TDibSection picture = NoisySection(37, 23, 7);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir / c.name;
    ASSERT_TRUE(mgr.SaveJpeg2000(path.string(), c.jp2 ? FF_JP2 : FF_JPC,
                                 Settings(c.colorSpace, c.mode, c.quality), picture));
    const auto bytes = tovrin_test::ReadAll(path);
    if (c.jp2)
      EXPECT_TRUE(StartsWith(bytes, {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20}));
    else
      EXPECT_TRUE(StartsWith(bytes, {0xFF, 0x4F, 0xFF, 0x51}));

    TDecoded d;
    Read(path, d);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.frame.nWidth, 37);
    ASSERT_EQ(d.frame.nHeight, 23);
    EXPECT_EQ(d.results[0], 8);
    EXPECT_EQ(d.results[1], c.colorSpace == J2K_CS_RGB ? 3 : 4);
    int mismatches = 0;
    for (int y = 0; y < 23; ++y)
      for (int x = 0; x < 37; ++x) {
        const TPixel want = SectionPixel(picture, x, y);
        const TPixel got = FramePixel(d.frame, x, y);
        const int wantAlpha = c.colorSpace == J2K_CS_RGB_ALPHA ? want.a : 0;
        mismatches += got.r != want.r || got.g != want.g || got.b != want.b || got.a != wantAlpha;
      }
    EXPECT_EQ(mismatches, 0);
  }
  EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(Jpeg2000MgrTest, SourceRowOrderAndDepthDoNotChangeThePicture) {
  // A 24-bit section is widened first; a top-down section is read from its top.
  const Dib::TDibSection bottomUp = NoisySection(19, 11, 3, false, 32);
  const Dib::TDibSection topDown = NoisySection(19, 11, 3, true, 32);
  const Dib::TDibSection rgb24 = NoisySection(19, 11, 3, false, 24);
  const Dib::TDibSection rgb24TopDown = NoisySection(19, 11, 3, true, 24);
  for (const Dib::TDibSection* s : {&bottomUp, &topDown, &rgb24, &rgb24TopDown}) {
    const auto path = dir / "order.jp2";
    ASSERT_TRUE(mgr.SaveJpeg2000(path.string(), FF_JP2, Settings(J2K_CS_RGB, J2K_MODE_LOSSLESS), *s));
    TDecoded d;
    Read(path, d);
    ASSERT_TRUE(d.ok);
    for (int y = 0; y < 11; ++y)
      for (int x = 0; x < 19; ++x) {
        const TPixel want = SectionPixel(bottomUp, x, y), got = FramePixel(d.frame, x, y);
        ASSERT_TRUE(got.r == want.r && got.g == want.g && got.b == want.b) << x << "," << y;
      }
  }
}

TEST_F(Jpeg2000MgrTest, LossyRateIsHonouredAndStaysNearThePicture) {
  const int w = 96, h = 64;
  // Gradients with texture, so that every rate has something to drop.
  std::mt19937 rng(5);
  const Dib::TDibSection picture = MakeSection(w, h, [&](int x, int y) {
    auto noisy = [&](int v) { return std::clamp(v + int(rng() % 41) - 20, 0, 255); };
    return TPixel{noisy((x * 255) / 95), noisy((y * 255) / 63), noisy(((x + y) * 255) / 158), 0};
  });
  const double raw = w * h * 3.0;
  std::uintmax_t previous = 0;
  double previousPsnr = 0;
  for (const std::int32_t quality : {50, 150, 400}) {
    for (const std::int32_t mode : {J2K_MODE_JP2, J2K_MODE_JPC}) {
      SCOPED_TRACE(std::to_string(quality) + (mode == J2K_MODE_JP2 ? " jp2" : " jpc"));
      const auto path = dir / (std::to_string(quality) + (mode == J2K_MODE_JP2 ? ".jp2" : ".jpc"));
      ASSERT_TRUE(mgr.SaveJpeg2000(path.string(), FF_JP2, Settings(J2K_CS_RGB, mode, quality), picture));
      const auto size = std::filesystem::file_size(path);
      // The code stream keeps to the rate; a JP2 adds its boxes.
      EXPECT_LE(static_cast<double>(size), raw * quality / 1000.0 * 1.05 + (mode == J2K_MODE_JP2 ? 120 : 0));
      if (mode == J2K_MODE_JP2) {
        EXPECT_GT(size, previous);
        previous = size;
      }
      TDecoded d;
      Read(path, d);
      ASSERT_TRUE(d.ok);
      const double psnr = tovrin_test::ColourPsnr(picture, d.frame);
      // More of the rate buys a closer picture.
      EXPECT_GT(psnr, quality == 50 ? 24.0 : quality == 150 ? 27.0 : 36.0);
      if (mode == J2K_MODE_JP2) {
        EXPECT_GT(psnr, previousPsnr);
        previousPsnr = psnr;
      }
    }
  }
}

TEST_F(Jpeg2000MgrTest, SamplesOfAnyPrecisionAreScaledToEightBits) {
  struct TCase {
    const char* name;
    OPJ_CODEC_FORMAT kind;
    OPJ_COLOR_SPACE space;
    std::vector<TComponentSpec> comps;
  };
  const TCase cases[] = {
      {"rgb12.j2k", OPJ_CODEC_J2K, OPJ_CLRSPC_SRGB, {{12}, {12}, {12}}},
      {"rgb16.jp2", OPJ_CODEC_JP2, OPJ_CLRSPC_SRGB, {{16}, {16}, {16}}},
      {"grey16.jp2", OPJ_CODEC_JP2, OPJ_CLRSPC_GRAY, {{16}}},
      {"grey_signed12.j2k", OPJ_CODEC_J2K, OPJ_CLRSPC_UNSPECIFIED, {{12, true}}},
      {"grey1.j2k", OPJ_CODEC_J2K, OPJ_CLRSPC_UNSPECIFIED, {{1}}},
      {"grey4_alpha10.jp2", OPJ_CODEC_JP2, OPJ_CLRSPC_GRAY, {{4}, {10, false, 1, 1, true}}},
      {"rgba12.jp2", OPJ_CODEC_JP2, OPJ_CLRSPC_SRGB, {{12}, {12}, {12}, {12, false, 1, 1, true}}},
  };
  const int w = 40, h = 9;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto value = [&](int comp, int x, int y) {
      const TComponentSpec& s = c.comps[static_cast<std::size_t>(comp)];
      const long long span = (1LL << s.prec) - 1;
      long long v = ((x * 7 + y * 13 + comp * 5) % 41) * span / 40;
      if (s.sgnd) v -= 1LL << (s.prec - 1);
      return static_cast<int>(v);
    };
    const auto path = dir / c.name;
    ASSERT_TRUE(WriteTestStream(path, c.kind, c.space, w, h, c.comps, value));
    TDecoded d;
    Read(path, d);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.results[0], static_cast<int>(c.comps[0].prec));
    EXPECT_EQ(d.results[1], static_cast<int>(c.comps.size()));
    const std::size_t n = c.comps.size();
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        auto want = [&](std::size_t k) {
          return Scaled(value(static_cast<int>(k), x, y), static_cast<int>(c.comps[k].prec), c.comps[k].sgnd);
        };
        const TPixel got = FramePixel(d.frame, x, y);
        if (n <= 2) {
          ASSERT_EQ(got.r, want(0)) << x << "," << y;
          ASSERT_EQ(got.g, want(0));
          ASSERT_EQ(got.b, want(0));
          ASSERT_EQ(got.a, n == 2 ? want(1) : 0);
        } else {
          ASSERT_EQ(got.r, want(0)) << x << "," << y;
          ASSERT_EQ(got.g, want(1));
          ASSERT_EQ(got.b, want(2));
          ASSERT_EQ(got.a, n == 4 ? want(3) : 0);
        }
      }
  }
}

TEST_F(Jpeg2000MgrTest, LumaChromaAndSubsampledComponentsBecomeRgb) {
  // Left half pure red, right half pure blue, as full-range YCbCr; the chroma
  // planes have half the width and height of the luma plane.
  struct TYcc {
    int y, cb, cr;
  };
  auto toYcc = [](double r, double g, double b) {
    const double yy = 0.299 * r + 0.587 * g + 0.114 * b;
    return TYcc{int(std::lround(yy)), int(std::lround(128 + (b - yy) / 1.772)),
                int(std::lround(128 + (r - yy) / 1.402))};
  };
  const TYcc red = toYcc(255, 0, 0), blue = toYcc(0, 0, 255);
  const int w = 32, h = 16;
  auto value = [&](int comp, int x, int) {
    const bool left = (comp == 0 ? x : 2 * x) < w / 2;
    const TYcc& c = left ? red : blue;
    return comp == 0 ? c.y : comp == 1 ? c.cb : c.cr;
  };
  const std::vector<TComponentSpec> comps = {{8}, {8, false, 2, 2}, {8, false, 2, 2}};
  struct TCase {
    const char* name;
    OPJ_CODEC_FORMAT kind;
    OPJ_COLOR_SPACE space;
  };
  // A JP2 says sYCC; a bare code stream is taken as luma and chroma by its
  // subsampled second component.
  for (const TCase& c : {TCase{"sycc.jp2", OPJ_CODEC_JP2, OPJ_CLRSPC_SYCC},
                         TCase{"ycc420.j2k", OPJ_CODEC_J2K, OPJ_CLRSPC_UNSPECIFIED}}) {
    SCOPED_TRACE(c.name);
    const auto path = dir / c.name;
    ASSERT_TRUE(WriteTestStream(path, c.kind, c.space, w, h, comps, value));
    TDecoded d;
    Read(path, d);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.frame.nWidth, w);
    ASSERT_EQ(d.frame.nHeight, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const TPixel got = FramePixel(d.frame, x, y);
        const bool left = x < w / 2;
        ASSERT_NEAR(got.r, left ? 255 : 0, 3) << x << "," << y;
        ASSERT_NEAR(got.g, 0, 3) << x << "," << y;
        ASSERT_NEAR(got.b, left ? 0 : 255, 3) << x << "," << y;
      }
  }
}

TEST_F(Jpeg2000MgrTest, CmykBecomesRgb) {
  // Written as four sRGB components, then the colour box's enumerated space
  // (16, sRGB) turned into 12 (CMYK).
  const int w = 16, h = 4;
  auto value = [](int comp, int x, int y) { return (x * 16 + y * 40 + comp * 60) % 256; };
  const auto path = dir / "cmyk.jp2";
  ASSERT_TRUE(WriteTestStream(path, OPJ_CODEC_JP2, OPJ_CLRSPC_SRGB, w, h, {{8}, {8}, {8}, {8}}, value));
  auto bytes = tovrin_test::ReadAll(path);
  const std::string colr = "colr";
  const auto at = std::search(bytes.begin(), bytes.end(), colr.begin(), colr.end());
  ASSERT_NE(at, bytes.end());
  const std::size_t enumcs = static_cast<std::size_t>(at - bytes.begin()) + 4 + 3;
  ASSERT_EQ(bytes[enumcs + 3], 16);
  bytes[enumcs + 3] = 12;
  tovrin_test::WriteAll(path, bytes);
  TDecoded d;
  Read(path, d);
  ASSERT_TRUE(d.ok);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double k = 1.0 - value(3, x, y) / 255.0;
      auto want = [&](int comp) {
        return static_cast<int>(std::lround((1.0 - value(comp, x, y) / 255.0) * k * 255));
      };
      const TPixel got = FramePixel(d.frame, x, y);
      ASSERT_NEAR(got.r, want(0), 1) << x << "," << y;
      ASSERT_NEAR(got.g, want(1), 1);
      ASSERT_NEAR(got.b, want(2), 1);
    }
}

TEST_F(Jpeg2000MgrTest, FilesAgreeWithAnIndependentDecoderAndEncoder) {
  const int w = 29, h = 17;
  const Dib::TDibSection picture = NoisySection(w, h, 11);
  std::vector<std::uint8_t> rgb;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const TPixel p = SectionPixel(picture, x, y);
      rgb.insert(rgb.end(), {std::uint8_t(p.r), std::uint8_t(p.g), std::uint8_t(p.b)});
    }
  // ffmpeg's own JPEG 2000 decoder reads what this manager wrote.
  for (const auto& [name, mode] :
       {std::pair{"ours.jp2", J2K_MODE_LOSSLESS}, std::pair{"ours.jpc", J2K_MODE_JPC}}) {
    SCOPED_TRACE(name);
    const auto path = dir / name;
    ASSERT_TRUE(mgr.SaveJpeg2000(path.string(), FF_JP2, Settings(J2K_CS_RGB, mode, 1000), picture));
    const auto decoded =
        RunCapture("ffmpeg -v error -c:v jpeg2000 -i " + Quote(path) + " -f rawvideo -pix_fmt rgb24 -");
    ASSERT_TRUE(decoded.has_value()) << "ffmpeg could not decode " << name;
    EXPECT_TRUE(*decoded == rgb);
  }
  // This manager reads what ffmpeg's encoder wrote, losslessly.
  tovrin_test::WriteAll(dir / "in.rgb", rgb);
  for (const char* format : {"jp2", "j2k"}) {
    SCOPED_TRACE(format);
    const auto path = dir / (std::string("theirs.") + format);
    ASSERT_TRUE(RunCapture("ffmpeg -v error -y -f rawvideo -pix_fmt rgb24 -s " + std::to_string(w) + "x" +
                           std::to_string(h) + " -i " + Quote(dir / "in.rgb") +
                           " -c:v jpeg2000 -pred dwt53 -format " + format + " " + Quote(path))
                    .has_value());
    TDecoded d;
    Read(path, d);
    ASSERT_TRUE(d.ok);
    int mismatches = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const TPixel a = SectionPixel(picture, x, y), b = FramePixel(d.frame, x, y);
        mismatches += a.r != b.r || a.g != b.g || a.b != b.b;
      }
    EXPECT_EQ(mismatches, 0);
  }
}

TEST_F(Jpeg2000MgrTest, RefusedSettingsWriteNoFile) {
  const Dib::TDibSection picture = NoisySection(8, 8, 1);
  struct TCase {
    const char* what;
    TJpeg2000Settings settings;
  };
  const TCase cases[] = {
      {"grey", Settings(J2K_CS_GREY, J2K_MODE_JP2)},
      {"grey + alpha", Settings(J2K_CS_GREY_ALPHA, J2K_MODE_JP2)},
      {"palette", Settings(J2K_CS_PALETTE, J2K_MODE_JP2)},
      {"colour space 0", Settings(0, J2K_MODE_JP2)},
      {"16 bits", Settings(J2K_CS_RGB, J2K_MODE_JP2, 300, 16)},
      {"mode 4", Settings(J2K_CS_RGB, 4)},
      {"mode 0", Settings(J2K_CS_RGB, 0)},
      {"rate 0", Settings(J2K_CS_RGB, J2K_MODE_JP2, 0)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    const auto path = dir / "refused.jp2";
    EXPECT_FALSE(mgr.SaveJpeg2000(path.string(), FF_JP2, c.settings, picture));
    EXPECT_FALSE(std::filesystem::exists(path));
  }
  // Bitmaps that are neither 24 nor 32 bits deep.
  Dib::TDibSection eight = NoisySection(8, 8, 1);
  eight.header.biBitCount = 8;
  EXPECT_FALSE(
      mgr.SaveJpeg2000((dir / "eight.jp2").string(), FF_JP2, Settings(J2K_CS_RGB, J2K_MODE_JP2), eight));
  EXPECT_FALSE(std::filesystem::exists(dir / "eight.jp2"));
}

TEST_F(Jpeg2000MgrTest, LowBitDepthsStillWriteEightBitSamples) {
  const Dib::TDibSection picture = NoisySection(12, 10, 5);
  for (const std::int32_t depth : {1, 2, 4}) {
    const auto path = dir / ("depth" + std::to_string(depth) + ".jp2");
    ASSERT_TRUE(mgr.SaveJpeg2000(path.string(), FF_JP2, Settings(J2K_CS_RGB, J2K_MODE_LOSSLESS, 300, depth),
                                 picture));
    TDecoded d;
    Read(path, d);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.results[0], 8);
    const TPixel a = SectionPixel(picture, 5, 3), b = FramePixel(d.frame, 5, 3);
    EXPECT_TRUE(a.r == b.r && a.g == b.g && a.b == b.b);
  }
}

TEST_F(Jpeg2000MgrTest, FailedWritesLeaveNoFileAndKeepTheOldOne) {
  const Dib::TDibSection first = NoisySection(10, 10, 1), second = NoisySection(10, 10, 2);
  const auto path = dir / "keep.jp2";
  ASSERT_TRUE(mgr.SaveJpeg2000(path.string(), FF_JP2, Settings(J2K_CS_RGB, J2K_MODE_LOSSLESS), first));
  const auto before = tovrin_test::ReadAll(path);
  // A refused save leaves the earlier file as it was.
  EXPECT_FALSE(mgr.SaveJpeg2000(path.string(), FF_JP2, Settings(J2K_CS_GREY, J2K_MODE_LOSSLESS), second));
  EXPECT_EQ(tovrin_test::ReadAll(path), before);
  // Saving again under the same name replaces it.
  ASSERT_TRUE(mgr.SaveJpeg2000(path.string(), FF_JP2, Settings(J2K_CS_RGB, J2K_MODE_LOSSLESS), second));
  TDecoded d;
  Read(path, d);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(FramePixel(d.frame, 4, 4).g, SectionPixel(second, 4, 4).g);

  // A folder that does not exist: the request fails with its code, and no
  // file or leftover appears.
  const auto missing = dir / "no_such_folder" / "x.jp2";
  sink.Clear();
  testing::internal::CaptureStderr();
  const bool saved =
      mgr.SaveJpeg2000(missing.string(), FF_JP2, Settings(J2K_CS_RGB, J2K_MODE_LOSSLESS), first);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(saved);
  EXPECT_FALSE(std::filesystem::exists(missing.parent_path()));
  // Logged, not shown.
  EXPECT_TRUE(sink.Messages().empty());
  EXPECT_EQ(log, "Can not write file " + missing.string() + "\n");
  EXPECT_EQ(tovrin_test::EntryCount(dir.Path()), 1u);
}

TEST_F(Jpeg2000MgrTest, WriteRequestsAreChecked) {
  TFrameBuffer frame = tovrin_test::FrameRecord(PF_RGB32, 4, 4);
  ASSERT_TRUE(AllocFrameBuffer(&frame));
  std::memset(frame.pBuffer, 0x40, static_cast<std::size_t>(frame.nSize));
  const std::string path = (dir / "request.jp2").string();
  TJpeg2000Settings settings = Settings(J2K_CS_RGB, J2K_MODE_JP2);

  TMediaRequest request;
  request.eOp = MEDIA_OP_WRITE_STILL;
  request.pPath = &path;
  request.pFrameBuffer = &frame;
  request.pParams = &settings;
  // Without the tag the request is not this manager's: no error code.
  request.eTag = MEDIA_REQ_PNG;
  EXPECT_FALSE(mgr.WriteJpeg2000(request));
  EXPECT_EQ(request.eError, MEDIA_ERR_NONE);
  request.eTag = MEDIA_REQ_JPEG2000;
  request.pParams = nullptr;
  EXPECT_FALSE(mgr.WriteJpeg2000(request));
  EXPECT_EQ(request.eError, MEDIA_ERR_NONE);
  // A frame of another layout fails with the write code.
  request.pParams = &settings;
  frame.ePixelFormat = PF_RGB24;
  EXPECT_FALSE(mgr.WriteJpeg2000(request));
  EXPECT_EQ(request.eError, MEDIA_ERR_WRITE_JPEG2000);
  frame.ePixelFormat = PF_RGB32;
  EXPECT_TRUE(mgr.WriteJpeg2000(request));
  EXPECT_TRUE(request.bSuccess);
  EXPECT_EQ(request.eError, MEDIA_ERR_NONE);
  EXPECT_TRUE(std::filesystem::exists(path));
  FreeFrameBuffer(&frame);
}

TEST_F(Jpeg2000MgrTest, ReadRequestsAreCheckedAndFramesReused) {
  const auto path = dir / "reuse.jp2";
  ASSERT_TRUE(mgr.SaveJpeg2000(path.string(), FF_JP2, Settings(J2K_CS_RGB, J2K_MODE_LOSSLESS),
                               NoisySection(6, 5, 9)));
  TDecoded d;
  Read(path, d);
  ASSERT_TRUE(d.ok);
  std::uint8_t* const buffer = d.frame.pBuffer;
  Read(path, d);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.frame.pBuffer, buffer);

  // Another target format, or no file at all.
  const std::string p = path.string();
  TMediaRequest request;
  request.eOp = MEDIA_OP_READ;
  request.ePixelFormat = PF_RGB24;
  request.pPath = &p;
  request.pFrameBuffer = &d.frame;
  EXPECT_FALSE(mgr.ReadJpeg2000(request));
  EXPECT_EQ(request.eError, MEDIA_ERR_READ_JPEG2000);
  const std::string missing = (dir / "missing.jp2").string();
  request.ePixelFormat = PF_RGB32;
  request.pPath = &missing;
  sink.Clear();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(mgr.ReadJpeg2000(request));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(request.eError, MEDIA_ERR_READ_JPEG2000);
  EXPECT_FALSE(request.bSuccess);
  EXPECT_TRUE(sink.Messages().empty());
  EXPECT_EQ(log, "Can not open file " + missing + "\n");
}

TEST_F(Jpeg2000MgrTest, HostileFilesFailCleanly) {
  const auto good = dir / "good.jp2";
  ASSERT_TRUE(mgr.SaveJpeg2000(good.string(), FF_JP2, Settings(J2K_CS_RGB, J2K_MODE_LOSSLESS),
                               NoisySection(40, 30, 4)));
  const auto jp2 = tovrin_test::ReadAll(good);
  const auto goodJpc = dir / "good.jpc";
  ASSERT_TRUE(mgr.SaveJpeg2000(goodJpc.string(), FF_JPC, Settings(J2K_CS_RGB, J2K_MODE_JPC, 1000),
                               NoisySection(40, 30, 4)));
  const auto jpc = tovrin_test::ReadAll(goodJpc);
  // Offsets in a code stream: SIZ begins at 2; Xsiz at 8, Ysiz at 12, Csiz at 40,
  // the first component's Ssiz at 42.
  auto patched = [](std::vector<std::uint8_t> b, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    return b;
  };
  auto cut = [](const std::vector<std::uint8_t>& b, std::size_t n) {
    return std::vector<std::uint8_t>(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
  };
  std::vector<std::uint8_t> noise(300);
  std::mt19937 rng(1);
  for (auto& x : noise) x = static_cast<std::uint8_t>(rng());
  struct TCase {
    const char* what;
    std::vector<std::uint8_t> bytes;
  };
  const TCase cases[] = {
      {"empty", {}},
      {"noise", noise},
      {"signature box only", cut(jp2, 12)},
      {"JP2 cut in its header", cut(jp2, 60)},
      {"JP2 cut in its code stream", cut(jp2, jp2.size() / 2)},
      {"code stream markers only", {0xFF, 0x4F, 0xFF, 0x51}},
      {"code stream cut in SIZ", cut(jpc, 20)},
      {"code stream cut in its data", cut(jpc, jpc.size() / 3)},
      {"width 2^31", patched(jpc, 8, {0x80, 0x00, 0x00, 0x00})},
      {"huge width and height",
       patched(patched(jpc, 8, {0x7F, 0xFF, 0xFF, 0xFF}), 12, {0x7F, 0xFF, 0xFF, 0xFF})},
      {"zero height", patched(jpc, 12, {0, 0, 0, 0})},
      {"precision 38", patched(jpc, 42, {0x25})},
      {"no components", patched(jpc, 40, {0x00, 0x00})},
      {"5000 components", patched(jpc, 40, {0x13, 0x88})},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    const auto path = dir / "hostile.jp2";
    tovrin_test::WriteAll(path, c.bytes);
    sink.Clear();
    TDecoded d;
    testing::internal::CaptureStderr();
    Read(path, d);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, MEDIA_ERR_READ_JPEG2000);
    EXPECT_TRUE(sink.Messages().empty());
    EXPECT_FALSE(log.empty());
  }
}

// The library's messages go to the log, each once per call, and never to a
// message box.
TEST_F(Jpeg2000MgrTest, LibraryMessagesAreLoggedOncePerCall) {
  const auto good = dir / "good.jpc";
  ASSERT_TRUE(mgr.SaveJpeg2000(good.string(), FF_JPC, Settings(J2K_CS_RGB, J2K_MODE_JPC, 1000),
                               NoisySection(40, 30, 4)));
  auto bytes = tovrin_test::ReadAll(good);
  bytes.resize(bytes.size() / 2);
  const auto path = dir / "cut.jpc";
  tovrin_test::WriteAll(path, bytes);
  TDecoded d;
  testing::internal::CaptureStderr();
  Read(path, d);
  const std::string log = testing::internal::GetCapturedStderr();
  ASSERT_FALSE(d.ok);
  EXPECT_TRUE(sink.Messages().empty());
  std::vector<std::string> errors;
  for (std::size_t at = 0, end; at < log.size(); at = end + 1) {
    end = log.find('\n', at);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(at, end - at);
    if (line.rfind("JPEG 2000 library error: ", 0) == 0) errors.push_back(line);
  }
  ASSERT_FALSE(errors.empty()) << log;
  // No line twice.
  std::vector<std::string> sorted = errors;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << log;
}

}  // namespace
