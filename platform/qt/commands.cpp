#include "platform/qt/commands.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QString>
#include <QTimer>

namespace platform::qt {

// --- CCmdTarget -----------------------------------------------------------

bool CCmdTarget::OnCmdMsg(UINT id, TCmdCode code, TCmdUI* ui) {
  switch (code) {
    case TCmdCode::Command:
      if (const TRangeCommand* h = FindCommand(id)) {
        (*h)(id);
        return true;
      }
      return false;
    case TCmdCode::Query: return FindCommand(id) != nullptr;
    case TCmdCode::Update:
      if (!ui) return false;
      if (const TUpdate* h = FindUpdate(id)) {
        (*h)(*ui);
        return true;
      }
      return false;
  }
  return false;
}

void CCmdTarget::OnCommand(UINT id, TCommand handler) {
  m_commands.push_back({{id, id}, [h = std::move(handler)](UINT) { h(); }});
}

void CCmdTarget::OnCommandRange(UINT first, UINT last, TRangeCommand handler) {
  m_commands.push_back({{first, last}, std::move(handler)});
}

void CCmdTarget::OnUpdate(UINT id, TUpdate handler) { m_updates.push_back({{id, id}, std::move(handler)}); }

void CCmdTarget::OnUpdateRange(UINT first, UINT last, TUpdate handler) {
  m_updates.push_back({{first, last}, std::move(handler)});
}

bool CCmdTarget::HasCommand(UINT id) const { return FindCommand(id) != nullptr; }
bool CCmdTarget::HasUpdate(UINT id) const { return FindUpdate(id) != nullptr; }

// The first entry that covers the id wins, as in a message map.
const CCmdTarget::TRangeCommand* CCmdTarget::FindCommand(UINT id) const {
  for (const auto& [range, handler] : m_commands)
    if (id >= range.first && id <= range.last) return &handler;
  return nullptr;
}

const CCmdTarget::TUpdate* CCmdTarget::FindUpdate(UINT id) const {
  for (const auto& [range, handler] : m_updates)
    if (id >= range.first && id <= range.last) return &handler;
  return nullptr;
}

// --- TCommandRouter -------------------------------------------------------

namespace {
const char* const kIdProperty = "tovrinCommandId";
}

TCommandRouter::TCommandRouter(QObject* parent) : QObject(parent) {}

TCommandRouter::~TCommandRouter() = default;

void TCommandRouter::SetChain(TChain chain) { m_chain = std::move(chain); }

std::vector<ICommandTarget*> TCommandRouter::Chain() const {
  std::vector<ICommandTarget*> chain;
  if (m_chain) chain = m_chain();
  std::erase(chain, nullptr);
  return chain;
}

TCmdUI TCommandRouter::Update(UINT id) const {
  TCmdUI ui(id);
  const std::vector<ICommandTarget*> chain = Chain();
  for (ICommandTarget* t : chain)
    if (t->OnCmdMsg(id, TCmdCode::Update, &ui)) return ui;
  bool handled = false;
  for (ICommandTarget* t : chain)
    if (t->OnCmdMsg(id, TCmdCode::Query, nullptr)) {
      handled = true;
      break;
    }
  ui.Enable(handled);
  return ui;
}

bool TCommandRouter::Execute(UINT id) {
  bool handled = false;
  if (Update(id).Enabled()) {
    for (ICommandTarget* t : Chain())
      if (t->OnCmdMsg(id, TCmdCode::Command, nullptr)) {
        handled = true;
        break;
      }
  }
  emit CommandRouted(id, handled);
  return handled;
}

QAction* TCommandRouter::Action(UINT id) {
  if (QAction* a = FindAction(id)) return a;
  auto* a = new QAction(this);
  a->setProperty(kIdProperty, static_cast<uint>(id));
  connect(a, &QAction::triggered, this, [this, id] {
    Execute(id);
    // The state may have changed with the command.
    if (QAction* act = FindAction(id)) Apply(act, Update(id));
  });
  m_actions[id] = a;
  return a;
}

QAction* TCommandRouter::FindAction(UINT id) const {
  auto it = m_actions.find(id);
  return it == m_actions.end() ? nullptr : it->second;
}

UINT TCommandRouter::IdOf(const QAction* action) const {
  if (!action || action->parent() != this) return 0;
  return action->property(kIdProperty).toUInt();
}

std::vector<UINT> TCommandRouter::Ids() const {
  std::vector<UINT> ids;
  ids.reserve(m_actions.size());
  for (const auto& [id, a] : m_actions) ids.push_back(id);
  return ids;
}

void TCommandRouter::Apply(QAction* action, const TCmdUI& ui) {
  if (action->isEnabled() != ui.Enabled()) action->setEnabled(ui.Enabled());
  if (ui.Check()) {
    if (!action->isCheckable()) action->setCheckable(true);
    const bool on = *ui.Check() != 0;
    if (action->isChecked() != on) action->setChecked(on);
  } else if (action->isCheckable()) {
    action->setChecked(false);
    action->setCheckable(false);
  }
  if (ui.Text()) {
    const QString text = QString::fromStdString(*ui.Text());
    if (action->text() != text) action->setText(text);
  }
}

void TCommandRouter::UpdateActions() {
  for (const auto& [id, a] : m_actions) Apply(a, Update(id));
  m_lastIdleUpdate = std::chrono::steady_clock::now();
}

void TCommandRouter::UpdateMenu(QMenu* menu) {
  if (!menu) return;
  for (QAction* a : menu->actions()) {
    if (QMenu* sub = a->menu()) {
      UpdateMenu(sub);
      continue;
    }
    if (UINT id = IdOf(a)) Apply(a, Update(id));
  }
}

void TCommandRouter::WatchMenu(QMenu* menu) {
  if (!menu) return;
  connect(menu, &QMenu::aboutToShow, this, [this, menu] { UpdateMenu(menu); });
}

void TCommandRouter::EnableIdleUpdates(std::chrono::milliseconds interval) {
  m_idleInterval = interval;
  if (!m_idleTimer) {
    m_idleTimer = new QTimer(this);
    m_idleTimer->setSingleShot(true);
    connect(m_idleTimer, &QTimer::timeout, this, [this] {
      UpdateActions();
      // The wait that follows this update is not news.
      m_timerJustUpdated = true;
    });
  }
  if (m_idleConnected) return;
  if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance(thread())) {
    connect(d, &QAbstractEventDispatcher::aboutToBlock, this, &TCommandRouter::OnIdle);
    m_idleConnected = true;
  }
}

// The event loop is about to wait: bring the actions up to date, or, when the
// last update is too recent, make sure one runs when the interval is over.
void TCommandRouter::OnIdle() {
  if (m_timerJustUpdated) {
    m_timerJustUpdated = false;
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_lastIdleUpdate);
  if (since >= m_idleInterval) {
    UpdateActions();
  } else if (!m_idleTimer->isActive()) {
    m_idleTimer->start(m_idleInterval - since);
  }
}

// --- TIdleNotifier --------------------------------------------------------

TIdleNotifier::TIdleNotifier(THandler handler, int maxPasses, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)), m_maxPasses(maxPasses) {
  if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance(thread()))
    connect(d, &QAbstractEventDispatcher::aboutToBlock, this, &TIdleNotifier::RunIdlePhase);
}

void TIdleNotifier::RunIdlePhase() {
  if (m_inside || !m_handler) return;
  m_inside = true;
  for (LONG count = 0; count < m_maxPasses; ++count)
    if (!m_handler(count)) break;
  m_inside = false;
}

}  // namespace platform::qt
