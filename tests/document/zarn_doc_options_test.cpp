// The document's side of the option pages: the category message by topic,
// the media-document block and its DVD request, the three decoder settings
// groups through the controller pane, the "Media document" page over real
// channels, and the Tools "Options..." and "More Options..." sheets.

#include <QApplication>
#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document/zarn_view.h"
#include "document_fixture.h"
#include "media/device_kinds.h"
#include "media/file_types.h"
#include "open_fixture.h"
#include "options/channel_radios.h"
#include "options/opts_media_document.h"
#include "options/opts_tree.h"
#include "options/zarn_options.h"
#include "shell/command_ids.h"
#include "shell/visual_manager.h"
#include "tests/options/layout_check.h"
#include "tests/support/message_fixture.h"

using namespace ZarnTypes;
namespace pq = platform::qt;

namespace {

class DocOptionsTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  open_test::TSettingsApplication app;
  doc_test::TDocumentWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
  QWidget* Controller() { return doc.ControllerView(); }

  bool Open(const std::string& path, int channel, std::int32_t format = 0, int width = 0, int height = 0) {
    TOpenSourceArgs args;
    args.path = path;
    args.channel = channel;
    args.format = format;
    args.width = width;
    args.height = height;
    return doc.OpenSourceInChannel(args);
  }

  // The channel text the page shows for a channel.
  std::string PageText(int channel) {
    OptsMediaDocument::COptsMediaDocument page;
    page.SetOwner(Controller());
    page.Initialize();
    EXPECT_TRUE(page.InitResult());
    page.Selector()->Select(channel);
    return page.ChannelEdit()->toPlainText().toStdString();
  }
};

// An interlaced (Adam7) RGBA PNG written with libpng.
bool WriteInterlacedRgbaPng(const std::string& path, int width, int height) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = png && info;
  std::vector<png_byte> pixels(static_cast<std::size_t>(width * height * 4));
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<png_byte>(i * 7);
  std::vector<png_bytep> rows(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) rows[static_cast<std::size_t>(y)] = pixels.data() + y * width * 4;
  if (ok && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_interlace_handling(png);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
  } else {
    ok = false;
  }
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0 && ok;
}

// The IHDR fields of a PNG file, read from its bytes.
struct TIhdr {
  int width = 0, height = 0, depth = 0, colorType = -1, interlace = -1;
};
TIhdr ReadIhdr(const std::string& path) {
  TIhdr h;
  FILE* file = std::fopen(path.c_str(), "rb");
  unsigned char b[29] = {};
  if (file && std::fread(b, 1, sizeof b, file) == sizeof b) {
    h.width = (b[16] << 24) | (b[17] << 16) | (b[18] << 8) | b[19];
    h.height = (b[20] << 24) | (b[21] << 16) | (b[22] << 8) | b[23];
    h.depth = b[24];
    h.colorType = b[25];
    h.interlace = b[28];
  }
  if (file) std::fclose(file);
  return h;
}

}  // namespace

TEST_F(DocOptionsTest, CategoryMessageByTopic) {
  struct Row {
    std::int32_t topic;
    pq::LRESULT result;
    bool answered;
  };
  // Topics 3 and 17 are served (6 and 8 too, below, each with its own
  // block); 15 is known and unanswered; the topics whose pages come later,
  // 4, 7, 16 and unknown topics go back unanswered with 0.
  const Row rows[] = {{3, 1, true},   {15, 1, false}, {1, 0, false}, {2, 0, false},  {4, 0, false},
                      {5, 0, false},  {7, 0, false},  {9, 0, false}, {10, 0, false}, {13, 0, false},
                      {16, 0, false}, {17, 1, true},  {0, 0, false}, {18, 0, false}, {-1, 0, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.topic);
    TMediaDocumentExchange block;
    block.header.op = OPTS_XCHG_READ;
    EXPECT_EQ(doc.OnOptsCategory(static_cast<pq::WPARAM>(r.topic), reinterpret_cast<pq::LPARAM>(&block)),
              r.result);
    EXPECT_EQ(block.header.answered != 0, r.answered);
    // The same through the controller pane.
    TMediaDocumentExchange sent;
    EXPECT_EQ(SendOptsBlock(Controller(), pq::WM_APP_OPTS_CATEGORY, static_cast<pq::WPARAM>(r.topic), sent,
                            OPTS_XCHG_READ),
              r.answered);
  }
  // The video pane's topic is served with its own block.
  TVideoPaneExchange pane;
  pane.header.op = OPTS_XCHG_READ;
  EXPECT_EQ(doc.OnOptsCategory(OPTTOPIC_VIDEO_PANE, reinterpret_cast<pq::LPARAM>(&pane)), 1);
  EXPECT_EQ(pane.header.answered, 1);
  // So are the save stream and capture image topics.
  TSaveStreamExchange stream;
  EXPECT_TRUE(
      SendOptsBlock(Controller(), pq::WM_APP_OPTS_CATEGORY, OPTTOPIC_SAVE_STREAM, stream, OPTS_XCHG_READ));
  TSaveImageExchange image;
  EXPECT_TRUE(
      SendOptsBlock(Controller(), pq::WM_APP_OPTS_CATEGORY, OPTTOPIC_SAVE_IMAGE, image, OPTS_XCHG_READ));
}

TEST_F(DocOptionsTest, MediaDocumentBlockAndItsDvdRequest) {
  TMediaDocumentExchange block;
  ASSERT_TRUE(
      SendOptsBlock(Controller(), pq::WM_APP_OPTS_CATEGORY, OPTTOPIC_MEDIA_DOCUMENT, block, OPTS_XCHG_READ));
  EXPECT_EQ(block.identifier, &doc.m_strDocName);
  EXPECT_EQ(block.title, &doc.m_strDocTitle);
  EXPECT_EQ(block.identifier->rfind("DM", 0), 0u);
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(block.sources[ch], &doc.m_Source[ch]);
    EXPECT_EQ(block.formats[ch], &doc.m_Format[ch]);
  }
  EXPECT_TRUE(
      SendOptsBlock(Controller(), pq::WM_APP_OPTS_CATEGORY, OPTTOPIC_MEDIA_DOCUMENT, block, OPTS_XCHG_WRITE));
  TMediaDocumentExchange other;
  EXPECT_FALSE(SendOptsBlock(Controller(), pq::WM_APP_OPTS_CATEGORY, OPTTOPIC_MEDIA_DOCUMENT, other, 3));

  // A DVD in channel 2 as the request must know it.
  doc.m_Source[2].bOpen = TRUE_;
  doc.m_Source[2].eStreamType = ST_SYSTEM_DEVICE;
  doc.m_Source[2].nDeviceCategory = SDC_DVD;
  doc.m_Source[2].nDeviceKind = SDC_DVD;
  struct Row {
    const char* name;
    std::int32_t kind;
    TMediaInfoRequest request;
    bool withText;
    bool answered;
  };
  const TMediaInfoRequest dvd{2, ST_SYSTEM_DEVICE, SDC_DVD, SDC_DVD, nullptr};
  const Row rows[] = {
      {"the DVD", 1, dvd, true, true},
      {"no text", 1, dvd, false, false},
      {"request kind 2", 2, dvd, true, false},
      {"another type", 1, {2, ST_AVI, SDC_DVD, SDC_DVD, nullptr}, true, false},
      {"another kind", 1, {2, ST_SYSTEM_DEVICE, SDC_DVD, SDC_WEBCAM, nullptr}, true, false},
      {"channel 4", 1, {4, ST_SYSTEM_DEVICE, SDC_DVD, SDC_DVD, nullptr}, true, false},
      {"channel -1", 1, {-1, ST_SYSTEM_DEVICE, SDC_DVD, SDC_DVD, nullptr}, true, false},
      {"a channel without a DVD", 1, {1, ST_NULL_STREAM, 0, 0, nullptr}, true, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::string text = "left over";
    TMediaInfoRequest request = r.request;
    if (r.withText) request.text = &text;
    TMediaDocumentExchange apply;
    apply.requestKind = r.kind;
    apply.request = &request;
    EXPECT_EQ(SendOptsBlock(Controller(), pq::WM_APP_OPTS_CATEGORY, OPTTOPIC_MEDIA_DOCUMENT, apply,
                            OPTS_XCHG_APPLY),
              r.answered);
    EXPECT_EQ(text, r.answered ? "" : "left over");
  }
  TMediaDocumentExchange none;
  none.requestKind = 1;
  EXPECT_FALSE(
      SendOptsBlock(Controller(), pq::WM_APP_OPTS_CATEGORY, OPTTOPIC_MEDIA_DOCUMENT, none, OPTS_XCHG_APPLY));
}

TEST_F(DocOptionsTest, DecoderGroupsRoundTripEveryFieldThroughTheController) {
  TOovSettingsExchange oov;
  ASSERT_TRUE(SendOptsBlock(Controller(), pq::WM_APP_OPTS_DOC_STRINGS_1, 0, oov, OPTS_XCHG_READ));
  EXPECT_EQ(oov.enableVideo, doc.ch_bEnableVideoOOV ? 1 : 0);
  oov = TOovSettingsExchange{};
  oov.enableDecoder = 1;
  oov.sysDir = "/sys";
  oov.iniFile = "oov.ini";
  oov.srcDir = "/src";
  oov.fileIn = "in.oov";
  oov.fileOut = "out.oov";
  oov.enableVideo = 0;
  oov.enableFtpSource = 1;
  ASSERT_TRUE(SendOptsBlock(Controller(), pq::WM_APP_OPTS_DOC_STRINGS_1, 0, oov, OPTS_XCHG_WRITE));
  EXPECT_TRUE(doc.ch_bEnableDecoderOOV);
  EXPECT_EQ(doc.ch_sSysDirOOV, "/sys");
  EXPECT_EQ(doc.ch_sIniFileOOV, "oov.ini");
  EXPECT_EQ(doc.ch_sSrcDirOOV, "/src");
  EXPECT_EQ(doc.ch_sOOVSFileIn, "in.oov");
  EXPECT_EQ(doc.ch_sOOVSFileOut, "out.oov");
  EXPECT_FALSE(doc.ch_bEnableVideoOOV);
  EXPECT_TRUE(doc.ch_bEnableFtpSource);
  TOovSettingsExchange back;
  ASSERT_TRUE(SendOptsBlock(Controller(), pq::WM_APP_OPTS_DOC_STRINGS_1, 0, back, OPTS_XCHG_READ));
  EXPECT_EQ(back.sysDir, "/sys");
  EXPECT_EQ(back.fileOut, "out.oov");
  EXPECT_EQ(back.enableFtpSource, 1);
  EXPECT_FALSE(SendOptsBlock(Controller(), pq::WM_APP_OPTS_DOC_STRINGS_1, 0, back, OPTS_XCHG_APPLY));

  TH264SettingsExchange h264;
  h264.enableDecoder = 1;
  h264.sysDir = "/h264";
  h264.iniFile = "h.ini";
  h264.srcFile = "clip.264";
  h264.enableVideo = 0;
  h264.saveDecodedFramesYuv = 1;
  h264.saveDecodedFramesBmp = 1;
  const std::uint8_t process[4] = {0, 1, 0, 1};
  const std::uint8_t client[4] = {1, 0, 1, 1};
  std::memcpy(h264.enableProcess, process, 4);
  std::memcpy(h264.enableClientProcess, client, 4);
  h264.enable2XImage = 1;
  ASSERT_TRUE(SendOptsBlock(Controller(), pq::WM_APP_OPTS_DOC_STRINGS_2, 0, h264, OPTS_XCHG_WRITE));
  EXPECT_TRUE(doc.ch_bEnableDecoderH264);
  EXPECT_EQ(doc.ch_sSysDirH264, "/h264");
  EXPECT_EQ(doc.ch_sIniFileH264, "h.ini");
  EXPECT_EQ(doc.ch_sSrcFileH264, "clip.264");
  EXPECT_FALSE(doc.ch_bEnableVideoH264);
  EXPECT_TRUE(doc.ch_bEnableSaveDecodedFramesYUV);
  EXPECT_TRUE(doc.ch_bEnableSaveDecodedFramesBmp);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(doc.ch_bEnableProcess[i], process[i] != 0) << i;
    EXPECT_EQ(doc.ch_bEnableClientProcess[i], client[i] != 0) << i;
  }
  EXPECT_TRUE(doc.ch_bEnable2XImage);
  TH264SettingsExchange h264Back;
  ASSERT_TRUE(SendOptsBlock(Controller(), pq::WM_APP_OPTS_DOC_STRINGS_2, 0, h264Back, OPTS_XCHG_READ));
  EXPECT_EQ(h264Back.srcFile, "clip.264");
  EXPECT_EQ(std::memcmp(h264Back.enableClientProcess, client, 4), 0);
  EXPECT_EQ(h264Back.enable2XImage, 1);

  TDocStrings3Exchange third;
  third.first = 1;
  third.s[0] = "a";
  third.s[1] = "b";
  third.s[2] = "c";
  third.last = 0;
  ASSERT_TRUE(SendOptsBlock(Controller(), pq::WM_APP_OPTS_DOC_STRINGS_3, 0, third, OPTS_XCHG_WRITE));
  EXPECT_TRUE(doc.m_DocStrings3.bFirst);
  EXPECT_EQ(doc.m_DocStrings3.s[2], "c");
  EXPECT_FALSE(doc.m_DocStrings3.bLast);
  TDocStrings3Exchange thirdBack;
  ASSERT_TRUE(SendOptsBlock(Controller(), pq::WM_APP_OPTS_DOC_STRINGS_3, 0, thirdBack, OPTS_XCHG_READ));
  EXPECT_EQ(thirdBack.s[0], "a");
  EXPECT_EQ(thirdBack.s[1], "b");
  EXPECT_EQ(thirdBack.first, 1);
  EXPECT_EQ(thirdBack.last, 0);
}

TEST_F(DocOptionsTest, PageShowsAnInterlacedPngAndARawYuvLayoutAsTheirFilesHoldThem) {
  const std::string png = Path("still.png");
  ASSERT_TRUE(WriteInterlacedRgbaPng(png, 21, 13));
  const TIhdr ihdr = ReadIhdr(png);
  ASSERT_EQ(ihdr.interlace, 1);
  ASSERT_TRUE(Open(png, 0));

  // Layout 94: BT.709, 4:2:0 with centred chromas, luma 16-235 and chroma
  // 16-240, one 320 x 240 picture (Y plane and two quarter chroma planes),
  // opened as a video stream (not as a single picture).
  const std::string yuv = Path("frame.yuv");
  {
    FILE* f = std::fopen(yuv.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::vector<unsigned char> bytes(320 * 240 * 3 / 2, 128);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
  }
  ASSERT_TRUE(Open(yuv, 1, 94, 320, 240));

  // The PNG's colour type 6 is RGB+A: four samples of its bit depth.
  const std::string pngText = PageText(0);
  EXPECT_NE(pngText.find("Media source type:\tPNG - Portable Network Graphics\n"), std::string::npos)
      << pngText;
  EXPECT_NE(pngText.find("Path:\t\t" + png + "\n"), std::string::npos) << pngText;
  EXPECT_NE(pngText.find("Width, Height:\t" + std::to_string(ihdr.width) + " x " +
                         std::to_string(ihdr.height) + "\n\nColor space:\tRGB+A\nBits per color:\t" +
                         std::to_string(4 * ihdr.depth) + "\nPlanes:\t\t1\nInterlacing:\tAdam7"),
            std::string::npos)
      << pngText;

  const std::string yuvText = PageText(1);
  const std::string expected =
      "Width, Height:\t320 x 240\n"
      "\n"
      "RGB-YUV conversion base:\tITU-R BT.709-5, 1990-2002 \n"
      "YUV color components:\tYCbCr\n"
      "Sub sampling ratio:\t4:2:0 \n"
      "Color componets placement:\tPlanar\n"
      "Planes:\t\t\t3\nBits per pixel:\t\t12\nBits per luma:\t\t8\nBits per chromas:\t\t8\n"
      "Bit ratio Luma/Chroma:\t1\n"
      "Data range:\t\tLuma[16-235] Chroma[16-240] \n"
      "Sub samplting pattern:\tCentered chromas between luma\n"
      "Scan line pattern:\t\tProgressive \n"
      "\n"
      "Video stream:\t\tYes\n";
  EXPECT_NE(yuvText.find(expected), std::string::npos) << yuvText;
  EXPECT_EQ(yuvText.find("Planes:\t\t\t320"), std::string::npos);

  // A closed channel.
  EXPECT_EQ(PageText(3), "Media source type:\tNull stream\nTitle:\t\t\nPath:\t\t\n");
}

namespace {

// Runs a document command while a timer records and closes the sheet it
// opens.
struct TSheetSeen {
  std::string caption;
  std::string okText;
  bool cancelEnabled = true;
  bool generalEnabled = true;
  bool tree = false;
  std::vector<std::string> treeTop;
};

TSheetSeen RunAndClose(ZarnDoc::CZarnDoc& doc, UINT id) {
  TSheetSeen seen;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* tree = qobject_cast<OptsTree::COptsTree*>(w); tree && tree->isVisible()) {
        seen.caption = tree->windowTitle().toStdString();
        seen.okText = tree->OkButton()->text().toStdString();
        seen.cancelEnabled = tree->CancelButton()->isEnabled();
        seen.generalEnabled = tree->GeneralPage()->isEnabled();
        seen.tree = true;
        for (int i = 0; i < tree->Tree()->topLevelItemCount(); ++i)
          seen.treeTop.push_back(tree->Tree()->topLevelItem(i)->text(0).toStdString());
        tree->reject();
      } else if (auto* sheet = qobject_cast<ZarnOptions::CZarnOptions*>(w); sheet && sheet->isVisible()) {
        seen.caption = sheet->windowTitle().toStdString();
        seen.okText = sheet->OkButton()->text().toStdString();
        seen.cancelEnabled = sheet->CancelButton()->isEnabled();
        // The General page is disabled once it shows.
        sheet->SetActivePage(0);
        seen.generalEnabled = sheet->Page(OptsPage::PAGE_GENERAL)->isEnabled();
        sheet->reject();
      }
    }
  });
  closer.start(5);
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) d->reject();
  });
  limit.start(5000);
  pq::TCmdUI ui(id);
  EXPECT_TRUE(doc.OnCmdMsg(id, pq::TCmdCode::Update, &ui));
  EXPECT_TRUE(ui.Enabled());
  EXPECT_TRUE(doc.OnCmdMsg(id, pq::TCmdCode::Command, nullptr));
  return seen;
}

}  // namespace

TEST_F(DocOptionsTest, OptionsAndMoreOptionsOpenTheirSheetsOverTheController) {
  const TSheetSeen list = RunAndClose(doc, shell::ID_TOOLS_OPTIONS);
  EXPECT_EQ(list.caption, "Options");
  EXPECT_FALSE(list.tree);
  EXPECT_TRUE(list.cancelEnabled);
  EXPECT_TRUE(list.generalEnabled);
  const TSheetSeen tree = RunAndClose(doc, shell::ID_TOOLS_MORE_OPTIONS);
  EXPECT_EQ(tree.caption, "Options");
  EXPECT_TRUE(tree.tree);
  ASSERT_GE(tree.treeTop.size(), 2u);
  EXPECT_EQ(tree.treeTop[0], "General");
  EXPECT_EQ(tree.treeTop[1], "Media document");
  EXPECT_TRUE(sink.Texts().empty()) << sink.Texts()[0];
}

// ---------------------------------------------------------------------------
// While the document plays

namespace {

class PlayingOptionsTest : public DocOptionsTest {
 protected:
  static constexpr int kWidth = 16;
  static constexpr int kHeight = 16;
  void SetUp() override {
    doc.ch_nDecoderVideoOutDelay = 0;
    doc.ch_nDecoderVideoOutPeriod = 100;  // 600 frames: a minute of playing
    const std::int32_t format =
        ComposeYuvFileFormat(YUV_STD_BT601, YUV_LAYOUT_420_CENTRED, YUV_RANGE_16_235_240);
    doc.m_YuvOpen.nFormat = format;
    doc.m_YuvOpen.nWidth = kWidth;
    doc.m_YuvOpen.nHeight = kHeight;
    const std::string clip = Path("clip.yuv");
    FILE* f = std::fopen(clip.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::vector<unsigned char> frames(kWidth * kHeight * 3 / 2 * 600, 100);
    ASSERT_EQ(std::fwrite(frames.data(), 1, frames.size(), f), frames.size());
    std::fclose(f);
    ASSERT_TRUE(doc.OpenSource(clip, 0));
    EXPECT_TRUE(doc.OnCmdMsg(shell::ID_NAVIGATE_START_PAUSE, pq::TCmdCode::Command, nullptr));
    ASSERT_TRUE(doc.m_Engine.IsRunning());
  }
  void TearDown() override {
    if (w.frame && doc.m_Engine.IsRunning()) {
      doc.m_Engine.StopPlaying();
      doc_test::RunUntil([this] { return !doc.m_Engine.IsRunning(); });
    }
  }
};

}  // namespace

TEST_F(PlayingOptionsTest, SheetsOpenReadOnlyAndWriteNothing) {
  for (UINT id : {shell::ID_TOOLS_OPTIONS, shell::ID_TOOLS_MORE_OPTIONS}) {
    SCOPED_TRACE(id);
    const TSheetSeen seen = RunAndClose(doc, id);
    EXPECT_EQ(seen.caption, "Options (Read only)");
    EXPECT_EQ(seen.okText, "Close");
    EXPECT_FALSE(seen.cancelEnabled);
    EXPECT_FALSE(seen.generalEnabled);
    EXPECT_EQ(seen.tree, id == shell::ID_TOOLS_MORE_OPTIONS);
  }
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(PlayingOptionsTest, CloseAskedForWhileTheSheetIsUpWaitsForItsEnd) {
  doc.SetCloseWait(5, 400);
  bool closeAsked = false;
  bool frameAliveWhenSheetEnded = false;
  int ticksWithSheet = 0;
  QTimer driver;
  QObject::connect(&driver, &QTimer::timeout, [&] {
    auto* sheet = qobject_cast<OptsTree::COptsTree*>(QApplication::activeModalWidget());
    if (!sheet) return;
    if (!closeAsked) {
      closeAsked = true;
      EXPECT_TRUE(doc.OnCmdMsg(shell::ID_FILE_CLOSE, pq::TCmdCode::Command, nullptr));
      return;
    }
    // Let the engine stop and the close waiter run while the sheet is up.
    if (doc.m_Engine.IsRunning() || ++ticksWithSheet < 20) return;
    frameAliveWhenSheetEnded = !w.frame.isNull();
    // The page still reads the document it shows.
    if (auto* page = dynamic_cast<OptsMediaDocument::COptsMediaDocument*>(sheet->MediaDocumentPage()))
      page->ShowChannelInfo(0);
    sheet->reject();
  });
  driver.start(5);
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, [] {
    if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
  });
  limit.start(10000);
  EXPECT_TRUE(doc.OnCmdMsg(shell::ID_TOOLS_MORE_OPTIONS, pq::TCmdCode::Command, nullptr));
  driver.stop();
  EXPECT_TRUE(closeAsked);
  EXPECT_TRUE(frameAliveWhenSheetEnded);
  // The close goes on once the sheet is gone.
  EXPECT_TRUE(doc_test::RunUntil([this] { return w.frame.isNull(); }));
}

TEST_F(DocOptionsTest, PageShowsAnAviAtItsRateAndTheDurationFfprobeReads) {
  if (!open_test::HaveTool("gst-launch-1.0") || !open_test::HaveTool("ffprobe"))
    GTEST_SKIP() << "needs gst-launch-1.0 and ffprobe";
  // 50 frames of 320 x 240 at 25 frames per second, as the media tests' AVI.
  const std::string video = Path("test.avi");
  ASSERT_TRUE(
      open_test::RunTool("gst-launch-1.0 -q -e videotestsrc num-buffers=50 ! "
                         "video/x-raw,format=I420,width=320,height=240,framerate=25/1 ! "
                         "avenc_mpeg4 ! mpeg4videoparse ! avimux ! filesink location=" +
                         tovrin_test::Quote(video)));
  ASSERT_TRUE(Open(video, 2));
  const auto probed = tovrin_test::RunCapture("ffprobe -v error -show_entries format=duration -of csv=p=0 " +
                                              tovrin_test::Quote(video));
  ASSERT_TRUE(probed.has_value());
  const double duration = std::stod(std::string(probed->begin(), probed->end()));
  const std::string text = PageText(2);
  const std::string head = "Media source type:\tAVI - Audio Video Interlived\nTitle:\t\ttest.avi\nPath:\t\t" +
                           video +
                           "\nWidth, Height:\t320 x 240\n\nFrame rate:\t25.000 frames/second\nDuration:\t\t";
  ASSERT_EQ(text.substr(0, head.size()), head) << text;
  // The duration as the page writes it, within a frame of ffprobe's.
  const double shown = std::stod(text.substr(head.size()));
  EXPECT_NEAR(shown, duration, 0.04) << text;
  EXPECT_EQ(text.substr(text.size() - 8), " seconds");
}

// The sheets in the program's own look (the main window's style): every
// text whole, no scroll bar, on a layout-94 channel and a long path.
TEST_F(DocOptionsTest, SheetsInTheProgramsLookShowEveryTextWhole) {
  QStyle* before = QApplication::style();
  const QString beforeName = before->name();
  shell::ApplyLook(13);
  const std::string yuv = Path("a_rather_long_name_for_a_raw_picture_of_layout_94.yuv");
  {
    FILE* f = std::fopen(yuv.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::vector<unsigned char> bytes(320 * 240 * 3 / 2, 128);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
  }
  ASSERT_TRUE(Open(yuv, 0, 94, 320, 240));
  std::vector<std::string> problems;
  {
    ZarnOptions::CZarnOptions sheet("Document properties", Controller(), OPTCAT_MEDIA_DOCUMENT);
    sheet.OnInitDialog();
    sheet.show();
    sheet.resize(sheet.sizeHint());
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
    problems = tovrin_test::TextsThatDoNotFit(&sheet);
  }
  {
    ZarnOptions::CZarnOptions sheet("Options", Controller(), OPTCAT_DOCUMENT);
    sheet.OnInitDialog();
    sheet.show();
    sheet.resize(sheet.sizeHint());
    for (int page = 0; page < static_cast<int>(sheet.Pages().size()); ++page) {
      sheet.SetActivePage(page);
      for (int i = 0; i < 3; ++i) QApplication::processEvents();
      for (const std::string& p : tovrin_test::TextsThatDoNotFit(&sheet)) problems.push_back(p);
    }
  }
  QApplication::setStyle(beforeName);
  EXPECT_EQ(problems, std::vector<std::string>{});
}

namespace {

// A command that puts up a modal sheet or dialog of the document, and where
// it is sent.
enum class TRoute { Document, Frame, View };
struct TModalCommand {
  const char* name;
  UINT id;
  TRoute route;
  bool playing;  // the command works only while stopped otherwise
};
constexpr TModalCommand kModalCommands[] = {
    {"Document properties", shell::ID_FILE_PROPERTIES, TRoute::Document, true},
    {"Options", shell::ID_TOOLS_OPTIONS, TRoute::Document, true},
    {"More Options", shell::ID_TOOLS_MORE_OPTIONS, TRoute::Document, true},
    {"reference frames", shell::ID_SET_REFERENCE_FRAMES, TRoute::Document, true},
    {"Channel Selector", shell::ID_TOOLS_STATUS, TRoute::Document, true},
    {"zoom", shell::ID_ZOOM_CUSTOM, TRoute::Document, true},
    {"pane layout", shell::ID_VIEW_PANE_LAYOUT, TRoute::Frame, true},
    {"print", shell::ID_FILE_PRINT, TRoute::View, true},
    {"close channels", shell::ID_FILE_CLOSE_FROM, TRoute::Document, false},
};

}  // namespace

// The close waiter's timer fires inside the modal loop of whatever sheet or
// dialog of the document is up; the frame, the document and the panes the
// dialog reads stay until it has ended, and the close then goes on.
TEST_F(PlayingOptionsTest, CloseAskedForWhileAnyDialogOfTheDocumentIsUpWaitsForItsEnd) {
  for (const TModalCommand& command : kModalCommands) {
    SCOPED_TRACE(command.name);
    doc_test::TDocumentWindow rowWindow;
    ZarnDoc::CZarnDoc& d = rowWindow.Doc();
    d.ch_nDecoderVideoOutDelay = 0;
    d.ch_nDecoderVideoOutPeriod = 100;
    d.m_YuvOpen = doc.m_YuvOpen;
    const std::string clip = Path("clip.yuv");
    ASSERT_TRUE(d.OpenSource(clip, 0));
    ASSERT_TRUE(d.OpenSource(clip, 1));
    if (command.playing) {
      ASSERT_TRUE(d.OnCmdMsg(shell::ID_NAVIGATE_START_PAUSE, pq::TCmdCode::Command, nullptr));
      ASSERT_TRUE(d.m_Engine.IsRunning());
    }
    d.SetCloseWait(5, 400);

    bool closeAsked = false;
    bool upWhenEnded = false;
    bool frameAliveWhenEnded = false;
    int ticksWithDialog = 0;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      if (!closeAsked) {
        closeAsked = true;
        EXPECT_TRUE(d.OnCmdMsg(shell::ID_FILE_CLOSE, pq::TCmdCode::Command, nullptr));
        return;
      }
      // The engine stops and the close waiter runs while the dialog is up.
      if (d.m_Engine.IsRunning() || ++ticksWithDialog < 20) return;
      upWhenEnded = d.ModalUp();
      frameAliveWhenEnded = !rowWindow.frame.isNull();
      dialog->reject();
    });
    driver.start(5);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] {
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->reject();
    });
    limit.start(10000);
    bool handled = false;
    switch (command.route) {
      case TRoute::Document: handled = d.OnCmdMsg(command.id, pq::TCmdCode::Command, nullptr); break;
      case TRoute::Frame:
        handled = rowWindow.frame->FrameTarget()->OnCmdMsg(command.id, pq::TCmdCode::Command, nullptr);
        break;
      case TRoute::View:
        ASSERT_NE(d.PaneView(0), nullptr);
        // Printing needs a picture shown.
        ASSERT_TRUE(doc_test::RunUntil([&] { return d.m_VideoPortHub.Port(0).FrontBitmap() != nullptr; }));
        handled = d.PaneView(0)->OnCmdMsg(command.id, pq::TCmdCode::Command, nullptr);
        break;
    }
    driver.stop();
    limit.stop();
    EXPECT_TRUE(handled);
    EXPECT_TRUE(closeAsked) << "the dialog came up";
    EXPECT_TRUE(upWhenEnded);
    EXPECT_TRUE(frameAliveWhenEnded) << "the frame stayed while the dialog was up";
    EXPECT_FALSE(d.ModalUp());
    // The close goes on once the dialog is gone.
    EXPECT_TRUE(doc_test::RunUntil([&] { return rowWindow.frame.isNull(); }));
  }
}
