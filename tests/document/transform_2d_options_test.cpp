// The Transform 2D page and View / Rotate and Reflect "Custom..." over a real
// document, and the Video Pane page's fast stretch while the engine plays.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "document/command_ids.h"
#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document/zarn_view.h"
#include "document_fixture.h"
#include "media/file_types.h"
#include "open_fixture.h"
#include "options/opts_pict_in_pict.h"
#include "options/opts_transform_2d.h"
#include "options/opts_video_pane.h"
#include "options/zarn_options.h"
#include "tests/options/layout_check.h"
#include "tests/support/message_fixture.h"

using namespace ZarnTypes;
using doc_test::LoadPicture;
using doc_test::MakePicture;
using doc_test::RunUntil;
using doc_test::TDocumentWindow;
using OptsTransform2D::kAllColumn;
using OptsTransform2D::kApplyRow;
namespace pq = platform::qt;

namespace {

constexpr int kRight = 0, k180 = 2;

std::uint32_t Colour(int x, int y) {
  return static_cast<std::uint32_t>(0x100000 * (x + 1) + 0x000100 * (y + 1) + 0x33);
}

// The colour at (x, y) from the top of a port's picture.
std::uint32_t PixelOf(const Dib::TDibSection& picture, int x, int y) {
  std::uint32_t c = 0;
  std::memcpy(&c, picture.RowFromTop(y) + 4 * x, 4);
  return c & 0xFFFFFFu;
}

// Where a picture turned by an orientation takes pixel (x, y) of the turned
// picture from, in the upright W x H source, as seen on screen (y down):
// 6 turns clockwise, 2 counter-clockwise, 4 half round.
std::pair<int, int> SourceOf(std::int32_t code, int x, int y, int W, int H) {
  switch (code) {
    case 6: return {y, H - 1 - x};
    case 2: return {W - 1 - y, x};
    case 4: return {W - 1 - x, H - 1 - y};
    default: return {x, y};
  }
}

// Counts the pixels of a channel's port that are not the source's pixel
// turned by `code`.
int WrongPixels(ZarnDoc::CZarnDoc& doc, int channel, std::int32_t code, int W, int H) {
  const VideoPort::TPicture picture = doc.m_VideoPortHub.Port(channel).FrontBitmap();
  const bool swaps = code == 2 || code == 6;
  EXPECT_TRUE(picture);
  if (!picture) return -1;
  EXPECT_EQ(picture->Width(), swaps ? H : W);
  EXPECT_EQ(picture->Height(), swaps ? W : H);
  if (picture->Width() != (swaps ? H : W) || picture->Height() != (swaps ? W : H)) return -1;
  int wrong = 0;
  for (int y = 0; y < picture->Height(); ++y)
    for (int x = 0; x < picture->Width(); ++x) {
      const auto [sx, sy] = SourceOf(code, x, y, W, H);
      if (PixelOf(*picture, x, y) != Colour(sx, sy)) ++wrong;
    }
  return wrong;
}

std::int32_t OrientationOf(ZarnDoc::CZarnDoc& doc, int channel) {
  return doc.m_VideoPortHub.Port(channel).Orientation();
}

class Transform2DOptions : public tovrin_test::TRecordedMessagesTest {};

}  // namespace

TEST_F(Transform2DOptions, GridOperationsTurnThePortsPicturesOnOkAndFromTheApplyRow) {
  TDocumentWindow w(QSize(600, 400));
  ZarnDoc::CZarnDoc& doc = w.Doc();
  constexpr int W = 5, H = 3;
  auto first = MakePicture(W, H, Colour);
  auto third = MakePicture(W, H, Colour);
  LoadPicture(doc, 0, first);
  LoadPicture(doc, 2, third);

  {
    ZarnOptions::CZarnOptions sheet("Options", doc.ControllerView(), OPTCAT_TRANSFORM_2D);
    sheet.OnInitDialog();
    auto* page = dynamic_cast<OptsTransform2D::COptsTransform2D*>(sheet.Page(OptsPage::PAGE_TRANSFORM_2D));
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(page->InitResult());
    for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(page->Items().Available(ch), ch % 2 == 0) << ch;
    page->Grid()->OnClick(kRight, 1);
    EXPECT_EQ(OrientationOf(doc, 0), 0) << "nothing sent before OK";
    sheet.AcceptSheet();
  }
  EXPECT_EQ(OrientationOf(doc, 0), 6);
  EXPECT_EQ(WrongPixels(doc, 0, 6, W, H), 0);
  EXPECT_EQ(OrientationOf(doc, 2), 0);
  EXPECT_EQ(WrongPixels(doc, 2, 0, W, H), 0);

  {
    ZarnOptions::CZarnOptions sheet("Options", doc.ControllerView(), OPTCAT_TRANSFORM_2D);
    sheet.OnInitDialog();
    auto* page = dynamic_cast<OptsTransform2D::COptsTransform2D*>(sheet.Page(OptsPage::PAGE_TRANSFORM_2D));
    ASSERT_TRUE(page->InitResult());
    EXPECT_EQ(page->Items().Pending(0), 6) << "the grid starts from the port's orientation";
    // "All": only the channels with a picture turn, sent from the apply row.
    page->Grid()->OnClick(k180, kAllColumn);
    page->Grid()->OnClick(kApplyRow, kAllColumn);
    EXPECT_EQ(OrientationOf(doc, 0), 2);
    EXPECT_EQ(OrientationOf(doc, 2), 4);
    sheet.reject();  // what was applied stays
  }
  EXPECT_EQ(WrongPixels(doc, 0, 2, W, H), 0);
  EXPECT_EQ(WrongPixels(doc, 2, 4, W, H), 0);
  EXPECT_EQ(OrientationOf(doc, 1), 0);
  EXPECT_EQ(OrientationOf(doc, 3), 0);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(Transform2DOptions, TheDocumentAnswersReadsAndAppliesThroughTheControllerPane) {
  TDocumentWindow w(QSize(400, 300));
  ZarnDoc::CZarnDoc& doc = w.Doc();
  auto picture = MakePicture(4, 2, Colour);
  LoadPicture(doc, 1, picture);
  doc.TransformPane(1, 3, true);

  TTransform2DExchange block;
  block.header.op = OPTS_XCHG_READ;
  EXPECT_EQ(pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_OPTS_CATEGORY, OPTTOPIC_TRANSFORM_2D, block),
            1);
  EXPECT_EQ(block.header.answered, 1);
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(block.channels[ch].flag, ch == 1 ? 1 : 0) << ch;
    EXPECT_EQ(block.channels[ch].orientation, ch == 1 ? 3 : 0) << ch;
  }

  struct Case {
    std::int32_t op;
    std::uint8_t flags[4];
    std::int32_t codes[4];
    bool answered;
    std::int32_t after[4];
  };
  const Case cases[] = {
      {OPTS_XCHG_WRITE, {1, 1, 1, 1}, {5, 5, 5, 5}, true, {0, 3, 0, 0}},  // nothing kept
      {3, {0, 1, 0, 0}, {8, 5, 8, 8}, false, {0, 3, 0, 0}},               // not an operation of the page
      {OPTS_XCHG_APPLY, {0, 1, 0, 0}, {8, 6, 4, 8}, true, {0, 6, 0, 0}},  // only flagged channels
      {OPTS_XCHG_APPLY, {0, 1, 0, 0}, {8, 9, 8, 8}, true, {0, 6, 0, 0}},  // no such code
      {OPTS_XCHG_APPLY, {1, 1, 0, 0}, {7, 0, 8, 8}, true, {7, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.op);
    TTransform2DExchange apply;
    apply.header.op = c.op;
    for (int ch = 0; ch < 4; ++ch) {
      apply.channels[ch].flag = c.flags[ch];
      apply.channels[ch].orientation = c.codes[ch];
    }
    pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_OPTS_CATEGORY, OPTTOPIC_TRANSFORM_2D, apply);
    EXPECT_EQ(apply.header.answered != 0, c.answered);
    for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(OrientationOf(doc, ch), c.after[ch]) << ch;
  }
  EXPECT_EQ(WrongPixels(doc, 1, 0, 4, 2), 0);
}

TEST_F(Transform2DOptions, CustomOpensTheTransformSheetOverTheControllerPane) {
  TDocumentWindow w(QSize(400, 300));
  ZarnDoc::CZarnDoc& doc = w.Doc();
  auto picture = MakePicture(3, 2, Colour);
  LoadPicture(doc, 0, picture);

  pq::TCmdUI ui(shell::ID_TRANSFORM_CUSTOM);
  ASSERT_TRUE(doc.OnCmdMsg(shell::ID_TRANSFORM_CUSTOM, pq::TCmdCode::Update, &ui));
  EXPECT_TRUE(ui.Enabled());

  bool seen = false;
  QTimer poll;
  int ticks = 0;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* sheet = qobject_cast<ZarnOptions::CZarnOptions*>(QApplication::activeModalWidget());
    if (!sheet) {
      if (++ticks > 2000) poll.stop();
      return;
    }
    poll.stop();
    seen = true;
    EXPECT_EQ(sheet->windowTitle().toStdString(), "Options");
    EXPECT_EQ(sheet->OwnerWindow(), doc.ControllerView());
    EXPECT_EQ(sheet->Pages().size(), 1u);
    auto* page = dynamic_cast<OptsTransform2D::COptsTransform2D*>(sheet->Page(OptsPage::PAGE_TRANSFORM_2D));
    if (page && page->InitResult()) page->Grid()->OnClick(k180, 1);
    sheet->OkButton()->click();
  });
  poll.start(5);
  ASSERT_TRUE(doc.OnCmdMsg(shell::ID_TRANSFORM_CUSTOM, pq::TCmdCode::Command, nullptr));
  poll.stop();
  EXPECT_TRUE(seen);
  EXPECT_EQ(OrientationOf(doc, 0), 4);
  EXPECT_TRUE(sink.Texts().empty());
}

// ---------------------------------------------------------------------------
// Fast stretch while the engine plays

namespace {

// The colours inside the pane's picture (its black border left out).
std::set<QRgb> PictureColours(ZarnView::CZarnView& view) {
  view.viewport()->repaint();
  const QImage shot = view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  Zoom::TRect placed;
  EXPECT_TRUE(view.PictureRect(placed));
  std::set<QRgb> colours;
  for (int y = placed.top + 1; y < placed.bottom - 1; ++y)
    for (int x = placed.left + 1; x < placed.right - 1; ++x) colours.insert(shot.pixel(x, y));
  return colours;
}

// A raw YUV clip of 2 x 2 frames, each a black and white checker.
void WriteCheckerClip(const std::filesystem::path& path, int frames) {
  std::ofstream out(path, std::ios::binary);
  const char frame[6] = {static_cast<char>(235), 16, 16, static_cast<char>(235), static_cast<char>(128),
                         static_cast<char>(128)};
  for (int k = 0; k < frames; ++k) out.write(frame, sizeof frame);
}

// Sets channel 1's stretch on the Video Pane page: the fast switch, and
// both sliders at "Quality".
void SetStretch(ZarnDoc::CZarnDoc& doc, bool fast) {
  ZarnOptions::CZarnOptions sheet("Options", doc.ControllerView(), OPTCAT_VIDEO_PANE);
  sheet.OnInitDialog();
  auto* page = dynamic_cast<OptsVideoPane::COptsVideoPane*>(sheet.Page(OptsPage::PAGE_VIDEO_PANE));
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(page->InitResult());
  page->FastStretchBox()->setChecked(fast);
  page->ViewSlider()->setValue(1);
  page->PlaySlider()->setValue(1);
  sheet.AcceptSheet();
}

}  // namespace

TEST_F(Transform2DOptions, AlwaysFastDuringPlaybackStretchesFastWhilePlayingAndSmoothAfter) {
  open_test::TSettingsApplication app;
  TDocumentWindow w(QSize(600, 400));
  ZarnDoc::CZarnDoc& doc = w.Doc();
  // Stops the engine however the test ends, before the window goes.
  struct TStopAtEnd {
    ZarnDoc::CZarnDoc& doc;
    ~TStopAtEnd() {
      if (!doc.m_Engine.IsRunning()) return;
      doc.m_Engine.StopPlaying();
      RunUntil([this] { return !doc.m_Engine.IsRunning(); });
    }
  } stopAtEnd{doc};
  doc.ch_nDecoderVideoOutDelay = 0;
  doc.ch_nDecoderVideoOutPeriod = 40;
  doc.m_YuvOpen.nFormat = ComposeYuvFileFormat(YUV_STD_BT601, YUV_LAYOUT_420_CENTRED, YUV_RANGE_16_235_240);
  doc.m_YuvOpen.nWidth = 2;
  doc.m_YuvOpen.nHeight = 2;
  const std::filesystem::path clip = dir / "checker.yuv";
  WriteCheckerClip(clip, 3000);  // two minutes: stopped long before its end
  ASSERT_TRUE(doc.OpenSource(clip.string(), 0));
  ASSERT_TRUE(doc.SetZoomMode(ZOOM_1000));
  SetStretch(doc, true);
  ASSERT_TRUE(doc.m_VideoPane[0].bFastStretch);
  ASSERT_EQ(doc.m_VideoPane[0].nPlayMode, 4);
  EXPECT_GT(PictureColours(w.Pane(0)).size(), 2u) << "stopped: smooth";

  ASSERT_TRUE(doc.OnCmdMsg(shell::ID_NAVIGATE_START_PAUSE, pq::TCmdCode::Command, nullptr));
  ASSERT_TRUE(RunUntil([&] { return doc.m_Engine.IsRunning(); }));
  EXPECT_EQ(PictureColours(w.Pane(0)).size(), 2u) << "playing with the fast switch: nearest pixels";
  ASSERT_TRUE(doc.m_Engine.IsRunning()) << "the picture was taken while playing";

  // The switch off (taken while playing): the smooth "Play" mode is used.
  SetStretch(doc, false);
  EXPECT_GT(PictureColours(w.Pane(0)).size(), 2u) << "playing without the fast switch: smooth";
  SetStretch(doc, true);
  EXPECT_EQ(PictureColours(w.Pane(0)).size(), 2u);
  ASSERT_TRUE(doc.m_Engine.IsRunning());

  ASSERT_TRUE(doc.OnCmdMsg(shell::ID_NAVIGATE_STOP, pq::TCmdCode::Command, nullptr));
  ASSERT_TRUE(RunUntil([&] { return !doc.m_Engine.IsRunning(); }));
  EXPECT_GT(PictureColours(w.Pane(0)).size(), 2u) << "stopped again: smooth";
  EXPECT_TRUE(sink.Texts().empty());
}

// ---------------------------------------------------------------------------
// Pictures of the pages in the document's "Options" sheet

TEST_F(Transform2DOptions, OptionsListsTheVideoPaneAndPipPagesAndShowsACroppedInsetWhole) {
  TDocumentWindow w(QSize(400, 300));
  ZarnDoc::CZarnDoc& doc = w.Doc();
  ZarnOptions::CZarnOptions sheet("Options", doc.ControllerView(), OPTCAT_DOCUMENT);
  sheet.show();
  sheet.resize(sheet.sizeHint());
  QApplication::processEvents();
  sheet.OnInitDialog();
  int pip = -1, pane = -1;
  for (std::size_t i = 0; i < sheet.Pages().size(); ++i) {
    if (sheet.Pages()[i] == sheet.Page(OptsPage::PAGE_PIP)) pip = static_cast<int>(i);
    if (sheet.Pages()[i] == sheet.Page(OptsPage::PAGE_VIDEO_PANE)) pane = static_cast<int>(i);
  }
  ASSERT_GE(pip, 0);
  ASSERT_GE(pane, 0);
  const char* folder = std::getenv("TOVRIN_SHOT_DIR");

  ASSERT_TRUE(sheet.SetActivePage(pane));
  QApplication::processEvents();
  EXPECT_EQ(tovrin_test::TextsThatDoNotFit(&sheet), std::vector<std::string>{});
  if (folder) {
    EXPECT_TRUE(
        sheet.grab().save(QDir(QString::fromLocal8Bit(folder)).filePath("options_video_pane.png"), "PNG"));
  }

  ASSERT_TRUE(sheet.SetActivePage(pip));
  auto* page = dynamic_cast<OptsPictInPict::COptsPictInPict*>(sheet.Page(OptsPage::PAGE_PIP));
  ASSERT_TRUE(page->InitResult());
  const OptsPictInPict::TPipPaneControls& c = page->Pane(0);
  c.enabled->setChecked(true);
  c.port->setValue(3);
  c.crop->setChecked(true);
  const int numbers[OptsPictInPict::kPipNumberCount] = {-5000, 10, 5000, 48, 8, 6, 16, 12};
  for (int i = 0; i < OptsPictInPict::kPipNumberCount; ++i)
    c.numbers[static_cast<std::size_t>(i)]->setValue(numbers[i]);
  QApplication::processEvents();
  for (QSpinBox* box : c.numbers) EXPECT_TRUE(box->isEnabled());
  EXPECT_EQ(tovrin_test::TextsThatDoNotFit(&sheet), std::vector<std::string>{});
  EXPECT_LE(sheet.frameGeometry().width(), 1280);
  if (folder) {
    EXPECT_TRUE(
        sheet.grab().save(QDir(QString::fromLocal8Bit(folder)).filePath("options_pip_crop.png"), "PNG"));
  }
  sheet.reject();
  EXPECT_FALSE(doc.m_Pip[0].bEnabled) << "nothing is kept without OK";
}
