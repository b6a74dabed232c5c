#pragma once
// The media core's one queue type: a fixed-capacity ring over a contiguous
// array of fixed-size records that keeps the newest `capacity` elements and
// drops the oldest on overflow. The array has capacity + 1 slots; the owners
// (frame ring queue, decoded-picture buffer, OOV page rings) address slots
// directly by index and move the indices in bulk, so the index arithmetic
// here is part of every owner's contract:
//
//   next(i)    = 0 when i = capacity, else i + 1
//   step(p, k) = p + k wrapped into 0..capacity
//   the element k places after the read index lives in slot step(read, k)
//
// Storage is allocated once by Allocate; Push, Advance and Release never
// allocate. There is no lock: every owner serialises access with its own.

#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

namespace Collections {

template <class T>
class CRingQueueArray {
 public:
  CRingQueueArray() = default;

  // Sizes the ring for n elements (n + 1 slots; existing slots are kept, new
  // ones default-constructed) and empties it. A negative n changes nothing
  // and succeeds. When the memory cannot be had the ring is left without
  // storage (capacity 0) and the result is false.
  bool Allocate(std::int32_t n) {
    if (n < 0) return true;
    try {
      m_Slots.resize(static_cast<std::size_t>(n) + 1);
    } catch (const std::bad_alloc&) {
      Reset();
      return false;
    } catch (const std::length_error&) {
      Reset();
      return false;
    }
    m_nCapacity = n;
    m_nCount = 0;
    m_nWriteIndex = 0;
    m_nReadIndex = 0;
    return true;
  }

  // Copies (or moves) the element into the slot at the write index and moves
  // the write index on; when that catches up with the read index the queue
  // was full and the oldest element is dropped. False when the ring has no
  // capacity or no storage (never allocated, or cleared).
  bool Push(const T& element) {
    if (!IsUsable()) return false;
    m_Slots[static_cast<std::size_t>(m_nWriteIndex)] = element;
    AfterPush();
    return true;
  }
  bool Push(T&& element) {
    if (!IsUsable()) return false;
    m_Slots[static_cast<std::size_t>(m_nWriteIndex)] = std::move(element);
    AfterPush();
    return true;
  }

  // Commits (n > 0) or withdraws (n < 0) n slots that the owner filled or
  // emptied in place. A withdrawal is limited to the count; a commit larger
  // than the capacity is taken modulo capacity + 1. The count stays within
  // 0..capacity; a full queue has its read index just after the write index.
  void Advance(std::int32_t n) {
    if (!IsUsable()) return;
    std::int64_t k = n;
    if (k < 0 && k < -static_cast<std::int64_t>(m_nCount)) k = -static_cast<std::int64_t>(m_nCount);
    if (k > m_nCapacity) k %= static_cast<std::int64_t>(m_nCapacity) + 1;
    m_nWriteIndex = Step(m_nWriteIndex, k);
    std::int64_t count = static_cast<std::int64_t>(m_nCount) + k;
    if (count < 0) count = 0;
    if (count > m_nCapacity) count = m_nCapacity;
    m_nCount = static_cast<std::int32_t>(count);
    if (m_nCount == m_nCapacity) m_nReadIndex = Next(m_nWriteIndex);
  }

  // Drops the n oldest elements. n is limited to the count, so the count
  // never falls below 0 and the read index never passes the write index;
  // n <= 0 drops nothing.
  void Release(std::int32_t n) {
    if (!IsUsable() || n <= 0) return;
    if (n > m_nCount) n = m_nCount;
    m_nCount -= n;
    m_nReadIndex = Step(m_nReadIndex, n);
  }

  // Empties the ring and frees its storage. The capacity is kept, but the
  // ring is unusable (Push fails) until the next Allocate.
  void Clear() {
    if (m_nCapacity != 0) {
      m_nWriteIndex = m_nReadIndex;
      m_nCount = 0;
    }
    std::vector<T>().swap(m_Slots);
  }

  // Index arithmetic over the capacity + 1 slots.
  std::int32_t Next(std::int32_t i) const { return i >= m_nCapacity ? 0 : i + 1; }
  std::int32_t Step(std::int32_t p, std::int64_t k) const {
    const std::int64_t ring = static_cast<std::int64_t>(m_nCapacity) + 1;
    std::int64_t q = (static_cast<std::int64_t>(p) + k) % ring;
    if (q < 0) q += ring;
    return static_cast<std::int32_t>(q);
  }

  std::int32_t GetCapacity() const { return m_nCapacity; }
  std::int32_t GetCount() const { return m_nCount; }
  std::int32_t GetWriteIndex() const { return m_nWriteIndex; }
  std::int32_t GetReadIndex() const { return m_nReadIndex; }
  bool IsEmpty() const { return m_nCount == 0; }
  bool IsFull() const { return m_nCapacity > 0 && m_nCount == m_nCapacity; }
  // True while the ring has storage (after Allocate, before Clear).
  bool HasStorage() const { return !m_Slots.empty(); }

  // Slots of the array: GetSize() is capacity + 1 while allocated, 0 after Clear.
  std::int32_t GetSize() const { return static_cast<std::int32_t>(m_Slots.size()); }
  T* GetData() { return m_Slots.data(); }
  const T* GetData() const { return m_Slots.data(); }
  // The slot by its index; null outside the array.
  T* SlotAt(std::int32_t nSlot) {
    return nSlot >= 0 && nSlot < GetSize() ? &m_Slots[static_cast<std::size_t>(nSlot)] : nullptr;
  }
  const T* SlotAt(std::int32_t nSlot) const { return const_cast<CRingQueueArray*>(this)->SlotAt(nSlot); }
  // The element k places after the read index (0 = the oldest); null when
  // the queue holds fewer than k + 1 elements.
  T* Peek(std::int32_t k) {
    if (k < 0 || k >= m_nCount) return nullptr;
    return SlotAt(Step(m_nReadIndex, k));
  }
  const T* Peek(std::int32_t k) const { return const_cast<CRingQueueArray*>(this)->Peek(k); }

 private:
  bool IsUsable() const {
    return m_nCapacity > 0 && m_Slots.size() == static_cast<std::size_t>(m_nCapacity) + 1;
  }
  void AfterPush() {
    m_nWriteIndex = Next(m_nWriteIndex);
    if (m_nWriteIndex != m_nReadIndex)
      ++m_nCount;
    else
      m_nReadIndex = Next(m_nReadIndex);
  }
  void Reset() {
    std::vector<T>().swap(m_Slots);
    m_nCapacity = m_nCount = m_nWriteIndex = m_nReadIndex = 0;
  }

  std::vector<T> m_Slots;
  std::int32_t m_nCapacity = 0;
  std::int32_t m_nCount = 0;
  std::int32_t m_nWriteIndex = 0;
  std::int32_t m_nReadIndex = 0;
};

}  // namespace Collections

namespace ZarnTypes {

// A memory page of the OOV stream buffer. The page owns its memory: it moves
// but never copies, and destroying it (also when its ring shrinks or is
// destroyed) frees the memory.
struct MemPage_OOV {
  std::int32_t nSize = 0;
  std::unique_ptr<std::uint8_t[]> pMemory;

  // Gives the page nBytes of zeroed memory in place of what it held.
  // False (page empty) for a negative size or when the memory cannot be had.
  bool Allocate(std::int32_t nBytes) {
    Free();
    if (nBytes < 0) return false;
    if (nBytes == 0) return true;
    pMemory.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(nBytes)]());
    if (!pMemory) return false;
    nSize = nBytes;
    return true;
  }
  // Frees the memory; size and pointer become 0.
  void Free() {
    pMemory.reset();
    nSize = 0;
  }
};

}  // namespace ZarnTypes

namespace RingQueuePageMem {

// A ring of OOV memory pages; it owns the pages and their memory.
class CRingQueuePageMem {
 public:
  CRingQueuePageMem() = default;
  CRingQueuePageMem(const CRingQueuePageMem&) = delete;
  CRingQueuePageMem& operator=(const CRingQueuePageMem&) = delete;

  // n + 1 pages, each empty unless it was kept from a previous size.
  bool Allocate(std::int32_t n) { return m_Ring.Allocate(n); }

  Collections::CRingQueueArray<ZarnTypes::MemPage_OOV>& Ring() { return m_Ring; }
  const Collections::CRingQueueArray<ZarnTypes::MemPage_OOV>& Ring() const { return m_Ring; }

 private:
  Collections::CRingQueueArray<ZarnTypes::MemPage_OOV> m_Ring;
};

}  // namespace RingQueuePageMem
