// The media document's playing commands: walking each channel's folder of
// media files, choosing the channels that walk, play and replay (the Channel
// Selector), starting, pausing and stopping the engine and stepping through
// the cached frames while paused; and the settings exchanges of the Channel
// Selector, the reference-frames page and the video page.
//
// The commands only set the engine's requests and call its start, pause and
// stop; the engine's threads carry them out.

#include <QApplication>
#include <QWidget>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "document/child_frame.h"
#include "document/command_ids.h"
#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document/zarn_view.h"
#include "options/channel_selector.h"
#include "options/zarn_options.h"
#include "platform/message_sink.h"
#include "shell/application.h"
#include "shell/message_box_dlg.h"

namespace ZarnDoc {

namespace pq = platform::qt;
using namespace ZarnCommands;
using namespace ZarnTypes;

namespace {

// The answers of the skip prompt that go on with the walk.
constexpr int kAnswerSkip = 16;
constexpr int kAnswerSkipAll = 17;
// The prompt: the remember box, the hand icon and Skip / Skip all / Cancel.
constexpr std::uint32_t kSkipPromptStyle = 0x01000018;

// Bit 0 of the application's option flag word: skip files of the media
// source list that cannot be opened without asking.
constexpr std::uint32_t kSkipUnreadableFlag = 0x1;

// The replay requests of the commands; each command writes all six of the
// engine's request flags, with at most one of them set.
enum TReplayRequest : int {
  REPLAY_NONE,
  REPLAY_STEP_NEXT,
  REPLAY_STEP_PREVIOUS,
  REPLAY_FORTH,
  REPLAY_BACK,
  REPLAY_GO_FIRST,
  REPLAY_GO_LAST,
};

void WriteReplayRequest(Zarn::CZarn& engine, TReplayRequest request) {
  std::atomic<bool>* const flags[] = {&engine.m_bStepNext,   &engine.m_bStepPrevious, &engine.m_bReplayForth,
                                      &engine.m_bReplayBack, &engine.m_bGoFirst,      &engine.m_bGoLast};
  // The flag that is set is written last, so the pacing thread never sees
  // two requests at once.
  for (int i = 0; i < 6; ++i)
    if (i + 1 != request) flags[i]->store(false);
  if (request != REPLAY_NONE) flags[request - 1]->store(true);
}

bool IsMediaFile(const TMediaSource& source) { return source.eSourceCategory == SOURCE_CAT_FILE; }

// The byte of a channel in the toolbars' channel-set record.
template <typename TFlags>
void FillChannelButtons(shell::TChannelButtonState& state, int byte, const TFlags& flags) {
  for (int ch = 0; ch < 4; ++ch) state.channel[ch][byte] = flags[ch] ? 1 : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Commands

void CZarnDoc::RegisterPlayCommands() {
  // Walking the media-source list.
  const std::pair<UINT, std::int32_t> walks[] = {
      {shell::ID_NAVIGATE_FIRST, ReadStream::SIBLING_FIRST},
      {shell::ID_NAVIGATE_LAST, ReadStream::SIBLING_LAST},
      {shell::ID_NAVIGATE_NEXT, ReadStream::SIBLING_NEXT},
      {shell::ID_NAVIGATE_PREVIOUS, ReadStream::SIBLING_PREVIOUS},
  };
  for (const auto& [id, direction] : walks) {
    m_Commands.OnCommand(id, [this, direction = direction] { NavigateSourceList(direction); });
    m_Commands.OnUpdate(id, [this](pq::TCmdUI& ui) {
      bool any = false;
      for (int ch = 0; ch < kChannelCount; ++ch)
        any = any || (m_Source[ch].bOpen && IsMediaFile(m_Source[ch]) && m_bNavigate[ch]);
      ui.Enable(!m_Engine.IsRunning() && any);
    });
  }

  m_Commands.OnCommand(shell::ID_NAVIGATE_SOURCE_LIST,
                       [this] { RunChannelSelector(NAVIGATE_MODE_SOURCE_LIST); });
  m_Commands.OnUpdate(shell::ID_NAVIGATE_SOURCE_LIST, [this](pq::TCmdUI& ui) {
    if (ToolBarNavigate::CToolBarNavigate* bar = NavigateToolBar()) {
      shell::TChannelButtonState state;
      FillChannelButtons(state, shell::CBS_SOURCE_LIST, m_bNavigate);
      bar->UpdateSourceListButton(&state);
    }
    bool any = false;
    for (int ch = 0; ch < kChannelCount; ++ch) any = any || IsMediaFile(m_Source[ch]);
    ui.Enable(!m_Engine.IsRunning() && any);
  });

  // Start, pause and stop.
  m_Commands.OnCommand(shell::ID_NAVIGATE_START, [this] { m_Engine.StartPlaying(); });
  m_Commands.OnUpdate(shell::ID_NAVIGATE_START,
                      [this](pq::TCmdUI& ui) { ui.Enable(!(m_Engine.IsRunning() && !m_Engine.IsPaused())); });
  for (UINT id : {shell::ID_NAVIGATE_START_PAUSE, shell::ID_NAVIGATE_PAUSE}) {
    m_Commands.OnCommand(id, [this] {
      if (!m_Engine.IsRunning() || m_Engine.IsPaused())
        m_Engine.StartPlaying();
      else
        m_Engine.PausePlaying();
    });
    m_Commands.OnUpdate(id, [this](pq::TCmdUI& ui) {
      if (ToolBarGo::CToolBarGo* bar = GoToolBar())
        bar->UpdatePlayButton(m_Engine.IsRunning(), m_Engine.IsPaused());
      // Something to play: a channel holds a source (counted after every
      // open and close).
      ui.Enable(m_nOpenCount > 0);
    });
  }
  m_Commands.OnCommand(shell::ID_NAVIGATE_STOP, [this] { m_Engine.StopPlaying(); });
  m_Commands.OnUpdate(shell::ID_NAVIGATE_STOP, [this](pq::TCmdUI& ui) { ui.Enable(m_Engine.IsRunning()); });

  m_Commands.OnCommand(shell::ID_NAVIGATE_ENABLE_PLAYING, [this] { RunChannelSelector(NAVIGATE_MODE_PLAY); });
  m_Commands.OnUpdate(shell::ID_NAVIGATE_ENABLE_PLAYING, [this](pq::TCmdUI& ui) {
    if (ToolBarGo::CToolBarGo* bar = GoToolBar()) {
      shell::TChannelButtonState state;
      FillChannelButtons(state, shell::CBS_PLAYING, m_bPlayEnable);
      bar->UpdateEnablePlayingButton(&state);
    }
    ui.Enable(m_Source[0].bOpen && !m_Engine.IsRunning());
  });

  // Replay from the cache while paused.
  const std::pair<UINT, TReplayRequest> replays[] = {
      {shell::ID_REPLAY_FIRST, REPLAY_GO_FIRST}, {shell::ID_REPLAY_LAST, REPLAY_GO_LAST},
      {shell::ID_REPLAY_NEXT, REPLAY_STEP_NEXT}, {shell::ID_REPLAY_PREVIOUS, REPLAY_STEP_PREVIOUS},
      {shell::ID_REPLAY_FORTH, REPLAY_FORTH},    {shell::ID_REPLAY_BACK, REPLAY_BACK},
      {shell::ID_REPLAY_PAUSE, REPLAY_NONE},
  };
  for (const auto& [id, request] : replays) {
    m_Commands.OnCommand(id, [this, request = request] {
      if (m_Engine.IsRunning() && m_Engine.IsPaused()) WriteReplayRequest(m_Engine, request);
    });
    m_Commands.OnUpdate(id,
                        [this](pq::TCmdUI& ui) { ui.Enable(m_Engine.IsRunning() && m_Engine.IsPaused()); });
  }

  // The assistant's direction; the pacing thread reads it while replaying.
  m_Commands.OnCommand(shell::ID_REPLAY_REVERSE, [this] { m_bReverseReplay[1] = !m_bReverseReplay[1]; });
  m_Commands.OnUpdate(shell::ID_REPLAY_REVERSE, [this](pq::TCmdUI& ui) {
    if (ToolBarReplay::CToolBarReplay* bar = ReplayToolBar()) {
      shell::TChannelButtonState state;
      state.channel[0][shell::CBS_REVERSE] = m_bReverseReplay[0] ? 1 : 0;
      state.channel[1][shell::CBS_REVERSE] = m_bReverseReplay[1] ? 1 : 0;
      bar->UpdateReverseButton(&state);
    }
    ui.Enable((m_Source[0].bOpen || m_Source[1].bOpen) && m_Engine.IsRunning() && m_Engine.IsPaused());
  });

  m_Commands.OnCommand(shell::ID_REPLAY_ENABLE, [this] { RunChannelSelector(NAVIGATE_MODE_REPLAY); });
  m_Commands.OnUpdate(shell::ID_REPLAY_ENABLE, [this](pq::TCmdUI& ui) {
    if (ToolBarReplay::CToolBarReplay* bar = ReplayToolBar()) {
      shell::TChannelButtonState state;
      FillChannelButtons(state, shell::CBS_REPLAY, m_bReplayEnable);
      bar->UpdateEnableReplayButton(&state);
    }
    ui.Enable(m_Source[0].bOpen && m_Engine.IsRunning() && m_Engine.IsPaused());
  });

  // "Status..." shows all four selections; the reference frames open their
  // own sheet.
  m_Commands.OnCommand(shell::ID_TOOLS_STATUS, [this] { RunChannelSelector(NAVIGATE_MODE_STATUS); });
  m_Commands.OnUpdate(shell::ID_TOOLS_STATUS, [](pq::TCmdUI& ui) { ui.Enable(true); });
  // The DVD toolbar's "Enable navigation..." chooses the DVD channel; its
  // update handler stands with the other toolbar buttons.
  m_Commands.OnCommand(shell::ID_DVD_ENABLE_NAVIGATION, [this] { RunChannelSelector(NAVIGATE_MODE_DVD); });
  m_Commands.OnCommand(shell::ID_SET_REFERENCE_FRAMES, [this] {
    ZarnOptions::CZarnOptions sheet("Options", m_pControllerView.data(), OPTCAT_REFERENCE_FRAMES,
                                    m_pControllerView.data());
    TModalScope modal(this);
    sheet.DoModal();
  });
  m_Commands.OnUpdate(shell::ID_SET_REFERENCE_FRAMES, [](pq::TCmdUI& ui) { ui.Enable(true); });
}

// ---------------------------------------------------------------------------
// The media-source list

bool CZarnDoc::NavigateSourceList(std::int32_t direction) {
  shell::IApplication* app = shell::TheApplication();
  bool skipAll = false;
  bool failedBefore = false;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const TMediaSource& source = m_Source[ch];
    if (!source.bLoaded || !m_bNavigate[ch] || !IsMediaFile(source)) continue;
    std::int32_t which = direction;
    // The walk starts at what is open in the channel (the reader's current
    // file may still name the last file a session or walk went through).
    std::string current = source.sPath;
    // Each failed file moves the search on. A search that comes back to a
    // file it already tried ends, so a folder of files that all fail (the
    // start file gone too) cannot keep it going round.
    std::set<std::string> tried{current};
    for (;;) {
      std::string found;
      if (!m_pEngineLink->Reader(ch).FindSiblingFile(which, current, &found)) break;
      if (found.empty() || found == current || tried.count(found) != 0) break;
      tried.insert(found);
      TOpenSourceArgs args;
      args.path = found;
      args.channel = ch;
      if (OpenSourceInChannel(args)) {
        // The controller follows the file now open (a still has no
        // position, an AVI has one).
        if (m_pControllerView)
          pq::SendAppMessage(m_pControllerView.data(), pq::WM_APP_CONTROLLER_UPDATE, 3, 0);
        break;
      }

      if (!failedBefore && app && app->ProgCfg().optionFlags != 0) skipAll = true;
      failedBefore = true;
      if (!skipAll) {
        char text[4096];
        std::snprintf(text, sizeof text,
                      "Can not open file\n\n%s\n\nSkip inaccessible file(s) and continue a search?",
                      found.c_str());
        QWidget* parent = PaneView(0);
        if (!parent) parent = QApplication::activeModalWidget();
        if (!parent && app) parent = app->MainWindowWidget();
        MessageBoxDlg::CMessageBoxDlg box(parent, text, "Media source list", kSkipPromptStyle, 0);
        int answer = 0;
        {
          TModalScope modal(this);
          answer = box.DoModal();
        }
        if (answer != kAnswerSkip && answer != kAnswerSkipAll) return false;
        if (answer == kAnswerSkipAll) skipAll = true;
        if (box.m_bChecked) {
          skipAll = true;
          if (app) app->ProgCfg().optionFlags |= kSkipUnreadableFlag;
        }
      }
      // After a failure the search goes on from the failed file: First moves
      // forwards to the next readable file, Last backwards to the one before
      // (going forwards from the last file would come round to the first).
      if (which == ReadStream::SIBLING_FIRST) which = ReadStream::SIBLING_NEXT;
      if (which == ReadStream::SIBLING_LAST) which = ReadStream::SIBLING_PREVIOUS;
      current = found;
    }
  }
  NotifyExplorer(pq::FRAME_REQ_EXPLORER_UPDATE_DOC);
  return true;
}

// ---------------------------------------------------------------------------
// The Channel Selector

bool CZarnDoc::RunChannelSelector(std::int32_t mode) {
  OptsNavigate::COptsNavigate dialog(m_pControllerView.data());
  dialog.SetMode(mode);
  TModalScope modal(this);
  return dialog.exec() == QDialog::Accepted;
}

void CZarnDoc::ExchangeChannelSelection(TNavigateExchange& block) {
  const std::int32_t mode = block.mode;
  const bool navigate = mode == NAVIGATE_MODE_STATUS || mode == NAVIGATE_MODE_SOURCE_LIST;
  const bool play = mode == NAVIGATE_MODE_STATUS || mode == NAVIGATE_MODE_PLAY;
  const bool replay = mode == NAVIGATE_MODE_STATUS || mode == NAVIGATE_MODE_REPLAY;
  const bool dvd = mode == NAVIGATE_MODE_STATUS || mode == NAVIGATE_MODE_DVD;
  if (!navigate && !play && !replay && !dvd) return;
  const std::int32_t op = block.header.op;
  if (op != OPTS_XCHG_READ && op != OPTS_XCHG_WRITE) return;
  const bool read = op == OPTS_XCHG_READ;
  auto exchange = [read](auto&& flag, std::uint8_t& byte) {
    if (read)
      byte = flag ? 1 : 0;
    else
      flag = byte != 0;
  };
  for (int ch = 0; ch < kChannelCount; ++ch) {
    TNavigateChannel& c = block.channel[ch];
    if (navigate) exchange(m_bNavigate[ch], c.navigate);
    if (play) exchange(m_bPlayEnable[ch], c.play);
    if (replay) exchange(m_bReplayEnable[ch], c.replay);
    if (dvd) exchange(m_bDvdNavigate[ch], c.dvdNavigate);
  }
  block.header.answered = 1;
}

// ---------------------------------------------------------------------------
// Reference frames and video settings

void CZarnDoc::ExchangeReferenceFrames(TReferenceFramesExchange& block) {
  if (block.header.op == OPTS_XCHG_READ) {
    for (int ch = 0; ch < kChannelCount; ++ch) {
      block.startFrame[ch] = m_pEngineLink->Reader(ch).GetFirstFrame();
      block.stopFrame[ch] = m_pEngineLink->Reader(ch).GetFrameLimit();
    }
  } else if (block.header.op == OPTS_XCHG_WRITE) {
    for (int ch = 0; ch < kChannelCount; ++ch)
      m_pEngineLink->Reader(ch).SetFrameRange(block.startFrame[ch], block.stopFrame[ch]);
  } else {
    return;
  }
  block.header.answered = 1;
}

void CZarnDoc::ExchangeVideoSettings(TVideoExchange& block) {
  if (block.header.op == OPTS_XCHG_READ) {
    block.period = ch_nDecoderVideoOutPeriod;
    block.syncMode = m_nSyncMode;
    block.frameInfo = m_bVideoInfo[0];
    block.fileNameInfo = m_bVideoInfo[1];
  } else if (block.header.op == OPTS_XCHG_WRITE) {
    if (m_Engine.IsRunning()) return;
    // A period the pacing could not divide by is not taken.
    if (block.period > 0) ch_nDecoderVideoOutPeriod = block.period;
    m_nSyncMode = block.syncMode;
    m_bVideoInfo[0] = block.frameInfo != 0 ? 1 : 0;
    m_bVideoInfo[1] = block.fileNameInfo != 0 ? 1 : 0;
  } else {
    return;
  }
  block.header.answered = 1;
}

// ---------------------------------------------------------------------------
// What the controller pane shows and sets

std::int32_t CZarnDoc::ShownFrame(int channel) const {
  if (channel < 0 || channel >= kChannelCount) return 0;
  return m_Engine.m_Channel[channel].nShownFrame.load();
}

namespace {

// The frame period and the duration (seconds) a media-graph open keeps of
// an AVI, WMV or ASF file; 0 where the open kept none.
double KeptStreamValue(const TStreamFormat& format, int which) {
  if (format.eStreamType < ST_AVI || format.eStreamType > ST_ASF) return 0.0;
  double values[2] = {};
  std::memcpy(values, format.params, sizeof values);
  const double v = values[which];
  return std::isfinite(v) && v > 0.0 ? v : 0.0;
}

}  // namespace

double CZarnDoc::ChannelFramePeriodMs(int channel) const {
  if (channel < 0 || channel >= kChannelCount) return 0.0;
  const double kept = KeptStreamValue(m_Format[channel], 0) * 1000.0;
  if (kept > 0.0) return kept;
  // Files whose open keeps no period (MPEG, MP4, MOV, DV, FLV): the period
  // the engine learnt from the frames of the file played (0 until then).
  return static_cast<double>(m_Engine.m_Channel[channel].nFilePeriod.load()) / 10000.0;
}

double CZarnDoc::ChannelDurationMs(int channel) const {
  if (channel < 0 || channel >= kChannelCount) return 0.0;
  return KeptStreamValue(m_Format[channel], 1) * 1000.0;
}

bool CZarnDoc::ChannelStreaming(int channel) const {
  if (channel < 0 || channel >= kChannelCount) return false;
  return m_Engine.m_Channel[channel].bChannelStreaming.load();
}

void CZarnDoc::SetPlaySpeed(std::int32_t speed) { m_Engine.m_nSpeed.store(speed); }

ReadStream::CReadStream& CZarnDoc::ChannelReader(int channel) { return m_pEngineLink->Reader(channel); }

}  // namespace ZarnDoc
