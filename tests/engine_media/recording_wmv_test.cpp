// Recording to Windows Media end to end: four channels played by the engine
// and recorded at once, each through its recorder's frame pipeline and
// writer thread into the GStreamer encoder. Every file is read back by a
// plain GStreamer decode and by ffmpeg: it holds its own channel's frames
// (each picture carries its index as a block code, the channels in ranges
// of their own, one channel the frames of a media file), all of them, in
// order, upright, at times rising from 0. Failures (an output that cannot be
// made, a full disk, a channel of YUV frames) end that channel's recording,
// are reported once and leave no thread.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "document/engine/zarn.h"
#include "io/codecs/wm_writer.h"
#include "io/dshow/wm_sink_gst.h"
#include "platform/message_sink.h"
#include "tests/dshow/dshow_fixtures.h"
#include "tests/engine/engine_fixture.h"
#include "tests/engine/recording_fixture.h"
#include "tests/support/media/counter_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using namespace ZarnTypes;
using engine_test::PictureSource;
using engine_test::TPictureReader;
using engine_test::TRecordingOwner;
using engine_test::WaitFor;

constexpr auto kSessionBound = std::chrono::seconds(180);  // sanitizer builds encode slowly

std::uint8_t Clamp8(double d) { return static_cast<std::uint8_t>(std::clamp(std::lround(d), 0L, 255L)); }

// The counter picture of index n into bottom-up DIB rows of 24 or 32 bits.
void PaintCounter(int n, int width, int height, TPixelFormat format, std::uint8_t* out) {
  const auto yuv = tovrin_test_media::CounterPictureI420(n, width, height);
  const int cw = (width + 1) / 2, ch = (height + 1) / 2;
  const std::uint8_t* pY = yuv.data();
  const std::uint8_t* pU = pY + static_cast<std::size_t>(width) * height;
  const std::uint8_t* pV = pU + static_cast<std::size_t>(cw) * ch;
  const int bpp = format == PF_RGB24 ? 3 : 4;
  const int stride = TPictureReader::Stride(width, format);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = out + static_cast<std::size_t>(height - 1 - y) * stride;
    for (int x = 0; x < width; ++x) {
      const double c = 1.164 * (pY[static_cast<std::size_t>(y) * width + x] - 16);
      const double u = pU[static_cast<std::size_t>(y / 2) * cw + x / 2] - 128;
      const double v = pV[static_cast<std::size_t>(y / 2) * cw + x / 2] - 128;
      row[x * bpp + 0] = Clamp8(c + 2.018 * u);
      row[x * bpp + 1] = Clamp8(c - 0.813 * v - 0.391 * u);
      row[x * bpp + 2] = Clamp8(c + 1.596 * v);
      if (bpp == 4) row[x * bpp + 3] = 0;
    }
  }
}

class RecordingWmv : public ::testing::Test {
 protected:
  RecordingWmv() {
    WmWriter::UseGstWmSink();
    owner.pEngine = &engine;
    owner.folder = dir.Path().string();
    for (int ch = 0; ch < 4; ++ch) owner.m_Config.source[ch] = TMediaSource{};
  }
  ~RecordingWmv() override {
    engine.StopPlaying();
    if (!WaitFor([&] { return !engine.IsRunning(); }, kSessionBound)) {
      std::fprintf(stderr, "the recording session hangs after its stop; giving up\n");
      std::abort();
    }
    engine.Shutdown();
    WmWriter::SetWmSinkFactory(nullptr);
  }
  // A recording channel whose reader delivers `count` pictures.
  void Record(int channel, int width, int height, TPixelFormat format, int count,
              TPictureReader::TPaint paint) {
    readers.push_back(std::make_unique<TPictureReader>(width, height, format, count, std::move(paint)));
    owner.m_pReader[channel] = readers.back().get();
    owner.m_Config.source[channel] = PictureSource(width, height, format);
    owner.record[channel] = true;
    engine.m_Channel[channel].bRecordChannel.store(true);
    enable[channel] = true;
  }
  // Counter pictures first..first+count-1.
  void RecordCounters(int channel, int width, int height, TPixelFormat format, int first, int count) {
    Record(channel, width, height, format, count,
           [=](int k, std::uint8_t* out) { PaintCounter(first + k, width, height, format, out); });
  }
  void Play() {
    engine.SetPlayChannels(enable);
    engine.m_bRecording.store(true);
    ASSERT_TRUE(engine.StartPlaying());
    ASSERT_TRUE(WaitFor([&] { return !engine.IsRunning(); }, kSessionBound));
  }
  SaveStream::CSaveStream& Recorder(int channel) {
    return *owner.recorders[static_cast<std::size_t>(channel)];
  }

  // The counters of a file as GStreamer and ffmpeg read them, with
  // GStreamer's frame times.
  struct TReadBack {
    std::vector<int> gst;
    std::vector<double> times;
    std::vector<int> ffmpeg;
  };
  static TReadBack ReadBack(const std::string& file, int width, int height) {
    TReadBack out;
    for (const auto& frame : dshow_test::DecodeFrames(file)) {
      // Top-down rows, as they are shown: an upside-down picture has no code.
      out.gst.push_back(tovrin_test_media::ReadCounter(frame.bgr.data(), frame.nWidth, frame.nHeight, 24,
                                                       frame.nStride, false));
      out.times.push_back(frame.dTime);
    }
    tovrin_test_media::TCounterFile stored;
    stored.path = file;
    stored.eFormat = tovrin_test_media::TCounterFormat::WMV2;
    stored.nWidth = width + width % 2;  // the encoder takes even widths: one column added
    stored.nHeight = height;
    stored.colourMatrix = "BT.601";
    const auto reference = tovrin_test_media::DecodeWithFfmpeg(stored);
    for (const auto& frame : reference.frames)
      out.ffmpeg.push_back(
          tovrin_test_media::ReadCounter(frame.data(), stored.nWidth, height, 24, stored.nWidth * 3, false));
    return out;
  }
  static std::vector<int> Range(int first, int count) {
    std::vector<int> numbers(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) numbers[static_cast<std::size_t>(k)] = first + k;
    return numbers;
  }

  tovrin_test::TTempDir dir;
  platform::TRecordingMessageSink messages;
  platform::TScopedMessageSink scope{&messages};
  TRecordingOwner owner;
  Zarn::CZarn engine{&owner, &owner.m_Ports};
  std::vector<std::unique_ptr<TPictureReader>> readers;
  bool enable[4] = {};
};

TEST_F(RecordingWmv, FourChannelsRecordedAtOnceEachHoldItsOwnFramesAllInOrderUprightFromTimeZero) {
  // Generated stills (32-bit), a sequence (24-bit), the frames of a media
  // file, and an odd width; each channel's pictures in a range of its own.
  const auto media = tovrin_test_media::CounterFile(tovrin_test_media::TCounterFormat::MP4_H264, 320, 240);
  ASSERT_FALSE(media.path.empty());
  const auto decoded =
      std::make_shared<std::vector<dshow_test::TDecodedFrame>>(dshow_test::DecodeFrames(media.path));
  ASSERT_EQ(decoded->size(), static_cast<std::size_t>(media.nFrames));
  struct TChannel {
    int width, height;
    TPixelFormat format;
    int first, count;
  } channels[4] = {{176, 144, PF_RGB32, 200, 30},
                   {176, 144, PF_RGB24, 100, 61},
                   {320, 240, PF_RGB32, 0, media.nFrames},
                   {177, 143, PF_RGB32, 150, 45}};
  for (int ch = 0; ch < 4; ++ch) {
    const TChannel& c = channels[ch];
    if (ch == 2) {
      Record(ch, c.width, c.height, c.format, c.count, [decoded, c](int k, std::uint8_t* out) {
        const dshow_test::TDecodedFrame& frame = (*decoded)[static_cast<std::size_t>(k)];
        const int stride = TPictureReader::Stride(c.width, c.format);
        for (int y = 0; y < c.height; ++y) {
          const std::uint8_t* in = frame.bgr.data() + static_cast<std::size_t>(y) * frame.nStride;
          std::uint8_t* row = out + static_cast<std::size_t>(c.height - 1 - y) * stride;
          for (int x = 0; x < c.width; ++x) {
            std::memcpy(row + 4 * x, in + 3 * x, 3);
            row[4 * x + 3] = 0;
          }
        }
      });
    } else {
      RecordCounters(ch, c.width, c.height, c.format, c.first, c.count);
    }
  }
  Play();
  for (int ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE("channel " + std::to_string(ch));
    const TChannel& c = channels[ch];
    EXPECT_TRUE(Recorder(ch).LastJobSucceeded()) << Recorder(ch).LastJobMessage();
    EXPECT_EQ(Recorder(ch).LastJobFramesWritten(), c.count);
    EXPECT_EQ(Recorder(ch).FramesDropped(), 0);
    EXPECT_FALSE(Recorder(ch).IsWriterRunning());
    const TReadBack back = ReadBack(owner.File(ch), c.width, c.height);
    EXPECT_EQ(back.gst, Range(c.first, c.count));
    EXPECT_EQ(back.ffmpeg, Range(c.first, c.count));
    ASSERT_EQ(back.times.size(), static_cast<std::size_t>(c.count));
    for (int k = 0; k < c.count; ++k)
      EXPECT_NEAR(back.times[static_cast<std::size_t>(k)], k / 30.0, 0.002) << k;
    EXPECT_EQ(back.times.front(), 0.0);
  }
  EXPECT_EQ(engine.m_nJobCount.load(), 0);
  EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(RecordingWmv, AChannelThatCannotBeRecordedEndsAloneReportedOnceWhileTheOthersRecord) {
  // Channel 0 writes into a folder that does not exist; channel 1 gives YUV
  // frames, which the writer cannot take; channel 3 records.
  RecordCounters(0, 64, 48, PF_RGB32, 0, 20);
  owner.fileName[0] = (dir / "missing" / "channel0.wmv").string();
  const std::filesystem::path yuv = dir / "channel1.yuv";
  engine_test::WriteRawYuv(yuv, 20);
  engine_test::TFileReader yuvReader(yuv);
  owner.m_pReader[1] = &yuvReader;
  owner.m_Config.source[1] = engine_test::YuvSource(yuv);
  owner.record[1] = true;
  engine.m_Channel[1].bRecordChannel.store(true);
  enable[1] = true;
  RecordCounters(3, 64, 48, PF_RGB32, 40, 20);
  Play();
  EXPECT_FALSE(Recorder(0).LastJobSucceeded());
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
  EXPECT_FALSE(Recorder(1).IsOpen());
  EXPECT_FALSE(std::filesystem::exists(owner.File(1)));
  EXPECT_EQ(yuvReader.m_nDelivered.load(), 20);  // the channel itself played on
  EXPECT_TRUE(Recorder(3).LastJobSucceeded()) << Recorder(3).LastJobMessage();
  EXPECT_EQ(ReadBack(owner.File(3), 64, 48).gst, Range(40, 20));
  for (int ch = 0; ch < 4; ++ch) EXPECT_FALSE(Recorder(ch).IsWriterRunning());
  EXPECT_EQ(engine.m_nJobCount.load(), 0);
  // One report per failed channel, naming it.
  const std::vector<std::string> texts = messages.Texts();
  ASSERT_EQ(texts.size(), 2u);
  for (int ch : {0, 1})
    EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                            [&](const std::string& t) {
                              return t.find("channel " + std::to_string(ch)) != std::string::npos;
                            }),
              1)
        << ch;
}

TEST_F(RecordingWmv, AFullDiskEndsTheRecordingWithAnIncompleteFileReportedOnce) {
  RecordCounters(2, 320, 240, PF_RGB32, 0, 150);
  {
    tovrin_test::TFileSizeLimit limit(16 * 1024);
    ASSERT_TRUE(limit.Ok());
    Play();
  }
  EXPECT_FALSE(Recorder(2).LastJobSucceeded());
  EXPECT_LT(Recorder(2).LastJobFramesWritten(), 150);
  EXPECT_FALSE(Recorder(2).IsWriterRunning());
  EXPECT_EQ(engine.m_nJobCount.load(), 0);
  const std::vector<std::string> texts = messages.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("channel 2"), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find("incomplete"), std::string::npos) << texts[0];
}

}  // namespace
