#include "media/ring_queue.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

struct TItem {
  std::int32_t nValue = 0;
  std::int32_t nPad[3] = {};
};

using TQueue = Collections::CRingQueueArray<TItem>;

// Values of the queue from the oldest to the newest, read through Peek.
std::vector<std::int32_t> Contents(const TQueue& q) {
  std::vector<std::int32_t> out;
  for (std::int32_t k = 0; k < q.GetCount(); ++k) {
    const TItem* item = q.Peek(k);
    out.push_back(item ? item->nValue : -999);
  }
  return out;
}

void PushValues(TQueue& q, std::int32_t first, std::int32_t last) {
  for (std::int32_t v = first; v <= last; ++v) ASSERT_TRUE(q.Push(TItem{v}));
}

void ExpectState(const TQueue& q, std::int32_t write, std::int32_t read, std::int32_t count) {
  EXPECT_EQ(q.GetWriteIndex(), write);
  EXPECT_EQ(q.GetReadIndex(), read);
  EXPECT_EQ(q.GetCount(), count);
}

TEST(RingQueueArray, NewQueueIsEmptyAndRefusesEverything) {
  TQueue q;
  EXPECT_EQ(q.GetCapacity(), 0);
  EXPECT_EQ(q.GetSize(), 0);
  EXPECT_FALSE(q.Push(TItem{1}));
  q.Advance(3);
  q.Release(1);
  ExpectState(q, 0, 0, 0);
  EXPECT_EQ(q.SlotAt(0), nullptr);
}

TEST(RingQueueArray, AllocateGivesCapacityPlusOneSlotsAndEmpties) {
  TQueue q;
  ASSERT_TRUE(q.Allocate(4));
  EXPECT_EQ(q.GetCapacity(), 4);
  EXPECT_EQ(q.GetSize(), 5);
  for (std::int32_t s = 0; s < 5; ++s) EXPECT_EQ(q.SlotAt(s)->nValue, 0) << "slot " << s;
  EXPECT_EQ(q.SlotAt(5), nullptr);
  EXPECT_EQ(q.SlotAt(-1), nullptr);

  PushValues(q, 1, 3);
  ASSERT_TRUE(q.Allocate(4));  // the owners re-allocate to start over
  ExpectState(q, 0, 0, 0);
  EXPECT_TRUE(q.IsEmpty());
}

TEST(RingQueueArray, AllocateZeroGivesOneSlotInWhichPushFails) {
  TQueue q;
  ASSERT_TRUE(q.Allocate(0));
  EXPECT_EQ(q.GetSize(), 1);
  EXPECT_FALSE(q.Push(TItem{1}));
  q.Advance(2);
  q.Release(1);
  ExpectState(q, 0, 0, 0);
}

TEST(RingQueueArray, AllocateNegativeSucceedsAndChangesNothing) {
  TQueue q;
  EXPECT_TRUE(q.Allocate(-1));
  EXPECT_EQ(q.GetCapacity(), 0);
  EXPECT_EQ(q.GetSize(), 0);

  ASSERT_TRUE(q.Allocate(3));
  PushValues(q, 1, 2);
  EXPECT_TRUE(q.Allocate(-5));
  EXPECT_EQ(q.GetCapacity(), 3);
  ExpectState(q, 2, 0, 2);
  EXPECT_EQ(Contents(q), (std::vector<std::int32_t>{1, 2}));
}

TEST(RingQueueArray, WorkedSequenceWithCapacityTwo) {
  TQueue q;
  ASSERT_TRUE(q.Allocate(2));
  PushValues(q, 1, 2);
  ExpectState(q, 2, 0, 2);
  EXPECT_TRUE(q.IsFull());

  ASSERT_TRUE(q.Push(TItem{3}));  // full: the oldest is dropped
  ExpectState(q, 0, 1, 2);
  EXPECT_EQ(q.SlotAt(2)->nValue, 3);
  EXPECT_EQ(Contents(q), (std::vector<std::int32_t>{2, 3}));

  q.Advance(-1);
  ExpectState(q, 2, 1, 1);
  EXPECT_EQ(Contents(q), (std::vector<std::int32_t>{2}));

  q.Release(1);
  ExpectState(q, 2, 2, 0);
}

TEST(RingQueueArray, OverflowKeepsTheNewestCapacityElements) {
  TQueue q;
  ASSERT_TRUE(q.Allocate(4));
  PushValues(q, 1, 7);  // capacity + 3
  EXPECT_EQ(q.GetCount(), 4);
  EXPECT_EQ(q.GetReadIndex(), q.Next(q.GetWriteIndex()));
  EXPECT_EQ(Contents(q), (std::vector<std::int32_t>{4, 5, 6, 7}));
  EXPECT_EQ(q.Peek(4), nullptr);
  EXPECT_EQ(q.Peek(-1), nullptr);
}

TEST(RingQueueArray, AdvanceLimitsWrapsAndFills) {
  struct TCase {
    const char* what;
    std::int32_t prefill;  // elements pushed first (capacity 4, five slots)
    std::int32_t n;
    std::int32_t write, read, count;
  };
  const TCase cases[] = {
      {"commit beyond capacity is taken modulo 5", 0, 7, 2, 0, 2},
      {"commit beyond capacity fills only up to capacity", 3, 7, 0, 1, 4},
      {"withdrawal limited to the count", 3, -10, 0, 0, 0},
      {"partial withdrawal", 2, -1, 1, 0, 1},
      {"withdrawal from an empty queue", 0, -1, 0, 0, 0},
      {"commit on a full queue drops the oldest", 4, 1, 0, 1, 4},
      {"commit of capacity + 1 is no move", 1, 5, 1, 0, 1},
      {"commit of exactly capacity fills", 0, 4, 4, 0, 4},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TQueue q;
    ASSERT_TRUE(q.Allocate(4));
    PushValues(q, 1, c.prefill);
    q.Advance(c.n);
    ExpectState(q, c.write, c.read, c.count);
  }
}

TEST(RingQueueArray, SlotsFilledInPlaceAreCommittedByAdvance) {
  // The owners' pattern: note the write index, fill the next slots in
  // place, then commit them in one step.
  TQueue q;
  ASSERT_TRUE(q.Allocate(4));
  PushValues(q, 1, 3);
  q.Release(3);  // read = write = 3
  const std::int32_t first = q.GetWriteIndex();
  for (std::int32_t k = 0; k < 3; ++k) q.SlotAt(q.Step(first, k))->nValue = 10 + k;
  q.Advance(3);
  EXPECT_EQ(q.GetWriteIndex(), q.Step(first, 3));
  EXPECT_EQ(Contents(q), (std::vector<std::int32_t>{10, 11, 12}));
}

TEST(RingQueueArray, ReleaseIsBoundedByTheCount) {
  TQueue q;
  ASSERT_TRUE(q.Allocate(4));
  PushValues(q, 1, 6);  // holds 3..6, read 2, write 1
  ExpectState(q, 1, 2, 4);

  q.Release(3);
  ExpectState(q, 1, 0, 1);
  EXPECT_EQ(Contents(q), (std::vector<std::int32_t>{6}));

  q.Release(10);  // more than held: only what is there
  ExpectState(q, 1, 1, 0);

  q.Release(-2);  // nothing to un-release
  ExpectState(q, 1, 1, 0);

  PushValues(q, 7, 8);
  EXPECT_EQ(Contents(q), (std::vector<std::int32_t>{7, 8}));
}

TEST(RingQueueArray, StepWrapsBothWays) {
  TQueue q;
  ASSERT_TRUE(q.Allocate(4));  // slots 0..4
  struct TCase {
    std::int32_t p, k, q;
  };
  const TCase cases[] = {{0, 1, 1},  {4, 1, 0}, {3, 4, 2}, {0, -1, 4},
                         {2, -3, 4}, {1, 0, 1}, {4, 5, 4}, {0, -5, 0}};
  for (const TCase& c : cases) EXPECT_EQ(q.Step(c.p, c.k), c.q) << c.p << " + " << c.k;
  EXPECT_EQ(q.Next(3), 4);
  EXPECT_EQ(q.Next(4), 0);
}

TEST(RingQueueArray, ClearFreesStorageKeepsCapacityAndRefusesUntilReallocated) {
  TQueue q;
  ASSERT_TRUE(q.Allocate(3));
  PushValues(q, 1, 5);  // wrapped: read 2, write 1
  q.Clear();
  EXPECT_EQ(q.GetCapacity(), 3);
  EXPECT_EQ(q.GetSize(), 0);
  EXPECT_FALSE(q.HasStorage());
  EXPECT_EQ(q.GetCount(), 0);
  EXPECT_EQ(q.GetWriteIndex(), q.GetReadIndex());

  EXPECT_FALSE(q.Push(TItem{9}));  // no storage: refused, not a write out of the array
  q.Advance(2);
  q.Release(1);
  EXPECT_EQ(q.GetCount(), 0);
  EXPECT_EQ(q.Peek(0), nullptr);

  ASSERT_TRUE(q.Allocate(3));
  PushValues(q, 20, 21);
  EXPECT_EQ(Contents(q), (std::vector<std::int32_t>{20, 21}));
}

TEST(RingQueuePageMem, PagesOwnTheirMemoryThroughPushOverflowShrinkAndDestruction) {
  // Every page that is dropped, overwritten, cut off or destroyed here must
  // free its memory; the leak checker of the test build verifies it.
  auto ring = std::make_unique<RingQueuePageMem::CRingQueuePageMem>();
  ASSERT_TRUE(ring->Allocate(3));
  auto& pages = ring->Ring();
  for (std::int32_t s = 0; s < pages.GetSize(); ++s) {
    EXPECT_EQ(pages.SlotAt(s)->nSize, 0);
    EXPECT_EQ(pages.SlotAt(s)->pMemory.get(), nullptr);
  }

  for (std::int32_t i = 1; i <= 6; ++i) {  // wraps over slots that already hold memory
    ZarnTypes::MemPage_OOV page;
    ASSERT_TRUE(page.Allocate(100 * i));
    page.pMemory[0] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(pages.Push(std::move(page)));
    EXPECT_EQ(page.pMemory.get(), nullptr);  // ownership went to the ring
  }
  ASSERT_EQ(pages.GetCount(), 3);
  for (std::int32_t k = 0; k < 3; ++k) {
    EXPECT_EQ(pages.Peek(k)->nSize, 100 * (4 + k));
    EXPECT_EQ(pages.Peek(k)->pMemory[0], 4 + k);
  }

  ASSERT_TRUE(ring->Allocate(1));  // shrinking destroys the cut-off pages
  EXPECT_EQ(pages.GetSize(), 2);

  ZarnTypes::MemPage_OOV page;
  ASSERT_TRUE(page.Allocate(16));
  page.Free();
  EXPECT_EQ(page.nSize, 0);
  EXPECT_EQ(page.pMemory.get(), nullptr);
  EXPECT_FALSE(page.Allocate(-1));

  ring.reset();  // the remaining pages go with the ring
}

}  // namespace
