// Media files played by the engine: each container opened into a channel
// through the channel reader's media-graph session, beside a raw YUV channel;
// what the ports show against an independent decode of the same file; replay
// of the cached frames both ways; stop from every state.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "document/engine/zarn.h"
#include "io/dshow/media_session.h"
#include "io/read_stream.h"
#include "media/file_types.h"
#include "tests/dshow/dshow_fixtures.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/media/counter_fixtures.h"

namespace {

using namespace ZarnTypes;
using engine_test::EngineTest;
using engine_test::WaitFor;

// Largest difference of one colour byte between a port's 32-bit picture and a
// decoded top-down BGR frame; 255 when the sizes differ.
int PictureDifference(const Dib::TDibSection& picture, const dshow_test::TDecodedFrame& frame) {
  if (picture.Width() != frame.nWidth || picture.Height() != frame.nHeight || picture.BitCount() != 32)
    return 255;
  int worst = 0;
  for (int y = 0; y < frame.nHeight; y += 3) {
    const std::uint8_t* port = picture.RowFromTop(y);
    const std::uint8_t* decoded = frame.bgr.data() + static_cast<std::size_t>(y) * frame.nStride;
    for (int x = 0; x < frame.nWidth; x += 3)
      for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(port[4 * x + c] - decoded[3 * x + c]));
  }
  return worst;
}

// The document's channel reader with its real media-graph session. The
// owner callback is passed through a recorder that keeps the stream time of
// every frame the engine takes, in the order the engine numbers them.
class TRecordingReader final : public Zarn::IChannelReader {
 public:
  explicit TRecordingReader(int channel) : m_Reader(channel), m_Channel(&m_Reader) {}

  bool SetSource(int channel, const TMediaSource& source) override {
    return m_Channel.SetSource(channel, source);
  }
  void SetDelivery(const ReadStream::TReaderDelivery& delivery) override {
    m_Engine = delivery;
    ReadStream::TReaderDelivery through = delivery;
    through.pContext = this;
    through.pOwnerCallback = &TRecordingReader::OwnerCallback;
    m_Channel.SetDelivery(through);
  }
  bool Run() override {
    m_nRuns.fetch_add(1);
    const bool ran = m_Channel.Run();
    m_nRunsEnded.fetch_add(1);
    return ran;
  }
  void Pause() override { m_Channel.Pause(); }
  void Resume() override { m_Channel.Resume(); }
  void Stop() override { m_Channel.Stop(); }
  std::int32_t GetFirstFrame() const override { return m_Channel.GetFirstFrame(); }
  std::int32_t GetFrameLimit() const override { return m_Channel.GetFrameLimit(); }

  ReadStream::CReadStream& Reader() { return m_Reader; }
  // Stream time of the engine's frame k (-1 when it never came).
  double TimeOf(int k) const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return k >= 0 && k < static_cast<int>(m_Times.size()) ? m_Times[static_cast<std::size_t>(k)] : -1.0;
  }
  std::vector<double> Times() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Times;
  }

  std::atomic<int> m_nRuns{0};
  std::atomic<int> m_nRunsEnded{0};

 private:
  static bool OwnerCallback(void* context, TMediaNotify code, const TMediaSender* sender, void* data) {
    auto* self = static_cast<TRecordingReader*>(context);
    if (code == MEDIA_NOTIFY_FRAME && data) {
      const auto* notice = static_cast<const TMediaFrameNotice*>(data);
      std::lock_guard<std::mutex> lock(self->m_Mutex);
      if (notice->pHeader) self->m_Times.push_back(notice->dTime);
    }
    return self->m_Engine.pOwnerCallback(self->m_Engine.pContext, code, sender, data);
  }

  ReadStream::CReadStream m_Reader;
  Zarn::CReadStreamChannel m_Channel;
  ReadStream::TReaderDelivery m_Engine;
  mutable std::mutex m_Mutex;
  std::vector<double> m_Times;
};

// A shown or replayed picture of the media channel, kept whole.
struct TKept {
  int frameNumber;
  VideoPort::TPicture picture;
};

class TMediaOwner : public engine_test::TTestOwner {
 public:
  int mediaChannel = 1;
  void FrameShown(int channel, std::int32_t frameNumber) override {
    engine_test::TTestOwner::FrameShown(channel, frameNumber);
    if (channel == mediaChannel) Keep(m_Shown, frameNumber);
  }
  void FrameReplayed(int channel, std::int32_t frameNumber) override {
    engine_test::TTestOwner::FrameReplayed(channel, frameNumber);
    if (channel == mediaChannel) Keep(m_Replayed, frameNumber);
  }
  std::vector<TKept> ShownMedia() const {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Shown;
  }
  std::vector<TKept> ReplayedMedia() const {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Replayed;
  }

 private:
  void Keep(std::vector<TKept>& list, std::int32_t frameNumber) {
    // The pacing thread reports right after it swapped the picture in; the
    // front picture is a reference no writer draws into again.
    VideoPort::TPicture picture = m_Ports.Port(mediaChannel).FrontBitmap();
    std::lock_guard<std::mutex> lock(m_Lock);
    list.push_back({frameNumber, picture});
  }
  mutable std::mutex m_Lock;
  std::vector<TKept> m_Shown;
  std::vector<TKept> m_Replayed;
};

struct TContainer {
  const char* file;
  std::int32_t format;
  int width;
  int height;
  int tolerance;  // per colour byte, against the independent decode
};

// An MPEG-1 file opens by its extension as an MPEG program stream (.mpg).
const TContainer kContainers[] = {
    {"mpeg2.mpg", FF_MPEG2, 320, 240, 12}, {"test.mp4", FF_MPEG4, 320, 240, 12},
    {"test.mov", FF_MOV, 320, 240, 12},    {"test.avi", FF_AVI, 320, 240, 12},
    {"test.dv", FF_DV, 720, 576, 12},      {"test.wmv", FF_WMV, 320, 240, 12},
    {"test.asf", FF_ASF, 320, 240, 12},    {"test.flv", FF_FLV, 320, 240, 12},
    {"mpeg1.mpg", FF_MPEG2, 320, 240, 12},
};

// The decoded frames of a fixture, made once per test process.
const std::vector<dshow_test::TDecodedFrame>& Decoded(const std::string& file) {
  static std::mutex lock;
  static std::map<std::string, std::vector<dshow_test::TDecodedFrame>> cache;
  std::lock_guard<std::mutex> guard(lock);
  auto it = cache.find(file);
  if (it == cache.end()) it = cache.emplace(file, dshow_test::DecodeFrames(dshow_test::Fixture(file))).first;
  return it->second;
}

class EngineMediaTest : public EngineTest {
 protected:
  EngineMediaTest() {
    DShowMgr::UseMediaGraph();  // the channel readers' sessions run on GStreamer
    engine.SetOwner(&media, &media.m_Ports);
    media.m_Config = owner.m_Config;
  }
  ~EngineMediaTest() override { BoundedShutdown(); }

  // Opens a media fixture into the channel as the loaders leave it: RGB24
  // frames of the video's size.
  TRecordingReader* OpenMedia(int channel, const TContainer& container) {
    const std::filesystem::path path = dshow_test::Fixture(container.file);
    if (path.empty()) return nullptr;
    TMediaSource source;
    source.bOpen = TRUE_;
    source.bLoaded = TRUE_;
    source.eState = SOURCE_STATE_LOADED;
    source.eFileFormat = TFileFormat{container.format};
    source.eStreamType = TStreamType{FileFormatToStreamType(container.format)};
    source.eFramePixelFormat = PF_RGB24;
    source.nWidth = container.width;
    source.nHeight = container.height;
    source.sPath = path.string();
    media.m_Config.source[channel] = source;
    m_Media.push_back(std::make_unique<TRecordingReader>(channel));
    media.m_pReader[channel] = m_Media.back().get();
    media.mediaChannel = channel;
    return m_Media.back().get();
  }
  void OpenYuvBeside(int channel, int frames) {
    OpenYuv(channel, frames);
    media.m_Config.source[channel] = owner.m_Config.source[channel];
    media.m_pReader[channel] = owner.m_pReader[channel];
  }
  bool WaitForSessionEnd(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    return WaitFor([&] { return !engine.IsRunning(); }, limit);
  }
  // Each kept picture against the decoded frame at its stream time.
  void ExpectPicturesMatch(const std::vector<TKept>& kept, const TRecordingReader& reader,
                           const std::string& file, int tolerance) {
    const auto& decoded = Decoded(file);
    ASSERT_FALSE(decoded.empty());
    for (const TKept& k : kept) {
      const double time = reader.TimeOf(k.frameNumber);
      ASSERT_GE(time, 0.0) << "frame " << k.frameNumber;
      ASSERT_TRUE(k.picture);
      const auto& expected = decoded[dshow_test::NearestFrame(decoded, time)];
      EXPECT_LE(PictureDifference(*k.picture, expected), tolerance)
          << file << " frame " << k.frameNumber << " at " << time << " s";
    }
  }

  TMediaOwner media;
  std::vector<std::unique_ptr<TRecordingReader>> m_Media;
};

class EngineMediaContainerTest : public EngineMediaTest, public ::testing::WithParamInterface<TContainer> {};

TEST_P(EngineMediaContainerTest, PlaysBesideARawYuvChannel) {
  const TContainer& container = GetParam();
  TRecordingReader* reader = OpenMedia(1, container);
  if (!reader) GTEST_SKIP() << "cannot make " << container.file << " on this machine";
  OpenYuvBeside(0, 20);
  PlayChannels({0, 1});
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();

  // The raw YUV channel played every frame in order.
  std::vector<int> expected(20);
  for (int k = 0; k < 20; ++k) expected[static_cast<std::size_t>(k)] = k;
  EXPECT_EQ(media.ShownFrames(0), expected);
  EXPECT_EQ(engine_test::DecodePort(media.m_Ports, 0), 19);

  // The container: frames in the engine's order, stream times rising from
  // the first frame at 0, each shown picture the decoded frame of its time.
  const std::vector<double> times = reader->Times();
  ASSERT_GE(times.size(), static_cast<std::size_t>(dshow_test::kFrames / 2));
  EXPECT_NEAR(times.front(), 0.0, 0.001);
  EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
  // The channel ends on the file's last frame.
  EXPECT_NEAR(times.back(), (dshow_test::kFrames - 1) / 25.0, 0.05);
  const std::vector<TKept> shown = media.ShownMedia();
  ASSERT_EQ(shown.size(), times.size());
  for (std::size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i].frameNumber, static_cast<int>(i));
  ExpectPicturesMatch(shown, *reader, container.file, container.tolerance);
  EXPECT_EQ(reader->m_nRunsEnded.load(), 1);
  EXPECT_FALSE(engine.m_Channel[1].bChannelStreaming.load());
}

INSTANTIATE_TEST_SUITE_P(Containers, EngineMediaContainerTest, ::testing::ValuesIn(kContainers),
                         [](const ::testing::TestParamInfo<TContainer>& info) {
                           std::string name = info.param.file;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

// Sources without pictures: a sound-only file plays to its end and a
// damaged file fails at once; either way the raw YUV channel beside it plays
// every frame and the session ends by itself.
TEST_F(EngineMediaTest, SourcesWithoutPicturesEndTheirChannelAndTheSession) {
  for (const TContainer& container :
       {TContainer{"test.mp3", FF_MP3, 1, 1, 0}, TContainer{"test.wma", FF_WMA, 1, 1, 0},
        TContainer{"test.wav", FF_WAV, 1, 1, 0}, TContainer{"damaged.avi", FF_AVI, 320, 240, 0}}) {
    SCOPED_TRACE(container.file);
    TRecordingReader* reader = OpenMedia(1, container);
    if (!reader) GTEST_SKIP() << "cannot make " << container.file;
    OpenYuvBeside(0, 10);
    media.ClearShown();
    PlayChannels({0, 1});
    ASSERT_TRUE(engine.StartPlaying());
    ASSERT_TRUE(WaitForSessionEnd());
    engine.Shutdown();
    EXPECT_EQ(media.ShownFrames(0).size(), 10u);
    EXPECT_TRUE(media.ShownFrames(1).empty());
    EXPECT_TRUE(reader->Times().empty());
    EXPECT_EQ(reader->m_nRunsEnded.load(), 1);
    EXPECT_EQ(engine.m_nJobCount.load(), 0);
  }
}

TEST_F(EngineMediaTest, CachedFramesOfAContainerReplayBothWays) {
  const TContainer& container = kContainers[1];  // MP4
  TRecordingReader* reader = OpenMedia(0, container);
  if (!reader) GTEST_SKIP() << "cannot make " << container.file;
  // Twenty frames are stored; the session then holds the producer at its
  // limit, so the cache stays as it is while it is replayed.
  reader->Reader().SetFrameRange(0, 20);
  PlayChannels({0});
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitFor([&] { return media.ShownMedia().size() == 20; }, std::chrono::seconds(20)));
  engine.PausePlaying();

  auto replay = [&](std::atomic<bool>& flag) {
    flag.store(true);
    EXPECT_TRUE(WaitFor([&] { return engine.ReplayRequestsDone(); }));
    return engine.m_Channel[0].nShownFrame.load();
  };
  EXPECT_EQ(replay(engine.m_bGoFirst), 0);
  EXPECT_EQ(replay(engine.m_bStepNext), 1);
  EXPECT_EQ(replay(engine.m_bStepNext), 2);
  EXPECT_EQ(replay(engine.m_bStepPrevious), 1);
  EXPECT_EQ(replay(engine.m_bGoLast), 19);
  EXPECT_EQ(replay(engine.m_bStepPrevious), 18);
  // Continuous replay backwards, then forwards.
  engine.SetReplayBack(true);
  ASSERT_TRUE(WaitFor([&] { return engine.m_Channel[0].nShownFrame.load() <= 10; }));
  engine.SetReplayBack(false);
  const int reached = engine.m_Channel[0].nShownFrame.load();
  engine.SetReplayForth(true);
  ASSERT_TRUE(WaitFor([&] { return engine.m_Channel[0].nShownFrame.load() >= reached + 3; }));
  engine.SetReplayForth(false);

  engine.StopPlaying();
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();

  // Every replayed picture is the decoded frame of its frame's time.
  const std::vector<TKept> replayed = media.ReplayedMedia();
  ASSERT_GE(replayed.size(), 10u);
  ExpectPicturesMatch(replayed, *reader, container.file, container.tolerance);
  // The replayed frame numbers went both ways.
  bool down = false, up = false;
  for (std::size_t i = 1; i < replayed.size(); ++i) {
    down |= replayed[i].frameNumber < replayed[i - 1].frameNumber;
    up |= replayed[i].frameNumber > replayed[i - 1].frameNumber;
  }
  EXPECT_TRUE(down);
  EXPECT_TRUE(up);
  EXPECT_EQ(reader->m_nRunsEnded.load(), 1);
}

// Two media sessions and a raw YUV file in one session: every channel shows
// each of its frames once, in order, and ends on its last one.
TEST_F(EngineMediaTest, TwoContainersAndARawYuvChannelPlayTogether) {
  TRecordingReader* mp4 = OpenMedia(1, kContainers[1]);
  TRecordingReader* avi = OpenMedia(2, kContainers[3]);
  if (!mp4 || !avi) GTEST_SKIP() << "cannot make the fixtures";
  OpenYuvBeside(0, 30);
  PlayChannels({0, 1, 2});
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
  std::vector<int> expected(30);
  for (int k = 0; k < 30; ++k) expected[static_cast<std::size_t>(k)] = k;
  EXPECT_EQ(media.ShownFrames(0), expected);
  const std::pair<int, TRecordingReader*> channels[] = {{1, mp4}, {2, avi}};
  for (const auto& [channel, reader] : channels) {
    SCOPED_TRACE(channel);
    const std::vector<double> times = reader->Times();
    ASSERT_GE(times.size(), static_cast<std::size_t>(dshow_test::kFrames / 2));
    std::vector<int> numbers(times.size());
    for (std::size_t k = 0; k < numbers.size(); ++k) numbers[k] = static_cast<int>(k);
    EXPECT_EQ(media.ShownFrames(channel), numbers);
    const auto& decoded = Decoded(channel == 1 ? kContainers[1].file : kContainers[3].file);
    ASSERT_FALSE(decoded.empty());
    VideoPort::TPicture last = media.m_Ports.Port(channel).FrontBitmap();
    ASSERT_TRUE(last);
    EXPECT_LE(PictureDifference(*last, decoded[dshow_test::NearestFrame(decoded, times.back())]), 12);
  }
}

// Pause reaches the media session (no frame comes while paused) and the
// resume plays it on from where it was to its end.
TEST_F(EngineMediaTest, PauseHoldsTheMediaSessionAndResumePlaysItOn) {
  const TContainer& container = kContainers[1];  // MP4
  TRecordingReader* reader = OpenMedia(0, container);
  if (!reader) GTEST_SKIP() << "cannot make " << container.file;
  PlayChannels({0});
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitFor([&] { return media.ShownMedia().size() >= 5; }, std::chrono::seconds(20)));
  engine.PausePlaying();
  // Frames already on their way may still come; then nothing does.
  std::size_t received = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        const std::size_t before = reader->Times().size();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        received = reader->Times().size();
        return received == before;
      },
      std::chrono::seconds(5)));
  ASSERT_LT(received, static_cast<std::size_t>(dshow_test::kFrames));

  ASSERT_TRUE(engine.StartPlaying());  // resume
  ASSERT_TRUE(WaitForSessionEnd());
  engine.Shutdown();
  const std::vector<double> times = reader->Times();
  EXPECT_GT(times.size(), received);
  EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
  // Played on, not started again: the last frame is the file's last.
  EXPECT_NEAR(times.back(), (dshow_test::kFrames - 1) / 25.0, 0.05);
  EXPECT_EQ(media.ShownMedia().size(), times.size());
  ExpectPicturesMatch(media.ShownMedia(), *reader, container.file, container.tolerance);
  EXPECT_EQ(reader->m_nRuns.load(), 1);
}

// Stop from each state ends the session, the media-graph session included,
// within a bound.
enum TStopState { STOP_AT_ONCE, STOP_PLAYING, STOP_PAUSED, STOP_AT_LIMIT, STOP_WAITING_FOR_ROOM };

class EngineMediaStopTest : public EngineMediaTest, public ::testing::WithParamInterface<TStopState> {};

TEST_P(EngineMediaStopTest, StopEndsTheSessionWithinABound) {
  const TContainer& container = kContainers[3];  // AVI
  TRecordingReader* reader = OpenMedia(0, container);
  if (!reader) GTEST_SKIP() << "cannot make " << container.file;
  OpenYuvBeside(1, 5);
  PlayChannels({0, 1});
  switch (GetParam()) {
    case STOP_AT_ONCE: break;
    case STOP_PLAYING: break;
    case STOP_PAUSED: break;
    case STOP_AT_LIMIT: reader->Reader().SetFrameRange(0, 3); break;
    case STOP_WAITING_FOR_ROOM:
      media.m_Config.nVideoOutDelay = 60000;  // nothing is taken out of the buffer
      engine.m_Dpb.m_nFrameCapacity = 4;
      break;
  }
  ASSERT_TRUE(engine.StartPlaying());
  switch (GetParam()) {
    case STOP_AT_ONCE: break;  // before, or while, the session starts its threads
    case STOP_PLAYING: ASSERT_TRUE(WaitFor([&] { return media.ShownMedia().size() >= 3; })); break;
    case STOP_PAUSED:
      ASSERT_TRUE(WaitFor([&] { return media.ShownMedia().size() >= 3; }));
      engine.PausePlaying();
      break;
    case STOP_AT_LIMIT: ASSERT_TRUE(WaitFor([&] { return engine.m_Channel[0].gate.Waiters() == 1; })); break;
    case STOP_WAITING_FOR_ROOM:
      ASSERT_TRUE(WaitFor([&] { return engine.m_Dpb.FreeSpaceWaiters(0) == 1; }));
      break;
  }
  const auto stopped = std::chrono::steady_clock::now();
  engine.StopPlaying();
  ASSERT_TRUE(WaitForSessionEnd(std::chrono::seconds(5)));
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(3));
  engine.Shutdown();
  // A stop at once may come before the channel's process started.
  if (GetParam() == STOP_AT_ONCE) {
    EXPECT_LE(reader->m_nRuns.load(), 1);
  } else {
    EXPECT_EQ(reader->m_nRuns.load(), 1);
  }
  EXPECT_EQ(reader->m_nRunsEnded.load(), reader->m_nRuns.load());
  EXPECT_FALSE(engine.IsPaused());
  EXPECT_FALSE(engine.StopRequested());
}

INSTANTIATE_TEST_SUITE_P(States, EngineMediaStopTest,
                         ::testing::Values(STOP_AT_ONCE, STOP_PLAYING, STOP_PAUSED, STOP_AT_LIMIT,
                                           STOP_WAITING_FOR_ROOM));

// Files whose pictures show their own index: every frame shown is the
// frame its number says, a seek while playing shows its target next and
// plays on from it, a seek while paused shows its target at once (and the
// replay window then begins there), and Play goes on after it to the end.
// The document's order is followed: the engine's flush, then the reader's
// seek.
struct TCounterCase {
  tovrin_test_media::TCounterFormat format;
  std::int32_t fileFormat;  // as the loaders open it by its extension
};

const TCounterCase kCounterCases[] = {
    {tovrin_test_media::TCounterFormat::MPEG1_PS, FF_MPEG2},
    {tovrin_test_media::TCounterFormat::MPEG2_PS, FF_MPEG2},
    {tovrin_test_media::TCounterFormat::MP4_H264, FF_MPEG4},
    {tovrin_test_media::TCounterFormat::MOV_H264, FF_MOV},
    {tovrin_test_media::TCounterFormat::AVI_MJPEG, FF_AVI},
    {tovrin_test_media::TCounterFormat::AVI_MPEG4, FF_AVI},
    {tovrin_test_media::TCounterFormat::DV, FF_DV},
    {tovrin_test_media::TCounterFormat::WMV2, FF_WMV},
    {tovrin_test_media::TCounterFormat::ASF, FF_ASF},
    {tovrin_test_media::TCounterFormat::FLV, FF_FLV},
};

// The index a kept picture shows (-1: none readable).
int CounterOf(const TKept& kept) {
  if (!kept.picture || kept.picture->BitCount() != 32) return -1;
  return tovrin_test_media::ReadCounter(kept.picture->bits.data(), kept.picture->Width(),
                                        kept.picture->Height(), 32, 0, true);
}

// The frame whose time is nearest the fraction a / b of the duration.
int NearestCounterFrame(int a, int b, double duration) {
  const double t = duration * a / b;
  return std::min(tovrin_test_media::kCounterFrames - 1,
                  static_cast<int>(std::floor(t * tovrin_test_media::kCounterFrameRate + 0.5)));
}

std::vector<int> NumbersOf(const std::vector<TKept>& kept, std::size_t from = 0) {
  std::vector<int> numbers;
  for (std::size_t i = from; i < kept.size(); ++i) numbers.push_back(kept[i].frameNumber);
  return numbers;
}

std::vector<int> Consecutive(int first, std::size_t count) {
  std::vector<int> v(count);
  for (std::size_t i = 0; i < count; ++i) v[i] = first + static_cast<int>(i);
  return v;
}

class EngineMediaSeekTest : public EngineMediaTest, public ::testing::WithParamInterface<TCounterCase> {
 protected:
  TRecordingReader* OpenCounter(int channel) {
    const tovrin_test_media::TCounterFile file = tovrin_test_media::CounterFile(GetParam().format);
    if (file.path.empty()) return nullptr;
    TMediaSource source;
    source.bOpen = TRUE_;
    source.bLoaded = TRUE_;
    source.eState = SOURCE_STATE_LOADED;
    source.eFileFormat = TFileFormat{GetParam().fileFormat};
    source.eStreamType = TStreamType{FileFormatToStreamType(GetParam().fileFormat)};
    source.eFramePixelFormat = PF_RGB24;
    source.nWidth = file.nWidth;
    source.nHeight = file.nHeight;
    source.sPath = file.path.string();
    media.m_Config.source[channel] = source;
    m_Media.push_back(std::make_unique<TRecordingReader>(channel));
    media.m_pReader[channel] = m_Media.back().get();
    media.mediaChannel = channel;
    return m_Media.back().get();
  }
};

TEST_P(EngineMediaSeekTest, SeeksWhilePlayingAndPausedLandOnTheFrameAskedFor) {
  TRecordingReader* reader = OpenCounter(0);
  if (!reader) GTEST_SKIP() << "cannot make the file on this machine";
  constexpr int kFrames = tovrin_test_media::kCounterFrames;
  PlayChannels({0});
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitFor([&] { return media.ShownMedia().size() >= 5; }, std::chrono::seconds(20)));

  // The targets: the frames nearest 60 % and 20 % of the duration the
  // session reports (3 s: frames 45 and 15).
  DShowMgr::TMediaProgress progress;
  ASSERT_TRUE(reader->Reader().GetPositionAndDuration(&progress));
  const double duration = static_cast<double>(progress.nDuration) / 1e7;
  const int running60 = NearestCounterFrame(60, 100, duration);
  const int paused20 = NearestCounterFrame(20, 100, duration);

  // While playing.
  engine.FlushChannel(0);
  const std::size_t running = media.ShownMedia().size();
  ASSERT_TRUE(reader->Reader().Seek(60, 100));
  ASSERT_TRUE(WaitFor([&] { return media.ShownMedia().size() >= running + 5; }, std::chrono::seconds(20)))
      << "nothing was shown after the seek";
  EXPECT_EQ(NumbersOf(media.ShownMedia(), 0).front(), 0);
  std::vector<int> before = NumbersOf(media.ShownMedia());
  before.resize(running);
  EXPECT_EQ(before, Consecutive(0, running));
  std::vector<int> after = NumbersOf(media.ShownMedia(), running);
  EXPECT_EQ(after, Consecutive(running60, after.size()));

  // While paused: the target is shown at once.
  engine.PausePlaying();
  engine.FlushChannel(0);
  ASSERT_TRUE(reader->Reader().Seek(20, 100));
  // (The shown number is stored just before the owner hears of the
  // picture: wait for both.)
  ASSERT_TRUE(WaitFor(
      [&] {
        const auto shown = media.ShownMedia();
        return engine.m_Channel[0].nShownFrame.load() == paused20 && !shown.empty() &&
               CounterOf(shown.back()) == paused20;
      },
      std::chrono::seconds(10)))
      << "shown " << engine.m_Channel[0].nShownFrame.load() << " for " << paused20;
  const std::size_t paused = media.ShownMedia().size();
  ASSERT_GE(paused, 1u);
  EXPECT_EQ(CounterOf(media.ShownMedia().back()), paused20);
  engine.m_bGoFirst.store(true);
  ASSERT_TRUE(WaitFor([&] { return engine.ReplayRequestsDone(); }));
  EXPECT_EQ(engine.m_Channel[0].nShownFrame.load(), paused20);

  // Play goes on from the target to the end of the file.
  ASSERT_TRUE(engine.StartPlaying());
  ASSERT_TRUE(WaitForSessionEnd(std::chrono::seconds(20)));
  engine.Shutdown();
  after = NumbersOf(media.ShownMedia(), paused);
  EXPECT_EQ(after, Consecutive(paused20 + 1, static_cast<std::size_t>(kFrames - paused20 - 1)));
  for (const TKept& kept : media.ShownMedia()) EXPECT_EQ(CounterOf(kept), kept.frameNumber);
  for (const TKept& kept : media.ReplayedMedia()) EXPECT_EQ(CounterOf(kept), kept.frameNumber);
}

INSTANTIATE_TEST_SUITE_P(Containers, EngineMediaSeekTest, ::testing::ValuesIn(kCounterCases),
                         [](const ::testing::TestParamInfo<TCounterCase>& info) {
                           return tovrin_test_media::CounterFormatName(info.param.format);
                         });

}  // namespace
