#include "options/opts_tiff.h"

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

namespace OptsTiff {

int CompressionIndex(std::int32_t code) {
  for (std::size_t i = 0; i < kCompressions.size(); ++i)
    if (kCompressions[i] == code) return static_cast<int>(i);
  return -1;
}

std::int32_t GetCheckedCompression(const TTiffState& s) {
  for (std::size_t i = 0; i < C_FAX4; ++i)
    if (s.comp[i]) return kCompressions[i];
  return 9;
}

std::int32_t ValidateCompression(TTiffState& s, std::int32_t code) {
  const bool bilevelOnly = s.comp[C_HUFFMAN] || s.comp[C_FAX3] || s.comp[C_FAX4];
  if ((bilevelOnly && !s.depth[0]) || (s.space[2] && code == 4)) {
    s.comp = {};
    s.comp[C_LZW] = true;
    return 2;
  }
  return code;
}

namespace {

void EnableBilevel(TTiffState& s) {
  s.compEnabled[C_HUFFMAN] = s.compEnabled[C_FAX3] = s.compEnabled[C_FAX4] = s.depth[0];
}

}  // namespace

void EnableCompressions(TTiffState& s, std::int32_t colourSpace) {
  if (colourSpace < 1 || colourSpace > 5) return;
  s.compEnabled[C_NONE] = s.compEnabled[C_LZW] = s.compEnabled[C_PACKBITS] = s.compEnabled[C_ZIP] = true;
  s.compEnabled[C_JPEG] = s.compEnabled[C_JPEG2000] = colourSpace != 3;
  EnableBilevel(s);
}

void OnColorPalette(TTiffState& s) {
  OptsPng::ValidateBitDepth(s, OptsPng::GetCheckedBitDepth(s), true);
  OptsPng::EnableBitDepths(s, 3);
  ValidateCompression(s, GetCheckedCompression(s));
  EnableCompressions(s, 3);
}

void OnRgb(TTiffState& s) {
  OptsPng::ValidateBitDepth(s, OptsPng::GetCheckedBitDepth(s), true);
  OptsPng::EnableBitDepths(s, 4);
  ValidateCompression(s, GetCheckedCompression(s));
  EnableCompressions(s, 4);
}

void OnBitDepth(TTiffState& s) {
  ValidateCompression(s, GetCheckedCompression(s));
  EnableCompressions(s, OptsPng::GetCheckedColourSpace(s));
}

// --- the page ----------------------------------------------------------------

namespace {

const std::array<const char*, 9> kCompressionTexts = {
    "None", "LZW", "Packbits", "JPEG", "JPEG2000", "ZIP", "Huffman RLE", "CCITT Fax 3", "CCITT Fax 4"};

}  // namespace

COptsTiff::COptsTiff(QWidget* parent) : COptsPage(QStringLiteral("TIFF"), parent) {
  const OptsImage::TPageColumns page = OptsImage::MakePageColumns(this);
  QVBoxLayout* left = page.left;
  QVBoxLayout* right = page.right;

  const OptsImage::TSampleGroups groups = OptsImage::MakeSampleGroups(this, m_space, m_depth, 2);
  connect(m_space[2], &QRadioButton::clicked, this, [this] { Run(OnColorPalette); });
  connect(m_space[3], &QRadioButton::clicked, this, [this] { Run(OnRgb); });
  connect(m_space[4], &QRadioButton::clicked, this, [this] { Run(OnRgb); });
  for (QRadioButton* b : m_depth) connect(b, &QRadioButton::clicked, this, [this] { Run(OnBitDepth); });
  left->addWidget(groups.space);
  left->addWidget(groups.depth);
  left->addWidget(OptsImage::MakePaletteGroup(this, m_halftone, m_octree, m_significant));
  left->addStretch(1);

  auto* compression = OptsImage::MakeRadioColumn(this, "Compression", kCompressionTexts, m_comp);
  // No JPEG 2000 coding in the TIFF writer: never offered.
  m_comp[C_JPEG2000]->setEnabled(false);
  m_comp[C_JPEG2000]->hide();
  right->addWidget(compression);
  right->addStretch(1);

  OptsImage::AddQualityRow(this, page, m_slider, m_spin, &m_quality, kQualityMin, kQualityMax);
}

COptsTiff::~COptsTiff() = default;

QRadioButton* COptsTiff::SpaceButton(std::int32_t space) const {
  return OptsImage::ButtonOf(m_space, space, 1);
}

QRadioButton* COptsTiff::CompressionButton(std::int32_t code) const {
  const int i = CompressionIndex(code);
  return i >= 0 ? m_comp[static_cast<std::size_t>(i)] : nullptr;
}

TTiffState COptsTiff::State() const {
  TTiffState s;
  OptsImage::ReadSpaceAndDepths(m_space, m_depth, s);
  for (std::size_t i = 0; i < m_comp.size(); ++i) {
    s.comp[i] = m_comp[i]->isChecked();
    s.compEnabled[i] = m_comp[i]->isEnabled();
  }
  return s;
}

void COptsTiff::Apply(const TTiffState& s) {
  OptsImage::ApplyDepths(m_depth, s);
  QRadioButton* comp = nullptr;
  for (std::size_t i = 0; i < m_comp.size(); ++i) {
    if (s.comp[i] && !comp) comp = m_comp[i];
    m_comp[i]->setEnabled(s.compEnabled[i]);
  }
  CheckOnly(
      {m_comp[0], m_comp[1], m_comp[2], m_comp[3], m_comp[4], m_comp[5], m_comp[6], m_comp[7], m_comp[8]},
      comp);
}

bool COptsTiff::OnInitDialog() {
  m_block = {};
  if (!ReadBlock(platform::qt::WM_APP_OPTS_TIFF, 0, m_block, kReadFailed)) return false;

  // The page's limits first: they are its own, whatever the owner sent.
  OptsImage::WriteLimits(m_block, kQualityMin, kQualityMax, kSignificantBitsMin, kSignificantBitsMax);

  // Every group is set up; one whose code the page does not know checks no
  // button and goes back as read unless the user picks one.
  TTiffState s = State();
  static_cast<OptsPng::TBitDepthState&>(s) =
      OptsImage::OpenSpaceAndDepth(m_space, m_depth, m_block.colorSpace, 1, m_block.bitDepth);
  const int compIndex = CompressionIndex(m_block.compression);
  s.comp = {};
  if (compIndex >= 0) {
    s.comp[static_cast<std::size_t>(compIndex)] = true;
    ValidateCompression(s, m_block.compression);
  }
  EnableCompressions(s, m_block.colorSpace);
  Apply(s);

  m_quality = m_block.quality;
  OptsImage::ShowQuality(m_slider, m_spin, m_quality, kQualityMin, kQualityMax, kQualityTicks);

  OptsImage::ShowPalette(m_halftone, m_octree, m_significant, m_block.paletteMethod, m_block.significantBits,
                         kSignificantBitsMin, kSignificantBitsMax);
  return true;
}

void COptsTiff::OnOK() {
  if (InitResult()) {
    m_quality = ClampValue(m_spin->Value(m_quality), kQualityMin, kQualityMax);
    m_block.quality = m_quality;
    OptsImage::StoreChecked(m_space, 1, m_block.colorSpace);
    OptsImage::StoreCheckedDepth(m_depth, m_block.bitDepth);
    // No compression checked (a code the page does not know) goes back as
    // read, not as the rule's Fax 4.
    if (OptsImage::FirstChecked(m_comp) >= 0) m_block.compression = GetCheckedCompression(State());
    m_block.significantBits = OptsImage::SignificantBitsOf(m_significant, m_block.significantBits);
  }
  WriteBlock(platform::qt::WM_APP_OPTS_TIFF, 0, m_block, kWriteFailed);
}

}  // namespace OptsTiff
