// The still-picture writers and the dispatcher that picks one by format.

#include "io/codecs/save_picture.h"

#include <cstring>

#include "io/codecs/codec_common.h"
#include "io/codecs/jpeg_mgr.h"
#include "io/codecs/quantizer.h"
#include "io/media_request.h"
#include "media/color_conversion.h"
#include "media/frame_buffer.h"
#include "media/yuv_frame.h"

namespace SavePicture {

using namespace ZarnTypes;

namespace {

// A bottom-up 32-bit picture the writers can read rows from: the picture
// itself, or a converted copy kept in `holder`. Null for other depths.
const Dib::TDibSection* AsBottomUp32(const Dib::TDibSection& bitmap, Dib::TDibPtr& holder) {
  if (!Codecs::SectionHoldsRows(bitmap)) return nullptr;
  if (bitmap.BitCount() == 32 && !bitmap.TopDown()) return &bitmap;
  if (bitmap.BitCount() != 24 && bitmap.BitCount() != 32) return nullptr;
  holder = Dib::CreateDibSectionEx(bitmap.Width(), bitmap.Height(), 32);
  if (!holder) return nullptr;
  const int width = bitmap.Width();
  const int bytes = bitmap.BitCount() / 8;
  for (int y = 0; y < bitmap.Height(); ++y) {
    const std::uint8_t* from = bitmap.RowFromTop(y);
    std::uint8_t* to = holder->RowFromTop(y);
    for (int x = 0; x < width; ++x) {
      to[4 * x + 0] = from[bytes * x + 0];
      to[4 * x + 1] = from[bytes * x + 1];
      to[4 * x + 2] = from[bytes * x + 2];
      to[4 * x + 3] = bytes == 4 ? from[4 * x + 3] : 0;
    }
  }
  return holder.get();
}

// A PF_RGB32 frame record over the rows of a bottom-up 32-bit picture.
TFrameBuffer FrameOver(const Dib::TDibSection& picture) {
  TFrameBuffer frame{};
  frame.ePixelFormat = PF_RGB32;
  frame.nWidth = picture.Width();
  frame.nHeight = picture.Height();
  frame.nRowAlignment = 4;
  frame.nHeightAlignment = 1;
  LayoutFrameBuffer(&frame);
  frame.pBuffer = const_cast<std::uint8_t*>(picture.bits.data());
  return frame;
}

bool IsYuvLayout(std::int32_t format) { return format >= FF_YCBCR_FIRST && format <= FF_YCBCR_LAST; }

}  // namespace

TFormatWriter FindFormatWriter(std::int32_t format) {
  switch (format) {
    case FF_BMP_1BIT: return {WRITER_BMP, 1};
    case FF_BMP_4BIT: return {WRITER_BMP, 4};
    case FF_BMP_8BIT: return {WRITER_BMP, 8};
    case FF_BMP_16BIT: return {WRITER_BMP, 16};
    case FF_BMP_24BIT: return {WRITER_BMP, 24};
    case FF_BMP_32BIT: return {WRITER_BMP, 32};
    case FF_GIF: return {WRITER_GIF, 32};
    case FF_JPEG:
    case FF_JPEG_GRAY: return {WRITER_JPEG, 32};
    case FF_JP2:
    case FF_JPC: return {WRITER_JPEG2000, 32};
    case FF_PNG: return {WRITER_PNG, 32};
    case FF_TIFF: return {WRITER_TIFF, 32};
    default: break;
  }
  if (IsYuvLayout(format)) return {WRITER_YUV, 24};
  return {};
}

bool SaveBitmapAsBmp(const Dib::TDibSection& bitmap, std::int32_t bitCount, const std::string& path) {
  if (path.empty() || !Codecs::SectionHoldsRows(bitmap)) return false;
  if (bitCount != 4 && bitCount != 8) {
    if (bitCount != 1 && bitCount != 16 && bitCount != 24 && bitCount != 32) return false;
    const std::vector<std::uint8_t> packed = Dib::CreateDibFromBitmap(bitmap, bitCount);
    return !packed.empty() && Dib::SaveDibToBmpFile(path, packed);
  }
  // A palette of the picture's own colours, each pixel its nearest entry.
  if (bitmap.BitCount() != 24 && bitmap.BitCount() != 32) return false;
  Quantizer::CQuantizer quantizer;
  const Quantizer::TPalettePtr palette = bitCount == 4 ? quantizer.QuantizeToPalette(bitmap, 16, 8)
                                                       : quantizer.QuantizeToPalette(bitmap, 256, 6);
  if (!palette) return false;
  Dib::TDibPtr section = Dib::CreateDibSectionPal(bitmap.Width(), bitmap.Height(), bitCount, palette.get());
  if (!section) return false;
  Dib::TDibPtr wide;
  const Dib::TDibSection* source = AsBottomUp32(bitmap, wide);
  if (!source || !quantizer.MapToPalette(*source, *section, palette.get())) return false;
  return Dib::SaveDibSectionToBmpFile(path, *section);
}

bool SaveBitmapAsJpeg(const std::string& path, std::int32_t format, std::int32_t quality,
                      const Dib::TDibSection& bitmap) {
  if (path.empty() || (format != FF_JPEG && format != FF_JPEG_GRAY)) return false;
  Dib::TDibPtr wide;
  const Dib::TDibSection* source = AsBottomUp32(bitmap, wide);
  if (!source) return false;
  TFrameBuffer frame = FrameOver(*source);
  TMediaRequest request{};
  request.eOp = MEDIA_OP_WRITE_STILL;
  request.eSourceFormat = static_cast<TFileFormat>(format);
  request.ePixelFormat = PF_RGB32;
  request.pPath = &path;
  request.nWidth = frame.nWidth;
  request.nHeight = frame.nHeight;
  request.pFrameBuffer = &frame;
  JpegMgr::CJpegMgr manager;
  return manager.WriteJpeg(request, quality);
}

bool SaveBitmapAsGif(const std::string& path, std::int32_t format, const TGifSettings& settings,
                     const Dib::TDibSection& bitmap) {
  GifMgr::CGifMgr manager;
  return !path.empty() && manager.SaveGif(path, format, settings, bitmap);
}

bool SaveBitmapAsPng(const std::string& path, std::int32_t format, const PngMgr::TPngSettings& settings,
                     const Dib::TDibSection& bitmap) {
  PngMgr::CPngMgr manager;
  return !path.empty() && manager.SavePng(path, static_cast<TFileFormat>(format), settings, bitmap);
}

bool SaveBitmapAsJpeg2000(const std::string& path, std::int32_t format, const TJpeg2000Settings& settings,
                          const Dib::TDibSection& bitmap) {
  Jpeg2000Mgr::CJpeg2000Mgr manager;
  return !path.empty() && manager.SaveJpeg2000(path, static_cast<TFileFormat>(format), settings, bitmap);
}

bool SaveBitmapAsTiff(const std::string& path, std::int32_t format, const TTiffSettings& settings,
                      const Dib::TDibSection& bitmap) {
  TiffMgr::CTiffMgr manager;
  return !path.empty() && manager.SaveTiff(path, static_cast<TFileFormat>(format), settings, bitmap);
}

bool SaveBitmapAsYuv(const std::string& path, std::int32_t format, const Dib::TDibSection& bitmap) {
  if (bitmap.BitCount() != 24 && bitmap.BitCount() != 32) return false;
  return SaveFrameAsYuv(path, format, bitmap);
}

bool SaveFrameAsYuv(const std::string& path, std::int32_t format, const Dib::TDibSection& bitmap) {
  if (path.empty() || !IsYuvLayout(format)) return false;
  const TPixelFormat layout = FileFormatToPixelFormat(format);
  if (layout == TPixelFormat{0}) return false;
  Dib::TDibPtr wide;
  const Dib::TDibSection* source = AsBottomUp32(bitmap, wide);
  if (!source) return false;
  const TFrameBuffer frame = FrameOver(*source);
  TYuvFrameBuffer yuv{};
  yuv.ePixelFormat = layout;
  yuv.nWidth = frame.nWidth;
  yuv.nHeight = frame.nHeight;
  yuv.nWidthAlignment = 2;
  yuv.nHeightAlignment = 2;
  if (!AllocYuvFrame(&yuv) || !yuv.pBuffer) {
    FreeYuvFrame(&yuv);
    return false;
  }
  // Samples past an odd width or height are black.
  std::memset(yuv.pBuffer, 0, static_cast<std::size_t>(yuv.nYSize));
  std::memset(yuv.pCb, 128, static_cast<std::size_t>(yuv.nCbSize));
  std::memset(yuv.pCr, 128, static_cast<std::size_t>(yuv.nCrSize));
  const bool ok = ConvertRgbToYuv(frame, yuv) && WriteYuvFrameFile(path, &yuv);
  FreeYuvFrame(&yuv);
  return ok;
}

bool SaveImageByFormat(const std::string& path, std::int32_t format, const Dib::TDibSection& bitmap,
                       const TEncoderSettings& settings) {
  const TFormatWriter writer = FindFormatWriter(format);
  switch (writer.eWriter) {
    case WRITER_BMP: return SaveBitmapAsBmp(bitmap, writer.nBitCount, path);
    case WRITER_GIF: return SaveBitmapAsGif(path, format, settings.gif, bitmap);
    case WRITER_JPEG: return SaveBitmapAsJpeg(path, format, settings.nJpegQuality, bitmap);
    // The code stream goes the way of the JP2 file: the settings' mode
    // chooses which of the two is written.
    case WRITER_JPEG2000: return SaveBitmapAsJpeg2000(path, FF_JP2, settings.jpeg2000, bitmap);
    case WRITER_PNG: return SaveBitmapAsPng(path, format, settings.png, bitmap);
    case WRITER_TIFF: return SaveBitmapAsTiff(path, format, settings.tiff, bitmap);
    case WRITER_YUV: return SaveBitmapAsYuv(path, format, bitmap);
    case WRITER_NONE: break;
  }
  return false;
}

}  // namespace SavePicture
