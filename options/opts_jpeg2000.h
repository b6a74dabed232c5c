#pragma once
// The "JPEG-2000" page: colour space, bit depth, lossless or lossy coding in
// a JP2 file or a bare code stream, and the quality (1..1000; the writer's
// rate is the quality divided by 1000).
//
// Owners: the extended file dialog and the save-stream page answer
// WM_APP_OPTS_JPEG2000 with a TJpeg2000Exchange.

#include <array>
#include <cstddef>
#include <cstdint>

#include "options/opts_jpeg.h"
#include "options/opts_page.h"
#include "options/opts_png.h"

class QGroupBox;
class QRadioButton;
class QSlider;

namespace ZarnTypes {

struct TJpeg2000Exchange {
  TOptsExchangeHeader header;
  std::int32_t format = 0;  // 41 JP2, 42 code stream; written by the page
  std::int32_t reserved1 = 0;
  std::int32_t colorSpace = 0;  // 1..5
  std::int32_t bitDepth = 0;    // 1, 2, 4, 8, 16
  std::int32_t reserved2 = 0;
  std::int32_t paletteMethod = 0;  // shown only
  std::int32_t significantBits = 0;
  std::int32_t compression = 0;  // 1 lossless, 2 JP2 codec, 3 JPC codec
  std::int32_t quality = 0;      // 1..1000
  std::int32_t qualityMin = 0;   // written by the page
  std::int32_t qualityMax = 0;
  std::int32_t significantBitsMin = 0;
  std::int32_t significantBitsMax = 0;
};
static_assert(offsetof(TJpeg2000Exchange, format) == 8);
static_assert(offsetof(TJpeg2000Exchange, colorSpace) == 16);
static_assert(offsetof(TJpeg2000Exchange, bitDepth) == 20);
static_assert(offsetof(TJpeg2000Exchange, paletteMethod) == 28);
static_assert(offsetof(TJpeg2000Exchange, significantBits) == 32);
static_assert(offsetof(TJpeg2000Exchange, compression) == 36);
static_assert(offsetof(TJpeg2000Exchange, quality) == 40);
static_assert(offsetof(TJpeg2000Exchange, qualityMin) == 44);
static_assert(offsetof(TJpeg2000Exchange, qualityMax) == 48);
static_assert(offsetof(TJpeg2000Exchange, significantBitsMin) == 52);
static_assert(offsetof(TJpeg2000Exchange, significantBitsMax) == 56);
static_assert(sizeof(TJpeg2000Exchange) == 60);

}  // namespace ZarnTypes

namespace OptsJpeg2000 {

inline constexpr std::int32_t kFormatJp2 = 41;
inline constexpr std::int32_t kFormatJpc = 42;
inline constexpr std::int32_t kQualityMin = 1;
inline constexpr std::int32_t kQualityMax = 1000;
inline constexpr int kQualityTicks = 100;
inline constexpr std::int32_t kSignificantBitsMin = 1;
inline constexpr std::int32_t kSignificantBitsMax = 8;

// The format a compression is written in: "JPC codec" (3) a bare code
// stream, the others a JP2 file.
std::int32_t FormatOfCompression(std::int32_t compression);
// The compression button a block opens on: 1..3, 0 for none. Lossless only
// from format 41 with compression 1; any other compression of format 41 is
// the JP2 codec; format 42 the JPC codec; other formats none.
std::int32_t CompressionShown(std::int32_t format, std::int32_t compression);

class COptsJpeg2000 : public OptsPage::COptsPage {
  Q_OBJECT
 public:
  static constexpr const char* kReadFailed = "Configuration data for JPEG-2000 file are not available";
  static constexpr const char* kWriteFailed = "Configuration data for JPEG-2000 file can not be set";

  explicit COptsJpeg2000(QWidget* parent = nullptr);
  ~COptsJpeg2000() override;

  void OnOK() override;

  const ZarnTypes::TJpeg2000Exchange& Block() const { return m_block; }

  // Colour space 1..5, depth index 0..4, compression 1..3.
  QRadioButton* SpaceButton(std::int32_t space) const;
  QRadioButton* DepthButton(int index) const { return m_depth[static_cast<std::size_t>(index)]; }
  QRadioButton* CompressionButton(std::int32_t compression) const;
  QSlider* QualitySlider() const { return m_slider; }
  OptsJpeg::CDigitSpin* QualitySpin() const { return m_spin; }
  QGroupBox* PaletteGroup() const { return m_palette; }

 protected:
  bool OnInitDialog() override;

 private:
  ZarnTypes::TJpeg2000Exchange m_block;
  std::array<QRadioButton*, 5> m_space{};
  std::array<QRadioButton*, 5> m_depth{};
  std::array<QRadioButton*, 3> m_compression{};
  QGroupBox* m_palette = nullptr;
  QRadioButton* m_halftone = nullptr;
  QRadioButton* m_octree = nullptr;
  OptsJpeg::CDigitSpin* m_significant = nullptr;
  QSlider* m_slider = nullptr;
  OptsJpeg::CDigitSpin* m_spin = nullptr;
  std::int32_t m_quality = kQualityMin;
};

}  // namespace OptsJpeg2000
