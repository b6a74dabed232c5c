#include "options/opts_gif.h"

#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "options/zarn_options.h"
#include "tests/options/layout_check.h"
#include "tests/options/options_test_support.h"
#include "tests/support/message_fixture.h"

using namespace OptsGif;
using namespace ZarnTypes;
using tovrin_test::TTestOwner;

namespace {

class GifPageTest : public tovrin_test::TPageSheetTest<TGifExchange, COptsGif> {
 protected:
  GifPageTest() : TPageSheetTest(platform::qt::WM_APP_OPTS_GIF, OPTCAT_GIF, OptsPage::PAGE_GIF) {
    owner.values.format = 36;
    owner.values.reserved1 = 0x11111111;
    owner.values.reserved2 = -7;
    owner.values.colorSpace = 2;
    owner.values.bitDepth = 8;
    owner.values.reserved3 = 12345;
    owner.values.paletteMethod = 3;
    owner.values.significantBits = 6;
  }
};

// The owner's part of the block: the 32 bytes from offset 8.
bool SameOwnerBytes(const TGifExchange& a, const TGifExchange& b) {
  return tovrin_test::SameOwnerBytes(a, b, 32);
}

}  // namespace

TEST_F(GifPageTest, RgbEightBitsOpensCheckedAndOneBitSendsDepthOneOnly) {
  COptsGif* page = Open();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->Label(), "GIF");
  EXPECT_TRUE(page->RgbButton()->isChecked());
  EXPECT_TRUE(page->DepthButton(8)->isChecked());
  EXPECT_EQ(page->DepthButton(8)->text(), " 8-bit / 256-color with palette");
  EXPECT_TRUE(page->OctreeButton()->isChecked());
  EXPECT_FALSE(page->GrayButton()->isEnabled());
  EXPECT_FALSE(page->DepthButton(2)->isEnabled());
  EXPECT_FALSE(page->HalftoneButton()->isEnabled());
  EXPECT_EQ(page->SignificantBitsSpin()->Edit()->text(), "6");

  page->DepthButton(1)->click();
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  TGifExchange expected = owner.values;
  expected.bitDepth = 1;
  EXPECT_TRUE(SameOwnerBytes(owner.written[0], expected));  // reserved words, space, palette as read
  EXPECT_EQ(owner.written[0].significantBitsMin, 1);
  EXPECT_EQ(owner.written[0].significantBitsMax, 8);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(GifPageTest, ColourSpaceDepthAndPaletteAsReadAndSent) {
  struct TCase {
    std::int32_t space, depth, palette;
    bool rgb, gray, halftone;
    std::int32_t shownDepth;  // 0: no depth button checked
  };
  const TCase cases[] = {
      {1, 4, 1, false, true, true, 4},   {2, 1, 0, true, false, false, 1},   {2, 2, 1, true, false, true, 2},
      {0, 8, 2, false, false, false, 8}, {5, 16, 9, false, false, false, 0}, {2, 0, 1, true, false, true, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.space << " " << c.depth << " " << c.palette);
    owner.values.colorSpace = c.space;
    owner.values.bitDepth = c.depth;
    owner.values.paletteMethod = c.palette;
    COptsGif* page = Open();
    EXPECT_EQ(page->RgbButton()->isChecked(), c.rgb);
    EXPECT_EQ(page->GrayButton()->isChecked(), c.gray);
    EXPECT_EQ(page->HalftoneButton()->isChecked(), c.halftone);
    EXPECT_EQ(page->OctreeButton()->isChecked(), !c.halftone);
    for (std::int32_t d : kDepths) EXPECT_EQ(page->DepthButton(d)->isChecked(), d == c.shownDepth) << d;
    sheet->AcceptSheet();  // untouched: the owner's bytes come back as they were
    ASSERT_EQ(owner.written.size(), 1u);
    EXPECT_TRUE(SameOwnerBytes(owner.written[0], owner.values));
  }
}

TEST_F(GifPageTest, SignificantBitsAreClampedWhenStored) {
  const std::vector<std::pair<const char*, std::int32_t>> cases = {
      {"0", 1}, {"12", 8}, {"8", 8}, {"3", 3}, {"", 6}};
  for (const auto& [typed, stored] : cases) {
    SCOPED_TRACE(typed);
    COptsGif* page = Open();
    page->SignificantBitsSpin()->Edit()->setText(QString::fromUtf8(typed));
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    EXPECT_EQ(owner.written[0].significantBits, stored);
  }
}

TEST_F(GifPageTest, SilentOwnerReadOnlyAndRefusedWrite) {
  ExpectSilentOwnerReported("Configuration data for Gif file are not available",
                            "Configuration data for GIF file can not be set");
  ExpectReadOnlySendsNothing(false);
}

TEST_F(GifPageTest, ShownSheetShowsEveryTextWhole) {
  OpenShown();
  EXPECT_EQ(tovrin_test::TextsThatDoNotFit(sheet.get()), std::vector<std::string>{});
  sheet->hide();
}
