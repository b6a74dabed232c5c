#include "shell/prog_cfg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace shell;

namespace {

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (b[at + 3] << 24));
}

}  // namespace

TEST(ProgCfg, FieldsLandAtTheirOffsetsLittleEndian) {
  TProgCfg c;
  c.savedMarker = 1;
  c.optionFlags = 0x04030201;
  c.optionResetMask = 1;
  c.docManager.format = 43;
  c.docManager.yuvHeight = 576;
  c.docManager.tiff[35] = 0xEE;
  c.channelFiles[3] = {5, 2};
  c.recordingOn = 1;
  c.recorder[2].frameDigits = 6;
  c.recorder[2].timeStep = 0.04;
  c.recorder[2].sampleEnd = -2;
  c.recorder[1].windowsMedia[47] = 0x77;
  c.recorder[3].primaryAsShown = 9;
  c.capture[1].format = 30;
  c.capture[3].documentFlag = 1;
  c.videoPane[2][0] = 0x5A;
  c.pictureInPicture[3][55] = 0xA5;
  c.imageSave.documentValue = 33;
  c.imageSave.tiff[0] = 0x11;
  c.mdiTabs[0] = 2;
  c.mdiTabs[12] = -7;
  c.resetChildWindows = 1;
  c.mdiTabsChanged = 1;
  c.lookId = 13;
  c.lookChanged = 1;
  c.toolbarImageStyle = 3;
  c.startPlaying = {1, 0, 1, 0, 1, 0, 1};

  const std::vector<std::uint8_t> b = EncodeProgCfg(c);
  ASSERT_EQ(b.size(), 2168u);
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(Le32(b, 20), 0x04030201u);
  EXPECT_EQ(b[20], 0x01);  // little-endian
  EXPECT_EQ(Le32(b, 24), 1u);
  EXPECT_EQ(Le32(b, 28), 43u);
  EXPECT_EQ(Le32(b, 60), 576u);
  EXPECT_EQ(b[163], 0xEE);  // last byte of the TIFF block at 128
  EXPECT_EQ(Le32(b, 292 + 24), 5u);
  EXPECT_EQ(Le32(b, 292 + 28), 2u);
  EXPECT_EQ(b[328], 1);
  const std::size_t rec2 = 336 + 2 * 288;
  EXPECT_EQ(Le32(b, rec2 + 12), 6u);
  double step;
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | b[rec2 + 40 + static_cast<std::size_t>(i)];
  std::memcpy(&step, &bits, 8);
  EXPECT_EQ(step, 0.04);
  EXPECT_EQ(Le32(b, rec2 + 56), 0xFFFFFFFEu);
  EXPECT_EQ(Le32(b, rec2 + 60), 0xFFFFFFFFu);
  EXPECT_EQ(b[336 + 288 + 232 + 47], 0x77);
  EXPECT_EQ(b[336 + 3 * 288 + 281], 9);
  EXPECT_EQ(Le32(b, 1488 + 28 + 20), 30u);
  EXPECT_EQ(b[1488 + 3 * 28 + 24], 1);
  EXPECT_EQ(b[1600 + 2 * 28], 0x5A);
  EXPECT_EQ(b[1712 + 3 * 56 + 55], 0xA5);
  EXPECT_EQ(Le32(b, 1936), 33u);
  EXPECT_EQ(b[2056], 0x11);
  EXPECT_EQ(Le32(b, 2092), 2u);
  EXPECT_EQ(Le32(b, 2092 + 48), static_cast<std::uint32_t>(-7));
  EXPECT_EQ(b[2144], 1);
  EXPECT_EQ(b[2145], 1);
  EXPECT_EQ(Le32(b, 2148), 13u);
  EXPECT_EQ(b[2152], 1);
  EXPECT_EQ(Le32(b, 2156), 3u);
  EXPECT_EQ((std::vector<std::uint8_t>(b.begin() + 2160, b.begin() + 2167)),
            (std::vector<std::uint8_t>{1, 0, 1, 0, 1, 0, 1}));
}

TEST(ProgCfg, EveryFieldByteRoundTripsAndReservedBytesAreZero) {
  // Random bytes in every field position (doubles get arbitrary bit
  // patterns, NaNs included); reserved positions stay zero.
  std::mt19937 rng(20240611);
  for (int round = 0; round < 20; ++round) {
    std::vector<std::uint8_t> stored(kProgCfgSize, 0);
    for (std::size_t i = 0; i < kProgCfgSize; ++i)
      if (IsProgCfgFieldByte(i)) stored[i] = static_cast<std::uint8_t>(rng());
    // Picture-in-picture places and sizes within their range (others are
    // refused, see PictureInPictureRecordsOutOfRangeAreNotTaken).
    for (std::size_t pane = 0; pane < 4; ++pane)
      for (std::size_t at : {16u, 20u, 24u, 28u, 36u, 40u, 44u, 48u}) {
        const std::size_t p = 1712 + 56 * pane + at;
        const bool negative = rng() % 2 != 0;
        stored[p + 2] = negative ? 0xFF : 0x00;
        stored[p + 3] = negative ? 0xFF : 0x00;
      }
    TProgCfg c;
    ASSERT_TRUE(DecodeProgCfg(stored.data(), stored.size(), c));
    EXPECT_EQ(EncodeProgCfg(c), stored) << "round " << round;
  }
}

TEST(ProgCfg, ReservedRangesCarryNoField) {
  const std::pair<std::size_t, std::size_t> reserved[] = {{1, 20},      {164, 292},   {324, 328},  {329, 336},
                                                          {2146, 2148}, {2153, 2156}, {2167, 2168}};
  for (auto [from, to] : reserved)
    for (std::size_t i = from; i < to; ++i) EXPECT_FALSE(IsProgCfgFieldByte(i)) << i;
  // Inside a recorder block: 2..7, 20..23, 228..231, 282..287.
  for (std::size_t c = 0; c < 4; ++c) {
    const std::size_t base = 336 + 288 * c;
    for (std::size_t i : {2, 7, 20, 23, 228, 231, 282, 287})
      EXPECT_FALSE(IsProgCfgFieldByte(base + i)) << base + i;
    for (std::size_t i : {0, 1, 8, 24, 280, 281}) EXPECT_TRUE(IsProgCfgFieldByte(base + i)) << base + i;
  }
  EXPECT_FALSE(IsProgCfgFieldByte(2168));
}

TEST(ProgCfg, AShorterStoredBlockFillsItsBeginningByteByByteAndALongerOneIsRefused) {
  TProgCfg full;
  full.optionFlags = 0xAABBCCDD;
  full.lookId = 12;
  full.toolbarImageStyle = 2;
  const std::vector<std::uint8_t> stored = EncodeProgCfg(full);

  TProgCfg c;
  c.lookId = 13;
  c.toolbarImageStyle = 3;
  // 2,150 bytes: the look id (2148..2151) is whole, the toolbar style is not.
  ASSERT_TRUE(DecodeProgCfg(stored.data(), 2152, c));
  EXPECT_EQ(c.optionFlags, 0xAABBCCDDu);
  EXPECT_EQ(c.lookId, 12);
  EXPECT_EQ(c.toolbarImageStyle, 3);
  // A field the block covers only in part takes the bytes it covers, the
  // rest keep theirs: 2,150 bytes reach the look id's first two bytes.
  TProgCfg partial;
  partial.lookId = 0x11223344;
  partial.toolbarImageStyle = 0x55667788;
  ASSERT_TRUE(DecodeProgCfg(stored.data(), 2150, partial));
  EXPECT_EQ(partial.lookId, 0x1122000C);
  EXPECT_EQ(partial.toolbarImageStyle, 0x55667788);
  // One byte into the option flags.
  TProgCfg oneByte;
  oneByte.optionFlags = 0x01020304;
  ASSERT_TRUE(DecodeProgCfg(stored.data(), 21, oneByte));
  EXPECT_EQ(oneByte.optionFlags, 0x010203DDu);

  std::vector<std::uint8_t> longer = stored;
  longer.push_back(0);
  TProgCfg untouched;
  untouched.lookId = 5;
  EXPECT_FALSE(DecodeProgCfg(longer.data(), longer.size(), untouched));
  EXPECT_EQ(untouched.lookId, 5);

  TProgCfg empty;
  EXPECT_TRUE(DecodeProgCfg(nullptr, 0, empty));
  EXPECT_EQ(empty, TProgCfg{});
}

namespace {

// Sets a field to a value whose every stored byte is non-zero and returns
// those bytes as they must be stored (little-endian).
std::vector<std::uint8_t> Fill(std::uint8_t& v) {
  v = 0xA5;
  return {0xA5};
}
std::vector<std::uint8_t> Fill(std::uint32_t& v) {
  v = 0x9A8B7C6Du;
  return {0x6D, 0x7C, 0x8B, 0x9A};
}
std::vector<std::uint8_t> Fill(std::int32_t& v) {
  v = static_cast<std::int32_t>(0x8C7B6A59u);
  return {0x59, 0x6A, 0x7B, 0x8C};
}
std::vector<std::uint8_t> Fill(std::int64_t& v) {
  v = static_cast<std::int64_t>(0x8877665544332211ull);
  return {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
}
std::vector<std::uint8_t> Fill(double& v) {
  const std::uint64_t bits = 0x3FF1223344556677ull;
  std::memcpy(&v, &bits, sizeof v);
  return {0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0xF1, 0x3F};
}
template <std::size_t N>
std::vector<std::uint8_t> Fill(TBlock<N>& b) {
  std::vector<std::uint8_t> bytes(N);
  for (std::size_t i = 0; i < N; ++i) bytes[i] = b[i] = static_cast<std::uint8_t>(0x30 + i);
  return bytes;
}

// A picture-in-picture record's pattern keeps its places and sizes small
// enough to be taken (PipRecordInRange).
std::vector<std::uint8_t> FillPip(TBlock<56>& b) {
  std::vector<std::uint8_t> bytes = Fill(b);
  for (std::size_t at : {16u, 20u, 24u, 28u, 36u, 40u, 44u, 48u})
    bytes[at + 2] = bytes[at + 3] = b[at + 2] = b[at + 3] = 0;
  return bytes;
}

struct TStoredField {
  std::string name;
  std::size_t offset;
  std::function<std::vector<std::uint8_t>(TProgCfg&)> set;
};

// The stored layout of the block, written out by hand: every field with its
// offset. Field widths follow from the types (byte, 32-bit, 64-bit, double,
// carried blocks).
std::vector<TStoredField> StoredLayout() {
  std::vector<TStoredField> f;
#define FIELD(at, member) f.push_back({#member, (at), [=](TProgCfg& c) { return Fill(c.member); }})
  FIELD(0, savedMarker);
  FIELD(20, optionFlags);
  FIELD(24, optionResetMask);
  FIELD(28, docManager.format);
  FIELD(32, docManager.pixelFormat);
  FIELD(36, docManager.singleImage);
  FIELD(40, docManager.width);
  FIELD(44, docManager.height);
  FIELD(48, docManager.yuvFormat);
  FIELD(52, docManager.yuvSingleImage);
  FIELD(56, docManager.yuvWidth);
  FIELD(60, docManager.yuvHeight);
  FIELD(64, docManager.jpegQuality);
  FIELD(68, docManager.png);
  FIELD(96, docManager.gif);
  FIELD(128, docManager.tiff);
  for (std::size_t ch = 0; ch < 4; ++ch) {
    FIELD(292 + 8 * ch, channelFiles[ch].filesOfType);
    FIELD(296 + 8 * ch, channelFiles[ch].sorting);
  }
  FIELD(328, recordingOn);
  for (std::size_t ch = 0; ch < 4; ++ch) {
    const std::size_t r = 336 + 288 * ch;
    FIELD(r + 0, recorder[ch].enabled);
    FIELD(r + 1, recorder[ch].singleFile);
    FIELD(r + 8, recorder[ch].clipDigits);
    FIELD(r + 12, recorder[ch].frameDigits);
    FIELD(r + 16, recorder[ch].samplingMethod);
    FIELD(r + 24, recorder[ch].timeBegin);
    FIELD(r + 32, recorder[ch].timeEnd);
    FIELD(r + 40, recorder[ch].timeStep);
    FIELD(r + 48, recorder[ch].sampleBegin);
    FIELD(r + 56, recorder[ch].sampleEnd);
    FIELD(r + 64, recorder[ch].sampleStep);
    FIELD(r + 72, recorder[ch].addSuffix);
    FIELD(r + 76, recorder[ch].format);
    FIELD(r + 80, recorder[ch].jpegQuality);
    FIELD(r + 84, recorder[ch].jpeg2000);
    FIELD(r + 120, recorder[ch].png);
    FIELD(r + 148, recorder[ch].gif);
    FIELD(r + 180, recorder[ch].tiff);
    FIELD(r + 216, recorder[ch].avi);
    FIELD(r + 232, recorder[ch].windowsMedia);
    FIELD(r + 280, recorder[ch].pipEnabled);
    FIELD(r + 281, recorder[ch].primaryAsShown);
  }
  for (std::size_t ch = 0; ch < 4; ++ch) {
    const std::size_t k = 1488 + 28 * ch;
    FIELD(k + 0, capture[ch].copyToClipboard);
    FIELD(k + 1, capture[ch].saveToFile);
    FIELD(k + 4, capture[ch].nextClipIndex);
    FIELD(k + 8, capture[ch].clipDigits);
    FIELD(k + 12, capture[ch].frameDigits);
    FIELD(k + 16, capture[ch].addSuffix);
    FIELD(k + 20, capture[ch].format);
    FIELD(k + 24, capture[ch].documentFlag);
  }
  for (std::size_t ch = 0; ch < 4; ++ch) FIELD(1600 + 28 * ch, videoPane[ch]);
  for (std::size_t ch = 0; ch < 4; ++ch)
    f.push_back(
        {"pictureInPicture", 1712 + 56 * ch, [=](TProgCfg& c) { return FillPip(c.pictureInPicture[ch]); }});
  FIELD(1936, imageSave.documentValue);
  FIELD(1940, imageSave.yuvFormat);
  FIELD(1944, imageSave.yuvSingleImage);
  FIELD(1948, imageSave.yuvWidth);
  FIELD(1952, imageSave.yuvHeight);
  FIELD(1956, imageSave.jpegQuality);
  FIELD(1960, imageSave.jpeg2000);
  FIELD(1996, imageSave.png);
  FIELD(2024, imageSave.gif);
  FIELD(2056, imageSave.tiff);
  for (std::size_t i = 0; i < 13; ++i) FIELD(2092 + 4 * i, mdiTabs[i]);
  FIELD(2144, resetChildWindows);
  FIELD(2145, mdiTabsChanged);
  FIELD(2148, lookId);
  FIELD(2152, lookChanged);
  FIELD(2156, toolbarImageStyle);
  for (std::size_t i = 0; i < 7; ++i) FIELD(2160 + i, startPlaying[i]);
#undef FIELD
  return f;
}

}  // namespace

// Each field alone: it is stored at its own offset, in its own width, and
// nowhere else; decoding those bytes gives back exactly that field.
TEST(ProgCfg, EveryFieldIsStoredAtItsFixedOffset) {
  for (const TStoredField& field : StoredLayout()) {
    TProgCfg c;
    const std::vector<std::uint8_t> value = field.set(c);
    const std::vector<std::uint8_t> b = EncodeProgCfg(c);
    ASSERT_EQ(b.size(), 2168u);
    ASSERT_LE(field.offset + value.size(), b.size()) << field.name;
    std::vector<std::uint8_t> expected(2168, 0);
    std::copy(value.begin(), value.end(), expected.begin() + static_cast<std::ptrdiff_t>(field.offset));
    std::size_t firstDiff = b.size();
    for (std::size_t i = 0; i < b.size() && firstDiff == b.size(); ++i)
      if (b[i] != expected[i]) firstDiff = i;
    EXPECT_EQ(firstDiff, b.size()) << field.name << " at " << field.offset << ": byte " << firstDiff << " is "
                                   << int{b[firstDiff < b.size() ? firstDiff : 0]};

    TProgCfg decoded;
    ASSERT_TRUE(DecodeProgCfg(expected.data(), expected.size(), decoded));
    EXPECT_TRUE(decoded == c) << field.name << " is not read back from offset " << field.offset;
  }
}

// The fields above are all there is: a block of all-ones bytes keeps exactly
// their bytes, and every other byte is stored as zero.
TEST(ProgCfg, TheLayoutTableCoversEveryStoredByte) {
  std::vector<bool> covered(2168, false);
  for (const TStoredField& field : StoredLayout()) {
    TProgCfg c;
    const std::size_t n = field.set(c).size();
    for (std::size_t i = field.offset; i < field.offset + n; ++i) {
      EXPECT_FALSE(covered[i]) << field.name << " overlaps another field at " << i;
      covered[i] = true;
    }
  }
  const std::vector<std::uint8_t> ones(2168, 0xFF);
  TProgCfg c;
  ASSERT_TRUE(DecodeProgCfg(ones.data(), ones.size(), c));
  const std::vector<std::uint8_t> b = EncodeProgCfg(c);
  for (std::size_t i = 0; i < b.size(); ++i) {
    EXPECT_EQ(b[i], covered[i] ? 0xFF : 0x00) << "byte " << i;
    EXPECT_EQ(IsProgCfgFieldByte(i), covered[i]) << "byte " << i;
  }
}

// Records a pane could never show: x = 2147483632 with width 100 overflowed
// the inset's rectangle when the pane painted it.
TEST(ProgCfg, PictureInPictureRecordsOutOfRangeAreNotTaken) {
  struct TCase {
    const char* name;
    std::size_t at;
    std::int32_t value;
    bool taken;
  };
  const TCase cases[] = {
      {"x near the top of int", 16, 2147483632, false},
      {"y far below", 20, -2000000000, false},
      {"width too large", 24, kPipCoordinateLimit + 1, false},
      {"height at the limit", 28, kPipCoordinateLimit, true},
      {"negative x at the limit", 16, -kPipCoordinateLimit, true},
      {"source x", 36, 1 << 30, false},
      {"source y", 40, -(1 << 30), false},
      {"source width", 44, 0x7FFFFFFF, false},
      {"source height", 48, 480, true},
  };
  for (const TCase& k : cases) {
    SCOPED_TRACE(k.name);
    TProgCfg stored;
    stored.lookId = 7;
    stored.pictureInPicture[2][0] = 1;
    stored.pictureInPicture[2][24] = 100;  // width 100
    std::vector<std::uint8_t> bytes = EncodeProgCfg(stored);
    const std::size_t p = 1712 + 56 * 2 + k.at;
    const auto u = static_cast<std::uint32_t>(k.value);
    for (std::size_t i = 0; i < 4; ++i) bytes[p + i] = static_cast<std::uint8_t>(u >> (8 * i));

    TProgCfg c;
    c.pictureInPicture[2][8] = 3;  // what the program held before
    ASSERT_TRUE(DecodeProgCfg(bytes.data(), bytes.size(), c));
    EXPECT_EQ(c.lookId, 7) << "the rest of the block is read";
    EXPECT_EQ(PipRecordInRange(c.pictureInPicture[2]), true);
    if (k.taken) {
      EXPECT_EQ(c.pictureInPicture[2][0], 1);
      EXPECT_EQ(Le32(EncodeProgCfg(c), p), u);
    } else {
      EXPECT_EQ(c.pictureInPicture[2][0], 0) << "the record keeps what the program held";
      EXPECT_EQ(c.pictureInPicture[2][8], 3);
    }
  }
}
