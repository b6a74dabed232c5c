// The hand-off of frames from a media graph's streaming thread to the
// session's notification thread, driven by plain threads (runs under
// ThreadSanitizer with the engine's tests).

#include "io/dshow/frame_handoff.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

using DShowMgr::CFrameHandoff;
using DShowMgr::THandoffFrame;
using namespace std::chrono_literals;

namespace {

constexpr std::size_t kFrameBytes = 4096;

// Fills a slot the way a frame of number n looks: every byte n & 0xff.
void WriteFrame(CFrameHandoff& handoff, std::int64_t n) {
  std::uint8_t* p = handoff.BeginWrite();
  ASSERT_NE(p, nullptr);
  std::memset(p, static_cast<int>(n & 0xff), kFrameBytes);
  handoff.CommitWrite(kFrameBytes, n * 0.04, n);
}

bool FrameIsWhole(const THandoffFrame& f) {
  if (f.nBytes != kFrameBytes) return false;
  const auto expected = static_cast<std::uint8_t>(f.nFrameNumber & 0xff);
  for (std::size_t i = 0; i < f.nBytes; ++i)
    if (f.pData[i] != expected) return false;
  return true;
}

}  // namespace

TEST(FrameHandoff, ConsumerThatKeepsUpSeesEveryFrameInOrder) {
  CFrameHandoff handoff;
  ASSERT_TRUE(handoff.Configure(kFrameBytes));
  constexpr int kFrames = 200;
  std::atomic<int> consumed{0};
  std::vector<std::int64_t> numbers;
  std::vector<double> times;
  std::thread consumer([&] {
    while (consumed.load() < kFrames) {
      const auto r = handoff.WaitAndConsume(5s, [&](const THandoffFrame& f) {
        numbers.push_back(f.nFrameNumber);
        times.push_back(f.dTime);
      });
      if (r != CFrameHandoff::WAIT_FRAME) break;
      consumed.fetch_add(1);
    }
  });
  for (int n = 0; n < kFrames; ++n) {
    WriteFrame(handoff, n);
    // The stream's pace: the next frame comes after the consumer took this one.
    while (consumed.load() <= n && !handoff.IsStopped()) std::this_thread::yield();
  }
  consumer.join();
  ASSERT_EQ(numbers.size(), static_cast<std::size_t>(kFrames));
  for (int n = 0; n < kFrames; ++n) {
    EXPECT_EQ(numbers[n], n);
    EXPECT_DOUBLE_EQ(times[n], n * 0.04);
  }
  EXPECT_EQ(handoff.Published(), static_cast<std::uint64_t>(kFrames));
  EXPECT_EQ(handoff.Delivered(), static_cast<std::uint64_t>(kFrames));
  EXPECT_EQ(handoff.Dropped(), 0u);
}

TEST(FrameHandoff, SlowConsumerLosesFramesButNeverSeesATornOne) {
  CFrameHandoff handoff;
  ASSERT_TRUE(handoff.Configure(kFrameBytes));
  constexpr int kFrames = 3000;
  std::atomic<bool> done{false};
  std::vector<std::int64_t> numbers;
  int torn = 0;
  std::thread consumer([&] {
    for (;;) {
      const auto r = handoff.WaitAndConsume(20ms, [&](const THandoffFrame& f) {
        if (!FrameIsWhole(f)) ++torn;
        numbers.push_back(f.nFrameNumber);
        std::this_thread::sleep_for(200us);  // slower than the writer
      });
      if (r == CFrameHandoff::WAIT_STOPPED) break;
      if (r == CFrameHandoff::WAIT_TIMEOUT && done.load()) break;
    }
  });
  // The writer never waits for the consumer.
  for (int n = 0; n < kFrames; ++n) WriteFrame(handoff, n);
  done = true;
  consumer.join();
  EXPECT_EQ(torn, 0);
  ASSERT_FALSE(numbers.empty());
  EXPECT_LT(numbers.size(), static_cast<std::size_t>(kFrames));
  for (std::size_t i = 1; i < numbers.size(); ++i) EXPECT_LT(numbers[i - 1], numbers[i]);
  // The newest frame is never the one dropped.
  EXPECT_EQ(numbers.back(), kFrames - 1);
  EXPECT_EQ(handoff.Published(), static_cast<std::uint64_t>(kFrames));
  EXPECT_EQ(handoff.Delivered() + handoff.Dropped(), handoff.Published());
  EXPECT_EQ(handoff.Delivered(), numbers.size());
}

TEST(FrameHandoff, StopEndsAWaitingConsumerAndRefusesLaterWrites) {
  CFrameHandoff handoff;
  ASSERT_TRUE(handoff.Configure(kFrameBytes));
  std::atomic<int> result{-1};
  std::thread consumer([&] { result = handoff.WaitAndConsume(60s, nullptr); });
  std::this_thread::sleep_for(20ms);
  const auto start = std::chrono::steady_clock::now();
  handoff.Stop();
  consumer.join();
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(result.load(), CFrameHandoff::WAIT_STOPPED);
  EXPECT_LT(waited, 5s);  // at once, not the minute of the time-out
  EXPECT_EQ(handoff.BeginWrite(), nullptr);
  EXPECT_EQ(handoff.WaitAndConsume(1ms, nullptr), CFrameHandoff::WAIT_STOPPED);
  // A new session starts afresh.
  ASSERT_TRUE(handoff.Configure(kFrameBytes));
  EXPECT_FALSE(handoff.IsStopped());
  WriteFrame(handoff, 7);
  std::int64_t seen = -1;
  EXPECT_EQ(handoff.WaitAndConsume(1s, [&](const THandoffFrame& f) { seen = f.nFrameNumber; }),
            CFrameHandoff::WAIT_FRAME);
  EXPECT_EQ(seen, 7);
}

TEST(FrameHandoff, StopWhileAFrameIsWrittenDropsItWithoutBlockingTheWriter) {
  CFrameHandoff handoff;
  ASSERT_TRUE(handoff.Configure(kFrameBytes));
  std::uint8_t* p = handoff.BeginWrite();
  ASSERT_NE(p, nullptr);
  std::thread stopper([&] { handoff.Stop(); });
  stopper.join();
  std::memset(p, 1, kFrameBytes);  // the slot stays the writer's until it commits
  handoff.CommitWrite(kFrameBytes, 0.0, 1);
  EXPECT_EQ(handoff.Published(), 1u);
  EXPECT_EQ(handoff.Dropped(), 1u);
  EXPECT_EQ(handoff.Delivered(), 0u);
}

TEST(FrameHandoff, FlushDropsQueuedFramesAndKeepsLaterOnes) {
  CFrameHandoff handoff(4);
  ASSERT_TRUE(handoff.Configure(kFrameBytes));
  WriteFrame(handoff, 1);
  WriteFrame(handoff, 2);
  handoff.Flush();
  EXPECT_EQ(handoff.WaitAndConsume(1ms, nullptr), CFrameHandoff::WAIT_TIMEOUT);
  WriteFrame(handoff, 3);
  std::int64_t seen = -1;
  EXPECT_EQ(handoff.WaitAndConsume(1s, [&](const THandoffFrame& f) { seen = f.nFrameNumber; }),
            CFrameHandoff::WAIT_FRAME);
  EXPECT_EQ(seen, 3);
  EXPECT_EQ(handoff.Dropped(), 2u);
}

TEST(FrameHandoff, FullQueueDropsTheOldestFrame) {
  CFrameHandoff handoff(3);  // one written, one read, one queued
  ASSERT_TRUE(handoff.Configure(kFrameBytes));
  for (int n = 1; n <= 5; ++n) WriteFrame(handoff, n);
  std::vector<std::int64_t> seen;
  while (handoff.WaitAndConsume(1ms, [&](const THandoffFrame& f) { seen.push_back(f.nFrameNumber); }) ==
         CFrameHandoff::WAIT_FRAME) {
  }
  // Three slots, none being read: up to three frames wait; the two oldest went.
  EXPECT_EQ(seen, (std::vector<std::int64_t>{3, 4, 5}));
  EXPECT_EQ(handoff.Dropped(), 2u);
}

TEST(FrameHandoff, NothingIsHandedOutBeforeConfigure) {
  CFrameHandoff handoff;
  EXPECT_EQ(handoff.BeginWrite(), nullptr);
  handoff.CommitWrite(10, 0.0, 0);  // without a slot: ignored
  EXPECT_EQ(handoff.Published(), 0u);
  EXPECT_EQ(handoff.WaitAndConsume(1ms, nullptr), CFrameHandoff::WAIT_TIMEOUT);
}

// The writer can wait until a slow consumer has taken every queued frame and
// returned from its call; a stop ends that wait too.
TEST(FrameHandoff, WaitDrainedLastsUntilTheConsumerHasEveryFrame) {
  CFrameHandoff handoff(4);
  ASSERT_TRUE(handoff.Configure(kFrameBytes));
  EXPECT_TRUE(handoff.WaitDrained(0ms));  // nothing queued
  for (int n = 1; n <= 3; ++n) WriteFrame(handoff, n);
  EXPECT_FALSE(handoff.WaitDrained(1ms));
  std::atomic<int> consumed{0};
  std::atomic<bool> inCall{false};
  std::thread consumer([&] {
    while (handoff.WaitAndConsume(1s, [&](const THandoffFrame& f) {
      inCall = true;
      std::this_thread::sleep_for(30ms);  // slower than the writer
      EXPECT_TRUE(FrameIsWhole(f));
      consumed.fetch_add(1);
      inCall = false;
    }) == CFrameHandoff::WAIT_FRAME) {
      if (consumed.load() == 3) break;
    }
  });
  EXPECT_TRUE(handoff.WaitDrained(30s));
  // Drained means handed over and returned, not only taken off the queue.
  EXPECT_EQ(consumed.load(), 3);
  EXPECT_FALSE(inCall.load());
  consumer.join();
  EXPECT_EQ(handoff.Delivered(), 3u);
  EXPECT_EQ(handoff.Dropped(), 0u);

  // A frame nobody takes: the wait times out, and a stop ends it at once.
  WriteFrame(handoff, 4);
  EXPECT_FALSE(handoff.WaitDrained(5ms));
  std::thread stopper([&] {
    std::this_thread::sleep_for(20ms);
    handoff.Stop();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(handoff.WaitDrained(60s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  stopper.join();
}

// With a writer grace (a live source), a writer that finds every slot taken
// waits for the consumer instead of dropping; the wait ends promptly on a
// consume, a flush or a stop, and without any of them the oldest frame is
// dropped after the grace and counted as overwritten. A flush drops the
// frame the writer waited to write: it is from before the seek.
TEST(FrameHandoff, WriterGraceWaitsForRoomAndEndsOnConsumeFlushOrStop) {
  enum Release { CONSUME, FLUSH, STOP, NONE };
  for (Release release : {CONSUME, FLUSH, STOP, NONE}) {
    SCOPED_TRACE(release);
    CFrameHandoff handoff(3);
    ASSERT_TRUE(handoff.Configure(kFrameBytes));
    handoff.SetWriterGrace(release == NONE ? 50ms : 60s);
    for (int n = 1; n <= 3; ++n) WriteFrame(handoff, n);  // every slot queued
    std::atomic<bool> gotSlot{false};
    std::atomic<std::int64_t> releasedAt{0};
    auto writer = std::async(std::launch::async, [&] {
      std::uint8_t* p = handoff.BeginWrite();
      gotSlot = p != nullptr;
      if (p) {
        std::memset(p, 4, kFrameBytes);
        handoff.CommitWrite(kFrameBytes, 0.16, 4);
      }
    });
    std::vector<std::int64_t> seen;
    std::this_thread::sleep_for(20ms);
    const bool waitedAtFirst = writer.wait_for(0ms) != std::future_status::ready;
    if (release == CONSUME) {
      ASSERT_EQ(handoff.WaitAndConsume(1s, nullptr), CFrameHandoff::WAIT_FRAME);
      seen.push_back(1);
    } else if (release == FLUSH) {
      handoff.Flush();
    } else if (release == STOP) {
      handoff.Stop();
    }
    // The event ends the wait at once, not when the minute of grace is over.
    const bool bPrompt = writer.wait_for(5s) == std::future_status::ready;
    if (!bPrompt) handoff.Stop();
    EXPECT_TRUE(bPrompt) << "the writer still waits 5 s after the event that frees it";
    writer.wait();
    while (handoff.WaitAndConsume(1ms, [&](const THandoffFrame& f) {
      EXPECT_TRUE(FrameIsWhole(f));
      seen.push_back(f.nFrameNumber);
    }) == CFrameHandoff::WAIT_FRAME) {
    }
    if (release != NONE) {
      EXPECT_TRUE(waitedAtFirst);
    }
    switch (release) {
      case CONSUME:
        EXPECT_TRUE(gotSlot.load());
        EXPECT_EQ(seen, (std::vector<std::int64_t>{1, 2, 3, 4}));
        EXPECT_EQ(handoff.Dropped(), 0u);
        break;
      case FLUSH:
        EXPECT_FALSE(gotSlot.load());
        EXPECT_TRUE(seen.empty());
        EXPECT_EQ(handoff.Dropped(), 3u);
        break;
      case STOP:
        EXPECT_FALSE(gotSlot.load());
        EXPECT_TRUE(seen.empty());
        break;
      case NONE:
        EXPECT_TRUE(gotSlot.load());
        EXPECT_EQ(seen, (std::vector<std::int64_t>{2, 3, 4}));
        EXPECT_EQ(handoff.Dropped(), 1u);
        EXPECT_EQ(handoff.Overwritten(), 1u);
        break;
    }
  }
}

namespace {

// A writer on its own thread that writes frames first..last and records
// when each BeginWrite returned.
struct TWriterThread {
  CFrameHandoff& handoff;
  std::atomic<int> written{0};
  std::atomic<int> refused{0};
  std::future<void> done;
  TWriterThread(CFrameHandoff& h, int first, int last) : handoff(h) {
    done = std::async(std::launch::async, [this, first, last] {
      for (int n = first; n <= last; ++n) {
        std::uint8_t* p = handoff.BeginWrite();
        if (!p) {
          refused.fetch_add(1);
          continue;
        }
        std::memset(p, n & 0xff, kFrameBytes);
        handoff.CommitWrite(kFrameBytes, n * 0.04, n);
        written.fetch_add(1);
      }
    });
  }
  // True when the writer finished within the limit; else the hand-off is
  // stopped so that the test ends.
  bool FinishesWithin(std::chrono::milliseconds limit) {
    const bool bDone = done.wait_for(limit) == std::future_status::ready;
    if (!bDone) handoff.Stop();
    done.wait();
    return bDone;
  }
};

}  // namespace

// A file's writer waits for a slow consumer however long it takes: every
// frame arrives, whole and in order, none is dropped.
TEST(FrameHandoff, WaitingWriterLosesNothingToASlowConsumer) {
  CFrameHandoff handoff(4);
  ASSERT_TRUE(handoff.Configure(kFrameBytes));
  handoff.SetWriterPolicy(CFrameHandoff::WRITER_WAITS);
  constexpr int kFrames = 40;
  TWriterThread writer(handoff, 0, kFrames - 1);
  std::vector<std::int64_t> numbers;
  int torn = 0;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (static_cast<int>(numbers.size()) < kFrames && std::chrono::steady_clock::now() < deadline) {
    handoff.WaitAndConsume(100ms, [&](const THandoffFrame& f) {
      if (!FrameIsWhole(f)) ++torn;
      numbers.push_back(f.nFrameNumber);
      // Now and then far slower than the writer: the writer fills every
      // slot and has to wait.
      if (f.nFrameNumber % 10 == 0) std::this_thread::sleep_for(60ms);
    });
  }
  EXPECT_TRUE(writer.FinishesWithin(5s)) << "the writer never came back from its last frame";
  ASSERT_EQ(numbers.size(), static_cast<std::size_t>(kFrames));
  for (int n = 0; n < kFrames; ++n) EXPECT_EQ(numbers[n], n);
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(writer.refused.load(), 0);
  EXPECT_EQ(handoff.Dropped(), 0u);
  EXPECT_EQ(handoff.Overwritten(), 0u);
}

// A waiting writer is freed at once by the event that makes room or makes
// its frame stale: a consume (a slot is free), a flush (a seek; its frame is
// dropped) or a stop. Each wait is bounded here, so a lost wake-up fails in
// seconds with a message instead of hanging the test.
TEST(FrameHandoff, WaitingWriterIsFreedPromptlyByConsumeFlushOrStop) {
  enum Release { CONSUME, FLUSH, STOP };
  for (Release release : {CONSUME, FLUSH, STOP}) {
    SCOPED_TRACE(release);
    CFrameHandoff handoff(3);
    ASSERT_TRUE(handoff.Configure(kFrameBytes));
    handoff.SetWriterPolicy(CFrameHandoff::WRITER_WAITS);
    for (int n = 1; n <= 3; ++n) WriteFrame(handoff, n);
    TWriterThread writer(handoff, 4, 4);
    // Without the event the writer waits on, well past any grace.
    EXPECT_NE(writer.done.wait_for(300ms), std::future_status::ready) << "the writer did not wait for room";
    const auto start = std::chrono::steady_clock::now();
    if (release == CONSUME) {
      ASSERT_EQ(handoff.WaitAndConsume(1s, nullptr), CFrameHandoff::WAIT_FRAME);
    } else if (release == FLUSH) {
      handoff.BeginFlush();
    } else {
      handoff.Stop();
    }
    EXPECT_TRUE(writer.FinishesWithin(5s)) << "the writer still waits 5 s after the event that frees it";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(writer.written.load(), release == CONSUME ? 1 : 0);
    EXPECT_EQ(writer.refused.load(), release == CONSUME ? 0 : 1);
    if (release == FLUSH) {
      // While the flush lasts, writes are refused; afterwards they are taken.
      EXPECT_EQ(handoff.BeginWrite(), nullptr);
      handoff.EndFlush();
      WriteFrame(handoff, 5);
      std::int64_t seen = -1;
      EXPECT_EQ(handoff.WaitAndConsume(1s, [&](const THandoffFrame& f) { seen = f.nFrameNumber; }),
                CFrameHandoff::WAIT_FRAME);
      EXPECT_EQ(seen, 5);
    }
  }
}

// The first frame committed after a flush is marked, and only that one; a
// frame whose write began before the flush is dropped at its commit, never
// handed on as if it came after the seek.
TEST(FrameHandoff, FirstFrameAfterAFlushIsMarkedAndStaleWritesAreDropped) {
  CFrameHandoff handoff(4);
  ASSERT_TRUE(handoff.Configure(kFrameBytes));
  handoff.SetWriterPolicy(CFrameHandoff::WRITER_WAITS);
  WriteFrame(handoff, 1);
  std::uint8_t* pStale = handoff.BeginWrite();  // frame 2 is being written...
  ASSERT_NE(pStale, nullptr);
  handoff.BeginFlush();  // ...when a seek begins
  handoff.EndFlush();
  std::memset(pStale, 2, kFrameBytes);
  handoff.CommitWrite(kFrameBytes, 0.08, 2);
  for (int n = 30; n <= 32; ++n) WriteFrame(handoff, n);
  std::vector<std::pair<std::int64_t, bool>> seen;
  while (handoff.WaitAndConsume(1ms, [&](const THandoffFrame& f) {
    seen.emplace_back(f.nFrameNumber, f.bDiscontinuity);
  }) == CFrameHandoff::WAIT_FRAME) {
  }
  EXPECT_EQ(seen, (std::vector<std::pair<std::int64_t, bool>>{{30, true}, {31, false}, {32, false}}));
  EXPECT_EQ(handoff.Dropped(), 2u);  // frame 1 queued, frame 2 being written
  // A flush with nothing after it still marks the next frame, however late.
  handoff.Flush();
  WriteFrame(handoff, 40);
  bool marked = false;
  EXPECT_EQ(handoff.WaitAndConsume(1s, [&](const THandoffFrame& f) { marked = f.bDiscontinuity; }),
            CFrameHandoff::WAIT_FRAME);
  EXPECT_TRUE(marked);
}

// ---------------------------------------------------------------------------
// Leased frames: queued in their maker's memory, released exactly once.

namespace {

// A frame in memory of its own that counts its releases.
struct TLeasedFrame {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kFrameBytes);
  std::atomic<int> releases{0};
  DShowMgr::TFrameLease Lease() {
    DShowMgr::TFrameLease lease;
    lease.pData = bytes.data();
    lease.nBytes = bytes.size();
    lease.pRelease = [](void* p) { static_cast<TLeasedFrame*>(p)->releases.fetch_add(1); };
    lease.pHandle = this;
    return lease;
  }
};

}  // namespace

// Whatever becomes of a leased frame (the consumer takes it, a flush or a
// stop drops it from the queue, a live writer overwrites it, it is refused
// before Configure, while flushing or after a stop, or the hand-off goes
// away with it queued), its maker gets it back exactly once, and never
// while the consumer still reads it.
TEST(FrameHandoff, ALeaseIsReleasedExactlyOnceWhateverBecomesOfItsFrame) {
  enum TFate {
    CONSUMED,
    FLUSHED,
    STOPPED,
    OVERWRITTEN,
    BEFORE_CONFIGURE,
    WHILE_FLUSHING,
    AFTER_STOP,
    DESTROYED
  };
  for (const TFate fate :
       {CONSUMED, FLUSHED, STOPPED, OVERWRITTEN, BEFORE_CONFIGURE, WHILE_FLUSHING, AFTER_STOP, DESTROYED}) {
    SCOPED_TRACE(static_cast<int>(fate));
    TLeasedFrame frame;
    {
      CFrameHandoff handoff(3);
      if (fate != BEFORE_CONFIGURE) {
        ASSERT_TRUE(handoff.Configure(kFrameBytes));
      }
      if (fate == WHILE_FLUSHING) handoff.BeginFlush();
      if (fate == AFTER_STOP) handoff.Stop();
      const bool queued = handoff.CommitLease(frame.Lease(), 0.5, 7);
      EXPECT_EQ(queued, fate != BEFORE_CONFIGURE && fate != WHILE_FLUSHING && fate != AFTER_STOP);
      switch (fate) {
        case CONSUMED: {
          int releasesDuringCall = -1;
          EXPECT_EQ(handoff.WaitAndConsume(1s,
                                           [&](const THandoffFrame& f) {
                                             EXPECT_TRUE(f.bLeased);
                                             EXPECT_EQ(f.pData, frame.bytes.data());  // not a copy
                                             EXPECT_EQ(f.nBytes, kFrameBytes);
                                             EXPECT_EQ(f.nFrameNumber, 7);
                                             releasesDuringCall = frame.releases.load();
                                           }),
                    CFrameHandoff::WAIT_FRAME);
          EXPECT_EQ(releasesDuringCall, 0);
          break;
        }
        case FLUSHED: handoff.Flush(); break;
        case STOPPED: handoff.Stop(); break;
        case OVERWRITTEN:
          // Three slots: two more frames fill them, the third takes the
          // lease's slot.
          WriteFrame(handoff, 8);
          WriteFrame(handoff, 9);
          WriteFrame(handoff, 10);
          EXPECT_EQ(handoff.Overwritten(), 1u);
          break;
        default: break;
      }
      EXPECT_EQ(frame.releases.load(), fate == DESTROYED ? 0 : 1);
    }
    EXPECT_EQ(frame.releases.load(), 1);
  }
}

// A slot that held a lease holds copied frames again afterwards: the
// consumer sees the copy, not the lease's memory.
TEST(FrameHandoff, ASlotGoesBackToCopiesAfterItsLeaseWasTaken) {
  CFrameHandoff handoff(3);
  ASSERT_TRUE(handoff.Configure(kFrameBytes));
  TLeasedFrame frame;
  for (int n = 0; n < 6; ++n) {
    if (n % 2 == 0) {
      ASSERT_TRUE(handoff.CommitLease(frame.Lease(), 0.0, n));
    } else {
      WriteFrame(handoff, n);
    }
    ASSERT_EQ(handoff.WaitAndConsume(1s,
                                     [&](const THandoffFrame& f) {
                                       EXPECT_EQ(f.bLeased, n % 2 == 0);
                                       EXPECT_EQ(f.pData == frame.bytes.data(), n % 2 == 0);
                                       if (n % 2 == 1) {
                                         EXPECT_TRUE(FrameIsWhole(f));
                                       }
                                     }),
              CFrameHandoff::WAIT_FRAME);
  }
  EXPECT_EQ(frame.releases.load(), 3);
}
