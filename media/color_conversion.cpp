// YCbCr <-> RGB colour conversion in 16.16 fixed point over constant tables.

#include "media/color_conversion.h"

#include <algorithm>
#include <cstring>

#include "media/color_kernels.h"

namespace ImageColorConversion {

namespace detail {
namespace {

using TTable = std::array<std::int32_t, 256>;

// Coefficients are given in millionths; an entry is
// trunc(coefficient x (i - offset) x 65,536), truncated towards zero, computed
// exactly in integers.
constexpr std::int64_t kMillion = 1000000;

constexpr TTable MakeTable(std::int64_t micro, std::int32_t offset) {
  TTable table{};
  for (std::int32_t i = 0; i < 256; ++i) {
    table[i] = static_cast<std::int32_t>(micro * (i - offset) * 65536 / kMillion);
  }
  return table;
}

// The magnitude of entry(x) = trunc(coefficient x x x 65,536) is
// n |x| + floor(fraction x |x|), with n the whole and fraction the
// fractional part of |coefficient| x 65,536.
constexpr std::int64_t WholePart(std::int64_t micro) {
  return (micro < 0 ? -micro : micro) * 65536 / kMillion;
}

constexpr std::int64_t FractionFloor(std::int64_t micro, std::int64_t ax) {
  return (micro < 0 ? -micro : micro) * 65536 % kMillion * ax / kMillion;
}

// The integer rule of a coefficient: the 16-bit multiplier f with
// (f |x|) >> 16 == floor(fraction x |x|) for every |x| <= 255. For the
// coefficients of this file one lies next to fraction x 65,536; MakeRule
// gives f = -1 when none is found, which the checks below refuse.
constexpr bool FractionMultiplierFits(std::int64_t micro, std::int64_t f) {
  for (std::int64_t ax = 0; ax < 256; ++ax) {
    if (((ax * f) >> 16) != FractionFloor(micro, ax)) {
      return false;
    }
  }
  return true;
}

constexpr TTermRule MakeRule(std::int64_t micro) {
  const std::int64_t estimate = (micro < 0 ? -micro : micro) * 65536 % kMillion * 65536 / kMillion;
  for (std::int64_t f = estimate - 4; f <= estimate + 8; ++f) {
    if (f >= 0 && f < 65536 && FractionMultiplierFits(micro, f)) {
      return TTermRule{static_cast<std::int32_t>(WholePart(micro)), static_cast<std::int32_t>(f)};
    }
  }
  return TTermRule{static_cast<std::int32_t>(WholePart(micro)), -1};
}

// True when the rule (with the coefficient's sign) reproduces every entry.
constexpr bool RuleMatches(const TTable& table, const TTermRule& rule, std::int32_t offset, bool negative) {
  if (rule.f < 0) {
    return false;
  }
  for (std::int32_t i = 0; i < 256; ++i) {
    const std::int64_t x = i - offset;
    const std::int64_t ax = x < 0 ? -x : x;
    std::int64_t value = rule.n * ax + ((rule.f * ax) >> 16);
    if ((x < 0) != negative) {
      value = -value;
    }
    if (value != table[i]) {
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Inverse tables (YCbCr -> RGB), by matrix-range code 1..6.

struct TInverseCoefficients {
  std::int64_t luma, blueCb, greenCb, greenCr, redCr;  // millionths
  std::int32_t lumaOffset, chromaOffset;
};

constexpr TInverseCoefficients kInverseCoefficients[6] = {
    {1000000, 1772000, -344136, -714136, 1402000, 0, 128},   // BT.601 0-255
    {1066946, 1890628, -367175, -761945, 1495858, 16, 136},  // BT.601 16-255
    {1164384, 2017232, -391762, -812968, 1596027, 16, 128},  // BT.601 16-235/240
    {1000000, 1855600, -187324, -468124, 1574800, 0, 128},   // BT.709 0-255
    {1066946, 1979824, -199865, -499463, 1680226, 16, 136},  // BT.709 16-255
    {1164384, 2112402, -213249, -532909, 1792741, 16, 128},  // BT.709 16-235/240
};

struct TInverseTables {
  TTable luma, blueCb, greenCb, greenCr, redCr;
};

constexpr std::array<TInverseTables, 6> MakeInverseTables() {
  std::array<TInverseTables, 6> tables{};
  for (std::size_t c = 0; c < 6; ++c) {
    const TInverseCoefficients& k = kInverseCoefficients[c];
    tables[c] = TInverseTables{MakeTable(k.luma, k.lumaOffset), MakeTable(k.blueCb, k.chromaOffset),
                               MakeTable(k.greenCb, k.chromaOffset), MakeTable(k.greenCr, k.chromaOffset),
                               MakeTable(k.redCr, k.chromaOffset)};
  }
  return tables;
}

constexpr std::array<TInverseTables, 6> kInverseTables = MakeInverseTables();

// The clamp of the free converters: index -384..639 -> 0..255.
constexpr std::array<std::uint8_t, 1024> MakeClamp() {
  std::array<std::uint8_t, 1024> clamp{};
  for (std::int32_t i = 0; i < 1024; ++i) {
    const std::int32_t v = i - 384;
    clamp[i] = static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
  }
  return clamp;
}

constexpr std::array<std::uint8_t, 1024> kClamp = MakeClamp();

constexpr std::int32_t TableMin(const TTable& t) {
  std::int32_t v = t[0];
  for (std::int32_t e : t) v = e < v ? e : v;
  return v;
}

constexpr std::int32_t TableMax(const TTable& t) {
  std::int32_t v = t[0];
  for (std::int32_t e : t) v = e > v ? e : v;
  return v;
}

// Every shifted sum of every code lands inside the clamp table.
constexpr bool InverseSumsInClampRange() {
  for (const TInverseTables& t : kInverseTables) {
    const std::int64_t lo =
        32768 + std::int64_t{TableMin(t.luma)} +
        std::min({TableMin(t.blueCb), TableMin(t.greenCb) + TableMin(t.greenCr), TableMin(t.redCr)});
    const std::int64_t hi =
        32768 + std::int64_t{TableMax(t.luma)} +
        std::max({TableMax(t.blueCb), TableMax(t.greenCb) + TableMax(t.greenCr), TableMax(t.redCr)});
    if ((lo >> 16) < -384 || (hi >> 16) > 639) {
      return false;
    }
  }
  return true;
}
static_assert(InverseSumsInClampRange());

constexpr bool InverseRulesMatch() {
  for (std::size_t c = 0; c < 6; ++c) {
    const TInverseCoefficients& k = kInverseCoefficients[c];
    const TInverseTables& t = kInverseTables[c];
    if (!RuleMatches(t.luma, MakeRule(k.luma), k.lumaOffset, false) ||
        !RuleMatches(t.blueCb, MakeRule(k.blueCb), k.chromaOffset, false) ||
        !RuleMatches(t.greenCb, MakeRule(k.greenCb), k.chromaOffset, true) ||
        !RuleMatches(t.greenCr, MakeRule(k.greenCr), k.chromaOffset, true) ||
        !RuleMatches(t.redCr, MakeRule(k.redCr), k.chromaOffset, false)) {
      return false;
    }
  }
  return true;
}
static_assert(InverseRulesMatch());

// The pixel kernels take the luma rule as 65,536 + a 16-bit part.
constexpr bool LumaRulesSplit() {
  for (const TInverseCoefficients& k : kInverseCoefficients) {
    const TTermRule rule = MakeRule(k.luma);
    if (rule.n < 65536 || rule.n > 65536 + 32767) {
      return false;
    }
  }
  return true;
}
static_assert(LumaRulesSplit());

constexpr std::array<TInverseSet, 6> MakeInverseSets() {
  std::array<TInverseSet, 6> sets{};
  for (std::size_t c = 0; c < 6; ++c) {
    const TInverseCoefficients& k = kInverseCoefficients[c];
    const TInverseTables& t = kInverseTables[c];
    TInverseSet& s = sets[c];
    s.lumaOffset = k.lumaOffset;
    s.chromaOffset = k.chromaOffset;
    s.rounding = 32768;
    s.greenSign = 1;
    s.luma = t.luma.data();
    s.blueFromCb = t.blueCb.data();
    s.greenFromCb = t.greenCb.data();
    s.greenFromCr = t.greenCr.data();
    s.redFromCr = t.redCr.data();
    s.clamp = kClamp.data() + 384;
    s.lumaRule = MakeRule(k.luma);
    s.blueRule = MakeRule(k.blueCb);
    s.greenCbRule = MakeRule(k.greenCb);
    s.greenCrRule = MakeRule(k.greenCr);
    s.redRule = MakeRule(k.redCr);
  }
  return sets;
}

constexpr std::array<TInverseSet, 6> kInverseSets = MakeInverseSets();

// ---------------------------------------------------------------------------
// Forward tables (RGB -> YCbCr), by matrix-range code 1..6.

struct TForwardCoefficients {
  std::int64_t yR, yG, yB, cbR, cbG, cbB, crR, crG, crB;  // millionths
  std::int32_t yOffset, yMin, yMax, cOffset, cMin, cMax;
};

constexpr TForwardCoefficients kForwardCoefficients[6] = {
    {299000, 587000, 114000, -168736, -331264, 500000, 500000, -418688, -81312,  //
     0, 0, 255, 128, 0, 255},
    {280239, 550169, 106847, -158149, -310479, 468627, 468627, -392417, -76210,  //
     16, 16, 255, 136, 16, 255},
    {256788, 504129, 97906, -148223, -290993, 439216, 439216, -367788, -71427,  //
     16, 16, 235, 128, 16, 240},
    {212600, 715200, 72200, -114572, -385428, 500000, 500000, -454153, -45847,  //
     0, 0, 255, 128, 0, 255},
    {199260, 670325, 67670, -107383, -361244, 468627, 468627, -425657, -42970,  //
     16, 16, 255, 136, 16, 255},
    {182586, 614231, 62007, -100644, -338572, 439216, 439216, -398942, -40274,  //
     16, 16, 235, 128, 16, 240},
};

struct TForwardTables {
  TTable yR, yG, yB, cbR, cbG, cbB, crR, crG, crB;
  std::int32_t yBias, cBias;  // offset x 65,536 + 32,768
  std::int32_t yMin, yMax, cMin, cMax;
};

constexpr std::array<TForwardTables, 6> MakeForwardTables() {
  std::array<TForwardTables, 6> tables{};
  for (std::size_t c = 0; c < 6; ++c) {
    const TForwardCoefficients& k = kForwardCoefficients[c];
    tables[c] = TForwardTables{MakeTable(k.yR, 0),
                               MakeTable(k.yG, 0),
                               MakeTable(k.yB, 0),
                               MakeTable(k.cbR, 0),
                               MakeTable(k.cbG, 0),
                               MakeTable(k.cbB, 0),
                               MakeTable(k.crR, 0),
                               MakeTable(k.crG, 0),
                               MakeTable(k.crB, 0),
                               k.yOffset * 65536 + 32768,
                               k.cOffset * 65536 + 32768,
                               k.yMin,
                               k.yMax,
                               k.cMin,
                               k.cMax};
  }
  return tables;
}

constexpr std::array<TForwardTables, 6> kForwardTables = MakeForwardTables();

// The kernels' form of one forward component (see TForwardTerms): coefficients
// from blue, green and red in millionths.
constexpr TForwardTerms MakeForwardTerms(std::int64_t blue, std::int64_t green, std::int64_t red,
                                         std::int32_t offset, std::int32_t lo, std::int32_t hi) {
  const auto whole = [](std::int64_t micro) {
    const std::int32_t n = MakeRule(micro).n;
    const std::int32_t signedN = micro < 0 ? -n : n;
    return static_cast<std::int16_t>(signedN > 32767 ? signedN - 65536 : signedN);
  };
  const auto fraction = [](std::int64_t micro) { return static_cast<std::uint16_t>(MakeRule(micro).f); };
  TForwardTerms t;
  t.aB = whole(blue);
  t.aG = whole(green);
  t.aR = whole(red);
  t.fB = fraction(blue);
  t.fG = fraction(green);
  t.fR = fraction(red);
  t.bias = offset * 65536 + 32768;
  t.lo = static_cast<std::uint8_t>(lo);
  t.hi = static_cast<std::uint8_t>(hi);
  return t;
}

constexpr std::array<TForwardSet, 6> MakeForwardSets() {
  std::array<TForwardSet, 6> sets{};
  for (std::size_t c = 0; c < 6; ++c) {
    const TForwardCoefficients& k = kForwardCoefficients[c];
    sets[c].y = MakeForwardTerms(k.yB, k.yG, k.yR, k.yOffset, k.yMin, k.yMax);
    sets[c].cb = MakeForwardTerms(k.cbB, k.cbG, k.cbR, k.cOffset, k.cMin, k.cMax);
    sets[c].cr = MakeForwardTerms(k.crB, k.crG, k.crR, k.cOffset, k.cMin, k.cMax);
    sets[c].wideChroma = MakeRule(k.cbB).n > 32767;
  }
  return sets;
}

constexpr std::array<TForwardSet, 6> kForwardSets = MakeForwardSets();

// The kernels' form holds for every code: each rule reproduces its table;
// the signs are those the kernels' fraction sums take (Y: + + +; Cb: B +,
// G and R -; Cr: R +, G and B -); the whole parts fit 16 signed bits except
// the ones the kernels add back (G of Y always, B of Cb and R of Cr together).
constexpr bool ForwardSetsMatchTables() {
  for (std::size_t c = 0; c < 6; ++c) {
    const TForwardCoefficients& k = kForwardCoefficients[c];
    const TForwardTables& t = kForwardTables[c];
    const std::int64_t micro[9] = {k.yR, k.yG, k.yB, k.cbR, k.cbG, k.cbB, k.crR, k.crG, k.crB};
    const TTable* tables[9] = {&t.yR, &t.yG, &t.yB, &t.cbR, &t.cbG, &t.cbB, &t.crR, &t.crG, &t.crB};
    const int signs[9] = {1, 1, 1, -1, -1, 1, 1, -1, -1};
    for (std::size_t i = 0; i < 9; ++i) {
      if ((micro[i] < 0 ? -1 : 1) != signs[i] ||
          !RuleMatches(*tables[i], MakeRule(micro[i]), 0, micro[i] < 0)) {
        return false;
      }
      const std::int64_t n = MakeRule(micro[i]).n * std::int64_t{signs[i]};
      const bool wide =
          (i == 1) || (i == 5 && kForwardSets[c].wideChroma) || (i == 6 && kForwardSets[c].wideChroma);
      if (wide ? (n < 32768 || n > 65535) : (n < -32768 || n > 32767)) {
        return false;
      }
    }
  }
  return true;
}
static_assert(ForwardSetsMatchTables());

}  // namespace

const TInverseSet& InverseSetForCode(std::int32_t code) { return kInverseSets[code - 1]; }

const TForwardSet& ForwardSetForCode(std::int32_t code) { return kForwardSets[code - 1]; }

}  // namespace detail

namespace {

using detail::TInverseSet;

// Pixels per segment of a row; even, so that no pixel pair is split.
constexpr std::int32_t kSegment = 512;
constexpr std::int32_t kPairs = kSegment / 2;

// The per-segment scratch of a conversion to RGB, on the stack: luma of a
// packed row, chroma values of the even and the odd pixels of each pair.
struct TSegmentScratch {
  alignas(64) std::uint8_t y[kSegment];
  alignas(64) std::uint8_t cb[2][kPairs];
  alignas(64) std::uint8_t cr[2][kPairs];
};

inline std::uint8_t FloorMean(std::uint8_t a, std::uint8_t b) {
  return static_cast<std::uint8_t>((a + b) >> 1);
}

// The output rows of an RGB picture: row r of the picture (top row 0) at
// first + r x stride.
struct TRgbTarget {
  std::uint8_t* first = nullptr;
  std::ptrdiff_t stride = 0;
  std::int32_t bytesPerPixel = 0;
};

// One luma row of a segment and where its pixels go.
struct TRowOut {
  const std::uint8_t* y;
  std::uint8_t* out;
};

// The chroma values of a segment: per pixel pair one value pair (shared by
// both pixels) or one for the even and one for the odd pixel.
struct TSegmentValues {
  const std::uint8_t* cb[2] = {};
  const std::uint8_t* cr[2] = {};
  bool shared = true;
};

// Converts the rows of a segment that take the same chroma values.
void ConvertSegment(const TInverseSet& set, const TSegmentValues& values, const TRowOut* rows,
                    std::int32_t rowCount, std::int32_t length, std::int32_t bytesPerPixel) {
  const std::uint8_t* y[2] = {rows[0].y, rowCount > 1 ? rows[1].y : nullptr};
  std::uint8_t* out[2] = {rows[0].out, rowCount > 1 ? rows[1].out : nullptr};
  const std::int32_t odd = values.shared ? 0 : 1;
  const detail::TPairValues pairs{values.cb[0], values.cr[0], values.cb[odd], values.cr[odd]};
  detail::InverseKernels().pairRows(set, pairs, y, out, rowCount, length, bytesPerPixel);
}

// The planes of a planar frame as the row loop sees them.
struct TPlanarSource {
  const std::uint8_t* y = nullptr;
  const std::uint8_t* cb = nullptr;
  const std::uint8_t* cr = nullptr;
  std::ptrdiff_t yStride = 0;
  std::ptrdiff_t chromaStride = 0;
  std::int32_t chromaColumns = 0;  // chroma samples per row that belong to the picture
  std::int32_t chromaRows = 0;     // chroma rows that belong to the picture
  std::int32_t siting = 0;         // 1..7
};

// Copies samples [k0, k0 + count) of a row, the row's last sample standing
// in for those beyond it.
inline void CopySamples(const std::uint8_t* row, std::int32_t last, std::int32_t k0, std::int32_t count,
                        std::uint8_t* out) {
  const std::int32_t present = std::clamp(last + 1 - k0, 0, count);
  if (present > 0) {
    std::memcpy(out, row + k0, static_cast<std::size_t>(present));
  }
  for (std::int32_t i = present; i < count; ++i) {
    out[i] = row[last];
  }
}

// Floor means of neighbouring samples: out[i] = mean(s[k0 + i], s[k0 + i + 1]),
// the last sample standing in beyond the row.
inline void MeanWithNext(const std::uint8_t* row, std::int32_t last, std::int32_t k0, std::int32_t count,
                         std::uint8_t* out) {
  const std::int32_t inside = std::clamp(last - k0, 0, count);  // k0 + i + 1 <= last
  for (std::int32_t i = 0; i < inside; ++i) {
    out[i] = FloorMean(row[k0 + i], row[k0 + i + 1]);
  }
  for (std::int32_t i = inside; i < count; ++i) {
    out[i] = FloorMean(row[std::min(k0 + i, last)], row[last]);
  }
}

// Gathers the chroma values of pixels [x0, x0 + length) (x0 even) of one
// chroma row by the siting. Values that are plain samples of the row are
// taken in place; the others are made in the scratch.
TSegmentValues GatherChroma(const TPlanarSource& src, const std::uint8_t* cbRow, const std::uint8_t* crRow,
                            std::int32_t x0, std::int32_t length, std::uint8_t neutral, TSegmentScratch& s) {
  const std::int32_t pairs = (length + 1) / 2;
  const std::int32_t last = src.chromaColumns - 1;
  const std::int32_t k0 = x0 / 2;
  TSegmentValues values;
  values.cb[0] = s.cb[0];
  values.cr[0] = s.cr[0];
  values.cb[1] = s.cb[1];
  values.cr[1] = s.cr[1];
  values.shared = false;
  // Samples [k0, k0 + pairs) of the row, in place when the row holds them all.
  const auto samples = [&](std::int32_t e) {
    if (k0 + pairs <= last + 1) {
      values.cb[e] = cbRow + k0;
      values.cr[e] = crRow + k0;
    } else {
      CopySamples(cbRow, last, k0, pairs, s.cb[e]);
      CopySamples(crRow, last, k0, pairs, s.cr[e]);
    }
  };
  if (cbRow == nullptr || last < 0) {
    std::memset(s.cb[0], neutral, static_cast<std::size_t>(pairs));
    std::memset(s.cr[0], neutral, static_cast<std::size_t>(pairs));
    values.shared = true;
    return values;
  }
  switch (src.siting) {
    case 1: {
      // Every pixel has its own sample; an odd last pixel repeats its own
      // for the missing partner.
      const std::int32_t whole = length / 2;
      const std::uint8_t* cb = cbRow + x0;
      const std::uint8_t* cr = crRow + x0;
      for (std::int32_t i = 0; i < whole; ++i) {
        s.cb[0][i] = cb[2 * i];
        s.cb[1][i] = cb[2 * i + 1];
      }
      for (std::int32_t i = 0; i < whole; ++i) {
        s.cr[0][i] = cr[2 * i];
        s.cr[1][i] = cr[2 * i + 1];
      }
      if (whole < pairs) {
        s.cb[0][whole] = s.cb[1][whole] = cb[2 * whole];
        s.cr[0][whole] = s.cr[1][whole] = cr[2 * whole];
      }
      break;
    }
    case 2:
    case 5:
      // Cosited with the even pixel: the odd pixel takes the mean of its neighbours.
      samples(0);
      MeanWithNext(cbRow, last, k0, pairs, s.cb[1]);
      MeanWithNext(crRow, last, k0, pairs, s.cr[1]);
      break;
    case 3:
    case 6:
      // Cosited with the odd pixel: the even pixel takes the mean of its
      // neighbours, pixel 0 the first sample.
      samples(1);
      if (k0 == 0) {
        s.cb[0][0] = cbRow[0];
        s.cr[0][0] = crRow[0];
        MeanWithNext(cbRow, last, 0, pairs - 1, s.cb[0] + 1);
        MeanWithNext(crRow, last, 0, pairs - 1, s.cr[0] + 1);
      } else {
        MeanWithNext(cbRow, last, k0 - 1, pairs, s.cb[0]);
        MeanWithNext(crRow, last, k0 - 1, pairs, s.cr[0]);
      }
      break;
    default:
      // Centred: both pixels of a pair take its sample.
      samples(0);
      values.shared = true;
      break;
  }
  return values;
}

// Converts a planar picture of width x height to RGB rows.
void ConvertPlanarToRgb(const TInverseSet& set, const TPlanarSource& src, const TRgbTarget& dst,
                        std::int32_t width, std::int32_t height) {
  TSegmentScratch scratch;
  const bool rowPairs = src.siting >= 5;
  const std::uint8_t neutral = static_cast<std::uint8_t>(set.chromaOffset);
  for (std::int32_t r = 0; r < height; r += rowPairs ? 2 : 1) {
    const std::int32_t rowCount = rowPairs && r + 1 < height ? 2 : 1;
    const std::uint8_t* cbRow = nullptr;
    const std::uint8_t* crRow = nullptr;
    if (src.chromaRows > 0) {
      const std::int32_t j = std::min(rowPairs ? r / 2 : r, src.chromaRows - 1);
      cbRow = src.cb + j * src.chromaStride;
      crRow = src.cr + j * src.chromaStride;
    }
    for (std::int32_t x0 = 0; x0 < width; x0 += kSegment) {
      const std::int32_t length = std::min(kSegment, width - x0);
      const TSegmentValues values = GatherChroma(src, cbRow, crRow, x0, length, neutral, scratch);
      TRowOut rows[2];
      for (std::int32_t i = 0; i < rowCount; ++i) {
        rows[i].y = src.y + (r + i) * src.yStride + x0;
        rows[i].out = dst.first + (r + i) * dst.stride + x0 * dst.bytesPerPixel;
      }
      ConvertSegment(set, values, rows, rowCount, length, dst.bytesPerPixel);
    }
  }
}

// Converts packed YUY2 rows of 2 x width bytes to RGB rows.
void ConvertYuy2ToRgb(const TInverseSet& set, const std::uint8_t* source, const TRgbTarget& dst,
                      std::int32_t width, std::int32_t height) {
  TSegmentScratch scratch;
  const detail::TInverseKernels& kernels = detail::InverseKernels();
  const std::uint8_t neutral = static_cast<std::uint8_t>(set.chromaOffset);
  const std::ptrdiff_t rowBytes = std::ptrdiff_t{2} * width;
  for (std::int32_t r = 0; r < height; ++r) {
    const std::uint8_t* row = source + r * rowBytes;
    std::uint8_t* out = dst.first + r * dst.stride;
    // Whole steps of the kernel in one pass, the rest through the scratch.
    const std::int32_t done =
        kernels.yuy2Row != nullptr ? kernels.yuy2Row(set, row, out, width, dst.bytesPerPixel) : 0;
    for (std::int32_t x0 = done; x0 < width; x0 += kSegment) {
      const std::int32_t length = std::min(kSegment, width - x0);
      const std::int32_t whole = length / 2;
      kernels.yuy2Split(row + 2 * std::ptrdiff_t{x0}, whole, scratch.y, scratch.cb[0], scratch.cr[0]);
      if (whole * 2 < length) {
        // An odd last pixel: its group ends after Y0 and Cb; Cr comes from
        // the group before.
        const std::ptrdiff_t p = x0 + 2 * whole;  // the pixel's index in the row
        scratch.y[2 * whole] = row[2 * p];
        scratch.cb[0][whole] = row[2 * p + 1];
        scratch.cr[0][whole] = p > 0 ? row[2 * p - 1] : neutral;
      }
      const TRowOut segment{scratch.y, out + x0 * dst.bytesPerPixel};
      TSegmentValues values;
      values.cb[0] = scratch.cb[0];
      values.cr[0] = scratch.cr[0];
      ConvertSegment(set, values, &segment, 1, length, dst.bytesPerPixel);
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// CImageColorConversion

CImageColorConversion::CImageColorConversion() {
  for (std::int32_t i = 0; i < kClampSize; ++i) {
    const std::int32_t v = i - kClampCentre;
    m_ClampStorage[i] = static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
  }
  for (std::int32_t i = 0; i < 256; ++i) {
    m_RedFromCr[i] = (i - 128) * 104597;
    m_BlueFromCb[i] = (i - 128) * 132201;
    m_GreenFromCb[i] = (i - 128) * 25675;
    m_GreenFromCr[i] = (i - 128) * 53279;
    m_Luma[i] = (i - 16) * 76309;
  }
}

CImageColorConversion::~CImageColorConversion() = default;

bool CImageColorConversion::ConvertYuv420(const std::uint8_t* pY, std::ptrdiff_t nYStride,
                                          const std::uint8_t* pCb, const std::uint8_t* pCr,
                                          std::ptrdiff_t nChromaStride, std::uint8_t* pOut,
                                          std::ptrdiff_t nOutStride, std::int32_t nBytesPerPixel,
                                          std::int32_t nWidth, std::int32_t nHeight) const {
  if (pY == nullptr || pCb == nullptr || pCr == nullptr || pOut == nullptr || nWidth <= 0 || nHeight <= 0 ||
      (nBytesPerPixel != 3 && nBytesPerPixel != 4) || nYStride < nWidth || nChromaStride < (nWidth + 1) / 2 ||
      (nOutStride < 0 ? -nOutStride : nOutStride) < std::ptrdiff_t{nWidth} * nBytesPerPixel) {
    return false;
  }
  TInverseSet set;
  set.lumaOffset = 16;
  set.chromaOffset = 128;
  set.rounding = 0;
  set.greenSign = -1;
  set.luma = m_Luma.data();
  set.blueFromCb = m_BlueFromCb.data();
  set.greenFromCb = m_GreenFromCb.data();
  set.greenFromCr = m_GreenFromCr.data();
  set.redFromCr = m_RedFromCr.data();
  set.clamp = Clamp();
  set.lumaRule = {76309, 0};
  set.blueRule = {132201, 0};
  set.greenCbRule = {25675, 0};
  set.greenCrRule = {53279, 0};
  set.redRule = {104597, 0};

  TPlanarSource src;
  src.y = pY;
  src.cb = pCb;
  src.cr = pCr;
  src.yStride = nYStride;
  src.chromaStride = nChromaStride;
  src.chromaColumns = (nWidth + 1) / 2;
  src.chromaRows = (nHeight + 1) / 2;
  src.siting = 7;  // every 2 x 2 block shares one sample
  ConvertPlanarToRgb(set, src, TRgbTarget{pOut, nOutStride, nBytesPerPixel}, nWidth, nHeight);
  return true;
}

void CImageColorConversion::ConvertYuv420ToRgb24(const std::uint8_t* pY, const std::uint8_t* pCb,
                                                 const std::uint8_t* pCr, std::uint8_t* pOut,
                                                 std::int32_t nWidth, std::int32_t nHeight) const {
  if (pOut == nullptr || nWidth <= 0 || nHeight <= 0) {
    return;
  }
  const std::ptrdiff_t stride = std::ptrdiff_t{3} * nWidth;
  ConvertYuv420(pY, nWidth, pCb, pCr, (nWidth + 1) / 2, pOut + stride * (nHeight - 1), -stride, 3, nWidth,
                nHeight);
}

void CImageColorConversion::ConvertYuv420ToRgb32(const std::uint8_t* pY, const std::uint8_t* pCb,
                                                 const std::uint8_t* pCr, std::uint8_t* pOut,
                                                 std::int32_t nWidth, std::int32_t nHeight) const {
  ConvertYuv420(pY, nWidth, pCb, pCr, (nWidth + 1) / 2, pOut, std::ptrdiff_t{4} * nWidth, 4, nWidth, nHeight);
}

void CImageColorConversion::ConvertYuv420ToRgb32Flip(const std::uint8_t* pY, const std::uint8_t* pCb,
                                                     const std::uint8_t* pCr, std::uint8_t* pOut,
                                                     std::int32_t nWidth, std::int32_t nHeight,
                                                     std::int32_t nStride) const {
  if (pOut == nullptr || nWidth <= 0 || nHeight <= 0 || nStride < std::int64_t{4} * nWidth) {
    return;
  }
  ConvertYuv420(pY, nWidth, pCb, pCr, (nWidth + 1) / 2, pOut + std::ptrdiff_t{nStride} * (nHeight - 1),
                -std::ptrdiff_t{nStride}, 4, nWidth, nHeight);
}

}  // namespace ImageColorConversion

// ---------------------------------------------------------------------------
// Whole-frame converters

namespace ZarnTypes {

namespace {

using ImageColorConversion::TPlanarSource;
using ImageColorConversion::TRgbTarget;
using ImageColorConversion::detail::TForwardTables;

// The rows of a bottom-up RGB frame: picture row r (top row 0) lies at
// top + r x step. False for another format or a frame that cannot hold its
// rows.
bool RgbRows(const TFrameBuffer& frame, std::int32_t width, std::int32_t height, TRgbTarget& rows) {
  std::int32_t bytesPerPixel = 0;
  if (frame.ePixelFormat == PF_RGB24) {
    bytesPerPixel = 3;
  } else if (frame.ePixelFormat == PF_RGB32) {
    bytesPerPixel = 4;
  } else {
    return false;
  }
  if (frame.pBuffer == nullptr || width <= 0 || height <= 0 || frame.nWidth != width ||
      frame.nHeight != height) {
    return false;
  }
  const std::int64_t rowBytes = std::int64_t{width} * bytesPerPixel;
  if (frame.nStride < rowBytes ||
      std::int64_t{frame.nStride} * (height - 1) + rowBytes > std::int64_t{frame.nSize}) {
    return false;
  }
  rows.first = frame.pBuffer + std::ptrdiff_t{frame.nStride} * (height - 1);
  rows.stride = -std::ptrdiff_t{frame.nStride};
  rows.bytesPerPixel = bytesPerPixel;
  return true;
}

// The planes of a planar frame and the part of them the picture covers.
struct TPlanarLayout {
  std::uint8_t* y = nullptr;
  std::uint8_t* cb = nullptr;
  std::uint8_t* cr = nullptr;
  std::ptrdiff_t yStride = 0;
  std::ptrdiff_t chromaStride = 0;
  std::int32_t chromaColumns = 0;
  std::int32_t chromaRows = 0;
  std::int32_t siting = 0;
};

// Lays out the planes of a frame by its sampling-siting code: the Y plane has
// rows of the aligned width, the chroma planes rows of aligned width / 2 for
// 4:2:2 and 4:2:0 (half as many rows for 4:2:0). False when the record cannot
// hold that layout.
bool PlanarLayout(const TYuvFrameBuffer& frame, std::int32_t siting, TPlanarLayout& layout) {
  const std::int32_t width = frame.nWidth;
  const std::int32_t height = frame.nHeight;
  const std::int32_t alignedWidth = frame.nAlignedWidth;
  const std::int32_t alignedHeight = frame.nAlignedHeight;
  if (frame.pBuffer == nullptr || frame.pCb == nullptr || frame.pCr == nullptr || width <= 0 || height <= 0 ||
      alignedWidth < width || alignedHeight < height) {
    return false;
  }
  const bool full = siting == 1;
  const bool rowPairs = siting >= 5;
  const std::int32_t chromaStride = full ? alignedWidth : alignedWidth / 2;
  const std::int32_t chromaPlaneRows = rowPairs ? alignedHeight / 2 : alignedHeight;
  const std::int64_t chromaBytes = std::int64_t{chromaStride} * chromaPlaneRows;
  if (std::int64_t{alignedWidth} * alignedHeight > frame.nYSize || chromaBytes > frame.nCbSize ||
      chromaBytes > frame.nCrSize) {
    return false;
  }
  layout.y = frame.pBuffer;
  layout.cb = frame.pCb;
  layout.cr = frame.pCr;
  layout.yStride = alignedWidth;
  layout.chromaStride = chromaStride;
  layout.chromaColumns = full ? width : std::min((width + 1) / 2, chromaStride);
  layout.chromaRows = rowPairs ? std::min((height + 1) / 2, chromaPlaneRows) : height;
  layout.siting = siting;
  return true;
}

inline std::uint8_t ClampTo(std::int32_t v, std::int32_t lo, std::int32_t hi) {
  return static_cast<std::uint8_t>(v < lo ? lo : (v > hi ? hi : v));
}

// One row of RGB pixels: the clamped luma of every pixel into `y`, and its
// rounded but unclamped Cb and Cr into `cb` and `cr`.
template <std::int32_t kBytesPerPixel>
void ForwardRow(const TForwardTables& t, const std::uint8_t* px, std::int32_t count, std::uint8_t* y,
                std::int16_t* cb, std::int16_t* cr) {
  // Locals, so that the stores are not taken to change the tables.
  const std::int32_t* const yR = t.yR.data();
  const std::int32_t* const yG = t.yG.data();
  const std::int32_t* const yB = t.yB.data();
  const std::int32_t* const cbR = t.cbR.data();
  const std::int32_t* const cbG = t.cbG.data();
  const std::int32_t* const cbB = t.cbB.data();
  const std::int32_t* const crR = t.crR.data();
  const std::int32_t* const crG = t.crG.data();
  const std::int32_t* const crB = t.crB.data();
  const std::int32_t yBias = t.yBias;
  const std::int32_t cBias = t.cBias;
  const std::int32_t yMin = t.yMin;
  const std::int32_t yMax = t.yMax;
  for (std::int32_t x = 0; x < count; ++x, px += kBytesPerPixel) {
    const std::uint8_t b = px[0];
    const std::uint8_t g = px[1];
    const std::uint8_t r = px[2];
    y[x] = ClampTo((yBias + yR[r] + yG[g] + yB[b]) >> 16, yMin, yMax);
    cb[x] = static_cast<std::int16_t>((cBias + cbR[r] + cbG[g] + cbB[b]) >> 16);
    cr[x] = static_cast<std::int16_t>((cBias + crR[r] + crG[g] + crB[b]) >> 16);
  }
}

// The chroma samples [k0, k1) of one chroma row from the unclamped values of
// the pixels of one row (4:4:4, 4:2:2) or two rows (4:2:0), whose first pixel
// is pixel 2 k0 (4:4:4: k0) of the picture; `last` is the segment's last
// pixel. A pair or block cut short by the picture's edge repeats the pixels
// present.
void ChromaSamples(std::int32_t siting, const std::int16_t* upper, const std::int16_t* lower, std::int32_t k0,
                   std::int32_t k1, std::int32_t last, std::int32_t lo, std::int32_t hi, std::uint8_t* out) {
  if (siting == 1) {
    for (std::int32_t k = k0; k < k1; ++k) {
      out[k] = ClampTo(upper[k - k0], lo, hi);
    }
    return;
  }
  // Pairs wholly inside the segment, then a pair cut short by its end.
  const std::int32_t whole = std::min(k1, k0 + (last + 1) / 2);
  const auto each = [&](auto&& sample) {
    for (std::int32_t k = k0; k < whole; ++k) {
      const std::int32_t even = 2 * (k - k0);
      out[k] = ClampTo(sample(even, even + 1), lo, hi);
    }
    for (std::int32_t k = whole; k < k1; ++k) {
      const std::int32_t even = 2 * (k - k0);
      out[k] = ClampTo(sample(even, std::min(even + 1, last)), lo, hi);
    }
  };
  switch (siting) {
    case 2: each([&](std::int32_t e, std::int32_t) { return std::int32_t{upper[e]}; }); break;
    case 3: each([&](std::int32_t, std::int32_t o) { return std::int32_t{upper[o]}; }); break;
    case 4: each([&](std::int32_t e, std::int32_t o) { return (upper[e] + upper[o]) >> 1; }); break;
    case 5: each([&](std::int32_t e, std::int32_t) { return (upper[e] + lower[e]) >> 1; }); break;
    case 6: each([&](std::int32_t, std::int32_t o) { return (upper[o] + lower[o]) >> 1; }); break;
    default:
      each([&](std::int32_t e, std::int32_t o) { return (upper[e] + upper[o] + lower[e] + lower[o]) >> 2; });
      break;
  }
}

// Converts pixels [x, width) of picture row r, or of rows r and r + 1
// (rowCount 2, 4:2:0), through the tables; x is even. `hasChroma`: the
// chroma row of these rows lies inside the plane.
void ConvertRowsFrom(const TForwardTables& t, const TRgbTarget& src, const TPlanarLayout& dst, std::int32_t r,
                     std::int32_t rowCount, bool hasChroma, std::int32_t x, std::int32_t width) {
  constexpr std::int32_t kSegment = 512;
  std::int16_t cb[2][kSegment];
  std::int16_t cr[2][kSegment];
  const bool rowPairs = dst.siting >= 5;
  const bool full = dst.siting == 1;
  const std::int32_t j = rowPairs ? r / 2 : r;
  for (std::int32_t x0 = x; x0 < width; x0 += kSegment) {
    const std::int32_t length = std::min(kSegment, width - x0);
    for (std::int32_t i = 0; i < rowCount; ++i) {
      const std::uint8_t* px = src.first + (r + i) * src.stride + std::ptrdiff_t{x0} * src.bytesPerPixel;
      std::uint8_t* y = dst.y + (r + i) * dst.yStride + x0;
      if (src.bytesPerPixel == 4) {
        ForwardRow<4>(t, px, length, y, cb[i], cr[i]);
      } else {
        ForwardRow<3>(t, px, length, y, cb[i], cr[i]);
      }
    }
    if (!hasChroma) {
      continue;
    }
    // A missing lower row repeats the upper one.
    const std::int32_t lower = rowCount - 1;
    const std::int32_t k0 = full ? x0 : x0 / 2;
    const std::int32_t k1 = std::min(dst.chromaColumns, full ? x0 + length : (x0 + length + 1) / 2);
    std::uint8_t* cbRow = dst.cb + j * dst.chromaStride;
    std::uint8_t* crRow = dst.cr + j * dst.chromaStride;
    ChromaSamples(dst.siting, cb[0], cb[lower], k0, k1, length - 1, t.cMin, t.cMax, cbRow);
    ChromaSamples(dst.siting, cr[0], cr[lower], k0, k1, length - 1, t.cMin, t.cMax, crRow);
  }
}

// The whole picture: the row kernels of the family in use take the first
// pixels of each row (pair), the tables the rest. `kernel` null: the tables
// take every pixel.
void ConvertRgbToPlanar(const TForwardTables& t, const ImageColorConversion::detail::TForwardSet& set,
                        ImageColorConversion::detail::TForwardRowsFn kernel, const TRgbTarget& src,
                        const TPlanarLayout& dst, std::int32_t width, std::int32_t height) {
  const bool rowPairs = dst.siting >= 5;
  for (std::int32_t r = 0; r < height; r += rowPairs ? 2 : 1) {
    const std::int32_t rowCount = rowPairs && r + 1 < height ? 2 : 1;
    // The chroma row of these rows; none when the plane has no place for it.
    const std::int32_t j = rowPairs ? r / 2 : r;
    const bool hasChroma = j < dst.chromaRows;
    std::int32_t done = 0;
    if (kernel != nullptr) {
      // An odd last row of 4:2:0 is its own lower row.
      const std::int32_t lower = r + rowCount - 1;
      const std::uint8_t* rgb[2] = {src.first + r * src.stride, src.first + lower * src.stride};
      std::uint8_t* y[2] = {dst.y + r * dst.yStride, dst.y + lower * dst.yStride};
      done = kernel(set, dst.siting, rgb, src.bytesPerPixel, y,
                    hasChroma ? dst.cb + j * dst.chromaStride : nullptr,
                    hasChroma ? dst.cr + j * dst.chromaStride : nullptr, width);
    }
    ConvertRowsFrom(t, src, dst, r, rowCount, hasChroma, done, width);
  }
}

// Checks the records and lays out both frames for a conversion to YUV.
bool PrepareRgbToYuv(const TFrameBuffer& source, const TYuvFrameBuffer& destination, std::int32_t& code,
                     TRgbTarget& rows, TPlanarLayout& layout) {
  code = GetYuvMatrixRangeCode(destination.ePixelFormat);
  const std::int32_t siting = GetYuvSubsamplingSiting(destination.ePixelFormat);
  if (code < 1 || code > 6 || siting < 1 || siting > 7) {
    return false;
  }
  return RgbRows(source, destination.nWidth, destination.nHeight, rows) &&
         PlanarLayout(destination, siting, layout);
}

}  // namespace

bool ConvertRgbToYuv(const TFrameBuffer& source, TYuvFrameBuffer& destination) {
  std::int32_t code = 0;
  TRgbTarget rows;
  TPlanarLayout layout;
  if (!PrepareRgbToYuv(source, destination, code, rows, layout)) {
    return false;
  }
  ConvertRgbToPlanar(ImageColorConversion::detail::kForwardTables[code - 1],
                     ImageColorConversion::detail::ForwardSetForCode(code),
                     ImageColorConversion::detail::ForwardKernels().rows, rows, layout, destination.nWidth,
                     destination.nHeight);
  return true;
}

namespace detail {

bool ConvertRgbToYuvReference(const TFrameBuffer& source, TYuvFrameBuffer& destination) {
  std::int32_t code = 0;
  TRgbTarget rows;
  TPlanarLayout layout;
  if (!PrepareRgbToYuv(source, destination, code, rows, layout)) {
    return false;
  }
  ConvertRgbToPlanar(ImageColorConversion::detail::kForwardTables[code - 1],
                     ImageColorConversion::detail::ForwardSetForCode(code), nullptr, rows, layout,
                     destination.nWidth, destination.nHeight);
  return true;
}

}  // namespace detail

bool ConvertYuvToRgb(const TYuvFrameBuffer& source, TFrameBuffer& destination) {
  const std::int32_t code = GetYuvMatrixRangeCode(source.ePixelFormat);
  if (code < 1 || code > 6) {
    return false;
  }
  const ImageColorConversion::detail::TInverseSet& set =
      ImageColorConversion::detail::InverseSetForCode(code);
  TRgbTarget rows;
  if (!RgbRows(destination, source.nWidth, source.nHeight, rows)) {
    return false;
  }
  if (source.ePixelFormat == PF_YUY2) {
    if (source.pBuffer == nullptr || std::int64_t{2} * source.nWidth * source.nHeight > source.nTotalSize) {
      return false;
    }
    ImageColorConversion::ConvertYuy2ToRgb(set, source.pBuffer, rows, source.nWidth, source.nHeight);
    return true;
  }
  const std::int32_t siting = GetYuvSubsamplingSiting(source.ePixelFormat);
  TPlanarLayout layout;
  if (siting < 1 || siting > 7 || !PlanarLayout(source, siting, layout)) {
    return false;
  }
  TPlanarSource planes;
  planes.y = layout.y;
  planes.cb = layout.cb;
  planes.cr = layout.cr;
  planes.yStride = layout.yStride;
  planes.chromaStride = layout.chromaStride;
  planes.chromaColumns = layout.chromaColumns;
  planes.chromaRows = layout.chromaRows;
  planes.siting = siting;
  ImageColorConversion::ConvertPlanarToRgb(set, planes, rows, source.nWidth, source.nHeight);
  return true;
}

}  // namespace ZarnTypes
