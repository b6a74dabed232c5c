// The MNG writer: recorded files walked chunk by chunk without libmng, read
// back through the reader pixel for pixel, object ids past their 16-bit
// wrap, several recordings at once, compression workers, and the requests
// it refuses.

#include <gtest/gtest.h>

#include <thread>

#include "io/codecs/mng_mgr.h"
#include "tests/io/mng_test_files.h"
#include "tests/support/message_fixture.h"

namespace {

using namespace ZarnTypes;
using namespace mng_test;
using MngMgr::CMngMgr;

class MngWriterTest : public tovrin_test::TRecordedMessagesTest {};

std::vector<TFrame> Frames(TPixelFormat format, std::int32_t w, std::int32_t h, int count,
                           std::uint32_t seed0 = 0) {
  std::vector<TFrame> frames;
  for (int i = 0; i < count; ++i)
    frames.push_back(MakeFrame(format, w, h, seed0 + static_cast<std::uint32_t>(i)));
  return frames;
}

// Reads every frame of a file at full speed through the reader.
std::vector<TDelivered> ReadBack(const std::string& path, TPixelFormat format, bool* pOk = nullptr,
                                 bool keepBytes = true) {
  TReadSink sink;
  sink.bKeepBytes = keepBytes;
  TReadRequest read(path, SRC_STREAM, format, &sink);
  CMngMgr reader;
  reader.SetPaced(false);
  const bool ok = reader.Run(&read.request);
  if (pOk) *pOk = ok;
  return std::move(sink.frames);
}

// A recording of three frames, walked chunk by chunk: order, CRCs, the
// header values, object ids 0, 1, 2 and image data that inflates to the
// frames' rows (top row first, red-green-blue, filter byte 0).
struct TWalkCase {
  TPixelFormat format;
  std::int32_t width;
  std::int32_t height;
};

class MngWriterWalk : public MngWriterTest, public ::testing::WithParamInterface<TWalkCase> {};

TEST_P(MngWriterWalk, ThreeFramesChunkByChunk) {
  const TWalkCase c = GetParam();
  TFakeRecorder recorder;
  recorder.frames = Frames(c.format, c.width, c.height, 3);
  const std::string path = Path("three.mng");
  const TWriteRun run = WriteMng(path, recorder, c.format, c.width, c.height);
  ASSERT_TRUE(run.bOk) << run.error;
  EXPECT_TRUE(run.request.bSuccess);
  EXPECT_TRUE(recorder.end.load());

  std::vector<TChunk> chunks;
  ASSERT_TRUE(WalkChunks(tovrin_test::ReadAll(path), chunks, kMngSignature));
  const std::vector<std::string> order = {"MHDR", "SAVE", "SEEK", "TERM", "DEFI", "IHDR",
                                          "IDAT", "IEND", "DEFI", "IHDR", "IDAT", "IEND",
                                          "DEFI", "IHDR", "IDAT", "IEND", "MEND"};
  ASSERT_EQ(chunks.size(), order.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    EXPECT_EQ(chunks[i].type, order[i]) << i;
    EXPECT_TRUE(chunks[i].bCrcOk) << chunks[i].type << " " << i;
  }
  const auto& mhdr = chunks[0].data;
  ASSERT_EQ(mhdr.size(), 28u);
  const std::uint32_t expectedMhdr[7] = {
      static_cast<std::uint32_t>(c.width), static_cast<std::uint32_t>(c.height), 30, 0, 0, 0, 7};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(Be32(&mhdr[static_cast<std::size_t>(i) * 4]), expectedMhdr[i]) << i;
  EXPECT_TRUE(chunks[1].data.empty());  // an empty SAVE
  EXPECT_EQ(std::string(chunks[2].data.begin(), chunks[2].data.end()), "start");
  ASSERT_FALSE(chunks[3].data.empty());
  EXPECT_EQ(chunks[3].data[0], 0);  // TERM: show the last frame

  for (int frame = 0; frame < 3; ++frame) {
    const std::size_t at = 4 + static_cast<std::size_t>(frame) * 4;
    const auto& defi = chunks[at].data;
    ASSERT_GE(defi.size(), 12u);
    EXPECT_EQ(Be16(&defi[0]), frame);  // object id
    EXPECT_EQ(defi[2], 0);             // shown
    EXPECT_EQ(defi[3], 1);             // concrete
    EXPECT_EQ(Be32(&defi[4]), 0u);     // at 0, 0
    EXPECT_EQ(Be32(&defi[8]), 0u);
    const auto& ihdr = chunks[at + 1].data;
    ASSERT_EQ(ihdr.size(), 13u);
    EXPECT_EQ(Be32(&ihdr[0]), static_cast<std::uint32_t>(c.width));
    EXPECT_EQ(Be32(&ihdr[4]), static_cast<std::uint32_t>(c.height));
    EXPECT_EQ(std::vector<std::uint8_t>(ihdr.begin() + 8, ihdr.end()),
              (std::vector<std::uint8_t>{8, 2, 0, 0, 0}));
    const std::vector<std::uint8_t> rows = ExpectedRows(recorder.frames[static_cast<std::size_t>(frame)]);
    EXPECT_EQ(Inflate(chunks[at + 2].data, rows.size()), rows) << "frame " << frame;
    EXPECT_TRUE(chunks[at + 3].data.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, MngWriterWalk,
                         ::testing::Values(TWalkCase{PF_RGB24, 8, 4}, TWalkCase{PF_RGB32, 8, 4},
                                           TWalkCase{PF_RGB24, 13, 7}, TWalkCase{PF_RGB32, 5, 3},
                                           TWalkCase{PF_RGB24, 1, 1}, TWalkCase{PF_RGB24, 3, 9}));

// Every layout written reads back exact in both canvas depths.
TEST_F(MngWriterTest, RecordingsReadBackPixelExact) {
  for (const TPixelFormat written : {PF_RGB24, PF_RGB32}) {
    for (const TPixelFormat read : {PF_RGB24, PF_RGB32}) {
      SCOPED_TRACE(::testing::Message() << "written " << written << " read " << read);
      TFakeRecorder recorder;
      recorder.frames = Frames(written, 37, 23, 6, 40);
      const std::string path = Path("exact.mng");
      ASSERT_TRUE(WriteMng(path, recorder, written, 37, 23).bOk);
      bool ok = false;
      const std::vector<TDelivered> frames = ReadBack(path, read, &ok);
      EXPECT_TRUE(ok);
      ASSERT_EQ(frames.size(), recorder.frames.size());
      for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].nBits, read == PF_RGB32 ? 32 : 24);
        EXPECT_EQ(frames[i].eFormat, read);  // the notice names the canvas's own layout
        EXPECT_TRUE(SamePicture(frames[i], recorder.frames[i])) << "frame " << i;
      }
    }
  }
}

// Object ids are 16 bits: past 65,536 frames they wrap, and every frame is
// still written and read back as itself.
TEST_F(MngWriterTest, ObjectIdsWrapPast65536FramesEveryFrameExact) {
  constexpr std::uint32_t kFrames = 65536 + 70;
  TFakeRecorder recorder;
  recorder.frames.reserve(kFrames);
  for (std::uint32_t i = 0; i < kFrames; ++i) recorder.frames.push_back(MakeIndexFrame(PF_RGB24, 2, 1, i));
  const std::string path = Path("long.mng");
  ASSERT_TRUE(WriteMng(path, recorder, PF_RGB24, 2, 1).bOk);

  std::vector<TChunk> chunks;
  ASSERT_TRUE(WalkChunks(tovrin_test::ReadAll(path), chunks, kMngSignature));
  ASSERT_EQ(chunks.size(), 4 + 4 * static_cast<std::size_t>(kFrames) + 1);
  for (std::uint32_t i = 0; i < kFrames; ++i) {
    const std::size_t at = 4 + static_cast<std::size_t>(i) * 4;
    ASSERT_EQ(chunks[at].type, "DEFI");
    ASSERT_EQ(Be16(&chunks[at].data[0]), i & 0xFFFF) << i;
    ASSERT_TRUE(chunks[at + 2].bCrcOk);
    ASSERT_EQ(Inflate(chunks[at + 2].data, 7), ExpectedRows(recorder.frames[i])) << i;
  }
  EXPECT_EQ(chunks.back().type, "MEND");

  bool ok = false;
  TReadSink sink;
  sink.bKeepBytes = false;
  std::vector<std::uint32_t> seen;
  seen.reserve(kFrames);
  sink.onFrame = [&seen](TReadSink&, const TMediaFrameNotice& n) {
    seen.push_back(IndexOf(n.pRgbData));
    if (IndexOf(n.pRgbData + 3) != seen.back()) seen.back() = 0xFFFFFFFF;
  };
  TReadRequest read(path, SRC_STREAM, PF_RGB24, &sink);
  CMngMgr reader;
  reader.SetPaced(false);
  ok = reader.Run(&read.request);
  EXPECT_TRUE(ok);
  EXPECT_TRUE(reader.ReadAsRecorderLayout());
  ASSERT_EQ(seen.size(), kFrames);
  for (std::uint32_t i = 0; i < kFrames; ++i) ASSERT_EQ(seen[i], i) << "frame " << i;
}

// Four channels recorded at once, each by its own writer: every file holds
// its own channel's frames, exact; one worker and four give the same bytes.
TEST_F(MngWriterTest, FourChannelsAtOnceAndWorkerCountsGiveIdenticalFiles) {
  constexpr int kChannels = 4;
  constexpr int kFramesEach = 9;
  for (const int workers : {1, 4}) {
    TFakeRecorder recorders[kChannels];
    bool results[kChannels] = {};
    std::vector<std::thread> threads;
    for (int ch = 0; ch < kChannels; ++ch) {
      const TPixelFormat format = ch % 2 ? PF_RGB32 : PF_RGB24;
      recorders[ch].frames = Frames(format, 31 + ch, 17, kFramesEach, static_cast<std::uint32_t>(100 * ch));
      threads.emplace_back([&, ch, format] {
        results[ch] = WriteMng(Path("ch" + std::to_string(ch) + "-" + std::to_string(workers) + ".mng"),
                               recorders[ch], format, 31 + ch, 17, workers, 45 + ch)
                          .bOk;
      });
    }
    for (std::thread& t : threads) t.join();
    for (int ch = 0; ch < kChannels; ++ch) {
      SCOPED_TRACE(::testing::Message() << "channel " << ch << " workers " << workers);
      ASSERT_TRUE(results[ch]);
      const std::vector<TDelivered> frames =
          ReadBack(Path("ch" + std::to_string(ch) + "-" + std::to_string(workers) + ".mng"), PF_RGB24);
      ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFramesEach));
      for (int i = 0; i < kFramesEach; ++i)
        EXPECT_TRUE(SamePicture(frames[static_cast<std::size_t>(i)],
                                recorders[ch].frames[static_cast<std::size_t>(i)]))
            << "frame " << i;
    }
  }
  for (int ch = 0; ch < kChannels; ++ch)
    EXPECT_EQ(tovrin_test::ReadAll(dir / ("ch" + std::to_string(ch) + "-1.mng")),
              tovrin_test::ReadAll(dir / ("ch" + std::to_string(ch) + "-4.mng")))
        << "channel " << ch;
}

// Layouts the writer cannot write are refused before any chunk: no file,
// a message that names the channel.
TEST_F(MngWriterTest, UnwritableLayoutsAreRefusedBeforeTheFileIsMade) {
  for (const TPixelFormat format : {PF_PACKED_48, PF_DIB_1, PF_DIB_4, PF_DIB_8, PF_DIB_16, PF_YUY2}) {
    SCOPED_TRACE(::testing::Message() << "format " << format);
    sink.Clear();
    TFakeRecorder recorder;
    recorder.frames = Frames(PF_RGB24, 4, 4, 2);
    const std::string path = Path("refused.mng");
    const TWriteRun run = WriteMng(path, recorder, format, 4, 4, 1, 47);
    EXPECT_FALSE(run.bOk);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(recorder.requests.load(), 0);  // no frame was taken from the recorder
    EXPECT_NE(run.error.find("channel 2"), std::string::npos) << run.error;
    EXPECT_TRUE(sink.Texts().empty());  // the recorder reports it
    EXPECT_TRUE(recorder.end.load());
  }
}

TEST_F(MngWriterTest, FileThatCannotBeMadeIsErrorThirtyFour) {
  TFakeRecorder recorder;
  recorder.frames = Frames(PF_RGB24, 4, 4, 1);
  const TWriteRun run = WriteMng(Path("no/such/folder/x.mng"), recorder, PF_RGB24, 4, 4);
  EXPECT_FALSE(run.bOk);
  EXPECT_EQ(run.request.eError, MEDIA_ERR_MNG_CREATE_OUTPUT);
  EXPECT_NE(run.error.find("cannot be created"), std::string::npos) << run.error;
}

// A write that fails (the disk full) makes the job fail and say so; frames
// are still taken so the recorder never stalls.
TEST_F(MngWriterTest, FailedWritesFailTheJob) {
  TFakeRecorder recorder;
  recorder.frames = Frames(PF_RGB24, 64, 64, 40);
  const std::string path = Path("full.mng");
  TWriteRun run;
  {
    tovrin_test::TFileSizeLimit limit(2000);
    ASSERT_TRUE(limit.Ok());
    run = WriteMng(path, recorder, PF_RGB24, 64, 64);
  }
  EXPECT_FALSE(run.bOk);
  EXPECT_EQ(recorder.next, recorder.frames.size());
  EXPECT_NE(run.error.find("incomplete"), std::string::npos) << run.error;
}

// Frames of another size than the recording's are not written as if they
// were: the job reports them.
TEST_F(MngWriterTest, FramesOfAnotherSizeFailTheJob) {
  TFakeRecorder recorder;
  recorder.frames = Frames(PF_RGB24, 8, 8, 2);
  recorder.frames.push_back(MakeFrame(PF_RGB24, 9, 8, 5));
  const TWriteRun run = WriteMng(Path("mixed.mng"), recorder, PF_RGB24, 8, 8);
  EXPECT_FALSE(run.bOk);
  std::vector<TChunk> chunks;
  ASSERT_TRUE(WalkChunks(tovrin_test::ReadAll(Path("mixed.mng")), chunks, kMngSignature));
  EXPECT_EQ(chunks.back().type, "MEND");  // the file itself is complete
}

TEST_F(MngWriterTest, BusyWriterRefusesWithThirtyEight) {
  CMngMgr writer;
  TFakeRecorder recorder;
  recorder.bStopWhenEmpty = false;  // runs until stopped below
  std::string out = Path("busy.mng");
  MngMgr::TMngParams params;
  params.nProcId = 45;
  params.eSenderKind = MEDIA_SENDER_RECORDER;
  params.ePurpose = SRC_WRITE_STREAM;
  params.pContext = &recorder;
  params.pStopFlag = &recorder.stop;
  params.pEndFlag = &recorder.end;
  params.pCallback = &TFakeRecorder::Callback;
  TMediaRequest request;
  request.eOp = MEDIA_OP_RUN_JOB;
  request.ePurpose = SRC_WRITE_STREAM;
  request.ePixelFormat = PF_RGB24;
  request.pOutputPath = &out;
  request.nWidth = 4;
  request.nHeight = 4;
  request.eTag = MEDIA_REQ_MNG;
  request.pParams = &params;
  bool first = false;
  std::thread t([&] { first = writer.Write(&request); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (recorder.requests.load() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_GT(recorder.requests.load(), 0);
  TMediaRequest second = request;
  second.eError = MEDIA_ERR_NONE;
  EXPECT_FALSE(writer.Write(&second));
  EXPECT_EQ(second.eError, MEDIA_ERR_MNG_BUSY);
  const auto stopAt = std::chrono::steady_clock::now();
  recorder.stop = true;
  t.join();
  EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(2));
  EXPECT_TRUE(first);  // an empty recording is a complete file
}

TEST_F(MngWriterTest, WrongTagOrNoPathLeavesTheOwnerAlone) {
  TFakeRecorder recorder;
  std::string out = Path("x.mng");
  MngMgr::TMngParams params;
  params.pStopFlag = &recorder.stop;
  params.pEndFlag = &recorder.end;
  params.ePurpose = SRC_WRITE_STREAM;
  TMediaRequest request;
  request.ePurpose = SRC_WRITE_STREAM;
  request.ePixelFormat = PF_RGB24;
  request.nWidth = request.nHeight = 4;
  request.pParams = &params;
  request.eTag = MEDIA_REQ_WM_JOB;
  request.pOutputPath = &out;
  CMngMgr writer;
  EXPECT_FALSE(writer.Write(&request));
  request.eTag = MEDIA_REQ_MNG;
  request.pOutputPath = nullptr;
  EXPECT_FALSE(writer.Write(&request));
  EXPECT_FALSE(recorder.end.load());
  EXPECT_FALSE(recorder.stop.load());
  EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
