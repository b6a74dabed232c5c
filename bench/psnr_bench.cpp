// PSNR of two 1920x1080 32-bit pictures, beside ffmpeg's psnr filter on the
// same pictures in the same run, and beside the bare reading of both
// pictures from memory (the least any comparison must spend).
//
// ffmpeg is timed as a whole program over N frame pairs (the two raw BGRA
// files looped N times) and over 1 pair; the difference divided by N - 1 is
// its time per pair without start-up. Its "average" for bgra input includes
// the alpha plane, so the value compared is the one rebuilt from its r, g and
// b figures: 10 log10(255^2 / mean(MSE_r, MSE_g, MSE_b)), which is the
// quantity ComputeBitmapPsnr measures (S / (width x height x 3)).
//
//   tools/tovrin.sh bench Psnr

#include <benchmark/benchmark.h>

#include <immintrin.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/run_beside.h"
#include "media/color_kernels.h"
#include "media/dib.h"
#include "platform/paths.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFfmpegFrames = 101;

struct TPictures {
  Dib::TDibPtr a;
  Dib::TDibPtr b;
};

// A picture with gradients and texture, and a second one that differs from
// it by small noise everywhere and larger errors in places (as a coded frame
// would). Fourth bytes are 0 in both.
const TPictures& Pictures() {
  static const TPictures pictures = [] {
    TPictures p;
    p.a = Dib::CreateDibSectionEx(kWidth, kHeight, 32);
    p.b = Dib::CreateDibSectionEx(kWidth, kHeight, 32);
    std::uint32_t s = 12345;
    auto next = [&s] {
      s = s * 1664525u + 1013904223u;
      return s >> 24;
    };
    for (int y = 0; y < kHeight; ++y) {
      std::uint8_t* ra = p.a->RowFromTop(y);
      std::uint8_t* rb = p.b->RowFromTop(y);
      for (int x = 0; x < kWidth; ++x) {
        for (int c = 0; c < 3; ++c) {
          const int v = ((x * (c + 1) + y * (3 - c)) / 7 + static_cast<int>(next() % 16)) & 255;
          int d = static_cast<int>(next() % 7) - 3;
          if ((x / 64 + y / 64) % 11 == 0) d *= 9;
          ra[4 * x + c] = static_cast<std::uint8_t>(v);
          rb[4 * x + c] = static_cast<std::uint8_t>(std::clamp(v + d, 0, 255));
        }
        ra[4 * x + 3] = rb[4 * x + 3] = 0;
      }
    }
    return p;
  }();
  return pictures;
}

struct TFfmpegResult {
  bool ok = false;
  double msPerPair = 0;
  double rgbPsnr = 0;      // from its r, g, b figures
  double averagePsnr = 0;  // its own "average" (with alpha)
  std::string note;
};

bool WriteRaw(const std::filesystem::path& path, const Dib::TDibSection& s) {
  // Raw video is top row first.
  std::ofstream out(path, std::ios::binary);
  for (int y = 0; y < s.Height(); ++y)
    out.write(reinterpret_cast<const char*>(s.RowFromTop(y)), static_cast<std::streamsize>(s.Stride()));
  return static_cast<bool>(out);
}

// Runs ffmpeg over `frames` pairs; returns seconds and its output.
bool RunFfmpeg(const std::filesystem::path& dir, int frames, double& seconds, std::string& output) {
  const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
  const std::string loop = frames > 1 ? " -stream_loop " + std::to_string(frames - 1) : "";
  const std::string input = " -f rawvideo -pix_fmt bgra -s " + size + " -i ";
  const std::string command = "ffmpeg -hide_banner -nostats" + loop + input + "'" + (dir / "a.raw").string() +
                              "'" + loop + input + "'" + (dir / "b.raw").string() +
                              "' -lavfi psnr -f null - 2>&1";
  const auto start = std::chrono::steady_clock::now();
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return false;
  output.clear();
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int status = ::pclose(pipe);
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return status == 0;
}

double Field(const std::string& line, const char* name) {
  const std::size_t at = line.find(name);
  return at == std::string::npos ? NAN : std::strtod(line.c_str() + at + std::strlen(name), nullptr);
}

const TFfmpegResult& Ffmpeg() {
  static const TFfmpegResult result = [] {
    TFfmpegResult r;
    const std::filesystem::path dir = platform::MakeTempFolder("tovrin-psnr-bench-");
    if (dir.empty() || !WriteRaw(dir / "a.raw", *Pictures().a) || !WriteRaw(dir / "b.raw", *Pictures().b)) {
      r.note = "cannot write the raw pictures";
      return r;
    }
    double one = 1e9, many = 1e9;
    std::string output;
    bool ok = true;
    for (int round = 0; round < 3 && ok; ++round) {
      double t = 0;
      ok = RunFfmpeg(dir, 1, t, output);
      one = std::min(one, t);
      ok = ok && RunFfmpeg(dir, kFfmpegFrames, t, output);
      many = std::min(many, t);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    const std::size_t at = output.rfind("PSNR r:");
    if (!ok || at == std::string::npos) {
      r.note = "ffmpeg did not run: " + output.substr(output.size() > 300 ? output.size() - 300 : 0);
      return r;
    }
    const std::size_t frameAt = output.rfind("frame=");
    const long counted =
        frameAt == std::string::npos ? 0 : std::strtol(output.c_str() + frameAt + 6, nullptr, 10);
    if (counted != kFfmpegFrames) {
      r.note =
          "ffmpeg compared " + std::to_string(counted) + " pairs instead of " + std::to_string(kFfmpegFrames);
      return r;
    }
    const std::string line = output.substr(at, output.find('\n', at) - at);
    double mse = 0;
    for (const char* c : {"r:", "g:", "b:"}) mse += 255.0 * 255.0 / std::pow(10.0, Field(line, c) / 10.0);
    r.rgbPsnr = 10.0 * std::log10(255.0 * 255.0 / (mse / 3.0));
    r.averagePsnr = Field(line, "average:");
    r.msPerPair = (many - one) * 1000.0 / (kFfmpegFrames - 1);
    r.ok = std::isfinite(r.rgbPsnr);
    r.note = line;
    return r;
  }();
  return result;
}

void BM_ComputeBitmapPsnr(benchmark::State& state) {
  const TPictures& p = Pictures();
  double psnr = 0;
  int code = 0;
  for (auto _ : state) {
    code = Dib::ComputeBitmapPsnr(*p.a, *p.b, psnr);
    benchmark::DoNotOptimize(psnr);
  }
  if (code != Dib::PSNR_OK) {
    state.SkipWithError("ComputeBitmapPsnr failed");
    return;
  }
  // Our time per pair, measured outside the loop the same way for the label.
  const auto start = std::chrono::steady_clock::now();
  constexpr int kRuns = 20;
  for (int i = 0; i < kRuns; ++i) Dib::ComputeBitmapPsnr(*p.a, *p.b, psnr);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / kRuns;

  const TFfmpegResult& f = Ffmpeg();
  state.counters["ms_per_pair"] = ms;
  state.counters["psnr_dB"] = psnr;
  char label[512];
  if (f.ok) {
    state.counters["ffmpeg_ms_per_pair"] = f.msPerPair;
    state.counters["x_faster"] = f.msPerPair / ms;
    state.counters["diff_dB"] = std::fabs(psnr - f.rgbPsnr);
    std::snprintf(
        label, sizeof label,
        "ours %.3f ms, ffmpeg %.3f ms per pair (%.1fx); PSNR ours %.9f dB, ffmpeg %.6f dB, diff %.1e", ms,
        f.msPerPair, f.msPerPair / ms, psnr, f.rgbPsnr, std::fabs(psnr - f.rgbPsnr));
  } else {
    std::snprintf(label, sizeof label, "ours %.3f ms per pair, PSNR %.9f dB; ffmpeg: %s", ms, psnr,
                  f.note.c_str());
  }
  state.SetLabel(label);
}
BENCHMARK(BM_ComputeBitmapPsnr)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// From memory: the comparison beside a pass that only reads both pictures.

using ImageColorConversion::detail::TColorKernel;

const char* KernelName(TColorKernel kernel) {
  switch (kernel) {
    case TColorKernel::Scalar: return "SSE2";
    case TColorKernel::Avx2: return "AVX2";
    case TColorKernel::Avx512: return "AVX-512";
    case TColorKernel::Avx512Vbmi: return "AVX-512";
  }
  return "?";
}

// Scoped choice of kernel family (-1: the best the processor offers); Ok()
// is false when the processor lacks it.
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

// Reads n bytes (a multiple of 128) of a and of b, 64 bytes a load, and
// folds them into one value so that no load can be left out. (GCC 12's
// reduction intrinsic reads a register it leaves unset on purpose.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
__attribute__((target("avx512f"))) std::uint64_t ReadBothAvx512(const std::uint8_t* a, const std::uint8_t* b,
                                                                std::size_t n) {
  __m512i x0 = _mm512_setzero_si512();
  __m512i x1 = _mm512_setzero_si512();
  for (std::size_t i = 0; i < n; i += 128) {
    x0 = _mm512_or_si512(x0, _mm512_or_si512(_mm512_loadu_si512(a + i), _mm512_loadu_si512(b + i)));
    x1 = _mm512_or_si512(x1, _mm512_or_si512(_mm512_loadu_si512(a + i + 64), _mm512_loadu_si512(b + i + 64)));
  }
  return static_cast<std::uint64_t>(_mm512_reduce_or_epi64(_mm512_or_si512(x0, x1)));
}
#pragma GCC diagnostic pop

__attribute__((target("avx2"))) std::uint64_t ReadBothAvx2(const std::uint8_t* a, const std::uint8_t* b,
                                                           std::size_t n) {
  __m256i x0 = _mm256_setzero_si256();
  __m256i x1 = _mm256_setzero_si256();
  for (std::size_t i = 0; i < n; i += 64) {
    x0 = _mm256_or_si256(x0, _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i)),
                                             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i))));
    x1 = _mm256_or_si256(x1,
                         _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i + 32)),
                                         _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i + 32))));
  }
  const __m256i x = _mm256_or_si256(x0, x1);
  return static_cast<std::uint64_t>(_mm256_extract_epi64(x, 0) | _mm256_extract_epi64(x, 1) |
                                    _mm256_extract_epi64(x, 2) | _mm256_extract_epi64(x, 3));
}

bool HasAvx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") != 0;
}

// Enough copies of the pair that each pass finds its pictures out of every
// cache: 8 pairs, 133 MB, four times the largest last-level caches of the
// machines this runs on.
constexpr int kMemoryPairs = 8;

const std::vector<TPictures>& MemoryPairs() {
  static const std::vector<TPictures> pairs = [] {
    std::vector<TPictures> v(kMemoryPairs);
    for (TPictures& p : v) {
      p.a = std::make_unique<Dib::TDibSection>(*Pictures().a);
      p.b = std::make_unique<Dib::TDibSection>(*Pictures().b);
    }
    return v;
  }();
  return pairs;
}

// ComputeBitmapPsnr of a pair read from memory beside reading another pair
// from memory, in alternating order (bench_support::RunBeside). Argument:
// kernel family (-1 the best, 0 SSE2, 1 AVX2, 2 AVX-512).
void BM_PsnrFromMemory(benchmark::State& state) {
  TKernelChoice choice(state.range(0));
  if (!choice.Ok()) {
    state.SkipWithError("kernel family not supported here");
    return;
  }
  const std::vector<TPictures>& pairs = MemoryPairs();
  const bool wide = HasAvx512();
  // The reading starts at the first cache line of each picture (the heap
  // places them 16 bytes into a line, and 64-byte loads across two lines are
  // slower): the least any comparison must spend.
  const auto lineStart = [](const std::uint8_t* p) {
    return (64 - (reinterpret_cast<std::uintptr_t>(p) & 63)) % 64;
  };
  const std::size_t skip = std::max(lineStart(pairs[0].a->bits.data()), lineStart(pairs[0].b->bits.data()));
  const std::size_t bytes = (pairs[0].a->bits.size() - skip) & ~std::size_t{127};
  std::size_t ourTurn = 0;
  std::size_t peerTurn = kMemoryPairs / 2;
  double psnr = 0;
  bench_support::RunBeside(
      state,
      [&] {
        const TPictures& p = pairs[ourTurn++ % kMemoryPairs];
        return Dib::ComputeBitmapPsnr(*p.a, *p.b, psnr) == Dib::PSNR_OK;
      },
      [&] {
        const TPictures& p = pairs[peerTurn++ % kMemoryPairs];
        const std::uint8_t* a = p.a->bits.data() + lineStart(p.a->bits.data());
        const std::uint8_t* b = p.b->bits.data() + lineStart(p.b->bits.data());
        benchmark::DoNotOptimize(wide ? ReadBothAvx512(a, b, bytes) : ReadBothAvx2(a, b, bytes));
      },
      "read", "ComputeBitmapPsnr failed");
  state.counters["psnr_dB"] = psnr;
  state.SetLabel(std::string("ours ") + KernelName(ImageColorConversion::detail::GetColorKernel()) +
                 ", read " + (wide ? "AVX-512" : "AVX2") + "; vs_read = ours / reading both pictures");
}
BENCHMARK(BM_PsnrFromMemory)
    ->ArgName("kernel")
    ->Arg(-1)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const TFfmpegResult& f = Ffmpeg();
  if (f.ok) {
    std::printf("ffmpeg: %s\n", f.note.c_str());
    std::printf(
        "ffmpeg's \"average\" for bgra counts the alpha plane (%.6f dB here); the value compared is "
        "10 log10(255^2 / mean(MSE_r, MSE_g, MSE_b)) = %.6f dB, the mean squared error over red, green "
        "and blue that ComputeBitmapPsnr uses.\n",
        f.averagePsnr, f.rgbPsnr);
    std::printf("ffmpeg time per pair = (time of %d pairs - time of 1 pair) / %d.\n", kFfmpegFrames,
                kFfmpegFrames - 1);
  } else {
    std::printf("ffmpeg comparison unavailable: %s\n", f.note.c_str());
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
