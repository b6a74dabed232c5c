#pragma once
// Private messages between the program's windows.
//
// A private message is a custom QEvent whose type is the message number
// (WM_APP + n, all inside Qt's user range). It carries two values, wParam and
// lParam, and a result. A message with a record passes the record's address
// in lParam; the record lives on the sender's stack and begins with an int32
// operation followed by the one-byte `answered` flag that only the receiver
// sets. The sender looks at `answered`, not at the result.
//
// Delivery:
//  - SendAppMessage from the receiver's own thread (the UI thread) delivers
//    at once and returns the receiver's result (QCoreApplication::sendEvent).
//  - SendAppMessage from any other thread never waits for the UI thread: a
//    message without a record (lParam a plain value) is posted instead and 0
//    is returned; a message that carries a record address is refused (the
//    record would be gone before the UI thread read it), so it stays
//    unanswered. Workers that must hand data over use PostAppRecord, which
//    posts a copy of the record that the event owns.
//  - PostAppMessage posts from any thread and returns at once.
// The UI thread never waits for a worker here either.

#include <QEvent>
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>
#include <unordered_map>

#include "platform/types.h"

namespace platform::qt {

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

inline constexpr UINT WM_APP = 0x8000;

// Message numbers. Each has one meaning throughout the program.
enum TAppMessage : UINT {
  WM_APP_IDENTIFY_VIEW = WM_APP + 4096,
  WM_APP_CONTROLLER_UPDATE = WM_APP + 4097,
  WM_APP_REPAINT_PANES = WM_APP + 4098,
  WM_APP_FRAME_NOTIFY = WM_APP + 4099,
  WM_APP_OPTS_DOC_STRINGS_1 = WM_APP + 4100,
  WM_APP_OPTS_DOC_STRINGS_2 = WM_APP + 4101,
  WM_APP_OPTS_DOC_STRINGS_3 = WM_APP + 4102,
  WM_APP_OPTS_YUV = WM_APP + 4106,
  WM_APP_OPTS_JPEG = WM_APP + 4107,
  WM_APP_OPTS_JPEG2000 = WM_APP + 4108,
  WM_APP_OPTS_PNG = WM_APP + 4109,
  WM_APP_OPTS_GIF = WM_APP + 4110,
  WM_APP_OPTS_TIFF = WM_APP + 4111,
  WM_APP_OPTS_AVI = WM_APP + 4112,
  WM_APP_OPTS_WMF = WM_APP + 4113,
  WM_APP_PREVIEW_DECODE = WM_APP + 4121,
  WM_APP_OPTS_REFERENCE_FRAMES = WM_APP + 4122,
  WM_APP_OPTS_VIDEO = WM_APP + 4123,
  WM_APP_OPTS_PIP = WM_APP + 4124,
  WM_APP_VIEW_CREATED = WM_APP + 4125,
  WM_APP_PANE_LAYOUT = WM_APP + 4126,
  WM_APP_OPTS_NAVIGATE = WM_APP + 4127,
  WM_APP_ZOOM_SETTINGS = WM_APP + 4128,
  WM_APP_OPTS_FULLSCREEN = WM_APP + 4129,
  WM_APP_OPTS_MDI_TABS = WM_APP + 4130,
  WM_APP_OPTS_APP_LOOK = WM_APP + 4131,
  WM_APP_PANE_COMMAND = WM_APP + 4133,
  WM_APP_OPTS_CATEGORY = WM_APP + 4134,
  WM_APP_OPTS_FRAME = WM_APP + 4135,
  WM_APP_PREVIEW_INFO = WM_APP + 4137,
  WM_APP_TIME_TICK = WM_APP + 4140,
  WM_APP_CHANNEL_SLIDER = WM_APP + 4141,
  WM_APP_OPTS_DVCAM = WM_APP + 4143,
  WM_APP_OPTS_WEBCAM = WM_APP + 4144,
  WM_APP_OPTS_TVTUNER = WM_APP + 4145,
  WM_APP_PANE_RESCALE = WM_APP + 4150,
  WM_APP_FULLSCREEN_ACTIVITY = WM_APP + 4155,
  WM_APP_APPLOOK_CHANGED = WM_APP + 4163,
};

// The head of every exchange record: operation, then the answered flag.
struct TAppRecordHead {
  std::int32_t operation = 0;
  std::uint8_t answered = 0;
};

// Record operations.
inline constexpr std::int32_t APP_OP_READ = 1;    // read or get
inline constexpr std::int32_t APP_OP_WRITE = 2;   // write, set or notify
inline constexpr std::int32_t APP_OP_ACTION = 4;  // an action

// The record of WM_APP_FRAME_NOTIFY: documents and the child frame report to
// the main frame. wParam says what the notice is for (2 open button, 7 View
// toolbar button, 10 explorer pane, 12 properties pane, 13 tab groups).
struct TFrameNotice {
  std::int32_t operation = APP_OP_WRITE;
  std::uint8_t answered = 0;
  std::int32_t code = 0;       // a command id or a FRAME_REQ_* code
  std::intptr_t document = 0;  // document number, or a pointer
  void* payload = nullptr;
};

inline constexpr WPARAM FRAME_NOTIFY_OPEN_BUTTON = 2;
inline constexpr WPARAM FRAME_NOTIFY_VIEW_BUTTON = 7;
inline constexpr WPARAM FRAME_NOTIFY_EXPLORER = 10;
inline constexpr WPARAM FRAME_NOTIFY_PROPERTIES = 12;
inline constexpr WPARAM FRAME_NOTIFY_TAB_GROUPS = 13;

enum TFrameRequest : std::int32_t {
  FRAME_REQ_EXPLORER_REBUILD = 36924,
  FRAME_REQ_EXPLORER_ADD_DOC = 36925,
  FRAME_REQ_EXPLORER_REMOVE_DOC = 36926,
  FRAME_REQ_EXPLORER_UPDATE_DOC = 36928,
  FRAME_REQ_TAB_GROUPS_CHANGED = 36929,
  FRAME_REQ_SHOW_PROPERTIES = 36930,
};

// The event that carries a private message.
class TAppMessageEvent : public QEvent {
 public:
  TAppMessageEvent(UINT message, WPARAM wParam, LPARAM lParam);
  ~TAppMessageEvent() override;

  UINT Message() const { return static_cast<UINT>(type()); }
  WPARAM WParam() const { return m_wParam; }
  LPARAM LParam() const { return m_lParam; }
  // The receiver's result (0 unless a handler returned something else).
  LRESULT Result() const { return m_result; }
  void SetResult(LRESULT result) { m_result = result; }
  // True when a handler took the message.
  bool Handled() const { return m_handled; }
  void SetHandled(bool handled) { m_handled = handled; }
  // True for a message that was posted rather than sent.
  bool Posted() const { return m_posted; }

  // For PostAppRecord: the event owns the record copy lParam points at.
  void AdoptRecord(std::shared_ptr<void> record);

 private:
  friend bool PostAppMessage(QObject*, UINT, WPARAM, LPARAM);
  friend bool PostAppEvent(QObject*, std::unique_ptr<TAppMessageEvent>);
  WPARAM m_wParam;
  LPARAM m_lParam;
  LRESULT m_result = 0;
  bool m_handled = false;
  bool m_posted = false;
  std::shared_ptr<void> m_record;
};

// The event for a QEvent of a private message, or nullptr.
TAppMessageEvent* AsAppMessage(QEvent* event);

// True when a message is in the program's private range.
constexpr bool IsAppMessage(UINT message) { return message >= WM_APP && message <= 0xBFFF; }

// Reserves the message numbers with Qt's event-type registry (so nothing
// else in the process takes them). Called once by the application; also done
// lazily by the first send or post. Returns false if a number was taken.
bool RegisterAppMessages();

// The record address a message carries, as a typed pointer.
template <class T>
T* RecordOf(LPARAM lParam) {
  return reinterpret_cast<T*>(lParam);
}
template <class T>
LPARAM RecordParam(T* record) {
  return reinterpret_cast<LPARAM>(record);
}

// Sends a message (see the top of this file). Returns the receiver's result;
// 0 when the target is gone, nobody handled the message, or the call came
// from another thread.
LRESULT SendAppMessage(QObject* target, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

// Sends a record: lParam is the record's address. From another thread the
// record is not delivered and stays unanswered.
LRESULT SendAppMessageWithRecord(QObject* target, UINT message, WPARAM wParam, LPARAM record);
template <class T>
LRESULT SendAppRecord(QObject* target, UINT message, WPARAM wParam, T& record) {
  return SendAppMessageWithRecord(target, message, wParam, RecordParam(&record));
}

// Posts a message with plain values from any thread; false when the target
// is gone. The receiver runs on the target's thread later.
bool PostAppMessage(QObject* target, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

// Posts a copy of a record; the receiver sees lParam pointing at the copy,
// which lives as long as the event. For workers that hand over data without
// waiting.
bool PostAppEvent(QObject* target, std::unique_ptr<TAppMessageEvent> event);
template <class T>
bool PostAppRecord(QObject* target, UINT message, WPARAM wParam, const T& record) {
  static_assert(std::is_copy_constructible_v<T>);
  auto copy = std::make_shared<T>(record);
  auto event = std::make_unique<TAppMessageEvent>(message, wParam, RecordParam(copy.get()));
  event->AdoptRecord(std::move(copy));
  return PostAppEvent(target, std::move(event));
}

// Message handlers of one object, by message number. Install it on any
// QObject (it becomes the object's child and filters its events), or call
// Dispatch from the object's own event().
class TMessageMap : public QObject {
  Q_OBJECT
 public:
  using THandler = std::function<LRESULT(WPARAM, LPARAM)>;
  // Installs itself as an event filter of `target` (may be nullptr: use
  // Dispatch directly).
  explicit TMessageMap(QObject* target = nullptr);

  void On(UINT message, THandler handler);
  // A handler that sees the whole event (posted flag, result).
  void OnEvent(UINT message, std::function<void(TAppMessageEvent&)> handler);
  bool Has(UINT message) const;

  // Runs the handler of the event's message; true when there was one (the
  // event is then handled and carries the handler's result).
  bool Dispatch(QEvent* event);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::unordered_map<UINT, std::function<void(TAppMessageEvent&)>> m_handlers;
};

}  // namespace platform::qt
