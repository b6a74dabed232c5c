// Picture-in-picture composites and their scaler.

#include "media/pip_composite.h"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

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
      // Every pixel of the run gets a tap (maybe of weight 0), so that a
      // position's taps are neighbouring pixels.
      axis.tapPixel.push_back(static_cast<std::int32_t>(s));
      axis.tapWeight.push_back(upTo - given);
      given = upTo;
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

// The weighted sum of a target row's source rows, over `count` bytes: for
// each byte, the sum of (px << 7) x weight / 65,536 over the rows, kept with
// 7 fraction bits in 16 bits (the 16-bit weights of a target row add up to
// about 65,536, so a sum stays below 32,768).
void SumRowsPlain(std::uint16_t* __restrict acc, const std::uint8_t* const* rows,
                  const std::uint16_t* weights, int taps, std::size_t count, std::size_t i) {
  for (; i < count; ++i) {
    std::uint32_t sum = 0;
    for (int t = 0; t < taps; ++t) sum += (static_cast<std::uint32_t>(rows[t][i]) << 7) * weights[t] >> 16;
    acc[i] = static_cast<std::uint16_t>(sum);
  }
}

#if defined(__SSE2__)
void SumRowsSse2(std::uint16_t* __restrict acc, const std::uint8_t* const* rows, const std::uint16_t* weights,
                 int taps, std::size_t count) {
  std::size_t i = 0;
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= count; i += 16) {
    __m128i lo = zero, hi = zero;
    for (int t = 0; t < taps; ++t) {
      const __m128i w = _mm_set1_epi16(static_cast<short>(weights[t]));
      _mm_prefetch(reinterpret_cast<const char*>(rows[t] + i + 512), _MM_HINT_T0);
      const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t] + i));
      lo = _mm_add_epi16(lo, _mm_mulhi_epu16(_mm_srli_epi16(_mm_unpacklo_epi8(zero, px), 1), w));
      hi = _mm_add_epi16(hi, _mm_mulhi_epu16(_mm_srli_epi16(_mm_unpackhi_epi8(zero, px), 1), w));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(acc + i), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(acc + i + 8), hi);
  }
  SumRowsPlain(acc, rows, weights, taps, count, i);
}

// The same 32 bytes at a time, on processors that have AVX2.
__attribute__((target("avx2"))) void SumRowsAvx2(std::uint16_t* __restrict acc,
                                                 const std::uint8_t* const* rows,
                                                 const std::uint16_t* weights, int taps, std::size_t count) {
  constexpr int kHeld = 8;  // weights kept in registers; more taps take the general loop
  if (taps > kHeld) {
    SumRowsSse2(acc, rows, weights, taps, count);
    return;
  }
  __m256i w[kHeld];
  for (int t = 0; t < taps; ++t) w[t] = _mm256_set1_epi16(static_cast<short>(weights[t]));
  std::size_t i = 0;
  const __m256i zero = _mm256_setzero_si256();
  for (; i + 32 <= count; i += 32) {
    __m256i lo = zero, hi = zero;
    for (int t = 0; t < taps; ++t) {
      if ((i & 63) == 0) _mm_prefetch(reinterpret_cast<const char*>(rows[t] + i + 512), _MM_HINT_T0);
      const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[t] + i));
      lo = _mm256_add_epi16(lo,
                            _mm256_mulhi_epu16(_mm256_srli_epi16(_mm256_unpacklo_epi8(zero, px), 1), w[t]));
      hi = _mm256_add_epi16(hi,
                            _mm256_mulhi_epu16(_mm256_srli_epi16(_mm256_unpackhi_epi8(zero, px), 1), w[t]));
    }
    // unpacklo/hi work within 128-bit halves: bytes 0-7 and 16-23 in lo,
    // 8-15 and 24-31 in hi.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(acc + i), _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(acc + i + 16), _mm256_permute2x128_si256(lo, hi, 0x31));
  }
  SumRowsPlain(acc, rows, weights, taps, count, i);
}
#endif

void SumRows(std::uint16_t* __restrict acc, const std::uint8_t* const* rows, const std::uint16_t* weights,
             int taps, std::size_t count) {
#if defined(__SSE2__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2)
    SumRowsAvx2(acc, rows, weights, taps, count);
  else
    SumRowsSse2(acc, rows, weights, taps, count);
#else
  SumRowsPlain(acc, rows, weights, taps, count, 0);
#endif
}

// The column pass planned once per picture: for each target position the
// offset of its first source pixel in the row sums and its weights as
// (w0 | w1 << 16) pairs, every position padded with zero weights to the
// same number of pairs.
struct TColumnPlan {
  int pairs = 0;
  std::vector<std::int32_t> offset;
  std::vector<std::uint32_t> pairWeight;
};

TColumnPlan PlanColumns(const TAxis& ax, std::int32_t colBegin) {
  TColumnPlan plan;
  for (std::int64_t i = 0; i < ax.count; ++i)
    plan.pairs = std::max(plan.pairs, (ax.tapStart[i + 1] - ax.tapStart[i] + 1) / 2);
  plan.offset.resize(static_cast<std::size_t>(ax.count));
  plan.pairWeight.assign(static_cast<std::size_t>(ax.count * plan.pairs), 0);
  for (std::int64_t i = 0; i < ax.count; ++i) {
    const std::int32_t first = ax.tapStart[i], end = ax.tapStart[i + 1];
    plan.offset[i] = 4 * (ax.tapPixel[first] - colBegin);
    for (std::int32_t t = first; t < end; ++t) {
      const int k = t - first;
      plan.pairWeight[i * plan.pairs + k / 2] |= ax.tapWeight[t] << (16 * (k % 2));
    }
  }
  return plan;
}

// One row of target pixels from the row sums: 7 fraction bits times 14-bit
// column weights, rounded. Neighbouring source pixels are taken two at a
// time, channel by channel: (a0, b0, a1, b1, ...) times (w0, w1) pairs.
template <int kPairs>
void SumColumns(const std::uint16_t* acc, const TColumnPlan& plan, std::int64_t count, std::uint8_t* to) {
  constexpr int shift = 7 + kWeightBits;
  const int pairs = kPairs > 0 ? kPairs : plan.pairs;
  for (std::int64_t i = 0; i < count; ++i) {
    const std::uint16_t* a = acc + plan.offset[i];
    const std::uint32_t* w = plan.pairWeight.data() + i * pairs;
#if defined(__SSE2__)
    __m128i sum = _mm_set1_epi32(1 << (shift - 1));
    for (int p = 0; p < pairs; ++p) {
      const __m128i two = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8 * p));
      const __m128i interleaved = _mm_unpacklo_epi16(two, _mm_srli_si128(two, 8));
      sum = _mm_add_epi32(sum, _mm_madd_epi16(interleaved, _mm_set1_epi32(static_cast<int>(w[p]))));
    }
    sum = _mm_srli_epi32(sum, shift);
    sum = _mm_packs_epi32(sum, _mm_setzero_si128());
    const int packed = _mm_cvtsi128_si32(_mm_packus_epi16(sum, _mm_setzero_si128()));
    std::memcpy(to + 4 * i, &packed, 4);
#else
    std::uint32_t sum[4] = {};
    for (int p = 0; p < pairs; ++p)
      for (int c = 0; c < 4; ++c) sum[c] += a[8 * p + c] * (w[p] & 0xFFFF) + a[8 * p + 4 + c] * (w[p] >> 16);
    for (int c = 0; c < 4; ++c)
      to[4 * i + c] =
          static_cast<std::uint8_t>(std::min<std::uint32_t>((sum[c] + (1u << (shift - 1))) >> shift, 255u));
#endif
  }
}

void StretchArea(const Dib::TDibSection& source, Dib::TDibSection& target, const TAxis& ax, const TAxis& ay) {
  // Columns of the source any target pixel reads.
  const std::int32_t colBegin = ax.tapPixel.front();
  const std::int32_t colEnd = ax.tapPixel.back() + 1;
  const std::size_t width = static_cast<std::size_t>(colEnd - colBegin) * 4;
  const TColumnPlan plan = PlanColumns(ax, colBegin);
  // Room after the sums for the zero-weight pixels of padded pairs.
  std::vector<std::uint16_t> acc(width + 8 * static_cast<std::size_t>(plan.pairs) + 8);
  std::vector<const std::uint8_t*> rows;
  std::vector<std::uint16_t> weights;
  for (std::int64_t j = 0; j < ay.count; ++j) {
    // Rows first: the weighted sum of the source rows of this target row
    // (14-bit weights as 16-bit ones, a whole row's 65,536 as 65,535).
    rows.clear();
    weights.clear();
    for (std::int32_t t = ay.tapStart[j]; t < ay.tapStart[j + 1]; ++t) {
      rows.push_back(source.RowFromTop(ay.tapPixel[t]) + 4 * colBegin);
      weights.push_back(
          static_cast<std::uint16_t>(std::min<std::uint32_t>(ay.tapWeight[t] << (16 - kWeightBits), 65535u)));
    }
    SumRows(acc.data(), rows.data(), weights.data(), static_cast<int>(rows.size()), width);
    // Then the columns.
    std::uint8_t* to = target.RowFromTop(static_cast<int>(ay.first + j)) + 4 * ax.first;
    switch (plan.pairs) {
      case 1: SumColumns<1>(acc.data(), plan, ax.count, to); break;
      case 2: SumColumns<2>(acc.data(), plan, ax.count, to); break;
      case 3: SumColumns<3>(acc.data(), plan, ax.count, to); break;
      default: SumColumns<0>(acc.data(), plan, ax.count, to); break;
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
