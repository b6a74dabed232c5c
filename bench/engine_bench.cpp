// The engine end to end, beside the peers in one run:
//
//  * Play: four channels of 1920 x 1080 4:2:0 raw YUV from the page cache,
//    pacing as fast as the settings allow (period 0): frames delivered into
//    the video ports per second and CPU milliseconds per delivered frame.
//    Peers on the same file, converting to BGRA:
//      ffmpeg -f rawvideo -pix_fmt yuv420p -s 1920x1080 -i f.yuv -pix_fmt bgra -f null -
//      gst-launch-1.0 filesrc ! rawvideoparse ... ! videoconvert ! video/x-raw,format=BGRA ! fakesink
//  * Decode to port, one and four channels: a 1920 x 1080 H.264 MP4 (made
//    with gst-launch-1.0 at a rate no decoder keeps up with) played through
//    the channel reader's media-graph sessions into the ports: the steady
//    CPU milliseconds per frame of the file (a play of the 120-frame file
//    less a play of a one-frame file), beside the bare pipeline and ffmpeg
//    on the same files, timed the same way:
//      gst-launch-1.0 filesrc ! decodebin ! videoconvert ! video/x-raw,format=BGRA ! fakesink
//      ffmpeg -i f.mp4 -pix_fmt bgra -f null -
//  * Four channels of one file: the spread of the frame numbers the four
//    channels show, taken at the end of every pacing round, with the
//    default pacing (tick and pacing periods 33 ms, first picture after
//    1000 ms): a 1920 x 1080 H.264 MP4 at 25 frames per second played by
//    four media-graph sessions, and the 1080p raw YUV clip. Counters:
//    spread_max and spread_mean (frames between the most and the least
//    advanced channel), in_step_share (rounds that end with all four on the
//    same frame), pair_equal_share (rounds that end with channels 1 and 2 on
//    the same frame), rounds.
//  * Replay step: one cached 1080p frame from the buffer into the port.
//  * Memory: the buffer's bytes per channel beside frame size x slots, and
//    the resident set before and after a play of 10,000 frames.
//
// Counters: fps (frames per second), cpu_ms_per_frame, and for the memory
// benchmark the byte figures.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "bench/raw_yuv_clip.h"
#include "document/engine/zarn.h"
#include "document/video_port.h"
#ifdef TOVRIN_ENGINE_BENCH_MEDIA_GRAPH
#include "io/dshow/media_session.h"
#endif
#include "io/read_stream.h"
#include "media/dib.h"
#include "platform/message_sink.h"

using namespace ZarnTypes;

namespace {

using bench_support::CpuSeconds;
using bench_support::kClipFormat;
using bench_support::kClipFrames;
constexpr std::int32_t kWidth = bench_support::kClipWidth;
constexpr std::int32_t kHeight = bench_support::kClipHeight;
constexpr std::size_t kFrameBytes = bench_support::kClipFrameBytes;

std::int64_t ResidentBytes() {
  std::ifstream status("/proc/self/statm");
  std::int64_t size = 0, resident = 0;
  status >> size >> resident;
  return resident * 4096;
}

// The raw YUV clip, and a 640 x 480 still for the long play beside it.
class TFixture : public bench_support::TRawYuvClip {
 public:
  TFixture() : TRawYuvClip("tovrin-engine-bench-") {
    Dib::TDibSection section;
    section.header.biWidth = 640;
    section.header.biHeight = 480;
    section.header.biBitCount = 24;
    section.bits.assign(section.Stride() * 480, 0x40);
    m_still = (Folder() / "still.bmp").string();
    if (!Dib::SaveDibSectionToBmpFile(m_still, section)) std::abort();
  }
  const std::string& Still() const { return m_still; }

 private:
  std::string m_still;
};

const TFixture& Fixture() {
  static const TFixture fixture;
  return fixture;
}

TMediaSource ClipSource() { return Fixture().Source(); }

// An owner with the document's readers and ports and no UI.
class TBenchOwner : public Zarn::IEngineOwner {
 public:
  TBenchOwner() {
    m_Ports.ResetAll();
    for (int ch = 0; ch < 4; ++ch) {
      m_Reader[ch] = std::make_unique<ReadStream::CReadStream>(ch);
      m_Adapter[ch] = std::make_unique<Zarn::CReadStreamChannel>(m_Reader[ch].get());
    }
    m_Config.nCtrlPeriod = 1;
    m_Config.nVideoOutPeriod = 0;
    m_Config.nVideoOutDelay = 0;
  }
  void GetSessionConfig(Zarn::TSessionConfig& config) override { config = m_Config; }
  Zarn::IChannelReader* ChannelReader(int channel) override { return m_Adapter[channel].get(); }
  void PostEngineUpdate() override {}
  void PostTimeTick() override {}
  void PostChannelSlider(int) override {}
  void PostSessionEnded() override {}
  void FrameShown(int, std::int32_t) override {
    const std::int64_t shown = m_nShown.fetch_add(1, std::memory_order_relaxed) + 1;
    // The steady state begins with the frame that completes the mark: the
    // process's CPU time then (one system call, once per session).
    if (shown == m_nMarkAt.load(std::memory_order_relaxed)) {
      m_dMarkCpu.store(CpuSeconds(RUSAGE_SELF));
      m_nMarkSwitches.store(bench_support::ContextSwitches());
      m_MarkTime.store(std::chrono::steady_clock::now().time_since_epoch().count());
    }
  }

  Zarn::TSessionConfig m_Config;
  VideoPortHub::CVideoPortHub m_Ports;
  std::unique_ptr<ReadStream::CReadStream> m_Reader[4];
  std::unique_ptr<Zarn::CReadStreamChannel> m_Adapter[4];
  std::atomic<std::int64_t> m_nShown{0};
  std::atomic<std::int64_t> m_nMarkAt{-1};  // shown count that marks the steady state
  std::atomic<double> m_dMarkCpu{0};
  std::atomic<std::int64_t> m_nMarkSwitches{0};
  std::atomic<std::int64_t> m_MarkTime{0};
};

void WaitForEnd(const Zarn::CZarn& engine) {
  while (engine.IsRunning()) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

// What the plays of a benchmark's iterations add up to.
struct TPlayTotals {
  std::int64_t frames = 0;  // shown into the ports
  double cpuSeconds = 0;
  double wallSeconds = 0;
};

// Plays the engine's session to its end once per iteration.
TPlayTotals PlayEachIteration(benchmark::State& state, Zarn::CZarn& engine, const TBenchOwner& owner) {
  TPlayTotals totals;
  for (auto _ : state) {
    const std::int64_t before = owner.m_nShown.load();
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    const auto t0 = std::chrono::steady_clock::now();
    if (!engine.StartPlaying()) state.SkipWithError("no session");
    WaitForEnd(engine);
    totals.wallSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    totals.cpuSeconds += CpuSeconds(RUSAGE_SELF) - cpu0;
    totals.frames += owner.m_nShown.load() - before;
  }
  return totals;
}

// The fps and cpu_ms_per_frame counters of plays that showed frames.
void SetFrameCounters(benchmark::State& state, const TPlayTotals& totals) {
  state.counters["fps"] = static_cast<double>(totals.frames) / totals.wallSeconds;
  state.counters["cpu_ms_per_frame"] = 1000.0 * totals.cpuSeconds / static_cast<double>(totals.frames);
}

void BM_EnginePlayFourChannels1080p(benchmark::State& state) {
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope(&sink);
  TBenchOwner owner;
  Zarn::CZarn engine(&owner, &owner.m_Ports);
  for (int ch = 0; ch < 4; ++ch) owner.m_Config.source[ch] = ClipSource();
  const bool all[4] = {true, true, true, true};
  engine.SetPlayChannels(all);
  const TPlayTotals totals = PlayEachIteration(state, engine, owner);
  if (totals.frames != static_cast<std::int64_t>(state.iterations()) * 4 * kClipFrames)
    state.SkipWithError("frames lost");
  SetFrameCounters(state, totals);
}
BENCHMARK(BM_EnginePlayFourChannels1080p)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Runs a peer program on the clip; its own CPU time comes from the children's usage.
void RunPeer(benchmark::State& state, const std::string& command) {
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    const double cpu0 = CpuSeconds(RUSAGE_CHILDREN);
    const auto t0 = std::chrono::steady_clock::now();
    const int rc = std::system(command.c_str());
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu += CpuSeconds(RUSAGE_CHILDREN) - cpu0;
    if (rc != 0) {
      state.SkipWithError(("peer failed: " + command).c_str());
      return;
    }
  }
  const double frames = static_cast<double>(state.iterations()) * kClipFrames;
  state.counters["fps"] = frames / wall;
  state.counters["cpu_ms_per_frame"] = 1000.0 * cpu / frames;
}

void BM_PeerFfmpegToBgra1080p(benchmark::State& state) {
  RunPeer(state, "ffmpeg -v error -nostdin -f rawvideo -pix_fmt yuv420p -s 1920x1080 -i '" +
                     Fixture().Clip() + "' -pix_fmt bgra -f null - >/dev/null 2>&1");
}
BENCHMARK(BM_PeerFfmpegToBgra1080p)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_PeerGstreamerToBgra1080p(benchmark::State& state) {
  RunPeer(state, "gst-launch-1.0 -q filesrc location='" + Fixture().Clip() +
                     "' ! rawvideoparse width=1920 height=1080 format=i420 ! videoconvert ! "
                     "video/x-raw,format=BGRA ! fakesink >/dev/null 2>&1");
}
BENCHMARK(BM_PeerGstreamerToBgra1080p)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// CPU seconds of a peer's run (its children's usage); negative when it failed.
double PeerCpuSeconds(const std::string& command) {
  const double cpu0 = CpuSeconds(RUSAGE_CHILDREN);
  if (std::system(command.c_str()) != 0) return -1;
  return CpuSeconds(RUSAGE_CHILDREN) - cpu0;
}

// A peer's steady CPU per frame: a run over `frames` frames less a run over
// one frame (process start-up, set-up), over the frames in between. The
// command has "{N}" where the frame count goes.
double PeerSteadyMsPerFrame(const std::string& command, int frames) {
  const auto with = [&](int n) {
    std::string c = command;
    const std::size_t at = c.find("{N}");
    if (at != std::string::npos) c.replace(at, 3, std::to_string(n));
    return PeerCpuSeconds(c);
  };
  const double one = with(1);
  const double all = with(frames);
  if (one < 0 || all < 0) return -1;
  return 1000.0 * (all - one) / (frames - 1);
}

std::string FfmpegRawToBgra(const std::string& clip) {
  return "ffmpeg -v error -nostdin -f rawvideo -pix_fmt yuv420p -s 1920x1080 -i '" + clip +
         "' -frames:v {N} -pix_fmt bgra -f null - >/dev/null 2>&1";
}

std::string GstRawToBgra(const std::string& clip) {
  return "gst-launch-1.0 -q filesrc location='" + clip +
         "' ! rawvideoparse width=1920 height=1080 format=i420 ! videoconvert ! "
         "video/x-raw,format=BGRA ! identity eos-after={N} ! fakesink >/dev/null 2>&1";
}

// The engine's steady state: CPU per frame shown from the end of every
// channel's first scene (30 frames) to the end of the session, beside the
// peers' steady CPU per frame, each peer run interleaved with the engine's.
// Counters: cpu_ms_per_frame (ours), fps (ours, steady),
// switches_per_frame (context switches of all of the engine's threads, the
// pacing thread's sleeps and wakes among them), <peer>_ms and vs_<peer>
// (ours / the peer's).
void RunSteadyBeside(benchmark::State& state, TBenchOwner& owner, Zarn::CZarn& engine, int channels,
                     int framesPerChannel, const std::vector<std::pair<std::string, std::string>>& peers,
                     int peerFrames) {
  double oursCpu = 0, oursWall = 0;
  std::int64_t oursSwitches = 0;
  std::int64_t oursFrames = 0;
  std::vector<double> peerMs(peers.size(), 0);
  std::int64_t runs = 0;
  for (auto _ : state) {
    for (std::size_t p = 0; p < peers.size(); ++p) {
      const double ms = PeerSteadyMsPerFrame(peers[p].second, peerFrames);
      if (ms < 0) {
        state.SkipWithError(("peer failed: " + peers[p].first).c_str());
        return;
      }
      peerMs[p] += ms;
    }
    const std::int64_t before = owner.m_nShown.load();
    owner.m_nMarkAt.store(before + std::int64_t{channels} * 30);
    owner.m_MarkTime.store(0);
    if (!engine.StartPlaying()) state.SkipWithError("no session");
    WaitForEnd(engine);
    const double cpuEnd = CpuSeconds(RUSAGE_SELF);
    const std::int64_t switchesEnd = bench_support::ContextSwitches();
    const auto end = std::chrono::steady_clock::now().time_since_epoch().count();
    if (owner.m_MarkTime.load() == 0) {
      state.SkipWithError("the first scene never ended");
      return;
    }
    if (owner.m_nShown.load() - before != std::int64_t{channels} * framesPerChannel) {
      state.SkipWithError("frames lost");
      return;
    }
    oursCpu += cpuEnd - owner.m_dMarkCpu.load();
    oursSwitches += switchesEnd - owner.m_nMarkSwitches.load();
    oursWall +=
        std::chrono::duration<double>(std::chrono::steady_clock::duration(end - owner.m_MarkTime.load()))
            .count();
    oursFrames += owner.m_nShown.load() - owner.m_nMarkAt.load();
    ++runs;
  }
  if (runs == 0 || oursFrames <= 0) return;
  const double ours = 1000.0 * oursCpu / static_cast<double>(oursFrames);
  state.counters["cpu_ms_per_frame"] = ours;
  state.counters["fps"] = static_cast<double>(oursFrames) / oursWall;
  state.counters["switches_per_frame"] = static_cast<double>(oursSwitches) / static_cast<double>(oursFrames);
  for (std::size_t p = 0; p < peers.size(); ++p) {
    const double peer = peerMs[p] / static_cast<double>(runs);
    state.counters[peers[p].first + "_ms"] = peer;
    state.counters["vs_" + peers[p].first] = ours / peer;
  }
}

void BM_EngineSteadyFourChannels1080pRawYuv(benchmark::State& state) {
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope(&sink);
  TBenchOwner owner;
  Zarn::CZarn engine(&owner, &owner.m_Ports);
  for (int ch = 0; ch < 4; ++ch) owner.m_Config.source[ch] = ClipSource();
  const bool all[4] = {true, true, true, true};
  engine.SetPlayChannels(all);
  RunSteadyBeside(state, owner, engine, 4, kClipFrames,
                  {{"ffmpeg", FfmpegRawToBgra(Fixture().Clip())}, {"gst", GstRawToBgra(Fixture().Clip())}},
                  kClipFrames);
}
BENCHMARK(BM_EngineSteadyFourChannels1080pRawYuv)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

// Session start with four 1080p raw YUV channels: CPU and wall time from
// StartPlaying until every channel has shown its first frame, and the CPU of
// the whole play (every slot of the buffer written once), for the first Play
// of an engine and for the Plays after it with the same sizes. Counters:
// first_cpu_ms, first_wall_ms, first_play_cpu_ms, again_cpu_ms,
// again_wall_ms, again_play_cpu_ms.
void BM_EngineSessionStartFourChannels1080p(benchmark::State& state) {
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope(&sink);
  double firstCpu = 0, firstWall = 0, againCpu = 0, againWall = 0, firstPlay = 0, againPlay = 0;
  std::int64_t firsts = 0, agains = 0;
  for (auto _ : state) {
    TBenchOwner owner;
    Zarn::CZarn engine(&owner, &owner.m_Ports);
    for (int ch = 0; ch < 4; ++ch) owner.m_Config.source[ch] = ClipSource();
    const bool all[4] = {true, true, true, true};
    engine.SetPlayChannels(all);
    for (int play = 0; play < 4; ++play) {
      const std::int64_t before = owner.m_nShown.load();
      owner.m_nMarkAt.store(before + 4);
      owner.m_MarkTime.store(0);
      const double cpu0 = CpuSeconds(RUSAGE_SELF);
      const auto t0 = std::chrono::steady_clock::now();
      if (!engine.StartPlaying()) {
        state.SkipWithError("no session");
        return;
      }
      while (owner.m_MarkTime.load() == 0 && engine.IsRunning())
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      const std::int64_t mark = owner.m_MarkTime.load();
      WaitForEnd(engine);
      (play == 0 ? firstPlay : againPlay) += 1000.0 * (CpuSeconds(RUSAGE_SELF) - cpu0);
      if (mark == 0) {
        state.SkipWithError("no frame shown");
        return;
      }
      const double cpu = 1000.0 * (owner.m_dMarkCpu.load() - cpu0);
      const double wall = 1000.0 * std::chrono::duration<double>(std::chrono::steady_clock::duration(mark) -
                                                                 t0.time_since_epoch())
                                       .count();
      (play == 0 ? firstCpu : againCpu) += cpu;
      (play == 0 ? firstWall : againWall) += wall;
      ++(play == 0 ? firsts : agains);
    }
  }
  if (firsts == 0 || agains == 0) return;
  state.counters["first_cpu_ms"] = firstCpu / static_cast<double>(firsts);
  state.counters["first_wall_ms"] = firstWall / static_cast<double>(firsts);
  state.counters["again_cpu_ms"] = againCpu / static_cast<double>(agains);
  state.counters["again_wall_ms"] = againWall / static_cast<double>(agains);
  state.counters["first_play_cpu_ms"] = firstPlay / static_cast<double>(firsts);
  state.counters["again_play_cpu_ms"] = againPlay / static_cast<double>(agains);
}
BENCHMARK(BM_EngineSessionStartFourChannels1080p)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// A 1920 x 1080 H.264 MP4 of `frames` frames at `framerate` ("25/1")
// frames per second, made beside the raw clip; empty when the encoder is
// missing.
std::string MakeMp4Clip(const std::string& name, const std::string& framerate, int frames = kClipFrames) {
  const std::string path = (Fixture().Folder() / name).string();
  const std::string caps = "video/x-raw,format=I420,width=1920,height=1080,framerate=" + framerate;
  const std::string cmd = "gst-launch-1.0 -q -e videotestsrc num-buffers=" + std::to_string(frames) +
                          " pattern=smpte horizontal-speed=4 ! " + caps +
                          " ! x264enc speed-preset=ultrafast ! h264parse ! mp4mux ! filesink location='" +
                          path + "' >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0 && std::filesystem::exists(path) ? path : std::string();
}

// The 1080p MP4 at a rate no decoder keeps up with, made once per run, and
// its first frame alone (the start-up a steady figure leaves out).
const std::string& Mp4Clip() {
  static const std::string clip = MakeMp4Clip("clip_1080p.mp4", "1000/1");
  return clip;
}
const std::string& Mp4ClipOneFrame() {
  static const std::string clip = MakeMp4Clip("clip_1080p_one.mp4", "1000/1", 1);
  return clip;
}

// The 1080p MP4 at 25 frames per second, made once per run.
const std::string& Mp4Clip25() {
  static const std::string clip = MakeMp4Clip("clip_1080p_25.mp4", "25/1");
  return clip;
}

// The channel's source record of a 1080p MP4.
TMediaSource Mp4Source(const std::string& path) {
  TMediaSource source;
  source.bOpen = TRUE_;
  source.bLoaded = TRUE_;
  source.eFileFormat = TFileFormat{FF_MPEG4};
  source.eStreamType = TStreamType{ST_MPEG4};
  source.eFramePixelFormat = PF_RGB24;
  source.nWidth = kWidth;
  source.nHeight = kHeight;
  source.sPath = path;
  return source;
}

// Media files through the media graph; false, with the benchmark skipped,
// when the program is built without it or the clip could not be made.
bool UseMediaGraphFor(benchmark::State& state, const std::string& (*clip)()) {
#ifdef TOVRIN_ENGINE_BENCH_MEDIA_GRAPH
  DShowMgr::UseMediaGraph();
#else
  state.SkipWithError("built without the media graph");
  return false;
#endif
  if (clip().empty()) {
    state.SkipWithError("no H.264 encoder to make the clip");
    return false;
  }
  return true;
}

// The peers on a file ("{F}"): each is timed on the 120-frame file less
// the one-frame file, as the engine is (a run cut after one frame of the
// long file would still decode the frames its threads took ahead).
const char* const kFfmpegMp4ToBgra =
    "ffmpeg -v error -nostdin -i '{F}' -pix_fmt bgra -f null - >/dev/null 2>&1";
// The bare pipeline: one decode, one conversion to BGRA, nothing kept.
const char* const kGstMp4ToBgra =
    "gst-launch-1.0 -q filesrc location='{F}' ! decodebin ! videoconvert ! video/x-raw,format=BGRA ! "
    "fakesink "
    ">/dev/null 2>&1";

// A peer's steady CPU per frame on the long and the one-frame file.
double PeerSteadyMsPerFileFrame(const std::string& command, const std::string& all, const std::string& one,
                                int frames) {
  const auto on = [&](const std::string& file) {
    std::string c = command;
    const std::size_t at = c.find("{F}");
    if (at != std::string::npos) c.replace(at, 3, file);
    return PeerCpuSeconds(c);
  };
  const double first = on(one);
  const double every = on(all);
  if (first < 0 || every < 0) return -1;
  return 1000.0 * (every - first) / (frames - 1);
}

// The 1080p MP4 played by `channels` media-graph channels into their ports,
// as fast as the file allows: the steady CPU per frame of the file, taken
// as the peers' is (a play of every frame less a play of the first frame
// alone, over the frames in between), beside the bare pipeline and ffmpeg
// on the same file, each peer run interleaved with the engine's. Counters:
// cpu_ms_per_frame, shown_share (frames shown into the ports of those in
// the files; the session's clock lets the decoder drop late ones), fps
// (frames shown per second, all channels, whole plays), <peer>_ms and
// vs_<peer>.
void RunMp4Steady(benchmark::State& state, int channels) {
  if (!UseMediaGraphFor(state, &Mp4Clip) || !UseMediaGraphFor(state, &Mp4ClipOneFrame)) return;
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope(&sink);
  TBenchOwner owner;
  Zarn::CZarn engine(&owner, &owner.m_Ports);
  bool play[4] = {};
  for (int ch = 0; ch < channels; ++ch) play[ch] = true;
  engine.SetPlayChannels(play);
  const std::vector<std::pair<std::string, std::string>> peers = {{"gst", kGstMp4ToBgra},
                                                                  {"ffmpeg", kFfmpegMp4ToBgra}};
  double wall = 0;
  const auto playAll = [&](const std::string& clip, std::int64_t* pShown) {
    for (int ch = 0; ch < channels; ++ch) owner.m_Config.source[ch] = Mp4Source(clip);
    const std::int64_t before = owner.m_nShown.load();
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    const auto t0 = std::chrono::steady_clock::now();
    if (!engine.StartPlaying()) return -1.0;
    WaitForEnd(engine);
    if (pShown) {
      *pShown += owner.m_nShown.load() - before;
      wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    return CpuSeconds(RUSAGE_SELF) - cpu0;
  };
  double ours = 0;
  std::vector<double> peerMs(peers.size(), 0);
  std::int64_t shown = 0, runs = 0;
  for (auto _ : state) {
    for (std::size_t p = 0; p < peers.size(); ++p) {
      const double ms = PeerSteadyMsPerFileFrame(peers[p].second, Mp4Clip(), Mp4ClipOneFrame(), kClipFrames);
      if (ms < 0) {
        state.SkipWithError(("peer failed: " + peers[p].first).c_str());
        return;
      }
      peerMs[p] += ms;
    }
    const double one = playAll(Mp4ClipOneFrame(), nullptr);
    const double all = playAll(Mp4Clip(), &shown);
    if (one < 0 || all < 0) {
      state.SkipWithError("no session");
      return;
    }
    ours += 1000.0 * (all - one) / (static_cast<double>(channels) * (kClipFrames - 1));
    ++runs;
  }
  if (runs == 0) return;
  if (shown == 0) {
    state.SkipWithError("no frame reached the ports");
    return;
  }
  const double mine = ours / static_cast<double>(runs);
  state.counters["cpu_ms_per_frame"] = mine;
  state.counters["fps"] = static_cast<double>(shown) / wall;  // all channels, whole plays
  state.counters["shown_share"] =
      static_cast<double>(shown) / (static_cast<double>(runs) * channels * kClipFrames);
  for (std::size_t p = 0; p < peers.size(); ++p) {
    const double peer = peerMs[p] / static_cast<double>(runs);
    state.counters[peers[p].first + "_ms"] = peer;
    state.counters["vs_" + peers[p].first] = mine / peer;
  }
}

void BM_EngineDecodeToPort1080pMp4(benchmark::State& state) { RunMp4Steady(state, 1); }
BENCHMARK(BM_EngineDecodeToPort1080pMp4)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_EngineSteadyFourChannels1080pMp4(benchmark::State& state) { RunMp4Steady(state, 4); }
BENCHMARK(BM_EngineSteadyFourChannels1080pMp4)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// An owner that keeps, at the end of each pacing round, how far apart the
// channels' shown frames are. The pacing thread shows the channels of a
// round in channel order, so a channel number not above the previous one
// starts a new round.
class TSpreadOwner : public TBenchOwner {
 public:
  void FrameShown(int channel, std::int32_t frameNumber) override {
    TBenchOwner::FrameShown(channel, frameNumber);
    if (channel <= m_nPrevious && m_nLast[0] >= 0 && m_nLast[1] >= 0 && m_nLast[2] >= 0 && m_nLast[3] >= 0) {
      const int most = std::max({m_nLast[0], m_nLast[1], m_nLast[2], m_nLast[3]});
      const int least = std::min({m_nLast[0], m_nLast[1], m_nLast[2], m_nLast[3]});
      m_nSpreadMax = std::max(m_nSpreadMax, most - least);
      m_nSpreadSum += most - least;
      m_nInStep += most == least ? 1 : 0;
      m_nPairEqual += m_nLast[0] == m_nLast[1] ? 1 : 0;
      ++m_nRounds;
    }
    m_nLast[channel] = frameNumber;
    m_nPrevious = channel;
  }
  void Reset() {
    for (int& last : m_nLast) last = -1;
    m_nPrevious = 4;
  }
  // Pacing thread only while a session runs.
  int m_nLast[4] = {-1, -1, -1, -1};
  int m_nPrevious = 4;
  int m_nSpreadMax = 0;
  std::int64_t m_nSpreadSum = 0, m_nInStep = 0, m_nPairEqual = 0, m_nRounds = 0;
};

void RunFourChannelSpread(benchmark::State& state, const TMediaSource& source) {
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope(&sink);
  TSpreadOwner owner;
  // The default pacing.
  owner.m_Config.nCtrlPeriod = 33;
  owner.m_Config.nVideoOutPeriod = 33;
  owner.m_Config.nVideoOutDelay = 1000;
  Zarn::CZarn engine(&owner, &owner.m_Ports);
  engine.m_nSpeed.store(100);
  engine.m_nSpeedMax.store(100);
  for (int ch = 0; ch < 4; ++ch) owner.m_Config.source[ch] = source;
  const bool all[4] = {true, true, true, true};
  engine.SetPlayChannels(all);
  for (auto _ : state) {
    owner.Reset();
    if (!engine.StartPlaying()) state.SkipWithError("no session");
    WaitForEnd(engine);
  }
  if (owner.m_nRounds == 0) {
    state.SkipWithError("no round showed all four channels");
    return;
  }
  state.counters["spread_max"] = owner.m_nSpreadMax;
  state.counters["spread_mean"] =
      static_cast<double>(owner.m_nSpreadSum) / static_cast<double>(owner.m_nRounds);
  state.counters["in_step_share"] =
      static_cast<double>(owner.m_nInStep) / static_cast<double>(owner.m_nRounds);
  state.counters["pair_equal_share"] =
      static_cast<double>(owner.m_nPairEqual) / static_cast<double>(owner.m_nRounds);
  state.counters["rounds"] = static_cast<double>(owner.m_nRounds);
  state.counters["frames_shown"] = static_cast<double>(owner.m_nShown.load());
}

void BM_EngineFourChannelSpread1080pMp4(benchmark::State& state) {
  if (!UseMediaGraphFor(state, &Mp4Clip25)) return;
  RunFourChannelSpread(state, Mp4Source(Mp4Clip25()));
}
BENCHMARK(BM_EngineFourChannelSpread1080pMp4)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_EngineFourChannelSpread1080pRawYuv(benchmark::State& state) {
  RunFourChannelSpread(state, ClipSource());
}
BENCHMARK(BM_EngineFourChannelSpread1080pRawYuv)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// One replay step of a cached 1080p frame into the port.
void BM_EngineReplayStep1080p(benchmark::State& state) {
  TBenchOwner owner;
  Zarn::CZarn engine(&owner, &owner.m_Ports);
  OOVDecodedPictureBuffer::COOVDecodedPictureBuffer& dpb = engine.m_Dpb;
  dpb.m_bChannelEnabled[0] = true;
  dpb.m_ePixelFormat[0] = TPixelFormat{kClipFormat - 2};
  dpb.m_nWidth[0] = kWidth;
  dpb.m_nHeight[0] = kHeight;
  if (!dpb.SetChannelFormats() || !dpb.AllocateBuffers()) std::abort();
  std::int32_t index = 0;
  if (!dpb.OpenChannelScene(0, 41, 0, 30, &index)) std::abort();
  std::vector<std::uint8_t> frame(kFrameBytes, 0x80);
  TMediaFrameNotice notice;
  notice.nWidth = kWidth;
  notice.nHeight = kHeight;
  notice.pY = frame.data();
  notice.pCb = frame.data() + kWidth * kHeight;
  notice.pCr = notice.pCb + kWidth * kHeight / 4;
  // 29 frames: the 30th would open the next scene and wait for free slots.
  for (int k = 0; k < 29; ++k) engine.DeliverFrameToDpb(0, 41, notice);
  engine.ReplayChannelFrame(0, 0);
  engine.ReplayChannelFrame(0, 1);  // both port pictures at full size
  int step = 1;
  for (auto _ : state) {
    if (!engine.ReplayChannelFrame(0, step)) state.SkipWithError("replay failed");
    step = -step;
  }
}
BENCHMARK(BM_EngineReplayStep1080p)->Unit(benchmark::kMicrosecond);

// A still played for 10,000 frames: resident memory at the start of the
// play and 10,000 frames later, and the buffer's block beside frame size x
// slots.
void BM_EngineLongPlayMemory(benchmark::State& state) {
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope(&sink);
  TBenchOwner owner;
  Zarn::CZarn engine(&owner, &owner.m_Ports);
  TMediaSource source;
  source.bOpen = TRUE_;
  source.bLoaded = TRUE_;
  source.eStreamType = TStreamType{26};
  source.eFileFormat = TFileFormat{27};
  source.eFramePixelFormat = PF_RGB24;
  source.nWidth = 640;
  source.nHeight = 480;
  source.sPath = Fixture().Still();
  owner.m_Config.source[0] = source;
  std::int64_t before = 0, after = 0;
  std::uint64_t dpbBytes = 0;
  auto waitShown = [&](std::int64_t target) {
    while (owner.m_nShown.load() < target) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  for (auto _ : state) {
    // Resident memory once the session runs (buffers made), and again after
    // 10,000 more frames of the same session.
    const std::int64_t start = owner.m_nShown.load();
    if (!engine.StartPlaying()) std::abort();
    waitShown(start + 100);
    before = ResidentBytes();
    waitShown(start + 10100);
    after = ResidentBytes();
    dpbBytes = engine.m_Dpb.ChannelMemoryBytes(0);
    engine.StopPlaying();
    WaitForEnd(engine);
  }
  state.counters["rss_before_bytes"] = static_cast<double>(before);
  state.counters["rss_after_bytes"] = static_cast<double>(after);
  state.counters["dpb_bytes_per_channel"] = static_cast<double>(dpbBytes);
  state.counters["frame_size_x_slots"] =
      static_cast<double>(engine.m_Dpb.m_nFrameSize[0]) * (engine.m_Dpb.m_nFrameCapacity + 1);
}
BENCHMARK(BM_EngineLongPlayMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
