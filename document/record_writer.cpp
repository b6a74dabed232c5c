#include "document/record_writer.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/message_sink.h"

namespace RecordWriter {

using namespace ZarnTypes;

namespace {

constexpr const char* kCannotSave = "Can not save image to file\n%s";

std::string Format(const char* format, const std::string& text) {
  std::vector<char> out(text.size() + 64);
  std::snprintf(out.data(), out.size(), format, text.c_str());
  return out.data();
}

// The folder of a file about to be written, made when it is missing.
void MakeFolderOf(const std::string& path) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::error_code ec;
  if (!folder.empty() && !std::filesystem::exists(folder, ec))
    std::filesystem::create_directories(folder, ec);
}

}  // namespace

TRecordSettings SettingsOfRecorder(const SaveStream::CSaveStream& recorder) {
  TRecordSettings s;
  s.nRangeMode = recorder.m_Sampling.nMode;
  s.nFirstFrame = recorder.m_Sampling.nStartFrame;
  s.nLastFrame = recorder.m_Sampling.nEndFrame;
  s.nFormat = recorder.m_eOutputFormat;
  s.bSingleFile = recorder.m_bSingleFile;
  s.encoders = recorder.GetEncoderSettings();
  return s;
}

bool FrameInRange(const TRecordSettings& settings, std::int64_t frameNumber) {
  // Only a frame range limits what is recorded; the other modes (every
  // frame, by time) record every frame shown, since the writer has no frame
  // times. The recorder's own pipeline applies the same rule.
  ZarnTypes::TSamplingRecord range;
  range.nMode = settings.nRangeMode;
  range.nStartFrame = settings.nFirstFrame;
  range.nEndFrame = settings.nLastFrame;
  return ZarnTypes::InFrameRange(range, frameNumber);
}

CRecordWriter::CRecordWriter(Zarn::CZarn& engine, VideoPortHub::CVideoPortHub& ports,
                             const std::array<SaveStream::CSaveStream*, kRecordChannels>& recorders)
    : m_Engine(engine), m_Ports(ports), m_pRecorder(recorders) {}

void CRecordWriter::SetSettings(int channel, const TRecordSettings& settings) {
  if (!Valid(channel)) return;
  TChannel& state = m_Channel[static_cast<std::size_t>(channel)];
  std::lock_guard<std::mutex> lock(state.lock);
  state.settings = settings;
}

TRecordSettings CRecordWriter::Settings(int channel) const {
  if (!Valid(channel)) return {};
  const TChannel& state = m_Channel[static_cast<std::size_t>(channel)];
  std::lock_guard<std::mutex> lock(state.lock);
  return state.settings;
}

std::int64_t CRecordWriter::FramesWritten(int channel) const {
  if (!Valid(channel)) return 0;
  const TChannel& state = m_Channel[static_cast<std::size_t>(channel)];
  std::lock_guard<std::mutex> lock(state.lock);
  return state.nWritten;
}

void CRecordWriter::SetSessionStart(const TRecordStart& start) {
  {
    std::lock_guard<std::mutex> lock(m_StartLock);
    m_Start = start;
  }
  // Named before the session thread starts, so that the recording command
  // finds the session's file name however early it comes.
  for (int ch = 0; ch < kRecordChannels; ++ch) {
    const auto index = static_cast<std::size_t>(ch);
    TChannel& state = m_Channel[index];
    std::lock_guard<std::mutex> lock(state.lock);
    state.settings = start.settings[index];
    state.nWritten = 0;
    state.bFailed = false;
    if (!start.bPrepare[index] || !m_pRecorder[index]) continue;
    SaveStream::CSaveStream& recorder = *m_pRecorder[index];
    recorder.m_nSessionNumber = start.nSession + start.nSessionShift[index];
    recorder.m_nRecordingNumber = start.nTake[index];
    recorder.BuildSingleFileName();
  }
}

void CRecordWriter::PrepareRecorders() {
  TRecordStart start;
  {
    std::lock_guard<std::mutex> lock(m_StartLock);
    start = m_Start;
  }
  for (int ch = 0; ch < kRecordChannels; ++ch) {
    const auto index = static_cast<std::size_t>(ch);
    TChannel& state = m_Channel[index];
    std::lock_guard<std::mutex> lock(state.lock);
    if (!start.bPrepare[index] || !m_pRecorder[index]) continue;
    SaveStream::CSaveStream& recorder = *m_pRecorder[index];
    Zarn::TEngineChannel& engineChannel = m_Engine.m_Channel[index];
    recorder.m_Session = SaveStream::MakeSession(
        ch, &m_Engine, &engineChannel.bRecorderStop, &engineChannel.bRecorderEnd, &m_Engine.m_bPaused,
        &Zarn::CZarn::EngineOwnerCallback, m_Engine.m_Dpb.m_nWidth[index], m_Engine.m_Dpb.m_nHeight[index],
        m_Engine.m_Dpb.m_ePixelFormat[index]);
    // The recording command may have opened the recorder since the start
    // was taken: an open recorder stays as it is.
    if (m_Engine.m_bRecording.load() && !recorder.IsOpen() && !OpenRecorder(recorder))
      engineChannel.bRecordChannel.store(false);
  }
}

bool CRecordWriter::CloseRecorders() {
  bool ok = true;
  for (std::size_t ch = 0; ch < kRecordChannels; ++ch) {
    if (!m_pRecorder[ch]) continue;
    TChannel& state = m_Channel[ch];
    std::lock_guard<std::mutex> lock(state.lock);
    if (!m_pRecorder[ch]->Close() || state.bFailed) ok = false;
    state.bFailed = false;
  }
  return ok;
}

bool CRecordWriter::SetRecorderRecording(bool on, int channel, const TRecordSettings& settings) {
  if (!Valid(channel) || !m_pRecorder[static_cast<std::size_t>(channel)]) return false;
  TChannel& state = m_Channel[static_cast<std::size_t>(channel)];
  SaveStream::CSaveStream& recorder = *m_pRecorder[static_cast<std::size_t>(channel)];
  std::lock_guard<std::mutex> lock(state.lock);
  if (!on) {
    // Paused: the file stays open until the session ends.
    if (recorder.IsOpen() && recorder.IsRecording()) recorder.SetRecording(false);
    return true;
  }
  if (recorder.IsOpen()) return recorder.SetRecording(true);
  state.settings = settings;
  return OpenRecorder(recorder);
}

bool CRecordWriter::OpenRecorder(SaveStream::CSaveStream& recorder) {
  // The recording folder may not have been made yet.
  if (recorder.m_bSingleFile) MakeFolderOf(recorder.m_sSingleFileName);
  return recorder.Open();
}

void CRecordWriter::FrameShown(int channel, std::int32_t frameNumber) {
  if (!Valid(channel) || !m_Engine.m_bRecording.load()) return;
  const auto index = static_cast<std::size_t>(channel);
  TChannel& state = m_Channel[index];
  std::lock_guard<std::mutex> lock(state.lock);
  // Looked at again under the lock: a pause that took the lock after
  // clearing the switch is never followed by a write.
  if (!m_Engine.m_bRecording.load() || !m_Engine.m_Channel[index].bRecordChannel.load()) return;
  const SaveStream::CSaveStream* recorder = m_pRecorder[index];
  if (!recorder) return;
  // One output file: only into a recording that is open and not paused.
  if (state.settings.bSingleFile && !(recorder->IsOpen() && recorder->IsRecording())) return;
  WriteLocked(state, channel, frameNumber);
}

bool CRecordWriter::WriteRecordedFrame(int channel, std::int32_t frameNumber) {
  if (!Valid(channel)) return false;
  TChannel& state = m_Channel[static_cast<std::size_t>(channel)];
  std::lock_guard<std::mutex> lock(state.lock);
  return WriteLocked(state, channel, frameNumber);
}

bool CRecordWriter::WriteLocked(TChannel& state, int channel, std::int32_t frameNumber) {
  const auto index = static_cast<std::size_t>(channel);
  std::atomic<bool>& recordFlag = m_Engine.m_Channel[index].bRecordChannel;
  const TRecordSettings& s = state.settings;
  if (!recordFlag.load() || s.bGraphRecording) return true;
  if (!FrameInRange(s, frameNumber)) return true;
  SaveStream::CSaveStream* recorder = m_pRecorder[index];
  if (!recorder) return false;
  // A recorder with its own writer thread records the engine's frames.
  if (recorder->IsPipelineRunning()) return true;

  const SavePicture::TFormatWriter writer = SavePicture::FindFormatWriter(s.nFormat);
  const char* name = recorder->GetOutputFileName(frameNumber);
  const std::string path = name ? name : "";
  // What the pane shows, rotation included; the reference keeps it whole
  // for the write.
  const VideoPort::TPicture picture = m_Ports.Port(channel).FrontBitmap();
  const Dib::TDibSection* source = picture.get();
  if (source && s.pip.bEnabled && s.pip.nMainChannel >= 0 && s.pip.nMainChannel < kRecordChannels &&
      s.pip.nInsetChannel >= 0 && s.pip.nInsetChannel < kRecordChannels) {
    const VideoPort::TPicture main =
        s.pip.nMainChannel == channel ? picture : m_Ports.Port(s.pip.nMainChannel).FrontBitmap();
    const VideoPort::TPicture inset = m_Ports.Port(s.pip.nInsetChannel).FrontBitmap();
    if (main && inset &&
        PipComposite::BuildPipComposite(
            *main, *inset, s.pip.insetRect, s.pip.bSourceRect ? &s.pip.sourceRect : nullptr,
            PipComposite::StretchModeFromCode(s.pip.nStretchCode), state.composite))
      source = &state.composite;
  }

  bool ok = false;
  if (source && !path.empty()) {
    switch (writer.eWriter) {
      case SavePicture::WRITER_NONE: break;
      case SavePicture::WRITER_YUV:
        if (s.bSingleFile) {
          ok = recorder->WriteDibSectionYuv(*source);
        } else {
          MakeFolderOf(path);
          ok = SavePicture::SaveBitmapAsYuv(path, s.nFormat, *source);
        }
        break;
      default:
        MakeFolderOf(path);
        ok = SavePicture::SaveImageByFormat(path, s.nFormat, *source, s.encoders);
        break;
    }
  }
  if (ok) {
    ++state.nWritten;
    return true;
  }
  // The channel leaves the recording at once, and is reported once; the
  // other channels go on. A format without a writer is not reported.
  state.bFailed = true;
  bool wasRecording = true;
  if (recordFlag.compare_exchange_strong(wasRecording, false) && writer.eWriter != SavePicture::WRITER_NONE)
    platform::ShowMessage(Format(kCannotSave, path));
  return false;
}

}  // namespace RecordWriter
