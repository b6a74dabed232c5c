#include "media/media_source.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <type_traits>

namespace {

using namespace ZarnTypes;

void Dirty(TMediaSource& s) {
  s.bOpen = TRUE_;
  s.eState = SOURCE_STATE_RUNNING;
  s.bLoaded = TRUE_;
  s.eStreamType = ST_PNG;
  s.eSourceCategory = SOURCE_CAT_HTTP;
  s.eFileFormat = FF_SYSTEM_DEVICE;
  s.sPath = "/media/clip.avi";
  s.sOwnerText = "owner";
  s.sDisplayName = "Clipboard1";
  s.sDisplayPath = "clip.avi";
  s.nWidth = 640;
  s.nHeight = 480;
  s.bRead = TRUE_;
  s.eFramePixelFormat = PF_RGB24;
  s.eSourcePixelFormat = PF_YUY2;
  s.eDeliveredPixelFormat = PF_RGB32;
  s.nPictureCount = 1;
  s.nReserved = 7;
  s.nDeviceCategory = 2;
  s.nDeviceKind = 4;
  s.nLast = 9;
}

void ExpectClosed(const TMediaSource& s) {
  EXPECT_EQ(s.bOpen, FALSE_);
  EXPECT_EQ(s.eState, 1);
  EXPECT_EQ(s.bLoaded, FALSE_);
  EXPECT_EQ(s.eStreamType, 1);  // the null stream, not 0
  EXPECT_EQ(s.eSourceCategory, 0);
  EXPECT_EQ(s.eFileFormat, 0);
  EXPECT_TRUE(s.sPath.empty());
  EXPECT_TRUE(s.sOwnerText.empty());
  EXPECT_TRUE(s.sDisplayName.empty());
  EXPECT_TRUE(s.sDisplayPath.empty());
  EXPECT_EQ(s.nWidth, 0);
  EXPECT_EQ(s.nHeight, 0);
  EXPECT_EQ(s.bRead, FALSE_);
  EXPECT_EQ(s.eFramePixelFormat, 0);
  EXPECT_EQ(s.eSourcePixelFormat, 0);
  EXPECT_EQ(s.eDeliveredPixelFormat, 0);
  EXPECT_EQ(s.nPictureCount, 0);
  EXPECT_EQ(s.nReserved, 0);
  EXPECT_EQ(s.nDeviceCategory, 0);
  EXPECT_EQ(s.nDeviceKind, 0);
  EXPECT_EQ(s.nLast, -1);
}

TEST(MediaSource, NewAndResetRecordsDescribeAClosedChannel) {
  {
    SCOPED_TRACE("new");
    ExpectClosed(TMediaSource{});
  }
  TMediaSource s;
  Dirty(s);
  s.Reset();
  SCOPED_TRACE("after reset");
  ExpectClosed(s);
}

// An information record whose every byte differs from zero and from its
// neighbours, so a copy of the wrong length shows.
std::array<std::uint8_t, 64> InfoRecord() {
  std::array<std::uint8_t, 64> info{};
  for (std::size_t i = 0; i < info.size(); ++i) info[i] = static_cast<std::uint8_t>(0xA0 + i);
  return info;
}

TEST(StreamFormat, ResetGivesTypeZeroSubKindFourAndAZeroBlock) {
  TStreamFormat f;
  const auto info = InfoRecord();
  ASSERT_TRUE(f.SetParams(ST_TIFF, info.data(), info.size(), 4));
  f.Reset();
  EXPECT_EQ(f.eStreamType, 0);
  EXPECT_EQ(f.nSubKind, 4);
  for (std::uint8_t b : f.params) EXPECT_EQ(b, 0);
  EXPECT_EQ(TStreamFormat{}.nSubKind, 4);
}

TEST(StreamFormat, BytesKeptPerStreamType) {
  struct TCase {
    std::int32_t type, subKind;
    std::size_t bytes;
  };
  const TCase cases[] = {
      {0, 4, 0},   {-1, 4, 0},  {1, 4, 0},   {2, 4, 8},   {2, 3, 0},   {3, 4, 0},   {8, 4, 0},
      {9, 4, 16},  {10, 4, 16}, {11, 4, 16}, {12, 4, 0},  {14, 4, 0},  {15, 4, 28}, {16, 4, 0},
      {25, 4, 0},  {26, 4, 20}, {30, 4, 20}, {34, 4, 20}, {35, 4, 0},  {36, 4, 20}, {37, 4, 8},
      {39, 4, 8},  {40, 4, 8},  {42, 4, 8},  {43, 4, 12}, {44, 4, 24}, {45, 4, 0},  {46, 4, 56},
      {52, 4, 56}, {53, 4, 56}, {94, 4, 56}, {95, 4, 0},  {96, 4, 0},  {97, 4, 0},  {43, 3, 12},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(GetStreamFormatParamsSize(c.type, c.subKind), c.bytes)
        << "type " << c.type << " sub " << c.subKind;
}

TEST(StreamFormat, SetParamsKeepsExactlyTheLeadingBytes) {
  const auto info = InfoRecord();
  struct TCase {
    TStreamType type;
    std::int32_t subKind;
    std::size_t bytes;
  };
  const TCase cases[] = {{ST_SYSTEM_DEVICE, 4, 8}, {ST_WMV, 5, 16},         {ST_MNG, 1, 28},
                         {ST_GIF, 4, 20},          {ST_JPEG, 4, 8},         {ST_PNG, 4, 12},
                         {ST_TIFF, 6, 24},         {TStreamType{60}, 4, 56}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.type);
    TStreamFormat f;
    std::memset(f.params, 0x55, sizeof f.params);  // leftovers of an earlier source
    ASSERT_TRUE(f.SetParams(c.type, info.data(), info.size(), c.subKind));
    EXPECT_EQ(f.eStreamType, c.type);
    EXPECT_EQ(f.nSubKind, c.subKind);
    for (std::size_t i = 0; i < TStreamFormat::kParamsSize; ++i)
      EXPECT_EQ(f.params[i], i < c.bytes ? info[i] : 0) << "byte " << i;
  }
}

TEST(StreamFormat, RefusalsLeaveThePreviousContents) {
  const auto info = InfoRecord();
  TStreamFormat f;
  ASSERT_TRUE(f.SetParams(ST_PNG, info.data(), info.size()));
  const TStreamFormat before = f;
  auto unchanged = [&] {
    return f.eStreamType == before.eStreamType && f.nSubKind == before.nSubKind &&
           std::memcmp(f.params, before.params, sizeof f.params) == 0;
  };

  EXPECT_FALSE(f.SetParams(ST_ICO, info.data(), info.size()));
  EXPECT_TRUE(unchanged());
  EXPECT_FALSE(f.SetParams(ST_PGM, info.data(), info.size()));
  EXPECT_TRUE(unchanged());
  EXPECT_FALSE(f.SetParams(ST_SYSTEM_DEVICE, info.data(), info.size(), 3));
  EXPECT_TRUE(unchanged());
  // A record too short for what the type keeps is not read past its end.
  EXPECT_FALSE(f.SetParams(ST_TIFF, info.data(), 23));
  EXPECT_TRUE(unchanged());
  EXPECT_TRUE(f.SetParams(ST_TIFF, info.data(), 24));

  for (std::int32_t type : {2, 9, 15, 26, 36, 37, 43, 44, 46, 94}) {
    EXPECT_FALSE(f.SetParams(TStreamType{type}, nullptr, 56)) << "type " << type;
    EXPECT_EQ(f.eStreamType, ST_TIFF);
  }
}

TEST(CallbackBase, ImplementationsAreDestroyedThroughTheInterface) {
  static_assert(std::is_abstract_v<CallbackBase::CCallbackBase>);
  static_assert(std::has_virtual_destructor_v<CallbackBase::CCallbackBase>);

  struct TDocCallback : CallbackBase::CCallbackBase {
    explicit TDocCallback(bool* destroyed) : m_pDestroyed(destroyed) {}
    ~TDocCallback() override { *m_pDestroyed = true; }
    BOOL Callback1(std::int32_t a, std::int32_t b, std::int32_t c) override {
      return a == 1 && b == 1 && c != 0 ? TRUE_ : FALSE_;
    }
    BOOL Callback2(std::int32_t, std::int32_t, std::int32_t) override { return TRUE_; }
    BOOL Callback3(std::int32_t, std::int32_t, std::int32_t) override { return TRUE_; }
    bool* m_pDestroyed;
  };

  bool destroyed = false;
  std::unique_ptr<CallbackBase::CCallbackBase> cb = std::make_unique<TDocCallback>(&destroyed);
  cb.reset();
  EXPECT_TRUE(destroyed);
}

}  // namespace
