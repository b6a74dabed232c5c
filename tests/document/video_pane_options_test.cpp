// The Video Pane page over a real document: what the page sets is what the
// panes stretch with.
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <set>

#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document/zarn_view.h"
#include "document_fixture.h"
#include "options/opts_pict_in_pict.h"
#include "options/opts_video_pane.h"
#include "options/zarn_options.h"
#include "tests/support/message_fixture.h"

using namespace ZarnTypes;
using doc_test::LoadPicture;
using doc_test::MakePicture;
using doc_test::TDocumentWindow;

namespace {

// The grey levels inside the pane's picture (its black border left out).
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

// Runs the page in its own sheet over the document: `edit`, then OK.
template <class TEdit>
void RunPage(ZarnDoc::CZarnDoc& doc, bool readOnly, TEdit edit) {
  ZarnOptions::CZarnOptions sheet("Options", doc.ControllerView(), OPTCAT_VIDEO_PANE);
  sheet.SetReadOnly(readOnly);
  sheet.OnInitDialog();
  auto* page = dynamic_cast<OptsVideoPane::COptsVideoPane*>(sheet.Page(OptsPage::PAGE_VIDEO_PANE));
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(page->InitResult());
  edit(*page);
  sheet.AcceptSheet();
}

class VideoPaneOptions : public tovrin_test::TRecordedMessagesTest {};

}  // namespace

TEST_F(VideoPaneOptions, TheViewModeChosenOnThePageIsHowThePaneStretches) {
  TDocumentWindow w(QSize(600, 400));
  ZarnDoc::CZarnDoc& doc = w.Doc();
  auto checker = MakePicture(2, 2, [](int x, int y) { return (x + y) % 2 ? 0xFFFFFFu : 0x000000u; });
  LoadPicture(doc, 0, checker);
  ASSERT_TRUE(doc.SetZoomMode(ZOOM_1000));

  RunPage(doc, false, [](OptsVideoPane::COptsVideoPane& page) { page.ViewSlider()->setValue(0); });
  EXPECT_EQ(doc.m_VideoPane[0].nViewMode, 3);
  EXPECT_EQ(PictureColours(w.Pane(0)).size(), 2u) << "nearest pixels: black and white only";

  RunPage(doc, false, [](OptsVideoPane::COptsVideoPane& page) { page.ViewSlider()->setValue(1); });
  EXPECT_EQ(doc.m_VideoPane[0].nViewMode, 4);
  EXPECT_GT(PictureColours(w.Pane(0)).size(), 2u) << "smooth stretching blends the squares";
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(VideoPaneOptions, ReadOnlySheetWritesBackWhatThePageRead) {
  TDocumentWindow w(QSize(300, 200));
  ZarnDoc::CZarnDoc& doc = w.Doc();
  for (int ch = 0; ch < kChannelCount; ++ch) {
    doc.m_VideoPane[ch].bFastStretch = ch == 1;
    doc.m_VideoPane[ch].nViewMode = ch % 2 ? 3 : 4;
    doc.m_VideoPane[ch].nPlayMode = ch == 2 ? 4 : 3;
    doc.m_VideoPane[ch].nValue[1] = 7 + ch;
  }
  // Channel 1's "Play" mode is neither fast nor smooth: the write that a
  // read-only sheet still makes stores it as the mode its slider shows.
  doc.m_VideoPane[0].nPlayMode = 7;
  RunPage(doc, true, [](OptsVideoPane::COptsVideoPane& page) { EXPECT_FALSE(page.isEnabled()); });
  for (int ch = 0; ch < kChannelCount; ++ch) {
    SCOPED_TRACE(ch);
    EXPECT_EQ(doc.m_VideoPane[ch].bFastStretch, ch == 1);
    EXPECT_EQ(doc.m_VideoPane[ch].nViewMode, ch % 2 ? 3 : 4);
    EXPECT_EQ(doc.m_VideoPane[ch].nPlayMode, ch == 2 || ch == 0 ? 4 : 3);
    EXPECT_EQ(doc.m_VideoPane[ch].nValue[1], 7 + ch);
  }
  EXPECT_TRUE(sink.Texts().empty());
}

namespace {

std::uint32_t InsetColour(int x, int y) {
  return (static_cast<std::uint32_t>(x * 7 + 16) << 16) | (static_cast<std::uint32_t>(y * 9 + 8) << 8) |
         0x40u;
}

QRgb AsRgb(std::uint32_t c) { return qRgb((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }

}  // namespace

TEST_F(VideoPaneOptions, TheInsetSetOnThePageIsDrawnAtOnceAsTheTestScalesIt) {
  TDocumentWindow w(QSize(600, 400));
  ZarnDoc::CZarnDoc& doc = w.Doc();
  doc.m_VideoPane[0].nViewMode = 3;  // nearest pixels, so the scaling is exact
  auto base = doc_test::MakeSolid(40, 30, 0x102030);
  auto source = MakePicture(32, 24, InsetColour);
  LoadPicture(doc, 0, base);
  LoadPicture(doc, 2, source);
  ASSERT_TRUE(doc.SetZoomMode(ZOOM_100));

  struct Case {
    bool crop;
    int cropX, cropY, cropW, cropH;
  };
  for (const Case& k : {Case{false, 0, 0, 32, 24}, Case{true, 8, 6, 16, 12}}) {
    SCOPED_TRACE(k.crop ? "crop" : "entire");
    ZarnOptions::CZarnOptions sheet("PIP", doc.ControllerView(), OPTCAT_PIP);
    sheet.OnInitDialog();
    auto* page = dynamic_cast<OptsPictInPict::COptsPictInPict*>(sheet.Page(OptsPage::PAGE_PIP));
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(page->InitResult());
    const OptsPictInPict::TPipPaneControls& c = page->Pane(0);
    c.enabled->setChecked(true);
    c.port->setValue(3);
    c.fromPane->setChecked(true);
    (k.crop ? c.crop : c.entire)->setChecked(true);
    const int numbers[OptsPictInPict::kPipNumberCount] = {20, 10, 64, 48, k.cropX, k.cropY, k.cropW, k.cropH};
    for (int i = 0; i < OptsPictInPict::kPipNumberCount; ++i)
      c.numbers[static_cast<std::size_t>(i)]->setValue(numbers[i]);
    sheet.AcceptSheet();
    EXPECT_TRUE(doc.m_Pip[0].bEnabled);
    EXPECT_EQ(doc.m_Pip[0].nInsetChannel, 2);

    ZarnView::CZarnView& pane = w.Pane(0);
    pane.viewport()->repaint();
    const QImage shot = pane.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int wrong = 0;
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) {
        const QRgb want = AsRgb(InsetColour(k.cropX + x * k.cropW / 64, k.cropY + y * k.cropH / 48));
        if (shot.pixel(20 + x, 10 + y) != want) ++wrong;
      }
    EXPECT_EQ(wrong, 0);
    EXPECT_NE(shot.pixel(20 + 64, 10), AsRgb(InsetColour(31, 0))) << "nothing right of the inset";
  }
  EXPECT_TRUE(sink.Texts().empty());
}
