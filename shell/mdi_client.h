#pragma once
// The main frame's document area. Three tab modes:
//   0  no tabs: document windows float inside the area (cascade, tile);
//   1  MDI tabs: one row of tabs;
//   2  MDI tabbed groups: rows of tabs side by side or one above the other,
//      split by draggable dividers; a document moves between groups and a
//      new group is made from the active document.
// The document windows are plain widgets; their window titles are the tab
// texts.

#include <QPointer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <vector>

class QMdiArea;
class QSplitter;
class QStackedLayout;
class QTabWidget;
class QToolButton;

namespace shell {

// The tab settings the area applies (the main frame's MDI tab settings).
struct TMdiTabInfo {
  bool tabsOnTop = true;
  bool activeTabCloseButton = true;
  bool tabCloseButton = true;
  int style = 5;
  bool autoColor = false;
  bool tabIcons = false;
  bool documentMenu = true;
  bool tabSwap = true;
  int borderSize = 0;
  bool flatFrame = true;
  bool customTooltips = true;
};

class CMdiClient : public QWidget {
  Q_OBJECT
 public:
  // The tab-group items the active group allows (as the tab context menu).
  enum TAllowedItems : unsigned {
    MDI_CREATE_VERT_GROUP = 1,
    MDI_CREATE_HORZ_GROUP = 2,
    MDI_CAN_MOVE_PREV = 4,
    MDI_CAN_MOVE_NEXT = 8,
    MDI_CAN_BE_DOCKED = 16,
  };
  enum class TGroupAlignment { None, Vertical, Horizontal };

  explicit CMdiClient(QWidget* parent = nullptr);
  ~CMdiClient() override;

  // Tab mode 0, 1 or 2; any other value is taken as 0 (no tabs).
  void SetTabMode(int mode);
  int TabMode() const { return m_mode; }
  bool IsTabbedGroups() const { return m_mode == 2; }

  void ApplyTabInfo(const TMdiTabInfo& info);
  const TMdiTabInfo& TabInfo() const { return m_info; }
  void SetTabMaxWidth(int pixels);

  // Adds a document window to the active group (maximised without tabs)
  // and activates it. The area takes the widget; deleting the widget takes
  // it out again.
  void AddWindow(QWidget* window);
  std::vector<QWidget*> Windows() const;
  QWidget* ActiveWindow() const;
  void ActivateWindow(QWidget* window);

  // Tabbed groups.
  int GroupCount() const;
  // The group of a window (0-based, left or top first), -1 when none.
  int GroupOf(const QWidget* window) const;
  std::vector<QWidget*> WindowsOfGroup(int group) const;
  unsigned AllowedGroupItems() const;
  TGroupAlignment GroupAlignment() const { return m_alignment; }
  // Each is allowed only as AllowedGroupItems() says; false when not done.
  bool NewVerticalGroup();
  bool NewHorizontalGroup();
  bool MoveToNextGroup();
  bool MoveToPrevGroup();

  // Without tabs.
  void Cascade();
  void TileHorizontally();
  void TileVertically();
  void ArrangeIcons();

  // The tab widgets of the groups (tests and the frame's tab menus).
  std::vector<QTabWidget*> Groups() const;

 signals:
  void ActiveWindowChanged(QWidget* window);
  // The user asked to close a window (its tab's close button).
  void WindowCloseRequested(QWidget* window);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QTabWidget* NewGroup(int index);
  QTabWidget* ActiveGroup() const;
  void SetActiveGroup(QTabWidget* group);
  void MoveWindow(QWidget* window, QTabWidget* to);
  bool SplitActive(TGroupAlignment alignment);
  void RemoveEmptyGroups();
  void Track(QWidget* window);
  void UpdateTab(QWidget* window);
  void UpdateCloseButtons(QTabWidget* group);
  void UpdateDocumentMenu(QTabWidget* group);
  void StyleGroup(QTabWidget* group);
  void EmitActive();
  QString TabText(const QWidget* window) const;

  int m_mode = 2;
  TMdiTabInfo m_info;
  int m_tabMaxWidth = 300;
  TGroupAlignment m_alignment = TGroupAlignment::None;
  QStackedLayout* m_stack = nullptr;
  QSplitter* m_splitter = nullptr;
  QMdiArea* m_area = nullptr;
  QPointer<QTabWidget> m_activeGroup;
  std::vector<QPointer<QWidget>> m_windows;  // in order of creation
  QPointer<QWidget> m_lastActive;
};

}  // namespace shell
