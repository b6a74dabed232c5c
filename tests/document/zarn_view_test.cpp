#include "document/zarn_view.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QPrinter>
#include <QScrollBar>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "document/command_ids.h"
#include "document_fixture.h"
#include "tests/support/test_support.h"

using namespace ZarnTypes;
using namespace ZarnCommands;
using doc_test::LoadPicture;
using doc_test::MakePicture;
using doc_test::MakeSolid;
using doc_test::TDocumentWindow;
namespace pq = platform::qt;

namespace {

QRgb Rgb(std::uint32_t c) { return qRgb((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }

QImage Grab(ZarnView::CZarnView& view) {
  view.viewport()->repaint();
  return view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// A window whose primary pane's client area is exactly `client` (no scroll
// bars while the picture fits).
struct TPaneWindow : TDocumentWindow {
  explicit TPaneWindow(QSize client) : TDocumentWindow(client) {
    QApplication::processEvents();
    EXPECT_EQ(Pane(0).ClientSize(), client);
  }
};

void SendWheel(QWidget* target, int delta, Qt::KeyboardModifiers modifiers) {
  const QPointF at(10, 10);
  QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(target, &event);
}

}  // namespace

TEST(ZarnViewPainting, APictureThatFitsIsDrawnOneToOneInTheCentreOnBlack) {
  TPaneWindow w(QSize(400, 300));
  auto picture = MakeSolid(100, 50, 0x3366CC);
  LoadPicture(w.Doc(), 0, picture);
  const QImage shot = Grab(w.Pane(0));
  const QRgb blue = Rgb(0x3366CC);
  const QRgb black = qRgb(0, 0, 0);
  EXPECT_EQ(shot.pixel(150, 125), blue);
  EXPECT_EQ(shot.pixel(249, 174), blue);
  EXPECT_EQ(shot.pixel(149, 125), black);
  EXPECT_EQ(shot.pixel(250, 125), black);
  EXPECT_EQ(shot.pixel(150, 124), black);
  EXPECT_EQ(shot.pixel(150, 175), black);
  EXPECT_EQ(w.Pane(0).ScrollRange(), QSize(0, 0));

  // At 200%: 200 x 100 at (100, 100), range 200 x 100, no scroll bars.
  ASSERT_TRUE(w.Doc().SetZoomMode(ZOOM_200));
  const QImage zoomed = Grab(w.Pane(0));
  EXPECT_EQ(zoomed.pixel(100, 100), blue);
  EXPECT_EQ(zoomed.pixel(299, 199), blue);
  EXPECT_EQ(zoomed.pixel(99, 100), black);
  EXPECT_EQ(zoomed.pixel(300, 199), black);
  EXPECT_EQ(w.Pane(0).ScrollRange(), QSize(200, 100));
  EXPECT_FALSE(w.Pane(0).horizontalScrollBar()->isVisible());
  EXPECT_EQ(w.Pane(0).ClientSize(), QSize(400, 300));
}

TEST(ZarnViewPainting, FitModesScaleTheWidePictureIntoTheNarrowPane) {
  TPaneWindow w(QSize(320, 480));
  auto picture = MakeSolid(640, 480, 0x20A040);
  LoadPicture(w.Doc(), 0, picture);
  const struct {
    int mode;
    Zoom::TRect expected;
    QSize range;
  } cases[] = {
      {ZOOM_FIT_VIEW, {0, 120, 320, 360}, {0, 0}},
      {ZOOM_KEEP_IN_VIEW, {0, 120, 320, 360}, {0, 0}},
      {ZOOM_FILL_VIEW, {0, 0, 320, 480}, {0, 0}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(w.Doc().SetZoomMode(c.mode));
    Zoom::TRect r;
    ASSERT_TRUE(w.Pane(0).PictureRect(r));
    EXPECT_EQ(r, c.expected) << c.mode;
    EXPECT_EQ(w.Pane(0).ScrollRange(), c.range) << c.mode;
    const QImage shot = Grab(w.Pane(0));
    EXPECT_EQ(shot.pixel(c.expected.left, c.expected.top), Rgb(0x20A040)) << c.mode;
    if (c.expected.top > 0) {
      EXPECT_EQ(shot.pixel(5, c.expected.top - 1), qRgb(0, 0, 0)) << c.mode;
    }
  }
  // Fit width: vertical range 240, no horizontal range.
  ASSERT_TRUE(w.Doc().SetZoomMode(ZOOM_FIT_WIDTH));
  EXPECT_EQ(w.Pane(0).ScrollRange(), QSize(0, 240));
}

TEST(ZarnViewPainting, TheOrientationShowsOnScreen) {
  TPaneWindow w(QSize(400, 300));
  // 2 x 1 picture: left red, right green; drawn at 100%.
  auto picture = MakePicture(2, 1, [](int x, int) { return x == 0 ? 0xFF0000u : 0x00FF00u; });
  LoadPicture(w.Doc(), 0, picture);
  ASSERT_TRUE(w.Doc().SetZoomMode(ZOOM_100));
  QImage shot = Grab(w.Pane(0));
  EXPECT_EQ(shot.pixel(199, 149), Rgb(0xFF0000));
  EXPECT_EQ(shot.pixel(200, 149), Rgb(0x00FF00));
  // Turned right (clockwise): red on top of green.
  w.Doc().TransformPane(0, ORIENT_ROTATE_RIGHT_90, false);
  shot = Grab(w.Pane(0));
  EXPECT_EQ(shot.pixel(199, 149), Rgb(0xFF0000));
  EXPECT_EQ(shot.pixel(199, 150), Rgb(0x00FF00));
}

TEST(ZarnViewPainting, WithoutAPictureTheOneByOneBitmapSitsInTheCentre) {
  TPaneWindow w(QSize(400, 300));
  const QImage shot = Grab(w.Pane(0));
  // The port's 1 x 1 picture is black, like the rest.
  for (QPoint p : {QPoint(0, 0), QPoint(199, 149), QPoint(399, 299)}) EXPECT_EQ(shot.pixel(p), qRgb(0, 0, 0));
  Zoom::TRect r;
  ASSERT_TRUE(w.Pane(0).PictureRect(r));
  EXPECT_EQ(r, (Zoom::TRect{199, 149, 200, 150}));
}

TEST(ZarnViewPainting, PictureInPictureInsetShowsTheOtherColumnsChannelWhereItsRecordSays) {
  TPaneWindow w(QSize(400, 300));
  auto& doc = w.Doc();
  // Channel 0 blue, drawn 1:1 at (150, 125); channel 2 red on the left half,
  // green on the right.
  auto main = MakeSolid(100, 50, 0x0000FF);
  LoadPicture(doc, 0, main);
  auto inset = MakePicture(20, 10, [](int x, int) { return x < 10 ? 0xFF0000u : 0x00FF00u; });
  LoadPicture(doc, 2, inset);
  const QRgb red = Rgb(0xFF0000), green = Rgb(0x00FF00), blue = Rgb(0x0000FF), black = qRgb(0, 0, 0);

  const struct {
    bool placement;      // offset by the picture's position
    bool sourceRect;     // only the right half of the inset picture
    QPoint left, right;  // a point in the left and in the right half of the inset
    QRgb leftColour, rightColour;
    QPoint outside;  // just left of the inset
    QRgb outsideColour;
  } cases[] = {
      {false, false, {15, 25}, {45, 35}, red, green, {9, 25}, black},
      {true, false, {165, 150}, {195, 160}, red, green, {159, 150}, blue},
      {true, true, {165, 150}, {195, 160}, green, green, {159, 150}, blue},
  };
  for (const auto& c : cases) {
    ZarnTypes::TPictInPict& pip = doc.m_Pip[0];
    pip.bEnabled = true;  // the inset channel is left as the document made it
    pip.nX = 10;
    pip.nY = 20;
    pip.nWidth = 40;
    pip.nHeight = 20;
    pip.nPlacement = c.placement ? 1 : 0;
    pip.nSourceRect = c.sourceRect ? 1 : 0;
    pip.nSourceX = 10;
    pip.nSourceY = 0;
    pip.nSourceWidth = 10;
    pip.nSourceHeight = 10;
    const QImage shot = Grab(w.Pane(0));
    EXPECT_EQ(shot.pixel(c.left), c.leftColour) << c.placement << c.sourceRect;
    EXPECT_EQ(shot.pixel(c.right), c.rightColour) << c.placement << c.sourceRect;
    EXPECT_EQ(shot.pixel(c.outside), c.outsideColour) << c.placement << c.sourceRect;
  }

  // The right column's insets show channel 0.
  w.frame->ToggleRightColumn();
  QApplication::processEvents();
  ZarnTypes::TPictInPict& right = doc.m_Pip[1];
  right.bEnabled = true;
  right.nX = 4;
  right.nY = 4;
  right.nWidth = 20;
  right.nHeight = 10;
  const QImage shot = Grab(w.Pane(1));
  EXPECT_EQ(shot.pixel(10, 8), blue);
  EXPECT_EQ(shot.pixel(30, 8), black);
  EXPECT_EQ(doc.m_Pip[2].nInsetChannel, 2);
  EXPECT_EQ(doc.m_Pip[3].nInsetChannel, 0);
}

TEST(ZarnViewPainting, APictureInPictureInsetKeepsItsRectangleAndShowsTheTurnedPicture) {
  TPaneWindow w(QSize(400, 300));
  auto& doc = w.Doc();
  // The pane's own picture: grey, 100 x 50, drawn 1:1 in the centre. The
  // inset's: quadrants red, green (top), blue, white (bottom).
  auto main = MakeSolid(100, 50, 0x808080);
  LoadPicture(doc, 0, main);
  const std::uint32_t quadrant[2][2] = {{0xFF0000, 0x00FF00}, {0x0000FF, 0xFFFFFF}};
  // Where a point (u, v) of the turned picture (fractions of its width and
  // height) lies in the upright one.
  const struct {
    std::int32_t orientation;
    const char* name;
    std::function<std::pair<double, double>(double, double)> source;
  } turns[] = {
      {ORIENT_IDENTITY, "upright",
       [](double u, double v) {
         return std::pair{u, v};
       }},
      {ORIENT_ROTATE_RIGHT_90, "right 90",
       [](double u, double v) {
         return std::pair{v, 1 - u};
       }},
      {ORIENT_ROTATE_LEFT_90, "left 90",
       [](double u, double v) {
         return std::pair{1 - v, u};
       }},
      {ORIENT_ROTATE_180, "180",
       [](double u, double v) {
         return std::pair{1 - u, 1 - v};
       }},
  };
  const QSize sizes[] = {{1920, 1080}, {320, 180}, {31, 17}};
  const QRect q(50, 50, 160, 120);  // the record's rectangle, from the pane's origin
  ZarnTypes::TPictInPict& pip = doc.m_Pip[0];
  pip.bEnabled = true;
  pip.nInsetChannel = 1;
  pip.nPlacement = 0;
  pip.nSourceRect = 0;
  pip.nX = q.x();
  pip.nY = q.y();
  pip.nWidth = q.width();
  pip.nHeight = q.height();
  for (const QSize size : sizes) {
    auto inset = MakePicture(size.width(), size.height(), [&](int x, int y) {
      return quadrant[2 * y >= size.height()][2 * x >= size.width()];
    });
    LoadPicture(doc, 1, inset);
    for (const auto& turn : turns) {
      SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()) + " " + turn.name);
      doc.TransformPane(1, turn.orientation, true);
      const QImage shot = Grab(w.Pane(0));
      // The inset covers exactly the record's rectangle, whatever the turn.
      const QRgb outside = qRgb(0, 0, 0);
      for (int x : {q.left() - 1, q.right() + 1}) EXPECT_EQ(shot.pixel(x, q.center().y()), outside) << x;
      for (int y : {q.top() - 1, q.bottom() + 1}) EXPECT_EQ(shot.pixel(q.center().x(), y), outside) << y;
      int wide = 0, high = 0;
      for (int x = 0; x < shot.width(); ++x) wide += shot.pixel(x, q.top() + 2) != outside ? 1 : 0;
      for (int y = 0; y < shot.height(); ++y) high += shot.pixel(q.left() + 2, y) != outside ? 1 : 0;
      EXPECT_EQ(wide, q.width());
      EXPECT_EQ(high, q.height());
      // Its content is the turned picture stretched over it: the colour at
      // the middle of each quarter of the rectangle.
      for (double v : {0.25, 0.75})
        for (double u : {0.25, 0.75}) {
          const auto [su, sv] = turn.source(u, v);
          const QPoint at(q.left() + static_cast<int>(u * q.width()),
                          q.top() + static_cast<int>(v * q.height()));
          EXPECT_EQ(shot.pixel(at), Rgb(quadrant[sv >= 0.5][su >= 0.5])) << u << "," << v;
        }
    }
  }
}

TEST(ZarnViewPainting, AnInsetWhoseChannelHasNoPictureShowsItsOneByOneBitmap) {
  // The inset shows the front bitmap of its channel whatever that holds: a
  // channel without a picture has its black 1 x 1 bitmap, stretched.
  TPaneWindow w(QSize(400, 300));
  auto& doc = w.Doc();
  auto main = MakeSolid(400, 300, 0x808080);
  LoadPicture(doc, 0, main);
  ZarnTypes::TPictInPict& pip = doc.m_Pip[0];
  pip.bEnabled = true;
  ASSERT_EQ(pip.nInsetChannel, 2);
  ASSERT_FALSE(doc.m_bHasPicture[2]);
  const QImage shot = Grab(w.Pane(0));
  EXPECT_EQ(shot.pixel(pip.nX, pip.nY), qRgb(0, 0, 0));
  EXPECT_EQ(shot.pixel(pip.nX + pip.nWidth - 1, pip.nY + pip.nHeight - 1), qRgb(0, 0, 0));
  EXPECT_EQ(shot.pixel(pip.nX - 1, pip.nY), Rgb(0x808080));
  EXPECT_EQ(shot.pixel(pip.nX + pip.nWidth, pip.nY), Rgb(0x808080));
  pip.bEnabled = false;
  EXPECT_EQ(Grab(w.Pane(0)).pixel(pip.nX, pip.nY), Rgb(0x808080));
}

TEST(ZarnViewScrolling, MagnifyingKeepsTheCentredPointInTheCentre) {
  TDocumentWindow w(QSize(600, 600));
  auto& view = w.Pane(0);
  view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  const QSize bars(view.verticalScrollBar()->sizeHint().width(),
                   view.horizontalScrollBar()->sizeHint().height());
  w.frame->resize(QSize(500, 500) + bars);
  QApplication::processEvents();
  ASSERT_EQ(view.ClientSize(), QSize(500, 500));
  auto picture = MakeSolid(1000, 1000, 0x777777);
  LoadPicture(w.Doc(), 0, picture);
  ASSERT_TRUE(w.Doc().SetZoomMode(ZOOM_100));
  EXPECT_EQ(view.ScrollRange(), QSize(1000, 1000));
  EXPECT_EQ(view.ScrollPosition(), QPoint(250, 250));  // the centre stays in the centre
  ASSERT_TRUE(w.Doc().SetZoomMode(ZOOM_200));
  EXPECT_EQ(view.ScrollRange(), QSize(2000, 2000));
  EXPECT_EQ(view.ScrollPosition(), QPoint(750, 750));
  // Scrolled by the user to the top left corner, the zoom keeps that area.
  view.ScrollTo(QPoint(0, 0));
  ASSERT_TRUE(w.Doc().SetZoomMode(ZOOM_100));
  EXPECT_EQ(view.ScrollPosition(), QPoint(0, 0));
}

TEST(ZarnViewScrolling, CtrlWheelZoomsAndTheWheelScrollsInAccumulatedSteps) {
  TDocumentWindow w(QSize(300, 300));
  auto& doc = w.Doc();
  auto& view = w.Pane(0);
  ASSERT_TRUE(doc.SetZoomMode(ZOOM_200));
  SendWheel(view.viewport(), 120, Qt::ControlModifier);
  EXPECT_EQ(doc.m_nZoomMode, ZOOM_500);
  SendWheel(view.viewport(), -120, Qt::ControlModifier);
  EXPECT_EQ(doc.m_nZoomMode, ZOOM_200);

  // 150 x 150 at 100%: a vertical range with 1-pixel lines.
  auto picture = MakeSolid(150, 400, 0x101010);
  LoadPicture(doc, 0, picture);
  ASSERT_TRUE(doc.SetZoomMode(ZOOM_100));
  QApplication::processEvents();
  QApplication::setWheelScrollLines(3);
  ASSERT_EQ(view.verticalScrollBar()->singleStep(), 4);
  view.ScrollTo(QPoint(0, 0));
  // 3 lines of 4 pixels per notch: a notch scrolls 12 down.
  SendWheel(view.viewport(), -120, Qt::NoModifier);
  EXPECT_EQ(view.ScrollPosition().y(), 12);
  // Deltas of 4 make no step alone (4 x 12 / 120 rounds to 0) but add up.
  SendWheel(view.viewport(), -4, Qt::NoModifier);
  EXPECT_EQ(view.ScrollPosition().y(), 12);
  SendWheel(view.viewport(), -4, Qt::NoModifier);
  EXPECT_EQ(view.ScrollPosition().y(), 13);
  // A change of direction drops what was gathered.
  SendWheel(view.viewport(), -4, Qt::NoModifier);
  SendWheel(view.viewport(), 4, Qt::NoModifier);
  SendWheel(view.viewport(), 4, Qt::NoModifier);
  EXPECT_EQ(view.ScrollPosition().y(), 12);
  SendWheel(view.viewport(), 120, Qt::NoModifier);
  EXPECT_EQ(view.ScrollPosition().y(), 0);
}

TEST(ZarnViewClipboard, CopyPutsThePictureUprightOnTheClipboard) {
  TDocumentWindow w;
  auto picture =
      MakePicture(3, 2, [](int x, int y) -> std::uint32_t { return (x * 80u) << 16 | (y * 200u); });
  LoadPicture(w.Doc(), 0, picture);
  QGuiApplication::clipboard()->clear();
  ASSERT_TRUE(w.Pane(0).OnCmdMsg(ID_EDIT_COPY, pq::TCmdCode::Command, nullptr));
  const QImage copied = QGuiApplication::clipboard()->image();
  ASSERT_EQ(copied.size(), QSize(3, 2));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(copied.pixel(x, y) & 0xFFFFFF, static_cast<QRgb>((x * 80u) << 16 | (y * 200u)))
          << x << ", " << y;
}

TEST(ZarnViewPrinting, PrintsThePictureToAPdfFile) {
  tovrin_test::TTempDir dir;
  TDocumentWindow w;
  auto picture = MakeSolid(64, 48, 0xC03020);
  LoadPicture(w.Doc(), 0, picture);
  const auto path = dir / "pane.pdf";
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(path.string()));
  ASSERT_TRUE(w.Pane(0).PreparePrinting());
  // A frame arriving after the snapshot does not reach the printout.
  EXPECT_EQ(w.Doc().m_WorkBitmap[0]->Width(), 64);
  auto later = MakeSolid(10, 10, 0x000000);
  LoadPicture(w.Doc(), 0, later);
  EXPECT_EQ(w.Doc().m_WorkBitmap[0]->Width(), 64);
  ASSERT_TRUE(w.Pane(0).PrintPicture(printer));
  w.Pane(0).EndPrinting();
  EXPECT_FALSE(w.Doc().m_WorkBitmap[0]);
  const auto bytes = tovrin_test::ReadAll(path);
  ASSERT_GT(bytes.size(), 100u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "%PDF");
}

TEST(ZarnViewConcurrency, PanesPaintWholeFramesWhileAWorkerDeliversThem) {
  TPaneWindow w(QSize(200, 200));
  auto& doc = w.Doc();
  doc.m_bHasPicture[0] = true;
  ASSERT_TRUE(doc.SetZoomMode(ZOOM_100));
  std::atomic<bool> stop{false};
  std::atomic<int> delivered{0};
  std::thread worker([&] {
    std::uint32_t colour = 1;
    while (!stop.load()) {
      // Each frame is one colour; a torn paint would show two.
      auto frame = MakeSolid(64, 64, (colour * 0x1F3B5Du) & 0xFFFFFF);
      ZarnTypes::TVideoPortUpdate u;
      u.nCommand = VPU_COPY_FRAME;
      u.nPortIndex = 0;
      u.pSourceFrame = &frame.frame;
      u.bSwap = 1;
      if (doc.m_VideoPortHub.UpdatePort(u)) ++delivered;
      pq::PostAppMessage(&w.Pane(0), pq::WM_APP_PANE_RESCALE);
      ++colour;
    }
  });
  // A torn paint is noted and the worker joined before anything is asserted.
  int painted = 0;
  int tornAt = -1;
  while ((painted < 200 || delivered.load() < 50) && tornAt < 0) {
    const QImage shot = Grab(w.Pane(0));
    const QRgb first = shot.pixel(68, 68);
    for (int y = 68; y < 132 && tornAt < 0; y += 3)
      for (int x = 68; x < 132 && tornAt < 0; x += 3)
        if (shot.pixel(x, y) != first) tornAt = painted;
    QApplication::processEvents();
    ++painted;
  }
  stop = true;
  worker.join();
  QApplication::processEvents();
  EXPECT_EQ(tornAt, -1) << "paint " << tornAt << " shows two frames";
}

TEST(ZarnViewMessages, EachViewAnswersItsRoleAndThePanesKeepTheirIndex) {
  TDocumentWindow w;
  for (int pane = 0; pane < 4; ++pane) {
    EXPECT_EQ(w.Pane(pane).PaneIndex(), pane);
    EXPECT_EQ(w.Doc().PaneView(pane), &w.Pane(pane));
  }
  const struct {
    QObject* view;
    std::int32_t paneIn;
    std::int32_t role;
  } cases[] = {
      {&w.Pane(3), 1, VIEW_ROLE_VIDEO_PANE},
      {w.Doc().ControllerView(), 2, VIEW_ROLE_CONTROLLER},
  };
  for (const auto& c : cases) {
    TIdentifyView record;
    record.paneIndex = c.paneIn;
    EXPECT_EQ(pq::SendAppRecord(c.view, pq::WM_APP_IDENTIFY_VIEW, 0, record), 1);
    EXPECT_EQ(record.answered, 1);
    EXPECT_EQ(record.role, c.role);
  }
  EXPECT_EQ(w.Pane(3).PaneIndex(), 1);
  // An index outside the grid is not taken.
  TIdentifyView wrong;
  wrong.paneIndex = 9;
  pq::SendAppRecord(&w.Pane(2), pq::WM_APP_IDENTIFY_VIEW, 0, wrong);
  EXPECT_EQ(w.Pane(2).PaneIndex(), 2);
}

TEST(ZarnViewMessages, RescaleMessageAppliesTheDocumentsZoomToThePane) {
  TPaneWindow w(QSize(400, 300));
  auto picture = MakeSolid(100, 50, 0x445566);
  LoadPicture(w.Doc(), 0, picture);
  EXPECT_EQ(w.Pane(0).ScrollRange(), QSize(0, 0));
  // The mode changed behind the pane's back: the message brings the pane in step.
  w.Doc().m_nZoomMode = ZOOM_500;
  w.Doc().m_fZoomFactor[0] = 5.0f;
  EXPECT_EQ(pq::SendAppMessage(&w.Pane(0), pq::WM_APP_PANE_RESCALE, 0, 0), 1);
  EXPECT_EQ(w.Pane(0).ScrollRange(), QSize(500, 250));
}
