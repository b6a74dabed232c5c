// The about box: opened by Help "About Tovrin...", the General page's text,
// a link and "<<  Visit" that open the help page, and its layout.
#include "app/about_dlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <functional>

#include "options/opts_general.h"
#include "platform/qt/beep.h"
#include "shell/command_ids.h"
#include "shell/main_frame.h"
#include "tests/app/app_test_support.h"

namespace {

bool HasPixel(const QImage& img, const QColor& c) {
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (img.pixelColor(x, y) == c) return true;
  return false;
}

// Runs `check` on the modal about box once it shows and closes it; closes
// any modal window still open after 10 s.
class TWhenAboutShows {
 public:
  explicit TWhenAboutShows(std::function<void(CAboutDlg&)> check) : m_check(std::move(check)) {
    m_elapsed.start();
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
    m_timer.start(10);
  }
  bool Seen() const { return m_seen; }

 private:
  void Poll() {
    if (auto* dlg = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
      m_timer.stop();
      m_seen = true;
      m_check(*dlg);
      dlg->OkButton()->click();
    } else if (m_elapsed.elapsed() > 10000) {
      m_timer.stop();
      if (QWidget* w = QApplication::activeModalWidget()) w->close();
    }
  }
  std::function<void(CAboutDlg&)> m_check;
  QTimer m_timer;
  QElapsedTimer m_elapsed;
  bool m_seen = false;
};

QPixmap TestIcon() {
  QPixmap pix(64, 64);
  pix.fill(QColor(200, 40, 40));
  return pix;
}

}  // namespace

TEST_F(TAppTest, AboutShowsTheAboutBoxWhoseLinkAndVisitOpenTheHelpPage) {
  QApplication::setWindowIcon(QIcon(TestIcon()));
  auto app = MakeApp();
  ASSERT_TRUE(app->InitInstance());
  TWhenAboutShows about([&](CAboutDlg& dlg) {
    EXPECT_EQ(dlg.windowTitle(), "About Tovrin");
    EXPECT_EQ(dlg.parentWidget(), app->MainFrameWindow());
    EXPECT_EQ(dlg.TextLabel()->text(), OptsGeneral::GeneralText()) << "one text for both";
    EXPECT_EQ(dlg.LinkLabel()->text(), "Tovrin help");
    EXPECT_EQ(dlg.VisitButton()->text(), "<<  Visit");
    EXPECT_EQ(dlg.OkButton()->text(), "OK");
    EXPECT_TRUE(dlg.OkButton()->isDefault());
    EXPECT_EQ(dlg.findChild<QLabel*>("IDC_1207"), dlg.TextLabel());
    EXPECT_EQ(dlg.findChild<QLabel*>("IDC_1208"), dlg.LinkLabel());
    EXPECT_EQ(dlg.findChild<QPushButton*>("IDC_1209"), dlg.VisitButton());
    ASSERT_FALSE(dlg.IconLabel()->pixmap().isNull());
    EXPECT_EQ(dlg.IconLabel()->pixmap().size(), QSize(32, 32));

    const QImage before = dlg.LinkLabel()->grab().toImage();
    EXPECT_TRUE(HasPixel(before, QColor(0, 0, 255)));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), dlg.LinkLabel()->mapToGlobal(QPointF(2, 2)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg.LinkLabel(), &press);
    ASSERT_EQ(openedUrls.size(), 1u);
    EXPECT_TRUE(HasPixel(dlg.LinkLabel()->grab().toImage(), QColor(128, 0, 128)));
    dlg.VisitButton()->click();
    ASSERT_EQ(openedUrls.size(), 2u);
    EXPECT_EQ(openedUrls[0], openedUrls[1]);
  });
  ASSERT_TRUE(app->MainFrameWindow()->Router()->Execute(shell::ID_APP_ABOUT));
  EXPECT_TRUE(about.Seen());
  ASSERT_EQ(openedUrls.size(), 2u);
  // The page handed on is the help page, as Help opens it.
  ASSERT_TRUE(app->MainFrameWindow()->Router()->Execute(shell::ID_HELP));
  ASSERT_EQ(openedUrls.size(), 3u);
  EXPECT_EQ(openedUrls[0], openedUrls[2]);
  EXPECT_TRUE(openedUrls[0].isLocalFile());
  app->ExitInstance();
  QApplication::setWindowIcon(QIcon());
}

TEST(AboutDlg, VisitFailingBeepsAndTheLinkKeepsItsColour) {
  platform::qt::TBeepCounter beeps;
  int calls = 0;
  CAboutDlg dlg(nullptr, "Tovrin", "file:///nowhere/tovrin.html", [&](const QUrl&) {
    ++calls;
    return false;
  });
  EXPECT_FALSE(dlg.OnVisit());
  EXPECT_EQ(beeps.Count(), 1);
  EXPECT_FALSE(dlg.LinkLabel()->Open());
  EXPECT_EQ(beeps.Count(), 2);
  EXPECT_EQ(dlg.LinkLabel()->Colour(), StatLink::CStaticLink::UnvisitedColor());
  EXPECT_EQ(calls, 3) << "Visit once; the link by its target, then by its text";
  // Without a target nothing is opened.
  CAboutDlg none(nullptr, "Tovrin", "", [&](const QUrl&) {
    ++calls;
    return true;
  });
  EXPECT_FALSE(none.OnVisit());
  EXPECT_EQ(calls, 3);
}

TEST(AboutDlg, TheLayoutKeepsEveryLineIconLinkAndButtonInPlace) {
  QApplication::setWindowIcon(QIcon(TestIcon()));
  CAboutDlg dlg(nullptr, OptsGeneral::GeneralText(), "file:///tmp/tovrin.html");
  dlg.show();
  QApplication::processEvents();
  EXPECT_EQ(dlg.size(), dlg.sizeHint()) << "no empty band";
  const QRect icon = dlg.IconLabel()->geometry();
  const QRect text = dlg.TextLabel()->geometry();
  const QRect link = dlg.LinkLabel()->geometry();
  const QRect visit = dlg.VisitButton()->geometry();
  const QRect ok = dlg.OkButton()->geometry();
  // The icon top left, level with the text.
  EXPECT_LT(icon.right(), text.left());
  EXPECT_EQ(icon.top(), text.top());
  EXPECT_LT(icon.left(), 20);
  // Every line whole, with the blank lines between the groups.
  const int lines = static_cast<int>(OptsGeneral::GeneralText().count('\n')) + 1;
  EXPECT_GE(text.height(), lines * dlg.TextLabel()->fontMetrics().lineSpacing());
  EXPECT_GE(text.width(), dlg.TextLabel()->sizeHint().width());
  // The link under the text, as wide as its words.
  EXPECT_GT(link.top(), text.bottom());
  EXPECT_EQ(link.left(), text.left());
  EXPECT_TRUE(dlg.LinkLabel()->font().underline());
  EXPECT_LE(link.width(), dlg.LinkLabel()->fontMetrics().horizontalAdvance("Tovrin help") + 8);
  // The buttons on one row at the bottom right, under everything else.
  EXPECT_EQ(visit.top(), ok.top());
  EXPECT_LT(visit.right(), ok.left());
  EXPECT_GT(visit.top(), link.bottom());
  EXPECT_GT(ok.right(), dlg.width() - 20);
  EXPECT_GT(ok.bottom(), dlg.height() - 20);
  QApplication::setWindowIcon(QIcon());
}
