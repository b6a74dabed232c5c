#include "options/opts_reference_frames.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QIntValidator>
#include <QLineEdit>
#include <QVBoxLayout>

#include <limits>

namespace OptsReferenceFrames {

using namespace ZarnTypes;

namespace {

QLineEdit* NumberEdit(QWidget* parent, int id) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString("IDC_%1").arg(id));
  edit->setValidator(new QIntValidator(std::numeric_limits<std::int32_t>::min(),
                                       std::numeric_limits<std::int32_t>::max(), edit));
  return edit;
}

std::int32_t EditValue(const QLineEdit* edit) {
  bool ok = false;
  const int value = edit->text().trimmed().toInt(&ok);
  return ok ? value : 0;
}

}  // namespace

COptsReferenceFrames::COptsReferenceFrames(QWidget* parent) : COptsPage("Reference frames", parent) {
  auto* layout = new QVBoxLayout(this);
  auto* primary = new QGroupBox("Primary channel", this);
  auto* primaryForm = new QFormLayout(primary);
  m_pPrimaryStart = NumberEdit(primary, IDC_PRIMARY_START);
  m_pPrimaryStop = NumberEdit(primary, IDC_PRIMARY_STOP);
  primaryForm->addRow("Start frame", m_pPrimaryStart);
  primaryForm->addRow("Stop frame", m_pPrimaryStop);
  auto* assistant = new QGroupBox("Assistant channel", this);
  auto* assistantForm = new QFormLayout(assistant);
  m_pAssistantStart = NumberEdit(assistant, IDC_ASSISTANT_START);
  m_pAssistantStop = NumberEdit(assistant, IDC_ASSISTANT_STOP);
  assistantForm->addRow("Start frame", m_pAssistantStart);
  assistantForm->addRow("Stop frame", m_pAssistantStop);
  layout->addWidget(primary);
  layout->addWidget(assistant);
  layout->addStretch(1);
}

COptsReferenceFrames::~COptsReferenceFrames() = default;

QLineEdit* COptsReferenceFrames::Edit(int id) const {
  switch (id) {
    case IDC_PRIMARY_START: return m_pPrimaryStart;
    case IDC_PRIMARY_STOP: return m_pPrimaryStop;
    case IDC_ASSISTANT_START: return m_pAssistantStart;
    case IDC_ASSISTANT_STOP: return m_pAssistantStop;
    default: return nullptr;
  }
}

bool COptsReferenceFrames::OnInitDialog() {
  m_Block = TReferenceFramesExchange{};
  if (!ReadBlock(platform::qt::WM_APP_OPTS_REFERENCE_FRAMES, 0, m_Block,
                 "Configuration data for \"Set reference frames\" operation are not available"))
    return false;
  m_pPrimaryStart->setText(QString::number(m_Block.startFrame[0]));
  m_pPrimaryStop->setText(QString::number(m_Block.stopFrame[0]));
  m_pAssistantStart->setText(QString::number(m_Block.startFrame[1]));
  m_pAssistantStop->setText(QString::number(m_Block.stopFrame[1]));
  if (ReadOnly()) setEnabled(false);
  return true;
}

void COptsReferenceFrames::OnOK() {
  m_Block.startFrame[0] = EditValue(m_pPrimaryStart);
  m_Block.startFrame[1] = EditValue(m_pAssistantStart);
  m_Block.stopFrame[0] = EditValue(m_pPrimaryStop);
  m_Block.stopFrame[1] = EditValue(m_pAssistantStop);
  WriteBlock(platform::qt::WM_APP_OPTS_REFERENCE_FRAMES, 0, m_Block,
             "Configuration data for \"Set reference frames\" operation  can not be set");
}

}  // namespace OptsReferenceFrames
