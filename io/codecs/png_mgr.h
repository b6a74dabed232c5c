#pragma once
// PNG codec manager: decodes PNG files into a bottom-up 32-bit frame buffer
// for the engine, the channel reader's image sequences and the file dialog's
// preview, and saves a bitmap as a PNG file in one of five colour types for
// the document's image saving. Coding is done by libpng over zlib.
//
// The manager keeps only its six compression values between calls; it is
// built on the caller's stack for one call or embedded in a channel reader.
//
// Library errors never end the process: they return to the manager, which
// releases the library's objects and fails the request. Failures are
// results only: no message box is shown; the library's errors and warnings
// go to the log (standard error) as "libpng error: ..." and "libpng
// warning: ..." lines.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "io/media_request.h"
#include "media/dib.h"
#include "media/file_types.h"
#include "media/frame_buffer.h"

namespace PngMgr {

// Colour type codes of the PNG page and of the reader's result block.
enum TPngColorCode : std::int32_t {
  PNG_CODE_OTHER = 0,
  PNG_CODE_GREY = 2,        // PNG colour type 0
  PNG_CODE_GREY_ALPHA = 3,  // PNG colour type 4
  PNG_CODE_PALETTE = 4,     // PNG colour type 3
  PNG_CODE_RGB = 5,         // PNG colour type 2
  PNG_CODE_RGB_ALPHA = 6,   // PNG colour type 6
};

// The PNG page's settings record (what follows the exchange header in its
// block). The writer reads colour type, bit depth, interlacing, compression
// level and significant colour bits; palettes are always made by the octree
// quantizer, whatever the palette kind says.
struct TPngSettings {
  std::int32_t nFileFormat = ZarnTypes::FF_PNG;  // the owner's save format, kept for the page
  std::int32_t nColorType = PNG_CODE_RGB;        // TPngColorCode
  std::int32_t nBitDepth = 8;                    // 1, 2, 4, 8 or 16
  std::uint8_t bInterlaced = 0;                  // non-zero: Adam7
  std::int32_t nCompressionLevel = 9;            // 0..9
  std::int32_t nPaletteKind = 3;                 // 1 halftone, otherwise octree; not read here
  std::int32_t nSignificantBits = 6;             // 1..8: depth of the quantizer's octree
};
static_assert(sizeof(TPngSettings) == 28, "the PNG block is exchanged whole with the page");

// The parameter block of a MEDIA_REQ_PNG write request: the settings, and for
// the palette targets (PF_DIB_1, PF_DIB_4, PF_DIB_8) the DIB section whose
// bits the request's frame buffer describes and whose colour table becomes
// the file's palette (the frame buffer record has no field for it).
struct TPngWriteParams {
  TPngSettings settings;
  const Dib::TDibSection* pBitmap = nullptr;
};

// The first three 32-bit fields of the request's result block, as a read
// fills them.
struct TPngReadInfo {
  std::int32_t nColorType = 0;   // TPngColorCode of the file's own colour type
  std::int32_t nBitDepth = 0;    // the file's own bit depth
  std::int32_t nInterlaced = 0;  // 1 Adam7, 0 none
};

// The six values handed to the library's compressor.
struct TPngCompression {
  std::int32_t nLevel = 9;  // replaced for each write by the settings' level
  std::int32_t nMemLevel = 8;
  std::int32_t nStrategy = 0;  // the default strategy
  std::int32_t nWindowBits = 15;
  std::int32_t nMethod = 8;         // deflate, the only method PNG knows
  std::int32_t nBufferSize = 8192;  // bytes
};

// Display gamma used when "SCREEN_GAMMA" is unset or unusable.
inline constexpr double kDefaultScreenGamma = 2.2;
// File gamma assumed for sRGB files and files without gAMA; also the gAMA
// every written file carries.
inline constexpr double kDefaultFileGamma = 0.45455;
// Accepted range of "SCREEN_GAMMA".
inline constexpr double kMinScreenGamma = 0.01;
inline constexpr double kMaxScreenGamma = 100.0;

// The display gamma: "SCREEN_GAMMA" read as a decimal number (surrounding
// blanks allowed) when it is set and lies in kMinScreenGamma..kMaxScreenGamma;
// otherwise (unset, empty, not a number, zero, negative, infinite, NaN, out
// of range) kDefaultScreenGamma.
double GetScreenGamma();

// Pictures of more pixels than this are refused before decoding (4 bytes
// each is the frame buffer allocator's limit).
inline constexpr std::int64_t kMaxPngPixels = ZarnTypes::kMaxFrameBufferBytes / 4;

class CPngMgr {
 public:
  CPngMgr() = default;
  virtual ~CPngMgr() = default;

  const TPngCompression& Compression() const { return m_Compression; }
  void SetCompression(const TPngCompression& compression) { m_Compression = compression; }

  // Decodes the file named by a read request (pPath) into its frame buffer.
  // Only the target PF_RGB32 is produced: rows aligned to 4 bytes, bottom row
  // first, pixels blue, green, red, alpha (255 where the file has no alpha
  // or transparency). Every colour type and bit depth is read: 16-bit samples
  // keep their high byte, lower depths are scaled to 8 bits, grey becomes
  // equal blue, green and red (a 1-bit 0 sample is black), palettes and tRNS
  // are expanded. Gamma: the file's (0.45455 for sRGB or without gAMA)
  // against the display's (GetScreenGamma); the usual pair 0.45455 / 2.2
  // leaves samples unchanged. sBIT is only a note of the source's precision:
  // samples are not shifted by it.
  //
  // The frame buffer is reused when it already holds storage of PF_RGB32,
  // row alignment 4, height alignment 1, width and height; otherwise it is
  // freed and allocated anew. On success the request gets width, height,
  // stride, pixels and size, and its result block, when given, a
  // TPngReadInfo. Every failure sets MEDIA_ERR_READ_PNG: a request that
  // carries a tag, a file that cannot be opened, a library error (its
  // message logged), a picture too large to decode, another target, a frame
  // that cannot be allocated.
  bool ReadPng(ZarnTypes::TMediaRequest& request);

  // The same from a whole file in memory (pPath unused); pictures of more
  // than `nMaxPixels` pixels are refused before decoding.
  bool ReadPngMemory(const std::uint8_t* pData, std::size_t nSize, ZarnTypes::TMediaRequest& request,
                     std::int64_t nMaxPixels = kMaxPngPixels);

  // Saves a 24- or 32-bit bitmap (a 24-bit one through a 32-bit copy) with
  // WriteBitmap; false for other depths. The bitmap stays the caller's.
  bool SavePng(const std::string& path, ZarnTypes::TFileFormat eFormat, const TPngSettings& settings,
               const Dib::TDibSection& bitmap);

  // Builds the pixel source for the settings' colour type and bit depth from
  // a 32-bit bitmap and runs WritePng:
  //   RGB, RGB + alpha: 8 or 16 bits (16-bit samples are the 8-bit ones
  //     widened, v x 257);
  //   palette: 1 bit black and white, 2, 4 and 8 bits a palette of at most
  //     4, 16 or 256 colours made by the octree quantizer with the settings'
  //     significant colour bits, the entries in the quantizer's order;
  //   grey: BT.601 full-range luma; 1 bit black and white by nearest colour,
  //     2 and 4 bits the luma's top bits, 8 bits the luma, 16 bits it widened;
  //   grey + alpha: 8 or 16 bits.
  // Alpha is the bitmap's fourth byte when any pixel has a non-zero one;
  // a bitmap whose fourth bytes are all 0 (as 24-bit sources and ordinary
  // 32-bit frames have) is written opaque. False, with no file made, for
  // another bitmap depth, colour type or depth, a 2-, 4- or 8-bit palette with
  // significant colour bits outside 1..8, or a section or palette that
  // cannot be made.
  bool WriteBitmap(const std::string& path, ZarnTypes::TFileFormat eFormat, const TPngSettings& settings,
                   const Dib::TDibSection& bitmap);

  // Writes a write request (MEDIA_OP_WRITE_STILL, tag MEDIA_REQ_PNG, pParams
  // -> TPngWriteParams) to the file named by pPath: colour type, depth,
  // interlacing and compression level from the settings, the manager's other
  // compression values, gAMA 0.45455. Rows by the request's ePixelFormat:
  //   PF_RGB32: the frame buffer, bottom-up, blue, green, red, x (RGB and
  //     RGB + alpha at 8 or 16 bits; an all-zero fourth byte is opaque);
  //   PF_DIB_1, PF_DIB_4, PF_DIB_8: the frame buffer laid out over the bits
  //     of the TPngWriteParams section, bottom-up (palette at the section's
  //     depth with its colour table, or at 2 bits from a 4-bit section of at
  //     most four colours; grey at 1 bit, index 1 white);
  //   PF_YCBCR_FIRST (4:4:4, grey + alpha at 8 or 16 bits): luma and alpha
  //     pairs in the planar frame's chroma memory, rows two aligned widths
  //     apart;
  //   PF_YCBCR_FIRST + 6 (4:2:2, grey at 2 or 4 bits): packed samples in the
  //     planar frame's chroma memory, rows one aligned width apart;
  //   PF_YCBCR_FIRST + 15 (4:2:0, grey at 8 or 16 bits): the luma plane.
  // The file is replaced only when the whole picture was coded and written:
  // a failed write leaves no file behind. An unknown colour type code is
  // refused at once without an error code; every other failure sets
  // MEDIA_ERR_WRITE_PNG.
  bool WritePng(ZarnTypes::TMediaRequest& request);

 private:
  bool Decode(ZarnTypes::TMediaRequest& request, std::FILE* pFile, const std::uint8_t* pData,
              std::size_t nSize, std::int64_t nMaxPixels);

  TPngCompression m_Compression;
};

}  // namespace PngMgr
