// The "Save stream" page, its path dialog and the "Capture image" page on a
// test owner: the format lists per source, what choosing a format does,
// the composed paths, the path dialog's entries, and the page as the owner
// of the format sheets and the sampling sheet.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "media/file_types.h"
#include "options/channel_radios.h"
#include "options/edit_numeric.h"
#include "options/opts_capture_image.h"
#include "options/opts_file_format.h"
#include "options/opts_jpeg.h"
#include "options/opts_sampling.h"
#include "options/opts_save_stream.h"
#include "options/opts_save_stream_path.h"
#include "options/zarn_options.h"
#include "tests/options/layout_check.h"
#include "tests/options/options_test_support.h"
#include "tests/options/save_stream_channel_diff.h"

using namespace ZarnTypes;
using OptsCaptureImage::CZarnOptsSaveImage;
using OptsSaveStream::CZarnOptsSaveStream;
using OptsSaveStreamPath::COptsSaveStreamPath;

namespace {

std::vector<std::int32_t> Range(std::int32_t first, std::int32_t last) {
  std::vector<std::int32_t> v;
  for (std::int32_t i = first; i <= last; ++i) v.push_back(i);
  return v;
}

std::vector<std::int32_t> Join(std::vector<std::vector<std::int32_t>> parts) {
  std::vector<std::int32_t> v;
  for (auto& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

TMediaSource Source(std::int32_t streamType, std::int32_t category = 0, bool open = true) {
  TMediaSource s;
  s.bOpen = open ? TRUE_ : FALSE_;
  s.eStreamType = static_cast<TStreamType>(streamType);
  s.nDeviceCategory = category;
  return s;
}

}  // namespace

TEST(SaveStreamLists, EachSourceOffersItsFormats) {
  const std::vector<std::int32_t> stills =
      Join({{15, 28, 30, 31, 32, 33, 34, 37, 38, 39, 41, 42, 43, 44}, Range(53, 94)});
  const std::vector<std::int32_t> device = Join({{1, 9, 10}, stills});
  const std::vector<std::int32_t> files = Join({{1}, stills});
  const std::vector<std::int32_t> bitmaps = {1, 33, 32, 31, 30, 29, 27};
  struct Case {
    const char* name;
    std::int32_t t, c;
    std::vector<std::int32_t> stream, capture;
  };
  const Case cases[] = {
      {"closed", ST_NULL_STREAM, 0, {1}, {1}},
      {"audio input", ST_SYSTEM_DEVICE, 1, {1, 9, 20}, {1}},
      {"webcam", ST_SYSTEM_DEVICE, 4, device, bitmaps},
      {"TV tuner", ST_SYSTEM_DEVICE, 5, device, bitmaps},
      {"DVD device", ST_SYSTEM_DEVICE, 6, {1}, bitmaps},
      {"DVD file", ST_VOB, 0, {1}, {1}},
      {"audio file", ST_WAV, 0, {1}, {1}},
      {"still", ST_PNG, 0, files, bitmaps},
      {"raw YUV", 94, 0, files, bitmaps},
      {"video file", ST_AVI, 0, files, bitmaps},
      {"MNG", ST_MNG, 0, files, bitmaps},
      {"clipboard", ST_CLIPBOARD, 0, {1}, bitmaps},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(OptsSaveStream::OfferedFormats(c.t, c.c), c.stream);
    EXPECT_EQ(OptsCaptureImage::OfferedCaptureFormats(c.t, c.c), c.capture);
  }
}

TEST(SaveStreamPaths, ComposedAsTheFirstFileOfARecording) {
  struct Case {
    std::string folder, prefix, title, ext;
    bool suffix, single;
    std::int32_t clip, next, frame;
    std::string path;
  };
  const Case cases[] = {
      {"/clips", "CLIP", "", ".yuv", true, true, 3, 7, 4, "/clips/CLIP_007.yuv"},
      {"/clips", "CLIP", "", ".yuv", true, false, 3, 7, 4, "/clips/CLIP_007_0000.yuv"},
      {"/out", "", "", ".bmp", false, false, 3, 7, 4, "/out/.bmp"},
      // no leading "_" before the index of an empty name
      {"/out", "", "", ".bmp", true, true, 2, 5, 1, "/out/05.bmp"},
      {"/out", "", "", ".bmp", true, false, 2, 5, 1, "/out/05_0.bmp"},
      // no index at all with the suffix off, whatever the digits
      {"/out", "a", "b", ".png", false, false, 9, 5, 9, "/out/ab.png"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    TSaveStreamChannel r;
    r.folder = c.folder, r.prefix = c.prefix, r.titleBase = c.title, r.extension = c.ext;
    r.addSuffix = c.suffix, r.singleFile = c.single, r.clipDigits = c.clip, r.nextClipIndex = c.next;
    r.frameDigits = c.frame;
    EXPECT_EQ(OptsSaveStreamPath::ComposeRecordingPath(r), c.path);
  }
}

// ---------------------------------------------------------------------------

class SaveStreamPage : public tovrin_test::TPageSheetTest<TSaveStreamExchange, CZarnOptsSaveStream> {
 protected:
  SaveStreamPage()
      : TPageSheetTest(platform::qt::WM_APP_OPTS_CATEGORY, OPTCAT_SAVE_STREAM, OptsPage::PAGE_SAVE_STREAM) {}
  std::string name = "doc.yuv";
  TMediaSource sources[4] = {Source(94), Source(ST_PNG), Source(ST_AVI), Source(ST_PNG)};
  void SetUp() override {
    owner.values.identifier = &name;
    for (int ch = 0; ch < 4; ++ch) {
      owner.values.sources[ch] = &sources[ch];
      TSaveStreamChannel& r = owner.values.channels[ch];
      r.format = ch == 0 ? 60 : 33;
      r.singleFile = ch == 0;
      r.folder = "/rec" + std::to_string(ch);
      r.prefix = "P" + std::to_string(ch);
      r.titleBase = "T";
      r.extension = ch == 0 ? ".yuv" : ".bmp";
      r.clipDigits = 3;
      r.frameDigits = 5;
      r.addSuffix = 1;
      r.nextClipIndex = 10 + ch;
      r.samplingMethod = 1;
      r.jpegQuality = 40 + ch;
      r.singlePath = OptsSaveStreamPath::ComposeRecordingPath(r);
      r.tiff[5] = static_cast<std::uint8_t>(ch + 1);
      r.reserved120[1] = 77;
    }
    owner.values.recordingOn = 1;
  }
  // Chooses a format in the shown channel's list as the user does.
  void Choose(CZarnOptsSaveStream* page, std::int32_t format) {
    const auto& codes = page->Codes(page->CurrentChannel());
    for (std::size_t i = 0; i < codes.size(); ++i)
      if (codes[i] == format) {
        page->m_pFormat->setCurrentIndex(static_cast<int>(i));
        page->m_pFormat->activated(static_cast<int>(i));
        return;
      }
    FAIL() << "format " << format << " not offered";
  }
};

TEST_F(SaveStreamPage, ReadsShowsAndWritesEveryChannel) {
  CZarnOptsSaveStream* page = Open();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(owner.wParams, std::vector<platform::qt::WPARAM>{OPTTOPIC_SAVE_STREAM});
  EXPECT_TRUE(page->m_pRecordingOn->isChecked());
  EXPECT_EQ(page->m_pTarget->text().toStdString(), "/rec0/P0T_010.yuv");
  EXPECT_EQ(page->SelectedFormat(), 60);
  EXPECT_EQ(page->m_pDocument->text().toStdString(), "Media document: doc.yuv");
  page->m_pEnable->setChecked(true);
  page->m_pRecordingOn->setChecked(false);
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  const TSaveStreamExchange& w = owner.written[0];
  EXPECT_EQ(w.recordingOn, 0);
  EXPECT_EQ(w.channels[0].enabled, 1);
  for (int ch = 1; ch < 4; ++ch) {
    SCOPED_TRACE(ch);
    EXPECT_EQ(w.channels[ch].jpegQuality, 40 + ch);
    EXPECT_EQ(w.channels[ch].tiff[5], ch + 1);
    EXPECT_EQ(w.channels[ch].reserved120[1], 77);
    EXPECT_EQ(w.channels[ch].nextClipIndex, 10 + ch);
  }
}

TEST_F(SaveStreamPage, SwitchingChannelsKeepsEditsAndCancelSendsNothing) {
  CZarnOptsSaveStream* page = Open();
  page->m_pEnable->setChecked(true);
  Choose(page, 94);
  page->m_pChannels->Select(2);
  EXPECT_EQ(page->SelectedFormat(), 33);
  page->m_pChannels->Select(0);
  EXPECT_TRUE(page->m_pEnable->isChecked());
  EXPECT_EQ(page->SelectedFormat(), 94);
  sheet->reject();
  EXPECT_EQ(owner.ops, std::vector<std::int32_t>{OPTS_XCHG_READ});
  EXPECT_TRUE(owner.written.empty());
}

TEST_F(SaveStreamPage, AFormatTheSourceCannotGiveComesBackAsNullStream) {
  owner.values.channels[2].format = 60;
  sources[2] = Source(ST_NULL_STREAM, 0, false);
  owner.values.channels[2].enabled = 1;
  CZarnOptsSaveStream* page = Open();
  page->m_pChannels->Select(2);
  EXPECT_EQ(page->Codes(2), std::vector<std::int32_t>{1});
  EXPECT_EQ(page->m_pFormat->currentText().toStdString(), "Null stream");
  EXPECT_FALSE(page->m_pEnable->isChecked());
  EXPECT_FALSE(page->m_pEnable->isEnabled());
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].channels[2].format, 1);
  EXPECT_EQ(owner.written[0].channels[2].enabled, 0);
}

TEST_F(SaveStreamPage, ChoosingAFormatSetsFileModeExtensionPipAndWorkMode) {
  sources[0] = Source(ST_SYSTEM_DEVICE, 4);
  CZarnOptsSaveStream* page = Open();
  struct Case {
    std::int32_t format;
    std::uint8_t singleBefore, singleAfter;
    const char* ext;
    bool pipEnabled;
    std::int32_t aviType, workMode;
  };
  const Case cases[] = {
      {38, 1, 0, ".jpg", true, 0, 1},  {9, 0, 1, ".avi", false, 1, 2}, {9, 0, 1, ".avi", false, 2, 6},
      {9, 0, 1, ".avi", false, 0, 2},  {9, 0, 1, ".avi", false, 3, 2}, {10, 0, 1, ".wmv", false, 0, 10},
      {15, 0, 1, ".mng", false, 0, 1}, {43, 1, 0, ".png", true, 0, 1}, {60, 1, 1, ".yuv", true, 0, 1},
      {60, 0, 0, ".yuv", true, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    TSaveStreamChannel& r = page->Block().channels[0];
    r.singleFile = c.singleBefore;
    r.avi[8] = static_cast<std::uint8_t>(c.aviType);
    page->m_pPip->setChecked(true);
    Choose(page, c.format);
    EXPECT_EQ(r.singleFile, c.singleAfter);
    EXPECT_EQ(r.extension, c.ext);
    EXPECT_EQ(page->m_pPip->isEnabled(), c.pipEnabled);
    EXPECT_EQ(page->m_pPipPort->isEnabled(), c.pipEnabled);
    if (!c.pipEnabled) {
      EXPECT_FALSE(page->m_pPip->isChecked());
    }
    EXPECT_EQ(page->m_pTarget->text().toStdString(), page->TargetPath());
    if (r.singleFile) {
      EXPECT_EQ(r.singlePath, page->TargetPath());
    }
    page->StoreChannel(0);
    EXPECT_EQ(r.captureWorkMode, c.workMode);
  }
  // WMA from an audio input.
  sources[1] = Source(ST_SYSTEM_DEVICE, 1);
  page->m_pChannels->Select(1);
  Choose(page, 20);
  page->StoreChannel(1);
  EXPECT_EQ(page->Block().channels[1].captureWorkMode, 11);
  EXPECT_EQ(page->Block().channels[1].singleFile, 1);
}

TEST_F(SaveStreamPage, ExtensionAndPathChangeOnlyWhenTheListCloses) {
  CZarnOptsSaveStream* page = Open();
  page->m_pChannels->Select(1);
  const std::string before = page->m_pTarget->text().toStdString();
  page->m_pFormat->setCurrentIndex(page->m_pFormat->findText("PNG - Portable Network Graphics (.png)"));
  // A change the program makes is no close-up: nothing follows it.
  EXPECT_EQ(page->Block().channels[1].extension, ".bmp");
  EXPECT_EQ(page->m_pTarget->text().toStdString(), before);
}

TEST_F(SaveStreamPage, AnEnabledChannelWithoutTargetIsDisabledWithItsMessage) {
  struct Case {
    std::uint8_t single;
    const char* text;
  };
  const Case cases[] = {
      {1,
       "Save sequence, channel 0 \n Name of output file for saving images is empty \n Saving disabled \n "
       "see: "
       "<Options>"},
      {0,
       "Save sequence, channel 0 \n Name of output directory for saving images is empty \n Saving disabled "
       "\n "
       "see: <Options>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.single);
    sink.Clear();
    CZarnOptsSaveStream* page = Open();
    TSaveStreamChannel& r = page->Block().channels[0];
    r.singleFile = c.single;
    r.singlePath.clear();
    r.folder.clear();
    page->m_pEnable->setChecked(true);
    page->m_pChannels->Select(2);
    EXPECT_EQ(r.enabled, 0);
    EXPECT_EQ(sink.Texts(), std::vector<std::string>{c.text});
  }
}

TEST_F(SaveStreamPage, TimeIntervalSamplingFallsBackToAllSamplesOffWmv) {
  sources[0] = Source(ST_SYSTEM_DEVICE, 4);
  owner.values.channels[0].samplingMethod = 2;
  owner.values.channels[0].format = 10;
  CZarnOptsSaveStream* page = Open();
  EXPECT_EQ(page->m_pSampling->text().toStdString(), " Time interval");
  Choose(page, 33);
  EXPECT_EQ(page->m_pSampling->text().toStdString(), " All samples");
  EXPECT_EQ(page->Block().channels[0].samplingMethod, 1);
}

TEST_F(SaveStreamPage, SilentOwnerAndReadOnlySheet) {
  ExpectSilentOwnerReported("Configuration data for \"Save Stream\" operation are not available",
                            "Configuration data for Save Stream operation cannot be set");
  ExpectReadOnlySendsNothing(false);
}

TEST_F(SaveStreamPage, OwnerOfTheFormatSheetsForItsChannel) {
  sources[3] = Source(ST_PNG);
  owner.values.channels[3].format = 39;
  CZarnOptsSaveStream* page = Open();
  page->m_pChannels->Select(3);
  ASSERT_EQ(page->SelectedFormat(), 39);
  const TSaveStreamExchange before = page->Block();
  page->m_nSheetChannel = 3;
  // JPEG: the list's format and the channel's quality.
  struct {
    TOptsExchangeHeader header;
    std::int32_t format = 0, quality = 0;
  } jpeg;
  jpeg.header.op = OPTS_XCHG_READ;
  ASSERT_TRUE(page->ExchangeFormatBlock(platform::qt::WM_APP_OPTS_JPEG, jpeg.header));
  EXPECT_EQ(jpeg.format, 39);
  EXPECT_EQ(jpeg.quality, 43);
  jpeg.header.op = OPTS_XCHG_WRITE;
  jpeg.format = 38;
  jpeg.quality = 91;
  ASSERT_TRUE(page->ExchangeFormatBlock(platform::qt::WM_APP_OPTS_JPEG, jpeg.header));
  EXPECT_EQ(page->Block().channels[3].format, 38);
  EXPECT_EQ(page->Block().channels[3].jpegQuality, 91);
  // TIFF, GIF, PNG and JPEG 2000 images: out with the list's format, back whole.
  struct {
    TOptsExchangeHeader header;
    std::uint8_t bytes[48] = {};
  } image;
  const UINT messages[] = {platform::qt::WM_APP_OPTS_TIFF, platform::qt::WM_APP_OPTS_GIF,
                           platform::qt::WM_APP_OPTS_PNG,  platform::qt::WM_APP_OPTS_JPEG2000,
                           platform::qt::WM_APP_OPTS_AVI,  platform::qt::WM_APP_OPTS_WMF};
  for (UINT m : messages) {
    image = {};
    image.header.op = OPTS_XCHG_READ;
    ASSERT_TRUE(page->ExchangeFormatBlock(m, image.header));
    std::int32_t format = 0;
    std::memcpy(&format, image.bytes, 4);
    EXPECT_EQ(format, 39);
    for (int i = 4; i < 28; ++i) image.bytes[i] = static_cast<std::uint8_t>(m + i);
    image.header.op = OPTS_XCHG_WRITE;
    std::memcpy(image.bytes, &format, 4);
    ASSERT_TRUE(page->ExchangeFormatBlock(m, image.header));
  }
  EXPECT_EQ(page->Block().channels[3].tiff[5], static_cast<std::uint8_t>(platform::qt::WM_APP_OPTS_TIFF + 5));
  EXPECT_EQ(page->Block().channels[3].png[5], static_cast<std::uint8_t>(platform::qt::WM_APP_OPTS_PNG + 5));
  EXPECT_EQ(page->Block().channels[3].avi[5], static_cast<std::uint8_t>(platform::qt::WM_APP_OPTS_AVI + 5));
  // Only channel 3 changed; op 3 goes unanswered.
  for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(page->Block().channels[ch].tiff, before.channels[ch].tiff);
  // The YUV page: the list's format and the file mode, no size to edit.
  TYuvFormatExchange yuv;
  yuv.header.op = OPTS_XCHG_READ;
  yuv.width = 7;
  ASSERT_TRUE(page->ExchangeFormatBlock(platform::qt::WM_APP_OPTS_YUV, yuv.header));
  EXPECT_EQ(yuv.format, 39);
  EXPECT_EQ(yuv.width, 0);
  EXPECT_EQ(yuv.singleImage, 1);
  EXPECT_EQ(yuv.sizeEditable, 0);
  EXPECT_EQ(yuv.checkSize, 0);
  yuv.header.op = OPTS_XCHG_WRITE;
  yuv.format = 70;
  yuv.singleImage = 0;
  ASSERT_TRUE(page->ExchangeFormatBlock(platform::qt::WM_APP_OPTS_YUV, yuv.header));
  EXPECT_EQ(page->Block().channels[3].format, 70);
  EXPECT_EQ(page->Block().channels[3].singleFile, 1);
  for (int ch = 0; ch < 3; ++ch) {
    EXPECT_EQ(page->Block().channels[ch].format, before.channels[ch].format);
    EXPECT_EQ(page->Block().channels[ch].singleFile, before.channels[ch].singleFile);
  }
  image.header.op = 3;
  image.header.answered = 0;
  EXPECT_FALSE(page->ExchangeFormatBlock(platform::qt::WM_APP_OPTS_TIFF, image.header));
  EXPECT_EQ(image.header.answered, 0);
}

TEST_F(SaveStreamPage, TheJpegSheetsGreyChoiceReselectsItInTheList) {
  CZarnOptsSaveStream* page = Open();
  page->m_pChannels->Select(3);
  Choose(page, 38);
  bool ran = false;
  page->m_RunFormatSheet = [&](std::int32_t category) {
    ran = true;
    EXPECT_EQ(category, OPTCAT_JPEG);
    ZarnOptions::CZarnOptions jpegSheet(QStringLiteral("Options"), page, category);
    jpegSheet.OnInitDialog();
    auto* jpeg = static_cast<OptsJpeg::COptsJpeg*>(jpegSheet.Page(OptsPage::PAGE_JPEG));
    if (!jpeg) return false;
    jpeg->GrayButton()->setChecked(true);
    jpegSheet.AcceptSheet();
    return true;
  };
  page->OnFormatOptions();
  ASSERT_TRUE(ran);
  // A sheet ended with Cancel sends nothing back: the record stays.
  const TSaveStreamChannel kept = page->Block().channels[3];
  page->m_RunFormatSheet = [&](std::int32_t category) {
    ZarnOptions::CZarnOptions jpegSheet(QStringLiteral("Options"), page, category);
    jpegSheet.OnInitDialog();
    static_cast<OptsJpeg::COptsJpeg*>(jpegSheet.Page(OptsPage::PAGE_JPEG))->GrayButton()->setChecked(false);
    return false;
  };
  page->OnFormatOptions();
  EXPECT_EQ(page->Block().channels[3].format, kept.format);
  EXPECT_EQ(page->Block().channels[3].jpegQuality, kept.jpegQuality);
  EXPECT_EQ(page->Block().channels[3].format, 39);
  EXPECT_EQ(page->SelectedFormat(), 39);
  EXPECT_EQ(page->m_pFormat->currentText().toStdString(), "JPEG - JPEG/JFIF Grayscale");
}

// The sampling sheet reads the shown channel and all four records from the
// page and gives all four back; only that channel's sampling changes, and
// the page shows its method. A sheet ended with Cancel changes nothing.
TEST_F(SaveStreamPage, OwnerOfTheSamplingSheetForTheShownChannel) {
  sources[2] = Source(ST_SYSTEM_DEVICE, 4);
  for (int ch = 0; ch < 4; ++ch) {
    TSaveStreamChannel& r = owner.values.channels[ch];
    r.reserved52 = 11;
    r.reserved60 = 12;
    r.timeBegin = 1.0 + ch;
    r.timeEnd = 8.0;
    r.timeStep = 0.5;
    r.sampleBegin = 5'000'000'000LL;
    r.sampleEnd = 6'000'000'000LL + ch;
    r.sampleStep = 3;
  }
  owner.values.channels[2].format = 10;
  owner.values.channels[2].extension = ".wmv";
  CZarnOptsSaveStream* page = Open();
  page->m_pChannels->Select(2);
  ASSERT_EQ(page->SelectedFormat(), 10);
  EXPECT_TRUE(page->m_pSamplingSettings->isEnabled());
  EXPECT_EQ(page->m_pSampling->text().toStdString(), " All samples");
  const TSaveStreamExchange before = page->Block();

  auto chooseMethod = [](OptsSaveStreamSampling::COptsSaveStreamSampling* sampling, int method) {
    const int at = sampling->m_pMethod->findData(method);
    ASSERT_GE(at, 0);
    sampling->m_pMethod->setCurrentIndex(at);
    emit sampling->m_pMethod->activated(at);
  };
  int runs = 0;
  bool accept = false;
  page->m_RunSamplingSheet = [&] {
    ++runs;
    ZarnOptions::CZarnOptions sheet(ZarnOptions::RunOptionsSheetCaption(OPTCAT_SAMPLING), page,
                                    OPTCAT_SAMPLING);
    sheet.OnInitDialog();
    auto* sampling =
        static_cast<OptsSaveStreamSampling::COptsSaveStreamSampling*>(sheet.Page(OptsPage::PAGE_SAMPLING));
    EXPECT_NE(sampling, nullptr);
    if (!sampling) return false;
    EXPECT_FALSE(sampling->ReadFailed());
    EXPECT_EQ(sampling->CurrentChannel(), 2);
    EXPECT_EQ(sampling->m_pChannel->text().toStdString(), "Channel: 3");
    EXPECT_EQ(sampling->m_pMethod->count(), 3) << "WMV offers the time interval";
    chooseMethod(sampling, 2);
    sampling->m_pInterval->setText("0.21");
    sampling->m_pBegin->setText("0.41");
    sampling->m_pEnd->setText("1.19");
    if (!accept) {
      sheet.reject();
      return false;
    }
    sheet.AcceptSheet();
    return true;
  };

  page->m_pSamplingSettings->click();
  EXPECT_EQ(runs, 1);
  for (int ch = 0; ch < 4; ++ch)
    EXPECT_EQ(tovrin_test::ChannelDiffs(page->Block().channels[ch], before.channels[ch]),
              std::vector<std::string>{})
        << ch;
  EXPECT_EQ(page->m_pSampling->text().toStdString(), " All samples");

  accept = true;
  page->m_pSamplingSettings->click();
  EXPECT_EQ(runs, 2);
  for (int ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE(ch);
    std::vector<std::string> want;
    if (ch == 2) want = {"samplingMethod", "timeBegin", "timeEnd", "timeStep"};
    EXPECT_EQ(tovrin_test::ChannelDiffs(page->Block().channels[ch], before.channels[ch]), want);
    // The reserved words stay the page's own.
    EXPECT_EQ(page->Block().channels[ch].reserved52, 11);
  }
  EXPECT_EQ(page->Block().channels[2].timeBegin, 0.41);
  EXPECT_EQ(page->Block().channels[2].timeEnd, 1.19);
  EXPECT_EQ(page->Block().channels[2].timeStep, 0.21);
  EXPECT_EQ(page->m_pSampling->text().toStdString(), " Time interval");

  // Nothing reached the owner before the page's own OK, which sends it.
  EXPECT_EQ(owner.ops, std::vector<std::int32_t>{OPTS_XCHG_READ});
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].channels[2].samplingMethod, 2);
  EXPECT_EQ(owner.written[0].channels[2].timeBegin, 0.41);
  EXPECT_EQ(owner.written[0].channels[1].sampleEnd, 6'000'000'001LL);
  EXPECT_TRUE(sink.Texts().empty());
}

// The button runs the sheet modally with the caption "Settings" and the
// page as its owner; a topic other than the sampling's is not answered.
TEST_F(SaveStreamPage, TheSamplingButtonRunsTheSettingsSheet) {
  owner.values.channels[0].samplingMethod = 1;
  CZarnOptsSaveStream* page = Open();
  std::string caption;
  QObject* sheetOwner = nullptr;
  QTimer::singleShot(0, page, [&] {
    auto* modal = qobject_cast<ZarnOptions::CZarnOptions*>(QApplication::activeModalWidget());
    if (!modal) return;
    caption = modal->windowTitle().toStdString();
    sheetOwner = modal->OwnerWindow();
    auto* sampling =
        static_cast<OptsSaveStreamSampling::COptsSaveStreamSampling*>(modal->Page(OptsPage::PAGE_SAMPLING));
    if (sampling) {
      const int at = sampling->m_pMethod->findData(3);
      sampling->m_pMethod->setCurrentIndex(at);
      emit sampling->m_pMethod->activated(at);
      sampling->m_pBegin->setText("7");
    }
    modal->AcceptSheet();
  });
  const tovrin_test::TModalGuard guard;
  page->m_pSamplingSettings->click();
  EXPECT_FALSE(guard.ranOut());
  EXPECT_EQ(caption, "Settings");
  EXPECT_EQ(sheetOwner, page);
  EXPECT_EQ(page->Block().channels[0].samplingMethod, 3);
  EXPECT_EQ(page->Block().channels[0].sampleBegin, 7);
  EXPECT_EQ(page->m_pSampling->text().toStdString(), " Sample number interval");

  TSamplingExchange other;
  other.header.op = OPTS_XCHG_READ;
  platform::qt::SendAppMessageWithRecord(page, platform::qt::WM_APP_OPTS_CATEGORY, OPTTOPIC_SAVE_STREAM,
                                         platform::qt::RecordParam(&other.header));
  EXPECT_EQ(other.header.answered, 0);
  other.header.op = 3;
  EXPECT_FALSE(page->ExchangeSamplingBlock(other));
  EXPECT_EQ(other.header.answered, 0);
}

TEST_F(SaveStreamPage, PathDialogOkTakesItsFieldsAndCancelNone) {
  CZarnOptsSaveStream* page = Open();
  const TSaveStreamChannel before = page->Block().channels[0];
  page->m_RunPathDialog = [](COptsSaveStreamPath& d) {
    d.OnInitDialog();
    d.m_pFolder->setText("/elsewhere");
    return int(QDialog::Rejected);
  };
  page->OnTargetPathSettings();
  EXPECT_EQ(page->Block().channels[0].folder, before.folder);
  page->m_RunPathDialog = [](COptsSaveStreamPath& d) {
    d.OnInitDialog();
    d.m_pFolder->setText("/elsewhere");
    d.m_pNextIndexLock->setChecked(false);
    d.m_pNextIndex->setText("7");
    return d.OnOK() ? int(QDialog::Accepted) : int(QDialog::Rejected);
  };
  page->OnTargetPathSettings();
  EXPECT_EQ(page->Block().channels[0].folder, "/elsewhere");
  EXPECT_EQ(page->Block().channels[0].nextClipIndex, 7);
  EXPECT_EQ(page->m_pTarget->text().toStdString(), "/elsewhere/P0T_007.yuv");
  EXPECT_EQ(page->Block().channels[0].singlePath, "/elsewhere/P0T_007.yuv");
}

// ---------------------------------------------------------------------------

class PathDialog : public tovrin_test::TRecordedMessagesTest {
 protected:
  COptsSaveStreamPath dialog;
  void SetUp() override {
    dialog.m_nChannel = 1;
    TSaveStreamChannel& r = dialog.m_Channels[1];
    r.format = 33;
    r.singleFile = 0;
    r.folder = "/clips";
    r.prefix = "p";
    r.titleBase = "t";
    r.extension = ".x";
    r.addSuffix = 1;
    r.clipDigits = 3;
    r.frameDigits = 4;
    r.nextClipIndex = 7;
    ASSERT_TRUE(dialog.OnInitDialog());
  }
};

TEST_F(PathDialog, NumbersAreClampedOnOkAndNonNumbersRefused) {
  struct Case {
    const char* clip;
    const char* next;
    bool ok;
    std::int32_t clipStored, nextStored;
  };
  const Case cases[] = {
      {"25", "7", true, 10, 7}, {"0", "7", true, 1, 7},  {"3", "1073741824", true, 3, 1073741823},
      {"3", "-4", true, 3, 0},  {"3", "x", false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.clip) + " " + c.next);
    sink.Clear();
    dialog.setResult(0);
    dialog.m_pClipDigits->SetText(c.clip);
    dialog.m_pNextIndex->setText(c.next);
    EXPECT_EQ(dialog.OnOK(), c.ok);
    if (c.ok) {
      EXPECT_EQ(dialog.result(), QDialog::Accepted);
      EXPECT_EQ(dialog.m_Channels[1].clipDigits, c.clipStored);
      EXPECT_EQ(dialog.m_Channels[1].nextClipIndex, c.nextStored);
      EXPECT_TRUE(sink.Texts().empty());
    } else {
      EXPECT_EQ(dialog.result(), 0) << "the dialog stays open";
      EXPECT_EQ(sink.Texts().size(), 1u);
    }
  }
  // The digits edit takes digits only, and keeps a whole "25".
  QString typed = "2x5";
  int pos = 0;
  EXPECT_EQ(dialog.m_pClipDigits->validate(typed, pos), QValidator::Invalid);
  typed = "25";
  EXPECT_EQ(dialog.m_pClipDigits->validate(typed, pos), QValidator::Acceptable);
  dialog.m_pClipDigits->SetText("25");
  EXPECT_EQ(dialog.m_pClipDigits->text().toStdString(), "25");
}

TEST_F(PathDialog, FrameRowFollowsTheFileModeAndPathCarriesFrameZero) {
  EXPECT_EQ(dialog.FullPath(), "/clips/pt_007_0000.x");
  EXPECT_FALSE(dialog.m_pFrameDigits->isHidden());
  COptsSaveStreamPath single;
  single.m_nChannel = 0;
  single.m_Channels[0] = dialog.m_Channels[1];
  single.m_Channels[0].singleFile = 1;
  ASSERT_TRUE(single.OnInitDialog());
  EXPECT_TRUE(single.m_pFrameDigits->isHidden());
  EXPECT_TRUE(single.m_pFrameLabel->isHidden());
  EXPECT_EQ(single.FullPath(), "/clips/pt_007.x");
  EXPECT_EQ(single.m_pFormatName->text().toStdString(), "BMP - 24-bit Bitmap");
  EXPECT_EQ(dialog.m_pFormatName->text().toStdString(), "BMP - 24-bit Bitmap\nSingle image in file");
  EXPECT_EQ(dialog.m_pChannelText->text().toStdString(), "Channel: 2");
}

TEST_F(PathDialog, ResetFieldsAndUpdatePath) {
  dialog.m_pPrefix->setText("q");
  dialog.m_pExtensionLock->setChecked(false);
  dialog.m_pNextIndexLock->setChecked(false);
  const std::string shown = dialog.FullPath();
  dialog.OnResetFields();
  EXPECT_EQ(dialog.m_pPrefix->text().toStdString(), "CLIP");
  EXPECT_EQ(dialog.m_pExtension->text().toStdString(), ".bmp");
  EXPECT_TRUE(dialog.m_pExtensionLock->isChecked());
  EXPECT_FALSE(dialog.m_pExtension->isEnabled());
  EXPECT_FALSE(dialog.m_pNextIndex->isEnabled());
  EXPECT_EQ(dialog.FullPath(), shown) << "the path is not recomposed";
  EXPECT_TRUE(dialog.OnUpdatePath());
  EXPECT_EQ(dialog.FullPath(), "/clips/CLIPt_007_0000.bmp");
}

TEST_F(PathDialog, ABrowsedFileGivesFolderAndTitleAndThePathIsComposed) {
  dialog.TakeSingleFile("/other/place/movie.avi");
  EXPECT_EQ(dialog.m_pFolder->text().toStdString(), "/other/place");
  EXPECT_EQ(dialog.m_pTitleBase->text().toStdString(), "movie");
  EXPECT_EQ(dialog.FullPath(), "/other/place/pmovie_007_0000.x");
}

TEST(PathDialogChannel, AChannelOutsideTheFourEndsItUnseen) {
  COptsSaveStreamPath dialog;
  dialog.m_nChannel = 4;
  EXPECT_EQ(dialog.DoModal(), QDialog::Rejected);
  EXPECT_FALSE(dialog.isVisible());
}

// ---------------------------------------------------------------------------

class CaptureImagePage : public tovrin_test::TPageSheetTest<TSaveImageExchange, CZarnOptsSaveImage> {
 protected:
  CaptureImagePage()
      : TPageSheetTest(platform::qt::WM_APP_OPTS_CATEGORY, OPTCAT_SAVE_IMAGE, OptsPage::PAGE_SAVE_IMAGE) {}
  std::string name = "doc";
  TMediaSource sources[4] = {Source(94), Source(ST_PNG), Source(ST_NULL_STREAM, 0, false), Source(ST_VOB)};
  void SetUp() override {
    owner.values.identifier = &name;
    for (int ch = 0; ch < 4; ++ch) {
      owner.values.sources[ch] = &sources[ch];
      TSaveImageChannel& r = owner.values.channels[ch];
      r.saveToFile = 1;
      r.copyToClipboard = ch == 1;
      r.format = 32;
      r.folder = "/shots";
      r.prefix = "Image";
      r.titleBase = "base" + std::to_string(ch);
      r.extension = ".bmp";
      r.clipDigits = 5;
      r.nextClipIndex = 8;
    }
  }
};

TEST_F(CaptureImagePage, ShowsTheNextCapturesFileAndTheClipboardSwitch) {
  CZarnOptsSaveImage* page = Open();
  EXPECT_TRUE(page->m_pClipboard->isVisibleTo(page));
  EXPECT_EQ(page->m_pTarget->text().toStdString(), "/shots/Image00008.bmp");
  page->m_pChannels->Select(1);
  EXPECT_TRUE(page->m_pClipboard->isChecked());
  page->m_pClipboard->setChecked(false);
  sheet->AcceptSheet();
  ASSERT_EQ(owner.written.size(), 1u);
  EXPECT_EQ(owner.written[0].channels[1].copyToClipboard, 0);
  EXPECT_EQ(owner.written[0].channels[0].saveToFile, 1);
}

TEST_F(CaptureImagePage, AClosedChannelClearsSaveAndTurnsABitmapIntoNullStream) {
  CZarnOptsSaveImage* page = Open();
  page->m_pChannels->Select(2);
  EXPECT_FALSE(page->m_pSaveToFile->isChecked());
  EXPECT_FALSE(page->m_pSaveToFile->isEnabled());
  EXPECT_EQ(page->Codes(2), std::vector<std::int32_t>{1});
  EXPECT_EQ(page->Block().channels[2].format, 1);
  EXPECT_EQ(page->Block().channels[2].extension, "");
  page->m_pChannels->Select(3);  // a DVD file offers nothing either
  EXPECT_EQ(page->Codes(3), std::vector<std::int32_t>{1});
}

TEST_F(CaptureImagePage, ThePathDialogTakesAndGivesBackTheTitleBase) {
  CZarnOptsSaveImage* page = Open();
  std::string seenTitle, seenPath;
  page->m_RunPathDialog = [&](COptsSaveStreamPath& d) {
    d.OnInitDialog();
    seenTitle = d.m_pTitleBase->text().toStdString();
    seenPath = d.FullPath();
    d.m_pTitleBase->setText("newbase");
    d.m_pNextIndexLock->setChecked(false);
    d.m_pNextIndex->setText("41");
    return d.OnOK() ? int(QDialog::Accepted) : int(QDialog::Rejected);
  };
  page->OnTargetPathOptions();
  EXPECT_EQ(seenTitle, "base0");
  EXPECT_EQ(seenPath, "/shots/Image00008.bmp") << "the dialog shows the file the capture writes";
  EXPECT_EQ(page->Block().channels[0].titleBase, "newbase");
  EXPECT_EQ(page->m_pTarget->text().toStdString(), "/shots/Image00041.bmp");
}

TEST_F(CaptureImagePage, SilentOwnerAndReadOnlySheet) {
  ExpectSilentOwnerReported("Configuration data for \"Capture Image\" operation are not available",
                            "Configuration data for \"Capture Image\" operations can not be set");
  ExpectReadOnlySendsNothing(false);
}

// ---------------------------------------------------------------------------
// Layout: every text whole, the format list as wide on every channel, the
// path box showing a long path whole; pictures into $TOVRIN_SHOT_DIR.

namespace {

void Shoot(QWidget* w, const char* name) {
  if (const char* folder = std::getenv("TOVRIN_SHOT_DIR")) {
    EXPECT_TRUE(w->grab().save(QDir(QString::fromLocal8Bit(folder)).filePath(name), "PNG"));
  }
}

}  // namespace

TEST_F(SaveStreamPage, LayoutKeepsEveryTextWholeOnEveryChannel) {
  CZarnOptsSaveStream* page = OpenShown();
  ASSERT_NE(page, nullptr);
  Choose(page, 94);  // the longest names are YCbCr layouts
  QApplication::processEvents();
  const int listWidth = page->m_pFormat->width();
  const QSize sheetSize = sheet->size();
  EXPECT_GE(page->m_pFormat->width(),
            page->m_pFormat->fontMetrics().horizontalAdvance(page->m_pFormat->currentText()));
  EXPECT_EQ(tovrin_test::TextsThatDoNotFit(sheet.get()), std::vector<std::string>{});
  EXPECT_LE(sheet->frameGeometry().width(), 1280);
  Shoot(sheet.get(), "save_stream_page.png");
  for (int ch : {1, 2, 3, 0}) {
    page->m_pChannels->Select(ch);
    QApplication::processEvents();
    EXPECT_EQ(page->m_pFormat->width(), listWidth) << ch;
    EXPECT_EQ(sheet->size(), sheetSize) << ch;
    EXPECT_EQ(tovrin_test::TextsThatDoNotFit(sheet.get()), std::vector<std::string>{}) << ch;
  }
}

TEST_F(CaptureImagePage, LayoutKeepsEveryTextWhole) {
  CZarnOptsSaveImage* page = OpenShown();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(tovrin_test::TextsThatDoNotFit(sheet.get()), std::vector<std::string>{});
  EXPECT_LE(sheet->frameGeometry().width(), 1280);
  Shoot(sheet.get(), "capture_image_page.png");
}

TEST(PathDialogLayout, BothModesShowEveryTextAndALongPathWhole) {
  for (int single = 0; single < 2; ++single) {
    SCOPED_TRACE(single);
    COptsSaveStreamPath dialog;
    dialog.m_nChannel = 0;
    TSaveStreamChannel& r = dialog.m_Channels[0];
    r.format = 94;
    r.singleFile = static_cast<std::uint8_t>(single);
    r.folder = "/" + std::string(150, 'f');
    r.prefix = "CLIP";
    r.titleBase = std::string(30, 't');
    r.extension = ".yuv";
    r.addSuffix = 1;
    r.clipDigits = 3;
    r.frameDigits = 5;
    ASSERT_TRUE(dialog.OnInitDialog());
    ASSERT_GE(dialog.FullPath().size(), 190u);
    dialog.show();
    dialog.resize(dialog.sizeHint());
    QApplication::processEvents();
    EXPECT_EQ(tovrin_test::TextsThatDoNotFit(&dialog), std::vector<std::string>{});
    EXPECT_FALSE(dialog.m_pFullPath->verticalScrollBar()->isVisible());
    EXPECT_LE(dialog.frameGeometry().width(), 1280);
    EXPECT_FALSE(dialog.m_pTest->isVisible());
    Shoot(&dialog, single ? "save_stream_path_single.png" : "save_stream_path_frames.png");
  }
}
