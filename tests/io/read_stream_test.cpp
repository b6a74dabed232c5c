// The channel reader: binding to a source record, the choice of player by
// stream type, raw YUV files and single stills through the frame loop, and
// what the loop does when the engine refuses a frame or stops the channel.

#include "io/read_stream.h"

#include <gtest/gtest.h>

#include <QImage>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "io/codecs/gif_mgr.h"
#include "io/codecs/jpeg2000_mgr.h"
#include "io/codecs/tiff_mgr.h"
#include "media/dib.h"
#include "platform/message_sink.h"
#include "tests/support/message_fixture.h"
#include "tests/support/test_support.h"

namespace {

using namespace ZarnTypes;
using ReadStream::CReadStream;
using ReadStream::TReaderDelivery;
using ReadStream::TReaderSource;

// What the frame callback saw of one frame (copied: the notice is valid only
// during the call).
struct TSeenFrame {
  TMediaSenderKind eKind{};
  TSourcePurpose ePurpose{};
  std::int32_t nProcId = 0;
  void* pContext = nullptr;
  TPixelFormat ePixelFormat{};
  int nWidth = 0, nHeight = 0, nChromaWidth = 0, nChromaHeight = 0;
  std::vector<std::uint8_t> y, cb, cr, rgb, table;
  bool bHasHeader = false;
};

// Stands in for the engine's frame reception.
struct TFrameSink {
  std::vector<TSeenFrame> frames;
  std::atomic<bool> stop{false};
  std::atomic<bool> end{false};
  int stopAfter = -1;             // raise the stop flag once this many frames arrived
  int refuseFrame = -1;           // answer false for the frame of this index
  bool stopWhenRefusing = false;  // raise the stop flag before refusing

  static bool Callback(TMediaSenderKind kind, TSourcePurpose purpose, std::int32_t procId, void* context,
                       TMediaFrameNotice* f) {
    auto* self = static_cast<TFrameSink*>(context);
    TSeenFrame s;
    s.eKind = kind;
    s.ePurpose = purpose;
    s.nProcId = procId;
    s.pContext = context;
    s.ePixelFormat = f->ePixelFormat;
    s.nWidth = f->nWidth;
    s.nHeight = f->nHeight;
    s.nChromaWidth = f->nChromaWidth;
    s.nChromaHeight = f->nChromaHeight;
    if (f->pY != nullptr) s.y.assign(f->pY, f->pY + f->nYSize);
    if (f->pCb != nullptr) s.cb.assign(f->pCb, f->pCb + f->nCbSize);
    if (f->pCr != nullptr) s.cr.assign(f->pCr, f->pCr + f->nCrSize);
    if (f->pRgbData != nullptr) s.rgb.assign(f->pRgbData, f->pRgbData + f->nRgbSize);
    if (f->pColourTable != nullptr) s.table.assign(f->pColourTable, f->pColourTable + f->nColourTableSize);
    s.bHasHeader = f->pHeader != nullptr;
    self->frames.push_back(std::move(s));
    const int index = static_cast<int>(self->frames.size()) - 1;
    if (index == self->refuseFrame) {
      if (self->stopWhenRefusing) self->stop = true;
      return false;
    }
    if (self->stopAfter >= 0 && static_cast<int>(self->frames.size()) >= self->stopAfter) self->stop = true;
    return true;
  }

  TReaderDelivery Delivery(std::int32_t procId = 41, TMediaSenderKind kind = MEDIA_SENDER_STILLS) {
    TReaderDelivery d;
    d.nProcId = procId;
    d.eSenderKind = kind;
    d.ePurpose = SRC_STREAM;
    d.pContext = this;
    d.pFrameCallback = &TFrameSink::Callback;
    d.pStopFlag = &stop;
    d.pEndFlag = &end;
    return d;
  }
};

// Planar layouts by sampling: pixel format = file format - 2.
struct TLayout {
  const char* name;
  TFileFormat eFileFormat;
  int chromaDivX;
  int chromaDivY;
};
constexpr TLayout kLayout444{"444", TFileFormat{53}, 1, 1};
constexpr TLayout kLayout422{"422", TFileFormat{56}, 2, 1};
constexpr TLayout kLayout420{"420", TFileFormat{65}, 2, 2};

// Frame k of a generated raw YUV file: its luma counts up from 16 k, its
// chroma planes hold k + 1 and 200 - k, so every frame is recognisable.
std::uint8_t LumaOf(int k, std::size_t i) { return static_cast<std::uint8_t>((16 * k + i) & 0xFF); }
std::uint8_t CbOf(int k) { return static_cast<std::uint8_t>(k + 1); }
std::uint8_t CrOf(int k) { return static_cast<std::uint8_t>(200 - k); }

std::vector<std::uint8_t> MakeYuvFrames(const TLayout& layout, int w, int h, int frames) {
  const std::size_t ySize = static_cast<std::size_t>(w) * h;
  const std::size_t cSize = static_cast<std::size_t>(w / layout.chromaDivX) * (h / layout.chromaDivY);
  std::vector<std::uint8_t> bytes;
  for (int k = 0; k < frames; ++k) {
    for (std::size_t i = 0; i < ySize; ++i) bytes.push_back(LumaOf(k, i));
    bytes.insert(bytes.end(), cSize, CbOf(k));
    bytes.insert(bytes.end(), cSize, CrOf(k));
  }
  return bytes;
}

TReaderSource YuvSource(const std::string& path, const TLayout& layout, int w, int h, bool sequence = false) {
  TReaderSource s;
  s.bSequence = sequence;
  s.sPath = path;
  s.eStreamType = TStreamType{static_cast<std::int32_t>(layout.eFileFormat)};
  s.eFileFormat = layout.eFileFormat;
  s.ePixelFormat = TPixelFormat{static_cast<std::int32_t>(layout.eFileFormat) - 2};
  s.nWidth = w;
  s.nHeight = h;
  return s;
}

// Checks that a seen frame is frame k of the generated file.
void ExpectYuvFrame(const TSeenFrame& f, const TLayout& layout, int w, int h, int k) {
  const int cw = w / layout.chromaDivX;
  const int ch = h / layout.chromaDivY;
  EXPECT_EQ(f.ePixelFormat, static_cast<std::int32_t>(layout.eFileFormat) - 2);
  EXPECT_EQ(f.nWidth, w);
  EXPECT_EQ(f.nHeight, h);
  EXPECT_EQ(f.nChromaWidth, cw);
  EXPECT_EQ(f.nChromaHeight, ch);
  ASSERT_EQ(f.y.size(), static_cast<std::size_t>(w) * h);
  ASSERT_EQ(f.cb.size(), static_cast<std::size_t>(cw) * ch);
  ASSERT_EQ(f.cr.size(), static_cast<std::size_t>(cw) * ch);
  for (std::size_t i = 0; i < f.y.size(); ++i) {
    ASSERT_EQ(f.y[i], LumaOf(k, i)) << "frame " << k << " luma " << i;
  }
  EXPECT_EQ(f.cb.front(), CbOf(k));
  EXPECT_EQ(f.cb.back(), CbOf(k));
  EXPECT_EQ(f.cr.front(), CrOf(k));
  EXPECT_EQ(f.cr.back(), CrOf(k));
}

class ReadStreamTest : public tovrin_test::TRecordedMessagesTest {};

// ---------------------------------------------------------------------------

TEST(ReadStreamSource, SetSourceCopiesTheRecordAndRefusesChannelsOutsideZeroToThree) {
  CReadStream reader(1);
  TReaderSource before;
  before.sPath = "/keep/me.bmp";
  before.nWidth = 7;
  reader.SetDescription(before);

  TMediaSource src;
  src.eStreamType = ST_PNG;
  src.eSourceCategory = SOURCE_CAT_FILE;
  src.eFileFormat = FF_PNG;
  src.eFramePixelFormat = PF_RGB32;
  src.nWidth = 320;
  src.nHeight = 240;
  src.bRead = TRUE_;
  src.sPath = "/pics/a.png";

  for (int bad : {4, 5, -1}) {
    EXPECT_FALSE(reader.SetSource(bad, src)) << bad;
    EXPECT_EQ(reader.Description().sPath, "/keep/me.bmp");
    EXPECT_EQ(reader.Description().nWidth, 7);
    EXPECT_EQ(reader.GetBoundChannel(), 1);
  }

  ASSERT_TRUE(reader.SetSource(3, src));
  const TReaderSource& d = reader.Description();
  EXPECT_EQ(reader.GetBoundChannel(), 3);
  EXPECT_EQ(d.eStreamType, 43);
  EXPECT_EQ(d.nSourceCategory, 1);
  EXPECT_EQ(d.eFileFormat, 43);
  EXPECT_EQ(d.ePixelFormat, 28);
  EXPECT_EQ(d.nWidth, 320);
  EXPECT_EQ(d.nHeight, 240);
  EXPECT_TRUE(d.bSequence);
  EXPECT_EQ(d.sPath, "/pics/a.png");

  src.bRead = FALSE_;
  ASSERT_TRUE(reader.SetSource(0, src));
  EXPECT_FALSE(reader.Description().bSequence);
}

TEST(ReadStreamSource, ConstructionDefaults) {
  CReadStream reader(2);
  EXPECT_EQ(reader.GetChannel(), 2);
  EXPECT_EQ(reader.Description().eStreamType, 1);
  EXPECT_EQ(reader.GetFirstFrame(), 0);
  EXPECT_EQ(reader.GetFrameLimit(), 0);
  EXPECT_EQ(reader.GetFileTypeMode(), 1);
  EXPECT_EQ(reader.GetSortMode(), 0);
  EXPECT_EQ(reader.m_nSeekNumerator.load(), 0);
  EXPECT_EQ(reader.m_nSeekDenominator.load(), 100);
  const ReadStream::TReaderDeviceSettings& device = reader.DeviceSettings();
  EXPECT_EQ(device.nCaptureWorkMode, 1);
  EXPECT_FALSE(device.bAudioFromChannel);
  EXPECT_EQ(device.nDeviceValue1, 1);
  EXPECT_EQ(device.nDeviceValue2, 0);
  EXPECT_TRUE(reader.IsSoundOn());
  EXPECT_EQ(device.nAudioSetting, -1);
  EXPECT_EQ(device.nDeviceValue3, 0xFFFF);
  EXPECT_EQ(device.nDeviceValue4, 0xFFFF);
  EXPECT_EQ(reader.GetVolumeLevel(), 100);
  EXPECT_EQ(reader.GetVolumeScale(), 100);
  const std::vector<std::string> expected{".bmp", ".yuv", ".jpg", ".jp2", ".jpc", ".png", ".gif", ".tif"};
  for (int i = 0; i < CReadStream::kSequenceExtensionCount; ++i) {
    EXPECT_EQ(CReadStream::kSequenceExtensions[i], expected[i]);
  }
}

TEST(ReadStreamSource, StreamTypeChoosesThePlayer) {
  using ReadStream::GetReadPath;
  EXPECT_EQ(GetReadPath(15), ReadStream::READ_PATH_MNG);
  for (int t : {2, 3, 5, 6, 8, 9, 10, 11, 12, 13, 14, 19, 20, 21}) {
    EXPECT_EQ(GetReadPath(t), ReadStream::READ_PATH_MEDIA_GRAPH) << t;
  }
  for (int t : {0, 1, 4, 7, 16, 17, 18, 22, 26, 36, 37, 44, 53, 94, 95, 200, -3}) {
    EXPECT_EQ(GetReadPath(t), ReadStream::READ_PATH_FRAME_LOOP) << t;
  }
}

TEST_F(ReadStreamTest, MediaSourcesThatCannotStartEndCleanlyAndKeepTheSeekFractionReset) {
  for (TStreamType type : {ST_AVI, ST_MNG, ST_WAV}) {
    CReadStream reader(0);
    TReaderSource s;
    s.eStreamType = type;
    s.eFileFormat = TFileFormat{static_cast<std::int32_t>(type)};
    s.sPath = Path("clip");
    reader.SetDescription(s);
    TFrameSink fs;
    reader.SetDelivery(fs.Delivery());
    EXPECT_FALSE(reader.Run()) << type;
    EXPECT_TRUE(fs.end.load()) << type;
    EXPECT_TRUE(fs.frames.empty());
    EXPECT_TRUE(reader.m_bSeekRequest.load());
    EXPECT_EQ(reader.m_nSeekNumerator.load(), 0);
    EXPECT_EQ(reader.m_nSeekDenominator.load(), 1);
  }
}

TEST_F(ReadStreamTest, FrameLoopTypesWithoutAReaderReturnFalseAtOnce) {
  // MPEG-1, H.264 and the DVD file types reach the frame loop, which has no
  // reader for their formats.
  for (std::int32_t type : {4, 7, 16, 17, 18}) {
    CReadStream reader(0);
    TReaderSource s;
    s.eStreamType = TStreamType{type};
    s.eFileFormat = TFileFormat{type};
    s.ePixelFormat = PF_RGB32;
    s.nWidth = 4;
    s.nHeight = 4;
    s.sPath = Path("x.mpg");
    reader.SetDescription(s);
    TFrameSink fs;
    reader.SetDelivery(fs.Delivery());
    EXPECT_FALSE(reader.Run()) << type;
    EXPECT_TRUE(fs.frames.empty());
    EXPECT_FALSE(fs.end.load());
  }
  EXPECT_TRUE(sink.Texts().empty());
}

// ---------------------------------------------------------------------------
// Raw YUV files

class RawYuvLayoutTest : public ReadStreamTest, public ::testing::WithParamInterface<TLayout> {};

TEST_P(RawYuvLayoutTest, EveryFrameIsDeliveredInOrderThenTheEndFlagIsRaised) {
  const TLayout layout = GetParam();
  constexpr int w = 16, h = 8, frames = 5;
  const std::string path = Path("clip.yuv");
  tovrin_test::WriteAll(path, MakeYuvFrames(layout, w, h, frames));

  CReadStream reader(2);
  reader.SetDescription(YuvSource(path, layout, w, h));
  TFrameSink fs;
  reader.SetDelivery(fs.Delivery(43, MEDIA_SENDER_STILLS));
  EXPECT_TRUE(reader.Run());

  ASSERT_EQ(fs.frames.size(), static_cast<std::size_t>(frames));
  for (int k = 0; k < frames; ++k) {
    SCOPED_TRACE(k);
    ExpectYuvFrame(fs.frames[k], layout, w, h, k);
    EXPECT_EQ(fs.frames[k].eKind, MEDIA_SENDER_STILLS);
    EXPECT_EQ(fs.frames[k].ePurpose, SRC_STREAM);
    EXPECT_EQ(fs.frames[k].nProcId, 43);
    EXPECT_EQ(fs.frames[k].pContext, &fs);
  }
  EXPECT_TRUE(fs.end.load());
  EXPECT_FALSE(fs.stop.load());
  EXPECT_EQ(reader.GetCurrentFile(), path);
  EXPECT_TRUE(sink.Texts().empty());
}

INSTANTIATE_TEST_SUITE_P(Layouts, RawYuvLayoutTest, ::testing::Values(kLayout444, kLayout422, kLayout420),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReadStreamTest, ATruncatedRawYuvFileDeliversOnlyItsWholeFrames) {
  constexpr int w = 8, h = 4;
  std::vector<std::uint8_t> bytes = MakeYuvFrames(kLayout420, w, h, 3);
  const std::size_t frameSize = w * h * 3 / 2;
  bytes.resize(2 * frameSize + frameSize / 2);  // half of the third frame
  const std::string path = Path("short.yuv");
  tovrin_test::WriteAll(path, bytes);

  CReadStream reader(0);
  reader.SetDescription(YuvSource(path, kLayout420, w, h));
  TFrameSink fs;
  reader.SetDelivery(fs.Delivery());
  EXPECT_TRUE(reader.Run());
  ASSERT_EQ(fs.frames.size(), 2u);
  ExpectYuvFrame(fs.frames[0], kLayout420, w, h, 0);
  ExpectYuvFrame(fs.frames[1], kLayout420, w, h, 1);
  EXPECT_TRUE(fs.end.load());
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(ReadStreamTest, ARawYuvFileShorterThanOneFrameDeliversNothing) {
  const std::string path = Path("tiny.yuv");
  tovrin_test::WriteAll(path, std::vector<std::uint8_t>(10, 0x55));
  CReadStream reader(0);
  reader.SetDescription(YuvSource(path, kLayout420, 8, 4));
  TFrameSink fs;
  reader.SetDelivery(fs.Delivery());
  EXPECT_TRUE(reader.Run());
  EXPECT_TRUE(fs.frames.empty());
  EXPECT_TRUE(fs.end.load());
}

TEST_F(ReadStreamTest, AMissingRawYuvFileIsReportedAndTheLoopDoesNotStart) {
  const std::string path = Path("absent.yuv");
  CReadStream reader(2);
  reader.SetDescription(YuvSource(path, kLayout420, 8, 4));
  TFrameSink fs;
  reader.SetDelivery(fs.Delivery());
  EXPECT_FALSE(reader.Run());
  EXPECT_TRUE(fs.frames.empty());
  EXPECT_FALSE(fs.end.load());
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0], "Open \"Read Sequence\" channel 2 \n Can not open input file " + path +
                                 " \n Reading from channel has been disabled");
}

TEST_F(ReadStreamTest, AFolderNamedAsTheRawYuvFileCannotBeOpened) {
  const std::string path = Path("folder.yuv");
  std::filesystem::create_directory(path);
  CReadStream reader(1);
  reader.SetDescription(YuvSource(path, kLayout420, 8, 4));
  TFrameSink fs;
  reader.SetDelivery(fs.Delivery());
  EXPECT_FALSE(reader.Run());
  EXPECT_TRUE(fs.frames.empty());
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0], "Open \"Read Sequence\" channel 1 \n Can not open input file " + path +
                                 " \n Reading from channel has been disabled");
}

TEST_F(ReadStreamTest, ALayoutWithoutAFrameReaderIsRefused) {
  const std::string path = Path("clip.yuv");
  tovrin_test::WriteAll(path, MakeYuvFrames(kLayout420, 8, 4, 2));
  // The JPEG decoder's planar codes and the packed layouts have no raw file form.
  for (std::int32_t pf : {48, 49, 50, 93, 94}) {
    CReadStream reader(0);
    TReaderSource s = YuvSource(path, kLayout420, 8, 4);
    s.ePixelFormat = TPixelFormat{pf};
    reader.SetDescription(s);
    TFrameSink fs;
    reader.SetDelivery(fs.Delivery());
    EXPECT_FALSE(reader.Run()) << pf;
    EXPECT_TRUE(fs.frames.empty()) << pf;
  }
}

TEST_F(ReadStreamTest, AnImpossibleFrameSizeIsRefusedBeforeAnythingIsRead) {
  const std::string path = Path("clip.yuv");
  tovrin_test::WriteAll(path, MakeYuvFrames(kLayout420, 8, 4, 2));
  struct Size {
    int w, h;
  };
  for (const Size size : {Size{0, 4}, Size{8, -2}, Size{100000, 100000}, Size{2147483647, 2}}) {
    for (const TLayout& layout : {kLayout444, kLayout420}) {
      CReadStream reader(0);
      reader.SetDescription(YuvSource(path, layout, size.w, size.h));
      TFrameSink fs;
      reader.SetDelivery(fs.Delivery());
      EXPECT_FALSE(reader.Run()) << size.w << "x" << size.h;
      EXPECT_TRUE(fs.frames.empty());
    }
    CReadStream still(0);
    TReaderSource s;
    s.sPath = Path("none.png");
    s.eStreamType = ST_PNG;
    s.eFileFormat = FF_PNG;
    s.ePixelFormat = PF_RGB32;
    s.nWidth = size.w;
    s.nHeight = size.h;
    still.SetDescription(s);
    TFrameSink fs;
    still.SetDelivery(fs.Delivery());
    EXPECT_FALSE(still.Run()) << size.w << "x" << size.h;
    EXPECT_TRUE(fs.frames.empty());
  }
}

TEST_F(ReadStreamTest, AStopBeforeTheFirstFrameEndsTheLoopWithoutReading) {
  const std::string path = Path("clip.yuv");
  tovrin_test::WriteAll(path, MakeYuvFrames(kLayout420, 8, 4, 3));
  CReadStream reader(0);
  reader.SetDescription(YuvSource(path, kLayout420, 8, 4));
  TFrameSink fs;
  fs.stop = true;
  reader.SetDelivery(fs.Delivery());
  EXPECT_TRUE(reader.Run());
  EXPECT_TRUE(fs.frames.empty());
  EXPECT_FALSE(fs.end.load());
}

TEST_F(ReadStreamTest, AStopDuringDeliveryEndsTheLoopAfterThatFrame) {
  const std::string path = Path("clip.yuv");
  tovrin_test::WriteAll(path, MakeYuvFrames(kLayout420, 8, 4, 10));
  CReadStream reader(0);
  reader.SetDescription(YuvSource(path, kLayout420, 8, 4));
  TFrameSink fs;
  fs.stopAfter = 3;
  reader.SetDelivery(fs.Delivery());
  EXPECT_TRUE(reader.Run());
  ASSERT_EQ(fs.frames.size(), 3u);
  ExpectYuvFrame(fs.frames[2], kLayout420, 8, 4, 2);
  EXPECT_FALSE(fs.end.load());
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(ReadStreamTest, ARefusedFrameIsReportedAndStopsTheChannel) {
  const std::string path = Path("clip.yuv");
  tovrin_test::WriteAll(path, MakeYuvFrames(kLayout420, 8, 4, 10));
  CReadStream reader(0);
  reader.SetDescription(YuvSource(path, kLayout420, 8, 4));
  TFrameSink fs;
  fs.refuseFrame = 1;
  reader.SetDelivery(fs.Delivery(44));
  EXPECT_TRUE(reader.Run());
  EXPECT_EQ(fs.frames.size(), 2u);
  EXPECT_TRUE(fs.stop.load());
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0], "Can not send video data to DPB: process ID 44");
}

TEST_F(ReadStreamTest, AFrameRefusedBecauseOfAStopIsNotReported) {
  const std::string path = Path("clip.yuv");
  tovrin_test::WriteAll(path, MakeYuvFrames(kLayout420, 8, 4, 10));
  CReadStream reader(0);
  reader.SetDescription(YuvSource(path, kLayout420, 8, 4));
  TFrameSink fs;
  fs.refuseFrame = 0;
  fs.stopWhenRefusing = true;
  reader.SetDelivery(fs.Delivery());
  EXPECT_TRUE(reader.Run());
  EXPECT_EQ(fs.frames.size(), 1u);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(ReadStreamTest, TheReaderRunsAgainAfterASession) {
  const std::string path = Path("clip.yuv");
  tovrin_test::WriteAll(path, MakeYuvFrames(kLayout422, 8, 4, 3));
  CReadStream reader(0);
  reader.SetDescription(YuvSource(path, kLayout422, 8, 4));
  for (int session = 0; session < 2; ++session) {
    TFrameSink fs;
    reader.SetDelivery(fs.Delivery());
    EXPECT_TRUE(reader.Run());
    ASSERT_EQ(fs.frames.size(), 3u) << session;
    ExpectYuvFrame(fs.frames[0], kLayout422, 8, 4, 0);
    ExpectYuvFrame(fs.frames[2], kLayout422, 8, 4, 2);
  }
}

// ---------------------------------------------------------------------------
// Single stills

TEST_F(ReadStreamTest, ASingleBitmapIsDeliveredAgainUntilTheChannelStops) {
  constexpr int w = 5, h = 3;
  Dib::TDibSection section;
  section.header.biWidth = w;
  section.header.biHeight = h;
  section.header.biBitCount = 24;
  section.bits.assign(section.Stride() * h, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = section.RowFromTop(y) + 3 * x;
      p[0] = static_cast<std::uint8_t>(10 * x);       // blue
      p[1] = static_cast<std::uint8_t>(50 + 10 * y);  // green
      p[2] = 200;                                     // red
    }
  }
  const std::string path = Path("still.bmp");
  ASSERT_TRUE(Dib::SaveDibSectionToBmpFile(path, section));

  CReadStream reader(0);
  TReaderSource s;
  s.bSequence = false;
  s.sPath = path;
  s.eStreamType = ST_BMP;
  s.eFileFormat = FF_BMP;
  s.ePixelFormat = PF_RGB24;
  s.nWidth = w;
  s.nHeight = h;
  reader.SetDescription(s);
  TFrameSink fs;
  fs.stopAfter = 4;
  reader.SetDelivery(fs.Delivery(41, MEDIA_SENDER_BMP));
  EXPECT_TRUE(reader.Run());
  ASSERT_EQ(fs.frames.size(), 4u);
  for (const TSeenFrame& f : fs.frames) {
    EXPECT_EQ(f.ePixelFormat, PF_RGB24);
    EXPECT_TRUE(f.bHasHeader);
    EXPECT_TRUE(f.table.empty());
    ASSERT_EQ(f.rgb.size(), section.bits.size());
    EXPECT_EQ(f.rgb, section.bits);  // bottom-up rows as the bitmap holds them
  }
  EXPECT_FALSE(fs.end.load());
}

TEST_F(ReadStreamTest, APalettizedBitmapCarriesItsColourTable) {
  constexpr int w = 9, h = 2;
  Dib::TDibSection section;
  section.header.biWidth = w;
  section.header.biHeight = h;
  section.header.biBitCount = 1;
  section.colorTable = {Dib::TRgbQuad{10, 20, 30, 0}, Dib::TRgbQuad{40, 50, 60, 0}};
  section.bits.assign(section.Stride() * h, 0);
  section.bits[0] = 0xA5;
  const std::string path = Path("mono.bmp");
  ASSERT_TRUE(Dib::SaveDibSectionToBmpFile(path, section));

  CReadStream reader(0);
  TReaderSource s;
  s.sPath = path;
  s.eStreamType = ST_BMP;
  s.eFileFormat = FF_BMP;
  s.ePixelFormat = PF_DIB_1;
  s.nWidth = w;
  s.nHeight = h;
  reader.SetDescription(s);
  TFrameSink fs;
  fs.stopAfter = 1;
  reader.SetDelivery(fs.Delivery());
  EXPECT_TRUE(reader.Run());
  ASSERT_EQ(fs.frames.size(), 1u);
  const TSeenFrame& f = fs.frames[0];
  // A logical palette: version 0x300, two entries, red green blue flags.
  const std::vector<std::uint8_t> expected{0x00, 0x03, 2, 0, 30, 20, 10, 0, 60, 50, 40, 0};
  EXPECT_EQ(f.table, expected);
  ASSERT_EQ(f.rgb.size(), 8u);  // two rows of 4 bytes
  EXPECT_EQ(f.rgb[0], 0xA5);
}

TEST_F(ReadStreamTest, ABitmapWhoseDepthDoesNotFitTheChannelEndsWithoutAMessage) {
  Dib::TDibSection section;
  section.header.biWidth = 4;
  section.header.biHeight = 4;
  section.header.biBitCount = 24;
  section.bits.assign(section.Stride() * 4, 0x33);
  const std::string path = Path("deep.bmp");
  ASSERT_TRUE(Dib::SaveDibSectionToBmpFile(path, section));
  CReadStream reader(0);
  TReaderSource s;
  s.sPath = path;
  s.eStreamType = ST_BMP;
  s.eFileFormat = FF_BMP;
  s.ePixelFormat = PF_RGB32;
  s.nWidth = 4;
  s.nHeight = 4;
  reader.SetDescription(s);
  TFrameSink fs;
  reader.SetDelivery(fs.Delivery());
  EXPECT_TRUE(reader.Run());
  EXPECT_TRUE(fs.frames.empty());
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(ReadStreamTest, ASingleJpegIsDecodedAndDeliveredUntilTheChannelStops) {
  constexpr int w = 16, h = 8;
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(QColor(30, 160, 90));
  const std::string path = Path("still.jpg");
  ASSERT_TRUE(image.save(QString::fromStdString(path), "JPG", 95));

  CReadStream reader(0);
  TReaderSource s;
  s.sPath = path;
  s.eStreamType = ST_JPEG;
  s.eFileFormat = FF_JPEG;
  s.ePixelFormat = PF_RGB24;
  s.nWidth = w;
  s.nHeight = h;
  reader.SetDescription(s);
  TFrameSink fs;
  fs.stopAfter = 3;
  reader.SetDelivery(fs.Delivery(41, MEDIA_SENDER_JPEG));
  EXPECT_TRUE(reader.Run());
  ASSERT_EQ(fs.frames.size(), 3u);
  for (const TSeenFrame& f : fs.frames) {
    EXPECT_EQ(f.eKind, MEDIA_SENDER_JPEG);
    EXPECT_EQ(f.ePixelFormat, PF_RGB24);
    ASSERT_EQ(f.rgb.size(), static_cast<std::size_t>(w * 3 * h));  // 48-byte rows need no padding
    // Blue, green, red near the colour written.
    EXPECT_NEAR(f.rgb[0], 90, 6);
    EXPECT_NEAR(f.rgb[1], 160, 6);
    EXPECT_NEAR(f.rgb[2], 30, 6);
  }
}

// Every still format the loop decodes, written by the program's own savers
// as a solid picture and played as a single still: one frame of the colour.
TEST_F(ReadStreamTest, EachStillFormatIsDecodedByItsOwnReader) {
  constexpr int w = 16, h = 8;
  Dib::TDibSection picture;
  picture.header.biWidth = w;
  picture.header.biHeight = h;
  picture.header.biBitCount = 32;
  picture.bits.assign(picture.Stride() * h, 0);
  for (std::size_t i = 0; i + 3 < picture.bits.size(); i += 4) {
    picture.bits[i] = 90;       // blue
    picture.bits[i + 1] = 160;  // green
    picture.bits[i + 2] = 30;   // red
  }
  struct Case {
    const char* name;
    TFileFormat eFormat;
    TStreamType eStreamType;
    TPixelFormat ePixelFormat;
    TMediaSenderKind eKind;
  };
  const Case cases[] = {
      {"still.gif", FF_GIF, ST_GIF, PF_RGB32, MEDIA_SENDER_GIF},
      {"still.jpg", FF_JPEG, ST_JPEG, PF_RGB24, MEDIA_SENDER_JPEG},
      {"still.jp2", FF_JP2, ST_JPEG2000, PF_RGB32, MEDIA_SENDER_JPEG2000},
      {"still.jpc", FF_JPC, ST_JPEG2000, PF_RGB32, MEDIA_SENDER_JPEG2000},
      {"still.png", FF_PNG, ST_PNG, PF_RGB32, MEDIA_SENDER_PNG},
      {"still.tif", FF_TIFF, ST_TIFF, PF_RGB32, MEDIA_SENDER_TIFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(c.name);
    bool saved = false;
    switch (c.eFormat) {
      case FF_GIF: saved = GifMgr::CGifMgr().SaveGif(path, FF_GIF, TGifSettings{}, picture); break;
      case FF_JP2:
      case FF_JPC: {
        TJpeg2000Settings settings;
        settings.nFileFormat = c.eFormat;
        saved = Jpeg2000Mgr::CJpeg2000Mgr().SaveJpeg2000(path, c.eFormat, settings, picture);
        break;
      }
      case FF_TIFF: saved = TiffMgr::CTiffMgr().SaveTiff(path, FF_TIFF, TTiffSettings{}, picture); break;
      default: {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(QColor(30, 160, 90));
        saved = image.save(QString::fromStdString(path), c.eFormat == FF_PNG ? "PNG" : "JPG", 95);
        break;
      }
    }
    ASSERT_TRUE(saved);

    CReadStream reader(0);
    TReaderSource s;
    s.sPath = path;
    s.eStreamType = c.eStreamType;
    s.eFileFormat = c.eFormat;
    s.ePixelFormat = c.ePixelFormat;
    s.nWidth = w;
    s.nHeight = h;
    reader.SetDescription(s);
    TFrameSink fs;
    fs.stopAfter = 1;
    reader.SetDelivery(fs.Delivery(41, c.eKind));
    EXPECT_TRUE(reader.Run());
    ASSERT_EQ(fs.frames.size(), 1u);
    const TSeenFrame& f = fs.frames[0];
    EXPECT_EQ(f.eKind, c.eKind);
    EXPECT_EQ(f.ePixelFormat, c.ePixelFormat);
    const int bpp = c.ePixelFormat == PF_RGB24 ? 3 : 4;
    ASSERT_EQ(f.rgb.size(), static_cast<std::size_t>(w * h * bpp));
    for (std::size_t at : {std::size_t{0}, f.rgb.size() - bpp}) {
      EXPECT_NEAR(f.rgb[at], 90, 8);
      EXPECT_NEAR(f.rgb[at + 1], 160, 8);
      EXPECT_NEAR(f.rgb[at + 2], 30, 8);
    }
  }
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(ReadStreamTest, AStillOfAnotherSizeThanTheChannelIsReported) {
  QImage image(12, 6, QImage::Format_RGB32);
  image.fill(Qt::white);
  const std::string path = Path("other.png");
  ASSERT_TRUE(image.save(QString::fromStdString(path), "PNG"));
  CReadStream reader(0);
  TReaderSource s;
  s.sPath = path;
  s.eStreamType = ST_PNG;
  s.eFileFormat = FF_PNG;
  s.ePixelFormat = PF_RGB32;
  s.nWidth = 10;
  s.nHeight = 6;
  reader.SetDescription(s);
  TFrameSink fs;
  reader.SetDelivery(fs.Delivery());
  EXPECT_TRUE(reader.Run());
  EXPECT_TRUE(fs.frames.empty());
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0], "Read sequence: Size of " + path + " is different from the start image " + path);
}

}  // namespace
