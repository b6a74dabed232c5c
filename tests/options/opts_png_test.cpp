#include "options/opts_png.h"

#include <QApplication>
#include <QCheckBox>
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

using namespace OptsPng;
using namespace ZarnTypes;
using tovrin_test::TTestOwner;

namespace {

TBitDepthState WithSpace(int space /* 1..5, 0 none */, std::int32_t depth) {
  TBitDepthState s;
  if (space >= 1) s.space[static_cast<std::size_t>(space - 1)] = true;
  const int i = DepthIndex(depth);
  if (i >= 0) s.depth[static_cast<std::size_t>(i)] = true;
  return s;
}

}  // namespace

// Every colour space (and none) against every depth, with and without
// checking the "8 bits" button.
TEST(BitDepthRule, ValidateBitDepthAllowsTheDepthsOfEachColourSpace) {
  const std::vector<std::vector<std::int32_t>> allowed = {
      {},                // no colour space checked
      {1, 2, 4, 8, 16},  // grey
      {8, 16},           // grey + alpha
      {1, 2, 4, 8},      // palette
      {8, 16},           // RGB
      {8, 16},           // RGB + alpha
  };
  for (int space = 0; space <= 5; ++space) {
    for (std::int32_t depth : {1, 2, 4, 8, 16, 0, 3, 32}) {
      SCOPED_TRACE(testing::Message() << "space " << space << " depth " << depth);
      const auto& ok = allowed[static_cast<std::size_t>(space)];
      const bool isAllowed = std::find(ok.begin(), ok.end(), depth) != ok.end();
      for (bool check : {false, true}) {
        TBitDepthState s = WithSpace(space, depth);
        const TBitDepthState before = s;
        EXPECT_EQ(ValidateBitDepth(s, depth, check), isAllowed ? depth : 8);
        if (isAllowed || !check) {
          EXPECT_EQ(s.depth, before.depth);
        } else {
          EXPECT_EQ(s.depth, (std::array<bool, 5>{false, false, false, true, false}));
        }
        EXPECT_EQ(s.space, before.space);
        EXPECT_EQ(s.depthEnabled, before.depthEnabled);
      }
    }
  }
}

TEST(BitDepthRule, EnableBitDepthsByColourSpace) {
  using E = std::array<bool, 5>;
  const E allOn{true, true, true, true, true}, allOff{false, false, false, false, false};
  struct TCase {
    std::int32_t space;
    E fromOn, fromOff;
  };
  const TCase cases[] = {
      {1, allOn, allOn},
      {2, {false, false, false, true, true}, {false, false, false, true, true}},
      {3, {true, true, true, true, false}, {true, false, true, true, false}},  // "2 bits" left as it was
      {4, {false, false, false, true, true}, {false, false, false, true, true}},
      {5, {false, false, false, true, true}, {false, false, false, true, true}},
      {0, allOn, allOff},
      {6, allOn, allOff},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.space);
    TBitDepthState on;
    on.depthEnabled = allOn;
    EnableBitDepths(on, c.space);
    EXPECT_EQ(on.depthEnabled, c.fromOn);
    TBitDepthState off;
    off.depthEnabled = allOff;
    EnableBitDepths(off, c.space);
    EXPECT_EQ(off.depthEnabled, c.fromOff);
  }
}

TEST(BitDepthRule, CheckedValuesFallBackToTheLastButton) {
  EXPECT_EQ(GetCheckedBitDepth(WithSpace(1, 4)), 4);
  EXPECT_EQ(GetCheckedBitDepth(WithSpace(1, 16)), 16);
  EXPECT_EQ(GetCheckedBitDepth(WithSpace(1, 0)), 16);
  EXPECT_EQ(GetCheckedColourSpace(WithSpace(3, 8)), 3);
  EXPECT_EQ(GetCheckedColourSpace(WithSpace(5, 8)), 5);
  EXPECT_EQ(GetCheckedColourSpace(WithSpace(0, 8)), 5);
}

namespace {

class PngPageTest : public tovrin_test::TPageSheetTest<TPngExchange, COptsPng> {
 protected:
  PngPageTest() : TPageSheetTest(platform::qt::WM_APP_OPTS_PNG, OPTCAT_PNG, OptsPage::PAGE_PNG) {
    owner.values.format = 37;
    owner.values.colorType = 5;
    owner.values.bitDepth = 8;
    owner.values.interlaced = 0;
    owner.values.compression = 6;
    owner.values.paletteMethod = 3;
    owner.values.significantBits = 6;
  }
  static int CheckedDepth(const COptsPng* page) {
    for (int i = 0; i < 5; ++i)
      if (page->DepthButton(i)->isChecked()) return kDepths[static_cast<std::size_t>(i)];
    return 0;
  }
};

// The owner's part of the block: the 28 bytes from offset 8.
bool SameOwnerBytes(const TPngExchange& a, const TPngExchange& b) {
  return tovrin_test::SameOwnerBytes(a, b, 28);
}

}  // namespace

TEST_F(PngPageTest, OpensOnTheOwnersSettingsWithItsOwnLimits) {
  owner.values.interlaced = 1;
  owner.values.compressionMax = 3;
  COptsPng* page = Open();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->Label(), "PNG");
  EXPECT_TRUE(page->ColorTypeButton(5)->isChecked());
  EXPECT_EQ(CheckedDepth(page), 8);
  EXPECT_TRUE(page->InterlacedBox()->isChecked());
  EXPECT_EQ(page->CompressionSpin()->Edit()->text(), "6");
  EXPECT_EQ(page->SignificantBitsSpin()->Edit()->text(), "6");
  EXPECT_TRUE(page->OctreeButton()->isChecked());
  EXPECT_FALSE(page->HalftoneButton()->isEnabled());
  EXPECT_TRUE(page->DepthButton(4)->isHidden());
  // RGB: 1, 2 and 4 bits are off.
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(page->DepthButton(i)->isEnabled()) << i;
  EXPECT_TRUE(page->DepthButton(3)->isEnabled());

  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  const TPngExchange& w = owner.written[0];
  EXPECT_TRUE(SameOwnerBytes(w, owner.values));
  EXPECT_EQ(w.compressionMin, 0);
  EXPECT_EQ(w.compressionMax, 9);
  EXPECT_EQ(w.significantBitsMin, 1);
  EXPECT_EQ(w.significantBitsMax, 8);
  EXPECT_TRUE(sink.Texts().empty());
}

// What a colour type and a depth read from the owner open as and send back.
TEST_F(PngPageTest, DepthReadIsValidatedForTheColourType) {
  struct TCase {
    std::int32_t type, depth;
    std::int32_t shown;  // checked depth button, 0 none
    std::int32_t sent;
  };
  const TCase cases[] = {
      {4, 16, 8, 8},    // palette with 16 bits becomes 8
      {5, 2, 8, 8},     // RGB with 2 bits becomes 8
      {2, 2, 2, 2},     // grey keeps any depth
      {2, 16, 16, 16},  // ... also 16, on the hidden button
      {2, 1, 1, 1},    {3, 16, 16, 16}, {6, 4, 8, 8},
      {4, 4, 4, 4},    {0, 16, 16, 16},  // an unknown type validates nothing
      {0, 7, 0, 7},    {9, 4, 4, 4},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " depth " << c.depth);
    owner.values.colorType = c.type;
    owner.values.bitDepth = c.depth;
    COptsPng* page = Open();
    EXPECT_EQ(CheckedDepth(page), c.shown);
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    EXPECT_EQ(owner.written[0].bitDepth, c.sent);
    EXPECT_EQ(owner.written[0].colorType, c.type);
  }
}

TEST_F(PngPageTest, UnknownColourTypeAcceptedUntouchedLeavesTheOwnersBytes) {
  for (std::int32_t type : {0, 1, 7, -3}) {
    SCOPED_TRACE(type);
    owner.values.colorType = type;
    COptsPng* page = Open();
    for (std::int32_t t = 2; t <= 6; ++t) EXPECT_FALSE(page->ColorTypeButton(t)->isChecked()) << t;
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    EXPECT_TRUE(SameOwnerBytes(owner.written[0], owner.values));
  }
}

TEST_F(PngPageTest, ChoosingAColourTypeValidatesAndEnablesTheDepths) {
  owner.values.colorType = 2;
  owner.values.bitDepth = 2;
  COptsPng* page = Open();
  EXPECT_EQ(CheckedDepth(page), 2);
  page->ColorTypeButton(4)->click();  // palette keeps 2 bits
  EXPECT_EQ(CheckedDepth(page), 2);
  EXPECT_TRUE(page->DepthButton(0)->isEnabled());
  EXPECT_FALSE(page->DepthButton(4)->isEnabled());
  page->ColorTypeButton(5)->click();  // RGB moves it to 8
  EXPECT_EQ(CheckedDepth(page), 8);
  EXPECT_FALSE(page->DepthButton(0)->isEnabled());
  EXPECT_FALSE(page->DepthButton(2)->isEnabled());
  EXPECT_TRUE(page->DepthButton(4)->isEnabled());
  page->ColorTypeButton(2)->click();  // grey enables every depth
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(page->DepthButton(i)->isEnabled()) << i;
  page->DepthButton(0)->click();
  page->ColorTypeButton(3)->click();  // grey + alpha: 1 bit becomes 8
  EXPECT_EQ(CheckedDepth(page), 8);
  page->InterlacedBox()->click();
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].colorType, 3);
  EXPECT_EQ(owner.written[0].bitDepth, 8);
  EXPECT_EQ(owner.written[0].interlaced, 1);
}

TEST_F(PngPageTest, PickingAColourTypeAfterAnUnknownOneChecksAnAllowedDepth) {
  owner.values.colorType = 0;
  owner.values.bitDepth = 0;
  COptsPng* page = Open();
  EXPECT_EQ(CheckedDepth(page), 0);
  page->ColorTypeButton(6)->click();
  EXPECT_EQ(CheckedDepth(page), 8);
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].colorType, 6);
  EXPECT_EQ(owner.written[0].bitDepth, 8);
}

TEST_F(PngPageTest, TypedNumbersAreClampedWhenStored) {
  struct TCase {
    const char *compression, *bits;
    std::int32_t storedCompression, storedBits;
  };
  const TCase cases[] = {
      {"12", "0", 9, 1}, {"0", "12", 0, 8}, {"9", "8", 9, 8}, {"", "", 6, 6}, {"4", "3", 4, 3}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.compression << " " << c.bits);
    COptsPng* page = Open();
    page->CompressionSpin()->Edit()->setText(QString::fromUtf8(c.compression));
    page->SignificantBitsSpin()->Edit()->setText(QString::fromUtf8(c.bits));
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    EXPECT_EQ(owner.written[0].compression, c.storedCompression);
    EXPECT_EQ(owner.written[0].significantBits, c.storedBits);
  }
}

TEST_F(PngPageTest, SilentOwnerReadOnlyAndRefusedWrite) {
  ExpectSilentOwnerReported("Configuration data for Png file are not available",
                            "Configuration data for Png file can not be set");
  ExpectReadOnlySendsNothing(false);
}

TEST_F(PngPageTest, ShownSheetShowsEveryTextWholeWithoutAGapForSixteenBits) {
  auto* page = OpenShown();
  EXPECT_EQ(tovrin_test::TextsThatDoNotFit(sheet.get()), std::vector<std::string>{});
  QRadioButton* wide = page->ColorTypeButton(3);
  EXPECT_GE(wide->width(), wide->sizeHint().width());
  // "8 bits" is the last visible button of its group: nothing follows it
  // but the group's margin.
  QWidget* group = page->DepthButton(3)->parentWidget();
  const int below = group->height() - page->DepthButton(3)->geometry().bottom();
  EXPECT_LT(below, page->DepthButton(3)->height());
  EXPECT_LE(group->height(), group->sizeHint().height());
  sheet->hide();
}
