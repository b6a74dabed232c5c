#pragma once
// Orientation codes of a channel's picture: the eight rotations and
// reflections that map a rectangle onto itself, each a 2 x 2 integer matrix
// acting on memory coordinates (x the column, y the row in memory order).
// Code 8 stands for no orientation (no picture, or a composition that
// failed). The video ports turn their pictures by these codes; the Transform
// 2D page composes them without a port.

#include <array>
#include <cstdint>

namespace ZarnTypes {

enum TOrientation : std::int32_t {
  ORIENT_IDENTITY = 0,
  ORIENT_REFLECT_DIAG_MAIN = 1,   // "Reflect in diagonal y = x"
  ORIENT_ROTATE_LEFT_90 = 2,      // "Rotate left 90°"
  ORIENT_REFLECT_HORIZONTAL = 3,  // "Reflect horizontal"
  ORIENT_ROTATE_180 = 4,          // "Rotate 180°"
  ORIENT_REFLECT_DIAG_ANTI = 5,   // "Reflect in diagonal y = -x"
  ORIENT_ROTATE_RIGHT_90 = 6,     // "Rotate right 90°"
  ORIENT_REFLECT_VERTICAL = 7,    // "Reflect vertical"
  ORIENT_INVALID = 8,             // result of a failed composition
};

}  // namespace ZarnTypes

namespace Orientation {

// The matrix of each code, rows first: {m00, m01, m10, m11}.
extern const std::array<std::array<std::int8_t, 4>, 8> kOrientationMatrix;

// The inverse of each code.
extern const std::array<std::int32_t, 8> kOrientationInverse;

// True for the codes that exchange width and height (1, 2, 5, 6).
bool OrientationSwapsSize(std::int32_t orientation);

// The orientation that results from applying `first` and then `second`: the
// code whose matrix is matrix(second) x matrix(first). False with out = 8
// when either code is outside 0..7.
bool ComposeOrientation(std::int32_t first, std::int32_t second, std::int32_t& out);

// The inverse code, or 8 for a code outside 0..7.
std::int32_t InverseOrientation(std::int32_t orientation);

}  // namespace Orientation
