#include "document/engine/zarn.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "io/read_stream.h"
#include "platform/message_sink.h"

namespace Zarn {

using namespace ZarnTypes;

namespace {

std::string Format(const char* pattern, int value) {
  char text[160];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

// Thread priorities as niceness above the process's: "below normal" and
// "idle". Idle stays well short of 19 so that a thread others wait on (the
// tick thread ends the session) never starves.
enum TNiceness : int { NICE_NORMAL = 0, NICE_BELOW_NORMAL = 2, NICE_IDLE = 8 };

void SetThreadNiceness(int delta) {
  if (delta <= 0) return;
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  errno = 0;
  const int current = getpriority(PRIO_PROCESS, tid);
  if (errno != 0) return;
  setpriority(PRIO_PROCESS, tid, current + delta);  // may fail without harm
}

bool InList(std::int32_t v, std::initializer_list<std::pair<int, int>> ranges) {
  for (const auto& r : ranges)
    if (v >= r.first && v <= r.second) return true;
  return false;
}

// File formats a session can play (HasPlayableChannel).
bool IsPlayableFileFormat(std::int32_t f) {
  return InList(f, {{2, 6}, {8, 15}, {19, 21}, {27, 27}, {37, 39}, {41, 44}, {46, 94}});
}
// File formats that end the session before any process starts.
bool IsUnplayableFileFormat(std::int32_t f) {
  return InList(f, {{7, 7}, {16, 18}, {22, 26}, {28, 36}, {40, 40}, {45, 45}});
}
// Stream types whose frames the buffer caches.
bool IsCachedStreamType(std::int32_t t) {
  return InList(t, {{2, 6}, {8, 15}, {19, 21}, {26, 26}, {36, 37}, {40, 44}, {46, 46}, {53, 94}});
}
using ReadStream::IsMediaGraphType;  // their readers are paused and stopped directly

// Sender kind a channel reader reports with, by stream type; NONE: no process.
TMediaSenderKind SenderKindOf(std::int32_t t) {
  if (IsMediaGraphType(t)) return MEDIA_SENDER_DSHOW;
  if (t == 15) return MEDIA_SENDER_MNG;
  if (t == 37) return MEDIA_SENDER_JPEG;
  if (t >= 40 && t <= 42) return MEDIA_SENDER_JPEG2000;
  if (t == 43) return MEDIA_SENDER_PNG;
  if (t == 36) return MEDIA_SENDER_GIF;
  if (t == 44) return MEDIA_SENDER_TIFF;
  if (t >= 46 && t <= 94) return MEDIA_SENDER_STILLS;
  if (t == 26) return MEDIA_SENDER_BMP;
  return MEDIA_SENDER_NONE;
}

}  // namespace

// ---------------------------------------------------------------------------
// Commands

CZarn::~CZarn() {
  Shutdown();
  for (TFrameBuffer& frame : m_ChannelFrame) FreeFrameBuffer(&frame);
  for (TFrameBuffer& frame : m_RecordRows) FreeFrameBuffer(&frame);
}

void CZarn::SetPlayChannels(const bool enable[kEngineChannels]) {
  for (int ch = 0; ch < kEngineChannels; ++ch) m_Channel[ch].bPlayEnable.store(enable[ch]);
}

bool CZarn::HasPlayableChannel(const TMediaSource* sources, const bool* loaded) {
  for (int ch = 0; ch < kEngineChannels; ++ch)
    if (sources[ch].bOpen && loaded[ch] && IsPlayableFileFormat(sources[ch].eFileFormat)) return true;
  return false;
}

void CZarn::RequestStopAll() {
  m_bStopRequested.store(true);
  // The readers' loops end on their stop flags (a client decoder's
  // processes end with its network role instead, while that runs).
  if (StopsReaders())
    for (TEngineChannel& channel : m_Channel)
      if (channel.bSlotActive.load()) channel.bSlotStop.store(true);
  // The recorders' input ends with the readers': their writers take what
  // their pipelines still hold, finish their files and end, so the session
  // never waits on a writer.
  for (TEngineChannel& channel : m_Channel) channel.bRecorderStop.store(true);
  m_StopClock.RequestStop();
  m_Dpb.RequestStop();
  for (TEngineChannel& channel : m_Channel) channel.gate.RequestStop();
}

void CZarn::ClearStopAll() {
  m_StopClock.ClearStop();
  m_Dpb.ClearStop();
  for (TEngineChannel& channel : m_Channel) channel.gate.ClearStop();
  m_bStopRequested.store(false);
}

bool CZarn::StartPlaying() {
  if (m_bRunning.load()) {
    if (!m_bPaused.load() || m_bStopRequested.load()) return false;
    m_bPaused.store(false);
    // Every producer held at its frame limit goes on by one frame.
    for (TEngineChannel& channel : m_Channel) channel.gate.Pulse();
    for (TEngineChannel& channel : m_Channel)
      if (IChannelReader* reader = channel.pReader.load()) reader->Resume();
    return true;
  }
  // A finished session's thread has cleared the running flag as its last
  // step; joining it here waits for nothing but its return.
  if (m_SessionThread.joinable()) m_SessionThread.join();
  if (!m_pOwner) return false;

  TSessionStart start;
  m_pOwner->GetSessionConfig(start.config);
  for (int ch = 0; ch < kEngineChannels; ++ch) {
    TEngineChannel& channel = m_Channel[ch];
    const TMediaSource& source = start.config.source[ch];
    start.playing[ch] = source.bOpen && source.bLoaded && channel.bPlayEnable.load();
    channel.pReader.store(start.playing[ch] ? m_pOwner->ChannelReader(ch) : nullptr);
    // The buffer takes the channel's frame layout from its source.
    if (start.playing[ch] && source.eFramePixelFormat != 0 && source.nWidth > 0 && source.nHeight > 0) {
      m_Dpb.m_ePixelFormat[ch] = source.eFramePixelFormat;
      m_Dpb.m_nWidth[ch] = source.nWidth;
      m_Dpb.m_nHeight[ch] = source.nHeight;
    }
  }
  ClearStopAll();
  SetStatusText({});
  m_bClientSession.store(start.config.bIsClientDecoder);
  m_bFrameInfo.store(start.config.bFrameInfo);
  m_bPaused.store(false);
  m_bRunning.store(true);
  m_SessionThread = std::thread(&CZarn::SessionThreadProc, this, std::move(start));
  return true;
}

void CZarn::StopPlaying() {
  if (!m_bRunning.load()) return;
  RequestStopAll();
  m_bPaused.store(false);
  for (TEngineChannel& channel : m_Channel) {
    IChannelReader* reader = channel.pReader.load();
    if (reader) reader->Stop();
  }
}

void CZarn::PausePlaying() {
  if (!m_bRunning.load()) return;
  m_bPaused.store(true);
  for (TEngineChannel& channel : m_Channel)
    if (IChannelReader* reader = channel.pReader.load()) reader->Pause();
}

void CZarn::Shutdown() {
  if (m_bRunning.load()) StopPlaying();
  if (m_SessionThread.joinable()) m_SessionThread.join();
}

void CZarn::RequestUpdate(std::uint32_t bits) {
  if (m_nPendingUpdates.fetch_or(bits) == 0 && m_pOwner) m_pOwner->PostEngineUpdate();
}

std::string CZarn::StatusText() const {
  std::lock_guard<std::mutex> lock(m_StatusMutex);
  return m_strStatus;
}

void CZarn::SetStatusText(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(m_StatusMutex);
    if (m_strStatus == text) return;
    m_strStatus = text;
  }
  RequestUpdate(ENGINE_UPDATE_EVERYTHING);
}

void CZarn::ReportFault(const std::string& text) {
  SetStatusText(text);
  platform::ShowMessage(text);
}

// ---------------------------------------------------------------------------
// The session

void CZarn::SessionThreadProc(TSessionStart start) {
  // The session thread keeps the priority it was created with: on Linux a
  // new thread inherits its creator's niceness, and an unprivileged thread
  // can never lower it again, so an idle session thread would make every
  // process and the pacing thread idle too. It waits in joins nearly all
  // its life, so its priority costs nothing.
  m_ThreadTable[PROC_SESSION].store(this);
  do {
    RunSession(start);
  } while (m_bRepeatSession.load() && !m_bStopRequested.load());
  m_ThreadTable[PROC_SESSION].store(nullptr);
  m_bRunning.store(false);
  if (m_pOwner) m_pOwner->PostSessionEnded();
}

void CZarn::RunSession(const TSessionStart& start) {
  m_bRepeatSession.store(false);
  const TSessionConfig& config = start.config;
  bool playing[kEngineChannels];
  for (int ch = 0; ch < kEngineChannels; ++ch) playing[ch] = start.playing[ch];
  if (!HasPlayableChannel(config.source, playing)) return;

  std::vector<std::thread> processes;
  std::thread tick;
  std::thread pace;
  bool networkRole = false;
  bool buffersReady = false;

  auto teardown = [&] {
    // The tick thread ends the session; when it never started (a failure
    // after some processes started) the processes are stopped here. Every
    // thread of the session is joined before anything is freed.
    if (tick.joinable())
      tick.join();
    else if (!processes.empty())
      RequestStopAll();
    if (pace.joinable()) pace.join();
    for (std::thread& t : processes)
      if (t.joinable()) t.join();
    for (int ch = 0; ch < kEngineChannels; ++ch) {
      if (playing[ch] && m_Channel[ch].nState.load() == SOURCE_STATE_RUNNING)
        m_Channel[ch].nState.store(SOURCE_STATE_LOADED);
      m_Channel[ch].bSlotActive.store(false);
    }
    RequestUpdate(ENGINE_UPDATE_EVERYTHING);
    if (networkRole && m_pOwner) m_pOwner->StopNetworkRole();
    m_bNetworkRole.store(false);
    // The frame memory stays for the next session while its sizes hold.
    if (buffersReady) m_Dpb.EndSession();
    if (m_pOwner) m_pOwner->SessionTornDown();
    m_bStreaming.store(false);
    m_bPacerRunning.store(false);
    for (TEngineChannel& channel : m_Channel) channel.bChannelStreaming.store(false);
    if (m_pOwner) m_pOwner->CloseRecorders();
    for (TEngineChannel& channel : m_Channel) channel.pReader.store(nullptr);
    // Every thread of the session has been joined: the stop may go.
    ClearStopAll();
  };

  // Network role of a decoder set-up.
  bool anyClientProcess = false;
  for (bool b : config.bClientProcess) anyClientProcess |= b;
  if (config.bSocketServClient && anyClientProcess) {
    if (!m_pOwner || !m_pOwner->StartNetworkRole(config)) return teardown();
    networkRole = true;
    m_bNetworkRole.store(true);
    // A stop asked for before the role ran left the readers' flags to it.
    if (m_bStopRequested.load()) return teardown();
  }
  if (config.bFtpSource && m_pOwner && !m_pOwner->StartFtpInput(config)) return teardown();
  if (m_bStopRequested.load()) return teardown();

  // Session counters.
  for (TEngineChannel& channel : m_Channel) {
    channel.nShownFrame.store(0);
    channel.nFirstCached.store(0);
    channel.nLastCached.store(0);
    channel.nReplayTarget.store(0);
    channel.nFrameCount.store(0);
    channel.nSceneFrames.store(0);
    channel.nSceneCount.store(0);
  }
  m_nLayerSlot.store(0);
  m_bSourceFinished.store(false);

  for (int ch = 0; ch < kEngineChannels; ++ch)
    if (playing[ch] && IsUnplayableFileFormat(config.source[ch].eFileFormat)) return teardown();

  // The buffer.
  for (int ch = 0; ch < kEngineChannels; ++ch)
    m_Dpb.m_bChannelEnabled[ch] = playing[ch] && IsCachedStreamType(config.source[ch].eStreamType);
  m_Dpb.SetLayerFrameSize(nullptr, 0);
  if (!m_Dpb.SetChannelFormats()) return teardown();
  if (!m_Dpb.AllocateBuffers()) return teardown();
  buffersReady = true;

  m_bLayerIdle.store(true);
  for (TEngineChannel& channel : m_Channel) channel.bChannelIdle.store(true);
  m_bStepNext.store(false);
  m_bStepPrevious.store(false);
  m_bReplayForth.store(false);
  m_bReplayBack.store(false);
  m_bGoFirst.store(false);
  m_bGoLast.store(false);
  m_bReplayBusy.store(false);
  m_bProcessStarted.store(false);
  m_nJobCount.store(0);
  m_nServerJobCount.store(0);
  m_nClientJobCount.store(0);
  for (TEngineChannel& channel : m_Channel) {
    channel.bChannelStreaming.store(false);
    channel.bSlotActive.store(false);
    channel.bSlotRunning.store(false);
    channel.bSlotStop.store(false);
    channel.bSlotEnd.store(false);
    channel.bRecorderStop.store(false);
    channel.bRecorderEnd.store(false);
  }
  if (m_pOwner) m_pOwner->PrepareRecorders();

  // One process per playing channel, in channel order.
  for (int ch = 0; ch < kEngineChannels; ++ch) {
    if (!playing[ch]) continue;
    const std::int32_t format = config.source[ch].eFileFormat;
    bool started = false;
    if (InList(format, {{2, 6}, {8, 15}, {19, 21}}))
      started = StartMediaDecoder(start, ch, processes);
    else if (InList(format, {{27, 27}, {37, 39}, {41, 44}, {46, 94}}))
      started = StartDecoder(start, ch, processes);
    if (!started) return teardown();
    m_Channel[ch].nState.store(SOURCE_STATE_RUNNING);
    RequestUpdate(ENGINE_UPDATE_EVERYTHING);
  }

  // The pacing thread counts as running from before the tick thread starts,
  // so the tick thread cannot end the session before the pacing began.
  const bool pacing = !config.bIsClientDecoder;
  m_bPacerRunning.store(pacing);
  tick = std::thread(&CZarn::TickThreadProc, this, start);
  if (pacing) pace = std::thread(&CZarn::PaceThreadProc, this, start);
  // The tick thread ends the session; join it, then everything else.
  teardown();
}

bool CZarn::StartDecoder(const TSessionStart& start, int channel, std::vector<std::thread>& threads) {
  return StartChannelProcess(start, channel, false, threads);
}

bool CZarn::StartMediaDecoder(const TSessionStart& start, int channel, std::vector<std::thread>& threads) {
  return StartChannelProcess(start, channel, true, threads);
}

bool CZarn::StartChannelProcess(const TSessionStart& start, int channel, bool media,
                                std::vector<std::thread>& threads) {
  const int procId = PROC_CHANNEL_FIRST + channel;
  TEngineChannel& state = m_Channel[channel];
  const TMediaSource& source = start.config.source[channel];
  // A scene never holds more frames than the buffer has slots.
  m_nFramesPerScene.store(std::min(kFramesPerScene, m_Dpb.m_nFrameCapacity));
  m_nFramesTotal.store(0);
  m_bProcessStarted.store(true);
  state.bSlotActive.store(true);
  state.nSceneCount.store(0);
  state.nSceneFrames.store(0);
  std::int32_t sceneIndex = 0;
  if (!m_Dpb.OpenChannelScene(channel, procId, 0, m_nFramesPerScene.load(), &sceneIndex)) {
    // A stop asked for while the session was starting is no failure: the
    // session just ends.
    if (m_bStopRequested.load() || m_Dpb.StopRequested()) return false;
    ReportFault(Format("Error: Start decoder : cannot set video buffer for process ProcID=%d", procId));
    return false;
  }
  state.nSceneIndex.store(sceneIndex);
  if (media && !(IsMediaGraphType(source.eStreamType) || source.eStreamType == 15)) return false;

  TProcessStart process;
  process.channel = channel;
  process.procId = procId;
  process.reader = state.pReader.load();
  process.source = source;
  process.kind = SenderKindOf(source.eStreamType);
  // A timed source (media graph, MNG) is marked streaming before its process
  // runs, so that the tick and pacing threads, which take the streaming state
  // once when they start, always see it.
  const bool timed = process.kind == MEDIA_SENDER_DSHOW || process.kind == MEDIA_SENDER_MNG;
  if (timed) {
    state.bChannelStreaming.store(true);
    m_bStreaming.store(true);
  }
  // The job is counted before the thread exists, so the tick thread never
  // sees a count of 0 while a process is about to run.
  m_nJobCount.fetch_add(1);
  try {
    threads.emplace_back(&CZarn::ProcessThreadProc, this, std::move(process));
  } catch (...) {
    m_nJobCount.fetch_sub(1);
    if (timed) state.bChannelStreaming.store(false);
    return false;
  }
  RequestUpdate(ENGINE_UPDATE_COUNTERS);
  return true;
}

void CZarn::ProcessThreadProc(TProcessStart start) {
  const bool media = start.kind == MEDIA_SENDER_DSHOW || start.kind == MEDIA_SENDER_MNG;
  if (!media) SetThreadNiceness(NICE_BELOW_NORMAL);
  TEngineChannel& state = m_Channel[start.channel];
  m_ThreadTable[start.procId].store(&state);
  bool finished = false;
  if (start.reader && start.kind != MEDIA_SENDER_NONE &&
      start.reader->SetSource(start.channel, start.source)) {
    ReadStream::TReaderDelivery delivery;
    delivery.nProcId = start.procId;
    delivery.eSenderKind = start.kind;
    delivery.ePurpose = SRC_STREAM;
    delivery.pContext = this;
    delivery.pOwnerCallback = &CZarn::EngineOwnerCallback;
    delivery.pFrameCallback = &CZarn::EngineFrameCallback;
    delivery.pSlotCallback = &CZarn::EngineSlotCallback;
    // A media graph's frames are read once, from its own buffers, as they
    // are turned over into the buffer's slot.
    delivery.bTopDownRows = true;
    delivery.pStopFlag = &state.bSlotStop;
    delivery.pEndFlag = &state.bSlotEnd;
    delivery.pPauseFlag = &m_bPaused;
    delivery.pRecordingFlag = &m_bRecording;
    if (media) {
      state.bChannelStreaming.store(true);
      m_bStreaming.store(true);
    }
    start.reader->SetDelivery(delivery);
    state.bSlotRunning.store(true);
    state.bSlotEnd.store(false);
    const bool ran = start.reader->Run();
    // A source that could not be started, or whose reader returned without
    // being asked to stop (a read that failed), has ended too: the session
    // must not wait for it.
    finished = state.bSlotEnd.load() || !ran || !m_bStopRequested.load();
    state.bSlotRunning.store(false);
    if (media) {
      state.bChannelStreaming.store(false);
      if (m_pOwner) m_pOwner->PostChannelSlider(start.channel);
    }
  } else {
    // The source could not be bound: it has ended, and it no longer streams.
    finished = true;
    if (media) state.bChannelStreaming.store(false);
  }
  if (finished) m_bSourceFinished.store(true);
  m_ThreadTable[start.procId].store(nullptr);
  m_nJobCount.fetch_sub(1);
}

void CZarn::TickThreadProc(TSessionStart start) {
  SetThreadNiceness(NICE_IDLE);
  const TSessionConfig& config = start.config;
  const std::int32_t period = config.nCtrlPeriod > 0 ? config.nCtrlPeriod : 1;
  std::int32_t divisor = 30;
  std::int32_t ticks = 0;
  bool showTime = false;
  bool stopping = false;
  for (const TEngineChannel& channel : m_Channel)
    if (channel.bChannelStreaming.load()) {
      divisor = 1000 / period;
      showTime = true;
    }
  for (;;) {
    if (m_bStopRequested.load() && !stopping) {
      stopping = true;
      if (StopsReaders())
        for (TEngineChannel& channel : m_Channel)
          if (channel.bSlotActive.load()) channel.bSlotStop.store(true);
      for (TEngineChannel& channel : m_Channel) channel.bRecorderStop.store(true);
    }
    if (stopping)
      std::this_thread::sleep_for(std::chrono::milliseconds(period));
    else
      m_StopClock.SleepFor(period);
    if (m_pOwner) m_pOwner->PollNetworkRole(stopping);
    const bool jobsDone = m_nJobCount.load() == 0;
    const bool networkDone = !(config.bIsServerDecoder && m_nServerJobCount.load() > 0) &&
                             !(config.bIsClientDecoder && m_nClientJobCount.load() > 0);
    if (stopping && jobsDone && networkDone) return;
    if (!stopping && m_bSourceFinished.load()) {
      if (jobsDone && networkDone && m_bLayerIdle.load() && !m_bPacerRunning.load()) return;
      // Jobs left once no reader runs are recorder writers (a paused
      // recording's too): their input has ended.
      if (!jobsDone) {
        bool anyReader = false;
        for (const TEngineChannel& channel : m_Channel) anyReader |= channel.bSlotRunning.load();
        if (!anyReader)
          for (TEngineChannel& channel : m_Channel) channel.bRecorderStop.store(true);
      }
    }
    if (jobsDone && !networkDone) continue;
    if (showTime) {
      if (ticks == divisor) {
        if (m_pOwner) m_pOwner->PostTimeTick();
        ticks = 0;
        showTime = false;
        for (const TEngineChannel& channel : m_Channel) showTime |= channel.bChannelStreaming.load();
      } else {
        ++ticks;
      }
    }
  }
}

void CZarn::PaceThreadProc(TSessionStart start) {
  const TSessionConfig& config = start.config;
  const std::int32_t period = config.nVideoOutPeriod > 0 ? config.nVideoOutPeriod : 0;
  const bool streaming = m_bStreaming.load();
  bool stopping = false;
  std::int32_t shown = 0;
  m_bPacerRunning.store(true);
  m_StopClock.SleepFor(config.nVideoOutDelay);
  for (;;) {
    if (m_bStopRequested.load() && !stopping) {
      stopping = true;
      for (TEngineChannel& channel : m_Channel) {
        channel.bChannelGo.store(true);
        channel.gate.Pulse();
      }
      m_bPaused.store(false);
      RequestUpdate(ENGINE_UPDATE_EVERYTHING);
    }
    const std::int32_t delay =
        PacingDelay(m_nSpeed.load(), m_nSpeedMax.load(), period, streaming, m_bPaused.load(), stopping);
    std::uint64_t arrivals = 0;
    {
      std::lock_guard<std::mutex> lock(m_ArrivalMutex);
      arrivals = m_nArrivals;
    }
    const std::int32_t shownBefore = shown;
    if (delay > 0) {
      if (stopping)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
      else
        m_StopClock.SleepFor(delay);
    }

    bool ok = true;
    const int layerChannel = config.nPaneChannel[0];
    bool paused = m_bPaused.load();
    if (!paused) {
      if (config.bDecoderH264 && !DeliverLayerFrame()) ok = false;
      if (config.bDecoderMpeg2)
        for (int ch = 0; ch < kEngineChannels; ++ch)
          if (start.playing[ch] && !DeliverChannelFrame(ch, &shown, stopping)) ok = false;
      // Shown in turn: a seek's first frame needs no extra step.
      for (TEngineChannel& channel : m_Channel) channel.bShowOnArrival.store(false);
    } else if (config.bDecoderMpeg2) {
      // A seek while paused shows the frame it landed on as soon as it is
      // stored, as a seek with nothing playing does.
      for (int ch = 0; ch < kEngineChannels; ++ch)
        if (start.playing[ch] && m_Channel[ch].bShowOnArrival.exchange(false) &&
            !DeliverChannelFrame(ch, &shown, stopping))
          ok = false;
    }
    if (!paused) {
      // Playing: the round's deliveries are done.
    } else if (m_bReplayForth.load() || m_bReplayBack.load()) {
      const bool forth = m_bReplayForth.load();
      if (config.bDecoderH264 && !StepLayerFrame(forth, layerChannel)) ok = false;
      if (!ReplayStep(start, forth ? 1 : -1)) ok = false;
    } else if (m_bStepNext.load() || m_bStepPrevious.load()) {
      // Taken before it is carried out: a step asked for while this one is
      // shown is not lost.
      m_bReplayBusy.store(true);
      const bool next = m_bStepNext.load();
      (next ? m_bStepNext : m_bStepPrevious).store(false);
      if (config.bDecoderH264) {
        // The layer's step takes the command; the channels see none.
        if (!StepLayerFrame(next, layerChannel)) ok = false;
      } else {
        ok = ReplayStep(start, next ? 1 : -1);
      }
      m_bReplayBusy.store(false);
    } else if (m_bGoFirst.load() || m_bGoLast.load()) {
      m_bReplayBusy.store(true);
      const bool first = m_bGoFirst.load();
      m_bGoFirst.store(false);
      m_bGoLast.store(false);
      for (int ch = 0; ch < kEngineChannels; ++ch) {
        TEngineChannel& channel = m_Channel[ch];
        if (!start.playing[ch] || !channel.bReplayEnable.load()) continue;
        if (!GoToChannelFrame(ch, first)) ok = false;
      }
      m_bReplayBusy.store(false);
    }
    if (!ok && !stopping) StopPlaying();
    // Without a period, a round that found nothing to show waits for the
    // next stored frame instead of spinning (bounded, so commands and the
    // end check still run).
    if (delay == 0 && shown == shownBefore) {
      std::unique_lock<std::mutex> lock(m_ArrivalMutex);
      m_nWakeAt = arrivals + 1;
      m_Arrival.wait_for(lock, std::chrono::milliseconds(2), [&] { return m_nArrivals >= m_nWakeAt; });
      m_nWakeAt = UINT64_MAX;
    }

    const bool jobsDone =
        m_nJobCount.load() == 0 && m_nServerJobCount.load() == 0 && m_nClientJobCount.load() == 0;
    if (stopping) {
      if (jobsDone) return;
    } else if (m_bSourceFinished.load() && jobsDone) {
      bool idle = true;
      if (config.bDecoderH264) {
        idle = m_bLayerIdle.load();
      } else if (config.bDecoderMpeg2) {
        // The job count was read first: every frame of the finished
        // producers is in the buffer, so the caches are looked at now, not
        // through the idle flags of the last delivery.
        for (int ch = 0; ch < kEngineChannels; ++ch)
          if (start.playing[ch] && !ChannelCacheShown(ch)) idle = false;
      } else {
        idle = false;
      }
      if (idle) {
        m_bPacerRunning.store(false);
        return;
      }
    }
  }
}

std::int32_t CZarn::PacingDelay(std::int32_t speed, std::int32_t speedMax, std::int32_t period,
                                bool streaming, bool paused, bool stopping) {
  if (stopping || (streaming && !paused)) return 5;
  const std::int32_t steps = (speedMax - speed + 10) / 10;
  return steps > 0 ? steps * period : period;
}

bool CZarn::ReplayStep(const TSessionStart& start, int step) {
  bool ok = true;
  if (!start.config.bDecoderMpeg2) return true;
  for (int ch = 0; ch < kEngineChannels; ++ch) {
    TEngineChannel& channel = m_Channel[ch];
    if (!start.playing[ch] || !channel.bReplayEnable.load()) continue;
    const int channelStep = channel.bReverseReplay.load() ? -step : step;
    if (!ReplayChannelFrame(ch, channelStep)) ok = false;
  }
  return ok;
}

// ---------------------------------------------------------------------------
// Frame reception

bool CZarn::EngineOwnerCallback(void* context, TMediaNotify code, const TMediaSender* sender, void* data) {
  CZarn* engine = static_cast<CZarn*>(context);
  return engine && engine->OnMediaNotify(code, sender, data);
}

bool CZarn::EngineFrameCallback(TMediaSenderKind kind, TSourcePurpose purpose, std::int32_t procId,
                                void* context, TMediaFrameNotice* frame) {
  CZarn* engine = static_cast<CZarn*>(context);
  return engine && engine->DeliverFrame(kind, purpose, procId, frame);
}

std::uint8_t* CZarn::EngineSlotCallback(void* context, std::int32_t procId, const TYuvFrameBuffer& layout) {
  CZarn* engine = static_cast<CZarn*>(context);
  const int channel = procId - PROC_CHANNEL_FIRST;
  if (!engine || channel < 0 || channel >= kEngineChannels || engine->m_bStopRequested.load()) return nullptr;
  return engine->m_Dpb.ReserveSlot(channel, procId, layout);
}

bool CZarn::OnMediaNotify(TMediaNotify code, const TMediaSender* sender, void* data) {
  if (!sender) return false;
  const std::int32_t kind = sender->eSenderKind;
  const int channel = sender->nSenderId - PROC_CHANNEL_FIRST;
  switch (code) {
    case MEDIA_NOTIFY_FRAME: {
      if (!IsFrameSenderKind(kind)) return false;
      const auto* frame = static_cast<const TMediaFrameNotice*>(data);
      if (!frame || !frame->pHeader) return true;
      return DeliverFrame(kind, sender->ePurpose, sender->nSenderId, frame);
    }
    case MEDIA_NOTIFY_DEVICE_KIND:
      if (kind != MEDIA_SENDER_DSHOW || channel < 0 || channel >= kEngineChannels || !m_pOwner) return false;
      return m_pOwner->DeviceKindDetected(channel, data);
    case MEDIA_NOTIFY_THREAD_STARTED:
      if (sender->nSenderId < 0 || sender->nSenderId >= kProcIdCount) return false;
      m_ThreadTable[sender->nSenderId].store(data);
      return true;
    case MEDIA_NOTIFY_JOB_COUNT:
      m_nJobCount.fetch_add(static_cast<std::int32_t>(PointerAsValue(data)));
      return true;
    case MEDIA_NOTIFY_RECORD_FRAME: {
      const int recorder = sender->nSenderId - PROC_RECORDER_FIRST;
      if (kind != MEDIA_SENDER_RECORDER || recorder < 0 || recorder >= kEngineChannels || !m_pOwner)
        return false;
      return m_pOwner->PullRecordFrame(recorder, sender, data);
    }
    case MEDIA_NOTIFY_VIDEO_WINDOW:
      if (kind == MEDIA_SENDER_DSHOW && channel >= 0 && channel < kEngineChannels && m_pOwner)
        m_pOwner->VideoWindowRequest(channel, data);
      return false;
    default: return false;
  }
}

bool CZarn::DeliverFrame(std::int32_t kind, std::int32_t purpose, std::int32_t procId,
                         const TMediaFrameNotice* frame) {
  if (!frame) return false;
  if (kind == 13) {
    if (purpose == SRC_GRAB_FRAME) return m_pOwner && m_pOwner->SetGrabbedYuvFrame(*frame);
    if (purpose == SRC_STREAM) return DeliverDecoderFrame(procId, *frame);
    return false;
  }
  if (kind >= MEDIA_SENDER_DSHOW && kind <= MEDIA_SENDER_BMP) {
    const int channel = procId - PROC_CHANNEL_FIRST;
    if (channel < 0 || channel >= kEngineChannels) return false;
    return DeliverFrameToDpb(channel, procId, *frame);
  }
  return false;
}

bool CZarn::DeliverFrameToDpb(int channel, int procId, const TMediaFrameNotice& frame) {
  TEngineChannel& state = m_Channel[channel];
  // After a seek's flush, frames from before the seek are dropped here,
  // uncounted, until the first frame after it.
  std::uint64_t generation = 0;
  if (!m_Dpb.AdmitFrame(channel, frame.bDiscontinuity, &generation)) return true;
  // A file played by the media graph numbers its frames by their index in
  // the file, so the counter, replay and recorders never drift from it after
  // a seek; other sources are numbered by the frames delivered.
  const std::int32_t number =
      frame.bFileIndex
          ? static_cast<std::int32_t>(std::clamp<std::int64_t>(frame.nFrameNumber, 0, INT32_MAX - 1))
          : state.nFrameCount.load();
  if (frame.bFileIndex && frame.nFrameNumber > 0 && frame.dTime > 0.0 && std::isfinite(frame.dTime)) {
    // The later the frame, the finer the period its time gives.
    const double period = frame.dTime * 1e7 / static_cast<double>(frame.nFrameNumber);
    if (period >= 1.0 && period < 1e9) state.nFilePeriod.store(std::llround(period));
  }
  IChannelReader* reader = state.pReader.load();
  const std::int32_t first = reader ? reader->GetFirstFrame() : 0;
  const std::int32_t limit = reader ? reader->GetFrameLimit() : 0;
  if (first != limit) {
    if (number < first) {
      state.nShownFrame.store(number);
      RequestUpdate(ENGINE_UPDATE_COUNTERS);
      state.nFrameCount.store(number + 1);
      return true;
    }
    if (number >= limit) {
      // Held until a resume, a seek or the stop; a stop drops the frame
      // quietly, a seek drops it when it is stored (its flush came after the
      // frame was admitted).
      if (!state.gate.Wait()) return true;
    }
  }
  if (m_bStopRequested.load()) return true;
  const auto put =
      m_Dpb.PutAdmittedFrame(channel, procId, frame, number, state.nSceneCount.load(), generation);
  if (put == OOVDecodedPictureBuffer::COOVDecodedPictureBuffer::PUT_DROPPED) return true;
  if (put == OOVDecodedPictureBuffer::COOVDecodedPictureBuffer::PUT_STORED && frame.bDiscontinuity &&
      m_bPaused.load())
    state.bShowOnArrival.store(true);
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(m_ArrivalMutex);
    wake = ++m_nArrivals >= m_nWakeAt;
  }
  // Only the arrival the waiting pacing thread wants wakes it.
  if (wake) m_Arrival.notify_one();
  if (state.bRecordChannel.load() && m_pOwner) PushRecordedFrame(channel, procId, frame);
  m_nFramesTotal.fetch_add(1);
  const std::int32_t sceneFrames = state.nSceneFrames.fetch_add(1) + 1;
  state.nFrameCount.store(number + 1);
  if (sceneFrames >= m_nFramesPerScene.load()) {
    const std::int32_t scene = state.nSceneCount.fetch_add(1) + 1;
    std::int32_t sceneIndex = 0;
    if (m_Dpb.OpenChannelScene(channel, procId, scene, m_nFramesPerScene.load(), &sceneIndex)) {
      state.nSceneIndex.store(sceneIndex);
      state.nSceneFrames.store(0);
      return true;
    }
    // A stop ends the wait for free slots; that is no failure.
    if (m_Dpb.StopRequested() || m_bStopRequested.load()) return true;
    ReportFault(Format("Error: can not set video data to the DPB : Process ProcID=%d", procId));
    return false;
  }
  return true;
}

void CZarn::PushRecordedFrame(int channel, int procId, const TMediaFrameNotice& frame) {
  if (frame.nTopDownStride <= 0 || !frame.pRgbData) {
    m_pOwner->PushRecordedFrame(channel, procId, frame);
    return;
  }
  // The recorders take bottom-up DIB rows: a graph's top-down frame is
  // turned over for them (only while the channel records).
  TFrameBuffer& record = m_RecordRows[channel];
  const std::int32_t bits = frame.pHeader ? frame.pHeader->biBitCount : 0;
  const TPixelFormat format = bits == 32 ? PF_RGB32 : bits == 24 ? PF_RGB24 : TPixelFormat{0};
  if (format == 0 || frame.nWidth <= 0 || frame.nHeight <= 0) return;
  if (!record.pBuffer || record.ePixelFormat != format || record.nWidth != frame.nWidth ||
      record.nHeight != frame.nHeight) {
    FreeFrameBuffer(&record);
    record.ePixelFormat = format;
    record.nWidth = frame.nWidth;
    record.nHeight = frame.nHeight;
    record.nRowAlignment = 4;
    record.nHeightAlignment = 1;
    if (!AllocFrameBuffer(&record) || !record.pBuffer) return;
  }
  const std::int64_t stride = frame.nTopDownStride;
  const std::int64_t rowBytes = std::min<std::int64_t>(std::int64_t{frame.nWidth} * (bits / 8), stride);
  if (rowBytes > record.nStride || frame.nRgbSize < (frame.nHeight - 1) * stride + rowBytes) return;
  for (std::int32_t y = 0; y < frame.nHeight; ++y)
    std::memcpy(record.pBuffer + static_cast<std::size_t>(frame.nHeight - 1 - y) * record.nStride,
                frame.pRgbData + y * stride, static_cast<std::size_t>(rowBytes));
  TMediaFrameNotice bottomUp = frame;
  bottomUp.nTopDownStride = 0;
  bottomUp.pRgbData = record.pBuffer;
  bottomUp.nRgbSize = record.nSize;
  bottomUp.pFrameRecord = &record;
  m_pOwner->PushRecordedFrame(channel, procId, bottomUp);
}

void CZarn::FlushChannel(int channel) {
  if (channel < 0 || channel >= kEngineChannels) return;
  TEngineChannel& state = m_Channel[channel];
  // Waits for a delivery or replay step of the channel in progress: after
  // this, nothing cached before the seek is shown.
  std::lock_guard<std::mutex> step(state.stepMutex);
  const std::int32_t cursor = m_Dpb.FlushChannel(channel);
  if (cursor >= 0) {
    state.nFirstCached.store(cursor);
    state.nLastCached.store(cursor);
    state.nReplayTarget.store(cursor);
  }
  state.bShowOnArrival.store(false);
  // A producer held at its frame limit goes on; its frame is dropped.
  state.gate.Pulse();
}

bool CZarn::DeliverDecoderFrame(int procId, const TMediaFrameNotice& frame) {
  if (procId != PROC_LAYER_5 && procId != PROC_LAYER_6) return false;
  const int channel = procId == PROC_LAYER_5 ? 0 : 1;
  const int layer = procId == PROC_LAYER_5 ? 5 : 6;
  TEngineChannel& state = m_Channel[channel];
  IChannelReader* reader = state.pReader.load();
  const std::int32_t first = reader ? reader->GetFirstFrame() : 0;
  const std::int32_t limit = reader ? reader->GetFrameLimit() : 0;
  if (first != limit) {
    const std::int32_t count = state.nFrameCount.load();
    if (count < first) {
      state.nShownFrame.store(count);
      RequestUpdate(ENGINE_UPDATE_COUNTERS);
      state.nFrameCount.store(count + 1);
      return true;
    }
    if (count >= limit && !state.gate.Wait()) return true;
  }
  if (m_bStopRequested.load()) return true;
  m_Dpb.PutLayerFrame(frame.nWidth, frame.nHeight, frame.nChromaWidth, frame.nChromaHeight, frame.pY,
                      frame.pCb, frame.pCr, procId, layer, state.nFrameCount.load(),
                      state.nSceneCount.load());
  m_nFramesTotal.fetch_add(1);
  const std::int32_t sceneFrames = state.nSceneFrames.fetch_add(1) + 1;
  state.nFrameCount.fetch_add(1);
  if (sceneFrames >= m_nFramesPerScene.load()) {
    const std::int32_t scene = state.nSceneCount.fetch_add(1) + 1;
    std::int32_t sceneIndex = 0;
    if (m_Dpb.OpenLayerScene(procId, layer, scene, m_nFramesPerScene.load(), &sceneIndex)) {
      state.nSceneIndex.store(sceneIndex);
      state.nSceneFrames.store(0);
      return true;
    }
    if (m_Dpb.StopRequested() || m_bStopRequested.load()) return true;
    ReportFault(Format("Error: Start Mpeg-2 decoder : can not set video buffer : Process ProcID=%d", procId));
    return false;
  }
  return true;
}

}  // namespace Zarn
