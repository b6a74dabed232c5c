#include "options/channel_selector.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "platform/message_sink.h"

namespace OptsNavigate {

using namespace ZarnTypes;

bool NavigateModeTexts(std::int32_t mode, TNavigateModeTexts& texts) {
  switch (mode) {
    case NAVIGATE_MODE_STATUS:
      texts = {"Media document status", "Enable operations for media document channels",
               "Navigate media sources", true, false};
      return true;
    case NAVIGATE_MODE_SOURCE_LIST:
      texts = {"Navigate media source list", "Enable a navigation of the media sources in the list",
               "Navigate media sources", false, false};
      return true;
    case NAVIGATE_MODE_PLAY:
      texts = {"Play media stream", "Enable playing the media", "Play media stream", false, false};
      return true;
    case NAVIGATE_MODE_REPLAY:
      texts = {"Replay video from the cache buffer", " Enable replaying the media",
               "Replay video from a buffer", false, false};
      return true;
    case NAVIGATE_MODE_DVD:
      texts = {"Navigate DVD media source", " Enable navigation of DVD media source",
               "Navigate DVD media source", false, true};
      return true;
    default: return false;
  }
}

namespace {

// The byte of a channel record that the first row holds in a mode.
std::uint8_t* FirstRowByte(std::int32_t mode, TNavigateChannel& c) {
  switch (mode) {
    case NAVIGATE_MODE_STATUS:
    case NAVIGATE_MODE_SOURCE_LIST: return &c.navigate;
    case NAVIGATE_MODE_PLAY: return &c.play;
    case NAVIGATE_MODE_REPLAY: return &c.replay;
    case NAVIGATE_MODE_DVD: return &c.dvdNavigate;
    default: return nullptr;
  }
}

}  // namespace

TBoxes ShowSelections(std::int32_t mode, const TNavigateExchange& block) {
  TBoxes boxes{};
  for (int ch = 0; ch < 4; ++ch) {
    TNavigateChannel c = block.channel[ch];
    if (const std::uint8_t* first = FirstRowByte(mode, c))
      boxes[0][static_cast<std::size_t>(ch)] = *first != 0;
    if (mode == NAVIGATE_MODE_STATUS) {
      boxes[1][static_cast<std::size_t>(ch)] = c.play != 0;
      boxes[2][static_cast<std::size_t>(ch)] = c.replay != 0;
    }
  }
  return boxes;
}

void StoreSelections(std::int32_t mode, const TBoxes& boxes, TNavigateExchange& block) {
  for (int ch = 0; ch < 4; ++ch) {
    TNavigateChannel& c = block.channel[ch];
    const auto index = static_cast<std::size_t>(ch);
    if (std::uint8_t* first = FirstRowByte(mode, c)) *first = boxes[0][index] ? 1 : 0;
    if (mode == NAVIGATE_MODE_STATUS) {
      c.play = boxes[1][index] ? 1 : 0;
      c.replay = boxes[2][index] ? 1 : 0;
    }
  }
}

// ---------------------------------------------------------------------------

COptsNavigate::COptsNavigate(QWidget* owner) : QDialog(owner), m_pOwner(owner) {
  setWindowTitle("Channel Selector");
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  m_pPrompt = new QLabel("Enable operations for media document channels", this);
  m_pPrompt->setWordWrap(true);
  layout->addWidget(m_pPrompt);

  m_pGrid = new QGridLayout;
  m_pGrid->setHorizontalSpacing(14);
  auto* channelHead = new QLabel("Media channel", this);
  m_pGrid->addWidget(channelHead, 0, 0);
  for (int ch = 0; ch < 4; ++ch) {
    auto* head = new QLabel(QString::number(ch + 1), this);
    head->setAlignment(Qt::AlignCenter);
    m_pGrid->addWidget(head, 0, ch + 1);
  }
  const char* labels[3] = {"Navigate media sources", "Play media stream", "Replay video from a buffer"};
  for (int row = 0; row < 3; ++row) {
    m_pRowLabel[static_cast<std::size_t>(row)] = new QLabel(labels[row], this);
    m_pGrid->addWidget(m_pRowLabel[static_cast<std::size_t>(row)], row + 1, 0);
    BuildRow(row, false);
  }
  m_pGrid->setColumnStretch(0, 1);
  layout->addLayout(m_pGrid);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText("OK");
  buttons->button(QDialogButtonBox::Cancel)->setText("Cancel");
  connect(buttons, &QDialogButtonBox::accepted, this, &COptsNavigate::OnOK);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(sizeHint().expandedTo(QSize(380, 0)));
}

COptsNavigate::~COptsNavigate() = default;

void COptsNavigate::BuildRow(int row, bool radio) {
  auto& boxes = m_pBoxes[static_cast<std::size_t>(row)];
  for (int ch = 0; ch < 4; ++ch) {
    QAbstractButton*& box = boxes[static_cast<std::size_t>(ch)];
    delete box;
    if (radio)
      box = new QRadioButton(this);
    else
      box = new QCheckBox(this);
    box->setObjectName(QString("row%1_channel%2").arg(row + 1).arg(ch + 1));
    m_pGrid->addWidget(box, row + 1, ch + 1, Qt::AlignCenter);
  }
  if (radio) {
    m_pRadioGroup = new QButtonGroup(this);
    m_pRadioGroup->setExclusive(true);
    for (QAbstractButton* box : boxes) m_pRadioGroup->addButton(box);
  }
}

QAbstractButton* COptsNavigate::Box(int row, int channel) const {
  if (row < 0 || row > 2 || channel < 0 || channel > 3) return nullptr;
  return m_pBoxes[static_cast<std::size_t>(row)][static_cast<std::size_t>(channel)];
}

bool COptsNavigate::OnInitDialog() {
  m_bInitDone = true;
  m_bReadAnswered = false;
  m_nMode = m_nModeRequested;
  TNavigateModeTexts texts{};
  if (!NavigateModeTexts(m_nMode, texts)) return false;

  m_Block = TNavigateExchange{};
  m_Block.mode = m_nMode;
  m_bReadAnswered = SendOptsBlock(m_pOwner, platform::qt::WM_APP_OPTS_NAVIGATE, 0, m_Block, OPTS_XCHG_READ);
  if (!m_bReadAnswered) {
    platform::ShowMessage("Configuration data are not available", {},
                          platform::MB_OK | platform::MB_ICONEXCLAMATION);
    return false;
  }
  if (texts.radio) BuildRow(0, true);
  const TBoxes boxes = ShowSelections(m_nMode, m_Block);
  for (int row = 0; row < 3; ++row) {
    const bool shown = row == 0 || texts.allRows;
    m_pRowLabel[static_cast<std::size_t>(row)]->setVisible(shown);
    for (int ch = 0; ch < 4; ++ch) {
      QAbstractButton* box = Box(row, ch);
      box->setVisible(shown);
      box->setChecked(boxes[static_cast<std::size_t>(row)][static_cast<std::size_t>(ch)]);
    }
  }
  setWindowTitle(texts.caption);
  m_pPrompt->setText(texts.prompt);
  m_pRowLabel[0]->setText(texts.rowLabel);
  // The rows a mode hides take no room: the dialog fits what it shows.
  layout()->activate();
  resize(sizeHint().expandedTo(QSize(380, 0)));
  return true;
}

void COptsNavigate::OnOK() {
  // Without the owner's values (the read went unanswered) the boxes hold
  // nothing of the owner's: writing them would overwrite its settings.
  if (!m_bReadAnswered) {
    platform::ShowMessage("Configuration data can not be set", {},
                          platform::MB_OK | platform::MB_ICONEXCLAMATION);
    return;
  }
  TBoxes boxes{};
  for (int row = 0; row < 3; ++row)
    for (int ch = 0; ch < 4; ++ch)
      boxes[static_cast<std::size_t>(row)][static_cast<std::size_t>(ch)] = Box(row, ch)->isChecked();
  StoreSelections(m_nMode, boxes, m_Block);
  m_Block.mode = m_nMode;
  if (!SendOptsBlock(m_pOwner, platform::qt::WM_APP_OPTS_NAVIGATE, 0, m_Block, OPTS_XCHG_WRITE)) {
    platform::ShowMessage("Configuration data can not be set", {},
                          platform::MB_OK | platform::MB_ICONEXCLAMATION);
    return;
  }
  QDialog::accept();
}

int COptsNavigate::exec() {
  if (!m_bInitDone) OnInitDialog();
  return QDialog::exec();
}

}  // namespace OptsNavigate
