#include "io/dshow/frame_handoff.h"

#include <algorithm>
#include <new>

namespace DShowMgr {

CFrameHandoff::CFrameHandoff(std::size_t nSlots) : m_Slots(std::max<std::size_t>(nSlots, 3)) {}

CFrameHandoff::~CFrameHandoff() {
  std::vector<TFrameLease> released;
  for (TSlot& slot : m_Slots) TakeLease(slot, released);
  Release(released);
}

void CFrameHandoff::TakeLease(TSlot& slot, std::vector<TFrameLease>& released) {
  if (slot.lease.pRelease) released.push_back(slot.lease);
  slot.lease = TFrameLease{};
}

void CFrameHandoff::Release(const std::vector<TFrameLease>& released) {
  for (const TFrameLease& lease : released) lease.pRelease(lease.pHandle);
}

bool CFrameHandoff::Configure(std::size_t nFrameBytes) {
  std::vector<TFrameLease> released;
  struct TReleaseAfter {
    std::vector<TFrameLease>& leases;
    ~TReleaseAfter() { Release(leases); }
  } releaseAfter{released};
  std::lock_guard lock(m_Lock);
  for (TSlot& slot : m_Slots) TakeLease(slot, released);
  m_Queue.clear();
  m_nWriting = SIZE_MAX;
  m_nWritingSerial = m_nFlushSerial = 0;
  m_bFlushing = false;
  m_bMarkNext = false;
  m_bStopped = false;
  m_nPublished = m_nDelivered = m_nDropped = m_nOverwritten = 0;
  try {
    for (TSlot& slot : m_Slots) {
      slot.data.assign(nFrameBytes, 0);
      slot.nBytes = 0;
      slot.eState = SLOT_FREE;
    }
  } catch (const std::bad_alloc&) {
    for (TSlot& slot : m_Slots) std::vector<std::uint8_t>().swap(slot.data);
    m_nFrameBytes = 0;
    return false;
  }
  m_nFrameBytes = nFrameBytes;
  return true;
}

void CFrameHandoff::SetWriterPolicy(TWriterPolicy ePolicy, std::chrono::milliseconds grace) {
  std::lock_guard lock(m_Lock);
  m_ePolicy = ePolicy;
  m_WriterGrace = std::max(grace, std::chrono::milliseconds(0));
}

void CFrameHandoff::SetWriterGrace(std::chrono::milliseconds grace) {
  SetWriterPolicy(WRITER_DROPS_OLDEST, grace);
}

std::uint8_t* CFrameHandoff::BeginWrite() {
  std::vector<TFrameLease> released;
  struct TReleaseAfter {
    std::vector<TFrameLease>& leases;
    ~TReleaseAfter() { Release(leases); }
  } releaseAfter{released};  // declared before the lock: runs after it is let go
  std::unique_lock lock(m_Lock);
  if (m_bStopped || m_bFlushing || m_nFrameBytes == 0 || m_nWriting != SIZE_MAX) return nullptr;
  const auto freeSlot = [this] {
    for (std::size_t i = 0; i < m_Slots.size(); ++i)
      if (m_Slots[i].eState == SLOT_FREE) return i;
    return std::size_t{SIZE_MAX};
  };
  const std::uint64_t serial = m_nFlushSerial;
  std::size_t index = freeSlot();
  if (index == SIZE_MAX && m_ePolicy == WRITER_WAITS) {
    // A file's frame waits for the consumer, however long it takes. This
    // cannot deadlock: every slot that is taken is either queued, and the
    // consumer takes it, or being read, and the consumer's call returns; a
    // consumer that stops taking frames (its owner stops the session or
    // seeks) ends this wait through Stop or BeginFlush, which never wait for
    // the writer. The owner must not wait on the writer's thread while it
    // holds back the consumer.
    m_Room.wait(lock, [&] {
      return m_bStopped || m_bFlushing || m_nFlushSerial != serial || (index = freeSlot()) != SIZE_MAX;
    });
    if (m_bStopped || m_bFlushing || m_nFlushSerial != serial) return nullptr;  // the frame is stale
  } else if (index == SIZE_MAX && m_WriterGrace.count() > 0) {
    m_Room.wait_for(lock, m_WriterGrace, [&] {
      return m_bStopped || m_bFlushing || m_nFlushSerial != serial || (index = freeSlot()) != SIZE_MAX;
    });
    if (m_bStopped || m_bFlushing || m_nFlushSerial != serial) return nullptr;
  }
  if (index == SIZE_MAX) {
    // Every other slot is queued or being read: the oldest queued frame
    // makes room. With one writer and one reader there always is one.
    if (m_Queue.empty()) return nullptr;
    index = m_Queue.front();
    m_Queue.pop_front();
    TakeLease(m_Slots[index], released);
    ++m_nDropped;
    ++m_nOverwritten;
  }
  m_Slots[index].eState = SLOT_WRITING;
  m_nWriting = index;
  m_nWritingSerial = serial;
  return m_Slots[index].data.data();
}

void CFrameHandoff::CommitWrite(std::size_t nBytes, double dTime, std::int64_t nFrameNumber) {
  CommitSlot(nullptr, nBytes, dTime, nFrameNumber);
}

bool CFrameHandoff::CommitLease(const TFrameLease& lease, double dTime, std::int64_t nFrameNumber) {
  if (!lease.pRelease) return false;
  if (!lease.pData || !BeginWrite()) {
    lease.pRelease(lease.pHandle);
    return false;
  }
  return CommitSlot(&lease, lease.nBytes, dTime, nFrameNumber);
}

bool CFrameHandoff::CommitSlot(const TFrameLease* pLease, std::size_t nBytes, double dTime,
                               std::int64_t nFrameNumber) {
  std::vector<TFrameLease> released;
  bool bQueued = false;
  {
    std::lock_guard lock(m_Lock);
    if (m_nWriting == SIZE_MAX) {
      if (pLease) released.push_back(*pLease);
    } else {
      bQueued = QueueWritten(pLease, nBytes, dTime, nFrameNumber, released);
    }
  }
  Release(released);
  if (bQueued) m_Ready.notify_one();
  return bQueued;
}

bool CFrameHandoff::QueueWritten(const TFrameLease* pLease, std::size_t nBytes, double dTime,
                                 std::int64_t nFrameNumber, std::vector<TFrameLease>& released) {
  TSlot& slot = m_Slots[m_nWriting];
  m_nWriting = SIZE_MAX;
  if (pLease) {
    slot.lease = *pLease;
    slot.nBytes = nBytes;
  } else {
    slot.nBytes = std::min(nBytes, m_nFrameBytes);
  }
  slot.dTime = dTime;
  slot.nFrameNumber = nFrameNumber;
  ++m_nPublished;
  if (m_bStopped || m_bFlushing || m_nWritingSerial != m_nFlushSerial) {
    // Begun before a flush or a stop: a frame from before the seek.
    slot.eState = SLOT_FREE;
    TakeLease(slot, released);
    ++m_nDropped;
    return false;
  }
  slot.eState = SLOT_READY;
  slot.bDiscontinuity = m_bMarkNext;
  m_bMarkNext = false;
  m_Queue.push_back(static_cast<std::size_t>(&slot - m_Slots.data()));
  return true;
}

void CFrameHandoff::AbortWrite() {
  std::lock_guard lock(m_Lock);
  if (m_nWriting == SIZE_MAX) return;
  m_Slots[m_nWriting].eState = SLOT_FREE;
  m_nWriting = SIZE_MAX;
}

CFrameHandoff::TWaitResult CFrameHandoff::WaitAndConsume(
    std::chrono::milliseconds timeout, const std::function<void(const THandoffFrame&)>& consume) {
  std::size_t index;
  {
    std::unique_lock lock(m_Lock);
    if (!m_Ready.wait_for(lock, timeout, [this] { return m_bStopped || !m_Queue.empty(); }))
      return WAIT_TIMEOUT;
    if (m_bStopped) return WAIT_STOPPED;
    index = m_Queue.front();
    m_Queue.pop_front();
    m_Slots[index].eState = SLOT_READING;
    ++m_nDelivered;
    ++m_nReading;
  }
  const TSlot& slot = m_Slots[index];
  THandoffFrame frame;
  frame.bLeased = slot.lease.pRelease != nullptr;
  frame.pData = frame.bLeased ? slot.lease.pData : slot.data.data();
  frame.nBytes = slot.nBytes;
  frame.dTime = slot.dTime;
  frame.nFrameNumber = slot.nFrameNumber;
  frame.bDiscontinuity = slot.bDiscontinuity;
  if (consume) consume(frame);
  std::vector<TFrameLease> released;
  {
    std::lock_guard lock(m_Lock);
    m_Slots[index].eState = SLOT_FREE;
    TakeLease(m_Slots[index], released);
    --m_nReading;
  }
  Release(released);
  m_Drained.notify_all();
  m_Room.notify_all();
  return WAIT_FRAME;
}

bool CFrameHandoff::WaitDrained(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_Lock);
  return m_Drained.wait_for(lock, timeout,
                            [this] { return m_bStopped || (m_Queue.empty() && m_nReading == 0); });
}

void CFrameHandoff::Stop() {
  std::vector<TFrameLease> released;
  {
    std::lock_guard lock(m_Lock);
    m_bStopped = true;
    for (std::size_t index : m_Queue) {
      m_Slots[index].eState = SLOT_FREE;
      TakeLease(m_Slots[index], released);
    }
    m_nDropped += m_Queue.size();
    m_Queue.clear();
  }
  Release(released);
  m_Ready.notify_all();
  m_Drained.notify_all();
  m_Room.notify_all();
}

bool CFrameHandoff::IsStopped() const {
  std::lock_guard lock(m_Lock);
  return m_bStopped;
}

void CFrameHandoff::BeginFlush() {
  std::vector<TFrameLease> released;
  {
    std::lock_guard lock(m_Lock);
    m_bFlushing = true;
    ++m_nFlushSerial;
    for (std::size_t index : m_Queue) {
      m_Slots[index].eState = SLOT_FREE;
      TakeLease(m_Slots[index], released);
    }
    m_nDropped += m_Queue.size();
    m_Queue.clear();
  }
  Release(released);
  m_Drained.notify_all();
  m_Room.notify_all();
}

void CFrameHandoff::EndFlush() {
  std::lock_guard lock(m_Lock);
  m_bFlushing = false;
  m_bMarkNext = true;
}

bool CFrameHandoff::IsFlushing() const {
  std::lock_guard lock(m_Lock);
  return m_bFlushing;
}

void CFrameHandoff::Flush() {
  BeginFlush();
  EndFlush();
}

std::uint64_t CFrameHandoff::Published() const {
  std::lock_guard lock(m_Lock);
  return m_nPublished;
}
std::uint64_t CFrameHandoff::Delivered() const {
  std::lock_guard lock(m_Lock);
  return m_nDelivered;
}
std::uint64_t CFrameHandoff::Dropped() const {
  std::lock_guard lock(m_Lock);
  return m_nDropped;
}
std::uint64_t CFrameHandoff::Overwritten() const {
  std::lock_guard lock(m_Lock);
  return m_nOverwritten;
}

}  // namespace DShowMgr
