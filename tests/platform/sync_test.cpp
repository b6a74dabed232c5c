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

// Waits until pred() holds or the time is up; the answer is pred().
template <class Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
  return pred();
}

const char* Name(WaitResult r) {
  switch (r) {
    case WaitResult::Signalled: return "Signalled";
    case WaitResult::Timeout: return "Timeout";
    case WaitResult::Stopped: return "Stopped";
  }
  return "?";
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

// One pulse, not many: every thread blocked at that moment must wake from
// it. Waiters the pulse missed are released afterwards by a stop, so they
// end as Stopped and the test fails instead of hanging.
TEST(PulseEvent, OnePulseWakesEveryBlockedWaiter) {
  constexpr int kWaiters = 4;
  platform::TPulseEvent ev;
  std::atomic<int> finished{0};
  std::vector<WaitResult> results(kWaiters, WaitResult::Timeout);
  std::vector<std::thread> threads;
  for (int i = 0; i < kWaiters; ++i)
    threads.emplace_back([&, i] {
      results[static_cast<std::size_t>(i)] = ev.Wait();
      ++finished;
    });
  const bool allBlocked = WaitUntil([&] { return ev.WaiterCount() == kWaiters; }, 10s);
  ev.Pulse();
  const bool allWoken = WaitUntil([&] { return finished == kWaiters; }, 5s);
  ev.RequestStop();  // releases any waiter the pulse missed
  for (auto& t : threads) t.join();
  ASSERT_TRUE(allBlocked);
  EXPECT_TRUE(allWoken);
  EXPECT_EQ(ev.WaiterCount(), 0);
  for (int i = 0; i < kWaiters; ++i)
    EXPECT_EQ(results[static_cast<std::size_t>(i)], WaitResult::Signalled)
        << "waiter " << i << " ended " << Name(results[static_cast<std::size_t>(i)]);
}

// Pulses and waits racing from several threads; under ThreadSanitizer this
// shows any state touched outside the event's lock.
TEST(PulseEvent, PulsesFromSeveralThreadsWakeWaitersAndAStopEndsThemAll) {
  platform::TPulseEvent ev;
  std::atomic<bool> pulsing{true};
  std::atomic<int> signalled{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] {
      for (;;) {
        const WaitResult r = ev.Wait(50ms);
        if (r == WaitResult::Stopped) return;
        if (r == WaitResult::Signalled) ++signalled;
      }
    });
  std::vector<std::thread> pulsers;
  for (int i = 0; i < 2; ++i)
    pulsers.emplace_back([&] {
      while (pulsing) {
        ev.Pulse();
        std::this_thread::yield();
      }
    });
  const bool someWoken = WaitUntil([&] { return signalled >= 30; }, 10s);
  pulsing = false;
  for (auto& t : pulsers) t.join();
  ev.RequestStop();
  for (auto& t : waiters) t.join();
  EXPECT_TRUE(someWoken);
  EXPECT_TRUE(ev.StopRequested());
  EXPECT_EQ(ev.WaiterCount(), 0);
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

// A stop stays until ClearStop(): every later wait ends Stopped at once,
// whether or not the event is set, and a stopped wait does not take the set.
TEST(AutoResetEvent, StopIsStickyAndDoesNotConsumeTheSet) {
  platform::TAutoResetEvent ev;
  ev.RequestStop();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ev.Wait(0ms), WaitResult::Stopped) << "wait " << i;
  ev.Set();
  EXPECT_EQ(ev.Wait(0ms), WaitResult::Stopped);
  WaitResult late = WaitResult::Timeout;
  const auto t0 = std::chrono::steady_clock::now();
  std::thread t([&] { late = ev.Wait(20s); });  // begins waiting after the stop
  t.join();
  EXPECT_EQ(late, WaitResult::Stopped);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 10s);
  EXPECT_EQ(ev.Wait(0ms), WaitResult::Stopped);

  ev.ClearStop();
  EXPECT_EQ(ev.Wait(0ms), WaitResult::Signalled);  // the set made while stopped
  EXPECT_EQ(ev.Wait(0ms), WaitResult::Timeout);
}

// A stop reaches every blocked waiter, not only one of them as a set does.
TEST(AutoResetEvent, StopWakesEveryBlockedWaiter) {
  constexpr int kWaiters = 3;
  platform::TAutoResetEvent ev;
  std::vector<WaitResult> results(kWaiters, WaitResult::Timeout);
  std::vector<std::chrono::steady_clock::duration> took(kWaiters);
  std::vector<std::thread> threads;
  for (int i = 0; i < kWaiters; ++i)
    threads.emplace_back([&, i] {
      const auto t0 = std::chrono::steady_clock::now();
      results[static_cast<std::size_t>(i)] = ev.Wait(20s);
      took[static_cast<std::size_t>(i)] = std::chrono::steady_clock::now() - t0;
    });
  const bool allBlocked = WaitUntil([&] { return ev.WaiterCount() == kWaiters; }, 10s);
  ev.RequestStop();
  for (auto& t : threads) t.join();
  ASSERT_TRUE(allBlocked);
  for (int i = 0; i < kWaiters; ++i) {
    EXPECT_EQ(results[static_cast<std::size_t>(i)], WaitResult::Stopped) << "waiter " << i;
    // Woken by the stop, not by the end of its 20 s.
    EXPECT_LT(took[static_cast<std::size_t>(i)], 10s) << "waiter " << i;
  }
}

TEST(ManualResetEvent, StopIsStickyUntilCleared) {
  platform::TManualResetEvent ev(true);
  ev.RequestStop();
  EXPECT_EQ(ev.Wait(0ms), WaitResult::Stopped);
  EXPECT_EQ(ev.Wait(0ms), WaitResult::Stopped);
  EXPECT_TRUE(ev.IsSet());
  ev.ClearStop();
  EXPECT_EQ(ev.Wait(0ms), WaitResult::Signalled);
}

TEST(ManualResetEvent, SetReleasesEveryBlockedWaiter) {
  constexpr int kWaiters = 3;
  platform::TManualResetEvent ev;
  std::atomic<int> started{0};
  std::vector<WaitResult> results(kWaiters, WaitResult::Timeout);
  std::vector<std::thread> threads;
  for (int i = 0; i < kWaiters; ++i)
    threads.emplace_back([&, i] {
      ++started;
      results[static_cast<std::size_t>(i)] = ev.Wait(20s);
    });
  SpinUntil([&] { return started == kWaiters; });
  ev.Set();
  for (auto& t : threads) t.join();
  for (int i = 0; i < kWaiters; ++i)
    EXPECT_EQ(results[static_cast<std::size_t>(i)], WaitResult::Signalled) << "waiter " << i;
}
