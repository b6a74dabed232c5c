// The playing commands of a media document, driven through their command
// ids on a document with generated raw YUV in its channels.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "document/command_ids.h"
#include "document/zarn_controller_view.h"
#include "options/channel_selector.h"
#include "options/opts_reference_frames.h"
#include "options/zarn_options.h"
#include "shell/icons.h"
#include "shell/main_frame.h"
#include "shell/message_box_dlg.h"
#include "yuv_clip_fixture.h"

using namespace ZarnTypes;
using namespace clip_test;
using doc_test::RunUntil;
namespace pq = platform::qt;
namespace fs = std::filesystem;

namespace {

// The frame number a channel's port shows, or -1.
int PortFrame(const ZarnDoc::CZarnDoc& doc, int channel) {
  const VideoPort::TPicture picture = doc.m_VideoPortHub.Port(channel).FrontBitmap();
  if (!picture || picture->Width() != kWidth || picture->Height() != kHeight || picture->BitCount() != 32)
    return -1;
  int k = 0;
  for (int stripe = 0; stripe < 8; ++stripe) {
    const int level = picture->RowFromTop(kHeight / 2)[4 * (stripe * 8 + 3) + 1];
    if (level > 200)
      k |= 1 << stripe;
    else if (level > 40)
      return -1;
  }
  return k;
}

// Answers the skip prompts of a walk from a queue, recording their texts.
class TPromptAnswers {
 public:
  struct TAnswer {
    int button;
    bool remember = false;
  };
  explicit TPromptAnswers(std::initializer_list<TAnswer> answers) : m_answers(answers) {
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      auto* box = qobject_cast<MessageBoxDlg::CMessageBoxDlg*>(QApplication::activeModalWidget());
      if (!box) return;
      texts.push_back(box->Message().toStdString());
      captions.push_back(box->Caption().toStdString());
      const TAnswer answer = m_answers.empty() ? TAnswer{MessageBoxDlg::IDCANCEL} : m_answers.front();
      if (!m_answers.empty()) m_answers.pop_front();
      if (answer.remember && box->CheckBox()) box->CheckBox()->setChecked(true);
      box->Button(answer.button)->click();
    });
    m_timer.start(5);
  }
  std::vector<std::string> texts, captions;

 private:
  std::deque<TAnswer> m_answers;
  QTimer m_timer;
};

class PlayTest : public TClipDocumentTest<open_test::TSettingsApplication> {
 protected:
  // Sets which channels play, replay or walk through the Channel Selector's exchange.
  void Select(std::int32_t mode, std::initializer_list<int> channels) {
    TNavigateExchange block;
    block.header.op = OPTS_XCHG_WRITE;
    block.mode = mode;
    for (int ch : channels) {
      std::uint8_t* bytes = &block.channel[ch].navigate;
      const int byte = mode == NAVIGATE_MODE_SOURCE_LIST ? 0
                       : mode == NAVIGATE_MODE_PLAY      ? 1
                       : mode == NAVIGATE_MODE_REPLAY    ? 2
                                                         : 4;
      bytes[byte] = 1;
    }
    pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_OPTS_NAVIGATE, 0, block);
    ASSERT_EQ(block.header.answered, 1);
  }
  std::string Readout(int channel) {
    return doc.ControllerView()->FrameReadout(channel)->text().toStdString();
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// Update rules

TEST_F(PlayTest, UpdateRulesFollowTheEngineState) {
  for (int ch = 0; ch < 4; ++ch) ASSERT_TRUE(Open(ch, Clip(ClipName(ch), 250))) << ch;
  Select(NAVIGATE_MODE_PLAY, {0, 1, 2, 3});
  Select(NAVIGATE_MODE_SOURCE_LIST, {0});

  // Expected enable state: stopped, playing, paused.
  struct TRule {
    UINT id;
    bool stopped, playing, paused;
  };
  const TRule rules[] = {
      {shell::ID_NAVIGATE_FIRST, true, false, false},
      {shell::ID_NAVIGATE_LAST, true, false, false},
      {shell::ID_NAVIGATE_NEXT, true, false, false},
      {shell::ID_NAVIGATE_PREVIOUS, true, false, false},
      {shell::ID_NAVIGATE_SOURCE_LIST, true, false, false},
      {shell::ID_NAVIGATE_START, true, false, true},
      {shell::ID_NAVIGATE_START_PAUSE, true, true, true},
      {shell::ID_NAVIGATE_PAUSE, true, true, true},
      {shell::ID_NAVIGATE_STOP, false, true, true},
      {shell::ID_NAVIGATE_ENABLE_PLAYING, true, false, false},
      {shell::ID_REPLAY_FIRST, false, false, true},
      {shell::ID_REPLAY_LAST, false, false, true},
      {shell::ID_REPLAY_NEXT, false, false, true},
      {shell::ID_REPLAY_PREVIOUS, false, false, true},
      {shell::ID_REPLAY_FORTH, false, false, true},
      {shell::ID_REPLAY_BACK, false, false, true},
      {shell::ID_REPLAY_PAUSE, false, false, true},
      {shell::ID_REPLAY_REVERSE, false, false, true},
      {shell::ID_REPLAY_ENABLE, false, false, true},
      {shell::ID_TOOLS_STATUS, true, true, true},
  };
  std::map<UINT, bool> stopped, playing, paused;
  for (const TRule& r : rules) stopped[r.id] = Enabled(r.id);

  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(doc.m_Engine.IsRunning());
  for (const TRule& r : rules) playing[r.id] = Enabled(r.id);

  Run(shell::ID_NAVIGATE_START_PAUSE);  // pause
  ASSERT_TRUE(doc.m_Engine.IsPaused());
  for (const TRule& r : rules) paused[r.id] = Enabled(r.id);

  Run(shell::ID_NAVIGATE_STOP);
  ASSERT_TRUE(RunUntil([this] { return !doc.m_Engine.IsRunning(); }));
  for (const TRule& r : rules) {
    EXPECT_EQ(stopped[r.id], r.stopped) << "stopped, command " << r.id;
    EXPECT_EQ(playing[r.id], r.playing) << "playing, command " << r.id;
    EXPECT_EQ(paused[r.id], r.paused) << "paused, command " << r.id;
  }
  EXPECT_FALSE(Enabled(shell::ID_NAVIGATE_STOP));
}

TEST_F(PlayTest, UpdateRulesFollowTheSourceCategories) {
  struct TCase {
    const char* what;
    std::int32_t category0, category1;  // -1: no source
    bool navigate0;
    bool walk, sourceList, startPause, enablePlaying;
  };
  const TCase cases[] = {
      {"no source", -1, -1, true, false, false, false, false},
      {"file in the walking primary", SOURCE_CAT_FILE, -1, true, true, true, true, true},
      {"file in a primary that does not walk", SOURCE_CAT_FILE, -1, false, false, true, true, true},
      {"file in the assistant only", -1, SOURCE_CAT_FILE, true, false, true, true, false},
      {"device in the primary", SOURCE_CAT_DEVICE, -1, true, false, false, true, true},
      {"URL in the primary", SOURCE_CAT_HTTP, -1, true, false, false, true, true},
      {"clipboard in the primary", SOURCE_CAT_CLIPBOARD, -1, true, false, false, true, true},
  };
  for (const TCase& c : cases) {
    const std::int32_t categories[2] = {c.category0, c.category1};
    for (int ch = 0; ch < 2; ++ch) {
      doc.m_Source[ch].Reset();
      if (categories[ch] < 0) continue;
      doc.m_Source[ch].bOpen = TRUE_;
      doc.m_Source[ch].bLoaded = TRUE_;
      doc.m_Source[ch].eState = SOURCE_STATE_LOADED;
      doc.m_Source[ch].eSourceCategory = static_cast<TSourceCategory>(categories[ch]);
    }
    doc.CountOpenChannels();  // as after every open
    doc.m_bNavigate[0] = c.navigate0;
    EXPECT_EQ(Enabled(shell::ID_NAVIGATE_NEXT), c.walk) << c.what;
    EXPECT_EQ(Enabled(shell::ID_NAVIGATE_SOURCE_LIST), c.sourceList) << c.what;
    EXPECT_EQ(Enabled(shell::ID_NAVIGATE_START_PAUSE), c.startPause) << c.what;
    EXPECT_EQ(Enabled(shell::ID_NAVIGATE_ENABLE_PLAYING), c.enablePlaying) << c.what;
  }
}

// The toolbar buttons that show channel selections follow the document's
// flags whenever their commands are updated.
TEST(PlayToolbars, TheSelectionButtonsShowTheDocumentsFlags) {
  shell::TShellState state;
  shell::TProgCfg cfg;
  pq::CCmdTarget target;
  auto frame = std::make_unique<MainFrame::CMainFrame>(state, cfg, &target);
  ASSERT_TRUE(frame->LoadFrame());
  frame->show();
  QApplication::processEvents();
  QPointer<ChildFrameSplitter::CChildFrameSplitter> child =
      static_cast<ChildFrameSplitter::CChildFrameSplitter*>(
          ChildFrameSplitter::CreateMediaDocumentFrame(nullptr));
  frame->AddChildFrame(child);
  QApplication::processEvents();
  ZarnDoc::CZarnDoc& doc = *child->MediaDocument();
  ASSERT_NE(doc.GoToolBar(), nullptr);

  const auto shown = [&](UINT id) {
    pq::TCmdUI ui(id);
    EXPECT_TRUE(doc.OnCmdMsg(id, pq::TCmdCode::Update, &ui)) << id;
    return frame->Router()->Action(id)->icon().pixmap(24).toImage();
  };
  const auto image = [](UINT id) { return shell::CommandIcon(id, 24).pixmap(24).toImage(); };
  const bool navigate[4] = {true, false, false, true}, play[4] = {false, true, true, false},
             replay[4] = {true, true, false, false};
  for (int ch = 0; ch < 4; ++ch) {
    doc.m_bNavigate[ch] = navigate[ch];
    doc.m_bPlayEnable[ch] = play[ch];
    doc.m_bReplayEnable[ch] = replay[ch];
    doc.m_bReverseReplay[ch] = false;
  }
  EXPECT_EQ(shown(shell::ID_NAVIGATE_SOURCE_LIST), image(shell::ChannelSetImage(true, false, false, true)));
  EXPECT_EQ(shown(shell::ID_NAVIGATE_ENABLE_PLAYING),
            image(shell::ChannelSetImage(false, true, true, false)));
  EXPECT_EQ(shown(shell::ID_REPLAY_ENABLE), image(shell::ChannelSetImage(true, true, false, false)));

  // The reverse button follows the assistant channel only.
  doc.m_bReverseReplay[1] = true;
  EXPECT_EQ(shown(shell::ID_REPLAY_REVERSE), image(shell::ID_REPLAY_REVERSE_ON_IMAGE));
  doc.m_bReverseReplay[0] = true;
  doc.m_bReverseReplay[1] = false;
  EXPECT_EQ(shown(shell::ID_REPLAY_REVERSE), image(shell::ID_REPLAY_REVERSE_OFF_IMAGE));

  delete child.data();
  frame.reset();
  shell::SetMainWindow(nullptr);
}

// ---------------------------------------------------------------------------
// Playing and replaying

TEST_F(PlayTest, TheControllerCountsThePlayedFramesOfEveryChannel) {
  constexpr int kFrames = 20;
  doc.ch_nDecoderVideoOutPeriod = 5;
  doc.m_bVideoInfo[0] = 1;  // "Enable frame index and time info"
  for (int ch = 0; ch < 4; ++ch) ASSERT_TRUE(Open(ch, Clip(ClipName(ch), kFrames))) << ch;
  Select(NAVIGATE_MODE_PLAY, {0, 1, 2, 3});
  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(RunUntil([this] { return !doc.m_Engine.IsRunning(); }));
  QApplication::processEvents();
  // The last frame shown is number N - 1: the readout counts from 0.
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(Readout(ch), std::to_string(kFrames - 1) + " ") << ch;
    EXPECT_EQ(PortFrame(doc, ch), kFrames - 1) << ch;
  }
  // (19 + 1) x 5 ms is 0 whole seconds.
  EXPECT_EQ(doc.ControllerView()->TimeReadout(0)->text().toStdString(), "0000:00 ");
}

TEST_F(PlayTest, TheFrameCounterFollowsThePictureWithoutTheFrameInfoSwitch) {
  constexpr int kFrames = 40;
  doc.ch_nDecoderVideoOutPeriod = 5;
  doc.m_bVideoInfo[0] = 0;
  ASSERT_TRUE(Open(0, Clip("c0.yuv", kFrames)));
  EXPECT_EQ(Readout(0), "0 ");
  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(RunUntil([this] { return PortFrame(doc, 0) >= 8; }));
  Run(shell::ID_NAVIGATE_START_PAUSE);  // pause
  ASSERT_TRUE(RunUntil([this] { return doc.m_Engine.IsPaused(); }));
  // Once the pause has settled, the readout shows the frame on screen.
  ASSERT_TRUE(RunUntil([this] {
    const int shown = PortFrame(doc, 0);
    return shown >= 8 && Readout(0) == std::to_string(shown) + " ";
  })) << "shown "
      << PortFrame(doc, 0) << ", readout " << Readout(0);
  Run(shell::ID_REPLAY_PREVIOUS);
  ASSERT_TRUE(RunUntil([this] { return doc.m_Engine.ReplayRequestsDone(); }));
  ASSERT_TRUE(RunUntil([this] { return Readout(0) == std::to_string(PortFrame(doc, 0)) + " "; }))
      << "shown " << PortFrame(doc, 0) << ", readout " << Readout(0);
  Run(shell::ID_NAVIGATE_START_PAUSE);  // play to the end
  ASSERT_TRUE(RunUntil([this] { return !doc.m_Engine.IsRunning(); }));
  QApplication::processEvents();
  EXPECT_EQ(PortFrame(doc, 0), kFrames - 1);
  EXPECT_EQ(Readout(0), std::to_string(kFrames - 1) + " ");
}

TEST_F(PlayTest, ReplayCommandsMoveThePortsPictureWhilePaused) {
  const auto ReplayState = [this] {
    const auto& c = doc.m_Engine.m_Channel[0];
    return "shown " + std::to_string(PortFrame(doc, 0)) + ", target slot " +
           std::to_string(c.nReplayTarget.load()) + ", cached slots " +
           std::to_string(c.nFirstCached.load()) + ".." + std::to_string(c.nLastCached.load()) +
           ", frames read " + std::to_string(c.nFrameCount.load()) + ", step pending " +
           std::to_string(doc.m_Engine.m_bStepNext.load()) + ", paused " +
           std::to_string(doc.m_Engine.IsPaused());
  };
  doc.ch_nDecoderVideoOutPeriod = 5;
  doc.m_bVideoInfo[0] = 1;
  ASSERT_TRUE(Open(0, Clip("c0.yuv", 200)));
  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(RunUntil([this] { return PortFrame(doc, 0) >= 12; }));

  // While playing, a replay command does nothing.
  Run(shell::ID_REPLAY_NEXT);
  EXPECT_FALSE(doc.m_Engine.m_bStepNext.load());

  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(doc.m_Engine.IsPaused());
  ASSERT_TRUE(RunUntil([this] { return PortFrame(doc, 0) >= 0; }));
  Run(shell::ID_REPLAY_FIRST);
  ASSERT_TRUE(RunUntil([this] { return doc.m_Engine.ReplayRequestsDone(); }));
  const int first = PortFrame(doc, 0);
  EXPECT_EQ(first, 0);
  Run(shell::ID_REPLAY_NEXT);
  ASSERT_TRUE(RunUntil([&] { return PortFrame(doc, 0) == first + 1; }));
  Run(shell::ID_REPLAY_NEXT);
  ASSERT_TRUE(RunUntil([&] { return PortFrame(doc, 0) == first + 2; })) << ReplayState();
  Run(shell::ID_REPLAY_PREVIOUS);
  ASSERT_TRUE(RunUntil([&] { return PortFrame(doc, 0) == first + 1; }));
  QApplication::processEvents();
  EXPECT_EQ(Readout(0), std::to_string(first + 1) + " ");

  // Continuous replay stays on until another replay command; Pause replay
  // clears every request.
  Run(shell::ID_REPLAY_FORTH);
  EXPECT_TRUE(doc.m_Engine.m_bReplayForth.load());
  Run(shell::ID_REPLAY_BACK);
  EXPECT_FALSE(doc.m_Engine.m_bReplayForth.load());
  EXPECT_TRUE(doc.m_Engine.m_bReplayBack.load());
  Run(shell::ID_REPLAY_PAUSE);
  for (const std::atomic<bool>* flag :
       {&doc.m_Engine.m_bStepNext, &doc.m_Engine.m_bStepPrevious, &doc.m_Engine.m_bReplayForth,
        &doc.m_Engine.m_bReplayBack, &doc.m_Engine.m_bGoFirst, &doc.m_Engine.m_bGoLast})
    EXPECT_FALSE(flag->load());

  Run(shell::ID_REPLAY_LAST);
  ASSERT_TRUE(RunUntil([this] { return doc.m_Engine.ReplayRequestsDone(); }));
  EXPECT_GE(PortFrame(doc, 0), 12);
}

TEST_F(PlayTest, ReverseReplayTogglesOnlyTheAssistant) {
  ASSERT_TRUE(Open(0, Clip("c0.yuv", 10)));
  Run(shell::ID_REPLAY_REVERSE);
  EXPECT_FALSE(doc.m_bReverseReplay[0]);
  EXPECT_TRUE(doc.m_bReverseReplay[1]);
  EXPECT_TRUE(doc.m_Engine.m_Channel[1].bReverseReplay.load());
  EXPECT_FALSE(doc.m_bReverseReplay[2]);
  Run(shell::ID_REPLAY_REVERSE);
  EXPECT_FALSE(doc.m_bReverseReplay[1]);
  EXPECT_FALSE(doc.m_Engine.m_Channel[1].bReverseReplay.load());
}

TEST_F(PlayTest, ReverseReplayIsOfferedWhilePausedWithAPrimaryOrAnAssistantSource) {
  struct TCase {
    int channel;  // the one channel that holds a clip and plays
    bool reverse, enableReplay;
  };
  const TCase cases[] = {{0, true, true}, {1, true, false}, {2, false, false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.channel);
    ASSERT_TRUE(Open(c.channel, Clip(ClipName(c.channel), 400)));
    Select(NAVIGATE_MODE_PLAY, {c.channel});
    EXPECT_FALSE(Enabled(shell::ID_REPLAY_REVERSE));  // stopped
    Run(shell::ID_NAVIGATE_START_PAUSE);
    ASSERT_TRUE(doc.m_Engine.IsRunning());
    EXPECT_FALSE(Enabled(shell::ID_REPLAY_REVERSE));  // playing, not paused
    Run(shell::ID_NAVIGATE_START_PAUSE);
    ASSERT_TRUE(doc.m_Engine.IsPaused());
    EXPECT_EQ(Enabled(shell::ID_REPLAY_REVERSE), c.reverse);
    EXPECT_EQ(Enabled(shell::ID_REPLAY_ENABLE), c.enableReplay);
    Run(shell::ID_NAVIGATE_STOP);
    ASSERT_TRUE(RunUntil([this] { return !doc.m_Engine.IsRunning(); }));
    doc.CloseChannel(c.channel);
    doc.CountOpenChannels();
  }
}

TEST_F(PlayTest, NothingOpensIntoADocumentWhilePlaying) {
  ASSERT_TRUE(Open(0, Clip("c0.yuv", 400)));
  const fs::path other = Clip("other.yuv", 3);
  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(doc.m_Engine.IsRunning());
  const VideoPort::TPicture before = doc.m_VideoPortHub.Port(1).FrontBitmap();
  EXPECT_FALSE(Open(1, other));
  EXPECT_FALSE(doc.m_Source[1].bOpen);
  EXPECT_EQ(doc.m_VideoPortHub.Port(1).FrontBitmap(), before);
  EXPECT_EQ(doc.m_nOpenCount, 1);
  // Nor into the playing channel itself.
  EXPECT_FALSE(Open(0, other));
  EXPECT_EQ(fs::path(doc.m_Source[0].sPath).filename(), "c0.yuv");

  // "Open File To" says why and asks for no file.
  int asked = 0;
  ZarnDoc::CZarnDoc::SetOpenFilePrompt([&](QWidget*) {
    ++asked;
    return other.string();
  });
  Run(shell::ID_FILE_OPEN_TO);
  ZarnDoc::CZarnDoc::SetOpenFilePrompt({});
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(sink.Texts(),
            (std::vector<std::string>{"Stop currently played stream(s) before opening a new stream."}));
  EXPECT_FALSE(doc.m_Source[1].bOpen);
  EXPECT_TRUE(doc.m_Engine.IsRunning());
}

TEST_F(PlayTest, ReferenceFramesLimitWhatPlays) {
  doc.ch_nDecoderVideoOutPeriod = 5;
  doc.m_bVideoInfo[0] = 1;
  ASSERT_TRUE(Open(0, Clip("c0.yuv", 60)));
  TReferenceFramesExchange block;
  block.header.op = OPTS_XCHG_WRITE;
  block.startFrame[0] = 5;
  block.stopFrame[0] = 10;
  block.startFrame[2] = 7;
  pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_OPTS_REFERENCE_FRAMES, 0, block);
  ASSERT_EQ(block.header.answered, 1);

  TReferenceFramesExchange read;
  read.header.op = OPTS_XCHG_READ;
  pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_OPTS_REFERENCE_FRAMES, 0, read);
  ASSERT_EQ(read.header.answered, 1);
  EXPECT_EQ((std::vector<std::int32_t>(read.startFrame, read.startFrame + 4)),
            (std::vector<std::int32_t>{5, 0, 7, 0}));
  EXPECT_EQ((std::vector<std::int32_t>(read.stopFrame, read.stopFrame + 4)),
            (std::vector<std::int32_t>{10, 0, 0, 0}));

  // Frames before the first are not shown; the channel holds at its limit.
  std::vector<int> shown;
  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(RunUntil([&] {
    const int k = PortFrame(doc, 0);
    if (k >= 0 && (shown.empty() || shown.back() != k)) shown.push_back(k);
    return k == 9;
  }));
  for (int k = 0; k < 20; ++k) RunUntil([] { return false; }, 1);
  EXPECT_EQ(PortFrame(doc, 0), 9);
  // The open showed frame 0; playing showed nothing before frame 5.
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown.front(), 0);
  for (std::size_t i = 1; i < shown.size(); ++i) {
    EXPECT_GE(shown[i], 5) << i;
    EXPECT_LE(shown[i], 9) << i;
  }
  Run(shell::ID_NAVIGATE_STOP);
  ASSERT_TRUE(RunUntil([this] { return !doc.m_Engine.IsRunning(); }));
}

// ---------------------------------------------------------------------------
// Settings exchanges

TEST_F(PlayTest, ChannelSelectorModesChangeExactlyTheirFlags) {
  struct TCase {
    std::int32_t mode;
    bool navigate, play, replay, dvd;  // which of the four selections the mode writes
  };
  const TCase cases[] = {
      {30, true, true, true, true},    {31, true, false, false, false}, {32, false, true, false, false},
      {33, false, false, true, false}, {38, false, false, false, true},
  };
  for (const TCase& c : cases) {
    for (int ch = 0; ch < 4; ++ch) {
      doc.m_bNavigate[ch] = doc.m_bPlayEnable[ch] = doc.m_bReplayEnable[ch] = doc.m_bDvdNavigate[ch] = false;
    }
    // A read fills only the mode's bytes.
    TNavigateExchange read;
    read.header.op = OPTS_XCHG_READ;
    read.mode = c.mode;
    for (TNavigateChannel& r : read.channel) r = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_OPTS_NAVIGATE, 0, read);
    ASSERT_EQ(read.header.answered, 1) << c.mode;
    EXPECT_EQ(read.channel[2].navigate, c.navigate ? 0 : 0xEE) << c.mode;
    EXPECT_EQ(read.channel[2].play, c.play ? 0 : 0xEE) << c.mode;
    EXPECT_EQ(read.channel[2].replay, c.replay ? 0 : 0xEE) << c.mode;
    EXPECT_EQ(read.channel[2].spare, 0xEE) << c.mode;
    EXPECT_EQ(read.channel[2].dvdNavigate, c.dvd ? 0 : 0xEE) << c.mode;

    // A write with every byte set changes only the mode's flags.
    TNavigateExchange write;
    write.header.op = OPTS_XCHG_WRITE;
    write.mode = c.mode;
    for (TNavigateChannel& r : write.channel) r = {1, 1, 1, 1, 1};
    pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_OPTS_NAVIGATE, 0, write);
    ASSERT_EQ(write.header.answered, 1) << c.mode;
    for (int ch = 0; ch < 4; ++ch) {
      EXPECT_EQ(doc.m_bNavigate[ch], c.navigate) << c.mode;
      EXPECT_EQ(doc.m_bPlayEnable[ch], c.play) << c.mode;
      EXPECT_EQ(doc.m_bReplayEnable[ch], c.replay) << c.mode;
      EXPECT_EQ(doc.m_bDvdNavigate[ch], c.dvd) << c.mode;
      EXPECT_EQ(doc.m_Engine.m_Channel[ch].bReplayEnable.load(), c.replay) << c.mode;
    }
  }
  // Another mode or operation is not answered and changes nothing.
  for (std::int32_t mode : {34, 35, 36, 37, 0}) {
    TNavigateExchange write;
    write.header.op = OPTS_XCHG_WRITE;
    write.mode = mode;
    pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_OPTS_NAVIGATE, 0, write);
    EXPECT_EQ(write.header.answered, 0) << mode;
    EXPECT_TRUE(doc.m_bDvdNavigate[3]) << mode;
  }
  TNavigateExchange action;
  action.header.op = OPTS_XCHG_APPLY;
  action.mode = 30;
  pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_OPTS_NAVIGATE, 0, action);
  EXPECT_EQ(action.header.answered, 0);
}

// Each command opens the Channel Selector in its own mode over the
// controller pane; the dialog shows the document's flags of that mode, and
// OK takes the boxes back into them.
TEST_F(PlayTest, EachSelectorCommandShowsAndSetsItsOwnSelection) {
  // The selections: navigate, play, replay, DVD navigation.
  enum TSelection { NAVIGATE, PLAY, REPLAY, DVD };
  const auto selection = [this](TSelection which) {
    std::vector<bool> flags;
    for (int ch = 0; ch < 4; ++ch)
      flags.push_back(which == NAVIGATE ? doc.m_bNavigate[ch]
                      : which == PLAY   ? static_cast<bool>(doc.m_bPlayEnable[ch])
                      : which == REPLAY ? static_cast<bool>(doc.m_bReplayEnable[ch])
                                        : doc.m_bDvdNavigate[ch]);
    return flags;
  };
  struct TCase {
    UINT id;
    std::int32_t mode;
    const char* caption;
    TSelection flags;
  };
  const TCase cases[] = {
      {shell::ID_TOOLS_STATUS, 30, "Media document status", NAVIGATE},
      {shell::ID_NAVIGATE_SOURCE_LIST, 31, "Navigate media source list", NAVIGATE},
      {shell::ID_NAVIGATE_ENABLE_PLAYING, 32, "Play media stream", PLAY},
      {shell::ID_REPLAY_ENABLE, 33, "Replay video from the cache buffer", REPLAY},
      {shell::ID_DVD_ENABLE_NAVIGATION, 38, "Navigate DVD media source", DVD},
  };
  for (const TCase& c : cases) {
    // Only channel 3 is chosen in every selection; the dialog moves the
    // choice of its first row to channel 2.
    for (int ch = 0; ch < 4; ++ch)
      doc.m_bNavigate[ch] = doc.m_bPlayEnable[ch] = doc.m_bReplayEnable[ch] = doc.m_bDvdNavigate[ch] =
          ch == 2;
    std::int32_t mode = 0;
    std::string caption;
    std::vector<bool> shown;
    QWidget* parent = nullptr;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<OptsNavigate::COptsNavigate*>(QApplication::activeModalWidget());
      if (!dialog || mode != 0) return;
      mode = dialog->Mode();
      caption = dialog->windowTitle().toStdString();
      parent = dialog->parentWidget();
      for (int ch = 0; ch < 4; ++ch) shown.push_back(dialog->Box(0, ch)->isChecked());
      dialog->Box(0, 1)->click();
      if (c.mode != 38) dialog->Box(0, 2)->click();
      dialog->accept();
    });
    timer.start(5);
    Run(c.id);
    timer.stop();
    EXPECT_EQ(mode, c.mode) << c.id;
    EXPECT_EQ(caption, c.caption) << c.id;
    EXPECT_EQ(parent, doc.ControllerView()) << c.id;
    EXPECT_EQ(shown, (std::vector<bool>{false, false, true, false})) << c.id;
    EXPECT_EQ(selection(c.flags), (std::vector<bool>{false, true, false, false})) << c.id;
  }
}

TEST_F(PlayTest, SetReferenceFramesOpensTheirSheetOverTheControllerPane) {
  TReferenceFramesExchange block;
  block.header.op = OPTS_XCHG_WRITE;
  block.startFrame[0] = 3;
  block.stopFrame[0] = 8;
  block.startFrame[1] = 4;
  block.stopFrame[1] = 9;
  pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_OPTS_REFERENCE_FRAMES, 0, block);
  ASSERT_EQ(block.header.answered, 1);

  std::int32_t category = 0, look = -1;
  QObject* owner = nullptr;
  std::vector<std::string> edits;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    auto* sheet = qobject_cast<ZarnOptions::CZarnOptions*>(QApplication::activeModalWidget());
    if (!sheet || category != 0) return;
    category = sheet->Category();
    look = sheet->Look();
    owner = sheet->OwnerWindow();
    if (auto* page = dynamic_cast<OptsReferenceFrames::COptsReferenceFrames*>(sheet->ActivePage())) {
      for (int id : {OptsReferenceFrames::IDC_PRIMARY_START, OptsReferenceFrames::IDC_PRIMARY_STOP,
                     OptsReferenceFrames::IDC_ASSISTANT_START, OptsReferenceFrames::IDC_ASSISTANT_STOP})
        edits.push_back(page->Edit(id)->text().toStdString());
      page->Edit(OptsReferenceFrames::IDC_ASSISTANT_STOP)->setText("12");
    }
    sheet->AcceptSheet();
  });
  timer.start(5);
  Run(shell::ID_SET_REFERENCE_FRAMES);
  timer.stop();
  EXPECT_EQ(category, OPTCAT_REFERENCE_FRAMES);
  EXPECT_EQ(look, ZarnOptions::PropSheetLook_Tabs);
  EXPECT_EQ(owner, doc.ControllerView());
  EXPECT_EQ(edits, (std::vector<std::string>{"3", "8", "4", "9"}));
  EXPECT_EQ(doc.ChannelReader(1).GetFrameLimit(), 12);
  EXPECT_EQ(doc.ChannelReader(0).GetFrameLimit(), 8);
}

TEST_F(PlayTest, VideoSettingsAreReadAlwaysAndWrittenOnlyWhileStopped) {
  TVideoExchange read;
  read.header.op = OPTS_XCHG_READ;
  read.frameRate = 77;
  pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_OPTS_VIDEO, 0, read);
  ASSERT_EQ(read.header.answered, 1);
  EXPECT_EQ(read.frameRate, 77);  // the page's own
  EXPECT_EQ(read.period, 33);
  EXPECT_EQ(read.syncMode, 1);
  EXPECT_EQ(read.frameInfo, 0);
  EXPECT_EQ(read.fileNameInfo, 0);

  TVideoExchange write;
  write.header.op = OPTS_XCHG_WRITE;
  write.frameRate = 25;
  write.period = 40;
  write.syncMode = 2;
  write.frameInfo = 1;
  pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_OPTS_VIDEO, 0, write);
  ASSERT_EQ(write.header.answered, 1);
  EXPECT_EQ(doc.ch_nDecoderVideoOutPeriod, 40);
  EXPECT_EQ(doc.m_nSyncMode, 2);
  EXPECT_EQ(doc.m_bVideoInfo[0], 1);

  // A period the pacing could not divide by keeps the old one.
  write.header.answered = 0;
  write.period = 0;
  pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_OPTS_VIDEO, 0, write);
  EXPECT_EQ(doc.ch_nDecoderVideoOutPeriod, 40);

  ASSERT_TRUE(Open(0, Clip("c0.yuv", 400)));
  Run(shell::ID_NAVIGATE_START_PAUSE);
  ASSERT_TRUE(doc.m_Engine.IsRunning());
  write.header.answered = 0;
  write.period = 20;
  pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_OPTS_VIDEO, 0, write);
  EXPECT_EQ(write.header.answered, 0);
  EXPECT_EQ(doc.ch_nDecoderVideoOutPeriod, 40);
  read.header.answered = 0;
  pq::SendAppRecord(doc.ControllerView(), pq::WM_APP_OPTS_VIDEO, 0, read);
  EXPECT_EQ(read.header.answered, 1);
}

// ---------------------------------------------------------------------------
// Walking the media-source list

class WalkTest : public PlayTest {
 protected:
  // A folder of raw YUV clips and unreadable stills, in listing order.
  fs::path Folder(const std::vector<std::string>& names) {
    const fs::path folder = dir / "list";
    fs::create_directories(folder);
    for (const std::string& name : names) {
      if (fs::path(name).extension() == ".yuv") {
        WriteClip(folder / name, 2);
      } else {
        std::ofstream(folder / name) << "not a picture";
      }
    }
    return folder;
  }
  std::string Channel(int ch) { return fs::path(doc.m_Source[ch].sPath).filename().string(); }
};

TEST_F(WalkTest, NextGoesRoundTheFolderAndASingleFileStays) {
  const fs::path folder = Folder({"a.yuv", "b.yuv", "c.yuv"});
  ASSERT_TRUE(Open(0, folder / "b.yuv"));
  Run(shell::ID_NAVIGATE_NEXT);
  EXPECT_EQ(Channel(0), "c.yuv");
  Run(shell::ID_NAVIGATE_NEXT);
  EXPECT_EQ(Channel(0), "a.yuv");
  Run(shell::ID_NAVIGATE_PREVIOUS);
  EXPECT_EQ(Channel(0), "c.yuv");
  Run(shell::ID_NAVIGATE_FIRST);
  EXPECT_EQ(Channel(0), "a.yuv");
  Run(shell::ID_NAVIGATE_LAST);
  EXPECT_EQ(Channel(0), "c.yuv");

  const fs::path single = dir / "single";
  fs::create_directories(single);
  WriteClip(single / "only.yuv", 2);
  ASSERT_TRUE(Open(0, single / "only.yuv"));
  Run(shell::ID_NAVIGATE_NEXT);
  EXPECT_EQ(Channel(0), "only.yuv");
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(WalkTest, AFileThatCannotBeOpenedAsksToSkipIt) {
  const fs::path folder = Folder({"a.yuv", "b.png", "c.yuv"});
  ASSERT_TRUE(Open(0, folder / "a.yuv"));
  {
    TPromptAnswers answers({TPromptAnswers::TAnswer{MessageBoxDlg::IDSKIP}});
    Run(shell::ID_NAVIGATE_NEXT);
    ASSERT_EQ(answers.texts.size(), 1u);
    EXPECT_EQ(answers.texts[0], "Can not open file\n\n" + (folder / "b.png").string() +
                                    "\n\nSkip inaccessible file(s) and continue a search?");
    EXPECT_EQ(answers.captions[0], "Media source list");
  }
  EXPECT_EQ(Channel(0), "c.yuv");
  EXPECT_EQ(app.cfg.optionFlags, 0u);

  // Cancel ends the walk where it was.
  Run(shell::ID_NAVIGATE_FIRST);
  ASSERT_EQ(Channel(0), "a.yuv");
  {
    TPromptAnswers answers({TPromptAnswers::TAnswer{MessageBoxDlg::IDCANCEL}});
    EXPECT_FALSE(doc.NavigateSourceList(4));
    EXPECT_EQ(answers.texts.size(), 1u);
  }
  EXPECT_EQ(Channel(0), "a.yuv");
}

TEST_F(WalkTest, AWalkEndsByUpdatingTheExplorerAndACancelledOneDoesNot) {
  doc_test::TRecordingMainWindow main;
  const fs::path folder = Folder({"a.yuv", "b.png", "c.yuv"});
  ASSERT_TRUE(Open(0, folder / "a.yuv"));
  const std::pair<int, int> update{pq::FRAME_NOTIFY_EXPLORER, pq::FRAME_REQ_EXPLORER_UPDATE_DOC};
  main.notices.clear();
  {
    TPromptAnswers answers({TPromptAnswers::TAnswer{MessageBoxDlg::IDSKIP}});
    Run(shell::ID_NAVIGATE_NEXT);
  }
  ASSERT_EQ(Channel(0), "c.yuv");
  ASSERT_FALSE(main.notices.empty());
  EXPECT_EQ(main.notices.back(), update);

  Run(shell::ID_NAVIGATE_FIRST);
  ASSERT_EQ(Channel(0), "a.yuv");
  main.notices.clear();
  {
    TPromptAnswers answers({TPromptAnswers::TAnswer{MessageBoxDlg::IDCANCEL}});
    Run(shell::ID_NAVIGATE_NEXT);
  }
  EXPECT_EQ(std::count(main.notices.begin(), main.notices.end(), update), 0);
}

TEST_F(WalkTest, SkipAllAsksOnceAndFirstMovesOnToTheNextReadableFile) {
  const fs::path folder = Folder({"a.png", "b.png", "c.yuv", "d.yuv"});
  ASSERT_TRUE(Open(0, folder / "d.yuv"));
  {
    TPromptAnswers answers({TPromptAnswers::TAnswer{MessageBoxDlg::IDSKIPALL}});
    Run(shell::ID_NAVIGATE_FIRST);
    EXPECT_EQ(answers.texts.size(), 1u);
  }
  EXPECT_EQ(Channel(0), "c.yuv");
  EXPECT_EQ(app.cfg.optionFlags, 0u);
}

TEST_F(WalkTest, LastWithAnUnreadableLastFileMovesBackToTheLastReadableOne) {
  const fs::path folder = Folder({"a.yuv", "b.yuv", "c.yuv", "d.png"});
  ASSERT_TRUE(Open(0, folder / "a.yuv"));
  {
    TPromptAnswers answers({TPromptAnswers::TAnswer{MessageBoxDlg::IDSKIP}});
    Run(shell::ID_NAVIGATE_LAST);
    ASSERT_EQ(answers.texts.size(), 1u);
    EXPECT_NE(answers.texts[0].find((folder / "d.png").string()), std::string::npos);
  }
  EXPECT_EQ(Channel(0), "c.yuv");
}

TEST_F(WalkTest, NamesThatDifferOnlyInCaseAreDifferentFiles) {
  const fs::path folder = Folder({"A.yuv", "a.yuv"});
  ASSERT_TRUE(Open(0, folder / "A.yuv"));
  Run(shell::ID_NAVIGATE_NEXT);
  EXPECT_EQ(Channel(0), "a.yuv");
  Run(shell::ID_NAVIGATE_NEXT);
  EXPECT_EQ(Channel(0), "A.yuv");
}

TEST_F(WalkTest, RememberedSkipsAreStoredAndThenSkipWithoutAsking) {
  const fs::path folder = Folder({"a.yuv", "b.png", "c.png", "d.yuv"});
  ASSERT_TRUE(Open(0, folder / "a.yuv"));
  {
    TPromptAnswers answers({TPromptAnswers::TAnswer{MessageBoxDlg::IDSKIP, true}});
    Run(shell::ID_NAVIGATE_NEXT);
    EXPECT_EQ(answers.texts.size(), 1u);
  }
  EXPECT_EQ(Channel(0), "d.yuv");
  EXPECT_EQ(app.cfg.optionFlags & 1u, 1u);
  {
    TPromptAnswers answers{};
    Run(shell::ID_NAVIGATE_PREVIOUS);
    EXPECT_TRUE(answers.texts.empty());
  }
  EXPECT_EQ(Channel(0), "a.yuv");
}

TEST_F(WalkTest, AFolderWhoseFilesAllFailEndsTheWalk) {
  const fs::path folder = Folder({"a.yuv", "b.png", "c.png"});
  ASSERT_TRUE(Open(0, folder / "a.yuv"));
  fs::remove(folder / "a.yuv");

  // Asked about each file: b.png and c.png once each. A walk that went round
  // again would ask on; the answers run out after six and cancel it.
  {
    TPromptAnswers answers(
        {TPromptAnswers::TAnswer{MessageBoxDlg::IDSKIP}, TPromptAnswers::TAnswer{MessageBoxDlg::IDSKIP},
         TPromptAnswers::TAnswer{MessageBoxDlg::IDSKIP}, TPromptAnswers::TAnswer{MessageBoxDlg::IDSKIP},
         TPromptAnswers::TAnswer{MessageBoxDlg::IDSKIP}, TPromptAnswers::TAnswer{MessageBoxDlg::IDSKIP}});
    EXPECT_TRUE(doc.NavigateSourceList(4));
    EXPECT_EQ(answers.texts.size(), 2u);
  }
  EXPECT_EQ(Channel(0), "a.yuv");

  // Skipped without asking there is nothing to count: a walk still going
  // after five seconds finds b.png readable and ends there, which a walk that
  // ended by itself never sees.
  app.cfg.optionFlags = 1;
  const fs::path readable = dir / "readable.png";
  ASSERT_TRUE(
      open_test::ToImage(open_test::Pattern(4, 4)).save(QString::fromStdString(readable.string()), "PNG"));
  std::mutex mutex;
  std::condition_variable ended;
  bool walking = true;
  std::thread rescue([&] {
    std::unique_lock lock(mutex);
    if (!ended.wait_for(lock, std::chrono::seconds(5), [&] { return !walking; })) {
      std::error_code ec;
      fs::rename(readable, folder / "b.png", ec);
    }
  });
  TPromptAnswers none{};
  const bool walked = doc.NavigateSourceList(4);
  {
    std::lock_guard lock(mutex);
    walking = false;
  }
  ended.notify_all();
  rescue.join();
  EXPECT_TRUE(walked);
  EXPECT_TRUE(none.texts.empty());
  EXPECT_EQ(Channel(0), "a.yuv") << "the walk went round the folder until a file became readable";
}

TEST_F(WalkTest, OnlyWalkingFileChannelsMove) {
  const fs::path folder = Folder({"a.yuv", "b.yuv"});
  for (int ch = 0; ch < 3; ++ch) ASSERT_TRUE(Open(ch, folder / "a.yuv"));
  Select(NAVIGATE_MODE_SOURCE_LIST, {0, 1, 2});
  doc.m_Source[2].eSourceCategory = SOURCE_CAT_DEVICE;  // as a device would be
  Run(shell::ID_NAVIGATE_NEXT);
  EXPECT_EQ(Channel(0), "b.yuv");
  EXPECT_EQ(Channel(1), "b.yuv");
  EXPECT_EQ(Channel(2), "a.yuv");
  Select(NAVIGATE_MODE_SOURCE_LIST, {1});
  Run(shell::ID_NAVIGATE_NEXT);
  EXPECT_EQ(Channel(0), "b.yuv");
  EXPECT_EQ(Channel(1), "a.yuv");
}
