#include "options/opts_video_pane.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "options/channel_radios.h"
#include "options/zarn_options.h"
#include "tests/options/layout_check.h"
#include "tests/options/options_test_support.h"
#include "tests/support/message_fixture.h"

using namespace OptsVideoPane;
using namespace ZarnTypes;
using tovrin_test::TTestOwner;

TEST(VideoPanePositions, ModesMapToSliderPositionsAndBack) {
  struct Case {
    std::int32_t view, play;
    int viewPos, playPos;
  };
  const Case cases[] = {
      {3, 3, 0, 0},
      {3, 4, 0, 1},
      {4, 3, 1, 0},
      {4, 4, 1, 1},
      // a "Play" mode that is neither fast nor smooth follows the "View" slider
      {4, 7, 1, 1},
      {3, 7, 0, 0},
      {4, 0, 1, 1},
      {9, -1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.view) + "/" + std::to_string(c.play));
    const int view = ViewPosition(c.view);
    EXPECT_EQ(view, c.viewPos);
    EXPECT_EQ(PlayPosition(c.play, view), c.playPos);
  }
  EXPECT_EQ(ModeOfPosition(0), kStretchFast);
  EXPECT_EQ(ModeOfPosition(1), kStretchSmooth);
}

class VideoPanePage : public tovrin_test::TRecordedMessagesTest {
 protected:
  TTestOwner<TVideoPaneExchange> owner{platform::qt::WM_APP_OPTS_CATEGORY};
  std::string name = "clip.yuv";
  void SetUp() override {
    owner.values.identifier = &name;
    const std::int32_t view[4] = {3, 4, 4, 3}, play[4] = {3, 7, 4, 4};
    for (int ch = 0; ch < 4; ++ch) {
      TVideoPaneChannel& r = owner.values.channels[ch];
      r.fastStretch = ch % 2 == 0 ? 1 : 0;
      r.viewMode = view[ch];
      r.playMode = play[ch];
      for (int i = 0; i < 16; ++i) r.documentValues[i] = static_cast<std::uint8_t>(0xA0 + 16 * ch + i);
    }
  }
  void ExpectDocumentBytesKept(const TVideoPaneExchange& w) {
    for (int ch = 0; ch < 4; ++ch)
      EXPECT_EQ(std::memcmp(w.channels[ch].documentValues, owner.values.channels[ch].documentValues, 16), 0)
          << "channel " << ch;
  }
};

TEST_F(VideoPanePage, EditsOfEachChannelAreKeptAcrossSwitchesAndWrittenOnOk) {
  COptsVideoPane page;
  page.SetOwner(&owner);
  page.Initialize();
  ASSERT_TRUE(page.InitResult());
  EXPECT_EQ(owner.wParams, (std::vector<platform::qt::WPARAM>{OPTTOPIC_VIDEO_PANE}));
  EXPECT_EQ(page.DocumentLabel()->text().toStdString(), "Media document: clip.yuv");
  EXPECT_TRUE(page.ChannelRadios()->Radio(0)->isChecked());
  EXPECT_TRUE(page.FastStretchBox()->isChecked());
  EXPECT_EQ(page.ViewSlider()->value(), 0);
  EXPECT_EQ(page.PlaySlider()->value(), 0);

  // channel 1 edited, then channel 2 (its "Play" 7 shows at the "View" slider)
  page.FastStretchBox()->setChecked(false);
  page.ViewSlider()->setValue(1);
  page.ChannelRadios()->Select(1);
  EXPECT_EQ(page.CurrentChannel(), 1);
  EXPECT_FALSE(page.FastStretchBox()->isChecked());
  EXPECT_EQ(page.ViewSlider()->value(), 1);
  EXPECT_EQ(page.PlaySlider()->value(), 1);
  page.FastStretchBox()->setChecked(true);
  page.PlaySlider()->setValue(0);
  page.ChannelRadios()->Select(0);  // back to channel 1: its edits are there
  EXPECT_FALSE(page.FastStretchBox()->isChecked());
  EXPECT_EQ(page.ViewSlider()->value(), 1);
  EXPECT_EQ(page.PlaySlider()->value(), 0);
  page.ChannelRadios()->Select(1);
  EXPECT_TRUE(page.FastStretchBox()->isChecked());
  EXPECT_EQ(page.PlaySlider()->value(), 0);
  page.OnOK();

  ASSERT_EQ(owner.written.size(), 1u);
  const TVideoPaneExchange& w = owner.written[0];
  struct Want {
    std::uint8_t fast;
    std::int32_t view, play;
  };
  const Want want[4] = {{0, 4, 3}, {1, 4, 3}, {1, 4, 4}, {0, 3, 4}};
  for (int ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE(ch);
    EXPECT_EQ(w.channels[ch].fastStretch, want[ch].fast);
    EXPECT_EQ(w.channels[ch].viewMode, want[ch].view);
    EXPECT_EQ(w.channels[ch].playMode, want[ch].play);
  }
  ExpectDocumentBytesKept(w);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(VideoPanePage, AModeNeitherFastNorSmoothIsStoredAsOneOfThem) {
  owner.values.channels[0].viewMode = 0;
  owner.values.channels[0].playMode = 7;
  owner.values.channels[1].viewMode = 4;
  owner.values.channels[1].playMode = 7;
  COptsVideoPane page;
  page.SetOwner(&owner);
  page.Initialize();
  page.OnOK();  // channel 2 never shown: its record goes back as read
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].channels[0].viewMode, 3);
  EXPECT_EQ(owner.written[0].channels[0].playMode, 3);
  EXPECT_EQ(owner.written[0].channels[1].playMode, 7);

  COptsVideoPane again;
  again.SetOwner(&owner);
  again.Initialize();
  again.ChannelRadios()->Select(1);
  again.OnOK();
  ASSERT_EQ(owner.written.size(), 2u);
  EXPECT_EQ(owner.written[1].channels[1].viewMode, 4);
  EXPECT_EQ(owner.written[1].channels[1].playMode, 4);
}

TEST_F(VideoPanePage, ReadOnlyPageIsDisabledAndWritesBackWhatItRead) {
  COptsVideoPane page;
  page.SetOwner(&owner);
  page.SetReadOnly(true);
  page.Initialize();
  EXPECT_FALSE(page.isEnabled());
  page.OnOK();
  ASSERT_EQ(owner.written.size(), 1u);
  for (int ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE(ch);
    EXPECT_EQ(owner.written[0].channels[ch].fastStretch, owner.values.channels[ch].fastStretch);
    EXPECT_EQ(owner.written[0].channels[ch].viewMode, owner.values.channels[ch].viewMode);
  }
  EXPECT_EQ(owner.written[0].channels[0].playMode, 3);
  ExpectDocumentBytesKept(owner.written[0]);
}

TEST_F(VideoPanePage, SilentOwnerGetsTheReadAndWriteTexts) {
  owner.answer = false;
  {
    COptsVideoPane page;
    page.SetOwner(&owner);
    page.Initialize();
    EXPECT_FALSE(page.InitResult());
    page.OnOK();
  }
  ASSERT_EQ(sink.Texts().size(), 2u);
  EXPECT_EQ(sink.Texts()[0], "Configuration data for 'Video pane' option dialog are not available");
  EXPECT_EQ(sink.Texts()[1], "Configuration data for 'Video pane' options dialog can not be set");
  // a read that failed sends nothing on OK
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ}));

  // answered read, silent write: only the write text
  owner.answer = true;
  COptsVideoPane page;
  page.SetOwner(&owner);
  page.Initialize();
  owner.answer = false;
  page.OnOK();
  ASSERT_EQ(sink.Texts().size(), 3u);
  EXPECT_EQ(sink.Texts()[2], "Configuration data for 'Video pane' options dialog can not be set");
}

// Answers only the video pane's topic of the category message, as the
// document does; every other page of the "Options" sheet stays unanswered.
class TVideoPaneOwner : public QWidget {
 public:
  explicit TVideoPaneOwner(const TVideoPaneExchange& values) : m_values(values) {
    auto* map = new platform::qt::TMessageMap(this);
    map->On(platform::qt::WM_APP_OPTS_CATEGORY, [this](platform::qt::WPARAM w, platform::qt::LPARAM l) {
      if (w != OPTTOPIC_VIDEO_PANE) return platform::qt::LRESULT{0};
      auto* block = OptsBlockOf<TVideoPaneExchange>(l);
      if (block->header.op == OPTS_XCHG_READ) {
        const TOptsExchangeHeader head = block->header;
        *block = m_values;
        block->header = head;
      }
      block->header.answered = 1;
      return platform::qt::LRESULT{1};
    });
  }

 private:
  TVideoPaneExchange m_values;
};

TEST_F(VideoPanePage, OwnSheetAndOptionsSheetShowEveryTextWhole) {
  TVideoPaneOwner paneOwner(owner.values);
  for (TOptionsCategory category : {OPTCAT_VIDEO_PANE, OPTCAT_DOCUMENT}) {
    SCOPED_TRACE(static_cast<int>(category));
    auto sheet = std::make_unique<ZarnOptions::CZarnOptions>("Options", &paneOwner, category);
    int index = -1;
    for (std::size_t i = 0; i < sheet->Pages().size(); ++i)
      if (dynamic_cast<COptsVideoPane*>(sheet->Pages()[i])) index = static_cast<int>(i);
    ASSERT_GE(index, 0);
    if (category == OPTCAT_VIDEO_PANE) {
      EXPECT_EQ(sheet->Pages().size(), 1u);
    }
    auto* page = static_cast<COptsVideoPane*>(sheet->Pages()[static_cast<std::size_t>(index)]);
    EXPECT_EQ(page->Label().toStdString(), "Video Pane");
    sheet->show();
    sheet->resize(sheet->sizeHint());
    QApplication::processEvents();
    sheet->OnInitDialog();
    sheet->SetActivePage(index);
    QApplication::processEvents();
    ASSERT_TRUE(page->InitResult());
    EXPECT_EQ(tovrin_test::TextsThatDoNotFit(page), std::vector<std::string>{});
    EXPECT_GE(page->FastStretchBox()->width(), page->FastStretchBox()->sizeHint().width());
    // the scale label spans both sliders, which line up
    const QRect scale = page->ScaleLabel()->geometry();
    EXPECT_LE(scale.left(), page->ViewSlider()->geometry().left());
    EXPECT_GE(scale.right(), page->ViewSlider()->geometry().right());
    EXPECT_EQ(page->ViewSlider()->geometry().left(), page->PlaySlider()->geometry().left());
    EXPECT_EQ(page->ViewSlider()->geometry().width(), page->PlaySlider()->geometry().width());
  }
}
