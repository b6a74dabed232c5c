// Colour conversion of one 1920x1080 frame per iteration, on one thread,
// beside libyuv doing the same job in the same run.
//
// Every iteration runs both converters on the same input, in alternating
// order, each into its own output, and times each separately, so that both
// see the same machine load and cache state. The reported time is ours;
// the counters give ms per frame for both (means over the iterations) and
// vs_libyuv = ours / libyuv's. The peers: I420ToARGB for planar 4:2:0 input,
// YUY2ToARGB for packed input, ARGBToI420 for RGB to 4:2:0, each writing
// (or reading) its RGB rows bottom-up as the project's frames hold them.
// The label names the vector unit of each side: ours the kernel family in
// use, libyuv the widest rows its build has for the processor (the libyuv
// of Debian 12 has AVX2 rows for these conversions and none for AVX-512).
//
// "in cache": the same frames every iteration (input and output together
// fit the last-level cache). "from memory": each iteration takes the next
// of eight frame sets (about 90 MB per side), so input and output come from
// and go to memory as a playing engine's do.
//
//   tools/tovrin.sh bench color

#include <benchmark/benchmark.h>

#include <libyuv.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/run_beside.h"
#include "media/color_conversion.h"
#include "media/color_kernels.h"
#include "media/file_types.h"

namespace {

using namespace ZarnTypes;
using ImageColorConversion::detail::TColorKernel;

constexpr std::int32_t kWidth = 1920;
constexpr std::int32_t kHeight = 1080;

// A deterministic picture with gradients and noise.
void FillPattern(std::uint8_t* p, std::size_t n, std::uint32_t seed) {
  std::uint32_t s = seed;
  for (std::size_t i = 0; i < n; ++i) {
    s = s * 1664525u + 1013904223u;
    p[i] = static_cast<std::uint8_t>((i * 7 / 5) + (s >> 27));
  }
}

// Scoped choice of kernel family: -1 the best one the processor offers, else
// a TColorKernel value. Ok() is false when the processor lacks the family.
class TKernelChoice {
 public:
  explicit TKernelChoice(std::int64_t kernel)
      : m_previous(ImageColorConversion::detail::GetColorKernel()),
        m_ok(kernel < 0 || ImageColorConversion::detail::SetColorKernel(static_cast<TColorKernel>(kernel))) {}
  ~TKernelChoice() { ImageColorConversion::detail::SetColorKernel(m_previous); }
  bool Ok() const { return m_ok; }

 private:
  TColorKernel m_previous;
  bool m_ok;
};

// Kernel arguments: -1 best, 0 scalar, 1 AVX2, 2 AVX-512, 3 AVX-512 VBMI.
void KernelArgs(benchmark::internal::Benchmark* b, const std::vector<std::int64_t>& prefix) {
  for (std::int64_t kernel : {-1, 0, 1, 2, 3}) {
    std::vector<std::int64_t> args = prefix;
    args.push_back(kernel);
    b->Args(args);
  }
}

const char* KernelName(TColorKernel kernel) {
  switch (kernel) {
    case TColorKernel::Scalar: return "tables";
    case TColorKernel::Avx2: return "AVX2";
    case TColorKernel::Avx512: return "AVX-512";
    case TColorKernel::Avx512Vbmi: return "AVX-512 VBMI";
  }
  return "?";
}

// The widest rows of libyuv for this processor.
const char* LibyuvUnit() {
  if (libyuv::TestCpuFlag(libyuv::kCpuHasAVX2) != 0) return "AVX2";
  if (libyuv::TestCpuFlag(libyuv::kCpuHasSSSE3) != 0) return "SSSE3";
  return "C";
}

void RunBeside(benchmark::State& state, const std::function<bool()>& ours,
               const std::function<void()>& peer) {
  bench_support::RunBeside(state, ours, peer, "libyuv", "conversion refused");
  state.SetLabel(std::string("ours ") + KernelName(ImageColorConversion::detail::GetColorKernel()) +
                 ", libyuv " + LibyuvUnit());
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

// Bottom-up, as the project writes: a negative height starts at the last row.
void LibyuvI420ToArgb(const TI420& in, std::vector<std::uint8_t>& out) {
  libyuv::I420ToARGB(in.y.data(), kWidth, in.u.data(), kWidth / 2, in.v.data(), kWidth / 2, out.data(),
                     kWidth * 4, kWidth, -kHeight);
}

// The decoder path: CImageColorConversion into a bottom-up 32-bit bitmap.
void BM_DecoderPathRgb32(benchmark::State& state) {
  TKernelChoice choice(state.range(0));
  if (!choice.Ok()) {
    state.SkipWithError("kernel family not supported here");
    return;
  }
  TI420 in;
  std::vector<std::uint8_t> out(std::size_t{kWidth} * kHeight * 4);
  std::vector<std::uint8_t> peerOut(out.size());
  ImageColorConversion::CImageColorConversion converter;
  RunBeside(
      state,
      [&] {
        converter.ConvertYuv420ToRgb32Flip(in.y.data(), in.u.data(), in.v.data(), out.data(), kWidth, kHeight,
                                           kWidth * 4);
        return true;
      },
      [&] { LibyuvI420ToArgb(in, peerOut); });
}
BENCHMARK(BM_DecoderPathRgb32)
    ->Name("color/CImageColorConversion_Yuv420ToRgb32Flip/1920x1080")
    ->ArgName("kernel")
    ->Apply([](benchmark::internal::Benchmark* b) { KernelArgs(b, {}); })
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// An allocated 1920x1080 YUV frame of the pixel format, filled.
struct TYuv {
  TYuvFrameBuffer f;
  TYuv(TPixelFormat pf, std::int32_t widthAlignment) {
    f.ePixelFormat = pf;
    f.nWidth = kWidth;
    f.nHeight = kHeight;
    f.nWidthAlignment = widthAlignment;
    f.nHeightAlignment = 2;
    if (AllocYuvFrame(&f)) FillPattern(f.pBuffer, static_cast<std::size_t>(f.nTotalSize), 4);
  }
  ~TYuv() { FreeYuvFrame(&f); }
};

// An allocated bottom-up 1920x1080 RGB frame, filled.
struct TRgb {
  TFrameBuffer f;
  explicit TRgb(TPixelFormat pf) {
    f.ePixelFormat = pf;
    f.nWidth = kWidth;
    f.nHeight = kHeight;
    f.nRowAlignment = 4;
    f.nHeightAlignment = 1;
    if (AllocFrameBuffer(&f)) FillPattern(f.pBuffer, static_cast<std::size_t>(f.nSize), 5);
  }
  ~TRgb() { FreeFrameBuffer(&f); }
};

TPixelFormat Layout(std::int64_t layout, std::int64_t range) {
  return static_cast<TPixelFormat>(ComposeYuvFileFormat(YUV_STD_BT601, static_cast<std::int32_t>(layout),
                                                        static_cast<std::int32_t>(range)) -
                                   2);
}

// The whole-frame converter from a 4:2:0 layout. Arguments: layout, range,
// output pixel format, kernel family.
void BM_YuvToRgb(benchmark::State& state) {
  TKernelChoice choice(state.range(3));
  if (!choice.Ok()) {
    state.SkipWithError("kernel family not supported here");
    return;
  }
  TYuv yuv(Layout(state.range(0), state.range(1)), 2);
  TRgb rgb(static_cast<TPixelFormat>(state.range(2)));
  if (yuv.f.pBuffer == nullptr || rgb.f.pBuffer == nullptr) {
    state.SkipWithError("allocation failed");
    return;
  }
  TI420 in;
  std::vector<std::uint8_t> peerOut(std::size_t{kWidth} * kHeight * 4);
  RunBeside(
      state, [&] { return ConvertYuvToRgb(yuv.f, rgb.f); }, [&] { LibyuvI420ToArgb(in, peerOut); });
}
BENCHMARK(BM_YuvToRgb)
    ->Name("color/ConvertYuvToRgb/1920x1080")
    ->ArgNames({"layout", "range", "pf", "kernel"})
    ->Apply([](benchmark::internal::Benchmark* b) {
      KernelArgs(b, {YUV_LAYOUT_420_CENTRED, YUV_RANGE_16_235_240, PF_RGB32});
      b->Args({YUV_LAYOUT_420_CENTRED, YUV_RANGE_0_255, PF_RGB32, -1});
      b->Args({YUV_LAYOUT_420_CENTRED, YUV_RANGE_16_235_240, PF_RGB24, -1});
      b->Args({YUV_LAYOUT_420_COSITED_EVEN, YUV_RANGE_16_235_240, PF_RGB32, -1});
      b->Args({YUV_LAYOUT_444, YUV_RANGE_16_235_240, PF_RGB32, -1});
    })
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The whole-frame converter from a 4:2:0 layout into 32-bit RGB with every
// frame from memory: eight frame sets per side, taken in turn. Arguments:
// layout, range, kernel family. 4:2:0 cosited with the even pixel, 0-255, is
// the raw YUV clip the engine's replay step shows.
void BM_YuvToRgbFromMemory(benchmark::State& state) {
  TKernelChoice choice(state.range(2));
  if (!choice.Ok()) {
    state.SkipWithError("kernel family not supported here");
    return;
  }
  constexpr std::size_t kSets = 8;
  std::vector<std::unique_ptr<TYuv>> yuv;
  std::vector<std::unique_ptr<TRgb>> rgb;
  std::vector<std::unique_ptr<TI420>> in;
  std::vector<std::vector<std::uint8_t>> peerOut;
  for (std::size_t i = 0; i < kSets; ++i) {
    yuv.push_back(std::make_unique<TYuv>(Layout(state.range(0), state.range(1)), 2));
    rgb.push_back(std::make_unique<TRgb>(PF_RGB32));
    in.push_back(std::make_unique<TI420>());
    peerOut.emplace_back(std::size_t{kWidth} * kHeight * 4, std::uint8_t{1});
    if (yuv.back()->f.pBuffer == nullptr || rgb.back()->f.pBuffer == nullptr) {
      state.SkipWithError("allocation failed");
      return;
    }
  }
  std::size_t ours = 0;
  std::size_t peer = kSets / 2;
  RunBeside(
      state,
      [&] {
        const std::size_t i = ours++ % kSets;
        return ConvertYuvToRgb(yuv[i]->f, rgb[i]->f);
      },
      [&] {
        const std::size_t i = peer++ % kSets;
        LibyuvI420ToArgb(*in[i], peerOut[i]);
      });
}
BENCHMARK(BM_YuvToRgbFromMemory)
    ->Name("color/ConvertYuvToRgb_from_memory/1920x1080")
    ->ArgNames({"layout", "range", "kernel"})
    ->Apply([](benchmark::internal::Benchmark* b) {
      KernelArgs(b, {YUV_LAYOUT_420_CENTRED, YUV_RANGE_16_235_240});
      b->Args({YUV_LAYOUT_420_CENTRED, YUV_RANGE_0_255, -1});
      b->Args({YUV_LAYOUT_420_COSITED_EVEN, YUV_RANGE_0_255, -1});
    })
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Packed YUY2 to 32-bit RGB, beside libyuv's YUY2ToARGB, in cache. Argument:
// kernel family.
void BM_Yuy2ToRgb32(benchmark::State& state) {
  TKernelChoice choice(state.range(0));
  if (!choice.Ok()) {
    state.SkipWithError("kernel family not supported here");
    return;
  }
  TYuv yuv(PF_YUY2, 4);
  TRgb rgb(PF_RGB32);
  if (yuv.f.pBuffer == nullptr || rgb.f.pBuffer == nullptr) {
    state.SkipWithError("allocation failed");
    return;
  }
  std::vector<std::uint8_t> peerOut(std::size_t{kWidth} * kHeight * 4);
  RunBeside(
      state, [&] { return ConvertYuvToRgb(yuv.f, rgb.f); },
      [&] { libyuv::YUY2ToARGB(yuv.f.pBuffer, kWidth * 2, peerOut.data(), kWidth * 4, kWidth, -kHeight); });
}
BENCHMARK(BM_Yuy2ToRgb32)
    ->Name("color/ConvertYuvToRgb_YUY2/1920x1080")
    ->ArgName("kernel")
    ->Apply([](benchmark::internal::Benchmark* b) { KernelArgs(b, {}); })
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// RGB to a YUV layout (saving and recording), beside libyuv's ARGBToI420
// (the 4:2:0 peer for every layout). Arguments: layout, RGB pixel format,
// kernel family (-1 best, 0 the tables alone).
void BM_RgbToYuv(benchmark::State& state) {
  TKernelChoice choice(state.range(2));
  if (!choice.Ok()) {
    state.SkipWithError("kernel family not supported here");
    return;
  }
  TYuv yuv(Layout(state.range(0), YUV_RANGE_16_235_240), 2);
  TRgb rgb(static_cast<TPixelFormat>(state.range(1)));
  if (yuv.f.pBuffer == nullptr || rgb.f.pBuffer == nullptr) {
    state.SkipWithError("allocation failed");
    return;
  }
  TRgb argb(PF_RGB32);
  std::vector<std::uint8_t> peerY(std::size_t{kWidth} * kHeight);
  std::vector<std::uint8_t> peerU(peerY.size() / 4);
  std::vector<std::uint8_t> peerV(peerY.size() / 4);
  RunBeside(
      state, [&] { return ConvertRgbToYuv(rgb.f, yuv.f); },
      [&] {
        libyuv::ARGBToI420(argb.f.pBuffer, kWidth * 4, peerY.data(), kWidth, peerU.data(), kWidth / 2,
                           peerV.data(), kWidth / 2, kWidth, -kHeight);
      });
}
BENCHMARK(BM_RgbToYuv)
    ->Name("color/ConvertRgbToYuv/1920x1080")
    ->ArgNames({"layout", "pf", "kernel"})
    ->Apply([](benchmark::internal::Benchmark* b) {
      KernelArgs(b, {YUV_LAYOUT_420_CENTRED, PF_RGB32});
      b->Args({YUV_LAYOUT_420_COSITED_EVEN, PF_RGB32, -1});
      b->Args({YUV_LAYOUT_420_CENTRED, PF_RGB24, -1});
      b->Args({YUV_LAYOUT_422_CENTRED, PF_RGB32, -1});
      b->Args({YUV_LAYOUT_444, PF_RGB32, -1});
    })
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// 24-bit DIB rows widened to 32 bits, row by row as a media file's frame
// goes into its port, beside libyuv's RGB24ToARGB over the same rows (which
// writes 255 in the fourth byte where ours writes 0).
void BM_WidenBgrRows(benchmark::State& state) {
  TKernelChoice choice(state.range(0));
  if (!choice.Ok()) {
    state.SkipWithError("kernel family not supported here");
    return;
  }
  TRgb bgr(PF_RGB24);
  TRgb bgrx(PF_RGB32);
  std::vector<std::uint8_t> peerOut(std::size_t{kWidth} * kHeight * 4);
  const auto widen = ImageColorConversion::detail::WidenBgrRowKernel();
  RunBeside(
      state,
      [&] {
        for (std::int32_t y = 0; y < kHeight; ++y)
          widen(bgr.f.pBuffer + std::size_t{static_cast<std::uint32_t>(y)} * bgr.f.nStride,
                bgrx.f.pBuffer + std::size_t{static_cast<std::uint32_t>(y)} * bgrx.f.nStride, kWidth);
        return true;
      },
      [&] {
        libyuv::RGB24ToARGB(bgr.f.pBuffer, bgr.f.nStride, peerOut.data(), kWidth * 4, kWidth, kHeight);
      });
}
BENCHMARK(BM_WidenBgrRows)
    ->Name("color/WidenBgrRows/1920x1080")
    ->ArgName("kernel")
    ->Args({-1})
    ->Args({0})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
