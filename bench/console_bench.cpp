// The console window under a flood: 10 MB of lines written to standard
// output by a worker while the console is open and the UI thread runs its
// event loop, beside the same lines written straight to /dev/null.
//
// Counters: "max_stall_ms", the longest the event loop was busy at once
// (taking text into the window); "writer_ms", the worker's time to write
// everything with the console open; "devnull_ms", the same write with
// standard output on /dev/null; "vs_devnull", their ratio. Standard output
// is /dev/null behind the console too, so the console's copy to the
// original descriptor costs what the peer's write costs.

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/console_window.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr std::size_t kTotal = 10u << 20;

// 64 KiB of numbered lines, written again and again.
const std::string& Block() {
  static const std::string block = [] {
    std::string b;
    for (int i = 0; b.size() < (64u << 10); ++i)
      b += "console benchmark line " + std::to_string(i) + " of text\n";
    return b;
  }();
  return block;
}

// Writes kTotal bytes of lines to descriptor 1; the time in milliseconds.
double WriteAll() {
  const auto start = TClock::now();
  const std::string& b = Block();
  std::size_t written = 0;
  while (written < kTotal) {
    const ssize_t n = ::write(1, b.data(), b.size());
    if (n < 0) break;
    written += static_cast<std::size_t>(n);
  }
  return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

// Standard output on /dev/null for the scope (the benchmark's own report
// goes out between iterations).
class TStdoutToNull {
 public:
  TStdoutToNull() {
    std::fflush(stdout);
    m_saved = ::dup(1);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ::dup2(null, 1);
    ::close(null);
  }
  ~TStdoutToNull() {
    std::fflush(stdout);
    ::dup2(m_saved, 1);
    ::close(m_saved);
  }

 private:
  int m_saved = -1;
};

void BM_ConsoleFloodBesideDevNull(benchmark::State& state) {
  double stallMax = 0, writerMs = 0, nullMs = 0;
  std::int64_t n = 0;
  for (auto _ : state) {
    TStdoutToNull toNull;
    nullMs += WriteAll();

    ConsoleWindow::CConsoleWindow console;
    console.show();
    std::string why;
    if (!console.Open(why)) {
      state.SkipWithError(("the console could not be opened: " + why).c_str());
      return;
    }
    std::atomic<bool> done{false};
    double writer = 0;
    std::thread worker([&] {
      writer = WriteAll();
      const char last[] = "the last line\n";
      [[maybe_unused]] const ssize_t w = ::write(1, last, sizeof last - 1);
      done = true;
    });
    // The event loop runs until the last line is in the window (a minute at
    // most); each pass is timed.
    const auto end = TClock::now() + std::chrono::minutes(1);
    double stall = 0;
    while (TClock::now() < end) {
      const auto t0 = TClock::now();
      QApplication::processEvents(QEventLoop::AllEvents);
      stall = std::max(stall, std::chrono::duration<double, std::milli>(TClock::now() - t0).count());
      if (done && console.TextEdit()->document()->lastBlock().previous().text() == "the last line") break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    worker.join();
    console.Close();
    stallMax = std::max(stallMax, stall);
    writerMs += writer;
    ++n;
  }
  state.counters["max_stall_ms"] = stallMax;
  state.counters["writer_ms"] = writerMs / static_cast<double>(n);
  state.counters["devnull_ms"] = nullMs / static_cast<double>(n);
  state.counters["vs_devnull"] = writerMs / nullMs;
  state.SetBytesProcessed(static_cast<std::int64_t>(kTotal) * n);
}
BENCHMARK(BM_ConsoleFloodBesideDevNull)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
