#pragma once
// The hand-off of decoded frames from a media graph's streaming thread to the
// session's notification thread.
//
// The streaming thread never waits long on the consumer: a consumer that is
// slower than the stream loses frames, but it never sees a frame that is
// still being written. The hand-off keeps a few equally sized slots; each is
// free, being written, ready (queued for the consumer, oldest first) or being
// read. The writer always finds a slot: a free one, or else the oldest ready
// frame, which is then dropped. With a writer grace set, a writer that finds
// every slot taken first waits up to that long for the consumer to free one
// (the wait ends at once on Stop or Flush), so a consumer that is only
// briefly held up, say by a busy machine, loses nothing. The copy into a slot and the consumer's call
// on a slot both run outside the lock, on a slot nobody else can touch.
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
};

class CFrameHandoff {
 public:
  // What a wait of the consumer ended with.
  enum TWaitResult { WAIT_FRAME, WAIT_TIMEOUT, WAIT_STOPPED };

  // At least 3 slots: one written, one read, one or more queued.
  explicit CFrameHandoff(std::size_t nSlots = 4);
  CFrameHandoff(const CFrameHandoff&) = delete;
  CFrameHandoff& operator=(const CFrameHandoff&) = delete;

  // Gives every slot nFrameBytes of storage, forgets queued frames, clears
  // the counters and the stop state. Call before the writer and the
  // consumer start. False when the storage cannot be had.
  bool Configure(std::size_t nFrameBytes);
  std::size_t FrameBytes() const { return m_nFrameBytes; }
  // How long BeginWrite may wait for a free slot before it drops the oldest
  // queued frame; 0 (the default) never waits.
  void SetWriterGrace(std::chrono::milliseconds grace);

  // Writer side. BeginWrite returns a slot of FrameBytes() bytes that only
  // the writer touches until CommitWrite or AbortWrite; null after Stop or
  // before Configure. One write at a time. It waits only for the writer
  // grace, and only while every slot is taken.
  std::uint8_t* BeginWrite();
  // Queues the written slot for the consumer and wakes it.
  void CommitWrite(std::size_t nBytes, double dTime, std::int64_t nFrameNumber);
  // Gives the slot back without queueing it.
  void AbortWrite();

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
  // Drops the queued frames (a seek made them stale).
  void Flush();

  // Counters since Configure.
  std::uint64_t Published() const;  // frames committed
  std::uint64_t Delivered() const;  // frames handed to the consumer
  std::uint64_t Dropped() const;    // frames committed but never handed over

 private:
  enum TSlotState : std::uint8_t { SLOT_FREE, SLOT_WRITING, SLOT_READY, SLOT_READING };
  struct TSlot {
    std::vector<std::uint8_t> data;
    std::size_t nBytes = 0;
    double dTime = 0.0;
    std::int64_t nFrameNumber = 0;
    TSlotState eState = SLOT_FREE;
  };

  mutable std::mutex m_Lock;
  std::condition_variable m_Ready;
  std::condition_variable m_Drained;  // a consumer's call returned
  std::condition_variable m_Room;     // a slot became free, or stopped
  std::chrono::milliseconds m_WriterGrace{0};
  std::size_t m_nReading = 0;  // consumer calls in progress
  std::vector<TSlot> m_Slots;
  std::deque<std::size_t> m_Queue;  // ready slots, oldest first
  std::size_t m_nFrameBytes = 0;
  std::size_t m_nWriting = SIZE_MAX;
  bool m_bStopped = false;
  std::uint64_t m_nPublished = 0;
  std::uint64_t m_nDelivered = 0;
  std::uint64_t m_nDropped = 0;
};

}  // namespace DShowMgr
