// Recording four channels to Windows Media while playing, beside playing
// alone and beside the writer alone, in one run:
//
//  * Play: four channels of 1920 x 1080 32-bit RGB frames from memory (file
//    sources: the recorders run blocking, so no frame is lost and playing
//    slows to the writers' pace), played by the engine as fast as the
//    settings allow (period 0), without a recording and while each channel
//    records into its own Windows Media file through its recorder's frame
//    pipeline and writer thread (the GStreamer encoder, files in the
//    temporary folder): frames shown per second (fps), frames written per
//    second over all four files (written_fps), CPU milliseconds per frame.
//  * The writer alone: one recorder's pipeline and writer fed 1080p frames
//    from memory as fast as it takes them, no engine (writer_fps): the rate
//    the recording play can at best keep per channel.
//
// Counters: fps, written_fps, writer_fps, cpu_ms_per_frame.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "document/engine/zarn.h"
#include "document/video_port.h"
#include "io/codecs/save_stream.h"
#include "io/codecs/wm_writer.h"
#include "io/dshow/wm_sink_gst.h"
#include "platform/message_sink.h"
#include "platform/paths.h"

using namespace ZarnTypes;

namespace {

constexpr std::int32_t kWidth = 1920;
constexpr std::int32_t kHeight = 1080;
constexpr int kFrames = 60;  // per channel and play
constexpr std::size_t kFrameBytes = std::size_t{kWidth} * kHeight * 4;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A moving picture: each frame differs, so the encoder has work to do.
void Paint(std::vector<std::uint8_t>& frame, int n) {
  for (std::size_t i = 0; i < frame.size(); i += 4) {
    const std::size_t x = (i / 4) % kWidth;
    frame[i] = static_cast<std::uint8_t>(x / 8 + n * 3);
    frame[i + 1] = static_cast<std::uint8_t>((i / 4) / kWidth + n);
    frame[i + 2] = static_cast<std::uint8_t>(x / 32 * 8);
    frame[i + 3] = 0;
  }
}

const std::vector<std::vector<std::uint8_t>>& Pictures() {
  static const std::vector<std::vector<std::uint8_t>> pictures = [] {
    std::vector<std::vector<std::uint8_t>> out(8, std::vector<std::uint8_t>(kFrameBytes));
    for (int n = 0; n < 8; ++n) Paint(out[static_cast<std::size_t>(n)], n);
    return out;
  }();
  return pictures;
}

TMediaFrameNotice Notice(int n) {
  const auto& picture = Pictures()[static_cast<std::size_t>(n) % Pictures().size()];
  TMediaFrameNotice notice;
  notice.ePixelFormat = PF_RGB32;
  notice.nWidth = kWidth;
  notice.nHeight = kHeight;
  notice.pRgbData = picture.data();
  notice.nRgbSize = static_cast<std::int32_t>(picture.size());
  notice.dTime = n / 30.0;
  return notice;
}

// A file source of kFrames pictures from memory.
class TMemoryReader final : public Zarn::IChannelReader {
 public:
  bool SetSource(int, const TMediaSource&) override { return true; }
  void SetDelivery(const ReadStream::TReaderDelivery& delivery) override { m_Delivery = delivery; }
  bool Run() override {
    for (int n = 0; n < kFrames && !m_Delivery.pStopFlag->load(); ++n) {
      TMediaFrameNotice notice = Notice(n);
      m_Delivery.pFrameCallback(m_Delivery.eSenderKind, m_Delivery.ePurpose, m_Delivery.nProcId,
                                m_Delivery.pContext, &notice);
    }
    m_Delivery.pEndFlag->store(true);
    return true;
  }
  void Pause() override {}
  void Resume() override {}
  void Stop() override {}
  std::int32_t GetFirstFrame() const override { return 0; }
  std::int32_t GetFrameLimit() const override { return 0; }

 private:
  ReadStream::TReaderDelivery m_Delivery;
};

TMediaSource Source() {
  TMediaSource source;
  source.bOpen = TRUE_;
  source.bLoaded = TRUE_;
  source.eStreamType = ST_BMP;
  source.eFileFormat = FF_BMP;
  source.eFramePixelFormat = PF_RGB32;
  source.nWidth = kWidth;
  source.nHeight = kHeight;
  return source;
}

// The document's part: four recorders answering the engine's hooks.
class TBenchOwner : public Zarn::IEngineOwner {
 public:
  explicit TBenchOwner(std::filesystem::path folder) : m_Folder(std::move(folder)) {
    m_Ports.ResetAll();
    m_Config.nCtrlPeriod = 1;
    m_Config.nVideoOutPeriod = 0;
    m_Config.nVideoOutDelay = 0;
    for (int ch = 0; ch < 4; ++ch) {
      m_Config.source[ch] = Source();
      m_Recorder[ch] = std::make_unique<SaveStream::CSaveStream>(ch);
    }
  }
  void GetSessionConfig(Zarn::TSessionConfig& config) override { config = m_Config; }
  Zarn::IChannelReader* ChannelReader(int channel) override { return &m_Reader[channel]; }
  void PostEngineUpdate() override {}
  void PostTimeTick() override {}
  void PostChannelSlider(int) override {}
  void PostSessionEnded() override {}
  void FrameShown(int, std::int32_t) override { m_nShown.fetch_add(1, std::memory_order_relaxed); }
  void PrepareRecorders() override {
    if (!m_bRecord) return;
    for (int ch = 0; ch < 4; ++ch) {
      SaveStream::CSaveStream& recorder = *m_Recorder[ch];
      Zarn::TEngineChannel& channel = m_pEngine->m_Channel[ch];
      recorder.m_bSingleFile = true;
      recorder.SetOutputFileFormat(FF_WMV);
      recorder.m_bWindowsMedia = true;
      recorder.m_sSingleFileName = (m_Folder / ("channel" + std::to_string(ch) + ".wmv")).string();
      recorder.m_Session = SaveStream::MakeSession(
          ch, m_pEngine, &channel.bRecorderStop, &channel.bRecorderEnd, &m_pEngine->m_bPaused,
          &Zarn::CZarn::EngineOwnerCallback, kWidth, kHeight, PF_RGB32);
      recorder.HandOverSessionSettings(false);
      if (!recorder.Open()) channel.bRecordChannel.store(false);
    }
  }
  void CloseRecorders() override {
    for (auto& recorder : m_Recorder) {
      recorder->Close();
      m_nWritten += recorder->LastJobFramesWritten();
      if (!recorder->LastJobSucceeded()) m_bFailed = true;
    }
  }
  void PushRecordedFrame(int channel, int procId, const TMediaFrameNotice& frame) override {
    m_Recorder[channel]->PushFrame(procId, &frame);
  }
  bool PullRecordFrame(int channel, const TMediaSender* sender, void* data) override {
    return m_Recorder[channel]->PullFrame(sender, static_cast<TDataFrame*>(data));
  }

  Zarn::TSessionConfig m_Config;
  VideoPortHub::CVideoPortHub m_Ports;
  TMemoryReader m_Reader[4];
  std::unique_ptr<SaveStream::CSaveStream> m_Recorder[4];
  Zarn::CZarn* m_pEngine = nullptr;
  std::filesystem::path m_Folder;
  bool m_bRecord = false;
  std::atomic<std::int64_t> m_nShown{0};
  std::int64_t m_nWritten = 0;  // session thread only, read after the play
  bool m_bFailed = false;
};

// Four channels played to their end per iteration, recording or not.
void BM_EnginePlayFourChannels1080pRecordingWmv(benchmark::State& state) {
  const bool record = state.range(0) != 0;
  WmWriter::UseGstWmSink();
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope(&sink);
  const std::filesystem::path folder = platform::MakeTempFolder("tovrin-wm-record-bench-");
  TBenchOwner owner(folder);
  Zarn::CZarn engine(&owner, &owner.m_Ports);
  owner.m_pEngine = &engine;
  owner.m_bRecord = record;
  const bool all[4] = {true, true, true, true};
  engine.SetPlayChannels(all);
  for (auto& channel : engine.m_Channel) channel.bRecordChannel.store(record);
  engine.m_bRecording.store(record);
  std::int64_t shown = 0;
  double wall = 0, cpu = 0;
  for (auto _ : state) {
    const std::int64_t before = owner.m_nShown.load();
    const double cpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    if (!engine.StartPlaying()) state.SkipWithError("no session");
    while (engine.IsRunning()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu += CpuSeconds() - cpu0;
    shown += owner.m_nShown.load() - before;
  }
  engine.Shutdown();
  if (record &&
      (owner.m_bFailed || owner.m_nWritten != static_cast<std::int64_t>(state.iterations()) * 4 * kFrames))
    state.SkipWithError("frames lost in the recording");
  state.counters["fps"] = static_cast<double>(shown) / wall;
  state.counters["cpu_ms_per_frame"] = 1000.0 * cpu / static_cast<double>(shown);
  if (record) state.counters["written_fps"] = static_cast<double>(owner.m_nWritten) / wall;
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  WmWriter::SetWmSinkFactory(nullptr);
}
BENCHMARK(BM_EnginePlayFourChannels1080pRecordingWmv)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("recording")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

bool NoEngine(void* context, TMediaNotify code, const TMediaSender*, void* data) {
  if (code != MEDIA_NOTIFY_RECORD_FRAME)
    return code == MEDIA_NOTIFY_JOB_COUNT || code == MEDIA_NOTIFY_THREAD_STARTED;
  auto* recorder = static_cast<SaveStream::CSaveStream*>(context);
  return recorder->PullFrame(nullptr, static_cast<TDataFrame*>(data));
}

// One recorder's pipeline and writer, fed from memory as fast as it takes
// the frames: the writer's own rate at 1080p.
void BM_RecorderWriter1080pWmv(benchmark::State& state) {
  WmWriter::UseGstWmSink();
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope(&sink);
  const std::filesystem::path folder = platform::MakeTempFolder("tovrin-wm-writer-bench-");
  std::int64_t written = 0;
  double wall = 0;
  for (auto _ : state) {
    SaveStream::CSaveStream recorder(0);
    std::atomic<bool> stop{false}, finish{false}, pause{false};
    recorder.m_bSingleFile = true;
    recorder.SetOutputFileFormat(FF_WMV);
    recorder.m_bWindowsMedia = true;
    recorder.m_sSingleFileName = (folder / "writer.wmv").string();
    // The recorder is its own engine here: the callback's context.
    recorder.m_Session =
        SaveStream::MakeSession(0, &recorder, &stop, &finish, &pause, &NoEngine, kWidth, kHeight, PF_RGB32);
    recorder.HandOverSessionSettings(false);
    const auto t0 = std::chrono::steady_clock::now();
    if (!recorder.Open()) state.SkipWithError("the recorder did not open");
    for (int n = 0; n < kFrames; ++n) {
      const TMediaFrameNotice notice = Notice(n);
      recorder.PushFrame(41, &notice);
    }
    stop.store(true);
    recorder.Close();
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    written += recorder.LastJobFramesWritten();
  }
  if (written != static_cast<std::int64_t>(state.iterations()) * kFrames) state.SkipWithError("frames lost");
  state.counters["writer_fps"] = static_cast<double>(written) / wall;
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  WmWriter::SetWmSinkFactory(nullptr);
}
BENCHMARK(BM_RecorderWriter1080pWmv)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
