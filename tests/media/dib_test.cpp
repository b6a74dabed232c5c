#include "media/dib.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

#include "media/frame_buffer.h"
#include "platform/byte_order.h"
#include "platform/message_sink.h"

namespace {

using namespace Dib;

TRgbQuad Rgb(int r, int g, int b) {
  return TRgbQuad{static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(r),
                  0};
}

void FillRandom(TDibSection& s, unsigned seed) {
  std::mt19937 rng(seed);
  for (auto& b : s.bits) b = static_cast<std::uint8_t>(rng());
}

// Colour of picture pixel (x, y from the top) of a 32-bit or 24-bit section.
std::array<int, 3> PixelRgb(const TDibSection& s, int x, int y) {
  const std::uint8_t* p = s.RowFromTop(y) + x * (s.BitCount() / 8);
  return {p[2], p[1], p[0]};
}

// ---------------------------------------------------------------------------
// Sections and palettes.

TEST(DibSectionTest, CreateDibSectionExGivesTheFixedTableOrMasksOfEachDepth) {
  struct Case {
    int bits;
    std::uint32_t compression;
    std::uint32_t clrUsed;
    std::size_t entries;
  };
  for (const Case& c :
       {Case{1, BI_RGB, 0, 2}, Case{2, BI_RGB, 0, 4}, Case{4, BI_RGB, 16, 16}, Case{8, BI_RGB, 256, 256},
        Case{16, BI_BITFIELDS, 0, 0}, Case{24, BI_RGB, 0, 0}, Case{32, BI_RGB, 0, 0}}) {
    SCOPED_TRACE(c.bits);
    TDibPtr s = CreateDibSectionEx(7, 3, c.bits);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->header.biSize, 40u);
    EXPECT_EQ(s->header.biPlanes, 1);
    EXPECT_EQ(s->header.biCompression, c.compression);
    EXPECT_EQ(s->header.biClrUsed, c.clrUsed);
    EXPECT_EQ(s->colorTable.size(), c.entries);
    EXPECT_FALSE(s->TopDown());
    EXPECT_EQ(s->bits.size(), DibStride(7, c.bits) * 3);
    EXPECT_EQ(std::count(s->bits.begin(), s->bits.end(), 0), static_cast<long>(s->bits.size()));
  }
  TDibPtr mono = CreateDibSectionEx(1, 1, 1);
  EXPECT_EQ(mono->colorTable[0], Rgb(0, 0, 0));
  EXPECT_EQ(mono->colorTable[1], Rgb(255, 255, 255));
  TDibPtr vga = CreateDibSectionEx(1, 1, 4);
  EXPECT_EQ(vga->colorTable[3], Rgb(0, 128, 128));
  EXPECT_EQ(vga->colorTable[7], Rgb(192, 192, 192));
  EXPECT_EQ(vga->colorTable[12], Rgb(255, 0, 0));
  TDibPtr two = CreateDibSectionEx(1, 1, 2);
  for (const TRgbQuad& q : two->colorTable) EXPECT_EQ(q, TRgbQuad{});

  TDibPtr s16 = CreateDibSectionEx(2, 2, 16);
  EXPECT_EQ(s16->masks, (std::array<std::uint32_t, 3>{0x7C00, 0x03E0, 0x001F}));

  TDibPtr topDown = CreateDibSectionEx(4, -3, 24);
  ASSERT_TRUE(topDown);
  EXPECT_TRUE(topDown->TopDown());
  EXPECT_EQ(topDown->Height(), 3);
}

TEST(DibSectionTest, CreateDibSectionExFailureShowsTheErrorBox) {
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope(&sink);
  EXPECT_FALSE(CreateDibSectionEx(0, 5, 24));
  EXPECT_FALSE(CreateDibSectionEx(5, 5, 12));
  EXPECT_FALSE(CreateDibSectionEx(100000, 100000, 32));  // 40 GB
  EXPECT_FALSE(CreateDibSectionPal(5, 0, 8, nullptr));
  const auto boxes = sink.Messages();
  ASSERT_EQ(boxes.size(), 4u);
  for (const auto& box : boxes) {
    ASSERT_EQ(box.text.rfind("Error ", 0), 0u) << box.text;
    EXPECT_GT(std::atoi(box.text.c_str() + 6), 0) << box.text;
    EXPECT_EQ(box.caption, "Error");
  }
}

TEST(DibSectionTest, CreateDibSectionPalTakesThePaletteFor4And8Bits) {
  TPalette palette;
  for (int i = 0; i < 20; ++i)
    palette.entries.push_back(TPaletteEntry{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(100 + i),
                                            static_cast<std::uint8_t>(200 + i), 7});
  TDibPtr s4 = CreateDibSectionPal(3, 3, 4, &palette);
  ASSERT_TRUE(s4);
  ASSERT_EQ(s4->colorTable.size(), 16u);
  EXPECT_EQ(s4->colorTable[15], Rgb(15, 115, 215));  // flags dropped

  TDibPtr s8 = CreateDibSectionPal(3, 3, 8, &palette);
  ASSERT_EQ(s8->colorTable.size(), 256u);
  EXPECT_EQ(s8->colorTable[19], Rgb(19, 119, 219));
  EXPECT_EQ(s8->colorTable[20], TRgbQuad{});  // beyond the palette

  TDibPtr s1 = CreateDibSectionPal(3, 3, 1, &palette);
  EXPECT_EQ(s1->colorTable[1], Rgb(255, 255, 255));

  TDibPtr plain = CreateDibSectionPal(3, 3, 8, nullptr);
  TDibPtr ex = CreateDibSectionEx(3, 3, 8);
  EXPECT_EQ(plain->colorTable, ex->colorTable);
  EXPECT_EQ(plain->colorTable[9], Rgb(32, 32, 0));
}

TEST(DibSectionTest, SystemPalette332) {
  std::unique_ptr<TPalette> p = CreateSystemPalette332();
  ASSERT_TRUE(p);
  EXPECT_EQ(p->version, 0x300);
  ASSERT_EQ(p->entries.size(), 256u);
  EXPECT_EQ(p->entries[0], (TPaletteEntry{0, 0, 0, 0}));
  EXPECT_EQ(p->entries[9], (TPaletteEntry{32, 32, 0, 0}));
  EXPECT_EQ(p->entries[255], (TPaletteEntry{224, 224, 192, 0}));
  EXPECT_EQ(p->entries[0x47], (TPaletteEntry{224, 0, 64, 0}));
}

TEST(DibSectionTest, CreateDibSectionFromBitmapMakesABottomUpCopy) {
  TDibPtr source = CreateDibSectionEx(5, -4, 8);
  FillRandom(*source, 3);
  source->colorTable.resize(10);  // a short table is padded
  TDibPtr copy;
  ASSERT_TRUE(CreateDibSectionFromBitmap(*source, copy));
  ASSERT_TRUE(copy);
  EXPECT_FALSE(copy->TopDown());
  EXPECT_EQ(copy->header.biClrUsed, 256u);
  EXPECT_EQ(copy->header.biClrImportant, 256u);
  ASSERT_EQ(copy->colorTable.size(), 256u);
  EXPECT_EQ(copy->colorTable[9], source->colorTable[9]);
  EXPECT_EQ(copy->colorTable[10], TRgbQuad{});
  for (int y = 0; y < 4; ++y) EXPECT_EQ(std::memcmp(copy->RowFromTop(y), source->RowFromTop(y), 5), 0);

  TDibSection broken;  // no bits for its rows
  broken.header.biWidth = 4;
  broken.header.biHeight = 4;
  broken.header.biBitCount = 32;
  TDibPtr untouched;
  EXPECT_FALSE(CreateDibSectionFromBitmap(broken, untouched));
  EXPECT_FALSE(untouched);
}

TEST(DibSectionTest, PlaceholderAndCopyCapability) {
  TDibPtr bitmap = CreateDibSectionEx(2, 2, 8);
  ASSERT_TRUE(CreatePlaceholderBitmap(bitmap));
  EXPECT_EQ(bitmap->Width(), 300);
  EXPECT_EQ(bitmap->Height(), 100);
  EXPECT_EQ(bitmap->BitCount(), 32);

  TBitmapInfoHeader src;
  TDibPtr s24 = CreateDibSectionEx(1, 1, 24);
  TDibPtr s32 = CreateDibSectionEx(1, 1, 32);
  TDibPtr s8 = CreateDibSectionEx(1, 1, 8);
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    src.biBitCount = static_cast<std::uint16_t>(bits);
    EXPECT_TRUE(CanCopyDibToSection(*s32, src)) << bits;
    EXPECT_FALSE(CanCopyDibToSection(*s8, src)) << bits;
  }
  src.biBitCount = 2;
  EXPECT_FALSE(CanCopyDibToSection(*s32, src));
  EXPECT_TRUE(CanCopyDibToSection(*s24, src));
}

// ---------------------------------------------------------------------------
// Tables and sizes.

TBitmapInfoHeader Header(int width, int height, int bits, std::uint32_t compression = BI_RGB,
                         std::uint32_t clrUsed = 0, std::uint32_t size = 40, std::uint32_t sizeImage = 0) {
  TBitmapInfoHeader h;
  h.biSize = size;
  h.biWidth = width;
  h.biHeight = height;
  h.biBitCount = static_cast<std::uint16_t>(bits);
  h.biCompression = compression;
  h.biClrUsed = clrUsed;
  h.biSizeImage = sizeImage;
  return h;
}

TEST(DibSizeTest, TableAndImageSizes) {
  EXPECT_EQ(DibColorTableSize(Header(1, 1, 8, BI_RGB, 0, 12)), 768u);
  EXPECT_EQ(DibColorTableSize(Header(1, 1, 1, BI_RGB, 0, 12)), 6u);
  EXPECT_EQ(DibColorTableSize(Header(1, 1, 24, BI_RGB, 0, 12)), 0u);
  EXPECT_EQ(DibColorTableSize(Header(1, 1, 4)), 64u);
  EXPECT_EQ(DibColorTableSize(Header(1, 1, 4, BI_RGB, 5)), 20u);
  EXPECT_EQ(DibColorTableSize(Header(1, 1, 2)), 0u);
  EXPECT_EQ(DibColorTableSize(Header(1, 1, 24, BI_RGB, 256)), 1024u);

  EXPECT_EQ(GetDibColorTableBytes(Header(1, 1, 8)), 1024u);
  EXPECT_EQ(GetDibColorTableBytes(Header(1, 1, 2)), 16u);
  EXPECT_EQ(GetDibColorTableBytes(Header(1, 1, 16, BI_BITFIELDS)), 12u);
  EXPECT_EQ(GetDibColorTableBytes(Header(1, 1, 24)), 0u);
  EXPECT_EQ(GetDibColorTableBytes(Header(1, 1, 32, BI_RGB, 256)), 1024u);

  EXPECT_EQ(GetDibImageBytes(Header(5, 3, 24)), 48u);   // rows of 16 bytes
  EXPECT_EQ(GetDibImageBytes(Header(5, -3, 24)), 48u);  // top-down counts the same
  EXPECT_EQ(GetDibImageBytes(Header(33, 2, 1)), 16u);
  EXPECT_EQ(GetDibImageBytes(Header(3, 2, 16, BI_BITFIELDS)), 16u);
  EXPECT_EQ(GetDibImageBytes(Header(9, 9, 8, BI_RLE8, 0, 40, 77)), 77u);
  EXPECT_EQ(GetDibImageBytes(Header(9, 9, 8, 4)), 0u);
  EXPECT_EQ(GetDibImageBytes(Header(INT32_MAX, INT32_MAX, 32)), std::uint64_t{0x1FFFFFFFC} * INT32_MAX);

  EXPECT_EQ(GetPackedDibSize(Header(2, 2, 16, BI_BITFIELDS)), 8u + 12 + 40);
  EXPECT_EQ(GetPackedDibSize(Header(4, 1, 8)), 4u + 1024 + 40);
  EXPECT_EQ(GetPackedDibSize(Header(4, 1, 8, BI_RGB, 3)), 4u + 12 + 40);
}

TEST(DibSizeTest, CreateBitmapInfoHeaderChoosesTheStoredDepth) {
  struct Case {
    int bits;
    int depth;
    std::size_t entries;
  };
  for (const Case& c : {Case{1, 1, 2}, Case{2, 4, 16}, Case{4, 4, 16}, Case{8, 8, 256}, Case{16, 16, 0},
                        Case{24, 24, 0}, Case{32, 32, 0}}) {
    SCOPED_TRACE(c.bits);
    TDibPtr s = CreateDibSectionEx(10, -3, c.bits);
    TBitmapInfo info;
    ASSERT_TRUE(CreateBitmapInfoHeader(*s, info));
    EXPECT_EQ(info.header.biSize, 40u);
    EXPECT_EQ(info.header.biWidth, 10);
    EXPECT_EQ(info.header.biHeight, 3);
    EXPECT_EQ(info.header.biBitCount, c.depth);
    EXPECT_EQ(info.header.biCompression, BI_RGB);
    EXPECT_EQ(info.header.biClrUsed, c.entries);
    EXPECT_EQ(info.header.biClrImportant, 0u);
    EXPECT_EQ(info.colorTable.size(), c.entries);
    EXPECT_EQ(info.header.biSizeImage, DibStride(10, c.depth) * 3);
  }
  TDibSection broken;
  broken.header.biWidth = 2;
  broken.header.biHeight = 2;
  broken.header.biBitCount = 24;
  TBitmapInfo info;
  EXPECT_FALSE(CreateBitmapInfoHeader(broken, info));
}

TEST(DibSizeTest, GetDibSectionInfoCarriesTableMasksOrTheDisplayHint) {
  TDibPtr s4 = CreateDibSectionEx(3, 3, 4);
  s4->colorTable[5] = Rgb(1, 2, 3);
  TBitmapInfo i4 = GetDibSectionInfo(*s4);
  EXPECT_EQ(i4.header.biClrUsed, 16u);
  EXPECT_EQ(i4.colorTable, s4->colorTable);

  TDibPtr s16 = CreateDibSectionEx(3, 3, 16);
  TBitmapInfo i16 = GetDibSectionInfo(*s16);
  EXPECT_EQ(i16.header.biCompression, BI_BITFIELDS);
  EXPECT_EQ(i16.masks, s16->masks);
  EXPECT_EQ(i16.header.biClrUsed, 256u);
  ASSERT_EQ(i16.colorTable.size(), 256u);
  EXPECT_EQ(i16.colorTable[9], Rgb(32, 32, 0));

  TDibPtr s24 = CreateDibSectionEx(3, 3, 24);
  EXPECT_EQ(GetDibSectionInfo(*s24).header.biClrUsed, 256u);
  EXPECT_EQ(GetDibSectionInfo(*s24).header.biSizeImage, 36u);

  TBitmapInfo screen;
  EXPECT_NE(GetScreenDibFormat(screen), 0);
  EXPECT_EQ(screen.header.biBitCount, 32);
  EXPECT_EQ(screen.header.biCompression, BI_RGB);
}

// ---------------------------------------------------------------------------
// Packed DIBs of a section.

TEST(PackedDibTest, CreateDibFromBitmapConvertsToTheRequestedDepth) {
  TDibPtr s = CreateDibSectionEx(3, -2, 32);  // top-down source
  auto set = [&](int x, int y, int r, int g, int b) {
    std::uint8_t* p = s->RowFromTop(y) + 4 * x;
    p[0] = static_cast<std::uint8_t>(b);
    p[1] = static_cast<std::uint8_t>(g);
    p[2] = static_cast<std::uint8_t>(r);
  };
  set(0, 0, 255, 255, 255);
  set(1, 0, 250, 10, 10);
  set(2, 0, 0, 0, 0);
  set(0, 1, 10, 10, 240);
  set(1, 1, 200, 200, 200);
  set(2, 1, 20, 20, 20);

  for (int bits : {0, 24, 16, 8, 4, 1}) {
    SCOPED_TRACE(bits);
    const std::vector<std::uint8_t> packed = CreateDibFromBitmap(*s, bits);
    ASSERT_FALSE(packed.empty());
    const int depth = bits ? bits : 32;
    EXPECT_EQ(platform::LoadLE32(packed.data()), 40u);
    EXPECT_EQ(static_cast<std::int32_t>(platform::LoadLE32(packed.data() + 8)), 2);  // bottom-up
    EXPECT_EQ(platform::LoadLE16(packed.data() + 14), depth);
    EXPECT_EQ(packed.size(), GetPackedDibSize(Header(3, 2, depth)));
    TDibSection back;
    std::string error;
    ASSERT_TRUE(ReadPackedDib(packed.data(), packed.size(), back, &error)) << error;
    // Compare what each depth can hold.
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 3; ++x) {
        const auto want = PixelRgb(*s, x, y);
        if (depth >= 24) {
          EXPECT_EQ(PixelRgb(back, x, y), want);
        } else if (depth == 16) {
          const std::uint16_t p = platform::LoadLE16(back.RowFromTop(y) + 2 * x);
          EXPECT_EQ(p >> 10, want[0] >> 3);
          EXPECT_EQ((p >> 5) & 31, want[1] >> 3);
          EXPECT_EQ(p & 31, want[2] >> 3);
        } else {
          const int b = depth;
          const std::uint8_t byte = back.RowFromTop(y)[x * b / 8];
          const int index = (byte >> (8 - b - (x * b) % 8)) & ((1 << b) - 1);
          if (depth == 8) {  // nearest of the 3-3-2 table
            const TRgbQuad q = back.colorTable[index];
            EXPECT_NEAR(q.rgbRed, want[0], 31);  // the table's steps end at 224
            EXPECT_NEAR(q.rgbGreen, want[1], 31);
            EXPECT_NEAR(q.rgbBlue, want[2], 63);
          } else {
            // Nearest entries of the 16-colour and the black-and-white tables.
            const int vga[2][3] = {{15, 12, 0}, {9, 7, 0}};
            const int mono[2][3] = {{1, 0, 0}, {0, 1, 0}};
            EXPECT_EQ(index, depth == 4 ? vga[y][x] : mono[y][x]) << x << "," << y;
          }
        }
      }
    }
  }
  EXPECT_TRUE(CreateDibFromBitmap(*s, 12).empty());
  EXPECT_TRUE(CreateDibFromBitmap(*CreateDibSectionEx(2, 2, 2), 0).empty());
}

TEST(PackedDibTest, CreateDibFromBitmapKeepsAPaletteSectionExact) {
  TDibPtr s = CreateDibSectionEx(9, 5, 4);
  FillRandom(*s, 11);
  s->colorTable[3] = Rgb(9, 8, 7);
  const std::vector<std::uint8_t> packed = CreateDibFromBitmap(*s, 0);
  TDibSection back;
  ASSERT_TRUE(ReadPackedDib(packed.data(), packed.size(), back));
  EXPECT_EQ(back.colorTable, s->colorTable);
  for (int y = 0; y < 5; ++y) EXPECT_EQ(std::memcmp(back.RowFromTop(y), s->RowFromTop(y), 5), 0) << y;
}

// ---------------------------------------------------------------------------
// Row converters.

ZarnTypes::TFrameBuffer Frame(int bits, int width, int height, int stride, std::vector<std::uint8_t>& store) {
  ZarnTypes::TFrameBuffer f;
  f.ePixelFormat = bits == 24 ? ZarnTypes::PF_RGB24 : ZarnTypes::PF_RGB32;
  f.nBitsPerPixel = bits;
  f.nWidth = width;
  f.nHeight = height;
  f.nStride = stride;
  f.nSize = stride * height;
  store.assign(static_cast<std::size_t>(f.nSize), 0xAA);
  f.pBuffer = store.data();
  return f;
}

TEST(RowConverterTest, ConvertRgb24ToRgb32ConvertsExactlyTheWidthOfEveryRow) {
  for (int width : {1, 3, 4, 5, 7, 8, 11}) {
    SCOPED_TRACE(width);
    std::vector<std::uint8_t> in, out;
    const int height = 3;
    ZarnTypes::TFrameBuffer src = Frame(24, width, height, static_cast<int>(DibStride(width, 24)), in);
    const int outStride = 4 * width + 8;  // room after every row that must stay untouched
    ZarnTypes::TFrameBuffer dst = Frame(32, width, height, outStride, out);
    std::mt19937 rng(static_cast<unsigned>(width));
    for (auto& b : in) b = static_cast<std::uint8_t>(rng());
    ASSERT_TRUE(ConvertRgb24ToRgb32(src, dst));
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* s = in.data() + y * src.nStride + 3 * x;
        const std::uint8_t* d = out.data() + y * outStride + 4 * x;
        EXPECT_EQ(d[0], s[0]);
        EXPECT_EQ(d[1], s[1]);
        EXPECT_EQ(d[2], s[2]);
        EXPECT_EQ(d[3], 0);
      }
      for (int k = 4 * width; k < outStride; ++k) EXPECT_EQ(out[y * outStride + k], 0xAA) << y << "," << k;
    }
  }
}

TEST(RowConverterTest, ConvertRgb24ToRgb32RefusesRecordsThatDoNotFit) {
  std::vector<std::uint8_t> in, out;
  const ZarnTypes::TFrameBuffer src = Frame(24, 5, 2, 16, in);
  ZarnTypes::TFrameBuffer dst = Frame(32, 5, 2, 20, out);
  ZarnTypes::TFrameBuffer bad = dst;
  bad.nStride = 16;
  EXPECT_FALSE(ConvertRgb24ToRgb32(src, bad));
  bad = dst;
  bad.nHeight = 1;
  EXPECT_FALSE(ConvertRgb24ToRgb32(src, bad));
  bad = dst;
  bad.nSize = 30;
  EXPECT_FALSE(ConvertRgb24ToRgb32(src, bad));
  bad = dst;
  bad.nBitsPerPixel = 24;
  EXPECT_FALSE(ConvertRgb24ToRgb32(src, bad));
  bad = dst;
  bad.pBuffer = nullptr;
  EXPECT_FALSE(ConvertRgb24ToRgb32(src, bad));
  ZarnTypes::TFrameBuffer shortSource = src;
  shortSource.nStride = 14;
  EXPECT_FALSE(ConvertRgb24ToRgb32(shortSource, dst));
  EXPECT_EQ(std::count(out.begin(), out.end(), 0xAA), static_cast<long>(out.size()));
}

TEST(RowConverterTest, FlippedCopiesReverseTheRowOrder) {
  const int width = 3, height = 2;
  std::vector<std::uint8_t> rgb24(width * height * 3);
  for (std::size_t i = 0; i < rgb24.size(); ++i) rgb24[i] = static_cast<std::uint8_t>(i + 1);
  std::vector<std::uint8_t> rgb32(width * height * 4 + 4, 0xEE);
  CopyRgb24ToRgb32Flipped(rgb24.data(), rgb32.data(), width, height);
  // Source row 0 is the last destination row.
  EXPECT_EQ(std::vector<std::uint8_t>(rgb32.begin() + 12, rgb32.begin() + 16),
            (std::vector<std::uint8_t>{1, 2, 3, 0}));
  EXPECT_EQ(std::vector<std::uint8_t>(rgb32.begin(), rgb32.begin() + 4),
            (std::vector<std::uint8_t>{10, 11, 12, 0}));
  EXPECT_EQ(rgb32[24], 0xEE);

  std::vector<std::uint8_t> back(rgb24.size() + 3, 0xEE);
  CopyRgb32ToRgb24Flipped(back.data(), rgb32.data(), width, height);
  EXPECT_EQ(std::vector<std::uint8_t>(back.begin(), back.begin() + 18), rgb24);
  EXPECT_EQ(back[18], 0xEE);
}

TEST(RowConverterTest, FlippedCopiesOfWideRowsWidenEveryPixel) {
  // Nine pixels: whole groups of four and a remainder.
  const int width = 9, height = 3;
  std::vector<std::uint8_t> rgb24(width * height * 3);
  for (std::size_t i = 0; i < rgb24.size(); ++i) rgb24[i] = static_cast<std::uint8_t>(i * 5 + 7);
  std::vector<std::uint8_t> rgb32(width * height * 4, 0xEE);
  CopyRgb24ToRgb32Flipped(rgb24.data(), rgb32.data(), width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* in = rgb24.data() + (y * width + x) * 3;
      const std::uint8_t* out = rgb32.data() + ((height - 1 - y) * width + x) * 4;
      EXPECT_EQ(std::vector<std::uint8_t>(out, out + 4), (std::vector<std::uint8_t>{in[0], in[1], in[2], 0}))
          << x << "," << y;
    }
}

TEST(RowConverterTest, PackPlanesToRgb32TakesTheLowBytesInReverseOrder) {
  const std::uint16_t p1[] = {0x1101, 0x1102};
  const std::uint16_t p2[] = {0x2201, 0x2202};
  const std::uint16_t p3[] = {0x3301, 0x33FF};
  TPlanarPicture16 picture;
  picture.width = 2;
  picture.height = 1;
  picture.planes[0] = p1;
  picture.planes[1] = p2;
  picture.planes[2] = p3;
  std::uint8_t out[9];
  std::memset(out, 0xEE, sizeof out);
  PackPlanesToRgb32(picture, out);
  const std::uint8_t want[9] = {0x01, 0x01, 0x01, 0, 0xFF, 0x02, 0x02, 0, 0xEE};
  EXPECT_EQ(std::memcmp(out, want, 9), 0);
}

// ---------------------------------------------------------------------------
// PSNR.

// The formula of the comparison, written out plainly over two sections of
// 24 or 32 bits. The channels are read in storage order: g++ 12.2 at -O3
// vectorises a loop that gathers them in reverse order with a step known
// only at run time (PixelRgb's {p[2], p[1], p[0]}) into wrong code, which
// made this reference, not the comparison, give another value.
double ReferencePsnr(const TDibSection& a, const TDibSection& b) {
  const int stepA = a.BitCount() / 8;
  const int stepB = b.BitCount() / 8;
  std::int64_t sum = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) {
      const std::uint8_t* pa = a.RowFromTop(y) + x * stepA;
      const std::uint8_t* pb = b.RowFromTop(y) + x * stepB;
      for (int c = 0; c < 3; ++c) {
        const int d = int{pa[c]} - int{pb[c]};
        sum += d * d;
      }
    }
  const double mse = static_cast<double>(sum) / (double(a.Width()) * a.Height() * 3);
  return 20 * std::log10(255 / std::sqrt(mse));
}

TEST(PsnrTest, OnePixelOfFullRed) {
  TDibPtr a = CreateDibSectionEx(2, 1, 32);
  TDibPtr b = CreateDibSectionEx(2, 1, 32);
  b->RowFromTop(0)[4 + 2] = 255;
  double psnr = 0;
  ASSERT_EQ(ComputeBitmapPsnr(*a, *b, psnr), PSNR_OK);
  EXPECT_NEAR(psnr, 7.7815, 5e-5);
  EXPECT_DOUBLE_EQ(psnr, 20 * std::log10(255 / std::sqrt(10837.5)));
}

TEST(PsnrTest, ResultCodes) {
  TDibPtr a = CreateDibSectionEx(4, 3, 32);
  TDibPtr b = CreateDibSectionEx(4, 3, 32);
  FillRandom(*a, 1);
  *b = *a;
  b->RowFromTop(1)[3] ^= 0xFF;  // the fourth byte does not count
  double psnr = -1;
  EXPECT_EQ(ComputeBitmapPsnr(*a, *b, psnr), PSNR_IDENTICAL);
  EXPECT_EQ(psnr, -1);
  EXPECT_EQ(ComputeBitmapPsnr(*a, *CreateDibSectionEx(4, 4, 32), psnr), PSNR_SIZE_DIFFERS);
  EXPECT_EQ(ComputeBitmapPsnr(*a, *CreateDibSectionEx(5, 3, 32), psnr), PSNR_SIZE_DIFFERS);
  TDibSection noBits = *a;
  noBits.bits.resize(noBits.bits.size() - 1);
  EXPECT_EQ(ComputeBitmapPsnr(*a, noBits, psnr), PSNR_FAILED);
  EXPECT_EQ(ComputeBitmapPsnr(noBits, *a, psnr), PSNR_FAILED);
  TDibSection empty1, empty2;
  empty1.header.biBitCount = empty2.header.biBitCount = 32;
  empty1.header.biHeight = empty2.header.biHeight = 5;
  EXPECT_EQ(ComputeBitmapPsnr(empty1, empty2, psnr), PSNR_IDENTICAL);
  EXPECT_EQ(psnr, -1);
}

TEST(PsnrTest, MatchesTheFormulaAcrossDepthsAndRowOrders) {
  TDibPtr a = CreateDibSectionEx(37, 13, 32);
  TDibPtr b = CreateDibSectionEx(37, -13, 32);  // top-down
  FillRandom(*a, 5);
  FillRandom(*b, 6);
  double psnr = 0;
  ASSERT_EQ(ComputeBitmapPsnr(*a, *b, psnr), PSNR_OK);
  EXPECT_NEAR(psnr, ReferencePsnr(*a, *b), 1e-9);

  // The same pictures at 24 bits give the same value.
  TDibPtr a24 = CreateDibSectionEx(37, 13, 24);
  TDibPtr b24 = CreateDibSectionEx(37, 13, 24);
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 37; ++x) {
      std::memcpy(a24->RowFromTop(y) + 3 * x, a->RowFromTop(y) + 4 * x, 3);
      std::memcpy(b24->RowFromTop(y) + 3 * x, b->RowFromTop(y) + 4 * x, 3);
    }
  double psnr24 = 0, mixed = 0;
  ASSERT_EQ(ComputeBitmapPsnr(*a24, *b24, psnr24), PSNR_OK);
  EXPECT_DOUBLE_EQ(psnr24, psnr);
  ASSERT_EQ(ComputeBitmapPsnr(*a24, *b, mixed), PSNR_OK);
  EXPECT_DOUBLE_EQ(mixed, psnr);

  // A palette picture compares by its colours.
  TDibPtr p8 = CreateDibSectionEx(2, 1, 8);
  p8->RowFromTop(0)[1] = 9;  // (32, 32, 0)
  TDibPtr rgb = CreateDibSectionEx(2, 1, 24);
  rgb->RowFromTop(0)[3 + 1] = 32;
  rgb->RowFromTop(0)[3 + 2] = 32;
  EXPECT_EQ(ComputeBitmapPsnr(*p8, *rgb, psnr), PSNR_IDENTICAL);
}

TEST(PsnrTest, WideRowsOfMaximalDifferenceDoNotOverflow) {
  const int width = 70001;
  TDibPtr a = CreateDibSectionEx(width, 2, 32);
  TDibPtr b = CreateDibSectionEx(width, 2, 32);
  std::fill(b->bits.begin(), b->bits.end(), 0xFF);
  double psnr = 0;
  ASSERT_EQ(ComputeBitmapPsnr(*a, *b, psnr), PSNR_OK);
  EXPECT_NEAR(psnr, 0.0, 1e-12);  // MSE = 255^2
  TDibPtr a24 = CreateDibSectionEx(width, 2, 24);
  TDibPtr b24 = CreateDibSectionEx(width, 2, 24);
  std::fill(b24->bits.begin(), b24->bits.end(), 0xFF);
  ASSERT_EQ(ComputeBitmapPsnr(*a24, *b24, psnr), PSNR_OK);
  EXPECT_NEAR(psnr, 0.0, 1e-12);
}

}  // namespace
