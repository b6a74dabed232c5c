// Ring queue throughput: single-thread push/release in the sizes the frame
// pipeline and the decoded-picture buffer use, the owners' in-place fill and
// bulk commit, and a producer/consumer pair that serialises every access
// with one lock, as the queue's owners do.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "media/ring_queue.h"

namespace {

// A record of the size of the frame pipeline's scene entries (48 bytes).
struct TSceneLike {
  std::int32_t nWords[12] = {};
};

// Push one element, release one: the steady state of a queue that keeps up.
void BM_PushRelease(benchmark::State& state) {
  Collections::CRingQueueArray<TSceneLike> q;
  q.Allocate(static_cast<std::int32_t>(state.range(0)));
  TSceneLike item;
  for (auto _ : state) {
    item.nWords[0]++;
    benchmark::DoNotOptimize(q.Push(item));
    q.Release(1);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PushRelease)->Arg(90)->Arg(100)->Arg(1000);

// Push into a full queue: every push drops the oldest element.
void BM_PushOverflow(benchmark::State& state) {
  Collections::CRingQueueArray<TSceneLike> q;
  q.Allocate(static_cast<std::int32_t>(state.range(0)));
  TSceneLike item;
  for (std::int64_t i = 0; i <= state.range(0); ++i) q.Push(item);
  for (auto _ : state) {
    item.nWords[0]++;
    benchmark::DoNotOptimize(q.Push(item));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PushOverflow)->Arg(100);

// The owners' bulk pattern: fill a scene's frame slots in place, commit them
// with Advance, read them back through Peek, release them in one step.
void BM_FillAdvanceRelease(benchmark::State& state) {
  const auto frames = static_cast<std::int32_t>(state.range(0));
  Collections::CRingQueueArray<TSceneLike> q;
  q.Allocate(90);
  std::int64_t sum = 0;
  for (auto _ : state) {
    const std::int32_t first = q.GetWriteIndex();
    for (std::int32_t k = 0; k < frames; ++k) q.SlotAt(q.Step(first, k))->nWords[0] = k;
    q.Advance(frames);
    for (std::int32_t k = 0; k < frames; ++k) sum += q.Peek(k)->nWords[0];
    q.Release(frames);
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * frames);
}
BENCHMARK(BM_FillAdvanceRelease)->Arg(1)->Arg(30);

// One producer thread and the benchmark thread as consumer, each access under
// the owner's lock; the producer waits while the queue is full instead of
// dropping, as the frame pipeline's writers do.
void BM_ProducerConsumerLocked(benchmark::State& state) {
  Collections::CRingQueueArray<TSceneLike> q;
  q.Allocate(static_cast<std::int32_t>(state.range(0)));
  std::mutex lock;
  std::atomic<bool> stop{false};
  std::thread producer([&] {
    TSceneLike item;
    while (!stop.load(std::memory_order_relaxed)) {
      std::lock_guard<std::mutex> guard(lock);
      if (!q.IsFull()) {
        item.nWords[0]++;
        q.Push(item);
      }
    }
  });
  std::int64_t taken = 0;
  std::int64_t sum = 0;
  for (auto _ : state) {
    std::lock_guard<std::mutex> guard(lock);
    if (const TSceneLike* oldest = q.Peek(0)) {
      sum += oldest->nWords[0];
      q.Release(1);
      ++taken;
    }
  }
  stop = true;
  producer.join();
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(taken);
}
BENCHMARK(BM_ProducerConsumerLocked)->Arg(100)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
