#include "document/pane_layout_dialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "platform/message_sink.h"
#include "platform/qt/app_messages.h"

namespace VideoPortPaneLayout {

namespace pq = platform::qt;

namespace {
constexpr std::array<std::int32_t, 4> kHorizontal{0, 1, 2, 3};
constexpr std::array<std::int32_t, 4> kVertical{0, 2, 1, 3};
}  // namespace

CVideoPortPaneLayout::CVideoPortPaneLayout(QWidget* owner) : QDialog(owner), m_pOwner(owner) {
  setObjectName("VideoPortPaneLayout");
  setWindowTitle("Video Pane / Channel Layout");
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel("Associate video panes with media channels of active document", this);
  text->setWordWrap(true);
  layout->addWidget(text);

  auto* presets = new QGroupBox(this);
  auto* presetLayout = new QVBoxLayout(presets);
  m_pHorizontal = new QRadioButton("Horizontal layout", presets);
  m_pVertical = new QRadioButton("Vertical layount", presets);
  m_pCustom = new QRadioButton("Custom layout", presets);
  m_pHorizontal->setObjectName(QString::number(IDC_RADIO_HORIZONTAL));
  m_pVertical->setObjectName(QString::number(IDC_RADIO_VERTICAL));
  m_pCustom->setObjectName(QString::number(IDC_RADIO_CUSTOM));
  // None is checked until a layout is recognised.
  auto* group = new QButtonGroup(this);
  group->setExclusive(false);
  for (QRadioButton* b : {m_pHorizontal, m_pVertical, m_pCustom}) {
    presetLayout->addWidget(b);
    group->addButton(b);
  }
  layout->addWidget(presets);

  auto* panes = new QGridLayout;
  const char* const labels[4] = {"Primary Pane 1", "Pane 2", "Pane 3", "Pane 4"};
  for (int pane = 0; pane < 4; ++pane) {
    auto* combo = new QComboBox(this);
    combo->setObjectName(QString::number(IDC_COMBO_PANE_1 + pane));
    auto* label = new QLabel(labels[pane], this);
    label->setBuddy(combo);
    panes->addWidget(label, pane, 0);
    panes->addWidget(combo, pane, 1);
    m_pCombo[static_cast<std::size_t>(pane)] = combo;
  }
  layout->addLayout(panes);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  m_pApply = buttons->addButton("Apply", QDialogButtonBox::ApplyRole);
  m_pApply->setObjectName(QString::number(IDC_BUTTON_APPLY));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &CVideoPortPaneLayout::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(m_pApply, &QPushButton::clicked, this, [this] { OnApply(); });

  // The radio buttons act when clicked; each checks itself alone.
  auto only = [this](QRadioButton* on) {
    for (QRadioButton* b : {m_pHorizontal, m_pVertical, m_pCustom}) b->setChecked(b == on);
  };
  connect(m_pHorizontal, &QRadioButton::clicked, this, [this, only] {
    only(m_pHorizontal);
    OnPreset(kHorizontal);
  });
  connect(m_pVertical, &QRadioButton::clicked, this, [this, only] {
    only(m_pVertical);
    OnPreset(kVertical);
  });
  connect(m_pCustom, &QRadioButton::clicked, this, [this, only] {
    only(m_pCustom);
    OnCustom();
  });
}

void CVideoPortPaneLayout::showEvent(QShowEvent* event) {
  if (!m_bInitialised) OnInitDialog();
  QDialog::showEvent(event);
}

void CVideoPortPaneLayout::OnInitDialog() {
  if (m_bInitialised) return;
  m_bInitialised = true;
  const char* const channels[4] = {"Channel 1 : Primary", "Channel 2", "Channel 3", "Channel 4"};
  for (int pane = 0; pane < 4; ++pane) {
    QComboBox* combo = m_pCombo[static_cast<std::size_t>(pane)];
    combo->clear();
    for (const char* c : channels) combo->addItem(c);
    combo->setCurrentIndex(pane);
  }

  m_Block = ZarnTypes::TPaneLayoutExchange{};
  m_Block.operation = 1;
  pq::SendAppRecord(m_pOwner, pq::WM_APP_PANE_COMMAND, ZarnTypes::PANE_CMD_PANE_CHANNELS, m_Block);
  if (!m_Block.answered) {
    platform::ShowMessage("Configuration data for video panes are not available.\n\nDefault layout is used.");
    return;
  }
  std::array<std::int32_t, 4> map{};
  for (int pane = 0; pane < 4; ++pane) {
    const std::int32_t channel = m_Block.paneChannel[pane];
    // A channel the lists do not offer leaves the pane's own.
    if (channel >= 0 && channel < 4) m_pCombo[static_cast<std::size_t>(pane)]->setCurrentIndex(channel);
    map[static_cast<std::size_t>(pane)] = channel;
  }
  QRadioButton* checked = m_pCustom;
  if (map[0] == 0 && map == kHorizontal)
    checked = m_pHorizontal;
  else if (map[0] == 0 && map == kVertical)
    checked = m_pVertical;
  checked->setChecked(true);
  m_nLayoutState = checked == m_pCustom ? LAYOUT_CUSTOM : LAYOUT_PRESET;
  // A preset shows its lists, but they are not to be changed.
  if (m_nLayoutState == LAYOUT_PRESET)
    for (QComboBox* combo : m_pCombo) combo->setEnabled(false);
}

void CVideoPortPaneLayout::OnPreset(const std::array<std::int32_t, 4>& channels) {
  for (int pane = 0; pane < 4; ++pane)
    m_pCombo[static_cast<std::size_t>(pane)]->setCurrentIndex(channels[static_cast<std::size_t>(pane)]);
  for (int pane = 1; pane < 4; ++pane) m_pCombo[static_cast<std::size_t>(pane)]->setEnabled(false);
}

void CVideoPortPaneLayout::OnCustom() {
  for (int pane = 1; pane < 4; ++pane) m_pCombo[static_cast<std::size_t>(pane)]->setEnabled(true);
}

std::array<std::int32_t, 4> CVideoPortPaneLayout::SelectedChannels() const {
  std::array<std::int32_t, 4> out{};
  for (int pane = 0; pane < 4; ++pane)
    out[static_cast<std::size_t>(pane)] = m_pCombo[static_cast<std::size_t>(pane)]->currentIndex();
  return out;
}

bool CVideoPortPaneLayout::OnApply() {
  const std::array<std::int32_t, 4> channels = SelectedChannels();
  m_Block = ZarnTypes::TPaneLayoutExchange{};
  m_Block.operation = 2;
  for (int pane = 0; pane < 4; ++pane) m_Block.paneChannel[pane] = channels[static_cast<std::size_t>(pane)];
  pq::SendAppRecord(m_pOwner, pq::WM_APP_PANE_COMMAND, ZarnTypes::PANE_CMD_PANE_CHANNELS, m_Block);
  if (!m_Block.answered) {
    platform::ShowMessage("Configuration data for video pane/channel layout can not be set");
    return false;
  }
  return true;
}

void CVideoPortPaneLayout::accept() {
  OnApply();
  QDialog::accept();
}

}  // namespace VideoPortPaneLayout
