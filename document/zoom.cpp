#include "document/zoom.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace Zoom {

static_assert(sizeof(ZarnTypes::TZoomExchange) == 32);

float PresetFactor(std::int32_t mode) {
  if (mode < ZarnTypes::ZOOM_10 || mode > ZarnTypes::ZOOM_1000) return 0.0f;
  return kZoomPresets[static_cast<std::size_t>(mode - 1)];
}

std::int32_t NearestZoomPreset(float factor, bool up) {
  if (up) {
    for (std::int32_t k = 1; k <= 10; ++k)
      if (kZoomPresets[static_cast<std::size_t>(k - 1)] > factor) return k;
    return 10;
  }
  for (std::int32_t k = 10; k >= 1; --k)
    if (kZoomPresets[static_cast<std::size_t>(k - 1)] < factor) return k;
  return 1;
}

int FactorIndex(std::int32_t mode, int pane, bool sameFactor) {
  return (mode == ZarnTypes::ZOOM_CUSTOM && !sameFactor) ? pane : 0;
}

int RoundHalfUp(double v) {
  // Add 0.5 and truncate toward zero; sizes beyond int are clamped.
  const double r = std::trunc(v + 0.5);
  if (r >= 2147483647.0) return 2147483647;
  if (r <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int>(r);
}

namespace {

int Scaled(int size, float factor) {
  const float product = static_cast<float>(size) * factor;
  return RoundHalfUp(static_cast<double>(product));
}

}  // namespace

bool PictureRect(std::int32_t mode, float factor, bool hasPicture, int W, int H, int cx, int cy, TRect& out) {
  int w = W;
  int h = H;
  bool alignLeft = false;
  if (hasPicture && W != 0 && H != 0) {
    switch (mode) {
      case ZarnTypes::ZOOM_FIT_VIEW: {
        const double s = std::min(static_cast<double>(cx) / W, static_cast<double>(cy) / H);
        w = RoundHalfUp(W * s);
        h = RoundHalfUp(H * s);
        break;
      }
      case ZarnTypes::ZOOM_FIT_WIDTH:
        w = cx;
        h = W > 0 ? RoundHalfUp((static_cast<double>(cx) * H + 0.5) / W) : 0;
        alignLeft = true;
        break;
      case ZarnTypes::ZOOM_FIT_HEIGHT:
        h = cy;
        w = H > 0 ? RoundHalfUp((static_cast<double>(cy) * W + 0.5) / H) : 0;
        break;
      case ZarnTypes::ZOOM_FILL_VIEW: out = TRect{0, 0, cx, cy}; return true;
      case ZarnTypes::ZOOM_KEEP_IN_VIEW:
        if (W > cx || H > cy) {
          const double s = std::min(static_cast<double>(cx) / W, static_cast<double>(cy) / H);
          w = RoundHalfUp(W * s);
          h = RoundHalfUp(H * s);
        }
        break;
      default:
        if (mode < ZarnTypes::kZoomModeFirst || mode > ZarnTypes::kZoomModeLast) return false;
        w = Scaled(W, factor);
        h = Scaled(H, factor);
        break;
    }
  }
  const int x = (!alignLeft && w < cx) ? (cx - w) / 2 : 0;
  const int y = h < cy ? (cy - h) / 2 : 0;
  out = TRect{x, y, x + w, y + h};
  return true;
}

bool PaneZoomFactor(std::int32_t mode, float factor, int W, int H, int cx, int cy, float& out) {
  if (mode >= ZarnTypes::ZOOM_10 && mode <= ZarnTypes::ZOOM_1000) {
    out = factor;
    return true;
  }
  if (mode < ZarnTypes::ZOOM_FIT_VIEW || mode > ZarnTypes::ZOOM_KEEP_IN_VIEW) return false;
  if (W <= 0 || H <= 0 || cx <= 0 || cy <= 0) {
    out = 1.0f;
    return true;
  }
  const float sx = static_cast<float>(cx) / static_cast<float>(W);
  const float sy = static_cast<float>(cy) / static_cast<float>(H);
  const float s = std::min(sx, sy);
  switch (mode) {
    case ZarnTypes::ZOOM_FIT_VIEW: out = s; break;
    case ZarnTypes::ZOOM_FIT_WIDTH: out = sx; break;
    case ZarnTypes::ZOOM_FIT_HEIGHT: out = sy; break;
    case ZarnTypes::ZOOM_FILL_VIEW: {
      const float product = s * sx;
      out = static_cast<float>(std::sqrt(static_cast<double>(product)));
      break;
    }
    default:  // keep in view
      out = (W <= cx && H <= cy) ? 1.0f : s;
      break;
  }
  return true;
}

bool Rescale(std::int32_t mode, float factor, bool hasPicture, int W, int H, int cx, int cy,
             TScrollState& state, bool& scroll) {
  scroll = false;
  if (!hasPicture || W == 0 || H == 0) {
    state.rangeW = 0;
    state.rangeH = 0;
    return true;
  }
  switch (mode) {
    case ZarnTypes::ZOOM_FIT_VIEW:
    case ZarnTypes::ZOOM_FILL_VIEW:
    case ZarnTypes::ZOOM_KEEP_IN_VIEW:
      state.rangeW = 0;
      state.rangeH = 0;
      return true;
    case ZarnTypes::ZOOM_FIT_WIDTH:
      state.rangeW = 0;
      state.rangeH = RoundHalfUp((static_cast<double>(H) * cx + 0.5) / W);
      return true;
    case ZarnTypes::ZOOM_FIT_HEIGHT:
      state.rangeW = RoundHalfUp((static_cast<double>(W) * cy + 0.5) / H);
      state.rangeH = 0;
      return true;
    default: break;
  }
  if (mode < ZarnTypes::kZoomModeFirst || mode > ZarnTypes::kZoomModeLast) return true;
  if (state.rangeW < 0 || state.rangeH < 0) return false;

  const bool movedX = state.posX != state.lastX;
  const bool movedY = state.posY != state.lastY;
  const int centreX = state.posX + cx / 2;
  const int centreY = state.posY + cy / 2;
  if (movedX) state.centreX = state.rangeW > 0 ? static_cast<double>(centreX) / state.rangeW : 0.5;
  if (movedY) state.centreY = state.rangeH > 0 ? static_cast<double>(centreY) / state.rangeH : 0.5;

  const int width = Scaled(W, factor);
  const int height = Scaled(H, factor);
  state.rangeW = width;
  state.rangeH = height;
  state.posX = width > cx ? std::clamp(RoundHalfUp(width * state.centreX - cx / 2), 0, width - cx) : 0;
  state.posY = height > cy ? std::clamp(RoundHalfUp(height * state.centreY - cy / 2), 0, height - cy) : 0;
  scroll = true;
  return true;
}

namespace {

// a x b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const long long p = static_cast<long long>(a) * b;
  const long long half = std::llabs(c) / 2;
  const bool negative = (p < 0) != (c < 0);
  const long long q = (std::llabs(p) + half) / std::llabs(c);
  return static_cast<int>(negative ? -q : q);
}

}  // namespace

int WheelStep(int accumulated, int lines, int lineSize, int pageSize) {
  if (lines == -1) return static_cast<int>(static_cast<long long>(pageSize) * accumulated / -120);
  return std::min(MulDiv(-accumulated, lines * lineSize, 120), pageSize);
}

TRect PrintRect(int W, int H, int pageW, int pageH) {
  if (W <= 0 || H <= 0 || pageW <= 0 || pageH <= 0) return TRect{};
  // Compared exactly: whole-number ratios would pick the height-bound size
  // for pictures that are too wide for it.
  if (static_cast<long long>(pageH) * W > static_cast<long long>(pageW) * H)
    return TRect{0, 0, pageW, static_cast<int>(static_cast<long long>(H) * pageW / W)};
  return TRect{0, 0, static_cast<int>(static_cast<long long>(W) * pageH / H), pageH};
}

}  // namespace Zoom
