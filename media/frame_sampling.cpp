// Frame sampling of recordings.

#include "media/frame_sampling.h"

#include <cmath>
#include <limits>

namespace ZarnTypes {

namespace {

// A time setting: negative or not a number counts as 0.
double TimeSetting(double value) { return std::isnan(value) || value < 0 ? 0.0 : value; }
std::int64_t FrameSetting(std::int64_t value) { return value < 0 ? 0 : value; }

std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b) {
  if (b > 0 && a > std::numeric_limits<std::int64_t>::max() - b)
    return std::numeric_limits<std::int64_t>::max();
  return a + b;
}

}  // namespace

void TSamplingFilter::Reset() {
  m_nMode = SAMPLING_ALL;
  m_dStartTime = m_dEndTime = m_dStepTime = 0;
  m_nStartFrame = m_nEndFrame = m_nStepFrames = 0;
  m_dCurrentTime = 0;
  m_nCurrentFrame = 0;
  m_dNextTime = 0;
  m_nNextFrame = 0;
  m_bKept = false;
  m_bRange = false;
  m_bStep = false;
}

void TSamplingFilter::Setup(std::int32_t nMode, double dStartTime, double dEndTime, double dStepTime,
                            std::int64_t nStartFrame, std::int64_t nEndFrame, std::int64_t nStepFrames) {
  Reset();
  m_dStartTime = TimeSetting(dStartTime);
  m_dEndTime = TimeSetting(dEndTime);
  m_dStepTime = TimeSetting(dStepTime);
  m_nStartFrame = FrameSetting(nStartFrame);
  m_nEndFrame = FrameSetting(nEndFrame);
  m_nStepFrames = FrameSetting(nStepFrames);
  switch (nMode) {
    case SAMPLING_BY_TIME:
      m_nMode = SAMPLING_BY_TIME;
      m_bRange = m_dEndTime > m_dStartTime;
      m_bStep = m_dStepTime > 0;
      break;
    case SAMPLING_BY_FRAME:
      m_nMode = SAMPLING_BY_FRAME;
      m_bRange = m_nEndFrame > m_nStartFrame;
      m_bStep = m_nStepFrames > 1;
      break;
    default: m_nMode = SAMPLING_ALL; break;
  }
}

bool TSamplingFilter::Accept() {
  if (m_nMode == SAMPLING_BY_TIME) {
    const double t = m_dCurrentTime;
    if (!std::isfinite(t)) return false;
    if (t < m_dStartTime - kTimeTolerance) return false;
    if (m_bRange && t > m_dEndTime + kTimeTolerance) return false;
    if (m_bStep && m_bKept && t < m_dNextTime - kTimeTolerance) return false;
    m_bKept = true;
    m_dNextTime = t + m_dStepTime;
    return true;
  }
  if (m_nMode == SAMPLING_BY_FRAME) {
    const std::int64_t n = m_nCurrentFrame;
    if (n < m_nStartFrame) return false;
    if (m_bRange && n > m_nEndFrame) return false;
    if (m_bStep && m_bKept && n < m_nNextFrame) return false;
    m_bKept = true;
    m_nNextFrame = SaturatingAdd(n, m_nStepFrames);
    return true;
  }
  return true;
}

}  // namespace ZarnTypes
