#pragma once
// What the engine needs of its owner (the media document) and of the
// channel readers. The engine links no Qt: the document implements these
// interfaces and turns the notices into posted events for the UI thread.
//
// Threads. GetSessionConfig and ChannelReader are called on the UI thread
// from CZarn::StartPlaying. Every Post* and every hook is called from the
// engine's worker threads (session, tick, pacing, channel processes) and
// must return at once: it may post, never wait for the UI thread.

#include <cstdint>
#include <string>

#include "io/media_request.h"
#include "io/read_stream.h"
#include "media/media_source.h"

namespace Zarn {

inline constexpr int kEngineChannels = 4;

// One channel's reader as the engine drives it (CReadStream, or a stand-in).
class IChannelReader {
 public:
  virtual ~IChannelReader() = default;
  // Session thread, before the channel's process starts: binds the source.
  virtual bool SetSource(int channel, const ZarnTypes::TMediaSource& source) = 0;
  // The channel's process thread, before Run.
  virtual void SetDelivery(const ReadStream::TReaderDelivery& delivery) = 0;
  // Plays the source in the calling thread until it ends, stops or fails.
  virtual bool Run() = 0;
  // Media-graph and MNG sources; any thread while Run is in progress.
  virtual void Pause() = 0;
  virtual void Resume() = 0;
  virtual void Stop() = 0;
  // The channel's frame range (first frame, frame limit); read live.
  virtual std::int32_t GetFirstFrame() const = 0;
  virtual std::int32_t GetFrameLimit() const = 0;
};

// The engine's adapter over the document's CReadStream.
class CReadStreamChannel final : public IChannelReader {
 public:
  explicit CReadStreamChannel(ReadStream::CReadStream* reader) : m_pReader(reader) {}
  bool SetSource(int channel, const ZarnTypes::TMediaSource& source) override;
  void SetDelivery(const ReadStream::TReaderDelivery& delivery) override;
  bool Run() override;
  void Pause() override;
  void Resume() override;
  void Stop() override;
  std::int32_t GetFirstFrame() const override;
  std::int32_t GetFrameLimit() const override;

 private:
  ReadStream::CReadStream* m_pReader;
};

// The settings a session runs with, copied on the UI thread when it starts
// (strings included), so that no worker reads the document's records.
struct TSessionConfig {
  ZarnTypes::TMediaSource source[kEngineChannels];
  std::int32_t nCtrlPeriod = 33;             // ch_nDecoderCtrlPeriod, ms
  std::int32_t nVideoOutPeriod = 33;         // ch_nDecoderVideoOutPeriod, ms
  std::int32_t nVideoOutDelay = 1000;        // ch_nDecoderVideoOutDelay, ms
  std::int32_t nRequestToStopPeriod = 2000;  // ch_nDecoderRequestToStopPeriod, ms (held, not read)
  bool bDecoderMpeg2 = true;                 // ch_bEnableDecoderMpeg2: channel frames are delivered
  bool bDecoderH264 = false;                 // ch_bEnableDecoderH264: the decoder layer is delivered
  bool bSocketServClient = false;            // ch_bEnableSocketServClient
  bool bProcess[kEngineChannels] = {true, true, false, false};  // ch_bEnableProcess_00..03 (held, not read)
  bool bClientProcess[kEngineChannels] = {};                    // ch_bEnableClientProcess_00..03
  bool bIsServerDecoder = false;
  bool bIsClientDecoder = false;
  bool bFtpSource = false;  // ch_bEnableFtpSource
  std::int32_t nDelayFtpBuffer = 0;
  bool bFrameInfo = false;                                    // "Enable frame index and time info"
  std::int32_t nPaneChannel[kEngineChannels] = {0, 1, 2, 3};  // the channel each pane shows
};

// Bits of the coalesced update notice (CZarn::TakePendingUpdates).
enum TEngineUpdate : std::uint32_t {
  ENGINE_UPDATE_COUNTERS = 1u << 0,    // WM_APP_CONTROLLER_UPDATE 1
  ENGINE_UPDATE_EVERYTHING = 1u << 1,  // WM_APP_CONTROLLER_UPDATE 3
  ENGINE_UPDATE_REPAINT_0 = 1u << 4,   // + channel: repaint the channel's panes
  ENGINE_UPDATE_RESCALE_0 = 1u << 8,   // + channel: rescale them (the picture's size changed)
};

class IEngineOwner {
 public:
  virtual ~IEngineOwner() = default;

  // ---- UI thread, from StartPlaying
  virtual void GetSessionConfig(TSessionConfig& config) = 0;
  // The channel's reader, or null when the channel has none.
  virtual IChannelReader* ChannelReader(int channel) = 0;

  // ---- worker threads: post and return
  // Some TEngineUpdate bits became pending; the UI thread takes them with
  // CZarn::TakePendingUpdates. Not called again until they are taken.
  virtual void PostEngineUpdate() = 0;
  virtual void PostTimeTick() = 0;                  // WM_APP_TIME_TICK
  virtual void PostChannelSlider(int channel) = 0;  // WM_APP_CHANNEL_SLIDER (channel, 3)
  virtual void PostSessionEnded() = 0;              // the session has ended (m_bRunning is clear)

  // ---- hooks for the parts that come with their own features; defaults
  // do nothing, so a session without them runs as a plain player.
  // Pacing thread, after a frame of a channel was shown while playing
  // (not while replaying): the recording writer's turn.
  virtual void FrameShown(int /*channel*/, std::int32_t /*frameNumber*/) {}
  // Pacing thread, after a decoded layer frame was shown in a channel's
  // port: the planar 4:2:0 picture (top row first, valid only during the
  // call) and channel 0's shown-frame number. The owner writes it out while
  // saving decoded frames is switched on.
  virtual void DecodedFrameShown(std::int32_t /*frameNumber*/, const std::uint8_t* /*yuv420*/,
                                 std::int32_t /*width*/, std::int32_t /*height*/) {}
  // Pacing thread, after a cached frame was shown again by a replay command.
  virtual void FrameReplayed(int /*channel*/, std::int32_t /*frameNumber*/) {}
  // A channel process, for each stored frame of a channel whose record flag is set.
  virtual void PushRecordedFrame(int /*channel*/, int /*procId*/,
                                 const ZarnTypes::TMediaFrameNotice& /*frame*/) {}
  // Session thread: opens the selected recorders at the start, closes them at the end.
  virtual void PrepareRecorders() {}
  virtual void CloseRecorders() {}
  // Session thread: the network role of a decoder set-up and the FTP input.
  // False ends the session before any channel process starts.
  virtual bool StartNetworkRole(const TSessionConfig& /*config*/) { return true; }
  virtual void PollNetworkRole(bool /*stopping*/) {}
  virtual void StopNetworkRole() {}
  virtual bool StartFtpInput(const TSessionConfig& /*config*/) { return true; }
  // Session thread, at the end: temporary files, device capability bytes.
  virtual void SessionTornDown() {}
  // Owner-callback notices routed to the document.
  virtual bool DeviceKindDetected(int /*channel*/, void* /*data*/) { return false; }
  virtual bool VideoWindowRequest(int /*channel*/, void* /*data*/) { return false; }
  virtual bool PullRecordFrame(int /*channel*/, const ZarnTypes::TMediaSender* /*sender*/, void* /*data*/) {
    return false;
  }
  virtual bool SetGrabbedYuvFrame(const ZarnTypes::TMediaFrameNotice& /*frame*/) { return false; }
};

}  // namespace Zarn
