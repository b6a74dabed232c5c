#include "document/zoom.h"

#include <gtest/gtest.h>

using namespace ZarnTypes;
using Zoom::TRect;

namespace {

TRect Rect(int mode, float factor, int W, int H, int cx, int cy, bool hasPicture = true) {
  TRect r{-1, -1, -1, -1};
  EXPECT_TRUE(Zoom::PictureRect(mode, factor, hasPicture, W, H, cx, cy, r)) << "mode " << mode;
  return r;
}

}  // namespace

TEST(ZoomPictureRect, WhereThePaneDrawsThePictureInEachMode) {
  const struct {
    const char* what;
    int mode;
    float factor;
    int W, H, cx, cy;
    TRect expected;
  } cases[] = {
      {"fit view, wide picture in a narrow pane",
       ZOOM_FIT_VIEW,
       1.0f,
       640,
       480,
       320,
       480,
       {0, 120, 320, 360}},
      {"keep in view, too large", ZOOM_KEEP_IN_VIEW, 1.0f, 640, 480, 320, 480, {0, 120, 320, 360}},
      {"fill view stretches", ZOOM_FILL_VIEW, 1.0f, 640, 480, 320, 480, {0, 0, 320, 480}},
      {"keep in view, fits: 1:1 centred", ZOOM_KEEP_IN_VIEW, 1.0f, 100, 50, 400, 300, {150, 125, 250, 175}},
      {"200%", ZOOM_200, 2.0f, 100, 50, 400, 300, {100, 100, 300, 200}},
      {"10% rounds the scaled size", ZOOM_10, 0.1f, 105, 44, 400, 300, {194, 148, 205, 152}},
      {"larger than the pane: at the origin", ZOOM_500, 5.0f, 100, 80, 400, 300, {0, 0, 500, 400}},
      {"custom factor", ZOOM_CUSTOM, 0.5f, 100, 50, 400, 300, {175, 137, 225, 162}},
      {"fit width keeps the left edge", ZOOM_FIT_WIDTH, 1.0f, 640, 480, 320, 100, {0, 0, 320, 240}},
      {"fit width, short picture centred vertically",
       ZOOM_FIT_WIDTH,
       1.0f,
       640,
       100,
       320,
       480,
       {0, 215, 320, 265}},
      {"fit height", ZOOM_FIT_HEIGHT, 1.0f, 640, 480, 400, 240, {40, 0, 360, 240}},
  };
  for (const auto& c : cases) EXPECT_EQ(Rect(c.mode, c.factor, c.W, c.H, c.cx, c.cy), c.expected) << c.what;
}

TEST(ZoomPictureRect, WithoutAPictureTheBitmapIsDrawnOneToOneInTheCentre) {
  for (int mode : {ZOOM_FIT_VIEW, ZOOM_FILL_VIEW, ZOOM_1000, ZOOM_CUSTOM}) {
    EXPECT_EQ(Rect(mode, 10.0f, 1, 1, 400, 300, false), (TRect{199, 149, 200, 150})) << mode;
  }
}

TEST(ZoomPictureRect, ModesOutsideTheTableDrawNothing) {
  for (int mode : {0, 17, -3}) {
    TRect r;
    EXPECT_FALSE(Zoom::PictureRect(mode, 1.0f, true, 100, 100, 200, 200, r)) << mode;
  }
}

TEST(ZoomPaneFactor, FittingModesDeriveTheFactorFromPaneAndPicture) {
  const struct {
    int mode;
    int W, H, cx, cy;
    float expected;
  } cases[] = {
      {ZOOM_FIT_VIEW, 640, 480, 320, 480, 0.5f},
      {ZOOM_FIT_WIDTH, 640, 480, 320, 480, 0.5f},
      {ZOOM_FIT_HEIGHT, 640, 480, 320, 480, 1.0f},
      {ZOOM_FILL_VIEW, 100, 100, 400, 100, 2.0f},  // sqrt(smaller ratio 1 x width ratio 4)
      {ZOOM_KEEP_IN_VIEW, 100, 50, 400, 300, 1.0f},
      {ZOOM_KEEP_IN_VIEW, 800, 600, 400, 300, 0.5f},
      {ZOOM_FIT_VIEW, 0, 480, 320, 480, 1.0f},  // nothing to fit
      {ZOOM_FIT_VIEW, 640, 480, 0, 480, 1.0f},
  };
  for (const auto& c : cases) {
    float out = -1;
    ASSERT_TRUE(Zoom::PaneZoomFactor(c.mode, 7.0f, c.W, c.H, c.cx, c.cy, out)) << c.mode;
    EXPECT_FLOAT_EQ(out, c.expected) << "mode " << c.mode << " " << c.W << "x" << c.H;
  }
  float out = 0;
  EXPECT_TRUE(Zoom::PaneZoomFactor(ZOOM_175, 1.75f, 1, 1, 1, 1, out));
  EXPECT_FLOAT_EQ(out, 1.75f);
  EXPECT_FALSE(Zoom::PaneZoomFactor(ZOOM_CUSTOM, 1.0f, 10, 10, 10, 10, out));
  EXPECT_FALSE(Zoom::PaneZoomFactor(0, 1.0f, 10, 10, 10, 10, out));
}

TEST(ZoomPresets, NearestPresetAboveOrBelowAFactor) {
  EXPECT_EQ(Zoom::NearestZoomPreset(0.6f, true), ZOOM_100);
  EXPECT_EQ(Zoom::NearestZoomPreset(0.6f, false), ZOOM_50);
  EXPECT_EQ(Zoom::NearestZoomPreset(1.0f, true), ZOOM_125);
  EXPECT_EQ(Zoom::NearestZoomPreset(1.0f, false), ZOOM_50);
  EXPECT_EQ(Zoom::NearestZoomPreset(20.0f, true), ZOOM_1000);
  EXPECT_EQ(Zoom::NearestZoomPreset(0.05f, false), ZOOM_10);
  // Mode k is preset k, in increasing order.
  const float expected[] = {0.1f, 0.25f, 0.5f, 1.0f, 1.25f, 1.5f, 1.75f, 2.0f, 5.0f, 10.0f};
  for (int mode = 1; mode <= 10; ++mode)
    EXPECT_EQ(Zoom::PresetFactor(mode), expected[mode - 1]) << "mode " << mode;
  EXPECT_EQ(Zoom::PresetFactor(0), 0.0f);
  EXPECT_EQ(Zoom::PresetFactor(11), 0.0f);
  EXPECT_EQ(Zoom::PresetFactor(-1), 0.0f);
}

TEST(ZoomRescale, MagnifyingKeepsThePicturePointAtTheCentre) {
  // 1000 x 1000 at 100% in a 500 x 500 pane, scrolled to the middle.
  Zoom::TScrollState s;
  s.rangeW = s.rangeH = 1000;
  s.posX = s.posY = 250;
  s.lastX = s.lastY = 250;
  bool scroll = false;
  ASSERT_TRUE(Zoom::Rescale(ZOOM_200, 2.0f, true, 1000, 1000, 500, 500, s, scroll));
  EXPECT_TRUE(scroll);
  EXPECT_EQ(s.rangeW, 2000);
  EXPECT_EQ(s.rangeH, 2000);
  EXPECT_EQ(s.posX, 750);
  EXPECT_EQ(s.posY, 750);
}

TEST(ZoomRescale, TheCentreIsRetakenOnlyOnTheAxisTheUserScrolled) {
  Zoom::TScrollState s;
  s.rangeW = s.rangeH = 1000;
  s.lastX = s.lastY = 250;
  s.posX = 0;    // scrolled left since the last rescale
  s.posY = 250;  // not scrolled: the stored centre stays
  s.centreY = 0.75;
  bool scroll = false;
  ASSERT_TRUE(Zoom::Rescale(ZOOM_200, 2.0f, true, 1000, 1000, 500, 500, s, scroll));
  EXPECT_DOUBLE_EQ(s.centreX, 0.25);
  EXPECT_EQ(s.posX, 250);
  EXPECT_EQ(s.posY, 1250);  // 2000 x 0.75 - 250
  // Clamped to the range: a centre near the edge cannot scroll past it.
  s.lastX = s.posX = 1500;
  s.lastY = s.posY = 1500;
  s.centreX = s.centreY = 0.99;
  ASSERT_TRUE(Zoom::Rescale(ZOOM_200, 2.0f, true, 1000, 1000, 500, 500, s, scroll));
  EXPECT_EQ(s.posX, 1500);
}

TEST(ZoomRescale, RangesOfTheFittingModesAndOfAPictureThatFits) {
  const struct {
    const char* what;
    int mode;
    float factor;
    int W, H, cx, cy;
    int rangeW, rangeH;
    bool scroll;
  } cases[] = {
      {"fit width scrolls vertically only", ZOOM_FIT_WIDTH, 1, 640, 480, 320, 100, 0, 240, false},
      {"fit height scrolls horizontally only", ZOOM_FIT_HEIGHT, 1, 640, 480, 100, 240, 320, 0, false},
      {"fit view has no range", ZOOM_FIT_VIEW, 1, 640, 480, 100, 100, 0, 0, false},
      {"fill view has no range", ZOOM_FILL_VIEW, 1, 640, 480, 100, 100, 0, 0, false},
      {"keep in view has no range", ZOOM_KEEP_IN_VIEW, 1, 640, 480, 100, 100, 0, 0, false},
      {"200% of a small picture: range, no bars", ZOOM_200, 2, 100, 50, 400, 300, 200, 100, true},
  };
  for (const auto& c : cases) {
    Zoom::TScrollState s;
    s.rangeW = s.rangeH = 77;
    bool scroll = !c.scroll;
    ASSERT_TRUE(Zoom::Rescale(c.mode, c.factor, true, c.W, c.H, c.cx, c.cy, s, scroll)) << c.what;
    EXPECT_EQ(s.rangeW, c.rangeW) << c.what;
    EXPECT_EQ(s.rangeH, c.rangeH) << c.what;
    EXPECT_EQ(scroll, c.scroll) << c.what;
  }
  Zoom::TScrollState none;
  none.rangeW = none.rangeH = 50;
  bool scroll = true;
  ASSERT_TRUE(Zoom::Rescale(ZOOM_1000, 10, false, 1, 1, 100, 100, none, scroll));
  EXPECT_EQ(none.rangeW, 0);
  EXPECT_FALSE(scroll);
  Zoom::TScrollState broken;
  broken.rangeW = -1;
  EXPECT_FALSE(Zoom::Rescale(ZOOM_200, 2, true, 10, 10, 5, 5, broken, scroll));
}

TEST(ZoomWheel, NotchesScrollLinesBoundedByAPageDownwards) {
  EXPECT_EQ(Zoom::WheelStep(-120, 3, 10, 100), 30);
  EXPECT_EQ(Zoom::WheelStep(-120, 3, 10, 20), 20);
  EXPECT_EQ(Zoom::WheelStep(120, 3, 10, 20), -30);
  EXPECT_EQ(Zoom::WheelStep(-1, 3, 10, 100), 0);     // too small: kept for later
  EXPECT_EQ(Zoom::WheelStep(-4, 3, 10, 100), 1);     // 4 x 30 / 120 = 1
  EXPECT_EQ(Zoom::WheelStep(-120, -1, 10, 80), 80);  // a page per notch
  EXPECT_EQ(Zoom::WheelStep(240, -1, 10, 80), -160);
}

TEST(ZoomPrint, ThePictureFillsThePrintableAreaKeepingItsShape) {
  EXPECT_EQ(Zoom::PrintRect(640, 480, 4800, 6000), (TRect{0, 0, 4800, 3600}));
  EXPECT_EQ(Zoom::PrintRect(480, 640, 4800, 6000), (TRect{0, 0, 4500, 6000}));
  // Ratios 2.9 and 2.1 truncate to the same whole number; the picture must
  // still be bounded by the width.
  EXPECT_EQ(Zoom::PrintRect(100, 100, 210, 290), (TRect{0, 0, 210, 210}));
  EXPECT_EQ(Zoom::PrintRect(0, 10, 100, 100), (TRect{}));
}
