// Tovrin: inspecting and comparing video side by side.

#include <QApplication>
#include <QImage>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/dialog_screenshots.h"
#include "app/play_screenshots.h"
#include "app/sheet_screenshots.h"
#include "app/tovrin_app.h"
#include "io/codecs/mng_mgr.h"
#include "platform/qt/app_messages.h"
#include "platform/qt/qt_message_sink.h"
#include "shell/file_dialog_ex.h"
#if defined(TOVRIN_HAVE_MEDIA_GRAPH)
#include "io/dshow/dshow_mgr.h"
#endif
#include "shell/main_frame.h"
#include "shell/start_params.h"

#include "document/child_frame.h"
#include "document/zarn_doc.h"
#include "document/zarn_view.h"

namespace {

bool HasDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return true;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
}

// Lays the main window out at a fixed size, saves its picture and quits.
void TakeScreenshot(CTovrinApp& app, const std::string& file) {
  QTimer::singleShot(0, [&app, file] {
    MainFrame::CMainFrame* frame = app.MainFrameWindow();
    int rc = 1;
    if (frame) {
      frame->resize(1280, 800);
      const QImage image = frame->Snapshot();
      if (!image.isNull() && image.save(QString::fromStdString(file), "PNG")) {
        std::fprintf(stdout, "Saved %dx%d picture of the main window to %s\n", image.width(), image.height(),
                     file.c_str());
        rc = 0;
      } else {
        std::fprintf(stderr, "Tovrin: could not save the picture to %s\n", file.c_str());
      }
    }
    QCoreApplication::exit(rc);
  });
}

// The file dialog's preview of an MNG animation, a video or an audio file:
// the first frame, from an MNG reader or a media-graph session of its own.
void GrabPreviewFrame(ZarnTypes::TMediaRequest& request) {
  if (request.eTag == ZarnTypes::MEDIA_REQ_MNG) {
    MngMgr::RunPreviewRequest(request);
    return;
  }
#if defined(TOVRIN_HAVE_MEDIA_GRAPH)
  if (request.eTag != ZarnTypes::MEDIA_REQ_DSHOW_SOURCE) return;
  std::atomic<bool> stop{false};
  std::atomic<bool> end{false};
  ZarnTypes::TSourceParams params;
  params.eSenderKind = ZarnTypes::MEDIA_SENDER_DSHOW;
  params.ePurpose = ZarnTypes::SRC_GRAB_FRAME;
  params.pStopFlag = &stop;
  params.pEndFlag = &end;
  params.eGrabPixelFormat = ZarnTypes::PF_RGB32;
  request.ePurpose = ZarnTypes::SRC_GRAB_FRAME;
  request.eStreamType = ZarnTypes::TStreamType{ZarnTypes::FileFormatToStreamType(request.eSourceFormat)};
  request.pParams = &params;
  DShowMgr::CDShowMgr manager;
  request.bSuccess = manager.Run(&request);
  request.pParams = nullptr;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  // Standard output into a pipe (the console window's, a log's) is read
  // line by line: set before anything is written, after which it no longer
  // takes effect.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::vector<std::string> args(argv, argv + argc);
  // --screenshot-dialog <open-to|yuv|about|console> <file>: a picture of a
  // file prompt, the about box or the console window.
  std::string dialogShot, dialogShotFile;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--screenshot-dialog" && i + 2 < args.size()) {
      dialogShot = args[i + 1];
      dialogShotFile = args[i + 2];
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                 args.begin() + static_cast<std::ptrdiff_t>(i + 3));
      break;
    }
  }
  const sheet_screenshots::TRequest sheetShot = sheet_screenshots::TakeOptions(args);
  const play_screenshots::TRequest playShots = play_screenshots::TakeOptions(args);
  shell::CCommandLineInfoEx cmd;
  cmd.ParseCommandLine(args);
  if (cmd.m_bShowHelp) {
    std::fputs(shell::CommandLineUsage().c_str(), stdout);
    std::fputs(
        "  --screenshot-dialog open-to|yuv|about|console FILE\n"
        "                                        save a picture of the open dialog (\"Open to\", a still\n"
        "                                        selected), of the YUV format page, of the about box or\n"
        "                                        of the console window (start lines, a long line,\n"
        "                                        standard error, the project XML), then quit\n",
        stdout);
    std::fputs(play_screenshots::Usage(), stdout);
    std::fputs(sheet_screenshots::Usage(), stdout);
    return 0;
  }
  if (!HasDisplay()) {
    std::fprintf(stderr,
                 "Tovrin needs a graphical display: neither DISPLAY nor WAYLAND_DISPLAY is set.\n"
                 "Start it from a desktop session (or set QT_QPA_PLATFORM=offscreen for a headless run).\n");
    return 2;
  }

  QApplication qapp(argc, argv);
  QApplication::setOrganizationName("Halvane");
  QApplication::setApplicationName("Tovrin");
  QApplication::setApplicationDisplayName("Tovrin");
  QApplication::setApplicationVersion(TOVRIN_VERSION);
  QApplication::setDesktopFileName("tovrin");
  platform::qt::RegisterAppMessages();
  FileDialogEx::CFileDialogEx::SetMediaPreviewRunner(&GrabPreviewFrame);
  if (!dialogShot.empty()) {
    const bool saved =
        dialog_screenshots::Handles(dialogShot)
            ? dialog_screenshots::Save(dialogShot, dialogShotFile, &ZarnDoc::CZarnDoc::WriteProjectXml)
            : FileDialogEx::SaveDialogScreenshot(dialogShot, dialogShotFile);
    if (!saved) {
      std::fprintf(stderr,
                   "Tovrin: no picture of the \"%s\" dialog (open-to, yuv, about or console) saved to %s\n",
                   dialogShot.c_str(), dialogShotFile.c_str());
      return 1;
    }
    std::fprintf(stdout, "Saved a picture of the %s dialog to %s\n", dialogShot.c_str(),
                 dialogShotFile.c_str());
    return 0;
  }

  auto app = std::make_unique<CTovrinApp>();
  platform::qt::TQtMessageSink sink([&app] { return app ? app->MainWindowWidget() : nullptr; });
  platform::TScopedMessageSink scopedSink(&sink);

  app->SetCommandLine(args);
  app->SetDocumentFactory(&ChildFrameSplitter::CreateMediaDocumentFrame);
  // The panes' context menus are the main window's, with its commands.
  ZarnView::SetPopupMenuFactory([&app](int menuId, QWidget* parent) -> QMenu* {
    MainFrame::CMainFrame* frame = app ? app->MainFrameWindow() : nullptr;
    return frame ? frame->CreateContextMenu(menuId, parent) : nullptr;
  });

  int rc = 1;
  if (app->InitInstance()) {
    // The program's icon, as the main window shows it (the General page
    // shows it too).
    if (QWidget* main = app->MainWindowWidget()) QApplication::setWindowIcon(main->windowIcon());
    if (sheetShot.Any())
      sheet_screenshots::Schedule(*app, sheetShot);
    else if (!cmd.m_strScreenshot.empty())
      TakeScreenshot(*app, cmd.m_strScreenshot);
    else if (playShots.Any())
      play_screenshots::Schedule(*app, playShots);
    rc = QApplication::exec();
  }
  const int exitRc = app->ExitInstance();
  ZarnView::SetPopupMenuFactory({});
  app.reset();
  return rc != 0 ? rc : exitRc;
}
