// The JPEG, JPEG 2000, PNG, GIF and TIFF option pages with the extended file
// dialog in a save mode as their owner: what the pages send is what the
// dialog's settings hold, and a second sheet opens on it.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include <gtest/gtest.h>

#include <cstring>

#include "options/opts_gif.h"
#include "options/opts_jpeg.h"
#include "options/opts_jpeg2000.h"
#include "options/opts_png.h"
#include "options/opts_tiff.h"
#include "options/zarn_options.h"
#include "shell/file_dialog_ex.h"
#include "tests/shell/image_format_edits.h"
#include "tests/support/message_fixture.h"

using namespace ZarnTypes;
using FileDialogEx::CFileDialogEx;

namespace {

class ImageFormatPagesTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  ImageFormatPagesTest() {
    dialog = std::make_unique<CFileDialogEx>(false, image_format_edits::SaveAsSettings(),
                                             BuildFilterList(FDM_SAVE_IMAGE_AS));
  }
  // "Options..." on the filter of `category` (`reselect`) or on the filter
  // the dialog selected after the last OK.
  template <class TPage>
  TPage* Open(std::int32_t category, OptsPage::TOptsPageKind kind, bool reselect = true) {
    if (reselect) {
      EXPECT_TRUE(image_format_edits::SelectCategory(*dialog, category)) << category;
    }
    EXPECT_EQ(dialog->Logic().OptionsCategory(dialog->SelectedFilterIndex()), category);
    EXPECT_TRUE(dialog->OptionsButton()->isEnabled());
    sheet = std::make_unique<ZarnOptions::CZarnOptions>("Options", dialog.get(), category);
    sheet->OnInitDialog();
    return static_cast<TPage*>(sheet->Page(kind));
  }
  // The sheet's OK as the dialog runs it: the filter of the format written
  // back is selected.
  void Accept() {
    sheet->AcceptSheet();
    dialog->SelectFilterByFormat(dialog->Logic().CurrentFormat());
  }
  std::unique_ptr<CFileDialogEx> dialog;
  std::unique_ptr<ZarnOptions::CZarnOptions> sheet;
};

template <std::size_t N, class TBlock>
void ExpectOwnerBytes(const std::array<std::uint8_t, N>& kept, const TBlock& sent) {
  EXPECT_EQ(std::memcmp(kept.data(), reinterpret_cast<const std::uint8_t*>(&sent) + 8, N), 0);
}

}  // namespace

TEST_F(ImageFormatPagesTest, JpegQualityAndGreyGoIntoTheDialogAndBack) {
  auto* page = Open<OptsJpeg::COptsJpeg>(OPTCAT_JPEG, OptsPage::PAGE_JPEG);
  ASSERT_NE(page, nullptr);
  EXPECT_FALSE(page->ReadFailed());
  page->QualitySpin()->Edit()->setText(QStringLiteral("33"));
  page->GrayButton()->click();
  Accept();
  EXPECT_EQ(dialog->Settings().jpegQuality, 33);
  EXPECT_EQ(dialog->Logic().CurrentFormat(), 39);
  page = Open<OptsJpeg::COptsJpeg>(OPTCAT_JPEG, OptsPage::PAGE_JPEG, false);
  EXPECT_EQ(page->QualitySlider()->value(), 33);
  EXPECT_TRUE(page->GrayButton()->isChecked());
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(ImageFormatPagesTest, PngGifTiffAndJpeg2000EditsAreKeptByTheDialog) {
  {
    auto* page = Open<OptsPng::COptsPng>(OPTCAT_PNG, OptsPage::PAGE_PNG);
    ASSERT_NE(page, nullptr);
    page->ColorTypeButton(4)->click();
    page->DepthButton(2)->click();
    page->InterlacedBox()->setChecked(true);
    page->CompressionSpin()->Edit()->setText(QStringLiteral("12"));
    Accept();
    page = Open<OptsPng::COptsPng>(OPTCAT_PNG, OptsPage::PAGE_PNG, false);
    EXPECT_TRUE(page->ColorTypeButton(4)->isChecked());
    EXPECT_TRUE(page->DepthButton(2)->isChecked());
    EXPECT_TRUE(page->InterlacedBox()->isChecked());
    EXPECT_EQ(page->CompressionSpin()->Edit()->text(), "9");
    ExpectOwnerBytes(dialog->Settings().png, page->Block());
  }
  {
    auto* page = Open<OptsGif::COptsGif>(OPTCAT_GIF, OptsPage::PAGE_GIF);
    ASSERT_NE(page, nullptr);
    page->DepthButton(4)->click();
    page->SignificantBitsSpin()->Edit()->setText(QStringLiteral("3"));
    Accept();
    page = Open<OptsGif::COptsGif>(OPTCAT_GIF, OptsPage::PAGE_GIF, false);
    EXPECT_TRUE(page->DepthButton(4)->isChecked());
    EXPECT_EQ(page->SignificantBitsSpin()->Edit()->text(), "3");
    ExpectOwnerBytes(dialog->Settings().gif, page->Block());
  }
  {
    auto* page = Open<OptsTiff::COptsTiff>(OPTCAT_TIFF, OptsPage::PAGE_TIFF);
    ASSERT_NE(page, nullptr);
    page->SpaceButton(3)->click();
    page->DepthButton(3)->click();
    page->CompressionButton(3)->click();
    Accept();
    page = Open<OptsTiff::COptsTiff>(OPTCAT_TIFF, OptsPage::PAGE_TIFF, false);
    EXPECT_TRUE(page->SpaceButton(3)->isChecked());
    EXPECT_TRUE(page->CompressionButton(3)->isChecked());
    ExpectOwnerBytes(dialog->Settings().tiff, page->Block());
  }
  {
    auto* page = Open<OptsJpeg2000::COptsJpeg2000>(OPTCAT_JPEG2000, OptsPage::PAGE_JPEG2000);
    ASSERT_NE(page, nullptr);
    page->SpaceButton(4)->click();
    page->DepthButton(3)->click();
    page->CompressionButton(3)->click();
    page->QualitySpin()->Edit()->setText(QStringLiteral("250"));
    Accept();
    EXPECT_EQ(dialog->Logic().CurrentFormat(), 42);
    page = Open<OptsJpeg2000::COptsJpeg2000>(OPTCAT_JPEG2000, OptsPage::PAGE_JPEG2000, false);
    EXPECT_TRUE(page->CompressionButton(3)->isChecked());
    EXPECT_EQ(page->QualitySlider()->value(), 250);
  }
  EXPECT_TRUE(sink.Texts().empty());
}
