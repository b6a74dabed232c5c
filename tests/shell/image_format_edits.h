#pragma once
// One set of edits of the five image format pages made through "Options..."
// of the extended save dialog, as a person makes them, and the checks that a
// later dialog opens each page on them. The Save As and restart tests of the
// document and of the application share them.

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "options/opts_gif.h"
#include "options/opts_jpeg.h"
#include "options/opts_jpeg2000.h"
#include "options/opts_png.h"
#include "options/opts_tiff.h"
#include "options/zarn_options.h"
#include "shell/file_dialog_ex.h"

namespace image_format_edits {

// The values the edits leave.
inline constexpr std::int32_t kJpegQuality = 33;  // chosen with grey
inline constexpr std::int32_t kPngColorType = 4;  // palette
inline constexpr std::int32_t kPngDepth = 4;
inline constexpr std::int32_t kPngCompression = 3;
inline constexpr std::int32_t kPngSignificantBits = 5;
inline constexpr std::int32_t kGifDepth = 4;
inline constexpr std::int32_t kGifSignificantBits = 3;
inline constexpr std::int32_t kJpeg2000Compression = 3;  // JPC codec
inline constexpr std::int32_t kJpeg2000Quality = 250;
inline constexpr std::int32_t kTiffSpace = 3;  // palette
inline constexpr std::int32_t kTiffDepth = 4;
inline constexpr std::int32_t kTiffCompression = 3;  // Packbits
inline constexpr std::int32_t kTiffQuality = 40;
inline constexpr std::int32_t kTiffSignificantBits = 7;

inline std::int32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                   static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// The JPEG quality and the PNG, GIF and TIFF records the edits leave in a
// saved settings block, at the offsets given (each record in its page
// block's field order from offset 8).
inline void ExpectEditedRecords(const std::vector<std::uint8_t>& b, std::size_t jpegQualityAt,
                                std::size_t pngAt, std::size_t gifAt, std::size_t tiffAt) {
  ASSERT_GE(b.size(), tiffAt + 36);
  EXPECT_EQ(Le32(b, jpegQualityAt), kJpegQuality);
  EXPECT_EQ(Le32(b, pngAt + 4), kPngColorType);
  EXPECT_EQ(Le32(b, pngAt + 8), kPngDepth);
  EXPECT_EQ(b[pngAt + 12], 1) << "interlaced";
  EXPECT_EQ(Le32(b, pngAt + 16), kPngCompression);
  EXPECT_EQ(Le32(b, pngAt + 24), kPngSignificantBits);
  EXPECT_EQ(Le32(b, gifAt + 16), kGifDepth);
  EXPECT_EQ(Le32(b, gifAt + 28), kGifSignificantBits);
  EXPECT_EQ(Le32(b, tiffAt + 8), kTiffSpace);
  EXPECT_EQ(Le32(b, tiffAt + 12), kTiffDepth);
  EXPECT_EQ(Le32(b, tiffAt + 24), kTiffSignificantBits);
  EXPECT_EQ(Le32(b, tiffAt + 28), kTiffCompression);
  EXPECT_EQ(Le32(b, tiffAt + 32), kTiffQuality);
}

// The settings of a Save As prompt: the extended dialog in its save mode,
// channel 1 offered.
inline ZarnTypes::TFileDialogSettings SaveAsSettings() {
  ZarnTypes::TFileDialogSettings s;
  s.extended = true;
  s.mode = ZarnTypes::FDM_SAVE_IMAGE_AS;
  s.channelAllowed = {true, false, false, false};
  return s;
}

// Selects the dialog's first filter whose "Options..." opens `category`.
inline bool SelectCategory(FileDialogEx::CFileDialogEx& dialog, std::int32_t category) {
  const auto& codes = dialog.Logic().FilterCodes();
  for (int i = 0; i < static_cast<int>(codes.size()); ++i) {
    if (dialog.Logic().OptionsCategory(i) == category) {
      dialog.SelectFilterIndex(i);
      return true;
    }
  }
  return false;
}

// Presses "Options..." on the filter of `format` and, once the sheet is
// up, hands its page to `use`; `accept` ends the sheet with OK, otherwise
// with Cancel. False when no sheet came up within ten seconds.
inline bool WithOptionsSheet(FileDialogEx::CFileDialogEx& dialog, std::int32_t format, bool accept,
                             const std::function<void(OptsPage::COptsPage&)>& use) {
  if (!dialog.SelectFilterByFormat(format)) {
    ADD_FAILURE() << "no filter for format " << format;
    return false;
  }
  EXPECT_TRUE(dialog.OptionsButton()->isEnabled()) << format;
  bool seen = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* sheet = qobject_cast<ZarnOptions::CZarnOptions*>(QApplication::activeModalWidget());
    if (!sheet || seen) return;
    seen = true;
    EXPECT_EQ(sheet->OwnerWindow(), &dialog);
    if (OptsPage::COptsPage* page = sheet->ActivePage()) use(*page);
    if (accept)
      sheet->AcceptSheet();
    else
      sheet->reject();
  });
  poll.start(5);
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, [] {
    if (auto* sheet = qobject_cast<QDialog*>(QApplication::activeModalWidget())) sheet->reject();
  });
  limit.start(10000);
  dialog.OptionsButton()->click();
  EXPECT_TRUE(seen) << "no sheet for format " << format;
  return seen;
}

template <class TPage>
TPage& As(OptsPage::COptsPage& page) {
  return dynamic_cast<TPage&>(page);
}

// The edits, one sheet a page, each opened on a filter of its format;
// TIFF last, so its filter stays selected.
inline void EditEveryPage(FileDialogEx::CFileDialogEx& dialog) {
  using namespace ZarnTypes;
  WithOptionsSheet(dialog, FF_JPEG, true, [](OptsPage::COptsPage& p) {
    auto& page = As<OptsJpeg::COptsJpeg>(p);
    page.QualitySpin()->Edit()->setText(QString::number(kJpegQuality));
    page.GrayButton()->click();
  });
  WithOptionsSheet(dialog, FF_PNG, true, [](OptsPage::COptsPage& p) {
    auto& page = As<OptsPng::COptsPng>(p);
    page.ColorTypeButton(kPngColorType)->click();
    page.DepthButton(OptsPng::DepthIndex(kPngDepth))->click();
    page.InterlacedBox()->setChecked(true);
    page.CompressionSpin()->Edit()->setText(QString::number(kPngCompression));
    page.SignificantBitsSpin()->Edit()->setText(QString::number(kPngSignificantBits));
  });
  WithOptionsSheet(dialog, FF_GIF, true, [](OptsPage::COptsPage& p) {
    auto& page = As<OptsGif::COptsGif>(p);
    page.DepthButton(kGifDepth)->click();
    page.SignificantBitsSpin()->Edit()->setText(QString::number(kGifSignificantBits));
  });
  WithOptionsSheet(dialog, FF_JP2, true, [](OptsPage::COptsPage& p) {
    auto& page = As<OptsJpeg2000::COptsJpeg2000>(p);
    page.CompressionButton(kJpeg2000Compression)->click();
    page.QualitySpin()->Edit()->setText(QString::number(kJpeg2000Quality));
  });
  WithOptionsSheet(dialog, FF_TIFF, true, [](OptsPage::COptsPage& p) {
    auto& page = As<OptsTiff::COptsTiff>(p);
    page.SpaceButton(kTiffSpace)->click();
    page.DepthButton(OptsPng::DepthIndex(kTiffDepth))->click();
    page.CompressionButton(kTiffCompression)->click();
    page.QualitySpin()->Edit()->setText(QString::number(kTiffQuality));
    page.SignificantBitsSpin()->Edit()->setText(QString::number(kTiffSignificantBits));
  });
}

// Each page, opened again (and cancelled), shows the edits; the JPEG 2000
// page only with `jpeg2000` (the settings kept across a restart by the
// document manager have no JPEG 2000 block). Grey JPEG and the JPC codec
// are formats, kept as the filter chosen: their pages are opened on the
// grey JPEG and the code stream filters.
inline void ExpectEveryPageShowsTheEdits(FileDialogEx::CFileDialogEx& dialog, bool jpeg2000 = true) {
  using namespace ZarnTypes;
  WithOptionsSheet(dialog, FF_JPEG_GRAY, false, [](OptsPage::COptsPage& p) {
    auto& page = As<OptsJpeg::COptsJpeg>(p);
    EXPECT_EQ(page.QualitySlider()->value(), kJpegQuality);
    EXPECT_EQ(page.QualitySpin()->Edit()->text().toInt(), kJpegQuality);
    EXPECT_TRUE(page.GrayButton()->isChecked());
  });
  WithOptionsSheet(dialog, FF_PNG, false, [](OptsPage::COptsPage& p) {
    auto& page = As<OptsPng::COptsPng>(p);
    EXPECT_TRUE(page.ColorTypeButton(kPngColorType)->isChecked());
    EXPECT_TRUE(page.DepthButton(OptsPng::DepthIndex(kPngDepth))->isChecked());
    EXPECT_TRUE(page.InterlacedBox()->isChecked());
    EXPECT_EQ(page.CompressionSpin()->Edit()->text().toInt(), kPngCompression);
    EXPECT_EQ(page.SignificantBitsSpin()->Edit()->text().toInt(), kPngSignificantBits);
  });
  WithOptionsSheet(dialog, FF_GIF, false, [](OptsPage::COptsPage& p) {
    auto& page = As<OptsGif::COptsGif>(p);
    EXPECT_TRUE(page.DepthButton(kGifDepth)->isChecked());
    EXPECT_EQ(page.SignificantBitsSpin()->Edit()->text().toInt(), kGifSignificantBits);
  });
  if (jpeg2000)
    WithOptionsSheet(dialog, FF_JPC, false, [](OptsPage::COptsPage& p) {
      auto& page = As<OptsJpeg2000::COptsJpeg2000>(p);
      EXPECT_TRUE(page.CompressionButton(kJpeg2000Compression)->isChecked());
      EXPECT_EQ(page.QualitySlider()->value(), kJpeg2000Quality);
    });
  WithOptionsSheet(dialog, FF_TIFF, false, [](OptsPage::COptsPage& p) {
    auto& page = As<OptsTiff::COptsTiff>(p);
    EXPECT_TRUE(page.SpaceButton(kTiffSpace)->isChecked());
    EXPECT_TRUE(page.DepthButton(OptsPng::DepthIndex(kTiffDepth))->isChecked());
    EXPECT_TRUE(page.CompressionButton(kTiffCompression)->isChecked());
    EXPECT_EQ(page.QualitySlider()->value(), kTiffQuality);
    EXPECT_EQ(page.SignificantBitsSpin()->Edit()->text().toInt(), kTiffSignificantBits);
  });
}

}  // namespace image_format_edits
