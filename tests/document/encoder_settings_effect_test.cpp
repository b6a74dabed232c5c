// What the image format pages' settings do to the files: each page is opened
// from the save dialog, its buttons and edits are used as a person would,
// the dialog's settings become the document's encoder records and a 64 x 48
// picture is written through the program's writers. Every file is then read
// by something independent of the writers: the JPEG, PNG and GIF headers
// byte by byte here, TIFF by tiffinfo (and its JPEG tables here), JPEG 2000
// by opj_dump and opj_decompress.

#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "document/zarn_doc_blocks.h"
#include "io/codecs/save_picture.h"
#include "media/dib.h"
#include "options/opts_gif.h"
#include "options/opts_jpeg.h"
#include "options/opts_jpeg2000.h"
#include "options/opts_png.h"
#include "options/opts_tiff.h"
#include "options/zarn_options.h"
#include "shell/file_dialog_ex.h"
#include "tests/shell/image_format_edits.h"
#include "tests/support/message_fixture.h"
#include "tests/support/test_support.h"

using namespace ZarnTypes;
using FileDialogEx::CFileDialogEx;
using tovrin_test::Quote;
using tovrin_test::RunCapture;
namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;

// Smooth ramps with a hard edge and a little texture, so that both the
// lossy coders and the palette makers have something to do.
std::array<std::uint8_t, 4> Colour(int x, int y) {
  const int r = x * 255 / (kWidth - 1);
  const int g = y * 255 / (kHeight - 1);
  const int b = (x < kWidth / 2 ? 40 : 210) + ((x * 7 + y * 13) % 17);
  const int a = 255 - (x + y) % 64;
  return {static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(r),
          static_cast<std::uint8_t>(a)};
}

const Dib::TDibSection& Picture() {
  static const Dib::TDibPtr picture = [] {
    Dib::TDibPtr p = Dib::CreateDibSectionEx(kWidth, kHeight, 32);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const auto c = Colour(x, y);
        std::copy(c.begin(), c.end(), p->RowFromTop(y) + 4 * x);
      }
    return p;
  }();
  return *picture;
}

bool Offered(const QWidget* w) { return w && !w->isHidden() && w->isEnabled(); }

std::uint32_t Be32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 | std::uint32_t{b[at + 2]} << 8 |
         b[at + 3];
}

// --- JPEG markers ------------------------------------------------------------

// The luminance table libjpeg starts from, in natural order.
constexpr std::array<int, 64> kStdLuminance = {
    16, 11,  10,  16, 24, 40, 51, 61, 12,  12,  14,  19,  26, 58, 60, 55,  14,  13,  16,  24, 40, 57,
    69, 56,  14,  17, 22, 29, 51, 87, 80,  62,  18,  22,  37, 56, 68, 109, 103, 77,  24,  35, 55, 64,
    81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98,  112, 100, 103, 99};
// Zig-zag position i holds natural position kZigzag[i].
constexpr std::array<int, 64> kZigzag = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                         12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                         35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                         58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// libjpeg's scaling of the standard table for a quality, held to 255 for
// baseline tables: in the zig-zag order the file keeps.
std::array<int, 64> ScaledLuminance(int quality) {
  quality = std::clamp(quality, 1, 100);
  const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
  std::array<int, 64> out{};
  for (int i = 0; i < 64; ++i)
    out[static_cast<std::size_t>(i)] = std::clamp(
        (kStdLuminance[static_cast<std::size_t>(kZigzag[static_cast<std::size_t>(i)])] * scale + 50) / 100, 1,
        255);
  return out;
}

struct TJpegMarkers {
  std::vector<std::array<int, 64>> tables;  // by table id
  int components = 0;
};

// Walks the markers of a JPEG stream (a file or a TIFF's JPEG tables) up to
// the first scan.
TJpegMarkers ReadJpegMarkers(const std::vector<std::uint8_t>& b) {
  TJpegMarkers m;
  std::size_t at = 2;
  while (at + 4 <= b.size() && b[at] == 0xFF) {
    const int marker = b[at + 1];
    const std::size_t length = std::size_t{b[at + 2]} << 8 | b[at + 3];
    const std::size_t end = at + 2 + length;
    if (end > b.size() || marker == 0xDA || marker == 0xD9) break;
    if (marker == 0xDB) {
      for (std::size_t p = at + 4; p < end;) {
        const bool wide = (b[p] >> 4) != 0;  // 16-bit entries
        const std::size_t id = b[p] & 0x0F;
        if (p + 1 + (wide ? 128 : 64) > end) break;
        if (m.tables.size() <= id) m.tables.resize(id + 1);
        for (std::size_t i = 0; i < 64; ++i)
          m.tables[id][i] = wide ? b[p + 1 + 2 * i] << 8 | b[p + 2 + 2 * i] : b[p + 1 + i];
        p += 1 + (wide ? 128 : 64);
      }
    } else if (marker == 0xC0 || marker == 0xC1) {
      m.components = b[at + 9];
    }
    at = end;
  }
  return m;
}

// --- TIFF tags -----------------------------------------------------------------

// The bytes of a tag of the first directory of a little-endian TIFF file.
std::vector<std::uint8_t> TiffTagBytes(const std::vector<std::uint8_t>& b, std::uint16_t wanted) {
  auto le16 = [&b](std::size_t at) { return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8); };
  auto le32 = [&b](std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
  };
  if (b.size() < 8 || b[0] != 'I') return {};
  const std::size_t ifd = le32(4);
  if (ifd + 2 > b.size()) return {};
  const std::size_t count = le16(ifd);
  for (std::size_t i = 0; i < count && ifd + 2 + 12 * (i + 1) <= b.size(); ++i) {
    const std::size_t e = ifd + 2 + 12 * i;
    if (le16(e) != wanted) continue;
    const std::size_t n = le32(e + 4);  // UNDEFINED: one byte each
    const std::size_t at = n <= 4 ? e + 8 : le32(e + 8);
    if (at + n > b.size()) return {};
    return {b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + n)};
  }
  return {};
}

// The value tiffinfo prints after "<name>: " ("" when it prints none).
std::string TiffInfoField(const std::string& info, const std::string& name) {
  const std::size_t at = info.find(name + ": ");
  if (at == std::string::npos) return {};
  const std::size_t from = at + name.size() + 2;
  return info.substr(from, info.find('\n', from) - from);
}

// --- the fixture -------------------------------------------------------------

class EncoderSettingsEffect : public tovrin_test::TRecordedMessagesTest {
 protected:
  // The save dialog as Save As opens it: the document's encoder records in
  // the dialog's settings.
  EncoderSettingsEffect() {
    TFileDialogSettings s = image_format_edits::SaveAsSettings();
    const TEncoderSettings defaults;
    s.jpegQuality = defaults.nJpegQuality;
    ZarnDoc::Blocks::EncodeJpeg2000(defaults.jpeg2000, s.jpeg2000);
    ZarnDoc::Blocks::EncodePng(defaults.png, s.png);
    ZarnDoc::Blocks::EncodeGif(defaults.gif, s.gif);
    ZarnDoc::Blocks::EncodeTiff(defaults.tiff, s.tiff);
    dialog = std::make_unique<CFileDialogEx>(false, s, BuildFilterList(FDM_SAVE_IMAGE_AS));
  }

  // "Options..." on the first filter of `category`: the sheet, shown, on
  // its page.
  template <class TPage>
  TPage* Open(std::int32_t category, OptsPage::TOptsPageKind kind) {
    EXPECT_TRUE(image_format_edits::SelectCategory(*dialog, category));
    EXPECT_TRUE(dialog->OptionsButton()->isEnabled());
    sheet = std::make_unique<ZarnOptions::CZarnOptions>("Options", dialog.get(), category);
    sheet->OnInitDialog();
    auto* page = dynamic_cast<TPage*>(sheet->Page(kind));
    EXPECT_NE(page, nullptr);
    return page;
  }

  // The sheet's OK as the dialog runs it, then the save as the document
  // makes it: the dialog's records become the encoder settings and the
  // picture is written in the dialog's format.
  std::vector<std::uint8_t> AcceptAndSave(const std::string& name) {
    sheet->AcceptSheet();
    dialog->SelectFilterByFormat(dialog->Logic().CurrentFormat());
    const TFileDialogSettings& s = dialog->Settings();
    TEncoderSettings encoders;
    encoders.nJpegQuality = s.jpegQuality;
    ZarnDoc::Blocks::DecodeJpeg2000(s.jpeg2000, encoders.jpeg2000);
    ZarnDoc::Blocks::DecodePng(s.png, encoders.png);
    ZarnDoc::Blocks::DecodeGif(s.gif, encoders.gif);
    ZarnDoc::Blocks::DecodeTiff(s.tiff, encoders.tiff);
    last = dir / name;
    const std::int32_t format = dialog->Logic().CurrentFormat();
    EXPECT_TRUE(SavePicture::SaveImageByFormat(last.string(), format, Picture(), encoders))
        << name << " in format " << format;
    return tovrin_test::ReadAll(last);
  }

  std::unique_ptr<CFileDialogEx> dialog;
  std::unique_ptr<ZarnOptions::CZarnOptions> sheet;
  fs::path last;
};

}  // namespace

TEST_F(EncoderSettingsEffect, JpegQuantisationFollowsTheQualityAndGreyHasOneComponent) {
  for (bool grey : {false, true}) {
    for (int quality : {1, 10, 50, 80, 100}) {
      SCOPED_TRACE(testing::Message() << (grey ? "grey" : "colour") << " quality " << quality);
      auto* page = Open<OptsJpeg::COptsJpeg>(OPTCAT_JPEG, OptsPage::PAGE_JPEG);
      ASSERT_NE(page, nullptr);
      page->QualitySpin()->Edit()->setText(QString::number(quality));
      (grey ? page->GrayButton() : page->ColorButton())->click();
      const auto file = AcceptAndSave("q" + std::to_string(quality) + (grey ? "g" : "c") + ".jpg");
      ASSERT_GE(file.size(), 4u);
      ASSERT_EQ(file[0], 0xFF);
      ASSERT_EQ(file[1], 0xD8);
      const TJpegMarkers m = ReadJpegMarkers(file);
      ASSERT_FALSE(m.tables.empty());
      EXPECT_EQ(m.tables[0], ScaledLuminance(quality));
      EXPECT_EQ(m.components, grey ? 1 : 3);
      EXPECT_EQ(m.tables.size(), grey ? 1u : 2u) << "a chrominance table only for colour";
    }
  }
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(EncoderSettingsEffect, PngHeaderCarriesTheTypeDepthInterlaceAndCompressionLevel) {
  // The page's colour types and the PNG colour types they write.
  const std::array<std::pair<std::int32_t, int>, 5> types = {{{2, 0}, {3, 4}, {4, 3}, {5, 2}, {6, 6}}};
  int written = 0;
  for (const auto& [type, ihdrType] : types) {
    for (int depthIndex = 0; depthIndex < 5; ++depthIndex) {
      auto* page = Open<OptsPng::COptsPng>(OPTCAT_PNG, OptsPage::PAGE_PNG);
      ASSERT_NE(page, nullptr);
      page->ColorTypeButton(type)->click();
      if (!Offered(page->DepthButton(depthIndex))) continue;
      page->DepthButton(depthIndex)->click();
      const int depth = OptsPng::kDepths[static_cast<std::size_t>(depthIndex)];
      const bool interlaced = (type + depthIndex) % 2 == 0;
      page->InterlacedBox()->setChecked(interlaced);
      const int level = depthIndex == 3 ? 0 : 9;
      page->CompressionSpin()->Edit()->setText(QString::number(level));
      SCOPED_TRACE(testing::Message() << "type " << type << " depth " << depth);
      const auto file = AcceptAndSave("t" + std::to_string(type) + "d" + std::to_string(depth) + ".png");
      ASSERT_GE(file.size(), 45u);
      ASSERT_EQ(std::string(file.begin() + 12, file.begin() + 16), "IHDR");
      EXPECT_EQ(Be32(file, 16), static_cast<std::uint32_t>(kWidth));
      EXPECT_EQ(Be32(file, 20), static_cast<std::uint32_t>(kHeight));
      EXPECT_EQ(file[24], depth);
      EXPECT_EQ(file[25], ihdrType);
      EXPECT_EQ(file[28], interlaced ? 1 : 0);
      // The zlib header of the first IDAT: its level bits say 0 (fastest)
      // for levels 0 and 1 and 3 (best) for 7..9.
      std::size_t at = 8;
      while (at + 12 <= file.size() && std::string(file.begin() + at + 4, file.begin() + at + 8) != "IDAT")
        at += 12 + Be32(file, at);
      ASSERT_LT(at + 10, file.size());
      EXPECT_EQ(file[at + 9] >> 6, level == 0 ? 0 : 3) << "level " << level;
      ++written;
    }
  }
  // Grey 1, 2, 4, 8; grey + alpha 8; palette 1, 2, 4, 8; RGB 8; RGB + alpha 8.
  EXPECT_EQ(written, 11);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(EncoderSettingsEffect, GifColourTableFollowsTheDepthAndTheSignificantBits) {
  for (int depth : {1, 4, 8}) {
    for (int bits : {1, 8}) {
      SCOPED_TRACE(testing::Message() << "depth " << depth << " significant bits " << bits);
      auto* page = Open<OptsGif::COptsGif>(OPTCAT_GIF, OptsPage::PAGE_GIF);
      ASSERT_NE(page, nullptr);
      ASSERT_TRUE(Offered(page->DepthButton(depth)));
      page->DepthButton(depth)->click();
      page->SignificantBitsSpin()->Edit()->setText(QString::number(bits));
      const auto file = AcceptAndSave("d" + std::to_string(depth) + "b" + std::to_string(bits) + ".gif");
      ASSERT_GE(file.size(), 13u);
      ASSERT_EQ(std::string(file.begin(), file.begin() + 3), "GIF");
      const int packed = file[10];
      ASSERT_TRUE(packed & 0x80) << "a global colour table";
      const int tableBits = (packed & 7) + 1;
      EXPECT_EQ(tableBits, depth);
      const std::size_t entries = std::size_t{1} << tableBits;
      ASSERT_GE(file.size(), 13 + 3 * entries);
      std::set<std::uint32_t> colours;
      for (std::size_t i = 0; i < entries; ++i)
        colours.insert(std::uint32_t{file[13 + 3 * i]} << 16 | std::uint32_t{file[14 + 3 * i]} << 8 |
                       file[15 + 3 * i]);
      // One significant bit leaves the octree eight leaves at the most;
      // eight bits fill whatever the depth holds on this picture.
      if (bits == 1) {
        EXPECT_LE(colours.size(), 8u);
      } else {
        EXPECT_EQ(colours.size(), entries);
      }
    }
  }
  EXPECT_TRUE(sink.Texts().empty());
}

// Every colour space, depth and compression the TIFF page lets a person
// pick, written and read back by libtiff's tiffinfo.
TEST_F(EncoderSettingsEffect, TiffEveryOfferedCombinationIsWrittenAsChosen) {
  struct TName {
    std::int32_t code;
    const char* scheme;
  };
  const TName names[] = {{0, "None"},    {2, "LZW"},       {3, "PackBits"},      {4, "JPEG"},
                         {6, "Deflate"}, {7, "CCITT RLE"}, {8, "CCITT Group 3"}, {9, "CCITT Group 4"}};
  int written = 0;
  for (std::int32_t space : {1, 2, 3, 4, 5}) {
    for (int depthIndex = 0; depthIndex < 5; ++depthIndex) {
      for (const TName& name : names) {
        auto* page = Open<OptsTiff::COptsTiff>(OPTCAT_TIFF, OptsPage::PAGE_TIFF);
        ASSERT_NE(page, nullptr);
        if (!Offered(page->SpaceButton(space))) break;
        page->SpaceButton(space)->click();
        if (!Offered(page->DepthButton(depthIndex))) break;
        page->DepthButton(depthIndex)->click();
        if (!Offered(page->CompressionButton(name.code))) continue;
        page->CompressionButton(name.code)->click();
        const int depth = OptsPng::kDepths[static_cast<std::size_t>(depthIndex)];
        SCOPED_TRACE(testing::Message() << "space " << space << " depth " << depth << " " << name.scheme);
        ASSERT_TRUE(page->CompressionButton(name.code)->isChecked());
        AcceptAndSave("s" + std::to_string(space) + "d" + std::to_string(depth) + "c" +
                      std::to_string(name.code) + ".tif");
        const auto out = RunCapture("{ tiffinfo -D " + Quote(last) + " 2>&1; }");
        ASSERT_TRUE(out.has_value());
        const std::string info(out->begin(), out->end());
        EXPECT_EQ(TiffInfoField(info, "  Compression Scheme"), name.scheme) << info;
        EXPECT_EQ(TiffInfoField(info, "  Bits/Sample"), std::to_string(depth)) << info;
        EXPECT_EQ(TiffInfoField(info, "  Samples/Pixel"), space == 3 ? "1" : space == 4 ? "3" : "4") << info;
        EXPECT_NE(TiffInfoField(info, "  Photometric Interpretation")
                      .find(space == 3 ? "palette color" : "RGB color"),
                  std::string::npos)
            << info;
        EXPECT_EQ(info.find("rror"), std::string::npos) << info;
        ++written;
      }
    }
  }
  // Palette 1 bit: seven compressions; 4 and 8 bits: four; RGB and RGB +
  // alpha at 8 bits: five each.
  EXPECT_EQ(written, 7 + 4 + 4 + 5 + 5);
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(EncoderSettingsEffect, TiffJpegCompressionTakesThePagesQuality) {
  // Qualities from 25 up keep every table entry below 256 (baseline tables,
  // nothing for the library to caution about).
  for (int quality : {30, 60, 95}) {
    SCOPED_TRACE(testing::Message() << "quality " << quality);
    auto* page = Open<OptsTiff::COptsTiff>(OPTCAT_TIFF, OptsPage::PAGE_TIFF);
    ASSERT_NE(page, nullptr);
    page->SpaceButton(4)->click();
    page->DepthButton(3)->click();
    page->CompressionButton(4)->click();
    page->QualitySpin()->Edit()->setText(QString::number(quality));
    const auto file = AcceptAndSave("jpeg" + std::to_string(quality) + ".tif");
    const std::vector<std::uint8_t> tables = TiffTagBytes(file, 347);
    ASSERT_GE(tables.size(), 4u) << "JPEG tables";
    const TJpegMarkers m = ReadJpegMarkers(tables);
    ASSERT_FALSE(m.tables.empty());
    EXPECT_EQ(m.tables[0], ScaledLuminance(quality));
  }
  EXPECT_TRUE(sink.Texts().empty()) << sink.Texts().front();
}

TEST_F(EncoderSettingsEffect, Jpeg2000KindComponentsAndLosslessDecodeFollowThePage) {
  const std::array<std::uint8_t, 12> jp2Signature = {0,   0,   0,    0x0C, 'j',  'P',
                                                     ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  for (std::int32_t space : {4, 5}) {
    for (std::int32_t compression : {1, 2, 3}) {
      SCOPED_TRACE(testing::Message() << "space " << space << " compression " << compression);
      std::vector<std::size_t> sizes;
      for (int quality : {20, 500}) {
        auto* page = Open<OptsJpeg2000::COptsJpeg2000>(OPTCAT_JPEG2000, OptsPage::PAGE_JPEG2000);
        ASSERT_NE(page, nullptr);
        ASSERT_TRUE(Offered(page->SpaceButton(space)));
        page->SpaceButton(space)->click();
        ASSERT_TRUE(page->DepthButton(3)->isChecked());
        page->CompressionButton(compression)->click();
        page->QualitySpin()->Edit()->setText(QString::number(quality));
        const std::string name = "s" + std::to_string(space) + "c" + std::to_string(compression) + "q" +
                                 std::to_string(quality) + (compression == 3 ? ".jpc" : ".jp2");
        const auto file = AcceptAndSave(name);
        EXPECT_EQ(dialog->Logic().CurrentFormat(), compression == 3 ? 42 : 41);
        ASSERT_GE(file.size(), 12u);
        if (compression == 3) {
          EXPECT_EQ(file[0], 0xFF);
          EXPECT_EQ(file[1], 0x4F);
        } else {
          EXPECT_TRUE(std::equal(jp2Signature.begin(), jp2Signature.end(), file.begin()));
        }
        sizes.push_back(file.size());

        const auto dump = RunCapture("{ opj_dump -i " + Quote(last) + " 2>&1; }");
        ASSERT_TRUE(dump.has_value());
        const std::string info(dump->begin(), dump->end());
        EXPECT_NE(info.find("numcomps=" + std::to_string(space == 4 ? 3 : 4)), std::string::npos) << info;
        // Every component at the page's 8 bits.
        EXPECT_NE(info.find("prec=8"), std::string::npos) << info;
        EXPECT_EQ(info.find("prec=1"), std::string::npos) << info;
        if (compression != 1) continue;
        EXPECT_NE(info.find("qmfbid=1"), std::string::npos) << info;
        const fs::path decoded = dir / (name + ".png");
        ASSERT_TRUE(RunCapture("opj_decompress -quiet -i " + Quote(last) + " -o " + Quote(decoded) +
                               " >/dev/null 2>&1"));
        QImage image(QString::fromStdString(decoded.string()));
        ASSERT_FALSE(image.isNull());
        ASSERT_EQ(image.size(), QSize(kWidth, kHeight));
        image = image.convertToFormat(QImage::Format_ARGB32);
        int differences = 0;
        for (int y = 0; y < kHeight; ++y)
          for (int x = 0; x < kWidth; ++x) {
            const auto c = Colour(x, y);
            const QRgb want = qRgba(c[2], c[1], c[0], space == 5 ? c[3] : 255);
            if (image.pixel(x, y) != want) ++differences;
          }
        EXPECT_EQ(differences, 0);
      }
      // Lossless ignores the quality; the rates make the lower one smaller.
      if (compression == 1) {
        EXPECT_EQ(sizes[0], sizes[1]);
      } else {
        EXPECT_LT(sizes[0], sizes[1]);
      }
    }
  }
  EXPECT_TRUE(sink.Texts().empty());
}
