// Colour conversion of one 1920x1080 frame per iteration, on one thread,
// beside libyuv doing the same job in the same run. Times are per frame in
// milliseconds; "vs_libyuv" is our time divided by libyuv's I420ToARGB (or
// YUY2ToARGB for packed input) measured just before.
//
//   tools/tovrin.sh bench color

#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

#include "media/color_conversion.h"
#include "media/color_kernels.h"
#include "media/file_types.h"

namespace {

using namespace ZarnTypes;
using ImageColorConversion::detail::TColorKernel;

constexpr std::int32_t kWidth = 1920;
constexpr std::int32_t kHeight = 1080;

// A deterministic picture with gradients and noise in every plane.
void FillPattern(std::uint8_t* p, std::size_t n, std::uint32_t seed) {
  std::uint32_t s = seed;
  for (std::size_t i = 0; i < n; ++i) {
    s = s * 1664525u + 1013904223u;
    p[i] = static_cast<std::uint8_t>((i * 7 / 5) + (s >> 27));
  }
}

struct TI420 {
  std::vector<std::uint8_t> y = std::vector<std::uint8_t>(std::size_t{kWidth} * kHeight);
  std::vector<std::uint8_t> u = std::vector<std::uint8_t>(std::size_t{kWidth / 2} * (kHeight / 2));
  std::vector<std::uint8_t> v = std::vector<std::uint8_t>(std::size_t{kWidth / 2} * (kHeight / 2));
  TI420() {
    FillPattern(y.data(), y.size(), 1);
    FillPattern(u.data(), u.size(), 2);
    FillPattern(v.data(), v.size(), 3);
  }
};

// Milliseconds per frame of libyuv's conversion, best of a few runs.
template <typename F>
double MeasureMs(F&& run) {
  double best = 1e9;
  for (int round = 0; round < 5; ++round) {
    const auto start = std::chrono::steady_clock::now();
    constexpr int kRuns = 10;
    for (int i = 0; i < kRuns; ++i) run();
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count() / kRuns);
  }
  return best;
}

double LibyuvI420Ms() {
  static const double ms = [] {
    TI420 in;
    std::vector<std::uint8_t> out(std::size_t{kWidth} * kHeight * 4);
    return MeasureMs([&] {
      libyuv::I420ToARGB(in.y.data(), kWidth, in.u.data(), kWidth / 2, in.v.data(), kWidth / 2,
                         out.data(), kWidth * 4, kWidth, kHeight);
      benchmark::ClobberMemory();
    });
  }();
  return ms;
}

// Times the benchmark loop itself and reports ms per frame beside the peer's.
class TFrameTimer {
 public:
  explicit TFrameTimer(double peerMs) : m_peerMs(peerMs), m_start(std::chrono::steady_clock::now()) {}
  void Report(benchmark::State& state) const {
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - m_start;
    const double ms = state.iterations() > 0 ? took.count() / static_cast<double>(state.iterations()) : 0.0;
    state.counters["ms_per_frame"] = ms;
    state.counters["libyuv_ms"] = m_peerMs;
    state.counters["vs_libyuv"] = m_peerMs > 0 ? ms / m_peerMs : 0.0;
  }

 private:
  double m_peerMs;
  std::chrono::steady_clock::time_point m_start;
};

// Scoped choice of kernel family (the best one unless the argument is 0).
class TKernelChoice {
 public:
  explicit TKernelChoice(bool scalar) : m_previous(ImageColorConversion::detail::GetColorKernel()) {
    if (scalar) ImageColorConversion::detail::SetColorKernel(TColorKernel::Scalar);
  }
  ~TKernelChoice() { ImageColorConversion::detail::SetColorKernel(m_previous); }

 private:
  TColorKernel m_previous;
};

void BM_LibyuvI420ToARGB(benchmark::State& state) {
  TI420 in;
  std::vector<std::uint8_t> out(std::size_t{kWidth} * kHeight * 4);
  for (auto _ : state) {
    libyuv::I420ToARGB(in.y.data(), kWidth, in.u.data(), kWidth / 2, in.v.data(), kWidth / 2,
                       out.data(), kWidth * 4, kWidth, kHeight);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_LibyuvI420ToARGB)->Name("color/libyuv_I420ToARGB/1920x1080")->Unit(benchmark::kMillisecond);

// The decoder path: CImageColorConversion into a bottom-up 32-bit bitmap.
void BM_DecoderPathRgb32(benchmark::State& state) {
  const double peer = LibyuvI420Ms();
  TKernelChoice choice(state.range(0) == 0);
  TI420 in;
  std::vector<std::uint8_t> out(std::size_t{kWidth} * kHeight * 4);
  ImageColorConversion::CImageColorConversion converter;
  TFrameTimer timer(peer);
  for (auto _ : state) {
    converter.ConvertYuv420ToRgb32Flip(in.y.data(), in.u.data(), in.v.data(), out.data(), kWidth,
                                       kHeight, kWidth * 4);
    benchmark::ClobberMemory();
  }
  timer.Report(state);
}
BENCHMARK(BM_DecoderPathRgb32)
    ->Name("color/CImageColorConversion_Yuv420ToRgb32Flip/1920x1080")
    ->ArgName("simd")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond);

// A planar 4:2:0 layout of the given standard, siting and range.
TYuvFrameBuffer MakeYuv(std::int32_t standard, std::int32_t layout, std::int32_t range) {
  TYuvFrameBuffer yuv;
  yuv.ePixelFormat = static_cast<TPixelFormat>(ComposeYuvFileFormat(standard, layout, range) - 2);
  yuv.nWidth = kWidth;
  yuv.nHeight = kHeight;
  yuv.nWidthAlignment = 2;
  yuv.nHeightAlignment = 2;
  if (AllocYuvFrame(&yuv)) FillPattern(yuv.pBuffer, static_cast<std::size_t>(yuv.nTotalSize), 4);
  return yuv;
}

TFrameBuffer MakeRgb(TPixelFormat format) {
  TFrameBuffer rgb;
  rgb.ePixelFormat = format;
  rgb.nWidth = kWidth;
  rgb.nHeight = kHeight;
  rgb.nRowAlignment = 4;
  rgb.nHeightAlignment = 1;
  if (AllocFrameBuffer(&rgb)) FillPattern(rgb.pBuffer, static_cast<std::size_t>(rgb.nSize), 5);
  return rgb;
}

// The whole-frame converter from a 4:2:0 layout. Arguments: layout, range,
// output pixel format, SIMD on/off.
void BM_YuvToRgb(benchmark::State& state) {
  const double peer = LibyuvI420Ms();
  TKernelChoice choice(state.range(3) == 0);
  TYuvFrameBuffer yuv = MakeYuv(YUV_STD_BT601, static_cast<std::int32_t>(state.range(0)),
                                static_cast<std::int32_t>(state.range(1)));
  TFrameBuffer rgb = MakeRgb(static_cast<TPixelFormat>(state.range(2)));
  if (yuv.pBuffer == nullptr || rgb.pBuffer == nullptr) {
    state.SkipWithError("allocation failed");
    return;
  }
  TFrameTimer timer(peer);
  for (auto _ : state) {
    if (!ConvertYuvToRgb(yuv, rgb)) {
      state.SkipWithError("conversion refused");
      break;
    }
    benchmark::ClobberMemory();
  }
  timer.Report(state);
  FreeYuvFrame(&yuv);
  FreeFrameBuffer(&rgb);
}
BENCHMARK(BM_YuvToRgb)
    ->Name("color/ConvertYuvToRgb/1920x1080")
    ->ArgNames({"layout", "range", "pf", "simd"})
    ->Args({YUV_LAYOUT_420_CENTRED, YUV_RANGE_16_235_240, PF_RGB32, 1})
    ->Args({YUV_LAYOUT_420_COSITED_EVEN, YUV_RANGE_16_235_240, PF_RGB32, 1})
    ->Args({YUV_LAYOUT_420_CENTRED, YUV_RANGE_0_255, PF_RGB32, 1})
    ->Args({YUV_LAYOUT_420_CENTRED, YUV_RANGE_16_235_240, PF_RGB24, 1})
    ->Args({YUV_LAYOUT_420_CENTRED, YUV_RANGE_16_235_240, PF_RGB32, 0})
    ->Unit(benchmark::kMillisecond);

// Packed YUY2 to 32-bit RGB, beside libyuv's YUY2ToARGB.
void BM_Yuy2ToRgb32(benchmark::State& state) {
  TYuvFrameBuffer yuv;
  yuv.ePixelFormat = PF_YUY2;
  yuv.nWidth = kWidth;
  yuv.nHeight = kHeight;
  yuv.nWidthAlignment = 4;
  yuv.nHeightAlignment = 2;
  TFrameBuffer rgb = MakeRgb(PF_RGB32);
  if (!AllocYuvFrame(&yuv) || rgb.pBuffer == nullptr) {
    state.SkipWithError("allocation failed");
    return;
  }
  FillPattern(yuv.pBuffer, static_cast<std::size_t>(yuv.nTotalSize), 6);
  const double peer = MeasureMs([&] {
    libyuv::YUY2ToARGB(yuv.pBuffer, kWidth * 2, rgb.pBuffer, kWidth * 4, kWidth, kHeight);
    benchmark::ClobberMemory();
  });
  TFrameTimer timer(peer);
  for (auto _ : state) {
    ConvertYuvToRgb(yuv, rgb);
    benchmark::ClobberMemory();
  }
  timer.Report(state);
  FreeYuvFrame(&yuv);
  FreeFrameBuffer(&rgb);
}
BENCHMARK(BM_Yuy2ToRgb32)->Name("color/ConvertYuvToRgb_YUY2/1920x1080")->Unit(benchmark::kMillisecond);

// RGB to a 4:2:0 layout (saving and recording), beside libyuv's ARGBToI420.
void BM_RgbToYuv(benchmark::State& state) {
  TYuvFrameBuffer yuv = MakeYuv(YUV_STD_BT601, static_cast<std::int32_t>(state.range(0)),
                                YUV_RANGE_16_235_240);
  TFrameBuffer rgb = MakeRgb(PF_RGB32);
  if (yuv.pBuffer == nullptr || rgb.pBuffer == nullptr) {
    state.SkipWithError("allocation failed");
    return;
  }
  const std::int32_t chroma = yuv.nAlignedWidth / 2;
  const double peer = MeasureMs([&] {
    libyuv::ARGBToI420(rgb.pBuffer, kWidth * 4, yuv.pBuffer, yuv.nAlignedWidth, yuv.pCb, chroma,
                       yuv.pCr, chroma, kWidth, kHeight);
    benchmark::ClobberMemory();
  });
  TFrameTimer timer(peer);
  for (auto _ : state) {
    ConvertRgbToYuv(rgb, yuv);
    benchmark::ClobberMemory();
  }
  timer.Report(state);
  FreeYuvFrame(&yuv);
  FreeFrameBuffer(&rgb);
}
BENCHMARK(BM_RgbToYuv)
    ->Name("color/ConvertRgbToYuv/1920x1080")
    ->ArgName("layout")
    ->Arg(YUV_LAYOUT_420_CENTRED)
    ->Arg(YUV_LAYOUT_420_COSITED_EVEN)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
