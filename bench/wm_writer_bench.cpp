// The Windows Media writer job on GStreamer.
//
// wm/job/1920x1080: the job writes 30 frames of 1920x1080 (32-bit) held in
// memory, beside gst-launch-1.0 running the same chain on the same frames
// from a file:
//   filesrc location=f.bgrx ! rawvideoparse width=1920 height=1080
//   format=bgrx framerate=30/1 ! videoflip video-direction=vert !
//   videoconvert ! avenc_wmv2 ! identity single-segment=true ! avmux_asf !
//   filesink
// Counters: wall and CPU time per frame and frames per second of both, and
// the ratios (goal: within 1.1x).
//
// wm/profile_bit_rate: each profile's target video bit rate beside the bit
// rate the file reaches on a moving 640x480 test picture (150 frames at 30
// frames per second); the encoder has no rate control, the profile only
// chooses its quantizer range (WmWriter::WmQuantizerRange), whose table
// comes from wm/quantizer_bit_rate: the rate each range reaches on that
// picture.

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/run_beside.h"
#include "io/codecs/wm_writer.h"
#include "io/dshow/dshow_util.h"
#include "io/dshow/wm_sink_gst.h"

using namespace ZarnTypes;
using namespace WmWriter;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 30;

const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    auto path = std::filesystem::temp_directory_path() / "tovrin-wm-writer-bench";
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

// A moving picture: soft waves that travel a few pixels per frame, with a
// little texture, so that the encoder has the work of natural video.
std::vector<std::uint8_t> MovingPicture(int nIndex, int nWidth, int nHeight) {
  std::vector<std::uint8_t> picture(static_cast<std::size_t>(nWidth) * nHeight * 4);
  constexpr double kTwoPi = 6.283185307179586;
  std::vector<double> columns(nWidth);
  for (int x = 0; x < nWidth; ++x) columns[x] = 60 * std::sin(kTwoPi * (x + 6.0 * nIndex) / 97.0);
  for (int y = 0; y < nHeight; ++y) {
    const double row = 40 * std::cos(kTwoPi * (y + 3.0 * nIndex) / 71.0);
    std::uint8_t* p = picture.data() + static_cast<std::size_t>(y) * nWidth * 4;
    for (int x = 0; x < nWidth; ++x) {
      const int grain = static_cast<int>((static_cast<unsigned>(x * 7919 + y * 104729) >> 3) % 9) - 4;
      const double base = 128 + columns[x] + row + grain;
      p[x * 4 + 0] = static_cast<std::uint8_t>(std::clamp(base + 30 * std::sin((x + y) / 53.0), 0.0, 255.0));
      p[x * 4 + 1] = static_cast<std::uint8_t>(std::clamp(base, 0.0, 255.0));
      p[x * 4 + 2] = static_cast<std::uint8_t>(std::clamp(base - columns[x] / 2, 0.0, 255.0));
      p[x * 4 + 3] = 0;
    }
  }
  return picture;
}

struct TFrames {
  int nWidth = 0;
  int nHeight = 0;
  std::vector<std::vector<std::uint8_t>> pictures;
};

// The job's recorder: hands out the frames once, then raises the stop.
struct TRecorder {
  const TFrames* pFrames = nullptr;
  std::size_t nNext = 0;
  std::atomic<bool> stop{false};
};

bool RecorderCallback(void* pContext, TMediaNotify eCode, const TMediaSender*, void* pData) {
  auto* recorder = static_cast<TRecorder*>(pContext);
  if (eCode != MEDIA_NOTIFY_RECORD_FRAME) return false;
  if (recorder->nNext >= recorder->pFrames->pictures.size()) {
    recorder->stop.store(true);
    return false;
  }
  const std::size_t i = recorder->nNext++;
  TMediaFrameNotice& notice = *RecordFrameNotice(static_cast<TWmFrameRequest*>(pData));
  notice.ePixelFormat = PF_RGB32;
  notice.nWidth = recorder->pFrames->nWidth;
  notice.nHeight = recorder->pFrames->nHeight;
  notice.pRgbData = recorder->pFrames->pictures[i].data();
  notice.nRgbSize = static_cast<std::int32_t>(recorder->pFrames->pictures[i].size());
  notice.dTime = static_cast<double>(i) / 30.0;
  return true;
}

bool RunJob(const TFrames& frames, const std::filesystem::path& file, const TWmChannelSettings& settings) {
  TRecorder recorder;
  recorder.pFrames = &frames;
  TWmJobParams params;
  params.nProcId = 45;
  params.pContext = &recorder;
  params.pStopFlag = &recorder.stop;
  params.pCallback = &RecorderCallback;
  params.outputFile = file.string();
  params.nFrameRate = 30;
  params.bHaveSettings = true;
  params.settings = settings;
  TMediaRequest request;
  request.eOp = MEDIA_OP_RUN_JOB;
  request.ePurpose = SRC_WRITE_STREAM;
  request.ePixelFormat = PF_RGB32;
  request.nWidth = frames.nWidth;
  request.nHeight = frames.nHeight;
  request.eTag = MEDIA_REQ_WM_JOB;
  request.pParams = &params;
  return ConvertToWindowsMedia(&request);
}

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

void BM_Job1080p(benchmark::State& state) {
  UseGstWmSink();
  TFrames frames;
  frames.nWidth = kWidth;
  frames.nHeight = kHeight;
  for (int i = 0; i < kFrames; ++i) frames.pictures.push_back(MovingPicture(i, kWidth, kHeight));
  // The peer reads the same frames from a file (top-down rows there, which
  // costs it nothing: it flips them all the same).
  const auto raw = Folder() / "f.bgrx";
  {
    std::ofstream out(raw, std::ios::binary | std::ios::trunc);
    for (const auto& picture : frames.pictures)
      out.write(reinterpret_cast<const char*>(picture.data()), static_cast<std::streamsize>(picture.size()));
    if (!out) {
      state.SkipWithError("the peer's frames cannot be written");
      return;
    }
  }
  const auto ours = Folder() / "ours.wmv";
  const auto theirs = Folder() / "peer.wmv";
  const std::string command =
      "gst-launch-1.0 -q filesrc location=" + raw.string() +
      " ! rawvideoparse width=" + std::to_string(kWidth) + " height=" + std::to_string(kHeight) +
      " format=bgrx framerate=30/1 ! videoflip video-direction=vert ! videoconvert ! avenc_wmv2 ! identity "
      "single-segment=true ! avmux_asf ! filesink location=" +
      theirs.string() + " > /dev/null 2>&1";
  double oursCpu = 0;
  double peerCpu = 0;
  bool bPeerFailed = false;
  TWmChannelSettings settings;  // the empty profile: the encoder's defaults, as the peer's
  bench_support::RunBeside(
      state,
      [&] {
        const double start = ProcessCpuSeconds();
        const bool bOk = RunJob(frames, ours, settings);
        oursCpu += ProcessCpuSeconds() - start;
        return bOk;
      },
      [&] {
        const double start = ChildrenCpuSeconds();
        if (std::system(command.c_str()) != 0) bPeerFailed = true;
        peerCpu += ChildrenCpuSeconds() - start;
      },
      "gst_launch", "the job failed");
  if (bPeerFailed) state.SkipWithError("gst-launch-1.0 failed");
  const double n = static_cast<double>(state.iterations()) * kFrames;
  if (n <= 0) return;
  const double oursWallMs = state.counters["ms_per_frame"] / kFrames;
  const double peerWallMs = state.counters["gst_launch_ms"] / kFrames;
  state.counters["ms_per_frame"] = oursWallMs;
  state.counters["gst_launch_ms"] = peerWallMs;
  state.counters["fps"] = oursWallMs > 0 ? 1000.0 / oursWallMs : 0.0;
  state.counters["gst_launch_fps"] = peerWallMs > 0 ? 1000.0 / peerWallMs : 0.0;
  state.counters["cpu_ms_per_frame"] = oursCpu * 1000.0 / n;
  state.counters["gst_launch_cpu_ms"] = peerCpu * 1000.0 / n;
  state.counters["cpu_vs_gst_launch"] = peerCpu > 0 ? oursCpu / peerCpu : 0.0;
}
BENCHMARK(BM_Job1080p)
    ->Name("wm/job/1920x1080")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(6);

// Arguments: the profile's index in WmProfileTable(), or -1 for the empty
// profile.
void BM_ProfileBitRate(benchmark::State& state) {
  UseGstWmSink();
  const int nProfile = static_cast<int>(state.range(0));
  TWmChannelSettings settings;
  std::int32_t nTarget = 0;
  if (nProfile >= 0) {
    const auto& profile = DShowMgr::WmProfileTable().at(static_cast<std::size_t>(nProfile));
    settings.bCustomProfile = false;
    settings.profileId = profile.id;
    nTarget = profile.nVideoBitRate;
    state.SetLabel(profile.pName);
  } else {
    state.SetLabel("empty profile");
  }
  constexpr int kCount = 150;
  TFrames frames;
  frames.nWidth = 640;
  frames.nHeight = 480;
  for (int i = 0; i < kCount; ++i) frames.pictures.push_back(MovingPicture(i, 640, 480));
  const auto file = Folder() / "profile.wmv";
  for (auto _ : state) {
    if (!RunJob(frames, file, settings)) {
      state.SkipWithError("the job failed");
      return;
    }
  }
  const double seconds = kCount / 30.0;
  state.counters["target_kbps"] = nTarget / 1000.0;
  state.counters["achieved_kbps"] =
      static_cast<double>(std::filesystem::file_size(file)) * 8 / seconds / 1000.0;
}
BENCHMARK(BM_ProfileBitRate)
    ->Name("wm/profile_bit_rate")
    ->ArgName("profile")
    ->Apply([](benchmark::internal::Benchmark* b) {
      b->Arg(-1);
      for (std::size_t i = 0; i < DShowMgr::WmProfileTable().size(); ++i)
        if (DShowMgr::WmProfileTable()[i].bVideo) b->Arg(static_cast<std::int64_t>(i));
    })
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The bit rate each quantizer range reaches on the same picture: the
// measurements behind WmQuantizerRange's table. Arguments: qmin, qmax.
void BM_QuantizerBitRate(benchmark::State& state) {
  constexpr int kCount = 150;
  TFrames frames;
  frames.nWidth = 640;
  frames.nHeight = 480;
  for (int i = 0; i < kCount; ++i) frames.pictures.push_back(MovingPicture(i, 640, 480));
  const auto file = Folder() / "quantizer.wmv";
  TWmSinkFormat format;
  format.path = file.string();
  format.nWidth = frames.nWidth;
  format.nHeight = frames.nHeight;
  format.ePixelFormat = PF_RGB32;
  format.nStride = frames.nWidth * 4;
  format.nFrameRate = 30;
  format.nQuantizerMin = static_cast<std::int32_t>(state.range(0));
  format.nQuantizerMax = static_cast<std::int32_t>(state.range(1));
  format.nKeyFrameSpacing = 150;
  for (auto _ : state) {
    auto sink = MakeGstWmSink();
    bool bOk = sink->Open(format);
    for (int i = 0; bOk && i < kCount; ++i)
      bOk = sink->Write(frames.pictures[i].data(), frames.pictures[i].size(), i * kTimeUnitsPerSecond / 30,
                        kTimeUnitsPerSecond / 30);
    if (!bOk || !sink->Finish()) {
      state.SkipWithError("the sink failed");
      return;
    }
  }
  state.counters["achieved_kbps"] =
      static_cast<double>(std::filesystem::file_size(file)) * 8 / (kCount / 30.0) / 1000.0;
}
BENCHMARK(BM_QuantizerBitRate)
    ->Name("wm/quantizer_bit_rate")
    ->ArgNames({"qmin", "qmax"})
    ->Args({2, 3})
    ->Args({2, 4})
    ->Args({3, 6})
    ->Args({3, 7})
    ->Args({4, 8})
    ->Args({5, 10})
    ->Args({8, 16})
    ->Args({12, 24})
    ->Args({20, 31})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
