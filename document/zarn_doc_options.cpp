// The document's side of the option pages: the topics of the shared
// category message, the media-document page's block, the three decoder
// settings groups, and the Tools "Options..." and "More Options..." sheets.
#include <QString>

#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "media/device_kinds.h"
#include "options/opts_tree.h"
#include "options/zarn_options.h"
#include "shell/command_ids.h"
#include "shell/document_template.h"

namespace ZarnDoc {

using namespace ZarnTypes;
namespace pq = platform::qt;

namespace {

std::uint8_t Byte(bool value) { return value ? 1 : 0; }

// The caption of the document's options sheets, and whether they may change
// anything: nothing while the engine runs.
QString OptionsCaption(bool running) {
  return running ? QStringLiteral("Options (Read only)") : QStringLiteral("Options");
}

}  // namespace

pq::LRESULT CZarnDoc::OnOptsCategory(pq::WPARAM topic, pq::LPARAM lParam) {
  switch (static_cast<std::int32_t>(topic)) {
    case OPTTOPIC_MEDIA_DOCUMENT:
      if (auto* block = OptsBlockOf<TMediaDocumentExchange>(lParam)) ExchangeMediaDocumentSettings(*block);
      return 1;
    case OPTTOPIC_VIDEO_PANE:
      if (auto* block = OptsBlockOf<TVideoPaneExchange>(lParam)) ExchangeVideoPaneSettings(*block);
      return 1;
    case OPTTOPIC_SAVE_STREAM:
      if (auto* block = OptsBlockOf<TSaveStreamExchange>(lParam)) ExchangeSaveStreamSettings(*block);
      return 1;
    case OPTTOPIC_SAVE_IMAGE:
      if (auto* block = OptsBlockOf<TSaveImageExchange>(lParam)) ExchangeSaveImageSettings(*block);
      return 1;
    case OPTTOPIC_TRANSFORM_2D:
      if (auto* block = OptsBlockOf<TTransform2DExchange>(lParam)) ExchangeTransform2D(*block);
      return 1;
    // The pages of these topics have not been built yet: nothing answers
    // them, so they report that their data is not available.
    case OPTTOPIC_FILES_OF_TYPE:
    case OPTTOPIC_FILE_SORTING:
    case OPTTOPIC_READ_STREAM:
    case OPTTOPIC_DIRECTSHOW:
    case OPTTOPIC_DVD_AUDIO:
    case OPTTOPIC_DVD_CAPTION:
    case OPTTOPIC_DVD_ANGLE:
    case OPTTOPIC_DVD_NAVIGATE: return 0;
    case 15: return 1;  // known, and answered by nobody
    default: return 0;  // 4, 7, 16 and any other
  }
}

void CZarnDoc::ExchangeMediaDocumentSettings(TMediaDocumentExchange& block) {
  switch (block.header.op) {
    case OPTS_XCHG_READ:
      block.identifier = &m_strDocName;
      block.title = &m_strDocTitle;
      for (int ch = 0; ch < kChannelCount; ++ch) {
        block.sources[ch] = &m_Source[ch];
        block.formats[ch] = &m_Format[ch];
      }
      break;
    case OPTS_XCHG_WRITE: break;  // the page changes nothing
    case OPTS_XCHG_APPLY: {
      // More information on a DVD channel, only for the channel as the
      // page knows it; a channel outside 0..3 is refused.
      const TMediaInfoRequest* request = block.request;
      if (block.requestKind != MEDIA_INFO_REQUEST_MORE || !request || !request->text) return;
      if (request->channel < 0 || request->channel >= kChannelCount) return;
      const TMediaSource& source = m_Source[request->channel];
      if (request->streamType != source.eStreamType || request->deviceCategory != source.nDeviceCategory ||
          request->deviceKind != source.nDeviceKind || request->deviceKind != SDC_DVD)
        return;
      // No DVD graph plays here: the text stays empty.
      request->text->clear();
      break;
    }
    default: return;
  }
  block.header.answered = 1;
}

void CZarnDoc::ExchangeOovSettings(TOovSettingsExchange& block) {
  if (block.header.op == OPTS_XCHG_READ) {
    block.enableDecoder = Byte(ch_bEnableDecoderOOV);
    block.sysDir = ch_sSysDirOOV;
    block.iniFile = ch_sIniFileOOV;
    block.srcDir = ch_sSrcDirOOV;
    block.fileIn = ch_sOOVSFileIn;
    block.fileOut = ch_sOOVSFileOut;
    block.enableVideo = Byte(ch_bEnableVideoOOV);
    block.enableFtpSource = Byte(ch_bEnableFtpSource);
  } else if (block.header.op == OPTS_XCHG_WRITE) {
    ch_bEnableDecoderOOV = block.enableDecoder != 0;
    ch_sSysDirOOV = block.sysDir;
    ch_sIniFileOOV = block.iniFile;
    ch_sSrcDirOOV = block.srcDir;
    ch_sOOVSFileIn = block.fileIn;
    ch_sOOVSFileOut = block.fileOut;
    ch_bEnableVideoOOV = block.enableVideo != 0;
    ch_bEnableFtpSource = block.enableFtpSource != 0;
  } else {
    return;
  }
  block.header.answered = 1;
}

void CZarnDoc::ExchangeH264Settings(TH264SettingsExchange& block) {
  if (block.header.op == OPTS_XCHG_READ) {
    block.enableDecoder = Byte(ch_bEnableDecoderH264);
    block.sysDir = ch_sSysDirH264;
    block.iniFile = ch_sIniFileH264;
    block.srcFile = ch_sSrcFileH264;
    block.enableVideo = Byte(ch_bEnableVideoH264);
    block.saveDecodedFramesYuv = Byte(ch_bEnableSaveDecodedFramesYUV);
    block.saveDecodedFramesBmp = Byte(ch_bEnableSaveDecodedFramesBmp);
    for (int i = 0; i < 4; ++i) {
      block.enableProcess[i] = Byte(ch_bEnableProcess[i]);
      block.enableClientProcess[i] = Byte(ch_bEnableClientProcess[i]);
    }
    block.enable2XImage = Byte(ch_bEnable2XImage);
  } else if (block.header.op == OPTS_XCHG_WRITE) {
    ch_bEnableDecoderH264 = block.enableDecoder != 0;
    ch_sSysDirH264 = block.sysDir;
    ch_sIniFileH264 = block.iniFile;
    ch_sSrcFileH264 = block.srcFile;
    ch_bEnableVideoH264 = block.enableVideo != 0;
    ch_bEnableSaveDecodedFramesYUV = block.saveDecodedFramesYuv != 0;
    ch_bEnableSaveDecodedFramesBmp = block.saveDecodedFramesBmp != 0;
    for (int i = 0; i < 4; ++i) {
      ch_bEnableProcess[i] = block.enableProcess[i] != 0;
      ch_bEnableClientProcess[i] = block.enableClientProcess[i] != 0;
    }
    ch_bEnable2XImage = block.enable2XImage != 0;
  } else {
    return;
  }
  block.header.answered = 1;
}

void CZarnDoc::ExchangeThirdGroupSettings(TDocStrings3Exchange& block) {
  if (block.header.op == OPTS_XCHG_READ) {
    block.first = Byte(m_DocStrings3.bFirst);
    for (int i = 0; i < 3; ++i) block.s[i] = m_DocStrings3.s[i];
    block.last = Byte(m_DocStrings3.bLast);
  } else if (block.header.op == OPTS_XCHG_WRITE) {
    m_DocStrings3.bFirst = block.first != 0;
    for (int i = 0; i < 3; ++i) m_DocStrings3.s[i] = block.s[i];
    m_DocStrings3.bLast = block.last != 0;
  } else {
    return;
  }
  block.header.answered = 1;
}

int CZarnDoc::RunOptionsSheet(bool tree) {
  const bool running = m_Engine.IsRunning();
  QWidget* owner = m_pControllerView.data();
  QWidget* parent = owner ? owner : shell::MainWindow();
  int result = 0;
  TModalScope modal(this);
  if (tree) {
    OptsTree::COptsTree sheet(OptionsCaption(running), owner, parent);
    sheet.SetCategory(OPTCAT_DOCUMENT);
    sheet.SetReadOnly(running);
    result = sheet.DoModal();
  } else {
    ZarnOptions::CZarnOptions sheet(OptionsCaption(running), owner, OPTCAT_DOCUMENT, parent);
    sheet.SetReadOnly(running);
    result = sheet.DoModal();
  }
  return result;
}

void CZarnDoc::RegisterOptionsCommands() {
  m_Commands.OnCommand(shell::ID_TOOLS_OPTIONS, [this] { RunOptionsSheet(false); });
  m_Commands.OnUpdate(shell::ID_TOOLS_OPTIONS, [](pq::TCmdUI& ui) { ui.Enable(true); });
  // Kept out of the menus and toolbars, but it runs when sent.
  m_Commands.OnCommand(shell::ID_TOOLS_MORE_OPTIONS, [this] { RunOptionsSheet(true); });
  m_Commands.OnUpdate(shell::ID_TOOLS_MORE_OPTIONS, [](pq::TCmdUI& ui) { ui.Enable(true); });
}

}  // namespace ZarnDoc
