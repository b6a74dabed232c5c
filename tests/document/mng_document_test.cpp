// MNG animations through the document: opening shows the first frame and
// keeps the header values, the file dialog's preview reports them, seeking
// while stopped re-opens the file at the frame asked for, and while the
// engine plays the seek, the readouts, the replay of cached frames and the
// end of the animation follow the player.

#include <QApplication>
#include <QLabel>
#include <QSlider>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document_fixture.h"
#include "io/codecs/mng_mgr.h"
#include "open_fixture.h"
#include "shell/command_ids.h"
#include "shell/preview_ctrl.h"
#include "tests/io/mng_test_files.h"
#include "tests/support/message_fixture.h"

using namespace ZarnTypes;
using doc_test::RunUntil;
using doc_test::TDocumentWindow;
namespace pq = platform::qt;

namespace {

constexpr int kWidth = 48;
constexpr int kHeight = 32;
constexpr int kFrames = 60;

// The index of the frame a port shows (-1: nothing readable).
int ShownIndex(const ZarnDoc::CZarnDoc& doc, int channel) {
  const open_test::TRgbPicture p = open_test::PortPicture(doc, channel);
  if (p.width != kWidth || p.height != kHeight) return -1;
  const std::uint32_t c = p.At(kWidth / 2, kHeight / 2);
  const std::uint8_t bgr[3] = {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8),
                               static_cast<std::uint8_t>(c >> 16)};
  return static_cast<int>(mng_test::IndexOf(bgr));
}

class MngDocumentTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  open_test::TSettingsApplication app;
  TDocumentWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
  ZarnControllerView::CZarnControllerView& pane = *w.Doc().ControllerView();

  MngDocumentTest() {
    doc.ch_nDecoderVideoOutDelay = 0;
    doc.ch_nDecoderVideoOutPeriod = 5;
    // 60 frames counted in the header, 30 ticks a second: 33 ms each.
    mng_test::TMngBuilder b;
    b.Mhdr(kWidth, kHeight, kFrames, 30);
    for (int i = 0; i < kFrames; ++i)
      b.Defi(static_cast<std::uint16_t>(i))
          .Image(mng_test::MakeIndexFrame(PF_RGB24, kWidth, kHeight, static_cast<std::uint32_t>(i)));
    b.Mend();
    b.Save(dir / "anim.mng");
  }
  ~MngDocumentTest() override {
    if (doc.m_Engine.IsRunning()) {
      doc.m_Engine.StopPlaying();
      RunUntil([this] { return !doc.m_Engine.IsRunning(); });
    }
  }
  void Run(UINT id) { EXPECT_TRUE(doc.OnCmdMsg(id, pq::TCmdCode::Command, nullptr)) << id; }
  int Shown() { return ShownIndex(doc, 0); }
  bool Shows(int frame) {
    return RunUntil([&] { return Shown() == frame; }, 1000);
  }
};

}  // namespace

TEST_F(MngDocumentTest, OpeningShowsTheFirstFrameAndKeepsTheHeaderValues) {
  ASSERT_TRUE(doc.OpenSource(Path("anim.mng"), 0));
  EXPECT_EQ(Shown(), 0);
  const TMediaSource& source = doc.m_Source[0];
  EXPECT_EQ(source.eStreamType, ST_MNG);
  EXPECT_EQ(source.nWidth, kWidth);
  EXPECT_EQ(source.nHeight, kHeight);
  EXPECT_EQ(source.eFramePixelFormat, PF_RGB24);
  EXPECT_EQ(source.nPictureCount, 1);
  EXPECT_TRUE(doc.m_bHasPicture[0]);
  // Ticks per second, layers, frames, play time and simplicity at bytes 8..27.
  std::int32_t kept[7] = {};
  std::memcpy(kept, doc.m_Format[0].params, sizeof kept);
  EXPECT_EQ(std::vector<std::int32_t>(kept, kept + 7),
            (std::vector<std::int32_t>{kWidth, kHeight, 30, 0, kFrames, 0, 7}));
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(MngDocumentTest, ADamagedFileIsNotOpenedAndSaysWhy) {
  auto bytes = tovrin_test::ReadAll(dir / "anim.mng");
  bytes.resize(60);
  tovrin_test::WriteAll(dir / "cut.mng", bytes);
  EXPECT_FALSE(doc.OnOpenDocument(Path("cut.mng")));
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_NE(sink.Texts()[0].find("Can not open file"), std::string::npos) << sink.Texts()[0];
  EXPECT_NE(sink.Texts()[0].find("MNG"), std::string::npos) << sink.Texts()[0];
}

// A JNG (a JPEG in its own chunks) opens into a channel like an MNG, within
// 3 of ffmpeg's decode of the JPEG.
TEST_F(MngDocumentTest, AJngOpensIntoAChannelWithinThreeOfFfmpeg) {
  const std::string jpeg = Path("photo.jpg");
  if (!tovrin_test::RunCapture("ffmpeg -v error -f lavfi -i 'gradients=s=40x24:n=4:seed=9' -frames:v 1 "
                               "-pix_fmt yuvj444p -q:v 2 -y " +
                               tovrin_test::Quote(jpeg) + " && echo ok"))
    GTEST_SKIP() << "no ffmpeg";
  const auto reference = tovrin_test::RunCapture("ffmpeg -v error -i " + tovrin_test::Quote(jpeg) +
                                                 " -f rawvideo -pix_fmt rgb24 -");
  ASSERT_TRUE(reference);
  ASSERT_EQ(reference->size(), 40u * 24u * 3u);
  mng_test::TMngBuilder b(mng_test::kJngSignature);
  std::vector<std::uint8_t> jhdr;
  mng_test::TMngBuilder::Append32(jhdr, 40);
  mng_test::TMngBuilder::Append32(jhdr, 24);
  jhdr.insert(jhdr.end(), {10, 8, 8, 0, 0, 0, 0, 0});
  b.Chunk("JHDR", jhdr).Chunk("JDAT", tovrin_test::ReadAll(jpeg)).Chunk("IEND", {});
  b.Save(dir / "photo.mng");

  ASSERT_TRUE(doc.OpenSource(Path("photo.mng"), 1));
  EXPECT_EQ(doc.m_Source[1].eStreamType, ST_MNG);
  const open_test::TRgbPicture shown = open_test::PortPicture(doc, 1);
  const open_test::TRgbPicture expected = open_test::MakeRgbPicture(40, 24, [&](int x, int y) {
    const std::uint8_t* p = reference->data() + (static_cast<std::size_t>(y) * 40 + x) * 3;
    return static_cast<std::uint32_t>(p[0]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[2];
  });
  const int difference = open_test::MaxDifference(shown, expected);
  EXPECT_GE(difference, 0) << "sizes differ";
  EXPECT_LE(difference, 3);
}

// The dialog's preview: the header values once and the first frame.
TEST_F(MngDocumentTest, PreviewReportsTheHeaderValuesAndShowsTheFirstFrame) {
  PreviewCtrl::CPreviewCtrl preview;
  preview.SetMediaRunner(&MngMgr::RunPreviewRequest);
  std::vector<std::vector<std::int32_t>> infos;
  std::vector<std::int32_t> kinds;
  preview.SetInfoSink([&](std::int32_t kind, const std::int32_t* values) {
    kinds.push_back(kind);
    infos.emplace_back(values, values + 7);
  });
  ASSERT_TRUE(preview.LoadMedia(Path("anim.mng"), FF_MNG));
  ASSERT_EQ(infos.size(), 1u);
  EXPECT_EQ(kinds[0], MEDIA_SENDER_MNG);
  EXPECT_EQ(infos[0], (std::vector<std::int32_t>{kWidth, kHeight, 30, 0, kFrames, 0, 7}));
  EXPECT_EQ(preview.AbandonedMediaLoads(), 0);
}

// Nothing playing: the file is opened again and shows the frame at the
// share of its frames asked for.
TEST_F(MngDocumentTest, SeekingWhileStoppedShowsThatFrame) {
  ASSERT_TRUE(doc.OpenSource(Path("anim.mng"), 0));
  struct TCase {
    int position, maximum, frame;
  };
  for (const TCase c : {TCase{50, 100, 30}, TCase{1, 4, 15}, TCase{0, 100, 0}, TCase{99, 100, 59}}) {
    ASSERT_TRUE(doc.SeekChannel(0, c.position, c.maximum)) << c.position;
    EXPECT_EQ(Shown(), c.frame) << c.position << "/" << c.maximum;
  }
  EXPECT_FALSE(doc.SeekChannel(0, 100, 100));
  EXPECT_EQ(Shown(), 59);
  // A file that is gone: the seek fails, the picture stays.
  std::filesystem::remove(dir / "anim.mng");
  EXPECT_FALSE(doc.SeekChannel(0, 10, 100));
  EXPECT_EQ(Shown(), 59);
}

// Playing: the frames follow, pause holds the picture, replay steps
// through the cached frames, a seek lands on its frame with the readouts
// after it, and the animation plays to its last frame.
TEST_F(MngDocumentTest, PlayPauseReplaySeekAndPlayToTheEnd) {
  ASSERT_TRUE(doc.OpenSource(Path("anim.mng"), 0));
  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(doc.m_Engine.IsRunning());
  ASSERT_TRUE(RunUntil([&] { return Shown() >= 6; })) << Shown();
  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(doc.m_Engine.IsPaused());
  ASSERT_TRUE(RunUntil([this] { return doc.m_Engine.ReplayRequestsDone(); }));
  EXPECT_TRUE(
      RunUntil([&] { return doc.ChannelReader(0).MngPlayer().GetState() == MngMgr::MNG_STATE_PAUSED; }));
  QApplication::processEvents();
  const int last = Shown();
  ASSERT_GE(last, 6);

  // Replay of cached frames.
  Run(shell::ID_REPLAY_PREVIOUS);
  ASSERT_TRUE(RunUntil([this] { return doc.m_Engine.ReplayRequestsDone(); }));
  EXPECT_TRUE(Shows(last - 1)) << Shown();
  Run(shell::ID_REPLAY_NEXT);
  ASSERT_TRUE(RunUntil([this] { return doc.m_Engine.ReplayRequestsDone(); }));
  EXPECT_TRUE(Shows(last)) << Shown();

  // A seek while paused: the target frame at once, the readouts with it.
  ASSERT_TRUE(doc.SeekChannel(0, 75, 100));
  ASSERT_TRUE(Shows(45)) << Shown();
  ASSERT_TRUE(RunUntil([&] { return doc.ChannelReader(0).MngPlayer().GetFrameNumber() == 45; }));
  ASSERT_TRUE(doc.ChannelStreaming(0));
  pq::SendAppMessage(&pane, pq::WM_APP_TIME_TICK, 0, 0);
  EXPECT_EQ(pane.PositionSlider(0)->value(), 75);
  EXPECT_EQ(pane.TimeReadout(0)->text().toStdString(), "00:00:01 ");  // 45 x 33 ms

  // On to the end: the last frame stays.
  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(RunUntil([this] { return !doc.m_Engine.IsRunning(); }, 4000)) << Shown();
  EXPECT_EQ(Shown(), kFrames - 1);
}
