// The main window's menus, prompts and keys as the user sees them, the
// Paste rule, the notices that change toolbar buttons and the window title.

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/qt/app_messages.h"
#include "shell/command_ids.h"
#include "shell/main_frame.h"

// What the key-press path of the toolkit does with a key before the focus
// widget sees it: true when a shortcut took it.
Q_GUI_EXPORT bool qt_sendShortcutOverrideEvent(QObject* o, ulong timestamp, int k, Qt::KeyboardModifiers mods,
                                               const QString& text, bool autorep, ushort count);

using namespace shell;
using MainFrame::CMainFrame;
using platform::qt::TCmdCode;
using platform::qt::TCmdUI;

namespace {

class TDocWindow : public QLabel, public IChildFrame, public IMediaDocument {
 public:
  explicit TDocWindow(const QString& title) { setWindowTitle(title); }
  QWidget* Widget() override { return this; }
  IMediaDocument* Document() override { return this; }
  platform::qt::ICommandTarget* FrameTarget() override { return &target; }
  std::vector<platform::qt::ICommandTarget*> ViewTargets() override { return {}; }
  int Number() const override { return 1; }
  std::string Title() const override { return windowTitle().toStdString(); }
  bool SaveModified() override { return true; }
  bool OnOpenDocument(const std::string&) override { return true; }
  void StartPlaying() override {}
  bool IsPlaying() const override { return false; }
  bool OnCmdMsg(UINT id, TCmdCode code, TCmdUI* ui) override { return target.OnCmdMsg(id, code, ui); }
  platform::qt::CCmdTarget target;
};

struct TFrame {
  TFrame() { frame = std::make_unique<CMainFrame>(state, cfg, &app); }
  bool Load() {
    const bool ok = frame->LoadFrame();
    frame->show();
    QApplication::processEvents();
    return ok;
  }
  TShellState state;
  TProgCfg cfg;
  platform::qt::CCmdTarget app;
  std::unique_ptr<CMainFrame> frame;
};

// A menu as lines: "text=id" for a command, "-" for a separator and
// "[name]" before the lines of a submenu, which carry "name/" in front.
std::vector<std::string> Lines(QMenu* menu, const std::string& prefix = {}) {
  std::vector<std::string> out;
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) {
      out.push_back(prefix + "-");
    } else if (QMenu* sub = a->menu()) {
      const std::string name = a->text().toStdString();
      out.push_back(prefix + "[" + name + "]");
      for (const std::string& line : Lines(sub, prefix + name + "/")) out.push_back(line);
    } else {
      out.push_back(prefix + a->text().toStdString() + "=" +
                    std::to_string(CMainFrame::ContextMenuCommand(a)));
    }
  }
  return out;
}

std::vector<std::string> CommandsOf(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& l : lines)
    if (l.back() != '-' && l.back() != ']') out.push_back(l);
  return out;
}

void ClearClipboard() { QGuiApplication::clipboard()->clear(); }
void PutPicture() {
  QImage image(4, 3, QImage::Format_RGB32);
  image.fill(Qt::red);
  QGuiApplication::clipboard()->setImage(image);
}

}  // namespace

TEST(MainFrameMenus, ThePaneMenuHasTheItemsOfThePaneInTheirOrderAndTexts) {
  TFrame f;
  ASSERT_TRUE(f.Load());
  std::unique_ptr<QMenu> menu(f.frame->CreateContextMenu(MainFrame::kPaneContextMenu, nullptr));
  ASSERT_NE(menu, nullptr);
  const std::vector<std::string> expected = {
      "Start / Pause - Replay=32871",
      "Stop=32823",
      "Start / Stop recording=32837",
      "Capture image=32838",
      "&Copy\tCtrl+C=57634",
      "&Paste\tCtrl+V=57637",
      "Open File...=57601",
      "Open Media Device...=32865",
      "Save &As...=57604",
      "&Print...=57607",
      "Primary Video Pane / All Panes=32772",
      "Right Column Video Panes=32774",
      "Bottom Row Video Panes=32775",
      "Controller Pane=32773",
      "Video Pane / Channel Layout=32776",
      "Full screen\tF11=32778",
      "Full screen options\tCtrl+F11=32780",
      "Zoom/Zoom in=32781",
      "Zoom/Zoom out=32782",
      "Zoom/1000%=32783",
      "Zoom/500%=32784",
      "Zoom/200%=32785",
      "Zoom/175%=32786",
      "Zoom/150%=32787",
      "Zoom/125%=32788",
      "Zoom/100%  : Actual Size=32789",
      "Zoom/50%=32790",
      "Zoom/25%=32791",
      "Zoom/10%=32792",
      "Zoom/Keep in view=32798",
      "Zoom/Fit view=32794",
      "Zoom/Fit width=32795",
      "Zoom/Fit height=32796",
      "Zoom/Fill view=32797",
      "Zoom/Custom...=32799",
      "Rotate and Reflect/Rotate right 90\xC2\xB0=32925",
      "Rotate and Reflect/Rotate left 90\xC2\xB0=32926",
      "Rotate and Reflect/Rotate 180\xC2\xB0=32927",
      "Rotate and Reflect/Reflect vertical=32928",
      "Rotate and Reflect/Reflect horizontal=32929",
      "Rotate and Reflect/Reflect in diagonal y = x=32930",
      "Rotate and Reflect/Reflect in diagonal y = -x=32931",
      "Rotate and Reflect/Custom...=32934",
      "Rotate and Reflect/Reset=32924",
      "Options...=32831",
      "Status...=32779",
  };
  EXPECT_EQ(CommandsOf(Lines(menu.get())), expected);
  // The two submenus by name, in this order.
  std::vector<QString> subs;
  for (QAction* a : menu->actions())
    if (a->menu()) subs.push_back(a->text());
  EXPECT_EQ(subs, (std::vector<QString>{"Zoom", "Rotate and Reflect"}));
}

TEST(MainFrameMenus, ContextMenuItemsRunTheirCommandsAndAreOffWhileNobodyHandlesThem) {
  TFrame f;
  ASSERT_TRUE(f.Load());
  std::vector<UINT> ran;
  f.app.OnCommand(ID_TOOLS_STATUS, [&] { ran.push_back(ID_TOOLS_STATUS); });
  f.app.OnUpdate(ID_VIEW_CONTROLLER_PANE, [](TCmdUI& ui) { ui.SetCheck(1); });
  f.app.OnCommand(ID_VIEW_CONTROLLER_PANE, [&] { ran.push_back(ID_VIEW_CONTROLLER_PANE); });
  std::unique_ptr<QMenu> menu(f.frame->CreateContextMenu(MainFrame::kPaneContextMenu, nullptr));
  ASSERT_NE(menu, nullptr);
  emit menu->aboutToShow();
  QAction* status = nullptr;
  QAction* start = nullptr;
  QAction* controller = nullptr;
  for (QAction* a : menu->actions()) {
    const UINT id = CMainFrame::ContextMenuCommand(a);
    if (id == ID_TOOLS_STATUS) status = a;
    if (id == ID_NAVIGATE_START_PAUSE) start = a;
    if (id == ID_VIEW_CONTROLLER_PANE) controller = a;
  }
  ASSERT_TRUE(status && start && controller);
  EXPECT_TRUE(status->isEnabled());
  EXPECT_FALSE(start->isEnabled()) << "no document plays anything here";
  EXPECT_TRUE(controller->isChecked());
  status->trigger();
  controller->trigger();
  EXPECT_EQ(ran, (std::vector<UINT>{ID_TOOLS_STATUS, ID_VIEW_CONTROLLER_PANE}));

  std::unique_ptr<QMenu> edit(f.frame->CreateContextMenu(MainFrame::kEditContextMenu, nullptr));
  ASSERT_NE(edit, nullptr);
  ASSERT_EQ(edit->actions().size(), 3);
  EXPECT_FALSE(edit->actions()[0]->isVisible()) << "Cut is never offered";
  EXPECT_EQ(CMainFrame::ContextMenuCommand(edit->actions()[2]), static_cast<UINT>(ID_EDIT_PASTE));

  std::unique_ptr<QMenu> controllerMenu(
      f.frame->CreateContextMenu(MainFrame::kControllerContextMenu, nullptr));
  ASSERT_NE(controllerMenu, nullptr);
  EXPECT_EQ(CommandsOf(Lines(controllerMenu.get())),
            (std::vector<std::string>{"Minimize / Restore Pane=1026", "Close Controller=1027",
                                      "Group by Function=1112", "Group by Channel=1113"}));
  EXPECT_EQ(f.frame->CreateContextMenu(999, nullptr), nullptr);
}

TEST(MainFrameMenus, EachContextMenuCarriesTheNameItIsRegisteredUnder) {
  TFrame f;
  ASSERT_TRUE(f.Load());
  const std::pair<int, const char*> names[] = {
      {109, "Edit"}, {172, "Explorer"}, {230, "Zarn View"}, {231, "Zarn Controller View"}};
  for (const auto& [id, name] : names) {
    std::unique_ptr<QMenu> menu(f.frame->CreateContextMenu(id, nullptr));
    ASSERT_NE(menu, nullptr) << id;
    EXPECT_EQ(menu->title().toStdString(), name) << id;
  }
  EXPECT_TRUE(CMainFrame::ContextMenuName(999).isEmpty());
}

TEST(MainFrameMenus, TheExplorerMenuShowsAsLoadedAndRunsNothingItself) {
  TFrame f;
  ASSERT_TRUE(f.Load());
  std::vector<UINT> ran;
  f.app.OnCommand(ID_FILE_OPEN, [&] { ran.push_back(ID_FILE_OPEN); });
  std::unique_ptr<QMenu> menu(f.frame->CreateContextMenu(MainFrame::kExplorerContextMenu, nullptr));
  ASSERT_NE(menu, nullptr);
  emit menu->aboutToShow();
  EXPECT_EQ(Lines(menu.get()),
            (std::vector<std::string>{"&Open=57601", "Open &To...=32770", "-", "&Close=57602",
                                      "Close From=32849", "-", "&Copy\tCtrl+C=57634", "&Paste\tCtrl+V=57637",
                                      "Copy From...=127", "&Paste To...=128", "-", "&Properties...=124"}));
  // Every item as loaded, though no document handles any of them here.
  for (QAction* a : menu->actions()) {
    if (!a->isSeparator()) {
      EXPECT_TRUE(a->isEnabled() && a->isVisible()) << a->text().toStdString();
    }
  }
  // The pane that shows the menu runs the chosen command itself.
  menu->actions().front()->trigger();
  EXPECT_TRUE(ran.empty());
}

TEST(MainFrameMenus, PaneLayoutPromptsAndTheRotateAndReflectMenu) {
  TFrame f;
  ASSERT_TRUE(f.Load());
  auto* r = f.frame->Router();
  const std::pair<UINT, const char*> prompts[] = {
      {ID_VIEW_PRIMARY_PANE, "Maximize primary video pane / Show all panes"},
      {ID_VIEW_CONTROLLER_PANE, "Show or hide controller pane"},
      {ID_VIEW_RIGHT_COLUMN_PANES, "Show or hide video panes in the right column"},
      {ID_VIEW_BOTTOM_ROW_PANES, "Show or hide video panes in the bottom row"},
      {ID_VIEW_PANE_LAYOUT, "Modify video pane /channel layout"},
  };
  for (const auto& [id, prompt] : prompts) EXPECT_EQ(r->Action(id)->statusTip().toStdString(), prompt) << id;

  QMenu* view = f.frame->PopupMenu("View");
  ASSERT_NE(view, nullptr);
  QMenu* turn = view->findChild<QMenu*>("Rotate and Reflect");
  ASSERT_NE(turn, nullptr);
  EXPECT_EQ(turn->title(), "Rotate and Reflect");
  bool custom = false;
  for (QAction* a : turn->actions())
    if (a == r->Action(ID_TRANSFORM_CUSTOM)) custom = a->text() == "Custom...";
  EXPECT_TRUE(custom);
}

TEST(MainFrameMenus, CtrlWithTheKeypadsPlusAndMinusZooms) {
  TFrame f;
  ASSERT_TRUE(f.Load());
  std::vector<UINT> ran;
  f.app.OnCommand(ID_ZOOM_IN, [&] { ran.push_back(ID_ZOOM_IN); });
  f.app.OnCommand(ID_ZOOM_OUT, [&] { ran.push_back(ID_ZOOM_OUT); });
  f.frame->activateWindow();
  QApplication::setActiveWindow(f.frame.get());
  QApplication::processEvents();
  const Qt::KeyboardModifiers keypad = Qt::ControlModifier | Qt::KeypadModifier;
  f.frame->Router()->UpdateActions();  // the commands have handlers now
  EXPECT_TRUE(qt_sendShortcutOverrideEvent(f.frame.get(), 0, Qt::Key_Plus, keypad, "+", false, 1));
  EXPECT_TRUE(qt_sendShortcutOverrideEvent(f.frame.get(), 0, Qt::Key_Minus, keypad, "-", false, 1));
  EXPECT_EQ(ran, (std::vector<UINT>{ID_ZOOM_IN, ID_ZOOM_OUT}));
}

TEST(MainFrameMenus, PasteLooksAtTheClipboardFirstAtTheEighthUpdateThenAtEverySeventh) {
  ClearClipboard();
  TFrame f;  // not loaded: nothing updates the commands behind the test's back
  auto* r = f.frame->Router();
  PutPicture();
  for (int i = 1; i <= 7; ++i) EXPECT_FALSE(r->Update(ID_EDIT_PASTE).Enabled()) << i;
  EXPECT_TRUE(r->Update(ID_EDIT_PASTE).Enabled()) << "the eighth update looks";
  ClearClipboard();
  for (int i = 1; i <= 6; ++i) EXPECT_TRUE(r->Update(ID_EDIT_PASTE).Enabled()) << i;
  EXPECT_FALSE(r->Update(ID_EDIT_PASTE).Enabled()) << "the seventh update after a look looks again";
  // Opening a menu looks at once.
  PutPicture();
  f.frame->TestClipboard();
  EXPECT_TRUE(r->Update(ID_EDIT_PASTE).Enabled());
  EXPECT_TRUE(f.frame->ClipboardHasPicture());
  // Text is no picture.
  for (int i = 0; i < 7; ++i) r->Update(ID_EDIT_PASTE);
  QGuiApplication::clipboard()->setText("not a picture");
  f.frame->TestClipboard();
  EXPECT_FALSE(r->Update(ID_EDIT_PASTE).Enabled());
  ClearClipboard();
}

TEST(MainFrameMenus, OpenAndViewNoticesPutTheReportedCommandOnTheirButton) {
  TFrame f;
  ASSERT_TRUE(f.Load());
  using namespace platform::qt;
  auto notify = [&](WPARAM w, std::int32_t code) {
    TFrameNotice notice;
    notice.code = code;
    return SendAppRecord(f.frame.get(), WM_APP_FRAME_NOTIFY, w, notice);
  };
  CCustomToolBar* standard = f.frame->ToolBar(ID_VIEW_TOOLBAR_STANDARD);
  CCustomToolBar* view = f.frame->ToolBar(ID_VIEW_TOOLBAR_VIEW);
  ASSERT_TRUE(standard && view);
  ASSERT_EQ(standard->CommandAt(1), static_cast<UINT>(ID_FILE_OPEN));

  EXPECT_EQ(notify(FRAME_NOTIFY_OPEN_BUTTON, ID_FILE_OPEN_DVD), 1);
  EXPECT_EQ(standard->CommandAt(1), static_cast<UINT>(ID_FILE_OPEN_DVD));
  const auto shown = standard->VisibleCommands();
  EXPECT_NE(std::find(shown.begin(), shown.end(), ID_FILE_OPEN_DVD), shown.end());
  EXPECT_EQ(std::find(shown.begin(), shown.end(), ID_FILE_OPEN), shown.end());
  // Not a way of opening: the button stays.
  notify(FRAME_NOTIFY_OPEN_BUTTON, ID_TOOLS_OPTIONS);
  EXPECT_EQ(standard->CommandAt(1), static_cast<UINT>(ID_FILE_OPEN_DVD));
  notify(FRAME_NOTIFY_OPEN_BUTTON, ID_FILE_OPEN);
  EXPECT_EQ(standard->CommandAt(1), static_cast<UINT>(ID_FILE_OPEN));
  notify(FRAME_NOTIFY_OPEN_BUTTON, ID_FILE_OPEN_SCANNER);
  EXPECT_EQ(standard->CommandAt(1), static_cast<UINT>(ID_FILE_OPEN_SCANNER));

  ASSERT_EQ(view->CommandAt(0), static_cast<UINT>(ID_VIEW_PRIMARY_PANE));
  ASSERT_EQ(view->CommandAt(2), static_cast<UINT>(ID_VIEW_PIP_PRIMARY));
  notify(FRAME_NOTIFY_VIEW_BUTTON, ID_VIEW_PANE_LAYOUT);
  EXPECT_EQ(view->CommandAt(0), static_cast<UINT>(ID_VIEW_PANE_LAYOUT));
  notify(FRAME_NOTIFY_VIEW_BUTTON, ID_VIEW_PIP_OPTIONS);
  EXPECT_EQ(view->CommandAt(2), static_cast<UINT>(ID_VIEW_PIP_OPTIONS));
  EXPECT_EQ(view->CommandAt(0), static_cast<UINT>(ID_VIEW_PANE_LAYOUT));
  notify(FRAME_NOTIFY_VIEW_BUTTON, ID_ZOOM_IN);
  EXPECT_EQ(view->CommandAt(0), static_cast<UINT>(ID_VIEW_PANE_LAYOUT));
  EXPECT_EQ(view->CommandAt(2), static_cast<UINT>(ID_VIEW_PIP_OPTIONS));
  notify(FRAME_NOTIFY_VIEW_BUTTON, ID_VIEW_CONTROLLER_PANE);
  EXPECT_EQ(view->CommandAt(0), static_cast<UINT>(ID_VIEW_CONTROLLER_PANE));

  // Unknown notices and null records are ignored, and answered with 1.
  EXPECT_EQ(notify(99, ID_FILE_OPEN_DVD), 1);
  EXPECT_EQ(SendAppMessage(f.frame.get(), WM_APP_FRAME_NOTIFY, FRAME_NOTIFY_OPEN_BUTTON, 0), 1);
  EXPECT_EQ(standard->CommandAt(1), static_cast<UINT>(ID_FILE_OPEN_SCANNER));
}

TEST(MainFrameMenus, TheTitleNamesTheActiveDocumentInBracketsWhileItsWindowIsMaximised) {
  TFrame f;
  ASSERT_TRUE(f.Load());
  EXPECT_EQ(f.frame->windowTitle(), "Tovrin");
  f.frame->MdiTabSettings()[0] = 0;  // no tabs: document windows of their own
  f.frame->ApplyMDITabSettings(false);
  auto* doc = new TDocWindow("DM7 | |||");
  f.frame->AddChildFrame(doc);
  QApplication::processEvents();
  EXPECT_EQ(f.frame->windowTitle(), "Tovrin - [DM7 | |||]");
  auto* sub = qobject_cast<QMdiSubWindow*>(doc->parentWidget());
  ASSERT_NE(sub, nullptr);
  sub->showNormal();
  QApplication::processEvents();
  EXPECT_EQ(f.frame->windowTitle(), "Tovrin - DM7 | |||");
  doc->setWindowTitle("DM7 | clip.bmp |||");
  QApplication::processEvents();
  EXPECT_EQ(f.frame->windowTitle(), "Tovrin - DM7 | clip.bmp |||");
  f.frame->CloseWindow(doc);
  QApplication::processEvents();
  EXPECT_EQ(f.frame->windowTitle(), "Tovrin");
}
