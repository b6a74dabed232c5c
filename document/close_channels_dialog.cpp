#include "document/close_channels_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace CloseStreamFrom {

namespace {
const char* const kChannelNames[4] = {"1 - Primary", "2 - Assistant", "3 - Auxiliary", "4 - Auxiliary"};
}  // namespace

CCloseStreamFrom::CCloseStreamFrom(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Close Media Source"));
  auto* group = new QGroupBox(this);
  auto* grid = new QGridLayout(group);
  grid->addWidget(new QLabel(QStringLiteral("Channel"), group), 0, 0);
  grid->addWidget(new QLabel(QStringLiteral("Status"), group), 0, 1);
  for (std::size_t i = 0; i < 4; ++i) {
    m_Check[i] = new QCheckBox(QString::fromLatin1(kChannelNames[i]), group);
    m_State[i] = new QLabel(QStringLiteral("Closed"), group);
    grid->addWidget(m_Check[i], static_cast<int>(i) + 1, 0);
    grid->addWidget(m_State[i], static_cast<int>(i) + 1, 1);
    if (i > 0)
      connect(m_Check[i], &QCheckBox::clicked, this, [this](bool checked) { UpdatePrimaryCheck(checked); });
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { OnOK(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(buttons);
}

void CCloseStreamFrom::OnInitDialog() {
  for (std::size_t i = 0; i < 4; ++i) {
    m_State[i]->setText(m_Open[i] ? QStringLiteral("Open") : QStringLiteral("Closed"));
    m_Check[i]->setChecked(false);
    m_Check[i]->setEnabled(i > 0 && m_Open[i] != 0);
  }
}

void CCloseStreamFrom::UpdatePrimaryCheck(bool checked) {
  bool primaryAllowed = true;
  for (std::size_t i = 1; i < 4; ++i)
    if (m_Open[i] && !m_Check[i]->isChecked()) primaryAllowed = false;
  if (!checked && m_Check[0]->isChecked()) m_Check[0]->setChecked(false);
  m_Check[0]->setEnabled(primaryAllowed);
}

void CCloseStreamFrom::OnOK() {
  for (std::size_t i = 0; i < 4; ++i) m_Close[i] = m_Check[i]->isChecked() ? 1 : 0;
  accept();
}

int CCloseStreamFrom::DoModal() {
  OnInitDialog();
  return exec();
}

}  // namespace CloseStreamFrom
