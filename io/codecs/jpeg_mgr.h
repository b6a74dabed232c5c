#pragma once
// JPEG codec manager: decodes JPEG/JFIF files into a bottom-up 24- or 32-bit
// frame buffer for the engine, the channel reader's image sequences and the
// file dialog's preview, and writes a 24- or 32-bit frame as a colour or
// greyscale JPEG file for the document's image saving. Coding is done by
// libjpeg (the 6b interface of libjpeg-turbo) through its scan-line calls.
//
// The manager keeps no state; it is built on the caller's stack for one call
// or embedded in a channel reader.
//
// Library errors never end the process: the error exit shows the library's
// message in a box titled "JPEG Library Error" and returns to the manager,
// which releases the library's objects and fails the request. Of the
// warnings of one call only the first is shown (all of them at trace level 3
// or more); "Corrupt JPEG data: %u extraneous bytes before marker 0x%02x" is
// never shown. Warnings do not stop decoding.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "io/media_request.h"
#include "media/file_types.h"
#include "media/frame_buffer.h"

namespace JpegMgr {

// The JPEG page's settings (what follows the exchange header in its block):
// the savers choose colour or grey by the format and pass the quality on.
struct TJpegExchange {
  std::int32_t nFileFormat = ZarnTypes::FF_JPEG;  // FF_JPEG colour, FF_JPEG_GRAY greyscale
  std::int32_t nQuality = 80;                     // 1..100 (the page clamps it)
};

inline constexpr std::int32_t kDefaultQuality = 80;

// Pictures of more pixels than this are refused before decoding (4 bytes
// each is the frame buffer allocator's limit).
inline constexpr std::int64_t kMaxJpegPixels = ZarnTypes::kMaxFrameBufferBytes / 4;

// Working memory the library may take for one picture (coefficient buffers
// of progressive files); beyond it the library reports an error.
inline constexpr long kMaxJpegWorkingMemory = static_cast<long>(ZarnTypes::kMaxFrameBufferBytes);

// Scans a progressive file may have; more end the read (a real file has a
// dozen, a crafted one can make every scan a full pass over the picture).
inline constexpr int kMaxJpegScans = 256;

// Codes of the file's colour space in the result block (first field).
enum TJpegColorSpaceCode : std::int32_t {
  JPEG_CS_OTHER = 0,
  JPEG_CS_UNKNOWN = 1,
  JPEG_CS_GRAYSCALE = 2,
  JPEG_CS_RGB = 3,
  JPEG_CS_YCBCR = 4,
  JPEG_CS_CMYK = 5,
  JPEG_CS_YCCK = 6,
};

// The first two 32-bit fields of the request's result block, as a read
// fills them.
struct TJpegReadInfo {
  std::int32_t nColorSpace = 0;  // TJpegColorSpaceCode of the file
  std::int32_t nPrecision = 0;   // bits per sample
};

class CJpegMgr {
 public:
  CJpegMgr() = default;
  virtual ~CJpegMgr() = default;

  // Decodes the file named by a read request (pPath) into its frame buffer.
  // Targets (ePixelFormat): PF_RGB24 (3-byte pixels) and PF_RGB32 (4-byte
  // pixels, the fourth byte 0); rows aligned to 4 bytes, bottom row first,
  // pixels blue, green, red. Greyscale files give equal blue, green and red.
  // The frame buffer is reused when it already holds storage of the target
  // format, row alignment 4, height alignment 1, width and height; otherwise
  // it is freed and allocated anew.
  //
  // On success the request gets width, height, stride, pixels and size, and
  // its result block, when given, a TJpegReadInfo. Failures: a request that
  // carries a tag fails quietly with MEDIA_ERR_READ_JPEG, nothing opened; a
  // file that cannot be opened ("Can't open %s\n" in the application's
  // message box) and every error that ends the library's work (its message
  // in the "JPEG Library Error" box: a broken file, a picture too large to
  // decode, another target format or a frame buffer that cannot be
  // allocated, which end through "Application transferred too few
  // scanlines") fail without an error code. After a failure the frame
  // buffer keeps what was already prepared.
  bool ReadJpeg(ZarnTypes::TMediaRequest& request);

  // The same from a whole file in memory (pPath unused); pictures of more
  // than `nMaxPixels` pixels are refused before decoding.
  bool ReadJpegMemory(const std::uint8_t* pData, std::size_t nSize, ZarnTypes::TMediaRequest& request,
                      std::int64_t nMaxPixels = kMaxJpegPixels);

  // Writes the frame buffer of a write request (MEDIA_OP_WRITE_STILL) to the
  // file named by pPath. eSourceFormat FF_JPEG writes a colour (YCbCr) file,
  // FF_JPEG_GRAY a one-component greyscale file; ePixelFormat PF_RGB24 or
  // PF_RGB32 says how the frame's bottom-up rows are laid out; nWidth and
  // nHeight give the picture's size. The quality goes to the library as given
  // (it clamps to 1..100), with baseline tables forced.
  //
  // The file is replaced only when the whole picture was coded and written:
  // a failed write leaves no file behind. Failures leave the error code
  // alone (there is none for a JPEG write): a request that carries a tag
  // fails quietly before anything is made;
  // another format ends through the library's state error, another pixel
  // format or a frame too small for the picture through "Application
  // transferred too few scanlines" (both in the "JPEG Library Error" box); a
  // file that cannot be created shows "Can't open %s\n".
  bool WriteJpeg(ZarnTypes::TMediaRequest& request, std::int32_t nQuality);

 private:
  bool Decode(ZarnTypes::TMediaRequest& request, std::FILE* pFile, const std::uint8_t* pData,
              std::size_t nSize, std::int64_t nMaxPixels);
};

}  // namespace JpegMgr
