#pragma once
// Ours beside a peer in one benchmark: each iteration runs both once, in
// alternating order so that neither always finds the caches warm; the
// iteration's time is ours alone, and the counters give both means and
// their ratio ("<peer>_ms", "vs_<peer>").

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace bench_support {

// `ours` answers false when it refused its work; the benchmark then ends
// with `refusal` as its error.
inline void RunBeside(benchmark::State& state, const std::function<bool()>& ours,
                      const std::function<void()>& peer, const std::string& peerName, const char* refusal) {
  using TClock = std::chrono::steady_clock;
  double oursMs = 0;
  double peerMs = 0;
  std::int64_t n = 0;
  const auto timed = [](const auto& f) {
    const auto start = TClock::now();
    f();
    benchmark::ClobberMemory();
    return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
  };
  for (auto _ : state) {
    bool ok = true;
    double mine = 0;
    if (n % 2 == 0) {
      peerMs += timed(peer);
      mine = timed([&] { ok = ours(); });
    } else {
      mine = timed([&] { ok = ours(); });
      peerMs += timed(peer);
    }
    if (!ok) {
      state.SkipWithError(refusal);
      return;
    }
    oursMs += mine;
    state.SetIterationTime(mine * 1e-3);
    ++n;
  }
  if (n > 0) {
    state.counters["ms_per_frame"] = oursMs / static_cast<double>(n);
    state.counters[peerName + "_ms"] = peerMs / static_cast<double>(n);
    state.counters["vs_" + peerName] = oursMs / peerMs;
  }
}

}  // namespace bench_support
