#include "io/dshow/wm_sink_gst.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <sys/stat.h>

using namespace ZarnTypes;

namespace WmWriter {

namespace {

using TClock = std::chrono::steady_clock;

// Frames the source queues ahead of the encoder.
constexpr std::size_t kQueuedFrames = 3;
// One step of a wait (a pipeline error or the stop is seen within it).
constexpr auto kWaitStep = std::chrono::milliseconds(20);
// Once the stop is up, a write gives up when the encoder took nothing for
// this long.
constexpr auto kStallAfterStop = std::chrono::seconds(2);
// Longest wait for the end of the stream to reach the file.
constexpr auto kFinishTimeout = std::chrono::seconds(60);

class CGstWmSink final : public IWmSink {
 public:
  CGstWmSink() = default;
  ~CGstWmSink() override { Release(); }
  CGstWmSink(const CGstWmSink&) = delete;
  CGstWmSink& operator=(const CGstWmSink&) = delete;

  bool Open(const TWmSinkFormat& format) override;
  bool Write(const std::uint8_t* pData, std::size_t nSize, std::int64_t nTime,
             std::int64_t nDuration) override;
  bool Finish() override;
  std::string LastError() const override {
    std::lock_guard guard(m_Lock);
    return m_Error;
  }

 private:
  static GstBusSyncReply OnBusMessage(GstBus* pBus, GstMessage* pMessage, gpointer pThis);
  static GstPadProbeReturn OnBufferTaken(GstPad* pPad, GstPadProbeInfo* pInfo, gpointer pThis);
  bool SetError(const std::string& text);
  void Release();

  TWmSinkFormat m_Format;
  std::size_t m_nFrameBytes = 0;
  GstElement* m_pPipeline = nullptr;
  GstElement* m_pSource = nullptr;  // owned by the pipeline
  bool m_bFailed = false;           // writing thread only: a write or the pipeline failed
  bool m_bEnded = false;            // the end of the stream was sent

  mutable std::mutex m_Lock;  // guards the members below
  std::condition_variable m_Changed;
  std::string m_Error;
  bool m_bPipelineError = false;
  bool m_bEos = false;
  std::uint64_t m_nTaken = 0;  // buffers the encoder side took from the source
  TClock::time_point m_LastTaken = TClock::now();
};

GstElement* Make(const char* pFactory, std::string* pMissing) {
  GstElement* pElement = gst_element_factory_make(pFactory, nullptr);
  if (!pElement && pMissing->empty()) *pMissing = pFactory;
  return pElement;
}

bool CGstWmSink::SetError(const std::string& text) {
  std::lock_guard guard(m_Lock);
  if (m_Error.empty()) m_Error = text;
  return false;
}

GstBusSyncReply CGstWmSink::OnBusMessage(GstBus*, GstMessage* pMessage, gpointer pThis) {
  auto* self = static_cast<CGstWmSink*>(pThis);
  switch (GST_MESSAGE_TYPE(pMessage)) {
    case GST_MESSAGE_ERROR: {
      GError* pError = nullptr;
      gchar* pDebug = nullptr;
      gst_message_parse_error(pMessage, &pError, &pDebug);
      std::string text = pError && pError->message ? pError->message : "the encoder pipeline failed";
      if (GST_MESSAGE_SRC(pMessage)) {
        gchar* pName = gst_object_get_name(GST_MESSAGE_SRC(pMessage));
        if (pName) text += std::string(" (") + pName + ")";
        g_free(pName);
      }
      if (pError) g_error_free(pError);
      g_free(pDebug);
      {
        std::lock_guard guard(self->m_Lock);
        self->m_bPipelineError = true;
        if (self->m_Error.empty()) self->m_Error = text;
      }
      self->m_Changed.notify_all();
      break;
    }
    case GST_MESSAGE_EOS: {
      {
        std::lock_guard guard(self->m_Lock);
        self->m_bEos = true;
      }
      self->m_Changed.notify_all();
      break;
    }
    default: break;
  }
  // Nothing reads the bus: messages are not kept.
  return GST_BUS_DROP;
}

GstPadProbeReturn CGstWmSink::OnBufferTaken(GstPad*, GstPadProbeInfo*, gpointer pThis) {
  auto* self = static_cast<CGstWmSink*>(pThis);
  {
    std::lock_guard guard(self->m_Lock);
    ++self->m_nTaken;
    self->m_LastTaken = TClock::now();
  }
  self->m_Changed.notify_all();
  return GST_PAD_PROBE_OK;
}

bool CGstWmSink::Open(const TWmSinkFormat& format) {
  Release();
  m_Format = format;
  m_bFailed = true;  // until the pipeline runs
  {
    std::lock_guard guard(m_Lock);
    m_Error.clear();
    m_bPipelineError = false;
    m_bEos = false;
    m_nTaken = 0;
  }
  if (format.ePixelFormat != PF_RGB24 && format.ePixelFormat != PF_RGB32)
    return SetError("the encoder takes 24- or 32-bit RGB frames only");
  if (format.nWidth <= 0 || format.nHeight <= 0 || format.nFrameRate <= 0)
    return SetError("no frame size or frame rate");
  const int nBits = format.ePixelFormat == PF_RGB24 ? 24 : 32;
  const std::int32_t nStride = ((format.nWidth * nBits + 31) / 32) * 4;
  if (format.nStride != nStride) return SetError("rows are not padded to 4 bytes");
  m_nFrameBytes = static_cast<std::size_t>(nStride) * static_cast<std::size_t>(format.nHeight);
  // Only a regular file is replaced; a folder, FIFO or device is refused
  // before anything opens it.
  struct stat st {};
  if (::stat(format.path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    return SetError(format.path + " is not a regular file");
  GError* pInitError = nullptr;
  if (!gst_init_check(nullptr, nullptr, &pInitError)) {
    std::string text = pInitError && pInitError->message ? pInitError->message : "GStreamer cannot start";
    if (pInitError) g_error_free(pInitError);
    return SetError(text);
  }

  std::string missing;
  GstElement* pSource = Make("appsrc", &missing);
  GstElement* pFlip = Make("videoflip", &missing);
  GstElement* pConvert = Make("videoconvert", &missing);
  GstElement* pBox = format.nWidth % 2 != 0 ? Make("videobox", &missing) : nullptr;
  GstElement* pEncoder = Make("avenc_wmv2", &missing);
  GstElement* pIdentity = Make("identity", &missing);
  GstElement* pMuxer = Make("avmux_asf", &missing);
  GstElement* pFile = Make("filesink", &missing);
  GstElement* pElements[] = {pSource, pFlip, pConvert, pBox, pEncoder, pIdentity, pMuxer, pFile};
  if (!missing.empty()) {
    for (GstElement* pElement : pElements)
      if (pElement) gst_object_unref(gst_object_ref_sink(pElement));
    return SetError("the GStreamer element " + missing + " is not installed");
  }

  GstCaps* pCaps = gst_caps_new_simple(
      "video/x-raw", "format", G_TYPE_STRING, format.ePixelFormat == PF_RGB24 ? "BGR" : "BGRx", "width",
      G_TYPE_INT, format.nWidth, "height", G_TYPE_INT, format.nHeight, "framerate", GST_TYPE_FRACTION,
      format.nFrameRate, 1, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
  g_object_set(pSource, "caps", pCaps, "format", GST_FORMAT_TIME, "is-live", FALSE, "block", FALSE,
               "max-bytes", static_cast<guint64>(m_nFrameBytes * kQueuedFrames), "stream-type",
               GST_APP_STREAM_TYPE_STREAM, nullptr);
  gst_caps_unref(pCaps);
  gst_util_set_object_arg(G_OBJECT(pFlip), "video-direction", "vert");
  if (pBox) g_object_set(pBox, "right", -1, nullptr);
  g_object_set(pEncoder, "qmin", format.nQuantizerMin, "qmax", format.nQuantizerMax, "gop-size",
               format.nKeyFrameSpacing, nullptr);
  if (format.nVideoBitRate > 0)
    g_object_set(pEncoder, "bitrate", static_cast<glong>(format.nVideoBitRate), nullptr);
  g_object_set(pIdentity, "single-segment", TRUE, nullptr);
  g_object_set(pFile, "location", format.path.c_str(), "sync", FALSE, nullptr);

  m_pPipeline = gst_pipeline_new("wm-writer");
  bool bLinked = true;
  GstElement* pPrevious = nullptr;
  for (GstElement* pElement : pElements) {
    if (!pElement) continue;
    gst_bin_add(GST_BIN(m_pPipeline), pElement);
    if (pPrevious && !gst_element_link(pPrevious, pElement)) bLinked = false;
    pPrevious = pElement;
  }
  m_pSource = pSource;
  if (!bLinked) {
    Release();
    return SetError("the encoder pipeline cannot be built");
  }
  GstBus* pBus = gst_element_get_bus(m_pPipeline);
  gst_bus_set_sync_handler(pBus, &CGstWmSink::OnBusMessage, this, nullptr);
  gst_object_unref(pBus);
  GstPad* pPad = gst_element_get_static_pad(pSource, "src");
  gst_pad_add_probe(pPad, GST_PAD_PROBE_TYPE_BUFFER, &CGstWmSink::OnBufferTaken, this, nullptr);
  gst_object_unref(pPad);

  if (gst_element_set_state(m_pPipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    SetError("the file " + format.path + " cannot be created");
    Release();
    return false;
  }
  {
    std::lock_guard guard(m_Lock);
    if (m_bPipelineError) {
      m_bFailed = true;
    } else {
      m_bFailed = false;
      m_LastTaken = TClock::now();
    }
  }
  if (m_bFailed) {
    Release();
    return false;
  }
  return true;
}

bool CGstWmSink::Write(const std::uint8_t* pData, std::size_t nSize, std::int64_t nTime,
                       std::int64_t nDuration) {
  if (!m_pPipeline || m_bFailed || m_bEnded) return SetError("the encoder is not running");
  if (!pData || nSize < m_nFrameBytes) return SetError("a frame is smaller than the recording's frames");
  const std::uint64_t nRoom = static_cast<std::uint64_t>(m_nFrameBytes) * kQueuedFrames;
  // Wait for room in the source's queue.
  for (;;) {
    std::uint64_t nTaken = 0;
    {
      std::lock_guard guard(m_Lock);
      if (m_bPipelineError) {
        m_bFailed = true;
        return false;
      }
      nTaken = m_nTaken;
    }
    if (gst_app_src_get_current_level_bytes(GST_APP_SRC(m_pSource)) + m_nFrameBytes <= nRoom) break;
    std::unique_lock lock(m_Lock);
    m_Changed.wait_for(lock, kWaitStep, [&] { return m_bPipelineError || m_nTaken != nTaken; });
    if (!m_bPipelineError && m_nTaken == nTaken && m_Format.pStopFlag &&
        m_Format.pStopFlag->load(std::memory_order_acquire) &&
        TClock::now() - m_LastTaken > kStallAfterStop) {
      if (m_Error.empty()) m_Error = "the encoder stopped taking frames";
      m_bFailed = true;
      return false;
    }
  }
  GstBuffer* pBuffer = gst_buffer_new_allocate(nullptr, m_nFrameBytes, nullptr);
  if (!pBuffer) {
    m_bFailed = true;
    return SetError("no memory for a frame");
  }
  gst_buffer_fill(pBuffer, 0, pData, m_nFrameBytes);
  GST_BUFFER_PTS(pBuffer) = static_cast<GstClockTime>(nTime) * 100;
  GST_BUFFER_DTS(pBuffer) = GST_CLOCK_TIME_NONE;
  GST_BUFFER_DURATION(pBuffer) =
      nDuration > 0 ? static_cast<GstClockTime>(nDuration) * 100 : GST_CLOCK_TIME_NONE;
  if (gst_app_src_push_buffer(GST_APP_SRC(m_pSource), pBuffer) != GST_FLOW_OK) {
    m_bFailed = true;
    return SetError("the encoder refused a frame");
  }
  return true;
}

bool CGstWmSink::Finish() {
  if (!m_pPipeline) return false;
  bool bComplete = false;
  // After a failed write the file stays incomplete: the pipeline may be
  // stuck, so the end of the stream is not waited for.
  if (!m_bEnded && !m_bFailed) {
    m_bEnded = true;
    if (gst_app_src_end_of_stream(GST_APP_SRC(m_pSource)) == GST_FLOW_OK) {
      std::unique_lock lock(m_Lock);
      const bool bDone =
          m_Changed.wait_for(lock, kFinishTimeout, [this] { return m_bEos || m_bPipelineError; });
      bComplete = bDone && m_bEos && !m_bPipelineError;
      if (!bDone && m_Error.empty()) m_Error = "the end of the file was not written in time";
    } else {
      SetError("the end of the stream could not be sent");
    }
  }
  Release();
  {
    std::lock_guard guard(m_Lock);
    if (m_bPipelineError) bComplete = false;
  }
  return bComplete && !m_bFailed;
}

void CGstWmSink::Release() {
  if (!m_pPipeline) return;
  gst_element_set_state(m_pPipeline, GST_STATE_NULL);
  GstBus* pBus = gst_element_get_bus(m_pPipeline);
  gst_bus_set_sync_handler(pBus, nullptr, nullptr, nullptr);
  gst_object_unref(pBus);
  gst_object_unref(m_pPipeline);
  m_pPipeline = nullptr;
  m_pSource = nullptr;
}

[[maybe_unused]] const bool g_bInstalled = (SetWmSinkFactory(&MakeGstWmSink), true);

}  // namespace

std::unique_ptr<IWmSink> MakeGstWmSink() { return std::make_unique<CGstWmSink>(); }

void UseGstWmSink() { SetWmSinkFactory(&MakeGstWmSink); }

}  // namespace WmWriter
