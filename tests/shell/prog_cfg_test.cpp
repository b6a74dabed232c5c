#include "shell/prog_cfg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

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
    TProgCfg c;
    ASSERT_TRUE(DecodeProgCfg(stored.data(), stored.size(), c));
    EXPECT_EQ(EncodeProgCfg(c), stored) << "round " << round;
  }
}

TEST(ProgCfg, ReservedRangesCarryNoField) {
  const std::pair<std::size_t, std::size_t> reserved[] = {
      {1, 20}, {164, 292}, {324, 328}, {329, 336}, {2146, 2148}, {2153, 2156}, {2167, 2168}};
  for (auto [from, to] : reserved)
    for (std::size_t i = from; i < to; ++i) EXPECT_FALSE(IsProgCfgFieldByte(i)) << i;
  // Inside a recorder block: 2..7, 20..23, 228..231, 282..287.
  for (std::size_t c = 0; c < 4; ++c) {
    const std::size_t base = 336 + 288 * c;
    for (std::size_t i : {2, 7, 20, 23, 228, 231, 282, 287}) EXPECT_FALSE(IsProgCfgFieldByte(base + i)) << base + i;
    for (std::size_t i : {0, 1, 8, 24, 280, 281}) EXPECT_TRUE(IsProgCfgFieldByte(base + i)) << base + i;
  }
  EXPECT_FALSE(IsProgCfgFieldByte(2168));
}

TEST(ProgCfg, AShorterStoredBlockFillsOnlyWhatItCoversAndALongerOneIsRefused) {
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
  TProgCfg partial;
  partial.lookId = 13;
  ASSERT_TRUE(DecodeProgCfg(stored.data(), 2150, partial));
  EXPECT_EQ(partial.lookId, 13) << "a field the block covers only in part keeps its value";

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
