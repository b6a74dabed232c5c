#include "io/codecs/save_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "io/codecs/mng_mgr.h"
#include "io/codecs/wm_writer.h"
#include "media/color_conversion.h"
#include "media/file_utils.h"
#include "platform/message_sink.h"

namespace ProcessingNode {

void CProcessingNode::ResetNode() {
  m_nInputCount = 0;
  m_nThreadsStarted = 0;
  m_nInputOrder.fill(0);
}

bool CProcessingNode::AddInput(std::int32_t nProcId) {
  if (nProcId < 0 || nProcId >= kProcIdCount || m_nInputOrder[static_cast<std::size_t>(nProcId)] != 0) {
    return false;
  }
  m_nInputOrder[static_cast<std::size_t>(nProcId)] = ++m_nInputCount;
  return true;
}

std::int32_t CProcessingNode::InputOrder(std::int32_t nProcId) const {
  if (nProcId < 0 || nProcId >= kProcIdCount) {
    return 0;
  }
  return m_nInputOrder[static_cast<std::size_t>(nProcId)];
}

}  // namespace ProcessingNode

namespace SaveStream {

using namespace ZarnTypes;

namespace {

// Frames an MNG recording compresses at once (its file is the same whatever
// the count).
constexpr std::int32_t kMngCompressionWorkers = 4;

// A message text with the channel number (%d) and an optional text (%s).
std::string Format(const char* format, std::int32_t number, const std::string& text = {}) {
  const int length = std::snprintf(nullptr, 0, format, number, text.c_str());
  if (length <= 0) {
    return format;
  }
  std::string out(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(out.data(), out.size(), format, number, text.c_str());
  out.resize(static_cast<std::size_t>(length));
  return out;
}

// Writes all of `size` bytes, going on after interruptions and short writes.
bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    if (written == 0) {
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// 32-bit pixels whose bit fields are not the usual blue, green, red bytes
// cannot be read as such.
bool HasPlainPixels(const Dib::TDibSection& picture) {
  if (picture.header.biCompression == Dib::BI_RGB) {
    return true;
  }
  return picture.header.biCompression == Dib::BI_BITFIELDS && picture.BitCount() == 32 &&
         picture.masks[0] == 0x00FF0000u && picture.masks[1] == 0x0000FF00u &&
         picture.masks[2] == 0x000000FFu;
}

// How long the writer's request for a frame waits for one to arrive.
constexpr auto kPullWait = std::chrono::milliseconds(20);

}  // namespace

// What the writer thread's job is started with, made on the controlling
// thread by StartFramePipeline, before the thread exists.
struct CSaveStream::TWriterJob {
  TMediaRequest request;
  WmWriter::TWmJobParams params;
  MngMgr::TMngParams mngParams;  // the block of an MNG job
  WmWriter::TWmJobResult result;
  std::string outputPath;
  // The session's flags, copied: the session record may be rewritten for
  // the next session while nothing records.
  std::atomic<bool>* pStopFlag = nullptr;
  std::atomic<bool>* pFinishFlag = nullptr;
  std::atomic<bool> mngEnd{false};  // raised by the MNG writer when it ends
};

int RunSaveStreamJob(TWriterThreadRecord* pRecord) {
  if (!pRecord || !pRecord->pRecorder) {
    return -1;
  }
  if (pRecord->nProcId < kFirstRecorderProcId || pRecord->nProcId >= kFirstRecorderProcId + kChannelCount) {
    return -1;
  }
  pRecord->pRecorder->RunJob();
  return 0;
}

}  // namespace SaveStream

namespace ZarnTypes {

bool InFrameRange(const TSamplingRecord& sampling, std::int64_t nFrame) {
  if (sampling.nMode != 3) {
    return true;
  }
  if (sampling.nStartFrame > 0 && nFrame < sampling.nStartFrame) {
    return false;
  }
  return !(sampling.nEndFrame > 0 && nFrame > sampling.nEndFrame);
}

}  // namespace ZarnTypes

namespace SaveStream {

TEncoderSettings TStreamEncoderSettings::ToEncoderSettings(std::int32_t format) const {
  TEncoderSettings settings;
  settings.nValue = format;
  settings.nJpegQuality = nJpegQuality;
  settings.jpeg2000 = jpeg2000;
  settings.png = png;
  settings.gif = gif;
  settings.tiff = tiff;
  return settings;
}

TSaveStreamSession MakeSession(std::int32_t nChannel, void* pContext, std::atomic<bool>* pStopFlag,
                               std::atomic<bool>* pFinishFlag, std::atomic<bool>* pPauseFlag,
                               TMediaOwnerCallback pCallback, std::int32_t nWidth, std::int32_t nHeight,
                               TPixelFormat ePixelFormat) {
  TSaveStreamSession session;
  session.nProcId = kFirstRecorderProcId + nChannel;
  session.eSenderKind = MEDIA_SENDER_RECORDER;
  session.ePurpose = SRC_WRITE_STREAM;
  for (std::int32_t i = 0; i < kChannelCount; ++i) {
    session.nInputProcIds[static_cast<std::size_t>(i)] = kFirstReaderProcId + i;
  }
  session.nInputCount = kChannelCount;
  session.pContext = pContext;
  session.pStopFlag = pStopFlag;
  session.pFinishFlag = pFinishFlag;
  session.pPauseFlag = pPauseFlag;
  session.bFlag = 1;
  session.pCallback = pCallback;
  session.nWidth = nWidth;
  session.nHeight = nHeight;
  session.ePixelFormat = ePixelFormat;
  return session;
}

CSaveStream::CSaveStream(std::int32_t nChannel)
    : m_nChannel(nChannel), m_sExtension(GetDefaultExtension(FF_NULL_STREAM)) {}

CSaveStream::~CSaveStream() {
  {
    std::lock_guard<std::mutex> lock(m_FileLock);
    // No writer outlives its recorder; what it still reports is not shown.
    std::string ignored;
    StopFramePipeline(ignored);
    if (m_nFile >= 0) {
      ::close(m_nFile);
      m_nFile = -1;
    }
  }
  FreeFrameBuffer(&m_RgbFrame);
  FreeYuvFrame(&m_YuvFrame);
}

void CSaveStream::SetOutputFileFormat(std::int32_t eFileFormat) {
  m_eOutputFormat = static_cast<TFileFormat>(eFileFormat);
  m_eOutputStreamType = static_cast<TStreamType>(FileFormatToStreamType(eFileFormat));
}

bool CSaveStream::BuildSingleFileName() {
  return FileUtils::BuildNumberedFileName(m_sOutputFolder, m_sPrefix, m_sTitle, m_sExtension,
                                          m_sSingleFileName, m_bFirstNumber, !m_bSingleFile, m_nFirstWidth,
                                          m_nSessionNumber, m_nSecondWidth, 0);
}

const char* CSaveStream::GetOutputFileName(std::int32_t nFrameNumber) {
  if (m_bSingleFile) {
    return m_sSingleFileName.c_str();
  }
  // Every frame gets a name of its own: without the session number the
  // frame number takes its place, in the frame number's width.
  const bool ok = m_bFirstNumber ? FileUtils::BuildNumberedFileName(
                                       m_sOutputFolder, m_sPrefix, m_sTitle, m_sExtension, m_sLastName, true,
                                       true, m_nFirstWidth, m_nSessionNumber, m_nSecondWidth, nFrameNumber)
                                 : FileUtils::BuildNumberedFileName(m_sOutputFolder, m_sPrefix, m_sTitle,
                                                                    m_sExtension, m_sLastName, true, false,
                                                                    m_nSecondWidth, nFrameNumber, 0, 0);
  if (!ok) {
    return nullptr;
  }
  return m_sLastName.c_str();
}

bool CSaveStream::Open() {
  std::string message;
  const bool ok = OpenLocked(message);
  if (!message.empty()) {
    platform::ShowMessage(message);
  }
  return ok;
}

bool CSaveStream::RecordsInCaptureGraph(bool bCaptureDevice) const {
  if (!bCaptureDevice) {
    return false;
  }
  switch (m_eOutputStreamType) {
    case ST_AVI:
    case ST_ASF:
    case ST_WMA: return true;
    case ST_WMV: return !m_bWindowsMedia;
    default: return false;
  }
}

bool CSaveStream::OpenLocked(std::string& message) {
  std::lock_guard<std::mutex> lock(m_FileLock);
  if (m_bOpen.load() || m_nFile >= 0) {
    CloseLocked(message);
    message.clear();  // the earlier recording's close is not this open's fault
  }
  const std::int32_t type = m_eOutputStreamType;
  if (RecordsInCaptureGraph(m_bLiveSource)) {
    return true;
  }
  if (type == ST_AVI || type == ST_ASF || type == ST_WMA) {
    // Only a capture device's own graph writes these; nothing here would
    // record, so the channel leaves the recording at once, before any file.
    const char* name = type == ST_AVI ? "an AVI" : type == ST_ASF ? "an ASF" : "a WMA";
    message = Format(
        "Recording channel %d into %s file is not possible: AVI, ASF and WMA files are recorded only from "
        "capture devices; the channel is not recorded",
        m_nChannel, name);  // numbered as in the recorder's other messages
    return false;
  }
  if (!m_bSingleFile) {
    return true;
  }
  switch (type) {
    case ST_WMV:
      // Refused before any file is made: a channel whose frames the writer
      // cannot encode, a recording without its settings or its file.
      if (m_Session.ePixelFormat != PF_RGB24 && m_Session.ePixelFormat != PF_RGB32) {
        message = Format(
            "Recording channel %d with the Windows Media writer is not possible: its frames are not 24- or "
            "32-bit RGB; the channel is not recorded",
            m_nChannel);
        return false;
      }
      if (!m_pWmSettings) {
        message = Format(
            "Recording channel %d with the Windows Media writer is not possible: its recording settings "
            "were not given; the channel is not recorded",
            m_nChannel);
        return false;
      }
      if (m_sSingleFileName.empty()) {
        message = Format(
            "Recording channel %d with the Windows Media writer is not possible: it has no output file; the "
            "channel is not recorded",
            m_nChannel);
        return false;
      }
      if (!StartFramePipeline()) {
        message = Format(
            "Recording channel %d with the Windows Media writer could not start (frame size %s); the "
            "channel is not recorded",
            m_nChannel, std::to_string(m_Session.nWidth) + " x " + std::to_string(m_Session.nHeight));
        return false;
      }
      m_bRecording = true;
      m_bOpen = true;
      return true;
    case ST_MNG: {
      // Refused before any file is made: a layout or size the MNG writer
      // cannot write, a recording without its file.
      std::string why;
      if (!MngMgr::CanWriteFormat(m_Session.ePixelFormat, m_Session.nWidth, m_Session.nHeight, m_nChannel,
                                  &why)) {
        message = why;
        return false;
      }
      if (m_sSingleFileName.empty()) {
        message = Format(
            "Recording channel %d into one MNG file is not possible: it has no output file; the channel is "
            "not recorded",
            m_nChannel);
        return false;
      }
      if (!StartFramePipeline()) {
        message =
            Format("Recording channel %d into one MNG file could not start; the channel is not recorded",
                   m_nChannel);
        return false;
      }
      m_bRecording = true;
      m_bOpen = true;
      return true;
    }
    default: break;
  }
  const TPixelFormat layout = FileFormatToPixelFormat(m_eOutputFormat);
  if (!IsYuvType(type) || !IsYuvType(m_eOutputFormat) || GetYuvChromaDivisor(layout) == 0) {
    message = Format(
        "Recording channel %d into one file is not available for this output format; the channel is not "
        "recorded",
        m_nChannel);
    return false;
  }
  if (!OpenOutputFile(message)) {
    return false;
  }
  m_bRecording = true;
  m_bOpen = true;
  return true;
}

bool CSaveStream::OpenOutputFile(std::string& message) {
  // Opened without truncating and without waiting for a FIFO's other end,
  // then emptied only once it is known to be a regular file.
  int fd = -1;
  if (!m_sSingleFileName.empty()) {
    do {
      fd = ::open(m_sSingleFileName.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
  }
  bool ok = fd >= 0;
  if (ok) {
    struct stat info {};
    ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::ftruncate(fd, 0) == 0;
    if (ok) {
      const int flags = ::fcntl(fd, F_GETFL);
      ok = flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
    }
    if (!ok) {
      ::close(fd);
    }
  }
  if (!ok) {
    message = Format(
        "Open \"Save Sequence\" channel %d \n Can not open output file %s \n Saving for channel has been "
        "disabled",
        m_nChannel, m_sSingleFileName);
    return false;
  }
  m_nFile = fd;
  return true;
}

bool CSaveStream::Close() {
  std::string message;
  bool ok = true;
  {
    std::lock_guard<std::mutex> lock(m_FileLock);
    ok = CloseLocked(message);
  }
  if (!message.empty()) {
    platform::ShowMessage(message);
  }
  return ok;
}

bool CSaveStream::CloseLocked(std::string& message) {
  // The writer drains and finishes its file while the recording still
  // counts as open; only then the flags go.
  StopFramePipeline(message);
  m_bOpen = false;
  m_bRecording = false;
  m_bPipelineRunning = false;
  return CloseOutputFile(message);
}

bool CSaveStream::CloseOutputFile(std::string& message) {
  if (m_nFile < 0) {
    return true;
  }
  const int fd = m_nFile;
  m_nFile = -1;
  // After close fails the descriptor is released all the same (Linux), so
  // it is never closed twice.
  if (::close(fd) != 0) {
    message =
        Format("The recording of channel %d could not be closed: %s", m_nChannel, std::strerror(errno)) +
        "\n" + m_sSingleFileName;
    return false;
  }
  return true;
}

bool CSaveStream::SetRecording(bool bRecording) {
  std::lock_guard<std::mutex> lock(m_FileLock);
  if (!m_bOpen.load()) {
    return false;
  }
  m_bRecording = bRecording;
  return true;
}

bool CSaveStream::WriteBitmapYuv(const Dib::TDibSection& bitmap) { return AppendPicture(bitmap, false); }

bool CSaveStream::WriteDibSectionYuv(const Dib::TDibSection& section) { return AppendPicture(section, true); }

// ---------------------------------------------------------------------------
// The frame pipeline

WmWriter::TWmChannelSettings CSaveStream::WindowsMediaSettings() const {
  WmWriter::TWmChannelSettings settings;
  // Without the custom sampling the writer keeps every frame; the stored
  // sampling stays for when it is switched on.
  if (m_bWindowsMedia) {
    settings.sampling = m_Sampling;
  }
  settings.nProfileVersion = m_nWmProfileVersion;
  settings.bCustomProfile = m_bWmEmptyProfile;
  settings.profileId = m_WmProfileGuid;
  return settings;
}

void CSaveStream::HandOverSessionSettings(bool bCaptureDevice) {
  HandOverSessionSettings(WindowsMediaSettings(), bCaptureDevice);
}

void CSaveStream::HandOverSessionSettings(const WmWriter::TWmChannelSettings& settings, bool bCaptureDevice) {
  auto copy = std::make_unique<WmWriter::TWmChannelSettings>(settings);
  std::lock_guard<std::mutex> lock(m_FileLock);
  m_pWmSettings = std::move(copy);
  m_bLiveSource = bCaptureDevice;
}

bool CSaveStream::StartFramePipeline() {
  const TSaveStreamSession& session = m_Session;
  ResetNode();
  if (!session.pCallback) {
    return false;
  }
  if (session.nInputCount < 0 || session.nInputCount > ProcessingNode::kProcIdCount ||
      session.nInputCount > kSessionInputCapacity) {
    return false;
  }
  for (std::int32_t i = 0; i < session.nInputCount; ++i) {
    const std::int32_t id = session.nInputProcIds[static_cast<std::size_t>(i)];
    if (id < kFirstReaderProcId || id >= kFirstReaderProcId + kChannelCount || !AddInput(id)) {
      return false;
    }
  }
  if (session.nWidth <= 0 || session.nHeight <= 0) {
    return false;
  }
  // Nothing uses the processor here: an earlier recording's pipeline has
  // been stopped and joined.
  m_Processor.FreeBuffers();
  if (!m_Processor.SetFrameFormat(session.nWidth, session.nHeight, session.ePixelFormat)) {
    return false;
  }
  if (!m_Processor.AllocateBuffers(kPipelineScenes, kPipelineFrames)) {
    m_Processor.FreeBuffers();
    return false;
  }
  // Every recorder's frames are written as writer 1, the writer its thread
  // reads; the source is the channel's own reader.
  if (!m_Processor.Start(kPipelineWriter, kFirstReaderProcId + m_nChannel, session.pStopFlag,
                         !m_bLiveSource)) {
    m_Processor.Close();
    return false;
  }

  ++m_nThreadsStarted;
  m_ThreadRecord = TWriterThreadRecord{0, this, session.nProcId, m_nThreadsStarted, 3};
  auto job = std::make_unique<TWriterJob>();
  job->outputPath = m_sSingleFileName;
  job->pStopFlag = session.pStopFlag;
  job->pFinishFlag = session.pFinishFlag;
  WmWriter::TWmJobParams& params = job->params;
  params.nProcId = session.nProcId;
  params.nThreadOrdinal = m_nThreadsStarted;
  params.eSenderKind = session.eSenderKind;
  params.ePurpose = SRC_WRITE_STREAM;
  params.pContext = session.pContext;
  // The job's stop is the session's (the engine's recorder stop): raised,
  // the job takes what the pipeline holds and finishes its file, and an
  // encoder that takes nothing more no longer holds its write.
  params.pStopFlag = session.pStopFlag ? session.pStopFlag : &m_bWriterStop;
  params.pFinishFlag = session.pFinishFlag;
  params.pPauseFlag = session.pPauseFlag;
  params.pCallback = session.pCallback;
  params.outputFile = m_sSingleFileName;
  params.nFrameRate = 30;
  params.bHaveSettings = m_pWmSettings != nullptr;
  if (m_pWmSettings) {
    params.settings = *m_pWmSettings;
  }
  params.nChannel = m_nChannel;
  params.pResult = &job->result;
  TMediaRequest& request = job->request;
  request.eOp = MEDIA_OP_RUN_JOB;
  request.ePurpose = SRC_WRITE_STREAM;
  request.eOutputFormat = FF_WMV;
  request.ePixelFormat = session.ePixelFormat;
  request.pOutputPath = &job->outputPath;
  request.nWidth = session.nWidth;
  request.nHeight = session.nHeight;
  request.eTag = MEDIA_REQ_WM_JOB;
  request.pParams = &job->params;
  if (m_eOutputStreamType == ST_MNG) {
    // The MNG writer's block: the same recorder, flags and callback.
    MngMgr::TMngParams& mng = job->mngParams;
    mng.nProcId = params.nProcId;
    mng.nWriterOrdinal = params.nThreadOrdinal;
    mng.eSenderKind = params.eSenderKind;
    mng.ePurpose = SRC_WRITE_STREAM;
    mng.pContext = params.pContext;
    mng.pStopFlag = session.pStopFlag ? session.pStopFlag : &m_bWriterStop;
    mng.pEndFlag = &job->mngEnd;
    mng.pPauseFlag = params.pPauseFlag;
    mng.bFlag = true;
    mng.pCallback = params.pCallback;
    mng.nCompressionWorkers = kMngCompressionWorkers;
    request.eOutputFormat = FF_MNG;
    request.eTag = MEDIA_REQ_MNG;
    request.pParams = &mng;
  }
  m_pJob = std::move(job);
  // The MNG writer writes every frame it is given: the frame range applies
  // here, to what goes into the pipeline. The Windows Media writer samples
  // the frames itself.
  m_PushRange = m_eOutputStreamType == ST_MNG ? m_Sampling : TSamplingRecord{};
  {
    std::lock_guard<std::mutex> lock(m_JobLock);
    m_bJobOk = true;
    m_sJobMessage.clear();
    m_nJobWritten = 0;
  }
  m_nOffered = 0;
  m_nQueued = 0;
  m_nDropped = 0;
  m_bWriterStop = false;
  m_bAcceptInput = true;
  m_bJobRunning = true;
  m_bPipelineRunning = true;

  // The job is counted before its thread exists, so the session never sees
  // a count of 0 while the writer is about to run; the thread lowers it as
  // its last step.
  const TMediaOwnerCallback callback = session.pCallback;
  void* const context = session.pContext;
  const TMediaSender sender{session.nProcId, session.eSenderKind, session.ePurpose, session.pContext};
  callback(context, MEDIA_NOTIFY_JOB_COUNT, &sender, ValueAsPointer(1));
  try {
    m_WriterThread = std::thread([this, callback, context, sender] {
      RunSaveStreamJob(&m_ThreadRecord);
      callback(context, MEDIA_NOTIFY_JOB_COUNT, &sender, ValueAsPointer(-1));
    });
  } catch (...) {
    callback(context, MEDIA_NOTIFY_JOB_COUNT, &sender, ValueAsPointer(-1));
    m_bJobRunning = false;
    m_bAcceptInput = false;
    m_bPipelineRunning = false;
    m_Processor.Close();
    return false;
  }
  if (!NotifyThreadStarted()) {
    std::string ignored;
    StopFramePipeline(ignored);
    return false;
  }
  return true;
}

bool CSaveStream::NotifyThreadStarted() {
  const TSaveStreamSession& session = m_Session;
  if (!session.pCallback) {
    return false;
  }
  const TMediaSender sender{session.nProcId, session.eSenderKind, session.ePurpose, nullptr};
  return session.pCallback(session.pContext, MEDIA_NOTIFY_THREAD_STARTED, &sender, &m_WriterThread);
}

bool CSaveStream::RunJob() {
  bool ok = false;
  if (m_eOutputStreamType == ST_WMV) {
    ok = RunWindowsMediaJob();
  } else if (m_eOutputStreamType == ST_MNG) {
    ok = RunMngJob();
  }
  EndJob(ok);
  return ok;
}

bool CSaveStream::RunMngJob() {
  if (!m_pJob) {
    return false;
  }
  MngMgr::CMngMgr writer;
  const bool ok = writer.Write(&m_pJob->request);
  m_pJob->result.nFramesWritten = writer.FramesWritten();
  if (!ok) {
    m_pJob->result.message = writer.LastError().text;
  }
  writer.Close();
  return ok;
}

bool CSaveStream::RunWindowsMediaJob() {
  if (!m_pJob) {
    return false;
  }
  // The settings were handed over on the UI thread and copied into the
  // job's block before the thread started: nothing is asked of the UI here.
  return WmWriter::ConvertToWindowsMedia(&m_pJob->request);
}

void CSaveStream::EndJob(bool bOk) {
  std::string message;
  if (!bOk) {
    message = m_pJob ? m_pJob->result.message : std::string();
    if (message.empty()) {
      message = Format("The Windows Media recording of channel %d failed", m_nChannel);
    }
  }
  {
    std::lock_guard<std::mutex> lock(m_JobLock);
    m_bJobOk = bOk;
    m_sJobMessage = message;
    m_nJobWritten = m_pJob ? m_pJob->result.nFramesWritten : 0;
  }
  // A job that ended takes no more frames: a producer waiting for room
  // must not wait for the session's stop.
  CloseInput();
  m_bJobRunning = false;
  if (!message.empty()) {
    platform::ShowMessage(message);
  }
}

void CSaveStream::RaiseWriterStop() {
  m_bWriterStop = true;
  if (m_pJob && m_pJob->pStopFlag) {
    m_pJob->pStopFlag->store(true);
  }
}

void CSaveStream::CloseInput() {
  m_bAcceptInput = false;
  m_Processor.RequestStop();
}

bool CSaveStream::InputStopped() const {
  if (!m_bAcceptInput.load() || m_bWriterStop.load()) {
    return true;
  }
  const TWriterJob* job = m_pJob.get();
  return job &&
         ((job->pStopFlag && job->pStopFlag->load()) || (job->pFinishFlag && job->pFinishFlag->load()));
}

void CSaveStream::StopFramePipeline(std::string& message) {
  if (!m_bPipelineRunning.load() && !m_WriterThread.joinable()) {
    return;
  }
  // The input ends first; the writer then takes what the pipeline holds,
  // finishes its file and ends; the buffers go last.
  RaiseWriterStop();
  CloseInput();
  while (m_nActivePushes.load() != 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (m_WriterThread.joinable()) {
    m_WriterThread.join();
  }
  m_bPipelineRunning = false;
  m_Processor.Close();
  const std::int64_t dropped = m_nDropped.load();
  if (dropped > 0) {
    message = Format("Recording channel %d: %s frames were dropped because the writer could not keep up",
                     m_nChannel, std::to_string(dropped));
  }
}

bool CSaveStream::PushFrame(std::int32_t nProcId, const TMediaFrameNotice* pFrame) {
  if (!pFrame) {
    return false;
  }
  // Counted before anything is looked at: Close waits for every push that
  // may still touch the processor.
  m_nActivePushes.fetch_add(1);
  struct TLeave {
    std::atomic<std::int32_t>& count;
    ~TLeave() { count.fetch_sub(1); }
  } leave{m_nActivePushes};
  if (!m_bPipelineRunning.load() || !m_bOpen.load() || !m_bRecording.load() || InputStopped()) {
    return false;
  }
  if (InputOrder(nProcId) == 0) {
    return false;
  }
  TMediaFrameNotice notice = *pFrame;
  const std::int64_t offered = m_nOffered.fetch_add(1);
  if (!notice.bFileIndex && notice.nFrameNumber == 0) {
    notice.nFrameNumber = offered;
  }
  if (!InFrameRange(m_PushRange, notice.nFrameNumber)) {
    return false;  // outside the recording's frame range: left out, not lost
  }
  if (m_Processor.PushFrame(kPipelineWriter, nProcId, notice)) {
    m_nQueued.fetch_add(1);
    return true;
  }
  // A push that the end of the input cut short is no loss.
  if (!InputStopped()) {
    m_nDropped.fetch_add(1);
  }
  return false;
}

bool CSaveStream::PullFrame(const TMediaSender* /*pSender*/, TDataFrame* pFrame) {
  if (!pFrame || !m_bPipelineRunning.load() || !m_bOpen.load()) {
    return false;
  }
  const TWriterJob* job = m_pJob.get();
  const bool finished = job && job->pFinishFlag && job->pFinishFlag->load();
  if (!m_bRecording.load() && finished) {
    RaiseWriterStop();
    return false;
  }
  FrameRingQueue::TFrameReadout readout;
  const auto wait = InputStopped() ? std::chrono::milliseconds(0) : kPullWait;
  if (!m_Processor.PullFrame(kPipelineReader, readout, wait)) {
    if (finished) {
      RaiseWriterStop();
    }
    return false;
  }
  pFrame->nFrameNumber = readout.nFrameNumber;
  pFrame->dTime = readout.dTime;
  pFrame->nFrameNumber64 = readout.notice.nFrameNumber;
  if (TMediaFrameNotice* notice = WmWriter::RecordFrameNotice(pFrame)) {
    *notice = readout.notice;
  }
  return true;
}

bool CSaveStream::LastJobSucceeded() const {
  std::lock_guard<std::mutex> lock(m_JobLock);
  return m_bJobOk;
}

std::string CSaveStream::LastJobMessage() const {
  std::lock_guard<std::mutex> lock(m_JobLock);
  return m_sJobMessage;
}

std::int64_t CSaveStream::LastJobFramesWritten() const {
  std::lock_guard<std::mutex> lock(m_JobLock);
  return m_nJobWritten;
}

bool CSaveStream::AppendPicture(const Dib::TDibSection& picture, bool bNeedRecording) {
  const int bits = picture.BitCount();
  if ((bits != 24 && bits != 32) || !HasPlainPixels(picture)) {
    return false;
  }
  const int width = picture.Width();
  const int height = picture.Height();
  if (width <= 0 || height <= 0) {
    return false;
  }
  const std::size_t stride = picture.Stride();
  if (stride == 0 || picture.bits.size() / stride < static_cast<std::size_t>(height)) {
    return false;
  }
  const TPixelFormat layout = FileFormatToPixelFormat(m_eOutputFormat);
  if (GetYuvChromaDivisor(layout) == 0) {
    return false;
  }

  std::lock_guard<std::mutex> lock(m_FileLock);
  if (m_nFile < 0 || !m_bOpen.load() || (bNeedRecording && !m_bRecording.load())) {
    return false;
  }

  // The converter reads bottom-up rows: a bottom-up picture is read in
  // place, a top-down one is copied row by row into the recorder's buffer.
  const TPixelFormat rgbFormat = bits == 24 ? PF_RGB24 : PF_RGB32;
  TFrameBuffer source;
  if (!picture.TopDown()) {
    source.ePixelFormat = rgbFormat;
    source.nWidth = width;
    source.nHeight = height;
    source.nRowAlignment = 4;
    source.nHeightAlignment = 1;
    source.pBuffer = const_cast<std::uint8_t*>(picture.bits.data());
    if (!LayoutFrameBuffer(&source)) {
      return false;
    }
  } else {
    if (m_RgbFrame.pBuffer == nullptr || m_RgbFrame.ePixelFormat != rgbFormat || m_RgbFrame.nWidth != width ||
        m_RgbFrame.nHeight != height) {
      m_RgbFrame.ePixelFormat = rgbFormat;
      m_RgbFrame.nWidth = width;
      m_RgbFrame.nHeight = height;
      m_RgbFrame.nRowAlignment = 4;
      m_RgbFrame.nHeightAlignment = 1;
      if (!AllocFrameBuffer(&m_RgbFrame) || m_RgbFrame.pBuffer == nullptr) {
        FreeFrameBuffer(&m_RgbFrame);
        return false;
      }
    }
    const std::size_t rowBytes = static_cast<std::size_t>(m_RgbFrame.nStride);
    for (int y = 0; y < height; ++y) {
      // Memory row (height - 1 - y) of the bottom-up buffer is picture row y.
      std::memcpy(m_RgbFrame.pBuffer + static_cast<std::size_t>(height - 1 - y) * rowBytes,
                  picture.RowFromTop(y), std::min(rowBytes, stride));
    }
    source = m_RgbFrame;
  }

  if (m_YuvFrame.pBuffer == nullptr || m_YuvFrame.ePixelFormat != layout || m_YuvFrame.nWidth != width ||
      m_YuvFrame.nHeight != height) {
    FreeYuvFrame(&m_YuvFrame);
    m_YuvFrame.ePixelFormat = layout;
    m_YuvFrame.nWidth = width;
    m_YuvFrame.nHeight = height;
    m_YuvFrame.nWidthAlignment = 2;
    m_YuvFrame.nHeightAlignment = 2;
    if (!AllocYuvFrame(&m_YuvFrame) || m_YuvFrame.pBuffer == nullptr) {
      FreeYuvFrame(&m_YuvFrame);
      return false;
    }
    // The converter leaves the samples beyond an odd size alone: they are
    // written as zeros, the same in every frame.
    std::memset(m_YuvFrame.pBuffer, 0, static_cast<std::size_t>(m_YuvFrame.nTotalSize));
  }
  if (!ConvertRgbToYuv(source, m_YuvFrame)) {
    return false;
  }

  // Only whole frames stay in the file: a failed or short write is cut off.
  const off_t end = ::lseek(m_nFile, 0, SEEK_END);
  if (end < 0) {
    return false;
  }
  if (!WriteAll(m_nFile, m_YuvFrame.pBuffer, static_cast<std::size_t>(m_YuvFrame.nTotalSize))) {
    const int saved = errno;
    while (::ftruncate(m_nFile, end) != 0 && errno == EINTR) {
    }
    ::lseek(m_nFile, end, SEEK_SET);
    errno = saved;
    return false;
  }
  return true;
}

}  // namespace SaveStream
