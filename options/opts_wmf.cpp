#include "options/opts_wmf.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

using namespace ZarnTypes;

namespace OptsWmf {

namespace {

// The program's Windows Media writer's profiles: the work of a one-shot
// media-graph session's profile listing, done here without a session.
bool ListOwnProfiles(DShowMgr::TWmProfileList& list) { return DShowMgr::ListWmProfiles(list); }

TProfileLister& Lister() {
  static TProfileLister lister = ListOwnProfiles;
  return lister;
}

constexpr std::array<std::uint8_t, 16> kNullId{};

// Lines of description the framed box always has room for.
constexpr int kDescriptionLines = 3;

}  // namespace

TProfileLister SetProfileLister(TProfileLister lister) {
  TProfileLister previous = std::move(Lister());
  Lister() = lister ? std::move(lister) : TProfileLister(ListOwnProfiles);
  return previous;
}

COptsWmf::COptsWmf(QWidget* parent) : COptsPage(QStringLiteral("WMF"), parent) {
  auto* outer = new QVBoxLayout(this);
  outer->addWidget(
      new QLabel(QStringLiteral("Make a selection from the list of currenly available profiles"), this));
  m_list = new QComboBox(this);
  m_list->setObjectName(QStringLiteral("profiles"));
  // The closed list shows its longest entry whole.
  m_list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  outer->addWidget(m_list);
  m_description = new QLabel(this);
  m_description->setObjectName(QStringLiteral("description"));
  m_description->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  m_description->setWordWrap(true);
  m_description->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_description->setMargin(3);
  m_description->setMinimumHeight(kDescriptionLines * QFontMetrics(m_description->font()).lineSpacing() +
                                  2 * (m_description->frameWidth() + m_description->margin()));
  outer->addWidget(m_description);
  m_newProfile =
      new QCheckBox(QStringLiteral("Create a new profile according to the features of input streams"), this);
  m_newProfile->setObjectName(QStringLiteral("newProfile"));
  outer->addWidget(m_newProfile);
  m_customSampling = new QCheckBox(QStringLiteral("Enable custom sampling in writer"), this);
  m_customSampling->setObjectName(QStringLiteral("customSampling"));
  outer->addWidget(m_customSampling);
  outer->addStretch(1);

  connect(m_list, &QComboBox::activated, this, [this](int index) { ShowDescription(index); });
}

COptsWmf::~COptsWmf() = default;

bool COptsWmf::LoadProfiles() {
  m_names.clear();
  m_descriptions.clear();
  m_ids.clear();
  m_nCount = 0;
  DShowMgr::TWmProfileList request;
  request.pNames = &m_names;
  request.pDescriptions = &m_descriptions;
  request.pIds = &m_ids;
  request.bWantVideo = m_bVideo;
  request.bWantAudio = m_bAudio;
  if (!Lister()(request)) return false;
  // Only what the arrays hold is listed, whatever count came back.
  m_nCount = std::clamp<std::int32_t>(request.nCount, 0, static_cast<std::int32_t>(m_names.size()));
  return m_nCount > 0;
}

bool COptsWmf::OnInitDialog() {
  m_block = {};
  if (!ReadBlock(platform::qt::WM_APP_OPTS_WMF, 0, m_block, OptsPage::ReadFailedText(OptsPage::PAGE_WMF)))
    return false;
  m_bVideo = m_bAudio = false;
  switch (m_block.format) {
    case 10:  // WMV
    case 11:  // ASF
      m_bVideo = m_bAudio = true;
      break;
    case 20:  // WMA
      m_bAudio = true;
      break;
    default: break;
  }
  if (!LoadProfiles()) {
    ShowPageMessage(kNoProfiles);
    EndSheetWithCancel();
    return false;
  }

  m_list->clear();
  for (std::int32_t i = 0; i < m_nCount; ++i) {
    const std::string& name = m_names[static_cast<std::size_t>(i)];
    if (name.empty()) break;
    m_list->addItem(QString::number(i) + QStringLiteral(": ") + QString::fromStdString(name));
  }

  int selected = 0;
  if (m_block.profile != kNullId) {
    for (int i = 0; i < m_list->count() && i < static_cast<int>(m_ids.size()); ++i)
      if (m_ids[static_cast<std::size_t>(i)] == m_block.profile) {
        selected = i;
        break;
      }
  }
  m_list->setCurrentIndex(m_list->count() > 0 ? selected : -1);
  ShowDescription(m_list->currentIndex());
  m_newProfile->setChecked(m_block.newProfile != 0);
  m_customSampling->setChecked(m_block.customSampling != 0);
  if (ReadOnly()) setEnabled(false);
  return true;
}

void COptsWmf::ShowDescription(int index) {
  if (index < 0 || index >= m_list->count()) return;
  const auto i = static_cast<std::size_t>(index);
  m_description->setText(i < m_descriptions.size() ? QString::fromStdString(m_descriptions[i]) : QString());
}

void COptsWmf::OnOK() {
  if (!ReadFailed()) {
    // Without a chosen profile the owner keeps every value.
    const int index = m_list->currentIndex();
    if (!InitResult() || index < 0 || index >= m_list->count()) return;
    const auto i = static_cast<std::size_t>(index);
    if (i < m_ids.size()) m_block.profile = m_ids[i];
    m_block.newProfile = m_newProfile->isChecked() ? 1 : 0;
    m_block.customSampling = m_customSampling->isChecked() ? 1 : 0;
  }
  WriteBlock(platform::qt::WM_APP_OPTS_WMF, 0, m_block, OptsPage::WriteFailedText(OptsPage::PAGE_WMF));
}

}  // namespace OptsWmf
