#include "shell/visual_manager.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QToolBar>

#include <gtest/gtest.h>

using namespace shell;

TEST(VisualManager, LookNamesAsTheLookPageListsThem) {
  const std::pair<int, const char*> names[] = {
      {13, "Tovrin 2012 : White Night"},
      {12, "Tovrin 2012 : Silver Blue"},
      {3, "Windows 7"},
      {2, "Windows Vista / XP"},
      {1, "Windows 2000"},
      {6, "MSO 2007 : Blue"},
      {7, "MSO 2007 : Black"},
      {8, "MSO 2007 : Silver"},
      {9, "MSO 2007 : Aqua"},
      {5, "MSO 2003"},
      {4, "MSO XP"},
      {10, "MSVS 2008"},
      {11, "MSVS 2005"},
  };
  for (auto [id, name] : names) {
    EXPECT_EQ(LookName(id), name) << id;
    EXPECT_EQ(LookOf(id).name, name) << id;
  }
  // Looks 10 and 11 are not each other's.
  EXPECT_NE(LookOf(10).barStart, LookOf(11).barStart);
  // Ids outside the list look like Windows 7.
  for (int id : {0, 14, -3}) {
    EXPECT_EQ(LookOf(id).name, "Windows 7") << id;
    EXPECT_EQ(LookOf(id).barStart, LookOf(3).barStart);
    EXPECT_TRUE(LookName(id).isEmpty());
  }
}

TEST(VisualManager, TheProgramsOwnLookTakesItsSchemeWhenMade) {
  VisualManagerEx::CVisualManagerEx::SetColorScheme(1);
  VisualManagerEx::CVisualManagerEx grey;
  EXPECT_EQ(grey.GradientStart(), QColor(205, 205, 205));
  EXPECT_EQ(grey.GradientEnd(), QColor(238, 238, 238));
  VisualManagerEx::CVisualManagerEx::SetColorScheme(0);
  VisualManagerEx::CVisualManagerEx blue;
  EXPECT_EQ(blue.GradientStart(), QColor(220, 231, 245));
  EXPECT_EQ(blue.GradientEnd(), QColor(251, 253, 255));
  EXPECT_EQ(grey.GradientStart(), QColor(205, 205, 205)) << "a made manager keeps its colours";
}

namespace {

// The colour of a toolbar's top and bottom rows after painting, away from
// its handle.
std::pair<QColor, QColor> ToolbarRows(int lookId) {
  ApplyLook(lookId);
  QMainWindow w;
  auto* tb = w.addToolBar("Standard");
  tb->setMovable(false);
  tb->addAction("A");
  w.resize(300, 120);
  w.show();
  QApplication::processEvents();
  const QImage img = tb->grab().toImage();
  const int x = img.width() - 3;
  return {img.pixelColor(x, 1), img.pixelColor(x, img.height() - 2)};
}

}  // namespace

TEST(VisualManager, ToolbarsArePaintedWithTheLooksGradient) {
  const auto [greyTop, greyBottom] = ToolbarRows(13);
  EXPECT_NEAR(greyBottom.red(), 205, 8);
  EXPECT_NEAR(greyTop.red(), 238, 8);
  EXPECT_EQ(greyTop.red(), greyTop.blue()) << "the White Night look is grey";

  const auto [blueTop, blueBottom] = ToolbarRows(12);
  EXPECT_NEAR(blueBottom.blue(), 245, 8);
  EXPECT_NEAR(blueBottom.red(), 220, 8);
  EXPECT_GT(blueBottom.blue(), blueBottom.red()) << "the Silver Blue look is blue";
  EXPECT_NEAR(blueTop.red(), 251, 8);

  // A flat look: both rows alike.
  const auto [flatTop, flatBottom] = ToolbarRows(1);
  EXPECT_EQ(flatTop, flatBottom);
  ApplyLook(13);
}

TEST(VisualManager, ApplyingALookSetsTheStyleAndPalette) {
  ApplyLook(7);
  auto* style = qobject_cast<CLookStyle*>(QApplication::style());
  ASSERT_NE(style, nullptr);
  EXPECT_EQ(style->Look().name, "MSO 2007 : Black");
  EXPECT_EQ(QApplication::palette().color(QPalette::Window), LookOf(7).palette.color(QPalette::Window));
  ApplyLook(13);
  EXPECT_NE(qobject_cast<VisualManagerEx::CVisualManagerEx*>(QApplication::style()), nullptr);
  ApplyLook(12);
  auto* ex = qobject_cast<VisualManagerEx::CVisualManagerEx*>(QApplication::style());
  ASSERT_NE(ex, nullptr);
  EXPECT_EQ(ex->GradientStart(), QColor(220, 231, 245)) << "the scheme changes with the look at once";
  ApplyLook(13);
}

TEST(VisualManager, TheMenuBarTakesTheGradientAndPopupMenusStayFlat) {
  for (int lookId : {12, 13}) {
    ApplyLook(lookId);
    auto* ex = qobject_cast<VisualManagerEx::CVisualManagerEx*>(QApplication::style());
    ASSERT_NE(ex, nullptr) << lookId;
    const QColor start = ex->GradientStart();
    const QColor end = ex->GradientEnd();

    QMainWindow w;
    w.menuBar()->addMenu("&File")->addAction("Open");
    w.resize(400, 200);
    w.show();
    QApplication::processEvents();
    const QImage bar = w.menuBar()->grab().toImage();
    ASSERT_GT(bar.height(), 4) << lookId;
    const int x = bar.width() - 3;
    const QColor top = bar.pixelColor(x, 1);
    const QColor bottom = bar.pixelColor(x, bar.height() - 2);
    EXPECT_NEAR(bottom.red(), start.red(), 8) << lookId;
    EXPECT_NEAR(bottom.blue(), start.blue(), 8) << lookId;
    EXPECT_NEAR(top.red(), end.red(), 8) << lookId;
    EXPECT_NE(top, bottom) << lookId;

    // A popup menu: the same colour at its top and bottom items, beside
    // their texts.
    QMenu menu;
    for (const char* text : {"One", "Two", "Three", "Four", "Five", "Six"}) menu.addAction(text);
    menu.ensurePolished();
    menu.adjustSize();
    const QImage popup = menu.grab().toImage();
    ASSERT_GT(popup.height(), 40) << lookId;
    const int px = popup.width() - 6;
    EXPECT_EQ(popup.pixelColor(px, popup.height() / 6), popup.pixelColor(px, popup.height() * 5 / 6))
        << lookId;
  }
  ApplyLook(13);
}
