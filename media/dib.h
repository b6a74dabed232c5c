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
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace ZarnTypes {
struct TFrameBuffer;
}

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
  const std::uint8_t* RowFromTop(int y) const { return const_cast<TDibSection*>(this)->RowFromTop(y); }
};

// The caller owns what the creators return; functions that only read a
// bitmap take it by const reference.
using TDibPtr = std::unique_ptr<TDibSection>;

// ---------------------------------------------------------------------------
// Fixed colour tables and masks.

// 1 bit: black, white.
extern const std::array<TRgbQuad, 2> kMonoColorTable;
// 4 bits: the 16-colour table.
extern const std::array<TRgbQuad, 16> kVgaColorTable;
// 8 bits: the 3-3-2 system palette (entry i: red (i & 7) x 32, green
// ((i >> 3) & 7) x 32, blue (i >> 6) x 64).
extern const std::array<TRgbQuad, 256> kSystem332ColorTable;
// 16 bits: 5-5-5 bit fields.
inline constexpr std::uint32_t kMask555Red = 0x7C00;
inline constexpr std::uint32_t kMask555Green = 0x03E0;
inline constexpr std::uint32_t kMask555Blue = 0x001F;

// Header, bit-field masks and colour table of a DIB without its bits: what a
// .bmp file or a packed DIB holds before the pixel rows.
struct TBitmapInfo {
  TBitmapInfoHeader header;
  std::array<std::uint32_t, 3> masks{};  // red, green, blue; used with BI_BITFIELDS
  std::vector<TRgbQuad> colorTable;
};

// A picture of three planes of 16-bit samples (the decoder layer's output).
struct TPlanarPicture16 {
  int width = 0;
  int height = 0;
  const std::uint16_t* planes[3] = {nullptr, nullptr, nullptr};
};

// ---------------------------------------------------------------------------
// DIB sections and palettes.

// A bottom-up section (for a positive height) of the given depth with the
// fixed colour table or masks of that depth and zeroed bits. On failure shows
// "Error %d" titled "Error" and returns null.
TDibPtr CreateDibSectionEx(int width, int height, int bitCount);

// The same; for 4 and 8 bits the table comes from the first 16 or 256
// entries of the palette when one is given.
TDibPtr CreateDibSectionPal(int width, int height, int bitCount, const TPalette* palette);

// The 3-3-2 system palette as a logical palette (256 entries, version 0x300).
std::unique_ptr<TPalette> CreateSystemPalette332();

// A bottom-up copy of the section with the same size, depth and colour table
// (colours-used and colours-important 2^bits for 8 bits or fewer).
bool CreateDibSectionFromBitmap(const TDibSection& source, TDibPtr& section);

// Replaces the bitmap with a 300 x 100, 32-bit section.
bool CreatePlaceholderBitmap(TDibPtr& bitmap);

// True when pixels of a source described by `source` can be copied into the
// section: the section has 24 bits, or 32 bits with a source of 1, 4, 8, 16,
// 24 or 32 bits.
bool CanCopyDibToSection(const TDibSection& section, const TBitmapInfoHeader& source);

// Header, masks and table as a file saved from the section carries them; for
// sections deeper than 8 bits the 3-3-2 table (colours-used 256) goes along
// as a display hint.
TBitmapInfo GetDibSectionInfo(const TDibSection& section);

// Bytes of the colour table that follows a header (3 per entry for a 12-byte
// core header, else 4).
std::size_t DibColorTableSize(const TBitmapInfoHeader& header);
// Bytes of table (plus 12 for bit-field masks) written after a 40-byte header.
std::size_t GetDibColorTableBytes(const TBitmapInfoHeader& header);
// Bytes of the pixel rows (the image-size field for RLE, 0 for other
// codings); SIZE_MAX when rows of that size cannot exist.
std::size_t GetDibImageBytes(const TBitmapInfoHeader& header);
// Header + masks + table + rows (SIZE_MAX as above).
std::size_t GetPackedDibSize(const TBitmapInfoHeader& header);

// The DIB format of the panes' pictures (32 bits, uncompressed, 1 x 1).
// Returns 0 on failure, else non-zero.
int GetScreenDibFormat(TBitmapInfo& info);

// A header for the bitmap with a zero-filled table of the depth the rows are
// stored at; false when the bitmap cannot be described.
bool CreateBitmapInfoHeader(const TDibSection& bitmap, TBitmapInfo& info);

// The bitmap as a packed DIB (40-byte header, table, rows) of the given depth
// (0: its own); empty on failure.
std::vector<std::uint8_t> CreateDibFromBitmap(const TDibSection& bitmap, int bitCount);

// ---------------------------------------------------------------------------
// .bmp writers. Files are a 14-byte file header, the 40-byte information
// header, masks and colour table as written, and the rows.

// Writes header, table and `bits` (the header's image bytes). Failures are
// shown as "CreateFile error", "WriteFile error" or "CloseHandle error".
bool WriteBmpFile(const std::filesystem::path& path, const TBitmapInfo& info, const std::uint8_t* bits);

// Writes a packed DIB (header, masks, table, rows) as a .bmp file.
bool SaveDibToBmpFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& packedDib);

// Writes `count` bytes in pieces of at most 32,768; returns `count`, or 0
// when any piece falls short.
std::size_t WriteFileChunked(std::FILE* file, const void* data, std::size_t count);

// Writes a section with its table (or the 3-3-2 hint above 8 bits).
bool SaveDibSectionToBmpFile(const std::filesystem::path& path, const TDibSection& section);

// The .bmp file SaveDibSectionToBmpFile writes, in memory; false when the
// section cannot be described.
bool EncodeBmpFile(const TDibSection& section, std::vector<std::uint8_t>& file);

// Writes a packed DIB; false for an empty or malformed block.
bool WriteGlobalDibFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& packedDib);

// Writes a 40-byte header and `count` bytes of rows. True without writing
// anything when a pointer is null or the count is 0. Headers of 8 bits or
// fewer get `colorTable` (or the fixed table of their depth) written too.
bool WriteDibBitsFile(const std::filesystem::path& path, const TBitmapInfoHeader* header,
                      const std::uint8_t* bits, std::size_t count,
                      const std::vector<TRgbQuad>* colorTable = nullptr);

// ---------------------------------------------------------------------------
// .bmp reading. The reader checks every field against the data it has and
// fails with a text saying what is wrong; it never reads outside the data.
// The section it makes is bottom-up; 1-, 4- and 8-bit pictures keep their
// depth and carry a table of all 2^bits entries (entries the file lacks are
// black; RLE pictures are expanded), 16-bit ones carry bit-field masks (5-5-5
// when the file names none), 24-bit stays 24, 32-bit with bit fields becomes
// plain blue, green, red, 0.

// Largest pixel buffer the reader makes.
inline constexpr std::size_t kMaxDibBitsBytes = std::size_t{1} << 30;

struct TBmpReadOptions {
  std::size_t maxBitsBytes = kMaxDibBitsBytes;
};

// A whole .bmp file in memory.
bool ReadBmpMemory(const std::uint8_t* data, std::size_t size, TDibSection& section,
                   std::string* error = nullptr, const TBmpReadOptions& options = {});
// A .bmp file.
bool ReadBmpFile(const std::filesystem::path& path, TDibSection& section, std::string* error = nullptr,
                 const TBmpReadOptions& options = {});
// A packed DIB (header, masks, table, rows; no file header).
bool ReadPackedDib(const std::uint8_t* data, std::size_t size, TDibSection& section,
                   std::string* error = nullptr, const TBmpReadOptions& options = {});

// Loads a .bmp file into `bitmap` (replacing what it held) and, for 8 bits or
// fewer, builds a logical palette from its colour table into `palette` when
// one is given. False (both left unchanged) when the file cannot be read.
bool LoadBitmapFileWithPalette(const std::filesystem::path& path, TDibPtr& bitmap,
                               std::unique_ptr<TPalette>* palette, std::string* error = nullptr);

// ---------------------------------------------------------------------------
// Row converters.

// Widens every row of a 24-bit frame into a 32-bit frame (blue, green, red,
// 0), exactly the source's width in pixels per row, each record advancing by
// its own stride. False when the records do not fit each other.
bool ConvertRgb24ToRgb32(const ZarnTypes::TFrameBuffer& source, ZarnTypes::TFrameBuffer& destination);

// `height` unpadded rows of 3 x width bytes into rows of 4 x width bytes,
// source row 0 into the last destination row.
void CopyRgb24ToRgb32Flipped(const std::uint8_t* source, std::uint8_t* destination, int width, int height);

// The reverse: 32-bit rows from the last upwards into unpadded 3-byte pixels.
void CopyRgb32ToRgb24Flipped(std::uint8_t* destination, const std::uint8_t* source, int width, int height);

// Pixel i: low bytes of plane 3, plane 2, plane 1 samples, then 0.
void PackPlanesToRgb32(const TPlanarPicture16& picture, std::uint8_t* destination);

// ---------------------------------------------------------------------------
// Comparison.

enum TPsnrResult : int {
  PSNR_OK = 0,
  PSNR_IDENTICAL = 1,
  PSNR_SIZE_DIFFERS = 2,
  PSNR_FAILED = 3,
};

// PSNR over red, green and blue of two pictures of equal size:
// 20 log10(255 / sqrt(S / (width x height x 3))), S the sum of squared
// differences. `psnr` is written only for PSNR_OK.
int ComputeBitmapPsnr(const TDibSection& bitmap1, const TDibSection& bitmap2, double& psnr);

}  // namespace Dib
