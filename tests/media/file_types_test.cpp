#include "media/file_types.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace ZarnTypes;

namespace {

// Codes probed around every table: negatives, 0, all values and beyond.
std::vector<std::int32_t> ProbeCodes() {
  std::vector<std::int32_t> codes = {INT_MIN, -1000, -1};
  for (std::int32_t c = 0; c <= 100; ++c) codes.push_back(c);
  codes.push_back(1000);
  codes.push_back(INT_MAX);
  return codes;
}

bool In(std::int32_t c, std::int32_t lo, std::int32_t hi) { return c >= lo && c <= hi; }

std::string FormatName(std::int32_t format) {
  std::string name;
  GetFileFormatName(format, name);
  return name;
}

std::string StreamName(std::int32_t streamType) {
  std::string name;
  GetStreamTypeName(streamType, name);
  return name;
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, sep);) parts.push_back(part);
  return parts;
}

// Every extension the system knows, as a path splitter hands it over.
const char* const kKnownExtensions[] = {
    ".oov", ".mpeg", ".mpg", ".mp2",  ".mp4",  ".264", ".dv",  ".avi", ".wmv", ".asf", ".flv", ".swf",
    ".mov", ".mng",  ".yuv", ".ifo",  ".bup",  ".vob", ".mp3", ".wma", ".wav", ".bmp", ".dib", ".ico",
    ".pgm", ".gif",  ".jpg", ".jpeg", ".jfif", ".jp2", ".jpc", ".j2c", ".png", ".tif", ".tiff"};

std::string ToUpper(std::string s) {
  for (char& ch : s) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Extensions

TEST(FileTypesExt, EveryKnownExtensionHasItsOwnCodeWhateverItsCase) {
  std::set<std::int32_t> codes;
  for (const char* ext : kKnownExtensions) {
    SCOPED_TRACE(ext);
    const std::int32_t code = GetFileExtCode(ext);
    EXPECT_NE(code, FEXT_NONE);
    EXPECT_EQ(GetFileExtCode(ToUpper(ext)), code);
    codes.insert(code);
  }
  // 35 distinct codes filling FEXT_OOV..FEXT_TIFF without a gap.
  ASSERT_EQ(codes.size(), std::size(kKnownExtensions));
  EXPECT_EQ(*codes.begin(), FEXT_OOV);
  EXPECT_EQ(*codes.rbegin(), FEXT_TIFF);
}

struct TExtCase {
  const char* text;
  std::int32_t code;
};

class FileTypesExtCode : public ::testing::TestWithParam<TExtCase> {};

TEST_P(FileTypesExtCode, Classifies) {
  EXPECT_EQ(GetFileExtCode(GetParam().text), GetParam().code) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(FileTypesEdgeCases, FileTypesExtCode,
                         ::testing::Values(TExtCase{".JPG", FEXT_JPG}, TExtCase{".Jpg", FEXT_JPG},
                                           TExtCase{".jpg", FEXT_JPG}, TExtCase{"jpg", FEXT_NONE},
                                           TExtCase{".jpe", FEXT_NONE},  // in the JPEG patterns, but no code
                                           TExtCase{"", FEXT_NONE}, TExtCase{".", FEXT_NONE},
                                           TExtCase{".jp", FEXT_NONE},    // no prefix matches
                                           TExtCase{".jpgx", FEXT_NONE},  // no longer names either
                                           TExtCase{".jpg ", FEXT_NONE}, TExtCase{"x.jpg", FEXT_NONE},
                                           TExtCase{".TIF", FEXT_TIF}, TExtCase{".tIfF", FEXT_TIFF},
                                           TExtCase{".MPEG", FEXT_MPEG}, TExtCase{".264", FEXT_264},
                                           TExtCase{".J2C", FEXT_J2C}, TExtCase{".YUV", FEXT_YUV},
                                           TExtCase{"\xC3\xA9.jpg", FEXT_NONE}));

TEST(FileTypesExt, ExtensionsWithoutASequenceReaderAreTheOnlyUnsupportedCodes) {
  const std::set<std::int32_t> unsupported = {FEXT_NONE, FEXT_264, FEXT_DIB, FEXT_ICO, FEXT_PGM, FEXT_J2C};
  for (std::int32_t code : ProbeCodes()) {
    SCOPED_TRACE(code);
    const bool expected = In(code, FEXT_FIRST, FEXT_LAST) && unsupported.count(code) == 0;
    EXPECT_EQ(IsSupportedFileExt(code), expected);
    // A sequence reader can only accept what maps to a format.
    if (IsSupportedFileExt(code)) {
      EXPECT_NE(FileExtCodeToFileFormat(code), 0);
    }
  }
}

TEST(FileTypesExt, FormatOfAnExtension) {
  struct {
    const char* ext;
    std::int32_t format;
  } cases[] = {
      {".mpeg", FF_MPEG2},
      {".mpg", FF_MPEG2},
      {".mp2", FF_MPEG2},
      {".dib", FF_BMP},
      {".bmp", FF_BMP},
      {".pgm", FF_PGM},
      {".j2c", 0},
      {".yuv", FF_YUV_RAW},
      {".ico", FF_ICO},
      {".264", FF_H264},
      {".jfif", FF_JPEG},
      {".tiff", FF_TIFF},
      {"", 0},
      {".jpe", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileExtCodeToFileFormat(GetFileExtCode(c.ext)), c.format) << c.ext;
  }
  for (std::int32_t code : {INT_MIN, -1, 0, 37, 1000, INT_MAX}) {
    EXPECT_EQ(FileExtCodeToFileFormat(code), 0) << code;
  }
  // No extension names MPEG-1, although MPEG-1 is written as ".mpg".
  for (std::int32_t code = FEXT_FIRST; code <= FEXT_LAST; ++code) {
    EXPECT_NE(FileExtCodeToFileFormat(code), FF_MPEG1) << code;
  }
  EXPECT_EQ(GetDefaultExtension(FF_MPEG1), ".mpg");
}

TEST(FileTypesExt, DefaultExtensionReadsBackAsTheFormatOrItsFamily) {
  // Formats written under the extension of a wider family.
  const std::map<std::int32_t, std::int32_t> family = [] {
    std::map<std::int32_t, std::int32_t> m = {{FF_MPEG1, FF_MPEG2}, {FF_JPEG_GRAY, FF_JPEG}};
    for (std::int32_t f = FF_BMP_1BIT; f <= FF_BMP_48BIT; ++f) m[f] = FF_BMP;
    for (std::int32_t f = FF_YCBCR_FIRST; f <= FF_YCBCR_LAST; ++f) m[f] = FF_YUV_RAW;
    return m;
  }();
  int withExtension = 0;
  for (std::int32_t format : ProbeCodes()) {
    const std::string ext = GetDefaultExtension(format);
    if (ext.empty()) continue;
    SCOPED_TRACE(format);
    ++withExtension;
    EXPECT_EQ(ext[0], '.');
    const std::int32_t code = GetFileExtCode(ext);
    ASSERT_NE(code, FEXT_NONE) << ext;
    const auto it = family.find(format);
    EXPECT_EQ(FileExtCodeToFileFormat(code), it == family.end() ? format : it->second);
    // Whatever has an extension also has a name.
    std::string name;
    EXPECT_TRUE(GetFileFormatName(format, name));
  }
  EXPECT_EQ(withExtension, 34 + 42);  // 3..21, 28, 30..39, 41..44 and the layouts
}

TEST(FileTypesExt, BitmapDefaultExtensionsFollowTheNamedDepthsOnly) {
  EXPECT_EQ(GetDefaultExtension(FF_BMP), "");
  EXPECT_EQ(GetDefaultExtension(FF_BMP_2BIT), "");
  EXPECT_EQ(GetDefaultExtension(FF_BMP_1BIT), ".bmp");
  for (std::int32_t f = FF_BMP_4BIT; f <= FF_BMP_48BIT; ++f) EXPECT_EQ(GetDefaultExtension(f), ".bmp");
  for (std::int32_t f : {0, 1, 2, 22, 40, 45, 52, 95, 96, 97, -1}) {
    EXPECT_EQ(GetDefaultExtension(f), "") << f;
  }
}

// ---------------------------------------------------------------------------
// Formats and stream types

TEST(FileTypesFormat, StreamTypeOfAFormatIsIdentityOrOneLower) {
  for (std::int32_t f : ProbeCodes()) {
    SCOPED_TRACE(f);
    std::int32_t expected = 0;
    if (In(f, 1, 21) || In(f, 38, 44) || In(f, 53, 94)) expected = f;
    if (In(f, 23, 37)) expected = f - 1;
    EXPECT_EQ(FileFormatToStreamType(f), expected);
  }
}

TEST(FileTypesFormat, FormatOfAStreamTypeIsIdentityOrOneHigher) {
  for (std::int32_t s : ProbeCodes()) {
    SCOPED_TRACE(s);
    std::int32_t expected = 0;
    if (In(s, 1, 21) || In(s, 38, 44) || In(s, 53, 94)) expected = s;
    if (In(s, 22, 36)) expected = s + 1;
    EXPECT_EQ(StreamTypeToFileFormat(s), expected);
  }
}

TEST(FileTypesFormat, FormatAndStreamTypeConvertersAreInverse) {
  int pairs = 0;
  for (std::int32_t f : ProbeCodes()) {
    const std::int32_t s = FileFormatToStreamType(f);
    if (s == 0) continue;
    ++pairs;
    EXPECT_EQ(StreamTypeToFileFormat(s), f) << f;
  }
  for (std::int32_t s : ProbeCodes()) {
    const std::int32_t f = StreamTypeToFileFormat(s);
    if (f != 0) {
      EXPECT_EQ(FileFormatToStreamType(f), s) << s;
    }
  }
  EXPECT_EQ(pairs, 21 + 15 + 7 + 42);
}

TEST(FileTypesFormat, ConversionEdgeCases) {
  EXPECT_EQ(FileFormatToStreamType(FF_GIF), ST_GIF);
  EXPECT_EQ(FileFormatToStreamType(FF_JPEG), ST_JPEG_JFIF);
  EXPECT_EQ(StreamTypeToFileFormat(ST_JPEG), 0);
  EXPECT_EQ(FileFormatToStreamType(FF_CLIPBOARD), 0);
  EXPECT_EQ(FileFormatToStreamType(FF_WIA_DEVICE), 0);
  EXPECT_EQ(StreamTypeToFileFormat(ST_CLIPBOARD), 0);
  EXPECT_EQ(StreamTypeToFileFormat(ST_PGM), 0);
  EXPECT_EQ(FileFormatToStreamType(FF_PGM), 0);
  std::string name;
  EXPECT_TRUE(GetStreamTypeName(ST_CLIPBOARD, name));
  EXPECT_EQ(name, "Clipbard");
  EXPECT_TRUE(GetStreamTypeName(ST_WIA_DEVICE, name));
  EXPECT_EQ(name, "WIA device");
}

TEST(FileTypesFormat, AFormatAndItsStreamTypeReadTheSame) {
  for (std::int32_t f : ProbeCodes()) {
    const std::int32_t s = FileFormatToStreamType(f);
    std::string formatName;
    if (s == 0 || !GetFileFormatName(f, formatName)) continue;
    std::string streamName;
    EXPECT_TRUE(GetStreamTypeName(s, streamName)) << f;
    EXPECT_EQ(streamName, formatName) << f;
  }
}

TEST(FileTypesFormat, CodesWithoutTextReadUnknownAndFail) {
  std::set<std::int32_t> formatsWithText;
  std::set<std::int32_t> streamsWithText;
  for (std::int32_t c : ProbeCodes()) {
    std::string name = "previous";
    if (GetFileFormatName(c, name)) {
      EXPECT_FALSE(name.empty());
      EXPECT_NE(name, "Unknown stream type");
      formatsWithText.insert(c);
    } else {
      EXPECT_EQ(name, "Unknown stream type") << c;
    }
    name = "previous";
    if (GetStreamTypeName(c, name)) {
      EXPECT_NE(name, "Unknown stream type");
      streamsWithText.insert(c);
    } else {
      EXPECT_EQ(name, "Unknown stream type") << c;
    }
  }
  std::set<std::int32_t> expectedFormats;
  std::set<std::int32_t> expectedStreams;
  for (std::int32_t c = 1; c <= 96; ++c) {
    if (In(c, 1, 21) || c == 27 || c == 28 || In(c, 30, 39) || In(c, 41, 44) || In(c, 53, 96)) {
      expectedFormats.insert(c);
    }
    if (In(c, 1, 21) || In(c, 26, 45) || In(c, 53, 96)) expectedStreams.insert(c);
  }
  EXPECT_EQ(formatsWithText, expectedFormats);
  EXPECT_EQ(streamsWithText, expectedStreams);
}

TEST(FileTypesFormat, NamesWhereFormatAndStreamTypeDiffer) {
  std::string name;
  EXPECT_FALSE(GetFileFormatName(FF_BMP_2BIT, name));
  EXPECT_TRUE(GetStreamTypeName(ST_BMP_2BIT, name));
  EXPECT_EQ(name, "BMP - 2-bit Bitmap");
  EXPECT_FALSE(GetFileFormatName(FF_JPEG2000, name));
  EXPECT_TRUE(GetStreamTypeName(ST_JPEG2000, name));
  EXPECT_EQ(name, "JPEG-2000");
  EXPECT_EQ(StreamName(ST_JPEG), "JPEG - JPEG/JFIF");
  EXPECT_EQ(StreamName(ST_JPEG_JFIF), "JPEG - JPEG/JFIF");
  EXPECT_EQ(StreamName(ST_PGM), "PGM - Portable Graymap");
  EXPECT_EQ(FormatName(FF_CLIPBOARD), "Clipbard");
  EXPECT_EQ(FormatName(FF_AVI), "AVI - Audio Video Interlived");
  EXPECT_EQ(FormatName(FF_BMP_4BIT), "BMP - 4-bit bitmap / 16 Colors");
  EXPECT_EQ(FormatName(FF_NULL_STREAM), "Null stream");
}

TEST(FileTypesFormat, FormatPredicates) {
  for (std::int32_t c : ProbeCodes()) {
    SCOPED_TRACE(c);
    EXPECT_EQ(IsYuvFileFormat(c), In(c, 53, 94));
    EXPECT_EQ(IsYuvType(c), In(c, 46, 94));
    EXPECT_EQ(IsVideoStreamType(c), In(c, 3, 18));
    EXPECT_EQ(IsImageFileFormat(c), In(c, 27, 35) || In(c, 37, 39) || In(c, 41, 44));
    EXPECT_EQ(HasFormatOptionsPage(c),
              c == 9 || c == 10 || c == 20 || In(c, 37, 39) || In(c, 41, 44) || In(c, 53, 94));
  }
}

// ---------------------------------------------------------------------------
// Filter entries

TEST(FileTypesFilter, FilterAndFormatAreExactInversesOver72Entries) {
  std::set<std::int32_t> formats;
  for (std::int32_t filter : ProbeCodes()) {
    SCOPED_TRACE(filter);
    const std::int32_t format = FileFilterToFileFormat(filter);
    if (!In(filter, 7, 78)) {
      EXPECT_EQ(format, 0);
      continue;
    }
    ASSERT_NE(format, 0);
    EXPECT_EQ(FileFormatToFileFilter(format), filter);
    formats.insert(format);
  }
  EXPECT_EQ(formats.size(), 72u);
  for (std::int32_t format : ProbeCodes()) {
    const std::int32_t filter = FileFormatToFileFilter(format);
    EXPECT_EQ(filter != 0, formats.count(format) == 1) << format;
    if (filter != 0) {
      EXPECT_EQ(FileFilterToFileFormat(filter), format) << format;
    }
  }
}

TEST(FileTypesFilter, FormatsWithoutAnEntry) {
  for (std::int32_t f : {1,  2,  4,  7,  16, 17, 18, 22, 23, 24, 25, 26, 29, 40,
                         45, 46, 47, 48, 49, 50, 51, 52, 95, 96, 0,  97, -1}) {
    EXPECT_EQ(FileFormatToFileFilter(f), 0) << f;
  }
  EXPECT_EQ(FileFormatToFileFilter(FF_BMP), FLT_BMP);
  EXPECT_EQ(FileFormatToFileFilter(FF_WMV), FLT_WMV);
  EXPECT_EQ(FileFormatToFileFilter(FF_ASF), FLT_ASF);
  EXPECT_EQ(FileFilterToFileFormat(FLT_YUV_LAST), FF_YCBCR_LAST);
  EXPECT_EQ(FileFormatToFileFilter(FF_YCBCR_LAST), FLT_YUV_LAST);
  EXPECT_EQ(FileFilterToFileFormat(FLT_YUV_FIRST), FF_YCBCR_FIRST);
}

TEST(FileTypesFilter, PatternsAndLabelsExistExactlyForTheEntries) {
  for (std::int32_t filter : ProbeCodes()) {
    SCOPED_TRACE(filter);
    const std::string pattern = GetFileFilterPattern(filter);
    const std::string label = GetFileFilterLabel(filter);
    if (!In(filter, 1, 78)) {
      EXPECT_EQ(pattern, "");
      EXPECT_EQ(label, "");
      continue;
    }
    ASSERT_FALSE(pattern.empty());
    ASSERT_FALSE(label.empty());
    for (const std::string& part : Split(pattern, ';')) EXPECT_EQ(part[0], '*') << pattern;
    if (In(filter, 1, 6)) {
      EXPECT_EQ(label.rfind("All ", 0), 0u) << label;
    } else {
      EXPECT_EQ(label.back(), ')') << label;
    }
  }
  EXPECT_EQ(GetFileFilterPattern(FLT_YUV), "*.yuv");
  EXPECT_EQ(GetFileFilterPattern(FLT_ALL), "*.*");
  EXPECT_EQ(GetFileFilterLabel(FLT_ALL), "All files");
  EXPECT_EQ(GetFileFilterLabel(FLT_AVI), "AVI - Audio Video Interlived (.avi)");
}

TEST(FileTypesFilter, PatternOfAnEntryAcceptsItsFormatsDefaultExtension) {
  for (std::int32_t filter = 7; filter <= 78; ++filter) {
    const std::int32_t format = FileFilterToFileFormat(filter);
    const std::string ext = GetDefaultExtension(format);
    if (ext.empty()) continue;  // FF_BMP
    const auto parts = Split(GetFileFilterPattern(filter), ';');
    EXPECT_NE(std::find(parts.begin(), parts.end(), "*" + ext), parts.end())
        << filter << " " << GetFileFilterPattern(filter);
  }
}

TEST(FileTypesFilter, VideoGroupKeepsItsDotlessEntries) {
  const auto parts = Split(GetFileFilterPattern(FLT_VIDEO), ';');
  EXPECT_NE(std::find(parts.begin(), parts.end(), "*mp4"), parts.end());
  EXPECT_NE(std::find(parts.begin(), parts.end(), "*avi"), parts.end());
  EXPECT_NE(std::find(parts.begin(), parts.end(), "*.yuv"), parts.end());
  // ".jpe" is offered by the JPEG entries although it has no extension code.
  const auto jpeg = Split(GetFileFilterPattern(FLT_JPEG), ';');
  EXPECT_NE(std::find(jpeg.begin(), jpeg.end(), "*.jpe"), jpeg.end());
  EXPECT_EQ(GetFileFilterPattern(FLT_JPEG_GRAY), GetFileFilterPattern(FLT_JPEG));
}

// ---------------------------------------------------------------------------
// YCbCr layouts

namespace {

struct TLayoutWords {
  const char* sampling;
  const char* siting;  // "" for 4:4:4
};

constexpr TLayoutWords kLayoutWords[] = {{"444", ""},       {"422", "CosEven"}, {"422", "CosOdd"},
                                         {"422", "Center"}, {"420", "CosEven"}, {"420", "CosOdd"},
                                         {"420", "Center"}};
constexpr const char* kStandardWords[] = {"ITU601", "ITU709"};
constexpr const char* kRangeWords[] = {"0-255", "16-255", "16-235-240"};

}  // namespace

TEST(FileTypesYuv, ComposeAndDecomposeCoverTheLayoutsOnce) {
  std::set<std::int32_t> seen;
  for (std::int32_t standard = 0; standard < YUV_STD_COUNT; ++standard) {
    for (std::int32_t layout = 0; layout < YUV_LAYOUT_COUNT; ++layout) {
      for (std::int32_t range = 0; range < YUV_RANGE_COUNT; ++range) {
        const std::int32_t format = ComposeYuvFileFormat(standard, layout, range);
        ASSERT_TRUE(IsYuvFileFormat(format)) << standard << layout << range;
        EXPECT_TRUE(seen.insert(format).second);
        TYuvLayout parts;
        ASSERT_TRUE(DecomposeYuvFileFormat(format, parts));
        EXPECT_EQ(parts.standard, standard);
        EXPECT_EQ(parts.layout, layout);
        EXPECT_EQ(parts.range, range);
      }
    }
  }
  EXPECT_EQ(seen.size(), 42u);
  static_assert(ComposeYuvFileFormat(YUV_STD_BT601, YUV_LAYOUT_444, YUV_RANGE_0_255) == 53);
  static_assert(ComposeYuvFileFormat(YUV_STD_BT601, YUV_LAYOUT_420_COSITED_ODD, YUV_RANGE_16_235_240) == 70);
  static_assert(ComposeYuvFileFormat(YUV_STD_BT709, YUV_LAYOUT_444, YUV_RANGE_0_255) == 74);
  static_assert(ComposeYuvFileFormat(YUV_STD_BT709, YUV_LAYOUT_420_CENTRED, YUV_RANGE_16_235_240) == 94);
}

TEST(FileTypesYuv, PartsOutOfRangeComposeNothingAndOtherCodesDecomposeNothing) {
  const std::int32_t bad[][3] = {
      {-1, 0, 0}, {2, 0, 0}, {0, -1, 0}, {0, 7, 0}, {0, 0, -1}, {0, 0, 3}, {INT_MAX, INT_MAX, INT_MAX}};
  for (const auto& b : bad) EXPECT_EQ(ComposeYuvFileFormat(b[0], b[1], b[2]), 0);
  for (std::int32_t code : ProbeCodes()) {
    if (IsYuvFileFormat(code)) continue;
    TYuvLayout parts;
    parts.standard = 99;
    EXPECT_FALSE(DecomposeYuvFileFormat(code, parts)) << code;
    EXPECT_EQ(parts.standard, 99);
  }
}

TEST(FileTypesYuv, LayoutTextsAndFilterLabelsAreComposedFromTheirParts) {
  std::set<std::string> texts;
  for (std::int32_t format = FF_YCBCR_FIRST; format <= FF_YCBCR_LAST; ++format) {
    SCOPED_TRACE(format);
    TYuvLayout parts;
    ASSERT_TRUE(DecomposeYuvFileFormat(format, parts));
    std::string text;
    ASSERT_TRUE(GetFileFormatName(format, text));
    const auto words = Split(text, ' ');
    const TLayoutWords& layout = kLayoutWords[parts.layout];
    ASSERT_EQ(words.size(), parts.layout == YUV_LAYOUT_444 ? 5u : 6u) << text;
    EXPECT_EQ(words[0], "YCbCr");
    EXPECT_EQ(words[1], layout.sampling);
    EXPECT_EQ(words[2], kStandardWords[parts.standard]);
    EXPECT_EQ(words[3], "8bit");
    EXPECT_EQ(words[4], kRangeWords[parts.range]);
    if (parts.layout != YUV_LAYOUT_444) {
      EXPECT_EQ(words[5], layout.siting);
    }
    EXPECT_TRUE(texts.insert(text).second) << text;

    EXPECT_EQ(StreamName(format), text);
    const std::int32_t filter = FileFormatToFileFilter(format);
    EXPECT_EQ(GetFileFilterLabel(filter), text + " (.yuv)");
    EXPECT_EQ(GetFileFilterPattern(filter), "*.yuv");
    EXPECT_EQ(GetDefaultExtension(format), ".yuv");
  }
  EXPECT_EQ(FormatName(53), "YCbCr 444 ITU601 8bit 0-255");
  EXPECT_EQ(FormatName(58), "YCbCr 422 ITU601 8bit 16-235-240 CosEven");
  EXPECT_EQ(FormatName(94), "YCbCr 420 ITU709 8bit 16-235-240 Center");
  EXPECT_EQ(GetFileFilterLabel(37), "YCbCr 444 ITU601 8bit 0-255 (.yuv)");
  EXPECT_EQ(GetFileFilterLabel(54), "YCbCr 420 ITU601 8bit 16-235-240 CosOdd (.yuv)");
  EXPECT_EQ(GetFileFilterLabel(78), "YCbCr 420 ITU709 8bit 16-235-240 Center (.yuv)");
}

TEST(FileTypesYuv, BitsPerPixelFollowSampling) {
  struct {
    std::int32_t first, last, bits;
  } ranges[] = {{53, 55, 24}, {56, 64, 16}, {65, 73, 12}, {74, 76, 24}, {77, 85, 16}, {86, 94, 12}};
  for (const auto& r : ranges) {
    for (std::int32_t f = r.first; f <= r.last; ++f) EXPECT_EQ(GetYuvBitsPerPixel(f), r.bits) << f;
  }
  for (std::int32_t f : ProbeCodes()) {
    if (!IsYuvFileFormat(f)) {
      EXPECT_EQ(GetYuvBitsPerPixel(f), 0) << f;
    }
  }
}

TEST(FileTypesYuv, InformationCodesOfALayoutNameItsParts) {
  const char* samplingNames[] = {" 4:4:4 ", " 4:2:2 ", " 4:2:0 "};
  for (std::int32_t format = FF_YCBCR_FIRST; format <= FF_YCBCR_LAST; ++format) {
    SCOPED_TRACE(format);
    TYuvLayout parts;
    ASSERT_TRUE(DecomposeYuvFileFormat(format, parts));
    std::string name;
    ASSERT_TRUE(GetYuvSamplingName(parts.samplingCode, name));
    const std::string sampling = kLayoutWords[parts.layout].sampling;  // "420"
    EXPECT_EQ(name, samplingNames[sampling == "444" ? 0 : sampling == "422" ? 1 : 2]);
    EXPECT_TRUE(GetYuvRangeName(parts.rangeCode, name));
    EXPECT_TRUE(GetYuvSitingName(parts.sitingCode, name));
    if (parts.layout == YUV_LAYOUT_444) {
      EXPECT_EQ(parts.sitingCode, 2);  // all sites
    } else {
      const std::string siting = kLayoutWords[parts.layout].siting;
      EXPECT_EQ(name.find(siting == "CosEven"  ? "even"
                          : siting == "CosOdd" ? "odd"
                                               : "Centered") != std::string::npos,
                true)
          << name;
    }
    EXPECT_EQ(parts.standardCode, parts.standard == YUV_STD_BT601 ? 2 : 3);
    EXPECT_EQ(parts.samplingSitingCode, parts.layout + 1);
    EXPECT_EQ(parts.bitsPerPixel, GetYuvBitsPerPixel(format));
  }
  TYuvLayout studio;
  ASSERT_TRUE(DecomposeYuvFileFormat(58, studio));
  std::string range;
  ASSERT_TRUE(GetYuvRangeName(studio.rangeCode, range));
  EXPECT_EQ(range, " Luma[16-235] Chroma[16-240] ");
}

// ---------------------------------------------------------------------------
// Information texts

namespace {

using TInfoNameFn = bool (*)(std::int32_t, std::string&);

struct TInfoCase {
  const char* set;
  TInfoNameFn fn;
  std::int32_t first, last;  // the codes with texts
  std::int32_t code;         // a code to check word for word
  const char* text;
};

void PrintTo(const TInfoCase& c, std::ostream* os) { *os << c.set << " " << c.code; }

}  // namespace

class FileTypesInfo : public ::testing::TestWithParam<TInfoCase> {};

TEST_P(FileTypesInfo, KnownCodesWriteTheirTextOthersLeaveTheOutputAlone) {
  const TInfoCase& c = GetParam();
  std::string name;
  ASSERT_TRUE(c.fn(c.code, name));
  EXPECT_EQ(name, c.text);
  for (std::int32_t code : ProbeCodes()) {
    SCOPED_TRACE(code);
    name = "untouched";
    const bool known = c.fn(code, name);
    EXPECT_EQ(known, In(code, c.first, c.last));
    if (known) {
      EXPECT_FALSE(name.empty());
      EXPECT_NE(name, "untouched");
    } else {
      EXPECT_EQ(name, "untouched");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    FileTypesCodeSets, FileTypesInfo,
    ::testing::Values(TInfoCase{"range", GetYuvRangeName, 2, 4, 2, " Luma[0-255]  Chroma[0-255] "},
                      TInfoCase{"range", GetYuvRangeName, 2, 4, 3, " Luma[16-255] Chroma[16-255] "},
                      TInfoCase{"sampling", GetYuvSamplingName, 2, 4, 4, " 4:2:0 "},
                      TInfoCase{"siting", GetYuvSitingName, 2, 5, 2, " Cosited luma and chromas, all sites "},
                      TInfoCase{"siting", GetYuvSitingName, 2, 5, 5, " Centered chromas between luma"},
                      TInfoCase{"png", GetPngColorTypeName, 0, 6, 0, "No info"},
                      TInfoCase{"png", GetPngColorTypeName, 0, 6, 1, "No info"},
                      TInfoCase{"png", GetPngColorTypeName, 0, 6, 6, "RGB+A"},
                      TInfoCase{"jpeg", GetJpegColorSpaceName, 1, 6, 1, "Unknown"},
                      TInfoCase{"jpeg", GetJpegColorSpaceName, 1, 6, 6, "YCCK"},
                      TInfoCase{"tiff photometric", GetTiffPhotometricName, 0, 11, 0, "No info"},
                      TInfoCase{"tiff photometric", GetTiffPhotometricName, 0, 11, 11, "CIE Log2(L) (u',v')"},
                      TInfoCase{"tiff compression", GetTiffCompressionName, 0, 9, 1, "No info"},
                      TInfoCase{"tiff compression", GetTiffCompressionName, 0, 9, 9, "CCITT Fax 4"}));
