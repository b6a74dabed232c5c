#include "document/child_frame.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMdiSubWindow>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <numeric>
#include <utility>

#include "document/command_ids.h"
#include "document/pane_layout_dialog.h"
#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document/zarn_view.h"
#include "shell/main_frame.h"

namespace ChildFrameSplitter {

namespace pq = platform::qt;
using namespace ZarnCommands;
using ZarnTypes::TPaneLayoutState;

// ---------------------------------------------------------------------------
// CSplitterWndExtd

CSplitterWndExtd::CSplitterWndExtd(int rows, int columns, QWidget* parent)
    : QSplitter(Qt::Vertical, parent), m_nColumns(columns) {
  setChildrenCollapsible(false);
  for (int r = 0; r < rows; ++r) {
    auto* row = new QSplitter(Qt::Horizontal, this);
    row->setChildrenCollapsible(false);
    addWidget(row);
    m_Rows.push_back(row);
    connect(row, &QSplitter::splitterMoved, this, [this, row] { SyncColumns(row); });
  }
}

void CSplitterWndExtd::SetPane(int row, int column, QWidget* pane) {
  if (row < 0 || row >= Rows() || column < 0 || column >= m_nColumns || !pane) return;
  QSplitter* splitter = m_Rows[static_cast<std::size_t>(row)];
  if (column < splitter->count())
    splitter->replaceWidget(column, pane);
  else
    splitter->insertWidget(column, pane);
}

QWidget* CSplitterWndExtd::Pane(int row, int column) const {
  if (row < 0 || row >= Rows() || column < 0 || column >= m_nColumns) return nullptr;
  return m_Rows[static_cast<std::size_t>(row)]->widget(column);
}

bool CSplitterWndExtd::FindPane(const QWidget* pane, int& row, int& column) const {
  for (int r = 0; r < Rows(); ++r)
    for (int c = 0; c < m_nColumns; ++c)
      if (pane && Pane(r, c) == pane) {
        row = r;
        column = c;
        return true;
      }
  return false;
}

std::vector<int> CSplitterWndExtd::ColumnWidths() const {
  std::vector<int> widths(static_cast<std::size_t>(m_nColumns), 0);
  const QSplitter* row = m_Rows.empty() ? nullptr : m_Rows.front();
  if (!row) return widths;
  const QList<int> sizes = row->sizes();
  for (int c = 0; c < m_nColumns && c < sizes.size(); ++c)
    widths[static_cast<std::size_t>(c)] = c == m_nHiddenColumn ? 0 : sizes[c];
  return widths;
}

std::vector<int> CSplitterWndExtd::RowHeights() const {
  std::vector<int> heights(static_cast<std::size_t>(Rows()), 0);
  const QList<int> list = sizes();
  for (int r = 0; r < Rows() && r < list.size(); ++r)
    heights[static_cast<std::size_t>(r)] = r == m_nHiddenRow ? 0 : list[r];
  return heights;
}

void CSplitterWndExtd::SetColumnWidths(const std::vector<int>& widths) {
  const QList<int> list(widths.begin(), widths.end());
  m_bSyncing = true;
  for (QSplitter* row : m_Rows) row->setSizes(list);
  m_bSyncing = false;
}

void CSplitterWndExtd::SetRowHeights(const std::vector<int>& heights) {
  setSizes(QList<int>(heights.begin(), heights.end()));
}

void CSplitterWndExtd::SyncColumns(QSplitter* from) {
  if (m_bSyncing) return;
  m_bSyncing = true;
  const QList<int> list = from->sizes();
  for (QSplitter* row : m_Rows)
    if (row != from) row->setSizes(list);
  m_bSyncing = false;
}

bool CSplitterWndExtd::HideColumn(int column) {
  if (column < 0 || column >= m_nColumns || m_nHiddenColumn != -1) return false;
  m_SavedWidths = ColumnWidths();
  for (int r = 0; r < Rows(); ++r)
    if (QWidget* pane = Pane(r, column)) pane->hide();
  m_nHiddenColumn = column;
  return true;
}

bool CSplitterWndExtd::ShowColumn() {
  if (m_nHiddenColumn == -1) return false;
  const int column = m_nHiddenColumn;
  m_nHiddenColumn = -1;
  for (int r = 0; r < Rows(); ++r)
    if (QWidget* pane = Pane(r, column)) pane->show();
  // Back at the width it had when it was hidden (unless it never had one).
  if (std::accumulate(m_SavedWidths.begin(), m_SavedWidths.end(), 0) > 0) SetColumnWidths(m_SavedWidths);
  return true;
}

bool CSplitterWndExtd::HideRow(int row) {
  if (row < 0 || row >= Rows() || m_nHiddenRow != -1) return false;
  m_SavedHeights = RowHeights();
  m_Rows[static_cast<std::size_t>(row)]->hide();
  m_nHiddenRow = row;
  return true;
}

bool CSplitterWndExtd::ShowRow() {
  if (m_nHiddenRow == -1) return false;
  const int row = m_nHiddenRow;
  m_nHiddenRow = -1;
  m_Rows[static_cast<std::size_t>(row)]->show();
  if (std::accumulate(m_SavedHeights.begin(), m_SavedHeights.end(), 0) > 0) SetRowHeights(m_SavedHeights);
  return true;
}

// ---------------------------------------------------------------------------

TInitialSizes ComputeInitialSizes(int screenWidth, int screenHeight) {
  TInitialSizes sizes;
  sizes.controllerWidth = std::min(screenWidth / 5, 250);
  sizes.paneHeight = (2 * screenHeight) / 3;
  return sizes;
}

namespace {
TPaneLayoutDialog& PaneLayoutDialog() {
  static TPaneLayoutDialog dialog;
  return dialog;
}
}  // namespace

void SetPaneLayoutDialog(TPaneLayoutDialog dialog) { PaneLayoutDialog() = std::move(dialog); }

// ---------------------------------------------------------------------------
// CChildFrameSplitter

CChildFrameSplitter::CChildFrameSplitter(std::unique_ptr<ZarnDoc::CZarnDoc> document, QWidget* parent)
    : QWidget(parent), m_pDocument(std::move(document)) {
  QSize screen(1024, 768);
  if (const QScreen* primary = QGuiApplication::primaryScreen()) screen = primary->size();
  m_Sizes = ComputeInitialSizes(screen.width(), screen.height());

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  m_pOuter = new CSplitterWndExtd(1, 2, this);
  layout->addWidget(m_pOuter);

  ZarnDoc::CZarnDoc* doc = m_pDocument.get();
  m_pController = new ZarnControllerView::CZarnControllerView(doc, m_pOuter);
  m_pOuter->SetPane(0, 0, m_pController);
  m_pInner = new CSplitterWndExtd(2, 2, m_pOuter);
  m_pOuter->SetPane(0, 1, m_pInner);
  for (int pane = 0; pane < 4; ++pane) {
    auto* view = new ZarnView::CZarnView(doc, m_pInner);
    m_pPanes[static_cast<std::size_t>(pane)] = view;
    m_pInner->SetPane(pane / 2, pane % 2, view);
    connect(view, &ZarnView::CZarnView::Activated, this, [this](QWidget* v) { SetActiveView(v); });
  }
  connect(m_pController, &ZarnControllerView::CZarnControllerView::Activated, this,
          [this](QWidget* v) { SetActiveView(v); });

  // The controller column keeps its width when the window grows.
  if (QSplitter* row = qobject_cast<QSplitter*>(m_pOuter->widget(0))) {
    row->setStretchFactor(0, 0);
    row->setStretchFactor(1, 1);
  }
  m_pOuter->SetColumnWidths({m_Sizes.controllerWidth, std::max(1, screen.width() - m_Sizes.controllerWidth)});
  m_pInner->SetColumnWidths({screen.width() / 2, screen.width() / 2});
  m_pInner->SetRowHeights({m_Sizes.paneHeight, m_Sizes.paneHeight});
  SetActiveView(m_pController);

  m_pMessages = new pq::TMessageMap(this);
  m_pMessages->On(pq::WM_APP_PANE_LAYOUT, [this](pq::WPARAM, pq::LPARAM lParam) -> pq::LRESULT {
    auto* state = pq::RecordOf<TPaneLayoutState>(lParam);
    return state ? OnPaneLayout(*state) : 0;
  });
  m_pMessages->On(pq::WM_APP_PANE_COMMAND,
                  [this](pq::WPARAM wParam, pq::LPARAM lParam) { return OnPaneCommand(wParam, lParam); });
  m_pMessages->On(pq::WM_APP_ZOOM_SETTINGS,
                  [this](pq::WPARAM, pq::LPARAM lParam) { return OnZoomSettings(lParam); });

  m_CloseTimer.setInterval(std::chrono::milliseconds(20));
  connect(&m_CloseTimer, &QTimer::timeout, this, &CChildFrameSplitter::OnCloseTick);
  RegisterCommands();
  setWindowTitle(QString::fromStdString(doc->DocName()));
}

CChildFrameSplitter::~CChildFrameSplitter() {
  m_CloseTimer.stop();
  // The views go before the document they show.
  delete m_pOuter;
  m_pOuter = nullptr;
  m_pInner = nullptr;
  m_pController = nullptr;
  m_pPanes.fill(nullptr);
}

shell::IMediaDocument* CChildFrameSplitter::Document() { return m_pDocument.get(); }

std::vector<pq::ICommandTarget*> CChildFrameSplitter::ViewTargets() {
  std::vector<pq::ICommandTarget*> targets;
  auto* active = dynamic_cast<pq::ICommandTarget*>(m_pActiveView.data());
  if (active) targets.push_back(active);
  for (pq::ICommandTarget* view : m_pDocument->Views())
    if (view != active) targets.push_back(view);
  return targets;
}

void CChildFrameSplitter::OnInitialUpdate() {
  if (m_bSetUp) return;
  m_bSetUp = true;
  // The toolbars whose buttons the document's update handlers set (the View
  // toolbar is the frame's own business).
  if (auto* main = qobject_cast<MainFrame::CMainFrame*>(shell::MainWindow())) {
    const UINT bars[ZarnDoc::CZarnDoc::kDocToolBarCount] = {
        shell::ID_VIEW_TOOLBAR_STANDARD, shell::ID_VIEW_TOOLBAR_NAVIGATE, shell::ID_VIEW_TOOLBAR_PLAY,
        shell::ID_VIEW_TOOLBAR_REPLAY,   shell::ID_VIEW_TOOLBAR_CAPTURE,  shell::ID_VIEW_TOOLBAR_ZOOM,
        shell::ID_VIEW_TOOLBAR_DVD};
    for (int i = 0; i < ZarnDoc::CZarnDoc::kDocToolBarCount; ++i)
      m_pDocument->m_pToolBar[i] = main->ToolBar(bars[i]);
  }
  std::array<ZarnView::CZarnView*, 4> panes = m_pPanes;
  m_pDocument->SetUpViews(this, m_pController, panes);
  for (ZarnView::CZarnView* pane : m_pPanes) pane->OnInitialUpdate();
}

void CChildFrameSplitter::SetActiveView(QWidget* view) {
  if (m_pActiveView == view) return;
  m_pActiveView = view;
  emit ActiveViewChanged(view);
}

void CChildFrameSplitter::KeepInvariant() {
  m_bPrimaryOnly = !(m_bControllerShown || m_bBottomRowShown || m_bRightColumnShown);
}

void CChildFrameSplitter::LeaveHiddenPane(int row, int column, bool wholeRow) {
  int r = 0;
  int c = 0;
  if (!m_pInner->FindPane(m_pActiveView, r, c)) return;
  if (wholeRow && r == row)
    SetActiveView(m_pInner->Pane(row + 1 < m_pInner->Rows() ? row + 1 : 0, c));
  else if (!wholeRow && c == column)
    SetActiveView(m_pInner->Pane(r, column + 1 < m_pInner->Columns() ? column + 1 : 0));
}

void CChildFrameSplitter::ToggleRightColumn() {
  if (m_bRightColumnShown) {
    LeaveHiddenPane(-1, 1, false);
    m_pInner->HideColumn(1);
    m_bRightColumnShown = false;
  } else {
    m_pInner->ShowColumn();
    m_bRightColumnShown = true;
  }
  KeepInvariant();
}

void CChildFrameSplitter::ToggleBottomRow() {
  if (m_bBottomRowShown) {
    LeaveHiddenPane(1, -1, true);
    m_pInner->HideRow(1);
    m_bBottomRowShown = false;
  } else {
    m_pInner->ShowRow();
    m_bBottomRowShown = true;
  }
  KeepInvariant();
}

void CChildFrameSplitter::HideControllerColumn() {
  // A hidden pane cannot take commands: the primary pane takes over.
  if (m_pActiveView == m_pController) SetActiveView(m_pPanes[0]);
  m_pOuter->HideColumn(0);
  m_bControllerShown = false;
}

void CChildFrameSplitter::ToggleController() {
  if (m_bControllerShown) {
    SetActiveView(m_pPanes[0]);
    HideControllerColumn();
  } else {
    m_pOuter->ShowColumn();
    m_bControllerShown = true;
  }
  KeepInvariant();
}

void CChildFrameSplitter::TogglePrimaryOnly() {
  if (m_bControllerShown || m_bBottomRowShown || m_bRightColumnShown) {
    if (m_bRightColumnShown) ToggleRightColumn();
    if (m_bBottomRowShown) ToggleBottomRow();
    if (m_bControllerShown) HideControllerColumn();
  } else {
    m_pOuter->ShowColumn();
    m_bControllerShown = true;
    m_pInner->ShowRow();
    m_bBottomRowShown = true;
    m_pInner->ShowColumn();
    m_bRightColumnShown = true;
  }
  KeepInvariant();
}

void CChildFrameSplitter::ToggleControllerCollapsed() {
  if (!m_bControllerShown) return;
  m_bControllerCollapsed = !m_bControllerCollapsed;
  const std::vector<int> widths = m_pOuter->ColumnWidths();
  const int total = std::accumulate(widths.begin(), widths.end(), 0);
  const int column = m_bControllerCollapsed ? kCollapsedControllerWidth : kRestoredControllerWidth;
  m_pOuter->SetColumnWidths({column, std::max(1, total - column)});
}

void CChildFrameSplitter::ShowChannelPanes(int channel) {
  if (!m_pDocument || channel < 0 || channel >= ZarnTypes::kChannelCount) return;
  const std::int32_t* map = m_pDocument->m_nPaneChannel;
  bool needRight = map[1] == channel;
  bool needBottom = map[2] == channel;
  if (map[3] == channel) {
    if (!m_bRightColumnShown) needRight = true;
    if (!m_bBottomRowShown) needBottom = true;
  }
  if (needBottom && !m_bBottomRowShown) {
    m_pInner->ShowRow();
    m_bBottomRowShown = true;
  }
  if (needRight && !m_bRightColumnShown) {
    m_pInner->ShowColumn();
    m_bRightColumnShown = true;
  }
  // A row or column too small to see gets room taken from the first one.
  auto enlarge = [](std::vector<int> sizes) {
    if (sizes.size() != 2 || sizes[1] >= 50) return std::vector<int>{};
    const int total = sizes[0] + sizes[1];
    sizes[0] = sizes[0] > 100 ? sizes[0] - 50 : sizes[0] / 2 + 1;
    sizes[1] = total - sizes[0];
    return sizes;
  };
  if (needBottom) {
    const std::vector<int> heights = enlarge(m_pInner->RowHeights());
    if (!heights.empty()) m_pInner->SetRowHeights(heights);
  }
  if (needRight) {
    const std::vector<int> widths = enlarge(m_pInner->ColumnWidths());
    if (!widths.empty()) m_pInner->SetColumnWidths(widths);
  }
  KeepInvariant();
}

pq::LRESULT CChildFrameSplitter::OnPaneLayout(TPaneLayoutState& state) {
  switch (state.operation) {
    case ZarnTypes::PANE_LAYOUT_GET:
      state.controllerWidth = m_Sizes.controllerWidth;
      state.paneHeightLeft = m_Sizes.paneHeight;
      state.paneHeightRight = m_Sizes.paneHeight;
      state.controllerShown = m_bControllerShown;
      state.primaryOnly = m_bPrimaryOnly;
      state.bottomRowShown = m_bBottomRowShown;
      state.rightColumnShown = m_bRightColumnShown;
      state.answered = 1;
      return 1;
    case ZarnTypes::PANE_LAYOUT_SET:
      if ((state.bottomRowShown != 0) != m_bBottomRowShown) ToggleBottomRow();
      if ((state.rightColumnShown != 0) != m_bRightColumnShown) ToggleRightColumn();
      if ((state.controllerShown != 0) != m_bControllerShown) ToggleController();
      state.answered = 1;
      return 1;
    case ZarnTypes::PANE_LAYOUT_PRIMARY_ONLY:
      if (state.value == 1 && (m_bControllerShown || m_bBottomRowShown || m_bRightColumnShown))
        TogglePrimaryOnly();
      return 1;
    default: return 0;
  }
}

pq::LRESULT CChildFrameSplitter::OnPaneCommand(pq::WPARAM command, pq::LPARAM param) {
  switch (static_cast<std::int32_t>(command)) {
    case ZarnTypes::PANE_CMD_SHOW_CHANNEL: ShowChannelPanes(static_cast<int>(param)); return 1;
    case ZarnTypes::PANE_CMD_TOGGLE_RIGHT_COLUMN: ToggleRightColumn(); return 1;
    case ZarnTypes::PANE_CMD_TOGGLE_BOTTOM_ROW: ToggleBottomRow(); return 1;
    case ZarnTypes::PANE_CMD_TOGGLE_CONTROLLER: ToggleController(); return 1;
    case ZarnTypes::PANE_CMD_COLLAPSE_CONTROLLER: ToggleControllerCollapsed(); return 1;
    case ZarnTypes::PANE_CMD_PANE_CHANNELS: {
      auto* block = pq::RecordOf<ZarnTypes::TPaneLayoutExchange>(param);
      if (!m_pDocument || !block) return 0;
      if (block->operation == 1) {
        for (int pane = 0; pane < ZarnTypes::kPaneCount; ++pane)
          block->paneChannel[pane] = m_pDocument->m_nPaneChannel[pane];
        block->answered = 1;
        return 1;
      }
      if (block->operation == 2) {
        m_pDocument->SetPaneChannels(*block);
        block->answered = 1;
        return 1;
      }
      return 0;
    }
    case ZarnTypes::PANE_CMD_QUERY_STREAMING: {
      auto* query = pq::RecordOf<ZarnTypes::TStreamingQuery>(param);
      if (!m_pDocument || !query) return 0;
      if (query->operation == 1) {
        query->streaming = m_pDocument->IsPlaying() ? 1 : 0;
        query->answered = 1;
        return 1;
      }
      return query->operation == 2 ? 1 : 0;
    }
    default: return 1;
  }
}

pq::LRESULT CChildFrameSplitter::OnZoomSettings(pq::LPARAM param) {
  if (auto* block = pq::RecordOf<ZarnTypes::TZoomExchange>(param); block && m_pDocument)
    m_pDocument->ExchangeZoomSettings(*block);
  return 1;
}

void CChildFrameSplitter::NotifyLayoutCommand(UINT id) {
  pq::TFrameNotice notice;
  notice.operation = pq::APP_OP_WRITE;
  notice.answered = 0;
  notice.code = static_cast<std::int32_t>(id);
  pq::SendAppRecord(shell::MainWindow(), pq::WM_APP_FRAME_NOTIFY, pq::FRAME_NOTIFY_VIEW_BUTTON, notice);
}

void CChildFrameSplitter::RegisterCommands() {
  m_Commands.OnCommand(ID_VIEW_PRIMARY_PANE, [this] {
    TogglePrimaryOnly();
    NotifyLayoutCommand(ID_VIEW_PRIMARY_PANE);
  });
  m_Commands.OnUpdate(ID_VIEW_PRIMARY_PANE, [this](pq::TCmdUI& ui) { ui.SetCheck(m_bPrimaryOnly ? 1 : 0); });
  m_Commands.OnCommand(ID_VIEW_CONTROLLER_PANE, [this] {
    ToggleController();
    NotifyLayoutCommand(ID_VIEW_CONTROLLER_PANE);
  });
  m_Commands.OnUpdate(ID_VIEW_CONTROLLER_PANE,
                      [this](pq::TCmdUI& ui) { ui.SetCheck(m_bControllerShown ? 1 : 0); });
  m_Commands.OnCommand(ID_VIEW_RIGHT_COLUMN_PANES, [this] {
    ToggleRightColumn();
    NotifyLayoutCommand(ID_VIEW_RIGHT_COLUMN_PANES);
  });
  m_Commands.OnUpdate(ID_VIEW_RIGHT_COLUMN_PANES,
                      [this](pq::TCmdUI& ui) { ui.SetCheck(m_bRightColumnShown ? 1 : 0); });
  m_Commands.OnCommand(ID_VIEW_BOTTOM_ROW_PANES, [this] {
    ToggleBottomRow();
    NotifyLayoutCommand(ID_VIEW_BOTTOM_ROW_PANES);
  });
  m_Commands.OnUpdate(ID_VIEW_BOTTOM_ROW_PANES,
                      [this](pq::TCmdUI& ui) { ui.SetCheck(m_bBottomRowShown ? 1 : 0); });
  m_Commands.OnCommand(ID_VIEW_PANE_LAYOUT, [this] {
    bool accepted = false;
    {
      ZarnDoc::CZarnDoc::TModalScope modal(MediaDocument());
      if (PaneLayoutDialog()) {
        accepted = PaneLayoutDialog()(this);
      } else {
        VideoPortPaneLayout::CVideoPortPaneLayout dialog(this);
        accepted = dialog.exec() == QDialog::Accepted;
      }
    }
    if (accepted) NotifyLayoutCommand(ID_VIEW_PANE_LAYOUT);
  });
  m_Commands.OnUpdate(ID_VIEW_PANE_LAYOUT, [](pq::TCmdUI& ui) { ui.Enable(true); });
}

bool CChildFrameSplitter::CFrameTarget::OnCmdMsg(UINT id, pq::TCmdCode code, pq::TCmdUI* ui) {
  if (m_Frame.m_Commands.OnCmdMsg(id, code, ui)) return true;
  // Commands of the controller pane and of inactive panes work whichever
  // pane has the focus.
  if (!m_Frame.m_pDocument) return false;
  auto* active = dynamic_cast<pq::ICommandTarget*>(m_Frame.m_pActiveView.data());
  return m_Frame.m_pDocument->RouteCmdToViews(active, id, code, ui);
}

// ---------------------------------------------------------------------------
// Closing

void CChildFrameSplitter::SetCloseWait(std::chrono::milliseconds interval, int tries) {
  m_CloseTimer.setInterval(interval);
  m_nCloseMaxTries = std::max(1, tries);
}

void CChildFrameSplitter::closeEvent(QCloseEvent* event) {
  ZarnDoc::CZarnDoc* doc = m_pDocument.get();
  if (!doc || !doc->IsPlaying()) {
    m_CloseTimer.stop();
    m_pClosingDocument = nullptr;
    QWidget::closeEvent(event);
    return;
  }
  // Playing: ask the engine to stop and close once it has.
  event->ignore();
  if (m_CloseTimer.isActive()) return;
  m_pClosingDocument = doc;
  doc->m_Engine.StopPlaying();
  m_nCloseTries = 0;
  m_CloseTimer.start();
}

void CChildFrameSplitter::OnCloseTick() {
  if (!m_pClosingDocument) {
    m_CloseTimer.stop();
    return;
  }
  if (!m_pClosingDocument->IsPlaying()) {
    m_CloseTimer.stop();
    m_pClosingDocument = nullptr;
    CloseAgain();
    return;
  }
  if (++m_nCloseTries >= m_nCloseMaxTries) {
    // The engine did not stop in time: the window stays open.
    m_CloseTimer.stop();
    m_pClosingDocument = nullptr;
  }
}

void CChildFrameSplitter::CloseAgain() {
  if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
    sub->close();
  else
    close();
}

// ---------------------------------------------------------------------------

shell::IChildFrame* CreateMediaDocumentFrame(QWidget* parent) {
  auto* frame = new CChildFrameSplitter(std::make_unique<ZarnDoc::CZarnDoc>(), parent);
  // A closed document window is gone with its document.
  frame->setAttribute(Qt::WA_DeleteOnClose);
  return frame;
}

shell::CDocTemplate MediaDocumentTemplate() {
  return shell::CDocTemplate(shell::kMediaDocString, &CreateMediaDocumentFrame);
}

}  // namespace ChildFrameSplitter
