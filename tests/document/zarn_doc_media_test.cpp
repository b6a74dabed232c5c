// Position and volume of a document's media channels, alone and through the
// controller pane's sliders and mute boxes, on short files made at test time.

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QSlider>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document_fixture.h"
#include "io/dshow/dshow_util.h"
#include "io/dshow/media_session.h"
#include "open_fixture.h"
#include "shell/command_ids.h"
#include "tests/support/message_fixture.h"

using namespace ZarnTypes;
using doc_test::RunUntil;
using doc_test::TDocumentWindow;
using open_test::TRgbPicture;
namespace pq = platform::qt;
namespace fs = std::filesystem;

namespace {

// The video: 50 frames of 96 x 64 at 25 frames per second (2 s) of a
// scrolling test picture, every frame different, with two seconds of sound.
constexpr int kWidth = 96;
constexpr int kHeight = 64;
constexpr int kFrames = 50;

// Made once per test program; empty when the tools cannot make it.
struct TClip {
  fs::path avi;
  std::vector<TRgbPicture> frames;  // every frame, decoded by a separate pipeline
};

const TClip& Clip() {
  static const TClip clip = [] {
    TClip made;
    static tovrin_test::TTempDir folder;
    const fs::path avi = folder / "clip.avi";
    const fs::path raw = folder / "clip.rgb";
    const std::string video =
        "videotestsrc num-buffers=" + std::to_string(kFrames) +
        " pattern=smpte horizontal-speed=4 ! video/x-raw,format=I420,width=" + std::to_string(kWidth) +
        ",height=" + std::to_string(kHeight) + ",framerate=25/1";
    if (!open_test::RunTool(
            "gst-launch-1.0 -q -e " + video +
            " ! avenc_mpeg4 ! mpeg4videoparse ! avimux name=m ! filesink location=" +
            tovrin_test::Quote(avi) +
            " audiotestsrc num-buffers=94 ! audio/x-raw,rate=48000,channels=2 ! audioconvert ! "
            "audio/x-raw,format=S16LE ! m."))
      return made;
    if (!open_test::RunTool("gst-launch-1.0 -q -e filesrc location=" + tovrin_test::Quote(avi) +
                            " ! avidemux name=d d.video_0 ! decodebin ! videoconvert ! "
                            "video/x-raw,format=RGB ! filesink location=" +
                            tovrin_test::Quote(raw)))
      return made;
    const std::vector<std::uint8_t> bytes = tovrin_test::ReadAll(raw);
    const std::size_t frameBytes = static_cast<std::size_t>(kWidth) * kHeight * 3;
    if (bytes.size() != frameBytes * kFrames) return made;
    for (int k = 0; k < kFrames; ++k) {
      const std::uint8_t* frame = bytes.data() + frameBytes * k;
      made.frames.push_back(open_test::MakeRgbPicture(kWidth, kHeight, [frame](int x, int y) {
        const std::uint8_t* p = frame + (static_cast<std::size_t>(y) * kWidth + x) * 3;
        return static_cast<std::uint32_t>(p[0]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[2];
      }));
    }
    made.avi = avi;
    return made;
  }();
  return clip;
}

// The frame of the clip a picture is, and how far it is from it.
struct TMatch {
  int frame = -1;
  int difference = 256;
};
TMatch BestMatch(const TRgbPicture& shown) {
  TMatch best;
  const std::vector<TRgbPicture>& frames = Clip().frames;
  for (int k = 0; k < static_cast<int>(frames.size()); ++k) {
    const int d = open_test::MaxDifference(shown, frames[static_cast<std::size_t>(k)]);
    if (d >= 0 && d < best.difference) best = {k, d};
  }
  return best;
}

double Gain(std::int32_t level, std::int32_t maximum) {
  return DShowMgr::MillibelToGain(DShowMgr::VolumeToMillibel(level, maximum));
}

class MediaChannelTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  open_test::TSettingsApplication app;
  TDocumentWindow w;
  ZarnDoc::CZarnDoc& doc = w.Doc();
  ZarnControllerView::CZarnControllerView& pane = *w.Doc().ControllerView();

  MediaChannelTest() {
    DShowMgr::UseMediaGraph();
    doc.ch_nDecoderVideoOutDelay = 0;
  }
  ~MediaChannelTest() override {
    if (doc.m_Engine.IsRunning()) {
      doc.m_Engine.StopPlaying();
      RunUntil([this] { return !doc.m_Engine.IsRunning(); });
    }
  }
  void SetUp() override {
    if (!open_test::HaveTool("gst-launch-1.0")) GTEST_SKIP() << "needs gst-launch-1.0";
    ASSERT_FALSE(Clip().avi.empty()) << "the clip could not be made";
  }

  bool OpenClip(int channel) { return doc.OpenSource(Clip().avi.string(), channel); }
  TMatch Shown(int channel) { return BestMatch(open_test::PortPicture(doc, channel)); }
  ReadStream::CReadStream& Reader(int channel) { return doc.ChannelReader(channel); }

  // Plays channel 0 and pauses it once its session shows frames.
  void PlayAndPause() {
    ASSERT_TRUE(doc.OnCmdMsg(shell::ID_NAVIGATE_START_PAUSE, pq::TCmdCode::Command, nullptr));
    ASSERT_TRUE(doc.m_Engine.IsRunning());
    DShowMgr::TMediaProgress progress;
    ASSERT_TRUE(
        RunUntil([&] { return Reader(0).GetPositionAndDuration(&progress) && progress.nDuration > 0; }));
    ASSERT_TRUE(doc.OnCmdMsg(shell::ID_NAVIGATE_START_PAUSE, pq::TCmdCode::Command, nullptr));
    ASSERT_TRUE(doc.m_Engine.IsPaused());
    ASSERT_TRUE(RunUntil([&] { return Reader(0).MediaSession().GetState() == DShowMgr::GRAPH_PAUSED; }));
  }
  // Where channel 0's session stands, in seconds.
  double SessionSeconds() {
    DShowMgr::TMediaProgress progress;
    if (!Reader(0).GetPositionAndDuration(&progress)) return -1.0;
    return progress.nPosition / 1e7;
  }
  // A drag of a slider to a value and its release, as the user makes it.
  static void Drag(QSlider* slider, int value) {
    slider->setSliderDown(true);
    slider->setSliderPosition(value);
    slider->setSliderDown(false);
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// Seeking with nothing playing

TEST_F(MediaChannelTest, SeekingAStoppedFileShowsThePictureAtThatShareOfItsDuration) {
  ASSERT_TRUE(OpenClip(0));
  ASSERT_EQ(Shown(0).frame, 0);

  struct TCase {
    std::int32_t position, maximum;
    int frame;  // 2 s of 25 frames per second
  };
  const TCase cases[] = {{50, 100, 25}, {25, 100, 12}, {1, 5, 10}, {0, 100, 0}, {49, 50, 49}};
  for (const TCase& c : cases) {
    ASSERT_TRUE(doc.SeekChannel(0, c.position, c.maximum)) << c.position << "/" << c.maximum;
    const TMatch shown = Shown(0);
    // Accurate seeks land on AVI's frames; half a frame of rounding either way.
    EXPECT_NEAR(shown.frame, c.frame, 1) << c.position << "/" << c.maximum;
    EXPECT_LE(shown.difference, 2) << c.position << "/" << c.maximum;
    // Still the same source, still open.
    EXPECT_TRUE(doc.m_Source[0].bOpen);
    EXPECT_EQ(doc.m_Source[0].eStreamType, ST_AVI);
    EXPECT_EQ(doc.m_Source[0].sPath, Clip().avi.string());
  }

  // The very end is not sought: re-opened there the file would show its
  // first picture. The channel keeps the picture it shows.
  ASSERT_TRUE(doc.SeekChannel(0, 50, 100));
  Reader(0).m_bSeekRequest.store(false);
  EXPECT_FALSE(doc.SeekChannel(0, 100, 100));
  EXPECT_FALSE(doc.SeekChannel(0, 7, 7));
  EXPECT_NEAR(Shown(0).frame, 25, 1);
  EXPECT_FALSE(Reader(0).m_bSeekRequest.load());
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(MediaChannelTest, ChannelsWithoutAPositionRefuseTheSeekAndKeepTheirPicture) {
  // The clip under the stream types that have no position: nothing may
  // re-open it (which would show frame 25).
  for (const std::int32_t type : {std::int32_t{ST_MPEG1}, std::int32_t{ST_H264}, std::int32_t{ST_IFO},
                                  std::int32_t{ST_VOB}, std::int32_t{ST_NULL_STREAM}}) {
    ASSERT_TRUE(OpenClip(0));
    doc.m_Source[0].eStreamType = TStreamType{type};
    Reader(0).m_bSeekRequest.store(false);
    Reader(0).m_nSeekNumerator.store(7);
    EXPECT_FALSE(doc.SeekChannel(0, 50, 100)) << type;
    EXPECT_EQ(Shown(0).frame, 0) << type;
    EXPECT_FALSE(Reader(0).m_bSeekRequest.load()) << type;
    EXPECT_EQ(Reader(0).m_nSeekNumerator.load(), 7) << type;
  }

  // A still and a raw YUV file, opened.
  const std::string still = Path("still.png");
  ASSERT_TRUE(open_test::ToImage(open_test::Pattern(8, 6)).save(QString::fromStdString(still), "PNG"));
  const std::string yuv = Path("clip.yuv");
  tovrin_test::WriteAll(yuv, std::string(16 * 8 * 3 / 2 * 2, '\x50'));
  doc.m_YuvOpen.nFormat = ComposeYuvFileFormat(YUV_STD_BT601, YUV_LAYOUT_420_CENTRED, YUV_RANGE_16_235_240);
  doc.m_YuvOpen.nWidth = 16;
  doc.m_YuvOpen.nHeight = 8;
  ASSERT_TRUE(doc.OpenSource(still, 1));
  ASSERT_TRUE(doc.OpenSource(yuv, 2));
  for (int ch : {1, 2}) {
    const TRgbPicture before = open_test::PortPicture(doc, ch);
    EXPECT_FALSE(doc.SeekChannel(ch, 50, 100)) << ch;
    EXPECT_FALSE(Reader(ch).m_bSeekRequest.load()) << ch;
    EXPECT_EQ(open_test::MaxDifference(open_test::PortPicture(doc, ch), before), 0) << ch;
  }

  // A DVD volume seeks only while it plays; a closed channel never.
  doc.m_Source[3].bOpen = TRUE_;
  doc.m_Source[3].eStreamType = ST_SYSTEM_DEVICE;
  doc.m_Source[3].nDeviceCategory = 6;
  EXPECT_FALSE(doc.SeekChannel(3, 50, 100));
  EXPECT_FALSE(Reader(3).m_bSeekRequest.load());
  doc.m_Source[3].Reset();
  EXPECT_FALSE(doc.SeekChannel(3, 50, 100));
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(MediaChannelTest, OutOfRangeSeeksAndVolumesAreRefused) {
  ASSERT_TRUE(OpenClip(0));
  Reader(0).SetVolume(60, 100);
  struct TCase {
    int channel;
    std::int32_t value, maximum;
  };
  const TCase cases[] = {{-1, 50, 100}, {4, 50, 100}, {0, 50, 0}, {0, 5, -10}, {0, -1, 100}, {0, 101, 100}};
  for (const TCase& c : cases) {
    EXPECT_FALSE(doc.SeekChannel(c.channel, c.value, c.maximum))
        << c.channel << " " << c.value << "/" << c.maximum;
    EXPECT_FALSE(doc.SetChannelVolume(c.channel, c.value, c.maximum))
        << c.channel << " " << c.value << "/" << c.maximum;
  }
  EXPECT_EQ(Shown(0).frame, 0);
  EXPECT_EQ(Reader(0).GetVolumeLevel(), 60);
  EXPECT_EQ(Reader(0).GetVolumeScale(), 100);
}

TEST_F(MediaChannelTest, ASeekOnAFileThatIsGoneFailsAndTheChannelKeepsItsPicture) {
  const fs::path copy = dir / "gone.avi";
  fs::copy_file(Clip().avi, copy);
  ASSERT_TRUE(doc.OpenSource(copy.string(), 0));
  ASSERT_TRUE(doc.SeekChannel(0, 50, 100));
  ASSERT_NEAR(Shown(0).frame, 25, 1);
  fs::remove(copy);
  EXPECT_FALSE(doc.SeekChannel(0, 0, 100));
  EXPECT_NEAR(Shown(0).frame, 25, 1);
  EXPECT_TRUE(doc.m_Source[0].bOpen);
  EXPECT_EQ(doc.m_Source[0].sPath, copy.string());
}

// ---------------------------------------------------------------------------
// Volume

TEST_F(MediaChannelTest, VolumeIsKeptByTheReaderOfAMediaChannelOnly) {
  ASSERT_TRUE(OpenClip(0));
  EXPECT_TRUE(doc.SetChannelVolume(0, 30, 100));
  EXPECT_EQ(Reader(0).GetVolumeLevel(), 30);
  EXPECT_EQ(Reader(0).GetVolumeScale(), 100);

  const std::string still = Path("still.png");
  ASSERT_TRUE(open_test::ToImage(open_test::Pattern(8, 6)).save(QString::fromStdString(still), "PNG"));
  ASSERT_TRUE(doc.OpenSource(still, 1));
  // A still and a closed channel have no sound: their readers keep their level.
  for (int ch : {1, 2}) {
    Reader(ch).SetVolume(77, 100);
    EXPECT_FALSE(doc.SetChannelVolume(ch, 30, 100)) << ch;
    EXPECT_EQ(Reader(ch).GetVolumeLevel(), 77) << ch;
  }
}

// ---------------------------------------------------------------------------
// While the engine plays

TEST_F(MediaChannelTest, WhilePlayingTheSeekReachesTheSessionAndTheTickFollowsIt) {
  ASSERT_TRUE(OpenClip(0));
  PlayAndPause();
  ASSERT_TRUE(doc.SeekChannel(0, 80, 100));
  EXPECT_EQ(Reader(0).m_nSeekNumerator.load(), 80);
  EXPECT_EQ(Reader(0).m_nSeekDenominator.load(), 100);
  // The paused session stands at 1.6 s, and the picture is its frame 40
  // at once.
  ASSERT_TRUE(RunUntil([&] { return std::fabs(SessionSeconds() - 1.6) < 0.05; })) << SessionSeconds();
  EXPECT_TRUE(doc.m_Engine.IsPaused());
  ASSERT_TRUE(RunUntil([&] { return Shown(0).frame == 40; })) << Shown(0).frame;
  EXPECT_EQ(doc.ShownFrame(0), 40);

  // The readouts and the slider are at the frame shown: 40 x 40 ms.
  ASSERT_TRUE(doc.ChannelStreaming(0));
  pq::SendAppMessage(&pane, pq::WM_APP_TIME_TICK, 0, 0);
  EXPECT_EQ(pane.PositionSlider(0)->value(), 80);
  EXPECT_EQ(pane.TimeReadout(0)->text().toStdString(), "00:00:01 ");
  EXPECT_EQ(pane.FrameReadout(0)->text().toStdString(), "40 ");

  // A slider the user holds stays where it is held.
  pane.PositionSlider(0)->setSliderDown(true);
  pane.PositionSlider(0)->setSliderPosition(20);
  pq::SendAppMessage(&pane, pq::WM_APP_TIME_TICK, 0, 0);
  EXPECT_EQ(pane.PositionSlider(0)->value(), 20);
  // Its release seeks the session there.
  pane.PositionSlider(0)->setSliderDown(false);
  ASSERT_TRUE(RunUntil([&] { return std::fabs(SessionSeconds() - 0.4) < 0.05; })) << SessionSeconds();
  ASSERT_TRUE(RunUntil([&] { return Shown(0).frame == 10; })) << Shown(0).frame;
  pq::SendAppMessage(&pane, pq::WM_APP_TIME_TICK, 0, 0);
  EXPECT_EQ(pane.PositionSlider(0)->value(), 20);
  EXPECT_EQ(pane.TimeReadout(0)->text().toStdString(), "00:00:00 ");
  EXPECT_EQ(pane.FrameReadout(0)->text().toStdString(), "10 ");
}

TEST_F(MediaChannelTest, MuteBoxAndVolumeSliderSteerThePlayingSound) {
  ASSERT_TRUE(OpenClip(0));
  PlayAndPause();
  DShowMgr::IMediaSession& session = Reader(0).MediaSession();
  ASSERT_GE(session.AppliedGain(), 0.0) << "the session has no sound output";
  QSlider* volume = pane.VolumeSlider(0);
  QCheckBox* mute = pane.MuteBox(0);
  ASSERT_TRUE(volume->isEnabled());
  ASSERT_TRUE(mute->isEnabled());

  Drag(volume, 40);
  EXPECT_EQ(Reader(0).GetVolumeLevel(), 40);
  EXPECT_NEAR(session.AppliedGain(), Gain(40, 100), 1e-6);

  mute->click();  // ticked: sound off
  EXPECT_FALSE(Reader(0).IsSoundOn());
  EXPECT_NEAR(session.AppliedGain(), 0.0, 1e-9);
  // Moving the volume while muted keeps the sound off ...
  Drag(volume, 70);
  EXPECT_EQ(Reader(0).GetVolumeLevel(), 70);
  EXPECT_NEAR(session.AppliedGain(), 0.0, 1e-9);
  // ... and sound on brings the level last set.
  mute->click();
  EXPECT_TRUE(Reader(0).IsSoundOn());
  EXPECT_NEAR(session.AppliedGain(), Gain(70, 100), 1e-6);
}

// ---------------------------------------------------------------------------
// The controller pane with nothing playing

TEST_F(MediaChannelTest, ThePanesControlsOfAnOpenedFileAreEnabledAndAct) {
  const std::string still = Path("still.png");
  ASSERT_TRUE(open_test::ToImage(open_test::Pattern(8, 6)).save(QString::fromStdString(still), "PNG"));
  ASSERT_TRUE(doc.OpenSource(still, 0));
  ASSERT_TRUE(OpenClip(1));
  QApplication::processEvents();  // the loader's slider message
  // A still has neither position nor sound; the video file both.
  EXPECT_FALSE(pane.PositionSlider(0)->isEnabled());
  EXPECT_FALSE(pane.VolumeSlider(0)->isEnabled());
  EXPECT_FALSE(pane.MuteBox(0)->isEnabled());
  EXPECT_TRUE(pane.PositionSlider(1)->isEnabled());
  EXPECT_TRUE(pane.VolumeSlider(1)->isEnabled());
  EXPECT_TRUE(pane.MuteBox(1)->isEnabled());

  // Releasing the position slider at the middle shows the middle frame.
  Drag(pane.PositionSlider(1), 50);
  EXPECT_NEAR(Shown(1).frame, 25, 1);
  // The volume slider and the mute box reach the channel's reader.
  Drag(pane.VolumeSlider(1), 35);
  EXPECT_EQ(Reader(1).GetVolumeLevel(), 35);
  EXPECT_EQ(Reader(1).GetVolumeScale(), 100);
  pane.MuteBox(1)->click();
  EXPECT_FALSE(Reader(1).IsSoundOn());
  pane.MuteBox(1)->click();
  EXPECT_TRUE(Reader(1).IsSoundOn());
  // Nothing plays: the tick does not move the slider.
  pq::SendAppMessage(&pane, pq::WM_APP_TIME_TICK, 0, 0);
  EXPECT_EQ(pane.PositionSlider(1)->value(), 50);
}
