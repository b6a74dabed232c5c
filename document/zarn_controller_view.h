#pragma once
// The controller pane: the narrow left column of a media document's window.
//
// Per channel it shows a time readout, a frame-count readout, a position
// slider, a volume slider and a mute box; below them the play-speed slider,
// two "Get" and two "Save" capture buttons and the info line. It is the
// window the engine, the readers and the option pages talk to: readouts
// change only on the UI thread, from the private messages the engine posts
// (WM_APP_CONTROLLER_UPDATE, WM_APP_TIME_TICK, WM_APP_CHANNEL_SLIDER), and the
// settings exchanges of the document's option pages are handed on to the
// document. Its context menu hides or narrows the column through the child
// frame and groups the rows by function or by channel.
//
// Worker threads never touch a widget: they call RequestUpdate, which posts
// one WM_APP_CONTROLLER_UPDATE per kind and coalesces the requests that
// arrive before the pane has handled it.
//
// The position slider, the volume sliders and the mute boxes act on the
// document and the channel readers directly: a released position slider
// seeks the channel (CZarnDoc::SeekChannel), a moved volume slider sets its
// volume (CZarnDoc::SetChannelVolume), a mute box switches the reader's
// sound. The readouts and the position slider of a media file follow the
// frame the channel shows (the engine's shown frame, its index in the file):
// the counter is that index; where the open told the file's frame period
// (AVI, WMV, ASF), the time is the frame's time in the file and the slider
// its share of the duration, whether the frame was just played, replayed,
// sought or is the last one after the session ended. For other files the
// time tick places them by the reader's position, and nothing sends them
// back to 0 but a new open. The time tick asks a streaming channel's reader
// for its position and duration, and a DVD's for its location
// (SetPositionQuery replaces where they come from).
//
// The "Get" and "Save" buttons come with capturing: they report through
// CaptureRequested and SaveReferenceRequested and stay disabled while those
// signals have no receiver.

#include <QFrame>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "media/media_source.h"
#include "platform/qt/app_messages.h"
#include "platform/qt/commands.h"

class QCheckBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QSlider;

namespace ZarnDoc {
class CZarnDoc;
}

namespace ZarnControllerView {

// Control ids of the pane's form, channel 1 first.
inline constexpr int IDC_MINIMIZE = 1026;
inline constexpr int IDC_CLOSE = 1027;
inline constexpr int IDC_TIME[4] = {1030, 1021, 1037, 1038};
inline constexpr int IDC_FRAMES[4] = {1028, 1016, 1035, 1039};
inline constexpr int IDC_READOUT_LABEL[4] = {1029, 1012, 1036, 1040};
inline constexpr int IDC_POSITION[4] = {1094, 1096, 1098, 1100};
inline constexpr int IDC_POSITION_LABEL[4] = {1095, 1097, 1099, 1101};
inline constexpr int IDC_VOLUME[4] = {1102, 1104, 1106, 1108};
inline constexpr int IDC_MUTE[4] = {1103, 1105, 1107, 1109};
inline constexpr int IDC_SPEED = 1110;
inline constexpr int IDC_SPEED_LABEL = 1111;
inline constexpr int IDC_GET_1 = 1031;
inline constexpr int IDC_GET_2 = 1041;
inline constexpr int IDC_SAVE_3 = 1023;
inline constexpr int IDC_SAVE_4 = 1042;
inline constexpr int IDC_INFO = 1043;

// WM_APP_CONTROLLER_UPDATE kinds (wParam).
inline constexpr platform::qt::WPARAM CONTROLLER_UPDATE_COUNTERS = 1;
inline constexpr platform::qt::WPARAM CONTROLLER_UPDATE_ALL = 3;

// The block of the capture-device pages' work-mode exchange
// (WM_APP_OPTS_DVCAM, WM_APP_OPTS_WEBCAM, WM_APP_OPTS_TVTUNER), which the
// pane answers itself: a read gives the channel's device category and its
// reader's capture work mode; a write is acknowledged.
struct TDeviceModeExchange {
  std::int32_t op = 0;
  std::uint8_t answered = 0;
  std::int32_t channel = 0;
  std::int32_t deviceCategory = 0;  // TSysDevCtgr
  std::int32_t workMode = 0;        // TCaptureWorkMode
};
static_assert(sizeof(TDeviceModeExchange) == 20);

// Row grouping of the pane.
enum TControllerLayout : std::int32_t {
  LAYOUT_BY_CHANNEL = 1,
  LAYOUT_BY_FUNCTION = 2,
};

// ---- What the pane shows, without widgets

// The frame-count readout of a counter: "%d ".
std::string FrameCountText(std::int32_t counter);
// The same while the channel records: frames its writer could not keep up
// with (a live source) follow as "(%lld dropped) " once there are any.
std::string FrameCountText(std::int32_t counter, std::int64_t dropped);

// The play time of a frame counter in whole seconds: (counter + 1) x period
// / 1000 (integer division, without overflow for any counter).
std::int64_t CounterSeconds(std::int32_t counter, std::int32_t periodMs);

// The time readout of whole seconds: minutes with at least four digits,
// seconds with two, and a blank ("0010:00 ").
std::string CounterTimeText(std::int64_t seconds);

// The time readout of a stream position in milliseconds: "hh:mm:ss ".
std::string StreamTimeText(std::int64_t positionMs);

// The readouts of a DVD location: "T%02d-C%02d " and "%02d:%02d:%02d ".
std::string DvdTitleText(std::int32_t title, std::int32_t chapter);
std::string DvdTimeText(std::int32_t hours, std::int32_t minutes, std::int32_t seconds);

// The time of a frame of a media file in milliseconds: its index in the file
// times the frame period (rounded; 0 for a negative index or period).
std::int64_t FrameTimeMs(std::int32_t frame, double periodMs);

// The position slider's place for a position within a duration (0 when the
// duration is not positive; clamped to the slider's range).
int SliderPosition(int minimum, int maximum, std::int64_t position, std::int64_t duration);

// Whether a channel's position slider can seek: a DVD, or a media-graph file.
bool CanSeek(const ZarnTypes::TMediaSource& source);
// Whether a channel's volume slider and mute box act: a media-graph file, or
// an audio input, DV camcorder, TV tuner or DVD device.
bool HasSound(const ZarnTypes::TMediaSource& source);

// One row of the pane's per-channel rows.
enum TRowKind : std::int32_t { ROW_READOUT, ROW_POSITION, ROW_VOLUME };
struct TRowSlot {
  TRowKind kind;
  int channel;
  bool shown;
  bool operator==(const TRowSlot&) const = default;
};

// The order of the twelve rows and which are shown, for a layout mode and
// n = 1 + the highest channel with an open source (0 when none is open).
std::vector<TRowSlot> ArrangeRows(std::int32_t layout, int openCount);

// What a streaming channel's source says of its position: position and
// duration in the slider's terms, the position in milliseconds and, for a
// DVD, its location (valid with `titlePlay`).
struct TChannelClock {
  std::int64_t position = 0;
  std::int64_t duration = 0;
  std::int64_t positionMs = 0;
  bool titlePlay = false;
  std::int32_t title = 0, chapter = 0, hours = 0, minutes = 0, seconds = 0;
};

class CZarnControllerView : public QFrame, public platform::qt::ICommandTarget {
  Q_OBJECT
 public:
  explicit CZarnControllerView(ZarnDoc::CZarnDoc* document, QWidget* parent = nullptr);
  ~CZarnControllerView() override;

  bool OnCmdMsg(UINT id, platform::qt::TCmdCode code, platform::qt::TCmdUI* ui) override;

  ZarnDoc::CZarnDoc* Document() const { return m_pDocument; }

  // The control of a form id, or null.
  QWidget* Control(int id) const;
  QLabel* TimeReadout(int channel) const;
  QLabel* FrameReadout(int channel) const;
  QSlider* PositionSlider(int channel) const;
  QSlider* VolumeSlider(int channel) const;
  QCheckBox* MuteBox(int channel) const;
  QSlider* SpeedSlider() const { return m_pSpeed; }
  QLabel* InfoLine() const { return m_pInfo; }

  // Ends the set-up: the pane becomes the document's message target,
  // arranges its rows and from then on answers controller updates.
  void OnInitialUpdate();
  bool Initialised() const { return m_bInitialised; }

  // Thread-safe: asks for one WM_APP_CONTROLLER_UPDATE of this kind; a
  // request made while one of the same kind is waiting is merged with it.
  void RequestUpdate(platform::qt::WPARAM what);

  std::int32_t LayoutMode() const { return m_nLayout; }
  void SetLayoutMode(std::int32_t layout);
  // Rows and controls as the open channels ask.
  void ArrangeControls();
  // A new source was opened into the channel: what the pane learnt of the
  // previous one's duration is forgotten.
  void ForgetChannelPlace(int channel);

  // How the time tick asks a streaming channel for its position: by
  // default its reader (ReaderClock); false skips the channel.
  using TPositionQuery = std::function<bool(int channel, TChannelClock& clock)>;
  void SetPositionQuery(TPositionQuery query) { m_PositionQuery = std::move(query); }
  // What a channel's reader says of its position: position and duration,
  // and for a DVD volume its location, otherwise the position in
  // milliseconds. False when the reader cannot tell.
  bool ReaderClock(int channel, TChannelClock& clock) const;

  // The info line: the status text the engine writes ("Info" while there
  // is none).
  void UpdateStatus();

 signals:
  void Activated(ZarnControllerView::CZarnControllerView* view);
  // "Get": capture the channel's picture (channel 0 or 1).
  void CaptureRequested(int channel);
  // "Save": save the picture of channel 2 or 3 with the next number.
  void SaveReferenceRequested(int channel);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void connectNotify(const QMetaMethod& signal) override;
  // The column can be narrowed to 15 pixels and made as low as the window.
  QSize minimumSizeHint() const override { return {15, 0}; }

 private:
  struct TChannelControls {
    QLabel* time = nullptr;
    QLabel* frames = nullptr;
    QLabel* readoutLabel = nullptr;
    QSlider* position = nullptr;
    QLabel* positionLabel = nullptr;
    QSlider* volume = nullptr;
    QCheckBox* mute = nullptr;
    bool dragging = false;
    int placeBeforeDrag = 0;         // where the slider stood when the drag began
    std::int64_t shownSeconds = -1;  // the play time the readout shows
    double durationMs = 0;           // the media file's duration, as its reader last told
  };

  void BuildForm();
  void RegisterMessages();
  void SendPaneCommand(std::int32_t command);
  void OnControllerUpdate(platform::qt::WPARAM what);
  void UpdateCounters();
  // Frames the channel's open recording dropped (0 when it records none).
  std::int64_t RecorderDrops(int channel) const;
  // A media file's readouts and slider at the frame the channel shows (with
  // the clock of a time tick, for a file whose frame period is not known).
  void ShowMediaFilePlace(int channel, const TChannelClock* clock = nullptr);
  void RefreshAll();
  void OnTimeTick();
  void OnChannelSlider(platform::qt::WPARAM channel, platform::qt::LPARAM state);
  void OnDeviceMode(TDeviceModeExchange& block);
  void UpdateCaptureButtons();
  // The position slider's drag and release, a volume slider's move, a
  // mute box's click.
  void OnPositionTrack(int channel);
  void OnPositionEndTrack(int channel);
  void OnVolumeTrack(int channel, int position);
  void OnMuteBox(int channel);
  bool HasReceiver(const char* signal) const;

  ZarnDoc::CZarnDoc* m_pDocument;
  std::array<TChannelControls, 4> m_Channel;
  QSlider* m_pSpeed = nullptr;
  QLabel* m_pSpeedLabel = nullptr;
  QPushButton* m_pGet[2] = {};
  QPushButton* m_pSave[2] = {};
  QLabel* m_pInfo = nullptr;
  QGridLayout* m_pRows = nullptr;
  std::map<int, QWidget*> m_Controls;
  std::int32_t m_nLayout = LAYOUT_BY_FUNCTION;
  bool m_bInitialised = false;
  std::atomic<unsigned> m_nPendingUpdates{0};
  TPositionQuery m_PositionQuery;
  platform::qt::CCmdTarget m_Commands;
  platform::qt::TMessageMap* m_pMessages = nullptr;
};

}  // namespace ZarnControllerView
