#pragma once
// The "GIF" page: the depth of the palette picture and the significant
// colour bits of the palette quantizer. The colour space and the palette
// method are shown as the owner holds them and go back unchanged.
//
// Owners: the extended file dialog and the save-stream page answer
// WM_APP_OPTS_GIF with a TGifExchange.

#include <array>
#include <cstddef>
#include <cstdint>

#include "options/opts_jpeg.h"
#include "options/opts_page.h"

class QRadioButton;

namespace ZarnTypes {

struct TGifExchange {
  TOptsExchangeHeader header;
  std::int32_t format = 0;  // the owner's, kept by it
  std::int32_t reserved1 = 0;
  std::int32_t reserved2 = 0;
  std::int32_t colorSpace = 0;  // 1 grey, 2 RGB; shown only
  std::int32_t bitDepth = 0;    // 1, 2, 4, 8
  std::int32_t reserved3 = 0;
  std::int32_t paletteMethod = 0;  // shown only
  std::int32_t significantBits = 0;
  std::int32_t significantBitsMin = 0;  // written by the page
  std::int32_t significantBitsMax = 0;
};
static_assert(offsetof(TGifExchange, format) == 8);
static_assert(offsetof(TGifExchange, reserved1) == 12);
static_assert(offsetof(TGifExchange, reserved2) == 16);
static_assert(offsetof(TGifExchange, colorSpace) == 20);
static_assert(offsetof(TGifExchange, bitDepth) == 24);
static_assert(offsetof(TGifExchange, reserved3) == 28);
static_assert(offsetof(TGifExchange, paletteMethod) == 32);
static_assert(offsetof(TGifExchange, significantBits) == 36);
static_assert(offsetof(TGifExchange, significantBitsMin) == 40);
static_assert(offsetof(TGifExchange, significantBitsMax) == 44);
static_assert(sizeof(TGifExchange) == 48);

}  // namespace ZarnTypes

namespace OptsGif {

inline constexpr std::int32_t kSignificantBitsMin = 1;
inline constexpr std::int32_t kSignificantBitsMax = 8;
// The depth buttons' depths, in their order on the page.
inline constexpr std::array<std::int32_t, 4> kDepths = {1, 2, 4, 8};

class COptsGif : public OptsPage::COptsPage {
  Q_OBJECT
 public:
  static constexpr const char* kReadFailed = "Configuration data for Gif file are not available";
  static constexpr const char* kWriteFailed = "Configuration data for GIF file can not be set";

  explicit COptsGif(QWidget* parent = nullptr);
  ~COptsGif() override;

  void OnOK() override;

  const ZarnTypes::TGifExchange& Block() const { return m_block; }

  QRadioButton* RgbButton() const { return m_rgb; }
  QRadioButton* GrayButton() const { return m_gray; }
  // The button of depth 1, 2, 4 or 8 (nullptr for others).
  QRadioButton* DepthButton(std::int32_t depth) const;
  QRadioButton* HalftoneButton() const { return m_halftone; }
  QRadioButton* OctreeButton() const { return m_octree; }
  OptsJpeg::CDigitSpin* SignificantBitsSpin() const { return m_significant; }

 protected:
  bool OnInitDialog() override;

 private:
  ZarnTypes::TGifExchange m_block;
  QRadioButton* m_rgb = nullptr;
  QRadioButton* m_gray = nullptr;
  std::array<QRadioButton*, 4> m_depth{};
  QRadioButton* m_halftone = nullptr;
  QRadioButton* m_octree = nullptr;
  OptsJpeg::CDigitSpin* m_significant = nullptr;
};

}  // namespace OptsGif
