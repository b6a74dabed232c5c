// Feeds arbitrary bytes to the JPEG reader: it must fail cleanly or decode,
// never crash, read out of bounds, leak or run away with memory or time.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "io/codecs/jpeg_mgr.h"

namespace {

// Small enough that every input decodes well within the run's time limit.
constexpr std::int64_t kFuzzMaxPixels = 2048 * 2048;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::SilenceMessages();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Both targets, chosen by the input's length so that the bytes stay the
  // file's own.
  fuzz_support::TReadRequest read(size % 2 ? ZarnTypes::PF_RGB24 : ZarnTypes::PF_RGB32);
  JpegMgr::CJpegMgr manager;
  // Every row of the picture must be inside the frame.
  if (manager.ReadJpegMemory(data, size, read.request, kFuzzMaxPixels))
    fuzz_support::TouchEveryRow(read.request, 0);
  return 0;
}
