#include "io/codecs/gif_mgr.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/support/codecs/picture_support.h"
#include "tests/support/codecs/qt_image.h"
#include "tests/support/test_support.h"

namespace {

using namespace ZarnTypes;
using GifMgr::CGifMgr;

using Rgb = tovrin_test::TRgb;

// ---------------------------------------------------------------------------
// A small GIF writer of our own for the reader's tests: every pixel is sent as
// a literal LZW code and the table is cleared before the code size would
// grow, so any layout (images off the screen, indices past the map, missing
// maps) can be written.

struct TestImage {
  int left = 0, top = 0, width = 0, height = 0;
  bool interlace = false;
  std::vector<Rgb> localMap;         // none when empty
  std::vector<std::uint8_t> pixels;  // width x height indices, top row first
  int minCodeSize = 0;               // 0: from the maps
  std::vector<std::uint8_t> codes;   // raw LZW sub-blocks instead of pixels, when not empty
};

struct TestGif {
  int width = 0, height = 0;
  std::vector<Rgb> globalMap;  // none when empty
  int background = 0;
  std::vector<TestImage> images;
  bool comment = false;  // a comment extension before the first image
};

void PutU16(std::vector<std::uint8_t>& v, int x) {
  v.push_back(static_cast<std::uint8_t>(x & 0xFF));
  v.push_back(static_cast<std::uint8_t>((x >> 8) & 0xFF));
}

// Size field of a colour table holding `n` colours (2^(field+1) entries).
int TableField(std::size_t n) {
  int field = 0;
  while ((std::size_t{2} << field) < n) ++field;
  return field;
}

void PutTable(std::vector<std::uint8_t>& out, const std::vector<Rgb>& map) {
  const std::size_t entries = std::size_t{2} << TableField(map.size());
  for (std::size_t i = 0; i < entries; ++i) {
    const Rgb c = i < map.size() ? map[i] : Rgb{};
    out.push_back(static_cast<std::uint8_t>(c.r));
    out.push_back(static_cast<std::uint8_t>(c.g));
    out.push_back(static_cast<std::uint8_t>(c.b));
  }
}

std::vector<std::uint8_t> SubBlocks(const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < data.size(); i += 255) {
    const std::size_t n = std::min<std::size_t>(255, data.size() - i);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(i),
               data.begin() + static_cast<std::ptrdiff_t>(i + n));
  }
  out.push_back(0);
  return out;
}

// `firstCode`, when not negative, is sent right after the first clear code.
std::vector<std::uint8_t> LiteralLzw(const std::vector<std::uint8_t>& indices, int m, int firstCode = -1) {
  const int clear = 1 << m, eoi = clear + 1, bits = m + 1;
  const int limit = (1 << m) - 3;
  std::vector<std::uint8_t> data;
  std::uint32_t acc = 0;
  int used = 0;
  auto put = [&](int code) {
    acc |= static_cast<std::uint32_t>(code) << used;
    used += bits;
    while (used >= 8) {
      data.push_back(static_cast<std::uint8_t>(acc & 0xFF));
      acc >>= 8;
      used -= 8;
    }
  };
  put(clear);
  int run = 0;
  if (firstCode >= 0) {
    put(firstCode);
    ++run;
  }
  for (std::uint8_t index : indices) {
    if (run == limit) {
      put(clear);
      run = 0;
    }
    put(index);
    ++run;
  }
  put(eoi);
  if (used > 0) data.push_back(static_cast<std::uint8_t>(acc & 0xFF));
  return SubBlocks(data);
}

std::vector<std::uint8_t> EncodeTestGif(const TestGif& gif) {
  std::vector<std::uint8_t> out{'G', 'I', 'F', '8', '9', 'a'};
  PutU16(out, gif.width);
  PutU16(out, gif.height);
  out.push_back(
      static_cast<std::uint8_t>(gif.globalMap.empty() ? 0x70 : 0xF0 | TableField(gif.globalMap.size())));
  out.push_back(static_cast<std::uint8_t>(gif.background));
  out.push_back(0);
  if (!gif.globalMap.empty()) PutTable(out, gif.globalMap);
  if (gif.comment) {
    out.insert(out.end(), {0x21, 0xFE, 5, 'h', 'e', 'l', 'l', 'o', 0});
  }
  for (const TestImage& im : gif.images) {
    out.push_back(0x2C);
    PutU16(out, im.left);
    PutU16(out, im.top);
    PutU16(out, im.width);
    PutU16(out, im.height);
    std::uint8_t packed = im.interlace ? 0x40 : 0;
    if (!im.localMap.empty()) packed |= static_cast<std::uint8_t>(0x80 | TableField(im.localMap.size()));
    out.push_back(packed);
    if (!im.localMap.empty()) PutTable(out, im.localMap);
    const std::size_t mapSize = std::max(im.localMap.size(), gif.globalMap.size());
    const int m = im.minCodeSize ? im.minCodeSize : std::max(2, TableField(mapSize) + 1);
    out.push_back(static_cast<std::uint8_t>(m));
    if (!im.codes.empty()) {
      out.insert(out.end(), im.codes.begin(), im.codes.end());
      continue;
    }
    std::vector<std::uint8_t> stored;
    if (im.interlace) {
      const int offset[4] = {0, 4, 2, 1}, jump[4] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass)
        for (int y = offset[pass]; y < im.height; y += jump[pass])
          stored.insert(stored.end(), im.pixels.begin() + y * im.width,
                        im.pixels.begin() + (y + 1) * im.width);
    } else {
      stored = im.pixels;
    }
    const auto lzw = LiteralLzw(stored, m);
    out.insert(out.end(), lzw.begin(), lzw.end());
  }
  out.push_back(0x3B);
  return out;
}

std::vector<std::uint8_t> Indices(int width, int height, int modulo) {
  std::vector<std::uint8_t> v(static_cast<std::size_t>(width * height));
  for (int i = 0; i < width * height; ++i) v[i] = static_cast<std::uint8_t>((i * 7 + i / width) % modulo);
  return v;
}

// ---------------------------------------------------------------------------
// Reading helpers

struct Decoded {
  bool ok = false;
  TMediaRequest request;
  TFrameBuffer frame;
  std::int32_t results[kMediaResultBlockSize / 4];
  Decoded() { std::fill(std::begin(results), std::end(results), -7); }
  ~Decoded() { FreeFrameBuffer(&frame); }
  Decoded(const Decoded&) = delete;

  // Picture pixel (x, y), y counted from the top.
  Rgb At(int x, int y) const {
    const std::uint8_t* p =
        frame.pBuffer + static_cast<std::size_t>(frame.nHeight - 1 - y) * frame.nStride + 4 * x;
    return {p[2], p[1], p[0]};
  }
};

void Decode(const std::vector<std::uint8_t>& bytes, Decoded& d, TPixelFormat target = PF_RGB32) {
  d.request.eOp = MEDIA_OP_READ;
  d.request.ePixelFormat = target;
  d.request.pFrameBuffer = &d.frame;
  d.request.pResults = d.results;
  CGifMgr gif;
  d.ok = gif.ReadGifMemory(bytes.data(), bytes.size(), d.request);
}

// A 32-bit section whose pixels cycle through `colours`.
Dib::TDibPtr Picture32(int width, int height, const std::vector<Rgb>& colours) {
  Dib::TDibPtr s = Dib::CreateDibSectionEx(width, height, 32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const Rgb c = colours[(y * width + x) % colours.size()];
      std::uint8_t* p = s->RowFromTop(y) + 4 * x;
      p[0] = static_cast<std::uint8_t>(c.b);
      p[1] = static_cast<std::uint8_t>(c.g);
      p[2] = static_cast<std::uint8_t>(c.r);
    }
  return s;
}

Rgb PictureAt(const Dib::TDibSection& s, int x, int y) {
  const std::uint8_t* p = s.RowFromTop(y) + (s.BitCount() / 8) * x;
  return {p[2], p[1], p[0]};
}

// ---------------------------------------------------------------------------
// Reading

TEST(GifMgrTest, ReadsBottomUpThirtyTwoBitRowsAndLeavesTheFourthByte) {
  const std::vector<Rgb> map{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}};
  TestGif gif{5, 3, map, 0, {TestImage{0, 0, 5, 3, false, {}, Indices(5, 3, 4)}}};
  const auto bytes = EncodeTestGif(gif);

  Decoded d;
  // A buffer of the right layout with a marked fourth byte is reused as it is.
  d.frame = tovrin_test::FrameRecord(PF_RGB32, 5, 3);
  ASSERT_TRUE(AllocFrameBuffer(&d.frame));
  std::memset(d.frame.pBuffer, 0x5A, static_cast<std::size_t>(d.frame.nSize));
  std::uint8_t* storage = d.frame.pBuffer;

  Decode(bytes, d);
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(d.request.bSuccess);
  EXPECT_EQ(d.frame.pBuffer, storage);
  EXPECT_EQ(d.request.nWidth, 5);
  EXPECT_EQ(d.request.nHeight, 3);
  EXPECT_EQ(d.request.nStride, 20);
  EXPECT_EQ(d.request.nSize, 60);
  EXPECT_EQ(d.request.pPixels, storage);
  const auto indices = Indices(5, 3, 4);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      EXPECT_EQ(d.At(x, y), map[indices[y * 5 + x]]) << x << "," << y;
      EXPECT_EQ(d.frame.pBuffer[(2 - y) * 20 + 4 * x + 3], 0x5A);
    }
  EXPECT_EQ(d.results[GifMgr::kResultImageCount], 1);
  EXPECT_EQ(d.results[GifMgr::kResultGlobalBitsPerPixel], 2);
  EXPECT_EQ(d.results[1], -7);  // other fields untouched
}

TEST(GifMgrTest, NewFrameHasNoStrayFourthBytes) {
  // Into a frame without storage (and one whose storage is replaced): the
  // fourth byte of every pixel is 0, whatever the heap held before.
  const std::vector<Rgb> map{{255, 255, 255}, {0, 0, 0}};
  for (int width : {3, 17}) {
    TestGif gif{width, 4, map, 0, {TestImage{0, 0, width, 4, false, {}, Indices(width, 4, 2)}}};
    Decoded d;
    d.frame = tovrin_test::FrameRecord(PF_RGB32, width + 2, 4);
    ASSERT_TRUE(AllocFrameBuffer(&d.frame));
    std::memset(d.frame.pBuffer, 0x5A, static_cast<std::size_t>(d.frame.nSize));
    Decode(EncodeTestGif(gif), d);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.frame.nWidth, width);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < width; ++x)
        EXPECT_EQ(d.frame.pBuffer[y * d.frame.nStride + 4 * x + 3], 0) << x << "," << y;
  }
}

TEST(GifMgrTest, ReadsTheSameFromAFile) {
  tovrin_test::TTempDir dir;
  const std::vector<Rgb> map{{1, 2, 3}, {200, 100, 50}};
  TestGif gif{4, 4, map, 0, {TestImage{0, 0, 4, 4, false, {}, Indices(4, 4, 2)}}};
  const std::string path = (dir / "a.gif").string();
  tovrin_test::WriteAll(path, EncodeTestGif(gif));
  TFrameBuffer frame;
  TMediaRequest request;
  request.pPath = &path;
  request.ePixelFormat = PF_RGB32;
  request.pFrameBuffer = &frame;
  CGifMgr mgr;
  ASSERT_TRUE(mgr.ReadGif(request));
  // The bottom-left pixel starts the buffer: index (12 x 7 + 3) % 2 = 1.
  EXPECT_EQ(frame.pBuffer[0], 50);
  EXPECT_EQ(frame.pBuffer[1], 100);
  EXPECT_EQ(frame.pBuffer[2], 200);
  FreeFrameBuffer(&frame);

  const std::string missing = (dir / "missing.gif").string();
  request.pPath = &missing;
  EXPECT_FALSE(mgr.ReadGif(request));
  EXPECT_EQ(request.eError, MEDIA_ERR_READ_GIF);
  EXPECT_FALSE(request.bSuccess);
  FreeFrameBuffer(&frame);
}

TEST(GifMgrTest, InterlacedImagesAreDeinterlacedAsQtDoes) {
  const auto map = tovrin_test::RandomColours(16, 3);
  TestGif gif{7, 19, map, 0, {TestImage{0, 0, 7, 19, true, {}, Indices(7, 19, 16)}}};
  const auto bytes = EncodeTestGif(gif);
  Decoded d;
  Decode(bytes, d);
  ASSERT_TRUE(d.ok);
  const QImage qt = tovrin_test::QtReadBytes(bytes, "GIF", QImage::Format_RGB32);
  ASSERT_FALSE(qt.isNull());
  ASSERT_EQ(qt.width(), 7);
  ASSERT_EQ(qt.height(), 19);
  const auto indices = Indices(7, 19, 16);
  for (int y = 0; y < 19; ++y)
    for (int x = 0; x < 7; ++x) {
      const QRgb q = qt.pixel(x, y);
      EXPECT_EQ(d.At(x, y), (Rgb{qRed(q), qGreen(q), qBlue(q)})) << x << "," << y;
      EXPECT_EQ(d.At(x, y), map[indices[y * 7 + x]]);
    }
}

TEST(GifMgrTest, FirstImageIsPlacedOnTheScreenAndClipped) {
  const std::vector<Rgb> map{{0, 0, 0}, {255, 255, 255}, {9, 99, 199}, {50, 60, 70}};
  struct Case {
    const char* what;
    int left, top, width, height;
    int background;
    Rgb expectedBackground;
  };
  const Case cases[] = {
      {"inside, background 2", 1, 2, 3, 2, 2, {9, 99, 199}},
      {"partly off right and bottom", 4, 3, 5, 5, 3, {50, 60, 70}},
      {"larger than the screen", 0, 0, 9, 8, 1, {255, 255, 255}},
      {"wholly outside", 40, 40, 3, 3, 2, {9, 99, 199}},
      {"background past the map", 2, 1, 2, 2, 200, {0, 0, 0}},
  };
  const int sw = 6, sh = 5;
  for (const Case& c : cases) {
    // Index 1 everywhere in the image: white.
    TestImage im{
        c.left, c.top, c.width, c.height, false, {}, std::vector<std::uint8_t>(c.width * c.height, 1)};
    TestGif gif{sw, sh, map, c.background, {im}};
    Decoded d;
    Decode(EncodeTestGif(gif), d);
    ASSERT_TRUE(d.ok) << c.what;
    ASSERT_EQ(d.request.nWidth, sw);
    ASSERT_EQ(d.request.nHeight, sh);
    for (int y = 0; y < sh; ++y)
      for (int x = 0; x < sw; ++x) {
        const bool inside = x >= c.left && x < c.left + c.width && y >= c.top && y < c.top + c.height;
        EXPECT_EQ(d.At(x, y), (inside ? Rgb{255, 255, 255} : c.expectedBackground))
            << c.what << " " << x << "," << y;
      }
  }
}

TEST(GifMgrTest, ColoursComeFromTheFirstImagesMapAndUnknownIndicesAreBlack) {
  const std::vector<Rgb> global{{1, 1, 1}, {2, 2, 2}};
  const std::vector<Rgb> localA{{100, 0, 0}, {0, 100, 0}, {0, 0, 100}, {100, 100, 0}};
  const std::vector<Rgb> localB{{7, 7, 7}, {8, 8, 8}, {9, 9, 9}, {6, 6, 6}};
  {
    // Two images with their own maps: the first image's map colours it.
    TestImage first{0, 0, 4, 1, false, localA, {0, 1, 2, 3}};
    TestImage second{0, 0, 4, 1, false, localB, {3, 2, 1, 0}};
    TestGif gif{4, 1, global, 0, {first, second}, /*comment=*/true};
    Decoded d;
    Decode(EncodeTestGif(gif), d);
    ASSERT_TRUE(d.ok);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(d.At(x, 0), localA[x]);
    EXPECT_EQ(d.results[GifMgr::kResultImageCount], 2);
    EXPECT_EQ(d.results[GifMgr::kResultGlobalBitsPerPixel], 1);
  }
  {
    // Local map only: no global map, so the bits-per-pixel field stays unwritten.
    TestImage only{0, 0, 4, 1, false, localA, {3, 2, 1, 0}};
    TestGif gif{4, 1, {}, 0, {only}};
    Decoded d;
    Decode(EncodeTestGif(gif), d);
    ASSERT_TRUE(d.ok);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(d.At(x, 0), localA[3 - x]);
    EXPECT_EQ(d.results[GifMgr::kResultImageCount], 1);
    EXPECT_EQ(d.results[GifMgr::kResultGlobalBitsPerPixel], -7);
  }
  {
    // A two-colour map with 8-bit codes: indices 2..255 name no colour.
    TestImage im{0, 0, 4, 1, false, {}, {0, 1, 2, 255}, /*minCodeSize=*/8};
    TestGif gif{4, 1, {{10, 20, 30}, {40, 50, 60}}, 0, {im}};
    Decoded d;
    Decode(EncodeTestGif(gif), d);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.At(0, 0), (Rgb{10, 20, 30}));
    EXPECT_EQ(d.At(1, 0), (Rgb{40, 50, 60}));
    EXPECT_EQ(d.At(2, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(d.At(3, 0), (Rgb{0, 0, 0}));
  }
}

TEST(GifMgrTest, HostileFilesFailWithTheReadError) {
  const std::vector<Rgb> map{{0, 0, 0}, {255, 255, 255}, {1, 2, 3}, {4, 5, 6}};
  const TestImage plain{0, 0, 8, 8, false, {}, Indices(8, 8, 4)};
  const auto good = EncodeTestGif(TestGif{8, 8, map, 0, {plain}});

  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"not a GIF", {'P', 'N', 'G', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}});
  cases.push_back({"signature only", {'G', 'I', 'F', '8', '9', 'a'}});
  for (std::size_t cut : {std::size_t{13}, std::size_t{30}, good.size() / 2, good.size() - 3}) {
    cases.push_back(
        {"truncated at " + std::to_string(cut), std::vector<std::uint8_t>(good.begin(), good.begin() + cut)});
  }
  {
    // Complete data led by an LZW code that names no table entry (7, while
    // the next free code is 6).
    TestImage bad = plain;
    bad.codes = LiteralLzw(plain.pixels, 2, 7);
    cases.push_back({"bad LZW code", EncodeTestGif(TestGif{8, 8, map, 0, {bad}})});
    // The same stream with a valid first code reads.
    TestImage fine = plain;
    fine.codes = LiteralLzw(plain.pixels, 2, 1);
    Decoded d;
    Decode(EncodeTestGif(TestGif{8, 8, map, 0, {fine}}), d);
    EXPECT_TRUE(d.ok) << "control stream";
  }
  {
    // A frame of 65535 x 65535 with a few bytes of data.
    TestImage huge{0, 0, 65535, 65535, false, {}, {}};
    huge.codes = SubBlocks({0x04, 0x00});
    cases.push_back({"oversize frame", EncodeTestGif(TestGif{8, 8, map, 0, {huge}})});
  }
  cases.push_back({"screen too large to hold", EncodeTestGif(TestGif{65535, 65535, map, 0, {plain}})});
  cases.push_back({"zero-sized screen", EncodeTestGif(TestGif{0, 0, map, 0, {plain}})});
  cases.push_back({"no colour map", EncodeTestGif(TestGif{8, 8, {}, 0, {plain}})});
  cases.push_back({"no image", EncodeTestGif(TestGif{8, 8, map, 0, {}})});
  {
    // A damaged second image fails the whole read.
    auto twoImages = EncodeTestGif(TestGif{8, 8, map, 0, {plain, plain}});
    if (twoImages.size() > 6) twoImages.resize(twoImages.size() - 6);
    cases.push_back({"damaged second image", twoImages});
  }

  for (const auto& [what, bytes] : cases) {
    Decoded d;
    Decode(bytes, d);
    EXPECT_FALSE(d.ok) << what;
    EXPECT_FALSE(d.request.bSuccess) << what;
    EXPECT_EQ(d.request.eError, MEDIA_ERR_READ_GIF) << what;
    EXPECT_EQ(d.results[GifMgr::kResultImageCount], -7) << what;
  }

  // A good file into a target other than 32 bits fails the same way.
  for (TPixelFormat target : {PF_RGB24, PF_DIB_8, TPixelFormat{0}}) {
    Decoded d;
    Decode(good, d, target);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.request.eError, MEDIA_ERR_READ_GIF);
  }
  // And without a frame buffer.
  TMediaRequest request;
  request.ePixelFormat = PF_RGB32;
  CGifMgr mgr;
  EXPECT_FALSE(mgr.ReadGifMemory(good.data(), good.size(), request));
  EXPECT_EQ(request.eError, MEDIA_ERR_READ_GIF);
}

// ---------------------------------------------------------------------------
// Writing

struct Saved {
  bool ok = false;
  std::vector<std::uint8_t> bytes;
};

Saved Save(const Dib::TDibSection& bitmap, int depth, int significantBits = 8) {
  tovrin_test::TTempDir dir;
  const std::string path = (dir / "out.gif").string();
  TGifSettings settings;
  settings.nBitDepth = depth;
  settings.nSignificantBits = significantBits;
  CGifMgr mgr;
  Saved s;
  s.ok = mgr.SaveGif(path, FF_GIF, settings, bitmap);
  if (std::filesystem::exists(path)) s.bytes = tovrin_test::ReadAll(path);
  return s;
}

TEST(GifMgrTest, RoundTripsAreExactWhenThePaletteHoldsEveryColour) {
  struct Case {
    int depth;
    std::size_t colours;
    int mapBits;  // bits of the written colour map
  };
  for (const Case c : {Case{1, 2, 1}, Case{2, 4, 4}, Case{4, 16, 4}, Case{8, 200, 8}}) {
    std::vector<Rgb> colours = c.depth == 1
                                   ? std::vector<Rgb>{{0, 0, 0}, {255, 255, 255}}
                                   : tovrin_test::RandomColours(c.colours, static_cast<unsigned>(c.depth));
    for (int bits : {24, 32}) {
      const int w = 29, h = 17;
      Dib::TDibPtr picture32 = Picture32(w, h, colours);
      Dib::TDibPtr picture = Dib::CreateDibSectionEx(w, h, bits);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          std::memcpy(picture->RowFromTop(y) + (bits / 8) * x, picture32->RowFromTop(y) + 4 * x, 3);
      const Saved s = Save(*picture, c.depth);
      ASSERT_TRUE(s.ok) << "depth " << c.depth << " bits " << bits;
      ASSERT_GT(s.bytes.size(), 13u);
      // GIF87a, the picture's size, a global map of 2^mapBits entries,
      // background 0, then straight to the image (no extension blocks).
      EXPECT_EQ(std::string(s.bytes.begin(), s.bytes.begin() + 6), "GIF87a");
      EXPECT_EQ(s.bytes[6] | (s.bytes[7] << 8), w);
      EXPECT_EQ(s.bytes[8] | (s.bytes[9] << 8), h);
      EXPECT_EQ(s.bytes[10] & 0x87, 0x80 | (c.mapBits - 1));
      EXPECT_EQ(s.bytes[11], 0);
      EXPECT_EQ(s.bytes[13 + 3 * (1u << c.mapBits)], 0x2C);
      EXPECT_EQ(s.bytes.back(), 0x3B);

      Decoded d;
      Decode(s.bytes, d);
      ASSERT_TRUE(d.ok);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(d.At(x, y), PictureAt(*picture32, x, y)) << x << "," << y;
    }
  }
}

TEST(GifMgrTest, WrittenFilesReadTheSameInQt) {
  const auto colours = tovrin_test::RandomColours(150, 11);
  Dib::TDibPtr picture = Picture32(33, 21, colours);
  const Saved s = Save(*picture, 8);
  ASSERT_TRUE(s.ok);
  const QImage qt = tovrin_test::QtReadBytes(s.bytes, "GIF", QImage::Format_RGB32);
  ASSERT_FALSE(qt.isNull());
  ASSERT_EQ(qt.width(), 33);
  ASSERT_EQ(qt.height(), 21);
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 33; ++x) {
      const QRgb q = qt.pixel(x, y);
      ASSERT_EQ((Rgb{qRed(q), qGreen(q), qBlue(q)}), PictureAt(*picture, x, y)) << x << "," << y;
    }
}

TEST(GifMgrTest, ReducedDepthsKeepTheirColourLimits) {
  // Many colours: depth 2 keeps at most 4 in a 16-entry map; depth 1 is black
  // and white by the nearer of the two.
  Dib::TDibPtr picture = Picture32(40, 30, tovrin_test::RandomColours(500, 5));
  const Saved two = Save(*picture, 2, 6);
  ASSERT_TRUE(two.ok);
  EXPECT_EQ(two.bytes[10] & 0x07, 3);  // 16 entries
  Decoded d2;
  Decode(two.bytes, d2);
  ASSERT_TRUE(d2.ok);
  std::set<Rgb> used;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) used.insert(d2.At(x, y));
  EXPECT_LE(used.size(), 4u);
  EXPECT_GE(used.size(), 2u);

  Dib::TDibPtr greys = Picture32(4, 1, {{127, 127, 127}, {128, 128, 128}, {250, 10, 10}, {10, 250, 250}});
  const Saved one = Save(*greys, 1);
  ASSERT_TRUE(one.ok);
  Decoded d1;
  Decode(one.bytes, d1);
  ASSERT_TRUE(d1.ok);
  EXPECT_EQ(d1.At(0, 0), (Rgb{0, 0, 0}));
  EXPECT_EQ(d1.At(1, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(d1.At(2, 0), (Rgb{0, 0, 0}));
  EXPECT_EQ(d1.At(3, 0), (Rgb{255, 255, 255}));
}

TEST(GifMgrTest, TaggedRequestsAreNotGifRequests) {
  // A tag names a block the GIF manager does not take: its data is never
  // read as a section, and a read fails before decoding anything.
  tovrin_test::TTempDir dir;
  const std::string path = (dir / "t.gif").string();
  const std::vector<Rgb> map{{9, 8, 7}, {1, 2, 3}};
  const auto bytes =
      EncodeTestGif(TestGif{4, 2, map, 0, {TestImage{0, 0, 4, 2, false, {}, Indices(4, 2, 2)}}});
  tovrin_test::WriteAll(path, bytes);
  Dib::TDibPtr section = Dib::CreateDibSectionEx(4, 4, 8);
  CGifMgr mgr;
  for (TMediaRequestTag tag : {MEDIA_REQ_PNG, MEDIA_REQ_DSHOW_SOURCE, MEDIA_REQ_TIFF}) {
    const std::string out = (dir / "w.gif").string();
    TMediaRequest write;
    write.eOp = MEDIA_OP_WRITE_STILL;
    write.pPath = &out;
    write.eTag = tag;
    write.pParams = section.get();
    EXPECT_FALSE(mgr.WriteGif(write)) << tag;
    EXPECT_FALSE(write.bSuccess) << tag;
    EXPECT_EQ(write.eError, MEDIA_ERR_WRITE_GIF) << tag;
    EXPECT_FALSE(std::filesystem::exists(out)) << tag;

    Decoded d;
    d.request.eTag = tag;
    Decode(bytes, d);
    EXPECT_FALSE(d.ok) << tag;
    EXPECT_EQ(d.request.eError, MEDIA_ERR_READ_GIF) << tag;
    EXPECT_EQ(d.frame.pBuffer, nullptr) << tag;
    EXPECT_EQ(d.results[GifMgr::kResultImageCount], -7) << tag;

    TFrameBuffer frame;
    TMediaRequest read;
    read.pPath = &path;
    read.ePixelFormat = PF_RGB32;
    read.pFrameBuffer = &frame;
    read.eTag = tag;
    EXPECT_FALSE(mgr.ReadGif(read)) << tag;
    EXPECT_EQ(read.eError, MEDIA_ERR_READ_GIF) << tag;
    EXPECT_EQ(frame.pBuffer, nullptr) << tag;
  }
  // The same read without a tag succeeds.
  Decoded d;
  Decode(bytes, d);
  EXPECT_TRUE(d.ok);
}

TEST(GifMgrTest, RefusedSavesCreateNoFile) {
  Dib::TDibPtr picture = Picture32(8, 8, {{1, 2, 3}, {4, 5, 6}});
  for (int depth : {0, 3, 5, 6, 7, 9, 16, -1}) {
    const Saved s = Save(*picture, depth);
    EXPECT_FALSE(s.ok) << depth;
    EXPECT_TRUE(s.bytes.empty()) << depth;
  }
  for (int significant : {0, 9}) {
    const Saved s = Save(*picture, 8, significant);
    EXPECT_FALSE(s.ok) << significant;
    EXPECT_TRUE(s.bytes.empty());
  }
  for (int bits : {1, 4, 8, 16}) {
    Dib::TDibPtr other = Dib::CreateDibSectionEx(8, 8, bits);
    const Saved s = Save(*other, 8);
    EXPECT_FALSE(s.ok) << bits;
    EXPECT_TRUE(s.bytes.empty());
  }
}

TEST(GifMgrTest, WriteRequestChecksItsSectionAndPath) {
  tovrin_test::TTempDir dir;
  const std::string path = (dir / "w.gif").string();
  CGifMgr mgr;
  {
    // No section: false without an error code.
    TMediaRequest request;
    request.eOp = MEDIA_OP_WRITE_STILL;
    request.pPath = &path;
    EXPECT_FALSE(mgr.WriteGif(request));
    EXPECT_EQ(request.eError, MEDIA_ERR_NONE);
  }
  struct Case {
    const char* what;
    int bits;
    int width;
    bool emptyTable;
    bool withPath;
  };
  const Case cases[] = {
      {"24-bit section", 24, 8, false, true},      {"2-bit section", 2, 8, false, true},
      {"no colour table", 8, 8, true, true},       {"no path", 8, 8, false, false},
      {"too wide for GIF", 1, 70000, false, true},
  };
  for (const Case& c : cases) {
    Dib::TDibPtr section = Dib::CreateDibSectionEx(c.width, 2, c.bits);
    ASSERT_NE(section, nullptr) << c.what;
    if (c.emptyTable) section->colorTable.clear();
    TMediaRequest request;
    request.eOp = MEDIA_OP_WRITE_STILL;
    request.pPath = c.withPath ? &path : nullptr;
    request.pParams = section.get();
    EXPECT_FALSE(mgr.WriteGif(request)) << c.what;
    EXPECT_EQ(request.eError, MEDIA_ERR_WRITE_GIF) << c.what;
    EXPECT_FALSE(std::filesystem::exists(path)) << c.what;
  }
  {
    // A folder that does not exist: error 25 and nothing left behind.
    const std::string nowhere = (dir / "no" / "such" / "x.gif").string();
    Dib::TDibPtr section = Dib::CreateDibSectionEx(4, 4, 8);
    TMediaRequest request;
    request.pPath = &nowhere;
    request.pParams = section.get();
    EXPECT_FALSE(mgr.WriteGif(request));
    EXPECT_EQ(request.eError, MEDIA_ERR_WRITE_GIF);
    EXPECT_FALSE(std::filesystem::exists(dir / "no"));
  }
  {
    // A 4-bit section with a short colour table: missing entries are black.
    Dib::TDibPtr section = Dib::CreateDibSectionEx(2, 1, 4);
    section->colorTable.resize(3);
    section->colorTable[2] = Dib::TRgbQuad{30, 20, 10, 0};
    section->RowFromTop(0)[0] = 0x2F;  // indices 2 and 15
    TMediaRequest request;
    request.pPath = &path;
    request.pParams = section.get();
    ASSERT_TRUE(mgr.WriteGif(request));
    Decoded d;
    Decode(tovrin_test::ReadAll(path), d);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.At(0, 0), (Rgb{10, 20, 30}));
    EXPECT_EQ(d.At(1, 0), (Rgb{0, 0, 0}));
  }
}

}  // namespace
