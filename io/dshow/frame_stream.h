#pragma once
// The frame path of a streaming media-graph session, without the media
// framework: the layout of the grabbed frames, the clock that turns a
// frame's stream time into its time and index in the file, and the stream
// that copies each grabbed frame into the hand-off and hands it to the
// owner on the session's notification thread.
//
// Threads: the streaming thread writes frames (Write, Stamp); the
// notification thread calls the owner; the session's thread and the
// threads that steer the session (a seek from the UI thread) set the layout,
// the frame interval, flush and stop. Every value shared between them is an
// atomic or guarded by a lock here, so ThreadSanitizer can check the whole
// path with plain threads standing in for the media graph.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "io/dshow/frame_handoff.h"
#include "io/media_request.h"

namespace DShowMgr {

// Bytes from one DIB row to the next: rows padded to 4 bytes.
std::int32_t DibStride(std::int32_t nWidth, std::int32_t nBitsPerPixel);

// The size and depth of the grabbed frames, and the bytes from one grabbed
// (top-down) row to the next.
struct TFrameLayout {
  std::int32_t nWidth = 0;
  std::int32_t nHeight = 0;
  std::int32_t nBitsPerPixel = 0;
  std::int32_t nSourceStride = 0;  // 0: DIB rows
  bool operator==(const TFrameLayout&) const = default;
};

// The bottom-up DIB header of frames of a layout.
Dib::TBitmapInfoHeader LayoutHeader(const TFrameLayout& layout);

// A frame's time in seconds from the file's first frame, and its index in
// the file.
struct TFrameStamp {
  double dTime = 0.0;
  std::int64_t nIndex = 0;
};

// Turns stream times (ns) into times from the first frame and file indices.
// The first frame seen sets the base (stream times of some containers do
// not start at 0). The index is the time over the frame period, rounded;
// where the stream gives no time or no period is known, the frames are
// counted from the last restart instead.
class CFrameClock {
 public:
  // A new session: no base, no period, counting from 0.
  void Reset();
  // The frame period in 100-ns units (0: unknown). Any thread.
  void SetFrameInterval(std::int64_t nInterval);
  std::int64_t FrameInterval() const { return m_nInterval.load(); }
  // The stream time of the first frame (ns); -1 before it came.
  std::int64_t BaseTime() const { return m_nBaseTime.load(); }
  // After a seek: frames without a usable time count on from this index.
  void Restart(std::int64_t nFirstIndex);
  // The stamp of a frame (streaming thread). nStreamTime and nDuration in
  // ns, negative when unknown; the duration stands in for an unknown period.
  TFrameStamp Stamp(std::int64_t nStreamTime, std::int64_t nDuration);
  // The index of a time in 100-ns units from the first frame (0 without a
  // period).
  std::int64_t IndexOf(std::int64_t nTime) const;

 private:
  std::atomic<std::int64_t> m_nInterval{0};  // 100-ns units
  std::atomic<std::int64_t> m_nBaseTime{-1};
  std::atomic<std::int64_t> m_nCount{0};  // index of the next frame without a time
};

// Holds the streaming thread while the session is paused or stopped, so
// that no frame after the one shown at the pause reaches the owner. The
// media framework's own pause (its sinks wait with the frame they hold)
// does not always hold: under load a sink was seen in its paused state while
// the frames went on past it. The gate does not depend on that.
//
// The streaming thread calls Pass before it hands a frame on; Pass returns
// at once while the gate is open, while a seek is flushing the graph (the
// seek needs the streaming thread), and after Release; otherwise it waits
// until one of these, or until bStopped() answers true (asked every
// 100 ms), and answers whether the frame may go on (false: the stream was
// released or stopped while the frame waited).
class CStreamGate {
 public:
  void Open();   // playing
  void Close();  // paused or stopped: the next frame waits
  // A seek: frames pass (to be held or dropped by the seek) until EndFlush.
  void BeginFlush();
  void EndFlush();
  // The session ends: nothing waits any more, now or later.
  void Release();
  // A new session: open, not released.
  void Reset();
  bool Pass(const std::function<bool()>& bStopped);
  bool IsWaiting() const;

 private:
  mutable std::mutex m_Lock;
  std::condition_variable m_Changed;
  bool m_bOpen = true;
  bool m_bFlushing = false;
  bool m_bReleased = false;
  int m_nWaiting = 0;
};

class CFrameStream {
 public:
  // Called on the notification thread with each frame's notice; the data
  // is valid during the call only.
  using TDeliver = std::function<void(const ZarnTypes::TMediaFrameNotice& notice)>;

  CFrameStream() = default;
  ~CFrameStream() { Stop(); }
  CFrameStream(const CFrameStream&) = delete;
  CFrameStream& operator=(const CFrameStream&) = delete;

  // The layout of the frames the graph delivers. Any thread.
  void SetLayout(const TFrameLayout& layout);
  TFrameLayout Layout() const;

  // Starts the notification thread for frames of the current layout in a
  // pixel format of its depth (24 bits: PF_RGB24, 32 bits: PF_RGB32).
  // bFile: a file session (the writer waits for the owner and every notice
  // carries the file index); otherwise a live source (drops the oldest
  // frame after the grace). False when the layout and format do not fit or
  // the memory or the thread cannot be had.
  bool Start(ZarnTypes::TPixelFormat ePixelFormat, bool bFile, TDeliver deliver,
             std::chrono::milliseconds liveGrace = std::chrono::milliseconds(100));
  // Ends every wait (the writer's, the notification thread's) at once and
  // joins the thread. Frames not handed on yet are dropped.
  void Stop();
  bool Running() const { return m_bRunning.load(); }

  // Streaming thread: copies a frame of top-down rows at the layout's
  // source stride into a slot as bottom-up DIB rows and queues it. Waits
  // for room as the policy says. False (the frame is not handed on) when
  // the buffer does not hold every row, the layout changed since Start, or
  // the stream is flushing or stopped.
  bool Write(const std::uint8_t* pData, std::size_t nSize, const TFrameStamp& stamp);
  // The same frame without a copy: the lease's top-down rows at the
  // layout's source stride are queued as they are, and reach the owner
  // with the notice's nTopDownStride set; the lease is released once the
  // owner's call has returned (or at once when the frame is refused, for
  // the reasons Write gives).
  bool WriteLease(const TFrameLease& lease, const TFrameStamp& stamp);

  // A seek: see CFrameHandoff::BeginFlush / EndFlush.
  void BeginFlush() { m_Handoff.BeginFlush(); }
  void EndFlush() { m_Handoff.EndFlush(); }
  // Waits until every queued frame has been handed on (see CFrameHandoff).
  bool WaitDrained(std::chrono::milliseconds timeout) { return m_Handoff.WaitDrained(timeout); }

  std::uint64_t Dropped() const { return m_Handoff.Dropped(); }
  std::uint64_t Overwritten() const { return m_Handoff.Overwritten(); }
  std::uint64_t Delivered() const { return m_Handoff.Delivered(); }

 private:
  void ThreadLoop();
  // Whether a frame of nSize bytes holds every row of the streaming layout
  // (and the layout has not changed since Start); the source stride.
  bool HoldsFrame(std::size_t nSize, std::size_t* pSourceStride) const;

  mutable std::mutex m_LayoutLock;
  TFrameLayout m_Layout;
  // Fixed from Start until Stop: read by the writer and the thread.
  TFrameLayout m_Streaming;
  Dib::TBitmapInfoHeader m_Header{};
  ZarnTypes::TFrameBuffer m_Record{};
  ZarnTypes::TPixelFormat m_ePixelFormat{};
  bool m_bFile = false;
  TDeliver m_Deliver;

  CFrameHandoff m_Handoff;
  std::thread m_Thread;
  std::atomic<bool> m_bRunning{false};
};

}  // namespace DShowMgr
