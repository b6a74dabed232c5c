// The channel reader: construction, binding to a channel's source, the
// choice of how a source is played, and the pause, resume and stop of the
// embedded players. The frame loop and folder navigation are in
// image_sequence.cpp.

#include "io/read_stream.h"

#include <cstring>

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

CReadStream::CReadStream(int nChannel) : m_nChannel(nChannel), m_nBoundChannel(nChannel) {
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

// Media-graph sessions and the MNG player are not part of this reader yet:
// such a source answers that it could not be started and raises its end
// flag, so that the session winds down as for a source that has ended.
bool CReadStream::PlayDirectShow() {
  m_bSeekRequest.store(true);
  RaiseEnd();
  m_nSeekNumerator.store(0);
  m_nSeekDenominator.store(1);
  return false;
}

bool CReadStream::PlayMng() {
  m_bSeekRequest.store(true);
  RaiseEnd();
  m_nSeekNumerator.store(0);
  m_nSeekDenominator.store(1);
  return false;
}

// Pause, resume and stop reach only the media-graph session and the MNG
// player; the frame loop is paused by the engine's frame callback and ends
// on the stop flag. Neither player runs in this reader yet, so there is
// nothing to forward to.
void CReadStream::Pause() {}

void CReadStream::Resume() {}

void CReadStream::Stop() {}

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
