#include "options/channel_selector.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/options/options_test_support.h"
#include "tests/support/message_fixture.h"

using namespace OptsNavigate;
using namespace ZarnTypes;
using tovrin_test::TTestOwner;

namespace {

using TOwner = TTestOwner<TNavigateExchange>;

// Channel records with every byte distinct, so a byte that moves or changes
// shows. Byte b of channel c holds 1 when (c + b) is even.
TNavigateExchange Chequered() {
  TNavigateExchange block;
  for (int c = 0; c < 4; ++c) {
    std::uint8_t* bytes = &block.channel[c].navigate;
    for (int b = 0; b < 5; ++b) bytes[b] = (c + b) % 2 == 0 ? 1 : 0;
  }
  return block;
}

std::vector<int> Bytes(const TNavigateExchange& block) {
  std::vector<int> v;
  for (const TNavigateChannel& c : block.channel)
    for (std::uint8_t b : {c.navigate, c.play, c.replay, c.spare, c.dvdNavigate}) v.push_back(b);
  return v;
}

}  // namespace

TEST(ChannelSelectorModes, EachModeHasItsCaptionPromptAndFirstRow) {
  struct TCase {
    std::int32_t mode;
    std::string caption, prompt, rowLabel;
    bool allRows, radio;
  };
  const TCase cases[] = {
      {30, "Media document status", "Enable operations for media document channels", "Navigate media sources",
       true, false},
      {31, "Navigate media source list", "Enable a navigation of the media sources in the list",
       "Navigate media sources", false, false},
      {32, "Play media stream", "Enable playing the media", "Play media stream", false, false},
      {33, "Replay video from the cache buffer", " Enable replaying the media", "Replay video from a buffer",
       false, false},
      {38, "Navigate DVD media source", " Enable navigation of DVD media source", "Navigate DVD media source",
       false, true},
  };
  for (const TCase& c : cases) {
    TNavigateModeTexts texts{};
    ASSERT_TRUE(NavigateModeTexts(c.mode, texts)) << c.mode;
    EXPECT_EQ(texts.caption, c.caption) << c.mode;
    EXPECT_EQ(texts.prompt, c.prompt) << c.mode;
    EXPECT_EQ(texts.rowLabel, c.rowLabel) << c.mode;
    EXPECT_EQ(texts.allRows, c.allRows) << c.mode;
    EXPECT_EQ(texts.radio, c.radio) << c.mode;
  }
  TNavigateModeTexts texts{};
  for (std::int32_t other : {0, 29, 34, 35, 36, 37, 39})
    EXPECT_FALSE(NavigateModeTexts(other, texts)) << other;
}

TEST(ChannelSelectorModes, StoringChangesOnlyTheBytesTheModeShows) {
  // Every box ticked: each mode sets exactly its own bytes to 1.
  TBoxes all{};
  for (auto& row : all) row.fill(true);
  const TNavigateExchange before = Chequered();
  struct TCase {
    std::int32_t mode;
    std::vector<int> changedBytes;  // byte indices within a channel record
  };
  const TCase cases[] = {{30, {0, 1, 2}}, {31, {0}}, {32, {1}}, {33, {2}}, {38, {4}}, {34, {}}};
  for (const TCase& c : cases) {
    TNavigateExchange block = before;
    StoreSelections(c.mode, all, block);
    const std::vector<int> was = Bytes(before), now = Bytes(block);
    for (int ch = 0; ch < 4; ++ch)
      for (int b = 0; b < 5; ++b) {
        const bool changed =
            std::find(c.changedBytes.begin(), c.changedBytes.end(), b) != c.changedBytes.end();
        EXPECT_EQ(now[ch * 5 + b], changed ? 1 : was[ch * 5 + b])
            << "mode " << c.mode << " ch " << ch << " byte " << b;
      }
  }
}

TEST(ChannelSelectorModes, ShowingPutsTheModesBytesIntoTheRows) {
  const TNavigateExchange block = Chequered();
  // Channel c's byte b is set when c + b is even.
  const TBoxes status = ShowSelections(30, block);
  EXPECT_EQ(status[0], (std::array<bool, 4>{true, false, true, false}));  // navigate
  EXPECT_EQ(status[1], (std::array<bool, 4>{false, true, false, true}));  // play
  EXPECT_EQ(status[2], (std::array<bool, 4>{true, false, true, false}));  // replay
  const TBoxes play = ShowSelections(32, block);
  EXPECT_EQ(play[0], (std::array<bool, 4>{false, true, false, true}));
  EXPECT_EQ(play[1], (std::array<bool, 4>{}));
  EXPECT_EQ(play[2], (std::array<bool, 4>{}));
  EXPECT_EQ(ShowSelections(38, block)[0], (std::array<bool, 4>{true, false, true, false}));
  EXPECT_EQ(ShowSelections(33, block)[0], (std::array<bool, 4>{true, false, true, false}));
}

class ChannelSelectorDialog : public tovrin_test::TRecordedMessagesTest {};

TEST_F(ChannelSelectorDialog, ReadsShowsAndWritesThePlaySelectionsOnly) {
  TOwner owner(platform::qt::WM_APP_OPTS_NAVIGATE);
  owner.values = Chequered();
  COptsNavigate dialog(&owner);
  dialog.SetMode(32);
  ASSERT_TRUE(dialog.OnInitDialog());
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Play media stream");
  EXPECT_EQ(dialog.Prompt()->text().toStdString(), "Enable playing the media");
  EXPECT_EQ(dialog.RowLabel(0)->text().toStdString(), "Play media stream");
  EXPECT_FALSE(dialog.RowLabel(1)->isVisibleTo(&dialog));
  EXPECT_FALSE(dialog.Box(2, 0)->isVisibleTo(&dialog));
  for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(dialog.Box(0, ch)->isChecked(), ch % 2 == 1) << ch;

  dialog.Box(0, 0)->setChecked(true);
  dialog.Box(0, 1)->setChecked(false);
  dialog.OnOK();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  const TNavigateExchange& w = owner.written[0];
  EXPECT_EQ(w.mode, 32);
  EXPECT_EQ(w.channel[0].play, 1);
  EXPECT_EQ(w.channel[1].play, 0);
  // Everything else goes back as read.
  TNavigateExchange expected = Chequered();
  expected.mode = 32;
  expected.channel[0].play = 1;
  expected.channel[1].play = 0;
  EXPECT_EQ(Bytes(w), Bytes(expected));
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ, OPTS_XCHG_WRITE}));
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(ChannelSelectorDialog, StatusShowsThreeRowsAndSendsTheDvdBytesBackAsRead) {
  TOwner owner(platform::qt::WM_APP_OPTS_NAVIGATE);
  owner.values = Chequered();
  COptsNavigate dialog(&owner);
  dialog.SetMode(30);
  ASSERT_TRUE(dialog.OnInitDialog());
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Media document status");
  for (int row = 0; row < 3; ++row) EXPECT_TRUE(dialog.RowLabel(row)->isVisibleTo(&dialog)) << row;
  for (int ch = 0; ch < 4; ++ch) dialog.Box(2, ch)->setChecked(true);
  dialog.OnOK();
  ASSERT_EQ(owner.written.size(), 1u);
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(owner.written[0].channel[ch].replay, 1);
    EXPECT_EQ(owner.written[0].channel[ch].dvdNavigate, Chequered().channel[ch].dvdNavigate);
  }
}

TEST_F(ChannelSelectorDialog, DvdModeLetsOneChannelBeChosen) {
  TOwner owner(platform::qt::WM_APP_OPTS_NAVIGATE);
  owner.values = TNavigateExchange{};
  owner.values.channel[0].dvdNavigate = 1;
  COptsNavigate dialog(&owner);
  dialog.SetMode(38);
  ASSERT_TRUE(dialog.OnInitDialog());
  ASSERT_NE(qobject_cast<QRadioButton*>(dialog.Box(0, 2)), nullptr);
  EXPECT_TRUE(dialog.Box(0, 0)->isChecked());
  dialog.Box(0, 2)->click();
  dialog.Box(0, 3)->click();
  int chosen = 0;
  for (int ch = 0; ch < 4; ++ch) chosen += dialog.Box(0, ch)->isChecked() ? 1 : 0;
  EXPECT_EQ(chosen, 1);
  dialog.OnOK();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].channel[0].dvdNavigate, 0);
  EXPECT_EQ(owner.written[0].channel[3].dvdNavigate, 1);
}

TEST_F(ChannelSelectorDialog, AnUnansweredReadOrWriteIsReportedAndTheDialogStaysOpen) {
  TOwner owner(platform::qt::WM_APP_OPTS_NAVIGATE);
  owner.answer = false;
  COptsNavigate dialog(&owner);
  dialog.SetMode(31);
  EXPECT_FALSE(dialog.OnInitDialog());
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0], "Configuration data are not available");
  for (int ch = 0; ch < 4; ++ch) EXPECT_FALSE(dialog.Box(0, ch)->isChecked());

  dialog.OnOK();
  ASSERT_EQ(sink.Texts().size(), 2u);
  EXPECT_EQ(sink.Texts()[1], "Configuration data can not be set");
  EXPECT_NE(dialog.result(), QDialog::Accepted);
}

TEST_F(ChannelSelectorDialog, CancelSendsNothingAndAnUnknownModeReadsNothing) {
  TOwner owner(platform::qt::WM_APP_OPTS_NAVIGATE);
  {
    COptsNavigate dialog(&owner);
    dialog.SetMode(33);
    QTimer::singleShot(0, &dialog, &QDialog::reject);
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
  }
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ}));
  COptsNavigate unknown(&owner);
  unknown.SetMode(35);
  EXPECT_FALSE(unknown.OnInitDialog());
  EXPECT_EQ(owner.ops.size(), 1u);
}

// A read the owner left unanswered gives the boxes nothing of the owner's:
// OK must not write them over its settings, even when the owner would now
// answer.
TEST_F(ChannelSelectorDialog, OkAfterAnUnansweredReadWritesNothing) {
  TOwner owner(platform::qt::WM_APP_OPTS_NAVIGATE);
  owner.answer = false;
  COptsNavigate dialog(&owner);
  dialog.SetMode(32);
  EXPECT_FALSE(dialog.OnInitDialog());
  owner.answer = true;
  dialog.Box(0, 1)->setChecked(true);
  dialog.OnOK();
  EXPECT_TRUE(owner.written.empty());
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ}));
  ASSERT_EQ(sink.Texts().size(), 2u);
  EXPECT_EQ(sink.Texts()[1], "Configuration data can not be set");
  EXPECT_NE(dialog.result(), QDialog::Accepted) << "the dialog stays open for Cancel";
}

// Modes that show one row left the room of the two hidden rows as an empty
// band above OK and Cancel.
TEST_F(ChannelSelectorDialog, EveryModeFitsItsRowsWithoutAnEmptyBand) {
  auto gapAboveOk = [](std::int32_t mode, int& height) {
    TOwner owner(platform::qt::WM_APP_OPTS_NAVIGATE);
    COptsNavigate dialog(&owner);
    dialog.SetMode(mode);
    EXPECT_TRUE(dialog.OnInitDialog());
    dialog.show();
    QApplication::processEvents();
    int lowest = 0;
    for (int row = 0; row < 3; ++row) {
      if (!dialog.RowLabel(row)->isVisible()) continue;
      lowest = std::max(lowest, dialog.RowLabel(row)->geometry().bottom());
      for (int ch = 0; ch < 4; ++ch) lowest = std::max(lowest, dialog.Box(row, ch)->geometry().bottom());
    }
    QAbstractButton* ok = nullptr;
    for (QAbstractButton* b : dialog.findChildren<QAbstractButton*>())
      if (b->text() == "OK") ok = b;
    EXPECT_NE(ok, nullptr);
    const int top = ok ? ok->mapTo(&dialog, QPoint(0, 0)).y() : 0;
    height = dialog.height();
    dialog.hide();
    return top - lowest;
  };
  int fullHeight = 0;
  const int fullGap = gapAboveOk(30, fullHeight);
  EXPECT_GT(fullGap, 0);
  for (std::int32_t mode : {31, 32, 33, 38}) {
    SCOPED_TRACE(mode);
    int height = 0;
    const int gap = gapAboveOk(mode, height);
    EXPECT_LE(std::abs(gap - fullGap), 2) << "the gap above OK is the one of the full dialog";
    EXPECT_LT(height, fullHeight) << "two rows fewer make a lower dialog";
  }
}
