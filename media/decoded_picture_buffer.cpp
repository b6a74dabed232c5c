#include "media/decoded_picture_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <string>

#include "io/media_request.h"  // TMediaFrameNotice: the record only, no code
#include "platform/message_sink.h"

namespace OOVDecodedPictureBuffer {

using namespace ZarnTypes;

namespace {

std::int32_t ReadWordLe(const std::uint8_t* p) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                   static_cast<std::uint32_t>(p[2]) << 16 |
                                   static_cast<std::uint32_t>(p[3]) << 24);
}

std::string Format(const char* pattern, int value) {
  char text[128];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

bool IsPackedOrDib(std::int32_t f) { return (f >= 18 && f <= 20) || f == 22 || (f >= 24 && f <= 29); }
bool IsYuv(std::int32_t f) { return (f >= 42 && f <= 47) || (f >= 51 && f <= 92) || f == 94; }

// Bytes to copy: what the source holds, at most what is left of the slot.
std::int64_t Bounded(std::int64_t wanted, std::int64_t room) {
  if (wanted <= 0 || room <= 0) return 0;
  return std::min(wanted, room);
}

std::int64_t Product(std::int32_t a, std::int32_t b) {
  return a > 0 && b > 0 ? static_cast<std::int64_t>(a) * b : 0;
}

}  // namespace

COOVDecodedPictureBuffer::COOVDecodedPictureBuffer() {
  for (int ch = 0; ch < kDpbChannels; ++ch) {
    m_ePixelFormat[ch] = TPixelFormat{5};
    m_nWidth[ch] = 720;
    m_nHeight[ch] = 480;
    m_nFrameSize[ch] = 345600;
    m_nPlaneSize[ch] = 720 * 480;
    m_nHalfPlane[ch] = 720 * 480 / 2;
    m_nQuarterPlane[ch] = 720 * 480 / 4;
    m_nSceneValue[ch] = 30;
  }
}

COOVDecodedPictureBuffer::~COOVDecodedPictureBuffer() { FreeBuffers(); }

void TFrameMemoryDeleter::operator()(std::uint8_t* p) const {
  if (!p) return;
  if (nMappedBytes != 0)
    munmap(p, nMappedBytes);
  else
    delete[] p;
}

std::unique_ptr<std::uint8_t, TFrameMemoryDeleter> COOVDecodedPictureBuffer::AllocateFrameMemory(
    std::uint64_t bytes) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  constexpr std::uint64_t kHugePage = std::uint64_t{2} << 20;
  if (bytes >= 4 * kHugePage && bytes <= SIZE_MAX - kHugePage) {
    const std::size_t mapped = static_cast<std::size_t>((bytes + kHugePage - 1) / kHugePage * kHugePage);
    void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p != MAP_FAILED) {
      madvise(p, mapped, MADV_HUGEPAGE);  // a hint; refused where huge pages are off
      return std::unique_ptr<std::uint8_t, TFrameMemoryDeleter>(static_cast<std::uint8_t*>(p),
                                                                TFrameMemoryDeleter{mapped});
    }
  }
#endif
  // Under the sanitizers (which watch new[] blocks) and for small blocks.
  if (bytes > SIZE_MAX) return {nullptr, TFrameMemoryDeleter{0}};
  return std::unique_ptr<std::uint8_t, TFrameMemoryDeleter>(new (std::nothrow) std::uint8_t[bytes],
                                                            TFrameMemoryDeleter{0});
}

bool COOVDecodedPictureBuffer::SetLayerFrameSize(const std::uint8_t* pHeader, std::size_t nHeaderSize) {
  const bool present = pHeader && nHeaderSize >= 60;
  m_nLayerWidth = present ? ReadWordLe(pHeader + 52) : 0;
  m_nLayerHeight = present ? ReadWordLe(pHeader + 56) : 0;
  const std::int64_t area = Product(m_nLayerWidth, m_nLayerHeight);
  auto sized = [area](std::int32_t selector) -> std::int32_t {
    const std::int64_t factor = selector == 1 ? 3 : selector == 2 ? 4 : selector == 3 ? 6 : 0;
    return static_cast<std::int32_t>(std::min<std::int64_t>(area * factor, INT32_MAX));
  };
  m_nLayerSize[0] = sized(m_nLayerSizeSelector[0]);
  m_nLayerSize[1] = sized(m_nLayerSizeSelector[1]);
  const std::int32_t area32 = static_cast<std::int32_t>(std::min<std::int64_t>(area, INT32_MAX / 2));
  if (m_nLayerFormatSelector == 4) {
    m_nLayerSize[2] = area32 * 2;
  } else if (m_nLayerFormatSelector == 5) {
    m_nLayerSize[3] = area32;
    m_nLayerSize[4] = area32 / 2;
    m_nLayerSize[5] = area32 / 4;
    m_nLayerSize[2] = static_cast<std::int32_t>(area * 3 / 2 > INT32_MAX ? INT32_MAX : area * 3 / 2);
  }
  return true;
}

bool COOVDecodedPictureBuffer::SetChannelFormats() {
  for (int ch = 0; ch < kDpbChannels; ++ch) {
    if (!m_bChannelEnabled[ch]) continue;
    const std::int32_t f = m_ePixelFormat[ch];
    if (IsPackedOrDib(f)) {
      TFrameBuffer layout{};
      layout.ePixelFormat = TPixelFormat{f};
      layout.nWidth = m_nWidth[ch];
      layout.nHeight = m_nHeight[ch];
      layout.nRowAlignment = f <= 20 ? 1 : 4;
      layout.nHeightAlignment = 1;
      if (!LayoutFrameBuffer(&layout)) return false;
      m_FrameRecord[ch] = layout;
      m_nColourTableSize[ch] = f == PF_DIB_1 ? 12 : f == PF_DIB_4 ? 68 : f == PF_DIB_8 ? 1028 : 0;
      m_nFrameSize[ch] = layout.nSize + m_nColourTableSize[ch];
    } else if (IsYuv(f)) {
      TYuvFrameBuffer layout{};
      layout.ePixelFormat = TPixelFormat{f};
      layout.nWidth = m_nWidth[ch];
      layout.nHeight = m_nHeight[ch];
      layout.nWidthAlignment = f == PF_YUY2 ? 4 : 2;
      layout.nHeightAlignment = 2;
      if (!LayoutYuvFrame(&layout)) return false;
      m_YuvFrameRecord[ch] = layout;
      m_nColourTableSize[ch] = 0;
      m_nFrameSize[ch] = layout.nTotalSize;
      m_nPlaneSize[ch] = layout.nYSize;
      m_nHalfPlane[ch] = layout.nYSize / 2;
      m_nQuarterPlane[ch] = layout.nYSize / 4;
    } else {
      return false;
    }
  }
  return true;
}

std::uint64_t COOVDecodedPictureBuffer::MemoryLimit() const {
  if (m_nMemoryLimit != 0) return m_nMemoryLimit;
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return std::uint64_t{1} << 31;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 2;
}

std::uint64_t COOVDecodedPictureBuffer::ChannelMemoryBytes(int channel) const {
  if (channel < 0 || channel >= kDpbChannels) return 0;
  return m_Channel[channel].memoryBytes;
}

bool COOVDecodedPictureBuffer::AllocateBuffers() {
  const std::uint64_t limit = MemoryLimit();
  std::uint64_t total = 0;
  bool ok = m_nFrameCapacity > 0 && m_nSceneCapacity > 0;
  // Channels left out of this session give their blocks back first, so that
  // what they held never counts against the others.
  for (int ch = 0; ok && ch < kDpbChannels; ++ch)
    if (!m_bChannelEnabled[ch]) FreeChannel(ch);
  for (int ch = 0; ok && ch < kDpbChannels; ++ch) {
    if (!m_bChannelEnabled[ch]) continue;
    TChannelStore& store = m_Channel[ch];
    std::lock_guard<std::mutex> lock(store.lock);
    if (!store.scenes.Allocate(m_nSceneCapacity) || !store.frames.Allocate(m_nFrameCapacity)) {
      ok = false;
      break;
    }
    const std::uint64_t slots = static_cast<std::uint64_t>(m_nFrameCapacity) + 1;
    const std::uint64_t frameSize = m_nFrameSize[ch] > 0 ? static_cast<std::uint64_t>(m_nFrameSize[ch]) : 0;
    const std::uint64_t bytes = frameSize * slots;
    if (frameSize == 0 || bytes / slots != frameSize || bytes > limit || total + bytes > limit) {
      platform::ShowMessage("Can not allocate memory for frame buffer");
      ok = false;
      break;
    }
    const bool keep = store.memory && store.slotState && store.frameBytes == frameSize &&
                      store.slotCount == slots && store.memoryBytes == bytes;
    if (keep) {
      std::fill(store.slotState.get(), store.slotState.get() + slots, SLOT_EMPTY);
    } else {
      store.memory.reset();
      store.slotState.reset();
      store.memoryBytes = store.frameBytes = store.slotCount = 0;
      store.memory = AllocateFrameMemory(bytes);
      store.slotState.reset(new (std::nothrow) TSlotState[slots]());
      if (!store.memory || !store.slotState) {
        platform::ShowMessage("Can not allocate memory for frame buffer");
        ok = false;
        break;
      }
      m_nFrameMemoryAllocations.fetch_add(1);
      store.memoryBytes = bytes;
      store.frameBytes = frameSize;
      store.slotCount = slots;
    }
    total += bytes;
    for (std::int32_t k = 0; k < store.scenes.GetSize(); ++k) *store.scenes.SlotAt(k) = TVideoSceneBuffer{};
    for (std::int32_t k = 0; k < store.frames.GetSize(); ++k)
      *store.frames.SlotAt(k) =
          TVideoFrame{0, 0, store.memory.get() + frameSize * static_cast<std::uint64_t>(k)};
    std::fill(std::begin(store.currentScene), std::end(store.currentScene), 0);
    std::fill(std::begin(store.hasScene), std::end(store.hasScene), false);
    store.dropping = false;
  }
  if (!ok) FreeBuffers();
  return ok;
}

void COOVDecodedPictureBuffer::FreeChannel(int channel) {
  TChannelStore& store = m_Channel[channel];
  std::lock_guard<std::mutex> lock(store.lock);
  store.scenes.Clear();
  store.frames.Clear();
  store.memory.reset();
  store.slotState.reset();
  store.memoryBytes = store.frameBytes = store.slotCount = 0;
  std::fill(std::begin(store.hasScene), std::end(store.hasScene), false);
  store.dropping = false;
}

void COOVDecodedPictureBuffer::EndSession() {
  for (TChannelStore& store : m_Channel) {
    std::lock_guard<std::mutex> lock(store.lock);
    store.scenes.Clear();
    store.frames.Clear();
    if (store.slotState)
      std::fill(store.slotState.get(), store.slotState.get() + store.slotCount, SLOT_EMPTY);
    std::fill(std::begin(store.hasScene), std::end(store.hasScene), false);
    store.dropping = false;
  }
  std::lock_guard<std::mutex> lock(m_Layer.lock);
  m_Layer.scenes.Clear();
  m_Layer.frames.Clear();
}

void COOVDecodedPictureBuffer::FreeBuffers() {
  for (int ch = 0; ch < kDpbChannels; ++ch) FreeChannel(ch);
  std::lock_guard<std::mutex> lock(m_Layer.lock);
  m_Layer.scenes.Clear();
  m_Layer.frames.Clear();
  m_Layer.memory.reset();
  m_Layer.memoryBytes = 0;
}

TSlotState COOVDecodedPictureBuffer::SlotState(int channel, std::int32_t slot) const {
  if (channel < 0 || channel >= kDpbChannels) return SLOT_EMPTY;
  const TChannelStore& store = m_Channel[channel];
  if (!store.slotState || slot < 0 || slot >= store.frames.GetSize()) return SLOT_EMPTY;
  return store.slotState[static_cast<std::size_t>(slot)];
}

std::int32_t COOVDecodedPictureBuffer::WriteCursor(int channel) const {
  if (channel < 0 || channel >= kDpbChannels) return -1;
  const TChannelStore& store = m_Channel[channel];
  if (!store.frames.HasStorage() || !store.scenes.HasStorage()) return -1;
  if (store.scenes.IsEmpty()) return store.frames.GetWriteIndex();
  const TVideoSceneBuffer* newest = store.scenes.Peek(store.scenes.GetCount() - 1);
  return store.frames.Step(newest->nFirstSlot, newest->nStored);
}

std::int32_t COOVDecodedPictureBuffer::OldestStoredSlot(int channel) const {
  const std::int32_t cursor = WriteCursor(channel);
  if (cursor < 0) return -1;
  const TChannelStore& store = m_Channel[channel];
  const std::int32_t size = store.frames.GetSize();
  for (std::int32_t k = 0; k < size; ++k) {
    const std::int32_t slot = store.frames.Step(cursor, k);
    if (SlotState(channel, slot) == SLOT_STORED) return slot;
  }
  return -1;
}

std::uint64_t COOVDecodedPictureBuffer::FlushCount(int channel) const {
  if (channel < 0 || channel >= kDpbChannels) return 0;
  return m_Channel[channel].generation.load();
}

std::int32_t COOVDecodedPictureBuffer::FlushChannel(int channel) {
  if (channel < 0 || channel >= kDpbChannels) return -1;
  TChannelStore& store = m_Channel[channel];
  std::int32_t cursor = -1;
  {
    std::lock_guard<std::mutex> lock(store.lock);
    store.generation.fetch_add(1);
    if (!store.frames.HasStorage() || !store.scenes.HasStorage() || !store.slotState) return -1;
    store.dropping = true;
    // Every scene but the newest is full; each is given up whole and freed.
    // The newest keeps its slots: what it stored is given up, and the
    // frames stored after the seek follow in it.
    while (TVideoSceneBuffer* scene = store.scenes.Peek(0)) {
      scene->nTaken = scene->nStored;
      if (scene->nTaken < scene->nFrames) break;
      store.frames.Release(std::min(scene->nFrames, store.frames.GetCapacity()));
      store.scenes.Release(1);
    }
    for (std::int32_t k = 0; k < store.frames.GetSize(); ++k)
      if (store.slotState[static_cast<std::size_t>(k)] == SLOT_STORED)
        store.slotState[static_cast<std::size_t>(k)] = SLOT_EMPTY;
    cursor = WriteCursor(channel);
  }
  store.freeSpace.notify_all();
  return cursor;
}

bool COOVDecodedPictureBuffer::AdmitFrame(int channel, bool discontinuity, std::uint64_t* pGeneration) {
  if (channel < 0 || channel >= kDpbChannels) return false;
  TChannelStore& store = m_Channel[channel];
  std::lock_guard<std::mutex> lock(store.lock);
  if (store.dropping) {
    if (!discontinuity) return false;
    store.dropping = false;
  }
  if (pGeneration) *pGeneration = store.generation.load();
  return true;
}

int COOVDecodedPictureBuffer::FreeSpaceWaiters(int channel) const {
  if (channel < 0 || channel >= kDpbChannels) return 0;
  return m_Channel[channel].waiters.load();
}

void COOVDecodedPictureBuffer::SignalFreeSpace(int channel) {
  if (channel < 0 || channel >= kDpbChannels) return;
  m_Channel[channel].freeSpace.notify_all();
}

void COOVDecodedPictureBuffer::RequestStop() {
  m_bStop.store(true);
  // Taking each lock orders the flag before any waiter's next check.
  for (TChannelStore& store : m_Channel) {
    { std::lock_guard<std::mutex> lock(store.lock); }
    store.freeSpace.notify_all();
  }
}

void COOVDecodedPictureBuffer::ClearStop() { m_bStop.store(false); }

bool COOVDecodedPictureBuffer::OpenScene(int channel, int procId, std::int32_t sceneNumber,
                                         std::int32_t frames, std::int32_t* pSceneIndex,
                                         const char* fullMessage, int messageValue) {
  if (channel < 0 || channel >= kDpbChannels || procId < 0 || procId >= kDpbProcIds || frames <= 0)
    return false;
  TChannelStore& store = m_Channel[channel];
  std::unique_lock<std::mutex> lock(store.lock);
  if (!store.scenes.HasStorage() || !store.frames.HasStorage()) return false;
  if (store.scenes.GetCount() >= store.scenes.GetCapacity()) {
    lock.unlock();
    platform::ShowMessage(Format(fullMessage, messageValue));
    return false;
  }
  if (frames > store.frames.GetCapacity()) return false;
  store.waiters.fetch_add(1);
  store.freeSpace.wait(lock, [&] {
    return m_bStop.load() || !store.frames.HasStorage() ||
           store.frames.GetCapacity() - store.frames.GetCount() >= frames;
  });
  store.waiters.fetch_sub(1);
  if (m_bStop.load() || !store.frames.HasStorage()) return false;
  const std::int32_t firstSlot = store.frames.GetWriteIndex();
  store.frames.Advance(frames);
  const std::int32_t index = store.scenes.GetWriteIndex();
  TVideoSceneBuffer scene{};
  scene.nProcId = procId;
  scene.nKind = 5;
  scene.nSceneNumber = sceneNumber;
  scene.nLastFrame = frames - 1;
  scene.nFrames = frames;
  scene.nFirstSlot = firstSlot;
  store.scenes.Push(scene);
  store.currentScene[procId] = index;
  store.hasScene[procId] = true;
  if (pSceneIndex) *pSceneIndex = index;
  return true;
}

bool COOVDecodedPictureBuffer::OpenChannelScene(int channel, int procId, std::int32_t sceneNumber,
                                                std::int32_t frames, std::int32_t* pSceneIndex) {
  return OpenScene(channel, procId, sceneNumber, frames, pSceneIndex,
                   "Video scene buffer for channel = %d is full", channel);
}

bool COOVDecodedPictureBuffer::OpenLayerScene(int procId, int layer, std::int32_t sceneNumber,
                                              std::int32_t frames, std::int32_t* pSceneIndex) {
  if (layer != 5 && layer != 6) return false;
  return OpenScene(layer == 5 ? 0 : 1, procId, sceneNumber, frames, pSceneIndex,
                   "Video scene ring queue buffer for layer = %d is full", layer);
}

std::uint8_t* COOVDecodedPictureBuffer::BeginSlot(int channel, int procId, std::int32_t* pSlot,
                                                  std::uint64_t generation, bool* pDropped) {
  if (channel < 0 || channel >= kDpbChannels || procId < 0 || procId >= kDpbProcIds) return nullptr;
  TChannelStore& store = m_Channel[channel];
  std::lock_guard<std::mutex> lock(store.lock);
  if (generation != store.generation.load()) {
    *pDropped = true;
    return nullptr;
  }
  if (!store.memory || !store.hasScene[procId]) return nullptr;
  TVideoSceneBuffer* scene = store.scenes.SlotAt(store.currentScene[procId]);
  if (!scene || scene->nProcId != procId || scene->nStored >= scene->nFrames) return nullptr;
  const std::int32_t slot = store.frames.Step(scene->nFirstSlot, scene->nStored);
  TVideoFrame* frame = store.frames.SlotAt(slot);
  if (!frame) return nullptr;
  store.slotState[static_cast<std::size_t>(slot)] = SLOT_WRITING;
  store.writingGeneration = generation;
  *pSlot = slot;
  return frame->pData;
}

std::uint8_t* COOVDecodedPictureBuffer::ReserveSlot(int channel, int procId, const TYuvFrameBuffer& layout) {
  if (channel < 0 || channel >= kDpbChannels || procId < 0 || procId >= kDpbProcIds) return nullptr;
  const std::int32_t f = m_ePixelFormat[channel];
  const TYuvFrameBuffer& kept = m_YuvFrameRecord[channel];
  if (f < 51 || f > 92 || layout.nYSize != kept.nYSize || layout.nCbSize != kept.nCbSize ||
      layout.nCrSize != kept.nCrSize || layout.nYSize <= 0 ||
      static_cast<std::int64_t>(kept.nYSize) + kept.nCbSize + kept.nCrSize > m_nFrameSize[channel])
    return nullptr;
  TChannelStore& store = m_Channel[channel];
  std::lock_guard<std::mutex> lock(store.lock);
  if (!store.memory || !store.slotState || !store.hasScene[procId]) return nullptr;
  TVideoSceneBuffer* scene = store.scenes.SlotAt(store.currentScene[procId]);
  if (!scene || scene->nProcId != procId || scene->nStored >= scene->nFrames) return nullptr;
  const std::int32_t slot = store.frames.Step(scene->nFirstSlot, scene->nStored);
  TVideoFrame* frame = store.frames.SlotAt(slot);
  if (!frame) return nullptr;
  // From now on no replay shows the slot's old frame.
  store.slotState[static_cast<std::size_t>(slot)] = SLOT_WRITING;
  return frame->pData;
}

bool COOVDecodedPictureBuffer::EndSlot(int channel, int procId, std::int32_t slot, std::int32_t frameNumber,
                                       std::int32_t sceneNumber) {
  TChannelStore& store = m_Channel[channel];
  std::lock_guard<std::mutex> lock(store.lock);
  TVideoFrame* frame = store.frames.SlotAt(slot);
  if (!frame || !store.slotState) return false;
  if (store.writingGeneration != store.generation.load()) {
    // Flushed while it was copied: a frame from before the seek.
    store.slotState[static_cast<std::size_t>(slot)] = SLOT_EMPTY;
    return false;
  }
  frame->nFrameNumber = frameNumber;
  frame->nSceneNumber = sceneNumber;
  store.slotState[static_cast<std::size_t>(slot)] = SLOT_STORED;
  if (TVideoSceneBuffer* scene = store.scenes.SlotAt(store.currentScene[procId])) ++scene->nStored;
  return true;
}

bool COOVDecodedPictureBuffer::PutChannelFrame(int channel, int procId, const TMediaFrameNotice& notice,
                                               std::int32_t frameNumber, std::int32_t sceneNumber) {
  std::uint64_t generation = 0;
  if (!AdmitFrame(channel, notice.bDiscontinuity, &generation)) return false;
  return CopyFrame(channel, procId, notice, frameNumber, sceneNumber, generation) == PUT_STORED;
}

COOVDecodedPictureBuffer::TPutResult COOVDecodedPictureBuffer::PutAdmittedFrame(
    int channel, int procId, const TMediaFrameNotice& notice, std::int32_t frameNumber,
    std::int32_t sceneNumber, std::uint64_t generation) {
  return CopyFrame(channel, procId, notice, frameNumber, sceneNumber, generation);
}

COOVDecodedPictureBuffer::TPutResult COOVDecodedPictureBuffer::CopyFrame(int channel, int procId,
                                                                         const TMediaFrameNotice& notice,
                                                                         std::int32_t frameNumber,
                                                                         std::int32_t sceneNumber,
                                                                         std::uint64_t generation) {
  std::int32_t slot = 0;
  bool dropped = false;
  std::uint8_t* target = BeginSlot(channel, procId, &slot, generation, &dropped);
  if (!target) return dropped ? PUT_DROPPED : PUT_FAILED;
  const std::int64_t room = m_nFrameSize[channel];
  const std::int32_t f = m_ePixelFormat[channel];
  auto copy = [&](std::int64_t offset, const std::uint8_t* source, std::int64_t wanted) {
    const std::int64_t n = Bounded(wanted, room - offset);
    if (!source || n <= 0) return;
    std::uint8_t* const to = target + offset;
    // A plane read straight into its place (ReserveSlot) is stored as it is.
    if (source == to) return;
    // Any other source inside the slot is moved, never copied over itself.
    const std::less<const std::uint8_t*> before;
    if (before(source, target + room) && before(target, source + n))
      std::memmove(to, source, static_cast<std::size_t>(n));
    else
      std::memcpy(to, source, static_cast<std::size_t>(n));
  };
  if (((f >= 18 && f <= 20) || (f >= 26 && f <= 29)) && notice.nTopDownStride > 0) {
    // A media graph's top-down rows: turned over on the way into the slot's
    // bottom-up rows, in the one copy the frame makes. Only the rows the
    // notice wholly holds, and no more than the slot's rows and row bytes.
    const TFrameBuffer& layout = m_FrameRecord[channel];
    const std::int64_t stride = notice.nTopDownStride;
    const std::int64_t rowBytes = std::min<std::int64_t>(Product(layout.nWidth, layout.nBitsPerPixel) / 8,
                                                         std::min<std::int64_t>(stride, layout.nStride));
    const std::int64_t held = notice.pRgbData && rowBytes > 0 && notice.nRgbSize >= rowBytes
                                  ? (notice.nRgbSize - rowBytes) / stride + 1
                                  : 0;
    const bool fits = layout.nStride > 0 && Product(layout.nHeight, layout.nStride) <= room;
    const std::int64_t rows = fits ? std::min<std::int64_t>(held, layout.nHeight) : 0;
    for (std::int64_t y = 0; y < rows; ++y)
      std::memcpy(target + (layout.nHeight - 1 - y) * std::int64_t{layout.nStride},
                  notice.pRgbData + y * stride, static_cast<std::size_t>(rowBytes));
  } else if ((f >= 18 && f <= 20) || (f >= 26 && f <= 29)) {
    copy(0, notice.pRgbData, notice.nRgbSize);
  } else if (f == PF_DIB_1 || f == PF_DIB_4 || f == PF_DIB_8) {
    const std::int64_t table = m_nColourTableSize[channel];
    copy(0, notice.pRgbData, std::min<std::int64_t>(notice.nRgbSize, room - table));
    copy(room - table, notice.pColourTable, std::min<std::int64_t>(table, notice.nColourTableSize));
  } else if (f >= 42 && f <= 47) {
    const std::int64_t plane = m_nPlaneSize[channel];
    const std::int64_t quarter = m_nQuarterPlane[channel];
    copy(0, notice.pY, std::min(plane, Product(notice.nWidth, notice.nHeight)));
    const std::int64_t chroma = std::min(quarter, Product(notice.nChromaWidth, notice.nChromaHeight));
    copy(plane, notice.pCb, chroma);
    copy(plane + quarter, notice.pCr, chroma);
  } else if (f >= 51 && f <= 92) {
    // Each plane: the channel's layout, bounded by what the notice says it
    // holds (its sizes, its planar record, or its picture size).
    const TYuvFrameBuffer& layout = m_YuvFrameRecord[channel];
    const bool sameSize = notice.nWidth == m_nWidth[channel] && notice.nHeight == m_nHeight[channel];
    auto held = [&](std::int32_t explicitSize, std::int32_t recordSize,
                    std::int32_t layoutSize) -> std::int64_t {
      if (explicitSize > 0) return explicitSize;
      if (notice.pPlanarRecord) return recordSize;
      return sameSize ? layoutSize : 0;
    };
    const TYuvFrameBuffer* record = notice.pPlanarRecord;
    const std::int64_t y = std::min<std::int64_t>(
        layout.nYSize, held(notice.nYSize, record ? record->nYSize : 0, layout.nYSize));
    const std::int64_t cb = std::min<std::int64_t>(
        layout.nCbSize, held(notice.nCbSize, record ? record->nCbSize : 0, layout.nCbSize));
    const std::int64_t cr = std::min<std::int64_t>(
        layout.nCrSize, held(notice.nCrSize, record ? record->nCrSize : 0, layout.nCrSize));
    copy(0, notice.pY, y);
    copy(layout.nYSize, notice.pCb, cb);
    copy(static_cast<std::int64_t>(layout.nYSize) + layout.nCbSize, notice.pCr, cr);
  } else if (f == PF_YUY2) {
    copy(0, notice.pY, notice.nYuy2Size);
  }
  return EndSlot(channel, procId, slot, frameNumber, sceneNumber) ? PUT_STORED : PUT_DROPPED;
}

bool COOVDecodedPictureBuffer::PutLayerFrame(std::int32_t width, std::int32_t height,
                                             std::int32_t chromaWidth, std::int32_t chromaHeight,
                                             const std::uint8_t* pY, const std::uint8_t* pU,
                                             const std::uint8_t* pV, int procId, int layer,
                                             std::int32_t frameNumber, std::int32_t sceneNumber) {
  if (layer != 5 && layer != 6) return false;
  const int channel = layer == 5 ? 0 : 1;
  std::int32_t slot = 0;
  bool dropped = false;
  std::uint8_t* target = BeginSlot(channel, procId, &slot, m_Channel[channel].generation.load(), &dropped);
  if (!target) return false;
  const std::int64_t room = m_nFrameSize[channel];
  const std::int64_t plane = m_nPlaneSize[channel];
  const std::int64_t quarter = m_nQuarterPlane[channel];
  auto copy = [&](std::int64_t offset, const std::uint8_t* source, std::int64_t wanted) {
    const std::int64_t n = Bounded(wanted, room - offset);
    if (source && n > 0) std::memcpy(target + offset, source, static_cast<std::size_t>(n));
  };
  copy(0, pY, std::min(plane, Product(width, height)));
  const std::int64_t chroma = std::min(quarter, Product(chromaWidth, chromaHeight));
  copy(plane, pU, chroma);
  copy(plane + quarter, pV, chroma);
  return EndSlot(channel, procId, slot, frameNumber, sceneNumber);
}

}  // namespace OOVDecodedPictureBuffer
