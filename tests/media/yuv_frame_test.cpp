#include "media/yuv_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "media/file_types.h"
#include "platform/message_sink.h"
#include "tests/support/test_support.h"

using namespace ZarnTypes;

namespace {

TPixelFormat Pf(std::int32_t v) { return static_cast<TPixelFormat>(v); }

TYuvFrameBuffer MakeYuv(std::int32_t pf, std::int32_t width, std::int32_t height, std::int32_t widthAlign = 2,
                        std::int32_t heightAlign = 2) {
  TYuvFrameBuffer f;
  f.ePixelFormat = Pf(pf);
  f.nWidth = width;
  f.nHeight = height;
  f.nWidthAlignment = widthAlign;
  f.nHeightAlignment = heightAlign;
  return f;
}

void ExpectSameYuv(const TYuvFrameBuffer& a, const TYuvFrameBuffer& b) {
  EXPECT_EQ(a.ePixelFormat, b.ePixelFormat);
  EXPECT_EQ(a.nWidth, b.nWidth);
  EXPECT_EQ(a.nHeight, b.nHeight);
  EXPECT_EQ(a.nAlignedWidth, b.nAlignedWidth);
  EXPECT_EQ(a.nAlignedHeight, b.nAlignedHeight);
  EXPECT_EQ(a.nTotalSize, b.nTotalSize);
  EXPECT_EQ(a.nYSize, b.nYSize);
  EXPECT_EQ(a.nCbSize, b.nCbSize);
  EXPECT_EQ(a.nCrSize, b.nCrSize);
  EXPECT_EQ(a.nPlane4Size, b.nPlane4Size);
  EXPECT_EQ(a.nWidthAlignment, b.nWidthAlignment);
  EXPECT_EQ(a.nHeightAlignment, b.nHeightAlignment);
  EXPECT_EQ(a.bFlag1, b.bFlag1);
  EXPECT_EQ(a.bFlag2, b.bFlag2);
  EXPECT_EQ(a.nPlaneCount, b.nPlaneCount);
  EXPECT_EQ(a.nChromaDivisor, b.nChromaDivisor);
  EXPECT_EQ(a.nBitsPerPixel, b.nBitsPerPixel);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(a.nBitsPerSample[i], b.nBitsPerSample[i]);
  EXPECT_EQ(a.nPlane4Flag, b.nPlane4Flag);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(a.nReserved[i], b.nReserved[i]);
  EXPECT_EQ(a.pBuffer, b.pBuffer);
  EXPECT_EQ(a.pCb, b.pCb);
  EXPECT_EQ(a.pCr, b.pCr);
  EXPECT_EQ(a.pPlane4, b.pPlane4);
}

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
  return bytes;
}

}  // namespace

TEST(YuvFrameAlloc, Odd420FrameIsPaddedToTheAlignments) {
  TYuvFrameBuffer f = MakeYuv(PF_YCBCR_FIRST + 14, 101, 51);
  f.bFlag2 = 1;
  ASSERT_TRUE(AllocYuvFrame(&f));
  EXPECT_EQ(f.nAlignedWidth, 102);
  EXPECT_EQ(f.nAlignedHeight, 52);
  EXPECT_EQ(f.nYSize, 5304);
  EXPECT_EQ(f.nCbSize, 1326);
  EXPECT_EQ(f.nCrSize, 1326);
  EXPECT_EQ(f.nTotalSize, 7956);
  EXPECT_EQ(f.nBitsPerPixel, 12);
  EXPECT_EQ(f.nChromaDivisor, 4);
  EXPECT_EQ(f.nPlaneCount, 3);
  EXPECT_EQ(f.nPlane4Size, 0);
  EXPECT_EQ(f.bFlag2, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(f.nBitsPerSample[i], 8);
  ASSERT_NE(f.pBuffer, nullptr);
  EXPECT_EQ(f.pCb, f.pBuffer + 5304);
  EXPECT_EQ(f.pCr, f.pCb + 1326);
  EXPECT_EQ(f.pPlane4, nullptr);
  std::memset(f.pBuffer, 0, static_cast<std::size_t>(f.nTotalSize));
  FreeYuvFrame(&f);
}

TEST(YuvFrameAlloc, Yuy2IsOnePlaneWithBothChromaPointersAtTheBuffer) {
  TYuvFrameBuffer f = MakeYuv(PF_YUY2, 4, 2, 4, 2);
  ASSERT_TRUE(AllocYuvFrame(&f));
  EXPECT_EQ(f.nTotalSize, 16);
  EXPECT_EQ(f.nPlaneCount, 1);
  EXPECT_EQ(f.nChromaDivisor, 2);
  EXPECT_EQ(f.nBitsPerPixel, 16);
  EXPECT_EQ(f.pCb, f.pBuffer);
  EXPECT_EQ(f.pCr, f.pBuffer);
  std::memset(f.pBuffer, 0, 16);
  FreeYuvFrame(&f);
}

TEST(YuvFrameAlloc, EveryAcceptedFormatHasItsSampling) {
  // 6 x 4 pixels, nothing to pad: Y is 24 bytes.
  const struct {
    std::int32_t pf, divisor, planes;
  } cases[] = {
      {42, 1, 3}, {43, 2, 3}, {44, 4, 3}, {48, 1, 3}, {49, 2, 3}, {50, 4, 3}, {51, 1, 3},
      {53, 1, 3}, {54, 2, 3}, {62, 2, 3}, {63, 4, 3}, {71, 4, 3}, {72, 1, 3}, {74, 1, 3},
      {75, 2, 3}, {83, 2, 3}, {84, 4, 3}, {92, 4, 3}, {94, 2, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "pixel format " << c.pf);
    TYuvFrameBuffer f = MakeYuv(c.pf, 6, 4);
    ASSERT_TRUE(AllocYuvFrame(&f));
    EXPECT_EQ(f.nChromaDivisor, c.divisor);
    EXPECT_EQ(f.nPlaneCount, c.planes);
    EXPECT_EQ(f.nBitsPerPixel, 16 / c.divisor + 8);
    EXPECT_EQ(f.nCbSize, 24 / c.divisor);
    EXPECT_EQ(f.nTotalSize, 24 + 2 * (24 / c.divisor));
    EXPECT_EQ(GetYuvChromaDivisor(Pf(c.pf)), c.divisor);
    std::memset(f.pBuffer, 0, static_cast<std::size_t>(f.nTotalSize));
    FreeYuvFrame(&f);
  }
}

TEST(YuvFrameAlloc, LayoutsAgreeWithTheirFileFormats) {
  for (std::int32_t ff = FF_YCBCR_FIRST; ff <= FF_YCBCR_LAST; ++ff) {
    SCOPED_TRACE(testing::Message() << "file format " << ff);
    TYuvFrameBuffer f = MakeYuv(ff - 2, 8, 8);
    ASSERT_TRUE(LayoutYuvFrame(&f));
    const std::int32_t divisor = GetYuvChromaDivisor(f.ePixelFormat);
    EXPECT_EQ(16 / divisor + 8, GetYuvBitsPerPixel(ff));
    EXPECT_EQ(f.nTotalSize * 8, 64 * GetYuvBitsPerPixel(ff));
  }
}

TEST(YuvFrameAlloc, RefusedRequestsChangeNothing) {
  const struct {
    std::int32_t pf, width, height, widthAlign, heightAlign;
  } cases[] = {
      {45, 8, 8, 2, 2}, {46, 8, 8, 2, 2},  {47, 8, 8, 2, 2}, {93, 8, 8, 2, 2}, {41, 8, 8, 2, 2},
      {95, 8, 8, 2, 2}, {107, 8, 8, 2, 2}, {40, 8, 8, 2, 2}, {0, 8, 8, 2, 2},  {27, 8, 8, 2, 2},
      {63, 0, 8, 2, 2}, {63, 8, -1, 2, 2}, {63, 8, 8, 0, 2}, {63, 8, 8, 2, 3}, {63, 8, 8, -2, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "pf " << c.pf << " " << c.width << "x" << c.height << " align "
                                    << c.widthAlign << "/" << c.heightAlign);
    TYuvFrameBuffer f = MakeYuv(c.pf, c.width, c.height, c.widthAlign, c.heightAlign);
    f.nReserved[2] = 55;
    const TYuvFrameBuffer before = f;
    EXPECT_FALSE(AllocYuvFrame(&f));
    ExpectSameYuv(f, before);
    EXPECT_FALSE(LayoutYuvFrame(&f));
    ExpectSameYuv(f, before);
  }
  EXPECT_FALSE(AllocYuvFrame(nullptr));
  EXPECT_FALSE(LayoutYuvFrame(nullptr));
}

TEST(YuvFrameAlloc, SizesThatOverflowOrExceedTheCapAreRefused) {
  TYuvFrameBuffer f = MakeYuv(PF_YUV420_601, 16, 16);
  ASSERT_TRUE(AllocYuvFrame(&f));
  std::memset(f.pBuffer, 0x3C, static_cast<std::size_t>(f.nTotalSize));
  const TYuvFrameBuffer before = f;

  const struct {
    std::int32_t pf, width, height, widthAlign, heightAlign;
  } cases[] = {
      {PF_YUV444_601, 65535, 65535, 2, 2},  // 12.9 GB
      {PF_YUY2, 0x7FFFFFFF, 0x7FFFFFFF, 4, 2},
      {PF_YUV420_601, 0x7FFFFFFF, 1, 16, 2},          // the aligned width leaves 32 bits
      {PF_YUV420_601, 1, 0x7FFFFFF0, 2, 16},          // so does the aligned height
      {PF_YUV444_601, 32768, 16384, 1, 1},            // 1.5 GiB
      {PF_YUV420_601, 8, 8, 1 << 30, 2},              // a huge alignment
      {PF_YUV444_601, 0x5E000008, 0x7A000001, 1, 1},  // the three planes' sum passes 2^63
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "pf " << c.pf << " " << c.width << "x" << c.height);
    f.ePixelFormat = Pf(c.pf);
    f.nWidth = c.width;
    f.nHeight = c.height;
    f.nWidthAlignment = c.widthAlign;
    f.nHeightAlignment = c.heightAlign;
    EXPECT_FALSE(LayoutYuvFrame(&f));
    EXPECT_FALSE(AllocYuvFrame(&f));
    EXPECT_EQ(f.pBuffer, before.pBuffer);
    EXPECT_EQ(f.nTotalSize, before.nTotalSize);
    EXPECT_EQ(f.pCb, before.pCb);
    EXPECT_EQ(f.pCr, before.pCr);
  }
  EXPECT_EQ(f.pBuffer[before.nTotalSize - 1], 0x3C);
  FreeYuvFrame(&f);

  // Just under the cap the layout stands: 16384 x 16384 at 4:2:0 is 384 MiB.
  TYuvFrameBuffer big = MakeYuv(PF_YUV420_601, 16384, 16384);
  ASSERT_TRUE(LayoutYuvFrame(&big));
  EXPECT_EQ(big.nTotalSize, 16384 * 16384 / 2 * 3);
}

TEST(YuvFrameAlloc, SameSizeKeepsTheBufferOtherSizesReplaceIt) {
  TYuvFrameBuffer f = MakeYuv(PF_YUV420_601, 8, 8);
  ASSERT_TRUE(AllocYuvFrame(&f));
  std::uint8_t* const first = f.pBuffer;
  const auto pattern = Pattern(static_cast<std::size_t>(f.nTotalSize), 1);
  std::memcpy(f.pBuffer, pattern.data(), pattern.size());

  // Same total size again (4:2:0 8x8 = 96 bytes = 4:2:2 8x6).
  ASSERT_TRUE(AllocYuvFrame(&f));
  f.ePixelFormat = PF_YUV422_601;
  f.nHeight = 6;
  ASSERT_TRUE(AllocYuvFrame(&f));
  EXPECT_EQ(f.pBuffer, first);
  EXPECT_EQ(f.nTotalSize, 96);
  EXPECT_EQ(f.nChromaDivisor, 2);
  EXPECT_EQ(f.pCb, f.pBuffer + 48);
  EXPECT_EQ(std::memcmp(f.pBuffer, pattern.data(), pattern.size()), 0);

  f.nHeight = 40;  // grows: the whole new frame must be writable
  ASSERT_TRUE(AllocYuvFrame(&f));
  EXPECT_EQ(f.nTotalSize, 8 * 40 * 2);
  EXPECT_EQ(f.pCr, f.pCb + 160);
  std::memset(f.pBuffer, 0, static_cast<std::size_t>(f.nTotalSize));
  FreeYuvFrame(&f);
}

TEST(YuvFrameLayout, CallerBufferIsLaidOutWithoutDivisorOrDepth) {
  std::vector<std::uint8_t> slot(200);
  TYuvFrameBuffer planar = MakeYuv(PF_YUV420_709 + 17, 6, 4);  // 64, a 4:2:0 layout
  planar.pBuffer = slot.data();
  planar.bFlag2 = 1;
  ASSERT_TRUE(LayoutYuvFrame(&planar));
  EXPECT_EQ(planar.pBuffer, slot.data());
  EXPECT_EQ(planar.nTotalSize, 36);
  EXPECT_EQ(planar.pCb, slot.data() + 24);
  EXPECT_EQ(planar.pCr, slot.data() + 30);
  EXPECT_EQ(planar.nPlaneCount, 3);
  EXPECT_EQ(planar.nBitsPerSample[2], 8);
  EXPECT_EQ(planar.bFlag2, 0);
  EXPECT_EQ(planar.nChromaDivisor, 0);
  EXPECT_EQ(planar.nBitsPerPixel, 0);

  TYuvFrameBuffer packed = MakeYuv(PF_YUY2, 6, 4, 4, 2);
  packed.pBuffer = slot.data();
  ASSERT_TRUE(LayoutYuvFrame(&packed));
  EXPECT_EQ(packed.nTotalSize, 64);
  EXPECT_EQ(packed.nPlaneCount, 1);
  EXPECT_EQ(packed.pCb, nullptr);
  EXPECT_EQ(packed.pCr, nullptr);

  TYuvFrameBuffer noBuffer = MakeYuv(PF_YUV444_601, 6, 4);
  ASSERT_TRUE(LayoutYuvFrame(&noBuffer));
  EXPECT_EQ(noBuffer.nTotalSize, 72);
  EXPECT_EQ(noBuffer.pCb, nullptr);
}

TEST(YuvFrameFree, ClearsTheWholeRecord) {
  TYuvFrameBuffer f = MakeYuv(PF_YUV444_601, 10, 10);
  f.bFlag1 = 1;
  f.nReserved[4] = 8;
  ASSERT_TRUE(AllocYuvFrame(&f));
  FreeYuvFrame(&f);
  ExpectSameYuv(f, TYuvFrameBuffer{});
  FreeYuvFrame(&f);
  FreeYuvFrame(nullptr);
}

TEST(YuvPixelFormatProperties, CodesByFormat) {
  const struct {
    std::int32_t pf, standard, range, matrix, subsampling, sampling, siting;
  } cases[] = {
      {0, 1, 0, 0, 0, 0, 0},   {40, 1, 0, 0, 0, 0, 0},  {41, 1, 1, 0, 0, 1, 1},
      {42, 2, 1, 0, 0, 2, 1},  {43, 2, 1, 0, 0, 3, 1},  {44, 2, 1, 0, 0, 4, 1},
      {45, 3, 1, 0, 0, 2, 1},  {46, 3, 1, 0, 0, 3, 1},  {47, 3, 1, 0, 0, 4, 1},
      {48, 2, 1, 0, 0, 2, 1},  {50, 2, 1, 0, 0, 4, 1},  {51, 2, 2, 1, 1, 2, 2},  // 601 4:4:4 0-255
      {58, 2, 3, 2, 3, 3, 4},  // 601 4:2:2 cosited odd 16-255
      {62, 2, 4, 3, 4, 3, 5},  // 601 4:2:2 centred 16-235/240
      {65, 2, 4, 3, 5, 4, 3},  // 601 4:2:0 cosited even 16-235/240
      {71, 2, 4, 3, 7, 4, 5},  // 601 4:2:0 centred 16-235/240
      {72, 3, 2, 4, 1, 2, 2},  // 709 4:4:4 0-255
      {76, 3, 3, 5, 2, 3, 3},  // 709 4:2:2 cosited even 16-255
      {92, 3, 4, 6, 7, 4, 5},  // 709 4:2:0 centred 16-235/240
      {93, 1, 1, 0, 0, 2, 1},  {94, 1, 1, 3, 0, 3, 1},  {95, 1, 1, 0, 2, 3, 1},
      {96, 1, 1, 0, 0, 4, 1},  {101, 1, 1, 0, 0, 4, 1}, {102, 1, 1, 0, 0, 0, 1},
      {105, 1, 1, 0, 0, 0, 1}, {107, 1, 1, 0, 0, 0, 1}, {108, 1, 0, 0, 0, 0, 0},
      {-5, 1, 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "pixel format " << c.pf);
    const TPixelFormat pf = Pf(c.pf);
    EXPECT_EQ(GetYuvColorStandard(pf), c.standard);
    EXPECT_EQ(GetYuvRangeCode(pf), c.range);
    EXPECT_EQ(GetYuvMatrixRangeCode(pf), c.matrix);
    EXPECT_EQ(GetYuvSubsamplingSiting(pf), c.subsampling);
    EXPECT_EQ(GetYuvSamplingCode(pf), c.sampling);
    EXPECT_EQ(GetYuvSitingCode(pf), c.siting);
  }
}

TEST(YuvPixelFormatProperties, LayoutCodesAgreeWithEachOther) {
  for (std::int32_t v = PF_YCBCR_FIRST; v <= PF_YCBCR_LAST; ++v) {
    SCOPED_TRACE(testing::Message() << "pixel format " << v);
    const TPixelFormat pf = Pf(v);
    const std::int32_t sampling = GetYuvSamplingCode(pf);
    const std::int32_t divisor = GetYuvChromaDivisor(pf);
    EXPECT_EQ(divisor, sampling == 2 ? 1 : sampling == 3 ? 2 : 4);
    EXPECT_EQ(GetYuvColorStandard(pf), v <= 71 ? 2 : 3);
    // Matrix code = standard block of three + range.
    EXPECT_EQ(GetYuvMatrixRangeCode(pf), 3 * (GetYuvColorStandard(pf) - 2) + GetYuvRangeCode(pf) - 1);
    // The siting of 4:4:4 is "all sites"; the others repeat the combined code's siting.
    const std::int32_t combined = GetYuvSubsamplingSiting(pf);
    EXPECT_EQ(GetYuvSitingCode(pf), combined == 1 ? 2 : 3 + (combined - 2) % 3);
  }
}

TEST(RawYuvFile, WrittenFrameReadsBackByteForByte) {
  tovrin_test::TTempDir dir;
  const auto path = dir / "clip.yuv";
  TYuvFrameBuffer out = MakeYuv(PF_YCBCR_FIRST + 14, 10, 6);
  ASSERT_TRUE(AllocYuvFrame(&out));
  const auto pattern = Pattern(static_cast<std::size_t>(out.nTotalSize), 3);
  std::memcpy(out.pBuffer, pattern.data(), pattern.size());

  // A longer file already there is truncated to the frame.
  tovrin_test::WriteAll(path, std::vector<std::uint8_t>(1000, 0xFF));
  ASSERT_TRUE(WriteYuvFrameFile(path, &out));
  EXPECT_EQ(tovrin_test::ReadAll(path), pattern);

  TYuvFrameBuffer in = MakeYuv(PF_YCBCR_FIRST + 14, 10, 6);
  ASSERT_TRUE(AllocYuvFrame(&in));
  ASSERT_TRUE(ReadYuvFrameFile(path, &in));
  EXPECT_EQ(std::memcmp(in.pBuffer, pattern.data(), pattern.size()), 0);
  FreeYuvFrame(&in);
  FreeYuvFrame(&out);
}

TEST(RawYuvFile, ReadTakesTheFirstFrameOfALongerFile) {
  tovrin_test::TTempDir dir;
  const auto path = dir / "two.yuv";
  TYuvFrameBuffer f = MakeYuv(PF_YUV422_601, 4, 4);
  ASSERT_TRUE(AllocYuvFrame(&f));
  const auto bytes = Pattern(2 * static_cast<std::size_t>(f.nTotalSize), 9);
  tovrin_test::WriteAll(path, bytes);
  ASSERT_TRUE(ReadYuvFrameFile(path, &f));
  EXPECT_EQ(std::memcmp(f.pBuffer, bytes.data(), static_cast<std::size_t>(f.nTotalSize)), 0);
  FreeYuvFrame(&f);
}

TEST(RawYuvFile, ShortFileFillsTheFrontAndLeavesTheRest) {
  tovrin_test::TTempDir dir;
  const auto path = dir / "half.yuv";
  TYuvFrameBuffer f = MakeYuv(PF_YUV420_601, 8, 8);
  ASSERT_TRUE(AllocYuvFrame(&f));
  const std::size_t total = static_cast<std::size_t>(f.nTotalSize);
  std::memset(f.pBuffer, 0xAB, total);
  const auto half = Pattern(total / 2, 5);
  tovrin_test::WriteAll(path, half);

  ASSERT_TRUE(ReadYuvFrameFile(path, &f));
  EXPECT_EQ(std::memcmp(f.pBuffer, half.data(), half.size()), 0);
  for (std::size_t i = half.size(); i < total; ++i) ASSERT_EQ(f.pBuffer[i], 0xAB) << "byte " << i;

  tovrin_test::WriteAll(path, std::vector<std::uint8_t>{});
  EXPECT_TRUE(ReadYuvFrameFile(path, &f));
  EXPECT_EQ(f.pBuffer[0], half[0]);
  FreeYuvFrame(&f);
}

TEST(RawYuvFile, FrameFileFailuresAreReportedQuietly) {
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scoped(&sink);
  tovrin_test::TTempDir dir;
  TYuvFrameBuffer f = MakeYuv(PF_YUV444_601, 4, 4);
  ASSERT_TRUE(AllocYuvFrame(&f));

  EXPECT_FALSE(ReadYuvFrameFile(dir / "missing.yuv", &f));
  EXPECT_FALSE(ReadYuvFrameFile(dir.Path(), &f));  // a folder: the read itself fails
  EXPECT_FALSE(WriteYuvFrameFile(dir / "no-such-folder" / "out.yuv", &f));
  EXPECT_FALSE(WriteYuvFrameFile(dir.Path(), &f));

  TYuvFrameBuffer empty;  // never laid out
  tovrin_test::WriteAll(dir / "some.yuv", std::vector<std::uint8_t>(48, 1));
  EXPECT_FALSE(ReadYuvFrameFile(dir / "some.yuv", &empty));
  EXPECT_FALSE(WriteYuvFrameFile(dir / "out.yuv", &empty));
  EXPECT_FALSE(std::filesystem::exists(dir / "out.yuv"));
  EXPECT_FALSE(ReadYuvFrameFile(dir / "some.yuv", nullptr));
  EXPECT_FALSE(WriteYuvFrameFile(dir / "out.yuv", nullptr));

  EXPECT_TRUE(sink.Texts().empty());
  FreeYuvFrame(&f);
}

TEST(RawYuvPlanes, PlanesGoToTheirDestinations) {
  tovrin_test::TTempDir dir;
  const auto path = dir / "planes.yuv";
  const auto bytes = Pattern(16 + 2 * 4, 20);
  tovrin_test::WriteAll(path, bytes);
  std::vector<std::uint8_t> y(16), cb(4), cr(4);
  ASSERT_TRUE(ReadYuvFrame(path, 16, 4, y.data(), cb.data(), cr.data()));
  EXPECT_EQ(y, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 16));
  EXPECT_EQ(cb, std::vector<std::uint8_t>(bytes.begin() + 16, bytes.begin() + 20));
  EXPECT_EQ(cr, std::vector<std::uint8_t>(bytes.begin() + 20, bytes.end()));
}

TEST(RawYuvPlanes, ShortFileLeavesTheUnreadPlanesAsTheyWere) {
  tovrin_test::TTempDir dir;
  const auto path = dir / "short.yuv";
  const auto bytes = Pattern(18, 40);  // all of Y and half of Cb
  tovrin_test::WriteAll(path, bytes);
  std::vector<std::uint8_t> y(16, 0xEE), cb(4, 0xEE), cr(4, 0xEE);
  ASSERT_TRUE(ReadYuvFrame(path, 16, 4, y.data(), cb.data(), cr.data()));
  EXPECT_EQ(y, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 16));
  EXPECT_EQ(cb, (std::vector<std::uint8_t>{bytes[16], bytes[17], 0xEE, 0xEE}));
  EXPECT_EQ(cr, std::vector<std::uint8_t>(4, 0xEE));
}

TEST(RawYuvPlanes, MissingFileIsShownToTheUserOtherFailuresAreNot) {
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scoped(&sink);
  tovrin_test::TTempDir dir;
  const auto missing = dir / "gone.yuv";
  std::vector<std::uint8_t> y(4), cb(1), cr(1);

  EXPECT_FALSE(ReadYuvFrame(missing, 4, 1, y.data(), cb.data(), cr.data()));
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0], "Can not open YUV input file " + missing.string() + " ");

  sink.Clear();
  EXPECT_FALSE(ReadYuvFrame(dir.Path(), 4, 1, y.data(), cb.data(), cr.data()));  // read error
  tovrin_test::WriteAll(dir / "ok.yuv", std::vector<std::uint8_t>(6, 1));
  EXPECT_FALSE(ReadYuvFrame(dir / "ok.yuv", -1, 1, y.data(), cb.data(), cr.data()));
  EXPECT_FALSE(ReadYuvFrame(dir / "ok.yuv", 4, -1, y.data(), cb.data(), cr.data()));
  EXPECT_FALSE(ReadYuvFrame(dir / "ok.yuv", 4, 1, y.data(), nullptr, cr.data()));
  EXPECT_TRUE(sink.Texts().empty());
}

TEST(RawYuvLoad, ChromaDivisorComesFromTheCode) {
  tovrin_test::TTempDir dir;
  const auto path = dir / "load.yuv";
  const auto bytes = Pattern(8 * 3, 60);  // enough for a 4 x 2 frame of any sampling
  tovrin_test::WriteAll(path, bytes);
  const struct {
    std::int32_t code, divisor;
  } cases[] = {
      {47, 1}, {48, 2}, {49, 4}, {50, 1}, {51, 2}, {52, 4},
      {53, 1}, {56, 2}, {64, 2}, {65, 4}, {76, 1}, {94, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << c.code);
    std::uint8_t *y = nullptr, *cb = nullptr, *cr = nullptr;
    ASSERT_TRUE(LoadRawYuvFile(path, 4, 2, c.code, &y, &cb, &cr));
    const std::ptrdiff_t chroma = 8 / c.divisor;
    EXPECT_EQ(cb - y, 8);
    EXPECT_EQ(cr - cb, chroma);
    EXPECT_EQ(std::memcmp(y, bytes.data(), static_cast<std::size_t>(8 + 2 * chroma)), 0);
    std::free(y);
  }
}

TEST(RawYuvLoad, UnknownCodesAndImpossibleSizesAreRefused) {
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scoped(&sink);
  tovrin_test::TTempDir dir;
  const auto path = dir / "load.yuv";
  tovrin_test::WriteAll(path, std::vector<std::uint8_t>(64, 1));
  const struct {
    std::int32_t code, width, height;
  } cases[] = {
      {45, 4, 2},  {46, 4, 2},         {44, 4, 2},
      {95, 4, 2},  {0, 4, 2},          {47, 0, 2},
      {47, 4, -2}, {47, 65535, 65535}, {52, 0x7FFFFFFF, 0x7FFFFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << c.code << " " << c.width << "x" << c.height);
    std::uint8_t dummy = 0;
    std::uint8_t *y = &dummy, *cb = &dummy, *cr = &dummy;
    EXPECT_FALSE(LoadRawYuvFile(path, c.width, c.height, c.code, &y, &cb, &cr));
    EXPECT_EQ(y, nullptr);
    EXPECT_EQ(cb, nullptr);
    EXPECT_EQ(cr, nullptr);
  }
  EXPECT_TRUE(sink.Texts().empty());
}

TEST(RawYuvLoad, ShortOrMissingFileLeavesACallerOwnedClearedBlock) {
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scoped(&sink);
  tovrin_test::TTempDir dir;
  const auto path = dir / "short.yuv";
  const auto bytes = Pattern(10, 90);
  tovrin_test::WriteAll(path, bytes);

  std::uint8_t *y = nullptr, *cb = nullptr, *cr = nullptr;
  ASSERT_TRUE(LoadRawYuvFile(path, 4, 4, FF_YCBCR_FIRST + 12, &y, &cb, &cr));  // 4:2:0: 16 + 4 + 4
  EXPECT_EQ(std::memcmp(y, bytes.data(), bytes.size()), 0);
  for (int i = 10; i < 24; ++i) EXPECT_EQ(y[i], 0) << "byte " << i;
  std::free(y);

  y = cb = cr = nullptr;
  EXPECT_FALSE(LoadRawYuvFile(dir / "gone.yuv", 4, 4, 49, &y, &cb, &cr));
  ASSERT_NE(y, nullptr);  // the caller owns the block even though the read failed
  EXPECT_EQ(cr, y + 20);
  std::free(y);
  EXPECT_EQ(sink.Texts().size(), 1u);
}
