// The media document's tools: PSNR of the primary against the assistant
// channel, the picture-in-picture switches, Refresh, "Save Project..." and
// "Close From...".

#include <QWidget>

#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>

#include <pugixml.hpp>

#include "document/close_channels_dialog.h"
#include "document/command_ids.h"
#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document/zarn_view.h"
#include "options/opts_exchange.h"
#include "options/opts_page.h"
#include "options/zarn_options.h"
#include "platform/message_sink.h"
#include "platform/qt/app_messages.h"
#include "shell/document_template.h"

namespace ZarnDoc {

namespace pq = platform::qt;
using namespace ZarnTypes;

namespace {

CZarnDoc::TCloseFromPrompt& CloseFromPrompt() {
  static CZarnDoc::TCloseFromPrompt prompt;
  return prompt;
}

bool RunCloseFromDialog(const std::array<std::uint8_t, 4>& open, std::array<std::uint8_t, 4>& close) {
  CloseStreamFrom::CCloseStreamFrom dialog(shell::MainWindow());
  dialog.m_Open = open;
  if (dialog.DoModal() != QDialog::Accepted) return false;
  close = dialog.m_Close;
  return true;
}

bool SheetHasPages(std::int32_t category) {
  for (OptsPage::TOptsPageKind kind : ZarnOptions::CategoryPages(category).pages)
    if (OptsPage::HasOptionsPage(kind)) return true;
  return false;
}

// The document's option sheets: command, caption and category.
struct TDocumentSheet {
  UINT id;
  const char* caption;
  std::int32_t category;
  bool needsFirstChannel;  // enabled only while channel 1 holds a source
};
const TDocumentSheet kDocumentSheets[6] = {
    {shell::ID_VIEW_PIP_OPTIONS, "Options", OPTCAT_PIP, false},
    {shell::ID_FILE_PROPERTIES, "Document properties", OPTCAT_MEDIA_DOCUMENT, false},
    {shell::ID_FILE_FILES_OF_TYPE, "Files of type", OPTCAT_FILES_OF_TYPE, false},
    {shell::ID_FILE_SORT_BY, "SortBy", OPTCAT_FILE_SORTING, false},
    {shell::ID_CAPTURE_STREAM_OPTIONS, "Options", OPTCAT_SAVE_STREAM, true},
    {shell::ID_CAPTURE_IMAGE_OPTIONS, "Options", OPTCAT_SAVE_IMAGE, true},
};

}  // namespace

void CZarnDoc::RunDocumentSheet(UINT id) {
  const TDocumentSheet* found = nullptr;
  for (const TDocumentSheet& entry : kDocumentSheets)
    if (entry.id == id) found = &entry;
  if (!found || !SheetHasPages(found->category)) return;
  const TDocumentSheet& sheet = *found;
  // The pages exchange their settings with the document through its
  // controller pane; the sheet's answer changes nothing here.
  QWidget* owner = m_pControllerView.data();
  ZarnOptions::CZarnOptions options(QString::fromLatin1(sheet.caption), owner, sheet.category,
                                    owner ? owner : shell::MainWindow());
  {
    TModalScope modal(this);
    options.DoModal();
  }
  if (sheet.id != shell::ID_VIEW_PIP_OPTIONS) return;
  // The View toolbar's PIP buttons show what the pages left.
  pq::TFrameNotice notice;
  notice.operation = pq::APP_OP_WRITE;
  notice.code = static_cast<std::int32_t>(shell::ID_VIEW_PIP_OPTIONS);
  pq::SendAppRecord(shell::MainWindow(), pq::WM_APP_FRAME_NOTIFY, pq::FRAME_NOTIFY_VIEW_BUTTON, notice);
}

void CZarnDoc::SetCloseFromPrompt(TCloseFromPrompt prompt) { CloseFromPrompt() = std::move(prompt); }

void CZarnDoc::RegisterToolCommands() {
  m_Commands.OnCommand(shell::ID_TOOLS_PSNR, [this] { OnToolsPsnr(); });
  m_Commands.OnUpdate(shell::ID_TOOLS_PSNR, [](pq::TCmdUI& ui) { ui.Enable(true); });

  m_Commands.OnCommand(shell::ID_VIEW_PIP_PRIMARY, [this] { TogglePip(0); });
  m_Commands.OnUpdate(shell::ID_VIEW_PIP_PRIMARY, [this](pq::TCmdUI& ui) {
    ui.Enable(true);
    ui.SetCheck(m_Pip[0].bEnabled ? 1 : 0);
  });
  m_Commands.OnCommand(shell::ID_VIEW_PIP_ASSISTANT, [this] { TogglePip(1); });
  m_Commands.OnUpdate(shell::ID_VIEW_PIP_ASSISTANT, [this](pq::TCmdUI& ui) {
    ui.Enable(true);
    ui.SetCheck(m_Pip[1].bEnabled ? 1 : 0);
  });

  m_Commands.OnCommand(shell::ID_VIEW_REFRESH, [this] { OnViewRefresh(); });
  m_Commands.OnUpdate(shell::ID_VIEW_REFRESH, [](pq::TCmdUI& ui) { ui.Enable(true); });

  // The document's own option sheets. A command is offered once the program
  // has a page of its category.
  for (const TDocumentSheet& sheet : kDocumentSheets) {
    const UINT id = sheet.id;
    const std::int32_t category = sheet.category;
    const bool needsFirstChannel = sheet.needsFirstChannel;
    m_Commands.OnCommand(id, [this, id] { RunDocumentSheet(id); });
    m_Commands.OnUpdate(id, [this, category, needsFirstChannel](pq::TCmdUI& ui) {
      ui.Enable(SheetHasPages(category) && (!needsFirstChannel || m_Source[0].bOpen != 0));
    });
  }

  // View / Rotate and Reflect "Custom...": each channel's orientation.
  m_Commands.OnCommand(shell::ID_TRANSFORM_CUSTOM, [this] { RunTransformSheet(); });
  m_Commands.OnUpdate(shell::ID_TRANSFORM_CUSTOM,
                      [](pq::TCmdUI& ui) { ui.Enable(SheetHasPages(OPTCAT_TRANSFORM_2D)); });

  // Changing or saving what a document holds waits until it stops playing.
  m_Commands.OnCommand(shell::ID_FILE_SAVE_PROJECT, [] { WriteProjectXml(std::cout); });
  m_Commands.OnUpdate(shell::ID_FILE_SAVE_PROJECT,
                      [this](pq::TCmdUI& ui) { ui.Enable(!m_Engine.IsRunning()); });
  m_Commands.OnCommand(shell::ID_FILE_CLOSE_FROM, [this] { OnFileCloseFrom(); });
  m_Commands.OnUpdate(shell::ID_FILE_CLOSE_FROM,
                      [this](pq::TCmdUI& ui) { ui.Enable(!m_Engine.IsRunning()); });
}

int CZarnDoc::OnToolsPsnr() {
  // Whatever the ports show, turned as they are shown.
  const VideoPort::TPicture first = m_VideoPortHub.Port(0).FrontBitmap();
  const VideoPort::TPicture second = m_VideoPortHub.Port(1).FrontBitmap();
  double psnr = 0.0;
  const int result = (first && second) ? Dib::ComputeBitmapPsnr(*first, *second, psnr) : Dib::PSNR_FAILED;
  switch (result) {
    case Dib::PSNR_OK: {
      // The value as "%f" writes it in the C locale (six decimals, a
      // decimal point), whatever the user's locale.
      std::string text = "PSNR = %f dB";
      char number[64];
      const auto written = std::to_chars(number, number + sizeof number, psnr, std::chars_format::fixed, 6);
      text.replace(text.find("%f"), 2, number, static_cast<std::size_t>(written.ptr - number));
      platform::ShowMessage(text);
      break;
    }
    case Dib::PSNR_IDENTICAL: platform::ShowMessage("Images 1 and 2 are identical"); break;
    case Dib::PSNR_SIZE_DIFFERS:
      platform::ShowMessage("PSNR can not be calculated.\nSizes of images are different.");
      break;
    case Dib::PSNR_FAILED: platform::ShowMessage("PSNR can not be calculated."); break;
    default: break;
  }
  return result;
}

void CZarnDoc::TogglePip(int pane) {
  if (pane < 0 || pane > 1) return;
  m_Pip[pane].bEnabled = !m_Pip[pane].bEnabled;
  if (ZarnView::CZarnView* view = PaneView(pane)) view->viewport()->update();
  pq::TFrameNotice notice;
  notice.operation = pq::APP_OP_WRITE;
  notice.code =
      static_cast<std::int32_t>(pane == 0 ? shell::ID_VIEW_PIP_PRIMARY : shell::ID_VIEW_PIP_ASSISTANT);
  pq::SendAppRecord(shell::MainWindow(), pq::WM_APP_FRAME_NOTIFY, pq::FRAME_NOTIFY_VIEW_BUTTON, notice);
}

void CZarnDoc::OnViewRefresh() {
  for (int pane = 0; pane < kPaneCount; ++pane)
    if (ZarnView::CZarnView* view = PaneView(pane)) view->viewport()->update();
}

void CZarnDoc::WriteProjectXml(std::ostream& out) {
  pugi::xml_document document;
  pugi::xml_node declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "utf-8";
  document.save(out);
  out.flush();
}

void CZarnDoc::CloseChannel(int channel) {
  if (channel < 0 || channel >= kChannelCount) return;
  m_Source[channel].Reset();
  m_Format[channel].Reset();
  m_pEngineLink->Reader(channel).SetDescription(ReadStream::TReaderSource{});
  m_pEngineLink->Reader(channel).SetFrameRange(0, 0);
  TVideoPortUpdate reset;
  reset.nCommand = VPU_RESET;
  reset.nPortIndex = channel;
  reset.bResetOrientation = 1;
  reset.bResetBitmaps = 1;
  m_VideoPortHub.UpdatePort(reset);
  RefreshChannelPanes(channel, reset.bSizeChanged != 0);
  // A closed channel takes part in nothing until enabled again; the primary
  // channel always does.
  const bool primary = channel == 0;
  m_bNavigate[channel] = primary;
  m_bPlayEnable[channel] = primary;
  m_bReplayEnable[channel] = primary;
  m_bDvdNavigate[channel] = primary;
  m_bHasPicture[channel] = false;
}

void CZarnDoc::OnFileCloseFrom() {
  if (m_Engine.IsRunning()) return;
  CountOpenChannels();
  std::array<std::uint8_t, 4> close{};
  if (m_nOpenCount > 1) {
    std::array<std::uint8_t, 4> openFlags{};
    for (std::size_t ch = 0; ch < kChannelCount; ++ch) openFlags[ch] = m_Source[ch].bOpen ? 1 : 0;
    const TCloseFromPrompt& prompt = CloseFromPrompt();
    bool accepted = false;
    {
      TModalScope modal(this);
      accepted = prompt ? prompt(openFlags, close) : RunCloseFromDialog(openFlags, close);
    }
    if (!accepted) return;
  } else {
    for (std::size_t ch = 0; ch < kChannelCount; ++ch) close[ch] = m_Source[ch].bOpen ? 1 : 0;
  }
  bool closed = false;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    if (!close[static_cast<std::size_t>(ch)]) continue;
    CloseChannel(ch);
    closed = true;
  }
  CountOpenChannels();
  const TMediaSource& primary = m_Source[0];
  SetSourceDisplayName(primary.eStreamType == ST_SYSTEM_DEVICE ? primary.sDisplayName : primary.sPath, 0);
  if (closed && m_pControllerView)
    pq::SendAppMessage(m_pControllerView.data(), pq::WM_APP_CONTROLLER_UPDATE, 3, 0);
  NotifyExplorer(pq::FRAME_REQ_EXPLORER_UPDATE_DOC);
}

}  // namespace ZarnDoc
