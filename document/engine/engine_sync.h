#pragma once
// The engine's two waiting primitives.
//
// TChannelGate: a producer waits at its frame limit until the gate is
// pulsed (resume, stop). A pulse wakes the threads waiting at that moment
// only. A stop is sticky: it ends every current wait and every wait that
// begins after it, until ClearStop. Waiters() tells how many threads wait.
//
// TStopClock: sleeps of a worker that end early when the session's stop is
// requested (also a stop requested before the sleep began).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace Zarn {

class TChannelGate {
 public:
  // True when pulsed, false when ended by a stop.
  bool Wait() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    if (m_bStop) return false;
    const std::uint64_t generation = m_nGeneration;
    ++m_nWaiters;
    m_Changed.wait(lock, [&] { return m_bStop || m_nGeneration != generation; });
    --m_nWaiters;
    return !m_bStop;
  }
  void Pulse() {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      if (m_nWaiters == 0) return;
      ++m_nGeneration;
    }
    m_Changed.notify_all();
  }
  void RequestStop() {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_bStop = true;
    }
    m_Changed.notify_all();
  }
  void ClearStop() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_bStop = false;
  }
  int Waiters() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_nWaiters;
  }

 private:
  mutable std::mutex m_Mutex;
  std::condition_variable m_Changed;
  std::uint64_t m_nGeneration = 0;
  int m_nWaiters = 0;
  bool m_bStop = false;
};

class TStopClock {
 public:
  // Sleeps `ms` milliseconds; returns early (false) once a stop is requested.
  bool SleepFor(std::int32_t ms) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    if (ms <= 0) return !m_bStop;
    return !m_Changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_bStop; });
  }
  void RequestStop() {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_bStop = true;
    }
    m_Changed.notify_all();
  }
  void ClearStop() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_bStop = false;
  }

 private:
  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  bool m_bStop = false;
};

}  // namespace Zarn
