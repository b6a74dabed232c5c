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

namespace {

// The two directions of an exchange: a read copies the document's value
// into the page's channel record, a write copies it back. Flags travel as
// 0 or 1.
struct TToChannel {
  template <class TChannel, class TOwn>
  void operator()(TChannel& channel, const TOwn& own) const {
    channel = own;
  }
  template <class TOwn>
  void Flag(std::uint8_t& channel, const TOwn& own) const {
    channel = own != 0 ? 1 : 0;
  }
};
struct TFromChannel {
  template <class TChannel, class TOwn>
  void operator()(const TChannel& channel, TOwn& own) const {
    own = channel;
  }
  template <class TOwn>
  void Flag(const std::uint8_t& channel, TOwn& own) const {
    own = channel != 0 ? 1 : 0;
  }
};

// The recorder settings a "Save stream" channel record carries, paired
// with where the document keeps them.
template <class TCopy>
void EachStreamField(TSaveStreamChannel& c, shell::TRecorderCfg& cfg, shell::TChannelNaming& names,
                     const TCopy& copy) {
  copy(c.format, cfg.format);
  copy.Flag(c.singleFile, cfg.singleFile);
  copy(c.singlePath, names.saveSingle);
  copy(c.folder, names.dirOut);
  copy(c.titleBase, names.titleBase);
  copy(c.prefix, names.prefix);
  copy(c.suffix, names.suffix);
  copy(c.extension, names.extension);
  copy(c.clipDigits, cfg.clipDigits);
  copy(c.frameDigits, cfg.frameDigits);
  copy(c.samplingMethod, cfg.samplingMethod);
  copy(c.timeBegin, cfg.timeBegin);
  copy(c.timeEnd, cfg.timeEnd);
  copy(c.timeStep, cfg.timeStep);
  copy(c.sampleBegin, cfg.sampleBegin);
  copy(c.sampleEnd, cfg.sampleEnd);
  copy(c.sampleStep, cfg.sampleStep);
  copy.Flag(c.addSuffix, cfg.addSuffix);
  copy(c.jpegQuality, cfg.jpegQuality);
  copy(c.jpeg2000, cfg.jpeg2000);
  copy(c.png, cfg.png);
  copy(c.gif, cfg.gif);
  copy(c.tiff, cfg.tiff);
  copy(c.avi, cfg.avi);
  copy(c.windowsMedia, cfg.windowsMedia);
  copy.Flag(c.pipEnabled, cfg.pipEnabled);
  copy.Flag(c.primaryAsIs, cfg.primaryAsShown);
}

// The capture-writer settings a "Capture image" channel record carries.
template <class TCopy>
void EachImageField(TSaveImageChannel& c, SaveImage::CSaveImage& w, const TCopy& copy) {
  copy.Flag(c.copyToClipboard, w.m_bSendToClipboard);
  copy.Flag(c.saveToFile, w.m_bSaveToFile);
  copy.Flag(c.singleFile, w.m_nReserved2);
  copy(c.singlePath, w.m_sPageText2);
  copy(c.folder, w.m_sOutputFolder);
  copy(c.prefix, w.m_sPrefix);
  copy(c.titleBase, w.m_sPageText);
  copy(c.suffix, w.m_sSuffix);
  copy(c.extension, w.m_sExtension);
  copy(c.clipDigits, w.m_nDigitCount);
  copy(c.frameDigits, w.m_nPageValue);
  copy.Flag(c.addSuffix, w.m_nPageValue2);
  copy.Flag(c.documentFlag, w.m_nReserved3);
}

}  // namespace

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
      EachStreamField(c, cfg, names, TToChannel{});
      c.enabled = m_bRecordChannel[ch] ? 1 : 0;
      c.streamType = recorder.m_eOutputStreamType;
      c.spare = recorder.m_sSpareName1;
      c.nextClipIndex = NextClipNumber(ch);
      c.captureWorkMode = workMode;
    } else {
      EachStreamField(c, cfg, names, TFromChannel{});
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
      EachImageField(c, w, TToChannel{});
      c.format = w.m_eCaptureFormat;
      // The number a capture of the stopped document takes next.
      c.nextClipIndex = w.m_nFileCounter < kMaxClipIndex ? w.m_nFileCounter + 1 : kMaxClipIndex;
    } else {
      EachImageField(c, w, TFromChannel{});
      w.m_eCaptureFormat = static_cast<TStreamType>(c.format);
      w.m_nFileCounter = std::clamp(c.nextClipIndex, 0, kMaxClipIndex) - 1;
    }
  }
  block.header.answered = 1;
}

}  // namespace ZarnDoc
