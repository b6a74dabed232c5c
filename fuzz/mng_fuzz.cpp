// Feeds arbitrary bytes to the MNG reader, played to their end without
// waits and read for one frame: it must fail cleanly or decode, never
// crash, read out of bounds, leak or run away with memory or time.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "io/codecs/mng_mgr.h"

namespace {

// Small enough that every input decodes well within the run's limits.
constexpr std::uint64_t kFuzzBudget = std::uint64_t{64} << 20;

// Frames played before the run is stopped: animations may loop for ever.
constexpr int kMaxFrames = 300;

struct TPlay {
  std::atomic<bool> stop{false};
  std::atomic<bool> end{false};
  int frames = 0;
};

// Touches every row of every frame delivered; stops a long play.
bool TouchFrame(void* context, ZarnTypes::TMediaNotify code, const ZarnTypes::TMediaSender*, void* data) {
  if (code != ZarnTypes::MEDIA_NOTIFY_FRAME) return true;
  auto* play = static_cast<TPlay*>(context);
  if (++play->frames >= kMaxFrames) play->stop = true;
  const auto* frame = static_cast<const ZarnTypes::TMediaFrameNotice*>(data);
  if (!frame || !frame->pHeader || !frame->pRgbData) return false;
  const std::int32_t stride = ((frame->nWidth * frame->pHeader->biBitCount + 31) / 32) * 4;
  volatile std::uint8_t sum = 0;
  for (std::int32_t y = 0; y < frame->nHeight; ++y)
    sum = static_cast<std::uint8_t>(sum + frame->pRgbData[y * stride + stride - 1]);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::SilenceMessages();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (const ZarnTypes::TSourcePurpose purpose : {ZarnTypes::SRC_STREAM, ZarnTypes::SRC_GRAB_FRAME}) {
    TPlay play;
    std::int32_t info[7] = {};
    MngMgr::TMngParams params;
    params.nProcId = 41;
    params.ePurpose = purpose;
    params.pContext = &play;
    params.pStopFlag = &play.stop;
    params.pEndFlag = &play.end;
    params.pCallback = purpose == ZarnTypes::SRC_STREAM ? &TouchFrame : nullptr;
    params.eInfoTag = ZarnTypes::MEDIA_REQ_MNG_PARAMS;
    params.pInfo = info;
    fuzz_support::TReadRequest read(purpose == ZarnTypes::SRC_STREAM ? ZarnTypes::PF_RGB24
                                                                     : ZarnTypes::PF_RGB32);
    read.request.ePurpose = purpose;
    read.request.eTag = ZarnTypes::MEDIA_REQ_MNG;
    read.request.pParams = &params;
    MngMgr::CMngMgr reader;
    reader.SetPaced(false);
    reader.SetMemoryBudget(kFuzzBudget);
    if (reader.RunMemory(&read.request, data, size) && read.frame.pBuffer)
      fuzz_support::TouchEveryRow(read.request, read.request.nWidth * 4 - 1);
  }
  return 0;
}
