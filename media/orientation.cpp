#include "media/orientation.h"

namespace Orientation {

const std::array<std::array<std::int8_t, 4>, 8> kOrientationMatrix = {{
    {1, 0, 0, 1},    // 0 identity
    {0, 1, 1, 0},    // 1 reflect in diagonal y = x
    {0, -1, 1, 0},   // 2 rotate left 90
    {-1, 0, 0, 1},   // 3 reflect horizontal
    {-1, 0, 0, -1},  // 4 rotate 180
    {0, -1, -1, 0},  // 5 reflect in diagonal y = -x
    {0, 1, -1, 0},   // 6 rotate right 90
    {1, 0, 0, -1},   // 7 reflect vertical
}};

const std::array<std::int32_t, 8> kOrientationInverse = {0, 1, 6, 3, 4, 5, 2, 7};

bool OrientationSwapsSize(std::int32_t orientation) {
  return orientation == 1 || orientation == 2 || orientation == 5 || orientation == 6;
}

bool ComposeOrientation(std::int32_t first, std::int32_t second, std::int32_t& out) {
  if (first < 0 || first > 7 || second < 0 || second > 7) {
    out = ZarnTypes::ORIENT_INVALID;
    return false;
  }
  const auto& a = kOrientationMatrix[static_cast<std::size_t>(first)];
  const auto& b = kOrientationMatrix[static_cast<std::size_t>(second)];
  // P = B x A: A applied first.
  const std::array<std::int8_t, 4> p = {
      static_cast<std::int8_t>(b[0] * a[0] + b[1] * a[2]),
      static_cast<std::int8_t>(b[0] * a[1] + b[1] * a[3]),
      static_cast<std::int8_t>(b[2] * a[0] + b[3] * a[2]),
      static_cast<std::int8_t>(b[2] * a[1] + b[3] * a[3]),
  };
  out = ZarnTypes::ORIENT_INVALID;
  for (std::int32_t code = 0; code < 8; ++code) {
    if (kOrientationMatrix[static_cast<std::size_t>(code)] == p) {
      out = code;
      break;
    }
  }
  return true;
}

std::int32_t InverseOrientation(std::int32_t orientation) {
  if (orientation < 0 || orientation > 7) return ZarnTypes::ORIENT_INVALID;
  return kOrientationInverse[static_cast<std::size_t>(orientation)];
}

}  // namespace Orientation
