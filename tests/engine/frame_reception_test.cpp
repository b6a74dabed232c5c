// Frame reception and the owner callback without a session: the routing by
// sender kind and notice code, the frame range, scene opening, the
// coalesced update notice, and frame delivery of each cached format into
// the port.

#include <gtest/gtest.h>

#include <cstring>

#include "platform/message_sink.h"
#include "tests/engine/engine_fixture.h"

namespace engine_test {
namespace {

using namespace ZarnTypes;

class FrameReceptionTest : public EngineTest {
 protected:
  // Lays channel 0 out for the format and size and allocates the buffer.
  void Prepare(std::int32_t format, std::int32_t width, std::int32_t height, std::int32_t capacity = 30) {
    engine.m_Dpb.m_bChannelEnabled[0] = true;
    engine.m_Dpb.m_ePixelFormat[0] = TPixelFormat{format};
    engine.m_Dpb.m_nWidth[0] = width;
    engine.m_Dpb.m_nHeight[0] = height;
    engine.m_Dpb.m_nFrameCapacity = capacity;
    ASSERT_TRUE(engine.m_Dpb.SetChannelFormats());
    ASSERT_TRUE(engine.m_Dpb.AllocateBuffers());
    std::int32_t index = 0;
    ASSERT_TRUE(engine.m_Dpb.OpenChannelScene(0, 41, 0, std::min(30, capacity), &index));
    engine.m_nFramesPerScene.store(std::min(30, capacity));
  }
  TMediaFrameNotice YuvNotice(const std::vector<std::uint8_t>& frame) {
    TMediaFrameNotice notice;
    notice.ePixelFormat = TPixelFormat{kYuvFormat - 2};
    notice.nWidth = kWidth;
    notice.nHeight = kHeight;
    notice.nChromaWidth = kWidth / 2;
    notice.nChromaHeight = kHeight / 2;
    notice.pY = frame.data();
    notice.pCb = frame.data() + kYSize;
    notice.pCr = frame.data() + kYSize + kChromaSize;
    return notice;
  }

  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope{&sink};
};

TEST_F(FrameReceptionTest, OwnerNoticesAreRoutedByCodeAndSenderKind) {
  Prepare(kYuvFormat - 2, kWidth, kHeight);
  TMediaSender dshow{41, MEDIA_SENDER_DSHOW, SRC_STREAM, &engine};
  TMediaSender jpeg{41, MEDIA_SENDER_JPEG, SRC_STREAM, &engine};
  const std::vector<std::uint8_t> frame = CodedFrame(3);
  TMediaFrameNotice notice = YuvNotice(frame);
  void* ctx = &engine;
  // A frame notice without a header is accepted and stores nothing.
  EXPECT_TRUE(Zarn::CZarn::EngineOwnerCallback(ctx, MEDIA_NOTIFY_FRAME, &dshow, &notice));
  EXPECT_EQ(engine.m_nFramesTotal.load(), 0);
  // With a header it is stored; from a still reader through this road it is refused.
  Dib::TBitmapInfoHeader header{};
  notice.pHeader = &header;
  EXPECT_TRUE(Zarn::CZarn::EngineOwnerCallback(ctx, MEDIA_NOTIFY_FRAME, &dshow, &notice));
  EXPECT_EQ(engine.m_nFramesTotal.load(), 1);
  EXPECT_FALSE(Zarn::CZarn::EngineOwnerCallback(ctx, MEDIA_NOTIFY_FRAME, &jpeg, &notice));
  EXPECT_EQ(engine.m_nFramesTotal.load(), 1);

  // The thread table takes ProcIDs 0..48 only.
  int marker = 0;
  TMediaSender worker{48, MEDIA_SENDER_RECORDER, SRC_WRITE_STREAM, &engine};
  EXPECT_TRUE(Zarn::CZarn::EngineOwnerCallback(ctx, MEDIA_NOTIFY_THREAD_STARTED, &worker, &marker));
  EXPECT_EQ(engine.m_ThreadTable[48].load(), &marker);
  worker.nSenderId = 49;
  EXPECT_FALSE(Zarn::CZarn::EngineOwnerCallback(ctx, MEDIA_NOTIFY_THREAD_STARTED, &worker, nullptr));

  // The job count moves by the signed value carried in the pointer.
  EXPECT_TRUE(Zarn::CZarn::EngineOwnerCallback(ctx, MEDIA_NOTIFY_JOB_COUNT, &worker, ValueAsPointer(2)));
  EXPECT_TRUE(Zarn::CZarn::EngineOwnerCallback(ctx, MEDIA_NOTIFY_JOB_COUNT, &worker, ValueAsPointer(-1)));
  EXPECT_EQ(engine.m_nJobCount.load(), 1);

  // Notices the engine has no use for, and those whose handler is absent, answer false.
  EXPECT_FALSE(Zarn::CZarn::EngineOwnerCallback(ctx, MEDIA_NOTIFY_VIDEO_WINDOW, &dshow, nullptr));
  EXPECT_FALSE(Zarn::CZarn::EngineOwnerCallback(ctx, MEDIA_NOTIFY_STREAM_INFO, &dshow, nullptr));
  EXPECT_FALSE(Zarn::CZarn::EngineOwnerCallback(ctx, MEDIA_NOTIFY_DEVICE_KIND, &jpeg, nullptr));
  EXPECT_FALSE(Zarn::CZarn::EngineOwnerCallback(ctx, TMediaNotify{12345}, &dshow, nullptr));
  EXPECT_FALSE(Zarn::CZarn::EngineOwnerCallback(ctx, MEDIA_NOTIFY_FRAME, nullptr, &notice));
}

TEST_F(FrameReceptionTest, TheFrameCallbackAcceptsReaderKindsOfChannelProcessesOnly) {
  Prepare(kYuvFormat - 2, kWidth, kHeight);
  const std::vector<std::uint8_t> frame = CodedFrame(1);
  TMediaFrameNotice notice = YuvNotice(frame);
  void* ctx = &engine;
  EXPECT_TRUE(Zarn::CZarn::EngineFrameCallback(MEDIA_SENDER_STILLS, SRC_STREAM, 41, ctx, &notice));
  EXPECT_FALSE(Zarn::CZarn::EngineFrameCallback(MEDIA_SENDER_RECORDER, SRC_STREAM, 41, ctx, &notice));
  EXPECT_FALSE(Zarn::CZarn::EngineFrameCallback(MEDIA_SENDER_STILLS, SRC_STREAM, 45, ctx, &notice));
  EXPECT_FALSE(Zarn::CZarn::EngineFrameCallback(TMediaSenderKind{13}, SRC_ENUM_DEVICES, 37, ctx, &notice));
  EXPECT_FALSE(Zarn::CZarn::EngineFrameCallback(MEDIA_SENDER_STILLS, SRC_STREAM, 41, ctx, nullptr));
  EXPECT_EQ(engine.m_nFramesTotal.load(), 1);
  EXPECT_EQ(engine.m_Channel[0].nFrameCount.load(), 1);
}

TEST_F(FrameReceptionTest, SkippedFramesAreCountedAndTheCounterNoticeIsCoalesced) {
  Prepare(kYuvFormat - 2, kWidth, kHeight);
  TFileReader reader(File("unused.yuv"));
  reader.SetFrameRange(5, 8);
  engine.m_Channel[0].pReader.store(&reader);
  const std::vector<std::uint8_t> frame = CodedFrame(0);
  const TMediaFrameNotice notice = YuvNotice(frame);
  for (int k = 0; k < 5; ++k) ASSERT_TRUE(engine.DeliverFrameToDpb(0, 41, notice));
  EXPECT_EQ(engine.m_Channel[0].nFrameCount.load(), 5);
  EXPECT_EQ(engine.m_Channel[0].nShownFrame.load(), 4);
  EXPECT_EQ(engine.m_nFramesTotal.load(), 0);
  // Five counter changes, one posted notice until the UI thread takes it.
  EXPECT_EQ(owner.m_nUpdatePosts.load(), 1);
  EXPECT_EQ(engine.TakePendingUpdates(), static_cast<std::uint32_t>(Zarn::ENGINE_UPDATE_COUNTERS));
  EXPECT_EQ(engine.TakePendingUpdates(), 0u);
  // Frames 5..7 are stored.
  for (int k = 5; k < 8; ++k) ASSERT_TRUE(engine.DeliverFrameToDpb(0, 41, notice));
  EXPECT_EQ(engine.m_nFramesTotal.load(), 3);
  EXPECT_EQ(engine.m_Dpb.FrameQueue(0).SlotAt(0)->nFrameNumber, 5);
  EXPECT_EQ(engine.m_Dpb.FrameQueue(0).SlotAt(2)->nFrameNumber, 7);
  engine.m_Channel[0].pReader.store(nullptr);
}

// A file frame is numbered by its index in the file, whatever came before
// it (a dropped live frame, a seek); other frames by the frames delivered.
// The frame range is judged by that number.
TEST_F(FrameReceptionTest, FileFramesAreNumberedByTheirIndexInTheFile) {
  Prepare(kYuvFormat - 2, kWidth, kHeight);
  TFileReader reader(File("unused.yuv"));
  reader.SetFrameRange(3, 100);
  engine.m_Channel[0].pReader.store(&reader);
  struct TArrival {
    int index;
    bool fileIndex;
  };
  // 0 and 2 come before the first frame; 4 and 7 follow gaps; the last two
  // carry no index and count on from the last one.
  const TArrival arrivals[] = {{0, true}, {2, true}, {4, true}, {7, true}, {8, true}, {0, false}, {0, false}};
  for (const TArrival& a : arrivals) {
    const std::vector<std::uint8_t> frame = CodedFrame(a.fileIndex ? a.index : 99);
    TMediaFrameNotice notice = YuvNotice(frame);
    notice.bFileIndex = a.fileIndex;
    notice.nFrameNumber = a.index;
    ASSERT_TRUE(engine.DeliverFrameToDpb(0, 41, notice));
  }
  EXPECT_EQ(engine.m_Channel[0].nFrameCount.load(), 11);
  std::vector<int> shown;
  std::int32_t counter = 0;
  for (int k = 0; k < 5; ++k) {
    ASSERT_TRUE(engine.DeliverChannelFrame(0, &counter, false));
    shown.push_back(engine.m_Channel[0].nShownFrame.load());
  }
  EXPECT_EQ(shown, (std::vector<int>{4, 7, 8, 9, 10}));
  EXPECT_EQ(DecodePort(owner.m_Ports, 0), 99);
  engine.m_Channel[0].pReader.store(nullptr);
}

TEST_F(FrameReceptionTest, AFullSceneOpensTheNextOrReportsAFullSceneQueue) {
  Prepare(kYuvFormat - 2, kWidth, kHeight, 3000);
  engine.m_Dpb.m_nSceneCapacity = 2;
  ASSERT_TRUE(engine.m_Dpb.AllocateBuffers());
  std::int32_t index = 0;
  ASSERT_TRUE(engine.m_Dpb.OpenChannelScene(0, 41, 0, 30, &index));
  const std::vector<std::uint8_t> frame = CodedFrame(0);
  const TMediaFrameNotice notice = YuvNotice(frame);
  for (int k = 0; k < 29; ++k) ASSERT_TRUE(engine.DeliverFrameToDpb(0, 41, notice));
  EXPECT_EQ(engine.m_Channel[0].nSceneCount.load(), 0);
  ASSERT_TRUE(engine.DeliverFrameToDpb(0, 41, notice));  // the 30th opens scene 1
  EXPECT_EQ(engine.m_Channel[0].nSceneCount.load(), 1);
  EXPECT_EQ(engine.m_Channel[0].nSceneFrames.load(), 0);
  EXPECT_EQ(engine.m_Channel[0].nSceneIndex.load(), 1);
  for (int k = 0; k < 29; ++k) ASSERT_TRUE(engine.DeliverFrameToDpb(0, 41, notice));
  // The scene queue (two scenes) is full: the 60th frame cannot open a third.
  EXPECT_FALSE(engine.DeliverFrameToDpb(0, 41, notice));
  EXPECT_EQ(sink.Texts(),
            (std::vector<std::string>{"Video scene buffer for channel = 0 is full",
                                      "Error: can not set video data to the DPB : Process ProcID=41"}));
  EXPECT_EQ(engine.m_Channel[0].nSceneCount.load(), 2);
}

TEST_F(FrameReceptionTest, DeliveryConvertsEachCachedFormatIntoThePort) {
  struct TCase {
    std::int32_t format;
    const char* name;
  } cases[] = {{PF_RGB32, "32-bit"}, {PF_RGB24, "24-bit"},     {PF_PACKED_24, "packed 24-bit"},
               {PF_DIB_8, "8-bit"},  {PF_YUV420_601, "4:2:0"}, {kYuvFormat - 2, "YUV layout"}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    engine.m_Dpb.FreeBuffers();
    Prepare(c.format, kWidth, kHeight);
    // A picture whose top-left pixel is white and every other pixel black,
    // so that a flipped or shifted copy shows.
    std::vector<std::uint8_t> data(static_cast<std::size_t>(engine.m_Dpb.m_nFrameSize[0]), 0);
    std::uint8_t table[4 + 8] = {0, 3, 2, 0, 0, 0, 0, 0, 255, 255, 255, 0};
    TMediaFrameNotice notice;
    notice.nWidth = kWidth;
    notice.nHeight = kHeight;
    notice.nChromaWidth = kWidth / 2;
    notice.nChromaHeight = kHeight / 2;
    const TFrameBuffer& layout = engine.m_Dpb.m_FrameRecord[0];
    if (c.format == PF_YUV420_601 || c.format == kYuvFormat - 2) {
      std::fill(data.begin(), data.begin() + kYSize, 16);
      std::fill(data.begin() + kYSize, data.end(), 128);
      data[0] = 235;
      notice.pY = data.data();
      notice.pCb = data.data() + kYSize;
      notice.pCr = data.data() + kYSize + kChromaSize;
    } else {
      // DIB rows are bottom-up: the top-left pixel is in the last row; the
      // packed rows are top-down.
      const int row = c.format == PF_PACKED_24 ? 0 : kHeight - 1;
      std::uint8_t* px = data.data() + static_cast<std::size_t>(row) * layout.nStride;
      if (c.format == PF_DIB_8)
        px[0] = 1;
      else
        std::memset(px, 255, static_cast<std::size_t>(layout.nBitsPerPixel / 8));
      notice.pRgbData = data.data();
      notice.nRgbSize = layout.nSize;
      notice.pColourTable = table;
      notice.nColourTableSize = sizeof table;
    }
    ASSERT_TRUE(engine.DeliverFrameToDpb(0, 41, notice));
    std::int32_t shown = 0;
    ASSERT_TRUE(engine.DeliverChannelFrame(0, &shown, false));
    EXPECT_EQ(shown, 1);
    VideoPort::TPicture picture = owner.m_Ports.Port(0).FrontBitmap();
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->Width(), kWidth);
    EXPECT_GT(picture->RowFromTop(0)[1], 200);           // top left: white
    EXPECT_LT(picture->RowFromTop(0)[4 + 1], 40);        // its right neighbour: black
    EXPECT_LT(picture->RowFromTop(kHeight - 1)[1], 40);  // bottom left: black
  }
}

TEST_F(FrameReceptionTest, ASizeChangeAsksForARescaleAndOtherwiseARepaint) {
  Prepare(kYuvFormat - 2, kWidth, kHeight);
  const std::vector<std::uint8_t> frame = CodedFrame(9);
  const TMediaFrameNotice notice = YuvNotice(frame);
  std::int32_t shown = 0;
  // Both pictures of the port start at 1 x 1: each is made to the frame's size once.
  for (int k = 0; k < 2; ++k) {
    ASSERT_TRUE(engine.DeliverFrameToDpb(0, 41, notice));
    ASSERT_TRUE(engine.DeliverChannelFrame(0, &shown, false));
    EXPECT_EQ(engine.TakePendingUpdates(), static_cast<std::uint32_t>(Zarn::ENGINE_UPDATE_RESCALE_0));
  }
  ASSERT_TRUE(engine.DeliverFrameToDpb(0, 41, notice));
  ASSERT_TRUE(engine.DeliverChannelFrame(0, &shown, false));
  EXPECT_EQ(engine.TakePendingUpdates(), static_cast<std::uint32_t>(Zarn::ENGINE_UPDATE_REPAINT_0));
  EXPECT_EQ(DecodePort(owner.m_Ports, 0), 9);
  // While stopping, frames are taken out without drawing.
  const std::vector<std::uint8_t> other = CodedFrame(10);
  ASSERT_TRUE(engine.DeliverFrameToDpb(0, 41, YuvNotice(other)));
  ASSERT_TRUE(engine.DeliverChannelFrame(0, &shown, true));
  EXPECT_EQ(DecodePort(owner.m_Ports, 0), 9);
  EXPECT_EQ(engine.m_Channel[0].nShownFrame.load(), 3);
  EXPECT_EQ(shown, 4);
  // Nothing waiting: the channel is idle and nothing changes.
  ASSERT_TRUE(engine.DeliverChannelFrame(0, &shown, false));
  EXPECT_TRUE(engine.m_Channel[0].bChannelIdle.load());
  EXPECT_EQ(shown, 4);
}

TEST_F(FrameReceptionTest, ATurnedPortGetsTheFrameInItsOrientation) {
  Prepare(kYuvFormat - 2, kWidth, kHeight);
  TVideoPortUpdate turn{};
  turn.nCommand = VPU_ORIENT;
  turn.nOrientation = ORIENT_ROTATE_180;
  turn.bAbsolute = 1;
  turn.bStoreOnly = 1;
  ASSERT_TRUE(owner.m_Ports.Port(0).UpdateVideoPort(turn));
  std::vector<std::uint8_t> data(kFrameBytes, 128);
  std::fill(data.begin(), data.begin() + kYSize, 16);
  data[0] = 235;  // the top-left pixel
  TMediaFrameNotice notice = YuvNotice(data);
  ASSERT_TRUE(engine.DeliverFrameToDpb(0, 41, notice));
  std::int32_t shown = 0;
  ASSERT_TRUE(engine.DeliverChannelFrame(0, &shown, false));
  VideoPort::TPicture picture = owner.m_Ports.Port(0).FrontBitmap();
  ASSERT_TRUE(picture);
  ASSERT_EQ(picture->Width(), kWidth);
  EXPECT_LT(picture->RowFromTop(0)[1], 40);
  EXPECT_GT(picture->RowFromTop(kHeight - 1)[4 * (kWidth - 1) + 1], 200);  // now at the bottom right
}

// The owner's replay hook and the replay's failure message come after the
// hand-off lock is given back: a hook (a recorder) may use the buffer.
TEST_F(FrameReceptionTest, TheReplayHookAndMessageComeWithoutTheHandOffLock) {
  Prepare(kYuvFormat - 2, kWidth, kHeight);
  const std::vector<std::uint8_t> frame = CodedFrame(6);
  ASSERT_TRUE(engine.DeliverFrameToDpb(0, 41, YuvNotice(frame)));
  auto lockIsFree = [&] {
    std::unique_lock<std::mutex> lock(engine.m_Dpb.HandOffLock(0), std::try_to_lock);
    return lock.owns_lock();
  };
  std::vector<bool> hookFree;
  owner.m_OnReplayed = [&] { hookFree.push_back(lockIsFree()); };
  ASSERT_TRUE(engine.ReplayChannelFrame(0, 0));
  ASSERT_TRUE(engine.GoToChannelFrame(0, true));
  EXPECT_EQ(hookFree, (std::vector<bool>{true, true}));
  owner.m_OnReplayed = nullptr;

  // A frame that cannot be converted: the message is shown unlocked.
  struct TLockCheckingSink : platform::IMessageSink {
    std::function<bool()> free;
    std::vector<std::pair<std::string, bool>> shown;
    int Show(const platform::TMessageBox& box) override {
      shown.emplace_back(box.text, free());
      return 0;
    }
  } checking;
  checking.free = lockIsFree;
  platform::TScopedMessageSink checkingScope(&checking);
  engine.m_Dpb.m_ePixelFormat[0] = TPixelFormat{23};  // no conversion for it
  EXPECT_FALSE(engine.ReplayChannelFrame(0, 0));
  ASSERT_EQ(checking.shown.size(), 1u);
  EXPECT_EQ(checking.shown[0], (std::pair<std::string, bool>{"Video data can not be processed", true}));
}

TEST_F(FrameReceptionTest, DeliveryWithoutStorageFails) {
  std::int32_t shown = 0;
  EXPECT_FALSE(engine.DeliverChannelFrame(0, &shown, false));
  EXPECT_EQ(shown, 0);
}

}  // namespace
}  // namespace engine_test
