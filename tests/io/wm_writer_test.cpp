// The Windows Media writer job without an encoder: a fake sink from the
// job's sink factory records what the job writes, and a fake recorder
// answers the job's frame requests with numbered frames.

#include "io/codecs/wm_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <future>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "io/dshow/dshow_util.h"

namespace {

using namespace ZarnTypes;
using namespace WmWriter;
using namespace std::chrono_literals;

constexpr auto kBound = 10s;  // longest wait for a job that must end

// ---------------------------------------------------------------------------
// The fake sink: what it was opened with and what was written.

struct TWrite {
  std::int64_t nTime = 0;
  std::int64_t nDuration = 0;
  int nFrame = -1;  // the number the frame's bytes carry
  std::size_t nSize = 0;
};

struct TSinkScript {
  std::mutex lock;
  int nOpened = 0;
  int nFinished = 0;
  TWmSinkFormat format;
  std::vector<TWrite> writes;
  bool bOpenFails = false;
  int nFailWriteAt = -1;  // the write (0-based) that fails, and every later one
  bool bFinishFails = false;
};
TSinkScript* g_pScript = nullptr;

// The number a fake frame carries: its first four bytes.
int FrameNumberOf(const std::uint8_t* pData) {
  std::int32_t n = 0;
  std::memcpy(&n, pData, sizeof n);
  return n;
}

class CFakeSink final : public IWmSink {
 public:
  bool Open(const TWmSinkFormat& format) override {
    std::lock_guard guard(g_pScript->lock);
    ++g_pScript->nOpened;
    g_pScript->format = format;
    return !g_pScript->bOpenFails;
  }
  bool Write(const std::uint8_t* pData, std::size_t nSize, std::int64_t nTime,
             std::int64_t nDuration) override {
    std::lock_guard guard(g_pScript->lock);
    const int nIndex = m_nWrites++;
    if (g_pScript->nFailWriteAt >= 0 && nIndex >= g_pScript->nFailWriteAt) return false;
    g_pScript->writes.push_back({nTime, nDuration, FrameNumberOf(pData), nSize});
    return true;
  }
  bool Finish() override {
    std::lock_guard guard(g_pScript->lock);
    ++g_pScript->nFinished;
    return !g_pScript->bFinishFails;
  }
  std::string LastError() const override { return "the fake sink failed"; }

 private:
  int m_nWrites = 0;
};

std::unique_ptr<IWmSink> MakeFakeSink() { return std::make_unique<CFakeSink>(); }

// ---------------------------------------------------------------------------
// The fake recorder: frames queued for the job, handed out one per request.

struct TFakeFrame {
  std::vector<std::uint8_t> bytes;
  TPixelFormat eFormat = PF_RGB32;
  std::int32_t nWidth = 0;
  std::int32_t nHeight = 0;
  double dTime = 0.0;
  std::int64_t nNumber = 0;
};

struct TFakeRecorder {
  std::mutex lock;
  std::vector<TFakeFrame> frames;
  std::size_t nNext = 0;
  std::atomic<bool> stop{false};
  // Raise the stop once this many frames were handed out (-1: never); the
  // rest stay queued, as frames still in the pipeline when the input ends.
  long nStopAfter = -1;
  bool bStopWhenEmpty = true;  // raise the stop when the queue runs dry
  bool bEndless = false;       // never runs dry: a frame for every request
  int nRequests = 0;
  const TMediaSender* pLastSender = nullptr;
  TMediaSender sender;
};

bool FakeRecorderCallback(void* pContext, TMediaNotify eCode, const TMediaSender* pSender, void* pData) {
  auto* recorder = static_cast<TFakeRecorder*>(pContext);
  std::lock_guard guard(recorder->lock);
  ++recorder->nRequests;
  if (eCode != MEDIA_NOTIFY_RECORD_FRAME || !pData) return false;
  if (pSender) recorder->sender = *pSender;
  auto* request = static_cast<TWmFrameRequest*>(pData);
  if (recorder->nNext >= recorder->frames.size()) {
    if (!recorder->bEndless) {
      if (recorder->bStopWhenEmpty) recorder->stop.store(true);
      return false;
    }
    recorder->nNext = 0;
  }
  const TFakeFrame& frame = recorder->frames[recorder->nNext++];
  TMediaFrameNotice& notice = *RecordFrameNotice(request);
  notice.ePixelFormat = frame.eFormat;
  notice.nWidth = frame.nWidth;
  notice.nHeight = frame.nHeight;
  notice.pRgbData = frame.bytes.data();
  notice.nRgbSize = static_cast<std::int32_t>(frame.bytes.size());
  notice.dTime = frame.dTime;
  notice.nFrameNumber = frame.nNumber;
  if (recorder->nStopAfter >= 0 && static_cast<long>(recorder->nNext) >= recorder->nStopAfter)
    recorder->stop.store(true);
  return true;
}

std::int32_t Stride(std::int32_t nWidth, TPixelFormat eFormat) {
  const int nBits = eFormat == PF_RGB24 ? 24 : 32;
  return ((nWidth * nBits + 31) / 32) * 4;
}

TFakeFrame MakeFrame(int nNumber, double dTime, std::int32_t nWidth = 6, std::int32_t nHeight = 4,
                     TPixelFormat eFormat = PF_RGB32) {
  TFakeFrame frame;
  frame.eFormat = eFormat;
  frame.nWidth = nWidth;
  frame.nHeight = nHeight;
  frame.dTime = dTime;
  frame.nNumber = nNumber;
  frame.bytes.assign(static_cast<std::size_t>(Stride(nWidth, eFormat)) * nHeight, 0x5a);
  const std::int32_t n = nNumber;
  std::memcpy(frame.bytes.data(), &n, sizeof n);
  return frame;
}

// A job set up as the recorder sets it up, for channel 2.
struct TJob {
  TFakeRecorder recorder;
  TWmJobParams params;
  TWmJobResult result;
  TMediaRequest request;
  std::string outputPath = "/nowhere/channel2.wmv";

  explicit TJob(std::int32_t nWidth = 6, std::int32_t nHeight = 4, TPixelFormat eFormat = PF_RGB32) {
    params.nProcId = 47;
    params.nThreadOrdinal = 1;
    params.eSenderKind = MEDIA_SENDER_RECORDER;
    params.ePurpose = SRC_WRITE_STREAM;
    params.pContext = &recorder;
    params.pStopFlag = &recorder.stop;
    params.pCallback = &FakeRecorderCallback;
    params.nFrameRate = 30;
    params.bHaveSettings = true;
    params.nChannel = 2;
    params.pResult = &result;
    request.eOp = MEDIA_OP_RUN_JOB;
    request.ePurpose = SRC_WRITE_STREAM;
    request.eOutputFormat = FF_WMV;
    request.ePixelFormat = eFormat;
    request.nWidth = nWidth;
    request.nHeight = nHeight;
    request.pOutputPath = &outputPath;
    request.eTag = MEDIA_REQ_WM_JOB;
    request.pParams = &params;
  }
  void AddFrames(int nCount, double dFirstTime = 0.0, double dStep = 1.0 / 30) {
    for (int i = 0; i < nCount; ++i)
      recorder.frames.push_back(MakeFrame(static_cast<int>(recorder.frames.size()), dFirstTime + i * dStep,
                                          request.nWidth, request.nHeight, request.ePixelFormat));
  }
  bool Run() { return ConvertToWindowsMedia(&request); }
};

class WmWriterJob : public ::testing::Test {
 protected:
  void SetUp() override {
    g_pScript = &script;
    SetWmSinkFactory(&MakeFakeSink);
  }
  void TearDown() override {
    SetWmSinkFactory(nullptr);
    g_pScript = nullptr;
  }
  std::vector<int> WrittenNumbers() {
    std::vector<int> numbers;
    for (const TWrite& write : script.writes) numbers.push_back(write.nFrame);
    return numbers;
  }
  std::vector<std::int64_t> WrittenTimes() {
    std::vector<std::int64_t> times;
    for (const TWrite& write : script.writes) times.push_back(write.nTime);
    return times;
  }
  TSinkScript script;
};

std::vector<int> Range(int nFirst, int nLast, int nStep = 1) {
  std::vector<int> numbers;
  for (int i = nFirst; i <= nLast; i += nStep) numbers.push_back(i);
  return numbers;
}

// ---------------------------------------------------------------------------

TEST_F(WmWriterJob, EveryFrameIsWrittenInOrderWithTheSinkOpenedForTheChannel) {
  TJob job(7, 5, PF_RGB24);
  job.AddFrames(40);
  ASSERT_TRUE(job.Run()) << job.result.message;
  EXPECT_TRUE(job.request.bSuccess);
  EXPECT_EQ(job.request.eError, MEDIA_ERR_NONE);

  EXPECT_EQ(WrittenNumbers(), Range(0, 39));
  for (const TWrite& write : script.writes)
    EXPECT_EQ(write.nSize, 24u * 5) << "rows of 7 BGR pixels padded to 24";
  EXPECT_EQ(script.nOpened, 1);
  EXPECT_EQ(script.nFinished, 1);
  EXPECT_EQ(script.format.path, "/nowhere/channel2.wmv");
  EXPECT_EQ(script.format.nWidth, 7);
  EXPECT_EQ(script.format.nHeight, 5);
  EXPECT_EQ(script.format.ePixelFormat, PF_RGB24);
  EXPECT_EQ(script.format.nStride, 24);
  EXPECT_EQ(script.format.nFrameRate, 30);
  EXPECT_EQ(script.format.pStopFlag, &job.recorder.stop) << "the sink's waits must see the stop";

  EXPECT_EQ(job.result.nFramesPulled, 40);
  EXPECT_EQ(job.result.nFramesWritten, 40);
  EXPECT_EQ(job.result.nFramesLost, 0);
  EXPECT_TRUE(job.result.bFileFinished);
  EXPECT_TRUE(job.result.message.empty());

  // The recorder was asked as the channel's recorder.
  EXPECT_EQ(job.recorder.sender.nSenderId, 47);
  EXPECT_EQ(job.recorder.sender.eSenderKind, MEDIA_SENDER_RECORDER);
  EXPECT_EQ(job.recorder.sender.ePurpose, SRC_WRITE_STREAM);
  EXPECT_EQ(job.recorder.sender.pContext, &job.recorder);
}

TEST_F(WmWriterJob, TheBlocksOutputFileGoesBeforeTheRequestsAndAMissingOneFails) {
  TJob job;
  job.params.outputFile = "/elsewhere/named.wmv";
  job.AddFrames(2);
  ASSERT_TRUE(job.Run());
  EXPECT_EQ(script.format.path, "/elsewhere/named.wmv");

  TJob none;
  none.request.pOutputPath = nullptr;
  none.AddFrames(2);
  EXPECT_FALSE(none.Run());
  EXPECT_EQ(none.request.eError, MEDIA_ERR_WM_JOB);
  EXPECT_EQ(script.nOpened, 1) << "no sink for a job without a file";
}

// Each sample carries its own frame's time, relative to the first frame
// written, strictly increasing (the frame before's time, and a mid-file
// start at the file's time, were the faults).
TEST_F(WmWriterJob, EachSampleCarriesItsOwnTimeFromTheFirstFrameStrictlyRising) {
  const double kNaN = std::numeric_limits<double>::quiet_NaN();
  struct TCase {
    const char* name;
    std::vector<double> frameTimes;
    std::vector<std::int64_t> sampleTimes;  // 100-ns units; period 333,333 at 30 frames per second
  };
  const TCase cases[] = {
      {"from zero", {0.0, 0.04, 0.08, 0.5}, {0, 400'000, 800'000, 5'000'000}},
      {"a start in the middle of a file", {12.5, 12.54, 13.0}, {0, 400'000, 5'000'000}},
      {"a frame without a time", {1.0, kNaN, 1.1}, {0, 333'333, 1'000'000}},
      {"times that do not rise", {2.0, 2.0, 1.5, 2.2}, {0, 333'333, 666'666, 2'000'000}},
      {"no frame has a time", {-1.0, -1.0, -1.0}, {0, 333'333, 666'666}},
      {"the first has none", {-1.0, 7.0, 7.1}, {0, 333'333, 1'333'333}},
      {"stills all at zero", {0.0, 0.0, 0.0}, {0, 333'333, 666'666}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    script.writes.clear();
    TJob job;
    for (std::size_t i = 0; i < c.frameTimes.size(); ++i)
      job.recorder.frames.push_back(MakeFrame(static_cast<int>(i), c.frameTimes[i]));
    ASSERT_TRUE(job.Run()) << job.result.message;
    EXPECT_EQ(WrittenTimes(), c.sampleTimes);
    for (const TWrite& write : script.writes) EXPECT_EQ(write.nDuration, 333'333);
  }
}

TEST_F(WmWriterJob, SamplingKeepsExactlyTheFramesOfEachMode) {
  // 30 frames, frame i at i / 10 s with number i.
  struct TCase {
    const char* name;
    TSamplingRecord sampling;
    std::vector<int> kept;
  };
  auto byTime = [](double dStart, double dEnd, double dStep) {
    TSamplingRecord record;
    record.nMode = 2;
    record.dStartTime = dStart;
    record.dEndTime = dEnd;
    record.dStepTime = dStep;
    return record;
  };
  auto byFrame = [](std::int64_t nStart, std::int64_t nEnd, std::int64_t nStep) {
    TSamplingRecord record;
    record.nMode = 3;
    record.nStartFrame = nStart;
    record.nEndFrame = nEnd;
    record.nStepFrame = nStep;
    return record;
  };
  TSamplingRecord other;
  other.nMode = 7;
  other.nStartFrame = 20;
  other.dStartTime = 2.0;
  const TCase cases[] = {
      {"all frames", TSamplingRecord{}, Range(0, 29)},
      {"unknown mode: all frames", other, Range(0, 29)},
      {"time range without step", byTime(1.0, 2.0, 0.0), Range(10, 20)},
      {"time range with step", byTime(1.0, 2.0, 0.5), {10, 15, 20}},
      {"time step without end", byTime(0.0, 0.0, 0.25), Range(0, 27, 3)},
      {"time end before start: no end", byTime(2.5, 1.0, 0.0), Range(25, 29)},
      {"negative times become 0", byTime(-3.0, 0.35, -1.0), Range(0, 3)},
      {"frame range without step", byFrame(5, 12, 1), Range(5, 12)},
      {"frame range with step", byFrame(5, 12, 3), {5, 8, 11}},
      {"frame step without end", byFrame(4, 0, 10), {4, 14, 24}},
      {"frame end before start: no end", byFrame(26, 3, 0), Range(26, 29)},
      {"negative frames become 0", byFrame(-4, 3, -2), Range(0, 3)},
      {"range of one frame", byFrame(0, 0, 0), Range(0, 29)},  // no end: from 0 on
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    script.writes.clear();
    TJob job;
    job.params.settings.sampling = c.sampling;
    for (int i = 0; i < 30; ++i) job.recorder.frames.push_back(MakeFrame(i, i / 10.0));
    ASSERT_TRUE(job.Run()) << job.result.message;
    EXPECT_EQ(WrittenNumbers(), c.kept);
    EXPECT_EQ(job.result.nFramesPulled, 30);
    EXPECT_EQ(job.result.nFramesSkipped, 30 - static_cast<std::int64_t>(c.kept.size()));
  }
}

TEST_F(WmWriterJob, RefusedRequestsFailWithTheirCodeBeforeAnyFileOrFrame) {
  struct TCase {
    const char* name;
    void (*spoil)(TJob&);
  };
  const TCase cases[] = {
      {"no tag", [](TJob& j) { j.request.eTag = MEDIA_REQ_NONE; }},
      {"another block's tag", [](TJob& j) { j.request.eTag = MEDIA_REQ_MNG; }},
      {"no block", [](TJob& j) { j.request.pParams = nullptr; }},
      {"a streaming purpose", [](TJob& j) { j.request.ePurpose = SRC_STREAM; }},
      {"no settings", [](TJob& j) { j.params.bHaveSettings = false; }},
      {"channel -1", [](TJob& j) { j.params.nChannel = -1; }},
      {"channel 4", [](TJob& j) { j.params.nChannel = 4; }},
      {"no stop flag", [](TJob& j) { j.params.pStopFlag = nullptr; }},
      {"no callback", [](TJob& j) { j.params.pCallback = nullptr; }},
      {"frame rate 0", [](TJob& j) { j.params.nFrameRate = 0; }},
      {"no width", [](TJob& j) { j.request.nWidth = 0; }},
      {"negative height", [](TJob& j) { j.request.nHeight = -4; }},
      {"an unknown profile",
       [](TJob& j) {
         j.params.settings.bCustomProfile = false;
         j.params.settings.profileId.fill(0xee);
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TJob job;
    job.AddFrames(3);
    c.spoil(job);
    job.request.bSuccess = true;  // stale
    EXPECT_FALSE(job.Run());
    EXPECT_FALSE(job.request.bSuccess);
    EXPECT_EQ(job.request.eError, MEDIA_ERR_WM_JOB);
    EXPECT_EQ(job.recorder.nRequests, 0);
    if (job.request.eTag == MEDIA_REQ_WM_JOB && job.request.pParams) {
      EXPECT_FALSE(job.result.message.empty());
    }
  }
  EXPECT_EQ(script.nOpened, 0);
}

TEST_F(WmWriterJob, TheProfileListPurposeAnswersTrueWithoutWork) {
  TJob job;
  job.AddFrames(3);
  job.request.ePurpose = SRC_ENUM_WM_PROFILES;
  job.params.bHaveSettings = false;  // not needed for it
  EXPECT_TRUE(job.Run());
  EXPECT_TRUE(job.request.bSuccess);
  EXPECT_EQ(job.recorder.nRequests, 0);
  EXPECT_EQ(script.nOpened, 0);
}

// A channel the encoder cannot take (16-bit, palettes, YCbCr) once opened a
// file and wrote nothing: it is refused, naming the channel, before the sink
// opens and before a frame is asked for.
TEST_F(WmWriterJob, AChannelOtherThan24Or32BitRgbIsRefusedBeforeTheSinkOpens) {
  const TPixelFormat formats[] = {PF_DIB_16,     PF_DIB_8,       PF_PACKED_24, PF_YUY2,        PF_UYVY,
                                  PF_YUV420_601, PF_YCBCR_FIRST, PF_DIB_48,    TPixelFormat{0}};
  for (const TPixelFormat eFormat : formats) {
    SCOPED_TRACE(static_cast<int>(eFormat));
    TJob job;
    job.request.ePixelFormat = eFormat;
    job.AddFrames(3);
    EXPECT_FALSE(job.Run());
    EXPECT_EQ(job.request.eError, MEDIA_ERR_WM_JOB);
    EXPECT_NE(job.result.message.find("channel 2"), std::string::npos) << job.result.message;
    EXPECT_EQ(job.recorder.nRequests, 0);
  }
  EXPECT_EQ(script.nOpened, 0);
}

TEST_F(WmWriterJob, ASinkThatCannotOpenFailsTheJobWithoutAskingForFrames) {
  script.bOpenFails = true;
  TJob job;
  job.AddFrames(3);
  EXPECT_FALSE(job.Run());
  EXPECT_EQ(job.request.eError, MEDIA_ERR_WM_JOB);
  EXPECT_NE(job.result.message.find("the fake sink failed"), std::string::npos) << job.result.message;
  EXPECT_EQ(job.recorder.nRequests, 0);

  // Without an installed encoder the sink fails too.
  SetWmSinkFactory(nullptr);
  TJob plain;
  plain.AddFrames(3);
  EXPECT_FALSE(plain.Run());
  EXPECT_EQ(plain.request.eError, MEDIA_ERR_WM_JOB);
  EXPECT_NE(plain.result.message.find("no Windows Media encoder"), std::string::npos) << plain.result.message;
}

// A failed write once ended the job as a success.
TEST_F(WmWriterJob, AFailedWriteLeavesTheFileIncompleteAndTheJobFailed) {
  script.nFailWriteAt = 12;
  TJob job;
  job.AddFrames(30);
  EXPECT_FALSE(job.Run());
  EXPECT_FALSE(job.request.bSuccess);
  EXPECT_EQ(job.request.eError, MEDIA_ERR_WM_JOB);
  EXPECT_EQ(WrittenNumbers(), Range(0, 11));
  EXPECT_EQ(job.result.nFramesWritten, 12);
  EXPECT_EQ(job.result.nFramesLost, 18);
  EXPECT_EQ(job.result.nFramesPulled, 30) << "later frames are still taken, so the producer never waits";
  EXPECT_NE(job.result.message.find("incomplete"), std::string::npos) << job.result.message;
  EXPECT_NE(job.result.message.find("channel 2"), std::string::npos) << job.result.message;
  EXPECT_EQ(script.nFinished, 1) << "what was written is still closed";
}

TEST_F(WmWriterJob, AFileThatCannotBeFinishedFailsTheJob) {
  script.bFinishFails = true;
  TJob job;
  job.AddFrames(5);
  EXPECT_FALSE(job.Run());
  EXPECT_EQ(job.request.eError, MEDIA_ERR_WM_JOB);
  EXPECT_EQ(job.result.nFramesWritten, 5);
  EXPECT_FALSE(job.result.bFileFinished);
  EXPECT_NE(job.result.message.find("incomplete"), std::string::npos) << job.result.message;
}

TEST_F(WmWriterJob, FramesOfAnotherLayoutAreLeftOutAndCounted) {
  TJob job;
  job.AddFrames(3);
  job.recorder.frames.push_back(MakeFrame(3, 0.1, 8, 4));             // wider
  job.recorder.frames.push_back(MakeFrame(4, 0.13, 6, 4, PF_RGB24));  // another layout
  TFakeFrame shortFrame = MakeFrame(5, 0.16);
  shortFrame.bytes.resize(shortFrame.bytes.size() - 1);  // fewer bytes than the frame needs
  job.recorder.frames.push_back(shortFrame);
  job.recorder.frames.push_back(MakeFrame(6, 0.2));
  EXPECT_FALSE(job.Run());
  EXPECT_EQ(WrittenNumbers(), (std::vector<int>{0, 1, 2, 6}));
  EXPECT_EQ(job.result.nFramesLost, 3);
  EXPECT_NE(job.result.message.find("incomplete"), std::string::npos) << job.result.message;
}

// The stop once ended the job at once, losing the frames still in the
// pipeline: the job now writes every frame it can still pull.
TEST_F(WmWriterJob, TheStopDrainsTheFramesStillQueuedBeforeTheFileIsFinished) {
  TJob job;
  job.AddFrames(50);
  job.recorder.nStopAfter = 5;  // the input ends with 45 frames in the pipeline
  job.recorder.bStopWhenEmpty = false;
  ASSERT_TRUE(job.Run()) << job.result.message;
  EXPECT_EQ(WrittenNumbers(), Range(0, 49));
  EXPECT_TRUE(job.result.bFileFinished);
}

TEST_F(WmWriterJob, AnIdleJobEndsPromptlyOnTheStop) {
  TJob job;
  job.recorder.bStopWhenEmpty = false;  // no frame ever comes
  auto done = std::async(std::launch::async, [&job] { return job.Run(); });
  // The job keeps asking while no frame comes.
  for (int i = 0; i < 200; ++i) {
    {
      std::lock_guard guard(job.recorder.lock);
      if (job.recorder.nRequests >= 3) break;
    }
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(done.wait_for(0ms), std::future_status::timeout) << "the job must wait for the stop";
  job.recorder.stop.store(true);
  ASSERT_EQ(done.wait_for(2s), std::future_status::ready) << "the stop ends an idle job within its poll";
  EXPECT_TRUE(done.get());
  EXPECT_EQ(job.result.nFramesWritten, 0);
  EXPECT_EQ(script.nFinished, 1);
}

TEST_F(WmWriterJob, ARecorderThatNeverRunsDryAfterTheStopCannotHoldTheJob) {
  TJob job;
  job.AddFrames(10);
  job.recorder.bEndless = true;
  job.recorder.stop.store(true);
  auto done = std::async(std::launch::async, [&job] { return job.Run(); });
  ASSERT_EQ(done.wait_for(kBound), std::future_status::ready);
  EXPECT_FALSE(done.get());
  EXPECT_GT(job.result.nFramesWritten, 0);
  EXPECT_GT(job.result.nFramesLost, 0);
  EXPECT_NE(job.result.message.find("incomplete"), std::string::npos) << job.result.message;
}

TEST_F(WmWriterJob, ASecondJobOnARunningWriterIsRefusedAsBusy) {
  TJob first;
  first.recorder.bStopWhenEmpty = false;
  first.AddFrames(4);
  CWmWriter writer;
  auto done = std::async(std::launch::async, [&] { return writer.Run(&first.request); });
  for (int i = 0; i < 400 && !writer.IsBusy(); ++i) std::this_thread::sleep_for(5ms);
  ASSERT_TRUE(writer.IsBusy());

  TJob second;
  second.AddFrames(2);
  second.request.bSuccess = true;
  EXPECT_FALSE(writer.Run(&second.request));
  EXPECT_EQ(second.request.eError, MEDIA_ERR_WM_JOB_BUSY);
  EXPECT_FALSE(second.request.bSuccess);
  EXPECT_EQ(second.recorder.nRequests, 0);

  first.recorder.stop.store(true);
  ASSERT_EQ(done.wait_for(kBound), std::future_status::ready);
  EXPECT_TRUE(done.get()) << first.result.message;
  EXPECT_EQ(first.result.nFramesWritten, 4) << "the running job was not disturbed";
  EXPECT_FALSE(writer.IsBusy());

  // The writer takes the next job once the first has ended.
  TJob third;
  third.AddFrames(2);
  EXPECT_TRUE(writer.Run(&third.request));
}

TEST_F(WmWriterJob, TheProfileChoosesTheEncodersQuantizerRangeAndKeyFrameSpacing) {
  auto idOf = [](const char* pName) {
    for (const auto& profile : DShowMgr::WmProfileTable())
      if (std::string(profile.pName) == pName) return profile.id;
    ADD_FAILURE() << pName;
    return std::array<std::uint8_t, 16>{};
  };
  struct TCase {
    const char* name;
    bool bCustom;
    const char* pProfile;
    std::int32_t nRate;
    std::int32_t nBitRate;
    std::int32_t nQMin, nQMax, nGop;
  };
  const TCase cases[] = {
      {"empty profile", true, nullptr, 30, 0, 2, 31, 150},
      {"empty profile at 25", true, nullptr, 25, 0, 2, 31, 125},
      {"2 Mbps", false, "Video only for high quality (2 Mbps)", 30, 2'000'000, 2, 4, 150},
      {"1.9 Mbps with audio", false, "Video for high quality (2 Mbps)", 30, 1'920'000, 2, 4, 150},
      {"768 Kbps", false, "Video only for local area network (768 Kbps)", 30, 768'000, 3, 7, 150},
      {"704 Kbps with audio", false, "Video for local area network (768 Kbps)", 30, 704'000, 3, 7, 150},
      {"308 Kbps", false, "Video for broadband (340 Kbps)", 30, 308'000, 8, 16, 150},
      {"audio only: the encoder's full range", false, "Audio for broadband (64 Kbps)", 30, 0, 2, 31, 150},
      // "Create a new profile..." reaches the writer and changes nothing:
      // the chosen profile still decides (once it was ignored).
      {"308 Kbps, new profile", true, "Video for broadband (340 Kbps)", 30, 308'000, 8, 16, 150},
      {"1.9 Mbps, new profile", true, "Video for high quality (2 Mbps)", 30, 1'920'000, 2, 4, 150},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TJob job;
    job.AddFrames(1);
    job.params.nFrameRate = c.nRate;
    job.params.settings.bCustomProfile = c.bCustom;
    if (c.pProfile) job.params.settings.profileId = idOf(c.pProfile);
    ASSERT_TRUE(job.Run()) << job.result.message;
    EXPECT_EQ(script.format.nVideoBitRate, c.nBitRate);
    EXPECT_EQ(script.format.nQuantizerMin, c.nQMin);
    EXPECT_EQ(script.format.nQuantizerMax, c.nQMax);
    EXPECT_EQ(script.format.nKeyFrameSpacing, c.nGop);
  }
  // An id that names no profile is refused, with the new-profile flag too,
  // before the sink opens.
  for (const bool bCustom : {false, true}) {
    SCOPED_TRACE(bCustom);
    const int opened = script.nOpened;
    TJob job;
    job.AddFrames(1);
    job.params.settings.bCustomProfile = bCustom;
    job.params.settings.profileId.fill(0xEE);
    EXPECT_FALSE(job.Run());
    EXPECT_NE(job.result.message.find("profile is not known"), std::string::npos) << job.result.message;
    EXPECT_EQ(script.nOpened, opened);
  }
}

TEST_F(WmWriterJob, TheProfileVersionIsNormalised) {
  const std::pair<std::int32_t, std::int32_t> cases[] = {
      {0x40000, 0x40000}, {0x70000, 0x70000}, {0x90000, 0x90000}, {0x80000, 0x80000},
      {0, 0x80000},       {0x50000, 0x80000}, {-1, 0x80000},      {0x90001, 0x80000},
  };
  for (const auto& [nVersion, nExpected] : cases) {
    SCOPED_TRACE(nVersion);
    TJob job;
    job.params.settings.nProfileVersion = nVersion;
    ASSERT_TRUE(job.Run());
    EXPECT_EQ(script.format.nProfileVersion, nExpected);
  }
}

}  // namespace
