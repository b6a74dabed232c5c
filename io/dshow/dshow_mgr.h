#pragma once
// The media-graph session manager: one session for one request tagged
// MEDIA_REQ_DSHOW_SOURCE. It grabs the first frame of a media file, streams a
// file's frames to its owner, or lists capture devices and Windows Media
// profiles. Run is synchronous: it returns when the session has ended. While
// it runs, other threads steer the session (play, pause, stop, seek, volume,
// sound, position).
//
// Files play on a GStreamer pipeline: uridecodebin on the file's URI; the
// video branch converts to 24-bit (or 32-bit) BGR and ends in the program's
// sample grabber and null renderer; the audio branch ends in a volume and the
// system's audio output while streaming, in a null renderer otherwise.
// Frames reach the owner bottom-up, as DIB rows, with times in seconds from
// the stream's first frame; an owner that asks for them (bTopDownRows) gets
// a streamed file's frames in the graph's own buffers instead, top-down,
// with no copy on the way.
//
// Errors are codes in the request (36 while a session runs in this object,
// 15 for any failure); nothing is shown to the user from here.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "io/dshow/dshow_util.h"
#include "io/dshow/frame_handoff.h"
#include "io/dshow/frame_stream.h"
#include "io/dshow/media_session.h"
#include "io/media_request.h"

struct _GstElement;
struct _GstBus;

namespace SampleGrabberFilter {
class CSampleGrabber;
class CNullRenderer;
struct TGrabSample;
}  // namespace SampleGrabberFilter

namespace DShowMgr {

class CDShowMgr;

// The grabber's callback object: hands every sample to its owner's OnSample.
class CAdaptorSGCB;

// Environment variable naming the audio output of streaming sessions
// ("fakesink" plays silently at the stream's pace); unset: the system's
// default output, or a silent one when there is none.
inline constexpr const char* kAudioSinkVariable = "TOVRIN_AUDIO_SINK";

class CDShowMgr final : public IMediaSession {
 public:
  CDShowMgr();
  ~CDShowMgr() override;
  CDShowMgr(const CDShowMgr&) = delete;
  CDShowMgr& operator=(const CDShowMgr&) = delete;

  // Runs one session; see the class comment.
  bool Run(ZarnTypes::TMediaRequest* pRequest) override;
  bool IsBusy() const override { return m_bBusy.load(); }

  // ---- control of a running session (any thread) ----
  // Each returns 0 when done or when there was nothing to do, -1 on failure.
  int Play() override;   // from stopped or paused
  int Stop() override;   // from running or paused; the position is kept
  int Pause() override;  // only from running
  TGraphState GetState() const override { return static_cast<TGraphState>(m_nState.load()); }
  // Stream time of the shown position, from the first frame.
  bool GetPosition(TMediaPosition* pPosition) override;
  // Position and duration; false while the duration is unknown.
  bool GetPositionAndDuration(TMediaProgress* pProgress) override;
  // Seeks to a / b of the duration and keeps the running or paused state.
  // Nothing for b = 0, a = b or an unknown duration. A position inside the
  // file always shows a frame: a landing past the last frame is retried
  // earlier.
  bool SeekToFraction(std::int32_t nNumerator, std::int32_t nDenominator) override;
  // Volume a / b (VolumeToMillibel). While the sound is off the level is
  // only remembered; EnableSound(true) restores the level last set.
  bool SetVolume(std::int32_t nLevel, std::int32_t nMaximum) override;
  bool SetAudioVolume(std::int32_t nMillibel);
  bool EnableSound(bool bOn) override;
  // Filter property pages do not exist on this platform: false.
  bool ShowPropertyPages(std::int32_t nPageCode, void* pWindow);
  // The linear gain the audio output applies now (0 while muted; -1
  // without an audio output).
  double AppliedGain() const override;

  // ---- the frame sink (streaming thread, or the session thread for the
  // frame shown before playing starts) ----
  // Rows arrive top-down, nStride bytes apart; nSize is the buffer's real
  // length. nIndex: the frame's index in its file (-1: from dTime and the
  // frame period). Public so that the bounds can be tested with hand-made
  // buffers.
  void OnSample(const std::uint8_t* pData, std::size_t nSize, double dTime, std::int64_t nIndex = -1);
  // The layout OnSample expects (set by the session from the negotiated
  // type; tests may set it to drive OnSample directly): the frame's size and
  // depth, and the bytes from one grabbed row to the next (0: DIB rows).
  void SetFrameLayout(std::int32_t nWidth, std::int32_t nHeight, std::int32_t nBitsPerPixel,
                      std::int32_t nSourceStride = 0);
  Dib::TBitmapInfoHeader FrameHeader() const { return LayoutHeader(m_Frames.Layout()); }
  // The frame period of the grabbed video in 100-ns units (0: unknown).
  std::int64_t FrameInterval() const { return m_Clock.FrameInterval(); }
  void SetFrameInterval(std::int64_t nInterval) { m_Clock.SetFrameInterval(nInterval); }
  std::uint64_t FramesReceived() const { return m_nFramesReceived.load(); }
  // Frames decoded but never handed to the owner: only those a seek or a
  // stop made stale (a file's frames wait for a slow owner).
  std::uint64_t FramesDropped() const { return m_Frames.Dropped(); }

  // Prepares the object for driving OnSample without a graph (tests):
  // request, params copy, frame layout and mode as Run would set them.
  void BeginSessionForTest(ZarnTypes::TMediaRequest* pRequest, std::int32_t nWidth, std::int32_t nHeight,
                           std::int32_t nBitsPerPixel, std::int32_t nSourceStride = 0);
  void EndSessionForTest();

 private:
  friend class CAdaptorSGCB;
  struct TPadContext;

  void Reset();
  bool RunFileGraph(const std::string& path);
  bool BuildPipeline(const std::string& uri);
  void OnPadAdded(_GstElement* pDecoder, void* pPad);
  static void PadAddedThunk(_GstElement* pDecoder, void* pPad, void* pSelf);
  bool WaitLoop();
  bool ReadConnectedType();
  void ArmGrabber();
  void DisarmGrabber();
  bool StartFrameThread();
  void StopFrameThread();
  void ReleaseGraph();
  bool CopyToRequestFrame(const std::uint8_t* pData, std::size_t nSize);
  void FillGrabResult();
  void HoldSample(const SampleGrabberFilter::TGrabSample& sample, const TFrameStamp& stamp);
  bool LeaseSampleToOwner(const SampleGrabberFilter::TGrabSample& sample, const TFrameStamp& stamp);
  void OnGraphFlushed();
  void DeliverNotice(const ZarnTypes::TMediaFrameNotice& notice);
  bool OwnerStopped() const;
  void ApplyVolume();
  bool SeekLocked(std::int32_t nNumerator, std::int32_t nDenominator);
  std::int64_t QueryDuration();
  std::int64_t QueryPosition();
  _GstElement* RefPipeline() const;

  std::atomic<bool> m_bBusy{false};
  ZarnTypes::TMediaRequest* m_pRequest = nullptr;
  ZarnTypes::TSourceParams m_Params{};
  ZarnTypes::TMediaFrameNotice m_Notice{};
  ZarnTypes::TMediaSender m_Sender{};
  // Read by the control operations on other threads.
  std::atomic<ZarnTypes::TFileFormat> m_eSourceFormat{ZarnTypes::TFileFormat{0}};
  ZarnTypes::TPixelFormat m_ePixelFormat = ZarnTypes::TPixelFormat{0};
  std::atomic<std::int32_t> m_nVideoCount{0};
  std::atomic<std::int32_t> m_nState{GRAPH_NONE};

  // The graph, guarded by m_GraphLock for the control operations.
  mutable std::mutex m_GraphLock;
  _GstElement* m_pPipeline = nullptr;
  _GstElement* m_pVolume = nullptr;
  _GstBus* m_pBus = nullptr;
  SampleGrabberFilter::CSampleGrabber* m_pGrabber = nullptr;
  SampleGrabberFilter::CNullRenderer* m_pNullRenderer = nullptr;
  CAdaptorSGCB* m_pGrabberCallback = nullptr;
  std::string m_AudioSinkName;
  std::mutex m_ControlLock;  // one seek or state change at a time

  // Frames: the layout, the frame clock (period, first frame's time) and
  // the hand-off to the notification thread, all safe to touch from the
  // streaming thread, the session's thread and the controlling threads.
  CFrameStream m_Frames;
  CFrameClock m_Clock;
  CStreamGate m_Gate;                        // holds the streaming thread while paused or stopped
  Dib::TBitmapInfoHeader m_GrabHeader{};     // the header of a grab's notice
  std::atomic<std::int64_t> m_nDuration{0};  // 100-ns units; 0 unknown
  std::atomic<std::uint64_t> m_nFramesReceived{0};
  std::atomic<bool> m_bFirstFrameTaken{false};
  bool m_bStreamMode = false;
  bool m_bGrabMode = true;
  bool m_bNoClock = false;

  // Before the grabber is armed, the last frame that reached it (the
  // prerolled one) is held here; arming hands it on.
  std::mutex m_HoldLock;
  std::vector<std::uint8_t> m_Held;
  TFrameStamp m_HeldStamp;
  bool m_bHeld = false;
  std::atomic<bool> m_bArmed{false};
  std::atomic<std::uint64_t> m_nSamplesSeen{0};   // by the grabber, armed or not
  std::atomic<std::int64_t> m_nSeekFloor{-1};     // stream time (ns) below which frames are not shown
  std::atomic<std::int64_t> m_nLandedTime{-1};    // stream time (ns) of the last frame shown
  std::atomic<std::uint64_t> m_nGraphFlushes{0};  // flushes that reached the grabber
  std::atomic<bool> m_bLateLanding{false};        // seeks of this graph land late: seek from earlier points

  std::vector<std::uint8_t> m_FlipBuffer;  // bottom-up copy for one-shot callbacks

  // Sound.
  std::atomic<std::int32_t> m_nVolume{kVolumeFull};  // the level last set
  std::atomic<bool> m_bMuted{false};
};

// One-shot sessions on a CDShowMgr made for the call.
bool EnumMediaDevices(void* pCaller, TMediaDeviceList* pList);
bool EnumWindowsMediaProfiles(void* pCaller, TWmProfileList* pList);
bool DetectMediaDeviceKind(void* pCaller, const std::string& path, std::int32_t nDeviceCategory,
                           std::int32_t* pDeviceKind);

// The capture devices the platform lists (the work of a device
// enumeration session). False without a list or without a kind to list.
bool ListMediaDevices(TMediaDeviceList* pList);

// The name of a session's pipeline: "FilterGraph %08x pid %08x".
std::string GraphName(const void* pGraph);

}  // namespace DShowMgr
