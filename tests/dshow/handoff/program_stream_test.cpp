// The span of a program stream's video from the time stamps of its packets.

#include "io/dshow/program_stream.h"

#include <gtest/gtest.h>

#include <vector>

using namespace DShowMgr;

namespace {

// The five bytes of a time stamp with the given prefix nibble.
void PutStamp(std::vector<std::uint8_t>& out, int prefix, std::int64_t t) {
  out.push_back(static_cast<std::uint8_t>(prefix << 4 | ((t >> 30) & 7) << 1 | 1));
  out.push_back(static_cast<std::uint8_t>(t >> 22));
  out.push_back(static_cast<std::uint8_t>(((t >> 15) & 0x7f) << 1 | 1));
  out.push_back(static_cast<std::uint8_t>(t >> 7));
  out.push_back(static_cast<std::uint8_t>((t & 0x7f) << 1 | 1));
}

// A picture start code with its temporal reference.
void PutPicture(std::vector<std::uint8_t>& out, int reference) {
  out.insert(out.end(), {0, 0, 1, 0, static_cast<std::uint8_t>(reference >> 2),
                         static_cast<std::uint8_t>((reference & 3) << 6 | 0x08)});
}

// A video packet (MPEG-2 or MPEG-1 header) with an optional time stamp, a
// group start when asked, and pictures of these temporal references.
void PutPacket(std::vector<std::uint8_t>& out, bool bMpeg2, std::int64_t t, bool bGroup,
               const std::vector<int>& pictures) {
  std::vector<std::uint8_t> body;
  if (bMpeg2) {
    body.push_back(0x80);
    body.push_back(t >= 0 ? 0x80 : 0x00);
    body.push_back(t >= 0 ? 5 : 0);
    if (t >= 0) PutStamp(body, 0x2, t);
  } else {
    body.push_back(0xFF);  // stuffing
    if (t >= 0) {
      PutStamp(body, 0x2, t);
    } else {
      body.push_back(0x0F);
    }
  }
  if (bGroup) body.insert(body.end(), {0, 0, 1, 0xB8, 0, 0, 0, 0});
  for (int reference : pictures) PutPicture(body, reference);
  body.insert(body.end(), 20, 0x55);  // picture data
  out.insert(out.end(), {0, 0, 1, 0xE0, static_cast<std::uint8_t>(body.size() >> 8),
                         static_cast<std::uint8_t>(body.size() & 0xff)});
  out.insert(out.end(), body.begin(), body.end());
}

constexpr std::int64_t kPeriod = 3600;  // 25 frames per second in 90 kHz ticks

}  // namespace

// The last picture of a file often has no stamp of its own: it is timed
// from the stamped picture before it in its group. Both header kinds.
TEST(ProgramStreamSpan, UnstampedPicturesAreTimedByTheirReference) {
  for (bool bMpeg2 : {true, false}) {
    SCOPED_TRACE(bMpeg2 ? "MPEG-2" : "MPEG-1");
    const std::int64_t first = 61200;  // 0.68 s
    std::vector<std::uint8_t> data;
    PutPacket(data, bMpeg2, first, true, {0});
    PutPacket(data, bMpeg2, first + kPeriod, false, {1, 2});
    // A new group: references start again; 13 stamped, 14 not.
    PutPacket(data, bMpeg2, first + 13 * kPeriod, true, {0, 1});
    PutPacket(data, bMpeg2, -1, false, {});
    const TVideoTimeSpan span = ScanVideoTimes(data.data(), data.size(), kPeriod);
    EXPECT_EQ(span.nFirst, first);
    EXPECT_EQ(span.nLast, first + 14 * kPeriod);
    // 15 frames from the start of the first to the end of the last.
    EXPECT_EQ(VideoSpanDuration(span, 400'000), 6'000'000);
  }
}

// What is not a whole stamped packet counts for nothing.
TEST(ProgramStreamSpan, CutPacketsAndMissingStampsGiveNoSpan) {
  std::vector<std::uint8_t> data;
  PutPacket(data, true, 90000, true, {0});
  const TVideoTimeSpan whole = ScanVideoTimes(data.data(), data.size(), kPeriod);
  EXPECT_TRUE(whole.Valid());
  const TVideoTimeSpan cut = ScanVideoTimes(data.data(), data.size() - 1, kPeriod);
  EXPECT_FALSE(cut.Valid());
  std::vector<std::uint8_t> unstamped;
  PutPacket(unstamped, true, -1, true, {0, 1});
  EXPECT_FALSE(ScanVideoTimes(unstamped.data(), unstamped.size(), kPeriod).Valid());
  EXPECT_FALSE(ScanVideoTimes(nullptr, 10, kPeriod).Valid());
  EXPECT_EQ(VideoSpanDuration(TVideoTimeSpan{}, 400'000), 0);
  EXPECT_FALSE(ReadVideoTimeSpan("/nonexistent/file.mpg", kPeriod).Valid());
}
