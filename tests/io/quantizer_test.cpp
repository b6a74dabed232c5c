#include "io/codecs/quantizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "tests/support/codecs/picture_support.h"

namespace {

using Dib::TDibSection;
using Dib::TPalette;
using Dib::TPaletteEntry;
using Quantizer::CQuantizer;

using Rgb = tovrin_test::TRgb;
using tovrin_test::RandomColours;

TDibSection MakeSection(int width, int height, int bits, bool topDown = false) {
  TDibSection s;
  s.header.biWidth = width;
  s.header.biHeight = topDown ? -height : height;
  s.header.biBitCount = static_cast<std::uint16_t>(bits);
  if (bits <= 8) {
    s.header.biClrUsed = 1u << bits;
    s.colorTable.resize(s.header.biClrUsed);
  }
  s.bits.assign(s.Stride() * static_cast<std::size_t>(height), 0);
  return s;
}

void SetPixel32(TDibSection& s, int x, int y, Rgb c) {
  std::uint8_t* p = s.RowFromTop(y) + 4 * x;
  p[0] = static_cast<std::uint8_t>(c.b);
  p[1] = static_cast<std::uint8_t>(c.g);
  p[2] = static_cast<std::uint8_t>(c.r);
  p[3] = 0;
}

Rgb GetPixel32(const TDibSection& s, int x, int y) {
  const std::uint8_t* p = s.RowFromTop(y) + 4 * x;
  return {p[2], p[1], p[0]};
}

// Index of pixel (x, y) in a 1-, 4- or 8-bit section.
int GetIndex(const TDibSection& s, int x, int y) {
  const int bits = s.BitCount();
  const std::uint8_t byte = s.RowFromTop(y)[x * bits / 8];
  const int shift = 8 - bits - (x * bits) % 8;
  return (byte >> shift) & ((1 << bits) - 1);
}

Rgb ToRgb(const TPaletteEntry& e) { return {e.peRed, e.peGreen, e.peBlue}; }

// A 32-bit picture of `width` x `height` whose pixels cycle through `colours`.
TDibSection PictureOf(const std::vector<Rgb>& colours, int width, int height) {
  TDibSection s = MakeSection(width, height, 32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) SetPixel32(s, x, y, colours[(y * width + x) % colours.size()]);
  return s;
}

TEST(QuantizerTest, RefusesBadArguments) {
  const TDibSection picture = PictureOf({{1, 2, 3}, {200, 100, 50}}, 8, 8);
  struct Case {
    int maxColors;
    int colorBits;
  };
  for (const Case c : {Case{256, 0}, Case{256, 9}, Case{256, -1}, Case{0, 6}, Case{-4, 6}, Case{257, 6}}) {
    CQuantizer q;
    EXPECT_EQ(q.QuantizeToPalette(picture, c.maxColors, c.colorBits), nullptr)
        << "max " << c.maxColors << " bits " << c.colorBits;
  }
}

TEST(QuantizerTest, RefusesSectionsItCannotRead) {
  std::vector<TDibSection> bad;
  for (int bits : {1, 4, 8, 48}) bad.push_back(MakeSection(4, 4, bits));
  TDibSection shortBits = MakeSection(4, 4, 32);
  shortBits.bits.resize(shortBits.bits.size() - 1);
  bad.push_back(shortBits);
  TDibSection noBits = MakeSection(4, 4, 24);
  noBits.bits.clear();
  bad.push_back(noBits);
  TDibSection noWidth = MakeSection(4, 4, 24);
  noWidth.header.biWidth = 0;
  bad.push_back(noWidth);
  for (const TDibSection& s : bad) {
    CQuantizer q;
    EXPECT_EQ(q.QuantizeToPalette(s, 256, 8), nullptr)
        << "bits " << s.BitCount() << " size " << s.bits.size();
  }
}

// Every colour of a picture with no more colours than the palette may hold
// comes back exactly, and mapping reproduces the picture pixel for pixel.
TEST(QuantizerTest, PictureWithFewColoursMapsExactly) {
  struct Case {
    std::size_t colours;
    int maxColors;
    int depth;
  };
  for (const Case c : {Case{2, 2, 1}, Case{4, 4, 4}, Case{16, 16, 4}, Case{200, 256, 8}, Case{256, 256, 8}}) {
    const auto colours = RandomColours(c.colours, static_cast<unsigned>(c.colours));
    const TDibSection picture = PictureOf(colours, 37, 23);
    CQuantizer q;
    auto palette = q.QuantizeToPalette(picture, c.maxColors, 8);
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(palette->version, 0x300);
    std::set<Rgb> got;
    for (const auto& e : palette->entries) got.insert(ToRgb(e));
    EXPECT_EQ(palette->entries.size(), c.colours);
    EXPECT_EQ(got, std::set<Rgb>(colours.begin(), colours.end()));

    TDibSection target = MakeSection(37, 23, c.depth);
    ASSERT_TRUE(q.MapToPalette(picture, target, palette.get()));
    for (int y = 0; y < 23; ++y)
      for (int x = 0; x < 37; ++x)
        ASSERT_EQ(ToRgb(palette->entries[GetIndex(target, x, y)]), GetPixel32(picture, x, y))
            << x << "," << y;
  }
}

TEST(QuantizerTest, TwentyFourBitPictureGivesItsColours) {
  const std::vector<Rgb> colours{{10, 20, 30}, {250, 0, 128}, {0, 255, 0}};
  TDibSection s = MakeSection(5, 3, 24);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      const Rgb c = colours[(x + y) % 3];
      std::uint8_t* p = s.RowFromTop(y) + 3 * x;
      p[0] = static_cast<std::uint8_t>(c.b);
      p[1] = static_cast<std::uint8_t>(c.g);
      p[2] = static_cast<std::uint8_t>(c.r);
    }
  // Padding bytes of a 5-pixel 24-bit row must not be taken for pixels.
  for (int y = 0; y < 3; ++y) s.RowFromTop(y)[15] = 0x77;
  CQuantizer q;
  auto palette = q.QuantizeToPalette(s, 16, 8);
  ASSERT_NE(palette, nullptr);
  std::set<Rgb> got;
  for (const auto& e : palette->entries) got.insert(ToRgb(e));
  EXPECT_EQ(got, std::set<Rgb>(colours.begin(), colours.end()));
}

TEST(QuantizerTest, ShallowTreeAveragesColoursThatDifferInLowBits) {
  // With 6 colour bits the two lowest bits of each component are ignored.
  const TDibSection picture = PictureOf({{100, 100, 100}, {103, 101, 102}, {0, 0, 0}}, 3, 1);
  CQuantizer q;
  auto palette = q.QuantizeToPalette(picture, 256, 6);
  ASSERT_NE(palette, nullptr);
  std::set<Rgb> got;
  for (const auto& e : palette->entries) got.insert(ToRgb(e));
  EXPECT_EQ(got, (std::set<Rgb>{{101, 100, 101}, {0, 0, 0}}));
}

TEST(QuantizerTest, ReducedPaletteStaysWithinItsSizeAndNearThePicture) {
  // Four clusters of near colours: four palette entries must land near the
  // four cluster centres and every pixel must map to its own cluster.
  const std::vector<Rgb> centres{{30, 30, 200}, {220, 40, 40}, {40, 200, 60}, {230, 230, 230}};
  std::mt19937 gen(7);
  std::uniform_int_distribution<int> noise(-6, 6);
  const int w = 40, h = 30;
  TDibSection picture = MakeSection(w, h, 32);
  std::vector<int> cluster(w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int k = (x / 10 + y / 15) % 4;
      cluster[y * w + x] = k;
      const Rgb c = centres[k];
      SetPixel32(picture, x, y, {c.r + noise(gen), c.g + noise(gen), c.b + noise(gen)});
    }
  for (int maxColors : {2, 4, 16, 256}) {
    CQuantizer q;
    auto palette = q.QuantizeToPalette(picture, maxColors, 8);
    ASSERT_NE(palette, nullptr);
    EXPECT_GE(palette->entries.size(), 1u);
    EXPECT_LE(palette->entries.size(), static_cast<std::size_t>(maxColors));
  }
  CQuantizer q;
  auto palette = q.QuantizeToPalette(picture, 4, 8);
  ASSERT_NE(palette, nullptr);
  ASSERT_EQ(palette->entries.size(), 4u);
  TDibSection target = MakeSection(w, h, 4);
  ASSERT_TRUE(q.MapToPalette(picture, target, palette.get()));
  std::vector<int> entryOfCluster(4, -1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int index = GetIndex(target, x, y);
      const int k = cluster[y * w + x];
      if (entryOfCluster[k] < 0) entryOfCluster[k] = index;
      ASSERT_EQ(entryOfCluster[k], index) << "cluster " << k << " split";
      const Rgb e = ToRgb(palette->entries[index]);
      const Rgb c = centres[k];
      EXPECT_LE(std::abs(e.r - c.r) + std::abs(e.g - c.g) + std::abs(e.b - c.b), 12);
    }
}

TEST(QuantizerTest, SmallPalettesKeepAsManyColoursAsAllowed) {
  // The eight corners of the colour cube sit in eight different top-level
  // octants; a 2- or 4-colour palette must still have 2 or 4 entries, each
  // the mean of the corners it stands for.
  std::vector<Rgb> corners;
  for (int i = 0; i < 8; ++i) corners.push_back({i & 4 ? 255 : 0, i & 2 ? 255 : 0, i & 1 ? 255 : 0});
  const TDibSection picture = PictureOf(corners, 16, 4);
  for (int maxColors : {1, 2, 4}) {
    CQuantizer q;
    auto palette = q.QuantizeToPalette(picture, maxColors, 6);
    ASSERT_NE(palette, nullptr);
    ASSERT_EQ(palette->entries.size(), static_cast<std::size_t>(maxColors));
    int r = 0, g = 0, b = 0;
    for (const auto& e : palette->entries) {
      r += e.peRed;
      g += e.peGreen;
      b += e.peBlue;
    }
    // Equal-sized groups of corners: the entries average to mid grey.
    EXPECT_NEAR(r / maxColors, 127, 1);
    EXPECT_NEAR(g / maxColors, 127, 1);
    EXPECT_NEAR(b / maxColors, 127, 1);
    std::set<Rgb> distinct;
    for (const auto& e : palette->entries) distinct.insert(ToRgb(e));
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(maxColors));
  }
}

TEST(QuantizerTest, SixteenBitSectionsUseTheirMasks) {
  // 5-6-5 with bit fields: pure red, green and blue.
  TDibSection s565 = MakeSection(3, 1, 16);
  s565.header.biCompression = Dib::BI_BITFIELDS;
  s565.masks = {0xF800, 0x07E0, 0x001F};
  const std::uint16_t px565[3] = {0xF800, 0x07E0, 0x001F};
  // Default 5-5-5 without bit fields.
  TDibSection s555 = MakeSection(3, 1, 16);
  const std::uint16_t px555[3] = {0x7C00, 0x03E0, 0x001F};
  for (int x = 0; x < 3; ++x) {
    s565.bits[2 * x] = px565[x] & 0xFF;
    s565.bits[2 * x + 1] = px565[x] >> 8;
    s555.bits[2 * x] = px555[x] & 0xFF;
    s555.bits[2 * x + 1] = px555[x] >> 8;
  }
  const std::set<Rgb> expect565{{248, 0, 0}, {0, 252, 0}, {0, 0, 248}};
  const std::set<Rgb> expect555{{248, 0, 0}, {0, 248, 0}, {0, 0, 248}};
  for (auto [section, expected] : {std::pair{&s565, &expect565}, std::pair{&s555, &expect555}}) {
    CQuantizer q;
    auto palette = q.QuantizeToPalette(*section, 256, 8);
    ASSERT_NE(palette, nullptr);
    std::set<Rgb> got;
    for (const auto& e : palette->entries) got.insert(ToRgb(e));
    EXPECT_EQ(got, *expected);
  }
}

TEST(QuantizerTest, BlackAndWhiteWithoutPalette) {
  const TDibSection picture = PictureOf({{127, 127, 127}, {128, 128, 128}, {255, 0, 0}, {0, 255, 255}}, 4, 2);
  TDibSection target = MakeSection(4, 2, 1);
  CQuantizer q;
  ASSERT_TRUE(q.MapToPalette(picture, target, nullptr));
  // 127 grey: 381 from black, 384 from white; 128 grey the other way round;
  // pure red is 255 from black and 510 from white.
  const int expected[4] = {0, 1, 0, 1};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(GetIndex(target, x, y), expected[x]) << x << "," << y;
}

TEST(QuantizerTest, RowsArePackedFromTheHighBitsAndPaddingIsLeftAlone) {
  struct Case {
    int width;
    int depth;
    std::size_t dataBytes;
  };
  for (const Case c : {Case{30, 4, 15}, Case{33, 1, 5}, Case{3, 8, 3}}) {
    // Every pixel white except the last of each row, which is black.
    TDibSection picture = MakeSection(c.width, 2, 32);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < c.width; ++x)
        SetPixel32(picture, x, y, x == c.width - 1 ? Rgb{0, 0, 0} : Rgb{255, 255, 255});
    TDibSection target = MakeSection(c.width, 2, c.depth);
    std::fill(target.bits.begin(), target.bits.end(), 0xAA);
    const TPalette palette{0x300, {TPaletteEntry{0, 0, 0, 0}, TPaletteEntry{255, 255, 255, 0}}};
    CQuantizer q;
    ASSERT_TRUE(q.MapToPalette(picture, target, &palette));
    for (int y = 0; y < 2; ++y) {
      const std::uint8_t* row = target.RowFromTop(y);
      for (int x = 0; x < c.width; ++x) EXPECT_EQ(GetIndex(target, x, y), x == c.width - 1 ? 0 : 1);
      for (std::size_t i = c.dataBytes; i < target.Stride(); ++i) EXPECT_EQ(row[i], 0xAA) << "padding " << i;
    }
    if (c.depth == 1) {
      // 33 pixels: the fifth byte holds one pixel in bit 7, its other bits clear.
      EXPECT_EQ(target.RowFromTop(0)[4], 0x00);
      EXPECT_EQ(target.RowFromTop(0)[3], 0xFF);
    }
  }
}

TEST(QuantizerTest, TopDownAndBottomUpSectionsLineUp) {
  TDibSection picture = MakeSection(2, 2, 32, /*topDown=*/true);
  SetPixel32(picture, 0, 0, {255, 255, 255});
  TDibSection target = MakeSection(2, 2, 1);
  CQuantizer q;
  ASSERT_TRUE(q.MapToPalette(picture, target, nullptr));
  EXPECT_EQ(GetIndex(target, 0, 0), 1);
  EXPECT_EQ(GetIndex(target, 0, 1), 0);
}

TEST(QuantizerTest, MapRefusesBadSectionsWithoutWriting) {
  const TPalette four{0x300, std::vector<TPaletteEntry>(4)};
  const TPalette many{0x300, std::vector<TPaletteEntry>(17)};
  const TPalette empty{0x300, {}};
  const TPalette tooMany{0x300, std::vector<TPaletteEntry>(257)};
  struct Case {
    const char* what;
    int srcBits, srcW, dstBits, dstW;
    const TPalette* palette;
  };
  const Case cases[] = {
      {"24-bit source", 24, 8, 4, 8, &four},
      {"2-bit target", 32, 8, 2, 8, &four},
      {"24-bit target", 32, 8, 24, 8, &four},
      {"no palette for 4 bits", 32, 8, 4, 8, nullptr},
      {"more entries than the target's colours", 32, 8, 4, 8, &many},
      {"empty palette", 32, 8, 8, 8, &empty},
      {"more than 256 entries", 32, 8, 8, 8, &tooMany},
      {"sizes differ", 32, 9, 8, 8, &four},
  };
  for (const Case& c : cases) {
    const TDibSection source = MakeSection(c.srcW, 4, c.srcBits);
    TDibSection target = MakeSection(c.dstW, 4, c.dstBits);
    std::fill(target.bits.begin(), target.bits.end(), 0x5A);
    CQuantizer q;
    EXPECT_FALSE(q.MapToPalette(source, target, c.palette)) << c.what;
    EXPECT_TRUE(std::all_of(target.bits.begin(), target.bits.end(), [](std::uint8_t b) { return b == 0x5A; }))
        << c.what;
  }
  // Bits that do not hold the rows.
  const TDibSection source = MakeSection(8, 4, 32);
  TDibSection target = MakeSection(8, 4, 8);
  target.bits.resize(target.bits.size() - 1);
  CQuantizer q;
  EXPECT_FALSE(q.MapToPalette(source, target, &four));
  TDibSection emptySource = source;
  emptySource.bits.clear();
  TDibSection target2 = MakeSection(8, 4, 8);
  EXPECT_FALSE(q.MapToPalette(emptySource, target2, &four));
}

}  // namespace
