// Reading raw YUV frames: the channel reader's per-frame path for raw YUV
// files and sequences. The benchmark writes its own 1920 x 1080 4:2:0 clip.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "media/yuv_frame.h"
#include "platform/paths.h"

using namespace ZarnTypes;

namespace {

constexpr std::int32_t kWidth = 1920;
constexpr std::int32_t kHeight = 1080;
constexpr int kFrames = 8;
// 4:2:0 BT.601, chroma cosited with even luma samples, luma 16-235.
constexpr TPixelFormat kFormat = static_cast<TPixelFormat>(PF_YCBCR_FIRST + 14);

TYuvFrameBuffer MakeFrame() {
  TYuvFrameBuffer f;
  f.ePixelFormat = kFormat;
  f.nWidth = kWidth;
  f.nHeight = kHeight;
  f.nWidthAlignment = 2;
  f.nHeightAlignment = 2;
  return f;
}

// A clip of kFrames frames, written once for the whole program.
class TClip {
 public:
  TClip() : m_folder(platform::MakeTempFolder("tovrin-yuv-bench-")) {
    m_path = m_folder / "clip_1920x1080_420.yuv";
    TYuvFrameBuffer frame = MakeFrame();
    if (!AllocYuvFrame(&frame)) std::abort();
    std::FILE* out = std::fopen(m_path.c_str(), "wb");
    if (out == nullptr) std::abort();
    const auto size = static_cast<std::size_t>(frame.nTotalSize);
    for (int n = 0; n < kFrames; ++n) {
      for (std::size_t i = 0; i < size; ++i) {
        frame.pBuffer[i] = static_cast<std::uint8_t>(i * 13 + static_cast<std::size_t>(n));
      }
      if (std::fwrite(frame.pBuffer, 1, size, out) != size) std::abort();
    }
    if (std::fclose(out) != 0) std::abort();
    m_frameSize = frame.nTotalSize;
    FreeYuvFrame(&frame);
  }
  ~TClip() {
    std::error_code ec;
    std::filesystem::remove_all(m_folder, ec);
  }
  TClip(const TClip&) = delete;
  TClip& operator=(const TClip&) = delete;
  const std::filesystem::path& Path() const { return m_path; }
  std::int64_t FrameSize() const { return m_frameSize; }

 private:
  std::filesystem::path m_folder;
  std::filesystem::path m_path;
  std::int64_t m_frameSize = 0;
};

const TClip& Clip() {
  static const TClip clip;
  return clip;
}

// One frame into a reused frame buffer (the reader's steady state).
void BM_ReadYuvFrameFile(benchmark::State& state) {
  const TClip& clip = Clip();
  TYuvFrameBuffer frame = MakeFrame();
  if (!AllocYuvFrame(&frame)) {
    state.SkipWithError("cannot allocate the frame");
    return;
  }
  for (auto _ : state) {
    if (!ReadYuvFrameFile(clip.Path(), &frame)) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(frame.pBuffer);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * clip.FrameSize());
  FreeYuvFrame(&frame);
}
BENCHMARK(BM_ReadYuvFrameFile);

// The same frame read plane by plane into separate destinations.
void BM_ReadYuvFramePlanes(benchmark::State& state) {
  const TClip& clip = Clip();
  TYuvFrameBuffer frame = MakeFrame();
  if (!AllocYuvFrame(&frame)) {
    state.SkipWithError("cannot allocate the frame");
    return;
  }
  for (auto _ : state) {
    if (!ReadYuvFrame(clip.Path(), frame.nYSize, frame.nCbSize, frame.pBuffer, frame.pCb, frame.pCr)) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(frame.pBuffer);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * clip.FrameSize());
  FreeYuvFrame(&frame);
}
BENCHMARK(BM_ReadYuvFramePlanes);

// The single-source decode path: a fresh block per call.
void BM_LoadRawYuvFile(benchmark::State& state) {
  const TClip& clip = Clip();
  for (auto _ : state) {
    std::uint8_t *y = nullptr, *cb = nullptr, *cr = nullptr;
    if (!LoadRawYuvFile(clip.Path(), kWidth, kHeight, FF_YCBCR_FIRST + 14, &y, &cb, &cr)) {
      std::free(y);
      state.SkipWithError("load failed");
      break;
    }
    benchmark::DoNotOptimize(y);
    std::free(y);
  }
  state.SetBytesProcessed(state.iterations() * clip.FrameSize());
}
BENCHMARK(BM_LoadRawYuvFile);

// For comparison: every frame of the clip in turn through one open stream
// into one reused frame buffer, the plain I/O cost without reopening.
void BM_ReadClipSequentially(benchmark::State& state) {
  const TClip& clip = Clip();
  TYuvFrameBuffer frame = MakeFrame();
  if (!AllocYuvFrame(&frame)) {
    state.SkipWithError("cannot allocate the frame");
    return;
  }
  const auto size = static_cast<std::size_t>(frame.nTotalSize);
  for (auto _ : state) {
    std::FILE* file = std::fopen(clip.Path().c_str(), "rb");
    if (file == nullptr) {
      state.SkipWithError("cannot open the clip");
      break;
    }
    for (int n = 0; n < kFrames; ++n) {
      if (std::fread(frame.pBuffer, 1, size, file) != size) {
        state.SkipWithError("short clip");
        break;
      }
      benchmark::DoNotOptimize(frame.pBuffer);
      benchmark::ClobberMemory();
    }
    std::fclose(file);
  }
  state.SetBytesProcessed(state.iterations() * kFrames * clip.FrameSize());
  state.SetItemsProcessed(state.iterations() * kFrames);
  FreeYuvFrame(&frame);
}
BENCHMARK(BM_ReadClipSequentially);

// Re-laying out a frame of unchanged size: must stay free of heap traffic.
void BM_AllocYuvFrameReuse(benchmark::State& state) {
  TYuvFrameBuffer frame = MakeFrame();
  if (!AllocYuvFrame(&frame)) {
    state.SkipWithError("cannot allocate the frame");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(AllocYuvFrame(&frame));
  }
  FreeYuvFrame(&frame);
}
BENCHMARK(BM_AllocYuvFrameReuse);

}  // namespace

BENCHMARK_MAIN();
