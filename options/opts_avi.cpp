#include "options/opts_avi.h"

#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

using namespace ZarnTypes;

namespace OptsAvi {

COptsAvi::COptsAvi(QWidget* parent) : COptsPage(QStringLiteral("AVI"), parent) {
  auto* outer = new QVBoxLayout(this);
  auto* group = new QGroupBox(QStringLiteral("Avi file type"), this);
  auto* column = new QVBoxLayout(group);
  m_type1 = new QRadioButton(QStringLiteral("AVI file Type 1"), group);
  m_type1->setObjectName(QStringLiteral("type1"));
  m_type2 = new QRadioButton(QStringLiteral("AVI file Type 2"), group);
  m_type2->setObjectName(QStringLiteral("type2"));
  column->addWidget(m_type1);
  column->addWidget(m_type2);
  outer->addWidget(group);
  outer->addStretch(1);
}

COptsAvi::~COptsAvi() = default;

bool COptsAvi::OnInitDialog() {
  m_block = {};
  if (!ReadBlock(platform::qt::WM_APP_OPTS_AVI, 0, m_block, OptsPage::ReadFailedText(OptsPage::PAGE_AVI)))
    return false;
  // Type 2 only when the owner holds 2; any other value is type 1.
  if (m_block.aviFileType == 2)
    m_type2->setChecked(true);
  else
    m_type1->setChecked(true);
  if (ReadOnly()) setEnabled(false);
  return true;
}

void COptsAvi::OnOK() {
  if (InitResult()) m_block.aviFileType = m_type1->isChecked() ? 1 : 2;
  WriteBlock(platform::qt::WM_APP_OPTS_AVI, 0, m_block, OptsPage::WriteFailedText(OptsPage::PAGE_AVI));
}

}  // namespace OptsAvi
