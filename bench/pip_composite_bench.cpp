// The picture-in-picture composite of a recorded frame: a 1920x1080 main
// picture with another channel's 1920x1080 picture scaled into a 480x270
// inset, in the fast (nearest) and smooth (area) modes, beside libyuv doing
// the same job in the same run: a memcpy of the main picture plus ARGBScale
// of the inset (kFilterNone, kFilterBox).
//
// Counters: ms_per_frame (ours), peer_ms (memcpy + ARGBScale), vs_peer =
// ours / peer's.
//
//   tools/tovrin.sh bench PipComposite

#include <benchmark/benchmark.h>

#include <libyuv.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "bench/run_beside.h"
#include "media/dib.h"
#include "media/pip_composite.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kInsetWidth = 480;
constexpr int kInsetHeight = 270;

Dib::TDibSection MakePicture(unsigned seed) {
  Dib::TDibSection s;
  s.header.biWidth = kWidth;
  s.header.biHeight = kHeight;
  s.header.biBitCount = 32;
  s.bits.resize(s.Stride() * kHeight);
  std::uint32_t state = seed;
  for (int y = 0; y < kHeight; ++y) {
    std::uint8_t* row = s.RowFromTop(y);
    for (int x = 0; x < kWidth; ++x) {
      state = state * 1664525u + 1013904223u;
      row[4 * x + 0] = static_cast<std::uint8_t>((x + (state >> 28)) & 255);
      row[4 * x + 1] = static_cast<std::uint8_t>((y + x / 3) & 255);
      row[4 * x + 2] = static_cast<std::uint8_t>(((x ^ y) + (state >> 26)) & 255);
      row[4 * x + 3] = 0;
    }
  }
  return s;
}
void RunBeside(benchmark::State& state, const std::function<bool()>& ours,
               const std::function<void()>& peer) {
  bench_support::RunBeside(state, ours, peer, "peer", "composite refused");
}

void BM_PipComposite(benchmark::State& state) {
  const bool area = state.range(0) != 0;
  static const Dib::TDibSection main = MakePicture(1);
  static const Dib::TDibSection inset = MakePicture(2);
  Dib::TDibSection composite;
  const PipComposite::TPipRect to{1400, 780, kInsetWidth, kInsetHeight};
  const PipComposite::TStretchMode mode = area ? PipComposite::STRETCH_AREA : PipComposite::STRETCH_NEAREST;
  // The peer's buffers, made once as ours are after the first frame.
  std::vector<std::uint8_t> peerMain(main.bits.size());
  std::vector<std::uint8_t> peerInset(static_cast<std::size_t>(kInsetWidth) * kInsetHeight * 4);
  // Both top-down in memory for libyuv; our pictures are bottom-up, which
  // changes nothing for a scale of the whole picture.
  const libyuv::FilterMode filter = area ? libyuv::kFilterBox : libyuv::kFilterNone;
  RunBeside(
      state, [&] { return PipComposite::BuildPipComposite(main, inset, to, nullptr, mode, composite); },
      [&] {
        std::memcpy(peerMain.data(), main.bits.data(), main.bits.size());
        libyuv::ARGBScale(inset.bits.data(), kWidth * 4, kWidth, kHeight, peerInset.data(), kInsetWidth * 4,
                          kInsetWidth, kInsetHeight, filter);
      });
}
BENCHMARK(BM_PipComposite)->Arg(0)->Arg(1)->ArgName("area")->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
