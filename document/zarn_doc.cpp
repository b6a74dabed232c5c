#include "document/zarn_doc.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMetaObject>
#include <QStackedWidget>
#include <QTabWidget>
#include <QUrl>
#include <QWidget>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "document/child_frame.h"
#include "document/command_ids.h"
#include "document/zarn_controller_view.h"
#include "document/zarn_view.h"
#include "document/zoom_mode_dialog.h"
#include "platform/message_sink.h"
#include "platform/qt/app_messages.h"
#include "platform/qt/commands.h"
#include "shell/application.h"

namespace ZarnDoc {

namespace pq = platform::qt;
using namespace ZarnCommands;
using namespace ZarnTypes;

BOOL CCallbackZarnDoc::Callback1(std::int32_t a, std::int32_t b, std::int32_t c) {
  return (a == 1 && b == 1 && c != 0) ? TRUE_ : FALSE_;
}

namespace {
// Numbers of documents made while no application object is installed.
std::atomic<std::int32_t> g_localDocumentCounter{0};
}  // namespace

CZarnDoc::CZarnDoc() {
  if (shell::IApplication* app = shell::TheApplication()) {
    app->RegisterDocument(this, m_nDocNumber, m_nDocSerial);
    m_bRegistered = true;
  } else {
    m_nDocNumber = m_nDocSerial = ++g_localDocumentCounter;
  }
  char name[32];
  std::snprintf(name, sizeof name, "%s%d", "DM", m_nDocNumber);
  m_strDocName = name;
  m_strDocTitle = m_strDocName;
  m_strTitle = m_strDocTitle;
  // Insets start on channel 2 in the left column (panes 0 and 2) and on
  // channel 0 in the right column (panes 1 and 3).
  for (int pane = 0; pane < kPaneCount; ++pane) {
    const bool rightColumn = pane % 2 != 0;
    m_Pip[pane].nOptionsValue = rightColumn ? 2 : 0;
    m_Pip[pane].nInsetChannel = rightColumn ? 0 : 2;
  }
  RegisterCommands();
  RegisterOpenCommands();
  RegisterLifeCommands();
  RegisterToolCommands();
  RegisterOptionsCommands();
}

CZarnDoc::~CZarnDoc() {
  // A document that goes without being closed (the program ends) still
  // leaves its settings as the next run's defaults.
  if (m_bSetUpDone && !m_bClosed)
    if (shell::IApplication* app = shell::TheApplication())
      StoreSavedDefaults(app->ProgCfg(), app->SequenceNaming(), app->ImageNaming());
  if (m_bRegistered)
    if (shell::IApplication* app = shell::TheApplication()) app->UnregisterDocument(m_nDocNumber);
}

// ---------------------------------------------------------------------------
// Shell interface

bool CZarnDoc::SaveModified() {
  if (m_Engine.IsRunning()) {
    if (!m_Engine.StopRequested()) m_Engine.StopPlaying();
    return false;
  }
  return true;
}

void CZarnDoc::StartPlaying() { m_Engine.StartPlaying(); }

bool CZarnDoc::OnCmdMsg(UINT id, pq::TCmdCode code, pq::TCmdUI* ui) {
  return m_Commands.OnCmdMsg(id, code, ui);
}

// ---------------------------------------------------------------------------
// Title

void CZarnDoc::SetTitle(const std::string& title) {
  if (m_bTitlePending) {
    m_bTitlePending = false;
    m_strTitle = m_strDocTitle;
  } else {
    m_strTitle = title;
  }
  if (m_pChildFrame) m_pChildFrame->setWindowTitle(QString::fromStdString(m_strTitle));
}

void CZarnDoc::BuildTitle() {
  std::string title = m_strDocName;
  bool named = false;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    if (m_Source[ch].bOpen) {
      if (named) {
        title += "| ...";
        break;
      }
      title += " | " + m_Source[ch].sDisplayPath + " ";
      named = true;
    } else {
      title += ch == 0 ? " |" : "|";
    }
  }
  m_strDocTitle = title;
}

std::string CZarnDoc::ShortenUrlForDisplay(const std::string& url) {
  // Lengths count characters, never bytes: a name is never cut inside one.
  const QUrl parsed(QString::fromStdString(url));
  const QString object = parsed.path().left(260);
  const QString file =
      QString::fromStdString(std::filesystem::path(object.toStdString()).filename().string());
  QString shown = parsed.host() + "..." + file;
  if (shown.size() > 40) shown = shown.left(37) + "...";
  return shown.toStdString();
}

bool CZarnDoc::SetSourceDisplayName(const std::string& path, int channel) {
  // Every open and close of a channel re-titles the document: the count of
  // open channels follows here too.
  CountOpenChannels();
  if (channel < 0 || channel >= kChannelCount) return false;
  TMediaSource& source = m_Source[channel];
  const std::int32_t category = source.eSourceCategory;
  if (category < 0 || category > 8) return false;
  const bool isUrl =
      category == SOURCE_CAT_FTP || category == SOURCE_CAT_HTTP || category == SOURCE_CAT_GOPHER;
  std::size_t limit = 256;
  if (isUrl) {
    const QString scheme = QUrl(QString::fromStdString(path)).scheme().toLower();
    if (scheme != "ftp" && scheme != "gopher" && scheme != "http" && scheme != "https") return false;
    limit = 2048;
  }
  std::string display;
  if (source.bOpen) {
    // The limit counts characters, as the path is shown, not its bytes.
    const auto length = static_cast<std::size_t>(QString::fromStdString(path).size());
    if (path.empty() || length >= limit) return false;
    if (isUrl) {
      display = ShortenUrlForDisplay(path);
    } else {
      std::error_code ec;
      const std::filesystem::path full = std::filesystem::absolute(path, ec);
      if (ec) return false;
      display = full.filename().string();
    }
  }
  source.sDisplayPath = display;
  BuildTitle();
  SetTitle(m_strDocTitle);
  return true;
}

// ---------------------------------------------------------------------------
// Windows

ChildFrameSplitter::CChildFrameSplitter* CZarnDoc::ChildFrame() const { return m_pChildFrame; }

ZarnControllerView::CZarnControllerView* CZarnDoc::ControllerView() const { return m_pControllerView; }

ZarnView::CZarnView* CZarnDoc::PaneView(int pane) const {
  if (pane < 0 || pane >= kPaneCount) return nullptr;
  return m_pPaneView[static_cast<std::size_t>(pane)];
}

std::vector<pq::ICommandTarget*> CZarnDoc::Views() const {
  std::vector<pq::ICommandTarget*> views;
  if (m_pControllerView) views.push_back(m_pControllerView.data());
  for (const auto& pane : m_pPaneView)
    if (pane) views.push_back(pane.data());
  return views;
}

bool CZarnDoc::RouteCmdToViews(pq::ICommandTarget* sender, UINT id, pq::TCmdCode code, pq::TCmdUI* ui) {
  for (pq::ICommandTarget* view : Views())
    if (view != sender && view->OnCmdMsg(id, code, ui)) return true;
  return false;
}

void CZarnDoc::SetUpViews(ChildFrameSplitter::CChildFrameSplitter* frame,
                          ZarnControllerView::CZarnControllerView* controller,
                          const std::array<ZarnView::CZarnView*, kPaneCount>& panes) {
  m_pChildFrame = frame;
  m_pControllerView = controller;
  for (int pane = 0; pane < kPaneCount; ++pane)
    m_pPaneView[static_cast<std::size_t>(pane)] = panes[static_cast<std::size_t>(pane)];
  SetUpDocument();

  // Every view learns its role; the panes learn their index.
  if (controller) {
    TIdentifyView identify;
    pq::SendAppRecord(controller, pq::WM_APP_IDENTIFY_VIEW, 0, identify);
  }
  for (int pane = 0; pane < kPaneCount; ++pane) {
    if (!panes[static_cast<std::size_t>(pane)]) continue;
    TIdentifyView identify;
    identify.paneIndex = pane;
    pq::SendAppRecord(panes[static_cast<std::size_t>(pane)], pq::WM_APP_IDENTIFY_VIEW, 0, identify);
  }
  m_VideoPortHub.ResetAll();
  if (controller) controller->OnInitialUpdate();
  m_bSetUpDone = true;
  BuildTitle();
  SetTitle(m_strDocTitle);
  RescaleAllPanes();

  // A new window shows the primary pane alone.
  if (frame) {
    TPaneLayoutState state;
    state.operation = PANE_LAYOUT_PRIMARY_ONLY;
    state.value = 1;
    pq::SendAppRecord(frame, pq::WM_APP_PANE_LAYOUT, 0, state);
  }
}

void CZarnDoc::SetPaneChannels(const TPaneLayoutExchange& block) {
  for (int pane = 0; pane < kPaneCount; ++pane) {
    const std::int32_t channel = block.paneChannel[pane];
    if (channel < 0 || channel >= kChannelCount || channel == m_nPaneChannel[pane]) continue;
    m_nPaneChannel[pane] = channel;
    if (ZarnView::CZarnView* view = PaneView(pane)) view->RescalePane();
  }
}

void CZarnDoc::RefreshChannelPanes(int channel, bool sizeChanged) {
  for (int pane = 0; pane < kPaneCount; ++pane) {
    ZarnView::CZarnView* view = PaneView(pane);
    if (!view) continue;
    if (m_nPaneChannel[pane] == channel) {
      if (sizeChanged)
        view->RescalePane();
      else
        view->viewport()->update();
    } else if (m_Pip[pane].bEnabled && m_Pip[pane].nInsetChannel == channel) {
      view->viewport()->update();
    }
  }
}

void CZarnDoc::RescaleAllPanes() {
  for (int pane = 0; pane < kPaneCount; ++pane)
    if (ZarnView::CZarnView* view = PaneView(pane)) view->RescalePane();
}

// ---------------------------------------------------------------------------
// Zoom and orientation

void CZarnDoc::RegisterCommands() {
  for (std::int32_t mode = ZOOM_10; mode <= ZOOM_1000; ++mode) {
    const UINT id =
        ID_ZOOM_PRESET - static_cast<UINT>(mode);  // ID_ZOOM_10 is mode 1 ... ID_ZOOM_1000 mode 10
    m_Commands.OnCommand(id, [this, mode] { SetZoomMode(mode); });
    m_Commands.OnUpdate(id, [this, mode](pq::TCmdUI& ui) { ui.SetCheck(m_nZoomMode == mode ? 1 : 0); });
  }
  m_Commands.OnCommand(ID_ZOOM_PRESET, [this] { SetZoomMode(ZOOM_100); });
  m_Commands.OnUpdate(ID_ZOOM_PRESET, [](pq::TCmdUI& ui) { ui.Enable(true); });
  const std::pair<UINT, std::int32_t> fitting[] = {
      {ID_ZOOM_FIT_VIEW, ZOOM_FIT_VIEW},         {ID_ZOOM_FIT_WIDTH, ZOOM_FIT_WIDTH},
      {ID_ZOOM_FIT_HEIGHT, ZOOM_FIT_HEIGHT},     {ID_ZOOM_FILL_VIEW, ZOOM_FILL_VIEW},
      {ID_ZOOM_KEEP_IN_VIEW, ZOOM_KEEP_IN_VIEW}, {ID_ZOOM_CUSTOM, ZOOM_CUSTOM},
  };
  for (const auto& [id, mode] : fitting) {
    m_Commands.OnCommand(id, [this, mode = mode] { SetZoomMode(mode); });
    m_Commands.OnUpdate(id,
                        [this, mode = mode](pq::TCmdUI& ui) { ui.SetCheck(m_nZoomMode == mode ? 1 : 0); });
  }
  m_Commands.OnCommand(ID_ZOOM_IN, [this] { ZoomStep(true); });
  m_Commands.OnUpdate(ID_ZOOM_IN, [](pq::TCmdUI& ui) { ui.Enable(true); });
  m_Commands.OnCommand(ID_ZOOM_OUT, [this] { ZoomStep(false); });
  m_Commands.OnUpdate(ID_ZOOM_OUT, [](pq::TCmdUI& ui) { ui.Enable(true); });

  const std::pair<UINT, std::int32_t> turns[] = {
      {ID_TRANSFORM_ROTATE_RIGHT_90, ORIENT_ROTATE_RIGHT_90},
      {ID_TRANSFORM_ROTATE_LEFT_90, ORIENT_ROTATE_LEFT_90},
      {ID_TRANSFORM_ROTATE_180, ORIENT_ROTATE_180},
      {ID_TRANSFORM_REFLECT_VERTICAL, ORIENT_REFLECT_VERTICAL},
      {ID_TRANSFORM_REFLECT_HORIZONTAL, ORIENT_REFLECT_HORIZONTAL},
      {ID_TRANSFORM_REFLECT_DIAG_MAIN, ORIENT_REFLECT_DIAG_MAIN},
      {ID_TRANSFORM_REFLECT_DIAG_ANTI, ORIENT_REFLECT_DIAG_ANTI},
  };
  for (const auto& [id, code] : turns) {
    m_Commands.OnCommand(id, [this, code = code] { OnTransform(code, false); });
    m_Commands.OnUpdate(id, [](pq::TCmdUI& ui) { ui.Enable(true); });
  }
  m_Commands.OnCommand(ID_TRANSFORM_RESET, [this] { OnTransform(ORIENT_IDENTITY, true); });
  m_Commands.OnUpdate(ID_TRANSFORM_RESET, [](pq::TCmdUI& ui) { ui.Enable(true); });
  RegisterPlayCommands();
  RegisterViewCommands();
}

bool CZarnDoc::SetZoomMode(std::int32_t mode) {
  if (mode >= ZOOM_10 && mode <= ZOOM_1000) {
    m_fZoomFactor[0] = Zoom::PresetFactor(mode);
  } else if (mode == ZOOM_KEEP_IN_VIEW) {
    m_fZoomFactor[0] = 1.0f;
  } else if (mode == ZOOM_CUSTOM) {
    if (!RunCustomZoomDialog()) return false;
  } else if (mode < ZOOM_FIT_VIEW || mode > ZOOM_FILL_VIEW) {
    return false;
  }
  m_nPrevZoomMode = m_nZoomMode;
  m_nZoomMode = mode;
  RescaleAllPanes();
  return true;
}

bool CZarnDoc::GetPaneZoomFactor(int pane, float& factor) const {
  if (pane < 0 || pane >= kPaneCount) return false;
  const std::int32_t mode = m_nZoomMode;
  if (mode >= ZOOM_10 && mode <= ZOOM_1000) {
    // The presets are drawn with the first factor in every pane.
    factor = m_fZoomFactor[0];
    return true;
  }
  if (mode < ZOOM_FIT_VIEW || mode > ZOOM_KEEP_IN_VIEW) return false;
  const int channel = m_nPaneChannel[pane];
  if (channel < 0 || channel >= kChannelCount) return false;
  const VideoPort::TPicture picture = m_VideoPortHub.Port(channel).FrontBitmap();
  if (!picture) return false;
  QSize client;
  if (ZarnView::CZarnView* view = PaneView(pane)) client = view->ClientSize();
  return Zoom::PaneZoomFactor(mode, m_fZoomFactor[0], picture->Width(), picture->Height(), client.width(),
                              client.height(), factor);
}

void CZarnDoc::ZoomStep(bool up) {
  const std::int32_t mode = m_nZoomMode;
  if (mode < kZoomModeFirst || mode > kZoomModeLast) return;
  std::int32_t next = mode;
  if (mode <= ZOOM_1000) {
    if ((up && mode == ZOOM_1000) || (!up && mode == ZOOM_10)) return;
    next = up ? mode + 1 : mode - 1;
  } else {
    next = ZOOM_100;
    // With the primary pane alone in view, step from the magnification it
    // shows now.
    if (m_pChildFrame) {
      TPaneLayoutState state;
      state.operation = PANE_LAYOUT_GET;
      pq::SendAppRecord(m_pChildFrame.data(), pq::WM_APP_PANE_LAYOUT, 0, state);
      if (state.answered && !state.bottomRowShown && !state.rightColumnShown) {
        float factor = 1.0f;
        if (GetPaneZoomFactor(0, factor)) next = Zoom::NearestZoomPreset(factor, up);
      }
    }
  }
  SetZoomMode(next);
}

bool CZarnDoc::RunCustomZoomDialog() {
  ZoomMode::CZoomMode dialog(m_pControllerView.data());
  TModalScope modal(this);
  return dialog.exec() == QDialog::Accepted;
}

void CZarnDoc::ExchangeZoomSettings(TZoomExchange& block) {
  if (block.operation == 1) {
    for (int pane = 0; pane < kPaneCount; ++pane) {
      float factor = 0.0f;
      block.factor[pane] = GetPaneZoomFactor(pane, factor) ? factor : m_fZoomFactor[pane];
    }
    block.sameFactor = m_bSameZoomFactor ? 1 : 0;
    block.zoomMode = m_nZoomMode;
    block.answered = 1;
  } else if (block.operation == 2) {
    for (int pane = 0; pane < kPaneCount; ++pane) {
      // A factor no pane could be drawn with is not taken.
      const float factor = block.factor[pane];
      if (std::isfinite(factor) && factor > 0.0f) m_fZoomFactor[pane] = factor;
    }
    m_bSameZoomFactor = block.sameFactor != 0;
    if (block.setMode && block.zoomMode >= kZoomModeFirst && block.zoomMode <= kZoomModeLast)
      m_nZoomMode = block.zoomMode;
    RescaleAllPanes();
    block.answered = 1;
  }
}

int CZarnDoc::TransformPane(int port, std::int32_t orientation, bool absolute) {
  if (port < 0 || port >= kChannelCount) return 0;
  VideoPortUpdate::CVideoPortUpdate update;
  update.nCommand = VPU_ORIENT;
  update.nPortIndex = port;
  update.bSwap = 1;
  update.nOrientation = orientation;
  update.bAbsolute = absolute ? 1 : 0;
  update.bStoreOnly = 0;
  m_VideoPortHub.UpdatePort(update);
  RefreshChannelPanes(port, update.bSizeChanged != 0);
  return 0;
}

void CZarnDoc::OnTransform(std::int32_t orientation, bool absolute) {
  // Only a picture in the primary channel is turned, whichever pane is active.
  if (m_Source[0].nPictureCount > 0) TransformPane(0, orientation, absolute);
}

// ---------------------------------------------------------------------------
// The explorer pane

namespace {

// Brings a document's window forward inside the main window's MDI area or
// its tab groups, and shows it.
void ActivateDocumentWindow(QWidget* frame) {
  if (!frame) return;
  frame->show();
  QWidget* parent = frame->parentWidget();
  if (auto* sub = qobject_cast<QMdiSubWindow*>(parent)) {
    if (QMdiArea* area = sub->mdiArea()) area->setActiveSubWindow(sub);
    sub->show();
  } else if (qobject_cast<QStackedWidget*>(parent) != nullptr) {
    if (auto* tabs = qobject_cast<QTabWidget*>(parent->parentWidget())) tabs->setCurrentWidget(frame);
  }
  frame->activateWindow();
  frame->setFocus();
}

}  // namespace

bool CZarnDoc::OnExplorerRequest(TExplorerRequest& request) {
  TExplorerDocInfo* info = request.pInfo;
  if (info == nullptr) return false;
  const auto describe = [this, info] {
    info->sTitle = m_strDocTitle;
    for (int ch = 0; ch < kChannelCount; ++ch) {
      const TMediaSource& source = m_Source[ch];
      info->pSource[static_cast<std::size_t>(ch)] = &source;
      // A device or DVD is known by its name; everything else by its path.
      info->sChannelPath[static_cast<std::size_t>(ch)] =
          source.eSourceCategory == SOURCE_CAT_DEVICE ? source.sDisplayName : source.sPath;
    }
  };
  if (request.nOperation == EXPLORER_OP_DESCRIBE) {
    describe();
    request.bAnswered = true;
    return true;
  }
  if (request.nOperation != EXPLORER_OP_ACTION) return false;

  switch (info->nAction) {
    case EXPLORER_ACT_ACTIVATE: ActivateDocumentWindow(m_pChildFrame); break;
    case EXPLORER_ACT_FILE_OPEN:
      if (QWidget* main = shell::MainWindow())
        if (auto* router = main->findChild<pq::TCommandRouter*>()) router->Execute(shell::ID_FILE_OPEN);
      break;
    case EXPLORER_ACT_OPEN_TO: OnFileOpenTo(); break;
    case EXPLORER_ACT_CLOSE:
      // The window closes once this request is answered: closing it ends
      // the document, which the explorer still holds while it asks.
      if (m_pChildFrame) {
        QPointer<ChildFrameSplitter::CChildFrameSplitter> frame = m_pChildFrame;
        QMetaObject::invokeMethod(
            frame.data(),
            [frame] {
              if (frame) frame->close();
            },
            Qt::QueuedConnection);
      }
      break;
    case EXPLORER_ACT_CLOSE_FROM: OnFileCloseFrom(); break;
    case EXPLORER_ACT_COPY:
      if (ZarnView::CZarnView* pane = PaneView(0)) pane->CopyToClipboard();
      break;
    case EXPLORER_ACT_PASTE: {
      // Into channel 0, through the first pane that shows it; with no such
      // pane, or nothing pasted, the action was not carried out.
      bool bPasted = false;
      for (int pane = 0; pane < kPaneCount; ++pane) {
        if (m_nPaneChannel[pane] == 0) {
          bPasted = PasteFromClipboard(pane);
          break;
        }
      }
      if (!bPasted) return false;
      break;
    }
    case EXPLORER_ACT_PROPERTIES: {
      describe();
      request.bAnswered = true;
      std::array<std::int32_t, 4> block = kPropertiesNoticeBlock;
      pq::TFrameNotice notice;
      notice.operation = pq::APP_OP_WRITE;
      notice.code = pq::FRAME_REQ_SHOW_PROPERTIES;
      notice.document = reinterpret_cast<std::intptr_t>(block.data());
      notice.payload = &request.identity;
      pq::SendAppRecord(MainWindow(), pq::WM_APP_FRAME_NOTIFY, pq::FRAME_NOTIFY_PROPERTIES, notice);
      return notice.answered != 0;
    }
    default: return false;
  }
  request.bAnswered = true;
  return true;
}

// ---------------------------------------------------------------------------
// Notices to the main frame

QObject* CZarnDoc::MainWindow() const { return shell::MainWindow(); }

void CZarnDoc::NotifyExplorer(std::int32_t code) {
  pq::TFrameNotice notice;
  notice.operation = pq::APP_OP_WRITE;
  notice.code = code;
  notice.document = m_nDocNumber;
  pq::SendAppRecord(MainWindow(), pq::WM_APP_FRAME_NOTIFY, pq::FRAME_NOTIFY_EXPLORER, notice);
}

void CZarnDoc::NotifyTabGroups() {
  pq::TFrameNotice notice;
  notice.operation = pq::APP_OP_WRITE;
  notice.code = pq::FRAME_REQ_TAB_GROUPS_CHANGED;
  pq::SendAppRecord(MainWindow(), pq::WM_APP_FRAME_NOTIFY, pq::FRAME_NOTIFY_TAB_GROUPS, notice);
}

void CZarnDoc::NotifyOpenButton(std::int32_t commandId) {
  pq::TFrameNotice notice;
  notice.operation = pq::APP_OP_WRITE;
  notice.code = commandId;
  pq::SendAppRecord(MainWindow(), pq::WM_APP_FRAME_NOTIFY, pq::FRAME_NOTIFY_OPEN_BUTTON, notice);
}

}  // namespace ZarnDoc
