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
  const OptsImage::TPageColumns page = OptsImage::MakePageColumns(this);
  QVBoxLayout* left = page.left;
  QVBoxLayout* right = page.right;

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

  left->addWidget(OptsImage::MakePaletteGroup(this, m_halftone, m_octree, m_significant));
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
  page.outer->addStretch(1);
}

COptsPng::~COptsPng() = default;

QRadioButton* COptsPng::ColorTypeButton(std::int32_t colorType) const {
  return OptsImage::ButtonOf(m_space, colorType, 2);
}

TBitDepthState COptsPng::State() const {
  TBitDepthState s;
  OptsImage::ReadSpaceAndDepths(m_space, m_depth, s);
  return s;
}

void COptsPng::Apply(const TBitDepthState& s) { OptsImage::ApplyDepths(m_depth, s); }

bool COptsPng::AnyDepthChecked() const { return OptsImage::FirstChecked(m_depth) >= 0; }

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
  Apply(OptsImage::OpenSpaceAndDepth(m_space, m_depth, m_block.colorType, 2, m_block.bitDepth));

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
    OptsImage::StoreChecked(m_space, 2, m_block.colorType);
    OptsImage::StoreCheckedDepth(m_depth, m_block.bitDepth);
    m_block.interlaced = m_interlaced->isChecked() ? 1 : 0;
    m_block.compression =
        ClampValue(m_compression->Value(m_block.compression), kCompressionMin, kCompressionMax);
    m_block.significantBits = OptsImage::SignificantBitsOf(m_significant, m_block.significantBits);
  }
  WriteBlock(platform::qt::WM_APP_OPTS_PNG, 0, m_block, kWriteFailed);
}

}  // namespace OptsPng
