#pragma once
// A media-graph request as the program's loaders and readers build it, with
// the owner's flags and controls, and a recording owner callback.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "io/dshow/dshow_mgr.h"
#include "io/media_request.h"

namespace dshow_test {

// What the owner keeps of each frame notice.
struct TSeenFrame {
  ZarnTypes::TPixelFormat ePixelFormat{};
  int nWidth = 0, nHeight = 0, nBits = 0, nStride = 0;
  std::int32_t nRgbSize = 0;
  std::uint32_t nHeaderImageSize = 0;
  bool bHeaderBottomUp = false;
  double dTime = 0.0;
  std::int64_t nFrameNumber = -1;
  bool bFileIndex = false;
  bool bDiscontinuity = false;
  std::vector<std::uint8_t> rgb;
};

class TOwner {
 public:
  std::atomic<bool> stop{false}, end{false}, seek{false}, sound{true};
  std::atomic<std::int32_t> seekNumerator{0}, seekDenominator{1}, volumeLevel{100}, volumeMaximum{100};
  std::string path;
  ZarnTypes::TSourceParams params;
  ZarnTypes::TMediaRequest request;
  ZarnTypes::TFrameBuffer frame;
  unsigned char results[ZarnTypes::kMediaResultBlockSize] = {};
  int callbackDelayMs = 0;  // a slow owner
  int slowFrom = 0;         // the frames slowFrom .. slowFrames - 1 are slow
  int slowFrames = -1;      // (-1: all)

  // Builds the request for the purpose; bCallback: frames go to OnFrame.
  void Build(const std::string& file, ZarnTypes::TSourcePurpose ePurpose, ZarnTypes::TPixelFormat ePixel,
             bool bCallback, ZarnTypes::TStreamType eType = ZarnTypes::TStreamType{0}) {
    path = file;
    params = ZarnTypes::TSourceParams{};
    params.nSenderId = 42;
    params.eSenderKind = ZarnTypes::MEDIA_SENDER_DSHOW;
    params.ePurpose = ePurpose;
    params.pContext = this;
    params.pStopFlag = &stop;
    params.pEndFlag = &end;
    params.pSeekFlag = &seek;
    params.pSeekNumerator = &seekNumerator;
    params.pSeekDenominator = &seekDenominator;
    params.pSoundFlag = &sound;
    params.pVolumeLevel = &volumeLevel;
    params.pVolumeMaximum = &volumeMaximum;
    params.pCallback = bCallback ? &TOwner::Callback : nullptr;
    request = ZarnTypes::TMediaRequest{};
    request.eOp = ZarnTypes::MEDIA_OP_READ;
    request.ePurpose = ePurpose;
    request.eSourceFormat = ZarnTypes::TFileFormat{9};
    request.eStreamType = eType;
    request.ePixelFormat = ePixel;
    request.pPath = &path;
    request.pFrameBuffer = &frame;
    request.pResults = results;
    request.eTag = ZarnTypes::MEDIA_REQ_DSHOW_SOURCE;
    request.pParams = &params;
  }

  ~TOwner() { ZarnTypes::FreeFrameBuffer(&frame); }

  std::vector<TSeenFrame> Frames() {
    std::lock_guard lock(m_lock);
    return m_frames;
  }
  std::size_t FrameCount() {
    std::lock_guard lock(m_lock);
    return m_frames.size();
  }
  // Waits until at least n frames came (false after the time-out).
  bool WaitFrames(std::size_t n, int timeoutMs = 10000) {
    std::unique_lock lock(m_lock);
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_frames.size() >= n; });
  }
  ZarnTypes::TMediaSender lastSender{};

 private:
  static bool Callback(void* pContext, ZarnTypes::TMediaNotify eCode, const ZarnTypes::TMediaSender* pSender,
                       void* pData) {
    auto* self = static_cast<TOwner*>(pContext);
    if (eCode != ZarnTypes::MEDIA_NOTIFY_FRAME || !pData) return false;
    const auto* notice = static_cast<const ZarnTypes::TMediaFrameNotice*>(pData);
    TSeenFrame seen;
    seen.ePixelFormat = notice->ePixelFormat;
    seen.nWidth = notice->nWidth;
    seen.nHeight = notice->nHeight;
    seen.nRgbSize = notice->nRgbSize;
    if (notice->pHeader) {
      seen.nBits = notice->pHeader->biBitCount;
      seen.nHeaderImageSize = notice->pHeader->biSizeImage;
      seen.bHeaderBottomUp = notice->pHeader->biHeight > 0;
      seen.nStride = ((notice->nWidth * seen.nBits + 31) / 32) * 4;
    }
    seen.dTime = notice->dTime;
    seen.nFrameNumber = notice->nFrameNumber;
    seen.bFileIndex = notice->bFileIndex;
    seen.bDiscontinuity = notice->bDiscontinuity;
    if (notice->pRgbData && notice->nRgbSize > 0)
      seen.rgb.assign(notice->pRgbData, notice->pRgbData + notice->nRgbSize);
    const std::size_t index = self->FrameCount();
    if (self->callbackDelayMs > 0 &&
        (self->slowFrames < 0 || (index >= static_cast<std::size_t>(self->slowFrom) &&
                                  index < static_cast<std::size_t>(self->slowFrames))))
      std::this_thread::sleep_for(std::chrono::milliseconds(self->callbackDelayMs));
    {
      std::lock_guard lock(self->m_lock);
      self->lastSender = *pSender;
      self->m_frames.push_back(std::move(seen));
    }
    self->m_cv.notify_all();
    return true;
  }

  std::mutex m_lock;
  std::condition_variable m_cv;
  std::vector<TSeenFrame> m_frames;
};

}  // namespace dshow_test
