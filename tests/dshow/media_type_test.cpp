// Media types: the subtype and format-type tables, GUID text, the flat
// format record and its byte layout, caps conversions, capability searches
// and the element helpers on small real pipelines.

#include "io/dshow/media_type.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

using namespace DShowMgr;
using ZarnTypes::TMediaFormatRecord;
using ZarnTypes::TPixelFormat;

namespace {

// ---------------------------------------------------------------------------
// Byte helpers: fixtures are written and read at literal offsets.

void Put(std::vector<std::uint8_t>& bytes, std::size_t offset, int width, std::uint64_t value) {
  ASSERT_LE(offset + width, bytes.size());
  for (int i = 0; i < width; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t Get(const std::uint8_t* pBytes, std::size_t offset, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | pBytes[offset + i];
  return value;
}

std::uint64_t Get(const std::vector<std::uint8_t>& bytes, std::size_t offset, int width) {
  EXPECT_LE(offset + width, bytes.size());
  if (offset + width > bytes.size()) return ~std::uint64_t{0};
  return Get(bytes.data(), offset, width);
}

std::uint64_t RecordBytes(const TMediaFormatRecord& record, std::size_t offset, int width) {
  return Get(reinterpret_cast<const std::uint8_t*>(&record), offset, width);
}

// ---------------------------------------------------------------------------
// Tables.

struct TSubtypeCase {
  std::int32_t nPixelFormat;
  const char* pGuid;
};

TEST(MediaTypeTables, PixelFormatsMapToTheirVideoSubtypes) {
  const TSubtypeCase cases[] = {
      {0, "00000000-0000-0000-0000-000000000000"},   {27, "e436eb7d-524f-11ce-9f53-0020af0ba770"},
      {28, "e436eb7e-524f-11ce-9f53-0020af0ba770"},  {93, "56555941-0000-0010-8000-00aa00389b71"},
      {94, "32595559-0000-0010-8000-00aa00389b71"},  {95, "59565955-0000-0010-8000-00aa00389b71"},
      {102, "31313459-0000-0010-8000-00aa00389b71"}, {103, "50313459-0000-0010-8000-00aa00389b71"},
      {104, "31313259-0000-0010-8000-00aa00389b71"}, {105, "55595659-0000-0010-8000-00aa00389b71"},
      {106, "56595559-0000-0010-8000-00aa00389b71"},
  };
  for (const TSubtypeCase& c : cases) {
    TGuid subtype{0x12345678};
    EXPECT_TRUE(PixelFormatToSubtype(static_cast<TPixelFormat>(c.nPixelFormat), &subtype)) << c.nPixelFormat;
    EXPECT_EQ(GuidToString(subtype), c.pGuid) << c.nPixelFormat;
  }
}

TEST(MediaTypeTables, PixelFormatsWithoutSubtypeAreRefused) {
  for (std::int32_t nFormat : {-1, 12, 18, 22, 26, 29, 35, 44, 96, 101, 107, 1000}) {
    TGuid subtype = MEDIATYPE_Video;
    EXPECT_FALSE(PixelFormatToSubtype(static_cast<TPixelFormat>(nFormat), &subtype)) << nFormat;
    EXPECT_TRUE(subtype.IsNull()) << nFormat;
  }
}

TEST(MediaTypeTables, FormatTypesAndCodesMapBothWays) {
  const struct {
    std::int32_t nCode;
    const char* pGuid;
  } cases[] = {
      {1, "00000000-0000-0000-0000-000000000000"}, {2, "0f6417d6-c318-11d0-a43f-00a0c9223196"},
      {3, "05589f84-c356-11ce-bf01-00aa0055595a"}, {4, "e06d80e3-db46-11cf-b4d1-00805f6cbbea"},
      {5, "05589f83-c356-11ce-bf01-00aa0055595a"}, {6, "05589f82-c356-11ce-bf01-00aa0055595a"},
      {7, "05589f80-c356-11ce-bf01-00aa0055595a"}, {8, "f72a76a0-eb0a-11d0-ace4-0000c0cc16ba"},
      {9, "05589f81-c356-11ce-bf01-00aa0055595a"},
  };
  for (const auto& c : cases) {
    TGuid formatType;
    ASSERT_TRUE(CodeToFormatType(c.nCode, &formatType)) << c.nCode;
    EXPECT_EQ(GuidToString(formatType), c.pGuid) << c.nCode;
    EXPECT_EQ(FormatTypeToCode(formatType), c.nCode) << c.pGuid;
  }
}

TEST(MediaTypeTables, UnknownFormatTypesAndCodes) {
  EXPECT_EQ(FormatTypeToCode(MEDIATYPE_Video), 0);
  EXPECT_EQ(
      FormatTypeToCode(TGuid{0x05589f85, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}}),
      0);
  for (std::int32_t nCode : {0, 10, -1, 255}) {
    TGuid formatType = FORMAT_VideoInfo;
    EXPECT_FALSE(CodeToFormatType(nCode, &formatType)) << nCode;
    EXPECT_TRUE(formatType.IsNull()) << nCode;
  }
}

TEST(MediaTypeTables, GuidTextIsLowerCaseWithoutBraces) {
  const TGuid guid{0xdeadbeef, 0x0a0b, 0xf00d, {0x00, 0x01, 0xab, 0x03, 0x04, 0x05, 0x06, 0xff}};
  EXPECT_EQ(GuidToString(guid), "deadbeef-0a0b-f00d-0001-ab03040506ff");
  EXPECT_EQ(GuidToString(TGuid{1}), "00000001-0000-0000-0000-000000000000");
  EXPECT_EQ(GuidToString(MEDIATYPE_Audio), "73647561-0000-0010-8000-00aa00389b71");
  EXPECT_EQ(GuidToString(MEDIATYPE_Video), "73646976-0000-0010-8000-00aa00389b71");
}

// ---------------------------------------------------------------------------
// The record's layout: a value stored by the program and read back by
// later versions, so every offset is fixed.

TEST(MediaFormatRecord, FieldsSitAtFixedOffsets) {
  EXPECT_EQ(sizeof(TMediaFormatRecord), 208u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, majortype), 0u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, subtype), 16u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, bFixedSizeSamples), 32u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, bTemporalCompression), 36u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, lSampleSize), 40u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, formattype), 44u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, cbFormat), 60u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, nFormatCode), 64u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, dv), 72u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, vih.dwBitRate), 104u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, vih.AvgTimePerFrame), 112u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, vih.bmi), 120u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, vih.dwStartTimeCode), 156u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, vih.bSequenceHeader), 164u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, vih2.dwInterlaceFlags), 120u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, vih2.bmi), 144u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, vih2.dwStartTimeCode), 180u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, vih2.dwSequenceHeader), 200u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, wave.nSamplesPerSec), 76u);
  EXPECT_EQ(offsetof(TMediaFormatRecord, wave.cbSize), 88u);
}

TEST(MediaFormatRecord, FormatBlocksHaveTheirHeadersLayout) {
  EXPECT_EQ(offsetof(TVideoInfoHeader, AvgTimePerFrame), 40u);
  EXPECT_EQ(offsetof(TVideoInfoHeader, bmiHeader), 48u);
  EXPECT_EQ(sizeof(TVideoInfoHeader), 88u);
  EXPECT_EQ(offsetof(TVideoInfoHeader2, bmiHeader), 72u);
  EXPECT_EQ(sizeof(TVideoInfoHeader2), 112u);
  EXPECT_EQ(offsetof(TMpeg1VideoInfo, bSequenceHeader), 96u);
  EXPECT_EQ(offsetof(TMpeg2VideoInfo, dwStartTimeCode), 112u);
  EXPECT_EQ(offsetof(TMpeg2VideoInfo, dwSequenceHeader), 132u);
  EXPECT_EQ(sizeof(TWaveFormatEx), 18u);
  EXPECT_EQ(sizeof(TDvInfo), 32u);
}

// One field of a format block: where it lies in the block and where the
// record keeps it (kNotStored: the record has no place for it).
constexpr std::size_t kNotStored = ~std::size_t{0};
struct TField {
  std::size_t nBlockOffset;
  int nWidth;
  std::uint64_t nValue;
  std::size_t nRecordOffset;
};

struct TRecordCase {
  const char* pName;
  std::int32_t nCode;
  std::size_t nBlockSize;
  std::vector<TField> fields;
};

std::vector<TField> VideoInfoFields(std::size_t nBmi, std::size_t nRecordBmi) {
  std::vector<TField> fields = {
      {0, 4, 2, 72},         {8, 4, 640, 80}, {28, 4, 480, 100},
      {32, 4, 3000000, 104}, {36, 4, 7, 108}, {40, 8, 400000, 112},
  };
  const TField bmi[] = {
      {0, 4, 40, 0},  {4, 4, 640, 4},      {8, 4, 480, 8},    {12, 2, 1, 12},    {14, 2, 24, 14},
      {16, 4, 0, 16}, {20, 4, 921600, 20}, {24, 4, 2835, 24}, {28, 4, 2836, 28}, {32, 4, 256, 32},
  };
  for (const TField& f : bmi)
    fields.push_back({nBmi + f.nBlockOffset, f.nWidth, f.nValue, nRecordBmi + f.nRecordOffset});
  fields.push_back({nBmi + 36, 4, 99, kNotStored});  // the important colours
  return fields;
}

std::vector<TRecordCase> RecordCases() {
  std::vector<TRecordCase> cases;
  // DV: the eight words.
  TRecordCase dv{"dv", 3, 32, {}};
  for (std::size_t i = 0; i < 8; ++i) dv.fields.push_back({i * 4, 4, 0x11110000u + i, 72 + i * 4});
  cases.push_back(dv);

  cases.push_back({"video info", 7, 88, VideoInfoFields(48, 120)});

  TRecordCase mpeg1{"mpeg-1 video", 6, 108, VideoInfoFields(48, 120)};
  mpeg1.fields.push_back({88, 4, 0x00abcdef, 156});
  mpeg1.fields.push_back({92, 4, 12, 160});
  mpeg1.fields.push_back({96, 4, 0xb3010000, 164});  // the first four sequence-header bytes
  mpeg1.fields.push_back({100, 4, 0x12345678, kNotStored});
  cases.push_back(mpeg1);

  std::vector<TField> vih2 = {
      {4, 4, 16, 76},           {24, 4, 576, 96}, {32, 4, 8000000, 104},    {40, 8, 333667, 112},
      {48, 4, 0x81, 120},       {52, 4, 1, 124},  {56, 4, 16, 128},         {60, 4, 9, 132},
      {64, 4, 0x80, 136},       {68, 4, 5, 140},  {72, 4, 40, 144},         {76, 4, 720, 148},
      {80, 4, 576, 152},        {86, 2, 16, 158}, {88, 4, 0x32595559, 160}, {104, 4, 3, 176},
      {108, 4, 77, kNotStored},
  };
  cases.push_back({"video info 2", 8, 112, vih2});

  TRecordCase mpeg2{"mpeg-2 video", 4, 144, vih2};
  const TField mpeg2Fields[] = {
      {112, 4, 0x00010203, 180},
      {116, 4, 12, 184},
      {120, 4, 4, 188},
      {124, 4, 8, 192},
      {128, 4, 2, 196},
      {132, 4, 0xb3010000, 200},
      {136, 4, 0x2d01e002, kNotStored},
  };
  mpeg2.fields.insert(mpeg2.fields.end(), std::begin(mpeg2Fields), std::end(mpeg2Fields));
  cases.push_back(mpeg2);

  cases.push_back({"wave format",
                   9,
                   20,
                   {{0, 2, 1, 72},
                    {2, 2, 2, 74},
                    {4, 4, 48000, 76},
                    {8, 4, 192000, 80},
                    {12, 2, 4, 84},
                    {14, 2, 16, 86},
                    {16, 2, 2, 88},
                    {18, 2, 0xbeef, kNotStored}}});
  return cases;
}

TMediaType TypeOf(const TRecordCase& c) {
  TMediaType type;
  type.majortype = c.nCode == 9 ? MEDIATYPE_Audio : MEDIATYPE_Video;
  type.subtype = c.nCode == 9 ? MEDIASUBTYPE_PCM : MEDIASUBTYPE_YUY2;
  type.bFixedSizeSamples = true;
  type.bTemporalCompression = c.nCode == 3;
  type.lSampleSize = 0x01020304;
  EXPECT_TRUE(CodeToFormatType(c.nCode, &type.formattype));
  type.format.assign(c.nBlockSize, 0);
  for (const TField& f : c.fields) Put(type.format, f.nBlockOffset, f.nWidth, f.nValue);
  return type;
}

TEST(MediaFormatRecord, EachFormatCodeKeepsItsFieldsAtTheirOffsets) {
  for (const TRecordCase& c : RecordCases()) {
    SCOPED_TRACE(c.pName);
    const TMediaType type = TypeOf(c);
    TMediaFormatRecord record;
    ASSERT_TRUE(MediaTypeToRecord(type, &record));
    EXPECT_EQ(record.nFormatCode, c.nCode);
    EXPECT_EQ(RecordBytes(record, 64, 4), static_cast<std::uint64_t>(c.nCode));
    EXPECT_EQ(RecordBytes(record, 60, 4), c.nBlockSize);
    EXPECT_EQ(RecordBytes(record, 40, 4), 0x01020304u);
    EXPECT_EQ(RecordBytes(record, 32, 4), 1u);
    EXPECT_EQ(RecordBytes(record, 36, 4), c.nCode == 3 ? 1u : 0u);
    EXPECT_EQ(GuidToString(record.majortype), GuidToString(type.majortype));
    // The GUIDs are stored as their 16 bytes, first part little-endian.
    EXPECT_EQ(RecordBytes(record, 0, 4), c.nCode == 9 ? 0x73647561u : 0x73646976u);
    EXPECT_EQ(RecordBytes(record, 16, 4), c.nCode == 9 ? 0x00000001u : 0x32595559u);
    EXPECT_EQ(RecordBytes(record, 24, 8), 0x719b3800aa000080u);
    EXPECT_EQ(GuidToString(record.formattype), GuidToString(type.formattype));
    for (const TField& f : c.fields) {
      if (f.nRecordOffset == kNotStored) continue;
      EXPECT_EQ(RecordBytes(record, f.nRecordOffset, f.nWidth), f.nValue)
          << "block offset " << f.nBlockOffset;
    }
  }
}

TEST(MediaFormatRecord, RecordsComeBackIntoAnExistingBlock) {
  for (const TRecordCase& c : RecordCases()) {
    SCOPED_TRACE(c.pName);
    const TMediaType original = TypeOf(c);
    TMediaFormatRecord record;
    ASSERT_TRUE(MediaTypeToRecord(original, &record));

    TMediaType copy;
    copy.formattype = FORMAT_None;
    copy.format.assign(c.nBlockSize, 0);
    ASSERT_TRUE(RecordToMediaType(record, &copy));
    EXPECT_EQ(copy.majortype, original.majortype);
    EXPECT_EQ(copy.subtype, original.subtype);
    EXPECT_EQ(copy.bFixedSizeSamples, original.bFixedSizeSamples);
    EXPECT_EQ(copy.bTemporalCompression, original.bTemporalCompression);
    EXPECT_EQ(copy.lSampleSize, original.lSampleSize);
    EXPECT_EQ(GuidToString(copy.formattype), GuidToString(original.formattype));
    ASSERT_EQ(copy.format.size(), c.nBlockSize);
    for (const TField& f : c.fields) {
      const std::uint64_t nExpected = f.nRecordOffset == kNotStored ? 0 : f.nValue;
      EXPECT_EQ(Get(copy.format, f.nBlockOffset, f.nWidth), nExpected) << "block offset " << f.nBlockOffset;
    }
  }
}

TEST(MediaFormatRecord, NoBlockIsMadeForAMediaTypeWithoutOne) {
  const TRecordCase c = RecordCases()[1];  // video info
  TMediaFormatRecord record;
  ASSERT_TRUE(MediaTypeToRecord(TypeOf(c), &record));
  TMediaType copy;
  ASSERT_TRUE(RecordToMediaType(record, &copy));
  EXPECT_TRUE(copy.format.empty());
  EXPECT_EQ(copy.formattype, FORMAT_VideoInfo);
  EXPECT_EQ(copy.subtype, MEDIASUBTYPE_YUY2);

  // A larger block keeps its size and the bytes beyond the stored fields.
  TMediaType larger;
  larger.format.assign(200, 0x5a);
  ASSERT_TRUE(RecordToMediaType(record, &larger));
  ASSERT_EQ(larger.format.size(), 200u);
  EXPECT_EQ(Get(larger.format, 52, 4), 640u);
  EXPECT_EQ(larger.format[88], 0x5a);
  EXPECT_EQ(larger.format[199], 0x5a);
}

TEST(MediaFormatRecord, TypesWithoutBlockOrWithOtherFormatsKeepOnlyTheFixedFields) {
  TMediaType type;
  type.majortype = MEDIATYPE_Video;
  type.subtype = MEDIASUBTYPE_RGB24;
  type.formattype = TGuid{0x01020304, 5, 6, {7, 8, 9, 10, 11, 12, 13, 14}};
  type.format.assign(40, 0x77);
  TMediaFormatRecord record;
  ASSERT_TRUE(MediaTypeToRecord(type, &record));
  EXPECT_EQ(record.nFormatCode, 0);
  EXPECT_EQ(record.cbFormat, 40u);
  for (std::size_t offset = 72; offset < 208; offset += 8)
    EXPECT_EQ(RecordBytes(record, offset, 8), 0u) << offset;

  // An unknown format type comes back as it was stored; the block is left alone.
  TMediaType copy;
  copy.format.assign(40, 0);
  ASSERT_TRUE(RecordToMediaType(record, &copy));
  EXPECT_EQ(GuidToString(copy.formattype), "01020304-0005-0006-0708-090a0b0c0d0e");
  EXPECT_EQ(copy.format, std::vector<std::uint8_t>(40, 0));

  // A video-info type without a block: code 7, no format fields.
  TMediaType bare;
  bare.majortype = MEDIATYPE_Video;
  bare.formattype = FORMAT_VideoInfo;
  ASSERT_TRUE(MediaTypeToRecord(bare, &record));
  EXPECT_EQ(record.nFormatCode, 7);
  EXPECT_EQ(record.cbFormat, 0u);
  EXPECT_EQ(record.vih.bmi.biWidth, 0);
}

TEST(MediaFormatRecord, NullMajorTypeIsRefusedAndNothingChanges) {
  TMediaType type = TypeOf(RecordCases()[1]);
  type.majortype = GUID_NULL;
  TMediaFormatRecord record;
  record.lSampleSize = 1234;
  EXPECT_FALSE(MediaTypeToRecord(type, &record));
  EXPECT_EQ(record.lSampleSize, 1234u);
  EXPECT_FALSE(MediaTypeToRecord(TypeOf(RecordCases()[1]), nullptr));

  TMediaFormatRecord empty;
  TMediaType target = TypeOf(RecordCases()[1]);
  const TMediaType before = target;
  EXPECT_FALSE(RecordToMediaType(empty, &target));
  EXPECT_EQ(target.subtype, before.subtype);
  EXPECT_EQ(target.format, before.format);
}

// Blocks shorter than their format type needs are refused rather than read
// or written beyond their end.
TEST(MediaFormatRecord, ShortBlocksAreRefused) {
  const struct {
    TGuid formatType;
    std::size_t nSize;
  } cases[] = {{FORMAT_DvInfo, 31},      {FORMAT_VideoInfo, 83},   {FORMAT_MPEGVideo, 95},
               {FORMAT_VideoInfo2, 107}, {FORMAT_MPEG2Video, 131}, {FORMAT_WaveFormatEx, 15}};
  for (const auto& c : cases) {
    TMediaType type;
    type.majortype = MEDIATYPE_Video;
    type.formattype = c.formatType;
    type.format.assign(c.nSize, 1);
    TMediaFormatRecord record;
    record.lSampleSize = 55;
    EXPECT_FALSE(MediaTypeToRecord(type, &record)) << c.nSize;
    EXPECT_EQ(record.lSampleSize, 55u);

    // Filled from a full block, the record does not fit the short block.
    type.format.assign(c.nSize + 1, 1);
    ASSERT_TRUE(MediaTypeToRecord(type, &record)) << c.nSize;
    TMediaType target;
    target.format.assign(c.nSize, 9);
    EXPECT_FALSE(RecordToMediaType(record, &target)) << c.nSize;
    EXPECT_EQ(target.format, std::vector<std::uint8_t>(c.nSize, 9));
    EXPECT_TRUE(target.majortype.IsNull());
  }
}

TEST(MediaFormatRecord, ShortBlocksWithOptionalTailsAreRead) {
  // A plain PCM header has no extra-size field.
  TMediaType wave;
  wave.majortype = MEDIATYPE_Audio;
  wave.formattype = FORMAT_WaveFormatEx;
  wave.format.assign(16, 0);
  Put(wave.format, 4, 4, 22050);
  TMediaFormatRecord record;
  ASSERT_TRUE(MediaTypeToRecord(wave, &record));
  EXPECT_EQ(record.wave.nSamplesPerSec, 22050u);
  EXPECT_EQ(record.wave.cbSize, 0);

  // An MPEG-1 header that claims more sequence header than it holds: only
  // the bytes present are kept.
  TMediaType mpeg;
  mpeg.majortype = MEDIATYPE_Video;
  mpeg.formattype = FORMAT_MPEGVideo;
  mpeg.format.assign(98, 0);
  Put(mpeg.format, 92, 4, 1000);
  Put(mpeg.format, 96, 2, 0xb300);
  ASSERT_TRUE(MediaTypeToRecord(mpeg, &record));
  EXPECT_EQ(record.vih.cbSequenceHeader, 1000u);
  EXPECT_EQ(RecordBytes(record, 164, 4), 0xb300u);

  TMediaType target;
  target.format.assign(98, 0);
  record.vih.bSequenceHeader[2] = 0xee;
  ASSERT_TRUE(RecordToMediaType(record, &target));
  EXPECT_EQ(Get(target.format, 96, 2), 0xb300u);
}

// ---------------------------------------------------------------------------
// GStreamer caps.

class MediaTypeCaps : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { gst_init(nullptr, nullptr); }

  static bool Convert(const char* pCaps, TMediaType* pType) {
    GstCaps* pParsed = gst_caps_from_string(pCaps);
    EXPECT_NE(pParsed, nullptr) << pCaps;
    if (!pParsed) return false;
    const bool bDone = CapsToMediaType(pParsed, pType);
    gst_caps_unref(pParsed);
    return bDone;
  }
  static TVideoInfoHeader VideoInfo(const TMediaType& type) {
    TVideoInfoHeader vih;
    EXPECT_EQ(type.format.size(), sizeof(vih));
    if (type.format.size() == sizeof(vih)) std::memcpy(&vih, type.format.data(), sizeof(vih));
    return vih;
  }
};

TEST_F(MediaTypeCaps, RawVideoBecomesAVideoInfoType) {
  const struct {
    const char* pCaps;
    const char* pSubtype;
    int nBitCount;
    std::uint32_t nCompression;
    std::uint32_t nImageSize;
    std::int64_t nFrameTime;
  } cases[] = {
      {"video/x-raw,format=BGR,width=320,height=240,framerate=25/1", "e436eb7d-524f-11ce-9f53-0020af0ba770",
       24, 0, 230400, 400000},
      {"video/x-raw,format=BGRx,width=64,height=48,framerate=30000/1001",
       "e436eb7e-524f-11ce-9f53-0020af0ba770", 32, 0, 12288, 333666},
      {"video/x-raw,format=YUY2,width=64,height=48,framerate=50/1", "32595559-0000-0010-8000-00aa00389b71",
       16, 0x32595559, 6144, 200000},
      {"video/x-raw,format=UYVY,width=64,height=48,framerate=25/1", "59565955-0000-0010-8000-00aa00389b71",
       16, 0x59565955, 6144, 400000},
      {"video/x-raw,format=YVYU,width=64,height=48,framerate=25/1", "55595659-0000-0010-8000-00aa00389b71",
       16, 0x55595659, 6144, 400000},
      {"video/x-raw,format=VUYA,width=64,height=48,framerate=25/1", "56555941-0000-0010-8000-00aa00389b71",
       32, 0x56555941, 12288, 400000},
      {"video/x-raw,format=I420,width=64,height=48,framerate=25/1", "30323449-0000-0010-8000-00aa00389b71",
       12, 0x30323449, 4608, 400000},
      {"video/x-raw,format=BGR,width=3,height=2", "e436eb7d-524f-11ce-9f53-0020af0ba770", 24, 0, 24, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pCaps);
    TMediaType type;
    ASSERT_TRUE(Convert(c.pCaps, &type));
    EXPECT_EQ(type.majortype, MEDIATYPE_Video);
    EXPECT_EQ(GuidToString(type.subtype), c.pSubtype);
    EXPECT_EQ(type.formattype, FORMAT_VideoInfo);
    EXPECT_TRUE(type.bFixedSizeSamples);
    EXPECT_FALSE(type.bTemporalCompression);
    EXPECT_EQ(type.lSampleSize, c.nImageSize);
    const TVideoInfoHeader vih = VideoInfo(type);
    EXPECT_EQ(vih.AvgTimePerFrame, c.nFrameTime);
    EXPECT_EQ(vih.bmiHeader.fields.biSize, 40u);
    EXPECT_EQ(vih.bmiHeader.fields.biPlanes, 1);
    EXPECT_EQ(vih.bmiHeader.fields.biBitCount, c.nBitCount);
    EXPECT_EQ(vih.bmiHeader.fields.biCompression, c.nCompression);
    EXPECT_EQ(vih.bmiHeader.fields.biSizeImage, c.nImageSize);
    EXPECT_EQ(vih.rcSource.right, vih.bmiHeader.fields.biWidth);
    EXPECT_EQ(vih.rcSource.bottom, vih.bmiHeader.fields.biHeight);
  }
  TMediaType type;
  ASSERT_TRUE(Convert("video/x-raw,format=BGR,width=320,height=240,framerate=25/1", &type));
  EXPECT_EQ(VideoInfo(type).bmiHeader.fields.biWidth, 320);
  EXPECT_EQ(VideoInfo(type).bmiHeader.fields.biHeight, 240);
}

TEST_F(MediaTypeCaps, RawAudioBecomesAWaveFormatType) {
  const struct {
    const char* pCaps;
    const char* pSubtype;
    std::uint16_t wTag;
    std::uint16_t nChannels;
    std::uint32_t nRate;
    std::uint16_t nBlockAlign;
    std::uint16_t nBits;
  } cases[] = {
      {"audio/x-raw,format=S16LE,layout=interleaved,rate=48000,channels=2",
       "00000001-0000-0010-8000-00aa00389b71", 1, 2, 48000, 4, 16},
      {"audio/x-raw,format=U8,rate=8000,channels=1", "00000001-0000-0010-8000-00aa00389b71", 1, 1, 8000, 1,
       8},
      {"audio/x-raw,format=S24LE,rate=96000,channels=6", "00000001-0000-0010-8000-00aa00389b71", 1, 6, 96000,
       18, 24},
      {"audio/x-raw,format=F32LE,layout=interleaved,rate=44100,channels=1",
       "00000003-0000-0010-8000-00aa00389b71", 3, 1, 44100, 4, 32},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pCaps);
    TMediaType type;
    ASSERT_TRUE(Convert(c.pCaps, &type));
    EXPECT_EQ(type.majortype, MEDIATYPE_Audio);
    EXPECT_EQ(GuidToString(type.subtype), c.pSubtype);
    EXPECT_EQ(type.formattype, FORMAT_WaveFormatEx);
    EXPECT_EQ(type.lSampleSize, c.nBlockAlign);
    ASSERT_EQ(type.format.size(), 18u);
    EXPECT_EQ(Get(type.format, 0, 2), c.wTag);
    EXPECT_EQ(Get(type.format, 2, 2), c.nChannels);
    EXPECT_EQ(Get(type.format, 4, 4), c.nRate);
    EXPECT_EQ(Get(type.format, 8, 4), std::uint64_t{c.nRate} * c.nBlockAlign);
    EXPECT_EQ(Get(type.format, 12, 2), c.nBlockAlign);
    EXPECT_EQ(Get(type.format, 14, 2), c.nBits);
    EXPECT_EQ(Get(type.format, 16, 2), 0u);
  }
}

TEST_F(MediaTypeCaps, OtherCapsAreRefused) {
  for (const char* pCaps : {
           "video/x-raw,format=RGB,width=64,height=48",  // red first: not the RGB rows of a bitmap
           "video/x-raw,format=BGR,height=48",
           "video/x-raw,width=64,height=48",
           "video/x-raw,format=BGRx,width=40000,height=40000",  // a picture of more than 4 GiB
           "video/x-h264,width=64,height=48,stream-format=byte-stream",
           "audio/x-raw,format=S16BE,rate=48000,channels=2",
           "audio/x-raw,format=S16LE,layout=non-interleaved,rate=48000,channels=2",
           "audio/x-raw,format=S16LE,channels=2",
           "audio/mpeg,mpegversion=1,layer=3,rate=44100,channels=2",
           "ANY",
           "EMPTY",
       }) {
    TMediaType type;
    type.lSampleSize = 77;
    EXPECT_FALSE(Convert(pCaps, &type)) << pCaps;
    EXPECT_EQ(type.lSampleSize, 77u) << pCaps;
  }
  TMediaType type;
  EXPECT_FALSE(CapsToMediaType(nullptr, &type));
}

TEST_F(MediaTypeCaps, RangesAreFixedFirst) {
  TMediaType type;
  ASSERT_TRUE(
      Convert("video/x-raw,format={ YUY2, BGR },width=[ 64, 1920 ],height=[ 48, 1080 ],"
              "framerate=[ 1/1, 30/1 ]",
              &type));
  EXPECT_EQ(type.subtype, MEDIASUBTYPE_YUY2);
  const TVideoInfoHeader vih = VideoInfo(type);
  EXPECT_GE(vih.bmiHeader.fields.biWidth, 64);
  EXPECT_LE(vih.bmiHeader.fields.biWidth, 1920);
  EXPECT_EQ(type.lSampleSize,
            static_cast<std::uint32_t>(vih.bmiHeader.fields.biWidth * 2 * vih.bmiHeader.fields.biHeight));
}

TEST_F(MediaTypeCaps, MediaTypesComeBackAsTheSameCaps) {
  for (const char* pText : {"video/x-raw,format=BGR,width=320,height=240,framerate=25/1",
                            "video/x-raw,format=YUY2,width=720,height=576,framerate=25/1",
                            "video/x-raw,format=BGRx,width=64,height=48",
                            "audio/x-raw,format=S16LE,layout=interleaved,rate=48000,channels=2",
                            "audio/x-raw,format=F32LE,layout=interleaved,rate=44100,channels=1"}) {
    SCOPED_TRACE(pText);
    GstCaps* pCaps = gst_caps_from_string(pText);
    TMediaType type;
    ASSERT_TRUE(CapsToMediaType(pCaps, &type));
    GstCaps* pBack = MediaTypeToCaps(type);
    ASSERT_NE(pBack, nullptr);
    gchar* pBackText = gst_caps_to_string(pBack);
    EXPECT_TRUE(gst_caps_is_equal(pCaps, pBack)) << pBackText;
    g_free(pBackText);
    gst_caps_unref(pBack);
    gst_caps_unref(pCaps);
  }
}

TEST_F(MediaTypeCaps, MediaTypesWithoutRawCounterpartGiveNoCaps) {
  TMediaType type;
  ASSERT_TRUE(Convert("video/x-raw,format=YUY2,width=64,height=48,framerate=25/1", &type));

  TMediaType yuyv = type;  // stored like YUY2
  yuyv.subtype = MEDIASUBTYPE_YUYV;
  GstCaps* pCaps = MediaTypeToCaps(yuyv);
  ASSERT_NE(pCaps, nullptr);
  EXPECT_STREQ(gst_structure_get_string(gst_caps_get_structure(pCaps, 0), "format"), "YUY2");
  gst_caps_unref(pCaps);

  TMediaType y411 = type;
  y411.subtype = MEDIASUBTYPE_Y411;
  EXPECT_EQ(MediaTypeToCaps(y411), nullptr);
  TMediaType shortBlock = type;
  shortBlock.format.resize(60);
  EXPECT_EQ(MediaTypeToCaps(shortBlock), nullptr);
  TMediaType vih2 = type;
  vih2.formattype = FORMAT_VideoInfo2;
  EXPECT_EQ(MediaTypeToCaps(vih2), nullptr);
  TMediaType zeroWidth = type;
  Put(zeroWidth.format, 52, 4, 0);
  EXPECT_EQ(MediaTypeToCaps(zeroWidth), nullptr);
  TMediaType noMajor = type;
  noMajor.majortype = GUID_NULL;
  EXPECT_EQ(MediaTypeToCaps(noMajor), nullptr);

  TMediaType audio;
  ASSERT_TRUE(Convert("audio/x-raw,format=S16LE,rate=48000,channels=2", &audio));
  Put(audio.format, 14, 2, 12);  // 12-bit samples
  EXPECT_EQ(MediaTypeToCaps(audio), nullptr);
}

// ---------------------------------------------------------------------------
// Capability searches.

TMediaType MakeType(const TGuid& subtype, const TGuid& formatType, std::size_t nBlock,
                    std::uint32_t nSampleSize) {
  TMediaType type;
  type.majortype = subtype == MEDIASUBTYPE_PCM ? MEDIATYPE_Audio : MEDIATYPE_Video;
  type.subtype = subtype;
  type.formattype = formatType;
  type.format.assign(nBlock, 0);
  type.lSampleSize = nSampleSize;
  return type;
}

TEST(MediaTypeCapabilities, SearchesOverAListOfTypes) {
  const std::vector<TMediaType> caps = {
      MakeType(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 88, 1),
      MakeType(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 88, 2),
      MakeType(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo2, 112, 3),
      MakeType(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo2, 112, 4),
      MakeType(MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, 18, 5),
  };
  TMediaType found;
  ASSERT_TRUE(FindStreamCapsBySubtype(caps, &found, MEDIASUBTYPE_YUY2));
  EXPECT_EQ(found.lSampleSize, 2u);
  ASSERT_TRUE(FindStreamCapsBySubtype(caps, &found, MEDIASUBTYPE_PCM));
  EXPECT_EQ(found.lSampleSize, 5u);
  found.lSampleSize = 99;
  EXPECT_FALSE(FindStreamCapsBySubtype(caps, &found, MEDIASUBTYPE_AYUV));
  EXPECT_EQ(found.lSampleSize, 99u);
  EXPECT_FALSE(FindStreamCapsBySubtype({}, &found, MEDIASUBTYPE_YUY2));

  ASSERT_TRUE(FindStreamCaps(caps, MakeType(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo2, 112, 0), &found));
  EXPECT_EQ(found.lSampleSize, 3u);
  ASSERT_TRUE(FindStreamCaps(caps, MakeType(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 88, 0), &found));
  EXPECT_EQ(found.lSampleSize, 1u);
  // Each of the four compared properties must match.
  EXPECT_FALSE(FindStreamCaps(caps, MakeType(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo2, 120, 0), &found));
  EXPECT_FALSE(FindStreamCaps(caps, MakeType(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo2, 112, 0), &found));
  EXPECT_FALSE(FindStreamCaps(caps, MakeType(MEDIASUBTYPE_UYVY, FORMAT_VideoInfo, 88, 0), &found));
  TMediaType audioMajor = MakeType(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 88, 0);
  audioMajor.majortype = MEDIATYPE_Audio;
  EXPECT_FALSE(FindStreamCaps(caps, audioMajor, &found));
  EXPECT_EQ(found.lSampleSize, 1u);
}

TEST_F(MediaTypeCaps, SearchesOverADevicesCaps) {
  GstCaps* pCaps = gst_caps_from_string(
      "video/x-h264,width=1280,height=720,framerate=30/1; "
      "video/x-raw,format=BGR,width=320,height=240,framerate=25/1; "
      "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1; "
      "video/x-raw,format=YUY2,width=320,height=240,framerate=25/1; "
      "audio/x-raw,format=S16LE,rate=48000,channels=2");
  ASSERT_NE(pCaps, nullptr);
  TMediaType found;
  ASSERT_TRUE(FindStreamCapsBySubtype(pCaps, &found, MEDIASUBTYPE_YUY2));
  EXPECT_EQ(VideoInfo(found).bmiHeader.fields.biWidth, 640);
  ASSERT_TRUE(FindStreamCapsBySubtype(pCaps, &found, MEDIASUBTYPE_PCM));
  EXPECT_EQ(found.majortype, MEDIATYPE_Audio);
  EXPECT_FALSE(FindStreamCapsBySubtype(pCaps, &found, MEDIASUBTYPE_UYVY));

  TMediaType wanted;
  ASSERT_TRUE(Convert("video/x-raw,format=BGR,width=16,height=16", &wanted));
  ASSERT_TRUE(FindStreamCaps(pCaps, wanted, &found));
  EXPECT_EQ(VideoInfo(found).bmiHeader.fields.biWidth, 320);
  wanted.format.push_back(0);
  EXPECT_FALSE(FindStreamCaps(pCaps, wanted, &found));
  EXPECT_FALSE(FindStreamCaps(nullptr, wanted, &found));
  gst_caps_unref(pCaps);
}

// ---------------------------------------------------------------------------
// Element helpers on real pipelines.

class MediaTypePipeline : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { gst_init(nullptr, nullptr); }
  void TearDown() override {
    if (m_pPipeline) {
      gst_element_set_state(m_pPipeline, GST_STATE_NULL);
      gst_object_unref(m_pPipeline);
    }
  }
  GstBin* Launch(const char* pDescription, bool bPreroll) {
    GError* pError = nullptr;
    m_pPipeline = gst_parse_launch(pDescription, &pError);
    if (m_pPipeline) gst_object_ref_sink(m_pPipeline);
    EXPECT_EQ(pError, nullptr) << (pError ? pError->message : "");
    if (pError) g_error_free(pError);
    if (m_pPipeline && bPreroll) {
      gst_element_set_state(m_pPipeline, GST_STATE_PAUSED);
      EXPECT_EQ(gst_element_get_state(m_pPipeline, nullptr, nullptr, 10 * GST_SECOND),
                GST_STATE_CHANGE_SUCCESS);
    }
    return GST_BIN(m_pPipeline);
  }
  GstElement* Child(const char* pName) {
    GstElement* pElement = gst_bin_get_by_name(GST_BIN(m_pPipeline), pName);
    EXPECT_NE(pElement, nullptr) << pName;
    if (pElement) gst_object_unref(pElement);  // the pipeline keeps it
    return pElement;
  }
  static std::string NameOf(GstElement* pElement) {
    if (!pElement) return "(none)";
    gchar* pName = gst_element_get_name(pElement);
    std::string name = pName;
    g_free(pName);
    gst_object_unref(pElement);
    return name;
  }

  GstElement* m_pPipeline = nullptr;
};

constexpr const char* kGraph =
    "videotestsrc name=vsrc ! video/x-raw,width=64,height=48 ! tee name=vtee ! queue ! fakesink name=vsink0 "
    "vtee. ! queue ! identity name=vid ! fakesink name=vsink1 "
    "audiotestsrc name=asrc1 ! audio/x-raw,rate=8000 ! tee name=alone ! queue ! fakesink name=asink0 "
    "audiotestsrc name=asrc2 ! audio/x-raw,rate=8000 ! tee name=atee ! queue ! fakesink name=asink1 "
    "atee. ! queue ! fakesink name=asink2";

TEST_F(MediaTypePipeline, RenderersAndTeesAreFoundByTheirNegotiatedCaps) {
  GstBin* pBin = Launch(kGraph, true);
  ASSERT_NE(pBin, nullptr);
  const std::string renderer = NameOf(FindVideoRenderer(pBin));
  EXPECT_TRUE(renderer == "vsink0" || renderer == "vsink1") << renderer;
  EXPECT_EQ(NameOf(FindAudioSmartTee(pBin)), "atee");
  EXPECT_EQ(NameOf(FindFilterByClsid(pBin, "identity")), "vid");
  EXPECT_EQ(FindFilterByClsid(pBin, "xvimagesink"), nullptr);
  EXPECT_EQ(FindFilterByClsid(pBin, nullptr), nullptr);
}

TEST_F(MediaTypePipeline, NothingIsARendererBeforeCapsAreNegotiated) {
  GstBin* pBin = Launch(kGraph, false);
  ASSERT_NE(pBin, nullptr);
  EXPECT_EQ(FindVideoRenderer(pBin), nullptr);
  EXPECT_EQ(FindAudioSmartTee(pBin), nullptr);
  EXPECT_EQ(FindVideoRenderer(nullptr), nullptr);
}

TEST_F(MediaTypePipeline, AudioOnlySinksAreNotVideoRenderers) {
  GstBin* pBin = Launch(
      "audiotestsrc ! audio/x-raw,rate=8000 ! fakesink name=asink "
      "videotestsrc ! video/x-raw,width=16,height=16 ! tee name=t ! fakesink name=vsink",
      true);
  ASSERT_NE(pBin, nullptr);
  EXPECT_EQ(NameOf(FindVideoRenderer(pBin)), "vsink");
  EXPECT_EQ(FindAudioSmartTee(pBin), nullptr);  // a video tee with one branch
}

TEST_F(MediaTypePipeline, FiltersAreSearchedInTheOrderTheyWereAdded) {
  m_pPipeline = GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("graph")));
  GstBin* pBin = GST_BIN(m_pPipeline);
  for (const char* pName : {"second", "first", "third"}) {
    GstElement* pElement =
        gst_element_factory_make(std::string(pName) == "third" ? "queue" : "identity", pName);
    ASSERT_NE(pElement, nullptr);
    gst_bin_add(pBin, pElement);
  }
  EXPECT_EQ(NameOf(FindFilterByClsid(pBin, "identity")), "second");
  EXPECT_EQ(NameOf(FindFilterByClsid(pBin, "queue")), "third");
}

TEST_F(MediaTypePipeline, PinsAreCountedAndFoundByDirection) {
  Launch(kGraph, false);
  ASSERT_NE(m_pPipeline, nullptr);
  const struct {
    const char* pName;
    int nInputs;
    int nOutputs;
  } cases[] = {{"vsrc", 0, 1}, {"vtee", 1, 2}, {"alone", 1, 1}, {"vsink0", 1, 0}, {"vid", 1, 1}};
  for (const auto& c : cases) {
    int nInputs = -1;
    int nOutputs = -1;
    ASSERT_TRUE(CountPins(Child(c.pName), &nInputs, &nOutputs)) << c.pName;
    EXPECT_EQ(nInputs, c.nInputs) << c.pName;
    EXPECT_EQ(nOutputs, c.nOutputs) << c.pName;
  }
  EXPECT_FALSE(CountPins(nullptr, nullptr, nullptr));

  GstPad* pPad = nullptr;
  ASSERT_TRUE(GetPin(Child("vtee"), PINDIR_OUTPUT, &pPad));
  EXPECT_STREQ(GST_PAD_NAME(pPad), "src_0");
  EXPECT_EQ(GST_PAD_DIRECTION(pPad), GST_PAD_SRC);
  gst_object_unref(pPad);
  ASSERT_TRUE(GetInputPin(Child("vsink0"), &pPad));
  EXPECT_EQ(GST_PAD_DIRECTION(pPad), GST_PAD_SINK);
  gst_object_unref(pPad);

  pPad = reinterpret_cast<GstPad*>(0x1);
  EXPECT_FALSE(GetPin(Child("vsink0"), PINDIR_OUTPUT, &pPad));
  EXPECT_EQ(pPad, nullptr);
  EXPECT_FALSE(GetInputPin(Child("vsrc"), &pPad));
  EXPECT_FALSE(GetInputPin(nullptr, &pPad));
}

TEST_F(MediaTypePipeline, ConnectFiltersLinksTheFirstFreeOutputThatAccepts) {
  GstBin* pBin = Launch(
      "videotestsrc num-buffers=3 name=src ! video/x-raw,width=32,height=24 ! tee name=t "
      "t. ! queue ! fakesink name=used "
      "queue name=q ! fakesink name=late "
      "audiotestsrc name=asrc videoconvert name=conv",
      false);
  ASSERT_NE(pBin, nullptr);
  GstElement* pTee = Child("t");
  GstElement* pQueue = Child("q");
  // The tee's first output is taken: its next one is requested and linked.
  GstPad* pRequested = gst_element_request_pad_simple(pTee, "src_%u");
  ASSERT_NE(pRequested, nullptr);
  ASSERT_TRUE(ConnectFilters(pBin, pTee, pQueue));
  GstPad* pInput = gst_element_get_static_pad(pQueue, "sink");
  GstPad* pPeer = gst_pad_get_peer(pInput);
  EXPECT_EQ(pPeer, pRequested);
  if (pPeer) gst_object_unref(pPeer);
  gst_object_unref(pInput);
  gst_object_unref(pRequested);

  // Linked once: a second connection finds no free input.
  EXPECT_FALSE(ConnectFilters(pBin, pTee, pQueue));
  // Sound into a video converter does not link.
  EXPECT_FALSE(ConnectFilters(pBin, Child("asrc"), Child("conv")));
  EXPECT_FALSE(ConnectFilters(pBin, pTee, pTee));
  EXPECT_FALSE(ConnectFilters(nullptr, pTee, pQueue));

  // The connected graph runs its frames through to the end.
  gst_element_set_state(m_pPipeline, GST_STATE_NULL);
  GstElement* pLoose = Child("asrc");
  gst_bin_remove(pBin, Child("conv"));
  gst_bin_remove(pBin, pLoose);
  gst_element_set_state(m_pPipeline, GST_STATE_PLAYING);
  GstBus* pBus = gst_element_get_bus(m_pPipeline);
  GstMessage* pMessage =
      gst_bus_timed_pop_filtered(pBus, 10 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  ASSERT_NE(pMessage, nullptr);
  EXPECT_EQ(GST_MESSAGE_TYPE(pMessage), GST_MESSAGE_EOS);
  gst_message_unref(pMessage);
  gst_object_unref(pBus);
}

TEST_F(MediaTypePipeline, ConnectFiltersNeedsBothFiltersInTheGraph) {
  GstBin* pBin = Launch("videotestsrc name=src identity name=spare", false);
  ASSERT_NE(pBin, nullptr);
  GstElement* pOutside = gst_element_factory_make("fakesink", "outside");
  ASSERT_NE(pOutside, nullptr);
  gst_object_ref_sink(pOutside);
  EXPECT_FALSE(ConnectFilters(pBin, Child("src"), pOutside));
  GstPad* pInput = gst_element_get_static_pad(pOutside, "sink");
  EXPECT_FALSE(gst_pad_is_linked(pInput));
  gst_object_unref(pInput);
  gst_object_unref(pOutside);

  GstElement* pInside = gst_element_factory_make("fakesink", "inside");
  gst_bin_add(pBin, pInside);
  EXPECT_TRUE(ConnectFilters(pBin, Child("src"), pInside));
}

}  // namespace
