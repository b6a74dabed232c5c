#include "platform/qt/commands.h"

#include <QAction>
#include <QEventLoop>
#include <QMenu>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace platform::qt;

namespace {

struct TTarget : CCmdTarget {
  explicit TTarget(std::string n, std::vector<std::string>* log) : name(std::move(n)), log(log) {}
  void Handle(UINT id) {
    OnCommand(id, [this, id] { log->push_back(name + ":" + std::to_string(id)); });
  }
  std::string name;
  std::vector<std::string>* log;
};

}  // namespace

TEST(Commands, TheFirstTargetOfTheChainWithAHandlerRunsTheCommand) {
  std::vector<std::string> log;
  TTarget frame("frame", &log), doc("doc", &log), app("app", &log);
  frame.Handle(100);
  doc.Handle(100);
  doc.Handle(200);
  app.Handle(200);
  app.Handle(300);
  TCommandRouter router;
  router.SetChain([&] { return std::vector<ICommandTarget*>{&frame, nullptr, &doc, &app}; });

  EXPECT_TRUE(router.Execute(100));
  EXPECT_TRUE(router.Execute(200));
  EXPECT_TRUE(router.Execute(300));
  EXPECT_FALSE(router.Execute(400));
  EXPECT_EQ(log, (std::vector<std::string>{"frame:100", "doc:200", "app:300"}));
}

TEST(Commands, UpdateHandlersDecideTheStateAndDisabledCommandsNeverRun) {
  std::vector<std::string> log;
  TTarget frame("frame", &log), doc("doc", &log);
  bool allow = false;
  doc.Handle(10);
  frame.OnUpdate(10, [&](TCmdUI& ui) { ui.Enable(allow); });
  doc.Handle(11);  // no update handler anywhere: enabled because handled
  frame.OnUpdate(12, [](TCmdUI& ui) {
    ui.SetCheck(1);
    ui.SetText("Twelve");
  });  // no command
  TCommandRouter router;
  router.SetChain([&] { return std::vector<ICommandTarget*>{&frame, &doc}; });

  EXPECT_FALSE(router.Update(10).Enabled());
  EXPECT_FALSE(router.Execute(10));
  allow = true;
  EXPECT_TRUE(router.Update(10).Enabled());
  EXPECT_TRUE(router.Execute(10));
  EXPECT_TRUE(router.Update(11).Enabled());
  EXPECT_FALSE(router.Update(99).Enabled()) << "a command nobody handles is disabled";
  const TCmdUI twelve = router.Update(12);
  EXPECT_TRUE(twelve.Enabled());
  EXPECT_EQ(twelve.Check(), 1);
  EXPECT_EQ(twelve.Text(), "Twelve");
  EXPECT_EQ(log, (std::vector<std::string>{"doc:10"}));
}

TEST(Commands, RangeHandlersGetTheCommandIdAndTheFirstMatchingEntryWins) {
  CCmdTarget t;
  std::vector<UINT> seen;
  t.OnCommand(32803, [&] { seen.push_back(1); });
  t.OnCommandRange(32800, 32807, [&](UINT id) { seen.push_back(id); });
  TCommandRouter router;
  router.SetChain([&] { return std::vector<ICommandTarget*>{&t}; });
  for (UINT id : {32800u, 32803u, 32807u, 32808u}) router.Execute(id);
  EXPECT_EQ(seen, (std::vector<UINT>{32800, 1, 32807}));
}

TEST(Commands, ActionsFollowTheUpdateStateAndTriggerTheirCommand) {
  CCmdTarget t;
  int runs = 0;
  bool on = false;
  t.OnCommand(5, [&] {
    ++runs;
    on = !on;
  });
  t.OnUpdate(5, [&](TCmdUI& ui) { ui.SetCheck(on ? 1 : 0); });
  TCommandRouter router;
  router.SetChain([&] { return std::vector<ICommandTarget*>{&t}; });

  QAction* a = router.Action(5);
  EXPECT_EQ(router.Action(5), a) << "one action per command";
  EXPECT_EQ(router.IdOf(a), 5u);
  QAction foreign;
  EXPECT_EQ(router.IdOf(&foreign), 0u);
  QAction* orphan = router.Action(6);  // nobody handles 6

  router.UpdateActions();
  EXPECT_TRUE(a->isEnabled());
  EXPECT_TRUE(a->isCheckable());
  EXPECT_FALSE(a->isChecked());
  EXPECT_FALSE(orphan->isEnabled());

  a->trigger();
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(a->isChecked()) << "the state is refreshed after the command";
  a->trigger();
  EXPECT_EQ(runs, 2);
  EXPECT_FALSE(a->isChecked());
}

TEST(Commands, AMenuIsUpdatedJustBeforeItShows) {
  CCmdTarget t;
  bool enabled = false;
  t.OnCommand(7, [] {});
  t.OnUpdate(7, [&](TCmdUI& ui) {
    ui.Enable(enabled);
    ui.SetText(enabled ? "On" : "Off");
  });
  TCommandRouter router;
  router.SetChain([&] { return std::vector<ICommandTarget*>{&t}; });
  QMenu menu;
  QMenu* sub = menu.addMenu("Sub");
  sub->addAction(router.Action(7));
  router.WatchMenu(&menu);

  router.UpdateMenu(&menu);
  EXPECT_FALSE(router.Action(7)->isEnabled());
  EXPECT_EQ(router.Action(7)->text(), "Off");
  enabled = true;
  emit menu.aboutToShow();
  EXPECT_TRUE(router.Action(7)->isEnabled());
  EXPECT_EQ(router.Action(7)->text(), "On");
}

TEST(Commands, IdlePhasesCountUpUntilTheHandlerIsDone) {
  std::vector<LONG> counts;
  TIdleNotifier idle(
      [&](LONG c) {
        counts.push_back(c);
        return c < 5;
      },
      3);
  idle.RunIdlePhase();
  idle.RunIdlePhase();
  EXPECT_EQ(counts, (std::vector<LONG>{0, 1, 2, 0, 1, 2}));
}

TEST(Commands, StatesFollowWhenTheEventLoopGoesIdle) {
  CCmdTarget t;
  bool enabled = false;
  t.OnCommand(9, [] {});
  t.OnUpdate(9, [&](TCmdUI& ui) { ui.Enable(enabled); });
  TCommandRouter router;
  router.SetChain([&] { return std::vector<ICommandTarget*>{&t}; });
  QAction* a = router.Action(9);
  router.UpdateActions();
  ASSERT_FALSE(a->isEnabled());
  router.EnableIdleUpdates(std::chrono::milliseconds(0));
  enabled = true;
  // Let the loop wait once; nobody calls UpdateActions.
  QEventLoop loop;
  QTimer::singleShot(10, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_TRUE(a->isEnabled());
}
