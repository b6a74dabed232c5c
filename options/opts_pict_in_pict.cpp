#include "options/opts_pict_in_pict.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace OptsPictInPict {

using namespace ZarnTypes;

namespace {

constexpr const char* kReadFailed = "Configuration data for 'Picture In Picture' operation are not available";
constexpr const char* kWriteFailed = "Configuration data for 'Picture In Picture' operation can not be set";

// Control ids of a pane: group, check box, port, rectangle group, its two
// radio buttons, x, y, width, height, source group, its two radio buttons,
// crop x, y, width, height.
constexpr std::array<int, 17> kPrimaryIds = {1406, 1323, 1385, 1408, 1390, 1391, 1386, 1387, 1389,
                                             1388, 1413, 1392, 1393, 1397, 1398, 1400, 1399};
constexpr std::array<int, 17> kAssistantIds = {1431, 1327, 1419, 1420, 1421, 1422, 1424, 1427, 1430,
                                               1434, 1436, 1437, 1438, 1440, 1443, 1446, 1449};

QString IdName(int id) { return QStringLiteral("IDC_%1").arg(id); }

QSpinBox* MakeSpin(int id, int minimum, int maximum, QWidget* parent) {
  auto* box = new QSpinBox(parent);
  box->setObjectName(IdName(id));
  box->setRange(minimum, maximum);
  // Out of range is refused keystroke by keystroke: no value outside the
  // range is ever held.
  box->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  return box;
}

}  // namespace

COptsPictInPict::COptsPictInPict(QWidget* parent) : COptsPage("Picture In Picture", parent) {
  auto* layout = new QHBoxLayout(this);
  BuildPane(0, "Primary video pane", kPrimaryIds);
  BuildPane(1, "Assistant video pane", kAssistantIds);
  layout->addWidget(m_panes[0].group, 1, Qt::AlignTop);
  layout->addWidget(m_panes[1].group, 1, Qt::AlignTop);
}

COptsPictInPict::~COptsPictInPict() = default;

void COptsPictInPict::BuildPane(int pane, const char* title, const std::array<int, 17>& ids) {
  TPipPaneControls& c = m_panes[static_cast<std::size_t>(pane)];
  c.group = new QGroupBox(title, this);
  c.group->setObjectName(IdName(ids[0]));
  auto* v = new QVBoxLayout(c.group);
  c.enabled = new QCheckBox("Enable \"Picture In Picture\"", c.group);
  c.enabled->setObjectName(IdName(ids[1]));
  v->addWidget(c.enabled);
  auto* portRow = new QHBoxLayout;
  portRow->addWidget(new QLabel("Insert picture from the video port", c.group));
  c.port = MakeSpin(ids[2], 1, 4, c.group);
  portRow->addWidget(c.port);
  portRow->addStretch(1);
  v->addLayout(portRow);

  static const char* const kLabels[4] = {"X Pos", "Y Pos", "Width", "Height"};
  auto makeGroup = [&](const char* groupTitle, int groupId, const char* first, int firstId,
                       const char* second, int secondId, int numberIndex, int numberId, int minimum,
                       QRadioButton*& a, QRadioButton*& b) {
    auto* group = new QGroupBox(groupTitle, c.group);
    group->setObjectName(IdName(groupId));
    auto* grid = new QGridLayout(group);
    a = new QRadioButton(first, group);
    a->setObjectName(IdName(firstId));
    b = new QRadioButton(second, group);
    b->setObjectName(IdName(secondId));
    auto* radios = new QButtonGroup(group);
    radios->addButton(a);
    radios->addButton(b);
    grid->addWidget(a, 0, 0, 1, 4);
    grid->addWidget(b, 1, 0, 1, 4);
    for (int i = 0; i < 4; ++i) {
      const auto n = static_cast<std::size_t>(numberIndex + i);
      c.labels[n] = new QLabel(kLabels[i], group);
      c.numbers[n] =
          MakeSpin(ids[static_cast<std::size_t>(numberId + i)], i < 2 ? minimum : 0, kSizeMax, group);
      grid->addWidget(c.labels[n], 2 + i / 2, (i % 2) * 2);
      grid->addWidget(c.numbers[n], 2 + i / 2, (i % 2) * 2 + 1);
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    v->addWidget(group);
  };
  makeGroup("PIP rectangle: origin and size, pixels", ids[3], "Position relative to the video pane", ids[4],
            "Position relative to the base picture", ids[5], PIP_X, 6, kPosMin, c.fromPane, c.fromPicture);
  makeGroup("Source picture rectangle (inserted picture)", ids[10], "Entire picture", ids[11],
            "Crop rectangle: origin and size, pixels", ids[12], PIP_CROP_X, 13, 0, c.entire, c.crop);

  auto follow = [this, pane] {
    EnablePane(pane, m_panes[static_cast<std::size_t>(pane)].enabled->isChecked());
  };
  connect(c.enabled, &QCheckBox::toggled, this, follow);
  connect(c.entire, &QRadioButton::toggled, this, follow);
  connect(c.crop, &QRadioButton::toggled, this, follow);
}

void COptsPictInPict::EnablePane(int pane, bool enabled) {
  TPipPaneControls& c = m_panes[static_cast<std::size_t>(pane)];
  c.port->setEnabled(enabled);
  for (QRadioButton* b : {c.fromPane, c.fromPicture, c.entire, c.crop}) b->setEnabled(enabled);
  for (int i = 0; i < kPipNumberCount; ++i) {
    const bool on = enabled && (i < PIP_CROP_X || c.crop->isChecked());
    c.numbers[static_cast<std::size_t>(i)]->setEnabled(on);
  }
}

bool COptsPictInPict::OnInitDialog() {
  m_Block = TPictInPictExchange{};
  if (!ReadBlock(platform::qt::WM_APP_OPTS_PIP, 0, m_Block, kReadFailed)) return false;
  for (int pane = 0; pane < 2; ++pane) {
    TPipPaneControls& c = m_panes[static_cast<std::size_t>(pane)];
    const TPipPaneRecord& r = m_Block.panes[pane];
    c.enabled->setChecked(r.enabled != 0);
    c.port->setValue(r.port + 1);
    (r.placement != 0 ? c.fromPicture : c.fromPane)->setChecked(true);
    (r.sourceMode != 0 ? c.crop : c.entire)->setChecked(true);
    const std::int32_t values[kPipNumberCount] = {r.x,     r.y,     r.width,     r.height,
                                                  r.cropX, r.cropY, r.cropWidth, r.cropHeight};
    for (int i = 0; i < kPipNumberCount; ++i) c.numbers[static_cast<std::size_t>(i)]->setValue(values[i]);
    EnablePane(pane, c.enabled->isChecked());
  }
  return true;
}

void COptsPictInPict::OnOK() {
  if (!ReadFailed()) {
    for (int pane = 0; pane < 2; ++pane) {
      const TPipPaneControls& c = m_panes[static_cast<std::size_t>(pane)];
      TPipPaneRecord& r = m_Block.panes[pane];
      r.enabled = c.enabled->isChecked() ? 1 : 0;
      r.port = c.port->value() - 1;
      r.placement = c.fromPane->isChecked() ? 0 : 1;
      r.sourceMode = c.entire->isChecked() ? 0 : 1;
      std::int32_t* values[kPipNumberCount] = {&r.x,     &r.y,     &r.width,     &r.height,
                                               &r.cropX, &r.cropY, &r.cropWidth, &r.cropHeight};
      for (int i = 0; i < kPipNumberCount; ++i) *values[i] = c.numbers[static_cast<std::size_t>(i)]->value();
    }
  }
  if (WriteBlock(platform::qt::WM_APP_OPTS_PIP, 0, m_Block, kWriteFailed) && Owner())
    platform::qt::SendAppMessage(Owner(), platform::qt::WM_APP_REPAINT_PANES, 0, 0);
}

}  // namespace OptsPictInPict
