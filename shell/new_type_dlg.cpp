#include "shell/new_type_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/document_template.h"

namespace NewTypeDlg {

CNewTypeDlg::CNewTypeDlg(std::vector<shell::CDocTemplate*> candidates, QWidget* parent)
    : QDialog(parent), m_candidates(std::move(candidates)) {
  setWindowTitle(tr("New"));
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(tr("&New "), this);
  m_list = new QListWidget(this);
  label->setBuddy(m_list);
  layout->addWidget(label);
  layout->addWidget(m_list);
  auto* buttons =
      new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
  buttons->button(QDialogButtonBox::Help)->setText(tr("&Help"));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &CNewTypeDlg::OnOK);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(m_list, &QListWidget::itemDoubleClicked, this, [this] { OnOK(); });
}

int CNewTypeDlg::OnInitDialog() {
  m_list->clear();
  for (std::size_t i = 0; i < m_candidates.size(); ++i) {
    const std::string name = m_candidates[i]->DocStringField(2);
    if (name.empty()) continue;
    auto* item = new QListWidgetItem(QString::fromStdString(name), m_list);
    item->setData(Qt::UserRole, static_cast<qulonglong>(i));
  }
  if (m_list->count() == 0) return -1;
  if (m_list->count() == 1) {
    m_selected = m_candidates[m_list->item(0)->data(Qt::UserRole).toULongLong()];
    return 1;
  }
  m_list->setCurrentRow(0);
  return 0;
}

void CNewTypeDlg::OnOK() {
  QListWidgetItem* item = m_list->currentItem();
  m_selected = item ? m_candidates[item->data(Qt::UserRole).toULongLong()] : nullptr;
  done(1);
}

int CNewTypeDlg::DoModal() {
  const int early = OnInitDialog();
  if (early != 0) return early;
  const int result = exec();
  return result == 1 ? 1 : 2;
}

}  // namespace NewTypeDlg
