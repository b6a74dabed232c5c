// The stream recorder: output names, opening and closing by output type, and
// the raw YUV file it appends frames to. Frames read back from the file are
// compared with the scalar conversion of the same picture and, separately,
// with the layouts' matrix, range and siting computed here; failed writes
// (a full disk, a file that cannot be opened or closed) leave only whole
// frames and say so.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "io/codecs/save_stream.h"
#include "io/codecs/wm_writer.h"
#include "media/color_conversion.h"
#include "media/dib.h"
#include "media/file_types.h"
#include "media/frame_buffer.h"
#include "media/yuv_frame.h"
#include "tests/engine/wm_fake_sink.h"
#include "tests/io/recorder_fixture.h"
#include "tests/support/codecs/picture_support.h"
#include "tests/support/test_support.h"

namespace {

using namespace ZarnTypes;
using recorder_test::WaitUntil;
using SaveStream::CSaveStream;
using tovrin_test::MakeSection;
using tovrin_test::TPixel;

namespace fs = std::filesystem;

// Picture k of a recording: gradients with sharp edges that move with k, so
// that every frame differs from the others.
TPixel FramePicture(int k, int x, int y) {
  const int r = (x * 7 + k * 40) % 256;
  const int g = y < 5 + k ? (y * 23) % 256 : 255 - (y * 11) % 200;
  const int b = ((x + k) % 9) < 4 ? 24 : 231;
  return {r, g, b, 0};
}

Dib::TDibSection MakeFrame(int k, int w, int h, bool topDown = false, int bits = 32) {
  return MakeSection(
      w, h, [k](int x, int y) { return FramePicture(k, x, y); }, topDown, bits);
}

// The bytes of one frame as the scalar conversion makes them from the
// bottom-up 32-bit picture, padding samples zero.
std::vector<std::uint8_t> LibraryFrame(int k, int w, int h, std::int32_t format) {
  Dib::TDibSection picture = MakeFrame(k, w, h);
  TFrameBuffer source;
  source.ePixelFormat = PF_RGB32;
  source.nWidth = w;
  source.nHeight = h;
  source.nRowAlignment = 4;
  source.nHeightAlignment = 1;
  source.pBuffer = picture.bits.data();
  EXPECT_TRUE(LayoutFrameBuffer(&source));
  TYuvFrameBuffer yuv;
  yuv.ePixelFormat = FileFormatToPixelFormat(format);
  yuv.nWidth = w;
  yuv.nHeight = h;
  yuv.nWidthAlignment = 2;
  yuv.nHeightAlignment = 2;
  EXPECT_TRUE(AllocYuvFrame(&yuv));
  std::memset(yuv.pBuffer, 0, static_cast<std::size_t>(yuv.nTotalSize));
  EXPECT_TRUE(ConvertRgbToYuv(source, yuv));
  std::vector<std::uint8_t> bytes(yuv.pBuffer, yuv.pBuffer + yuv.nTotalSize);
  FreeYuvFrame(&yuv);
  return bytes;
}

TYuvLayout Layout(std::int32_t format) {
  TYuvLayout parts;
  EXPECT_TRUE(DecomposeYuvFileFormat(format, parts)) << format;
  return parts;
}

// Frame size of a layout at an even-aligned size.
std::size_t FrameBytes(int w, int h, std::int32_t format) {
  const TYuvLayout parts = Layout(format);
  const int aw = (w + 1) & ~1, ah = (h + 1) & ~1;
  const int cw = parts.layout == YUV_LAYOUT_444 ? aw : aw / 2;
  const int ch = parts.layout >= YUV_LAYOUT_420_COSITED_EVEN ? ah / 2 : ah;
  return static_cast<std::size_t>(aw * ah + 2 * cw * ch);
}

// The standards' value of a colour in a layout: Kr, Kb of BT.601 or BT.709,
// luma and chroma scaled into the layout's range.
struct TYcc {
  double y, cb, cr;
};

TYcc Ycc(const TPixel& c, int standard, int range) {
  const double kr = standard == YUV_STD_BT601 ? 0.299 : 0.2126;
  const double kb = standard == YUV_STD_BT601 ? 0.114 : 0.0722;
  const double y = kr * c.r + (1 - kr - kb) * c.g + kb * c.b;
  const double pb = (c.b - y) / (2 * (1 - kb));
  const double pr = (c.r - y) / (2 * (1 - kr));
  switch (range) {
    case YUV_RANGE_16_255:
      return {16 + y * 239.0 / 255.0, 135.5 + pb * 239.0 / 255.0, 135.5 + pr * 239.0 / 255.0};
    case YUV_RANGE_16_235_240:
      return {16 + y * 219.0 / 255.0, 128 + pb * 224.0 / 255.0, 128 + pr * 224.0 / 255.0};
    default: return {y, 128 + pb, 128 + pr};
  }
}

int Clamp8(double v) { return std::clamp(static_cast<int>(std::lround(v)), 0, 255); }

// The largest difference between a frame of the file and the standards'
// values of picture k: every luma sample, and every chroma sample from the
// pixels its siting stands for (a pair or block cut short repeats the
// pixels present).
int WorstDifference(const std::uint8_t* frame, int k, int w, int h, std::int32_t format) {
  const TYuvLayout parts = Layout(format);
  const int aw = (w + 1) & ~1, ah = (h + 1) & ~1;
  const int cw = parts.layout == YUV_LAYOUT_444 ? aw : aw / 2;
  const int ch = parts.layout >= YUV_LAYOUT_420_COSITED_EVEN ? ah / 2 : ah;
  const std::uint8_t* yPlane = frame;
  const std::uint8_t* cbPlane = yPlane + aw * ah;
  const std::uint8_t* crPlane = cbPlane + cw * ch;
  int worst = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int want = Clamp8(Ycc(FramePicture(k, x, y), parts.standard, parts.range).y);
      worst = std::max(worst, std::abs(yPlane[y * aw + x] - want));
    }
  }
  auto sample = [&](int px, int py, bool cr) {
    const TYcc v =
        Ycc(FramePicture(k, std::min(px, w - 1), std::min(py, h - 1)), parts.standard, parts.range);
    return Clamp8(cr ? v.cr : v.cb);
  };
  const int rows = parts.layout >= YUV_LAYOUT_420_COSITED_EVEN ? (h + 1) / 2 : h;
  const int cols = parts.layout == YUV_LAYOUT_444 ? w : (w + 1) / 2;
  for (int j = 0; j < rows; ++j) {
    for (int i = 0; i < cols; ++i) {
      for (bool cr : {false, true}) {
        int want = 0;
        switch (parts.layout) {
          case YUV_LAYOUT_444: want = sample(i, j, cr); break;
          case YUV_LAYOUT_422_COSITED_EVEN: want = sample(2 * i, j, cr); break;
          case YUV_LAYOUT_422_COSITED_ODD: want = sample(2 * i + 1, j, cr); break;
          case YUV_LAYOUT_422_CENTRED: want = (sample(2 * i, j, cr) + sample(2 * i + 1, j, cr)) / 2; break;
          case YUV_LAYOUT_420_COSITED_EVEN:
            want = (sample(2 * i, 2 * j, cr) + sample(2 * i, 2 * j + 1, cr)) / 2;
            break;
          case YUV_LAYOUT_420_COSITED_ODD:
            want = (sample(2 * i + 1, 2 * j, cr) + sample(2 * i + 1, 2 * j + 1, cr)) / 2;
            break;
          default:
            want = (sample(2 * i, 2 * j, cr) + sample(2 * i + 1, 2 * j, cr) + sample(2 * i, 2 * j + 1, cr) +
                    sample(2 * i + 1, 2 * j + 1, cr)) /
                   4;
        }
        worst = std::max(worst, std::abs((cr ? crPlane : cbPlane)[j * cw + i] - want));
      }
    }
  }
  return worst;
}

const std::string kOpenFailure =
    "Open \"Save Sequence\" channel %d \n Can not open output file %s \n Saving for channel has been "
    "disabled";

std::string OpenFailureText(int channel, const std::string& name) {
  std::string text = kOpenFailure;
  text.replace(text.find("%d"), 2, std::to_string(channel));
  text.replace(text.find("%s"), 2, name);
  return text;
}

std::uintmax_t SizeOf(const std::string& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  return ec ? static_cast<std::uintmax_t>(-1) : size;
}

using SaveStreamTest = recorder_test::TRecorderTest;

// ---------------------------------------------------------------------------
// Names

TEST_F(SaveStreamTest, FrameNamesCarryTheSessionAndFrameNumbersInTheirWidths) {
  struct TCase {
    const char* what;
    int firstWidth, secondWidth;
    bool firstNumber;
    int session, frame;
    const char* extension;
    const char* expected;  // inside the folder; null: no name
  } const cases[] = {
      {"defaults", 3, 5, true, 7, 12, "", "capClip_007_00012"},
      {"next frame, new name", 3, 5, true, 7, 13, ".bmp", "capClip_007_00013.bmp"},
      {"plain numbers", 0, 0, true, 7, 12, ".png", "capClip_7_12.png"},
      {"wide numbers", 6, 8, true, 123, 4567, ".jpg", "capClip_000123_00004567.jpg"},
      {"number wider than its width", 2, 2, true, 123, 4567, "", "capClip_123_4567"},
      {"no session number: the frame number stays", 3, 5, false, 7, 12, ".bmp", "capClip_00012.bmp"},
      {"width too large", 33, 5, true, 7, 12, "", nullptr},
      {"frame width too large", 3, 33, true, 7, 12, "", nullptr},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    CSaveStream recorder(1);
    recorder.m_sOutputFolder = dir.Path().string();
    recorder.m_sPrefix = "cap";
    recorder.m_sTitle = "Clip";
    recorder.m_sSpareName1 = "spare1";  // never part of a name
    recorder.m_sSpareName2 = "spare2";
    recorder.m_sExtension = c.extension;
    recorder.m_nFirstWidth = c.firstWidth;
    recorder.m_nSecondWidth = c.secondWidth;
    recorder.m_bFirstNumber = c.firstNumber;
    recorder.m_nSessionNumber = c.session;
    const char* name = recorder.GetOutputFileName(c.frame);
    if (c.expected == nullptr) {
      EXPECT_EQ(name, nullptr);
    } else {
      ASSERT_NE(name, nullptr);
      EXPECT_EQ(std::string(name), Path(c.expected));
      EXPECT_EQ(recorder.m_sLastName, Path(c.expected));
    }
  }
}

TEST_F(SaveStreamTest, DefaultNamesNumberEveryFrameApartAndTheSingleFileIsBuiltAtSessionStart) {
  CSaveStream recorder(0);
  EXPECT_EQ(recorder.m_sExtension, "");
  recorder.m_sOutputFolder = dir.Path().string();
  recorder.m_sPrefix = "p";
  recorder.m_sTitle = "t";
  recorder.m_nSessionNumber = 4;
  std::vector<std::string> names;
  for (int frame : {0, 1, 2, 99999, 100000}) {
    const char* name = recorder.GetOutputFileName(frame);
    ASSERT_NE(name, nullptr);
    names.emplace_back(name);
  }
  EXPECT_EQ(names[0], Path("pt_004_00000"));
  EXPECT_EQ(names[3], Path("pt_004_99999"));
  EXPECT_EQ(names[4], Path("pt_004_100000"));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());

  // The session's single-file name, and in single-file mode every frame's.
  struct TCase {
    bool singleFile, firstNumber;
    int session;
    const char* expected;
  } const cases[] = {
      {true, true, 4, "pt_004.yuv"},
      {true, true, 12, "pt_012.yuv"},
      {true, false, 4, "pt.yuv"},
      {false, true, 4, "pt_004_00000.yuv"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.expected);
    recorder.m_bSingleFile = c.singleFile;
    recorder.m_bFirstNumber = c.firstNumber;
    recorder.m_nSessionNumber = c.session;
    recorder.m_sExtension = ".yuv";
    ASSERT_TRUE(recorder.BuildSingleFileName());
    EXPECT_EQ(recorder.m_sSingleFileName, Path(c.expected));
    if (c.singleFile) {
      EXPECT_EQ(std::string(recorder.GetOutputFileName(3)), Path(c.expected));
      EXPECT_EQ(std::string(recorder.GetOutputFileName(4)), Path(c.expected));
    }
  }
  recorder.m_nFirstWidth = 40;
  EXPECT_FALSE(recorder.BuildSingleFileName());
  EXPECT_EQ(recorder.m_sSingleFileName, "");
}

// ---------------------------------------------------------------------------
// Settings and session record

TEST_F(SaveStreamTest, SettingsStartAtTheirDefaultsAndTheEncoderSettingsReachTheStillWriters) {
  CSaveStream recorder(2);
  EXPECT_EQ(recorder.m_nChannel, 2);
  EXPECT_FALSE(recorder.m_bSingleFile);
  EXPECT_EQ(recorder.m_nFirstWidth, 3);
  EXPECT_EQ(recorder.m_nSecondWidth, 5);
  EXPECT_TRUE(recorder.m_bFirstNumber);
  EXPECT_EQ(recorder.m_Sampling.nMode, 1);
  EXPECT_EQ(recorder.m_eOutputStreamType, ST_NULL_STREAM);
  EXPECT_EQ(recorder.m_eOutputFormat, FF_NULL_STREAM);
  EXPECT_FALSE(recorder.m_bWindowsMedia);
  EXPECT_EQ(recorder.m_nWmProfileVersion, 0x80000);
  EXPECT_TRUE(recorder.m_bWmEmptyProfile);
  EXPECT_EQ(recorder.m_nDuration, -1);
  EXPECT_EQ(recorder.m_nReserved15, 15);
  EXPECT_EQ(recorder.m_WmProfileGuid, (std::array<std::uint8_t, 16>{}));
  EXPECT_FALSE(recorder.m_bPictureInPicture);
  EXPECT_FALSE(recorder.m_bPaneLayout);
  EXPECT_EQ(recorder.m_Session.nProcId, 0);
  EXPECT_EQ(recorder.m_Session.pCallback, nullptr);
  EXPECT_FALSE(recorder.IsOpen() || recorder.IsRecording() || recorder.IsPipelineRunning());

  const SaveStream::TStreamEncoderSettings& e = recorder.m_Encoder;
  EXPECT_EQ(e.nJpegQuality, 80);
  EXPECT_EQ((std::vector<int>{e.jpeg2000.bReserved1, e.jpeg2000.nColorSpace, e.jpeg2000.nBitDepth,
                              e.jpeg2000.bReserved2, e.jpeg2000.nPaletteKind, e.jpeg2000.nColorBits,
                              e.jpeg2000.nCompressionMode, e.jpeg2000.nQuality}),
            (std::vector<int>{1, 4, 8, 0, 3, 6, 2, 300}));
  EXPECT_EQ((std::vector<int>{e.png.nColorType, e.png.nBitDepth, e.png.bInterlaced, e.png.nCompressionLevel,
                              e.png.nPaletteKind, e.png.nSignificantBits}),
            (std::vector<int>{5, 8, 0, 9, 3, 6}));
  EXPECT_EQ((std::vector<int>{e.gif.nReserved1, e.gif.nReserved2, e.gif.nColorSpace, e.gif.nBitDepth,
                              e.gif.bReserved, e.gif.nPaletteKind, e.gif.nSignificantBits}),
            (std::vector<int>{1, 0, 2, 8, 0, 3, 6}));
  EXPECT_EQ((std::vector<int>{e.tiff.bReserved1, e.tiff.nColorSpace, e.tiff.nBitDepth, e.tiff.bReserved2,
                              e.tiff.nPaletteKind, e.tiff.nColorBits, e.tiff.nCompression, e.tiff.nQuality}),
            (std::vector<int>{1, 4, 8, 0, 3, 6, 2, 80}));
  EXPECT_EQ((std::vector<int>{e.bAviFlag, e.nAviValue2, e.nWmValue2, e.bWmFlag}),
            (std::vector<int>{0, 1, 10, 0}));

  // What the per-frame writer hands to the still writers.
  recorder.SetOutputFileFormat(FF_JPEG);
  recorder.m_Encoder.nJpegQuality = 55;
  recorder.m_Encoder.png.nCompressionLevel = 4;
  recorder.m_Encoder.tiff.nCompression = 6;
  const TEncoderSettings settings = recorder.GetEncoderSettings();
  EXPECT_EQ(settings.nValue, FF_JPEG);
  EXPECT_EQ(settings.nJpegQuality, 55);
  EXPECT_EQ(settings.png.nCompressionLevel, 4);
  EXPECT_EQ(settings.tiff.nCompression, 6);
  EXPECT_EQ(settings.jpeg2000.nQuality, 300);
  EXPECT_EQ(settings.gif.nSignificantBits, 6);

  // The stream type follows the format.
  struct TTypeCase {
    std::int32_t format, type;
  } const types[] = {{FF_BMP_24BIT, ST_BMP_24BIT}, {FF_WMV, ST_WMV}, {70, 70}, {FF_MNG, ST_MNG}};
  for (const TTypeCase& t : types) {
    recorder.SetOutputFileFormat(t.format);
    EXPECT_EQ(recorder.m_eOutputFormat, t.format);
    EXPECT_EQ(recorder.m_eOutputStreamType, t.type);
  }
}

TEST_F(SaveStreamTest, TheSessionRecordNamesTheRecorderAndItsInputsAndTheNodeOrdersThem) {
  std::atomic<bool> stop{false}, finish{false}, pause{false};
  int context = 0;
  const SaveStream::TSaveStreamSession s =
      SaveStream::MakeSession(2, &context, &stop, &finish, &pause, &IgnoreMediaNotify, 640, 360, PF_RGB32);
  EXPECT_EQ(s.nProcId, 47);
  EXPECT_EQ(s.eSenderKind, MEDIA_SENDER_RECORDER);
  EXPECT_EQ(s.ePurpose, SRC_WRITE_STREAM);
  EXPECT_EQ(s.nInputCount, 4);
  EXPECT_EQ((std::vector<int>(s.nInputProcIds.begin(), s.nInputProcIds.begin() + 5)),
            (std::vector<int>{41, 42, 43, 44, 0}));
  EXPECT_EQ(s.pContext, &context);
  EXPECT_EQ(s.pStopFlag, &stop);
  EXPECT_EQ(s.pFinishFlag, &finish);
  EXPECT_EQ(s.pPauseFlag, &pause);
  EXPECT_EQ(s.bFlag, 1);
  EXPECT_EQ(s.pCallback, &IgnoreMediaNotify);
  EXPECT_EQ((std::vector<int>{s.nWidth, s.nHeight, s.ePixelFormat}), (std::vector<int>{640, 360, PF_RGB32}));

  CSaveStream recorder(2);
  for (int i = 0; i < s.nInputCount; ++i) {
    EXPECT_TRUE(recorder.AddInput(s.nInputProcIds[static_cast<std::size_t>(i)]));
  }
  EXPECT_FALSE(recorder.AddInput(42));  // listed already
  EXPECT_FALSE(recorder.AddInput(-1));
  EXPECT_FALSE(recorder.AddInput(49));
  EXPECT_EQ(recorder.m_nInputCount, 4);
  EXPECT_EQ((std::vector<int>{recorder.InputOrder(41), recorder.InputOrder(44), recorder.InputOrder(45),
                              recorder.InputOrder(49), recorder.InputOrder(-3)}),
            (std::vector<int>{1, 4, 0, 0, 0}));
  recorder.m_nThreadsStarted = 2;
  recorder.ResetNode();
  EXPECT_EQ(recorder.m_nInputCount, 0);
  EXPECT_EQ(recorder.m_nThreadsStarted, 0);
  EXPECT_EQ(recorder.InputOrder(41), 0);
}

// ---------------------------------------------------------------------------
// Open and Close by output type

TEST_F(SaveStreamTest, OpenAndCloseFollowTheOutputType) {
  // The session record names no frame layout here: a recording that would
  // run the frame pipeline is refused by its layout check.
  struct TCase {
    const char* what;
    bool singleFile;
    std::int32_t format;
    bool windowsMedia;    // "Enable custom sampling in writer"
    bool device;          // the channel's source is a capture device
    bool opens;           // Open's answer
    bool records;         // open and recording afterwards, with the file created
    const char* message;  // a refusal names the channel and says this
  } const cases[] = {
      {"separate files", false, 70, false, false, true, false, nullptr},
      {"separate BMP files", false, FF_BMP_24BIT, false, false, true, false, nullptr},
      {"AVI of a device", true, FF_AVI, false, true, true, false, nullptr},
      {"ASF of a device", true, FF_ASF, false, true, true, false, nullptr},
      {"WMA of a device", true, FF_WMA, false, true, true, false, nullptr},
      {"AVI of a device, custom sampling on", true, FF_AVI, true, true, true, false, nullptr},
      {"AVI of a file", true, FF_AVI, false, false, false, false, "into an AVI file is not possible"},
      {"ASF of a file", true, FF_ASF, true, false, false, false, "into an ASF file is not possible"},
      {"WMA of a file", true, FF_WMA, false, false, false, false, "into a WMA file is not possible"},
      {"AVI of a file, separate files", false, FF_AVI, false, false, false, false,
       "recorded only from capture"},
      {"WMV inside the capture graph", true, FF_WMV, false, true, true, false, nullptr},
      {"WMV of a device with the writer", true, FF_WMV, true, true, false, false, "not 24- or 32-bit RGB"},
      {"WMV of a file without custom sampling", true, FF_WMV, false, false, false, false,
       "not 24- or 32-bit RGB"},
      {"WMV of a file with custom sampling", true, FF_WMV, true, false, false, false,
       "not 24- or 32-bit RGB"},
      {"MNG", true, FF_MNG, false, false, false, false, "MNG"},
      {"FLV", true, FF_FLV, false, false, false, false, "not available"},
      {"SWF", true, FF_SWF, false, false, false, false, "not available"},
      {"MOV", true, FF_MOV, false, false, false, false, "not available"},
      {"one BMP file", true, FF_BMP_24BIT, false, false, false, false, "not available"},
      {"YCbCr without a layout", true, 48, false, false, false, false, "not available"},
      {"first YCbCr layout", true, FF_YCBCR_FIRST, false, false, true, true, nullptr},
      {"a 4:2:2 layout", true, 63, false, false, true, true, nullptr},
      {"last YCbCr layout", true, FF_YCBCR_LAST, false, true, true, true, nullptr},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    sink.Clear();
    const std::string name = std::string("out_") + std::to_string(c.format) + ".bin";
    CSaveStream recorder(3);
    SetUpSingleFile(recorder, c.format, name);
    recorder.m_bSingleFile = c.singleFile;
    recorder.m_bWindowsMedia = c.windowsMedia;
    recorder.HandOverSessionSettings(c.device);
    EXPECT_EQ(recorder.Open(), c.opens);
    EXPECT_EQ(recorder.IsOpen(), c.records);
    EXPECT_EQ(recorder.IsRecording(), c.records);
    EXPECT_FALSE(recorder.IsPipelineRunning());
    EXPECT_EQ(fs::exists(Path(name)), c.records);
    const auto texts = sink.Texts();
    if (c.message) {
      ASSERT_EQ(texts.size(), 1u);
      EXPECT_NE(texts[0].find("channel 3"), std::string::npos) << texts[0];
      EXPECT_NE(texts[0].find(c.message), std::string::npos) << texts[0];
    } else {
      EXPECT_TRUE(texts.empty());
    }
    EXPECT_TRUE(recorder.Close());
    EXPECT_FALSE(recorder.IsOpen() || recorder.IsRecording());
    EXPECT_TRUE(recorder.Close());  // closing twice is harmless
    EXPECT_EQ(sink.Texts().size(), texts.size());
  }
}

TEST_F(SaveStreamTest, OpeningEmptiesAnEarlierFileAndReopeningStartsAgain) {
  tovrin_test::WriteAll(dir / "take.yuv", std::string(1000, 'x'));
  CSaveStream recorder(0);
  SetUpSingleFile(recorder, 65);
  ASSERT_TRUE(recorder.Open());
  EXPECT_EQ(SizeOf(Path("take.yuv")), 0u);
  ASSERT_TRUE(recorder.WriteDibSectionYuv(MakeFrame(0, 6, 4)));
  // Opened again while open: the first recording ends, the file starts anew.
  ASSERT_TRUE(recorder.Open());
  ASSERT_TRUE(recorder.WriteDibSectionYuv(MakeFrame(1, 6, 4)));
  ASSERT_TRUE(recorder.Close());
  EXPECT_EQ(tovrin_test::ReadAll(dir / "take.yuv"), LibraryFrame(1, 6, 4, 65));
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(SaveStreamTest, AnOutputThatCannotBeOpenedIsReportedAndNothingIsTouched) {
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  fs::create_directory(dir / "folder");
  tovrin_test::WriteAll(dir / "folder" / "inside", std::string("kept"));
  struct TCase {
    const char* what;
    std::string name;
  } const cases[] = {
      {"missing folder", Path("missing/take.yuv")},
      {"FIFO", Path("fifo")},
      {"folder", Path("folder")},
      {"device", "/dev/null"},
      {"no name", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    sink.Clear();
    CSaveStream recorder(1);
    SetUpSingleFile(recorder, 60);
    recorder.m_sSingleFileName = c.name;
    // A FIFO must be refused at once, not waited on: the open runs aside and
    // a writer is connected only to release it if it hangs.
    auto opened = std::async(std::launch::async, [&] { return recorder.Open(); });
    if (opened.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      const int release = ::open(Path("fifo").c_str(), O_WRONLY | O_NONBLOCK);
      ADD_FAILURE() << "the open waited";
      opened.wait();
      if (release >= 0) {
        ::close(release);
      }
    }
    EXPECT_FALSE(opened.get());
    EXPECT_FALSE(recorder.IsOpen() || recorder.IsRecording());
    EXPECT_EQ(sink.Texts(), (std::vector<std::string>{OpenFailureText(1, c.name)}));
    EXPECT_FALSE(recorder.WriteDibSectionYuv(MakeFrame(0, 4, 4)));
    EXPECT_FALSE(recorder.WriteBitmapYuv(MakeFrame(0, 4, 4)));
    EXPECT_TRUE(recorder.Close());
  }
  struct stat info {};
  ASSERT_EQ(::stat(Path("fifo").c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(tovrin_test::ReadAll(dir / "folder" / "inside"), (std::vector<std::uint8_t>{'k', 'e', 'p', 't'}));
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

// ---------------------------------------------------------------------------
// Appending frames

TEST_F(SaveStreamTest, AppendedFramesAreTheLayoutsConversionOfEachPicture) {
  struct TLayout {
    int standard, layout, range;
  } const layouts[] = {
      {YUV_STD_BT601, YUV_LAYOUT_444, YUV_RANGE_0_255},
      {YUV_STD_BT601, YUV_LAYOUT_422_COSITED_ODD, YUV_RANGE_16_255},
      {YUV_STD_BT601, YUV_LAYOUT_420_CENTRED, YUV_RANGE_16_235_240},
      {YUV_STD_BT709, YUV_LAYOUT_422_CENTRED, YUV_RANGE_0_255},
      {YUV_STD_BT709, YUV_LAYOUT_420_COSITED_EVEN, YUV_RANGE_16_235_240},
      {YUV_STD_BT709, YUV_LAYOUT_420_COSITED_ODD, YUV_RANGE_16_255},
  };
  struct TPicture {
    int width, height, bits;
    bool topDown;
  } const pictures[] = {
      {37, 23, 32, false}, {37, 23, 24, false}, {37, 23, 32, true}, {37, 23, 24, true},
      {16, 10, 24, false}, {1, 1, 32, false},   {3, 2, 24, true},
  };
  constexpr int kFrames = 3;
  for (const TLayout& l : layouts) {
    const std::int32_t format = ComposeYuvFileFormat(l.standard, l.layout, l.range);
    for (const TPicture& p : pictures) {
      SCOPED_TRACE(::testing::Message() << "format " << format << ", " << p.width << "x" << p.height << ", "
                                        << p.bits << " bits" << (p.topDown ? ", top-down" : ""));
      CSaveStream recorder(0);
      SetUpSingleFile(recorder, format);
      ASSERT_TRUE(recorder.Open());
      for (int k = 0; k < kFrames; ++k) {
        // Frames alternate between the two writers; both append.
        const Dib::TDibSection picture = MakeFrame(k, p.width, p.height, p.topDown, p.bits);
        ASSERT_TRUE(k % 2 == 0 ? recorder.WriteDibSectionYuv(picture) : recorder.WriteBitmapYuv(picture));
      }
      ASSERT_TRUE(recorder.Close());
      const auto bytes = tovrin_test::ReadAll(Path("take.yuv"));
      const std::size_t frameBytes = FrameBytes(p.width, p.height, format);
      ASSERT_EQ(bytes.size(), kFrames * frameBytes);
      for (int k = 0; k < kFrames; ++k) {
        const auto* frame = bytes.data() + static_cast<std::size_t>(k) * frameBytes;
        EXPECT_EQ(std::vector<std::uint8_t>(frame, frame + frameBytes),
                  LibraryFrame(k, p.width, p.height, format))
            << "frame " << k;
        // Fixed-point coefficients and rounding before the chroma mean.
        EXPECT_LE(WorstDifference(frame, k, p.width, p.height, format), 2) << "frame " << k;
      }
    }
  }
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(SaveStreamTest, APictureTheRecorderCannotTakeWritesNothing) {
  CSaveStream recorder(0);
  SetUpSingleFile(recorder, 60);
  ASSERT_TRUE(recorder.Open());
  ASSERT_TRUE(recorder.WriteDibSectionYuv(MakeFrame(0, 8, 6)));
  const std::size_t before = SizeOf(Path("take.yuv"));
  ASSERT_EQ(before, FrameBytes(8, 6, 60));

  std::vector<std::pair<const char*, Dib::TDibSection>> refused;
  for (int bits : {16, 8, 1}) {
    Dib::TDibPtr low = Dib::CreateDibSectionEx(8, 6, bits);
    ASSERT_NE(low, nullptr);
    refused.emplace_back(bits == 16 ? "16 bits" : bits == 8 ? "8 bits" : "1 bit", *low);
  }
  Dib::TDibSection shortBits = MakeFrame(0, 8, 6);
  shortBits.bits.resize(shortBits.bits.size() - 1);
  refused.emplace_back("rows missing", shortBits);
  Dib::TDibSection swapped = MakeFrame(0, 8, 6);
  swapped.header.biCompression = Dib::BI_BITFIELDS;
  swapped.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
  refused.emplace_back("red and blue fields swapped", swapped);
  Dib::TDibSection empty = MakeFrame(0, 8, 6);
  empty.header.biWidth = 0;
  refused.emplace_back("no width", empty);
  for (const auto& [what, picture] : refused) {
    SCOPED_TRACE(what);
    EXPECT_FALSE(recorder.WriteBitmapYuv(picture));
    EXPECT_FALSE(recorder.WriteDibSectionYuv(picture));
    EXPECT_EQ(SizeOf(Path("take.yuv")), before);
  }
  // An output format without a YCbCr layout.
  recorder.SetOutputFileFormat(FF_BMP_24BIT);
  EXPECT_FALSE(recorder.WriteDibSectionYuv(MakeFrame(1, 8, 6)));
  EXPECT_EQ(SizeOf(Path("take.yuv")), before);
  recorder.SetOutputFileFormat(60);
  EXPECT_TRUE(recorder.WriteDibSectionYuv(MakeFrame(1, 8, 6)));
  EXPECT_TRUE(recorder.Close());
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(SaveStreamTest, NothingIsWrittenUnlessTheRecordingIsOpen) {
  const Dib::TDibSection picture = MakeFrame(0, 8, 6);
  CSaveStream never(0);
  SetUpSingleFile(never, 60);
  EXPECT_FALSE(never.WriteDibSectionYuv(picture));
  EXPECT_FALSE(never.WriteBitmapYuv(picture));
  EXPECT_FALSE(never.SetRecording(true));
  EXPECT_FALSE(never.IsRecording());
  EXPECT_FALSE(fs::exists(Path("take.yuv")));

  CSaveStream closed(0);
  SetUpSingleFile(closed, 60, "closed.yuv");
  ASSERT_TRUE(closed.Open());
  ASSERT_TRUE(closed.WriteDibSectionYuv(picture));
  ASSERT_TRUE(closed.Close());
  EXPECT_FALSE(closed.WriteDibSectionYuv(picture));
  EXPECT_FALSE(closed.WriteBitmapYuv(picture));
  EXPECT_EQ(SizeOf(Path("closed.yuv")), FrameBytes(8, 6, 60));

  // Separate files: the document writes them; the recorder has no file.
  CSaveStream separate(0);
  SetUpSingleFile(separate, 60, "separate.yuv");
  separate.m_bSingleFile = false;
  ASSERT_TRUE(separate.Open());
  EXPECT_FALSE(separate.WriteDibSectionYuv(picture));
  EXPECT_FALSE(fs::exists(Path("separate.yuv")));
  EXPECT_FALSE(separate.PushFrame(41, nullptr));
}

TEST_F(SaveStreamTest, PauseAndResumeGoOnInTheSameFile) {
  CSaveStream recorder(2);
  SetUpSingleFile(recorder, 81);
  ASSERT_TRUE(recorder.Open());
  ASSERT_TRUE(recorder.WriteDibSectionYuv(MakeFrame(0, 9, 7)));
  ASSERT_TRUE(recorder.WriteDibSectionYuv(MakeFrame(1, 9, 7)));
  ASSERT_TRUE(recorder.SetRecording(false));
  EXPECT_TRUE(recorder.IsOpen());
  EXPECT_FALSE(recorder.IsRecording());
  EXPECT_FALSE(recorder.WriteDibSectionYuv(MakeFrame(2, 9, 7)));  // paused: the frame is not recorded
  // A reference picture the user saves still goes to the open file.
  ASSERT_TRUE(recorder.WriteBitmapYuv(MakeFrame(3, 9, 7)));
  ASSERT_TRUE(recorder.SetRecording(true));
  ASSERT_TRUE(recorder.WriteDibSectionYuv(MakeFrame(4, 9, 7)));
  ASSERT_TRUE(recorder.Close());
  EXPECT_FALSE(recorder.SetRecording(true));

  const auto bytes = tovrin_test::ReadAll(Path("take.yuv"));
  const std::size_t frameBytes = FrameBytes(9, 7, 81);
  ASSERT_EQ(bytes.size(), 4 * frameBytes);
  const int kept[] = {0, 1, 3, 4};
  for (int i = 0; i < 4; ++i) {
    const auto* frame = bytes.data() + static_cast<std::size_t>(i) * frameBytes;
    EXPECT_EQ(std::vector<std::uint8_t>(frame, frame + frameBytes), LibraryFrame(kept[i], 9, 7, 81)) << i;
  }
}

TEST_F(SaveStreamTest, ADiskThatFillsHalfWayKeepsOnlyWholeFrames) {
  constexpr int kWidth = 20, kHeight = 12;
  constexpr std::int32_t kFormat = 74;  // 4:2:0
  const std::size_t frameBytes = FrameBytes(kWidth, kHeight, kFormat);
  // Room for two frames and part of a third, then for part of one more.
  for (const std::size_t limit : {2 * frameBytes + frameBytes / 3, frameBytes / 2}) {
    SCOPED_TRACE(limit);
    CSaveStream recorder(1);
    SetUpSingleFile(recorder, kFormat);
    ASSERT_TRUE(recorder.Open());
    std::vector<bool> written;
    {
      tovrin_test::TFileSizeLimit full(limit);
      ASSERT_TRUE(full.Ok());
      for (int k = 0; k < 4; ++k) {
        written.push_back(recorder.WriteDibSectionYuv(MakeFrame(k, kWidth, kHeight)));
      }
    }
    const std::size_t whole = limit / frameBytes;
    for (std::size_t k = 0; k < written.size(); ++k) {
      EXPECT_EQ(written[k], k < whole) << "frame " << k;
    }
    EXPECT_EQ(SizeOf(Path("take.yuv")), whole * frameBytes);
    // With room again, the next frame follows the whole ones.
    ASSERT_TRUE(recorder.WriteDibSectionYuv(MakeFrame(9, kWidth, kHeight)));
    ASSERT_TRUE(recorder.Close());
    const auto bytes = tovrin_test::ReadAll(Path("take.yuv"));
    ASSERT_EQ(bytes.size(), (whole + 1) * frameBytes);
    for (std::size_t k = 0; k <= whole; ++k) {
      const auto* frame = bytes.data() + k * frameBytes;
      const int picture = k < whole ? static_cast<int>(k) : 9;
      EXPECT_EQ(std::vector<std::uint8_t>(frame, frame + frameBytes),
                LibraryFrame(picture, kWidth, kHeight, kFormat));
    }
    EXPECT_TRUE(sink.Texts().empty());  // the caller reports
  }
}

// The descriptor the process holds on `path`, found through /proc.
int FindDescriptor(const std::string& path) {
  DIR* fds = ::opendir("/proc/self/fd");
  if (fds == nullptr) {
    return -1;
  }
  int found = -1;
  while (dirent* entry = ::readdir(fds)) {
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    if (!ec && target == fs::path(path) && std::atoi(entry->d_name) != ::dirfd(fds)) {
      found = std::atoi(entry->d_name);
    }
  }
  ::closedir(fds);
  return found;
}

TEST_F(SaveStreamTest, ACloseThatFailsIsReportedAndAnsweredFalse) {
  CSaveStream recorder(2);
  SetUpSingleFile(recorder, 60);
  ASSERT_TRUE(recorder.Open());
  ASSERT_TRUE(recorder.WriteDibSectionYuv(MakeFrame(0, 4, 4)));
  // The descriptor goes away behind the recorder's back, so its close fails.
  const int fd = FindDescriptor(fs::canonical(Path("take.yuv")).string());
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::close(fd), 0);
  EXPECT_FALSE(recorder.Close());
  EXPECT_FALSE(recorder.IsOpen() || recorder.IsRecording());
  const auto texts = sink.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("channel 2"), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find(std::strerror(EBADF)), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find(Path("take.yuv")), std::string::npos) << texts[0];
  EXPECT_TRUE(recorder.Close());  // nothing left to close
}

TEST_F(SaveStreamTest, PausingAndClosingWhileFramesArriveLeavesOnlyWholeFrames) {
  constexpr int kWidth = 33, kHeight = 19;
  constexpr std::int32_t kFormat = 56;
  CSaveStream recorder(0);
  SetUpSingleFile(recorder, kFormat);
  ASSERT_TRUE(recorder.Open());
  std::atomic<bool> stop{false};
  std::atomic<int> appended{0};
  std::thread pacing([&] {
    const Dib::TDibSection picture = MakeFrame(5, kWidth, kHeight);
    for (int i = 0; i < 2000 && !stop.load(); ++i) {
      if (recorder.WriteDibSectionYuv(picture)) {
        ++appended;
      }
    }
  });
  for (int i = 0; i < 50; ++i) {
    recorder.SetRecording(i % 2 == 1);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  recorder.SetRecording(true);
  EXPECT_TRUE(recorder.Close());
  stop = true;
  pacing.join();
  const auto bytes = tovrin_test::ReadAll(Path("take.yuv"));
  const std::size_t frameBytes = FrameBytes(kWidth, kHeight, kFormat);
  EXPECT_EQ(bytes.size(), static_cast<std::size_t>(appended.load()) * frameBytes);
  const auto expected = LibraryFrame(5, kWidth, kHeight, kFormat);
  for (std::size_t at = 0; at + frameBytes <= bytes.size(); at += frameBytes) {
    ASSERT_TRUE(
        std::equal(expected.begin(), expected.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at)));
  }
}

// ---------------------------------------------------------------------------
// The frame pipeline and the writer thread (Windows Media, fake encoder)

// An RGB frame of the channel's size whose first pixel carries its stamp.
struct TRgbFrame {
  std::vector<std::uint8_t> bytes;
  TMediaFrameNotice notice;
  TRgbFrame(int channel, int number, int width, int height, TPixelFormat format = PF_RGB32) {
    const int bits = format == PF_RGB24 ? 24 : 32;
    const int stride = ((width * bits + 31) / 32) * 4;
    bytes.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height), 0x40);
    wm_fake::StampFrame(bytes.data(), channel, number);
    notice.ePixelFormat = format;
    notice.nWidth = width;
    notice.nHeight = height;
    notice.pRgbData = bytes.data();
    notice.nRgbSize = static_cast<std::int32_t>(bytes.size());
    notice.dTime = number / 30.0;
  }
};

class RecorderPipelineTest : public SaveStreamTest {
 protected:
  // A single-file Windows Media recording of the channel's frames.
  void SetUpWmv(CSaveStream& recorder, int channel, int width = 6, int height = 4,
                TPixelFormat format = PF_RGB32, bool live = false) {
    SetUpSingleFile(recorder, FF_WMV, "channel" + std::to_string(channel) + ".wmv");
    recorder.m_bWindowsMedia = true;
    StartSession(recorder, channel, width, height, format, live);
  }
  // Pushes frames first..last-1 of the channel from this thread.
  int Push(CSaveStream& recorder, int channel, int first, int last, int width = 6, int height = 4) {
    int stored = 0;
    for (int k = first; k < last; ++k) {
      TRgbFrame frame(channel, k, width, height);
      stored += recorder.PushFrame(41 + channel, &frame.notice) ? 1 : 0;
    }
    return stored;
  }
  // The same on a thread of its own, with a bound: a producer still held
  // then is let go by the channel's stop, and the test fails.
  int PushBounded(CSaveStream& recorder, int channel, int first, int last) {
    auto pushed = std::async(std::launch::async, [&] { return Push(recorder, channel, first, last); });
    if (pushed.wait_for(recorder_test::kWaitBound) != std::future_status::ready) {
      ADD_FAILURE() << "the producer of channel " << channel << " is still held";
      engine.stop[static_cast<std::size_t>(channel)].store(true);
    }
    return pushed.get();
  }
  static std::vector<int> Numbers(const wm_fake::TFile& file, int channel) {
    std::vector<int> numbers;
    for (const wm_fake::TStamp& stamp : file.frames)
      numbers.push_back(stamp.channel == channel ? stamp.number : -1);
    return numbers;
  }
  static std::vector<int> Range(int first, int last) {
    std::vector<int> numbers;
    for (int k = first; k < last; ++k) numbers.push_back(k);
    return numbers;
  }

  wm_fake::TScopedFakeSinks sinks;
};

TEST_F(RecorderPipelineTest, AFastSourceIsRecordedWholeInOrderAndTheWriterEndsWithTheInput) {
  CSaveStream recorder;
  SetUpWmv(recorder, 2);
  sinks.script.writeDelay = std::chrono::microseconds(300);  // slower than the producer
  ASSERT_TRUE(recorder.Open());
  EXPECT_TRUE(recorder.IsPipelineRunning());
  EXPECT_EQ(engine.jobCount.load(), 1);
  EXPECT_EQ(engine.threadsStarted.load(), 1);
  EXPECT_EQ(engine.startedId.load(), 47);
  // 300 frames through a pipeline of 90: the producer waits for room.
  EXPECT_EQ(PushBounded(recorder, 2, 0, 300), 300);
  engine.stop[2].store(true);  // the input ends: the writer drains, then finishes
  ASSERT_TRUE(WaitUntil([&] { return engine.jobCount.load() == 0; }));
  EXPECT_FALSE(recorder.IsWriterRunning());
  EXPECT_TRUE(recorder.Close());
  EXPECT_FALSE(recorder.IsPipelineRunning());

  const auto files = sinks.script.Files();
  ASSERT_EQ(files.count(Path("channel2.wmv")), 1u);
  const wm_fake::TFile& file = files.at(Path("channel2.wmv"));
  EXPECT_EQ(Numbers(file, 2), Range(0, 300));
  EXPECT_TRUE(file.bFinished);
  ASSERT_FALSE(file.times.empty());
  EXPECT_EQ(file.times.front(), 0);
  EXPECT_TRUE(std::is_sorted(file.times.begin(), file.times.end(), std::less_equal<>()));
  EXPECT_EQ(recorder.FramesDropped(), 0);
  EXPECT_TRUE(recorder.LastJobSucceeded());
  EXPECT_EQ(recorder.LastJobFramesWritten(), 300);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(RecorderPipelineTest, EveryRecorderWritesItsOwnChannelsFramesAtOnce) {
  // Each recorder stores its channel's frames as the writer its thread reads,
  // whatever the channel's ProcID.
  std::array<CSaveStream, 4> recorders;
  for (int ch = 0; ch < 4; ++ch) SetUpWmv(recorders[static_cast<std::size_t>(ch)], ch);
  for (CSaveStream& recorder : recorders) ASSERT_TRUE(recorder.Open());
  EXPECT_EQ(engine.jobCount.load(), 4);
  std::vector<std::thread> producers;
  std::array<int, 4> stored{};
  for (int ch = 0; ch < 4; ++ch)
    producers.emplace_back([&, ch] {
      stored[static_cast<std::size_t>(ch)] =
          PushBounded(recorders[static_cast<std::size_t>(ch)], ch, 0, 100 + 10 * ch);
    });
  for (std::thread& t : producers) t.join();
  for (auto& flag : engine.stop) flag.store(true);
  ASSERT_TRUE(WaitUntil([&] { return engine.jobCount.load() == 0; }));
  for (CSaveStream& recorder : recorders) EXPECT_TRUE(recorder.Close());
  const auto files = sinks.script.Files();
  for (int ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE(ch);
    EXPECT_EQ(stored[static_cast<std::size_t>(ch)], 100 + 10 * ch);
    const auto it = files.find(Path("channel" + std::to_string(ch) + ".wmv"));
    ASSERT_NE(it, files.end());
    EXPECT_EQ(Numbers(it->second, ch), Range(0, 100 + 10 * ch));
  }
}

TEST_F(RecorderPipelineTest, ALiveSourceDropsWhatTheWriterCannotTakeCountsItAndSaysSoAtTheEnd) {
  struct TCase {
    bool live;
    const char* name;
  } cases[] = {{true, "live"}, {false, "file"}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    sink.Clear();
    CSaveStream recorder;
    SetUpWmv(recorder, 1, 6, 4, PF_RGB32, c.live);
    recorder.m_sSingleFileName = Path(std::string(c.name) + ".wmv");
    engine.stop[1].store(false);
    sinks.script.CloseGate();  // the writer is held: the pipeline fills
    ASSERT_TRUE(recorder.Open());
    int stored = 0;
    std::thread producer([&] { stored = PushBounded(recorder, 1, 0, 200); });
    if (c.live) {
      // A live push never waits: the producer is through while the writer
      // still holds its first frame.
      EXPECT_TRUE(WaitUntil([&] { return recorder.FramesDropped() + recorder.FramesQueued() == 200; }));
    } else {
      // A file source waits for room: nothing beyond the pipeline is taken.
      EXPECT_TRUE(WaitUntil([&] { return recorder.FramesQueued() >= 90; }));
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      EXPECT_LE(recorder.FramesQueued(), 91);
      EXPECT_EQ(recorder.FramesDropped(), 0);
    }
    sinks.script.OpenGate();
    producer.join();
    engine.stop[1].store(true);
    ASSERT_TRUE(WaitUntil([&] { return engine.jobCount.load() == 0; }));
    EXPECT_TRUE(recorder.Close());
    const auto files = sinks.script.Files();
    const std::vector<int> written = Numbers(files.at(Path(std::string(c.name) + ".wmv")), 1);
    EXPECT_TRUE(std::is_sorted(written.begin(), written.end(), std::less<>()));
    EXPECT_EQ(static_cast<int>(written.size()), stored);
    const std::vector<std::string> texts = sink.Texts();
    if (c.live) {
      EXPECT_GT(recorder.FramesDropped(), 0);
      EXPECT_EQ(recorder.FramesDropped() + stored, 200);
      ASSERT_EQ(texts.size(), 1u);
      EXPECT_NE(texts[0].find("channel 1"), std::string::npos) << texts[0];
      EXPECT_NE(texts[0].find(std::to_string(recorder.FramesDropped()) + " frames"), std::string::npos)
          << texts[0];
    } else {
      EXPECT_EQ(stored, 200);
      EXPECT_EQ(recorder.FramesDropped(), 0);
      EXPECT_TRUE(texts.empty());
    }
  }
}

TEST_F(RecorderPipelineTest, StopEndsAnIdleWriterAndAProducerWaitingForRoomPromptly) {
  // The writer waits for frames that never come; then a producer waits for
  // room the held writer never makes. Each ends soon after the stop.
  CSaveStream idle;
  SetUpWmv(idle, 0);
  ASSERT_TRUE(idle.Open());
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const auto stopped = std::chrono::steady_clock::now();
  engine.stop[0].store(true);
  ASSERT_TRUE(WaitUntil([&] { return engine.jobCount.load() == 0; }, std::chrono::seconds(2)));
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(2));
  EXPECT_TRUE(idle.Close());

  CSaveStream held;
  SetUpWmv(held, 3);
  sinks.script.CloseGate();
  ASSERT_TRUE(held.Open());
  std::atomic<bool> producerDone{false};
  int stored = 0;
  std::thread producer([&] {
    stored = Push(held, 3, 0, 500);
    producerDone.store(true);
  });
  ASSERT_TRUE(WaitUntil([&] { return held.FramesQueued() >= 90; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(producerDone.load());  // waiting for room
  engine.stop[3].store(true);
  EXPECT_TRUE(WaitUntil([&] { return producerDone.load(); }, std::chrono::seconds(2)));
  if (!producerDone.load()) held.Close();  // a producer the stop did not reach is let go
  producer.join();
  EXPECT_LT(stored, 500);
  sinks.script.OpenGate();  // the writer drains what was stored
  ASSERT_TRUE(WaitUntil([&] { return engine.jobCount.load() == 0; }));
  EXPECT_TRUE(held.Close());
  EXPECT_EQ(Numbers(sinks.script.Files().at(Path("channel3.wmv")), 3), Range(0, stored));
  // The push the stop cut short is no dropped frame.
  EXPECT_EQ(held.FramesDropped(), 0);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(RecorderPipelineTest, CloseWhileTheWriterRunsDrainsJoinsAndFreesInThatOrder) {
  CSaveStream recorder;
  SetUpWmv(recorder, 0);
  sinks.script.writeDelay = std::chrono::microseconds(500);
  ASSERT_TRUE(recorder.Open());
  EXPECT_EQ(Push(recorder, 0, 0, 60), 60);
  // No session stop: Close itself ends the input and waits for the writer.
  EXPECT_TRUE(recorder.Close());
  EXPECT_EQ(engine.jobCount.load(), 0);
  EXPECT_FALSE(recorder.IsWriterRunning());
  EXPECT_EQ(Numbers(sinks.script.Files().at(Path("channel0.wmv")), 0), Range(0, 60));
  // A closed recorder takes nothing and gives nothing.
  TRgbFrame frame(0, 60, 6, 4);
  EXPECT_FALSE(recorder.PushFrame(41, &frame.notice));
  TMediaFrameNotice notice;
  TDataFrame request;
  WmWriter::PointRecordFrameAt(&request, &notice);
  EXPECT_FALSE(recorder.PullFrame(nullptr, &request));
}

TEST_F(RecorderPipelineTest, ChannelsTheWriterCannotTakeAreRefusedNamingTheChannelBeforeAnyFile) {
  struct TCase {
    const char* name;
    TPixelFormat format;
    int width;
    bool settings;
    bool file;
  } cases[] = {
      {"4:2:0 frames", PF_YUV420_601, 6, true, true}, {"16-bit frames", PF_DIB_16, 6, true, true},
      {"no frame size", PF_RGB32, 0, true, true},     {"no settings handed over", PF_RGB32, 6, false, true},
      {"no output file", PF_RGB32, 6, true, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    sink.Clear();
    CSaveStream recorder;
    SetUpWmv(recorder, 3, c.width, 4, c.format);
    if (!c.settings) {
      CSaveStream fresh;  // never handed over
      fresh.m_bSingleFile = true;
      fresh.SetOutputFileFormat(FF_WMV);
      fresh.m_bWindowsMedia = true;
      fresh.m_sSingleFileName = recorder.m_sSingleFileName;
      fresh.m_nChannel = 3;
      fresh.m_Session = recorder.m_Session;
      EXPECT_FALSE(fresh.Open());
    } else {
      if (!c.file) recorder.m_sSingleFileName.clear();
      EXPECT_FALSE(recorder.Open());
      EXPECT_FALSE(recorder.IsOpen());
    }
    EXPECT_EQ(engine.jobCount.load(), 0);
    EXPECT_EQ(engine.threadsStarted.load(), 0);
    EXPECT_EQ(sinks.script.Opened(), 0);
    EXPECT_FALSE(fs::exists(Path("channel3.wmv")));
    const std::vector<std::string> texts = sink.Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("channel 3"), std::string::npos) << texts[0];
  }
}

TEST_F(RecorderPipelineTest, AJobThatFailsAtTheStartClosesTheInputAndReportsOnce) {
  CSaveStream recorder;
  SetUpWmv(recorder, 1);
  sinks.script.bOpenFails = true;
  ASSERT_TRUE(recorder.Open());
  ASSERT_TRUE(WaitUntil([&] { return engine.jobCount.load() == 0; }));
  // A blocking producer is not held: every push is refused at once.
  std::atomic<bool> done{false};
  int stored = -1;
  std::thread producer([&] {
    stored = Push(recorder, 1, 0, 300);
    done.store(true);
  });
  EXPECT_TRUE(WaitUntil([&] { return done.load(); }, std::chrono::seconds(2)));
  engine.stop[1].store(true);  // a producer still held is let go, so the test ends
  producer.join();
  EXPECT_EQ(stored, 0);
  EXPECT_FALSE(recorder.LastJobSucceeded());
  EXPECT_TRUE(recorder.Close());
  const std::vector<std::string> texts = sink.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("channel 1"), std::string::npos) << texts[0];
}

// "Enable custom sampling in writer" decides whether the channel's frame
// sampling applies; without it a WMV channel that is not a capture device
// is still recorded through the writer, every frame (it once recorded
// nothing), and a capture device's WMV goes to its graph.
TEST_F(RecorderPipelineTest, TheCustomSamplingSwitchDecidesTheSamplingAndACaptureDevicesGraph) {
  struct TCase {
    const char* what;
    bool device;
    bool customSampling;
    bool pipeline;
    std::vector<int> written;
  };
  const TCase cases[] = {
      {"a file, custom sampling off", false, false, true, Range(0, 24)},
      {"a file, custom sampling on", false, true, true, {4, 9, 14}},
      {"a device, custom sampling on", true, true, true, {4, 9, 14}},
      {"a device, custom sampling off: its graph", true, false, false, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    sink.Clear();
    const std::string name =
        std::string(c.device ? "device" : "file") + (c.customSampling ? "1" : "0") + ".wmv";
    CSaveStream recorder;
    SetUpSingleFile(recorder, FF_WMV, name);
    recorder.m_bWindowsMedia = c.customSampling;
    recorder.m_Sampling.nMode = 3;
    recorder.m_Sampling.nStartFrame = 4;
    recorder.m_Sampling.nEndFrame = 15;
    recorder.m_Sampling.nStepFrame = 5;
    engine.stop[1].store(false);
    StartSession(recorder, 1, 6, 4, PF_RGB32, c.device);
    ASSERT_TRUE(recorder.Open());
    EXPECT_EQ(recorder.IsPipelineRunning(), c.pipeline);
    EXPECT_EQ(Push(recorder, 1, 0, 24), c.pipeline ? 24 : 0);
    engine.stop[1].store(true);
    ASSERT_TRUE(WaitUntil([&] { return engine.jobCount.load() == 0; }));
    EXPECT_TRUE(recorder.Close());
    const auto files = sinks.script.Files();
    if (c.pipeline) {
      ASSERT_EQ(files.count(Path(name)), 1u);
      EXPECT_EQ(Numbers(files.at(Path(name)), 1), c.written);
    } else {
      EXPECT_EQ(files.count(Path(name)), 0u);
    }
    EXPECT_TRUE(sink.Texts().empty());
    // The stored sampling is kept for when the switch is turned on.
    EXPECT_EQ(recorder.m_Sampling.nMode, 3);
    engine.recorders[1] = nullptr;
  }
}

TEST_F(RecorderPipelineTest, FramesWithoutNumbersAreCountedSoFrameSamplingWorksOnStills) {
  // Stills carry frame number 0: the recorder numbers them as offered, and
  // one frame in three of frames 3..20 is kept.
  CSaveStream recorder;
  SetUpWmv(recorder, 0);
  WmWriter::TWmChannelSettings settings = recorder.WindowsMediaSettings();
  settings.sampling.nMode = 3;
  settings.sampling.nStartFrame = 3;
  settings.sampling.nEndFrame = 20;
  settings.sampling.nStepFrame = 3;
  recorder.HandOverSessionSettings(settings, false);
  ASSERT_TRUE(recorder.Open());
  for (int k = 0; k < 30; ++k) {
    TRgbFrame frame(0, k, 6, 4);
    frame.notice.nFrameNumber = 0;
    frame.notice.dTime = 0.0;
    ASSERT_TRUE(recorder.PushFrame(41, &frame.notice));
  }
  EXPECT_TRUE(recorder.Close());
  EXPECT_EQ(Numbers(sinks.script.Files().at(Path("channel0.wmv")), 0),
            (std::vector<int>{3, 6, 9, 12, 15, 18}));
}

}  // namespace
