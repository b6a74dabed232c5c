#include "options/channel_radios.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>

namespace OptsPage {

CChannelRadios::CChannelRadios(QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  auto* label = new QLabel(QStringLiteral("Channel:"), this);
  label->setObjectName("IDC_2505");
  row->addWidget(label);
  m_group = new QButtonGroup(this);
  for (int ch = 0; ch < 4; ++ch) {
    auto* radio = new QRadioButton(QString::number(ch + 1), this);
    radio->setObjectName(QStringLiteral("IDC_%1").arg(1047 + ch));
    m_radios[static_cast<std::size_t>(ch)] = radio;
    m_group->addButton(radio, ch);
    row->addWidget(radio);
  }
  row->addStretch(1);
  m_radios[0]->setChecked(true);
  connect(m_group, &QButtonGroup::idClicked, this, &CChannelRadios::Select);
}

void CChannelRadios::Reset() {
  m_current = 0;
  m_radios[0]->setChecked(true);
}

void CChannelRadios::Select(int channel) {
  if (channel < 0 || channel >= 4) return;
  if (onStore) onStore(m_current);
  m_current = channel;
  m_radios[static_cast<std::size_t>(channel)]->setChecked(true);
  if (onLoad) onLoad(channel);
}

QRadioButton* CChannelRadios::Radio(int channel) const {
  return channel >= 0 && channel < 4 ? m_radios[static_cast<std::size_t>(channel)] : nullptr;
}

}  // namespace OptsPage
