#include "shell/file_dialog_ex.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileSystemModel>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "io/dshow/media_session.h"
#include "media/dib.h"
#include "options/opts_file_format.h"
#include "shell/doc_manager.h"
#include "shell/document_template.h"
#include "shell/folder_dialog.h"
#include "shell/new_type_dlg.h"
#include "shell/preview_ctrl.h"
#include "tests/support/message_fixture.h"

using namespace ZarnTypes;
using DocManagerEx::CDocManagerEx;
using FileDialogEx::CFileDialogEx;
using PreviewCtrl::CPreviewCtrl;

namespace {

void WriteBytes(const std::filesystem::path& p, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Full-range BT.601 YCbCr to RGB, written out here independently.
QRgb Bt601Full(int y, int cb, int cr) {
  auto clamp = [](double v) { return std::clamp(static_cast<int>(std::lround(v)), 0, 255); };
  const double r = y + 1.402 * (cr - 128);
  const double g = y - 0.344136 * (cb - 128) - 0.714136 * (cr - 128);
  const double b = y + 1.772 * (cb - 128);
  return qRgb(clamp(r), clamp(g), clamp(b));
}

bool Near(QRgb a, QRgb b, int tolerance = 2) {
  return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
         std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// A bottom-up 24- or 32-bit frame of whole 4-byte rows as a media source
// hands it to its owner; the notice points into the record.
struct TRgbFrame {
  std::vector<std::uint8_t> rows;
  Dib::TBitmapInfoHeader header;
  TMediaFrameNotice notice;
  TRgbFrame(int width, int height, int bits, std::vector<std::uint8_t> bytes) : rows(std::move(bytes)) {
    header.biWidth = width;
    header.biHeight = height;
    header.biBitCount = static_cast<std::uint16_t>(bits);
    header.biSizeImage = static_cast<std::uint32_t>(rows.size());
    notice.pHeader = &header;
    notice.pRgbData = rows.data();
    notice.nRgbSize = static_cast<std::int32_t>(rows.size());
  }
  TRgbFrame(const TRgbFrame&) = delete;
  TRgbFrame& operator=(const TRgbFrame&) = delete;
};

class FileDialogTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  // The document's Save and Save As request with the channels that have a
  // source.
  static TFileDialogSettings SaveImageAs(std::array<bool, kDialogChannelCount> channels) {
    TFileDialogSettings s;
    s.extended = true;
    s.mode = FDM_SAVE_IMAGE_AS;
    s.channelAllowed = channels;
    return s;
  }
  TFileDialogSettings OpenTo() {
    TFileDialogSettings s;
    s.extended = true;
    s.mode = FDM_OPEN_TO;
    s.newDocAllowed = true;
    s.activeDocAllowed = true;
    s.destination = 1;
    s.channelAllowed = {true, true, true, true};
    return s;
  }
  std::string Png(const std::string& name, int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(qRgb(200, 40, 10));
    const std::string path = Path(name);
    image.save(QString::fromStdString(path), "PNG");
    return path;
  }
};

}  // namespace

// --- the preview control -----------------------------------------------------

TEST(PreviewFit, ScalesIntoTheAreaKeepingTheAspect) {
  EXPECT_EQ(PreviewCtrl::FitPictureRect({1000, 500}, QRect(0, 0, 160, 90)), QRect(0, 0, 160, 80));
  EXPECT_EQ(PreviewCtrl::FitPictureRect({100, 400}, QRect(0, 0, 160, 90)),
            QRect(0, 0, 23, 90));  // 22.5 rounds up
  EXPECT_TRUE(PreviewCtrl::FitPictureRect({0, 10}, QRect(0, 0, 160, 90)).isEmpty());
  EXPECT_TRUE(PreviewCtrl::FitPictureRect({10, 10}, QRect()).isEmpty());
  // Refitting: only when the picture sticks out, or leaves room both ways.
  EXPECT_FALSE(PreviewCtrl::NeedsRefit({160, 80}, {160, 90}));  // touches the right edge
  EXPECT_FALSE(PreviewCtrl::NeedsRefit({150, 90}, {160, 90}));  // touches the bottom
  EXPECT_TRUE(PreviewCtrl::NeedsRefit({160, 80}, {159, 90}));
  EXPECT_TRUE(PreviewCtrl::NeedsRefit({160, 80}, {160, 79}));
  EXPECT_TRUE(PreviewCtrl::NeedsRefit({150, 80}, {160, 90}));
  EXPECT_FALSE(PreviewCtrl::NeedsRefit({}, {160, 90}));
}

TEST(PreviewCtrlTest, DrawsTheFittedPictureTopLeftAndFillsTheRest) {
  CPreviewCtrl preview;
  preview.setFrameShape(QFrame::NoFrame);
  preview.resize(160, 90);
  preview.show();
  QImage picture(1000, 500, QImage::Format_RGB32);
  picture.fill(qRgb(255, 0, 0));
  ASSERT_TRUE(preview.SetImage(picture));
  EXPECT_EQ(preview.FittedPicture().size(), QSize(160, 80));
  const QImage shot = preview.grab().toImage();
  EXPECT_EQ(shot.pixel(5, 5), qRgb(255, 0, 0));
  EXPECT_EQ(shot.pixel(150, 75), qRgb(255, 0, 0));
  EXPECT_EQ(QColor(shot.pixel(80, 85)), preview.palette().color(QPalette::Button));
  // Growing so that the picture only touches an edge keeps it; shrinking refits.
  preview.resize(170, 80);
  EXPECT_EQ(preview.FittedPicture().size(), QSize(160, 80));
  preview.resize(100, 90);
  EXPECT_EQ(preview.FittedPicture().size(), QSize(100, 50));
  preview.hide();
}

TEST(PreviewCtrlTest, RawYuvFrameMatchesAnIndependentConversion) {
  tovrin_test::TTempDir dir;
  const int w = 4, h = 2;
  // 4:4:4 BT.601 full range (layout 53): Y plane, then Cb, then Cr.
  std::vector<std::uint8_t> bytes;
  const int ys[8] = {0, 40, 80, 120, 160, 200, 240, 255};
  const int cbs[8] = {128, 90, 200, 30, 128, 250, 10, 128};
  const int crs[8] = {128, 220, 60, 140, 20, 128, 240, 128};
  for (int v : ys) bytes.push_back(static_cast<std::uint8_t>(v));
  for (int v : cbs) bytes.push_back(static_cast<std::uint8_t>(v));
  for (int v : crs) bytes.push_back(static_cast<std::uint8_t>(v));
  WriteBytes(dir / "frame.yuv", bytes);
  CPreviewCtrl preview;
  ASSERT_TRUE(preview.LoadYuvFrame((dir / "frame.yuv").string(), w, h, 53));
  const QImage& img = preview.SourcePicture();
  ASSERT_EQ(img.size(), QSize(w, h));
  for (int i = 0; i < w * h; ++i) {
    const QRgb want = Bt601Full(ys[i], cbs[i], crs[i]);
    EXPECT_TRUE(Near(img.pixel(i % w, i / w), want))
        << i << ": " << std::hex << img.pixel(i % w, i / w) << " want " << want;
  }
}

TEST(PreviewCtrlTest, ShortYuvFileShowsWhatItHasAndZerosForTheRest) {
  tovrin_test::TTempDir dir;
  // 8 x 8 4:4:4 needs 192 bytes; the file holds 12 luma samples only.
  WriteBytes(dir / "short.yuv", std::vector<std::uint8_t>(12, 180));
  CPreviewCtrl preview;
  ASSERT_TRUE(preview.LoadYuvFrame((dir / "short.yuv").string(), 8, 8, 53));
  const QImage& img = preview.SourcePicture();
  EXPECT_TRUE(Near(img.pixel(0, 0), Bt601Full(180, 0, 0)));
  EXPECT_TRUE(Near(img.pixel(3, 1), Bt601Full(180, 0, 0)));  // sample 11
  EXPECT_TRUE(Near(img.pixel(4, 1), Bt601Full(0, 0, 0)));    // sample 12: past the end
  EXPECT_TRUE(Near(img.pixel(7, 7), Bt601Full(0, 0, 0)));
  // An empty file still previews (all zeros); a missing one does not.
  WriteBytes(dir / "empty.yuv", {});
  EXPECT_TRUE(preview.LoadYuvFrame((dir / "empty.yuv").string(), 8, 8, 53));
  EXPECT_FALSE(preview.LoadYuvFrame((dir / "missing.yuv").string(), 8, 8, 53));
  EXPECT_FALSE(preview.HasPicture());
  EXPECT_FALSE(preview.LoadYuvFrame((dir / "short.yuv").string(), 8, 8, 45));  // not a layout
}

TEST(PreviewCtrlTest, MediaFrameFromAWorkerThreadArrivesAsAPostedPicture) {
  CPreviewCtrl preview;
  preview.resize(160, 90);
  // A 2 x 2 bottom-up 24-bit frame: bottom row blue, top row green.
  TRgbFrame frame(2, 2, 24, {255, 0, 0, 255, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 0});
  TMediaFrameNotice& notice = frame.notice;
  TMediaSender sender;
  sender.eSenderKind = MEDIA_SENDER_DSHOW;
  bool delivered = false;
  std::thread worker([&] {
    delivered = CPreviewCtrl::PreviewOwnerCallback(&preview, MEDIA_NOTIFY_FRAME, &sender, &notice);
  });
  worker.join();
  EXPECT_TRUE(delivered);
  EXPECT_FALSE(preview.HasPicture());  // nothing touched the control off its thread
  QApplication::processEvents();
  ASSERT_TRUE(preview.HasPicture());
  EXPECT_EQ(preview.SourcePicture().pixel(0, 0), qRgb(0, 255, 0));
  EXPECT_EQ(preview.SourcePicture().pixel(1, 1), qRgb(0, 0, 255));

  // A frame without data shows the white panel with its note.
  Dib::TBitmapInfoHeader empty = frame.header;
  empty.biSizeImage = 0;
  notice.pHeader = &empty;
  std::thread second(
      [&] { CPreviewCtrl::PreviewOwnerCallback(&preview, MEDIA_NOTIFY_FRAME, &sender, &notice); });
  second.join();
  QApplication::processEvents();
  EXPECT_EQ(preview.SourcePicture().size(), QSize(300, 200));
  EXPECT_EQ(preview.SourcePicture().pixel(299, 0), qRgb(255, 255, 255));
  int dark = 0;  // the note is drawn into the white picture
  const QImage& fitted = preview.FittedPicture();
  for (int y = 0; y < fitted.height(); ++y)
    for (int x = 0; x < fitted.width(); ++x) dark += qGray(fitted.pixel(x, y)) < 128 ? 1 : 0;
  EXPECT_GT(dark, 10);

  // Other senders and codes are not frames.
  sender.eSenderKind = MEDIA_SENDER_JPEG;
  EXPECT_FALSE(preview.OnMediaNotify(MEDIA_NOTIFY_FRAME, &sender, &notice));
  EXPECT_FALSE(preview.OnMediaNotify(MEDIA_NOTIFY_DEVICE_KIND, &sender, &notice));
}

TEST(PreviewCtrlTest, MediaFilesWithoutAReaderAndDvdFilesAreNotPreviewed) {
  CPreviewCtrl preview;
  EXPECT_FALSE(preview.LoadMedia("/none/clip.avi", 9));
  bool ran = false;
  preview.SetMediaRunner([&](TMediaRequest& r) {
    ran = true;
    r.bSuccess = true;
  });
  EXPECT_FALSE(preview.LoadMedia("/none/video.vob", 18));
  EXPECT_FALSE(preview.LoadMedia("/none/x.264", 7));
  EXPECT_FALSE(ran);
  EXPECT_TRUE(preview.LoadMedia("/none/clip.avi", 9));
  EXPECT_TRUE(ran);
  // A sound-only source: the white panel with its note.
  EXPECT_EQ(preview.SourcePicture().size(), QSize(300, 200));

  // A grabbed first frame goes into the picture.
  preview.SetMediaRunner([](TMediaRequest& r) {
    r.pFrameBuffer->ePixelFormat = PF_RGB32;
    r.pFrameBuffer->nWidth = 3;
    r.pFrameBuffer->nHeight = 2;
    r.pFrameBuffer->nRowAlignment = 4;
    r.pFrameBuffer->nHeightAlignment = 1;
    r.bSuccess = AllocFrameBuffer(r.pFrameBuffer);
    if (r.bSuccess)
      std::memset(r.pFrameBuffer->pBuffer, 0x40, static_cast<std::size_t>(r.pFrameBuffer->nSize));
  });
  EXPECT_TRUE(preview.LoadMedia("/none/clip.mp4", 6));
  EXPECT_EQ(preview.SourcePicture().size(), QSize(3, 2));
  EXPECT_EQ(preview.SourcePicture().pixel(2, 1), qRgb(0x40, 0x40, 0x40));
  preview.SetMediaRunner([](TMediaRequest& r) { r.bSuccess = false; });
  EXPECT_FALSE(preview.LoadMedia("/none/clip.mp4", 6));
}

namespace {

// A media-graph session that stands in for the program's: it records the
// request and hands a 2 x 1 frame of one colour to the owner callback from a
// thread of its own (as the media framework's streaming thread does) while
// the caller waits, or, for a sound-only file, succeeds without a frame.
struct TFakeGraph {
  int runs = 0;
  bool soundOnly = false;
  std::uint8_t blue = 0, green = 0, red = 0;
  TMediaRequestTag tag = MEDIA_REQ_NONE;
  TSourcePurpose purpose{};
  TPixelFormat pixelFormat{};
  TSourceParams params;
};
TFakeGraph g_graph;

class CFakeGraphSession final : public DShowMgr::IMediaSession {
 public:
  bool Run(TMediaRequest* r) override {
    ++g_graph.runs;
    g_graph.tag = r->eTag;
    g_graph.purpose = r->ePurpose;
    g_graph.pixelFormat = r->ePixelFormat;
    auto* params = static_cast<TSourceParams*>(r->pParams);
    if (!params || !params->pCallback) return r->bSuccess = false;
    g_graph.params = *params;
    if (!g_graph.soundOnly) {
      TRgbFrame frame(
          2, 1, 24,
          {g_graph.blue, g_graph.green, g_graph.red, g_graph.blue, g_graph.green, g_graph.red, 0, 0});
      TMediaSender sender{params->nSenderId, params->eSenderKind, params->ePurpose, params->pContext};
      std::thread streaming(
          [&] { params->pCallback(params->pContext, MEDIA_NOTIFY_FRAME, &sender, &frame.notice); });
      streaming.join();
    }
    params->pStopFlag->store(true);
    return r->bSuccess = true;
  }
  bool IsBusy() const override { return false; }
  int Play() override { return 0; }
  int Stop() override { return 0; }
  int Pause() override { return 0; }
  DShowMgr::TGraphState GetState() const override { return DShowMgr::GRAPH_NONE; }
  bool GetPosition(DShowMgr::TMediaPosition*) override { return false; }
  bool GetPositionAndDuration(DShowMgr::TMediaProgress*) override { return false; }
  bool SeekToFraction(std::int32_t, std::int32_t) override { return false; }
  bool SetVolume(std::int32_t, std::int32_t) override { return false; }
  bool EnableSound(bool) override { return false; }
  double AppliedGain() const override { return -1.0; }
};

struct TFakeGraphInstalled {
  TFakeGraphInstalled() {
    g_graph = TFakeGraph{};
    DShowMgr::SetMediaSessionFactory(
        []() -> std::unique_ptr<DShowMgr::IMediaSession> { return std::make_unique<CFakeGraphSession>(); });
  }
  ~TFakeGraphInstalled() { DShowMgr::SetMediaSessionFactory(nullptr); }
};

// A preview control whose media files go through the dialog's decoder to
// the stand-in session.
struct TGraphPreview {
  TFakeGraphInstalled graph;
  CPreviewCtrl preview;
  TGraphPreview() {
    preview.resize(160, 90);
    preview.SetDecoder(&CFileDialogEx::DecodeForPreview);
  }
};

}  // namespace

TEST(PreviewCtrlTest, VideoFilePreviewRunsAGraphSessionAndTakesItsFirstFrameFromTheStreamingThread) {
  TGraphPreview graphPreview;
  CPreviewCtrl& preview = graphPreview.preview;
  g_graph.red = 200;
  g_graph.green = 100;
  ASSERT_TRUE(preview.LoadMedia("/clips/clip.avi", 9));
  EXPECT_EQ(g_graph.runs, 1);
  EXPECT_EQ(g_graph.tag, MEDIA_REQ_DSHOW_SOURCE);
  EXPECT_EQ(g_graph.purpose, SRC_GRAB_FRAME_RGB24);
  EXPECT_EQ(g_graph.pixelFormat, PF_RGB32);
  EXPECT_EQ(g_graph.params.eSenderKind, MEDIA_SENDER_DSHOW);
  EXPECT_EQ(g_graph.params.nSenderId, 20);
  EXPECT_NE(g_graph.params.pContext, nullptr);
  QApplication::processEvents();
  ASSERT_EQ(preview.SourcePicture().size(), QSize(2, 1));
  EXPECT_EQ(preview.SourcePicture().pixel(1, 0), qRgb(200, 100, 0));

  // Sender ids by format; formats the graph does not preview run nothing.
  const std::pair<std::int32_t, std::int32_t> ids[] = {{3, 16},  {5, 17},  {6, 18}, {8, 19},
                                                       {14, 25}, {19, 27}, {21, 29}};
  for (const auto& [format, id] : ids) {
    EXPECT_TRUE(preview.LoadMedia("/clips/f", format)) << format;
    EXPECT_EQ(g_graph.params.nSenderId, id) << format;
  }
  const int runs = g_graph.runs;
  TMediaRequest dvd;
  dvd.eSourceFormat = TFileFormat{16};
  CFileDialogEx::DecodeForPreview(dvd);
  EXPECT_FALSE(dvd.bSuccess);
  EXPECT_EQ(g_graph.runs, runs);
}

TEST(PreviewCtrlTest, SoundOnlyFileReplacesThePictureAndALateFrameOfTheFileBeforeIsDropped) {
  TGraphPreview graphPreview;
  CPreviewCtrl& preview = graphPreview.preview;
  g_graph.blue = 255;
  ASSERT_TRUE(preview.LoadMedia("/clips/clip.mp4", 6));
  // Its picture is still on its way when the next file is selected.
  g_graph.soundOnly = true;
  ASSERT_TRUE(preview.LoadMedia("/clips/tune.mp3", 19));
  QApplication::processEvents();
  ASSERT_EQ(preview.SourcePicture().size(), QSize(300, 200));
  EXPECT_EQ(preview.SourcePicture().pixel(0, 0), qRgb(255, 255, 255));

  // A file whose session fails leaves no picture of the file before.
  g_graph.soundOnly = false;
  ASSERT_TRUE(preview.LoadMedia("/clips/clip.mp4", 6));
  QApplication::processEvents();
  ASSERT_TRUE(preview.HasPicture());
  DShowMgr::SetMediaSessionFactory(nullptr);  // sessions that fail
  EXPECT_FALSE(preview.LoadMedia("/clips/broken.avi", 9));
  QApplication::processEvents();
  EXPECT_FALSE(preview.HasPicture());
}

TEST_F(FileDialogTest, UnreadableBmpGivesNoPicture) {
  std::ofstream(Path("bad.bmp")) << "BMnot a bitmap";
  CPreviewCtrl preview;
  FileDialogEx::TStillInfo info;
  EXPECT_FALSE(preview.LoadImage(Path("bad.bmp"), 27, info));
  EXPECT_FALSE(preview.HasPicture());
}

// --- the dialog and the document manager ------------------------------------

TEST_F(FileDialogTest, OpenToPreviewsAStillAndAnswersTheChosenChannel) {
  const std::string png = Png("picture.png", 64, 32);
  CDocManagerEx manager;
  manager.Settings() = OpenTo();
  const TFileDialogSettings before = manager.Settings();
  QString panel;
  bool preview = false;
  manager.SetDialogRunner([&](CFileDialogEx& dialog) {
    EXPECT_EQ(dialog.DestinationLabel()->text(), "Open to:");
    EXPECT_EQ(dialog.DestinationList()->count(), 2);
    EXPECT_EQ(dialog.DestinationList()->currentText(), "Active document");
    EXPECT_EQ(dialog.ChannelList()->count(), 4);
    EXPECT_TRUE(dialog.DetailsBox()->isChecked());
    EXPECT_EQ(dialog.InfoPanel()->text(), " Information is unavailable");
    dialog.setDirectory(QString::fromStdString(dir.Path().string()));
    dialog.selectFile(QString::fromStdString(png));
    dialog.UpdateFileInfo(QString::fromStdString(png));
    panel = dialog.InfoPanel()->text();
    preview = dialog.Preview()->HasPicture() && dialog.Preview()->SourcePicture().size() == QSize(64, 32) &&
              dialog.Preview()->SourcePicture().pixel(3, 3) == qRgb(200, 40, 10);
    dialog.ChannelList()->setCurrentIndex(2);
    dialog.OnChannelChosen(2);
    dialog.accept();
    return dialog.result();
  });
  std::string name;
  ASSERT_TRUE(manager.DoPromptFileName(name, DocManagerEx::AFX_IDS_OPENFILE, 0, true, nullptr));
  EXPECT_EQ(manager.LastTitle(), "Open to");
  EXPECT_EQ(manager.LastFilterCodes().size(), 69u);
  EXPECT_EQ(std::filesystem::path(name), std::filesystem::path(png));
  EXPECT_TRUE(preview);
  EXPECT_TRUE(panel.startsWith(
      " picture.png\n File\n Type: PNG - Portable Network Graphics\n Width, Height:  64 x 32"))
      << panel.toStdString();
  const TFileDialogSettings& s = manager.Settings();
  EXPECT_EQ(s.channel, 2);
  EXPECT_EQ(s.destination, 1);
  EXPECT_EQ(s.format, 43);
  EXPECT_TRUE(s.singleImage);
  EXPECT_EQ(s.width, 64);
  // The request's own fields stay the caller's.
  EXPECT_EQ(s.mode, before.mode);
  EXPECT_EQ(s.channelAllowed, before.channelAllowed);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(FileDialogTest, CancelLeavesEveryFieldOfTheRecordUnchanged) {
  const std::string png = Png("picture.png", 8, 8);
  CDocManagerEx manager;
  manager.Settings() = OpenTo();
  manager.Settings().filterCode = 31;
  const TFileDialogSettings before = manager.Settings();
  manager.SetDialogRunner([&](CFileDialogEx& dialog) {
    dialog.OnDestinationChosen(0);
    dialog.SelectFilterIndex(40);  // a YCbCr layout
    dialog.UpdateFileInfo(QString::fromStdString(png));
    EXPECT_NE(dialog.Settings(), before);  // the dialog's own copy did change
    dialog.reject();
    return dialog.result();
  });
  std::string name = "kept";
  EXPECT_FALSE(manager.DoPromptFileName(name, DocManagerEx::AFX_IDS_OPENFILE, 0, true, nullptr));
  EXPECT_EQ(manager.Settings(), before);
  EXPECT_EQ(name, "kept");
}

TEST_F(FileDialogTest, PromptTitlesFiltersAndRefusedModes) {
  CDocManagerEx manager;
  int runs = 0;
  manager.SetDialogRunner([&](CFileDialogEx& dialog) {
    ++runs;
    dialog.reject();
    return dialog.result();
  });
  std::string name;
  manager.Settings().extended = true;
  manager.Settings().mode = 0;
  EXPECT_FALSE(manager.DoPromptFileName(name, DocManagerEx::AFX_IDS_OPENFILE, 0, true, nullptr));
  manager.Settings().mode = 5;
  EXPECT_FALSE(manager.DoPromptFileName(name, DocManagerEx::AFX_IDS_OPENFILE, 0, true, nullptr));
  EXPECT_EQ(runs, 0);  // nothing was shown

  manager.Settings().mode = FDM_OPEN;
  manager.DoPromptFileName(name, DocManagerEx::AFX_IDS_OPENFILE, 0, true, nullptr);
  EXPECT_EQ(manager.LastTitle(), "Open");
  EXPECT_EQ(manager.LastInitialFilter(), 0);  // "All files" after a fresh start

  manager.Settings().filterCode = 17;  // MNG remembered
  manager.DoPromptFileName(name, DocManagerEx::AFX_IDS_OPENFILE, 0, true, nullptr);
  EXPECT_EQ(manager.LastFilterCodes()[static_cast<std::size_t>(manager.LastInitialFilter())], 17);

  manager.Settings().extended = false;
  manager.DoPromptFileName(name, DocManagerEx::AFX_IDS_SAVEFILECOPY, 0, false, nullptr);
  EXPECT_EQ(manager.LastTitle(), "Save Copy As");
  EXPECT_TRUE(manager.LastFilterCodes().empty());
  EXPECT_EQ(runs, 3);
}

TEST_F(FileDialogTest, SaveAsStartsOnTheSaveFormatAndProposesTheChannelName) {
  CDocManagerEx manager;
  manager.Settings() = SaveImageAs({true, true, false, false});
  TFileDialogSettings& s = manager.Settings();
  s.channelPaths[0] = Path("clip.avi");
  s.format = 38;
  QString proposed, label;
  bool panelHidden = false;
  std::int32_t formatInDialog = 0;
  manager.SetDialogRunner([&](CFileDialogEx& dialog) {
    proposed = dialog.selectedFiles().value(0);
    label = dialog.DestinationLabel()->text();
    panelHidden =
        dialog.InfoPanel()->isHidden() && dialog.Preview()->isHidden() && dialog.DetailsBox()->isHidden();
    formatInDialog = dialog.Settings().format;
    dialog.reject();
    return dialog.result();
  });
  std::string name;
  manager.DoPromptFileName(name, DocManagerEx::AFX_IDS_SAVEFILE, 0, false, nullptr);
  EXPECT_EQ(manager.LastTitle(), "Save Image As");
  EXPECT_EQ(manager.LastFilterCodes().size(), 55u);
  EXPECT_EQ(manager.LastFilterCodes()[static_cast<std::size_t>(manager.LastInitialFilter())], 31);
  EXPECT_TRUE(proposed.endsWith("clip.jpg")) << proposed.toStdString();
  EXPECT_EQ(label, "Save from:");
  EXPECT_TRUE(panelHidden);
  EXPECT_EQ(formatInDialog, 38);

  // BMP has no save entry of its own: the 32-bit entry is chosen and the
  // caller's format stays.
  s.format = 27;
  manager.DoPromptFileName(name, DocManagerEx::AFX_IDS_SAVEFILE, 0, false, nullptr);
  EXPECT_EQ(manager.LastFilterCodes()[static_cast<std::size_t>(manager.LastInitialFilter())], 27);
  EXPECT_EQ(formatInDialog, 27);
}

TEST_F(FileDialogTest, SaveAsKeepsTheDialogOpenOnAContradictingExtension) {
  CDocManagerEx manager;
  manager.Settings() = SaveImageAs({true, false, false, false});
  TFileDialogSettings& s = manager.Settings();
  s.format = 38;
  QString corrected;
  manager.SetDialogRunner([&](CFileDialogEx& dialog) {
    dialog.setDirectory(QString::fromStdString(dir.Path().string()));
    dialog.selectFile(QString::fromStdString(Path("shot.png")));
    dialog.accept();
    EXPECT_EQ(dialog.result(), 0);  // still open
    corrected = dialog.selectedFiles().value(0);
    dialog.accept();  // the corrected name is accepted
    return dialog.result();
  });
  std::string name;
  ASSERT_TRUE(manager.DoPromptFileName(name, DocManagerEx::AFX_IDS_SAVEFILE, 0, false, nullptr));
  EXPECT_TRUE(corrected.endsWith("shot.png.jpg")) << corrected.toStdString();
  EXPECT_EQ(std::filesystem::path(name).filename(), "shot.png.jpg");
  EXPECT_EQ(s.format, 38);
}

TEST_F(FileDialogTest, YuvPageFromTheDialogChangesLayoutAndSelectsItsFilter) {
  tovrin_test::TTempDir d;
  WriteBytes(d / "clip.yuv", std::vector<std::uint8_t>(176 * 144 * 3 / 2, 128));
  TFileDialogSettings s = OpenTo();
  CFileDialogEx dialog(true, s, BuildFilterList(FDM_OPEN_TO));
  dialog.UpdateFileInfo(QString::fromStdString((d / "clip.yuv").string()));
  EXPECT_TRUE(dialog.OptionsButton()->isEnabled());
  EXPECT_TRUE(dialog.InfoPanel()->text().contains("Type: Video YUV"))
      << dialog.InfoPanel()->text().toStdString();
  // The page's write (what OK on the YUV page sends) and the sheet's OK.
  TYuvFormatExchange block{};
  block.format = 65;
  block.width = 176;
  block.height = 144;
  ASSERT_TRUE(SendOptsBlock(&dialog, platform::qt::WM_APP_OPTS_YUV, 0, block, OPTS_XCHG_WRITE));
  ASSERT_TRUE(dialog.SelectFilterByFormat(dialog.Logic().CurrentFormat()));
  EXPECT_EQ(dialog.selectedNameFilter().toStdString(), QtFilterText(65 - 16));
  EXPECT_EQ(dialog.Settings().yuvFormat, 65);
  EXPECT_TRUE(dialog.Preview()->HasPicture());
  EXPECT_EQ(dialog.Preview()->SourcePicture().size(), QSize(176, 144));
  EXPECT_TRUE(dialog.InfoPanel()->text().contains("YCbCr 420 ITU601 8bit 0-255 CosEven"));
}

TEST_F(FileDialogTest, OptionsButtonStaysOffForFormatsWithoutAPageYet) {
  CFileDialogEx dialog(false, SaveImageAs({true, false, false, false}), BuildFilterList(FDM_SAVE_IMAGE_AS));
  const auto& codes = dialog.Logic().FilterCodes();
  auto index = [&](std::int32_t code) {
    return static_cast<int>(std::find(codes.begin(), codes.end(), code) - codes.begin());
  };
  dialog.SelectFilterIndex(index(60));
  EXPECT_TRUE(dialog.OptionsButton()->isEnabled());  // the YUV page exists
  dialog.SelectFilterIndex(index(26));
  EXPECT_FALSE(dialog.OptionsButton()->isEnabled());  // BMP has no page
  dialog.SelectFilterIndex(index(35));
  EXPECT_EQ(dialog.OptionsButton()->isEnabled(), FileDialogEx::OptionsPageAvailable(OPTCAT_PNG));
}

// --- File New and the folder dialog ------------------------------------------

TEST_F(FileDialogTest, FileNewWithOneTemplateMakesADocumentWithoutAsking) {
  shell::CDocTemplate media("\ntovrin\ntovrin\n)\n\ntovrin.Document\ntovrin Document", {});
  CDocManagerEx manager;
  std::vector<shell::CDocTemplate*> made;
  manager.SetNewDocumentMaker([&](shell::CDocTemplate* t) {
    made.push_back(t);
    return true;
  });
  manager.OnFileNew();
  EXPECT_TRUE(made.empty());
  EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"Failed to create empty document."}));
  manager.AddDocTemplate(&media);
  manager.OnFileNew();
  EXPECT_EQ(made, (std::vector<shell::CDocTemplate*>{&media}));

  shell::CDocTemplate unnamed("\n\n\n", {});
  NewTypeDlg::CNewTypeDlg chooser({&unnamed, &media});
  EXPECT_EQ(chooser.DoModal(), 1);  // one named entry: chosen at once
  EXPECT_EQ(chooser.SelectedTemplate(), &media);
  NewTypeDlg::CNewTypeDlg none({&unnamed});
  EXPECT_EQ(none.DoModal(), -1);
  shell::CDocTemplate other("\nother\nOther\n", {});
  NewTypeDlg::CNewTypeDlg two({&media, &other});
  EXPECT_EQ(two.OnInitDialog(), 0);
  EXPECT_EQ(two.List()->count(), 2);
  two.List()->setCurrentRow(1);
  two.OnOK();
  EXPECT_EQ(two.SelectedTemplate(), &other);
}

TEST(FolderDialogTest, BarsFiltersAndTheFolderRule) {
  std::string text = "a|b||";
  EXPECT_EQ(FolderDialog::ReplaceBarsWithNul(text), 3);
  EXPECT_EQ(text, std::string("a\0b\0\0", 5));
  std::string empty;
  EXPECT_EQ(FolderDialog::ReplaceBarsWithNul(empty), 0);
  EXPECT_EQ(FolderDialog::FolderDialogFilters({}), (QStringList{"Show Folders Only", "All Files (*)"}));
  EXPECT_EQ(FolderDialog::FolderDialogFilters("Images (*.png)|*.png|Bitmaps|*.bmp;*.dib||"),
            (QStringList{"Show Folders Only", "Images (*.png)", "Bitmaps (*.bmp *.dib)"}));

  tovrin_test::TTempDir dir;
  std::filesystem::create_directory(dir / "inner");
  std::ofstream(dir / "file.txt") << "x";
  FolderDialog::CFolderDialog dialog(QString::fromStdString(dir.Path().string()));
  EXPECT_EQ(dialog.windowTitle(), "Select Folder");
  EXPECT_EQ(dialog.labelText(QFileDialog::FileName), "Folder name");
  dialog.SetFolderNameText(QString::fromStdString((dir / "file.txt").string()));
  EXPECT_FALSE(dialog.TakeFolderName());
  EXPECT_TRUE(dialog.FolderNameText().isEmpty());
  EXPECT_TRUE(dialog.GetFolderPath().isEmpty());
  dialog.SetFolderNameText(QString::fromStdString((dir / "nothing").string()));
  EXPECT_FALSE(dialog.TakeFolderName());
  dialog.SetFolderNameText(QString::fromStdString((dir / "inner").string()));
  EXPECT_TRUE(dialog.TakeFolderName());
  EXPECT_EQ(std::filesystem::path(dialog.GetFolderPath().toStdString()), dir / "inner");
}

// Qt reports no folder change for the folder the dialog opens on: the box
// started empty and OK refused the very folder the user was shown.
TEST(FolderDialogTest, OkAcceptsTheFolderTheDialogOpensOn) {
  tovrin_test::TTempDir dir;
  std::filesystem::create_directory(dir / "inner");
  const QString start = QString::fromStdString((dir / "inner").string());
  FolderDialog::CFolderDialog dialog(start);
  EXPECT_EQ(std::filesystem::path(dialog.FolderNameText().toStdString()), dir / "inner");
  dialog.show();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  EXPECT_EQ(std::filesystem::path(dialog.FolderNameText().toStdString()), dir / "inner");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(std::filesystem::path(dialog.GetFolderPath().toStdString()), dir / "inner");
}

namespace {

// Shows a dialog at its first size on `folder` and waits (at most 3 s) for
// the folder's listing.
void ShowOn(CFileDialogEx& dialog, const std::string& folder) {
  QEventLoop loop;
  QTimer::singleShot(3000, &loop, &QEventLoop::quit);
  if (auto* model = dialog.findChild<QFileSystemModel*>())
    QObject::connect(model, &QFileSystemModel::directoryLoaded, &loop, &QEventLoop::quit);
  dialog.setDirectory(QString::fromStdString(folder));
  dialog.show();
  loop.exec();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

// Rows of the visible file list that are shown whole.
int WholeRowsShown(CFileDialogEx& dialog) {
  for (const char* name : {"treeView", "listView"}) {
    auto* view = dialog.findChild<QAbstractItemView*>(QLatin1String(name));
    if (!view || !view->isVisible()) continue;
    const QModelIndex root = view->rootIndex();
    int whole = 0;
    for (int r = 0; r < view->model()->rowCount(root); ++r)
      if (view->viewport()->rect().contains(view->visualRect(view->model()->index(r, 0, root)))) ++whole;
    return whole;
  }
  return 0;
}

}  // namespace

// A 164-character name widened the dialog from 624 to 1,647 pixels, past
// the screen, and at the first size the list showed about five rows.
TEST_F(FileDialogTest, ALongNameNeverWidensTheDialogAndTheListShowsTwelveRows) {
  for (int i = 0; i < 20; ++i) Png("frame_" + std::to_string(100 + i) + ".png", 4, 4);
  std::string longName(160, 'n');
  longName.append(".png");
  ASSERT_EQ(longName.size(), 164u);
  const std::string longPath = Png(longName, 16, 8);
  CFileDialogEx dialog(true, OpenTo(), BuildFilterList(FDM_OPEN_TO));
  ShowOn(dialog, dir.Path().string());
  const int width = dialog.width();
  const QScreen* screen = dialog.screen();
  ASSERT_NE(screen, nullptr);
  EXPECT_LE(width, screen->availableGeometry().width());
  EXPECT_GE(WholeRowsShown(dialog), 12);

  dialog.UpdateFileInfo(QString::fromStdString(longPath));
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  EXPECT_TRUE(dialog.InfoPanel()->text().contains(QString::fromStdString(longName)))
      << "the panel keeps the whole text (its tooltip too)";
  EXPECT_EQ(dialog.InfoPanel()->toolTip(), dialog.InfoPanel()->text());
  EXPECT_EQ(dialog.width(), width) << "the name did not widen the dialog";
  EXPECT_LE(dialog.InfoPanel()->sizeHint().width(), width);
  EXPECT_LE(dialog.minimumSizeHint().width(), screen->availableGeometry().width());
  // The shown line is the name shortened in the middle: its end is there.
  const QImage shown = dialog.InfoPanel()->grab().toImage();
  int ink = 0;
  for (int x = 0; x < shown.width(); ++x)
    for (int y = 0; y < shown.height() / 4; ++y) ink += qGray(shown.pixel(x, y)) < 100 ? 1 : 0;
  EXPECT_GT(ink, 20) << "the panel's first line is drawn";
  dialog.hide();
}

// A damaged video kept the dialog waiting 14.5 s for its preview.
TEST_F(FileDialogTest, AMediaPreviewKeepsTheDialogWaitingAtMostItsShortBound) {
  std::mutex mutex;
  std::condition_variable cv;
  bool release = false;
  std::atomic<int> ended{0};
  CFileDialogEx::SetMediaPreviewRunner([&](TMediaRequest& r) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      cv.wait_for(lock, std::chrono::seconds(20), [&] { return release; });
    }
    // A late frame of the file given up on.
    const auto* params = static_cast<const TSourceParams*>(r.pParams);
    TRgbFrame frame(2, 2, 32, std::vector<std::uint8_t>(4 * 2 * 2, 0x80));
    TMediaSender sender;
    sender.eSenderKind = MEDIA_SENDER_DSHOW;
    if (params && params->pCallback)
      params->pCallback(params->pContext, MEDIA_NOTIFY_FRAME, &sender, &frame.notice);
    r.bSuccess = true;
    ++ended;
  });
  std::ofstream(Path("damaged.mp4")) << std::string(5000, '\x11');
  CFileDialogEx dialog(true, OpenTo(), BuildFilterList(FDM_OPEN_TO));
  QElapsedTimer waited;
  waited.start();
  dialog.UpdateFileInfo(QString::fromStdString(Path("damaged.mp4")));
  const qint64 ms = waited.elapsed();
  EXPECT_GE(ms, CPreviewCtrl::kMediaPreviewBoundMs - 100);
  EXPECT_LT(ms, CPreviewCtrl::kMediaPreviewBoundMs + 1500) << "the dialog waited " << ms << " ms";
  EXPECT_FALSE(dialog.Preview()->HasPicture());
  EXPECT_TRUE(dialog.InfoPanel()->text().contains("The file cannot be previewed"))
      << dialog.InfoPanel()->text().toStdString();
  EXPECT_EQ(CPreviewCtrl::AbandonedMediaLoads(), 1);

  // The request ends on its own later; its frame reaches nothing.
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  cv.notify_all();
  QElapsedTimer ending;
  ending.start();
  while ((ended == 0 || CPreviewCtrl::AbandonedMediaLoads() > 0) && ending.elapsed() < 5000) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(ended.load(), 1);
  EXPECT_EQ(CPreviewCtrl::AbandonedMediaLoads(), 0);
  EXPECT_LT(ending.elapsed(), 2000);
  QApplication::processEvents();
  EXPECT_FALSE(dialog.Preview()->HasPicture()) << "a frame of a file given up on is dropped";
  CFileDialogEx::SetMediaPreviewRunner({});
}
