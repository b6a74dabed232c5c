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

const std::array<const char*, 3> kCompressionTexts = {"Lossless", "JP2 codec", "JPC codec"};

}  // namespace

COptsJpeg2000::COptsJpeg2000(QWidget* parent) : COptsPage(QStringLiteral("JPEG-2000"), parent) {
  const OptsImage::TPageColumns page = OptsImage::MakePageColumns(this);
  QVBoxLayout* left = page.left;
  QVBoxLayout* right = page.right;

  const OptsImage::TSampleGroups groups = OptsImage::MakeSampleGroups(this, m_space, m_depth, 3);
  left->addWidget(groups.space);

  // Not offered for JPEG 2000: hidden from the first layout, so nothing
  // leaves a gap for it.
  m_palette = OptsImage::MakePaletteGroup(this, m_halftone, m_octree, m_significant);
  m_palette->hide();
  left->addWidget(m_palette);
  left->addStretch(1);

  right->addWidget(groups.depth);

  auto* compression = OptsImage::MakeRadioColumn(this, "Compression", kCompressionTexts, m_compression);
  right->addWidget(compression);
  right->addStretch(1);

  OptsImage::AddQualityRow(this, page, m_slider, m_spin, &m_quality, kQualityMin, kQualityMax);
}

COptsJpeg2000::~COptsJpeg2000() = default;

QRadioButton* COptsJpeg2000::SpaceButton(std::int32_t space) const {
  return OptsImage::ButtonOf(m_space, space, 1);
}

QRadioButton* COptsJpeg2000::CompressionButton(std::int32_t compression) const {
  return OptsImage::ButtonOf(m_compression, compression, 1);
}

bool COptsJpeg2000::OnInitDialog() {
  m_block = {};
  if (!ReadBlock(platform::qt::WM_APP_OPTS_JPEG2000, 0, m_block, kReadFailed)) return false;

  // The page's limits first: they are its own, whatever the owner sent.
  OptsImage::WriteLimits(m_block, kQualityMin, kQualityMax, kSignificantBitsMin, kSignificantBitsMax);

  // Every group is set up; one whose code the page does not know checks no
  // button and goes back as read unless the user picks one.
  OptsImage::ApplyDepths(
      m_depth, OptsImage::OpenSpaceAndDepth(m_space, m_depth, m_block.colorSpace, 1, m_block.bitDepth));
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
    OptsImage::StoreChecked(m_space, 1, m_block.colorSpace);
    OptsImage::StoreCheckedDepth(m_depth, m_block.bitDepth);
    if (const int compression = OptsImage::FirstChecked(m_compression); compression >= 0) {
      m_block.compression = compression + 1;
      m_block.format = FormatOfCompression(m_block.compression);
    }
    m_block.significantBits = OptsImage::SignificantBitsOf(m_significant, m_block.significantBits);
  }
  WriteBlock(platform::qt::WM_APP_OPTS_JPEG2000, 0, m_block, kWriteFailed);
}

}  // namespace OptsJpeg2000
