// Sessions of the engine over generated raw YUV channels: what the ports
// show, in which order, and how sessions end.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <numeric>

#include "platform/message_sink.h"
#include "tests/engine/engine_fixture.h"

namespace engine_test {
namespace {

std::vector<int> Range(int first, int end) {
  std::vector<int> v(static_cast<std::size_t>(end - first));
  std::iota(v.begin(), v.end(), first);
  return v;
}

// The notice of one 4:2:0 frame of the engine tests' layout held in `frame`.
ZarnTypes::TMediaFrameNotice YuvNotice(const std::uint8_t* frame, int width, int height) {
  const int ySize = width * height;
  ZarnTypes::TMediaFrameNotice notice;
  notice.ePixelFormat = ZarnTypes::TPixelFormat{kYuvFormat - 2};
  notice.nWidth = width;
  notice.nHeight = height;
  notice.nChromaWidth = width / 2;
  notice.nChromaHeight = height / 2;
  notice.pY = frame;
  notice.pCb = frame + ySize;
  notice.pCr = frame + ySize + ySize / 4;
  return notice;
}

// Starts the session and pauses it once channel 0 has shown `frames` frames.
::testing::AssertionResult PauseOnceShown(Zarn::CZarn& engine, const TTestOwner& owner, std::size_t frames) {
  if (!engine.StartPlaying()) return ::testing::AssertionFailure() << "the session did not start";
  if (!WaitFor([&] { return owner.ShownFrames(0).size() == frames; }))
    return ::testing::AssertionFailure() << "shown " << owner.ShownFrames(0).size() << " of " << frames;
  engine.PausePlaying();
  return ::testing::AssertionSuccess();
}

// Raises one of the engine's replay requests and waits until it is carried
// out: the frame channel 0 shows then, which its port's picture must show.
struct TReplayer {
  Zarn::CZarn& engine;
  VideoPortHub::CVideoPortHub& ports;
  int operator()(std::atomic<bool>& request) const {
    request.store(true);
    EXPECT_TRUE(WaitFor([&] { return engine.ReplayRequestsDone(); }));
    const int shown = engine.m_Channel[0].nShownFrame.load();
    EXPECT_EQ(DecodePort(ports, 0), shown);
    return shown;
  }
};

TEST_F(EngineTest, PlaysEveryFrameOnceInOrderAndEndsByItself) {
  TFileReader& reader = OpenYuv(0, 45);
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();

  // Frames 0..44 across the release of the first scene: no gap, no repeat,
  // and the port showed each one as it was reported.
  EXPECT_EQ(owner.ShownFrames(0), Range(0, 45));
  for (const TShown& shown : owner.Shown()) EXPECT_EQ(shown.picture, shown.frameNumber);
  EXPECT_EQ(DecodePort(owner.m_Ports, 0), 44);
  EXPECT_EQ(reader.m_nRuns.load(), 1);
  EXPECT_EQ(reader.m_nRunsEnded.load(), 1);
  EXPECT_EQ(engine.m_nJobCount.load(), 0);
  EXPECT_EQ(owner.m_nSessionsEnded.load(), 1);
  EXPECT_FALSE(engine.StopRequested());
  // The queues are emptied at the end; the frame memory stays for the next
  // session.
  EXPECT_FALSE(engine.m_Dpb.FrameQueue(0).HasStorage());
  EXPECT_EQ(engine.m_Channel[0].nState.load(), ZarnTypes::SOURCE_STATE_LOADED);
}

// A Play with the channels' frame sizes and the capacity unchanged reuses the
// buffer's memory; a changed capacity allocates it anew. Every session shows
// every frame once, in order, with its own picture.
TEST_F(EngineTest, ASessionWithUnchangedSizesReusesTheBufferMemory) {
  struct TRun {
    std::int32_t capacity;
    std::uint64_t newBlocks;
  };
  const std::uint64_t before = engine.m_Dpb.FrameMemoryAllocations();
  std::uint64_t allocations = before;
  for (const TRun& run : {TRun{30, 1}, TRun{30, 0}, TRun{30, 0}, TRun{20, 1}, TRun{20, 0}}) {
    SCOPED_TRACE(run.capacity);
    OpenYuv(0, 45);
    owner.ClearShown();
    engine.m_Dpb.m_nFrameCapacity = run.capacity;
    ASSERT_TRUE(engine.StartPlaying());
    ASSERT_TRUE(WaitForSessionEnd());
    EXPECT_EQ(owner.ShownFrames(0), Range(0, 45));
    for (const TShown& shown : owner.Shown()) EXPECT_EQ(shown.picture, shown.frameNumber);
    EXPECT_EQ(engine.m_Dpb.FrameMemoryAllocations() - allocations, run.newBlocks);
    allocations = engine.m_Dpb.FrameMemoryAllocations();
    EXPECT_EQ(engine.m_Dpb.ChannelMemoryBytes(0),
              static_cast<std::uint64_t>(engine.m_Dpb.m_nFrameSize[0]) * (run.capacity + 1));
  }
  EXPECT_EQ(allocations - before, 2u);
  engine.Shutdown();
}

TEST_F(EngineTest, ReadersRunBelowNormalPriorityAndThePacingThreadAtNormal) {
  TFileReader& reader = OpenYuv(0, 3);
  const int own = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
  if (own > 15) GTEST_SKIP() << "the test runs at niceness " << own;
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitForSessionEnd());
  EXPECT_EQ(reader.m_nNiceness.load(), own + 2);
  EXPECT_EQ(owner.m_nPacingNiceness.load(), own);
}

// A channel's stream type decides its process: media-graph types run their
// reader at normal priority as a timed source, MPEG-1 (which the media
// session of a channel does not take) gets no process and ends the session.
TEST_F(EngineTest, MediaGraphChannelsRunAtNormalPriorityAndMpeg1GetsNoProcess) {
  const int own = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
  if (own > 15) GTEST_SKIP() << "the test runs at niceness " << own;
  struct TCase {
    std::int32_t format;
    bool runs;
  };
  for (const TCase& c : {TCase{ZarnTypes::FF_AVI, true}, TCase{ZarnTypes::FF_MOV, true},
                         TCase{ZarnTypes::FF_MP3, true}, TCase{ZarnTypes::FF_MPEG1, false}}) {
    SCOPED_TRACE(c.format);
    TFileReader& reader = OpenYuv(0, 3);
    owner.m_Config.source[0].eFileFormat = ZarnTypes::TFileFormat{c.format};
    owner.m_Config.source[0].eStreamType =
        ZarnTypes::TStreamType{ZarnTypes::FileFormatToStreamType(c.format)};
    ASSERT_TRUE(engine.StartPlaying());
    ASSERT_TRUE(WaitForSessionEnd());
    engine.Shutdown();
    EXPECT_EQ(reader.m_nRuns.load(), c.runs ? 1 : 0);
    if (c.runs) {
      EXPECT_EQ(reader.m_nNiceness.load(), own);
      EXPECT_EQ(owner.ShownFrames(0).size(), 3u);
    } else {
      EXPECT_TRUE(owner.Shown().empty());
    }
    EXPECT_FALSE(engine.m_Channel[0].bChannelStreaming.load());
    EXPECT_FALSE(engine.m_bStreaming.load());
    owner.ClearShown();
  }
}

// While a timed source plays, the pacing thread runs every 5 ms whatever the
// speed slider says; a frame-loop channel alone keeps to the slider.
TEST_F(EngineTest, ATimedSourcePacesAtFiveMillisecondsWhateverTheSpeed) {
  TFileReader& reader = OpenYuv(0, 12);
  owner.m_Config.source[0].eFileFormat = ZarnTypes::TFileFormat{ZarnTypes::FF_AVI};
  owner.m_Config.source[0].eStreamType = ZarnTypes::TStreamType{ZarnTypes::ST_AVI};
  owner.m_Config.nVideoOutPeriod = 1000;  // slowest slider position: one frame every 10 s
  engine.m_nSpeed.store(10);
  engine.m_nSpeedMax.store(100);
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitFor([&] { return owner.ShownFrames(0).size() == 12; }, std::chrono::seconds(3)));
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
  EXPECT_EQ(owner.ShownFrames(0), Range(0, 12));
  EXPECT_EQ(reader.m_nRunsEnded.load(), 1);
}

// The play-time readout: posted every N + 1 ticks (N = 1000 / tick period)
// while a timed source plays; never for stills, sequences or raw YUV alone.
TEST_F(EngineTest, TheTimeReadoutIsPostedOnlyWhileATimedSourcePlays) {
  OpenYuv(0, 3, /*holdAtEnd=*/true);
  owner.m_Config.nCtrlPeriod = 1;  // a readout would come every 31 ms
  ASSERT_TRUE(engine.StartPlaying());
  EXPECT_FALSE(WaitFor([&] { return owner.m_nTimeTicks.load() > 0; }, std::chrono::milliseconds(200)));
  engine.StopPlaying();
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();

  OpenYuv(0, 3, /*holdAtEnd=*/true);
  owner.m_Config.source[0].eFileFormat = ZarnTypes::TFileFormat{ZarnTypes::FF_WMV};
  owner.m_Config.source[0].eStreamType = ZarnTypes::TStreamType{ZarnTypes::ST_WMV};
  owner.m_Config.nCtrlPeriod = 100;  // N = 10: a readout every 11 ticks
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitFor([&] { return owner.m_nTimeTicks.load() > 0; }, std::chrono::seconds(5)));
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1000));
  engine.StopPlaying();
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
  EXPECT_EQ(owner.m_nTimeTicks.load(), 1);
}

TEST_F(EngineTest, AllFourChannelsPlayTogether) {
  const int counts[4] = {20, 33, 45, 61};
  for (int ch = 0; ch < 4; ++ch) OpenYuv(ch, counts[ch]);
  PlayChannels({0, 1, 2, 3});
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(owner.ShownFrames(ch), Range(0, counts[ch])) << "channel " << ch;
    EXPECT_EQ(DecodePort(owner.m_Ports, ch), counts[ch] - 1);
  }
  for (const TShown& shown : owner.Shown()) EXPECT_EQ(shown.picture, shown.frameNumber);
}

TEST_F(EngineTest, ACacheSmallerThanASceneStillPlaysEveryFrame) {
  // Ten slots: scenes hold ten frames, so the producer never waits for room
  // that cannot come.
  OpenYuv(0, 25);
  engine.m_Dpb.m_nFrameCapacity = 10;
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
  EXPECT_EQ(owner.ShownFrames(0), Range(0, 25));
  for (const TShown& shown : owner.Shown()) EXPECT_EQ(shown.picture, shown.frameNumber);
}

TEST_F(EngineTest, OnlyTheSelectedChannelsPlay) {
  TFileReader& first = OpenYuv(0, 5);
  TFileReader& second = OpenYuv(1, 5);
  // By default channel 1 alone plays.
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitForSessionEnd());
  EXPECT_EQ(first.m_nRuns.load(), 1);
  EXPECT_EQ(second.m_nRuns.load(), 0);
  PlayChannels({1});
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
  EXPECT_EQ(first.m_nRuns.load(), 1);
  EXPECT_EQ(second.m_nRuns.load(), 1);
  EXPECT_EQ(owner.ShownFrames(1), Range(0, 5));
  EXPECT_EQ(owner.m_nSessionsEnded.load(), 2);
}

TEST_F(EngineTest, ASessionWithNothingPlayableEndsAtOnce) {
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
  EXPECT_EQ(owner.m_nSessionsEnded.load(), 1);
  EXPECT_TRUE(owner.Shown().empty());
}

TEST_F(EngineTest, AnUnplayableFormatEndsTheSessionBeforeAnyProcess) {
  TFileReader& reader = OpenYuv(0, 5);
  TFileReader& other = OpenYuv(1, 5);
  owner.m_Config.source[1].eFileFormat = ZarnTypes::TFileFormat{7};  // ".264"
  PlayChannels({0, 1});
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
  EXPECT_EQ(reader.m_nRuns.load(), 0);
  EXPECT_EQ(other.m_nRuns.load(), 0);
}

TEST_F(EngineTest, AReaderThatCannotStartDoesNotKeepTheSessionAlive) {
  OpenYuv(0, 5);
  std::filesystem::remove(File("channel0.yuv"));
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
  EXPECT_TRUE(owner.Shown().empty());
}

// A reader whose Run is given by the test.
class TScriptedReader final : public Zarn::IChannelReader {
 public:
  explicit TScriptedReader(std::function<bool(const ReadStream::TReaderDelivery&)> run)
      : m_Run(std::move(run)) {}
  bool SetSource(int, const ZarnTypes::TMediaSource&) override { return true; }
  void SetDelivery(const ReadStream::TReaderDelivery& delivery) override { m_Delivery = delivery; }
  bool Run() override { return m_Run(m_Delivery); }
  void Pause() override {}
  void Resume() override {}
  void Stop() override {}
  std::int32_t GetFirstFrame() const override { return 0; }
  std::int32_t GetFrameLimit() const override { return 0; }

 private:
  std::function<bool(const ReadStream::TReaderDelivery&)> m_Run;
  ReadStream::TReaderDelivery m_Delivery;
};

// A still or raw YUV reader whose read fails returns from Run without
// raising its end flag and without a stop: its source has ended all the
// same, and the session ends once its frames are shown.
TEST_F(EngineTest, AReaderThatReturnsWithoutAStopHasEnded) {
  OpenYuv(0, 5);
  std::atomic<int> runs{0};
  TScriptedReader quitting([&](const ReadStream::TReaderDelivery& delivery) {
    runs.fetch_add(1);
    for (int k = 0; k < 4; ++k) {
      const std::vector<std::uint8_t> frame = CodedFrame(k);
      ZarnTypes::TMediaFrameNotice notice = YuvNotice(frame.data(), kWidth, kHeight);
      delivery.pFrameCallback(delivery.eSenderKind, delivery.ePurpose, delivery.nProcId, delivery.pContext,
                              &notice);
    }
    return true;  // the fifth frame could not be read
  });
  owner.m_pReader[0] = &quitting;
  ASSERT_TRUE(engine.StartPlaying());
  const bool ended = WaitForSessionEnd();
  if (!ended) engine.StopPlaying();
  ASSERT_TRUE(ended) << "the session ran on with " << engine.m_nJobCount.load() << " jobs";
  engine.Shutdown();
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(owner.ShownFrames(0), Range(0, 4));
}

// With the client-decoder flag set and no network role running, Stop still
// raises the readers' stop flags: the session ends and the engine closes.
TEST_F(EngineTest, AClientDecoderWithoutANetworkRoleStopsAndCloses) {
  const std::filesystem::path path = File("still.yuv");
  WriteRawYuv(path, 1);
  owner.m_Config.source[0] = YuvSource(path);
  owner.m_Config.bIsClientDecoder = true;
  TFileReader still(path, /*still=*/true);
  owner.m_pReader[0] = &still;
  ASSERT_TRUE(engine.StartPlaying());
  // A client decoder has no pacing thread: the still fills the buffer.
  ASSERT_TRUE(WaitFor([&] { return engine.m_Dpb.FreeSpaceWaiters(0) == 1; }));
  engine.StopPlaying();
  const bool ended = WaitFor([&] { return !engine.IsRunning(); }, std::chrono::seconds(5));
  if (!ended) still.ForceStop();  // so that the test fails instead of hanging
  ASSERT_TRUE(ended) << "the reader never saw the stop";
  engine.Shutdown();
  EXPECT_EQ(still.m_nRunsEnded.load(), 1);
  EXPECT_EQ(owner.m_nSessionsEnded.load(), 1);
}

// A stop that comes while the session starts its processes ends the session
// quietly: a scene refused because of the stop is no error.
TEST_F(EngineTest, AStopWhileTheSessionStartsShowsNoError) {
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope(&sink);
  TFileReader& reader = OpenYuv(0, 50, /*holdAtEnd=*/true);
  owner.m_OnPrepareRecorders = [&] { engine.StopPlaying(); };
  for (int cycle = 0; cycle < 5; ++cycle) {
    ASSERT_TRUE(engine.StartPlaying());
    ASSERT_TRUE(WaitForSessionEnd());
  }
  engine.Shutdown();
  owner.m_OnPrepareRecorders = nullptr;
  EXPECT_TRUE(sink.Texts().empty()) << sink.Texts().front();
  EXPECT_EQ(reader.m_nRuns.load(), 0);
  EXPECT_EQ(owner.m_nSessionsEnded.load(), 5);
}

TEST_F(EngineTest, FrameRangeSkipsStoresAndHoldsAtTheLimit) {
  TFileReader& reader = OpenYuv(0, 40);
  reader.SetFrameRange(10, 20);
  ASSERT_TRUE(engine.StartPlaying());
  // Frames 0..9 are counted but not stored; 10..19 are shown; the producer
  // then waits at frame 20.
  ASSERT_TRUE(
      WaitFor([&] { return engine.m_Channel[0].gate.Waiters() == 1 && owner.ShownFrames(0).size() == 10; }));
  EXPECT_EQ(owner.ShownFrames(0), Range(10, 20));
  EXPECT_EQ(engine.m_Channel[0].nFrameCount.load(), 20);
  for (const TShown& shown : owner.Shown()) EXPECT_EQ(shown.picture, shown.frameNumber);

  // A resume lets frame 20 through; the producer waits again at 21.
  engine.PausePlaying();
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(
      WaitFor([&] { return owner.ShownFrames(0).size() == 11 && engine.m_Channel[0].gate.Waiters() == 1; }));
  EXPECT_EQ(owner.ShownFrames(0).back(), 20);
  EXPECT_EQ(DecodePort(owner.m_Ports, 0), 20);
  EXPECT_EQ(reader.m_nResumes.load(), 1);

  // The stop releases it.
  engine.StopPlaying();
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
  EXPECT_EQ(reader.m_nRunsEnded.load(), 1);
  EXPECT_EQ(reader.m_nRefused.load(), 0);
}

TEST_F(EngineTest, TheDecoderLayerWithoutASourceStopsTheSession) {
  // No component fills the decoder layer: its delivery finds no storage,
  // and the pacing thread stops the session.
  TFileReader& reader = OpenYuv(0, 10, /*holdAtEnd=*/true);
  owner.m_Config.bDecoderH264 = true;
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
  EXPECT_EQ(reader.m_nRunsEnded.load(), 1);
  EXPECT_FALSE(engine.StopRequested());
}

TEST_F(EngineTest, StopWhilePausedEndsTheSession) {
  OpenYuv(0, 10, /*holdAtEnd=*/true);
  ASSERT_TRUE(PauseOnceShown(engine, owner, 10));
  engine.StopPlaying();
  ASSERT_TRUE(WaitForSessionEnd());
  EXPECT_FALSE(engine.IsPaused());
  engine.Shutdown();
}

TEST_F(EngineTest, StopWhileTheProducerWaitsForFreeSlotsEndsTheSession) {
  TFileReader& reader = OpenYuv(0, 100);
  owner.m_Config.nVideoOutDelay = 60000;  // the pacing thread shows nothing
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitFor([&] { return engine.m_Dpb.FreeSpaceWaiters(0) == 1; }));
  EXPECT_EQ(engine.m_nFramesTotal.load(), 30);  // the 30th frame opened the next scene, which waits
  engine.StopPlaying();
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
  EXPECT_EQ(reader.m_nRunsEnded.load(), 1);
  EXPECT_EQ(reader.m_nRefused.load(), 0);
  EXPECT_TRUE(owner.Shown().empty());
}

TEST_F(EngineTest, ClosingWhilePlayingStopsAndJoinsEverything) {
  auto ownEngine = std::make_unique<Zarn::CZarn>(&owner, &owner.m_Ports);
  TFileReader& reader = OpenYuv(0, 1000, /*holdAtEnd=*/true);
  ASSERT_TRUE(ownEngine->StartPlaying());
  ASSERT_TRUE(WaitFor([&] { return owner.ShownFrames(0).size() >= 3; }));
  ownEngine.reset();  // the document goes: the engine stops and joins its session
  EXPECT_EQ(reader.m_nRuns.load(), 1);
  EXPECT_EQ(reader.m_nRunsEnded.load(), 1);
  EXPECT_EQ(owner.m_nSessionsEnded.load(), 1);
}

TEST_F(EngineTest, AScenePlayedToItsEndKeepsTheLastFramesForReplay) {
  // 45 frames through 30 slots: once everything is shown, frames 14..44
  // remain in the cache (the oldest slot is the one after the last shown).
  OpenYuv(0, 45, /*holdAtEnd=*/true);
  ASSERT_TRUE(PauseOnceShown(engine, owner, 45));
  const TReplayer replay{engine, owner.m_Ports};
  EXPECT_EQ(replay(engine.m_bGoFirst), 14);
  EXPECT_EQ(replay(engine.m_bStepPrevious), 44);  // back from the oldest wraps to the newest
  EXPECT_EQ(replay(engine.m_bGoLast), 44);
  EXPECT_EQ(replay(engine.m_bStepPrevious), 43);
  EXPECT_EQ(replay(engine.m_bStepNext), 44);
  EXPECT_EQ(replay(engine.m_bStepNext), 14);
  engine.StopPlaying();
  ASSERT_TRUE(WaitForSessionEnd());
}

TEST_F(EngineTest, ReplayWalksOnlyTheFramesThatWereStored) {
  OpenYuv(0, 12, /*holdAtEnd=*/true);
  ASSERT_TRUE(PauseOnceShown(engine, owner, 12));
  const TReplayer replay{engine, owner.m_Ports};
  EXPECT_EQ(replay(engine.m_bStepPrevious), 10);
  EXPECT_EQ(replay(engine.m_bStepNext), 11);
  // Slots 12..30 were never written: forwards from the last frame wraps to
  // the first, backwards from the first to the last.
  EXPECT_EQ(replay(engine.m_bStepNext), 0);
  EXPECT_EQ(replay(engine.m_bStepPrevious), 11);
  EXPECT_EQ(replay(engine.m_bGoFirst), 0);
  EXPECT_EQ(replay(engine.m_bStepNext), 1);
  EXPECT_EQ(replay(engine.m_bGoLast), 11);

  // A channel set to reverse replay steps the other way.
  engine.m_Channel[0].bReverseReplay.store(true);
  EXPECT_EQ(replay(engine.m_bStepNext), 10);
  EXPECT_EQ(replay(engine.m_bStepPrevious), 11);
  engine.m_Channel[0].bReverseReplay.store(false);

  // Continuous replay backwards moves on by itself until switched off.
  engine.SetReplayBack(true);
  ASSERT_TRUE(WaitFor([&] { return engine.m_Channel[0].nShownFrame.load() <= 5; }));
  engine.SetReplayBack(false);
  engine.StopPlaying();
  ASSERT_TRUE(WaitForSessionEnd());
}

TEST_F(EngineTest, AStepAskedForWhileOneIsShownIsCarriedOutToo) {
  OpenYuv(0, 12, /*holdAtEnd=*/true);
  ASSERT_TRUE(PauseOnceShown(engine, owner, 12));
  engine.m_bGoFirst.store(true);
  ASSERT_TRUE(WaitFor([&] { return engine.ReplayRequestsDone(); }));
  ASSERT_EQ(engine.m_Channel[0].nShownFrame.load(), 0);
  // The user presses Next again while the first step's picture is shown.
  std::atomic<int> replayed{0};
  owner.m_OnReplayed = [&] {
    if (replayed.fetch_add(1) == 0) engine.m_bStepNext.store(true);
  };
  engine.m_bStepNext.store(true);
  EXPECT_TRUE(WaitFor([&] { return replayed.load() >= 2 && engine.ReplayRequestsDone(); }));
  EXPECT_EQ(engine.m_Channel[0].nShownFrame.load(), 2);
  EXPECT_EQ(DecodePort(owner.m_Ports, 0), 2);
  engine.StopPlaying();
  ASSERT_TRUE(WaitForSessionEnd());
  owner.m_OnReplayed = nullptr;
}

// A reader's run over large frames, each one flat: even frames black, odd
// frames white, handed on without end until the stop.
constexpr int kFlatWidth = 640;
constexpr int kFlatHeight = 480;
bool RunFlatFrames(const ReadStream::TReaderDelivery& delivery) {
  const int ySize = kFlatWidth * kFlatHeight;
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(ySize * 3 / 2), 128);
  ZarnTypes::TMediaFrameNotice notice = YuvNotice(frame.data(), kFlatWidth, kFlatHeight);
  for (int k = 0; !delivery.pStopFlag->load(); ++k) {
    std::fill(frame.begin(), frame.begin() + ySize, k % 2 ? 235 : 16);
    delivery.pFrameCallback(delivery.eSenderKind, delivery.ePurpose, delivery.nProcId, delivery.pContext,
                            &notice);
  }
  return true;
}

// 1 or 0 for a flat white or black picture of the flat frames' size, -1
// for anything else (a torn picture has rows of two frames).
int FlatLevel(VideoPortHub::CVideoPortHub& ports, int channel) {
  VideoPort::TPicture picture = ports.Port(channel).FrontBitmap();
  if (!picture || picture->Width() != kFlatWidth || picture->Height() != kFlatHeight) return -1;
  int level = -1;
  for (int y = 0; y < picture->Height(); y += 7) {
    const int g = picture->RowFromTop(y)[4 * (y % picture->Width()) + 1];
    const int b = g > 200 ? 1 : g < 40 ? 0 : -1;
    if (b < 0 || (level >= 0 && b != level)) return -1;
    level = b;
  }
  return level;
}

TEST_F(EngineTest, ReplayedFramesAreNeverTornByARunningProducer) {
  // Replay steps taken while the producer keeps writing new frames into the
  // slots the pacing thread frees: each replayed picture is the whole frame
  // it reports, never rows of two frames.
  ZarnTypes::TMediaSource source = YuvSource(File("flat.yuv"));
  source.nWidth = kFlatWidth;
  source.nHeight = kFlatHeight;
  owner.m_Config.source[0] = source;
  TScriptedReader flat(&RunFlatFrames);
  owner.m_pReader[0] = &flat;
  engine.m_Dpb.m_nFrameCapacity = 10;
  std::vector<int> levels;
  std::vector<int> numbers;
  owner.m_OnReplayed = [&] {
    levels.push_back(FlatLevel(owner.m_Ports, 0));
    numbers.push_back(engine.m_Channel[0].nShownFrame.load());
  };
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitFor([&] { return owner.Shown().size() >= 5; }));
  const std::size_t playedBefore = owner.Shown().size();
  for (int step = 0; step < 300; ++step) {
    ASSERT_TRUE(engine.ReplayChannelFrame(0, step % 3 == 0 ? -1 : 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the pacing thread's turn
  }
  const std::size_t playedDuring = owner.Shown().size() - playedBefore;
  engine.StopPlaying();
  ASSERT_TRUE(WaitForSessionEnd());
  owner.m_OnReplayed = nullptr;
  // The producer and the pacing thread really ran during the replay.
  EXPECT_GT(playedDuring, 10u);
  ASSERT_EQ(levels.size(), 300u);
  for (std::size_t i = 0; i < levels.size(); ++i)
    ASSERT_EQ(levels[i], numbers[i] % 2) << "replay " << i << " of frame " << numbers[i];
}

TEST_F(EngineTest, ManyStartPauseReplayStopCyclesEndCleanly) {
  for (int ch = 0; ch < 4; ++ch) OpenYuv(ch, 200, /*holdAtEnd=*/ch % 2 == 0);
  PlayChannels({0, 1, 2, 3});
  for (int ch = 0; ch < 4; ++ch) engine.m_Channel[ch].bReplayEnable.store(true);
  for (int cycle = 0; cycle < 25; ++cycle) {
    SCOPED_TRACE(cycle);
    owner.ClearShown();
    ASSERT_TRUE(engine.StartPlaying());
    // Every cycle shows frames on every channel before it is paused or stopped.
    ASSERT_TRUE(WaitFor([&] {
      for (int ch = 0; ch < 4; ++ch)
        if (owner.ShownFrames(ch).size() < 3) return false;
      return true;
    })) << "a channel showed no frame";
    if (cycle % 2 == 0) {
      engine.PausePlaying();
      engine.StepPrevious();
      engine.GoFirst();
      engine.StepNext();
      if (cycle % 4 == 0) engine.StartPlaying();
    }
    engine.StopPlaying();
    ASSERT_TRUE(WaitForSessionEnd());
    // Each session numbers its frames from 0, one after the other.
    for (int ch = 0; ch < 4; ++ch) {
      const std::vector<int> frames = owner.ShownFrames(ch);
      EXPECT_EQ(frames, Range(0, static_cast<int>(frames.size()))) << "channel " << ch;
    }
    for (const TShown& shown : owner.Shown()) EXPECT_EQ(shown.picture, shown.frameNumber);
    for (const TShown& shown : owner.Replayed()) EXPECT_EQ(shown.picture, shown.frameNumber);
  }
  engine.Shutdown();
  EXPECT_EQ(owner.m_nSessionsEnded.load(), 25);
  EXPECT_EQ(engine.m_nJobCount.load(), 0);
  for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(m_Readers[ch]->m_nRuns.load(), m_Readers[ch]->m_nRunsEnded.load());
}

// A second session applies the frame range to its own frames: numbered
// from 0 again, skipped up to the first frame and held at the limit.
TEST_F(EngineTest, ASecondSessionNumbersFromZeroAndAppliesItsFrameRangeAgain) {
  TFileReader& reader = OpenYuv(0, 40);
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitForSessionEnd());
  EXPECT_EQ(owner.ShownFrames(0), Range(0, 40));
  owner.ClearShown();
  reader.SetFrameRange(10, 20);
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitFor([&] {
    return engine.m_Channel[0].gate.Waiters() == 1 && owner.ShownFrames(0).size() == 10;
  })) << "shown "
      << owner.ShownFrames(0).size();
  EXPECT_EQ(owner.ShownFrames(0), Range(10, 20));
  engine.StopPlaying();
  ASSERT_TRUE(WaitForSessionEnd());
}

TEST(PacingDelay, FollowsTheSpeedSliderUnlessAStreamPlaysOrTheSessionStops) {
  struct TCase {
    std::int32_t speed, speedMax, period;
    bool streaming, paused, stopping;
    std::int32_t delay;
  } cases[] = {
      {55, 100, 33, false, false, false, 165},  // (100 - 55 + 10) / 10 x 33
      {100, 100, 33, false, false, false, 33},  // full speed: the period
      {10, 100, 33, false, false, false, 330},  // slowest: ten periods
      {0, 0, 40, false, false, false, 40},      // before the controller pane exists
      {55, 100, 33, true, false, false, 5},     // a media graph plays: every 5 ms
      {55, 100, 33, true, true, false, 165},    // ... unless paused
      {55, 100, 33, false, false, true, 5},     // stopping
      {120, 100, 33, false, false, false, 33},  // out of range: never below the period
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(Zarn::CZarn::PacingDelay(c.speed, c.speedMax, c.period, c.streaming, c.paused, c.stopping),
              c.delay)
        << c.speed << " " << c.speedMax << " " << c.period;
  }
}

// A fault the engine reports becomes its status text (the info line) and
// asks for a full update; the next session starts with the status cleared.
TEST_F(EngineTest, AFaultIsTheStatusTextUntilTheNextSessionStarts) {
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope(&sink);
  EXPECT_EQ(engine.StatusText(), "");
  ASSERT_FALSE(engine.StepLayerFrame(true, 0));  // no layer frame to show
  EXPECT_EQ(engine.StatusText(), "Video data were not processed");
  EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"Video data were not processed"}));
  EXPECT_NE(engine.TakePendingUpdates() & Zarn::ENGINE_UPDATE_EVERYTHING, 0u);
  OpenYuv(0, 5);
  ASSERT_TRUE(engine.StartPlaying());
  EXPECT_EQ(engine.StatusText(), "");
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
}

}  // namespace
}  // namespace engine_test
