// The session manager of a build without GStreamer (the ThreadSanitizer
// build): the program links and runs, the Windows Media profile list is
// there, and every session that needs the media framework fails with the
// session code, ending the owner's session as any failed session does.

#include "io/dshow/dshow_mgr.h"

using namespace ZarnTypes;

namespace DShowMgr {

namespace {
std::unique_ptr<IMediaSession> MakeGraphSession() { return std::make_unique<CDShowMgr>(); }
// A program that links the session manager plays media files with it.
[[maybe_unused]] const bool g_bInstalled = (SetMediaSessionFactory(&MakeGraphSession), true);
}  // namespace

void UseMediaGraph() { SetMediaSessionFactory(&MakeGraphSession); }

CDShowMgr::CDShowMgr() { Reset(); }
CDShowMgr::~CDShowMgr() = default;

void CDShowMgr::Reset() {
  m_pRequest = nullptr;
  m_Params = TSourceParams{};
  m_nState = GRAPH_NONE;
}

bool CDShowMgr::Run(TMediaRequest* pRequest) {
  if (m_bBusy.exchange(true)) {
    if (pRequest) pRequest->eError = MEDIA_ERR_DSHOW_BUSY;
    return false;
  }
  if (!pRequest) {
    m_bBusy = false;
    return false;
  }
  TSourceParams* pParams = SourceParamsOf(*pRequest);
  bool bOk = false;
  if (pParams) {
    const TSourcePurpose ePurpose = pRequest->ePurpose;
    if (ePurpose == SRC_ENUM_WM_PROFILES && pParams->pExtension) {
      ListWmProfiles(*static_cast<TWmProfileList*>(pParams->pExtension));
      bOk = true;
    } else if (ePurpose == SRC_ENUM_DEVICES) {
      bOk = ListMediaDevices(static_cast<TMediaDeviceList*>(pParams->pExtension));
    }
    if (ePurpose != SRC_ENUM_DEVICES && ePurpose != SRC_ENUM_WM_PROFILES) {
      if (pParams->pStopFlag) pParams->pStopFlag->store(true);
      if (pParams->pEndFlag) pParams->pEndFlag->store(true);
    }
  }
  if (bOk)
    SucceedRequest(*pRequest);
  else
    FailRequest(*pRequest, MEDIA_ERR_DSHOW_SESSION);
  m_bBusy = false;
  return bOk;
}

int CDShowMgr::Play() { return 0; }
int CDShowMgr::Stop() { return 0; }
int CDShowMgr::Pause() { return 0; }
bool CDShowMgr::GetPosition(TMediaPosition*) { return false; }
bool CDShowMgr::GetPositionAndDuration(TMediaProgress*) { return false; }
bool CDShowMgr::SeekToFraction(std::int32_t, std::int32_t) { return false; }
bool CDShowMgr::SetVolume(std::int32_t nLevel, std::int32_t nMaximum) {
  m_nVolume = VolumeToMillibel(nLevel, nMaximum);
  return false;
}
bool CDShowMgr::SetAudioVolume(std::int32_t nMillibel) {
  m_nVolume = nMillibel;
  return false;
}
bool CDShowMgr::EnableSound(bool bOn) {
  m_bMuted = !bOn;
  return false;
}
bool CDShowMgr::ShowPropertyPages(std::int32_t, void*) { return false; }
double CDShowMgr::AppliedGain() const { return -1.0; }
void CDShowMgr::OnSample(const std::uint8_t*, std::size_t, double, std::int64_t) {}
void CDShowMgr::SetFrameLayout(std::int32_t nWidth, std::int32_t nHeight, std::int32_t nBitsPerPixel,
                               std::int32_t nSourceStride) {
  TFrameLayout layout;
  layout.nWidth = nWidth;
  layout.nHeight = nHeight;
  layout.nBitsPerPixel = nBitsPerPixel;
  layout.nSourceStride = nSourceStride > 0 ? nSourceStride : DibStride(nWidth, nBitsPerPixel);
  m_Frames.SetLayout(layout);
}
void CDShowMgr::BeginSessionForTest(TMediaRequest* pRequest, std::int32_t nWidth, std::int32_t nHeight,
                                    std::int32_t nBitsPerPixel, std::int32_t) {
  m_pRequest = pRequest;
  SetFrameLayout(nWidth, nHeight, nBitsPerPixel);
}
void CDShowMgr::EndSessionForTest() { m_pRequest = nullptr; }

// No device can be listed without the media framework: an empty list.
bool ListMediaDevices(TMediaDeviceList* pList) {
  if (!pList || (!pList->bListVideo && !pList->bListAudio)) return false;
  pList->nCount = 0;
  return true;
}

namespace {
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
  return RunOneShot(pCaller, SRC_DETECT_DEVICE, nullptr, request);
}

std::string GraphName(const void*) { return {}; }

}  // namespace DShowMgr
