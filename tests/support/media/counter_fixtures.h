#pragma once
// Media files whose every frame shows its own index, for tests that must
// know which frame of a file they are looking at.
//
// Each picture carries its index as a block code in its upper part: a 4 x 4
// grid of large cells, the first two rows the eight bits of the index (white
// = 1, least significant bit first, row by row), the last two rows the same
// bits inverted. The cells are so large and the two levels so far apart
// (luma 16 and 235, no chroma) that every codec in the list keeps the code
// readable, and the inverted rows tell a damaged or blended picture from a
// real one. The lower part is a moving colour pattern, so that consecutive
// frames differ everywhere and inter-frame coding has work to do.
//
// The pictures are drawn in I420 by this library and encoded by the
// platform's tools (gst-launch-1.0, ffmpeg) in a process of their own, once
// per machine: each file lands in a folder of the user's under a name that
// carries a digest of its recipe, written under a temporary name and
// renamed when complete, so the test processes that CTest starts share it.
// No GStreamer or Qt is linked here.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tovrin_test_media {

inline constexpr int kCounterFrames = 75;
inline constexpr int kCounterFrameRate = 25;  // frames per second: 3 s of video

enum class TCounterFormat {
  MPEG1_PS,   // .mpg: MPEG-1 video + MP2 sound, MPEG-1 system stream (mpeg2enc, mplex)
  MPEG2_PS,   // .mpg: MPEG-2 video + MP2 sound, program stream (mpeg2enc, mplex)
  MP4_H264,   // .mp4: H.264 with B-frames + AAC (x264enc, mp4mux)
  MOV_H264,   // .mov: H.264 with B-frames + AAC (x264enc, qtmux)
  AVI_MJPEG,  // .avi: Motion JPEG + PCM (jpegenc, avimux)
  AVI_MPEG4,  // .avi: MPEG-4 part 2 + PCM (avenc_mpeg4, avimux)
  DV,         // .dv: PAL DV 720 x 576 + PCM, whatever size was asked (avenc_dvvideo, avmux_dv)
  WMV2,       // .wmv: Windows Media Video 8 + WMA 2 (avenc_wmv2, avmux_asf); even widths only
  ASF,        // .asf: Windows Media Video 7 + WMA 2 (avenc_wmv1, avmux_asf); even widths only
  FLV,        // .flv: H.264 + MP3 at 44.1 kHz (ffmpeg)
  RAW_YUV,    // .yuv: the I420 pictures themselves, tightly packed, no header
};

// Every format above, for table tests.
const std::vector<TCounterFormat>& AllCounterFormats();
// A short name fit for a test's name: "mpeg2_ps", "mp4_h264", ...
std::string CounterFormatName(TCounterFormat eFormat);

struct TCounterFile {
  std::filesystem::path path;  // empty when the file could not be made
  TCounterFormat eFormat = TCounterFormat::RAW_YUV;
  int nWidth = 0;  // of the pictures in the file (DV: 720 x 576; Windows Media: even width)
  int nHeight = 0;
  int nFrames = kCounterFrames;
  int nFrameRate = kCounterFrameRate;
  // The YCbCr matrix a decoder of this picture size applies by default and
  // the one the independent decode below uses: "BT.601" below 720 lines,
  // "BT.709" from 720 lines on (limited range in both).
  std::string colourMatrix;
};

// The file of a format at a picture size (made on first use, then reused).
TCounterFile CounterFile(TCounterFormat eFormat, int nWidth = 320, int nHeight = 240);

// The I420 picture of frame nIndex (tightly packed planes: Y, then U and V
// of (w + 1) / 2 x (h + 1) / 2 each).
std::vector<std::uint8_t> CounterPictureI420(int nIndex, int nWidth, int nHeight);

// The index drawn into a picture of BGR (24 bits per pixel) or BGRX (32)
// pixels. nStride 0: DIB rows (padded to 4 bytes). bBottomUp: the first row
// in memory is the bottom of the picture (a DIB). -1 when the picture
// carries no readable code (a blend of two frames, a damaged or blank one).
int ReadCounter(const std::uint8_t* pPixels, int nWidth, int nHeight, int nBitsPerPixel, int nStride = 0,
                bool bBottomUp = true);

// Every frame of a file as an independent decoder sees it: ffmpeg, every
// frame as stored (no frame dropped or repeated), converted to top-down
// bgr24 rows of nWidth * 3 bytes with the file's colour matrix (above).
// Empty when ffmpeg cannot read the file.
struct TReferenceFrames {
  int nWidth = 0;
  int nHeight = 0;
  std::vector<std::vector<std::uint8_t>> frames;
};
TReferenceFrames DecodeWithFfmpeg(const TCounterFile& file);

// Mean and largest difference of one colour byte between a picture of
// ours (bottom-up DIB rows of 24 or 32 bits per pixel) and a reference frame.
struct TPictureDifference {
  double dMean = 0.0;
  int nMax = 0;
};
TPictureDifference ComparePictures(const std::uint8_t* pBottomUp, int nBitsPerPixel, int nStride,
                                   const TReferenceFrames& reference, std::size_t nFrame);

}  // namespace tovrin_test_media
