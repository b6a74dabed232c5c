#include "io/codecs/image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using namespace ZarnTypes;
using Image::CImage;

void PutU16(std::vector<std::uint8_t>& v, std::uint32_t x) {
  v.push_back(x & 0xFF);
  v.push_back((x >> 8) & 0xFF);
}
void PutU32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  PutU16(v, x & 0xFFFF);
  PutU16(v, x >> 16);
}

std::size_t Stride(int width, int bits) { return static_cast<std::size_t>((width * bits + 31) / 32 * 4); }

// Byte `i` of stored row `row` of a test picture: a pattern that differs per row.
std::uint8_t PatternByte(int row, std::size_t i) { return static_cast<std::uint8_t>(row * 37 + i * 11 + 5); }

// A .bmp file with rows filled by PatternByte in file order; 16- and 32-bit
// pictures use plain (non bit-field) layouts.
std::vector<std::uint8_t> MakeBmp(int width, int height, int bits, bool topDown = false) {
  const std::size_t stride = Stride(width, bits);
  const std::uint32_t tableEntries = bits <= 8 ? (1u << bits) : 0;
  const std::uint32_t offset = 14 + 40 + 4 * tableEntries;
  const std::uint32_t imageSize = static_cast<std::uint32_t>(stride * height);
  std::vector<std::uint8_t> f;
  f.push_back('B');
  f.push_back('M');
  PutU32(f, offset + imageSize);
  PutU32(f, 0);
  PutU32(f, offset);
  PutU32(f, 40);
  PutU32(f, static_cast<std::uint32_t>(width));
  PutU32(f, static_cast<std::uint32_t>(topDown ? -height : height));
  PutU16(f, 1);
  PutU16(f, static_cast<std::uint32_t>(bits));
  PutU32(f, 0);  // BI_RGB
  PutU32(f, imageSize);
  PutU32(f, 2835);
  PutU32(f, 2835);
  PutU32(f, tableEntries);
  PutU32(f, 0);
  for (std::uint32_t i = 0; i < tableEntries; ++i) {
    f.push_back(static_cast<std::uint8_t>(i * 3));      // blue
    f.push_back(static_cast<std::uint8_t>(255 - i));    // green
    f.push_back(static_cast<std::uint8_t>(i * 7 + 1));  // red
    f.push_back(0);
  }
  for (int row = 0; row < height; ++row)
    for (std::size_t i = 0; i < stride; ++i) f.push_back(PatternByte(row, i));
  return f;
}

TEST(ImageTest, ReadsEveryBmpDepthIntoBottomUpRows) {
  struct Case {
    int bits;
    TPixelFormat format;
  };
  const Case cases[] = {{1, PF_DIB_1},  {4, PF_DIB_4},  {8, PF_DIB_8},  {16, PF_DIB_16},
                        {24, PF_RGB24}, {32, PF_RGB32}, {48, PF_DIB_48}};
  tovrin_test::TTempDir dir;
  for (const Case c : cases) {
    for (bool topDown : {false, true}) {
      const int width = 13, height = 5;
      const std::string path =
          (dir / ("p" + std::to_string(c.bits) + (topDown ? "t" : "b") + ".bmp")).string();
      tovrin_test::WriteAll(path, MakeBmp(width, height, c.bits, topDown));

      CImage image;
      TFrameBuffer frame;
      frame.nStride = 999;  // stale values from an earlier use
      TMediaRequest request;
      request.eOp = MEDIA_OP_READ;
      request.pPath = &path;
      request.pFrameBuffer = &frame;
      ASSERT_TRUE(image.ReadBmp(request)) << c.bits << " " << image.GetErrorText();
      const std::size_t stride = Stride(width, c.bits);
      EXPECT_TRUE(request.bSuccess);
      EXPECT_EQ(request.ePixelFormat, c.format);
      EXPECT_EQ(request.nWidth, width);
      EXPECT_EQ(request.nHeight, height);
      EXPECT_EQ(request.nStride, static_cast<std::int32_t>(stride));
      EXPECT_EQ(request.nSize, static_cast<std::int32_t>(stride * height));
      EXPECT_EQ(request.pPixels, image.GetBits());
      EXPECT_EQ(frame.ePixelFormat, c.format);
      EXPECT_EQ(frame.nBitsPerPixel, c.bits);
      EXPECT_EQ(frame.nWidth, width);
      EXPECT_EQ(frame.nHeight, height);
      EXPECT_EQ(frame.nStride, static_cast<std::int32_t>(stride));
      EXPECT_EQ(frame.nSize, request.nSize);
      EXPECT_EQ(frame.pBuffer, image.GetBits());
      ASSERT_NE(image.GetBitmap(), nullptr);
      EXPECT_EQ(image.GetBitmap()->BitCount(), c.bits);

      // Memory row 0 is the bottom picture row: file row 0 when the file is
      // bottom-up, its last row when top-down.
      for (int memRow = 0; memRow < height; ++memRow) {
        const int fileRow = topDown ? height - 1 - memRow : memRow;
        for (std::size_t i = 0; i < stride; ++i) {
          // 32-bit rows come back as blue, green, red, 0.
          if (c.bits == 32 && i % 4 == 3) continue;
          ASSERT_EQ(image.GetBits()[memRow * stride + i], PatternByte(fileRow, i))
              << c.bits << " bits, row " << memRow << " byte " << i;
        }
      }
      if (c.bits <= 8) {
        ASSERT_NE(image.GetPalette(), nullptr);
        ASSERT_EQ(image.GetPalette()->entries.size(), 1u << c.bits);
        const auto& e = image.GetPalette()->entries[1];
        EXPECT_EQ(e.peRed, 8);
        EXPECT_EQ(e.peGreen, 254);
        EXPECT_EQ(e.peBlue, 3);
      } else {
        EXPECT_EQ(image.GetPalette(), nullptr);
      }
    }
  }
}

TEST(ImageTest, FailedLoadsLeaveRequestAndHeldPictureAlone) {
  tovrin_test::TTempDir dir;
  const std::string good = (dir / "good.bmp").string();
  tovrin_test::WriteAll(good, MakeBmp(6, 4, 24));
  std::vector<std::uint8_t> twoBit = MakeBmp(6, 4, 8);
  twoBit[28] = 2;  // bits per pixel
  std::vector<std::uint8_t> truncated = MakeBmp(6, 4, 24);
  truncated.erase(truncated.end() - 10, truncated.end());
  const std::string twoBitPath = (dir / "two.bmp").string();
  const std::string truncatedPath = (dir / "short.bmp").string();
  const std::string missingPath = (dir / "missing.bmp").string();
  tovrin_test::WriteAll(twoBitPath, twoBit);
  tovrin_test::WriteAll(truncatedPath, truncated);

  CImage image;
  ASSERT_TRUE(image.LoadBmp(good));
  const std::vector<std::uint8_t> before(image.GetBits(), image.GetBits() + image.GetBitsSize());
  const Dib::TDibSection* section = image.GetBitmap();

  for (const std::string* path : {&twoBitPath, &truncatedPath, &missingPath}) {
    TFrameBuffer frame;
    frame.nWidth = 77;
    TMediaRequest request;
    request.pPath = path;
    request.pFrameBuffer = &frame;
    request.ePixelFormat = PF_RGB32;
    EXPECT_FALSE(image.ReadBmp(request)) << *path;
    EXPECT_FALSE(request.bSuccess);
    EXPECT_EQ(request.ePixelFormat, PF_RGB32);
    EXPECT_EQ(request.pPixels, nullptr);
    EXPECT_EQ(frame.nWidth, 77);
    EXPECT_FALSE(image.GetErrorText().empty());
    // The earlier picture is still held, whole.
    EXPECT_EQ(image.GetBitmap(), section);
    EXPECT_EQ(image.GetFormat(), PF_RGB24);
    EXPECT_EQ(image.GetWidth(), 6);
    ASSERT_EQ(image.GetBitsSize(), static_cast<std::int32_t>(before.size()));
    EXPECT_EQ(std::memcmp(image.GetBits(), before.data(), before.size()), 0);
  }
  TMediaRequest noPath;
  EXPECT_FALSE(image.ReadBmp(noPath));
}

TEST(ImageTest, TaggedRequestsAreRefusedWithoutLoading) {
  tovrin_test::TTempDir dir;
  const std::string good = (dir / "good.bmp").string();
  tovrin_test::WriteAll(good, MakeBmp(6, 4, 24));
  CImage image;
  int block = 0;
  for (TMediaRequestTag tag : {MEDIA_REQ_PNG, MEDIA_REQ_DSHOW_SOURCE, MEDIA_REQ_WIA}) {
    TFrameBuffer frame;
    TMediaRequest request;
    request.pPath = &good;
    request.pFrameBuffer = &frame;
    request.ePixelFormat = PF_RGB32;
    request.eTag = tag;
    request.pParams = &block;
    EXPECT_FALSE(image.ReadBmp(request)) << tag;
    EXPECT_FALSE(request.bSuccess) << tag;
    EXPECT_EQ(request.ePixelFormat, PF_RGB32) << tag;
    EXPECT_EQ(request.pPixels, nullptr) << tag;
    EXPECT_EQ(frame.pBuffer, nullptr) << tag;
    EXPECT_EQ(image.GetBitmap(), nullptr) << tag;
  }
  // Untagged, the same file loads.
  TFrameBuffer frame;
  TMediaRequest request;
  request.pPath = &good;
  request.pFrameBuffer = &frame;
  EXPECT_TRUE(image.ReadBmp(request));
  EXPECT_EQ(frame.nWidth, 6);
}

TEST(ImageTest, SameSizeReloadKeepsTheBitsBuffer) {
  tovrin_test::TTempDir dir;
  const std::string a = (dir / "a.bmp").string();
  const std::string b = (dir / "b.bmp").string();
  tovrin_test::WriteAll(a, MakeBmp(8, 8, 24));
  tovrin_test::WriteAll(b, MakeBmp(8, 8, 24, /*topDown=*/true));
  CImage image;
  ASSERT_TRUE(image.LoadBmp(a));
  const std::uint8_t* first = image.GetBits();
  ASSERT_TRUE(image.LoadBmp(b));
  EXPECT_EQ(image.GetBits(), first);
  // The content is the new picture's: its bottom row is file row 7.
  EXPECT_EQ(image.GetBits()[0], PatternByte(7, 0));
}

TEST(ImageTest, KeepsACopyOfAPlanarFrame) {
  struct Case {
    TPixelFormat format;
    int width, height;
    int chroma;
  };
  const Case cases[] = {{PF_YUV444_601, 4, 4, 16}, {PF_YUV422_601, 4, 4, 8}, {PF_YUV420_601, 4, 4, 4},
                        {PF_YUV444_709, 3, 2, 6},  {PF_YUV422_709, 6, 2, 6}, {PF_YUV420_709, 8, 2, 4}};
  CImage image;
  for (const Case c : cases) {
    const int luma = c.width * c.height;
    std::vector<std::uint8_t> y(luma), u(c.chroma), v(c.chroma);
    for (int i = 0; i < luma; ++i) y[i] = static_cast<std::uint8_t>(i + 1);
    for (int i = 0; i < c.chroma; ++i) {
      u[i] = static_cast<std::uint8_t>(100 + i);
      v[i] = static_cast<std::uint8_t>(200 + i);
    }
    ASSERT_TRUE(image.SetYuvFrame(c.format, c.width, c.height, y.data(), u.data(), v.data())) << c.format;
    ASSERT_EQ(image.GetYuvBufferSize(), luma + 2 * c.chroma);
    EXPECT_EQ(image.GetYuvFormat(), c.format);
    EXPECT_EQ(image.GetYuvWidth(), c.width);
    EXPECT_EQ(image.GetYuvHeight(), c.height);
    EXPECT_EQ(image.GetUPlane(), image.GetYuvBuffer() + luma);
    EXPECT_EQ(image.GetVPlane(), image.GetUPlane() + c.chroma);
    EXPECT_EQ(std::memcmp(image.GetYuvBuffer(), y.data(), luma), 0);
    EXPECT_EQ(std::memcmp(image.GetUPlane(), u.data(), c.chroma), 0);
    EXPECT_EQ(std::memcmp(image.GetVPlane(), v.data(), c.chroma), 0);
    // The copy is private.
    y[0] = 0xEE;
    EXPECT_EQ(image.GetYuvBuffer()[0], 1);
  }
}

TEST(ImageTest, RefusesPlanarFramesItCannotHold) {
  CImage image;
  std::vector<std::uint8_t> planes(64, 9);
  ASSERT_TRUE(image.SetYuvFrame(PF_YUV420_601, 4, 4, planes.data(), planes.data(), planes.data()));
  const std::uint8_t* buffer = image.GetYuvBuffer();
  struct Case {
    TPixelFormat format;
    int width, height;
    bool planes;
  };
  const Case cases[] = {{PF_YUV, 4, 4, true},
                        {PF_YUV444_JPEG, 4, 4, true},
                        {PF_RGB32, 4, 4, true},
                        {PF_YUV444_601, 0, 4, true},
                        {PF_YUV444_601, 4, -1, true},
                        {PF_YUV444_601, 4, 4, false},
                        {PF_YUV444_601, 65536, 65536, true}};
  for (const Case c : cases) {
    const std::uint8_t* p = c.planes ? planes.data() : nullptr;
    EXPECT_FALSE(image.SetYuvFrame(c.format, c.width, c.height, planes.data(), p, planes.data())) << c.format;
    EXPECT_EQ(image.GetYuvFormat(), PF_YUV420_601);
    EXPECT_EQ(image.GetYuvWidth(), 4);
    EXPECT_EQ(image.GetYuvHeight(), 4);
    EXPECT_EQ(image.GetYuvBuffer(), buffer);
    EXPECT_EQ(image.GetYuvBufferSize(), 24);
  }
  EXPECT_TRUE(image.ReserveYuvBuffer(0));
  EXPECT_EQ(image.GetYuvBufferSize(), 24);
  EXPECT_TRUE(image.ReserveYuvBuffer(24));
  EXPECT_EQ(image.GetYuvBuffer(), buffer);
  EXPECT_FALSE(image.ReserveYuvBuffer(-1));
  EXPECT_TRUE(image.ReserveYuvBuffer(100));
  EXPECT_EQ(image.GetYuvBufferSize(), 100);
}

}  // namespace
