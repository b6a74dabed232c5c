// The MNG writer and reader at 1920 x 1080 on a natural-looking picture
// (1/f value noise with fine grain: flat patterns compress far better than
// camera pictures).
//
//   mng/writer/workers:N   frames per second of the recorder's MNG writer
//                          with N compression workers, beside bare compress2
//                          level 9 of the same rows (goal: one worker within
//                          1.15x of it; four at least 3x one)
//   mng/reader             the display loop of a 1080p file, frame by frame,
//                          beside bare mng_readdisplay of the same file into
//                          a canvas (goal: within 1.1x)

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/run_beside.h"
#include "io/codecs/mng_lib.h"
#include "io/codecs/mng_mgr.h"
#include "io/media_request.h"
#include "media/frame_processor.h"

namespace {

using namespace ZarnTypes;

constexpr std::int32_t kWidth = 1920;
constexpr std::int32_t kHeight = 1080;

// A bottom-up 32-bit frame of 1/f value noise (luma, smoother chroma) with
// a grain of +-2, different for every seed.
std::vector<std::uint8_t> NaturalFrame(std::uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<float> luma(static_cast<std::size_t>(kWidth) * kHeight, 0.0f);
  std::vector<float> chroma(luma.size(), 0.0f);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  // Octaves of bilinear value noise, amplitude halving with the frequency.
  for (int octave = 0; octave < 7; ++octave) {
    const int cell = 256 >> octave;
    const int gw = kWidth / cell + 2;
    const int gh = kHeight / cell + 2;
    std::vector<float> grid(static_cast<std::size_t>(gw) * gh);
    for (float& v : grid) v = unit(random);
    const float amplitude = 60.0f / static_cast<float>(1 << octave);
    for (int y = 0; y < kHeight; ++y) {
      const float fy = static_cast<float>(y) / cell;
      const int y0 = static_cast<int>(fy);
      const float ty = fy - y0;
      for (int x = 0; x < kWidth; ++x) {
        const float fx = static_cast<float>(x) / cell;
        const int x0 = static_cast<int>(fx);
        const float tx = fx - x0;
        const float a = grid[static_cast<std::size_t>(y0) * gw + x0];
        const float b = grid[static_cast<std::size_t>(y0) * gw + x0 + 1];
        const float c = grid[static_cast<std::size_t>(y0 + 1) * gw + x0];
        const float d = grid[static_cast<std::size_t>(y0 + 1) * gw + x0 + 1];
        const float v = (a * (1 - tx) + b * tx) * (1 - ty) + (c * (1 - tx) + d * tx) * ty;
        luma[static_cast<std::size_t>(y) * kWidth + x] += v * amplitude;
        if (octave < 3) chroma[static_cast<std::size_t>(y) * kWidth + x] += v * amplitude * 0.5f;
      }
    }
  }
  std::uniform_int_distribution<int> grain(-2, 2);
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(kWidth) * kHeight * 4);
  const auto clamp = [](float v) {
    return static_cast<std::uint8_t>(std::lround(std::fmin(255.0f, std::fmax(0.0f, v))));
  };
  for (std::size_t i = 0; i < luma.size(); ++i) {
    const float y = 128.0f + luma[i];
    const float u = chroma[i];
    frame[i * 4 + 0] = clamp(y + u + static_cast<float>(grain(random)));
    frame[i * 4 + 1] = clamp(y + static_cast<float>(grain(random)));
    frame[i * 4 + 2] = clamp(y - u + static_cast<float>(grain(random)));
    frame[i * 4 + 3] = 0xFF;
  }
  return frame;
}

const std::vector<std::vector<std::uint8_t>>& Frames() {
  static const std::vector<std::vector<std::uint8_t>> frames = [] {
    std::vector<std::vector<std::uint8_t>> made;
    for (std::uint32_t i = 0; i < 4; ++i) made.push_back(NaturalFrame(i + 1));
    return made;
  }();
  return frames;
}

// Hands out `count` frames, then raises the stop.
struct TFrameSource {
  int count = 0;
  int next = 0;
  std::atomic<bool> stop{false};
  std::atomic<bool> end{false};
  static bool Callback(void* context, TMediaNotify code, const TMediaSender*, void* data) {
    auto* self = static_cast<TFrameSource*>(context);
    if (code != MEDIA_NOTIFY_RECORD_FRAME) return false;
    if (self->next >= self->count) {
      self->stop = true;
      return false;
    }
    const std::vector<std::uint8_t>& frame =
        Frames()[static_cast<std::size_t>(self->next++) % Frames().size()];
    auto* notice = reinterpret_cast<TMediaFrameNotice*>(static_cast<TDataFrame*>(data)->pData);
    notice->ePixelFormat = PF_RGB32;
    notice->nWidth = kWidth;
    notice->nHeight = kHeight;
    notice->pRgbData = frame.data();
    notice->nRgbSize = static_cast<std::int32_t>(frame.size());
    return true;
  }
};

bool WriteFile(const std::string& path, int frames, int workers) {
  TFrameSource source;
  source.count = frames;
  std::string out = path;
  MngMgr::TMngParams params;
  params.nProcId = 45;
  params.eSenderKind = MEDIA_SENDER_RECORDER;
  params.ePurpose = SRC_WRITE_STREAM;
  params.pContext = &source;
  params.pStopFlag = &source.stop;
  params.pEndFlag = &source.end;
  params.pCallback = &TFrameSource::Callback;
  params.nCompressionWorkers = workers;
  TMediaRequest request;
  request.eOp = MEDIA_OP_RUN_JOB;
  request.ePurpose = SRC_WRITE_STREAM;
  request.ePixelFormat = PF_RGB32;
  request.pOutputPath = &out;
  request.nWidth = kWidth;
  request.nHeight = kHeight;
  request.eTag = MEDIA_REQ_MNG;
  request.pParams = &params;
  MngMgr::CMngMgr writer;
  return writer.Write(&request);
}

std::string TempPath(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string("tovrin-mng-bench-") + name)).string();
}

// Eight frames a run; the peer compresses the same eight frames' rows.
constexpr int kFramesPerRun = 8;

// RunBeside's means are per run of kFramesPerRun frames: frames per second
// of ours and of the peer, and the per-frame times.
void SetFrameRates(benchmark::State& state, const std::string& peer) {
  auto& c = state.counters;
  if (c.find("ms_per_frame") == c.end() || c[peer + "_ms"].value <= 0) return;
  const double oursRun = c["ms_per_frame"].value;
  const double peerRun = c[peer + "_ms"].value;
  c["ms_per_frame"] = oursRun / kFramesPerRun;
  c[peer + "_ms"] = peerRun / kFramesPerRun;
  c["frames_per_second"] = kFramesPerRun * 1000.0 / oursRun;
  c[peer + "_frames_per_second"] = kFramesPerRun * 1000.0 / peerRun;
}

void BM_MngWriter(benchmark::State& state) {
  const int workers = static_cast<int>(state.range(0));
  const std::string path = TempPath("write.mng");
  std::vector<std::vector<std::uint8_t>> rows;
  for (const auto& frame : Frames()) {
    rows.emplace_back(static_cast<std::size_t>(1 + 3 * kWidth) * kHeight);
    MngMgr::FrameToRows(frame.data(), kWidth * 4, PF_RGB32, kWidth, kHeight, rows.back().data());
  }
  std::vector<std::uint8_t> out(compressBound(static_cast<uLong>(rows[0].size())));
  bench_support::RunBeside(
      state, [&] { return WriteFile(path, kFramesPerRun, workers); },
      [&] {
        for (int i = 0; i < kFramesPerRun; ++i) {
          const auto& r = rows[static_cast<std::size_t>(i) % rows.size()];
          uLongf n = static_cast<uLongf>(out.size());
          compress2(out.data(), &n, r.data(), static_cast<uLong>(r.size()), 9);
        }
      },
      "compress2", "the MNG writer failed");
  SetFrameRates(state, "compress2");
  std::filesystem::remove(path);
}
BENCHMARK(BM_MngWriter)
    ->Name("mng/writer")
    ->ArgName("workers")
    ->Arg(1)
    ->Arg(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Bare libmng: mng_readdisplay into a BGR8 canvas without waits.
struct TBare {
  std::FILE* file = nullptr;
  std::vector<std::uint8_t> canvas;
  std::uint32_t width = 0, height = 0;
  int frames = 0;
};
mng_ptr MNG_DECL BareAlloc(mng_size_t n) { return std::calloc(1, n); }
void MNG_DECL BareFree(mng_ptr p, mng_size_t) { std::free(p); }
mng_bool MNG_DECL BareOpen(mng_handle) { return MNG_TRUE; }
mng_bool MNG_DECL BareRead(mng_handle h, mng_ptr buf, mng_uint32 n, mng_uint32p read) {
  auto* b = static_cast<TBare*>(mng_get_userdata(h));
  *read = static_cast<mng_uint32>(std::fread(buf, 1, n, b->file));
  return MNG_TRUE;
}
mng_bool MNG_DECL BareHeader(mng_handle h, mng_uint32 w, mng_uint32 hh) {
  auto* b = static_cast<TBare*>(mng_get_userdata(h));
  b->width = w;
  b->height = hh;
  b->canvas.assign(static_cast<std::size_t>((w * 3 + 3) / 4 * 4) * hh, 0);
  return mng_set_canvasstyle(h, MNG_CANVAS_BGR8) == MNG_NOERROR;
}
mng_ptr MNG_DECL BareLine(mng_handle h, mng_uint32 line) {
  auto* b = static_cast<TBare*>(mng_get_userdata(h));
  return b->canvas.data() + static_cast<std::size_t>(b->height - 1 - line) * ((b->width * 3 + 3) / 4 * 4);
}
mng_bool MNG_DECL BareRefresh(mng_handle h, mng_uint32, mng_uint32, mng_uint32, mng_uint32) {
  ++static_cast<TBare*>(mng_get_userdata(h))->frames;
  return MNG_TRUE;
}
mng_uint32 MNG_DECL BareTicks(mng_handle) { return 0; }
mng_bool MNG_DECL BareTimer(mng_handle, mng_uint32) { return MNG_TRUE; }

int BareReadDisplay(const std::string& path) {
  TBare bare;
  bare.file = std::fopen(path.c_str(), "rb");
  if (!bare.file) return 0;
  mng_handle h = mng_initialize(&bare, BareAlloc, BareFree, MNG_NULL);
  mng_set_storechunks(h, MNG_FALSE);
  mng_set_cacheplayback(h, MNG_FALSE);
  mng_setcb_openstream(h, BareOpen);
  mng_setcb_closestream(h, BareOpen);
  mng_setcb_readdata(h, BareRead);
  mng_setcb_processheader(h, BareHeader);
  mng_setcb_getcanvasline(h, BareLine);
  mng_setcb_refresh(h, BareRefresh);
  mng_setcb_gettickcount(h, BareTicks);
  mng_setcb_settimer(h, BareTimer);
  mng_retcode rc = mng_readdisplay(h);
  while (rc == MNG_NEEDTIMERWAIT || rc == MNG_NEEDMOREDATA) rc = mng_display_resume(h);
  mng_cleanup(&h);
  std::fclose(bare.file);
  return bare.frames;
}

bool ReadWithTheReader(const std::string& path, int* pFrames) {
  std::atomic<bool> stop{false};
  std::atomic<bool> end{false};
  struct TCount {
    int frames = 0;
    static bool Callback(void* context, TMediaNotify code, const TMediaSender*, void*) {
      if (code == MEDIA_NOTIFY_FRAME) ++static_cast<TCount*>(context)->frames;
      return true;
    }
  } count;
  std::string file = path;
  MngMgr::TMngParams params;
  params.nProcId = 41;
  params.ePurpose = SRC_STREAM;
  params.pContext = &count;
  params.pStopFlag = &stop;
  params.pEndFlag = &end;
  params.pCallback = &TCount::Callback;
  TMediaRequest request;
  request.eOp = MEDIA_OP_READ;
  request.ePurpose = SRC_STREAM;
  request.ePixelFormat = PF_RGB24;
  request.pPath = &file;
  request.eTag = MEDIA_REQ_MNG;
  request.pParams = &params;
  MngMgr::CMngMgr reader;
  reader.SetPaced(false);
  const bool ok = reader.Run(&request);
  *pFrames = count.frames;
  return ok;
}

void BM_MngReader(benchmark::State& state) {
  const std::string path = TempPath("read.mng");
  if (!WriteFile(path, kFramesPerRun, 4)) {
    state.SkipWithError("the file could not be written");
    return;
  }
  int frames = 0;
  bench_support::RunBeside(
      state, [&] { return ReadWithTheReader(path, &frames) && frames == kFramesPerRun; },
      [&] { benchmark::DoNotOptimize(BareReadDisplay(path)); }, "mng_readdisplay", "the MNG reader failed");
  SetFrameRates(state, "mng_readdisplay");
  std::filesystem::remove(path);
}
BENCHMARK(BM_MngReader)->Name("mng/reader")->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
