// Feeds arbitrary bytes to the JPEG 2000 reader (JP2 files and bare code
// streams) the way a file on disk reaches it.

#include <cstddef>
#include <cstdint>

#include "io/codecs/jpeg2000_mgr.h"
#include "io/media_request.h"
#include "media/frame_buffer.h"
#include "platform/message_sink.h"

namespace {

// Library and reader messages are part of every run; nobody reads them.
class TQuietSink : public platform::IMessageSink {
 public:
  int Show(const platform::TMessageBox& box) override { return platform::DefaultButton(box.style); }
};

// Small enough that a header claiming the largest picture still decodes
// within the run's time and memory limits.
constexpr std::int64_t kFuzzMaxPixels = std::int64_t{1} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TQuietSink sink;
  static platform::TScopedMessageSink scope(&sink);

  ZarnTypes::TFrameBuffer frame;
  std::int32_t results[ZarnTypes::kMediaResultBlockSize / 4] = {};
  ZarnTypes::TMediaRequest request;
  request.eOp = ZarnTypes::MEDIA_OP_READ;
  request.ePixelFormat = ZarnTypes::PF_RGB32;
  request.pFrameBuffer = &frame;
  request.pResults = results;
  Jpeg2000Mgr::CJpeg2000Mgr mgr;
  if (mgr.ReadJpeg2000Memory(data, size, request, kFuzzMaxPixels)) {
    // Touch every pixel the reader claims to have written.
    volatile std::uint8_t sum = 0;
    for (std::int32_t i = 0; i < request.nSize; ++i) sum = static_cast<std::uint8_t>(sum + request.pPixels[i]);
  }
  ZarnTypes::FreeFrameBuffer(&frame);
  return 0;
}
