// Through a real document, per container of the counter files (75 frames,
// each showing its own index): the picture a person sees lands on the frame
// asked for after First, Last, Previous and Next and after seeks stopped,
// paused, paused then played and running, with no frame from before a seek
// shown after it; and the controller's counter (and, where the file tells
// its frame period, its time and position) follow the picture.

#include <QApplication>
#include <QLabel>
#include <QSlider>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "document/command_ids.h"
#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document_fixture.h"
#include "io/dshow/media_session.h"
#include "open_fixture.h"
#include "shell/command_ids.h"
#include "tests/support/media/counter_fixtures.h"
#include "tests/support/message_fixture.h"

using namespace ZarnTypes;
using namespace tovrin_test_media;
using doc_test::RunUntil;
using doc_test::TDocumentWindow;
namespace pq = platform::qt;

namespace {

// Sessions play their sound into a silent sink at the stream's pace.
const bool kAudioSinkSet = [] {
  setenv("TOVRIN_AUDIO_SINK", "fakesink", 1);
  return true;
}();

constexpr double kPeriod = 1.0 / kCounterFrameRate;

bool TellsItsPeriod(TCounterFormat format) {
  // The open of an AVI, WMV or ASF file keeps its frame period and duration.
  return format == TCounterFormat::AVI_MJPEG || format == TCounterFormat::AVI_MPEG4 ||
         format == TCounterFormat::WMV2 || format == TCounterFormat::ASF;
}

// The index drawn into a port's picture (-1: none readable).
int CounterOf(const VideoPort::TPicture& picture) {
  if (!picture || picture->BitCount() != 32) return -1;
  const int w = picture->Width(), h = picture->Height();
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y)
    std::memcpy(rows.data() + static_cast<std::size_t>(y) * w * 4, picture->RowFromTop(y),
                static_cast<std::size_t>(w) * 4);
  return ReadCounter(rows.data(), w, h, 32, w * 4, false);
}

// Records every picture a port shows, in order: the port tells it of each
// picture swapped in (a picture may be on screen for only 20 ms while the
// engine catches up, too short for a watcher that looks now and then on a
// busy machine).
class TPortWatcher {
 public:
  explicit TPortWatcher(VideoPort::CVideoPort& port) : m_Port(port) {
    // Told of the picture on screen first, then of each one swapped in.
    m_Port.SetSwapObserver([this](const VideoPort::TPicture& front) { Add(CounterOf(front)); });
  }
  ~TPortWatcher() { Stop(); }
  void Stop() { m_Port.SetSwapObserver(nullptr); }
  std::vector<int> Seen() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Seen;
  }

 private:
  void Add(int counter) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Seen.empty() || m_Seen.back() != counter) m_Seen.push_back(counter);
  }

  VideoPort::CVideoPort& m_Port;
  std::mutex m_Mutex;
  std::vector<int> m_Seen;
};

class FrameExactTest : public tovrin_test::TRecordedMessagesTest,
                       public ::testing::WithParamInterface<TCounterFormat> {
 protected:
  FrameExactTest() {
    DShowMgr::UseMediaGraph();
    doc.ch_nDecoderVideoOutDelay = 0;
    // A picture every 20 ms: the running seek below must come while the
    // reader still streams, which a busy machine's lag must not outrun.
    doc.ch_nDecoderVideoOutPeriod = 20;
    doc.m_bVideoInfo[0] = 0;  // the counter follows the picture without "frame index and time info"
  }
  ~FrameExactTest() override {
    if (doc.m_Engine.IsRunning()) {
      doc.m_Engine.StopPlaying();
      RunUntil([this] { return !doc.m_Engine.IsRunning(); });
    }
  }

  // The index drawn into the picture channel 0 shows (-1: none readable).
  // The counter of the picture on screen. Read again when a swap came in
  // between: the old front picture is then the engine's back picture, which
  // it may already be drawing the next frame into.
  int Shown() {
    VideoPort::CVideoPort& port = doc.m_VideoPortHub.Port(0);
    for (;;) {
      std::uint64_t before = 0, after = 0;
      const VideoPort::TPicture front = port.FrontBitmap(before);
      const int counter = CounterOf(front);
      port.FrontBitmap(after);
      if (after == before) return counter;
    }
  }
  std::string Readout() { return pane.FrameReadout(0)->text().toStdString(); }
  // Waits until the picture shows `frame` and the counter says so.
  bool Shows(int frame) {
    return RunUntil([&] { return Shown() == frame && Readout() == std::to_string(frame) + " "; }, 1000);
  }
  void Run(UINT id) { EXPECT_TRUE(doc.OnCmdMsg(id, pq::TCmdCode::Command, nullptr)) << id; }
  // A replay command while paused, carried out.
  void Replay(UINT id) {
    Run(id);
    ASSERT_TRUE(RunUntil([this] { return doc.m_Engine.ReplayRequestsDone(); }));
  }
  // Every picture shown from now until `until` holds for the pictures seen
  // so far (or 10 s passed), each change once. `until` is first called
  // before anything was seen, with an empty list.
  std::vector<int> Watch(const std::function<bool(const std::vector<int>&)>& until) {
    TPortWatcher watcher(doc.m_VideoPortHub.Port(0));
    // The picture on screen first, so that a change right after the first
    // call is never taken for the first picture.
    EXPECT_TRUE(RunUntil([&] { return !watcher.Seen().empty(); }));
    until({});
    RunUntil([&] {
      const std::vector<int> seen = watcher.Seen();
      return !seen.empty() && until(seen);
    });
    watcher.Stop();
    return watcher.Seen();
  }
  // The frame nearest a / b of the file's duration.
  int Nearest(int a, int b) const { return static_cast<int>(std::lround(m_dDuration * a / b / kPeriod)); }
  // The position slider's place for a frame.
  int Slider(int frame) const { return static_cast<int>(std::lround(100.0 * frame * kPeriod / m_dDuration)); }
  void Pause() {
    Run(shell::ID_NAVIGATE_START_PAUSE);
    ASSERT_TRUE(doc.m_Engine.IsPaused()) << "running " << doc.m_Engine.IsRunning() << ", picture " << Shown();
    ASSERT_TRUE(RunUntil([this] { return doc.m_Engine.ReplayRequestsDone(); }));
  }

  open_test::TSettingsApplication app;
  TDocumentWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
  ZarnControllerView::CZarnControllerView& pane = *w.Doc().ControllerView();
  double m_dDuration = kCounterFrames * kPeriod;
};

TEST_P(FrameExactTest, ReplayAndSeeksLandOnTheFrameAskedForAndTheControllerFollows) {
  const TCounterFormat format = GetParam();
  const TCounterFile file = CounterFile(format);
  ASSERT_FALSE(file.path.empty()) << "could not make the " << CounterFormatName(format) << " file";
  const bool graph = format != TCounterFormat::RAW_YUV;
  if (!graph) {
    doc.m_YuvOpen.nFormat = ComposeYuvFileFormat(YUV_STD_BT601, YUV_LAYOUT_420_CENTRED, YUV_RANGE_16_235_240);
    doc.m_YuvOpen.nWidth = file.nWidth;
    doc.m_YuvOpen.nHeight = file.nHeight;
  }

  // Opened: the first frame, counted 0.
  ASSERT_TRUE(doc.OpenSource(file.path.string(), 0));
  ASSERT_TRUE(Shows(0)) << Shown() << " / " << Readout();

  int stopped = -1;
  if (graph) {
    // A stopped seek shows the frame at that share of the duration (checked
    // below, once the duration is known); the next session starts there.
    ASSERT_TRUE(doc.SeekChannel(0, 20, 100));
    stopped = Shown();
    if (TellsItsPeriod(format)) {
      EXPECT_TRUE(Shows(stopped)) << Readout();
    }
  }

  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(doc.m_Engine.IsRunning());
  int target = -1;  // the frame the last seek landed on
  if (graph) {
    // (Early in the session: the reader reads up to the buffer's size ahead
    // of the picture, and a reader that has read to the end has nothing
    // left to seek.)
    ASSERT_TRUE(RunUntil([&] { return Shown() > stopped; }, 1000))
        << Shown() << ", running " << doc.m_Engine.IsRunning() << ", streaming " << doc.ChannelStreaming(0)
        << ", paused " << doc.m_Engine.IsPaused() << ", state "
        << doc.ChannelReader(0).MediaSession().GetState();
    DShowMgr::TMediaProgress progress;
    ASSERT_TRUE(doc.ChannelReader(0).GetPositionAndDuration(&progress));
    m_dDuration = progress.nDuration / 1e7;
    EXPECT_EQ(stopped, Nearest(20, 100));

    // A running seek back: the next picture after the one on screen when
    // the seek returned is its target, then the frames after it in order.
    target = Nearest(4, 100);
    bool sought = false, streamingAtSeek = false;
    int onReturn = -1;
    const std::vector<int> seen = Watch([&](const std::vector<int>& s) {
      if (!sought) {
        streamingAtSeek = doc.ChannelStreaming(0);
        sought = doc.SeekChannel(0, 4, 100);
        onReturn = Shown();
      }
      // Paused as soon as the target and three frames after it were seen:
      // on a busy machine the clip's last 2 s could otherwise end the
      // session before the pause below. (Every picture before the seek was
      // past `stopped`, so the target's number is one from after the seek.)
      const bool enough = std::find(s.begin(), s.end(), target) != s.end() && s.back() >= target + 3;
      if (enough && !doc.m_Engine.IsPaused()) Run(shell::ID_NAVIGATE_START_PAUSE);
      return enough;
    });
    ASSERT_TRUE(sought);
    const auto landed = std::find(seen.begin(), seen.end(), target);
    ASSERT_NE(landed, seen.end()) << ::testing::PrintToString(seen) << ", streaming " << streamingAtSeek;
    // Before the target, only the frames played before the seek, in order;
    // where the seek returned before the target was on screen, the picture
    // of that moment is the last of them.
    for (auto it = seen.begin(); it != landed; ++it) {
      EXPECT_GT(*it, target) << ::testing::PrintToString(seen);
      if (it != seen.begin()) {
        EXPECT_GT(*it, *(it - 1)) << ::testing::PrintToString(seen);
      }
    }
    if (onReturn != target) {
      // The picture read when the seek returned is the last one played before
      // the target, or (the test's thread read it late on a busy machine,
      // with a picture every 20 ms) one of the target's followers; never an
      // older one.
      const auto atReturn = std::find(seen.begin(), seen.end(), onReturn);
      ASSERT_NE(atReturn, seen.end()) << onReturn << " in " << ::testing::PrintToString(seen);
      if (atReturn < landed) {
        EXPECT_EQ(atReturn + 1, landed) << onReturn << " in " << ::testing::PrintToString(seen);
      }
    }
    for (auto it = landed + 1; it != seen.end(); ++it)
      EXPECT_GT(*it, *(it - 1)) << ::testing::PrintToString(seen);
  } else {
    ASSERT_TRUE(RunUntil([&] { return Shown() >= 8; }, 1000)) << Shown();
  }

  // Paused: the counter is the picture's frame.
  if (graph) {
    ASSERT_TRUE(doc.m_Engine.IsPaused()) << "running " << doc.m_Engine.IsRunning() << ", picture " << Shown();
    ASSERT_TRUE(RunUntil([this] { return doc.m_Engine.ReplayRequestsDone(); }));
  } else {
    Pause();
  }
  const int last = Shown();
  ASSERT_TRUE(Shows(last)) << Readout();

  // Replay: Last is the frame shown last while playing, Previous and Next
  // step by one, First is the oldest frame held (after a seek, none from
  // before its target).
  Replay(shell::ID_REPLAY_PREVIOUS);
  EXPECT_TRUE(Shows(last - 1)) << Shown();
  Replay(shell::ID_REPLAY_NEXT);
  EXPECT_TRUE(Shows(last)) << Shown();
  Replay(shell::ID_REPLAY_FIRST);
  ASSERT_TRUE(RunUntil([&] { return Shown() >= 0 && Shown() < last; })) << Shown();
  const int first = Shown();
  EXPECT_GE(first, std::max(target, 0));
  EXPECT_TRUE(Shows(first));
  Replay(shell::ID_REPLAY_NEXT);
  EXPECT_TRUE(Shows(first + 1)) << Shown();
  Replay(shell::ID_REPLAY_LAST);
  EXPECT_TRUE(Shows(last)) << Shown();

  if (graph) {
    // A seek while paused shows its target at once, and afterwards the
    // replay window holds only frames from the target on.
    target = Nearest(80, 100);
    ASSERT_TRUE(doc.SeekChannel(0, 80, 100));
    ASSERT_TRUE(Shows(target)) << Shown() << " / " << Readout();
    // Every container: a file whose open kept no frame period has one
    // learnt from the frames played by now.
    EXPECT_EQ(pane.PositionSlider(0)->value(), Slider(target));
    EXPECT_EQ(pane.TimeReadout(0)->text().toStdString(), "00:00:02 ");
    Replay(shell::ID_REPLAY_FIRST);
    EXPECT_TRUE(Shows(target)) << Shown();

    // Then Play: the target, then the frames after it in order, none from
    // before the seek.
    const std::vector<int> after = Watch([&](const std::vector<int>& s) {
      if (s.empty()) Run(shell::ID_NAVIGATE_START_PAUSE);
      return !s.empty() && s.back() >= target + 3;
    });
    ASSERT_GE(after.back(), target + 3) << ::testing::PrintToString(after);
    EXPECT_EQ(after.front(), target) << ::testing::PrintToString(after);
    for (std::size_t i = 1; i < after.size(); ++i)
      EXPECT_GT(after[i], after[i - 1]) << ::testing::PrintToString(after);
  } else {
    Run(shell::ID_NAVIGATE_START_PAUSE);
  }

  // To the end: the last frame stays, and so do the counter and the slider.
  ASSERT_TRUE(RunUntil([this] { return !doc.m_Engine.IsRunning(); })) << Shown();
  EXPECT_TRUE(Shows(kCounterFrames - 1)) << Shown() << " / " << Readout();
  if (graph) {
    // The last frame's place and time, for every container.
    EXPECT_EQ(pane.PositionSlider(0)->value(), Slider(kCounterFrames - 1));
    EXPECT_EQ(pane.TimeReadout(0)->text().toStdString(), "00:00:02 ");
  }
  EXPECT_TRUE(sink.Texts().empty()) << ::testing::PrintToString(sink.Texts());
}

INSTANTIATE_TEST_SUITE_P(Containers, FrameExactTest, ::testing::ValuesIn(AllCounterFormats()),
                         [](const auto& info) { return CounterFormatName(info.param); });

}  // namespace
