#pragma once
// Device-independent bitmaps: the program's own in-memory picture of pixel
// rows with a header and a colour table, as .bmp files store them. Savers,
// panes, the clipboard and printing all exchange pictures in this form.
//
// Rows are stored bottom-up when the header's height is positive (the usual
// case) and top-down when it is negative; each row is Stride() bytes, padded
// to a multiple of 4. Pixels are blue, green, red (and a fourth byte for 32
// bits); 16-bit pixels are 5-5-5 unless the masks say otherwise.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace Dib {

enum TDibCompression : std::uint32_t {
  BI_RGB = 0,
  BI_RLE8 = 1,
  BI_RLE4 = 2,
  BI_BITFIELDS = 3,
};

// The 40-byte bitmap information header, field for field. (Its file form is
// written little-endian field by field, never by copying the struct.)
struct TBitmapInfoHeader {
  std::uint32_t biSize = 40;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;  // > 0: bottom-up rows
  std::uint16_t biPlanes = 1;
  std::uint16_t biBitCount = 0;
  std::uint32_t biCompression = BI_RGB;
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
};

// One colour-table entry as a DIB stores it.
struct TRgbQuad {
  std::uint8_t rgbBlue = 0;
  std::uint8_t rgbGreen = 0;
  std::uint8_t rgbRed = 0;
  std::uint8_t rgbReserved = 0;
  friend bool operator==(const TRgbQuad&, const TRgbQuad&) = default;
};

// One entry of a logical palette (red, green, blue order).
struct TPaletteEntry {
  std::uint8_t peRed = 0;
  std::uint8_t peGreen = 0;
  std::uint8_t peBlue = 0;
  std::uint8_t peFlags = 0;
  friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};

// A logical palette (version 0x300 in its stored form).
struct TPalette {
  std::uint16_t version = 0x300;
  std::vector<TPaletteEntry> entries;
};

// Bytes per row of a DIB: rows padded to 4 bytes.
constexpr std::size_t DibStride(std::int64_t width, int bitCount) {
  return width <= 0 || bitCount <= 0
             ? 0
             : static_cast<std::size_t>(((width * bitCount + 31) & ~std::int64_t{31}) / 8);
}

// A DIB section: header, bit-field masks (when compression is BI_BITFIELDS),
// colour table (8 bits or fewer) and the pixel rows.
struct TDibSection {
  TBitmapInfoHeader header;
  std::array<std::uint32_t, 3> masks{};  // red, green, blue
  std::vector<TRgbQuad> colorTable;
  std::vector<std::uint8_t> bits;

  int Width() const { return header.biWidth; }
  int Height() const { return header.biHeight < 0 ? -header.biHeight : header.biHeight; }
  int BitCount() const { return header.biBitCount; }
  bool TopDown() const { return header.biHeight < 0; }
  std::size_t Stride() const { return DibStride(header.biWidth, header.biBitCount); }
  // Row y counted from the top of the picture.
  std::uint8_t* RowFromTop(int y) {
    const int stored = TopDown() ? y : Height() - 1 - y;
    return bits.data() + static_cast<std::size_t>(stored) * Stride();
  }
  const std::uint8_t* RowFromTop(int y) const {
    return const_cast<TDibSection*>(this)->RowFromTop(y);
  }
};

// The caller owns what the creators return; functions that only read a
// bitmap take it by const reference.
using TDibPtr = std::unique_ptr<TDibSection>;

}  // namespace Dib
