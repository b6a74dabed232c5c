#include "shell/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>
#include <QToolBar>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "platform/byte_order.h"
#include "platform/qt/app_messages.h"
#include "shell/command_ids.h"
#include "shell/visual_manager.h"

using namespace shell;
using MainFrame::CMainFrame;
using platform::qt::TCmdCode;
using platform::qt::TCmdUI;

namespace {

// A document window that records the commands offered to it.
class TTestDocument : public QLabel, public IChildFrame, public IMediaDocument {
 public:
  explicit TTestDocument(const QString& title, std::vector<std::string>* log) : m_log(log) {
    setWindowTitle(title);
    setText(title);
  }
  QWidget* Widget() override { return this; }
  IMediaDocument* Document() override { return this; }
  platform::qt::ICommandTarget* FrameTarget() override { return &frame; }
  std::vector<platform::qt::ICommandTarget*> ViewTargets() override { return {&view}; }
  int Number() const override { return 1; }
  std::string Title() const override { return windowTitle().toStdString(); }
  bool SaveModified() override { return mayClose; }
  bool OnOpenDocument(const std::string&) override { return true; }
  void StartPlaying() override {}
  bool IsPlaying() const override { return false; }
  bool OnCmdMsg(UINT id, TCmdCode code, TCmdUI* ui) override { return doc.OnCmdMsg(id, code, ui); }

  platform::qt::CCmdTarget doc, frame, view;
  bool mayClose = true;
  std::vector<std::string>* m_log;
};

struct TFrame {
  explicit TFrame(bool saved = false, const std::function<void(TProgCfg&)>& setUp = {}) {
    if (saved) cfg.savedMarker = 1;
    if (setUp) setUp(cfg);
    frame = std::make_unique<CMainFrame>(state, cfg, &app);
  }
  bool Load() {
    const bool ok = frame->LoadFrame();
    frame->show();
    QApplication::processEvents();
    return ok;
  }
  TTestDocument* AddDoc(const QString& title) {
    auto* d = new TTestDocument(title, &log);
    frame->AddChildFrame(d);
    return d;
  }
  TShellState state;
  TProgCfg cfg;
  platform::qt::CCmdTarget app;
  std::vector<std::string> log;
  std::unique_ptr<CMainFrame> frame;
};

std::vector<QString> MenuTitles(QMenuBar* bar) {
  std::vector<QString> out;
  for (QAction* a : bar->actions())
    if (a->isVisible()) out.push_back(a->text());
  return out;
}

}  // namespace

TEST(MainFrame, BarsPanesAndMenusOfAFirstStart) {
  TFrame f;
  ASSERT_TRUE(f.Load());
  CMainFrame& w = *f.frame;

  // Eight toolbars in one row, in this order, with their captions.
  const std::vector<std::pair<UINT, QString>> bars = {
      {ID_VIEW_TOOLBAR_STANDARD, "Standard"}, {ID_VIEW_TOOLBAR_NAVIGATE, "Navigate"},
      {ID_VIEW_TOOLBAR_PLAY, "Play"},         {ID_VIEW_TOOLBAR_CAPTURE, "Capture"},
      {ID_VIEW_TOOLBAR_VIEW, "View"},         {ID_VIEW_TOOLBAR_ZOOM, "Zoom"},
      {ID_VIEW_TOOLBAR_REPLAY, "Replay"},     {ID_VIEW_TOOLBAR_DVD, "DVD"}};
  int lastX = -1;
  for (const auto& [id, caption] : bars) {
    QToolBar* tb = w.ToolBar(id);
    ASSERT_NE(tb, nullptr) << caption.toStdString();
    EXPECT_EQ(tb->windowTitle(), caption);
    EXPECT_EQ(w.toolBarArea(tb), Qt::TopToolBarArea);
    EXPECT_EQ(tb->iconSize(), QSize(24, 24)) << "image set 3 by default";
    const bool shown = id != ID_VIEW_TOOLBAR_REPLAY && id != ID_VIEW_TOOLBAR_DVD;
    EXPECT_EQ(tb->isVisible(), shown) << caption.toStdString();
    if (shown) {
      EXPECT_GT(tb->geometry().x(), lastX) << "left to right in creation order";
      EXPECT_EQ(tb->geometry().y(), w.ToolBar(ID_VIEW_TOOLBAR_STANDARD)->geometry().y()) << "one row";
      lastX = tb->geometry().x();
    }
  }
  // Buttons of the Play toolbar.
  std::vector<UINT> play;
  for (QAction* a : w.ToolBar(ID_VIEW_TOOLBAR_PLAY)->actions())
    if (UINT id = w.Router()->IdOf(a)) play.push_back(id);
  EXPECT_EQ(play, (std::vector<UINT>{ID_NAVIGATE_START_PAUSE, ID_NAVIGATE_STOP, ID_NAVIGATE_ENABLE_PLAYING}));
  EXPECT_EQ(w.Router()->Action(ID_NAVIGATE_START_PAUSE)->toolTip(), "Start / Pause - Replay");
  EXPECT_EQ(w.Router()->Action(ID_REPLAY_FIRST)->toolTip(), "Frst cached frame");

  // The panes: the explorer collapsed on the left border, the properties hidden.
  ASSERT_NE(w.ExplorerPane(), nullptr);
  ASSERT_NE(w.PropertiesPane(), nullptr);
  EXPECT_EQ(w.ExplorerPane()->windowTitle(), "Tovrin Explorer");
  EXPECT_EQ(w.PropertiesPane()->windowTitle(), "Properties");
  EXPECT_EQ(w.dockWidgetArea(w.ExplorerPane()), Qt::LeftDockWidgetArea);
  EXPECT_EQ(w.dockWidgetArea(w.PropertiesPane()), Qt::RightDockWidgetArea);
  EXPECT_FALSE(w.PropertiesPane()->isVisible());
  EXPECT_FALSE(w.ExplorerPane()->isVisible());
  auto* tab = w.findChild<QWidget*>("ExplorerTab");
  ASSERT_NE(tab, nullptr);
  EXPECT_TRUE(tab->isVisible());

  // Status bar: the message pane and the three lock indicators.
  EXPECT_TRUE(w.statusBar()->isVisible());
  for (const char* name : {"IndicatorCAP", "IndicatorNUM", "IndicatorSCRL"})
    EXPECT_NE(w.statusBar()->findChild<QLabel*>(name), nullptr) << name;

  // Menus.
  EXPECT_EQ(MenuTitles(w.menuBar()), (std::vector<QString>{"&File", "&Edit", "&View", "&Navigate", "&Capture",
                                                           "Tools", "&Window", "&Help"}));
  // The DVD commands are a submenu of Navigate.
  QMenu* navigate = w.PopupMenu("Navigate");
  QMenu* dvd = w.PopupMenu("DVD");
  ASSERT_NE(navigate, nullptr);
  ASSERT_NE(dvd, nullptr);
  EXPECT_TRUE(navigate->actions().contains(dvd->menuAction()));
  for (UINT id : {ID_DVD_ROOT_MENU, ID_DVD_NAVIGATE, ID_DVD_ENABLE_NAVIGATION})
    EXPECT_TRUE(dvd->actions().contains(w.Router()->Action(id))) << id;
  EXPECT_EQ(w.windowTitle(), "Tovrin");
}

TEST(MainFrame, NonPermittedCommandsLeaveMenusAndToolbars) {
  TFrame f;
  ASSERT_TRUE(f.Load());
  CMainFrame& w = *f.frame;
  for (UINT id : {ID_EDIT_CUT, ID_EDIT_UNDO, ID_TOOLS_MORE_OPTIONS, ID_WINDOW_CASCADE, ID_WINDOW_TILE_HORZ,
                  ID_WINDOW_TILE_VERT, ID_WINDOW_ARRANGE}) {
    EXPECT_FALSE(w.IsPermitted(id)) << id;
    EXPECT_FALSE(w.Router()->Action(id)->isVisible()) << id;
  }
  for (QAction* a : w.ToolBar(ID_VIEW_TOOLBAR_STANDARD)->actions())
    EXPECT_NE(w.Router()->IdOf(a), static_cast<UINT>(ID_EDIT_CUT));
  EXPECT_TRUE(w.IsPermitted(ID_WINDOW_NEW_VERT_TAB_GROUP));

  // Without tabs it is the other way round.
  w.MdiTabSettings()[0] = 0;
  w.ApplyMDITabSettings(false);
  EXPECT_TRUE(w.IsPermitted(ID_WINDOW_CASCADE));
  EXPECT_FALSE(w.IsPermitted(ID_WINDOW_NEW_VERT_TAB_GROUP));
  EXPECT_FALSE(w.IsPermitted(ID_EDIT_CUT));
  EXPECT_EQ(w.MdiClient()->TabMode(), 0);
}

TEST(MainFrame, TabGroupCommandsThroughTheWindowMenu) {
  TFrame f;
  ASSERT_TRUE(f.Load());
  CMainFrame& w = *f.frame;
  f.AddDoc("DM1");
  auto* d2 = f.AddDoc("DM2");
  QMenu* window = w.PopupMenu("Window");
  ASSERT_NE(window, nullptr);
  emit window->aboutToShow();
  auto* router = w.Router();
  EXPECT_TRUE(router->Action(ID_WINDOW_NEW_VERT_TAB_GROUP)->isVisible());
  EXPECT_TRUE(router->Action(ID_WINDOW_NEW_VERT_TAB_GROUP)->isEnabled());
  EXPECT_FALSE(router->Action(ID_WINDOW_MOVE_TO_NEXT_TAB_GROUP)->isVisible());

  router->Action(ID_WINDOW_NEW_VERT_TAB_GROUP)->trigger();
  EXPECT_EQ(w.MdiClient()->GroupCount(), 2);
  EXPECT_EQ(w.MdiClient()->GroupOf(d2), 1);
  emit window->aboutToShow();
  EXPECT_TRUE(router->Action(ID_WINDOW_MOVE_TO_PREV_TAB_GROUP)->isVisible());
  EXPECT_FALSE(router->Action(ID_WINDOW_NEW_HORZ_TAB_GROUP)->isVisible());
  router->Action(ID_WINDOW_MOVE_TO_PREV_TAB_GROUP)->trigger();
  QApplication::processEvents();
  EXPECT_EQ(w.MdiClient()->GroupCount(), 1);
  EXPECT_EQ(w.ActiveChildFrame(), d2);
  // A document window in a tab group fills the document area: maximised.
  EXPECT_EQ(w.windowTitle(), "Tovrin - [DM2]");
}

TEST(MainFrame, CommandsGoToTheActiveViewItsDocumentItsWindowTheFrameAndTheApplicationInThatOrder) {
  TFrame f;
  ASSERT_TRUE(f.Load());
  auto* d = f.AddDoc("DM1");
  std::vector<std::string> ran;
  d->doc.OnCommand(ID_FILE_SAVE, [&] { ran.push_back("doc"); });
  d->frame.OnCommand(ID_FILE_SAVE, [&] { ran.push_back("frame"); });
  d->frame.OnCommand(ID_VIEW_PANE_LAYOUT, [&] { ran.push_back("frame"); });
  d->view.OnCommand(ID_VIEW_PANE_LAYOUT, [&] { ran.push_back("view"); });
  d->view.OnCommand(ID_EDIT_COPY, [&] { ran.push_back("view"); });
  f.app.OnCommand(ID_EDIT_COPY, [&] { ran.push_back("app"); });
  f.app.OnCommand(ID_APP_ABOUT, [&] { ran.push_back("app"); });
  f.app.OnCommand(ID_VIEW_TOOLBAR_DVD, [&] { ran.push_back("app"); });
  auto* r = f.frame->Router();
  for (UINT id : {ID_FILE_SAVE, ID_VIEW_PANE_LAYOUT, ID_EDIT_COPY, ID_APP_ABOUT}) EXPECT_TRUE(r->Execute(id));
  // The active view before the document window, the document before it.
  EXPECT_EQ(ran, (std::vector<std::string>{"doc", "view", "view", "app"}));
  // The frame's own toolbar toggle comes before the application.
  EXPECT_TRUE(f.frame->ToolBar(ID_VIEW_TOOLBAR_DVD)->isHidden());
  r->Execute(ID_VIEW_TOOLBAR_DVD);
  EXPECT_TRUE(f.frame->ToolBar(ID_VIEW_TOOLBAR_DVD)->isVisible());
  EXPECT_EQ(ran.size(), 4u);
  EXPECT_TRUE(r->Update(ID_VIEW_TOOLBAR_DVD).Check() == 1);
  // Without a document its commands are off.
  delete d;
  QApplication::processEvents();
  EXPECT_FALSE(r->Update(ID_FILE_SAVE).Enabled());
  EXPECT_TRUE(r->Update(ID_APP_ABOUT).Enabled());
}

TEST(MainFrame, TheFramesSettingsGroupComesFromAndGoesBackToTheSettingsBlock) {
  {
    // Saved settings: the frame takes its group, look and switches.
    TFrame f(true, [](TProgCfg& c) {
      // One row of tabs with auto colour and the document menu on.
      c.mdiTabs = {1, 0, 1, 5, 1, 0, 1, 1, 1, 0, 1, 1, 1};
      c.lookId = 4;
      c.toolbarImageStyle = 1;
      c.startPlaying = {0, 1, 0, 1, 0, 1, 0};
    });
    EXPECT_EQ(f.state.lookId, 4);
    EXPECT_EQ(f.state.toolbarImageStyle, 1);
    EXPECT_EQ(f.state.startPlaying, (std::array<std::uint8_t, 7>{0, 1, 0, 1, 0, 1, 0}));
    ASSERT_TRUE(f.Load());
    EXPECT_EQ(f.frame->MdiClient()->TabMode(), 1);
    EXPECT_EQ(f.frame->MdiClient()->TabInfo().tabsOnTop, false);
    // Every saved tab setting holds from the start, not only once the tab
    // settings are applied again.
    EXPECT_TRUE(f.frame->MdiClient()->TabInfo().autoColor);
    EXPECT_TRUE(f.frame->MdiClient()->TabInfo().documentMenu);
    EXPECT_EQ(f.frame->ToolBar(ID_VIEW_TOOLBAR_STANDARD)->iconSize(), QSize(16, 16));
    // Image set 1 has "Open File To" on the Standard toolbar.
    bool openTo = false;
    for (QAction* a : f.frame->ToolBar(ID_VIEW_TOOLBAR_STANDARD)->actions())
      openTo = openTo || f.frame->Router()->IdOf(a) == ID_FILE_OPEN_TO;
    EXPECT_TRUE(openTo);
  }
  {
    // Nothing saved: defaults, and the destructor still writes the group.
    TFrame f(false, [](TProgCfg& c) { c.lookId = 4; });  // ignored without the saved marker
    EXPECT_EQ(f.state.lookId, 13);
    ASSERT_TRUE(f.Load());
    EXPECT_EQ(f.frame->MdiClient()->TabMode(), 2);
    f.state.lookId = 9;
    f.frame.reset();
    EXPECT_EQ(f.cfg.lookId, 9);
    EXPECT_EQ(f.cfg.toolbarImageStyle, 3);
    EXPECT_EQ(f.cfg.mdiTabs, MainFrame::kDefaultMdiTabSettings);
    EXPECT_EQ(f.cfg.startPlaying, (std::array<std::uint8_t, 7>{1, 1, 1, 1, 1, 1, 1}));
  }
}

TEST(MainFrame, PrivateMessages) {
  using namespace platform::qt;
  TFrame f;
  ASSERT_TRUE(f.Load());
  CMainFrame& w = *f.frame;

  EXPECT_FALSE(w.MediaViewCreated());
  SendAppMessage(&w, WM_APP_VIEW_CREATED, 0, 1);
  EXPECT_TRUE(w.MediaViewCreated());

  // The application-look exchange: read, then write a new look.
  std::array<std::uint8_t, 24> look{};
  platform::StoreLE32(look.data(), APP_OP_READ);
  f.state.resetLayoutAtExit = 1;
  SendAppMessageWithRecord(&w, WM_APP_OPTS_APP_LOOK, 0, RecordParam(look.data()));
  EXPECT_EQ(look[4], 1);
  EXPECT_EQ(platform::LoadLE32(look.data() + 8), 13u);
  EXPECT_EQ(look[20], 1);
  look = {};
  platform::StoreLE32(look.data(), APP_OP_WRITE);
  platform::StoreLE32(look.data() + 8, 12);
  look[12] = 1;
  SendAppMessageWithRecord(&w, WM_APP_OPTS_APP_LOOK, 0, RecordParam(look.data()));
  EXPECT_EQ(look[4], 1);
  EXPECT_EQ(f.state.lookId, 12);
  EXPECT_EQ(f.state.resetLayoutAtExit, 0);
  // The new look is applied when the posted change arrives.
  QApplication::processEvents();
  EXPECT_EQ(f.state.lookChanged, 0);
  EXPECT_EQ(VisualManagerEx::CVisualManagerEx::ColorScheme(), 0);

  // The tab-groups notice is answered only outside tabbed groups.
  TFrameNotice notice;
  notice.code = FRAME_REQ_TAB_GROUPS_CHANGED;
  SendAppRecord(&w, WM_APP_FRAME_NOTIFY, FRAME_NOTIFY_TAB_GROUPS, notice);
  EXPECT_EQ(notice.answered, 0);
  w.MdiTabSettings()[0] = 1;
  w.ApplyMDITabSettings(false);
  TFrameNotice again;
  again.code = FRAME_REQ_TAB_GROUPS_CHANGED;
  SendAppRecord(&w, WM_APP_FRAME_NOTIFY, FRAME_NOTIFY_TAB_GROUPS, again);
  EXPECT_EQ(again.answered, 1);
  shell::ApplyLook(13);
}

TEST(MainFrame, ClosingWaitsForDocumentsThatAreStillBusy) {
  TFrame f;
  ASSERT_TRUE(f.Load());
  auto* busy = f.AddDoc("DM1");
  busy->mayClose = false;
  EXPECT_FALSE(f.frame->close());
  EXPECT_TRUE(f.frame->isVisible());
  EXPECT_EQ(f.frame->ChildFrames().size(), 1u);
  // The document agrees a little later: the waiting close goes through.
  busy->mayClose = true;
  for (int i = 0; i < 50 && f.frame->isVisible(); ++i) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  EXPECT_FALSE(f.frame->isVisible());
  EXPECT_TRUE(f.frame->ChildFrames().empty());
}

TEST(MainFrame, TheWindowsDialogActivatesAndClosesDocuments) {
  TFrame f;
  ASSERT_TRUE(f.Load());
  auto* r = f.frame->Router();
  EXPECT_FALSE(r->Update(ID_WINDOW_MANAGER).Enabled()) << "no windows, no dialog";
  auto* d1 = f.AddDoc("DM1");
  f.AddDoc("DM2");
  auto* d3 = f.AddDoc("DM3");
  d3->mayClose = false;
  EXPECT_TRUE(r->Update(ID_WINDOW_MANAGER).Enabled());
  std::unique_ptr<QDialog> dlg(f.frame->CreateWindowsDialog());
  auto* list = dlg->findChild<QListWidget*>("WindowList");
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->item(0)->text(), "DM1");
  EXPECT_EQ(list->currentItem()->text(), "DM3") << "the active window is selected";

  list->clearSelection();
  list->item(0)->setSelected(true);
  dlg->findChild<QPushButton*>("Activate")->click();
  EXPECT_EQ(f.frame->ActiveChildFrame(), d1);

  std::unique_ptr<QDialog> again(f.frame->CreateWindowsDialog());
  list = again->findChild<QListWidget*>("WindowList");
  list->selectAll();
  again->findChild<QPushButton*>("CloseWindows")->click();
  // The busy document stays, the others close.
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text(), "DM3");
  EXPECT_EQ(f.frame->ChildFrames().size(), 1u);
}

// Window > Close All while a document played stopped it and left its window
// open: the window now closes once the document has ended its session.
TEST(MainFrame, CloseAllClosesABusyDocumentOnceItsSessionHasEnded) {
  TFrame f;
  ASSERT_TRUE(f.Load());
  f.AddDoc("DM1");
  auto* busy = f.AddDoc("DM2");
  busy->mayClose = false;
  EXPECT_FALSE(f.frame->CloseAllDocuments());
  ASSERT_EQ(f.frame->ChildFrames().size(), 1u) << "the idle document closed at once";
  EXPECT_EQ(f.frame->ChildFrames().front(), busy);
  // Asked again (the menu twice): still one window, one wait.
  EXPECT_FALSE(f.frame->CloseAllDocuments());
  for (int i = 0; i < 30; ++i) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(10);
  }
  EXPECT_EQ(f.frame->ChildFrames().size(), 1u) << "a document still busy keeps its window";

  busy->mayClose = true;  // the session has ended
  QElapsedTimer waited;
  waited.start();
  while (!f.frame->ChildFrames().empty() && waited.elapsed() < 3000) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  EXPECT_TRUE(f.frame->ChildFrames().empty());
  EXPECT_LT(waited.elapsed(), 1000) << "closed within a few tries of 100 ms";
  EXPECT_TRUE(f.frame->isVisible()) << "only the document window closed";
}

TEST(MainFrame, TheFileMenuSaysSaveAsWithoutAnAcceleratorWhileADocumentIsActive) {
  TFrame f;
  ASSERT_TRUE(f.Load());
  QMenu* file = f.frame->PopupMenu("File");
  ASSERT_NE(file, nullptr);
  QAction* saveAs = f.frame->Router()->Action(ID_FILE_SAVE_AS);
  ASSERT_TRUE(file->actions().contains(saveAs));
  EXPECT_EQ(saveAs->text(), "Save &As...");
  TTestDocument* doc = f.AddDoc("DM1");
  QApplication::processEvents();
  EXPECT_EQ(saveAs->text(), "Save As...");
  ASSERT_TRUE(f.frame->CloseWindow(doc));
  QApplication::processEvents();
  EXPECT_EQ(saveAs->text(), "Save &As...");
}
