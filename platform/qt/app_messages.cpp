#include "platform/qt/app_messages.h"

#include <QCoreApplication>
#include <QThread>

#include <array>
#include <mutex>

namespace platform::qt {
namespace {

constexpr std::array kMessages = {
    WM_APP_IDENTIFY_VIEW,
    WM_APP_CONTROLLER_UPDATE,
    WM_APP_REPAINT_PANES,
    WM_APP_FRAME_NOTIFY,
    WM_APP_OPTS_DOC_STRINGS_1,
    WM_APP_OPTS_DOC_STRINGS_2,
    WM_APP_OPTS_DOC_STRINGS_3,
    WM_APP_OPTS_YUV,
    WM_APP_OPTS_JPEG,
    WM_APP_OPTS_JPEG2000,
    WM_APP_OPTS_PNG,
    WM_APP_OPTS_GIF,
    WM_APP_OPTS_TIFF,
    WM_APP_OPTS_AVI,
    WM_APP_OPTS_WMF,
    WM_APP_PREVIEW_DECODE,
    WM_APP_OPTS_REFERENCE_FRAMES,
    WM_APP_OPTS_VIDEO,
    WM_APP_OPTS_PIP,
    WM_APP_VIEW_CREATED,
    WM_APP_PANE_LAYOUT,
    WM_APP_OPTS_NAVIGATE,
    WM_APP_ZOOM_SETTINGS,
    WM_APP_OPTS_FULLSCREEN,
    WM_APP_OPTS_MDI_TABS,
    WM_APP_OPTS_APP_LOOK,
    WM_APP_PANE_COMMAND,
    WM_APP_OPTS_CATEGORY,
    WM_APP_OPTS_FRAME,
    WM_APP_PREVIEW_INFO,
    WM_APP_TIME_TICK,
    WM_APP_CHANNEL_SLIDER,
    WM_APP_OPTS_DVCAM,
    WM_APP_OPTS_WEBCAM,
    WM_APP_OPTS_TVTUNER,
    WM_APP_PANE_RESCALE,
    WM_APP_FULLSCREEN_ACTIVITY,
    WM_APP_APPLOOK_CHANGED,
};

std::once_flag g_registerOnce;
bool g_registered = false;

bool OnTargetThread(const QObject* target) { return target->thread() == QThread::currentThread(); }

}  // namespace

bool RegisterAppMessages() {
  std::call_once(g_registerOnce, [] {
    bool all = true;
    for (UINT m : kMessages) {
      // Qt hands out the hint when it is free; anything else means a clash.
      if (QEvent::registerEventType(static_cast<int>(m)) != static_cast<int>(m)) all = false;
    }
    g_registered = all;
  });
  return g_registered;
}

TAppMessageEvent::TAppMessageEvent(UINT message, WPARAM wParam, LPARAM lParam)
    : QEvent(static_cast<QEvent::Type>(message)), m_wParam(wParam), m_lParam(lParam) {
  RegisterAppMessages();
}

TAppMessageEvent::~TAppMessageEvent() = default;

void TAppMessageEvent::AdoptRecord(std::shared_ptr<void> record) { m_record = std::move(record); }

TAppMessageEvent* AsAppMessage(QEvent* event) {
  if (!event || !IsAppMessage(static_cast<UINT>(event->type()))) return nullptr;
  return dynamic_cast<TAppMessageEvent*>(event);
}

LRESULT SendAppMessage(QObject* target, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!target) return 0;
  if (!OnTargetThread(target)) {
    PostAppMessage(target, message, wParam, lParam);
    return 0;
  }
  TAppMessageEvent event(message, wParam, lParam);
  QCoreApplication::sendEvent(target, &event);
  return event.Handled() ? event.Result() : 0;
}

LRESULT SendAppMessageWithRecord(QObject* target, UINT message, WPARAM wParam, LPARAM record) {
  if (!target || !OnTargetThread(target)) return 0;
  TAppMessageEvent event(message, wParam, record);
  QCoreApplication::sendEvent(target, &event);
  return event.Handled() ? event.Result() : 0;
}

bool PostAppMessage(QObject* target, UINT message, WPARAM wParam, LPARAM lParam) {
  return PostAppEvent(target, std::make_unique<TAppMessageEvent>(message, wParam, lParam));
}

bool PostAppEvent(QObject* target, std::unique_ptr<TAppMessageEvent> event) {
  if (!target || !event) return false;
  event->m_posted = true;
  // postEvent takes ownership and is safe from any thread; the event is
  // dropped with the target if the target dies first.
  QCoreApplication::postEvent(target, event.release());
  return true;
}

TMessageMap::TMessageMap(QObject* target) : QObject(target) {
  if (target) target->installEventFilter(this);
}

void TMessageMap::On(UINT message, THandler handler) {
  m_handlers[message] = [h = std::move(handler)](TAppMessageEvent& e) {
    e.SetResult(h(e.WParam(), e.LParam()));
  };
}

void TMessageMap::OnEvent(UINT message, std::function<void(TAppMessageEvent&)> handler) {
  m_handlers[message] = std::move(handler);
}

bool TMessageMap::Has(UINT message) const { return m_handlers.count(message) != 0; }

bool TMessageMap::Dispatch(QEvent* event) {
  TAppMessageEvent* e = AsAppMessage(event);
  if (!e) return false;
  auto it = m_handlers.find(e->Message());
  if (it == m_handlers.end()) return false;
  e->SetHandled(true);
  it->second(*e);
  e->accept();
  return true;
}

bool TMessageMap::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parent() && Dispatch(event)) return true;
  return QObject::eventFilter(watched, event);
}

}  // namespace platform::qt
