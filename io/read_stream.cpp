// The channel reader: construction, binding to a channel's source, the
// choice of how a source is played, and the pause, resume and stop of the
// embedded players. The frame loop and folder navigation are in
// image_sequence.cpp.

#include "io/read_stream.h"

#include <algorithm>
#include <cstring>

#include "media/device_kinds.h"
#include "platform/message_sink.h"

namespace ReadStream {

using namespace ZarnTypes;

const char* const CReadStream::kSequenceExtensions[kSequenceExtensionCount] = {
    ".bmp", ".yuv", ".jpg", ".jp2", ".jpc", ".png", ".gif", ".tif"};

TReadPath GetReadPath(std::int32_t eStreamType) {
  if (eStreamType == ST_MNG) {
    return READ_PATH_MNG;
  }
  switch (eStreamType) {
    case ST_SYSTEM_DEVICE:
    case ST_OOV:
    case ST_MPEG2:
    case ST_MPEG4:
    case ST_DV:
    case ST_AVI:
    case ST_WMV:
    case ST_ASF:
    case ST_FLV:
    case ST_SWF:
    case ST_MOV:
    case ST_MP3:
    case ST_WMA:
    case ST_WAV: return READ_PATH_MEDIA_GRAPH;
    default:
      // MPEG-1, H.264, the DVD file types, stills, PGM, YUV and every
      // unknown type go to the frame loop, which finds a reader or refuses.
      return READ_PATH_FRAME_LOOP;
  }
}

CReadStream::CReadStream(int nChannel)
    : m_nChannel(nChannel), m_nBoundChannel(nChannel), m_DShow(DShowMgr::MakeMediaSession()) {
  m_pBitmap = Dib::CreateDibSectionEx(1, 1, 24);
  m_ColourTable.assign(4 + 4 * 256, 0);
}

CReadStream::~CReadStream() {
  FreeFrameBuffers();
  if (m_pRawYuvFile != nullptr) {
    std::fclose(m_pRawYuvFile);
    m_pRawYuvFile = nullptr;
  }
  m_Finder.Close();
}

bool CReadStream::SetSource(int nChannel, const TMediaSource& source) {
  if (nChannel < 0 || nChannel >= 4) {
    return false;
  }
  m_nBoundChannel = nChannel;
  m_Source.eStreamType = source.eStreamType;
  m_Source.nSourceCategory = source.eSourceCategory;
  m_Source.eFileFormat = source.eFileFormat;
  m_Source.ePixelFormat = source.eFramePixelFormat;
  m_Source.nWidth = source.nWidth;
  m_Source.nHeight = source.nHeight;
  m_Source.bSequence = source.bRead != FALSE_;
  m_Source.sPath = source.sPath;
  PublishControlType();
  return true;
}

bool CReadStream::Run() {
  switch (GetReadPath(m_Source.eStreamType)) {
    case READ_PATH_MNG: return PlayMng();
    case READ_PATH_MEDIA_GRAPH: return PlayDirectShow();
    case READ_PATH_FRAME_LOOP:
    default: return RunReadSequence();
  }
}

// A read request for the channel's source on a player of its own: the
// channel's format, stream type, size and frame buffer; 32-bit rows when the
// channel's frames are RGB32, else 24-bit.
void CReadStream::FillReadRequest(TMediaRequest& request, const std::string& path, TMediaRequestTag tag,
                                  void* params) {
  request.eOp = MEDIA_OP_READ;
  request.bSuccess = false;
  request.ePurpose = m_Delivery.ePurpose;
  request.eSourceFormat = m_Source.eFileFormat;
  request.eStreamType = m_Source.eStreamType;
  request.ePixelFormat = m_Source.ePixelFormat == PF_RGB32 ? PF_RGB32 : PF_RGB24;
  request.pPath = &path;
  request.nDeviceCategory = m_Source.nDeviceCategory;
  request.nWidth = m_Source.nWidth;
  request.nHeight = m_Source.nHeight;
  request.pFrameBuffer = &m_FrameBuffer;
  request.eTag = tag;
  request.pParams = params;
}

// A media-graph session on the reader's own session manager. The request
// and its parameter block live on this stack for the session; the session
// reads the owner's live values (stop, end, seek, sound, volume, recording)
// through the block's pointers while it plays.
bool CReadStream::PlayDirectShow() {
  const std::string path = m_Source.sPath;
  TMediaRequest request;
  TSourceParams params;

  // The session delivers DIB rows of 32 bits when the channel's frames are
  // RGB32, else of 24 bits.
  FillReadRequest(request, path, MEDIA_REQ_DSHOW_SOURCE, &params);
  request.nDeviceKind = m_Source.nDeviceKind;

  params.nSenderId = m_Delivery.nProcId;
  params.eSenderKind = m_Delivery.eSenderKind;
  params.ePurpose = m_Delivery.ePurpose;
  params.pContext = m_Delivery.pContext;
  params.pStopFlag = m_Delivery.pStopFlag;
  params.pEndFlag = m_Delivery.pEndFlag;
  params.pPauseFlag = m_Delivery.pPauseFlag;
  // Every session resumes from the fraction last asked for (0 of 1 after a
  // session: from the start, which a fresh session is not sought to).
  m_bSeekRequest.store(true);
  params.pSeekFlag = &m_bSeekRequest;
  params.pSeekNumerator = &m_nSeekNumerator;
  params.pSeekDenominator = &m_nSeekDenominator;
  params.pSoundFlag = &m_bSoundOn;
  params.pVolumeLevel = &m_nVolumeLevel;
  params.pVolumeMaximum = &m_nVolumeScale;
  params.pRecordFlag = m_Delivery.pRecordingFlag;
  params.pCallback = m_Delivery.pOwnerCallback;
  params.bTopDownRows = m_Delivery.bTopDownRows;
  params.eNativePixelFormat = m_Source.eNativePixelFormat;
  params.eGrabPixelFormat = m_Source.eGrabPixelFormat;
  // Recording inside a capture graph needs the channel's save-stream
  // settings, which capture sessions ask for; files play in preview.
  params.nWorkMode = m_DeviceSettings.nCaptureWorkMode;

  const bool bOk = m_DShow->Run(&request);
  m_nSeekNumerator.store(0);
  m_nSeekDenominator.store(1);
  return bOk;
}

// An MNG animation on the reader's own player. The request and its block
// live on this stack for the session; the player reads the owner's stop
// flag and the seek request through the block while it plays.
bool CReadStream::PlayMng() {
  const std::string path = m_Source.sPath;
  TMediaRequest request;
  MngMgr::TMngParams params;

  // The player draws 24- or 32-bit canvases; the channel's frames are 24-bit
  // unless it asks for 32.
  FillReadRequest(request, path, MEDIA_REQ_MNG, &params);

  params.nProcId = m_Delivery.nProcId;
  params.eSenderKind = m_Delivery.eSenderKind;
  params.ePurpose = m_Delivery.ePurpose;
  params.pContext = m_Delivery.pContext;
  params.pStopFlag = m_Delivery.pStopFlag;
  params.pEndFlag = m_Delivery.pEndFlag;
  params.pPauseFlag = m_Delivery.pPauseFlag;
  // Every session starts from the fraction last asked for.
  m_bSeekRequest.store(true);
  params.pSeekRequest = &m_bSeekRequest;
  params.pSeekNumerator = &m_nSeekNumerator;
  params.pSeekDenominator = &m_nSeekDenominator;
  params.bFlag = true;
  params.pRecordingFlag = m_Delivery.pRecordingFlag;
  params.pCallback = m_Delivery.pOwnerCallback;

  const bool bOk = m_Mng.Run(&request);
  m_nSeekNumerator.store(0);
  m_nSeekDenominator.store(1);
  return bOk;
}

// Pause, resume and stop reach the media-graph session and the MNG player;
// the frame loop is paused by the engine's frame callback and ends on the
// stop flag.
void CReadStream::Pause() {
  const std::int32_t eType = m_nControlStreamType.load();
  if (eType == ST_MNG)
    m_Mng.Pause();
  else if (IsMediaGraphType(eType))
    m_DShow->Pause();
}

void CReadStream::Resume() {
  const std::int32_t eType = m_nControlStreamType.load();
  if (eType == ST_MNG)
    m_Mng.Resume();
  else if (IsMediaGraphType(eType))
    m_DShow->Play();
}

void CReadStream::Stop() {
  const std::int32_t eType = m_nControlStreamType.load();
  if (eType == ST_MNG) {
    if (m_Mng.GetState() != MngMgr::MNG_STATE_STOPPED) m_Mng.Stop();
  } else if (IsMediaGraphType(eType)) {
    m_DShow->Stop();
  }
}

// ---------------------------------------------------------------------------
// Position, volume and sound

bool CReadStream::GetPositionAndDuration(DShowMgr::TMediaProgress* pProgress) {
  const std::int32_t eType = m_nControlStreamType.load();
  if (eType == ST_MNG) {
    if (pProgress == nullptr) return false;
    switch (m_Mng.GetSeekMode()) {
      case MngMgr::MNG_SEEK_BY_FRAME:
        pProgress->nPosition = std::max<std::int64_t>(0, m_Mng.GetFrameNumber());
        pProgress->nDuration = m_Mng.GetFrameCount();
        break;
      case MngMgr::MNG_SEEK_BY_BYTE:
        pProgress->nPosition = m_Mng.GetBytesRead();
        pProgress->nDuration = m_Mng.GetFileSize();
        break;
      default: break;  // no header yet: the record stays as it is
    }
    return true;
  }
  if (!IsMediaGraphType(eType) || pProgress == nullptr) return false;
  return m_DShow->GetPositionAndDuration(pProgress);
}

std::int64_t CReadStream::GetPositionMs() {
  const std::int32_t eType = m_nControlStreamType.load();
  if (eType == ST_MNG) return m_Mng.GetPositionMs();
  if (eType == ST_SYSTEM_DEVICE || !IsMediaGraphType(eType)) return -1;
  DShowMgr::TMediaPosition position;
  if (!m_DShow->GetPosition(&position)) return 0;
  return position.nPosition / 10000;
}

bool CReadStream::GetPosition(DShowMgr::TMediaPosition* pPosition) {
  const std::int32_t eType = m_nControlStreamType.load();
  if (pPosition == nullptr) return false;
  if (eType == ST_MNG) {
    *pPosition = DShowMgr::TMediaPosition{};
    pPosition->eKind = DShowMgr::MEDIA_POS_STREAM_TIME;
    pPosition->nPosition = 0;
    return true;
  }
  if (!IsMediaGraphType(eType)) return false;
  return m_DShow->GetPosition(pPosition);
}

bool CReadStream::Seek(std::int32_t nNumerator, std::int32_t nDenominator) {
  const std::int32_t eType = m_nControlStreamType.load();
  if (eType == ST_MNG) return m_Mng.SeekToFraction(nNumerator, nDenominator);
  if (!IsMediaGraphType(eType)) return false;
  if (eType == ST_SYSTEM_DEVICE && m_nControlDeviceCategory.load() != SDC_DVD) return false;
  return m_DShow->SeekToFraction(nNumerator, nDenominator);
}

bool CReadStream::SetVolume(std::int32_t nLevel, std::int32_t nMaximum) {
  m_nVolumeLevel.store(nLevel);
  m_nVolumeScale.store(nMaximum);
  if (!IsMediaGraphType(m_nControlStreamType.load())) return false;
  // A muted session stays muted: the session applies the level and keeps
  // its sound switch.
  if (m_DShow->IsBusy()) m_DShow->SetVolume(nLevel, nMaximum);
  return true;
}

void CReadStream::EnableSound(bool bOn) {
  m_bSoundOn.store(bOn);
  if (!IsMediaGraphType(m_nControlStreamType.load())) return;
  if (m_DShow->IsBusy()) {
    // Sound on restores the level last set, also one set while muted.
    if (bOn) m_DShow->SetVolume(m_nVolumeLevel.load(), m_nVolumeScale.load());
    m_DShow->EnableSound(bOn);
  }
}

std::string CReadStream::GetCurrentFile() const {
  std::lock_guard<std::mutex> lock(m_CurrentFileLock);
  return m_sCurrentFile;
}

void CReadStream::SetLoopFile(const std::string& path) {
  m_sLoopFile = path;
  std::lock_guard<std::mutex> lock(m_CurrentFileLock);
  m_sCurrentFile = path;
}

void CReadStream::RaiseEnd() {
  if (m_Delivery.pEndFlag != nullptr) {
    m_Delivery.pEndFlag->store(true);
  }
}

void CReadStream::RaiseStop() {
  if (m_Delivery.pStopFlag != nullptr) {
    m_Delivery.pStopFlag->store(true);
  }
}

bool CReadStream::StopRaised() const {
  return m_Delivery.pStopFlag != nullptr && m_Delivery.pStopFlag->load();
}

bool CReadStream::EndRaised() const { return m_Delivery.pEndFlag != nullptr && m_Delivery.pEndFlag->load(); }

void CReadStream::ReportFileError(int nErrno) {
  const char* text = nErrno != 0 ? std::strerror(nErrno) : nullptr;
  platform::ShowMessage(text != nullptr && *text != '\0' ? std::string(text)
                                                         : std::string("An unknown error occurred."));
}

}  // namespace ReadStream
