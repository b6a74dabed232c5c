#pragma once
// The program's one warning sound: a refused key, a link that cannot be
// opened, a message box. It plays the system's beep unless a replacement is
// installed (tests count the beeps instead of hearing them).

#include <functional>

namespace platform::qt {

using TBeepFn = std::function<void()>;

// Plays the warning sound (the installed replacement, else the system's).
void Beep();

// Installs `fn` in place of the system's beep (empty: the system's again)
// and returns the one it replaces. UI thread only.
TBeepFn SetBeep(TBeepFn fn);

// Counts the beeps while it lives instead of playing them; the previous
// sound comes back when it goes.
class TBeepCounter {
 public:
  TBeepCounter();
  ~TBeepCounter();
  TBeepCounter(const TBeepCounter&) = delete;
  TBeepCounter& operator=(const TBeepCounter&) = delete;

  int Count() const { return m_count; }
  void Reset() { m_count = 0; }

 private:
  int m_count = 0;
  TBeepFn m_previous;
};

}  // namespace platform::qt
