// The document's recording: "Start / Stop recording" while a generated raw
// YUV clip plays, the numbering of recording sessions and takes, the saved
// recorder settings, and the reference save into a recorder's one file.
// Then what the settings do to a recording of a media file: the sampling, the
// custom-sampling switch, AVI on a channel without a capture device, the
// Windows Media profile, and the frame range of picture files and MNG; the
// frames written are told by the index each picture of the file shows, read
// back by independent decoders (ffmpeg for the source and the Windows Media
// files, libmng for MNG, the bytes of the BMP files).

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "document/command_ids.h"
#include "io/dshow/dshow_util.h"
#include "shell/command_ids.h"
#include "tests/io/mng_test_files.h"
#include "tests/support/media/counter_fixtures.h"
#include "yuv_clip_fixture.h"

using namespace ZarnTypes;
using namespace clip_test;
using doc_test::RunUntil;
using doc_test::TDocumentWindow;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The frame numbers of a recorded raw YUV file, in file order: -1 for a
// frame that is not the coded frame it looks like, -2 for a partial frame.
std::vector<int> FileFrames(const fs::path& path) {
  const std::vector<std::uint8_t> file = ReadAll(path);
  std::vector<int> frames;
  std::size_t at = 0;
  for (; at + kFrameBytes <= file.size(); at += kFrameBytes) {
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

// An application that counts the recorders' takes.
class TRecordingApplication : public open_test::TSettingsApplication {
 public:
  std::int32_t NextRecordingNumber() override { return ++takes; }
  std::int32_t takes = 0;
};

class RecordDocTest : public TClipDocumentTest<TRecordingApplication> {
 protected:
  bool OpenClip(int channel, int frames) { return Open(channel, Clip(ClipName(channel), frames)); }
  // Channel 0's recorder records one raw YUV file into the test's folder.
  void RecordIntoOneFile(const fs::path& folder) {
    SaveStream::CSaveStream& r = doc.m_Recorder[0];
    r.SetOutputFileFormat(kYuvFormat);
    r.m_bSingleFile = true;
    r.m_sOutputFolder = folder.string();
    r.m_sPrefix = "take";
    r.m_sTitle = "";
    r.m_sExtension = ".yuv";
  }
  bool Playing() const { return doc.m_Engine.IsRunning(); }
  void PlayToTheEnd() {
    Run(shell::ID_NAVIGATE_START_PAUSE);
    ASSERT_TRUE(RunUntil([this] { return !Playing(); }));
  }
};

}  // namespace

// Run while no channel is selected for recording (the toolbar button before
// its next update): the command flips only the document's switch.
TEST_F(RecordDocTest, RunAnywayWithoutASelectedChannelFlipsOnlyTheSwitch) {
  ASSERT_TRUE(OpenClip(0, 200));
  RecordIntoOneFile(dir / "rec");
  doc.ch_nDecoderVideoOutPeriod = 5;
  EXPECT_FALSE(Enabled(shell::ID_CAPTURE_RECORD));
  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(Playing());
  doc.OnCaptureRecord();
  EXPECT_TRUE(doc.m_bRecording);
  EXPECT_FALSE(doc.m_Recorder[0].IsOpen());
  for (int ch = 0; ch < 4; ++ch) EXPECT_FALSE(doc.m_bRecordChannel[ch]) << ch;
  doc.OnCaptureRecord();
  EXPECT_FALSE(doc.m_bRecording);
  doc.m_Engine.StopPlaying();
  ASSERT_TRUE(RunUntil([this] { return !Playing(); }));
  EXPECT_FALSE(fs::exists(dir / "rec"));
  EXPECT_TRUE(sink.Texts().empty());
}

// Started while the clip plays, the recording holds the frames from the
// start to the end; the next session, still recording, is a new recording
// in a new file, and each takes the next take number.
TEST_F(RecordDocTest, EachSessionThatRecordsIsANewRecording) {
  constexpr int kFrames = 60;
  ASSERT_TRUE(OpenClip(0, kFrames));
  RecordIntoOneFile(dir / "rec");
  doc.m_bRecordChannel[0] = true;
  doc.ch_nDecoderVideoOutPeriod = 5;
  const std::int32_t takesAtSetUp = app.takes;
  EXPECT_EQ(takesAtSetUp, 4) << "the set-up numbers each of the four recorders";
  EXPECT_TRUE(Enabled(shell::ID_CAPTURE_RECORD));

  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(RunUntil([this] { return doc.ShownFrame(0) >= 10; }));
  Run(shell::ID_CAPTURE_RECORD);
  EXPECT_TRUE(doc.m_bRecording);
  EXPECT_TRUE(doc.m_Recorder[0].IsOpen());
  const std::string first = doc.m_Recorder[0].m_sSingleFileName;
  ASSERT_TRUE(RunUntil([this] { return !Playing(); }));
  const std::vector<int> firstFrames = FileFrames(first);
  ASSERT_FALSE(firstFrames.empty());
  EXPECT_GE(firstFrames.front(), 10);
  for (std::size_t i = 1; i < firstFrames.size(); ++i) EXPECT_EQ(firstFrames[i], firstFrames[i - 1] + 1);
  EXPECT_EQ(firstFrames.back(), kFrames - 1);

  PlayToTheEnd();
  const std::string second = doc.m_Recorder[0].m_sSingleFileName;
  EXPECT_NE(second, first);
  EXPECT_EQ(fs::path(first).filename(),
            "take_" + std::string(3 - std::to_string(doc.m_nRecordSession - 1).size(), '0') +
                std::to_string(doc.m_nRecordSession - 1) + ".yuv");
  std::vector<int> all;
  for (int k = 0; k < kFrames; ++k) all.push_back(k);
  EXPECT_EQ(FileFrames(second), all);
  EXPECT_EQ(FileFrames(first), firstFrames) << "the second session touched the first recording";
  EXPECT_EQ(doc.m_Recorder[0].m_nRecordingNumber, takesAtSetUp + 2);
  EXPECT_TRUE(sink.Texts().empty());
}

// A recorder that cannot open its file is reported and takes its channel
// out of the recording; the command's button follows.
TEST_F(RecordDocTest, ARecorderThatCannotOpenLeavesTheRecording) {
  ASSERT_TRUE(OpenClip(0, 200));
  tovrin_test::WriteAll(dir / "blocked", std::string("x"));
  RecordIntoOneFile(dir / "blocked" / "rec");
  doc.m_bRecordChannel[0] = true;
  doc.ch_nDecoderVideoOutPeriod = 5;
  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(Playing());
  Run(shell::ID_CAPTURE_RECORD);
  EXPECT_TRUE(doc.m_bRecording);
  EXPECT_FALSE(doc.m_bRecordChannel[0]);
  EXPECT_FALSE(Enabled(shell::ID_CAPTURE_RECORD));
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0], "Open \"Save Sequence\" channel 0 \n Can not open output file " +
                                 doc.m_Recorder[0].m_sSingleFileName +
                                 " \n Saving for channel has been disabled");
}

// The reference save appends a raw YCbCr picture to the one file of the
// recorder with the writer's index while it is open, and writes a numbered
// file of its own otherwise.
TEST_F(RecordDocTest, TheReferenceSaveAppendsToARecordersOpenFile) {
  doc_test::TPicture white = doc_test::MakeSolid(kWidth, kHeight, 0xFFFFFF);
  doc_test::LoadPicture(doc, 2, white);
  SaveImage::CSaveImage& saver = doc.m_ImageSaver[0];
  saver.m_eCaptureFormat = static_cast<TStreamType>(FileFormatToStreamType(kYuvFormat));
  saver.m_sOutputFolder = (dir / "refs").string();
  SaveStream::CSaveStream& recorder = doc.m_Recorder[0];
  RecordIntoOneFile(dir.Path());
  recorder.m_sSingleFileName = (dir / "one.yuv").string();
  ASSERT_TRUE(recorder.Open());
  ASSERT_TRUE(doc.SaveReferenceImage(0, 1, false));
  ASSERT_TRUE(doc.SaveReferenceImage(0, 2, false));
  ASSERT_TRUE(recorder.Close());
  // White: luma 235, neutral chroma, twice.
  std::vector<std::uint8_t> frame(kFrameBytes, 128);
  std::fill_n(frame.begin(), kWidth * kHeight, std::uint8_t{235});
  std::vector<std::uint8_t> both = frame;
  both.insert(both.end(), frame.begin(), frame.end());
  EXPECT_EQ(ReadAll(dir / "one.yuv"), both);
  EXPECT_FALSE(fs::exists(dir / "refs"));
  // Closed: a numbered file of its own.
  ASSERT_TRUE(doc.SaveReferenceImage(0, 3, false));
  EXPECT_EQ(ReadAll(saver.BuildFileName(3)), frame);
  EXPECT_EQ(ReadAll(dir / "one.yuv").size(), 2 * kFrameBytes);
  EXPECT_TRUE(sink.Texts().empty());
}

// Separate JPEG files are written with the recorder's own quality, not the
// document's.
TEST_F(RecordDocTest, RecordedJpegFilesTakeTheRecordersQuality) {
  // A picture with detail, where the quality shows in the file's size.
  doc_test::TPicture busy = doc_test::MakePicture(128, 96, [](int x, int y) {
    return static_cast<std::uint32_t>((x * 37 + y * 91) * 2654435761u) & 0xFFFFFF;
  });
  doc_test::LoadPicture(doc, 0, busy);
  doc.m_Encoders.nJpegQuality = 95;
  SaveStream::CSaveStream& r = doc.m_Recorder[0];
  r.SetOutputFileFormat(FF_JPEG);
  r.m_Encoder.nJpegQuality = 10;
  r.m_sOutputFolder = (dir / "rec").string();
  r.m_sPrefix = "q";
  r.m_sExtension = ".jpg";
  doc.m_bRecordChannel[0] = true;
  doc.m_RecordWriter.SetSettings(0, doc.RecordSettings(0));
  ASSERT_TRUE(doc.WriteRecordedFrame(0, 1));
  const fs::path recorded = r.GetOutputFileName(1);
  const VideoPort::TPicture picture = doc.m_VideoPortHub.Port(0).FrontBitmap();
  ASSERT_TRUE(picture);
  ASSERT_TRUE(doc.SaveImageByFormat(Path("document.jpg"), FF_JPEG, *picture));
  ASSERT_TRUE(fs::exists(recorded));
  EXPECT_LT(fs::file_size(recorded) * 2, fs::file_size(Path("document.jpg")));
}

// Which picture a channel records when its recorder asks for the
// picture-in-picture composite: its own with its inset (channels 0 and 1),
// or with the pane-layout switch the picture of the channel its pane shows;
// nothing composite unless the channel's record is enabled too.
TEST_F(RecordDocTest, TheCompositeFollowsThePaneLayoutSwitch) {
  struct TCase {
    int channel;
    bool recorderPip, paneLayout, pipEnabled;
    bool composite;
    int mainChannel;
  };
  const TCase cases[] = {
      {0, true, false, true, true, 0},    {1, true, false, true, true, 1}, {2, true, false, true, true, -1},
      {2, true, true, true, true, 3},     {3, true, true, true, true, 0},  {1, false, false, true, false, -1},
      {1, true, false, false, false, -1},
  };
  doc.m_nPaneChannel[2] = 3;
  doc.m_nPaneChannel[3] = 0;
  for (const TCase& c : cases) {
    SaveStream::CSaveStream& r = doc.m_Recorder[static_cast<std::size_t>(c.channel)];
    r.m_bPictureInPicture = c.recorderPip;
    r.m_bPaneLayout = c.paneLayout;
    TPictInPict& pip = doc.m_Pip[c.channel];
    pip.bEnabled = c.pipEnabled;
    pip.nInsetChannel = 2;
    pip.nPlacement = 1;
    pip.nX = 5;
    pip.nY = 6;
    const RecordWriter::TRecordSettings s = doc.RecordSettings(c.channel);
    EXPECT_EQ(s.pip.bEnabled, c.composite) << c.channel;
    if (!c.composite) continue;
    EXPECT_EQ(s.pip.nMainChannel, c.mainChannel) << c.channel;
    EXPECT_EQ(s.pip.nInsetChannel, 2);
    EXPECT_EQ(s.pip.insetRect.x, 5);
    EXPECT_EQ(s.pip.insetRect.y, 6);
  }
}

// The saved recorder settings reach the recorders, and go back into the
// saved records unchanged, byte for byte.
TEST(RecordSettingsTest, SavedRecorderSettingsGoBackByteForByte) {
  TRecordingApplication app;
  app.settingsRead = true;
  std::uint8_t seed = 7;
  for (int ch = 0; ch < 4; ++ch) {
    shell::TRecorderCfg& cfg = app.cfg.recorder[static_cast<std::size_t>(ch)];
    // Every byte of every block and field set to something, flag bytes to 2.
    auto fill = [&seed](auto& block) {
      for (auto& b : block) b = seed = static_cast<std::uint8_t>(seed * 37 + 11);
    };
    fill(cfg.jpeg2000);
    fill(cfg.png);
    fill(cfg.gif);
    fill(cfg.tiff);
    fill(cfg.avi);
    fill(cfg.windowsMedia);
    cfg.windowsMedia[24] = 2;  // "Enable custom sampling in writer"
    cfg.windowsMedia[32] = 0;  // "Create a new profile according to the features of input streams"
    cfg.singleFile = 2;
    cfg.clipDigits = 4 + ch;
    cfg.frameDigits = 6;
    cfg.samplingMethod = 3;
    cfg.timeBegin = 1.5;
    cfg.timeEnd = -2.25;
    cfg.timeStep = 0.125;
    cfg.sampleBegin = 10 + ch;
    cfg.sampleEnd = 1LL << 40;
    cfg.sampleStep = 3;
    cfg.addSuffix = 0;
    cfg.format = kYuvFormat - ch;
    cfg.jpegQuality = 55 + ch;
    cfg.pipEnabled = 3;
    cfg.primaryAsShown = 1;
    shell::TChannelNaming& names = app.sequence[static_cast<std::size_t>(ch)];
    names.dirOut = "/rec/" + std::to_string(ch);
    names.titleBase = "title";
    names.prefix = "p";
    names.suffix = "s";
    names.extension = ".yuv";
  }
  const std::array<shell::TRecorderCfg, 4> saved = app.cfg.recorder;
  const std::array<shell::TChannelNaming, 4> names = app.sequence;
  TDocumentWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
  for (int ch = 0; ch < 4; ++ch) {
    const SaveStream::CSaveStream& r = doc.m_Recorder[static_cast<std::size_t>(ch)];
    const shell::TRecorderCfg& cfg = saved[static_cast<std::size_t>(ch)];
    EXPECT_TRUE(r.m_bSingleFile);
    EXPECT_EQ(r.m_nFirstWidth, 4 + ch);
    EXPECT_EQ(r.m_Sampling.nMode, 3);
    EXPECT_EQ(r.m_Sampling.nEndFrame, 1LL << 40);
    EXPECT_FALSE(r.m_bFirstNumber);
    EXPECT_EQ(r.m_eOutputFormat, kYuvFormat - ch);
    EXPECT_EQ(r.m_Encoder.nJpegQuality, 55 + ch);
    EXPECT_TRUE(r.m_bWindowsMedia);
    EXPECT_FALSE(r.m_bWmEmptyProfile);
    // The profile id where the Windows Media page puts it.
    EXPECT_EQ(0, std::memcmp(r.m_WmProfileGuid.data(), cfg.windowsMedia.data() + 8, 16));
    EXPECT_TRUE(r.m_bPictureInPicture);
    EXPECT_TRUE(r.m_bPaneLayout);
    EXPECT_EQ(r.m_sOutputFolder, "/rec/" + std::to_string(ch));
    // The set-up named the recording: folder, prefix and title, no session
    // number (the numbered-name flag is off), extension.
    EXPECT_EQ(r.m_sSingleFileName, "/rec/" + std::to_string(ch) + "/ptitle.yuv");
  }
  shell::TProgCfg out = app.cfg;
  std::array<shell::TChannelNaming, 4> sequence{}, images{};
  doc.StoreSavedDefaults(out, sequence, images);
  for (std::size_t ch = 0; ch < 4; ++ch) {
    EXPECT_TRUE(out.recorder[ch] == saved[ch]) << ch;
    shell::TChannelNaming expected = names[ch];
    expected.saveSingle = doc.m_Recorder[ch].m_sSingleFileName;
    EXPECT_EQ(sequence[ch], expected) << ch;
  }
}

// ---------------------------------------------------------------------------
// What the settings do in a recording of a media file

namespace {

namespace tm = tovrin_test_media;

// The recorded clip: counter pictures, 25 frames per second, small frames.
constexpr int kMediaWidth = 176;
constexpr int kMediaHeight = 144;
constexpr int kMediaChannel = 0;  // "Channel 1, Primary"
// Longest wait for a playing session (sanitizer builds decode and encode
// slowly): 5 ms ticks.
constexpr int kSessionTicks = 24000;

std::string RunCommand(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    ::pclose(pipe);
  }
  return out;
}

// The video frames ffprobe counts in a file by decoding it; -1 when it
// cannot.
int CountFrames(const fs::path& file) {
  const std::string out = RunCommand(
      "timeout 60 ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of "
      "csv=p=0 '" +
      file.string() + "' 2>/dev/null");
  try {
    return std::stoi(out);
  } catch (...) {
    return -1;
  }
}

// Mean difference of one colour byte between two top-down BGR pictures of
// the same size.
double MeanDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 1e9;
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) sum += std::abs(int{a[i]} - int{b[i]});
  return sum / static_cast<double>(a.size());
}

int DibStride(int width, int bits) { return (width * bits + 31) / 32 * 4; }

// A BMP file's picture: 24-bit bottom-up rows (empty when it is not one).
struct TBmp {
  int nWidth = 0, nHeight = 0;
  std::vector<std::uint8_t> rows;
};
TBmp ReadBmp(const fs::path& path) {
  const std::vector<std::uint8_t> file = ReadAll(path);
  TBmp bmp;
  auto get32 = [&](std::size_t at) {
    return static_cast<std::int32_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16 |
                                     static_cast<std::uint32_t>(file[at + 3]) << 24);
  };
  if (file.size() < 54 || file[0] != 'B' || file[1] != 'M' || (file[28] | file[29] << 8) != 24) return bmp;
  const std::size_t offset = static_cast<std::size_t>(get32(10));
  const int width = get32(18), height = get32(22);
  const std::size_t stride = static_cast<std::size_t>((width * 24 + 31) / 32 * 4);
  if (width <= 0 || height <= 0 || file.size() < offset + stride * static_cast<std::size_t>(height))
    return bmp;
  bmp.nWidth = width;
  bmp.nHeight = height;
  bmp.rows.assign(
      file.begin() + static_cast<std::ptrdiff_t>(offset),
      file.begin() + static_cast<std::ptrdiff_t>(offset + stride * static_cast<std::size_t>(height)));
  return bmp;
}

class RecordMediaTest : public RecordDocTest {
 protected:
  void SetUp() override {
    source = tm::CounterFile(tm::TCounterFormat::MP4_H264, kMediaWidth, kMediaHeight);
    ASSERT_FALSE(source.path.empty()) << "the counter clip cannot be made";
    reference = tm::DecodeWithFfmpeg(source);
    ASSERT_EQ(reference.frames.size(), static_cast<std::size_t>(source.nFrames));
  }

  // The channel's recording settings are made while its source is a webcam
  // (the only kind the format list offers WMV to), through the document's
  // exchange with the "Save stream" page; then the clip is opened into the
  // channel (the settings stay) and played to its end with recording on.
  void RecordClip(const std::function<void(TSaveStreamChannel&)>& settings) {
    TMediaSource webcam;
    webcam.bOpen = TRUE_;
    webcam.eStreamType = ST_SYSTEM_DEVICE;
    webcam.nDeviceCategory = 4;  // a webcam
    webcam.sDisplayName = "Test camera";
    doc.m_Source[kMediaChannel] = webcam;
    TSaveStreamExchange block;
    block.header.op = OPTS_XCHG_READ;
    doc.ExchangeSaveStreamSettings(block);
    ASSERT_TRUE(block.header.answered);
    TSaveStreamChannel& c = block.channels[kMediaChannel];
    c.enabled = 1;
    c.singleFile = 1;
    c.folder = (dir / "rec").string();
    c.prefix = "take";
    c.titleBase = "";
    c.addSuffix = 0;
    c.samplingMethod = 1;
    settings(c);
    block.recordingOn = 1;
    block.header.op = OPTS_XCHG_WRITE;
    block.header.answered = 0;
    doc.ExchangeSaveStreamSettings(block);
    ASSERT_TRUE(block.header.answered);
    ASSERT_TRUE(doc.OpenSource(source.path.string(), kMediaChannel));
    ASSERT_NE(doc.m_Source[kMediaChannel].eStreamType, ST_SYSTEM_DEVICE);
    ASSERT_TRUE(doc.m_bRecordChannel[kMediaChannel]) << "opening the file kept the channel's recording";
    Run(shell::ID_NAVIGATE_START_PAUSE);
    ASSERT_TRUE(RunUntil([this] { return !Playing(); }, kSessionTicks)) << "the session does not end";
  }
  static void WindowsMedia(TSaveStreamChannel& c, bool customSampling,
                           const std::array<std::uint8_t, 16>& profile = {}) {
    c.format = FF_WMV;
    c.extension = ".wmv";
    std::copy(profile.begin(), profile.end(), c.windowsMedia.begin() + 8);
    c.windowsMedia[24] = customSampling ? 1 : 0;
    c.windowsMedia[32] = 1;  // a new profile: changes nothing in the file
  }
  static std::array<std::uint8_t, 16> ProfileId(const std::string& name) {
    for (const auto& profile : DShowMgr::WmProfileTable())
      if (name == profile.pName) return profile.id;
    ADD_FAILURE() << name;
    return {};
  }
  fs::path Recorded() const { return doc.m_Recorder[kMediaChannel].m_sSingleFileName; }

  // The clip's frames a Windows Media file holds, told by their index; each
  // is checked against the independent decode of the clip's frame. The
  // count of frames ffprobe decodes must agree.
  std::vector<int> WrittenFrames(const fs::path& file) {
    std::vector<int> frames;
    tm::TCounterFile written;
    written.path = file;
    written.eFormat = tm::TCounterFormat::WMV2;
    written.nWidth = kMediaWidth;
    written.nHeight = kMediaHeight;
    written.colourMatrix = source.colourMatrix;
    const tm::TReferenceFrames decoded = tm::DecodeWithFfmpeg(written);
    EXPECT_EQ(CountFrames(file), static_cast<int>(decoded.frames.size()));
    for (const std::vector<std::uint8_t>& frame : decoded.frames) {
      const int k = tm::ReadCounter(frame.data(), kMediaWidth, kMediaHeight, 24, kMediaWidth * 3, false);
      frames.push_back(k);
      if (k < 0 || k >= source.nFrames) continue;
      EXPECT_LT(MeanDifference(frame, reference.frames[static_cast<std::size_t>(k)]), 12.0) << "frame " << k;
    }
    return frames;
  }
  static std::vector<int> Frames(int first, int last, int step = 1) {
    std::vector<int> out;
    for (int k = first; k <= last; k += step) out.push_back(k);
    return out;
  }

  tm::TCounterFile source;
  tm::TReferenceFrames reference;
};

}  // namespace

// The channel's sampling with "Enable custom sampling in writer" on, and
// every frame without it: a WMV channel whose source is a file once
// recorded nothing when the switch was clear.
TEST_F(RecordMediaTest, TheSamplingDecidesWhichFramesAWindowsMediaRecordingKeeps) {
  struct TCase {
    const char* what;
    bool customSampling;
    std::int32_t method;
    double timeBegin, timeEnd, timeStep;
    std::int64_t sampleBegin, sampleEnd, sampleStep;
    std::vector<int> frames;
  };
  const std::vector<int> all = Frames(0, tm::kCounterFrames - 1);
  const TCase cases[] = {
      {"sample numbers 10..40 step 5", true, 3, 0, 0, 0, 10, 40, 5, Frames(10, 40, 5)},
      // Frames at 0.44, 0.68, 0.92 and 1.16 s: none lies on a bound.
      {"time 0.41..1.19 s step 0.21 s", true, 2, 0.41, 1.19, 0.21, 0, 0, 0, {11, 17, 23, 29}},
      {"all samples", true, 1, 0.41, 1.19, 0.21, 10, 40, 5, all},
      {"custom sampling off", false, 3, 0, 0, 0, 10, 40, 5, all},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    RecordClip([&](TSaveStreamChannel& channel) {
      WindowsMedia(channel, c.customSampling);
      channel.samplingMethod = c.method;
      channel.timeBegin = c.timeBegin;
      channel.timeEnd = c.timeEnd;
      channel.timeStep = c.timeStep;
      channel.sampleBegin = c.sampleBegin;
      channel.sampleEnd = c.sampleEnd;
      channel.sampleStep = c.sampleStep;
    });
    const SaveStream::CSaveStream& recorder = doc.m_Recorder[kMediaChannel];
    EXPECT_TRUE(recorder.LastJobSucceeded()) << recorder.LastJobMessage();
    ASSERT_TRUE(fs::exists(Recorded())) << Recorded();
    EXPECT_EQ(WrittenFrames(Recorded()), c.frames);
    EXPECT_TRUE(sink.Texts().empty()) << sink.Texts().front();
    fs::remove_all(dir / "rec");
  }
}

// Two profiles: the higher rate gives the larger file.
TEST_F(RecordMediaTest, TheProfileDecidesTheSizeOfTheFile) {
  std::uintmax_t sizes[2] = {};
  const char* profiles[2] = {"Video for broadband (340 Kbps)", "Video for high quality (2 Mbps)"};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(profiles[i]);
    RecordClip([&](TSaveStreamChannel& c) {
      WindowsMedia(c, false, ProfileId(profiles[i]));
      c.prefix = "profile" + std::to_string(i);
    });
    ASSERT_TRUE(fs::exists(Recorded()));
    EXPECT_EQ(WrittenFrames(Recorded()), Frames(0, tm::kCounterFrames - 1));
    sizes[i] = fs::file_size(Recorded());
  }
  EXPECT_LT(sizes[0] * 3 / 2, sizes[1]) << sizes[0] << " " << sizes[1];
  EXPECT_TRUE(sink.Texts().empty());
}

// AVI of a channel whose source is not a capture device: nothing could
// record it (it once started silently and wrote nothing). The start is
// refused once, naming the channel, no file is made, and the channel
// leaves the recording; the recording command refuses it the same way.
TEST_F(RecordMediaTest, AviWithoutACaptureDeviceIsRefusedNamingTheChannel) {
  const std::string refusal =
      "Recording channel 0 into an AVI file is not possible: AVI, ASF and WMA files are recorded only from "
      "capture devices; the channel is not recorded";
  RecordClip([](TSaveStreamChannel& c) {
    c.format = FF_AVI;
    c.extension = ".avi";
  });
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0], refusal);
  EXPECT_FALSE(doc.m_bRecordChannel[kMediaChannel]);
  EXPECT_FALSE(fs::exists(dir / "rec" / "take.avi"));
  EXPECT_FALSE(doc.m_Recorder[kMediaChannel].IsOpen());

  // The command, while the clip plays without recording.
  sink.Clear();
  doc.m_bRecordChannel[kMediaChannel] = true;
  doc.m_bRecording = false;
  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(Playing());
  Run(shell::ID_CAPTURE_RECORD);
  EXPECT_TRUE(doc.m_bRecording);
  EXPECT_FALSE(doc.m_bRecordChannel[kMediaChannel]);
  doc.m_Engine.StopPlaying();
  ASSERT_TRUE(RunUntil([this] { return !Playing(); }, kSessionTicks));
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0], refusal);
  EXPECT_FALSE(fs::exists(dir / "rec" / "take.avi"));
}

// A sample-number interval on a channel without a capture device: picture
// files of exactly those frames, each named by its own number, and one MNG
// file of exactly those frames (it once held every frame).
TEST_F(RecordMediaTest, ASampleNumberIntervalKeepsExactlyItsFramesInPictureFilesAndMng) {
  RecordClip([&](TSaveStreamChannel& c) {
    c.format = FF_BMP_24BIT;
    c.extension = ".bmp";
    c.singleFile = 0;
    c.frameDigits = 5;
    c.samplingMethod = 3;
    c.sampleBegin = 10;
    c.sampleEnd = 20;
    c.sampleStep = 1;
  });
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir / "rec")) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::vector<int> shown, named;
  for (const fs::path& file : files) {
    const TBmp bmp = ReadBmp(file);
    ASSERT_EQ(bmp.nWidth, kMediaWidth) << file;
    ASSERT_EQ(bmp.nHeight, kMediaHeight) << file;
    const int k = tm::ReadCounter(bmp.rows.data(), bmp.nWidth, bmp.nHeight, 24);
    shown.push_back(k);
    const std::string stem = file.stem().string();
    named.push_back(std::stoi(stem.substr(stem.find_last_not_of("0123456789") + 1)));
    if (k < 0) continue;
    EXPECT_LT(tm::ComparePictures(bmp.rows.data(), 24, DibStride(bmp.nWidth, 24), reference,
                                  static_cast<std::size_t>(k))
                  .dMean,
              4.0)
        << "frame " << k;
  }
  EXPECT_EQ(shown, Frames(10, 20));
  EXPECT_EQ(named, Frames(10, 20));
  EXPECT_TRUE(sink.Texts().empty());

  RecordClip([&](TSaveStreamChannel& c) {
    c.format = FF_MNG;
    c.extension = ".mng";
    c.prefix = "mng";
    c.samplingMethod = 3;
    c.sampleBegin = 10;
    c.sampleEnd = 20;
    c.sampleStep = 1;
  });
  EXPECT_TRUE(doc.m_Recorder[kMediaChannel].LastJobSucceeded())
      << doc.m_Recorder[kMediaChannel].LastJobMessage();
  mng_test::TReadSink read;
  mng_test::TReadRequest request(Recorded().string(), SRC_STREAM, PF_RGB24, &read);
  MngMgr::CMngMgr reader;
  reader.SetPaced(false);
  ASSERT_TRUE(reader.Run(&request.request));
  std::vector<int> inMng;
  for (const mng_test::TDelivered& frame : read.frames) {
    const int k = tm::ReadCounter(frame.bytes.data(), frame.nWidth, frame.nHeight, frame.nBits);
    inMng.push_back(k);
    if (k < 0) continue;
    EXPECT_LT(tm::ComparePictures(frame.bytes.data(), frame.nBits, DibStride(frame.nWidth, frame.nBits),
                                  reference, static_cast<std::size_t>(k))
                  .dMean,
              4.0)
        << "frame " << k;
  }
  EXPECT_EQ(inMng, Frames(10, 20));
  EXPECT_TRUE(sink.Texts().empty());
}
