// Picture-in-picture composites against a reference computed here: insets
// inside, straddling each edge, wholly outside, with source rectangles
// (y counted from the top) and ones larger than the inset picture, in the
// fast (nearest) and smooth (area) modes. Nothing is read or written outside
// either picture (the suite runs under AddressSanitizer).

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>

#include "media/dib.h"
#include "media/pip_composite.h"

namespace {

using namespace PipComposite;

struct TColour {
  int b = 0, g = 0, r = 0, a = 0;
};

// A 32-bit picture whose pixel (x, y from the top) is fn(x, y); rows stored
// bottom-up unless topDown.
template <typename Fn>
Dib::TDibSection MakePicture(int w, int h, Fn fn, bool topDown = false) {
  Dib::TDibSection s;
  s.header.biWidth = w;
  s.header.biHeight = topDown ? -h : h;
  s.header.biBitCount = 32;
  s.bits.assign(s.Stride() * static_cast<std::size_t>(h), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const TColour c = fn(x, y);
      std::uint8_t* p = s.RowFromTop(y) + 4 * x;
      p[0] = static_cast<std::uint8_t>(c.b);
      p[1] = static_cast<std::uint8_t>(c.g);
      p[2] = static_cast<std::uint8_t>(c.r);
      p[3] = static_cast<std::uint8_t>(c.a);
    }
  return s;
}

TColour Pixel(const Dib::TDibSection& s, int x, int y) {
  const std::uint8_t* p = s.RowFromTop(y) + 4 * x;
  return {p[0], p[1], p[2], p[3]};
}

constexpr int kMainW = 64, kMainH = 48, kInsetW = 40, kInsetH = 30;

const Dib::TDibSection& Main() {
  static const Dib::TDibSection main = MakePicture(kMainW, kMainH, [](int x, int y) {
    return TColour{17, (x * 3) & 255, (y * 5) & 255, 0};
  });
  return main;
}

// Every inset pixel tells where it came from.
const Dib::TDibSection& Inset() {
  static const Dib::TDibSection inset = MakePicture(kInsetW, kInsetH, [](int x, int y) {
    return TColour{255 - x - y, y * 8, x * 6, (x * 7 + y) & 255};
  });
  return inset;
}

// The reference: the whole-rectangle mapping target -> source, computed in
// double precision. Target pixels whose centre maps outside the source
// picture, or that lie outside the target rectangle, keep the main picture.
Dib::TDibSection Reference(const TPipRect& to, const TPipRect& from, TStretchMode mode) {
  Dib::TDibSection out = Main();
  if (to.width <= 0 || to.height <= 0 || from.width <= 0 || from.height <= 0) return out;
  const double sx = static_cast<double>(from.width) / to.width;
  const double sy = static_cast<double>(from.height) / to.height;
  for (int y = 0; y < kMainH; ++y)
    for (int x = 0; x < kMainW; ++x) {
      if (x < to.x || y < to.y || x - static_cast<double>(to.x) >= to.width ||
          y - static_cast<double>(to.y) >= to.height)
        continue;
      const double cx = from.x + (x - to.x + 0.5) * sx, cy = from.y + (y - to.y + 0.5) * sy;
      if (cx < 0 || cy < 0 || cx >= kInsetW || cy >= kInsetH) continue;
      double sum[4] = {};
      if (mode == STRETCH_NEAREST) {
        const TColour c = Pixel(Inset(), static_cast<int>(std::floor(cx)), static_cast<int>(std::floor(cy)));
        sum[0] = c.b, sum[1] = c.g, sum[2] = c.r, sum[3] = c.a;
      } else {
        // Average of the source area the pixel covers, inside the picture.
        const double x0 = from.x + (x - to.x) * sx, x1 = x0 + sx;
        const double y0 = from.y + (y - to.y) * sy, y1 = y0 + sy;
        double total = 0;
        for (int v = std::max(0, static_cast<int>(std::floor(y0))); v < kInsetH && v < y1; ++v)
          for (int u = std::max(0, static_cast<int>(std::floor(x0))); u < kInsetW && u < x1; ++u) {
            const double w = (std::min<double>(u + 1, x1) - std::max<double>(u, x0)) *
                             (std::min<double>(v + 1, y1) - std::max<double>(v, y0));
            if (w <= 0) continue;
            const TColour c = Pixel(Inset(), u, v);
            sum[0] += w * c.b, sum[1] += w * c.g, sum[2] += w * c.r, sum[3] += w * c.a;
            total += w;
          }
        for (double& s : sum) s /= total;
      }
      std::uint8_t* p = out.RowFromTop(y) + 4 * x;
      for (int c = 0; c < 4; ++c) p[c] = static_cast<std::uint8_t>(std::lround(sum[c]));
    }
  return out;
}

// Largest difference of any byte; -1 when the pictures differ in shape.
int Difference(const Dib::TDibSection& a, const Dib::TDibSection& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitCount() != b.BitCount()) return -1;
  int worst = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < 4 * a.Width(); ++x)
      worst = std::max(worst, std::abs(a.RowFromTop(y)[x] - b.RowFromTop(y)[x]));
  return worst;
}

struct TCase {
  const char* name;
  TPipRect to;
  bool sourceRect;
  TPipRect from;
};

const TCase kCases[] = {
    {"inside, shrunk", {10, 8, 20, 15}, false, {}},
    {"inside, shrunk ten times (more rows than the fast path keeps)", {5, 5, 4, 3}, false, {}},
    {"inside, one to one", {3, 4, kInsetW, kInsetH}, false, {}},
    {"inside, enlarged", {2, 2, 60, 44}, false, {}},
    {"straddling the left edge", {-13, 5, 30, 20}, false, {}},
    {"straddling the right edge", {50, 5, 30, 20}, false, {}},
    {"straddling the top edge", {5, -9, 30, 20}, false, {}},
    {"straddling the bottom edge", {5, 40, 30, 20}, false, {}},
    {"over all four edges", {-20, -20, 120, 100}, false, {}},
    {"wholly left", {-40, 5, 30, 20}, false, {}},
    {"wholly below", {5, 48, 30, 20}, false, {}},
    {"far away", {INT_MAX - 5, INT_MAX - 5, 10, 10}, false, {}},
    {"source rectangle at the top", {0, 0, 20, 10}, true, {0, 0, 20, 10}},
    {"source rectangle inside", {7, 9, 33, 17}, true, {11, 6, 21, 13}},
    {"source rectangle larger than the inset", {4, 4, 50, 40}, true, {-10, -5, 70, 50}},
    {"source rectangle past the inset's far corner", {4, 4, 30, 30}, true, {30, 20, 30, 30}},
    {"source rectangle wholly outside the inset", {4, 4, 30, 30}, true, {100, 100, 10, 10}},
    {"zero width", {4, 4, 0, 30}, false, {}},
    {"negative height", {4, 4, 30, -30}, false, {}},
    {"negative source width", {4, 4, 30, 30}, true, {0, 0, -10, 10}},
    {"huge source rectangle", {4, 4, 30, 30}, true, {INT_MIN, INT_MIN, INT_MAX, INT_MAX}},
};

TEST(PipCompositeTest, EveryPlacementMatchesTheReferenceInBothModes) {
  for (TStretchMode mode : {STRETCH_NEAREST, STRETCH_AREA}) {
    for (const TCase& c : kCases) {
      SCOPED_TRACE(std::string(c.name) + (mode == STRETCH_AREA ? " (area)" : " (nearest)"));
      Dib::TDibSection composite;
      ASSERT_TRUE(
          BuildPipComposite(Main(), Inset(), c.to, c.sourceRect ? &c.from : nullptr, mode, composite));
      const TPipRect whole{0, 0, kInsetW, kInsetH};
      const int difference = Difference(composite, Reference(c.to, c.sourceRect ? c.from : whole, mode));
      // Nearest is exact; area weights are 14-bit fixed point: within 1.
      EXPECT_GE(difference, 0);
      EXPECT_LE(difference, mode == STRETCH_NEAREST ? 0 : 1);
    }
  }
}

TEST(PipCompositeTest, ASourceRectangleAtYZeroDrawsTheInsetsTopRows) {
  // One to one, so that every drawn pixel is an inset pixel as it is.
  const TPipRect to{0, 0, 10, 4}, from{5, 0, 10, 4};
  Dib::TDibSection composite;
  ASSERT_TRUE(BuildPipComposite(Main(), Inset(), to, &from, STRETCH_NEAREST, composite));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 10; ++x) {
      const TColour got = Pixel(composite, x, y), want = Pixel(Inset(), 5 + x, y);
      ASSERT_EQ(got.r, want.r) << x << "," << y;
      ASSERT_EQ(got.g, want.g) << x << "," << y;  // g = 8 x the inset's row from the top
    }
}

TEST(PipCompositeTest, AnEmptyResultLeavesTheMainPicture) {
  for (const TCase& c : kCases) {
    const std::string name = c.name;
    if (name.find("wholly") == std::string::npos && name.find("far away") == std::string::npos &&
        name.find("zero") == std::string::npos && name.find("negative") == std::string::npos)
      continue;
    SCOPED_TRACE(name);
    Dib::TDibSection composite;
    ASSERT_TRUE(
        BuildPipComposite(Main(), Inset(), c.to, c.sourceRect ? &c.from : nullptr, STRETCH_AREA, composite));
    EXPECT_EQ(composite.bits, Main().bits);
    EXPECT_EQ(composite.header.biHeight, Main().header.biHeight);
  }
}

TEST(PipCompositeTest, TheCallersPictureIsReusedAndTopDownPicturesWork) {
  Dib::TDibSection composite;
  const TPipRect to{10, 8, 20, 15};
  ASSERT_TRUE(BuildPipComposite(Main(), Inset(), to, nullptr, STRETCH_NEAREST, composite));
  const std::uint8_t* storage = composite.bits.data();
  ASSERT_TRUE(BuildPipComposite(Main(), Inset(), to, nullptr, STRETCH_AREA, composite));
  EXPECT_EQ(composite.bits.data(), storage);
  // The same pictures stored top-down give the same pixels.
  const Dib::TDibSection insetTopDown = MakePicture(
      kInsetW, kInsetH, [](int x, int y) { return Pixel(Inset(), x, y); }, true);
  Dib::TDibSection other;
  ASSERT_TRUE(BuildPipComposite(Main(), insetTopDown, to, nullptr, STRETCH_AREA, other));
  EXPECT_EQ(Difference(other, composite), 0);
}

TEST(PipCompositeTest, PicturesThatAreNotWhole32BitPicturesAreRefused) {
  Dib::TDibSection composite = Main();
  Dib::TDibSection shortBits = Inset();
  shortBits.bits.resize(shortBits.bits.size() - 1);
  Dib::TDibSection rgb24 = Inset();
  rgb24.header.biBitCount = 24;
  const TPipRect to{0, 0, 10, 10};
  EXPECT_FALSE(BuildPipComposite(Main(), shortBits, to, nullptr, STRETCH_AREA, composite));
  EXPECT_FALSE(BuildPipComposite(rgb24, Inset(), to, nullptr, STRETCH_AREA, composite));
  EXPECT_EQ(composite.bits, Main().bits);
}

TEST(PipCompositeTest, ThePanesStretchCodesChooseTheMode) {
  EXPECT_EQ(StretchModeFromCode(3), STRETCH_NEAREST);
  EXPECT_EQ(StretchModeFromCode(4), STRETCH_AREA);
  EXPECT_EQ(StretchModeFromCode(1), STRETCH_NEAREST);
}

}  // namespace
