#include "options/opts_sampling.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QVBoxLayout>

#include <algorithm>

#include "media/file_types.h"
#include "options/edit_numeric.h"
#include "options/opts_channel_pages.h"
#include "platform/qt/app_messages.h"

namespace OptsSaveStreamSampling {

using namespace ZarnTypes;
using OptsPage::Named;

namespace {

const char* MethodText(std::int32_t method) {
  switch (method) {
    case METHOD_ALL_SAMPLES: return " All samples";
    case METHOD_TIME_INTERVAL: return " Time interval";
    case METHOD_SAMPLE_INTERVAL: return " Sample number interval";
    default: return "";
  }
}

// An edit wide enough for every 64-bit whole number with its sign.
void FitWidestNumber(CEditNumeric* edit) {
  const int text = edit->fontMetrics().horizontalAdvance(QStringLiteral("-9223372036854775808"));
  QStyleOptionFrame option;
  option.initFrom(edit);
  option.rect = edit->rect();
  option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
  const QMargins m = edit->textMargins();
  // The edit keeps 2 pixels on each side of its text, and one for the cursor.
  const QSize inner(text + 2 * 2 + 1 + m.left() + m.right(), edit->sizeHint().height());
  const QSize outer = edit->style()->sizeFromContents(QStyle::CT_LineEdit, &option, inner, edit);
  edit->setMinimumWidth(std::max(outer.width(), inner.width()));
}

}  // namespace

COptsSaveStreamSampling::COptsSaveStreamSampling(QWidget* parent)
    : COptsPage(QStringLiteral("Save stream sampling method"), parent) {
  auto* layout = new QVBoxLayout(this);
  m_pChannel = Named(new QLabel(QStringLiteral("Channel:"), this), 2580);
  layout->addWidget(m_pChannel);

  auto* methodRow = new QHBoxLayout;
  m_pMethodLabel = Named(new QLabel(QStringLiteral("Sampling method"), this), 2578);
  m_pMethod = Named(new QComboBox(this), 2579);
  m_pMethod->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  for (std::int32_t m : {METHOD_ALL_SAMPLES, METHOD_TIME_INTERVAL, METHOD_SAMPLE_INTERVAL})
    m_pMethod->addItem(QString::fromLatin1(MethodText(m)));
  // As wide as its longest entry, also when it holds fewer.
  m_pMethod->setMinimumWidth(m_pMethod->sizeHint().width());
  m_pMethod->clear();
  methodRow->addWidget(m_pMethodLabel);
  methodRow->addWidget(m_pMethod, 1);
  layout->addLayout(methodRow);
  m_pHint = Named(new QLabel(QStringLiteral("Save a single sample / frame from the interval"), this), 2577);
  layout->addWidget(m_pHint);

  auto* grid = new QGridLayout;
  auto addRow = [&](int row, int labelId, const char* text, int editId, QLabel*& label, CEditNumeric*& edit) {
    label = Named(new QLabel(QString::fromLatin1(text), this), labelId);
    edit = Named(new CEditNumeric(this), editId);
    edit->Set64Bit(true);
    FitWidestNumber(edit);
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
  };
  addRow(0, 2581, "Interval", 2582, m_pIntervalLabel, m_pInterval);
  addRow(1, 1118, "Begin at", 1119, m_pBeginLabel, m_pBegin);
  addRow(2, 1120, "End at", 1121, m_pEndLabel, m_pEnd);
  // The labels change with the method: room for the longest.
  int labelWidth = 0;
  for (const char* text : {"Interval, seconds", "Begin at, seconds", "End at, seconds", "Interval, samples",
                           "Begin at, samples", "End at, samples"})
    labelWidth = std::max(labelWidth, m_pBeginLabel->fontMetrics().horizontalAdvance(QLatin1String(text)));
  grid->setColumnMinimumWidth(0, labelWidth + 2 * m_pBeginLabel->margin());
  grid->setColumnStretch(1, 1);
  layout->addLayout(grid);
  layout->addStretch(1);

  connect(m_pMethod, &QComboBox::activated, this, &COptsSaveStreamSampling::OnMethodChosen);
  ShowMethod(0, 0);
}

COptsSaveStreamSampling::~COptsSaveStreamSampling() = default;

std::int32_t COptsSaveStreamSampling::StreamTypeOfChannel() const {
  if (m_nChannel < 0 || m_nChannel > 3) return 0;
  return FileFormatToStreamType(m_Block.channels[m_nChannel].format);
}

bool COptsSaveStreamSampling::OnInitDialog() {
  m_Block = TSamplingExchange{};
  m_nChannel = -1;
  if (!ReadBlock(platform::qt::WM_APP_OPTS_CATEGORY, OPTTOPIC_SAMPLING, m_Block,
                 OptsPage::ReadFailedText(OptsPage::PAGE_SAMPLING)))
    return false;
  if (m_Block.channel < 0 || m_Block.channel > 3) {
    EndSheetWithCancel();
    return true;
  }
  m_nChannel = m_Block.channel;
  m_pChannel->setText(QStringLiteral("Channel: %1").arg(m_nChannel + 1));
  const std::int32_t t = StreamTypeOfChannel();
  FillMethodList(m_nChannel, t);
  ShowMethod(m_Block.channels[m_nChannel].samplingMethod, t);
  return true;
}

bool COptsSaveStreamSampling::FillMethodList(int channel, std::int32_t t) {
  m_pMethod->clear();
  if (t == 0) return false;
  m_pMethod->addItem(QString::fromLatin1(MethodText(METHOD_ALL_SAMPLES)), METHOD_ALL_SAMPLES);
  if (t == ST_WMV)
    m_pMethod->addItem(QString::fromLatin1(MethodText(METHOD_TIME_INTERVAL)), METHOD_TIME_INTERVAL);
  m_pMethod->addItem(QString::fromLatin1(MethodText(METHOD_SAMPLE_INTERVAL)), METHOD_SAMPLE_INTERVAL);
  const int at = m_pMethod->findData(m_Block.channels[channel & 3].samplingMethod);
  m_pMethod->setCurrentIndex(at >= 0 ? at : 0);
  return true;
}

void COptsSaveStreamSampling::ShowMethod(std::int32_t m, std::int32_t t) {
  const bool time = m == METHOD_TIME_INTERVAL;
  const bool samples = m == METHOD_SAMPLE_INTERVAL;
  QLabel* const labels[] = {m_pIntervalLabel, m_pBeginLabel, m_pEndLabel};
  CEditNumeric* const edits[] = {m_pInterval, m_pBegin, m_pEnd};
  if (!time && !samples) {
    for (QLabel* label : labels) {
      label->clear();
      label->hide();
    }
    for (CEditNumeric* edit : edits) edit->hide();
    m_pInterval->setEnabled(false);
    FitSheet();
    return;
  }
  const char* const units = time ? ", seconds" : ", samples";
  m_pIntervalLabel->setText(QStringLiteral("Interval") + QLatin1String(units));
  m_pBeginLabel->setText(QStringLiteral("Begin at") + QLatin1String(units));
  m_pEndLabel->setText(QStringLiteral("End at") + QLatin1String(units));
  // Negative numbers are refused by every edit.
  for (CEditNumeric* edit : edits) {
    edit->SetNumericMode(time ? CEditNumeric::MODE_REAL : CEditNumeric::MODE_INTEGER);
    edit->m_nMin = 0;
    edit->m_dMin = 0.0;
    edit->m_bMinEnabled = true;
  }
  TSaveStreamChannel* r = m_nChannel >= 0 && m_nChannel <= 3 ? &m_Block.channels[m_nChannel] : nullptr;
  if (time) {
    m_pInterval->SetValue(r ? r->timeStep : 0.0);
    m_pBegin->SetValue(r ? r->timeBegin : 0.0);
    m_pEnd->SetValue(r ? r->timeEnd : 0.0);
    m_pInterval->setEnabled(true);
  } else {
    // Off Windows Media video every sample in the interval is kept.
    if (r && t != ST_WMV) r->sampleStep = 1;
    m_pInterval->SetIntValue(r ? r->sampleStep : 0);
    m_pBegin->SetIntValue(r ? r->sampleBegin : 0);
    m_pEnd->SetIntValue(r ? r->sampleEnd : 0);
    m_pInterval->setEnabled(t == ST_WMV);
  }
  for (QLabel* label : labels) label->show();
  for (CEditNumeric* edit : edits) edit->show();
  FitSheet();
}

void COptsSaveStreamSampling::OnMethodChosen(int index) {
  if (m_nChannel < 0 || index < 0) return;
  if (m_pMethod->currentIndex() != index) m_pMethod->setCurrentIndex(index);
  TSaveStreamChannel& r = m_Block.channels[m_nChannel];
  r.samplingMethod = m_pMethod->itemData(index).toInt();
  ShowMethod(r.samplingMethod, StreamTypeOfChannel());
}

void COptsSaveStreamSampling::OnOK() {
  // A sheet ended at its first display has nothing to hand back.
  if (!ReadFailed() && m_nChannel < 0) return;
  if (!ReadFailed()) {
    TSaveStreamChannel& r = m_Block.channels[m_nChannel];
    // An empty list keeps the method the channel had.
    if (m_pMethod->currentIndex() >= 0) r.samplingMethod = m_pMethod->currentData().toInt();
    const std::int32_t m = r.samplingMethod;
    if (m == METHOD_TIME_INTERVAL) {
      const std::pair<CEditNumeric*, double*> fields[] = {
          {m_pInterval, &r.timeStep}, {m_pBegin, &r.timeBegin}, {m_pEnd, &r.timeEnd}};
      for (const auto& [edit, value] : fields)
        if (edit->m_nMode == CEditNumeric::MODE_REAL && edit->m_bTextComplete && edit->m_bValueValid &&
            edit->ParseReal(edit->text()))
          *value = std::max(0.0, edit->m_dValue);
    } else if (m == METHOD_SAMPLE_INTERVAL) {
      const std::pair<CEditNumeric*, std::int64_t*> fields[] = {
          {m_pInterval, &r.sampleStep}, {m_pBegin, &r.sampleBegin}, {m_pEnd, &r.sampleEnd}};
      for (const auto& [edit, value] : fields)
        if (edit->m_nMode == CEditNumeric::MODE_INTEGER && edit->m_bTextComplete && edit->m_bValueValid &&
            edit->ParseInteger(edit->text()))
          *value = std::max<std::int64_t>(0, edit->m_nValue);
    }
  }
  WriteBlock(platform::qt::WM_APP_OPTS_CATEGORY, OPTTOPIC_SAMPLING, m_Block,
             OptsPage::WriteFailedText(OptsPage::PAGE_SAMPLING));
}

void COptsSaveStreamSampling::FitSheet() {
  QWidget* sheet = window();
  if (sheet == this || !sheet->isVisible()) return;
  // The nested layouts keep their sizes until told.
  for (QLayout* l : findChildren<QLayout*>()) l->invalidate();
  if (layout()) layout()->invalidate();
  for (QWidget* w = this; w; w = w->parentWidget()) {
    w->updateGeometry();
    if (w == sheet) break;
  }
  if (sheet->layout()) sheet->layout()->activate();
  sheet->resize(sheet->width(), sheet->sizeHint().height());
}

}  // namespace OptsSaveStreamSampling
