#pragma once
// TIFF codec manager: decodes TIFF files into a bottom-up 32-bit frame, and
// saves a bitmap as a palette, RGB or RGB + alpha TIFF. Coding is done by
// libtiff; reading goes through its RGBA interface, so every photometric
// interpretation, depth and compression the library knows can be shown.
//
// The manager keeps no state between calls. The library's errors and
// warnings of one call are collected through per-handle handlers and shown
// through the message sink when the call ends (captions "<module> Error" and
// "<module> Warning", as the library names its boxes), as are the manager's
// own reasons for refusing a file or a setting.

#include <cstddef>
#include <cstdint>
#include <string>

#include "io/media_request.h"
#include "media/dib.h"
#include "media/file_types.h"
#include "media/frame_buffer.h"

namespace ZarnTypes {

// Colour spaces of the TIFF page.
enum TTiffColorSpace : std::int32_t {
  TIFF_CS_GREY = 1,
  TIFF_CS_GREY_ALPHA = 2,
  TIFF_CS_PALETTE = 3,
  TIFF_CS_RGB = 4,
  TIFF_CS_RGB_ALPHA = 5,
};

// Compression codes of the TIFF page (any other code writes no compression).
enum TTiffCompressionCode : std::int32_t {
  TIFF_COMP_NONE = 1,
  TIFF_COMP_LZW = 2,
  TIFF_COMP_PACKBITS = 3,
  TIFF_COMP_JPEG = 4,         // at the settings' quality, RGB
  TIFF_COMP_JPEG2000 = 5,     // only where the library has an encoder for it
  TIFF_COMP_ZIP = 6,          // Deflate, written as Adobe Deflate (8)
  TIFF_COMP_HUFFMAN_RLE = 7,  // bilevel pictures only
  TIFF_COMP_FAX3 = 8,         // bilevel pictures only
  TIFF_COMP_FAX4 = 9,         // bilevel pictures only
};

// The TIFF page's settings record (what follows the exchange header). The
// writer reads colour space, bit depth, significant colour bits, compression
// code and, for JPEG compression, the quality; the palette kind is the
// page's own.
struct TTiffSettings {
  std::int32_t nReserved = 0;
  std::uint8_t bReserved1 = 0;
  std::int32_t nColorSpace = TIFF_CS_RGB;  // TTiffColorSpace
  std::int32_t nBitDepth = 8;              // 1, 2, 4, 8 or 16
  std::uint8_t bReserved2 = 0;
  std::int32_t nPaletteKind = 3;              // 1 halftone, otherwise octree; not read here
  std::int32_t nColorBits = 6;                // significant colour bits 1..8 (octree depth)
  std::int32_t nCompression = TIFF_COMP_LZW;  // TTiffCompressionCode
  std::int32_t nQuality = 80;                 // JPEG quality 1..100 (held to it when written)
};

// The parameter block of a MEDIA_REQ_TIFF write request: the settings, and
// for the palette colour space the 1-, 4- or 8-bit section whose rows and
// colour table are written (the frame buffer record has no field for a
// bitmap). The block begins with the settings.
struct TTiffWriteParams {
  TTiffSettings settings;
  const Dib::TDibSection* pSection = nullptr;
};

}  // namespace ZarnTypes

namespace TiffMgr {

// Pictures larger than this many pixels are refused by the reader (4 bytes
// each is the frame buffer allocator's limit).
inline constexpr std::int64_t kMaxTiffPixels = ZarnTypes::kMaxFrameBufferBytes / 4;

// Fields (32-bit) of the caller's result block that a read fills, each only
// when the file has the tag.
inline constexpr std::size_t kResultColorCode = 1;  // from the photometric tag
inline constexpr std::size_t kResultSamplesPerPixel = 2;
inline constexpr std::size_t kResultBitsPerSample = 3;
inline constexpr std::size_t kResultCompression =
    5;  // 0 none .. 9 CCITT Fax 4 (both Deflate codes 6), 1 any other

class CTiffMgr {
 public:
  // Decodes the first picture of the file named by a read request (pPath)
  // into the request's frame buffer as PF_RGB32 rows, bottom row first,
  // blue, green, red, alpha (the library's RGBA interface: alpha 255 where
  // the file has none, colours premultiplied by an unassociated alpha). The
  // target pixel format must be PF_RGB32. Failure: false with error
  // MEDIA_ERR_READ_TIFF.
  bool ReadTiff(ZarnTypes::TMediaRequest& request);

  // The same from bytes in memory; pictures of more than `nMaxPixels` pixels
  // are refused before decoding.
  bool ReadTiffMemory(const std::uint8_t* pData, std::size_t nSize, ZarnTypes::TMediaRequest& request,
                      std::int64_t nMaxPixels = kMaxTiffPixels);

  // Saves a 24- or 32-bit bitmap; the bitmap stays the caller's.
  bool SaveTiff(const std::string& path, ZarnTypes::TFileFormat eFormat,
                const ZarnTypes::TTiffSettings& settings, const Dib::TDibSection& bitmap);

  // Builds the pixel source for a 32-bit bitmap and runs WriteTiff. Refused
  // before any file is made: grey colour spaces, palette depths 2 and 16, RGB
  // and RGB + alpha at depths other than 8, and compressions the picture or
  // the library cannot take (JPEG for a palette, the CCITT codes for more
  // than 1 bit per pixel, JPEG 2000 without an encoder).
  bool WriteBitmap(const std::string& path, ZarnTypes::TFileFormat eFormat,
                   const ZarnTypes::TTiffSettings& settings, const Dib::TDibSection& bitmap);

  // Writes a write request (MEDIA_OP_WRITE_STILL, tag MEDIA_REQ_TIFF, pParams
  // -> TTiffWriteParams). Pixel source by colour space: RGB -> PF_RGB24
  // frame of red, green, blue; RGB + alpha -> PF_RGB32 frame of red, green,
  // blue, alpha (both bottom-up); palette -> the block's section. Rows are
  // written top first with orientation top-left. A request without that tag
  // or block, a colour space or depth the writer does not take, a palette
  // section that cannot be described or one of more than 256 colours return
  // false without an error code; any other failure, a refused compression or
  // tag, a failed scan line and a file that cannot be written included, sets
  // MEDIA_ERR_WRITE_TIFF.
  // The file is replaced only when the whole TIFF was made: a failed write
  // leaves no file behind.
  bool WriteTiff(ZarnTypes::TMediaRequest& request);
};

}  // namespace TiffMgr
