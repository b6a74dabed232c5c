#pragma once
// Writing a picture in any still format the program saves: BMP at 1, 4, 8,
// 16, 24 and 32 bits, GIF, JPEG colour and grey, JPEG 2000 (JP2 file or bare
// code stream), PNG, TIFF and one raw YCbCr frame in any of the 42 planar
// layouts.
//
// SaveImageByFormat is the single entry; one table (FindFormatWriter) says
// which writer and depth a format takes, and the numbered captures use the
// same table. Every writer takes the picture by reference and leaves it to
// the caller; none keeps state, shows a window or needs Qt, so the
// recording path calls them from the engine's pacing thread. A file is
// written whole or not at all: a failed save leaves no file behind and an
// existing file of that name as it was.

#include <cstdint>
#include <string>

#include "io/codecs/gif_mgr.h"
#include "io/codecs/jpeg2000_mgr.h"
#include "io/codecs/png_mgr.h"
#include "io/codecs/tiff_mgr.h"
#include "media/dib.h"
#include "media/file_types.h"

namespace ZarnTypes {

// Encoder settings of the capture and save commands, in field order: the
// savers' own settings records, with the document's defaults.
struct TEncoderSettings {
  std::int32_t nValue = 33;  // the save format (TFileFormat)
  std::int32_t nJpegQuality = 80;
  TJpeg2000Settings jpeg2000{
      .nFileFormat = 0, .bReserved1 = 1, .nCompressionMode = J2K_MODE_JP2, .nQuality = 300};
  PngMgr::TPngSettings png{.nFileFormat = 0};
  TGifSettings gif;
  TTiffSettings tiff{.nReserved = 0, .bReserved1 = 1, .nCompression = TIFF_COMP_LZW, .nQuality = 80};
};

}  // namespace ZarnTypes

namespace SavePicture {

enum TPictureWriter : std::int32_t {
  WRITER_NONE = 0,
  WRITER_BMP,
  WRITER_GIF,
  WRITER_JPEG,
  WRITER_JPEG2000,
  WRITER_PNG,
  WRITER_TIFF,
  WRITER_YUV,
};

// What a format is written with. `nBitCount` is the picture depth the
// format stands for: the file's depth for the BMP formats, 24 for the raw
// YCbCr layouts, 32 for the others.
struct TFormatWriter {
  TPictureWriter eWriter = WRITER_NONE;
  std::int32_t nBitCount = 0;
};

// The table: 28, 30, 31, 32, 33, 34 BMP at 1, 4, 8, 16, 24, 32 bits; 37 GIF;
// 38, 39 JPEG colour, grey; 41 JP2 and 42 JPEG 2000 code stream (both
// through the JPEG 2000 writer, whose settings' mode chooses the kind);
// 43 PNG; 44 TIFF; 53..94 raw YCbCr. Every other format (27, 29, 35, 36,
// 40, ...) has no writer.
TFormatWriter FindFormatWriter(std::int32_t format);

// BMP at 1, 4, 8, 16, 24 or 32 bits from a 24- or 32-bit picture. Depths 4
// and 8 are reduced by the octree quantizer to at most 16 colours with 8
// colour bits and at most 256 colours with 6 colour bits, and mapped by
// nearest colour; the others are converted directly.
bool SaveBitmapAsBmp(const Dib::TDibSection& bitmap, std::int32_t bitCount, const std::string& path);
// JPEG colour (38) or grey (39) at the quality (1..100) from a 24- or
// 32-bit picture.
bool SaveBitmapAsJpeg(const std::string& path, std::int32_t format, std::int32_t quality,
                      const Dib::TDibSection& bitmap);
bool SaveBitmapAsGif(const std::string& path, std::int32_t format, const ZarnTypes::TGifSettings& settings,
                     const Dib::TDibSection& bitmap);
bool SaveBitmapAsPng(const std::string& path, std::int32_t format, const PngMgr::TPngSettings& settings,
                     const Dib::TDibSection& bitmap);
bool SaveBitmapAsJpeg2000(const std::string& path, std::int32_t format,
                          const ZarnTypes::TJpeg2000Settings& settings, const Dib::TDibSection& bitmap);
bool SaveBitmapAsTiff(const std::string& path, std::int32_t format, const ZarnTypes::TTiffSettings& settings,
                      const Dib::TDibSection& bitmap);
// One raw YCbCr frame of a layout 53..94 (planes laid out with width and
// height aligned to 2; padding samples are black) from a 24- or 32-bit
// picture.
bool SaveBitmapAsYuv(const std::string& path, std::int32_t format, const Dib::TDibSection& bitmap);
bool SaveFrameAsYuv(const std::string& path, std::int32_t format, const Dib::TDibSection& bitmap);

// Writes the picture in the format with the settings' encoder values; false
// for a format without a writer, a picture the writer does not take, or a
// file that could not be written.
bool SaveImageByFormat(const std::string& path, std::int32_t format, const Dib::TDibSection& bitmap,
                       const ZarnTypes::TEncoderSettings& settings);

}  // namespace SavePicture
