#include "io/codecs/tiff_mgr.h"

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <vector>

#include "io/codecs/codec_common.h"
#include "io/codecs/quantizer.h"
#include "platform/files.h"
#include "platform/message_sink.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace TiffMgr {

using namespace ZarnTypes;

namespace {

// The library names its message boxes after the module that reports.
constexpr char kDefaultModule[] = "LIBTIFF";

// Messages of the library and of this manager during one call, shown at its
// end; the library's boxes are captioned after the module of their first
// line.
using TMessageLog = Codecs::TCallMessages;

// Adds one of the library's reports, formatted as the library asks.
void AddLibraryMessage(TMessageLog& log, bool error, const char* module, const char* fmt, va_list ap) {
  char buffer[1024];
  va_list copy;
  va_copy(copy, ap);
  const int n = std::vsnprintf(buffer, sizeof buffer, fmt ? fmt : "", copy);
  va_end(copy);
  if (n < 0) return;
  // The library advises against Deflate's code 32946 on every such write;
  // the code is chosen on purpose, so the advice is not passed on.
  static constexpr char kLegacyDeflate[] = "Creating TIFF with legacy Deflate codec identifier";
  if (!error && std::strncmp(buffer, kLegacyDeflate, sizeof kLegacyDeflate - 1) == 0) return;
  if (error)
    log.AddError(module ? module : kDefaultModule, buffer);
  else
    log.AddWarning(module ? module : kDefaultModule, buffer);
}

int OnError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  AddLibraryMessage(*static_cast<TMessageLog*>(user), true, module, fmt, ap);
  return 1;  // handled: not passed on to the process-wide handlers
}

int OnWarning(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  AddLibraryMessage(*static_cast<TMessageLog*>(user), false, module, fmt, ap);
  return 1;
}

// A few library paths still report through the process-wide handlers. While
// a call of this manager runs on a thread, those reports join its log; any
// other report goes to the handler that was there before.
thread_local TMessageLog* t_pLog = nullptr;
TIFFErrorHandler g_previousError = nullptr;
TIFFErrorHandler g_previousWarning = nullptr;
std::once_flag g_handlersOnce;

void GlobalError(const char* module, const char* fmt, va_list ap) {
  if (t_pLog)
    AddLibraryMessage(*t_pLog, true, module, fmt, ap);
  else if (g_previousError)
    g_previousError(module, fmt, ap);
}

void GlobalWarning(const char* module, const char* fmt, va_list ap) {
  if (t_pLog)
    AddLibraryMessage(*t_pLog, false, module, fmt, ap);
  else if (g_previousWarning)
    g_previousWarning(module, fmt, ap);
}

// Routes the library's messages of this thread into `log` for its lifetime.
class TLogScope {
 public:
  explicit TLogScope(TMessageLog& log) : m_previous(t_pLog) {
    std::call_once(g_handlersOnce, [] {
      g_previousError = TIFFSetErrorHandler(&GlobalError);
      g_previousWarning = TIFFSetWarningHandler(&GlobalWarning);
    });
    t_pLog = &log;
  }
  ~TLogScope() { t_pLog = m_previous; }
  TLogScope(const TLogScope&) = delete;
  TLogScope& operator=(const TLogScope&) = delete;

 private:
  TMessageLog* m_previous;
};

// Open options with this call's handlers and a bound on single allocations.
class TOpenOptions {
 public:
  TOpenOptions(TMessageLog& log, std::int64_t maxAlloc) : m_p(TIFFOpenOptionsAlloc()) {
    if (!m_p) return;
    TIFFOpenOptionsSetErrorHandlerExtR(m_p, &OnError, &log);
    TIFFOpenOptionsSetWarningHandlerExtR(m_p, &OnWarning, &log);
    if (maxAlloc > 0) TIFFOpenOptionsSetMaxSingleMemAlloc(m_p, static_cast<tmsize_t>(maxAlloc));
  }
  ~TOpenOptions() {
    if (m_p) TIFFOpenOptionsFree(m_p);
  }
  TOpenOptions(const TOpenOptions&) = delete;
  TOpenOptions& operator=(const TOpenOptions&) = delete;
  TIFFOpenOptions* Get() const { return m_p; }

 private:
  TIFFOpenOptions* m_p;
};

struct TTiffHandle {
  TIFF* p = nullptr;
  ~TTiffHandle() { Close(); }
  void Close() {
    if (p) TIFFClose(p);
    p = nullptr;
  }
};

// ---------------------------------------------------------------------------
// A TIFF in memory: read from the caller's bytes, or written into a vector.

struct TMemoryFile {
  const std::uint8_t* data = nullptr;        // reading
  std::vector<std::uint8_t>* out = nullptr;  // writing
  std::uint64_t size = 0;
  std::uint64_t pos = 0;
  bool failed = false;
};

tmsize_t MemRead(thandle_t h, void* buffer, tmsize_t count) {
  auto* f = static_cast<TMemoryFile*>(h);
  if (count <= 0 || f->pos >= f->size) return 0;
  const std::uint64_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(count), f->size - f->pos);
  const std::uint8_t* from = f->out ? f->out->data() : f->data;
  std::memcpy(buffer, from + f->pos, static_cast<std::size_t>(n));
  f->pos += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t MemWrite(thandle_t h, void* buffer, tmsize_t count) {
  auto* f = static_cast<TMemoryFile*>(h);
  if (!f->out || count < 0) return -1;
  const std::uint64_t end = f->pos + static_cast<std::uint64_t>(count);
  // Classic TIFF offsets are 32 bits.
  if (end > std::numeric_limits<std::uint32_t>::max()) {
    f->failed = true;
    return -1;
  }
  try {
    if (end > f->out->size()) f->out->resize(static_cast<std::size_t>(end));
  } catch (const std::bad_alloc&) {
    f->failed = true;
    return -1;
  }
  if (count) std::memcpy(f->out->data() + f->pos, buffer, static_cast<std::size_t>(count));
  f->pos = end;
  f->size = f->out->size();
  return count;
}

toff_t MemSeek(thandle_t h, toff_t offset, int whence) {
  auto* f = static_cast<TMemoryFile*>(h);
  std::uint64_t base = 0;
  switch (whence) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = f->pos; break;
    case SEEK_END: base = f->size; break;
    default: return static_cast<toff_t>(-1);
  }
  // toff_t is unsigned: a backward move arrives as a huge value.
  const auto delta = static_cast<std::int64_t>(offset);
  if (delta < 0 && static_cast<std::uint64_t>(-delta) > base) return static_cast<toff_t>(-1);
  f->pos = base + static_cast<std::uint64_t>(delta);
  return f->pos;
}

int MemClose(thandle_t) { return 0; }

toff_t MemSize(thandle_t h) { return static_cast<TMemoryFile*>(h)->size; }

int MemMap(thandle_t h, void** base, toff_t* size) {
  auto* f = static_cast<TMemoryFile*>(h);
  if (f->out || !f->data) return 0;
  *base = const_cast<std::uint8_t*>(f->data);
  *size = f->size;
  return 1;
}

void MemUnmap(thandle_t, void*, toff_t) {}

TIFF* OpenMemory(TMemoryFile& file, const char* mode, TOpenOptions& options) {
  return TIFFClientOpenExt("memory", mode, &file, &MemRead, &MemWrite, &MemSeek, &MemClose, &MemSize, &MemMap,
                           &MemUnmap, options.Get());
}

// ---------------------------------------------------------------------------
// Reading.

std::int32_t ColorCodeOf(std::uint16_t photometric, std::uint16_t samples) {
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_PALETTE: return samples == 1 || samples == 2 ? 3 : 0;
    case PHOTOMETRIC_RGB: return samples == 3 ? 4 : samples == 4 ? 5 : 0;
    case PHOTOMETRIC_YCBCR: return 6;
    case PHOTOMETRIC_CIELAB: return 7;
    case PHOTOMETRIC_ICCLAB: return 8;
    case PHOTOMETRIC_ITULAB: return 9;
    case PHOTOMETRIC_LOGL: return 10;
    case PHOTOMETRIC_LOGLUV: return 11;
    default: return 0;
  }
}

std::int32_t CompressionCodeOf(std::uint16_t compression) {
  switch (compression) {
    case COMPRESSION_NONE: return 0;
    case COMPRESSION_LZW: return 2;
    case COMPRESSION_PACKBITS: return 3;
    case COMPRESSION_JPEG: return 4;
    case COMPRESSION_JP2000: return 5;
    case COMPRESSION_DEFLATE:
    case COMPRESSION_ADOBE_DEFLATE: return 6;
    case COMPRESSION_CCITTRLE: return 7;
    case COMPRESSION_CCITTFAX3: return 8;
    case COMPRESSION_CCITTFAX4: return 9;
    default: return 1;
  }
}

void StoreResult(void* block, std::size_t field, std::int32_t value) {
  std::memcpy(static_cast<std::uint8_t*>(block) + field * sizeof(std::int32_t), &value, sizeof value);
}

void FillResults(TIFF* tif, void* block) {
  std::uint16_t samples = 0, bits = 0, photometric = 0, compression = 0;
  if (TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples))
    StoreResult(block, kResultSamplesPerPixel, samples);
  if (TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits)) StoreResult(block, kResultBitsPerSample, bits);
  if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) {
    std::uint16_t spp = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    StoreResult(block, kResultColorCode, ColorCodeOf(photometric, spp));
  }
  if (TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression))
    StoreResult(block, kResultCompression, CompressionCodeOf(compression));
}

bool DecodeTiff(TIFF* tif, TMediaRequest& request, std::int64_t maxPixels, TMessageLog& log) {
  std::uint32_t width = 0, height = 0;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height)) {
    log.AddOwn("The TIFF file gives no picture size.");
    return false;
  }
  if (width == 0 || height == 0 ||
      width > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()) ||
      height > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()) ||
      static_cast<std::int64_t>(width) * height > maxPixels) {
    log.AddOwn("TIFF picture size " + std::to_string(width) + " x " + std::to_string(height) +
               " is not supported.");
    return false;
  }
  TFrameBuffer& frame = *request.pFrameBuffer;
  if (!Codecs::PrepareFrame(&frame, PF_RGB32, static_cast<std::int32_t>(width),
                            static_cast<std::int32_t>(height)) ||
      frame.nStride != static_cast<std::int32_t>(width) * 4) {
    log.AddOwn("Not enough memory for a TIFF picture of " + std::to_string(width) + " x " +
               std::to_string(height) + " pixels.");
    return false;
  }
  std::memset(frame.pBuffer, 0, static_cast<std::size_t>(frame.nSize));
  // Origin at the lower left: the first buffer row is the bottom of the
  // picture, as in a DIB. The library's pixels are red, green, blue, alpha.
  // A strip or tile that cannot be decoded fails the read rather than
  // leaving part of the picture black.
  if (!TIFFReadRGBAImageOriented(tif, width, height, reinterpret_cast<std::uint32_t*>(frame.pBuffer),
                                 ORIENTATION_BOTLEFT, 1))
    return false;
  for (std::uint8_t* p = frame.pBuffer; p < frame.pBuffer + frame.nSize; p += 4) std::swap(p[0], p[2]);

  Codecs::DescribeFrame(request, frame);
  if (request.pResults) FillResults(tif, request.pResults);
  return true;
}

// Bound on one allocation of the library while reading: a strip or tile of
// the largest picture accepted at 16 bits per sample.
std::int64_t MaxAllocFor(std::int64_t maxPixels) { return std::max<std::int64_t>(maxPixels, 1 << 20) * 8; }

// ---------------------------------------------------------------------------
// Writing.

std::uint16_t TiffCompressionOf(std::int32_t code) {
  switch (code) {
    case TIFF_COMP_LZW: return COMPRESSION_LZW;
    case TIFF_COMP_PACKBITS: return COMPRESSION_PACKBITS;
    case TIFF_COMP_JPEG: return COMPRESSION_JPEG;
    case TIFF_COMP_JPEG2000: return COMPRESSION_JP2000;
    // Deflate under its original code 32946, as files of this program have
    // always carried it (readers take it and 8 alike).
    case TIFF_COMP_ZIP: return COMPRESSION_DEFLATE;
    case TIFF_COMP_HUFFMAN_RLE: return COMPRESSION_CCITTRLE;
    case TIFF_COMP_FAX3: return COMPRESSION_CCITTFAX3;
    case TIFF_COMP_FAX4: return COMPRESSION_CCITTFAX4;
    default: return COMPRESSION_NONE;
  }
}

// Why the settings cannot be written; empty when they can.
std::string RefusalOf(const TTiffSettings& s) {
  const int depth = s.nBitDepth;
  switch (s.nColorSpace) {
    case TIFF_CS_PALETTE:
      if (depth != 1 && depth != 4 && depth != 8)
        return "Palette TIFF files are written with 1, 4 or 8 bits per pixel: bit depth " +
               std::to_string(depth) + " is not supported.";
      break;
    case TIFF_CS_RGB:
    case TIFF_CS_RGB_ALPHA:
      if (depth != 8)
        return "RGB TIFF files are written with 8-bit samples: bit depth " + std::to_string(depth) +
               " is not supported.";
      break;
    default: return "TIFF files are written in the palette, RGB and RGB + alpha colour spaces only.";
  }
  const std::uint16_t compression = TiffCompressionOf(s.nCompression);
  std::string name;
  if (!GetTiffCompressionName(s.nCompression, name)) name = "this";
  const bool bilevel = s.nColorSpace == TIFF_CS_PALETTE && depth == 1;
  if (compression == COMPRESSION_JPEG && s.nColorSpace == TIFF_CS_PALETTE)
    return "JPEG compression needs an RGB picture; it cannot be used for a palette TIFF.";
  if ((compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3 ||
       compression == COMPRESSION_CCITTFAX4) &&
      !bilevel)
    return name + " compression needs a 1-bit picture (palette colour space, bit depth 1).";
  if (!TIFFIsCODECConfigured(compression))
    return "The TIFF library of this system has no encoder for " + name + " compression.";
  return {};
}

bool FrameHoldsRows(const TFrameBuffer* frame, TPixelFormat format, int pixelBytes) {
  if (!frame || frame->ePixelFormat != format || frame->nWidth <= 0 || frame->nHeight <= 0) return false;
  return Codecs::FrameHoldsRows(frame, frame->nHeight, std::int64_t{frame->nWidth} * pixelBytes);
}

// How an encode ended: written, refused as the request stands (no error
// code: an unsupported colour space or depth, a palette section that cannot
// be described or that has more than 256 colours), or failed (the write
// code).
enum class TEncodeResult { Written, Refused, Failed };

// True for the refusals of the colour space and depth, as opposed to those
// of the compression.
bool IsPictureRefusal(const TTiffSettings& s) {
  TTiffSettings plain = s;
  plain.nCompression = TIFF_COMP_NONE;
  return !RefusalOf(plain).empty();
}

TEncodeResult EncodeTiff(const TMediaRequest& request, const TTiffWriteParams& params,
                         std::vector<std::uint8_t>& out, TMessageLog& log) {
  using R = TEncodeResult;
  const TTiffSettings& s = params.settings;
  if (const std::string why = RefusalOf(s); !why.empty()) {
    log.AddOwn(why);
    return IsPictureRefusal(s) ? R::Refused : R::Failed;
  }
  const bool palette = s.nColorSpace == TIFF_CS_PALETTE;
  const Dib::TDibSection* section = params.pSection;
  const TFrameBuffer* frame = request.pFrameBuffer;
  std::uint16_t samples = 1;
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint16_t> red, green, blue;
  if (palette) {
    if (!section || !Codecs::SectionHoldsRows(*section) || section->BitCount() != s.nBitDepth)
      return R::Refused;
    const std::size_t entries = std::size_t{1} << s.nBitDepth;
    if (section->colorTable.size() > 256) return R::Refused;
    if (section->colorTable.empty()) return R::Failed;
    // The colour map has 2^bits entries whatever the section uses; entries
    // past its table are black.
    red.assign(entries, 0);
    green.assign(entries, 0);
    blue.assign(entries, 0);
    for (std::size_t i = 0; i < std::min(entries, section->colorTable.size()); ++i) {
      red[i] = static_cast<std::uint16_t>(section->colorTable[i].rgbRed * 257);
      green[i] = static_cast<std::uint16_t>(section->colorTable[i].rgbGreen * 257);
      blue[i] = static_cast<std::uint16_t>(section->colorTable[i].rgbBlue * 257);
    }
    width = static_cast<std::uint32_t>(section->Width());
    height = static_cast<std::uint32_t>(section->Height());
  } else {
    samples = s.nColorSpace == TIFF_CS_RGB ? 3 : 4;
    if (!FrameHoldsRows(frame, samples == 3 ? PF_RGB24 : PF_RGB32, samples)) return R::Failed;
    width = static_cast<std::uint32_t>(frame->nWidth);
    height = static_cast<std::uint32_t>(frame->nHeight);
  }

  TMemoryFile file;
  file.out = &out;
  TOpenOptions options(log, 0);
  if (!options.Get()) return R::Failed;
  TTiffHandle tif{OpenMemory(file, "w", options)};
  if (!tif.p) return R::Failed;

  const std::uint16_t compression = TiffCompressionOf(s.nCompression);
  const std::uint16_t photometric = palette ? PHOTOMETRIC_PALETTE : PHOTOMETRIC_RGB;
  bool ok = TIFFSetField(tif.p, TIFFTAG_IMAGEWIDTH, width) &&
            TIFFSetField(tif.p, TIFFTAG_IMAGELENGTH, height) &&
            TIFFSetField(tif.p, TIFFTAG_PHOTOMETRIC, photometric) &&
            TIFFSetField(tif.p, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(tif.p, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(s.nBitDepth)) &&
            TIFFSetField(tif.p, TIFFTAG_SAMPLESPERPIXEL, samples);
  if (ok && samples == 4) {
    // The fourth sample is the bitmap's own alpha, not premultiplied.
    std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    ok = TIFFSetField(tif.p, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  ok = ok && TIFFSetField(tif.p, TIFFTAG_RESOLUTIONUNIT, RESUNIT_NONE) &&
       TIFFSetField(tif.p, TIFFTAG_COMPRESSION, compression);
  // The page offers its quality with every compression; JPEG is the one
  // that takes it.
  if (ok && compression == COMPRESSION_JPEG)
    ok = TIFFSetField(tif.p, TIFFTAG_JPEGQUALITY, std::clamp(s.nQuality, 1, 100)) &&
         TIFFSetField(tif.p, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  ok = ok && TIFFSetField(tif.p, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif.p, 0));
  if (ok && palette) ok = TIFFSetField(tif.p, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  ok = ok && TIFFSetField(tif.p, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  if (!ok) {
    log.AddOwn("The TIFF library refused a tag of the picture.");
    return R::Failed;
  }

  // The library may work on a row in place: each row is handed over in a
  // scratch copy, top of the picture first.
  const tmsize_t rowBytes = TIFFScanlineSize(tif.p);
  const std::size_t sourceBytes = palette ? (static_cast<std::size_t>(width) * s.nBitDepth + 7) / 8
                                          : static_cast<std::size_t>(width) * samples;
  if (rowBytes <= 0 || static_cast<std::size_t>(rowBytes) != sourceBytes) return R::Failed;
  std::vector<std::uint8_t> row(sourceBytes);
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint8_t* from =
        palette ? section->RowFromTop(static_cast<int>(y))
                : frame->pBuffer + static_cast<std::size_t>(height - 1 - y) * frame->nStride;
    std::memcpy(row.data(), from, sourceBytes);
    // A row the library refuses ends the file: nothing after it is written.
    if (TIFFWriteScanline(tif.p, row.data(), y, 0) < 0) return R::Failed;
  }
  if (!TIFFFlush(tif.p)) return R::Failed;
  tif.Close();
  return !file.failed && !out.empty() ? R::Written : R::Failed;
}

}  // namespace

// ---------------------------------------------------------------------------

bool CTiffMgr::ReadTiff(TMediaRequest& request) {
  if (!request.pPath) return FailRequest(request, MEDIA_ERR_READ_TIFF);
  TMessageLog log;
  bool ok = false;
  {
    TLogScope scope(log);
    if (request.ePixelFormat != PF_RGB32 || !request.pFrameBuffer) {
      log.AddOwn("TIFF pictures are decoded into 32-bit RGB frames only.");
    } else {
      TOpenOptions options(log, MaxAllocFor(kMaxTiffPixels));
      // Only a regular file is opened: a FIFO named x.tif would block here.
      const int fd = options.Get() ? platform::OpenRegularFileForRead(*request.pPath) : -1;
      TTiffHandle tif{fd >= 0 ? TIFFFdOpenExt(fd, request.pPath->c_str(), "r", options.Get()) : nullptr};
      if (fd >= 0 && !tif.p) ::close(fd);  // closed with the handle once it is open
      if (fd < 0 && options.Get()) log.AddOwn("Can not open file\n " + *request.pPath);
      ok = tif.p && DecodeTiff(tif.p, request, kMaxTiffPixels, log);
    }
  }
  log.Show();
  return ok ? SucceedRequest(request) : FailRequest(request, MEDIA_ERR_READ_TIFF);
}

bool CTiffMgr::ReadTiffMemory(const std::uint8_t* pData, std::size_t nSize, TMediaRequest& request,
                              std::int64_t nMaxPixels) {
  TMessageLog log;
  bool ok = false;
  {
    TLogScope scope(log);
    if (request.ePixelFormat != PF_RGB32 || !request.pFrameBuffer) {
      log.AddOwn("TIFF pictures are decoded into 32-bit RGB frames only.");
    } else if (pData && nSize > 0) {
      TMemoryFile file;
      file.data = pData;
      file.size = nSize;
      TOpenOptions options(log, MaxAllocFor(nMaxPixels));
      TTiffHandle tif{options.Get() ? OpenMemory(file, "r", options) : nullptr};
      ok = tif.p && DecodeTiff(tif.p, request, nMaxPixels, log);
    }
  }
  log.Show();
  return ok ? SucceedRequest(request) : FailRequest(request, MEDIA_ERR_READ_TIFF);
}

bool CTiffMgr::SaveTiff(const std::string& path, TFileFormat eFormat, const TTiffSettings& settings,
                        const Dib::TDibSection& bitmap) {
  if (bitmap.BitCount() == 32) return WriteBitmap(path, eFormat, settings, bitmap);
  const Dib::TDibPtr wide = Codecs::WidenToRgb32(bitmap);
  return wide && WriteBitmap(path, eFormat, settings, *wide);
}

bool CTiffMgr::WriteBitmap(const std::string& path, TFileFormat eFormat, const TTiffSettings& settings,
                           const Dib::TDibSection& bitmap) {
  if (bitmap.BitCount() != 32 || !Codecs::SectionHoldsRows(bitmap)) return false;
  {
    TMessageLog log;
    if (const std::string why = RefusalOf(settings); !why.empty()) {
      log.AddOwn(why);
      log.Show();
      return false;
    }
  }
  const int width = bitmap.Width();
  const int height = bitmap.Height();

  TTiffWriteParams params;
  params.settings = settings;
  TFrameBuffer frame;
  frame.nWidth = width;
  frame.nHeight = height;
  frame.nRowAlignment = 4;
  frame.nHeightAlignment = 1;
  frame.nFlag = 0;
  Dib::TDibPtr mapped;
  bool owned = false;

  if (settings.nColorSpace == TIFF_CS_PALETTE) {
    const int depth = settings.nBitDepth;
    Quantizer::CQuantizer quantizer;
    Quantizer::TPalettePtr palette;
    if (depth > 1) {
      palette = quantizer.QuantizeToPalette(bitmap, 1 << depth, settings.nColorBits);
      if (!palette) return false;
    }
    mapped = Dib::CreateDibSectionPal(width, height, depth, palette.get());
    if (!mapped || !quantizer.MapToPalette(bitmap, *mapped, palette.get())) return false;
    frame.ePixelFormat = depth == 1 ? PF_DIB_1 : depth == 4 ? PF_DIB_4 : PF_DIB_8;
    if (!LayoutFrameBuffer(&frame) || static_cast<std::size_t>(frame.nSize) > mapped->bits.size())
      return false;
    frame.pBuffer = mapped->bits.data();
    params.pSection = mapped.get();
  } else {
    const bool alpha = settings.nColorSpace == TIFF_CS_RGB_ALPHA;
    frame.ePixelFormat = alpha ? PF_RGB32 : PF_RGB24;
    if (!AllocFrameBuffer(&frame)) return false;
    owned = true;
    // Blue, green, red, x pixels become red, green, blue (and alpha); rows
    // are kept bottom-up.
    const int bytes = alpha ? 4 : 3;
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* in = bitmap.RowFromTop(y);
      std::uint8_t* out = frame.pBuffer + static_cast<std::size_t>(height - 1 - y) * frame.nStride;
      for (int x = 0; x < width; ++x, in += 4, out += bytes) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        if (alpha) out[3] = in[3];
      }
    }
  }

  TMediaRequest request;
  request.eOp = MEDIA_OP_WRITE_STILL;
  request.eSourceFormat = eFormat;
  request.pPath = &path;
  request.pFrameBuffer = &frame;
  request.eTag = MEDIA_REQ_TIFF;
  request.pParams = &params;
  const bool ok = WriteTiff(request);
  if (owned) FreeFrameBuffer(&frame);
  return ok;
}

bool CTiffMgr::WriteTiff(TMediaRequest& request) {
  const auto* params = static_cast<const TTiffWriteParams*>(RequestParams(request, MEDIA_REQ_TIFF));
  if (!params) return false;
  if (!request.pPath) return FailRequest(request, MEDIA_ERR_WRITE_TIFF);
  TMessageLog log;
  std::vector<std::uint8_t> bytes;
  TEncodeResult result;
  {
    TLogScope scope(log);
    result = EncodeTiff(request, *params, bytes, log);
  }
  if (result == TEncodeResult::Written &&
      !platform::WriteFileBytes(platform::PathFromUtf8(*request.pPath), bytes.data(), bytes.size())) {
    log.AddOwn("Can not write file\n " + *request.pPath);
    result = TEncodeResult::Failed;
  }
  log.Show();
  switch (result) {
    case TEncodeResult::Written: return SucceedRequest(request);
    case TEncodeResult::Refused: request.bSuccess = false; return false;
    case TEncodeResult::Failed: break;
  }
  return FailRequest(request, MEDIA_ERR_WRITE_TIFF);
}

}  // namespace TiffMgr
