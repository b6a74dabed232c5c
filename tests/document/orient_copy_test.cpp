// The oriented frame copies called directly, without the video port's own
// checks in front of them: a source or target that does not hold its rows
// is refused before a byte is read or written. Every buffer is a vector of
// exactly the bytes the frame claims, so AddressSanitizer sees any access
// past it.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "document/video_port.h"

using namespace ZarnTypes;

namespace {

struct TOwnedFrame {
  std::vector<std::uint8_t> bytes;
  TFrameBuffer frame;
};

TOwnedFrame Frame(int bits, int width, int height, int stride, std::int64_t size, std::uint8_t fill) {
  TOwnedFrame t;
  t.bytes.assign(static_cast<std::size_t>(size), fill);
  t.frame.ePixelFormat = bits == 24 ? PF_RGB24 : PF_RGB32;
  t.frame.nBitsPerPixel = bits;
  t.frame.nWidth = width;
  t.frame.nHeight = height;
  t.frame.nStride = stride;
  t.frame.nPaddedHeight = height;
  t.frame.nSize = static_cast<std::int32_t>(size);
  t.frame.nRowAlignment = 4;
  t.frame.nHeightAlignment = 1;
  t.frame.pBuffer = t.bytes.data();
  return t;
}

// Target of a copy of a width x height source under `orientation`.
TOwnedFrame TargetFor(int orientation, int width, int height, std::int64_t shortBy = 0) {
  // The diagonal reflections and the quarter turns (codes 1, 2, 5, 6) swap
  // width and height.
  const bool swaps = orientation == 1 || orientation == 2 || orientation == 5 || orientation == 6;
  const int tw = swaps ? height : width;
  const int th = swaps ? width : height;
  return Frame(32, tw, th, tw * 4, std::int64_t{tw} * 4 * th - shortBy, 0xEE);
}

bool Untouched(const TOwnedFrame& t) {
  for (std::uint8_t b : t.bytes)
    if (b != 0xEE) return false;
  return true;
}

TEST(OrientCopy32To32, RefusesASourceShortOfItsRowsInEveryOrientation) {
  const int w = 5, h = 3;
  struct TCase {
    const char* what;
    int stride;
    std::int64_t size;
  };
  const TCase cases[] = {
      {"one byte short", w * 4, std::int64_t{w} * 4 * h - 1},
      {"one row short", w * 4, std::int64_t{w} * 4 * (h - 1)},
      {"wide rows, last row short", w * 4 + 8, std::int64_t{w * 4 + 8} * (h - 1) + w * 4 - 1},
      {"stride below a row", w * 4 - 4, std::int64_t{w} * 4 * h},
      {"no bytes", w * 4, 0},
  };
  for (int orientation = 0; orientation <= 8; ++orientation) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::string(c.what) + ", orientation " + std::to_string(orientation));
      TOwnedFrame source = Frame(32, w, h, c.stride, c.size, 0x11);
      TOwnedFrame target = TargetFor(orientation, w, h);
      EXPECT_FALSE(VideoPort::OrientCopy32To32(orientation, source.frame, target.frame));
      EXPECT_TRUE(Untouched(target));
    }
  }
}

TEST(OrientCopy32To32, ExactSourcesAreCopiedAndShortTargetsRefused) {
  const int w = 5, h = 3;
  for (int orientation = 0; orientation <= 8; ++orientation) {
    SCOPED_TRACE("orientation " + std::to_string(orientation));
    // A source of exactly its rows, the last one without padding, is enough.
    TOwnedFrame source = Frame(32, w, h, w * 4 + 8, std::int64_t{w * 4 + 8} * (h - 1) + w * 4, 0x11);
    TOwnedFrame target = TargetFor(orientation, w, h);
    EXPECT_TRUE(VideoPort::OrientCopy32To32(orientation, source.frame, target.frame));
    for (std::uint8_t b : target.bytes) ASSERT_EQ(b, 0x11);

    TOwnedFrame shortTarget = TargetFor(orientation, w, h, 1);
    EXPECT_FALSE(VideoPort::OrientCopy32To32(orientation, source.frame, shortTarget.frame));
    EXPECT_TRUE(Untouched(shortTarget));
  }
  TOwnedFrame source = Frame(32, w, h, w * 4, std::int64_t{w} * 4 * h, 0x11);
  TOwnedFrame target = TargetFor(0, w, h);
  EXPECT_FALSE(VideoPort::OrientCopy32To32(9, source.frame, target.frame));
  EXPECT_FALSE(VideoPort::OrientCopy32To32(-1, source.frame, target.frame));
  EXPECT_TRUE(Untouched(target));
}

TEST(OrientCopy24To32, RefusesASourceShortOfItsRows) {
  const int w = 5, h = 3;
  const int stride = 16;  // 15 bytes of pixels padded to 4
  for (int orientation = 0; orientation <= 8; ++orientation) {
    SCOPED_TRACE("orientation " + std::to_string(orientation));
    TOwnedFrame source = Frame(24, w, h, stride, std::int64_t{stride} * (h - 1) + w * 3 - 1, 0x22);
    TOwnedFrame target = TargetFor(orientation, w, h);
    EXPECT_FALSE(VideoPort::OrientCopy24To32(orientation, source.frame, target.frame));
    EXPECT_TRUE(Untouched(target));

    TOwnedFrame whole = Frame(24, w, h, stride, std::int64_t{stride} * (h - 1) + w * 3, 0x22);
    EXPECT_TRUE(VideoPort::OrientCopy24To32(orientation, whole.frame, target.frame));
    for (std::size_t i = 0; i < target.bytes.size(); ++i)
      ASSERT_EQ(target.bytes[i], i % 4 == 3 ? 0 : 0x22) << i;
  }
}

}  // namespace
