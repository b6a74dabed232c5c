// Feeds arbitrary bytes to the PNG reader: it must fail cleanly or decode,
// never crash, read out of bounds, leak or run away with memory or time.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "io/codecs/png_mgr.h"

namespace {

// Small enough that every input decodes well within the run's time limit.
constexpr std::int64_t kFuzzMaxPixels = 2048 * 2048;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::SilenceMessages();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::TReadRequest read(ZarnTypes::PF_RGB32);
  PngMgr::CPngMgr manager;
  // Every row of the picture, to its last byte, must be inside the frame.
  if (manager.ReadPngMemory(data, size, read.request, kFuzzMaxPixels))
    fuzz_support::TouchEveryRow(read.request, read.request.nWidth * 4 - 1);
  return 0;
}
