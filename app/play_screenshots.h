#pragma once
// Pictures of playing, for documentation and visual checks:
//
//   tovrin --screenshot-playing <file>
//       opens four generated raw YUV clips into the first document's
//       channels, shows the controller pane with all four video panes,
//       plays them, pauses after a few dozen frames and saves a PNG picture
//       of the main window;
//   tovrin --screenshot-playing-pip <file>
//       the same with two clips, the primary turned right by 90 degrees and
//       picture-in-picture on in the primary and the assistant pane (the
//       primary's inset shows channel 3, which has no picture);
//   tovrin --screenshot-channel-selector <file>
//       saves a PNG picture of the Channel Selector in its "Status..." mode.
//
// Both quit when the picture is saved (exit code 0, or 1 when it could not
// be made). Run them without a display with QT_QPA_PLATFORM=offscreen.
// Only main.cpp includes this file.

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/tovrin_app.h"
#include "document/child_frame.h"
#include "document/pane_messages.h"
#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "media/yuv_frame.h"
#include "options/channel_selector.h"
#include "platform/qt/app_messages.h"
#include "shell/command_ids.h"
#include "shell/main_frame.h"

namespace play_screenshots {

struct TRequest {
  std::string playing;     // --screenshot-playing <file>
  std::string playingPip;  // --screenshot-playing-pip <file>
  std::string selector;    // --screenshot-channel-selector <file>
  bool Any() const { return !playing.empty() || !playingPip.empty() || !selector.empty(); }
};

inline const char* Usage() {
  return "  --screenshot-playing <file>\n"
         "                         play four generated clips with the controller\n"
         "                         pane, save a PNG picture of the window and quit\n"
         "  --screenshot-playing-pip <file>\n"
         "                         the same with two clips, the primary turned right\n"
         "                         and picture-in-picture in the upper panes\n"
         "  --screenshot-channel-selector <file>\n"
         "                         save a PNG picture of the Channel Selector and quit\n";
}

// Takes the two options and their file arguments out of the argument list
// (before the command line is parsed, so the files are not opened).
inline TRequest TakeOptions(std::vector<std::string>& args) {
  TRequest request;
  std::vector<std::string> kept;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string* target = a == "--screenshot-playing"            ? &request.playing
                          : a == "--screenshot-playing-pip"      ? &request.playingPip
                          : a == "--screenshot-channel-selector" ? &request.selector
                                                                 : nullptr;
    if (target && i + 1 < args.size()) {
      *target = args[++i];
      continue;
    }
    kept.push_back(a);
  }
  args = std::move(kept);
  return request;
}

namespace detail {

constexpr int kWidth = 320;
constexpr int kHeight = 180;
constexpr int kFrames = 240;

// A moving colour pattern of its own per channel: 4:2:0 planar, BT.601.
inline bool WriteClip(const std::string& path, int channel) {
  std::ofstream out(path, std::ios::binary);
  const int chromaWidth = kWidth / 2, chromaHeight = kHeight / 2;
  std::vector<char> frame(static_cast<std::size_t>(kWidth * kHeight + 2 * chromaWidth * chromaHeight));
  for (int k = 0; k < kFrames && out; ++k) {
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const int band = ((x + 3 * k) / 40 + (y + k * (channel + 1)) / 30) % 2;
        frame[static_cast<std::size_t>(y * kWidth + x)] =
            static_cast<char>(band ? 200 - channel * 20 : 40 + x / 8);
      }
    char* cb = frame.data() + kWidth * kHeight;
    char* cr = cb + chromaWidth * chromaHeight;
    for (int y = 0; y < chromaHeight; ++y)
      for (int x = 0; x < chromaWidth; ++x) {
        cb[y * chromaWidth + x] =
            static_cast<char>(128 + ((channel % 2) ? 60 : -50) + (x - chromaWidth / 2) / 4);
        cr[y * chromaWidth + x] =
            static_cast<char>(128 + ((channel / 2) ? 60 : -40) + (y - chromaHeight / 2) / 3);
      }
    out.write(frame.data(), static_cast<std::streamsize>(frame.size()));
  }
  return static_cast<bool>(out);
}

inline ZarnDoc::CZarnDoc* FirstDocument(CTovrinApp& app) {
  MainFrame::CMainFrame* frame = app.MainFrameWindow();
  return frame ? dynamic_cast<ZarnDoc::CZarnDoc*>(frame->ActiveDocument()) : nullptr;
}

inline bool Save(const QImage& image, const std::string& file, const char* what) {
  if (!image.isNull() && image.save(QString::fromStdString(file), "PNG")) {
    std::fprintf(stdout, "Saved %dx%d picture of %s to %s\n", image.width(), image.height(), what,
                 file.c_str());
    return true;
  }
  std::fprintf(stderr, "Tovrin: could not save the picture to %s\n", file.c_str());
  return false;
}

inline void SaveSelector(CTovrinApp& app, const std::string& file) {
  ZarnDoc::CZarnDoc* doc = FirstDocument(app);
  bool ok = false;
  if (doc && doc->ControllerView()) {
    OptsNavigate::COptsNavigate dialog(doc->ControllerView());
    dialog.SetMode(ZarnTypes::NAVIGATE_MODE_STATUS);
    dialog.OnInitDialog();
    dialog.show();
    QCoreApplication::processEvents();
    ok = Save(dialog.grab().toImage(), file, "the Channel Selector");
  }
  QCoreApplication::exit(ok ? 0 : 1);
}

// Plays, pauses once every channel has shown enough frames, saves, stops and
// quits once the engine has ended.
inline void SavePlaying(CTovrinApp& app, const std::string& file, bool pip) {
  ZarnDoc::CZarnDoc* doc = FirstDocument(app);
  auto folder = std::make_shared<QTemporaryDir>();
  if (!doc || !folder->isValid()) {
    QCoreApplication::exit(1);
    return;
  }
  doc->m_YuvOpen.nFormat = ZarnTypes::ComposeYuvFileFormat(
      ZarnTypes::YUV_STD_BT601, ZarnTypes::YUV_LAYOUT_420_CENTRED, ZarnTypes::YUV_RANGE_16_235_240);
  doc->m_YuvOpen.nWidth = kWidth;
  doc->m_YuvOpen.nHeight = kHeight;
  doc->m_YuvOpen.bSingleImage = false;
  doc->m_bVideoInfo[0] = 1;  // the controller pane counts the frames
  doc->ch_nDecoderVideoOutDelay = 0;
  const int channels = pip ? 2 : 4;
  for (int ch = 0; ch < channels; ++ch) {
    const std::string path =
        QDir(folder->path()).filePath(QString("channel%1.yuv").arg(ch + 1)).toStdString();
    if (!WriteClip(path, ch) || !doc->OpenSource(path, ch)) {
      std::fprintf(stderr, "Tovrin: could not open the generated clip %s\n", path.c_str());
      QCoreApplication::exit(1);
      return;
    }
  }
  ZarnTypes::TNavigateExchange play;
  play.header.op = ZarnTypes::OPTS_XCHG_WRITE;
  play.mode = ZarnTypes::NAVIGATE_MODE_PLAY;
  for (int ch = 0; ch < channels; ++ch) play.channel[ch].play = 1;
  doc->ExchangeChannelSelection(play);
  if (pip) {
    doc->OnCmdMsg(shell::ID_TRANSFORM_ROTATE_RIGHT_90, platform::qt::TCmdCode::Command, nullptr);
    doc->OnCmdMsg(shell::ID_VIEW_PIP_PRIMARY, platform::qt::TCmdCode::Command, nullptr);
    doc->OnCmdMsg(shell::ID_VIEW_PIP_ASSISTANT, platform::qt::TCmdCode::Command, nullptr);
  }
  if (ChildFrameSplitter::CChildFrameSplitter* child = doc->ChildFrame()) {
    ZarnTypes::TPaneLayoutState layout;
    layout.operation = ZarnTypes::PANE_LAYOUT_SET;
    layout.controllerShown = layout.bottomRowShown = layout.rightColumnShown = 1;
    platform::qt::SendAppRecord(child, platform::qt::WM_APP_PANE_LAYOUT, 0, layout);
  }
  if (MainFrame::CMainFrame* frame = app.MainFrameWindow()) frame->resize(1280, 800);
  doc->m_Engine.StartPlaying();

  auto* poll = new QTimer;
  auto stage = std::make_shared<int>(0);
  auto ticks = std::make_shared<int>(0);
  QObject::connect(poll, &QTimer::timeout, [&app, doc, file, folder, poll, stage, ticks, channels] {
    Zarn::CZarn& engine = doc->m_Engine;
    ++*ticks;
    if (*stage == 0) {
      bool enough = true;
      for (int ch = 0; ch < channels; ++ch) enough = enough && engine.m_Channel[ch].nShownFrame.load() >= 45;
      if (!enough && *ticks < 1000 && engine.IsRunning()) return;
      engine.PausePlaying();
      *stage = 1;
      return;
    }
    if (*stage == 1) {
      QCoreApplication::processEvents();
      MainFrame::CMainFrame* frame = app.MainFrameWindow();
      const bool ok = frame && Save(frame->Snapshot(), file, "four channels playing");
      *stage = ok ? 2 : 3;
      engine.StopPlaying();
      return;
    }
    if (engine.IsRunning() && *ticks < 2000) return;
    poll->stop();
    poll->deleteLater();
    QCoreApplication::exit(*stage == 2 ? 0 : 1);
  });
  poll->start(20);
}

}  // namespace detail

// Runs the requested picture once the main window stands.
inline void Schedule(CTovrinApp& app, const TRequest& request) {
  QTimer::singleShot(0, [&app, request] {
    if (!request.playing.empty())
      detail::SavePlaying(app, request.playing, false);
    else if (!request.playingPip.empty())
      detail::SavePlaying(app, request.playingPip, true);
    else
      detail::SaveSelector(app, request.selector);
  });
}

}  // namespace play_screenshots
