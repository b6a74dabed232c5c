#pragma once
// MNG files and frames made at test time for the MNG reader and writer
// tests: bottom-up test frames, a recorder that hands them out, a chunk
// builder and walker independent of libmng, and a reader run that keeps
// every delivered frame.

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "io/codecs/mng_mgr.h"
#include "io/media_request.h"
#include "media/frame_buffer.h"
#include "media/frame_processor.h"

namespace mng_test {

using namespace ZarnTypes;

// A bottom-up frame of 24 or 32 bits with DIB row alignment (4 bytes).
struct TFrame {
  TPixelFormat eFormat = PF_RGB24;
  std::int32_t nWidth = 0;
  std::int32_t nHeight = 0;
  std::int32_t nStride = 0;
  std::vector<std::uint8_t> bytes;

  const std::uint8_t* Pixel(std::int32_t x, std::int32_t rowFromTop) const {
    const int step = eFormat == PF_RGB32 ? 4 : 3;
    return bytes.data() + static_cast<std::size_t>(nHeight - 1 - rowFromTop) * nStride +
           static_cast<std::size_t>(x) * step;
  }
};

inline std::int32_t DibStride(std::int32_t width, TPixelFormat format) {
  return ((width * (format == PF_RGB32 ? 32 : 24) + 31) / 32) * 4;
}

// A frame whose every pixel depends on its position and on `seed`, so that
// swapped channels, flipped rows or another frame all show. The fourth byte
// of a 32-bit pixel and the row padding carry junk the writer must drop.
inline TFrame MakeFrame(TPixelFormat format, std::int32_t width, std::int32_t height, std::uint32_t seed) {
  TFrame f;
  f.eFormat = format;
  f.nWidth = width;
  f.nHeight = height;
  f.nStride = DibStride(width, format);
  f.bytes.assign(static_cast<std::size_t>(f.nStride) * height, 0xA5);
  const int step = format == PF_RGB32 ? 4 : 3;
  for (std::int32_t top = 0; top < height; ++top) {
    std::uint8_t* row = f.bytes.data() + static_cast<std::size_t>(height - 1 - top) * f.nStride;
    for (std::int32_t x = 0; x < width; ++x) {
      std::uint8_t* p = row + static_cast<std::size_t>(x) * step;
      p[0] = static_cast<std::uint8_t>(x * 7 + seed * 13 + 1);      // blue
      p[1] = static_cast<std::uint8_t>(top * 11 + seed * 3 + 2);    // green
      p[2] = static_cast<std::uint8_t>((x ^ top) + seed * 29 + 3);  // red
      if (step == 4) p[3] = static_cast<std::uint8_t>(0x5A + seed);
    }
  }
  return f;
}

// A frame whose single colour says its index: red, green and blue are the
// index's low, middle and high bytes.
inline TFrame MakeIndexFrame(TPixelFormat format, std::int32_t width, std::int32_t height,
                             std::uint32_t index) {
  TFrame f;
  f.eFormat = format;
  f.nWidth = width;
  f.nHeight = height;
  f.nStride = DibStride(width, format);
  f.bytes.assign(static_cast<std::size_t>(f.nStride) * height, 0);
  const int step = format == PF_RGB32 ? 4 : 3;
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width; ++x) {
      std::uint8_t* p =
          f.bytes.data() + static_cast<std::size_t>(y) * f.nStride + static_cast<std::size_t>(x) * step;
      p[0] = static_cast<std::uint8_t>(index >> 16);
      p[1] = static_cast<std::uint8_t>(index >> 8);
      p[2] = static_cast<std::uint8_t>(index);
    }
  return f;
}

inline std::uint32_t IndexOf(const std::uint8_t* bgr) {
  return static_cast<std::uint32_t>(bgr[2]) | (static_cast<std::uint32_t>(bgr[1]) << 8) |
         (static_cast<std::uint32_t>(bgr[0]) << 16);
}

// The image rows an MNG file must hold for a frame: filter byte 0 and red,
// green, blue, the top row first.
inline std::vector<std::uint8_t> ExpectedRows(const TFrame& f) {
  std::vector<std::uint8_t> rows;
  for (std::int32_t top = 0; top < f.nHeight; ++top) {
    rows.push_back(0);
    for (std::int32_t x = 0; x < f.nWidth; ++x) {
      const std::uint8_t* p = f.Pixel(x, top);
      rows.push_back(p[2]);
      rows.push_back(p[1]);
      rows.push_back(p[0]);
    }
  }
  return rows;
}

// ---------------------------------------------------------------------------
// Chunks

struct TChunk {
  std::string type;
  std::vector<std::uint8_t> data;
  bool bCrcOk = false;
};

inline std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
inline std::uint16_t Be16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

// Walks a file's chunks; false when the signature or a length is wrong.
inline bool WalkChunks(const std::vector<std::uint8_t>& file, std::vector<TChunk>& chunks,
                       const std::uint8_t (&signature)[8]) {
  chunks.clear();
  if (file.size() < 8 || std::memcmp(file.data(), signature, 8) != 0) return false;
  std::size_t pos = 8;
  while (pos < file.size()) {
    if (file.size() - pos < 12) return false;
    const std::uint32_t length = Be32(&file[pos]);
    if (file.size() - pos - 12 < length) return false;
    TChunk c;
    c.type.assign(reinterpret_cast<const char*>(&file[pos + 4]), 4);
    c.data.assign(file.begin() + static_cast<std::ptrdiff_t>(pos + 8),
                  file.begin() + static_cast<std::ptrdiff_t>(pos + 8 + length));
    const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, &file[pos + 4], 4 + length));
    c.bCrcOk = crc == Be32(&file[pos + 8 + length]);
    chunks.push_back(std::move(c));
    pos += 12 + length;
  }
  return true;
}

inline constexpr std::uint8_t kMngSignature[8] = {0x8A, 'M', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
inline constexpr std::uint8_t kJngSignature[8] = {0x8B, 'J', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

inline std::vector<std::uint8_t> Inflate(const std::vector<std::uint8_t>& in, std::size_t expected) {
  std::vector<std::uint8_t> out(expected + 1);
  uLongf n = static_cast<uLongf>(out.size());
  if (uncompress(out.data(), &n, in.data(), static_cast<uLong>(in.size())) != Z_OK) return {};
  out.resize(n);
  return out;
}

// Builds files chunk by chunk.
class TMngBuilder {
 public:
  explicit TMngBuilder(const std::uint8_t (&signature)[8] = kMngSignature)
      : bytes(std::begin(signature), std::end(signature)) {}
  TMngBuilder& Chunk(const char* type, const std::vector<std::uint8_t>& data) {
    Put32(static_cast<std::uint32_t>(data.size()));
    const std::size_t start = bytes.size();
    bytes.insert(bytes.end(), type, type + 4);
    bytes.insert(bytes.end(), data.begin(), data.end());
    Put32(static_cast<std::uint32_t>(crc32(0, &bytes[start], static_cast<uInt>(4 + data.size()))));
    return *this;
  }
  TMngBuilder& Mhdr(std::uint32_t w, std::uint32_t h, std::uint32_t frames, std::uint32_t ticks = 30) {
    std::vector<std::uint8_t> d;
    for (std::uint32_t v : {w, h, ticks, 0u, frames, 0u, 7u}) Append32(d, v);
    return Chunk("MHDR", d);
  }
  TMngBuilder& Defi(std::uint16_t id) {
    return Chunk("DEFI", {static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id), 0, 1, 0, 0, 0, 0,
                          0, 0, 0, 0});
  }
  // An RGB image (IHDR, IDAT, IEND) of the frame.
  TMngBuilder& Image(const TFrame& f) {
    std::vector<std::uint8_t> d;
    Append32(d, static_cast<std::uint32_t>(f.nWidth));
    Append32(d, static_cast<std::uint32_t>(f.nHeight));
    d.insert(d.end(), {8, 2, 0, 0, 0});
    Chunk("IHDR", d);
    const std::vector<std::uint8_t> rows = ExpectedRows(f);
    std::vector<std::uint8_t> z(compressBound(static_cast<uLong>(rows.size())));
    uLongf n = static_cast<uLongf>(z.size());
    compress2(z.data(), &n, rows.data(), static_cast<uLong>(rows.size()), 6);
    z.resize(n);
    return Chunk("IDAT", z).Chunk("IEND", {});
  }
  TMngBuilder& Mend() { return Chunk("MEND", {}); }
  static void Append32(std::vector<std::uint8_t>& d, std::uint32_t v) {
    d.insert(d.end(), {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                       static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
  }
  void Save(const std::filesystem::path& path) const {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<std::uint8_t> bytes;

 private:
  void Put32(std::uint32_t v) { Append32(bytes, v); }
};

// A file as the recorder lays it out (frame count 0, a new object id per
// frame), made by the builder: `count` frames made by `make(index)`.
template <typename TMake>
std::vector<std::uint8_t> RecorderLayoutFile(std::int32_t w, std::int32_t h, std::uint32_t count, TMake make,
                                             std::uint32_t frameCount = 0) {
  TMngBuilder b;
  b.Mhdr(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), frameCount);
  for (std::uint32_t i = 0; i < count; ++i) b.Defi(static_cast<std::uint16_t>(i)).Image(make(i));
  b.Mend();
  return b.bytes;
}

// ---------------------------------------------------------------------------
// Writing through CMngMgr::Write with a recorder that hands out frames

struct TFakeRecorder {
  std::vector<TFrame> frames;
  std::size_t next = 0;
  std::atomic<bool> stop{false};
  std::atomic<bool> end{false};
  std::atomic<int> requests{0};
  bool bStopWhenEmpty = true;

  static bool Callback(void* context, TMediaNotify code, const TMediaSender* sender, void* data) {
    auto* self = static_cast<TFakeRecorder*>(context);
    if (code != MEDIA_NOTIFY_RECORD_FRAME || !sender || sender->eSenderKind != MEDIA_SENDER_RECORDER)
      return false;
    ++self->requests;
    auto* request = static_cast<TDataFrame*>(data);
    auto* notice = reinterpret_cast<TMediaFrameNotice*>(request->pData);
    if (self->next >= self->frames.size()) {
      if (self->bStopWhenEmpty) self->stop = true;
      return false;
    }
    const TFrame& f = self->frames[self->next++];
    notice->ePixelFormat = f.eFormat;
    notice->nWidth = f.nWidth;
    notice->nHeight = f.nHeight;
    notice->pRgbData = f.bytes.data();
    notice->nRgbSize = static_cast<std::int32_t>(f.bytes.size());
    return true;
  }
};

struct TWriteRun {
  bool bOk = false;
  TMediaRequest request;
  std::string error;  // the writer's reason when it failed
};

inline TWriteRun WriteMng(const std::string& path, TFakeRecorder& recorder, TPixelFormat format,
                          std::int32_t w, std::int32_t h, int workers = 1, int procId = 45) {
  std::string out = path;
  MngMgr::TMngParams params;
  params.nProcId = procId;
  params.nWriterOrdinal = 1;
  params.eSenderKind = MEDIA_SENDER_RECORDER;
  params.ePurpose = SRC_WRITE_STREAM;
  params.pContext = &recorder;
  params.pStopFlag = &recorder.stop;
  params.pEndFlag = &recorder.end;
  params.pCallback = &TFakeRecorder::Callback;
  params.nCompressionWorkers = workers;
  TWriteRun run;
  run.request.eOp = MEDIA_OP_RUN_JOB;
  run.request.ePurpose = SRC_WRITE_STREAM;
  run.request.eOutputFormat = FF_MNG;
  run.request.ePixelFormat = format;
  run.request.pOutputPath = &out;
  run.request.nWidth = w;
  run.request.nHeight = h;
  run.request.eTag = MEDIA_REQ_MNG;
  run.request.pParams = &params;
  MngMgr::CMngMgr writer;
  run.bOk = writer.Write(&run.request);
  run.error = writer.LastError().text;
  run.request.pOutputPath = nullptr;
  run.request.pParams = nullptr;
  return run;
}

// ---------------------------------------------------------------------------
// Reading through CMngMgr::Run, keeping every frame delivered

struct TDelivered {
  TPixelFormat eFormat = TPixelFormat{0};
  std::int32_t nWidth = 0;
  std::int32_t nHeight = 0;
  std::int32_t nBits = 0;
  std::int64_t nNumber = 0;
  bool bDiscontinuity = false;
  std::vector<std::uint8_t> bytes;
};

struct TReadSink {
  std::mutex mutex;
  std::vector<TDelivered> frames;
  std::vector<std::vector<std::int32_t>> infos;
  std::atomic<int> frameCount{0};
  bool bKeepBytes = true;
  std::function<void(TReadSink&, const TMediaFrameNotice&)> onFrame;  // runs in the reader's thread

  static bool Callback(void* context, TMediaNotify code, const TMediaSender* sender, void* data) {
    auto* self = static_cast<TReadSink*>(context);
    if (!sender || sender->eSenderKind != MEDIA_SENDER_MNG) return false;
    if (code == MEDIA_NOTIFY_STREAM_INFO) {
      const auto* v = static_cast<const std::int32_t*>(data);
      std::lock_guard<std::mutex> lock(self->mutex);
      self->infos.emplace_back(v, v + 7);
      return true;
    }
    if (code != MEDIA_NOTIFY_FRAME) return false;
    const auto* n = static_cast<const TMediaFrameNotice*>(data);
    {
      TDelivered d;
      d.eFormat = n->ePixelFormat;
      d.nWidth = n->nWidth;
      d.nHeight = n->nHeight;
      d.nBits = n->pHeader ? n->pHeader->biBitCount : 0;
      d.nNumber = n->nFrameNumber;
      d.bDiscontinuity = n->bDiscontinuity;
      if (self->bKeepBytes) d.bytes.assign(n->pRgbData, n->pRgbData + n->nRgbSize);
      std::lock_guard<std::mutex> lock(self->mutex);
      self->frames.push_back(std::move(d));
    }
    ++self->frameCount;
    if (self->onFrame) self->onFrame(*self, *n);
    return true;
  }
};

// The flags and seek values a read request points at.
struct TReadFlags {
  std::atomic<bool> stop{false};
  std::atomic<bool> end{false};
  std::atomic<bool> seek{false};
  std::atomic<std::int32_t> numerator{0};
  std::atomic<std::int32_t> denominator{1};
};

struct TReadRequest {
  std::string path;
  TReadFlags flags;
  MngMgr::TMngParams params;
  TFrameBuffer frame{};
  std::int32_t info[14] = {};
  TMediaRequest request;

  TReadRequest(const std::string& file, TSourcePurpose purpose, TPixelFormat format, TReadSink* sink)
      : path(file) {
    params.nProcId = 41;
    params.eSenderKind = MEDIA_SENDER_MNG;
    params.ePurpose = purpose;
    params.pContext = sink;
    params.pStopFlag = &flags.stop;
    params.pEndFlag = &flags.end;
    params.pSeekRequest = &flags.seek;
    params.pSeekNumerator = &flags.numerator;
    params.pSeekDenominator = &flags.denominator;
    params.bFlag = true;
    params.pCallback = sink ? &TReadSink::Callback : nullptr;
    params.eInfoTag = MEDIA_REQ_MNG_PARAMS;
    params.pInfo = info;
    request.eOp = MEDIA_OP_READ;
    request.ePurpose = purpose;
    request.eSourceFormat = FF_MNG;
    request.ePixelFormat = format;
    request.pPath = &path;
    request.pFrameBuffer = &frame;
    request.eTag = MEDIA_REQ_MNG;
    request.pParams = &params;
  }
  ~TReadRequest() { FreeFrameBuffer(&frame); }
  TReadRequest(const TReadRequest&) = delete;
  TReadRequest& operator=(const TReadRequest&) = delete;
};

// The bytes of a delivered canvas pixel (bottom-up rows, 4-byte aligned).
inline const std::uint8_t* CanvasPixel(const TDelivered& d, std::int32_t x, std::int32_t rowFromTop) {
  const int step = d.nBits / 8;
  const std::int32_t stride = ((d.nWidth * d.nBits + 31) / 32) * 4;
  return d.bytes.data() + static_cast<std::size_t>(d.nHeight - 1 - rowFromTop) * stride +
         static_cast<std::size_t>(x) * step;
}

// Whether a delivered canvas shows the frame exactly (blue, green, red).
inline ::testing::AssertionResult SamePicture(const TDelivered& d, const TFrame& f) {
  if (d.nWidth != f.nWidth || d.nHeight != f.nHeight)
    return ::testing::AssertionFailure() << "size " << d.nWidth << "x" << d.nHeight;
  for (std::int32_t y = 0; y < f.nHeight; ++y)
    for (std::int32_t x = 0; x < f.nWidth; ++x) {
      const std::uint8_t* a = CanvasPixel(d, x, y);
      const std::uint8_t* b = f.Pixel(x, y);
      if (a[0] != b[0] || a[1] != b[1] || a[2] != b[2])
        return ::testing::AssertionFailure() << "pixel " << x << "," << y << " differs";
    }
  return ::testing::AssertionSuccess();
}

}  // namespace mng_test
