#include "shell/toolbars.h"

#include <QAction>
#include <QMenu>
#include <QToolButton>

#include <algorithm>

#include "shell/command_ids.h"
#include "shell/icons.h"

namespace shell {

UINT ChannelSetImageOf(const TChannelButtonState& state, TChannelButtonByte byte) {
  return ChannelSetImage(state.channel[0][byte] != 0, state.channel[1][byte] != 0,
                         state.channel[2][byte] != 0, state.channel[3][byte] != 0);
}

CCustomToolBar::CCustomToolBar(UINT id, const QString& caption, QWidget* parent)
    : QToolBar(caption, parent), m_id(id) {
  setObjectName(QString("ToolBar%1").arg(id));
  setToolButtonStyle(Qt::ToolButtonIconOnly);
}

QAction* CCustomToolBar::ActionOf(UINT command) const {
  return m_actionSource && command != 0 ? m_actionSource(command) : nullptr;
}

bool CCustomToolBar::Permitted(UINT id) const { return !m_permission || m_permission(id); }

CCustomToolBar::TSlot* CCustomToolBar::FindSlot(UINT id) {
  if (id == 0) return nullptr;
  auto it = std::find_if(m_slots.begin(), m_slots.end(), [id](const TSlot& s) { return s.base == id; });
  return it == m_slots.end() ? nullptr : &*it;
}

const CCustomToolBar::TSlot* CCustomToolBar::FindSlot(UINT id) const {
  return const_cast<CCustomToolBar*>(this)->FindSlot(id);
}

void CCustomToolBar::SetButtons(const std::vector<UINT>& ids) {
  m_slots.clear();
  for (UINT id : ids) m_slots.push_back({id, id, true});
  RebuildButtons();
}

bool CCustomToolBar::AddButton(UINT id) {
  if (id == 0 || id == static_cast<UINT>(-1) || FindSlot(id) || !ActionOf(id)) return false;
  m_slots.push_back({id, id, true});
  RebuildButtons();
  return true;
}

std::vector<UINT> CCustomToolBar::Buttons() const {
  std::vector<UINT> out;
  for (const TSlot& s : m_slots) out.push_back(s.base);
  return out;
}

std::vector<UINT> CCustomToolBar::VisibleCommands() const {
  std::vector<UINT> out;
  for (const TSlot& s : m_slots)
    if (s.base != 0 && s.shown && Permitted(s.command)) out.push_back(s.command);
  return out;
}

bool CCustomToolBar::ShowButton(UINT id, bool show) {
  TSlot* s = FindSlot(id);
  if (!s) return false;
  if (s->shown != show) {
    s->shown = show;
    RebuildButtons();
  }
  return true;
}

bool CCustomToolBar::IsButtonShown(UINT id) const {
  const TSlot* s = FindSlot(id);
  return s && s->shown;
}

void CCustomToolBar::ResetButtons() {
  for (TSlot& s : m_slots) s.shown = true;
  RebuildButtons();
}

std::vector<UINT> CCustomToolBar::HiddenButtons() const {
  std::vector<UINT> out;
  for (const TSlot& s : m_slots)
    if (s.base != 0 && !s.shown) out.push_back(s.base);
  return out;
}

void CCustomToolBar::SetHiddenButtons(const std::vector<UINT>& ids) {
  for (TSlot& s : m_slots)
    if (s.base != 0) s.shown = std::find(ids.begin(), ids.end(), s.base) == ids.end();
  RebuildButtons();
}

void CCustomToolBar::RebuildButtons() {
  for (QAction* a : actions())
    if (a != m_customizeButtonAction) removeAction(a);
  for (QAction* sep : m_separators) delete sep;
  m_separators.clear();
  // A separator only between two groups of shown buttons.
  bool anyBefore = false, pendingSeparator = false;
  for (const TSlot& s : m_slots) {
    if (s.base == 0) {
      pendingSeparator = anyBefore;
      continue;
    }
    if (!s.shown || !Permitted(s.command)) continue;
    QAction* a = ActionOf(s.command);
    if (!a) continue;
    if (pendingSeparator) {
      auto* sep = new QAction(this);
      sep->setSeparator(true);
      m_separators.push_back(sep);
      insertAction(m_customizeButtonAction, sep);
      pendingSeparator = false;
    }
    insertAction(m_customizeButtonAction, a);
    anyBefore = true;
  }
}

void CCustomToolBar::EnableCustomizeButton(bool enable, QAction* customizeCommand, const QString& text,
                                           bool quickCustomize) {
  m_customizeCommand = customizeCommand;
  m_customizeText = text;
  m_bQuickCustomize = quickCustomize;
  if (!enable) {
    if (m_customizeButtonAction) {
      removeAction(m_customizeButtonAction);
      delete m_customizeButtonAction;  // the button goes with it
      m_customizeButtonAction = nullptr;
      m_customizeButton = nullptr;
    }
    return;
  }
  if (!m_customizeButton) {
    m_customizeButton = new QToolButton(this);
    m_customizeButton->setObjectName("CustomizeButton");
    m_customizeButton->setAutoRaise(true);
    m_customizeButton->setArrowType(Qt::DownArrow);
    m_customizeButton->setPopupMode(QToolButton::InstantPopup);
    m_customizeButton->setStyleSheet("QToolButton::menu-indicator { image: none; width: 0px; }");
    m_customizeButton->setFixedWidth(14);
    auto* menu = new QMenu(m_customizeButton);
    menu->setObjectName("CustomizeMenu");
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { FillCustomizeMenu(menu); });
    m_customizeButton->setMenu(menu);
    m_customizeButtonAction = addWidget(m_customizeButton);
  }
  m_customizeButton->setToolTip(text);
  m_customizeButton->setAccessibleName(text);
}

void CCustomToolBar::FillCustomizeMenu(QMenu* menu) {
  menu->clear();
  for (QMenu* sub : menu->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) sub->deleteLater();
  if (m_bQuickCustomize) {
    QMenu* buttons = menu->addMenu(tr("Add or Remove Buttons"));
    buttons->setObjectName("AddOrRemoveButtons");
    for (const TSlot& s : m_slots) {
      if (s.base == 0 || !Permitted(s.base)) continue;
      QAction* command = ActionOf(s.command);
      if (!command) continue;
      QAction* item = buttons->addAction(command->icon(), command->text());
      item->setCheckable(true);
      item->setChecked(s.shown);
      item->setData(s.base);
      const UINT base = s.base;
      connect(item, &QAction::toggled, this, [this, base](bool on) { ShowButton(base, on); });
    }
    buttons->addSeparator();
    QAction* reset = buttons->addAction(tr("Reset Toolbar"));
    reset->setObjectName("ResetToolbar");
    connect(reset, &QAction::triggered, this, [this] { ResetButtons(); });
  }
  if (m_menuExtender) m_menuExtender(this, menu);
  if (m_customizeCommand) {
    menu->addSeparator();
    menu->addAction(m_customizeCommand);
  }
}

UINT CCustomToolBar::ButtonCommand(UINT id) const {
  const TSlot* s = FindSlot(id);
  return s ? s->command : 0;
}

bool CCustomToolBar::SetButtonCommand(UINT id, UINT command) {
  TSlot* s = FindSlot(id);
  if (!s || !ActionOf(command)) return false;
  if (s->command != command) {
    s->command = command;
    RebuildButtons();
  }
  return true;
}

UINT CCustomToolBar::CommandAt(int position) const {
  if (position < 0 || position >= static_cast<int>(m_slots.size())) return 0;
  const TSlot& s = m_slots[static_cast<std::size_t>(position)];
  return s.base == 0 ? 0 : s.command;
}

bool CCustomToolBar::SetCommandAt(int position, UINT command) {
  if (CommandAt(position) == 0) return false;
  return SetButtonCommand(m_slots[static_cast<std::size_t>(position)].base, command);
}

bool CCustomToolBar::SetButtonImage(UINT id, UINT image) {
  const TSlot* s = FindSlot(id);
  if (!s || !HasCommandIcon(image)) return false;
  QAction* a = ActionOf(s->command);
  if (!a) return false;
  a->setIcon(CommandIcon(image, iconSize().width()));
  return true;
}

}  // namespace shell

// --- the document's toolbars -------------------------------------------------

namespace {

using shell::TChannelButtonByte;
using shell::TChannelButtonState;

std::array<std::uint8_t, 4> SetOf(const TChannelButtonState& state, TChannelButtonByte byte) {
  return {static_cast<std::uint8_t>(state.channel[0][byte] != 0),
          static_cast<std::uint8_t>(state.channel[1][byte] != 0),
          static_cast<std::uint8_t>(state.channel[2][byte] != 0),
          static_cast<std::uint8_t>(state.channel[3][byte] != 0)};
}

}  // namespace

namespace ToolBarNavigate {

void CToolBarNavigate::UpdateSourceListButton(shell::TChannelButtonState* state) {
  if (!state) return;
  const auto set = SetOf(*state, shell::CBS_SOURCE_LIST);
  if (m_bSetShown && set == m_lastSet) return;
  if (!SetButtonImage(shell::ID_NAVIGATE_SOURCE_LIST,
                      shell::ChannelSetImageOf(*state, shell::CBS_SOURCE_LIST)))
    return;
  m_lastSet = set;
  m_bSetShown = true;
  state->answered = 1;
}

}  // namespace ToolBarNavigate

namespace ToolBarGo {

void CToolBarGo::UpdatePlayButton(bool running, bool paused) {
  const auto r = static_cast<std::uint8_t>(running), p = static_cast<std::uint8_t>(paused);
  if (!m_bPlayRefresh && r == m_lastRunning && p == m_lastPaused) return;
  const UINT command = running && !paused ? shell::ID_NAVIGATE_PAUSE : shell::ID_NAVIGATE_START_PAUSE;
  if (!SetButtonCommand(shell::ID_NAVIGATE_START_PAUSE, command)) return;
  if (!SetButtonImage(shell::ID_NAVIGATE_START_PAUSE, command)) return;
  m_lastRunning = r;
  m_lastPaused = p;
  m_bPlayRefresh = !isVisible();
}

void CToolBarGo::UpdateEnablePlayingButton(shell::TChannelButtonState* state) {
  if (!state) return;
  const auto set = SetOf(*state, shell::CBS_PLAYING);
  if (!m_bChannelRefresh && set == m_lastSet) return;
  if (!SetButtonImage(shell::ID_NAVIGATE_ENABLE_PLAYING,
                      shell::ChannelSetImageOf(*state, shell::CBS_PLAYING)))
    return;
  m_lastSet = set;
  m_bChannelRefresh = !isVisible();
  state->answered = 1;
}

}  // namespace ToolBarGo

namespace ToolBarReplay {

void CToolBarReplay::UpdateReverseButton(shell::TChannelButtonState* state) {
  if (!state) return;
  // The button follows the assistant channel.
  const auto reverse = static_cast<std::uint8_t>(state->channel[1][shell::CBS_REVERSE] != 0);
  if (m_bReverseShown && reverse == m_lastReverse) return;
  if (!SetButtonImage(shell::ID_REPLAY_REVERSE,
                      reverse ? shell::ID_REPLAY_REVERSE_ON_IMAGE : shell::ID_REPLAY_REVERSE_OFF_IMAGE))
    return;
  m_lastReverse = reverse;
  m_bReverseShown = true;
  state->answered = 1;
}

void CToolBarReplay::UpdateEnableReplayButton(shell::TChannelButtonState* state) {
  if (!state) return;
  const auto set = SetOf(*state, shell::CBS_REPLAY);
  if (m_bSetShown && set == m_lastSet) return;
  if (!SetButtonImage(shell::ID_REPLAY_ENABLE, shell::ChannelSetImageOf(*state, shell::CBS_REPLAY))) return;
  m_lastSet = set;
  m_bSetShown = true;
  state->answered = 1;
}

}  // namespace ToolBarReplay

namespace ToolBarCapture {

void CToolBarCapture::UpdateRecordButton(shell::TCaptureButtonState* state) {
  if (!state) return;
  std::array<std::uint8_t, 4> selection{};
  for (std::size_t ch = 0; ch < 4; ++ch)
    selection[ch] = static_cast<std::uint8_t>(state->channel[ch][0] != 0);
  const auto running = static_cast<std::uint8_t>(state->running != 0);
  const auto recorder = static_cast<std::uint8_t>(state->recorder != 0);
  if (m_bRecordShown && running == m_lastRunning && recorder == m_lastRecorder &&
      selection == m_lastSelection)
    return;
  const bool anySelected =
      std::any_of(selection.begin(), selection.end(), [](std::uint8_t b) { return b != 0; });
  m_nRecordState = anySelected && recorder ? (running ? kRecordRunning : kRecordArmed) : kRecordPlain;
  const UINT image = m_nRecordState == kRecordRunning ? shell::ID_CAPTURE_RECORD_RUNNING
                     : m_nRecordState == kRecordArmed ? shell::ID_CAPTURE_RECORD_ARMED
                                                      : shell::ID_CAPTURE_RECORD_IDLE;
  if (!SetButtonImage(shell::ID_CAPTURE_RECORD, image)) return;
  m_lastRunning = running;
  m_lastRecorder = recorder;
  m_lastSelection = selection;
  m_bRecordShown = true;
  state->answered = 1;
}

void CToolBarCapture::UpdateCaptureButton(shell::TCaptureButtonState* state) {
  if (!state) return;
  const std::array<std::uint8_t, 2> flags{static_cast<std::uint8_t>(state->channel[0][1] != 0),
                                          static_cast<std::uint8_t>(state->channel[1][1] != 0)};
  if (m_bCaptureShown && flags == m_lastCapture) return;
  m_nCaptureState = flags[0] && flags[1] ? kCaptureBoth
                    : flags[0]           ? kCaptureFirst
                    : flags[1]           ? kCaptureSecond
                                         : kCaptureNone;
  const UINT image = m_nCaptureState == kCaptureBoth     ? shell::ID_CAPTURE_IMAGE_BOTH
                     : m_nCaptureState == kCaptureFirst  ? shell::ID_CAPTURE_IMAGE_FIRST
                     : m_nCaptureState == kCaptureSecond ? shell::ID_CAPTURE_IMAGE_SECOND
                                                         : shell::ID_CAPTURE_IMAGE_NONE;
  if (!SetButtonImage(shell::ID_CAPTURE_IMAGE, image)) return;
  m_lastCapture = flags;
  m_bCaptureShown = true;
  state->answered = 1;
}

}  // namespace ToolBarCapture

namespace ToolBarDvd {

void CToolBarDvd::UpdateNavigationButton(shell::TChannelButtonState* state) {
  if (!state) return;
  const auto set = SetOf(*state, shell::CBS_DVD_NAVIGATION);
  if (m_bSetShown && set == m_lastSet) return;
  if (!SetButtonImage(shell::ID_DVD_ENABLE_NAVIGATION,
                      shell::ChannelSetImageOf(*state, shell::CBS_DVD_NAVIGATION)))
    return;
  m_lastSet = set;
  m_bSetShown = true;
  state->answered = 1;
}

}  // namespace ToolBarDvd
