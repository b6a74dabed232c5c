#include "options/opts_jpeg.h"

#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "options/zarn_options.h"
#include "tests/options/layout_check.h"
#include "tests/options/options_test_support.h"
#include "tests/support/message_fixture.h"

using namespace OptsJpeg;
using namespace ZarnTypes;
using tovrin_test::TTestOwner;

namespace {

// Types a text into an edit one character at a time, as keys would.
void Type(QLineEdit* edit, const QString& text) {
  for (const QChar c : text) edit->insert(QString(c));
}

class JpegPageTest : public tovrin_test::TPageSheetTest<TJpegExchange, COptsJpeg> {
 protected:
  JpegPageTest() : TPageSheetTest(platform::qt::WM_APP_OPTS_JPEG, OPTCAT_JPEG, OptsPage::PAGE_JPEG) {
    owner.values.format = kFormatColor;
    owner.values.quality = 64;
  }
};

}  // namespace

TEST_F(JpegPageTest, OpensOnTheOwnersQualityAndFormatAndWritesItsLimits) {
  owner.values.qualityMin = 7;  // the owner's limits are not the page's
  owner.values.qualityMax = 9;
  COptsJpeg* page = Open();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->Label(), "JPEG");
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ}));
  EXPECT_EQ(page->QualitySlider()->value(), 64);
  EXPECT_EQ(page->QualitySlider()->minimum(), 1);
  EXPECT_EQ(page->QualitySlider()->maximum(), 100);
  EXPECT_EQ(page->QualitySlider()->tickInterval(), 10);
  EXPECT_EQ(page->QualitySpin()->Edit()->text(), "64");
  EXPECT_EQ(page->QualitySpin()->Minimum(), 1);
  EXPECT_EQ(page->QualitySpin()->Maximum(), 100);
  EXPECT_TRUE(page->ColorButton()->isChecked());
  EXPECT_FALSE(page->GrayButton()->isChecked());
  EXPECT_EQ(page->Block().qualityMin, 1);
  EXPECT_EQ(page->Block().qualityMax, 100);

  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].format, kFormatColor);
  EXPECT_EQ(owner.written[0].quality, 64);
  EXPECT_EQ(owner.written[0].qualityMin, 1);
  EXPECT_EQ(owner.written[0].qualityMax, 100);
  EXPECT_TRUE(sink.Texts().empty());
}

// Typed qualities are stored within 1..100; the edit takes every digit of
// them (a spin box of 1..100 would refuse the third digit of "250").
TEST_F(JpegPageTest, TypedQualityIsClampedWhenStored) {
  struct TCase {
    const char* typed;
    std::int32_t stored;
  };
  const TCase cases[] = {{"0", 1},   {"250", 100},         {"100", 100}, {"1", 1},
                         {"37", 37}, {"99999999999", 100}, {"", 64}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.typed);
    owner.written.clear();
    COptsJpeg* page = Open();
    QLineEdit* edit = page->QualitySpin()->Edit();
    edit->clear();
    Type(edit, QString::fromUtf8(c.typed));
    EXPECT_EQ(edit->text(), QString::fromUtf8(c.typed));
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    EXPECT_EQ(owner.written[0].quality, c.stored);
  }
}

TEST_F(JpegPageTest, EditTakesDigitsOnly) {
  COptsJpeg* page = Open();
  QLineEdit* edit = page->QualitySpin()->Edit();
  edit->clear();
  Type(edit, QStringLiteral("-4a5.x"));
  EXPECT_EQ(edit->text(), "45");
}

// An out-of-range quality from the owner opens the slider at its end and is
// stored clamped.
TEST_F(JpegPageTest, OwnersQualityOutsideTheRangeIsStoredClamped) {
  for (const auto& [read, stored] :
       std::vector<std::pair<std::int32_t, std::int32_t>>{{0, 1}, {250, 100}, {-5, 1}}) {
    SCOPED_TRACE(read);
    owner.values.quality = read;
    owner.written.clear();
    COptsJpeg* page = Open();
    EXPECT_EQ(page->QualitySlider()->value(), stored);
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    EXPECT_EQ(owner.written[0].quality, stored);
  }
}

TEST_F(JpegPageTest, ColourButtonsChooseTheFormatAndAnUnknownFormatGoesBackAsRead) {
  struct TCase {
    std::int32_t read;
    bool color, gray;  // checked at opening
    int pick;          // 0 none, 1 Color, 2 Grayscale
    std::int32_t sent;
  };
  const TCase cases[] = {
      {38, true, false, 0, 38}, {39, false, true, 0, 39}, {38, true, false, 2, 39}, {39, false, true, 1, 38},
      {0, false, false, 0, 0},  {7, false, false, 0, 7},  {0, false, false, 1, 38}, {0, false, false, 2, 39},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.read << " pick " << c.pick);
    owner.values.format = c.read;
    owner.written.clear();
    COptsJpeg* page = Open();
    EXPECT_EQ(page->ColorButton()->isChecked(), c.color);
    EXPECT_EQ(page->GrayButton()->isChecked(), c.gray);
    if (c.pick == 1) page->ColorButton()->click();
    if (c.pick == 2) page->GrayButton()->click();
    if (c.pick != 0) {
      EXPECT_NE(page->ColorButton()->isChecked(), page->GrayButton()->isChecked());
    }
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    EXPECT_EQ(owner.written[0].format, c.sent);
  }
}

// The user's slider moves update the edit; positions the page sets do not.
// The arrows step the edit within the range and move the slider.
TEST_F(JpegPageTest, SliderAndArrowsFollowEachOther) {
  COptsJpeg* page = Open();
  QSlider* slider = page->QualitySlider();
  QLineEdit* edit = page->QualitySpin()->Edit();

  slider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(edit->text(), "65");
  slider->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(edit->text(), "55");
  slider->setSliderDown(true);
  slider->setSliderPosition(80);  // a drag
  EXPECT_EQ(edit->text(), "80");
  slider->setSliderDown(false);
  EXPECT_EQ(slider->value(), 80);

  slider->setValue(30);  // not a user move
  EXPECT_EQ(edit->text(), "80");

  page->QualitySpin()->UpButton()->click();
  EXPECT_EQ(edit->text(), "81");
  EXPECT_EQ(slider->value(), 81);
  edit->setText("100");
  page->QualitySpin()->UpButton()->click();
  EXPECT_EQ(edit->text(), "100");
  EXPECT_EQ(slider->value(), 100);
  edit->setText("250");  // typed past the end: the arrow steps from the end
  page->QualitySpin()->DownButton()->click();
  EXPECT_EQ(edit->text(), "99");
  edit->setText("0");
  page->QualitySpin()->DownButton()->click();
  EXPECT_EQ(edit->text(), "1");
  EXPECT_EQ(slider->value(), 1);

  edit->setText("42");
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].quality, 42);
}

TEST_F(JpegPageTest, SilentOwnerGetsTheTextsAndNothingIsWritten) {
  ExpectSilentOwnerReported("Configuration data for Jpeg file are not available",
                            "Configuration data for Jpeg file can not be set");
}

TEST_F(JpegPageTest, OwnerThatRefusesTheWriteGetsTheText) {
  Open();
  owner.answer = false;
  sheet->AcceptSheet();
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ, OPTS_XCHG_WRITE}));
  EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"Configuration data for Jpeg file can not be set"}));
}

TEST_F(JpegPageTest, ReadOnlyPageIsDisabledAndSendsNoWrite) { ExpectReadOnlySendsNothing(false); }

TEST_F(JpegPageTest, CancelSendsNothing) {
  COptsJpeg* page = Open();
  page->GrayButton()->click();
  sheet->reject();
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ}));
}

TEST_F(JpegPageTest, ShownSheetShowsEveryTextWhole) {
  owner.values.quality = 100;
  auto* page = OpenShown();
  EXPECT_EQ(tovrin_test::TextsThatDoNotFit(sheet.get()), std::vector<std::string>{});
  QLineEdit* edit = page->QualitySpin()->Edit();
  EXPECT_GE(edit->width(), edit->fontMetrics().horizontalAdvance(QStringLiteral("1000")));
  sheet->hide();
}
