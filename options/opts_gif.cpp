#include "options/opts_gif.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "options/opts_image_common.h"

using namespace ZarnTypes;
using OptsJpeg::CDigitSpin;
using OptsJpeg::CheckOnly;
using OptsJpeg::ClampValue;

namespace OptsGif {

COptsGif::COptsGif(QWidget* parent) : COptsPage(QStringLiteral("GIF"), parent) {
  auto* columns = new QHBoxLayout(this);
  auto* left = new QVBoxLayout;
  auto* right = new QVBoxLayout;
  columns->addLayout(left);
  columns->addLayout(right);

  auto* space = new QGroupBox(QStringLiteral("Color space"), this);
  auto* spaceCol = new QVBoxLayout(space);
  m_rgb = new QRadioButton(QStringLiteral("RGB"), space);
  m_gray = new QRadioButton(QStringLiteral("Grayscale"), space);
  m_gray->setEnabled(false);
  spaceCol->addWidget(m_rgb);
  spaceCol->addWidget(m_gray);
  left->addWidget(space);

  const std::array<const char*, 4> depthTexts = {
      "1 bit / 2 colors with palette", "2 bit / 4 colors with palette", "4-bit / 16 colors with palette",
      " 8-bit / 256-color with palette"};
  auto* depth = OptsImage::MakeRadioColumn(this, "Bit depth", depthTexts, m_depth);
  m_depth[1]->setEnabled(false);
  left->addWidget(depth);
  left->addStretch(1);

  right->addWidget(OptsImage::MakePaletteGroup(this, m_halftone, m_octree, m_significant));

  // Transparency and interlacing are not written: shown disabled.
  auto* transparency = new QGroupBox(QStringLiteral("Transparency"), this);
  transparency->setEnabled(false);
  auto* transparencyGrid = new QVBoxLayout(transparency);
  for (const char* text : {"Simple transparency", "Alpha blending"}) {
    auto* row = new QHBoxLayout;
    row->addWidget(new QRadioButton(QString::fromUtf8(text), transparency));
    row->addStretch(1);
    row->addWidget(new QPushButton(QStringLiteral("Set"), transparency));
    transparencyGrid->addLayout(row);
  }
  right->addWidget(transparency);
  auto* interlaced = new QCheckBox(QStringLiteral("Interlaced"), this);
  interlaced->setEnabled(false);
  right->addWidget(interlaced);
  right->addStretch(1);
}

COptsGif::~COptsGif() = default;

QRadioButton* COptsGif::DepthButton(std::int32_t depth) const {
  for (std::size_t i = 0; i < kDepths.size(); ++i)
    if (kDepths[i] == depth) return m_depth[i];
  return nullptr;
}

bool COptsGif::OnInitDialog() {
  m_block = {};
  if (!ReadBlock(platform::qt::WM_APP_OPTS_GIF, 0, m_block, kReadFailed)) return false;

  m_block.significantBitsMin = kSignificantBitsMin;
  m_block.significantBitsMax = kSignificantBitsMax;
  m_significant->SetRange(kSignificantBitsMin, kSignificantBitsMax);
  m_significant->SetValue(m_block.significantBits);

  // Codes the page does not know check no button of their group; the depth
  // then goes back as read unless the user picks one.
  CheckOnly({m_rgb, m_gray}, m_block.colorSpace == 2 ? m_rgb : m_block.colorSpace == 1 ? m_gray : nullptr);
  CheckOnly({m_depth[0], m_depth[1], m_depth[2], m_depth[3]}, DepthButton(m_block.bitDepth));
  CheckOnly({m_halftone, m_octree}, m_block.paletteMethod == 1 ? m_halftone : m_octree);

  if (ReadOnly()) setEnabled(false);
  return true;
}

void COptsGif::OnOK() {
  if (InitResult()) {
    if (const int depth = OptsImage::FirstChecked(m_depth); depth >= 0)
      m_block.bitDepth = kDepths[static_cast<std::size_t>(depth)];
    m_block.significantBits = OptsImage::SignificantBitsOf(m_significant, m_block.significantBits);
  }
  WriteBlock(platform::qt::WM_APP_OPTS_GIF, 0, m_block, kWriteFailed);
}

}  // namespace OptsGif
