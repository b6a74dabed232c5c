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

TPaletteGroup MakePaletteGroup(QWidget* parent) {
  TPaletteGroup p;
  p.group = new QGroupBox(QStringLiteral("Palette"), parent);
  auto* column = new QVBoxLayout(p.group);
  p.halftone = new QRadioButton(QStringLiteral("Standard halftone"), p.group);
  p.halftone->setEnabled(false);
  p.octree = new QRadioButton(QStringLiteral("Optimized adaptive octree"), p.group);
  column->addWidget(p.halftone);
  column->addWidget(p.octree);
  auto* bitsRow = new QHBoxLayout;
  bitsRow->addWidget(new QLabel(QStringLiteral("Significant color bits, 1 - 8"), p.group));
  p.significant = new CDigitSpin(p.group);
  bitsRow->addWidget(p.significant);
  bitsRow->addStretch(1);
  column->addLayout(bitsRow);
  return p;
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
