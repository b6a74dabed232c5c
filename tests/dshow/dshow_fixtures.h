#pragma once
// Short media files made at test time (once per test program run) and an
// independent decode of their frames through a plain GStreamer pipeline.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace dshow_test {

// Every video fixture: 50 frames of 320 x 240 at 25 frames per second of a
// scrolling test picture (each frame differs), with two seconds of sound.
inline constexpr int kFrames = 50;
inline constexpr int kWidth = 320;
inline constexpr int kHeight = 240;

// One fixture by file name: mpeg1.mpg, mpeg2.mpg, test.mp4, test.mov,
// test.avi, test.dv (720 x 576), test.wmv, test.asf, test.flv, test.mp3,
// test.wma, test.wav, test.swf, damaged.avi (garbage), truncated.mp4.
// Made on first use; an empty path when it cannot be made.
std::filesystem::path Fixture(const std::string& name);

// A decoded frame, top-down BGR rows of DIB stride.
struct TDecodedFrame {
  int nWidth = 0;
  int nHeight = 0;
  int nStride = 0;
  double dTime = 0.0;  // seconds from the first frame
  std::vector<std::uint8_t> bgr;
};

// Every video frame of a file, decoded by filesrc ! decodebin ! videoconvert
// ! appsink (at most nMax frames).
std::vector<TDecodedFrame> DecodeFrames(const std::filesystem::path& file, int nMax = 1000);

// Largest difference of one colour byte between a bottom-up frame (24 or 32
// bits per pixel, DIB rows) and a decoded top-down frame.
int MaxDifference(const std::uint8_t* pBottomUp, int nBits, int nStride, const TDecodedFrame& frame);

// Index of the decoded frame nearest to a time.
std::size_t NearestFrame(const std::vector<TDecodedFrame>& frames, double dTime);

}  // namespace dshow_test
