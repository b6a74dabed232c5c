// Recording while playing, beside playing alone, in one run:
//
//  * One channel of 1920 x 1080 4:2:0 raw YUV from the page cache, played
//    by the engine as fast as the settings allow (period 0), without a
//    recording and while recording every shown frame into one raw YUV file
//    of the same layout (in the temporary folder, so into the page cache):
//    frames shown per second and CPU milliseconds per frame. The recorded
//    play converts each shown 32-bit picture back to 4:2:0 and appends it.
//    Peer on the same clip, the same round trip into a raw YUV file:
//      ffmpeg -f rawvideo -pix_fmt yuv420p -s 1920x1080 -i f.yuv
//             -vf format=bgra,format=yuv420p -f rawvideo out.yuv
//
// Counters: fps, cpu_ms_per_frame, and for the recorded play the bytes
// recorded per frame.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/raw_yuv_clip.h"
#include "document/engine/zarn.h"
#include "document/record_writer.h"
#include "document/video_port.h"
#include "io/codecs/save_stream.h"
#include "io/read_stream.h"
#include "platform/message_sink.h"

using namespace ZarnTypes;

namespace {

using bench_support::CpuSeconds;
using bench_support::kClipFormat;
using bench_support::kClipFrameBytes;
using bench_support::kClipFrames;

const bench_support::TRawYuvClip& Fixture() {
  static const bench_support::TRawYuvClip clip("tovrin-record-bench-");
  return clip;
}

// An owner with the document's reader, ports and recording writer, no UI.
class TBenchOwner : public Zarn::IEngineOwner {
 public:
  TBenchOwner() {
    m_Ports.ResetAll();
    m_Config.nCtrlPeriod = 1;
    m_Config.nVideoOutPeriod = 0;
    m_Config.nVideoOutDelay = 0;
    m_Config.source[0] = Fixture().Source();
  }
  void GetSessionConfig(Zarn::TSessionConfig& config) override { config = m_Config; }
  Zarn::IChannelReader* ChannelReader(int channel) override { return channel == 0 ? &m_Adapter : nullptr; }
  void PostEngineUpdate() override {}
  void PostTimeTick() override {}
  void PostChannelSlider(int) override {}
  void PostSessionEnded() override {}
  void FrameShown(int channel, std::int32_t frameNumber) override {
    if (m_pWriter) m_pWriter->FrameShown(channel, frameNumber);
    m_nShown.fetch_add(1, std::memory_order_relaxed);
  }
  void PrepareRecorders() override {
    if (m_pWriter) m_pWriter->PrepareRecorders();
  }
  void CloseRecorders() override {
    if (m_pWriter && !m_pWriter->CloseRecorders()) m_bCloseFailed.store(true);
  }

  Zarn::TSessionConfig m_Config;
  VideoPortHub::CVideoPortHub m_Ports;
  ReadStream::CReadStream m_Reader{0};
  Zarn::CReadStreamChannel m_Adapter{&m_Reader};
  RecordWriter::CRecordWriter* m_pWriter = nullptr;
  std::atomic<std::int64_t> m_nShown{0};
  std::atomic<bool> m_bCloseFailed{false};
};

void PlayOneChannel(benchmark::State& state, bool record) {
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope(&sink);
  TBenchOwner owner;
  Zarn::CZarn engine(&owner, &owner.m_Ports);
  SaveStream::CSaveStream recorder(0);
  recorder.SetOutputFileFormat(kClipFormat);
  recorder.m_bSingleFile = true;
  recorder.m_sOutputFolder = Fixture().Folder().string();
  recorder.m_sPrefix = "recorded";
  recorder.m_sExtension = ".yuv";
  RecordWriter::CRecordWriter writer(engine, owner.m_Ports, {&recorder, nullptr, nullptr, nullptr});
  if (record) {
    owner.m_pWriter = &writer;
    engine.m_Channel[0].bRecordChannel.store(true);
    engine.m_bRecording.store(true);
  }
  const bool first[4] = {true, false, false, false};
  engine.SetPlayChannels(first);

  std::int64_t frames = 0, written = 0;
  double cpu = 0, wall = 0;
  std::int32_t session = 0;
  for (auto _ : state) {
    RecordWriter::TRecordStart start;
    start.bPrepare[0] = record;
    start.nSession = ++session;
    start.settings[0] = RecordWriter::SettingsOfRecorder(recorder);
    writer.SetSessionStart(start);
    const std::int64_t before = owner.m_nShown.load();
    const double cpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    if (!engine.StartPlaying()) state.SkipWithError("no session");
    while (engine.IsRunning()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu += CpuSeconds() - cpu0;
    frames += owner.m_nShown.load() - before;
    written += writer.FramesWritten(0);
    if (record) {
      std::error_code ec;
      std::filesystem::remove(recorder.m_sSingleFileName, ec);
    }
  }
  if (frames != static_cast<std::int64_t>(state.iterations()) * kClipFrames)
    state.SkipWithError("frames lost");
  if (record && (written != frames || owner.m_bCloseFailed.load() || !sink.Texts().empty()))
    state.SkipWithError("the recording lost frames");
  state.counters["fps"] = static_cast<double>(frames) / wall;
  state.counters["cpu_ms_per_frame"] = 1000.0 * cpu / static_cast<double>(frames);
  if (record) state.counters["bytes_per_frame"] = static_cast<double>(kClipFrameBytes);
}

void BM_EnginePlayOneChannel1080p(benchmark::State& state) { PlayOneChannel(state, false); }
BENCHMARK(BM_EnginePlayOneChannel1080p)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_EnginePlayOneChannel1080pRecordingRawYuv(benchmark::State& state) { PlayOneChannel(state, true); }
BENCHMARK(BM_EnginePlayOneChannel1080pRecordingRawYuv)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The peer: ffmpeg reads the same clip, converts each frame to BGRA and back
// to 4:2:0 and writes the frames to a raw YUV file in the temporary folder.
void BM_PeerFfmpegRecordRawYuv1080p(benchmark::State& state) {
  const std::string out = (Fixture().Folder() / "peer.yuv").string();
  const std::string command = "ffmpeg -v error -nostdin -y -f rawvideo -pix_fmt yuv420p -s 1920x1080 -i '" +
                              Fixture().Clip() + "' -vf format=bgra,format=yuv420p -f rawvideo '" + out +
                              "' >/dev/null 2>&1";
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    const double cpu0 = CpuSeconds(RUSAGE_CHILDREN);
    const auto t0 = std::chrono::steady_clock::now();
    const int rc = std::system(command.c_str());
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu += CpuSeconds(RUSAGE_CHILDREN) - cpu0;
    if (rc != 0) {
      state.SkipWithError("peer failed (is ffmpeg installed?)");
      return;
    }
  }
  std::error_code ec;
  std::filesystem::remove(out, ec);
  const double frames = static_cast<double>(state.iterations()) * kClipFrames;
  state.counters["fps"] = frames / wall;
  state.counters["cpu_ms_per_frame"] = 1000.0 * cpu / frames;
}
BENCHMARK(BM_PeerFfmpegRecordRawYuv1080p)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
