// MNG recordings through the stream recorder: its frame pipeline and writer
// thread feed the MNG writer; four channels recorded at once read back
// pixel-exact, and layouts the writer cannot write are refused naming the
// channel before any file is made.

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <thread>

#include "io/codecs/mng_mgr.h"
#include "io/codecs/save_stream.h"
#include "media/frame_processor.h"
#include "tests/io/mng_test_files.h"
#include "tests/io/recorder_fixture.h"

namespace {

using namespace ZarnTypes;
using namespace mng_test;
using recorder_test::TRecorderTest;
using recorder_test::WaitUntil;
using SaveStream::CSaveStream;

class MngRecorderTest : public TRecorderTest {
 protected:
  void SetUpMng(CSaveStream& recorder, int channel, std::int32_t w, std::int32_t h, TPixelFormat format) {
    SetUpSingleFile(recorder, FF_MNG, "channel" + std::to_string(channel) + ".mng");
    StartSession(recorder, channel, w, h, format, false);
  }
};

TEST_F(MngRecorderTest, FourChannelsRecordedAtOnceReadBackPixelExact) {
  std::array<CSaveStream, 4> recorders;
  std::array<std::vector<TFrame>, 4> frames;
  for (int ch = 0; ch < 4; ++ch) {
    const TPixelFormat format = ch % 2 ? PF_RGB32 : PF_RGB24;
    const std::int32_t w = 21 + ch;
    const std::int32_t h = 13;
    for (int i = 0; i < 120 + 10 * ch; ++i)
      frames[static_cast<std::size_t>(ch)].push_back(
          MakeFrame(format, w, h, static_cast<std::uint32_t>(ch * 1000 + i)));
    SetUpMng(recorders[static_cast<std::size_t>(ch)], ch, w, h, format);
    ASSERT_TRUE(recorders[static_cast<std::size_t>(ch)].Open()) << ch;
    EXPECT_TRUE(recorders[static_cast<std::size_t>(ch)].IsPipelineRunning());
  }
  EXPECT_EQ(engine.jobCount.load(), 4);
  std::vector<std::thread> producers;
  for (int ch = 0; ch < 4; ++ch)
    producers.emplace_back([&, ch] {
      for (const TFrame& f : frames[static_cast<std::size_t>(ch)]) {
        TMediaFrameNotice notice;
        notice.ePixelFormat = f.eFormat;
        notice.nWidth = f.nWidth;
        notice.nHeight = f.nHeight;
        notice.pRgbData = f.bytes.data();
        notice.nRgbSize = static_cast<std::int32_t>(f.bytes.size());
        EXPECT_TRUE(recorders[static_cast<std::size_t>(ch)].PushFrame(41 + ch, &notice));
      }
    });
  for (std::thread& t : producers) t.join();
  for (auto& flag : engine.stop) flag.store(true);
  ASSERT_TRUE(WaitUntil([&] { return engine.jobCount.load() == 0; }));
  for (int ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE(ch);
    CSaveStream& recorder = recorders[static_cast<std::size_t>(ch)];
    EXPECT_TRUE(recorder.Close());
    EXPECT_TRUE(recorder.LastJobSucceeded()) << recorder.LastJobMessage();
    EXPECT_EQ(recorder.LastJobFramesWritten(),
              static_cast<std::int64_t>(frames[static_cast<std::size_t>(ch)].size()));

    TReadSink read;
    TReadRequest request(Path("channel" + std::to_string(ch) + ".mng"), SRC_STREAM, PF_RGB24, &read);
    MngMgr::CMngMgr reader;
    reader.SetPaced(false);
    ASSERT_TRUE(reader.Run(&request.request));
    const auto& sent = frames[static_cast<std::size_t>(ch)];
    ASSERT_EQ(read.frames.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i)
      ASSERT_TRUE(SamePicture(read.frames[i], sent[i])) << "frame " << i;
  }
  EXPECT_TRUE(sink.Texts().empty());
}

// A sample-number interval keeps only the frames of its range (each bound
// used when it is above 0); once every frame was written whatever the
// range. Other modes keep every frame. Frames carry their index in the file.
TEST_F(MngRecorderTest, ASampleNumberIntervalKeepsExactlyTheFramesOfItsRange) {
  struct TCase {
    const char* what;
    std::int32_t mode;
    std::int64_t first, last, step;
    int keptFirst, keptLast;  // the frames kept, of 0..23
  };
  const TCase cases[] = {
      {"10..20", 3, 10, 20, 1, 10, 20},
      {"no lower bound", 3, 0, 5, 1, 0, 5},
      {"no upper bound", 3, 18, 0, 1, 18, 23},
      {"a single frame", 3, 7, 7, 1, 7, 7},
      {"negative bounds are no bounds", 3, -4, -1, 1, 0, 23},
      {"all samples: the bounds are not used", 1, 10, 20, 1, 0, 23},
      {"by time: every frame", 2, 10, 20, 1, 0, 23},
  };
  constexpr int kFrames = 24;
  std::vector<TFrame> frames;
  for (int i = 0; i < kFrames; ++i)
    frames.push_back(MakeFrame(PF_RGB24, 8, 6, static_cast<std::uint32_t>(i)));
  int index = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = "range" + std::to_string(index++) + ".mng";
    engine.stop[1].store(false);
    CSaveStream recorder;
    SetUpSingleFile(recorder, FF_MNG, name);
    recorder.m_Sampling.nMode = c.mode;
    recorder.m_Sampling.nStartFrame = c.first;
    recorder.m_Sampling.nEndFrame = c.last;
    recorder.m_Sampling.nStepFrame = c.step;
    StartSession(recorder, 1, 8, 6, PF_RGB24, false);
    ASSERT_TRUE(recorder.Open());
    int stored = 0;
    for (int i = 0; i < kFrames; ++i) {
      TMediaFrameNotice notice;
      notice.ePixelFormat = PF_RGB24;
      notice.nWidth = 8;
      notice.nHeight = 6;
      notice.pRgbData = frames[static_cast<std::size_t>(i)].bytes.data();
      notice.nRgbSize = static_cast<std::int32_t>(frames[static_cast<std::size_t>(i)].bytes.size());
      notice.nFrameNumber = i;
      notice.bFileIndex = true;
      notice.dTime = i / 25.0;
      stored += recorder.PushFrame(42, &notice) ? 1 : 0;
    }
    EXPECT_EQ(stored, c.keptLast - c.keptFirst + 1);
    engine.stop[1].store(true);
    ASSERT_TRUE(WaitUntil([&] { return engine.jobCount.load() == 0; }));
    EXPECT_TRUE(recorder.Close());
    EXPECT_TRUE(recorder.LastJobSucceeded()) << recorder.LastJobMessage();
    EXPECT_EQ(recorder.FramesDropped(), 0);

    TReadSink read;
    TReadRequest request(Path(name), SRC_STREAM, PF_RGB24, &read);
    MngMgr::CMngMgr reader;
    reader.SetPaced(false);
    ASSERT_TRUE(reader.Run(&request.request));
    ASSERT_EQ(read.frames.size(), static_cast<std::size_t>(c.keptLast - c.keptFirst + 1));
    for (std::size_t k = 0; k < read.frames.size(); ++k)
      EXPECT_TRUE(SamePicture(read.frames[k], frames[static_cast<std::size_t>(c.keptFirst) + k])) << k;
    engine.recorders[1] = nullptr;
  }
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(MngRecorderTest, LayoutsTheWriterCannotTakeAreRefusedNamingTheChannelBeforeAnyFile) {
  for (const TPixelFormat format : {PF_DIB_8, PF_PACKED_48, PF_YUY2}) {
    SCOPED_TRACE(format);
    sink.Clear();
    CSaveStream recorder;
    SetUpMng(recorder, 2, 16, 8, format);
    EXPECT_FALSE(recorder.Open());
    EXPECT_FALSE(recorder.IsOpen());
    EXPECT_FALSE(recorder.IsPipelineRunning());
    EXPECT_FALSE(std::filesystem::exists(Path("channel2.mng")));
    ASSERT_EQ(sink.Texts().size(), 1u);
    EXPECT_NE(sink.Texts()[0].find("channel 2"), std::string::npos) << sink.Texts()[0];
    EXPECT_EQ(engine.jobCount.load(), 0);
  }
}

// A recording whose file cannot be made: the job fails, says so once, and
// the input is closed so the producer never waits.
TEST_F(MngRecorderTest, AFileThatCannotBeMadeFailsTheJobReportedOnce) {
  CSaveStream recorder;
  SetUpMng(recorder, 1, 8, 8, PF_RGB24);
  recorder.m_sSingleFileName = Path("no/such/folder/x.mng");
  ASSERT_TRUE(recorder.Open());
  ASSERT_TRUE(WaitUntil([&] { return !recorder.IsWriterRunning(); }));
  const TFrame f = MakeFrame(PF_RGB24, 8, 8, 1);
  TMediaFrameNotice notice;
  notice.ePixelFormat = PF_RGB24;
  notice.nWidth = notice.nHeight = 8;
  notice.pRgbData = f.bytes.data();
  notice.nRgbSize = static_cast<std::int32_t>(f.bytes.size());
  EXPECT_FALSE(recorder.PushFrame(42, &notice));
  engine.stop[1].store(true);
  ASSERT_TRUE(WaitUntil([&] { return engine.jobCount.load() == 0; }));
  recorder.Close();
  EXPECT_FALSE(recorder.LastJobSucceeded());
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_NE(sink.Texts()[0].find("cannot be created"), std::string::npos) << sink.Texts()[0];
}

}  // namespace
