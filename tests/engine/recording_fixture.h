#pragma once
// Recording through the engine in tests: an engine owner with four stream
// recorders that records the selected channels into single Windows Media
// files (opened at the session's start, answering the engine's recorder
// hooks, closed at its end, as the document does), and a channel reader that
// delivers a list of bottom-up RGB pictures.

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "document/engine/zarn.h"
#include "io/codecs/save_stream.h"
#include "tests/engine/engine_fixture.h"

namespace engine_test {

// Delivers `count` pictures of one layout through the frame callback, the
// picture of frame k made by `paint` into the buffer (bottom-up rows); with
// `hold` the source stays open after its last frame until the stop.
class TPictureReader final : public Zarn::IChannelReader {
 public:
  using TPaint = std::function<void(int k, std::uint8_t* pBottomUp)>;
  TPictureReader(int width, int height, ZarnTypes::TPixelFormat format, int count, TPaint paint,
                 bool hold = false)
      : m_Width(width),
        m_Height(height),
        m_Format(format),
        m_Count(count),
        m_Paint(std::move(paint)),
        m_bHold(hold) {}
  static int Stride(int width, ZarnTypes::TPixelFormat format) {
    return ((width * (format == ZarnTypes::PF_RGB24 ? 24 : 32) + 31) / 32) * 4;
  }
  bool SetSource(int, const ZarnTypes::TMediaSource&) override { return true; }
  void SetDelivery(const ReadStream::TReaderDelivery& delivery) override { m_Delivery = delivery; }
  bool Run() override {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(Stride(m_Width, m_Format)) * m_Height, 0);
    ZarnTypes::TMediaFrameNotice notice;
    notice.ePixelFormat = m_Format;
    notice.nWidth = m_Width;
    notice.nHeight = m_Height;
    notice.pRgbData = bytes.data();
    notice.nRgbSize = static_cast<std::int32_t>(bytes.size());
    for (int k = 0; k < m_Count; ++k) {
      if (m_Delivery.pStopFlag->load()) return true;
      m_Paint(k, bytes.data());
      notice.dTime = k / 30.0;
      m_Delivery.pFrameCallback(m_Delivery.eSenderKind, m_Delivery.ePurpose, m_Delivery.nProcId,
                                m_Delivery.pContext, &notice);
      m_nDelivered.fetch_add(1);
    }
    m_Delivery.pEndFlag->store(true);
    if (m_bHold)
      while (!m_Delivery.pStopFlag->load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
  }
  void Pause() override {}
  void Resume() override {}
  void Stop() override {}
  std::int32_t GetFirstFrame() const override { return 0; }
  std::int32_t GetFrameLimit() const override { return 0; }

  std::atomic<int> m_nDelivered{0};

 private:
  int m_Width;
  int m_Height;
  ZarnTypes::TPixelFormat m_Format;
  int m_Count;
  TPaint m_Paint;
  bool m_bHold;
  ReadStream::TReaderDelivery m_Delivery;
};

// The channel's source record of a still picture of the layout.
inline ZarnTypes::TMediaSource PictureSource(int width, int height, ZarnTypes::TPixelFormat format) {
  ZarnTypes::TMediaSource source;
  source.bOpen = TRUE_;
  source.bLoaded = TRUE_;
  source.eState = ZarnTypes::SOURCE_STATE_LOADED;
  source.eStreamType = ZarnTypes::ST_BMP;
  source.eFileFormat = ZarnTypes::FF_BMP;
  source.eFramePixelFormat = format;
  source.nWidth = width;
  source.nHeight = height;
  return source;
}

class TRecordingOwner final : public TTestOwner {
 public:
  TRecordingOwner() {
    for (int ch = 0; ch < 4; ++ch)
      recorders[static_cast<std::size_t>(ch)] = std::make_unique<SaveStream::CSaveStream>(ch);
  }
  // Session thread: each recording channel's recorder takes the session
  // record and its settings and opens.
  void PrepareRecorders() override {
    for (int ch = 0; ch < 4; ++ch) {
      if (!record[ch]) continue;
      SaveStream::CSaveStream& recorder = *recorders[static_cast<std::size_t>(ch)];
      Zarn::TEngineChannel& channel = pEngine->m_Channel[ch];
      recorder.m_bSingleFile = true;
      recorder.SetOutputFileFormat(ZarnTypes::FF_WMV);
      recorder.m_bWindowsMedia = true;
      recorder.m_sSingleFileName = File(ch);
      const ZarnTypes::TMediaSource& source = m_Config.source[ch];
      recorder.m_Session = SaveStream::MakeSession(ch, pEngine, &channel.bRecorderStop, &channel.bRecorderEnd,
                                                   &pEngine->m_bPaused, &Zarn::CZarn::EngineOwnerCallback,
                                                   source.nWidth, source.nHeight, source.eFramePixelFormat);
      recorder.HandOverSessionSettings(live[ch]);
      if (!recorder.Open()) channel.bRecordChannel.store(false);
    }
  }
  void CloseRecorders() override {
    for (auto& recorder : recorders) recorder->Close();
  }
  void PushRecordedFrame(int channel, int procId, const ZarnTypes::TMediaFrameNotice& frame) override {
    recorders[static_cast<std::size_t>(channel)]->PushFrame(procId, &frame);
  }
  bool PullRecordFrame(int channel, const ZarnTypes::TMediaSender* sender, void* data) override {
    return recorders[static_cast<std::size_t>(channel)]->PullFrame(sender,
                                                                   static_cast<ZarnTypes::TDataFrame*>(data));
  }
  std::string File(int channel) const {
    const std::string& own = fileName[static_cast<std::size_t>(channel)];
    return own.empty() ? folder + "/channel" + std::to_string(channel) + ".wmv" : own;
  }

  Zarn::CZarn* pEngine = nullptr;
  std::string folder;
  bool record[4] = {};
  bool live[4] = {};
  std::array<std::string, 4> fileName;  // empty: channel<n>.wmv in the folder
  std::array<std::unique_ptr<SaveStream::CSaveStream>, 4> recorders;
};

}  // namespace engine_test
