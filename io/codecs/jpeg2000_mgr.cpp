#include "io/codecs/jpeg2000_mgr.h"

#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <vector>

#include "io/codecs/codec_common.h"
#include "platform/message_sink.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace Jpeg2000Mgr {

using namespace ZarnTypes;

namespace {

// Source that leads the library's lines in the log ("JPEG 2000 library
// error: ...").
constexpr char kLibrarySource[] = "JPEG 2000 library";

// Components the reader turns into a picture: grey, grey + alpha, colour,
// colour + alpha (or CMYK).
constexpr OPJ_UINT32 kMaxComponents = 4;

// Sample precision OpenJPEG decodes into its 32-bit samples.
constexpr OPJ_UINT32 kMaxPrecision = 31;

// Samples of all components a picture may have, per pixel allowed: a
// full-size colour picture with alpha is held to half the pixel limit.
constexpr std::int64_t kSampleBudget = 2;

// Resolution levels the encoder makes (the library's default); smaller
// pictures get fewer, one level per halving of their shorter side.
constexpr int kMaxResolutions = 6;

constexpr std::uint8_t kJp2Signature[12] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50,
                                            0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
constexpr std::uint8_t kCodeStreamStart[4] = {0xFF, 0x4F, 0xFF, 0x51};  // SOC then SIZ

// Messages of the library and of this manager during one call. Failures of
// this codec are results only: the messages go to the log at the end of the
// call, never to a message box.
using TMessageLog = Codecs::TCallMessages;

void OnError(const char* msg, void* data) {
  if (msg) static_cast<TMessageLog*>(data)->AddError(kLibrarySource, msg);
}
void OnWarning(const char* msg, void* data) {
  if (msg) static_cast<TMessageLog*>(data)->AddWarning(kLibrarySource, msg);
}
void OnInfo(const char*, void*) {}

void InstallHandlers(opj_codec_t* codec, TMessageLog& log) {
  opj_set_error_handler(codec, &OnError, &log);
  opj_set_warning_handler(codec, &OnWarning, &log);
  opj_set_info_handler(codec, &OnInfo, &log);
}

// ---------------------------------------------------------------------------
// Streams over memory.

struct TMemorySource {
  const std::uint8_t* data = nullptr;
  std::uint64_t size = 0;
  std::uint64_t pos = 0;
};

OPJ_SIZE_T SourceRead(void* buffer, OPJ_SIZE_T count, void* user) {
  auto* src = static_cast<TMemorySource*>(user);
  if (src->pos >= src->size) return static_cast<OPJ_SIZE_T>(-1);
  const std::uint64_t n = std::min<std::uint64_t>(count, src->size - src->pos);
  std::memcpy(buffer, src->data + src->pos, static_cast<std::size_t>(n));
  src->pos += n;
  return static_cast<OPJ_SIZE_T>(n);
}

OPJ_OFF_T SourceSkip(OPJ_OFF_T count, void* user) {
  auto* src = static_cast<TMemorySource*>(user);
  if (count < 0) {
    if (static_cast<std::uint64_t>(-count) > src->pos) return -1;
    src->pos -= static_cast<std::uint64_t>(-count);
    return count;
  }
  // Skipping past the end is allowed, as on a file; the next read fails.
  src->pos = std::min<std::uint64_t>(src->size, src->pos + static_cast<std::uint64_t>(count));
  return count;
}

OPJ_BOOL SourceSeek(OPJ_OFF_T pos, void* user) {
  auto* src = static_cast<TMemorySource*>(user);
  if (pos < 0 || static_cast<std::uint64_t>(pos) > src->size) return OPJ_FALSE;
  src->pos = static_cast<std::uint64_t>(pos);
  return OPJ_TRUE;
}

struct TMemorySink {
  std::vector<std::uint8_t> bytes;
  std::uint64_t pos = 0;
  bool failed = false;
};

OPJ_SIZE_T SinkWrite(void* buffer, OPJ_SIZE_T count, void* user) {
  auto* sink = static_cast<TMemorySink*>(user);
  const std::uint64_t end = sink->pos + count;
  if (end > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
    sink->failed = true;
    return static_cast<OPJ_SIZE_T>(-1);
  }
  try {
    if (end > sink->bytes.size()) sink->bytes.resize(static_cast<std::size_t>(end));
  } catch (const std::bad_alloc&) {
    sink->failed = true;
    return static_cast<OPJ_SIZE_T>(-1);
  }
  if (count) std::memcpy(sink->bytes.data() + sink->pos, buffer, count);
  sink->pos = end;
  return count;
}

OPJ_OFF_T SinkSkip(OPJ_OFF_T count, void* user) {
  auto* sink = static_cast<TMemorySink*>(user);
  if (count < 0 && static_cast<std::uint64_t>(-count) > sink->pos) return -1;
  sink->pos = static_cast<std::uint64_t>(static_cast<OPJ_OFF_T>(sink->pos) + count);
  return count;
}

OPJ_BOOL SinkSeek(OPJ_OFF_T pos, void* user) {
  auto* sink = static_cast<TMemorySink*>(user);
  if (pos < 0) return OPJ_FALSE;
  sink->pos = static_cast<std::uint64_t>(pos);
  return OPJ_TRUE;
}

// Owners of the library's objects.
struct TCodec {
  opj_codec_t* p = nullptr;
  ~TCodec() {
    if (p) opj_destroy_codec(p);
  }
};
struct TStream {
  opj_stream_t* p = nullptr;
  ~TStream() {
    if (p) opj_stream_destroy(p);
  }
};
struct TImage {
  opj_image_t* p = nullptr;
  ~TImage() {
    if (p) opj_image_destroy(p);
  }
};

// ---------------------------------------------------------------------------
// Reading.

// How the decoded components make a picture.
enum class TColorModel { Grey, GreyAlpha, Rgb, Rgba, Ycc, YccAlpha, Cmyk };

bool ComponentIsUsable(const opj_image_comp_t& c, std::int64_t maxPixels) {
  if (c.dx == 0 || c.dy == 0 || c.w == 0 || c.h == 0) return false;
  if (c.prec == 0 || c.prec > kMaxPrecision) return false;
  return static_cast<std::int64_t>(c.w) * static_cast<std::int64_t>(c.h) <= maxPixels;
}

// Samples the decoded image holds in all (the library keeps each in 32 bits).
std::int64_t SampleCount(const opj_image_t& image) {
  std::int64_t total = 0;
  for (OPJ_UINT32 k = 0; k < image.numcomps; ++k)
    total += static_cast<std::int64_t>(image.comps[k].w) * image.comps[k].h;
  return total;
}

// A sample as a fraction 0..1 of its component's range (signed samples are
// moved up by half the range first).
struct TSampleScale {
  std::int64_t offset = 0;
  std::int64_t maximum = 255;
  std::uint8_t To8(std::int32_t v) const {
    std::int64_t u = static_cast<std::int64_t>(v) + offset;
    u = std::clamp<std::int64_t>(u, 0, maximum);
    return static_cast<std::uint8_t>((u * 255 + maximum / 2) / maximum);
  }
  double ToUnit(std::int32_t v) const {
    std::int64_t u = static_cast<std::int64_t>(v) + offset;
    u = std::clamp<std::int64_t>(u, 0, maximum);
    return static_cast<double>(u) / static_cast<double>(maximum);
  }
  // Chroma difference around the middle of the range, -0.5..0.5.
  double ToChroma(std::int32_t v) const {
    std::int64_t u = static_cast<std::int64_t>(v) + offset;
    u = std::clamp<std::int64_t>(u, 0, maximum);
    return static_cast<double>(u - (maximum + 1) / 2) / static_cast<double>(maximum);
  }
};

TSampleScale ScaleOf(const opj_image_comp_t& c) {
  TSampleScale s;
  s.maximum = (std::int64_t{1} << c.prec) - 1;
  s.offset = c.sgnd ? (std::int64_t{1} << (c.prec - 1)) : 0;
  return s;
}

std::uint8_t UnitTo8(double v) {
  return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

TColorModel ChooseColorModel(const opj_image_t& image) {
  const OPJ_UINT32 n = image.numcomps;
  if (n == 1) return TColorModel::Grey;
  if (n == 2) return TColorModel::GreyAlpha;
  const bool ycc = image.color_space == OPJ_CLRSPC_SYCC || image.color_space == OPJ_CLRSPC_EYCC;
  // A bare code stream says nothing of its colours: chroma subsampled against
  // a full-size first component means luma and chroma.
  const bool guessedYcc =
      (image.color_space == OPJ_CLRSPC_UNSPECIFIED || image.color_space == OPJ_CLRSPC_UNKNOWN) &&
      image.comps[0].dx == 1 && image.comps[0].dy == 1 && (image.comps[1].dx > 1 || image.comps[1].dy > 1);
  if (n == 3) return ycc || guessedYcc ? TColorModel::Ycc : TColorModel::Rgb;
  if (image.color_space == OPJ_CLRSPC_CMYK) return TColorModel::Cmyk;
  return ycc || guessedYcc ? TColorModel::YccAlpha : TColorModel::Rgba;
}

// Index of the sample of a component that covers each sample of component 0
// along one axis (nearest sample at or before the position on the reference
// grid, clamped to the component).
std::vector<std::uint32_t> MapAxis(std::uint32_t count0, std::uint32_t origin0, std::uint32_t step0,
                                   std::uint32_t count, std::uint32_t origin, std::uint32_t step) {
  std::vector<std::uint32_t> map(count0);
  for (std::uint32_t i = 0; i < count0; ++i) {
    const std::int64_t grid = (static_cast<std::int64_t>(origin0) + i) * step0;
    const std::int64_t idx = grid / step - static_cast<std::int64_t>(origin);
    map[i] =
        static_cast<std::uint32_t>(std::clamp<std::int64_t>(idx, 0, static_cast<std::int64_t>(count) - 1));
  }
  return map;
}

bool FillFrame(const opj_image_t& image, TColorModel model, TFrameBuffer& frame) {
  const OPJ_UINT32 n = image.numcomps;
  const opj_image_comp_t& c0 = image.comps[0];
  const std::uint32_t width = c0.w, height = c0.h;
  std::vector<std::vector<std::uint32_t>> cols(n), rows(n);
  TSampleScale scale[kMaxComponents];
  for (OPJ_UINT32 k = 0; k < n; ++k) {
    const opj_image_comp_t& c = image.comps[k];
    cols[k] = MapAxis(width, c0.x0, c0.dx, c.w, c.x0, c.dx);
    rows[k] = MapAxis(height, c0.y0, c0.dy, c.h, c.y0, c.dy);
    scale[k] = ScaleOf(c);
  }
  for (std::uint32_t y = 0; y < height; ++y) {
    const OPJ_INT32* line[kMaxComponents] = {};
    for (OPJ_UINT32 k = 0; k < n; ++k)
      line[k] = image.comps[k].data + static_cast<std::size_t>(rows[k][y]) * image.comps[k].w;
    // Top picture row into the last buffer row.
    std::uint8_t* out = frame.pBuffer + static_cast<std::size_t>(height - 1 - y) * frame.nStride;
    for (std::uint32_t x = 0; x < width; ++x, out += 4) {
      auto sample = [&](OPJ_UINT32 k) { return line[k][cols[k][x]]; };
      std::uint8_t r = 0, g = 0, b = 0, a = 0;
      switch (model) {
        case TColorModel::Grey:
        case TColorModel::GreyAlpha:
          r = g = b = scale[0].To8(sample(0));
          if (model == TColorModel::GreyAlpha) a = scale[1].To8(sample(1));
          break;
        case TColorModel::Rgb:
        case TColorModel::Rgba:
          r = scale[0].To8(sample(0));
          g = scale[1].To8(sample(1));
          b = scale[2].To8(sample(2));
          if (model == TColorModel::Rgba) a = scale[3].To8(sample(3));
          break;
        case TColorModel::Ycc:
        case TColorModel::YccAlpha: {
          const double lum = scale[0].ToUnit(sample(0));
          const double cb = scale[1].ToChroma(sample(1));
          const double cr = scale[2].ToChroma(sample(2));
          r = UnitTo8(lum + 1.402 * cr);
          g = UnitTo8(lum - 0.344136 * cb - 0.714136 * cr);
          b = UnitTo8(lum + 1.772 * cb);
          if (model == TColorModel::YccAlpha) a = scale[3].To8(sample(3));
          break;
        }
        case TColorModel::Cmyk: {
          const double k = 1.0 - scale[3].ToUnit(sample(3));
          r = UnitTo8((1.0 - scale[0].ToUnit(sample(0))) * k);
          g = UnitTo8((1.0 - scale[1].ToUnit(sample(1))) * k);
          b = UnitTo8((1.0 - scale[2].ToUnit(sample(2))) * k);
          break;
        }
      }
      out[0] = b;
      out[1] = g;
      out[2] = r;
      out[3] = a;
    }
  }
  return true;
}

bool DecodeJpeg2000(const std::uint8_t* data, std::size_t size, TMediaRequest& request,
                    std::int64_t maxPixels, TMessageLog& log) {
  if (request.ePixelFormat != PF_RGB32 || !request.pFrameBuffer) {
    log.AddOwn("JPEG 2000 pictures are decoded into 32-bit RGB frames only.");
    return false;
  }
  OPJ_CODEC_FORMAT kind;
  if (size >= sizeof kJp2Signature && std::memcmp(data, kJp2Signature, sizeof kJp2Signature) == 0)
    kind = OPJ_CODEC_JP2;
  else if (size >= sizeof kCodeStreamStart &&
           std::memcmp(data, kCodeStreamStart, sizeof kCodeStreamStart) == 0)
    kind = OPJ_CODEC_J2K;
  else {
    log.AddOwn("Not a JP2 file or JPEG 2000 code stream.");
    return false;
  }

  TCodec codec{opj_create_decompress(kind)};
  if (!codec.p) return false;
  InstallHandlers(codec.p, log);
  opj_dparameters_t params;
  opj_set_default_decoder_parameters(&params);
  if (!opj_setup_decoder(codec.p, &params)) return false;

  TMemorySource source{data, size, 0};
  TStream stream{opj_stream_create(64 * 1024, OPJ_TRUE)};
  if (!stream.p) return false;
  opj_stream_set_user_data(stream.p, &source, nullptr);
  opj_stream_set_user_data_length(stream.p, size);
  opj_stream_set_read_function(stream.p, &SourceRead);
  opj_stream_set_skip_function(stream.p, &SourceSkip);
  opj_stream_set_seek_function(stream.p, &SourceSeek);

  TImage image;
  if (!opj_read_header(stream.p, codec.p, &image.p) || !image.p) return false;

  // Refuse what cannot become a picture before the library spends time and
  // memory on it.
  if (image.p->numcomps == 0 || image.p->numcomps > kMaxComponents) {
    log.AddOwn("JPEG 2000 images of " + std::to_string(image.p->numcomps) +
               " components are not supported (1 to 4 are).");
    return false;
  }
  const std::int64_t gridWidth = static_cast<std::int64_t>(image.p->x1) - image.p->x0;
  const std::int64_t gridHeight = static_cast<std::int64_t>(image.p->y1) - image.p->y0;
  if (gridWidth <= 0 || gridHeight <= 0 || gridWidth * gridHeight > maxPixels) {
    log.AddOwn("JPEG 2000 picture size " + std::to_string(gridWidth) + " x " + std::to_string(gridHeight) +
               " is not supported.");
    return false;
  }
  for (OPJ_UINT32 k = 0; k < image.p->numcomps; ++k) {
    if (!ComponentIsUsable(image.p->comps[k], maxPixels)) {
      log.AddOwn("JPEG 2000 component " + std::to_string(k) + " has an unsupported size or precision.");
      return false;
    }
  }
  if (SampleCount(*image.p) > kSampleBudget * maxPixels) {
    log.AddOwn("JPEG 2000 picture size " + std::to_string(gridWidth) + " x " + std::to_string(gridHeight) +
               " with " + std::to_string(image.p->numcomps) + " components is not supported.");
    return false;
  }

  if (!opj_decode(codec.p, stream.p, image.p) || !opj_end_decompress(codec.p, stream.p)) return false;

  // The file format's palette and channel definitions may have changed the
  // components: check them all again, data included.
  const opj_image_t& img = *image.p;
  if (img.numcomps == 0 || img.numcomps > kMaxComponents || !img.comps) {
    log.AddOwn("JPEG 2000 images of " + std::to_string(img.numcomps) +
               " components are not supported (1 to 4 are).");
    return false;
  }
  for (OPJ_UINT32 k = 0; k < img.numcomps; ++k) {
    if (!img.comps[k].data || !ComponentIsUsable(img.comps[k], maxPixels)) {
      log.AddOwn("JPEG 2000 component " + std::to_string(k) + " was not decoded.");
      return false;
    }
  }
  if (SampleCount(img) > kSampleBudget * maxPixels) return false;
  const opj_image_comp_t& c0 = img.comps[0];
  if (c0.w > static_cast<OPJ_UINT32>(std::numeric_limits<std::int32_t>::max()) ||
      c0.h > static_cast<OPJ_UINT32>(std::numeric_limits<std::int32_t>::max()) ||
      static_cast<std::int64_t>(c0.w) * c0.h > maxPixels)
    return false;

  TFrameBuffer& frame = *request.pFrameBuffer;
  if (!Codecs::PrepareFrame(&frame, PF_RGB32, static_cast<std::int32_t>(c0.w),
                            static_cast<std::int32_t>(c0.h))) {
    log.AddOwn("Not enough memory for a JPEG 2000 picture of " + std::to_string(c0.w) + " x " +
               std::to_string(c0.h) + " pixels.");
    return false;
  }
  FillFrame(img, ChooseColorModel(img), frame);

  Codecs::DescribeFrame(request, frame);
  if (request.pResults) {
    TJpeg2000ReadInfo info;
    info.nPrecision = static_cast<std::int32_t>(c0.prec);
    info.nComponentCount = static_cast<std::int32_t>(img.numcomps);
    std::memcpy(request.pResults, &info, sizeof info);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Writing.

bool EncodeJpeg2000(const TFrameBuffer& frame, const TJpeg2000Settings& settings,
                    std::vector<std::uint8_t>& out, TMessageLog& log) {
  OPJ_UINT32 components;
  switch (settings.nColorSpace) {
    case J2K_CS_RGB: components = 3; break;
    case J2K_CS_RGB_ALPHA: components = 4; break;
    default:
      log.AddOwn("JPEG 2000 files are written in the RGB and RGB + alpha colour spaces only.");
      return false;
  }
  OPJ_CODEC_FORMAT kind;
  switch (settings.nCompressionMode) {
    case J2K_MODE_LOSSLESS:
    case J2K_MODE_JP2: kind = OPJ_CODEC_JP2; break;
    case J2K_MODE_JPC: kind = OPJ_CODEC_J2K; break;
    default:
      log.AddOwn("Unknown JPEG 2000 compression mode " + std::to_string(settings.nCompressionMode) + ".");
      return false;
  }
  if (settings.nCompressionMode != J2K_MODE_LOSSLESS && settings.nQuality <= 0) {
    log.AddOwn("The JPEG 2000 rate must be above 0.");
    return false;
  }
  // The rate is the compressed size as a fraction of the picture's. A rate
  // of 1 or more asks for nothing to be dropped: that is lossless coding.
  const double rate = settings.nCompressionMode == J2K_MODE_LOSSLESS ? 1.0 : settings.nQuality / 1000.0;
  const bool lossless = rate >= 1.0;

  const OPJ_UINT32 width = static_cast<OPJ_UINT32>(frame.nWidth);
  const OPJ_UINT32 height = static_cast<OPJ_UINT32>(frame.nHeight);
  opj_image_cmptparm_t parms[kMaxComponents];
  std::memset(parms, 0, sizeof parms);
  for (OPJ_UINT32 k = 0; k < components; ++k) {
    parms[k].dx = parms[k].dy = 1;
    parms[k].w = width;
    parms[k].h = height;
    parms[k].prec = 8;
    parms[k].sgnd = 0;
  }
  TImage image{opj_image_create(components, parms, OPJ_CLRSPC_SRGB)};
  if (!image.p) {
    log.AddOwn("Not enough memory for the JPEG 2000 image.");
    return false;
  }
  image.p->x0 = image.p->y0 = 0;
  image.p->x1 = width;
  image.p->y1 = height;
  if (components == 4) image.p->comps[3].alpha = 1;  // an opacity channel, not a colour

  // Bottom-up blue, green, red, alpha rows into top-down planes.
  for (OPJ_UINT32 y = 0; y < height; ++y) {
    const std::uint8_t* in = frame.pBuffer + static_cast<std::size_t>(height - 1 - y) * frame.nStride;
    const std::size_t at = static_cast<std::size_t>(y) * width;
    for (OPJ_UINT32 x = 0; x < width; ++x, in += 4) {
      image.p->comps[0].data[at + x] = in[2];
      image.p->comps[1].data[at + x] = in[1];
      image.p->comps[2].data[at + x] = in[0];
      if (components == 4) image.p->comps[3].data[at + x] = in[3];
    }
  }

  opj_cparameters_t params;
  opj_set_default_encoder_parameters(&params);
  params.tcp_numlayers = 1;
  params.cp_disto_alloc = 1;
  params.tcp_mct = 1;
  // Lossless: the reversible 5/3 transform with nothing truncated. Lossy: the
  // 9/7 transform cut to the rate, which the library takes as its inverse,
  // a compression ratio.
  params.irreversible = lossless ? 0 : 1;
  params.tcp_rates[0] = lossless ? 0.0f : static_cast<float>(1.0 / rate);
  // Each resolution level halves the picture: small pictures get fewer.
  int levels = 1;
  for (OPJ_UINT32 side = std::min(width, height); side >= 2 && levels < kMaxResolutions; side >>= 1) ++levels;
  params.numresolution = levels;

  TCodec codec{opj_create_compress(kind)};
  if (!codec.p) return false;
  InstallHandlers(codec.p, log);
  if (!opj_setup_encoder(codec.p, &params, image.p)) return false;

  TMemorySink sink;
  TStream stream{opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE)};
  if (!stream.p) return false;
  opj_stream_set_user_data(stream.p, &sink, nullptr);
  opj_stream_set_write_function(stream.p, &SinkWrite);
  opj_stream_set_skip_function(stream.p, &SinkSkip);
  opj_stream_set_seek_function(stream.p, &SinkSeek);

  if (!opj_start_compress(codec.p, image.p, stream.p) || !opj_encode(codec.p, stream.p) ||
      !opj_end_compress(codec.p, stream.p))
    return false;
  if (sink.failed || log.HasErrors() || sink.bytes.empty()) return false;
  out = std::move(sink.bytes);
  return true;
}

bool FrameIsWritable(const TFrameBuffer* frame) {
  if (!frame || frame->ePixelFormat != PF_RGB32 || frame->nWidth <= 0 || frame->nHeight <= 0) return false;
  return Codecs::FrameHoldsRows(frame, frame->nHeight, std::int64_t{frame->nWidth} * 4);
}

}  // namespace

// ---------------------------------------------------------------------------

bool CJpeg2000Mgr::ReadJpeg2000(TMediaRequest& request) {
  if (!request.pPath) return FailRequest(request, MEDIA_ERR_READ_JPEG2000);
  std::vector<std::uint8_t> bytes;
  // Only a regular file is read (a FIFO named x.jp2 would block the reader);
  // a compressed file larger than the largest picture it could hold is not
  // read into memory.
  if (!Codecs::ReadRegularFile(*request.pPath, bytes, static_cast<std::uint64_t>(kMaxFrameBufferBytes))) {
    std::fprintf(stderr, "Can not open file %s\n", request.pPath->c_str());
    return FailRequest(request, MEDIA_ERR_READ_JPEG2000);
  }
  return ReadJpeg2000Memory(bytes.data(), bytes.size(), request);
}

bool CJpeg2000Mgr::ReadJpeg2000Memory(const std::uint8_t* pData, std::size_t nSize, TMediaRequest& request,
                                      std::int64_t nMaxPixels) {
  TMessageLog log;
  const bool ok = (pData || nSize == 0) && DecodeJpeg2000(pData, nSize, request, nMaxPixels, log);
  log.Log();
  return ok ? SucceedRequest(request) : FailRequest(request, MEDIA_ERR_READ_JPEG2000);
}

bool CJpeg2000Mgr::SaveJpeg2000(const std::string& path, TFileFormat eFormat,
                                const TJpeg2000Settings& settings, const Dib::TDibSection& bitmap) {
  if (bitmap.BitCount() == 32) return WriteBitmap(path, eFormat, settings, bitmap);
  const Dib::TDibPtr wide = Codecs::WidenToRgb32(bitmap);
  return wide && WriteBitmap(path, eFormat, settings, *wide);
}

bool CJpeg2000Mgr::WriteBitmap(const std::string& path, TFileFormat eFormat,
                               const TJpeg2000Settings& settings, const Dib::TDibSection& bitmap) {
  if (bitmap.BitCount() != 32 || !Codecs::SectionHoldsRows(bitmap)) return false;
  if (settings.nColorSpace != J2K_CS_RGB && settings.nColorSpace != J2K_CS_RGB_ALPHA) {
    std::fprintf(stderr, "JPEG 2000 files are written in the RGB and RGB + alpha colour spaces only.\n");
    return false;
  }
  if (settings.nBitDepth != 1 && settings.nBitDepth != 2 && settings.nBitDepth != 4 &&
      settings.nBitDepth != 8) {
    std::fprintf(stderr, "JPEG 2000 files are written with 8-bit samples: bit depth %d is not supported.\n",
                 static_cast<int>(settings.nBitDepth));
    return false;
  }

  TFrameBuffer frame;
  if (!Codecs::CopyToBottomUpFrame(bitmap, frame)) return false;

  TMediaRequest request;
  request.eOp = MEDIA_OP_WRITE_STILL;
  request.eSourceFormat = eFormat;
  request.pPath = &path;
  request.pFrameBuffer = &frame;
  request.eTag = MEDIA_REQ_JPEG2000;
  TJpeg2000Settings copy = settings;
  request.pParams = &copy;
  const bool ok = WriteJpeg2000(request);
  FreeFrameBuffer(&frame);
  return ok;
}

bool CJpeg2000Mgr::WriteJpeg2000(TMediaRequest& request) {
  const auto* settings = static_cast<const TJpeg2000Settings*>(RequestParams(request, MEDIA_REQ_JPEG2000));
  if (!settings) return false;
  if (!request.pPath || !FrameIsWritable(request.pFrameBuffer))
    return FailRequest(request, MEDIA_ERR_WRITE_JPEG2000);
  TMessageLog log;
  std::vector<std::uint8_t> bytes;
  bool ok = EncodeJpeg2000(*request.pFrameBuffer, *settings, bytes, log);
  if (ok && !platform::WriteFileBytes(platform::PathFromUtf8(*request.pPath), bytes.data(), bytes.size())) {
    log.AddOwn("Can not write file " + *request.pPath);
    ok = false;
  }
  log.Log();
  return ok ? SucceedRequest(request) : FailRequest(request, MEDIA_ERR_WRITE_JPEG2000);
}

}  // namespace Jpeg2000Mgr
