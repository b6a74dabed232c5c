#include "options/opts_jpeg2000.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include "options/opts_image_common.h"

using namespace ZarnTypes;
using OptsJpeg::CDigitSpin;
using OptsJpeg::CheckOnly;
using OptsJpeg::ClampValue;
using OptsPng::DepthIndex;
using OptsPng::TBitDepthState;

namespace OptsJpeg2000 {

std::int32_t FormatOfCompression(std::int32_t compression) {
  return compression == 3 ? kFormatJpc : kFormatJp2;
}

std::int32_t CompressionShown(std::int32_t format, std::int32_t compression) {
  if (format == kFormatJp2) return compression == 1 ? 1 : 2;
  if (format == kFormatJpc) return 3;
  return 0;
}

namespace {

const std::array<const char*, 5> kSpaceTexts = {
    "Grayscale, 1 sample", "Grayscale + Alpha Transparency, 2 samples", "Color palette, 1 sample",
    "RGB, 3 samples", "RGB + Alpha Transparency, 4 samples"};
const std::array<const char*, 3> kCompressionTexts = {"Lossless", "JP2 codec", "JPC codec"};

}  // namespace

COptsJpeg2000::COptsJpeg2000(QWidget* parent) : COptsPage(QStringLiteral("JPEG-2000"), parent) {
  auto* outer = new QVBoxLayout(this);
  auto* columns = new QHBoxLayout;
  auto* left = new QVBoxLayout;
  auto* right = new QVBoxLayout;
  columns->addLayout(left);
  columns->addLayout(right);
  outer->addLayout(columns);

  auto* space = OptsImage::MakeRadioColumn(this, "Color space", kSpaceTexts, m_space);
  for (std::size_t i = 0; i < m_space.size(); ++i) m_space[i]->setEnabled(i >= 3);
  left->addWidget(space);

  // Not offered for JPEG 2000: hidden from the first layout, so nothing
  // leaves a gap for it.
  const OptsImage::TPaletteGroup palette = OptsImage::MakePaletteGroup(this);
  m_palette = palette.group;
  m_halftone = palette.halftone;
  m_octree = palette.octree;
  m_significant = palette.significant;
  m_palette->hide();
  left->addWidget(m_palette);
  left->addStretch(1);

  auto* depth = OptsImage::MakeRadioColumn(this, "Bit depth", OptsImage::kDepthTexts, m_depth);
  m_depth[1]->setEnabled(false);
  m_depth[4]->setEnabled(false);
  m_depth[4]->hide();
  right->addWidget(depth);

  auto* compression = OptsImage::MakeRadioColumn(this, "Compression", kCompressionTexts, m_compression);
  right->addWidget(compression);
  right->addStretch(1);

  OptsImage::MakeQualityRow(this, outer, m_slider, m_spin);
  m_spin->SetRange(kQualityMin, kQualityMax);
  outer->addStretch(1);

  OptsImage::ConnectQuality(this, m_slider, m_spin, &m_quality);
}

COptsJpeg2000::~COptsJpeg2000() = default;

QRadioButton* COptsJpeg2000::SpaceButton(std::int32_t space) const {
  return space >= 1 && space <= 5 ? m_space[static_cast<std::size_t>(space - 1)] : nullptr;
}

QRadioButton* COptsJpeg2000::CompressionButton(std::int32_t compression) const {
  return compression >= 1 && compression <= 3 ? m_compression[static_cast<std::size_t>(compression - 1)]
                                              : nullptr;
}

bool COptsJpeg2000::OnInitDialog() {
  m_block = {};
  if (!ReadBlock(platform::qt::WM_APP_OPTS_JPEG2000, 0, m_block, kReadFailed)) return false;

  // The page's limits first: they are its own, whatever the owner sent.
  m_block.qualityMin = kQualityMin;
  m_block.qualityMax = kQualityMax;
  m_block.significantBitsMin = kSignificantBitsMin;
  m_block.significantBitsMax = kSignificantBitsMax;

  // Every group is set up; one whose code the page does not know checks no
  // button and goes back as read unless the user picks one.
  QRadioButton* space = SpaceButton(m_block.colorSpace);
  CheckOnly({m_space[0], m_space[1], m_space[2], m_space[3], m_space[4]}, space);
  TBitDepthState s;
  for (std::size_t i = 0; i < 5; ++i) {
    s.space[i] = m_space[i]->isChecked();
    s.depthEnabled[i] = m_depth[i]->isEnabled();
  }
  const int readIndex = DepthIndex(m_block.bitDepth);
  if (readIndex >= 0) s.depth[static_cast<std::size_t>(readIndex)] = true;
  if (space) {
    OptsPng::ValidateBitDepth(s, m_block.bitDepth, true);
    OptsPng::EnableBitDepths(s, m_block.colorSpace);
  }
  OptsImage::ApplyDepths(m_depth, s);
  CheckOnly({m_compression[0], m_compression[1], m_compression[2]},
            CompressionButton(CompressionShown(m_block.format, m_block.compression)));

  m_quality = m_block.quality;
  OptsImage::ShowQuality(m_slider, m_spin, m_quality, kQualityMin, kQualityMax, kQualityTicks);

  OptsImage::ShowPalette(m_halftone, m_octree, m_significant, m_block.paletteMethod, m_block.significantBits,
                         kSignificantBitsMin, kSignificantBitsMax);
  return true;
}

void COptsJpeg2000::OnOK() {
  if (InitResult()) {
    m_quality = ClampValue(m_spin->Value(m_quality), kQualityMin, kQualityMax);
    m_block.quality = m_quality;
    if (const int space = OptsImage::FirstChecked(m_space); space >= 0) m_block.colorSpace = space + 1;
    if (const int depth = OptsImage::FirstChecked(m_depth); depth >= 0)
      m_block.bitDepth = OptsPng::kDepths[static_cast<std::size_t>(depth)];
    if (const int compression = OptsImage::FirstChecked(m_compression); compression >= 0) {
      m_block.compression = compression + 1;
      m_block.format = FormatOfCompression(m_block.compression);
    }
    m_block.significantBits =
        ClampValue(m_significant->Value(m_block.significantBits), kSignificantBitsMin, kSignificantBitsMax);
  }
  WriteBlock(platform::qt::WM_APP_OPTS_JPEG2000, 0, m_block, kWriteFailed);
}

}  // namespace OptsJpeg2000
