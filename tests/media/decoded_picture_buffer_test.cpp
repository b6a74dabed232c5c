// The decoded-picture buffer: layouts, allocation limits, scenes, bounded
// copies and the producer's wait for free slots.

#include "media/decoded_picture_buffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "io/media_request.h"
#include "platform/message_sink.h"

namespace {

using namespace ZarnTypes;
using OOVDecodedPictureBuffer::COOVDecodedPictureBuffer;

class DecodedPictureBufferTest : public ::testing::Test {
 protected:
  void Enable(int channel, std::int32_t format, std::int32_t width, std::int32_t height) {
    dpb.m_bChannelEnabled[channel] = true;
    dpb.m_ePixelFormat[channel] = TPixelFormat{format};
    dpb.m_nWidth[channel] = width;
    dpb.m_nHeight[channel] = height;
  }
  bool WaitFor(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
  // Takes the oldest scene's frames as frame delivery does and frees the
  // scene once all were taken.
  void TakeFrames(int channel, int count) {
    std::lock_guard<std::mutex> lock(dpb.HandOffLock(channel));
    TVideoSceneBuffer* scene = dpb.SceneQueue(channel).Peek(0);
    ASSERT_NE(scene, nullptr);
    for (int i = 0; i < count; ++i) ++scene->nTaken;
    if (scene->nTaken >= scene->nFrames) {
      dpb.FrameQueue(channel).Release(scene->nFrames);
      dpb.SceneQueue(channel).Release(1);
      dpb.SignalFreeSpace(channel);
    }
  }

  COOVDecodedPictureBuffer dpb;
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope{&sink};
};

TEST_F(DecodedPictureBufferTest, ChannelLayoutsByPixelFormat) {
  struct TCase {
    std::int32_t format, width, height;
    bool ok;
    std::int32_t frameSize, colourTable;
  } cases[] = {
      {28, 10, 3, true, 120, 0},           // 32-bit DIB
      {27, 10, 3, true, 96, 0},            // 24-bit DIB: rows of 30 padded to 32
      {18, 10, 3, true, 90, 0},            // packed 24-bit: rows of 1 byte alignment
      {25, 10, 3, true, 36 + 1028, 1028},  // 8-bit DIB with its colour table behind the pixels
      {24, 10, 3, true, 24 + 68, 68},
      {22, 10, 3, true, 12 + 12, 12},
      {44, 10, 4, true, 60, 0},  // planar 4:2:0
      {23, 10, 3, false, 0, 0},  // 2-bit DIB: no layout
      {93, 10, 4, false, 0, 0},  // AYUV
      {5, 10, 4, false, 0, 0},
  };
  for (const TCase& c : cases) {
    COOVDecodedPictureBuffer buffer;
    buffer.m_bChannelEnabled[1] = true;
    buffer.m_ePixelFormat[1] = TPixelFormat{c.format};
    buffer.m_nWidth[1] = c.width;
    buffer.m_nHeight[1] = c.height;
    EXPECT_EQ(buffer.SetChannelFormats(), c.ok) << c.format;
    if (!c.ok) continue;
    EXPECT_EQ(buffer.m_nFrameSize[1], c.frameSize) << c.format;
    EXPECT_EQ(buffer.m_nColourTableSize[1], c.colourTable) << c.format;
  }
  // A disabled channel's format is not looked at.
  COOVDecodedPictureBuffer buffer;
  buffer.m_ePixelFormat[2] = TPixelFormat{23};
  EXPECT_TRUE(buffer.SetChannelFormats());
}

TEST_F(DecodedPictureBufferTest, PlanarFormatsRecordTheirPlaneSizes) {
  Enable(0, 44, 64, 16);
  ASSERT_TRUE(dpb.SetChannelFormats());
  EXPECT_EQ(dpb.m_nPlaneSize[0], 1024);
  EXPECT_EQ(dpb.m_nHalfPlane[0], 512);
  EXPECT_EQ(dpb.m_nQuarterPlane[0], 256);
  EXPECT_EQ(dpb.m_nFrameSize[0], 1536);
}

TEST_F(DecodedPictureBufferTest, AllocationIsFrameSizeTimesSlotsAndFreeingTwiceIsHarmless) {
  Enable(0, 28, 8, 8);
  Enable(3, 44, 16, 16);
  dpb.m_nFrameCapacity = 5;
  ASSERT_TRUE(dpb.SetChannelFormats());
  ASSERT_TRUE(dpb.AllocateBuffers());
  EXPECT_EQ(dpb.ChannelMemoryBytes(0), 256u * 6);
  EXPECT_EQ(dpb.ChannelMemoryBytes(3), 384u * 6);
  EXPECT_EQ(dpb.ChannelMemoryBytes(1), 0u);
  EXPECT_EQ(dpb.FrameQueue(0).GetCapacity(), 5);
  EXPECT_EQ(dpb.SceneQueue(0).GetCapacity(), 100);
  // Slot k points k frame sizes into the block.
  EXPECT_EQ(dpb.FrameQueue(0).SlotAt(3)->pData - dpb.FrameQueue(0).SlotAt(0)->pData, 3 * 256);
  EXPECT_EQ(dpb.SlotState(0, 2), SLOT_EMPTY);
  dpb.FreeBuffers();
  dpb.FreeBuffers();
  EXPECT_EQ(dpb.ChannelMemoryBytes(0), 0u);
  EXPECT_FALSE(dpb.FrameQueue(0).HasStorage());
  EXPECT_TRUE(sink.Texts().empty());
}

// Between sessions a channel keeps its block while its frame size and the
// capacity hold; what the last session stored is never shown again.
TEST_F(DecodedPictureBufferTest, ASessionKeepsTheFrameMemoryWhileItsSizesHold) {
  struct TCase {
    const char* name;
    std::int32_t width;
    std::int32_t capacity;
    bool channel1;
    bool newBlock0;           // channel 0 allocated anew
    std::uint64_t newBlocks;  // blocks allocated over both channels
  };
  const TCase cases[] = {
      {"unchanged", 8, 5, true, false, 0},
      {"unchanged again", 8, 5, true, false, 0},
      {"wider frames", 16, 5, true, true, 1},
      {"more slots", 16, 6, true, true, 2},
      {"channel 1 left out", 16, 6, false, false, 0},
      {"channel 1 back", 16, 6, true, false, 1},
  };
  Enable(0, 28, 8, 8);
  Enable(1, 44, 16, 16);
  dpb.m_nFrameCapacity = 5;
  ASSERT_TRUE(dpb.SetChannelFormats());
  ASSERT_TRUE(dpb.AllocateBuffers());
  EXPECT_EQ(dpb.FrameMemoryAllocations(), 2u);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    // A stored frame in channel 0, then the session ends.
    std::int32_t scene = 0;
    ASSERT_TRUE(dpb.OpenChannelScene(0, 4, 0, 2, &scene));
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(dpb.m_nFrameSize[0]), 0x5a);
    TMediaFrameNotice notice;
    notice.pRgbData = rgb.data();
    notice.nRgbSize = static_cast<std::int32_t>(rgb.size());
    ASSERT_TRUE(dpb.PutChannelFrame(0, 4, notice, 0, 0));
    const std::uint8_t* block = dpb.FrameQueue(0).SlotAt(0)->pData;
    dpb.EndSession();
    EXPECT_FALSE(dpb.FrameQueue(0).HasStorage());
    EXPECT_EQ(dpb.OldestStoredSlot(0), -1);
    const std::uint64_t allocations = dpb.FrameMemoryAllocations();

    Enable(0, 28, c.width, 8);
    dpb.m_bChannelEnabled[1] = c.channel1;
    dpb.m_nFrameCapacity = c.capacity;
    ASSERT_TRUE(dpb.SetChannelFormats());
    ASSERT_TRUE(dpb.AllocateBuffers());
    EXPECT_EQ(dpb.FrameMemoryAllocations() - allocations, c.newBlocks);
    if (!c.newBlock0) {
      EXPECT_EQ(dpb.FrameQueue(0).SlotAt(0)->pData, block);
    }
    EXPECT_EQ(dpb.ChannelMemoryBytes(0),
              static_cast<std::uint64_t>(dpb.m_nFrameSize[0]) * static_cast<std::uint64_t>(c.capacity + 1));
    EXPECT_EQ(dpb.ChannelMemoryBytes(1) != 0, c.channel1);
    // Nothing of the last session is stored.
    for (std::int32_t k = 0; k <= c.capacity; ++k) EXPECT_EQ(dpb.SlotState(0, k), SLOT_EMPTY);
    EXPECT_EQ(dpb.OldestStoredSlot(0), -1);
  }
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(DecodedPictureBufferTest, AnOversizedCacheIsRefusedWithItsMessage) {
  // 3,000 slots of 1080p 32-bit pictures are 25 GB: counted in 64 bits and
  // refused, and nothing stays allocated.
  Enable(0, 28, 8, 8);
  Enable(1, 28, 1920, 1080);
  dpb.m_nFrameCapacity = 3000;
  dpb.SetMemoryLimit(std::uint64_t{1} << 30);
  ASSERT_TRUE(dpb.SetChannelFormats());
  EXPECT_FALSE(dpb.AllocateBuffers());
  EXPECT_EQ(sink.Texts(), std::vector<std::string>{"Can not allocate memory for frame buffer"});
  EXPECT_EQ(dpb.ChannelMemoryBytes(0), 0u);
  EXPECT_FALSE(dpb.SceneQueue(0).HasStorage());
  // Within the limit the same channel is allocated.
  dpb.m_nFrameCapacity = 30;
  sink.Clear();
  EXPECT_TRUE(dpb.AllocateBuffers());
  EXPECT_EQ(dpb.ChannelMemoryBytes(1), 8294400u * 31);
}

TEST_F(DecodedPictureBufferTest, TheHundredAndFirstSceneFindsTheSceneQueueFull) {
  Enable(2, 28, 4, 4);
  dpb.m_nFrameCapacity = 3000;
  ASSERT_TRUE(dpb.SetChannelFormats());
  ASSERT_TRUE(dpb.AllocateBuffers());
  std::int32_t index = -1;
  for (int scene = 0; scene < 100; ++scene)
    ASSERT_TRUE(dpb.OpenChannelScene(2, 43, scene, 30, &index)) << scene;
  EXPECT_EQ(index, 99);
  const std::int32_t countBefore = dpb.FrameQueue(2).GetCount();
  EXPECT_FALSE(dpb.OpenChannelScene(2, 43, 100, 30, &index));
  EXPECT_EQ(sink.Texts(), std::vector<std::string>{"Video scene buffer for channel = 2 is full"});
  EXPECT_EQ(dpb.FrameQueue(2).GetCount(), countBefore);  // the frame queue is untouched
}

TEST_F(DecodedPictureBufferTest, ScenesRecordTheirProducerAndFirstSlot) {
  Enable(0, 28, 4, 4);
  dpb.m_nFrameCapacity = 10;
  ASSERT_TRUE(dpb.SetChannelFormats());
  ASSERT_TRUE(dpb.AllocateBuffers());
  std::int32_t index = -1;
  ASSERT_TRUE(dpb.OpenChannelScene(0, 41, 7, 4, &index));
  ASSERT_TRUE(dpb.OpenChannelScene(0, 41, 8, 3, &index));
  const TVideoSceneBuffer* scene = dpb.SceneQueue(0).Peek(1);
  ASSERT_NE(scene, nullptr);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(scene->nProcId, 41);
  EXPECT_EQ(scene->nKind, 5);
  EXPECT_EQ(scene->nSceneNumber, 8);
  EXPECT_EQ(scene->nLastFrame, 2);
  EXPECT_EQ(scene->nFrames, 3);
  EXPECT_EQ(scene->nFirstSlot, 4);
  EXPECT_EQ(dpb.FrameQueue(0).GetCount(), 7);
  // A scene larger than the whole cache can never fit: refused, no wait.
  EXPECT_FALSE(dpb.OpenChannelScene(0, 41, 9, 11, &index));
}

TEST_F(DecodedPictureBufferTest, StoredFramesGoToConsecutiveSlotsOfTheScene) {
  Enable(1, 28, 2, 2);
  dpb.m_nFrameCapacity = 4;
  ASSERT_TRUE(dpb.SetChannelFormats());
  ASSERT_TRUE(dpb.AllocateBuffers());
  std::int32_t index = 0;
  ASSERT_TRUE(dpb.OpenChannelScene(1, 42, 0, 2, &index));
  std::uint8_t pixels[16];
  TMediaFrameNotice notice;
  notice.ePixelFormat = PF_RGB32;
  notice.pRgbData = pixels;
  notice.nRgbSize = 16;
  for (int k = 0; k < 2; ++k) {
    std::memset(pixels, 0x10 + k, sizeof pixels);
    ASSERT_TRUE(dpb.PutChannelFrame(1, 42, notice, 100 + k, 0));
  }
  // The scene is full: a third frame has no slot.
  EXPECT_FALSE(dpb.PutChannelFrame(1, 42, notice, 102, 0));
  // Another producer without a scene of its own stores nothing.
  EXPECT_FALSE(dpb.PutChannelFrame(1, 43, notice, 0, 0));
  for (int k = 0; k < 2; ++k) {
    const TVideoFrame* frame = dpb.FrameQueue(1).SlotAt(k);
    EXPECT_EQ(frame->nFrameNumber, 100 + k);
    EXPECT_EQ(frame->pData[15], 0x10 + k);
    EXPECT_EQ(dpb.SlotState(1, k), SLOT_STORED);
  }
  EXPECT_EQ(dpb.SlotState(1, 2), SLOT_EMPTY);
  EXPECT_EQ(dpb.SceneQueue(1).Peek(0)->nStored, 2);
}

TEST_F(DecodedPictureBufferTest, CopiesAreBoundedByTheNoticeAndByTheSlot) {
  // Capacity 1: the second scene lands in the last slot of the block, so a
  // copy past the slot would leave the block.
  Enable(0, 25, 4, 2);  // 8-bit DIB: 8 bytes of pixels, 1028 of colour table
  dpb.m_nFrameCapacity = 1;
  ASSERT_TRUE(dpb.SetChannelFormats());
  ASSERT_TRUE(dpb.AllocateBuffers());
  std::int32_t index = 0;
  std::vector<std::uint8_t> pixels(5000, 0xAB);                   // claims more than the slot holds
  std::uint8_t table[12] = {0, 3, 2, 0, 1, 2, 3, 0, 4, 5, 6, 0};  // a palette of 2 entries
  TMediaFrameNotice notice;
  notice.pRgbData = pixels.data();
  notice.nRgbSize = static_cast<std::int32_t>(pixels.size());
  notice.pColourTable = table;
  notice.nColourTableSize = sizeof table;  // much less than 1028
  for (int scene = 0; scene < 2; ++scene) {
    ASSERT_TRUE(dpb.OpenChannelScene(0, 41, scene, 1, &index));
    const std::int32_t slot = dpb.SceneQueue(0).Peek(0)->nFirstSlot;
    std::memset(dpb.FrameQueue(0).SlotAt(slot)->pData, 0x55, static_cast<std::size_t>(dpb.m_nFrameSize[0]));
    ASSERT_TRUE(dpb.PutChannelFrame(0, 41, notice, scene, scene));
    const std::uint8_t* data = dpb.FrameQueue(0).SlotAt(slot)->pData;
    EXPECT_EQ(slot, scene);
    EXPECT_EQ(data[7], 0xAB);  // the pixels
    EXPECT_EQ(data[8], 0);     // the table right behind them
    EXPECT_EQ(data[8 + 11], 0);
    EXPECT_EQ(data[8 + 9], 5);
    EXPECT_EQ(data[8 + 12], 0x55);  // the rest of the table room is not read from the notice
    TakeFrames(0, 1);
  }
}

// A media graph's top-down rows, wider apart than the slot's, are stored as
// the slot's bottom-up DIB rows: the same bytes as the bottom-up copy of the
// same picture. A notice that holds fewer rows gives only those (the buffer
// ends where its rows do, so a read past them is caught by the sanitizer),
// and the slot's other rows keep what they held.
TEST_F(DecodedPictureBufferTest, TopDownRowsAreTurnedOverIntoTheSlotWithinTheNoticeAndTheSlot) {
  constexpr int kW = 5, kH = 4;         // 24-bit DIB rows of 15 bytes padded to 16
  constexpr std::int32_t kStride = 21;  // the graph's rows
  Enable(0, PF_RGB24, kW, kH);
  dpb.m_nFrameCapacity = 2;
  ASSERT_TRUE(dpb.SetChannelFormats());
  ASSERT_TRUE(dpb.AllocateBuffers());
  std::vector<std::uint8_t> topDown(static_cast<std::size_t>(kStride) * (kH - 1) + kW * 3);
  std::vector<std::uint8_t> bottomUp(static_cast<std::size_t>(dpb.m_nFrameSize[0]), 0);
  for (int y = 0; y < kH; ++y)
    for (int i = 0; i < kW * 3; ++i) {
      const auto v = static_cast<std::uint8_t>(16 * y + i + 1);
      topDown[static_cast<std::size_t>(y * kStride + i)] = v;
      bottomUp[static_cast<std::size_t>((kH - 1 - y) * 16 + i)] = v;
    }
  std::int32_t index = 0;
  ASSERT_TRUE(dpb.OpenChannelScene(0, 41, 0, 2, &index));
  const std::int32_t first = dpb.SceneQueue(0).Peek(0)->nFirstSlot;
  std::uint8_t* slots[2] = {dpb.FrameQueue(0).SlotAt(first)->pData,
                            dpb.FrameQueue(0).SlotAt(dpb.FrameQueue(0).Step(first, 1))->pData};
  for (std::uint8_t* slot : slots) std::memset(slot, 0, static_cast<std::size_t>(dpb.m_nFrameSize[0]));
  TMediaFrameNotice notice;
  notice.nWidth = kW;
  notice.nHeight = kH;
  notice.pRgbData = topDown.data();
  notice.nRgbSize = static_cast<std::int32_t>(topDown.size());
  notice.nTopDownStride = kStride;
  ASSERT_TRUE(dpb.PutChannelFrame(0, 41, notice, 0, 0));
  EXPECT_EQ(std::memcmp(slots[0], bottomUp.data(), bottomUp.size()), 0);
  // Two whole rows and part of a third: the top two rows of the picture.
  std::memset(slots[1], 0x77, static_cast<std::size_t>(dpb.m_nFrameSize[0]));
  const std::vector<std::uint8_t> twoRows(topDown.begin(), topDown.begin() + 2 * kStride + 7);
  notice.pRgbData = twoRows.data();
  notice.nRgbSize = static_cast<std::int32_t>(twoRows.size());
  ASSERT_TRUE(dpb.PutChannelFrame(0, 41, notice, 1, 0));
  for (int row = 0; row < kH; ++row) {
    SCOPED_TRACE(row);
    const std::uint8_t* got = slots[1] + row * 16;
    if (row >= kH - 2) {
      EXPECT_EQ(std::memcmp(got, bottomUp.data() + row * 16, kW * 3), 0);
    } else {
      EXPECT_EQ(got[0], 0x77);
    }
  }
}

TEST_F(DecodedPictureBufferTest, PlanarCopiesStopAtWhatTheNoticeHolds) {
  const std::int32_t format =
      ComposeYuvFileFormat(YUV_STD_BT601, YUV_LAYOUT_420_CENTRED, YUV_RANGE_16_235_240) - 2;
  Enable(0, format, 8, 4);
  dpb.m_nFrameCapacity = 2;
  ASSERT_TRUE(dpb.SetChannelFormats());
  ASSERT_TRUE(dpb.AllocateBuffers());
  std::int32_t index = 0;
  ASSERT_TRUE(dpb.OpenChannelScene(0, 41, 0, 2, &index));
  std::vector<std::uint8_t> y(32, 1), cb(4, 2), cr(3, 3);
  TMediaFrameNotice notice;
  notice.nWidth = 8;
  notice.nHeight = 4;
  notice.pY = y.data();
  notice.pCb = cb.data();
  notice.pCr = cr.data();
  notice.nYSize = 32;
  notice.nCbSize = 8;
  notice.nCrSize = 3;  // only three bytes of Cr come with the frame
  std::uint8_t* data = dpb.FrameQueue(0).SlotAt(0)->pData;
  std::memset(data, 0x77, 48);
  notice.nCbSize = 4;
  ASSERT_TRUE(dpb.PutChannelFrame(0, 41, notice, 0, 0));
  EXPECT_EQ(data[31], 1);
  EXPECT_EQ(data[35], 2);
  EXPECT_EQ(data[36], 0x77);  // Cb: 4 of 8 bytes
  EXPECT_EQ(data[40], 3);
  EXPECT_EQ(data[42], 3);
  EXPECT_EQ(data[43], 0x77);  // Cr: 3 of 8 bytes

  // A frame of another size without sizes of its own: nothing is copied.
  std::uint8_t* next = dpb.FrameQueue(0).SlotAt(1)->pData;
  std::memset(next, 0x66, 48);
  TMediaFrameNotice other;
  other.nWidth = 16;
  other.nHeight = 16;
  other.pY = y.data();
  ASSERT_TRUE(dpb.PutChannelFrame(0, 41, other, 1, 0));
  EXPECT_EQ(next[0], 0x66);
}

// A frame read straight into a reserved slot is stored as it lies there;
// a slot is reserved only for planes of exactly the channel's layout, only
// in the producer's open scene with room, and no replay shows it meanwhile.
TEST_F(DecodedPictureBufferTest, AReservedSlotTakesAFrameReadIntoItWithoutACopy) {
  const std::int32_t format =
      ComposeYuvFileFormat(YUV_STD_BT601, YUV_LAYOUT_420_CENTRED, YUV_RANGE_16_235_240) - 2;
  Enable(0, format, 8, 4);
  Enable(1, 28, 8, 4);
  dpb.m_nFrameCapacity = 4;
  ASSERT_TRUE(dpb.SetChannelFormats());
  ASSERT_TRUE(dpb.AllocateBuffers());
  const TYuvFrameBuffer layout = dpb.m_YuvFrameRecord[0];
  ASSERT_GT(layout.nCbSize, 0);
  std::int32_t index = 0;

  // Refusals.
  EXPECT_EQ(dpb.ReserveSlot(0, 41, layout), nullptr);  // no open scene yet
  ASSERT_TRUE(dpb.OpenChannelScene(0, 41, 0, 2, &index));
  ASSERT_TRUE(dpb.OpenChannelScene(1, 42, 0, 2, &index));
  struct TRefusal {
    const char* name;
    int channel;
    int procId;
    std::int32_t dY, dCb, dCr;  // changes to the layout
  };
  for (const TRefusal& r :
       {TRefusal{"larger luma", 0, 41, 2, 0, 0}, TRefusal{"smaller Cb", 0, 41, 0, -1, 0},
        TRefusal{"larger Cr", 0, 41, 0, 0, 1}, TRefusal{"another producer", 0, 43, 0, 0, 0},
        TRefusal{"an RGB channel", 1, 42, 0, 0, 0}, TRefusal{"no channel", 4, 41, 0, 0, 0}}) {
    SCOPED_TRACE(r.name);
    TYuvFrameBuffer other = layout;
    other.nYSize += r.dY;
    other.nCbSize += r.dCb;
    other.nCrSize += r.dCr;
    EXPECT_EQ(dpb.ReserveSlot(r.channel, r.procId, other), nullptr);
  }
  EXPECT_EQ(dpb.SlotState(0, 0), SLOT_EMPTY);

  const std::int64_t total = static_cast<std::int64_t>(layout.nYSize) + layout.nCbSize + layout.nCrSize;
  for (std::int32_t n = 0; n < 2; ++n) {
    SCOPED_TRACE(n);
    std::uint8_t* slot = dpb.ReserveSlot(0, 41, layout);
    ASSERT_EQ(slot, dpb.FrameQueue(0).SlotAt(n)->pData);
    EXPECT_EQ(dpb.SlotState(0, n), SLOT_WRITING);
    EXPECT_EQ(dpb.OldestStoredSlot(0), n == 0 ? -1 : 0);
    for (std::int64_t i = 0; i < total; ++i) slot[i] = static_cast<std::uint8_t>(n * 64 + i);
    TMediaFrameNotice notice;
    notice.nWidth = 8;
    notice.nHeight = 4;
    notice.pY = slot;
    notice.pCb = slot + layout.nYSize;
    notice.pCr = slot + layout.nYSize + layout.nCbSize;
    notice.nYSize = layout.nYSize;
    notice.nCbSize = layout.nCbSize;
    notice.nCrSize = layout.nCrSize;
    ASSERT_TRUE(dpb.PutChannelFrame(0, 41, notice, n, 0));
    EXPECT_EQ(dpb.SlotState(0, n), SLOT_STORED);
    for (std::int64_t i = 0; i < total; ++i) ASSERT_EQ(slot[i], static_cast<std::uint8_t>(n * 64 + i)) << i;
  }
  // The scene is full: the next frame goes through the reader's own memory.
  EXPECT_EQ(dpb.ReserveSlot(0, 41, layout), nullptr);

  // Planes inside the slot but away from their places are moved there whole.
  ASSERT_TRUE(dpb.OpenChannelScene(0, 41, 1, 2, &index));
  std::uint8_t* slot = dpb.ReserveSlot(0, 41, layout);
  ASSERT_NE(slot, nullptr);
  std::vector<std::uint8_t> cr(static_cast<std::size_t>(layout.nCrSize), 0xc5);
  std::memset(slot, 0x11, static_cast<std::size_t>(layout.nYSize));
  std::memset(slot + 1, 0xcb, static_cast<std::size_t>(layout.nCbSize));  // Cb one byte into Y
  TMediaFrameNotice shifted;
  shifted.nWidth = 8;
  shifted.nHeight = 4;
  shifted.pY = slot;
  shifted.pCb = slot + 1;
  shifted.pCr = cr.data();
  shifted.nYSize = layout.nYSize;
  shifted.nCbSize = layout.nCbSize;
  shifted.nCrSize = layout.nCrSize;
  ASSERT_TRUE(dpb.PutChannelFrame(0, 41, shifted, 2, 1));
  for (std::int32_t i = 0; i < layout.nCbSize; ++i) EXPECT_EQ(slot[layout.nYSize + i], 0xcb) << i;
  for (std::int32_t i = 0; i < layout.nCrSize; ++i) EXPECT_EQ(slot[layout.nYSize + layout.nCbSize + i], 0xc5);
}

TEST_F(DecodedPictureBufferTest, AProducerShortOfSlotsWaitsUntilASceneIsFreed) {
  Enable(0, 28, 2, 2);
  ASSERT_TRUE(dpb.SetChannelFormats());
  ASSERT_TRUE(dpb.AllocateBuffers());
  std::int32_t index = 0;
  ASSERT_TRUE(dpb.OpenChannelScene(0, 41, 0, 30, &index));
  std::atomic<bool> opened{false};
  std::atomic<bool> result{false};
  std::thread producer([&] {
    std::int32_t next = 0;
    result.store(dpb.OpenChannelScene(0, 41, 1, 30, &next));
    opened.store(true);
  });
  const bool waited = WaitFor([&] { return dpb.FreeSpaceWaiters(0) == 1; });
  TakeFrames(0, 29);
  const bool stillWaiting = !opened.load() && dpb.FreeSpaceWaiters(0) == 1;
  TakeFrames(0, 1);  // the 30th frame frees the scene
  const bool released = WaitFor([&] { return opened.load(); });
  producer.join();
  EXPECT_TRUE(waited);
  EXPECT_TRUE(stillWaiting);
  EXPECT_TRUE(released);
  EXPECT_TRUE(result.load());
  EXPECT_EQ(dpb.SceneQueue(0).GetCount(), 1);
  EXPECT_EQ(dpb.SceneQueue(0).Peek(0)->nSceneNumber, 1);
}

TEST_F(DecodedPictureBufferTest, AStopEndsTheWaitForSlotsAlsoWhenItCameFirst) {
  Enable(0, 28, 2, 2);
  ASSERT_TRUE(dpb.SetChannelFormats());
  ASSERT_TRUE(dpb.AllocateBuffers());
  std::int32_t index = 0;
  ASSERT_TRUE(dpb.OpenChannelScene(0, 41, 0, 30, &index));
  std::atomic<bool> opened{false};
  std::atomic<bool> result{true};
  std::thread producer([&] {
    std::int32_t next = 0;
    result.store(dpb.OpenChannelScene(0, 41, 1, 30, &next));
    opened.store(true);
  });
  const bool waited = WaitFor([&] { return dpb.FreeSpaceWaiters(0) == 1; });
  dpb.RequestStop();
  const bool released = WaitFor([&] { return opened.load(); });
  producer.join();
  EXPECT_TRUE(waited);
  EXPECT_TRUE(released);
  EXPECT_FALSE(result.load());
  // A stop that came before the wait ends it at once.
  EXPECT_FALSE(dpb.OpenChannelScene(0, 41, 2, 30, &index));
  dpb.ClearStop();
  TakeFrames(0, 30);
  EXPECT_TRUE(dpb.OpenChannelScene(0, 41, 2, 30, &index));
}

// A seek's flush: the frames not shown yet are given up (a full scene is
// freed and the producer waiting for room goes on), no slot stays in the
// replay window, frames are refused until the first after the seek, and a
// frame admitted before the flush is dropped when it is stored.
TEST_F(DecodedPictureBufferTest, AFlushGivesUpUnshownFramesAndRefusesFramesUntilADiscontinuity) {
  Enable(0, 28, 2, 2);
  dpb.m_nFrameCapacity = 4;
  ASSERT_TRUE(dpb.SetChannelFormats());
  ASSERT_TRUE(dpb.AllocateBuffers());
  std::uint8_t pixels[16] = {};
  TMediaFrameNotice notice;
  notice.ePixelFormat = PF_RGB32;
  notice.pRgbData = pixels;
  notice.nRgbSize = 16;
  std::int32_t index = 0;
  // Scene 0 (slots 0, 1) full, one frame of it shown; scene 1 (slots 2, 3)
  // holds one frame.
  ASSERT_TRUE(dpb.OpenChannelScene(0, 41, 0, 2, &index));
  ASSERT_TRUE(dpb.PutChannelFrame(0, 41, notice, 0, 0));
  ASSERT_TRUE(dpb.PutChannelFrame(0, 41, notice, 1, 0));
  TakeFrames(0, 1);
  ASSERT_TRUE(dpb.OpenChannelScene(0, 41, 1, 2, &index));
  ASSERT_TRUE(dpb.PutChannelFrame(0, 41, notice, 2, 1));
  // A third scene waits for room.
  std::atomic<bool> opened{false};
  std::thread producer([&] {
    std::int32_t next = 0;
    ASSERT_TRUE(dpb.PutChannelFrame(0, 41, notice, 3, 1));
    opened.store(dpb.OpenChannelScene(0, 41, 2, 2, &next));
  });
  ASSERT_TRUE(WaitFor([&] { return dpb.FreeSpaceWaiters(0) == 1; }));
  {
    std::lock_guard<std::mutex> lock(dpb.HandOffLock(0));
    EXPECT_EQ(dpb.OldestStoredSlot(0), 0);
  }
  std::uint64_t before = 0;
  ASSERT_TRUE(dpb.AdmitFrame(0, false, &before));
  const std::int32_t cursor = dpb.FlushChannel(0);
  // Both full scenes were given up and freed: the producer opens its scene.
  EXPECT_TRUE(WaitFor([&] { return opened.load(); }));
  producer.join();
  EXPECT_EQ(cursor, 4);  // behind the last slot reserved: the next frame goes there
  EXPECT_EQ(dpb.SceneQueue(0).GetCount(), 1);
  {
    std::lock_guard<std::mutex> lock(dpb.HandOffLock(0));
    EXPECT_EQ(dpb.OldestStoredSlot(0), -1);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(dpb.SlotState(0, k), SLOT_EMPTY) << k;
  }
  // Admitted before the flush: dropped. After it: refused until a
  // discontinuity, which is stored and ends the refusal.
  EXPECT_EQ(dpb.PutAdmittedFrame(0, 41, notice, 9, 2, before), COOVDecodedPictureBuffer::PUT_DROPPED);
  std::uint64_t generation = 0;
  EXPECT_FALSE(dpb.AdmitFrame(0, false, &generation));
  EXPECT_FALSE(dpb.PutChannelFrame(0, 41, notice, 10, 2));
  notice.bDiscontinuity = true;
  EXPECT_TRUE(dpb.PutChannelFrame(0, 41, notice, 20, 2));
  notice.bDiscontinuity = false;
  EXPECT_TRUE(dpb.PutChannelFrame(0, 41, notice, 21, 2));
  const TVideoSceneBuffer* scene = dpb.SceneQueue(0).Peek(0);
  ASSERT_NE(scene, nullptr);
  EXPECT_EQ(scene->nStored, 2);
  EXPECT_EQ(scene->nTaken, 0);
  EXPECT_EQ(dpb.FrameQueue(0).SlotAt(scene->nFirstSlot)->nFrameNumber, 20);
  std::lock_guard<std::mutex> lock(dpb.HandOffLock(0));
  EXPECT_EQ(dpb.OldestStoredSlot(0), scene->nFirstSlot);
}

TEST_F(DecodedPictureBufferTest, LayerSizesComeFromTheHeaderWords) {
  std::uint8_t header[64] = {};
  header[52] = 0x40;  // 320
  header[53] = 0x01;
  header[56] = 0xF0;  // 240
  EXPECT_TRUE(dpb.SetLayerFrameSize(header, sizeof header));
  EXPECT_EQ(dpb.m_nLayerWidth, 320);
  EXPECT_EQ(dpb.m_nLayerHeight, 240);
  EXPECT_EQ(dpb.m_nLayerSize[0], 230400);
  EXPECT_EQ(dpb.m_nLayerSize[2], 115200);
  EXPECT_EQ(dpb.m_nLayerSize[3], 76800);
  EXPECT_EQ(dpb.m_nLayerSize[4], 38400);
  EXPECT_EQ(dpb.m_nLayerSize[5], 19200);
  // A missing header gives 0 x 0.
  EXPECT_TRUE(dpb.SetLayerFrameSize(nullptr, 0));
  EXPECT_EQ(dpb.m_nLayerWidth, 0);
  EXPECT_EQ(dpb.m_nLayerSize[3], 0);
}

}  // namespace
