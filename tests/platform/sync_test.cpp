#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using platform::WaitResult;

namespace {

// Waits until `count` threads are blocked inside Wait(): a pulse before that
// point would (correctly) be lost.
template <class Pred>
void SpinUntil(Pred pred) {
  for (int i = 0; i < 10000 && !pred(); ++i) std::this_thread::sleep_for(1ms);
}

}  // namespace

TEST(PulseEvent, PulseWithoutWaiterIsNotRemembered) {
  platform::TPulseEvent ev;
  ev.Pulse();
  EXPECT_EQ(ev.Wait(20ms), WaitResult::Timeout);
}

TEST(PulseEvent, PulseWakesEveryCurrentWaiter) {
  platform::TPulseEvent ev;
  std::atomic<int> entered{0}, woken{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      ++entered;
      if (ev.Wait(10s) == WaitResult::Signalled) ++woken;
    });
  SpinUntil([&] { return entered == 4; });
  // Keep pulsing until all have been woken: a thread counted as entered may
  // not yet be inside Wait(), and such a thread must see a later pulse.
  for (int i = 0; i < 10000 && woken < 4; ++i) {
    ev.Pulse();
    std::this_thread::sleep_for(1ms);
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(woken, 4);
}

TEST(PulseEvent, StopBeforeWaitEndsTheWaitAtOnce) {
  platform::TPulseEvent ev;
  ev.RequestStop();
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(ev.Wait(10s), WaitResult::Stopped);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
  ev.ClearStop();
  EXPECT_EQ(ev.Wait(5ms), WaitResult::Timeout);
}

TEST(PulseEvent, StopDuringWaitWakesWaiter) {
  platform::TPulseEvent ev;
  std::atomic<bool> entered{false};
  WaitResult result = WaitResult::Timeout;
  std::thread t([&] {
    entered = true;
    result = ev.Wait(30s);
  });
  SpinUntil([&] { return entered.load(); });
  ev.RequestStop();
  t.join();
  EXPECT_EQ(result, WaitResult::Stopped);
}

TEST(AutoResetEvent, OneSetReleasesExactlyOneWait) {
  platform::TAutoResetEvent ev;
  ev.Set();  // remembered until a waiter takes it
  EXPECT_EQ(ev.Wait(0ms), WaitResult::Signalled);
  EXPECT_EQ(ev.Wait(10ms), WaitResult::Timeout);
}

TEST(AutoResetEvent, SetWakesOneOfTwoWaiters) {
  platform::TAutoResetEvent ev;
  std::atomic<int> woken{0};
  auto waiter = [&] {
    if (ev.Wait(300ms) == WaitResult::Signalled) ++woken;
  };
  std::thread a(waiter), b(waiter);
  ev.Set();
  a.join();
  b.join();
  EXPECT_EQ(woken, 1);
}

TEST(ManualResetEvent, StaysSetForEveryWaiterUntilReset) {
  platform::TManualResetEvent ev;
  ev.Set();
  EXPECT_EQ(ev.Wait(0ms), WaitResult::Signalled);
  EXPECT_EQ(ev.Wait(0ms), WaitResult::Signalled);
  ev.Reset();
  EXPECT_EQ(ev.Wait(5ms), WaitResult::Timeout);
  ev.RequestStop();
  EXPECT_EQ(ev.Wait(10s), WaitResult::Stopped);
}
