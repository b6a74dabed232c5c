// What the codec managers share: row checks, the 24-to-32-bit copy,
// the bottom-up frame of a bitmap, the decode frame and the per-call
// message log.

#include "io/codecs/codec_common.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/message_sink.h"

namespace {

using namespace ZarnTypes;

// A section of the depth whose byte i of stored row r is r * 31 + i * 7 + 1.
Dib::TDibSection PatternSection(int width, int height, int bits, bool topDown) {
  Dib::TDibSection s;
  s.header.biWidth = width;
  s.header.biHeight = topDown ? -height : height;
  s.header.biBitCount = static_cast<std::uint16_t>(bits);
  s.bits.resize(s.Stride() * static_cast<std::size_t>(height));
  for (int r = 0; r < height; ++r)
    for (std::size_t i = 0; i < s.Stride(); ++i)
      s.bits[static_cast<std::size_t>(r) * s.Stride() + i] = static_cast<std::uint8_t>(r * 31 + i * 7 + 1);
  return s;
}

TEST(CodecRowChecks, SectionsMustHoldEveryRow) {
  Dib::TDibSection s = PatternSection(5, 3, 24, false);
  EXPECT_TRUE(Codecs::SectionHoldsRows(s));
  s.bits.pop_back();
  EXPECT_FALSE(Codecs::SectionHoldsRows(s));

  for (auto [w, h, bits] : {std::tuple{0, 3, 24}, std::tuple{5, 0, 24}, std::tuple{5, 3, 0}}) {
    Dib::TDibSection empty = PatternSection(5, 3, 24, false);
    empty.header.biWidth = w;
    empty.header.biHeight = h;
    empty.header.biBitCount = static_cast<std::uint16_t>(bits);
    EXPECT_FALSE(Codecs::SectionHoldsRows(empty)) << w << "x" << h << "x" << bits;
  }
  // A crafted header whose row bytes times rows wrap to 0 in 64 bits
  // (2^34 x 2^30) holds nothing.
  Dib::TDibSection crafted = PatternSection(5, 3, 24, true);
  crafted.header.biWidth = 1 << 29;
  crafted.header.biHeight = -(1 << 30);
  crafted.header.biBitCount = 256;
  ASSERT_EQ(crafted.Stride(), std::size_t{1} << 34);
  EXPECT_FALSE(Codecs::SectionHoldsRows(crafted));
}

TEST(CodecRowChecks, FramesMustHoldEveryRowAtTheirStride) {
  std::uint8_t storage[64] = {};
  TFrameBuffer f;
  f.pBuffer = storage;
  f.nStride = 16;
  f.nSize = 64;
  EXPECT_TRUE(Codecs::FrameHoldsRows(&f, 4, 16));
  EXPECT_FALSE(Codecs::FrameHoldsRows(&f, 5, 16));
  EXPECT_FALSE(Codecs::FrameHoldsRows(&f, 4, 17));
  f.pBuffer = nullptr;
  EXPECT_FALSE(Codecs::FrameHoldsRows(&f, 4, 16));
  EXPECT_FALSE(Codecs::FrameHoldsRows(nullptr, 1, 1));
}

TEST(CodecWiden, TwentyFourBitRowsBecomeThirtyTwoBitRowsInTheSameOrder) {
  for (const bool topDown : {false, true}) {
    SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
    const Dib::TDibSection narrow = PatternSection(7, 5, 24, topDown);
    const Dib::TDibPtr wide = Codecs::WidenToRgb32(narrow);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->BitCount(), 32);
    EXPECT_EQ(wide->Width(), 7);
    EXPECT_EQ(wide->Height(), 5);
    EXPECT_EQ(wide->TopDown(), topDown);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) {
        const std::uint8_t* in = narrow.RowFromTop(y) + 3 * x;
        const std::uint8_t* out = wide->RowFromTop(y) + 4 * x;
        ASSERT_EQ(std::memcmp(in, out, 3), 0) << x << "," << y;
        ASSERT_EQ(out[3], 0) << x << "," << y;
      }
  }
}

TEST(CodecWiden, OnlyWholeTwentyFourBitSectionsAreWidened) {
  EXPECT_FALSE(Codecs::WidenToRgb32(PatternSection(4, 4, 32, false)));
  EXPECT_FALSE(Codecs::WidenToRgb32(PatternSection(4, 4, 8, false)));
  Dib::TDibSection shortRows = PatternSection(4, 4, 24, false);
  shortRows.bits.resize(shortRows.bits.size() - 1);
  EXPECT_FALSE(Codecs::WidenToRgb32(shortRows));
}

TEST(CodecBitmapFrame, RowsArriveBottomUpWhateverTheBitmapsOrder) {
  for (const bool topDown : {false, true}) {
    SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
    const Dib::TDibSection bitmap = PatternSection(6, 4, 32, topDown);
    TFrameBuffer frame;
    ASSERT_TRUE(Codecs::CopyToBottomUpFrame(bitmap, frame));
    EXPECT_EQ(frame.ePixelFormat, PF_RGB32);
    EXPECT_EQ(frame.nWidth, 6);
    EXPECT_EQ(frame.nHeight, 4);
    EXPECT_EQ(frame.nStride, 24);
    EXPECT_EQ(frame.nFlag, 1);
    for (int y = 0; y < 4; ++y)
      EXPECT_EQ(std::memcmp(frame.pBuffer + (3 - y) * frame.nStride, bitmap.RowFromTop(y), 24), 0) << y;
    FreeFrameBuffer(&frame);
  }
}

TEST(CodecDecodeFrame, StorageOfTheSameLayoutIsKeptAndAnyOtherReplaced) {
  TFrameBuffer frame;
  ASSERT_TRUE(Codecs::PrepareFrame(&frame, PF_RGB24, 5, 3, 7));
  EXPECT_EQ(frame.ePixelFormat, PF_RGB24);
  EXPECT_EQ(frame.nRowAlignment, 4);
  EXPECT_EQ(frame.nHeightAlignment, 1);
  EXPECT_EQ(frame.nStride, 16);
  EXPECT_EQ(frame.nFlag, 7);
  std::memset(frame.pBuffer, 0xA5, static_cast<std::size_t>(frame.nSize));

  // The same layout: storage, contents and the caller's flag stay.
  std::uint8_t* const storage = frame.pBuffer;
  frame.nFlag = 3;
  ASSERT_TRUE(Codecs::PrepareFrame(&frame, PF_RGB24, 5, 3));
  EXPECT_EQ(frame.pBuffer, storage);
  EXPECT_EQ(frame.nFlag, 3);
  EXPECT_EQ(frame.pBuffer[frame.nSize - 1], 0xA5);

  // Another format: laid out anew with the flag given.
  ASSERT_TRUE(Codecs::PrepareFrame(&frame, PF_RGB32, 5, 3, 0));
  EXPECT_EQ(frame.ePixelFormat, PF_RGB32);
  EXPECT_EQ(frame.nStride, 20);
  EXPECT_EQ(frame.nSize, 60);
  EXPECT_EQ(frame.nFlag, 0);

  // A record whose stride does not cover its rows is not trusted.
  frame.nStride = 8;
  ASSERT_TRUE(Codecs::PrepareFrame(&frame, PF_RGB32, 5, 3));
  EXPECT_EQ(frame.nStride, 20);
  EXPECT_EQ(frame.nSize, 60);

  EXPECT_FALSE(Codecs::PrepareFrame(&frame, PF_RGB32, 0, 3));
  EXPECT_FALSE(Codecs::PrepareFrame(nullptr, PF_RGB32, 5, 3));
  FreeFrameBuffer(&frame);
}

TEST(CodecDecodeFrame, NewStorageStartsCleared) {
  // Each case makes the record take new storage; the heap's old bytes must
  // not show through where a decoder writes nothing.
  struct Case {
    TPixelFormat format;
    std::int32_t width, height;
  };
  const Case cases[] = {{PF_RGB32, 7, 5}, {PF_RGB24, 3, 9}, {PF_RGB32, 64, 40}};
  TFrameBuffer frame;
  for (const Case& c : cases) {
    // Dirty storage of another size first, so that the next one is new.
    ASSERT_TRUE(Codecs::PrepareFrame(&frame, PF_RGB32, c.width + 1, c.height));
    std::memset(frame.pBuffer, 0xA5, static_cast<std::size_t>(frame.nSize));
    ASSERT_TRUE(Codecs::PrepareFrame(&frame, c.format, c.width, c.height));
    ASSERT_EQ(frame.nWidth, c.width);
    for (std::int32_t i = 0; i < frame.nSize; ++i)
      ASSERT_EQ(frame.pBuffer[i], 0) << c.width << "x" << c.height << " byte " << i;
  }
  FreeFrameBuffer(&frame);
}

TEST(CodecDecodeFrame, TheRequestDescribesTheFrame) {
  TFrameBuffer frame;
  ASSERT_TRUE(Codecs::PrepareFrame(&frame, PF_RGB32, 9, 2));
  TMediaRequest request;
  Codecs::DescribeFrame(request, frame);
  EXPECT_EQ(request.nWidth, 9);
  EXPECT_EQ(request.nHeight, 2);
  EXPECT_EQ(request.nStride, 36);
  EXPECT_EQ(request.pPixels, frame.pBuffer);
  EXPECT_EQ(request.nSize, 72);
  FreeFrameBuffer(&frame);
}

class CodecMessagesTest : public ::testing::Test {
 protected:
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope{&sink};
};

TEST_F(CodecMessagesTest, NothingIsShownForAQuietCall) {
  Codecs::TCallMessages log;
  log.AddOwn("\n");
  log.AddError("Lib", "");
  EXPECT_FALSE(log.HasErrors());
  log.Show();
  EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(CodecMessagesTest, OwnReasonsErrorsAndWarningsEachGetTheirBox) {
  Codecs::TCallMessages log;
  log.AddWarning("Lib", "soft\r\n");
  log.AddError("Lib", "first\n");
  log.AddError("Other", "second");
  log.AddError("Lib", "first");
  log.AddOwn("mine");
  EXPECT_TRUE(log.HasErrors());
  log.Show();
  const auto boxes = sink.Messages();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, "mine");
  EXPECT_EQ(boxes[0].caption, "");
  EXPECT_EQ(boxes[0].style, platform::MB_OK | platform::MB_ICONEXCLAMATION);
  EXPECT_EQ(boxes[1].text, "first\nOther: second");
  EXPECT_EQ(boxes[1].caption, "Lib Error");
  EXPECT_EQ(boxes[1].style, platform::MB_OK | platform::MB_ICONEXCLAMATION);
  EXPECT_EQ(boxes[2].text, "soft");
  EXPECT_EQ(boxes[2].caption, "Lib Warning");
  EXPECT_EQ(boxes[2].style, platform::MB_OK | platform::MB_ICONINFORMATION);
}

TEST_F(CodecMessagesTest, LinesPastTheTenthAreSummedUp) {
  Codecs::TCallMessages log;
  for (int i = 0; i < 25; ++i) log.AddWarning("Lib", "line " + std::to_string(i % 12));
  log.Show();
  const auto boxes = sink.Messages();
  ASSERT_EQ(boxes.size(), 1u);
  std::string want;
  for (int i = 0; i < 10; ++i) {
    if (i) want += '\n';
    want += "line ";
    want += std::to_string(i);
  }
  EXPECT_EQ(boxes[0].text, want + "\n...");
}

}  // namespace
