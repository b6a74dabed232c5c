// Picture-in-picture composites and their scaler.

#include "media/pip_composite.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace PipComposite {

namespace {

// Products of user rectangles never overflow in it.
__extension__ typedef __int128 Wide;

constexpr int kWeightBits = 14;
constexpr std::uint32_t kWeightOne = 1u << kWeightBits;

bool Usable32(const Dib::TDibSection& picture) {
  if (picture.BitCount() != 32 || picture.Width() <= 0 || picture.Height() <= 0) return false;
  return picture.bits.size() >= picture.Stride() * static_cast<std::size_t>(picture.Height());
}

// The source pixel under the centre of target pixel k (0-based inside the
// target rectangle) along one axis: from + floor((k + 1/2) x size / length).
std::int64_t CentreSample(std::int64_t from, std::int64_t size, std::int64_t length, std::int64_t k) {
  const Wide n = (Wide{2} * k + 1) * size;
  const Wide d = Wide{2} * length;
  Wide q = n / d;
  if (n % d != 0 && n < 0) --q;  // floor
  return static_cast<std::int64_t>(from + q);
}

// One axis of a stretch: the target positions drawn and, for each, the
// source pixels it reads with their weights.
struct TAxis {
  std::int64_t first = 0;            // first target position drawn
  std::int64_t count = 0;            // positions drawn
  std::vector<std::int32_t> sample;  // nearest: the source pixel of each position
  // area: for position i, taps tapStart[i] .. tapStart[i + 1] - 1
  std::vector<std::int32_t> tapStart;
  std::vector<std::int32_t> tapPixel;
  std::vector<std::uint32_t> tapWeight;  // summing to kWeightOne per position
};

// `to`/`toLength`: the target rectangle's start and length on this axis,
// `limit` the target picture's extent; `from`/`fromLength` and `sourceLimit`
// the same for the source.
bool BuildAxis(std::int64_t to, std::int64_t toLength, std::int64_t limit, std::int64_t from,
               std::int64_t fromLength, std::int64_t sourceLimit, TStretchMode mode, TAxis& axis) {
  axis = TAxis{};
  if (toLength <= 0 || fromLength <= 0) return false;
  const std::int64_t begin = std::max<std::int64_t>(to, 0);
  const std::int64_t end = std::min<std::int64_t>(to + toLength, limit);
  // Positions whose centre maps inside the source; they form one run.
  std::int64_t first = -1, last = -1;
  for (std::int64_t t = begin; t < end; ++t) {
    const std::int64_t s = CentreSample(from, fromLength, toLength, t - to);
    if (s < 0) continue;
    if (s >= sourceLimit) break;
    if (first < 0) first = t;
    last = t;
  }
  if (first < 0) return false;
  axis.first = first;
  axis.count = last - first + 1;
  if (mode == STRETCH_NEAREST) {
    axis.sample.resize(static_cast<std::size_t>(axis.count));
    for (std::int64_t i = 0; i < axis.count; ++i)
      axis.sample[static_cast<std::size_t>(i)] =
          static_cast<std::int32_t>(CentreSample(from, fromLength, toLength, first + i - to));
    return true;
  }
  // Area: in units of 1 / toLength source pixels, target position k covers
  // [from x toLength + k x fromLength, from x toLength + (k + 1) x fromLength)
  // and source pixel s covers [s x toLength, (s + 1) x toLength).
  axis.tapStart.reserve(static_cast<std::size_t>(axis.count) + 1);
  for (std::int64_t i = 0; i < axis.count; ++i) {
    axis.tapStart.push_back(static_cast<std::int32_t>(axis.tapPixel.size()));
    const Wide k = first + i - to;
    const Wide spanBegin = Wide{from} * toLength + k * fromLength;
    const Wide spanEnd = spanBegin + fromLength;
    Wide lo = spanBegin / toLength;
    if (spanBegin % toLength != 0 && spanBegin < 0) --lo;
    Wide hi = (spanEnd - 1) / toLength;
    if ((spanEnd - 1) % toLength != 0 && spanEnd - 1 < 0) --hi;
    lo = std::max<Wide>(lo, 0);
    hi = std::min<Wide>(hi, sourceLimit - 1);
    Wide total = 0;
    for (Wide s = lo; s <= hi; ++s)
      total += std::min(spanEnd, (s + 1) * toLength) - std::max(spanBegin, s * toLength);
    // Cumulative rounding: the weights add up to exactly one.
    Wide done = 0;
    std::uint32_t given = 0;
    for (Wide s = lo; s <= hi; ++s) {
      done += std::min(spanEnd, (s + 1) * toLength) - std::max(spanBegin, s * toLength);
      const auto upTo = static_cast<std::uint32_t>(done * kWeightOne / total);
      if (upTo > given) {
        axis.tapPixel.push_back(static_cast<std::int32_t>(s));
        axis.tapWeight.push_back(upTo - given);
        given = upTo;
      }
    }
  }
  axis.tapStart.push_back(static_cast<std::int32_t>(axis.tapPixel.size()));
  return true;
}

void StretchNearest(const Dib::TDibSection& source, Dib::TDibSection& target, const TAxis& ax,
                    const TAxis& ay) {
  for (std::int64_t j = 0; j < ay.count; ++j) {
    const auto* from = reinterpret_cast<const std::uint8_t*>(source.RowFromTop(ay.sample[j]));
    std::uint8_t* to = target.RowFromTop(static_cast<int>(ay.first + j)) + 4 * ax.first;
    for (std::int64_t i = 0; i < ax.count; ++i) std::memcpy(to + 4 * i, from + 4 * ax.sample[i], 4);
  }
}

void StretchArea(const Dib::TDibSection& source, Dib::TDibSection& target, const TAxis& ax, const TAxis& ay) {
  // Columns of the source any target pixel reads.
  const std::int32_t colBegin = ax.tapPixel.front();
  const std::int32_t colEnd = ax.tapPixel.back() + 1;
  const std::size_t width = static_cast<std::size_t>(colEnd - colBegin) * 4;
  std::vector<std::uint32_t> acc(width);
  for (std::int64_t j = 0; j < ay.count; ++j) {
    // Rows first: the weighted sum of the source rows of this target row.
    std::fill(acc.begin(), acc.end(), 0u);
    for (std::int32_t t = ay.tapStart[j]; t < ay.tapStart[j + 1]; ++t) {
      const std::uint8_t* row = source.RowFromTop(ay.tapPixel[t]) + 4 * colBegin;
      const std::uint32_t w = ay.tapWeight[t];
      std::uint32_t* a = acc.data();
      for (std::size_t i = 0; i < width; ++i) a[i] += row[i] * w;
    }
    // Then the columns.
    std::uint8_t* to = target.RowFromTop(static_cast<int>(ay.first + j)) + 4 * ax.first;
    for (std::int64_t i = 0; i < ax.count; ++i) {
      std::uint64_t sum[4] = {};
      for (std::int32_t t = ax.tapStart[i]; t < ax.tapStart[i + 1]; ++t) {
        const std::uint32_t* a = acc.data() + 4 * (ax.tapPixel[t] - colBegin);
        const std::uint64_t w = ax.tapWeight[t];
        sum[0] += a[0] * w;
        sum[1] += a[1] * w;
        sum[2] += a[2] * w;
        sum[3] += a[3] * w;
      }
      constexpr std::uint64_t half = std::uint64_t{1} << (2 * kWeightBits - 1);
      for (int c = 0; c < 4; ++c)
        to[4 * i + c] = static_cast<std::uint8_t>((sum[c] + half) >> (2 * kWeightBits));
    }
  }
}

}  // namespace

TStretchMode StretchModeFromCode(std::int32_t code) { return code == 4 ? STRETCH_AREA : STRETCH_NEAREST; }

bool StretchPicture(const Dib::TDibSection& source, const TPipRect& from, Dib::TDibSection& target,
                    const TPipRect& to, TStretchMode mode) {
  if (!Usable32(source) || !Usable32(target)) return false;
  TAxis ax, ay;
  if (!BuildAxis(to.x, to.width, target.Width(), from.x, from.width, source.Width(), mode, ax) ||
      !BuildAxis(to.y, to.height, target.Height(), from.y, from.height, source.Height(), mode, ay))
    return true;  // nothing to draw
  if (mode == STRETCH_AREA)
    StretchArea(source, target, ax, ay);
  else
    StretchNearest(source, target, ax, ay);
  return true;
}

bool BuildPipComposite(const Dib::TDibSection& main, const Dib::TDibSection& inset, const TPipRect& insetRect,
                       const TPipRect* sourceRect, TStretchMode mode, Dib::TDibSection& composite) {
  if (!Usable32(main) || !Usable32(inset)) return false;
  const std::size_t bytes = main.Stride() * static_cast<std::size_t>(main.Height());
  if (composite.header.biWidth != main.header.biWidth || composite.header.biHeight != main.header.biHeight ||
      composite.BitCount() != 32 || composite.bits.size() != bytes) {
    composite.header = main.header;
    composite.masks = main.masks;
    composite.colorTable = main.colorTable;
    composite.bits.resize(bytes);
  }
  composite.header = main.header;
  std::memcpy(composite.bits.data(), main.bits.data(), bytes);
  const TPipRect whole{0, 0, inset.Width(), inset.Height()};
  return StretchPicture(inset, sourceRect ? *sourceRect : whole, composite, insetRect, mode);
}

}  // namespace PipComposite
