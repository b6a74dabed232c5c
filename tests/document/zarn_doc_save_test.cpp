// Saving and capturing pictures from a media document: Save and Save As
// through the save prompt, Capture Image by the capture switches, the
// controller pane's "Get" and "Save" buttons and their numbers (stopped and
// while a generated raw YUV clip is paused), the capture writers' saved
// settings, the picture-in-picture composite of a pane, and the BMP files of
// decoded frames and of the primary picture.

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QImage>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "document/command_ids.h"
#include "media/dib.h"
#include "media/file_types.h"
#include "media/pip_composite.h"
#include "shell/command_ids.h"
#include "shell/doc_manager.h"
#include "shell/file_dialog_ex.h"
#include "tests/document/document_fixture.h"
#include "tests/document/open_fixture.h"
#include "tests/support/message_fixture.h"

namespace {

using namespace ZarnTypes;
using doc_test::RunUntil;
using doc_test::TDocumentWindow;
namespace pq = platform::qt;
namespace fs = std::filesystem;

// Channel c's picture: 6 x 4, a colour of its own with a bright top row, so
// that both the channel and the orientation can be told from a file.
std::uint32_t ChannelColour(int channel, int x, int y) {
  if (y == 0) return 0xF0F0F0u - static_cast<std::uint32_t>(x);
  return static_cast<std::uint32_t>(0x200000 * (channel + 1) + 0x000800 * x + 0x10 * y);
}

// A picture read back from a BMP file as 0xRRGGBB values, or empty.
std::vector<std::uint32_t> ReadBmpPixels(const fs::path& path, int& width, int& height) {
  Dib::TDibSection s;
  if (!Dib::ReadBmpFile(path, s) || (s.BitCount() != 24 && s.BitCount() != 32)) return {};
  width = s.Width();
  height = s.Height();
  std::vector<std::uint32_t> out;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = s.RowFromTop(y) + x * (s.BitCount() / 8);
      out.push_back(static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[0]);
    }
  return out;
}

std::vector<std::uint32_t> ExpectedPixels(int channel) {
  std::vector<std::uint32_t> out;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) out.push_back(ChannelColour(channel, x, y));
  return out;
}

class SaveTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  SaveTest() { DocManagerEx::SetTheDocManager(&manager); }
  ~SaveTest() override { DocManagerEx::SetTheDocManager(nullptr); }

  // Gives channel c its picture and an open source.
  void Load(int channel) {
    pictures[channel] =
        doc_test::MakePicture(6, 4, [channel](int x, int y) { return ChannelColour(channel, x, y); });
    doc_test::LoadPicture(doc, channel, pictures[channel]);
    doc.m_Source[channel].bOpen = TRUE_;
    doc.m_Source[channel].sPath = "/media/channel" + std::to_string(channel) + ".bmp";
  }
  // Capture writer c writes into a folder of its own, BMP 24 bits.
  fs::path CaptureInto(int channel, const std::string& folder) {
    SaveImage::CSaveImage& saver = doc.m_ImageSaver[static_cast<std::size_t>(channel)];
    saver.m_sOutputFolder = (dir / folder).string();
    saver.m_sPrefix = "Image";
    saver.m_nDigitCount = 3;
    saver.m_eCaptureFormat = ST_BMP_24BIT;
    return dir / folder;
  }
  bool Enabled(UINT id) {
    pq::TCmdUI ui(id);
    EXPECT_TRUE(doc.OnCmdMsg(id, pq::TCmdCode::Update, &ui)) << id;
    return ui.Enabled();
  }
  void Run(UINT id) { EXPECT_TRUE(doc.OnCmdMsg(id, pq::TCmdCode::Command, nullptr)) << id; }

  // A prompt that answers with a channel, a format and a path; counts its runs.
  void Answer(const fs::path& path, int channel, std::int32_t format) {
    manager.SetDialogRunner([=, this](FileDialogEx::CFileDialogEx& dialog) {
      ++prompts;
      seen = dialog.Settings();
      const int index = dialog.ChannelList()->findData(channel);
      EXPECT_GE(index, 0) << "channel " << channel << " not offered";
      dialog.ChannelList()->setCurrentIndex(index);
      dialog.OnChannelChosen(index);
      // The prompt starts on the document's format; another is picked.
      if (format != dialog.Settings().format) {
        EXPECT_TRUE(dialog.SelectFilterByFormat(format));
      }
      dialog.selectFile(QString::fromStdString(path.string()));
      dialog.accept();
      return dialog.result();
    });
  }
  void Cancel() {
    manager.SetDialogRunner([this](FileDialogEx::CFileDialogEx& dialog) {
      ++prompts;
      seen = dialog.Settings();
      dialog.reject();
      return dialog.result();
    });
  }

  open_test::TSettingsApplication app;
  DocManagerEx::CDocManagerEx manager;
  TDocumentWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
  doc_test::TPicture pictures[4];
  TFileDialogSettings seen;
  int prompts = 0;
};

// ---------------------------------------------------------------------------
// Save and Save As

TEST_F(SaveTest, SaveAndSaveAsWriteTheChosenChannelInTheChosenFormatAndChangeNothingElse) {
  Load(0);
  Load(2);
  const std::string title = doc.Title();
  for (UINT id : {shell::ID_FILE_SAVE, shell::ID_FILE_SAVE_AS}) {
    SCOPED_TRACE(id);
    const fs::path path = dir / ("copy" + std::to_string(id) + ".bmp");
    Answer(path, 2, FF_BMP_24BIT);
    const int before = prompts;
    Run(id);
    EXPECT_EQ(prompts, before + 1);
    // The prompt was in its save-copy mode, offering the channels with a
    // source and proposing the document's format and channel 0's size.
    EXPECT_EQ(seen.mode, FDM_SAVE_IMAGE_AS);
    EXPECT_TRUE(seen.channelAllowed[0] && seen.channelAllowed[2]);
    EXPECT_FALSE(seen.channelAllowed[1] || seen.channelAllowed[3]);
    EXPECT_EQ(seen.channelPaths[2], "/media/channel2.bmp");
    EXPECT_EQ(seen.width, 6);
    EXPECT_EQ(seen.height, 4);
    int width = 0, height = 0;
    EXPECT_EQ(ReadBmpPixels(path, width, height), ExpectedPixels(2));
    EXPECT_FALSE(manager.Settings().extended);
  }
  EXPECT_EQ(doc.m_Encoders.nValue, FF_BMP_24BIT);
  EXPECT_EQ(doc.Title(), title);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(SaveTest, TheChosenFormatAndEncoderSettingsBecomeTheDocuments) {
  Load(0);
  doc.m_Encoders.nJpegQuality = 80;
  const fs::path path = dir / "copy.png";
  Answer(path, 0, FF_PNG);
  Run(shell::ID_FILE_SAVE_AS);
  EXPECT_EQ(doc.m_Encoders.nValue, FF_PNG);
  ASSERT_TRUE(fs::exists(path));
  const auto bytes = tovrin_test::ReadAll(path);
  ASSERT_GE(bytes.size(), 8u);
  EXPECT_EQ(bytes[1], 'P');
  // The next prompt proposes what was chosen.
  Cancel();
  Run(shell::ID_FILE_SAVE);
  EXPECT_EQ(seen.format, FF_PNG);
}

TEST_F(SaveTest, CancelWritesNothingAndChangesNothing) {
  Load(0);
  doc.m_Encoders.nValue = FF_TIFF;
  doc.m_Encoders.nJpegQuality = 33;
  const ZarnTypes::TEncoderSettings before = doc.m_Encoders;
  Cancel();
  Run(shell::ID_FILE_SAVE_AS);
  EXPECT_EQ(prompts, 1);
  EXPECT_EQ(seen.format, FF_TIFF);
  EXPECT_EQ(seen.jpegQuality, 33);
  EXPECT_EQ(std::memcmp(&doc.m_Encoders.nValue, &before.nValue, sizeof before.nValue), 0);
  EXPECT_EQ(doc.m_Encoders.nJpegQuality, 33);
  EXPECT_EQ(tovrin_test::EntryCount(dir.Path()), 0u);
  EXPECT_FALSE(manager.Settings().extended);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(SaveTest, AFailedSaveSaysSoAndLeavesNoFile) {
  Load(0);
  tovrin_test::WriteAll(dir / "plain", std::string("a file, not a folder"));
  const fs::path path = dir / "plain" / "copy.bmp";
  ASSERT_FALSE(doc.OnSaveDocument(path.string()));
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0], "Can not save image to file\n" + path.string());
}

TEST_F(SaveTest, SaveCommandsNeedAChannelWithASource) {
  EXPECT_FALSE(Enabled(shell::ID_FILE_SAVE));
  EXPECT_FALSE(Enabled(shell::ID_FILE_SAVE_AS));
  Load(3);
  EXPECT_TRUE(Enabled(shell::ID_FILE_SAVE));
  EXPECT_TRUE(Enabled(shell::ID_FILE_SAVE_AS));
  // Capture Image goes with the primary channel's source.
  EXPECT_FALSE(Enabled(shell::ID_CAPTURE_IMAGE));
  Load(0);
  EXPECT_TRUE(Enabled(shell::ID_CAPTURE_IMAGE));
}

// ---------------------------------------------------------------------------
// Capture Image

TEST_F(SaveTest, CaptureImageStopsAtTheFirstChannelThatFails) {
  for (int ch = 0; ch < 4; ++ch) {
    Load(ch);
    doc.m_ImageSaver[static_cast<std::size_t>(ch)].m_bSaveToFile = 1;
  }
  const fs::path first = CaptureInto(0, "one");
  // Channel 2's folder cannot be made: a plain file stands in its place.
  tovrin_test::WriteAll(dir / "two", std::string("not a folder"));
  CaptureInto(1, "two");
  CaptureInto(2, "three");
  CaptureInto(3, "four");
  Run(shell::ID_CAPTURE_IMAGE);
  int width = 0, height = 0;
  EXPECT_EQ(ReadBmpPixels(first / "Image001.bmp", width, height), ExpectedPixels(0));
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0], "Can not capture image from the channel 2");
  // The failed capture used its number; channels 3 and 4 were not touched.
  EXPECT_EQ(doc.m_ImageSaver[1].m_nFileCounter, 1);
  EXPECT_EQ(doc.m_ImageSaver[2].m_nFileCounter, 0);
  EXPECT_EQ(doc.m_ImageSaver[3].m_nFileCounter, 0);
  EXPECT_FALSE(fs::exists(dir / "three"));
  EXPECT_FALSE(fs::exists(dir / "four"));
}

TEST_F(SaveTest, TheCaptureSwitchesChooseClipboardAndFile) {
  Load(0);
  const fs::path folder = CaptureInto(0, "shots");
  SaveImage::CSaveImage& saver = doc.m_ImageSaver[0];
  QClipboard* clipboard = QGuiApplication::clipboard();
  const struct { std::uint8_t clipboard, file; } cases[] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  int files = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.clipboard) + std::to_string(c.file));
    clipboard->setImage(QImage(2, 2, QImage::Format_RGB32));
    saver.m_bSendToClipboard = c.clipboard;
    saver.m_bSaveToFile = c.file;
    Run(shell::ID_CAPTURE_IMAGE);
    files += c.file;
    EXPECT_EQ(fs::exists(folder) ? tovrin_test::EntryCount(folder) : 0u, static_cast<std::size_t>(files));
    const QImage held = clipboard->image();
    EXPECT_EQ(held.width(), c.clipboard ? 6 : 2);
    if (c.clipboard) {
      EXPECT_EQ(held.pixel(3, 2) & 0xFFFFFFu, ChannelColour(0, 3, 2));
    }
  }
  EXPECT_EQ(saver.m_nFileCounter, 2);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(SaveTest, StoppedCapturesCountUpAndWriteTheWritersFormat) {
  Load(0);
  const fs::path folder = CaptureInto(0, "shots");
  SaveImage::CSaveImage& saver = doc.m_ImageSaver[0];
  saver.m_nFileCounter = 41;
  saver.m_eCaptureFormat = static_cast<TStreamType>(FileFormatToStreamType(FF_PNG));
  saver.m_sExtension = ".png";
  ASSERT_TRUE(doc.CaptureChannelImage(0));
  ASSERT_TRUE(doc.CaptureChannelImage(0));
  EXPECT_EQ(saver.m_nFileCounter, 43);
  for (const char* name : {"Image042.png", "Image043.png"}) {
    const auto bytes = tovrin_test::ReadAll(folder / name);
    ASSERT_GE(bytes.size(), 4u) << name;
    EXPECT_EQ(bytes[1], 'P') << name;
  }
}

// ---------------------------------------------------------------------------
// "Get" and "Save"

TEST_F(SaveTest, GetAndSaveButtonsAreConnectedAndNumberTheirFiles) {
  for (int ch = 0; ch < 4; ++ch) Load(ch);
  const fs::path first = CaptureInto(0, "first");
  const fs::path second = CaptureInto(1, "second");
  auto* controller = doc.ControllerView();
  auto button = [&](int id) { return qobject_cast<QPushButton*>(controller->Control(id)); };
  for (int id : {1031, 1041, 1023, 1042}) {
    ASSERT_NE(button(id), nullptr) << id;
    EXPECT_TRUE(button(id)->isEnabled()) << id;
  }
  // The switches do not matter to the buttons: they always write.
  button(1031)->click();  // "Get" of channel 1
  button(1041)->click();  // "Get" of channel 2
  button(1023)->click();  // "Save" of channel 3: capture writer 1's names
  button(1042)->click();  // "Save" of channel 4: capture writer 2's names
  button(1023)->click();
  int width = 0, height = 0;
  EXPECT_EQ(ReadBmpPixels(first / "Image001.bmp", width, height), ExpectedPixels(0));
  EXPECT_EQ(ReadBmpPixels(second / "Image001.bmp", width, height), ExpectedPixels(1));
  EXPECT_EQ(ReadBmpPixels(first / "Image002.bmp", width, height), ExpectedPixels(2));
  EXPECT_EQ(ReadBmpPixels(second / "Image002.bmp", width, height), ExpectedPixels(3));
  EXPECT_EQ(ReadBmpPixels(first / "Image003.bmp", width, height), ExpectedPixels(2));
  EXPECT_EQ(doc.m_ImageSaver[0].m_nFileCounter, 3);
  EXPECT_EQ(doc.m_ImageSaver[1].m_nFileCounter, 2);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(SaveTest, TheReferenceSaveTakesItsWritersFormatAndReportsFailure) {
  Load(2);
  Load(3);
  const fs::path folder = CaptureInto(1, "refs");
  doc.m_ImageSaver[1].m_eCaptureFormat = static_cast<TStreamType>(FileFormatToStreamType(FF_BMP_8BIT));
  ASSERT_TRUE(doc.SaveReferenceImage(1, 7, false));
  Dib::TDibSection s;
  ASSERT_TRUE(Dib::ReadBmpFile(folder / "Image007.bmp", s));
  EXPECT_EQ(s.BitCount(), 8);
  // Writers other than 0 and 1, and formats without a writer, give false.
  EXPECT_FALSE(doc.SaveReferenceImage(2, 1, false));
  doc.m_ImageSaver[0].m_eCaptureFormat = static_cast<TStreamType>(FileFormatToStreamType(FF_BMP_2BIT));
  ASSERT_EQ(StreamTypeToFileFormat(doc.m_ImageSaver[0].m_eCaptureFormat), FF_BMP_2BIT);
  EXPECT_FALSE(doc.SaveReferenceImage(0, 1, false));
  EXPECT_TRUE(sink.Texts().empty());
  // A folder that cannot be written is reported with the path.
  tovrin_test::WriteAll(dir / "blocked", std::string("x"));
  CaptureInto(0, "blocked");
  EXPECT_FALSE(doc.SaveReferenceImage(0, 5, false));
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0], "Can not save image to file\n" + (dir / "blocked" / "Image005.bmp").string());
}

// While a clip plays, numbers follow the shown frame and are not stored.
class SavePlayingTest : public SaveTest {
 protected:
  static constexpr int kWidth = 64, kHeight = 16;
  // Frame k: eight stripes, stripe i white when bit i of k is set.
  fs::path Clip(const std::string& name, int frames) {
    const fs::path path = dir / name;
    std::ofstream out(path, std::ios::binary);
    for (int k = 0; k < frames; ++k) {
      std::vector<char> frame(kWidth * kHeight * 3 / 2, static_cast<char>(128));
      for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
          frame[static_cast<std::size_t>(y * kWidth + x)] = static_cast<char>((k >> (x / 8)) & 1 ? 235 : 16);
      out.write(frame.data(), static_cast<std::streamsize>(frame.size()));
    }
    return path;
  }
  int PortFrame(int channel) {
    const VideoPort::TPicture picture = doc.m_VideoPortHub.Port(channel).FrontBitmap();
    if (!picture || picture->Width() != kWidth) return -1;
    int k = 0;
    for (int stripe = 0; stripe < 8; ++stripe)
      if (picture->RowFromTop(kHeight / 2)[4 * (stripe * 8 + 3) + 1] > 128) k |= 1 << stripe;
    return k;
  }
  ~SavePlayingTest() override {
    if (doc.m_Engine.IsRunning()) {
      doc.m_Engine.StopPlaying();
      RunUntil([this] { return !doc.m_Engine.IsRunning(); });
    }
  }
};

TEST_F(SavePlayingTest, GetAndSaveWhilePausedAtFrameSeventeenWriteNumberSeventeen) {
  doc.ch_nDecoderVideoOutDelay = 0;
  doc.ch_nDecoderVideoOutPeriod = 5;
  doc.m_YuvOpen.nFormat = ComposeYuvFileFormat(YUV_STD_BT601, YUV_LAYOUT_420_CENTRED, YUV_RANGE_16_235_240);
  doc.m_YuvOpen.nWidth = kWidth;
  doc.m_YuvOpen.nHeight = kHeight;
  ASSERT_TRUE(doc.OpenSource(Clip("c.yuv", 60).string(), 0));
  const fs::path folder = CaptureInto(0, "playing");
  doc.m_ImageSaver[0].m_nFileCounter = 5;
  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(RunUntil([this] { return PortFrame(0) >= 20; }));
  Run(shell::ID_NAVIGATE_START_PAUSE);  // pause
  ASSERT_TRUE(RunUntil([this] { return doc.m_Engine.IsPaused(); }));
  Run(shell::ID_REPLAY_FIRST);
  ASSERT_TRUE(RunUntil([this] { return doc.m_Engine.ReplayRequestsDone() && PortFrame(0) == 0; }));
  for (int k = 1; k <= 17; ++k) {
    Run(shell::ID_REPLAY_NEXT);
    ASSERT_TRUE(RunUntil([&] { return doc.m_Engine.ReplayRequestsDone() && PortFrame(0) == k; })) << k;
  }
  ASSERT_EQ(doc.ShownFrame(0), 17);
  qobject_cast<QPushButton*>(doc.ControllerView()->Control(1031))->click();
  EXPECT_TRUE(fs::exists(folder / "Image017.bmp"));
  // The shown frame's number is not stored.
  EXPECT_EQ(doc.m_ImageSaver[0].m_nFileCounter, 5);
  // "Save" of channel 3 takes channel 3's shown frame through writer 1's names.
  Load(2);
  doc.m_Engine.m_Channel[2].nShownFrame.store(23);
  qobject_cast<QPushButton*>(doc.ControllerView()->Control(1023))->click();
  EXPECT_TRUE(fs::exists(folder / "Image023.bmp"));
  EXPECT_EQ(doc.m_ImageSaver[0].m_nFileCounter, 5);
  EXPECT_TRUE(sink.Texts().empty());
}

// ---------------------------------------------------------------------------
// The capture writers' saved settings

TEST(SaveSettingsTest, WritersComeFromTheSavedSettingsAndGoBackWithTheirCounter) {
  tovrin_test::TTempDir dir;
  open_test::TSettingsApplication app;
  app.settingsRead = true;
  app.cfg.capture[1].saveToFile = 1;
  app.cfg.capture[1].nextClipIndex = 41;
  app.cfg.capture[1].clipDigits = 4;
  app.cfg.capture[1].format = FileFormatToStreamType(FF_BMP_8BIT);
  app.images[1].dirOut = (dir / "saved").string();
  app.images[1].prefix = "Shot";
  app.images[1].extension = ".dib";
  {
    TDocumentWindow w;
    ZarnDoc::CZarnDoc& doc = w.Doc();
    const SaveImage::CSaveImage& saver = doc.m_ImageSaver[1];
    EXPECT_EQ(saver.m_bSaveToFile, 1);
    EXPECT_EQ(saver.m_bSendToClipboard, 0);
    EXPECT_EQ(saver.m_nFileCounter, 41);
    EXPECT_EQ(saver.m_sPrefix, "Shot");
    auto picture = doc_test::MakeSolid(5, 3, 0x336699);
    doc_test::LoadPicture(doc, 1, picture);
    ASSERT_TRUE(doc.CaptureChannelImage(1));
    Dib::TDibSection saved;
    ASSERT_TRUE(Dib::ReadBmpFile(dir / "saved" / "Shot0042.dib", saved));
    EXPECT_EQ(saved.BitCount(), 8);
    w.frame->close();
    QApplication::processEvents();
  }
  EXPECT_EQ(app.cfg.capture[1].nextClipIndex, 42);
  EXPECT_EQ(app.cfg.capture[1].saveToFile, 1);
  EXPECT_EQ(app.cfg.capture[1].format, FileFormatToStreamType(FF_BMP_8BIT));
  EXPECT_EQ(app.images[1].prefix, "Shot");
  // A fresh profile sets no switch.
  open_test::TSettingsApplication fresh;
  shell::SetTheApplication(&fresh);
  TDocumentWindow w;
  for (const SaveImage::CSaveImage& saver : w.Doc().m_ImageSaver) {
    EXPECT_EQ(saver.m_bSaveToFile, 0);
    EXPECT_EQ(saver.m_bSendToClipboard, 0);
  }
  shell::SetTheApplication(&app);
}

// ---------------------------------------------------------------------------
// Picture in picture

TEST_F(SaveTest, ThePaneCompositeUsesThePanesRecordAndChannels) {
  Load(0);
  Load(1);
  Load(3);
  TPictInPict& pip = doc.m_Pip[2];
  pip.nInsetChannel = 3;
  pip.nPlacement = 1;
  pip.nX = 2;
  pip.nY = 1;
  pip.nWidth = 3;
  pip.nHeight = 2;
  pip.nSourceRect = 1;
  pip.nSourceX = 0;
  pip.nSourceY = 0;  // the inset's top rows
  pip.nSourceWidth = 3;
  pip.nSourceHeight = 2;
  doc.m_nPaneChannel[2] = 1;
  Dib::TDibSection composite;
  ASSERT_TRUE(doc.BuildPipComposite(2, false, composite));
  auto pixel = [&](int x, int y) {
    const std::uint8_t* p = composite.RowFromTop(y) + 4 * x;
    return static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[0];
  };
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool inset = x >= 2 && x < 5 && y >= 1 && y < 3;
      EXPECT_EQ(pixel(x, y), inset ? ChannelColour(3, x - 2, y - 1) : ChannelColour(1, x, y))
          << x << "," << y;
    }
  // Without the placement flag the inset goes to the top left; the
  // own-channel form takes channel `index` (0 or 1 only) as the main picture.
  pip.nPlacement = 0;
  doc.m_Pip[1] = pip;
  ASSERT_TRUE(doc.BuildPipComposite(1, true, composite));
  EXPECT_EQ(pixel(0, 0), ChannelColour(3, 0, 0));
  EXPECT_EQ(pixel(5, 3), ChannelColour(1, 5, 3));
  EXPECT_FALSE(doc.BuildPipComposite(2, true, composite));
  EXPECT_FALSE(doc.BuildPipComposite(4, false, composite));
}

// ---------------------------------------------------------------------------
// BMP files of decoded frames and of the primary picture

TEST_F(SaveTest, DecodedFramesAreNumberedInTheDecoderFolderWithOrWithoutASeparator) {
  // A 3 x 2 frame: white top row, black bottom row, neutral chroma.
  const std::uint8_t yuv[] = {235, 235, 235, 16, 16, 16, 128, 128, 128, 128};
  doc.ch_bEnableSaveDecodedFramesBmp = true;
  fs::create_directories(dir / "out");
  for (const std::string& folder : {(dir / "out").string(), (dir / "out").string() + "/"}) {
    SCOPED_TRACE(folder);
    doc.ch_sSysDirH264 = folder;
    fs::remove(dir / "out" / "000042.bmp");
    // As the engine hands a shown layer frame to its owner.
    doc.EngineOwner().DecodedFrameShown(42, yuv, 3, 2);
    const fs::path file = dir / "out" / "000042.bmp";
    ASSERT_TRUE(fs::exists(file));
    EXPECT_FALSE(fs::exists(dir / "out000042.bmp"));
    // 54 bytes of headers, then two rows of 3 pixels padded to 12 bytes.
    EXPECT_EQ(fs::file_size(file), 54u + 2 * 12);
    int width = 0, height = 0;
    const auto pixels = ReadBmpPixels(file, width, height);
    ASSERT_EQ(pixels.size(), 6u);
    // Studio-range white and black: the top row white, the bottom black.
    for (int i = 0; i < 3; ++i) {
      EXPECT_GE(pixels[static_cast<std::size_t>(i)] & 0xFF, 250u) << i;
      EXPECT_LE(pixels[static_cast<std::size_t>(3 + i)] & 0xFF, 5u) << i;
    }
  }
  // Switched off, nothing is written.
  doc.ch_bEnableSaveDecodedFramesBmp = false;
  doc.EngineOwner().DecodedFrameShown(43, yuv, 3, 2);
  EXPECT_FALSE(fs::exists(dir / "out" / "000043.bmp"));
}

TEST_F(SaveTest, TwentyFourBitRowsArePaddedToFourBytes) {
  const std::uint8_t bits[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  // bottom row
                               10, 11, 12, 13, 14, 15, 16, 17, 18};
  const fs::path path = dir / "rows.bmp";
  ASSERT_TRUE(doc.WriteRgb24AsBmp(bits, 3, 2, path.string()));
  const auto file = tovrin_test::ReadAll(path);
  ASSERT_EQ(file.size(), 54u + 24);
  EXPECT_EQ(file[28], 24);                  // bits per pixel
  EXPECT_EQ(file[34] | file[35] << 8, 24);  // image size: 2 rows of 12
  EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 54, file.begin() + 63),
            std::vector<std::uint8_t>(bits, bits + 9));  // first row as given
  EXPECT_EQ(file[63] | file[64] | file[65], 0);          // padding
  EXPECT_EQ(file[66], 10);                               // second row at 12 bytes
}

TEST_F(SaveTest, ThePrimaryPictureIsSavedUpright) {
  Load(0);
  const fs::path path = dir / "primary.bmp";
  ASSERT_TRUE(doc.SavePrimaryPictureAsBmp(path.string()));
  int width = 0, height = 0;
  EXPECT_EQ(ReadBmpPixels(path, width, height), ExpectedPixels(0));
  EXPECT_FALSE(doc.SavePrimaryPictureAsBmp(""));
}

}  // namespace
