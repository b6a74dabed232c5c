#pragma once
// The controller pane: the narrow left column of a media document's window.
// It is the window the engine, the readers and the option pages talk to, and
// it hands what belongs to the document on to it: the zoom exchange of the
// Custom Zoom dialog, the repaint request of the picture-in-picture page and
// the document's identification at set-up. Its context menu hides or narrows
// the column through the child frame.
//
// The readouts (time, frame counters, position and volume sliders, speed,
// capture buttons) and the settings exchanges of the option pages arrive with
// playing and with the options; until then the pane shows the document's
// status line.

#include <QFrame>

#include "platform/qt/app_messages.h"
#include "platform/qt/commands.h"

class QLabel;

namespace ZarnDoc {
class CZarnDoc;
}

namespace ZarnControllerView {

class CZarnControllerView : public QFrame, public platform::qt::ICommandTarget {
  Q_OBJECT
 public:
  explicit CZarnControllerView(ZarnDoc::CZarnDoc* document, QWidget* parent = nullptr);
  ~CZarnControllerView() override;

  bool OnCmdMsg(UINT id, platform::qt::TCmdCode code, platform::qt::TCmdUI* ui) override;

  ZarnDoc::CZarnDoc* Document() const { return m_pDocument; }
  // Shows the document's status text again.
  void UpdateStatus();

 signals:
  void Activated(ZarnControllerView::CZarnControllerView* view);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  // Sends a pane command to the frame the pane sits in.
  void SendPaneCommand(std::int32_t command);

  ZarnDoc::CZarnDoc* m_pDocument;
  QLabel* m_pStatus = nullptr;
  platform::qt::CCmdTarget m_Commands;
  platform::qt::TMessageMap* m_pMessages = nullptr;
};

}  // namespace ZarnControllerView
