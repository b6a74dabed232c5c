// TIFF codec manager: round trips for every colour space, depth and lossless
// compression the writer takes, the tags it writes, JPEG strips, refused
// settings, cross-checks with ffmpeg's own TIFF codec, files made with the
// library in other layouts, and hostile files.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <tiffio.h>

#include <csignal>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "io/codecs/tiff_mgr.h"
#include "io/media_request.h"
#include "media/dib.h"
#include "media/frame_buffer.h"
#include "platform/message_sink.h"
#include "tests/support/codecs/picture_support.h"
#include "tests/support/message_fixture.h"
#include "tests/support/test_support.h"

namespace {

using namespace ZarnTypes;
using TiffMgr::CTiffMgr;
using tovrin_test::FramePixel;
using tovrin_test::MakeSection;
using tovrin_test::Quote;
using tovrin_test::RunCapture;
using tovrin_test::SectionPixel;
using tovrin_test::TPixel;

// Colours drawn from a fixed set of `colours` entries (all when 0).
Dib::TDibSection NoisySection(int w, int h, unsigned seed, int colours = 0, bool topDown = false,
                              int bits = 32) {
  std::mt19937 rng(seed);
  std::vector<TPixel> set(colours > 0 ? colours : 0);
  for (auto& p : set) p = {int(rng() & 255), int(rng() & 255), int(rng() & 255), 255};
  std::vector<TPixel> px(static_cast<std::size_t>(w) * h);
  for (auto& p : px)
    p = colours > 0 ? set[rng() % set.size()]
                    : TPixel{int(rng() & 255), int(rng() & 255), int(rng() & 255), int(rng() & 255)};
  return MakeSection(
      w, h, [&](int x, int y) { return px[static_cast<std::size_t>(y) * w + x]; }, topDown, bits);
}

// Result fields the file does not give stay -1.
struct TDecoded : tovrin_test::TDecoded {
  TDecoded() : tovrin_test::TDecoded(-1) {}
};

void Read(const std::filesystem::path& path, TDecoded& out) {
  tovrin_test::ReadPicture(path, out, [](TMediaRequest& request) { return CTiffMgr().ReadTiff(request); });
}

TTiffSettings Settings(std::int32_t colorSpace, std::int32_t depth, std::int32_t compression,
                       std::int32_t colorBits = 8) {
  TTiffSettings s;
  s.nColorSpace = colorSpace;
  s.nBitDepth = depth;
  s.nCompression = compression;
  s.nColorBits = colorBits;
  return s;
}

// The tags of a written file, as the library reads them.
struct TTags {
  std::uint32_t width = 0, height = 0;
  std::uint16_t compression = 0, photometric = 0, bits = 0, samples = 0, orientation = 0, planar = 0;
  std::vector<std::uint16_t> extra;
  std::vector<std::uint16_t> red, green, blue;
};

std::optional<TTags> ReadTags(const std::filesystem::path& path) {
  TIFF* tif = TIFFOpen(path.string().c_str(), "r");
  if (!tif) return std::nullopt;
  TTags t;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &t.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &t.height);
  TIFFGetField(tif, TIFFTAG_COMPRESSION, &t.compression);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.photometric);
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &t.bits);
  TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &t.samples);
  TIFFGetField(tif, TIFFTAG_ORIENTATION, &t.orientation);
  TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &t.planar);
  std::uint16_t count = 0;
  std::uint16_t* values = nullptr;
  if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &values)) t.extra.assign(values, values + count);
  std::uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
  if (t.photometric == PHOTOMETRIC_PALETTE && TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b)) {
    const std::size_t n = std::size_t{1} << t.bits;
    t.red.assign(r, r + n);
    t.green.assign(g, g + n);
    t.blue.assign(b, b + n);
  }
  TIFFClose(tif);
  return t;
}

// A TIFF written with the library itself: rows given top first as packed
// samples.
bool WriteWithLibrary(const std::filesystem::path& path, std::uint32_t w, std::uint32_t h,
                      std::uint16_t samples, std::uint16_t bits, std::uint16_t photometric,
                      std::uint16_t orientation, const std::vector<std::vector<std::uint8_t>>& rows) {
  TIFF* tif = TIFFOpen(path.string().c_str(), "w");
  if (!tif) return false;
  bool ok =
      TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w) && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h) &&
      TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples) && TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits) &&
      TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric) &&
      TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
      TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation) && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 3u);
  for (std::uint32_t y = 0; ok && y < h; ++y) {
    std::vector<std::uint8_t> row = rows[y];
    ok = TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
  }
  TIFFClose(tif);
  return ok;
}

// A little-endian classic TIFF built field by field: header, one directory
// of SHORT/LONG entries (value in the entry), then `tail` bytes.
std::vector<std::uint8_t> HandMadeTiff(const std::vector<std::array<std::uint32_t, 3>>& entries,
                                       const std::vector<std::uint8_t>& tail = {}) {
  std::vector<std::uint8_t> b = {'I', 'I', 42, 0, 8, 0, 0, 0};
  auto u16 = [&](std::uint32_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
  };
  auto u32 = [&](std::uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  u16(static_cast<std::uint32_t>(entries.size()));
  for (const auto& [tag, type, value] : entries) {
    u16(tag);
    u16(type);
    u32(1);
    if (type == 3) {
      u16(value);
      u16(0);
    } else
      u32(value);
  }
  u32(0);
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

using tovrin_test::TFileSizeLimit;

// The quantisation tables of a JPEG stream (JPEG tables or a whole JPEG):
// each DQT entry with 8-bit precision, its 64 values in the stream's order.
std::vector<std::vector<int>> QuantTables(const std::uint8_t* p, std::size_t n) {
  std::vector<std::vector<int>> tables;
  for (std::size_t i = 0; i + 4 <= n; ++i) {
    if (p[i] != 0xFF || p[i + 1] != 0xDB) continue;
    const std::size_t length = (std::size_t{p[i + 2]} << 8) | p[i + 3];
    std::size_t at = i + 4;
    const std::size_t end = std::min(n, i + 2 + length);
    while (at < end) {
      // 8- or 16-bit entries (the library takes 16 for values above 255).
      const bool wide = (p[at] >> 4) != 0;
      const std::size_t size = 1 + (wide ? 128 : 64);
      if (at + size > end) break;
      std::vector<int> table(64);
      for (std::size_t k = 0; k < 64; ++k)
        table[k] = wide ? p[at + 1 + 2 * k] << 8 | p[at + 2 + 2 * k] : p[at + 1 + k];
      tables.push_back(std::move(table));
      at += size;
    }
  }
  return tables;
}

class TiffMgrTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  CTiffMgr mgr;
};

// ---------------------------------------------------------------------------

TEST_F(TiffMgrTest, LosslessRoundTripsAreExactWithTheirTags) {
  struct TCase {
    const char* name;
    std::int32_t colorSpace, depth, compression;
    std::uint16_t tiffCompression;
    int colours;  // distinct colours of the picture; 0: any
  };
  const TCase cases[] = {
      {"rgb_none", TIFF_CS_RGB, 8, TIFF_COMP_NONE, COMPRESSION_NONE, 0},
      {"rgb_lzw", TIFF_CS_RGB, 8, TIFF_COMP_LZW, COMPRESSION_LZW, 0},
      {"rgb_packbits", TIFF_CS_RGB, 8, TIFF_COMP_PACKBITS, COMPRESSION_PACKBITS, 0},
      {"rgb_zip", TIFF_CS_RGB, 8, TIFF_COMP_ZIP, COMPRESSION_DEFLATE, 0},
      {"rgb_code0", TIFF_CS_RGB, 8, 0, COMPRESSION_NONE, 0},
      {"rgba_none", TIFF_CS_RGB_ALPHA, 8, TIFF_COMP_NONE, COMPRESSION_NONE, 0},
      {"rgba_lzw", TIFF_CS_RGB_ALPHA, 8, TIFF_COMP_LZW, COMPRESSION_LZW, 0},
      {"rgba_packbits", TIFF_CS_RGB_ALPHA, 8, TIFF_COMP_PACKBITS, COMPRESSION_PACKBITS, 0},
      {"rgba_zip", TIFF_CS_RGB_ALPHA, 8, TIFF_COMP_ZIP, COMPRESSION_DEFLATE, 0},
      {"pal8_none", TIFF_CS_PALETTE, 8, TIFF_COMP_NONE, COMPRESSION_NONE, 200},
      {"pal8_lzw", TIFF_CS_PALETTE, 8, TIFF_COMP_LZW, COMPRESSION_LZW, 200},
      {"pal8_packbits", TIFF_CS_PALETTE, 8, TIFF_COMP_PACKBITS, COMPRESSION_PACKBITS, 200},
      {"pal8_zip", TIFF_CS_PALETTE, 8, TIFF_COMP_ZIP, COMPRESSION_DEFLATE, 200},
      {"pal4_lzw", TIFF_CS_PALETTE, 4, TIFF_COMP_LZW, COMPRESSION_LZW, 13},
      {"pal4_none", TIFF_CS_PALETTE, 4, TIFF_COMP_NONE, COMPRESSION_NONE, 16},
      {"pal4_packbits", TIFF_CS_PALETTE, 4, TIFF_COMP_PACKBITS, COMPRESSION_PACKBITS, 16},
      {"pal4_zip", TIFF_CS_PALETTE, 4, TIFF_COMP_ZIP, COMPRESSION_DEFLATE, 9},
      {"pal1_none", TIFF_CS_PALETTE, 1, TIFF_COMP_NONE, COMPRESSION_NONE, -1},
      {"pal1_lzw", TIFF_CS_PALETTE, 1, TIFF_COMP_LZW, COMPRESSION_LZW, -1},
      {"pal1_packbits", TIFF_CS_PALETTE, 1, TIFF_COMP_PACKBITS, COMPRESSION_PACKBITS, -1},
      {"pal1_zip", TIFF_CS_PALETTE, 1, TIFF_COMP_ZIP, COMPRESSION_DEFLATE, -1},
      {"pal1_rle", TIFF_CS_PALETTE, 1, TIFF_COMP_HUFFMAN_RLE, COMPRESSION_CCITTRLE, -1},
      {"pal1_fax3", TIFF_CS_PALETTE, 1, TIFF_COMP_FAX3, COMPRESSION_CCITTFAX3, -1},
      {"pal1_fax4", TIFF_CS_PALETTE, 1, TIFF_COMP_FAX4, COMPRESSION_CCITTFAX4, -1},
  };
  const int w = 45, h = 21;
  std::mt19937 rng(3);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    // Opaque colours for RGB + alpha (the library premultiplies other
    // alphas, see below); black and white for 1 bit.
    Dib::TDibSection picture = c.colours < 0
                                   ? MakeSection(w, h,
                                                 [&](int, int) {
                                                   return rng() & 1 ? TPixel{255, 255, 255, 0} : TPixel{};
                                                 })
                                   : NoisySection(w, h, 17, c.colours);
    if (c.colorSpace == TIFF_CS_RGB_ALPHA)
      for (std::size_t i = 3; i < picture.bits.size(); i += 4) picture.bits[i] = 255;
    const auto path = dir / (std::string(c.name) + ".tif");
    ASSERT_TRUE(
        mgr.SaveTiff(path.string(), FF_TIFF, Settings(c.colorSpace, c.depth, c.compression), picture));

    const auto tags = ReadTags(path);
    ASSERT_TRUE(tags.has_value());
    EXPECT_EQ(tags->width, static_cast<std::uint32_t>(w));
    EXPECT_EQ(tags->height, static_cast<std::uint32_t>(h));
    EXPECT_EQ(tags->compression, c.tiffCompression);
    EXPECT_EQ(tags->orientation, ORIENTATION_TOPLEFT);
    EXPECT_EQ(tags->planar, PLANARCONFIG_CONTIG);
    EXPECT_EQ(tags->bits, c.depth);
    const std::uint16_t samples = c.colorSpace == TIFF_CS_PALETTE ? 1 : c.colorSpace == TIFF_CS_RGB ? 3 : 4;
    EXPECT_EQ(tags->samples, samples);
    EXPECT_EQ(tags->photometric, c.colorSpace == TIFF_CS_PALETTE ? PHOTOMETRIC_PALETTE : PHOTOMETRIC_RGB);
    if (c.colorSpace == TIFF_CS_RGB_ALPHA)
      EXPECT_EQ(tags->extra, std::vector<std::uint16_t>{EXTRASAMPLE_UNASSALPHA});
    else
      EXPECT_TRUE(tags->extra.empty());
    if (c.colorSpace == TIFF_CS_PALETTE) {
      // Every colour map entry is an 8-bit component times 257.
      ASSERT_EQ(tags->red.size(), std::size_t{1} << c.depth);
      for (std::size_t i = 0; i < tags->red.size(); ++i)
        ASSERT_TRUE(tags->red[i] % 257 == 0 && tags->green[i] % 257 == 0 && tags->blue[i] % 257 == 0) << i;
    }

    TDecoded d;
    Read(path, d);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.frame.nWidth, w);
    ASSERT_EQ(d.frame.nHeight, h);
    int mismatches = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const TPixel want = SectionPixel(picture, x, y), got = FramePixel(d.frame, x, y);
        mismatches += !got.SameColour(want) || got.a != 255;
      }
    EXPECT_EQ(mismatches, 0);
    const std::int32_t colorCode = c.colorSpace == TIFF_CS_PALETTE ? 3 : c.colorSpace;
    EXPECT_EQ(d.results[TiffMgr::kResultColorCode], colorCode);
    EXPECT_EQ(d.results[TiffMgr::kResultSamplesPerPixel], samples);
    EXPECT_EQ(d.results[TiffMgr::kResultBitsPerSample], c.depth);
    EXPECT_EQ(d.results[TiffMgr::kResultCompression], c.compression >= 2 ? c.compression : 0);
    // Fields the reader has nothing for stay as the caller left them.
    EXPECT_EQ(d.results[0], -1);
    EXPECT_EQ(d.results[4], -1);
  }
  EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(TiffMgrTest, AlphaIsWrittenStraightAndReadPremultiplied) {
  const int w = 23, h = 9;
  const Dib::TDibSection picture = NoisySection(w, h, 8);
  const auto path = dir / "alpha.tif";
  ASSERT_TRUE(mgr.SaveTiff(path.string(), FF_TIFF, Settings(TIFF_CS_RGB_ALPHA, 8, TIFF_COMP_LZW), picture));
  // ffmpeg's own decoder finds the bitmap's samples as they were.
  const auto rgba = RunCapture("ffmpeg -v error -i " + Quote(path) + " -f rawvideo -pix_fmt rgba -");
  ASSERT_TRUE(rgba.has_value());
  ASSERT_EQ(rgba->size(), static_cast<std::size_t>(w * h * 4));
  TDecoded d;
  Read(path, d);
  ASSERT_TRUE(d.ok);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const TPixel want = SectionPixel(picture, x, y);
      const std::uint8_t* theirs = rgba->data() + (static_cast<std::size_t>(y) * w + x) * 4;
      ASSERT_TRUE(theirs[0] == want.r && theirs[1] == want.g && theirs[2] == want.b && theirs[3] == want.a);
      // The library's RGBA interface hands unassociated alpha premultiplied.
      const TPixel got = FramePixel(d.frame, x, y);
      ASSERT_EQ(got.a, want.a);
      ASSERT_NEAR(got.r, want.r * want.a / 255.0, 1.0);
      ASSERT_NEAR(got.g, want.g * want.a / 255.0, 1.0);
      ASSERT_NEAR(got.b, want.b * want.a / 255.0, 1.0);
    }
}

TEST_F(TiffMgrTest, JpegStripsAreWrittenAtTheSettingsQuality) {
  const int w = 64, h = 48;
  const Dib::TDibSection picture = MakeSection(w, h, [](int x, int y) {
    return TPixel{x * 4, y * 5, (x + y) * 2, 255};
  });
  // The first values of the luminance table in zig-zag order, positions
  // (0,0), (0,1), (1,0), (2,0), (1,1), (0,2) of the standard table 16, 11,
  // 12, 14, 12, 10, scaled as the JPEG library does: quality 10 by 500 %,
  // 80 by 40 %, 100 by 0 % (every value 1); 250 is held to 100.
  struct TCase {
    std::int32_t quality;
    std::vector<int> firstValues;
  };
  const TCase cases[] = {{10, {80, 55, 60, 70, 60, 50}},
                         {80, {6, 4, 5, 6, 5, 4}},
                         {100, {1, 1, 1, 1, 1, 1}},
                         {250, {1, 1, 1, 1, 1, 1}}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.quality);
    TTiffSettings s = Settings(TIFF_CS_RGB, 8, TIFF_COMP_JPEG);
    s.nQuality = c.quality;
    const auto path = dir / ("jpeg" + std::to_string(c.quality) + ".tif");
    ASSERT_TRUE(mgr.SaveTiff(path.string(), FF_TIFF, s, picture));
    EXPECT_EQ(ReadTags(path)->compression, COMPRESSION_JPEG);
    TDecoded d;
    Read(path, d);
    ASSERT_TRUE(d.ok);
    if (c.quality >= 80) {
      EXPECT_GT(tovrin_test::ColourPsnr(picture, d.frame), 35.0);
    }
    EXPECT_EQ(d.results[TiffMgr::kResultCompression], 4);

    TIFF* tif = TIFFOpen(path.string().c_str(), "r");
    ASSERT_NE(tif, nullptr);
    std::uint32_t count = 0;
    void* tables = nullptr;
    const bool hasTables = TIFFGetField(tif, TIFFTAG_JPEGTABLES, &count, &tables) != 0;
    std::vector<std::vector<int>> quant;
    if (hasTables) quant = QuantTables(static_cast<const std::uint8_t*>(tables), count);
    TIFFClose(tif);
    ASSERT_TRUE(hasTables);
    ASSERT_FALSE(quant.empty());
    ASSERT_EQ(quant[0].size(), 64u);
    EXPECT_EQ((std::vector<int>(quant[0].begin(), quant[0].begin() + 6)), c.firstValues);
  }
}

// A disk that fills up while the file is written: the save fails with the
// write code, and neither the file nor a part of it stays behind.
TEST_F(TiffMgrTest, AWriteThatFailsPartWayLeavesNoFile) {
  const Dib::TDibSection picture = NoisySection(64, 64, 4);  // 12 KiB of rows
  const auto path = dir / "full.tif";
  TTiffWriteParams params;
  params.settings = Settings(TIFF_CS_RGB, 8, TIFF_COMP_NONE);
  TFrameBuffer frame;
  frame.ePixelFormat = PF_RGB24;
  frame.nWidth = 64;
  frame.nHeight = 64;
  frame.nRowAlignment = 4;
  frame.nHeightAlignment = 1;
  ASSERT_TRUE(AllocFrameBuffer(&frame));
  std::memset(frame.pBuffer, 0x5A, static_cast<std::size_t>(frame.nSize));
  const std::string target = path.string();
  TMediaRequest request;
  request.eOp = MEDIA_OP_WRITE_STILL;
  request.eSourceFormat = FF_TIFF;
  request.pPath = &target;
  request.pFrameBuffer = &frame;
  request.eTag = MEDIA_REQ_TIFF;
  request.pParams = &params;
  bool written = true;
  bool limited = false;
  {
    TFileSizeLimit limit(4096);
    limited = limit.Ok();
    if (limited) written = mgr.WriteTiff(request);
  }
  FreeFrameBuffer(&frame);
  ASSERT_TRUE(limited);
  EXPECT_FALSE(written);
  EXPECT_FALSE(request.bSuccess);
  EXPECT_EQ(request.eError, MEDIA_ERR_WRITE_TIFF);
  EXPECT_EQ(tovrin_test::EntryCount(dir.Path()), 0u);

  // The same through the saver, over an older file that must survive.
  ASSERT_TRUE(mgr.SaveTiff(target, FF_TIFF, Settings(TIFF_CS_RGB, 8, TIFF_COMP_NONE), NoisySection(8, 8, 5)));
  const auto before = tovrin_test::ReadAll(path);
  bool saved = true;
  {
    TFileSizeLimit limit(4096);
    ASSERT_TRUE(limit.Ok());
    saved = mgr.SaveTiff(target, FF_TIFF, Settings(TIFF_CS_RGB, 8, TIFF_COMP_NONE), picture);
  }
  EXPECT_FALSE(saved);
  EXPECT_EQ(tovrin_test::ReadAll(path), before);
  EXPECT_EQ(tovrin_test::EntryCount(dir.Path()), 1u);
}

// A row the library refuses ends the save: wider than a JPEG strip may be,
// so the JPEG codec refuses the first row.
TEST_F(TiffMgrTest, ARowTheLibraryRefusesFailsTheSave) {
  const Dib::TDibSection wide = NoisySection(65536, 2, 6);
  const auto path = dir / "wide.tif";
  EXPECT_FALSE(mgr.SaveTiff(path.string(), FF_TIFF, Settings(TIFF_CS_RGB, 8, TIFF_COMP_JPEG), wide));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(tovrin_test::EntryCount(dir.Path()), 0u);
  EXPECT_FALSE(sink.Messages().empty());
}

TEST_F(TiffMgrTest, RefusedSettingsWriteNoFile) {
  const Dib::TDibSection picture = NoisySection(16, 8, 1);
  struct TCase {
    const char* what;
    TTiffSettings settings;
  };
  std::vector<TCase> cases = {
      {"grey", Settings(TIFF_CS_GREY, 8, TIFF_COMP_LZW)},
      {"grey + alpha", Settings(TIFF_CS_GREY_ALPHA, 8, TIFF_COMP_LZW)},
      {"colour space 0", Settings(0, 8, TIFF_COMP_LZW)},
      {"colour space 6", Settings(6, 8, TIFF_COMP_LZW)},
      {"palette, 2 bits", Settings(TIFF_CS_PALETTE, 2, TIFF_COMP_LZW)},
      {"palette, 16 bits", Settings(TIFF_CS_PALETTE, 16, TIFF_COMP_LZW)},
      {"RGB, 4 bits", Settings(TIFF_CS_RGB, 4, TIFF_COMP_LZW)},
      {"RGB, 1 bit", Settings(TIFF_CS_RGB, 1, TIFF_COMP_NONE)},
      {"RGB, 16 bits", Settings(TIFF_CS_RGB, 16, TIFF_COMP_LZW)},
      {"RGB + alpha, 2 bits", Settings(TIFF_CS_RGB_ALPHA, 2, TIFF_COMP_LZW)},
      {"JPEG palette", Settings(TIFF_CS_PALETTE, 8, TIFF_COMP_JPEG)},
      {"Huffman RLE, RGB", Settings(TIFF_CS_RGB, 8, TIFF_COMP_HUFFMAN_RLE)},
      {"Fax 3, RGB + alpha", Settings(TIFF_CS_RGB_ALPHA, 8, TIFF_COMP_FAX3)},
      {"Fax 4, 8-bit palette", Settings(TIFF_CS_PALETTE, 8, TIFF_COMP_FAX4)},
      {"Fax 4, 4-bit palette", Settings(TIFF_CS_PALETTE, 4, TIFF_COMP_FAX4)},
  };
  if (!TIFFIsCODECConfigured(COMPRESSION_JP2000))
    cases.push_back({"JPEG 2000 without an encoder", Settings(TIFF_CS_RGB, 8, TIFF_COMP_JPEG2000)});
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    const auto path = dir / "refused.tif";
    sink.Clear();
    EXPECT_FALSE(mgr.SaveTiff(path.string(), FF_TIFF, c.settings, picture));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(sink.Messages().size(), 1u);
  }
  Dib::TDibSection sixteen = picture;
  sixteen.header.biBitCount = 16;
  EXPECT_FALSE(mgr.SaveTiff((dir / "sixteen.tif").string(), FF_TIFF, Settings(TIFF_CS_RGB, 8, 2), sixteen));
  EXPECT_FALSE(std::filesystem::exists(dir / "sixteen.tif"));
}

TEST_F(TiffMgrTest, FailedWritesLeaveNoFileAndKeepTheOldOne) {
  const Dib::TDibSection first = NoisySection(10, 10, 1), second = NoisySection(10, 10, 2);
  const auto path = dir / "keep.tif";
  ASSERT_TRUE(mgr.SaveTiff(path.string(), FF_TIFF, Settings(TIFF_CS_RGB, 8, TIFF_COMP_LZW), first));
  const auto before = tovrin_test::ReadAll(path);
  EXPECT_FALSE(mgr.SaveTiff(path.string(), FF_TIFF, Settings(TIFF_CS_RGB, 8, TIFF_COMP_FAX4), second));
  EXPECT_EQ(tovrin_test::ReadAll(path), before);
  ASSERT_TRUE(mgr.SaveTiff(path.string(), FF_TIFF, Settings(TIFF_CS_RGB, 8, TIFF_COMP_ZIP), second));
  TDecoded d;
  Read(path, d);
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(FramePixel(d.frame, 3, 7).SameColour(SectionPixel(second, 3, 7)));

  const auto missing = dir / "no_such_folder" / "x.tif";
  sink.Clear();
  EXPECT_FALSE(mgr.SaveTiff(missing.string(), FF_TIFF, Settings(TIFF_CS_RGB, 8, TIFF_COMP_LZW), first));
  EXPECT_FALSE(std::filesystem::exists(missing.parent_path()));
  EXPECT_FALSE(sink.Messages().empty());
  EXPECT_EQ(tovrin_test::EntryCount(dir.Path()), 1u);
}

TEST_F(TiffMgrTest, SourceRowOrderAndDepthDoNotChangeThePicture) {
  const Dib::TDibSection reference = NoisySection(13, 7, 6, 0, false, 32);
  const Dib::TDibSection variants[] = {NoisySection(13, 7, 6, 0, true, 32),
                                       NoisySection(13, 7, 6, 0, false, 24),
                                       NoisySection(13, 7, 6, 0, true, 24)};
  for (const Dib::TDibSection& s : variants) {
    for (const std::int32_t space : {TIFF_CS_RGB, TIFF_CS_PALETTE}) {
      const auto path = dir / "order.tif";
      ASSERT_TRUE(mgr.SaveTiff(path.string(), FF_TIFF, Settings(space, 8, TIFF_COMP_LZW), s));
      TDecoded d;
      Read(path, d);
      ASSERT_TRUE(d.ok);
      // The palette keeps the colours to the octree's accuracy; the corner
      // pixels tell a flipped picture apart.
      for (const auto& [x, y] : {std::pair{0, 0}, std::pair{12, 0}, std::pair{0, 6}, std::pair{12, 6}}) {
        const TPixel want = SectionPixel(reference, x, y), got = FramePixel(d.frame, x, y);
        const int tolerance = space == TIFF_CS_RGB ? 0 : 40;
        EXPECT_NEAR(got.r, want.r, tolerance);
        EXPECT_NEAR(got.g, want.g, tolerance);
        EXPECT_NEAR(got.b, want.b, tolerance);
      }
    }
  }
}

TEST_F(TiffMgrTest, FilesAgreeWithAnIndependentDecoderAndEncoder) {
  const int w = 31, h = 17;
  // ffmpeg's own TIFF decoder reads what this manager wrote.
  struct TOurs {
    const char* name;
    TTiffSettings settings;
    int colours;
  };
  for (const TOurs& c : {TOurs{"rgb_lzw.tif", Settings(TIFF_CS_RGB, 8, TIFF_COMP_LZW), 0},
                         TOurs{"pal8_packbits.tif", Settings(TIFF_CS_PALETTE, 8, TIFF_COMP_PACKBITS), 100},
                         TOurs{"pal1_fax4.tif", Settings(TIFF_CS_PALETTE, 1, TIFF_COMP_FAX4), 2}}) {
    SCOPED_TRACE(c.name);
    Dib::TDibSection picture = NoisySection(w, h, 21, c.colours);
    if (c.settings.nBitDepth == 1)
      picture = MakeSection(w, h, [](int x, int y) {
        return (x * y + x) % 3 ? TPixel{255, 255, 255} : TPixel{};
      });
    const auto path = dir / c.name;
    ASSERT_TRUE(mgr.SaveTiff(path.string(), FF_TIFF, c.settings, picture));
    const auto rgb = RunCapture("ffmpeg -v error -i " + Quote(path) + " -f rawvideo -pix_fmt rgb24 -");
    ASSERT_TRUE(rgb.has_value());
    ASSERT_EQ(rgb->size(), static_cast<std::size_t>(w * h * 3));
    int mismatches = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const TPixel want = SectionPixel(picture, x, y);
        const std::uint8_t* theirs = rgb->data() + (static_cast<std::size_t>(y) * w + x) * 3;
        mismatches += theirs[0] != want.r || theirs[1] != want.g || theirs[2] != want.b;
      }
    EXPECT_EQ(mismatches, 0);
  }

  // This manager reads what ffmpeg's encoder wrote, in layouts it never
  // writes itself.
  std::mt19937 rng(4);
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3), grey(static_cast<std::size_t>(w) * h);
  for (auto& v : rgb) v = static_cast<std::uint8_t>(rng());
  for (auto& v : grey) v = static_cast<std::uint8_t>(rng());
  tovrin_test::WriteAll(dir / "in.rgb", rgb);
  tovrin_test::WriteAll(dir / "in.grey", grey);
  struct TTheirs {
    const char* name;
    const char* input;   // pixel format and file of the raw input
    const char* output;  // pixel format and compression written
    std::int32_t colorCode, samples, bits, compression;
  };
  const TTheirs theirs[] = {
      {"rgb_deflate.tif", "rgb24 -i in.rgb", "rgb24 -compression_algo deflate", 4, 3, 8, 6},
      {"rgb_raw.tif", "rgb24 -i in.rgb", "rgb24 -compression_algo raw", 4, 3, 8, 0},
      {"grey_lzw.tif", "gray -i in.grey", "gray -compression_algo lzw", 3, 1, 8, 2},
      {"grey16_packbits.tif", "gray -i in.grey", "gray16le -compression_algo packbits", 3, 1, 16, 3},
  };
  for (const TTheirs& c : theirs) {
    SCOPED_TRACE(c.name);
    const auto path = dir / c.name;
    ASSERT_TRUE(RunCapture("cd " + Quote(dir.Path()) + " && ffmpeg -v error -y -f rawvideo -s " +
                           std::to_string(w) + "x" + std::to_string(h) + " -pix_fmt " + c.input +
                           " -pix_fmt " + c.output + " " + Quote(path))
                    .has_value());
    TDecoded d;
    Read(path, d);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.frame.nWidth, w);
    ASSERT_EQ(d.frame.nHeight, h);
    const bool isGrey = c.samples == 1;
    int mismatches = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * w + x;
        const TPixel want =
            isGrey ? TPixel{grey[i], grey[i], grey[i]} : TPixel{rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]};
        mismatches += !FramePixel(d.frame, x, y).SameColour(want);
      }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(d.results[TiffMgr::kResultColorCode], c.colorCode);
    EXPECT_EQ(d.results[TiffMgr::kResultSamplesPerPixel], c.samples);
    EXPECT_EQ(d.results[TiffMgr::kResultBitsPerSample], c.bits);
    EXPECT_EQ(d.results[TiffMgr::kResultCompression], c.compression);
  }

  // Subsampled YCbCr: a smooth picture comes back close to what went in.
  std::vector<std::uint8_t> smooth;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x)
      smooth.insert(smooth.end(), {std::uint8_t(x * 8), std::uint8_t(y * 16), std::uint8_t((x + y) * 5)});
  tovrin_test::WriteAll(dir / "smooth.rgb", smooth);
  const auto ycc = dir / "ycbcr420.tif";
  ASSERT_TRUE(RunCapture("ffmpeg -v error -y -f rawvideo -s 32x16 -pix_fmt rgb24 -i " +
                         Quote(dir / "smooth.rgb") + " -pix_fmt yuv420p -compression_algo raw " + Quote(ycc))
                  .has_value());
  TDecoded d;
  Read(ycc, d);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.results[TiffMgr::kResultColorCode], 6);
  int worst = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) {
      const std::uint8_t* want = smooth.data() + (static_cast<std::size_t>(y) * 32 + x) * 3;
      const TPixel got = FramePixel(d.frame, x, y);
      worst =
          std::max({worst, std::abs(got.r - want[0]), std::abs(got.g - want[1]), std::abs(got.b - want[2])});
    }
  EXPECT_LE(worst, 16);
}

TEST_F(TiffMgrTest, OrientationOfTheFileIsHonoured) {
  // The same picture stored top row first and bottom row first reads the
  // same: bottom-up rows, blue first.
  const std::uint32_t w = 5, h = 4;
  std::vector<std::vector<std::uint8_t>> rows(h);
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x)
      rows[y].insert(rows[y].end(), {std::uint8_t(10 + x), std::uint8_t(100 + y), std::uint8_t(200 + x + y)});
  std::vector<std::vector<std::uint8_t>> flipped(rows.rbegin(), rows.rend());
  ASSERT_TRUE(WriteWithLibrary(dir / "top.tif", w, h, 3, 8, PHOTOMETRIC_RGB, ORIENTATION_TOPLEFT, rows));
  ASSERT_TRUE(
      WriteWithLibrary(dir / "bottom.tif", w, h, 3, 8, PHOTOMETRIC_RGB, ORIENTATION_BOTLEFT, flipped));
  for (const char* name : {"top.tif", "bottom.tif"}) {
    SCOPED_TRACE(name);
    TDecoded d;
    Read(dir / name, d);
    ASSERT_TRUE(d.ok);
    for (std::uint32_t y = 0; y < h; ++y)
      for (std::uint32_t x = 0; x < w; ++x) {
        const TPixel got = FramePixel(d.frame, static_cast<int>(x), static_cast<int>(y));
        ASSERT_EQ(got.r, static_cast<int>(10 + x));
        ASSERT_EQ(got.g, static_cast<int>(100 + y));
        ASSERT_EQ(got.b, static_cast<int>(200 + x + y));
        ASSERT_EQ(got.a, 255);
      }
  }
  // The bottom buffer row is the bottom of the picture, blue first.
  TDecoded d;
  Read(dir / "top.tif", d);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.frame.pBuffer[0], 200 + h - 1);
  EXPECT_EQ(d.frame.pBuffer[2], 10);
}

TEST_F(TiffMgrTest, RequestsAreChecked) {
  const auto path = dir / "x.tif";
  ASSERT_TRUE(
      mgr.SaveTiff(path.string(), FF_TIFF, Settings(TIFF_CS_RGB, 8, TIFF_COMP_LZW), NoisySection(6, 5, 1)));
  TDecoded d;
  Read(path, d);
  ASSERT_TRUE(d.ok);
  std::uint8_t* const buffer = d.frame.pBuffer;
  Read(path, d);
  EXPECT_EQ(d.frame.pBuffer, buffer);  // same size: the storage is reused

  const std::string p = path.string();
  TMediaRequest read;
  read.eOp = MEDIA_OP_READ;
  read.ePixelFormat = PF_RGB24;
  read.pPath = &p;
  read.pFrameBuffer = &d.frame;
  EXPECT_FALSE(mgr.ReadTiff(read));
  EXPECT_EQ(read.eError, MEDIA_ERR_READ_TIFF);
  const std::string missing = (dir / "missing.tif").string();
  read.ePixelFormat = PF_RGB32;
  read.pPath = &missing;
  EXPECT_FALSE(mgr.ReadTiff(read));
  EXPECT_EQ(read.eError, MEDIA_ERR_READ_TIFF);

  TTiffWriteParams params;
  params.settings = Settings(TIFF_CS_PALETTE, 8, TIFF_COMP_LZW);
  const std::string out = (dir / "request.tif").string();
  TMediaRequest write;
  write.eOp = MEDIA_OP_WRITE_STILL;
  write.pPath = &out;
  write.eTag = MEDIA_REQ_JPEG2000;
  write.pParams = &params;
  EXPECT_FALSE(mgr.WriteTiff(write));  // not this manager's request
  EXPECT_EQ(write.eError, MEDIA_ERR_NONE);
  write.eTag = MEDIA_REQ_TIFF;
  EXPECT_FALSE(mgr.WriteTiff(write));  // a palette picture without its section
  EXPECT_FALSE(write.bSuccess);
  EXPECT_EQ(write.eError, MEDIA_ERR_NONE);
  EXPECT_FALSE(std::filesystem::exists(out));

  // Which failures carry the write code: a colour space the writer does not
  // take and a palette section it cannot use leave none; a compression the
  // picture cannot take and a missing pixel source set it.
  Dib::TDibPtr bigTable = Dib::CreateDibSectionEx(4, 4, 8);
  ASSERT_TRUE(bigTable);
  bigTable->colorTable.resize(300);
  struct TCase {
    const char* what;
    TTiffSettings settings;
    const Dib::TDibSection* section;
    TMediaRequestError error;
  };
  const TCase cases[] = {
      {"grey", Settings(TIFF_CS_GREY, 8, TIFF_COMP_LZW), nullptr, MEDIA_ERR_NONE},
      {"colour space 9", Settings(9, 8, TIFF_COMP_LZW), nullptr, MEDIA_ERR_NONE},
      {"RGB at 4 bits", Settings(TIFF_CS_RGB, 4, TIFF_COMP_LZW), nullptr, MEDIA_ERR_NONE},
      {"palette of 300 colours", Settings(TIFF_CS_PALETTE, 8, TIFF_COMP_LZW), bigTable.get(), MEDIA_ERR_NONE},
      {"RGB without a frame", Settings(TIFF_CS_RGB, 8, TIFF_COMP_LZW), nullptr, MEDIA_ERR_WRITE_TIFF},
      {"Fax 3 for RGB", Settings(TIFF_CS_RGB, 8, TIFF_COMP_FAX3), nullptr, MEDIA_ERR_WRITE_TIFF},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TTiffWriteParams block;
    block.settings = c.settings;
    block.pSection = c.section;
    TMediaRequest request;
    request.eOp = MEDIA_OP_WRITE_STILL;
    request.pPath = &out;
    request.eTag = MEDIA_REQ_TIFF;
    request.pParams = &block;
    request.bSuccess = true;
    EXPECT_FALSE(mgr.WriteTiff(request));
    EXPECT_FALSE(request.bSuccess);
    EXPECT_EQ(request.eError, c.error);
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

TEST_F(TiffMgrTest, HostileFilesFailCleanly) {
  const auto goodPath = dir / "good.tif";
  ASSERT_TRUE(mgr.SaveTiff(goodPath.string(), FF_TIFF, Settings(TIFF_CS_RGB, 8, TIFF_COMP_LZW),
                           NoisySection(40, 30, 2)));
  const auto good = tovrin_test::ReadAll(goodPath);
  std::vector<std::uint8_t> noise(400);
  std::mt19937 rng(2);
  for (auto& v : noise) v = static_cast<std::uint8_t>(rng());
  auto cut = [](const std::vector<std::uint8_t>& b, std::size_t n) {
    return std::vector<std::uint8_t>(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
  };
  // Grey 8-bit pictures with one strip at offset 8 (where the directory is:
  // the strip reads back the directory's own bytes when the size allows).
  auto grey = [](std::uint32_t w, std::uint32_t h, std::uint32_t stripBytes, std::uint32_t bits = 8,
                 std::vector<std::uint8_t> tail = {}) {
    return HandMadeTiff({{256, 4, w},
                         {257, 4, h},
                         {258, 3, bits},
                         {259, 3, 1},
                         {262, 3, 1},
                         {273, 4, 8},
                         {277, 3, 1},
                         {278, 4, h},
                         {279, 4, stripBytes}},
                        tail);
  };
  struct TCase {
    const char* what;
    std::vector<std::uint8_t> bytes;
  };
  const TCase cases[] = {
      {"empty", {}},
      {"noise", noise},
      {"header only", cut(good, 8)},
      {"directory offset past the end", {'I', 'I', 42, 0, 0xFF, 0xFF, 0, 0}},
      {"big-endian header, nothing else", {'M', 'M', 0, 42}},
      {"100000 x 100000", grey(100000, 100000, 16)},
      {"20000 x 20000", grey(20000, 20000, 16)},
      {"4 billion wide", grey(0xFFFFFFFFu, 1, 16)},
      {"zero width", grey(0, 10, 16)},
      {"strip past the end of the file", grey(64, 64, 4096)},
      {"3 bits per sample", grey(4, 4, 16, 3)},
      {"no picture size", HandMadeTiff({{258, 3, 8}, {262, 3, 1}, {273, 4, 8}, {279, 4, 16}})},
      {"LZW data cut short", cut(good, good.size() / 3)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    const auto path = dir / "hostile.tif";
    tovrin_test::WriteAll(path, c.bytes);
    sink.Clear();
    TDecoded d;
    Read(path, d);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, MEDIA_ERR_READ_TIFF);
    EXPECT_FALSE(sink.Messages().empty());
    // No picture of the size a header claims was allocated for it.
    EXPECT_LE(d.frame.nSize, 64 * 64 * 4);
  }
}

TEST_F(TiffMgrTest, LibraryMessagesReachTheSinkInBoxesNamedAfterTheLibrary) {
  const auto path = dir / "cut.tif";
  ASSERT_TRUE(
      mgr.SaveTiff(path.string(), FF_TIFF, Settings(TIFF_CS_RGB, 8, TIFF_COMP_LZW), NoisySection(40, 30, 2)));
  auto bytes = tovrin_test::ReadAll(path);
  bytes.resize(bytes.size() / 3);
  tovrin_test::WriteAll(path, bytes);
  TDecoded d;
  Read(path, d);
  ASSERT_FALSE(d.ok);
  int errorBoxes = 0;
  for (const auto& box : sink.Messages()) {
    if (box.caption.size() > 6 && box.caption.compare(box.caption.size() - 6, 6, " Error") == 0) {
      ++errorBoxes;
      EXPECT_EQ(box.style & platform::MB_ICON_MASK, platform::MB_ICONEXCLAMATION);
      EXPECT_FALSE(box.text.empty());
    }
  }
  EXPECT_EQ(errorBoxes, 1);
}

}  // namespace
