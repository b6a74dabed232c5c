#pragma once
// Commands: every menu item, toolbar button and accelerator is a command id
// (ID_*). One QAction stands for each id; menus and toolbars share it. When
// the action fires, the command is offered to a chain of command targets in
// order until one handles it. Before a menu shows, and when the program is
// idle, every action's update handler runs (enable, check, text); a command
// without an update handler anywhere in the chain is enabled exactly when
// some target of the chain handles it.

#include <QObject>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

class QAction;
class QMenu;
class QTimer;

namespace platform::qt {

// What a target is asked.
enum class TCmdCode {
  Command,  // run the command
  Update,   // fill the update state of its item
  Query,    // only say whether a command handler exists
};

// The update state of one command's items.
class TCmdUI {
 public:
  explicit TCmdUI(UINT id) : m_id(id) {}
  UINT Id() const { return m_id; }

  void Enable(bool on = true) { m_enabled = on; }
  // 0 clear, 1 checked, 2 indeterminate (shown as checked).
  void SetCheck(int check = 1) { m_check = check; }
  void SetText(std::string text) { m_text = std::move(text); }

  bool Enabled() const { return m_enabled; }
  const std::optional<int>& Check() const { return m_check; }
  const std::optional<std::string>& Text() const { return m_text; }

 private:
  UINT m_id;
  bool m_enabled = true;
  std::optional<int> m_check;
  std::optional<std::string> m_text;
};

class ICommandTarget {
 public:
  virtual ~ICommandTarget() = default;
  // Offers a command. For Command the handler runs; for Update `ui` is filled;
  // for Query nothing runs. True when this target has a handler of that kind
  // (a target may route further inside itself).
  virtual bool OnCmdMsg(UINT id, TCmdCode code, TCmdUI* ui) = 0;
};

// A command target with its own handler table.
class CCmdTarget : public ICommandTarget {
 public:
  using TCommand = std::function<void()>;
  using TRangeCommand = std::function<void(UINT)>;
  using TUpdate = std::function<void(TCmdUI&)>;

  bool OnCmdMsg(UINT id, TCmdCode code, TCmdUI* ui) override;

  void OnCommand(UINT id, TCommand handler);
  void OnCommandRange(UINT first, UINT last, TRangeCommand handler);
  void OnUpdate(UINT id, TUpdate handler);
  void OnUpdateRange(UINT first, UINT last, TUpdate handler);

  bool HasCommand(UINT id) const;
  bool HasUpdate(UINT id) const;

 private:
  struct TRange {
    UINT first;
    UINT last;
  };
  const TRangeCommand* FindCommand(UINT id) const;
  const TUpdate* FindUpdate(UINT id) const;

  std::vector<std::pair<TRange, TRangeCommand>> m_commands;
  std::vector<std::pair<TRange, TUpdate>> m_updates;
};

// Routes commands through a chain of targets and keeps the QActions.
class TCommandRouter : public QObject {
  Q_OBJECT
 public:
  // The chain is asked for afresh at every command and update, since the
  // active document and its windows change.
  using TChain = std::function<std::vector<ICommandTarget*>()>;

  explicit TCommandRouter(QObject* parent = nullptr);
  ~TCommandRouter() override;

  void SetChain(TChain chain);
  std::vector<ICommandTarget*> Chain() const;

  // Runs a command: its update state is asked first, so a disabled command
  // never runs; then the first target that handles it runs it. True when a
  // target ran it.
  bool Execute(UINT id);
  // The update state of a command through the chain.
  TCmdUI Update(UINT id) const;

  // The action of a command, created on first use (owned by the router).
  QAction* Action(UINT id);
  QAction* FindAction(UINT id) const;
  // The command id of an action of this router, 0 for any other.
  UINT IdOf(const QAction* action) const;
  std::vector<UINT> Ids() const;

  // Applies the update state to every action, or to those of one menu
  // (submenus included).
  void UpdateActions();
  void UpdateMenu(QMenu* menu);
  // Updates a menu's actions every time just before it shows.
  void WatchMenu(QMenu* menu);
  // Runs UpdateActions whenever the event loop is about to wait for events,
  // at most once per `interval`.
  void EnableIdleUpdates(std::chrono::milliseconds interval = std::chrono::milliseconds(100));

 signals:
  // After every Execute: the id and whether a target ran it.
  void CommandRouted(UINT id, bool handled);

 private:
  void Apply(QAction* action, const TCmdUI& ui);
  void OnIdle();

  TChain m_chain;
  std::map<UINT, QAction*> m_actions;
  QTimer* m_idleTimer = nullptr;
  std::chrono::steady_clock::time_point m_lastIdleUpdate{};
  std::chrono::milliseconds m_idleInterval{100};
  bool m_idleConnected = false;
  bool m_timerJustUpdated = false;
};

// Calls the application's idle handler when the UI thread's event loop is
// about to wait: with count 0, then 1, 2, ... while the handler returns true
// (at most `maxPasses` passes per idle phase).
class TIdleNotifier : public QObject {
  Q_OBJECT
 public:
  using THandler = std::function<bool(LONG count)>;
  explicit TIdleNotifier(THandler handler, int maxPasses = 2, QObject* parent = nullptr);

  // Runs one idle phase now (what the event loop does before it waits).
  void RunIdlePhase();

 private:
  THandler m_handler;
  int m_maxPasses;
  bool m_inside = false;
};

}  // namespace platform::qt
