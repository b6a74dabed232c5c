// Media-graph sessions beside plain GStreamer pipelines on the same files:
// time to the first frame per container, and decode-to-owner throughput and
// CPU per frame at 1080p beside
//   filesrc ! decodebin ! videoconvert ! video/x-raw,format=BGRA ! fakesink
// Counters: fps (frames per second of wall time) and cpu_ms_per_frame (CPU
// time of the whole process per frame).

#include <benchmark/benchmark.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>

#include "io/dshow/dshow_mgr.h"
#include "io/media_request.h"

using namespace ZarnTypes;

namespace {

const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    auto path = std::filesystem::temp_directory_path() / "tovrin-dshow-bench";
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

// Made once per machine with gst-launch-1.0 (kept between runs).
std::string Fixture(const std::string& name) {
  const std::string v320 =
      "videotestsrc num-buffers=50 pattern=smpte horizontal-speed=4 ! "
      "video/x-raw,format=I420,width=320,height=240,framerate=25/1";
  const std::string a = "audiotestsrc num-buffers=94 ! audio/x-raw,rate=48000,channels=2";
  const std::string out = (Folder() / name).string();
  const std::string sink = " ! filesink location=" + out;
  const std::map<std::string, std::string> recipes = {
      {"mpeg2.mpg",
       v320 + " ! mpeg2enc format=3 aspect=2 ! mplex name=m format=3" + sink + " " + a + " ! avenc_mp2 ! m."},
      {"test.mp4", v320 + " ! x264enc speed-preset=ultrafast ! h264parse ! mp4mux name=m" + sink + " " + a +
                       " ! avenc_aac ! m."},
      {"test.avi", v320 + " ! avenc_mpeg4 ! mpeg4videoparse ! avimux name=m" + sink + " " + a +
                       " ! audioconvert ! audio/x-raw,format=S16LE ! m."},
      {"test.wmv", v320 + " ! avenc_wmv2 ! identity single-segment=true ! asfmux name=m" + sink + " " + a +
                       " ! avenc_wmav2 ! m."},
      {"test.flv",
       v320 + " ! x264enc speed-preset=ultrafast ! h264parse ! flvmux name=m" + sink +
           " audiotestsrc num-buffers=87 ! audio/x-raw,rate=44100,channels=2 ! audioconvert ! lamemp3enc ! "
           "mpegaudioparse ! m."},
      {"test.dv",
       "videotestsrc num-buffers=50 ! video/x-raw,format=I420,width=720,height=576,framerate=25/1,"
       "pixel-aspect-ratio=16/15 ! avenc_dvvideo ! avmux_dv name=m" +
           sink + " audiotestsrc num-buffers=94 ! audio/x-raw,format=S16LE,rate=48000,channels=2 ! m."},
      // 1080p at a rate no decoder keeps up with: the session's clock never waits.
      {"hd.mp4",
       "videotestsrc num-buffers=120 pattern=smpte horizontal-speed=8 ! "
       "video/x-raw,format=I420,width=1920,height=1080,framerate=1000/1 ! "
       "x264enc speed-preset=ultrafast ! h264parse ! mp4mux" +
           sink},
  };
  if (!std::filesystem::exists(out)) {
    const std::string cmd = "gst-launch-1.0 -q -e " + recipes.at(name) + " > /dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return {};
  }
  return out;
}

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct TCounter {
  std::atomic<int> frames{0};
  static bool Callback(void* pContext, TMediaNotify eCode, const TMediaSender*, void* pData) {
    if (eCode != MEDIA_NOTIFY_FRAME || !pData) return false;
    auto* self = static_cast<TCounter*>(pContext);
    const auto* notice = static_cast<const TMediaFrameNotice*>(pData);
    benchmark::DoNotOptimize(notice->pRgbData[0]);
    ++self->frames;
    return true;
  }
};

// Runs one session of the purpose on the file; frames reach the counter.
bool RunSession(const std::string& path, TSourcePurpose ePurpose, TPixelFormat ePixel, TCounter* pCounter,
                TFrameBuffer* pFrame) {
  std::atomic<bool> stop{false}, end{false};
  TSourceParams params;
  params.eSenderKind = MEDIA_SENDER_DSHOW;
  params.ePurpose = ePurpose;
  params.pContext = pCounter;
  params.pStopFlag = &stop;
  params.pEndFlag = &end;
  params.pCallback = pCounter ? &TCounter::Callback : nullptr;
  TMediaRequest request;
  request.eOp = MEDIA_OP_READ;
  request.ePurpose = ePurpose;
  request.ePixelFormat = ePixel;
  request.pPath = &path;
  request.pFrameBuffer = pFrame;
  request.eTag = MEDIA_REQ_DSHOW_SOURCE;
  request.pParams = &params;
  DShowMgr::CDShowMgr session;
  return session.Run(&request);
}

// A plain pipeline run to its end (or to its first frame); frames counted.
int RunPeer(const std::string& description, bool bFirstOnly) {
  GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
  if (!pipeline) return -1;
  int frames = 0;
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  if (bFirstOnly) {
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND);
    if (sample) {
      frames = 1;
      gst_sample_unref(sample);
    }
  } else {
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (msg) gst_message_unref(msg);
    gst_object_unref(bus);
    guint64 rendered = 0;
    GstStructure* stats = nullptr;
    g_object_get(sink, "stats", &stats, nullptr);
    if (stats) {
      gst_structure_get_uint64(stats, "rendered", &rendered);
      gst_structure_free(stats);
    }
    frames = static_cast<int>(rendered);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
  return frames;
}

const char* kContainers[] = {"mpeg2.mpg", "test.mp4", "test.avi", "test.wmv", "test.flv", "test.dv"};

void BM_FirstFrame_Session(benchmark::State& state) {
  const std::string file = Fixture(kContainers[state.range(0)]);
  if (file.empty()) return state.SkipWithError("fixture could not be made");
  state.SetLabel(kContainers[state.range(0)]);
  TFrameBuffer frame;
  for (auto _ : state)
    if (!RunSession(file, SRC_GRAB_FRAME, PF_RGB32, nullptr, &frame))
      return state.SkipWithError("session failed");
  FreeFrameBuffer(&frame);
}

void BM_FirstFrame_Peer(benchmark::State& state) {
  const std::string file = Fixture(kContainers[state.range(0)]);
  if (file.empty()) return state.SkipWithError("fixture could not be made");
  state.SetLabel(kContainers[state.range(0)]);
  const std::string description =
      "filesrc location=" + file +
      " ! decodebin ! videoconvert ! video/x-raw,format=BGR ! appsink name=out sync=false";
  for (auto _ : state)
    if (RunPeer(description, true) != 1) return state.SkipWithError("peer failed");
}

void BM_Throughput1080p_Session(benchmark::State& state) {
  const std::string file = Fixture("hd.mp4");
  if (file.empty()) return state.SkipWithError("fixture could not be made");
  std::int64_t frames = 0;
  double cpu = 0.0;
  for (auto _ : state) {
    TCounter counter;
    const double start = ProcessCpuSeconds();
    if (!RunSession(file, SRC_STREAM, state.range(0) == 32 ? PF_RGB32 : PF_RGB24, &counter, nullptr))
      return state.SkipWithError("session failed");
    cpu += ProcessCpuSeconds() - start;
    frames += counter.frames;
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  state.counters["cpu_ms_per_frame"] = frames ? 1000.0 * cpu / frames : 0.0;
}

void BM_Throughput1080p_Peer(benchmark::State& state) {
  const std::string file = Fixture("hd.mp4");
  if (file.empty()) return state.SkipWithError("fixture could not be made");
  const std::string description = "filesrc location=" + file +
                                  " ! decodebin ! videoconvert ! video/x-raw,format=BGRA ! fakesink name=out";
  std::int64_t frames = 0;
  double cpu = 0.0;
  for (auto _ : state) {
    const double start = ProcessCpuSeconds();
    const int n = RunPeer(description, false);
    cpu += ProcessCpuSeconds() - start;
    if (n <= 0) return state.SkipWithError("peer failed");
    frames += n;
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  state.counters["cpu_ms_per_frame"] = frames ? 1000.0 * cpu / frames : 0.0;
}

const int kSetUp = [] {
  gst_init(nullptr, nullptr);
  setenv(DShowMgr::kAudioSinkVariable, "fakesink", 0);
  return 0;
}();

}  // namespace

BENCHMARK(BM_FirstFrame_Session)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstFrame_Peer)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Throughput1080p_Session)
    ->Arg(32)
    ->Arg(24)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_Throughput1080p_Peer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

BENCHMARK_MAIN();
