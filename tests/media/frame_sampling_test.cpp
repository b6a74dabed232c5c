// The recordings' frame sampling: which frames each mode, range and step
// keeps.

#include "media/frame_sampling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

using ZarnTypes::TSamplingFilter;

struct TFramePos {
  double time;
  std::int64_t number;
};

// n frames of a 30 frames/s clip: frame i at i / 30 s.
std::vector<TFramePos> Clip(int n, int first = 0) {
  std::vector<TFramePos> frames;
  for (int i = first; i < first + n; ++i) frames.push_back({i / 30.0, i});
  return frames;
}

std::vector<int> Range(int first, int last, int step = 1) {
  std::vector<int> out;
  for (int i = first; i <= last; i += step) out.push_back(i);
  return out;
}

struct TSettings {
  std::int32_t mode;
  double startTime, endTime, stepTime;
  std::int64_t startFrame, endFrame, stepFrames;
};

// The indexes (into `frames`) of the frames the filter keeps.
std::vector<int> Kept(TSamplingFilter& filter, const std::vector<TFramePos>& frames) {
  std::vector<int> kept;
  for (std::size_t i = 0; i < frames.size(); ++i)
    if (filter.Accept(frames[i].time, frames[i].number)) kept.push_back(static_cast<int>(i));
  return kept;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int64_t kMax64 = std::numeric_limits<std::int64_t>::max();

TEST(FrameSampling, KeepsTheFramesOfEachModeRangeAndStep) {
  struct TCase {
    const char* name;
    TSettings settings;
    std::vector<TFramePos> frames;
    std::vector<int> kept;
  };
  const std::vector<TFramePos> clip = Clip(60);
  const TCase cases[] = {
      // Every frame.
      {"mode 1", {1, 1, 2, 0.5, 10, 20, 3}, clip, Range(0, 59)},
      {"mode 1 with frames without a time",
       {1, 0, 0, 0, 0, 0, 0},
       {{kNaN, 0}, {-1, -5}, {kInf, 3}},
       {0, 1, 2}},
      {"an unknown mode is mode 1", {0, 1, 2, 0.5, 10, 20, 3}, clip, Range(0, 59)},
      {"mode 4 is mode 1", {4, 1, 2, 0.5, 10, 20, 3}, clip, Range(0, 59)},
      {"mode -2 is mode 1", {-2, 1, 2, 0.5, 10, 20, 3}, clip, Range(0, 59)},

      // By time.
      {"time: a range without a step keeps all of it, ends included",
       {2, 1, 1.5, 0, 0, 0, 0},
       clip,
       Range(30, 45)},
      {"time: one frame each 0.1 s of a 30 frames/s clip", {2, 0, 0, 0.1, 0, 0, 0}, clip, Range(0, 59, 3)},
      {"time: each step counts from the frame last kept",
       {2, 0.5, 1.5, 0.25, 0, 0, 0},
       clip,
       {15, 23, 31, 39}},
      {"time: an end not after the begin is no end", {2, 1, 0.5, 0, 0, 0, 0}, clip, Range(30, 59)},
      {"time: an end equal to the begin is no end", {2, 1, 1, 0, 0, 0, 0}, clip, Range(30, 59)},
      {"time: a begin between frames starts at the next", {2, 0.51, 0, 0, 0, 0, 0}, clip, Range(16, 59)},
      {"time: negative settings count as 0", {2, -3, -1, -0.5, 0, 0, 0}, clip, Range(0, 59)},
      {"time: settings that are not numbers count as 0", {2, kNaN, kNaN, kNaN, 0, 0, 0}, clip, Range(0, 59)},
      {"time: a step of one frame period keeps every frame",
       {2, 0, 0, 1 / 30.0, 0, 0, 0},
       clip,
       Range(0, 59)},
      {"time: a step longer than the clip keeps its first frame", {2, 0.2, 0, 10, 0, 0, 0}, clip, {6}},
      {"time: an endless step keeps one frame", {2, 0, 0, kInf, 0, 0, 0}, clip, {0}},
      {"time: a range after the clip keeps nothing", {2, 5, 6, 0, 0, 0, 0}, clip, {}},
      {"time: frames without a time are not kept",
       {2, 0, 0, 0.1, 0, 0, 0},
       {{kNaN, 0}, {0, 1}, {kInf, 2}, {0.1, 3}, {-kInf, 4}, {0.15, 5}, {0.2, 6}},
       {1, 3, 6}},
      {"time: a time going back is not kept before the next step",
       {2, 0, 0, 0.5, 0, 0, 0},
       {{1.0, 0}, {0.2, 1}, {1.4, 2}, {1.5, 3}},
       {0, 3}},

      // By frame number.
      {"frames: a range without a step keeps all of it, ends included",
       {3, 0, 0, 0, 10, 20, 0},
       clip,
       Range(10, 20)},
      {"frames: a step of 1 keeps every frame in range", {3, 0, 0, 0, 10, 20, 1}, clip, Range(10, 20)},
      {"frames: one frame in five", {3, 0, 0, 0, 0, 0, 5}, clip, Range(0, 59, 5)},
      {"frames: a step from the begin, up to the end", {3, 0, 0, 0, 7, 30, 10}, clip, {7, 17, 27}},
      {"frames: an end not after the begin is no end", {3, 0, 0, 0, 20, 10, 0}, clip, Range(20, 59)},
      {"frames: negative settings count as 0", {3, 0, 0, 0, -4, -1, -3}, clip, Range(0, 59)},
      {"frames: numbers with gaps count from the frame last kept",
       {3, 0, 0, 0, 0, 0, 3},
       {{0, 0}, {0, 1}, {0, 2}, {0, 4}, {0, 5}, {0, 8}, {0, 9}, {0, 13}, {0, 14}},
       {0, 3, 5, 7}},
      {"frames: the largest step keeps one frame", {3, 0, 0, 0, 3, 0, kMax64}, clip, {3}},
      {"frames: a clip starting past the begin keeps its first frame",
       {3, 0, 0, 0, 5, 0, 4},
       Clip(10, 100),
       {0, 4, 8}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TSettings& s = c.settings;
    TSamplingFilter filter;
    filter.Setup(s.mode, s.startTime, s.endTime, s.stepTime, s.startFrame, s.endFrame, s.stepFrames);
    EXPECT_EQ(Kept(filter, c.frames), c.kept);
    // Set up again, the filter starts over.
    filter.Setup(s.mode, s.startTime, s.endTime, s.stepTime, s.startFrame, s.endFrame, s.stepFrames);
    EXPECT_EQ(Kept(filter, c.frames), c.kept);
  }
}

TEST(FrameSampling, SetupTakesTheSettingsOfItsMode) {
  struct TCase {
    const char* name;
    TSettings settings;
    std::int32_t mode;
    bool hasEnd, hasStep;
  };
  const TCase cases[] = {
      {"mode 1 has neither", {1, 1, 2, 0.5, 1, 2, 3}, 1, false, false},
      {"time range and step", {2, 1, 2, 0.5, 0, 0, 0}, 2, true, true},
      {"time: step 0 is no step", {2, 1, 2, 0, 0, 0, 0}, 2, true, false},
      {"time: the frame settings do not count", {2, 0, 0, 0, 1, 2, 3}, 2, false, false},
      {"frames range and step", {3, 0, 0, 0, 1, 2, 2}, 3, true, true},
      {"frames: step 1 is no step", {3, 0, 0, 0, 1, 2, 1}, 3, true, false},
      {"frames: the time settings do not count", {3, 1, 2, 0.5, 0, 0, 0}, 3, false, false},
      {"another mode is mode 1", {7, 1, 2, 0.5, 1, 2, 3}, 1, false, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TSettings& s = c.settings;
    TSamplingFilter filter;
    filter.Setup(s.mode, s.startTime, s.endTime, s.stepTime, s.startFrame, s.endFrame, s.stepFrames);
    EXPECT_EQ(filter.GetMode(), c.mode);
    EXPECT_EQ(filter.HasEnd(), c.hasEnd);
    EXPECT_EQ(filter.HasStep(), c.hasStep);
  }
}

TEST(FrameSampling, ResetKeepsEveryFrameAgain) {
  TSamplingFilter filter;
  EXPECT_EQ(filter.GetMode(), 1);
  filter.Setup(3, 0, 0, 0, 10, 20, 2);
  EXPECT_FALSE(filter.Accept(0, 5));
  filter.Reset();
  EXPECT_EQ(filter.GetMode(), 1);
  EXPECT_EQ(filter.GetStartFrame(), 0);
  EXPECT_EQ(filter.GetStepFrames(), 0);
  EXPECT_FALSE(filter.HasEnd());
  EXPECT_FALSE(filter.HasStep());
  EXPECT_EQ(Kept(filter, Clip(5)), Range(0, 4));
  // The caller may also store the position first and ask after.
  filter.Setup(2, 1, 0, 0, 0, 0, 0);
  filter.SetCurrent(0.5, 100);
  EXPECT_FALSE(filter.Accept());
  filter.SetCurrent(1.0, 0);
  EXPECT_TRUE(filter.Accept());
}

}  // namespace
