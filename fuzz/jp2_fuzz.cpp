// Feeds arbitrary bytes to the JPEG 2000 reader (JP2 files and bare code
// streams) the way a file on disk reaches it.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "io/codecs/jpeg2000_mgr.h"

namespace {

// Small enough that a header claiming the largest picture still decodes
// within the run's time and memory limits.
constexpr std::int64_t kFuzzMaxPixels = std::int64_t{1} << 20;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::SilenceMessages();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::TReadRequest read(ZarnTypes::PF_RGB32);
  Jpeg2000Mgr::CJpeg2000Mgr mgr;
  if (mgr.ReadJpeg2000Memory(data, size, read.request, kFuzzMaxPixels))
    fuzz_support::TouchEveryByte(read.request);
  return 0;
}
