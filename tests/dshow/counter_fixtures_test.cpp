// The counter fixtures themselves: every file holds 75 frames whose drawn
// index an independent decoder reads back in order, and the reader of the
// code refuses what is not a code.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/media/counter_fixtures.h"

using namespace tovrin_test_media;

namespace {

// A bottom-up DIB picture (BGR or BGRX) from top-down bgr24 rows.
std::vector<std::uint8_t> ToDib(const std::vector<std::uint8_t>& bgr, int w, int h, int nBits) {
  const int bpp = nBits / 8;
  const int stride = ((w * nBits + 31) / 32) * 4;
  std::vector<std::uint8_t> dib(static_cast<std::size_t>(stride) * h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      std::memcpy(&dib[static_cast<std::size_t>(h - 1 - y) * stride + x * bpp],
                  &bgr[(static_cast<std::size_t>(y) * w + x) * 3], 3);
  return dib;
}

class CounterFixture : public ::testing::TestWithParam<TCounterFormat> {};

TEST_P(CounterFixture, AnIndependentDecoderReadsEveryIndexInOrder) {
  const TCounterFile file = CounterFile(GetParam());
  ASSERT_FALSE(file.path.empty()) << "could not make the " << CounterFormatName(GetParam()) << " file";
  const TReferenceFrames reference = DecodeWithFfmpeg(file);
  ASSERT_EQ(reference.frames.size(), static_cast<std::size_t>(kCounterFrames));
  for (std::size_t i = 0; i < reference.frames.size(); ++i) {
    const auto& frame = reference.frames[i];
    EXPECT_EQ(ReadCounter(frame.data(), reference.nWidth, reference.nHeight, 24, reference.nWidth * 3, false),
              static_cast<int>(i))
        << "frame " << i;
  }
  // The same picture as a bottom-up DIB of 32 bits per pixel.
  const auto dib = ToDib(reference.frames[41], reference.nWidth, reference.nHeight, 32);
  EXPECT_EQ(ReadCounter(dib.data(), reference.nWidth, reference.nHeight, 32), 41);
}

INSTANTIATE_TEST_SUITE_P(Formats, CounterFixture, ::testing::ValuesIn(AllCounterFormats()),
                         [](const auto& info) { return CounterFormatName(info.param); });

TEST(CounterPicture, OddSizesCarryTheirIndex) {
  for (const auto& [w, h] : {std::pair{97, 61}, std::pair{321, 241}, std::pair{8, 16}}) {
    for (int index : {0, 1, 74, 255}) {
      const auto yuv = CounterPictureI420(index, w, h);
      // Limited-range luma to grey BGR, as a decoder shows the code cells.
      std::vector<std::uint8_t> bgr(static_cast<std::size_t>(w) * h * 3);
      for (std::size_t p = 0; p < static_cast<std::size_t>(w) * h; ++p) {
        const int v = std::clamp((yuv[p] - 16) * 255 / 219, 0, 255);
        bgr[3 * p] = bgr[3 * p + 1] = bgr[3 * p + 2] = static_cast<std::uint8_t>(v);
      }
      EXPECT_EQ(ReadCounter(bgr.data(), w, h, 24, w * 3, false), index) << w << "x" << h;
      const auto dib = ToDib(bgr, w, h, 24);
      EXPECT_EQ(ReadCounter(dib.data(), w, h, 24), index) << w << "x" << h;
    }
  }
}

TEST(CounterPicture, WhatIsNoCodeReadsAsNone) {
  const int w = 64, h = 48;
  std::vector<std::uint8_t> grey(static_cast<std::size_t>(w) * h * 3, 128);
  EXPECT_EQ(ReadCounter(grey.data(), w, h, 24, w * 3, false), -1);
  std::vector<std::uint8_t> white(grey.size(), 255);
  EXPECT_EQ(ReadCounter(white.data(), w, h, 24, w * 3, false), -1) << "bits and their inverse agree";
  // Two frames blended half and half (a torn or mixed picture).
  auto a = CounterPictureI420(5, w, h), b = CounterPictureI420(10, w, h);
  std::vector<std::uint8_t> blend(grey.size());
  for (std::size_t p = 0; p < static_cast<std::size_t>(w) * h; ++p)
    blend[3 * p] = blend[3 * p + 1] = blend[3 * p + 2] = static_cast<std::uint8_t>((a[p] + b[p]) / 2);
  EXPECT_EQ(ReadCounter(blend.data(), w, h, 24, w * 3, false), -1);
  EXPECT_EQ(ReadCounter(nullptr, w, h, 24), -1);
  EXPECT_EQ(ReadCounter(grey.data(), w, h, 16), -1);
}

}  // namespace
