#pragma once
// Which frames of a recording are kept: every frame, or one per interval of
// time or of frame numbers within a range.
//
//   mode 1  every frame
//   mode 2  by time: positions are the frames' times in seconds
//   mode 3  by frame number
//
// In modes 2 and 3 a frame is kept when its position lies in the range (at
// or after the begin and, when there is an end, at or before it) and, with
// a step, when it is the first in range or lies at or after the last kept
// position plus the step. An end not after the begin is no end; a step of 0
// (time) or of at most 1 (frames) keeps every frame in range. Negative
// settings count as 0; any other mode counts as mode 1. Times within a
// microsecond of a bound count as reaching it, so that one frame per 0.1 s
// of a 30 frames/s clip keeps every third frame although 3 x (1 / 30) falls
// a hair short of 0.1 in floating point. A frame without a time (not a
// finite number) is not kept by time.

#include <cstdint>

namespace ZarnTypes {

enum TSamplingMode : std::int32_t {
  SAMPLING_ALL = 1,
  SAMPLING_BY_TIME = 2,
  SAMPLING_BY_FRAME = 3,
};

class TSamplingFilter {
 public:
  // Times within this many seconds of a bound count as reaching it.
  static constexpr double kTimeTolerance = 1e-6;

  TSamplingFilter() { Reset(); }

  // Mode 1, every position and step 0, nothing kept yet.
  void Reset();

  // Takes the settings (see the file comment) and starts over: the next
  // accepted frame is the first in range.
  void Setup(std::int32_t nMode, double dStartTime, double dEndTime, double dStepTime,
             std::int64_t nStartFrame, std::int64_t nEndFrame, std::int64_t nStepFrames);

  // The position of the frame to test, as the caller learns it.
  void SetCurrent(double dTime, std::int64_t nFrame) {
    m_dCurrentTime = dTime;
    m_nCurrentFrame = nFrame;
  }
  // Whether the current frame is kept; a kept frame moves the next position.
  bool Accept();
  bool Accept(double dTime, std::int64_t nFrame) {
    SetCurrent(dTime, nFrame);
    return Accept();
  }

  std::int32_t GetMode() const { return m_nMode; }
  double GetStartTime() const { return m_dStartTime; }
  double GetEndTime() const { return m_dEndTime; }
  double GetStepTime() const { return m_dStepTime; }
  std::int64_t GetStartFrame() const { return m_nStartFrame; }
  std::int64_t GetEndFrame() const { return m_nEndFrame; }
  std::int64_t GetStepFrames() const { return m_nStepFrames; }
  // The range has an end (the end lies after the begin).
  bool HasEnd() const { return m_bRange; }
  // A step thins the frames in range out.
  bool HasStep() const { return m_bStep; }

 private:
  std::int32_t m_nMode = SAMPLING_ALL;
  double m_dStartTime = 0;
  double m_dEndTime = 0;
  double m_dStepTime = 0;
  std::int64_t m_nStartFrame = 0;
  std::int64_t m_nEndFrame = 0;
  std::int64_t m_nStepFrames = 0;
  double m_dCurrentTime = 0;
  std::int64_t m_nCurrentFrame = 0;
  double m_dNextTime = 0;         // with a step: the earliest time of the next kept frame
  std::int64_t m_nNextFrame = 0;  // with a step: the lowest number of the next kept frame
  bool m_bKept = false;           // a frame has been kept since Setup
  bool m_bRange = false;
  bool m_bStep = false;
};

}  // namespace ZarnTypes
