#include "options/opts_video.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <vector>

#include "options/opts_reference_frames.h"
#include "options/zarn_options.h"
#include "tests/options/options_test_support.h"
#include "tests/support/message_fixture.h"

using namespace OptsVideo;
using namespace OptsReferenceFrames;
using namespace ZarnTypes;
using tovrin_test::TTestOwner;

TEST(VideoPageRate, RateAndPeriodAreEachOthersTruncatedQuotient) {
  EXPECT_EQ(RateOfPeriod(33), 30);
  EXPECT_EQ(RateOfPeriod(40), 25);
  EXPECT_EQ(RateOfPeriod(1000), 1);
  EXPECT_EQ(RateOfPeriod(1001), 0);
  EXPECT_EQ(RateOfPeriod(0), 0);
  EXPECT_EQ(RateOfPeriod(-5), 0);
  EXPECT_EQ(PeriodOfRate(30), 33);
  EXPECT_EQ(PeriodOfRate(200), 5);
  EXPECT_EQ(PeriodOfRate(1), 1000);
  EXPECT_EQ(PeriodOfRate(0), 0);
}

class VideoPage : public tovrin_test::TRecordedMessagesTest {
 protected:
  TTestOwner<TVideoExchange> owner{platform::qt::WM_APP_OPTS_VIDEO};
  void SetUp() override {
    owner.values.period = 33;
    owner.values.syncMode = CHANNEL_SYNC_BY_FRAMES;
    owner.values.frameInfo = 1;
    owner.values.fileNameInfo = 0;
  }
};

TEST_F(VideoPage, ShowsTheOwnersPeriodAsARateAndWritesBackWhatTheTrackBarChose) {
  COptsVideo page;
  page.SetOwner(&owner);
  page.Initialize();
  ASSERT_TRUE(page.InitResult());
  EXPECT_EQ(page.RateEdit()->value(), 30);
  EXPECT_EQ(page.RateTrackBar()->value(), 30);
  EXPECT_EQ(page.PeriodEdit()->text().toStdString(), "33");
  EXPECT_TRUE(page.SyncButton(CHANNEL_SYNC_BY_FRAMES)->isChecked());
  EXPECT_FALSE(page.SyncButton(CHANNEL_SYNC_BY_TIME)->isEnabled());
  EXPECT_FALSE(page.SyncButton(CHANNEL_SYNC_NONE)->isEnabled());
  EXPECT_TRUE(page.FrameInfoBox()->isChecked());
  EXPECT_FALSE(page.FileNameInfoBox()->isEnabled());

  page.TrackTo(200);
  EXPECT_EQ(page.PeriodEdit()->text().toStdString(), "5");
  EXPECT_EQ(page.RateEdit()->value(), 200);
  page.TrackTo(1);
  EXPECT_EQ(page.PeriodEdit()->text().toStdString(), "1000");
  page.RateEdit()->setValue(25);  // the up-down or a typed rate
  EXPECT_EQ(page.PeriodEdit()->text().toStdString(), "40");
  EXPECT_EQ(page.RateTrackBar()->value(), 25);
  page.FrameInfoBox()->setChecked(false);
  page.OnOK();

  ASSERT_EQ(owner.written.size(), 1u);
  const TVideoExchange& w = owner.written[0];
  EXPECT_EQ(w.frameRate, 25);
  EXPECT_EQ(w.period, 40);
  EXPECT_EQ(w.syncMode, CHANNEL_SYNC_BY_FRAMES);
  EXPECT_EQ(w.frameInfo, 0);
  EXPECT_EQ(w.fileNameInfo, 0);
  EXPECT_TRUE(sink.Texts().empty());
}

namespace {

void Key(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
         const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
  QApplication::sendEvent(target, &press);
  QApplication::sendEvent(target, &release);
}

void Type(QWidget* target, const std::string& digits) {
  Key(target, Qt::Key_A, Qt::ControlModifier);  // select what the box holds
  for (char c : digits) Key(target, Qt::Key_0 + (c - '0'), Qt::NoModifier, QString(QChar(c)));
}

}  // namespace

// The keys of the track bar and the rate box, each with the rate and the
// period the page then sends.
TEST_F(VideoPage, KeysOnTheTrackBarAndTypedRatesSetThePeriodThatIsSent) {
  struct TCase {
    const char* what;
    bool onTrackBar;
    int key;           // a key for the track bar
    std::string text;  // digits typed into the rate box
    int rate, period;
  };
  const TCase cases[] = {
      {"Home on the track bar", true, Qt::Key_Home, "", 1, 1000},
      {"End on the track bar", true, Qt::Key_End, "", 200, 5},
      {"Right arrow on the track bar", true, Qt::Key_Right, "", 31, 32},
      {"Page Up on the track bar", true, Qt::Key_PageUp, "", 40, 25},
      {"a rate typed into the box", false, 0, "50", 50, 20},
      {"a rate above the range typed into the box", false, 0, "500", 50, 20},
      {"a rate of 0 typed into the box", false, 0, "0", 30, 33},
  };
  for (const TCase& c : cases) {
    owner.written.clear();
    COptsVideo page;
    page.SetOwner(&owner);
    page.Initialize();
    ASSERT_EQ(page.Rate(), 30) << c.what;
    if (c.onTrackBar)
      Key(page.RateTrackBar(), c.key);
    else
      Type(page.RateEdit(), c.text);
    EXPECT_EQ(page.RateEdit()->value(), c.rate) << c.what;
    EXPECT_EQ(page.RateTrackBar()->value(), c.rate) << c.what;
    EXPECT_EQ(page.PeriodEdit()->text().toStdString(), std::to_string(c.period)) << c.what;
    page.OnOK();
    ASSERT_EQ(owner.written.size(), 1u) << c.what;
    EXPECT_EQ(owner.written[0].frameRate, c.rate) << c.what;
    EXPECT_EQ(owner.written[0].period, c.period) << c.what;
  }
}

TEST_F(VideoPage, ASyncModeOutsideTheListChecksNoButtonAndGoesBackUnchanged) {
  owner.values.syncMode = 7;
  COptsVideo page;
  page.SetOwner(&owner);
  page.Initialize();
  for (std::int32_t mode : {0, 1, 2}) EXPECT_FALSE(page.SyncButton(mode)->isChecked()) << mode;
  page.OnOK();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].syncMode, 7);
}

TEST_F(VideoPage, ReadOnlySendsNoWriteAndUnansweredExchangesAreReported) {
  {
    COptsVideo page;
    page.SetOwner(&owner);
    page.SetReadOnly(true);
    page.Initialize();
    EXPECT_FALSE(page.isEnabled());
    page.OnOK();
    EXPECT_TRUE(owner.written.empty());
    EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ}));
  }
  owner.answer = false;
  COptsVideo page;
  page.SetOwner(&owner);
  page.Initialize();
  EXPECT_FALSE(page.InitResult());
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0], "Configuration data for 'Video' operations are not available");
  page.OnOK();
  ASSERT_EQ(sink.Texts().size(), 2u);
  EXPECT_EQ(sink.Texts()[1], "Configuration data for 'Video' operations can not be set");
}

class ReferenceFramesPage : public tovrin_test::TRecordedMessagesTest {
 protected:
  TTestOwner<TReferenceFramesExchange> owner{platform::qt::WM_APP_OPTS_REFERENCE_FRAMES};
  void SetUp() override {
    const std::int32_t start[4] = {10, 20, 30, 40}, stop[4] = {110, 120, 130, 140};
    for (int ch = 0; ch < 4; ++ch) {
      owner.values.startFrame[ch] = start[ch];
      owner.values.stopFrame[ch] = stop[ch];
    }
  }
};

TEST_F(ReferenceFramesPage, EditsThePrimaryAndAssistantAndLeavesChannels3And4) {
  COptsReferenceFrames page;
  page.SetOwner(&owner);
  page.Initialize();
  ASSERT_TRUE(page.InitResult());
  EXPECT_EQ(page.Edit(IDC_PRIMARY_START)->text().toStdString(), "10");
  EXPECT_EQ(page.Edit(IDC_PRIMARY_STOP)->text().toStdString(), "110");
  EXPECT_EQ(page.Edit(IDC_ASSISTANT_START)->text().toStdString(), "20");
  EXPECT_EQ(page.Edit(IDC_ASSISTANT_STOP)->text().toStdString(), "120");
  page.Edit(IDC_PRIMARY_START)->setText("5");
  page.Edit(IDC_PRIMARY_STOP)->setText("15");
  page.Edit(IDC_ASSISTANT_START)->setText("6");
  page.Edit(IDC_ASSISTANT_STOP)->setText("16");
  page.OnOK();
  ASSERT_EQ(owner.written.size(), 1u);
  const TReferenceFramesExchange& w = owner.written[0];
  EXPECT_EQ((std::vector<std::int32_t>(w.startFrame, w.startFrame + 4)),
            (std::vector<std::int32_t>{5, 6, 30, 40}));
  EXPECT_EQ((std::vector<std::int32_t>(w.stopFrame, w.stopFrame + 4)),
            (std::vector<std::int32_t>{15, 16, 130, 140}));
}

TEST_F(ReferenceFramesPage, UnansweredExchangesShowThePagesOwnTexts) {
  owner.answer = false;
  COptsReferenceFrames page;
  page.SetOwner(&owner);
  page.Initialize();
  EXPECT_FALSE(page.InitResult());
  page.OnOK();
  ASSERT_EQ(sink.Texts().size(), 2u);
  EXPECT_EQ(sink.Texts()[0], "Configuration data for \"Set reference frames\" operation are not available");
  EXPECT_EQ(sink.Texts()[1], "Configuration data for \"Set reference frames\" operation  can not be set");
}

TEST(VideoAndReferenceFramesSheets, EachCategoryHoldsItsPage) {
  TTestOwner<TVideoExchange> owner(platform::qt::WM_APP_OPTS_VIDEO);
  {
    ZarnOptions::CZarnOptions sheet("Options", &owner, OPTCAT_REFERENCE_FRAMES);
    ASSERT_EQ(sheet.Pages().size(), 1u);
    EXPECT_NE(dynamic_cast<COptsReferenceFrames*>(sheet.Pages()[0]), nullptr);
    EXPECT_EQ(sheet.Pages()[0]->Label().toStdString(), "Reference frames");
  }
  ZarnOptions::CZarnOptions sheet("Options", &owner, OPTCAT_VIDEO);
  ASSERT_EQ(sheet.Pages().size(), 1u);
  EXPECT_NE(dynamic_cast<COptsVideo*>(sheet.Pages()[0]), nullptr);
  EXPECT_EQ(sheet.Pages()[0]->Label().toStdString(), "Video");
}
