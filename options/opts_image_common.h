#pragma once
// Pieces the image-format pages (PNG, GIF, TIFF, JPEG and JPEG 2000) share:
// the two columns of groups over the quality row, the "Palette" group with
// its significant colour bits, the colour-space and bit-depth buttons read
// into, opened on and set from the bit-depth rule's state, the limits the
// JPEG 2000 and TIFF pages write, and the "Quality" row of a slider and its
// edit.

#include <array>
#include <cstddef>
#include <cstdint>

#include "options/opts_jpeg.h"
#include "options/opts_png.h"

class QBoxLayout;
class QGroupBox;
class QHBoxLayout;
class QRadioButton;
class QSlider;
class QVBoxLayout;
class QWidget;

namespace OptsImage {

// The five depth buttons' texts, in the order of OptsPng::kDepths.
inline constexpr std::array<const char*, 5> kDepthTexts = {"1 bit", "2 bits", "4 bits", "8 bits", "16 bits"};
// The colour spaces of the JPEG 2000 and TIFF pages, codes 1..5.
inline constexpr std::array<const char*, 5> kSampleSpaceTexts = {
    "Grayscale, 1 sample", "Grayscale + Alpha Transparency, 2 samples", "Color palette, 1 sample",
    "RGB, 3 samples", "RGB + Alpha Transparency, 4 samples"};

// The page's layout: two columns of groups side by side, each ending in a
// stretch the caller adds, over what the caller adds below them.
struct TPageColumns {
  QVBoxLayout* outer = nullptr;
  QVBoxLayout* left = nullptr;
  QVBoxLayout* right = nullptr;
};
TPageColumns MakePageColumns(QWidget* page);

// A group box titled `title` of one radio button a text, one under the
// other, the buttons stored in `buttons`.
QGroupBox* MakeRadioColumn(QWidget* parent, const char* title, const char* const* texts,
                           QRadioButton** buttons, std::size_t count);
template <std::size_t N>
QGroupBox* MakeRadioColumn(QWidget* parent, const char* title, const std::array<const char*, N>& texts,
                           std::array<QRadioButton*, N>& buttons) {
  return MakeRadioColumn(parent, title, texts.data(), buttons.data(), N);
}

// The "Palette" group: "Standard halftone" (never enabled), "Optimized
// adaptive octree" and the "Significant color bits, 1 - 8" edit (named
// "significantBits"), the buttons and the edit stored in the last three.
QGroupBox* MakePaletteGroup(QWidget* parent, QRadioButton*& halftone, QRadioButton*& octree,
                            OptsJpeg::CDigitSpin*& significant);
// The significant colour bits to store: the edit's number, or `read` when
// it holds none, held to 1..8.
std::int32_t SignificantBitsOf(const OptsJpeg::CDigitSpin* significant, std::int32_t read);
// Checks "Standard halftone" for method 1 and the octree for any other, and
// shows `bits` in the significant bits' edit on lo..hi.
void ShowPalette(QRadioButton* halftone, QRadioButton* octree, OptsJpeg::CDigitSpin* significant,
                 std::int32_t method, std::int32_t bits, std::int32_t lo, std::int32_t hi);

// Index of the first checked of `count` buttons, -1 when none is.
int FirstChecked(QRadioButton* const* buttons, std::size_t count);
template <std::size_t N>
int FirstChecked(const std::array<QRadioButton*, N>& buttons) {
  return FirstChecked(buttons.data(), N);
}

// The button of `code` in a group whose first button stands for `first`;
// null for a code outside the group.
template <std::size_t N>
QRadioButton* ButtonOf(const std::array<QRadioButton*, N>& buttons, std::int32_t code, std::int32_t first) {
  const std::int64_t i = std::int64_t{code} - first;
  return i >= 0 && i < static_cast<std::int64_t>(N) ? buttons[static_cast<std::size_t>(i)] : nullptr;
}

// Stores what the group's first checked button stands for (`first` plus
// its index) into `field`; with none checked `field` keeps what was read.
template <std::size_t N>
void StoreChecked(const std::array<QRadioButton*, N>& buttons, std::int32_t first, std::int32_t& field) {
  if (const int i = FirstChecked(buttons); i >= 0) field = first + i;
}
// The same for the depth buttons: the depth of the first checked.
void StoreCheckedDepth(const std::array<QRadioButton*, 5>& depth, std::int32_t& field);

// The five depth buttons' checks and enables into `s` (its colour spaces
// untouched), and back: the first depth `s` checks is checked alone, each
// button enabled as `s` says.
void ReadDepths(const std::array<QRadioButton*, 5>& depth, OptsPng::TBitDepthState& s);
void ApplyDepths(const std::array<QRadioButton*, 5>& depth, const OptsPng::TBitDepthState& s);
// The colour-space checks and the depth buttons' checks and enables.
void ReadSpaceAndDepths(const std::array<QRadioButton*, 5>& space, const std::array<QRadioButton*, 5>& depth,
                        OptsPng::TBitDepthState& s);

// The opening of the colour space and the depth from a block: checks the
// space button of `spaceCode` alone (none for a code outside the group,
// whose first button is `firstSpace`), and returns the rule's view with the
// read depth checked, moved to 8 where the space does not allow it, and the
// depth buttons enabled for the space. A space or depth the page does not
// know leaves its buttons unchecked, to go back as read. The depth buttons
// themselves are left to the caller (ApplyDepths), which may change the
// view further first.
OptsPng::TBitDepthState OpenSpaceAndDepth(const std::array<QRadioButton*, 5>& space,
                                          const std::array<QRadioButton*, 5>& depth, std::int32_t spaceCode,
                                          std::int32_t firstSpace, std::int32_t depthRead);

// The limits the JPEG 2000 and TIFF pages write into their blocks (one
// layout), whatever the owner sent.
template <class TBlock>
void WriteLimits(TBlock& block, std::int32_t qualityMin, std::int32_t qualityMax, std::int32_t bitsMin,
                 std::int32_t bitsMax) {
  block.qualityMin = qualityMin;
  block.qualityMax = qualityMax;
  block.significantBitsMin = bitsMin;
  block.significantBitsMax = bitsMax;
}

// The "Quality" row: its label, a horizontal slider named "quality" with
// ticks below and an edit named "qualityEdit", added to `into`.
void MakeQualityRow(QWidget* page, QBoxLayout* into, QSlider*& slider, OptsJpeg::CDigitSpin*& spin);
// The same under the page's columns, the edit's arrows on lo..hi, with the
// page's stretch below it and slider and edit tied through `*quality`
// (ConnectQuality).
void AddQualityRow(QWidget* page, const TPageColumns& columns, QSlider*& slider, OptsJpeg::CDigitSpin*& spin,
                   std::int32_t* quality, std::int32_t lo, std::int32_t hi);

// The colour-space and bit-depth groups of the JPEG 2000 and TIFF pages:
// the spaces from index `firstOffered` on enabled, the others disabled;
// "2 bits" disabled and "16 bits" disabled and hidden.
struct TSampleGroups {
  QGroupBox* space = nullptr;
  QGroupBox* depth = nullptr;
};
TSampleGroups MakeSampleGroups(QWidget* page, std::array<QRadioButton*, 5>& space,
                               std::array<QRadioButton*, 5>& depth, std::size_t firstOffered);

// Ties slider and edit together through `*quality`, which both must outlive:
// only the user's moves of the slider (steps, pages, drags) carry its
// position to `*quality` and the edit, positions set by the page itself
// carry nothing; the edit's arrows carry their number to `*quality` and the
// slider.
void ConnectQuality(QWidget* page, QSlider* slider, OptsJpeg::CDigitSpin* spin, std::int32_t* quality);

// Sets the slider up on lo..hi with a tick and a page step of `ticks`, at
// `quality` held to the range, and shows `quality` as it is in the edit.
void ShowQuality(QSlider* slider, OptsJpeg::CDigitSpin* spin, std::int32_t quality, std::int32_t lo,
                 std::int32_t hi, int ticks);

}  // namespace OptsImage
