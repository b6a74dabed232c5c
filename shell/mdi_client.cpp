#include "shell/mdi_client.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QSplitter>
#include <QStackedLayout>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>

#include <algorithm>

namespace shell {

CMdiClient::CMdiClient(QWidget* parent) : QWidget(parent) {
  m_stack = new QStackedLayout(this);
  m_stack->setContentsMargins(0, 0, 0, 0);
  m_splitter = new QSplitter(Qt::Horizontal, this);
  m_splitter->setChildrenCollapsible(false);
  m_splitter->setHandleWidth(5);
  m_area = new QMdiArea(this);
  m_area->setBackground(palette().brush(QPalette::Dark));
  m_stack->addWidget(m_splitter);
  m_stack->addWidget(m_area);
  SetActiveGroup(NewGroup(0));
  connect(m_area, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow*) { EmitActive(); });
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    // The group that holds the focus is the active group.
    for (QWidget* w = now; w; w = w->parentWidget()) {
      if (auto* tw = qobject_cast<QTabWidget*>(w); tw && tw->parentWidget() == m_splitter) {
        SetActiveGroup(tw);
        break;
      }
    }
  });
}

CMdiClient::~CMdiClient() {
  // Nothing reaches the members while the child widgets go.
  disconnect(qApp, nullptr, this, nullptr);
  for (auto& w : m_windows) {
    if (!w) continue;
    w->removeEventFilter(this);
    disconnect(w, nullptr, this, nullptr);
  }
  for (QTabWidget* tw : Groups()) disconnect(tw, nullptr, this, nullptr);
  disconnect(m_area, nullptr, this, nullptr);
}

QTabWidget* CMdiClient::NewGroup(int index) {
  auto* tw = new QTabWidget;
  tw->setObjectName("MdiTabGroup");
  StyleGroup(tw);
  m_splitter->insertWidget(index, tw);
  connect(tw, &QTabWidget::tabCloseRequested, this, [this, tw](int i) {
    if (QWidget* w = tw->widget(i)) emit WindowCloseRequested(w);
  });
  connect(tw, &QTabWidget::currentChanged, this, [this, tw](int) {
    UpdateCloseButtons(tw);
    if (tw == ActiveGroup()) EmitActive();
  });
  connect(tw, &QTabWidget::tabBarClicked, this, [this, tw](int) { SetActiveGroup(tw); });
  return tw;
}

void CMdiClient::StyleGroup(QTabWidget* tw) {
  tw->setTabPosition(m_info.tabsOnTop ? QTabWidget::North : QTabWidget::South);
  tw->setTabsClosable(m_info.tabCloseButton || m_info.activeTabCloseButton);
  tw->setMovable(m_info.tabSwap);
  tw->setDocumentMode(m_info.flatFrame);
  tw->setUsesScrollButtons(true);
  tw->tabBar()->setElideMode(Qt::ElideRight);
  tw->tabBar()->setExpanding(false);
  tw->setContentsMargins(m_info.borderSize, m_info.borderSize, m_info.borderSize, m_info.borderSize);
  // The list of open documents at the right end of the row of tabs.
  auto* corner = qobject_cast<QToolButton*>(tw->cornerWidget(Qt::TopRightCorner));
  if (m_info.documentMenu) {
    if (!corner) {
      corner = new QToolButton(tw);
      corner->setObjectName("MdiDocumentMenu");
      corner->setAutoRaise(true);
      corner->setArrowType(Qt::DownArrow);
      corner->setToolTip(tr("Open documents"));
      corner->setPopupMode(QToolButton::InstantPopup);
      corner->setMenu(new QMenu(corner));
      connect(corner->menu(), &QMenu::aboutToShow, this, [this, tw] { UpdateDocumentMenu(tw); });
      tw->setCornerWidget(corner, Qt::TopRightCorner);
    }
    corner->show();
  } else if (corner) {
    corner->hide();
  }
  for (int i = 0; i < tw->count(); ++i) UpdateTab(tw->widget(i));
  UpdateCloseButtons(tw);
}

void CMdiClient::UpdateDocumentMenu(QTabWidget* tw) {
  auto* corner = qobject_cast<QToolButton*>(tw->cornerWidget(Qt::TopRightCorner));
  if (!corner || !corner->menu()) return;
  QMenu* menu = corner->menu();
  menu->clear();
  for (int i = 0; i < tw->count(); ++i) {
    QWidget* w = tw->widget(i);
    QAction* a = menu->addAction(w->windowTitle());
    a->setCheckable(true);
    a->setChecked(i == tw->currentIndex());
    connect(a, &QAction::triggered, this, [this, p = QPointer<QWidget>(w)] {
      if (p) ActivateWindow(p);
    });
  }
}

void CMdiClient::UpdateCloseButtons(QTabWidget* tw) {
  if (!tw) return;
  // Close buttons on every tab, or only on the active one.
  QTabBar* bar = tw->tabBar();
  for (int i = 0; i < bar->count(); ++i) {
    for (auto side : {QTabBar::LeftSide, QTabBar::RightSide}) {
      if (QWidget* b = bar->tabButton(i, side)) {
        const bool show = m_info.tabCloseButton || (m_info.activeTabCloseButton && i == bar->currentIndex());
        b->setVisible(show);
      }
    }
  }
}

QString CMdiClient::TabText(const QWidget* w) const {
  const QString title = w->windowTitle();
  const QFontMetrics fm(font());
  return fm.elidedText(title, Qt::ElideRight, m_tabMaxWidth);
}

void CMdiClient::UpdateTab(QWidget* w) {
  if (!w) return;
  for (QTabWidget* tw : Groups()) {
    const int i = tw->indexOf(w);
    if (i < 0) continue;
    tw->setTabText(i, TabText(w));
    tw->setTabToolTip(i, m_info.customTooltips ? w->windowTitle() : QString());
    tw->setTabIcon(i, m_info.tabIcons ? w->windowIcon() : QIcon());
    if (m_info.autoColor) {
      static const QColor kColors[] = {QColor(40, 100, 180), QColor(40, 140, 70), QColor(190, 110, 30),
                                       QColor(130, 60, 160), QColor(170, 50, 60), QColor(30, 130, 140)};
      tw->tabBar()->setTabTextColor(i, kColors[i % 6]);
    } else {
      tw->tabBar()->setTabTextColor(i, QColor());
    }
  }
}

void CMdiClient::SetTabMode(int mode) {
  if (mode != 0 && mode != 1 && mode != 2) mode = 0;
  if (mode == m_mode && m_stack->currentWidget() == (mode == 0 ? static_cast<QWidget*>(m_area) : m_splitter))
    return;
  QWidget* active = ActiveWindow();
  const std::vector<QWidget*> windows = Windows();
  // Take every window out of where it is.
  for (QWidget* w : windows) {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(w->parentWidget())) {
      sub->setWidget(nullptr);
      w->setParent(nullptr);
      delete sub;
    } else {
      w->setParent(nullptr);
    }
  }
  m_mode = mode;
  // Groups collapse into one.
  while (m_splitter->count() > 1) delete m_splitter->widget(m_splitter->count() - 1);
  m_alignment = TGroupAlignment::None;
  SetActiveGroup(qobject_cast<QTabWidget*>(m_splitter->widget(0)));
  m_stack->setCurrentWidget(mode == 0 ? static_cast<QWidget*>(m_area) : m_splitter);
  for (QWidget* w : windows) {
    if (mode == 0) {
      QMdiSubWindow* sub = m_area->addSubWindow(w);
      w->show();
      sub->showMaximized();
    } else {
      ActiveGroup()->addTab(w, TabText(w));
      UpdateTab(w);
    }
  }
  if (active) ActivateWindow(active);
}

void CMdiClient::ApplyTabInfo(const TMdiTabInfo& info) {
  m_info = info;
  for (QTabWidget* tw : Groups()) StyleGroup(tw);
}

void CMdiClient::SetTabMaxWidth(int pixels) {
  m_tabMaxWidth = pixels > 0 ? pixels : 300;
  for (auto& w : m_windows) UpdateTab(w);
}

void CMdiClient::Track(QWidget* w) {
  m_windows.emplace_back(w);
  w->installEventFilter(this);
  connect(w, &QObject::destroyed, this, [this](QObject* o) {
    std::erase_if(m_windows, [o](const QPointer<QWidget>& p) { return !p || p == o; });
    // The tab widget drops the page itself; an emptied group goes.
    QMetaObject::invokeMethod(
        this,
        [this] {
          RemoveEmptyGroups();
          EmitActive();
        },
        Qt::QueuedConnection);
  });
}

void CMdiClient::AddWindow(QWidget* w) {
  if (!w) return;
  Track(w);
  if (m_mode == 0) {
    QMdiSubWindow* sub = m_area->addSubWindow(w);
    w->show();
    sub->showMaximized();
    m_area->setActiveSubWindow(sub);
  } else {
    QTabWidget* tw = ActiveGroup();
    const int i = tw->addTab(w, TabText(w));
    UpdateTab(w);
    tw->setCurrentIndex(i);
    UpdateCloseButtons(tw);
  }
  EmitActive();
}

std::vector<QWidget*> CMdiClient::Windows() const {
  std::vector<QWidget*> out;
  for (const auto& w : m_windows)
    if (w) out.push_back(w);
  return out;
}

QWidget* CMdiClient::ActiveWindow() const {
  if (m_mode == 0) {
    QMdiSubWindow* sub = m_area->activeSubWindow();
    if (!sub && !m_area->subWindowList().isEmpty()) sub = m_area->subWindowList().last();
    return sub ? sub->widget() : nullptr;
  }
  QTabWidget* tw = ActiveGroup();
  return tw ? tw->currentWidget() : nullptr;
}

void CMdiClient::ActivateWindow(QWidget* w) {
  if (!w) return;
  if (m_mode == 0) {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(w->parentWidget())) m_area->setActiveSubWindow(sub);
  } else {
    for (QTabWidget* tw : Groups()) {
      const int i = tw->indexOf(w);
      if (i >= 0) {
        SetActiveGroup(tw);
        tw->setCurrentIndex(i);
      }
    }
  }
  EmitActive();
}

std::vector<QTabWidget*> CMdiClient::Groups() const {
  std::vector<QTabWidget*> out;
  for (int i = 0; i < m_splitter->count(); ++i)
    if (auto* tw = qobject_cast<QTabWidget*>(m_splitter->widget(i))) out.push_back(tw);
  return out;
}

int CMdiClient::GroupCount() const { return m_mode == 0 ? 0 : static_cast<int>(Groups().size()); }

int CMdiClient::GroupOf(const QWidget* w) const {
  const auto groups = Groups();
  for (std::size_t g = 0; g < groups.size(); ++g)
    if (groups[g]->indexOf(const_cast<QWidget*>(w)) >= 0) return static_cast<int>(g);
  return -1;
}

std::vector<QWidget*> CMdiClient::WindowsOfGroup(int group) const {
  std::vector<QWidget*> out;
  const auto groups = Groups();
  if (group < 0 || group >= static_cast<int>(groups.size())) return out;
  QTabWidget* tw = groups[static_cast<std::size_t>(group)];
  for (int i = 0; i < tw->count(); ++i) out.push_back(tw->widget(i));
  return out;
}

QTabWidget* CMdiClient::ActiveGroup() const {
  if (m_activeGroup && m_activeGroup->parentWidget() == m_splitter) return m_activeGroup;
  return qobject_cast<QTabWidget*>(m_splitter->widget(0));
}

void CMdiClient::SetActiveGroup(QTabWidget* group) {
  if (!group || group == m_activeGroup) return;
  m_activeGroup = group;
  EmitActive();
}

unsigned CMdiClient::AllowedGroupItems() const {
  if (m_mode != 2) return 0;
  QTabWidget* tw = ActiveGroup();
  if (!tw || tw->count() == 0) return 0;
  unsigned allowed = 0;
  if (tw->count() > 1) {
    if (m_alignment != TGroupAlignment::Horizontal) allowed |= MDI_CREATE_VERT_GROUP;
    if (m_alignment != TGroupAlignment::Vertical) allowed |= MDI_CREATE_HORZ_GROUP;
  }
  const auto groups = Groups();
  const auto it = std::find(groups.begin(), groups.end(), tw);
  if (groups.size() > 1 && it != groups.begin()) allowed |= MDI_CAN_MOVE_PREV;
  if (groups.size() > 1 && it != groups.end() && it + 1 != groups.end()) allowed |= MDI_CAN_MOVE_NEXT;
  return allowed;
}

bool CMdiClient::SplitActive(TGroupAlignment alignment) {
  QTabWidget* from = ActiveGroup();
  QWidget* w = ActiveWindow();
  if (!from || !w) return false;
  m_alignment = alignment;
  // Vertical groups stand side by side; horizontal ones one above the other.
  m_splitter->setOrientation(alignment == TGroupAlignment::Vertical ? Qt::Horizontal : Qt::Vertical);
  const int at = m_splitter->indexOf(from) + 1;
  QTabWidget* to = NewGroup(at);
  MoveWindow(w, to);
  // Share the room evenly.
  QList<int> sizes;
  const int n = m_splitter->count();
  const int total = m_splitter->orientation() == Qt::Horizontal ? m_splitter->width() : m_splitter->height();
  for (int i = 0; i < n; ++i) sizes << std::max(1, total / n);
  m_splitter->setSizes(sizes);
  return true;
}

bool CMdiClient::NewVerticalGroup() {
  if (!(AllowedGroupItems() & MDI_CREATE_VERT_GROUP)) return false;
  return SplitActive(TGroupAlignment::Vertical);
}

bool CMdiClient::NewHorizontalGroup() {
  if (!(AllowedGroupItems() & MDI_CREATE_HORZ_GROUP)) return false;
  return SplitActive(TGroupAlignment::Horizontal);
}

bool CMdiClient::MoveToNextGroup() {
  if (!(AllowedGroupItems() & MDI_CAN_MOVE_NEXT)) return false;
  const auto groups = Groups();
  const auto it = std::find(groups.begin(), groups.end(), ActiveGroup());
  MoveWindow(ActiveWindow(), *(it + 1));
  return true;
}

bool CMdiClient::MoveToPrevGroup() {
  if (!(AllowedGroupItems() & MDI_CAN_MOVE_PREV)) return false;
  const auto groups = Groups();
  const auto it = std::find(groups.begin(), groups.end(), ActiveGroup());
  MoveWindow(ActiveWindow(), *(it - 1));
  return true;
}

void CMdiClient::MoveWindow(QWidget* w, QTabWidget* to) {
  if (!w || !to) return;
  QTabWidget* from = nullptr;
  for (QTabWidget* tw : Groups())
    if (tw->indexOf(w) >= 0) from = tw;
  if (from == to) return;
  if (from) from->removeTab(from->indexOf(w));
  const int i = to->addTab(w, TabText(w));
  UpdateTab(w);
  to->setCurrentIndex(i);
  SetActiveGroup(to);
  RemoveEmptyGroups();
  UpdateCloseButtons(to);
  w->setFocus();
  EmitActive();
}

void CMdiClient::RemoveEmptyGroups() {
  const auto groups = Groups();
  if (groups.size() <= 1) return;
  for (QTabWidget* tw : groups) {
    if (tw->count() == 0 && Groups().size() > 1) {
      if (tw == m_activeGroup) m_activeGroup = nullptr;
      tw->hide();
      tw->setParent(nullptr);
      tw->deleteLater();
    }
  }
  if (Groups().size() == 1) m_alignment = TGroupAlignment::None;
  if (!m_activeGroup) SetActiveGroup(Groups().front());
}

void CMdiClient::Cascade() {
  if (m_mode == 0) m_area->cascadeSubWindows();
}

void CMdiClient::TileVertically() {
  if (m_mode != 0) return;
  const auto subs = m_area->subWindowList();
  if (subs.isEmpty()) return;
  const int w = m_area->viewport()->width() / static_cast<int>(subs.size());
  const int h = m_area->viewport()->height();
  int x = 0;
  for (QMdiSubWindow* s : subs) {
    s->showNormal();
    s->setGeometry(x, 0, w, h);
    x += w;
  }
}

void CMdiClient::TileHorizontally() {
  if (m_mode != 0) return;
  const auto subs = m_area->subWindowList();
  if (subs.isEmpty()) return;
  const int w = m_area->viewport()->width();
  const int h = m_area->viewport()->height() / static_cast<int>(subs.size());
  int y = 0;
  for (QMdiSubWindow* s : subs) {
    s->showNormal();
    s->setGeometry(0, y, w, h);
    y += h;
  }
}

void CMdiClient::ArrangeIcons() {
  if (m_mode != 0) return;
  // Minimised windows line up along the bottom edge.
  int x = 0;
  for (QMdiSubWindow* s : m_area->subWindowList()) {
    if (!s->isMinimized()) continue;
    s->move(x, m_area->viewport()->height() - s->height());
    x += s->width();
  }
}

bool CMdiClient::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::WindowTitleChange || event->type() == QEvent::WindowIconChange) {
    if (auto* w = qobject_cast<QWidget*>(watched)) UpdateTab(w);
  }
  return QWidget::eventFilter(watched, event);
}

void CMdiClient::EmitActive() {
  QWidget* now = ActiveWindow();
  if (now == m_lastActive) return;
  m_lastActive = now;
  emit ActiveWindowChanged(now);
}

}  // namespace shell
