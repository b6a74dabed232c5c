// Row kernels of the RGB -> YCbCr converter: AVX2 and AVX-512 families chosen
// at run time (the scalar family is the table loop of the converter itself).
//
// Both work on sixteen (AVX2) or 32 (AVX-512) pixels per vector, taken apart
// into blue, green and red 16-bit lanes. A component is the 32-bit sum
//   bias + aB B + aG G + (aR R + 1 x X)
// made by two pairwise multiply-adds over the lane pairs (B, G) and (R, X),
// X being the signed sum of the three fraction parts (f c) >> 16 (high
// halves of 16-bit products); the sum shifted right by 16 is packed to 16
// bits, and the whole parts beyond 16 signed bits are added back as the
// colour value itself. Chroma averages are taken from those 16-bit values
// (rounded, not clamped), then clamped with the written value.

#include <array>
#include <cstdint>

#include "media/color_kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TOVRIN_FORWARD_X86 1
#endif

namespace ImageColorConversion::detail {

namespace {

#ifdef TOVRIN_FORWARD_X86

// The source bytes one step will read kPrefetchAhead bytes further on are
// asked for now (a hint only: it never faults, also past the end of a row),
// so that reading the rows overlaps with the arithmetic.
constexpr std::int32_t kPrefetchAhead = 1024;

template <std::int32_t kStepBytes>
inline void PrefetchAhead(const std::uint8_t* p) {
  for (std::int32_t line = 0; line < kStepBytes; line += 64) {
    _mm_prefetch(reinterpret_cast<const char*>(p + kPrefetchAhead + line), _MM_HINT_T0);
  }
}

// ---------------------------------------------------------------------------
// AVX2 family: 32 pixels per step, in two halves of sixteen.

#define TOVRIN_FWD_AVX2 __attribute__((target("avx2")))

// Two 16-bit words as one 32-bit lane: `low` first in memory.
constexpr std::int32_t WordPair(std::int32_t low, std::int32_t high) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(high) << 16) |
                                   static_cast<std::uint16_t>(low));
}

// Constants of one component.
struct TTerms256 {
  __m256i bg;    // aB, aG word pairs
  __m256i rx;    // aR, 1 word pairs
  __m256i bias;  // 32-bit
  __m256i fB, fG, fR;
  __m256i lo, hi;  // clamp, bytes
};

TOVRIN_FWD_AVX2 inline TTerms256 MakeTerms256(const TForwardTerms& t) {
  return TTerms256{_mm256_set1_epi32(WordPair(t.aB, t.aG)),
                   _mm256_set1_epi32(WordPair(t.aR, 1)),
                   _mm256_set1_epi32(t.bias),
                   _mm256_set1_epi16(static_cast<std::int16_t>(t.fB)),
                   _mm256_set1_epi16(static_cast<std::int16_t>(t.fG)),
                   _mm256_set1_epi16(static_cast<std::int16_t>(t.fR)),
                   _mm256_set1_epi8(static_cast<char>(t.lo)),
                   _mm256_set1_epi8(static_cast<char>(t.hi))};
}

// Sixteen pixels taken apart: blue, green and red as 16-bit lanes in pixel
// order, and the (B, G) word pairs of pixels 0-3, 8-11 and 4-7, 12-15.
struct TPixels256 {
  __m256i b, g, r, bgLo, bgHi;
};

// Reads exactly the sixteen pixels' bytes.
template <std::int32_t kBytesPerPixel>
TOVRIN_FWD_AVX2 inline TPixels256 Load16(const std::uint8_t* p) {
  __m256i v0;
  __m256i v1;
  if constexpr (kBytesPerPixel == 4) {
    const __m256i group = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 0, 4, 8, 12,
                                           1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    v0 = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), group);
    v1 = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)), group);
  } else {
    // Pixels 0-3, 4-7, 8-11 at bytes 0, 12, 24; pixels 12-15 are the last 12
    // of the 16 bytes at 32, so that nothing past byte 47 is read.
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 24));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    const __m256i group0 = _mm256_setr_epi8(0, 3, 6, 9, 1, 4, 7, 10, 2, 5, 8, 11, -1, -1, -1, -1, 0, 3, 6, 9,
                                            1, 4, 7, 10, 2, 5, 8, 11, -1, -1, -1, -1);
    const __m256i group1 = _mm256_setr_epi8(0, 3, 6, 9, 1, 4, 7, 10, 2, 5, 8, 11, -1, -1, -1, -1, 4, 7, 10,
                                            13, 5, 8, 11, 14, 6, 9, 12, 15, -1, -1, -1, -1);
    v0 = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1), group0);
    v1 = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(c), d, 1), group1);
  }
  // B0-3 G0-3 R0-3 x | B4-7 G4-7 R4-7 x  ->  B0-7 G0-7 | R0-7 x
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  v0 = _mm256_permutevar8x32_epi32(v0, order);
  v1 = _mm256_permutevar8x32_epi32(v1, order);
  const __m256i blueRed = _mm256_unpacklo_epi64(v0, v1);  // B0-15 | R0-15
  const __m256i green = _mm256_unpackhi_epi64(v0, v1);    // G0-15 | x
  TPixels256 px;
  px.b = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(blueRed));
  px.r = _mm256_cvtepu8_epi16(_mm256_extracti128_si256(blueRed, 1));
  px.g = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(green));
  px.bgLo = _mm256_unpacklo_epi16(px.b, px.g);
  px.bgHi = _mm256_unpackhi_epi16(px.b, px.g);
  return px;
}

enum TOutput { kY = 0, kCb = 1, kCr = 2 };

// One component of sixteen pixels, rounded and shifted but not clamped, as
// 16-bit lanes in pixel order.
template <TOutput kOut, bool kWideChroma>
TOVRIN_FWD_AVX2 inline __m256i Component16(const TTerms256& t, const TPixels256& px) {
  const __m256i fb = _mm256_mulhi_epu16(px.b, t.fB);
  const __m256i fg = _mm256_mulhi_epu16(px.g, t.fG);
  const __m256i fr = _mm256_mulhi_epu16(px.r, t.fR);
  __m256i x;
  if constexpr (kOut == kY) {
    x = _mm256_add_epi16(_mm256_add_epi16(fb, fg), fr);
  } else if constexpr (kOut == kCb) {
    x = _mm256_sub_epi16(_mm256_sub_epi16(fb, fg), fr);
  } else {
    x = _mm256_sub_epi16(_mm256_sub_epi16(fr, fg), fb);
  }
  const __m256i lo =
      _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(px.bgLo, t.bg),
                                        _mm256_madd_epi16(_mm256_unpacklo_epi16(px.r, x), t.rx)),
                       t.bias);
  const __m256i hi =
      _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(px.bgHi, t.bg),
                                        _mm256_madd_epi16(_mm256_unpackhi_epi16(px.r, x), t.rx)),
                       t.bias);
  __m256i v = _mm256_packs_epi32(_mm256_srai_epi32(lo, 16), _mm256_srai_epi32(hi, 16));
  if constexpr (kOut == kY) {
    v = _mm256_add_epi16(v, px.g);
  } else if constexpr (kOut == kCb && kWideChroma) {
    v = _mm256_add_epi16(v, px.b);
  } else if constexpr (kOut == kCr && kWideChroma) {
    v = _mm256_add_epi16(v, px.r);
  }
  return v;
}

// Clamps 32 values (two vectors of sixteen 16-bit lanes in pixel order) and
// stores them as bytes.
TOVRIN_FWD_AVX2 inline void Store32Bytes(__m256i a, __m256i b, const TTerms256& t, std::uint8_t* out) {
  __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
  bytes = _mm256_min_epu8(_mm256_max_epu8(bytes, t.lo), t.hi);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
}

// Clamps sixteen 32-bit values (samples 0-7 and 8-15 in order) and stores
// them as bytes.
TOVRIN_FWD_AVX2 inline void Store16Samples(__m256i a, __m256i b, const TTerms256& t, std::uint8_t* out) {
  const __m256i words = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
  __m256i bytes = _mm256_packus_epi16(words, words);
  bytes = _mm256_min_epu8(_mm256_max_epu8(bytes, t.lo), t.hi);
  const __m128i low = _mm_unpacklo_epi64(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), low);
}

// The eight chroma samples of sixteen pixels' values (the upper row's, and
// for 4:2:0 the sum of both rows' values), as 32-bit lanes in order.
template <std::int32_t kSiting>
TOVRIN_FWD_AVX2 inline __m256i Samples8(__m256i v) {
  if constexpr (kSiting == 2) {
    return _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16);  // the even pixel's
  } else if constexpr (kSiting == 3) {
    return _mm256_srai_epi32(v, 16);  // the odd pixel's
  } else if constexpr (kSiting == 4) {
    return _mm256_srai_epi32(_mm256_madd_epi16(v, _mm256_set1_epi16(1)), 1);
  } else if constexpr (kSiting == 5) {
    return _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 17);
  } else if constexpr (kSiting == 6) {
    return _mm256_srai_epi32(v, 17);
  } else {
    return _mm256_srai_epi32(_mm256_madd_epi16(v, _mm256_set1_epi16(1)), 2);
  }
}

template <std::int32_t kBytesPerPixel, std::int32_t kSiting, bool kWideChroma>
TOVRIN_FWD_AVX2 std::int32_t Avx2ForwardRows(const TForwardSet& set, const std::uint8_t* const* pRgb,
                                             std::uint8_t* const* pY, std::uint8_t* pCb, std::uint8_t* pCr,
                                             std::int32_t nCount) {
  constexpr std::int32_t kRows = kSiting >= 5 ? 2 : 1;
  const TTerms256 ty = MakeTerms256(set.y);
  const TTerms256 tcb = MakeTerms256(set.cb);
  const TTerms256 tcr = MakeTerms256(set.cr);
  const bool chroma = pCb != nullptr && pCr != nullptr;
  const std::int32_t whole = nCount & ~31;
  for (std::int32_t i = 0; i < whole; i += 32) {
    // Chroma values of the two halves, summed over the rows for 4:2:0.
    __m256i cb[2] = {_mm256_setzero_si256(), _mm256_setzero_si256()};
    __m256i cr[2] = {_mm256_setzero_si256(), _mm256_setzero_si256()};
    for (std::int32_t row = 0; row < kRows; ++row) {
      const std::uint8_t* src = pRgb[row] + std::ptrdiff_t{kBytesPerPixel} * i;
      PrefetchAhead<kBytesPerPixel * 32>(src);
      const TPixels256 a = Load16<kBytesPerPixel>(src);
      const TPixels256 b = Load16<kBytesPerPixel>(src + 16 * kBytesPerPixel);
      Store32Bytes(Component16<kY, kWideChroma>(ty, a), Component16<kY, kWideChroma>(ty, b), ty, pY[row] + i);
      if (!chroma) {
        continue;
      }
      const __m256i cbA = Component16<kCb, kWideChroma>(tcb, a);
      const __m256i cbB = Component16<kCb, kWideChroma>(tcb, b);
      const __m256i crA = Component16<kCr, kWideChroma>(tcr, a);
      const __m256i crB = Component16<kCr, kWideChroma>(tcr, b);
      if (row == 0) {
        cb[0] = cbA;
        cb[1] = cbB;
        cr[0] = crA;
        cr[1] = crB;
      } else {
        cb[0] = _mm256_add_epi16(cb[0], cbA);
        cb[1] = _mm256_add_epi16(cb[1], cbB);
        cr[0] = _mm256_add_epi16(cr[0], crA);
        cr[1] = _mm256_add_epi16(cr[1], crB);
      }
    }
    if (!chroma) {
      continue;
    }
    if constexpr (kSiting == 1) {
      Store32Bytes(cb[0], cb[1], tcb, pCb + i);
      Store32Bytes(cr[0], cr[1], tcr, pCr + i);
    } else {
      Store16Samples(Samples8<kSiting>(cb[0]), Samples8<kSiting>(cb[1]), tcb, pCb + i / 2);
      Store16Samples(Samples8<kSiting>(cr[0]), Samples8<kSiting>(cr[1]), tcr, pCr + i / 2);
    }
  }
  return whole;
}

// ---------------------------------------------------------------------------
// AVX-512 family (F and BW): the same on 32 pixels per vector, 64 per step.

#define TOVRIN_FWD_AVX512 __attribute__((target("avx512f,avx512bw")))

// GCC 12 reports the undefined pass-through operands inside its own AVX-512
// intrinsic headers as (maybe) used uninitialized.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#pragma GCC diagnostic ignored "-Wuninitialized"

struct TTerms512 {
  __m512i bg, rx, bias, fB, fG, fR, lo, hi;
};

TOVRIN_FWD_AVX512 inline TTerms512 MakeTerms512(const TForwardTerms& t) {
  return TTerms512{_mm512_set1_epi32(WordPair(t.aB, t.aG)),
                   _mm512_set1_epi32(WordPair(t.aR, 1)),
                   _mm512_set1_epi32(t.bias),
                   _mm512_set1_epi16(static_cast<std::int16_t>(t.fB)),
                   _mm512_set1_epi16(static_cast<std::int16_t>(t.fG)),
                   _mm512_set1_epi16(static_cast<std::int16_t>(t.fR)),
                   _mm512_set1_epi8(static_cast<char>(t.lo)),
                   _mm512_set1_epi8(static_cast<char>(t.hi))};
}

// 32 pixels taken apart (16-bit lanes in pixel order) and their (B, G) pairs
// as the 16-bit unpacks leave them.
struct TPixels512 {
  __m512i b, g, r, bgLo, bgHi;
};

template <std::int32_t kBytesPerPixel>
TOVRIN_FWD_AVX512 inline TPixels512 Load32(const std::uint8_t* p) {
  __m512i v0;
  __m512i v1;
  if constexpr (kBytesPerPixel == 4) {
    const __m512i group =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
    v0 = _mm512_shuffle_epi8(_mm512_loadu_si512(p), group);
    v1 = _mm512_shuffle_epi8(_mm512_loadu_si512(p + 64), group);
  } else {
    // Sixteen-pixel groups of 48 bytes spread to four lanes of twelve bytes:
    // lane k takes bytes 12k..12k+11 of its 64 (exactly 96 bytes are read).
    const __m512i spread = _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0);
    const __mmask16 first = 0x0FFF;
    const __m512i group =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 3, 6, 9, 1, 4, 7, 10, 2, 5, 8, 11, -1, -1, -1, -1));
    v0 = _mm512_shuffle_epi8(_mm512_permutexvar_epi32(spread, _mm512_maskz_loadu_epi32(first, p)), group);
    v1 =
        _mm512_shuffle_epi8(_mm512_permutexvar_epi32(spread, _mm512_maskz_loadu_epi32(first, p + 48)), group);
  }
  // Lane k: B G R x of pixels 4k..4k+3. Gather B, G and R of all sixteen
  // lanes (two vectors) in pixel order.
  const __m512i blueIndex = _mm512_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28, 2, 6, 10, 14, 18, 22, 26, 30);
  const __m512i greenIndex = _mm512_setr_epi32(1, 5, 9, 13, 17, 21, 25, 29, 3, 7, 11, 15, 19, 23, 27, 31);
  const __m512i blueRed = _mm512_permutex2var_epi32(v0, blueIndex, v1);  // B0-31 | R0-31 (bytes)
  const __m512i greenX = _mm512_permutex2var_epi32(v0, greenIndex, v1);  // G0-31 | x
  TPixels512 px;
  px.b = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(blueRed));
  px.r = _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(blueRed, 1));
  px.g = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(greenX));
  px.bgLo = _mm512_unpacklo_epi16(px.b, px.g);
  px.bgHi = _mm512_unpackhi_epi16(px.b, px.g);
  return px;
}

// Word selection that takes the high words of the two halves' sums (lanes
// of pixels 8k..8k+3 and 8k+4..8k+7) back to pixel order.
constexpr std::array<std::uint16_t, 32> MakeHighWords512() {
  std::array<std::uint16_t, 32> index{};
  for (std::int32_t p = 0; p < 32; ++p) {
    const std::int32_t k = p / 8;
    const std::int32_t j = p % 8;
    index[p] = static_cast<std::uint16_t>(j < 4 ? 2 * (4 * k + j) + 1 : 32 + 2 * (4 * k + j - 4) + 1);
  }
  return index;
}

constexpr std::array<std::uint16_t, 32> kHighWords512 = MakeHighWords512();

// The signed sum of the three fraction parts of a component.
template <TOutput kOut>
TOVRIN_FWD_AVX512 inline __m512i FractionSum32(const TTerms512& t, const TPixels512& px) {
  const __m512i fb = _mm512_mulhi_epu16(px.b, t.fB);
  const __m512i fg = _mm512_mulhi_epu16(px.g, t.fG);
  const __m512i fr = _mm512_mulhi_epu16(px.r, t.fR);
  if constexpr (kOut == kY) {
    return _mm512_add_epi16(_mm512_add_epi16(fb, fg), fr);
  } else if constexpr (kOut == kCb) {
    return _mm512_sub_epi16(_mm512_sub_epi16(fb, fg), fr);
  } else {
    return _mm512_sub_epi16(_mm512_sub_epi16(fr, fg), fb);
  }
}

// The component from its sums over the two halves: their high words in
// pixel order, and the whole parts beyond 16 bits.
template <TOutput kOut, bool kWideChroma>
TOVRIN_FWD_AVX512 inline __m512i Finish32(const TPixels512& px, __m512i lo, __m512i hi) {
  __m512i v = _mm512_permutex2var_epi16(lo, _mm512_loadu_si512(kHighWords512.data()), hi);
  if constexpr (kOut == kY) {
    v = _mm512_add_epi16(v, px.g);
  } else if constexpr (kOut == kCb && kWideChroma) {
    v = _mm512_add_epi16(v, px.b);
  } else if constexpr (kOut == kCr && kWideChroma) {
    v = _mm512_add_epi16(v, px.r);
  }
  return v;
}

template <TOutput kOut, bool kWideChroma>
TOVRIN_FWD_AVX512 inline __m512i Component32(const TTerms512& t, const TPixels512& px) {
  const __m512i x = FractionSum32<kOut>(t, px);
  const __m512i lo = _mm512_add_epi32(_mm512_add_epi32(_mm512_madd_epi16(px.bgLo, t.bg), t.bias),
                                      _mm512_madd_epi16(_mm512_unpacklo_epi16(px.r, x), t.rx));
  const __m512i hi = _mm512_add_epi32(_mm512_add_epi32(_mm512_madd_epi16(px.bgHi, t.bg), t.bias),
                                      _mm512_madd_epi16(_mm512_unpackhi_epi16(px.r, x), t.rx));
  return Finish32<kOut, kWideChroma>(px, lo, hi);
}

// ---------------------------------------------------------------------------
// AVX-512 VBMI family (with VNNI): the pixels are taken apart by two-source
// byte permutes and the sums made by dot-product accumulation.

#define TOVRIN_FWD_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vnni")))

// Byte selection of one colour of 32 pixels into 16-bit lanes (odd bytes
// are zeroed by the mask).
constexpr std::array<std::uint8_t, 64> ColourIndex(std::int32_t bytesPerPixel, std::int32_t colour) {
  std::array<std::uint8_t, 64> index{};
  for (std::int32_t p = 0; p < 32; ++p) {
    index[2 * p] = static_cast<std::uint8_t>(bytesPerPixel * p + colour);
  }
  return index;
}

template <std::int32_t kBytesPerPixel>
struct TColourIndex {
  static constexpr std::array<std::uint8_t, 64> kBlue = ColourIndex(kBytesPerPixel, 0);
  static constexpr std::array<std::uint8_t, 64> kGreen = ColourIndex(kBytesPerPixel, 1);
  static constexpr std::array<std::uint8_t, 64> kRed = ColourIndex(kBytesPerPixel, 2);
};

template <std::int32_t kBytesPerPixel>
TOVRIN_FWD_VBMI inline TPixels512 Load32Vbmi(const std::uint8_t* p) {
  const __m512i v0 = _mm512_loadu_si512(p);
  // 24-bit pixels: 96 bytes, the second vector holds only 32.
  const __m512i v1 = kBytesPerPixel == 4 ? _mm512_loadu_si512(p + 64)
                                         : _mm512_maskz_loadu_epi8(0x00000000FFFFFFFFull, p + 64);
  const __mmask64 even = 0x5555555555555555ull;
  using TIndex = TColourIndex<kBytesPerPixel>;
  TPixels512 px;
  px.b = _mm512_maskz_permutex2var_epi8(even, v0, _mm512_loadu_si512(TIndex::kBlue.data()), v1);
  px.g = _mm512_maskz_permutex2var_epi8(even, v0, _mm512_loadu_si512(TIndex::kGreen.data()), v1);
  px.r = _mm512_maskz_permutex2var_epi8(even, v0, _mm512_loadu_si512(TIndex::kRed.data()), v1);
  px.bgLo = _mm512_unpacklo_epi16(px.b, px.g);
  px.bgHi = _mm512_unpackhi_epi16(px.b, px.g);
  return px;
}

template <TOutput kOut, bool kWideChroma>
TOVRIN_FWD_VBMI inline __m512i Component32Vnni(const TTerms512& t, const TPixels512& px) {
  const __m512i x = FractionSum32<kOut>(t, px);
  const __m512i lo =
      _mm512_dpwssd_epi32(_mm512_dpwssd_epi32(t.bias, px.bgLo, t.bg), _mm512_unpacklo_epi16(px.r, x), t.rx);
  const __m512i hi =
      _mm512_dpwssd_epi32(_mm512_dpwssd_epi32(t.bias, px.bgHi, t.bg), _mm512_unpackhi_epi16(px.r, x), t.rx);
  return Finish32<kOut, kWideChroma>(px, lo, hi);
}

// Clamps 64 values (two vectors of 32 16-bit lanes in pixel order) and stores
// them as bytes.
TOVRIN_FWD_AVX512 inline void Store64Bytes(__m512i a, __m512i b, const TTerms512& t, std::uint8_t* out) {
  __m512i bytes =
      _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7), _mm512_packus_epi16(a, b));
  bytes = _mm512_min_epu8(_mm512_max_epu8(bytes, t.lo), t.hi);
  _mm512_storeu_si512(out, bytes);
}

// Clamps 32 32-bit values (samples 0-15 and 16-31 in order) and stores them
// as bytes.
TOVRIN_FWD_AVX512 inline void Store32Samples(__m512i a, __m512i b, const TTerms512& t, std::uint8_t* out) {
  const __m512i words =
      _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7), _mm512_packs_epi32(a, b));
  __m256i bytes = _mm512_cvtusepi16_epi8(_mm512_max_epi16(words, _mm512_setzero_si512()));
  bytes = _mm256_min_epu8(_mm256_max_epu8(bytes, _mm512_castsi512_si256(t.lo)), _mm512_castsi512_si256(t.hi));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
}

template <std::int32_t kSiting>
TOVRIN_FWD_AVX512 inline __m512i Samples16(__m512i v) {
  if constexpr (kSiting == 2) {
    return _mm512_srai_epi32(_mm512_slli_epi32(v, 16), 16);
  } else if constexpr (kSiting == 3) {
    return _mm512_srai_epi32(v, 16);
  } else if constexpr (kSiting == 4) {
    return _mm512_srai_epi32(_mm512_madd_epi16(v, _mm512_set1_epi16(1)), 1);
  } else if constexpr (kSiting == 5) {
    return _mm512_srai_epi32(_mm512_slli_epi32(v, 16), 17);
  } else if constexpr (kSiting == 6) {
    return _mm512_srai_epi32(v, 17);
  } else {
    return _mm512_srai_epi32(_mm512_madd_epi16(v, _mm512_set1_epi16(1)), 2);
  }
}

// The rows of both AVX-512 families, 64 pixels per step: one definition
// compiled for each family's instruction set.
#define TOVRIN_FORWARD_ROWS_512(NAME, TARGET, LOAD, COMPONENT)                                               \
  template <std::int32_t kBytesPerPixel, std::int32_t kSiting, bool kWideChroma>                             \
  TARGET std::int32_t NAME(const TForwardSet& set, const std::uint8_t* const* pRgb, std::uint8_t* const* pY, \
                           std::uint8_t* pCb, std::uint8_t* pCr, std::int32_t nCount) {                      \
    constexpr std::int32_t kRows = kSiting >= 5 ? 2 : 1;                                                     \
    const TTerms512 ty = MakeTerms512(set.y);                                                                \
    const TTerms512 tcb = MakeTerms512(set.cb);                                                              \
    const TTerms512 tcr = MakeTerms512(set.cr);                                                              \
    const bool chroma = pCb != nullptr && pCr != nullptr;                                                    \
    const std::int32_t whole = nCount & ~63;                                                                 \
    for (std::int32_t i = 0; i < whole; i += 64) {                                                           \
      __m512i cb[2] = {};                                                                                    \
      __m512i cr[2] = {};                                                                                    \
      for (std::int32_t row = 0; row < kRows; ++row) {                                                       \
        const std::uint8_t* src = pRgb[row] + std::ptrdiff_t{kBytesPerPixel} * i;                            \
        PrefetchAhead<kBytesPerPixel * 64>(src);                                                             \
        const TPixels512 a = LOAD<kBytesPerPixel>(src);                                                      \
        const TPixels512 b = LOAD<kBytesPerPixel>(src + 32 * kBytesPerPixel);                                \
        Store64Bytes(COMPONENT<kY, kWideChroma>(ty, a), COMPONENT<kY, kWideChroma>(ty, b), ty, pY[row] + i); \
        if (!chroma) {                                                                                       \
          continue;                                                                                          \
        }                                                                                                    \
        const __m512i cbA = COMPONENT<kCb, kWideChroma>(tcb, a);                                             \
        const __m512i cbB = COMPONENT<kCb, kWideChroma>(tcb, b);                                             \
        const __m512i crA = COMPONENT<kCr, kWideChroma>(tcr, a);                                             \
        const __m512i crB = COMPONENT<kCr, kWideChroma>(tcr, b);                                             \
        if (row == 0) {                                                                                      \
          cb[0] = cbA;                                                                                       \
          cb[1] = cbB;                                                                                       \
          cr[0] = crA;                                                                                       \
          cr[1] = crB;                                                                                       \
        } else {                                                                                             \
          cb[0] = _mm512_add_epi16(cb[0], cbA);                                                              \
          cb[1] = _mm512_add_epi16(cb[1], cbB);                                                              \
          cr[0] = _mm512_add_epi16(cr[0], crA);                                                              \
          cr[1] = _mm512_add_epi16(cr[1], crB);                                                              \
        }                                                                                                    \
      }                                                                                                      \
      if (!chroma) {                                                                                         \
        continue;                                                                                            \
      }                                                                                                      \
      if constexpr (kSiting == 1) {                                                                          \
        Store64Bytes(cb[0], cb[1], tcb, pCb + i);                                                            \
        Store64Bytes(cr[0], cr[1], tcr, pCr + i);                                                            \
      } else {                                                                                               \
        Store32Samples(Samples16<kSiting>(cb[0]), Samples16<kSiting>(cb[1]), tcb, pCb + i / 2);              \
        Store32Samples(Samples16<kSiting>(cr[0]), Samples16<kSiting>(cr[1]), tcr, pCr + i / 2);              \
      }                                                                                                      \
    }                                                                                                        \
    return whole;                                                                                            \
  }                                                                                                          \
  static_assert(true)

TOVRIN_FORWARD_ROWS_512(Avx512ForwardRows, TOVRIN_FWD_AVX512, Load32, Component32);
TOVRIN_FORWARD_ROWS_512(Avx512VbmiForwardRows, TOVRIN_FWD_VBMI, Load32Vbmi, Component32Vnni);

#pragma GCC diagnostic pop

// ---------------------------------------------------------------------------
// Dispatch by pixel size, siting and the chroma's wide parts.

using TRowsFn = std::int32_t (*)(const TForwardSet&, const std::uint8_t* const*, std::uint8_t* const*,
                                 std::uint8_t*, std::uint8_t*, std::int32_t);

template <std::int32_t kBpp, std::int32_t kSiting, bool kWide>
struct TAvx2Kernel {
  static constexpr TRowsFn kFn = &Avx2ForwardRows<kBpp, kSiting, kWide>;
};

template <std::int32_t kBpp, std::int32_t kSiting, bool kWide>
struct TAvx512Kernel {
  static constexpr TRowsFn kFn = &Avx512ForwardRows<kBpp, kSiting, kWide>;
};

template <std::int32_t kBpp, std::int32_t kSiting, bool kWide>
struct TAvx512VbmiKernel {
  static constexpr TRowsFn kFn = &Avx512VbmiForwardRows<kBpp, kSiting, kWide>;
};

template <template <std::int32_t, std::int32_t, bool> class TKernel, std::int32_t kBpp>
constexpr TRowsFn Pick(std::int32_t siting, bool wide) {
  switch (siting) {
    case 1: return wide ? TKernel<kBpp, 1, true>::kFn : TKernel<kBpp, 1, false>::kFn;
    case 2: return wide ? TKernel<kBpp, 2, true>::kFn : TKernel<kBpp, 2, false>::kFn;
    case 3: return wide ? TKernel<kBpp, 3, true>::kFn : TKernel<kBpp, 3, false>::kFn;
    case 4: return wide ? TKernel<kBpp, 4, true>::kFn : TKernel<kBpp, 4, false>::kFn;
    case 5: return wide ? TKernel<kBpp, 5, true>::kFn : TKernel<kBpp, 5, false>::kFn;
    case 6: return wide ? TKernel<kBpp, 6, true>::kFn : TKernel<kBpp, 6, false>::kFn;
    case 7: return wide ? TKernel<kBpp, 7, true>::kFn : TKernel<kBpp, 7, false>::kFn;
    default: return nullptr;
  }
}

template <template <std::int32_t, std::int32_t, bool> class TKernel>
std::int32_t ForwardRowsOf(const TForwardSet& set, std::int32_t siting, const std::uint8_t* const* pRgb,
                           std::int32_t nBytesPerPixel, std::uint8_t* const* pY, std::uint8_t* pCb,
                           std::uint8_t* pCr, std::int32_t nCount) {
  const TRowsFn fn = nBytesPerPixel == 4   ? Pick<TKernel, 4>(siting, set.wideChroma)
                     : nBytesPerPixel == 3 ? Pick<TKernel, 3>(siting, set.wideChroma)
                                           : nullptr;
  return fn != nullptr ? fn(set, pRgb, pY, pCb, pCr, nCount) : 0;
}

const TForwardKernels kAvx2Forward{&ForwardRowsOf<TAvx2Kernel>};
const TForwardKernels kAvx512Forward{&ForwardRowsOf<TAvx512Kernel>};
const TForwardKernels kAvx512VbmiForward{&ForwardRowsOf<TAvx512VbmiKernel>};

// The VBMI family's forward kernels also take VNNI; a processor with VBMI
// but without VNNI runs the plain AVX-512 ones.
bool CpuHasAvx512Vnni() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512vnni") != 0;
  }();
  return has;
}

#endif

const TForwardKernels kScalarForward{};

}  // namespace

const TForwardKernels& ForwardKernels() {
#ifdef TOVRIN_FORWARD_X86
  switch (GetColorKernel()) {
    case TColorKernel::Avx512Vbmi: return CpuHasAvx512Vnni() ? kAvx512VbmiForward : kAvx512Forward;
    case TColorKernel::Avx512: return kAvx512Forward;
    case TColorKernel::Avx2: return kAvx2Forward;
    case TColorKernel::Scalar: break;
  }
#endif
  return kScalarForward;
}

}  // namespace ImageColorConversion::detail
