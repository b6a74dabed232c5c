// The hyperlink static: what a click tries and in which order, its colours
// before and after a link was opened, and its hand cursor, for a text and
// for a static showing a picture.
#include "shell/static_link.h"

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/qt/beep.h"
#include "shell/visual_manager.h"
#include "tests/support/test_support.h"

using StatLink::CStaticLink;

namespace {

// Whether some pixel of the picture has exactly this colour.
bool HasPixel(const QImage& img, const QColor& c) {
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (img.pixelColor(x, y) == c) return true;
  return false;
}

void Click(QWidget& w, QPoint at) {
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), w.mapToGlobal(QPointF(at)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&w, &press);
}

class StaticLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { shell::ApplyLook(13); }
  void TearDown() override {
    CStaticLink::SetStringLookup({});
    CStaticLink::SetDefaultOpener({});
  }
  // An opener that records every URL and opens those in `opens`.
  CStaticLink::TOpener Recorder() {
    return [this](const QUrl& url) {
      tried.push_back(url.toString().toStdString());
      return opens.count(url.toString().toStdString()) > 0;
    };
  }
  std::vector<std::string> tried;
  std::set<std::string> opens;
};

}  // namespace

TEST_F(StaticLinkTest, AClickTriesTheLinkThenTheTextThenTheIdsString) {
  struct TCase {
    const char* link;
    const char* text;
    const char* string;  // the id's string ("" none)
    std::set<std::string> opens;
    std::vector<std::string> tried;
    bool opened;
  };
  const TCase cases[] = {
      {"https://a.example/", "https://t.example/", "", {"https://a.example/"}, {"https://a.example/"}, true},
      {"https://a.example/",
       "https://t.example/",
       "",
       {"https://t.example/"},
       {"https://a.example/", "https://t.example/"},
       true},
      {"", "https://t.example/", "", {"https://t.example/"}, {"https://t.example/"}, true},
      {"https://a.example/",
       "https://t.example/",
       "https://s.example/",
       {"https://s.example/"},
       {"https://a.example/", "https://t.example/", "https://s.example/"},
       true},
      {"https://a.example/",
       "https://t.example/",
       "https://s.example/",
       {},
       {"https://a.example/", "https://t.example/", "https://s.example/"},
       false},
      {"https://a.example/",
       "https://t.example/",
       "",
       {},
       {"https://a.example/", "https://t.example/"},
       false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.link) + " | " + c.text + " | " + c.string);
    platform::qt::TBeepCounter beeps;
    tried.clear();
    opens = c.opens;
    const std::string str = c.string;
    CStaticLink::SetStringLookup([str](int id) {
      return id == 1208 ? QString::fromStdString(str) : QString("https://wrong.example/");
    });
    CStaticLink link(c.text, 1208);
    link.SetLink(c.link);
    link.SetOpener(Recorder());
    EXPECT_EQ(link.Open(), c.opened);
    EXPECT_EQ(tried, c.tried);
    EXPECT_EQ(beeps.Count(), c.opened ? 0 : 1);
    EXPECT_EQ(link.Colour(), c.opened ? CStaticLink::VisitedColor() : CStaticLink::UnvisitedColor());
  }
}

TEST_F(StaticLinkTest, TheLinkIsDrawnInItsOwnColoursAndTurnsPurpleOnceOpened) {
  // The look's link colour is not the one used.
  QPalette pal = QApplication::palette();
  pal.setColor(QPalette::Link, QColor(0, 102, 204));
  pal.setColor(QPalette::WindowText, QColor(0, 0, 0));
  QApplication::setPalette(pal);
  CStaticLink link("Tovrin help", 1208);
  link.SetLink("https://a.example/");
  opens = {"https://a.example/"};
  link.SetOpener(Recorder());
  QFont f = link.font();
  f.setPointSize(16);
  link.setFont(f);
  link.adjustSize();
  link.show();
  QApplication::processEvents();
  EXPECT_TRUE(link.font().underline());
  QImage img = link.grab().toImage();
  EXPECT_TRUE(HasPixel(img, QColor(0, 0, 255))) << "blue before";
  EXPECT_FALSE(HasPixel(img, QColor(128, 0, 128)));
  EXPECT_FALSE(HasPixel(img, QColor(0, 102, 204)));
  // The whole control takes clicks, up to its corner.
  Click(link, QPoint(link.width() - 1, link.height() - 1));
  ASSERT_EQ(tried.size(), 1u);
  img = link.grab().toImage();
  EXPECT_TRUE(HasPixel(img, QColor(128, 0, 128))) << "purple after";
  EXPECT_FALSE(HasPixel(img, QColor(0, 0, 255)));
  EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
  // Sized to its text.
  EXPECT_LE(link.width(), link.fontMetrics().horizontalAdvance("Tovrin help") + 8);
  shell::ApplyLook(13);
}

TEST_F(StaticLinkTest, APictureStaticKeepsItsLookButOpensAndShowsTheHand) {
  QPixmap pix(24, 24);
  pix.fill(QColor(10, 200, 30));
  QLabel plain;
  plain.setPixmap(pix);
  plain.resize(30, 30);
  CStaticLink link;
  link.setPixmap(pix);
  link.resize(30, 30);
  link.SetLink("https://a.example/");
  opens = {"https://a.example/"};
  link.SetOpener(Recorder());
  EXPECT_FALSE(link.IsTextStatic());
  EXPECT_EQ(link.grab().toImage(), plain.grab().toImage()) << "drawn as a plain picture";
  EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
  Click(link, QPoint(2, 2));
  EXPECT_EQ(tried, std::vector<std::string>{"https://a.example/"});
  EXPECT_EQ(link.grab().toImage(), plain.grab().toImage()) << "and stays so";

  // A framed static likewise.
  QLabel framed;
  framed.setFrameShape(QFrame::Box);
  framed.resize(30, 30);
  CStaticLink frameLink;
  frameLink.setFrameShape(QFrame::Box);
  frameLink.resize(30, 30);
  EXPECT_EQ(frameLink.grab().toImage(), framed.grab().toImage());
}

TEST_F(StaticLinkTest, TheDesktopOpenerFailsForALocalFileThatIsNotThere) {
  tovrin_test::TTempDir dir;
  EXPECT_FALSE(
      CStaticLink::OpenWithDesktop(QUrl::fromLocalFile(QString::fromStdString((dir / "no.html").string()))));
  EXPECT_FALSE(CStaticLink::OpenWithDesktop(QUrl()));
  // Paths become local files; addresses stay as they are.
  EXPECT_EQ(CStaticLink::ToUrl("/tmp/a b.html"), QUrl::fromLocalFile("/tmp/a b.html"));
  EXPECT_EQ(CStaticLink::ToUrl("file:///tmp/x.html"), QUrl("file:///tmp/x.html"));
  EXPECT_EQ(CStaticLink::ToUrl("https://a.example/p?q=1"), QUrl("https://a.example/p?q=1"));

  // Without an opener of its own or the program's, the link falls back to
  // the desktop: a missing help file fails through every step, with a beep.
  platform::qt::TBeepCounter beeps;
  CStaticLink link("Tovrin help", 1208);
  link.SetLink(QUrl::fromLocalFile(QString::fromStdString((dir / "gone.html").string())).toString());
  EXPECT_FALSE(link.Open());
  EXPECT_EQ(beeps.Count(), 1);
  EXPECT_EQ(link.Colour(), CStaticLink::UnvisitedColor());
}
