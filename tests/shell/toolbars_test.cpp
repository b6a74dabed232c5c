// The main frame's toolbars: the customisation drop-down, the user's own
// toolbars, menu-item tooltips and the buttons documents set.

#include "shell/toolbars.h"

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QHelpEvent>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QToolTip>

#include <gtest/gtest.h>

#include <memory>

#include "platform/qt/settings_store.h"
#include "shell/command_ids.h"
#include "shell/icons.h"
#include "shell/main_frame.h"

using namespace shell;
using MainFrame::CMainFrame;

namespace {

struct TFrame {
  explicit TFrame(platform::qt::CRegistryAccess* profile = nullptr) {
    frame = std::make_unique<CMainFrame>(state, cfg, &app);
    frame->SetProfile(profile);
    EXPECT_TRUE(frame->LoadFrame());
    frame->show();
    QApplication::processEvents();
  }
  QAction* Action(UINT id) { return frame->Router()->Action(id); }
  TShellState state;
  TProgCfg cfg;
  platform::qt::CCmdTarget app;
  std::unique_ptr<CMainFrame> frame;
};

QImage Picture(const QIcon& icon) { return icon.pixmap(24).toImage(); }
QImage ImageOf(UINT command) { return Picture(CommandIcon(command, 24)); }

// The customisation menu of a toolbar as its drop-down button shows it.
std::unique_ptr<QMenu> CustomizeMenu(CCustomToolBar* bar) {
  auto menu = std::make_unique<QMenu>();
  bar->FillCustomizeMenu(menu.get());
  return menu;
}

QAction* Find(QMenu* menu, const QString& text) {
  for (QAction* a : menu->actions()) {
    if (a->text() == text) return a;
    if (a->menu())
      if (QAction* inner = Find(a->menu(), text)) return inner;
  }
  return nullptr;
}

// The entry of a command in a customisation menu.
QAction* ByCommand(QMenu* menu, UINT id) {
  for (QAction* a : menu->actions()) {
    if (a->menu()) {
      if (QAction* inner = ByCommand(a->menu(), id)) return inner;
    } else if (!a->isSeparator() && a->data().toUInt() == id) {
      return a;
    }
  }
  return nullptr;
}

QMenu* SubMenu(QMenu* menu, const char* name) { return menu->findChild<QMenu*>(name); }

}  // namespace

TEST(Toolbars, EveryToolbarEndsWithTheCustomizeDropDown) {
  TFrame f;
  for (const auto& info : MainFrame::Toolbars()) {
    CCustomToolBar* tb = f.frame->ToolBar(info.id);
    ASSERT_NE(tb, nullptr);
    QToolButton* button = tb->CustomizeButton();
    ASSERT_NE(button, nullptr) << info.caption;
    EXPECT_EQ(button->toolTip(), "Customize...");
    EXPECT_EQ(tb->widgetForAction(tb->actions().back()), button) << "at the end";
    auto menu = CustomizeMenu(tb);
    EXPECT_EQ(menu->actions().back(), f.Action(ID_APP_OPTIONS)) << "the options command ends the menu";
    EXPECT_NE(SubMenu(menu.get(), "AddOrRemoveButtons"), nullptr);
  }
  // "Customize..." is routed: off while nobody handles it, on once someone does.
  f.frame->Router()->UpdateActions();
  EXPECT_FALSE(f.Action(ID_APP_OPTIONS)->isEnabled());
  int opened = 0;
  f.app.OnCommand(ID_APP_OPTIONS, [&opened] { ++opened; });
  f.frame->Router()->UpdateActions();
  EXPECT_TRUE(f.Action(ID_APP_OPTIONS)->isEnabled());
  f.Action(ID_APP_OPTIONS)->trigger();
  EXPECT_EQ(opened, 1);
}

TEST(Toolbars, QuickCustomizationShowsAndHidesButtonsAndTheSetIsSavedWithTheLayout) {
  QTemporaryDir dir;
  platform::qt::CRegistryAccess profile(dir.filePath("settings.ini"));
  {
    TFrame f(&profile);
    CCustomToolBar* nav = f.frame->ToolBar(ID_VIEW_TOOLBAR_NAVIGATE);
    auto menu = CustomizeMenu(nav);
    QMenu* buttons = SubMenu(menu.get(), "AddOrRemoveButtons");
    ASSERT_NE(buttons, nullptr);
    std::vector<UINT> listed;
    for (QAction* a : buttons->actions())
      if (a->isCheckable()) {
        EXPECT_TRUE(a->isChecked());
        listed.push_back(a->data().toUInt());
      }
    EXPECT_EQ(listed, nav->VisibleCommands());
    // Unticking a button takes it off the toolbar only; the menu keeps it.
    ByCommand(buttons, ID_NAVIGATE_PREVIOUS)->setChecked(false);
    ByCommand(buttons, ID_NAVIGATE_LAST)->setChecked(false);
    EXPECT_EQ(nav->VisibleCommands(),
              (std::vector<UINT>{ID_NAVIGATE_FIRST, ID_NAVIGATE_NEXT, ID_NAVIGATE_SOURCE_LIST}));
    EXPECT_TRUE(f.Action(ID_NAVIGATE_PREVIOUS)->isVisible());
    // The Standard toolbar's separators close up around a hidden group.
    CCustomToolBar* standard = f.frame->ToolBar(ID_VIEW_TOOLBAR_STANDARD);
    for (UINT id : {ID_EDIT_COPY, ID_EDIT_PASTE}) standard->ShowButton(id, false);
    int separatorsInARow = 0, most = 0;
    for (QAction* a : standard->actions()) {
      separatorsInARow = a->isSeparator() ? separatorsInARow + 1 : 0;
      most = std::max(most, separatorsInARow);
    }
    EXPECT_EQ(most, 1);
    f.frame->close();
  }
  {
    TFrame f(&profile);
    EXPECT_TRUE(f.frame->RestoreWorkspace());
    CCustomToolBar* nav = f.frame->ToolBar(ID_VIEW_TOOLBAR_NAVIGATE);
    EXPECT_EQ(nav->VisibleCommands(),
              (std::vector<UINT>{ID_NAVIGATE_FIRST, ID_NAVIGATE_NEXT, ID_NAVIGATE_SOURCE_LIST}));
    EXPECT_FALSE(f.frame->ToolBar(ID_VIEW_TOOLBAR_STANDARD)->IsButtonShown(ID_EDIT_COPY));
    // "Reset Toolbar" brings every button back.
    auto menu = CustomizeMenu(nav);
    Find(menu.get(), "Reset Toolbar")->trigger();
    EXPECT_EQ(nav->VisibleCommands(),
              (std::vector<UINT>{ID_NAVIGATE_FIRST, ID_NAVIGATE_PREVIOUS, ID_NAVIGATE_NEXT, ID_NAVIGATE_LAST,
                                 ID_NAVIGATE_SOURCE_LIST}));
  }
}

TEST(Toolbars, NonPermittedCommandsAreNotOfferedForCustomization) {
  TFrame f;
  auto menu = CustomizeMenu(f.frame->ToolBar(ID_VIEW_TOOLBAR_STANDARD));
  EXPECT_EQ(ByCommand(menu.get(), ID_EDIT_CUT), nullptr);
  EXPECT_NE(ByCommand(menu.get(), ID_EDIT_COPY), nullptr);
  const auto shown = f.frame->ToolBar(ID_VIEW_TOOLBAR_STANDARD)->VisibleCommands();
  EXPECT_EQ(std::find(shown.begin(), shown.end(), ID_EDIT_CUT), shown.end());
  EXPECT_NE(std::find(shown.begin(), shown.end(), ID_EDIT_COPY), shown.end());
}

TEST(Toolbars, UserToolbarsAreCreatedFilledDeletedAndKept) {
  QTemporaryDir dir;
  platform::qt::CRegistryAccess profile(dir.filePath("settings.ini"));
  {
    TFrame f(&profile);
    // "New Toolbar..." asks for the name; a cancelled or empty name makes none.
    std::optional<QString> answer;
    f.frame->SetCustomizePrompts(
        {[&answer](const QString&) { return answer; }, [](const QString&) { return true; }});
    auto menu = CustomizeMenu(f.frame->ToolBar(ID_VIEW_TOOLBAR_ZOOM));
    QAction* create = Find(menu.get(), "New Toolbar...");
    ASSERT_NE(create, nullptr);
    EXPECT_EQ(Find(menu.get(), "Delete Toolbar"), nullptr) << "the frame's toolbars stay";
    create->trigger();
    EXPECT_TRUE(f.frame->UserToolbars().empty());
    answer = QString("My tools");
    create->trigger();
    ASSERT_EQ(f.frame->UserToolbars().size(), 1u);
    CCustomToolBar* mine = f.frame->UserToolbars().front();
    EXPECT_EQ(mine->Id(), static_cast<UINT>(ID_USER_TOOLBAR_FIRST));
    EXPECT_EQ(mine->windowTitle(), "My tools");
    EXPECT_EQ(f.frame->ToolBar(ID_USER_TOOLBAR_FIRST), mine);
    ASSERT_NE(mine->CustomizeButton(), nullptr);

    // Commands come from the customise menu's list of the menu bar's commands.
    auto own = CustomizeMenu(mine);
    QMenu* add = SubMenu(own.get(), "AddCommand");
    ASSERT_NE(add, nullptr);
    QAction* zoomIn = ByCommand(add, ID_ZOOM_IN);
    ASSERT_NE(zoomIn, nullptr);
    EXPECT_EQ(zoomIn->text(), f.Action(ID_ZOOM_IN)->text().remove('&'));
    zoomIn->trigger();
    ByCommand(add, ID_VIEW_FULL_SCREEN)->trigger();
    EXPECT_EQ(mine->VisibleCommands(), (std::vector<UINT>{ID_ZOOM_IN, ID_VIEW_FULL_SCREEN}));
    EXPECT_EQ(ByCommand(add, ID_EDIT_CUT), nullptr) << "non-permitted commands are not offered";
    EXPECT_NE(ByCommand(add, ID_EDIT_COPY), nullptr);
    EXPECT_FALSE(f.frame->AddUserToolbarCommand(mine->Id(), ID_ZOOM_IN)) << "once only";
    EXPECT_FALSE(f.frame->AddUserToolbarCommand(mine->Id(), 12345)) << "no such command";
    EXPECT_FALSE(f.frame->AddUserToolbarCommand(ID_VIEW_TOOLBAR_ZOOM, ID_ZOOM_10)) << "not a user toolbar";
    EXPECT_TRUE(f.frame->AddUserToolbarCommand(mine->Id(), ID_ZOOM_10));

    // At most ten, with the ids 59432..59441; a deleted one frees its id.
    for (int i = 2; i <= 10; ++i)
      ASSERT_NE(f.frame->CreateUserToolbar(QString("Bar %1").arg(i)), nullptr) << i;
    EXPECT_EQ(f.frame->UserToolbars().back()->Id(), static_cast<UINT>(ID_USER_TOOLBAR_LAST));
    EXPECT_EQ(f.frame->CreateUserToolbar("Eleventh"), nullptr);
    EXPECT_FALSE(Find(CustomizeMenu(mine).get(), "New Toolbar...")->isEnabled());
    auto third = CustomizeMenu(f.frame->ToolBar(ID_USER_TOOLBAR_FIRST + 2));
    Find(third.get(), "Delete Toolbar")->trigger();
    EXPECT_EQ(f.frame->ToolBar(ID_USER_TOOLBAR_FIRST + 2), nullptr);
    EXPECT_EQ(f.frame->CreateUserToolbar("Again")->Id(), static_cast<UINT>(ID_USER_TOOLBAR_FIRST + 2));
    EXPECT_TRUE(f.frame->DeleteUserToolbar(ID_USER_TOOLBAR_FIRST + 2));
    EXPECT_FALSE(f.frame->DeleteUserToolbar(ID_VIEW_TOOLBAR_STANDARD));
    mine->ShowButton(ID_VIEW_FULL_SCREEN, false);
    f.frame->close();
  }
  {
    TFrame f(&profile);
    EXPECT_TRUE(f.frame->UserToolbars().empty()) << "made from the saved layout";
    f.frame->RestoreWorkspace();
    ASSERT_EQ(f.frame->UserToolbars().size(), 9u);
    CCustomToolBar* mine = f.frame->ToolBar(ID_USER_TOOLBAR_FIRST);
    ASSERT_NE(mine, nullptr);
    EXPECT_TRUE(mine->IsUserToolbar());
    EXPECT_EQ(mine->windowTitle(), "My tools");
    EXPECT_EQ(mine->Buttons(), (std::vector<UINT>{ID_ZOOM_IN, ID_VIEW_FULL_SCREEN, ID_ZOOM_10}));
    EXPECT_EQ(mine->VisibleCommands(), (std::vector<UINT>{ID_ZOOM_IN, ID_ZOOM_10}));
    EXPECT_EQ(f.frame->ToolBar(ID_USER_TOOLBAR_FIRST + 2), nullptr);
    ASSERT_NE(mine->CustomizeButton(), nullptr);
    // Its window id shows and hides it, and the View menu lists it.
    EXPECT_TRUE(mine->isVisible());
    f.frame->Router()->Execute(ID_USER_TOOLBAR_FIRST);
    EXPECT_FALSE(mine->isVisible());
    QMenu* bars = f.frame->menuBar()->findChild<QMenu*>("Toolbars and Docking Windows");
    ASSERT_NE(bars, nullptr);
    emit bars->aboutToShow();
    EXPECT_NE(Find(bars, "My tools"), nullptr);
    EXPECT_FALSE(f.frame->Router()->Update(ID_USER_TOOLBAR_FIRST + 2).Enabled()) << "no toolbar with that id";
  }
}

TEST(Toolbars, StoredUserToolbarsWithBadEntriesAreTakenAsFarAsTheyMakeSense) {
  QTemporaryDir dir;
  platform::qt::CRegistryAccess profile(dir.filePath("settings.ini"));
  const char* key = "Software\\Halvane\\Tovrin\\Workspace\\UserToolbars";
  profile.WriteStringValue(key, "Name59433", "Kept");
  profile.WriteStringValue(key, "Commands59433", "32781,junk,,99999,57635,32781,32782");
  profile.WriteStringValue(key, "Name59434", "   ");
  profile.WriteStringValue(key, "Name59500", "Out of range");
  TFrame f(&profile);
  f.frame->RestoreWorkspace();
  ASSERT_EQ(f.frame->UserToolbars().size(), 1u);
  CCustomToolBar* kept = f.frame->UserToolbars().front();
  EXPECT_EQ(kept->Id(), 59433u);
  // Unknown, non-permitted (Cut) and repeated commands are left out.
  EXPECT_EQ(kept->Buttons(), (std::vector<UINT>{ID_ZOOM_IN, ID_ZOOM_OUT}));
}

TEST(Toolbars, MenuItemTooltipsAreTheItemTextWithoutAmpersands) {
  struct TCase {
    UINT id;
    const char* text;
    bool shown;
    const char* tip;
  };
  const TCase cases[] = {
      {ID_FILE_OPEN, "&Open...", true, "Open..."},
      {ID_APP_EXIT, "E&xit", true, "Exit"},
      {ID_ZOOM_100, "100%  : Actual Size", true, "100%  : Actual Size"},
      {ID_FILE_NEW, "&&Save && Go", true, "Save  Go"},
      {0, "&File", false, ""},
      {static_cast<UINT>(-1), "Popup", false, ""},
      {ID_FILE_NEW, "", false, ""},
      {ID_FILE_NEW, "&&&", false, ""},
  };
  for (const TCase& c : cases) {
    QString tip = "untouched";
    EXPECT_EQ(CMainFrame::OnMenuButtonToolHitTest(c.id, c.text, &tip), c.shown) << c.text;
    EXPECT_EQ(tip, c.shown ? QString(c.tip) : QString("untouched")) << c.text;
    EXPECT_EQ(CMainFrame::OnMenuButtonToolHitTest(c.id, c.text, nullptr), c.shown) << c.text;
  }

  // The menus of the menu bar show them.
  TFrame f;
  QMenu* file = f.frame->menuBar()->findChild<QMenu*>("File");
  ASSERT_NE(file, nullptr);
  file->popup(QPoint(10, 10));
  QApplication::processEvents();
  QAction* exit = f.Action(ID_APP_EXIT);
  const QPoint at = file->actionGeometry(exit).center();
  QHelpEvent help(QEvent::ToolTip, at, file->mapToGlobal(at));
  QApplication::sendEvent(file, &help);
  EXPECT_EQ(QToolTip::text(), "Exit");
  file->hide();
}

TEST(Toolbars, ThePaneMenuListsPanesAndToolbarsAndCustomize) {
  TFrame f;
  f.frame->CreateUserToolbar("Mine");
  std::unique_ptr<QMenu> menu(f.frame->createPopupMenu());
  ASSERT_NE(menu, nullptr);
  std::vector<QString> texts;
  for (QAction* a : menu->actions())
    if (!a->isSeparator() && a->isVisible()) texts.push_back(a->text());
  for (const char* name : {"Standard", "Navigate", "Play", "Replay", "Capture", "View", "Zoom", "DVD", "Mine",
                           "Tovrin Explorer", "Properties"})
    EXPECT_NE(std::find(texts.begin(), texts.end(), QString(name)), texts.end()) << name;
  EXPECT_EQ(menu->actions().back(), f.Action(ID_APP_OPTIONS));
  EXPECT_EQ(menu->actions().back()->text(), "Customize...");
}

// --- the buttons documents set ---------------------------------------------

TEST(Toolbars, ChannelButtonsShowTheChannelSetOfTheirByte) {
  TFrame f;
  struct TButton {
    const char* name;
    TChannelButtonByte byte;
    UINT command;
    std::function<void(TChannelButtonState*)> update;
  };
  const TButton buttons[] = {
      {"source list", CBS_SOURCE_LIST, ID_NAVIGATE_SOURCE_LIST,
       [&](TChannelButtonState* s) { f.frame->NavigateToolBar()->UpdateSourceListButton(s); }},
      {"playing", CBS_PLAYING, ID_NAVIGATE_ENABLE_PLAYING,
       [&](TChannelButtonState* s) { f.frame->GoToolBar()->UpdateEnablePlayingButton(s); }},
      {"replay", CBS_REPLAY, ID_REPLAY_ENABLE,
       [&](TChannelButtonState* s) { f.frame->ReplayToolBar()->UpdateEnableReplayButton(s); }},
      {"dvd", CBS_DVD_NAVIGATION, ID_DVD_ENABLE_NAVIGATION,
       [&](TChannelButtonState* s) { f.frame->DvdToolBar()->UpdateNavigationButton(s); }},
  };
  // The sixteen sets: channel 1 is the highest bit.
  struct TSet {
    bool ch[4];
    UINT image;
  };
  const TSet sets[] = {
      {{0, 0, 0, 0}, 32908}, {{0, 0, 0, 1}, 32909}, {{0, 0, 1, 0}, 32910}, {{0, 0, 1, 1}, 32911},
      {{0, 1, 0, 0}, 32912}, {{0, 1, 0, 1}, 32913}, {{0, 1, 1, 0}, 32914}, {{0, 1, 1, 1}, 32915},
      {{1, 0, 0, 0}, 32916}, {{1, 0, 0, 1}, 32917}, {{1, 0, 1, 0}, 32918}, {{1, 0, 1, 1}, 32919},
      {{1, 1, 0, 0}, 32920}, {{1, 1, 0, 1}, 32921}, {{1, 1, 1, 0}, 32922}, {{1, 1, 1, 1}, 32923},
  };
  // No two of the sixteen images look alike.
  for (UINT a = 32908; a <= 32923; ++a)
    for (UINT b = a + 1; b <= 32923; ++b) EXPECT_NE(ImageOf(a), ImageOf(b)) << a << " " << b;

  for (const TButton& button : buttons) {
    for (const TSet& set : sets) {
      TChannelButtonState state;
      for (int ch = 0; ch < 4; ++ch) state.channel[ch][button.byte] = set.ch[ch] ? 1 : 0;
      // Other bytes of the record do not count.
      for (int ch = 0; ch < 4; ++ch) state.channel[ch][(button.byte + 1) % 5] = 1;
      button.update(&state);
      EXPECT_EQ(state.answered, 1) << button.name << " " << set.image;
      EXPECT_EQ(Picture(f.Action(button.command)->icon()), ImageOf(set.image))
          << button.name << " " << set.image;
    }
    // The same set again leaves the button alone.
    f.Action(button.command)->setIcon(CommandIcon(ID_FILE_NEW, 24));
    TChannelButtonState same;
    for (int ch = 0; ch < 4; ++ch) same.channel[ch][button.byte] = 1;
    button.update(&same);
    EXPECT_EQ(same.answered, 0) << button.name;
    EXPECT_EQ(Picture(f.Action(button.command)->icon()), ImageOf(ID_FILE_NEW)) << button.name;
    // Values other than 1 count as set; a null record does nothing.
    same.channel[0][button.byte] = 0;
    same.channel[3][button.byte] = 7;
    button.update(&same);
    EXPECT_EQ(Picture(f.Action(button.command)->icon()), ImageOf(32915)) << button.name;
    button.update(nullptr);
  }
}

TEST(Toolbars, AChannelButtonTheUserHidOrRemovedIsTriedAgain) {
  TFrame f;
  ToolBarNavigate::CToolBarNavigate* nav = f.frame->NavigateToolBar();
  TChannelButtonState state;
  state.channel[1][CBS_SOURCE_LIST] = 1;
  // Hidden: still kept up to date, so that it is right when it shows again.
  nav->ShowButton(ID_NAVIGATE_SOURCE_LIST, false);
  nav->UpdateSourceListButton(&state);
  EXPECT_EQ(state.answered, 1);
  EXPECT_EQ(Picture(f.Action(ID_NAVIGATE_SOURCE_LIST)->icon()), ImageOf(32912));
  // A toolbar without the button changes nothing and answers nothing.
  nav->SetButtons({ID_NAVIGATE_FIRST});
  TChannelButtonState other;
  other.channel[2][CBS_SOURCE_LIST] = 1;
  nav->UpdateSourceListButton(&other);
  EXPECT_EQ(other.answered, 0);
  EXPECT_EQ(Picture(f.Action(ID_NAVIGATE_SOURCE_LIST)->icon()), ImageOf(32912));
  // Once the button is back the same set is shown.
  nav->SetButtons({ID_NAVIGATE_FIRST, ID_NAVIGATE_SOURCE_LIST});
  nav->UpdateSourceListButton(&other);
  EXPECT_EQ(other.answered, 1);
  EXPECT_EQ(Picture(f.Action(ID_NAVIGATE_SOURCE_LIST)->icon()), ImageOf(32910));
}

TEST(Toolbars, ThePlayButtonCarriesPauseWhileTheEngineRuns) {
  TFrame f;
  ToolBarGo::CToolBarGo* go = f.frame->GoToolBar();
  struct TCase {
    bool running, paused;
    UINT command;
  };
  const TCase cases[] = {
      {true, false, ID_NAVIGATE_PAUSE},        {true, true, ID_NAVIGATE_START_PAUSE},
      {false, false, ID_NAVIGATE_START_PAUSE}, {false, true, ID_NAVIGATE_START_PAUSE},
      {true, false, ID_NAVIGATE_PAUSE},
  };
  for (const TCase& c : cases) {
    go->UpdatePlayButton(c.running, c.paused);
    ASSERT_FALSE(go->VisibleCommands().empty());
    EXPECT_EQ(go->VisibleCommands().front(), c.command) << c.running << c.paused;
    EXPECT_EQ(go->actions().front(), f.Action(c.command));
    EXPECT_EQ(Picture(go->actions().front()->icon()), ImageOf(c.command));
  }
  // Unchanged bytes on a shown toolbar: nothing happens.
  f.Action(ID_NAVIGATE_PAUSE)->setIcon(CommandIcon(ID_FILE_NEW, 24));
  go->UpdatePlayButton(true, false);
  EXPECT_EQ(Picture(f.Action(ID_NAVIGATE_PAUSE)->icon()), ImageOf(ID_FILE_NEW));
  // A hidden toolbar is brought up to date at every call until it shows.
  go->hide();
  go->UpdatePlayButton(false, false);
  f.Action(ID_NAVIGATE_START_PAUSE)->setIcon(CommandIcon(ID_FILE_NEW, 24));
  go->UpdatePlayButton(false, false);
  EXPECT_EQ(Picture(f.Action(ID_NAVIGATE_START_PAUSE)->icon()), ImageOf(ID_NAVIGATE_START_PAUSE));
  go->show();
  go->UpdatePlayButton(false, false);  // this one finds it shown
  f.Action(ID_NAVIGATE_START_PAUSE)->setIcon(CommandIcon(ID_FILE_NEW, 24));
  go->UpdatePlayButton(false, false);
  EXPECT_EQ(Picture(f.Action(ID_NAVIGATE_START_PAUSE)->icon()), ImageOf(ID_FILE_NEW));
  // The quick-customisation list keeps the button under its own name.
  go->UpdatePlayButton(true, false);
  auto menu = CustomizeMenu(go);
  QAction* play = ByCommand(menu.get(), ID_NAVIGATE_START_PAUSE);
  ASSERT_NE(play, nullptr);
  EXPECT_EQ(play->text(), f.Action(ID_NAVIGATE_PAUSE)->text());
  play->setChecked(false);
  EXPECT_FALSE(go->IsButtonShown(ID_NAVIGATE_START_PAUSE));
}

TEST(Toolbars, ReverseReplayFollowsTheAssistantChannel) {
  TFrame f;
  ToolBarReplay::CToolBarReplay* replay = f.frame->ReplayToolBar();
  struct TCase {
    std::uint8_t first, second;
    UINT image;
    std::uint8_t answered;
  };
  const TCase cases[] = {
      {0, 0, ID_REPLAY_REVERSE_OFF_IMAGE, 1},  // the first call always shows
      {1, 0, ID_REPLAY_REVERSE_OFF_IMAGE, 0},  // the primary channel does not count
      {0, 1, ID_REPLAY_REVERSE_ON_IMAGE, 1},  {1, 1, ID_REPLAY_REVERSE_ON_IMAGE, 0},
      {0, 0, ID_REPLAY_REVERSE_OFF_IMAGE, 1},
  };
  for (const TCase& c : cases) {
    TChannelButtonState state;
    state.channel[0][CBS_REVERSE] = c.first;
    state.channel[1][CBS_REVERSE] = c.second;
    replay->UpdateReverseButton(&state);
    EXPECT_EQ(state.answered, c.answered) << int(c.first) << int(c.second);
    EXPECT_EQ(Picture(f.Action(ID_REPLAY_REVERSE)->icon()), ImageOf(c.image))
        << int(c.first) << int(c.second);
  }
  EXPECT_NE(ImageOf(ID_REPLAY_REVERSE_OFF_IMAGE), ImageOf(ID_REPLAY_REVERSE_ON_IMAGE));
}

TEST(Toolbars, TheCaptureButtonsShowRecordingAndCaptureStates) {
  TFrame f;
  ToolBarCapture::CToolBarCapture* capture = f.frame->CaptureToolBar();
  struct TRecord {
    std::uint8_t running, recorder;
    std::array<std::uint8_t, 4> selected;
    std::int32_t state;
    UINT image;
  };
  const TRecord records[] = {
      {0, 0, {0, 0, 0, 0}, 1, ID_CAPTURE_RECORD_IDLE},  {0, 1, {0, 0, 0, 0}, 1, ID_CAPTURE_RECORD_IDLE},
      {0, 1, {0, 0, 1, 0}, 2, ID_CAPTURE_RECORD_ARMED}, {1, 1, {0, 0, 1, 0}, 7, ID_CAPTURE_RECORD_RUNNING},
      {1, 0, {1, 1, 1, 1}, 1, ID_CAPTURE_RECORD_IDLE},  {1, 1, {0, 0, 0, 1}, 7, ID_CAPTURE_RECORD_RUNNING},
      {0, 1, {1, 0, 0, 0}, 2, ID_CAPTURE_RECORD_ARMED},
  };
  for (const TRecord& r : records) {
    TCaptureButtonState state;
    state.running = r.running;
    state.recorder = r.recorder;
    for (int ch = 0; ch < 4; ++ch) state.channel[ch][0] = r.selected[static_cast<std::size_t>(ch)];
    capture->UpdateRecordButton(&state);
    EXPECT_EQ(state.answered, 1);
    EXPECT_EQ(capture->RecordState(), r.state);
    EXPECT_EQ(Picture(f.Action(ID_CAPTURE_RECORD)->icon()), ImageOf(r.image)) << r.state;
  }
  {
    TCaptureButtonState again;
    again.recorder = 1;
    again.channel[0][0] = 1;
    capture->UpdateRecordButton(&again);
    EXPECT_EQ(again.answered, 0) << "unchanged";
  }
  struct TCapture {
    std::uint8_t first, second, third;
    std::int32_t state;
    UINT image;
    std::uint8_t answered;
  };
  const TCapture captures[] = {
      {0, 0, 0, 3, ID_CAPTURE_IMAGE_NONE, 1},   {1, 1, 0, 6, ID_CAPTURE_IMAGE_BOTH, 1},
      {1, 0, 0, 4, ID_CAPTURE_IMAGE_FIRST, 1},  {0, 1, 0, 5, ID_CAPTURE_IMAGE_SECOND, 1},
      {0, 1, 1, 5, ID_CAPTURE_IMAGE_SECOND, 0},  // channels 3 and 4 do not count
  };
  for (const TCapture& c : captures) {
    TCaptureButtonState state;
    state.channel[0][1] = c.first;
    state.channel[1][1] = c.second;
    state.channel[2][1] = c.third;
    capture->UpdateCaptureButton(&state);
    EXPECT_EQ(state.answered, c.answered) << c.state;
    EXPECT_EQ(capture->CaptureState(), c.state);
    EXPECT_EQ(Picture(f.Action(ID_CAPTURE_IMAGE)->icon()), ImageOf(c.image)) << c.state;
  }
  for (UINT a :
       {ID_CAPTURE_IMAGE_NONE, ID_CAPTURE_IMAGE_BOTH, ID_CAPTURE_IMAGE_FIRST, ID_CAPTURE_IMAGE_SECOND,
        ID_CAPTURE_RECORD_IDLE, ID_CAPTURE_RECORD_ARMED, ID_CAPTURE_RECORD_RUNNING})
    EXPECT_TRUE(HasCommandIcon(a)) << a;
  EXPECT_NE(ImageOf(ID_CAPTURE_RECORD_ARMED), ImageOf(ID_CAPTURE_RECORD_RUNNING));
  EXPECT_NE(ImageOf(ID_CAPTURE_IMAGE_FIRST), ImageOf(ID_CAPTURE_IMAGE_SECOND));
}
