#include "options/opts_video_pane.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

#include "options/channel_radios.h"

namespace OptsVideoPane {

using namespace ZarnTypes;

namespace {

constexpr const char* kReadFailed = "Configuration data for 'Video pane' option dialog are not available";
constexpr const char* kWriteFailed = "Configuration data for 'Video pane' options dialog can not be set";

QSlider* MakeSlider(const char* name, QWidget* parent) {
  auto* slider = new QSlider(Qt::Horizontal, parent);
  slider->setObjectName(name);
  slider->setRange(0, 1);
  slider->setPageStep(1);
  slider->setTickPosition(QSlider::TicksBelow);
  slider->setTickInterval(1);
  return slider;
}

}  // namespace

int ViewPosition(std::int32_t viewMode) { return viewMode == kStretchSmooth ? 1 : 0; }

int PlayPosition(std::int32_t playMode, int viewPosition) {
  if (playMode == kStretchFast) return 0;
  if (playMode == kStretchSmooth) return 1;
  return viewPosition;
}

std::int32_t ModeOfPosition(int position) { return position == 1 ? kStretchSmooth : kStretchFast; }

COptsVideoPane::COptsVideoPane(QWidget* parent) : COptsPage("Video Pane", parent) {
  auto* layout = new QVBoxLayout(this);
  m_pDocument = new QLabel("AppObject", this);
  m_pDocument->setObjectName("IDC_1045");
  layout->addWidget(m_pDocument);
  m_pChannels = new OptsPage::CChannelRadios(this);
  m_pChannels->onStore = [this](int channel) { StoreChannel(channel); };
  m_pChannels->onLoad = [this](int channel) {
    m_nChannel = channel;
    ShowChannel(channel);
  };
  layout->addWidget(m_pChannels);

  auto* fastGroup = new QGroupBox(this);
  fastGroup->setObjectName("IDC_1457");
  auto* fastLayout = new QVBoxLayout(fastGroup);
  m_pFastStretch = new QCheckBox(
      "Automatically activate a fast stretch drawing during playback of any video (\"Play\" mode)",
      fastGroup);
  m_pFastStretch->setObjectName("IDC_1458");
  fastLayout->addWidget(m_pFastStretch);
  layout->addWidget(fastGroup);

  auto* stretchGroup = new QGroupBox("2D Graphics: Stretch drawing", this);
  stretchGroup->setObjectName("IDC_1459");
  auto* grid = new QGridLayout(stretchGroup);
  m_pScale = new QLabel("<- Performance | Quality ->", stretchGroup);
  m_pScale->setObjectName("IDC_1460");
  m_pScale->setAlignment(Qt::AlignCenter);
  m_pView = MakeSlider("IDC_1462", stretchGroup);
  m_pPlay = MakeSlider("IDC_1456", stretchGroup);
  grid->addWidget(m_pScale, 0, 1);
  grid->addWidget(new QLabel("\"View\" mode", stretchGroup), 1, 0);
  grid->addWidget(m_pView, 1, 1);
  grid->addWidget(new QLabel("\"Play\" mode", stretchGroup), 2, 0);
  grid->addWidget(m_pPlay, 2, 1);
  grid->setColumnStretch(1, 1);
  layout->addWidget(stretchGroup);
  layout->addStretch(1);
}

COptsVideoPane::~COptsVideoPane() = default;

bool COptsVideoPane::OnInitDialog() {
  m_Block = TVideoPaneExchange{};
  if (!ReadBlock(platform::qt::WM_APP_OPTS_CATEGORY, OPTTOPIC_VIDEO_PANE, m_Block, kReadFailed)) return false;
  m_nChannel = 0;
  m_pChannels->Reset();
  ShowChannel(m_nChannel);
  if (ReadOnly()) setEnabled(false);
  return true;
}

void COptsVideoPane::ShowChannel(int channel) {
  if (channel < 0 || channel >= 4 || ReadFailed()) return;
  const TVideoPaneChannel& record = m_Block.channels[channel];
  const std::string identifier = m_Block.identifier ? *m_Block.identifier : std::string();
  m_pDocument->setText(QStringLiteral("Media document: %1").arg(QString::fromStdString(identifier)));
  m_pFastStretch->setChecked(record.fastStretch != 0);
  const int view = ViewPosition(record.viewMode);
  m_pView->setValue(view);
  m_pPlay->setValue(PlayPosition(record.playMode, view));
}

void COptsVideoPane::StoreChannel(int channel) {
  if (channel < 0 || channel >= 4 || ReadFailed()) return;
  TVideoPaneChannel& record = m_Block.channels[channel];
  record.fastStretch = m_pFastStretch->isChecked() ? 1 : 0;
  record.viewMode = ModeOfPosition(m_pView->value());
  record.playMode = ModeOfPosition(m_pPlay->value());
}

void COptsVideoPane::OnOK() {
  StoreChannel(m_nChannel);
  WriteBlock(platform::qt::WM_APP_OPTS_CATEGORY, OPTTOPIC_VIDEO_PANE, m_Block, kWriteFailed);
}

}  // namespace OptsVideoPane
