#pragma once
// GIF codec manager: decodes a .gif file into a 32-bit frame buffer for the
// engine, the channel reader's image sequences and the file dialog's
// preview, and saves a 24- or 32-bit bitmap as a GIF87a file with 2, 16 or
// 256 colours for the document's image saving. Coding is done by giflib.
//
// The manager keeps no state; it is built on the caller's stack for one call
// or embedded in a channel reader. No message is shown here: callers report
// failures from the request's error code.

#include <cstddef>
#include <cstdint>
#include <string>

#include "io/media_request.h"
#include "media/dib.h"

namespace ZarnTypes {

// The GIF options page's settings record (what follows the exchange header
// in the GIF page's block). The document and every recorder keep a copy.
// The saver reads the bit depth and the significant colour bits only.
// Fields in the order the document stores its copy.
struct TGifSettings {
  std::int32_t nFirst = 0;            // kept for the page (not read)
  std::int32_t nReserved1 = 1;        // kept for the page (not read)
  std::int32_t nReserved2 = 0;        // kept for the page (not read)
  std::int32_t nColorSpace = 2;       // 1 grey, 2 RGB (not read by the saver)
  std::int32_t nBitDepth = 8;         // 1, 2, 4 or 8
  std::uint8_t bReserved = 0;         // kept for the page (not read)
  std::int32_t nPaletteKind = 3;      // 1 halftone, otherwise adaptive octree (not read)
  std::int32_t nSignificantBits = 6;  // 1..8: depth of the quantizer's octree
};

}  // namespace ZarnTypes

namespace GifMgr {

// Fields of the caller's result block (kMediaResultBlockSize bytes, 32-bit
// fields) that a GIF read fills.
inline constexpr std::size_t kResultImageCount = 0;          // images in the file
inline constexpr std::size_t kResultGlobalBitsPerPixel = 3;  // bits of the global colour map

class CGifMgr {
 public:
  // Decodes the file named by request.path into *request.frameBuffer, which
  // must be given with the target pixel format in request.pixelFormat:
  // only PF_RGB32 is produced. The picture has the logical screen's size;
  // rows are bottom-up (the first picture row is the buffer's last row),
  // pixels blue, green, red with the fourth byte left as it was. The frame
  // buffer is reused when it already holds storage of the same format,
  // width, height, row alignment 4 and height alignment 1; otherwise it is
  // freed and allocated anew.
  //
  // The first image is placed at its position on the screen and clipped to
  // it; screen pixels it does not cover get the global map's background
  // colour (black when the file names none inside that map). Colours come
  // from the first image's local colour map, else the global one; indices
  // past the map's colours give black. The whole file is read, so a
  // damaged later image fails the read too.
  //
  // On success the request gets width, height, stride, pixels and size,
  // and its result block, when given, the image count and the global colour
  // map's bits per pixel (left unwritten when there is no global map).
  // A request that carries a tag is not a GIF read. Every failure sets
  // error 8 (MEDIA_ERR_READ_GIF) and returns false.
  bool ReadGif(ZarnTypes::TMediaRequest& request);

  // The same for a whole GIF file already in memory (request.path unused).
  bool ReadGifMemory(const std::uint8_t* data, std::size_t size, ZarnTypes::TMediaRequest& request);

  // Writes a 24- or 32-bit bitmap as a GIF file at the settings' bit depth:
  // 1 gives black and white (no quantizing), 2, 4 and 8 a palette of at
  // most 2^depth colours made by the octree quantizer with the settings'
  // significant colour bits (a depth of 2 is stored as a 16-entry map).
  // False, with no file created, for other bitmap depths, other bit depths,
  // significant colour bits outside 1..8, or a section or palette that
  // cannot be made; otherwise the result of WriteGif. The bitmap stays the
  // caller's.
  bool SaveGif(const std::string& path, std::int32_t eFileFormat, const ZarnTypes::TGifSettings& settings,
               const Dib::TDibSection& bitmap);

  // Writes the 1-, 4- or 8-bit palette section carried by a write request
  // (op 2) as a GIF87a file: one image covering the logical screen, its
  // colour table as the global colour map (2^depth entries, entries past the
  // section's table black), background index 0, no extension blocks.
  //
  // The section travels in request.params as a `const Dib::TDibSection*`
  // (the frame buffer record has no field for it); request.path names the
  // file; the request carries no tag (a tagged request fails with error
  // 25). False without an error code when there is no section or it does
  // not hold its rows; every later failure (no path, another depth, an empty
  // colour table, a picture wider or taller than 65,535, a library error or
  // a failed file write) sets error 25 (MEDIA_ERR_WRITE_GIF). The file is
  // written whole or not at all: a failed write leaves no partial file.
  bool WriteGif(ZarnTypes::TMediaRequest& request);
};

}  // namespace GifMgr
