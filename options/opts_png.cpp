#include "options/opts_png.h"

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

namespace OptsPng {

// --- the bit-depth rule --------------------------------------------------------

int DepthIndex(std::int32_t depth) {
  for (std::size_t i = 0; i < kDepths.size(); ++i)
    if (kDepths[i] == depth) return static_cast<int>(i);
  return -1;
}

std::int32_t GetCheckedBitDepth(const TBitDepthState& s) {
  for (std::size_t i = 0; i < 4; ++i)
    if (s.depth[i]) return kDepths[i];
  return 16;
}

std::int32_t GetCheckedColourSpace(const TBitDepthState& s) {
  for (std::size_t i = 0; i < 4; ++i)
    if (s.space[i]) return static_cast<std::int32_t>(i) + 1;
  return 5;
}

std::int32_t ValidateBitDepth(TBitDepthState& s, std::int32_t depth, bool checkButton) {
  bool allowed = false;
  if (s.space[0]) {
    allowed = DepthIndex(depth) >= 0;
  } else if (s.space[2]) {
    allowed = depth == 1 || depth == 2 || depth == 4 || depth == 8;
  } else if (s.space[1] || s.space[3] || s.space[4]) {
    allowed = depth == 8 || depth == 16;
  }
  if (allowed) return depth;
  if (checkButton) s.depth = {false, false, false, true, false};
  return 8;
}

void EnableBitDepths(TBitDepthState& s, std::int32_t colourSpace) {
  switch (colourSpace) {
    case 1: s.depthEnabled = {true, true, true, true, true}; break;
    case 3:
      s.depthEnabled[0] = s.depthEnabled[2] = s.depthEnabled[3] = true;
      s.depthEnabled[4] = false;
      break;
    case 2:
    case 4:
    case 5: s.depthEnabled = {false, false, false, true, true}; break;
    default: break;
  }
}

// --- the page ----------------------------------------------------------------

namespace {

const std::array<const char*, 5> kSpaceTexts = {"Grayscale", "Grayscale + Alpha Transparency Channel",
                                                "Color palette", "RGB", "RGB + Alpha Transparency Channel"};

}  // namespace

COptsPng::COptsPng(QWidget* parent) : COptsPage(QStringLiteral("PNG"), parent) {
  auto* columns = new QHBoxLayout(this);
  auto* left = new QVBoxLayout;
  auto* right = new QVBoxLayout;
  columns->addLayout(left);
  columns->addLayout(right);

  auto* space = OptsImage::MakeRadioColumn(this, "Color space", kSpaceTexts, m_space);
  for (std::size_t i = 0; i < m_space.size(); ++i) {
    const std::int32_t type = static_cast<std::int32_t>(i) + 2;
    connect(m_space[i], &QRadioButton::clicked, this, [this, type] { OnColorType(type); });
  }
  left->addWidget(space);

  auto* depth = OptsImage::MakeRadioColumn(this, "Bit depth", OptsImage::kDepthTexts, m_depth);
  // "16 bits" is never offered (a depth of 16 read with a grey type is
  // kept on it): hidden before the first layout, the group ends at "8 bits".
  m_depth[4]->hide();
  right->addWidget(depth);

  const OptsImage::TPaletteGroup palette = OptsImage::MakePaletteGroup(this);
  m_halftone = palette.halftone;
  m_octree = palette.octree;
  m_significant = palette.significant;
  m_significant->setObjectName(QStringLiteral("significantBits"));
  left->addWidget(palette.group);
  left->addStretch(1);

  m_interlaced = new QCheckBox(QStringLiteral("Interlaced"), this);
  right->addWidget(m_interlaced);
  auto* compressionRow = new QHBoxLayout;
  compressionRow->addWidget(new QLabel(QStringLiteral("Compression level, 0 - 9"), this));
  m_compression = new CDigitSpin(this);
  m_compression->setObjectName(QStringLiteral("compression"));
  compressionRow->addWidget(m_compression);
  compressionRow->addStretch(1);
  right->addLayout(compressionRow);
  auto* buttons = new QHBoxLayout;
  for (const char* text : {"Gamma", "Comments", "Transparency"}) {
    auto* b = new QPushButton(QString::fromUtf8(text), this);
    b->setEnabled(false);
    buttons->addWidget(b);
  }
  right->addLayout(buttons);
  right->addStretch(1);
}

COptsPng::~COptsPng() = default;

QRadioButton* COptsPng::ColorTypeButton(std::int32_t colorType) const {
  return colorType >= 2 && colorType <= 6 ? m_space[static_cast<std::size_t>(colorType - 2)] : nullptr;
}

TBitDepthState COptsPng::State() const {
  TBitDepthState s;
  for (std::size_t i = 0; i < 5; ++i) s.space[i] = m_space[i]->isChecked();
  OptsImage::ReadDepths(m_depth, s);
  return s;
}

void COptsPng::Apply(const TBitDepthState& s) { OptsImage::ApplyDepths(m_depth, s); }

bool COptsPng::AnyDepthChecked() const {
  for (QRadioButton* b : m_depth)
    if (b->isChecked()) return true;
  return false;
}

bool COptsPng::OnInitDialog() {
  m_block = {};
  if (!ReadBlock(platform::qt::WM_APP_OPTS_PNG, 0, m_block, kReadFailed)) return false;

  // The page's limits are its own, whatever the owner sent.
  m_block.compressionMin = kCompressionMin;
  m_block.compressionMax = kCompressionMax;
  m_block.significantBitsMin = kSignificantBitsMin;
  m_block.significantBitsMax = kSignificantBitsMax;
  m_compression->SetRange(kCompressionMin, kCompressionMax);
  m_compression->SetValue(m_block.compression);

  // A colour type or a depth the page does not know checks no button of its
  // group and goes back as read unless the user picks one.
  QRadioButton* type = ColorTypeButton(m_block.colorType);
  CheckOnly({m_space[0], m_space[1], m_space[2], m_space[3], m_space[4]}, type);
  TBitDepthState s = State();
  const std::int32_t depth = type ? ValidateBitDepth(s, m_block.bitDepth, false) : m_block.bitDepth;
  s.depth = {};
  if (DepthIndex(depth) >= 0) s.depth[static_cast<std::size_t>(DepthIndex(depth))] = true;
  if (type) EnableBitDepths(s, m_block.colorType - 1);
  Apply(s);

  m_interlaced->setChecked(m_block.interlaced != 0);
  OptsImage::ShowPalette(m_halftone, m_octree, m_significant, m_block.paletteMethod, m_block.significantBits,
                         kSignificantBitsMin, kSignificantBitsMax);

  if (ReadOnly()) setEnabled(false);
  return true;
}

void COptsPng::OnColorType(std::int32_t colorType) {
  TBitDepthState s = State();
  const std::int32_t depth = AnyDepthChecked() ? GetCheckedBitDepth(s) : m_block.bitDepth;
  const std::int32_t valid = ValidateBitDepth(s, depth, true);
  if (!AnyDepthChecked() && DepthIndex(valid) >= 0) {
    s.depth = {};
    s.depth[static_cast<std::size_t>(DepthIndex(valid))] = true;
  }
  EnableBitDepths(s, colorType - 1);
  Apply(s);
}

void COptsPng::OnOK() {
  if (InitResult()) {
    const TBitDepthState s = State();
    for (std::size_t i = 0; i < 5; ++i) {
      if (s.space[i]) {
        m_block.colorType = static_cast<std::int32_t>(i) + 2;
        break;
      }
    }
    if (AnyDepthChecked()) m_block.bitDepth = GetCheckedBitDepth(s);
    m_block.interlaced = m_interlaced->isChecked() ? 1 : 0;
    m_block.compression =
        ClampValue(m_compression->Value(m_block.compression), kCompressionMin, kCompressionMax);
    m_block.significantBits =
        ClampValue(m_significant->Value(m_block.significantBits), kSignificantBitsMin, kSignificantBitsMax);
  }
  WriteBlock(platform::qt::WM_APP_OPTS_PNG, 0, m_block, kWriteFailed);
}

}  // namespace OptsPng
