#include "platform/sync.h"

namespace platform {
namespace {

template <class Lock, class Pred>
WaitResult WaitFor(std::condition_variable& cv, Lock& lock, std::chrono::milliseconds timeout, Pred ready,
                   const bool& stop) {
  auto done = [&] { return stop || ready(); };
  if (timeout < std::chrono::milliseconds::zero()) {
    cv.wait(lock, done);
  } else if (!cv.wait_for(lock, timeout, done)) {
    return WaitResult::Timeout;
  }
  return stop ? WaitResult::Stopped : WaitResult::Signalled;
}

// Counts a thread as waiting for as long as it is inside a wait.
class TWaiterScope {
 public:
  explicit TWaiterScope(int& count) : m_count(count) { ++m_count; }
  ~TWaiterScope() { --m_count; }
  TWaiterScope(const TWaiterScope&) = delete;
  TWaiterScope& operator=(const TWaiterScope&) = delete;

 private:
  int& m_count;
};

}  // namespace

void TPulseEvent::Pulse() {
  {
    std::lock_guard lock(m_mutex);
    ++m_generation;
  }
  m_cv.notify_all();
}

WaitResult TPulseEvent::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_mutex);
  if (m_stop) return WaitResult::Stopped;
  const std::uint64_t seen = m_generation;
  TWaiterScope waiting(m_waiters);
  return WaitFor(
      m_cv, lock, timeout, [&] { return m_generation != seen; }, m_stop);
}

void TPulseEvent::RequestStop() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_cv.notify_all();
}

void TPulseEvent::ClearStop() {
  std::lock_guard lock(m_mutex);
  m_stop = false;
}

bool TPulseEvent::StopRequested() const {
  std::lock_guard lock(m_mutex);
  return m_stop;
}

int TPulseEvent::WaiterCount() const {
  std::lock_guard lock(m_mutex);
  return m_waiters;
}

void TManualResetEvent::Set() {
  {
    std::lock_guard lock(m_mutex);
    m_set = true;
  }
  m_cv.notify_all();
}

void TManualResetEvent::Reset() {
  std::lock_guard lock(m_mutex);
  m_set = false;
}

bool TManualResetEvent::IsSet() const {
  std::lock_guard lock(m_mutex);
  return m_set;
}

WaitResult TManualResetEvent::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_mutex);
  if (m_stop) return WaitResult::Stopped;
  return WaitFor(
      m_cv, lock, timeout, [&] { return m_set; }, m_stop);
}

void TManualResetEvent::RequestStop() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_cv.notify_all();
}

void TManualResetEvent::ClearStop() {
  std::lock_guard lock(m_mutex);
  m_stop = false;
}

void TAutoResetEvent::Set() {
  {
    std::lock_guard lock(m_mutex);
    m_set = true;
  }
  m_cv.notify_one();
}

void TAutoResetEvent::Reset() {
  std::lock_guard lock(m_mutex);
  m_set = false;
}

WaitResult TAutoResetEvent::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_mutex);
  if (m_stop) return WaitResult::Stopped;
  TWaiterScope waiting(m_waiters);
  WaitResult r = WaitFor(
      m_cv, lock, timeout, [&] { return m_set; }, m_stop);
  if (r == WaitResult::Signalled) m_set = false;
  return r;
}

void TAutoResetEvent::RequestStop() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_cv.notify_all();
}

void TAutoResetEvent::ClearStop() {
  std::lock_guard lock(m_mutex);
  m_stop = false;
}

int TAutoResetEvent::WaiterCount() const {
  std::lock_guard lock(m_mutex);
  return m_waiters;
}

}  // namespace platform
