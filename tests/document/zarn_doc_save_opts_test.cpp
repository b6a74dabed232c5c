// The document's "Save stream" and "Capture image" settings: what the two
// exchanges carry, that a running session refuses a write, and the files
// the next recording and capture write after the pages were accepted.

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/tovrin_app.h"
#include "document/command_ids.h"
#include "document_fixture.h"
#include "io/dshow/dshow_util.h"
#include "media/file_types.h"
#include "open_fixture.h"
#include "options/channel_radios.h"
#include "options/edit_numeric.h"
#include "options/opts_avi.h"
#include "options/opts_capture_image.h"
#include "options/opts_sampling.h"
#include "options/opts_save_stream.h"
#include "options/opts_wmf.h"
#include "options/zarn_options.h"
#include "platform/qt/commands.h"
#include "platform/qt/settings_store.h"
#include "shell/command_ids.h"
#include "shell/prog_cfg.h"
#include "tests/support/message_fixture.h"
#include "yuv_clip_fixture.h"

using namespace ZarnTypes;
using doc_test::RunUntil;
namespace fs = std::filesystem;
namespace pq = platform::qt;

namespace {

using clip_test::kFrameBytes;
using clip_test::kHeight;
using clip_test::kWidth;
using clip_test::kYuvFormat;

class TTakesApplication : public open_test::TSettingsApplication {
 public:
  std::int32_t NextRecordingNumber() override { return ++takes; }
  std::int32_t takes = 0;
};

// The frame number a picture of the clips shows (stripe i white: bit i).
int FrameOfPicture(const QImage& image) {
  int k = 0;
  for (int stripe = 0; stripe < 8; ++stripe)
    if (qGray(image.pixel(stripe * 8 + 4, kHeight / 2)) > 128) k |= 1 << stripe;
  return k;
}

bool PictureIsClean(const QImage& image) {
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const int g = qGray(image.pixel(x, y));
      if (g > 40 && g < 215) return false;
    }
  return true;
}

class SaveOptsDocTest : public clip_test::TClipDocumentTest<TTakesApplication> {
 protected:
  bool Playing() const { return doc.m_Engine.IsRunning(); }
  void PlayToTheEnd() {
    Run(shell::ID_NAVIGATE_START_PAUSE);
    ASSERT_TRUE(RunUntil([this] { return !Playing(); }));
  }
  template <class TBlock>
  bool Send(std::int32_t topic, TBlock& block, std::int32_t op) {
    block.header.op = op;
    block.header.answered = 0;
    doc.OnOptsCategory(static_cast<pq::WPARAM>(topic), reinterpret_cast<pq::LPARAM>(&block));
    return block.header.answered != 0;
  }
  // A sheet of one category over the controller pane, as the Capture menu
  // opens it; `edit` changes the page before OK.
  template <class TPage>
  void AcceptPage(std::int32_t category, OptsPage::TOptsPageKind kind,
                  const std::function<void(TPage&)>& edit) {
    ZarnOptions::CZarnOptions sheet(QStringLiteral("Options"), doc.ControllerView(), category);
    sheet.OnInitDialog();
    auto* page = static_cast<TPage*>(sheet.Page(kind));
    ASSERT_NE(page, nullptr);
    ASSERT_FALSE(page->ReadFailed());
    edit(*page);
    sheet.AcceptSheet();
  }
};

}  // namespace

TEST_F(SaveOptsDocTest, BothCommandsNeedASourceInChannelOne) {
  EXPECT_FALSE(Enabled(shell::ID_CAPTURE_STREAM_OPTIONS));
  EXPECT_FALSE(Enabled(shell::ID_CAPTURE_IMAGE_OPTIONS));
  ASSERT_TRUE(Open(0, Clip("c0.yuv", 3)));
  EXPECT_TRUE(Enabled(shell::ID_CAPTURE_STREAM_OPTIONS));
  EXPECT_TRUE(Enabled(shell::ID_CAPTURE_IMAGE_OPTIONS));
}

TEST_F(SaveOptsDocTest, TheSaveStreamExchangeCarriesEveryFieldAndAWriteWaitsForTheEngine) {
  ASSERT_TRUE(Open(0, Clip("c0.yuv", 200)));
  TSaveStreamExchange block;
  ASSERT_TRUE(Send(OPTTOPIC_SAVE_STREAM, block, OPTS_XCHG_READ));
  EXPECT_EQ(block.identifier, &doc.m_strDocName);
  EXPECT_EQ(block.sources[0], &doc.m_Source[0]);
  // Every field a distinct value, channel by channel.
  for (int ch = 0; ch < 4; ++ch) {
    TSaveStreamChannel& c = block.channels[ch];
    const std::string n = std::to_string(ch);
    c.enabled = ch % 2;
    c.format = ch == 2 ? 9 : 33 + ch;
    c.singleFile = ch == 2;
    c.singlePath = "/s" + n;
    c.folder = "/f" + n;
    c.spare = "sp" + n;
    c.titleBase = "t" + n;
    c.prefix = "p" + n;
    c.suffix = "x" + n;
    c.extension = ".e" + n;
    c.clipDigits = 2 + ch;
    c.frameDigits = 6 + ch;
    c.samplingMethod = 3;
    c.timeBegin = 1.5 + ch, c.timeEnd = 9.25, c.timeStep = 0.5;
    c.sampleBegin = 11 + ch, c.sampleEnd = 99, c.sampleStep = 3;
    c.addSuffix = 1;
    c.nextClipIndex = 100 + ch;
    c.jpegQuality = 55 + ch;
    // The TIFF settings, their reserved bytes after each flag byte left 0.
    for (std::size_t i = 0; i < c.tiff.size(); ++i)
      if (i % 12 < 5 || i % 12 > 7) c.tiff[i] = static_cast<std::uint8_t>(i + ch);
    for (std::size_t i = 0; i < c.avi.size(); ++i) c.avi[i] = 0;
    c.avi[8] = 2;
    c.windowsMedia[12] = static_cast<std::uint8_t>(0xA0 + ch);
    c.pipEnabled = 1;
    c.primaryAsIs = static_cast<std::uint8_t>(ch & 1);
    c.captureWorkMode = 6;
  }
  block.recordingOn = 1;
  ASSERT_TRUE(Send(OPTTOPIC_SAVE_STREAM, block, OPTS_XCHG_WRITE));
  EXPECT_TRUE(doc.m_bRecording);
  EXPECT_EQ(doc.m_Recorder[2].m_eOutputStreamType, ST_AVI) << "the stream type follows the format";
  EXPECT_EQ(doc.m_Recorder[1].m_sTitle, "t1");
  EXPECT_EQ(doc.m_Recorder[1].m_nFirstWidth, 3);

  TSaveStreamExchange again;
  ASSERT_TRUE(Send(OPTTOPIC_SAVE_STREAM, again, OPTS_XCHG_READ));
  for (int ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE(ch);
    const TSaveStreamChannel& a = block.channels[ch];
    const TSaveStreamChannel& b = again.channels[ch];
    EXPECT_EQ(b.enabled, a.enabled);
    EXPECT_EQ(b.format, a.format);
    EXPECT_EQ(b.streamType, FileFormatToStreamType(a.format));
    EXPECT_EQ(b.singleFile, a.singleFile);
    EXPECT_EQ(b.singlePath, a.singlePath);
    EXPECT_EQ(b.folder, a.folder);
    EXPECT_EQ(b.spare, a.spare);
    EXPECT_EQ(b.titleBase, a.titleBase);
    EXPECT_EQ(b.prefix, a.prefix);
    EXPECT_EQ(b.suffix, a.suffix);
    EXPECT_EQ(b.extension, a.extension);
    EXPECT_EQ(b.clipDigits, a.clipDigits);
    EXPECT_EQ(b.frameDigits, a.frameDigits);
    EXPECT_EQ(b.samplingMethod, a.samplingMethod);
    EXPECT_EQ(b.timeBegin, a.timeBegin);
    EXPECT_EQ(b.timeEnd, a.timeEnd);
    EXPECT_EQ(b.timeStep, a.timeStep);
    EXPECT_EQ(b.sampleBegin, a.sampleBegin);
    EXPECT_EQ(b.sampleEnd, a.sampleEnd);
    EXPECT_EQ(b.sampleStep, a.sampleStep);
    EXPECT_EQ(b.addSuffix, a.addSuffix);
    EXPECT_EQ(b.nextClipIndex, a.nextClipIndex);
    EXPECT_EQ(b.jpegQuality, a.jpegQuality);
    EXPECT_EQ(b.tiff, a.tiff);
    EXPECT_EQ(b.avi, a.avi);
    EXPECT_EQ(b.windowsMedia[12], a.windowsMedia[12]);
    EXPECT_EQ(b.pipEnabled, a.pipEnabled);
    EXPECT_EQ(b.primaryAsIs, a.primaryAsIs);
    EXPECT_EQ(b.captureWorkMode, a.captureWorkMode);
  }
  EXPECT_EQ(again.recordingOn, 1);

  // While the engine plays a write is refused and nothing changes.
  doc.m_bRecording = false;
  doc.ch_nDecoderVideoOutPeriod = 5;
  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(Playing());
  TSaveStreamExchange late = again;
  late.channels[1].prefix = "late";
  late.channels[1].nextClipIndex = 5;
  EXPECT_FALSE(Send(OPTTOPIC_SAVE_STREAM, late, OPTS_XCHG_WRITE));
  EXPECT_EQ(doc.m_Recorder[1].m_sPrefix, "p1");
  TSaveImageExchange image;
  ASSERT_TRUE(Send(OPTTOPIC_SAVE_IMAGE, image, OPTS_XCHG_READ));
  image.channels[0].prefix = "late";
  EXPECT_FALSE(Send(OPTTOPIC_SAVE_IMAGE, image, OPTS_XCHG_WRITE));
  EXPECT_NE(doc.m_ImageSaver[0].m_sPrefix, "late");
  doc.m_Engine.StopPlaying();
  ASSERT_TRUE(RunUntil([this] { return !Playing(); }));
}

TEST_F(SaveOptsDocTest, TheCaptureExchangeCarriesEveryField) {
  TSaveImageExchange block;
  ASSERT_TRUE(Send(OPTTOPIC_SAVE_IMAGE, block, OPTS_XCHG_READ));
  for (int ch = 0; ch < 4; ++ch) {
    TSaveImageChannel& c = block.channels[ch];
    const std::string n = std::to_string(ch);
    c.copyToClipboard = ch & 1;
    c.saveToFile = 1;
    c.format = 30;
    c.singleFile = 1;
    c.singlePath = "/one" + n;
    c.folder = "/f" + n;
    c.prefix = "p" + n;
    c.titleBase = "t" + n;
    c.suffix = "s" + n;
    c.extension = ".e" + n;
    c.clipDigits = 3 + ch;
    c.frameDigits = 7;
    c.addSuffix = 1;
    c.nextClipIndex = 20 + ch;
    c.documentFlag = 1;
  }
  ASSERT_TRUE(Send(OPTTOPIC_SAVE_IMAGE, block, OPTS_XCHG_WRITE));
  EXPECT_EQ(doc.m_ImageSaver[2].BuildFileName(doc.m_ImageSaver[2].m_nFileCounter + 1), "/f2/p200022s2.e2");
  TSaveImageExchange again;
  ASSERT_TRUE(Send(OPTTOPIC_SAVE_IMAGE, again, OPTS_XCHG_READ));
  for (int ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE(ch);
    const TSaveImageChannel& a = block.channels[ch];
    const TSaveImageChannel& b = again.channels[ch];
    EXPECT_EQ(b.copyToClipboard, a.copyToClipboard);
    EXPECT_EQ(b.saveToFile, a.saveToFile);
    EXPECT_EQ(b.format, a.format);
    EXPECT_EQ(b.singleFile, a.singleFile);
    EXPECT_EQ(b.singlePath, a.singlePath);
    EXPECT_EQ(b.folder, a.folder);
    EXPECT_EQ(b.prefix, a.prefix);
    EXPECT_EQ(b.titleBase, a.titleBase);
    EXPECT_EQ(b.suffix, a.suffix);
    EXPECT_EQ(b.extension, a.extension);
    EXPECT_EQ(b.clipDigits, a.clipDigits);
    EXPECT_EQ(b.frameDigits, a.frameDigits);
    EXPECT_EQ(b.addSuffix, a.addSuffix);
    EXPECT_EQ(b.nextClipIndex, a.nextClipIndex);
    EXPECT_EQ(b.documentFlag, a.documentFlag);
  }
}

// Channel 1 recorded as 24-bit BMP frames: the first file is the one the
// page showed, the others differ only in the frame number, and each holds
// its frame.
TEST_F(SaveOptsDocTest, BmpFramesAreWrittenWhereThePageShowed) {
  constexpr int kFrames = 10;
  ASSERT_TRUE(Open(0, Clip("c0.yuv", kFrames)));
  const fs::path folder = dir / "frames";
  std::string shown;
  AcceptPage<OptsSaveStream::CZarnOptsSaveStream>(
      OPTCAT_SAVE_STREAM, OptsPage::PAGE_SAVE_STREAM, [&](OptsSaveStream::CZarnOptsSaveStream& page) {
        TSaveStreamChannel& r = page.Block().channels[0];
        r.folder = folder.string();
        r.prefix = "rec";
        r.titleBase = "_base";
        r.addSuffix = 1;
        r.clipDigits = 3;
        r.frameDigits = 5;
        const auto& codes = page.Codes(0);
        const auto at = std::find(codes.begin(), codes.end(), 33);
        ASSERT_NE(at, codes.end());
        page.m_pFormat->setCurrentIndex(static_cast<int>(at - codes.begin()));
        page.ApplyFormat(33, 0);
        page.m_pEnable->setChecked(true);
        page.m_pRecordingOn->setChecked(true);
        shown = page.m_pTarget->text().toStdString();
      });
  ASSERT_FALSE(shown.empty());
  EXPECT_TRUE(doc.m_bRecordChannel[0]);
  doc.ch_nDecoderVideoOutPeriod = 5;
  PlayToTheEnd();
  EXPECT_TRUE(sink.Texts().empty()) << (sink.Texts().empty() ? "" : sink.Texts()[0]);
  ASSERT_TRUE(fs::exists(shown)) << shown;
  const std::string stem = shown.substr(0, shown.size() - std::string("00000.bmp").size());
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(folder)) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), static_cast<std::size_t>(kFrames));
  for (int k = 0; k < kFrames; ++k) {
    SCOPED_TRACE(k);
    char number[8];
    std::snprintf(number, sizeof number, "%05d", k);
    const std::string path = stem + number + ".bmp";
    EXPECT_EQ(files[static_cast<std::size_t>(k)], path);
    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(path), "BMP"));
    EXPECT_EQ(image.width(), kWidth);
    EXPECT_TRUE(PictureIsClean(image));
    EXPECT_EQ(FrameOfPicture(image), k);
  }
}

// A typed next clip index is what the next recording carries, the one
// after counts on; the other channel keeps its own numbers.
TEST_F(SaveOptsDocTest, ANextClipIndexNumbersTheChannelsRecordings) {
  ASSERT_TRUE(Open(0, Clip("c0.yuv", 4)));
  ASSERT_TRUE(Open(1, Clip("c1.yuv", 4)));
  doc.m_bPlayEnable[1] = true;
  std::int32_t otherFirst = 0;
  AcceptPage<OptsSaveStream::CZarnOptsSaveStream>(
      OPTCAT_SAVE_STREAM, OptsPage::PAGE_SAVE_STREAM, [&](OptsSaveStream::CZarnOptsSaveStream& page) {
        for (int ch = 0; ch < 2; ++ch) {
          TSaveStreamChannel& r = page.Block().channels[ch];
          r.format = kYuvFormat;
          r.singleFile = 1;
          r.folder = (dir / ("out" + std::to_string(ch))).string();
          r.prefix = "take";
          r.titleBase.clear();
          r.extension = ".yuv";
          r.addSuffix = 1;
          r.clipDigits = 3;
          r.singlePath = "set";
          r.enabled = 1;
        }
        page.Block().channels[0].nextClipIndex = 7;
        otherFirst = page.Block().channels[1].nextClipIndex;
        page.ShowChannel(0);
        page.m_pEnable->setChecked(true);
        page.m_pRecordingOn->setChecked(true);
      });
  ASSERT_TRUE(doc.m_bRecordChannel[0]);
  ASSERT_TRUE(doc.m_bRecordChannel[1]);
  doc.ch_nDecoderVideoOutPeriod = 5;
  PlayToTheEnd();
  PlayToTheEnd();
  EXPECT_TRUE(fs::exists(dir / "out0" / "take_007.yuv"));
  EXPECT_TRUE(fs::exists(dir / "out0" / "take_008.yuv"));
  char name[32];
  std::snprintf(name, sizeof name, "take_%03d.yuv", otherFirst);
  EXPECT_TRUE(fs::exists(dir / "out1" / name)) << name;
  std::snprintf(name, sizeof name, "take_%03d.yuv", otherFirst + 1);
  EXPECT_TRUE(fs::exists(dir / "out1" / name)) << name;
  EXPECT_EQ(fs::file_size(dir / "out0" / "take_007.yuv"), 4 * kFrameBytes);
  EXPECT_TRUE(sink.Texts().empty());
}

// Channel 2's capture as an 8-bit BMP goes to exactly the path the page
// showed; reopened, the page shows the next number.
TEST_F(SaveOptsDocTest, ACaptureWritesThePathThePageShowed) {
  ASSERT_TRUE(Open(0, Clip("c0.yuv", 2)));
  QImage still(40, 30, QImage::Format_RGB32);
  still.fill(qRgb(200, 40, 10));
  const fs::path png = dir / "still.png";
  ASSERT_TRUE(still.save(QString::fromStdString(png.string()), "PNG"));
  ASSERT_TRUE(Open(1, png));
  std::string shown;
  AcceptPage<OptsCaptureImage::CZarnOptsSaveImage>(
      OPTCAT_SAVE_IMAGE, OptsPage::PAGE_SAVE_IMAGE, [&](OptsCaptureImage::CZarnOptsSaveImage& page) {
        page.m_pChannels->Select(1);
        TSaveImageChannel& r = page.Block().channels[1];
        r.folder = (dir / "shots").string();
        r.prefix = "cap";
        r.clipDigits = 4;
        const auto& codes = page.Codes(1);
        const auto at = std::find(codes.begin(), codes.end(), 30);
        ASSERT_NE(at, codes.end());
        page.m_pFormat->setCurrentIndex(static_cast<int>(at - codes.begin()));
        page.ApplyFormat(30, 1);
        page.m_pSaveToFile->setChecked(true);
        shown = page.m_pTarget->text().toStdString();
      });
  ASSERT_FALSE(shown.empty());
  ASSERT_TRUE(doc.CaptureChannelImage(1));
  ASSERT_TRUE(fs::exists(shown)) << shown;
  QImage written;
  ASSERT_TRUE(written.load(QString::fromStdString(shown), "BMP"));
  EXPECT_EQ(written.depth(), 8);
  std::string next;
  AcceptPage<OptsCaptureImage::CZarnOptsSaveImage>(OPTCAT_SAVE_IMAGE, OptsPage::PAGE_SAVE_IMAGE,
                                                   [&](OptsCaptureImage::CZarnOptsSaveImage& page) {
                                                     page.m_pChannels->Select(1);
                                                     next = page.m_pTarget->text().toStdString();
                                                   });
  EXPECT_NE(next, shown);
  ASSERT_TRUE(doc.CaptureChannelImage(1));
  EXPECT_TRUE(fs::exists(next)) << next;
}

// What the pages set reaches the saved settings block at its offsets and
// the naming strings when the document stores its defaults; the clip
// index of recordings and the capture's single path are not kept.
TEST_F(SaveOptsDocTest, PageValuesReachTheSavedBlockAndNames) {
  TSaveStreamExchange stream;
  ASSERT_TRUE(Send(OPTTOPIC_SAVE_STREAM, stream, OPTS_XCHG_READ));
  TSaveImageExchange image;
  ASSERT_TRUE(Send(OPTTOPIC_SAVE_IMAGE, image, OPTS_XCHG_READ));
  stream.recordingOn = 1;
  for (int ch = 0; ch < 4; ++ch) {
    TSaveStreamChannel& c = stream.channels[ch];
    c.enabled = 1;
    c.format = 43;
    c.singleFile = 0;
    c.folder = "/rec" + std::to_string(ch);
    c.titleBase = "title" + std::to_string(ch);
    c.prefix = "pre";
    c.extension = ".png";
    c.clipDigits = 4 + ch;
    c.frameDigits = 2;
    c.addSuffix = 1;
    c.jpegQuality = 60 + ch;
    c.pipEnabled = 1;
    TSaveImageChannel& i = image.channels[ch];
    i.copyToClipboard = 1;
    i.saveToFile = 1;
    i.format = 30;
    i.folder = "/img" + std::to_string(ch);
    i.prefix = "shot";
    i.titleBase = "ib" + std::to_string(ch);
    i.clipDigits = 6;
    i.nextClipIndex = 12 + ch;
  }
  ASSERT_TRUE(Send(OPTTOPIC_SAVE_STREAM, stream, OPTS_XCHG_WRITE));
  ASSERT_TRUE(Send(OPTTOPIC_SAVE_IMAGE, image, OPTS_XCHG_WRITE));
  shell::TProgCfg cfg;
  std::array<shell::TChannelNaming, 4> sequence, images;
  doc.StoreSavedDefaults(cfg, sequence, images);
  const std::vector<std::uint8_t> bytes = shell::EncodeProgCfg(cfg);
  auto int32At = [&](std::size_t at) {
    std::int32_t v = 0;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
  };
  EXPECT_EQ(bytes[328], 1);
  for (std::size_t ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE(ch);
    const std::size_t r = 336 + 288 * ch, w = 1488 + 28 * ch;
    EXPECT_EQ(bytes[r], 1) << "record flag";
    EXPECT_EQ(int32At(r + 8), static_cast<std::int32_t>(4 + ch));
    EXPECT_EQ(int32At(r + 12), 2);
    EXPECT_EQ(bytes[r + 72], 1);
    EXPECT_EQ(int32At(r + 76), 43);
    EXPECT_EQ(int32At(r + 80), static_cast<std::int32_t>(60 + ch));
    EXPECT_EQ(bytes[r + 280], 1);
    EXPECT_EQ(sequence[ch].dirOut, "/rec" + std::to_string(ch));
    EXPECT_EQ(sequence[ch].titleBase, "title" + std::to_string(ch));
    EXPECT_EQ(sequence[ch].extension, ".png");
    EXPECT_EQ(bytes[w], 1);
    EXPECT_EQ(bytes[w + 1], 1);
    EXPECT_EQ(int32At(w + 4), static_cast<std::int32_t>(11 + ch))
        << "the counter: the next capture takes 12 + ch";
    EXPECT_EQ(int32At(w + 8), 6);
    EXPECT_EQ(int32At(w + 20), 30);
    EXPECT_EQ(images[ch].dirOut, "/img" + std::to_string(ch));
    EXPECT_EQ(images[ch].prefix, "shot");
    EXPECT_EQ(images[ch].titleBase, "ib" + std::to_string(ch));
  }
}

// Channel 1 recorded into one raw YUV file, of the clip's own layout and
// of layout 94: a frame's size per frame shown, each frame the clip's
// frame (black and white luma stripes by the frame number, neutral
// chroma; black and white are the range's ends in every standard).
TEST_F(SaveOptsDocTest, OneRawYuvFileHoldsEveryFrame) {
  constexpr int kFrames = 6;
  ASSERT_TRUE(Open(0, Clip("c0.yuv", kFrames)));
  for (const std::int32_t layout : {kYuvFormat, 94}) {
    SCOPED_TRACE(layout);
    const std::string name = "all" + std::to_string(layout);
    std::string shown;
    AcceptPage<OptsSaveStream::CZarnOptsSaveStream>(
        OPTCAT_SAVE_STREAM, OptsPage::PAGE_SAVE_STREAM, [&](OptsSaveStream::CZarnOptsSaveStream& page) {
          TSaveStreamChannel& r = page.Block().channels[0];
          r.folder = (dir / "one").string();
          r.prefix = name;
          r.titleBase.clear();
          r.addSuffix = 0;
          r.singleFile = 1;
          const auto& codes = page.Codes(0);
          const auto at = std::find(codes.begin(), codes.end(), layout);
          ASSERT_NE(at, codes.end());
          page.m_pFormat->setCurrentIndex(static_cast<int>(at - codes.begin()));
          page.ApplyFormat(layout, 0);
          page.m_pEnable->setChecked(true);
          page.m_pRecordingOn->setChecked(true);
          shown = page.m_pTarget->text().toStdString();
        });
    EXPECT_EQ(shown, (dir / "one" / (name + ".yuv")).string());
    doc.ch_nDecoderVideoOutPeriod = 5;
    PlayToTheEnd();
    EXPECT_TRUE(sink.Texts().empty());
    TYuvLayout parts;
    ASSERT_TRUE(DecomposeYuvFileFormat(layout, parts));
    const std::size_t lumaBytes = static_cast<std::size_t>(kWidth * kHeight);
    const std::size_t frameBytes = lumaBytes * static_cast<std::size_t>(GetYuvBitsPerPixel(layout)) / 8;
    std::ifstream in(shown, std::ios::binary);
    const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
    ASSERT_EQ(file.size(), kFrames * frameBytes);
    // The range's black and white (the first frame's first stripe is
    // black, the second frame's white).
    const int black = file[0];
    const int white = file[frameBytes];
    EXPECT_TRUE((black == 16 && white == 235) || (black == 0 && white == 255)) << black << " " << white;
    for (int k = 0; k < kFrames; ++k) {
      SCOPED_TRACE(k);
      const std::uint8_t* frame = file.data() + static_cast<std::size_t>(k) * frameBytes;
      int worst = 0;
      for (std::size_t i = 0; i < frameBytes; ++i) {
        const int x = static_cast<int>(i % kWidth);
        const int want = i < lumaBytes ? ((k >> (x / 8)) & 1 ? white : black) : 128;
        worst = std::max(worst, std::abs(frame[i] - want));
      }
      EXPECT_LE(worst, 2);
    }
  }
}

// ---------------------------------------------------------------------------
// The sampling sheet between the "Save stream" page and the document: a
// sample-number interval on channel 1 (a raw YUV clip, step fixed at 1)
// and a time interval on channel 2 (Windows Media video from a webcam's
// source record) reach the recorders, the settings block when the
// document closes, a new start through the settings file, and the sheets
// opened again.

namespace {

// A new start: the block the document closed with, marked as saved, goes
// into the settings file and is read back into the next application's
// settings as its start reads them.
void StartAgainFrom(const std::vector<std::uint8_t>& closed, const QString& ini,
                    open_test::TSettingsApplication& next) {
  shell::TProgCfg cfg;
  ASSERT_TRUE(shell::DecodeProgCfg(closed.data(), closed.size(), cfg));
  cfg.savedMarker = 1;
  {
    const std::vector<std::uint8_t> bytes = shell::EncodeProgCfg(cfg);
    platform::qt::CRegistryAccess store(ini);
    ASSERT_TRUE(store.WriteBinaryValue(kProgCfgKey, "ProgCfg", bytes.data(), bytes.size()));
    ASSERT_TRUE(store.Flush());
  }
  platform::qt::CRegistryAccess store(ini);
  std::vector<std::uint8_t> read;
  ASSERT_TRUE(store.ReadBinaryValue(kProgCfgKey, "ProgCfg", read));
  ASSERT_TRUE(shell::DecodeProgCfg(read.data(), read.size(), next.cfg));
  next.settingsRead = next.cfg.savedMarker != 0;
}

class SamplingThroughTheDocument : public tovrin_test::TRecordedMessagesTest {
 protected:
  using CSamplingPage = OptsSaveStreamSampling::COptsSaveStreamSampling;

  // Channel 1 holds a clip, channel 2 a webcam's source record.
  void Prepare(ZarnDoc::CZarnDoc& doc) {
    doc.m_YuvOpen.nFormat = kYuvFormat;
    doc.m_YuvOpen.nWidth = kWidth;
    doc.m_YuvOpen.nHeight = kHeight;
    const fs::path clip = dir / "c0.yuv";
    if (!fs::exists(clip)) clip_test::WriteClip(clip, 3);
    ASSERT_TRUE(doc.OpenSource(clip.string(), 0));
    TMediaSource& cam = doc.m_Source[1];
    cam.bOpen = TRUE_;
    cam.eStreamType = ST_SYSTEM_DEVICE;
    cam.nDeviceCategory = 4;
  }

  // The "Save stream" sheet over the controller pane; `edit` works on its
  // page, which is accepted or not.
  void OnSaveStreamPage(ZarnDoc::CZarnDoc& doc, bool accept,
                        const std::function<void(OptsSaveStream::CZarnOptsSaveStream&)>& edit) {
    ZarnOptions::CZarnOptions sheet(QStringLiteral("Options"), doc.ControllerView(), OPTCAT_SAVE_STREAM);
    sheet.OnInitDialog();
    auto* page = static_cast<OptsSaveStream::CZarnOptsSaveStream*>(sheet.Page(OptsPage::PAGE_SAVE_STREAM));
    ASSERT_NE(page, nullptr);
    ASSERT_FALSE(page->ReadFailed());
    edit(*page);
    if (accept)
      sheet.AcceptSheet();
    else
      sheet.reject();
  }

  // The sampling sheet of the page's shown channel through its button;
  // `edit` works on the sampling page, which is then accepted.
  static void OnSamplingPage(OptsSaveStream::CZarnOptsSaveStream& page, int channel,
                             const std::function<void(CSamplingPage&)>& edit) {
    page.m_pChannels->Select(channel);
    bool ran = false;
    page.m_RunSamplingSheet = [&] {
      ran = true;
      ZarnOptions::CZarnOptions sheet(ZarnOptions::RunOptionsSheetCaption(OPTCAT_SAMPLING), &page,
                                      OPTCAT_SAMPLING);
      sheet.OnInitDialog();
      auto* sampling = static_cast<CSamplingPage*>(sheet.Page(OptsPage::PAGE_SAMPLING));
      EXPECT_NE(sampling, nullptr);
      if (!sampling) return false;
      EXPECT_EQ(sampling->CurrentChannel(), channel);
      edit(*sampling);
      sheet.AcceptSheet();
      return true;
    };
    page.m_pSamplingSettings->click();
    EXPECT_TRUE(ran);
  }

  static void Choose(CSamplingPage& page, int method) {
    const int at = page.m_pMethod->findData(method);
    ASSERT_GE(at, 0) << method;
    page.m_pMethod->setCurrentIndex(at);
    emit page.m_pMethod->activated(at);
  }

  // The edits, what the recorders and the reopened sheets show.
  static void Edit(OptsSaveStream::CZarnOptsSaveStream& page) {
    OnSamplingPage(page, 0, [](CSamplingPage& s) {
      Choose(s, 3);
      s.m_pBegin->setText("6000000000");
      s.m_pEnd->setText("6000000020");
    });
    EXPECT_EQ(page.m_pSampling->text().toStdString(), " Sample number interval");
    page.m_pChannels->Select(1);
    const auto& codes = page.Codes(1);
    const auto at = std::find(codes.begin(), codes.end(), 10);
    ASSERT_NE(at, codes.end()) << "a webcam offers WMV";
    page.m_pFormat->setCurrentIndex(static_cast<int>(at - codes.begin()));
    page.ApplyFormat(10, 1);
    OnSamplingPage(page, 1, [](CSamplingPage& s) {
      Choose(s, 2);
      s.m_pInterval->setText("0.21");
      s.m_pBegin->setText("0.41");
      s.m_pEnd->setText("1.19");
    });
    EXPECT_EQ(page.m_pSampling->text().toStdString(), " Time interval");
  }
  static void ExpectRecorders(ZarnDoc::CZarnDoc& doc) {
    const auto& a = doc.m_Recorder[0].m_Sampling;
    EXPECT_EQ(a.nMode, 3);
    EXPECT_EQ(a.nStartFrame, 6'000'000'000LL);
    EXPECT_EQ(a.nEndFrame, 6'000'000'020LL);
    EXPECT_EQ(a.nStepFrame, 1) << "the step is fixed off Windows Media video";
    const auto& b = doc.m_Recorder[1].m_Sampling;
    EXPECT_EQ(b.nMode, 2);
    EXPECT_EQ(b.dStartTime, 0.41);
    EXPECT_EQ(b.dEndTime, 1.19);
    EXPECT_EQ(b.dStepTime, 0.21);
  }
  void ExpectSheetsShowTheEdits(ZarnDoc::CZarnDoc& doc) {
    OnSaveStreamPage(doc, false, [](OptsSaveStream::CZarnOptsSaveStream& page) {
      OnSamplingPage(page, 0, [](CSamplingPage& s) {
        EXPECT_EQ(s.m_pMethod->currentData().toInt(), 3);
        EXPECT_EQ(s.m_pBegin->text().toStdString(), "6000000000");
        EXPECT_EQ(s.m_pEnd->text().toStdString(), "6000000020");
        EXPECT_EQ(s.m_pInterval->text().toStdString(), "1");
      });
      OnSamplingPage(page, 1, [](CSamplingPage& s) {
        EXPECT_EQ(s.m_pMethod->currentData().toInt(), 2);
        EXPECT_EQ(s.m_pInterval->text().toStdString(), "0.210000");
        EXPECT_EQ(s.m_pBegin->text().toStdString(), "0.410000");
        EXPECT_EQ(s.m_pEnd->text().toStdString(), "1.19000");
      });
    });
  }
};

std::int64_t Le64(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  std::int64_t v = 0;
  std::memcpy(&v, bytes.data() + at, sizeof v);
  return v;
}

double LeF64(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  double v = 0;
  std::memcpy(&v, bytes.data() + at, sizeof v);
  return v;
}

}  // namespace

TEST_F(SamplingThroughTheDocument, ReachesRecordersSettingsBlockAndANewStart) {
  std::vector<std::uint8_t> closed;
  {
    open_test::TSettingsApplication app;
    doc_test::TDocumentWindow w;
    ZarnDoc::CZarnDoc& doc = w.Doc();
    Prepare(doc);
    OnSaveStreamPage(doc, true, Edit);
    ExpectRecorders(doc);
    ExpectSheetsShowTheEdits(doc);
    doc.OnCloseDocument();
    closed = shell::EncodeProgCfg(app.cfg);
  }
  ASSERT_EQ(closed.size(), shell::kProgCfgSize);
  // The recorder records at 336 + 288 per channel: method, times, samples.
  const std::size_t r0 = 336, r1 = 336 + 288;
  std::int32_t method0 = 0, method1 = 0;
  std::memcpy(&method0, closed.data() + r0 + 16, 4);
  std::memcpy(&method1, closed.data() + r1 + 16, 4);
  EXPECT_EQ(method0, 3);
  EXPECT_EQ(Le64(closed, r0 + 48), 6'000'000'000LL);
  EXPECT_EQ(Le64(closed, r0 + 56), 6'000'000'020LL);
  EXPECT_EQ(Le64(closed, r0 + 64), 1);
  EXPECT_EQ(method1, 2);
  EXPECT_EQ(LeF64(closed, r1 + 24), 0.41);
  EXPECT_EQ(LeF64(closed, r1 + 32), 1.19);
  EXPECT_EQ(LeF64(closed, r1 + 40), 0.21);

  // A new start reads the block from the settings file.
  open_test::TSettingsApplication next;
  ASSERT_NO_FATAL_FAILURE(StartAgainFrom(closed, QString::fromStdString(Path("Tovrin.ini")), next));
  doc_test::TDocumentWindow w;
  ExpectRecorders(w.Doc());
  Prepare(w.Doc());
  ExpectSheetsShowTheEdits(w.Doc());
  EXPECT_TRUE(sink.Texts().empty()) << sink.Texts().front();
}

// ---------------------------------------------------------------------------
// The AVI and Windows Media sheets between the "Save stream" page and the
// document: on two webcam channels (the formats are offered to capture
// devices only), AVI type 2 on channel 1 and a Windows Media profile with
// both flags on channel 2, chosen through "Options...", reach the
// recorders' settings images and the capture work mode, the settings block
// when the document closes, a new start through the settings file, and the
// sheets opened again.

namespace {

class ContainerSheetsThroughTheDocument : public tovrin_test::TRecordedMessagesTest {
 protected:
  using CSaveStreamPage = OptsSaveStream::CZarnOptsSaveStream;

  static void MakeWebcams(ZarnDoc::CZarnDoc& doc) {
    for (int ch = 0; ch < 2; ++ch) {
      TMediaSource& cam = doc.m_Source[ch];
      cam.bOpen = TRUE_;
      cam.eStreamType = ST_SYSTEM_DEVICE;
      cam.nDeviceCategory = 4;
    }
  }

  // The "Save stream" sheet over the controller pane; `edit` works on its
  // page, which is accepted or not.
  static void OnPage(ZarnDoc::CZarnDoc& doc, bool accept, const std::function<void(CSaveStreamPage&)>& edit) {
    ZarnOptions::CZarnOptions sheet(QStringLiteral("Options"), doc.ControllerView(), OPTCAT_SAVE_STREAM);
    sheet.OnInitDialog();
    auto* page = static_cast<CSaveStreamPage*>(sheet.Page(OptsPage::PAGE_SAVE_STREAM));
    ASSERT_NE(page, nullptr);
    ASSERT_FALSE(page->ReadFailed());
    edit(*page);
    if (accept)
      sheet.AcceptSheet();
    else
      sheet.reject();
  }

  // Chooses `format` in the channel's list (when `choose`) and opens its
  // options sheet through "Options..."; `edit` works on the sheet's page of
  // `kind`, then the sheet is accepted.
  template <class TSub>
  static void OnFormatSheet(CSaveStreamPage& page, int channel, std::int32_t format, bool choose,
                            std::int32_t wantedCategory, OptsPage::TOptsPageKind kind,
                            const std::function<void(TSub&)>& edit) {
    page.m_pChannels->Select(channel);
    if (choose) {
      const auto& codes = page.Codes(channel);
      const auto at = std::find(codes.begin(), codes.end(), format);
      ASSERT_NE(at, codes.end()) << "a webcam offers " << format;
      page.m_pFormat->setCurrentIndex(static_cast<int>(at - codes.begin()));
      page.ApplyFormat(format, channel);
    }
    bool ran = false;
    page.m_RunFormatSheet = [&](std::int32_t category) {
      ran = true;
      EXPECT_EQ(category, wantedCategory);
      ZarnOptions::CZarnOptions sheet(QStringLiteral("Options"), &page, category);
      sheet.OnInitDialog();
      auto* sub = static_cast<TSub*>(sheet.Page(kind));
      EXPECT_NE(sub, nullptr);
      if (!sub || !sub->InitResult()) return false;
      edit(*sub);
      sheet.AcceptSheet();
      return true;
    };
    page.OnFormatOptions();
    EXPECT_TRUE(ran);
  }

  // The third video-and-audio profile: not the one a null id opens on.
  static const DShowMgr::TWmProfile& Chosen() {
    std::vector<const DShowMgr::TWmProfile*> both;
    for (const auto& p : DShowMgr::WmProfileTable())
      if (p.bVideo && p.bAudio) both.push_back(&p);
    EXPECT_GE(both.size(), 3u);
    return *both.at(2);
  }

  static void Edit(CSaveStreamPage& page) {
    OnFormatSheet<OptsAvi::COptsAvi>(page, 0, 9, true, OPTCAT_AVI, OptsPage::PAGE_AVI,
                                     [](OptsAvi::COptsAvi& avi) {
                                       EXPECT_TRUE(avi.Type1Button()->isChecked());
                                       avi.Type2Button()->click();
                                     });
    OnFormatSheet<OptsWmf::COptsWmf>(page, 1, 10, true, OPTCAT_WMV, OptsPage::PAGE_WMF,
                                     [](OptsWmf::COptsWmf& wm) {
                                       EXPECT_EQ(wm.Label(), "WMV");
                                       wm.ProfileList()->setCurrentIndex(2);
                                       emit wm.ProfileList()->activated(2);
                                       wm.NewProfileBox()->setChecked(true);
                                       wm.CustomSamplingBox()->setChecked(true);
                                     });
  }

  // The images the recorders hold, as the document hands them out.
  static void ExpectRecorders(ZarnDoc::CZarnDoc& doc) {
    TSaveStreamExchange block;
    block.header.op = OPTS_XCHG_READ;
    doc.OnOptsCategory(OPTTOPIC_SAVE_STREAM, reinterpret_cast<pq::LPARAM>(&block));
    ASSERT_NE(block.header.answered, 0);
    const TSaveStreamChannel& a = block.channels[0];
    EXPECT_EQ(a.format, 9);
    EXPECT_EQ(AviFileTypeOf(a.avi), 2);
    EXPECT_EQ(a.captureWorkMode, 6);
    const TSaveStreamChannel& w = block.channels[1];
    EXPECT_EQ(w.format, 10);
    EXPECT_TRUE(std::equal(Chosen().id.begin(), Chosen().id.end(), w.windowsMedia.begin() + 8));
    EXPECT_EQ(w.windowsMedia[24], 1) << "custom sampling";
    EXPECT_EQ(w.windowsMedia[32], 1) << "new profile";
    EXPECT_EQ(w.captureWorkMode, 10);
    EXPECT_EQ(doc.ChannelReader(0).DeviceSettings().nCaptureWorkMode, 6);
    EXPECT_EQ(doc.ChannelReader(1).DeviceSettings().nCaptureWorkMode, 10);
  }

  static void ExpectSheetsShowTheEdits(ZarnDoc::CZarnDoc& doc) {
    OnPage(doc, false, [](CSaveStreamPage& page) {
      OnFormatSheet<OptsAvi::COptsAvi>(
          page, 0, 9, false, OPTCAT_AVI, OptsPage::PAGE_AVI,
          [](OptsAvi::COptsAvi& avi) { EXPECT_TRUE(avi.Type2Button()->isChecked()); });
      OnFormatSheet<OptsWmf::COptsWmf>(
          page, 1, 10, false, OPTCAT_WMV, OptsPage::PAGE_WMF, [](OptsWmf::COptsWmf& wm) {
            EXPECT_EQ(wm.ProfileList()->currentIndex(), 2);
            EXPECT_EQ(wm.Description()->text().toStdString(), Chosen().pDescription);
            EXPECT_TRUE(wm.NewProfileBox()->isChecked());
            EXPECT_TRUE(wm.CustomSamplingBox()->isChecked());
          });
    });
  }
};

}  // namespace

TEST_F(ContainerSheetsThroughTheDocument, ReachRecordersSettingsBlockAndANewStart) {
  std::vector<std::uint8_t> closed;
  {
    open_test::TSettingsApplication app;
    doc_test::TDocumentWindow w;
    ZarnDoc::CZarnDoc& doc = w.Doc();
    MakeWebcams(doc);
    // Cancel on the page drops what its sheets changed.
    OnPage(doc, false, Edit);
    EXPECT_EQ(doc.ChannelReader(0).DeviceSettings().nCaptureWorkMode, 1);
    OnPage(doc, true, Edit);
    ExpectRecorders(doc);
    ExpectSheetsShowTheEdits(doc);
    doc.OnCloseDocument();
    closed = shell::EncodeProgCfg(app.cfg);
  }
  ASSERT_EQ(closed.size(), shell::kProgCfgSize);
  // Per channel at 336 + 288: the AVI image at 216 (its type at 224), the
  // Windows Media image at 232 (profile at 240, flags at 256 and 264).
  const std::size_t r0 = 336, r1 = 336 + 288;
  std::int32_t type = 0;
  std::memcpy(&type, closed.data() + r0 + 224, 4);
  EXPECT_EQ(type, 2);
  EXPECT_TRUE(std::equal(Chosen().id.begin(), Chosen().id.end(), closed.begin() + r1 + 240));
  EXPECT_EQ(closed[r1 + 256], 1);
  EXPECT_EQ(closed[r1 + 264], 1);

  // A new start reads the block from the settings file.
  open_test::TSettingsApplication next;
  ASSERT_NO_FATAL_FAILURE(StartAgainFrom(closed, QString::fromStdString(Path("Tovrin.ini")), next));
  doc_test::TDocumentWindow w;
  // The new document's readers take the work modes of the saved formats.
  EXPECT_EQ(w.Doc().ChannelReader(0).DeviceSettings().nCaptureWorkMode, 6);
  EXPECT_EQ(w.Doc().ChannelReader(1).DeviceSettings().nCaptureWorkMode, 10);
  MakeWebcams(w.Doc());
  ExpectRecorders(w.Doc());
  ExpectSheetsShowTheEdits(w.Doc());
  EXPECT_TRUE(sink.Texts().empty()) << sink.Texts().front();
}
