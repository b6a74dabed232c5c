// Recording the frames a playing engine shows: into numbered BMP, PNG, JPEG
// and raw YUV files and into one raw YUV file per channel, frame ranges,
// pause and resume, outputs that cannot be written, and switching the
// recording while frames are written (a ThreadSanitizer target).
//
// Every recorded picture is read back independently of the program's own
// readers (the BMP by hand, PNG and JPEG with the codec libraries) and
// compared with what raw YUV frame k stands for: eight stripes of 8 columns,
// stripe i white when bit i of k is set, black otherwise.

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "document/record_writer.h"
#include "io/codecs/save_stream.h"
#include "platform/message_sink.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/test_support.h"

namespace engine_test {
namespace {

using namespace ZarnTypes;
using RecordWriter::TRecordSettings;
using RecordWriter::TRecordStart;

constexpr int kRecordChannels = 4;
constexpr const char* kCannotSave = "Can not save image to file\n";

// The owner of the recording tests: the engine's recording notices go to the
// writer, as the document's engine link sends them.
class TRecordOwner : public TTestOwner {
 public:
  void FrameShown(int channel, std::int32_t frameNumber) override {
    if (m_pWriter) m_pWriter->FrameShown(channel, frameNumber);
    TTestOwner::FrameShown(channel, frameNumber);
  }
  void PrepareRecorders() override {
    if (m_pWriter) m_pWriter->PrepareRecorders();
  }
  void CloseRecorders() override {
    if (m_pWriter) m_bClosedOk.store(m_pWriter->CloseRecorders());
    m_nCloses.fetch_add(1);
  }
  RecordWriter::CRecordWriter* m_pWriter = nullptr;
  std::atomic<bool> m_bClosedOk{false};
  std::atomic<int> m_nCloses{0};
};

// What picture k looks like: RGB of pixel x.
std::array<std::uint8_t, 3> ExpectedRgb(int k, int x) {
  const std::uint8_t level = (k >> (x / 8)) & 1 ? 255 : 0;
  return {level, level, level};
}

// Top-down RGB rows of a picture file, or empty when it cannot be read.
struct TRgbPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // width * 3 per row, top row first
};

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// A 24-bit BMP file, read from its headers by hand.
TRgbPicture ReadBmp24(const std::filesystem::path& path) {
  TRgbPicture p;
  const std::vector<std::uint8_t> file = ReadAll(path);
  if (file.size() < 54 || file[0] != 'B' || file[1] != 'M') return p;
  const std::uint32_t offset = Le32(&file[10]);
  const auto width = static_cast<std::int32_t>(Le32(&file[18]));
  const auto height = static_cast<std::int32_t>(Le32(&file[22]));
  const int bits = file[28] | (file[29] << 8);
  if (bits != 24 || width <= 0 || height == 0) return p;
  const int rows = height < 0 ? -height : height;
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  if (file.size() < offset + stride * static_cast<std::size_t>(rows)) return p;
  p.width = width;
  p.height = rows;
  p.rgb.resize(static_cast<std::size_t>(width) * 3 * static_cast<std::size_t>(rows));
  for (int y = 0; y < rows; ++y) {
    // Bottom-up unless the height is negative.
    const int fileRow = height > 0 ? rows - 1 - y : y;
    const std::uint8_t* src = &file[offset + stride * static_cast<std::size_t>(fileRow)];
    for (int x = 0; x < width; ++x) {
      std::uint8_t* dst = &p.rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + x) * 3];
      dst[0] = src[x * 3 + 2];
      dst[1] = src[x * 3 + 1];
      dst[2] = src[x * 3];
    }
  }
  return p;
}

TRgbPicture ReadPng(const std::filesystem::path& path) {
  TRgbPicture p;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.string().c_str())) return p;
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
    png_image_free(&image);
    return p;
  }
  p.width = static_cast<int>(image.width);
  p.height = static_cast<int>(image.height);
  p.rgb = std::move(rgb);
  return p;
}

TRgbPicture ReadJpeg(const std::filesystem::path& path) {
  TRgbPicture p;
  const std::vector<std::uint8_t> file = ReadAll(path);
  if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) return p;
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  // A broken file ends the process through the library's default handler:
  // the recorded files are checked to start as JPEG files above.
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  p.width = static_cast<int>(info.output_width);
  p.height = static_cast<int>(info.output_height);
  p.rgb.resize(static_cast<std::size_t>(p.width) * 3 * static_cast<std::size_t>(p.height));
  while (info.output_scanline < info.output_height) {
    JSAMPROW row =
        &p.rgb[static_cast<std::size_t>(info.output_scanline) * static_cast<std::size_t>(p.width) * 3];
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return p;
}

// The largest difference between a picture and picture k (256 when the
// size differs).
int MaxDifference(const TRgbPicture& p, int k) {
  if (p.width != kWidth || p.height != kHeight) return 256;
  int worst = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const std::array<std::uint8_t, 3> want = ExpectedRgb(k, x);
      for (int c = 0; c < 3; ++c) {
        const int got = p.rgb[(static_cast<std::size_t>(y) * kWidth + x) * 3 + c];
        worst = std::max(worst, std::abs(got - want[static_cast<std::size_t>(c)]));
      }
    }
  return worst;
}

// The frames of a raw YUV file (the fixture's 4:2:0 layout), each compared
// with the coded frame: the frame numbers, in file order; -1 for a frame
// that is no coded frame, -2 for a partial frame at the end.
std::vector<int> YuvFileFrames(const std::filesystem::path& path) {
  const std::vector<std::uint8_t> file = ReadAll(path);
  std::vector<int> frames;
  std::size_t at = 0;
  for (; at + kFrameBytes <= file.size(); at += kFrameBytes) {
    // Frame k's luma rows carry k in their stripes; the whole frame must
    // then equal the coded frame k, chroma included.
    int k = 0;
    for (int stripe = 0; stripe < 8; ++stripe)
      if (file[at + static_cast<std::size_t>(stripe * 8)] > 128) k |= 1 << stripe;
    const std::vector<std::uint8_t> want = CodedFrame(k);
    frames.push_back(
        std::equal(want.begin(), want.end(), file.begin() + static_cast<std::ptrdiff_t>(at)) ? k : -1);
  }
  if (at != file.size()) frames.push_back(-2);
  return frames;
}

std::vector<int> Range(int first, int last) {
  std::vector<int> v;
  for (int k = first; k <= last; ++k) v.push_back(k);
  return v;
}

class RecordTest : public ::testing::Test {
 protected:
  RecordTest() {
    static std::atomic<int> counter{0};
    m_Dir = std::filesystem::temp_directory_path() /
            ("tovrin-record-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)));
    std::filesystem::create_directories(m_Dir);
    for (int ch = 0; ch < kRecordChannels; ++ch) {
      owner.m_Config.source[ch] = TMediaSource{};
      SaveStream::CSaveStream& r = Recorder(ch);
      r.m_sOutputFolder = (m_Dir / "out").string();
      r.m_sPrefix = "ch" + std::to_string(ch);
      r.m_sTitle = "-rec";
    }
    owner.m_pWriter = &writer;
  }
  ~RecordTest() override {
    BoundedShutdown();
    std::error_code ec;
    std::filesystem::remove_all(m_Dir, ec);
  }

  SaveStream::CSaveStream& Recorder(int ch) { return *m_Recorders[static_cast<std::size_t>(ch)]; }

  // A channel recorded as `format`, in one file or one file per frame.
  void Choose(int ch, std::int32_t format, bool singleFile, const char* extension) {
    SaveStream::CSaveStream& r = Recorder(ch);
    r.SetOutputFileFormat(format);
    r.m_bSingleFile = singleFile;
    r.m_sExtension = extension;
    engine.m_Channel[ch].bRecordChannel.store(true);
  }

  TFileReader& OpenYuv(int channel, int frames) {
    const std::filesystem::path path = m_Dir / ("channel" + std::to_string(channel) + ".yuv");
    WriteRawYuv(path, frames);
    owner.m_Config.source[channel] = YuvSource(path);
    m_Readers.push_back(std::make_unique<TFileReader>(path));
    owner.m_pReader[channel] = m_Readers.back().get();
    bool enable[4] = {};
    for (int ch = 0; ch < kRecordChannels; ++ch) enable[ch] = owner.m_pReader[ch] != nullptr;
    engine.SetPlayChannels(enable);
    return *m_Readers.back();
  }

  // What the UI thread does when a session starts: numbers and settings
  // for the selected channels, handed to the writer, then the start.
  void StartSession(bool recording, std::int32_t session) {
    TRecordStart start;
    start.nSession = session;
    for (int ch = 0; ch < kRecordChannels; ++ch) {
      start.settings[ch] = RecordWriter::SettingsOfRecorder(Recorder(ch));
      start.settings[ch].pip = m_Pip[ch];
      start.bPrepare[ch] = owner.m_pReader[ch] && engine.m_Channel[ch].bRecordChannel.load();
      start.nTake[ch] = 100 + ch;
    }
    writer.SetSessionStart(start);
    engine.m_bRecording.store(recording);
    ASSERT_TRUE(engine.StartPlaying());
    ++m_nSessions;
  }

  // The command's steps for the selected channels.
  void SwitchRecording(bool on) {
    if (on) {
      for (int ch = 0; ch < kRecordChannels; ++ch)
        if (engine.m_Channel[ch].bRecordChannel.load() &&
            !writer.SetRecorderRecording(true, ch, RecordWriter::SettingsOfRecorder(Recorder(ch))))
          engine.m_Channel[ch].bRecordChannel.store(false);
      engine.m_bRecording.store(true);
    } else {
      engine.m_bRecording.store(false);
      for (int ch = 0; ch < kRecordChannels; ++ch)
        if (engine.m_Channel[ch].bRecordChannel.load()) writer.SetRecorderRecording(false, ch, {});
    }
  }

  bool AllShown(int ch, int frames) { return static_cast<int>(owner.ShownFrames(ch).size()) >= frames; }

  // Plays until every channel with a reader has shown `frames` frames, then
  // ends the session; both bounded.
  void PlayThrough(int frames) {
    EXPECT_TRUE(WaitFor([&] {
      for (int ch = 0; ch < kRecordChannels; ++ch)
        if (owner.m_pReader[ch] && !AllShown(ch, frames)) return false;
      return true;
    })) << "not every frame was shown";
    BoundedShutdown();
    EXPECT_EQ(owner.m_nCloses.load(), m_nSessions) << "the recorders were not closed once per session";
  }

  void BoundedShutdown() {
    engine.StopPlaying();
    if (!WaitFor([&] { return !engine.IsRunning(); }, std::chrono::seconds(10))) {
      ADD_FAILURE() << "the session did not end within 10 s of the stop";
      for (const auto& reader : m_Readers) reader->ForceStop();
      if (!WaitFor([&] { return !engine.IsRunning(); }, std::chrono::seconds(5))) std::abort();
    }
    engine.Shutdown();
  }

  // The numbered file of frame k of a channel, as the recorder names it.
  std::string NumberedFile(int ch, int k) { return Recorder(ch).GetOutputFileName(k); }

  std::vector<std::filesystem::path> OutputFiles() const {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(m_Dir / "out", ec))
      files.push_back(entry.path());
    return files;
  }

  std::filesystem::path m_Dir;
  int m_nSessions = 0;
  RecordWriter::TRecordPip m_Pip[kRecordChannels];  // the composite each channel records
  platform::TRecordingMessageSink m_Messages;
  platform::TScopedMessageSink m_Sink{&m_Messages};
  std::array<std::unique_ptr<SaveStream::CSaveStream>, kRecordChannels> m_Recorders{
      std::make_unique<SaveStream::CSaveStream>(0), std::make_unique<SaveStream::CSaveStream>(1),
      std::make_unique<SaveStream::CSaveStream>(2), std::make_unique<SaveStream::CSaveStream>(3)};
  std::vector<std::unique_ptr<TFileReader>> m_Readers;
  TRecordOwner owner;
  Zarn::CZarn engine{&owner, &owner.m_Ports};
  RecordWriter::CRecordWriter writer{
      engine,
      owner.m_Ports,
      {m_Recorders[0].get(), m_Recorders[1].get(), m_Recorders[2].get(), m_Recorders[3].get()}};
};

// Four channels play at once, each recorded its own way: separate BMP, PNG
// and JPEG files, and one raw YUV file. Every channel's output holds its
// frames 0..N-1 once each, under the names the recorder gives them.
TEST_F(RecordTest, FourChannelsRecordEveryFrameInEachFormat) {
  constexpr int kFrames = 45;  // more than one scene of 30 frames
  for (int ch = 0; ch < kRecordChannels; ++ch) OpenYuv(ch, kFrames);
  Choose(0, FF_BMP_24BIT, false, ".bmp");
  Choose(1, FF_PNG, false, ".png");
  Choose(2, FF_JPEG, false, ".jpg");
  Choose(3, kYuvFormat, true, ".yuv");
  StartSession(true, 7);
  PlayThrough(kFrames);
  EXPECT_TRUE(owner.m_bClosedOk.load());
  EXPECT_TRUE(m_Messages.Texts().empty()) << m_Messages.Texts().front();

  struct TCase {
    int channel;
    const char* what;
    TRgbPicture (*read)(const std::filesystem::path&);
    int tolerance;
  };
  const TCase cases[] = {{0, "BMP", &ReadBmp24, 0}, {1, "PNG", &ReadPng, 0}, {2, "JPEG", &ReadJpeg, 40}};
  for (const TCase& c : cases) {
    for (int k = 0; k < kFrames; ++k) {
      const std::string name = NumberedFile(c.channel, k);
      EXPECT_EQ(std::filesystem::path(name).filename().string(),
                "ch" + std::to_string(c.channel) + "-rec_007_" + (k < 10 ? "0000" : "000") +
                    std::to_string(k) + std::filesystem::path(name).extension().string());
      EXPECT_LE(MaxDifference(c.read(name), k), c.tolerance) << c.what << " frame " << k;
    }
    EXPECT_FALSE(std::filesystem::exists(NumberedFile(c.channel, kFrames))) << c.what;
    EXPECT_EQ(writer.FramesWritten(c.channel), kFrames) << c.what;
  }
  // One file per frame for the three numbered channels, one for the YUV one.
  EXPECT_EQ(OutputFiles().size(), static_cast<std::size_t>(3 * kFrames + 1));
  EXPECT_EQ(std::filesystem::path(Recorder(3).m_sSingleFileName).filename(), "ch3-rec_007.yuv");
  EXPECT_EQ(YuvFileFrames(Recorder(3).m_sSingleFileName), Range(0, kFrames - 1));
}

// One raw YUV frame per file is a numbered file like the others.
TEST_F(RecordTest, SeparateRawYuvFilesHoldOneFrameEach) {
  constexpr int kFrames = 12;
  OpenYuv(0, kFrames);
  Choose(0, kYuvFormat, false, ".yuv");
  StartSession(true, 1);
  PlayThrough(kFrames);
  for (int k = 0; k < kFrames; ++k) EXPECT_EQ(YuvFileFrames(NumberedFile(0, k)), std::vector<int>{k}) << k;
}

// A channel whose recorder asks for the picture-in-picture composite records
// its own picture with the inset drawn into it.
TEST_F(RecordTest, ThePictureInPictureCompositeIsRecorded) {
  constexpr int kFrames = 12;
  OpenYuv(0, kFrames);
  Choose(0, FF_BMP_24BIT, false, ".bmp");
  // Channel 1 does not play; its port holds a red picture.
  std::vector<std::uint8_t> red(32 * 16 * 4);
  for (std::size_t i = 0; i < red.size(); i += 4) red[i + 2] = 255;
  TFrameBuffer frame{};
  frame.ePixelFormat = PF_RGB32;
  frame.nBitsPerPixel = 32;
  frame.nWidth = 32;
  frame.nHeight = 16;
  frame.nStride = 32 * 4;
  frame.nSize = static_cast<std::int32_t>(red.size());
  frame.nRowAlignment = 4;
  frame.pBuffer = red.data();
  TVideoPortUpdate update{};
  update.nCommand = VPU_COPY_FRAME;
  update.nPortIndex = 1;
  update.pSourceFrame = &frame;
  update.bSwap = 1;
  ASSERT_TRUE(owner.m_Ports.UpdatePort(update));
  RecordWriter::TRecordPip& pip = m_Pip[0];
  pip.bEnabled = true;
  pip.nMainChannel = 0;
  pip.nInsetChannel = 1;
  pip.insetRect = {8, 4, 16, 8};
  StartSession(true, 9);
  PlayThrough(kFrames);
  for (int k = 0; k < kFrames; ++k) {
    const TRgbPicture picture = ReadBmp24(NumberedFile(0, k));
    ASSERT_EQ(picture.width, kWidth);
    ASSERT_EQ(picture.height, kHeight);
    int wrong = 0;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const bool inset = x >= 8 && x < 24 && y >= 4 && y < 12;
        const std::array<std::uint8_t, 3> want =
            inset ? std::array<std::uint8_t, 3>{255, 0, 0} : ExpectedRgb(k, x);
        const std::uint8_t* got = &picture.rgb[(static_cast<std::size_t>(y) * kWidth + x) * 3];
        wrong += got[0] != want[0] || got[1] != want[1] || got[2] != want[2];
      }
    EXPECT_EQ(wrong, 0) << "frame " << k;
  }
}

// A frame range records first..last; a bound of 0 leaves that side open;
// every mode but the range records every frame.
TEST_F(RecordTest, FrameRangesTakeTheirBoundsOnlyAboveZero) {
  struct TCase {
    std::int32_t mode;
    std::int64_t first, last;
    std::vector<int> frames;
  };
  constexpr int kFrames = 30;
  const TCase cases[] = {
      {3, 10, 0, Range(10, kFrames - 1)}, {3, 0, 20, Range(0, 20)},           {3, 5, 8, Range(5, 8)},
      {1, 10, 20, Range(0, kFrames - 1)}, {2, 10, 20, Range(0, kFrames - 1)},
  };
  for (int ch = 0; ch < kRecordChannels; ++ch) OpenYuv(ch, kFrames);
  // Four channels at once, one case each; the fifth case in a second session.
  for (std::size_t first = 0; first < std::size(cases); first += kRecordChannels) {
    for (int ch = 0; ch < kRecordChannels; ++ch) {
      const std::size_t index = first + static_cast<std::size_t>(ch);
      const bool used = index < std::size(cases);
      Choose(ch, kYuvFormat, true, ".yuv");
      engine.m_Channel[ch].bRecordChannel.store(used);
      if (!used) continue;
      Recorder(ch).m_Sampling.nMode = cases[index].mode;
      Recorder(ch).m_Sampling.nStartFrame = cases[index].first;
      Recorder(ch).m_Sampling.nEndFrame = cases[index].last;
    }
    owner.ClearShown();
    StartSession(true, static_cast<std::int32_t>(first) + 1);
    PlayThrough(kFrames);
    for (int ch = 0; ch < kRecordChannels; ++ch) {
      const std::size_t index = first + static_cast<std::size_t>(ch);
      if (index >= std::size(cases)) continue;
      const TCase& c = cases[index];
      EXPECT_EQ(YuvFileFrames(Recorder(ch).m_sSingleFileName), c.frames)
          << "mode " << c.mode << " first " << c.first << " last " << c.last;
    }
  }
}

// Pausing and resuming within a session appends to the same file exactly
// the frames shown while the recording was on.
TEST_F(RecordTest, PauseAndResumeAppendOnlyTheFramesShownWhileRecording) {
  constexpr int kFrames = 250;  // frame numbers up to 255 read back from the pictures
  OpenYuv(0, kFrames);
  Choose(0, kYuvFormat, true, ".yuv");
  owner.m_Config.nVideoOutPeriod = 3;
  StartSession(true, 3);
  auto shown = [&] { return static_cast<int>(owner.ShownFrames(0).size()); };

  ASSERT_TRUE(WaitFor([&] { return shown() >= 40; }));
  // Named at the session start, before the first frame was shown.
  const std::string file = Recorder(0).m_sSingleFileName;
  const int pauseFrom = shown();
  SwitchRecording(false);
  const int pausedAt = shown();
  ASSERT_TRUE(WaitFor([&] { return shown() >= pausedAt + 30; }));
  const int resumeFrom = shown();
  SwitchRecording(true);
  const int resumedAt = shown();
  ASSERT_LT(resumedAt, kFrames - 20) << "the clip ended before the test could resume";
  PlayThrough(kFrames);
  EXPECT_EQ(Recorder(0).m_sSingleFileName, file) << "a resume opened another file";

  // Frames are shown in order 0..N-1, so shown count n means frames below n.
  const std::vector<int> frames = YuvFileFrames(file);
  ASSERT_FALSE(frames.empty());
  std::vector<int> expectedStart = Range(0, pauseFrom - 1);
  ASSERT_GE(frames.size(), expectedStart.size());
  // The frames before the pause, the frames from the resume to the end,
  // and around each switch only frames shown while it was under way.
  std::size_t i = 0;
  for (int k = 0; k < pauseFrom; ++k, ++i) ASSERT_EQ(frames[i], k);
  while (i < frames.size() && frames[i] < pausedAt) {
    EXPECT_EQ(frames[i], frames[i - 1] + 1);
    ++i;
  }
  ASSERT_LT(i, frames.size());
  EXPECT_GE(frames[i], resumeFrom) << "a frame shown while paused was recorded";
  EXPECT_LE(frames[i], resumedAt) << "a frame shown after the resume is missing";
  for (++i; i < frames.size(); ++i)
    EXPECT_EQ(frames[i], frames[i - 1] + 1) << "gap or repeat after the resume";
  EXPECT_EQ(frames.back(), kFrames - 1);
}

// A raw YUV output that cannot be created is reported with the recorder's
// message; that channel leaves the recording and the others go on.
TEST_F(RecordTest, UncreatableOutputTakesOnlyItsChannelOut) {
  constexpr int kFrames = 20;
  OpenYuv(0, kFrames);
  OpenYuv(1, kFrames);
  Choose(0, kYuvFormat, true, ".yuv");
  // The output folder cannot be made: a file stands where it should be.
  std::ofstream(m_Dir / "blocked") << "x";
  Recorder(0).m_sOutputFolder = (m_Dir / "blocked" / "folder").string();
  Choose(1, FF_BMP_24BIT, false, ".bmp");
  StartSession(true, 1);
  PlayThrough(kFrames);
  EXPECT_FALSE(engine.m_Channel[0].bRecordChannel.load());
  EXPECT_TRUE(engine.m_Channel[1].bRecordChannel.load());
  const std::vector<std::string> texts = m_Messages.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], "Open \"Save Sequence\" channel 0 \n Can not open output file " +
                          Recorder(0).m_sSingleFileName + " \n Saving for channel has been disabled");
  EXPECT_FALSE(std::filesystem::exists(Recorder(0).m_sSingleFileName));
  for (int k = 0; k < kFrames; ++k) EXPECT_EQ(MaxDifference(ReadBmp24(NumberedFile(1, k)), k), 0) << k;
}

// A numbered file that cannot be written is reported once; its channel
// leaves the recording at once while the other channel records every frame.
TEST_F(RecordTest, UnwritableNumberedFileIsReportedOnceAndTheOthersGoOn) {
  constexpr int kFrames = 20;
  OpenYuv(0, kFrames);
  OpenYuv(1, kFrames);
  Choose(0, FF_PNG, false, ".png");
  Choose(1, kYuvFormat, true, ".yuv");
  // A folder where channel 0's output folder should be made: a file.
  std::ofstream(m_Dir / "blocked") << "x";
  Recorder(0).m_sOutputFolder = (m_Dir / "blocked").string();
  StartSession(true, 2);
  PlayThrough(kFrames);
  EXPECT_FALSE(engine.m_Channel[0].bRecordChannel.load());
  const std::vector<std::string> texts = m_Messages.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], kCannotSave + NumberedFile(0, 0));
  EXPECT_EQ(writer.FramesWritten(0), 0);
  EXPECT_EQ(YuvFileFrames(Recorder(1).m_sSingleFileName), Range(0, kFrames - 1));
}

// A disk that fills half-way through a raw YUV recording: the file keeps
// whole frames only, the failure is reported once, and the close says so.
TEST_F(RecordTest, FullDiskKeepsWholeFramesAndReportsOnce) {
  constexpr int kFrames = 30;
  OpenYuv(0, kFrames);
  Choose(0, kYuvFormat, true, ".yuv");
  // Room for 10 frames and a half.
  tovrin_test::TFileSizeLimit limit(static_cast<std::uint64_t>(kFrameBytes) * 10 + kFrameBytes / 2);
  ASSERT_TRUE(limit.Ok());
  StartSession(true, 4);
  PlayThrough(kFrames);
  EXPECT_FALSE(engine.m_Channel[0].bRecordChannel.load());
  const std::vector<std::string> texts = m_Messages.Texts();
  ASSERT_EQ(texts.size(), 1u) << texts.back();
  EXPECT_EQ(texts[0], kCannotSave + Recorder(0).m_sSingleFileName);
  EXPECT_EQ(YuvFileFrames(Recorder(0).m_sSingleFileName), Range(0, 9));
  EXPECT_FALSE(owner.m_bClosedOk.load()) << "the session's close reported a whole recording";
}

// Nothing is written while the document does not record, nor for a
// channel that is not selected, nor into a recorder that is not open.
TEST_F(RecordTest, WritesOnlyWhileRecordingSelectedAndOpen) {
  constexpr int kFrames = 15;
  OpenYuv(0, kFrames);
  OpenYuv(1, kFrames);
  OpenYuv(2, kFrames);
  Choose(0, FF_BMP_24BIT, false, ".bmp");
  Choose(1, kYuvFormat, true, ".yuv");
  Choose(2, FF_BMP_24BIT, false, ".bmp");
  engine.m_Channel[2].bRecordChannel.store(false);
  // The session starts without recording: the recorders are numbered but
  // stay closed, and no frame is written.
  StartSession(false, 5);
  PlayThrough(kFrames);
  EXPECT_FALSE(Recorder(1).IsOpen());
  EXPECT_TRUE(OutputFiles().empty());
  // Written straight to a closed one-file recorder: a failure, not a
  // silent success.
  EXPECT_FALSE(writer.WriteRecordedFrame(1, 0));
  EXPECT_FALSE(engine.m_Channel[1].bRecordChannel.load());
  EXPECT_EQ(m_Messages.Texts().size(), 1u);
}

// The switch set before the recorder is open (the order the command must
// not take): frames meanwhile are not written, and nothing is reported;
// from the open on every frame goes into the file.
TEST_F(RecordTest, TheSwitchBeforeTheOpenWritesNothingUntilTheRecorderOpens) {
  constexpr int kFrames = 200;
  OpenYuv(0, kFrames);
  Choose(0, kYuvFormat, true, ".yuv");
  owner.m_Config.nVideoOutPeriod = 2;
  StartSession(false, 8);
  auto shown = [&] { return static_cast<int>(owner.ShownFrames(0).size()); };
  ASSERT_TRUE(WaitFor([&] { return shown() >= 20; }));
  engine.m_bRecording.store(true);
  const int switchedAt = shown();
  ASSERT_TRUE(WaitFor([&] { return shown() >= switchedAt + 20; }));
  const int openFrom = shown();
  ASSERT_TRUE(writer.SetRecorderRecording(true, 0, RecordWriter::SettingsOfRecorder(Recorder(0))));
  const int openedAt = shown();
  ASSERT_LT(openedAt, kFrames - 10) << "the clip ended before the recorder opened";
  PlayThrough(kFrames);
  EXPECT_EQ(m_Messages.Texts(), std::vector<std::string>{});
  EXPECT_TRUE(engine.m_Channel[0].bRecordChannel.load());
  const std::vector<int> frames = YuvFileFrames(Recorder(0).m_sSingleFileName);
  ASSERT_FALSE(frames.empty());
  EXPECT_GE(frames.front(), openFrom);
  EXPECT_LE(frames.front(), openedAt);
  EXPECT_EQ(frames, Range(frames.front(), kFrames - 1));
}

// The recording switched on, paused and resumed many times while four
// channels play and record: no race (ThreadSanitizer), and each one-file
// recording holds whole, increasing frames only.
TEST_F(RecordTest, SwitchingWhileFramesAreWrittenIsSafe) {
  constexpr int kFrames = 250;
  for (int ch = 0; ch < kRecordChannels; ++ch) OpenYuv(ch, kFrames);
  Choose(0, kYuvFormat, true, ".yuv");
  Choose(1, FF_BMP_24BIT, false, ".bmp");
  Choose(2, kYuvFormat, true, ".yuv");
  Choose(3, FF_BMP_24BIT, false, ".bmp");
  owner.m_Config.nVideoOutPeriod = 1;
  StartSession(false, 6);
  bool on = false;
  for (int i = 0; i < 200 && engine.IsRunning() && !AllShown(0, kFrames); ++i) {
    on = !on;
    SwitchRecording(on);
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
  PlayThrough(kFrames);
  EXPECT_EQ(m_Messages.Texts(), std::vector<std::string>{});
  for (int ch : {0, 2}) {
    const std::vector<int> frames = YuvFileFrames(Recorder(ch).m_sSingleFileName);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      ASSERT_GE(frames[i], 0) << "channel " << ch << " frame " << i << " is not whole";
      if (i > 0) {
        ASSERT_GT(frames[i], frames[i - 1]) << "channel " << ch;
      }
    }
  }
}

// Sessions stopped while they record, one after the other: each closes
// every recorder, and each one-file recording holds whole frames from 0 on,
// with no gap and no repeat.
TEST_F(RecordTest, StoppingWhileRecordingClosesEveryRecorder) {
  constexpr int kFrames = 250;
  for (int ch = 0; ch < kRecordChannels; ++ch) {
    OpenYuv(ch, kFrames);
    Choose(ch, ch % 2 == 0 ? kYuvFormat : FF_BMP_24BIT, ch % 2 == 0, ch % 2 == 0 ? ".yuv" : ".bmp");
  }
  owner.m_Config.nVideoOutPeriod = 1;
  for (int session = 1; session <= 4; ++session) {
    owner.ClearShown();
    StartSession(true, session);
    ASSERT_TRUE(WaitFor([&] { return AllShown(0, 20 * session); }));
    BoundedShutdown();
    EXPECT_EQ(owner.m_nCloses.load(), m_nSessions);
    for (int ch = 0; ch < kRecordChannels; ++ch) {
      EXPECT_FALSE(Recorder(ch).IsOpen()) << ch;
      if (ch % 2 != 0) continue;
      const std::vector<int> frames = YuvFileFrames(Recorder(ch).m_sSingleFileName);
      ASSERT_FALSE(frames.empty()) << "session " << session << " channel " << ch;
      EXPECT_EQ(frames, Range(0, frames.back())) << "session " << session << " channel " << ch;
    }
  }
  EXPECT_EQ(m_Messages.Texts(), std::vector<std::string>{});
}

}  // namespace
}  // namespace engine_test
