#include "document/zarn_controller_view.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "document/command_ids.h"
#include "document_fixture.h"
#include "platform/message_sink.h"

using namespace ZarnControllerView;
using namespace ZarnTypes;
using doc_test::TDocumentWindow;
namespace pq = platform::qt;

namespace {

TMediaSource Source(std::int32_t streamType, std::int32_t category, std::int32_t deviceKind = 0,
                    bool open = true) {
  TMediaSource s;
  s.bOpen = open ? TRUE_ : FALSE_;
  s.eStreamType = static_cast<TStreamType>(streamType);
  s.eSourceCategory = static_cast<TSourceCategory>(category);
  s.nDeviceKind = deviceKind;
  s.nDeviceCategory = deviceKind;
  return s;
}

std::string Text(QLabel* label) { return label->text().toStdString(); }

CZarnControllerView& Controller(TDocumentWindow& w) { return *w.Doc().ControllerView(); }

}  // namespace

TEST(ControllerTexts, FrameCounterTimeIsMinutesAndSecondsOfTheCounterTimesThePeriod) {
  struct TCase {
    std::int32_t counter, period;
    std::int64_t seconds;
    const char* text;
  };
  const TCase cases[] = {
      {299, 33, 9, "0000:09 "},
      {18181, 33, 600, "0010:00 "},
      {0, 33, 0, "0000:00 "},
      {59, 1000, 60, "0001:00 "},
      // (counter + 1) x period needs more than 32 bits.
      {INT_MAX, 1000, 2147483648LL, "35791394:08 "},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(CounterSeconds(c.counter, c.period), c.seconds) << c.counter;
    EXPECT_EQ(CounterTimeText(CounterSeconds(c.counter, c.period)), c.text) << c.counter;
  }
  EXPECT_EQ(FrameCountText(0), "0 ");
  EXPECT_EQ(FrameCountText(1234), "1234 ");
  EXPECT_EQ(FrameCountText(1234, 0), "1234 ");
  EXPECT_EQ(FrameCountText(1234, 17), "1234 (17 dropped) ");
  EXPECT_EQ(FrameCountText(7, 5000000000), "7 (5000000000 dropped) ");
}

TEST(ControllerTexts, StreamAndDvdReadouts) {
  EXPECT_EQ(StreamTimeText(0), "00:00:00 ");
  EXPECT_EQ(StreamTimeText(59999), "00:00:59 ");
  EXPECT_EQ(StreamTimeText(3723456), "01:02:03 ");
  EXPECT_EQ(StreamTimeText(36000000LL * 30), "300:00:00 ");
  EXPECT_EQ(DvdTitleText(3, 12), "T03-C12 ");
  EXPECT_EQ(DvdTimeText(1, 5, 9), "01:05:09 ");
}

TEST(ControllerTexts, SliderPositionIsTheShareOfTheDuration) {
  EXPECT_EQ(SliderPosition(0, 100, 250, 1000), 25);
  EXPECT_EQ(SliderPosition(0, 100, 999, 1000), 99);
  EXPECT_EQ(SliderPosition(0, 100, 1000, 1000), 100);
  EXPECT_EQ(SliderPosition(0, 100, 5000, 1000), 100);
  EXPECT_EQ(SliderPosition(0, 100, 10, 0), 0);
  EXPECT_EQ(SliderPosition(0, 100, 10, -4), 0);
  // Positions of long streams do not overflow.
  EXPECT_EQ(SliderPosition(0, 100, 3'000'000'000'000LL, 6'000'000'000'000LL), 50);
}

TEST(ControllerTexts, AFramesTimeIsItsIndexTimesTheFramePeriod) {
  EXPECT_EQ(FrameTimeMs(0, 40.0), 0);
  EXPECT_EQ(FrameTimeMs(74, 40.0), 2960);
  EXPECT_EQ(FrameTimeMs(1799, 1001.0 / 30.0), 60027);  // NTSC: 1799 x 33.3667 ms
  EXPECT_EQ(FrameTimeMs(INT_MAX, 40.0), 85'899'345'880LL);
  EXPECT_EQ(FrameTimeMs(-3, 40.0), 0);
  EXPECT_EQ(FrameTimeMs(10, 0.0), 0);
}

TEST(ControllerRules, WhichSourcesSeekAndWhichHaveSound) {
  struct TCase {
    TMediaSource source;
    bool seek, sound;
    const char* what;
  };
  const TCase cases[] = {
      {Source(8, SOURCE_CAT_FILE), true, true, "media-graph file"},
      {Source(3, SOURCE_CAT_FILE), true, true, "first media-graph type"},
      {Source(21, SOURCE_CAT_FILE), true, true, "last media-graph type"},
      {Source(8, SOURCE_CAT_HTTP), false, true, "media-graph URL"},
      {Source(22, SOURCE_CAT_FILE), false, false, "still"},
      {Source(70, SOURCE_CAT_FILE), false, false, "raw YUV"},
      {Source(2, SOURCE_CAT_DEVICE, 6), true, true, "DVD"},
      {Source(2, SOURCE_CAT_DEVICE, 1), false, true, "audio input"},
      {Source(2, SOURCE_CAT_DEVICE, 3), false, true, "DV camcorder"},
      {Source(2, SOURCE_CAT_DEVICE, 5), false, true, "TV tuner"},
      {Source(2, SOURCE_CAT_DEVICE, 4), false, false, "webcam"},
      {Source(2, SOURCE_CAT_DEVICE, 2), false, false, "video input of unknown kind"},
      {Source(8, SOURCE_CAT_FILE, 0, false), false, false, "closed channel"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(CanSeek(c.source), c.seek) << c.what;
    EXPECT_EQ(HasSound(c.source), c.sound) << c.what;
  }
}

TEST(ControllerRules, RowsGroupedByFunctionAndByChannel) {
  auto shownRows = [](std::int32_t layout, int open) {
    std::vector<std::pair<int, int>> shown;  // (kind, channel) in order
    for (const TRowSlot& r : ArrangeRows(layout, open))
      if (r.shown) shown.emplace_back(r.kind, r.channel);
    return shown;
  };
  using V = std::vector<std::pair<int, int>>;
  // Nothing open: channel 1's readout row alone.
  EXPECT_EQ(shownRows(LAYOUT_BY_FUNCTION, 0), (V{{ROW_READOUT, 0}}));
  // Channel 3 open: channels 1..3, readouts first, then positions, then volumes.
  EXPECT_EQ(shownRows(LAYOUT_BY_FUNCTION, 3), (V{{ROW_READOUT, 0},
                                                 {ROW_READOUT, 1},
                                                 {ROW_READOUT, 2},
                                                 {ROW_POSITION, 0},
                                                 {ROW_POSITION, 1},
                                                 {ROW_POSITION, 2},
                                                 {ROW_VOLUME, 0},
                                                 {ROW_VOLUME, 1},
                                                 {ROW_VOLUME, 2}}));
  // By channel: channel 1 always shows all three of its rows.
  EXPECT_EQ(shownRows(LAYOUT_BY_CHANNEL, 0), (V{{ROW_READOUT, 0}, {ROW_POSITION, 0}, {ROW_VOLUME, 0}}));
  EXPECT_EQ(shownRows(LAYOUT_BY_CHANNEL, 2), (V{{ROW_READOUT, 0},
                                                {ROW_POSITION, 0},
                                                {ROW_VOLUME, 0},
                                                {ROW_READOUT, 1},
                                                {ROW_POSITION, 1},
                                                {ROW_VOLUME, 1}}));
  EXPECT_EQ(ArrangeRows(LAYOUT_BY_FUNCTION, 4).size(), 12u);
}

TEST(ControllerPane, TheFormStartsWithItsControlsAndTheEnginesSpeed) {
  TDocumentWindow w;
  CZarnControllerView& c = Controller(w);
  ASSERT_TRUE(c.Initialised());
  for (int ch = 0; ch < 4; ++ch) {
    ASSERT_NE(c.Control(IDC_TIME[ch]), nullptr);
    EXPECT_EQ(c.Control(IDC_TIME[ch]), c.TimeReadout(ch));
    EXPECT_EQ(Text(c.TimeReadout(ch)), "000000000");
    EXPECT_EQ(Text(c.FrameReadout(ch)), "000000000");
    EXPECT_EQ(c.MuteBox(ch)->text().toStdString(), std::to_string(ch + 1));
    EXPECT_EQ(qobject_cast<QLabel*>(c.Control(IDC_READOUT_LABEL[ch]))->text().toStdString(),
              std::to_string(ch + 1));
    EXPECT_EQ(c.PositionSlider(ch)->maximum(), 100);
    EXPECT_EQ(c.PositionSlider(ch)->value(), 0);
    EXPECT_EQ(c.VolumeSlider(ch)->value(), 100);
    EXPECT_FALSE(c.PositionSlider(ch)->isEnabled());
    EXPECT_FALSE(c.VolumeSlider(ch)->isEnabled());
    EXPECT_FALSE(c.MuteBox(ch)->isEnabled());
  }
  EXPECT_EQ(qobject_cast<QLabel*>(c.Control(IDC_SPEED_LABEL))->text().toStdString(), "Play");
  EXPECT_EQ(c.SpeedSlider()->minimum(), 10);
  EXPECT_EQ(c.SpeedSlider()->value(), 100);
  EXPECT_EQ(w.Doc().m_Engine.m_nSpeed.load(), 100);
  EXPECT_EQ(w.Doc().m_Engine.m_nSpeedMax.load(), 100);
  for (int id : {IDC_GET_1, IDC_GET_2, IDC_SAVE_3, IDC_SAVE_4}) {
    auto* b = qobject_cast<QPushButton*>(c.Control(id));
    ASSERT_NE(b, nullptr) << id;
    EXPECT_EQ(b->text().toStdString(), id == IDC_GET_1 || id == IDC_GET_2 ? "Get" : "Save");
    EXPECT_TRUE(b->isEnabled()) << id;  // the document captures and saves
  }
  EXPECT_EQ(qobject_cast<QPushButton*>(c.Control(IDC_MINIMIZE))->text().toStdString(), "_");
  EXPECT_EQ(qobject_cast<QPushButton*>(c.Control(IDC_CLOSE))->text().toStdString(), "X");

  c.SpeedSlider()->setValue(55);
  EXPECT_EQ(w.Doc().m_Engine.m_nSpeed.load(), 55);
}

TEST(ControllerPane, RowsFollowTheOpenChannelsAndTheGrouping) {
  TDocumentWindow w;
  CZarnControllerView& c = Controller(w);
  EXPECT_TRUE(c.TimeReadout(0)->isVisibleTo(&c));
  EXPECT_FALSE(c.TimeReadout(1)->isVisibleTo(&c));
  EXPECT_FALSE(c.PositionSlider(0)->isVisibleTo(&c));
  EXPECT_FALSE(c.VolumeSlider(0)->isVisibleTo(&c));

  w.Doc().m_Source[2] = Source(22, SOURCE_CAT_FILE);
  pq::SendAppMessage(&c, pq::WM_APP_CONTROLLER_UPDATE, 3, 0);
  QApplication::processEvents();
  for (int ch = 0; ch < 3; ++ch) {
    EXPECT_TRUE(c.TimeReadout(ch)->isVisibleTo(&c)) << ch;
    EXPECT_TRUE(c.PositionSlider(ch)->isVisibleTo(&c)) << ch;
    EXPECT_TRUE(c.MuteBox(ch)->isVisibleTo(&c)) << ch;
  }
  EXPECT_FALSE(c.TimeReadout(3)->isVisibleTo(&c));
  // By function: every readout above every position slider.
  c.adjustSize();
  QApplication::processEvents();
  EXPECT_LT(c.TimeReadout(2)->y(), c.PositionSlider(0)->y());

  pq::TCmdUI ui(ZarnCommands::ID_CONTROLLER_GROUP_BY_CHANNEL);
  ASSERT_TRUE(c.OnCmdMsg(ZarnCommands::ID_CONTROLLER_GROUP_BY_CHANNEL, pq::TCmdCode::Command, nullptr));
  EXPECT_EQ(c.LayoutMode(), LAYOUT_BY_CHANNEL);
  ASSERT_TRUE(c.OnCmdMsg(ZarnCommands::ID_CONTROLLER_GROUP_BY_CHANNEL, pq::TCmdCode::Update, &ui));
  EXPECT_EQ(ui.Check(), 1);
  pq::TCmdUI other(ZarnCommands::ID_CONTROLLER_GROUP_BY_FUNCTION);
  ASSERT_TRUE(c.OnCmdMsg(ZarnCommands::ID_CONTROLLER_GROUP_BY_FUNCTION, pq::TCmdCode::Update, &other));
  EXPECT_EQ(other.Check(), 0);
  c.adjustSize();
  QApplication::processEvents();
  // By channel: channel 1's volume row comes before channel 2's readout.
  EXPECT_LT(c.VolumeSlider(0)->y(), c.TimeReadout(1)->y());
  EXPECT_GT(c.PositionSlider(0)->y(), c.TimeReadout(0)->y());
}

TEST(ControllerPane, CounterUpdatesShowTheEnginesShownFramesAndTheirTime) {
  TDocumentWindow w;
  CZarnControllerView& c = Controller(w);
  w.Doc().ch_nDecoderVideoOutPeriod = 33;
  const std::int32_t counters[4] = {299, 18181, 7, 42};
  for (int ch = 0; ch < 4; ++ch) w.Doc().m_Engine.m_Channel[ch].nShownFrame.store(counters[ch]);
  pq::SendAppMessage(&c, pq::WM_APP_CONTROLLER_UPDATE, 1, 0);
  EXPECT_EQ(Text(c.FrameReadout(0)), "299 ");
  EXPECT_EQ(Text(c.FrameReadout(1)), "18181 ");
  EXPECT_EQ(Text(c.FrameReadout(2)), "7 ");
  EXPECT_EQ(Text(c.FrameReadout(3)), "42 ");
  // Every channel times its readout by its counter: (counter + 1) x 33 ms.
  EXPECT_EQ(Text(c.TimeReadout(0)), "0000:09 ");
  EXPECT_EQ(Text(c.TimeReadout(1)), "0010:00 ");
  EXPECT_EQ(Text(c.TimeReadout(2)), "0000:00 ");
  EXPECT_EQ(Text(c.TimeReadout(3)), "0000:01 ");
}

TEST(ControllerPane, UpdatesBeforeTheInitialUpdateAreIgnoredAndRequestsAreMerged) {
  auto doc = std::make_unique<ZarnDoc::CZarnDoc>();
  CZarnControllerView c(doc.get());
  doc->m_Engine.m_Channel[0].nShownFrame.store(5);
  pq::SendAppMessage(&c, pq::WM_APP_CONTROLLER_UPDATE, 1, 0);
  EXPECT_EQ(Text(c.FrameReadout(0)), "000000000");

  c.OnInitialUpdate();
  int delivered = 0;
  auto* counter = new pq::TMessageMap(&c);
  counter->OnEvent(pq::WM_APP_CONTROLLER_UPDATE, [&](pq::TAppMessageEvent&) { ++delivered; });
  // Three requests before the pane runs: one message.
  c.RequestUpdate(1);
  c.RequestUpdate(1);
  c.RequestUpdate(1);
  QApplication::processEvents();
  EXPECT_EQ(delivered, 1);
}

TEST(ControllerPane, ChannelSliderMessageResetsAndSwitchesTheSlider) {
  TDocumentWindow w;
  CZarnControllerView& c = Controller(w);
  QSlider* s = c.PositionSlider(1);
  struct TStep {
    pq::LPARAM state;
    bool enabledAfter;
  };
  const TStep steps[] = {{1, true}, {3, true}, {0, false}, {3, false}, {1, true}};
  for (const TStep& step : steps) {
    s->setValue(40);
    pq::SendAppMessage(&c, pq::WM_APP_CHANNEL_SLIDER, 1, step.state);
    EXPECT_EQ(s->value(), 0) << step.state;
    EXPECT_EQ(s->isEnabled(), step.enabledAfter) << step.state;
  }
  c.PositionSlider(0)->setValue(30);
  pq::SendAppMessage(&c, pq::WM_APP_CHANNEL_SLIDER, 4, 1);  // no such channel
  EXPECT_EQ(c.PositionSlider(0)->value(), 30);
}

// What an AVI open keeps of the file: frame period and duration in seconds.
void KeepAviTiming(ZarnDoc::CZarnDoc& doc, int channel, double period, double duration) {
  std::int32_t block[14] = {};
  const double values[2] = {period, duration};
  std::memcpy(block, values, sizeof values);
  ASSERT_TRUE(doc.m_Format[channel].SetParams(ST_AVI, block, sizeof block));
}

TEST(ControllerPane, TimeTickMovesAStreamingChannelsSliderToTheShownFrameUnlessItIsDragged) {
  TDocumentWindow w;
  CZarnControllerView& c = Controller(w);
  w.Doc().m_Source[0] = Source(ST_AVI, SOURCE_CAT_FILE);
  w.Doc().m_Source[1] = Source(ST_AVI, SOURCE_CAT_FILE);  // open, but not streaming
  KeepAviTiming(w.Doc(), 0, 0.04, 0.0);  // 25 frames a second; the duration comes from the reader
  w.Doc().m_Engine.m_Channel[0].bChannelStreaming.store(true);
  w.Doc().m_Engine.m_Channel[0].nShownFrame.store(30);  // 1.2 s into the file
  int asked = 0;
  c.SetPositionQuery([&](int channel, TChannelClock& clock) {
    ++asked;
    EXPECT_EQ(channel, 0);
    // The reader has decoded up to 2.5 s, ahead of the picture.
    clock.position = 25'000'000;
    clock.duration = 30'000'000;
    clock.positionMs = 2500;
    return true;
  });
  pq::SendAppMessage(&c, pq::WM_APP_TIME_TICK, 0, 0);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(c.PositionSlider(0)->value(), 40);
  EXPECT_EQ(Text(c.TimeReadout(0)), "00:00:01 ");
  EXPECT_EQ(Text(c.FrameReadout(0)), "30 ");
  EXPECT_EQ(c.PositionSlider(1)->value(), 0);

  // While the user drags, the tick leaves the slider alone; the release
  // stores the seek in the channel's reader (the source record names no
  // file, so nothing is re-opened).
  ReadStream::CReadStream& reader = w.Doc().ChannelReader(0);
  reader.m_bSeekRequest.store(false);
  c.PositionSlider(0)->setEnabled(true);
  c.PositionSlider(0)->setSliderDown(true);
  c.PositionSlider(0)->setSliderPosition(70);
  pq::SendAppMessage(&c, pq::WM_APP_TIME_TICK, 0, 0);
  pq::SendAppMessage(&c, pq::WM_APP_CONTROLLER_UPDATE, 1, 0);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(c.PositionSlider(0)->value(), 70);
  EXPECT_FALSE(reader.m_bSeekRequest.load());  // no seek before the release
  c.PositionSlider(0)->setSliderDown(false);
  EXPECT_EQ(reader.m_nSeekNumerator.load(), 70);
  EXPECT_EQ(reader.m_nSeekDenominator.load(), 100);
  // The picture reaches the target: the next counter update follows it.
  w.Doc().m_Engine.m_Channel[0].nShownFrame.store(52);
  pq::SendAppMessage(&c, pq::WM_APP_CONTROLLER_UPDATE, 1, 0);
  EXPECT_EQ(c.PositionSlider(0)->value(), 69);
  EXPECT_EQ(Text(c.TimeReadout(0)), "00:00:02 ");
  EXPECT_EQ(Text(c.FrameReadout(0)), "52 ");
}

// With nothing playing a seek to the very end is refused (the picture does
// not change): the slider goes back to where the picture is, whether the
// file told its frame period or not.
TEST(ControllerPane, ARefusedSeekToTheEndPutsTheSliderBackWhereThePictureIs) {
  for (const bool timed : {true, false}) {
    TDocumentWindow w;
    CZarnControllerView& c = Controller(w);
    w.Doc().m_Source[0] = Source(ST_AVI, SOURCE_CAT_FILE);
    if (timed) KeepAviTiming(w.Doc(), 0, 0.04, 4.0);  // 100 frames
    w.Doc().m_Engine.m_Channel[0].nShownFrame.store(25);
    QSlider* s = c.PositionSlider(0);
    s->setEnabled(true);
    if (!timed) s->setValue(25);
    pq::SendAppMessage(&c, pq::WM_APP_CONTROLLER_UPDATE, 1, 0);
    ASSERT_EQ(s->value(), 25) << timed;
    ASSERT_FALSE(w.Doc().m_Engine.IsRunning());
    s->setSliderDown(true);
    s->setSliderPosition(s->maximum());
    s->setSliderDown(false);
    EXPECT_EQ(s->value(), 25) << timed;
    EXPECT_EQ(w.Doc().m_Engine.m_Channel[0].nShownFrame.load(), 25) << timed;
  }
}

TEST(ControllerPane, AtTheEndOfAClipTheReadoutsAndTheSliderStayAtTheLastFrameShown) {
  TDocumentWindow w;
  CZarnControllerView& c = Controller(w);
  ZarnDoc::CZarnDoc& doc = w.Doc();
  doc.m_Source[0] = Source(ST_AVI, SOURCE_CAT_FILE);
  doc.m_Source[1] = Source(ST_PNG, SOURCE_CAT_FILE);
  KeepAviTiming(doc, 0, 0.04, 3.0);  // 75 frames
  doc.m_Engine.m_Channel[0].nShownFrame.store(74);
  doc.m_Engine.m_Channel[1].nShownFrame.store(74);
  c.PositionSlider(1)->setValue(30);
  // The reader ends while the cached frames are still shown (slider
  // message), then the session ends (full refresh).
  pq::SendAppMessage(&c, pq::WM_APP_CHANNEL_SLIDER, 0, 3);
  EXPECT_EQ(c.PositionSlider(0)->value(), 99);  // 2.96 s of 3 s
  pq::SendAppMessage(&c, pq::WM_APP_CHANNEL_SLIDER, 1, 3);
  EXPECT_EQ(c.PositionSlider(1)->value(), 0);  // a still has no position
  pq::SendAppMessage(&c, pq::WM_APP_CONTROLLER_UPDATE, 3, 0);
  EXPECT_EQ(c.PositionSlider(0)->value(), 99);  // 2.96 s of 3 s
  EXPECT_EQ(Text(c.FrameReadout(0)), "74 ");
  EXPECT_EQ(Text(c.TimeReadout(0)), "00:00:02 ");
  EXPECT_TRUE(c.PositionSlider(0)->isEnabled());

  // A file whose open did not tell its frame period (an MP4) is placed by
  // its reader's position on the tick, and stays there when it ends.
  doc.m_Source[2] = Source(8, SOURCE_CAT_FILE);
  doc.m_Engine.m_Channel[2].bChannelStreaming.store(true);
  doc.m_Engine.m_Channel[2].nShownFrame.store(71);
  c.SetPositionQuery([](int channel, TChannelClock& clock) {
    if (channel != 2) return false;
    clock.position = 29'000'000;
    clock.duration = 30'000'000;
    clock.positionMs = 2900;
    return true;
  });
  pq::SendAppMessage(&c, pq::WM_APP_TIME_TICK, 0, 0);
  EXPECT_EQ(c.PositionSlider(2)->value(), 96);
  EXPECT_EQ(Text(c.TimeReadout(2)), "00:00:02 ");
  doc.m_Engine.m_Channel[2].bChannelStreaming.store(false);
  doc.m_Engine.m_Channel[2].nShownFrame.store(74);
  pq::SendAppMessage(&c, pq::WM_APP_CHANNEL_SLIDER, 2, 3);
  pq::SendAppMessage(&c, pq::WM_APP_CONTROLLER_UPDATE, 1, 0);
  pq::SendAppMessage(&c, pq::WM_APP_CONTROLLER_UPDATE, 3, 0);
  EXPECT_EQ(c.PositionSlider(2)->value(), 96);
  EXPECT_EQ(Text(c.TimeReadout(2)), "00:00:02 ");
  EXPECT_EQ(Text(c.FrameReadout(2)), "74 ");

  // A file opened afresh starts at its first frame, whatever was learnt of
  // the previous one.
  doc.m_Format[0].Reset();
  doc.m_Engine.m_Channel[0].nShownFrame.store(0);
  c.ForgetChannelPlace(0);
  pq::SendAppMessage(&c, pq::WM_APP_CONTROLLER_UPDATE, 3, 0);
  EXPECT_EQ(c.PositionSlider(0)->value(), 0);
  EXPECT_EQ(Text(c.FrameReadout(0)), "0 ");
  EXPECT_EQ(Text(c.TimeReadout(0)), "00:00:00 ");
}

TEST(ControllerPane, ADvdKeepsItsReadoutsOutsideTitlePlay) {
  TDocumentWindow w;
  CZarnControllerView& c = Controller(w);
  w.Doc().m_Source[0] = Source(2, SOURCE_CAT_DEVICE, 6);
  w.Doc().m_Engine.m_Channel[0].bChannelStreaming.store(true);
  bool titlePlay = true;
  c.SetPositionQuery([&](int, TChannelClock& clock) {
    clock.duration = 100;
    clock.position = 10;
    clock.titlePlay = titlePlay;
    clock.title = 2;
    clock.chapter = 11;
    clock.hours = 0;
    clock.minutes = 4;
    clock.seconds = 33;
    return true;
  });
  pq::SendAppMessage(&c, pq::WM_APP_TIME_TICK, 0, 0);
  EXPECT_EQ(Text(c.FrameReadout(0)), "T02-C11 ");
  EXPECT_EQ(Text(c.TimeReadout(0)), "00:04:33 ");
  titlePlay = false;
  c.FrameReadout(0)->setText("kept");
  pq::SendAppMessage(&c, pq::WM_APP_TIME_TICK, 0, 0);
  EXPECT_EQ(Text(c.FrameReadout(0)), "kept");
}

TEST(ControllerPane, MediaControlsFollowTheSourceAndCaptureButtonsTheirReceivers) {
  TDocumentWindow w;
  CZarnControllerView& c = Controller(w);
  // What a full refresh enables, by source: position slider, volume slider
  // and mute box.
  struct TCase {
    TMediaSource source;
    bool position, sound;
    const char* what;
  };
  const TCase cases[] = {
      {Source(9, SOURCE_CAT_FILE), true, true, "video file"},
      {Source(4, SOURCE_CAT_FILE), true, true, "MPEG-1 file"},
      {Source(19, SOURCE_CAT_HTTP), false, true, "sound from a web server"},
      {Source(43, SOURCE_CAT_FILE), false, false, "still"},
      {Source(2, SOURCE_CAT_DEVICE, 6), true, true, "DVD"},
      {Source(2, SOURCE_CAT_DEVICE, 4), false, false, "webcam"},
      {Source(9, SOURCE_CAT_FILE, 0, false), false, false, "closed"},
  };
  for (const TCase& k : cases) {
    w.Doc().m_Source[1] = k.source;
    c.PositionSlider(1)->setValue(60);
    pq::SendAppMessage(&c, pq::WM_APP_CONTROLLER_UPDATE, 3, 0);
    EXPECT_EQ(c.PositionSlider(1)->isEnabled(), k.position) << k.what;
    EXPECT_EQ(c.PositionSlider(1)->value(), 0) << k.what;
    EXPECT_EQ(c.VolumeSlider(1)->isEnabled(), k.sound) << k.what;
    EXPECT_EQ(c.MuteBox(1)->isEnabled(), k.sound) << k.what;
    EXPECT_FALSE(c.PositionSlider(0)->isEnabled()) << k.what;  // channel 1 has no source
  }

  // The mute box switches the reader's sound: ticked is off.
  w.Doc().m_Source[1] = Source(9, SOURCE_CAT_FILE);
  pq::SendAppMessage(&c, pq::WM_APP_CONTROLLER_UPDATE, 3, 0);
  c.MuteBox(1)->click();
  EXPECT_FALSE(w.Doc().ChannelReader(1).IsSoundOn());
  c.MuteBox(1)->click();
  EXPECT_TRUE(w.Doc().ChannelReader(1).IsSoundOn());
  // The volume slider: while it moves and when it is let go.
  c.VolumeSlider(1)->setSliderDown(true);
  c.VolumeSlider(1)->setSliderPosition(30);
  EXPECT_EQ(w.Doc().ChannelReader(1).GetVolumeLevel(), 30);
  c.VolumeSlider(1)->setSliderPosition(45);
  c.VolumeSlider(1)->setSliderDown(false);
  EXPECT_EQ(w.Doc().ChannelReader(1).GetVolumeLevel(), 45);
  EXPECT_EQ(w.Doc().ChannelReader(1).GetVolumeScale(), 100);

  // "Get" and "Save" wait for their receivers (a pane of its own: the
  // document's pane has the document's).
  auto bare = std::make_unique<ZarnDoc::CZarnDoc>();
  CZarnControllerView lone(bare.get());
  lone.OnInitialUpdate();
  std::vector<int> captures, saves;
  for (int id : {IDC_GET_1, IDC_GET_2, IDC_SAVE_3, IDC_SAVE_4})
    EXPECT_FALSE(lone.Control(id)->isEnabled()) << id;
  QObject::connect(&lone, &CZarnControllerView::CaptureRequested, [&](int ch) { captures.push_back(ch); });
  QObject::connect(&lone, &CZarnControllerView::SaveReferenceRequested, [&](int ch) { saves.push_back(ch); });
  for (int id : {IDC_GET_1, IDC_GET_2, IDC_SAVE_3, IDC_SAVE_4}) {
    auto* b = qobject_cast<QPushButton*>(lone.Control(id));
    ASSERT_TRUE(b->isEnabled()) << id;
    b->click();
  }
  EXPECT_EQ(captures, (std::vector<int>{0, 1}));
  EXPECT_EQ(saves, (std::vector<int>{2, 3}));
}

TEST(ControllerPane, TheInfoLineShowsTheEnginesStatusText) {
  TDocumentWindow w;
  CZarnControllerView& c = Controller(w);
  EXPECT_EQ(Text(c.InfoLine()), "Info");
  // A replay step of the decoder layer without any layer frame is a fault
  // of the engine: its text reaches the info line through the engine's own
  // update notice, with no message sent by hand.
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope(&sink);
  ASSERT_FALSE(w.Doc().m_Engine.StepLayerFrame(true, 0));
  ASSERT_EQ(sink.Texts(), (std::vector<std::string>{"Video data were not processed"}));
  EXPECT_TRUE(doc_test::RunUntil([&] { return Text(c.InfoLine()) == "Video data were not processed"; }))
      << Text(c.InfoLine());
  // The engine clears its status; the line says "Info" again.
  w.Doc().m_Engine.SetStatusText({});
  EXPECT_TRUE(doc_test::RunUntil([&] { return Text(c.InfoLine()) == "Info"; })) << Text(c.InfoLine());
}

TEST(ControllerPane, DevicePagesReadTheReadersWorkModeAndHaveTheirWritesAcknowledged) {
  TDocumentWindow w;
  CZarnControllerView& c = Controller(w);
  ReadStream::TReaderSource source;
  source.nDeviceCategory = 2;
  w.Doc().ChannelReader(1).SetDescription(source);
  w.Doc().ChannelReader(1).DeviceSettings().nCaptureWorkMode = 6;
  for (UINT message : {pq::WM_APP_OPTS_DVCAM, pq::WM_APP_OPTS_WEBCAM, pq::WM_APP_OPTS_TVTUNER}) {
    TDeviceModeExchange read;
    read.op = 1;
    read.channel = 1;
    pq::SendAppRecord(&c, message, 0, read);
    EXPECT_EQ(read.answered, 1) << message;
    EXPECT_EQ(read.deviceCategory, 2) << message;
    EXPECT_EQ(read.workMode, 6) << message;

    TDeviceModeExchange write;
    write.op = 2;
    write.channel = 1;
    write.workMode = 2;
    pq::SendAppRecord(&c, message, 0, write);
    EXPECT_EQ(write.answered, 1) << message;
    EXPECT_EQ(w.Doc().ChannelReader(1).DeviceSettings().nCaptureWorkMode, 6) << message;

    for (auto [op, channel] : {std::pair{4, 1}, std::pair{1, 4}, std::pair{1, -1}}) {
      TDeviceModeExchange other;
      other.op = op;
      other.channel = channel;
      pq::SendAppRecord(&c, message, 0, other);
      EXPECT_EQ(other.answered, 0) << message << " op " << op << " channel " << channel;
    }
  }
}
