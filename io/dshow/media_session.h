#pragma once
// A media-graph session as its owners see it: run one request, and steer the
// running session from other threads. The session manager on GStreamer
// (CDShowMgr, library tovrin_dshow) installs itself as the factory of these
// sessions; a program that does not link it, and the builds without the
// media framework, get sessions that fail every request with the session
// code, so that code which only may play media files (the channel reader)
// needs no media framework to build, link or run.

#include <cstdint>
#include <memory>

#include "io/dshow/dshow_util.h"
#include "io/media_request.h"

namespace DShowMgr {

class IMediaSession {
 public:
  virtual ~IMediaSession() = default;

  // Runs one session on a MEDIA_REQ_DSHOW_SOURCE request (see CDShowMgr).
  virtual bool Run(ZarnTypes::TMediaRequest* pRequest) = 0;
  virtual bool IsBusy() const = 0;

  // Control of the running session; see CDShowMgr.
  virtual int Play() = 0;
  virtual int Stop() = 0;
  virtual int Pause() = 0;
  virtual TGraphState GetState() const = 0;
  virtual bool GetPosition(TMediaPosition* pPosition) = 0;
  virtual bool GetPositionAndDuration(TMediaProgress* pProgress) = 0;
  virtual bool SeekToFraction(std::int32_t nNumerator, std::int32_t nDenominator) = 0;
  virtual bool SetVolume(std::int32_t nLevel, std::int32_t nMaximum) = 0;
  virtual bool EnableSound(bool bOn) = 0;
  // The linear gain the sound output applies now (0 while muted; -1 without
  // a sound output).
  virtual double AppliedGain() const = 0;
};

using TMediaSessionFactory = std::unique_ptr<IMediaSession> (*)();

// Installs the factory of media-graph sessions (null: sessions that fail).
void SetMediaSessionFactory(TMediaSessionFactory pFactory);
// A new session of the installed kind.
std::unique_ptr<IMediaSession> MakeMediaSession();
// A session that fails every request: error 36 while one runs, else error
// 15, with the owner's stop and end flags set as a failed session sets them.
std::unique_ptr<IMediaSession> MakeUnavailableSession();

// Installs the media-graph sessions of tovrin_dshow (GStreamer, or the
// failing ones of a build without it). Programs that play media files call
// it once at start-up; linking CDShowMgr into a program installs it too.
void UseMediaGraph();

}  // namespace DShowMgr
