// The frame pipeline: one PushFrame and one PullFrame of a 1920x1080 32-bit
// RGB frame per iteration, beside a memcpy of the same frame in the same run
// (counters: ms_per_frame, memcpy_ms, vs_memcpy = ours / memcpy's). The
// queue is set up as a recorder sets it up (100 scenes, 90 frame slots,
// 30 frames a scene); the reader keeps up, so no frame is dropped. Every
// heap allocation made while the loop runs is counted (allocs_per_frame):
// the pipeline makes none.
//
// A second benchmark passes tiny frames to show the protocol's own cost.
//
//   tools/tovrin.sh bench PushPull

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "bench/run_beside.h"
#include "io/media_request.h"
#include "media/frame_processor.h"

// Every operator new of the program is counted. The blocks come from
// malloc and go back to free through functions the compiler does not see
// into, so that it never pairs a new with a free.
namespace {
std::atomic<std::uint64_t> g_nAllocations{0};
[[gnu::noinline]] void* CountedAlloc(std::size_t n) noexcept {
  g_nAllocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(n == 0 ? 1 : n);
}
[[gnu::noinline]] void CountedFree(void* p) noexcept { std::free(p); }
}  // namespace

void* operator new(std::size_t n) {
  if (void* p = CountedAlloc(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return CountedAlloc(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return CountedAlloc(n); }
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedFree(p); }

namespace {

using namespace ZarnTypes;
using FrameProcessor::CFrameProcessor;
using FrameRingQueue::TFrameReadout;

void FillPattern(std::vector<std::uint8_t>& bytes) {
  std::uint32_t s = 12345;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    s = s * 1664525u + 1013904223u;
    bytes[i] = static_cast<std::uint8_t>((i * 7 / 5) + (s >> 27));
  }
}

// Push and pull frames of width x height 32-bit RGB, beside a memcpy.
void PushPull(benchmark::State& state, std::int32_t width, std::int32_t height) {
  const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
  std::vector<std::uint8_t> source(bytes);
  std::vector<std::uint8_t> copy(bytes);
  FillPattern(source);
  CFrameProcessor processor;
  if (!processor.SetFrameFormat(width, height, PF_RGB32) || !processor.AllocateBuffers(100, 90) ||
      !processor.Start(1, 41, nullptr)) {
    state.SkipWithError("the frame processor could not be set up");
    return;
  }
  TMediaFrameNotice notice{};
  notice.ePixelFormat = PF_RGB32;
  notice.nWidth = width;
  notice.nHeight = height;
  notice.pRgbData = source.data();
  notice.nRgbSize = static_cast<std::int32_t>(bytes);
  TFrameReadout out;
  std::int64_t number = 0;
  const auto ours = [&] {
    notice.nFrameNumber = number;
    notice.dTime = static_cast<double>(number++) / 30.0;
    if (!processor.PushFrame(1, 41, notice) || !processor.PullFrame(1, out)) return false;
    benchmark::DoNotOptimize(out.pData);
    return true;
  };
  // Every slot touched once before timing, so that first-touch page faults
  // are not counted.
  for (int i = 0; i < 200; ++i) {
    if (!ours()) {
      state.SkipWithError("a frame was refused while warming up");
      return;
    }
  }
  const std::uint64_t allocationsBefore = g_nAllocations.load();
  bench_support::RunBeside(
      state, ours,
      [&] {
        std::memcpy(copy.data(), source.data(), bytes);
        benchmark::DoNotOptimize(copy.data());
      },
      "memcpy", "a frame was refused");
  const std::uint64_t allocations = g_nAllocations.load() - allocationsBefore;
  // The runner's own bookkeeping allocates a few times per run, not per frame.
  state.counters["allocs_per_frame"] =
      static_cast<double>(allocations) / static_cast<double>(std::max<std::int64_t>(1, state.iterations()));
  state.counters["dropped"] = processor.GetFramesSkipped();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
  processor.RequestStop();
  processor.FreeBuffers();
}

void BM_PushPull1080pRgb32(benchmark::State& state) { PushPull(state, 1920, 1080); }
BENCHMARK(BM_PushPull1080pRgb32)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_PushPullTinyFrame(benchmark::State& state) { PushPull(state, 4, 2); }
BENCHMARK(BM_PushPullTinyFrame)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
