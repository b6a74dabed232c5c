#include "io/dshow/media_session.h"

#include <atomic>

using namespace ZarnTypes;

namespace DShowMgr {

namespace {

std::atomic<TMediaSessionFactory> g_pFactory{nullptr};

class CUnavailableSession final : public IMediaSession {
 public:
  bool Run(TMediaRequest* pRequest) override {
    if (m_bBusy.exchange(true)) {
      if (pRequest) pRequest->eError = MEDIA_ERR_DSHOW_BUSY;
      return false;
    }
    if (pRequest) {
      if (pRequest->eTag == MEDIA_REQ_DSHOW_SOURCE && pRequest->pParams) {
        auto* pParams = static_cast<TSourceParams*>(pRequest->pParams);
        if (pRequest->ePurpose != SRC_ENUM_DEVICES && pRequest->ePurpose != SRC_ENUM_WM_PROFILES) {
          if (pParams->pStopFlag) pParams->pStopFlag->store(true);
          if (pParams->pEndFlag) pParams->pEndFlag->store(true);
        }
      }
      pRequest->bSuccess = false;
      pRequest->eError = MEDIA_ERR_DSHOW_SESSION;
    }
    m_bBusy = false;
    return false;
  }
  bool IsBusy() const override { return m_bBusy.load(); }
  int Play() override { return 0; }
  int Stop() override { return 0; }
  int Pause() override { return 0; }
  TGraphState GetState() const override { return GRAPH_NONE; }
  bool GetPosition(TMediaPosition*) override { return false; }
  bool GetPositionAndDuration(TMediaProgress*) override { return false; }
  bool SeekToFraction(std::int32_t, std::int32_t) override { return false; }
  bool SetVolume(std::int32_t, std::int32_t) override { return false; }
  bool EnableSound(bool) override { return false; }
  double AppliedGain() const override { return -1.0; }

 private:
  std::atomic<bool> m_bBusy{false};
};

}  // namespace

void SetMediaSessionFactory(TMediaSessionFactory pFactory) { g_pFactory.store(pFactory); }

std::unique_ptr<IMediaSession> MakeMediaSession() {
  const TMediaSessionFactory pFactory = g_pFactory.load();
  if (pFactory) {
    if (std::unique_ptr<IMediaSession> session = pFactory()) return session;
  }
  return MakeUnavailableSession();
}

std::unique_ptr<IMediaSession> MakeUnavailableSession() { return std::make_unique<CUnavailableSession>(); }

}  // namespace DShowMgr
