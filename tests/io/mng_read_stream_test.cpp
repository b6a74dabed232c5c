// The channel reader's MNG path: a stream of type 15 plays on the reader's
// own MNG player at the animation's timing, with the reader's pause,
// resume, stop, seek, position and time answered by that player.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "io/read_stream.h"
#include "tests/io/mng_test_files.h"
#include "tests/support/message_fixture.h"

namespace {

using namespace ZarnTypes;
using namespace mng_test;
using Clock = std::chrono::steady_clock;

template <typename TPredicate>
bool WaitFor(TPredicate done, std::chrono::milliseconds bound = std::chrono::milliseconds(5000)) {
  const auto end = Clock::now() + bound;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class MngReadStreamTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  std::atomic<bool> stop{false};
  std::atomic<bool> end{false};
  TReadSink frames;
  ReadStream::CReadStream reader{1};

  // Binds the reader to an MNG source of `count` index frames.
  void Bind(std::uint32_t count, std::uint32_t headerFrames) {
    const auto bytes = RecorderLayoutFile(
        6, 4, count, [](std::uint32_t i) { return MakeIndexFrame(PF_RGB24, 6, 4, i); }, headerFrames);
    tovrin_test::WriteAll(dir / "anim.mng", bytes);
    TMediaSource source;
    source.bOpen = true;
    source.eStreamType = ST_MNG;
    source.eFileFormat = FF_MNG;
    source.eFramePixelFormat = PF_RGB24;
    source.nWidth = 6;
    source.nHeight = 4;
    source.sPath = Path("anim.mng");
    ASSERT_TRUE(reader.SetSource(1, source));
    ReadStream::TReaderDelivery delivery;
    delivery.nProcId = 42;
    delivery.eSenderKind = MEDIA_SENDER_MNG;
    delivery.ePurpose = SRC_STREAM;
    delivery.pContext = &frames;
    delivery.pOwnerCallback = &TReadSink::Callback;
    delivery.pStopFlag = &stop;
    delivery.pEndFlag = &end;
    reader.SetDelivery(delivery);
  }
};

std::uint32_t FrameIndex(const TDelivered& d) { return IndexOf(CanvasPixel(d, 0, 0)); }

TEST_F(MngReadStreamTest, PlaysTheAnimationAtItsTimingAndResetsTheSeekFraction) {
  Bind(12, 12);
  DShowMgr::TMediaProgress progress{77, 88};
  EXPECT_TRUE(reader.GetPositionAndDuration(&progress));  // no header yet: left as it is
  EXPECT_EQ(progress.nPosition, 77);
  EXPECT_EQ(progress.nDuration, 88);
  reader.SetSeekRequest(0, 1);
  const auto start = Clock::now();
  EXPECT_TRUE(reader.Run());
  const auto took = Clock::now() - start;
  // 500 ms before playing and 11 delays of 33 ms between the frames.
  EXPECT_GE(took, std::chrono::milliseconds(500 + 11 * 30));
  EXPECT_TRUE(end.load());
  ASSERT_GE(frames.frames.size(), 12u);
  EXPECT_EQ(FrameIndex(frames.frames.back()), 11u);
  EXPECT_EQ(reader.m_nSeekNumerator.load(), 0);
  EXPECT_EQ(reader.m_nSeekDenominator.load(), 1);
  EXPECT_EQ(reader.MngPlayer().GetState(), MngMgr::MNG_STATE_STOPPED);
}

// While playing: position and duration by frame, the time of the frame
// shown, pause and resume, a seek, and the stop.
TEST_F(MngReadStreamTest, ControlsReachThePlayer) {
  Bind(200, 200);
  reader.SetSeekRequest(0, 1);
  bool result = false;
  std::thread t([&] { result = reader.Run(); });
  ASSERT_TRUE(WaitFor([&] { return frames.frameCount.load() >= 5; }));
  DShowMgr::TMediaProgress progress;
  ASSERT_TRUE(reader.GetPositionAndDuration(&progress));
  EXPECT_EQ(progress.nDuration, 200);
  EXPECT_GE(progress.nPosition, 3);
  EXPECT_GT(reader.GetPositionMs(), 0);
  DShowMgr::TMediaPosition position;
  EXPECT_TRUE(reader.GetPosition(&position));

  reader.Pause();
  EXPECT_EQ(reader.MngPlayer().GetState(), MngMgr::MNG_STATE_PAUSED);
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  const int paused = frames.frameCount.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(frames.frameCount.load(), paused);
  reader.Resume();
  EXPECT_EQ(reader.MngPlayer().GetState(), MngMgr::MNG_STATE_RUNNING);

  // Seek to 3 / 4 while playing: the next frame shown is frame 150.
  const int before = frames.frameCount.load();
  EXPECT_TRUE(reader.Seek(3, 4));
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> lock(frames.mutex);
    for (std::size_t i = static_cast<std::size_t>(before); i < frames.frames.size(); ++i)
      if (frames.frames[i].bDiscontinuity) return true;
    return false;
  }));
  {
    std::lock_guard<std::mutex> lock(frames.mutex);
    for (std::size_t i = static_cast<std::size_t>(before); i < frames.frames.size(); ++i)
      if (frames.frames[i].bDiscontinuity) {
        EXPECT_EQ(FrameIndex(frames.frames[i]), 150u);
        break;
      }
  }
  ASSERT_TRUE(WaitFor([&] { return reader.MngPlayer().GetFrameNumber() >= 152; }));
  ASSERT_TRUE(reader.GetPositionAndDuration(&progress));
  EXPECT_GE(progress.nPosition, 150);
  // The time is stored just after the frame count, at each refresh: wait
  // for it rather than read it once.
  EXPECT_TRUE(WaitFor([&] { return reader.GetPositionMs() >= 150 * 33; }, std::chrono::milliseconds(500)));

  const auto stopAt = Clock::now();
  reader.Stop();
  t.join();
  EXPECT_LT(Clock::now() - stopAt, std::chrono::milliseconds(300));
  EXPECT_TRUE(result);
  EXPECT_LT(frames.frameCount.load(), 200);
}

// Without a frame count the position is in bytes of the file.
TEST_F(MngReadStreamTest, PositionByBytesWithoutAFrameCount) {
  Bind(200, 0);
  reader.SetSeekRequest(0, 1);
  std::thread t([&] { reader.Run(); });
  ASSERT_TRUE(WaitFor([&] { return frames.frameCount.load() >= 3; }));
  DShowMgr::TMediaProgress progress;
  ASSERT_TRUE(reader.GetPositionAndDuration(&progress));
  EXPECT_EQ(progress.nDuration, static_cast<std::int64_t>(std::filesystem::file_size(dir / "anim.mng")));
  EXPECT_GT(progress.nPosition, 0);
  EXPECT_LT(progress.nPosition, progress.nDuration);
  stop = true;
  t.join();
}

// A session that starts with a stored fraction starts there.
TEST_F(MngReadStreamTest, SessionStartsAtTheStoredFraction) {
  Bind(20, 20);
  reader.SetSeekRequest(1, 2);
  EXPECT_TRUE(reader.Run());
  ASSERT_GE(frames.frames.size(), 2u);
  EXPECT_EQ(FrameIndex(frames.frames[0]), 0u);  // decoded before the seek is taken up
  EXPECT_EQ(FrameIndex(frames.frames[1]), 10u);
  EXPECT_TRUE(frames.frames[1].bDiscontinuity);
  EXPECT_EQ(FrameIndex(frames.frames.back()), 19u);
}

TEST_F(MngReadStreamTest, AFileThatCannotBeReadFailsTheRun) {
  Bind(3, 3);
  tovrin_test::WriteAll(dir / "anim.mng", std::vector<std::uint8_t>(64, 0x33));
  EXPECT_FALSE(reader.Run());
  EXPECT_TRUE(end.load());
  EXPECT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(reader.m_nSeekDenominator.load(), 1);
}

}  // namespace
