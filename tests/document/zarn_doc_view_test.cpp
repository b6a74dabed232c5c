// Pasting a picture from the clipboard into a pane's channel, and the
// "Video Pane / Channel Layout" dialog with the document's pane map.

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QImage>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "document/command_ids.h"
#include "document/pane_layout_dialog.h"
#include "document/picture_image.h"
#include "document_fixture.h"
#include "platform/message_sink.h"

using namespace ZarnTypes;
using VideoPortPaneLayout::CVideoPortPaneLayout;
namespace pq = platform::qt;

namespace {

// A picture whose pixels differ: red grows to the right, green downwards.
QImage Gradient(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(40 * x, 60 * y, 200));
  return image;
}

class PasteTest : public ::testing::Test {
 protected:
  void SetUp() override { QGuiApplication::clipboard()->clear(); }
  void TearDown() override { QGuiApplication::clipboard()->clear(); }
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope{&sink};
};

std::array<std::int32_t, 4> MapOf(ZarnDoc::CZarnDoc& doc) {
  return {doc.m_nPaneChannel[0], doc.m_nPaneChannel[1], doc.m_nPaneChannel[2], doc.m_nPaneChannel[3]};
}

}  // namespace

TEST_F(PasteTest, TheClipboardsPictureBecomesTheChannelsSource) {
  doc_test::TRecordingMainWindow main;
  doc_test::TDocumentWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
  main.notices.clear();
  const QImage picture = Gradient(4, 3);
  QGuiApplication::clipboard()->setImage(picture);
  ASSERT_TRUE(w.frame->PrimaryOnly());

  ASSERT_TRUE(doc.PasteFromClipboard(1));  // pane 1 shows channel 1
  const VideoPort::TPicture front = doc.m_VideoPortHub.Port(1).FrontBitmap();
  ASSERT_TRUE(front);
  const QImage shown = ZarnView::PictureToImage(*front);
  ASSERT_EQ(shown.size(), QSize(4, 3));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(shown.pixel(x, y) & 0xFFFFFFu, qRgb(40 * x, 60 * y, 200) & 0xFFFFFFu);

  const TMediaSource& source = doc.m_Source[1];
  EXPECT_TRUE(source.bOpen);
  EXPECT_EQ(source.eState, SOURCE_STATE_LOADED);
  EXPECT_EQ(source.eStreamType, 95);
  EXPECT_EQ(source.eSourceCategory, 7);
  EXPECT_EQ(source.eFileFormat, 95);
  EXPECT_EQ(source.nWidth, 4);
  EXPECT_EQ(source.nHeight, 3);
  EXPECT_EQ(source.nPictureCount, 1);
  EXPECT_EQ(source.sPath.rfind("Clipboard", 0), 0u);
  EXPECT_EQ(source.sDisplayPath, source.sPath);
  EXPECT_TRUE(doc.m_bHasPicture[1]);
  EXPECT_EQ(doc.m_strDocTitle, doc.DocName() + " | | " + source.sPath + " ||");
  // The window shows the pane of the channel, and the explorer hears of it.
  EXPECT_TRUE(w.frame->RightColumnShown());
  EXPECT_EQ(main.notices, (std::vector<std::pair<int, int>>{{10, int(pq::FRAME_REQ_EXPLORER_UPDATE_DOC)}}));

  // The next paste takes the next number.
  ASSERT_TRUE(doc.PasteFromClipboard(0));
  const int first = std::stoi(source.sPath.substr(9));
  EXPECT_EQ(doc.m_Source[0].sPath, "Clipboard" + std::to_string(first + 1));
}

TEST_F(PasteTest, AFailedPasteLeavesTheChannelAsItWas) {
  doc_test::TDocumentWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
  doc_test::TPicture old = doc_test::MakeSolid(6, 2, 0x123456);
  doc_test::LoadPicture(doc, 0, old);
  doc.m_Source[0].bOpen = TRUE_;
  doc.m_Source[0].sPath = "old.bmp";
  ASSERT_EQ(doc.TransformPane(0, ORIENT_ROTATE_RIGHT_90, false), 0);
  const VideoPort::TPicture before = doc.m_VideoPortHub.Port(0).FrontBitmap();

  // Text is no picture.
  QGuiApplication::clipboard()->setText("no picture here");
  EXPECT_FALSE(doc.PasteFromClipboard(0));
  EXPECT_EQ(doc.m_VideoPortHub.Port(0).FrontBitmap(), before);
  EXPECT_EQ(doc.m_VideoPortHub.Port(0).Orientation(), ORIENT_ROTATE_RIGHT_90);
  EXPECT_EQ(doc.m_Source[0].sPath, "old.bmp");

  // A channel that plays keeps its source.
  QGuiApplication::clipboard()->setImage(Gradient(2, 2));
  doc.m_Engine.m_bRunning = true;
  EXPECT_FALSE(doc.PasteFromClipboard(0));
  EXPECT_EQ(doc.m_VideoPortHub.Port(0).FrontBitmap(), before);
  doc.m_Engine.m_bRunning = false;

  // A pane outside the four.
  EXPECT_FALSE(doc.PasteFromClipboard(4));
  EXPECT_FALSE(doc.PasteFromClipboard(-1));

  // A good paste starts upright.
  ASSERT_TRUE(doc.PasteFromClipboard(0));
  EXPECT_EQ(doc.m_VideoPortHub.Port(0).Orientation(), ORIENT_IDENTITY);
  EXPECT_EQ(doc.m_VideoPortHub.Port(0).FrontBitmap()->Width(), 2);
}

TEST_F(PasteTest, ThePanesPasteCommandUsesThePanesChannel) {
  doc_test::TDocumentWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
  doc.m_nPaneChannel[2] = 3;
  QGuiApplication::clipboard()->setImage(Gradient(3, 5));
  ASSERT_TRUE(w.Pane(2).OnCmdMsg(ZarnCommands::ID_EDIT_PASTE, pq::TCmdCode::Command, nullptr));
  EXPECT_TRUE(doc.m_Source[3].bOpen);
  EXPECT_FALSE(doc.m_Source[2].bOpen);
  EXPECT_EQ(doc.m_VideoPortHub.Port(3).FrontBitmap()->Height(), 5);
}

// ---------------------------------------------------------------------------
// The pane layout dialog

class PaneLayoutTest : public ::testing::Test {
 protected:
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope{&sink};
};

TEST_F(PaneLayoutTest, APresetOpensWithItsButtonAndTheListsLocked) {
  doc_test::TDocumentWindow w;
  const std::int32_t vertical[4] = {0, 2, 1, 3};
  std::copy(std::begin(vertical), std::end(vertical), w.Doc().m_nPaneChannel);
  CVideoPortPaneLayout dialog(w.frame);
  dialog.OnInitDialog();
  EXPECT_TRUE(dialog.VerticalButton()->isChecked());
  EXPECT_FALSE(dialog.HorizontalButton()->isChecked());
  EXPECT_EQ(dialog.LayoutState(), CVideoPortPaneLayout::LAYOUT_PRESET);
  EXPECT_EQ(dialog.SelectedChannels(), (std::array<std::int32_t, 4>{0, 2, 1, 3}));
  for (int pane = 0; pane < 4; ++pane) EXPECT_FALSE(dialog.PaneCombo(pane)->isEnabled()) << pane;
  ASSERT_EQ(dialog.PaneCombo(0)->count(), 4);
  EXPECT_EQ(dialog.PaneCombo(0)->itemText(0), "Channel 1 : Primary");
  EXPECT_EQ(dialog.PaneCombo(0)->itemText(3), "Channel 4");
  EXPECT_EQ(dialog.windowTitle(), "Video Pane / Channel Layout");

  dialog.CustomButton()->click();
  EXPECT_TRUE(dialog.CustomButton()->isChecked());
  EXPECT_FALSE(dialog.VerticalButton()->isChecked());
  EXPECT_FALSE(dialog.PaneCombo(0)->isEnabled()) << "the first list keeps its state";
  for (int pane = 1; pane < 4; ++pane) EXPECT_TRUE(dialog.PaneCombo(pane)->isEnabled()) << pane;
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(PaneLayoutTest, OtherMapsOpenAsCustomAndAPresetAppliesAllFourPanes) {
  doc_test::TDocumentWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
  const std::int32_t map[4] = {1, 0, 2, 3};
  std::copy(std::begin(map), std::end(map), doc.m_nPaneChannel);
  CVideoPortPaneLayout dialog(w.frame);
  dialog.OnInitDialog();
  EXPECT_TRUE(dialog.CustomButton()->isChecked());
  EXPECT_EQ(dialog.LayoutState(), CVideoPortPaneLayout::LAYOUT_CUSTOM);
  for (int pane = 0; pane < 4; ++pane) EXPECT_TRUE(dialog.PaneCombo(pane)->isEnabled()) << pane;
  EXPECT_EQ(dialog.PaneCombo(0)->currentIndex(), 1);

  // The horizontal preset also puts channel 1 back into the first pane.
  dialog.HorizontalButton()->click();
  for (int pane = 1; pane < 4; ++pane) EXPECT_FALSE(dialog.PaneCombo(pane)->isEnabled()) << pane;
  EXPECT_TRUE(dialog.PaneCombo(0)->isEnabled());
  dialog.ApplyButton()->click();
  EXPECT_EQ(MapOf(doc), (std::array<std::int32_t, 4>{0, 1, 2, 3}));

  // A custom map with a channel twice is taken as it is.
  dialog.CustomButton()->click();
  dialog.PaneCombo(3)->setCurrentIndex(0);
  EXPECT_TRUE(dialog.OnApply());
  EXPECT_EQ(MapOf(doc), (std::array<std::int32_t, 4>{0, 1, 2, 0}));
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(PaneLayoutTest, AnOwnerThatDoesNotAnswerIsReportedAndOkStillCloses) {
  QWidget owner;
  CVideoPortPaneLayout dialog(&owner);
  dialog.OnInitDialog();
  EXPECT_EQ(sink.Texts(),
            (std::vector<std::string>{
                "Configuration data for video panes are not available.\n\nDefault layout is used."}));
  EXPECT_EQ(dialog.SelectedChannels(), (std::array<std::int32_t, 4>{0, 1, 2, 3}));
  EXPECT_FALSE(dialog.HorizontalButton()->isChecked() || dialog.VerticalButton()->isChecked() ||
               dialog.CustomButton()->isChecked());
  for (int pane = 0; pane < 4; ++pane) EXPECT_TRUE(dialog.PaneCombo(pane)->isEnabled()) << pane;
  sink.Clear();
  EXPECT_FALSE(dialog.OnApply());
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(sink.Texts(),
            (std::vector<std::string>{"Configuration data for video pane/channel layout can not be set",
                                      "Configuration data for video pane/channel layout can not be set"}));
}

TEST_F(PaneLayoutTest, TheLayoutCommandRunsTheDialogAndRescalesThePanesWhoseChannelChanged) {
  doc_test::TRecordingMainWindow main;
  doc_test::TDocumentWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
  doc_test::TPicture small = doc_test::MakeSolid(100, 50, 0xFF0000);
  doc_test::TPicture large = doc_test::MakeSolid(300, 200, 0x00FF00);
  doc_test::LoadPicture(doc, 0, small);
  doc_test::LoadPicture(doc, 2, large);
  ASSERT_TRUE(doc.SetZoomMode(ZOOM_200));
  EXPECT_EQ(w.Pane(2).ScrollRange(), QSize(600, 400));
  main.notices.clear();

  // The dialog as the user sees it: "Vertical layount", then OK.
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<CVideoPortPaneLayout*>(QApplication::activeModalWidget());
    if (!dialog) return;
    dialog->VerticalButton()->click();
    dialog->accept();
  });
  ASSERT_TRUE(
      w.frame->FrameTarget()->OnCmdMsg(ZarnCommands::ID_VIEW_PANE_LAYOUT, pq::TCmdCode::Command, nullptr));
  EXPECT_EQ(MapOf(doc), (std::array<std::int32_t, 4>{0, 2, 1, 3}));
  EXPECT_EQ(w.Pane(1).ScrollRange(), QSize(600, 400)) << "pane 1 shows channel 3 now";
  EXPECT_EQ(w.Pane(2).ScrollRange(), QSize(0, 0)) << "pane 2 shows the empty channel 2";
  EXPECT_EQ(w.Pane(0).ScrollRange(), QSize(200, 100));
  EXPECT_EQ(main.notices, (std::vector<std::pair<int, int>>{{7, int(ZarnCommands::ID_VIEW_PANE_LAYOUT)}}));

  // Cancel changes nothing and tells nobody.
  main.notices.clear();
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<CVideoPortPaneLayout*>(QApplication::activeModalWidget());
    if (!dialog) return;
    dialog->HorizontalButton()->click();
    dialog->reject();
  });
  ASSERT_TRUE(
      w.frame->FrameTarget()->OnCmdMsg(ZarnCommands::ID_VIEW_PANE_LAYOUT, pq::TCmdCode::Command, nullptr));
  EXPECT_EQ(MapOf(doc), (std::array<std::int32_t, 4>{0, 2, 1, 3}));
  EXPECT_TRUE(main.notices.empty());
}
