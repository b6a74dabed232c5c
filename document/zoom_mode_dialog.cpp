#include "document/zoom_mode_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

#include "platform/message_sink.h"
#include "platform/qt/app_messages.h"

namespace ZoomMode {

namespace pq = platform::qt;

CZoomMode::CZoomMode(QWidget* owner) : QDialog(owner), m_pOwner(owner) {
  setWindowTitle("Custom Zoom");
  auto* layout = new QVBoxLayout(this);
  m_pSame = new QCheckBox("Same magnification for all video panes", this);
  layout->addWidget(m_pSame);
  auto* form = new QFormLayout;
  const char* labels[4] = {"Pramary Pane 1", "Pane 2", "Pane 3", "Pane 4"};
  for (int pane = 0; pane < 4; ++pane) {
    m_pPercent[pane] = new QSpinBox(this);
    m_pPercent[pane]->setRange(Zoom::kMinZoomPercent, Zoom::kMaxZoomPercent);
    m_pPercent[pane]->setSuffix(" %");
    m_pPercent[pane]->setValue(m_nPercent[pane]);
    form->addRow(labels[pane], m_pPercent[pane]);
  }
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &CZoomMode::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CZoomMode::reject);
  connect(m_pSame, &QCheckBox::toggled, this, &CZoomMode::OnSameFactorToggled);
}

void CZoomMode::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!m_bRead) {
    m_bRead = true;
    ReadSettings();
  }
}

bool CZoomMode::ReadSettings() {
  m_Block = ZarnTypes::TZoomExchange{};
  m_Block.operation = 1;
  pq::SendAppRecord(m_pOwner, pq::WM_APP_ZOOM_SETTINGS, 0, m_Block);
  if (!m_Block.answered) {
    platform::ShowMessage("Configuration data are not available");
    return false;
  }
  for (int pane = 0; pane < 4; ++pane) {
    m_nPercent[pane] = static_cast<int>(m_Block.factor[pane] * 100.0f);
    m_pPercent[pane]->setValue(m_nPercent[pane]);
  }
  const bool same = m_Block.sameFactor != 0;
  m_pSame->blockSignals(true);
  m_pSame->setChecked(same);
  m_pSame->blockSignals(false);
  OnSameFactorToggled(same);
  return true;
}

void CZoomMode::OnSameFactorToggled(bool same) {
  for (int pane = 1; pane < 4; ++pane) {
    if (same) m_pPercent[pane]->setValue(m_pPercent[0]->value());
    m_pPercent[pane]->setEnabled(!same);
  }
}

void CZoomMode::accept() {
  const bool same = m_pSame->isChecked();
  for (int pane = 0; pane < 4; ++pane) {
    const int percent = same ? m_pPercent[0]->value() : m_pPercent[pane]->value();
    m_nPercent[pane] = std::clamp(percent, Zoom::kMinZoomPercent, Zoom::kMaxZoomPercent);
  }
  ZarnTypes::TZoomExchange block;
  block.operation = 2;
  block.setMode = 0;
  block.sameFactor = same ? 1 : 0;
  for (int pane = 0; pane < 4; ++pane) block.factor[pane] = static_cast<float>(m_nPercent[pane]) / 100.0f;
  pq::SendAppRecord(m_pOwner, pq::WM_APP_ZOOM_SETTINGS, 0, block);
  if (!block.answered) {
    platform::ShowMessage("Configuration data can not be set");
    return;
  }
  QDialog::accept();
}

}  // namespace ZoomMode
