#include "options/opts_tiff.h"

#include <QApplication>
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

using namespace OptsTiff;
using namespace ZarnTypes;
using tovrin_test::TTestOwner;

namespace {

TTiffState Make(int space, std::int32_t depth, std::int32_t comp) {
  TTiffState s;
  if (space >= 1 && space <= 5) s.space[static_cast<std::size_t>(space - 1)] = true;
  if (OptsPng::DepthIndex(depth) >= 0) s.depth[static_cast<std::size_t>(OptsPng::DepthIndex(depth))] = true;
  if (CompressionIndex(comp) >= 0) s.comp[static_cast<std::size_t>(CompressionIndex(comp))] = true;
  return s;
}

// What libtiff writes: fax and Huffman coding need one bit per sample, JPEG
// no palette.
bool LibtiffWrites(int space, std::int32_t depth, std::int32_t comp) {
  if ((comp == 7 || comp == 8 || comp == 9) && depth != 1) return false;
  if (comp == 4 && space == 3) return false;
  return true;
}

}  // namespace

TEST(TiffRules, GetCheckedCompressionFallsBackToFaxFour) {
  for (std::int32_t c : kCompressions) EXPECT_EQ(GetCheckedCompression(Make(4, 8, c)), c) << c;
  EXPECT_EQ(GetCheckedCompression(Make(4, 8, 1)), 9);
}

// Every colour space, depth and compression: after a handler the checked
// compression is one libtiff writes with the checked depth and space, and
// no checked button is disabled.
TEST(TiffRules, HandlersLeaveOnlyWhatLibtiffWrites) {
  int combos = 0;
  for (int space : {3, 4, 5}) {
    for (std::int32_t depth : OptsPng::kDepths) {
      for (std::int32_t comp : kCompressions) {
        if (comp == 5) continue;  // never offered
        SCOPED_TRACE(testing::Message() << "space " << space << " depth " << depth << " comp " << comp);
        TTiffState s = Make(space, depth, comp);
        if (space == 3)
          OnColorPalette(s);
        else
          OnRgb(s);
        OnBitDepth(s);
        const std::int32_t d = OptsPng::GetCheckedBitDepth(s);
        const std::int32_t c = GetCheckedCompression(s);
        EXPECT_TRUE(LibtiffWrites(space, d, c)) << d << " " << c;
        EXPECT_TRUE(OptsPng::ValidateBitDepth(s, d, false) == d);
        const int ci = CompressionIndex(c);
        ASSERT_GE(ci, 0);
        EXPECT_TRUE(s.compEnabled[static_cast<std::size_t>(ci)]);
        EXPECT_TRUE(s.depthEnabled[static_cast<std::size_t>(OptsPng::DepthIndex(d))] || d == 2);
        // Nothing libtiff can write was changed.
        if (LibtiffWrites(space, depth, comp) && OptsPng::ValidateBitDepth(s, depth, false) == depth) {
          EXPECT_EQ(c, comp);
        }
        ++combos;
      }
    }
  }
  EXPECT_EQ(combos, 3 * 5 * 8);
}

TEST(TiffRules, ValidateAndEnableCompressions) {
  struct TCase {
    int space;
    std::int32_t depth, comp, result;
  };
  const TCase cases[] = {
      {3, 8, 4, 2}, {4, 8, 4, 4}, {4, 8, 9, 2}, {4, 1, 9, 9}, {3, 1, 8, 8}, {3, 8, 7, 2},
      {5, 8, 6, 6}, {3, 4, 3, 3}, {1, 1, 7, 7}, {1, 8, 7, 2}, {0, 8, 0, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.space << " " << c.depth << " " << c.comp);
    TTiffState s = Make(c.space, c.depth, c.comp);
    EXPECT_EQ(ValidateCompression(s, c.comp), c.result);
    EXPECT_EQ(GetCheckedCompression(s), c.result);
  }
  TTiffState s = Make(3, 1, 2);
  EnableCompressions(s, 3);
  EXPECT_FALSE(s.compEnabled[C_JPEG]);
  EXPECT_FALSE(s.compEnabled[C_JPEG2000]);
  EXPECT_TRUE(s.compEnabled[C_FAX4]);
  s = Make(4, 8, 2);
  EnableCompressions(s, 4);
  EXPECT_TRUE(s.compEnabled[C_JPEG]);
  EXPECT_FALSE(s.compEnabled[C_HUFFMAN]);
  EXPECT_FALSE(s.compEnabled[C_FAX3]);
  TTiffState before = Make(4, 8, 2);
  before.compEnabled.fill(false);
  TTiffState after = before;
  EnableCompressions(after, 7);
  EXPECT_EQ(after.compEnabled, before.compEnabled);
}

namespace {

class TiffPageTest : public tovrin_test::TPageSheetTest<TTiffExchange, COptsTiff> {
 protected:
  TiffPageTest() : TPageSheetTest(platform::qt::WM_APP_OPTS_TIFF, OPTCAT_TIFF, OptsPage::PAGE_TIFF) {
    owner.values.format = 44;
    owner.values.reserved1 = 5;
    owner.values.colorSpace = 4;
    owner.values.bitDepth = 8;
    owner.values.reserved2 = 99;
    owner.values.paletteMethod = 3;
    owner.values.significantBits = 6;
    owner.values.compression = 2;
    owner.values.quality = 80;
  }
  static std::int32_t CheckedCompression(const COptsTiff* page) {
    for (std::int32_t c : kCompressions)
      if (page->CompressionButton(c)->isChecked()) return c;
    return -1;
  }
};

bool SameOwnerBytes(const TTiffExchange& a, const TTiffExchange& b) {
  return tovrin_test::SameOwnerBytes(a, b, 36);
}

}  // namespace

TEST_F(TiffPageTest, OpensAndSendsBackUntouched) {
  COptsTiff* page = Open();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->Label(), "TIFF");
  EXPECT_TRUE(page->SpaceButton(4)->isChecked());
  EXPECT_TRUE(page->DepthButton(3)->isChecked());
  EXPECT_EQ(CheckedCompression(page), 2);
  EXPECT_TRUE(page->CompressionButton(5)->isHidden());
  EXPECT_TRUE(page->DepthButton(4)->isHidden());
  EXPECT_FALSE(page->SpaceButton(1)->isEnabled());
  EXPECT_FALSE(page->SpaceButton(2)->isEnabled());
  EXPECT_FALSE(page->CompressionButton(9)->isEnabled());
  EXPECT_EQ(page->QualitySlider()->value(), 80);
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_TRUE(SameOwnerBytes(owner.written[0], owner.values));
  EXPECT_EQ(owner.written[0].qualityMax, 100);
}

// Compression 1 (none in the writer, no button on the page) and a block of
// zeros: every group is set up and the owner's bytes come back as they were.
TEST_F(TiffPageTest, UnknownCompressionAndZeroBlockGoBackAsRead) {
  owner.values.compression = 1;
  COptsTiff* page = Open();
  EXPECT_EQ(CheckedCompression(page), -1);
  EXPECT_EQ(page->QualitySlider()->maximum(), 100);
  EXPECT_EQ(page->QualitySpin()->Edit()->text(), "80");
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_TRUE(SameOwnerBytes(owner.written[0], owner.values));

  owner.values = {};
  Open();
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].compression, 0);  // "None" as read, never Fax 4
  EXPECT_EQ(owner.written[0].quality, 1);
  EXPECT_EQ(owner.written[0].significantBits, 1);
  EXPECT_EQ(owner.written[0].colorSpace, 0);
  EXPECT_EQ(owner.written[0].bitDepth, 0);
}

TEST_F(TiffPageTest, HandlersKeepTheCompressionWritable) {
  // Palette while JPEG is checked: LZW.
  owner.values.compression = 4;
  COptsTiff* page = Open();
  page->SpaceButton(3)->click();
  EXPECT_EQ(CheckedCompression(page), 2);
  EXPECT_FALSE(page->CompressionButton(4)->isEnabled());
  // 1 bit with the palette enables fax and Huffman.
  page->DepthButton(0)->click();
  for (std::int32_t c : {7, 8, 9}) EXPECT_TRUE(page->CompressionButton(c)->isEnabled()) << c;
  page->CompressionButton(9)->click();
  // 8 bits while Fax 4 is checked: LZW, fax and Huffman off.
  page->DepthButton(3)->click();
  EXPECT_EQ(CheckedCompression(page), 2);
  for (std::int32_t c : {7, 8, 9}) EXPECT_FALSE(page->CompressionButton(c)->isEnabled()) << c;
  // RGB with 1 bit moves to 8 bits.
  page->DepthButton(0)->click();
  page->SpaceButton(4)->click();
  EXPECT_TRUE(page->DepthButton(3)->isChecked());
  EXPECT_TRUE(page->CompressionButton(4)->isEnabled());
  page->CompressionButton(6)->click();
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].colorSpace, 4);
  EXPECT_EQ(owner.written[0].bitDepth, 8);
  EXPECT_EQ(owner.written[0].compression, 6);
}

TEST_F(TiffPageTest, NumbersAreClampedToThePagesLimits) {
  const std::vector<std::tuple<const char*, const char*, std::int32_t, std::int32_t>> cases = {
      {"0", "0", 1, 1}, {"250", "12", 100, 8}, {"55", "5", 55, 5}, {"", "", 80, 6}};
  for (const auto& [quality, bits, q, b] : cases) {
    SCOPED_TRACE(quality);
    COptsTiff* page = Open();
    page->QualitySpin()->Edit()->setText(QString::fromUtf8(quality));
    page->SignificantBitsSpin()->Edit()->setText(QString::fromUtf8(bits));
    sheet->AcceptSheet();
    ASSERT_EQ(owner.written.size(), 1u);
    EXPECT_EQ(owner.written[0].quality, q);
    EXPECT_EQ(owner.written[0].significantBits, b);
  }
}

TEST_F(TiffPageTest, SilentOwnerAndReadOnlySheet) {
  ExpectSilentOwnerReported("Configuration data for Tiff file are not available",
                            "Configuration data for TIFF file can not be set");
  ExpectReadOnlySendsNothing(true);
}

TEST_F(TiffPageTest, ShownSheetShowsEveryTextWhole) {
  owner.values.colorSpace = 3;
  owner.values.compression = 2;
  auto* page = OpenShown();
  EXPECT_EQ(tovrin_test::TextsThatDoNotFit(sheet.get()), std::vector<std::string>{});
  for (QWidget* group : {page->DepthButton(3)->parentWidget(), page->CompressionButton(9)->parentWidget()})
    EXPECT_LE(group->height(), group->sizeHint().height());
  sheet->hide();
}
