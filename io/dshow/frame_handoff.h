#pragma once
// The hand-off of decoded frames from a media graph's streaming thread to the
// session's notification thread.
//
// The hand-off keeps a few equally sized slots; each is free, being written,
// ready (queued for the consumer, oldest first) or being read. The copy into
// a slot and the consumer's call on a slot both run outside the lock, on a
// slot nobody else can touch, so the consumer never sees a frame that is
// still being written. What the writer does when every slot is taken is its
// policy:
// - WRITER_WAITS (files): the writer waits, without a time limit, until the
//   consumer frees a slot, a flush begins or the hand-off stops. Nothing is
//   ever dropped for a slow consumer; the stream is held back instead, as
//   every pull pipeline holds back its source.
// - WRITER_DROPS_OLDEST (live sources): the writer waits at most its grace
//   for a slot, then takes the oldest queued frame's, which is dropped and
//   counted (Overwritten). A live source cannot be held back.
//
// A seek brackets its work with BeginFlush and EndFlush: the queued frames
// and the frame being written or waited for are dropped, writes while
// flushing are refused, and the first frame committed after EndFlush is
// marked as a discontinuity, so the consumer can tell the frames after a
// seek from those before it.
//
// No GStreamer and no Qt here, so that the hand-off can be tested on plain
// threads under ThreadSanitizer.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace DShowMgr {

// One frame as the consumer sees it; valid only during the consumer's call.
struct THandoffFrame {
  const std::uint8_t* pData = nullptr;
  std::size_t nBytes = 0;  // bytes the writer stored
  double dTime = 0.0;      // seconds
  std::int64_t nFrameNumber = 0;
  bool bDiscontinuity = false;  // the first frame committed after a flush
  bool bLeased = false;         // the maker's own memory, as it made it (CommitLease)
};

// A frame left in the memory of whoever made it (a media graph's buffer):
// the hand-off queues it without a copy and calls pRelease(pHandle) exactly
// once, on the thread that frees its slot (after the consumer's call, a
// flush, a stop or an overwrite), or at once when it is refused.
struct TFrameLease {
  const std::uint8_t* pData = nullptr;
  std::size_t nBytes = 0;
  void (*pRelease)(void* pHandle) = nullptr;
  void* pHandle = nullptr;
};

class CFrameHandoff {
 public:
  // What a wait of the consumer ended with.
  enum TWaitResult { WAIT_FRAME, WAIT_TIMEOUT, WAIT_STOPPED };
  // What a writer that finds every slot taken does (see above).
  enum TWriterPolicy { WRITER_WAITS, WRITER_DROPS_OLDEST };

  // At least 3 slots: one written, one read, one or more queued.
  explicit CFrameHandoff(std::size_t nSlots = 4);
  ~CFrameHandoff();  // releases the leases still queued
  CFrameHandoff(const CFrameHandoff&) = delete;
  CFrameHandoff& operator=(const CFrameHandoff&) = delete;

  // Gives every slot nFrameBytes of storage, forgets queued frames, clears
  // the counters and the stop state. Call before the writer and the
  // consumer start. False when the storage cannot be had.
  bool Configure(std::size_t nFrameBytes);
  std::size_t FrameBytes() const { return m_nFrameBytes; }
  // The writer's policy; the default drops the oldest frame at once (no
  // grace). The grace applies to WRITER_DROPS_OLDEST only.
  void SetWriterPolicy(TWriterPolicy ePolicy, std::chrono::milliseconds grace = std::chrono::milliseconds(0));
  // WRITER_DROPS_OLDEST with this grace.
  void SetWriterGrace(std::chrono::milliseconds grace);

  // Writer side. BeginWrite returns a slot of FrameBytes() bytes that only
  // the writer touches until CommitWrite or AbortWrite; null after Stop,
  // before Configure, while a flush is under way, or when a flush began
  // while it waited for room. One write at a time. It waits only while every
  // slot is taken, as the policy says.
  std::uint8_t* BeginWrite();
  // Queues the written slot for the consumer and wakes it. A slot begun
  // before a flush (or a stop) is dropped instead: its frame is stale.
  void CommitWrite(std::size_t nBytes, double dTime, std::int64_t nFrameNumber);
  // Gives the slot back without queueing it.
  void AbortWrite();
  // A leased frame: takes a slot as BeginWrite does (waiting for room as
  // the policy says) and queues the lease in it in place of a copy, as
  // CommitWrite would queue a written frame. False, with the lease
  // released at once, when no slot can be had or the frame went stale
  // while it waited (a flush or a stop).
  bool CommitLease(const TFrameLease& lease, double dTime, std::int64_t nFrameNumber);

  // Consumer side: waits up to the time-out for a queued frame and calls the
  // function on it (outside the lock). WAIT_STOPPED at once after Stop.
  TWaitResult WaitAndConsume(std::chrono::milliseconds timeout,
                             const std::function<void(const THandoffFrame&)>& consume);

  // Waits up to the time-out until every queued frame has been handed to
  // the consumer and its call has returned. True when none is left (also
  // after Stop); false after the time-out.
  bool WaitDrained(std::chrono::milliseconds timeout);

  // Ends every wait now and later; queued frames are dropped. A write in
  // progress may still be committed, it is then dropped too.
  void Stop();
  bool IsStopped() const;
  // A seek begins: drops the queued frames and the frame being written,
  // ends a writer's wait for room at once, and refuses writes until
  // EndFlush. A consumer's call in progress is not interrupted.
  void BeginFlush();
  // The seek is done: writes are taken again, and the first frame
  // committed from now on carries bDiscontinuity.
  void EndFlush();
  bool IsFlushing() const;
  // BeginFlush and EndFlush at once.
  void Flush();

  // Counters since Configure.
  std::uint64_t Published() const;  // frames committed
  std::uint64_t Delivered() const;  // frames handed to the consumer
  std::uint64_t Dropped() const;    // frames committed but never handed over (overwritten, flushed, stopped)
  std::uint64_t Overwritten() const;  // of those, the ones a live writer dropped for want of room

 private:
  enum TSlotState : std::uint8_t { SLOT_FREE, SLOT_WRITING, SLOT_READY, SLOT_READING };
  struct TSlot {
    std::vector<std::uint8_t> data;
    std::size_t nBytes = 0;
    double dTime = 0.0;
    std::int64_t nFrameNumber = 0;
    bool bDiscontinuity = false;
    TSlotState eState = SLOT_FREE;
    TFrameLease lease;  // pRelease set: the slot holds this lease in place of data
  };

  // Under the lock: the slot's lease, if any, moves to `released`, whose
  // leases the caller releases once it has let go of the lock.
  static void TakeLease(TSlot& slot, std::vector<TFrameLease>& released);
  static void Release(const std::vector<TFrameLease>& released);
  // Queues the slot being written (with the lease in place of its data
  // when there is one); a stale frame frees it instead. Released leases go
  // to `released`. CommitSlot answers whether the frame was queued.
  bool CommitSlot(const TFrameLease* pLease, std::size_t nBytes, double dTime, std::int64_t nFrameNumber);
  bool QueueWritten(const TFrameLease* pLease, std::size_t nBytes, double dTime, std::int64_t nFrameNumber,
                    std::vector<TFrameLease>& released);

  mutable std::mutex m_Lock;
  std::condition_variable m_Ready;
  std::condition_variable m_Drained;  // a consumer's call returned
  std::condition_variable m_Room;     // a slot became free, or stopped
  TWriterPolicy m_ePolicy = WRITER_DROPS_OLDEST;
  std::chrono::milliseconds m_WriterGrace{0};
  std::size_t m_nReading = 0;  // consumer calls in progress
  std::vector<TSlot> m_Slots;
  std::deque<std::size_t> m_Queue;  // ready slots, oldest first
  std::size_t m_nFrameBytes = 0;
  std::size_t m_nWriting = SIZE_MAX;
  std::uint64_t m_nWritingSerial = 0;  // the flush serial when the write began
  std::uint64_t m_nFlushSerial = 0;    // flushes begun since Configure
  bool m_bFlushing = false;
  bool m_bMarkNext = false;  // the next commit carries bDiscontinuity
  bool m_bStopped = false;
  std::uint64_t m_nPublished = 0;
  std::uint64_t m_nDelivered = 0;
  std::uint64_t m_nDropped = 0;
  std::uint64_t m_nOverwritten = 0;
};

}  // namespace DShowMgr
