// Feeds arbitrary bytes to the PNG reader: it must fail cleanly or decode,
// never crash, read out of bounds, leak or run away with memory or time.

#include <cstddef>
#include <cstdint>

#include "io/codecs/png_mgr.h"
#include "media/frame_buffer.h"
#include "platform/message_sink.h"

namespace {

// The reader reports library errors as message boxes; here they go nowhere.
class TSilentSink : public platform::IMessageSink {
 public:
  int Show(const platform::TMessageBox& box) override { return platform::DefaultButton(box.style); }
};

TSilentSink g_silentSink;

// Small enough that every input decodes well within the run's time limit.
constexpr std::int64_t kFuzzMaxPixels = 2048 * 2048;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  platform::SetMessageSink(&g_silentSink);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ZarnTypes::TFrameBuffer frame{};
  std::uint8_t results[ZarnTypes::kMediaResultBlockSize] = {};
  ZarnTypes::TMediaRequest request{};
  request.eOp = ZarnTypes::MEDIA_OP_READ;
  request.ePixelFormat = ZarnTypes::PF_RGB32;
  request.pFrameBuffer = &frame;
  request.pResults = results;
  PngMgr::CPngMgr manager;
  if (manager.ReadPngMemory(data, size, request, kFuzzMaxPixels)) {
    // Every row of the picture must be inside the frame.
    volatile std::uint8_t sink = 0;
    for (std::int32_t y = 0; y < request.nHeight; ++y)
      sink = sink + request.pPixels[y * request.nStride + request.nWidth * 4 - 1];
    (void)sink;
  }
  ZarnTypes::FreeFrameBuffer(&frame);
  return 0;
}
