// The channel reader's frame loop: frames a reader hands to the engine per
// second from a 1920 x 1080 4:2:0 raw YUV clip in the page cache and from a
// folder of 640 x 480 24-bit bitmaps, beside a plain read of the same clip
// with the C library (the floor any reader of that file stands on). The
// frame callback does nothing, so the figures are the reader's own cost.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "io/read_stream.h"
#include "media/dib.h"
#include "platform/paths.h"

using namespace ZarnTypes;

namespace {

constexpr std::int32_t kWidth = 1920;
constexpr std::int32_t kHeight = 1080;
constexpr int kClipFrames = 16;
constexpr std::size_t kFrameBytes = std::size_t{kWidth} * kHeight * 3 / 2;
// 4:2:0 BT.601 studio range: pixel format 65 - 2 of file format 65.
constexpr TFileFormat kClipFormat = TFileFormat{65};
constexpr int kBitmapFiles = 20;
constexpr int kBitmapWidth = 640;
constexpr int kBitmapHeight = 480;

// The clip and the bitmap folder, written once for the whole program.
class TFixture {
 public:
  TFixture() : m_folder(platform::MakeTempFolder("tovrin-reader-bench-")) {
    m_clip = (m_folder / "clip_1920x1080_420.yuv").string();
    std::vector<std::uint8_t> frame(kFrameBytes);
    std::FILE* out = std::fopen(m_clip.c_str(), "wb");
    if (out == nullptr) std::abort();
    for (int n = 0; n < kClipFrames; ++n) {
      for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i * 7 + n);
      if (std::fwrite(frame.data(), 1, frame.size(), out) != frame.size()) std::abort();
    }
    if (std::fclose(out) != 0) std::abort();

    std::filesystem::create_directory(m_folder / "seq");
    Dib::TDibSection section;
    section.header.biWidth = kBitmapWidth;
    section.header.biHeight = kBitmapHeight;
    section.header.biBitCount = 24;
    section.bits.assign(section.Stride() * kBitmapHeight, 0);
    for (int n = 0; n < kBitmapFiles; ++n) {
      for (std::size_t i = 0; i < section.bits.size(); ++i)
        section.bits[i] = static_cast<std::uint8_t>(i + n);
      char name[32];
      std::snprintf(name, sizeof name, "frame_%04d.bmp", n);
      if (!Dib::SaveDibSectionToBmpFile(m_folder / "seq" / name, section)) std::abort();
    }
    m_firstBitmap = (m_folder / "seq" / "frame_0000.bmp").string();
  }
  ~TFixture() {
    std::error_code ec;
    std::filesystem::remove_all(m_folder, ec);
  }
  TFixture(const TFixture&) = delete;
  TFixture& operator=(const TFixture&) = delete;

  const std::string& Clip() const { return m_clip; }
  const std::string& FirstBitmap() const { return m_firstBitmap; }

 private:
  std::filesystem::path m_folder;
  std::string m_clip;
  std::string m_firstBitmap;
};

const TFixture& Fixture() {
  static const TFixture fixture;
  return fixture;
}

struct TCounter {
  std::int64_t frames = 0;
  std::atomic<bool> stop{false};
  std::atomic<bool> end{false};
  static bool Count(TMediaSenderKind, TSourcePurpose, std::int32_t, void* context, TMediaFrameNotice* f) {
    auto* self = static_cast<TCounter*>(context);
    benchmark::DoNotOptimize(f->pY != nullptr ? f->pY[0] : f->pRgbData[0]);
    ++self->frames;
    return true;
  }
};

std::int64_t RunReader(ReadStream::CReadStream& reader) {
  TCounter counter;
  ReadStream::TReaderDelivery d;
  d.nProcId = 41;
  d.eSenderKind = MEDIA_SENDER_STILLS;
  d.pContext = &counter;
  d.pFrameCallback = &TCounter::Count;
  d.pStopFlag = &counter.stop;
  d.pEndFlag = &counter.end;
  reader.SetDelivery(d);
  if (!reader.Run()) std::abort();
  return counter.frames;
}

void BM_ReaderRawYuv1080p(benchmark::State& state) {
  ReadStream::CReadStream reader(0);
  ReadStream::TReaderSource s;
  s.sPath = Fixture().Clip();
  s.eStreamType = TStreamType{static_cast<std::int32_t>(kClipFormat)};
  s.eFileFormat = kClipFormat;
  s.ePixelFormat = TPixelFormat{static_cast<std::int32_t>(kClipFormat) - 2};
  s.nWidth = kWidth;
  s.nHeight = kHeight;
  reader.SetDescription(s);
  std::int64_t frames = 0;
  for (auto _ : state) {
    frames += RunReader(reader);
  }
  if (frames != state.iterations() * kClipFrames) std::abort();
  state.SetItemsProcessed(frames);
  state.SetBytesProcessed(frames * static_cast<std::int64_t>(kFrameBytes));
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReaderRawYuv1080p)->Unit(benchmark::kMillisecond);

// The floor: the same clip read frame by frame into one buffer.
void BM_PlainReadRawYuv1080p(benchmark::State& state) {
  std::vector<std::uint8_t> frame(kFrameBytes);
  std::int64_t frames = 0;
  for (auto _ : state) {
    std::FILE* in = std::fopen(Fixture().Clip().c_str(), "rb");
    if (in == nullptr) std::abort();
    while (std::fread(frame.data(), 1, frame.size(), in) == frame.size()) {
      benchmark::DoNotOptimize(frame[0]);
      ++frames;
    }
    std::fclose(in);
  }
  state.SetItemsProcessed(frames);
  state.SetBytesProcessed(frames * static_cast<std::int64_t>(kFrameBytes));
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlainReadRawYuv1080p)->Unit(benchmark::kMillisecond);

void BM_ReaderBitmapSequence640x480(benchmark::State& state) {
  ReadStream::CReadStream reader(0);
  ReadStream::TReaderSource s;
  s.bSequence = true;
  s.sPath = Fixture().FirstBitmap();
  s.eStreamType = ST_BMP;
  s.eFileFormat = FF_BMP;
  s.ePixelFormat = PF_RGB24;
  s.nWidth = kBitmapWidth;
  s.nHeight = kBitmapHeight;
  reader.SetDescription(s);
  std::int64_t frames = 0;
  for (auto _ : state) {
    frames += RunReader(reader);
  }
  if (frames != state.iterations() * kBitmapFiles) std::abort();
  state.SetItemsProcessed(frames);
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReaderBitmapSequence640x480)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
