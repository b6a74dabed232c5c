#include "options/opts_file_format.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionComboBox>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "options/zarn_options.h"
#include "tests/options/layout_check.h"
#include "tests/options/options_test_support.h"
#include "tests/support/message_fixture.h"

using namespace OptsFileFormat;
using namespace ZarnTypes;
using tovrin_test::TTestOwner;

namespace {

std::vector<std::int32_t> Range(std::int32_t first, std::int32_t last) {
  std::vector<std::int32_t> v;
  for (std::int32_t c = first; c <= last; ++c) v.push_back(c);
  return v;
}

TFilterValues With(TYuvFilter f, std::int32_t value, TFilterValues v = AnyFilters()) {
  v[static_cast<std::size_t>(f)] = value;
  return v;
}

}  // namespace

TEST(YuvLayoutTable, RowsCarryTheirTextsAndCodes) {
  const auto& table = YuvLayoutTable();
  ASSERT_EQ(table.size(), 42u);
  EXPECT_EQ(table[0].code, 53);
  EXPECT_EQ(table[0].text, "YCbCr 444 ITU601 8bit 0-255 (.yuv)");
  EXPECT_EQ(table[3].text, "YCbCr 422 ITU601 8bit 0-255 CosEven (.yuv)");
  EXPECT_EQ(table[17].text, "YCbCr 420 ITU601 8bit 16-235-240 CosOdd (.yuv)");
  EXPECT_EQ(table[20].text, "YCbCr 420 ITU601 8bit 16-235-240 Center (.yuv)");
  EXPECT_EQ(table[41].code, 94);
  EXPECT_EQ(table[41].text, "YCbCr 420 ITU709 8bit 16-235-240 Center (.yuv)");
}

TEST(YuvLayoutTable, EachFilterNarrowsTheLayoutsByItsProperty) {
  struct TCase {
    TYuvFilter filter;
    std::int32_t value;
    std::vector<std::int32_t> codes;
  };
  // 4:4:4 rows are 53-55 and 74-76; 4:2:2 the next nine of each standard.
  const std::vector<std::int32_t> s444 = {53, 54, 55, 74, 75, 76};
  std::vector<std::int32_t> s422 = Range(56, 64), s420 = Range(65, 73);
  for (std::int32_t c : Range(77, 85)) s422.push_back(c);
  for (std::int32_t c : Range(86, 94)) s420.push_back(c);
  const std::vector<TCase> cases = {
      {YF_CONVERSION_BASE, 2, Range(53, 73)},
      {YF_CONVERSION_BASE, 3, Range(74, 94)},
      {YF_COMPONENTS, 2, Range(53, 94)},
      {YF_SAMPLING, 2, s444},
      {YF_SAMPLING, 3, s422},
      {YF_SAMPLING, 4, s420},
      {YF_PLANES, 3, Range(53, 94)},
      {YF_SCAN, 2, Range(53, 94)},
      {YF_LUMA_BITS, 2, Range(53, 94)},
      {YF_CHROMA_BITS, 2, Range(53, 94)},
      {YF_RANGE, 2, {53, 56, 59, 62, 65, 68, 71, 74, 77, 80, 83, 86, 89, 92}},
      {YF_RANGE, 4, {55, 58, 61, 64, 67, 70, 73, 76, 79, 82, 85, 88, 91, 94}},
      // Siting: the 4:4:4 rows pass every siting.
      {YF_SITING, 3, {53, 54, 55, 56, 57, 58, 65, 66, 67, 74, 75, 76, 77, 78, 79, 86, 87, 88}},
      {YF_SITING, 5, {53, 54, 55, 62, 63, 64, 71, 72, 73, 74, 75, 76, 83, 84, 85, 92, 93, 94}},
      {YF_SITING, 1, Range(53, 94)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.filter << "=" << c.value);
    EXPECT_EQ(FilterLayouts(With(c.filter, c.value)), c.codes);
  }
}

TEST(YuvLayoutTable, CombinedFiltersAndNoCombinationEmptiesTheList) {
  TFilterValues v = With(YF_CONVERSION_BASE, 3);
  v = With(YF_SAMPLING, 4, v);
  v = With(YF_RANGE, 4, v);
  v = With(YF_SITING, 5, v);
  EXPECT_EQ(FilterLayouts(v), (std::vector<std::int32_t>{94}));
  EXPECT_EQ(FilterLayouts(With(YF_SITING, 4, With(YF_SAMPLING, 2))),
            (std::vector<std::int32_t>{53, 54, 55, 74, 75, 76}));

  // Every choice the lists offer leaves at least one layout.
  const auto& base = FilterEntries(YF_CONVERSION_BASE);
  const auto& ratio = FilterEntries(YF_SAMPLING);
  const auto& range = FilterEntries(YF_RANGE);
  const auto& siting = FilterEntries(YF_SITING);
  int combos = 0;
  for (const auto& b : base)
    for (const auto& r : ratio)
      for (const auto& g : range)
        for (const auto& s : siting) {
          TFilterValues f = AnyFilters();
          f[YF_CONVERSION_BASE] = b.value;
          f[YF_SAMPLING] = r.value;
          f[YF_RANGE] = g.value;
          f[YF_SITING] = s.value;
          EXPECT_FALSE(FilterLayouts(f).empty()) << b.value << r.value << g.value << s.value;
          ++combos;
        }
  EXPECT_EQ(combos, 3 * 4 * 4 * 4);
}

TEST(YuvLayoutTable, FilterListsOfferTheirEntries) {
  ASSERT_EQ(FilterEntries(YF_SITING).size(), 4u);
  EXPECT_STREQ(FilterEntries(YF_SITING)[3].text, " Centered chromas between luma");
  EXPECT_EQ(FilterEntries(YF_SITING)[1].value, 3);
  EXPECT_STREQ(FilterEntries(YF_RANGE)[1].text, " Luma[0-255]  Chroma[0-255] ");
  EXPECT_STREQ(FilterEntries(YF_PLANES)[0].text, " 3 planes, separate colors");
  EXPECT_EQ(FilterEntries(YF_PLANES)[0].value, 3);
}

TEST(YuvResolution, PresetsAndLimits) {
  ASSERT_EQ(ResolutionPresets().size(), 14u);
  EXPECT_STREQ(ResolutionPresets()[9].text, " 720 x 576   D1/50 ");
  EXPECT_EQ(PresetForSize(720, 576), 9);
  EXPECT_EQ(PresetForSize(128, 96), 1);
  EXPECT_EQ(PresetForSize(1920, 1080), 12);
  EXPECT_EQ(PresetForSize(721, 576), 13);
  EXPECT_EQ(PresetForSize(0, 0), 13);  // "undefined" is never chosen for a size

  EXPECT_EQ(CheckImageSize(1, 1), "");
  EXPECT_EQ(CheckImageSize(5000, 5000), "");
  EXPECT_EQ(CheckImageSize(0, 480), "Width of image 0 is out of allowed range: 0 < W <= 5000");
  EXPECT_EQ(CheckImageSize(5001, 0), "Width of image 5001 is out of allowed range: 0 < W <= 5000");
  EXPECT_EQ(CheckImageSize(640, 5001), "Height of image 5001 is out of allowed range: 0 < H <= 5000");
  EXPECT_EQ(CheckImageSize(640, -3), "Height of image -3 is out of allowed range: 0 < H <= 5000");
}

namespace {

class YuvPageTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  YuvPageTest() {
    owner.values.format = 70;
    owner.values.width = 720;
    owner.values.height = 576;
    owner.values.singleImage = 1;
    owner.values.sizeEditable = 1;
    owner.values.checkSize = 1;
  }
  // A sheet of the YUV category on the owner, opened.
  COptsFileFormat* Open() {
    sheet = std::make_unique<ZarnOptions::CZarnOptions>("Options", &owner, OPTCAT_YUV);
    sheet->OnInitDialog();
    return static_cast<COptsFileFormat*>(sheet->Page(OptsPage::PAGE_YUV));
  }
  TTestOwner<TYuvFormatExchange> owner{platform::qt::WM_APP_OPTS_YUV};
  std::unique_ptr<ZarnOptions::CZarnOptions> sheet;
};

}  // namespace

TEST_F(YuvPageTest, OpensOnTheOwnersLayoutSizeAndPreset) {
  COptsFileFormat* page = Open();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ}));
  EXPECT_EQ(page->FormatList()->count(), 42);
  EXPECT_EQ(page->SelectedCode(), 70);
  EXPECT_EQ(page->FormatList()->currentText(), "YCbCr 420 ITU601 8bit 16-235-240 CosOdd (.yuv)");
  EXPECT_TRUE(page->SingleImageBox()->isChecked());
  EXPECT_EQ(page->ResolutionList()->currentIndex(), 9);
  EXPECT_FALSE(page->WidthEdit()->isEnabled());
  EXPECT_FALSE(page->HeightEdit()->isEnabled());
  EXPECT_EQ(page->WidthEdit()->text(), "720");
  for (int f = 0; f < YF_COUNT; ++f)
    EXPECT_EQ(page->FilterList(static_cast<TYuvFilter>(f))->currentIndex(), 0);
  EXPECT_EQ(page->FilterList(YF_SAMPLING)->itemText(3), " 4:2:0 ");
}

TEST_F(YuvPageTest, CustomSizeEnablesTheEditsAndAFixedSizeDisablesTheGroup) {
  owner.values.width = 721;
  COptsFileFormat* page = Open();
  EXPECT_EQ(page->ResolutionList()->currentIndex(), 13);
  EXPECT_TRUE(page->WidthEdit()->isEnabled());
  EXPECT_EQ(page->ResolutionList()->currentText(), " custom resolution ");

  owner.values.sizeEditable = 0;
  owner.values.width = 0;
  owner.values.height = 0;
  COptsFileFormat* fixed = Open();
  EXPECT_EQ(fixed->ResolutionList()->currentIndex(), 13);
  EXPECT_FALSE(fixed->ResolutionList()->isEnabled());
  EXPECT_FALSE(fixed->WidthEdit()->isEnabled());
  EXPECT_FALSE(fixed->HeightEdit()->isEnabled());
}

TEST_F(YuvPageTest, FilterThatDropsTheSelectedLayoutSelectsTheFirstAndResetRestoresAll) {
  COptsFileFormat* page = Open();
  page->ChooseFilter(YF_SAMPLING, 2);  // 4:2:2: layout 70 (4:2:0) goes
  EXPECT_EQ(page->FormatList()->count(), 18);
  EXPECT_EQ(page->SelectedCode(), 56);
  page->SelectCode(63);
  page->ChooseFilter(YF_CONVERSION_BASE, 1);  // BT.601 keeps 63
  EXPECT_EQ(page->SelectedCode(), 63);
  EXPECT_EQ(page->FormatList()->count(), 9);
  page->OnReset();
  EXPECT_EQ(page->FormatList()->count(), 42);
  EXPECT_EQ(page->SelectedCode(), 63);
  EXPECT_EQ(page->Filters(), AnyFilters());
  EXPECT_EQ(page->FilterList(YF_SAMPLING)->currentIndex(), 0);
}

TEST_F(YuvPageTest, OkWritesTheChosenLayoutPresetAndSingleImage) {
  COptsFileFormat* page = Open();
  page->ChooseFilter(YF_CONVERSION_BASE, 2);
  page->ChooseFilter(YF_SAMPLING, 3);
  page->ChooseFilter(YF_RANGE, 3);
  page->ChooseFilter(YF_SITING, 3);
  EXPECT_EQ(page->FormatList()->currentText(), "YCbCr 420 ITU709 8bit 16-235-240 Center (.yuv)");
  page->ChooseResolution(3);
  EXPECT_EQ(page->WidthEdit()->text(), "352");
  page->SingleImageBox()->setChecked(false);
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].format, 94);
  EXPECT_EQ(owner.written[0].width, 352);
  EXPECT_EQ(owner.written[0].height, 288);
  EXPECT_EQ(owner.written[0].singleImage, 0);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(YuvPageTest, CustomSizeIsTypedAndUndefinedKeepsIt) {
  owner.values.width = 100;
  owner.values.height = 50;
  COptsFileFormat* page = Open();
  page->WidthEdit()->setText("123");
  page->HeightEdit()->setText("45");
  page->ChooseResolution(0);  // undefined keeps the typed size
  EXPECT_EQ(page->WidthEdit()->text(), "123");
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].width, 123);
  EXPECT_EQ(owner.written[0].height, 45);
}

TEST_F(YuvPageTest, SizeOutOfRangeIsRefusedAndNothingIsSent) {
  struct TCase {
    const char* width;
    const char* height;
    const char* message;
  };
  const TCase cases[] = {
      {"0", "480", "Width of image 0 is out of allowed range: 0 < W <= 5000"},
      {"5001", "480", "Width of image 5001 is out of allowed range: 0 < W <= 5000"},
      {"640", "5001", "Height of image 5001 is out of allowed range: 0 < H <= 5000"},
      {"abc", "480", "Please enter an integer."},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.width);
    sink.Clear();
    owner.ops.clear();
    owner.values.width = 721;  // custom: edits enabled
    COptsFileFormat* page = Open();
    page->WidthEdit()->setText(c.width);
    page->HeightEdit()->setText(c.height);
    sheet->AcceptSheet();
    EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ}));
    EXPECT_EQ(sink.Texts(), (std::vector<std::string>{c.message}));
  }
  EXPECT_TRUE(owner.written.empty());
}

TEST_F(YuvPageTest, NoSizeCheckWhenTheOwnerClearsIt) {
  owner.values.sizeEditable = 0;
  owner.values.checkSize = 0;
  owner.values.width = 0;
  owner.values.height = 0;
  Open();
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].width, 0);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(YuvPageTest, ReadAsksForAnEditableCheckedSize) {
  // The owner sees the page's defaults in the read block.
  TTestOwner<TYuvFormatExchange> probe{platform::qt::WM_APP_OPTS_YUV};
  probe.answer = false;
  TYuvFormatExchange seen{};
  platform::qt::TMessageMap spy(&probe);
  spy.On(platform::qt::WM_APP_OPTS_YUV,
         [&](platform::qt::WPARAM, platform::qt::LPARAM l) -> platform::qt::LRESULT {
           seen = *OptsBlockOf<TYuvFormatExchange>(l);
           return 0;
         });
  ZarnOptions::CZarnOptions s("Options", &probe, OPTCAT_YUV);
  s.OnInitDialog();
  EXPECT_EQ(seen.header.op, OPTS_XCHG_READ);
  EXPECT_EQ(seen.sizeEditable, 1);
  EXPECT_EQ(seen.checkSize, 1);
  EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"Configuration data for YUV file are not available"}));
  s.AcceptSheet();
  EXPECT_EQ(sink.Texts().back(), "Configuration data for YUV file can not be set");
}

TEST_F(YuvPageTest, ReadOnlyPageIsDisabledAndSendsNoWrite) {
  sheet = std::make_unique<ZarnOptions::CZarnOptions>("Options", &owner, OPTCAT_YUV);
  sheet->SetReadOnly(true);
  sheet->OnInitDialog();
  auto* page = static_cast<COptsFileFormat*>(sheet->Page(OptsPage::PAGE_YUV));
  EXPECT_FALSE(page->isEnabled());
  sheet->AcceptSheet();
  EXPECT_EQ(owner.ops, (std::vector<std::int32_t>{OPTS_XCHG_READ}));
  EXPECT_TRUE(sink.Texts().empty());
}

// The "Data format" list and the siting list cut their items
// ("...CosOdd (.yu", "Cosited luma and chromas, ev..."): every list of the
// page is as wide as its longest item, also when the page fills its lists
// after the sheet was laid out and shown.
TEST_F(YuvPageTest, NoListCutsAnyOfItsItems) {
  for (bool filledAfterShowing : {false, true}) {
    SCOPED_TRACE(filledAfterShowing ? "filled after the sheet was shown" : "filled before");
    sheet = std::make_unique<ZarnOptions::CZarnOptions>("Options", &owner, OPTCAT_YUV);
    if (filledAfterShowing) {
      sheet->resize(sheet->sizeHint());
      sheet->show();
      QApplication::processEvents();
      sheet->OnInitDialog();
    } else {
      sheet->OnInitDialog();
      sheet->resize(sheet->sizeHint());
      sheet->show();
    }
    QApplication::processEvents();
    auto* page = static_cast<COptsFileFormat*>(sheet->Page(OptsPage::PAGE_YUV));
    ASSERT_NE(page, nullptr);
    std::vector<QComboBox*> lists = {page->FormatList(), page->ResolutionList()};
    for (int f = 0; f < YF_COUNT; ++f) lists.push_back(page->FilterList(static_cast<TYuvFilter>(f)));
    for (QComboBox* list : lists) {
      QStyleOptionComboBox opt;
      opt.initFrom(list);
      opt.rect = list->rect();
      opt.frame = list->hasFrame();
      const QRect field =
          list->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, list);
      const QFontMetrics fm(list->font());
      for (int i = 0; i < list->count(); ++i)
        EXPECT_GE(field.width(), fm.horizontalAdvance(list->itemText(i)))
            << list->objectName().toStdString() << ": " << list->itemText(i).toStdString();
    }
    // Narrowing the layouts keeps the room of the longest layout: the list
    // does not jump narrower and back.
    const int before = page->FormatList()->minimumWidth();
    page->ChooseFilter(YF_SAMPLING, 1);
    EXPECT_EQ(page->FormatList()->minimumWidth(), before);
    sheet->hide();
  }
}

// The sheet grows to the lists the page fills at its first show: every
// layout's text is whole in the closed format list.
TEST_F(YuvPageTest, ShownSheetShowsEveryTextWhole) {
  sheet = std::make_unique<ZarnOptions::CZarnOptions>("Options", &owner, OPTCAT_YUV);
  sheet->show();
  sheet->resize(sheet->sizeHint());
  QApplication::processEvents();
  sheet->OnInitDialog();
  QApplication::processEvents();
  EXPECT_EQ(tovrin_test::TextsThatDoNotFit(sheet.get()), std::vector<std::string>{});
}
