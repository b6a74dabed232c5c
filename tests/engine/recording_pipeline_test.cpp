// Recording through the engine: the channels' readers deliver RGB frames,
// the engine hands every stored frame of a recording channel to its
// recorder, each recorder's writer thread takes them out through the engine's
// owner callback and writes them into a fake Windows Media encoder. The
// session's end and its stop run in the draining order: the input ends, the
// writers take what their pipelines hold and finish, the session ends.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "io/codecs/save_stream.h"
#include "platform/message_sink.h"
#include "tests/engine/engine_fixture.h"
#include "tests/engine/recording_fixture.h"
#include "tests/engine/wm_fake_sink.h"

namespace {

using namespace ZarnTypes;
using engine_test::PictureSource;
using engine_test::TPictureReader;
using engine_test::TRecordingOwner;
using engine_test::WaitFor;

constexpr int kWidth = 64;
constexpr int kHeight = 16;

class RecordingPipelineTest : public ::testing::Test {
 protected:
  RecordingPipelineTest() {
    owner.pEngine = &engine;
    owner.folder = dir.string();
    std::filesystem::create_directories(dir);
    for (int ch = 0; ch < 4; ++ch) owner.m_Config.source[ch] = TMediaSource{};
  }
  ~RecordingPipelineTest() override {
    sinks.script.OpenGate();
    engine.StopPlaying();
    if (!WaitFor([&] { return !engine.IsRunning(); })) {
      std::fprintf(stderr, "the recording session hangs after its stop; giving up\n");
      std::abort();
    }
    engine.Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  // Channels that play and record, each from its own reader.
  void Record(int channel, int frames, bool live = false, bool hold = false) {
    readers.push_back(std::make_unique<TPictureReader>(
        kWidth, kHeight, PF_RGB32, frames,
        [channel](int k, std::uint8_t* bytes) { wm_fake::StampFrame(bytes, channel, k); }, hold));
    owner.m_pReader[channel] = readers.back().get();
    owner.m_Config.source[channel] = PictureSource(kWidth, kHeight, PF_RGB32);
    owner.record[channel] = true;
    owner.live[channel] = live;
    engine.m_Channel[channel].bRecordChannel.store(true);
    enable[channel] = true;
  }
  void Start() {
    engine.SetPlayChannels(enable);
    engine.m_bRecording.store(true);
    ASSERT_TRUE(engine.StartPlaying());
  }
  std::vector<int> Written(int channel) const {
    std::vector<int> numbers;
    const auto files = sinks.script.Files();
    const auto it = files.find(owner.File(channel));
    if (it == files.end()) return numbers;
    for (const wm_fake::TStamp& stamp : it->second.frames)
      numbers.push_back(stamp.channel == channel ? stamp.number : -1);
    return numbers;
  }
  static std::vector<int> Range(int count) {
    std::vector<int> numbers(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) numbers[static_cast<std::size_t>(k)] = k;
    return numbers;
  }
  SaveStream::CSaveStream& Recorder(int channel) {
    return *owner.recorders[static_cast<std::size_t>(channel)];
  }

  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("tovrin-recording-" + std::to_string(::getpid()) + "-" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
  platform::TRecordingMessageSink messages;
  platform::TScopedMessageSink scope{&messages};
  wm_fake::TScopedFakeSinks sinks;
  TRecordingOwner owner;
  Zarn::CZarn engine{&owner, &owner.m_Ports};
  std::vector<std::unique_ptr<TPictureReader>> readers;
  bool enable[4] = {};
};

TEST_F(RecordingPipelineTest, FourFastChannelsEachRecordEveryFrameOfTheirOwnInOrder) {
  // Sources far faster than the writers (a pipeline holds 90 frames): the
  // producers wait for room, the session ends by itself once the sources
  // are done and the writers have drained.
  sinks.script.writeDelay = std::chrono::microseconds(200);
  const int counts[4] = {150, 120, 200, 95};
  for (int ch = 0; ch < 4; ++ch) Record(ch, counts[ch]);
  Start();
  ASSERT_TRUE(WaitFor([&] { return !engine.IsRunning(); }, std::chrono::seconds(30)));
  for (int ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE(ch);
    EXPECT_EQ(Written(ch), Range(counts[ch]));
    EXPECT_EQ(Recorder(ch).FramesDropped(), 0);
    EXPECT_TRUE(Recorder(ch).LastJobSucceeded()) << Recorder(ch).LastJobMessage();
    EXPECT_FALSE(Recorder(ch).IsWriterRunning());
    EXPECT_FALSE(Recorder(ch).IsPipelineRunning());
  }
  EXPECT_EQ(engine.m_nJobCount.load(), 0);
  EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(RecordingPipelineTest, TheWritersAreCountedAsJobsWhileTheyRun) {
  // A held writer keeps the session going after its source ended.
  sinks.script.CloseGate();
  Record(1, 40);
  Start();
  ASSERT_TRUE(WaitFor([&] { return readers[0]->m_nDelivered.load() == 40; }));
  ASSERT_TRUE(WaitFor([&] { return engine.m_nJobCount.load() == 1; }));  // the reader's is gone
  EXPECT_TRUE(Recorder(1).IsWriterRunning());
  EXPECT_NE(engine.m_ThreadTable[46].load(), nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(engine.IsRunning());
  sinks.script.OpenGate();
  ASSERT_TRUE(WaitFor([&] { return !engine.IsRunning(); }));
  EXPECT_EQ(engine.m_nJobCount.load(), 0);
  EXPECT_EQ(Written(1), Range(40));
}

TEST_F(RecordingPipelineTest, ALiveChannelDropsWhatItsHeldWriterCannotTakeAndTheEndSaysHowMany) {
  // The same frames from a live channel and from a file channel, both
  // writers held until the sources are through.
  sinks.script.CloseGate();
  Record(0, 300, /*live=*/true);
  Record(2, 300, /*live=*/false);
  Start();
  ASSERT_TRUE(WaitFor([&] { return readers[0]->m_nDelivered.load() == 300; }));
  EXPECT_GT(Recorder(0).FramesDropped(), 0);
  // The file channel is held at the pipeline's size.
  EXPECT_LT(readers[1]->m_nDelivered.load(), 300);
  sinks.script.OpenGate();
  ASSERT_TRUE(WaitFor([&] { return !engine.IsRunning(); }, std::chrono::seconds(30)));
  const std::vector<int> live = Written(0);
  EXPECT_EQ(static_cast<std::int64_t>(live.size()) + Recorder(0).FramesDropped(), 300);
  EXPECT_TRUE(std::is_sorted(live.begin(), live.end(), std::less<>()));
  EXPECT_EQ(Written(2), Range(300));
  EXPECT_EQ(Recorder(2).FramesDropped(), 0);
  const std::vector<std::string> texts = messages.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("channel 0"), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find(std::to_string(Recorder(0).FramesDropped()) + " frames"), std::string::npos)
      << texts[0];
}

TEST_F(RecordingPipelineTest, StopEndsASessionWhoseWriterWaitsForFrames) {
  Record(3, 5, false, /*hold=*/true);
  Start();
  ASSERT_TRUE(WaitFor([&] { return Written(3).size() == 5u; }));
  const auto stopped = std::chrono::steady_clock::now();
  engine.StopPlaying();
  ASSERT_TRUE(WaitFor([&] { return !engine.IsRunning(); }, std::chrono::seconds(5)));
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(3));
  EXPECT_FALSE(Recorder(3).IsWriterRunning());
  EXPECT_EQ(engine.m_nJobCount.load(), 0);
  EXPECT_EQ(Written(3), Range(5));
  EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(RecordingPipelineTest, StopEndsASessionWhoseProducerWaitsForRoomAndReportsTheCutFileOnce) {
  // The encoder takes nothing: the producer fills the pipeline and waits;
  // the stop ends the wait, and the writer's held write (the file cannot be
  // finished whole) ends on its stop.
  sinks.script.CloseGate();
  sinks.script.bStopEndsHeldWrite = true;
  Record(2, 1000);
  Start();
  ASSERT_TRUE(WaitFor([&] { return Recorder(2).FramesQueued() >= 90; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_LT(readers[0]->m_nDelivered.load(), 1000);
  const auto stopped = std::chrono::steady_clock::now();
  engine.StopPlaying();
  ASSERT_TRUE(WaitFor([&] { return !engine.IsRunning(); }, std::chrono::seconds(5)));
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(3));
  EXPECT_FALSE(Recorder(2).IsWriterRunning());
  EXPECT_FALSE(Recorder(2).LastJobSucceeded());
  const std::vector<std::string> texts = messages.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("channel 2"), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find("incomplete"), std::string::npos) << texts[0];
}

}  // namespace
