// The stream recorder's whole append of one 1920x1080 32-bit picture to a
// raw 4:2:0 file in /tmp (conversion and write, as the per-frame recording
// does it), beside libyuv's ARGBToI420 and a plain write of the same bytes
// to a file of its own, in the same run.
//
// Both files are emptied every kFramesPerFile frames by both sides alike, so
// that a long run does not fill /tmp; the reported time is ours, the
// counters give ms per frame for both and vs_libyuv = ours / peer.
//
//   tools/tovrin.sh bench record

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <libyuv.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/run_beside.h"
#include "io/codecs/save_stream.h"
#include "media/dib.h"
#include "media/file_types.h"

namespace {

using namespace ZarnTypes;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFramesPerFile = 32;

// A deterministic picture with gradients and noise.
void FillPattern(std::vector<std::uint8_t>& bytes, std::uint32_t seed) {
  std::uint32_t s = seed;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    s = s * 1664525u + 1013904223u;
    bytes[i] = static_cast<std::uint8_t>((i * 7 / 5) + (s >> 27));
  }
}

std::string TempName(const char* what) {
  return "/tmp/tovrin_bench_" + std::to_string(::getpid()) + "_" + what + ".yuv";
}

void BM_RecordYuvFrame(benchmark::State& state) {
  Dib::TDibPtr picture = Dib::CreateDibSectionEx(kWidth, kHeight, 32);
  if (picture == nullptr) {
    state.SkipWithError("allocation failed");
    return;
  }
  FillPattern(picture->bits, 7);

  const std::string ourPath = TempName("ours");
  const std::string peerPath = TempName("peer");
  SaveStream::CSaveStream recorder(0);
  recorder.m_bSingleFile = true;
  recorder.SetOutputFileFormat(
      ComposeYuvFileFormat(YUV_STD_BT601, YUV_LAYOUT_420_CENTRED, YUV_RANGE_16_235_240));
  recorder.m_sSingleFileName = ourPath;
  const int peerFile = ::open(peerPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (!recorder.Open() || peerFile < 0) {
    state.SkipWithError("cannot open the output files in /tmp");
    if (peerFile >= 0) {
      ::close(peerFile);
    }
    recorder.Close();
    std::remove(ourPath.c_str());
    std::remove(peerPath.c_str());
    return;
  }
  // Our file is emptied through a descriptor of its own; the recorder
  // appends at the file's end, wherever that is.
  const int ourTruncate = ::open(ourPath.c_str(), O_RDWR | O_CLOEXEC);

  std::vector<std::uint8_t> peerFrame(std::size_t{kWidth} * kHeight * 3 / 2);
  std::uint8_t* peerY = peerFrame.data();
  std::uint8_t* peerU = peerY + std::size_t{kWidth} * kHeight;
  std::uint8_t* peerV = peerU + std::size_t{kWidth} * kHeight / 4;
  int ourFrames = 0;
  int peerFrames = 0;
  bool peerOk = true;
  bench_support::RunBeside(
      state,
      [&] {
        if (++ourFrames % kFramesPerFile == 0 && ourTruncate >= 0) {
          (void)::ftruncate(ourTruncate, 0);
        }
        return recorder.WriteDibSectionYuv(*picture);
      },
      [&] {
        if (++peerFrames % kFramesPerFile == 0) {
          (void)::ftruncate(peerFile, 0);
          ::lseek(peerFile, 0, SEEK_SET);
        }
        // The picture is bottom-up: libyuv reads it top row first through a
        // negative stride.
        const std::uint8_t* top = picture->bits.data() + picture->Stride() * (kHeight - 1);
        libyuv::ARGBToI420(top, -static_cast<int>(picture->Stride()), peerY, kWidth, peerU, kWidth / 2, peerV,
                           kWidth / 2, kWidth, kHeight);
        peerOk = peerOk && ::write(peerFile, peerFrame.data(), peerFrame.size()) ==
                               static_cast<ssize_t>(peerFrame.size());
      },
      "libyuv", "the recorder refused the frame");
  if (!peerOk) {
    state.SkipWithError("the peer's write failed");
  }
  recorder.Close();
  if (ourTruncate >= 0) {
    ::close(ourTruncate);
  }
  ::close(peerFile);
  std::remove(ourPath.c_str());
  std::remove(peerPath.c_str());
}
BENCHMARK(BM_RecordYuvFrame)
    ->Name("record/AppendYuvFrame/1920x1080")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
