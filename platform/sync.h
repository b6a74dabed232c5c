#pragma once
// Thread synchronisation for workers: events with the pulse, manual-reset and
// auto-reset behaviours the engine relies on, and a recursive lock.
//
// Every event carries a sticky stop request. Once RequestStop() has been
// called, every current and future Wait() returns Stopped at once, so a stop
// that arrives before a thread begins to wait can never be lost.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

enum class WaitResult { Signalled, Timeout, Stopped };

inline constexpr std::chrono::milliseconds kInfinite{-1};

// Wakes only the threads that are waiting at the moment of Pulse(); a pulse
// with no waiter is not remembered.
class TPulseEvent {
 public:
  void Pulse();
  WaitResult Wait(std::chrono::milliseconds timeout = kInfinite);
  void RequestStop();
  void ClearStop();
  bool StopRequested() const;
  // Threads blocked in Wait() right now: a pulse reaches exactly these.
  int WaiterCount() const;

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  std::uint64_t m_generation = 0;
  int m_waiters = 0;
  bool m_stop = false;
};

// Stays signalled until Reset(); wakes every waiter.
class TManualResetEvent {
 public:
  explicit TManualResetEvent(bool initiallySet = false) : m_set(initiallySet) {}
  void Set();
  void Reset();
  bool IsSet() const;
  WaitResult Wait(std::chrono::milliseconds timeout = kInfinite);
  void RequestStop();
  void ClearStop();

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_set;
  bool m_stop = false;
};

// A Set() releases exactly one waiter (now or later) and then clears itself.
class TAutoResetEvent {
 public:
  explicit TAutoResetEvent(bool initiallySet = false) : m_set(initiallySet) {}
  void Set();
  void Reset();
  WaitResult Wait(std::chrono::milliseconds timeout = kInfinite);
  void RequestStop();
  void ClearStop();
  // Threads blocked in Wait() right now.
  int WaiterCount() const;

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_set;
  int m_waiters = 0;
  bool m_stop = false;
};

// Re-entrant lock with the semantics of a critical section.
using TCriticalSection = std::recursive_mutex;
using TLockGuard = std::lock_guard<std::recursive_mutex>;

}  // namespace platform
