#include "io/codecs/png_mgr.h"

#include <png.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "io/codecs/codec_common.h"
#include "io/codecs/quantizer.h"
#include "media/color_conversion.h"
#include "media/yuv_frame.h"
#include "platform/files.h"
#include "platform/text.h"

namespace PngMgr {

using ZarnTypes::FailRequest;
using ZarnTypes::SucceedRequest;
using ZarnTypes::TFrameBuffer;
using ZarnTypes::TMediaRequest;
using ZarnTypes::TPixelFormat;
using ZarnTypes::TYuvFrameBuffer;

namespace {

// Source that leads the library's lines in the log ("libpng error: ...").
constexpr char kLibrarySource[] = "libpng";

// Planar layouts (full-range BT.601) whose memory carries the grey sources.
constexpr TPixelFormat kGreyAlphaLayout = ZarnTypes::PF_YCBCR_FIRST;                                  // 4:4:4
constexpr TPixelFormat kPackedGreyLayout = static_cast<TPixelFormat>(ZarnTypes::PF_YCBCR_FIRST + 6);  // 4:2:2
constexpr TPixelFormat kGreyLayout = static_cast<TPixelFormat>(ZarnTypes::PF_YCBCR_FIRST + 15);       // 4:2:0

// The gamma values in the library's fixed point (x 100,000).
constexpr png_fixed_point kFileGammaFixed = 45455;

// libpng asks for a colour limit; this one never reduces a palette.
constexpr int kMaxQuantizeColors = 16777216;

// What the error handler leaves behind for the call that armed the jump.
struct TCallState {
  char message[256] = {};
};

// The library's texts are ASCII; anything else a crafted chunk name slips in
// is replaced so that the text stays valid UTF-8.
std::string PrintableText(const char* text) {
  std::string out(text);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80 || u < 0x20) c = '?';
  }
  return out;
}

void ErrorHandler(png_structp png, png_const_charp text) {
  auto* state = static_cast<TCallState*>(png_get_error_ptr(png));
  if (state) std::snprintf(state->message, sizeof state->message, "%s", text ? text : "");
  png_longjmp(png, 1);
}

// The library's messages go to the log, as its own handlers would have
// them; no message box is shown for a PNG file.
void WarningHandler(png_structp, png_const_charp text) {
  Codecs::LogLibraryMessage(kLibrarySource, false, PrintableText(text ? text : ""));
}

void LogLibraryError(const TCallState& state) {
  if (state.message[0] == '\0') return;
  Codecs::LogLibraryMessage(kLibrarySource, true, PrintableText(state.message));
}

std::int32_t ColorCodeOf(int pngColorType) {
  switch (pngColorType) {
    case PNG_COLOR_TYPE_GRAY: return PNG_CODE_GREY;
    case PNG_COLOR_TYPE_RGB: return PNG_CODE_RGB;
    case PNG_COLOR_TYPE_PALETTE: return PNG_CODE_PALETTE;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return PNG_CODE_GREY_ALPHA;
    case PNG_COLOR_TYPE_RGB_ALPHA: return PNG_CODE_RGB_ALPHA;
    default: return PNG_CODE_OTHER;
  }
}

// The PNG colour type written for a code of the page; -1 for none.
int PngColorTypeOf(std::int32_t code) {
  switch (code) {
    case PNG_CODE_GREY: return PNG_COLOR_TYPE_GRAY;
    case PNG_CODE_GREY_ALPHA: return PNG_COLOR_TYPE_GRAY_ALPHA;
    case PNG_CODE_PALETTE: return PNG_COLOR_TYPE_PALETTE;
    case PNG_CODE_RGB: return PNG_COLOR_TYPE_RGB;
    case PNG_CODE_RGB_ALPHA: return PNG_COLOR_TYPE_RGB_ALPHA;
    default: return -1;
  }
}

int ChannelsOf(int pngColorType) {
  switch (pngColorType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;
  }
}

// ---------------------------------------------------------------------------
// Reading

struct TMemorySource {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t pos = 0;
};

void ReadFromMemory(png_structp png, png_bytep out, std::size_t count) {
  auto* source = static_cast<TMemorySource*>(png_get_io_ptr(png));
  if (!source || count > source->size - source->pos) png_error(png, "Read Error");
  std::memcpy(out, source->data + source->pos, count);
  source->pos += count;
}

// Everything of one decode; on the heap so that nothing the library changed
// is left in an automatic object of the function that armed the jump.
struct TReadState : TCallState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  TMemorySource source;
  std::vector<png_bytep> rows;

  TReadState() = default;
  TReadState(const TReadState&) = delete;
  TReadState& operator=(const TReadState&) = delete;
  ~TReadState() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  }
};

// All library work of one decode. Runs below the frame that armed the jump:
// a library error leaves it through the jump, so it holds nothing that needs
// destroying. Returns whether the picture was decoded.
bool DecodeImage(TReadState& st, TMediaRequest& request, std::FILE* file, std::int64_t maxPixels) {
  png_structp png = st.png;
  png_infop info = st.info;
  if (file)
    png_init_io(png, file);
  else
    png_set_read_fn(png, &st.source, ReadFromMemory);

  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
  const TPngReadInfo fileInfo{ColorCodeOf(colorType), depth, interlace == PNG_INTERLACE_ADAM7 ? 1 : 0};

  // A hostile header must not make the frame allocator or the row table
  // take more than a real picture of that size would need.
  if (std::int64_t{width} * std::int64_t{height} > maxPixels) {
    char text[96];
    std::snprintf(text, sizeof text, "Picture of %u x %u pixels is too large to decode",
                  static_cast<unsigned>(width), static_cast<unsigned>(height));
    png_error(png, text);
  }

  // Every colour type and depth becomes 8-bit blue, green, red, alpha.
  if (depth == 16) png_set_strip_16(png);
  if (depth < 8) png_set_packing(png);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
  png_set_expand(png);

  png_fixed_point fileGamma = kFileGammaFixed;
  int intent = 0;
  png_fixed_point gamma = 0;
  if (!png_get_sRGB(png, info, &intent) && png_get_gAMA_fixed(png, info, &gamma) && gamma > 0)
    fileGamma = gamma;
  const auto screenGamma = static_cast<png_fixed_point>(std::lround(GetScreenGamma() * PNG_FP_1));
  png_set_gamma_fixed(png, screenGamma, fileGamma);

  // A colour file that carries a palette: the palette is kept whole (the
  // limit is never reached), with the file's histogram when it has one.
  if ((colorType & PNG_COLOR_MASK_COLOR) != 0 && png_get_valid(png, info, PNG_INFO_PLTE) != 0) {
    png_colorp palette = nullptr;
    int count = 0;
    if (png_get_PLTE(png, info, &palette, &count) != 0 && palette && count > 0) {
      png_uint_16p histogram = nullptr;
      if (png_get_hIST(png, info, &histogram) == 0) histogram = nullptr;
      png_set_quantize(png, palette, count, kMaxQuantizeColors, histogram, 0);
    }
  }

  png_set_bgr(png);
  if (depth == 16) png_set_swap(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);

  const std::size_t rowBytes = png_get_rowbytes(png, info);
  if (png_get_channels(png, info) != 4 || png_get_bit_depth(png, info) != 8) return false;
  if (request.ePixelFormat != ZarnTypes::PF_RGB32) return false;
  const auto w = static_cast<std::int32_t>(width);
  const auto h = static_cast<std::int32_t>(height);
  if (!Codecs::PrepareFrame(request.pFrameBuffer, ZarnTypes::PF_RGB32, w, h)) return false;
  TFrameBuffer& frame = *request.pFrameBuffer;
  if (frame.nStride < 0 || static_cast<std::size_t>(frame.nStride) < rowBytes) return false;

  bool rowsMade = true;
  try {
    st.rows.resize(height);
  } catch (...) {
    rowsMade = false;
  }
  if (!rowsMade) return false;
  // The first picture row is the last row of the buffer.
  for (std::int32_t y = 0; y < h; ++y)
    st.rows[static_cast<std::size_t>(y)] = frame.pBuffer + std::int64_t{h - 1 - y} * frame.nStride;

  png_read_image(png, st.rows.data());
  png_read_end(png, nullptr);

  Codecs::DescribeFrame(request, frame);
  if (request.pResults) std::memcpy(request.pResults, &fileInfo, sizeof fileInfo);
  return true;
}

// ---------------------------------------------------------------------------
// Writing

// Where the rows of a write come from.
struct TRowSource {
  // kNibbles: 4-bit indices below 4, written as 2-bit ones.
  enum Kind { kBgrx, kPacked, kSamples, kNibbles } kind = kPacked;
  const std::uint8_t* top = nullptr;  // the picture's first row
  std::ptrdiff_t step = 0;            // from one picture row to the next (negative: bottom-up)
  std::size_t bytes = 0;              // kPacked, kSamples, kNibbles: bytes read per row
  bool opaque = false;                // kBgrx with alpha: the fourth bytes are all 0
};

struct TWriteState : TCallState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::vector<std::uint8_t> output;
  std::vector<std::uint8_t> row;
  png_color palette[256] = {};
  int paletteCount = 0;

  TWriteState() = default;
  TWriteState(const TWriteState&) = delete;
  TWriteState& operator=(const TWriteState&) = delete;
  ~TWriteState() {
    if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
  }
};

void WriteToMemory(png_structp png, png_bytep data, std::size_t count) {
  auto* output = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  bool stored = true;
  try {
    output->insert(output->end(), data, data + count);
  } catch (...) {
    stored = false;
  }
  if (!stored) png_error(png, "Out of memory for the compressed picture");
}

void FlushMemory(png_structp) {}

// True when `rows` rows `step` bytes apart, each `rowBytes` long, fit in
// `available` bytes.
bool PlaneHolds(std::int64_t available, std::int32_t rows, std::int64_t step, std::int64_t rowBytes) {
  return step >= rowBytes && (rows - 1) * step + rowBytes <= available;
}

bool AnyAlpha(const std::uint8_t* top, std::ptrdiff_t step, std::int32_t width, std::int32_t height) {
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* p = top + y * step;
    for (std::int32_t x = 0; x < width; ++x)
      if (p[4 * x + 3] != 0) return true;
  }
  return false;
}

// Finds the rows of a write request for the colour type and depth; false
// when the request's target does not carry them.
bool MakeRowSource(const TMediaRequest& request, const TPngWriteParams& params, int pngType, int depth,
                   TRowSource& source, TWriteState& st) {
  const std::int32_t width = request.nWidth;
  const std::int32_t height = request.nHeight;
  if (width <= 0 || height <= 0) return false;
  const TFrameBuffer* frame = request.pFrameBuffer;
  const TYuvFrameBuffer* planar = request.pPlanarFrame;

  switch (request.ePixelFormat) {
    case ZarnTypes::PF_RGB32: {
      if (pngType != PNG_COLOR_TYPE_RGB && pngType != PNG_COLOR_TYPE_RGB_ALPHA) return false;
      if (depth != 8 && depth != 16) return false;
      if (!Codecs::FrameHoldsRows(frame, height, std::int64_t{width} * 4)) return false;
      source.kind = TRowSource::kBgrx;
      source.top = frame->pBuffer + std::int64_t{height - 1} * frame->nStride;
      source.step = -static_cast<std::ptrdiff_t>(frame->nStride);
      source.opaque =
          pngType == PNG_COLOR_TYPE_RGB_ALPHA && !AnyAlpha(source.top, source.step, width, height);
      return true;
    }
    case ZarnTypes::PF_DIB_1:
    case ZarnTypes::PF_DIB_4:
    case ZarnTypes::PF_DIB_8: {
      const int bits = request.ePixelFormat == ZarnTypes::PF_DIB_1   ? 1
                       : request.ePixelFormat == ZarnTypes::PF_DIB_4 ? 4
                                                                     : 8;
      // A 4-bit section of at most four colours is written at 2 bits.
      const bool nibbles = depth == 2 && bits == 4 && pngType == PNG_COLOR_TYPE_PALETTE && params.pBitmap &&
                           params.pBitmap->colorTable.size() <= 4;
      if (depth != bits && !nibbles) return false;
      if (pngType == PNG_COLOR_TYPE_PALETTE) {
        const Dib::TDibSection* section = params.pBitmap;
        if (!section || section->BitCount() != bits) return false;
        std::size_t count =
            section->header.biClrUsed != 0 ? section->header.biClrUsed : std::size_t{1} << bits;
        count = std::min({count, section->colorTable.size(), std::size_t{1} << bits, std::size_t{256}});
        if (count == 0) return false;
        for (std::size_t i = 0; i < count; ++i) {
          st.palette[i].red = section->colorTable[i].rgbRed;
          st.palette[i].green = section->colorTable[i].rgbGreen;
          st.palette[i].blue = section->colorTable[i].rgbBlue;
        }
        st.paletteCount = static_cast<int>(count);
      } else if (!(pngType == PNG_COLOR_TYPE_GRAY && bits == 1)) {
        return false;
      }
      const std::int64_t rowBytes = (std::int64_t{width} * bits + 7) / 8;
      if (!Codecs::FrameHoldsRows(frame, height, rowBytes)) return false;
      source.kind = nibbles ? TRowSource::kNibbles : TRowSource::kPacked;
      source.top = frame->pBuffer + std::int64_t{height - 1} * frame->nStride;
      source.step = -static_cast<std::ptrdiff_t>(frame->nStride);
      source.bytes = static_cast<std::size_t>(rowBytes);
      return true;
    }
    default: break;
  }

  // The grey sources live in a planar frame of the target's layout.
  if (!planar || planar->ePixelFormat != request.ePixelFormat || !planar->pBuffer ||
      planar->nAlignedWidth < width || planar->nAlignedHeight < height)
    return false;
  const std::int64_t alignedWidth = planar->nAlignedWidth;
  // The chroma planes follow one another; their memory is used as one block.
  const bool chromaBlock = planar->pCb && planar->pCr == planar->pCb + planar->nCbSize;
  const std::int64_t chromaBytes = std::int64_t{planar->nCbSize} + planar->nCrSize;

  if (request.ePixelFormat == kGreyAlphaLayout) {
    if (pngType != PNG_COLOR_TYPE_GRAY_ALPHA || (depth != 8 && depth != 16)) return false;
    if (!chromaBlock || !PlaneHolds(chromaBytes, height, 2 * alignedWidth, 2 * std::int64_t{width}))
      return false;
    source.kind = TRowSource::kSamples;
    source.top = planar->pCb;
    source.step = static_cast<std::ptrdiff_t>(2 * alignedWidth);
    source.bytes = static_cast<std::size_t>(2 * width);
    return true;
  }
  if (request.ePixelFormat == kPackedGreyLayout) {
    if (pngType != PNG_COLOR_TYPE_GRAY || (depth != 2 && depth != 4)) return false;
    const std::int64_t rowBytes = (std::int64_t{width} * depth + 7) / 8;
    if (!chromaBlock || !PlaneHolds(chromaBytes, height, alignedWidth, rowBytes)) return false;
    source.kind = TRowSource::kPacked;
    source.top = planar->pCb;
    source.step = static_cast<std::ptrdiff_t>(alignedWidth);
    source.bytes = static_cast<std::size_t>(rowBytes);
    return true;
  }
  if (request.ePixelFormat == kGreyLayout) {
    if (pngType != PNG_COLOR_TYPE_GRAY || (depth != 8 && depth != 16)) return false;
    if (!PlaneHolds(planar->nYSize, height, alignedWidth, width)) return false;
    source.kind = TRowSource::kSamples;
    source.top = planar->pBuffer;
    source.step = static_cast<std::ptrdiff_t>(alignedWidth);
    source.bytes = static_cast<std::size_t>(width);
    return true;
  }
  return false;
}

// One row in the file's own layout: samples in order red, green, blue,
// alpha, 16-bit samples most significant byte first.
void BuildRow(const TRowSource& source, std::int32_t y, std::int32_t width, int pngType, int depth,
              std::uint8_t* out) {
  const std::uint8_t* src = source.top + y * source.step;
  switch (source.kind) {
    case TRowSource::kBgrx: {
      const bool alpha = pngType == PNG_COLOR_TYPE_RGB_ALPHA;
      for (std::int32_t x = 0; x < width; ++x, src += 4) {
        const std::uint8_t samples[4] = {src[2], src[1], src[0],
                                         static_cast<std::uint8_t>(source.opaque ? 0xFF : src[3])};
        for (int c = 0; c < (alpha ? 4 : 3); ++c) {
          *out++ = samples[c];
          if (depth == 16) *out++ = samples[c];
        }
      }
      break;
    }
    case TRowSource::kPacked: std::memcpy(out, src, source.bytes); break;
    case TRowSource::kNibbles:
      std::memset(out, 0, (static_cast<std::size_t>(width) * 2 + 7) / 8);
      for (std::int32_t x = 0; x < width; ++x) {
        const int index = (src[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x03;
        out[x / 4] = static_cast<std::uint8_t>(out[x / 4] | index << (6 - 2 * (x % 4)));
      }
      break;
    case TRowSource::kSamples:
      if (depth == 16) {
        for (std::size_t i = 0; i < source.bytes; ++i) {
          *out++ = src[i];
          *out++ = src[i];
        }
      } else {
        std::memcpy(out, src, source.bytes);
      }
      break;
  }
}

// All library work of one encode, below the frame that armed the jump.
void EncodeImage(TWriteState& st, const TMediaRequest& request, const TPngSettings& settings,
                 const TPngCompression& compression, const TRowSource& source, int pngType) {
  png_structp png = st.png;
  png_infop info = st.info;
  png_set_write_fn(png, &st.output, WriteToMemory, FlushMemory);

  png_set_compression_level(png, std::clamp(compression.nLevel, 0, 9));
  png_set_compression_mem_level(png, compression.nMemLevel);
  png_set_compression_strategy(png, compression.nStrategy);
  png_set_compression_window_bits(png, compression.nWindowBits);
  png_set_compression_method(png, compression.nMethod);
  png_set_compression_buffer_size(png, static_cast<std::size_t>(std::max(compression.nBufferSize, 0)));

  const auto width = static_cast<png_uint_32>(request.nWidth);
  const auto height = static_cast<png_uint_32>(request.nHeight);
  png_set_IHDR(png, info, width, height, settings.nBitDepth, pngType,
               settings.bInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (pngType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, st.palette, st.paletteCount);
  png_set_gAMA_fixed(png, info, kFileGammaFixed);
  png_write_info(png, info);

  const int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass) {
    for (std::int32_t y = 0; y < request.nHeight; ++y) {
      BuildRow(source, y, request.nWidth, pngType, settings.nBitDepth, st.row.data());
      png_write_row(png, st.row.data());
    }
  }
  png_write_end(png, info);
}

// Frees the frame buffer and planar frame that WriteBitmap made.
struct TBitmapFrames {
  TFrameBuffer frame{};
  TYuvFrameBuffer planar{};
  TBitmapFrames() = default;
  TBitmapFrames(const TBitmapFrames&) = delete;
  TBitmapFrames& operator=(const TBitmapFrames&) = delete;
  ~TBitmapFrames() {
    ZarnTypes::FreeFrameBuffer(&frame);
    ZarnTypes::FreeYuvFrame(&planar);
  }
};

bool BitmapHasAlpha(const Dib::TDibSection& bitmap) {
  for (int y = 0; y < bitmap.Height(); ++y) {
    const std::uint8_t* row = bitmap.RowFromTop(y);
    for (int x = 0; x < bitmap.Width(); ++x)
      if (row[4 * x + 3] != 0) return true;
  }
  return false;
}

// A planar frame of the layout holding the bitmap's BT.601 full-range luma.
bool MakeLuma(const TFrameBuffer& frame, TPixelFormat layout, TYuvFrameBuffer& planar) {
  planar = TYuvFrameBuffer{};
  planar.ePixelFormat = layout;
  planar.nWidth = frame.nWidth;
  planar.nHeight = frame.nHeight;
  planar.nWidthAlignment = 2;
  planar.nHeightAlignment = 2;
  return ZarnTypes::AllocYuvFrame(&planar) && ZarnTypes::ConvertRgbToYuv(frame, planar);
}

}  // namespace

double GetScreenGamma() {
  const char* value = std::getenv("SCREEN_GAMMA");
  if (!value) return kDefaultScreenGamma;
  std::string_view text(value);
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  double gamma = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), gamma);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return kDefaultScreenGamma;
  if (!std::isfinite(gamma) || gamma < kMinScreenGamma || gamma > kMaxScreenGamma) return kDefaultScreenGamma;
  return gamma;
}

bool CPngMgr::ReadPng(TMediaRequest& request) {
  if (request.eTag != ZarnTypes::MEDIA_REQ_NONE) return FailRequest(request, ZarnTypes::MEDIA_ERR_READ_PNG);
  // Only a regular file is opened: a FIFO named x.png would block here.
  std::FILE* file =
      request.pPath && !request.pPath->empty() ? platform::OpenRegularFileStream(*request.pPath) : nullptr;
  if (!file) return FailRequest(request, ZarnTypes::MEDIA_ERR_READ_PNG);
  const bool ok = Decode(request, file, nullptr, 0, kMaxPngPixels);
  std::fclose(file);
  return ok;
}

bool CPngMgr::ReadPngMemory(const std::uint8_t* pData, std::size_t nSize, TMediaRequest& request,
                            std::int64_t nMaxPixels) {
  if (!pData || nSize == 0 || request.eTag != ZarnTypes::MEDIA_REQ_NONE)
    return FailRequest(request, ZarnTypes::MEDIA_ERR_READ_PNG);
  return Decode(request, nullptr, pData, nSize, nMaxPixels);
}

bool CPngMgr::Decode(TMediaRequest& request, std::FILE* pFile, const std::uint8_t* pData, std::size_t nSize,
                     std::int64_t nMaxPixels) {
  std::unique_ptr<TReadState> state;
  try {
    state = std::make_unique<TReadState>();
  } catch (const std::bad_alloc&) {
    return FailRequest(request, ZarnTypes::MEDIA_ERR_READ_PNG);
  }
  TReadState* const st = state.get();
  st->source = TMemorySource{pData, nSize, 0};
  st->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, static_cast<TCallState*>(st), ErrorHandler,
                                   WarningHandler);
  if (!st->png) return FailRequest(request, ZarnTypes::MEDIA_ERR_READ_PNG);
  st->info = png_create_info_struct(st->png);
  if (!st->info) return FailRequest(request, ZarnTypes::MEDIA_ERR_READ_PNG);

  if (setjmp(png_jmpbuf(st->png)) != 0) {
    // A library error: the state's destructor releases the structures; the
    // frame buffer keeps whatever was prepared.
    LogLibraryError(*st);
    return FailRequest(request, ZarnTypes::MEDIA_ERR_READ_PNG);
  }
  const bool decoded = DecodeImage(*st, request, pFile, nMaxPixels);
  return decoded ? SucceedRequest(request) : FailRequest(request, ZarnTypes::MEDIA_ERR_READ_PNG);
}

bool CPngMgr::SavePng(const std::string& path, ZarnTypes::TFileFormat eFormat, const TPngSettings& settings,
                      const Dib::TDibSection& bitmap) {
  if (bitmap.BitCount() == 32) return WriteBitmap(path, eFormat, settings, bitmap);
  // A 32-bit copy with the same row order; its fourth bytes are 0, so the
  // picture is written opaque.
  const Dib::TDibPtr copy = Codecs::WidenToRgb32(bitmap);
  return copy && WriteBitmap(path, eFormat, settings, *copy);
}

bool CPngMgr::WriteBitmap(const std::string& path, ZarnTypes::TFileFormat eFormat,
                          const TPngSettings& settings, const Dib::TDibSection& bitmap) {
  if (bitmap.BitCount() != 32 || !Codecs::SectionHoldsRows(bitmap)) return false;
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  const std::int32_t code = settings.nColorType;
  const std::int32_t depth = settings.nBitDepth;

  // The bitmap's pixels, bottom row first.
  TBitmapFrames frames;
  TFrameBuffer& frame = frames.frame;
  if (!Codecs::CopyToBottomUpFrame(bitmap, frame)) return false;

  TPngWriteParams params;
  params.settings = settings;
  TMediaRequest request{};
  request.eOp = ZarnTypes::MEDIA_OP_WRITE_STILL;
  request.eSourceFormat = eFormat;
  request.pPath = &path;
  request.nWidth = width;
  request.nHeight = height;
  request.ePixelFormat = ZarnTypes::PF_RGB32;
  request.pFrameBuffer = &frame;
  request.eTag = ZarnTypes::MEDIA_REQ_PNG;
  request.pParams = &params;

  Dib::TDibPtr section;         // 1-, 4- or 8-bit pictures
  TFrameBuffer sectionFrame{};  // describes the section's bits
  Quantizer::CQuantizer quantizer;

  // Palette pictures and black-and-white grey: a section of the depth filled
  // by nearest colour.
  const auto makeSection = [&](int bits, const Dib::TPalette* palette) {
    section = Dib::CreateDibSectionPal(width, height, bits, palette);
    if (!section || section->TopDown() || !Codecs::SectionHoldsRows(*section)) return false;
    if (palette && palette->entries.size() < section->colorTable.size()) {
      // The file's palette holds the quantizer's colours only.
      section->colorTable.resize(palette->entries.size());
      section->header.biClrUsed = static_cast<std::uint32_t>(palette->entries.size());
    }
    if (!quantizer.MapToPalette(bitmap, *section, palette)) return false;
    sectionFrame.ePixelFormat = bits == 1   ? ZarnTypes::PF_DIB_1
                                : bits == 4 ? ZarnTypes::PF_DIB_4
                                            : ZarnTypes::PF_DIB_8;
    sectionFrame.nWidth = width;
    sectionFrame.nHeight = height;
    sectionFrame.nRowAlignment = 4;
    sectionFrame.nHeightAlignment = 1;
    sectionFrame.pBuffer = section->bits.data();
    if (!ZarnTypes::LayoutFrameBuffer(&sectionFrame) ||
        std::size_t(sectionFrame.nSize) > section->bits.size())
      return false;
    request.ePixelFormat = sectionFrame.ePixelFormat;
    request.pFrameBuffer = &sectionFrame;
    params.pBitmap = section.get();
    return true;
  };

  switch (code) {
    case PNG_CODE_RGB:
    case PNG_CODE_RGB_ALPHA:
      if (depth != 8 && depth != 16) return false;
      break;

    case PNG_CODE_PALETTE: {
      if (depth == 1) {
        if (!makeSection(1, nullptr)) return false;
      } else if (depth == 2 || depth == 4 || depth == 8) {
        if (settings.nSignificantBits < 1 || settings.nSignificantBits > 8) return false;
        Quantizer::TPalettePtr palette =
            quantizer.QuantizeToPalette(bitmap, 1 << depth, settings.nSignificantBits);
        // Four colours are mapped in a 4-bit section and written at 2 bits.
        if (!palette || palette->entries.empty() || !makeSection(depth == 2 ? 4 : depth, palette.get()))
          return false;
      } else {
        return false;
      }
      break;
    }

    case PNG_CODE_GREY: {
      if (depth == 1) {
        if (!makeSection(1, nullptr)) return false;
      } else if (depth == 2 || depth == 4) {
        TYuvFrameBuffer& planar = frames.planar;
        if (!MakeLuma(frame, kPackedGreyLayout, planar)) return false;
        // The luma's top bits, first pixel in the highest bits of a byte, one
        // packed row per aligned width of the chroma memory.
        const int perByte = 8 / depth;
        const std::int64_t rowBytes = (std::int64_t{width} * depth + 7) / 8;
        if (!PlaneHolds(std::int64_t{planar.nCbSize} + planar.nCrSize, height, planar.nAlignedWidth,
                        rowBytes))
          return false;
        for (int y = 0; y < height; ++y) {
          const std::uint8_t* luma = planar.pBuffer + std::int64_t{y} * planar.nAlignedWidth;
          std::uint8_t* out = planar.pCb + std::int64_t{y} * planar.nAlignedWidth;
          std::memset(out, 0, static_cast<std::size_t>(rowBytes));
          for (int x = 0; x < width; ++x) {
            const int shift = 8 - depth * (1 + x % perByte);
            out[x / perByte] =
                static_cast<std::uint8_t>(out[x / perByte] | ((luma[x] >> (8 - depth)) << shift));
          }
        }
        request.ePixelFormat = kPackedGreyLayout;
        request.pPlanarFrame = &planar;
      } else if (depth == 8 || depth == 16) {
        if (!MakeLuma(frame, kGreyLayout, frames.planar)) return false;
        request.ePixelFormat = kGreyLayout;
        request.pPlanarFrame = &frames.planar;
      } else {
        return false;
      }
      break;
    }

    case PNG_CODE_GREY_ALPHA: {
      if (depth != 8 && depth != 16) return false;
      TYuvFrameBuffer& planar = frames.planar;
      if (!MakeLuma(frame, kGreyAlphaLayout, planar)) return false;
      if (!PlaneHolds(std::int64_t{planar.nCbSize} + planar.nCrSize, height,
                      2 * std::int64_t{planar.nAlignedWidth}, 2 * std::int64_t{width}))
        return false;
      // Luma and alpha pairs, rows two aligned widths apart in the chroma
      // memory; a bitmap without alpha is opaque.
      const bool alpha = BitmapHasAlpha(bitmap);
      for (int y = 0; y < height; ++y) {
        const std::uint8_t* luma = planar.pBuffer + std::int64_t{y} * planar.nAlignedWidth;
        const std::uint8_t* pixels = bitmap.RowFromTop(y);
        std::uint8_t* out = planar.pCb + std::int64_t{y} * 2 * planar.nAlignedWidth;
        for (int x = 0; x < width; ++x) {
          out[2 * x] = luma[x];
          out[2 * x + 1] = alpha ? pixels[4 * x + 3] : 0xFF;
        }
      }
      request.ePixelFormat = kGreyAlphaLayout;
      request.pPlanarFrame = &planar;
      break;
    }

    default: return false;
  }
  return WritePng(request);
}

bool CPngMgr::WritePng(TMediaRequest& request) {
  const auto* params =
      static_cast<const TPngWriteParams*>(ZarnTypes::RequestParams(request, ZarnTypes::MEDIA_REQ_PNG));
  if (!params || !request.pPath || request.pPath->empty())
    return FailRequest(request, ZarnTypes::MEDIA_ERR_WRITE_PNG);
  const TPngSettings& settings = params->settings;
  const int pngType = PngColorTypeOf(settings.nColorType);
  if (pngType < 0) {
    // An unknown colour type is refused before anything is made, without a code.
    request.bSuccess = false;
    return false;
  }

  std::unique_ptr<TWriteState> state;
  try {
    state = std::make_unique<TWriteState>();
  } catch (const std::bad_alloc&) {
    return FailRequest(request, ZarnTypes::MEDIA_ERR_WRITE_PNG);
  }
  TWriteState* const st = state.get();
  TRowSource source;
  if (!MakeRowSource(request, *params, pngType, settings.nBitDepth, source, *st))
    return FailRequest(request, ZarnTypes::MEDIA_ERR_WRITE_PNG);
  const std::uint64_t rowBits = static_cast<std::uint64_t>(request.nWidth) *
                                static_cast<std::uint64_t>(ChannelsOf(pngType)) *
                                static_cast<std::uint64_t>(settings.nBitDepth);
  try {
    st->row.assign(static_cast<std::size_t>((rowBits + 7) / 8), 0);
  } catch (...) {
    return FailRequest(request, ZarnTypes::MEDIA_ERR_WRITE_PNG);
  }

  // The level of this write is the settings'.
  m_Compression.nLevel = settings.nCompressionLevel;

  st->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, static_cast<TCallState*>(st), ErrorHandler,
                                    WarningHandler);
  if (!st->png) return FailRequest(request, ZarnTypes::MEDIA_ERR_WRITE_PNG);
  st->info = png_create_info_struct(st->png);
  if (!st->info) return FailRequest(request, ZarnTypes::MEDIA_ERR_WRITE_PNG);

  if (setjmp(png_jmpbuf(st->png)) != 0) {
    LogLibraryError(*st);
    return FailRequest(request, ZarnTypes::MEDIA_ERR_WRITE_PNG);
  }
  EncodeImage(*st, request, settings, m_Compression, source, pngType);

  // The file appears only now, whole: a failure above left nothing on disk.
  if (!platform::WriteFileBytes(*request.pPath, st->output.data(), st->output.size()))
    return FailRequest(request, ZarnTypes::MEDIA_ERR_WRITE_PNG);
  return SucceedRequest(request);
}

}  // namespace PngMgr
