// The document's side of the "Save stream" and "Capture image" pages:
// every setting of the four recorders and the four capture writers, the
// channels' record flags and the document's recording switch. Settings
// change only while the engine is stopped; the recorders and writers take
// them at the next session start or capture.

#include <algorithm>

#include "document/zarn_doc.h"
#include "document/zarn_doc_record_cfg.h"

namespace ZarnDoc {

using namespace ZarnTypes;

void CZarnDoc::ExchangeSaveStreamSettings(TSaveStreamExchange& block) {
  const bool read = block.header.op == OPTS_XCHG_READ;
  if (!read && block.header.op != OPTS_XCHG_WRITE) return;
  // Nothing changes under a running session.
  if (!read && m_Engine.IsRunning()) return;
  if (read) {
    block.identifier = &m_strDocName;
    block.title = &m_strDocTitle;
    for (int ch = 0; ch < kChannelCount; ++ch) block.sources[ch] = &m_Source[ch];
    block.recordingOn = m_bRecording.load() ? 1 : 0;
  } else {
    m_bRecording = block.recordingOn != 0;
  }
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const auto index = static_cast<std::size_t>(ch);
    SaveStream::CSaveStream& recorder = m_Recorder[index];
    TSaveStreamChannel& c = block.channels[ch];
    std::int32_t& workMode = ChannelReader(ch).DeviceSettings().nCaptureWorkMode;
    shell::TRecorderCfg cfg = m_RecorderCfg[index];
    shell::TChannelNaming names = m_SeqNaming[index];
    if (read) {
      RecorderToCfg(recorder, cfg, names);
      c.enabled = m_bRecordChannel[ch] ? 1 : 0;
      c.streamType = recorder.m_eOutputStreamType;
      c.format = cfg.format;
      c.singleFile = cfg.singleFile;
      c.singlePath = names.saveSingle;
      c.folder = names.dirOut;
      c.spare = recorder.m_sSpareName1;
      c.titleBase = names.titleBase;
      c.prefix = names.prefix;
      c.suffix = names.suffix;
      c.extension = names.extension;
      c.clipDigits = cfg.clipDigits;
      c.frameDigits = cfg.frameDigits;
      c.samplingMethod = cfg.samplingMethod;
      c.timeBegin = cfg.timeBegin;
      c.timeEnd = cfg.timeEnd;
      c.timeStep = cfg.timeStep;
      c.sampleBegin = cfg.sampleBegin;
      c.sampleEnd = cfg.sampleEnd;
      c.sampleStep = cfg.sampleStep;
      c.addSuffix = cfg.addSuffix;
      c.nextClipIndex = NextClipNumber(ch);
      c.jpegQuality = cfg.jpegQuality;
      c.jpeg2000 = cfg.jpeg2000;
      c.png = cfg.png;
      c.gif = cfg.gif;
      c.tiff = cfg.tiff;
      c.avi = cfg.avi;
      c.windowsMedia = cfg.windowsMedia;
      c.pipEnabled = cfg.pipEnabled;
      c.primaryAsIs = cfg.primaryAsShown;
      c.captureWorkMode = workMode;
    } else {
      cfg.singleFile = c.singleFile != 0 ? 1 : 0;
      cfg.clipDigits = c.clipDigits;
      cfg.frameDigits = c.frameDigits;
      cfg.samplingMethod = c.samplingMethod;
      cfg.timeBegin = c.timeBegin;
      cfg.timeEnd = c.timeEnd;
      cfg.timeStep = c.timeStep;
      cfg.sampleBegin = c.sampleBegin;
      cfg.sampleEnd = c.sampleEnd;
      cfg.sampleStep = c.sampleStep;
      cfg.addSuffix = c.addSuffix != 0 ? 1 : 0;
      cfg.format = c.format;
      cfg.jpegQuality = c.jpegQuality;
      cfg.jpeg2000 = c.jpeg2000;
      cfg.png = c.png;
      cfg.gif = c.gif;
      cfg.tiff = c.tiff;
      cfg.avi = c.avi;
      cfg.windowsMedia = c.windowsMedia;
      cfg.pipEnabled = c.pipEnabled != 0 ? 1 : 0;
      cfg.primaryAsShown = c.primaryAsIs != 0 ? 1 : 0;
      names.saveSingle = c.singlePath;
      names.dirOut = c.folder;
      names.titleBase = c.titleBase;
      names.prefix = c.prefix;
      names.suffix = c.suffix;
      names.extension = c.extension;
      // The output format also sets the stream type.
      RecorderFromCfg(recorder, cfg, names, true);
      recorder.m_sSpareName1 = c.spare;
      m_bRecordChannel[ch] = c.enabled != 0;
      SetNextClipNumber(ch, c.nextClipIndex);
      workMode = c.captureWorkMode;
    }
  }
  block.header.answered = 1;
}

void CZarnDoc::ExchangeSaveImageSettings(TSaveImageExchange& block) {
  const bool read = block.header.op == OPTS_XCHG_READ;
  if (!read && block.header.op != OPTS_XCHG_WRITE) return;
  if (!read && m_Engine.IsRunning()) return;
  if (read) {
    block.identifier = &m_strDocName;
    block.title = &m_strDocTitle;
    for (int ch = 0; ch < kChannelCount; ++ch) block.sources[ch] = &m_Source[ch];
  }
  for (int ch = 0; ch < kChannelCount; ++ch) {
    SaveImage::CSaveImage& w = m_ImageSaver[static_cast<std::size_t>(ch)];
    TSaveImageChannel& c = block.channels[ch];
    if (read) {
      c.copyToClipboard = w.m_bSendToClipboard;
      c.saveToFile = w.m_bSaveToFile;
      c.format = w.m_eCaptureFormat;
      c.singleFile = static_cast<std::uint8_t>(w.m_nReserved2 != 0);
      c.singlePath = w.m_sPageText2;
      c.folder = w.m_sOutputFolder;
      c.prefix = w.m_sPrefix;
      c.titleBase = w.m_sPageText;
      c.suffix = w.m_sSuffix;
      c.extension = w.m_sExtension;
      c.clipDigits = w.m_nDigitCount;
      c.frameDigits = w.m_nPageValue;
      c.addSuffix = static_cast<std::uint8_t>(w.m_nPageValue2 != 0);
      // The number a capture of the stopped document takes next.
      c.nextClipIndex = w.m_nFileCounter < kMaxClipIndex ? w.m_nFileCounter + 1 : kMaxClipIndex;
      c.documentFlag = static_cast<std::uint8_t>(w.m_nReserved3 != 0);
    } else {
      w.m_bSendToClipboard = c.copyToClipboard != 0 ? 1 : 0;
      w.m_bSaveToFile = c.saveToFile != 0 ? 1 : 0;
      w.m_eCaptureFormat = static_cast<TStreamType>(c.format);
      w.m_nReserved2 = c.singleFile != 0 ? 1 : 0;
      w.m_sPageText2 = c.singlePath;
      w.m_sOutputFolder = c.folder;
      w.m_sPrefix = c.prefix;
      w.m_sPageText = c.titleBase;
      w.m_sSuffix = c.suffix;
      w.m_sExtension = c.extension;
      w.m_nDigitCount = c.clipDigits;
      w.m_nPageValue = c.frameDigits;
      w.m_nPageValue2 = c.addSuffix != 0 ? 1 : 0;
      w.m_nFileCounter = std::clamp(c.nextClipIndex, 0, kMaxClipIndex) - 1;
      w.m_nReserved3 = c.documentFlag != 0 ? 1 : 0;
    }
  }
  block.header.answered = 1;
}

}  // namespace ZarnDoc
