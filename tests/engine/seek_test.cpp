// Seeks of a playing channel and the numbering of file frames, with a
// stand-in for a media-graph session on a plain thread: frames carry their
// index in the file, a seek hands on its target marked as the first frame
// after it, and a paused session hands on just that frame (a paused graph
// prerolls its target). The document's order is followed: the engine's
// flush first, then the reader's seek.

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <numeric>

#include "platform/message_sink.h"
#include "tests/engine/engine_fixture.h"

namespace engine_test {
namespace {

using namespace ZarnTypes;

class TGraphReader final : public Zarn::IChannelReader {
 public:
  explicit TGraphReader(int count) : m_nCount(count) {}
  bool SetSource(int, const TMediaSource&) override { return true; }
  void SetDelivery(const ReadStream::TReaderDelivery& delivery) override { m_Delivery = delivery; }
  bool Run() override;
  void Pause() override {
    Set([&] { m_bPaused = true; });
  }
  void Resume() override {
    Set([&] { m_bPaused = false; });
  }
  void Stop() override {
    Set([] {});
  }
  std::int32_t GetFirstFrame() const override { return m_nFirst.load(); }
  std::int32_t GetFrameLimit() const override { return m_nLimit.load(); }
  void SetFrameRange(std::int32_t first, std::int32_t limit) {
    m_nFirst.store(first);
    m_nLimit.store(limit);
  }
  // The next frame handed on is `target`, marked as the first after a seek.
  void Seek(int target) {
    Set([&] { m_nSeek = target; });
  }
  // Frames the engine took or dropped so far (the callback returned).
  std::atomic<int> m_nHandedOn{0};
  std::atomic<int> m_nRunsEnded{0};

 private:
  template <class F>
  void Set(F change) {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      change();
    }
    m_Changed.notify_all();
  }
  bool StopRaised() const { return m_Delivery.pStopFlag && m_Delivery.pStopFlag->load(); }

  const int m_nCount;
  ReadStream::TReaderDelivery m_Delivery;
  std::atomic<std::int32_t> m_nFirst{0};
  std::atomic<std::int32_t> m_nLimit{0};
  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  bool m_bPaused = false;
  int m_nSeek = -1;
};

bool TGraphReader::Run() {
  std::vector<std::uint8_t> frame;
  Dib::TBitmapInfoHeader header{};
  TMediaFrameNotice notice;
  notice.ePixelFormat = TPixelFormat{kYuvFormat - 2};
  notice.nWidth = kWidth;
  notice.nHeight = kHeight;
  notice.nChromaWidth = kWidth / 2;
  notice.nChromaHeight = kHeight / 2;
  notice.pHeader = &header;
  notice.bFileIndex = true;
  const TMediaSender sender{m_Delivery.nProcId, m_Delivery.eSenderKind, m_Delivery.ePurpose,
                            m_Delivery.pContext};
  int k = 0;
  for (;;) {
    bool discontinuity = false;
    {
      std::unique_lock<std::mutex> lock(m_Mutex);
      // Paused: nothing is handed on but a seek's target.
      while (m_bPaused && m_nSeek < 0 && !StopRaised())
        m_Changed.wait_for(lock, std::chrono::milliseconds(5));
      if (StopRaised()) break;
      if (m_nSeek >= 0) {
        k = m_nSeek;
        m_nSeek = -1;
        discontinuity = true;
      }
    }
    if (k >= m_nCount) {
      m_Delivery.pEndFlag->store(true);
      // A file at its end stays open until the stop (or a seek back).
      std::unique_lock<std::mutex> lock(m_Mutex);
      while (m_nSeek < 0 && !StopRaised()) m_Changed.wait_for(lock, std::chrono::milliseconds(5));
      if (StopRaised()) break;
      continue;
    }
    frame = CodedFrame(k);
    notice.pY = frame.data();
    notice.pCb = frame.data() + kYSize;
    notice.pCr = frame.data() + kYSize + kChromaSize;
    notice.nFrameNumber = k;
    notice.bDiscontinuity = discontinuity;
    m_Delivery.pOwnerCallback(m_Delivery.pContext, MEDIA_NOTIFY_FRAME, &sender, &notice);
    m_nHandedOn.fetch_add(1);
    ++k;
  }
  m_nRunsEnded.fetch_add(1);
  return true;
}

std::vector<int> Range(int first, int end) {
  std::vector<int> v(static_cast<std::size_t>(std::max(0, end - first)));
  std::iota(v.begin(), v.end(), first);
  return v;
}

class SeekTest : public EngineTest {
 protected:
  // A media-graph channel of `count` frames.
  TGraphReader& OpenGraph(int channel, int count) {
    TMediaSource source = YuvSource(File("unused.avi"));
    source.eFileFormat = FF_AVI;
    source.eStreamType = ST_AVI;
    owner.m_Config.source[channel] = source;
    graphs[channel] = std::make_unique<TGraphReader>(count);
    owner.m_pReader[channel] = graphs[channel].get();
    return *graphs[channel];
  }
  // The channel-0 frame the engine stores as shown and the owner has also
  // heard of (the number is stored just before the owner is told).
  bool ShownAndTold(int frame) const {
    if (engine.m_Channel[0].nShownFrame.load() != frame) return false;
    const std::vector<int> shown = ShownSince(0);
    return !shown.empty() && shown.back() == frame;
  }
  // Frames shown on channel 0 from index `mark` of the owner's record on.
  std::vector<int> ShownSince(std::size_t mark) const {
    std::vector<int> frames;
    const std::vector<TShown> shown = owner.Shown();
    for (std::size_t i = mark; i < shown.size(); ++i)
      if (shown[i].channel == 0) frames.push_back(shown[i].frameNumber);
    return frames;
  }
  int Replay(std::atomic<bool>& flag) {
    flag.store(true);
    EXPECT_TRUE(WaitFor([&] { return engine.ReplayRequestsDone(); }, std::chrono::seconds(5)));
    const int shown = engine.m_Channel[0].nShownFrame.load();
    EXPECT_EQ(DecodePort(owner.m_Ports, 0), shown);
    return shown;
  }
  void Stop() {
    engine.StopPlaying();
    ASSERT_TRUE(WaitForSessionEnd());
    engine.Shutdown();
    for (const TShown& shown : owner.Shown()) EXPECT_EQ(shown.picture, shown.frameNumber);
    EXPECT_TRUE(sink.Texts().empty());
  }

  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope{&sink};
  std::unique_ptr<TGraphReader> graphs[4];
};

TEST_F(SeekTest, ARunningSeekShowsTheTargetNextAndThenPlaysOnFromIt) {
  for (const int target : {200, 5}) {  // forwards, then backwards
    SCOPED_TRACE(target);
    TGraphReader& graph = OpenGraph(0, 260);
    ASSERT_TRUE(engine.StartPlaying());
    ASSERT_TRUE(WaitFor([&] { return owner.ShownFrames(0).size() >= 40; }));
    engine.FlushChannel(0);
    const std::size_t mark = owner.Shown().size();
    graph.Seek(target);
    ASSERT_TRUE(WaitFor([&] { return ShownSince(mark).size() >= 40; }))
        << "no frame came after the seek; shown " << ShownSince(mark).size();
    // Before the seek: 0, 1, 2, ... without a gap; after it: the target
    // first, then every frame after it in order.
    const std::vector<int> before = owner.ShownFrames(0);
    EXPECT_EQ(std::vector<int>(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(mark)),
              Range(0, static_cast<int>(mark)));
    const std::vector<int> after = ShownSince(mark);
    EXPECT_EQ(after, Range(target, target + static_cast<int>(after.size())));
    Stop();
    owner.ClearShown();
  }
}

TEST_F(SeekTest, ASeekReleasesAProducerWaitingForRoomAndDropsItsFrame) {
  TGraphReader& graph = OpenGraph(0, 300);
  engine.m_Dpb.m_nFrameCapacity = 60;
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitFor([&] { return !owner.ShownFrames(0).empty(); }));
  engine.PausePlaying();
  // A paused graph hands nothing on; played on while the pacing thread is
  // paused, it fills the buffer and waits for room.
  graph.Resume();
  ASSERT_TRUE(WaitFor([&] { return engine.m_Dpb.FreeSpaceWaiters(0) == 1; }));
  const int handedOn = graph.m_nHandedOn.load();
  engine.FlushChannel(0);
  // The wait for room ends at once: a wait meant to end on the flush.
  EXPECT_TRUE(WaitFor([&] { return engine.m_Dpb.FreeSpaceWaiters(0) == 0; }, std::chrono::seconds(2)));
  graph.Pause();
  graph.Seek(150);
  // Paused: the target is shown as soon as it is stored.
  ASSERT_TRUE(WaitFor([&] { return ShownAndTold(150); }))
      << "shown " << engine.m_Channel[0].nShownFrame.load();
  EXPECT_EQ(DecodePort(owner.m_Ports, 0), 150);
  EXPECT_GT(graph.m_nHandedOn.load(), handedOn);
  const std::size_t mark = owner.Shown().size();
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitFor([&] { return ShownSince(mark).size() >= 20; }));
  const std::vector<int> after = ShownSince(mark);
  EXPECT_EQ(after, Range(151, 151 + static_cast<int>(after.size())));
  Stop();
}

TEST_F(SeekTest, APausedSeekShowsItsTargetAtOnceAndPlayGoesOnFromIt) {
  TGraphReader& graph = OpenGraph(0, 200);
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitFor([&] { return owner.ShownFrames(0).size() >= 10; }));
  engine.PausePlaying();
  // Frames handed on before the pause are cached and not shown yet.
  ASSERT_TRUE(WaitFor([&] {
    const int before = graph.m_nHandedOn.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return graph.m_nHandedOn.load() == before;
  }));
  engine.FlushChannel(0);
  graph.Seek(120);
  ASSERT_TRUE(WaitFor([&] { return ShownAndTold(120); }))
      << "shown " << engine.m_Channel[0].nShownFrame.load();
  EXPECT_EQ(DecodePort(owner.m_Ports, 0), 120);
  EXPECT_TRUE(engine.IsPaused());
  // The replay window holds the target alone: first and last are the target.
  EXPECT_EQ(Replay(engine.m_bGoFirst), 120);
  EXPECT_EQ(Replay(engine.m_bStepPrevious), 120);
  EXPECT_EQ(Replay(engine.m_bGoLast), 120);

  const std::size_t mark = owner.Shown().size();
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitFor([&] { return ShownSince(mark).size() >= 30; }));
  const std::vector<int> after = ShownSince(mark);
  EXPECT_EQ(after, Range(121, 121 + static_cast<int>(after.size())));
  // Played on past the target, the replay window holds no frame from
  // before it, however far back it is walked.
  engine.PausePlaying();
  EXPECT_GE(Replay(engine.m_bGoFirst), 120);
  for (int step = 0; step < 40; ++step) EXPECT_GE(Replay(engine.m_bStepPrevious), 120);
  Stop();
}

TEST_F(SeekTest, TheFrameRangeIsJudgedByTheFileIndexAcrossSeeks) {
  TGraphReader& graph = OpenGraph(0, 200);
  graph.SetFrameRange(10, 60);
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(
      WaitFor([&] { return engine.m_Channel[0].gate.Waiters() == 1 && owner.ShownFrames(0).size() == 50; }));
  EXPECT_EQ(owner.ShownFrames(0), Range(10, 60));
  // Held at frame 60. A seek back releases the producer, drops its frame,
  // and plays 20..59 again up to the limit.
  engine.FlushChannel(0);
  graph.Seek(20);
  ASSERT_TRUE(WaitFor([&] {
    return engine.m_Channel[0].gate.Waiters() == 1 && owner.ShownFrames(0).size() == 90;
  })) << "shown "
      << owner.ShownFrames(0).size();
  const std::vector<int> shown = owner.ShownFrames(0);
  EXPECT_EQ(std::vector<int>(shown.begin() + 50, shown.end()), Range(20, 60));
  // A seek before the first frame: the frames before it are counted, not stored.
  engine.FlushChannel(0);
  graph.Seek(4);
  ASSERT_TRUE(WaitFor([&] { return owner.ShownFrames(0).size() == 140; }));
  const std::vector<int> again = owner.ShownFrames(0);
  EXPECT_EQ(std::vector<int>(again.begin() + 90, again.end()), Range(10, 60));
  Stop();
}

// The oldest frame held, not the one oldest when the last frame was shown:
// the producer goes on filling slots after the pause.
TEST_F(SeekTest, FirstShowsTheOldestFrameTheBufferHoldsNow) {
  TFileReader& reader = OpenYuv(0, 200);
  reader.SetFrameRange(0, 45);
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(
      WaitFor([&] { return engine.m_Channel[0].gate.Waiters() == 1 && owner.ShownFrames(0).size() == 45; }));
  engine.PausePlaying();
  // Let the producer go on while paused: it fills the rest of its scene and
  // then waits for room.
  reader.SetFrameRange(0, 0);
  engine.m_Channel[0].gate.Pulse();
  ASSERT_TRUE(WaitFor([&] { return engine.m_Dpb.FreeSpaceWaiters(0) == 1; }));
  // The 31 slots hold the last 31 frames stored.
  const int newest = engine.m_Channel[0].nFrameCount.load() - 1;
  ASSERT_EQ(newest, 59);
  EXPECT_EQ(Replay(engine.m_bGoFirst), newest - 30);
  // Previous from the oldest wraps to the newest; Last is the frame shown last.
  EXPECT_EQ(Replay(engine.m_bStepPrevious), newest);
  EXPECT_EQ(Replay(engine.m_bGoLast), 44);
  EXPECT_EQ(Replay(engine.m_bStepNext), 45);
  Stop();
}

}  // namespace
}  // namespace engine_test
