#include "io/codecs/jpeg_mgr.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "media/frame_buffer.h"
#include "platform/message_sink.h"
#include "tests/support/codecs/picture_support.h"
#include "tests/support/codecs/qt_image.h"
#include "tests/support/message_fixture.h"
#include "tests/support/test_support.h"

namespace {

using namespace ZarnTypes;
using JpegMgr::CJpegMgr;
using tovrin_test::ReadAll;
using tovrin_test::TTempDir;
using tovrin_test::WriteAll;

constexpr char kCaption[] = "JPEG Library Error";

struct Rgb {
  int r = 0, g = 0, b = 0;
};

// A smooth picture (JPEG keeps it well): red across, green down, blue
// diagonal, so that flipped or mirrored rows show as large errors.
Rgb SmoothPixel(int x, int y, int w, int h) {
  return {x * 255 / std::max(1, w - 1), y * 255 / std::max(1, h - 1), (x + y) * 255 / std::max(1, w + h - 2)};
}

using Frame = tovrin_test::TOwnedFrame;

// A bottom-up 24- or 32-bit frame holding the smooth picture.
void MakeSmoothFrame(Frame& frame, TPixelFormat format, int w, int h) {
  frame.fb = tovrin_test::FrameRecord(format, w, h);
  ASSERT_TRUE(AllocFrameBuffer(&frame.fb));
  std::memset(frame.fb.pBuffer, 0xCD, static_cast<std::size_t>(frame.fb.nSize));
  const int bpp = format == PF_RGB24 ? 3 : 4;
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = frame.fb.pBuffer + static_cast<std::ptrdiff_t>(h - 1 - y) * frame.fb.nStride;
    for (int x = 0; x < w; ++x) {
      const Rgb c = SmoothPixel(x, y, w, h);
      row[x * bpp + 0] = static_cast<std::uint8_t>(c.b);
      row[x * bpp + 1] = static_cast<std::uint8_t>(c.g);
      row[x * bpp + 2] = static_cast<std::uint8_t>(c.r);
      if (bpp == 4) row[x * bpp + 3] = 0;
    }
  }
}

// Pixel (x, y from the top) of a bottom-up decoded frame.
Rgb PixelAt(const TMediaRequest& request, int x, int y) {
  const int bpp = request.ePixelFormat == PF_RGB24 ? 3 : 4;
  const std::uint8_t* p =
      request.pPixels + static_cast<std::ptrdiff_t>(request.nHeight - 1 - y) * request.nStride + x * bpp;
  return {p[2], p[1], p[0]};
}

// A request to write the frame to the file at `path` (kept by the caller).
TMediaRequest WriteRequest(const std::string& path, const TFrameBuffer& fb, TFileFormat format) {
  TMediaRequest request{};
  request.eOp = MEDIA_OP_WRITE_STILL;
  request.eSourceFormat = format;
  request.ePixelFormat = fb.ePixelFormat;
  request.pPath = &path;
  request.nWidth = fb.nWidth;
  request.nHeight = fb.nHeight;
  request.pFrameBuffer = const_cast<TFrameBuffer*>(&fb);
  return request;
}

// A request to read JPEG bytes from memory into `fb`.
TMediaRequest MemoryRequest(TPixelFormat target, TFrameBuffer& fb) {
  TMediaRequest request{};
  request.ePixelFormat = target;
  request.pFrameBuffer = &fb;
  return request;
}

bool WriteJpeg(const std::string& path, const TFrameBuffer& fb, TFileFormat format, int quality,
               TMediaRequest* out = nullptr) {
  TMediaRequest request = WriteRequest(path, fb, format);
  CJpegMgr manager;
  const bool ok = manager.WriteJpeg(request, quality);
  EXPECT_EQ(ok, request.bSuccess);
  if (out) *out = request;
  return ok;
}

TMediaRequest ReadJpeg(const std::string& path, TPixelFormat target, TFrameBuffer& fb,
                       void* results = nullptr) {
  TMediaRequest request = tovrin_test::ReadRequest(path, target, fb, results);
  CJpegMgr manager;
  const bool ok = manager.ReadJpeg(request);
  EXPECT_EQ(ok, request.bSuccess);
  return request;
}

// Largest and mean absolute difference between the decoded picture and the
// smooth one, over red, green and blue.
struct Error {
  int max = 0;
  double mean = 0;
};
Error CompareToSmooth(const TMediaRequest& request) {
  Error e;
  double sum = 0;
  for (int y = 0; y < request.nHeight; ++y)
    for (int x = 0; x < request.nWidth; ++x) {
      const Rgb want = SmoothPixel(x, y, request.nWidth, request.nHeight);
      const Rgb got = PixelAt(request, x, y);
      for (int d : {got.r - want.r, got.g - want.g, got.b - want.b}) {
        e.max = std::max(e.max, std::abs(d));
        sum += std::abs(d);
      }
    }
  e.mean = sum / (3.0 * request.nWidth * request.nHeight);
  return e;
}

// The decoded picture of Qt's size, every pixel within 2 of what Qt read in
// red, green and blue; stops at the first one that is not.
void ExpectCloseToQt(const TMediaRequest& r, const QImage& qt) {
  ASSERT_EQ(r.nWidth, qt.width());
  ASSERT_EQ(r.nHeight, qt.height());
  for (int y = 0; y < r.nHeight; ++y)
    for (int x = 0; x < r.nWidth; ++x) {
      const QRgb q = qt.pixel(x, y);
      const Rgb got = PixelAt(r, x, y);
      ASSERT_NEAR(got.r, qRed(q), 2) << x << "," << y;
      ASSERT_NEAR(got.g, qGreen(q), 2) << x << "," << y;
      ASSERT_NEAR(got.b, qBlue(q), 2) << x << "," << y;
    }
}

std::size_t FindMarker(const std::vector<std::uint8_t>& bytes, std::uint8_t marker) {
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
    if (bytes[i] == 0xFF && bytes[i + 1] == marker) return i;
  return std::string::npos;
}

class JpegMgrTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  // A colour JPEG of the smooth picture.
  std::string MakeJpeg(const std::string& name, int w, int h, TFileFormat format = FF_JPEG,
                       int quality = 90) {
    Frame frame;
    MakeSmoothFrame(frame, PF_RGB24, w, h);
    const std::string path = Path(name);
    EXPECT_TRUE(WriteJpeg(path, frame.fb, format, quality));
    return path;
  }
  // The colour JPEG of a w x h smooth picture, changed by `damage`, as the
  // file `name`; the messages of making it are cleared.
  std::string MakeDamagedJpeg(
      const std::string& name, int w, int h,
      const std::function<std::vector<std::uint8_t>(std::vector<std::uint8_t>)>& damage) {
    const std::string good = MakeJpeg("good.jpg", w, h);
    const std::string path = Path(name);
    WriteAll(path, damage(ReadAll(good)));
    sink.Clear();
    return path;
  }
};

// ---------------------------------------------------------------------------
// Round trips

struct RoundTripCase {
  TPixelFormat source;
  TPixelFormat target;
};

class JpegRoundTrip : public JpegMgrTest, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(JpegRoundTrip, ColourPictureSurvivesWithinTolerance) {
  const RoundTripCase c = GetParam();
  constexpr int w = 37, h = 23;  // not multiples of the 8 x 8 blocks
  Frame source;
  MakeSmoothFrame(source, c.source, w, h);
  const std::string path = Path("smooth.jpg");
  ASSERT_TRUE(WriteJpeg(path, source.fb, FF_JPEG, 95));

  Frame decoded;
  const TMediaRequest r = ReadJpeg(path, c.target, decoded.fb);
  ASSERT_TRUE(r.bSuccess);
  EXPECT_EQ(r.eError, MEDIA_ERR_NONE);
  EXPECT_EQ(r.nWidth, w);
  EXPECT_EQ(r.nHeight, h);
  const int bpp = c.target == PF_RGB24 ? 3 : 4;
  EXPECT_EQ(r.nStride, (w * bpp + 3) / 4 * 4);
  EXPECT_EQ(r.nSize, r.nStride * h);
  EXPECT_EQ(r.pPixels, decoded.fb.pBuffer);
  EXPECT_EQ(decoded.fb.ePixelFormat, c.target);

  const Error e = CompareToSmooth(r);
  EXPECT_LE(e.max, 24);
  EXPECT_LE(e.mean, 3.0);
  if (bpp == 4) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(r.pPixels[y * r.nStride + x * 4 + 3], 0) << x << "," << y;
  }
  EXPECT_TRUE(sink.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Layouts, JpegRoundTrip,
                         ::testing::Values(RoundTripCase{PF_RGB24, PF_RGB24},
                                           RoundTripCase{PF_RGB24, PF_RGB32},
                                           RoundTripCase{PF_RGB32, PF_RGB24},
                                           RoundTripCase{PF_RGB32, PF_RGB32}));

TEST_F(JpegMgrTest, GreyscaleFormatWritesOneComponentOfTheLuma) {
  constexpr int w = 40, h = 24;
  const std::string path = MakeJpeg("grey.jpg", w, h, FF_JPEG_GRAY, 95);

  const QImage qt(QString::fromStdString(path));
  ASSERT_FALSE(qt.isNull());
  EXPECT_EQ(qt.format(), QImage::Format_Grayscale8);

  std::int32_t info[kMediaResultBlockSize / 4] = {};
  Frame decoded;
  const TMediaRequest r = ReadJpeg(path, PF_RGB32, decoded.fb, info);
  ASSERT_TRUE(r.bSuccess);
  EXPECT_EQ(info[0], JpegMgr::JPEG_CS_GRAYSCALE);
  EXPECT_EQ(info[1], 8);
  int worst = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Rgb got = PixelAt(r, x, y);
      ASSERT_EQ(got.r, got.g);
      ASSERT_EQ(got.g, got.b);
      const Rgb c = SmoothPixel(x, y, w, h);
      const double luma = 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
      worst = std::max(worst, static_cast<int>(std::lround(std::abs(got.r - luma))));
    }
  EXPECT_LE(worst, 8);
}

TEST_F(JpegMgrTest, ColourFileReportsYCbCrAndPrecision) {
  const std::string path = MakeJpeg("colour.jpg", 16, 16);
  std::int32_t info[kMediaResultBlockSize / 4];
  std::fill(std::begin(info), std::end(info), -1);
  Frame decoded;
  ASSERT_TRUE(ReadJpeg(path, PF_RGB24, decoded.fb, info).bSuccess);
  EXPECT_EQ(info[0], JpegMgr::JPEG_CS_YCBCR);
  EXPECT_EQ(info[1], 8);
  EXPECT_EQ(info[2], -1);  // nothing beyond the two fields
}

TEST_F(JpegMgrTest, QualityReachesTheLibrary) {
  Frame frame;
  MakeSmoothFrame(frame, PF_RGB32, 64, 48);
  ASSERT_TRUE(WriteJpeg(Path("q1.jpg"), frame.fb, FF_JPEG, 1));
  ASSERT_TRUE(WriteJpeg(Path("q100.jpg"), frame.fb, FF_JPEG, 100));
  EXPECT_LT(ReadAll(Path("q1.jpg")).size() * 2, ReadAll(Path("q100.jpg")).size());

  Frame d1, d100;
  const Error e1 = CompareToSmooth(ReadJpeg(Path("q1.jpg"), PF_RGB24, d1.fb));
  const Error e100 = CompareToSmooth(ReadJpeg(Path("q100.jpg"), PF_RGB24, d100.fb));
  EXPECT_LE(e100.max, 6);
  EXPECT_GT(e1.mean, 4 * e100.mean);
}

TEST_F(JpegMgrTest, SecondReadOfTheSameSizeReusesTheFrame) {
  const std::string a = MakeJpeg("a.jpg", 30, 20);
  const std::string b = MakeJpeg("b.jpg", 31, 20);
  Frame decoded;
  ASSERT_TRUE(ReadJpeg(a, PF_RGB32, decoded.fb).bSuccess);
  std::uint8_t* const first = decoded.fb.pBuffer;
  ASSERT_TRUE(ReadJpeg(a, PF_RGB32, decoded.fb).bSuccess);
  EXPECT_EQ(decoded.fb.pBuffer, first);

  const TMediaRequest r = ReadJpeg(b, PF_RGB32, decoded.fb);
  ASSERT_TRUE(r.bSuccess);
  EXPECT_EQ(decoded.fb.nWidth, 31);
  EXPECT_EQ(r.nStride, 31 * 4);
  EXPECT_LE(CompareToSmooth(r).mean, 3.0);
}

// ---------------------------------------------------------------------------
// Cross-checks with Qt's reader and writer

TEST_F(JpegMgrTest, QtReadsOurFileAsWeDo) {
  constexpr int w = 45, h = 29;
  const std::string path = MakeJpeg("ours.jpg", w, h);
  const QImage qt = tovrin_test::QtReadFile(path, QImage::Format_RGB32);
  ASSERT_FALSE(qt.isNull());
  ASSERT_EQ(qt.width(), w);
  ASSERT_EQ(qt.height(), h);
  Frame decoded;
  const TMediaRequest r = ReadJpeg(path, PF_RGB24, decoded.fb);
  ASSERT_TRUE(r.bSuccess);
  ExpectCloseToQt(r, qt);
}

TEST_F(JpegMgrTest, WeReadQtsFileAsQtDoes) {
  constexpr int w = 33, h = 18;
  QImage source(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Rgb c = SmoothPixel(x, y, w, h);
      source.setPixel(x, y, qRgb(c.r, c.g, c.b));
    }
  const std::string path = Path("qt.jpg");
  ASSERT_TRUE(source.save(QString::fromStdString(path), "JPG", 92));
  const QImage qt = tovrin_test::QtReadFile(path, QImage::Format_RGB32);

  Frame decoded;
  const TMediaRequest r = ReadJpeg(path, PF_RGB32, decoded.fb);
  ASSERT_TRUE(r.bSuccess);
  ASSERT_EQ(r.nWidth, w);
  ASSERT_EQ(r.nHeight, h);
  ExpectCloseToQt(r, qt);
}

// ---------------------------------------------------------------------------
// Damaged and hostile files

struct HostileCase {
  const char* name;
  // Turns a good file into the damaged one.
  std::vector<std::uint8_t> (*damage)(std::vector<std::uint8_t>);
  const char* message;  // a part of the library's message
};

std::vector<std::uint8_t> Empty(std::vector<std::uint8_t>) { return {}; }
std::vector<std::uint8_t> NotJpeg(std::vector<std::uint8_t>) {
  const std::string text = "\x89PNG\r\n\x1a\n not a JPEG at all";
  return {text.begin(), text.end()};
}
std::vector<std::uint8_t> HeaderOnly(std::vector<std::uint8_t> b) {
  b.resize(FindMarker(b, 0xC0) + 6);  // cut inside the frame header
  return b;
}
std::vector<std::uint8_t> SetFrameSize(std::vector<std::uint8_t> b, int w, int h) {
  const std::size_t sof = FindMarker(b, 0xC0);
  b[sof + 5] = static_cast<std::uint8_t>(h >> 8);
  b[sof + 6] = static_cast<std::uint8_t>(h);
  b[sof + 7] = static_cast<std::uint8_t>(w >> 8);
  b[sof + 8] = static_cast<std::uint8_t>(w);
  return b;
}
std::vector<std::uint8_t> HugeFrame(std::vector<std::uint8_t> b) {
  return SetFrameSize(std::move(b), 65500, 65500);
}
std::vector<std::uint8_t> ZeroWidth(std::vector<std::uint8_t> b) { return SetFrameSize(std::move(b), 0, 16); }
std::vector<std::uint8_t> NoComponents(std::vector<std::uint8_t> b) {
  b[FindMarker(b, 0xC0) + 9] = 0;
  return b;
}
std::vector<std::uint8_t> BadPrecision(std::vector<std::uint8_t> b) {
  b[FindMarker(b, 0xC0) + 4] = 12;
  return b;
}
std::vector<std::uint8_t> NoQuantTables(std::vector<std::uint8_t> b) {
  // Every DQT segment becomes a comment, so the frame names tables that do
  // not exist.
  for (std::size_t i = 2; i + 3 < b.size(); i += 2 + static_cast<std::size_t>(b[i + 2] << 8 | b[i + 3])) {
    if (b[i] != 0xFF || b[i + 1] == 0xDA) break;
    if (b[i + 1] == 0xDB) b[i + 1] = 0xFE;
  }
  return b;
}

class JpegHostile : public JpegMgrTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(JpegHostile, FailsWithoutACodeAndShowsTheLibrarysMessage) {
  const HostileCase c = GetParam();
  const std::string path = MakeDamagedJpeg("bad.jpg", 32, 16, c.damage);

  Frame decoded;
  const TMediaRequest r = ReadJpeg(path, PF_RGB32, decoded.fb);
  EXPECT_FALSE(r.bSuccess);
  EXPECT_EQ(r.eError, MEDIA_ERR_NONE);     // a library error leaves no code
  EXPECT_EQ(decoded.fb.pBuffer, nullptr);  // nothing was allocated for it
  const auto boxes = sink.Messages();
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back().caption, kCaption);
  EXPECT_EQ(boxes.back().style, platform::MB_OK | platform::MB_ICONERROR);
  EXPECT_NE(boxes.back().text.find(c.message), std::string::npos) << boxes.back().text;

  // The same bytes from memory fail the same way.
  const std::vector<std::uint8_t> bytes = ReadAll(path);
  TMediaRequest m = MemoryRequest(PF_RGB32, decoded.fb);
  CJpegMgr manager;
  m.bSuccess = true;
  EXPECT_FALSE(manager.ReadJpegMemory(bytes.data(), bytes.size(), m));
  EXPECT_FALSE(m.bSuccess);
  EXPECT_EQ(m.eError, MEDIA_ERR_NONE);
}

INSTANTIATE_TEST_SUITE_P(
    Files, JpegHostile,
    ::testing::Values(HostileCase{"empty", Empty, "Empty input file"},
                      HostileCase{"not_jpeg", NotJpeg, "Not a JPEG file"},
                      HostileCase{"header_only", HeaderOnly, "Bogus marker length"},
                      HostileCase{"huge", HugeFrame, "Picture of 65500 x 65500 pixels is too large"},
                      HostileCase{"zero_width", ZeroWidth, "Empty JPEG image"},
                      HostileCase{"no_components", NoComponents, "Empty JPEG image"},
                      HostileCase{"precision_12", BadPrecision, "Unsupported JPEG data precision 12"},
                      HostileCase{"no_quant_tables", NoQuantTables,
                                  "Quantization table 0x00 was not defined"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(JpegMgrTest, MissingFileSaysSoInTheApplicationsBox) {
  const std::string path = Path("absent.jpg");
  Frame decoded;
  const TMediaRequest r = ReadJpeg(path, PF_RGB32, decoded.fb);
  EXPECT_FALSE(r.bSuccess);
  EXPECT_EQ(r.eError, MEDIA_ERR_NONE);  // no code for a file that cannot be opened
  const auto boxes = sink.Messages();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Can't open " + path + "\n");
  EXPECT_EQ(boxes[0].caption, "");
}

TEST_F(JpegMgrTest, TaggedRequestsFailQuietlyWithTheirCodes) {
  const std::string good = MakeJpeg("good.jpg", 8, 8);
  const std::vector<std::uint8_t> bytes = ReadAll(good);
  Frame source;
  MakeSmoothFrame(source, PF_RGB24, 8, 8);
  sink.Clear();
  int block = 0;
  for (TMediaRequestTag tag : {MEDIA_REQ_PNG, MEDIA_REQ_JPEG2000, MEDIA_REQ_DSHOW_SOURCE}) {
    CJpegMgr manager;
    Frame decoded;
    TMediaRequest read = tovrin_test::ReadRequest(good, PF_RGB32, decoded.fb);
    read.eTag = tag;
    read.pParams = &block;
    EXPECT_FALSE(manager.ReadJpeg(read)) << tag;
    EXPECT_EQ(read.eError, MEDIA_ERR_READ_JPEG) << tag;
    EXPECT_EQ(decoded.fb.pBuffer, nullptr) << tag;

    TMediaRequest memory = tovrin_test::ReadRequest(good, PF_RGB32, decoded.fb);
    memory.eTag = tag;
    EXPECT_FALSE(manager.ReadJpegMemory(bytes.data(), bytes.size(), memory)) << tag;
    EXPECT_EQ(memory.eError, MEDIA_ERR_READ_JPEG) << tag;
    EXPECT_EQ(decoded.fb.pBuffer, nullptr) << tag;

    const std::string out = Path("tagged.jpg");
    TMediaRequest write = WriteRequest(out, source.fb, FF_JPEG);
    write.eTag = tag;
    write.pParams = &block;
    EXPECT_FALSE(manager.WriteJpeg(write, 80)) << tag;
    EXPECT_FALSE(write.bSuccess) << tag;
    EXPECT_EQ(write.eError, MEDIA_ERR_NONE) << tag;  // a JPEG write has no error code
    EXPECT_FALSE(std::filesystem::exists(out)) << tag;
  }
  EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(JpegMgrTest, TruncatedScanDecodesWithOneWarning) {
  const std::string path = MakeDamagedJpeg("cut.jpg", 64, 64, [](std::vector<std::uint8_t> bytes) {
    const std::size_t sos = FindMarker(bytes, 0xDA);
    bytes.resize(sos + (bytes.size() - sos) / 3);
    return bytes;
  });

  Frame decoded;
  const TMediaRequest r = ReadJpeg(path, PF_RGB24, decoded.fb);
  EXPECT_TRUE(r.bSuccess);
  const auto boxes = sink.Messages();
  ASSERT_EQ(boxes.size(), 1u);  // only the first warning of the call
  EXPECT_EQ(boxes[0].caption, kCaption);
  EXPECT_NE(boxes[0].text.find("Premature end of JPEG file"), std::string::npos);
  // The rows that were in the file are there.
  for (int x = 0; x < 64; ++x) {
    const Rgb want = SmoothPixel(x, 0, 64, 64);
    const Rgb got = PixelAt(r, x, 0);
    ASSERT_NEAR(got.r, want.r, 24);
    ASSERT_NEAR(got.g, want.g, 24);
  }
}

TEST_F(JpegMgrTest, ExtraneousBytesBeforeMarkersAreNeverShown) {
  const std::string path = MakeDamagedJpeg("junk.jpg", 24, 24, [](std::vector<std::uint8_t> bytes) {
    const std::uint8_t junk[] = {0x12, 0x34, 0x56};
    // Before the end-of-image marker and before the scan header.
    bytes.insert(bytes.end() - 2, std::begin(junk), std::end(junk));
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(FindMarker(bytes, 0xDA)), std::begin(junk),
                 std::end(junk));
    return bytes;
  });

  Frame decoded;
  const TMediaRequest r = ReadJpeg(path, PF_RGB32, decoded.fb);
  EXPECT_TRUE(r.bSuccess);
  EXPECT_TRUE(sink.Messages().empty());
  EXPECT_LE(CompareToSmooth(r).mean, 3.0);
}

TEST_F(JpegMgrTest, UnsupportedTargetEndsThroughTheLibrary) {
  const std::string path = MakeJpeg("good.jpg", 16, 8);
  sink.Clear();
  Frame decoded;
  const TMediaRequest r = ReadJpeg(path, PF_DIB_8, decoded.fb);
  EXPECT_FALSE(r.bSuccess);
  EXPECT_EQ(r.eError, MEDIA_ERR_NONE);  // ended by the library's error exit
  EXPECT_EQ(decoded.fb.pBuffer, nullptr);
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0], "Application transferred too few scanlines");
}

TEST_F(JpegMgrTest, MemoryReadHonoursItsPixelLimit) {
  const std::vector<std::uint8_t> bytes = ReadAll(MakeJpeg("good.jpg", 40, 30));
  Frame decoded;
  TMediaRequest r = MemoryRequest(PF_RGB24, decoded.fb);
  CJpegMgr manager;
  EXPECT_FALSE(manager.ReadJpegMemory(bytes.data(), bytes.size(), r, 40 * 30 - 1));
  EXPECT_FALSE(r.bSuccess);
  EXPECT_EQ(r.eError, MEDIA_ERR_NONE);  // refused through the library's error exit
  EXPECT_TRUE(manager.ReadJpegMemory(bytes.data(), bytes.size(), r, 40 * 30));
  EXPECT_LE(CompareToSmooth(r).mean, 3.0);
}

// ---------------------------------------------------------------------------
// Failed writes

struct WriteFailCase {
  const char* name;
  TFileFormat format;
  TPixelFormat layout;
  bool shrinkFrame;  // the frame holds one row too few
  const char* message;
};

class JpegWriteFailure : public JpegMgrTest, public ::testing::WithParamInterface<WriteFailCase> {};

TEST_P(JpegWriteFailure, LeavesTheOldFileAndReports) {
  const WriteFailCase c = GetParam();
  Frame frame;
  MakeSmoothFrame(frame, PF_RGB32, 20, 10);
  if (c.shrinkFrame) frame.fb.nSize -= frame.fb.nStride;
  frame.fb.ePixelFormat = c.layout;
  const std::string path = Path("out.jpg");
  WriteAll(path, std::string("old contents"));

  TMediaRequest r{};
  EXPECT_FALSE(WriteJpeg(path, frame.fb, c.format, 80, &r));
  if (c.shrinkFrame) frame.fb.nSize += frame.fb.nStride;
  EXPECT_EQ(r.eError, MEDIA_ERR_NONE);  // a JPEG write has no error code
  const std::vector<std::uint8_t> left = ReadAll(path);
  EXPECT_EQ(std::string(left.begin(), left.end()), "old contents");
  EXPECT_EQ(tovrin_test::EntryCount(dir.Path()), 1u);
  const auto boxes = sink.Messages();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, kCaption);
  EXPECT_EQ(boxes[0].text, c.message);
}

INSTANTIATE_TEST_SUITE_P(Requests, JpegWriteFailure,
                         ::testing::Values(WriteFailCase{"png_format", FF_PNG, PF_RGB32, false,
                                                         "Improper call to JPEG library in state 100"},
                                           WriteFailCase{"palette_layout", FF_JPEG, PF_DIB_8, false,
                                                         "Application transferred too few scanlines"},
                                           WriteFailCase{"short_frame", FF_JPEG_GRAY, PF_RGB32, true,
                                                         "Application transferred too few scanlines"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(JpegMgrTest, WriteIntoMissingFolderLeavesNothing) {
  Frame frame;
  MakeSmoothFrame(frame, PF_RGB24, 8, 8);
  const std::string path = Path("no-such-folder/out.jpg");
  TMediaRequest r{};
  EXPECT_FALSE(WriteJpeg(path, frame.fb, FF_JPEG, 80, &r));
  EXPECT_EQ(r.eError, MEDIA_ERR_NONE);  // a JPEG write has no error code
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0], "Can't open " + path + "\n");
}

TEST_F(JpegMgrTest, OversizedPictureIsRefusedByTheLibrary) {
  // A frame wider than JPEG allows: the library refuses before any row.
  TFrameBuffer fb = tovrin_test::FrameRecord(PF_RGB24, 70000, 1);
  ASSERT_TRUE(AllocFrameBuffer(&fb));
  std::memset(fb.pBuffer, 0, static_cast<std::size_t>(fb.nSize));
  const std::string path = Path("wide.jpg");
  TMediaRequest r{};
  EXPECT_FALSE(WriteJpeg(path, fb, FF_JPEG, 80, &r));
  FreeFrameBuffer(&fb);
  EXPECT_EQ(r.eError, MEDIA_ERR_NONE);  // a JPEG write has no error code
  EXPECT_FALSE(std::filesystem::exists(path));
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_NE(sink.Texts()[0].find("Maximum supported image dimension"), std::string::npos);
}

}  // namespace

// A cut file brings a warning and then an error: they showed as two message
// boxes. One call shows one box with both.
TEST_F(JpegMgrTest, ACutFileShowsItsWarningAndItsErrorInOneBox) {
  const std::string path = MakeDamagedJpeg("cut_header.jpg", 32, 16, [](std::vector<std::uint8_t> bytes) {
    bytes.resize(FindMarker(bytes, 0xDB));  // before the first table
    return bytes;
  });
  Frame decoded;
  const TMediaRequest r = ReadJpeg(path, PF_RGB32, decoded.fb);
  EXPECT_FALSE(r.bSuccess);
  const auto boxes = sink.Messages();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, kCaption);
  EXPECT_EQ(boxes[0].style, platform::MB_OK | platform::MB_ICONERROR);
  EXPECT_NE(boxes[0].text.find("Premature end of JPEG file"), std::string::npos) << boxes[0].text;
  EXPECT_NE(boxes[0].text.find("JPEG datastream contains no image"), std::string::npos) << boxes[0].text;
}

TEST_P(JpegHostile, EachDamagedFileShowsOneBox) {
  const HostileCase c = GetParam();
  const std::string path = MakeDamagedJpeg("bad.jpg", 32, 16, c.damage);
  Frame decoded;
  ReadJpeg(path, PF_RGB32, decoded.fb);
  EXPECT_EQ(sink.Messages().size(), 1u);
}
