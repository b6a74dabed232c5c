// The channel texts of the "Media document" page and of the per-channel
// pages, checked against the literal texts the user reads.
#include "options/media_document_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "media/device_kinds.h"
#include "media/file_types.h"

using namespace OptsMediaDocument;
using namespace ZarnTypes;

namespace {

TMediaSource OpenSource(std::int32_t type, std::string path = "/media/clip", std::string title = "clip") {
  TMediaSource s;
  s.bOpen = TRUE_;
  s.eStreamType = TStreamType{type};
  s.sPath = std::move(path);
  s.sDisplayPath = std::move(title);
  return s;
}

TStreamFormat FormatOf(std::int32_t type) {
  TStreamFormat f;
  f.Reset();
  f.eStreamType = TStreamType{type};
  return f;
}

template <class T>
void Put(TStreamFormat& f, std::size_t offset, T value) {
  std::memcpy(f.params + offset, &value, sizeof value);
}

// The channel text without the lines every channel starts with.
std::string FormatPart(const TMediaSource& s, const TStreamFormat& f) {
  return ShowChannelInfo("DM1", "Doc", s, &f, "")
      .channelText.substr(ShowChannelInfo("DM1", "Doc", s, nullptr, "").channelText.size());
}

}  // namespace

TEST(MediaDocumentText, PlayTimeTable) {
  struct Row {
    double period, duration;
    const char* text;
  };
  const Row rows[] = {
      {0.04, 10.0, "\r\nFrame rate:\t25.000 frames/second\r\nDuration:\t\t10.000 seconds"},
      // Exactly a minute gets no H:M:S form; just above it does.
      {0.04, 60.0, "\r\nFrame rate:\t25.000 frames/second\r\nDuration:\t\t60.000 seconds"},
      {0.04, 61.0, "\r\nFrame rate:\t25.000 frames/second\r\nDuration:\t\t61.000 seconds = 00:01:01 H:M:S"},
      {0.04, 90061.5,
       "\r\nFrame rate:\t25.000 frames/second\r\nDuration:\t\t90061.500 seconds = 001:01:01:01 D:H:M:S"},
      {1.0 / 30, 86399.0,
       "\r\nFrame rate:\t30.000 frames/second\r\nDuration:\t\t86399.000 seconds = 23:59:59 H:M:S"},
      // A period of zero or less has no rate (not "inf").
      {0.0, 5.0, "\r\nFrame rate:\t0.000 frames/second\r\nDuration:\t\t5.000 seconds"},
      {-1.0, 5.0, "\r\nFrame rate:\t0.000 frames/second\r\nDuration:\t\t5.000 seconds"},
      // An unknown length: no D:H:M:S form of a number that has none.
      {0.04, std::numeric_limits<double>::infinity(),
       "\r\nFrame rate:\t25.000 frames/second\r\nDuration:\t\tinf seconds"},
      {0.04, 1e300, nullptr},  // checked below: no " = " form
  };
  for (const Row& r : rows) {
    const std::string text = FormatPlayTime(r.period, r.duration);
    if (r.text) {
      EXPECT_EQ(text, r.text) << r.period << " " << r.duration;
    } else {
      EXPECT_EQ(text.find(" = "), std::string::npos) << text;
      EXPECT_EQ(text.find("inf"), std::string::npos) << text;
    }
  }
  EXPECT_EQ(FormatPlayTime(std::nan(""), 1.0),
            "\r\nFrame rate:\t0.000 frames/second\r\nDuration:\t\t1.000 seconds");
  EXPECT_EQ(FormatPlayTime(0.04, std::nan("")).find(" = "), std::string::npos);
}

TEST(MediaDocumentText, TypeTextTable) {
  struct Row {
    const char* name;
    TMediaSource source;
    const char* type;
    bool moreInfo;
  };
  TMediaSource reset;  // a closed channel after Reset: stream type 1
  TMediaSource closedNameless = reset;
  closedNameless.eStreamType = TStreamType{97};
  TMediaSource openNameless = OpenSource(97);
  TMediaSource webcam = OpenSource(ST_SYSTEM_DEVICE);
  webcam.nDeviceCategory = SDC_VIDEO_INPUT;
  webcam.nDeviceKind = SDC_WEBCAM;
  TMediaSource audio = OpenSource(ST_SYSTEM_DEVICE);
  audio.nDeviceCategory = SDC_AUDIO_INPUT;
  audio.nDeviceKind = SDC_AUDIO_INPUT;
  TMediaSource dvd = OpenSource(ST_SYSTEM_DEVICE);
  dvd.nDeviceCategory = SDC_DVD;
  dvd.nDeviceKind = SDC_DVD;
  TMediaSource namelessDvd = openNameless;
  namelessDvd.nDeviceCategory = SDC_DVD;
  TMediaSource badCategory = OpenSource(ST_SYSTEM_DEVICE);
  badCategory.nDeviceCategory = 7;
  const Row rows[] = {
      {"reset", reset, "Null stream", false},
      {"closed nameless", closedNameless, "Channel is closed", false},
      {"open nameless", openNameless, "Unknown stream type", false},
      {"webcam", webcam, "System device\r\nDevice category:\tVideo input device : WebCam", false},
      {"audio", audio, "System device\r\nDevice category:\tAudio input device", false},
      {"dvd", dvd, "System device\r\nDevice category:\tDVD", true},
      {"nameless dvd", namelessDvd, "Unknown stream type", false},
      {"category 7", badCategory, "System device", false},
  };
  for (const Row& r : rows) {
    bool more = !r.moreInfo;
    EXPECT_EQ(ChannelTypeText(r.source, &more), r.type) << r.name;
    EXPECT_EQ(more, r.moreInfo) << r.name;
    EXPECT_EQ(ShowChannelInfo("DM1", "Doc", r.source, nullptr, "").moreInfoEnabled, r.moreInfo) << r.name;
    // The short description carries the same type text.
    EXPECT_EQ(DescribeChannel("DM1", r.source).channelText.substr(0, 7 + std::strlen(r.type)),
              std::string("Type:\t\t") + r.type)
        << r.name;
  }
}

TEST(MediaDocumentText, DocumentAndChannelLines) {
  TMediaSource s = OpenSource(ST_AVI, "/very/long/folder/name/that/goes/on/clip.avi", "clip.avi");
  s.nPictureCount = 1;
  s.nWidth = 320;
  s.nHeight = 240;
  const TChannelInfo info = ShowChannelInfo("DM7", "clip.avi | x", s, nullptr, "");
  EXPECT_EQ(info.documentText, "Type:\tMedia document\r\nID:\tDM7\r\nTitle:\tclip.avi | x");
  EXPECT_EQ(info.channelText,
            "Media source type:\tAVI - Audio Video Interlived\r\nTitle:\t\tclip.avi\r\n"
            "Path:\t\t/very/long/folder/name/that/goes/on/clip.avi\r\nWidth, Height:\t320 x 240\r\n");
  // The more-info text is appended as it came.
  EXPECT_EQ(ShowChannelInfo("DM7", "t", s, nullptr, "\r\nextra %s").channelText,
            info.channelText + "\r\nextra %s");

  // A DVD shows no size even with a picture.
  TMediaSource dvd = OpenSource(ST_SYSTEM_DEVICE, "D:", "DVD");
  dvd.nDeviceCategory = SDC_DVD;
  dvd.nDeviceKind = SDC_DVD;
  dvd.nPictureCount = 1;
  dvd.nWidth = 720;
  EXPECT_EQ(ShowChannelInfo("DM1", "t", dvd, nullptr, "").channelText.find("Width"), std::string::npos);
}

TEST(MediaDocumentText, DescribeChannelCutsPathsBeyondFortyCharacters) {
  const std::string forty(40, 'a');
  const std::string fortyOne = forty + "b";
  TChannelDescription d = DescribeChannel("DM3", OpenSource(ST_AVI, forty, "t"));
  EXPECT_EQ(d.headerText, "Media document: DM3");
  EXPECT_EQ(d.channelText, "Type:\t\tAVI - Audio Video Interlived\r\nTitle:\t\tt\r\nPath:\t\t" + forty);
  d = DescribeChannel("DM3", OpenSource(ST_AVI, fortyOne, "t"));
  EXPECT_EQ(d.channelText, "Type:\t\tAVI - Audio Video Interlived\r\nTitle:\t\tt\r\nPath:\t\t" +
                               std::string(37, 'a') + "...");
  // ShowChannelInfo shows it whole.
  EXPECT_NE(
      ShowChannelInfo("DM3", "t", OpenSource(ST_AVI, fortyOne, "t"), nullptr, "").channelText.find(fortyOne),
      std::string::npos);
  // Characters, not bytes: 41 two-byte letters are cut after the 37th.
  std::string wide;
  for (int i = 0; i < 41; ++i) wide += "\xC3\xA9";
  d = DescribeChannel("DM3", OpenSource(ST_AVI, wide, "t"));
  EXPECT_EQ(d.channelText.substr(d.channelText.rfind('\t') + 1), wide.substr(0, 74) + "...");
}

TEST(MediaDocumentText, FormatTextByStreamType) {
  struct Row {
    const char* name;
    TMediaSource source;
    TStreamFormat format;
    std::string text;
  };
  std::vector<Row> rows;

  TMediaSource device = OpenSource(ST_SYSTEM_DEVICE);
  device.nDeviceCategory = SDC_VIDEO_INPUT;
  device.nDeviceKind = SDC_WEBCAM;
  TStreamFormat f = FormatOf(ST_SYSTEM_DEVICE);
  Put(f, 0, 0.04);
  rows.push_back({"device 25", device, f, "\r\nFrame rate:\t25.000 frames/second"});
  Put(f, 0, 0.0);
  rows.push_back({"device period 0", device, f, "\r\nFrame rate:\t0.000 frames/second"});
  Put(f, 0, -0.5);
  rows.push_back({"device negative period", device, f, ""});
  Put(f, 0, 0.04);
  f.nSubKind = 3;
  rows.push_back({"device sub-kind 3", device, f, ""});

  f = FormatOf(ST_WMV);
  Put(f, 0, 0.04);
  Put(f, 8, 90061.5);
  rows.push_back(
      {"wmv", OpenSource(ST_WMV), f,
       "\r\nFrame rate:\t25.000 frames/second\r\nDuration:\t\t90061.500 seconds = 001:01:01:01 D:H:M:S"});
  rows.push_back({"format of another type", OpenSource(ST_AVI), f, ""});

  f = FormatOf(ST_MNG);
  for (std::size_t i = 0; i < 5; ++i) Put(f, 8 + 4 * i, static_cast<std::int32_t>(10 + i));
  rows.push_back(
      {"mng", OpenSource(ST_MNG), f,
       "\r\nTicks per second:\t10\r\nLayers:\t\t11\r\nFrames:\t\t12\r\nPlay time:\t13\r\nSimplicity "
       "profile:\t14"});

  f = FormatOf(ST_BMP_24BIT);
  Put(f, 12, std::int32_t{1});
  Put(f, 16, std::int32_t{24});
  rows.push_back({"bmp", OpenSource(ST_BMP_24BIT), f, "\r\nPlanes:\t\t1\r\nBits per pixel:\t24"});

  f = FormatOf(ST_GIF);
  Put(f, 12, std::int32_t{8});
  Put(f, 16, std::uint8_t{1});
  rows.push_back(
      {"gif", OpenSource(ST_GIF), f,
       "\r\nColor space:\tColor palette\r\nBits per color:\t8\r\nPlanes:\t\t1\r\nInterlacing:\tYes"});

  f = FormatOf(ST_JPEG);
  Put(f, 0, std::int32_t{3});
  Put(f, 4, std::int32_t{8});
  rows.push_back({"jpeg", OpenSource(ST_JPEG), f, "\r\nColor space:\tRGB\r\nBits per color:\t8"});
  Put(f, 0, std::int32_t{0});  // a code without a name: no colour-space line
  rows.push_back({"jpeg unnamed", OpenSource(ST_JPEG), f, "Bits per color:\t8"});

  f = FormatOf(ST_JPEG2000);
  Put(f, 0, std::int32_t{12});
  Put(f, 4, std::int32_t{3});
  rows.push_back({"jpeg2000", OpenSource(ST_JPEG2000), f,
                  "\r\nColor space components:\t3\r\nBits per pixel:\t36\r\nPlanes:\t\t1"});

  f = FormatOf(ST_PNG);
  Put(f, 0, std::int32_t{6});
  Put(f, 4, std::int32_t{8});
  Put(f, 8, std::int32_t{1});
  rows.push_back({"png rgba adam7", OpenSource(ST_PNG), f,
                  "\r\nColor space:\tRGB+A\r\nBits per color:\t32\r\nPlanes:\t\t1\r\nInterlacing:\tAdam7"});
  Put(f, 0, std::int32_t{3});
  Put(f, 4, std::int32_t{16});
  Put(f, 8, std::int32_t{0});
  rows.push_back(
      {"png gray+a", OpenSource(ST_PNG), f,
       "\r\nColor space:\tGray+A\r\nBits per color:\t32\r\nPlanes:\t\t1\r\nInterlacing:\tNone, progressive "
       "image"});

  f = FormatOf(ST_TIFF);
  Put(f, 4, std::int32_t{4});
  Put(f, 8, std::int32_t{8});
  Put(f, 12, std::int32_t{3});
  Put(f, 20, std::int32_t{2});
  rows.push_back({"tiff", OpenSource(ST_TIFF), f,
                  "\r\nColor space:\tRGB\r\nBits per pixel:\t24\r\nPlanes:\t\t1\r\nCompression:\tLZW"});

  rows.push_back({"type without details", OpenSource(ST_MPEG2), FormatOf(ST_MPEG2), ""});

  for (const Row& r : rows) EXPECT_EQ(FormatPart(r.source, r.format), r.text) << r.name;
}

TEST(MediaDocumentText, RawYuvRecordIsReadByItsFields) {
  // What the raw YUV loader keeps for layout 94 (BT.709, 4:2:0 centred,
  // 16-235/240) at 320 x 240: the picture size sits where the plane count
  // would be read at the other types' positions.
  TStreamFormat f = FormatOf(94);
  TYuvStreamParams p{};
  p.pixelFormat = 92;
  p.width = 320;
  p.height = 240;
  p.alignedWidth = 320;
  p.alignedHeight = 240;
  p.lumaSize = 320 * 240;
  p.chromaSize = 320 * 240 / 4;
  p.standardCode = 3;
  p.rangeCode = 4;
  p.samplingSiting = 7;
  p.samplingCode = 4;
  p.sitingCode = 5;
  p.interlaced = 1;
  p.stillPicture = 1;
  std::memcpy(f.params, &p, sizeof p);
  const std::string expected =
      "\r\nRGB-YUV conversion base:\tITU-R BT.709-5, 1990-2002 \r\n"
      "YUV color components:\tYCbCr\r\n"
      "Sub sampling ratio:\t4:2:0 \r\n"
      "Color componets placement:\tPlanar\r\n"
      "Planes:\t\t\t3\r\nBits per pixel:\t\t12\r\nBits per luma:\t\t8\r\nBits per chromas:\t\t8\r\n"
      "Bit ratio Luma/Chroma:\t1\r\n"
      "Data range:\t\tLuma[16-235] Chroma[16-240] \r\n"
      "Sub samplting pattern:\tCentered chromas between luma\r\n"
      "Scan line pattern:\t\tInterlaced \r\n"
      "\r\nVideo stream:\t\tNo\r\n";
  EXPECT_EQ(FormatPart(OpenSource(94), f), expected);

  // A progressive BT.601 4:4:4 video stream without range and siting codes.
  p.standardCode = 2;
  p.samplingCode = 2;
  p.rangeCode = 0;
  p.sitingCode = 0;
  p.interlaced = 0;
  p.stillPicture = 0;
  f = FormatOf(53);
  std::memcpy(f.params, &p, sizeof p);
  EXPECT_EQ(FormatPart(OpenSource(53), f),
            "\r\nRGB-YUV conversion base:\tITU-R BT.601-5, 1982-1995 \r\n"
            "YUV color components:\tYCbCr\r\n"
            "Sub sampling ratio:\t4:4:4 \r\n"
            "Color componets placement:\tPlanar\r\n"
            "Planes:\t\t\t3\r\nBits per pixel:\t\t24\r\nBits per luma:\t\t8\r\nBits per chromas:\t\t8\r\n"
            "Bit ratio Luma/Chroma:\t1\r\n"
            "Scan line pattern:\t\tProgressive \r\n"
            "\r\nVideo stream:\t\tYes\r\n");
}
