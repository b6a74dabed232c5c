#pragma once
// Zoom modes of the video panes and the geometry that follows from them:
// where a pane draws its picture, how large its scroll range is, where it
// scrolls to when the magnification changes, and how far a wheel notch
// scrolls. Plain arithmetic on sizes, without widgets.
//
// "Round" throughout means: add 0.5 and truncate toward zero.

#include <array>
#include <cstdint>

namespace ZarnTypes {

enum TZoomMode : std::int32_t {
  ZOOM_10 = 1,
  ZOOM_25 = 2,
  ZOOM_50 = 3,
  ZOOM_100 = 4,  // drawn 1:1 without stretching
  ZOOM_125 = 5,
  ZOOM_150 = 6,
  ZOOM_175 = 7,
  ZOOM_200 = 8,
  ZOOM_500 = 9,
  ZOOM_1000 = 10,
  ZOOM_FIT_VIEW = 11,      // the smaller of the width and height ratios
  ZOOM_FIT_WIDTH = 12,     // client width / picture width
  ZOOM_FIT_HEIGHT = 13,    // client height / picture height
  ZOOM_FILL_VIEW = 14,     // stretched to the client area
  ZOOM_KEEP_IN_VIEW = 15,  // 1:1 when the picture fits, else as fit view
  ZOOM_CUSTOM = 16,        // the pane's own factor (or pane 0's for all)
};

inline constexpr std::int32_t kZoomModeFirst = ZOOM_10;
inline constexpr std::int32_t kZoomModeLast = ZOOM_CUSTOM;
inline constexpr std::int32_t kDefaultZoomMode = ZOOM_KEEP_IN_VIEW;

// The block of WM_APP_ZOOM_SETTINGS.
struct TZoomExchange {
  std::int32_t operation = 0;  // 1 read, 2 write
  std::uint8_t answered = 0;   // set by the document
  std::uint8_t setMode = 0;    // write: also take the zoom mode
  std::int32_t zoomMode = 0;   // 1..16
  float factor[4] = {};        // panes 0..3
  std::uint8_t sameFactor = 0;
};

}  // namespace ZarnTypes

namespace Zoom {

// The preset factors, mode k (1..10) at index k - 1.
inline constexpr std::array<float, 10> kZoomPresets = {0.1f, 0.25f, 0.5f, 1.0f, 1.25f,
                                                       1.5f, 1.75f, 2.0f, 5.0f, 10.0f};

// Custom magnifications in percent.
inline constexpr int kMinZoomPercent = 10;
inline constexpr int kMaxZoomPercent = 1000;

// The preset factor of mode 1..10, 0 for any other mode.
float PresetFactor(std::int32_t mode);

// The preset mode next to a factor: going up, the first preset above it
// (10 when none is); going down, the last preset below it (1 when none is).
std::int32_t NearestZoomPreset(float factor, bool up);

// The entry of the document's four factors that a pane draws with.
int FactorIndex(std::int32_t mode, int pane, bool sameFactor);

// round(v) as the panes compute it.
int RoundHalfUp(double v);

struct TRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

// Where a pane of client size cx x cy draws a W x H picture. `factor` is the
// one the mode takes (FactorIndex). Without a picture (or with W or H 0) the
// picture is drawn 1:1. False for a mode outside 1..16 (nothing is drawn).
bool PictureRect(std::int32_t mode, float factor, bool hasPicture, int W, int H, int cx, int cy, TRect& out);

// The factor with which a pane shows its picture in modes 11..15; modes
// 1..10 give `factor`. False in mode 16 and outside 1..16.
bool PaneZoomFactor(std::int32_t mode, float factor, int W, int H, int cx, int cy, float& out);

// A pane's scroll state as the rescale reads and updates it.
struct TScrollState {
  int rangeW = 0;  // scroll range (the size of the drawing surface)
  int rangeH = 0;
  int posX = 0;  // scroll position
  int posY = 0;
  int lastX = 0;  // position after the last rescale
  int lastY = 0;
  double centreX = 0.5;  // picture point (fraction of the range) kept at the centre
  double centreY = 0.5;
};

// Re-applies the zoom to a pane's scroll range and position. Returns false
// (state unchanged) when the current range has a negative side. `scroll`
// tells whether the position is to be applied.
bool Rescale(std::int32_t mode, float factor, bool hasPicture, int W, int H, int cx, int cy,
             TScrollState& state, bool& scroll);

// Pixels one wheel movement scrolls (positive: down or right), from the
// accumulated wheel delta, the lines per notch (-1: a page per notch), the
// line and the page size.
int WheelStep(int accumulated, int lines, int lineSize, int pageSize);

// Where a W x H picture goes on a printable area of pageW x pageH: the
// largest size that keeps its aspect ratio, at the top left.
TRect PrintRect(int W, int H, int pageW, int pageH);

}  // namespace Zoom
