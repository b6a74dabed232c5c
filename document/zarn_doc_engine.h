#pragma once
// The document's side of the engine: the owner interface the Qt-free engine
// calls from its worker threads, implemented with posted events that the UI
// thread turns into the controller pane's and the panes' messages. No engine
// thread ever waits for the UI thread.

#include <QObject>

#include <memory>

#include "document/engine/engine_owner.h"
#include "io/read_stream.h"

namespace ZarnDoc {

class CZarnDoc;

class CZarnDocEngineLink : public QObject, public Zarn::IEngineOwner {
 public:
  // Links the document's engine to this owner and the document's ports.
  explicit CZarnDocEngineLink(CZarnDoc* document);
  // Stops the engine's session and joins it: nothing of the engine calls
  // the document once the link is gone.
  ~CZarnDocEngineLink() override;

  // The channel's reader (channel 0..3). The document's loaders describe
  // the source to it; the engine binds and runs it while a session plays.
  ReadStream::CReadStream& Reader(int channel) { return *m_pReadStream[Clamp(channel)]; }
  // Replaces how the engine reaches a channel's reader (null: the channel
  // has none); refused while a session runs.
  void SetChannelReader(int channel, std::unique_ptr<Zarn::IChannelReader> reader);

  // ---- Zarn::IEngineOwner
  void GetSessionConfig(Zarn::TSessionConfig& config) override;
  Zarn::IChannelReader* ChannelReader(int channel) override;
  void PostEngineUpdate() override;
  void PostTimeTick() override;
  void PostChannelSlider(int channel) override;
  void PostSessionEnded() override;
  void DecodedFrameShown(std::int32_t frameNumber, const std::uint8_t* yuv420, std::int32_t width,
                         std::int32_t height) override;
  void FrameShown(int channel, std::int32_t frameNumber) override;
  void PrepareRecorders() override;
  void CloseRecorders() override;
  // The recorders' frame pipeline: a channel's stored frames go into its
  // recorder (producer thread), and its writer job takes them out (writer
  // thread).
  void PushRecordedFrame(int channel, int procId, const ZarnTypes::TMediaFrameNotice& frame) override;
  bool PullRecordFrame(int channel, const ZarnTypes::TMediaSender* sender, void* data) override;

  // The events the engine's notices become (QEvent::User + n).
  enum TEngineEvent : int { EV_UPDATE = 1, EV_TIME_TICK = 2, EV_CHANNEL_SLIDER = 3, EV_SESSION_ENDED = 4 };

 protected:
  void customEvent(QEvent* event) override;

 private:
  void Post(TEngineEvent kind, int channel);
  static int Clamp(int channel) {
    return channel < 0 ? 0 : channel >= Zarn::kEngineChannels ? Zarn::kEngineChannels - 1 : channel;
  }

  CZarnDoc* m_pDocument;
  std::unique_ptr<ReadStream::CReadStream> m_pReadStream[Zarn::kEngineChannels];
  std::unique_ptr<Zarn::IChannelReader> m_pReader[Zarn::kEngineChannels];
};

}  // namespace ZarnDoc
