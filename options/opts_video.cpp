#include "options/opts_video.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

namespace OptsVideo {

using namespace ZarnTypes;

std::int32_t RateOfPeriod(std::int32_t periodMs) { return periodMs > 0 ? 1000 / periodMs : 0; }
std::int32_t PeriodOfRate(std::int32_t rate) { return rate > 0 ? 1000 / rate : 0; }

COptsVideo::COptsVideo(QWidget* parent) : COptsPage("Video", parent) {
  auto* layout = new QVBoxLayout(this);

  auto* rateGroup = new QGroupBox("Frame rate", this);
  auto* rateGrid = new QGridLayout(rateGroup);
  m_pRate = new QSpinBox(rateGroup);
  m_pRate->setObjectName("IDC_1311");
  m_pRate->setRange(kRateMin, kRateMax);
  m_pTrack = new QSlider(Qt::Horizontal, rateGroup);
  m_pTrack->setObjectName("IDC_1312");
  m_pTrack->setRange(kRateMin, kRateMax);
  m_pTrack->setTickPosition(QSlider::TicksBelow);
  m_pTrack->setTickInterval(10);
  m_pPeriod = new QLineEdit(rateGroup);
  m_pPeriod->setObjectName("IDC_1319");
  m_pPeriod->setReadOnly(true);
  auto* rateAdvanced = new QPushButton("Advanced...", rateGroup);
  rateAdvanced->setEnabled(false);
  rateGrid->addWidget(new QLabel("Frequency, frames / sec", rateGroup), 0, 0);
  rateGrid->addWidget(m_pRate, 0, 1);
  rateGrid->addWidget(m_pTrack, 1, 0, 1, 3);
  rateGrid->addWidget(new QLabel("Video out period, msec", rateGroup), 2, 0);
  rateGrid->addWidget(m_pPeriod, 2, 1);
  rateGrid->addWidget(rateAdvanced, 2, 2);
  layout->addWidget(rateGroup);

  auto* syncGroup = new QGroupBox("Syncronization of channels", this);
  auto* syncLayout = new QHBoxLayout(syncGroup);
  m_pByFrames = new QRadioButton("By frames", syncGroup);
  m_pByTime = new QRadioButton("By time", syncGroup);
  m_pNone = new QRadioButton("None", syncGroup);
  m_pByTime->setEnabled(false);
  m_pNone->setEnabled(false);
  auto* syncButtons = new QButtonGroup(syncGroup);
  for (QRadioButton* b : {m_pByFrames, m_pByTime, m_pNone}) {
    syncButtons->addButton(b);
    syncLayout->addWidget(b);
  }
  auto* syncAdvanced = new QPushButton("Advanced...", syncGroup);
  syncAdvanced->setEnabled(false);
  syncLayout->addStretch(1);
  syncLayout->addWidget(syncAdvanced);
  layout->addWidget(syncGroup);

  auto* paneGroup = new QGroupBox("Controller pane", this);
  auto* paneLayout = new QVBoxLayout(paneGroup);
  m_pFrameInfo = new QCheckBox("Enable frame index and time info", paneGroup);
  m_pFileNameInfo = new QCheckBox("Enable frame file name info", paneGroup);
  m_pFileNameInfo->setEnabled(false);
  paneLayout->addWidget(m_pFrameInfo);
  paneLayout->addWidget(m_pFileNameInfo);
  layout->addWidget(paneGroup);
  layout->addStretch(1);

  // Every move of the track bar the user makes (arrows, page, drag, wheel,
  // Home and End) sets the rate, so the bar never shows a rate the page
  // would not send. So does every change the user makes in the rate box,
  // typed or by its arrows: the owner keeps only the period, and a typed
  // rate sent with the period of the rate before would be lost.
  connect(m_pTrack, &QSlider::valueChanged, this, [this](int position) {
    if (!m_bShowing) SetRate(position);
  });
  connect(m_pRate, &QSpinBox::valueChanged, this, [this](int value) {
    if (!m_bShowing) SetRate(value);
  });
}

COptsVideo::~COptsVideo() = default;

QRadioButton* COptsVideo::SyncButton(std::int32_t mode) const {
  switch (mode) {
    case CHANNEL_SYNC_NONE: return m_pNone;
    case CHANNEL_SYNC_BY_FRAMES: return m_pByFrames;
    case CHANNEL_SYNC_BY_TIME: return m_pByTime;
    default: return nullptr;
  }
}

void COptsVideo::TrackTo(int position) {
  m_pTrack->setValue(position);
  if (!m_bShowing) SetRate(m_pTrack->value());
}

void COptsVideo::SetRate(int rate) {
  m_nRate = rate;
  m_nPeriod = PeriodOfRate(rate);
  ShowMembers();
}

void COptsVideo::ShowMembers() {
  m_bShowing = true;
  m_pRate->setValue(m_nRate);
  m_pTrack->setValue(m_nRate);
  m_pPeriod->setText(QString::number(m_nPeriod));
  m_bShowing = false;
}

bool COptsVideo::OnInitDialog() {
  m_Block = TVideoExchange{};
  if (!ReadBlock(platform::qt::WM_APP_OPTS_VIDEO, 0, m_Block,
                 "Configuration data for 'Video' operations are not available"))
    return false;
  m_nPeriod = m_Block.period;
  m_nRate = RateOfPeriod(m_nPeriod);
  if (QRadioButton* sync = SyncButton(m_Block.syncMode)) sync->setChecked(true);
  m_pFrameInfo->setChecked(m_Block.frameInfo != 0);
  m_pFileNameInfo->setChecked(m_Block.fileNameInfo != 0);
  if (ReadOnly()) setEnabled(false);
  ShowMembers();
  return true;
}

void COptsVideo::OnOK() {
  m_Block.frameRate = m_nRate;
  m_Block.period = m_nPeriod;
  if (m_pNone->isChecked())
    m_Block.syncMode = CHANNEL_SYNC_NONE;
  else if (m_pByFrames->isChecked())
    m_Block.syncMode = CHANNEL_SYNC_BY_FRAMES;
  else if (m_pByTime->isChecked())
    m_Block.syncMode = CHANNEL_SYNC_BY_TIME;
  m_Block.frameInfo = m_pFrameInfo->isChecked() ? 1 : 0;
  m_Block.fileNameInfo = m_pFileNameInfo->isChecked() ? 1 : 0;
  WriteBlock(platform::qt::WM_APP_OPTS_VIDEO, 0, m_Block,
             "Configuration data for 'Video' operations can not be set");
}

}  // namespace OptsVideo
