#include "io/codecs/png_mgr.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <QImage>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "io/codecs/quantizer.h"
#include "media/dib.h"
#include "media/frame_buffer.h"
#include "platform/message_sink.h"
#include "tests/support/codecs/picture_support.h"
#include "tests/support/codecs/qt_image.h"
#include "tests/support/message_fixture.h"
#include "tests/support/test_support.h"

namespace {

using namespace ZarnTypes;
using PngMgr::CPngMgr;
using PngMgr::TPngSettings;
using tovrin_test::ReadAll;
using tovrin_test::TTempDir;
using tovrin_test::WriteAll;

// How the library's errors are led in the log.
constexpr char kLogPrefix[] = "libpng error: ";

struct Rgba {
  int r = 0, g = 0, b = 0, a = 255;
  bool operator==(const Rgba&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rgba& c) {
  return os << "(" << c.r << "," << c.g << "," << c.b << "," << c.a << ")";
}

using Picture = std::function<Rgba(int x, int y)>;

// A 24- or 32-bit section of the picture (the fourth byte is the alpha).
Dib::TDibPtr MakeBitmap(int w, int h, int bits, const Picture& picture, bool topDown = false) {
  Dib::TDibPtr bitmap = Dib::CreateDibSectionEx(w, topDown ? -h : h, bits);
  if (!bitmap) return bitmap;
  const int bpp = bits / 8;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Rgba c = picture(x, y);
      std::uint8_t* p = bitmap->RowFromTop(y) + x * bpp;
      p[0] = static_cast<std::uint8_t>(c.b);
      p[1] = static_cast<std::uint8_t>(c.g);
      p[2] = static_cast<std::uint8_t>(c.r);
      if (bpp == 4) p[3] = static_cast<std::uint8_t>(c.a);
    }
  return bitmap;
}

// Pixel (x, y from the top) of a bottom-up 32-bit decoded frame.
Rgba PixelAt(const TMediaRequest& r, int x, int y) {
  const std::uint8_t* p = r.pPixels + static_cast<std::ptrdiff_t>(r.nHeight - 1 - y) * r.nStride + 4 * x;
  return {p[2], p[1], p[0], p[3]};
}

using Frame = tovrin_test::TOwnedFrame;

TMediaRequest ReadPng(const std::string& path, TFrameBuffer& fb, PngMgr::TPngReadInfo* info = nullptr,
                      TPixelFormat target = PF_RGB32) {
  std::uint8_t results[kMediaResultBlockSize] = {};
  TMediaRequest request = tovrin_test::ReadRequest(path, target, fb, results);
  CPngMgr manager;
  const bool ok = manager.ReadPng(request);
  EXPECT_EQ(ok, request.bSuccess);
  if (info) std::memcpy(info, results, sizeof *info);
  request.pResults = nullptr;
  return request;
}

void ExpectPicture(const TMediaRequest& r, int w, int h, const Picture& want) {
  ASSERT_TRUE(r.bSuccess);
  ASSERT_EQ(r.nWidth, w);
  ASSERT_EQ(r.nHeight, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_EQ(PixelAt(r, x, y), want(x, y)) << "at " << x << "," << y;
}

// The header fields of a PNG file as stored.
struct Ihdr {
  std::uint32_t width = 0, height = 0;
  int depth = 0, colorType = 0, interlace = 0;
};
std::uint32_t Be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}
Ihdr ParseIhdr(const std::vector<std::uint8_t>& f) {
  Ihdr h;
  if (f.size() < 33) return h;
  h.width = Be32(&f[16]);
  h.height = Be32(&f[20]);
  h.depth = f[24];
  h.colorType = f[25];
  h.interlace = f[28];
  return h;
}

// The data of every chunk of a type, in file order.
std::vector<std::vector<std::uint8_t>> Chunks(const std::vector<std::uint8_t>& f, const std::string& type) {
  std::vector<std::vector<std::uint8_t>> out;
  for (std::size_t i = 8; i + 12 <= f.size();) {
    const std::uint32_t len = Be32(&f[i]);
    if (i + 12 + len > f.size()) break;
    if (std::string(f.begin() + static_cast<std::ptrdiff_t>(i + 4),
                    f.begin() + static_cast<std::ptrdiff_t>(i + 8)) == type)
      out.emplace_back(f.begin() + static_cast<std::ptrdiff_t>(i + 8),
                       f.begin() + static_cast<std::ptrdiff_t>(i + 8 + len));
    i += 12 + len;
  }
  return out;
}

// ---------------------------------------------------------------------------
// A small PNG writer of our own for the reader's tests: no filtering, one
// IDAT, any chunks before it, optionally a wrong CRC.

void PutBe32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<std::uint8_t>(x >> s));
}

void AddChunk(std::vector<std::uint8_t>& png, const std::string& type, const std::vector<std::uint8_t>& data,
              bool badCrc = false) {
  PutBe32(png, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = png.size();
  png.insert(png.end(), type.begin(), type.end());
  png.insert(png.end(), data.begin(), data.end());
  uLong crc = crc32(0, png.data() + start, static_cast<uInt>(png.size() - start));
  if (badCrc) crc ^= 1;
  PutBe32(png, static_cast<std::uint32_t>(crc));
}

struct TestPng {
  std::uint32_t width = 0, height = 0;
  int depth = 8, colorType = 0;
  std::vector<std::vector<std::uint8_t>> rows;                            // packed samples, no filter byte
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> chunks;  // between IHDR and IDAT
  bool badIhdrCrc = false, badIdatCrc = false;
};

std::vector<std::uint8_t> Encode(const TestPng& t) {
  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> ihdr;
  PutBe32(ihdr, t.width);
  PutBe32(ihdr, t.height);
  ihdr.push_back(static_cast<std::uint8_t>(t.depth));
  ihdr.push_back(static_cast<std::uint8_t>(t.colorType));
  ihdr.push_back(0);
  ihdr.push_back(0);
  ihdr.push_back(0);
  AddChunk(png, "IHDR", ihdr, t.badIhdrCrc);
  for (const auto& [type, data] : t.chunks) AddChunk(png, type, data);
  std::vector<std::uint8_t> raw;
  for (const auto& row : t.rows) {
    raw.push_back(0);
    raw.insert(raw.end(), row.begin(), row.end());
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> z(size);
  compress2(z.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9);
  z.resize(size);
  AddChunk(png, "IDAT", z, t.badIdatCrc);
  AddChunk(png, "IEND", {});
  return png;
}

std::vector<std::uint8_t> Be16(int v) {
  return {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

// The display gamma the reader finds, for the scope; null leaves it unset.
class ScopedScreenGamma : public tovrin_test::TScopedEnv {
 public:
  explicit ScopedScreenGamma(const char* value)
      : TScopedEnv("SCREEN_GAMMA", value ? std::optional<std::string>(value) : std::nullopt) {}
};

class PngMgrTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  ScopedScreenGamma gamma{nullptr};

  bool Save(const std::string& path, const Dib::TDibSection& bitmap, int code, int depth,
            bool interlaced = false, int significantBits = 8) {
    TPngSettings s;
    s.nColorType = code;
    s.nBitDepth = depth;
    s.bInterlaced = interlaced ? 1 : 0;
    s.nSignificantBits = significantBits;
    CPngMgr manager;
    return manager.SavePng(path, FF_PNG, s, bitmap);
  }

  std::string WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = Path(name);
    WriteAll(path, bytes);
    return path;
  }
};

// ---------------------------------------------------------------------------
// Round trips through the writer and the reader

Rgba Colour(int x, int y) {
  return {(x * 37 + y * 11) % 256, (x * 5 + y * 71) % 256, (x * 101 + y * 3) % 256};
}
Rgba WithAlpha(int x, int y) {
  Rgba c = Colour(x, y);
  c.a = (x * 29 + y * 53) % 256;
  return c;
}
Rgba GreyLevels(int step, int x, int y) {
  const int levels = 255 / step + 1;
  const int v = ((x * 7 + y * 3) % levels) * step;
  return {v, v, v};
}
Rgba BlackWhite(int x, int y) { return (x + 2 * y) % 3 ? Rgba{255, 255, 255} : Rgba{0, 0, 0}; }
Rgba GreyAlpha(int x, int y) {
  Rgba c = GreyLevels(1, x, y);
  c.a = (x * 13 + y * 41) % 256;
  return c;
}
Rgba FewColours(int count, int x, int y) {
  const int i = (x * 3 + y * 5) % count;
  return {(i * 67) % 256, (i * 151) % 256, 255 - i};
}

struct RoundTrip {
  const char* name;
  int code;
  int depth;
  Picture picture;  // also what is read back
  int pngColorType;
};

const RoundTrip kRoundTrips[] = {
    {"grey1", PngMgr::PNG_CODE_GREY, 1, BlackWhite, 0},
    {"grey2", PngMgr::PNG_CODE_GREY, 2, [](int x, int y) { return GreyLevels(85, x, y); }, 0},
    {"grey4", PngMgr::PNG_CODE_GREY, 4, [](int x, int y) { return GreyLevels(17, x, y); }, 0},
    {"grey8", PngMgr::PNG_CODE_GREY, 8, [](int x, int y) { return GreyLevels(1, x, y); }, 0},
    {"grey16", PngMgr::PNG_CODE_GREY, 16, [](int x, int y) { return GreyLevels(1, x, y); }, 0},
    {"grey_alpha8", PngMgr::PNG_CODE_GREY_ALPHA, 8, GreyAlpha, 4},
    {"grey_alpha16", PngMgr::PNG_CODE_GREY_ALPHA, 16, GreyAlpha, 4},
    {"palette1", PngMgr::PNG_CODE_PALETTE, 1, BlackWhite, 3},
    {"palette2", PngMgr::PNG_CODE_PALETTE, 2, [](int x, int y) { return FewColours(4, x, y); }, 3},
    {"palette4", PngMgr::PNG_CODE_PALETTE, 4, [](int x, int y) { return FewColours(16, x, y); }, 3},
    {"palette8", PngMgr::PNG_CODE_PALETTE, 8, [](int x, int y) { return FewColours(200, x, y); }, 3},
    {"rgb8", PngMgr::PNG_CODE_RGB, 8, Colour, 2},
    {"rgb16", PngMgr::PNG_CODE_RGB, 16, Colour, 2},
    {"rgba8", PngMgr::PNG_CODE_RGB_ALPHA, 8, WithAlpha, 6},
    {"rgba16", PngMgr::PNG_CODE_RGB_ALPHA, 16, WithAlpha, 6},
};

class PngRoundTrip : public PngMgrTest, public ::testing::WithParamInterface<std::tuple<RoundTrip, bool>> {};

TEST_P(PngRoundTrip, ReadsBackExactly) {
  const auto& [c, interlaced] = GetParam();
  // Odd sizes, wide enough for the 200 colours of the 8-bit palette.
  constexpr int w = 23, h = 13;
  const Dib::TDibPtr bitmap = MakeBitmap(w, h, 32, c.picture);
  ASSERT_TRUE(bitmap);
  const std::string path = Path("trip.png");
  ASSERT_TRUE(Save(path, *bitmap, c.code, c.depth, interlaced));

  const Ihdr ihdr = ParseIhdr(ReadAll(path));
  EXPECT_EQ(ihdr.width, static_cast<std::uint32_t>(w));
  EXPECT_EQ(ihdr.height, static_cast<std::uint32_t>(h));
  EXPECT_EQ(ihdr.depth, c.depth);
  EXPECT_EQ(ihdr.colorType, c.pngColorType);
  EXPECT_EQ(ihdr.interlace, interlaced ? 1 : 0);

  Frame frame;
  PngMgr::TPngReadInfo info;
  const TMediaRequest r = ReadPng(path, frame.fb, &info);
  ExpectPicture(r, w, h, c.picture);
  EXPECT_EQ(info.nColorType, c.code);
  EXPECT_EQ(info.nBitDepth, c.depth);
  EXPECT_EQ(info.nInterlaced, interlaced ? 1 : 0);
  EXPECT_EQ(r.nStride, w * 4);
  EXPECT_EQ(r.nSize, w * 4 * h);
  EXPECT_TRUE(sink.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(ColourTypes, PngRoundTrip,
                         ::testing::Combine(::testing::ValuesIn(kRoundTrips), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_adam7" : "");
                         });

TEST_F(PngMgrTest, SixteenBitSamplesAreTheEightBitOnesWidened) {
  const Dib::TDibPtr bitmap = MakeBitmap(5, 3, 32, WithAlpha);
  ASSERT_TRUE(Save(Path("rgba16.png"), *bitmap, PngMgr::PNG_CODE_RGB_ALPHA, 16));
  const QImage qt(QString::fromStdString(Path("rgba16.png")));
  ASSERT_EQ(qt.format(), QImage::Format_RGBA64);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      const QRgba64 q = qt.pixelColor(x, y).rgba64();
      const Rgba want = WithAlpha(x, y);
      ASSERT_EQ(q.red(), want.r * 257);
      ASSERT_EQ(q.green(), want.g * 257);
      ASSERT_EQ(q.blue(), want.b * 257);
      ASSERT_EQ(q.alpha(), want.a * 257);
    }
}

TEST_F(PngMgrTest, GreyIsFullRangeLumaAndLowDepthsKeepItsTopBits) {
  // Colours whose luma lies well inside its 2- and 4-bit bucket.
  const Rgba colours[] = {{255, 0, 0},    {0, 255, 0},  {0, 0, 255},
                          {200, 100, 50}, {20, 40, 60}, {255, 255, 255}};
  const auto picture = [&](int x, int) { return colours[x]; };
  const Dib::TDibPtr bitmap = MakeBitmap(6, 1, 32, picture);
  for (const int depth : {2, 4, 8}) {
    const std::string path = Path("grey" + std::to_string(depth) + ".png");
    ASSERT_TRUE(Save(path, *bitmap, PngMgr::PNG_CODE_GREY, depth));
    Frame frame;
    const TMediaRequest r = ReadPng(path, frame.fb);
    ASSERT_TRUE(r.bSuccess);
    for (int x = 0; x < 6; ++x) {
      const Rgba c = colours[x];
      const int luma = static_cast<int>(std::lround(0.299 * c.r + 0.587 * c.g + 0.114 * c.b));
      const int top = luma >> (8 - depth);
      const int want = top * 255 / ((1 << depth) - 1);
      const Rgba got = PixelAt(r, x, 0);
      EXPECT_NEAR(got.r, want, depth == 8 ? 1 : 0) << "depth " << depth << " colour " << c;
      EXPECT_EQ(got.r, got.g);
      EXPECT_EQ(got.r, got.b);
    }
  }
}

TEST_F(PngMgrTest, SourcesWithoutAlphaAreWrittenOpaque) {
  const auto transparentNowhere = [](int x, int y) {
    Rgba c = Colour(x, y);
    c.a = 0;
    return c;
  };
  const Dib::TDibPtr from24 = MakeBitmap(7, 5, 24, Colour);
  const Dib::TDibPtr zeroAlpha = MakeBitmap(7, 5, 32, transparentNowhere);
  for (const int code : {PngMgr::PNG_CODE_RGB_ALPHA, PngMgr::PNG_CODE_GREY_ALPHA}) {
    for (const Dib::TDibSection* bitmap : {from24.get(), zeroAlpha.get()}) {
      const std::string path = Path("opaque.png");
      ASSERT_TRUE(Save(path, *bitmap, code, 8));
      Frame frame;
      const TMediaRequest r = ReadPng(path, frame.fb);
      ASSERT_TRUE(r.bSuccess);
      for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) ASSERT_EQ(PixelAt(r, x, y).a, 255) << "code " << code;
      if (code == PngMgr::PNG_CODE_RGB_ALPHA) {
        EXPECT_EQ(PixelAt(r, 3, 2).r, Colour(3, 2).r);
        EXPECT_EQ(PixelAt(r, 3, 2).b, Colour(3, 2).b);
      }
    }
  }
}

TEST_F(PngMgrTest, TopDownTwentyFourBitBitmapKeepsItsOrientation) {
  const Dib::TDibPtr bitmap = MakeBitmap(9, 6, 24, Colour, /*topDown=*/true);
  ASSERT_TRUE(bitmap && bitmap->TopDown());
  ASSERT_TRUE(Save(Path("td.png"), *bitmap, PngMgr::PNG_CODE_RGB, 8));
  Frame frame;
  ExpectPicture(ReadPng(Path("td.png"), frame.fb), 9, 6, Colour);
}

TEST_F(PngMgrTest, PaletteIsTheQuantizersInItsOrder) {
  // Many colours, reduced with 6 significant bits.
  const Dib::TDibPtr bitmap = MakeBitmap(40, 30, 32, Colour);
  ASSERT_TRUE(Save(Path("pal.png"), *bitmap, PngMgr::PNG_CODE_PALETTE, 8, false, 6));
  Quantizer::CQuantizer quantizer;
  const Quantizer::TPalettePtr palette = quantizer.QuantizeToPalette(*bitmap, 256, 6);
  ASSERT_TRUE(palette);
  const auto plte = Chunks(ReadAll(Path("pal.png")), "PLTE");
  ASSERT_EQ(plte.size(), 1u);
  ASSERT_EQ(plte[0].size(), 3 * palette->entries.size());
  for (std::size_t i = 0; i < palette->entries.size(); ++i) {
    EXPECT_EQ(plte[0][3 * i], palette->entries[i].peRed);
    EXPECT_EQ(plte[0][3 * i + 1], palette->entries[i].peGreen);
    EXPECT_EQ(plte[0][3 * i + 2], palette->entries[i].peBlue);
  }
  // Every written file carries gAMA 0.45455.
  const auto gama = Chunks(ReadAll(Path("pal.png")), "gAMA");
  ASSERT_EQ(gama.size(), 1u);
  EXPECT_EQ(Be32(gama[0].data()), 45455u);
}

TEST_F(PngMgrTest, CompressionLevelComesFromTheSettings) {
  const Dib::TDibPtr bitmap = MakeBitmap(64, 64, 32, [](int x, int) { return Rgba{x * 4, 0, 0}; });
  const CPngMgr defaults;
  EXPECT_EQ(defaults.Compression().nLevel, 9);
  EXPECT_EQ(defaults.Compression().nMemLevel, 8);
  EXPECT_EQ(defaults.Compression().nStrategy, 0);
  EXPECT_EQ(defaults.Compression().nWindowBits, 15);
  EXPECT_EQ(defaults.Compression().nMethod, 8);
  EXPECT_EQ(defaults.Compression().nBufferSize, 8192);
  TPngSettings s;
  s.nCompressionLevel = 0;
  CPngMgr manager;
  ASSERT_TRUE(manager.SavePng(Path("l0.png"), FF_PNG, s, *bitmap));
  s.nCompressionLevel = 9;
  ASSERT_TRUE(manager.SavePng(Path("l9.png"), FF_PNG, s, *bitmap));
  EXPECT_GT(ReadAll(Path("l0.png")).size(), 4 * ReadAll(Path("l9.png")).size());
  Frame frame;
  ExpectPicture(ReadPng(Path("l0.png"), frame.fb), 64, 64, [](int x, int) { return Rgba{x * 4, 0, 0}; });

  // The level reaches the file: zlib records its class in the stream header
  // (FLEVEL, the top two bits of the second byte: 0 for levels 0 and 1, 1
  // for 2..5, 2 for 6, 3 for 7..9). Levels outside 0..9 are taken as the
  // nearest of them.
  const struct {
    int level;
    int flevel;
  } levels[] = {{0, 0}, {1, 0}, {4, 1}, {6, 2}, {7, 3}, {9, 3}, {-1, 0}, {-50, 0}, {10, 3}, {42, 3}};
  for (const auto& l : levels) {
    s.nCompressionLevel = l.level;
    const std::string path = Path("level" + std::to_string(l.level) + ".png");
    ASSERT_TRUE(manager.SavePng(path, FF_PNG, s, *bitmap)) << "level " << l.level;
    const auto idat = Chunks(ReadAll(path), "IDAT");
    ASSERT_FALSE(idat.empty());
    ASSERT_GE(idat[0].size(), 2u);
    EXPECT_EQ(idat[0][1] >> 6, l.flevel) << "level " << l.level;
    ExpectPicture(ReadPng(path, frame.fb), 64, 64, [](int x, int) { return Rgba{x * 4, 0, 0}; });
  }
  EXPECT_TRUE(sink.Messages().empty());
}

// ---------------------------------------------------------------------------
// Files made elsewhere

struct ForeignCase {
  const char* name;
  TestPng (*make)();
  Picture want;
  int code;  // colour type code in the result block
};

// 4 x 2 pictures.
TestPng Grey1() {
  // 1 0 1 1 / 0 1 0 0: 0 is black, 1 white.
  return {4, 2, 1, 0, {{0xB0}, {0x40}}, {}};
}
Rgba Grey1Want(int x, int y) {
  static const int bits[2][4] = {{1, 0, 1, 1}, {0, 1, 0, 0}};
  return bits[y][x] ? Rgba{255, 255, 255} : Rgba{0, 0, 0};
}
TestPng Rgb8WithSbit() {
  TestPng t{4, 2, 8, 2, {}, {{"sBIT", {5, 6, 5}}}};
  for (int y = 0; y < 2; ++y) {
    t.rows.emplace_back();
    for (int x = 0; x < 4; ++x)
      for (int v : {200 - x * 10, 100 + y * 20, 248}) t.rows.back().push_back(static_cast<std::uint8_t>(v));
  }
  return t;
}
Rgba Rgb8WithSbitWant(int x, int y) { return {200 - x * 10, 100 + y * 20, 248}; }
TestPng Rgba16() {
  TestPng t{4, 2, 16, 6, {}, {}};
  for (int y = 0; y < 2; ++y) {
    t.rows.emplace_back();
    for (int x = 0; x < 4; ++x)
      for (int v : {x * 60 + 1, y * 100 + 2, 7, 128 + x}) {
        t.rows.back().push_back(static_cast<std::uint8_t>(v));
        t.rows.back().push_back(static_cast<std::uint8_t>(0xFF - v));  // low byte, dropped
      }
  }
  return t;
}
Rgba Rgba16Want(int x, int y) { return {x * 60 + 1, y * 100 + 2, 7, 128 + x}; }
TestPng GreyWithTrns() {
  TestPng t{4, 2, 8, 0, {{10, 50, 90, 50}, {50, 20, 30, 40}}, {{"tRNS", Be16(50)}}};
  return t;
}
Rgba GreyWithTrnsWant(int x, int y) {
  static const int v[2][4] = {{10, 50, 90, 50}, {50, 20, 30, 40}};
  return {v[y][x], v[y][x], v[y][x], v[y][x] == 50 ? 0 : 255};
}
TestPng Palette2WithTrnsAndHist() {
  // Four entries; index 1 half transparent, index 3 without a tRNS entry.
  TestPng t{4, 2, 2, 3, {{0x1B}, {0xE4}}, {}};
  t.chunks.push_back({"PLTE", {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 8, 7}});
  t.chunks.push_back({"tRNS", {255, 128, 255}});
  t.chunks.push_back({"hIST", {0, 2, 0, 2, 0, 2, 0, 2}});
  return t;
}
Rgba Palette2Want(int x, int y) {
  static const Rgba entries[] = {{255, 0, 0, 255}, {0, 255, 0, 128}, {0, 0, 255, 255}, {9, 8, 7, 255}};
  static const int index[2][4] = {{0, 1, 2, 3}, {3, 2, 1, 0}};
  return entries[index[y][x]];
}
TestPng RgbWithSuggestedPalette() {
  TestPng t{4, 2, 8, 2, {}, {{"PLTE", {1, 2, 3, 200, 100, 50}}}};
  for (int y = 0; y < 2; ++y) {
    t.rows.emplace_back();
    for (int x = 0; x < 4; ++x)
      for (int v : {x * 50, y * 50, 77}) t.rows.back().push_back(static_cast<std::uint8_t>(v));
  }
  return t;
}
Rgba RgbWithSuggestedPaletteWant(int x, int y) { return {x * 50, y * 50, 77}; }

const ForeignCase kForeign[] = {
    {"grey1", Grey1, Grey1Want, PngMgr::PNG_CODE_GREY},
    {"rgb8_sbit", Rgb8WithSbit, Rgb8WithSbitWant, PngMgr::PNG_CODE_RGB},
    {"rgba16", Rgba16, Rgba16Want, PngMgr::PNG_CODE_RGB_ALPHA},
    {"grey_trns", GreyWithTrns, GreyWithTrnsWant, PngMgr::PNG_CODE_GREY},
    {"palette2_trns_hist", Palette2WithTrnsAndHist, Palette2Want, PngMgr::PNG_CODE_PALETTE},
    {"rgb_plte", RgbWithSuggestedPalette, RgbWithSuggestedPaletteWant, PngMgr::PNG_CODE_RGB},
};

class PngForeign : public PngMgrTest, public ::testing::WithParamInterface<ForeignCase> {};

TEST_P(PngForeign, DecodesAsQtDoes) {
  const ForeignCase c = GetParam();
  const TestPng t = c.make();
  const std::string path = WriteFile("foreign.png", Encode(t));
  Frame frame;
  PngMgr::TPngReadInfo info;
  const TMediaRequest r = ReadPng(path, frame.fb, &info);
  ExpectPicture(r, 4, 2, c.want);
  EXPECT_EQ(info.nColorType, c.code);
  EXPECT_EQ(info.nBitDepth, t.depth);
  EXPECT_EQ(info.nInterlaced, 0);

  // Qt rounds 16-bit samples where the reader keeps their high byte, and
  // keeps no colour under full transparency.
  const QImage qt = tovrin_test::QtReadFile(path, QImage::Format_ARGB32);
  ASSERT_FALSE(qt.isNull());
  const int tolerance = t.depth == 16 ? 1 : 0;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) {
      const QRgb q = qt.pixel(x, y);
      const Rgba got = PixelAt(r, x, y);
      EXPECT_NEAR(got.a, qAlpha(q), tolerance) << x << "," << y;
      if (qAlpha(q) == 0) continue;
      EXPECT_NEAR(got.r, qRed(q), tolerance) << x << "," << y;
      EXPECT_NEAR(got.g, qGreen(q), tolerance) << x << "," << y;
      EXPECT_NEAR(got.b, qBlue(q), tolerance) << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, PngForeign, ::testing::ValuesIn(kForeign),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Cross-checks with Qt

TEST_F(PngMgrTest, QtReadsOurFilesAsWeDo) {
  struct Case {
    int code, depth;
    Picture picture;
  };
  const Case cases[] = {
      {PngMgr::PNG_CODE_RGB_ALPHA, 8, WithAlpha},
      {PngMgr::PNG_CODE_GREY, 16, [](int x, int y) { return GreyLevels(1, x, y); }},
      {PngMgr::PNG_CODE_PALETTE, 4, [](int x, int y) { return FewColours(16, x, y); }},
      {PngMgr::PNG_CODE_GREY, 1, BlackWhite},
  };
  for (const Case& c : cases) {
    const Dib::TDibPtr bitmap = MakeBitmap(11, 7, 32, c.picture);
    const std::string path = Path("ours.png");
    ASSERT_TRUE(Save(path, *bitmap, c.code, c.depth, /*interlaced=*/true));
    const QImage qt = tovrin_test::QtReadFile(path, QImage::Format_ARGB32);
    ASSERT_FALSE(qt.isNull());
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 11; ++x) {
        const QRgb q = qt.pixel(x, y);
        ASSERT_EQ((Rgba{qRed(q), qGreen(q), qBlue(q), qAlpha(q)}), c.picture(x, y))
            << "code " << c.code << " depth " << c.depth << " at " << x << "," << y;
      }
  }
}

TEST_F(PngMgrTest, WeReadQtsFilesAsQtDoes) {
  QImage argb(13, 9, QImage::Format_ARGB32);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 13; ++x) {
      const Rgba c = WithAlpha(x, y);
      argb.setPixel(x, y, qRgba(c.r, c.g, c.b, c.a));
    }
  const QImage indexed = argb.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_Indexed8);
  for (const QImage& image : {argb, indexed}) {
    const std::string path = Path("qt.png");
    ASSERT_TRUE(image.save(QString::fromStdString(path), "PNG"));
    const QImage back = tovrin_test::QtReadFile(path, QImage::Format_ARGB32);
    Frame frame;
    const TMediaRequest r = ReadPng(path, frame.fb);
    ASSERT_TRUE(r.bSuccess);
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 13; ++x) {
        const QRgb q = back.pixel(x, y);
        ASSERT_EQ(PixelAt(r, x, y), (Rgba{qRed(q), qGreen(q), qBlue(q), qAlpha(q)})) << x << "," << y;
      }
  }
}

// ---------------------------------------------------------------------------
// Display gamma

struct GammaCase {
  const char* value;  // null: unset
  double want;
};

class ScreenGammaTable : public ::testing::TestWithParam<GammaCase> {};

TEST_P(ScreenGammaTable, UnusableValuesFallBackTo22) {
  const ScopedScreenGamma env(GetParam().value);
  EXPECT_DOUBLE_EQ(PngMgr::GetScreenGamma(), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(Values, ScreenGammaTable,
                         ::testing::Values(GammaCase{nullptr, 2.2}, GammaCase{"1.0", 1.0},
                                           GammaCase{"2.2", 2.2}, GammaCase{" 1.8 ", 1.8},
                                           GammaCase{"0.5", 0.5}, GammaCase{"100", 100.0}, GammaCase{"", 2.2},
                                           GammaCase{"abc", 2.2}, GammaCase{"2.2x", 2.2},
                                           GammaCase{"1,8", 2.2}, GammaCase{"0", 2.2}, GammaCase{"-1", 2.2},
                                           GammaCase{"-0", 2.2}, GammaCase{"inf", 2.2},
                                           GammaCase{"-inf", 2.2}, GammaCase{"nan", 2.2},
                                           GammaCase{"1e400", 2.2}, GammaCase{"1e-400", 2.2},
                                           GammaCase{"0.001", 2.2}, GammaCase{"500", 2.2}));

struct GammaDecodeCase {
  const char* name;
  const char* screenGamma;
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> chunks;
  int want;  // decoded value of a 128 sample
};

class PngGammaDecode : public PngMgrTest, public ::testing::WithParamInterface<GammaDecodeCase> {};

TEST_P(PngGammaDecode, FileGammaMeetsDisplayGamma) {
  const GammaDecodeCase c = GetParam();
  const ScopedScreenGamma env(c.screenGamma);
  TestPng t{2, 1, 8, 0, {{128, 255}}, c.chunks};
  const std::string path = WriteFile("gamma.png", Encode(t));
  Frame frame;
  const TMediaRequest r = ReadPng(path, frame.fb);
  ASSERT_TRUE(r.bSuccess);
  EXPECT_NEAR(PixelAt(r, 0, 0).r, c.want, 1);
  EXPECT_EQ(PixelAt(r, 1, 0).r, 255);
}

std::vector<std::uint8_t> GamaChunk(std::uint32_t g) {
  std::vector<std::uint8_t> v;
  PutBe32(v, g);
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, PngGammaDecode,
    ::testing::Values(
        // 0.45455 against 2.2 is no correction; against a linear display
        // (1.0) the samples become 255 (v / 255)^2.2.
        GammaDecodeCase{"gama_default_screen", nullptr, {{"gAMA", GamaChunk(45455)}}, 128},
        GammaDecodeCase{"gama_screen_1", "1.0", {{"gAMA", GamaChunk(45455)}}, 56},
        GammaDecodeCase{"gama_screen_bad", "-3", {{"gAMA", GamaChunk(45455)}}, 128},
        GammaDecodeCase{"no_gama_screen_1", "1.0", {}, 56},
        GammaDecodeCase{"srgb_screen_1", "1.0", {{"sRGB", {0}}, {"gAMA", GamaChunk(100000)}}, 56},
        // A linear file on the default display: 255 (v / 255)^(1 / 2.2).
        GammaDecodeCase{"linear_file", nullptr, {{"gAMA", GamaChunk(100000)}}, 186}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Damaged and hostile files

struct HostileCase {
  const char* name;
  std::vector<std::uint8_t> (*make)();
  bool allocates;  // the header was good: the frame was prepared before the failure
};

TestPng GoodPng() {
  TestPng t{8, 4, 8, 2, {}, {}};
  for (int y = 0; y < 4; ++y) t.rows.emplace_back(24, static_cast<std::uint8_t>(y * 60));
  return t;
}
std::vector<std::uint8_t> Cut(double fraction) {
  std::vector<std::uint8_t> b = Encode(GoodPng());
  const std::size_t idat = 33 + 12;  // signature, IHDR, IDAT head
  b.resize(idat + static_cast<std::size_t>((b.size() - idat - 12) * fraction));
  return b;
}
std::vector<std::uint8_t> HostileEmpty() { return {}; }
std::vector<std::uint8_t> BadSignature() {
  std::vector<std::uint8_t> b = Encode(GoodPng());
  b[1] = 'Q';
  return b;
}
std::vector<std::uint8_t> CutInIdat() { return Cut(0.5); }
std::vector<std::uint8_t> NoIend() {
  std::vector<std::uint8_t> b = Encode(GoodPng());
  b.erase(b.end() - 12, b.end());
  return b;
}
std::vector<std::uint8_t> IhdrCrc() {
  TestPng t = GoodPng();
  t.badIhdrCrc = true;
  return Encode(t);
}
std::vector<std::uint8_t> IdatCrc() {
  TestPng t = GoodPng();
  t.badIdatCrc = true;
  return Encode(t);
}
std::vector<std::uint8_t> Huge() {
  TestPng t = GoodPng();
  t.width = t.height = 100000;
  return Encode(t);
}
std::vector<std::uint8_t> Enormous() {
  TestPng t = GoodPng();
  t.width = 0x7FFFFFFF;
  t.height = 0x7FFFFFFF;
  return Encode(t);
}
std::vector<std::uint8_t> ZeroWidth() {
  TestPng t = GoodPng();
  t.width = 0;
  return Encode(t);
}
std::vector<std::uint8_t> BadDepth() {
  TestPng t = GoodPng();
  t.depth = 4;  // RGB has no 4-bit samples
  return Encode(t);
}
std::vector<std::uint8_t> ShortRows() {
  TestPng t = GoodPng();
  t.rows.resize(2);  // half the picture's data
  return Encode(t);
}
std::vector<std::uint8_t> GarbageZlib() {
  std::vector<std::uint8_t> b = Encode(GoodPng());
  std::vector<std::uint8_t> out(b.begin(), b.begin() + 33);
  AddChunk(out, "IDAT", {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
  AddChunk(out, "IEND", {});
  return out;
}
std::vector<std::uint8_t> NoIdat() {
  std::vector<std::uint8_t> b = Encode(GoodPng());
  std::vector<std::uint8_t> out(b.begin(), b.begin() + 33);
  AddChunk(out, "IEND", {});
  return out;
}
std::vector<std::uint8_t> PaletteWithoutPlte() {
  TestPng t{4, 1, 8, 3, {{0, 1, 2, 3}}, {}};
  return Encode(t);
}

class PngHostile : public PngMgrTest, public ::testing::WithParamInterface<HostileCase> {};

// No message box: the library's error goes to the log (standard error).
TEST_P(PngHostile, FailsWithTheReadCodeAndLogsTheLibrarysMessage) {
  const HostileCase c = GetParam();
  const std::vector<std::uint8_t> bytes = c.make();
  const std::string path = WriteFile("bad.png", bytes);
  Frame frame;
  testing::internal::CaptureStderr();
  const TMediaRequest r = ReadPng(path, frame.fb);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(r.bSuccess);
  EXPECT_EQ(r.eError, MEDIA_ERR_READ_PNG);
  EXPECT_EQ(frame.fb.pBuffer != nullptr, c.allocates);
  EXPECT_TRUE(sink.Messages().empty());
  EXPECT_NE(log.find(kLogPrefix), std::string::npos) << log;

  // The same bytes from memory fail the same way.
  TMediaRequest m{};
  m.ePixelFormat = PF_RGB32;
  m.pFrameBuffer = &frame.fb;
  CPngMgr manager;
  EXPECT_FALSE(manager.ReadPngMemory(bytes.data(), bytes.size(), m));
  EXPECT_EQ(m.eError, MEDIA_ERR_READ_PNG);
}

INSTANTIATE_TEST_SUITE_P(
    Files, PngHostile,
    ::testing::Values(HostileCase{"empty", HostileEmpty, false},
                      HostileCase{"bad_signature", BadSignature, false},
                      HostileCase{"cut_in_idat", CutInIdat, true}, HostileCase{"no_iend", NoIend, true},
                      HostileCase{"ihdr_crc", IhdrCrc, false}, HostileCase{"idat_crc", IdatCrc, true},
                      HostileCase{"huge", Huge, false}, HostileCase{"enormous", Enormous, false},
                      HostileCase{"zero_width", ZeroWidth, false}, HostileCase{"bad_depth", BadDepth, false},
                      HostileCase{"short_rows", ShortRows, true},
                      HostileCase{"garbage_zlib", GarbageZlib, true}, HostileCase{"no_idat", NoIdat, false},
                      HostileCase{"palette_without_plte", PaletteWithoutPlte, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PngMgrTest, HugePictureIsNamedInTheLog) {
  const std::string path = WriteFile("huge.png", Huge());
  Frame frame;
  testing::internal::CaptureStderr();
  const bool read = ReadPng(path, frame.fb).bSuccess;
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(read);
  EXPECT_TRUE(sink.Messages().empty());
  EXPECT_EQ(log, std::string(kLogPrefix) + "Picture of 100000 x 100000 pixels is too large to decode\n");
}

TEST_F(PngMgrTest, MissingOrEmptyFileAndOtherTargetsFailQuietly) {
  Frame frame;
  TMediaRequest r = ReadPng(Path("absent.png"), frame.fb);
  EXPECT_FALSE(r.bSuccess);
  EXPECT_EQ(r.eError, MEDIA_ERR_READ_PNG);

  const Dib::TDibPtr bitmap = MakeBitmap(4, 4, 32, Colour);
  ASSERT_TRUE(Save(Path("good.png"), *bitmap, PngMgr::PNG_CODE_RGB, 8));
  for (const TPixelFormat target : {PF_RGB24, PF_PACKED_24, PF_DIB_8}) {
    r = ReadPng(Path("good.png"), frame.fb, nullptr, target);
    EXPECT_FALSE(r.bSuccess);
    EXPECT_EQ(r.eError, MEDIA_ERR_READ_PNG);
  }
  EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(PngMgrTest, TaggedReadRequestsFailQuietly) {
  const Dib::TDibPtr bitmap = MakeBitmap(5, 3, 32, Colour);
  ASSERT_TRUE(Save(Path("good.png"), *bitmap, PngMgr::PNG_CODE_RGB, 8));
  const std::vector<std::uint8_t> bytes = ReadAll(Path("good.png"));
  PngMgr::TPngWriteParams block;
  for (TMediaRequestTag tag : {MEDIA_REQ_PNG, MEDIA_REQ_TIFF, MEDIA_REQ_DSHOW_SOURCE}) {
    CPngMgr manager;
    Frame frame;
    const std::string path = Path("good.png");
    TMediaRequest read = tovrin_test::ReadRequest(path, PF_RGB32, frame.fb);
    read.eTag = tag;
    read.pParams = &block;
    EXPECT_FALSE(manager.ReadPng(read)) << tag;
    EXPECT_EQ(read.eError, MEDIA_ERR_READ_PNG) << tag;
    EXPECT_EQ(frame.fb.pBuffer, nullptr) << tag;

    TMediaRequest memory = tovrin_test::ReadRequest(path, PF_RGB32, frame.fb);
    memory.eTag = tag;
    EXPECT_FALSE(manager.ReadPngMemory(bytes.data(), bytes.size(), memory)) << tag;
    EXPECT_EQ(memory.eError, MEDIA_ERR_READ_PNG) << tag;
    EXPECT_EQ(frame.fb.pBuffer, nullptr) << tag;
  }
  EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(PngMgrTest, SecondReadOfTheSameSizeReusesTheFrame) {
  const Dib::TDibPtr bitmap = MakeBitmap(10, 6, 32, Colour);
  ASSERT_TRUE(Save(Path("a.png"), *bitmap, PngMgr::PNG_CODE_RGB, 8));
  Frame frame;
  ASSERT_TRUE(ReadPng(Path("a.png"), frame.fb).bSuccess);
  std::uint8_t* const first = frame.fb.pBuffer;
  ExpectPicture(ReadPng(Path("a.png"), frame.fb), 10, 6, Colour);
  EXPECT_EQ(frame.fb.pBuffer, first);
}

TEST_F(PngMgrTest, MemoryReadHonoursItsPixelLimit) {
  const Dib::TDibPtr bitmap = MakeBitmap(10, 6, 32, Colour);
  ASSERT_TRUE(Save(Path("a.png"), *bitmap, PngMgr::PNG_CODE_RGB, 8));
  const std::vector<std::uint8_t> bytes = ReadAll(Path("a.png"));
  Frame frame;
  TMediaRequest r{};
  r.ePixelFormat = PF_RGB32;
  r.pFrameBuffer = &frame.fb;
  CPngMgr manager;
  EXPECT_FALSE(manager.ReadPngMemory(bytes.data(), bytes.size(), r, 59));
  EXPECT_EQ(r.eError, MEDIA_ERR_READ_PNG);
  EXPECT_TRUE(manager.ReadPngMemory(bytes.data(), bytes.size(), r, 60));
  ExpectPicture(r, 10, 6, Colour);
}

// ---------------------------------------------------------------------------
// Refused and failed writes

struct RefusedCase {
  const char* name;
  int code, depth, significantBits, bitmapBits;
};

class PngRefused : public PngMgrTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(PngRefused, MakesNoFile) {
  const RefusedCase c = GetParam();
  const Dib::TDibPtr bitmap = Dib::CreateDibSectionEx(6, 4, c.bitmapBits);
  ASSERT_TRUE(bitmap);
  EXPECT_FALSE(Save(Path("x.png"), *bitmap, c.code, c.depth, false, c.significantBits));
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PngRefused,
    ::testing::Values(RefusedCase{"rgb4", 5, 4, 6, 32}, RefusedCase{"rgba1", 6, 1, 6, 32},
                      RefusedCase{"grey_alpha4", 3, 4, 6, 32}, RefusedCase{"palette2_bits0", 4, 2, 0, 32},
                      RefusedCase{"palette16", 4, 16, 6, 32}, RefusedCase{"grey3", 2, 3, 6, 32},
                      RefusedCase{"code7", 7, 8, 6, 32}, RefusedCase{"code1", 1, 8, 6, 32},
                      RefusedCase{"palette_bits0", 4, 8, 0, 32}, RefusedCase{"palette_bits9", 4, 4, 9, 32},
                      RefusedCase{"bitmap16", 5, 8, 6, 16}, RefusedCase{"bitmap8", 5, 8, 6, 8}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PngMgrTest, WriteIntoMissingFolderLeavesNothing) {
  const Dib::TDibPtr bitmap = MakeBitmap(6, 4, 32, Colour);
  TPngSettings s;
  PngMgr::TPngWriteParams params{s, nullptr};
  TFrameBuffer fb = tovrin_test::FrameRecord(PF_RGB32, 6, 4);
  fb.pBuffer = bitmap->bits.data();
  ASSERT_TRUE(LayoutFrameBuffer(&fb));
  const std::string path = Path("missing/x.png");
  TMediaRequest r{};
  r.eOp = MEDIA_OP_WRITE_STILL;
  r.eSourceFormat = FF_PNG;
  r.pPath = &path;
  r.nWidth = 6;
  r.nHeight = 4;
  r.ePixelFormat = PF_RGB32;
  r.pFrameBuffer = &fb;
  r.eTag = MEDIA_REQ_PNG;
  r.pParams = &params;
  CPngMgr manager;
  EXPECT_FALSE(manager.WritePng(r));
  EXPECT_FALSE(r.bSuccess);
  EXPECT_EQ(r.eError, MEDIA_ERR_WRITE_PNG);
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

  // The same request into the folder itself succeeds.
  const std::string good = Path("x.png");
  r.pPath = &good;
  EXPECT_TRUE(manager.WritePng(r));
  Frame frame;
  ExpectPicture(ReadPng(good, frame.fb), 6, 4, Colour);
}

struct BadRequestCase {
  const char* name;
  int code;
  TMediaRequestTag tag;
  TPixelFormat layout;
  bool shortFrame;
  TMediaRequestError error;  // an unknown colour type is refused without a code
};

class PngBadRequest : public PngMgrTest, public ::testing::WithParamInterface<BadRequestCase> {};

TEST_P(PngBadRequest, FailsWithItsCodeAndKeepsTheOldFile) {
  const BadRequestCase c = GetParam();
  const Dib::TDibPtr bitmap = MakeBitmap(6, 4, 32, Colour);
  TPngSettings s;
  s.nColorType = c.code;
  PngMgr::TPngWriteParams params{s, nullptr};
  TFrameBuffer fb = tovrin_test::FrameRecord(PF_RGB32, 6, 4);
  fb.pBuffer = bitmap->bits.data();
  ASSERT_TRUE(LayoutFrameBuffer(&fb));
  if (c.shortFrame) fb.nSize -= 1;
  const std::string path = Path("x.png");
  WriteAll(path, std::string("old"));
  TMediaRequest r{};
  r.eOp = MEDIA_OP_WRITE_STILL;
  r.pPath = &path;
  r.nWidth = 6;
  r.nHeight = 4;
  r.ePixelFormat = c.layout;
  r.pFrameBuffer = &fb;
  r.eTag = c.tag;
  r.pParams = &params;
  CPngMgr manager;
  r.bSuccess = true;
  EXPECT_FALSE(manager.WritePng(r));
  EXPECT_FALSE(r.bSuccess);
  EXPECT_EQ(r.eError, c.error);
  const std::vector<std::uint8_t> left = ReadAll(path);
  EXPECT_EQ(std::string(left.begin(), left.end()), "old");
  EXPECT_EQ(tovrin_test::EntryCount(dir.Path()), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, PngBadRequest,
    ::testing::Values(
        BadRequestCase{"unknown_code", 9, MEDIA_REQ_PNG, PF_RGB32, false, MEDIA_ERR_NONE},
        BadRequestCase{"code_0", 0, MEDIA_REQ_PNG, PF_RGB32, false, MEDIA_ERR_NONE},
        BadRequestCase{"wrong_tag", 5, MEDIA_REQ_TIFF, PF_RGB32, false, MEDIA_ERR_WRITE_PNG},
        BadRequestCase{"grey_from_rgb32", 2, MEDIA_REQ_PNG, PF_RGB32, false, MEDIA_ERR_WRITE_PNG},
        BadRequestCase{"palette_without_section", 4, MEDIA_REQ_PNG, PF_DIB_8, false, MEDIA_ERR_WRITE_PNG},
        BadRequestCase{"rgb24_layout", 5, MEDIA_REQ_PNG, PF_RGB24, false, MEDIA_ERR_WRITE_PNG},
        BadRequestCase{"short_frame", 5, MEDIA_REQ_PNG, PF_RGB32, true, MEDIA_ERR_WRITE_PNG}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
