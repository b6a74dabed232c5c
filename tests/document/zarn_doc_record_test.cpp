// The document's recording: "Start / Stop recording" while a generated raw
// YUV clip plays, the numbering of recording sessions and takes, the saved
// recorder settings, and the reference save into a recorder's one file.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "document/command_ids.h"
#include "shell/command_ids.h"
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
    cfg.windowsMedia[28] = 2;  // the recorder's own Windows Media writer
    cfg.windowsMedia[36] = 0;  // the empty-profile flag
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
    EXPECT_EQ(0, std::memcmp(r.m_WmProfileGuid.data(), cfg.windowsMedia.data() + 12, 16));
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
