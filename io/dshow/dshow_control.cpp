// Control of a running session from other threads, and the one-shot
// sessions that list devices and Windows Media profiles.

#include <climits>
#include <cmath>
#include <vector>

#include <gst/gst.h>

#include "io/dshow/dshow_mgr.h"
#include "io/dshow/sample_grabber.h"

using namespace ZarnTypes;

namespace DShowMgr {

GstElement* CDShowMgr::RefPipeline() const {
  std::lock_guard lock(m_GraphLock);
  return m_pPipeline ? GST_ELEMENT(gst_object_ref(m_pPipeline)) : nullptr;
}

int CDShowMgr::Play() {
  std::lock_guard control(m_ControlLock);
  const std::int32_t state = m_nState.load();
  if (state != GRAPH_STOPPED && state != GRAPH_PAUSED) return 0;
  GstElement* pipeline = RefPipeline();
  if (!pipeline) return 0;
  const bool bOk = gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
  gst_object_unref(pipeline);
  if (!bOk) return -1;
  m_nState = GRAPH_RUNNING;
  m_Gate.Open();
  return 0;
}

// A stopped graph keeps its position and shows its last frame: it is held
// paused, so that playing resumes where it stopped.
int CDShowMgr::Stop() {
  std::lock_guard control(m_ControlLock);
  const std::int32_t state = m_nState.load();
  if (state == GRAPH_STOPPED || state == GRAPH_NONE) return 0;
  GstElement* pipeline = RefPipeline();
  if (!pipeline) return 0;
  // The gate first: from now on no frame passes the grabber, whatever the
  // sinks do with the pause.
  m_Gate.Close();
  const bool bOk = gst_element_set_state(pipeline, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE;
  gst_object_unref(pipeline);
  if (!bOk) {
    if (state == GRAPH_RUNNING) m_Gate.Open();
    return -1;
  }
  m_nState = GRAPH_STOPPED;
  return 0;
}

int CDShowMgr::Pause() {
  std::lock_guard control(m_ControlLock);
  if (m_nState.load() != GRAPH_RUNNING) return 0;
  GstElement* pipeline = RefPipeline();
  if (!pipeline) return 0;
  m_Gate.Close();
  const bool bOk = gst_element_set_state(pipeline, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE;
  gst_object_unref(pipeline);
  if (!bOk) {
    m_Gate.Open();
    return -1;
  }
  m_nState = GRAPH_PAUSED;
  return 0;
}

std::int64_t CDShowMgr::QueryDuration() {
  GstElement* pipeline = RefPipeline();
  if (!pipeline) return 0;
  gint64 duration = 0;
  const bool bOk = gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration);
  gst_object_unref(pipeline);
  if (!bOk || duration <= 0) return 0;
  return duration / 100;
}

std::int64_t CDShowMgr::QueryPosition() {
  // With video, the position is the time of the frame shown last.
  const std::int64_t landed = m_nLandedTime.load();
  if (m_nVideoCount.load() > 0 && landed >= 0)
    return std::max<std::int64_t>(0, landed - std::max<std::int64_t>(0, m_Clock.BaseTime())) / 100;
  GstElement* pipeline = RefPipeline();
  if (!pipeline) return -1;
  gint64 position = 0;
  const bool bOk = gst_element_query_position(pipeline, GST_FORMAT_TIME, &position);
  gst_object_unref(pipeline);
  if (!bOk || position < 0) return -1;
  const std::int64_t base = std::max<std::int64_t>(0, m_Clock.BaseTime());
  return std::max<std::int64_t>(0, position - base) / 100;
}

bool CDShowMgr::GetPosition(TMediaPosition* pPosition) {
  if (!pPosition || m_eSourceFormat == FF_SYSTEM_DEVICE) return false;
  const std::int64_t position = QueryPosition();
  if (position < 0) return false;
  *pPosition = TMediaPosition{};
  pPosition->eKind = MEDIA_POS_STREAM_TIME;
  pPosition->nPosition = position;
  return true;
}

bool CDShowMgr::GetPositionAndDuration(TMediaProgress* pProgress) {
  if (!pProgress || m_eSourceFormat == FF_SYSTEM_DEVICE) return false;
  std::int64_t duration = m_nDuration;
  if (duration == 0) duration = QueryDuration();  // some streams learn it only while playing
  if (duration == 0) return false;
  const std::int64_t position = QueryPosition();
  if (position < 0) return false;
  pProgress->nPosition = std::min(position, duration);
  pProgress->nDuration = duration;
  return true;
}

bool CDShowMgr::SeekToFraction(std::int32_t nNumerator, std::int32_t nDenominator) {
  if (m_eSourceFormat == FF_SYSTEM_DEVICE) return false;
  std::lock_guard control(m_ControlLock);
  if (nDenominator == 0 || nNumerator == nDenominator || !SeekLocked(nNumerator, nDenominator)) {
    // The owner drops the frames of the channel after asking for a seek
    // until one marked as the first after a seek comes: a seek that is not
    // done marks the next frame all the same.
    m_Frames.BeginFlush();
    m_Frames.EndFlush();
    return false;
  }
  return true;
}

bool CDShowMgr::SeekLocked(std::int32_t nNumerator, std::int32_t nDenominator) {
  std::int64_t duration = m_nDuration;
  if (duration == 0) duration = m_nDuration = QueryDuration();
  if (duration == 0) return false;
  GstElement* pipeline = RefPipeline();
  if (!pipeline) return false;

  double fraction = static_cast<double>(nNumerator) / static_cast<double>(nDenominator);
  if (!std::isfinite(fraction)) fraction = 0.0;
  const std::int64_t target = std::clamp<std::int64_t>(
      static_cast<std::int64_t>(std::clamp(fraction, 0.0, 1.0) * static_cast<double>(duration)), 0, duration);
  const bool bVideo = m_nVideoCount.load() > 0;
  const std::int64_t interval = m_Clock.FrameInterval() > 0 ? m_Clock.FrameInterval() : 400'000;
  // The frame asked for: the one whose time is nearest the target, and
  // never one after the file's last frame.
  const std::int64_t nFrames = std::max<std::int64_t>(1, (duration + interval / 2) / interval);
  const std::int64_t index = std::min<std::int64_t>(
      std::llround(static_cast<double>(target) / static_cast<double>(interval)), nFrames - 1);
  const std::int64_t frameTime = index * interval;

  const std::int32_t state = m_nState.load();
  bool bOk = gst_element_set_state(pipeline, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE;
  // Frames queued, being written or waiting for room before the seek are
  // stale, and a writer waiting for the owner must not hold up the flush.
  m_Frames.BeginFlush();
  m_Gate.BeginFlush();
  // While the seek settles the grabber only keeps the newest frame; the
  // owner sees the one the graph finally shows.
  DisarmGrabber();
  const std::int64_t base = std::max<std::int64_t>(0, m_Clock.BaseTime());
  // A flushing, accurate seek. Demuxers that land late (MPEG program
  // streams land up to 1.5 s after the target, past the last frame near
  // the end) are sought again from earlier points (2 s, 8 s before, then the
  // start) while frames before the target are decoded but not shown. When
  // even the start does not reach a frame at the target (a target after the
  // last frame), the frame before it is shown instead.
  std::vector<std::int64_t> schedule;
  if (!m_bLateLanding.load()) schedule.push_back(frameTime);
  for (std::int64_t back : {std::int64_t{20'000'000}, std::int64_t{80'000'000}})
    if (frameTime > back) schedule.push_back(frameTime - back);
  if (schedule.empty() || schedule.back() != 0) schedule.push_back(0);
  const std::size_t nFloored = schedule.size();
  for (std::int64_t back = interval; back < frameTime && schedule.size() < nFloored + 12; back *= 2)
    schedule.push_back(frameTime - back);
  bool bShownAny = !bVideo;
  for (std::size_t attempt = 0; bOk && attempt < schedule.size(); ++attempt) {
    const bool bFloor = bVideo && attempt < nFloored;
    const std::int64_t position = schedule[attempt];
    // Frames more than half a period before the frame asked for are not shown.
    m_nSeekFloor = bFloor ? base + std::max<std::int64_t>(0, frameTime - interval / 2) * 100 : -1;
    const std::uint64_t flushes = m_nGraphFlushes.load();
    // The start is the file's start, wherever its stream time begins (an
    // MPEG program stream's first frame is at 0.68 s, and a seek there
    // lands a key frame later).
    const std::int64_t absolute = position == 0 ? 0 : base + position * 100;
    const bool bSought = gst_element_seek_simple(
        pipeline, GST_FORMAT_TIME, static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
        absolute);
    if (bSought &&
        gst_element_get_state(pipeline, nullptr, nullptr, 5 * GST_SECOND) == GST_STATE_CHANGE_FAILURE) {
      bOk = false;
      break;
    }
    if (!bVideo) {
      bOk = bSought;
      break;
    }
    // Shown: a frame reached the grabber after this seek's flush.
    const std::int64_t landed = m_nLandedTime.load();
    const bool bShown = bSought && m_nGraphFlushes.load() > flushes && landed >= 0;
    const bool bLate = bShown && (landed - base) / 100 > frameTime + interval / 2;
    bShownAny |= bShown;
    // A demuxer that landed this late once is sought from earlier points
    // from now on: a late landing near the end finds no frame, and some
    // demuxers refuse further seeks after that.
    if (bShown && (landed - base) / 100 > position + 5'000'000) m_bLateLanding = true;
    if (bShown && (!bLate || position == 0)) break;
  }
  bOk = bOk && bShownAny;
  m_nSeekFloor = -1;
  // Frames without a time count on from the frame asked for.
  m_Clock.Restart(index);
  m_Frames.EndFlush();
  // Stopped or paused, the frame the seek landed on is the last to pass.
  if (state != GRAPH_RUNNING) m_Gate.Close();
  m_Gate.EndFlush();
  ArmGrabber();
  if (state == GRAPH_RUNNING &&
      gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
    bOk = false;
  gst_object_unref(pipeline);
  return bOk;
}

void CDShowMgr::ApplyVolume() {
  std::lock_guard lock(m_GraphLock);
  if (!m_pVolume) return;
  g_object_set(m_pVolume, "volume", MillibelToGain(m_nVolume.load()), "mute", m_bMuted.load() ? TRUE : FALSE,
               nullptr);
}

bool CDShowMgr::SetVolume(std::int32_t nLevel, std::int32_t nMaximum) {
  return SetAudioVolume(VolumeToMillibel(nLevel, nMaximum));
}

bool CDShowMgr::SetAudioVolume(std::int32_t nMillibel) {
  if (m_eSourceFormat == FF_SYSTEM_DEVICE) return false;
  m_nVolume = std::clamp(nMillibel, kVolumeSilence, kVolumeFull);
  std::lock_guard lock(m_GraphLock);
  if (!m_pVolume) return false;
  // Muted output stays muted: the level is applied, the switch is not touched.
  g_object_set(m_pVolume, "volume", MillibelToGain(m_nVolume.load()), nullptr);
  return true;
}

bool CDShowMgr::EnableSound(bool bOn) {
  if (m_eSourceFormat == FF_SYSTEM_DEVICE) return false;
  m_bMuted = !bOn;
  std::lock_guard lock(m_GraphLock);
  if (!m_pVolume) return false;
  g_object_set(m_pVolume, "volume", MillibelToGain(m_nVolume.load()), "mute", bOn ? FALSE : TRUE, nullptr);
  return true;
}

double CDShowMgr::AppliedGain() const {
  std::lock_guard lock(m_GraphLock);
  if (!m_pVolume) return -1.0;
  gdouble gain = 0.0;
  gboolean mute = FALSE;
  g_object_get(m_pVolume, "volume", &gain, "mute", &mute, nullptr);
  return mute ? 0.0 : gain;
}

bool CDShowMgr::ShowPropertyPages(std::int32_t, void*) { return false; }

// ---------------------------------------------------------------------------
// Devices and profiles

static std::string PropertyString(const GstStructure* props, const char* key) {
  if (!props) return {};
  const gchar* value = gst_structure_get_string(props, key);
  return value ? value : "";
}

bool ListMediaDevices(TMediaDeviceList* pList) {
  if (!pList || (!pList->bListVideo && !pList->bListAudio)) return false;
  pList->nCount = 0;
  if (!gst_init_check(nullptr, nullptr, nullptr)) return false;
  const struct {
    bool bWanted;
    const char* pClass;
    std::int32_t nCategory;
  } passes[] = {{pList->bListVideo, "Video/Source", kDeviceCategoryVideoInput},
                {pList->bListAudio, "Audio/Source", kDeviceCategoryAudioInput}};
  for (const auto& pass : passes) {
    if (!pass.bWanted) continue;
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, pass.pClass, nullptr);
    GList* devices = gst_device_monitor_get_devices(monitor);
    std::int32_t nAudioIndex = 0;
    for (GList* it = devices; it; it = it->next) {
      GstDevice* device = GST_DEVICE(it->data);
      // The device's properties under the names the list reads.
      CDevicePropertyBag bag;
      gchar* name = gst_device_get_display_name(device);
      if (name && *name) bag.Write(kPropFriendlyName, std::string(name));
      g_free(name);
      GstStructure* props = gst_device_get_properties(device);
      std::string description = PropertyString(props, "device.description");
      if (description.empty()) description = PropertyString(props, "node.description");
      if (!description.empty()) bag.Write(kPropDescription, description);
      if (pass.nCategory == kDeviceCategoryVideoInput) {
        // The path that opens the device again: a node's path, else its name.
        for (const char* key : {"api.v4l2.path", "device.path", "object.path", "node.name"}) {
          const std::string path = PropertyString(props, key);
          if (path.empty()) continue;
          bag.Write(kPropDevicePath, path);
          break;
        }
      } else {
        // Sound inputs are numbered in the order the platform lists them.
        bag.Write(kPropWaveInId, nAudioIndex++);
      }
      if (props) gst_structure_free(props);
      const TFoundDevice found = ReadFoundDevice(bag);
      if (KeepDevice(pass.nCategory, found)) AppendDevice(*pList, pass.nCategory, found);
    }
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(monitor);
  }
  return true;
}

namespace {
// A one-shot session: op 1, the media-graph tag, a cleared block whose
// context is the caller and whose callback does nothing.
bool RunOneShot(void* pCaller, TSourcePurpose ePurpose, void* pExtension, TMediaRequest& request) {
  TSourceParams params;
  params.ePurpose = ePurpose;
  params.pContext = pCaller;
  params.pCallback = &IgnoreMediaNotify;
  params.pExtension = pExtension;
  request.eOp = MEDIA_OP_READ;
  request.ePurpose = ePurpose;
  request.eTag = MEDIA_REQ_DSHOW_SOURCE;
  request.pParams = &params;
  CDShowMgr session;
  return session.Run(&request);
}
}  // namespace

bool EnumMediaDevices(void* pCaller, TMediaDeviceList* pList) {
  TMediaRequest request;
  return RunOneShot(pCaller, SRC_ENUM_DEVICES, pList, request);
}

bool EnumWindowsMediaProfiles(void* pCaller, TWmProfileList* pList) {
  TMediaRequest request;
  return RunOneShot(pCaller, SRC_ENUM_WM_PROFILES, pList, request);
}

bool DetectMediaDeviceKind(void* pCaller, const std::string& path, std::int32_t nDeviceCategory,
                           std::int32_t* pDeviceKind) {
  TMediaRequest request;
  request.pPath = &path;
  request.nDeviceCategory = nDeviceCategory;
  request.nDeviceKind = pDeviceKind ? *pDeviceKind : 0;
  const bool bOk = RunOneShot(pCaller, SRC_DETECT_DEVICE, nullptr, request);
  if (bOk && pDeviceKind) *pDeviceKind = request.nDeviceKind;
  return bOk;
}

}  // namespace DShowMgr
