#pragma once
// Helpers of the document tests: media document windows shown off screen,
// pictures put into channels as the loaders put them, and a main window that
// records the frame notices it receives.

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "document/child_frame.h"
#include "document/video_port.h"
#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document/zarn_view.h"
#include "platform/qt/app_messages.h"
#include "shell/document_template.h"

namespace doc_test {

// A 32-bit bottom-up frame whose pixel (x, y from the top) is colour(x, y)
// (0xRRGGBB).
struct TPicture {
  std::vector<std::uint8_t> bytes;
  ZarnTypes::TFrameBuffer frame;
};

inline TPicture MakePicture(int width, int height, const std::function<std::uint32_t(int, int)>& colour) {
  TPicture p;
  p.frame.ePixelFormat = ZarnTypes::PF_RGB32;
  p.frame.nBitsPerPixel = 32;
  p.frame.nWidth = width;
  p.frame.nHeight = height;
  p.frame.nStride = width * 4;
  p.frame.nSize = width * height * 4;
  p.frame.nRowAlignment = 4;
  p.bytes.assign(static_cast<std::size_t>(p.frame.nSize), 0);
  p.frame.pBuffer = p.bytes.data();
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = colour(x, y) & 0x00FFFFFFu;
      // Bottom-up: the top row is the last in memory.
      std::memcpy(p.bytes.data() + (static_cast<std::size_t>(height - 1 - y) * width + x) * 4, &c, 4);
    }
  return p;
}

inline TPicture MakeSolid(int width, int height, std::uint32_t colour) {
  return MakePicture(width, height, [colour](int, int) { return colour; });
}

// Puts a picture into a channel as an opened source does: upright, flagged.
inline void LoadPicture(ZarnDoc::CZarnDoc& doc, int channel, TPicture& picture) {
  ZarnTypes::TVideoPortUpdate reset;
  reset.nCommand = ZarnTypes::VPU_RESET;
  reset.nPortIndex = channel;
  reset.bResetOrientation = 1;
  ASSERT_TRUE(doc.m_VideoPortHub.UpdatePort(reset));
  ZarnTypes::TVideoPortUpdate copy;
  copy.nCommand = ZarnTypes::VPU_COPY_FRAME;
  copy.nPortIndex = channel;
  copy.pSourceFrame = &picture.frame;
  copy.bSwap = 1;
  ASSERT_TRUE(doc.m_VideoPortHub.UpdatePort(copy));
  doc.m_bHasPicture[channel] = true;
  doc.m_Source[channel].nPictureCount = 1;
  doc.RefreshChannelPanes(channel, true);
}

// A media document window, shown off screen and set up.
class TDocumentWindow {
 public:
  explicit TDocumentWindow(QSize size = QSize(1200, 800), bool setUp = true) {
    frame = static_cast<ChildFrameSplitter::CChildFrameSplitter*>(
        ChildFrameSplitter::CreateMediaDocumentFrame(nullptr));
    frame->resize(size);
    frame->show();
    QApplication::processEvents();
    if (setUp) frame->OnInitialUpdate();
    QApplication::processEvents();
  }
  ~TDocumentWindow() { delete frame.data(); }
  TDocumentWindow(const TDocumentWindow&) = delete;
  TDocumentWindow& operator=(const TDocumentWindow&) = delete;
  ZarnDoc::CZarnDoc& Doc() { return *frame->MediaDocument(); }
  ZarnView::CZarnView& Pane(int i) { return *frame->PaneView(i); }

  // The window deletes itself once it closes.
  QPointer<ChildFrameSplitter::CChildFrameSplitter> frame;
};

// A main window that records every WM_APP_FRAME_NOTIFY (wParam, code) and
// counts the views announced with WM_APP_VIEW_CREATED.
class TRecordingMainWindow {
 public:
  TRecordingMainWindow() {
    auto* map = new platform::qt::TMessageMap(&window);
    map->On(platform::qt::WM_APP_FRAME_NOTIFY, [this](platform::qt::WPARAM w, platform::qt::LPARAM l) {
      auto* notice = platform::qt::RecordOf<platform::qt::TFrameNotice>(l);
      notices.push_back({static_cast<int>(w), notice ? notice->code : -1});
      return platform::qt::LRESULT{1};
    });
    map->On(platform::qt::WM_APP_VIEW_CREATED, [this](platform::qt::WPARAM, platform::qt::LPARAM l) {
      if (l == 1) ++viewsCreated;
      return platform::qt::LRESULT{1};
    });
    shell::SetMainWindow(&window);
  }
  ~TRecordingMainWindow() { shell::SetMainWindow(nullptr); }

  QWidget window;
  std::vector<std::pair<int, int>> notices;
  int viewsCreated = 0;
};

// Runs the event loop until the condition holds, looking every 5 ms, at most
// `ticks` times.
inline bool RunUntil(const std::function<bool()>& condition, int ticks = 2000) {
  if (condition()) return true;
  QEventLoop loop;
  QTimer tick;
  int n = 0;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (condition() || ++n >= ticks) loop.quit();
  });
  tick.start(5);
  loop.exec();
  return condition();
}

}  // namespace doc_test
