#include "tests/support/media/counter_fixtures.h"

#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <numbers>

#include "tests/support/test_support.h"

namespace tovrin_test_media {
namespace {

// Bump when a recipe or the pictures change: older files are then not reused.
constexpr const char* kRecipeVersion = "counter-v1";

constexpr int kCodeBits = 8;
constexpr int kGridColumns = 4;
constexpr int kGridRows = 4;  // two rows of bits, two of inverted bits
constexpr int kLumaOne = 235;
constexpr int kLumaZero = 16;

// The code's share of the picture's height (from the top).
int CodeHeight(int nHeight) { return nHeight * 6 / 10; }

struct TCell {
  int x0, y0, x1, y1;  // top-down picture coordinates, end exclusive
};

TCell Cell(int nWidth, int nHeight, int row, int column) {
  const int nCode = CodeHeight(nHeight);
  return TCell{nWidth * column / kGridColumns, nCode * row / kGridRows, nWidth * (column + 1) / kGridColumns,
               nCode * (row + 1) / kGridRows};
}

// Whether a cell is white for an index: rows 0-1 carry the bits, rows 2-3
// their inverse.
bool CellSet(int nIndex, int row, int column) {
  const int bit = (row % 2) * kGridColumns + column;
  const bool bSet = ((nIndex >> bit) & 1) != 0;
  return row < 2 ? bSet : !bSet;
}

const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    auto path =
        std::filesystem::temp_directory_path() / ("tovrin-counter-fixtures-" + std::to_string(getuid()));
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return path;
  }();
  return folder;
}

const char* Extension(TCounterFormat eFormat) {
  switch (eFormat) {
    case TCounterFormat::MPEG1_PS:
    case TCounterFormat::MPEG2_PS: return ".mpg";
    case TCounterFormat::MP4_H264: return ".mp4";
    case TCounterFormat::MOV_H264: return ".mov";
    case TCounterFormat::AVI_MJPEG:
    case TCounterFormat::AVI_MPEG4: return ".avi";
    case TCounterFormat::DV: return ".dv";
    case TCounterFormat::WMV2: return ".wmv";
    case TCounterFormat::ASF: return ".asf";
    case TCounterFormat::FLV: return ".flv";
    case TCounterFormat::RAW_YUV: return ".yuv";
  }
  return ".bin";
}

std::size_t I420Size(int nWidth, int nHeight) {
  const std::size_t cw = static_cast<std::size_t>(nWidth + 1) / 2,
                    ch = static_cast<std::size_t>(nHeight + 1) / 2;
  return static_cast<std::size_t>(nWidth) * nHeight + 2 * cw * ch;
}

bool WriteRaw(const std::filesystem::path& out, int nWidth, int nHeight) {
  std::FILE* f = std::fopen(out.c_str(), "wb");
  if (!f) return false;
  bool bOk = true;
  for (int i = 0; i < kCounterFrames && bOk; ++i) {
    const auto picture = CounterPictureI420(i, nWidth, nHeight);
    bOk = std::fwrite(picture.data(), 1, picture.size(), f) == picture.size();
  }
  return std::fclose(f) == 0 && bOk;
}

// The raw pictures as a GStreamer source of 25 frames per second.
std::string RawSource(const std::filesystem::path& raw, int nWidth, int nHeight,
                      const std::string& extraCaps) {
  const int cw = (nWidth + 1) / 2, ch = (nHeight + 1) / 2;
  const long uOffset = static_cast<long>(nWidth) * nHeight;
  const long vOffset = uOffset + static_cast<long>(cw) * ch;
  return "filesrc location=" + tovrin_test::Quote(raw) +
         " ! rawvideoparse format=i420 width=" + std::to_string(nWidth) +
         " height=" + std::to_string(nHeight) + " framerate=" + std::to_string(kCounterFrameRate) +
         "/1 plane-strides=\"<" + std::to_string(nWidth) + "," + std::to_string(cw) + "," +
         std::to_string(cw) + ">\" plane-offsets=\"<0," + std::to_string(uOffset) + "," +
         std::to_string(vOffset) + ">\" frame-size=" + std::to_string(I420Size(nWidth, nHeight)) + extraCaps;
}

// 3 s of sound in 40 ms buffers.
std::string Sound(int nRate, const std::string& format = "") {
  return "audiotestsrc num-buffers=" + std::to_string(kCounterFrames) +
         " samplesperbuffer=" + std::to_string(nRate / kCounterFrameRate) + " ! audio/x-raw," + format +
         "rate=" + std::to_string(nRate) + ",channels=2";
}

// The command that turns the raw pictures into the file; empty for none.
std::string Recipe(TCounterFormat eFormat, const std::filesystem::path& raw, const std::filesystem::path& out,
                   int nWidth, int nHeight) {
  const std::string gst = "gst-launch-1.0 -q -e ";
  const std::string src = RawSource(raw, nWidth, nHeight, "");
  const std::string sink = " ! filesink location=" + tovrin_test::Quote(out) + " ";
  switch (eFormat) {
    case TCounterFormat::MPEG1_PS:
      return gst + src + " ! mpeg2enc format=0 ! mplex name=m format=0" + sink + Sound(48000) +
             " ! avenc_mp2 ! m.";
    case TCounterFormat::MPEG2_PS:
      return gst + src + " ! mpeg2enc format=3 aspect=2 ! mplex name=m format=3" + sink + Sound(48000) +
             " ! avenc_mp2 ! m.";
    case TCounterFormat::MP4_H264:
    case TCounterFormat::MOV_H264:
      return gst + src +
             " ! x264enc speed-preset=superfast bframes=2 b-adapt=false key-int-max=25 ! h264parse ! " +
             (eFormat == TCounterFormat::MP4_H264 ? "mp4mux" : "qtmux") + " name=m" + sink + Sound(48000) +
             " ! avenc_aac ! m.";
    case TCounterFormat::AVI_MJPEG:
      return gst + src + " ! jpegenc quality=90 ! avimux name=m" + sink + Sound(48000, "format=S16LE,") +
             " ! m.";
    case TCounterFormat::AVI_MPEG4:
      return gst + src + " ! avenc_mpeg4 bitrate=3000000 ! mpeg4videoparse ! avimux name=m" + sink +
             Sound(48000, "format=S16LE,") + " ! m.";
    case TCounterFormat::DV:
      return gst + RawSource(raw, nWidth, nHeight, " pixel-aspect-ratio=16/15") +
             " ! avenc_dvvideo ! avmux_dv name=m" + sink + Sound(48000, "format=S16LE,") + " ! m.";
    case TCounterFormat::WMV2:
    case TCounterFormat::ASF:
      return gst + src + (eFormat == TCounterFormat::WMV2 ? " ! avenc_wmv2" : " ! avenc_wmv1") +
             " ! identity single-segment=true ! avmux_asf name=m" + sink + Sound(48000) +
             " ! avenc_wmav2 ! identity single-segment=true ! m.";
    case TCounterFormat::FLV:
      return "ffmpeg -nostdin -loglevel error -y -f rawvideo -pix_fmt yuv420p -s " + std::to_string(nWidth) +
             "x" + std::to_string(nHeight) + " -r " + std::to_string(kCounterFrameRate) + " -i " +
             tovrin_test::Quote(raw) + " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=3" +
             " -c:v libx264 -preset superfast -bf 2 -g 25 -pix_fmt yuv420p -c:a libmp3lame -ar 44100 -f "
             "flv " +
             tovrin_test::Quote(out);
    case TCounterFormat::RAW_YUV: return {};
  }
  return {};
}

// The size a format really holds for a size asked for.
void ActualSize(TCounterFormat eFormat, int& nWidth, int& nHeight) {
  if (eFormat == TCounterFormat::DV) {
    nWidth = 720;
    nHeight = 576;
  }
  // Windows Media encoders refuse odd widths.
  if ((eFormat == TCounterFormat::WMV2 || eFormat == TCounterFormat::ASF) && nWidth % 2 != 0) ++nWidth;
}

bool Make(TCounterFormat eFormat, const std::filesystem::path& out, int nWidth, int nHeight) {
  if (eFormat == TCounterFormat::RAW_YUV) return WriteRaw(out, nWidth, nHeight);
  const auto raw = Folder() / ("partial-" + std::to_string(getpid()) + "-source.yuv");
  if (!WriteRaw(raw, nWidth, nHeight)) return false;
  const auto result = tovrin_test::RunCapture(Recipe(eFormat, raw, out, nWidth, nHeight) + " && echo ok");
  std::error_code ec;
  std::filesystem::remove(raw, ec);
  return result && std::filesystem::file_size(out, ec) > 0 && !ec;
}

std::uint8_t Clamp8(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

const std::vector<TCounterFormat>& AllCounterFormats() {
  static const std::vector<TCounterFormat> all = {
      TCounterFormat::MPEG1_PS, TCounterFormat::MPEG2_PS,  TCounterFormat::MP4_H264,
      TCounterFormat::MOV_H264, TCounterFormat::AVI_MJPEG, TCounterFormat::AVI_MPEG4,
      TCounterFormat::DV,       TCounterFormat::WMV2,      TCounterFormat::ASF,
      TCounterFormat::FLV,      TCounterFormat::RAW_YUV};
  return all;
}

std::string CounterFormatName(TCounterFormat eFormat) {
  switch (eFormat) {
    case TCounterFormat::MPEG1_PS: return "mpeg1_ps";
    case TCounterFormat::MPEG2_PS: return "mpeg2_ps";
    case TCounterFormat::MP4_H264: return "mp4_h264";
    case TCounterFormat::MOV_H264: return "mov_h264";
    case TCounterFormat::AVI_MJPEG: return "avi_mjpeg";
    case TCounterFormat::AVI_MPEG4: return "avi_mpeg4";
    case TCounterFormat::DV: return "dv";
    case TCounterFormat::WMV2: return "wmv2";
    case TCounterFormat::ASF: return "asf";
    case TCounterFormat::FLV: return "flv";
    case TCounterFormat::RAW_YUV: return "raw_yuv";
  }
  return "unknown";
}

std::vector<std::uint8_t> CounterPictureI420(int nIndex, int nWidth, int nHeight) {
  std::vector<std::uint8_t> picture(I420Size(nWidth, nHeight));
  if (nWidth <= 0 || nHeight <= 0) return picture;
  const int cw = (nWidth + 1) / 2, ch = (nHeight + 1) / 2;
  std::uint8_t* pY = picture.data();
  std::uint8_t* pU = pY + static_cast<std::size_t>(nWidth) * nHeight;
  std::uint8_t* pV = pU + static_cast<std::size_t>(cw) * ch;
  const int nCode = CodeHeight(nHeight);
  constexpr double kTwoPi = 2.0 * std::numbers::pi;
  // The moving pattern: waves that travel a few pixels per frame.
  for (int y = 0; y < nHeight; ++y)
    for (int x = 0; x < nWidth; ++x)
      pY[static_cast<std::size_t>(y) * nWidth + x] =
          Clamp8(128 + 70 * std::sin(kTwoPi * (x + 4.0 * nIndex) / 61.0) + 30 * std::cos(kTwoPi * y / 47.0));
  for (int y = 0; y < ch; ++y)
    for (int x = 0; x < cw; ++x) {
      pU[static_cast<std::size_t>(y) * cw + x] =
          Clamp8(128 + 60 * std::sin(kTwoPi * (x + y + 3.0 * nIndex) / 53.0));
      pV[static_cast<std::size_t>(y) * cw + x] =
          Clamp8(128 + 60 * std::cos(kTwoPi * (x - 2.0 * y + 2.0 * nIndex) / 71.0));
    }
  // The code, in luma only.
  for (int row = 0; row < kGridRows; ++row)
    for (int column = 0; column < kGridColumns; ++column) {
      const TCell cell = Cell(nWidth, nHeight, row, column);
      const std::uint8_t luma = CellSet(nIndex, row, column) ? kLumaOne : kLumaZero;
      for (int y = cell.y0; y < cell.y1; ++y)
        for (int x = cell.x0; x < cell.x1; ++x) pY[static_cast<std::size_t>(y) * nWidth + x] = luma;
    }
  for (int y = 0; y < (nCode + 1) / 2 && y < ch; ++y)
    for (int x = 0; x < cw; ++x) {
      pU[static_cast<std::size_t>(y) * cw + x] = 128;
      pV[static_cast<std::size_t>(y) * cw + x] = 128;
    }
  return picture;
}

int ReadCounter(const std::uint8_t* pPixels, int nWidth, int nHeight, int nBitsPerPixel, int nStride,
                bool bBottomUp) {
  if (!pPixels || nWidth < kGridColumns * 2 || nHeight < kGridRows * 4 ||
      (nBitsPerPixel != 24 && nBitsPerPixel != 32))
    return -1;
  const int bpp = nBitsPerPixel / 8;
  if (nStride <= 0) nStride = ((nWidth * nBitsPerPixel + 31) / 32) * 4;
  const auto luma = [&](int x, int y) {
    const int row = bBottomUp ? nHeight - 1 - y : y;
    const std::uint8_t* p =
        pPixels + static_cast<std::size_t>(row) * nStride + static_cast<std::size_t>(x) * bpp;
    return (p[0] + p[1] + p[2]) / 3;
  };
  bool bits[kGridRows][kGridColumns];
  for (int row = 0; row < kGridRows; ++row)
    for (int column = 0; column < kGridColumns; ++column) {
      const TCell cell = Cell(nWidth, nHeight, row, column);
      // The middle half of the cell: away from blurred edges.
      const int w = cell.x1 - cell.x0, h = cell.y1 - cell.y0;
      long sum = 0, count = 0;
      for (int y = cell.y0 + h / 4; y < cell.y1 - h / 4; ++y)
        for (int x = cell.x0 + w / 4; x < cell.x1 - w / 4; ++x) {
          sum += luma(x, y);
          ++count;
        }
      if (count == 0) return -1;
      const long mean = sum / count;
      if (mean > 80 && mean < 176) return -1;  // neither level: no code here
      bits[row][column] = mean >= 176;
    }
  int index = 0;
  for (int bit = 0; bit < kCodeBits; ++bit) {
    const int row = bit / kGridColumns, column = bit % kGridColumns;
    if (bits[row][column] == bits[row + 2][column]) return -1;  // the inverse does not match
    if (bits[row][column]) index |= 1 << bit;
  }
  return index;
}

TCounterFile CounterFile(TCounterFormat eFormat, int nWidth, int nHeight) {
  static std::mutex lock;
  static std::map<std::tuple<int, int, int>, TCounterFile> made;
  std::lock_guard guard(lock);
  const auto key = std::make_tuple(static_cast<int>(eFormat), nWidth, nHeight);
  if (auto it = made.find(key); it != made.end()) return it->second;
  TCounterFile file;
  file.eFormat = eFormat;
  ActualSize(eFormat, nWidth, nHeight);
  file.nWidth = nWidth;
  file.nHeight = nHeight;
  file.colourMatrix = nHeight >= 720 ? "BT.709" : "BT.601";
  const std::string name = CounterFormatName(eFormat) + "-" + std::to_string(nWidth) + "x" +
                           std::to_string(nHeight) + Extension(eFormat);
  const std::string recipe =
      Recipe(eFormat, "raw", "out", nWidth, nHeight) + "|" + name + "|" + kRecipeVersion;
  const auto out = Folder() / (std::to_string(std::hash<std::string>{}(recipe)) + "-" + name);
  std::error_code ec;
  if (std::filesystem::exists(out, ec)) {
    file.path = out;
  } else if (nWidth > 0 && nHeight > 0) {
    // The temporary name keeps the extension: the tools go by it.
    const auto partial = Folder() / ("partial-" + std::to_string(getpid()) + "-" + name);
    if (Make(eFormat, partial, nWidth, nHeight)) {
      std::filesystem::rename(partial, out, ec);
      if (!ec) file.path = out;
    }
    std::filesystem::remove(partial, ec);
  }
  made[key] = file;
  return file;
}

TReferenceFrames DecodeWithFfmpeg(const TCounterFile& file) {
  TReferenceFrames result;
  if (file.path.empty()) return result;
  std::string input;
  if (file.eFormat == TCounterFormat::RAW_YUV)
    input = "-f rawvideo -pix_fmt yuv420p -s " + std::to_string(file.nWidth) + "x" +
            std::to_string(file.nHeight) + " -r " + std::to_string(file.nFrameRate) + " ";
  // The file's own range: JPEG pictures are full range, the others limited.
  const std::string matrix = file.colourMatrix == "BT.709" ? "bt709" : "bt601";
  const std::string command = "ffmpeg -nostdin -loglevel error " + input + "-i " +
                              tovrin_test::Quote(file.path) +
                              " -map 0:v:0 -fps_mode passthrough -vf scale=in_color_matrix=" + matrix +
                              " -pix_fmt bgr24 -f rawvideo -";
  const auto bytes = tovrin_test::RunCapture(command);
  if (!bytes) return result;
  const std::size_t frameBytes = static_cast<std::size_t>(file.nWidth) * file.nHeight * 3;
  if (frameBytes == 0) return result;
  result.nWidth = file.nWidth;
  result.nHeight = file.nHeight;
  for (std::size_t offset = 0; offset + frameBytes <= bytes->size(); offset += frameBytes)
    result.frames.emplace_back(bytes->begin() + static_cast<std::ptrdiff_t>(offset),
                               bytes->begin() + static_cast<std::ptrdiff_t>(offset + frameBytes));
  return result;
}

TPictureDifference ComparePictures(const std::uint8_t* pBottomUp, int nBitsPerPixel, int nStride,
                                   const TReferenceFrames& reference, std::size_t nFrame) {
  TPictureDifference difference;
  if (!pBottomUp || nFrame >= reference.frames.size()) {
    difference.dMean = 255.0;
    difference.nMax = 255;
    return difference;
  }
  const int bpp = nBitsPerPixel / 8;
  const int w = reference.nWidth, h = reference.nHeight;
  const std::vector<std::uint8_t>& theirs = reference.frames[nFrame];
  double sum = 0.0;
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* ours = pBottomUp + static_cast<std::size_t>(h - 1 - y) * nStride;
    const std::uint8_t* ref = theirs.data() + static_cast<std::size_t>(y) * w * 3;
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) {
        const int d = std::abs(ours[x * bpp + c] - ref[x * 3 + c]);
        sum += d;
        difference.nMax = std::max(difference.nMax, d);
      }
  }
  difference.dMean = sum / (static_cast<double>(w) * h * 3);
  return difference;
}

}  // namespace tovrin_test_media
