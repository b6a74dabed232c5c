#include "media/frame_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

using namespace ZarnTypes;

namespace {

TPixelFormat Pf(std::int32_t v) { return static_cast<TPixelFormat>(v); }

TFrameBuffer MakeFrame(std::int32_t pf, std::int32_t width, std::int32_t height, std::int32_t rowAlign = 4,
                       std::int32_t heightAlign = 1) {
  TFrameBuffer f;
  f.ePixelFormat = Pf(pf);
  f.nWidth = width;
  f.nHeight = height;
  f.nRowAlignment = rowAlign;
  f.nHeightAlignment = heightAlign;
  f.nFlag = 1;
  return f;
}

// Every field, so that "unchanged" and "cleared" can be compared exactly.
void ExpectSameFrame(const TFrameBuffer& a, const TFrameBuffer& b) {
  EXPECT_EQ(a.ePixelFormat, b.ePixelFormat);
  EXPECT_EQ(a.nBitsPerPixel, b.nBitsPerPixel);
  EXPECT_EQ(a.nWidth, b.nWidth);
  EXPECT_EQ(a.nHeight, b.nHeight);
  EXPECT_EQ(a.nStride, b.nStride);
  EXPECT_EQ(a.nPaddedHeight, b.nPaddedHeight);
  EXPECT_EQ(a.nSize, b.nSize);
  EXPECT_EQ(a.nRowAlignment, b.nRowAlignment);
  EXPECT_EQ(a.nHeightAlignment, b.nHeightAlignment);
  EXPECT_EQ(a.nFlag, b.nFlag);
  EXPECT_EQ(a.pBuffer, b.pBuffer);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(a.nReserved[i], b.nReserved[i]) << "word " << i;
}

// Touches every byte of the buffer (AddressSanitizer catches a short one).
void FillBuffer(const TFrameBuffer& f, std::uint8_t value) {
  ASSERT_NE(f.pBuffer, nullptr);
  std::memset(f.pBuffer, value, static_cast<std::size_t>(f.nSize));
}

}  // namespace

TEST(PixelFormatBits, PackedAndDibFormatsHaveTheirDepthOthersNone) {
  const struct {
    std::int32_t pf;
    std::int32_t bits;
  } cases[] = {
      {13, 1}, {14, 2}, {15, 4}, {16, 8},  {17, 16}, {18, 24}, {19, 32}, {20, 48}, {22, 1},
      {23, 2}, {24, 4}, {25, 8}, {26, 16}, {27, 24}, {28, 32}, {29, 48}, {0, 0},   {12, 0},
      {21, 0}, {30, 0}, {33, 0}, {40, 0},  {42, 0},  {65, 0},  {94, 0},  {107, 0}, {-13, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetPixelFormatBitsPerPixel(Pf(c.pf)), c.bits) << "pixel format " << c.pf;
  }
}

TEST(FrameBufferLayout, StrideComesFromWidthDepthAndRowAlignment) {
  const struct {
    std::int32_t pf, width, height, rowAlign, heightAlign;
    std::int32_t stride, paddedHeight;
  } cases
      [] =
          {
              {PF_PACKED_1, 9, 3, 1, 1, 2, 3},  // 9 bits -> 2 bytes
              {PF_DIB_1, 9, 3, 4, 1, 4, 3},     // 9 bits -> one 32-bit word
              {PF_PACKED_24, 3, 2, 1, 1, 9, 2},
              {PF_RGB24, 3, 2, 4, 1, 12, 2},
              {PF_PACKED_48, 5, 1, 1, 1, 30, 1},
              {PF_DIB_16, 3, 5, 4, 4, 8, 8},  // padded height recorded, size uses the height
              {PF_PACKED_4, 3, 2, 1, 2, 2, 2},
              {PF_DIB_2, 17, 1, 2, 1, 6, 1},  // 34 bits -> 5 bytes -> 6 with 2-byte rows
              {PF_RGB32, 7, 3, 8, 16, 32, 16},
          };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "pf " << c.pf << " width " << c.width << " align " << c.rowAlign);
    TFrameBuffer laid = MakeFrame(c.pf, c.width, c.height, c.rowAlign, c.heightAlign);
    ASSERT_TRUE(LayoutFrameBuffer(&laid));
    EXPECT_EQ(laid.nBitsPerPixel, GetPixelFormatBitsPerPixel(Pf(c.pf)));
    EXPECT_EQ(laid.nStride, c.stride);
    EXPECT_EQ(laid.nPaddedHeight, c.paddedHeight);
    EXPECT_EQ(laid.nSize, c.stride * c.height);
    EXPECT_EQ(laid.pBuffer, nullptr);

    TFrameBuffer owned = MakeFrame(c.pf, c.width, c.height, c.rowAlign, c.heightAlign);
    ASSERT_TRUE(AllocFrameBuffer(&owned));
    EXPECT_EQ(owned.nStride, c.stride);
    EXPECT_EQ(owned.nSize, c.stride * c.height);
    FillBuffer(owned, 0x5A);
    FreeFrameBuffer(&owned);
  }
}

TEST(FrameBufferLayout, RefusedRecordsAreLeftUnchanged) {
  const struct {
    std::int32_t pf, width, height, rowAlign, heightAlign;
  } cases[] = {
      {PF_RGB24, 0, 4, 4, 1}, {PF_RGB24, 4, -1, 4, 1},     {PF_RGB24, -4, 4, 4, 1}, {PF_BMP, 4, 4, 4, 1},
      {12, 4, 4, 4, 1},       {PF_YUV444_601, 4, 4, 4, 1}, {PF_JPEG, 4, 4, 4, 1},   {30, 4, 4, 4, 1},
      {0, 4, 4, 4, 1},        {PF_RGB24, 4, 4, 0, 1},      {PF_RGB24, 4, 4, 3, 1},  {PF_RGB24, 4, 4, -4, 1},
      {PF_RGB24, 4, 4, 4, 0}, {PF_RGB24, 4, 4, 4, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "pf " << c.pf << " " << c.width << "x" << c.height << " align "
                                    << c.rowAlign << "/" << c.heightAlign);
    TFrameBuffer f = MakeFrame(c.pf, c.width, c.height, c.rowAlign, c.heightAlign);
    f.nReserved[3] = 77;
    const TFrameBuffer before = f;
    EXPECT_FALSE(LayoutFrameBuffer(&f));
    ExpectSameFrame(f, before);
    EXPECT_FALSE(AllocFrameBuffer(&f));
    ExpectSameFrame(f, before);
  }
  EXPECT_FALSE(AllocFrameBuffer(nullptr));
  EXPECT_FALSE(LayoutFrameBuffer(nullptr));
}

TEST(FrameBufferLayout, SizesThatOverflowOrExceedTheCapAreRefused) {
  const struct {
    std::int32_t pf, width, height, rowAlign, heightAlign;
  } cases[] = {
      {PF_DIB_48, 65535, 65535, 4, 1},  // 25.8 GB: must not wrap into a small buffer
      {PF_PACKED_48, 65535, 65535, 1, 1},  {PF_RGB32, 0x7FFFFFFF, 0x7FFFFFFF, 4, 1},
      {PF_PACKED_48, 0x7FFFFFFF, 1, 1, 1},  // one row already beyond the cap
      {PF_DIB_8, 32768, 32769, 4, 1},       // one row above 1 GiB
      {PF_PACKED_8, 1, 2, 1 << 30, 1},      // a huge row alignment
      {PF_PACKED_8, 1, 1, 4, 1 << 30},      // fine: padded height is only recorded
  };
  for (std::size_t i = 0; i + 1 < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i);
    TFrameBuffer f = MakeFrame(c.pf, c.width, c.height, c.rowAlign, c.heightAlign);
    const TFrameBuffer before = f;
    EXPECT_FALSE(LayoutFrameBuffer(&f));
    EXPECT_FALSE(AllocFrameBuffer(&f));
    ExpectSameFrame(f, before);
  }
  const auto& last = cases[std::size(cases) - 1];
  TFrameBuffer f = MakeFrame(last.pf, last.width, last.height, last.rowAlign, last.heightAlign);
  EXPECT_TRUE(LayoutFrameBuffer(&f));
  EXPECT_EQ(f.nPaddedHeight, 1 << 30);
  EXPECT_EQ(f.nSize, 4);

  // Exactly at the cap the layout is still accepted.
  TFrameBuffer atCap = MakeFrame(PF_DIB_8, 32768, 32768, 4, 1);
  ASSERT_TRUE(LayoutFrameBuffer(&atCap));
  EXPECT_EQ(std::int64_t{atCap.nSize}, kMaxFrameBufferBytes);
}

TEST(FrameBufferAlloc, OversizedRequestKeepsTheExistingBuffer) {
  TFrameBuffer f = MakeFrame(PF_RGB24, 16, 8);
  ASSERT_TRUE(AllocFrameBuffer(&f));
  FillBuffer(f, 0x11);
  const TFrameBuffer before = f;

  // A crafted header: 65535 x 65535 at 48 bits per pixel.
  f.ePixelFormat = PF_DIB_48;
  f.nWidth = 65535;
  f.nHeight = 65535;
  EXPECT_FALSE(AllocFrameBuffer(&f));
  EXPECT_EQ(f.pBuffer, before.pBuffer);
  EXPECT_EQ(f.nSize, before.nSize);
  EXPECT_EQ(f.nStride, before.nStride);
  EXPECT_EQ(f.pBuffer[before.nSize - 1], 0x11);
  FreeFrameBuffer(&f);
}

TEST(FrameBufferAlloc, EqualSizeIsReusedWithItsContents) {
  // 24-bit width 4 and 32-bit width 3 are both 12 bytes per row.
  TFrameBuffer f = MakeFrame(PF_RGB24, 4, 5);
  ASSERT_TRUE(AllocFrameBuffer(&f));
  for (std::int32_t i = 0; i < f.nSize; ++i) f.pBuffer[i] = static_cast<std::uint8_t>(i);
  std::uint8_t* const first = f.pBuffer;

  f.ePixelFormat = PF_RGB32;
  f.nWidth = 3;
  ASSERT_TRUE(AllocFrameBuffer(&f));
  EXPECT_EQ(f.pBuffer, first);
  EXPECT_EQ(f.nBitsPerPixel, 32);
  EXPECT_EQ(f.nStride, 12);
  EXPECT_EQ(f.nSize, 60);
  for (std::int32_t i = 0; i < f.nSize; ++i) ASSERT_EQ(f.pBuffer[i], static_cast<std::uint8_t>(i));
  FreeFrameBuffer(&f);
}

TEST(FrameBufferAlloc, AnyChangeOfSizeReallocatesToTheExactSize) {
  TFrameBuffer f = MakeFrame(PF_RGB24, 8, 8);
  ASSERT_TRUE(AllocFrameBuffer(&f));
  EXPECT_EQ(f.nSize, 24 * 8);

  f.nHeight = 20;  // grow: writing the whole new size must stay inside the buffer
  ASSERT_TRUE(AllocFrameBuffer(&f));
  EXPECT_EQ(f.nSize, 24 * 20);
  FillBuffer(f, 0x22);

  f.nWidth = 1;  // shrink
  f.nHeight = 1;
  ASSERT_TRUE(AllocFrameBuffer(&f));
  EXPECT_EQ(f.nSize, 4);
  EXPECT_EQ(f.nStride, 4);
  FillBuffer(f, 0x33);
  FreeFrameBuffer(&f);
}

TEST(FrameBufferLayout, LayoutLeavesAForeignBufferInPlace) {
  std::vector<std::uint8_t> slot(64, 0xEE);
  TFrameBuffer f = MakeFrame(PF_PACKED_24, 5, 4, 1);
  f.pBuffer = slot.data();
  f.nSize = 999;  // whatever was there before
  ASSERT_TRUE(LayoutFrameBuffer(&f));
  EXPECT_EQ(f.pBuffer, slot.data());
  EXPECT_EQ(f.nStride, 15);
  EXPECT_EQ(f.nSize, 60);
  EXPECT_EQ(slot[0], 0xEE);
}

TEST(FrameBufferFree, ClearsEveryField) {
  TFrameBuffer f = MakeFrame(PF_DIB_8, 10, 10);
  f.nReserved[0] = 5;
  f.nReserved[7] = 9;
  ASSERT_TRUE(AllocFrameBuffer(&f));
  FreeFrameBuffer(&f);
  ExpectSameFrame(f, TFrameBuffer{});
  FreeFrameBuffer(&f);  // a cleared record frees again harmlessly
  FreeFrameBuffer(nullptr);
}

TEST(DibBits, StrideIsAlignedToFourBytes) {
  const struct {
    std::int32_t pf, width, height, stride, size;
  } cases[] = {
      {PF_DIB_8, 5, 2, 8, 16}, {PF_DIB_1, 9, 3, 4, 12},      {PF_DIB_1, 32, 1, 4, 4},
      {PF_DIB_1, 33, 1, 8, 8}, {PF_RGB24, 3, 2, 12, 24},     {PF_DIB_48, 1, 1, 8, 8},
      {PF_DIB_4, 7, 3, 4, 12}, {PF_PACKED_24, 3, 1, 12, 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "pf " << c.pf << " width " << c.width);
    std::uint8_t* bits = nullptr;
    std::int32_t size = 0, stride = 0;
    ASSERT_TRUE(AllocDibBits(bits, size, stride, c.width, c.height, Pf(c.pf)));
    EXPECT_EQ(stride, c.stride);
    EXPECT_EQ(size, c.size);
    ASSERT_NE(bits, nullptr);
    std::memset(bits, 0, static_cast<std::size_t>(size));
    std::free(bits);
  }
}

TEST(DibBits, EqualSizeKeepsTheBufferOtherSizesReallocate) {
  std::uint8_t* bits = nullptr;
  std::int32_t size = 0, stride = 0;
  ASSERT_TRUE(AllocDibBits(bits, size, stride, 4, 2, PF_RGB24));
  std::uint8_t* const first = bits;
  bits[0] = 0x42;
  ASSERT_TRUE(AllocDibBits(bits, size, stride, 3, 2, PF_RGB32));  // 12 bytes per row again
  EXPECT_EQ(bits, first);
  EXPECT_EQ(bits[0], 0x42);
  EXPECT_EQ(stride, 12);

  ASSERT_TRUE(AllocDibBits(bits, size, stride, 100, 50, PF_RGB32));
  EXPECT_EQ(size, 20000);
  EXPECT_EQ(stride, 400);
  std::memset(bits, 0, static_cast<std::size_t>(size));
  std::free(bits);
}

TEST(DibBits, BadRequestsFailAndKeepTheBuffer) {
  std::uint8_t* bits = nullptr;
  std::int32_t size = 0, stride = 0;
  ASSERT_TRUE(AllocDibBits(bits, size, stride, 4, 4, PF_DIB_8));
  std::uint8_t* const kept = bits;
  const struct {
    std::int32_t pf, width, height;
  } cases[] = {
      {PF_JPEG, 4, 4},           {PF_BMP, 4, 4},    {PF_YUY2, 4, 4},
      {PF_DIB_8, 0, 4},          {PF_DIB_8, 4, -2}, {PF_DIB_48, 65535, 65535},
      {PF_RGB32, 0x7FFFFFFF, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "pf " << c.pf << " " << c.width << "x" << c.height);
    EXPECT_FALSE(AllocDibBits(bits, size, stride, c.width, c.height, Pf(c.pf)));
    EXPECT_EQ(bits, kept);
    EXPECT_EQ(size, 16);
    EXPECT_EQ(stride, 4);
  }
  std::free(bits);
}

TEST(ScanlineBuffer, RowsCarryOneFilterByte) {
  const struct {
    std::int32_t color, depth, width, height;
    std::int32_t bitsPerPixel, bytesPerRow;
  } cases[] = {
      {5, 8, 10, 2, 24, 31}, {4, 2, 10, 2, 2, 4},  {4, 1, 9, 1, 1, 3}, {2, 16, 3, 4, 16, 7},
      {3, 8, 5, 1, 16, 11},  {6, 16, 1, 3, 64, 9}, {2, 4, 3, 1, 4, 3}, {6, 8, 2, 2, 32, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "colour " << c.color << " depth " << c.depth);
    TScanlineBuffer s;
    s.nColorCode = c.color;
    s.nBitDepth = c.depth;
    s.nUserValue = 321;
    s.nWidth = c.width;
    s.nHeight = c.height;
    ASSERT_TRUE(AllocScanlineBuffer(&s));
    EXPECT_EQ(s.nBitsPerPixel, c.bitsPerPixel);
    EXPECT_EQ(s.nBytesPerRow, c.bytesPerRow);
    EXPECT_EQ(s.nSize, c.bytesPerRow * c.height);
    EXPECT_EQ(s.nUserValue, 321);
    std::memset(s.pBuffer, 0, static_cast<std::size_t>(s.nSize));
    FreeScanlineBuffer(&s);
  }
}

TEST(ScanlineBuffer, InvalidColourDepthOrSizeFails) {
  const struct {
    std::int32_t color, depth, width, height;
  } cases[] = {
      {3, 4, 10, 2},  {2, 3, 10, 2},         {2, 32, 10, 2},         {4, 16, 10, 2}, {5, 4, 10, 2},
      {6, 1, 10, 2},  {1, 8, 10, 2},         {7, 8, 10, 2},          {0, 8, 10, 2},  {5, 8, 0, 2},
      {5, 8, 10, -1}, {6, 16, 65535, 65535}, {6, 16, 0x7FFFFFFF, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "colour " << c.color << " depth " << c.depth << " " << c.width << "x"
                                    << c.height);
    TScanlineBuffer s;
    s.nColorCode = c.color;
    s.nBitDepth = c.depth;
    s.nWidth = c.width;
    s.nHeight = c.height;
    EXPECT_FALSE(AllocScanlineBuffer(&s));
    EXPECT_EQ(s.pBuffer, nullptr);
    EXPECT_EQ(s.nSize, 0);
  }
  EXPECT_FALSE(AllocScanlineBuffer(nullptr));
}

TEST(ScanlineBuffer, ReusesEqualSizeAndFreeClearsAll) {
  TScanlineBuffer s;
  s.nColorCode = 5;
  s.nBitDepth = 8;
  s.nWidth = 10;
  s.nHeight = 2;
  ASSERT_TRUE(AllocScanlineBuffer(&s));
  std::uint8_t* const first = s.pBuffer;
  s.pBuffer[61] = 0x7;
  ASSERT_TRUE(AllocScanlineBuffer(&s));
  EXPECT_EQ(s.pBuffer, first);
  EXPECT_EQ(s.pBuffer[61], 0x7);

  s.nHeight = 40;
  ASSERT_TRUE(AllocScanlineBuffer(&s));
  EXPECT_EQ(s.nSize, 31 * 40);
  std::memset(s.pBuffer, 0, static_cast<std::size_t>(s.nSize));

  s.nReserved[1] = 3;
  FreeScanlineBuffer(&s);
  EXPECT_EQ(s.nColorCode, 0);
  EXPECT_EQ(s.nBitDepth, 0);
  EXPECT_EQ(s.nUserValue, 0);
  EXPECT_EQ(s.nBitsPerPixel, 0);
  EXPECT_EQ(s.nWidth, 0);
  EXPECT_EQ(s.nHeight, 0);
  EXPECT_EQ(s.nBytesPerRow, 0);
  EXPECT_EQ(s.nSize, 0);
  EXPECT_EQ(s.pBuffer, nullptr);
  EXPECT_EQ(s.nReserved[0], 0);
  EXPECT_EQ(s.nReserved[1], 0);
}

TEST(FileFormatToPixelFormat, MapsEachRangeAndNothingElse) {
  const struct {
    std::int32_t ff, pf;
  } cases[] = {
      {0, 0},   {1, 0},   {21, 0},  {22, 0},  {23, 12}, {24, 18}, {25, 19}, {26, 20}, {27, 21}, {28, 22},
      {31, 25}, {35, 29}, {36, 33}, {37, 34}, {39, 36}, {40, 0},  {41, 37}, {42, 38}, {44, 40}, {45, 0},
      {46, 0},  {52, 0},  {53, 51}, {65, 63}, {74, 72}, {94, 92}, {95, 0},  {96, 0},  {97, 0},  {-1, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileFormatToPixelFormat(c.ff), c.pf) << "file format " << c.ff;
  }
  for (std::int32_t ff = FF_YCBCR_FIRST; ff <= FF_YCBCR_LAST; ++ff) {
    EXPECT_EQ(FileFormatToPixelFormat(ff), ff - 2) << "file format " << ff;
  }
}

TEST(FileFormatToPixelFormat, BitmapDepthsGiveAllocatableFormatsOfThatDepth) {
  const std::int32_t depths[] = {1, 2, 4, 8, 16, 24, 32, 48};
  for (std::int32_t ff = FF_BMP_1BIT; ff <= FF_BMP_48BIT; ++ff) {
    TFrameBuffer f = MakeFrame(FileFormatToPixelFormat(ff), 3, 2);
    ASSERT_TRUE(AllocFrameBuffer(&f)) << "file format " << ff;
    EXPECT_EQ(f.nBitsPerPixel, depths[ff - FF_BMP_1BIT]);
    FreeFrameBuffer(&f);
  }
  // A bitmap of unspecified depth must be given a concrete one first.
  TFrameBuffer generic = MakeFrame(FileFormatToPixelFormat(FF_BMP), 3, 2);
  EXPECT_EQ(generic.ePixelFormat, PF_BMP);
  EXPECT_FALSE(AllocFrameBuffer(&generic));
  EXPECT_EQ(generic.pBuffer, nullptr);
}
