#pragma once
// The message sink of the running application: on the UI thread a text is
// shown in a modal message box and the chosen button returned; from a worker
// thread the box is posted to the UI thread and the worker goes on at once
// with the style's default button (it never waits for the user).

#include <functional>

#include "platform/message_sink.h"

class QWidget;

namespace platform::qt {

class TQtMessageSink : public platform::IMessageSink {
 public:
  // `parent` names the window the boxes belong to (the main window once it
  // exists); it is asked on the UI thread at every box.
  explicit TQtMessageSink(std::function<QWidget*()> parent = {});
  int Show(const platform::TMessageBox& box) override;

 private:
  static int ShowNow(const platform::TMessageBox& box, const std::function<QWidget*()>& parent);
  std::function<QWidget*()> m_parent;
};

}  // namespace platform::qt
