// The frame ring queue and the frame processor.

#include "media/frame_processor.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "platform/message_sink.h"

namespace FrameRingQueue {

using namespace ZarnTypes;

namespace {

constexpr bool IsPackedRgb(std::int32_t f) { return (f >= 18 && f <= 20) || (f >= 26 && f <= 29); }
constexpr bool IsPaletteDib(std::int32_t f) { return f == PF_DIB_1 || f == PF_DIB_4 || f == PF_DIB_8; }
constexpr bool IsPlanar(std::int32_t f) {
  return (f >= PF_YUV444_601 && f <= PF_YUV420_601) || (f >= PF_YCBCR_FIRST && f <= PF_YCBCR_LAST);
}

std::int32_t ColourTableBytes(std::int32_t f) {
  switch (f) {
    case PF_DIB_1: return 12;
    case PF_DIB_4: return 68;
    case PF_DIB_8: return 1028;
    default: return 0;
  }
}

// The written count of a scene, shared between the writer and the reader.
std::atomic_ref<std::int32_t> WrittenOf(TFrameScene& scene) {
  return std::atomic_ref<std::int32_t>(scene.nWritten);
}

// A plane size the notice states: its own field, else its planar record's.
std::int32_t StatedPlane(std::int32_t explicitSize, const TYuvFrameBuffer* record,
                         std::int32_t TYuvFrameBuffer::*field) {
  if (explicitSize > 0) return explicitSize;
  return record ? record->*field : 0;
}

}  // namespace

CFrameRingQueue::CFrameRingQueue() { ResetTables(); }

CFrameRingQueue::~CFrameRingQueue() { FreeBuffers(); }

void CFrameRingQueue::ResetTables() {
  for (std::int32_t i = 0; i < kTableEntries; ++i) {
    m_Writers[static_cast<std::size_t>(i)] = TRoleEntry{0, i, -1};
    m_Readers[static_cast<std::size_t>(i)] = TRoleEntry{0, i, -1};
    m_nFramesRemaining[static_cast<std::size_t>(i)] = 0;
  }
}

bool CFrameRingQueue::SetFrameFormat(std::int32_t nWidth, std::int32_t nHeight, TPixelFormat ePixelFormat) {
  std::lock_guard<std::mutex> lock(m_RingLock);
  if (m_pFrameBuffer) return false;  // the slots are cut for the current size
  const std::int32_t f = ePixelFormat;
  if ((f >= 18 && f <= 20) || f == PF_DIB_1 || (f >= 24 && f <= 29)) {
    TFrameBuffer layout{};
    layout.ePixelFormat = ePixelFormat;
    layout.nWidth = nWidth;
    layout.nHeight = nHeight;
    layout.nRowAlignment = f <= 20 ? 1 : 4;
    layout.nHeightAlignment = 1;
    layout.nFlag = 1;
    if (!LayoutFrameBuffer(&layout)) return false;
    m_FrameLayout = layout;
    m_YuvLayout = TYuvFrameBuffer{};
    m_nColourTableBytes = ColourTableBytes(f);
    m_nFrameSize = layout.nSize + m_nColourTableBytes;
  } else if (IsPlanar(f) || f == PF_YUY2) {
    TYuvFrameBuffer layout{};
    layout.ePixelFormat = ePixelFormat;
    layout.nWidth = nWidth;
    layout.nHeight = nHeight;
    layout.nWidthAlignment = f == PF_YUY2 ? 4 : 2;
    layout.nHeightAlignment = 2;
    if (!LayoutYuvFrame(&layout)) return false;
    m_YuvLayout = layout;
    m_FrameLayout = TFrameBuffer{};
    m_nColourTableBytes = 0;
    m_nFrameSize = layout.nTotalSize;
  } else {
    return false;
  }
  m_ePixelFormat = ePixelFormat;
  m_nWidth = nWidth;
  m_nHeight = nHeight;
  return true;
}

std::uint64_t CFrameRingQueue::MemoryLimit() const {
  if (m_nMemoryLimit != 0) return m_nMemoryLimit;
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return std::uint64_t{1} << 31;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 2;
}

bool CFrameRingQueue::AllocateBuffers(std::int32_t nScenes, std::int32_t nFrames) {
  std::lock_guard<std::mutex> lock(m_RingLock);
  FreeBuffersLocked();
  if (nScenes < 0 || nFrames < 0 || m_nFrameSize <= 0) return false;

  // Every size in 64 bits: frames x slots cannot wrap (both below 2^31).
  const std::uint64_t slots = static_cast<std::uint64_t>(nFrames) + 1;
  const std::uint64_t frameBytes = static_cast<std::uint64_t>(m_nFrameSize) * slots;
  const std::uint64_t recordBytes =
      slots * sizeof(TDataFrame) + (static_cast<std::uint64_t>(nScenes) + 1) * sizeof(TFrameScene);
  const std::uint64_t limit = MemoryLimit();
  if (frameBytes > limit || recordBytes > limit - std::min(limit, frameBytes) ||
      frameBytes > std::numeric_limits<std::size_t>::max()) {
    platform::ShowMessage("Can not allocate memory for frame buffer");
    return false;
  }
  if (!m_SceneRing.Allocate(nScenes) || !m_FrameRing.Allocate(nFrames)) {
    FreeBuffersLocked();
    return false;
  }
  m_pFrameBuffer.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(frameBytes)]);
  if (!m_pFrameBuffer) {
    platform::ShowMessage("Can not allocate memory for frame buffer");
    FreeBuffersLocked();
    return false;
  }
  for (std::int32_t s = 0; s < m_SceneRing.GetSize(); ++s) *m_SceneRing.SlotAt(s) = TFrameScene{};
  for (std::int32_t i = 0; i < m_FrameRing.GetSize(); ++i) {
    TDataFrame frame{};
    frame.pData = m_pFrameBuffer.get() + static_cast<std::size_t>(m_nFrameSize) * static_cast<std::size_t>(i);
    *m_FrameRing.SlotAt(i) = frame;
  }
  ResetTables();
  return true;
}

bool CFrameRingQueue::SceneCanFit(std::int32_t nFrames) const {
  std::lock_guard<std::mutex> lock(m_RingLock);
  return nFrames >= 1 && m_SceneRing.HasStorage() && m_FrameRing.HasStorage() &&
         m_SceneRing.GetCapacity() >= 1 && m_FrameRing.GetCapacity() >= nFrames;
}

std::int32_t CFrameRingQueue::OpenScene(std::int32_t nWriter, std::int32_t nSource, std::int32_t nSceneNumber,
                                        std::int32_t nFrames) {
  if (!IsValidRole(nWriter) || nFrames < 1) return FQ_REFUSED;
  std::lock_guard<std::mutex> lock(m_RingLock);
  if (!m_SceneRing.HasStorage() || !m_FrameRing.HasStorage() || !m_pFrameBuffer) return FQ_REFUSED;
  if (m_SceneRing.GetCount() >= m_SceneRing.GetCapacity()) return FQ_SCENE_RING_FULL;
  if (m_FrameRing.GetCapacity() - m_FrameRing.GetCount() < nFrames) return FQ_NO_FRAME_SLOTS;
  const std::int32_t sceneSlot = m_SceneRing.GetWriteIndex();
  TFrameScene scene{};
  scene.nSource = nSource;
  scene.nOpenWriter = nWriter;
  scene.nWriter = nWriter;
  scene.nReader = 0;
  scene.ePixelFormat = m_ePixelFormat;
  scene.nSceneNumber = nSceneNumber;
  scene.nLastFrame = nFrames - 1;
  scene.nFrameCapacity = nFrames;
  scene.nFirstSlot = m_FrameRing.GetWriteIndex();
  if (!m_SceneRing.Push(scene)) return FQ_REFUSED;
  m_FrameRing.Advance(nFrames);
  m_Writers[static_cast<std::size_t>(nWriter)].nSceneSlot = sceneSlot;
  return FQ_DONE;
}

bool CFrameRingQueue::NoticeFits(const TMediaFrameNotice& notice) const {
  if (m_nFrameSize <= 0 || notice.ePixelFormat != m_ePixelFormat || notice.nWidth != m_nWidth ||
      notice.nHeight != m_nHeight)
    return false;
  const std::int32_t f = m_ePixelFormat;
  if (IsPackedRgb(f)) return notice.pRgbData != nullptr && notice.nRgbSize == m_FrameLayout.nSize;
  if (IsPaletteDib(f)) {
    return notice.pRgbData != nullptr && notice.nRgbSize == m_FrameLayout.nSize &&
           notice.pColourTable != nullptr && notice.nColourTableSize >= 4 &&
           notice.nColourTableSize <= m_nColourTableBytes;
  }
  if (IsPlanar(f)) {
    const TYuvFrameBuffer* record = notice.pPlanarRecord;
    return notice.pY != nullptr && notice.pCb != nullptr && notice.pCr != nullptr &&
           StatedPlane(notice.nYSize, record, &TYuvFrameBuffer::nYSize) == m_YuvLayout.nYSize &&
           StatedPlane(notice.nCbSize, record, &TYuvFrameBuffer::nCbSize) == m_YuvLayout.nCbSize &&
           StatedPlane(notice.nCrSize, record, &TYuvFrameBuffer::nCrSize) == m_YuvLayout.nCrSize;
  }
  if (f == PF_YUY2) return notice.pY != nullptr && notice.nYuy2Size == m_YuvLayout.nTotalSize;
  return false;
}

void CFrameRingQueue::CopyIntoSlot(std::uint8_t* pSlot, const TMediaFrameNotice& notice) const {
  const std::int32_t f = m_ePixelFormat;
  if (IsPackedRgb(f)) {
    std::memcpy(pSlot, notice.pRgbData, static_cast<std::size_t>(notice.nRgbSize));
  } else if (IsPaletteDib(f)) {
    std::memcpy(pSlot, notice.pRgbData, static_cast<std::size_t>(notice.nRgbSize));
    std::uint8_t* table = pSlot + m_FrameLayout.nSize;
    const auto given = static_cast<std::size_t>(notice.nColourTableSize);
    std::memcpy(table, notice.pColourTable, given);
    std::memset(table + given, 0, static_cast<std::size_t>(m_nColourTableBytes) - given);
  } else if (IsPlanar(f)) {
    const auto y = static_cast<std::size_t>(m_YuvLayout.nYSize);
    const auto cb = static_cast<std::size_t>(m_YuvLayout.nCbSize);
    std::memcpy(pSlot, notice.pY, y);
    std::memcpy(pSlot + y, notice.pCb, cb);
    std::memcpy(pSlot + y + cb, notice.pCr, static_cast<std::size_t>(m_YuvLayout.nCrSize));
  } else if (f == PF_YUY2) {
    std::memcpy(pSlot, notice.pY, static_cast<std::size_t>(notice.nYuy2Size));
  }
}

std::int32_t CFrameRingQueue::WriteFrame(std::int32_t nWriter, const TMediaFrameNotice& notice,
                                         std::int32_t nFrameNumber, std::int32_t nSceneNumber) {
  if (!IsValidRole(nWriter) || !NoticeFits(notice)) return FQ_REFUSED;
  // The writer's entry and its scene's capacity and first slot are the
  // writer's own while the scene is open; the slot arithmetic reads only the
  // ring's fixed capacity.
  const std::int32_t sceneSlot = m_Writers[static_cast<std::size_t>(nWriter)].nSceneSlot;
  if (sceneSlot < 0) return FQ_NO_SCENE;
  TFrameScene* scene = m_SceneRing.SlotAt(sceneSlot);
  if (!scene) return FQ_REFUSED;
  const std::int32_t written = WrittenOf(*scene).load(std::memory_order_relaxed);
  if (written >= scene->nFrameCapacity) return FQ_SCENE_FULL;
  TDataFrame* frame = m_FrameRing.SlotAt(m_FrameRing.Step(scene->nFirstSlot, written));
  if (!frame || !frame->pData) return FQ_REFUSED;
  frame->nFrameNumber = nFrameNumber;
  frame->nSceneNumber = nSceneNumber;
  frame->dTime = notice.dTime;
  frame->nFrameNumber64 = notice.nFrameNumber;
  CopyIntoSlot(frame->pData, notice);
  WrittenOf(*scene).store(written + 1, std::memory_order_release);
  return FQ_DONE;
}

std::int32_t CFrameRingQueue::ClaimScene(std::int32_t nReader) {
  if (!IsValidRole(nReader)) return FQ_REFUSED;
  std::lock_guard<std::mutex> lock(m_RingLock);
  if (!m_SceneRing.HasStorage() || !m_FrameRing.HasStorage() || !m_pFrameBuffer) return FQ_NO_STORAGE;
  TRoleEntry& entry = m_Readers[static_cast<std::size_t>(nReader)];
  if (entry.nSceneSlot >= 0) return FQ_REFUSED;  // it would lose the scene it holds
  for (std::int32_t k = 0; k < m_SceneRing.GetCount(); ++k) {
    const std::int32_t slot = m_SceneRing.Step(m_SceneRing.GetReadIndex(), k);
    TFrameScene* scene = m_SceneRing.SlotAt(slot);
    // A read-out scene (number -1) that its writer has not closed yet stays
    // in the ring; claiming it again would read it out again for ever.
    if (scene && scene->nWriter == 1 && scene->nReader == 0 && scene->nFrameCapacity > 0 &&
        scene->nSceneNumber != -1) {
      scene->nReader = nReader;
      entry.nSceneSlot = slot;
      return FQ_DONE;
    }
  }
  return FQ_NOTHING_TO_CLAIM;
}

void CFrameRingQueue::DescribeSlot(const std::uint8_t* pSlot, TMediaFrameNotice& notice) const {
  const std::int32_t f = m_ePixelFormat;
  notice.ePixelFormat = m_ePixelFormat;
  notice.nWidth = m_nWidth;
  notice.nHeight = m_nHeight;
  if (IsPackedRgb(f)) {
    notice.pRgbData = pSlot;
    notice.nRgbSize = m_nFrameSize;
    notice.pFrameRecord = const_cast<TFrameBuffer*>(&m_FrameLayout);
  } else if (IsPaletteDib(f)) {
    notice.pRgbData = pSlot;
    notice.nRgbSize = m_nFrameSize - m_nColourTableBytes;
    notice.pColourTable = pSlot + notice.nRgbSize;
    notice.nColourTableSize = m_nColourTableBytes;
    notice.pFrameRecord = const_cast<TFrameBuffer*>(&m_FrameLayout);
  } else if (IsPlanar(f)) {
    notice.pY = pSlot;
    notice.pCb = pSlot + m_YuvLayout.nYSize;
    notice.pCr = notice.pCb + m_YuvLayout.nCbSize;
    notice.nYSize = m_YuvLayout.nYSize;
    notice.nCbSize = m_YuvLayout.nCbSize;
    notice.nCrSize = m_YuvLayout.nCrSize;
    notice.pPlanarRecord = const_cast<TYuvFrameBuffer*>(&m_YuvLayout);
  } else if (f == PF_YUY2) {
    notice.pY = pSlot;
    notice.nYuy2Size = m_nFrameSize;
    notice.pPlanarRecord = const_cast<TYuvFrameBuffer*>(&m_YuvLayout);
  }
}

std::int32_t CFrameRingQueue::ReadFrame(std::int32_t nReader, TFrameReadout& out) {
  if (!IsValidRole(nReader)) return FQ_REFUSED;
  // The reader's entry and its scene's read count are the reader's own; the
  // scene's capacity and first slot were fixed before it was claimed.
  const auto r = static_cast<std::size_t>(nReader);
  const std::int32_t sceneSlot = m_Readers[r].nSceneSlot;
  if (sceneSlot < 0) return FQ_NO_SCENE;
  TFrameScene* scene = m_SceneRing.SlotAt(sceneSlot);
  if (!scene) return FQ_REFUSED;
  if (scene->nRead >= scene->nFrameCapacity) {
    m_nFramesRemaining[r] = 0;
    return FQ_SCENE_READ_OUT;
  }
  const std::int32_t written = WrittenOf(*scene).load(std::memory_order_acquire);
  if (scene->nRead >= written) {
    m_nFramesRemaining[r] = 0;
    return FQ_NO_FRAME;
  }
  const std::int32_t slot = m_FrameRing.Step(scene->nFirstSlot, scene->nRead);
  const TDataFrame* frame = m_FrameRing.SlotAt(slot);
  if (!frame || !frame->pData) return FQ_REFUSED;
  out = TFrameReadout{};
  out.nFrameSlot = slot;
  out.nSceneSlot = sceneSlot;
  out.nPosition = scene->nRead;
  out.nFrameNumber = frame->nFrameNumber;
  out.pData = frame->pData;
  out.dTime = frame->dTime;
  DescribeSlot(frame->pData, out.notice);
  out.notice.dTime = frame->dTime;
  out.notice.nFrameNumber = frame->nFrameNumber64;
  m_nFramesRemaining[r] = written - scene->nRead;
  ++scene->nRead;
  return FQ_DONE;
}

std::int32_t CFrameRingQueue::ReleaseScenes() {
  std::lock_guard<std::mutex> lock(m_RingLock);
  std::int32_t released = 0;
  while (m_SceneRing.GetCount() > 0) {
    const TFrameScene* oldest = m_SceneRing.Peek(0);
    if (!oldest || oldest->nOpenWriter != 0 || oldest->nReader != 0 || oldest->nWriter <= 0 ||
        oldest->nSceneNumber != -1)
      break;
    m_FrameRing.Release(std::min(m_FrameRing.GetCapacity(), oldest->nFrameCapacity));
    m_SceneRing.Release(1);
    ++released;
  }
  return released;
}

bool CFrameRingQueue::CloseWriterScene(std::int32_t nWriter) {
  if (!IsValidRole(nWriter)) return false;
  std::lock_guard<std::mutex> lock(m_RingLock);
  TRoleEntry& entry = m_Writers[static_cast<std::size_t>(nWriter)];
  TFrameScene* scene = m_SceneRing.SlotAt(entry.nSceneSlot);
  if (!scene) return false;
  scene->nOpenWriter = 0;
  entry.nSceneSlot = -1;
  return true;
}

bool CFrameRingQueue::GiveUpReaderScene(std::int32_t nReader) {
  if (!IsValidRole(nReader)) return false;
  std::lock_guard<std::mutex> lock(m_RingLock);
  TRoleEntry& entry = m_Readers[static_cast<std::size_t>(nReader)];
  TFrameScene* scene = m_SceneRing.SlotAt(entry.nSceneSlot);
  if (!scene) return false;
  scene->nReader = 0;
  scene->nSceneNumber = -1;
  entry.nSceneSlot = -1;
  return true;
}

void CFrameRingQueue::FreeBuffersLocked() {
  m_SceneRing.Clear();
  m_FrameRing.Clear();
  m_pFrameBuffer.reset();
  ResetTables();
}

void CFrameRingQueue::FreeBuffers() {
  std::lock_guard<std::mutex> lock(m_RingLock);
  FreeBuffersLocked();
}

std::int32_t CFrameRingQueue::WriterSceneSlot(std::int32_t nWriter) const {
  std::lock_guard<std::mutex> lock(m_RingLock);
  return IsValidRole(nWriter) ? m_Writers[static_cast<std::size_t>(nWriter)].nSceneSlot : -1;
}

std::int32_t CFrameRingQueue::ReaderSceneSlot(std::int32_t nReader) const {
  std::lock_guard<std::mutex> lock(m_RingLock);
  return IsValidRole(nReader) ? m_Readers[static_cast<std::size_t>(nReader)].nSceneSlot : -1;
}

std::int32_t CFrameRingQueue::FramesRemaining(std::int32_t nReader) const {
  return IsValidRole(nReader) ? m_nFramesRemaining[static_cast<std::size_t>(nReader)] : 0;
}

}  // namespace FrameRingQueue

namespace FrameProcessor {

using namespace FrameRingQueue;
using ZarnTypes::TMediaFrameNotice;

bool CFrameProcessor::Start(std::int32_t nWriter, std::int32_t nSource,
                            const std::atomic<bool>* pExternalStop, bool bBlocking) {
  m_nFramesIn.store(0, std::memory_order_relaxed);
  m_nFrameInSkip.store(0, std::memory_order_relaxed);
  m_nCurrentScene.store(-1, std::memory_order_relaxed);
  m_nFramesPerScene.store(30, std::memory_order_relaxed);
  m_bBlocking.store(bBlocking, std::memory_order_relaxed);
  m_pExternalStop.store(pExternalStop, std::memory_order_release);
  {
    std::lock_guard<std::mutex> lock(m_WaitLock);
    m_bStop.store(false, std::memory_order_release);
  }
  return OpenNextScene(nWriter, nSource) == FQ_DONE;
}

bool CFrameProcessor::StopRequested() const {
  if (m_bStop.load(std::memory_order_acquire)) return true;
  const std::atomic<bool>* external = m_pExternalStop.load(std::memory_order_acquire);
  return external && external->load(std::memory_order_acquire);
}

void CFrameProcessor::RequestStop() {
  {
    std::lock_guard<std::mutex> lock(m_WaitLock);
    m_bStop.store(true, std::memory_order_release);
  }
  m_WaitCv.notify_all();
}

std::uint64_t CFrameProcessor::ReleaseCount() const {
  std::lock_guard<std::mutex> lock(m_WaitLock);
  return m_nReleases;
}

std::uint64_t CFrameProcessor::FrameEventCount() const {
  std::lock_guard<std::mutex> lock(m_WaitLock);
  return m_nFrameEvents;
}

void CFrameProcessor::NotifyFrameStored() {
  {
    std::lock_guard<std::mutex> lock(m_WaitLock);
    ++m_nFrameEvents;
  }
  m_WaitCv.notify_all();
}

bool CFrameProcessor::WaitFreeScene(std::uint64_t nSeenReleases) {
  std::unique_lock<std::mutex> lock(m_WaitLock);
  for (;;) {
    if (m_nReleases != nSeenReleases) return true;
    if (StopRequested()) return false;
    m_WaitCv.wait_for(lock, kStopPollInterval);
  }
}

void CFrameProcessor::ReleaseAndSignal() {
  std::lock_guard<std::mutex> lock(m_RingReleaseLock);
  const std::int32_t released = ReleaseScenes();
  if (released <= 0) return;
  {
    std::lock_guard<std::mutex> wait(m_WaitLock);
    m_nReleases += static_cast<std::uint64_t>(released);
  }
  m_WaitCv.notify_all();
}

std::int32_t CFrameProcessor::OpenNextScene(std::int32_t nWriter, std::int32_t nSource) {
  std::lock_guard<std::mutex> lock(m_WriterLock);
  const std::int32_t current = m_nCurrentScene.load(std::memory_order_relaxed);
  const std::int32_t next = current == std::numeric_limits<std::int32_t>::max() ? 0 : current + 1;
  const std::int32_t frames = m_nFramesPerScene.load(std::memory_order_relaxed);
  for (;;) {
    // The release count is read before the rings are looked at: a release
    // after the look changes it, so the wait below cannot miss it.
    const std::uint64_t seen = ReleaseCount();
    const std::int32_t code = OpenScene(nWriter, nSource, next, frames);
    if (code == FQ_DONE) {
      m_nCurrentScene.store(next, std::memory_order_relaxed);
      return code;
    }
    const bool full = code == FQ_SCENE_RING_FULL || code == FQ_NO_FRAME_SLOTS;
    if (!full || !IsBlocking() || !SceneCanFit(frames) || StopRequested() || !WaitFreeScene(seen))
      return code;
  }
}

bool CFrameProcessor::PushFrame(std::int32_t nWriter, std::int32_t nSource, const TMediaFrameNotice& notice) {
  if (!IsValidRole(nWriter)) {
    SkipFrame();
    return false;
  }
  for (;;) {
    const std::int32_t code =
        WriteFrame(nWriter, notice, GetFramesIn(), m_nCurrentScene.load(std::memory_order_relaxed));
    if (code == FQ_DONE) {
      m_nFramesIn.fetch_add(1, std::memory_order_relaxed);
      NotifyFrameStored();
      return true;
    }
    if (code == FQ_SCENE_FULL) {
      {
        std::lock_guard<std::mutex> lock(m_SceneCloseLock);
        CloseWriterScene(nWriter);
      }
      // A scene its reader read out before the writer closed it can go now.
      ReleaseAndSignal();
    } else if (code != FQ_NO_SCENE) {
      SkipFrame();
      return false;
    }
    if (StopRequested() || OpenNextScene(nWriter, nSource) != FQ_DONE) {
      SkipFrame();
      return false;
    }
  }
}

bool CFrameProcessor::PullFrame(std::int32_t nReader, TFrameReadout& out) {
  if (!IsValidRole(nReader)) return false;
  // At most: a read-out scene given up, a new one claimed, its first read.
  for (;;) {
    std::int32_t code = ReadFrame(nReader, out);
    if (code == FQ_DONE) return true;
    if (code == FQ_SCENE_READ_OUT || code == FQ_SCENE_ENDED) {
      {
        std::lock_guard<std::mutex> lock(m_ReaderReleaseLock);
        if (!GiveUpReaderScene(nReader)) return false;
      }
      ReleaseAndSignal();
    } else if (code != FQ_NO_SCENE) {
      return false;
    }
    {
      std::lock_guard<std::mutex> lock(m_ClaimLock);
      code = ClaimScene(nReader);
    }
    if (code != FQ_DONE) return false;
  }
}

bool CFrameProcessor::PullFrame(std::int32_t nReader, TFrameReadout& out, std::chrono::milliseconds timeout) {
  using TClock = std::chrono::steady_clock;
  const TClock::time_point start = TClock::now();
  const auto limit = std::chrono::duration_cast<TClock::duration>(std::min<std::chrono::milliseconds>(
      std::max<std::chrono::milliseconds>(timeout, {}), std::chrono::hours(24 * 365)));
  const TClock::time_point deadline = start + limit;
  for (;;) {
    // Read before looking, so that a frame stored after the look is seen.
    const std::uint64_t seen = FrameEventCount();
    if (PullFrame(nReader, out)) return true;
    if (!IsValidRole(nReader)) return false;
    std::unique_lock<std::mutex> lock(m_WaitLock);
    while (m_nFrameEvents == seen) {
      if (StopRequested()) return false;
      const TClock::time_point now = TClock::now();
      if (now >= deadline) return false;
      m_WaitCv.wait_until(lock, std::min(deadline, now + kStopPollInterval));
    }
  }
}

void CFrameProcessor::Close() {
  std::printf("Frame processor FramesIn = %d  FrameIn_Skip = %d \n", GetFramesIn(), GetFramesSkipped());
  std::fflush(stdout);
  RequestStop();
  FreeBuffers();
}

}  // namespace FrameProcessor
