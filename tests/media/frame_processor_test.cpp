// The frame ring queue and frame processor: frame layouts, allocation, the
// result codes of scenes, frames, claims and releases, notices that do not
// fit, and two threads passing numbered frames through the processor.

#include "media/frame_processor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "io/media_request.h"
#include "platform/message_sink.h"

namespace {

using namespace ZarnTypes;
using FrameProcessor::CFrameProcessor;
using FrameRingQueue::CFrameRingQueue;
using FrameRingQueue::TFrameReadout;
using TClock = std::chrono::steady_clock;

constexpr std::int32_t kWriter = 1;
constexpr std::int32_t kReader = 1;
constexpr std::int32_t kSource = 41;

// Byte i of frame `id`: differs from frame to frame and along the frame.
std::uint8_t PatternByte(std::uint32_t id, std::size_t i) {
  std::uint32_t x = (id + 1) * 2654435761u + static_cast<std::uint32_t>(i) * 40503u;
  x ^= x >> 13;
  return static_cast<std::uint8_t>(x ^ (x >> 7));
}

void Fill(std::vector<std::uint8_t>& bytes, std::uint32_t id, std::size_t salt = 0) {
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = PatternByte(id, i + salt);
}

bool HoldsPattern(const std::uint8_t* p, std::size_t n, std::uint32_t id, std::size_t salt = 0) {
  for (std::size_t i = 0; i < n; ++i)
    if (p[i] != PatternByte(id, i + salt)) return false;
  return true;
}

// A producer's frame: its bytes, with the sizes given by hand, and the
// notice that describes them.
struct TTestFrame {
  TPixelFormat format = TPixelFormat{0};
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> rgb, table, y, cb, cr, yuy2;

  static TTestFrame Rgb(std::int32_t f, std::int32_t w, std::int32_t h, std::size_t bytes,
                        std::size_t tableBytes = 0) {
    TTestFrame t{TPixelFormat{f}, w, h};
    t.rgb.resize(bytes);
    t.table.resize(tableBytes);
    return t;
  }
  static TTestFrame Planar(std::int32_t f, std::int32_t w, std::int32_t h, std::size_t ySize,
                           std::size_t chroma) {
    TTestFrame t{TPixelFormat{f}, w, h};
    t.y.resize(ySize);
    t.cb.resize(chroma);
    t.cr.resize(chroma);
    return t;
  }
  static TTestFrame Yuy2(std::int32_t w, std::int32_t h, std::size_t bytes) {
    TTestFrame t{PF_YUY2, w, h};
    t.yuy2.resize(bytes);
    return t;
  }

  // Fills the bytes with frame `id`'s pattern and describes them.
  TMediaFrameNotice Notice(std::uint32_t id) {
    Fill(rgb, id);
    Fill(table, id, 100000);
    Fill(y, id);
    Fill(cb, id, 200000);
    Fill(cr, id, 300000);
    Fill(yuy2, id);
    TMediaFrameNotice n{};
    n.ePixelFormat = format;
    n.nWidth = width;
    n.nHeight = height;
    if (!rgb.empty()) {
      n.pRgbData = rgb.data();
      n.nRgbSize = static_cast<std::int32_t>(rgb.size());
    }
    if (!table.empty()) {
      n.pColourTable = table.data();
      n.nColourTableSize = static_cast<std::int32_t>(table.size());
    }
    if (!y.empty()) {
      n.pY = y.data();
      n.pCb = cb.data();
      n.pCr = cr.data();
      n.nYSize = static_cast<std::int32_t>(y.size());
      n.nCbSize = static_cast<std::int32_t>(cb.size());
      n.nCrSize = static_cast<std::int32_t>(cr.size());
    }
    if (!yuy2.empty()) {
      n.pY = yuy2.data();
      n.nYuy2Size = static_cast<std::int32_t>(yuy2.size());
    }
    n.dTime = id / 30.0;
    n.nFrameNumber = 1000000000000LL + id;
    return n;
  }
};

// The small frame most tests pass: 32-bit RGB, 4 x 2 pixels, 32 bytes.
TTestFrame SmallFrame() { return TTestFrame::Rgb(PF_RGB32, 4, 2, 32); }

// True when the readout carries small frame `id`, stored as input `stored`.
::testing::AssertionResult CarriesFrame(const TFrameReadout& out, std::uint32_t id, std::int32_t stored) {
  if (out.notice.nFrameNumber != 1000000000000LL + id)
    return ::testing::AssertionFailure() << "frame number " << out.notice.nFrameNumber << " for frame " << id;
  if (out.nFrameNumber != stored)
    return ::testing::AssertionFailure() << "input count " << out.nFrameNumber << ", expected " << stored;
  if (out.dTime != id / 30.0 || out.notice.dTime != id / 30.0)
    return ::testing::AssertionFailure() << "time " << out.dTime << " for frame " << id;
  if (out.notice.pRgbData != out.pData || out.notice.nRgbSize != 32 || !HoldsPattern(out.pData, 32, id))
    return ::testing::AssertionFailure() << "the bytes of frame " << id << " are not intact";
  return ::testing::AssertionSuccess();
}

// A queue of small frames with the given rings.
void Prepare(CFrameRingQueue& q, std::int32_t scenes, std::int32_t frames) {
  ASSERT_TRUE(q.SetFrameFormat(4, 2, PF_RGB32));
  ASSERT_TRUE(q.AllocateBuffers(scenes, frames));
}

// ---------------------------------------------------------------------------
// Layouts and allocation

TEST(FrameRingQueue, SetFrameFormatLaysOneFrameOut) {
  struct TCase {
    std::int32_t format, width, height;
    bool ok;
    std::int32_t frameSize, tableBytes;
  };
  const TCase cases[] = {
      {PF_RGB32, 4, 2, true, 32, 0},
      {PF_RGB24, 3, 2, true, 24, 0},      // rows of 9 bytes padded to 12
      {PF_PACKED_24, 3, 2, true, 18, 0},  // packed rows are not padded
      {PF_PACKED_48, 1, 3, true, 18, 0},
      {PF_DIB_16, 3, 1, true, 8, 0},
      {PF_DIB_48, 1, 1, true, 8, 0},
      {PF_DIB_1, 9, 2, true, 8 + 12, 12},
      {PF_DIB_4, 3, 1, true, 4 + 68, 68},
      {PF_DIB_8, 5, 1, true, 8 + 1028, 1028},
      {PF_YUV444_601, 3, 2, true, 8 + 8 + 8, 0},   // 4 x 2 aligned
      {PF_YUV420_601, 5, 3, true, 24 + 6 + 6, 0},  // 6 x 4 aligned
      {PF_YCBCR_FIRST + 14, 5, 3, true, 24 + 6 + 6, 0},
      {PF_YUY2, 5, 2, true, 32, 0},  // 8 x 2 aligned, two bytes a pixel
      {PF_DIB_2, 4, 2, false, 0, 0},
      {PF_YUV444_JPEG, 4, 2, false, 0, 0},
      {PF_YUV444_709, 4, 2, false, 0, 0},
      {PF_BMP, 4, 2, false, 0, 0},
      {PF_PACKED_16, 4, 2, false, 0, 0},
      {PF_AYUV, 4, 2, false, 0, 0},
      {PF_RGB32, 0, 2, false, 0, 0},
      {PF_RGB32, 4, -1, false, 0, 0},
      {PF_RGB32, 1 << 20, 1 << 12, false, 0, 0},  // 16 GiB
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "format " << c.format << ", " << c.width << " x " << c.height);
    CFrameRingQueue q;
    ASSERT_TRUE(q.SetFrameFormat(2, 2, PF_RGB24));  // what a refusal must leave alone
    EXPECT_EQ(q.SetFrameFormat(c.width, c.height, TPixelFormat{c.format}), c.ok);
    if (c.ok) {
      EXPECT_EQ(q.GetPixelFormat(), c.format);
      EXPECT_EQ(q.GetWidth(), c.width);
      EXPECT_EQ(q.GetHeight(), c.height);
      EXPECT_EQ(q.GetFrameSize(), c.frameSize);
      EXPECT_EQ(q.GetColourTableBytes(), c.tableBytes);
    } else {
      EXPECT_EQ(q.GetPixelFormat(), PF_RGB24);
      EXPECT_EQ(q.GetWidth(), 2);
      EXPECT_EQ(q.GetFrameSize(), 16);  // 2 x 2 RGB24: rows of 6 bytes padded to 8
    }
  }
}

TEST(FrameRingQueue, NewQueueHasItsSettingsAndEmptyTables) {
  CFrameRingQueue q;
  EXPECT_EQ(q.GetSceneCapacitySetting(), 100);
  EXPECT_EQ(q.GetFrameCapacitySetting(), 30);
  EXPECT_EQ(q.SceneRing().GetSize(), 0);
  EXPECT_EQ(q.FrameRing().GetSize(), 0);
  for (std::int32_t n : {1, 2, 255}) {
    EXPECT_EQ(q.WriterSceneSlot(n), -1);
    EXPECT_EQ(q.ReaderSceneSlot(n), -1);
    EXPECT_EQ(q.FramesRemaining(n), 0);
  }
}

TEST(FrameRingQueue, AllocateBuffersCutsOneBlockIntoSlots) {
  CFrameRingQueue q;
  ASSERT_TRUE(q.SetFrameFormat(5, 1, PF_DIB_8));  // 8 bytes of bits + 1,028 of colour table
  ASSERT_TRUE(q.AllocateBuffers(100, 90));
  EXPECT_EQ(q.SceneRing().GetCapacity(), 100);
  EXPECT_EQ(q.SceneRing().GetSize(), 101);
  EXPECT_EQ(q.FrameRing().GetCapacity(), 90);
  EXPECT_EQ(q.FrameRing().GetSize(), 91);
  for (std::int32_t i = 0; i < 91; ++i) {
    const TDataFrame* f = q.FrameRing().SlotAt(i);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->pData, q.FrameBuffer() + i * 1036) << "slot " << i;
    EXPECT_EQ(f->nFrameNumber, 0);
    EXPECT_EQ(f->nFrameNumber64, 0);
  }
  for (std::int32_t s = 0; s < 101; ++s) EXPECT_EQ(q.SceneRing().SlotAt(s)->nFrameCapacity, 0);
  // Changing the size now would cut frames larger than the slots.
  EXPECT_FALSE(q.SetFrameFormat(640, 480, PF_DIB_8));
  EXPECT_EQ(q.GetFrameSize(), 1036);
  q.FreeBuffers();
  q.FreeBuffers();  // twice is harmless
  EXPECT_EQ(q.FrameBuffer(), nullptr);
  EXPECT_EQ(q.SceneRing().GetSize(), 0);
  EXPECT_TRUE(q.SetFrameFormat(640, 480, PF_DIB_8));
}

TEST(FrameRingQueue, AllocateBuffersRefusalsLeaveNoStorage) {
  struct TCase {
    const char* name;
    bool format;
    std::int32_t scenes, frames;
    std::uint64_t limit;
    bool message;
  };
  // 32-byte frames: 91 slots take 2,912 bytes.
  const TCase cases[] = {
      {"no frame format", false, 100, 90, 0, false},
      {"negative scene count", true, -1, 90, 0, false},
      {"negative frame count", true, 100, -1, 0, false},
      {"frames beyond the memory limit", true, 100, 90, 2000, true},
      {"records beyond the memory limit", true, 100000, 90, 4000, true},
      {"2^31 slots of 1 GiB frames", true, 100, 0x7fffffff, 0, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    platform::TRecordingMessageSink sink;
    platform::TScopedMessageSink scope{&sink};
    CFrameRingQueue q;
    if (c.format) {
      const bool huge = c.frames == 0x7fffffff;
      ASSERT_TRUE(huge ? q.SetFrameFormat(1 << 14, 1 << 14, PF_RGB32) : q.SetFrameFormat(4, 2, PF_RGB32));
    }
    q.SetMemoryLimit(c.limit);
    EXPECT_FALSE(q.AllocateBuffers(c.scenes, c.frames));
    EXPECT_EQ(q.FrameBuffer(), nullptr);
    EXPECT_FALSE(q.SceneRing().HasStorage());
    EXPECT_FALSE(q.FrameRing().HasStorage());
    EXPECT_EQ(q.OpenScene(kWriter, kSource, 0, 1), FrameRingQueue::FQ_REFUSED);
    EXPECT_EQ(q.ClaimScene(kReader), FrameRingQueue::FQ_NO_STORAGE);
    const std::vector<std::string> expected =
        c.message ? std::vector<std::string>{"Can not allocate memory for frame buffer"}
                  : std::vector<std::string>{};
    EXPECT_EQ(sink.Texts(), expected);
  }
}

// ---------------------------------------------------------------------------
// Scenes

TEST(FrameRingQueue, OpenSceneReservesSlotsUntilTheRingsAreFull) {
  struct TStep {
    std::int32_t writer, frames, code, firstSlot;
  };
  struct TCase {
    const char* name;
    std::int32_t scenes, frames;
    std::vector<TStep> steps;
  };
  const TCase cases[] = {
      {"90 frame slots hold three scenes of 30; a fourth finds too few slots",
       100,
       90,
       {{1, 30, 1, 0}, {1, 30, 1, 30}, {1, 30, 1, 60}, {1, 30, 8, -1}, {1, 1, 8, -1}}},
      {"the scene ring fills first", 2, 90, {{1, 30, 1, 0}, {2, 30, 1, 30}, {1, 30, 7, -1}}},
      {"a scene larger than the frame ring", 100, 20, {{1, 21, 8, -1}, {1, 20, 1, 0}}},
      {"no frames, and numbers outside 1..255",
       100,
       90,
       {{1, 0, 0, -1}, {1, -3, 0, -1}, {0, 30, 0, -1}, {256, 30, 0, -1}, {-1, 30, 0, -1}, {255, 30, 1, 0}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    CFrameRingQueue q;
    Prepare(q, c.scenes, c.frames);
    std::int32_t number = 7;
    for (const TStep& s : c.steps) {
      SCOPED_TRACE(::testing::Message() << "writer " << s.writer << ", " << s.frames << " frames");
      const std::int32_t sceneSlot = q.SceneRing().GetWriteIndex();
      const std::int32_t before = q.WriterSceneSlot(s.writer);
      EXPECT_EQ(q.OpenScene(s.writer, kSource, number, s.frames), s.code);
      if (s.code != 1) {
        EXPECT_EQ(q.WriterSceneSlot(s.writer), before);
        continue;
      }
      EXPECT_EQ(q.WriterSceneSlot(s.writer), sceneSlot);
      const TFrameScene& scene = *q.SceneRing().SlotAt(sceneSlot);
      const std::int32_t expected[12] = {kSource, s.writer,     s.writer, 0, PF_RGB32, number,
                                         0,       s.frames - 1, s.frames, 0, 0,        s.firstSlot};
      EXPECT_EQ(std::memcmp(&scene, expected, sizeof expected), 0);
      ++number;
    }
  }
}

// One step of a writer/reader sequence and the code it must give.
struct TOp {
  const char* what;
  std::function<std::int32_t()> run;
  std::int32_t code;
};

void RunOps(const std::vector<TOp>& ops) {
  for (std::size_t i = 0; i < ops.size(); ++i) {
    SCOPED_TRACE(::testing::Message() << "step " << i << ": " << ops[i].what);
    EXPECT_EQ(ops[i].run(), ops[i].code);
  }
}

TEST(FrameRingQueue, WriteReadClaimAndReleaseCodes) {
  CFrameRingQueue q;
  Prepare(q, 100, 90);
  TTestFrame frame = SmallFrame();
  TFrameReadout out;
  std::uint32_t nextId = 0;
  auto write = [&] {
    const std::int32_t code =
        q.WriteFrame(kWriter, frame.Notice(nextId), static_cast<std::int32_t>(nextId), 0);
    if (code == 1) ++nextId;
    return code;
  };
  auto read = [&] { return q.ReadFrame(kReader, out); };
  auto claim = [&] { return q.ClaimScene(kReader); };
  auto open = [&] { return q.OpenScene(kWriter, kSource, 0, 3); };
  auto release = [&] { return q.ReleaseScenes(); };
  auto slotOfReader = [&] { return q.ReaderSceneSlot(kReader); };
  auto remaining = [&] { return q.FramesRemaining(kReader); };
  RunOps({
      {"write without a scene", write, 10},
      {"read without a scene", read, 10},
      {"claim with no scene in the ring", claim, 9},
      {"open a scene of 3", open, 1},
      {"claim the scene still being written", claim, 1},
      {"claim again while holding it", claim, 0},
      {"read before anything is written", read, 3},
      {"the reader keeps its scene", slotOfReader, 0},
      {"write frame 0", write, 1},
      {"read frame 0", read, 1},
      {"one frame was there to read", remaining, 1},
      {"read ahead of the writer", read, 3},
      {"nothing remains", remaining, 0},
      {"write frame 1", write, 1},
      {"write frame 2", write, 1},
      {"write into the full scene", write, 2},
      {"read frame 1", read, 1},
      {"two frames were there", remaining, 2},
      {"read frame 2", read, 1},
      {"read past the scene", read, 4},
      {"nothing remains", remaining, 0},
      {"release: the writer has the scene open, the reader holds it", release, 0},
      {"the reader gives it up", [&] { return static_cast<std::int32_t>(q.GiveUpReaderScene(kReader)); }, 1},
      {"release: the writer still has it open", release, 0},
      {"a read-out scene is not claimed again", claim, 9},
      {"the writer closes it", [&] { return static_cast<std::int32_t>(q.CloseWriterScene(kWriter)); }, 1},
      {"release: closed and read out", release, 1},
      {"the slots are free again", [&] { return q.FrameRing().GetCount(); }, 0},
      {"nothing left to claim", claim, 9},
      {"the writer has no scene", write, 10},
  });
  EXPECT_EQ(out.nFrameSlot, 2);
  EXPECT_EQ(out.nPosition, 2);
  EXPECT_TRUE(CarriesFrame(out, 2, 2));
}

TEST(FrameRingQueue, ReaderClaimsOnlyWriterOnesScenesInOrder) {
  CFrameRingQueue q;
  Prepare(q, 100, 90);
  ASSERT_EQ(q.OpenScene(2, kSource, 0, 10), 1);  // slot 0: another writer's
  ASSERT_EQ(q.OpenScene(1, kSource, 0, 10), 1);  // slot 1
  ASSERT_EQ(q.OpenScene(1, kSource, 1, 10), 1);  // slot 2
  EXPECT_EQ(q.ClaimScene(1), 1);
  EXPECT_EQ(q.ReaderSceneSlot(1), 1);
  EXPECT_EQ(q.ClaimScene(2), 1);  // a second reader takes the next one
  EXPECT_EQ(q.ReaderSceneSlot(2), 2);
  EXPECT_EQ(q.ClaimScene(3), 9);
}

TEST(FrameRingQueue, ScenesAreReleasedOnlyWhenClosedAndReadOut) {
  struct TCase {
    const char* name;
    bool closeFirst, readOutFirst, closeSecond, readOutSecond;
    std::int32_t released;
  };
  const TCase cases[] = {
      {"neither", false, false, false, false, 0},
      {"closed, still claimed", true, false, false, false, 0},
      {"read out, still open", false, true, false, false, 0},
      {"closed and read out", true, true, false, false, 1},
      {"both done", true, true, true, true, 2},
      {"the second done behind an unfinished first", false, true, true, true, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    CFrameRingQueue q;
    Prepare(q, 100, 90);
    TTestFrame frame = SmallFrame();
    TFrameReadout out;
    // Two scenes of 2 frames, filled by writer 1 and read by reader 1. A
    // scene the writer does not close stays open: its next scene takes the
    // writer's entry.
    for (std::int32_t s = 0; s < 2; ++s) {
      ASSERT_EQ(q.OpenScene(kWriter, kSource, s, 2), 1);
      ASSERT_EQ(q.WriteFrame(kWriter, frame.Notice(0), 0, s), 1);
      ASSERT_EQ(q.WriteFrame(kWriter, frame.Notice(1), 1, s), 1);
      if (s == 0 ? c.closeFirst : c.closeSecond) {
        ASSERT_TRUE(q.CloseWriterScene(kWriter));
      }
    }
    for (std::int32_t s = 0; s < 2; ++s) {
      const bool readOut = s == 0 ? c.readOutFirst : c.readOutSecond;
      ASSERT_EQ(q.ClaimScene(kReader), 1);
      if (!readOut) break;  // the reader keeps this scene claimed
      ASSERT_EQ(q.ReadFrame(kReader, out), 1);
      ASSERT_EQ(q.ReadFrame(kReader, out), 1);
      ASSERT_EQ(q.ReadFrame(kReader, out), 4);
      ASSERT_TRUE(q.GiveUpReaderScene(kReader));
    }
    EXPECT_EQ(q.ReleaseScenes(), c.released);
    EXPECT_EQ(q.SceneRing().GetCount(), 2 - c.released);
    EXPECT_EQ(q.FrameRing().GetCount(), 4 - 2 * c.released);
    EXPECT_EQ(q.FrameRing().GetReadIndex(), 2 * c.released);
  }
}

// ---------------------------------------------------------------------------
// Frames by format

TEST(FrameRingQueue, FramesOfEveryLayoutComeOutAsTheyWentIn) {
  struct TCase {
    const char* name;
    TTestFrame frame;
    std::int32_t frameSize;
  };
  const TCase cases[] = {
      {"32-bit RGB", TTestFrame::Rgb(PF_RGB32, 4, 2, 32), 32},
      {"24-bit RGB, padded rows", TTestFrame::Rgb(PF_RGB24, 3, 2, 24), 24},
      {"packed 24-bit rows", TTestFrame::Rgb(PF_PACKED_24, 3, 2, 18), 18},
      {"8-bit DIB with a full palette", TTestFrame::Rgb(PF_DIB_8, 5, 1, 8, 1028), 1036},
      {"8-bit DIB with three colours", TTestFrame::Rgb(PF_DIB_8, 5, 1, 8, 16), 1036},
      {"1-bit DIB", TTestFrame::Rgb(PF_DIB_1, 9, 2, 8, 12), 20},
      {"planar 4:2:0", TTestFrame::Planar(PF_YUV420_601, 5, 3, 24, 6), 36},
      {"planar 4:4:4", TTestFrame::Planar(PF_YUV444_601, 3, 2, 8, 8), 24},
      {"a planar file layout", TTestFrame::Planar(PF_YCBCR_FIRST + 14, 5, 3, 24, 6), 36},
      {"YUY2", TTestFrame::Yuy2(5, 2, 32), 32},
  };
  for (const TCase& c0 : cases) {
    SCOPED_TRACE(c0.name);
    TTestFrame frame = c0.frame;
    CFrameRingQueue q;
    ASSERT_TRUE(q.SetFrameFormat(frame.width, frame.height, frame.format));
    ASSERT_EQ(q.GetFrameSize(), c0.frameSize);
    ASSERT_TRUE(q.AllocateBuffers(10, 5));
    ASSERT_EQ(q.OpenScene(kWriter, kSource, 4, 5), 1);
    ASSERT_EQ(q.ClaimScene(kReader), 1);
    for (std::uint32_t id : {7u, 8u}) {
      ASSERT_EQ(q.WriteFrame(kWriter, frame.Notice(id), static_cast<std::int32_t>(id) + 100, 4), 1);
      TFrameReadout out;
      ASSERT_EQ(q.ReadFrame(kReader, out), 1);
      const TMediaFrameNotice& n = out.notice;
      EXPECT_EQ(out.nFrameNumber, static_cast<std::int32_t>(id) + 100);
      EXPECT_EQ(out.pData, q.FrameRing().SlotAt(out.nFrameSlot)->pData);
      EXPECT_EQ(q.FrameRing().SlotAt(out.nFrameSlot)->nSceneNumber, 4);
      EXPECT_EQ(n.ePixelFormat, frame.format);
      EXPECT_EQ(n.nWidth, frame.width);
      EXPECT_EQ(n.nHeight, frame.height);
      EXPECT_EQ(n.dTime, id / 30.0);
      EXPECT_EQ(n.nFrameNumber, 1000000000000LL + id);
      if (!frame.rgb.empty()) {
        EXPECT_EQ(n.pRgbData, out.pData);
        EXPECT_EQ(n.nRgbSize, static_cast<std::int32_t>(frame.rgb.size()));
        EXPECT_TRUE(HoldsPattern(n.pRgbData, frame.rgb.size(), id));
        EXPECT_EQ(n.pFrameRecord, &q.FrameLayout());
      }
      if (!frame.table.empty()) {
        EXPECT_EQ(n.pColourTable, out.pData + frame.rgb.size());
        EXPECT_EQ(n.nColourTableSize, q.GetColourTableBytes());
        EXPECT_TRUE(HoldsPattern(n.pColourTable, frame.table.size(), id, 100000));
        for (std::int32_t i = static_cast<std::int32_t>(frame.table.size()); i < n.nColourTableSize; ++i)
          ASSERT_EQ(n.pColourTable[i], 0) << "colour-table byte " << i << " beyond the given palette";
      }
      if (!frame.y.empty()) {
        EXPECT_EQ(n.pY, out.pData);
        EXPECT_EQ(n.pCb, out.pData + frame.y.size());
        EXPECT_EQ(n.pCr, n.pCb + frame.cb.size());
        EXPECT_EQ(n.nYSize, static_cast<std::int32_t>(frame.y.size()));
        EXPECT_EQ(n.nCbSize, static_cast<std::int32_t>(frame.cb.size()));
        EXPECT_EQ(n.nCrSize, static_cast<std::int32_t>(frame.cr.size()));
        EXPECT_TRUE(HoldsPattern(n.pY, frame.y.size(), id));
        EXPECT_TRUE(HoldsPattern(n.pCb, frame.cb.size(), id, 200000));
        EXPECT_TRUE(HoldsPattern(n.pCr, frame.cr.size(), id, 300000));
        EXPECT_EQ(n.pPlanarRecord, &q.YuvLayout());
      }
      if (!frame.yuy2.empty()) {
        EXPECT_EQ(n.pY, out.pData);
        EXPECT_EQ(n.nYuy2Size, static_cast<std::int32_t>(frame.yuy2.size()));
        EXPECT_TRUE(HoldsPattern(n.pY, frame.yuy2.size(), id));
        EXPECT_EQ(n.pPlanarRecord, &q.YuvLayout());
      }
    }
  }
}

TEST(FrameRingQueue, NoticesThatDoNotFitAreRefusedAndCounted) {
  struct TCase {
    const char* name;
    TTestFrame frame;
    std::function<void(TMediaFrameNotice&)> spoil;
  };
  const TCase cases[] = {
      {"another format", SmallFrame(), [](TMediaFrameNotice& n) { n.ePixelFormat = PF_RGB24; }},
      {"another width", SmallFrame(), [](TMediaFrameNotice& n) { n.nWidth = 8; }},
      {"another height", SmallFrame(), [](TMediaFrameNotice& n) { n.nHeight = 1; }},
      {"more bytes than the slot", SmallFrame(), [](TMediaFrameNotice& n) { n.nRgbSize = 64; }},
      {"fewer bytes than a frame", SmallFrame(), [](TMediaFrameNotice& n) { n.nRgbSize = 31; }},
      {"negative byte count", SmallFrame(), [](TMediaFrameNotice& n) { n.nRgbSize = -32; }},
      {"no data", SmallFrame(), [](TMediaFrameNotice& n) { n.pRgbData = nullptr; }},
      {"a palette larger than its table", TTestFrame::Rgb(PF_DIB_8, 5, 1, 8, 1032), {}},
      {"no palette", TTestFrame::Rgb(PF_DIB_8, 5, 1, 8, 16),
       [](TMediaFrameNotice& n) { n.pColourTable = nullptr; }},
      {"a luma plane of another size", TTestFrame::Planar(PF_YUV420_601, 5, 3, 25, 6), {}},
      {"a chroma plane of another size", TTestFrame::Planar(PF_YUV420_601, 5, 3, 24, 7), {}},
      {"no plane sizes", TTestFrame::Planar(PF_YUV420_601, 5, 3, 24, 6),
       [](TMediaFrameNotice& n) { n.nYSize = n.nCbSize = n.nCrSize = 0; }},
      {"a missing chroma plane", TTestFrame::Planar(PF_YUV420_601, 5, 3, 24, 6),
       [](TMediaFrameNotice& n) { n.pCr = nullptr; }},
      {"a YUY2 frame larger than the slot", TTestFrame::Yuy2(5, 2, 40), {}},
  };
  for (const TCase& c0 : cases) {
    SCOPED_TRACE(c0.name);
    TTestFrame frame = c0.frame;
    // The queue is laid out for the frame's format and size; the notice's
    // byte counts are the case's.
    CFrameProcessor p;
    ASSERT_TRUE(p.SetFrameFormat(frame.width, frame.height, frame.format));
    ASSERT_TRUE(p.AllocateBuffers(100, 90));
    ASSERT_TRUE(p.Start(kWriter, kSource, nullptr));
    TMediaFrameNotice n = frame.Notice(3);
    if (c0.spoil) c0.spoil(n);
    EXPECT_EQ(p.WriteFrame(kWriter, n, 0, 0), FrameRingQueue::FQ_REFUSED);
    EXPECT_FALSE(p.PushFrame(kWriter, kSource, n));
    EXPECT_EQ(p.GetFramesIn(), 0);
    EXPECT_EQ(p.GetFramesSkipped(), 1);
    EXPECT_EQ(p.SceneRing().SlotAt(0)->nWritten, 0);
    TFrameReadout out;
    EXPECT_FALSE(p.PullFrame(kReader, out));
    p.Close();
  }
}

// ---------------------------------------------------------------------------
// The processor on one thread

TEST(FrameProcessor, StartNeedsStorageAndCloseAlwaysPrintsTheCounters) {
  struct TCase {
    const char* name;
    bool allocate;
    std::int32_t frames;  // frame slots
    int goodPushes, badPushes;
    bool started;
    const char* printed;
  };
  const TCase cases[] = {
      {"never allocated", false, 90, 0, 0, false, "Frame processor FramesIn = 0  FrameIn_Skip = 0 \n"},
      {"a ring smaller than a scene", true, 29, 0, 0, false,
       "Frame processor FramesIn = 0  FrameIn_Skip = 0 \n"},
      {"frames stored and refused", true, 90, 5, 2, true,
       "Frame processor FramesIn = 5  FrameIn_Skip = 2 \n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    CFrameProcessor p;
    ASSERT_TRUE(p.SetFrameFormat(4, 2, PF_RGB32));
    if (c.allocate) {
      ASSERT_TRUE(p.AllocateBuffers(100, c.frames));
    }
    EXPECT_EQ(p.Start(kWriter, kSource, nullptr), c.started);
    TTestFrame frame = SmallFrame();
    for (int i = 0; i < c.goodPushes; ++i) EXPECT_TRUE(p.PushFrame(kWriter, kSource, frame.Notice(i)));
    for (int i = 0; i < c.badPushes; ++i) {
      TMediaFrameNotice n = frame.Notice(i);
      n.nWidth = 3;
      EXPECT_FALSE(p.PushFrame(kWriter, kSource, n));
    }
    ::testing::internal::CaptureStdout();
    p.Close();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.printed);
    EXPECT_TRUE(p.StopRequested());
    EXPECT_EQ(p.FrameBuffer(), nullptr);
    EXPECT_FALSE(p.PushFrame(kWriter, kSource, frame.Notice(99)));
  }
}

TEST(FrameProcessor, AFourthSceneIsDroppedAndCountedWithoutBlocking) {
  CFrameProcessor p;
  Prepare(p, 100, 90);
  ASSERT_TRUE(p.Start(kWriter, kSource, nullptr));
  EXPECT_EQ(p.GetFramesPerScene(), 30);
  EXPECT_FALSE(p.IsBlocking());
  TTestFrame frame = SmallFrame();
  for (std::uint32_t id = 0; id < 90; ++id) ASSERT_TRUE(p.PushFrame(kWriter, kSource, frame.Notice(id)));
  EXPECT_EQ(p.GetCurrentScene(), 2);
  // Three scenes fill the 90 slots: every further frame is dropped at once.
  for (std::uint32_t id = 90; id < 95; ++id) EXPECT_FALSE(p.PushFrame(kWriter, kSource, frame.Notice(id)));
  EXPECT_EQ(p.GetFramesIn(), 90);
  EXPECT_EQ(p.GetFramesSkipped(), 5);
  TFrameReadout out;
  for (std::uint32_t id = 0; id < 90; ++id) {
    ASSERT_TRUE(p.PullFrame(kReader, out)) << "frame " << id;
    ASSERT_TRUE(CarriesFrame(out, id, static_cast<std::int32_t>(id)));
  }
  EXPECT_FALSE(p.PullFrame(kReader, out));
  // The scenes went back to the rings as they were read out: frames are
  // stored again, numbered on from the input count.
  ASSERT_TRUE(p.PushFrame(kWriter, kSource, frame.Notice(95)));
  ASSERT_TRUE(p.PullFrame(kReader, out));
  EXPECT_TRUE(CarriesFrame(out, 95, 90));
  EXPECT_EQ(p.GetFramesSkipped(), 5);
}

TEST(FrameProcessor, AReaderAheadOfTheWriterKeepsItsScene) {
  CFrameProcessor p;
  Prepare(p, 100, 90);
  ASSERT_TRUE(p.Start(kWriter, kSource, nullptr));
  TTestFrame frame = SmallFrame();
  TFrameReadout out;
  EXPECT_FALSE(p.PullFrame(kReader, out));  // claims the first scene, finds nothing
  const std::int32_t slot = p.ReaderSceneSlot(kReader);
  EXPECT_EQ(slot, 0);
  ASSERT_TRUE(p.PushFrame(kWriter, kSource, frame.Notice(0)));
  ASSERT_TRUE(p.PullFrame(kReader, out));
  EXPECT_TRUE(CarriesFrame(out, 0, 0));
  EXPECT_FALSE(p.PullFrame(kReader, out));
  EXPECT_EQ(p.ReaderSceneSlot(kReader), slot);
  EXPECT_EQ(p.SceneRing().GetCount(), 1);
  EXPECT_EQ(p.SceneRing().SlotAt(slot)->nReader, kReader);
}

TEST(FrameProcessor, ASceneReadOutBeforeItsWriterClosedItIsReleasedOnClosing) {
  // Frame slots for exactly one scene, and a reader that looks for the next
  // frame before it is written: it reads each scene out while its writer
  // still has it open. Closing it must give its slots back, or every later
  // frame is dropped (or, blocking, waits for ever).
  for (bool blocking : {false, true}) {
    SCOPED_TRACE(blocking ? "blocking" : "dropping");
    CFrameProcessor p;
    Prepare(p, 100, 30);
    ASSERT_TRUE(p.Start(kWriter, kSource, nullptr, blocking));
    TTestFrame frame = SmallFrame();
    TFrameReadout out;
    for (std::uint32_t id = 0; id < 300; ++id) {
      std::future<bool> push =
          std::async(std::launch::async, [&] { return p.PushFrame(kWriter, kSource, frame.Notice(id)); });
      if (push.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        p.RequestStop();
        FAIL() << "frame " << id << " waits for room that never comes";
      }
      ASSERT_TRUE(push.get()) << "frame " << id;
      ASSERT_TRUE(p.PullFrame(kReader, out)) << "frame " << id;
      ASSERT_TRUE(CarriesFrame(out, id, static_cast<std::int32_t>(id)));
      ASSERT_FALSE(p.PullFrame(kReader, out));  // ahead of the writer
    }
    EXPECT_EQ(p.GetFramesSkipped(), 0);
    EXPECT_EQ(p.GetCurrentScene(), 9);
  }
}

TEST(FrameProcessor, AStopNeverKeepsTheReaderFromStoredFrames) {
  std::atomic<bool> stop{false};
  CFrameProcessor p;
  Prepare(p, 100, 90);
  ASSERT_TRUE(p.Start(kWriter, kSource, &stop));
  TTestFrame frame = SmallFrame();
  for (std::uint32_t id = 0; id < 70; ++id) ASSERT_TRUE(p.PushFrame(kWriter, kSource, frame.Notice(id)));
  stop = true;
  EXPECT_TRUE(p.StopRequested());
  TFrameReadout out;
  for (std::uint32_t id = 0; id < 70; ++id) {
    ASSERT_TRUE(p.PullFrame(kReader, out, std::chrono::milliseconds(0))) << "frame " << id;
    ASSERT_TRUE(CarriesFrame(out, id, static_cast<std::int32_t>(id)));
  }
  EXPECT_FALSE(p.PullFrame(kReader, out, std::chrono::milliseconds(0)));
}

TEST(FrameProcessor, NumbersOutsideTheTablesAreRefused) {
  CFrameProcessor p;
  Prepare(p, 100, 90);
  TTestFrame frame = SmallFrame();
  for (std::int32_t bad : {0, -1, 256, 100000}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(p.Start(bad, kSource, nullptr));
  }
  ASSERT_TRUE(p.Start(kWriter, kSource, nullptr));
  ASSERT_TRUE(p.PushFrame(kWriter, kSource, frame.Notice(0)));
  int skipped = 0;
  for (std::int32_t bad : {0, -1, 256, 100000}) {
    SCOPED_TRACE(bad);
    TFrameReadout out;
    EXPECT_FALSE(p.PushFrame(bad, kSource, frame.Notice(1)));
    EXPECT_EQ(p.GetFramesSkipped(), ++skipped);
    EXPECT_FALSE(p.PullFrame(bad, out));
    EXPECT_FALSE(p.PullFrame(bad, out, std::chrono::milliseconds(0)));
    EXPECT_EQ(p.WriteFrame(bad, frame.Notice(1), 0, 0), 0);
    EXPECT_EQ(p.ReadFrame(bad, out), 0);
    EXPECT_EQ(p.ClaimScene(bad), 0);
    EXPECT_EQ(p.OpenScene(bad, kSource, 0, 1), 0);
    EXPECT_FALSE(p.CloseWriterScene(bad));
    EXPECT_FALSE(p.GiveUpReaderScene(bad));
  }
  EXPECT_EQ(p.GetFramesIn(), 1);
}

// ---------------------------------------------------------------------------
// Two threads

// Runs `work` on a thread of its own; the result is ready when it ended.
std::future<void> RunAsync(std::function<void()> work) {
  return std::async(std::launch::async, std::move(work));
}

constexpr auto kBound = std::chrono::seconds(60);  // a hang fails instead of blocking the suite

TEST(FrameProcessorThreads, BlockingPassesEveryFrameOnceInOrderIntact) {
  constexpr std::uint32_t kFrames = 100000;
  CFrameProcessor p;
  Prepare(p, 100, 60);  // two scenes: the producer often waits for room
  ASSERT_TRUE(p.Start(kWriter, kSource, nullptr, true));
  std::atomic<std::uint32_t> refused{0};
  std::future<void> producer = RunAsync([&] {
    TTestFrame frame = SmallFrame();
    for (std::uint32_t id = 0; id < kFrames; ++id)
      if (!p.PushFrame(kWriter, kSource, frame.Notice(id))) ++refused;
  });
  std::uint32_t received = 0;
  std::uint32_t wrong = 0;
  const auto end = TClock::now() + kBound;
  TFrameReadout out;
  while (received < kFrames && TClock::now() < end) {
    if (!p.PullFrame(kReader, out, std::chrono::milliseconds(200))) continue;
    if (!CarriesFrame(out, received, static_cast<std::int32_t>(received))) {
      if (++wrong < 5)
        ADD_FAILURE() << CarriesFrame(out, received, static_cast<std::int32_t>(received)).message();
    }
    ++received;
  }
  const bool producerEnded = producer.wait_for(kBound) == std::future_status::ready;
  if (!producerEnded) p.RequestStop();
  ASSERT_TRUE(producerEnded);
  EXPECT_EQ(received, kFrames);
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(refused.load(), 0u);
  EXPECT_EQ(p.GetFramesIn(), static_cast<std::int32_t>(kFrames));
  EXPECT_EQ(p.GetFramesSkipped(), 0);
  EXPECT_FALSE(p.PullFrame(kReader, out));  // each frame once
}

TEST(FrameProcessorThreads, DroppingCountsEveryFrameNotStored) {
  // With nobody reading, 90 slots take three scenes of 30 frames; each of
  // the other frames is dropped and counted.
  CFrameProcessor p;
  Prepare(p, 100, 90);
  ASSERT_TRUE(p.Start(kWriter, kSource, nullptr));
  {
    std::future<void> producer = RunAsync([&] {
      TTestFrame frame = SmallFrame();
      for (std::uint32_t id = 0; id < 200; ++id) p.PushFrame(kWriter, kSource, frame.Notice(id));
    });
    ASSERT_EQ(producer.wait_for(kBound), std::future_status::ready);
  }
  EXPECT_EQ(p.GetFramesIn(), 90);
  EXPECT_EQ(p.GetFramesSkipped(), 110);

  // Then a producer that never waits beside a reader that falls behind now
  // and then: every frame is either read once, in order, or counted.
  constexpr std::uint32_t kFrames = 20000;
  std::vector<std::uint32_t> stored;
  std::atomic<bool> producerDone{false};
  std::future<void> producer = RunAsync([&] {
    TTestFrame frame = SmallFrame();
    for (std::uint32_t id = 200; id < 200 + kFrames; ++id)
      if (p.PushFrame(kWriter, kSource, frame.Notice(id))) stored.push_back(id);
    producerDone = true;
  });
  std::vector<std::uint32_t> read;
  std::uint32_t wrong = 0;
  TFrameReadout out;
  const auto end = TClock::now() + kBound;
  std::int32_t expectedInput = 0;
  while (TClock::now() < end) {
    const bool done = producerDone.load();
    if (p.PullFrame(kReader, out, std::chrono::milliseconds(50))) {
      const auto id = static_cast<std::uint32_t>(out.notice.nFrameNumber - 1000000000000LL);
      if (!CarriesFrame(out, id, expectedInput)) ++wrong;
      ++expectedInput;
      if (id >= 200) read.push_back(id);
      if (read.size() % 1000 == 999) std::this_thread::sleep_for(std::chrono::milliseconds(3));
    } else if (done) {
      break;  // the producer had ended before this pull found nothing
    }
  }
  ASSERT_EQ(producer.wait_for(kBound), std::future_status::ready);
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(read, stored);
  EXPECT_EQ(p.GetFramesIn(), static_cast<std::int32_t>(90 + stored.size()));
  EXPECT_EQ(p.GetFramesSkipped(), static_cast<std::int32_t>(110 + kFrames - stored.size()));
}

// How a stop reaches the processor.
struct TStopWay {
  const char* name;
  std::function<void(CFrameProcessor&, std::atomic<bool>&)> stop;
};
const TStopWay kStopWays[] = {
    {"the external flag", [](CFrameProcessor&, std::atomic<bool>& flag) { flag = true; }},
    {"RequestStop", [](CFrameProcessor& p, std::atomic<bool>&) { p.RequestStop(); }},
};

// Waits up to `bound` for `f`; true when it was ready.
bool ReadyWithin(std::future<bool>& f, std::chrono::milliseconds bound) {
  return f.wait_for(bound) == std::future_status::ready;
}

TEST(FrameProcessorThreads, AStopEndsAPushWaitingForRoomPromptly) {
  for (const TStopWay& way : kStopWays) {
    SCOPED_TRACE(way.name);
    std::atomic<bool> flag{false};
    CFrameProcessor p;
    Prepare(p, 100, 90);
    ASSERT_TRUE(p.Start(kWriter, kSource, &flag, true));
    TTestFrame frame = SmallFrame();
    for (std::uint32_t id = 0; id < 90; ++id) ASSERT_TRUE(p.PushFrame(kWriter, kSource, frame.Notice(id)));
    std::future<bool> push =
        std::async(std::launch::async, [&] { return p.PushFrame(kWriter, kSource, frame.Notice(90)); });
    EXPECT_FALSE(ReadyWithin(push, std::chrono::milliseconds(300))) << "a push into full rings must wait";
    const auto stopped = TClock::now();
    way.stop(p, flag);
    const bool ended = ReadyWithin(push, std::chrono::seconds(5));
    if (!ended) p.RequestStop();
    ASSERT_TRUE(ended);
    EXPECT_LT(TClock::now() - stopped, std::chrono::seconds(1));
    EXPECT_FALSE(push.get());
    EXPECT_EQ(p.GetFramesIn(), 90);
    EXPECT_EQ(p.GetFramesSkipped(), 1);
  }
}

TEST(FrameProcessorThreads, AStopEndsAPullWaitingForAFramePromptly) {
  for (const TStopWay& way : kStopWays) {
    SCOPED_TRACE(way.name);
    std::atomic<bool> flag{false};
    CFrameProcessor p;
    Prepare(p, 100, 90);
    ASSERT_TRUE(p.Start(kWriter, kSource, &flag, true));
    TFrameReadout out;
    std::future<bool> pull =
        std::async(std::launch::async, [&] { return p.PullFrame(kReader, out, std::chrono::seconds(30)); });
    EXPECT_FALSE(ReadyWithin(pull, std::chrono::milliseconds(300))) << "a pull without frames must wait";
    const auto stopped = TClock::now();
    way.stop(p, flag);
    const bool ended = ReadyWithin(pull, std::chrono::seconds(5));
    if (!ended) p.RequestStop();
    ASSERT_TRUE(ended);
    EXPECT_LT(TClock::now() - stopped, std::chrono::seconds(1));
    EXPECT_FALSE(pull.get());
  }
}

TEST(FrameProcessorThreads, WaitsEndAsSoonAsTheirEventComes) {
  CFrameProcessor p;
  Prepare(p, 100, 90);
  ASSERT_TRUE(p.Start(kWriter, kSource, nullptr, true));
  TTestFrame frame = SmallFrame();
  TFrameReadout out;

  // A waiting pull wakes when a frame is stored.
  std::future<bool> pull =
      std::async(std::launch::async, [&] { return p.PullFrame(kReader, out, std::chrono::seconds(30)); });
  EXPECT_FALSE(ReadyWithin(pull, std::chrono::milliseconds(200)));
  auto stored = TClock::now();
  ASSERT_TRUE(p.PushFrame(kWriter, kSource, frame.Notice(0)));
  ASSERT_TRUE(ReadyWithin(pull, std::chrono::seconds(5)));
  EXPECT_LT(TClock::now() - stored, std::chrono::seconds(1));
  ASSERT_TRUE(pull.get());
  EXPECT_TRUE(CarriesFrame(out, 0, 0));

  // A push waiting for room goes on when the reader frees a scene.
  for (std::uint32_t id = 1; id < 90; ++id) ASSERT_TRUE(p.PushFrame(kWriter, kSource, frame.Notice(id)));
  std::future<bool> push =
      std::async(std::launch::async, [&] { return p.PushFrame(kWriter, kSource, frame.Notice(90)); });
  EXPECT_FALSE(ReadyWithin(push, std::chrono::milliseconds(200)));
  for (std::uint32_t id = 1; id < 30; ++id) {
    ASSERT_TRUE(p.PullFrame(kReader, out));
    ASSERT_TRUE(CarriesFrame(out, id, static_cast<std::int32_t>(id)));
  }
  EXPECT_FALSE(ReadyWithin(push, std::chrono::milliseconds(100))) << "no scene is free yet";
  const auto freed = TClock::now();
  ASSERT_TRUE(p.PullFrame(kReader, out));  // gives the first scene back
  ASSERT_TRUE(ReadyWithin(push, std::chrono::seconds(5)));
  EXPECT_LT(TClock::now() - freed, std::chrono::seconds(1));
  EXPECT_TRUE(push.get());
  EXPECT_EQ(p.GetFramesSkipped(), 0);
  for (std::uint32_t id = 31; id <= 90; ++id) {
    ASSERT_TRUE(p.PullFrame(kReader, out));
    ASSERT_TRUE(CarriesFrame(out, id, static_cast<std::int32_t>(id)));
  }
}

}  // namespace
