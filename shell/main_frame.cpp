#include "shell/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDialog>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QInputDialog>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <memory>

#include "platform/byte_order.h"
#include "platform/qt/settings_store.h"
#include "shell/command_ids.h"
#include "shell/icons.h"
#include "shell/visual_manager.h"

namespace MainFrame {

using namespace shell;
using platform::qt::TCmdUI;

namespace {

// The framework's profile key of the frame's window and bar layout.
constexpr const char* kWorkspaceKey = "Software\\Halvane\\Tovrin\\Workspace";
// Beneath it: the user's toolbars and the buttons hidden on each toolbar.
constexpr const char* kUserToolbarsKey = "Software\\Halvane\\Tovrin\\Workspace\\UserToolbars";
constexpr const char* kHiddenButtonsKey = "Software\\Halvane\\Tovrin\\Workspace\\HiddenButtons";

const char* const kCustomize = "Customize...";

// The clipboard's change count: it moves on every time the clipboard's
// contents change, in this program or another.
std::atomic<std::uint32_t> g_clipboardSequence{1};
std::uint32_t ClipboardSequenceNumber() {
  static const bool connected = [] {
    if (QClipboard* clipboard = QGuiApplication::clipboard())
      QObject::connect(clipboard, &QClipboard::dataChanged, [] { ++g_clipboardSequence; });
    return true;
  }();
  (void)connected;
  return g_clipboardSequence.load();
}

// Whether the clipboard holds a picture the panes can paste.
bool ClipboardHoldsPicture() {
  const QClipboard* clipboard = QGuiApplication::clipboard();
  const QMimeData* data = clipboard ? clipboard->mimeData() : nullptr;
  return data && data->hasImage();
}

// A menu described as a list: a command, a separator, or a popup with its
// items up to the matching end.
struct TMenuItem {
  enum Kind { Command, Separator, Popup, End, Recent } kind;
  UINT id = 0;
  const char* text = nullptr;
};
// A command; `text` is the item's own text where the menu shows the command
// under another name than the menu bar does.
TMenuItem Cmd(UINT id, const char* text = nullptr) { return {TMenuItem::Command, id, text}; }
TMenuItem Sep() { return {TMenuItem::Separator}; }
TMenuItem Pop(const char* text) { return {TMenuItem::Popup, 0, text}; }
TMenuItem End() { return {TMenuItem::End}; }
TMenuItem Recent() { return {TMenuItem::Recent}; }

// The items of the Zoom submenu, which the View menu and the video pane's
// context menu share.
std::vector<TMenuItem> ZoomItems() {
  return {
      Cmd(ID_ZOOM_IN),
      Cmd(ID_ZOOM_OUT),
      Sep(),
      Cmd(ID_ZOOM_1000),
      Cmd(ID_ZOOM_500),
      Cmd(ID_ZOOM_200),
      Cmd(ID_ZOOM_175),
      Cmd(ID_ZOOM_150),
      Cmd(ID_ZOOM_125),
      Cmd(ID_ZOOM_100),
      Cmd(ID_ZOOM_50),
      Cmd(ID_ZOOM_25),
      Cmd(ID_ZOOM_10),
      Sep(),
      Cmd(ID_ZOOM_KEEP_IN_VIEW),
      Cmd(ID_ZOOM_FIT_VIEW),
      Cmd(ID_ZOOM_FIT_WIDTH),
      Cmd(ID_ZOOM_FIT_HEIGHT),
      Cmd(ID_ZOOM_FILL_VIEW),
      Cmd(ID_ZOOM_CUSTOM),
  };
}

std::vector<TMenuItem> Join(std::initializer_list<std::vector<TMenuItem>> parts) {
  std::vector<TMenuItem> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<TMenuItem> MainMenu() {
  return Join({{
                   Pop("&File"),
                   Cmd(ID_FILE_NEW),
                   Pop("&Open"),
                   Cmd(ID_FILE_OPEN),
                   Cmd(ID_FILE_OPEN_TO),
                   Cmd(ID_FILE_OPEN_DEVICE),
                   Cmd(ID_FILE_OPEN_URL),
                   Cmd(ID_FILE_OPEN_SCANNER),
                   Cmd(ID_FILE_OPEN_DVD),
                   Cmd(ID_FILE_OPEN_PROJECT),
                   End(),
                   Cmd(ID_FILE_CLOSE),
                   Cmd(ID_FILE_CLOSE_FROM),
                   Sep(),
                   Cmd(ID_FILE_SAVE),
                   Cmd(ID_FILE_SAVE_AS),
                   Cmd(ID_FILE_SAVE_PROJECT),
                   Sep(),
                   Cmd(ID_FILE_FILES_OF_TYPE),
                   Cmd(ID_FILE_SORT_BY),
                   Cmd(ID_FILE_PROPERTIES),
                   Sep(),
                   Cmd(ID_FILE_PRINT),
                   Cmd(ID_FILE_PRINT_PREVIEW),
                   Cmd(ID_FILE_PRINT_SETUP),
                   Sep(),
                   Recent(),
                   Cmd(ID_APP_EXIT),
                   End(),
                   Pop("&Edit"),
                   Cmd(ID_EDIT_UNDO),
                   Sep(),
                   Cmd(ID_EDIT_CUT),
                   Cmd(ID_EDIT_COPY),
                   Cmd(ID_EDIT_PASTE),
                   End(),
                   Pop("&View"),
                   Pop("&Toolbars and Docking Windows"),
                   Cmd(ID_VIEW_TOOLBAR_STANDARD),
                   Cmd(ID_VIEW_TOOLBAR_NAVIGATE),
                   Cmd(ID_VIEW_TOOLBAR_PLAY),
                   Cmd(ID_VIEW_TOOLBAR_REPLAY),
                   Cmd(ID_VIEW_TOOLBAR_CAPTURE),
                   Cmd(ID_VIEW_TOOLBAR_VIEW),
                   Cmd(ID_VIEW_TOOLBAR_ZOOM),
                   Cmd(ID_VIEW_TOOLBAR_DVD),
                   Sep(),
                   Cmd(ID_VIEW_EXPLORER),
                   Cmd(ID_VIEW_PROPERTIES),
                   Sep(),
                   Cmd(ID_APP_OPTIONS),
                   End(),
                   Cmd(ID_VIEW_STATUS_BAR),
                   Sep(),
                   Cmd(ID_VIEW_PRIMARY_PANE),
                   Cmd(ID_VIEW_CONTROLLER_PANE),
                   Cmd(ID_VIEW_RIGHT_COLUMN_PANES),
                   Cmd(ID_VIEW_BOTTOM_ROW_PANES),
                   Cmd(ID_VIEW_PANE_LAYOUT),
                   Sep(),
                   Cmd(ID_VIEW_FULL_SCREEN),
                   Cmd(ID_VIEW_FULL_SCREEN_OPTIONS),
                   Sep(),
                   Pop("&Zoom"),
               },
               ZoomItems(),
               {
                   End(),
                   Pop("Rotate and Reflect"),
                   Cmd(ID_TRANSFORM_ROTATE_RIGHT_90),
                   Cmd(ID_TRANSFORM_ROTATE_LEFT_90),
                   Cmd(ID_TRANSFORM_ROTATE_180),
                   Sep(),
                   Cmd(ID_TRANSFORM_REFLECT_VERTICAL),
                   Cmd(ID_TRANSFORM_REFLECT_HORIZONTAL),
                   Cmd(ID_TRANSFORM_REFLECT_DIAG_MAIN),
                   Cmd(ID_TRANSFORM_REFLECT_DIAG_ANTI),
                   Sep(),
                   Cmd(ID_TRANSFORM_RESET),
                   Cmd(ID_TRANSFORM_CUSTOM),
                   End(),
                   Sep(),
                   Cmd(ID_VIEW_PIP_PRIMARY),
                   Cmd(ID_VIEW_PIP_ASSISTANT),
                   Cmd(ID_VIEW_PIP_OPTIONS),
                   Sep(),
                   Cmd(ID_VIEW_REFRESH),
                   End(),
                   Pop("&Navigate"),
                   Cmd(ID_NAVIGATE_FIRST),
                   Cmd(ID_NAVIGATE_PREVIOUS),
                   Cmd(ID_NAVIGATE_NEXT),
                   Cmd(ID_NAVIGATE_LAST),
                   Sep(),
                   Cmd(ID_NAVIGATE_SOURCE_LIST),
                   Sep(),
                   Cmd(ID_NAVIGATE_START_PAUSE),
                   Cmd(ID_NAVIGATE_STOP),
                   Cmd(ID_NAVIGATE_ENABLE_PLAYING),
                   Sep(),
                   Pop("&Replay"),
                   Cmd(ID_REPLAY_FIRST),
                   Cmd(ID_REPLAY_BACK),
                   Cmd(ID_REPLAY_PREVIOUS),
                   Cmd(ID_REPLAY_PAUSE),
                   Cmd(ID_REPLAY_NEXT),
                   Cmd(ID_REPLAY_FORTH),
                   Cmd(ID_REPLAY_LAST),
                   Sep(),
                   Cmd(ID_REPLAY_REVERSE),
                   Cmd(ID_REPLAY_ENABLE),
                   End(),
                   // The DVD commands are navigation too.
                   Pop("&DVD"),
                   Cmd(ID_DVD_ROOT_MENU),
                   Cmd(ID_DVD_TITLE_MENU),
                   Cmd(ID_DVD_RESUME),
                   Sep(),
                   Cmd(ID_DVD_PREV_CHAPTER),
                   Cmd(ID_DVD_NEXT_CHAPTER),
                   Sep(),
                   Cmd(ID_DVD_NAVIGATE),
                   Pop("Special features"),
                   Cmd(ID_DVD_AUDIO),
                   Cmd(ID_DVD_CAPTION),
                   Cmd(ID_DVD_ANGLE),
                   End(),
                   Sep(),
                   Cmd(ID_DVD_ENABLE_NAVIGATION),
                   End(),
                   End(),
                   Pop("&Capture"),
                   Cmd(ID_CAPTURE_RECORD),
                   Cmd(ID_CAPTURE_IMAGE),
                   Sep(),
                   Cmd(ID_CAPTURE_STREAM_OPTIONS),
                   Cmd(ID_CAPTURE_IMAGE_OPTIONS),
                   End(),
                   Pop("Tools"),
                   Cmd(ID_TOOLS_OPTIONS),
                   Cmd(ID_TOOLS_MORE_OPTIONS),
                   Cmd(ID_TOOLS_STATUS),
                   Sep(),
                   Cmd(ID_TOOLS_PSNR),
                   Sep(),
                   Cmd(ID_TOOLS_OPEN_CONSOLE),
                   Cmd(ID_TOOLS_CLOSE_CONSOLE),
                   Sep(),
                   Cmd(ID_TOOLS_CUSTOMIZE),
                   End(),
                   Pop("&Window"),
                   Cmd(ID_WINDOW_NEW),
                   Sep(),
                   Cmd(ID_WINDOW_CASCADE),
                   Cmd(ID_WINDOW_TILE_HORZ),
                   Cmd(ID_WINDOW_TILE_VERT),
                   Cmd(ID_WINDOW_ARRANGE),
                   Cmd(ID_WINDOW_NEW_HORZ_TAB_GROUP),
                   Cmd(ID_WINDOW_NEW_VERT_TAB_GROUP),
                   Cmd(ID_WINDOW_MOVE_TO_NEXT_TAB_GROUP),
                   Cmd(ID_WINDOW_MOVE_TO_PREV_TAB_GROUP),
                   Sep(),
                   Cmd(ID_WINDOW_CLOSE_ALL),
                   Sep(),
                   Cmd(ID_WINDOW_MANAGER),
                   End(),
                   Pop("&Help"),
                   Cmd(ID_HELP),
                   Sep(),
                   Cmd(ID_APP_ABOUT),
                   End(),
               }});
}

// The context menus the program registers, by menu id. Where the menu gives
// an item a text of its own, the item carries it; otherwise it shows the
// command's menu text.
std::vector<TMenuItem> ContextMenu(int menuId) {
  switch (menuId) {
    case kEditContextMenu:  // "Edit"
      return {Cmd(ID_EDIT_CUT), Cmd(ID_EDIT_COPY), Cmd(ID_EDIT_PASTE)};
    case kExplorerContextMenu:  // "Explorer": the explorer pane's document menu
      return {
          Cmd(ID_FILE_OPEN, "&Open"),
          Cmd(ID_FILE_OPEN_TO, "Open &To..."),
          Sep(),
          Cmd(ID_FILE_CLOSE, "&Close"),
          Cmd(ID_FILE_CLOSE_FROM, "Close From"),
          Sep(),
          Cmd(ID_EDIT_COPY, "&Copy\tCtrl+C"),
          Cmd(ID_EDIT_PASTE, "&Paste\tCtrl+V"),
          Cmd(kExplorerCopyFrom, "Copy From..."),
          Cmd(kExplorerPasteTo, "&Paste To..."),
          Sep(),
          Cmd(kExplorerProperties, "&Properties..."),
      };
    case kPaneContextMenu:  // "Zarn View"
      return Join({{
                       Cmd(ID_NAVIGATE_START_PAUSE, "Start / Pause - Replay"),
                       Cmd(ID_NAVIGATE_STOP, "Stop"),
                       Sep(),
                       Cmd(ID_CAPTURE_RECORD, "Start / Stop recording"),
                       Cmd(ID_CAPTURE_IMAGE, "Capture image"),
                       Sep(),
                       Cmd(ID_EDIT_COPY),
                       Cmd(ID_EDIT_PASTE),
                       Sep(),
                       Cmd(ID_FILE_OPEN, "Open File..."),
                       Cmd(ID_FILE_OPEN_DEVICE, "Open Media Device..."),
                       Cmd(ID_FILE_SAVE_AS, "Save &As..."),
                       Cmd(ID_FILE_PRINT, "&Print..."),
                       Sep(),
                       Cmd(ID_VIEW_PRIMARY_PANE),
                       Cmd(ID_VIEW_RIGHT_COLUMN_PANES),
                       Cmd(ID_VIEW_BOTTOM_ROW_PANES),
                       Cmd(ID_VIEW_CONTROLLER_PANE),
                       Cmd(ID_VIEW_PANE_LAYOUT),
                       Sep(),
                       Cmd(ID_VIEW_FULL_SCREEN),
                       Cmd(ID_VIEW_FULL_SCREEN_OPTIONS),
                       Sep(),
                       Pop("Zoom"),
                   },
                   ZoomItems(),
                   {
                       End(),
                       Pop("Rotate and Reflect"),
                       Cmd(ID_TRANSFORM_ROTATE_RIGHT_90),
                       Cmd(ID_TRANSFORM_ROTATE_LEFT_90),
                       Cmd(ID_TRANSFORM_ROTATE_180),
                       Sep(),
                       Cmd(ID_TRANSFORM_REFLECT_VERTICAL),
                       Cmd(ID_TRANSFORM_REFLECT_HORIZONTAL),
                       Cmd(ID_TRANSFORM_REFLECT_DIAG_MAIN),
                       Cmd(ID_TRANSFORM_REFLECT_DIAG_ANTI),
                       Cmd(ID_TRANSFORM_CUSTOM),
                       Sep(),
                       Cmd(ID_TRANSFORM_RESET),
                       End(),
                       Sep(),
                       Cmd(ID_TOOLS_OPTIONS, "Options..."),
                       Cmd(ID_TOOLS_STATUS, "Status..."),
                   }});
    case kControllerContextMenu:  // "Zarn Controller View"
      return {Cmd(1026), Cmd(1027), Sep(), Cmd(1112), Cmd(1113)};
    default: return {};
  }
}

// Toolbar buttons; 0 is a separator.
std::vector<UINT> ToolbarButtons(UINT toolbar, int imageStyle) {
  switch (toolbar) {
    case ID_VIEW_TOOLBAR_STANDARD:
      if (imageStyle != 2 && imageStyle != 3)
        return {ID_FILE_NEW,      ID_FILE_OPEN,
                ID_FILE_SAVE,     0,
                ID_EDIT_CUT,      ID_EDIT_COPY,
                ID_EDIT_PASTE,    0,
                ID_FILE_PRINT,    0,
                ID_FILE_OPEN_TO,  0,
                ID_TOOLS_OPTIONS, ID_TOOLS_STATUS};
      return {ID_FILE_NEW,      ID_FILE_OPEN,
              ID_FILE_SAVE,     0,
              ID_EDIT_CUT,      ID_EDIT_COPY,
              ID_EDIT_PASTE,    0,
              ID_FILE_PRINT,    0,
              ID_TOOLS_OPTIONS, ID_TOOLS_STATUS};
    case ID_VIEW_TOOLBAR_NAVIGATE:
      return {ID_NAVIGATE_FIRST, ID_NAVIGATE_PREVIOUS, ID_NAVIGATE_NEXT, ID_NAVIGATE_LAST,
              ID_NAVIGATE_SOURCE_LIST};
    case ID_VIEW_TOOLBAR_PLAY: return {ID_NAVIGATE_START_PAUSE, ID_NAVIGATE_STOP, ID_NAVIGATE_ENABLE_PLAYING};
    case ID_VIEW_TOOLBAR_REPLAY:
      return {ID_REPLAY_FIRST, ID_REPLAY_BACK, ID_REPLAY_PREVIOUS, ID_REPLAY_PAUSE, ID_REPLAY_NEXT,
              ID_REPLAY_FORTH, ID_REPLAY_LAST, ID_REPLAY_REVERSE,  ID_REPLAY_ENABLE};
    case ID_VIEW_TOOLBAR_CAPTURE: return {ID_CAPTURE_RECORD, ID_CAPTURE_IMAGE};
    case ID_VIEW_TOOLBAR_VIEW: return {ID_VIEW_PRIMARY_PANE, ID_VIEW_FULL_SCREEN, ID_VIEW_PIP_PRIMARY};
    case ID_VIEW_TOOLBAR_ZOOM: return {ID_ZOOM_OUT, ID_ZOOM_IN, ID_ZOOM_100};
    case ID_VIEW_TOOLBAR_DVD:
      return {ID_DVD_PREV_CHAPTER, ID_DVD_NEXT_CHAPTER, ID_DVD_ROOT_MENU, ID_DVD_ENABLE_NAVIGATION};
    default: return {};
  }
}

// "Ctrl+Enter" and the like as Qt key sequences.
QKeySequence KeyOf(QString text) {
  text.replace("Enter", "Return").replace("PgDn", "PgDown");
  return QKeySequence::fromString(text, QKeySequence::PortableText);
}

// An empty pane body: the pane's contents come with the pane.
QWidget* EmptyPaneBody(const QString& name) {
  auto* w = new QWidget;
  w->setObjectName(name);
  w->setAutoFillBackground(true);
  w->setBackgroundRole(QPalette::Base);
  w->setMinimumSize(120, 80);
  return w;
}

// A vertical tab on the border for a pane in auto-hide mode.
class CAutoHideButton : public QToolButton {
 public:
  explicit CAutoHideButton(const QString& text, QWidget* parent = nullptr) : QToolButton(parent) {
    setText(text);
    setAutoRaise(true);
    setCheckable(true);
  }
  QSize sizeHint() const override {
    const QFontMetrics fm(font());
    return QSize(fm.height() + 10, fm.horizontalAdvance(text()) + 36);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QRect r = rect().adjusted(2, 1, -2, -1);
    QColor bg = palette().color(QPalette::Button);
    if (underMouse() || isChecked()) bg = palette().color(QPalette::Highlight).lighter(170);
    p.setPen(palette().color(QPalette::Mid));
    p.setBrush(bg);
    p.drawRoundedRect(r, 3, 3);
    if (!icon().isNull()) icon().paint(&p, QRect(r.center().x() - 7, r.top() + 5, 14, 14));
    p.translate(r.center().x(), r.bottom() - 6);
    p.rotate(-90);
    p.setPen(palette().color(QPalette::ButtonText));
    p.drawText(QRect(0, -r.width() / 2, r.height() - 30, r.width()), Qt::AlignVCenter | Qt::AlignLeft,
               text());
  }
};

QIcon PaneIcon(bool explorer, bool highColor) {
  const int size = 16;
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing, highColor);
  if (explorer) {
    p.setPen(QColor(60, 70, 90));
    p.setBrush(QColor(236, 190, 80));
    p.drawRect(1, 3, 6, 4);
    p.setBrush(QColor(120, 170, 230));
    p.drawRect(7, 9, 7, 4);
    p.drawLine(3, 7, 3, 11);
    p.drawLine(3, 11, 7, 11);
  } else {
    p.setPen(QColor(60, 70, 90));
    p.setBrush(QColor(250, 250, 250));
    p.drawRect(1, 1, 13, 13);
    for (int y = 4; y <= 11; y += 3) {
      p.drawLine(3, y, 6, y);
      p.drawLine(8, y, 12, y);
    }
  }
  return QIcon(pm);
}

}  // namespace

const std::vector<TToolbarInfo>& Toolbars() {
  // The creation order.
  static const std::vector<TToolbarInfo> bars = {
      {ID_VIEW_TOOLBAR_STANDARD, "Standard", true}, {ID_VIEW_TOOLBAR_NAVIGATE, "Navigate", true},
      {ID_VIEW_TOOLBAR_PLAY, "Play", true},         {ID_VIEW_TOOLBAR_CAPTURE, "Capture", true},
      {ID_VIEW_TOOLBAR_VIEW, "View", true},         {ID_VIEW_TOOLBAR_ZOOM, "Zoom", true},
      {ID_VIEW_TOOLBAR_REPLAY, "Replay", false},    {ID_VIEW_TOOLBAR_DVD, "DVD", false},
  };
  return bars;
}

CMainFrame::CMainFrame(TShellState& state, TProgCfg& cfg, platform::qt::ICommandTarget* app, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_cfg(cfg), m_app(app) {
  setObjectName("MainFrame");
  // Saved settings in the block: take the frame's group.
  if (m_cfg.savedMarker != 0) {
    m_nMDITabSettings = m_cfg.mdiTabs;
    m_bResetChildWindows = m_cfg.resetChildWindows;
    m_bMDITabSettingsChanged = m_cfg.mdiTabsChanged;
    m_state.lookId = m_cfg.lookId;
    m_state.lookChanged = m_cfg.lookChanged;
    m_state.toolbarImageStyle = m_cfg.toolbarImageStyle;
    m_state.startPlaying = m_cfg.startPlaying;
  }
  ClipboardSequenceNumber();
  m_router = new platform::qt::TCommandRouter(this);
  m_router->SetChain([this] { return CommandChain(); });
  m_messages = new platform::qt::TMessageMap(nullptr);
  m_messages->setParent(this);
  InstallMessages();
  InstallCommands();
}

CMainFrame::~CMainFrame() {
  m_bDestroying = true;
  // The frame's group goes back into the block, saved or not.
  m_cfg.mdiTabs = m_nMDITabSettings;
  m_cfg.resetChildWindows = m_bResetChildWindows;
  m_cfg.mdiTabsChanged = m_bMDITabSettingsChanged;
  m_cfg.lookId = m_state.lookId;
  m_cfg.lookChanged = m_state.lookChanged;
  m_cfg.toolbarImageStyle = m_state.toolbarImageStyle;
  m_cfg.startPlaying = m_state.startPlaying;
  if (shell::MainWindow() == this) shell::SetMainWindow(nullptr);
  // The document windows go before the members their signals reach.
  for (auto& [w, f] : m_frames) disconnect(w, nullptr, this, nullptr);
  m_frames.clear();
  if (m_mdiClient) disconnect(m_mdiClient, nullptr, this, nullptr);
  delete m_mdiClient;
  m_mdiClient = nullptr;
}

// The media document's File menu says "Save As..."; without a document the
// item reads "Save &As...".
void CMainFrame::UpdateSaveAsText() {
  if (QAction* action = m_router ? m_router->FindAction(ID_FILE_SAVE_AS) : nullptr)
    action->setText(ActiveDocument() ? "Save As..." : "Save &As...");
}

int CMainFrame::IconSize() const { return m_state.toolbarImageStyle == 3 ? 24 : 16; }

bool CMainFrame::LoadFrame() {
  setWindowTitle("Tovrin");
  setWindowIcon(CommandIcon(ID_FILE_OPEN_DVD, 32));
  setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks | QMainWindow::AllowNestedDocks);
  m_mdiClient = new CMdiClient(this);
  setCentralWidget(m_mdiClient);
  connect(m_mdiClient, &CMdiClient::ActiveWindowChanged, this, [this] {
    UpdateTitle();
    emit ActiveDocumentChanged();
  });
  // A tab's close button: the window's own close decides.
  connect(m_mdiClient, &CMdiClient::WindowCloseRequested, this, [this](QWidget* w) { CloseWindow(w); });

  ApplyAppLook(m_state.lookId);
  ApplyTabs();
  m_mdiClient->SetTabMaxWidth(300);

  InitUserToolbars(ID_USER_TOOLBAR_FIRST, ID_USER_TOOLBAR_LAST);
  if (!CreateMenuBar() || !CreateToolbars() || !CreateStatusBar() || !CreateDockingWindows()) return false;
  SetDockingWindowIcons(m_state.toolbarImageStyle == 2 || m_state.toolbarImageStyle == 3);
  for (const auto& t : Toolbars())
    if (!t.shownAtFirst) m_toolbars[t.id]->hide();
  m_properties->hide();

  // Accelerators work whichever bar shows the command.
  for (UINT id : m_router->Ids()) addAction(m_router->Action(id));
  m_router->UpdateActions();
  m_router->EnableIdleUpdates();
  resize(1180, 760);
  shell::SetMainWindow(this);
  return true;
}

bool CMainFrame::CreateMenuBar() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MenuBar");
  const std::vector<TMenuItem> items = MainMenu();
  std::vector<QMenu*> stack;
  for (const TMenuItem& item : items) {
    switch (item.kind) {
      case TMenuItem::Popup: {
        QMenu* m = stack.empty() ? bar->addMenu(item.text) : stack.back()->addMenu(item.text);
        m->setObjectName(QString(item.text).remove('&'));
        // Opening a menu of the frame tests the clipboard again.
        if (stack.empty()) connect(m, &QMenu::aboutToShow, this, [this] { TestClipboard(); });
        m->setToolTipsVisible(false);
        InstallMenuToolTips(m);
        m_router->WatchMenu(m);
        stack.push_back(m);
        break;
      }
      case TMenuItem::End:
        if (stack.empty()) return false;
        stack.pop_back();
        break;
      case TMenuItem::Separator:
        if (!stack.empty()) stack.back()->addSeparator();
        break;
      case TMenuItem::Recent:
        if (!stack.empty()) {
          m_recentMenuAnchor = stack.back();
          QAction* s = stack.back()->addSeparator();
          s->setObjectName("RecentFilesEnd");
        }
        break;
      case TMenuItem::Command:
        if (!stack.empty()) stack.back()->addAction(m_router->Action(item.id));
        break;
    }
  }
  if (!stack.empty()) return false;
  if (QMenu* window = PopupMenu("Window"))
    connect(window, &QMenu::aboutToShow, this, [this, window] { UpdateWindowMenu(window); });
  if (QMenu* bars = menuBar()->findChild<QMenu*>("Toolbars and Docking Windows"))
    connect(bars, &QMenu::aboutToShow, this, [this, bars] { UpdateToolbarsMenu(bars); });
  if (m_recentMenuAnchor)
    connect(m_recentMenuAnchor, &QMenu::aboutToShow, this, [this] { UpdateRecentFiles(m_recentMenuAnchor); });
  UpdateNonPermittedCommands();
  return true;
}

QMenu* CMainFrame::CreateContextMenu(int menuId, QWidget* parent) {
  const std::vector<TMenuItem> items = ContextMenu(menuId);
  if (items.empty()) return nullptr;
  // The explorer's menu shows as it was loaded and hands the chosen command
  // back to the pane; the others send their commands to the main window,
  // which routes them to the active document and view.
  const bool routed = menuId != kExplorerContextMenu;
  auto* menu = new QMenu(parent);
  menu->setObjectName(QString("ContextMenu%1").arg(menuId));
  menu->setTitle(ContextMenuName(menuId));
  std::vector<QMenu*> stack{menu};
  for (const TMenuItem& item : items) {
    switch (item.kind) {
      case TMenuItem::Popup: {
        QMenu* sub = stack.back()->addMenu(QString::fromUtf8(item.text));
        sub->setObjectName(QString::fromUtf8(item.text).remove('&'));
        stack.push_back(sub);
        break;
      }
      case TMenuItem::End: stack.pop_back(); break;
      case TMenuItem::Separator: stack.back()->addSeparator(); break;
      case TMenuItem::Command: {
        const TCommandText* t = FindCommandText(item.id);
        // A key after the tab is shown beside the text; the item owns no
        // shortcut (the menu bar's commands do).
        const QString text = QString::fromUtf8(item.text ? item.text : (t ? t->menu : ""));
        auto* a = new QAction(text, stack.back());
        a->setData(static_cast<uint>(item.id));
        if (t) a->setStatusTip(QString::fromUtf8(t->prompt));
        if (HasCommandIcon(item.id)) a->setIcon(CommandIcon(item.id, 16));
        stack.back()->addAction(a);
        if (routed) {
          const UINT id = item.id;
          connect(a, &QAction::triggered, this, [this, id] { m_router->Execute(id); });
        }
        break;
      }
      case TMenuItem::Recent: break;
    }
  }
  // Opening a menu of the main window tests the clipboard again.
  TestClipboard();
  if (routed) {
    UpdateContextMenu(menu);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { UpdateContextMenu(menu); });
    for (QMenu* sub : menu->findChildren<QMenu*>())
      connect(sub, &QMenu::aboutToShow, this, [this, sub] { UpdateContextMenu(sub); });
  }
  InstallMenuToolTips(menu);
  for (QMenu* sub : menu->findChildren<QMenu*>()) InstallMenuToolTips(sub);
  return menu;
}

QString CMainFrame::ContextMenuName(int menuId) {
  switch (menuId) {
    case kEditContextMenu: return QStringLiteral("Edit");
    case kExplorerContextMenu: return QStringLiteral("Explorer");
    case kPaneContextMenu: return QStringLiteral("Zarn View");
    case kControllerContextMenu: return QStringLiteral("Zarn Controller View");
    default: return {};
  }
}

UINT CMainFrame::ContextMenuCommand(const QAction* action) {
  return action && !action->isSeparator() && !action->menu() ? action->data().toUInt() : 0;
}

// A context menu's items take the state of their commands: shown when
// permitted, enabled and checked as the routing says.
void CMainFrame::UpdateContextMenu(QMenu* menu) {
  for (QAction* a : menu->actions()) {
    const UINT id = ContextMenuCommand(a);
    if (id == 0) continue;
    const TCmdUI ui = m_router->Update(id);
    a->setVisible(IsPermitted(id));
    a->setEnabled(ui.Enabled());
    a->setCheckable(ui.Check().has_value());
    if (ui.Check()) a->setChecked(*ui.Check() != 0);
  }
  for (QAction* a : menu->actions())
    if (QMenu* sub = a->menu()) UpdateContextMenu(sub);
}

QMenu* CMainFrame::PopupMenu(const QString& title) const { return menuBar()->findChild<QMenu*>(title); }

// A command's texts, accelerator and image.
void CMainFrame::PrepareAction(UINT id) {
  QAction* a = m_router->Action(id);
  if (const TCommandText* t = FindCommandText(id)) {
    const QString menu = QString::fromUtf8(t->menu);
    const int tab = menu.indexOf('\t');
    a->setText(tab < 0 ? menu : menu.left(tab));
    if (tab >= 0) a->setShortcut(KeyOf(menu.mid(tab + 1)));
    a->setStatusTip(QString::fromUtf8(t->prompt));
    a->setToolTip(QString::fromUtf8(t->tooltip));
  }
  // Zoom in and out: Ctrl with the numeric keypad's plus and minus.
  if (id == ID_ZOOM_IN)
    a->setShortcut(QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Plus)));
  if (id == ID_ZOOM_OUT)
    a->setShortcut(QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Minus)));
  if (HasCommandIcon(id)) a->setIcon(CommandIcon(id, IconSize()));
  a->setVisible(IsPermitted(id));
}

bool CMainFrame::CreateToolbars() {
  const int size = IconSize();
  for (UINT id : m_router->Ids()) PrepareAction(id);

  for (const auto& info : Toolbars()) {
    const QString caption = QString::fromUtf8(info.caption);
    CCustomToolBar* tb = nullptr;
    switch (info.id) {
      case ID_VIEW_TOOLBAR_STANDARD:
        tb = m_wndToolBarStandard = new ToolBarStandard::CToolBarStandard(info.id, caption, this);
        break;
      case ID_VIEW_TOOLBAR_NAVIGATE:
        tb = m_wndToolBarNavigate = new ToolBarNavigate::CToolBarNavigate(info.id, caption, this);
        break;
      case ID_VIEW_TOOLBAR_PLAY:
        tb = m_wndToolBarGo = new ToolBarGo::CToolBarGo(info.id, caption, this);
        break;
      case ID_VIEW_TOOLBAR_REPLAY:
        tb = m_wndToolBarReplay = new ToolBarReplay::CToolBarReplay(info.id, caption, this);
        break;
      case ID_VIEW_TOOLBAR_CAPTURE:
        tb = m_wndToolBarCapture = new ToolBarCapture::CToolBarCapture(info.id, caption, this);
        break;
      case ID_VIEW_TOOLBAR_ZOOM:
        tb = m_wndToolBarZoom = new ToolBarZoom::CToolBarZoom(info.id, caption, this);
        break;
      case ID_VIEW_TOOLBAR_DVD:
        tb = m_wndToolBarDvd = new ToolBarDvd::CToolBarDvd(info.id, caption, this);
        break;
      default: tb = new CCustomToolBar(info.id, caption, this); break;  // the View toolbar
    }
    tb->setIconSize(QSize(size, size));
    SetUpToolbar(tb);
    // Non-permitted commands stay off the toolbars too.
    tb->SetButtons(ToolbarButtons(info.id, m_state.toolbarImageStyle));
    // One row under the menu bar, in the creation order.
    addToolBar(Qt::TopToolBarArea, tb);
    m_toolbars[info.id] = tb;
    QAction* toggle = m_router->Action(info.id);
    toggle->setText(caption);
  }
  // Remaining commands (menus only) get their texts too.
  for (UINT id : m_router->Ids()) PrepareAction(id);
  return m_toolbars.size() == 8;
}

void CMainFrame::SetUpToolbar(CCustomToolBar* bar) {
  bar->SetActionSource([this](UINT id) -> QAction* {
    const bool known = m_router->FindAction(id) != nullptr;
    QAction* a = m_router->Action(id);
    if (!known) PrepareAction(id);
    return a;
  });
  bar->SetPermission([this](UINT id) { return IsPermitted(id); });
  bar->SetMenuExtender([this](CCustomToolBar* b, QMenu* menu) { ExtendCustomizeMenu(b, menu); });
  // "Customize..." opens the options; it stays off while nobody handles it.
  bar->EnableCustomizeButton(true, m_router->Action(ID_APP_OPTIONS), QString::fromUtf8(kCustomize), true);
}

// --- the user's toolbars ----------------------------------------------------

void CMainFrame::InitUserToolbars(UINT firstId, UINT lastId) {
  m_firstUserToolbar = firstId;
  m_lastUserToolbar = lastId >= firstId ? lastId : firstId;
}

std::vector<CCustomToolBar*> CMainFrame::UserToolbars() const {
  std::vector<CCustomToolBar*> out;
  for (const auto& [id, tb] : m_userToolbars) out.push_back(tb);
  return out;
}

std::vector<CCustomToolBar*> CMainFrame::AllToolbars() const {
  std::vector<CCustomToolBar*> out;
  for (const auto& info : Toolbars())
    if (CCustomToolBar* tb = ToolBar(info.id)) out.push_back(tb);
  for (const auto& [id, tb] : m_userToolbars) out.push_back(tb);
  return out;
}

CCustomToolBar* CMainFrame::CreateUserToolbar(const QString& name) {
  const QString caption = name.trimmed();
  if (caption.isEmpty() || m_firstUserToolbar == 0) return nullptr;
  UINT id = m_firstUserToolbar;
  while (id <= m_lastUserToolbar && m_userToolbars.count(id)) ++id;
  if (id > m_lastUserToolbar) return nullptr;
  auto* tb = new CCustomToolBar(id, caption, this);
  tb->SetUserToolbar(true);
  tb->setIconSize(QSize(IconSize(), IconSize()));
  SetUpToolbar(tb);
  addToolBar(Qt::TopToolBarArea, tb);
  tb->show();
  m_userToolbars[id] = tb;
  m_router->Action(id)->setText(caption);
  m_router->UpdateActions();
  return tb;
}

bool CMainFrame::DeleteUserToolbar(UINT id) {
  auto it = m_userToolbars.find(id);
  if (it == m_userToolbars.end()) return false;
  CCustomToolBar* tb = it->second;
  m_userToolbars.erase(it);
  removeToolBar(tb);
  tb->hide();
  // Its own menu may be what asked for this.
  tb->deleteLater();
  m_router->UpdateActions();
  return true;
}

bool CMainFrame::IsToolbarCommand(UINT id) const {
  // A command with texts of its own that is allowed here; the toolbars'
  // own show/hide commands and the user's toolbars are none.
  if (id == 0 || id == static_cast<UINT>(-1) || !FindCommandText(id) || !IsPermitted(id)) return false;
  if (ToolBar(id)) return false;
  return !(m_firstUserToolbar != 0 && id >= m_firstUserToolbar && id <= m_lastUserToolbar);
}

bool CMainFrame::AddUserToolbarCommand(UINT toolbarId, UINT command) {
  auto it = m_userToolbars.find(toolbarId);
  if (it == m_userToolbars.end() || !IsToolbarCommand(command)) return false;
  return it->second->AddButton(command);
}

void CMainFrame::AskNewToolbar() {
  const QString suggested = QString("Custom %1").arg(m_userToolbars.size() + 1);
  std::optional<QString> name;
  if (m_prompts.toolbarName) {
    name = m_prompts.toolbarName(suggested);
  } else {
    bool ok = false;
    const QString text = QInputDialog::getText(this, tr("New Toolbar"), tr("Toolbar name:"),
                                               QLineEdit::Normal, suggested, &ok);
    if (ok) name = text;
  }
  if (!name) return;
  if (name->trimmed().isEmpty()) {
    QMessageBox::warning(this, tr("New Toolbar"), tr("The toolbar name can not be empty."));
    return;
  }
  CreateUserToolbar(*name);
}

void CMainFrame::ExtendCustomizeMenu(CCustomToolBar* bar, QMenu* menu) {
  if (bar->IsUserToolbar()) {
    QMenu* add = menu->addMenu(tr("Add Command"));
    add->setObjectName("AddCommand");
    for (QAction* top : menuBar()->actions())
      if (QMenu* source = top->menu(); source && top->isVisible()) {
        QMenu* sub = add->addMenu(top->text().remove('&'));
        FillAddCommandMenu(bar, sub, source);
        if (sub->isEmpty()) delete sub;
      }
  }
  menu->addSeparator();
  QAction* create = menu->addAction(tr("New Toolbar..."));
  create->setObjectName("NewToolbar");
  create->setEnabled(m_firstUserToolbar != 0 &&
                     m_userToolbars.size() < m_lastUserToolbar - m_firstUserToolbar + 1);
  connect(create, &QAction::triggered, this, [this] { AskNewToolbar(); });
  if (bar->IsUserToolbar()) {
    QAction* remove = menu->addAction(tr("Delete Toolbar"));
    remove->setObjectName("DeleteToolbar");
    const UINT id = bar->Id();
    const QString name = bar->windowTitle();
    connect(remove, &QAction::triggered, this, [this, id, name] {
      const bool sure =
          m_prompts.confirmDelete
              ? m_prompts.confirmDelete(name)
              : QMessageBox::question(this, tr("Delete Toolbar"),
                                      tr("Delete the toolbar \"%1\"?").arg(name)) == QMessageBox::Yes;
      if (sure) DeleteUserToolbar(id);
    });
  }
}

// The commands of a menu of the menu bar, as entries that add them to `bar`.
void CMainFrame::FillAddCommandMenu(CCustomToolBar* bar, QMenu* target, QMenu* source) {
  for (QAction* a : source->actions()) {
    if (a->isSeparator() || !a->isVisible()) continue;
    if (QMenu* sub = a->menu()) {
      QMenu* inner = target->addMenu(a->text().remove('&'));
      FillAddCommandMenu(bar, inner, sub);
      if (inner->isEmpty()) delete inner;
      continue;
    }
    const UINT id = m_router->IdOf(a);
    if (!IsToolbarCommand(id)) continue;
    QAction* item = target->addAction(a->icon(), a->text().remove('&'));
    item->setData(id);
    const auto buttons = bar->Buttons();
    item->setEnabled(std::find(buttons.begin(), buttons.end(), id) == buttons.end());
    const UINT barId = bar->Id();
    connect(item, &QAction::triggered, this, [this, barId, id] { AddUserToolbarCommand(barId, id); });
  }
}

// The View menu's list of toolbars and panes, the user's toolbars included.
void CMainFrame::UpdateToolbarsMenu(QMenu* menu) {
  for (QAction* a : menu->actions())
    if (a->property("userToolbar").toBool()) menu->removeAction(a);
  QAction* before = m_router->FindAction(ID_VIEW_EXPLORER);
  // Just after the frame's own toolbars.
  const auto items = menu->actions();
  for (int i = 0; i < items.size(); ++i)
    if (items[i] == m_router->FindAction(ID_VIEW_TOOLBAR_DVD) && i + 1 < items.size()) before = items[i + 1];
  for (const auto& [id, tb] : m_userToolbars) {
    QAction* a = m_router->Action(id);
    a->setText(tb->windowTitle());
    a->setCheckable(true);
    a->setProperty("userToolbar", true);
    menu->insertAction(before, a);
  }
}

// --- menu tooltips ----------------------------------------------------------

bool CMainFrame::OnMenuButtonToolHitTest(UINT id, const QString& text, QString* toolTip) {
  if (id == 0 || id == static_cast<UINT>(-1)) return false;
  QString plain = text;
  plain.remove('&');
  if (plain.isEmpty()) return false;
  if (toolTip) *toolTip = plain;
  return true;
}

namespace {

// Shows a menu item's text as its tooltip.
class CMenuToolTips : public QObject {
 public:
  CMenuToolTips(platform::qt::TCommandRouter* router, QObject* parent) : QObject(parent), m_router(router) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::ToolTip) return false;
    auto* menu = qobject_cast<QMenu*>(watched);
    if (!menu) return false;
    auto* help = static_cast<QHelpEvent*>(event);
    QAction* a = menu->actionAt(help->pos());
    QString tip;
    if (a && !a->isSeparator() && CMainFrame::OnMenuButtonToolHitTest(m_router->IdOf(a), a->text(), &tip))
      QToolTip::showText(help->globalPos(), tip, menu, menu->actionGeometry(a));
    else
      QToolTip::hideText();
    return true;
  }

 private:
  platform::qt::TCommandRouter* m_router;
};

}  // namespace

void CMainFrame::InstallMenuToolTips(QMenu* menu) {
  if (!m_menuToolTips) m_menuToolTips = new CMenuToolTips(m_router, this);
  menu->installEventFilter(m_menuToolTips);
}

bool CMainFrame::CreateStatusBar() {
  QStatusBar* sb = statusBar();
  sb->setObjectName("StatusBar");
  const char* const names[3] = {"CAP", "NUM", "SCRL"};
  for (int i = 0; i < 3; ++i) {
    auto* l = new QLabel(names[i], sb);
    l->setObjectName(QString("Indicator%1").arg(names[i]));
    l->setAlignment(Qt::AlignCenter);
    l->setMinimumWidth(l->fontMetrics().horizontalAdvance("SCRL") + 14);
    l->setFrameShape(QFrame::StyledPanel);
    l->setFrameShadow(QFrame::Sunken);
    // The lock keys' states are not known to the program: shown dimmed.
    l->setEnabled(false);
    sb->addPermanentWidget(l);
    m_indicators[static_cast<std::size_t>(i)] = l;
  }
  // The idle text comes back whenever a prompt is gone.
  sb->showMessage(tr("Ready"));
  connect(sb, &QStatusBar::messageChanged, sb, [sb](const QString& text) {
    if (text.isEmpty()) sb->showMessage(QObject::tr("Ready"));
  });
  return true;
}

bool CMainFrame::CreateDockingWindows() {
  m_explorer = new QDockWidget(tr("Tovrin Explorer"), this);
  m_explorer->setObjectName("Pane122");
  m_explorer->setWidget(EmptyPaneBody("ExplorerBody"));
  m_explorer->setAllowedAreas(Qt::AllDockWidgetAreas);
  addDockWidget(Qt::LeftDockWidgetArea, m_explorer);

  m_properties = new QDockWidget(tr("Properties"), this);
  m_properties->setObjectName("Pane141");
  m_properties->setWidget(EmptyPaneBody("PropertiesBody"));
  m_properties->setAllowedAreas(Qt::AllDockWidgetAreas);
  addDockWidget(Qt::RightDockWidgetArea, m_properties);
  resizeDocks({m_explorer, m_properties}, {220, 240}, Qt::Horizontal);

  // The explorer starts collapsed to a tab on the left border.
  m_autoHideBar = new QToolBar(tr("Auto-hide panes"), this);
  m_autoHideBar->setObjectName("AutoHideLeft");
  m_autoHideBar->setMovable(false);
  m_autoHideBar->setFloatable(false);
  m_autoHideBar->toggleViewAction()->setVisible(false);
  auto* tab = new CAutoHideButton(m_explorer->windowTitle(), m_autoHideBar);
  tab->setObjectName("ExplorerTab");
  m_autoHideBar->addWidget(tab);
  addToolBar(Qt::LeftToolBarArea, m_autoHideBar);
  connect(tab, &QToolButton::clicked, this, [this] { m_router->Execute(ID_VIEW_EXPLORER); });
  connect(m_explorer, &QDockWidget::visibilityChanged, tab,
          [this, tab](bool) { tab->setChecked(m_explorer->isVisible()); });
  m_explorer->hide();
  return true;
}

void CMainFrame::SetDockingWindowIcons(bool highColor) {
  m_explorer->setWindowIcon(PaneIcon(true, highColor));
  m_properties->setWindowIcon(PaneIcon(false, highColor));
  if (auto* tab = findChild<QToolButton*>("ExplorerTab")) tab->setIcon(m_explorer->windowIcon());
}

CCustomToolBar* CMainFrame::ToolBar(UINT id) const {
  if (auto it = m_toolbars.find(id); it != m_toolbars.end()) return it->second;
  if (auto it = m_userToolbars.find(id); it != m_userToolbars.end()) return it->second;
  return nullptr;
}

QMenu* CMainFrame::createPopupMenu() {
  QMenu* menu = QMainWindow::createPopupMenu();
  if (!menu) menu = new QMenu(this);
  // Panes and toolbars (the user's too), then the customisation.
  menu->addSeparator();
  menu->addAction(m_router->Action(ID_APP_OPTIONS));
  m_router->UpdateMenu(menu);
  InstallMenuToolTips(menu);
  return menu;
}

// --- looks and tabs -------------------------------------------------------

void CMainFrame::ApplyAppLook(int lookId) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  shell::ApplyLook(lookId);
  if (m_mdiClient) m_mdiClient->update();
  update();
  QApplication::restoreOverrideCursor();
}

void CMainFrame::ApplyMDITabSettings(bool resetChildWindows) {
  ApplyTabs();
  if (resetChildWindows)
    for (QWidget* w : m_mdiClient->Windows()) w->updateGeometry();
  m_bMDITabSettingsChanged = 0;
}

void CMainFrame::ApplyTabs() {
  const auto& s = m_nMDITabSettings;
  TMdiTabInfo info;
  info.tabsOnTop = s[1] != 0;
  info.activeTabCloseButton = s[2] != 0;
  info.style = s[3];
  info.autoColor = s[4] != 0;
  info.tabIcons = s[5] != 0;
  info.documentMenu = s[6] != 0;
  info.tabSwap = s[7] != 0;
  info.borderSize = std::clamp(s[9], 0, 20);
  info.flatFrame = s[11] != 0;
  info.customTooltips = s[12] != 0;
  // The close button on every tab goes with tabbed groups; one row of tabs
  // has it on the active tab.
  info.tabCloseButton = s[0] == 2;
  const int mode = (s[0] == 1 || s[0] == 2) ? s[0] : 0;
  m_mdiClient->SetTabMode(mode);
  m_mdiClient->ApplyTabInfo(info);
  m_bTabsOnBarred = mode != 0;
  m_bTabsOffBarred = mode == 0;
  UpdateNonPermittedCommands();
}

void CMainFrame::UpdateNonPermittedCommands() {
  m_nonPermitted.clear();
  if (m_bTabsOnBarred)
    m_nonPermitted.insert(m_nonPermitted.end(),
                          {ID_WINDOW_CASCADE, ID_WINDOW_TILE_HORZ, ID_WINDOW_TILE_VERT, ID_WINDOW_ARRANGE});
  if (m_bTabsOffBarred)
    m_nonPermitted.insert(m_nonPermitted.end(),
                          {ID_WINDOW_NEW_HORZ_TAB_GROUP, ID_WINDOW_NEW_VERT_TAB_GROUP,
                           ID_WINDOW_MOVE_TO_NEXT_TAB_GROUP, ID_WINDOW_MOVE_TO_PREV_TAB_GROUP});
  m_nonPermitted.insert(m_nonPermitted.end(), {ID_EDIT_CUT, ID_EDIT_UNDO, ID_TOOLS_MORE_OPTIONS});
  // Non-permitted items leave the menus; a popup left with nothing to offer
  // leaves the menu bar.
  for (UINT id : m_router->Ids()) m_router->Action(id)->setVisible(IsPermitted(id));
  std::function<bool(QMenu*)> hasItems = [&](QMenu* m) {
    bool any = false;
    for (QAction* a : m->actions()) {
      if (a->isSeparator()) continue;
      if (QMenu* sub = a->menu()) {
        const bool subAny = hasItems(sub);
        a->setVisible(subAny);
        any = any || subAny;
      } else if (a->isVisible()) {
        any = true;
      }
    }
    return any;
  };
  if (menuBar())
    for (QAction* a : menuBar()->actions())
      if (QMenu* m = a->menu()) a->setVisible(hasItems(m));
  for (CCustomToolBar* tb : AllToolbars()) tb->RebuildButtons();
}

bool CMainFrame::IsPermitted(UINT id) const {
  return std::find(m_nonPermitted.begin(), m_nonPermitted.end(), id) == m_nonPermitted.end();
}

void CMainFrame::UpdateWindowMenu(QMenu* menu) {
  // The tab-group items show only when the active group allows them.
  const unsigned allowed = m_mdiClient->AllowedGroupItems();
  const std::pair<UINT, unsigned> items[] = {
      {ID_WINDOW_NEW_VERT_TAB_GROUP, CMdiClient::MDI_CREATE_VERT_GROUP},
      {ID_WINDOW_NEW_HORZ_TAB_GROUP, CMdiClient::MDI_CREATE_HORZ_GROUP},
      {ID_WINDOW_MOVE_TO_PREV_TAB_GROUP, CMdiClient::MDI_CAN_MOVE_PREV},
      {ID_WINDOW_MOVE_TO_NEXT_TAB_GROUP, CMdiClient::MDI_CAN_MOVE_NEXT},
  };
  for (const auto& [id, bit] : items)
    m_router->Action(id)->setVisible(IsPermitted(id) && (allowed & bit) != 0);
  (void)menu;
}

void CMainFrame::UpdateRecentFiles(QMenu* menu) {
  for (QAction* a : menu->actions())
    if (a->property("recentFile").toBool()) {
      menu->removeAction(a);
      a->deleteLater();
    }
  if (!m_recentFiles) return;
  QAction* before = nullptr;
  for (QAction* a : menu->actions())
    if (a->objectName() == "RecentFilesEnd") before = a;
  const std::vector<std::string> files = m_recentFiles();
  for (std::size_t i = 0; i < files.size() && i < 16; ++i) {
    auto* a = new QAction(QString("&%1 %2").arg(i + 1).arg(QString::fromStdString(files[i])), menu);
    a->setProperty("recentFile", true);
    const UINT id = ID_FILE_MRU_FILE1 + static_cast<UINT>(i);
    connect(a, &QAction::triggered, this, [this, id] { m_router->Execute(id); });
    menu->insertAction(before, a);
  }
}

// --- documents ------------------------------------------------------------

void CMainFrame::AddChildFrame(IChildFrame* frame) {
  if (!frame || !frame->Widget()) return;
  QWidget* w = frame->Widget();
  m_frames[w] = frame;
  connect(w, &QObject::destroyed, this, [this, w] {
    m_frames.erase(w);
    UpdateTitle();
  });
  connect(w, &QWidget::windowTitleChanged, this, [this] { UpdateTitle(); });
  m_mdiClient->AddWindow(w);
  if (auto* sub = qobject_cast<QMdiSubWindow*>(w->parentWidget()))
    connect(sub, &QMdiSubWindow::windowStateChanged, this, [this] { UpdateTitle(); });
  frame->OnInitialUpdate();
  UpdateTitle();
  m_router->UpdateActions();
}

std::vector<IChildFrame*> CMainFrame::ChildFrames() const {
  std::vector<IChildFrame*> out;
  if (!m_mdiClient) return out;
  for (QWidget* w : m_mdiClient->Windows())
    if (IChildFrame* f = FrameOf(w)) out.push_back(f);
  return out;
}

IChildFrame* CMainFrame::FrameOf(QWidget* widget) const {
  auto it = m_frames.find(widget);
  return it == m_frames.end() ? nullptr : it->second;
}

IChildFrame* CMainFrame::ActiveChildFrame() const {
  return m_mdiClient ? FrameOf(m_mdiClient->ActiveWindow()) : nullptr;
}

IMediaDocument* CMainFrame::ActiveDocument() const {
  IChildFrame* f = ActiveChildFrame();
  return f ? f->Document() : nullptr;
}

bool CMainFrame::CloseChildFrame(IChildFrame* frame) {
  if (!frame) return true;
  if (IMediaDocument* doc = frame->Document(); doc && !doc->SaveModified()) {
    // The document was asked to end its session: the window closes once it
    // has (Window > Close All, Close in the Windows dialog).
    ClosePendingWhenReady(frame->Widget());
    return false;
  }
  return CloseWindow(frame->Widget());
}

void CMainFrame::ClosePendingWhenReady(QWidget* window) {
  if (!window) return;
  for (const QPointer<QWidget>& w : m_pendingCloses)
    if (w == window) return;  // already waiting
  m_pendingCloses.emplace_back(window);
  // Asked again every 100 ms, at most 250 times (about 25 s); a document
  // that never agrees leaves its window open.
  auto* timer = new QTimer(this);
  timer->setInterval(100);
  auto tries = std::make_shared<int>(0);
  QPointer<QWidget> target(window);
  connect(timer, &QTimer::timeout, this, [this, timer, tries, target] {
    auto forget = [&] {
      timer->stop();
      timer->deleteLater();
      m_pendingCloses.erase(std::remove(m_pendingCloses.begin(), m_pendingCloses.end(), target),
                            m_pendingCloses.end());
      m_pendingCloses.erase(std::remove(m_pendingCloses.begin(), m_pendingCloses.end(), nullptr),
                            m_pendingCloses.end());
    };
    IChildFrame* frame = target ? FrameOf(target) : nullptr;
    if (!frame) {  // closed meanwhile
      forget();
      return;
    }
    IMediaDocument* doc = frame->Document();
    if (!doc || doc->SaveModified()) {
      forget();
      CloseWindow(frame->Widget());
      return;
    }
    if (++*tries >= 250) forget();
  });
  timer->start();
}

bool CMainFrame::CloseWindow(QWidget* w) {
  if (!w) return true;
  // The window's own close: a document window may refuse (its document
  // still plays) and close itself later.
  if (!w->close()) return false;
  m_frames.erase(w);
  if (w->testAttribute(Qt::WA_DeleteOnClose)) {
    // It goes with the next turn of the event loop; out of the tabs now.
    w->hide();
  } else {
    delete w;
  }
  UpdateTitle();
  return true;
}

bool CMainFrame::CloseAllDocuments() {
  bool all = true;
  for (IChildFrame* f : ChildFrames())
    if (!CloseChildFrame(f)) all = false;
  return all;
}

QString CMainFrame::FrameTitle() const {
  const QString app = QStringLiteral("Tovrin");
  IChildFrame* frame = ActiveChildFrame();
  QWidget* window = frame ? frame->Widget() : nullptr;
  if (!window) return app;
  QString document = window->windowTitle();
  if (document.isEmpty())
    if (IMediaDocument* doc = frame->Document()) document = QString::fromStdString(doc->Title());
  if (document.isEmpty()) return app;
  // A document window is maximised when it fills the document area: always
  // with tabs, and as a sub-window shown maximised without them.
  const auto* sub = qobject_cast<const QMdiSubWindow*>(window->parentWidget());
  const bool maximised = sub ? sub->isMaximized() : true;
  return maximised ? app + " - [" + document + "]" : app + " - " + document;
}

void CMainFrame::UpdateTitle() {
  if (m_bDestroying) return;
  setWindowTitle(FrameTitle());
  UpdateSaveAsText();
}

// The active document window's active view first, then its document, the
// window itself (which offers what is left to its other views), then this
// frame and last the application.
std::vector<platform::qt::ICommandTarget*> CMainFrame::CommandChain() const {
  std::vector<platform::qt::ICommandTarget*> chain;
  if (IChildFrame* f = ActiveChildFrame()) {
    const std::vector<platform::qt::ICommandTarget*> views = f->ViewTargets();
    if (!views.empty()) chain.push_back(views.front());
    chain.push_back(f->Document());
    chain.push_back(f->FrameTarget());
    for (std::size_t i = 1; i < views.size(); ++i) chain.push_back(views[i]);
  }
  chain.push_back(const_cast<CMainFrame*>(this));
  chain.push_back(m_app);
  return chain;
}

// --- the windows dialog ---------------------------------------------------

QDialog* CMainFrame::CreateWindowsDialog() {
  auto* dlg = new QDialog(this);
  dlg->setObjectName("WindowsDialog");
  dlg->setWindowTitle(tr("Windows"));
  auto* list = new QListWidget(dlg);
  list->setObjectName("WindowList");
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  auto* activate = new QPushButton(tr("&Activate"), dlg);
  activate->setObjectName("Activate");
  auto* closeButton = new QPushButton(tr("&Close Window(s)"), dlg);
  closeButton->setObjectName("CloseWindows");
  auto* ok = new QPushButton(tr("OK"), dlg);
  ok->setDefault(true);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(activate);
  buttons->addWidget(closeButton);
  buttons->addStretch();
  buttons->addWidget(ok);
  auto* layout = new QHBoxLayout(dlg);
  layout->addWidget(list, 1);
  layout->addLayout(buttons);
  dlg->resize(460, 280);

  auto fill = [this, list] {
    list->clear();
    for (IChildFrame* f : ChildFrames()) {
      auto* item = new QListWidgetItem(f->Widget()->windowTitle(), list);
      item->setData(Qt::UserRole, QVariant::fromValue<QObject*>(f->Widget()));
      if (f == ActiveChildFrame()) list->setCurrentItem(item);
    }
  };
  auto selected = [list] {
    std::vector<QPointer<QWidget>> out;
    for (QListWidgetItem* item : list->selectedItems())
      out.emplace_back(qobject_cast<QWidget*>(item->data(Qt::UserRole).value<QObject*>()));
    return out;
  };
  fill();
  connect(list, &QListWidget::itemDoubleClicked, activate, &QPushButton::click);
  connect(activate, &QPushButton::clicked, dlg, [this, dlg, selected] {
    const auto windows = selected();
    if (windows.size() == 1 && windows.front()) {
      m_mdiClient->ActivateWindow(windows.front());
      dlg->accept();
    }
  });
  connect(closeButton, &QPushButton::clicked, dlg, [this, selected, fill] {
    for (const QPointer<QWidget>& w : selected())
      if (w)
        if (IChildFrame* f = FrameOf(w)) CloseChildFrame(f);
    QApplication::processEvents();
    fill();
  });
  connect(ok, &QPushButton::clicked, dlg, &QDialog::accept);
  auto updateButtons = [list, activate, closeButton] {
    activate->setEnabled(list->selectedItems().size() == 1);
    closeButton->setEnabled(!list->selectedItems().isEmpty());
  };
  connect(list, &QListWidget::itemSelectionChanged, dlg, updateButtons);
  updateButtons();
  return dlg;
}

// --- commands -------------------------------------------------------------

void CMainFrame::ToggleToolbar(UINT id) {
  if (QToolBar* tb = ToolBar(id)) tb->setVisible(!tb->isVisible());
}

void CMainFrame::InstallCommands() {
  OnCommandRange(ID_VIEW_TOOLBAR_STANDARD, ID_VIEW_TOOLBAR_DVD, [this](UINT id) { ToggleToolbar(id); });
  OnUpdateRange(ID_VIEW_TOOLBAR_STANDARD, ID_VIEW_TOOLBAR_DVD, [this](TCmdUI& ui) {
    QToolBar* tb = ToolBar(ui.Id());
    ui.SetCheck(tb && tb->isVisible() ? 1 : 0);
  });
  // The user's toolbars: shown or hidden by their window ids; off for an id
  // without a toolbar.
  OnCommandRange(ID_USER_TOOLBAR_FIRST, ID_USER_TOOLBAR_LAST, [this](UINT id) { ToggleToolbar(id); });
  OnUpdateRange(ID_USER_TOOLBAR_FIRST, ID_USER_TOOLBAR_LAST, [this](TCmdUI& ui) {
    QToolBar* tb = ToolBar(ui.Id());
    ui.Enable(tb != nullptr);
    ui.SetCheck(tb && tb->isVisible() ? 1 : 0);
  });
  OnCommand(ID_VIEW_EXPLORER, [this] {
    m_explorer->setVisible(!m_explorer->isVisible());
    if (m_explorer->isVisible()) m_explorer->raise();
  });
  OnUpdate(ID_VIEW_EXPLORER, [this](TCmdUI& ui) { ui.SetCheck(m_explorer && m_explorer->isVisible()); });
  OnCommand(ID_VIEW_PROPERTIES, [this] { m_properties->setVisible(!m_properties->isVisible()); });
  OnUpdate(ID_VIEW_PROPERTIES,
           [this](TCmdUI& ui) { ui.SetCheck(m_properties && m_properties->isVisible()); });
  OnCommand(ID_VIEW_STATUS_BAR, [this] { statusBar()->setVisible(!statusBar()->isVisible()); });
  OnUpdate(ID_VIEW_STATUS_BAR, [this](TCmdUI& ui) { ui.SetCheck(statusBar()->isVisible()); });
  OnCommand(ID_VIEW_CAPTION_BAR, [] {});
  OnUpdate(ID_VIEW_CAPTION_BAR, [](TCmdUI& ui) { ui.Enable(false); });

  // Window arrangement without tabs.
  OnCommand(ID_WINDOW_CASCADE, [this] { m_mdiClient->Cascade(); });
  OnCommand(ID_WINDOW_TILE_HORZ, [this] { m_mdiClient->TileHorizontally(); });
  OnCommand(ID_WINDOW_TILE_VERT, [this] { m_mdiClient->TileVertically(); });
  OnCommand(ID_WINDOW_ARRANGE, [this] { m_mdiClient->ArrangeIcons(); });
  OnUpdateRange(ID_WINDOW_ARRANGE, ID_WINDOW_TILE_VERT, [this](TCmdUI& ui) {
    ui.Enable(!m_mdiClient->IsTabbedGroups() && m_mdiClient->TabMode() == 0 &&
              !m_mdiClient->Windows().empty());
  });

  // Tab groups.
  OnCommand(ID_WINDOW_NEW_VERT_TAB_GROUP, [this] { m_mdiClient->NewVerticalGroup(); });
  OnCommand(ID_WINDOW_NEW_HORZ_TAB_GROUP, [this] { m_mdiClient->NewHorizontalGroup(); });
  OnCommand(ID_WINDOW_MOVE_TO_NEXT_TAB_GROUP, [this] { m_mdiClient->MoveToNextGroup(); });
  OnCommand(ID_WINDOW_MOVE_TO_PREV_TAB_GROUP, [this] { m_mdiClient->MoveToPrevGroup(); });
  auto groupRule = [this](unsigned bit) {
    return [this, bit](TCmdUI& ui) { ui.Enable((m_mdiClient->AllowedGroupItems() & bit) != 0); };
  };
  OnUpdate(ID_WINDOW_NEW_VERT_TAB_GROUP, groupRule(CMdiClient::MDI_CREATE_VERT_GROUP));
  OnUpdate(ID_WINDOW_NEW_HORZ_TAB_GROUP, groupRule(CMdiClient::MDI_CREATE_HORZ_GROUP));
  OnUpdate(ID_WINDOW_MOVE_TO_NEXT_TAB_GROUP, groupRule(CMdiClient::MDI_CAN_MOVE_NEXT));
  OnUpdate(ID_WINDOW_MOVE_TO_PREV_TAB_GROUP, groupRule(CMdiClient::MDI_CAN_MOVE_PREV));
  OnCommand(ID_WINDOW_TABBED_DOCUMENT, [] {});
  OnUpdate(ID_WINDOW_TABBED_DOCUMENT, [](TCmdUI& ui) { ui.SetCheck(1); });

  // Paste itself belongs to the active video pane; the frame says when it
  // can run.
  OnUpdate(ID_EDIT_PASTE, [this](TCmdUI& ui) { OnUpdatePaste(ui); });

  OnCommand(ID_APP_EXIT, [this] { close(); });
  OnCommand(ID_WINDOW_MANAGER, [this] {
    std::unique_ptr<QDialog> dlg(CreateWindowsDialog());
    dlg->exec();
  });
  OnUpdate(ID_WINDOW_MANAGER, [this](TCmdUI& ui) { ui.Enable(!ChildFrames().empty()); });
}

// --- the clipboard and the notices -----------------------------------------

void CMainFrame::TestClipboard() { m_bClipboardHasPicture = ClipboardHoldsPicture() ? 1 : 0; }

void CMainFrame::OnUpdatePaste(TCmdUI& ui) {
  if (m_nPasteTestCounter == 7) {
    const std::uint32_t sequence = ClipboardSequenceNumber();
    if (sequence != m_nClipboardSequence) {
      m_nClipboardSequence = sequence;
      TestClipboard();
    }
    m_nPasteTestCounter = 0;
  }
  ++m_nPasteTestCounter;
  ui.Enable(m_bClipboardHasPicture != 0);
}

void CMainFrame::UpdateOpenButton(const platform::qt::TFrameNotice& notice) {
  const UINT code = static_cast<UINT>(notice.code);
  const UINT ways[] = {ID_FILE_OPEN,         ID_FILE_OPEN_URL, ID_FILE_OPEN_DEVICE,
                       ID_FILE_OPEN_SCANNER, ID_FILE_OPEN_DVD, ID_FILE_OPEN_PROJECT};
  if (std::find(std::begin(ways), std::end(ways), code) == std::end(ways) || !m_wndToolBarStandard) return;
  const UINT current = m_wndToolBarStandard->CommandAt(1);
  if (current == 0 || current == code) return;
  m_wndToolBarStandard->SetCommandAt(1, code);
}

void CMainFrame::UpdateViewButton(const platform::qt::TFrameNotice& notice) {
  const UINT code = static_cast<UINT>(notice.code);
  int position = -1;
  if (code >= ID_VIEW_PRIMARY_PANE && code <= ID_VIEW_PANE_LAYOUT)
    position = 0;
  else if (code >= ID_VIEW_PIP_OPTIONS && code <= ID_VIEW_PIP_ASSISTANT)
    position = 2;
  CCustomToolBar* view = ToolBar(ID_VIEW_TOOLBAR_VIEW);
  if (position < 0 || !view) return;
  const UINT current = view->CommandAt(position);
  if (current == 0 || current == code) return;
  view->SetCommandAt(position, code);
}

// --- private messages -----------------------------------------------------

void CMainFrame::InstallMessages() {
  using namespace platform::qt;
  using platform::LoadLE32;
  using platform::StoreLE32;
  m_messages->On(WM_APP_VIEW_CREATED, [this](WPARAM, LPARAM) -> LRESULT {
    m_bMediaViewCreated = 1;
    return 0;
  });
  m_messages->On(WM_APP_FRAME_NOTIFY, [this](WPARAM w, LPARAM l) -> LRESULT {
    auto* notice = RecordOf<TFrameNotice>(l);
    if (!notice) return 1;
    if (w == FRAME_NOTIFY_OPEN_BUTTON) {
      UpdateOpenButton(*notice);
    } else if (w == FRAME_NOTIFY_VIEW_BUTTON) {
      UpdateViewButton(*notice);
    } else if (w == FRAME_NOTIFY_TAB_GROUPS && notice->code == FRAME_REQ_TAB_GROUPS_CHANGED) {
      if (m_mdiClient->IsTabbedGroups())
        m_mdiClient->SetTabMaxWidth(300);
      else
        notice->answered = 1;
    }
    return 1;
  });
  // The application-look exchange: 8 look id, 12 look changed, 20 reset.
  m_messages->On(WM_APP_OPTS_APP_LOOK, [this](WPARAM, LPARAM l) -> LRESULT {
    auto* b = RecordOf<std::uint8_t>(l);
    if (!b) return 0;
    const auto op = static_cast<std::int32_t>(LoadLE32(b));
    if (op == APP_OP_READ) {
      StoreLE32(b + 8, static_cast<std::uint32_t>(m_state.lookId));
      b[20] = m_state.resetLayoutAtExit;
      b[4] = 1;
    } else if (op == APP_OP_WRITE) {
      m_state.lookId = static_cast<std::int32_t>(LoadLE32(b + 8));
      m_state.lookChanged = b[12];
      m_state.resetLayoutAtExit = b[20];
      b[4] = 1;
      if (m_state.lookChanged) PostAppMessage(this, WM_APP_APPLOOK_CHANGED);
    }
    return 0;
  });
  m_messages->On(WM_APP_APPLOOK_CHANGED, [this](WPARAM, LPARAM) -> LRESULT {
    ApplyAppLook(m_state.lookId);
    m_state.lookChanged = 0;
    return 0;
  });
  // The MDI tabs exchange: 8 the 13 settings, 60 reset child windows, 61 changed.
  m_messages->On(WM_APP_OPTS_MDI_TABS, [this](WPARAM, LPARAM l) -> LRESULT {
    auto* b = RecordOf<std::uint8_t>(l);
    if (!b) return 0;
    const auto op = static_cast<std::int32_t>(LoadLE32(b));
    if (op == APP_OP_READ) {
      for (std::size_t i = 0; i < 13; ++i)
        StoreLE32(b + 8 + 4 * i, static_cast<std::uint32_t>(m_nMDITabSettings[i]));
      b[60] = m_bResetChildWindows;
      b[4] = 1;
    } else if (op == APP_OP_WRITE) {
      for (std::size_t i = 0; i < 13; ++i)
        m_nMDITabSettings[i] = static_cast<std::int32_t>(LoadLE32(b + 8 + 4 * i));
      m_bResetChildWindows = b[60];
      m_bMDITabSettingsChanged = b[61];
      b[4] = 1;
      if (m_bMDITabSettingsChanged) ApplyMDITabSettings(m_bResetChildWindows != 0);
    }
    return 0;
  });
}

// The rows of toolbars: the space beside the bars takes the bar colour of
// the look, so that a row reads as one bar.
void CMainFrame::paintEvent(QPaintEvent* event) {
  QMainWindow::paintEvent(event);
  auto* look = qobject_cast<const CLookStyle*>(style());
  if (!look || !centralWidget()) return;
  const int top = menuBar() && menuBar()->isVisible() ? menuBar()->geometry().bottom() + 1 : 0;
  int bottom = top;
  const std::vector<CCustomToolBar*> bars = AllToolbars();
  for (CCustomToolBar* tb : bars)
    if (tb->isVisible() && toolBarArea(tb) == Qt::TopToolBarArea && !tb->isFloating())
      bottom = std::max(bottom, tb->geometry().bottom() + 1);
  if (bottom <= top) return;
  QPainter p(this);
  const TLook& l = look->Look();
  for (CCustomToolBar* tb : bars) {
    if (!tb->isVisible() || toolBarArea(tb) != Qt::TopToolBarArea || tb->isFloating()) continue;
    // Every row, from its first bar's top to its last bar's bottom.
    const QRect g = tb->geometry();
    QRect row(0, g.top(), width(), g.height());
    QLinearGradient grad(row.topLeft(), row.bottomLeft());
    grad.setColorAt(0, l.gradientBars ? l.barEnd : l.barStart);
    grad.setColorAt(1, l.barStart);
    p.fillRect(row, grad);
  }
}

bool CMainFrame::event(QEvent* e) {
  if (m_messages && m_messages->Dispatch(e)) return true;
  return QMainWindow::event(e);
}

// --- closing and the saved layout -----------------------------------------

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (m_closing) {
    event->accept();
    return;
  }
  if (CloseAllDocuments()) {
    m_closing = true;
    SaveWorkspace();
    event->accept();
    return;
  }
  // A document whose engine runs was asked to stop: ask again every 100 ms,
  // at most 250 times, and close at the first yes. The window stays open
  // after that.
  event->ignore();
  if (m_closeTries > 0) return;  // already waiting
  auto* timer = new QTimer(this);
  timer->setInterval(100);
  connect(timer, &QTimer::timeout, this, [this, timer] {
    if (CloseAllDocuments()) {
      timer->deleteLater();
      m_closeTries = 0;
      close();
    } else if (++m_closeTries >= 250) {
      timer->deleteLater();
      m_closeTries = 0;
    }
  });
  m_closeTries = 1;
  timer->start();
}

void CMainFrame::SaveWorkspace() {
  if (!m_profile) return;
  const QByteArray geometry = saveGeometry();
  const QByteArray state = saveState();
  m_profile->WriteBinaryValue(kWorkspaceKey, "WindowPlacement", geometry.constData(),
                              static_cast<std::size_t>(geometry.size()));
  m_profile->WriteBinaryValue(kWorkspaceKey, "BarState", state.constData(),
                              static_cast<std::size_t>(state.size()));
  SaveToolbars();
}

namespace {

QString IdList(const std::vector<UINT>& ids) {
  QStringList parts;
  for (UINT id : ids) parts << QString::number(id);
  return parts.join(',');
}

// Ids of a stored list; what is no id is left out.
std::vector<UINT> ParseIdList(const std::string& text) {
  std::vector<UINT> out;
  for (const QString& part : QString::fromStdString(text).split(',', Qt::SkipEmptyParts)) {
    bool ok = false;
    const uint id = part.trimmed().toUInt(&ok);
    if (ok && id != 0) out.push_back(id);
  }
  return out;
}

}  // namespace

// The user's toolbars (name and commands) and every toolbar's hidden buttons.
void CMainFrame::SaveToolbars() {
  m_profile->DeleteKey(kUserToolbarsKey);
  for (const auto& [id, tb] : m_userToolbars) {
    const std::string n = std::to_string(id);
    m_profile->WriteStringValue(kUserToolbarsKey, "Name" + n, tb->windowTitle().toStdString());
    m_profile->WriteStringValue(kUserToolbarsKey, "Commands" + n, IdList(tb->Buttons()).toStdString());
  }
  m_profile->DeleteKey(kHiddenButtonsKey);
  for (CCustomToolBar* tb : AllToolbars())
    if (const auto hidden = tb->HiddenButtons(); !hidden.empty())
      m_profile->WriteStringValue(kHiddenButtonsKey, std::to_string(tb->Id()), IdList(hidden).toStdString());
}

void CMainFrame::RestoreToolbars() {
  for (UINT id = m_firstUserToolbar; m_firstUserToolbar != 0 && id <= m_lastUserToolbar; ++id) {
    const std::string n = std::to_string(id);
    std::string name, commands;
    if (!m_profile->ReadStringValue(kUserToolbarsKey, "Name" + n, name) || m_userToolbars.count(id)) continue;
    const QString caption = QString::fromStdString(name).trimmed();
    if (caption.isEmpty()) continue;
    // The saved id, so that the saved layout finds the toolbar.
    auto* tb = new CCustomToolBar(id, caption, this);
    tb->SetUserToolbar(true);
    tb->setIconSize(QSize(IconSize(), IconSize()));
    SetUpToolbar(tb);
    addToolBar(Qt::TopToolBarArea, tb);
    tb->show();
    m_userToolbars[id] = tb;
    m_router->Action(id)->setText(caption);
    m_profile->ReadStringValue(kUserToolbarsKey, "Commands" + n, commands);
    for (UINT command : ParseIdList(commands))
      if (IsToolbarCommand(command)) tb->AddButton(command);
  }
  for (CCustomToolBar* tb : AllToolbars()) {
    std::string hidden;
    if (m_profile->ReadStringValue(kHiddenButtonsKey, std::to_string(tb->Id()), hidden))
      tb->SetHiddenButtons(ParseIdList(hidden));
  }
  m_router->UpdateActions();
}

bool CMainFrame::RestoreWorkspace() {
  if (!m_profile) return false;
  std::vector<std::uint8_t> geometry, state;
  // The toolbars first, so that the saved layout finds them.
  RestoreToolbars();
  const bool hasGeometry = m_profile->ReadBinaryValue(kWorkspaceKey, "WindowPlacement", geometry);
  if (m_profile->ReadBinaryValue(kWorkspaceKey, "BarState", state))
    restoreState(
        QByteArray(reinterpret_cast<const char*>(state.data()), static_cast<qsizetype>(state.size())));
  if (!hasGeometry) return false;
  return restoreGeometry(
      QByteArray(reinterpret_cast<const char*>(geometry.data()), static_cast<qsizetype>(geometry.size())));
}

QImage CMainFrame::Snapshot() {
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
  return grab().toImage();
}

}  // namespace MainFrame
