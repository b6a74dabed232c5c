// The Video Pane page over a real document: what the page sets is what the
// panes stretch with.
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QSlider>

#include <gtest/gtest.h>

#include <set>

#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document/zarn_view.h"
#include "document_fixture.h"
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
