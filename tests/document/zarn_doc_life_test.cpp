// A document's life: the start-file values and saved defaults it takes at
// set-up, the defaults it gives back when it goes, and closing.

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "document/zarn_doc.h"
#include "document_fixture.h"
#include "open_fixture.h"
#include "shell/command_ids.h"
#include "shell/prog_cfg.h"
#include "tests/support/message_fixture.h"

using namespace ZarnTypes;
using open_test::TSettingsApplication;

namespace {

std::int32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                   static_cast<std::uint32_t>(b[at + 3]) << 24);
}

class LifeTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  TSettingsApplication app;
};

// ---------------------------------------------------------------------------
// Start-file values

TEST_F(LifeTest, AStartFileThatSetsOnlyTheTickPeriodChangesOnlyThatValue) {
  app.params.channel.ch_nDecoderCtrlPeriod = 40;
  app.params.channel.ch_nDecoderID = 9;                // not marked as set
  app.params.channel.ch_sFtpSiteAddr = "ftp.example";  // not marked as set
  app.params.channel.ch_bEnableSocketServClient = 0;
  app.set.Set(71, true);
  ZarnDoc::CZarnDoc doc;
  doc.ch_sFtpSiteAddr = "site";
  doc.ch_sFtpUserName = "user";
  doc.ApplyStartParameters(app.params, app.set);
  EXPECT_EQ(doc.ch_nDecoderCtrlPeriod, 40);
  EXPECT_EQ(doc.ch_nDecoderID, 0);
  EXPECT_EQ(doc.ch_sFtpSiteAddr, "site");
  EXPECT_TRUE(doc.ch_bEnableSocketServClient);
  EXPECT_EQ(doc.ch_nDecoderVideoOutPeriod, 33);
  EXPECT_EQ(doc.ch_nDecoderRequestToStopPeriod, 2000);
  EXPECT_EQ(doc.ch_nDecoderVideoOutDelay, 1000);
  EXPECT_EQ(doc.ch_nFramesCount_RQ, 600);
  EXPECT_TRUE(doc.ch_bEnableVideoOOV);
  EXPECT_TRUE(doc.ch_bEnableProcess[0]);
  EXPECT_TRUE(doc.ch_bEnableProcess[1]);
  EXPECT_FALSE(doc.ch_bEnableProcess[2]);
  // The FTP input's own copies follow the FTP keys whether set or not.
  EXPECT_EQ(doc.m_strFtpSite, "site");
  EXPECT_EQ(doc.m_strFtpUser, "user");
}

TEST_F(LifeTest, EachMarkedStartKeyReachesItsMember) {
  shell::TChannelParams& p = app.params.channel;
  p.ch_nDecoderID = 3;
  p.ch_bIsServerDecoder = 1;
  p.ch_bIsClientDecoder = 1;
  p.ch_bEnableSocketServClient = 0;
  p.ch_sIPAddressServer = "10.0.0.2";
  p.ch_sNetworkID_Server = "server";
  p.ch_sNetworkID_Client[7] = "client7";
  p.ch_sClientDir_Inp[0] = "in0";
  p.ch_sClientDir_Out[3] = "out3";
  p.ch_sIniFileH264_Client[5] = "h264-5.ini";
  p.ch_sServer_ClientDir[7] = "sc7";
  p.ch_bEnableDecoderOOV = 1;
  p.ch_sSysDirOOV = "/oov";
  p.ch_sOOVSFileOut = "out.oov";
  p.ch_bEnableVideoOOV = 0;
  p.ch_bEnableFtpSource = 1;
  p.ch_sSrcFileH264 = "a.264";
  p.ch_bEnableVideoH264 = 0;
  p.ch_bEnableSaveDecodedFramesBmp = 1;
  p.ch_bEnableProcess = {0, 0, 1, 1};
  p.ch_bEnableClientProcess = {0, 1, 0, 1};
  p.ch_bEnable2XImage = 1;
  p.ch_bEnableDecoderMpeg2 = 0;
  p.ch_nDecoderRequestToStopPeriod = 100;
  p.ch_nDecoderVideoOutPeriod = 20;
  p.ch_nDecoderVideoOutDelay = 5;
  p.ch_nFramesCount_RQ = 90;
  p.ch_sFtpSiteAddr = "ftp.site";
  p.ch_sFtpUserName = "anna";
  p.ch_sFtpPassword = "secret";
  p.ch_sRemoteFile = "remote.oov";
  p.ch_sLocalFile = "local.oov";
  p.ch_nDelayFtpBuffer = 250;
  for (int index : {0,  1,  2,  3,  4,  5,  13, 14, 25, 35, 45, 46, 47, 51, 52, 53, 57, 58, 60, 61,
                    62, 63, 64, 65, 66, 67, 68, 69, 70, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81})
    app.set.Set(index, true);
  app.startFileLoaded = true;
  doc_test::TDocumentWindow window;  // the set-up applies the start file
  const ZarnDoc::CZarnDoc& doc = window.Doc();
  EXPECT_EQ(doc.ch_nDecoderID, 3);
  EXPECT_TRUE(doc.ch_bIsServerDecoder);
  EXPECT_TRUE(doc.ch_bIsClientDecoder);
  EXPECT_FALSE(doc.ch_bEnableSocketServClient);
  EXPECT_EQ(doc.ch_sIPAddressServer, "10.0.0.2");
  EXPECT_EQ(doc.ch_sNetworkID_Server, "server");
  EXPECT_EQ(doc.ch_sNetworkID_Client[7], "client7");
  EXPECT_EQ(doc.ch_sClientDir_Inp[0], "in0");
  EXPECT_EQ(doc.ch_sClientDir_Out[3], "out3");
  EXPECT_EQ(doc.ch_sIniFileH264_Client[5], "h264-5.ini");
  EXPECT_EQ(doc.ch_sServer_ClientDir[7], "sc7");
  EXPECT_TRUE(doc.ch_bEnableDecoderOOV);
  EXPECT_EQ(doc.ch_sSysDirOOV, "/oov");
  EXPECT_EQ(doc.ch_sOOVSFileOut, "out.oov");
  EXPECT_FALSE(doc.ch_bEnableVideoOOV);
  EXPECT_TRUE(doc.ch_bEnableFtpSource);
  EXPECT_EQ(doc.ch_sSrcFileH264, "a.264");
  EXPECT_FALSE(doc.ch_bEnableVideoH264);
  EXPECT_TRUE(doc.ch_bEnableSaveDecodedFramesBmp);
  EXPECT_FALSE(doc.ch_bEnableProcess[0]);
  EXPECT_TRUE(doc.ch_bEnableProcess[3]);
  EXPECT_TRUE(doc.ch_bEnableClientProcess[1]);
  EXPECT_FALSE(doc.ch_bEnableClientProcess[2]);
  EXPECT_TRUE(doc.ch_bEnable2XImage);
  EXPECT_FALSE(doc.ch_bEnableDecoderMpeg2);
  EXPECT_EQ(doc.ch_nDecoderCtrlPeriod, 33);  // 71 not set
  EXPECT_EQ(doc.ch_nDecoderRequestToStopPeriod, 100);
  EXPECT_EQ(doc.ch_nDecoderVideoOutPeriod, 20);
  EXPECT_EQ(doc.ch_nDecoderVideoOutDelay, 5);
  EXPECT_EQ(doc.ch_nFramesCount_RQ, 90);
  EXPECT_EQ(doc.m_Engine.m_Dpb.m_nRequestedFrames, 90);  // the buffer is told the count
  EXPECT_EQ(doc.ch_sFtpPassword, "secret");
  EXPECT_EQ(doc.ch_sLocalFile, "local.oov");
  EXPECT_EQ(doc.ch_nDelayFtpBuffer, 250);
  EXPECT_EQ(doc.m_strFtpSite, "ftp.site");
  EXPECT_EQ(doc.m_strFtpUser, "anna");
  EXPECT_EQ(doc.m_strFtpPassword, "secret");
  EXPECT_EQ(doc.m_strFtpFile, "remote.oov");
}

TEST_F(LifeTest, WithoutALoadedStartFileMarkedKeysAreNotTaken) {
  app.params.channel.ch_nDecoderID = 7;
  app.set.Set(0, true);
  app.startFileLoaded = false;
  doc_test::TDocumentWindow window;
  EXPECT_EQ(window.Doc().ch_nDecoderID, 0);
}

// ---------------------------------------------------------------------------
// Saved defaults

TEST_F(LifeTest, ANewDocumentStoresTheDefaultsInTheSavedLayout) {
  ZarnDoc::CZarnDoc doc;
  doc.StoreSavedDefaults(app.cfg, app.sequence, app.images);
  const std::vector<std::uint8_t> b = shell::EncodeProgCfg(app.cfg);
  // Video-pane record of channel 2: flag, 4, 3, 0, 0, 0, flag.
  const std::size_t pane = 1600 + 2 * 28;
  EXPECT_EQ(b[pane], 1);
  EXPECT_EQ(Le32(b, pane + 4), 4);
  EXPECT_EQ(Le32(b, pane + 8), 3);
  EXPECT_EQ(Le32(b, pane + 12), 0);
  EXPECT_EQ(b[pane + 24], 1);
  // Picture-in-picture record of pane 1: off, 2, inset channel 0, 0, 50, 50,
  // 160, 120, 0, 0, 0, 640, 480, 4.
  const std::size_t pip = 1712 + 56;
  const std::int32_t pipValues[13] = {2, 0, 0, 50, 50, 160, 120, 0, 0, 0, 640, 480, 4};
  EXPECT_EQ(b[pip], 0);
  for (std::size_t i = 0; i < 13; ++i) EXPECT_EQ(Le32(b, pip + 4 + 4 * i), pipValues[i]) << i;
  EXPECT_EQ(Le32(b, 1712 + 8), 2);  // pane 0 insets channel 3
  // Image-save settings: 33, YUV 70 / single off / 640 x 480, JPEG 80, then
  // the JPEG 2000, PNG, GIF and TIFF records.
  EXPECT_EQ(Le32(b, 1936), 33);
  EXPECT_EQ(Le32(b, 1940), 70);
  EXPECT_EQ(b[1944], 0);
  EXPECT_EQ(Le32(b, 1948), 640);
  EXPECT_EQ(Le32(b, 1952), 480);
  EXPECT_EQ(Le32(b, 1956), 80);
  const std::int32_t j2k[] = {0, 1, 4, 8, 0, 3, 6, 2, 300};
  for (std::size_t i = 0; i < 9; ++i)
    EXPECT_EQ(i == 1 || i == 4 ? b[1960 + 4 * i] : Le32(b, 1960 + 4 * i), j2k[i]) << "jpeg 2000 " << i;
  const std::int32_t png[] = {0, 5, 8, 0, 9, 3, 6};
  for (std::size_t i = 0; i < 7; ++i)
    EXPECT_EQ(i == 3 ? b[1996 + 4 * i] : Le32(b, 1996 + 4 * i), png[i]) << "png " << i;
  const std::int32_t gif[] = {0, 1, 0, 2, 8, 0, 3, 6};
  for (std::size_t i = 0; i < 8; ++i)
    EXPECT_EQ(i == 5 ? b[2024 + 4 * i] : Le32(b, 2024 + 4 * i), gif[i]) << "gif " << i;
  const std::int32_t tiff[] = {0, 1, 4, 8, 0, 3, 6, 2, 80};
  for (std::size_t i = 0; i < 9; ++i)
    EXPECT_EQ(i == 1 || i == 4 ? b[2056 + 4 * i] : Le32(b, 2056 + 4 * i), tiff[i]) << "tiff " << i;
}

TEST_F(LifeTest, SavedGroupsNobodyChangedGoBackByteForByte) {
  // Every byte of the document's groups, padding included, is noise.
  std::mt19937 random(11);
  std::vector<std::uint8_t> stored(shell::kProgCfgSize);
  for (auto& byte : stored) byte = static_cast<std::uint8_t>(random());
  stored[0] = 1;  // the block was saved
  // Switches hold 0 or 1, as the program writes them.
  std::vector<std::size_t> switches = {328, 1944};
  for (std::size_t c = 0; c < 4; ++c) {
    switches.push_back(1600 + 28 * c);
    switches.push_back(1600 + 28 * c + 24);
    switches.push_back(1712 + 56 * c);
  }
  for (std::size_t at : switches) stored[at] &= 1;
  // The record switches start off (a document clears them at set-up) and the
  // raw-YUV settings describe a frame.
  for (std::size_t ch = 0; ch < 4; ++ch) stored[336 + 288 * ch] = 0;
  const std::uint8_t yuv[] = {60, 0, 0, 0};
  std::copy(std::begin(yuv), std::end(yuv), stored.begin() + 1940);
  stored[1948] = 64, stored[1949] = 1, stored[1950] = stored[1951] = 0;  // 320
  stored[1952] = 240, stored[1953] = stored[1954] = stored[1955] = 0;
  ASSERT_TRUE(shell::DecodeProgCfg(stored.data(), stored.size(), app.cfg));
  app.settingsRead = true;
  app.sequence[2].suffix = "_s";
  app.images[3].extension = ".png";
  const std::vector<std::uint8_t> before = shell::EncodeProgCfg(app.cfg);
  {
    doc_test::TDocumentWindow window;
    EXPECT_EQ(window.Doc().m_Encoders.nJpegQuality, Le32(before, 1956));
    EXPECT_EQ(window.Doc().m_YuvOpen.nWidth, 320);
    window.frame->close();
    QApplication::processEvents();
  }
  const std::vector<std::uint8_t> after = shell::EncodeProgCfg(app.cfg);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i], before[i]) << "byte " << i;
  EXPECT_EQ(app.sequence[2].suffix, "_s");
  EXPECT_EQ(app.images[3].extension, ".png");
}

TEST_F(LifeTest, AJpegQualityChangedInOneDocumentIsTheNextDocumentsDefaultAndSurvivesARestart) {
  {
    doc_test::TDocumentWindow first;
    EXPECT_EQ(first.Doc().m_Encoders.nJpegQuality, 80);
    first.Doc().m_Encoders.nJpegQuality = 55;
    first.Doc().m_Pip[1].nX = 17;
    first.Doc().m_YuvOpen.nFormat = 61;
    first.frame->close();
    QApplication::processEvents();
    EXPECT_TRUE(first.frame.isNull());
  }
  EXPECT_EQ(app.cfg.imageSave.jpegQuality, 55);
  {
    doc_test::TDocumentWindow second;
    EXPECT_EQ(second.Doc().m_Encoders.nJpegQuality, 55);
    EXPECT_EQ(second.Doc().m_Pip[1].nX, 17);
    EXPECT_EQ(second.Doc().m_YuvOpen.nFormat, 61);
  }
  // A restart: the stored block is read back by a new application.
  const std::vector<std::uint8_t> saved = shell::EncodeProgCfg(app.cfg);
  shell::SetTheApplication(nullptr);
  {
    TSettingsApplication restarted;
    ASSERT_TRUE(shell::DecodeProgCfg(saved.data(), saved.size(), restarted.cfg));
    restarted.settingsRead = true;
    doc_test::TDocumentWindow third;
    EXPECT_EQ(third.Doc().m_Encoders.nJpegQuality, 55);
    EXPECT_EQ(third.Doc().m_Pip[1].nX, 17);
  }
  shell::SetTheApplication(&app);
}

TEST_F(LifeTest, TheSetUpCopiesTheFoldersAndPrefixesThenTheSavedNamingReplacesThem) {
  for (std::size_t ch = 0; ch < 4; ++ch) {
    app.params.folders.recording[ch] = {"/videos/SaveStream_" + std::to_string(ch + 1), "Clip"};
    app.params.folders.capture[ch] = {"/pictures/CaptureImage_" + std::to_string(ch + 1), "Image"};
  }
  {
    doc_test::TDocumentWindow window;
    EXPECT_EQ(window.Doc().m_SeqNaming[2].dirOut, "/videos/SaveStream_3");
    EXPECT_EQ(window.Doc().m_SeqNaming[2].prefix, "Clip");
    EXPECT_EQ(window.Doc().m_ImgNaming[0].dirOut, "/pictures/CaptureImage_1");
    EXPECT_EQ(window.Doc().m_ImgNaming[0].prefix, "Image");
  }
  app.settingsRead = true;
  app.images[0].dirOut = "/chosen";
  doc_test::TDocumentWindow window;
  EXPECT_EQ(window.Doc().m_ImgNaming[0].dirOut, "/chosen");
}

TEST_F(LifeTest, RecordSelectionsDoNotCarryIntoANewDocument) {
  app.settingsRead = true;
  app.cfg.recordingOn = 1;
  app.cfg.recorder[1].enabled = 1;
  app.cfg.recorder[1].format = 9;
  app.cfg.imageSave.yuvFormat = 70;
  app.cfg.imageSave.yuvWidth = 640;
  app.cfg.imageSave.yuvHeight = 480;
  doc_test::TDocumentWindow window;
  EXPECT_TRUE(window.Doc().m_bRecording);
  EXPECT_FALSE(window.Doc().m_bRecordChannel[1]);
  EXPECT_EQ(window.Doc().m_RecorderCfg[1].format, 9);
}

TEST_F(LifeTest, EachChannelsCaptureWorkModeFollowsItsSavedRecordingFormat) {
  app.settingsRead = true;
  app.cfg.imageSave.yuvFormat = 70;
  app.cfg.imageSave.yuvWidth = 640;
  app.cfg.imageSave.yuvHeight = 480;
  // Channel: output format, DV AVI file type (bytes 8..11 of the AVI
  // settings), the work mode its capture device records in.
  struct TCase {
    std::int32_t format;
    std::uint8_t aviType;
    std::int32_t workMode;
  };
  const TCase cases[4] = {{9, 2, 6}, {9, 7, 2}, {10, 0, 10}, {20, 0, 11}};
  for (std::size_t ch = 0; ch < 4; ++ch) {
    app.cfg.recorder[ch].format = cases[ch].format;
    app.cfg.recorder[ch].avi[8] = cases[ch].aviType;
  }
  {
    doc_test::TDocumentWindow window;
    for (int ch = 0; ch < 4; ++ch)
      EXPECT_EQ(window.Doc().ChannelReader(ch).DeviceSettings().nCaptureWorkMode, cases[ch].workMode) << ch;
  }
  // Another format leaves the reader's mode as it is (preview).
  for (auto& recorder : app.cfg.recorder) recorder.format = 26;
  app.cfg.recorder[0].avi[8] = 2;
  doc_test::TDocumentWindow window;
  for (int ch = 0; ch < 4; ++ch)
    EXPECT_EQ(window.Doc().ChannelReader(ch).DeviceSettings().nCaptureWorkMode, 1) << ch;
}

TEST_F(LifeTest, SavedRawYuvSettingsThatDescribeNoFrameKeepTheDefaults) {
  app.settingsRead = true;  // a block of zeros
  doc_test::TDocumentWindow window;
  EXPECT_EQ(window.Doc().m_YuvOpen.nFormat, 70);
  EXPECT_EQ(window.Doc().m_YuvOpen.nWidth, 640);
  EXPECT_EQ(window.Doc().m_YuvOpen.nHeight, 480);
}

// ---------------------------------------------------------------------------
// Closing

TEST_F(LifeTest, CloseClosesADocumentWithAChannelOpenAndTheExplorerForgetsIt) {
  doc_test::TRecordingMainWindow main;
  doc_test::TDocumentWindow window;
  const std::string file = Path("c.png");
  ASSERT_TRUE(open_test::ToImage(open_test::Pattern(8, 8)).save(QString::fromStdString(file), "PNG"));
  ASSERT_TRUE(window.Doc().OpenSource(file, 0));
  window.Doc().m_Encoders.nJpegQuality = 33;
  EXPECT_TRUE(window.Doc().CanCloseFrame());
  main.notices.clear();
  ASSERT_TRUE(window.Doc().OnCmdMsg(shell::ID_FILE_CLOSE, platform::qt::TCmdCode::Command, nullptr));
  QApplication::processEvents();
  EXPECT_TRUE(window.frame.isNull());
  EXPECT_EQ(main.notices, (std::vector<std::pair<int, int>>{{10, 36926}}));
  EXPECT_EQ(app.cfg.imageSave.jpegQuality, 33);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(LifeTest, ADocumentThatGoesWithoutACloseStillStoresItsDefaults) {
  {
    doc_test::TDocumentWindow window;
    window.Doc().m_Encoders.tiff.nCompression = 6;
  }  // the window is deleted, as when the program ends
  EXPECT_EQ(app.cfg.imageSave.tiff[28], 6);
}

}  // namespace

namespace {

TEST_F(LifeTest, ClosingAPlayingDocumentWaitsForItsEngineAndThenClosesByItself) {
  doc_test::TDocumentWindow window;
  ZarnDoc::CZarnDoc& doc = window.Doc();
  doc.SetCloseWait(2, 5000);
  doc.m_Engine.m_bRunning = true;
  EXPECT_FALSE(doc.CanCloseFrame());
  platform::qt::TCmdUI closeFrom(shell::ID_FILE_CLOSE_FROM);
  ASSERT_TRUE(doc.OnCmdMsg(shell::ID_FILE_CLOSE_FROM, platform::qt::TCmdCode::Update, &closeFrom));
  EXPECT_FALSE(closeFrom.Enabled());
  ZarnDoc::CZarnDoc::SetOpenFilePrompt([](QWidget*) { return std::string("/never/asked.png"); });
  doc.OnFileOpenTo();
  ZarnDoc::CZarnDoc::SetOpenFilePrompt({});
  EXPECT_EQ(sink.Texts(),
            (std::vector<std::string>{"Stop currently played stream(s) before opening a new stream."}));

  ASSERT_TRUE(doc.OnCmdMsg(shell::ID_FILE_CLOSE, platform::qt::TCmdCode::Command, nullptr));
  ASSERT_TRUE(doc.OnCmdMsg(shell::ID_FILE_CLOSE, platform::qt::TCmdCode::Command, nullptr));  // one waiter
  QApplication::processEvents();
  EXPECT_FALSE(window.frame.isNull());
  EXPECT_TRUE(doc.CloseWaiting());
  // The session ends: the document closes without another command.
  doc.m_Engine.m_bRunning = false;
  EXPECT_TRUE(doc_test::RunUntil([&window] { return window.frame.isNull(); }));
}

TEST_F(LifeTest, AnEngineThatDoesNotStopInTimeLeavesTheDocumentOpen) {
  doc_test::TDocumentWindow window;
  ZarnDoc::CZarnDoc& doc = window.Doc();
  doc.SetCloseWait(1, 3);
  doc.m_Engine.m_bRunning = true;
  doc.OnFileClose();
  EXPECT_TRUE(doc_test::RunUntil([&doc] { return !doc.CloseWaiting(); }));
  QApplication::processEvents();
  EXPECT_FALSE(window.frame.isNull());
  doc.m_Engine.m_bRunning = false;
}

}  // namespace
