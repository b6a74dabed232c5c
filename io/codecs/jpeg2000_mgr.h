#pragma once
// JPEG 2000 codec manager: decodes JP2 files and bare JPEG 2000 code streams
// (JPC) into a bottom-up 32-bit frame, and saves a bitmap as a JP2 or JPC
// file. Coding is done by OpenJPEG; the codec is chosen by the file's first
// bytes, not by its name.
//
// The manager keeps no state between calls. Failures are results only: no
// message box is shown. OpenJPEG's errors and warnings of one call, and the
// manager's own reasons for refusing a file or a setting, go to the log
// (standard error) when the call ends ("JPEG 2000 library error: ...").

#include <cstddef>
#include <cstdint>
#include <string>

#include "io/media_request.h"
#include "media/dib.h"
#include "media/file_types.h"
#include "media/frame_buffer.h"

namespace ZarnTypes {

// Colour spaces of the JPEG 2000 page.
enum TJpeg2000ColorSpace : std::int32_t {
  J2K_CS_GREY = 1,
  J2K_CS_GREY_ALPHA = 2,
  J2K_CS_PALETTE = 3,
  J2K_CS_RGB = 4,
  J2K_CS_RGB_ALPHA = 5,
};

// Compression modes of the JPEG 2000 page.
enum TJpeg2000Mode : std::int32_t {
  J2K_MODE_LOSSLESS = 1,  // JP2 file, reversible transform, no rate
  J2K_MODE_JP2 = 2,       // JP2 file at the page's rate
  J2K_MODE_JPC = 3,       // bare code stream at the page's rate
};

// The JPEG 2000 page's settings record (what follows the exchange header).
// The writer reads colour space, bit depth, significant colour bits, mode
// and quality; quality is the rate x 1000 (300: the compressed file is 0.3
// of the uncompressed picture's size; 1000 keeps everything, losslessly).
struct TJpeg2000Settings {
  std::int32_t nFileFormat = FF_JP2;  // FF_JP2 for the JP2 modes, FF_JPC for JPC
  std::uint8_t bReserved1 = 0;
  std::int32_t nColorSpace = J2K_CS_RGB;  // TJpeg2000ColorSpace
  std::int32_t nBitDepth = 8;             // 1, 2, 4, 8 or 16
  std::uint8_t bReserved2 = 0;
  std::int32_t nPaletteKind = 3;                 // 1 halftone, otherwise octree; not read here
  std::int32_t nColorBits = 6;                   // significant colour bits 1..8
  std::int32_t nCompressionMode = J2K_MODE_JP2;  // TJpeg2000Mode
  std::int32_t nQuality = 300;                   // rate x 1000, 1..1000
};

}  // namespace ZarnTypes

namespace Jpeg2000Mgr {

// Pictures larger than this many pixels are refused by the reader (4 bytes
// each is the frame buffer allocator's limit).
inline constexpr std::int64_t kMaxJpeg2000Pixels = ZarnTypes::kMaxFrameBufferBytes / 4;

// The result block a read fills (the first two 32-bit fields of the request's
// result block).
struct TJpeg2000ReadInfo {
  std::int32_t nPrecision = 0;       // bits per sample of component 0, as coded
  std::int32_t nComponentCount = 0;  // components of the decoded image
};

class CJpeg2000Mgr {
 public:
  // Decodes the file named by a read request (pPath) into the request's
  // frame buffer as PF_RGB32 rows, bottom row first, blue, green, red and a
  // fourth byte (alpha when the image has one, else 0). The request's target
  // pixel format must be PF_RGB32. Samples of any precision are scaled to 8
  // bits; YCC, greyscale, CMYK and subsampled components are converted to
  // RGB. Failure: false with error MEDIA_ERR_READ_JPEG2000.
  bool ReadJpeg2000(ZarnTypes::TMediaRequest& request);

  // The same from bytes in memory; pictures of more than `nMaxPixels` pixels
  // are refused before decoding.
  bool ReadJpeg2000Memory(const std::uint8_t* pData, std::size_t nSize, ZarnTypes::TMediaRequest& request,
                          std::int64_t nMaxPixels = kMaxJpeg2000Pixels);

  // Saves a 24- or 32-bit bitmap; the bitmap stays the caller's.
  bool SaveJpeg2000(const std::string& path, ZarnTypes::TFileFormat eFormat,
                    const ZarnTypes::TJpeg2000Settings& settings, const Dib::TDibSection& bitmap);

  // Builds the frame for a 32-bit bitmap and runs WriteJpeg2000. Refuses,
  // before any file is made: grey colour spaces, the palette colour space (a
  // JPEG 2000 file of this program has no palette layout) and bit depth 16.
  // RGB at bit depths 1, 2 and 4 is written with 8-bit samples.
  bool WriteBitmap(const std::string& path, ZarnTypes::TFileFormat eFormat,
                   const ZarnTypes::TJpeg2000Settings& settings, const Dib::TDibSection& bitmap);

  // Writes a write request (MEDIA_OP_WRITE_STILL, tag MEDIA_REQ_JPEG2000,
  // pParams -> TJpeg2000Settings) from its PF_RGB32 bottom-up frame buffer
  // (blue, green, red, alpha). A request without that tag or block returns
  // false without an error code; any other failure sets
  // MEDIA_ERR_WRITE_JPEG2000. The file is replaced only when the whole code
  // stream was made: a failed write leaves no file behind.
  bool WriteJpeg2000(ZarnTypes::TMediaRequest& request);
};

}  // namespace Jpeg2000Mgr
