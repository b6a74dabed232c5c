#pragma once
// The "TIFF" page: colour space, bit depth, the compressions libtiff can
// write with them, the quality and the significant colour bits of the
// palette quantizer. Fax and Huffman coding are offered for one bit per
// sample only and JPEG not for a palette: libtiff refuses both otherwise.
//
// Owners: the extended file dialog and the save-stream page answer
// WM_APP_OPTS_TIFF with a TTiffExchange (the layout of TJpeg2000Exchange;
// the format at offset 8 is the owner's).

#include <array>
#include <cstddef>
#include <cstdint>

#include "options/opts_jpeg.h"
#include "options/opts_jpeg2000.h"
#include "options/opts_page.h"
#include "options/opts_png.h"

class QRadioButton;
class QSlider;

namespace ZarnTypes {

using TTiffExchange = TJpeg2000Exchange;

}  // namespace ZarnTypes

namespace OptsTiff {

inline constexpr std::int32_t kQualityMin = 1;
inline constexpr std::int32_t kQualityMax = 100;
inline constexpr int kQualityTicks = 10;
inline constexpr std::int32_t kSignificantBitsMin = 1;
inline constexpr std::int32_t kSignificantBitsMax = 8;

// The compression buttons' codes in their order: None, LZW, Packbits, JPEG,
// JPEG2000, ZIP, Huffman RLE, CCITT Fax 3, CCITT Fax 4.
inline constexpr std::array<std::int32_t, 9> kCompressions = {0, 2, 3, 4, 5, 6, 7, 8, 9};
enum : std::size_t { C_NONE, C_LZW, C_PACKBITS, C_JPEG, C_JPEG2000, C_ZIP, C_HUFFMAN, C_FAX3, C_FAX4 };
// Index of a compression code in kCompressions, -1 for any other value.
int CompressionIndex(std::int32_t code);

// The buttons the rules read and change.
struct TTiffState : OptsPng::TBitDepthState {
  std::array<bool, 9> comp{};
  std::array<bool, 9> compEnabled{true, true, true, true, false, true, true, true, true};
};

// The first checked of the first eight buttons; 9 (Fax 4) when none is.
std::int32_t GetCheckedCompression(const TTiffState& s);
// LZW (checked alone, returned) when a fax or Huffman button is checked
// without "1 bit", or when the palette is checked and `code` is JPEG;
// otherwise `code`.
std::int32_t ValidateCompression(TTiffState& s, std::int32_t code);
// For colour spaces 1..5: None, LZW, Packbits and ZIP on; JPEG and JPEG2000
// on unless the space is the palette (3); fax and Huffman on only with
// "1 bit". Other values change nothing.
void EnableCompressions(TTiffState& s, std::int32_t colourSpace);
// The handlers of the palette button, the two RGB buttons and the depth
// buttons (the clicked button is already checked in `s`).
void OnColorPalette(TTiffState& s);
void OnRgb(TTiffState& s);
void OnBitDepth(TTiffState& s);

class COptsTiff : public OptsPage::COptsPage {
  Q_OBJECT
 public:
  static constexpr const char* kReadFailed = "Configuration data for Tiff file are not available";
  static constexpr const char* kWriteFailed = "Configuration data for TIFF file can not be set";

  explicit COptsTiff(QWidget* parent = nullptr);
  ~COptsTiff() override;

  void OnOK() override;

  const ZarnTypes::TTiffExchange& Block() const { return m_block; }

  QRadioButton* SpaceButton(std::int32_t space) const;  // 1..5
  QRadioButton* DepthButton(int index) const { return m_depth[static_cast<std::size_t>(index)]; }
  QRadioButton* CompressionButton(std::int32_t code) const;
  QSlider* QualitySlider() const { return m_slider; }
  OptsJpeg::CDigitSpin* QualitySpin() const { return m_spin; }
  OptsJpeg::CDigitSpin* SignificantBitsSpin() const { return m_significant; }

  TTiffState State() const;
  void Apply(const TTiffState& s);

 protected:
  bool OnInitDialog() override;

 private:
  template <class F>
  void Run(F rule) {
    TTiffState s = State();
    rule(s);
    Apply(s);
  }

  ZarnTypes::TTiffExchange m_block;
  std::array<QRadioButton*, 5> m_space{};
  std::array<QRadioButton*, 5> m_depth{};
  std::array<QRadioButton*, 9> m_comp{};
  QRadioButton* m_halftone = nullptr;
  QRadioButton* m_octree = nullptr;
  OptsJpeg::CDigitSpin* m_significant = nullptr;
  QSlider* m_slider = nullptr;
  OptsJpeg::CDigitSpin* m_spin = nullptr;
  std::int32_t m_quality = kQualityMin;
};

}  // namespace OptsTiff
