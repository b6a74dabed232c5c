#pragma once
// Scaffolding shared by the libFuzzer targets of the file readers.

#include <cstdint>

#include "io/media_request.h"
#include "media/frame_buffer.h"
#include "platform/message_sink.h"

namespace fuzz_support {

// The readers report library errors and warnings as message boxes; during a
// run they go nowhere.
class TSilentSink : public platform::IMessageSink {
 public:
  int Show(const platform::TMessageBox& box) override { return platform::DefaultButton(box.style); }
};

// Sends every message box of the process to a sink that shows nothing.
inline void SilenceMessages() {
  static TSilentSink sink;
  platform::SetMessageSink(&sink);
}

// A read request into a frame buffer of its own, with a result block; the
// frame is freed with the object.
struct TReadRequest {
  ZarnTypes::TFrameBuffer frame{};
  std::int32_t results[ZarnTypes::kMediaResultBlockSize / 4] = {};
  ZarnTypes::TMediaRequest request{};

  explicit TReadRequest(ZarnTypes::TPixelFormat target) {
    request.eOp = ZarnTypes::MEDIA_OP_READ;
    request.ePixelFormat = target;
    request.pFrameBuffer = &frame;
    request.pResults = results;
  }
  ~TReadRequest() { ZarnTypes::FreeFrameBuffer(&frame); }
  TReadRequest(const TReadRequest&) = delete;
  TReadRequest& operator=(const TReadRequest&) = delete;
};

// Reads the byte `column` bytes into every row a reader claims to have
// written.
inline void TouchEveryRow(const ZarnTypes::TMediaRequest& request, std::int32_t column) {
  volatile std::uint8_t sum = 0;
  for (std::int32_t y = 0; y < request.nHeight; ++y)
    sum = static_cast<std::uint8_t>(sum + request.pPixels[y * request.nStride + column]);
}

// Reads every byte a reader claims to have written.
inline void TouchEveryByte(const ZarnTypes::TMediaRequest& request) {
  volatile std::uint8_t sum = 0;
  for (std::int32_t i = 0; i < request.nSize; ++i) sum = static_cast<std::uint8_t>(sum + request.pPixels[i]);
}

}  // namespace fuzz_support
