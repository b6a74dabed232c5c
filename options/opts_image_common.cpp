#include "options/opts_image_common.h"

#include <QAbstractSlider>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

using OptsJpeg::CDigitSpin;
using OptsJpeg::CheckOnly;
using OptsJpeg::ClampValue;
using OptsPng::TBitDepthState;

namespace OptsImage {

TPageColumns MakePageColumns(QWidget* page) {
  TPageColumns c;
  c.outer = new QVBoxLayout(page);
  auto* columns = new QHBoxLayout;
  c.left = new QVBoxLayout;
  c.right = new QVBoxLayout;
  columns->addLayout(c.left);
  columns->addLayout(c.right);
  c.outer->addLayout(columns);
  return c;
}

QGroupBox* MakeRadioColumn(QWidget* parent, const char* title, const char* const* texts,
                           QRadioButton** buttons, std::size_t count) {
  auto* group = new QGroupBox(QString::fromUtf8(title), parent);
  auto* column = new QVBoxLayout(group);
  for (std::size_t i = 0; i < count; ++i) {
    buttons[i] = new QRadioButton(QString::fromUtf8(texts[i]), group);
    column->addWidget(buttons[i]);
  }
  return group;
}

QGroupBox* MakePaletteGroup(QWidget* parent, QRadioButton*& halftone, QRadioButton*& octree,
                            CDigitSpin*& significant) {
  auto* group = new QGroupBox(QStringLiteral("Palette"), parent);
  auto* column = new QVBoxLayout(group);
  halftone = new QRadioButton(QStringLiteral("Standard halftone"), group);
  halftone->setEnabled(false);
  octree = new QRadioButton(QStringLiteral("Optimized adaptive octree"), group);
  column->addWidget(halftone);
  column->addWidget(octree);
  auto* bitsRow = new QHBoxLayout;
  bitsRow->addWidget(new QLabel(QStringLiteral("Significant color bits, 1 - 8"), group));
  significant = new CDigitSpin(group);
  significant->setObjectName(QStringLiteral("significantBits"));
  bitsRow->addWidget(significant);
  bitsRow->addStretch(1);
  column->addLayout(bitsRow);
  return group;
}

std::int32_t SignificantBitsOf(const CDigitSpin* significant, std::int32_t read) {
  return ClampValue(significant->Value(read), 1, 8);
}

void ShowPalette(QRadioButton* halftone, QRadioButton* octree, CDigitSpin* significant, std::int32_t method,
                 std::int32_t bits, std::int32_t lo, std::int32_t hi) {
  CheckOnly({halftone, octree}, method == 1 ? halftone : octree);
  significant->SetRange(lo, hi);
  significant->SetValue(bits);
}

int FirstChecked(QRadioButton* const* buttons, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (buttons[i]->isChecked()) return static_cast<int>(i);
  return -1;
}

void ReadDepths(const std::array<QRadioButton*, 5>& depth, TBitDepthState& s) {
  for (std::size_t i = 0; i < depth.size(); ++i) {
    s.depth[i] = depth[i]->isChecked();
    s.depthEnabled[i] = depth[i]->isEnabled();
  }
}

void StoreCheckedDepth(const std::array<QRadioButton*, 5>& depth, std::int32_t& field) {
  if (const int i = FirstChecked(depth); i >= 0) field = OptsPng::kDepths[static_cast<std::size_t>(i)];
}

void ReadSpaceAndDepths(const std::array<QRadioButton*, 5>& space, const std::array<QRadioButton*, 5>& depth,
                        TBitDepthState& s) {
  for (std::size_t i = 0; i < space.size(); ++i) s.space[i] = space[i]->isChecked();
  ReadDepths(depth, s);
}

TBitDepthState OpenSpaceAndDepth(const std::array<QRadioButton*, 5>& space,
                                 const std::array<QRadioButton*, 5>& depth, std::int32_t spaceCode,
                                 std::int32_t firstSpace, std::int32_t depthRead) {
  QRadioButton* checked = ButtonOf(space, spaceCode, firstSpace);
  CheckOnly({space[0], space[1], space[2], space[3], space[4]}, checked);
  TBitDepthState s;
  ReadSpaceAndDepths(space, depth, s);
  s.depth = {};
  if (const int i = OptsPng::DepthIndex(depthRead); i >= 0) s.depth[static_cast<std::size_t>(i)] = true;
  if (checked) {
    OptsPng::ValidateBitDepth(s, depthRead, true);
    OptsPng::EnableBitDepths(s, spaceCode - firstSpace + 1);
  }
  return s;
}

void ApplyDepths(const std::array<QRadioButton*, 5>& depth, const TBitDepthState& s) {
  QRadioButton* checked = nullptr;
  for (std::size_t i = 0; i < depth.size(); ++i) {
    if (s.depth[i] && !checked) checked = depth[i];
    depth[i]->setEnabled(s.depthEnabled[i]);
  }
  CheckOnly({depth[0], depth[1], depth[2], depth[3], depth[4]}, checked);
}

void MakeQualityRow(QWidget* page, QBoxLayout* into, QSlider*& slider, CDigitSpin*& spin) {
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(QStringLiteral("Quality"), page));
  slider = new QSlider(Qt::Horizontal, page);
  slider->setObjectName(QStringLiteral("quality"));
  slider->setTickPosition(QSlider::TicksBelow);
  slider->setMinimumWidth(160);
  row->addWidget(slider, 1);
  spin = new CDigitSpin(page);
  spin->setObjectName(QStringLiteral("qualityEdit"));
  row->addWidget(spin);
  into->addLayout(row);
}

void AddQualityRow(QWidget* page, const TPageColumns& columns, QSlider*& slider, CDigitSpin*& spin,
                   std::int32_t* quality, std::int32_t lo, std::int32_t hi) {
  MakeQualityRow(page, columns.outer, slider, spin);
  spin->SetRange(lo, hi);
  columns.outer->addStretch(1);
  ConnectQuality(page, slider, spin, quality);
}

TSampleGroups MakeSampleGroups(QWidget* page, std::array<QRadioButton*, 5>& space,
                               std::array<QRadioButton*, 5>& depth, std::size_t firstOffered) {
  TSampleGroups g;
  g.space = MakeRadioColumn(page, "Color space", kSampleSpaceTexts, space);
  for (std::size_t i = 0; i < space.size(); ++i) space[i]->setEnabled(i >= firstOffered);
  g.depth = MakeRadioColumn(page, "Bit depth", kDepthTexts, depth);
  depth[1]->setEnabled(false);
  depth[4]->setEnabled(false);
  depth[4]->hide();
  return g;
}

void ConnectQuality(QWidget* page, QSlider* slider, CDigitSpin* spin, std::int32_t* quality) {
  QObject::connect(slider, &QSlider::actionTriggered, page, [slider, spin, quality](int action) {
    switch (action) {
      case QAbstractSlider::SliderSingleStepAdd:
      case QAbstractSlider::SliderSingleStepSub:
      case QAbstractSlider::SliderPageStepAdd:
      case QAbstractSlider::SliderPageStepSub:
      case QAbstractSlider::SliderMove:
        *quality = slider->sliderPosition();
        spin->SetValue(*quality);
        break;
      default: break;
    }
  });
  QObject::connect(spin, &CDigitSpin::Stepped, page, [slider, quality](std::int32_t value) {
    *quality = value;
    slider->setValue(value);
  });
}

void ShowQuality(QSlider* slider, CDigitSpin* spin, std::int32_t quality, std::int32_t lo, std::int32_t hi,
                 int ticks) {
  slider->setRange(lo, hi);
  slider->setTickInterval(ticks);
  slider->setPageStep(ticks);
  slider->setValue(ClampValue(quality, lo, hi));
  spin->SetValue(quality);
}

}  // namespace OptsImage
