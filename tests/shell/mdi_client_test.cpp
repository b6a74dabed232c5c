#include "shell/mdi_client.h"

#include <QApplication>
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

using namespace shell;

namespace {

struct TArea {
  TArea() {
    client.resize(800, 500);
    client.show();
  }
  QWidget* Add(const QString& title) {
    auto* w = new QLabel(title);
    w->setWindowTitle(title);
    client.AddWindow(w);
    return w;
  }
  std::vector<QString> Titles(int group) const {
    std::vector<QString> out;
    for (QWidget* w : client.WindowsOfGroup(group)) out.push_back(w->windowTitle());
    return out;
  }
  CMdiClient client;
};

using V = std::vector<QString>;
constexpr unsigned kVert = CMdiClient::MDI_CREATE_VERT_GROUP;
constexpr unsigned kHorz = CMdiClient::MDI_CREATE_HORZ_GROUP;
constexpr unsigned kPrev = CMdiClient::MDI_CAN_MOVE_PREV;
constexpr unsigned kNext = CMdiClient::MDI_CAN_MOVE_NEXT;

}  // namespace

TEST(MdiClient, NewDocumentsGoIntoTheActiveGroupAndBecomeActive) {
  TArea a;
  QWidget* d1 = a.Add("DM1");
  QWidget* d2 = a.Add("DM2");
  EXPECT_EQ(a.client.GroupCount(), 1);
  EXPECT_EQ(a.client.ActiveWindow(), d2);
  EXPECT_EQ(a.Titles(0), (V{"DM1", "DM2"}));
  a.client.ActivateWindow(d1);
  EXPECT_EQ(a.client.ActiveWindow(), d1);
  // The tab follows the window's title.
  d1->setWindowTitle("DM1 | clip.avi |||");
  EXPECT_EQ(a.client.Groups()[0]->tabText(0), "DM1 | clip.avi |||");
}

TEST(MdiClient, VerticalGroupsSplitSideBySideAndOnlyThatWay) {
  TArea a;
  a.Add("DM1");
  EXPECT_EQ(a.client.AllowedGroupItems(), 0u) << "one document: nothing to split";
  QWidget* d2 = a.Add("DM2");
  EXPECT_EQ(a.client.AllowedGroupItems(), kVert | kHorz);
  ASSERT_TRUE(a.client.NewVerticalGroup());
  EXPECT_EQ(a.client.GroupCount(), 2);
  EXPECT_EQ(a.client.GroupAlignment(), CMdiClient::TGroupAlignment::Vertical);
  EXPECT_EQ(a.Titles(0), (V{"DM1"}));
  EXPECT_EQ(a.Titles(1), (V{"DM2"}));
  EXPECT_EQ(a.client.ActiveWindow(), d2) << "the moved document stays active";
  EXPECT_EQ(a.client.AllowedGroupItems(), kPrev) << "one tab in the last group";

  a.Add("DM3");  // into the active (second) group
  EXPECT_EQ(a.Titles(1), (V{"DM2", "DM3"}));
  EXPECT_EQ(a.client.AllowedGroupItems(), kVert | kPrev) << "no horizontal group beside vertical ones";
  EXPECT_FALSE(a.client.NewHorizontalGroup());
  EXPECT_TRUE(a.client.NewVerticalGroup());
  EXPECT_EQ(a.client.GroupCount(), 3);
  EXPECT_EQ(a.Titles(2), (V{"DM3"}));
  // Geometry: the groups stand side by side.
  QApplication::processEvents();
  const auto groups = a.client.Groups();
  EXPECT_LT(groups[0]->geometry().right(), groups[1]->geometry().left());
  EXPECT_EQ(groups[0]->geometry().top(), groups[1]->geometry().top());
}

TEST(MdiClient, MovingDocumentsBetweenGroupsAndEmptyGroupsGoing) {
  TArea a;
  a.Add("DM1");
  a.Add("DM2");
  QWidget* d3 = a.Add("DM3");
  ASSERT_TRUE(a.client.NewHorizontalGroup());  // DM3 below
  EXPECT_EQ(a.client.GroupAlignment(), CMdiClient::TGroupAlignment::Horizontal);
  EXPECT_EQ(a.client.AllowedGroupItems(), kPrev);
  EXPECT_FALSE(a.client.MoveToNextGroup());
  ASSERT_TRUE(a.client.MoveToPrevGroup());
  // The emptied group is gone and the split with it.
  QApplication::processEvents();
  EXPECT_EQ(a.client.GroupCount(), 1);
  EXPECT_EQ(a.client.GroupAlignment(), CMdiClient::TGroupAlignment::None);
  EXPECT_EQ(a.Titles(0), (V{"DM1", "DM2", "DM3"}));
  EXPECT_EQ(a.client.ActiveWindow(), d3);

  ASSERT_TRUE(a.client.NewVerticalGroup());
  a.client.ActivateWindow(a.client.WindowsOfGroup(0)[0]);
  EXPECT_EQ(a.client.AllowedGroupItems(), kVert | kNext);
  ASSERT_TRUE(a.client.MoveToNextGroup());
  EXPECT_EQ(a.Titles(0), (V{"DM2"}));
  EXPECT_EQ(a.Titles(1), (V{"DM3", "DM1"}));
}

TEST(MdiClient, ClosingTheLastDocumentOfAGroupRemovesTheGroup) {
  TArea a;
  a.Add("DM1");
  QWidget* d2 = a.Add("DM2");
  ASSERT_TRUE(a.client.NewVerticalGroup());
  delete d2;
  QApplication::processEvents();
  EXPECT_EQ(a.client.GroupCount(), 1);
  EXPECT_EQ(a.client.Windows().size(), 1u);
  EXPECT_EQ(a.client.ActiveWindow()->windowTitle(), "DM1");
}

TEST(MdiClient, TabModesKeepTheDocuments) {
  TArea a;
  QWidget* d1 = a.Add("DM1");
  QWidget* d2 = a.Add("DM2");
  ASSERT_TRUE(a.client.NewVerticalGroup());
  for (int mode : {1, 0, 2, 7}) {
    a.client.SetTabMode(mode);
    EXPECT_EQ(a.client.TabMode(), mode == 7 ? 0 : mode);
    EXPECT_EQ(a.client.Windows(), (std::vector<QWidget*>{d1, d2})) << mode;
    EXPECT_EQ(a.client.GroupCount(), (mode == 1 || mode == 2) ? 1 : 0) << mode;
    EXPECT_EQ(a.client.AllowedGroupItems() != 0, mode == 2) << "groups only in tabbed-group mode";
    EXPECT_TRUE(d1->isVisibleTo(&a.client) || d2->isVisibleTo(&a.client));
  }
}

TEST(MdiClient, TabSettings) {
  TArea a;
  a.Add("DM1");
  a.Add("A document with a title far longer than any tab may be wide");
  TMdiTabInfo info;
  info.tabsOnTop = false;
  info.tabSwap = false;
  info.documentMenu = false;
  info.tabCloseButton = false;
  info.activeTabCloseButton = true;
  a.client.ApplyTabInfo(info);
  QTabWidget* tw = a.client.Groups()[0];
  EXPECT_EQ(tw->tabPosition(), QTabWidget::South);
  EXPECT_FALSE(tw->isMovable());
  EXPECT_TRUE(!tw->cornerWidget(Qt::TopRightCorner) ||
              !tw->cornerWidget(Qt::TopRightCorner)->isVisibleTo(tw));
  // A close button on the active tab only.
  QTabBar* bar = tw->tabBar();
  auto closeShown = [&](int i) {
    QWidget* b = bar->tabButton(i, QTabBar::RightSide);
    if (!b) b = bar->tabButton(i, QTabBar::LeftSide);
    return b && b->isVisibleTo(bar);
  };
  EXPECT_TRUE(closeShown(1));
  EXPECT_FALSE(closeShown(0));
  // Long titles are cut to the tab width; the tooltip keeps the whole.
  a.client.SetTabMaxWidth(120);
  EXPECT_NE(tw->tabText(1), a.client.Windows()[1]->windowTitle());
  EXPECT_EQ(tw->tabToolTip(1), a.client.Windows()[1]->windowTitle());
  info.documentMenu = true;
  a.client.ApplyTabInfo(info);
  ASSERT_NE(tw->cornerWidget(Qt::TopRightCorner), nullptr);
}

TEST(MdiClient, ATabsCloseButtonAsksFirst) {
  TArea a;
  QWidget* d1 = a.Add("DM1");
  std::vector<QWidget*> asked;
  QObject::connect(&a.client, &CMdiClient::WindowCloseRequested, [&](QWidget* w) { asked.push_back(w); });
  emit a.client.Groups()[0]->tabCloseRequested(0);
  EXPECT_EQ(asked, (std::vector<QWidget*>{d1}));
  EXPECT_EQ(a.client.Windows().size(), 1u) << "the frame decides whether it closes";
}
