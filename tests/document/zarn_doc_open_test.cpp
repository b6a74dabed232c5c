// Opening files into a document's channels: what each channel's port shows
// after a still or a raw YUV file opened, checked against pictures decoded by
// other means (Qt's readers, or the pattern a lossless file was made from),
// the records the open fills, and files that cannot be opened.

#include <QApplication>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "document/zarn_doc.h"
#include "document_fixture.h"
#include "open_fixture.h"
#include "platform/message_sink.h"
#include "platform/qt/commands.h"
#include "shell/command_ids.h"
#include "shell/doc_manager.h"
#include "tests/support/message_fixture.h"

using namespace ZarnTypes;
using open_test::MaxDifference;
using open_test::PortPicture;
using open_test::TRgbPicture;

namespace {

class OpenTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  void SetUp() override { open_test::PreparePorts(doc); }

  bool Open(const std::string& path, int channel, std::int32_t format = 0, int width = 0, int height = 0) {
    TOpenSourceArgs args;
    args.path = path;
    args.channel = channel;
    args.format = format;
    args.width = width;
    args.height = height;
    return doc.OpenSourceInChannel(args);
  }

  // Exactly one message was shown: "Can not open file" with the path, and
  // after it, on lines of their own, what the file's reader found wrong.
  ::testing::AssertionResult ReportedOnce(const std::string& path) const {
    const std::vector<std::string> texts = sink.Texts();
    if (texts.size() != 1) {
      auto result = ::testing::AssertionFailure() << texts.size() << " messages:";
      for (const std::string& t : texts) result << "\n[" << t << "]";
      return result;
    }
    const std::string head = "Can not open file\n " + path;
    if (texts[0].rfind(head, 0) != 0 || (texts[0].size() > head.size() && texts[0][head.size()] != '\n'))
      return ::testing::AssertionFailure() << "the message is [" << texts[0] << "]";
    return ::testing::AssertionSuccess();
  }

  int CountText(const std::string& text) const {
    int n = 0;
    for (const std::string& t : sink.Texts())
      if (t == text) ++n;
    return n;
  }

  ZarnDoc::CZarnDoc doc;
};

// A .bmp file of 1, 4 or 8 bits with a table of `colours` entries, of 16
// bits in 5-5-5 or of 32 bits; pixel (x, y from the top) is index(x, y) (16
// bits: the 5-5-5 value; 32 bits: 0xRRGGBB).
std::vector<std::uint8_t> MakeBmp(int width, int height, int bits, const std::vector<std::uint32_t>& colours,
                                  const std::function<std::uint32_t(int, int)>& value) {
  const std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  const std::size_t table = bits <= 8 ? colours.size() * 4 : 0;
  const std::size_t offset = 14 + 40 + table;
  const std::size_t size = offset + stride * height;
  std::vector<std::uint8_t> f(size, 0);
  auto put16 = [&f](std::size_t at, std::uint32_t v) {
    f[at] = v & 0xFF;
    f[at + 1] = (v >> 8) & 0xFF;
  };
  auto put32 = [&f](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = (v >> (8 * i)) & 0xFF;
  };
  f[0] = 'B';
  f[1] = 'M';
  put32(2, static_cast<std::uint32_t>(size));
  put32(10, static_cast<std::uint32_t>(offset));
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(width));
  put32(22, static_cast<std::uint32_t>(height));
  put16(26, 1);
  put16(28, static_cast<std::uint32_t>(bits));
  put32(46, bits <= 8 ? static_cast<std::uint32_t>(colours.size()) : 0);
  for (std::size_t i = 0; i < colours.size() && bits <= 8; ++i) put32(54 + 4 * i, colours[i]);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = f.data() + offset + stride * static_cast<std::size_t>(height - 1 - y);
    for (int x = 0; x < width; ++x) {
      const std::uint32_t v = value(x, y);
      if (bits == 32) {
        row[4 * x] = v & 0xFF;
        row[4 * x + 1] = (v >> 8) & 0xFF;
        row[4 * x + 2] = (v >> 16) & 0xFF;
      } else if (bits == 16) {
        row[2 * x] = v & 0xFF;
        row[2 * x + 1] = (v >> 8) & 0xFF;
      } else {
        const int perByte = 8 / bits;
        row[x / perByte] |= static_cast<std::uint8_t>(v << ((perByte - 1 - x % perByte) * bits));
      }
    }
  }
  return f;
}

// ---------------------------------------------------------------------------
// Stills

struct TStillCase {
  const char* name;
  const char* file;
  std::int32_t streamType;
  // The frame pixel format a session sizes the channel's buffers by.
  std::int32_t framePixelFormat;
  int tolerance;
  // Writes the file; returns the picture it holds decoded independently, or
  // an empty picture when the tools to make it are missing.
  std::function<TRgbPicture(const std::filesystem::path&, int, int)> make;
};

TRgbPicture QtSaved(const std::filesystem::path& file, const QImage& image, const char* format,
                    int quality = -1) {
  EXPECT_TRUE(image.save(QString::fromStdString(file.string()), format, quality));
  return open_test::FromImage(QImage(QString::fromStdString(file.string())));
}

std::vector<TStillCase> StillCases() {
  const std::vector<std::uint32_t> sixteen = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF,
                                              0xFF00FF, 0xFFFFFF, 0x808080, 0x400000, 0x004000, 0x000040,
                                              0x123456, 0x654321, 0xABCDEF, 0xFEDCBA};
  std::vector<TStillCase> cases;
  cases.push_back({"png", "a.png", 43, 28, 0, [](const std::filesystem::path& f, int w, int h) {
                     const TRgbPicture p = open_test::Pattern(w, h);
                     QtSaved(f, open_test::ToImage(p), "PNG");
                     return p;  // lossless: the pattern itself
                   }});
  cases.push_back({"jpeg", "a.jpg", 37, 27, 2, [](const std::filesystem::path& f, int w, int h) {
                     return QtSaved(f, open_test::ToImage(open_test::Pattern(w, h)), "JPG", 90);
                   }});
  cases.push_back({"jfif", "a.jfif", 37, 27, 2, [](const std::filesystem::path& f, int w, int h) {
                     return QtSaved(f, open_test::ToImage(open_test::Pattern(w, h)), "JPG", 75);
                   }});
  cases.push_back(
      {"bmp24", "a.bmp", 26, 27, 0, [](const std::filesystem::path& f, int w, int h) {
         return QtSaved(
             f, open_test::ToImage(open_test::Pattern(w, h)).convertToFormat(QImage::Format_RGB888), "BMP");
       }});
  cases.push_back({"bmp32", "a.bmp", 26, 28, 0, [](const std::filesystem::path& f, int w, int h) {
                     const TRgbPicture p = open_test::Pattern(w, h);
                     tovrin_test::WriteAll(f,
                                           MakeBmp(w, h, 32, {}, [&p](int x, int y) { return p.At(x, y); }));
                     return p;
                   }});
  for (int bits : {1, 4, 8}) {
    cases.push_back({bits == 1   ? "bmp1"
                     : bits == 4 ? "bmp4"
                                 : "bmp8",
                     "a.bmp", 26,
                     bits == 1   ? 22
                     : bits == 4 ? 24
                                 : 25,
                     0, [bits, sixteen](const std::filesystem::path& f, int w, int h) {
                       const int count = bits == 1 ? 2 : 16;
                       const std::vector<std::uint32_t> table(sixteen.begin() + (bits == 1 ? 6 : 0),
                                                              sixteen.begin() + (bits == 1 ? 8 : 16));
                       tovrin_test::WriteAll(f, MakeBmp(w, h, bits, table, [count](int x, int y) {
                                               return static_cast<std::uint32_t>((x * 3 + y * 7) % count);
                                             }));
                       return open_test::FromImage(QImage(QString::fromStdString(f.string())));
                     }});
  }
  cases.push_back({"bmp16", "a.bmp", 26, 26, 8, [](const std::filesystem::path& f, int w, int h) {
                     tovrin_test::WriteAll(
                         f, MakeBmp(w, h, 16, {}, [](int x, int y) {
                           return static_cast<std::uint32_t>((x * 1237 + y * 4099) & 0x7FFF);
                         }));
                     return open_test::FromImage(QImage(QString::fromStdString(f.string())));
                   }});
  cases.push_back({"gif", "a.gif", 36, 28, 0, [](const std::filesystem::path& f, int w, int h) {
                     if (!open_test::HaveTool("ffmpeg")) return TRgbPicture{};
                     const std::filesystem::path ppm = f.parent_path() / "gif-source.ppm";
                     open_test::WritePpm(ppm, open_test::Pattern(w, h));
                     if (!open_test::RunTool("ffmpeg -y -loglevel error -i " + tovrin_test::Quote(ppm) + " " +
                                             tovrin_test::Quote(f)))
                       return TRgbPicture{};
                     return open_test::FromImage(QImage(QString::fromStdString(f.string())));
                   }});
  cases.push_back({"tiff", "a.tif", 44, 28, 0, [](const std::filesystem::path& f, int w, int h) {
                     if (!open_test::HaveTool("ffmpeg")) return TRgbPicture{};
                     const TRgbPicture p = open_test::Pattern(w, h);
                     const std::filesystem::path ppm = f.parent_path() / "tiff-source.ppm";
                     open_test::WritePpm(ppm, p);
                     if (!open_test::RunTool("ffmpeg -y -loglevel error -i " + tovrin_test::Quote(ppm) +
                                             " -pix_fmt rgb24 " + tovrin_test::Quote(f)))
                       return TRgbPicture{};
                     return p;
                   }});
  for (const char* file : {"a.jp2", "a.jpc"}) {
    cases.push_back(
        {file[3] == '2' ? "jp2" : "jpc", file, 40, 28, 0, [](const std::filesystem::path& f, int w, int h) {
           if (!open_test::HaveTool("opj_compress")) return TRgbPicture{};
           const TRgbPicture p = open_test::Pattern(w, h);
           const std::filesystem::path ppm = f.parent_path() / "j2k-source.ppm";
           open_test::WritePpm(ppm, p);
           // A code stream made as .j2k is the same bytes a .jpc holds.
           std::filesystem::path made = f;
           if (f.extension() == ".jpc") made.replace_extension(".j2k");
           if (!open_test::RunTool("opj_compress -n 2 -i " + tovrin_test::Quote(ppm) + " -o " +
                                   tovrin_test::Quote(made)))
             return TRgbPicture{};
           if (made != f) std::filesystem::rename(made, f);
           return p;  // lossless by default
         }});
  }
  return cases;
}

TEST_F(OpenTest, EveryStillFormatShowsTheDecodedPictureAndFillsTheRecords) {
  const auto cases = StillCases();
  std::vector<std::string> missing;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const TStillCase& c = cases[i];
    SCOPED_TRACE(c.name);
    const int channel = static_cast<int>(i % 4);
    const std::filesystem::path file = dir / (std::string(c.name) + "-" + c.file);
    const TRgbPicture expected = c.make(file, 13, 7);
    if (expected.pixels.empty()) {
      missing.push_back(c.name);
      continue;
    }
    ASSERT_TRUE(Open(file.string(), channel));
    const TRgbPicture shown = PortPicture(doc, channel);
    ASSERT_EQ(shown.width, 13);
    ASSERT_EQ(shown.height, 7);
    EXPECT_LE(MaxDifference(shown, expected), c.tolerance);
    const TMediaSource& source = doc.m_Source[channel];
    EXPECT_TRUE(source.bOpen);
    EXPECT_EQ(source.eState, SOURCE_STATE_LOADED);
    EXPECT_EQ(source.eStreamType, c.streamType);
    EXPECT_EQ(source.eSourceCategory, SOURCE_CAT_FILE);
    EXPECT_EQ(source.sPath, file.string());
    EXPECT_EQ(source.nWidth, 13);
    EXPECT_EQ(source.nHeight, 7);
    EXPECT_EQ(source.nPictureCount, 1);
    EXPECT_TRUE(source.bRead);
    EXPECT_EQ(source.eFramePixelFormat, c.framePixelFormat);
    EXPECT_EQ(doc.ChannelReader(channel).Description().ePixelFormat, c.framePixelFormat);
    EXPECT_TRUE(doc.m_bHasPicture[channel]);
    EXPECT_EQ(doc.m_Format[channel].eStreamType, c.streamType);
  }
  EXPECT_TRUE(sink.Texts().empty());
  if (!missing.empty())
    GTEST_SKIP() << missing.size() << " formats need ffmpeg or opj_compress to make their files";
}

TEST_F(OpenTest, APictureOpensIntoEachChannelAloneAndTheTitleNamesTheFirst) {
  const TRgbPicture picture = open_test::Pattern(6, 5);
  const std::string file = (dir / "Shot.PNG").string();  // the extension is matched without case
  ASSERT_TRUE(open_test::ToImage(picture).save(QString::fromStdString(file), "PNG"));
  for (int channel = 3; channel >= 0; --channel) {
    ASSERT_TRUE(Open(file, channel));
    EXPECT_EQ(MaxDifference(PortPicture(doc, channel), picture), 0);
    for (int other = 0; other < channel; ++other) EXPECT_EQ(PortPicture(doc, other).width, 1) << other;
    EXPECT_EQ(doc.m_nOpenCount, 4 - channel);
  }
  EXPECT_EQ(doc.m_strDocTitle, doc.DocName() + " | Shot.PNG | ...");
}

TEST_F(OpenTest, ASecondOpenReplacesThePictureAndTheRecordAndShowsItUpright) {
  const std::string first = (dir / "first.png").string();
  const std::string second = (dir / "second.bmp").string();
  ASSERT_TRUE(open_test::ToImage(open_test::Pattern(8, 4)).save(QString::fromStdString(first), "PNG"));
  const TRgbPicture wide =
      open_test::MakeRgbPicture(3, 9, [](int x, int y) { return 0x102030u * (x + y + 1); });
  ASSERT_TRUE(open_test::ToImage(wide)
                  .convertToFormat(QImage::Format_RGB888)
                  .save(QString::fromStdString(second), "BMP"));
  ASSERT_TRUE(Open(first, 0));
  doc.TransformPane(0, ORIENT_ROTATE_RIGHT_90, false);
  ASSERT_EQ(doc.m_VideoPortHub.Port(0).Orientation(), ORIENT_ROTATE_RIGHT_90);
  ASSERT_TRUE(Open(second, 0));
  EXPECT_EQ(doc.m_VideoPortHub.Port(0).Orientation(), ORIENT_IDENTITY);
  EXPECT_EQ(MaxDifference(PortPicture(doc, 0), wide), 0);
  EXPECT_EQ(doc.m_Source[0].sPath, second);
  EXPECT_EQ(doc.m_Source[0].eStreamType, ST_BMP);
  EXPECT_EQ(doc.m_Source[0].eFramePixelFormat, 27);  // 24-bit rows
  EXPECT_EQ(doc.m_nOpenCount, 1);
}

// ---------------------------------------------------------------------------
// Raw YUV

// The colour of one sample triple, by the textbook equations (doubles).
std::uint32_t ReferenceRgb(int y, int cb, int cr, bool bt709, bool fullRange) {
  double Y = y, U = cb - 128.0, V = cr - 128.0;
  double kr = bt709 ? 0.2126 : 0.299, kb = bt709 ? 0.0722 : 0.114;
  double yScale = 1.0, cScale = 1.0;
  if (!fullRange) {
    Y -= 16.0;
    yScale = 255.0 / 219.0;
    cScale = 255.0 / 224.0;
  }
  const double kg = 1.0 - kr - kb;
  const double r = yScale * Y + cScale * 2.0 * (1.0 - kr) * V;
  const double b = yScale * Y + cScale * 2.0 * (1.0 - kb) * U;
  const double g = yScale * Y - cScale * (2.0 * (1.0 - kb) * kb / kg * U + 2.0 * (1.0 - kr) * kr / kg * V);
  auto clamp = [](double v) {
    return static_cast<std::uint32_t>(std::lround(std::min(255.0, std::max(0.0, v))));
  };
  return clamp(r) << 16 | clamp(g) << 8 | clamp(b);
}

struct TYuvCase {
  int standard;  // 0 BT.601, 1 BT.709
  int layout;    // 0 4:4:4, 3 4:2:2 centred, 6 4:2:0 centred
  int range;     // 0 full, 2 limited
  int width;
  int height;
};

// Planes as a raw file holds them: luma width x height, then Cb and Cr of
// ceil-halved sizes where subsampled.
struct TPlanes {
  int cw = 0, ch = 0;
  std::vector<std::uint8_t> y, cb, cr;
};

TPlanes MakePlanes(const TYuvCase& c, unsigned seed) {
  TPlanes p;
  p.cw = c.layout == 0 ? c.width : (c.width + 1) / 2;
  p.ch = c.layout >= 4 ? (c.height + 1) / 2 : c.height;
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> luma(c.range == 0 ? 0 : 16, c.range == 0 ? 255 : 235);
  std::uniform_int_distribution<int> chroma(c.range == 0 ? 0 : 16, c.range == 0 ? 255 : 240);
  for (int i = 0; i < c.width * c.height; ++i) p.y.push_back(static_cast<std::uint8_t>(luma(random)));
  for (int i = 0; i < p.cw * p.ch; ++i) {
    p.cb.push_back(static_cast<std::uint8_t>(chroma(random)));
    p.cr.push_back(static_cast<std::uint8_t>(chroma(random)));
  }
  return p;
}

TRgbPicture ReferencePicture(const TYuvCase& c, const TPlanes& p) {
  return open_test::MakeRgbPicture(c.width, c.height, [&](int x, int y) {
    // Centred siting: both pixels of a pair (and both rows of a 4:2:0 pair)
    // take the pair's own sample.
    const int cx = c.layout == 0 ? x : x / 2;
    const int cy = c.layout >= 4 ? y / 2 : y;
    const std::size_t ci = static_cast<std::size_t>(cy) * p.cw + cx;
    return ReferenceRgb(p.y[static_cast<std::size_t>(y) * c.width + x], p.cb[ci], p.cr[ci], c.standard == 1,
                        c.range == 0);
  });
}

std::vector<std::uint8_t> FileBytes(const TPlanes& p) {
  std::vector<std::uint8_t> bytes = p.y;
  bytes.insert(bytes.end(), p.cb.begin(), p.cb.end());
  bytes.insert(bytes.end(), p.cr.begin(), p.cr.end());
  return bytes;
}

TEST_F(OpenTest, RawYuvLayoutsAndOddSizesShowTheFramesColours) {
  const TYuvCase cases[] = {
      {0, 0, 0, 8, 6},  {0, 6, 2, 16, 8}, {1, 6, 0, 9, 5}, {1, 3, 2, 7, 3},
      {0, 3, 0, 10, 4}, {1, 0, 2, 5, 5},  {0, 6, 0, 1, 1},
  };
  int channel = 0;
  for (const TYuvCase& c : cases) {
    const std::int32_t format = ComposeYuvFileFormat(c.standard, c.layout, c.range);
    SCOPED_TRACE("format " + std::to_string(format) + " " + std::to_string(c.width) + "x" +
                 std::to_string(c.height));
    const TPlanes planes = MakePlanes(c, static_cast<unsigned>(format * 31 + c.width));
    const std::filesystem::path file = dir / ("frame" + std::to_string(format) + ".yuv");
    tovrin_test::WriteAll(file, FileBytes(planes));
    ASSERT_TRUE(Open(file.string(), channel, format, c.width, c.height));
    const TRgbPicture shown = PortPicture(doc, channel);
    ASSERT_EQ(shown.width, c.width);
    ASSERT_EQ(shown.height, c.height);
    EXPECT_LE(MaxDifference(shown, ReferencePicture(c, planes)), 3);
    EXPECT_EQ(doc.m_Source[channel].eStreamType, format);
    EXPECT_EQ(doc.m_Source[channel].eFramePixelFormat, format - 2);
    EXPECT_EQ(doc.m_Source[channel].nPictureCount, 1);
    channel = (channel + 1) % 4;
  }
}

TEST_F(OpenTest, ARawYuvFileWithoutAFormatUsesTheRememberedSettings) {
  doc.m_YuvOpen.nFormat = ComposeYuvFileFormat(1, 0, 2);
  doc.m_YuvOpen.nWidth = 5;
  doc.m_YuvOpen.nHeight = 3;
  const TYuvCase c{1, 0, 2, 5, 3};
  const TPlanes planes = MakePlanes(c, 3);
  const std::filesystem::path file = dir / "remembered.YUV";
  tovrin_test::WriteAll(file, FileBytes(planes));
  ASSERT_TRUE(Open(file.string(), 1));
  EXPECT_LE(MaxDifference(PortPicture(doc, 1), ReferencePicture(c, planes)), 3);
  EXPECT_EQ(doc.m_Source[1].eFileFormat, doc.m_YuvOpen.nFormat);
}

TEST_F(OpenTest, ARawYuvFileNeedsAPlanarLayoutAndASize) {
  const std::filesystem::path file = dir / "frame.yuv";
  tovrin_test::WriteAll(file, std::vector<std::uint8_t>(64 * 3, 100));
  for (std::int32_t format : {std::int32_t{FF_YUV_RAW}, std::int32_t{FF_PNG}, 52, 95})
    EXPECT_FALSE(Open(file.string(), 0, format, 8, 8)) << format;
  EXPECT_FALSE(Open(file.string(), 0, ComposeYuvFileFormat(0, 0, 0), 0, 8));
  EXPECT_FALSE(Open(file.string(), 0, ComposeYuvFileFormat(0, 0, 0), 8, -1));
  EXPECT_FALSE(doc.m_Source[0].bOpen);
  EXPECT_EQ(PortPicture(doc, 0).width, 1);
  EXPECT_TRUE(Open(file.string(), 0, ComposeYuvFileFormat(0, 0, 0), 8, 8));
}

TEST_F(OpenTest, TheDefaultRawYuvSettingsAreBt601LimitedRange420At640x480) {
  // 640 x 480 4:2:0 frame of luma 16 and neutral chroma: black.
  std::vector<std::uint8_t> frame(640 * 480 * 3 / 2, 128);
  std::fill_n(frame.begin(), 640 * 480, std::uint8_t{16});
  const std::filesystem::path file = dir / "black.yuv";
  tovrin_test::WriteAll(file, frame);
  ASSERT_TRUE(Open(file.string(), 0));
  const TRgbPicture shown = PortPicture(doc, 0);
  ASSERT_EQ(shown.width, 640);
  ASSERT_EQ(shown.height, 480);
  EXPECT_EQ(shown.At(0, 0), 0u);
  EXPECT_EQ(shown.At(639, 479), 0u);
  EXPECT_EQ(doc.m_Source[0].eFileFormat, 70);
}

// ---------------------------------------------------------------------------
// Files that cannot be opened

TEST_F(OpenTest, AFileThatCannotBeOpenedIsReportedOnceAndLeavesTheChannelAsItWas) {
  const TRgbPicture good = open_test::Pattern(9, 4);
  const std::string goodFile = (dir / "good.png").string();
  ASSERT_TRUE(open_test::ToImage(good).save(QString::fromStdString(goodFile), "PNG"));
  const std::vector<std::uint8_t> png = tovrin_test::ReadAll(goodFile);

  std::vector<std::string> bad;
  auto make = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
    tovrin_test::WriteAll(dir / name, bytes);
    bad.push_back((dir / name).string());
  };
  make("truncated.png",
       std::vector<std::uint8_t>(png.begin(), png.begin() + static_cast<long>(png.size() / 2)));
  make("png-bytes.jpg", png);
  make("png-bytes.gif", png);
  make("png-bytes.tif", png);
  make("png-bytes.jp2", png);
  make("png-bytes.bmp", png);
  make("empty.yuv", {});
  make("refused.pgm", png);
  make("refused.264", png);
  make("refused.dib", png);
  make("refused.ico", png);
  make("refused.j2c", png);
  make("unknown.txt", png);
  make("no-extension", png);
  std::vector<std::uint8_t> noise(4096);
  std::mt19937 random(5);
  for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
  make("noise.avi", noise);
  make("noise.mp3", noise);
  // Flash movies have no decoder in the media graph.
  const std::filesystem::path flash = dir / "flash.swf";
  if (open_test::HaveTool("ffmpeg") &&
      open_test::RunTool("ffmpeg -loglevel quiet -y -f lavfi -i testsrc=size=64x48:rate=10 -t 0.5 -c:v flv1 "
                         "-f swf " +
                         tovrin_test::Quote(flash)))
    bad.push_back(flash.string());
  make("damaged.mng", noise);
  make("not-yet.vob", png);
  std::filesystem::create_directory(dir / "folder.png");
  bad.push_back((dir / "folder.png").string());
  std::filesystem::create_directory(dir / "folder.yuv");
  bad.push_back((dir / "folder.yuv").string());
  bad.push_back((dir / "missing.png").string());

  ASSERT_TRUE(Open(goodFile, 0));
  doc.TransformPane(0, ORIENT_ROTATE_RIGHT_90, false);
  const TRgbPicture before = PortPicture(doc, 0);
  const std::string title = doc.m_strDocTitle;
  for (const std::string& path : bad) {
    SCOPED_TRACE(path);
    sink.Clear();
    EXPECT_FALSE(doc.OnOpenDocument(path));
    EXPECT_TRUE(ReportedOnce(path));
    EXPECT_EQ(MaxDifference(PortPicture(doc, 0), before), 0);
    EXPECT_EQ(doc.m_VideoPortHub.Port(0).Orientation(), ORIENT_ROTATE_RIGHT_90);
    EXPECT_EQ(doc.m_Source[0].sPath, goodFile);
    EXPECT_EQ(doc.m_Source[0].eStreamType, ST_PNG);
    EXPECT_EQ(doc.m_Source[0].nWidth, 9);
    EXPECT_TRUE(doc.m_bHasPicture[0]);
    EXPECT_EQ(doc.m_strDocTitle, title);
  }
}

TEST_F(OpenTest, AnUnreadableJpegIsReportedInOneMessageThatSaysWhy) {
  const std::string made = (dir / "made.jpg").string();
  ASSERT_TRUE(open_test::ToImage(open_test::Pattern(64, 48)).save(QString::fromStdString(made), "JPG", 90));
  const std::vector<std::uint8_t> jpeg = tovrin_test::ReadAll(made);
  const std::string png = (dir / "made.png").string();
  ASSERT_TRUE(open_test::ToImage(open_test::Pattern(8, 8)).save(QString::fromStdString(png), "PNG"));
  struct TCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* reason;  // a part of the reader's explanation
  };
  const TCase cases[] = {
      {"png-bytes.jpg", tovrin_test::ReadAll(png), "Not a JPEG file"},
      {"empty.jpg", {}, ""},
      {"header-only.jpeg", std::vector<std::uint8_t>(jpeg.begin(), jpeg.begin() + 2), ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = (dir / c.name).string();
    tovrin_test::WriteAll(path, c.bytes);
    sink.Clear();
    EXPECT_FALSE(doc.OnOpenDocument(path));
    ASSERT_TRUE(ReportedOnce(path));
    EXPECT_NE(sink.Texts()[0].find(c.reason), std::string::npos) << sink.Texts()[0];
    EXPECT_FALSE(doc.m_Source[0].bOpen);
  }
  // A name the reader cannot open at all: the message says it once.
  std::filesystem::create_directory(dir / "folder.jpg");
  for (const std::string& path : {(dir / "folder.jpg").string(), (dir / "missing.jpg").string()}) {
    SCOPED_TRACE(path);
    sink.Clear();
    EXPECT_FALSE(doc.OnOpenDocument(path));
    EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"Can not open file\n " + path}));
  }
  // A file the reader only warns about still opens; its warning is shown
  // once, and no "Can not open file" follows.
  const std::string cut = (dir / "cut.jpg").string();
  tovrin_test::WriteAll(cut, std::vector<std::uint8_t>(jpeg.begin(), jpeg.begin() + jpeg.size() * 2 / 3));
  sink.Clear();
  EXPECT_TRUE(doc.OnOpenDocument(cut));
  EXPECT_EQ(doc.m_Source[0].sPath, cut);
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0].find("Can not open file"), std::string::npos) << sink.Texts()[0];
}

TEST_F(OpenTest, RequestsOfFormatsWithoutADecoderFailQuietly) {
  const std::string path = (dir / "x.bin").string();
  tovrin_test::WriteAll(path, std::vector<std::uint8_t>(64, 1));
  for (std::int32_t format : {1, 7, 16, 22, 36, 40, 45, 95, 1000, -3}) {
    SCOPED_TRACE(format);
    TFrameBuffer frame;
    TMediaRequest request;
    request.eOp = MEDIA_OP_READ;
    request.eSourceFormat = TFileFormat{format};
    request.ePixelFormat = PF_RGB32;
    request.pPath = &path;
    request.pFrameBuffer = &frame;
    request.bSuccess = true;
    doc.DecodeMediaRequest(request);
    EXPECT_FALSE(request.bSuccess);
    EXPECT_EQ(frame.pBuffer, nullptr);
  }
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(OpenTest, DecodingAPngRequestFillsTheCallersFrame) {
  const TRgbPicture picture = open_test::Pattern(5, 3);
  const std::string path = (dir / "r.png").string();
  ASSERT_TRUE(open_test::ToImage(picture).save(QString::fromStdString(path), "PNG"));
  TFrameBuffer frame;
  TMediaRequest request;
  request.eOp = MEDIA_OP_READ;
  request.eSourceFormat = FF_PNG;
  request.ePixelFormat = PF_RGB32;
  request.pPath = &path;
  request.pFrameBuffer = &frame;
  doc.DecodeMediaRequest(request);
  ASSERT_TRUE(request.bSuccess);
  ASSERT_NE(frame.pBuffer, nullptr);
  EXPECT_EQ(frame.nWidth, 5);
  EXPECT_EQ(frame.nHeight, 3);
  // Bottom-up rows: the top-left pixel is the first of the last row.
  const std::uint8_t* topLeft = frame.pBuffer + static_cast<std::size_t>(frame.nStride) * 2;
  EXPECT_EQ((std::uint32_t{topLeft[2]} << 16 | std::uint32_t{topLeft[1]} << 8 | topLeft[0]),
            picture.At(0, 0));
  FreeFrameBuffer(&frame);
}

TEST_F(OpenTest, DecodingABmpRequestGivesTheCallerAFrameOfItsOwn) {
  // Two pictures of one size, so that the image holder would reuse its storage.
  const TRgbPicture pictures[2] = {
      open_test::Pattern(6, 5), open_test::MakeRgbPicture(6, 5, [](int x, int y) {
        return static_cast<std::uint32_t>(0x203040 + x * 0x100901 + y * 0x0B0005);
      })};
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const TRgbPicture& picture = pictures[round];
    std::string name = "r";
    name += std::to_string(round) + ".bmp";
    const std::string path = (dir / name).string();
    ASSERT_TRUE(open_test::ToImage(picture)
                    .convertToFormat(QImage::Format_RGB888)
                    .save(QString::fromStdString(path), "BMP"));
    TFrameBuffer frame;
    TMediaRequest request;
    request.eOp = MEDIA_OP_READ;
    request.eSourceFormat = FF_BMP;
    request.ePixelFormat = PF_RGB32;
    request.pPath = &path;
    request.pFrameBuffer = &frame;
    doc.DecodeMediaRequest(request);
    ASSERT_TRUE(request.bSuccess);
    ASSERT_NE(frame.pBuffer, nullptr);
    ASSERT_EQ(frame.nWidth, 6);
    ASSERT_EQ(frame.nHeight, 5);
    const int bytesPerPixel = frame.nBitsPerPixel / 8;
    ASSERT_GE(bytesPerPixel, 3);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) {
        const std::uint8_t* p = frame.pBuffer + static_cast<std::size_t>(4 - y) * frame.nStride +
                                static_cast<std::size_t>(x) * bytesPerPixel;
        EXPECT_EQ((std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0]), picture.At(x, y))
            << x << "," << y;
      }
    // The caller frees what it was given; the document's next decode and its
    // own clean-up are not touched by that.
    FreeFrameBuffer(&frame);
  }
}

// ---------------------------------------------------------------------------
// "Open File To"

TEST_F(OpenTest, OpenFileToFillsTheFirstFreeChannelAndTellsTheShell) {
  open_test::TSettingsApplication app;
  doc_test::TRecordingMainWindow main;
  ZarnDoc::CZarnDoc document;
  open_test::PreparePorts(document);
  const std::string a = (dir / "a.png").string();
  const std::string b = (dir / "b.png").string();
  ASSERT_TRUE(open_test::ToImage(open_test::Pattern(4, 4)).save(QString::fromStdString(a), "PNG"));
  ASSERT_TRUE(open_test::ToImage(open_test::Pattern(6, 2)).save(QString::fromStdString(b), "PNG"));
  std::vector<std::string> answers = {a, b, ""};
  std::size_t asked = 0;
  ZarnDoc::CZarnDoc::SetOpenFilePrompt([&](QWidget*) { return answers[asked++]; });

  document.OnFileOpenTo();
  document.OnFileOpenTo();
  document.OnFileOpenTo();  // cancelled
  ZarnDoc::CZarnDoc::SetOpenFilePrompt({});

  EXPECT_EQ(asked, 3u);
  EXPECT_EQ(document.m_Source[0].sPath, a);
  EXPECT_EQ(document.m_Source[1].sPath, b);
  EXPECT_FALSE(document.m_Source[2].bOpen);
  EXPECT_EQ(app.recent, (std::vector<std::string>{a, b}));
  const std::vector<std::pair<int, int>> perOpen = {{10, 36928}, {13, 36929}, {2, 57601}};
  std::vector<std::pair<int, int>> expected = perOpen;
  expected.insert(expected.end(), perOpen.begin(), perOpen.end());
  EXPECT_EQ(main.notices, expected);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(OpenTest, OpenFileToReportsAFileThatCannotBeOpened) {
  const std::string bad = (dir / "bad.png").string();
  tovrin_test::WriteAll(bad, std::string("not a picture"));
  ZarnDoc::CZarnDoc::SetOpenFilePrompt([&](QWidget*) { return bad; });
  doc.OnFileOpenTo();
  ZarnDoc::CZarnDoc::SetOpenFilePrompt({});
  EXPECT_TRUE(ReportedOnce(bad));
  EXPECT_FALSE(doc.m_Source[0].bOpen);
  EXPECT_EQ(PortPicture(doc, 0).width, 1);
}

TEST_F(OpenTest, AnOpenedDocumentShowsTheChannelInItsWindow) {
  doc_test::TRecordingMainWindow main;
  doc_test::TDocumentWindow window;
  // A new document is announced once.
  EXPECT_EQ(main.notices, (std::vector<std::pair<int, int>>{{10, 36925}, {13, 36929}}));
  main.notices.clear();
  const std::string file = (dir / "w.png").string();
  const TRgbPicture picture = open_test::Pattern(40, 30);
  ASSERT_TRUE(open_test::ToImage(picture).save(QString::fromStdString(file), "PNG"));
  ASSERT_TRUE(window.Doc().OnOpenDocument(file));
  EXPECT_EQ(MaxDifference(PortPicture(window.Doc(), 0), picture), 0);
  EXPECT_EQ(window.frame->windowTitle().toStdString(), window.Doc().DocName() + " | w.png |||");
  EXPECT_EQ(main.notices, (std::vector<std::pair<int, int>>{{10, 36928}, {13, 36929}}));
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(OpenTest, AFileOpenedIntoAnotherChannelOfANewWindowUpdatesItsExplorerEntry) {
  DocManagerEx::CDocManagerEx manager;
  DocManagerEx::SetTheDocManager(&manager);
  manager.Settings().extended = true;
  manager.Settings().mode = FDM_OPEN;
  manager.Settings().channel = 2;
  doc_test::TRecordingMainWindow main;
  {
    doc_test::TDocumentWindow window;
    main.notices.clear();
    const std::string file = (dir / "c3.png").string();
    const TRgbPicture picture = open_test::Pattern(8, 6);
    ASSERT_TRUE(open_test::ToImage(picture).save(QString::fromStdString(file), "PNG"));
    ASSERT_TRUE(window.Doc().OnOpenDocument(file));
    EXPECT_EQ(MaxDifference(PortPicture(window.Doc(), 2), picture), 0);
    EXPECT_FALSE(window.Doc().m_Source[0].bOpen);
    // Announced once when the window was made; the open updates that entry.
    EXPECT_EQ(main.notices, (std::vector<std::pair<int, int>>{{10, 36928}, {13, 36929}}));
  }
  DocManagerEx::SetTheDocManager(nullptr);
  EXPECT_TRUE(sink.Texts().empty());
}

}  // namespace

// ---------------------------------------------------------------------------
// Media-graph files

#if defined(TOVRIN_HAVE_MEDIA_GRAPH)
// Full allocation stacks, so that the one block glib's library constructor
// keeps for the process is recognised by its suppression (_dl_init) in the
// leak report.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0:malloc_context_size=8"; }
#endif

namespace {

#if defined(TOVRIN_HAVE_MEDIA_GRAPH)
TEST_F(OpenTest, AVideoFileShowsItsFirstFrameAndAnAudioFileItsPlaceholder) {
  if (!open_test::HaveTool("gst-launch-1.0") || !open_test::HaveTool("ffmpeg"))
    GTEST_SKIP() << "needs gst-launch-1.0 and ffmpeg";
  const std::filesystem::path video = dir / "clip.avi";
  const std::filesystem::path audio = dir / "tone.wav";
  ASSERT_TRUE(
      open_test::RunTool("gst-launch-1.0 -q -e videotestsrc num-buffers=5 ! "
                         "video/x-raw,format=I420,width=96,height=64,framerate=25/1 ! "
                         "avenc_mpeg4 ! mpeg4videoparse ! avimux ! filesink location=" +
                         tovrin_test::Quote(video)));
  ASSERT_TRUE(open_test::RunTool(
      "gst-launch-1.0 -q -e audiotestsrc num-buffers=20 ! audio/x-raw,rate=48000,channels=2 ! audioconvert ! "
      "audio/x-raw,format=S16LE ! wavenc ! filesink location=" +
      tovrin_test::Quote(audio)));
  // The first frame decoded by ffmpeg, as rows of red, green and blue.
  const auto raw = tovrin_test::RunCapture("ffmpeg -loglevel error -i " + tovrin_test::Quote(video) +
                                           " -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
  ASSERT_TRUE(raw.has_value());
  ASSERT_EQ(raw->size(), 96u * 64u * 3u);
  const TRgbPicture reference = open_test::MakeRgbPicture(96, 64, [&raw](int x, int y) {
    const std::uint8_t* p = raw->data() + (static_cast<std::size_t>(y) * 96 + x) * 3;
    return static_cast<std::uint32_t>(p[0]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[2];
  });

  ASSERT_TRUE(Open(video.string(), 1));
  const TRgbPicture shown = PortPicture(doc, 1);
  ASSERT_EQ(shown.width, 96);
  ASSERT_EQ(shown.height, 64);
  // Two decoders and two colour conversions: close, not equal.
  double sum = 0.0;
  for (std::size_t i = 0; i < shown.pixels.size(); ++i)
    for (int shift : {0, 8, 16}) {
      const double d = static_cast<double>((shown.pixels[i] >> shift) & 0xFF) -
                       static_cast<double>((reference.pixels[i] >> shift) & 0xFF);
      sum += d * d;
    }
  const double psnr = 10.0 * std::log10(255.0 * 255.0 / std::max(sum / (shown.pixels.size() * 3.0), 1e-9));
  EXPECT_GT(psnr, 30.0);
  EXPECT_EQ(doc.m_Source[1].eStreamType, ST_AVI);
  EXPECT_EQ(doc.m_Source[1].eFramePixelFormat, 27);  // a media file's frames come as 24-bit rows
  EXPECT_EQ(doc.ChannelReader(1).Description().ePixelFormat, 27);
  EXPECT_EQ(doc.m_Source[1].nWidth, 96);
  EXPECT_EQ(doc.m_Source[1].nPictureCount, 1);
  EXPECT_TRUE(doc.m_bHasPicture[1]);

  // A file without pictures: a 1 x 1 source, no picture, and a placeholder.
  ASSERT_TRUE(Open(audio.string(), 2));
  EXPECT_EQ(doc.m_Source[2].eStreamType, ST_WAV);
  EXPECT_EQ(doc.m_Source[2].eFramePixelFormat, 27);
  EXPECT_EQ(doc.m_Source[2].nWidth, 1);
  EXPECT_EQ(doc.m_Source[2].nHeight, 1);
  EXPECT_EQ(doc.m_Source[2].nPictureCount, 0);
  EXPECT_FALSE(doc.m_bHasPicture[2]);
  const TRgbPicture placeholder = PortPicture(doc, 2);
  ASSERT_EQ(placeholder.width, 300);
  ASSERT_EQ(placeholder.height, 100);
  int lit = 0;
  for (std::uint32_t c : placeholder.pixels) lit += c != 0 ? 1 : 0;
  EXPECT_GT(lit, 40);  // the text, light on black
  EXPECT_EQ(placeholder.At(299, 99), 0u);
  EXPECT_TRUE(sink.Texts().empty());
}

// PSNR over red, green and blue of two pictures of one size.
double PicturePsnr(const TRgbPicture& a, const TRgbPicture& b) {
  double sum = 0.0;
  for (std::size_t i = 0; i < a.pixels.size(); ++i)
    for (int shift : {0, 8, 16}) {
      const double d = static_cast<double>((a.pixels[i] >> shift) & 0xFF) -
                       static_cast<double>((b.pixels[i] >> shift) & 0xFF);
      sum += d * d;
    }
  return 10.0 * std::log10(255.0 * 255.0 / std::max(sum / (a.pixels.size() * 3.0), 1e-9));
}

TEST_F(OpenTest, AReOpenShowsThePictureAtTheReadersStoredPositionAndAFreshOpenTheFirst) {
  if (!open_test::HaveTool("gst-launch-1.0") || !open_test::HaveTool("ffmpeg"))
    GTEST_SKIP() << "needs gst-launch-1.0 and ffmpeg";
  // Two seconds of a moving ball, every frame a key frame.
  const std::filesystem::path video = dir / "ball.avi";
  ASSERT_TRUE(
      open_test::RunTool("gst-launch-1.0 -q -e videotestsrc num-buffers=20 pattern=ball ! "
                         "video/x-raw,format=I420,width=96,height=64,framerate=10/1 ! jpegenc ! "
                         "avimux ! filesink location=" +
                         tovrin_test::Quote(video)));
  const auto raw = tovrin_test::RunCapture("ffmpeg -loglevel error -i " + tovrin_test::Quote(video) +
                                           " -f rawvideo -pix_fmt rgb24 -");
  ASSERT_TRUE(raw.has_value());
  const std::size_t frameBytes = 96u * 64u * 3u;
  ASSERT_EQ(raw->size(), 20 * frameBytes);
  auto reference = [&raw, frameBytes](int index) {
    return open_test::MakeRgbPicture(96, 64, [&raw, frameBytes, index](int x, int y) {
      const std::uint8_t* p = raw->data() + frameBytes * index + (static_cast<std::size_t>(y) * 96 + x) * 3;
      return static_cast<std::uint32_t>(p[0]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[2];
    });
  };
  const TRgbPicture first = reference(0), middle = reference(10);
  ASSERT_LT(PicturePsnr(first, middle), 25.0);  // the ball moved

  ASSERT_TRUE(Open(video.string(), 1));
  EXPECT_GT(PicturePsnr(PortPicture(doc, 1), first), 30.0);

  // Half way through, as the position slider leaves it.
  ReadStream::CReadStream& reader = doc.ChannelReader(1);
  reader.SetSeekRequest(1, 2);
  TOpenSourceArgs args;
  args.path = video.string();
  args.channel = 1;
  args.format = FF_AVI;
  TDShowOpenOptions reopen;
  reopen.reopen = true;
  ASSERT_TRUE(doc.LoadDShowSource(args, reopen));
  EXPECT_GT(PicturePsnr(PortPicture(doc, 1), middle), 30.0);
  EXPECT_EQ(doc.m_Source[1].eStreamType, ST_AVI);

  // A fresh open starts at the beginning and forgets the stored position.
  reader.SetSeekRequest(1, 2);
  ASSERT_TRUE(Open(video.string(), 1));
  EXPECT_GT(PicturePsnr(PortPicture(doc, 1), first), 30.0);
  EXPECT_FALSE(reader.m_bSeekRequest.load());
  EXPECT_EQ(reader.m_nSeekNumerator.load(), 0);

  // An open that fails leaves the channel's position as it was.
  std::vector<std::uint8_t> noise(4096);
  std::mt19937 random(9);
  for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
  tovrin_test::WriteAll(dir / "noise.avi", noise);
  reader.SetSeekRequest(3, 4);
  EXPECT_FALSE(Open((dir / "noise.avi").string(), 1));
  EXPECT_TRUE(reader.m_bSeekRequest.load());
  EXPECT_EQ(reader.m_nSeekNumerator.load(), 3);
  EXPECT_EQ(reader.m_nSeekDenominator.load(), 4);
  EXPECT_GT(PicturePsnr(PortPicture(doc, 1), first), 30.0);
}

TEST_F(OpenTest, AnOpenedAudioOrVideoFileStartsPlayingWhenTheOptionSaysSo) {
  if (!open_test::HaveTool("gst-launch-1.0")) GTEST_SKIP() << "needs gst-launch-1.0";
  const std::filesystem::path audio = dir / "start.wav";
  ASSERT_TRUE(open_test::RunTool(
      "gst-launch-1.0 -q -e audiotestsrc num-buffers=10 ! audio/x-raw,rate=48000,channels=2 ! audioconvert ! "
      "audio/x-raw,format=S16LE ! wavenc ! filesink location=" +
      tovrin_test::Quote(audio)));
  const std::string still = (dir / "still.png").string();
  ASSERT_TRUE(open_test::ToImage(open_test::Pattern(4, 4)).save(QString::fromStdString(still), "PNG"));

  open_test::TSettingsApplication app;
  doc_test::TRecordingMainWindow main;
  // The main window's commands: count "Start / Pause - Replay".
  int starts = 0;
  platform::qt::CCmdTarget target;
  target.OnCommand(shell::ID_NAVIGATE_START_PAUSE, [&starts] { ++starts; });
  target.OnUpdate(shell::ID_NAVIGATE_START_PAUSE, [](platform::qt::TCmdUI& ui) { ui.Enable(true); });
  auto* router = new platform::qt::TCommandRouter(&main.window);
  router->SetChain([&target] { return std::vector<platform::qt::ICommandTarget*>{&target}; });

  ZarnDoc::CZarnDoc document;
  open_test::PreparePorts(document);
  app.state.startPlaying[0] = 0;
  ASSERT_TRUE(document.OnOpenDocument(audio.string()));
  app.state.startPlaying[0] = 1;
  ASSERT_TRUE(document.OnOpenDocument(still));
  QApplication::processEvents();
  EXPECT_EQ(starts, 0);  // option off, then a still
  ASSERT_TRUE(document.OnOpenDocument(audio.string()));
  EXPECT_TRUE(doc_test::RunUntil([&starts] { return starts == 1; }));
  QApplication::processEvents();
  EXPECT_EQ(starts, 1);
}
#endif

}  // namespace
