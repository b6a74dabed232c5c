// Recording: the "Start / Stop recording" command, the recorders' numbers
// and settings for each session, the saved recorder settings, and the
// engine's recording notices. The writing itself is the Qt-free
// RecordWriter::CRecordWriter (document/record_writer.h).
//
// Recording a capture device inside its own graph (AVI, ASF, WMA, and WMV
// without "Enable custom sampling in writer") belongs to the capture
// devices; such a channel is left alone by the command here. Every other
// source has no such graph: its WMV goes through the recorder's own writer,
// and its AVI, ASF or WMA recording is refused by the recorder when it
// starts (a message naming the channel), which takes the channel out of the
// recording.

#include <algorithm>
#include <climits>
#include <cstring>

#include "document/zarn_doc.h"
#include "document/zarn_doc_blocks.h"
#include "document/zarn_doc_record_cfg.h"
#include "shell/application.h"

namespace ZarnDoc {

using namespace ZarnTypes;

namespace {

void Put32(std::uint8_t* block, std::size_t at, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (std::size_t i = 0; i < 4; ++i) block[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::int32_t Get32(const std::uint8_t* block, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(block[at + i]) << (8 * i);
  return static_cast<std::int32_t>(v);
}

void Put64(std::uint8_t* block, std::size_t at, std::int64_t value) {
  const auto v = static_cast<std::uint64_t>(value);
  for (std::size_t i = 0; i < 8; ++i) block[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::int64_t Get64(const std::uint8_t* block, std::size_t at) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(block[at + i]) << (8 * i);
  return static_cast<std::int64_t>(v);
}

// A stored flag byte takes a new value only when its meaning changed, so a
// record read and written back unchanged keeps its bytes.
void PutFlag(std::uint8_t& byte, bool value) {
  if ((byte != 0) != value) byte = value ? 1 : 0;
}

// The AVI block: value, flag byte, the AVI type.
constexpr std::size_t kAviValue = 0, kAviFlag = 4, kAviValue2 = 8;
// The Windows Media block, as the Windows Media page hands it out: the
// format copy, a reserved value, the profile id, "Enable custom sampling in
// writer", "Create a new profile according to the features of input
// streams"; the recorder keeps its profile version and duration in the
// block's reserved bytes after the last flag. The other reserved bytes keep
// what the record held.
constexpr std::size_t kWmValue = 0, kWmValue2 = 4, kWmGuid = 8, kWmCustomSampling = 24, kWmNewProfile = 32,
                      kWmVersion = 36, kWmDuration = 40;

bool ValidChannel(int channel) { return channel >= 0 && channel < kChannelCount; }

}  // namespace

// ---------------------------------------------------------------------------
// "Start / Stop recording"

void CZarnDoc::OnCaptureRecord() {
  if (!m_bRecording) {
    // Each recorder is open before the switch lets the engine's frames in.
    for (int ch = 0; ch < kChannelCount; ++ch) SetChannelRecording(true, ch);
    m_bRecording = true;
  } else {
    // The switch goes first: no frame is written once the recorders pause.
    m_bRecording = false;
    for (int ch = 0; ch < kChannelCount; ++ch) SetChannelRecording(false, ch);
  }
}

void CZarnDoc::SetChannelRecording(bool on, int channel) {
  // The next session start numbers a new recording.
  m_bRecordSessionCounted = false;
  if (!ValidChannel(channel)) return;
  if (!m_bRecordChannel[channel] || !m_Source[channel].bOpen || !m_Engine.IsRunning()) return;
  SaveStream::CSaveStream& recorder = m_Recorder[static_cast<std::size_t>(channel)];
  const bool device = m_Source[channel].eStreamType == ST_SYSTEM_DEVICE;
  if (recorder.RecordsInCaptureGraph(device)) return;
  // A recorder opened here takes its writer's settings on this thread.
  if (on && !recorder.IsOpen()) recorder.HandOverSessionSettings(device);
  const bool ok = m_RecordWriter.SetRecorderRecording(on, channel, RecordSettings(channel));
  if (on && !ok) m_bRecordChannel[channel] = false;
}

bool CZarnDoc::WriteRecordedFrame(int channel, std::int32_t frameNumber) {
  return m_RecordWriter.WriteRecordedFrame(channel, frameNumber);
}

// ---------------------------------------------------------------------------
// What the per-frame writer and the session start take

RecordWriter::TRecordSettings CZarnDoc::RecordSettings(int channel) {
  if (!ValidChannel(channel)) return {};
  const SaveStream::CSaveStream& recorder = m_Recorder[static_cast<std::size_t>(channel)];
  RecordWriter::TRecordSettings s = RecordWriter::SettingsOfRecorder(recorder);
  // A capture device records in its own graph unless it only previews.
  s.bGraphRecording = m_Source[channel].eStreamType == ST_SYSTEM_DEVICE &&
                      ChannelReader(channel).DeviceSettings().nCaptureWorkMode != 1;
  const TPictInPict& pip = m_Pip[channel];
  if (recorder.m_bPictureInPicture && pip.bEnabled) {
    RecordWriter::TRecordPip& p = s.pip;
    p.bEnabled = true;
    // The channel's own picture (channels 0 and 1), or with the pane-layout
    // switch the picture of the channel its pane shows.
    p.nMainChannel = recorder.m_bPaneLayout ? m_nPaneChannel[channel] : (channel <= 1 ? channel : -1);
    p.nInsetChannel = pip.nInsetChannel;
    p.insetRect = {0, 0, pip.nWidth, pip.nHeight};
    if (pip.nPlacement) p.insetRect.x = pip.nX, p.insetRect.y = pip.nY;
    p.bSourceRect = pip.nSourceRect != 0;
    p.sourceRect = {pip.nSourceX, pip.nSourceY, pip.nSourceWidth, pip.nSourceHeight};
    // Frames are recorded while playing: the pane's playing stretch mode.
    const TVideoPaneSettings& pane = m_VideoPane[channel];
    p.nStretchCode = pane.bFastStretch ? 3 : pane.nPlayMode;
  }
  return s;
}

void CZarnDoc::MakeRecordStart(RecordWriter::TRecordStart& start) {
  start = RecordWriter::TRecordStart{};
  if (!m_bRecordSessionCounted) {
    ++m_nRecordSession;
    m_bRecordSessionCounted = true;
  }
  start.nSession = m_nRecordSession;
  for (int ch = 0; ch < kChannelCount; ++ch)
    start.nSessionShift[ch] = m_nClipShift[static_cast<std::size_t>(ch)];
  shell::IApplication* app = shell::TheApplication();
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const auto index = static_cast<std::size_t>(ch);
    start.settings[index] = RecordSettings(ch);
    if (!m_Source[ch].bOpen || !m_bRecordChannel[ch]) continue;
    start.bPrepare[index] = true;
    start.nTake[index] = app ? app->NextRecordingNumber() : 0;
    // A session that records is a recording of its own: the next one is
    // numbered anew.
    if (m_bRecording) m_bRecordSessionCounted = false;
  }
}

void CZarnDoc::NumberRecorders() {
  shell::IApplication* app = shell::TheApplication();
  for (std::size_t ch = 0; ch < kChannelCount; ++ch) {
    SaveStream::CSaveStream& recorder = m_Recorder[ch];
    recorder.m_nSessionNumber = m_nRecordSession + m_nClipShift[ch];
    recorder.m_nRecordingNumber = app ? app->NextRecordingNumber() : 0;
    recorder.BuildSingleFileName();
  }
}

std::int32_t CZarnDoc::NextClipNumber(int channel) const {
  if (!ValidChannel(channel)) return 0;
  // The next session start raises the document's number unless the last
  // session made no recording.
  const std::int64_t next = static_cast<std::int64_t>(m_nRecordSession) + (m_bRecordSessionCounted ? 0 : 1) +
                            m_nClipShift[static_cast<std::size_t>(channel)];
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(next, INT32_MIN, INT32_MAX));
}

void CZarnDoc::SetNextClipNumber(int channel, std::int32_t number) {
  if (!ValidChannel(channel)) return;
  const std::int64_t base = static_cast<std::int64_t>(m_nRecordSession) + (m_bRecordSessionCounted ? 0 : 1);
  const std::int64_t shift = static_cast<std::int64_t>(std::clamp(number, 0, kMaxClipIndex)) - base;
  m_nClipShift[static_cast<std::size_t>(channel)] =
      static_cast<std::int32_t>(std::clamp<std::int64_t>(shift, INT32_MIN, INT32_MAX));
  m_Recorder[static_cast<std::size_t>(channel)].m_nSessionNumber = NextClipNumber(channel);
}

// ---------------------------------------------------------------------------
// Saved settings

void RecorderFromCfg(SaveStream::CSaveStream& r, const shell::TRecorderCfg& cfg,
                     const shell::TChannelNaming& names, bool withSettings) {
  r.m_sSingleFileName = names.saveSingle;
  r.m_sOutputFolder = names.dirOut;
  r.m_sTitle = names.titleBase;
  r.m_sPrefix = names.prefix;
  r.m_sSpareName2 = names.suffix;
  r.m_sExtension = names.extension;
  if (!withSettings) return;
  r.m_bSingleFile = cfg.singleFile != 0;
  r.m_nFirstWidth = cfg.clipDigits;
  r.m_nSecondWidth = cfg.frameDigits;
  r.m_Sampling.nMode = cfg.samplingMethod;
  r.m_Sampling.dStartTime = cfg.timeBegin;
  r.m_Sampling.dEndTime = cfg.timeEnd;
  r.m_Sampling.dStepTime = cfg.timeStep;
  r.m_Sampling.nStartFrame = cfg.sampleBegin;
  r.m_Sampling.nEndFrame = cfg.sampleEnd;
  r.m_Sampling.nStepFrame = cfg.sampleStep;
  r.m_bFirstNumber = cfg.addSuffix != 0;
  r.SetOutputFileFormat(cfg.format);
  SaveStream::TStreamEncoderSettings& e = r.m_Encoder;
  e.nJpegQuality = cfg.jpegQuality;
  Blocks::DecodeJpeg2000(cfg.jpeg2000, e.jpeg2000);
  Blocks::DecodePng(cfg.png, e.png);
  Blocks::DecodeGif(cfg.gif, e.gif);
  Blocks::DecodeTiff(cfg.tiff, e.tiff);
  e.nAviValue = Get32(cfg.avi.data(), kAviValue);
  e.bAviFlag = cfg.avi[kAviFlag];
  e.nAviValue2 = Get32(cfg.avi.data(), kAviValue2);
  const std::uint8_t* wm = cfg.windowsMedia.data();
  e.nWmValue = Get32(wm, kWmValue);
  e.nWmValue2 = Get32(wm, kWmValue2);
  std::memcpy(r.m_WmProfileGuid.data(), wm + kWmGuid, r.m_WmProfileGuid.size());
  r.m_bWindowsMedia = wm[kWmCustomSampling] != 0;
  r.m_bWmEmptyProfile = wm[kWmNewProfile] != 0;
  r.m_nWmProfileVersion = Get32(wm, kWmVersion);
  r.m_nDuration = Get64(wm, kWmDuration);
  r.m_bPictureInPicture = cfg.pipEnabled != 0;
  r.m_bPaneLayout = cfg.primaryAsShown != 0;
}

void RecorderToCfg(const SaveStream::CSaveStream& r, shell::TRecorderCfg& cfg, shell::TChannelNaming& names) {
  PutFlag(cfg.singleFile, r.m_bSingleFile);
  cfg.clipDigits = r.m_nFirstWidth;
  cfg.frameDigits = r.m_nSecondWidth;
  cfg.samplingMethod = r.m_Sampling.nMode;
  cfg.timeBegin = r.m_Sampling.dStartTime;
  cfg.timeEnd = r.m_Sampling.dEndTime;
  cfg.timeStep = r.m_Sampling.dStepTime;
  cfg.sampleBegin = r.m_Sampling.nStartFrame;
  cfg.sampleEnd = r.m_Sampling.nEndFrame;
  cfg.sampleStep = r.m_Sampling.nStepFrame;
  PutFlag(cfg.addSuffix, r.m_bFirstNumber);
  cfg.format = r.m_eOutputFormat;
  const SaveStream::TStreamEncoderSettings& e = r.m_Encoder;
  cfg.jpegQuality = e.nJpegQuality;
  Blocks::EncodeJpeg2000(e.jpeg2000, cfg.jpeg2000);
  Blocks::EncodePng(e.png, cfg.png);
  Blocks::EncodeGif(e.gif, cfg.gif);
  Blocks::EncodeTiff(e.tiff, cfg.tiff);
  Put32(cfg.avi.data(), kAviValue, e.nAviValue);
  cfg.avi[kAviFlag] = e.bAviFlag;
  Put32(cfg.avi.data(), kAviValue2, e.nAviValue2);
  std::uint8_t* wm = cfg.windowsMedia.data();
  Put32(wm, kWmValue, e.nWmValue);
  Put32(wm, kWmValue2, e.nWmValue2);
  std::memcpy(wm + kWmGuid, r.m_WmProfileGuid.data(), r.m_WmProfileGuid.size());
  PutFlag(wm[kWmCustomSampling], r.m_bWindowsMedia);
  PutFlag(wm[kWmNewProfile], r.m_bWmEmptyProfile);
  Put32(wm, kWmVersion, r.m_nWmProfileVersion);
  Put64(wm, kWmDuration, r.m_nDuration);
  PutFlag(cfg.pipEnabled, r.m_bPictureInPicture);
  PutFlag(cfg.primaryAsShown, r.m_bPaneLayout);
  names.saveSingle = r.m_sSingleFileName;
  names.dirOut = r.m_sOutputFolder;
  names.titleBase = r.m_sTitle;
  names.prefix = r.m_sPrefix;
  names.suffix = r.m_sSpareName2;
  names.extension = r.m_sExtension;
}

void CZarnDoc::LoadRecorders() {
  // A record never saved names no format: the recorder keeps its own
  // settings.
  for (std::size_t ch = 0; ch < kChannelCount; ++ch)
    RecorderFromCfg(m_Recorder[ch], m_RecorderCfg[ch], m_SeqNaming[ch], m_RecorderCfg[ch].format != 0);
}

void CZarnDoc::StoreRecorders(std::array<shell::TRecorderCfg, 4>& recorders,
                              std::array<shell::TChannelNaming, 4>& sequence) const {
  for (std::size_t ch = 0; ch < kChannelCount; ++ch)
    RecorderToCfg(m_Recorder[ch], recorders[ch], sequence[ch]);
}

// ---------------------------------------------------------------------------
// The engine's recording notices

void CZarnDocEngineLink::FrameShown(int channel, std::int32_t frameNumber) {
  m_pDocument->m_RecordWriter.FrameShown(channel, frameNumber);
}

void CZarnDocEngineLink::PrepareRecorders() { m_pDocument->m_RecordWriter.PrepareRecorders(); }

void CZarnDocEngineLink::CloseRecorders() {
  // A recorder whose file could not be closed has shown why.
  m_pDocument->m_RecordWriter.CloseRecorders();
}

}  // namespace ZarnDoc
