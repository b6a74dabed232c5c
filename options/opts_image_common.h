#pragma once
// Pieces the image-format pages (PNG, GIF, TIFF, JPEG and JPEG 2000) share:
// the "Palette" group with its significant colour bits, the five bit-depth
// buttons read into and set from the bit-depth rule's state, and the
// "Quality" row of a slider and its edit.

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
class QWidget;

namespace OptsImage {

// The five depth buttons' texts, in the order of OptsPng::kDepths.
inline constexpr std::array<const char*, 5> kDepthTexts = {"1 bit", "2 bits", "4 bits", "8 bits", "16 bits"};

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
// adaptive octree" and the "Significant color bits, 1 - 8" edit.
struct TPaletteGroup {
  QGroupBox* group = nullptr;
  QRadioButton* halftone = nullptr;
  QRadioButton* octree = nullptr;
  OptsJpeg::CDigitSpin* significant = nullptr;
};
TPaletteGroup MakePaletteGroup(QWidget* parent);
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

// The five depth buttons' checks and enables into `s` (its colour spaces
// untouched), and back: the first depth `s` checks is checked alone, each
// button enabled as `s` says.
void ReadDepths(const std::array<QRadioButton*, 5>& depth, OptsPng::TBitDepthState& s);
void ApplyDepths(const std::array<QRadioButton*, 5>& depth, const OptsPng::TBitDepthState& s);

// The "Quality" row: its label, a horizontal slider named "quality" with
// ticks below and an edit named "qualityEdit", added to `into`.
void MakeQualityRow(QWidget* page, QBoxLayout* into, QSlider*& slider, OptsJpeg::CDigitSpin*& spin);

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
