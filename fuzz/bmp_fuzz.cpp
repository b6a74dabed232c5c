// Feeds arbitrary bytes to the .bmp reader, as a file and as a packed DIB.
// Whatever it accepts must be a consistent section: it re-encodes and reads
// back to the same picture, converts to a packed DIB, and compares equal to
// itself.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/dib.h"

namespace {

// Checks a section the reader accepted; aborts on any inconsistency.
void CheckAccepted(const Dib::TDibSection& section, const Dib::TBmpReadOptions& options) {
  if (section.header.biHeight <= 0 || section.Width() <= 0 ||
      section.bits.size() != section.Stride() * static_cast<std::size_t>(section.Height()))
    std::abort();
  if (section.BitCount() <= 8 && section.colorTable.size() != (std::size_t{1} << section.BitCount()))
    std::abort();

  // The writer writes the usual depths; 48-bit pictures are only read.
  std::string error;
  if (section.BitCount() != 48) {
    std::vector<std::uint8_t> file;
    if (!Dib::EncodeBmpFile(section, file)) std::abort();
    Dib::TDibSection back;
    if (!Dib::ReadBmpMemory(file.data(), file.size(), back, &error, options)) std::abort();
    if (back.bits != section.bits || back.colorTable != section.colorTable ||
        back.header.biCompression != section.header.biCompression ||
        (section.header.biCompression == Dib::BI_BITFIELDS && back.masks != section.masks))
      std::abort();
  }

  // Widening to 24 bits multiplies a 1-bit picture's size by 24: only small ones.
  if (static_cast<std::uint64_t>(section.Width()) * static_cast<std::uint64_t>(section.Height()) > (1u << 20))
    return;
  const std::vector<std::uint8_t> packed = Dib::CreateDibFromBitmap(section, 24);
  Dib::TDibSection fromPacked;
  if (packed.empty() || !Dib::ReadPackedDib(packed.data(), packed.size(), fromPacked, &error, options))
    std::abort();
  double psnr = 0;
  if (Dib::ComputeBitmapPsnr(section, fromPacked, psnr) != Dib::PSNR_IDENTICAL) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Dib::TBmpReadOptions options;
  options.maxBitsBytes = std::size_t{16} << 20;  // keeps run-length pictures small

  Dib::TDibSection section;
  std::string error;
  if (Dib::ReadBmpMemory(data, size, section, &error, options))
    CheckAccepted(section, options);
  else if (error.empty())
    std::abort();  // every refusal says why

  if (size > 14) {
    Dib::TDibSection packed;
    error.clear();
    if (Dib::ReadPackedDib(data + 14, size - 14, packed, &error, options))
      CheckAccepted(packed, options);
    else if (error.empty())
      std::abort();
  }
  return 0;
}
