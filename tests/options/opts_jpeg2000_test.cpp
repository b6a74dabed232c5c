#include "options/opts_jpeg2000.h"

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "options/zarn_options.h"
#include "tests/options/layout_check.h"
#include "tests/options/options_test_support.h"
#include "tests/support/message_fixture.h"

using namespace OptsJpeg2000;
using namespace ZarnTypes;
using tovrin_test::TTestOwner;

TEST(Jpeg2000Rules, CompressionAndFormat) {
  EXPECT_EQ(FormatOfCompression(1), 41);
  EXPECT_EQ(FormatOfCompression(2), 41);
  EXPECT_EQ(FormatOfCompression(3), 42);
  struct TCase {
    std::int32_t format, compression, shown;
  };
  const TCase cases[] = {{41, 1, 1}, {41, 2, 2}, {41, 3, 2}, {41, 0, 2}, {42, 1, 3},
                         {42, 3, 3}, {0, 1, 0},  {38, 2, 0}, {0, 0, 0}};
  for (const TCase& c : cases)
    EXPECT_EQ(CompressionShown(c.format, c.compression), c.shown) << c.format << " " << c.compression;
}

namespace {

class Jpeg2000PageTest : public tovrin_test::TPageSheetTest<TJpeg2000Exchange, COptsJpeg2000> {
 protected:
  Jpeg2000PageTest()
      : TPageSheetTest(platform::qt::WM_APP_OPTS_JPEG2000, OPTCAT_JPEG2000, OptsPage::PAGE_JPEG2000) {
    owner.values.format = 41;
    owner.values.reserved1 = 77;
    owner.values.colorSpace = 4;
    owner.values.bitDepth = 8;
    owner.values.reserved2 = -9;
    owner.values.paletteMethod = 3;
    owner.values.significantBits = 6;
    owner.values.compression = 2;
    owner.values.quality = 500;
  }
  static int CheckedDepth(const COptsJpeg2000* page) {
    for (int i = 0; i < 5; ++i)
      if (page->DepthButton(i)->isChecked()) return OptsPng::kDepths[static_cast<std::size_t>(i)];
    return 0;
  }
};

// The owner's part of the block: the 36 bytes from offset 8.
bool SameOwnerBytes(const TJpeg2000Exchange& a, const TJpeg2000Exchange& b) {
  return tovrin_test::SameOwnerBytes(a, b, 36);
}

}  // namespace

TEST_F(Jpeg2000PageTest, OpensOnTheOwnersSettingsAndSendsThemBackUntouched) {
  COptsJpeg2000* page = Open();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->Label(), "JPEG-2000");
  EXPECT_TRUE(page->SpaceButton(4)->isChecked());
  EXPECT_EQ(CheckedDepth(page), 8);
  EXPECT_TRUE(page->CompressionButton(2)->isChecked());
  EXPECT_EQ(page->QualitySlider()->value(), 500);
  EXPECT_EQ(page->QualitySlider()->maximum(), 1000);
  EXPECT_EQ(page->QualitySlider()->tickInterval(), 100);
  EXPECT_EQ(page->QualitySpin()->Edit()->text(), "500");
  for (std::int32_t s = 1; s <= 3; ++s) EXPECT_FALSE(page->SpaceButton(s)->isEnabled()) << s;
  EXPECT_FALSE(page->DepthButton(1)->isEnabled());
  EXPECT_TRUE(page->DepthButton(4)->isHidden());
  EXPECT_TRUE(page->PaletteGroup()->isHidden());
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_TRUE(SameOwnerBytes(owner.written[0], owner.values));
  EXPECT_EQ(owner.written[0].qualityMin, 1);
  EXPECT_EQ(owner.written[0].qualityMax, 1000);
  EXPECT_EQ(owner.written[0].significantBitsMin, 1);
  EXPECT_EQ(owner.written[0].significantBitsMax, 8);
}

TEST_F(Jpeg2000PageTest, CompressionButtonsSendTheirFormat) {
  struct TCase {
    std::int32_t format, compression;
    std::int32_t pick;  // 0: none
    std::int32_t sentFormat, sentCompression;
  };
  const TCase cases[] = {
      {41, 3, 0, 41, 2},  // JP2 with the JPC compression opens on "JP2 codec"
      {41, 1, 0, 41, 1}, {42, 3, 0, 42, 3}, {41, 2, 3, 42, 3}, {42, 3, 1, 41, 1},
      {42, 3, 2, 41, 2}, {0, 0, 0, 0, 0},  // a format the page does not know goes back as read
      {7, 3, 0, 7, 3},   {0, 0, 3, 42, 3},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.format << "/" << c.compression << " pick " << c.pick);
    owner.values.format = c.format;
    owner.values.compression = c.compression;
    COptsJpeg2000* page = Open();
    if (c.pick) page->CompressionButton(c.pick)->click();
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    EXPECT_EQ(owner.written[0].format, c.sentFormat);
    EXPECT_EQ(owner.written[0].compression, c.sentCompression);
  }
}

TEST_F(Jpeg2000PageTest, QualityIsClampedToThePagesOwnLimits) {
  const std::vector<std::pair<const char*, std::int32_t>> cases = {{"0", 1}, {"5000", 1000}, {"1000", 1000},
                                                                   {"1", 1}, {"250", 250},   {"", 500}};
  for (const auto& [typed, stored] : cases) {
    SCOPED_TRACE(typed);
    COptsJpeg2000* page = Open();
    page->QualitySpin()->Edit()->setText(QString::fromUtf8(typed));
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    EXPECT_EQ(owner.written[0].quality, stored);
  }
  // A quality of 0 read from the owner (limits never set) is stored as 1.
  owner.values.quality = 0;
  owner.values.qualityMax = 0;
  Open();
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].quality, 1);
}

TEST_F(Jpeg2000PageTest, SliderMovesUpdateTheEdit) {
  COptsJpeg2000* page = Open();
  page->QualitySlider()->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(page->QualitySpin()->Edit()->text(), "600");
  page->QualitySlider()->setValue(10);
  EXPECT_EQ(page->QualitySpin()->Edit()->text(), "600");
  page->QualitySpin()->Step(1);
  EXPECT_EQ(page->QualitySlider()->value(), 601);
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].quality, 601);
}

TEST_F(Jpeg2000PageTest, ColourSpaceAndDepthAsReadValidatedOrKept) {
  struct TCase {
    std::int32_t space, depth;
    std::int32_t shown, sent;
  };
  const TCase cases[] = {
      {4, 8, 8, 8},  {5, 16, 16, 16}, {4, 2, 8, 8}, {3, 4, 4, 4},
      {3, 16, 8, 8}, {1, 2, 2, 2},    {0, 4, 4, 4},  // unknown space: the depth is not validated
      {9, 0, 0, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.space << " " << c.depth);
    owner.values.colorSpace = c.space;
    owner.values.bitDepth = c.depth;
    COptsJpeg2000* page = Open();
    EXPECT_EQ(CheckedDepth(page), c.shown);
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    EXPECT_EQ(owner.written[0].colorSpace, c.space);
    EXPECT_EQ(owner.written[0].bitDepth, c.sent);
  }
}

TEST_F(Jpeg2000PageTest, SilentOwnerAndReadOnlySheet) {
  ExpectSilentOwnerReported("Configuration data for JPEG-2000 file are not available",
                            "Configuration data for JPEG-2000 file can not be set");
  ExpectReadOnlySendsNothing(true);  // stays enabled, but sends nothing
}

TEST_F(Jpeg2000PageTest, ShownSheetShowsEveryTextWhole) {
  owner.values.quality = 1000;
  auto* page = OpenShown();
  EXPECT_EQ(tovrin_test::TextsThatDoNotFit(sheet.get()), std::vector<std::string>{});
  QLineEdit* edit = page->QualitySpin()->Edit();
  EXPECT_GE(edit->width(), edit->fontMetrics().horizontalAdvance(QStringLiteral("1000")));
  QWidget* group = page->DepthButton(3)->parentWidget();
  EXPECT_LE(group->height(), group->sizeHint().height());
  sheet->hide();
}
