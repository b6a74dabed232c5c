#pragma once
// The application's main window: menu bar, eight toolbars, status bar, the
// document area with its tab groups, and the explorer and properties panes.

#include <QMainWindow>
#include <QPointer>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/qt/app_messages.h"
#include "platform/qt/commands.h"
#include "shell/application.h"
#include "shell/document_template.h"
#include "shell/mdi_client.h"
#include "shell/toolbars.h"

class QDialog;
class QDockWidget;
class QLabel;
class QMenu;
class QToolBar;

namespace platform::qt {
class CRegistryAccess;
}

namespace MainFrame {

// The toolbars in their creation order, with their window ids.
struct TToolbarInfo {
  UINT id;
  const char* caption;
  bool shownAtFirst;
};
const std::vector<TToolbarInfo>& Toolbars();

// The context menus by menu id.
inline constexpr int kEditContextMenu = 109;
inline constexpr int kExplorerContextMenu = 172;
inline constexpr int kPaneContextMenu = 230;
inline constexpr int kControllerContextMenu = 231;
// Commands of the explorer's menu that only the explorer pane knows.
inline constexpr UINT kExplorerProperties = 124;
inline constexpr UINT kExplorerCopyFrom = 127;
inline constexpr UINT kExplorerPasteTo = 128;

// Default MDI tab settings (mode, on top, active close button, style, auto
// colour, icons, document menu, swap, context menu, border, no redraw, flat
// frame, custom tooltips).
inline constexpr std::array<std::int32_t, 13> kDefaultMdiTabSettings{2, 1, 1, 5, 0, 0, 1, 1, 1, 0, 1, 1, 1};

class CMainFrame : public QMainWindow, public platform::qt::CCmdTarget {
  Q_OBJECT
 public:
  // `state` and `cfg` are the application's; `app` receives the commands
  // nobody before it handles. The frame takes its group of `cfg` when the
  // block holds saved settings and writes it back when it is destroyed.
  CMainFrame(shell::TShellState& state, shell::TProgCfg& cfg, platform::qt::ICommandTarget* app,
             QWidget* parent = nullptr);
  ~CMainFrame() override;

  // Builds the bars, panes and the document area. False when something
  // could not be made (start-up then ends).
  bool LoadFrame();

  // The profile where the frame keeps its window placement and bar layout
  // (the framework's state); nullptr: not kept.
  void SetProfile(platform::qt::CRegistryAccess* profile) { m_profile = profile; }
  // Restores the saved placement and layout; false when nothing was saved.
  bool RestoreWorkspace();
  void SaveWorkspace();

  // The recent-file list shown in the File menu.
  void SetRecentFileSource(std::function<std::vector<std::string>()> source) {
    m_recentFiles = std::move(source);
  }

  // Documents.
  void AddChildFrame(shell::IChildFrame* frame);
  std::vector<shell::IChildFrame*> ChildFrames() const;
  shell::IChildFrame* ActiveChildFrame() const;
  shell::IMediaDocument* ActiveDocument() const;
  // Asks every document whether it may close and closes those that agree;
  // true when all closed.
  bool CloseAllDocuments();
  // Closes one document window after its document agreed; false when it
  // refused (its session was asked to end: the window then closes once the
  // document agrees, asked every 100 ms for about 25 s).
  bool CloseChildFrame(shell::IChildFrame* frame);
  // Closes a document window by its own close (which may refuse).
  bool CloseWindow(QWidget* window);

  shell::CMdiClient* MdiClient() const { return m_mdiClient; }
  platform::qt::TCommandRouter* Router() const { return m_router; }
  // A toolbar by its window id: the eight of the frame and the user's.
  shell::CCustomToolBar* ToolBar(UINT id) const;
  // The toolbars whose buttons documents set; null before LoadFrame.
  ToolBarStandard::CToolBarStandard* StandardToolBar() const { return m_wndToolBarStandard; }
  ToolBarNavigate::CToolBarNavigate* NavigateToolBar() const { return m_wndToolBarNavigate; }
  ToolBarGo::CToolBarGo* GoToolBar() const { return m_wndToolBarGo; }
  ToolBarReplay::CToolBarReplay* ReplayToolBar() const { return m_wndToolBarReplay; }
  ToolBarCapture::CToolBarCapture* CaptureToolBar() const { return m_wndToolBarCapture; }
  ToolBarZoom::CToolBarZoom* ZoomToolBar() const { return m_wndToolBarZoom; }
  ToolBarDvd::CToolBarDvd* DvdToolBar() const { return m_wndToolBarDvd; }

  // Toolbars of the user's own, with the window ids first..last (at most
  // that many). A new one gets the first free id; nullptr when all are
  // taken or the name is empty.
  void InitUserToolbars(UINT firstId, UINT lastId);
  shell::CCustomToolBar* CreateUserToolbar(const QString& name);
  bool DeleteUserToolbar(UINT id);
  std::vector<shell::CCustomToolBar*> UserToolbars() const;
  // Adds a command to a user toolbar; false for a command that cannot go on
  // a toolbar (no such command, not permitted, already there).
  bool AddUserToolbarCommand(UINT toolbarId, UINT command);

  // The questions of the customisation menus; tests answer them.
  struct TCustomizePrompts {
    // The name of a new toolbar (the suggestion given); nothing: cancelled.
    std::function<std::optional<QString>(const QString& suggested)> toolbarName;
    // Whether the toolbar of this name may be deleted.
    std::function<bool(const QString& name)> confirmDelete;
  };
  void SetCustomizePrompts(TCustomizePrompts prompts) { m_prompts = std::move(prompts); }

  // The tooltip of a menu item: its text without "&". False (no tooltip)
  // for an item without a command (0 or -1) or without text.
  static bool OnMenuButtonToolHitTest(UINT id, const QString& text, QString* toolTip);
  QDockWidget* ExplorerPane() const { return m_explorer; }
  QDockWidget* PropertiesPane() const { return m_properties; }
  QMenu* PopupMenu(const QString& title) const;
  // The program's context menus ("Edit" 109, "Explorer" 172, "Zarn View"
  // 230, "Zarn Controller View" 231), each built here and nowhere else; a
  // new menu, nullptr for other ids. The caller owns it. Each item carries
  // its command (ContextMenuCommand). The items of 109, 230 and 231 run their
  // commands through the frame's routing and take their state from it
  // whenever the menu shows (commands nobody handles yet are disabled); the
  // explorer's menu shows as it was loaded, every item enabled, and its
  // owner runs the chosen command itself.
  QMenu* CreateContextMenu(int menuId, QWidget* parent);
  // The name a context menu is registered under (its menu's title); "" for
  // other ids.
  static QString ContextMenuName(int menuId);
  // The command of a context menu item; 0 for a separator or submenu.
  static UINT ContextMenuCommand(const QAction* action);

  // The look and the tab settings.
  void ApplyAppLook(int lookId);
  void ApplyMDITabSettings(bool resetChildWindows);
  const std::array<std::int32_t, 13>& MdiTabSettings() const { return m_nMDITabSettings; }
  std::array<std::int32_t, 13>& MdiTabSettings() { return m_nMDITabSettings; }

  // The commands left out of menus and toolbars.
  void UpdateNonPermittedCommands();
  const std::vector<UINT>& NonPermittedCommands() const { return m_nonPermitted; }
  bool IsPermitted(UINT id) const;

  bool MediaViewCreated() const { return m_bMediaViewCreated != 0; }

  // The window title: "Tovrin", with the active document's window title
  // after " - " when that window is not maximised, or in brackets when it is
  // (as the desktop shows a maximised document window in its frame).
  QString FrameTitle() const;

  // Paste is enabled while the clipboard holds a picture. The clipboard is
  // looked at whenever a menu of the frame opens and, between openings, at
  // every seventh update of Paste when it changed since it was last looked
  // at (the first time at the eighth update).
  bool ClipboardHasPicture() const { return m_bClipboardHasPicture != 0; }
  // Looks at the clipboard now (what opening a menu does).
  void TestClipboard();

  // The notices of WM_APP_FRAME_NOTIFY 2 and 7: the Standard toolbar's Open
  // button (position 1) repeats the last way of opening a document reported;
  // the View toolbar's layout button (position 0) and picture-in-picture
  // button (position 2) show the last command of their group.
  void UpdateOpenButton(const platform::qt::TFrameNotice& notice);
  void UpdateViewButton(const platform::qt::TFrameNotice& notice);

  // The "Windows" dialog: the open document windows, to activate or close.
  // The caller owns it.
  QDialog* CreateWindowsDialog();

  // The docking area's context menu: the panes and toolbars to show or hide,
  // then "Customize...". The caller owns it.
  QMenu* createPopupMenu() override;

  // The whole window as a picture, after the pending layout is done.
  QImage Snapshot();

 signals:
  void ActiveDocumentChanged();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  bool CreateMenuBar();
  bool CreateToolbars();
  // The frame's part of a toolbar: its actions, the permitted commands and
  // the customisation menu.
  void SetUpToolbar(shell::CCustomToolBar* bar);
  void ExtendCustomizeMenu(shell::CCustomToolBar* bar, QMenu* menu);
  void FillAddCommandMenu(shell::CCustomToolBar* bar, QMenu* target, QMenu* source);
  void AskNewToolbar();
  void UpdateToolbarsMenu(QMenu* menu);
  void InstallMenuToolTips(QMenu* menu);
  bool IsToolbarCommand(UINT id) const;
  std::vector<shell::CCustomToolBar*> AllToolbars() const;
  void SaveToolbars();
  void RestoreToolbars();
  bool CreateStatusBar();
  bool CreateDockingWindows();
  void SetDockingWindowIcons(bool highColor);
  void InstallMessages();
  void InstallCommands();
  void UpdateWindowMenu(QMenu* menu);
  void UpdateRecentFiles(QMenu* menu);
  void ToggleToolbar(UINT id);
  // Puts the tab settings into effect (start-up and every apply).
  void ApplyTabs();
  int IconSize() const;
  void PrepareAction(UINT id);
  void UpdateSaveAsText();
  std::vector<platform::qt::ICommandTarget*> CommandChain() const;
  shell::IChildFrame* FrameOf(QWidget* widget) const;
  void UpdateTitle();
  void UpdateContextMenu(QMenu* menu);
  void OnUpdatePaste(platform::qt::TCmdUI& ui);

  shell::TShellState& m_state;
  shell::TProgCfg& m_cfg;
  platform::qt::ICommandTarget* m_app;
  platform::qt::CRegistryAccess* m_profile = nullptr;

  std::uint8_t m_bMediaViewCreated = 0;
  std::uint8_t m_bTabsOnBarred = 1;
  std::uint8_t m_bTabsOffBarred = 1;
  std::array<std::int32_t, 13> m_nMDITabSettings = kDefaultMdiTabSettings;
  std::uint8_t m_bResetChildWindows = 0;
  std::uint8_t m_bMDITabSettingsChanged = 0;
  std::array<std::uint8_t, 3> m_channelButtons{};
  std::uint8_t m_bToolbarSettingsChanged = 0;
  // The clipboard test behind Paste: the last result, the clipboard's
  // change count when it was taken, and the Paste updates since.
  std::uint8_t m_bClipboardHasPicture = 0;
  std::uint32_t m_nClipboardSequence = 0;
  std::int32_t m_nPasteTestCounter = 0;

  platform::qt::TCommandRouter* m_router = nullptr;
  platform::qt::TMessageMap* m_messages = nullptr;
  shell::CMdiClient* m_mdiClient = nullptr;
  std::map<UINT, shell::CCustomToolBar*> m_toolbars;
  std::map<UINT, shell::CCustomToolBar*> m_userToolbars;
  UINT m_firstUserToolbar = 0;
  UINT m_lastUserToolbar = 0;
  TCustomizePrompts m_prompts;
  QObject* m_menuToolTips = nullptr;
  ToolBarStandard::CToolBarStandard* m_wndToolBarStandard = nullptr;
  ToolBarNavigate::CToolBarNavigate* m_wndToolBarNavigate = nullptr;
  ToolBarGo::CToolBarGo* m_wndToolBarGo = nullptr;
  ToolBarReplay::CToolBarReplay* m_wndToolBarReplay = nullptr;
  ToolBarCapture::CToolBarCapture* m_wndToolBarCapture = nullptr;
  ToolBarZoom::CToolBarZoom* m_wndToolBarZoom = nullptr;
  ToolBarDvd::CToolBarDvd* m_wndToolBarDvd = nullptr;
  QToolBar* m_autoHideBar = nullptr;
  QDockWidget* m_explorer = nullptr;
  QDockWidget* m_properties = nullptr;
  std::array<QLabel*, 3> m_indicators{};
  std::vector<UINT> m_nonPermitted;
  std::map<QWidget*, shell::IChildFrame*> m_frames;
  std::function<std::vector<std::string>()> m_recentFiles;
  QMenu* m_recentMenuAnchor = nullptr;
  int m_closeTries = 0;
  bool m_closing = false;
  // Document windows asked to close while their document was busy: each is
  // closed once its document agrees, as the main window's own close does.
  std::vector<QPointer<QWidget>> m_pendingCloses;
  void ClosePendingWhenReady(QWidget* window);
  bool m_bDestroying = false;
};

}  // namespace MainFrame
