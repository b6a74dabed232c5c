#pragma once
// The "PNG" page: colour type, bit depth, interlacing, compression level and
// the significant colour bits of the palette quantizer. Also the bit-depth
// rule shared by the PNG, JPEG 2000 and TIFF pages: which depths a colour
// space allows and which depth buttons it enables.
//
// Owners: the extended file dialog and the save-stream page answer
// WM_APP_OPTS_PNG with a TPngExchange.

#include <array>
#include <cstddef>
#include <cstdint>

#include "options/opts_jpeg.h"
#include "options/opts_page.h"

class QCheckBox;
class QPushButton;
class QRadioButton;

namespace ZarnTypes {

struct TPngExchange {
  TOptsExchangeHeader header;
  std::int32_t format = 0;       // the owner's, kept by it
  std::int32_t colorType = 0;    // 2 grey, 3 grey + alpha, 4 palette, 5 RGB, 6 RGB + alpha
  std::int32_t bitDepth = 0;     // 1, 2, 4, 8, 16
  std::uint8_t interlaced = 0;   // followed by 3 padding bytes
  std::uint8_t padding[3] = {};  //
  std::int32_t compression = 0;  // 0..9
  std::int32_t paletteMethod = 0;
  std::int32_t significantBits = 0;  // 1..8
  std::int32_t compressionMin = 0;   // written by the page
  std::int32_t compressionMax = 0;
  std::int32_t significantBitsMin = 0;
  std::int32_t significantBitsMax = 0;
};
static_assert(offsetof(TPngExchange, format) == 8);
static_assert(offsetof(TPngExchange, colorType) == 12);
static_assert(offsetof(TPngExchange, bitDepth) == 16);
static_assert(offsetof(TPngExchange, interlaced) == 20);
static_assert(offsetof(TPngExchange, compression) == 24);
static_assert(offsetof(TPngExchange, paletteMethod) == 28);
static_assert(offsetof(TPngExchange, significantBits) == 32);
static_assert(offsetof(TPngExchange, compressionMin) == 36);
static_assert(offsetof(TPngExchange, compressionMax) == 40);
static_assert(offsetof(TPngExchange, significantBitsMin) == 44);
static_assert(offsetof(TPngExchange, significantBitsMax) == 48);
static_assert(sizeof(TPngExchange) == 52);

}  // namespace ZarnTypes

namespace OptsPng {

// --- the bit-depth rule --------------------------------------------------------

// The five depth buttons' depths, in their order.
inline constexpr std::array<std::int32_t, 5> kDepths = {1, 2, 4, 8, 16};
// Index of a depth in kDepths, -1 for any other value.
int DepthIndex(std::int32_t depth);

// The buttons the rule reads and changes: the five colour-space buttons
// (grey, grey + alpha, palette, RGB, RGB + alpha) and the five depth buttons.
struct TBitDepthState {
  std::array<bool, 5> space{};
  std::array<bool, 5> depth{};
  std::array<bool, 5> depthEnabled{true, true, true, true, true};
};

// The first checked of 1, 2, 4 and 8; 16 when none of them is.
std::int32_t GetCheckedBitDepth(const TBitDepthState& s);
// The first checked colour space as 1..5; 5 when none of the first four is.
std::int32_t GetCheckedColourSpace(const TBitDepthState& s);
// `depth` when the checked colour space allows it (grey: any of the five;
// palette: 1, 2, 4, 8; the others: 8, 16; no space checked: none), else 8,
// and then, when `checkButton`, "8 bits" alone is checked.
std::int32_t ValidateBitDepth(TBitDepthState& s, std::int32_t depth, bool checkButton);
// Grey (1) enables every depth; palette (3) enables 1, 4, 8, disables 16
// and leaves 2; 2, 4 and 5 disable 1, 2, 4 and enable 8, 16; any other value
// changes nothing.
void EnableBitDepths(TBitDepthState& s, std::int32_t colourSpace);

// --- the page ----------------------------------------------------------------

inline constexpr std::int32_t kCompressionMin = 0;
inline constexpr std::int32_t kCompressionMax = 9;
inline constexpr std::int32_t kSignificantBitsMin = 1;
inline constexpr std::int32_t kSignificantBitsMax = 8;

class COptsPng : public OptsPage::COptsPage {
  Q_OBJECT
 public:
  static constexpr const char* kReadFailed = "Configuration data for Png file are not available";
  static constexpr const char* kWriteFailed = "Configuration data for Png file can not be set";

  explicit COptsPng(QWidget* parent = nullptr);
  ~COptsPng() override;

  void OnOK() override;

  const ZarnTypes::TPngExchange& Block() const { return m_block; }

  // Colour type 2..6 and depth index 0..4.
  QRadioButton* ColorTypeButton(std::int32_t colorType) const;
  QRadioButton* DepthButton(int index) const { return m_depth[static_cast<std::size_t>(index)]; }
  QCheckBox* InterlacedBox() const { return m_interlaced; }
  OptsJpeg::CDigitSpin* CompressionSpin() const { return m_compression; }
  OptsJpeg::CDigitSpin* SignificantBitsSpin() const { return m_significant; }
  QRadioButton* HalftoneButton() const { return m_halftone; }
  QRadioButton* OctreeButton() const { return m_octree; }

  // The rule's view of the buttons, and putting a changed view back.
  TBitDepthState State() const;
  void Apply(const TBitDepthState& s);

 protected:
  bool OnInitDialog() override;

 private:
  void OnColorType(std::int32_t colorType);
  bool AnyDepthChecked() const;

  ZarnTypes::TPngExchange m_block;
  std::array<QRadioButton*, 5> m_space{};
  std::array<QRadioButton*, 5> m_depth{};
  QCheckBox* m_interlaced = nullptr;
  OptsJpeg::CDigitSpin* m_compression = nullptr;
  OptsJpeg::CDigitSpin* m_significant = nullptr;
  QRadioButton* m_halftone = nullptr;
  QRadioButton* m_octree = nullptr;
};

}  // namespace OptsPng
