#include "dshow_fixtures.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <unistd.h>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>

#include "tests/support/test_support.h"

namespace dshow_test {
namespace {

// Sessions of the tests play sound into a silent sink at the stream's pace.
const bool kAudioSinkSet = [] {
  setenv("TOVRIN_AUDIO_SINK", "fakesink", 1);
  return true;
}();

// Fixtures are shared by the test processes of one machine (CTest runs
// every test in a process of its own): each is made once into a folder of
// the user's, under a name that carries a digest of how it is made, written
// under a temporary name and renamed when complete.
const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    auto path =
        std::filesystem::temp_directory_path() / ("tovrin-dshow-fixtures-" + std::to_string(getuid()));
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return path;
  }();
  return folder;
}

bool RunPipeline(const std::string& description) {
  GError* err = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &err);
  if (!pipeline) {
    if (err) g_error_free(err);
    return false;
  }
  if (err) g_error_free(err);
  bool ok = gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
  GstBus* bus = gst_element_get_bus(pipeline);
  if (ok) {
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    ok = msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
    if (msg) gst_message_unref(msg);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(bus);
  gst_object_unref(pipeline);
  return ok;
}

const std::string kV =
    "videotestsrc num-buffers=50 pattern=smpte horizontal-speed=4 ! "
    "video/x-raw,format=I420,width=320,height=240,framerate=25/1";
const std::string kA = "audiotestsrc num-buffers=94 ! audio/x-raw,rate=48000,channels=2";

std::string Describe(const std::string& name, const std::string& out) {
  const std::string sink = "filesink location=\"" + out + "\"";
  if (name == "mpeg1.mpg")
    return kV + " ! mpeg2enc format=0 ! mplex name=m format=0 ! " + sink + " " + kA + " ! avenc_mp2 ! m.";
  if (name == "mpeg2.mpg")
    return kV + " ! mpeg2enc format=3 aspect=2 ! mplex name=m format=3 ! " + sink + " " + kA +
           " ! avenc_mp2 ! m.";
  if (name == "test.mp4")
    return kV + " ! x264enc speed-preset=ultrafast ! h264parse ! mp4mux name=m ! " + sink + " " + kA +
           " ! avenc_aac ! m.";
  if (name == "test.mov")
    return kV + " ! x264enc speed-preset=ultrafast ! h264parse ! qtmux name=m ! " + sink + " " + kA +
           " ! avenc_aac ! m.";
  if (name == "test.avi")
    return kV + " ! avenc_mpeg4 ! mpeg4videoparse ! avimux name=m ! " + sink + " " + kA +
           " ! audioconvert ! audio/x-raw,format=S16LE ! m.";
  if (name == "test.wmv" || name == "test.asf")
    return kV + " ! avenc_wmv2 ! identity single-segment=true ! asfmux name=m ! " + sink + " " + kA +
           " ! avenc_wmav2 ! m.";
  if (name == "test.flv")
    return kV + " ! x264enc speed-preset=ultrafast ! h264parse ! flvmux name=m ! " + sink +
           " audiotestsrc num-buffers=87 ! audio/x-raw,rate=44100,channels=2 ! audioconvert ! lamemp3enc ! "
           "mpegaudioparse ! m.";
  if (name == "test.dv")
    return "videotestsrc num-buffers=50 pattern=smpte horizontal-speed=4 ! "
           "video/x-raw,format=I420,width=720,height=576,framerate=25/1,pixel-aspect-ratio=16/15 ! "
           "avenc_dvvideo ! "
           "avmux_dv name=m ! " +
           sink + " audiotestsrc num-buffers=94 ! audio/x-raw,format=S16LE,rate=48000,channels=2 ! m.";
  if (name == "test.mp3") return kA + " ! audioconvert ! lamemp3enc ! id3v2mux ! " + sink;
  if (name == "test.wma") return kA + " ! avenc_wmav2 ! asfmux ! " + sink;
  if (name == "test.wav") return kA + " ! audioconvert ! audio/x-raw,format=S16LE ! wavenc ! " + sink;
  return {};
}

bool Make(const std::string& name, const std::filesystem::path& out) {
  if (name == "damaged.avi") {
    // A RIFF head followed by bytes that are no media at all.
    std::string bytes =
        "RIFF\x10\x00\x00\x00"
        "AVI LIST";
    std::uint32_t x = 12345;
    for (int i = 0; i < 20000; ++i) {
      x = x * 1103515245u + 12345u;
      bytes.push_back(static_cast<char>(x >> 24));
    }
    tovrin_test::WriteAll(out, bytes);
    return true;
  }
  if (name == "truncated.mp4") {
    const auto whole = Fixture("test.mp4");
    if (whole.empty()) return false;
    auto bytes = tovrin_test::ReadAll(whole);
    bytes.resize(bytes.size() / 3);  // the index at the end is gone
    tovrin_test::WriteAll(out, bytes);
    return true;
  }
  if (name == "test.swf") {
    // A Flash movie as ffmpeg writes one (FLV1 video in SWF tags).
    const std::string cmd =
        "ffmpeg -loglevel quiet -y -f lavfi -i testsrc=size=160x120:rate=10 -t 1 -c:v flv1 -f swf " +
        tovrin_test::Quote(out) + " && echo ok";
    const auto result = tovrin_test::RunCapture(cmd);
    if (result && std::filesystem::exists(out)) return true;
    // Without the tool: an uncompressed SWF header and an end tag.
    const std::string header(
        "FWS\x06\x15\x00\x00\x00\x78\x00\x05\x5f\x00\x00\x0f\xa0\x00\x00\x0c\x01\x00\x00\x00", 23);
    tovrin_test::WriteAll(out, header);
    return true;
  }
  const std::string description = Describe(name, out.string());
  if (description.empty()) return false;
  if (description.find("mpeg2enc") != std::string::npos) {
    // The MPEG encoder library keeps its picture buffers until the process
    // ends: it runs in a process of its own, so that the tests' leak check
    // sees only what the program itself leaves behind.
    const auto result = tovrin_test::RunCapture("gst-launch-1.0 -q -e " + description + " && echo ok");
    return result && std::filesystem::exists(out);
  }
  return RunPipeline(description);
}

}  // namespace

std::filesystem::path Fixture(const std::string& name) {
  static std::recursive_mutex lock;
  static std::map<std::string, std::filesystem::path> made;
  std::lock_guard guard(lock);
  if (auto it = made.find(name); it != made.end()) return it->second;
  gst_init(nullptr, nullptr);
  const std::string recipe = Describe(name, "") + "|" + name + "|v1";
  const auto out = Folder() / (std::to_string(std::hash<std::string>{}(recipe)) + "-" + name);
  std::filesystem::path result;
  std::error_code ec;
  if (std::filesystem::exists(out, ec)) {
    result = out;
  } else {
    // The temporary name keeps the file's extension: the makers and
    // readers go by it.
    const auto partial = Folder() / ("partial-" + std::to_string(getpid()) + "-" + name);
    if (Make(name, partial)) {
      std::filesystem::rename(partial, out, ec);
      if (!ec) result = out;
    }
    std::filesystem::remove(partial, ec);
  }
  made[name] = result;
  return result;
}

static std::vector<TDecodedFrame> Decode(const std::filesystem::path& file, int nMax);

// Decoded once per file and frame count in a test process.
std::vector<TDecodedFrame> DecodeFrames(const std::filesystem::path& file, int nMax) {
  static std::mutex lock;
  static std::map<std::pair<std::string, int>, std::vector<TDecodedFrame>> decoded;
  std::lock_guard guard(lock);
  const auto key = std::make_pair(file.string(), nMax);
  auto it = decoded.find(key);
  if (it == decoded.end()) it = decoded.emplace(key, Decode(file, nMax)).first;
  return it->second;
}

static std::vector<TDecodedFrame> Decode(const std::filesystem::path& file, int nMax) {
  gst_init(nullptr, nullptr);
  std::vector<TDecodedFrame> frames;
  const std::string description =
      "filesrc location=\"" + file.string() +
      "\" ! decodebin ! videoconvert ! video/x-raw,format=BGR ! appsink name=out sync=false";
  GError* err = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &err);
  if (err) g_error_free(err);
  if (!pipeline) return frames;
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  double first = -1.0;
  while (static_cast<int>(frames.size()) < nMax) {
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND);
    if (!sample) break;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
    TDecodedFrame frame;
    gst_structure_get_int(s, "width", &frame.nWidth);
    gst_structure_get_int(s, "height", &frame.nHeight);
    frame.nStride = (frame.nWidth * 3 + 3) & ~3;
    const GstSegment* segment = gst_sample_get_segment(sample);
    const guint64 st = gst_segment_to_stream_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
    const double t = GST_CLOCK_TIME_IS_VALID(st) ? st / 1e9 : 0.0;
    if (first < 0) first = t;
    frame.dTime = t - first;
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      frame.bgr.assign(map.data, map.data + map.size);
      gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
    frames.push_back(std::move(frame));
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
  return frames;
}

int MaxDifference(const std::uint8_t* pBottomUp, int nBits, int nStride, const TDecodedFrame& frame) {
  int worst = 0;
  const int bpp = nBits / 8;
  for (int y = 0; y < frame.nHeight; ++y) {
    const std::uint8_t* ours = pBottomUp + static_cast<std::size_t>(frame.nHeight - 1 - y) * nStride;
    const std::uint8_t* theirs = frame.bgr.data() + static_cast<std::size_t>(y) * frame.nStride;
    for (int x = 0; x < frame.nWidth; ++x)
      for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(ours[x * bpp + c] - theirs[x * 3 + c]));
  }
  return worst;
}

std::size_t NearestFrame(const std::vector<TDecodedFrame>& frames, double dTime) {
  std::size_t best = 0;
  for (std::size_t i = 1; i < frames.size(); ++i)
    if (std::fabs(frames[i].dTime - dTime) < std::fabs(frames[best].dTime - dTime)) best = i;
  return best;
}

}  // namespace dshow_test

// glib's library constructor keeps one block for the life of the process;
// the leak check can only tell it by its whole call stack (glib has no frame
// pointers), so this program unwinds allocations fully, eight calls deep.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0:malloc_context_size=8"; }
