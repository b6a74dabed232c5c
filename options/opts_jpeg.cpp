#include "options/opts_jpeg.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

#include "options/opts_image_common.h"

using namespace ZarnTypes;

namespace OptsJpeg {

std::int32_t ClampValue(std::int32_t value, std::int32_t lo, std::int32_t hi) {
  return std::max(lo, std::min(value, hi));
}

void CheckOnly(std::initializer_list<QAbstractButton*> group, QAbstractButton* which) {
  for (QAbstractButton* b : group) {
    const bool exclusive = b->autoExclusive();
    b->setAutoExclusive(false);
    b->setChecked(b == which);
    b->setAutoExclusive(exclusive);
  }
}

// --- the number edit with arrows -------------------------------------------

CDigitSpin::CDigitSpin(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  m_edit = new QLineEdit(this);
  m_edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_edit));
  row->addWidget(m_edit);
  auto* arrows = new QVBoxLayout;
  arrows->setContentsMargins(0, 0, 0, 0);
  arrows->setSpacing(0);
  m_up = new QToolButton(this);
  m_up->setArrowType(Qt::UpArrow);
  m_down = new QToolButton(this);
  m_down->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {m_up, m_down}) {
    b->setFocusPolicy(Qt::NoFocus);
    b->setFixedHeight(std::max(8, m_edit->sizeHint().height() / 2));
    arrows->addWidget(b);
  }
  row->addLayout(arrows);
  row->addStretch(1);
  connect(m_up, &QToolButton::clicked, this, [this] { Step(1); });
  connect(m_down, &QToolButton::clicked, this, [this] { Step(-1); });
}

CDigitSpin::~CDigitSpin() = default;

void CDigitSpin::SetRange(std::int32_t lo, std::int32_t hi) {
  m_lo = std::min(lo, hi);
  m_hi = std::max(lo, hi);
  // Wide enough for the largest number and one more digit.
  const QFontMetrics fm = m_edit->fontMetrics();
  const int digits = static_cast<int>(QString::number(m_hi).size()) + 1;
  m_edit->setFixedWidth(fm.horizontalAdvance(QString(digits, QLatin1Char('0'))) +
                        m_edit->textMargins().left() + m_edit->textMargins().right() + 12);
}

void CDigitSpin::SetValue(std::int32_t value) { m_edit->setText(QString::number(value)); }

std::int32_t CDigitSpin::Value(std::int32_t fallback) const {
  const QString text = m_edit->text().trimmed();
  if (text.isEmpty()) return fallback;
  std::int64_t v = 0;
  for (const QChar c : text) {
    if (!c.isDigit()) return fallback;
    v = v * 10 + c.digitValue();
    if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(v);
}

void CDigitSpin::Step(int delta) {
  const std::int32_t from = ClampValue(Value(m_lo), m_lo, m_hi);
  const std::int64_t to = static_cast<std::int64_t>(from) + delta;
  const std::int32_t value =
      static_cast<std::int32_t>(std::max<std::int64_t>(m_lo, std::min<std::int64_t>(to, m_hi)));
  SetValue(value);
  emit Stepped(value);
}

// --- the page ----------------------------------------------------------------

COptsJpeg::COptsJpeg(QWidget* parent) : COptsPage(QStringLiteral("JPEG"), parent) {
  auto* outer = new QVBoxLayout(this);

  OptsImage::MakeQualityRow(this, outer, m_slider, m_spin);

  auto* space = new QGroupBox(QStringLiteral("Color space"), this);
  auto* spaceRow = new QHBoxLayout(space);
  m_color = new QRadioButton(QStringLiteral("Color"), space);
  m_gray = new QRadioButton(QStringLiteral("Grayscale"), space);
  spaceRow->addWidget(m_color);
  spaceRow->addWidget(m_gray);
  spaceRow->addStretch(1);
  outer->addWidget(space);
  outer->addStretch(1);

  // Only the user's moves of the slider (steps, pages, drags) carry a value
  // to the edit; positions set by the page itself carry nothing.
  OptsImage::ConnectQuality(this, m_slider, m_spin, &m_quality);
}

COptsJpeg::~COptsJpeg() = default;

bool COptsJpeg::OnInitDialog() {
  m_block = {};
  if (!ReadBlock(platform::qt::WM_APP_OPTS_JPEG, 0, m_block, kReadFailed)) return false;

  // The page's limits are its own, whatever the owner sent.
  m_block.qualityMin = kQualityMin;
  m_block.qualityMax = kQualityMax;
  m_quality = m_block.quality;

  m_spin->SetRange(kQualityMin, kQualityMax);
  OptsImage::ShowQuality(m_slider, m_spin, m_quality, kQualityMin, kQualityMax, kQualityTicks);

  // A format the page does not know checks neither button and goes back as
  // it came unless the user picks one.
  CheckOnly({m_color, m_gray}, m_block.format == kFormatColor  ? m_color
                               : m_block.format == kFormatGray ? m_gray
                                                               : nullptr);

  if (ReadOnly()) setEnabled(false);
  return true;
}

void COptsJpeg::OnOK() {
  if (InitResult()) {
    m_quality = ClampValue(m_spin->Value(m_quality), kQualityMin, kQualityMax);
    m_block.quality = m_quality;
    if (m_color->isChecked())
      m_block.format = kFormatColor;
    else if (m_gray->isChecked())
      m_block.format = kFormatGray;
  }
  WriteBlock(platform::qt::WM_APP_OPTS_JPEG, 0, m_block, kWriteFailed);
}

}  // namespace OptsJpeg
