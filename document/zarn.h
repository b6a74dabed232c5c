#pragma once
// The media document's processing engine. What stands here is the part the
// document, its frame and its panes read: the running flag and the stop
// request. The session with its tick, pacing and reader threads comes with
// the playing commands and sets these flags itself.

#include <atomic>
#include <cstdint>

namespace ZarnDoc {
class CZarnDoc;
}

namespace Zarn {

class CZarn {
 public:
  explicit CZarn(ZarnDoc::CZarnDoc* document) : m_pDocument(document) {}
  CZarn(const CZarn&) = delete;
  CZarn& operator=(const CZarn&) = delete;

  // Starts a session when none runs. Without sources or reader threads there
  // is nothing to play yet; the call reports whether a session was started.
  bool StartPlaying();

  // Asks a running session to stop and returns at once; the session clears
  // the running flag when its threads have ended. Nothing happens when no
  // session runs.
  void StopPlaying();

  bool IsRunning() const { return m_bRunning.load(); }
  bool StopRequested() const { return m_bStopRequested.load(); }
  bool IsPaused() const { return m_bPaused.load(); }

  // Set while a session runs; cleared by the session when it has ended.
  std::atomic<bool> m_bRunning{false};
  std::atomic<bool> m_bStopRequested{false};
  std::atomic<bool> m_bPaused{false};
  // Set while any channel streams from a media graph or an MNG source.
  std::atomic<bool> m_bStreaming{false};

 private:
  ZarnDoc::CZarnDoc* m_pDocument;
};

}  // namespace Zarn
