#include "io/codecs/wm_writer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "io/dshow/dshow_util.h"
#include "media/frame_sampling.h"

using namespace ZarnTypes;

namespace WmWriter {

namespace {

// The loop's wait when the recorder had no frame (the stop flag is looked
// at before every request).
constexpr auto kIdleWait = std::chrono::milliseconds(10);
// Frames pulled after the stop before the job gives up draining a recorder
// that never runs dry (the pipeline holds 90).
constexpr std::int64_t kDrainLimit = 4096;
// Largest picture side the encoder is asked for.
constexpr std::int32_t kMaxSide = 16384;
constexpr std::int32_t kMaxFrameRate = 1000;
// Seconds between key frames: the spacing of the empty profile.
constexpr std::int32_t kKeyFrameSeconds = 5;

std::atomic<TWmSinkFactory> g_pSinkFactory{nullptr};

class CUnavailableSink final : public IWmSink {
 public:
  bool Open(const TWmSinkFormat&) override { return false; }
  bool Write(const std::uint8_t*, std::size_t, std::int64_t, std::int64_t) override { return false; }
  bool Finish() override { return false; }
  std::string LastError() const override { return "no Windows Media encoder in this program"; }
};

bool Fail(TMediaRequest& request, TWmJobResult& result, std::string message) {
  result.message = std::move(message);
  return FailRequest(request, MEDIA_ERR_WM_JOB);
}

}  // namespace

std::int32_t NormaliseProfileVersion(std::int32_t nVersion) {
  switch (nVersion) {
    case kWmProfileVersion4:
    case kWmProfileVersion7:
    case kWmProfileVersion9: return nVersion;
    default: return kWmProfileVersionDefault;
  }
}

void SetWmSinkFactory(TWmSinkFactory pFactory) { g_pSinkFactory.store(pFactory); }

std::unique_ptr<IWmSink> MakeWmSink() {
  if (const TWmSinkFactory pFactory = g_pSinkFactory.load()) {
    if (std::unique_ptr<IWmSink> sink = pFactory()) return sink;
  }
  return MakeUnavailableWmSink();
}

std::unique_ptr<IWmSink> MakeUnavailableWmSink() { return std::make_unique<CUnavailableSink>(); }

TWmQuantizerRange WmQuantizerRange(std::int32_t nBitRate) {
  if (nBitRate <= 0) return {};
  // Achieved bit rate of each range on the moving picture of the benchmark
  // wm/quantizer_bit_rate (bench/wm_writer_bench.cpp).
  struct TStep {
    std::int32_t nBitRate;
    TWmQuantizerRange range;
  };
  static constexpr TStep kSteps[] = {
      {2'790'000, {2, 3}}, {2'040'000, {2, 4}}, {1'060'000, {3, 6}}, {682'000, {3, 7}},   {482'000, {4, 8}},
      {380'000, {5, 10}},  {308'000, {8, 16}},  {257'000, {12, 24}}, {242'000, {20, 31}},
  };

  const TStep* pBest = &kSteps[0];
  for (const TStep& step : kSteps) {
    if (std::abs(static_cast<std::int64_t>(step.nBitRate) - nBitRate) <
        std::abs(static_cast<std::int64_t>(pBest->nBitRate) - nBitRate))
      pBest = &step;
  }
  return pBest->range;
}

bool MakeSinkFormat(const TMediaRequest& request, const TWmJobParams& params, TWmSinkFormat* pFormat,
                    std::string* pMessage) {
  const auto refuse = [pMessage](std::string text) {
    if (pMessage) *pMessage = std::move(text);
    return false;
  };
  const std::string channel = "channel " + std::to_string(params.nChannel);
  std::int32_t nBits = 0;
  if (request.ePixelFormat == PF_RGB24)
    nBits = 24;
  else if (request.ePixelFormat == PF_RGB32)
    nBits = 32;
  else
    return refuse("Windows Media recording of " + channel + ": its frames (pixel format " +
                  std::to_string(static_cast<int>(request.ePixelFormat)) +
                  ") are not 24- or 32-bit RGB; nothing was recorded");
  if (request.nWidth <= 0 || request.nHeight <= 0 || request.nWidth > kMaxSide || request.nHeight > kMaxSide)
    return refuse("Windows Media recording of " + channel + ": no frame size (" +
                  std::to_string(request.nWidth) + " x " + std::to_string(request.nHeight) + ")");
  if (params.nFrameRate <= 0 || params.nFrameRate > kMaxFrameRate)
    return refuse("Windows Media recording of " + channel + ": frame rate " +
                  std::to_string(params.nFrameRate) + " out of range");
  std::string path = params.outputFile;
  if (path.empty() && request.pOutputPath) path = *request.pOutputPath;
  if (path.empty()) return refuse("Windows Media recording of " + channel + ": no output file");

  TWmSinkFormat format;
  format.path = std::move(path);
  format.nWidth = request.nWidth;
  format.nHeight = request.nHeight;
  format.ePixelFormat = request.ePixelFormat;
  format.nStride = ((request.nWidth * nBits + 31) / 32) * 4;
  format.nFrameRate = params.nFrameRate;
  format.nProfileVersion = NormaliseProfileVersion(params.settings.nProfileVersion);
  format.nKeyFrameSpacing = kKeyFrameSeconds * params.nFrameRate;
  // The chosen profile's video rate decides the encoder's quantizer range
  // (the encoder takes no bit rate). "Create a new profile according to the
  // features of input streams" (bCustomProfile) changes nothing here: the
  // writer always builds one video stream from the input's own features,
  // so a new profile and the chosen one give the same stream. No profile
  // chosen yet (a zero id) leaves the encoder its full range.
  if (params.settings.profileId != std::array<std::uint8_t, 16>{}) {
    const auto& table = DShowMgr::WmProfileTable();
    const auto it = std::find_if(table.begin(), table.end(), [&](const DShowMgr::TWmProfile& profile) {
      return profile.id == params.settings.profileId;
    });
    if (it == table.end())
      return refuse("Windows Media recording of " + channel + ": the chosen profile is not known");
    // A profile without video gets the encoder's full range.
    format.nVideoBitRate = it->bVideo ? it->nVideoBitRate : 0;
  }
  const TWmQuantizerRange range = WmQuantizerRange(format.nVideoBitRate);
  format.nQuantizerMin = range.nMin;
  format.nQuantizerMax = range.nMax;
  format.pStopFlag = params.pStopFlag;
  *pFormat = std::move(format);
  return true;
}

// ---------------------------------------------------------------------------

CSampleClock::CSampleClock(std::int32_t nFrameRate)
    : m_nPeriod(nFrameRate > 0 ? kTimeUnitsPerSecond / nFrameRate : kTimeUnitsPerSecond / 30) {}

std::int64_t CSampleClock::Next(double dFrameTime) {
  const bool bTimed = std::isfinite(dFrameTime) && dFrameTime >= 0.0 && dFrameTime < 1e9;
  const std::int64_t nFallback = m_bFirst ? 0 : m_nLast + m_nPeriod;
  std::int64_t nTime = nFallback;
  if (bTimed) {
    // The first timed frame fixes the origin so that it lands where an
    // untimed frame would have.
    if (!m_bOrigin) {
      m_dOrigin = dFrameTime - static_cast<double>(nFallback) / kTimeUnitsPerSecond;
      m_bOrigin = true;
    }
    const std::int64_t nOwn = std::llround((dFrameTime - m_dOrigin) * kTimeUnitsPerSecond);
    if (m_bFirst || nOwn > m_nLast) nTime = nOwn;
  }
  if (m_bFirst) nTime = 0;
  m_bFirst = false;
  m_nLast = nTime;
  return nTime;
}

// ---------------------------------------------------------------------------

bool CWmWriter::Run(TMediaRequest* pRequest) {
  if (m_bBusy.exchange(true)) {
    if (pRequest) {
      pRequest->bSuccess = false;
      pRequest->eError = MEDIA_ERR_WM_JOB_BUSY;
    }
    return false;
  }
  struct TClearBusy {
    std::atomic<bool>& busy;
    ~TClearBusy() { busy.store(false); }
  } clearBusy{m_bBusy};
  if (!pRequest) return false;
  TMediaRequest& request = *pRequest;
  const auto* pParams = static_cast<const TWmJobParams*>(RequestParams(request, MEDIA_REQ_WM_JOB));
  TWmJobResult localResult;
  TWmJobResult& result = pParams && pParams->pResult ? *pParams->pResult : localResult;
  result = TWmJobResult{};
  if (!pParams) return Fail(request, result, "Windows Media recording: the request carries no job block");
  m_Params = *pParams;
  m_Sender = TMediaSender{m_Params.nProcId, m_Params.eSenderKind, m_Params.ePurpose, m_Params.pContext};
  switch (request.ePurpose) {
    case SRC_ENUM_WM_PROFILES: return SucceedRequest(request);
    case SRC_WRITE_STREAM: return WriteJob(request, result);
    default:
      return Fail(request, result,
                  "Windows Media recording: purpose " + std::to_string(static_cast<int>(request.ePurpose)) +
                      " is not a write");
  }
}

bool CWmWriter::WriteJob(TMediaRequest& request, TWmJobResult& result) {
  const TWmJobParams& params = m_Params;
  if (!params.bHaveSettings)
    return Fail(request, result, "Windows Media recording: no settings for the channel");
  if (params.nChannel < 0 || params.nChannel > 3)
    return Fail(request, result,
                "Windows Media recording: channel " + std::to_string(params.nChannel) + " does not exist");
  if (!params.pStopFlag || !params.pCallback)
    return Fail(request, result, "Windows Media recording: the job has no stop flag or no recorder to ask");
  TWmSinkFormat format;
  std::string message;
  if (!MakeSinkFormat(request, params, &format, &message)) return Fail(request, result, std::move(message));

  const TSamplingRecord& record = params.settings.sampling;
  TSamplingFilter sampling;
  sampling.Setup(record.nMode, record.dStartTime, record.dEndTime, record.dStepTime, record.nStartFrame,
                 record.nEndFrame, record.nStepFrame);
  CSampleClock clock(format.nFrameRate);
  const std::size_t nFrameBytes =
      static_cast<std::size_t>(format.nStride) * static_cast<std::size_t>(format.nHeight);

  std::unique_ptr<IWmSink> sink = MakeWmSink();
  if (!sink->Open(format))
    return Fail(request, result,
                "Windows Media recording of channel " + std::to_string(params.nChannel) + ": the file " +
                    format.path + " cannot be written: " + sink->LastError());

  TMediaFrameNotice notice;
  TWmFrameRequest frame;
  bool bFailed = false;  // a write failed: later frames are taken and dropped
  bool bStopSeen = false;
  std::int64_t nAfterStop = 0;
  std::string lossReason;
  for (;;) {
    // Looked at before the request: a stop seen, then no frame, means the
    // recorder has nothing more to give.
    if (!bStopSeen && params.pStopFlag->load(std::memory_order_acquire)) bStopSeen = true;
    notice = TMediaFrameNotice{};
    frame = TWmFrameRequest{};
    PointRecordFrameAt(&frame, &notice);
    const bool bGot = params.pCallback(params.pContext, MEDIA_NOTIFY_RECORD_FRAME, &m_Sender, &frame);
    if (!bGot) {
      if (bStopSeen) break;
      std::this_thread::sleep_for(kIdleWait);
      continue;
    }
    ++result.nFramesPulled;
    if (bStopSeen && ++nAfterStop > kDrainLimit) {
      ++result.nFramesLost;
      lossReason = "the recorder still gave frames long after the stop";
      break;
    }
    if (!sampling.Accept(notice.dTime, notice.nFrameNumber)) {
      ++result.nFramesSkipped;
      continue;
    }
    if (bFailed) {
      ++result.nFramesLost;
      continue;
    }
    if (notice.ePixelFormat != format.ePixelFormat || notice.nWidth != format.nWidth ||
        notice.nHeight != format.nHeight || !notice.pRgbData || notice.nRgbSize < 0 ||
        static_cast<std::size_t>(notice.nRgbSize) < nFrameBytes) {
      ++result.nFramesLost;
      if (lossReason.empty())
        lossReason = "frames of another size or layout than the recording's were left out";
      continue;
    }
    const std::int64_t nTime = clock.Next(notice.dTime);
    if (sink->Write(notice.pRgbData, nFrameBytes, nTime, clock.Period())) {
      ++result.nFramesWritten;
    } else {
      bFailed = true;
      ++result.nFramesLost;
      lossReason = "writing failed: " + sink->LastError();
    }
  }
  result.bFileFinished = sink->Finish();
  if (!result.bFileFinished && lossReason.empty())
    lossReason = "the file could not be finished: " + sink->LastError();
  sink.reset();
  if (result.nFramesLost > 0 || !result.bFileFinished) {
    return Fail(request, result,
                "Windows Media recording of channel " + std::to_string(params.nChannel) + ": the file " +
                    format.path + " is incomplete (" + std::to_string(result.nFramesWritten) +
                    " frames written, " + std::to_string(result.nFramesLost) + " lost): " + lossReason);
  }
  return SucceedRequest(request);
}

bool ConvertToWindowsMedia(TMediaRequest* pRequest) {
  CWmWriter writer;
  return writer.Run(pRequest);
}

}  // namespace WmWriter
