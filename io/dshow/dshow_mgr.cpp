#include "io/dshow/dshow_mgr.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gst/gst.h>
#include <unistd.h>

#include "io/dshow/program_stream.h"
#include "io/dshow/sample_grabber.h"
#include "io/dshow/wm_sink_gst.h"
#include "platform/files.h"

using namespace ZarnTypes;
using namespace SampleGrabberFilter;

namespace DShowMgr {

namespace {

constexpr int kWaitStepMs = 100;          // one pop of the bus
constexpr int kPrerollTimeoutMs = 15000;  // opening a file: damaged files fail long before
constexpr int kGrabTimeouts = 20;         // about 2.1 s of a running graph without a frame

}  // namespace

// ---------------------------------------------------------------------------

class CAdaptorSGCB final : public CGrabberSampleCB {
 public:
  explicit CAdaptorSGCB(CDShowMgr* pOwner) : m_pOwner(pOwner) {}
  TGrabAnswer SampleCB(const TGrabSample& sample, bool) override {
    CDShowMgr& owner = *m_pOwner;
    // Paused or stopped: the frame waits here until Play, a seek or the end.
    if (!owner.m_Gate.Pass([&owner] { return owner.OwnerStopped(); })) return GRAB_DROP;
    if (sample.nStreamTime >= 0 && owner.m_Clock.BaseTime() >= 0) {
      // After a seek, frames before the target are decoded but not shown.
      const std::int64_t nFloor = owner.m_nSeekFloor.load();
      if (nFloor >= 0 && sample.nStreamTime < nFloor) return GRAB_DROP;
    }
    const TFrameStamp stamp = owner.m_Clock.Stamp(sample.nStreamTime, sample.nDuration);
    owner.m_nLandedTime = sample.nStreamTime;
    owner.m_nSamplesSeen.fetch_add(1);
    if (!sample.pData) return GRAB_PASS;
    owner.HoldSample(sample, stamp);
    return GRAB_PASS;
  }
  void Flushed() override { m_pOwner->OnGraphFlushed(); }

 private:
  CDShowMgr* m_pOwner;
};

std::string GraphName(const void* pGraph) {
  char name[64];
  std::snprintf(name, sizeof name, "FilterGraph %08x pid %08x",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(pGraph) & 0xffffffffu),
                static_cast<unsigned>(getpid()));
  return name;
}

namespace {
std::unique_ptr<IMediaSession> MakeGraphSession() { return std::make_unique<CDShowMgr>(); }
// A program that links the session manager plays media files with it.
[[maybe_unused]] const bool g_bInstalled = (SetMediaSessionFactory(&MakeGraphSession), true);
}  // namespace

void UseMediaGraph() {
  SetMediaSessionFactory(&MakeGraphSession);
  WmWriter::UseGstWmSink();  // the recorders' Windows Media files
}

CDShowMgr::CDShowMgr() { Reset(); }

CDShowMgr::~CDShowMgr() {
  StopFrameThread();
  ReleaseGraph();
}

void CDShowMgr::OnGraphFlushed() {
  // A frame held from before the flush is not the one the graph shows next.
  std::lock_guard lock(m_HoldLock);
  m_bHeld = false;
  m_nLandedTime = -1;
  m_nGraphFlushes.fetch_add(1);
}

void CDShowMgr::Reset() {
  m_pRequest = nullptr;
  m_Params = TSourceParams{};
  m_Notice = TMediaFrameNotice{};
  m_Sender = TMediaSender{};
  m_eSourceFormat = TFileFormat{0};
  m_ePixelFormat = TPixelFormat{0};
  m_nVideoCount = 0;
  m_nState = GRAPH_NONE;
  m_Frames.SetLayout(TFrameLayout{});
  m_Clock.Reset();
  m_GrabHeader = Dib::TBitmapInfoHeader{};
  m_nDuration = 0;
  m_nFramesReceived = 0;
  m_bFirstFrameTaken = false;
  m_bStreamMode = false;
  m_bGrabMode = true;
  m_bNoClock = false;
  {
    std::lock_guard lock(m_HoldLock);
    m_bHeld = false;
    m_bArmed = false;
  }
  m_nSamplesSeen = 0;
  m_nSeekFloor = -1;
  m_nLandedTime = -1;
  m_nGraphFlushes = 0;
  m_bLateLanding = false;
  m_Gate.Reset();
  m_nVolume = kVolumeFull;
  m_bMuted = false;
}

bool CDShowMgr::OwnerStopped() const { return m_Params.pStopFlag && m_Params.pStopFlag->load(); }

// ---------------------------------------------------------------------------
// Run

bool CDShowMgr::Run(TMediaRequest* pRequest) {
  if (m_bBusy.exchange(true)) {
    if (pRequest) pRequest->eError = MEDIA_ERR_DSHOW_BUSY;
    return false;
  }
  if (!pRequest) {
    m_bBusy = false;
    return false;
  }
  Reset();
  TSourceParams* pParams = SourceParamsOf(*pRequest);
  if (!pParams) {
    FailRequest(*pRequest, MEDIA_ERR_DSHOW_SESSION);
    m_bBusy = false;
    return false;
  }
  m_pRequest = pRequest;
  m_eSourceFormat = pRequest->eSourceFormat;
  m_ePixelFormat = pRequest->ePixelFormat;
  m_Params = *pParams;
  m_Sender = MakeSender(m_Params);

  const TSourcePurpose ePurpose = pRequest->ePurpose;
  const bool bDevice = m_eSourceFormat == FF_SYSTEM_DEVICE;
  bool bOk = false;
  switch (ePurpose) {
    case SRC_GRAB_FRAME:
    case SRC_GRAB_FRAME_RGB24:
      m_bGrabMode = true;
      m_bNoClock = true;
      m_bStreamMode = false;
      // Capture devices and DVD volumes run in graphs of their own, which
      // this build does not have: such sessions fail.
      if (!bDevice && pRequest->pPath) bOk = RunFileGraph(*pRequest->pPath);
      break;
    case SRC_GRAB_FRAME_CONFIG:  // configuring is for devices; a file has nothing to configure
      break;
    case SRC_STREAM:
      m_bGrabMode = false;
      m_bStreamMode = true;
      if (!bDevice && pRequest->pPath) bOk = RunFileGraph(*pRequest->pPath);
      break;
    case SRC_ENUM_DEVICES: bOk = ListMediaDevices(static_cast<TMediaDeviceList*>(m_Params.pExtension)); break;
    case SRC_ENUM_WM_PROFILES:
      if (m_Params.pExtension) {
        ListWmProfiles(*static_cast<TWmProfileList*>(m_Params.pExtension));
        bOk = true;
      }
      break;
    default:  // writing streams, detection without a capture graph, unknown purposes
      break;
  }

  if (ePurpose != SRC_ENUM_DEVICES && ePurpose != SRC_ENUM_WM_PROFILES) {
    if (pParams->pStopFlag) pParams->pStopFlag->store(true);
    if (pParams->pEndFlag) pParams->pEndFlag->store(true);
  }
  StopFrameThread();
  ReleaseGraph();
  if (ePurpose == SRC_GRAB_FRAME) FillGrabResult();
  m_pRequest = nullptr;
  if (bOk)
    SucceedRequest(*pRequest);
  else
    FailRequest(*pRequest, MEDIA_ERR_DSHOW_SESSION);
  m_bBusy = false;
  return bOk;
}

void CDShowMgr::BeginSessionForTest(TMediaRequest* pRequest, std::int32_t nWidth, std::int32_t nHeight,
                                    std::int32_t nBitsPerPixel, std::int32_t nSourceStride) {
  Reset();
  SetFrameLayout(nWidth, nHeight, nBitsPerPixel, nSourceStride);
  m_pRequest = pRequest;
  m_ePixelFormat = pRequest->ePixelFormat;
  if (TSourceParams* p = SourceParamsOf(*pRequest)) m_Params = *p;
  m_Sender = MakeSender(m_Params);
  m_bStreamMode = pRequest->ePurpose == SRC_STREAM;
  m_bGrabMode = !m_bStreamMode;
  m_bArmed = true;
  if (m_bStreamMode) StartFrameThread();
}

void CDShowMgr::EndSessionForTest() {
  StopFrameThread();
  m_pRequest = nullptr;
}

// ---------------------------------------------------------------------------
// The file graph

void CDShowMgr::PadAddedThunk(GstElement* pDecoder, void* pPad, void* pSelf) {
  static_cast<CDShowMgr*>(pSelf)->OnPadAdded(pDecoder, pPad);
}

// Links each stream the decoder exposes: the first video stream into the
// grabber, the first audio stream into the sound output when streaming, any
// other stream (sound included, when nothing is to be heard) into a null
// renderer.
void CDShowMgr::OnPadAdded(GstElement*, void* pPadPointer) {
  GstPad* pPad = static_cast<GstPad*>(pPadPointer);
  GstCaps* caps = gst_pad_get_current_caps(pPad);
  if (!caps) caps = gst_pad_query_caps(pPad, nullptr);
  const char* pName =
      (caps && gst_caps_get_size(caps) > 0) ? gst_structure_get_name(gst_caps_get_structure(caps, 0)) : "";
  const bool bVideo = g_str_has_prefix(pName, "video/x-raw");
  const bool bAudio = g_str_has_prefix(pName, "audio/x-raw");
  if (caps) gst_caps_unref(caps);

  std::lock_guard lock(m_GraphLock);
  if (!m_pPipeline) return;
  GstBin* bin = GST_BIN(m_pPipeline);
  std::vector<GstElement*> chain;
  if (bVideo && m_nVideoCount == 0 && m_pGrabber && m_pNullRenderer) {
    chain.push_back(gst_element_factory_make("videoconvert", "VideoConvert"));
    chain.push_back(m_pGrabber->Element());
    chain.push_back(m_pNullRenderer->Element());
    m_nVideoCount = 1;
  } else if (bAudio && !m_pVolume && m_bStreamMode) {
    chain.push_back(gst_element_factory_make("audioconvert", nullptr));
    chain.push_back(gst_element_factory_make("audioresample", nullptr));
    GstElement* volume = gst_element_factory_make("volume", "Volume");
    chain.push_back(volume);
    GstElement* sink = nullptr;
    if (!m_AudioSinkName.empty()) sink = gst_element_factory_make(m_AudioSinkName.c_str(), "AudioRenderer");
    if (!sink) sink = gst_element_factory_make("fakesink", "AudioRenderer");
    if (sink && g_object_class_find_property(G_OBJECT_GET_CLASS(sink), "sync"))
      g_object_set(sink, "sync", TRUE, nullptr);
    chain.push_back(sink);
    if (volume) m_pVolume = GST_ELEMENT(gst_object_ref(volume));
  } else {
    // Streams nobody hears or sees end in a null renderer of the program's.
    GstElement* sink = gst_element_factory_make(kNullRendererFactoryName, nullptr);
    if (sink) g_object_set(sink, "sync", m_bNoClock ? FALSE : TRUE, "async", FALSE, nullptr);
    chain.push_back(sink);
  }
  for (GstElement* e : chain) {
    if (!e) {
      GST_ELEMENT_ERROR(m_pPipeline, CORE, MISSING_PLUGIN, (nullptr), ("a conversion element is missing"));
      for (GstElement* other : chain)
        if (other && !GST_OBJECT_PARENT(other) && other != (m_pGrabber ? m_pGrabber->Element() : nullptr) &&
            other != (m_pNullRenderer ? m_pNullRenderer->Element() : nullptr))
          gst_object_unref(gst_object_ref_sink(other));
      return;
    }
  }
  for (GstElement* e : chain) gst_bin_add(bin, e);
  for (std::size_t i = 0; i + 1 < chain.size(); ++i) gst_element_link(chain[i], chain[i + 1]);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) gst_element_sync_state_with_parent(*it);
  GstPad* pSink = gst_element_get_static_pad(chain.front(), "sink");
  if (pSink) {
    if (gst_pad_link(pPad, pSink) != GST_PAD_LINK_OK)
      GST_ELEMENT_WARNING(m_pPipeline, CORE, NEGOTIATION, (nullptr), ("a stream could not be linked"));
    gst_object_unref(pSink);
  }
}

bool CDShowMgr::BuildPipeline(const std::string& uri) {
  if (!RegisterElements()) return false;
  GstElement* pipeline = gst_pipeline_new(nullptr);
  if (!pipeline) return false;
  gst_object_set_name(GST_OBJECT(pipeline), GraphName(pipeline).c_str());
  GstElement* decoder = gst_element_factory_make("uridecodebin", "Source");
  if (!decoder) {
    gst_object_unref(pipeline);
    return false;
  }
  g_object_set(decoder, "uri", uri.c_str(), nullptr);
  gst_bin_add(GST_BIN(pipeline), decoder);

  auto* pGrabber = new CSampleGrabber("SGvid");
  auto* pRenderer = new CNullRenderer("NullRenderer");
  auto* pCallback = new CAdaptorSGCB(this);
  // 32-bit streams are asked for as BGRx, every other request as DIB-like BGR.
  pGrabber->SetAcceptedMediaType(m_bStreamMode && m_ePixelFormat == PF_RGB32 ? "video/x-raw,format=BGRx"
                                                                             : "video/x-raw,format=BGR");
  pGrabber->SetCallback(pCallback);
  pRenderer->SetSync(!m_bNoClock);
  {
    std::lock_guard lock(m_GraphLock);
    m_pPipeline = pipeline;
    m_pBus = gst_element_get_bus(pipeline);
    m_pGrabber = pGrabber;
    m_pNullRenderer = pRenderer;
    m_pGrabberCallback = pCallback;
  }
  if (!pGrabber->Valid() || !pRenderer->Valid()) return false;
  g_signal_connect(decoder, "pad-added", G_CALLBACK(&CDShowMgr::PadAddedThunk), this);
  return true;
}

// Waits until the graph has prerolled (its first frame is held by the
// renderer). 1 prerolled, 0 failed, -1 the owner stopped the session.
static int WaitForPreroll(GstBus* bus, GstElement* pipeline, const std::atomic<bool>* pStop, int nTimeoutMs) {
  for (int waited = 0; waited < nTimeoutMs; waited += kWaitStepMs) {
    if (pStop && pStop->load()) return -1;
    GstMessage* msg = gst_bus_timed_pop(bus, kWaitStepMs * GST_MSECOND);
    if (!msg) continue;
    int result = 2;
    switch (GST_MESSAGE_TYPE(msg)) {
      case GST_MESSAGE_ASYNC_DONE:
        if (GST_MESSAGE_SRC(msg) == GST_OBJECT(pipeline)) result = 1;
        break;
      case GST_MESSAGE_ERROR: result = 0; break;
      default: break;
    }
    gst_message_unref(msg);
    if (result != 2) return result;
  }
  return 0;
}

// Whether an element made by the factory is anywhere in the bin.
static bool ContainsElement(GstElement* bin, const char* pFactory) {
  GstIterator* it = gst_bin_iterate_recurse(GST_BIN(bin));
  GValue item = G_VALUE_INIT;
  bool bFound = false;
  while (!bFound && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
    GstElementFactory* factory = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item)));
    bFound = factory && g_strcmp0(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), pFactory) == 0;
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(it);
  return bFound;
}

bool CDShowMgr::RunFileGraph(const std::string& path) {
  // A path the platform cannot name is an error, never a shortened path.
  if (path.empty() || path.find('\0') != std::string::npos || path.size() >= PATH_MAX) return false;
  // Only a regular file is a media file: a FIFO, device or folder under a
  // media name would block the graph's preroll with no writer to end it.
  if (!platform::IsRegularFile(path)) return false;
  if (!RegisterElements()) return false;
  GError* err = nullptr;
  gchar* uri = gst_filename_to_uri(path.c_str(), &err);
  if (!uri) {
    if (err) g_error_free(err);
    return false;
  }
  const std::string fileUri = uri;
  g_free(uri);

  if (m_bStreamMode) {
    const char* pSink = std::getenv(kAudioSinkVariable);
    m_AudioSinkName = (pSink && *pSink) ? pSink : "autoaudiosink";
  }
  if (!BuildPipeline(fileUri)) return false;

  if (gst_element_set_state(m_pPipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) return false;
  const int preroll = WaitForPreroll(m_pBus, m_pPipeline, m_Params.pStopFlag, kPrerollTimeoutMs);
  if (preroll == 0) return false;
  if (preroll < 0) return true;  // stopped by the owner while opening

  m_bLateLanding = ContainsElement(m_pPipeline, "mpegpsdemux");
  if (m_nVideoCount > 0) {
    if (!ReadConnectedType()) return false;
    if (m_bStreamMode && !StartFrameThread()) return false;
  }
  // Sound: the owner's level and switch while streaming; other sessions
  // have no sound output at all.
  if (m_bStreamMode) {
    if (m_Params.pVolumeLevel && m_Params.pVolumeMaximum)
      m_nVolume = VolumeToMillibel(m_Params.pVolumeLevel->load(), m_Params.pVolumeMaximum->load());
    m_bMuted = m_Params.pSoundFlag && !m_Params.pSoundFlag->load();
    ApplyVolume();
  }
  m_nDuration = QueryDuration();  // unknown (0) is no error
  if (m_bLateLanding.load() && m_nVideoCount > 0) {
    // A program stream's demuxer reckons the duration by its pack clock,
    // short of the pictures: the span of the video's own time stamps
    // covers every frame.
    const std::int64_t interval = m_Clock.FrameInterval();
    const std::int64_t video = VideoSpanDuration(ReadVideoTimeSpan(path, interval * 9 / 1000), interval);
    if (video > m_nDuration.load()) m_nDuration = video;
  }

  // A session asked to resume somewhere seeks once; position 0 is where a
  // fresh graph already stands (a seek there would lose the first frame of
  // some streams).
  if (m_Params.pSeekFlag && m_Params.pSeekFlag->load() && m_Params.pSeekDenominator &&
      m_Params.pSeekDenominator->load() != 0) {
    m_Params.pSeekFlag->store(false);
    const std::int32_t a = m_Params.pSeekNumerator ? m_Params.pSeekNumerator->load() : 0;
    if (a != 0) SeekToFraction(a, m_Params.pSeekDenominator->load());
  }

  ArmGrabber();
  if (m_bGrabMode && m_nVideoCount == 0) return true;  // a file without video: nothing to grab
  if (m_bGrabMode && m_nFramesReceived > 0) return true;

  {
    // Under the control lock, so that a pause asked for at this moment is
    // either seen here or finds the graph running.
    std::lock_guard control(m_ControlLock);
    const bool bPaused = m_bStreamMode && m_Params.pPauseFlag && m_Params.pPauseFlag->load();
    if (gst_element_set_state(m_pPipeline, bPaused ? GST_STATE_PAUSED : GST_STATE_PLAYING) ==
        GST_STATE_CHANGE_FAILURE)
      return false;
    m_nState = bPaused ? GRAPH_PAUSED : GRAPH_RUNNING;
    // A seek to the position the session resumes at (above) closed the gate
    // of the graph it found paused: a running graph opens it again.
    if (bPaused)
      m_Gate.Close();
    else
      m_Gate.Open();
  }
  return WaitLoop();
}

bool CDShowMgr::ReadConnectedType() {
  TConnectedMediaType type;
  if (m_pGrabber->GetConnectedMediaType(&type) != GRAB_TYPE_OK) return false;
  const std::int32_t nBits = type.format == "BGR" ? 24 : type.format == "BGRx" ? 32 : 0;
  if (nBits == 0 || type.nWidth <= 0 || type.nHeight <= 0) return false;
  SetFrameLayout(type.nWidth, type.nHeight, nBits, type.nStride);
  if (type.nFpsNumerator > 0)
    m_Clock.SetFrameInterval(
        static_cast<std::int64_t>(10'000'000.0 * type.nFpsDenominator / type.nFpsNumerator + 0.5));
  return true;
}

void CDShowMgr::SetFrameLayout(std::int32_t nWidth, std::int32_t nHeight, std::int32_t nBitsPerPixel,
                               std::int32_t nSourceStride) {
  TFrameLayout layout;
  layout.nWidth = nWidth;
  layout.nHeight = nHeight;
  layout.nBitsPerPixel = nBitsPerPixel;
  layout.nSourceStride = nSourceStride > 0 ? nSourceStride : DibStride(nWidth, nBitsPerPixel);
  m_Frames.SetLayout(layout);
}

bool CDShowMgr::WaitLoop() {
  int nTimeouts = 0;
  for (;;) {
    bool bEnd = false;
    bool bEndOfStream = false;
    GstMessage* msg = gst_bus_timed_pop(m_pBus, kWaitStepMs * GST_MSECOND);
    if (msg) {
      // Read every pending message; end of stream and errors end the session.
      do {
        const GstMessageType type = GST_MESSAGE_TYPE(msg);
        if (type == GST_MESSAGE_EOS || type == GST_MESSAGE_ERROR) bEnd = true;
        if (type == GST_MESSAGE_EOS) bEndOfStream = true;
        gst_message_unref(msg);
      } while ((msg = gst_bus_pop(m_pBus)) != nullptr);
    } else {
      ++nTimeouts;
    }
    // At the end of the file the frames still queued for a slower owner
    // are handed over first, so that the owner sees the file's last frame;
    // the owner's stop ends the wait.
    if (bEndOfStream && m_bStreamMode && m_Frames.Running())
      while (!OwnerStopped() && !m_Frames.WaitDrained(std::chrono::milliseconds(kWaitStepMs))) {
      }
    if (bEnd || OwnerStopped()) return true;
    if (m_bGrabMode) {
      if (m_nFramesReceived > 0) return true;
      if (nTimeouts > kGrabTimeouts) return false;
    }
  }
}

void CDShowMgr::HoldSample(const TGrabSample& sample, const TFrameStamp& stamp) {
  {
    std::lock_guard lock(m_HoldLock);
    if (!m_bArmed) {
      // Not yet handed on: keep the newest frame (the one the graph shows).
      m_Held.assign(sample.pData, sample.pData + sample.nSize);
      m_HeldStamp = stamp;
      m_bHeld = true;
      return;
    }
  }
  if (LeaseSampleToOwner(sample, stamp)) return;
  OnSample(sample.pData, sample.nSize, stamp.dTime, stamp.nIndex);
}

// A streamed file's frame for an owner that takes top-down rows: queued in
// the graph's own buffer, which the owner reads once, into its store.
bool CDShowMgr::LeaseSampleToOwner(const TGrabSample& sample, const TFrameStamp& stamp) {
  if (!m_bStreamMode || !m_Params.bTopDownRows || !m_Params.pCallback) return false;
  if (OwnerStopped()) return true;
  TFrameLease lease;
  lease.pRelease = &ReleaseSampleLease;
  if (!LeaseSample(sample, &lease.pData, &lease.nBytes, &lease.pHandle)) return false;
  TFrameStamp leased = stamp;
  if (leased.nIndex < 0) leased.nIndex = m_Clock.IndexOf(std::llround(stamp.dTime * 1e7));
  if (m_Frames.WriteLease(lease, leased)) ++m_nFramesReceived;
  return true;
}

void CDShowMgr::DisarmGrabber() {
  std::lock_guard lock(m_HoldLock);
  m_bArmed = false;
  m_bHeld = false;
}

void CDShowMgr::ArmGrabber() {
  std::vector<std::uint8_t> held;
  TFrameStamp stamp;
  bool bHeld;
  {
    std::lock_guard lock(m_HoldLock);
    m_bArmed = true;
    bHeld = m_bHeld;
    m_bHeld = false;
    held.swap(m_Held);
    stamp = m_HeldStamp;
  }
  if (bHeld) OnSample(held.data(), held.size(), stamp.dTime, stamp.nIndex);
}

// ---------------------------------------------------------------------------
// Frames

// Copies top-down rows of nSourceStride bytes into bottom-up rows of
// nDestStride bytes, nRowBytes of each.
static void FlipRows(std::uint8_t* pDest, std::int32_t nDestStride, const std::uint8_t* pSource,
                     std::int32_t nSourceStride, std::size_t nRowBytes, std::int32_t nRows) {
  for (std::int32_t y = 0; y < nRows; ++y)
    std::memcpy(pDest + static_cast<std::size_t>(nRows - 1 - y) * nDestStride,
                pSource + static_cast<std::size_t>(y) * nSourceStride, nRowBytes);
}

void CDShowMgr::OnSample(const std::uint8_t* pData, std::size_t nSize, double dTime, std::int64_t nIndex) {
  if (OwnerStopped() || !pData) return;
  TFrameStamp stamp;
  stamp.dTime = dTime;
  stamp.nIndex = nIndex >= 0 ? nIndex : m_Clock.IndexOf(std::llround(dTime * 1e7));
  if (!m_Params.pCallback) {
    if (m_bGrabMode && m_bFirstFrameTaken.exchange(true)) return;
    CopyToRequestFrame(pData, nSize);
    ++m_nFramesReceived;
    return;
  }
  if (m_bGrabMode && m_bFirstFrameTaken.load()) return;
  if (!m_bGrabMode) {
    if (m_Frames.Write(pData, nSize, stamp)) ++m_nFramesReceived;
    return;
  }
  // One frame for a grab, handed over on this thread. The rows are read at
  // the grabbed stride and written at the DIB stride; a buffer that does
  // not hold every row of the frame is not a frame.
  const TFrameLayout layout = m_Frames.Layout();
  const Dib::TBitmapInfoHeader header = LayoutHeader(layout);
  const std::size_t nImage = header.biSizeImage;
  const std::int32_t nHeight = layout.nHeight;
  const std::size_t nRowBytes = static_cast<std::size_t>(layout.nWidth) * (layout.nBitsPerPixel / 8);
  if (nImage == 0 || nHeight <= 0 || nRowBytes == 0 || layout.nSourceStride <= 0 ||
      static_cast<std::size_t>(layout.nSourceStride) < nRowBytes)
    return;
  if (nSize <
      static_cast<std::size_t>(layout.nSourceStride) * static_cast<std::size_t>(nHeight - 1) + nRowBytes)
    return;
  if (m_bFirstFrameTaken.exchange(true)) return;
  m_FlipBuffer.assign(nImage, 0);
  FlipRows(m_FlipBuffer.data(), DibStride(layout.nWidth, layout.nBitsPerPixel), pData, layout.nSourceStride,
           nRowBytes, nHeight);
  m_GrabHeader = header;
  m_Notice = TMediaFrameNotice{};
  m_Notice.pHeader = &m_GrabHeader;
  m_Notice.nWidth = header.biWidth;
  m_Notice.nHeight = nHeight;
  m_Notice.pRgbData = m_FlipBuffer.data();
  m_Notice.nRgbSize = static_cast<std::int32_t>(nImage);
  m_Notice.ePixelFormat = PF_RGB24;
  m_Notice.dTime = dTime;
  m_Notice.nFrameNumber = stamp.nIndex;
  m_Notice.bFileIndex = true;
  m_Params.pCallback(m_Sender.pContext, MEDIA_NOTIFY_FRAME, &m_Sender, &m_Notice);
  ++m_nFramesReceived;
}

bool CDShowMgr::CopyToRequestFrame(const std::uint8_t* pData, std::size_t nSize) {
  if (!m_pRequest) return false;
  const TFrameLayout layout = m_Frames.Layout();
  const std::int32_t nWidth = layout.nWidth;
  const std::int32_t nHeight = layout.nHeight;
  const std::int32_t nSourceStride = layout.nSourceStride;
  m_pRequest->nWidth = nWidth;
  m_pRequest->nHeight = nHeight;
  if (m_pRequest->ePurpose != SRC_GRAB_FRAME) return true;
  if (m_pRequest->ePixelFormat != PF_RGB32 || !m_pRequest->pFrameBuffer) return false;
  if (layout.nBitsPerPixel != 24 || nSourceStride <= 0) return false;
  TFrameBuffer* pFrame = m_pRequest->pFrameBuffer;
  const bool bReuse = pFrame->pBuffer && pFrame->ePixelFormat == PF_RGB32 && pFrame->nRowAlignment == 4 &&
                      pFrame->nHeightAlignment == 1 && pFrame->nWidth == nWidth && pFrame->nHeight == nHeight;
  if (!bReuse) {
    FreeFrameBuffer(pFrame);
    pFrame->ePixelFormat = PF_RGB32;
    pFrame->nWidth = nWidth;
    pFrame->nHeight = nHeight;
    pFrame->nRowAlignment = 4;
    pFrame->nHeightAlignment = 1;
    if (!AllocFrameBuffer(pFrame)) return false;
  }
  // Only the rows the buffer really holds are converted; missing rows
  // stay black.
  // A row counts when its pixels are all there (its padding need not be).
  const std::size_t nRowBytes = static_cast<std::size_t>(nWidth) * 3;
  if (static_cast<std::size_t>(nSourceStride) < nRowBytes) return false;
  const std::size_t nWhole = nSize < nRowBytes ? 0 : (nSize - nRowBytes) / nSourceStride + 1;
  const std::int32_t nRows =
      static_cast<std::int32_t>(std::min<std::size_t>(static_cast<std::size_t>(nHeight), nWhole));
  for (std::int32_t y = 0; y < nHeight; ++y) {
    std::uint8_t* pDest = pFrame->pBuffer + static_cast<std::size_t>(nHeight - 1 - y) * pFrame->nStride;
    if (y >= nRows) {
      std::memset(pDest, 0, static_cast<std::size_t>(nWidth) * 4);
      continue;
    }
    const std::uint8_t* pSrc = pData + static_cast<std::size_t>(y) * nSourceStride;
    for (std::int32_t x = 0; x < nWidth; ++x) {
      pDest[4 * x + 0] = pSrc[3 * x + 0];
      pDest[4 * x + 1] = pSrc[3 * x + 1];
      pDest[4 * x + 2] = pSrc[3 * x + 2];
      pDest[4 * x + 3] = 0;
    }
  }
  return true;
}

void CDShowMgr::FillGrabResult() {
  if (!m_pRequest || !m_pRequest->pResults || m_nVideoCount == 0) return;
  const TStreamType eType = m_pRequest->eStreamType;
  if (eType != ST_AVI && eType != ST_WMV && eType != ST_ASF) return;
  const double values[2] = {m_Clock.FrameInterval() / 1e7, m_nDuration.load() / 1e7};
  std::memcpy(m_pRequest->pResults, values, sizeof values);
}

// The file's frames reach the owner on the notification thread; the
// streaming thread waits for the owner rather than drop a frame.
bool CDShowMgr::StartFrameThread() {
  return m_Frames.Start(m_ePixelFormat, true,
                        [this](const TMediaFrameNotice& notice) { DeliverNotice(notice); });
}

void CDShowMgr::DeliverNotice(const TMediaFrameNotice& notice) {
  if (!m_Params.pCallback) return;
  TMediaFrameNotice copy = notice;
  m_Params.pCallback(m_Sender.pContext, MEDIA_NOTIFY_FRAME, &m_Sender, &copy);
}

void CDShowMgr::StopFrameThread() {
  m_Gate.Release();
  m_Frames.Stop();
}

void CDShowMgr::ReleaseGraph() {
  GstElement* pipeline;
  GstElement* volume;
  GstBus* bus;
  {
    std::lock_guard lock(m_GraphLock);
    pipeline = m_pPipeline;
    volume = m_pVolume;
    bus = m_pBus;
    m_pPipeline = nullptr;
    m_pVolume = nullptr;
    m_pBus = nullptr;
  }
  if (pipeline) gst_element_set_state(pipeline, GST_STATE_NULL);
  if (volume) gst_object_unref(volume);
  if (bus) gst_object_unref(bus);
  // The graph holds its own references to the grabber and the renderer.
  std::lock_guard lock(m_GraphLock);
  if (m_pGrabber) m_pGrabber->SetCallback(nullptr);
  delete m_pGrabber;
  delete m_pNullRenderer;
  delete m_pGrabberCallback;
  m_pGrabber = nullptr;
  m_pNullRenderer = nullptr;
  m_pGrabberCallback = nullptr;
  if (pipeline) gst_object_unref(pipeline);
  m_nState = GRAPH_NONE;
}

}  // namespace DShowMgr
