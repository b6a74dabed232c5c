#include "document/zarn_doc_engine.h"

#include <QCoreApplication>
#include <QEvent>

#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "platform/qt/app_messages.h"

namespace ZarnDoc {

namespace pq = platform::qt;
using Zarn::kEngineChannels;

namespace {

// One posted notice of the engine: its kind and, for the slider, the channel.
class TEngineNotice : public QEvent {
 public:
  TEngineNotice(int kind, int channel)
      : QEvent(static_cast<QEvent::Type>(QEvent::User + kind)), m_nChannel(channel) {}
  int Channel() const { return m_nChannel; }

 private:
  int m_nChannel;
};

}  // namespace

CZarnDocEngineLink::CZarnDocEngineLink(CZarnDoc* document) : m_pDocument(document) {
  for (int ch = 0; ch < kEngineChannels; ++ch) {
    m_pReadStream[ch] = std::make_unique<ReadStream::CReadStream>(ch);
    m_pReader[ch] = std::make_unique<Zarn::CReadStreamChannel>(m_pReadStream[ch].get());
  }
  document->m_Engine.SetOwner(this, &document->m_VideoPortHub);
}

CZarnDocEngineLink::~CZarnDocEngineLink() {
  m_pDocument->m_Engine.Shutdown();
  m_pDocument->m_Engine.SetOwner(nullptr, nullptr);
}

void CZarnDocEngineLink::SetChannelReader(int channel, std::unique_ptr<Zarn::IChannelReader> reader) {
  if (channel < 0 || channel >= kEngineChannels || m_pDocument->m_Engine.IsRunning()) return;
  m_pReader[channel] = std::move(reader);
}

void CZarnDocEngineLink::GetSessionConfig(Zarn::TSessionConfig& config) {
  const CZarnDoc& doc = *m_pDocument;
  for (int ch = 0; ch < kEngineChannels; ++ch) config.source[ch] = doc.m_Source[ch];
  config.nCtrlPeriod = doc.ch_nDecoderCtrlPeriod;
  config.nVideoOutPeriod = doc.ch_nDecoderVideoOutPeriod;
  config.nVideoOutDelay = doc.ch_nDecoderVideoOutDelay;
  config.nRequestToStopPeriod = doc.ch_nDecoderRequestToStopPeriod;
  config.bDecoderMpeg2 = doc.ch_bEnableDecoderMpeg2;
  config.bDecoderH264 = doc.ch_bEnableDecoderH264;
  config.bSocketServClient = doc.ch_bEnableSocketServClient;
  for (int ch = 0; ch < kEngineChannels; ++ch) {
    config.bProcess[ch] = doc.ch_bEnableProcess[ch];
    config.bClientProcess[ch] = doc.ch_bEnableClientProcess[ch];
  }
  config.bIsServerDecoder = doc.ch_bIsServerDecoder;
  config.bIsClientDecoder = doc.ch_bIsClientDecoder;
  config.bFtpSource = doc.ch_bEnableFtpSource;
  config.nDelayFtpBuffer = doc.ch_nDelayFtpBuffer;
  for (int pane = 0; pane < kEngineChannels; ++pane) config.nPaneChannel[pane] = doc.m_nPaneChannel[pane];
  config.bFrameInfo = doc.m_bVideoInfo[0] != 0;  // the video page's "Enable frame index and time info"
  // The recorders' numbers and settings for the session, handed to the
  // session thread by value.
  RecordWriter::TRecordStart recording;
  m_pDocument->MakeRecordStart(recording);
  m_pDocument->m_RecordWriter.SetSessionStart(recording);
  // The writer threads never ask the UI for their settings: each recorder
  // takes a copy now, with whether its channel is live (a capture device
  // drops frames the writer cannot take rather than hold up its graph).
  for (int ch = 0; ch < kEngineChannels; ++ch)
    m_pDocument->m_Recorder[static_cast<std::size_t>(ch)].HandOverSessionSettings(
        doc.m_Source[ch].eStreamType == ZarnTypes::ST_SYSTEM_DEVICE);
}

void CZarnDocEngineLink::PushRecordedFrame(int channel, int procId,
                                           const ZarnTypes::TMediaFrameNotice& frame) {
  if (channel < 0 || channel >= kEngineChannels) return;
  m_pDocument->m_Recorder[static_cast<std::size_t>(channel)].PushFrame(procId, &frame);
}

bool CZarnDocEngineLink::PullRecordFrame(int channel, const ZarnTypes::TMediaSender* sender, void* data) {
  if (channel < 0 || channel >= kEngineChannels) return false;
  return m_pDocument->m_Recorder[static_cast<std::size_t>(channel)].PullFrame(
      sender, static_cast<ZarnTypes::TDataFrame*>(data));
}

Zarn::IChannelReader* CZarnDocEngineLink::ChannelReader(int channel) {
  return channel >= 0 && channel < kEngineChannels ? m_pReader[channel].get() : nullptr;
}

void CZarnDocEngineLink::Post(TEngineEvent kind, int channel) {
  QCoreApplication::postEvent(this, new TEngineNotice(kind, channel));
}

void CZarnDocEngineLink::PostEngineUpdate() { Post(EV_UPDATE, 0); }
void CZarnDocEngineLink::PostTimeTick() { Post(EV_TIME_TICK, 0); }
void CZarnDocEngineLink::PostChannelSlider(int channel) { Post(EV_CHANNEL_SLIDER, channel); }
void CZarnDocEngineLink::PostSessionEnded() { Post(EV_SESSION_ENDED, 0); }

void CZarnDocEngineLink::customEvent(QEvent* event) {
  const int kind = event->type() - QEvent::User;
  const int channel = static_cast<TEngineNotice*>(event)->Channel();
  CZarnDoc& doc = *m_pDocument;
  QObject* controller = doc.ControllerView();
  switch (kind) {
    case EV_UPDATE: {
      const std::uint32_t bits = doc.m_Engine.TakePendingUpdates();
      bool shown = false;
      for (int ch = 0; ch < kEngineChannels; ++ch) {
        if (bits & (Zarn::ENGINE_UPDATE_RESCALE_0 << ch))
          doc.RefreshChannelPanes(ch, true);
        else if (bits & (Zarn::ENGINE_UPDATE_REPAINT_0 << ch))
          doc.RefreshChannelPanes(ch, false);
        else
          continue;
        shown = true;
      }
      // A new picture in a channel moves the controller's counter, time and
      // position with it.
      if (controller && (bits & Zarn::ENGINE_UPDATE_EVERYTHING))
        pq::SendAppMessage(controller, pq::WM_APP_CONTROLLER_UPDATE, 3, 0);
      else if (controller && (shown || (bits & Zarn::ENGINE_UPDATE_COUNTERS)))
        pq::SendAppMessage(controller, pq::WM_APP_CONTROLLER_UPDATE, 1, 0);
      break;
    }
    case EV_TIME_TICK:
      if (controller) pq::SendAppMessage(controller, pq::WM_APP_TIME_TICK, 0, 0);
      break;
    case EV_CHANNEL_SLIDER:
      if (controller)
        pq::SendAppMessage(controller, pq::WM_APP_CHANNEL_SLIDER, static_cast<pq::WPARAM>(channel), 3);
      break;
    case EV_SESSION_ENDED:
      if (controller) pq::SendAppMessage(controller, pq::WM_APP_CONTROLLER_UPDATE, 3, 0);
      break;
    default: QObject::customEvent(event);
  }
}

}  // namespace ZarnDoc
