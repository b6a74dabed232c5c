#pragma once
// The processing engine of a media document.
//
// CZarn drives the document's channel readers, its decoded-picture buffer
// and its video ports from worker threads. StartPlaying starts a session
// thread, which starts one process thread per playing channel (running the
// channel's reader), the tick thread and the pacing thread; the readers'
// frames come in through EngineFrameCallback / EngineOwnerCallback into the
// buffer, and the pacing thread takes them out into the ports at the pacing
// period, or replays cached frames while paused.
//
// Lifetime and threads:
//   - StartPlaying, PausePlaying, StopPlaying and the replay commands run on
//     the UI thread and never wait for a worker (StartPlaying joins only a
//     session thread that has already finished).
//   - The session thread joins the tick, pacing and process threads before
//     it frees anything; Shutdown (and the destructor) stops the session and
//     joins it, so nothing of the engine runs once it returns.
//   - The stop request is sticky for the whole session: every wait of every
//     engine thread ends on it, also a wait that begins after the request.
//     It is cleared only after every thread of the session has been joined.
//   - Every thread gets its start parameters by value.
//
// Shared state, grouped per channel in TEngineChannel; the owner rule of
// each field is written beside it (UI: the UI thread writes; P: the
// channel's producer, i.e. its process thread; D: the pacing thread's frame
// delivery; S: the session thread). Every field read by another thread is an
// atomic; the decoded-picture buffer's queues are shared under its hand-off
// lock.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "document/engine/engine_owner.h"
#include "document/engine/engine_sync.h"
#include "document/video_port.h"
#include "media/color_conversion.h"
#include "media/decoded_picture_buffer.h"
#include "media/frame_buffer.h"

namespace Zarn {

// ProcIDs: indices of the thread table and of the process slots.
enum TProcId : int {
  PROC_SESSION = 1,
  PROC_TICK = 14,
  PROC_PACE = 35,
  PROC_FTP = 36,
  PROC_LAYER_5 = 37,
  PROC_LAYER_6 = 38,
  PROC_CHANNEL_FIRST = 41,   // channel + 41
  PROC_RECORDER_FIRST = 45,  // channel + 45
  kProcIdCount = 49,
};

inline constexpr std::int32_t kFramesPerScene = 30;

struct TEngineChannel {
  // Selection and live settings (UI).
  std::atomic<bool> bPlayEnable{false};     // plays in the next session (default: channel 1 only)
  std::atomic<bool> bReplayEnable{false};   // takes part in replay
  std::atomic<bool> bReverseReplay{false};  // replays in the opposite direction
  std::atomic<bool> bChannelGo{true};       // set by the pacing thread when stopping
  std::atomic<bool> bRecordChannel{false};  // frames go to the channel's recorder
  // Frame reception counters (P; reset by S before the process starts).
  std::atomic<std::int32_t> nFrameCount{0};   // frames delivered, skipped ones included
  std::atomic<std::int32_t> nSceneCount{0};   // scenes opened
  std::atomic<std::int32_t> nSceneFrames{0};  // frames stored in the current scene
  std::atomic<std::int32_t> nSceneIndex{0};   // index of the current scene in the scene queue
  // What the controller pane shows (P while frames are skipped, D otherwise).
  std::atomic<std::int32_t> nShownFrame{0};
  std::atomic<std::int32_t> nShownSeconds{0};  // the pane's own (UI)
  // Frame delivery (D; reset by S).
  std::atomic<bool> bChannelIdle{false};
  std::atomic<std::int32_t> nFirstCached{0};
  std::atomic<std::int32_t> nLastCached{0};
  std::atomic<std::int32_t> nReplayTarget{0};
  // Process slot of the channel's reader (P, S, tick thread).
  std::atomic<bool> bSlotActive{false};
  std::atomic<bool> bSlotRunning{false};
  std::atomic<bool> bSlotStop{false};
  std::atomic<bool> bSlotEnd{false};
  // Process slot of the channel's recorder (tick thread, recorder).
  std::atomic<bool> bRecorderStop{false};
  std::atomic<bool> bRecorderEnd{false};
  // Streaming from a media graph or MNG source (P).
  std::atomic<bool> bChannelStreaming{false};
  // The frame period (100-ns units) of a file played by the media graph,
  // learnt from its frames' times and file indices; 0 until known. Kept
  // after the session for the readouts (P; cleared by the owner when the
  // channel opens another source).
  std::atomic<std::int64_t> nFilePeriod{0};
  // TMediaSourceState of the channel during and after a session (S).
  std::atomic<std::int32_t> nState{0};
  // Releases a producer waiting at its frame limit (resume, stop, seek).
  TChannelGate gate;
  // A frame marked as the first after a seek was stored while paused: the
  // pacing thread shows it at once (P sets, D clears).
  std::atomic<bool> bShowOnArrival{false};
  // Held by the pacing thread for each delivery or replay step of the
  // channel, so that a seek's flush (UI thread) never interleaves with one.
  std::mutex stepMutex;
  // The channel's reader for the session (S before the process starts).
  std::atomic<IChannelReader*> pReader{nullptr};
};

class CZarn {
 public:
  // Channel 1 plays and replays by default.
  CZarn() { SelectPrimaryChannel(); }
  CZarn(IEngineOwner* owner, VideoPortHub::CVideoPortHub* ports) : m_pOwner(owner), m_pPorts(ports) {
    SelectPrimaryChannel();
  }
  ~CZarn();
  CZarn(const CZarn&) = delete;
  CZarn& operator=(const CZarn&) = delete;

  // Links the owner and the ports (before the first session).
  void SetOwner(IEngineOwner* owner, VideoPortHub::CVideoPortHub* ports) {
    m_pOwner = owner;
    m_pPorts = ports;
  }

  // ---- commands (UI thread)

  // Idle: starts a session and answers true. Paused: resumes (every channel
  // waiting at its frame limit is released, the readers resumed) and answers
  // true. Otherwise nothing and false.
  bool StartPlaying();
  // Asks a running session to stop and returns at once.
  void StopPlaying();
  void PausePlaying();
  // Stops the session and joins it. Nothing of the engine runs afterwards.
  void Shutdown();

  // Replay while paused; consumed by the pacing thread.
  void StepNext() { m_bStepNext.store(true); }
  void StepPrevious() { m_bStepPrevious.store(true); }
  void GoFirst() { m_bGoFirst.store(true); }
  void GoLast() { m_bGoLast.store(true); }
  void SetReplayForth(bool on) { m_bReplayForth.store(on); }
  void SetReplayBack(bool on) { m_bReplayBack.store(on); }

  // A seek of a playing channel (UI thread), called before the reader is
  // sought: frames of the channel cached and not shown yet are dropped, a
  // producer of the channel that waits for room or at its frame limit is
  // released (its frame is dropped), the replay window starts again at the
  // next frame stored, and every frame that arrives is dropped until one
  // marked as the first after the seek (bDiscontinuity). That one is shown
  // next; while paused it is shown as soon as it is stored. Returns after
  // any delivery step of the channel in progress has ended, so nothing
  // cached before the call is shown after it.
  void FlushChannel(int channel);

  // Which channels play in the next session (the Channel Selector).
  void SetPlayChannels(const bool enable[kEngineChannels]);

  // The engine's status text, which the controller pane's info line shows:
  // the last fault the engine reported, cleared when a session starts. Any
  // thread may write it (a change asks for a full controller update); the
  // UI thread reads it.
  std::string StatusText() const;
  void SetStatusText(const std::string& text);

  bool IsRunning() const { return m_bRunning.load(); }
  bool StopRequested() const { return m_bStopRequested.load(); }
  bool IsPaused() const { return m_bPaused.load(); }

  // The update bits pending since the last call (UI thread, on the owner's
  // PostEngineUpdate).
  std::uint32_t TakePendingUpdates() { return m_nPendingUpdates.exchange(0); }

  // The pacing thread's delay in ms: 5 while stopping or while a media graph
  // or MNG source plays unpaused; otherwise ((max - speed + 10) / 10)
  // periods, at least one.
  static std::int32_t PacingDelay(std::int32_t speed, std::int32_t speedMax, std::int32_t period,
                                  bool streaming, bool paused, bool stopping);

  // True when some channel is open, loaded and of a playable file format.
  static bool HasPlayableChannel(const ZarnTypes::TMediaSource* sources, const bool* loaded);

  // ---- frame reception (producer threads)

  static bool EngineOwnerCallback(void* context, ZarnTypes::TMediaNotify code,
                                  const ZarnTypes::TMediaSender* sender, void* data);
  static bool EngineFrameCallback(ZarnTypes::TMediaSenderKind kind, ZarnTypes::TSourcePurpose purpose,
                                  std::int32_t procId, void* context, ZarnTypes::TMediaFrameNotice* frame);
  // The buffer slot a channel's raw YUV frame is read straight into (null:
  // the reader keeps it and the buffer copies it).
  static std::uint8_t* EngineSlotCallback(void* context, std::int32_t procId,
                                          const ZarnTypes::TYuvFrameBuffer& layout);
  bool OnMediaNotify(ZarnTypes::TMediaNotify code, const ZarnTypes::TMediaSender* sender, void* data);
  bool DeliverFrame(std::int32_t kind, std::int32_t purpose, std::int32_t procId,
                    const ZarnTypes::TMediaFrameNotice* frame);
  bool DeliverFrameToDpb(int channel, int procId, const ZarnTypes::TMediaFrameNotice& frame);
  bool DeliverDecoderFrame(int procId, const ZarnTypes::TMediaFrameNotice& frame);
  // Hands a stored frame to the owner's recorder of the channel, as
  // bottom-up rows (producer thread).
  void PushRecordedFrame(int channel, int procId, const ZarnTypes::TMediaFrameNotice& frame);

  // ---- frame delivery (pacing thread)

  // One pacing step of a channel: the next cached frame into the channel's
  // port; while stopping, frames are consumed without drawing. False when
  // the channel has no scene storage or the conversion failed.
  bool DeliverChannelFrame(int channel, std::int32_t* shownCounter, bool stopping);
  // Moves the channel's replay target by step (-1, 0, +1) over the slots
  // that hold whole frames and shows that frame.
  bool ReplayChannelFrame(int channel, int step);
  // First: the oldest frame the channel's buffer holds now; last: the frame
  // shown last while playing. Shown as a replay step of 0.
  bool GoToChannelFrame(int channel, bool first);
  // The decoder layer: its next cached frame into channel 1's port, and one
  // step of replay into the port of the channel pane 1 shows. Delivery gives
  // false without a message when the layer has no frame storage, and false
  // with "Video data were not processed" when its frame cannot be shown; a
  // replay step shows that message in both cases.
  bool DeliverLayerFrame();
  bool StepLayerFrame(bool forwards, int channel);

  // True when the channel's cache holds no frame that was not shown yet
  // (looked at under the hand-off lock; also sets the channel's idle flag).
  bool ChannelCacheShown(int channel);

  // ---- state shared with the document and the panes

  std::atomic<bool> m_bRunning{false};
  std::atomic<bool> m_bStopRequested{false};
  std::atomic<bool> m_bPaused{false};
  std::atomic<bool> m_bStreaming{false};  // m_bAnyStreaming: some channel plays a media graph or MNG
  std::atomic<bool> m_bStepNext{false}, m_bStepPrevious{false};
  std::atomic<bool> m_bReplayForth{false}, m_bReplayBack{false};
  std::atomic<bool> m_bGoFirst{false}, m_bGoLast{false};
  // A step or go-to request is taken (its flag cleared) before it is carried
  // out, so one asked for meanwhile is kept for the next round; this flag is
  // set from before the take until the picture is shown.
  std::atomic<bool> m_bReplayBusy{false};
  // No step or go-to request is waiting or being carried out.
  bool ReplayRequestsDone() const {
    return !m_bStepNext.load() && !m_bStepPrevious.load() && !m_bGoFirst.load() && !m_bGoLast.load() &&
           !m_bReplayBusy.load();
  }
  std::atomic<bool> m_bPacerRunning{false};
  std::atomic<bool> m_bSourceFinished{false};
  std::atomic<bool> m_bRepeatSession{false};
  std::atomic<bool> m_bLayerIdle{false};
  std::atomic<bool> m_bProcessStarted{false};
  std::atomic<bool> m_bRecording{false};  // the document's recording switch (UI)
  std::atomic<std::int32_t> m_nSpeed{0};  // speed slider 10..100 (UI)
  std::atomic<std::int32_t> m_nSpeedMax{0};
  std::atomic<std::int32_t> m_nJobCount{0};  // running channel processes and recorder jobs
  std::atomic<std::int32_t> m_nServerJobCount{0}, m_nClientJobCount{0};
  std::atomic<std::int32_t> m_nLayerSlot{0};
  std::atomic<std::int32_t> m_nFramesPerScene{kFramesPerScene};
  std::atomic<std::int32_t> m_nFramesTotal{0};
  std::atomic<void*> m_ThreadTable[kProcIdCount] = {};
  TEngineChannel m_Channel[kEngineChannels];

  // The replay cache. Formats and capacity are set by the document while
  // no session runs.
  OOVDecodedPictureBuffer::COOVDecodedPictureBuffer m_Dpb;

 private:
  struct TSessionStart {
    TSessionConfig config;
    bool playing[kEngineChannels] = {};
  };
  struct TProcessStart {
    int channel = 0;
    int procId = 0;
    IChannelReader* reader = nullptr;
    ZarnTypes::TMediaSource source;
    ZarnTypes::TMediaSenderKind kind = ZarnTypes::MEDIA_SENDER_NONE;
  };

  void SessionThreadProc(TSessionStart start);
  void RunSession(const TSessionStart& start);
  // The process of a still-image, sequence or raw-YUV channel (below
  // normal priority) and of a media-graph or MNG channel (normal priority;
  // no process and false for any other stream type).
  bool StartDecoder(const TSessionStart& start, int channel, std::vector<std::thread>& threads);
  bool StartMediaDecoder(const TSessionStart& start, int channel, std::vector<std::thread>& threads);
  bool StartChannelProcess(const TSessionStart& start, int channel, bool media,
                           std::vector<std::thread>& threads);
  void ProcessThreadProc(TProcessStart start);
  void TickThreadProc(TSessionStart start);
  void PaceThreadProc(TSessionStart start);
  void SelectPrimaryChannel() {
    m_Channel[0].bPlayEnable.store(true);
    m_Channel[0].bReplayEnable.store(true);
  }
  void RequestStopAll();
  void ClearStopAll();
  void RequestUpdate(std::uint32_t bits);
  // A fault of the engine: becomes the status text and is shown.
  void ReportFault(const std::string& text);
  bool ShowSlot(int channel, const ZarnTypes::TVideoFrame& frame);
  bool ShowLayerFrame(int channel, const std::uint8_t* data);
  bool ReplayStep(const TSessionStart& start, int step);
  enum TReplayGoal { REPLAY_STEP, REPLAY_FIRST, REPLAY_LAST };
  bool ReplayTo(int channel, int step, TReplayGoal goal);

  IEngineOwner* m_pOwner = nullptr;
  VideoPortHub::CVideoPortHub* m_pPorts = nullptr;
  std::thread m_SessionThread;
  TStopClock m_StopClock;
  std::atomic<std::uint32_t> m_nPendingUpdates{0};
  std::atomic<bool> m_bClientSession{false};
  // The session's network role runs (a decoder set-up): its processes end
  // with the role; otherwise a stop raises the readers' stop flags.
  std::atomic<bool> m_bNetworkRole{false};
  // True when a stop raises the readers' stop flags (not a client decoder
  // whose network role runs).
  bool StopsReaders() const { return !m_bClientSession.load() || !m_bNetworkRole.load(); }
  // Frames stored so far, with a condition the pacing thread waits on when it
  // runs without a period and found nothing to show.
  std::mutex m_ArrivalMutex;
  std::condition_variable m_Arrival;
  std::uint64_t m_nArrivals = 0;
  // The arrival count that wakes the waiting pacing thread (UINT64_MAX
  // while it does not wait: stored frames then wake nobody).
  std::uint64_t m_nWakeAt = UINT64_MAX;
  std::atomic<bool> m_bFrameInfo{false};
  mutable std::mutex m_StatusMutex;
  std::string m_strStatus;  // under m_StatusMutex
  // Pacing thread only: conversion targets, one per channel.
  ZarnTypes::TFrameBuffer m_ChannelFrame[kEngineChannels] = {};
  // Each channel's producer only: a recorded top-down frame, turned over.
  ZarnTypes::TFrameBuffer m_RecordRows[kEngineChannels] = {};
  ImageColorConversion::CImageColorConversion m_ColorConversion;
};

}  // namespace Zarn
