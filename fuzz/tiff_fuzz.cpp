// Feeds arbitrary bytes to the TIFF reader (every layout the library
// reads through its RGBA interface) the way a file on disk reaches it.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "io/codecs/tiff_mgr.h"

namespace {

// Small enough that a header claiming the largest picture still decodes
// within the run's time and memory limits.
constexpr std::int64_t kFuzzMaxPixels = std::int64_t{1} << 22;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::SilenceMessages();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::TReadRequest read(ZarnTypes::PF_RGB32);
  TiffMgr::CTiffMgr mgr;
  if (mgr.ReadTiffMemory(data, size, read.request, kFuzzMaxPixels))
    fuzz_support::TouchEveryByte(read.request);
  return 0;
}
