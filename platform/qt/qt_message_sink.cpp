#include "platform/qt/qt_message_sink.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <QWidget>

namespace platform::qt {
namespace {

QMessageBox::Icon IconOf(std::uint32_t style) {
  switch (style & MB_ICON_MASK) {
    case MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONEXCLAMATION: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

}  // namespace

TQtMessageSink::TQtMessageSink(std::function<QWidget*()> parent) : m_parent(std::move(parent)) {}

int TQtMessageSink::Show(const TMessageBox& box) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return DefaultButton(box.style);
  if (QThread::currentThread() == app->thread()) return ShowNow(box, m_parent);
  // A worker: show it later on the UI thread, answer for the user now. The
  // posted call holds its own copies, so it outlives the sink safely.
  QMetaObject::invokeMethod(
      app, [parent = m_parent, box] { ShowNow(box, parent); }, Qt::QueuedConnection);
  return DefaultButton(box.style);
}

int TQtMessageSink::ShowNow(const TMessageBox& box, const std::function<QWidget*()>& parentOf) {
  QWidget* parent = parentOf ? parentOf() : nullptr;
  const QString caption =
      box.caption.empty() ? QApplication::applicationDisplayName() : QString::fromStdString(box.caption);
  QMessageBox mb(IconOf(box.style), caption, QString::fromStdString(box.text), QMessageBox::NoButton, parent);
  struct TButton {
    QMessageBox::StandardButton qt;
    int id;
  };
  std::vector<TButton> buttons;
  switch (box.style & MB_BUTTON_MASK) {
    case MB_OKCANCEL: buttons = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}}; break;
    case MB_YESNOCANCEL:
      buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    case MB_YESNO: buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}}; break;
    default: buttons = {{QMessageBox::Ok, IDOK}}; break;
  }
  for (const auto& b : buttons) mb.addButton(b.qt);
  mb.setDefaultButton(buttons.front().qt);
  const int chosen = mb.exec();
  for (const auto& b : buttons)
    if (chosen == b.qt) return b.id;
  // Closed with Escape or the window's close button.
  return (box.style & MB_BUTTON_MASK) == MB_OK ? IDOK : IDCANCEL;
}

}  // namespace platform::qt
