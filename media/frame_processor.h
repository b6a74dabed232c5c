#pragma once
// The frame pipeline between a producer thread (a channel's frame delivery)
// and a consumer thread (a recorder's writer), without allocation per frame.
//
// CFrameRingQueue owns one contiguous frame buffer cut into equal slots, a
// ring of frame records (TDataFrame) pointing into it and a ring of scenes
// (TFrameScene). A scene is a run of consecutive frame slots that a writer
// reserves, fills frame by frame, and that a reader claims and reads out; a
// scene goes back to the rings once its writer has closed it and its reader
// has read all of it. Slots are addressed with the ring queue's arithmetic
// (media/ring_queue.h): the frame k places into a scene lives in frame slot
// step(first slot, k).
//
// CFrameProcessor adds the two threads' protocol: the input counters, the
// locks, the stop requests and, in blocking mode, the producer's wait for
// free space. File sources run it blocking (a push into full rings waits
// until the reader frees a scene, so nothing is lost and the producer slows
// to the reader's pace); live sources run it non-blocking (a frame without
// room is dropped and counted in FrameIn_Skip).
//
// Locking. The queue's operations that move ring indices or change a scene's
// bookkeeping (open writer, reader, scene number) take the queue's ring lock,
// held briefly and innermost; the processor's five locks serialise the
// roles above it (opening scenes, claiming, releasing, a writer closing and
// a reader giving up its scene). Frame bytes are copied into and out of the
// slots outside every lock: a slot belongs to exactly one scene between its
// reservation and its release. A scene's written count is the one field the
// reader reads while the writer changes it: the writer publishes it after
// the copy (release) and the reader loads it before reading the bytes
// (acquire).
//
// Result codes of the queue's operations: see TFrameQueueResult.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "io/media_request.h"  // TMediaFrameNotice: the record only, no code
#include "media/frame_buffer.h"
#include "media/ring_queue.h"
#include "media/yuv_frame.h"

namespace ZarnTypes {

// A run of consecutive frame slots reserved by one writer.
struct TFrameScene {
  std::int32_t nSource = 0;      // the ProcID of the producing channel
  std::int32_t nOpenWriter = 0;  // the writer number while it fills the scene; 0 once closed
  std::int32_t nWriter = 0;      // the writer that opened it (readers claim only writer 1's)
  std::int32_t nReader = 0;      // the reader that claimed it; 0 when unclaimed
  TPixelFormat ePixelFormat = TPixelFormat{0};
  std::int32_t nSceneNumber = 0;  // the writer's running number; -1 once read out
  std::int32_t nReserved = 0;
  std::int32_t nLastFrame = 0;      // frame capacity - 1
  std::int32_t nFrameCapacity = 0;  // frames reserved for the scene
  // Frames written so far. Read by the reader while the writer fills the
  // scene: accessed atomically (see the file comment).
  std::int32_t nWritten = 0;
  std::int32_t nRead = 0;       // frames read so far (the reader's alone)
  std::int32_t nFirstSlot = 0;  // frame-ring slot of the scene's first frame
};
static_assert(sizeof(TFrameScene) == 48, "a scene record is twelve 32-bit words");

// One frame slot of the frame ring.
struct TDataFrame {
  std::int32_t nFrameNumber = 0;    // the processor's input count when the frame was written
  std::int32_t nSceneNumber = 0;    // the writer's scene number
  std::uint8_t* pData = nullptr;    // the slot's bytes in the frame buffer (fixed at allocation)
  std::int32_t nReserved = 0;       // 0
  double dTime = 0.0;               // the producer's sample time, seconds
  std::int64_t nFrameNumber64 = 0;  // the producer's 64-bit frame number
};

}  // namespace ZarnTypes

namespace FrameRingQueue {

// Results of the queue's operations.
enum TFrameQueueResult : std::int32_t {
  FQ_REFUSED = 0,           // refused: a missing slot, a number outside 1..255, a notice that does not fit
  FQ_DONE = 1,              // done
  FQ_SCENE_FULL = 2,        // the writer's scene is full
  FQ_NO_FRAME = 3,          // nothing written beyond what the reader has read
  FQ_SCENE_READ_OUT = 4,    // the reader's scene is read out
  FQ_SCENE_ENDED = 5,       // treated like 4 (no operation returns it)
  FQ_NO_STORAGE = 6,        // the queue has no storage
  FQ_SCENE_RING_FULL = 7,   // the scene ring holds its capacity
  FQ_NO_FRAME_SLOTS = 8,    // fewer free frame slots than the scene needs
  FQ_NOTHING_TO_CLAIM = 9,  // no scene can be claimed
  FQ_NO_SCENE = 10,         // the writer or reader has no scene
};

// Writer and reader numbers run from 1 to 255.
inline constexpr std::int32_t kTableEntries = 256;
inline constexpr bool IsValidRole(std::int32_t n) { return n >= 1 && n < kTableEntries; }

// One entry of the writer or reader table.
struct TRoleEntry {
  std::int32_t nZero = 0;
  std::int32_t nNumber = 0;      // the entry's own number
  std::int32_t nSceneSlot = -1;  // the scene-ring slot of its open or claimed scene; -1 none
};

// What ReadFrame hands out for one frame. The pointers (also those in the
// notice) point into the queue's frame slot and the queue's layouts; they
// stay valid until the reader gives the frame's scene up (its next
// PullFrame may) and never after FreeBuffers.
struct TFrameReadout {
  std::int32_t nFrameSlot = -1;   // the frame-ring slot read
  std::int32_t nSceneSlot = -1;   // the scene-ring slot of its scene
  std::int32_t nPosition = -1;    // its position in the scene (0 = first)
  std::int32_t nFrameNumber = 0;  // the processor's input count when it was written
  const std::uint8_t* pData = nullptr;
  double dTime = 0.0;
  // Format, width, height, the data pointers and sizes by format, the
  // layout record, the time and the producer's 64-bit frame number.
  ZarnTypes::TMediaFrameNotice notice;
};

class CFrameRingQueue {
 public:
  CFrameRingQueue();
  virtual ~CFrameRingQueue();
  CFrameRingQueue(const CFrameRingQueue&) = delete;
  CFrameRingQueue& operator=(const CFrameRingQueue&) = delete;

  // Lays one frame out. Packed 18..20 (rows aligned to 1 byte) and DIB 22,
  // 24..29 (rows aligned to 4 bytes, plus 12, 68 or 1,028 colour-table bytes
  // for 22, 24, 25); planar YCbCr 42..44 and 51..92 and packed YUY2 (94), 2
  // pixels wide and high aligned (YUY2 4 wide). Any other format (23 and 48
  // among them), a size the layouts refuse, or a call while buffers are
  // allocated (their slots are cut for the current size) gives false with
  // nothing changed.
  bool SetFrameFormat(std::int32_t nWidth, std::int32_t nHeight, ZarnTypes::TPixelFormat ePixelFormat);

  // Gives the scene ring nScenes and the frame ring nFrames elements and
  // allocates frame size x (nFrames + 1) bytes of frames; every scene slot
  // is cleared and every frame slot points at its bytes. Sizes are checked
  // in 64 bits against the memory limit. A buffer that cannot be had (or
  // exceeds the limit) shows "Can not allocate memory for frame buffer";
  // every failure gives false and leaves the queue without storage. Refused
  // without a frame format or with a negative count. Not while the queue is
  // in use by other threads.
  bool AllocateBuffers(std::int32_t nScenes, std::int32_t nFrames);

  // Opens a scene of nFrames frames for writer nWriter: 7 when the scene
  // ring is full; 8 when fewer than nFrames frame slots are free; 1 when the
  // frame slots from the frame ring's write index on are reserved and the
  // scene is pushed (the writer's entry then names it); 0 without storage,
  // for a writer outside 1..255 or for nFrames < 1.
  std::int32_t OpenScene(std::int32_t nWriter, std::int32_t nSource, std::int32_t nSceneNumber,
                         std::int32_t nFrames);

  // Copies one frame into the writer's open scene: 0 for a writer outside
  // 1..255 or a notice that does not fit the queue (another format, width
  // or height, data missing, or byte counts other than the layout's); 10
  // when the writer has no scene; 2 when its scene is full; else 1, with the
  // frame and scene numbers, the time and the 64-bit number stored with the
  // bytes and the scene's written count published after the copy.
  std::int32_t WriteFrame(std::int32_t nWriter, const ZarnTypes::TMediaFrameNotice& notice,
                          std::int32_t nFrameNumber, std::int32_t nSceneNumber);

  // Claims for reader nReader the oldest scene of writer 1 that is
  // unclaimed, not yet read out and has frames: 1; 9 when there is none; 6
  // without storage; 0 for a reader outside 1..255 or one that holds a
  // scene already. A scene still being written may be claimed.
  std::int32_t ClaimScene(std::int32_t nReader);

  // Reads the next frame of the reader's scene into `out`: 10 when the
  // reader has no scene; 4 when the scene is read out; 3 when every frame
  // written so far is read; 1 with the frame; 0 for a reader outside 1..255.
  std::int32_t ReadFrame(std::int32_t nReader, TFrameReadout& out);

  // Releases from the head of the rings every scene whose writer has closed
  // it and whose reader has read it out and given it up, with its frame
  // slots; returns how many scenes were released.
  std::int32_t ReleaseScenes();

  // The writer closes its open scene (open writer 0, its entry -1); false
  // when it has none.
  bool CloseWriterScene(std::int32_t nWriter);
  // The reader gives up its read-out scene (unclaimed, scene number -1, its
  // entry -1); false when it has none.
  bool GiveUpReaderScene(std::int32_t nReader);

  // Empties both rings, frees their storage and the frame buffer; the
  // writer and reader tables forget their scenes.
  void FreeBuffers();

  // The largest total of frame bytes and ring records AllocateBuffers takes;
  // 0 restores the default (half of the physical memory).
  void SetMemoryLimit(std::uint64_t nBytes) { m_nMemoryLimit = nBytes; }
  std::uint64_t MemoryLimit() const;

  // True when a scene of nFrames frames can ever be opened with the current
  // storage (the rings' capacities allow it, even if full right now).
  bool SceneCanFit(std::int32_t nFrames) const;

  // Layout and settings.
  ZarnTypes::TPixelFormat GetPixelFormat() const { return m_ePixelFormat; }
  std::int32_t GetWidth() const { return m_nWidth; }
  std::int32_t GetHeight() const { return m_nHeight; }
  std::int32_t GetFrameSize() const { return m_nFrameSize; }
  std::int32_t GetColourTableBytes() const { return m_nColourTableBytes; }
  const ZarnTypes::TFrameBuffer& FrameLayout() const { return m_FrameLayout; }
  const ZarnTypes::TYuvFrameBuffer& YuvLayout() const { return m_YuvLayout; }
  std::int32_t GetSceneCapacitySetting() const { return m_nSceneCapacitySetting; }
  std::int32_t GetFrameCapacitySetting() const { return m_nFrameCapacitySetting; }

  // Inspection while no other thread uses the queue (tests, diagnostics).
  const Collections::CRingQueueArray<ZarnTypes::TFrameScene>& SceneRing() const { return m_SceneRing; }
  const Collections::CRingQueueArray<ZarnTypes::TDataFrame>& FrameRing() const { return m_FrameRing; }
  const std::uint8_t* FrameBuffer() const { return m_pFrameBuffer.get(); }
  // The scene slot of a writer's open or a reader's claimed scene; -1 none
  // (also for numbers outside the tables).
  std::int32_t WriterSceneSlot(std::int32_t nWriter) const;
  std::int32_t ReaderSceneSlot(std::int32_t nReader) const;
  // Frames the reader's scene held written beyond those read at its last
  // read (0 after a 3 or 4).
  std::int32_t FramesRemaining(std::int32_t nReader) const;

 protected:
  // True when the notice describes a frame of the queue's format and size
  // whose bytes fit one slot exactly.
  bool NoticeFits(const ZarnTypes::TMediaFrameNotice& notice) const;
  void CopyIntoSlot(std::uint8_t* pSlot, const ZarnTypes::TMediaFrameNotice& notice) const;
  void DescribeSlot(const std::uint8_t* pSlot, ZarnTypes::TMediaFrameNotice& notice) const;
  void ResetTables();
  void FreeBuffersLocked();

  // Guards both rings' indices and counts, the tables' scene slots and the
  // scenes' open writer, reader and scene number.
  mutable std::mutex m_RingLock;

  Collections::CRingQueueArray<ZarnTypes::TFrameScene> m_SceneRing;
  Collections::CRingQueueArray<ZarnTypes::TDataFrame> m_FrameRing;
  std::unique_ptr<std::uint8_t[]> m_pFrameBuffer;
  std::int32_t m_nSceneCapacitySetting = 100;
  std::int32_t m_nFrameCapacitySetting = 30;
  ZarnTypes::TPixelFormat m_ePixelFormat = ZarnTypes::TPixelFormat{0};
  std::int32_t m_nWidth = 0;
  std::int32_t m_nHeight = 0;
  std::int32_t m_nFrameSize = 0;
  std::int32_t m_nColourTableBytes = 0;
  ZarnTypes::TFrameBuffer m_FrameLayout{};
  ZarnTypes::TYuvFrameBuffer m_YuvLayout{};
  std::array<TRoleEntry, kTableEntries> m_Writers{};
  std::array<TRoleEntry, kTableEntries> m_Readers{};
  std::array<std::int32_t, kTableEntries> m_nFramesRemaining{};
  std::uint64_t m_nMemoryLimit = 0;
};

}  // namespace FrameRingQueue

namespace FrameProcessor {

class CFrameProcessor : public FrameRingQueue::CFrameRingQueue {
 public:
  CFrameProcessor() = default;
  ~CFrameProcessor() override = default;

  // Resets the counters, the scene number and the stop request, keeps the
  // external stop flag (may be null; read, never written), sets the mode
  // (blocking: a push into full rings waits for room) and 30 frames per
  // scene, and opens the first scene. False when that scene cannot be opened
  // (no storage, a ring too small for a scene, a writer outside 1..255).
  bool Start(std::int32_t nWriter, std::int32_t nSource, const std::atomic<bool>* pExternalStop,
             bool bBlocking = false);

  // Opens the writer's next scene. In blocking mode full rings are waited
  // for (WaitFreeScene) as long as a scene can ever fit and no stop is
  // requested. Returns the last OpenScene code.
  std::int32_t OpenNextScene(std::int32_t nWriter, std::int32_t nSource);

  // The producer's call per frame. True when the frame is stored; false
  // when it was not (no room in non-blocking mode, a stop while waiting for
  // room, a notice that does not fit the queue, a writer outside 1..255),
  // and every frame not stored is counted in FrameIn_Skip.
  bool PushFrame(std::int32_t nWriter, std::int32_t nSource, const ZarnTypes::TMediaFrameNotice& notice);

  // The consumer's call: true with the next frame in `out`; false when no
  // frame is ready (or the reader number is outside 1..255). A read-out
  // scene is given up and released on the way. A stop never keeps a reader
  // from the frames already stored.
  bool PullFrame(std::int32_t nReader, FrameRingQueue::TFrameReadout& out);
  // The same, waiting up to `timeout` for a frame; the wait ends at once
  // when a frame is stored and within 100 ms of a stop request.
  bool PullFrame(std::int32_t nReader, FrameRingQueue::TFrameReadout& out, std::chrono::milliseconds timeout);

  // Asks every wait and repetition to end (as Close does, without freeing).
  void RequestStop();
  // The own request, or the external flag when there is one.
  bool StopRequested() const;

  // Prints "Frame processor FramesIn = %d  FrameIn_Skip = %d \n" to the
  // standard output, requests stop and frees the buffers. Call it once the
  // producer and consumer have left the processor (also after a failed set-up).
  void Close();

  std::int32_t GetFramesIn() const { return m_nFramesIn.load(std::memory_order_relaxed); }
  std::int32_t GetFramesSkipped() const { return m_nFrameInSkip.load(std::memory_order_relaxed); }
  std::int32_t GetCurrentScene() const { return m_nCurrentScene.load(std::memory_order_relaxed); }
  std::int32_t GetFramesPerScene() const { return m_nFramesPerScene.load(std::memory_order_relaxed); }
  bool IsBlocking() const { return m_bBlocking.load(std::memory_order_relaxed); }

  // How often the waits look at the external stop flag.
  static constexpr std::chrono::milliseconds kStopPollInterval{25};

 protected:
  // Waits until a scene has been released since `nSeenReleases` was read
  // (true) or a stop is requested (false).
  bool WaitFreeScene(std::uint64_t nSeenReleases);

 private:
  std::uint64_t ReleaseCount() const;
  std::uint64_t FrameEventCount() const;
  void NotifyFrameStored();
  // Releases what can be released (ring-release lock) and wakes a producer
  // waiting for room.
  void ReleaseAndSignal();
  void SkipFrame() { m_nFrameInSkip.fetch_add(1, std::memory_order_relaxed); }

  std::atomic<std::int32_t> m_nFramesIn{0};     // FramesIn: frames stored
  std::atomic<std::int32_t> m_nFrameInSkip{0};  // FrameIn_Skip: frames dropped
  std::atomic<std::int32_t> m_nCurrentScene{-1};
  std::atomic<std::int32_t> m_nFramesPerScene{0};
  std::atomic<bool> m_bBlocking{false};

  // The five locks: opening scenes; a reader claiming a scene; releasing
  // scenes and signalling freed space; a writer closing its scene; a reader
  // giving up its read-out scene.
  std::mutex m_WriterLock;
  std::mutex m_ClaimLock;
  std::mutex m_RingReleaseLock;
  std::mutex m_SceneCloseLock;
  std::mutex m_ReaderReleaseLock;

  // Wake-ups: counts of released scenes and of stored frames, changed under
  // m_WaitLock, so that a waiter that read a count before it looked at the
  // rings never misses the change that follows.
  mutable std::mutex m_WaitLock;
  std::condition_variable m_WaitCv;
  std::uint64_t m_nReleases = 0;
  std::uint64_t m_nFrameEvents = 0;

  std::atomic<const std::atomic<bool>*> m_pExternalStop{nullptr};
  std::atomic<bool> m_bStop{false};
};

}  // namespace FrameProcessor
