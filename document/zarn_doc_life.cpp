// A media document's life: its set-up with the application's start-file
// values and saved defaults, the defaults it hands back when it goes, and
// closing, which waits for a playing engine to stop.

#include <QCloseEvent>
#include <QEvent>

#include <cstring>
#include <string>
#include <type_traits>

#include "document/child_frame.h"
#include "document/command_ids.h"
#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document/zarn_doc_blocks.h"
#include "platform/message_sink.h"
#include "platform/qt/app_messages.h"
#include "shell/application.h"

namespace ZarnDoc {

namespace pq = platform::qt;
using namespace ZarnTypes;

namespace {

// Little-endian fields of the stored blocks. Writing touches only the
// field's own bytes, so padding keeps whatever the block held.
void Put32(std::uint8_t* block, std::size_t at, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  block[at] = static_cast<std::uint8_t>(v);
  block[at + 1] = static_cast<std::uint8_t>(v >> 8);
  block[at + 2] = static_cast<std::uint8_t>(v >> 16);
  block[at + 3] = static_cast<std::uint8_t>(v >> 24);
}

std::int32_t Get32(const std::uint8_t* block, std::size_t at) {
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(block[at]) | (static_cast<std::uint32_t>(block[at + 1]) << 8) |
      (static_cast<std::uint32_t>(block[at + 2]) << 16) | (static_cast<std::uint32_t>(block[at + 3]) << 24));
}

// Where a recorder's AVI settings keep the DV AVI file type (1 or 2).
constexpr std::size_t kAviFileTypeOffset = 8;

}  // namespace

namespace Blocks {

// A pane's picture-in-picture record: the enabled byte, then 13 ints.
void EncodePip(const TPictInPict& p, shell::TBlock<56>& b) {
  b[0] = p.bEnabled ? 1 : 0;
  const std::int32_t v[13] = {p.nOptionsValue, p.nInsetChannel, p.nPlacement,  p.nX,       p.nY,
                              p.nWidth,        p.nHeight,       p.nSourceRect, p.nSourceX, p.nSourceY,
                              p.nSourceWidth,  p.nSourceHeight, p.nLast};
  for (std::size_t i = 0; i < 13; ++i) Put32(b.data(), 4 + 4 * i, v[i]);
}

void DecodePip(const shell::TBlock<56>& b, TPictInPict& p) {
  p.bEnabled = b[0] != 0;
  std::int32_t* v[13] = {&p.nOptionsValue, &p.nInsetChannel, &p.nPlacement,  &p.nX,       &p.nY,
                         &p.nWidth,        &p.nHeight,       &p.nSourceRect, &p.nSourceX, &p.nSourceY,
                         &p.nSourceWidth,  &p.nSourceHeight, &p.nLast};
  for (std::size_t i = 0; i < 13; ++i) *v[i] = Get32(b.data(), 4 + 4 * i);
}

// A channel's video-pane record: flag, three values, two more, flag.
void EncodeVideoPane(const TVideoPaneSettings& s, shell::TBlock<28>& b) {
  b[0] = s.bFastStretch ? 1 : 0;
  Put32(b.data(), 4, s.nViewMode);
  Put32(b.data(), 8, s.nPlayMode);
  for (std::size_t i = 0; i < 3; ++i) Put32(b.data(), 12 + 4 * i, s.nValue[i]);
  b[24] = s.bFlag ? 1 : 0;
}

void DecodeVideoPane(const shell::TBlock<28>& b, TVideoPaneSettings& s) {
  s.bFastStretch = b[0] != 0;
  s.nViewMode = Get32(b.data(), 4);
  s.nPlayMode = Get32(b.data(), 8);
  for (std::size_t i = 0; i < 3; ++i) s.nValue[i] = Get32(b.data(), 12 + 4 * i);
  s.bFlag = b[24] != 0;
}

// The encoder records in their stored layout (a byte field is followed by
// three bytes of padding).
void EncodeJpeg2000(const TJpeg2000Settings& s, shell::TBlock<36>& b) {
  Put32(b.data(), 0, s.nFileFormat);
  b[4] = s.bReserved1;
  Put32(b.data(), 8, s.nColorSpace);
  Put32(b.data(), 12, s.nBitDepth);
  b[16] = s.bReserved2;
  Put32(b.data(), 20, s.nPaletteKind);
  Put32(b.data(), 24, s.nColorBits);
  Put32(b.data(), 28, s.nCompressionMode);
  Put32(b.data(), 32, s.nQuality);
}

void DecodeJpeg2000(const shell::TBlock<36>& b, TJpeg2000Settings& s) {
  s.nFileFormat = Get32(b.data(), 0);
  s.bReserved1 = b[4];
  s.nColorSpace = Get32(b.data(), 8);
  s.nBitDepth = Get32(b.data(), 12);
  s.bReserved2 = b[16];
  s.nPaletteKind = Get32(b.data(), 20);
  s.nColorBits = Get32(b.data(), 24);
  s.nCompressionMode = Get32(b.data(), 28);
  s.nQuality = Get32(b.data(), 32);
}

void EncodePng(const PngMgr::TPngSettings& s, shell::TBlock<28>& b) {
  Put32(b.data(), 0, s.nFileFormat);
  Put32(b.data(), 4, s.nColorType);
  Put32(b.data(), 8, s.nBitDepth);
  b[12] = s.bInterlaced;
  Put32(b.data(), 16, s.nCompressionLevel);
  Put32(b.data(), 20, s.nPaletteKind);
  Put32(b.data(), 24, s.nSignificantBits);
}

void DecodePng(const shell::TBlock<28>& b, PngMgr::TPngSettings& s) {
  s.nFileFormat = Get32(b.data(), 0);
  s.nColorType = Get32(b.data(), 4);
  s.nBitDepth = Get32(b.data(), 8);
  s.bInterlaced = b[12];
  s.nCompressionLevel = Get32(b.data(), 16);
  s.nPaletteKind = Get32(b.data(), 20);
  s.nSignificantBits = Get32(b.data(), 24);
}

void EncodeGif(const TGifSettings& s, shell::TBlock<32>& b) {
  Put32(b.data(), 0, s.nFirst);
  Put32(b.data(), 4, s.nReserved1);
  Put32(b.data(), 8, s.nReserved2);
  Put32(b.data(), 12, s.nColorSpace);
  Put32(b.data(), 16, s.nBitDepth);
  b[20] = s.bReserved;
  Put32(b.data(), 24, s.nPaletteKind);
  Put32(b.data(), 28, s.nSignificantBits);
}

void DecodeGif(const shell::TBlock<32>& b, TGifSettings& s) {
  s.nFirst = Get32(b.data(), 0);
  s.nReserved1 = Get32(b.data(), 4);
  s.nReserved2 = Get32(b.data(), 8);
  s.nColorSpace = Get32(b.data(), 12);
  s.nBitDepth = Get32(b.data(), 16);
  s.bReserved = b[20];
  s.nPaletteKind = Get32(b.data(), 24);
  s.nSignificantBits = Get32(b.data(), 28);
}

void EncodeTiff(const TTiffSettings& s, shell::TBlock<36>& b) {
  Put32(b.data(), 0, s.nReserved);
  b[4] = s.bReserved1;
  Put32(b.data(), 8, s.nColorSpace);
  Put32(b.data(), 12, s.nBitDepth);
  b[16] = s.bReserved2;
  Put32(b.data(), 20, s.nPaletteKind);
  Put32(b.data(), 24, s.nColorBits);
  Put32(b.data(), 28, s.nCompression);
  Put32(b.data(), 32, s.nQuality);
}

void DecodeTiff(const shell::TBlock<36>& b, TTiffSettings& s) {
  s.nReserved = Get32(b.data(), 0);
  s.bReserved1 = b[4];
  s.nColorSpace = Get32(b.data(), 8);
  s.nBitDepth = Get32(b.data(), 12);
  s.bReserved2 = b[16];
  s.nPaletteKind = Get32(b.data(), 20);
  s.nColorBits = Get32(b.data(), 24);
  s.nCompression = Get32(b.data(), 28);
  s.nQuality = Get32(b.data(), 32);
}

}  // namespace Blocks

using namespace Blocks;

void CZarnDoc::RegisterLifeCommands() {
  m_Commands.OnCommand(shell::ID_FILE_CLOSE, [this] { OnFileClose(); });
  m_Commands.OnUpdate(shell::ID_FILE_CLOSE, [](pq::TCmdUI& ui) { ui.Enable(true); });
}

bool CZarnDoc::SetUpDocument() {
  shell::IApplication* app = shell::TheApplication();
  if (app) {
    CopyNamingPaths(app->Params());
    m_pAppParams = &app->Params();
    m_pParamsSet = &app->ParamsSet();
    if (app->StartFileLoaded()) ApplyStartParameters(app->Params(), app->ParamsSet());
    // A block that a closed document of this run stored into counts as
    // saved settings too (the first run has none to read).
    if (app->SettingsRead() || app->ProgCfg().savedMarker == 1)
      ApplySavedDefaults(app->ProgCfg(), app->SequenceNaming(), app->ImageNaming());
  }
  // The capture writers start from the saved capture settings and names.
  LoadImageSavers();
  // The controller pane's "Get" (channels 1 and 2) and "Save" (channels 3
  // and 4) buttons.
  if (m_pControllerView) {
    connect(
        m_pControllerView.data(), &ZarnControllerView::CZarnControllerView::CaptureRequested, this,
        [this](int channel) {
          if (!CaptureChannelImage(channel))
            platform::ShowMessage("Can not capture image from the channel " + std::to_string(channel + 1));
        });
    connect(m_pControllerView.data(), &ZarnControllerView::CZarnControllerView::SaveReferenceRequested, this,
            [this](int channel) { OnSaveReference(channel); });
  }
  // Recording sessions are numbered per document.
  if (!m_bRecordSessionCounted) {
    ++m_nRecordSession;
    m_bRecordSessionCounted = true;
  }
  // The recorders start from the saved recorder settings and names, and
  // each takes its numbers and first output name.
  LoadRecorders();
  NumberRecorders();
  for (int ch = 0; ch < kChannelCount; ++ch) {
    // A capture device records in the work mode of the channel's output
    // format: DV AVI of type 1 or 2, Windows Media video or audio.
    const shell::TRecorderCfg& recorder = m_RecorderCfg[static_cast<std::size_t>(ch)];
    std::int32_t& workMode = ChannelReader(ch).DeviceSettings().nCaptureWorkMode;
    workMode = CaptureWorkModeOf(recorder.format, Get32(recorder.avi.data(), kAviFileTypeOffset));
    // No channel records until the user picks it.
    m_bRecordChannel[ch] = false;
  }
  if (m_pChildFrame) m_pChildFrame->installEventFilter(this);
  // Every document window starts here, also the one a file is opened into:
  // the explorer learns of it once.
  NotifyExplorer(pq::FRAME_REQ_EXPLORER_ADD_DOC);
  NotifyTabGroups();
  return true;
}

void CZarnDoc::CopyNamingPaths(const shell::TAppParams& params) {
  for (std::size_t ch = 0; ch < kChannelCount; ++ch) {
    m_SeqNaming[ch].dirOut = params.folders.recording[ch].folder;
    m_SeqNaming[ch].prefix = params.folders.recording[ch].prefix;
    m_ImgNaming[ch].dirOut = params.folders.capture[ch].folder;
    m_ImgNaming[ch].prefix = params.folders.capture[ch].prefix;
  }
}

void CZarnDoc::ApplyStartParameters(const shell::TAppParams& params, const shell::TChannelParamsSet& set) {
  const shell::TChannelParams& p = params.channel;
  auto take = [&set](int index, auto& member, const auto& value) {
    if (set.IsSet(index)) member = static_cast<std::remove_reference_t<decltype(member)>>(value);
  };
  take(0, ch_nDecoderID, p.ch_nDecoderID);
  take(1, ch_bIsServerDecoder, p.ch_bIsServerDecoder != 0);
  take(2, ch_bIsClientDecoder, p.ch_bIsClientDecoder != 0);
  take(3, ch_bEnableSocketServClient, p.ch_bEnableSocketServClient != 0);
  take(4, ch_sIPAddressServer, p.ch_sIPAddressServer);
  take(5, ch_sNetworkID_Server, p.ch_sNetworkID_Server);
  for (std::size_t i = 0; i < 8; ++i) {
    const int k = static_cast<int>(i);
    take(6 + k, ch_sNetworkID_Client[i], p.ch_sNetworkID_Client[i]);
    take(14 + k, ch_sClientDir_Inp[i], p.ch_sClientDir_Inp[i]);
    take(22 + k, ch_sClientDir_Out[i], p.ch_sClientDir_Out[i]);
    take(30 + k, ch_sIniFileH264_Client[i], p.ch_sIniFileH264_Client[i]);
    take(38 + k, ch_sServer_ClientDir[i], p.ch_sServer_ClientDir[i]);
  }
  take(46, ch_bEnableDecoderOOV, p.ch_bEnableDecoderOOV != 0);
  take(47, ch_sSysDirOOV, p.ch_sSysDirOOV);
  take(48, ch_sIniFileOOV, p.ch_sIniFileOOV);
  take(49, ch_sSrcDirOOV, p.ch_sSrcDirOOV);
  take(50, ch_sOOVSFileIn, p.ch_sOOVSFileIn);
  take(51, ch_sOOVSFileOut, p.ch_sOOVSFileOut);
  take(52, ch_bEnableVideoOOV, p.ch_bEnableVideoOOV != 0);
  take(53, ch_bEnableFtpSource, p.ch_bEnableFtpSource != 0);
  take(54, ch_bEnableDecoderH264, p.ch_bEnableDecoderH264 != 0);
  take(55, ch_sSysDirH264, p.ch_sSysDirH264);
  take(56, ch_sIniFileH264, p.ch_sIniFileH264);
  take(57, ch_sSrcFileH264, p.ch_sSrcFileH264);
  take(58, ch_bEnableVideoH264, p.ch_bEnableVideoH264 != 0);
  take(59, ch_bEnableSaveDecodedFramesYUV, p.ch_bEnableSaveDecodedFramesYUV != 0);
  take(60, ch_bEnableSaveDecodedFramesBmp, p.ch_bEnableSaveDecodedFramesBmp != 0);
  for (std::size_t i = 0; i < 4; ++i) {
    const int k = static_cast<int>(i);
    take(61 + k, ch_bEnableProcess[i], p.ch_bEnableProcess[i] != 0);
    take(65 + k, ch_bEnableClientProcess[i], p.ch_bEnableClientProcess[i] != 0);
  }
  take(69, ch_bEnable2XImage, p.ch_bEnable2XImage != 0);
  take(70, ch_bEnableDecoderMpeg2, p.ch_bEnableDecoderMpeg2 != 0);
  take(71, ch_nDecoderCtrlPeriod, p.ch_nDecoderCtrlPeriod);
  take(72, ch_nDecoderRequestToStopPeriod, p.ch_nDecoderRequestToStopPeriod);
  take(73, ch_nDecoderVideoOutPeriod, p.ch_nDecoderVideoOutPeriod);
  take(74, ch_nDecoderVideoOutDelay, p.ch_nDecoderVideoOutDelay);
  // The was-set flags are kept by key: the frame count's (32 bits wide in
  // the stored record) is key 75, the FTP keys follow it.
  take(75, ch_nFramesCount_RQ, p.ch_nFramesCount_RQ);
  // The decoded-picture buffer keeps the frame count it was asked for.
  m_Engine.m_Dpb.m_nRequestedFrames = ch_nFramesCount_RQ;
  take(76, ch_sFtpSiteAddr, p.ch_sFtpSiteAddr);
  take(77, ch_sFtpUserName, p.ch_sFtpUserName);
  take(78, ch_sFtpPassword, p.ch_sFtpPassword);
  take(79, ch_sRemoteFile, p.ch_sRemoteFile);
  take(80, ch_sLocalFile, p.ch_sLocalFile);
  take(81, ch_nDelayFtpBuffer, p.ch_nDelayFtpBuffer);
  // The FTP input works from its own copies, refreshed whatever was set.
  m_strFtpSite = ch_sFtpSiteAddr;
  m_strFtpUser = ch_sFtpUserName;
  m_strFtpPassword = ch_sFtpPassword;
  m_strFtpFile = ch_sRemoteFile;
}

void CZarnDoc::ApplySavedDefaults(const shell::TProgCfg& cfg,
                                  const std::array<shell::TChannelNaming, 4>& sequence,
                                  const std::array<shell::TChannelNaming, 4>& images) {
  m_bRecording = cfg.recordingOn != 0;
  m_ChannelFiles = cfg.channelFiles;
  m_CaptureCfg = cfg.capture;
  m_RecorderCfg = cfg.recorder;
  for (std::size_t ch = 0; ch < kChannelCount; ++ch) {
    m_bRecordChannel[ch] = cfg.recorder[ch].enabled != 0;
    DecodeVideoPane(cfg.videoPane[ch], m_VideoPane[ch]);
  }
  for (std::size_t pane = 0; pane < kPaneCount; ++pane) DecodePip(cfg.pictureInPicture[pane], m_Pip[pane]);

  const shell::TImageSaveCfg& s = cfg.imageSave;
  // Raw-YUV settings that could not describe a frame keep the defaults.
  if (IsYuvFileFormat(s.yuvFormat) && s.yuvWidth > 0 && s.yuvHeight > 0) {
    m_YuvOpen.nFormat = s.yuvFormat;
    m_YuvOpen.bSingleImage = s.yuvSingleImage != 0;
    m_YuvOpen.nWidth = s.yuvWidth;
    m_YuvOpen.nHeight = s.yuvHeight;
  }
  m_Encoders.nValue = s.documentValue;
  m_Encoders.nJpegQuality = s.jpegQuality;
  DecodeJpeg2000(s.jpeg2000, m_Encoders.jpeg2000);
  DecodePng(s.png, m_Encoders.png);
  DecodeGif(s.gif, m_Encoders.gif);
  DecodeTiff(s.tiff, m_Encoders.tiff);

  m_SeqNaming = sequence;
  m_ImgNaming = images;
}

void CZarnDoc::StoreSavedDefaults(shell::TProgCfg& cfg, std::array<shell::TChannelNaming, 4>& sequence,
                                  std::array<shell::TChannelNaming, 4>& images) const {
  cfg.recordingOn = m_bRecording ? 1 : 0;
  cfg.channelFiles = m_ChannelFiles;
  cfg.capture = m_CaptureCfg;
  images = m_ImgNaming;
  StoreImageSavers(cfg.capture, images);
  for (std::size_t ch = 0; ch < kChannelCount; ++ch) {
    cfg.recorder[ch] = m_RecorderCfg[ch];
    cfg.recorder[ch].enabled = m_bRecordChannel[ch] ? 1 : 0;
    EncodeVideoPane(m_VideoPane[ch], cfg.videoPane[ch]);
  }
  for (std::size_t pane = 0; pane < kPaneCount; ++pane) EncodePip(m_Pip[pane], cfg.pictureInPicture[pane]);

  shell::TImageSaveCfg& s = cfg.imageSave;
  s.documentValue = m_Encoders.nValue;
  s.yuvFormat = m_YuvOpen.nFormat;
  s.yuvSingleImage = m_YuvOpen.bSingleImage ? 1 : 0;
  s.yuvWidth = m_YuvOpen.nWidth;
  s.yuvHeight = m_YuvOpen.nHeight;
  s.jpegQuality = m_Encoders.nJpegQuality;
  EncodeJpeg2000(m_Encoders.jpeg2000, s.jpeg2000);
  EncodePng(m_Encoders.png, s.png);
  EncodeGif(m_Encoders.gif, s.gif);
  EncodeTiff(m_Encoders.tiff, s.tiff);

  sequence = m_SeqNaming;
  StoreRecorders(cfg.recorder, sequence);
}

void CZarnDoc::LoadImageSavers() {
  for (std::size_t ch = 0; ch < kChannelCount; ++ch) {
    const shell::TCaptureCfg& cfg = m_CaptureCfg[ch];
    const shell::TChannelNaming& names = m_ImgNaming[ch];
    SaveImage::CSaveImage& saver = m_ImageSaver[ch];
    saver.m_bSendToClipboard = cfg.copyToClipboard;
    saver.m_bSaveToFile = cfg.saveToFile;
    saver.m_nFileCounter = cfg.nextClipIndex;
    saver.m_nDigitCount = cfg.clipDigits;
    saver.m_nPageValue = cfg.frameDigits;
    saver.m_nPageValue2 = cfg.addSuffix;
    // A record never saved names no format: the writer keeps its own.
    if (cfg.format != 0) saver.m_eCaptureFormat = static_cast<TStreamType>(cfg.format);
    saver.m_sPageText = names.titleBase;
    saver.m_sOutputFolder = names.dirOut;
    saver.m_sPrefix = names.prefix;
    saver.m_sSuffix = names.suffix;
    if (!names.extension.empty()) saver.m_sExtension = names.extension;
  }
}

void CZarnDoc::StoreImageSavers(std::array<shell::TCaptureCfg, 4>& capture,
                                std::array<shell::TChannelNaming, 4>& images) const {
  for (std::size_t ch = 0; ch < kChannelCount; ++ch) {
    shell::TCaptureCfg& cfg = capture[ch];
    shell::TChannelNaming& names = images[ch];
    const SaveImage::CSaveImage& saver = m_ImageSaver[ch];
    cfg.copyToClipboard = saver.m_bSendToClipboard;
    cfg.saveToFile = saver.m_bSaveToFile;
    cfg.nextClipIndex = saver.m_nFileCounter;
    cfg.clipDigits = saver.m_nDigitCount;
    cfg.frameDigits = saver.m_nPageValue;
    cfg.addSuffix = static_cast<std::uint8_t>(saver.m_nPageValue2);
    cfg.format = saver.m_eCaptureFormat;
    names.titleBase = saver.m_sPageText;
    names.dirOut = saver.m_sOutputFolder;
    names.prefix = saver.m_sPrefix;
    names.suffix = saver.m_sSuffix;
    names.extension = saver.m_sExtension;
  }
}

// ---------------------------------------------------------------------------
// Closing

bool CZarnDoc::CanCloseFrame() const { return !m_Engine.IsRunning(); }

void CZarnDoc::OnCloseDocument() {
  if (m_bClosed) return;
  m_bClosed = true;
  NotifyExplorer(pq::FRAME_REQ_EXPLORER_REMOVE_DOC);
  if (shell::IApplication* app = shell::TheApplication()) {
    StoreSavedDefaults(app->ProgCfg(), app->SequenceNaming(), app->ImageNaming());
    app->ProgCfg().savedMarker = 1;
  }
}

bool CZarnDoc::eventFilter(QObject* watched, QEvent* event) {
  // The frame closes when the document does not play (a playing one is
  // stopped first and closed again later).
  if (event->type() == QEvent::Close && watched == m_pChildFrame.data() && !m_Engine.IsRunning())
    OnCloseDocument();
  return QObject::eventFilter(watched, event);
}

void CZarnDoc::SetCloseWait(int intervalMs, int tries) {
  m_nCloseWaitMs = intervalMs > 0 ? intervalMs : 1;
  m_nCloseMaxTries = tries > 0 ? tries : 1;
}

bool CZarnDoc::CloseWaiting() const { return m_pCloseTimer && m_pCloseTimer->isActive(); }

CZarnDoc::TModalScope::TModalScope(CZarnDoc* doc) : m_pDoc(doc) {
  if (m_pDoc) ++m_pDoc->m_nSheetsUp;
}

CZarnDoc::TModalScope::~TModalScope() {
  if (!m_pDoc) return;
  // A close that came while the sheet or dialog was up runs now that the
  // last one is gone, from the event loop, not from inside its caller.
  if (--m_pDoc->m_nSheetsUp == 0 && m_pDoc->m_bCloseAfterSheet) {
    m_pDoc->m_bCloseAfterSheet = false;
    CZarnDoc* doc = m_pDoc.data();
    QTimer::singleShot(0, doc, [doc] { doc->OnFileClose(); });
  }
}

void CZarnDoc::OnFileClose() {
  if (!m_Engine.IsRunning()) {
    // Not under a sheet of the document, whose pages read it.
    if (ModalUp()) {
      m_bCloseAfterSheet = true;
      return;
    }
    if (m_pChildFrame)
      m_pChildFrame->close();
    else
      OnCloseDocument();
    return;
  }
  if (!m_Engine.StopRequested()) m_Engine.StopPlaying();
  // One waiter per document: a second Close while it waits changes nothing.
  if (CloseWaiting()) return;
  if (!m_pCloseTimer) {
    m_pCloseTimer = new QTimer(this);
    connect(m_pCloseTimer, &QTimer::timeout, this, [this] { OnCloseWaitTick(); });
  }
  m_nCloseTries = 0;
  m_pCloseTimer->start(m_nCloseWaitMs);
}

void CZarnDoc::OnCloseWaitTick() {
  ++m_nCloseTries;
  if (!m_Engine.IsRunning()) {
    m_pCloseTimer->stop();
    // The close runs again once this tick is done.
    QTimer::singleShot(0, this, [this] { OnFileClose(); });
    return;
  }
  // The engine did not stop in time: the document stays open.
  if (m_nCloseTries >= m_nCloseMaxTries) m_pCloseTimer->stop();
}

}  // namespace ZarnDoc
