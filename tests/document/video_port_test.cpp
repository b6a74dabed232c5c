#include "document/video_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/message_sink.h"

using namespace ZarnTypes;
using VideoPort::ComposeOrientation;
using VideoPort::CVideoPort;

namespace {

// A frame that owns its pixels in a vector of exactly the bytes it claims,
// so that AddressSanitizer catches any read past them.
struct TTestFrame {
  std::vector<std::uint8_t> bytes;
  TFrameBuffer frame;
};

// The pixel value of (x, y) of the test pictures: every pixel differs.
std::uint32_t Pattern(int x, int y) {
  return 0x00000000u | (static_cast<std::uint32_t>(200 + y) << 16) |
         (static_cast<std::uint32_t>(100 + x) << 8) | static_cast<std::uint32_t>(x * 16 + y);
}

TTestFrame MakeFrame(int bits, int width, int height, int stride) {
  TTestFrame t;
  t.frame.ePixelFormat = bits == 24 ? PF_RGB24 : bits == 32 ? PF_RGB32 : PF_DIB_16;
  t.frame.nBitsPerPixel = bits;
  t.frame.nWidth = width;
  t.frame.nHeight = height;
  t.frame.nStride = stride;
  t.frame.nRowAlignment = 4;
  t.frame.nSize = stride * height;
  t.bytes.assign(static_cast<std::size_t>(t.frame.nSize), 0xEE);
  t.frame.pBuffer = t.bytes.data();
  const int bpp = bits / 8;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::uint32_t v = Pattern(x, y);
      std::memcpy(t.bytes.data() + y * stride + x * bpp, &v, static_cast<std::size_t>(bpp));
    }
  return t;
}

TTestFrame MakeSolidFrame32(int width, int height, std::uint32_t value) {
  TTestFrame t = MakeFrame(32, width, height, width * 4);
  for (int i = 0; i < width * height; ++i) std::memcpy(t.bytes.data() + i * 4, &value, 4);
  return t;
}

std::uint32_t PixelAt(const Dib::TDibSection& dib, int x, int y) {
  std::uint32_t v = 0;
  std::memcpy(&v, dib.bits.data() + static_cast<std::size_t>(y) * dib.Stride() + x * 4, 4);
  return v;
}

// Where source pixel (x, y) of a W x H picture lands, by the written-out
// definition of each code.
std::pair<int, int> Mapped(int code, int x, int y, int w, int h) {
  switch (code) {
    case 1: return {y, x};
    case 2: return {h - 1 - y, x};
    case 3: return {w - 1 - x, y};
    case 4: return {w - 1 - x, h - 1 - y};
    case 5: return {h - 1 - y, w - 1 - x};
    case 6: return {y, w - 1 - x};
    case 7: return {x, h - 1 - y};
    default: return {x, y};
  }
}

TVideoPortUpdate CopyUpdate(TFrameBuffer* frame) {
  TVideoPortUpdate u;
  u.nCommand = VPU_COPY_FRAME;
  u.pSourceFrame = frame;
  u.bSwap = 1;
  return u;
}

TVideoPortUpdate OrientUpdate(int code, bool absolute, bool storeOnly = false) {
  TVideoPortUpdate u;
  u.nCommand = VPU_ORIENT;
  u.nOrientation = code;
  u.bAbsolute = absolute ? 1 : 0;
  u.bStoreOnly = storeOnly ? 1 : 0;
  u.bSwap = 1;
  return u;
}

class VideoPortTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(port.ResetBitmaps(32)); }

  // Copies a fresh 3 x 2 pattern into the port.
  void Load(int bits = 32) {
    TTestFrame t = MakeFrame(bits, 3, 2, bits == 24 ? 12 : 12);
    TVideoPortUpdate u = CopyUpdate(&t.frame);
    ASSERT_TRUE(port.UpdateVideoPort(u));
  }

  // Checks that the front picture is the 3 x 2 pattern turned by `code`.
  void ExpectTurned(int code) {
    auto front = port.FrontBitmap();
    ASSERT_TRUE(front);
    const bool swaps = code == 1 || code == 2 || code == 5 || code == 6;
    ASSERT_EQ(front->Width(), swaps ? 2 : 3) << "code " << code;
    ASSERT_EQ(front->Height(), swaps ? 3 : 2) << "code " << code;
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) {
        const auto [tx, ty] = Mapped(code, x, y, 3, 2);
        EXPECT_EQ(PixelAt(*front, tx, ty), Pattern(x, y) & 0x00FFFFFFu)
            << "code " << code << " source (" << x << ", " << y << ")";
      }
  }

  CVideoPort port;
};

}  // namespace

TEST(ComposeOrientationTable, EveryPairGivesTheCodeOfTheMatrixProduct) {
  // Row: the code applied first; column: the code applied second.
  const int expected[8][8] = {
      {0, 1, 2, 3, 4, 5, 6, 7}, {1, 0, 3, 2, 5, 4, 7, 6}, {2, 7, 4, 1, 6, 3, 0, 5}, {3, 6, 5, 0, 7, 2, 1, 4},
      {4, 5, 6, 7, 0, 1, 2, 3}, {5, 4, 7, 6, 1, 0, 3, 2}, {6, 3, 0, 5, 2, 7, 4, 1}, {7, 2, 1, 4, 3, 6, 5, 0},
  };
  for (int first = 0; first < 8; ++first)
    for (int second = 0; second < 8; ++second) {
      std::int32_t out = -1;
      EXPECT_TRUE(ComposeOrientation(first, second, out));
      EXPECT_EQ(out, expected[first][second]) << first << " then " << second;
    }
}

TEST(ComposeOrientationTable, CodesOutsideTheGroupFailWithCode8) {
  const std::pair<int, int> cases[] = {{8, 0}, {0, 8}, {-1, 2}, {3, -5}, {100, 100}};
  for (auto [a, b] : cases) {
    std::int32_t out = 0;
    EXPECT_FALSE(ComposeOrientation(a, b, out)) << a << ", " << b;
    EXPECT_EQ(out, ORIENT_INVALID);
  }
}

TEST(ComposeOrientationTable, InverseUndoesEveryCode) {
  for (int code = 0; code < 8; ++code) {
    std::int32_t out = -1;
    ASSERT_TRUE(ComposeOrientation(code, VideoPort::InverseOrientation(code), out));
    EXPECT_EQ(out, 0) << code;
  }
  EXPECT_EQ(VideoPort::InverseOrientation(8), ORIENT_INVALID);
}

TEST_F(VideoPortTest, EveryOrientationTurnsAnAsymmetricPictureFrom24And32Bits) {
  for (int bits : {24, 32}) {
    for (int code = 0; code < 8; ++code) {
      // The orientation is stored first, then the frame is drawn in it.
      TVideoPortUpdate reset;
      reset.nCommand = VPU_RESET;
      reset.bResetOrientation = 1;
      ASSERT_TRUE(port.UpdateVideoPort(reset));
      TVideoPortUpdate orient = OrientUpdate(code, true, true);
      ASSERT_TRUE(port.UpdateVideoPort(orient));
      // 24-bit rows of 9 bytes padded to 12; 32-bit rows of 12 bytes.
      TTestFrame t = MakeFrame(bits, 3, 2, 12);
      TVideoPortUpdate u = CopyUpdate(&t.frame);
      ASSERT_TRUE(port.UpdateVideoPort(u)) << bits << " bits, code " << code;
      EXPECT_EQ(port.Orientation(), code);
      ExpectTurned(code);
    }
  }
}

TEST_F(VideoPortTest, TurningThePictureOnShowAgreesWithTheCompositionTable) {
  for (int first = 0; first < 8; ++first)
    for (int second = 0; second < 8; ++second) {
      TVideoPortUpdate reset;
      reset.nCommand = VPU_RESET;
      reset.bResetOrientation = 1;
      ASSERT_TRUE(port.UpdateVideoPort(reset));
      Load();
      TVideoPortUpdate a = OrientUpdate(first, false);
      ASSERT_TRUE(port.UpdateVideoPort(a));
      TVideoPortUpdate b = OrientUpdate(second, false);
      ASSERT_TRUE(port.UpdateVideoPort(b));
      std::int32_t composed = -1;
      ASSERT_TRUE(ComposeOrientation(first, second, composed));
      EXPECT_EQ(port.Orientation(), composed);
      ExpectTurned(composed);
    }
}

TEST_F(VideoPortTest, RotatingRightTwiceTurnsByHalfAndReusesTheOtherPicture) {
  TTestFrame t = MakeFrame(32, 640, 480, 640 * 4);
  TVideoPortUpdate load = CopyUpdate(&t.frame);
  ASSERT_TRUE(port.UpdateVideoPort(load));

  TVideoPortUpdate first = OrientUpdate(ORIENT_ROTATE_RIGHT_90, false);
  ASSERT_TRUE(port.UpdateVideoPort(first));
  EXPECT_EQ(first.bSizeChanged, 1);
  EXPECT_EQ(port.FrontBitmap()->Width(), 480);
  EXPECT_EQ(port.FrontBitmap()->Height(), 640);

  TVideoPortUpdate second = OrientUpdate(ORIENT_ROTATE_RIGHT_90, false);
  ASSERT_TRUE(port.UpdateVideoPort(second));
  EXPECT_EQ(second.bSizeChanged, 0);
  EXPECT_EQ(port.Orientation(), ORIENT_ROTATE_180);
  auto front = port.FrontBitmap();
  ASSERT_EQ(front->Width(), 640);
  ASSERT_EQ(front->Height(), 480);
  for (auto [x, y] : {std::pair{0, 0}, std::pair{639, 0}, std::pair{5, 477}, std::pair{321, 240}})
    EXPECT_EQ(PixelAt(*front, 639 - x, 479 - y), Pattern(x, y)) << x << ", " << y;
}

TEST_F(VideoPortTest, AbsoluteOrientationRedrawsThroughTheDifference) {
  Load();
  TVideoPortUpdate turn = OrientUpdate(ORIENT_ROTATE_LEFT_90, false);
  ASSERT_TRUE(port.UpdateVideoPort(turn));
  TVideoPortUpdate again = OrientUpdate(ORIENT_ROTATE_LEFT_90, true);
  ASSERT_TRUE(port.UpdateVideoPort(again));
  EXPECT_EQ(port.Orientation(), ORIENT_ROTATE_LEFT_90);
  ExpectTurned(ORIENT_ROTATE_LEFT_90);

  TVideoPortUpdate more = OrientUpdate(ORIENT_ROTATE_180, false);
  ASSERT_TRUE(port.UpdateVideoPort(more));
  TVideoPortUpdate upright = OrientUpdate(ORIENT_IDENTITY, true);
  ASSERT_TRUE(port.UpdateVideoPort(upright));
  EXPECT_EQ(port.Orientation(), ORIENT_IDENTITY);
  ExpectTurned(ORIENT_IDENTITY);
}

TEST_F(VideoPortTest, StoreOnlyChangesTheOrientationButNotThePictureUntilTheNextFrame) {
  Load();
  auto before = port.FrontBitmap();
  TVideoPortUpdate store = OrientUpdate(ORIENT_REFLECT_HORIZONTAL, false, true);
  ASSERT_TRUE(port.UpdateVideoPort(store));
  EXPECT_EQ(port.Orientation(), ORIENT_REFLECT_HORIZONTAL);
  EXPECT_EQ(port.FrontBitmap(), before);
  ExpectTurned(ORIENT_IDENTITY);
  Load();
  ExpectTurned(ORIENT_REFLECT_HORIZONTAL);
}

TEST_F(VideoPortTest, A24BitFrameWithoutStrideIsLaidOutWithPaddedRows) {
  TTestFrame t = MakeFrame(24, 3, 2, 12);
  t.frame.nStride = 0;
  t.frame.nRowAlignment = 1;
  TVideoPortUpdate u = CopyUpdate(&t.frame);
  ASSERT_TRUE(port.UpdateVideoPort(u));
  EXPECT_EQ(t.frame.nStride, 12);
  EXPECT_EQ(t.frame.nSize, 24);
  EXPECT_EQ(t.frame.nRowAlignment, 4);
  ExpectTurned(ORIENT_IDENTITY);
}

TEST_F(VideoPortTest, FramesThatDoNotHoldTheirRowsAreRefusedWithoutReadingPastThem) {
  Load();
  auto before = port.FrontBitmap();
  struct Case {
    const char* what;
    int bits;
    int stride;
    int size;  // bytes the frame claims (and owns)
  } cases[] = {
      {"24-bit without stride, rows unpadded", 24, 0, 18},
      {"24-bit stride below a row", 24, 6, 12},
      {"32-bit size short of the last row", 32, 12, 20},
      {"32-bit stride below a row", 32, 8, 16},
  };
  for (const Case& c : cases) {
    TTestFrame t;
    t.bytes.assign(static_cast<std::size_t>(c.size), 1);
    t.frame.ePixelFormat = c.bits == 24 ? PF_PACKED_24 : PF_RGB32;
    t.frame.nBitsPerPixel = c.bits;
    t.frame.nWidth = 3;
    t.frame.nHeight = 2;
    t.frame.nStride = c.stride;
    t.frame.nSize = c.size;
    t.frame.nRowAlignment = 1;
    t.frame.pBuffer = t.bytes.data();
    TVideoPortUpdate u = CopyUpdate(&t.frame);
    EXPECT_FALSE(port.UpdateVideoPort(u)) << c.what;
    EXPECT_EQ(port.FrontBitmap(), before) << c.what;
  }
}

TEST_F(VideoPortTest, AFrameClaimingMoreRowsThanItHoldsLeavesBothPicturesAlone) {
  // Both pictures at 3 x 2.
  Load();
  Load();
  auto before = port.FrontBitmap();
  const struct {
    const char* what;
    int bits;
    int stride;
  } cases[] = {
      {"32-bit with stride", 32, 4000 * 4},
      {"32-bit without stride", 32, 0},
      {"24-bit with stride", 24, 4000 * 3},
      {"24-bit without stride", 24, 0},
  };
  for (const auto& c : cases) {
    // A 4000 x 3000 frame whose buffer holds 16 bytes.
    TTestFrame t;
    t.bytes.assign(16, 1);
    t.frame.ePixelFormat = c.bits == 24 ? PF_RGB24 : PF_RGB32;
    t.frame.nBitsPerPixel = c.bits;
    t.frame.nWidth = 4000;
    t.frame.nHeight = 3000;
    t.frame.nStride = c.stride;
    t.frame.nSize = 16;
    t.frame.pBuffer = t.bytes.data();
    TVideoPortUpdate u = CopyUpdate(&t.frame);
    EXPECT_FALSE(port.UpdateVideoPort(u)) << c.what;
    EXPECT_EQ(u.bSizeChanged, 0) << c.what;
    EXPECT_EQ(port.FrontBitmap(), before) << c.what;
    // The back picture kept its size: the next 3 x 2 frame needs no new one.
    TTestFrame next = MakeFrame(32, 3, 2, 12);
    TVideoPortUpdate again = CopyUpdate(&next.frame);
    ASSERT_TRUE(port.UpdateVideoPort(again)) << c.what;
    EXPECT_EQ(again.bSizeChanged, 0) << c.what;
    before = port.FrontBitmap();
  }
}

TEST_F(VideoPortTest, A32BitFrameWithWideRowsIsCopiedRowByRow) {
  TTestFrame t = MakeFrame(32, 3, 2, 64);
  TVideoPortUpdate u = CopyUpdate(&t.frame);
  ASSERT_TRUE(port.UpdateVideoPort(u));
  ExpectTurned(ORIENT_IDENTITY);
}

TEST_F(VideoPortTest, FramesOfOtherDepthsAreRefusedAndThePictureStays) {
  Load();
  auto before = port.FrontBitmap();
  for (int bits : {8, 16}) {
    TTestFrame t = MakeFrame(16, 3, 2, 8);
    t.frame.nBitsPerPixel = bits;
    TVideoPortUpdate u = CopyUpdate(&t.frame);
    EXPECT_FALSE(port.UpdateVideoPort(u)) << bits;
  }
  EXPECT_EQ(port.FrontBitmap(), before);
  ExpectTurned(ORIENT_IDENTITY);
}

TEST_F(VideoPortTest, KeepAndUnknownCommandsLeaveEverythingAlone) {
  Load();
  auto before = port.FrontBitmap();
  TVideoPortUpdate keep;
  keep.nCommand = VPU_KEEP;
  EXPECT_TRUE(port.UpdateVideoPort(keep));
  for (int command : {0, 6, -1}) {
    TVideoPortUpdate u;
    u.nCommand = command;
    EXPECT_FALSE(port.UpdateVideoPort(u)) << command;
  }
  EXPECT_EQ(port.FrontBitmap(), before);
  EXPECT_EQ(keep.bSizeChanged, 0);
}

TEST_F(VideoPortTest, ResetGivesOneByOnePicturesAndReportsASizeChange) {
  Load();
  TVideoPortUpdate turn = OrientUpdate(ORIENT_ROTATE_180, false);
  ASSERT_TRUE(port.UpdateVideoPort(turn));
  TVideoPortUpdate reset;
  reset.nCommand = VPU_RESET;
  reset.bResetOrientation = 1;
  reset.bResetBitmaps = 1;
  ASSERT_TRUE(port.UpdateVideoPort(reset));
  EXPECT_EQ(reset.bSizeChanged, 1);
  EXPECT_EQ(port.Orientation(), ORIENT_IDENTITY);
  EXPECT_EQ(port.FrontBitmap()->Width(), 1);
  EXPECT_EQ(port.FrontBitmap()->Height(), 1);
}

TEST_F(VideoPortTest, RenderedSectionsKeepTheirPictureInEitherRowOrder) {
  for (bool topDown : {false, true}) {
    for (int bits : {24, 32}) {
      Dib::TDibSection section;
      section.header.biWidth = 3;
      section.header.biHeight = topDown ? -2 : 2;
      section.header.biBitCount = static_cast<std::uint16_t>(bits);
      section.bits.assign(section.Stride() * 2, 0);
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
          const std::uint32_t v = Pattern(x, y);
          std::memcpy(section.RowFromTop(y) + x * (bits / 8), &v, static_cast<std::size_t>(bits / 8));
        }
      TVideoPortUpdate u;
      u.nCommand = VPU_RENDER_BITMAP;
      u.pSourceBitmap = &section;
      u.bSwap = 1;
      ASSERT_TRUE(port.UpdateVideoPort(u)) << bits << (topDown ? " top-down" : " bottom-up");
      auto front = port.FrontBitmap();
      ASSERT_EQ(front->Width(), 3);
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
          std::uint32_t shown = 0;
          std::memcpy(&shown, front->RowFromTop(y) + x * 4, 4);
          EXPECT_EQ(shown & 0xFFFFFFu, Pattern(x, y) & 0xFFFFFFu)
              << bits << (topDown ? " top-down " : " bottom-up ") << x << ", " << y;
        }
    }
  }
  // A section whose rows are missing is refused.
  Dib::TDibSection shortSection;
  shortSection.header.biWidth = 3;
  shortSection.header.biHeight = 2;
  shortSection.header.biBitCount = 32;
  shortSection.bits.assign(12, 0);
  TVideoPortUpdate bad;
  bad.nCommand = VPU_RENDER_BITMAP;
  bad.pSourceBitmap = &shortSection;
  bad.bSwap = 1;
  EXPECT_FALSE(port.UpdateVideoPort(bad));
}

TEST(VideoPortHubTest, UpdatesReachTheNamedPortOnly) {
  VideoPortHub::CVideoPortHub hub;
  ASSERT_TRUE(hub.ResetAll());
  TTestFrame t = MakeFrame(32, 3, 2, 12);
  TVideoPortUpdate u = CopyUpdate(&t.frame);
  u.nPortIndex = 2;
  ASSERT_TRUE(hub.UpdatePort(u));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(hub.Port(i).FrontBitmap()->Width(), i == 2 ? 3 : 1) << i;
  for (int index : {-1, 4}) {
    TVideoPortUpdate bad = CopyUpdate(&t.frame);
    bad.nPortIndex = index;
    EXPECT_FALSE(hub.UpdatePort(bad)) << index;
  }
}

TEST(VideoPortConcurrency, HeldPicturesNeverChangeWhileAWorkerDeliversFrames) {
  CVideoPort port;
  ASSERT_TRUE(port.ResetBitmaps(32));
  std::atomic<bool> stop{false};
  std::atomic<int> delivered{0};
  std::thread worker([&] {
    std::uint32_t colour = 1;
    while (!stop.load()) {
      // Mostly one size, so the writer reuses its pictures; now and then
      // another size, so pictures are also re-created while held.
      const int w = (colour / 8) % 2 ? 64 : 48;
      TTestFrame t = MakeSolidFrame32(w, 32, colour);
      TVideoPortUpdate u = CopyUpdate(&t.frame);
      if (port.UpdateVideoPort(u)) ++delivered;
      if (colour % 4 == 0) {
        TVideoPortUpdate turn = OrientUpdate(ORIENT_ROTATE_180, false);
        if (port.UpdateVideoPort(turn)) ++delivered;
      }
      ++colour;
    }
  });
  // Each picture is held while the worker swaps at least three more times,
  // so every picture the port owns is drawn again meanwhile: a writer that
  // drew into a held picture would change it.
  // Failures are noted and the worker joined before anything is asserted.
  std::string failure;
  for (int round = 0; round < 100 && failure.empty(); ++round) {
    auto picture = port.FrontBitmap();
    if (!picture) {
      failure = "no front picture in round " + std::to_string(round);
      break;
    }
    const std::uint32_t first = PixelAt(*picture, 0, 0);
    const std::vector<std::uint8_t> copy(picture->bits);
    const int target = delivered.load() + 3;
    while (delivered.load() < target) std::this_thread::yield();
    for (int y = 0; y < picture->Height() && failure.empty(); ++y)
      for (int x = 0; x < picture->Width() && failure.empty(); ++x)
        if (PixelAt(*picture, x, y) != first)
          failure = "pixel " + std::to_string(x) + "," + std::to_string(y) + " changed in round " +
                    std::to_string(round);
    if (failure.empty() && copy != picture->bits)
      failure = "the held picture changed in round " + std::to_string(round);
  }
  stop = true;
  worker.join();
  EXPECT_EQ(failure, "");
}
