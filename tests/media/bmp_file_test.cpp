#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <random>

#include "media/dib.h"
#include "platform/byte_order.h"
#include "platform/message_sink.h"
#include "tests/support/test_support.h"

namespace {

using namespace Dib;
using tovrin_test::ReadAll;
using tovrin_test::TTempDir;
using tovrin_test::WriteAll;
using Bytes = std::vector<std::uint8_t>;

TDibPtr RandomSection(int width, int height, int bits, unsigned seed) {
  TDibPtr s = CreateDibSectionEx(width, height, bits);
  std::mt19937 rng(seed);
  for (auto& b : s->bits) b = static_cast<std::uint8_t>(rng());
  if (bits <= 8)
    for (auto& q : s->colorTable)
      q = TRgbQuad{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                   static_cast<std::uint8_t>(rng()), 0};
  return s;
}

// The pixel bits of every picture row, top first, without row padding.
Bytes PictureRows(const TDibSection& s) {
  Bytes out;
  const std::size_t rowBits = static_cast<std::size_t>(s.Width()) * s.BitCount();
  for (int y = 0; y < s.Height(); ++y) {
    const std::uint8_t* row = s.RowFromTop(y);
    out.insert(out.end(), row, row + rowBits / 8);
    if (rowBits % 8) out.push_back(static_cast<std::uint8_t>(row[rowBits / 8] & (0xFF00 >> (rowBits % 8))));
  }
  return out;
}

// A .bmp file built field by field for the reader's tests.
struct TBmpBuilder {
  std::uint16_t signature = 0x4D42;
  std::int64_t bfSize = -1;   // -1: the real size
  std::int64_t offBits = -1;  // -1: after the table
  std::uint32_t headerSize = 40;
  std::int32_t width = 2;
  std::int32_t height = 2;
  std::uint16_t planes = 1;
  std::uint16_t bits = 24;
  std::uint32_t compression = BI_RGB;
  std::int64_t sizeImage = -1;  // -1: the bits' size
  std::uint32_t clrUsed = 0;
  std::vector<std::uint32_t> masks;  // written after a 40-byte header, or inside a larger one
  Bytes table;                       // raw bytes
  Bytes bitsData;

  Bytes Build() const {
    Bytes out;
    platform::TByteWriter w(out);
    w.U16(signature);
    w.U32(0);
    w.U32(0);
    w.U32(0);
    w.U32(headerSize);
    if (headerSize == 12) {
      w.U16(static_cast<std::uint16_t>(width));
      w.U16(static_cast<std::uint16_t>(height));
      w.U16(planes);
      w.U16(bits);
    } else {
      w.I32(width);
      w.I32(height);
      w.U16(planes);
      w.U16(bits);
      w.U32(compression);
      w.U32(sizeImage < 0 ? static_cast<std::uint32_t>(bitsData.size())
                          : static_cast<std::uint32_t>(sizeImage));
      w.I32(2835);
      w.I32(2835);
      w.U32(clrUsed);
      w.U32(0);
      if (headerSize > 40) {
        for (std::size_t i = 0; i < 4; ++i) w.U32(i < masks.size() ? masks[i] : 0);
        w.Zeros(headerSize - 56);
      } else {
        for (std::uint32_t m : masks) w.U32(m);
      }
    }
    w.Bytes(table.data(), table.size());
    const std::size_t off = out.size();
    w.Bytes(bitsData.data(), bitsData.size());
    platform::StoreLE32(out.data() + 2, bfSize < 0 ? static_cast<std::uint32_t>(out.size())
                                                   : static_cast<std::uint32_t>(bfSize));
    platform::StoreLE32(out.data() + 10,
                        offBits < 0 ? static_cast<std::uint32_t>(off) : static_cast<std::uint32_t>(offBits));
    return out;
  }
};

// ---------------------------------------------------------------------------
// Writers.

TEST(BmpWriterTest, SectionFileIsByteExact) {
  TTempDir dir;
  TDibPtr s = RandomSection(2, 2, 24, 1);
  s->header.biXPelsPerMeter = 3780;
  ASSERT_TRUE(SaveDibSectionToBmpFile(dir / "a.bmp", *s));
  const Bytes f = ReadAll(dir / "a.bmp");
  // 14 + 40 + 1,024 (the 3-3-2 display hint) + 2 rows of 8 bytes.
  ASSERT_EQ(f.size(), 1078u + 16);
  EXPECT_EQ(f[0], 'B');
  EXPECT_EQ(f[1], 'M');
  EXPECT_EQ(platform::LoadLE32(&f[2]), 1094u);
  EXPECT_EQ(platform::LoadLE32(&f[6]), 0u);
  EXPECT_EQ(platform::LoadLE32(&f[10]), 1078u);
  EXPECT_EQ(platform::LoadLE32(&f[14]), 40u);
  EXPECT_EQ(platform::LoadLE32(&f[18]), 2u);
  EXPECT_EQ(platform::LoadLE32(&f[22]), 2u);
  EXPECT_EQ(platform::LoadLE16(&f[26]), 1u);
  EXPECT_EQ(platform::LoadLE16(&f[28]), 24u);
  EXPECT_EQ(platform::LoadLE32(&f[30]), 0u);
  EXPECT_EQ(platform::LoadLE32(&f[34]), 16u);
  EXPECT_EQ(platform::LoadLE32(&f[38]), 3780u);
  EXPECT_EQ(platform::LoadLE32(&f[46]), 256u);
  EXPECT_EQ(platform::LoadLE32(&f[50]), 0u);
  // Table entry 9 is (32, 32, 0) stored blue, green, red, 0.
  EXPECT_EQ(Bytes(f.begin() + 54 + 36, f.begin() + 54 + 40), (Bytes{0, 32, 32, 0}));
  EXPECT_EQ(Bytes(f.begin() + 1078, f.end()), s->bits);

  Bytes encoded;
  ASSERT_TRUE(EncodeBmpFile(*s, encoded));
  EXPECT_EQ(encoded, f);
}

TEST(BmpWriterTest, SixteenBitFilesCarryMasksAndAValidColoursUsedField) {
  TTempDir dir;
  TDibPtr s = RandomSection(3, 2, 16, 2);
  ASSERT_TRUE(SaveDibSectionToBmpFile(dir / "s.bmp", *s));
  const Bytes f = ReadAll(dir / "s.bmp");
  EXPECT_EQ(platform::LoadLE32(&f[30]), BI_BITFIELDS);
  EXPECT_EQ(platform::LoadLE32(&f[46]), 256u);
  EXPECT_EQ(platform::LoadLE32(&f[54]), 0x7C00u);
  EXPECT_EQ(platform::LoadLE32(&f[58]), 0x03E0u);
  EXPECT_EQ(platform::LoadLE32(&f[62]), 0x001Fu);
  EXPECT_EQ(platform::LoadLE32(&f[10]), 14u + 40 + 12 + 1024);
  EXPECT_EQ(f.size(), 14u + 40 + 12 + 1024 + 16);

  // A header made for a 16-bit bitmap names no 65,536-entry table.
  TBitmapInfo info;
  ASSERT_TRUE(CreateBitmapInfoHeader(*s, info));
  ASSERT_TRUE(WriteBmpFile(dir / "h.bmp", info, s->bits.data()));
  const Bytes h = ReadAll(dir / "h.bmp");
  EXPECT_EQ(platform::LoadLE32(&h[46]), 0u);
  EXPECT_EQ(platform::LoadLE32(&h[10]), 54u);
  EXPECT_EQ(h.size(), 54u + 16);
}

TEST(BmpWriterTest, WriteBmpFileWritesTheWholeTableItsOffsetCounts) {
  TTempDir dir;
  TBitmapInfo info;
  info.header.biWidth = 3;
  info.header.biHeight = 1;
  info.header.biBitCount = 8;
  info.colorTable = {TRgbQuad{1, 2, 3, 0}};  // entries it lacks come from the 3-3-2 table
  const Bytes bits = {0, 9, 255, 0};
  ASSERT_TRUE(WriteBmpFile(dir / "p.bmp", info, bits.data()));
  const Bytes f = ReadAll(dir / "p.bmp");
  ASSERT_EQ(f.size(), 1078u + 4);
  EXPECT_EQ(platform::LoadLE32(&f[10]), 1078u);
  EXPECT_EQ(platform::LoadLE32(&f[34]), 4u);  // the image size is filled in
  EXPECT_EQ(Bytes(f.begin() + 54, f.begin() + 58), (Bytes{1, 2, 3, 0}));
  TDibSection back;
  ASSERT_TRUE(ReadBmpFile(dir / "p.bmp", back));
  EXPECT_EQ(back.colorTable[9], (TRgbQuad{0, 32, 32, 0}));

  info.header.biClrUsed = 2;  // a short table is written as named
  ASSERT_TRUE(WriteBmpFile(dir / "q.bmp", info, bits.data()));
  const Bytes g = ReadAll(dir / "q.bmp");
  EXPECT_EQ(platform::LoadLE32(&g[10]), 14u + 40 + 8);
  EXPECT_EQ(g.size(), 14u + 40 + 8 + 4);
}

TEST(BmpWriterTest, WriteBmpFileReportsEachFailingStep) {
  TTempDir dir;
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope(&sink);
  TDibPtr small = RandomSection(2, 2, 32, 3);
  const TBitmapInfo info = GetDibSectionInfo(*small);
  EXPECT_FALSE(WriteBmpFile(dir / "missing" / "a.bmp", info, small->bits.data()));
  EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"CreateFile error"}));
  sink.Clear();

  // /dev/full takes buffered bytes and refuses them on flush: a large write
  // fails at once, a small one when the file is closed.
  if (std::FILE* probe = std::fopen("/dev/full", "wb")) {
    std::fclose(probe);
    TDibPtr big = RandomSection(512, 512, 32, 4);
    EXPECT_FALSE(WriteBmpFile("/dev/full", GetDibSectionInfo(*big), big->bits.data()));
    EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"WriteFile error"}));
    sink.Clear();
    EXPECT_FALSE(WriteBmpFile("/dev/full", info, small->bits.data()));
    EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"CloseHandle error"}));
  }
}

TEST(BmpWriterTest, RefusedHeadersWriteNothing) {
  TTempDir dir;
  const Bytes bits(64, 0);
  struct Case {
    const char* name;
    std::function<void(TBitmapInfoHeader&)> change;
  };
  const Case cases[] = {
      {"depth 2", [](TBitmapInfoHeader& h) { h.biBitCount = 2; }},
      {"two planes", [](TBitmapInfoHeader& h) { h.biPlanes = 2; }},
      {"width 0", [](TBitmapInfoHeader& h) { h.biWidth = 0; }},
      {"height 0", [](TBitmapInfoHeader& h) { h.biHeight = 0; }},
      {"JPEG", [](TBitmapInfoHeader& h) { h.biCompression = 4; }},
      {"RLE8 at 24 bits",
       [](TBitmapInfoHeader& h) {
         h.biCompression = BI_RLE8;
         h.biSizeImage = 4;
       }},
      {"bit fields at 24 bits", [](TBitmapInfoHeader& h) { h.biCompression = BI_BITFIELDS; }},
      {"over 4 GiB",
       [](TBitmapInfoHeader& h) {
         h.biWidth = 40000;
         h.biHeight = 40000;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBitmapInfo info;
    info.header.biWidth = 2;
    info.header.biHeight = 2;
    info.header.biBitCount = 24;
    c.change(info.header);
    EXPECT_FALSE(WriteBmpFile(dir / "x.bmp", info, bits.data()));
    EXPECT_FALSE(std::filesystem::exists(dir / "x.bmp"));
  }
}

TEST(BmpWriterTest, RoundTripsAreExactAtEveryDepth) {
  TTempDir dir;
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    for (int height : {7, -7}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, height " << height);
      TDibPtr s = RandomSection(13, height, bits, static_cast<unsigned>(bits * 100 + height));
      const auto path = dir / "r.bmp";
      ASSERT_TRUE(SaveDibSectionToBmpFile(path, *s));
      TDibSection back;
      std::string error;
      ASSERT_TRUE(ReadBmpFile(path, back, &error)) << error;
      EXPECT_EQ(back.Width(), 13);
      EXPECT_EQ(back.header.biHeight, 7);  // read back bottom-up
      EXPECT_EQ(back.BitCount(), bits);
      EXPECT_EQ(PictureRows(back), PictureRows(*s));
      if (bits <= 8) {
        EXPECT_EQ(back.colorTable, s->colorTable);
      }
      if (bits == 16) {
        EXPECT_EQ(back.header.biCompression, BI_BITFIELDS);
        EXPECT_EQ(back.masks, s->masks);
      }
      if (height > 0) {
        EXPECT_EQ(back.bits, s->bits);
        EXPECT_EQ(back.header.biClrUsed, s->header.biClrUsed);
      }
    }
  }
}

TEST(BmpWriterTest, PackedDibWritersCountOnlyWhatTheBlockHolds) {
  TTempDir dir;
  TDibPtr s = RandomSection(5, 3, 32, 8);
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    const Bytes packed = CreateDibFromBitmap(*s, bits);
    ASSERT_FALSE(packed.empty());
    for (auto write : {&SaveDibToBmpFile, &WriteGlobalDibFile}) {
      ASSERT_TRUE(write(dir / "p.bmp", packed));
      const Bytes f = ReadAll(dir / "p.bmp");
      ASSERT_EQ(f.size(), packed.size() + 14);
      EXPECT_EQ(platform::LoadLE32(&f[2]), f.size());
      const std::size_t table = bits <= 8 ? (std::size_t{4} << bits) : 0;
      EXPECT_EQ(platform::LoadLE32(&f[10]), 14 + 40 + table);
      EXPECT_EQ(Bytes(f.begin() + 14, f.end()), packed);
      TDibSection back;
      std::string error;
      EXPECT_TRUE(ReadBmpFile(dir / "p.bmp", back, &error)) << error;
    }
  }

  // A short table (colours-used 2 at 8 bits) and bit-field masks are counted as stored.
  Bytes packed;
  platform::TByteWriter w(packed);
  w.U32(40);
  w.I32(1);
  w.I32(1);
  w.U16(1);
  w.U16(16);
  w.U32(BI_BITFIELDS);
  w.U32(4);
  w.Zeros(16);
  for (std::uint32_t m : {0xF800u, 0x07E0u, 0x001Fu}) w.U32(m);
  w.Zeros(4);
  ASSERT_EQ(packed.size(), 56u);
  ASSERT_TRUE(SaveDibToBmpFile(dir / "m.bmp", packed));
  EXPECT_EQ(platform::LoadLE32(ReadAll(dir / "m.bmp").data() + 10), 14u + 40 + 12);
  TDibSection back;
  ASSERT_TRUE(ReadBmpFile(dir / "m.bmp", back));
  EXPECT_EQ(back.masks, (std::array<std::uint32_t, 3>{0xF800, 0x07E0, 0x001F}));

  EXPECT_FALSE(SaveDibToBmpFile(dir / "e.bmp", Bytes{}));
  EXPECT_FALSE(WriteGlobalDibFile(dir / "e.bmp", Bytes(packed.begin(), packed.begin() + 50)));
  EXPECT_FALSE(std::filesystem::exists(dir / "e.bmp"));
}

TEST(BmpWriterTest, WriteDibBitsFile) {
  TTempDir dir;
  TBitmapInfoHeader h;
  h.biWidth = 2;
  h.biHeight = 2;
  h.biBitCount = 32;
  const Bytes bits = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 0};
  EXPECT_TRUE(WriteDibBitsFile(dir / "z.bmp", &h, bits.data(), 0));
  EXPECT_TRUE(WriteDibBitsFile(dir / "z.bmp", nullptr, bits.data(), bits.size()));
  EXPECT_TRUE(WriteDibBitsFile(dir / "z.bmp", &h, nullptr, bits.size()));
  EXPECT_FALSE(std::filesystem::exists(dir / "z.bmp"));

  ASSERT_TRUE(WriteDibBitsFile(dir / "a.bmp", &h, bits.data(), bits.size()));
  Bytes f = ReadAll(dir / "a.bmp");
  ASSERT_EQ(f.size(), bits.size() + 54);
  EXPECT_EQ(platform::LoadLE32(&f[2]), f.size());
  EXPECT_EQ(platform::LoadLE32(&f[10]), 54u);
  EXPECT_EQ(Bytes(f.begin() + 54, f.end()), bits);

  // Fewer bytes than the rows need cannot make a readable file.
  EXPECT_FALSE(WriteDibBitsFile(dir / "b.bmp", &h, bits.data(), 15));
  EXPECT_FALSE(WriteDibBitsFile(dir / "missing" / "b.bmp", &h, bits.data(), bits.size()));

  // A palette header gets its table, and the offset counts it.
  h.biBitCount = 8;
  const Bytes rows = {1, 2, 0, 0, 3, 4, 0, 0};
  ASSERT_TRUE(WriteDibBitsFile(dir / "c.bmp", &h, rows.data(), rows.size()));
  f = ReadAll(dir / "c.bmp");
  EXPECT_EQ(platform::LoadLE32(&f[10]), 1078u);
  TDibSection back;
  ASSERT_TRUE(ReadBmpFile(dir / "c.bmp", back));
  EXPECT_EQ(back.colorTable[1], kSystem332ColorTable[1]);
  const std::vector<TRgbQuad> grey = {TRgbQuad{0, 0, 0, 0}, TRgbQuad{9, 9, 9, 0}};
  ASSERT_TRUE(WriteDibBitsFile(dir / "d.bmp", &h, rows.data(), rows.size(), &grey));
  ASSERT_TRUE(ReadBmpFile(dir / "d.bmp", back));
  EXPECT_EQ(back.colorTable[1], grey[1]);
}

TEST(BmpWriterTest, WriteFileChunked) {
  TTempDir dir;
  Bytes data(70000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  std::FILE* f = std::fopen((dir / "c.bin").c_str(), "wb");
  ASSERT_TRUE(f);
  EXPECT_EQ(WriteFileChunked(f, data.data(), data.size()), data.size());
  std::fclose(f);
  EXPECT_EQ(ReadAll(dir / "c.bin"), data);

  std::FILE* readOnly = std::fopen((dir / "c.bin").c_str(), "rb");
  ASSERT_TRUE(readOnly);
  EXPECT_EQ(WriteFileChunked(readOnly, data.data(), data.size()), 0u);
  std::fclose(readOnly);
}

// ---------------------------------------------------------------------------
// Reader.

TEST(BmpReaderTest, ReadsCoreAndLargerHeaders) {
  // 12-byte core header, 8 bits, 3-byte table entries, 2 x 1 picture.
  TBmpBuilder core;
  core.headerSize = 12;
  core.bits = 8;
  core.width = 2;
  core.height = 1;
  for (int i = 0; i < 256; ++i)
    core.table.insert(core.table.end(),
                      {static_cast<std::uint8_t>(i), 0, static_cast<std::uint8_t>(255 - i)});
  core.bitsData = {7, 200, 0, 0};
  TDibSection s;
  std::string error;
  const Bytes coreFile = core.Build();
  ASSERT_TRUE(ReadBmpMemory(coreFile.data(), coreFile.size(), s, &error)) << error;
  EXPECT_EQ(s.header.biSize, 40u);
  EXPECT_EQ(s.colorTable[200], (TRgbQuad{200, 0, 55, 0}));
  EXPECT_EQ(s.bits, core.bitsData);

  // 124-byte header with 5-6-5 masks inside it.
  TBmpBuilder v5;
  v5.headerSize = 124;
  v5.bits = 16;
  v5.compression = BI_BITFIELDS;
  v5.masks = {0xF800, 0x07E0, 0x001F, 0};
  v5.width = 1;
  v5.height = 1;
  v5.bitsData = {0x1F, 0xF8, 0, 0};
  const Bytes v5File = v5.Build();
  ASSERT_TRUE(ReadBmpMemory(v5File.data(), v5File.size(), s, &error)) << error;
  EXPECT_EQ(s.header.biCompression, BI_BITFIELDS);
  EXPECT_EQ(s.masks, (std::array<std::uint32_t, 3>{0xF800, 0x07E0, 0x001F}));
  double psnr = 0;
  TDibPtr magenta = CreateDibSectionEx(1, 1, 24);
  magenta->bits = {255, 0, 255, 0};
  EXPECT_EQ(ComputeBitmapPsnr(s, *magenta, psnr), PSNR_IDENTICAL);

  // 32 bits with masks in red, green, blue byte order become blue, green, red, 0.
  TBmpBuilder swapped;
  swapped.bits = 32;
  swapped.compression = BI_BITFIELDS;
  swapped.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
  swapped.width = 1;
  swapped.height = -2;  // top-down
  swapped.bitsData = {10, 20, 30, 99, 40, 50, 60, 99};
  const Bytes swappedFile = swapped.Build();
  ASSERT_TRUE(ReadBmpMemory(swappedFile.data(), swappedFile.size(), s, &error)) << error;
  EXPECT_EQ(s.header.biCompression, BI_RGB);
  EXPECT_EQ(s.header.biHeight, 2);
  EXPECT_EQ(Bytes(s.RowFromTop(0), s.RowFromTop(0) + 4), (Bytes{30, 20, 10, 0}));
  EXPECT_EQ(Bytes(s.RowFromTop(1), s.RowFromTop(1) + 4), (Bytes{60, 50, 40, 0}));
}

TEST(BmpReaderTest, ShortTablesArePaddedWithBlack) {
  TBmpBuilder b;
  b.bits = 8;
  b.width = 2;
  b.height = 1;
  b.clrUsed = 2;
  b.table = {1, 2, 3, 0, 4, 5, 6, 0};
  b.bitsData = {1, 250, 0, 0};
  const Bytes file = b.Build();
  TDibSection s;
  ASSERT_TRUE(ReadBmpMemory(file.data(), file.size(), s));
  ASSERT_EQ(s.colorTable.size(), 256u);
  EXPECT_EQ(s.colorTable[1], (TRgbQuad{4, 5, 6, 0}));
  EXPECT_EQ(s.colorTable[250], TRgbQuad{});
}

TEST(BmpReaderTest, ExpandsRunLengthPictures) {
  // RLE8, 6 x 3: row 0 a run and a literal of 3 (padded), a delta to row 2, EOB.
  TBmpBuilder rle8;
  rle8.bits = 8;
  rle8.compression = BI_RLE8;
  rle8.width = 6;
  rle8.height = 3;
  rle8.clrUsed = 16;
  rle8.table.assign(64, 0);
  rle8.bitsData = {2, 5, 0, 3, 7, 8, 9, 0, 0, 0,  // row 0: 5 5 7 8 9, end of line
                   0, 2, 4, 1,                    // delta: x 4, y 2
                   2, 1, 0, 1};                   // row 2: .. .. .. .. 1 1, end
  const Bytes f8 = rle8.Build();
  TDibSection s;
  std::string error;
  ASSERT_TRUE(ReadBmpMemory(f8.data(), f8.size(), s, &error)) << error;
  EXPECT_EQ(s.header.biCompression, BI_RGB);
  EXPECT_EQ(s.bits, (Bytes{5, 5, 7, 8, 9, 0, 0, 0,  //
                           0, 0, 0, 0, 0, 0, 0, 0,  //
                           0, 0, 0, 0, 1, 1, 0, 0}));

  // RLE4, 5 x 2: a run of alternating nibbles and a literal of 3 nibbles.
  TBmpBuilder rle4;
  rle4.bits = 4;
  rle4.compression = BI_RLE4;
  rle4.width = 5;
  rle4.height = 2;
  rle4.table.assign(64, 0);
  rle4.bitsData = {3, 0x12, 0,    0,            // row 0: 1 2 1
                   0, 3,    0xAB, 0xC0, 0, 1};  // row 1: A B C, end
  const Bytes f4 = rle4.Build();
  ASSERT_TRUE(ReadBmpMemory(f4.data(), f4.size(), s, &error)) << error;
  EXPECT_EQ(s.bits, (Bytes{0x12, 0x10, 0, 0, 0xAB, 0xC0, 0, 0}));
}

// 48-bit pictures (16-bit samples, blue first) are read as they are stored;
// what shows them takes the high byte of each sample.
TEST(BmpReaderTest, ReadsFortyEightBitPictures) {
  TBmpBuilder b;
  b.bits = 48;
  b.width = 3;
  b.height = -2;  // top-down
  // Rows of 18 bytes padded to 20. Top row: (B, G, R) = (0x1234, 0xABCD,
  // 0xFF01), (0, 0, 0), (0x0100, 0x0200, 0x0300); bottom row: all 0xFFFF.
  b.bitsData = {0x34, 0x12, 0xCD, 0xAB, 0x01, 0xFF, 0,    0,    0,    0,
                0,    0,    0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0xEE, 0xEE};
  b.bitsData.insert(b.bitsData.end(), 18, 0xFF);
  b.bitsData.insert(b.bitsData.end(), 2, 0);
  const Bytes file = b.Build();
  TDibSection s;
  std::string error;
  ASSERT_TRUE(ReadBmpMemory(file.data(), file.size(), s, &error)) << error;
  EXPECT_EQ(s.BitCount(), 48);
  EXPECT_EQ(s.Width(), 3);
  EXPECT_EQ(s.header.biHeight, 2);  // kept bottom-up
  EXPECT_EQ(s.header.biCompression, BI_RGB);
  EXPECT_EQ(s.Stride(), 20u);
  EXPECT_EQ(Bytes(s.RowFromTop(0), s.RowFromTop(0) + 18), Bytes(b.bitsData.begin(), b.bitsData.begin() + 18));
  EXPECT_EQ(Bytes(s.RowFromTop(1), s.RowFromTop(1) + 18), Bytes(18, 0xFF));

  // As a 24-bit DIB (bottom row first): the high byte of each sample.
  const Bytes packed = CreateDibFromBitmap(s, 24);
  ASSERT_EQ(packed.size(), 40u + 2 * 12);
  EXPECT_EQ(Bytes(packed.begin() + 40, packed.begin() + 49), Bytes(9, 0xFF));
  EXPECT_EQ(Bytes(packed.begin() + 52, packed.begin() + 61), (Bytes{0x12, 0xAB, 0xFF, 0, 0, 0, 1, 2, 3}));

  // The comparison reads the same colours.
  TDibPtr same = CreateDibSectionEx(3, 2, 24);
  const Bytes top = {0x12, 0xAB, 0xFF, 0, 0, 0, 1, 2, 3};
  std::copy(top.begin(), top.end(), same->RowFromTop(0));
  std::fill_n(same->RowFromTop(1), 9, 0xFF);
  double psnr = -1;
  EXPECT_EQ(ComputeBitmapPsnr(s, *same, psnr), PSNR_IDENTICAL);
  same->RowFromTop(0)[8] = 4;
  EXPECT_EQ(ComputeBitmapPsnr(s, *same, psnr), PSNR_OK);
}

// Every hostile or broken file fails with a message, never a crash.
TEST(BmpReaderTest, HostileFilesFailCleanly) {
  auto valid = [] {
    TBmpBuilder b;
    b.width = 3;
    b.height = 2;
    b.bitsData.assign(24, 0x55);
    return b;
  };
  auto rle = [](Bytes data) {
    TBmpBuilder b;
    b.bits = 8;
    b.compression = BI_RLE8;
    b.width = 4;
    b.height = 2;
    b.table.assign(1024, 0);
    b.bitsData = std::move(data);
    return b;
  };
  struct Case {
    const char* name;
    std::function<Bytes()> make;
  };
  const std::vector<Case> cases = {
      {"empty", [] { return Bytes{}; }},
      {"only a file header",
       [&] {
         Bytes f = valid().Build();
         f.resize(14);
         return f;
       }},
      {"truncated header",
       [&] {
         Bytes f = valid().Build();
         f.resize(30);
         return f;
       }},
      {"no signature",
       [&] {
         TBmpBuilder b = valid();
         b.signature = 0x4142;
         return b.Build();
       }},
      {"header size 20",
       [&] {
         TBmpBuilder b = valid();
         b.headerSize = 20;
         return b.Build();
       }},
      {"two planes",
       [&] {
         TBmpBuilder b = valid();
         b.planes = 2;
         return b.Build();
       }},
      {"7 bits",
       [&] {
         TBmpBuilder b = valid();
         b.bits = 7;
         return b.Build();
       }},
      {"48 bits with bit fields",
       [&] {
         TBmpBuilder b = valid();
         b.bits = 48;
         b.compression = BI_BITFIELDS;
         b.masks = {0xFF, 0xFF00, 0xFF0000};
         b.bitsData.assign(48, 0);
         return b.Build();
       }},
      {"48 bits in a core header",
       [&] {
         TBmpBuilder b = valid();
         b.headerSize = 12;
         b.bits = 48;
         b.bitsData.assign(48, 0);
         return b.Build();
       }},
      {"48 bits, rows truncated",
       [&] {
         TBmpBuilder b = valid();
         b.bits = 48;
         b.bitsData.assign(39, 0);
         return b.Build();
       }},
      {"width 0",
       [&] {
         TBmpBuilder b = valid();
         b.width = 0;
         return b.Build();
       }},
      {"negative width",
       [&] {
         TBmpBuilder b = valid();
         b.width = -3;
         return b.Build();
       }},
      {"height 0",
       [&] {
         TBmpBuilder b = valid();
         b.height = 0;
         return b.Build();
       }},
      {"lowest height",
       [&] {
         TBmpBuilder b = valid();
         b.height = INT32_MIN;
         return b.Build();
       }},
      {"huge width and height",
       [&] {
         TBmpBuilder b = valid();
         b.width = INT32_MAX;
         b.height = INT32_MAX;
         b.bits = 32;
         return b.Build();
       }},
      {"huge width",
       [&] {
         TBmpBuilder b = valid();
         b.width = 1 << 30;
         return b.Build();
       }},
      {"pixel data truncated",
       [&] {
         Bytes f = valid().Build();
         f.pop_back();
         return f;
       }},
      {"offset inside the header",
       [&] {
         TBmpBuilder b = valid();
         b.offBits = 20;
         return b.Build();
       }},
      {"offset beyond the file",
       [&] {
         TBmpBuilder b = valid();
         b.offBits = 100000;
         return b.Build();
       }},
      {"offset leaves too few bytes",
       [&] {
         TBmpBuilder b = valid();
         b.offBits = 60;
         return b.Build();
       }},
      {"image size beyond the file",
       [&] {
         TBmpBuilder b = valid();
         b.sizeImage = 25;
         return b.Build();
       }},
      {"300 colours at 8 bits",
       [&] {
         TBmpBuilder b = valid();
         b.bits = 8;
         b.clrUsed = 300;
         b.table.assign(1200, 0);
         return b.Build();
       }},
      {"table past the end",
       [&] {
         TBmpBuilder b = valid();
         b.clrUsed = 1000000;
         return b.Build();
       }},
      {"8-bit table missing",
       [&] {
         TBmpBuilder b = valid();
         b.bits = 8;
         b.bitsData.resize(8);
         return b.Build();
       }},
      {"JPEG compression",
       [&] {
         TBmpBuilder b = valid();
         b.compression = 4;
         return b.Build();
       }},
      {"RLE8 at 24 bits",
       [&] {
         TBmpBuilder b = valid();
         b.compression = BI_RLE8;
         return b.Build();
       }},
      {"bit fields at 24 bits",
       [&] {
         TBmpBuilder b = valid();
         b.compression = BI_BITFIELDS;
         b.masks = {0xFF, 0xFF00, 0xFF0000};
         return b.Build();
       }},
      {"masks missing",
       [&] {
         TBmpBuilder b = valid();
         b.bits = 16;
         b.compression = BI_BITFIELDS;
         b.bitsData.clear();
         Bytes f = b.Build();
         f.resize(60);
         return f;
       }},
      {"overlapping masks",
       [&] {
         TBmpBuilder b = valid();
         b.bits = 16;
         b.compression = BI_BITFIELDS;
         b.masks = {0x7C00, 0x07E0, 0x001F};
         b.bitsData.resize(16);
         return b.Build();
       }},
      {"zero mask",
       [&] {
         TBmpBuilder b = valid();
         b.bits = 16;
         b.compression = BI_BITFIELDS;
         b.masks = {0x7C00, 0, 0x001F};
         b.bitsData.resize(16);
         return b.Build();
       }},
      {"mask beyond 16 bits",
       [&] {
         TBmpBuilder b = valid();
         b.bits = 16;
         b.compression = BI_BITFIELDS;
         b.masks = {0x7C000, 0x3E0, 0x1F};
         b.bitsData.resize(16);
         return b.Build();
       }},
      {"split mask",
       [&] {
         TBmpBuilder b = valid();
         b.bits = 16;
         b.compression = BI_BITFIELDS;
         b.masks = {0x7C01, 0x3E0, 0x1C};
         b.bitsData.resize(16);
         return b.Build();
       }},
      {"top-down RLE",
       [&] {
         TBmpBuilder b = rle({0, 1});
         b.height = -2;
         return b.Build();
       }},
      {"RLE run past the row",
       [&] {
         return rle({5, 1, 0, 1}).Build();
       }},
      {"RLE run past the last row",
       [&] {
         return rle({0, 0, 0, 0, 1, 1}).Build();
       }},
      {"RLE end of line past the last row",
       [&] {
         return rle({0, 0, 0, 0, 0, 0}).Build();
       }},
      {"RLE literal past the row",
       [&] {
         return rle({2, 1, 0, 3, 1, 2, 3, 0}).Build();
       }},
      {"RLE literal truncated",
       [&] {
         return rle({0, 4, 1, 2}).Build();
       }},
      {"RLE delta outside",
       [&] {
         return rle({0, 2, 9, 0}).Build();
       }},
      {"RLE delta truncated",
       [&] {
         return rle({0, 2, 1}).Build();
       }},
      {"RLE odd byte",
       [&] {
         return rle({4, 1, 0}).Build();
       }},
      {"RLE image size beyond the file",
       [&] {
         TBmpBuilder b = rle({0, 1});
         b.sizeImage = 50;
         return b.Build();
       }},
      {"RLE picture too large",
       [&] {
         TBmpBuilder b = rle({0, 1});
         b.width = 1 << 30;
         b.height = 1 << 30;
         return b.Build();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = c.make();
    TDibSection s;
    s.header.biWidth = 77;
    std::string error;
    EXPECT_FALSE(ReadBmpMemory(file.data(), file.size(), s, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(s.header.biWidth, 77);  // untouched
  }
  const Bytes ok = valid().Build();
  TDibSection s;
  std::string error;
  EXPECT_TRUE(ReadBmpMemory(ok.data(), ok.size(), s, &error)) << error;
}

TEST(BmpReaderTest, ThePixelLimitIsTheCallers) {
  TDibPtr s = CreateDibSectionEx(64, 64, 32);
  Bytes file;
  ASSERT_TRUE(EncodeBmpFile(*s, file));
  TDibSection back;
  TBmpReadOptions small;
  small.maxBitsBytes = 64 * 64 * 4 - 1;
  std::string error;
  EXPECT_FALSE(ReadBmpMemory(file.data(), file.size(), back, &error, small));
  EXPECT_NE(error.find("too large"), std::string::npos) << error;
  small.maxBitsBytes += 1;
  EXPECT_TRUE(ReadBmpMemory(file.data(), file.size(), back, &error, small)) << error;
}

TEST(BmpReaderTest, LoadBitmapFileWithPalette) {
  TTempDir dir;
  TDibPtr s8 = RandomSection(4, 4, 8, 21);
  ASSERT_TRUE(SaveDibSectionToBmpFile(dir / "p.bmp", *s8));
  TDibPtr bitmap;
  std::unique_ptr<TPalette> palette;
  ASSERT_TRUE(LoadBitmapFileWithPalette(dir / "p.bmp", bitmap, &palette));
  ASSERT_TRUE(bitmap);
  ASSERT_TRUE(palette);
  EXPECT_EQ(palette->version, 0x300);
  ASSERT_EQ(palette->entries.size(), 256u);
  const TRgbQuad q = s8->colorTable[77];
  EXPECT_EQ(palette->entries[77], (TPaletteEntry{q.rgbRed, q.rgbGreen, q.rgbBlue, 0}));
  EXPECT_EQ(bitmap->bits, s8->bits);

  TDibPtr s24 = RandomSection(4, 4, 24, 22);
  ASSERT_TRUE(SaveDibSectionToBmpFile(dir / "t.bmp", *s24));
  std::unique_ptr<TPalette> none;
  ASSERT_TRUE(LoadBitmapFileWithPalette(dir / "t.bmp", bitmap, &none));
  EXPECT_FALSE(none);
  EXPECT_EQ(bitmap->bits, s24->bits);

  WriteAll(dir / "bad.bmp", Bytes{'B', 'M', 1, 2, 3});
  const TDibSection* before = bitmap.get();
  std::string error;
  EXPECT_FALSE(LoadBitmapFileWithPalette(dir / "bad.bmp", bitmap, &palette, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(bitmap.get(), before);
  EXPECT_FALSE(LoadBitmapFileWithPalette(dir / "none.bmp", bitmap, &palette));
  EXPECT_FALSE(LoadBitmapFileWithPalette(dir.Path(), bitmap, &palette));
  EXPECT_EQ(palette->entries.size(), 256u);
}

}  // namespace
