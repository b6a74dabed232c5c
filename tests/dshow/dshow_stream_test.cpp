// Streaming sessions: every frame to a fast owner, whole frames to a slow
// one, stopping from every state, seeks, position, volume and sound.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <thread>

#include "dshow_fixtures.h"
#include "session_helpers.h"

using namespace ZarnTypes;
using namespace dshow_test;
using DShowMgr::CDShowMgr;
using namespace std::chrono_literals;

namespace {

// A session running on its own thread, as a channel reader runs it.
struct TRunning {
  TOwner owner;
  CDShowMgr session;
  std::future<bool> result;

  void Start(const std::string& file, TPixelFormat ePixel = PF_RGB24) {
    owner.Build(file, SRC_STREAM, ePixel, true);
    result = std::async(std::launch::async, [this] { return session.Run(&owner.request); });
  }
  // Stops the session and tells whether Run returned within the time.
  bool StopWithin(std::chrono::milliseconds limit) {
    owner.stop = true;
    return result.wait_for(limit) == std::future_status::ready;
  }
  ~TRunning() {
    owner.stop = true;
    if (result.valid()) result.wait();
  }
};

double Gain(int millibel) { return millibel <= -10000 ? 0.0 : std::pow(10.0, millibel / 2000.0); }

// The decoded frame on screen at a time: the last one that starts at or
// before it.
std::size_t FrameAt(const std::vector<TDecodedFrame>& frames, double dTime) {
  std::size_t index = 0;
  while (index + 1 < frames.size() && frames[index + 1].dTime <= dTime + 1e-3) ++index;
  return index;
}

int BestMatch(const std::vector<TDecodedFrame>& frames, const TSeenFrame& f) {
  int best = -1, bestDiff = 256;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const int d = MaxDifference(f.rgb.data(), f.nBits, f.nStride, frames[i]);
    if (d < bestDiff) bestDiff = d, best = static_cast<int>(i);
  }
  return best;
}

// Waits until no frame has come for 200 ms (frames on their way when the
// graph paused have arrived).
void WaitQuiet(TOwner& owner) {
  std::size_t count = owner.FrameCount();
  for (int i = 0; i < 50; ++i) {
    std::this_thread::sleep_for(200ms);
    const std::size_t now = owner.FrameCount();
    if (now == count) return;
    count = now;
  }
}

bool WaitState(CDShowMgr& session, DShowMgr::TGraphState state) {
  for (int i = 0; i < 200 && session.GetState() != state; ++i) std::this_thread::sleep_for(10ms);
  return session.GetState() == state;
}

}  // namespace

TEST(DShowStream, FastOwnerGetsEveryFrameInOrderAndUpright) {
  struct Case {
    const char* file;
    TPixelFormat pixel;
    int bits;
  } cases[] = {{"test.mp4", PF_RGB24, 24}, {"test.avi", PF_RGB32, 32}};
  for (const Case& c : cases) {
    const auto file = Fixture(c.file);
    ASSERT_FALSE(file.empty());
    const auto reference = DecodeFrames(file);
    ASSERT_EQ(reference.size(), static_cast<std::size_t>(kFrames));
    TRunning run;
    run.Start(file.string(), c.pixel);
    ASSERT_EQ(run.result.wait_for(20s), std::future_status::ready) << c.file;
    EXPECT_TRUE(run.result.get()) << c.file;
    EXPECT_TRUE(run.owner.end.load());
    const auto frames = run.owner.Frames();
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFrames)) << c.file;
    EXPECT_EQ(run.session.FramesDropped(), 0u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const TSeenFrame& f = frames[i];
      EXPECT_EQ(f.ePixelFormat, c.pixel);
      EXPECT_EQ(f.nBits, c.bits);
      EXPECT_TRUE(f.bHeaderBottomUp);
      EXPECT_EQ(f.nWidth, kWidth);
      EXPECT_EQ(f.nHeight, kHeight);
      EXPECT_EQ(f.nRgbSize, f.nStride * kHeight);
      EXPECT_NEAR(f.dTime, i * 0.04, 1e-3) << c.file << " frame " << i;
      EXPECT_EQ(f.nFrameNumber, static_cast<std::int64_t>(i)) << c.file;
      EXPECT_TRUE(f.bFileIndex);
      EXPECT_EQ(MaxDifference(f.rgb.data(), c.bits, f.nStride, reference[i]), 0) << c.file << " frame " << i;
    }
  }
}

// An owner that holds frames far longer than the stream's pace (the engine
// holds a scene's last frame until it is shown) loses none of a file's
// frames: the stream waits for it. Each frame is whole, the file's own.
TEST(DShowStream, SlowOwnerGetsEveryFrameWholeAndInOrder) {
  const auto file = Fixture("test.mp4");
  ASSERT_FALSE(file.empty());
  const auto reference = DecodeFrames(file);
  ASSERT_EQ(reference.size(), static_cast<std::size_t>(kFrames));
  TRunning run;
  // 200 ms for each of the first frames: the hand-off fills up while the
  // stream runs on at 40 ms a frame.
  run.owner.slowFrames = 8;
  run.owner.callbackDelayMs = 200;
  run.Start(file.string());
  ASSERT_EQ(run.result.wait_for(20s), std::future_status::ready);
  EXPECT_TRUE(run.result.get());
  const auto frames = run.owner.Frames();
  ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFrames));
  EXPECT_EQ(run.session.FramesDropped(), 0u);
  EXPECT_EQ(run.session.FramesReceived(), static_cast<std::uint64_t>(kFrames));
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].nFrameNumber, static_cast<std::int64_t>(i));
    EXPECT_NEAR(frames[i].dTime, reference[i].dTime, 1e-3);
    EXPECT_EQ(MaxDifference(frames[i].rgb.data(), 24, frames[i].nStride, reference[i]), 0) << "frame " << i;
  }
}

// The owner's stop byte ends the session from every state within the
// bound of the wait loop and the notification thread (1.1 s).
TEST(DShowStream, StopEndsTheSessionFromEveryState) {
  const auto file = Fixture("test.mp4");
  ASSERT_FALSE(file.empty());
  enum Where { OPENING, RUNNING, PAUSED, STOPPED, SEEKED };
  for (Where where : {OPENING, RUNNING, PAUSED, STOPPED, SEEKED}) {
    TRunning run;
    if (where == OPENING) run.owner.stop = true;
    run.Start(file.string());
    if (where != OPENING) {
      ASSERT_TRUE(run.owner.WaitFrames(1)) << where;
      ASSERT_TRUE(WaitState(run.session, DShowMgr::GRAPH_RUNNING));
    }
    if (where == PAUSED || where == SEEKED) {
      EXPECT_EQ(run.session.Pause(), 0);
    }
    if (where == STOPPED) {
      EXPECT_EQ(run.session.Stop(), 0);
    }
    if (where == SEEKED) {
      EXPECT_TRUE(run.session.SeekToFraction(1, 3));
    }
    EXPECT_TRUE(run.StopWithin(2500ms)) << "state " << where;
    EXPECT_TRUE(run.owner.end.load()) << where;
    EXPECT_FALSE(run.session.IsBusy()) << where;
  }
}

// A file's streaming thread waits for a slow owner without a time limit;
// the owner's stop still ends the session at once: the wait ends on the
// stop, and nothing waits for the streaming thread before it has ended.
// Only the owner's own call in progress is waited for.
TEST(DShowStream, StopEndsTheSessionWhileTheStreamWaitsForASlowOwner) {
  const auto file = Fixture("test.mp4");
  ASSERT_FALSE(file.empty());
  TRunning run;
  run.owner.callbackDelayMs = 400;
  run.Start(file.string());
  ASSERT_TRUE(run.owner.WaitFrames(3, 10000));
  // By now the hand-off is full and the streaming thread waits for room.
  std::this_thread::sleep_for(200ms);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(run.StopWithin(3000ms)) << "the session did not end after the stop";
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3000ms);
  EXPECT_LT(run.owner.FrameCount(), static_cast<std::size_t>(kFrames));
  EXPECT_TRUE(run.owner.end.load());
}

TEST(DShowStream, PlayPauseAndStopMoveOnlyFromTheirStates) {
  const auto file = Fixture("test.mp4");
  TRunning run;
  run.Start(file.string());
  ASSERT_TRUE(run.owner.WaitFrames(1));
  ASSERT_TRUE(WaitState(run.session, DShowMgr::GRAPH_RUNNING));
  EXPECT_EQ(run.session.Play(), 0);  // already running: nothing
  EXPECT_EQ(run.session.GetState(), DShowMgr::GRAPH_RUNNING);
  EXPECT_EQ(run.session.Stop(), 0);
  EXPECT_EQ(run.session.GetState(), DShowMgr::GRAPH_STOPPED);
  EXPECT_EQ(run.session.Pause(), 0);  // only from running
  EXPECT_EQ(run.session.GetState(), DShowMgr::GRAPH_STOPPED);
  // Stopped keeps the position: no frames come, and playing goes on. Frames
  // decoded before the stop may still be on their way to the owner.
  WaitQuiet(run.owner);
  const std::size_t held = run.owner.FrameCount();
  std::this_thread::sleep_for(200ms);
  EXPECT_LE(run.owner.FrameCount(), held + 1);
  EXPECT_EQ(run.session.Play(), 0);
  EXPECT_EQ(run.session.GetState(), DShowMgr::GRAPH_RUNNING);
  EXPECT_TRUE(run.owner.WaitFrames(held + 3));
}

namespace {
struct SeekCase {
  const char* file;
  double tolerance;  // seconds a seek may land from its target
  // H.264 in FLV has no seek index: a seek lands on a frame decoded without
  // its reference frames, so its picture is only near the file's.
  bool bExactPicture = true;
};
class SeekInContainer : public ::testing::TestWithParam<SeekCase> {};
}  // namespace

// Seeks while paused show the frame at the target (within the container's
// landing tolerance) and stay paused; a seek on a running graph keeps it
// running. The frame shown is the file's frame at the reported time.
TEST_P(SeekInContainer, LandsNearTheTargetAndKeepsTheState) {
  const auto file = Fixture(GetParam().file);
  ASSERT_FALSE(file.empty());
  const auto reference = DecodeFrames(file);
  ASSERT_FALSE(reference.empty());
  TRunning run;
  run.Start(file.string());
  ASSERT_TRUE(run.owner.WaitFrames(1));
  ASSERT_TRUE(WaitState(run.session, DShowMgr::GRAPH_RUNNING));
  ASSERT_EQ(run.session.Pause(), 0);
  WaitQuiet(run.owner);
  DShowMgr::TMediaProgress progress;
  ASSERT_TRUE(run.session.GetPositionAndDuration(&progress));
  const double duration = progress.nDuration / 1e7;
  EXPECT_NEAR(duration, 2.0, 0.15);

  struct Target {
    int a, b;
  } targets[] = {{0, 100}, {25, 100}, {50, 100}, {75, 100}, {49, 50}};
  for (const Target& t : targets) {
    const std::size_t before = run.owner.FrameCount();
    ASSERT_TRUE(run.session.SeekToFraction(t.a, t.b)) << t.a << "/" << t.b;
    ASSERT_TRUE(run.owner.WaitFrames(before + 1, 5000)) << "no frame after seeking to " << t.a << "/" << t.b;
    const TSeenFrame f = run.owner.Frames().back();
    const double target = duration * t.a / t.b;
    EXPECT_NEAR(f.dTime, target, GetParam().tolerance) << t.a << "/" << t.b;
    const auto& expected = reference[FrameAt(reference, f.dTime)];
    if (GetParam().bExactPicture) {
      EXPECT_EQ(MaxDifference(f.rgb.data(), 24, f.nStride, expected), 0)
          << "frame at " << f.dTime << " looks like frame " << BestMatch(reference, f);
    }
    EXPECT_EQ(run.session.GetState(), DShowMgr::GRAPH_PAUSED);
    DShowMgr::TMediaPosition position;
    ASSERT_TRUE(run.session.GetPosition(&position));
    EXPECT_EQ(position.eKind, DShowMgr::MEDIA_POS_STREAM_TIME);
    EXPECT_NEAR(position.nPosition / 1e7, f.dTime, GetParam().tolerance + 0.05);
  }
  // Paused: no frames flow after the seek's frame.
  const std::size_t paused = run.owner.FrameCount();
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(run.owner.FrameCount(), paused);
  // Running: the seek keeps it running and frames go on.
  ASSERT_TRUE(run.session.SeekToFraction(1, 4));
  ASSERT_EQ(run.session.Play(), 0);
  ASSERT_TRUE(run.session.SeekToFraction(1, 10));
  EXPECT_EQ(run.session.GetState(), DShowMgr::GRAPH_RUNNING);
  EXPECT_TRUE(run.owner.WaitFrames(run.owner.FrameCount() + 3));
  // Seeking to the very end or by a zero denominator is not done.
  EXPECT_FALSE(run.session.SeekToFraction(1, 1));
  EXPECT_FALSE(run.session.SeekToFraction(3, 0));
}

INSTANTIATE_TEST_SUITE_P(Containers, SeekInContainer,
                         ::testing::Values(SeekCase{"test.mp4", 0.041}, SeekCase{"test.mov", 0.041},
                                           SeekCase{"test.avi", 0.041}, SeekCase{"test.dv", 0.041},
                                           SeekCase{"test.wmv", 0.041}, SeekCase{"test.asf", 0.041},
                                           SeekCase{"test.flv", 0.081, false}, SeekCase{"mpeg1.mpg", 1.6},
                                           SeekCase{"mpeg2.mpg", 1.6}),
                         [](const auto& info) {
                           std::string name = info.param.file;
                           for (char& c : name)
                             if (c == '.') c = '_';
                           return name;
                         });

// A session started with the owner's seek request resumes there; a request
// for position 0 shows the file's very first frame.
TEST(DShowStream, ResumesAtTheOwnersSeekRequest) {
  for (const char* name : {"test.avi", "test.flv"}) {
    const auto file = Fixture(name);
    ASSERT_FALSE(file.empty());
    const auto reference = DecodeFrames(file, 1);
    for (int numerator : {0, 1}) {
      TOwner owner;
      owner.Build(file.string(), SRC_GRAB_FRAME_RGB24, PF_RGB24, true);
      owner.seek = true;
      owner.seekNumerator = numerator;
      owner.seekDenominator = 2;
      CDShowMgr session;
      ASSERT_TRUE(session.Run(&owner.request)) << name;
      EXPECT_FALSE(owner.seek.load()) << name;
      const auto frames = owner.Frames();
      ASSERT_EQ(frames.size(), 1u) << name;
      if (numerator == 0) {
        EXPECT_DOUBLE_EQ(frames[0].dTime, 0.0);
        EXPECT_EQ(MaxDifference(frames[0].rgb.data(), 24, frames[0].nStride, reference[0]), 0) << name;
      } else {
        EXPECT_NEAR(frames[0].dTime, 1.0, 0.081) << name;
      }
    }
  }
}

TEST(DShowStream, VolumeAndSoundFollowTheUsersLastChoice) {
  const auto file = Fixture("test.mp4");
  TRunning run;
  run.owner.volumeLevel = 50;
  run.owner.volumeMaximum = 100;
  run.Start(file.string());
  ASSERT_TRUE(run.owner.WaitFrames(1));
  EXPECT_NEAR(run.session.AppliedGain(), Gain(-5000), 1e-6);
  EXPECT_TRUE(run.session.SetVolume(12, 10));
  EXPECT_NEAR(run.session.AppliedGain(), Gain(0), 1e-6);
  EXPECT_TRUE(run.session.SetVolume(3, 4));
  EXPECT_NEAR(run.session.AppliedGain(), Gain(-2500), 1e-6);
  EXPECT_TRUE(run.session.EnableSound(false));
  EXPECT_NEAR(run.session.AppliedGain(), Gain(-10000), 1e-6);
  // Moving the slider while muted keeps the sound off ...
  EXPECT_TRUE(run.session.SetVolume(9, 10));
  EXPECT_NEAR(run.session.AppliedGain(), Gain(-10000), 1e-6);
  // ... and turning it on gives the level last set.
  EXPECT_TRUE(run.session.EnableSound(true));
  EXPECT_NEAR(run.session.AppliedGain(), Gain(-1000), 1e-6);
  EXPECT_TRUE(run.session.SetAudioVolume(-20000));
  EXPECT_NEAR(run.session.AppliedGain(), Gain(-10000), 1e-6);
}

TEST(DShowStream, OwnerWithSoundOffStartsMuted) {
  TRunning run;
  run.owner.sound = false;
  run.Start(Fixture("test.mp4").string());
  ASSERT_TRUE(run.owner.WaitFrames(1));
  EXPECT_NEAR(run.session.AppliedGain(), Gain(-10000), 1e-6);
  EXPECT_TRUE(run.session.EnableSound(true));
  EXPECT_NEAR(run.session.AppliedGain(), Gain(0), 1e-6);
}

// Sound-only files play to their end. An MP3 without a length header
// learns its duration only while playing: until then progress is simply
// not known, and the session goes on.
TEST(DShowStream, AudioOnlyFilePlaysToItsEndWithoutFrames) {
  for (const char* name : {"test.wav", "test.mp3"}) {
    const auto file = Fixture(name);
    ASSERT_FALSE(file.empty());
    TRunning run;
    run.Start(file.string());
    DShowMgr::TMediaProgress progress;
    bool bKnown = false;
    for (int i = 0; i < 1000 && !bKnown && run.result.wait_for(0ms) != std::future_status::ready; ++i) {
      bKnown = run.session.GetPositionAndDuration(&progress);
      if (!bKnown) std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(bKnown) << name;
    if (bKnown) {
      EXPECT_NEAR(progress.nDuration / 1e7, 2.0, 0.1) << name;
      EXPECT_LE(progress.nPosition, progress.nDuration) << name;
    }
    ASSERT_EQ(run.result.wait_for(20s), std::future_status::ready) << name;
    EXPECT_TRUE(run.result.get()) << name;
    EXPECT_EQ(run.owner.FrameCount(), 0u) << name;
    EXPECT_TRUE(run.owner.end.load()) << name;
  }
}

TEST(DShowStream, ControlsWithoutASessionDoNothing) {
  CDShowMgr session;
  DShowMgr::TMediaProgress progress;
  DShowMgr::TMediaPosition position;
  EXPECT_EQ(session.Play(), 0);
  EXPECT_EQ(session.Pause(), 0);
  EXPECT_EQ(session.Stop(), 0);
  EXPECT_FALSE(session.GetPositionAndDuration(&progress));
  EXPECT_FALSE(session.GetPosition(&position));
  EXPECT_FALSE(session.SeekToFraction(1, 2));
  EXPECT_FALSE(session.SetVolume(1, 2));
  EXPECT_FALSE(session.EnableSound(false));
  EXPECT_FALSE(session.ShowPropertyPages(1, nullptr));
  EXPECT_EQ(session.GetState(), DShowMgr::GRAPH_NONE);
}
