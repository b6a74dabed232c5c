#pragma once
// The main frame's toolbars. Every toolbar keeps its list of buttons (the
// commands it was made with, or that the user added) and which of them the
// user hid; a drop-down button at its end offers the quick customisation of
// that set and the frame's customisation commands. Seven toolbars have
// classes of their own that let a media document show its state on certain
// buttons by changing the button's image or command.
//
// A button is the command's shared action (the same QAction as in menus), so
// its state follows the command routing; a changed image is the command's
// image everywhere.

#include <QPointer>
#include <QToolBar>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/types.h"

class QMenu;
class QToolButton;

namespace shell {

// The record a document's update handler builds on its stack for the
// channel buttons: operation, the answered byte (set by the toolbar when it
// changed the button), then per channel 1..4 a group of five bytes.
struct TChannelButtonState {
  std::int32_t op = 0;
  std::uint8_t answered = 0;
  std::uint8_t reserved[11] = {};
  std::uint8_t channel[4][5] = {};
};
// The bytes of a channel's group.
enum TChannelButtonByte : int {
  CBS_SOURCE_LIST = 0,     // the channel follows the media source list
  CBS_PLAYING = 1,         // enabled for playing
  CBS_REPLAY = 2,          // enabled for replay
  CBS_REVERSE = 3,         // replays in reverse
  CBS_DVD_NAVIGATION = 4,  // DVD navigation enabled
};
static_assert(sizeof(TChannelButtonState) == 36);

// The record of the Capture toolbar's two buttons.
struct TCaptureButtonState {
  std::int32_t op = 0;
  std::uint8_t answered = 0;
  std::uint8_t reserved[11] = {};
  std::uint8_t running = 0;   // the engine runs
  std::uint8_t recorder = 0;  // recording is switched on
  std::uint8_t reserved2 = 0;
  // Per channel 1..4: selected for recording, image capture enabled, spare.
  std::uint8_t channel[4][3] = {};
};
static_assert(sizeof(TCaptureButtonState) == 32);

// The channel-set image of one byte of every channel's group.
UINT ChannelSetImageOf(const TChannelButtonState& state, TChannelButtonByte byte);

class CCustomToolBar : public QToolBar {
  Q_OBJECT
 public:
  // The action of a command, with its texts and image (the frame's).
  using TActionSource = std::function<QAction*(UINT id)>;
  // Whether a command may show at all (non-permitted ones never do).
  using TPermission = std::function<bool(UINT id)>;
  // Adds the frame's entries to a toolbar's customisation menu.
  using TMenuExtender = std::function<void(CCustomToolBar* bar, QMenu* menu)>;

  CCustomToolBar(UINT id, const QString& caption, QWidget* parent = nullptr);

  UINT Id() const { return m_id; }
  // A toolbar the user created (and may delete and add commands to).
  bool IsUserToolbar() const { return m_bUserToolbar; }
  void SetUserToolbar(bool on) { m_bUserToolbar = on; }

  void SetActionSource(TActionSource source) { m_actionSource = std::move(source); }
  void SetPermission(TPermission permission) { m_permission = std::move(permission); }
  void SetMenuExtender(TMenuExtender extender) { m_menuExtender = std::move(extender); }

  // The toolbar's buttons in order; 0 is a separator. All shown.
  void SetButtons(const std::vector<UINT>& ids);
  // Appends a command's button (shown); false when the toolbar has it already
  // or the id is no command.
  bool AddButton(UINT id);
  // The buttons as made (the command each slot was made with), separators
  // included.
  std::vector<UINT> Buttons() const;
  // The commands the toolbar shows now, in order, without separators.
  std::vector<UINT> VisibleCommands() const;

  // Quick customisation: show or hide the button made with `id`.
  bool ShowButton(UINT id, bool show);
  bool IsButtonShown(UINT id) const;
  // Every button shown again.
  void ResetButtons();
  // The buttons the user hid (by the command each was made with).
  std::vector<UINT> HiddenButtons() const;
  void SetHiddenButtons(const std::vector<UINT>& ids);

  // The drop-down button at the toolbar's end: `text` is its tooltip and
  // accessible name; `customizeCommand` (may be null) ends its menu; with
  // `quickCustomize` the menu offers the toolbar's buttons to show or hide.
  void EnableCustomizeButton(bool enable, QAction* customizeCommand, const QString& text,
                             bool quickCustomize);
  QToolButton* CustomizeButton() const { return m_customizeButton; }
  // Fills a customisation menu as the drop-down button shows it.
  void FillCustomizeMenu(QMenu* menu);

  // Lays the buttons out again (after a change of the permitted commands).
  void RebuildButtons();

  // The button at a position among the buttons as made (separators count):
  // the command it carries now, 0 for a separator or no button there.
  UINT CommandAt(int position) const;
  // Makes the button at a position carry another command, with that
  // command's image; false for a separator, no button there or no such
  // command.
  bool SetCommandAt(int position, UINT command);

 protected:
  // The command a slot carries now; 0 when the toolbar has no button made
  // with `id`.
  UINT ButtonCommand(UINT id) const;
  // Makes the button made with `id` carry the command `command`.
  bool SetButtonCommand(UINT id, UINT command);
  // Gives the button made with `id` the image of the command `image`; false
  // when the toolbar has no such button or there is no such image.
  bool SetButtonImage(UINT id, UINT image);

 private:
  struct TSlot {
    UINT base = 0;     // the command the button was made with; 0 separator
    UINT command = 0;  // the command it carries now
    bool shown = true;
  };
  QAction* ActionOf(UINT command) const;
  bool Permitted(UINT id) const;
  TSlot* FindSlot(UINT id);
  const TSlot* FindSlot(UINT id) const;

  UINT m_id;
  bool m_bUserToolbar = false;
  std::vector<TSlot> m_slots;
  std::vector<QAction*> m_separators;
  TActionSource m_actionSource;
  TPermission m_permission;
  TMenuExtender m_menuExtender;
  QToolButton* m_customizeButton = nullptr;
  QAction* m_customizeButtonAction = nullptr;
  QPointer<QAction> m_customizeCommand;
  QString m_customizeText;
  bool m_bQuickCustomize = false;
};

}  // namespace shell

namespace ToolBarStandard {
class CToolBarStandard : public shell::CCustomToolBar {
  Q_OBJECT
 public:
  using CCustomToolBar::CCustomToolBar;
};
}  // namespace ToolBarStandard

namespace ToolBarNavigate {
class CToolBarNavigate : public shell::CCustomToolBar {
  Q_OBJECT
 public:
  using CCustomToolBar::CCustomToolBar;
  // "Media source list" shows the set of channels that follow the list.
  void UpdateSourceListButton(shell::TChannelButtonState* state);

 private:
  std::array<std::uint8_t, 4> m_lastSet{};
  bool m_bSetShown = false;
};
}  // namespace ToolBarNavigate

namespace ToolBarGo {
class CToolBarGo : public shell::CCustomToolBar {
  Q_OBJECT
 public:
  using CCustomToolBar::CCustomToolBar;
  // The play button carries "Pause" while the engine runs and is not
  // paused, else "Start / Pause - Replay".
  void UpdatePlayButton(bool running, bool paused);
  // "Enable Playing" shows the set of channels enabled for playing.
  void UpdateEnablePlayingButton(shell::TChannelButtonState* state);

 private:
  std::uint8_t m_lastRunning = 0;
  std::uint8_t m_lastPaused = 0;
  std::array<std::uint8_t, 4> m_lastSet{};
  // A hidden toolbar is brought up to date at every call until it shows.
  bool m_bPlayRefresh = true;
  bool m_bChannelRefresh = true;
};
}  // namespace ToolBarGo

namespace ToolBarReplay {
class CToolBarReplay : public shell::CCustomToolBar {
  Q_OBJECT
 public:
  using CCustomToolBar::CCustomToolBar;
  // "Reverse Replay" shows whether the assistant channel (the second)
  // replays in reverse.
  void UpdateReverseButton(shell::TChannelButtonState* state);
  // "Enable replaying" shows the set of channels enabled for replay.
  void UpdateEnableReplayButton(shell::TChannelButtonState* state);

 private:
  std::array<std::uint8_t, 4> m_lastSet{};
  std::uint8_t m_lastReverse = 0;
  bool m_bSetShown = false;
  bool m_bReverseShown = false;
};
}  // namespace ToolBarReplay

namespace ToolBarCapture {
class CToolBarCapture : public shell::CCustomToolBar {
  Q_OBJECT
 public:
  using CCustomToolBar::CCustomToolBar;
  // States of the record button: plain, armed, recording.
  static constexpr std::int32_t kRecordPlain = 1, kRecordArmed = 2, kRecordRunning = 7;
  // States of the capture button by the capture flags of channels 1 and 2.
  static constexpr std::int32_t kCaptureNone = 3, kCaptureFirst = 4, kCaptureSecond = 5, kCaptureBoth = 6;

  // "Start / Stop recording" shows whether recording is armed on a selected
  // channel and whether the engine runs.
  void UpdateRecordButton(shell::TCaptureButtonState* state);
  // "Capture Image" shows which of the first two channels capture.
  void UpdateCaptureButton(shell::TCaptureButtonState* state);

  std::int32_t RecordState() const { return m_nRecordState; }
  std::int32_t CaptureState() const { return m_nCaptureState; }

 private:
  std::uint8_t m_lastRunning = 0;
  std::uint8_t m_lastRecorder = 0;
  std::array<std::uint8_t, 4> m_lastSelection{};
  std::array<std::uint8_t, 2> m_lastCapture{};
  std::int32_t m_nRecordState = 3;  // none of the three yet
  std::int32_t m_nCaptureState = kCaptureNone;
  bool m_bRecordShown = false;
  bool m_bCaptureShown = false;
};
}  // namespace ToolBarCapture

namespace ToolBarZoom {
class CToolBarZoom : public shell::CCustomToolBar {
  Q_OBJECT
 public:
  using CCustomToolBar::CCustomToolBar;
};
}  // namespace ToolBarZoom

namespace ToolBarDvd {
class CToolBarDvd : public shell::CCustomToolBar {
  Q_OBJECT
 public:
  using CCustomToolBar::CCustomToolBar;
  // "Enable DVD navigation" shows the set of channels with DVD navigation.
  void UpdateNavigationButton(shell::TChannelButtonState* state);

 private:
  std::array<std::uint8_t, 4> m_lastSet{};
  bool m_bSetShown = false;
};
}  // namespace ToolBarDvd
