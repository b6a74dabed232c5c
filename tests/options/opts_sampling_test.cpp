// The "Save stream sampling method" page on a test owner: the method list
// per stream type, what each method shows, what OK stores (whole 64-bit
// sample numbers, nothing negative, only the shown channel's sampling),
// a channel the page cannot show, a silent owner, a read-only sheet and
// the layout.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "media/file_types.h"
#include "options/edit_numeric.h"
#include "options/opts_sampling.h"
#include "options/zarn_options.h"
#include "tests/options/layout_check.h"
#include "tests/options/options_test_support.h"
#include "tests/options/save_stream_channel_diff.h"

using namespace ZarnTypes;
using OptsSaveStreamSampling::COptsSaveStreamSampling;

namespace {

std::vector<std::string> ListTexts(const QComboBox* list) {
  std::vector<std::string> out;
  for (int i = 0; i < list->count(); ++i) out.push_back(list->itemText(i).toStdString());
  return out;
}

std::vector<int> ListData(const QComboBox* list) {
  std::vector<int> out;
  for (int i = 0; i < list->count(); ++i) out.push_back(list->itemData(i).toInt());
  return out;
}

// Chooses a method in the list as the user does (the list closes on it).
void ChooseMethod(COptsSaveStreamSampling* page, int method) {
  const int at = page->m_pMethod->findData(method);
  ASSERT_GE(at, 0) << "method " << method << " not offered";
  page->m_pMethod->setCurrentIndex(at);
  emit page->m_pMethod->activated(at);
}

// Whether an edit shows `text` whole in its field.
bool ShowsWhole(const QLineEdit* edit, const QString& text) {
  QStyleOptionFrame option;
  option.initFrom(edit);
  option.rect = edit->rect();
  option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
  const QRect field = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
  const QMargins m = edit->textMargins();
  return field.width() - m.left() - m.right() - 2 * 2 >= edit->fontMetrics().horizontalAdvance(text);
}

void Shoot(QWidget* w, const char* name) {
  if (const char* folder = std::getenv("TOVRIN_SHOT_DIR")) {
    EXPECT_TRUE(w->grab().save(QDir(QString::fromLocal8Bit(folder)).filePath(name), "PNG"));
  }
}

}  // namespace

class SamplingPage : public tovrin_test::TPageSheetTest<TSamplingExchange, COptsSaveStreamSampling> {
 protected:
  SamplingPage()
      : TPageSheetTest(platform::qt::WM_APP_OPTS_CATEGORY, OPTCAT_SAMPLING, OptsPage::PAGE_SAMPLING) {}
  void SetUp() override {
    for (int ch = 0; ch < 4; ++ch) owner.values.channels[ch] = tovrin_test::DistinctChannel(ch);
    // Channel 2 (index 1) records Windows Media video.
    owner.values.channel = 1;
    owner.values.channels[1].format = 10;
    owner.values.channels[1].streamType = 10;
  }
  TSaveStreamChannel& Shown() { return owner.values.channels[owner.values.channel]; }
  // The record the page wrote for the shown channel.
  const TSaveStreamChannel& Written() const { return owner.written.back().channels[owner.values.channel]; }
};

TEST_F(SamplingPage, TheListOffersTheMethodsOfTheStreamType) {
  struct Case {
    std::int32_t format;
    std::int32_t stored;
    std::vector<std::string> texts;
    std::vector<int> data;
    int selected;
  };
  const Case cases[] = {
      {10, 3, {" All samples", " Time interval", " Sample number interval"}, {1, 2, 3}, 2},
      {10, 2, {" All samples", " Time interval", " Sample number interval"}, {1, 2, 3}, 1},
      {9, 3, {" All samples", " Sample number interval"}, {1, 3}, 1},
      // A method the list does not hold selects its first entry.
      {9, 2, {" All samples", " Sample number interval"}, {1, 3}, 0},
      {33, 7, {" All samples", " Sample number interval"}, {1, 3}, 0},
      {0, 3, {}, {}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.format) + " " + std::to_string(c.stored));
    Shown().format = c.format;
    Shown().samplingMethod = c.stored;
    COptsSaveStreamSampling* page = Open();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(owner.wParams.back(), static_cast<platform::qt::WPARAM>(OPTTOPIC_SAMPLING));
    EXPECT_EQ(page->CurrentChannel(), 1);
    EXPECT_EQ(page->m_pChannel->text().toStdString(), "Channel: 2");
    EXPECT_EQ(ListTexts(page->m_pMethod), c.texts);
    EXPECT_EQ(ListData(page->m_pMethod), c.data);
    EXPECT_EQ(page->m_pMethod->currentIndex(), c.selected);
  }
  EXPECT_EQ(sheet->Page(OptsPage::PAGE_SAMPLING)->Label().toStdString(), "Save stream sampling method");
}

TEST_F(SamplingPage, EachMethodShowsItsLabelsModesAndValues) {
  Shown().timeStep = 0.25;
  Shown().timeBegin = 1.5;
  Shown().timeEnd = 12.0;
  Shown().sampleStep = 5;
  Shown().sampleBegin = 40;
  Shown().sampleEnd = 90;
  struct Case {
    std::int32_t method, format;
    std::vector<std::string> labels;  // empty: the six controls hidden
    std::int32_t mode;
    std::vector<std::string> texts;  // step, begin, end
    bool stepEnabled;
  };
  const Case cases[] = {
      {2,
       10,
       {"Interval, seconds", "Begin at, seconds", "End at, seconds"},
       CEditNumeric::MODE_REAL,
       {"0.250000", "1.50000", "12.0000"},
       true},
      {3,
       10,
       {"Interval, samples", "Begin at, samples", "End at, samples"},
       CEditNumeric::MODE_INTEGER,
       {"5", "40", "90"},
       true},
      // Off Windows Media video the step is 1 and fixed.
      {3,
       9,
       {"Interval, samples", "Begin at, samples", "End at, samples"},
       CEditNumeric::MODE_INTEGER,
       {"1", "40", "90"},
       false},
      {1, 10, {}, 0, {}, false},
      {7, 10, {}, 0, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.method) + " on " + std::to_string(c.format));
    Shown().format = c.format;
    Shown().samplingMethod = c.method;
    COptsSaveStreamSampling* page = Open();
    QLabel* const labels[] = {page->m_pIntervalLabel, page->m_pBeginLabel, page->m_pEndLabel};
    CEditNumeric* const edits[] = {page->m_pInterval, page->m_pBegin, page->m_pEnd};
    const bool shown = !c.labels.empty();
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(labels[i]->isHidden(), !shown) << i;
      EXPECT_EQ(edits[i]->isHidden(), !shown) << i;
      if (shown) {
        EXPECT_EQ(labels[i]->text().toStdString(), c.labels[static_cast<std::size_t>(i)]);
        EXPECT_EQ(edits[i]->text().toStdString(), c.texts[static_cast<std::size_t>(i)]);
        EXPECT_EQ(edits[i]->m_nMode, c.mode);
        EXPECT_TRUE(edits[i]->m_bTextComplete && edits[i]->m_bValueValid);
        EXPECT_TRUE(edits[i]->m_bMinEnabled);
      } else {
        EXPECT_TRUE(labels[i]->text().isEmpty());
      }
    }
    EXPECT_EQ(page->m_pInterval->isEnabled(), c.stepEnabled);
    EXPECT_TRUE(page->m_pBegin->isEnabled());
    EXPECT_FALSE(page->m_pHint->isHidden());
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    if (c.method == 3 && c.format != 10) {
      EXPECT_EQ(Written().sampleStep, 1) << "the fixed step is stored";
    }
  }
}

TEST_F(SamplingPage, OkStoresValidEntriesAndKeepsEveryOtherValue) {
  struct Case {
    std::int32_t method;
    const char* step;
    const char* begin;
    const char* end;
    // What is stored: a typed value, or the record's own where the entry
    // is refused.
    double timeStep, timeBegin, timeEnd;
    std::int64_t sampleStep, sampleBegin, sampleEnd;
  };
  const TSaveStreamChannel r = tovrin_test::DistinctChannel(1);
  const Case cases[] = {
      {2, "0.21", "0.41", "1.19", 0.21, 0.41, 1.19, r.sampleStep, r.sampleBegin, r.sampleEnd},
      {2, "-0.5", "", "1e", r.timeStep, r.timeBegin, r.timeEnd, r.sampleStep, r.sampleBegin, r.sampleEnd},
      {2, "0", "-", "3.", 0.0, r.timeBegin, 3.0, r.sampleStep, r.sampleBegin, r.sampleEnd},
      {3, "5", "10", "40", r.timeStep, r.timeBegin, r.timeEnd, 5, 10, 40},
      {3, "-5", "-1", "x", r.timeStep, r.timeBegin, r.timeEnd, r.sampleStep, r.sampleBegin, r.sampleEnd},
      {3, "2", "6000000000", "9223372036854775807", r.timeStep, r.timeBegin, r.timeEnd, 2, 6'000'000'000LL,
       9'223'372'036'854'775'807LL},
      {3, "1", "9223372036854775808", "0", r.timeStep, r.timeBegin, r.timeEnd, 1, r.sampleBegin, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.step) + " " + c.begin + " " + c.end);
    Shown().samplingMethod = c.method;
    COptsSaveStreamSampling* page = Open();
    page->m_pInterval->setText(c.step);
    page->m_pBegin->setText(c.begin);
    page->m_pEnd->setText(c.end);
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ, OPTS_XCHG_WRITE}));
    const TSaveStreamChannel& w = Written();
    EXPECT_EQ(w.samplingMethod, c.method);
    EXPECT_EQ(w.timeStep, c.timeStep);
    EXPECT_EQ(w.timeBegin, c.timeBegin);
    EXPECT_EQ(w.timeEnd, c.timeEnd);
    EXPECT_EQ(w.sampleStep, c.sampleStep);
    EXPECT_EQ(w.sampleBegin, c.sampleBegin);
    EXPECT_EQ(w.sampleEnd, c.sampleEnd);
  }
  // A negative entry shows as invalid.
  COptsSaveStreamSampling* page = Open();
  page->m_pBegin->setText("-3");
  EXPECT_EQ(page->m_pBegin->LastResult(), CEditNumeric::RESULT_INVALID);
}

TEST_F(SamplingPage, SampleNumbersBeyond32BitsSurviveAnUntouchedOk) {
  Shown().samplingMethod = 3;
  Shown().sampleBegin = 5'000'000'000LL;
  Shown().sampleEnd = 9'000'000'000LL;
  Shown().sampleStep = 4'294'967'297LL;
  COptsSaveStreamSampling* page = Open();
  EXPECT_EQ(page->m_pBegin->text().toStdString(), "5000000000");
  EXPECT_EQ(page->m_pEnd->text().toStdString(), "9000000000");
  EXPECT_EQ(page->m_pInterval->text().toStdString(), "4294967297");
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  // Every record comes back as it was read.
  for (int ch = 0; ch < 4; ++ch)
    EXPECT_EQ(tovrin_test::ChannelDiffs(owner.written[0].channels[ch], owner.values.channels[ch]),
              std::vector<std::string>{})
        << ch;
}

TEST_F(SamplingPage, OnlyTheShownChannelsSamplingChanges) {
  Shown().samplingMethod = 1;
  COptsSaveStreamSampling* page = Open();
  ChooseMethod(page, 2);
  EXPECT_FALSE(page->m_pBegin->isHidden());
  page->m_pBegin->setText("2.5");
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  const TSamplingExchange& w = owner.written[0];
  for (int ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE(ch);
    std::vector<std::string> want;
    if (ch == 1) want = {"samplingMethod", "timeBegin"};
    EXPECT_EQ(tovrin_test::ChannelDiffs(w.channels[ch], owner.values.channels[ch]), want);
  }
  EXPECT_EQ(w.channels[1].timeBegin, 2.5);
  EXPECT_EQ(w.channels[1].samplingMethod, 2);
}

TEST_F(SamplingPage, AllSamplesHidesTheControlsAndKeepsTheTimes) {
  Shown().samplingMethod = 2;
  COptsSaveStreamSampling* page = Open();
  page->m_pEnd->setText("99");
  ChooseMethod(page, 1);
  for (QWidget* w : std::vector<QWidget*>{page->m_pIntervalLabel, page->m_pInterval, page->m_pBeginLabel,
                                          page->m_pBegin, page->m_pEndLabel, page->m_pEnd})
    EXPECT_TRUE(w->isHidden()) << w->objectName().toStdString();
  EXPECT_FALSE(page->m_pInterval->isEnabled());
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(Written().samplingMethod, 1);
  EXPECT_EQ(Written().timeEnd, Shown().timeEnd);
  EXPECT_EQ(Written().timeBegin, Shown().timeBegin);
  EXPECT_EQ(Written().timeStep, Shown().timeStep);
}

TEST_F(SamplingPage, OkWithAnEmptyListKeepsTheMethod) {
  for (std::int32_t method : {1, 2, 3}) {
    SCOPED_TRACE(method);
    Shown().format = 0;
    Shown().samplingMethod = method;
    COptsSaveStreamSampling* page = Open();
    EXPECT_EQ(page->m_pMethod->count(), 0);
    // The value controls follow the stored method.
    EXPECT_EQ(page->m_pBegin->isHidden(), method == 1);
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    EXPECT_EQ(Written().samplingMethod, method);
  }
}

TEST_F(SamplingPage, AChannelOutsideTheFourEndsTheSheetWithCancel) {
  for (std::int32_t channel : {4, -1}) {
    SCOPED_TRACE(channel);
    owner.values.channel = channel;
    Open();
    EXPECT_EQ(sheet->result(), QDialog::Rejected);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(owner.ops, std::vector<std::int32_t>{OPTS_XCHG_READ});
  }
  // Run modally, the sheet ends by itself once its loop starts.
  owner.values.channel = 4;
  const tovrin_test::TModalGuard guard;
  EXPECT_FALSE(ZarnOptions::RunOptionsSheet(&owner, OPTCAT_SAMPLING));
  EXPECT_FALSE(guard.ranOut()) << "the sheet stayed open";
  EXPECT_EQ(owner.written.size(), 0u);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(SamplingPage, SilentOwnerAndAWriteAlsoFromAReadOnlySheet) {
  ExpectSilentOwnerReported("Configuration data about \"save stream sampling methods\" are not available.",
                            "Configuration data for \"save stream sampling methods\" cannot be set.");
  COptsSaveStreamSampling* page = Open(true);
  EXPECT_TRUE(page->ReadOnly());
  sheet->AcceptSheet();
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ, OPTS_XCHG_WRITE}));
  ASSERT_EQ(owner.written.size(), 1u);
  // An owner that takes no write hears of it.
  owner.answer = true;
  Open();
  owner.answer = false;
  sheet->AcceptSheet();
  EXPECT_EQ(sink.Texts(), std::vector<std::string>{
                              "Configuration data for \"save stream sampling methods\" cannot be set."});
}

// ---------------------------------------------------------------------------
// Layout: every text whole; the sample edits show 19 digits; all samples
// leaves no band under the list and its hint, also after a switch.

TEST_F(SamplingPage, LayoutOnAWindowsMediaChannel) {
  Shown().samplingMethod = 3;
  Shown().sampleBegin = 9'223'372'036'854'775'807LL;
  COptsSaveStreamSampling* page = OpenShown();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(tovrin_test::TextsThatDoNotFit(sheet.get()), std::vector<std::string>{});
  EXPECT_LE(sheet->frameGeometry().width(), 1280);
  for (CEditNumeric* edit : {page->m_pInterval, page->m_pBegin, page->m_pEnd})
    EXPECT_TRUE(ShowsWhole(edit, QStringLiteral("9223372036854775807"))) << edit->objectName().toStdString();
  Shoot(sheet.get(), "sampling_page_samples.png");

  // The band under the hint: no more than the layout's spacing.
  auto band = [&] {
    QApplication::processEvents();
    const int bottom = page->m_pHint->geometry().bottom() + 1;
    return page->height() - bottom - page->layout()->contentsMargins().bottom();
  };
  ChooseMethod(page, 1);
  EXPECT_LE(band(), page->layout()->spacing());
  EXPECT_EQ(tovrin_test::TextsThatDoNotFit(sheet.get()), std::vector<std::string>{});
  Shoot(sheet.get(), "sampling_page_all.png");
  ChooseMethod(page, 2);
  QApplication::processEvents();
  EXPECT_EQ(tovrin_test::TextsThatDoNotFit(sheet.get()), std::vector<std::string>{});
  EXPECT_LT(page->m_pEnd->geometry().bottom(), page->height()) << "the sheet grew for the edits";
  EXPECT_GE(page->m_pEnd->height(), page->m_pEnd->minimumSizeHint().height());
  EXPECT_GT(page->m_pInterval->geometry().top(), page->m_pHint->geometry().bottom());

  Shown().samplingMethod = 1;
  page = OpenShown();
  EXPECT_LE(band(), page->layout()->spacing());
}
