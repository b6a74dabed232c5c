#pragma once
// Helpers shared by the DIB utilities and the .bmp reader and writers.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/dib.h"

namespace platform {
class TByteWriter;
}

namespace Dib::detail {

// Multiplies without wrapping; false when the product does not fit.
inline bool CheckedMul(std::uint64_t a, std::uint64_t b, std::uint64_t& out) {
  return !__builtin_mul_overflow(a, b, &out);
}
inline bool CheckedAdd(std::uint64_t a, std::uint64_t b, std::uint64_t& out) {
  return !__builtin_add_overflow(a, b, &out);
}

// Bytes per row and bytes of all rows of a picture, in checked arithmetic;
// false when they do not fit in 64 bits.
bool RowsBytes(std::int64_t width, std::int64_t rows, std::uint64_t bitsPerPixel, std::uint64_t& stride,
               std::uint64_t& total);

// The fixed colour table of a depth of 8 bits or fewer: 2 entries black and
// white, 16 the 16-colour table, 256 the 3-3-2 table, other depths 2^bits
// black entries. Empty above 8 bits.
std::vector<TRgbQuad> FixedColorTable(int bitCount);

// True when the section can be read safely: width >= 0, a depth of 1..8, 16,
// 24 or 32 bits, and enough bits for its rows.
bool IsDescribable(const TDibSection& section);

// Scales the bits of `pixel` selected by a contiguous `mask` to 0..255.
std::uint8_t MaskedTo8(std::uint32_t pixel, std::uint32_t mask);

// Decodes row y (from the top) of a describable section into blue, green,
// red triplets (3 x width bytes). Indices beyond the colour table are black.
void ReadRowBgr(const TDibSection& section, int y, std::uint8_t* bgr);

// True for a 32-bit section whose pixels are stored blue, green, red, x.
bool IsPlainBgrx(const TDibSection& section);

// Writes the 40-byte information header, field by field, little-endian.
void WriteInfoHeader(platform::TByteWriter& w, const TBitmapInfoHeader& h);

// Writes colour-table entries as blue, green, red and a 0 byte each.
void WriteColorTable(platform::TByteWriter& w, const std::vector<TRgbQuad>& table);

}  // namespace Dib::detail
