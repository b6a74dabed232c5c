// The media document's side of its panes and toolbars: the picture pasted
// from the clipboard into a pane's channel, and the update handlers that
// show the document's state on the record, capture and DVD-navigation
// buttons.

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "document/child_frame.h"
#include "document/command_ids.h"
#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "media/device_kinds.h"
#include "media/file_types.h"
#include "platform/qt/app_messages.h"
#include "shell/application.h"

namespace ZarnDoc {

namespace pq = platform::qt;
using namespace ZarnTypes;

namespace {

// Clipboard pictures pasted while no application object is installed.
std::int32_t g_localClipboardNumber = 0;

// A 32-bit bottom-up frame of an image: rows of width x 4 bytes, blue,
// green, red and a fourth byte 0. False for an image too large to hold.
bool ImageToFrame(const QImage& source, std::vector<std::uint8_t>& bytes, TFrameBuffer& frame) {
  const QImage image = source.convertToFormat(QImage::Format_RGB32);
  if (image.isNull() || image.width() <= 0 || image.height() <= 0) return false;
  const std::int64_t stride = static_cast<std::int64_t>(image.width()) * 4;
  const std::int64_t size = stride * image.height();
  if (size > std::numeric_limits<std::int32_t>::max()) return false;
  try {
    bytes.assign(static_cast<std::size_t>(size), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(image.constScanLine(image.height() - 1 - y));
    std::uint8_t* out = bytes.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
    for (int x = 0; x < image.width(); ++x) {
      const std::uint32_t pixel = row[x];
      out[4 * x + 0] = static_cast<std::uint8_t>(pixel & 0xFF);
      out[4 * x + 1] = static_cast<std::uint8_t>((pixel >> 8) & 0xFF);
      out[4 * x + 2] = static_cast<std::uint8_t>((pixel >> 16) & 0xFF);
      out[4 * x + 3] = 0;
    }
  }
  frame = TFrameBuffer{};
  frame.ePixelFormat = PF_RGB32;
  frame.nBitsPerPixel = 32;
  frame.nWidth = image.width();
  frame.nHeight = image.height();
  frame.nStride = static_cast<std::int32_t>(stride);
  frame.nPaddedHeight = image.height();
  frame.nSize = static_cast<std::int32_t>(size);
  frame.nRowAlignment = 4;
  frame.nHeightAlignment = 1;
  frame.pBuffer = bytes.data();
  return true;
}

}  // namespace

bool CZarnDoc::PasteFromClipboard(int pane) {
  if (pane < 0 || pane >= kPaneCount) return false;
  const int channel = m_nPaneChannel[pane];
  if (channel < 0 || channel >= kChannelCount) return false;
  // A channel that plays keeps its source.
  if (m_Source[channel].bOpen && m_Engine.IsRunning()) return false;

  const QClipboard* clipboard = QGuiApplication::clipboard();
  const QMimeData* data = clipboard ? clipboard->mimeData() : nullptr;
  if (!data || !data->hasImage()) return false;
  const QImage image = qvariant_cast<QImage>(data->imageData());
  std::vector<std::uint8_t> bytes;
  TFrameBuffer frame;
  if (!ImageToFrame(image, bytes, frame)) return false;

  QApplication::setOverrideCursor(Qt::WaitCursor);
  // The new picture starts upright. The port is changed only when the
  // picture is in: a paste that fails leaves the channel as it was.
  VideoPort::CVideoPort& port = m_VideoPortHub.Port(channel);
  const std::int32_t orientation = port.Orientation();
  VideoPortUpdate::CVideoPortUpdate reset;
  reset.nCommand = VPU_RESET;
  reset.nPortIndex = channel;
  reset.bResetOrientation = 1;
  m_VideoPortHub.UpdatePort(reset);
  VideoPortUpdate::CVideoPortUpdate copy;
  copy.nCommand = VPU_COPY_FRAME;
  copy.nPortIndex = channel;
  copy.pSourceFrame = &frame;
  copy.bSwap = 1;
  if (!m_VideoPortHub.UpdatePort(copy)) {
    VideoPortUpdate::CVideoPortUpdate back;
    back.nCommand = VPU_ORIENT;
    back.nPortIndex = channel;
    back.nOrientation = orientation;
    back.bAbsolute = 1;
    back.bStoreOnly = 1;
    m_VideoPortHub.UpdatePort(back);
    QApplication::restoreOverrideCursor();
    return false;
  }

  std::int32_t number = 0;
  if (shell::IApplication* app = shell::TheApplication())
    number = app->NextClipboardNumber();
  else
    number = ++g_localClipboardNumber;
  char name[32];
  std::snprintf(name, sizeof name, "Clipboard%d", number);

  m_bHasPicture[channel] = true;
  TMediaSource& source = m_Source[channel];
  source.Reset();
  source.eState = SOURCE_STATE_LOADED;
  source.bLoaded = TRUE_;
  source.bOpen = TRUE_;
  source.eStreamType = ST_CLIPBOARD;
  source.eSourceCategory = SOURCE_CAT_CLIPBOARD;
  source.eFileFormat = FF_CLIPBOARD;
  source.sPath = name;
  source.sDisplayName = name;
  source.nWidth = frame.nWidth;
  source.nHeight = frame.nHeight;
  source.bRead = TRUE_;
  source.eFramePixelFormat = PF_RGB32;
  source.nPictureCount = 1;
  m_Format[channel].Reset();
  m_Format[channel].eStreamType = ST_CLIPBOARD;
  RefreshChannelPanes(channel, true);
  SetSourceDisplayName(name, channel);

  if (m_pChildFrame)
    pq::SendAppMessage(m_pChildFrame.data(), pq::WM_APP_PANE_COMMAND, PANE_CMD_SHOW_CHANNEL,
                       static_cast<pq::LPARAM>(channel));
  if (m_pControllerView) pq::SendAppMessage(m_pControllerView.data(), pq::WM_APP_CONTROLLER_UPDATE, 3, 0);
  NotifyExplorer(pq::FRAME_REQ_EXPLORER_UPDATE_DOC);
  QApplication::restoreOverrideCursor();
  return true;
}

// ---------------------------------------------------------------------------
// The Capture and DVD toolbar buttons

void CZarnDoc::RegisterViewCommands() {
  using namespace ZarnCommands;
  RegisterSaveCommands();
  // "Start / Stop recording": the Capture toolbar shows whether recording is
  // armed on a selected channel and whether the engine runs; the command
  // needs a selected channel with a source.
  m_Commands.OnCommand(shell::ID_CAPTURE_RECORD, [this] { OnCaptureRecord(); });
  m_Commands.OnUpdate(shell::ID_CAPTURE_RECORD, [this](pq::TCmdUI& ui) {
    if (ToolBarCapture::CToolBarCapture* bar = CaptureToolBar()) {
      shell::TCaptureButtonState state;
      state.running = m_Engine.IsRunning() ? 1 : 0;
      state.recorder = m_bRecording ? 1 : 0;
      for (int ch = 0; ch < kChannelCount; ++ch) state.channel[ch][0] = m_bRecordChannel[ch] ? 1 : 0;
      bar->UpdateRecordButton(&state);
    }
    bool any = false;
    for (int ch = 0; ch < kChannelCount; ++ch) any = any || (m_bRecordChannel[ch] && m_Source[ch].bOpen);
    ui.Enable(any);
  });
  // "Capture Image": the Capture toolbar shows which of the first two
  // channels capture (to the clipboard or to a file); the command needs a
  // source in the primary channel.
  m_Commands.OnUpdate(shell::ID_CAPTURE_IMAGE, [this](pq::TCmdUI& ui) {
    if (ToolBarCapture::CToolBarCapture* bar = CaptureToolBar()) {
      shell::TCaptureButtonState state;
      for (int ch = 0; ch < kChannelCount; ++ch) {
        const SaveImage::CSaveImage& saver = m_ImageSaver[static_cast<std::size_t>(ch)];
        state.channel[ch][1] = (saver.m_bSendToClipboard || saver.m_bSaveToFile) ? 1 : 0;
      }
      bar->UpdateCaptureButton(&state);
    }
    ui.Enable(m_Source[0].bOpen != FALSE_);
  });
  // "Enable navigation...": the DVD toolbar shows the channels with DVD
  // navigation; the command needs a DVD that plays.
  m_Commands.OnUpdate(shell::ID_DVD_ENABLE_NAVIGATION, [this](pq::TCmdUI& ui) {
    if (ToolBarDvd::CToolBarDvd* bar = DvdToolBar()) {
      shell::TChannelButtonState state;
      for (int ch = 0; ch < kChannelCount; ++ch)
        state.channel[ch][shell::CBS_DVD_NAVIGATION] = m_bDvdNavigate[ch] ? 1 : 0;
      bar->UpdateNavigationButton(&state);
    }
    bool dvd = false;
    for (int ch = 0; ch < kChannelCount; ++ch)
      dvd = dvd || (m_Source[ch].bOpen && m_Source[ch].nDeviceCategory == SDC_DVD);
    ui.Enable(dvd && m_Engine.IsRunning());
  });
}

}  // namespace ZarnDoc
