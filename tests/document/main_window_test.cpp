// The media document window inside the application's main window: commands
// reach the document through the main window's router, the pane menu is the
// main window's and runs its commands, the document's state shows on the
// toolbars, and closing goes through the frame's guard.

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
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

// The item of a context menu that carries a command, submenus included.
QAction* FindCommand(QMenu* menu, UINT id) {
  for (QAction* a : menu->actions()) {
    if (MainFrame::CMainFrame::ContextMenuCommand(a) == id) return a;
    if (a->menu())
      if (QAction* inner = FindCommand(a->menu(), id)) return inner;
  }
  return nullptr;
}

}  // namespace

TEST(DocumentInMainWindow, TheWindowStartsWithThePrimaryPaneAndGetsTheToolbars) {
  TMainWindow w;
  EXPECT_TRUE(w.document->PrimaryOnly());
  EXPECT_TRUE(w.Doc().m_bSetUpDone);
  for (int i = 0; i < ZarnDoc::CZarnDoc::kDocToolBarCount; ++i)
    EXPECT_NE(w.Doc().m_pToolBar[i], nullptr) << i;
  EXPECT_EQ(w.Doc().m_pToolBar[ZarnDoc::CZarnDoc::DOC_TB_ZOOM],
            w.frame->ToolBar(shell::ID_VIEW_TOOLBAR_ZOOM));
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
  const QImage shown =
      w.frame->Router()->Action(shell::ID_NAVIGATE_ENABLE_PLAYING)->icon().pixmap(24).toImage();
  EXPECT_EQ(shown,
            shell::CommandIcon(shell::ChannelSetImage(true, false, true, false), 24).pixmap(24).toImage());
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
  // It is on while any channel holds a source.
  EXPECT_FALSE(w.frame->Router()->Update(ZarnCommands::ID_EDIT_COPY).Enabled());
  EXPECT_FALSE(w.Execute(ZarnCommands::ID_EDIT_COPY));
  w.Doc().m_Source[2].bOpen = TRUE_;
  EXPECT_TRUE(w.frame->Router()->Update(ZarnCommands::ID_EDIT_COPY).Enabled());
  EXPECT_TRUE(w.Execute(ZarnCommands::ID_EDIT_COPY));
}

TEST(DocumentInMainWindow, ThePaneMenuIsTheMainWindowsAndRunsTheDocumentsCommands) {
  TMainWindow w;
  ASSERT_TRUE(w.Doc().SetZoomMode(ZOOM_50));
  std::unique_ptr<QMenu> menu(ZarnView::CreatePopupMenu(ZarnView::kPaneContextMenu, w.document->PaneView(0)));
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->objectName(), "ContextMenu230");
  emit menu->aboutToShow();
  QAction* half = FindCommand(menu.get(), ZarnCommands::ID_ZOOM_50);
  QAction* fit = FindCommand(menu.get(), ZarnCommands::ID_ZOOM_FIT_VIEW);
  ASSERT_TRUE(half && fit);
  EXPECT_EQ(half->text(), "50%");
  EXPECT_TRUE(half->isChecked());
  EXPECT_FALSE(fit->isChecked());
  fit->trigger();
  EXPECT_EQ(w.Doc().m_nZoomMode, ZOOM_FIT_VIEW);
  // The layout dialog's item is on whatever the document shows.
  QAction* layout = FindCommand(menu.get(), ZarnCommands::ID_VIEW_PANE_LAYOUT);
  ASSERT_NE(layout, nullptr);
  EXPECT_TRUE(layout->isEnabled());
  // The controller pane's menu comes from the same place.
  std::unique_ptr<QMenu> controller(
      ZarnView::CreatePopupMenu(ZarnView::kControllerContextMenu, w.document->ControllerView()));
  ASSERT_TRUE(controller);
  EXPECT_EQ(controller->objectName(), "ContextMenu231");
}

TEST(DocumentInMainWindow, RecordCaptureAndDvdButtonsShowTheDocumentsState) {
  TMainWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
  auto* r = w.frame->Router();
  auto* capture = w.frame->CaptureToolBar();
  ASSERT_NE(capture, nullptr);
  // Nothing selected for recording: the plain image, and nothing to record.
  EXPECT_FALSE(r->Update(shell::ID_CAPTURE_RECORD).Enabled());
  EXPECT_EQ(capture->RecordState(), ToolBarCapture::CToolBarCapture::kRecordPlain);
  doc.m_bRecording = true;
  doc.m_bRecordChannel[1] = true;
  EXPECT_FALSE(r->Update(shell::ID_CAPTURE_RECORD).Enabled()) << "channel 2 has no source";
  EXPECT_EQ(capture->RecordState(), ToolBarCapture::CToolBarCapture::kRecordArmed);
  doc.m_Source[1].bOpen = TRUE_;
  doc.m_Engine.m_bRunning = true;
  EXPECT_TRUE(r->Update(shell::ID_CAPTURE_RECORD).Enabled());
  EXPECT_EQ(capture->RecordState(), ToolBarCapture::CToolBarCapture::kRecordRunning);
  doc.m_Engine.m_bRunning = false;

  // Capture: the button shows which of the first two channels capture.
  EXPECT_FALSE(r->Update(shell::ID_CAPTURE_IMAGE).Enabled()) << "nothing in the primary channel";
  EXPECT_EQ(capture->CaptureState(), ToolBarCapture::CToolBarCapture::kCaptureNone);
  doc.m_ImageSaver[1].m_bSendToClipboard = 1;
  doc.m_Source[0].bOpen = TRUE_;
  EXPECT_TRUE(r->Update(shell::ID_CAPTURE_IMAGE).Enabled());
  EXPECT_EQ(capture->CaptureState(), ToolBarCapture::CToolBarCapture::kCaptureSecond);
  doc.m_ImageSaver[0].m_bSaveToFile = 1;
  r->Update(shell::ID_CAPTURE_IMAGE);
  EXPECT_EQ(capture->CaptureState(), ToolBarCapture::CToolBarCapture::kCaptureBoth);
  doc.m_ImageSaver[2].m_bSaveToFile = 1;  // only the first two channels count
  doc.m_ImageSaver[1].m_bSendToClipboard = 0;
  r->Update(shell::ID_CAPTURE_IMAGE);
  EXPECT_EQ(capture->CaptureState(), ToolBarCapture::CToolBarCapture::kCaptureFirst);

  // DVD navigation: the button shows the channels that take it.
  doc.m_bDvdNavigate[0] = true;
  doc.m_bDvdNavigate[2] = true;
  EXPECT_FALSE(r->Update(shell::ID_DVD_ENABLE_NAVIGATION).Enabled()) << "no DVD plays";
  const QImage shown = r->Action(shell::ID_DVD_ENABLE_NAVIGATION)->icon().pixmap(24).toImage();
  EXPECT_EQ(shown,
            shell::CommandIcon(shell::ChannelSetImage(true, false, true, false), 24).pixmap(24).toImage());
  doc.m_Source[3].bOpen = TRUE_;
  doc.m_Source[3].nDeviceCategory = 6;
  doc.m_Engine.m_bRunning = true;
  EXPECT_TRUE(r->Update(shell::ID_DVD_ENABLE_NAVIGATION).Enabled());
  doc.m_Engine.m_bRunning = false;
}

TEST(DocumentInMainWindow, PasteGoesIntoTheChannelOfTheActivePane) {
  TMainWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
  auto* r = w.frame->Router();
  QImage picture(5, 4, QImage::Format_RGB32);
  picture.fill(QColor(10, 20, 30));
  QGuiApplication::clipboard()->setImage(picture);
  w.frame->TestClipboard();                                    // what opening the Edit menu does
  ASSERT_TRUE(w.Execute(ZarnCommands::ID_VIEW_PRIMARY_PANE));  // all panes
  w.document->SetActiveView(w.document->PaneView(3));
  ASSERT_TRUE(r->Update(ZarnCommands::ID_EDIT_PASTE).Enabled());
  EXPECT_TRUE(w.Execute(ZarnCommands::ID_EDIT_PASTE));
  EXPECT_TRUE(doc.m_Source[3].bOpen);
  EXPECT_FALSE(doc.m_Source[0].bOpen);
  const VideoPort::TPicture front = doc.m_VideoPortHub.Port(3).FrontBitmap();
  ASSERT_TRUE(front);
  EXPECT_EQ(front->Width(), 5);
  EXPECT_EQ(front->Height(), 4);
  QGuiApplication::clipboard()->clear();
}

TEST(DocumentInMainWindow, TheDocumentsOpenNoticeChangesTheOpenButton) {
  TMainWindow w;
  shell::CCustomToolBar* standard = w.frame->ToolBar(shell::ID_VIEW_TOOLBAR_STANDARD);
  ASSERT_NE(standard, nullptr);
  w.Doc().NotifyOpenButton(shell::ID_FILE_OPEN_DEVICE);
  EXPECT_EQ(standard->CommandAt(1), static_cast<UINT>(shell::ID_FILE_OPEN_DEVICE));
  // The layout commands put themselves on the View toolbar's first button.
  ASSERT_TRUE(w.Execute(ZarnCommands::ID_VIEW_CONTROLLER_PANE));
  EXPECT_EQ(w.frame->ToolBar(shell::ID_VIEW_TOOLBAR_VIEW)->CommandAt(0),
            static_cast<UINT>(ZarnCommands::ID_VIEW_CONTROLLER_PANE));
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
