#include "platform/qt/beep.h"

#include <QApplication>

#include <utility>

namespace platform::qt {

namespace {

TBeepFn& Installed() {
  static TBeepFn fn;
  return fn;
}

}  // namespace

void Beep() {
  if (const TBeepFn& fn = Installed())
    fn();
  else
    QApplication::beep();
}

TBeepFn SetBeep(TBeepFn fn) { return std::exchange(Installed(), std::move(fn)); }

TBeepCounter::TBeepCounter() : m_previous(SetBeep([this] { ++m_count; })) {}

TBeepCounter::~TBeepCounter() { SetBeep(std::move(m_previous)); }

}  // namespace platform::qt
