// The Windows Media writer job on the GStreamer sink: files written from
// numbered pictures are read back by independent decoders (a plain
// GStreamer pipeline and ffmpeg), and failures of the output end the job
// with its code.

#include "io/dshow/wm_sink_gst.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "dshow_fixtures.h"
#include "io/codecs/wm_writer.h"
#include "tests/support/media/counter_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using namespace ZarnTypes;
using namespace WmWriter;
using namespace std::chrono_literals;

constexpr int kFrames = 60;
constexpr auto kJobBound = 120s;  // longest a job may take here (sanitizer builds are slow)

std::uint8_t Clamp8(double d) { return static_cast<std::uint8_t>(std::clamp(std::lround(d), 0L, 255L)); }

// The numbered picture of frame n as bottom-up DIB rows of 24 or 32 bits
// (the counter code at the top of the picture, a moving pattern below).
std::vector<std::uint8_t> NumberedPicture(int nIndex, int nWidth, int nHeight, int nBits) {
  const auto yuv = tovrin_test_media::CounterPictureI420(nIndex, nWidth, nHeight);
  const int cw = (nWidth + 1) / 2, ch = (nHeight + 1) / 2;
  const std::uint8_t* pY = yuv.data();
  const std::uint8_t* pU = pY + static_cast<std::size_t>(nWidth) * nHeight;
  const std::uint8_t* pV = pU + static_cast<std::size_t>(cw) * ch;
  const int bpp = nBits / 8;
  const int nStride = ((nWidth * nBits + 31) / 32) * 4;
  std::vector<std::uint8_t> picture(static_cast<std::size_t>(nStride) * nHeight, 0);
  for (int y = 0; y < nHeight; ++y) {
    std::uint8_t* row = picture.data() + static_cast<std::size_t>(nHeight - 1 - y) * nStride;
    for (int x = 0; x < nWidth; ++x) {
      const double c = 1.164 * (pY[static_cast<std::size_t>(y) * nWidth + x] - 16);
      const double u = pU[static_cast<std::size_t>(y / 2) * cw + x / 2] - 128;
      const double v = pV[static_cast<std::size_t>(y / 2) * cw + x / 2] - 128;
      row[x * bpp + 0] = Clamp8(c + 2.018 * u);
      row[x * bpp + 1] = Clamp8(c - 0.813 * v - 0.391 * u);
      row[x * bpp + 2] = Clamp8(c + 1.596 * v);
      if (bpp == 4) row[x * bpp + 3] = 0;
    }
  }
  return picture;
}

// Mean difference of one colour byte between our bottom-up picture and a
// decoded top-down BGR picture of the same or a wider size.
double MeanDifference(const std::vector<std::uint8_t>& ours, int nWidth, int nHeight, int nBits,
                      const std::uint8_t* pTheirs, int nTheirStride) {
  const int bpp = nBits / 8;
  const int nStride = ((nWidth * nBits + 31) / 32) * 4;
  double sum = 0;
  for (int y = 0; y < nHeight; ++y) {
    const std::uint8_t* a = ours.data() + static_cast<std::size_t>(nHeight - 1 - y) * nStride;
    const std::uint8_t* b = pTheirs + static_cast<std::size_t>(y) * nTheirStride;
    for (int x = 0; x < nWidth; ++x)
      for (int c = 0; c < 3; ++c) sum += std::abs(a[x * bpp + c] - b[x * 3 + c]);
  }
  return sum / (3.0 * nWidth * nHeight);
}

// The recorder's side: hands out its frames, then raises the stop.
struct TRecorder {
  std::vector<std::vector<std::uint8_t>> pictures;
  std::vector<double> times;
  TPixelFormat eFormat = PF_RGB32;
  int nWidth = 0;
  int nHeight = 0;
  std::size_t nNext = 0;
  std::atomic<bool> stop{false};
};

bool RecorderCallback(void* pContext, TMediaNotify eCode, const TMediaSender*, void* pData) {
  auto* recorder = static_cast<TRecorder*>(pContext);
  if (eCode != MEDIA_NOTIFY_RECORD_FRAME) return false;
  if (recorder->nNext >= recorder->pictures.size()) {
    recorder->stop.store(true);
    return false;
  }
  const std::size_t i = recorder->nNext++;
  TMediaFrameNotice& notice = *RecordFrameNotice(static_cast<TWmFrameRequest*>(pData));
  notice.ePixelFormat = recorder->eFormat;
  notice.nWidth = recorder->nWidth;
  notice.nHeight = recorder->nHeight;
  notice.pRgbData = recorder->pictures[i].data();
  notice.nRgbSize = static_cast<std::int32_t>(recorder->pictures[i].size());
  notice.dTime = recorder->times[i];
  notice.nFrameNumber = static_cast<std::int64_t>(i);
  return true;
}

struct TJob {
  TRecorder recorder;
  TWmJobParams params;
  TWmJobResult result;
  TMediaRequest request;

  TJob(const std::filesystem::path& file, int nWidth, int nHeight, int nBits, int nFrames,
       double dFirstTime) {
    recorder.eFormat = nBits == 24 ? PF_RGB24 : PF_RGB32;
    recorder.nWidth = nWidth;
    recorder.nHeight = nHeight;
    for (int i = 0; i < nFrames; ++i) {
      recorder.pictures.push_back(NumberedPicture(i, nWidth, nHeight, nBits));
      recorder.times.push_back(dFirstTime + i / 30.0);
    }
    params.nProcId = 45;
    params.pContext = &recorder;
    params.pStopFlag = &recorder.stop;
    params.pCallback = &RecorderCallback;
    params.outputFile = file.string();
    params.nFrameRate = 30;
    params.bHaveSettings = true;
    params.pResult = &result;
    request.eOp = MEDIA_OP_RUN_JOB;
    request.ePurpose = SRC_WRITE_STREAM;
    request.ePixelFormat = recorder.eFormat;
    request.nWidth = nWidth;
    request.nHeight = nHeight;
    request.eTag = MEDIA_REQ_WM_JOB;
    request.pParams = &params;
  }
  // Runs the job on a thread of its own, as the recorder does, with a bound.
  bool Run() {
    auto done = std::async(std::launch::async, [this] { return ConvertToWindowsMedia(&request); });
    if (done.wait_for(kJobBound) != std::future_status::ready) {
      ADD_FAILURE() << "the job did not end";
      recorder.stop.store(true);
    }
    return done.get();
  }
};

class WmSink : public ::testing::Test {
 protected:
  void SetUp() override { UseGstWmSink(); }
  void TearDown() override { SetWmSinkFactory(nullptr); }
  tovrin_test::TTempDir dir;
};

struct TPictureCase {
  int nBits;
  int nWidth;
  int nHeight;
};

class WmSinkPictures : public WmSink, public ::testing::WithParamInterface<TPictureCase> {};

TEST_P(WmSinkPictures, EveryFrameReadsBackInOrderUprightFromTimeZero) {
  const TPictureCase c = GetParam();
  const auto file = dir / "record.wmv";
  // The recording starts in the middle of its source, at 7 s.
  TJob job(file, c.nWidth, c.nHeight, c.nBits, kFrames, 7.0);
  ASSERT_TRUE(job.Run()) << job.result.message;
  EXPECT_EQ(job.result.nFramesWritten, kFrames);
  EXPECT_TRUE(job.result.bFileFinished);
  const int nStoredWidth = c.nWidth + c.nWidth % 2;  // the encoder takes even widths: one column added

  // A plain GStreamer decode.
  const auto frames = dshow_test::DecodeFrames(file);
  ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFrames));
  for (int i = 0; i < kFrames; ++i) {
    SCOPED_TRACE(i);
    const auto& frame = frames[i];
    ASSERT_EQ(frame.nWidth, nStoredWidth);
    ASSERT_EQ(frame.nHeight, c.nHeight);
    EXPECT_EQ(tovrin_test_media::ReadCounter(frame.bgr.data(), frame.nWidth, frame.nHeight, 24, frame.nStride,
                                             false),
              i);
    EXPECT_NEAR(frame.dTime, i / 30.0, 0.002);
    EXPECT_LT(MeanDifference(job.recorder.pictures[i], c.nWidth, c.nHeight, c.nBits, frame.bgr.data(),
                             frame.nStride),
              8.0);
  }
  EXPECT_EQ(frames.front().dTime, 0.0);

  // ffmpeg, every frame as stored.
  tovrin_test_media::TCounterFile stored;
  stored.path = file;
  stored.eFormat = tovrin_test_media::TCounterFormat::WMV2;
  stored.nWidth = nStoredWidth;
  stored.nHeight = c.nHeight;
  stored.colourMatrix = "BT.601";
  const auto reference = tovrin_test_media::DecodeWithFfmpeg(stored);
  ASSERT_EQ(reference.frames.size(), static_cast<std::size_t>(kFrames));
  for (int i = 0; i < kFrames; ++i)
    EXPECT_EQ(tovrin_test_media::ReadCounter(reference.frames[i].data(), nStoredWidth, c.nHeight, 24,
                                             nStoredWidth * 3, false),
              i);
  // ffprobe's first time stamp: the stream starts at 0.
  const auto start = tovrin_test::RunCapture(
      "ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 -read_intervals %+#1 " +
      tovrin_test::Quote(file));
  ASSERT_TRUE(start.has_value());
  EXPECT_NEAR(std::stod(std::string(start->begin(), start->end())), 0.0, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Layouts, WmSinkPictures,
                         ::testing::Values(TPictureCase{24, 176, 144}, TPictureCase{24, 177, 144},
                                           TPictureCase{32, 176, 144}, TPictureCase{32, 177, 143}),
                         [](const auto& info) {
                           return std::to_string(info.param.nBits) + "bit_" +
                                  std::to_string(info.param.nWidth) + "x" +
                                  std::to_string(info.param.nHeight);
                         });

TEST_F(WmSink, AnOutputThatCannotBeCreatedFailsBeforeAFrameIsAsked) {
  const std::filesystem::path cases[] = {
      dir / "missing-folder" / "record.wmv",  // no such folder
      dir.Path(),                             // a folder
  };
  for (const auto& path : cases) {
    SCOPED_TRACE(path.string());
    TJob job(path, 64, 48, 32, 3, 0.0);
    EXPECT_FALSE(job.Run());
    EXPECT_EQ(job.request.eError, MEDIA_ERR_WM_JOB);
    EXPECT_FALSE(job.result.message.empty());
    EXPECT_EQ(job.recorder.nNext, 0u) << "no frame is taken for a file that cannot be written";
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "missing-folder"));
}

TEST_F(WmSink, AFullDiskEndsTheJobWithAnIncompleteFile) {
  const auto file = dir / "full.wmv";
  constexpr int kMany = 200;
  TJob job(file, 320, 240, 32, kMany, 0.0);
  bool bOk = true;
  {
    tovrin_test::TFileSizeLimit limit(16 * 1024);
    ASSERT_TRUE(limit.Ok());
    bOk = job.Run();
  }
  EXPECT_FALSE(bOk);
  EXPECT_EQ(job.request.eError, MEDIA_ERR_WM_JOB);
  EXPECT_FALSE(job.result.bFileFinished);
  EXPECT_NE(job.result.message.find("incomplete"), std::string::npos) << job.result.message;
  EXPECT_LT(job.result.nFramesWritten, kMany);
  EXPECT_EQ(job.recorder.nNext, static_cast<std::size_t>(kMany)) << "the recorder is still emptied";
}

}  // namespace
