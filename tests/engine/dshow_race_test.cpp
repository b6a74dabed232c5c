// The frame path of a media-graph session driven by plain threads standing
// in for the media graph: a streaming thread stamps and writes frames, a
// controlling thread (the UI thread of a seek) reads and sets the layout
// and the frame period and flushes, and the owner takes the frames on the
// notification thread. Runs under ThreadSanitizer with the engine's tests,
// where the media framework itself is not built.

#include "io/dshow/frame_stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

using namespace DShowMgr;
using namespace ZarnTypes;
using namespace std::chrono_literals;

namespace {

constexpr int kW = 33, kH = 7;  // rows of 99 bytes, DIB rows of 100
constexpr std::int64_t kPeriodNs = 40'000'000;

TFrameLayout Layout24() {
  TFrameLayout layout;
  layout.nWidth = kW;
  layout.nHeight = kH;
  layout.nBitsPerPixel = 24;
  layout.nSourceStride = kW * 3;
  return layout;
}

// What the owner saw of each frame.
struct TTaken {
  std::int64_t nIndex;
  double dTime;
  bool bDiscontinuity;
  bool bWhole;
  bool bFileIndex;
};

class TOwner {
 public:
  CFrameStream::TDeliver Deliver() {
    return [this](const TMediaFrameNotice& notice) {
      // Every byte of frame n is n & 0xff; DIB rows keep their padding 0.
      bool bWhole = notice.pRgbData && notice.pHeader && notice.nRgbSize == DibStride(kW, 24) * kH;
      for (int y = 0; bWhole && y < kH; ++y)
        for (int i = 0; i < kW * 3; ++i)
          if (notice.pRgbData[y * DibStride(kW, 24) + i] !=
              static_cast<std::uint8_t>(notice.nFrameNumber & 0xff))
            bWhole = false;
      if (slow.load()) std::this_thread::sleep_for(1ms);
      std::lock_guard lock(m_Lock);
      m_Taken.push_back(
          {notice.nFrameNumber, notice.dTime, notice.bDiscontinuity, bWhole, notice.bFileIndex});
    };
  }
  std::vector<TTaken> Taken() {
    std::lock_guard lock(m_Lock);
    return m_Taken;
  }
  std::atomic<bool> slow{false};

 private:
  std::mutex m_Lock;
  std::vector<TTaken> m_Taken;
};

// The streaming thread: frames first..last stamped by their stream time.
void Stream(CFrameStream& stream, CFrameClock& clock, int first, int last, std::atomic<int>* pWritten) {
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(kW) * 3 * kH);
  for (int n = first; n <= last; ++n) {
    std::memset(rows.data(), n & 0xff, rows.size());
    const TFrameStamp stamp = clock.Stamp(1'000'000'000 + n * kPeriodNs, kPeriodNs);
    if (stream.Write(rows.data(), rows.size(), stamp) && pWritten) pWritten->fetch_add(1);
  }
}

bool WaitTaken(TOwner& owner, std::size_t n, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (owner.Taken().size() < n && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(1ms);
  return owner.Taken().size() >= n;
}

}  // namespace

// While the streaming thread writes and a slow owner takes every frame, a
// controlling thread reads the layout, the header and the frame period and
// sets them again: no frame is lost, each is whole, and its number is its
// index in the file (the first frame's stream time is not 0).
TEST(DShowFramePath, ControllingThreadsTouchLayoutAndPeriodWhileFramesFlow) {
  CFrameStream stream;
  CFrameClock clock;
  TOwner owner;
  owner.slow = true;
  stream.SetLayout(Layout24());
  clock.SetFrameInterval(kPeriodNs / 100);
  ASSERT_TRUE(stream.Start(PF_RGB24, true, owner.Deliver()));
  constexpr int kFrames = 150;
  std::atomic<bool> done{false};
  std::atomic<int> written{0};
  auto controller = std::async(std::launch::async, [&] {
    std::int64_t sum = 0;
    while (!done.load()) {
      const TFrameLayout layout = stream.Layout();
      sum += LayoutHeader(layout).biSizeImage + clock.FrameInterval() + clock.BaseTime();
      stream.SetLayout(layout);
      clock.SetFrameInterval(kPeriodNs / 100);
      std::this_thread::yield();
    }
    return sum;
  });
  Stream(stream, clock, 0, kFrames - 1, &written);
  EXPECT_TRUE(WaitTaken(owner, kFrames, 20s)) << "frames still missing after 20 s";
  done = true;
  controller.wait();
  stream.Stop();
  const auto taken = owner.Taken();
  ASSERT_EQ(taken.size(), static_cast<std::size_t>(kFrames));
  for (int n = 0; n < kFrames; ++n) {
    EXPECT_EQ(taken[n].nIndex, n);
    EXPECT_NEAR(taken[n].dTime, n * 0.04, 1e-9);
    EXPECT_TRUE(taken[n].bWhole) << "frame " << n;
    EXPECT_TRUE(taken[n].bFileIndex);
    EXPECT_FALSE(taken[n].bDiscontinuity);
  }
  EXPECT_EQ(stream.Dropped(), 0u);
}

// Seeks from a controlling thread while frames flow: each seek flushes and
// restarts the count, and the first frame the owner gets after each seek is
// marked; frames are never torn and never handed on twice.
TEST(DShowFramePath, SeeksFromAnotherThreadMarkTheFirstFrameAfterEach) {
  CFrameStream stream;
  CFrameClock clock;
  TOwner owner;
  stream.SetLayout(Layout24());
  clock.SetFrameInterval(kPeriodNs / 100);
  ASSERT_TRUE(stream.Start(PF_RGB24, true, owner.Deliver()));
  std::atomic<bool> streaming{true};
  // The streaming thread writes until told to stop, so every seek meets
  // frames flowing, however the threads are scheduled on a busy machine.
  auto writer = std::async(std::launch::async, [&] {
    for (int round = 0; streaming.load(); ++round) Stream(stream, clock, round * 10, round * 10 + 9, nullptr);
  });
  if (!WaitTaken(owner, 1, 5s)) {
    streaming = false;
    writer.wait();
    FAIL() << "no frame came";
  }
  int seeks = 0;
  for (; seeks < 20; ++seeks) {
    const std::size_t before = owner.Taken().size();
    stream.BeginFlush();
    clock.Restart(0);
    std::this_thread::sleep_for(200us);
    stream.EndFlush();
    // Frames flow again after the seek.
    if (!WaitTaken(owner, before + 1, 5s)) break;
  }
  streaming = false;
  writer.wait();
  std::this_thread::sleep_for(50ms);
  stream.Stop();
  EXPECT_EQ(seeks, 20) << "frames stopped after a seek";
  const auto taken = owner.Taken();
  ASSERT_FALSE(taken.empty());
  int marked = 0;
  for (std::size_t i = 0; i < taken.size(); ++i) {
    EXPECT_TRUE(taken[i].bWhole) << i;
    if (taken[i].bDiscontinuity) {
      ++marked;
    } else if (i > 0) {
      // Between two seeks the frames follow one another.
      EXPECT_GT(taken[i].nIndex, taken[i - 1].nIndex) << i;
    }
  }
  EXPECT_GE(marked, 1);
  EXPECT_LE(marked, seeks);
}

// A frame of another layout than the stream started with is not handed on;
// a stop frees a writer that waits for room at once.
TEST(DShowFramePath, OtherLayoutIsRefusedAndStopFreesAWaitingWriter) {
  CFrameStream stream;
  CFrameClock clock;
  TOwner owner;
  stream.SetLayout(Layout24());
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> calls{0};
  ASSERT_TRUE(stream.Start(PF_RGB24, true, [&](const TMediaFrameNotice&) {
    calls.fetch_add(1);
    released.wait_for(20s);  // an owner that holds its frame
  }));
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(kW) * 3 * kH, 1);
  TFrameLayout wider = Layout24();
  wider.nWidth += 1;
  stream.SetLayout(wider);
  EXPECT_FALSE(stream.Write(rows.data(), rows.size() + kH * 3, TFrameStamp{}));
  stream.SetLayout(Layout24());
  // One frame held by the owner, three queued: the fifth write waits.
  std::atomic<int> written{0};
  auto writer = std::async(std::launch::async, [&] { Stream(stream, clock, 0, 5, &written); });
  EXPECT_NE(writer.wait_for(300ms), std::future_status::ready) << "the writer did not wait for the owner";
  EXPECT_EQ(written.load(), 4);
  const auto start = std::chrono::steady_clock::now();
  release.set_value();  // the owner's calls return from now on
  std::thread stopper([&] { stream.Stop(); });
  EXPECT_EQ(writer.wait_for(5s), std::future_status::ready) << "the stop did not free the writer";
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_FALSE(stream.Running());
}

// A leased frame reaches the owner in its maker's memory, rows top-down at
// the layout's source stride, and goes back to its maker once the owner's
// call has returned; one that does not hold every row, or comes after the
// layout changed, is refused and goes back at once. Copied frames stay
// bottom-up DIB rows beside it.
TEST(DShowFramePath, LeasedFrameReachesTheOwnerTopDownInItsOwnMemory) {
  CFrameStream stream;
  TFrameLayout layout = Layout24();
  layout.nSourceStride = kW * 3 + 5;  // rows the graph padded its own way
  stream.SetLayout(layout);
  struct TSeen {
    const std::uint8_t* pData;
    std::int32_t nStride;
    std::int32_t nSize;
    bool bRecord;
    int releasesDuringCall;
  };
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(layout.nSourceStride) * kH, 3);
  std::atomic<int> releases{0};
  std::mutex lock;
  std::vector<TSeen> seen;
  ASSERT_TRUE(stream.Start(PF_RGB24, true, [&](const TMediaFrameNotice& notice) {
    std::lock_guard guard(lock);
    seen.push_back({notice.pRgbData, notice.nTopDownStride, notice.nRgbSize, notice.pFrameRecord != nullptr,
                    releases.load()});
  }));
  const auto lease = [&](std::size_t bytes) {
    TFrameLease l;
    l.pData = rows.data();
    l.nBytes = bytes;
    l.pRelease = [](void* p) { static_cast<std::atomic<int>*>(p)->fetch_add(1); };
    l.pHandle = &releases;
    return l;
  };
  // Short by one byte of the last row: refused, released at once.
  EXPECT_FALSE(stream.WriteLease(lease(rows.size() - 5 - 1), TFrameStamp{}));
  EXPECT_EQ(releases.load(), 1);
  ASSERT_TRUE(stream.WriteLease(lease(rows.size() - 5), TFrameStamp{0.04, 1}));
  ASSERT_TRUE(stream.Write(rows.data(), rows.size(), TFrameStamp{0.08, 2}));
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (releases.load() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(releases.load(), 2);
  TFrameLayout other = layout;
  other.nHeight -= 1;
  stream.SetLayout(other);
  EXPECT_FALSE(stream.WriteLease(lease(rows.size()), TFrameStamp{}));
  EXPECT_EQ(releases.load(), 3);
  stream.Stop();
  std::lock_guard guard(lock);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].pData, rows.data());
  EXPECT_EQ(seen[0].nStride, layout.nSourceStride);
  EXPECT_EQ(seen[0].nSize, static_cast<std::int32_t>(rows.size() - 5));
  EXPECT_FALSE(seen[0].bRecord);
  EXPECT_EQ(seen[0].releasesDuringCall, 1);  // only the refused one
  EXPECT_NE(seen[1].pData, rows.data());
  EXPECT_EQ(seen[1].nStride, 0);
  EXPECT_EQ(seen[1].nSize, DibStride(kW, 24) * kH);
  EXPECT_TRUE(seen[1].bRecord);
}

// The clock: stream times become times from the first frame and indices
// by the period; without a time the frames are counted on from the last
// restart; without a period the first frame's duration stands in.
TEST(DShowFramePath, ClockTurnsStreamTimesIntoFileIndices) {
  CFrameClock clock;
  clock.SetFrameInterval(400'000);
  const TFrameStamp a = clock.Stamp(680'000'000, -1);  // a program stream's first frame
  EXPECT_EQ(a.nIndex, 0);
  EXPECT_DOUBLE_EQ(a.dTime, 0.0);
  const TFrameStamp b = clock.Stamp(680'000'000 + 7 * 40'000'000 + 3'000'000, -1);  // a little late
  EXPECT_EQ(b.nIndex, 7);
  EXPECT_NEAR(b.dTime, 0.283, 1e-9);
  EXPECT_EQ(clock.Stamp(-1, -1).nIndex, 8);  // no time: the next one
  clock.Restart(30);
  EXPECT_EQ(clock.Stamp(-1, -1).nIndex, 30);
  EXPECT_EQ(clock.Stamp(-1, -1).nIndex, 31);

  CFrameClock noRate;
  EXPECT_EQ(noRate.Stamp(2'000'000'000, 33'366'667).nIndex, 0);
  EXPECT_EQ(noRate.FrameInterval(), 333'666);
  EXPECT_EQ(noRate.Stamp(std::int64_t{2'000'000'000} + 10 * 33'366'667, 33'366'667).nIndex, 10);
  CFrameClock nothing;
  EXPECT_EQ(nothing.Stamp(5'000'000, -1).nIndex, 0);
  EXPECT_EQ(nothing.Stamp(9'000'000, -1).nIndex, 1);
}

// The gate that holds the streaming thread while a session is paused: a
// closed gate holds a frame until Play (open), a seek (flush) or the end
// (release, or the owner's stop); each of these frees it promptly, and a
// frame freed by the end is not handed on.
TEST(DShowFramePath, PauseGateHoldsTheStreamUntilPlaySeekOrEnd) {
  enum Release { OPEN, FLUSH, RELEASE, OWNER_STOP };
  for (Release release : {OPEN, FLUSH, RELEASE, OWNER_STOP}) {
    SCOPED_TRACE(release);
    CStreamGate gate;
    std::atomic<bool> ownerStopped{false};
    EXPECT_TRUE(gate.Pass([&] { return ownerStopped.load(); }));  // open: at once
    gate.Close();
    auto frame =
        std::async(std::launch::async, [&] { return gate.Pass([&] { return ownerStopped.load(); }); });
    EXPECT_NE(frame.wait_for(300ms), std::future_status::ready) << "a closed gate let a frame through";
    EXPECT_TRUE(gate.IsWaiting());
    if (release == OPEN) gate.Open();
    if (release == FLUSH) gate.BeginFlush();
    if (release == RELEASE) gate.Release();
    if (release == OWNER_STOP) ownerStopped = true;
    ASSERT_EQ(frame.wait_for(5s), std::future_status::ready)
        << "the frame still waits 5 s after it was freed";
    EXPECT_EQ(frame.get(), release == OPEN || release == FLUSH);
    if (release == FLUSH) {
      // Still closed after the seek: the next frame waits again.
      gate.EndFlush();
      auto next = std::async(std::launch::async, [&] { return gate.Pass(nullptr); });
      EXPECT_NE(next.wait_for(200ms), std::future_status::ready);
      gate.Release();
      EXPECT_EQ(next.wait_for(5s), std::future_status::ready);
    }
  }
}
