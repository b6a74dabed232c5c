#include "document/zarn_controller_view.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMetaMethod>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "document/child_frame.h"
#include "document/command_ids.h"
#include "document/pane_messages.h"
#include "document/zarn_doc.h"
#include "document/zarn_view.h"
#include "media/device_kinds.h"

namespace ZarnControllerView {

namespace pq = platform::qt;
using namespace ZarnCommands;
using ZarnTypes::kChannelCount;

namespace {

constexpr int kSliderMin = 0;
constexpr int kSliderMax = 100;
constexpr int kSpeedMin = 10;
constexpr int kSpeedMax = 100;

const QColor kBackground(157, 172, 189);

std::string Format(const char* format, auto... values) {
  char text[64];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

bool IsMediaGraphFile(const ZarnTypes::TMediaSource& source) {
  return source.eStreamType >= 3 && source.eStreamType <= 21;
}

// An open media file: its readouts and slider follow the frame shown.
bool IsOpenMediaFile(const ZarnTypes::TMediaSource& source) {
  return source.bOpen && IsMediaGraphFile(source) && source.eSourceCategory == ZarnTypes::SOURCE_CAT_FILE;
}

}  // namespace

// ---------------------------------------------------------------------------
// What the pane shows

std::string FrameCountText(std::int32_t counter) { return Format("%d ", counter); }

std::string FrameCountText(std::int32_t counter, std::int64_t dropped) {
  std::string text = FrameCountText(counter);
  if (dropped > 0) text += Format("(%lld dropped) ", static_cast<long long>(dropped));
  return text;
}

std::int64_t CounterSeconds(std::int32_t counter, std::int32_t periodMs) {
  return (static_cast<std::int64_t>(counter) + 1) * periodMs / 1000;
}

std::int64_t FrameTimeMs(std::int32_t frame, double periodMs) {
  if (frame <= 0 || !(periodMs > 0.0)) return 0;
  return std::llround(static_cast<double>(frame) * periodMs);
}

std::string CounterTimeText(std::int64_t seconds) {
  return Format("%.4lld:%.2lld ", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
}

std::string StreamTimeText(std::int64_t positionMs) {
  const std::int64_t m = positionMs / 60000;
  return Format("%02lld:%02lld:%02lld ", static_cast<long long>(m / 60),
                static_cast<long long>(m - 60 * (m / 60)),
                static_cast<long long>(positionMs / 1000 - 60 * m));
}

std::string DvdTitleText(std::int32_t title, std::int32_t chapter) {
  return Format("T%02d-C%02d ", title, chapter);
}

std::string DvdTimeText(std::int32_t hours, std::int32_t minutes, std::int32_t seconds) {
  return Format("%02d:%02d:%02d ", hours, minutes, seconds);
}

int SliderPosition(int minimum, int maximum, std::int64_t position, std::int64_t duration) {
  if (duration <= 0) return 0;
  const double place =
      static_cast<double>(maximum - minimum) * static_cast<double>(position) / static_cast<double>(duration);
  return static_cast<int>(std::clamp(place, static_cast<double>(minimum), static_cast<double>(maximum)));
}

bool CanSeek(const ZarnTypes::TMediaSource& source) {
  if (!source.bOpen) return false;
  if (source.eStreamType == ZarnTypes::ST_SYSTEM_DEVICE) return source.nDeviceKind == ZarnTypes::SDC_DVD;
  return IsMediaGraphFile(source) && source.eSourceCategory == ZarnTypes::SOURCE_CAT_FILE;
}

bool HasSound(const ZarnTypes::TMediaSource& source) {
  if (!source.bOpen) return false;
  if (IsMediaGraphFile(source)) return true;
  if (source.eStreamType != ZarnTypes::ST_SYSTEM_DEVICE) return false;
  const std::int32_t kind = source.nDeviceKind;
  return kind == ZarnTypes::SDC_AUDIO_INPUT || kind == ZarnTypes::SDC_DVCAM ||
         kind == ZarnTypes::SDC_TV_TUNER || kind == ZarnTypes::SDC_DVD;
}

std::vector<TRowSlot> ArrangeRows(std::int32_t layout, int openCount) {
  std::vector<TRowSlot> rows;
  if (layout == LAYOUT_BY_CHANNEL) {
    for (int ch = 0; ch < kChannelCount; ++ch) {
      const bool shown = ch == 0 || ch < openCount;
      for (TRowKind kind : {ROW_READOUT, ROW_POSITION, ROW_VOLUME}) rows.push_back({kind, ch, shown});
    }
    return rows;
  }
  for (TRowKind kind : {ROW_READOUT, ROW_POSITION, ROW_VOLUME})
    for (int ch = 0; ch < kChannelCount; ++ch)
      rows.push_back({kind, ch, (kind == ROW_READOUT && ch == 0) || ch < openCount});
  return rows;
}

// ---------------------------------------------------------------------------
// The pane

CZarnControllerView::CZarnControllerView(ZarnDoc::CZarnDoc* document, QWidget* parent)
    : QFrame(parent), m_pDocument(document) {
  setFocusPolicy(Qt::StrongFocus);
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, kBackground);
  palette.setColor(QPalette::Base, kBackground);
  palette.setColor(QPalette::Button, kBackground);
  setPalette(palette);
  setMinimumWidth(15);

  BuildForm();
  RegisterMessages();
  m_PositionQuery = [this](int channel, TChannelClock& clock) { return ReaderClock(channel, clock); };

  m_Commands.OnCommand(ID_CONTROLLER_MINIMIZE_RESTORE,
                       [this] { SendPaneCommand(ZarnTypes::PANE_CMD_COLLAPSE_CONTROLLER); });
  m_Commands.OnCommand(ID_CONTROLLER_CLOSE,
                       [this] { SendPaneCommand(ZarnTypes::PANE_CMD_TOGGLE_CONTROLLER); });
  for (const auto& [id, mode] : {std::pair{ID_CONTROLLER_GROUP_BY_FUNCTION, LAYOUT_BY_FUNCTION},
                                 std::pair{ID_CONTROLLER_GROUP_BY_CHANNEL, LAYOUT_BY_CHANNEL}}) {
    m_Commands.OnCommand(id, [this, mode = mode] { SetLayoutMode(mode); });
    m_Commands.OnUpdate(id, [this, mode = mode](pq::TCmdUI& ui) {
      ui.Enable(true);
      ui.SetCheck(m_nLayout == mode ? 1 : 0);
    });
  }
  UpdateStatus();
}

CZarnControllerView::~CZarnControllerView() = default;

void CZarnControllerView::BuildForm() {
  auto remember = [this](int id, QWidget* w) {
    w->setObjectName(QString("IDC_%1").arg(id));
    m_Controls[id] = w;
  };
  auto* outer = new QVBoxLayout(this);
  // The column may be made lower than its controls: they are cut off at the
  // bottom rather than pushing the window's panes.
  outer->setSizeConstraint(QLayout::SetNoConstraint);
  outer->setContentsMargins(4, 2, 4, 4);
  outer->setSpacing(4);

  // "_" and "X" at the top right.
  auto* head = new QHBoxLayout;
  head->addStretch(1);
  auto* minimize = new QPushButton("_", this);
  auto* close = new QPushButton("X", this);
  for (QPushButton* b : {minimize, close}) {
    b->setFixedSize(18, 18);
    b->setFocusPolicy(Qt::NoFocus);
    head->addWidget(b);
  }
  remember(IDC_MINIMIZE, minimize);
  remember(IDC_CLOSE, close);
  connect(minimize, &QPushButton::clicked, this,
          [this] { SendPaneCommand(ZarnTypes::PANE_CMD_COLLAPSE_CONTROLLER); });
  connect(close, &QPushButton::clicked, this,
          [this] { SendPaneCommand(ZarnTypes::PANE_CMD_TOGGLE_CONTROLLER); });
  outer->addLayout(head);

  // The per-channel rows: a label column, then the row's controls.
  m_pRows = new QGridLayout;
  m_pRows->setHorizontalSpacing(3);
  m_pRows->setVerticalSpacing(3);
  // The time readout ("0000:00 ") is the longer of the two.
  m_pRows->setColumnStretch(1, 5);
  m_pRows->setColumnStretch(2, 4);
  outer->addLayout(m_pRows);

  QPalette readoutPalette = palette();
  readoutPalette.setColor(QPalette::WindowText, Qt::white);
  // Readouts in a narrow fixed-pitch face, so nine digits fit a narrow column.
  QFont readoutFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  readoutFont.setPointSizeF(std::max(6.0, QFontInfo(font()).pointSizeF() - 1.0));
  for (int ch = 0; ch < kChannelCount; ++ch) {
    TChannelControls& c = m_Channel[static_cast<std::size_t>(ch)];
    const QString number = QString::number(ch + 1);
    for (QLabel** readout : {&c.time, &c.frames}) {
      *readout = new QLabel("000000000", this);
      (*readout)->setFrameStyle(QFrame::Box | QFrame::Plain);
      (*readout)->setLineWidth(1);
      (*readout)->setPalette(readoutPalette);
      (*readout)->setFont(readoutFont);
      (*readout)->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      (*readout)->setMinimumWidth(20);
      (*readout)->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }
    c.readoutLabel = new QLabel(number, this);
    c.positionLabel = new QLabel(number, this);
    c.position = new QSlider(Qt::Horizontal, this);
    c.volume = new QSlider(Qt::Horizontal, this);
    c.mute = new QCheckBox(number, this);
    for (QSlider* s : {c.position, c.volume}) {
      s->setRange(kSliderMin, kSliderMax);
      s->setSingleStep(0);
      s->setPageStep(0);
      s->setTickPosition(QSlider::NoTicks);
      s->setMinimumWidth(20);
      s->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
      s->setEnabled(false);
    }
    c.position->setValue(kSliderMin);
    c.volume->setValue(kSliderMax);
    c.mute->setEnabled(false);
    remember(IDC_TIME[ch], c.time);
    remember(IDC_FRAMES[ch], c.frames);
    remember(IDC_READOUT_LABEL[ch], c.readoutLabel);
    remember(IDC_POSITION[ch], c.position);
    remember(IDC_POSITION_LABEL[ch], c.positionLabel);
    remember(IDC_VOLUME[ch], c.volume);
    remember(IDC_MUTE[ch], c.mute);

    // A drag of the position slider holds it against the time tick; its
    // release seeks once. The volume acts while the slider moves and when it
    // is let go.
    connect(c.position, &QSlider::sliderPressed, this, [this, ch] { OnPositionTrack(ch); });
    connect(c.position, &QSlider::sliderMoved, this, [this, ch] { OnPositionTrack(ch); });
    connect(c.position, &QSlider::sliderReleased, this, [this, ch] { OnPositionEndTrack(ch); });
    // (sliderMoved comes before the slider's value follows: it carries the
    // new position itself.)
    connect(c.volume, &QSlider::sliderMoved, this, [this, ch](int position) { OnVolumeTrack(ch, position); });
    connect(c.volume, &QSlider::sliderReleased, this,
            [this, ch] { OnVolumeTrack(ch, m_Channel[static_cast<std::size_t>(ch)].volume->value()); });
    connect(c.mute, &QCheckBox::clicked, this, [this, ch] { OnMuteBox(ch); });
  }

  // Play speed.
  auto* speedRow = new QHBoxLayout;
  m_pSpeedLabel = new QLabel("Play", this);
  m_pSpeed = new QSlider(Qt::Horizontal, this);
  m_pSpeed->setRange(kSpeedMin, kSpeedMax);
  m_pSpeed->setSingleStep(0);
  m_pSpeed->setPageStep(0);
  m_pSpeed->setValue(kSpeedMax);
  m_pSpeed->setMinimumWidth(20);
  m_pSpeed->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  speedRow->addWidget(m_pSpeedLabel);
  speedRow->addWidget(m_pSpeed, 1);
  remember(IDC_SPEED_LABEL, m_pSpeedLabel);
  remember(IDC_SPEED, m_pSpeed);
  connect(m_pSpeed, &QSlider::valueChanged, this, [this](int value) { m_pDocument->SetPlaySpeed(value); });
  outer->addSpacing(6);
  outer->addLayout(speedRow);

  // Capture buttons.
  auto* buttons = new QGridLayout;
  buttons->setSpacing(3);
  m_pGet[0] = new QPushButton("Get", this);
  m_pGet[1] = new QPushButton("Get", this);
  m_pSave[0] = new QPushButton("Save", this);
  m_pSave[1] = new QPushButton("Save", this);
  const int ids[4] = {IDC_GET_1, IDC_GET_2, IDC_SAVE_3, IDC_SAVE_4};
  QPushButton* all[4] = {m_pGet[0], m_pGet[1], m_pSave[0], m_pSave[1]};
  for (int i = 0; i < 4; ++i) {
    all[i]->setMinimumWidth(10);
    all[i]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    all[i]->setEnabled(false);
    buttons->addWidget(all[i], i / 2, i % 2);
    remember(ids[i], all[i]);
  }
  connect(m_pGet[0], &QPushButton::clicked, this, [this] { emit CaptureRequested(0); });
  connect(m_pGet[1], &QPushButton::clicked, this, [this] { emit CaptureRequested(1); });
  connect(m_pSave[0], &QPushButton::clicked, this, [this] { emit SaveReferenceRequested(2); });
  connect(m_pSave[1], &QPushButton::clicked, this, [this] { emit SaveReferenceRequested(3); });
  outer->addLayout(buttons);

  m_pInfo = new QLabel("Info", this);
  m_pInfo->setWordWrap(true);
  m_pInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_pInfo->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  remember(IDC_INFO, m_pInfo);
  outer->addWidget(m_pInfo);
  outer->addStretch(1);

  ArrangeControls();
}

void CZarnControllerView::RegisterMessages() {
  m_pMessages = new pq::TMessageMap(this);
  m_pMessages->On(pq::WM_APP_IDENTIFY_VIEW, [](pq::WPARAM, pq::LPARAM lParam) -> pq::LRESULT {
    auto* record = pq::RecordOf<ZarnTypes::TIdentifyView>(lParam);
    if (!record) return 1;
    record->role = ZarnTypes::VIEW_ROLE_CONTROLLER;
    record->answered = 1;
    return 1;
  });
  m_pMessages->On(pq::WM_APP_ZOOM_SETTINGS, [this](pq::WPARAM, pq::LPARAM lParam) -> pq::LRESULT {
    if (auto* block = pq::RecordOf<ZarnTypes::TZoomExchange>(lParam))
      m_pDocument->ExchangeZoomSettings(*block);
    return 1;
  });
  m_pMessages->On(pq::WM_APP_REPAINT_PANES, [this](pq::WPARAM, pq::LPARAM) -> pq::LRESULT {
    for (int pane = 0; pane < ZarnTypes::kPaneCount; ++pane)
      if (ZarnView::CZarnView* view = m_pDocument->PaneView(pane)) view->viewport()->update();
    return 1;
  });
  m_pMessages->On(pq::WM_APP_CONTROLLER_UPDATE, [this](pq::WPARAM what, pq::LPARAM) -> pq::LRESULT {
    OnControllerUpdate(what);
    return 1;
  });
  m_pMessages->On(pq::WM_APP_TIME_TICK, [this](pq::WPARAM, pq::LPARAM) -> pq::LRESULT {
    OnTimeTick();
    return 1;
  });
  m_pMessages->On(pq::WM_APP_CHANNEL_SLIDER, [this](pq::WPARAM channel, pq::LPARAM state) -> pq::LRESULT {
    OnChannelSlider(channel, state);
    return 1;
  });
  for (UINT message : {pq::WM_APP_OPTS_DVCAM, pq::WM_APP_OPTS_WEBCAM, pq::WM_APP_OPTS_TVTUNER})
    m_pMessages->On(message, [this](pq::WPARAM, pq::LPARAM lParam) -> pq::LRESULT {
      if (auto* block = pq::RecordOf<TDeviceModeExchange>(lParam)) OnDeviceMode(*block);
      return 1;
    });
  m_pMessages->On(pq::WM_APP_OPTS_NAVIGATE, [this](pq::WPARAM, pq::LPARAM lParam) -> pq::LRESULT {
    if (auto* block = pq::RecordOf<ZarnTypes::TNavigateExchange>(lParam))
      m_pDocument->ExchangeChannelSelection(*block);
    return 1;
  });
  m_pMessages->On(pq::WM_APP_OPTS_REFERENCE_FRAMES, [this](pq::WPARAM, pq::LPARAM lParam) -> pq::LRESULT {
    if (auto* block = pq::RecordOf<ZarnTypes::TReferenceFramesExchange>(lParam))
      m_pDocument->ExchangeReferenceFrames(*block);
    return 1;
  });
  m_pMessages->On(pq::WM_APP_OPTS_VIDEO, [this](pq::WPARAM, pq::LPARAM lParam) -> pq::LRESULT {
    if (auto* block = pq::RecordOf<ZarnTypes::TVideoExchange>(lParam))
      m_pDocument->ExchangeVideoSettings(*block);
    return 1;
  });
  m_pMessages->On(pq::WM_APP_OPTS_PIP, [this](pq::WPARAM, pq::LPARAM lParam) -> pq::LRESULT {
    if (auto* block = pq::RecordOf<ZarnTypes::TPictInPictExchange>(lParam))
      m_pDocument->ExchangePipSettings(*block);
    return 1;
  });
  // The shared message of the document's pages, by topic: the document
  // says whether it knows the topic; only the block's answered flag tells
  // the page the result.
  m_pMessages->On(pq::WM_APP_OPTS_CATEGORY, [this](pq::WPARAM topic, pq::LPARAM lParam) -> pq::LRESULT {
    if (!lParam) return 0;
    return m_pDocument->OnOptsCategory(topic, lParam);
  });
  m_pMessages->On(pq::WM_APP_OPTS_DOC_STRINGS_1, [this](pq::WPARAM, pq::LPARAM lParam) -> pq::LRESULT {
    if (auto* block = pq::RecordOf<ZarnTypes::TOovSettingsExchange>(lParam))
      m_pDocument->ExchangeOovSettings(*block);
    return 1;
  });
  m_pMessages->On(pq::WM_APP_OPTS_DOC_STRINGS_2, [this](pq::WPARAM, pq::LPARAM lParam) -> pq::LRESULT {
    if (auto* block = pq::RecordOf<ZarnTypes::TH264SettingsExchange>(lParam))
      m_pDocument->ExchangeH264Settings(*block);
    return 1;
  });
  m_pMessages->On(pq::WM_APP_OPTS_DOC_STRINGS_3, [this](pq::WPARAM, pq::LPARAM lParam) -> pq::LRESULT {
    if (auto* block = pq::RecordOf<ZarnTypes::TDocStrings3Exchange>(lParam))
      m_pDocument->ExchangeThirdGroupSettings(*block);
    return 1;
  });
}

bool CZarnControllerView::OnCmdMsg(UINT id, pq::TCmdCode code, pq::TCmdUI* ui) {
  return m_Commands.OnCmdMsg(id, code, ui);
}

QWidget* CZarnControllerView::Control(int id) const {
  const auto it = m_Controls.find(id);
  return it == m_Controls.end() ? nullptr : it->second;
}

QLabel* CZarnControllerView::TimeReadout(int channel) const {
  return channel >= 0 && channel < kChannelCount ? m_Channel[static_cast<std::size_t>(channel)].time
                                                 : nullptr;
}
QLabel* CZarnControllerView::FrameReadout(int channel) const {
  return channel >= 0 && channel < kChannelCount ? m_Channel[static_cast<std::size_t>(channel)].frames
                                                 : nullptr;
}
QSlider* CZarnControllerView::PositionSlider(int channel) const {
  return channel >= 0 && channel < kChannelCount ? m_Channel[static_cast<std::size_t>(channel)].position
                                                 : nullptr;
}
QSlider* CZarnControllerView::VolumeSlider(int channel) const {
  return channel >= 0 && channel < kChannelCount ? m_Channel[static_cast<std::size_t>(channel)].volume
                                                 : nullptr;
}
QCheckBox* CZarnControllerView::MuteBox(int channel) const {
  return channel >= 0 && channel < kChannelCount ? m_Channel[static_cast<std::size_t>(channel)].mute
                                                 : nullptr;
}

void CZarnControllerView::OnInitialUpdate() {
  for (TChannelControls& c : m_Channel) {
    c.position->setValue(kSliderMin);
    c.position->setEnabled(false);
    c.volume->setValue(kSliderMax);
    c.volume->setEnabled(false);
    c.mute->setEnabled(false);
    c.dragging = false;
    c.shownSeconds = -1;
  }
  m_pSpeed->setValue(kSpeedMax);
  m_pDocument->m_Engine.m_nSpeedMax.store(kSpeedMax);
  m_pDocument->SetPlaySpeed(kSpeedMax);
  UpdateCaptureButtons();
  ArrangeControls();
  UpdateStatus();
  m_bInitialised = true;
}

void CZarnControllerView::RequestUpdate(pq::WPARAM what) {
  if (what != CONTROLLER_UPDATE_COUNTERS && what != CONTROLLER_UPDATE_ALL) return;
  const unsigned bit = 1u << what;
  if (m_nPendingUpdates.fetch_or(bit) & bit) return;  // one is already on its way
  if (!pq::PostAppMessage(this, pq::WM_APP_CONTROLLER_UPDATE, what, 0)) m_nPendingUpdates.fetch_and(~bit);
}

void CZarnControllerView::OnControllerUpdate(pq::WPARAM what) {
  // A request arriving from now on needs a message of its own.
  if (what == CONTROLLER_UPDATE_COUNTERS || what == CONTROLLER_UPDATE_ALL)
    m_nPendingUpdates.fetch_and(~(1u << what));
  if (!m_bInitialised) return;
  if (what == CONTROLLER_UPDATE_COUNTERS)
    UpdateCounters();
  else if (what == CONTROLLER_UPDATE_ALL)
    RefreshAll();
}

void CZarnControllerView::UpdateCounters() {
  const std::int32_t period = m_pDocument->ch_nDecoderVideoOutPeriod;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    TChannelControls& c = m_Channel[static_cast<std::size_t>(ch)];
    if (IsOpenMediaFile(m_pDocument->m_Source[ch])) {
      ShowMediaFilePlace(ch);
      continue;
    }
    const std::int32_t counter = m_pDocument->ShownFrame(ch);
    c.frames->setText(QString::fromStdString(FrameCountText(counter, RecorderDrops(ch))));
    // Every channel times its readout by the frame counter: a channel whose
    // source has no stream position gets no time tick, and its readout
    // would stand still while its frames play.
    const std::int64_t seconds = CounterSeconds(counter, period);
    if (seconds == c.shownSeconds) continue;
    c.shownSeconds = seconds;
    c.time->setText(QString::fromStdString(CounterTimeText(seconds)));
  }
}

std::int64_t CZarnControllerView::RecorderDrops(int channel) const {
  const SaveStream::CSaveStream& recorder = m_pDocument->m_Recorder[static_cast<std::size_t>(channel)];
  return recorder.IsOpen() ? recorder.FramesDropped() : 0;
}

void CZarnControllerView::ShowMediaFilePlace(int channel, const TChannelClock* clock) {
  TChannelControls& c = m_Channel[static_cast<std::size_t>(channel)];
  const std::int32_t frame = m_pDocument->ShownFrame(channel);
  c.frames->setText(QString::fromStdString(FrameCountText(frame, RecorderDrops(channel))));
  const double period = m_pDocument->ChannelFramePeriodMs(channel);
  // A duration the open did not keep is learnt as soon as the session streams.
  TChannelClock learnt;
  if (!clock && !(c.durationMs > 0.0) && !(m_pDocument->ChannelDurationMs(channel) > 0.0) &&
      m_PositionQuery && m_pDocument->ChannelStreaming(channel) && m_PositionQuery(channel, learnt) &&
      learnt.duration > 0)
    c.durationMs = static_cast<double>(learnt.duration) / 10000.0;
  const double duration = c.durationMs > 0.0 ? c.durationMs : m_pDocument->ChannelDurationMs(channel);
  if (period > 0.0) {
    // The time of the frame shown, and its share of the duration.
    const std::int64_t timeMs = FrameTimeMs(frame, period);
    c.time->setText(QString::fromStdString(StreamTimeText(timeMs)));
    if (c.dragging) return;
    if (duration > 0.0) {
      // The nearest place, so that a frame sought from the slider puts the
      // slider back where it was let go.
      const int span = c.position->maximum() - c.position->minimum();
      const double place = std::round(static_cast<double>(span) * static_cast<double>(timeMs) / duration);
      c.position->setValue(c.position->minimum() +
                           static_cast<int>(std::clamp(place, 0.0, static_cast<double>(span))));
    } else if (timeMs == 0) {
      c.position->setValue(c.position->minimum());
    }
    return;
  }
  // A file whose open did not tell its frame period: the first frame is at
  // the start; elsewhere the time tick tells where the session stands, and
  // between ticks (and after the session) the readout and the slider stay.
  if (clock) {
    c.time->setText(QString::fromStdString(StreamTimeText(clock->positionMs)));
    if (!c.dragging)
      c.position->setValue(
          SliderPosition(c.position->minimum(), c.position->maximum(), clock->position, clock->duration));
  } else if (frame == 0) {
    c.time->setText(QString::fromStdString(StreamTimeText(0)));
    if (!c.dragging) c.position->setValue(c.position->minimum());
  }
}

void CZarnControllerView::ForgetChannelPlace(int channel) {
  if (channel < 0 || channel >= kChannelCount) return;
  TChannelControls& c = m_Channel[static_cast<std::size_t>(channel)];
  c.durationMs = 0;
  c.shownSeconds = -1;
}

void CZarnControllerView::RefreshAll() {
  for (int ch = 0; ch < kChannelCount; ++ch) {
    TChannelControls& c = m_Channel[static_cast<std::size_t>(ch)];
    const ZarnTypes::TMediaSource& source = m_pDocument->m_Source[ch];
    // A media file's slider stays at the frame shown (after a session, the
    // last frame shown; after an open, the first).
    if (IsOpenMediaFile(source))
      ShowMediaFilePlace(ch);
    else
      c.position->setValue(kSliderMin);
    c.position->setEnabled(CanSeek(source));
    const bool sound = HasSound(source);
    c.volume->setEnabled(sound);
    c.mute->setEnabled(sound);
  }
  // The readouts show the frames the channels show now (after an open, the
  // first; after a session, the last).
  UpdateCounters();
  UpdateCaptureButtons();
  ArrangeControls();
  UpdateStatus();
}

void CZarnControllerView::OnTimeTick() {
  if (!m_PositionQuery) return;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    TChannelControls& c = m_Channel[static_cast<std::size_t>(ch)];
    const ZarnTypes::TMediaSource& source = m_pDocument->m_Source[ch];
    if (!source.bOpen || !m_pDocument->ChannelStreaming(ch) || c.dragging) continue;
    TChannelClock clock;
    if (!m_PositionQuery(ch, clock)) continue;
    if (IsOpenMediaFile(source)) {
      // The reader's position is where its decoding has got to, ahead of
      // the picture by the frames cached: the readouts follow the picture.
      if (clock.duration > 0) c.durationMs = static_cast<double>(clock.duration) / 10000.0;
      ShowMediaFilePlace(ch, &clock);
      continue;
    }
    c.position->setValue(
        SliderPosition(c.position->minimum(), c.position->maximum(), clock.position, clock.duration));
    if (source.nDeviceCategory == ZarnTypes::SDC_DVD) {
      if (!clock.titlePlay) continue;
      c.frames->setText(QString::fromStdString(DvdTitleText(clock.title, clock.chapter)));
      c.time->setText(QString::fromStdString(DvdTimeText(clock.hours, clock.minutes, clock.seconds)));
    } else {
      c.time->setText(QString::fromStdString(StreamTimeText(clock.positionMs)));
    }
  }
}

bool CZarnControllerView::ReaderClock(int channel, TChannelClock& clock) const {
  if (channel < 0 || channel >= kChannelCount) return false;
  ReadStream::CReadStream& reader = m_pDocument->ChannelReader(channel);
  DShowMgr::TMediaProgress progress;
  if (!reader.GetPositionAndDuration(&progress)) return false;
  clock.position = progress.nPosition;
  clock.duration = progress.nDuration;
  if (m_pDocument->m_Source[channel].nDeviceCategory == ZarnTypes::SDC_DVD) {
    DShowMgr::TMediaPosition location;
    clock.titlePlay = reader.GetPosition(&location) && location.eKind == DShowMgr::MEDIA_POS_DVD_LOCATION;
    if (clock.titlePlay) {
      clock.title = location.nTitle;
      clock.chapter = location.nChapter;
      clock.hours = location.nHours;
      clock.minutes = location.nMinutes;
      clock.seconds = location.nSeconds;
    }
  } else {
    clock.positionMs = reader.GetPositionMs();
  }
  return true;
}

void CZarnControllerView::OnPositionTrack(int channel) {
  TChannelControls& c = m_Channel[static_cast<std::size_t>(channel)];
  if (!c.dragging) c.placeBeforeDrag = c.position->value();
  c.dragging = true;
}

void CZarnControllerView::OnPositionEndTrack(int channel) {
  TChannelControls& c = m_Channel[static_cast<std::size_t>(channel)];
  // A seek that fails while the channel plays leaves the slider where the
  // user put it until the next time tick. With nothing playing no tick
  // comes: the slider goes back to where the picture is.
  const bool bSought = m_pDocument->SeekChannel(channel, c.position->value(), kSliderMax);
  c.dragging = false;
  if (bSought || m_pDocument->m_Engine.IsRunning()) return;
  c.position->setValue(c.placeBeforeDrag);
  if (IsOpenMediaFile(m_pDocument->m_Source[channel]) && m_pDocument->ChannelFramePeriodMs(channel) > 0.0)
    ShowMediaFilePlace(channel);
}

void CZarnControllerView::OnVolumeTrack(int channel, int position) {
  m_pDocument->SetChannelVolume(channel, position, kSliderMax);
}

void CZarnControllerView::OnMuteBox(int channel) {
  // Ticked: sound off.
  const bool ticked = m_Channel[static_cast<std::size_t>(channel)].mute->isChecked();
  m_pDocument->ChannelReader(channel).EnableSound(!ticked);
}

void CZarnControllerView::OnChannelSlider(pq::WPARAM channel, pq::LPARAM state) {
  if (channel >= static_cast<pq::WPARAM>(kChannelCount)) return;
  QSlider* slider = m_Channel[channel].position;
  if (state == 0)
    slider->setEnabled(false);
  else if (state == 1)
    slider->setEnabled(true);
  // A media file's slider goes to the frame shown: its reader ends before
  // the frames it cached are shown, and an open shows the first frame.
  if (!IsOpenMediaFile(m_pDocument->m_Source[channel])) {
    slider->setValue(kSliderMin);
    return;
  }
  const int ch = static_cast<int>(channel);
  ShowMediaFilePlace(ch);
  // A file timed by its reader's position whose reader read it to its end
  // in this session stands at its end (where its picture is about to be).
  TChannelControls& c = m_Channel[channel];
  if (m_pDocument->ChannelFramePeriodMs(ch) > 0.0 || c.dragging || m_pDocument->ShownFrame(ch) == 0 ||
      !m_pDocument->m_Engine.m_Channel[ch].bSlotEnd.load())
    return;
  slider->setValue(slider->maximum());
  if (c.durationMs > 0.0) c.time->setText(QString::fromStdString(StreamTimeText(std::llround(c.durationMs))));
}

void CZarnControllerView::OnDeviceMode(TDeviceModeExchange& block) {
  // A channel outside 0..3 names no reader: the block stays unanswered.
  if (block.channel < 0 || block.channel >= kChannelCount) return;
  if (block.op == 1) {
    const ReadStream::CReadStream& reader = m_pDocument->ChannelReader(block.channel);
    block.deviceCategory = reader.Description().nDeviceCategory;
    block.workMode = reader.DeviceSettings().nCaptureWorkMode;
    block.answered = 1;
  } else if (block.op == 2) {
    // The reader takes its work mode when the document is set up; the
    // page's choice is acknowledged without being stored.
    block.answered = 1;
  }
}

bool CZarnControllerView::HasReceiver(const char* signal) const {
  const QMetaObject* meta = metaObject();
  for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
    const QMetaMethod method = meta->method(i);
    if (method.methodType() == QMetaMethod::Signal && method.name() == signal)
      return isSignalConnected(method);
  }
  return false;
}

void CZarnControllerView::connectNotify(const QMetaMethod& signal) {
  QFrame::connectNotify(signal);
  if (signal.name() == "CaptureRequested" || signal.name() == "SaveReferenceRequested")
    UpdateCaptureButtons();
}

void CZarnControllerView::UpdateCaptureButtons() {
  const bool get = HasReceiver("CaptureRequested");
  const bool save = HasReceiver("SaveReferenceRequested");
  for (QPushButton* b : m_pGet) b->setEnabled(get);
  for (QPushButton* b : m_pSave) b->setEnabled(save);
}

void CZarnControllerView::SetLayoutMode(std::int32_t layout) {
  if (layout != LAYOUT_BY_CHANNEL && layout != LAYOUT_BY_FUNCTION) return;
  m_nLayout = layout;
  ArrangeControls();
  update();
}

void CZarnControllerView::ArrangeControls() {
  int openCount = 0;
  for (int ch = 0; ch < kChannelCount; ++ch)
    if (m_pDocument->m_Source[ch].bOpen) openCount = ch + 1;

  for (TChannelControls& c : m_Channel)
    for (QWidget* w : std::initializer_list<QWidget*>{c.readoutLabel, c.time, c.frames, c.positionLabel,
                                                      c.position, c.mute, c.volume})
      m_pRows->removeWidget(w);

  int row = 0;
  for (const TRowSlot& slot : ArrangeRows(m_nLayout, openCount)) {
    TChannelControls& c = m_Channel[static_cast<std::size_t>(slot.channel)];
    std::vector<QWidget*> widgets;
    switch (slot.kind) {
      case ROW_READOUT: widgets = {c.readoutLabel, c.time, c.frames}; break;
      case ROW_POSITION: widgets = {c.positionLabel, c.position}; break;
      case ROW_VOLUME: widgets = {c.mute, c.volume}; break;
    }
    for (QWidget* w : widgets) w->setVisible(slot.shown);
    if (!slot.shown) continue;
    m_pRows->addWidget(widgets[0], row, 0);
    if (widgets.size() == 3) {
      m_pRows->addWidget(widgets[1], row, 1);
      m_pRows->addWidget(widgets[2], row, 2);
    } else {
      m_pRows->addWidget(widgets[1], row, 1, 1, 2);
    }
    ++row;
  }
}

void CZarnControllerView::UpdateStatus() {
  const std::string& status = m_pDocument->m_strStatus;
  m_pInfo->setText(status.empty() ? QString("Info") : QString::fromStdString(status));
}

void CZarnControllerView::SendPaneCommand(std::int32_t command) {
  if (ChildFrameSplitter::CChildFrameSplitter* frame = m_pDocument->ChildFrame())
    pq::SendAppMessage(frame, pq::WM_APP_PANE_COMMAND, static_cast<pq::WPARAM>(command), 0);
}

void CZarnControllerView::contextMenuEvent(QContextMenuEvent* event) {
  setFocus(Qt::OtherFocusReason);
  emit Activated(this);
  QMenu* menu = ZarnView::CreatePopupMenu(ZarnView::kControllerContextMenu, this);
  if (!menu) {
    menu = new QMenu("PopUp Controller View", this);
    menu->addAction("Minimize / Restore Pane", this,
                    [this] { SendPaneCommand(ZarnTypes::PANE_CMD_COLLAPSE_CONTROLLER); });
    menu->addAction("Close Controller", this,
                    [this] { SendPaneCommand(ZarnTypes::PANE_CMD_TOGGLE_CONTROLLER); });
    menu->addSeparator();
    QAction* byFunction =
        menu->addAction("Group by Function", this, [this] { SetLayoutMode(LAYOUT_BY_FUNCTION); });
    QAction* byChannel =
        menu->addAction("Group by Channel", this, [this] { SetLayoutMode(LAYOUT_BY_CHANNEL); });
    byFunction->setCheckable(true);
    byChannel->setCheckable(true);
    byFunction->setChecked(m_nLayout == LAYOUT_BY_FUNCTION);
    byChannel->setChecked(m_nLayout == LAYOUT_BY_CHANNEL);
  }
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

void CZarnControllerView::focusInEvent(QFocusEvent* event) {
  QFrame::focusInEvent(event);
  emit Activated(this);
}

void CZarnControllerView::mousePressEvent(QMouseEvent* event) {
  emit Activated(this);
  QFrame::mousePressEvent(event);
}

}  // namespace ZarnControllerView
