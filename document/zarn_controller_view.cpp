#include "document/zarn_controller_view.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QVBoxLayout>

#include "document/child_frame.h"
#include "document/command_ids.h"
#include "document/pane_messages.h"
#include "document/zarn_doc.h"
#include "document/zarn_view.h"
#include "document/zoom.h"

namespace ZarnControllerView {

namespace pq = platform::qt;
using namespace ZarnCommands;

CZarnControllerView::CZarnControllerView(ZarnDoc::CZarnDoc* document, QWidget* parent)
    : QFrame(parent), m_pDocument(document) {
  setFocusPolicy(Qt::StrongFocus);
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, QColor(45, 45, 48));
  palette.setColor(QPalette::WindowText, Qt::white);
  setPalette(palette);
  setMinimumWidth(15);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  m_pStatus = new QLabel(this);
  m_pStatus->setWordWrap(true);
  m_pStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  layout->addWidget(m_pStatus);
  layout->addStretch(1);

  m_pMessages = new pq::TMessageMap(this);
  m_pMessages->On(pq::WM_APP_IDENTIFY_VIEW, [](pq::WPARAM, pq::LPARAM lParam) -> pq::LRESULT {
    auto* record = pq::RecordOf<ZarnTypes::TIdentifyView>(lParam);
    if (!record) return 0;
    record->role = ZarnTypes::VIEW_ROLE_CONTROLLER;
    record->answered = 1;
    return 1;
  });
  m_pMessages->On(pq::WM_APP_ZOOM_SETTINGS, [this](pq::WPARAM, pq::LPARAM lParam) -> pq::LRESULT {
    if (auto* block = pq::RecordOf<ZarnTypes::TZoomExchange>(lParam)) m_pDocument->ExchangeZoomSettings(*block);
    return 1;
  });
  m_pMessages->On(pq::WM_APP_REPAINT_PANES, [this](pq::WPARAM, pq::LPARAM) -> pq::LRESULT {
    for (int pane = 0; pane < ZarnTypes::kPaneCount; ++pane)
      if (ZarnView::CZarnView* view = m_pDocument->PaneView(pane)) view->viewport()->update();
    return 1;
  });
  m_pMessages->On(pq::WM_APP_CONTROLLER_UPDATE, [this](pq::WPARAM, pq::LPARAM) -> pq::LRESULT {
    UpdateStatus();
    return 1;
  });

  m_Commands.OnCommand(ID_CONTROLLER_MINIMIZE_RESTORE,
                       [this] { SendPaneCommand(ZarnTypes::PANE_CMD_COLLAPSE_CONTROLLER); });
  m_Commands.OnCommand(ID_CONTROLLER_CLOSE, [this] { SendPaneCommand(ZarnTypes::PANE_CMD_TOGGLE_CONTROLLER); });
  UpdateStatus();
}

CZarnControllerView::~CZarnControllerView() = default;

bool CZarnControllerView::OnCmdMsg(UINT id, pq::TCmdCode code, pq::TCmdUI* ui) {
  return m_Commands.OnCmdMsg(id, code, ui);
}

void CZarnControllerView::UpdateStatus() {
  QString text = QString::fromStdString(m_pDocument->DocName());
  if (!m_pDocument->m_strStatus.empty()) text += "\n" + QString::fromStdString(m_pDocument->m_strStatus);
  m_pStatus->setText(text);
}

void CZarnControllerView::SendPaneCommand(std::int32_t command) {
  if (ChildFrameSplitter::CChildFrameSplitter* frame = m_pDocument->ChildFrame())
    pq::SendAppMessage(frame, pq::WM_APP_PANE_COMMAND, static_cast<pq::WPARAM>(command), 0);
}

void CZarnControllerView::contextMenuEvent(QContextMenuEvent* event) {
  setFocus(Qt::OtherFocusReason);
  emit Activated(this);
  QMenu* menu = ZarnView::CreatePopupMenu(ZarnView::kControllerContextMenu, this);
  if (!menu) {
    menu = new QMenu(this);
    menu->addAction("Minimize / Restore Pane", this,
                    [this] { SendPaneCommand(ZarnTypes::PANE_CMD_COLLAPSE_CONTROLLER); });
    menu->addAction("Close Controller", this, [this] { SendPaneCommand(ZarnTypes::PANE_CMD_TOGGLE_CONTROLLER); });
  }
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

void CZarnControllerView::focusInEvent(QFocusEvent* event) {
  QFrame::focusInEvent(event);
  emit Activated(this);
}

void CZarnControllerView::mousePressEvent(QMouseEvent* event) {
  emit Activated(this);
  QFrame::mousePressEvent(event);
}

}  // namespace ZarnControllerView
