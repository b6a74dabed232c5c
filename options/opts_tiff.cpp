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
using OptsPng::DepthIndex;

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

const std::array<const char*, 5> kSpaceTexts = {
    "Grayscale, 1 sample", "Grayscale + Alpha Transparency, 2 samples", "Color palette, 1 sample",
    "RGB, 3 samples", "RGB + Alpha Transparency, 4 samples"};
const std::array<const char*, 9> kCompressionTexts = {
    "None", "LZW", "Packbits", "JPEG", "JPEG2000", "ZIP", "Huffman RLE", "CCITT Fax 3", "CCITT Fax 4"};

}  // namespace

COptsTiff::COptsTiff(QWidget* parent) : COptsPage(QStringLiteral("TIFF"), parent) {
  auto* outer = new QVBoxLayout(this);
  auto* columns = new QHBoxLayout;
  auto* left = new QVBoxLayout;
  auto* right = new QVBoxLayout;
  columns->addLayout(left);
  columns->addLayout(right);
  outer->addLayout(columns);

  auto* space = OptsImage::MakeRadioColumn(this, "Color space", kSpaceTexts, m_space);
  for (std::size_t i = 0; i < m_space.size(); ++i) m_space[i]->setEnabled(i >= 2);
  connect(m_space[2], &QRadioButton::clicked, this, [this] { Run(OnColorPalette); });
  connect(m_space[3], &QRadioButton::clicked, this, [this] { Run(OnRgb); });
  connect(m_space[4], &QRadioButton::clicked, this, [this] { Run(OnRgb); });
  left->addWidget(space);

  auto* depth = OptsImage::MakeRadioColumn(this, "Bit depth", OptsImage::kDepthTexts, m_depth);
  for (QRadioButton* b : m_depth) connect(b, &QRadioButton::clicked, this, [this] { Run(OnBitDepth); });
  m_depth[1]->setEnabled(false);
  m_depth[4]->setEnabled(false);
  m_depth[4]->hide();
  left->addWidget(depth);

  const OptsImage::TPaletteGroup palette = OptsImage::MakePaletteGroup(this);
  m_halftone = palette.halftone;
  m_octree = palette.octree;
  m_significant = palette.significant;
  m_significant->setObjectName(QStringLiteral("significantBits"));
  left->addWidget(palette.group);
  left->addStretch(1);

  auto* compression = OptsImage::MakeRadioColumn(this, "Compression", kCompressionTexts, m_comp);
  // No JPEG 2000 coding in the TIFF writer: never offered.
  m_comp[C_JPEG2000]->setEnabled(false);
  m_comp[C_JPEG2000]->hide();
  right->addWidget(compression);
  right->addStretch(1);

  OptsImage::MakeQualityRow(this, outer, m_slider, m_spin);
  m_spin->SetRange(kQualityMin, kQualityMax);
  outer->addStretch(1);

  OptsImage::ConnectQuality(this, m_slider, m_spin, &m_quality);
}

COptsTiff::~COptsTiff() = default;

QRadioButton* COptsTiff::SpaceButton(std::int32_t space) const {
  return space >= 1 && space <= 5 ? m_space[static_cast<std::size_t>(space - 1)] : nullptr;
}

QRadioButton* COptsTiff::CompressionButton(std::int32_t code) const {
  const int i = CompressionIndex(code);
  return i >= 0 ? m_comp[static_cast<std::size_t>(i)] : nullptr;
}

TTiffState COptsTiff::State() const {
  TTiffState s;
  for (std::size_t i = 0; i < 5; ++i) s.space[i] = m_space[i]->isChecked();
  OptsImage::ReadDepths(m_depth, s);
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
  m_block.qualityMin = kQualityMin;
  m_block.qualityMax = kQualityMax;
  m_block.significantBitsMin = kSignificantBitsMin;
  m_block.significantBitsMax = kSignificantBitsMax;

  // Every group is set up; one whose code the page does not know checks no
  // button and goes back as read unless the user picks one.
  QRadioButton* space = SpaceButton(m_block.colorSpace);
  CheckOnly({m_space[0], m_space[1], m_space[2], m_space[3], m_space[4]}, space);
  TTiffState s = State();
  const int depthIndex = DepthIndex(m_block.bitDepth);
  if (depthIndex >= 0) s.depth[static_cast<std::size_t>(depthIndex)] = true;
  const int compIndex = CompressionIndex(m_block.compression);
  if (compIndex >= 0) s.comp[static_cast<std::size_t>(compIndex)] = true;
  if (space) {
    OptsPng::ValidateBitDepth(s, m_block.bitDepth, true);
    OptsPng::EnableBitDepths(s, m_block.colorSpace);
  }
  if (compIndex >= 0) ValidateCompression(s, m_block.compression);
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
    const TTiffState s = State();
    for (std::size_t i = 0; i < 5; ++i) {
      if (s.space[i]) {
        m_block.colorSpace = static_cast<std::int32_t>(i) + 1;
        break;
      }
    }
    for (std::size_t i = 0; i < 5; ++i) {
      if (s.depth[i]) {
        m_block.bitDepth = OptsPng::kDepths[i];
        break;
      }
    }
    for (std::size_t i = 0; i < s.comp.size(); ++i) {
      if (s.comp[i]) {
        m_block.compression = GetCheckedCompression(s);
        break;
      }
    }
    m_block.significantBits =
        ClampValue(m_significant->Value(m_block.significantBits), kSignificantBitsMin, kSignificantBitsMax);
  }
  WriteBlock(platform::qt::WM_APP_OPTS_TIFF, 0, m_block, kWriteFailed);
}

}  // namespace OptsTiff
