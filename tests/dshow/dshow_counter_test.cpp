// Every container the program reads, played from files whose frames show
// their own index: a play hands on every frame of the file, in order, with
// its index in the file as its number, to a fast owner and to one that holds
// frames far longer than the stream's pace; the pictures are those of an
// independent decoder (ffmpeg); seeks stopped, paused and running land on
// the frame whose time is nearest the target.
//
// Colour: both decoders turn the same YCbCr samples into BGR with the BT.601
// matrix (pictures below 720 lines) at the file's range (full for Motion
// JPEG, limited for the others), GStreamer through videoconvert, ffmpeg
// through swscale; they differ in how they round and how they place the
// half-resolution chroma samples, hence the tolerance.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <thread>

#include "session_helpers.h"
#include "tests/support/media/counter_fixtures.h"

using namespace ZarnTypes;
using namespace dshow_test;
using namespace tovrin_test_media;
using DShowMgr::CDShowMgr;
using namespace std::chrono_literals;

namespace {

// Sessions of these tests play sound into a silent sink at the stream's pace.
const bool kAudioSinkSet = [] {
  setenv("TOVRIN_AUDIO_SINK", "fakesink", 1);
  return true;
}();

constexpr double kPeriod = 1.0 / kCounterFrameRate;
constexpr double kDuration = kCounterFrames * kPeriod;
// Mean and largest difference of one colour byte from ffmpeg's picture
// (measured: mean 0.9-1.4, largest 3-5). A neighbouring frame differs by a
// mean of more than 20: the pattern moves 4 pixels a frame.
struct TTolerance {
  double dMean;
  int nMax;
};
TTolerance ToleranceOf(TCounterFormat eFormat) {
  // PAL DV's chroma samples are sited differently by the two converters:
  // large differences along the picture's sharp colour edges (measured:
  // largest 79), small on average (1.7).
  if (eFormat == TCounterFormat::DV) return {2.0, 90};
  return {1.5, 8};
}

struct TSession {
  TOwner owner;
  CDShowMgr session;
  std::future<bool> result;

  void Start(const std::string& file) {
    owner.Build(file, SRC_STREAM, PF_RGB24, true);
    result = std::async(std::launch::async, [this] { return session.Run(&owner.request); });
  }
  ~TSession() {
    owner.stop = true;
    if (result.valid()) result.wait();
  }
};

bool WaitState(CDShowMgr& session, DShowMgr::TGraphState state) {
  for (int i = 0; i < 300 && session.GetState() != state; ++i) std::this_thread::sleep_for(10ms);
  return session.GetState() == state;
}

int Counter(const TSeenFrame& f) {
  return ReadCounter(f.rgb.data(), f.nWidth, f.nHeight, f.nBits, f.nStride);
}

// The frame a seek to a / b of a file of that duration should show: the
// one whose time is nearest, never one after the last.
int NearestFrame(int a, int b, double dDuration) {
  const double t = dDuration * a / b;
  return std::min<int>(kCounterFrames - 1, static_cast<int>(std::floor(t / kPeriod + 0.5)));
}

// Waits for the first frame after index `from` of the owner's list that is
// marked as the first after a seek; -1 when none came in time.
int WaitMarkedFrame(TOwner& owner, std::size_t from, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  do {
    const auto frames = owner.Frames();
    for (std::size_t i = from; i < frames.size(); ++i)
      if (frames[i].bDiscontinuity) return static_cast<int>(i);
    std::this_thread::sleep_for(5ms);
  } while (std::chrono::steady_clock::now() < deadline);
  return -1;
}

class CounterPlay : public ::testing::TestWithParam<TCounterFormat> {
 protected:
  void SetUp() override {
    m_File = CounterFile(GetParam());
    ASSERT_FALSE(m_File.path.empty()) << "could not make the " << CounterFormatName(GetParam()) << " file";
  }
  // Plays the file to its end and checks every frame handed on.
  void PlayAndCheckEveryFrame(int nSlowFirst, int nSlowLast, const TReferenceFrames* pReference) {
    TSession run;
    run.owner.callbackDelayMs = 200;
    run.owner.slowFrom = nSlowFirst;
    run.owner.slowFrames = nSlowLast + 1;
    run.Start(m_File.path.string());
    ASSERT_EQ(run.result.wait_for(30s), std::future_status::ready) << "the play did not end";
    EXPECT_TRUE(run.result.get());
    const auto frames = run.owner.Frames();
    EXPECT_EQ(run.session.FramesDropped(), 0u);
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kCounterFrames));
    double worstMean = 0.0;
    int worstMax = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const TSeenFrame& f = frames[i];
      ASSERT_EQ(f.nWidth, m_File.nWidth);
      ASSERT_EQ(f.nHeight, m_File.nHeight);
      EXPECT_TRUE(f.bFileIndex);
      EXPECT_EQ(f.nFrameNumber, static_cast<std::int64_t>(i)) << "frame " << i;
      EXPECT_EQ(Counter(f), static_cast<int>(i)) << "frame " << i;
      EXPECT_NEAR(f.dTime, i * kPeriod, 0.002) << "frame " << i;
      if (pReference) {
        const TPictureDifference d = ComparePictures(f.rgb.data(), f.nBits, f.nStride, *pReference, i);
        worstMean = std::max(worstMean, d.dMean);
        worstMax = std::max(worstMax, d.nMax);
      }
    }
    if (pReference) {
      EXPECT_LE(worstMean, ToleranceOf(GetParam()).dMean);
      EXPECT_LE(worstMax, ToleranceOf(GetParam()).nMax);
      RecordProperty("worst_mean_difference", std::to_string(worstMean));
      RecordProperty("worst_max_difference", std::to_string(worstMax));
    }
  }
  TCounterFile m_File;
};

// Two plain plays and one with an owner that holds frames 20 to 27 for
// 200 ms each, as the engine holds a scene's last frame until it is shown:
// the hand-off fills up, and the stream waits instead of dropping.
TEST_P(CounterPlay, EveryFrameInOrderWithItsFileIndexAndTheIndependentPicture) {
  const TReferenceFrames reference = DecodeWithFfmpeg(m_File);
  ASSERT_EQ(reference.frames.size(), static_cast<std::size_t>(kCounterFrames));
  {
    SCOPED_TRACE("first play");
    PlayAndCheckEveryFrame(-1, -1, &reference);
  }
  {
    SCOPED_TRACE("second play");
    PlayAndCheckEveryFrame(-1, -1, nullptr);
  }
  {
    SCOPED_TRACE("slow owner");
    PlayAndCheckEveryFrame(20, 27, nullptr);
  }
}

// Seeks while stopped and paused show the frame asked for at once (marked
// as the first after the seek) and leave the state as it was; a running
// seek's first marked frame is the target and the frames after it follow
// in order; the duration is the file's.
TEST_P(CounterPlay, SeeksLandOnTheNearestFrameStoppedPausedAndRunning) {
  TSession run;
  run.Start(m_File.path.string());
  ASSERT_TRUE(run.owner.WaitFrames(1));
  ASSERT_TRUE(WaitState(run.session, DShowMgr::GRAPH_RUNNING));
  DShowMgr::TMediaProgress progress;
  ASSERT_TRUE(run.session.GetPositionAndDuration(&progress));
  // The duration covers every frame (and no more than the sound that may
  // outlast the pictures by a little).
  const double duration = progress.nDuration / 1e7;
  EXPECT_GE(duration, kDuration - 0.001);
  EXPECT_LE(duration, kDuration + 0.1);

  struct Step {
    DShowMgr::TGraphState state;
    int a, b;
  } steps[] = {{DShowMgr::GRAPH_PAUSED, 11, 100},  {DShowMgr::GRAPH_PAUSED, 91, 100},
               {DShowMgr::GRAPH_PAUSED, 1, 3},     {DShowMgr::GRAPH_STOPPED, 37, 100},
               {DShowMgr::GRAPH_STOPPED, 99, 100}, {DShowMgr::GRAPH_STOPPED, 0, 100},
               {DShowMgr::GRAPH_RUNNING, 52, 100}, {DShowMgr::GRAPH_RUNNING, 13, 100}};
  for (const Step& step : steps) {
    SCOPED_TRACE(testing::Message() << "state " << step.state << ", seek to " << step.a << "/" << step.b);
    if (step.state == DShowMgr::GRAPH_PAUSED) {
      if (run.session.GetState() != DShowMgr::GRAPH_RUNNING) {
        ASSERT_EQ(run.session.Play(), 0);
      }
      ASSERT_EQ(run.session.Pause(), 0);
    } else if (step.state == DShowMgr::GRAPH_STOPPED) {
      ASSERT_EQ(run.session.Stop(), 0);
    } else {
      ASSERT_EQ(run.session.Play(), 0);
    }
    ASSERT_EQ(run.session.GetState(), step.state);
    const std::size_t before = run.owner.FrameCount();
    ASSERT_TRUE(run.session.SeekToFraction(step.a, step.b));
    EXPECT_EQ(run.session.GetState(), step.state);
    const int marked = WaitMarkedFrame(run.owner, before, 5s);
    ASSERT_GE(marked, 0) << "no frame marked as the first after the seek";
    const int expected = NearestFrame(step.a, step.b, duration);
    const auto frames = run.owner.Frames();
    const TSeenFrame& f = frames[marked];
    EXPECT_EQ(Counter(f), expected);
    EXPECT_EQ(f.nFrameNumber, expected);
    EXPECT_NEAR(f.dTime, expected * kPeriod, 0.002);
    if (step.state != DShowMgr::GRAPH_RUNNING) {
      // Nothing more while stopped or paused; the position is the frame's.
      std::this_thread::sleep_for(150ms);
      EXPECT_EQ(run.owner.FrameCount(), static_cast<std::size_t>(marked) + 1);
      DShowMgr::TMediaPosition position;
      ASSERT_TRUE(run.session.GetPosition(&position));
      EXPECT_NEAR(position.nPosition / 1e7, expected * kPeriod, 0.002);
    } else {
      // The frames after the target follow it, each with its own index.
      ASSERT_TRUE(run.owner.WaitFrames(static_cast<std::size_t>(marked) + 4, 5000));
      const auto later = run.owner.Frames();
      for (std::size_t i = marked; i < static_cast<std::size_t>(marked) + 4; ++i) {
        EXPECT_EQ(later[i].nFrameNumber, expected + static_cast<int>(i - marked));
        EXPECT_EQ(Counter(later[i]), later[i].nFrameNumber);
        EXPECT_FALSE(i > static_cast<std::size_t>(marked) && later[i].bDiscontinuity);
      }
    }
  }
  // A paused seek, then Play: the target first, then the frames after it.
  ASSERT_EQ(run.session.Pause(), 0);
  const std::size_t before = run.owner.FrameCount();
  ASSERT_TRUE(run.session.SeekToFraction(3, 5));
  const int marked = WaitMarkedFrame(run.owner, before, 5s);
  ASSERT_GE(marked, 0);
  ASSERT_EQ(run.session.Play(), 0);
  ASSERT_TRUE(run.owner.WaitFrames(static_cast<std::size_t>(marked) + 3, 5000));
  const auto frames = run.owner.Frames();
  for (int k = 0; k < 3; ++k) EXPECT_EQ(Counter(frames[marked + k]), NearestFrame(3, 5, duration) + k);
  // A seek that is not done (to the very end) still marks the next frame:
  // the owner, which drops frames after asking for a seek until a marked
  // one comes, never waits for ever.
  const std::size_t refusedAt = run.owner.FrameCount();
  EXPECT_FALSE(run.session.SeekToFraction(1, 1));
  EXPECT_GE(WaitMarkedFrame(run.owner, refusedAt, 5s), 0) << "no marked frame after a refused seek";
}

std::vector<TCounterFormat> GraphFormats() {
  std::vector<TCounterFormat> formats;
  for (TCounterFormat f : AllCounterFormats())
    if (f != TCounterFormat::RAW_YUV) formats.push_back(f);  // raw YUV is the engine's own reader's
  return formats;
}

INSTANTIATE_TEST_SUITE_P(Containers, CounterPlay, ::testing::ValuesIn(GraphFormats()),
                         [](const auto& info) { return CounterFormatName(info.param); });

// A 1920 x 1080 H.264 file with B-frames: large frames, decoded slower than
// small ones, reach an owner that holds some of them long, every one.
TEST(CounterPlayLarge, FullHdFramesAreNeverLost) {
  const TCounterFile file = CounterFile(TCounterFormat::MP4_H264, 1920, 1080);
  ASSERT_FALSE(file.path.empty());
  TSession run;
  run.owner.callbackDelayMs = 200;
  run.owner.slowFrom = 30;
  run.owner.slowFrames = 36;
  run.Start(file.path.string());
  ASSERT_EQ(run.result.wait_for(60s), std::future_status::ready);
  EXPECT_TRUE(run.result.get());
  const auto frames = run.owner.Frames();
  ASSERT_EQ(frames.size(), static_cast<std::size_t>(kCounterFrames));
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].nFrameNumber, static_cast<std::int64_t>(i));
    EXPECT_EQ(Counter(frames[i]), static_cast<int>(i));
  }
  EXPECT_EQ(run.session.FramesDropped(), 0u);
}

}  // namespace
