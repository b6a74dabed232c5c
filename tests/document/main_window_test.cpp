// The media document window inside the application's main window: commands
// reach the document through the main window's router, the pane menu is made
// of the main window's commands, and closing goes through the frame's guard.

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QToolBar>

#include <gtest/gtest.h>

#include <memory>

#include "document/command_ids.h"
#include "document_fixture.h"
#include "shell/icons.h"
#include "shell/main_frame.h"

using namespace ZarnTypes;
using ChildFrameSplitter::CChildFrameSplitter;

namespace {

struct TMainWindow {
  TMainWindow() {
    frame = std::make_unique<MainFrame::CMainFrame>(state, cfg, &app);
    EXPECT_TRUE(frame->LoadFrame());
    frame->show();
    QApplication::processEvents();
    document = static_cast<CChildFrameSplitter*>(ChildFrameSplitter::CreateMediaDocumentFrame(nullptr));
    frame->AddChildFrame(document);
    QApplication::processEvents();
  }
  ~TMainWindow() {
    delete document.data();
    frame.reset();
    shell::SetMainWindow(nullptr);
  }
  ZarnDoc::CZarnDoc& Doc() { return *document->MediaDocument(); }
  bool Execute(UINT id) { return frame->Router()->Execute(id); }

  shell::TShellState state;
  shell::TProgCfg cfg;
  platform::qt::CCmdTarget app;
  std::unique_ptr<MainFrame::CMainFrame> frame;
  QPointer<CChildFrameSplitter> document;
};

QAction* FindAction(QMenu* menu, const QString& text) {
  for (QAction* a : menu->actions()) {
    if (a->text() == text) return a;
    if (a->menu())
      if (QAction* inner = FindAction(a->menu(), text)) return inner;
  }
  return nullptr;
}

}  // namespace

TEST(DocumentInMainWindow, TheWindowStartsWithThePrimaryPaneAndGetsTheToolbars) {
  TMainWindow w;
  EXPECT_TRUE(w.document->PrimaryOnly());
  EXPECT_TRUE(w.Doc().m_bSetUpDone);
  for (int i = 0; i < ZarnDoc::CZarnDoc::kDocToolBarCount; ++i) EXPECT_NE(w.Doc().m_pToolBar[i], nullptr) << i;
  EXPECT_EQ(w.Doc().m_pToolBar[ZarnDoc::CZarnDoc::DOC_TB_ZOOM], w.frame->ToolBar(shell::ID_VIEW_TOOLBAR_ZOOM));
  EXPECT_EQ(w.frame->ActiveDocument(), static_cast<shell::IMediaDocument*>(&w.Doc()));
}

TEST(DocumentInMainWindow, TheDocumentReachesTheMainWindowsToolbarsAsWhatTheyAre) {
  TMainWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
  EXPECT_EQ(doc.NavigateToolBar(), w.frame->NavigateToolBar());
  EXPECT_EQ(doc.GoToolBar(), w.frame->GoToolBar());
  EXPECT_EQ(doc.ReplayToolBar(), w.frame->ReplayToolBar());
  EXPECT_EQ(doc.CaptureToolBar(), w.frame->CaptureToolBar());
  EXPECT_EQ(doc.DvdToolBar(), w.frame->DvdToolBar());
  ASSERT_NE(doc.GoToolBar(), nullptr);

  // The document's channels enabled for playing reach the Play toolbar's button.
  shell::TChannelButtonState state;
  for (int ch = 0; ch < 4; ++ch) state.channel[ch][shell::CBS_PLAYING] = doc.m_bPlayEnable[ch] ? 1 : 0;
  state.channel[2][shell::CBS_PLAYING] = 1;
  doc.GoToolBar()->UpdateEnablePlayingButton(&state);
  EXPECT_EQ(state.answered, 1);
  const QImage shown = w.frame->Router()->Action(shell::ID_NAVIGATE_ENABLE_PLAYING)->icon().pixmap(24).toImage();
  EXPECT_EQ(shown, shell::CommandIcon(shell::ChannelSetImage(true, false, true, false), 24).pixmap(24).toImage());
}

TEST(DocumentInMainWindow, MenuCommandsReachTheDocumentFrameAndPanes) {
  TMainWindow w;
  ASSERT_TRUE(w.Execute(ZarnCommands::ID_ZOOM_200));
  EXPECT_EQ(w.Doc().m_nZoomMode, ZOOM_200);
  EXPECT_EQ(w.frame->Router()->Update(ZarnCommands::ID_ZOOM_200).Check(), 1);
  ASSERT_TRUE(w.Execute(ZarnCommands::ID_VIEW_PRIMARY_PANE));
  EXPECT_FALSE(w.document->PrimaryOnly());
  EXPECT_EQ(w.frame->Router()->Update(ZarnCommands::ID_VIEW_PRIMARY_PANE).Check(), 0);
  // Copy is a pane's command, whichever view is active.
  w.document->SetActiveView(w.document->ControllerView());
  EXPECT_TRUE(w.frame->Router()->Update(ZarnCommands::ID_EDIT_COPY).Enabled());
  EXPECT_TRUE(w.Execute(ZarnCommands::ID_EDIT_COPY));
}

TEST(DocumentInMainWindow, ThePaneMenuOffersTheMainWindowsCommands) {
  TMainWindow w;
  ASSERT_TRUE(w.Doc().SetZoomMode(ZOOM_50));
  std::unique_ptr<QMenu> menu(ZarnView::CreatePopupMenu(ZarnView::kPaneContextMenu, w.document->PaneView(0)));
  ASSERT_TRUE(menu);
  QAction* half = w.frame->Router()->Action(ZarnCommands::ID_ZOOM_50);
  QAction* fit = w.frame->Router()->Action(ZarnCommands::ID_ZOOM_FIT_VIEW);
  bool found = false;
  for (QAction* a : menu->actions())
    if (a->menu() && a->menu()->actions().contains(half)) found = true;
  EXPECT_TRUE(found);
  EXPECT_TRUE(half->isChecked());
  ASSERT_FALSE(fit->text().isEmpty());
  fit->trigger();
  EXPECT_EQ(w.Doc().m_nZoomMode, ZOOM_FIT_VIEW);
  EXPECT_NE(FindAction(menu.get(), half->text()), nullptr);
}

TEST(DocumentInMainWindow, ClosingAPlayingDocumentWaitsForItsEngine) {
  TMainWindow w;
  auto& engine = w.Doc().m_Engine;
  engine.m_bRunning = true;
  EXPECT_FALSE(w.frame->CloseWindow(w.document));
  EXPECT_EQ(w.frame->ChildFrames().size(), 1u);
  EXPECT_TRUE(engine.StopRequested());
  QTimer::singleShot(40, [&engine] { engine.m_bRunning = false; });
  EXPECT_TRUE(doc_test::RunUntil([&] { return w.document.isNull(); }));
  EXPECT_TRUE(w.frame->ChildFrames().empty());
}
