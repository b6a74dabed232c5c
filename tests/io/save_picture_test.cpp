// The still-picture dispatcher, format by format: every file is read back by
// an independent reader (ffmpeg), exact where the format is lossless and
// within a stated tolerance where it is not; palettes are those of the
// octree depths the formats call for; raw YCbCr frames are checked against
// the layouts' own matrix, range and siting computed here. A write that
// fails half-way leaves no file and an existing file as it was.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "io/codecs/quantizer.h"
#include "io/codecs/save_picture.h"
#include "media/file_types.h"
#include "tests/support/codecs/picture_support.h"
#include "tests/support/message_fixture.h"
#include "tests/support/test_support.h"

namespace {

using namespace ZarnTypes;
using tovrin_test::MakeSection;
using tovrin_test::Quote;
using tovrin_test::RunCapture;
using tovrin_test::SectionPixel;
using tovrin_test::TPixel;

constexpr int kWidth = 37;  // odd on purpose
constexpr int kHeight = 23;

// Gradients with a sharp vertical and a sharp horizontal edge.
TPixel TestColour(int x, int y) {
  const int r = (x * 255) / (kWidth - 1);
  const int g = y < 11 ? (y * 20) : 255 - (y - 11) * 9;
  const int b = x < 18 ? 24 : 231;
  return {r, g, b, 0};
}

const Dib::TDibSection& Picture() {
  static const Dib::TDibSection picture = MakeSection(kWidth, kHeight, TestColour);
  return picture;
}

struct TRgb8 {
  int r = 0, g = 0, b = 0;
  bool operator<(const TRgb8& o) const { return std::tie(r, g, b) < std::tie(o.r, o.g, o.b); }
  bool operator==(const TRgb8& o) const { return r == o.r && g == o.g && b == o.b; }
};

// The file decoded by ffmpeg into top-down RGB pixels.
std::optional<std::vector<TRgb8>> DecodeWithFfmpeg(const std::filesystem::path& path,
                                                   const std::string& inputOptions = {}) {
  const auto bytes = RunCapture("ffmpeg -v error " + inputOptions + " -i " + Quote(path) +
                                " -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
  if (!bytes || bytes->size() != static_cast<std::size_t>(kWidth) * kHeight * 3) return std::nullopt;
  std::vector<TRgb8> out(static_cast<std::size_t>(kWidth) * kHeight);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = {(*bytes)[3 * i], (*bytes)[3 * i + 1], (*bytes)[3 * i + 2]};
  return out;
}

TRgb8 Source(int x, int y) {
  const TPixel p = SectionPixel(Picture(), x, y);
  return {p.r, p.g, p.b};
}

double Psnr(const std::vector<TRgb8>& got, const std::function<TRgb8(int, int)>& want) {
  double sum = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const TRgb8 a = got[static_cast<std::size_t>(y) * kWidth + x], b = want(x, y);
      sum += (a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b);
    }
  if (sum == 0) return 99;
  return 20 * std::log10(255.0 / std::sqrt(sum / (kWidth * kHeight * 3.0)));
}

// The palette entry nearest a colour (sum of absolute differences; the first
// such entry wins).
TRgb8 Nearest(const Dib::TPalette& palette, const TRgb8& c) {
  int best = -1, bestDistance = 1 << 30;
  for (std::size_t i = 0; i < palette.entries.size(); ++i) {
    const Dib::TPaletteEntry& e = palette.entries[i];
    const int d = std::abs(e.peRed - c.r) + std::abs(e.peGreen - c.g) + std::abs(e.peBlue - c.b);
    if (d < bestDistance) bestDistance = d, best = static_cast<int>(i);
  }
  const Dib::TPaletteEntry& e = palette.entries[static_cast<std::size_t>(best)];
  return {e.peRed, e.peGreen, e.peBlue};
}

class SavePictureTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  ZarnTypes::TEncoderSettings settings;

  // Saves the picture in a format; the file's path.
  std::filesystem::path Save(std::int32_t format, const std::string& name) {
    const std::filesystem::path path = dir / name;
    EXPECT_TRUE(SavePicture::SaveImageByFormat(path.string(), format, Picture(), settings)) << format;
    return path;
  }

  // A palette format: at most `colours` colours, each pixel the nearest
  // entry of the quantizer's palette of that size and octree depth.
  void ExpectPaletteFile(const std::filesystem::path& path, const Dib::TDibSection& picture, int colours,
                         int depth) {
    Quantizer::CQuantizer quantizer;
    const auto palette = quantizer.QuantizeToPalette(picture, colours, depth);
    ASSERT_TRUE(palette);
    const auto decoded = DecodeWithFfmpeg(path);
    ASSERT_TRUE(decoded.has_value()) << path;
    std::set<TRgb8> seen;
    int wrong = 0;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const TRgb8 got = (*decoded)[static_cast<std::size_t>(y) * kWidth + x];
        const TPixel p = SectionPixel(picture, x, y);
        seen.insert(got);
        wrong += !(got == Nearest(*palette, TRgb8{p.r, p.g, p.b}));
      }
    EXPECT_LE(seen.size(), static_cast<std::size_t>(colours));
    EXPECT_EQ(wrong, 0);
  }

  // A picture of few colours that differ only in low bits: a deep enough
  // octree keeps them all, a shallower one merges them. `step` is the
  // smallest difference between two colours.
  static Dib::TDibSection FewColours(int step, int count) {
    return MakeSection(kWidth, kHeight, [=](int x, int y) {
      const int k = (x / 3 + (y / 4) * 13) % count;
      return TPixel{100 + step * (k % 4), 60 + step * ((k / 4) % 4), 200 - step * (k / 16), 0};
    });
  }
};

TEST_F(SavePictureTest, LosslessFormatsReadBackExactly) {
  const struct {
    std::int32_t format;
    const char* name;
  } cases[] = {{FF_BMP_24BIT, "p24.bmp"}, {FF_BMP_32BIT, "p32.bmp"}, {FF_PNG, "p.png"}, {FF_TIFF, "p.tif"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto decoded = DecodeWithFfmpeg(Save(c.format, c.name));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(Psnr(*decoded, Source), 99);
  }
}

TEST_F(SavePictureTest, BmpDepthsOneAndSixteenKeepWhatTheirDepthHolds) {
  // 1 bit: black and white only, dark pixels black and bright ones white.
  auto decoded = DecodeWithFfmpeg(Save(FF_BMP_1BIT, "p1.bmp"));
  ASSERT_TRUE(decoded.has_value());
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const TRgb8 got = (*decoded)[static_cast<std::size_t>(y) * kWidth + x];
      ASSERT_TRUE(got == (TRgb8{0, 0, 0}) || got == (TRgb8{255, 255, 255})) << x << "," << y;
    }
  EXPECT_TRUE((*decoded)[0] == (TRgb8{0, 0, 0}));  // (0, 24, 24)
  EXPECT_TRUE((*decoded)[static_cast<std::size_t>(kWidth) * 11 + kWidth - 1] == (TRgb8{255, 255, 255}));
  // 16 bits (5-5-5): the top five bits of every component.
  decoded = DecodeWithFfmpeg(Save(FF_BMP_16BIT, "p16.bmp"));
  ASSERT_TRUE(decoded.has_value());
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const TRgb8 got = (*decoded)[static_cast<std::size_t>(y) * kWidth + x], want = Source(x, y);
      ASSERT_EQ(got.r >> 3, want.r >> 3);
      ASSERT_EQ(got.g >> 3, want.g >> 3);
      ASSERT_EQ(got.b >> 3, want.b >> 3);
    }
}

TEST_F(SavePictureTest, PaletteFormatsUseTheirColourCountsAndOctreeDepths) {
  const struct {
    std::int32_t format;
    int colours, depth, step;
    const char* name;
  } cases[] = {
      // 4 bits: 16 colours, octree depth 8 (colours one apart stay apart).
      {FF_BMP_4BIT, 16, 8, 1, "p4.bmp"},
      // 8 bits and GIF: 256 colours, depth 6 (colours four apart stay apart).
      {FF_BMP_8BIT, 256, 6, 4, "p8.bmp"},
      {FF_GIF, 256, 6, 4, "p.gif"},
  };
  ASSERT_EQ(settings.gif.nBitDepth, 8);
  ASSERT_EQ(settings.gif.nSignificantBits, 6);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The gradient picture: the colour count holds.
    ExpectPaletteFile(Save(c.format, c.name), Picture(), c.colours, c.depth);
    // Few colours apart by `step`: each comes back exactly, which a
    // shallower octree would not give.
    const Dib::TDibSection few = FewColours(c.step, c.colours == 16 ? 12 : 48);
    const auto path = dir / (std::string("few-") + c.name);
    ASSERT_TRUE(SavePicture::SaveImageByFormat(path.string(), c.format, few, settings));
    const auto decoded = DecodeWithFfmpeg(path);
    ASSERT_TRUE(decoded.has_value());
    int wrong = 0;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const TPixel p = SectionPixel(few, x, y);
        wrong += !((*decoded)[static_cast<std::size_t>(y) * kWidth + x] == TRgb8{p.r, p.g, p.b});
      }
    EXPECT_EQ(wrong, 0);
  }
}

TEST_F(SavePictureTest, JpegColourAndGreyFollowTheDocumentsQuality) {
  settings.nJpegQuality = 95;
  auto decoded = DecodeWithFfmpeg(Save(FF_JPEG, "c.jpg"));
  ASSERT_TRUE(decoded.has_value());
  // Chroma is subsampled across the sharp colour edges: 26 dB.
  EXPECT_GT(Psnr(*decoded, Source), 26.0);
  const auto high = std::filesystem::file_size(dir / "c.jpg");
  settings.nJpegQuality = 10;
  Save(FF_JPEG, "low.jpg");
  EXPECT_LT(std::filesystem::file_size(dir / "low.jpg"), high);

  settings.nJpegQuality = 95;
  decoded = DecodeWithFfmpeg(Save(FF_JPEG_GRAY, "g.jpg"));
  ASSERT_TRUE(decoded.has_value());
  const auto luma = [](int x, int y) {
    const TRgb8 c = Source(x, y);
    const int v = static_cast<int>(std::lround(0.299 * c.r + 0.587 * c.g + 0.114 * c.b));
    return TRgb8{v, v, v};
  };
  EXPECT_GT(Psnr(*decoded, luma), 30.0);
}

TEST_F(SavePictureTest, JpegTwoThousandCodeStreamIsDispatchedLikeTheJp2File) {
  const std::uint8_t jp2Signature[] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20};
  const std::uint8_t streamStart[] = {0xFF, 0x4F, 0xFF, 0x51};
  const struct {
    std::int32_t format;
    std::int32_t mode;
    bool jp2;
  } cases[] = {{FF_JP2, J2K_MODE_JP2, true},
               {FF_JPC, J2K_MODE_JPC, false},
               {FF_JPC, J2K_MODE_JP2, true},
               {FF_JP2, J2K_MODE_JPC, false}};
  int i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(i);
    settings.jpeg2000.nCompressionMode = c.mode;
    settings.jpeg2000.nQuality = 300;  // rate 0.3
    const auto path = Save(c.format, "j" + std::to_string(i++));
    const auto bytes = tovrin_test::ReadAll(path);
    ASSERT_GE(bytes.size(), 8u);
    if (c.jp2)
      EXPECT_EQ(std::memcmp(bytes.data(), jp2Signature, sizeof jp2Signature), 0);
    else
      EXPECT_EQ(std::memcmp(bytes.data(), streamStart, sizeof streamStart), 0);
    const auto decoded = DecodeWithFfmpeg(path, "-c:v jpeg2000");
    ASSERT_TRUE(decoded.has_value());
    EXPECT_GT(Psnr(*decoded, Source), 28.0);
  }
}

TEST_F(SavePictureTest, FormatsWithoutAWriterAnswerFalseAndWriteNothing) {
  for (std::int32_t format : {27, 29, 35, 36, 40, 45, 52, 95, 0, -1}) {
    SCOPED_TRACE(format);
    EXPECT_FALSE(SavePicture::SaveImageByFormat(Path("none"), format, Picture(), settings));
    EXPECT_EQ(SavePicture::FindFormatWriter(format).eWriter, SavePicture::WRITER_NONE);
  }
  EXPECT_EQ(tovrin_test::EntryCount(dir.Path()), 0u);
}

TEST_F(SavePictureTest, TheTableGivesEachFormatItsWriterAndDepth) {
  using namespace SavePicture;
  const struct {
    std::int32_t format;
    TPictureWriter writer;
    std::int32_t bits;
  } table[] = {{28, WRITER_BMP, 1},       {30, WRITER_BMP, 4},       {31, WRITER_BMP, 8},
               {32, WRITER_BMP, 16},      {33, WRITER_BMP, 24},      {34, WRITER_BMP, 32},
               {37, WRITER_GIF, 32},      {38, WRITER_JPEG, 32},     {39, WRITER_JPEG, 32},
               {41, WRITER_JPEG2000, 32}, {42, WRITER_JPEG2000, 32}, {43, WRITER_PNG, 32},
               {44, WRITER_TIFF, 32},     {53, WRITER_YUV, 24},      {94, WRITER_YUV, 24}};
  for (const auto& row : table) {
    const TFormatWriter w = FindFormatWriter(row.format);
    EXPECT_EQ(w.eWriter, row.writer) << row.format;
    EXPECT_EQ(w.nBitCount, row.bits) << row.format;
  }
}

// ---------------------------------------------------------------------------
// Raw YCbCr

// The layout's value of a pixel, computed from the standards: Kr, Kb of
// BT.601 or BT.709; luma and chroma scaled into the layout's range.
struct TYcc {
  double y, cb, cr;
};

TYcc Ycc(const TRgb8& c, int standard, int range) {
  const double kr = standard == YUV_STD_BT601 ? 0.299 : 0.2126;
  const double kb = standard == YUV_STD_BT601 ? 0.114 : 0.0722;
  const double y = kr * c.r + (1 - kr - kb) * c.g + kb * c.b;  // 0..255
  const double pb = (c.b - y) / (2 * (1 - kb));                // -127.5..127.5
  const double pr = (c.r - y) / (2 * (1 - kr));
  switch (range) {
    // 16-255: both scaled by 239 / 255, chroma centred in its range.
    case YUV_RANGE_16_255:
      return {16 + y * 239.0 / 255.0, 135.5 + pb * 239.0 / 255.0, 135.5 + pr * 239.0 / 255.0};
    case YUV_RANGE_16_235_240:
      return {16 + y * 219.0 / 255.0, 128 + pb * 224.0 / 255.0, 128 + pr * 224.0 / 255.0};
    default: return {y, 128 + pb, 128 + pr};
  }
}

int Clamp8(double v) { return std::clamp(static_cast<int>(std::lround(v)), 0, 255); }

TEST_F(SavePictureTest, RawYuvFramesHoldEachLayoutsMatrixRangeAndSiting) {
  const int alignedW = kWidth + 1, alignedH = kHeight + 1;
  for (int standard = 0; standard < YUV_STD_COUNT; ++standard)
    for (int layout = 0; layout < YUV_LAYOUT_COUNT; ++layout)
      for (int range = 0; range < YUV_RANGE_COUNT; ++range) {
        const std::int32_t format = 53 + 21 * standard + 3 * layout + range;
        SCOPED_TRACE(format);
        const auto path = Save(format, "f" + std::to_string(format) + ".yuv");
        const auto bytes = tovrin_test::ReadAll(path);
        const int cw = layout == YUV_LAYOUT_444 ? alignedW : alignedW / 2;
        const int ch = layout >= YUV_LAYOUT_420_COSITED_EVEN ? alignedH / 2 : alignedH;
        ASSERT_EQ(bytes.size(), static_cast<std::size_t>(alignedW * alignedH + 2 * cw * ch));
        const std::uint8_t* yPlane = bytes.data();
        const std::uint8_t* cbPlane = yPlane + alignedW * alignedH;
        const std::uint8_t* crPlane = cbPlane + cw * ch;
        int worst = 0;
        for (int y = 0; y < kHeight; ++y)
          for (int x = 0; x < kWidth; ++x)
            worst = std::max(
                worst, std::abs(yPlane[y * alignedW + x] - Clamp8(Ycc(Source(x, y), standard, range).y)));
        // Chroma sample (i, j): the pixels it stands for, by siting; a pair
        // or block cut short repeats the pixels present.
        auto sample = [&](int px, int py, bool cr) {
          const TYcc v = Ycc(Source(std::min(px, kWidth - 1), std::min(py, kHeight - 1)), standard, range);
          return Clamp8(cr ? v.cr : v.cb);
        };
        for (int j = 0; j < (layout >= YUV_LAYOUT_420_COSITED_EVEN ? (kHeight + 1) / 2 : kHeight); ++j)
          for (int i = 0; i < (layout == YUV_LAYOUT_444 ? kWidth : (kWidth + 1) / 2); ++i)
            for (bool cr : {false, true}) {
              int want = 0;
              switch (layout) {
                case YUV_LAYOUT_444: want = sample(i, j, cr); break;
                case YUV_LAYOUT_422_COSITED_EVEN: want = sample(2 * i, j, cr); break;
                case YUV_LAYOUT_422_COSITED_ODD: want = sample(2 * i + 1, j, cr); break;
                case YUV_LAYOUT_422_CENTRED:
                  want = (sample(2 * i, j, cr) + sample(2 * i + 1, j, cr)) / 2;
                  break;
                case YUV_LAYOUT_420_COSITED_EVEN:
                  want = (sample(2 * i, 2 * j, cr) + sample(2 * i, 2 * j + 1, cr)) / 2;
                  break;
                case YUV_LAYOUT_420_COSITED_ODD:
                  want = (sample(2 * i + 1, 2 * j, cr) + sample(2 * i + 1, 2 * j + 1, cr)) / 2;
                  break;
                default:
                  want = (sample(2 * i, 2 * j, cr) + sample(2 * i + 1, 2 * j, cr) +
                          sample(2 * i, 2 * j + 1, cr) + sample(2 * i + 1, 2 * j + 1, cr)) /
                         4;
              }
              const std::uint8_t got = (cr ? crPlane : cbPlane)[j * cw + i];
              worst = std::max(worst, std::abs(got - want));
            }
        // Fixed-point coefficients and rounding before the mean: within 2.
        EXPECT_LE(worst, 2);
      }
}

// ---------------------------------------------------------------------------
// Failed writes

using tovrin_test::TFileSizeLimit;

const std::int32_t kEveryFormat[] = {28, 30, 31, 32, 33, 34, 37, 38, 39, 41, 42, 43, 44, 53, 70, 94};

TEST_F(SavePictureTest, AWriteThatFailsHalfWayLeavesNoFileAndTheOldOneUnchanged) {
  const std::string old = "the picture that was here before";
  for (std::int32_t format : kEveryFormat) {
    SCOPED_TRACE(format);
    const auto existing = dir / "existing";
    tovrin_test::WriteAll(existing, old);
    bool replaced = true, created = true;
    {
      TFileSizeLimit limit(64);  // a BMP's headers fit, its rows do not
      ASSERT_TRUE(limit.Ok());
      replaced = SavePicture::SaveImageByFormat(existing.string(), format, Picture(), settings);
      created = SavePicture::SaveImageByFormat(Path("new"), format, Picture(), settings);
    }
    EXPECT_FALSE(replaced);
    EXPECT_FALSE(created);
    const auto bytes = tovrin_test::ReadAll(existing);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), old);
    // Nothing else in the folder: no new file, no temporary one.
    EXPECT_EQ(tovrin_test::EntryCount(dir.Path()), 1u);
    // Without the limit the same save succeeds and replaces the file.
    EXPECT_TRUE(SavePicture::SaveImageByFormat(existing.string(), format, Picture(), settings));
    EXPECT_NE(tovrin_test::ReadAll(existing).size(), old.size());
    EXPECT_EQ(tovrin_test::EntryCount(dir.Path()), 1u);
  }
}

TEST_F(SavePictureTest, AFolderThatCannotBeWrittenGetsNoFile) {
  // A plain file where the folder should be: nothing can be created inside,
  // whoever runs the test.
  tovrin_test::WriteAll(dir / "folder", std::string("not a folder"));
  for (std::int32_t format : kEveryFormat) {
    SCOPED_TRACE(format);
    EXPECT_FALSE(
        SavePicture::SaveImageByFormat((dir / "folder" / "x").string(), format, Picture(), settings));
  }
  EXPECT_EQ(tovrin_test::EntryCount(dir.Path()), 1u);
}

TEST_F(SavePictureTest, TopDownAndTwentyFourBitPicturesAreSavedTheSameWay) {
  const Dib::TDibSection topDown = MakeSection(kWidth, kHeight, TestColour, true, 32);
  const Dib::TDibSection rgb24 = MakeSection(kWidth, kHeight, TestColour, false, 24);
  for (std::int32_t format : {33, 43, 44, 61}) {
    SCOPED_TRACE(format);
    ASSERT_TRUE(SavePicture::SaveImageByFormat(Path("a"), format, Picture(), settings));
    ASSERT_TRUE(SavePicture::SaveImageByFormat(Path("b"), format, topDown, settings));
    ASSERT_TRUE(SavePicture::SaveImageByFormat(Path("c"), format, rgb24, settings));
    EXPECT_EQ(tovrin_test::ReadAll(dir / "a"), tovrin_test::ReadAll(dir / "b"));
    EXPECT_EQ(tovrin_test::ReadAll(dir / "a"), tovrin_test::ReadAll(dir / "c"));
  }
}

}  // namespace
