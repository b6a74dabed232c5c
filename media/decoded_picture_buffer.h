#pragma once
// The decoded-picture buffer: the replay cache of a media document.
//
// While the engine plays, every frame a channel produces is copied into a
// fixed ring of frame slots of that channel, grouped into scenes; the pacing
// thread later takes the frames out in order, forwards or backwards. Per
// channel (0..3) the buffer holds a scene queue, a frame queue, one block of
// frame memory and the frame layout. It does no decoding and no drawing: it
// copies bytes in and hands out slot addresses.
//
// Threads. One producer per channel calls OpenChannelScene and
// PutChannelFrame; the consumer (frame delivery, replay) reads and frees
// slots. Both sides meet under the channel's hand-off lock (HandOffLock):
// the queues, the scene records and the slot states change only under it.
// The producer copies pixels into a slot outside the lock, but only into a
// slot it marked SLOT_WRITING under the lock; the consumer shows only slots
// whose state is SLOT_STORED, so a frame is never read while it is written
// and a slot that was never written is never shown.
//
// A producer short of free slots waits (OpenChannelScene) until the consumer
// frees a scene (SignalFreeSpace) or a stop is requested (RequestStop). A
// stop is sticky: it also ends waits that begin after it, until ClearStop.
//
// Formats, sizes and the allocation are set from one thread (the session
// thread or the UI thread) while no producer or consumer runs.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "media/frame_buffer.h"
#include "media/ring_queue.h"
#include "media/yuv_frame.h"

namespace ZarnTypes {

struct TMediaFrameNotice;

// A scene of consecutive frames of one producer: twelve 32-bit words.
struct TVideoSceneBuffer {
  std::int32_t nProcId = 0;  // the producer
  std::int32_t nReserved1 = 0;
  std::int32_t nReserved2 = 0;
  std::int32_t nKind = 0;  // 5
  std::int32_t nSceneNumber = 0;
  std::int32_t nReserved3 = 0;
  std::int32_t nLastFrame = 0;  // frames - 1
  std::int32_t nFrames = 0;     // slots reserved
  std::int32_t nStored = 0;     // frames stored so far (producer)
  std::int32_t nReserved4 = 0;
  std::int32_t nTaken = 0;      // frames taken out so far (frame delivery)
  std::int32_t nFirstSlot = 0;  // index of the scene's first slot in the frame queue
};

// One frame slot. The memory pointer is fixed at allocation.
struct TVideoFrame {
  std::int32_t nFrameNumber = 0;
  std::int32_t nSceneNumber = 0;
  std::uint8_t* pData = nullptr;
};

// What a slot holds.
enum TSlotState : std::uint8_t {
  SLOT_EMPTY = 0,    // never written in this allocation
  SLOT_WRITING = 1,  // a producer is copying a frame into it
  SLOT_STORED = 2,   // holds a whole frame
};

}  // namespace ZarnTypes

namespace OOVDecodedPictureBuffer {

inline constexpr int kDpbChannels = 4;
inline constexpr int kDpbProcIds = 64;

// Frame memory: large blocks are mapped with huge pages where the system
// allows, so that first touching a slot costs few page faults.
struct TFrameMemoryDeleter {
  std::size_t nMappedBytes;  // 0: the block came from new[]
  void operator()(std::uint8_t* p) const;
};

class COOVDecodedPictureBuffer {
 public:
  COOVDecodedPictureBuffer();
  ~COOVDecodedPictureBuffer();
  COOVDecodedPictureBuffer(const COOVDecodedPictureBuffer&) = delete;
  COOVDecodedPictureBuffer& operator=(const COOVDecodedPictureBuffer&) = delete;

  // ---- set-up (no producer or consumer running)

  // Takes the decoder layers' width and height from the 32-bit little-endian
  // words at offsets 52 and 56 of the header (0 when the header is shorter)
  // and computes the layer sizes. Always true.
  bool SetLayerFrameSize(const std::uint8_t* pHeader, std::size_t nHeaderSize);

  // Lays out every enabled channel's frame slot from its pixel format, width
  // and height. False when an enabled channel's format cannot be cached or
  // its layout fails.
  bool SetChannelFormats();

  // Allocates the queues and the frame memory of every enabled channel:
  // frame size x (frame capacity + 1) bytes, computed in 64 bits. A block
  // above the memory limit or one that cannot be had shows "Can not allocate
  // memory for frame buffer"; a queue that cannot be sized fails silently.
  // Any failure frees everything and gives false.
  // A channel whose block from the last session has the same frame size and
  // slot count keeps it (no allocation, no page touched again); its slots
  // start empty. A channel not enabled gives its block back.
  bool AllocateBuffers();

  // The end of a session: empties every queue and forgets every stored
  // frame, but keeps the frame memory for the next AllocateBuffers.
  void EndSession();

  // Empties every queue and frees the queues' storage and the frame memory.
  // Harmless when nothing is allocated.
  void FreeBuffers();

  // ---- producer side

  // Reserves `frames` slots for a new scene of the producer and stores the
  // scene's index in current scene[channel][ProcID] and in *pSceneIndex.
  // A full scene queue shows "Video scene buffer for channel = %d is full"
  // and gives false. When fewer slots are free the call waits until the
  // consumer frees some; a stop ends the wait with false. A scene larger than
  // the frame capacity can never fit and gives false at once.
  bool OpenChannelScene(int channel, int procId, std::int32_t sceneNumber, std::int32_t frames,
                        std::int32_t* pSceneIndex);

  // Copies the frame into the next slot of the producer's current scene,
  // bounded by what the notice holds and by the slot. False when the channel
  // has no storage, the producer has no open scene, the scene is full, or the
  // channel drops frames after a flush (AdmitFrame with the notice's
  // discontinuity mark).
  bool PutChannelFrame(int channel, int procId, const ZarnTypes::TMediaFrameNotice& frame,
                       std::int32_t frameNumber, std::int32_t sceneNumber);

  // What became of a frame handed to the buffer.
  enum TPutResult : int {
    PUT_STORED = 0,   // copied into the next slot of the producer's scene
    PUT_DROPPED = 1,  // stale: the channel was flushed (a seek) since the frame was admitted
    PUT_FAILED = 2,   // no storage, no open scene, or the scene is full
  };

  // A seek of the channel (UI thread). Under the hand-off lock: every frame
  // cached and not shown yet is given up (fully given-up scenes are freed,
  // waking a producer that waits for room), every slot's frame leaves the
  // replay window (a slot being written is discarded when its copy ends),
  // and from now on frames are refused until one marked as the first after
  // the seek (a discontinuity) is admitted. Answers the slot the producer
  // writes next, where the replay window begins again.
  std::int32_t FlushChannel(int channel);

  // The producer's first step with a frame: false when the channel drops
  // frames after a flush and this one is no discontinuity (a discontinuity
  // ends the dropping). *pGeneration receives the flush count the frame was
  // admitted under; PutAdmittedFrame drops it when a flush came in between.
  bool AdmitFrame(int channel, bool discontinuity, std::uint64_t* pGeneration);
  TPutResult PutAdmittedFrame(int channel, int procId, const ZarnTypes::TMediaFrameNotice& frame,
                              std::int32_t frameNumber, std::int32_t sceneNumber, std::uint64_t generation);

  // A planar YUV frame read straight into the buffer: the producer's next
  // slot, marked as being written, when the channel keeps planar YUV frames
  // whose planes have exactly the sizes of `layout` and the producer's open
  // scene has room; else null. The producer fills the slot and hands the
  // frame to PutAdmittedFrame with its planes pointing into the slot, which
  // then stores it without a copy. A frame not stored leaves the slot being
  // written (never shown) until the producer's next frame takes it.
  std::uint8_t* ReserveSlot(int channel, int procId, const ZarnTypes::TYuvFrameBuffer& layout);

  // The decoder layers (5 on channel 0, 6 on channel 1).
  bool OpenLayerScene(int procId, int layer, std::int32_t sceneNumber, std::int32_t frames,
                      std::int32_t* pSceneIndex);
  bool PutLayerFrame(std::int32_t width, std::int32_t height, std::int32_t chromaWidth,
                     std::int32_t chromaHeight, const std::uint8_t* pY, const std::uint8_t* pU,
                     const std::uint8_t* pV, int procId, int layer, std::int32_t frameNumber,
                     std::int32_t sceneNumber);

  // ---- consumer side (under HandOffLock)

  std::mutex& HandOffLock(int channel) { return m_Channel[Clamp(channel)].lock; }
  Collections::CRingQueueArray<ZarnTypes::TVideoSceneBuffer>& SceneQueue(int channel) {
    return m_Channel[Clamp(channel)].scenes;
  }
  Collections::CRingQueueArray<ZarnTypes::TVideoFrame>& FrameQueue(int channel) {
    return m_Channel[Clamp(channel)].frames;
  }
  // The state of a slot; SLOT_EMPTY outside the allocation.
  ZarnTypes::TSlotState SlotState(int channel, std::int32_t slot) const;
  // The slot the channel's producer writes next: behind the last frame
  // stored in the newest scene (-1 without storage). Going on from it over
  // the ring, the stored slots hold the frames from the oldest to the
  // newest, since frames are written in ring order. Under HandOffLock.
  std::int32_t WriteCursor(int channel) const;
  // The stored slot that holds the oldest frame of the channel (-1: none).
  // Under HandOffLock.
  std::int32_t OldestStoredSlot(int channel) const;
  // Flushes of the channel so far (under HandOffLock or not).
  std::uint64_t FlushCount(int channel) const;
  // The decoder layer's own queues (read by the layer frame delivery under
  // LayerLock). No operation of the buffer allocates or fills them; they
  // are emptied by FreeBuffers.
  std::mutex& LayerLock() { return m_Layer.lock; }
  Collections::CRingQueueArray<ZarnTypes::TVideoSceneBuffer>& LayerSceneQueue() { return m_Layer.scenes; }
  Collections::CRingQueueArray<ZarnTypes::TVideoFrame>& LayerFrameQueue() { return m_Layer.frames; }
  // Wakes a layer producer waiting for free slots.
  void SignalLayerFreeSpace() { m_Layer.freeSpace.notify_all(); }

  // Producers waiting for free slots now.
  int FreeSpaceWaiters(int channel) const;
  // Wakes a producer waiting for free slots. Call with the hand-off lock
  // held or not; the producer re-checks the queue under the lock.
  void SignalFreeSpace(int channel);

  // ---- stop

  // Ends every current and future free-space wait until ClearStop.
  void RequestStop();
  void ClearStop();
  bool StopRequested() const { return m_bStop.load(); }

  // ---- settings and layout

  // Most bytes AllocateBuffers hands out over all channels; 0 means the
  // default (half of the machine's physical memory).
  void SetMemoryLimit(std::uint64_t bytes) { m_nMemoryLimit = bytes; }
  std::uint64_t MemoryLimit() const;
  // Bytes of frame memory a channel holds now (0 when not allocated).
  std::uint64_t ChannelMemoryBytes(int channel) const;
  // Blocks of frame memory allocated since construction (all channels).
  std::uint64_t FrameMemoryAllocations() const { return m_nFrameMemoryAllocations.load(); }

  std::int32_t m_nSceneCapacity = 100;
  std::int32_t m_nFrameCapacity = 30;
  std::int32_t m_nRequestedFrames = 600;
  ZarnTypes::TPixelFormat m_ePixelFormat[kDpbChannels];
  std::int32_t m_nWidth[kDpbChannels];
  std::int32_t m_nHeight[kDpbChannels];
  std::int32_t m_nFrameSize[kDpbChannels];
  std::int32_t m_nPlaneSize[kDpbChannels];
  std::int32_t m_nHalfPlane[kDpbChannels];
  std::int32_t m_nQuarterPlane[kDpbChannels];
  std::int32_t m_nColourTableSize[kDpbChannels] = {};
  std::int32_t m_nSceneValue[kDpbChannels];
  bool m_bChannelEnabled[kDpbChannels] = {};
  ZarnTypes::TFrameBuffer m_FrameRecord[kDpbChannels] = {};
  ZarnTypes::TYuvFrameBuffer m_YuvFrameRecord[kDpbChannels] = {};

  // Decoder layers.
  std::int32_t m_nLayerSizeSelector[3] = {1, 1, 1};
  std::int32_t m_nLayerFormatSelector = 5;
  std::int32_t m_nLayerWidth = 640;
  std::int32_t m_nLayerHeight = 480;
  std::int32_t m_nLayerSize[6] = {921600, 921600, 460800, 307200, 153600, 76800};

 private:
  static std::unique_ptr<std::uint8_t, TFrameMemoryDeleter> AllocateFrameMemory(std::uint64_t bytes);

  struct TChannelStore {
    std::mutex lock;  // the hand-off lock
    std::condition_variable freeSpace;
    Collections::CRingQueueArray<ZarnTypes::TVideoSceneBuffer> scenes;
    Collections::CRingQueueArray<ZarnTypes::TVideoFrame> frames;
    std::unique_ptr<std::uint8_t, TFrameMemoryDeleter> memory{nullptr, TFrameMemoryDeleter{0}};
    std::unique_ptr<ZarnTypes::TSlotState[]> slotState;
    std::uint64_t memoryBytes = 0;
    std::uint64_t frameBytes = 0;  // the slot size the block was cut into
    std::uint64_t slotCount = 0;   // entries of slotState
    std::atomic<int> waiters{0};
    std::int32_t currentScene[kDpbProcIds] = {};
    bool hasScene[kDpbProcIds] = {};
    // Seeks: frames are refused after a flush until a discontinuity comes;
    // the generation counts flushes, and a slot being written remembers the
    // generation its frame was admitted under.
    bool dropping = false;
    std::atomic<std::uint64_t> generation{0};
    std::uint64_t writingGeneration = 0;
  };

  static int Clamp(int channel) {
    return channel < 0 ? 0 : (channel >= kDpbChannels ? kDpbChannels - 1 : channel);
  }
  bool OpenScene(int channel, int procId, std::int32_t sceneNumber, std::int32_t frames,
                 std::int32_t* pSceneIndex, const char* fullMessage, int messageValue);
  // Reserves the next slot of the producer's scene under the lock; null when
  // there is none. Sets *pSlot.
  // A generation other than the channel's (a flush came after the frame
  // was admitted) refuses the slot (*pDropped set).
  std::uint8_t* BeginSlot(int channel, int procId, std::int32_t* pSlot, std::uint64_t generation,
                          bool* pDropped);
  // False when a flush came while the frame was copied: the slot is left
  // empty and not counted, so the next frame takes it.
  bool EndSlot(int channel, int procId, std::int32_t slot, std::int32_t frameNumber,
               std::int32_t sceneNumber);
  TPutResult CopyFrame(int channel, int procId, const ZarnTypes::TMediaFrameNotice& frame,
                       std::int32_t frameNumber, std::int32_t sceneNumber, std::uint64_t generation);
  void FreeChannel(int channel);

  TChannelStore m_Channel[kDpbChannels];
  TChannelStore m_Layer;
  std::atomic<bool> m_bStop{false};
  std::atomic<std::uint64_t> m_nFrameMemoryAllocations{0};
  std::uint64_t m_nMemoryLimit = 0;
};

}  // namespace OOVDecodedPictureBuffer
