#pragma once
// The window of a media document: the controller pane in a column on the
// left and a 2 x 2 grid of video panes on the right. The frame owns the
// layout (which panes show, how wide the controller column is), answers the
// layout, zoom and pane messages of the document, its panes and the main
// frame, and guards closing while the document plays.
//
// For the shell: register MediaDocumentTemplate() (or a CDocTemplate with
// CreateMediaDocumentFrame as its factory) as the application's document
// template; each call creates a new media document ("DM" + number) with its
// frame. Close the window with QWidget::close() on the frame: a frame whose
// document plays refuses, asks the engine to stop and closes itself once it
// has stopped; a closed frame deletes itself with its document (frames made
// by CreateMediaDocumentFrame are Qt::WA_DeleteOnClose). The pane context
// menus come from ZarnView::SetPopupMenuFactory.
//
// Video panes by position: 0 top left (the primary pane, never hidden),
// 1 top right, 2 bottom left, 3 bottom right.

#include <QPointer>
#include <QSplitter>
#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "document/pane_messages.h"
#include "platform/qt/app_messages.h"
#include "platform/qt/commands.h"
#include "shell/document_template.h"

namespace ZarnDoc {
class CZarnDoc;
}
namespace ZarnView {
class CZarnView;
}
namespace ZarnControllerView {
class CZarnControllerView;
}

namespace ChildFrameSplitter {

// A grid of panes that can hide and show a whole row or column: a vertical
// splitter of horizontal row splitters whose column sizes move together. At
// most one row and one column are hidden at a time; a shown row or column
// comes back at the size it had.
class CSplitterWndExtd : public QSplitter {
  Q_OBJECT
 public:
  CSplitterWndExtd(int rows, int columns, QWidget* parent = nullptr);

  void SetPane(int row, int column, QWidget* pane);
  QWidget* Pane(int row, int column) const;
  int Rows() const { return static_cast<int>(m_Rows.size()); }
  int Columns() const { return m_nColumns; }
  // Row and column that contain a pane (false when it is not in the grid).
  bool FindPane(const QWidget* pane, int& row, int& column) const;

  bool HideColumn(int column);
  bool ShowColumn();
  bool HideRow(int row);
  bool ShowRow();
  int HiddenRow() const { return m_nHiddenRow; }
  int HiddenColumn() const { return m_nHiddenColumn; }

  // Current sizes (a hidden row or column counts 0).
  std::vector<int> ColumnWidths() const;
  std::vector<int> RowHeights() const;
  void SetColumnWidths(const std::vector<int>& widths);
  void SetRowHeights(const std::vector<int>& heights);

 private:
  void SyncColumns(QSplitter* from);

  std::vector<QSplitter*> m_Rows;
  int m_nColumns;
  int m_nHiddenRow = -1;
  int m_nHiddenColumn = -1;
  std::vector<int> m_SavedWidths;
  std::vector<int> m_SavedHeights;
  bool m_bSyncing = false;
};

// Screen-derived sizes given to the panes at creation.
struct TInitialSizes {
  int controllerWidth = 0;  // a fifth of the screen width, at most 250
  int paneHeight = 0;       // two thirds of the screen height
};
TInitialSizes ComputeInitialSizes(int screenWidth, int screenHeight);

// ID_VIEW_PANE_LAYOUT runs the "Video Pane / Channel Layout" dialog
// (VideoPortPaneLayout::CVideoPortPaneLayout) with the frame as its owner;
// the command is always enabled. A function set here runs instead (tests):
// true when it ended with OK.
using TPaneLayoutDialog = std::function<bool(QWidget* frame)>;
void SetPaneLayoutDialog(TPaneLayoutDialog dialog);

class CChildFrameSplitter : public QWidget, public shell::IChildFrame {
  Q_OBJECT
 public:
  static constexpr int kCollapsedControllerWidth = 15;
  static constexpr int kRestoredControllerWidth = 250;

  // Creates the frame with its panes for the document, which it owns.
  CChildFrameSplitter(std::unique_ptr<ZarnDoc::CZarnDoc> document, QWidget* parent = nullptr);
  ~CChildFrameSplitter() override;

  // ---- shell::IChildFrame
  QWidget* Widget() override { return this; }
  shell::IMediaDocument* Document() override;
  platform::qt::ICommandTarget* FrameTarget() override { return &m_FrameTarget; }
  std::vector<platform::qt::ICommandTarget*> ViewTargets() override;
  void OnInitialUpdate() override;

  ZarnDoc::CZarnDoc* MediaDocument() const { return m_pDocument.get(); }
  ZarnControllerView::CZarnControllerView* ControllerView() const { return m_pController; }
  ZarnView::CZarnView* PaneView(int pane) const { return m_pPanes[static_cast<std::size_t>(pane)]; }
  CSplitterWndExtd* OuterSplitter() const { return m_pOuter; }
  CSplitterWndExtd* InnerSplitter() const { return m_pInner; }

  // The view that gets the commands first.
  QWidget* ActiveView() const { return m_pActiveView; }
  void SetActiveView(QWidget* view);

  // Layout state.
  bool ControllerShown() const { return m_bControllerShown; }
  bool PrimaryOnly() const { return m_bPrimaryOnly; }
  bool BottomRowShown() const { return m_bBottomRowShown; }
  bool RightColumnShown() const { return m_bRightColumnShown; }
  bool ControllerCollapsed() const { return m_bControllerCollapsed; }
  const TInitialSizes& InitialSizes() const { return m_Sizes; }

  // Layout operations (the View commands without their notice).
  void ToggleRightColumn();
  void ToggleBottomRow();
  void ToggleController();
  void TogglePrimaryOnly();
  void ToggleControllerCollapsed();
  void ShowChannelPanes(int channel);

  // Message handlers.
  platform::qt::LRESULT OnPaneLayout(ZarnTypes::TPaneLayoutState& state);
  platform::qt::LRESULT OnPaneCommand(platform::qt::WPARAM command, platform::qt::LPARAM param);
  platform::qt::LRESULT OnZoomSettings(platform::qt::LPARAM param);

  // The close guard: how often and how many times the engine's running flag
  // is looked at after a stop request (20 ms, 250 times: 5 seconds).
  void SetCloseWait(std::chrono::milliseconds interval, int tries);
  bool WaitingToClose() const { return m_CloseTimer.isActive(); }

 signals:
  void ActiveViewChanged(QWidget* view);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // Routes commands to the frame's own handlers, then to the document's
  // views other than the active one.
  class CFrameTarget : public platform::qt::ICommandTarget {
   public:
    explicit CFrameTarget(CChildFrameSplitter& frame) : m_Frame(frame) {}
    bool OnCmdMsg(UINT id, platform::qt::TCmdCode code, platform::qt::TCmdUI* ui) override;

   private:
    CChildFrameSplitter& m_Frame;
  };

  void RegisterCommands();
  void KeepInvariant();
  void NotifyLayoutCommand(UINT id);
  // Moves the active view off a pane that is about to be hidden.
  void LeaveHiddenPane(int row, int column, bool wholeRow);
  void HideControllerColumn();
  void OnCloseTick();
  void CloseAgain();

  std::unique_ptr<ZarnDoc::CZarnDoc> m_pDocument;
  CSplitterWndExtd* m_pOuter = nullptr;
  CSplitterWndExtd* m_pInner = nullptr;
  ZarnControllerView::CZarnControllerView* m_pController = nullptr;
  std::array<ZarnView::CZarnView*, 4> m_pPanes{};
  QPointer<QWidget> m_pActiveView;

  TInitialSizes m_Sizes;
  bool m_bControllerShown = true;
  bool m_bPrimaryOnly = false;
  bool m_bBottomRowShown = true;
  bool m_bRightColumnShown = true;
  bool m_bControllerCollapsed = false;

  // The document whose engine was asked to stop when the frame was asked to
  // close; the UI-thread timer looks at its running flag.
  ZarnDoc::CZarnDoc* m_pClosingDocument = nullptr;
  QTimer m_CloseTimer;
  int m_nCloseTries = 0;
  int m_nCloseMaxTries = 250;

  platform::qt::CCmdTarget m_Commands;
  CFrameTarget m_FrameTarget{*this};
  platform::qt::TMessageMap* m_pMessages = nullptr;
  bool m_bSetUp = false;
};

// Creates a new media document with its frame inside `parent`; the frame
// deletes itself when it closes.
shell::IChildFrame* CreateMediaDocumentFrame(QWidget* parent);

// The application's document template for media documents.
shell::CDocTemplate MediaDocumentTemplate();

}  // namespace ChildFrameSplitter
