// Row kernels of the YCbCr -> RGB converters: a table-based scalar family
// that runs everywhere, and AVX2, AVX-512 and AVX-512 VBMI families chosen at
// run time.

#include "media/color_kernels.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <type_traits>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TOVRIN_COLOR_X86 1
#endif

namespace ImageColorConversion::detail {

namespace {

// ---------------------------------------------------------------------------
// Scalar family: straight table look-ups.

// Chroma terms of a run of values, one entry per value.
struct TTermRows {
  const std::int32_t* blue = nullptr;
  const std::int32_t* green = nullptr;
  const std::int32_t* red = nullptr;
};

void ScalarChromaTerms(const TInverseSet& set, const std::uint8_t* pCb, const std::uint8_t* pCr,
                       std::int32_t nCount, std::int32_t* pBlue, std::int32_t* pGreen, std::int32_t* pRed) {
  for (std::int32_t i = 0; i < nCount; ++i) {
    const std::int32_t cb = pCb[i];
    const std::int32_t cr = pCr[i];
    pBlue[i] = set.rounding + set.blueFromCb[cb];
    pGreen[i] = set.rounding + set.greenSign * (set.greenFromCb[cb] + set.greenFromCr[cr]);
    pRed[i] = set.rounding + set.redFromCr[cr];
  }
}

void ScalarPixelRow(const TInverseSet& set, const std::uint8_t* pY, const TTermRows& even,
                    const TTermRows& odd, std::uint8_t* pOut, std::int32_t nCount,
                    std::int32_t nBytesPerPixel) {
  const std::uint8_t* clamp = set.clamp;
  for (std::int32_t p = 0; p < nCount; ++p) {
    const TTermRows& terms = (p & 1) != 0 ? odd : even;
    const std::int32_t k = p >> 1;
    const std::int32_t luma = set.luma[pY[p]];
    pOut[0] = clamp[(luma + terms.blue[k]) >> 16];
    pOut[1] = clamp[(luma + terms.green[k]) >> 16];
    pOut[2] = clamp[(luma + terms.red[k]) >> 16];
    if (nBytesPerPixel == 4) {
      pOut[3] = 0;
    }
    pOut += nBytesPerPixel;
  }
}

void ScalarYuy2Split(const std::uint8_t* pRow, std::int32_t nPairs, std::uint8_t* pY, std::uint8_t* pCb,
                     std::uint8_t* pCr) {
  for (std::int32_t k = 0; k < nPairs; ++k) {
    pY[2 * k] = pRow[4 * k];
    pCb[k] = pRow[4 * k + 1];
    pY[2 * k + 1] = pRow[4 * k + 2];
    pCr[k] = pRow[4 * k + 3];
  }
}

// The last pixels (fewer than a SIMD step) of pair rows, from pixel `first`
// on, through the tables.
void ScalarPairRest(const TInverseSet& set, const TPairValues& values, const std::uint8_t* const* pY,
                    std::uint8_t* const* pOut, std::int32_t nRows, std::int32_t first, std::int32_t nCount,
                    std::int32_t nBytesPerPixel) {
  constexpr std::int32_t kMost = 32;  // pairs: more than the widest step leaves
  std::int32_t blue[2][kMost];
  std::int32_t green[2][kMost];
  std::int32_t red[2][kMost];
  const std::int32_t k = first / 2;
  const std::int32_t pairs = std::min((nCount - first + 1) / 2, kMost);
  const bool shared = values.cbOdd == values.cbEven && values.crOdd == values.crEven;
  ScalarChromaTerms(set, values.cbEven + k, values.crEven + k, pairs, blue[0], green[0], red[0]);
  if (!shared) {
    ScalarChromaTerms(set, values.cbOdd + k, values.crOdd + k, pairs, blue[1], green[1], red[1]);
  }
  const TTermRows even{blue[0], green[0], red[0]};
  const TTermRows odd = shared ? even : TTermRows{blue[1], green[1], red[1]};
  for (std::int32_t row = 0; row < nRows; ++row) {
    ScalarPixelRow(set, pY[row] + first, even, odd, pOut[row] + nBytesPerPixel * first,
                   std::min(nCount - first, 2 * kMost), nBytesPerPixel);
  }
}

// The scalar family: the same, 64 pixels at a time.
void ScalarPairRows(const TInverseSet& set, const TPairValues& values, const std::uint8_t* const* pY,
                    std::uint8_t* const* pOut, std::int32_t nRows, std::int32_t nCount,
                    std::int32_t nBytesPerPixel) {
  for (std::int32_t first = 0; first < nCount; first += 64) {
    ScalarPairRest(set, values, pY, pOut, nRows, first, std::min(first + 64, nCount), nBytesPerPixel);
  }
}

bool HasChromaFraction(const TInverseSet& set) {
  return set.blueRule.f != 0 || set.greenCbRule.f != 0 || set.greenCrRule.f != 0 || set.redRule.f != 0;
}

// Runs Family::Run<luma fraction, chroma fraction, shared> for the set and values.
template <typename Family>
inline void DispatchPairRows(const TInverseSet& set, const TPairValues& values, const std::uint8_t* const* pY,
                             std::uint8_t* const* pOut, std::int32_t nRows, std::int32_t nCount,
                             std::int32_t nBytesPerPixel) {
  const bool shared = values.cbOdd == values.cbEven && values.crOdd == values.crEven;
  const bool luma = set.lumaRule.f != 0;
  const bool chroma = HasChromaFraction(set);
  const auto run = [&](auto lumaFraction, auto chromaFraction, auto sharedValues) {
    Family::template Run<decltype(lumaFraction)::value, decltype(chromaFraction)::value,
                         decltype(sharedValues)::value>(set, values, pY, pOut, nRows, nCount, nBytesPerPixel);
  };
  const auto withShared = [&](auto lumaFraction, auto chromaFraction) {
    if (shared) {
      run(lumaFraction, chromaFraction, std::true_type{});
    } else {
      run(lumaFraction, chromaFraction, std::false_type{});
    }
  };
  if (luma) {
    if (chroma) {
      withShared(std::true_type{}, std::true_type{});
    } else {
      withShared(std::true_type{}, std::false_type{});
    }
  } else if (chroma) {
    withShared(std::false_type{}, std::true_type{});
  } else {
    withShared(std::false_type{}, std::false_type{});
  }
}

const TInverseKernels kScalarKernels{ScalarYuy2Split, ScalarPairRows};

#ifdef TOVRIN_COLOR_X86

// ---------------------------------------------------------------------------
// AVX2 family. Table entries are computed by their exact integer rules: the
// terms of eight chroma values in 32-bit lanes, then sixteen pixels of each
// row with every 32-bit lane holding one pixel pair (the even pixel's luma
// in the low half of the word, the odd pixel's in the high half), so that a
// pair's terms serve both pixels without being widened.

#define TOVRIN_AVX2 __attribute__((target("avx2")))

// Constants of the luma rule: luma(x) = 65,536 x + nLow x + t(x), x = Y - offset,
// taken as 16-bit pairs.
struct TLuma256 {
  __m256i lowEven, lowOdd, oneEven, oneOdd, highHalf, offset, fraction;
};

TOVRIN_AVX2 inline TLuma256 MakeLuma256(const TInverseSet& set) {
  const std::int32_t nLow = set.lumaRule.n - 65536;
  return TLuma256{_mm256_set1_epi32(nLow),
                  _mm256_set1_epi32(nLow << 16),
                  _mm256_set1_epi32(1),
                  _mm256_set1_epi32(1 << 16),
                  _mm256_set1_epi32(static_cast<std::int32_t>(0xFFFF0000u)),
                  _mm256_set1_epi16(static_cast<std::int16_t>(set.lumaOffset)),
                  _mm256_set1_epi16(static_cast<std::int16_t>(set.lumaRule.f))};
}

// Luma entries of sixteen pixels: lane i of `even` for pixel 2i, of `odd` for 2i + 1.
template <bool kFraction>
TOVRIN_AVX2 inline void Luma256(const TLuma256& c, __m128i yBytes, __m256i& even, __m256i& odd) {
  const __m256i x = _mm256_sub_epi16(_mm256_cvtepu8_epi16(yBytes), c.offset);
  even = _mm256_add_epi32(_mm256_madd_epi16(x, c.lowEven), _mm256_slli_epi32(x, 16));
  odd = _mm256_add_epi32(_mm256_madd_epi16(x, c.lowOdd), _mm256_and_si256(x, c.highHalf));
  if constexpr (kFraction) {
    const __m256i t = _mm256_sign_epi16(_mm256_mulhi_epu16(_mm256_abs_epi16(x), c.fraction), x);
    even = _mm256_add_epi32(even, _mm256_madd_epi16(t, c.oneEven));
    odd = _mm256_add_epi32(odd, _mm256_madd_epi16(t, c.oneOdd));
  }
}

template <bool kFraction>
TOVRIN_AVX2 inline void Luma256(const TLuma256& c, const std::uint8_t* pY, __m256i& even, __m256i& odd) {
  Luma256<kFraction>(c, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pY)), even, odd);
}

// One component of sixteen pixels as 16-bit lanes in pixel order: the high
// halves of (luma + term) for the even and the odd pixel of each pair.
TOVRIN_AVX2 inline __m256i PairHighWords256(__m256i lumaEven, __m256i lumaOdd, __m256i termEven,
                                            __m256i termOdd) {
  const __m256i even = _mm256_srli_epi32(_mm256_add_epi32(lumaEven, termEven), 16);
  const __m256i odd = _mm256_add_epi32(lumaOdd, termOdd);
  return _mm256_blend_epi16(even, odd, 0xAA);
}

// Clamps three components of sixteen pixels to 0..255 (saturating packs) and
// stores them as B G R 0 or B G R.
TOVRIN_AVX2 inline void Store16(__m256i blue, __m256i green, __m256i red, std::uint8_t* out,
                                std::int32_t bytesPerPixel) {
  const __m256i blueRed = _mm256_packus_epi16(blue, red);  // B0-7 R0-7 | B8-15 R8-15
  const __m256i greenZero = _mm256_packus_epi16(green, _mm256_setzero_si256());
  const __m256i bg = _mm256_unpacklo_epi8(blueRed, greenZero);
  const __m256i r0 = _mm256_unpackhi_epi8(blueRed, greenZero);
  const __m256i q1 = _mm256_unpacklo_epi16(bg, r0);  // pixels 0-3 | 8-11
  const __m256i q2 = _mm256_unpackhi_epi16(bg, r0);  // pixels 4-7 | 12-15
  if (bytesPerPixel == 4) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(q1, q2, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), _mm256_permute2x128_si256(q1, q2, 0x31));
    return;
  }
  const __m256i drop = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5,
                                        6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i c1 = _mm256_shuffle_epi8(q1, drop);  // 12 bytes of 0-3 | 12 of 8-11
  const __m256i c2 = _mm256_shuffle_epi8(q2, drop);  // 12 bytes of 4-7 | 12 of 12-15
  const __m128i a = _mm256_castsi256_si128(c1);
  const __m128i b = _mm256_castsi256_si128(c2);
  const __m128i c = _mm256_extracti128_si256(c1, 1);
  const __m128i d = _mm256_extracti128_si256(c2, 1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(a, _mm_slli_si128(b, 12)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                   _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32),
                   _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
}

// Chroma constants.
struct TChroma256 {
  __m256i nBlue, nGreenCb, nGreenCr, nRed, baseBlue, baseGreen, baseRed;
  __m128i offset, fBlue, fGreenCb, fGreenCr, fRed;
};

TOVRIN_AVX2 inline TChroma256 MakeChroma256(const TInverseSet& set) {
  const std::int32_t o = set.chromaOffset;
  const std::int32_t r = set.rounding;
  TChroma256 c;
  c.nBlue = _mm256_set1_epi32(set.blueRule.n);
  c.nGreenCb = _mm256_set1_epi32(set.greenCbRule.n);
  c.nGreenCr = _mm256_set1_epi32(set.greenCrRule.n);
  c.nRed = _mm256_set1_epi32(set.redRule.n);
  c.baseBlue = _mm256_set1_epi32(r - set.blueRule.n * o);
  c.baseGreen = _mm256_set1_epi32(r + (set.greenCbRule.n + set.greenCrRule.n) * o);
  c.baseRed = _mm256_set1_epi32(r - set.redRule.n * o);
  c.offset = _mm_set1_epi16(static_cast<std::int16_t>(o));
  c.fBlue = _mm_set1_epi16(static_cast<std::int16_t>(set.blueRule.f));
  c.fGreenCb = _mm_set1_epi16(static_cast<std::int16_t>(set.greenCbRule.f));
  c.fGreenCr = _mm_set1_epi16(static_cast<std::int16_t>(set.greenCrRule.f));
  c.fRed = _mm_set1_epi16(static_cast<std::int16_t>(set.redRule.f));
  return c;
}

// The terms of eight chroma values, in registers.
// (From the low eight bytes of cbBytes and crBytes.)
template <bool kFraction>
TOVRIN_AVX2 inline void ChromaTerms8(const TChroma256& c, __m128i cbBytes, __m128i crBytes, __m256i& blue,
                                     __m256i& green, __m256i& red) {
  const __m128i cb = _mm_cvtepu8_epi16(cbBytes);
  const __m128i cr = _mm_cvtepu8_epi16(crBytes);
  const __m256i cb32 = _mm256_cvtepu16_epi32(cb);
  const __m256i cr32 = _mm256_cvtepu16_epi32(cr);
  blue = _mm256_add_epi32(c.baseBlue, _mm256_mullo_epi32(cb32, c.nBlue));
  green = _mm256_sub_epi32(_mm256_sub_epi32(c.baseGreen, _mm256_mullo_epi32(cb32, c.nGreenCb)),
                           _mm256_mullo_epi32(cr32, c.nGreenCr));
  red = _mm256_add_epi32(c.baseRed, _mm256_mullo_epi32(cr32, c.nRed));
  if constexpr (kFraction) {
    const __m128i xCb = _mm_sub_epi16(cb, c.offset);
    const __m128i xCr = _mm_sub_epi16(cr, c.offset);
    const __m128i aCb = _mm_abs_epi16(xCb);
    const __m128i aCr = _mm_abs_epi16(xCr);
    const __m128i tBlue = _mm_sign_epi16(_mm_mulhi_epu16(aCb, c.fBlue), xCb);
    const __m128i tGreen = _mm_add_epi16(_mm_sign_epi16(_mm_mulhi_epu16(aCb, c.fGreenCb), xCb),
                                         _mm_sign_epi16(_mm_mulhi_epu16(aCr, c.fGreenCr), xCr));
    const __m128i tRed = _mm_sign_epi16(_mm_mulhi_epu16(aCr, c.fRed), xCr);
    blue = _mm256_add_epi32(blue, _mm256_cvtepi16_epi32(tBlue));
    green = _mm256_sub_epi32(green, _mm256_cvtepi16_epi32(tGreen));
    red = _mm256_add_epi32(red, _mm256_cvtepi16_epi32(tRed));
  }
}

template <bool kFraction>
TOVRIN_AVX2 inline void ChromaTerms8(const TChroma256& c, const std::uint8_t* pCb, const std::uint8_t* pCr,
                                     __m256i& blue, __m256i& green, __m256i& red) {
  ChromaTerms8<kFraction>(c, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pCb)),
                          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pCr)), blue, green, red);
}

// One or two rows of pixel pairs: the terms of eight values (for the even and,
// unless shared, the odd pixels) serve sixteen pixels of each row.
struct TAvx2PairRows {
  template <bool kLumaFraction, bool kChromaFraction, bool kShared>
  TOVRIN_AVX2 static void Run(const TInverseSet& set, const TPairValues& values,
                              const std::uint8_t* const* pY, std::uint8_t* const* pOut, std::int32_t nRows,
                              std::int32_t nCount, std::int32_t nBytesPerPixel) {
    const TLuma256 luma = MakeLuma256(set);
    const TChroma256 chroma = MakeChroma256(set);
    const std::int32_t whole = nCount & ~15;
    std::int32_t i = 0;
    for (; i < whole; i += 16) {
      const std::int32_t k = i / 2;
      __m256i blueEven, greenEven, redEven;
      ChromaTerms8<kChromaFraction>(chroma, values.cbEven + k, values.crEven + k, blueEven, greenEven,
                                    redEven);
      __m256i blueOdd = blueEven, greenOdd = greenEven, redOdd = redEven;
      if constexpr (!kShared) {
        ChromaTerms8<kChromaFraction>(chroma, values.cbOdd + k, values.crOdd + k, blueOdd, greenOdd, redOdd);
      }
      for (std::int32_t row = 0; row < nRows; ++row) {
        __m256i lumaEven;
        __m256i lumaOdd;
        Luma256<kLumaFraction>(luma, pY[row] + i, lumaEven, lumaOdd);
        Store16(PairHighWords256(lumaEven, lumaOdd, blueEven, blueOdd),
                PairHighWords256(lumaEven, lumaOdd, greenEven, greenOdd),
                PairHighWords256(lumaEven, lumaOdd, redEven, redOdd), pOut[row] + nBytesPerPixel * i,
                nBytesPerPixel);
      }
    }
    if (i < nCount) {
      ScalarPairRest(set, values, pY, pOut, nRows, i, nCount, nBytesPerPixel);
    }
  }
};

TOVRIN_AVX2 void Avx2PairRows(const TInverseSet& set, const TPairValues& values,
                              const std::uint8_t* const* pY, std::uint8_t* const* pOut, std::int32_t nRows,
                              std::int32_t nCount, std::int32_t nBytesPerPixel) {
  DispatchPairRows<TAvx2PairRows>(set, values, pY, pOut, nRows, nCount, nBytesPerPixel);
}

TOVRIN_AVX2 void Avx2Yuy2Split(const std::uint8_t* pRow, std::int32_t nPairs, std::uint8_t* pY,
                               std::uint8_t* pCb, std::uint8_t* pCr) {
  // Per 16-byte lane: Y0..Y7, Cb0..Cb3, Cr0..Cr3.
  const __m256i gather = _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 5, 9, 13, 3, 7, 11, 15, 0, 2, 4, 6, 8,
                                          10, 12, 14, 1, 5, 9, 13, 3, 7, 11, 15);
  const std::int32_t whole = nPairs & ~7;
  std::int32_t k = 0;
  for (; k < whole; k += 8) {
    const __m256i groups =
        _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pRow + 4 * k)), gather);
    // Y0-7, Y8-15, Cb0-3 Cr0-3, Cb4-7 Cr4-7 -> Y0-15 | Cb0-3 Cb4-7 Cr0-3 Cr4-7.
    const __m256i ordered = _mm256_permute4x64_epi64(groups, 0xD8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pY + 2 * k), _mm256_castsi256_si128(ordered));
    const __m128i chroma = _mm_shuffle_epi32(_mm256_extracti128_si256(ordered, 1), _MM_SHUFFLE(3, 1, 2, 0));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pCb + k), chroma);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pCr + k), _mm_srli_si128(chroma, 8));
  }
  if (k < nPairs) {
    ScalarYuy2Split(pRow + 4 * k, nPairs - k, pY + 2 * k, pCb + k, pCr + k);
  }
}

// YUY2 in one pass, sixteen pixels (32 bytes) a step: the split of
// Avx2Yuy2Split, kept in registers.
struct TAvx2Yuy2Row {
  template <bool kLumaFraction, bool kChromaFraction>
  TOVRIN_AVX2 static std::int32_t Run(const TInverseSet& set, const std::uint8_t* pRow, std::uint8_t* pOut,
                                      std::int32_t nCount, std::int32_t nBytesPerPixel) {
    const TLuma256 luma = MakeLuma256(set);
    const TChroma256 chroma = MakeChroma256(set);
    const __m256i gather = _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 5, 9, 13, 3, 7, 11, 15, 0, 2, 4, 6,
                                            8, 10, 12, 14, 1, 5, 9, 13, 3, 7, 11, 15);
    const std::int32_t whole = nCount & ~15;
    for (std::int32_t i = 0; i < whole; i += 16) {
      const __m256i groups = _mm256_shuffle_epi8(
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pRow + 2 * std::ptrdiff_t{i})), gather);
      const __m256i ordered = _mm256_permute4x64_epi64(groups, 0xD8);
      const __m128i chromaBytes =
          _mm_shuffle_epi32(_mm256_extracti128_si256(ordered, 1), _MM_SHUFFLE(3, 1, 2, 0));
      __m256i blue, green, red;
      ChromaTerms8<kChromaFraction>(chroma, chromaBytes, _mm_srli_si128(chromaBytes, 8), blue, green, red);
      __m256i lumaEven;
      __m256i lumaOdd;
      Luma256<kLumaFraction>(luma, _mm256_castsi256_si128(ordered), lumaEven, lumaOdd);
      Store16(PairHighWords256(lumaEven, lumaOdd, blue, blue),
              PairHighWords256(lumaEven, lumaOdd, green, green),
              PairHighWords256(lumaEven, lumaOdd, red, red), pOut + std::ptrdiff_t{nBytesPerPixel} * i,
              nBytesPerPixel);
    }
    return whole;
  }
};

// Runs Family::Run<luma fraction, chroma fraction> for the set.
template <typename Family>
inline std::int32_t DispatchYuy2Row(const TInverseSet& set, const std::uint8_t* pRow, std::uint8_t* pOut,
                                    std::int32_t nCount, std::int32_t nBytesPerPixel) {
  const bool luma = set.lumaRule.f != 0;
  const bool chroma = HasChromaFraction(set);
  if (luma) {
    return chroma ? Family::template Run<true, true>(set, pRow, pOut, nCount, nBytesPerPixel)
                  : Family::template Run<true, false>(set, pRow, pOut, nCount, nBytesPerPixel);
  }
  return chroma ? Family::template Run<false, true>(set, pRow, pOut, nCount, nBytesPerPixel)
                : Family::template Run<false, false>(set, pRow, pOut, nCount, nBytesPerPixel);
}

TOVRIN_AVX2 std::int32_t Avx2Yuy2Row(const TInverseSet& set, const std::uint8_t* pRow, std::uint8_t* pOut,
                                     std::int32_t nCount, std::int32_t nBytesPerPixel) {
  return DispatchYuy2Row<TAvx2Yuy2Row>(set, pRow, pOut, nCount, nBytesPerPixel);
}

const TInverseKernels kAvx2Kernels{Avx2Yuy2Split, Avx2PairRows, Avx2Yuy2Row};

// ---------------------------------------------------------------------------
// AVX-512 families: the AVX2 algorithm on sixteen chroma values and 32 pixels
// (sixteen pairs) per step; the VBMI family packs the pixels with byte
// permutes.

#define TOVRIN_AVX512 __attribute__((target("avx512f,avx512bw")))

// GCC 12 reports the undefined pass-through operands inside its own AVX-512
// intrinsic headers as (maybe) used uninitialized.
#pragma GCC diagnostic push
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#pragma GCC diagnostic ignored "-Wuninitialized"

// sign(x) ((f |x|) >> 16) in 16-bit lanes; `negative` marks the lanes with x < 0.
TOVRIN_AVX512 inline __m512i SignedPart512(__m512i absX, __m512i factor, __mmask32 negative) {
  const __m512i part = _mm512_mulhi_epu16(absX, factor);
  return _mm512_mask_sub_epi16(part, negative, _mm512_setzero_si512(), part);
}

// Word selection for pixel pairs: output word 2i is the high word of lane i
// of the even sums, word 2i + 1 that of the odd sums.
TOVRIN_AVX512 inline __m512i HighWords512() {
  return _mm512_setr_epi32((33 << 16) | 1, (35 << 16) | 3, (37 << 16) | 5, (39 << 16) | 7, (41 << 16) | 9,
                           (43 << 16) | 11, (45 << 16) | 13, (47 << 16) | 15, (49 << 16) | 17,
                           (51 << 16) | 19, (53 << 16) | 21, (55 << 16) | 23, (57 << 16) | 25,
                           (59 << 16) | 27, (61 << 16) | 29, (63 << 16) | 31);
}

// Constants of the luma rule in 16-bit pairs (see the AVX2 pixel kernel).
struct TLuma512 {
  __m512i lowEven, lowOdd, oneEven, oneOdd, highHalf, offset, fraction;
};

TOVRIN_AVX512 inline TLuma512 MakeLuma512(const TInverseSet& set) {
  const std::int32_t nLow = set.lumaRule.n - 65536;
  return TLuma512{_mm512_set1_epi32(nLow),
                  _mm512_set1_epi32(nLow << 16),
                  _mm512_set1_epi32(1),
                  _mm512_set1_epi32(1 << 16),
                  _mm512_set1_epi32(static_cast<std::int32_t>(0xFFFF0000u)),
                  _mm512_set1_epi16(static_cast<std::int16_t>(set.lumaOffset)),
                  _mm512_set1_epi16(static_cast<std::int16_t>(set.lumaRule.f))};
}

// The three components of 32 pixels as 16-bit lanes in pixel order.
struct TComponents512 {
  __m512i blue, green, red;
};

// Clamps three components of 32 pixels to 0..255 (saturating packs) and
// stores them as B G R 0 or B G R.
TOVRIN_AVX512 inline void Store32(const TComponents512& c, std::uint8_t* out, std::int32_t bytesPerPixel) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i blueRed = _mm512_packus_epi16(c.blue, c.red);
  const __m512i greenZero = _mm512_packus_epi16(c.green, zero);
  const __m512i bg = _mm512_unpacklo_epi8(blueRed, greenZero);
  const __m512i r0 = _mm512_unpackhi_epi8(blueRed, greenZero);
  const __m512i q1 = _mm512_unpacklo_epi16(bg, r0);  // pixels 0-3 | 8-11 | 16-19 | 24-27
  const __m512i q2 = _mm512_unpackhi_epi16(bg, r0);  // pixels 4-7 | 12-15 | 20-23 | 28-31
  const __m512i low = _mm512_permutex2var_epi64(q1, _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11), q2);
  const __m512i high = _mm512_permutex2var_epi64(q1, _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15), q2);
  if (bytesPerPixel == 4) {
    _mm512_storeu_si512(out, low);
    _mm512_storeu_si512(out + 64, high);
    return;
  }
  // 24-bit pixels: drop every fourth byte within each lane, then close the gaps.
  const __m512i drop =
      _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
  const __m512i close = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 3, 7, 11, 15);
  const __mmask64 bytes48 = 0x0000FFFFFFFFFFFFull;
  _mm512_mask_storeu_epi8(out, bytes48, _mm512_permutexvar_epi32(close, _mm512_shuffle_epi8(low, drop)));
  _mm512_mask_storeu_epi8(out + 48, bytes48,
                          _mm512_permutexvar_epi32(close, _mm512_shuffle_epi8(high, drop)));
}

// Byte selections for the VBMI pack. The packed vectors hold, in each
// 16-byte lane L, pixels 8L..8L+7: "blue-green" B0-7 G0-7, "red-zero" R0-7
// then eight zeros; output byte p of pixel q, component c takes byte
// 16 (q / 8) + (q % 8) (+ 8 for green) of blue-green, or of red-zero (+ 64)
// for red, or a zero of red-zero.
constexpr std::array<std::uint8_t, 64> PackIndex(std::int32_t bytesPerPixel, std::int32_t part) {
  std::array<std::uint8_t, 64> index{};
  for (std::int32_t i = 0; i < 64; ++i) {
    const std::int32_t p = 64 * part + i;
    const std::int32_t q = p / bytesPerPixel;
    const std::int32_t c = p % bytesPerPixel;
    if (q >= 32) {
      continue;  // beyond the 32 pixels of a step (24-bit pixels): never stored
    }
    const std::int32_t at = 16 * (q / 8) + q % 8;
    index[i] = static_cast<std::uint8_t>(c == 0 ? at : c == 1 ? at + 8 : c == 2 ? 64 + at : 64 + 8);
  }
  return index;
}

constexpr std::array<std::uint8_t, 64> kPack32Low = PackIndex(4, 0);
constexpr std::array<std::uint8_t, 64> kPack32High = PackIndex(4, 1);
constexpr std::array<std::uint8_t, 64> kPack24Low = PackIndex(3, 0);
constexpr std::array<std::uint8_t, 64> kPack24High = PackIndex(3, 1);

#define TOVRIN_AVX512VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

TOVRIN_AVX512VBMI inline __m512i LoadIndex(const std::array<std::uint8_t, 64>& index) {
  return _mm512_loadu_si512(index.data());
}

// Chroma constants.
struct TChroma512 {
  __m512i nBlue, nGreenCb, nGreenCr, nRed, baseBlue, baseGreen, baseRed;
  __m256i offset, fBlue, fGreenCb, fGreenCr, fRed;
};

TOVRIN_AVX512 inline TChroma512 MakeChroma512(const TInverseSet& set, bool fraction) {
  const std::int32_t o = set.chromaOffset;
  const std::int32_t r = set.rounding;
  TChroma512 c;
  c.nBlue = _mm512_set1_epi32(set.blueRule.n);
  c.nGreenCb = _mm512_set1_epi32(set.greenCbRule.n);
  c.nGreenCr = _mm512_set1_epi32(set.greenCrRule.n);
  c.nRed = _mm512_set1_epi32(set.redRule.n);
  c.baseBlue = _mm512_set1_epi32(r - set.blueRule.n * o);
  c.baseGreen = _mm512_set1_epi32(r + (set.greenCbRule.n + set.greenCrRule.n) * o);
  c.baseRed = _mm512_set1_epi32(r - set.redRule.n * o);
  c.offset = _mm256_set1_epi16(static_cast<std::int16_t>(o));
  c.fBlue = _mm256_set1_epi16(static_cast<std::int16_t>(fraction ? set.blueRule.f : 0));
  c.fGreenCb = _mm256_set1_epi16(static_cast<std::int16_t>(fraction ? set.greenCbRule.f : 0));
  c.fGreenCr = _mm256_set1_epi16(static_cast<std::int16_t>(fraction ? set.greenCrRule.f : 0));
  c.fRed = _mm256_set1_epi16(static_cast<std::int16_t>(fraction ? set.redRule.f : 0));
  return c;
}

// The terms of sixteen chroma values, in registers.
template <bool kFraction>
TOVRIN_AVX512 inline TComponents512 ChromaTerms16(const TChroma512& c, __m128i cbBytes, __m128i crBytes) {
  const __m256i cb = _mm256_cvtepu8_epi16(cbBytes);
  const __m256i cr = _mm256_cvtepu8_epi16(crBytes);
  const __m512i cb32 = _mm512_cvtepu16_epi32(cb);
  const __m512i cr32 = _mm512_cvtepu16_epi32(cr);
  __m512i blue = _mm512_add_epi32(c.baseBlue, _mm512_mullo_epi32(cb32, c.nBlue));
  __m512i green = _mm512_sub_epi32(_mm512_sub_epi32(c.baseGreen, _mm512_mullo_epi32(cb32, c.nGreenCb)),
                                   _mm512_mullo_epi32(cr32, c.nGreenCr));
  __m512i red = _mm512_add_epi32(c.baseRed, _mm512_mullo_epi32(cr32, c.nRed));
  if constexpr (kFraction) {
    const __m256i xCb = _mm256_sub_epi16(cb, c.offset);
    const __m256i xCr = _mm256_sub_epi16(cr, c.offset);
    const __m256i aCb = _mm256_abs_epi16(xCb);
    const __m256i aCr = _mm256_abs_epi16(xCr);
    const __m256i tBlue = _mm256_sign_epi16(_mm256_mulhi_epu16(aCb, c.fBlue), xCb);
    const __m256i tGreen = _mm256_add_epi16(_mm256_sign_epi16(_mm256_mulhi_epu16(aCb, c.fGreenCb), xCb),
                                            _mm256_sign_epi16(_mm256_mulhi_epu16(aCr, c.fGreenCr), xCr));
    const __m256i tRed = _mm256_sign_epi16(_mm256_mulhi_epu16(aCr, c.fRed), xCr);
    blue = _mm512_add_epi32(blue, _mm512_cvtepi16_epi32(tBlue));
    green = _mm512_sub_epi32(green, _mm512_cvtepi16_epi32(tGreen));
    red = _mm512_add_epi32(red, _mm512_cvtepi16_epi32(tRed));
  }
  return TComponents512{blue, green, red};
}

template <bool kFraction>
TOVRIN_AVX512 inline TComponents512 ChromaTerms16(const TChroma512& c, const std::uint8_t* pCb,
                                                  const std::uint8_t* pCr) {
  return ChromaTerms16<kFraction>(c, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pCb)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(pCr)));
}

// The high words of luma + term for the even and odd pixel of each pair.
TOVRIN_AVX512 inline __m512i PairHighWords512(__m512i lumaEven, __m512i lumaOdd, __m512i termEven,
                                              __m512i termOdd, __m512i highWords) {
  return _mm512_permutex2var_epi16(_mm512_add_epi32(lumaEven, termEven), highWords,
                                   _mm512_add_epi32(lumaOdd, termOdd));
}

// Components of 32 pixels from the terms of their pairs' even and odd pixels.
template <bool kFraction>
// (From x = luma - offset of the 32 pixels as 16-bit lanes in pixel order.)
TOVRIN_AVX512 inline TComponents512 PairComponentsOf512(const TLuma512& c, __m512i x,
                                                        const TComponents512& even,
                                                        const TComponents512& odd) {
  __m512i lumaEven = _mm512_add_epi32(_mm512_madd_epi16(x, c.lowEven), _mm512_slli_epi32(x, 16));
  __m512i lumaOdd = _mm512_add_epi32(_mm512_madd_epi16(x, c.lowOdd), _mm512_and_si512(x, c.highHalf));
  if constexpr (kFraction) {
    const __m512i t =
        SignedPart512(_mm512_abs_epi16(x), c.fraction, _mm512_cmplt_epi16_mask(x, _mm512_setzero_si512()));
    lumaEven = _mm512_add_epi32(lumaEven, _mm512_madd_epi16(t, c.oneEven));
    lumaOdd = _mm512_add_epi32(lumaOdd, _mm512_madd_epi16(t, c.oneOdd));
  }
  const __m512i highWords = HighWords512();
  return TComponents512{PairHighWords512(lumaEven, lumaOdd, even.blue, odd.blue, highWords),
                        PairHighWords512(lumaEven, lumaOdd, even.green, odd.green, highWords),
                        PairHighWords512(lumaEven, lumaOdd, even.red, odd.red, highWords)};
}

template <bool kFraction>
TOVRIN_AVX512 inline TComponents512 PairComponents512(const TLuma512& c, __m256i yBytes,
                                                      const TComponents512& even, const TComponents512& odd) {
  return PairComponentsOf512<kFraction>(c, _mm512_sub_epi16(_mm512_cvtepu8_epi16(yBytes), c.offset), even,
                                        odd);
}

template <bool kFraction>
TOVRIN_AVX512 inline TComponents512 PairComponents512(const TLuma512& c, const std::uint8_t* pY,
                                                      const TComponents512& even, const TComponents512& odd) {
  return PairComponents512<kFraction>(c, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pY)), even, odd);
}

// YUY2 rows into 32-bit pixels from the heap start 16 bytes into a cache
// line, and a 64-byte store across two lines costs about as much as a
// pixel's arithmetic: the YUY2 kernels below convert their first 32 pixels,
// then go on from the first pixel whose output starts a line (converting the
// pixels between again, to the same values), so that every later store fills
// one line. Not with 3-byte pixels, nor where that pixel is odd (pixel pairs
// stay together): 0 then. (The 4:2:0 rows gain nothing by it: they are
// converted in segments, each of which would pay the extra step, and their
// time goes to reading memory.)
inline std::int32_t PixelsToLine(const std::uint8_t* pOut, std::int32_t nBytesPerPixel) {
  const std::size_t place = reinterpret_cast<std::uintptr_t>(pOut) & 63;
  if (nBytesPerPixel != 4 || place % 8 != 0) {
    return 0;
  }
  return static_cast<std::int32_t>((64 - place) % 64 / 4);
}

// The pixel where the step after the one at `i` starts (the loop runs while
// 32 pixels are left from it): after the first step the pixel `line` when it
// is not 0, and a row's last pixels, fewer than a step, are taken by one
// more step that ends at the row's end (at most one odd pixel after it),
// converting some pixels again, to the same values.
inline std::int32_t NextStep(std::int32_t i, std::int32_t line, std::int32_t nCount) {
  const std::int32_t next = i == 0 && line != 0 ? line : i + 32;
  if (nCount - next >= 32) {
    return next;
  }
  const std::int32_t last = (nCount - 32) & ~1;
  return last > i ? last : next;
}

// One or two rows of pixel pairs: the terms of sixteen values serve 32 pixels
// of each row.
struct TAvx512PairRows {
  template <bool kLumaFraction, bool kChromaFraction, bool kShared>
  TOVRIN_AVX512 static void Run(const TInverseSet& set, const TPairValues& values,
                                const std::uint8_t* const* pY, std::uint8_t* const* pOut, std::int32_t nRows,
                                std::int32_t nCount, std::int32_t nBytesPerPixel) {
    const TLuma512 luma = MakeLuma512(set);
    const TChroma512 chroma = MakeChroma512(set, kChromaFraction);
    std::int32_t i = 0;
    for (; nCount - i >= 32; i = NextStep(i, 0, nCount)) {
      const std::int32_t k = i / 2;
      const TComponents512 even =
          ChromaTerms16<kChromaFraction>(chroma, values.cbEven + k, values.crEven + k);
      const TComponents512 odd =
          kShared ? even : ChromaTerms16<kChromaFraction>(chroma, values.cbOdd + k, values.crOdd + k);
      for (std::int32_t row = 0; row < nRows; ++row) {
        Store32(PairComponents512<kLumaFraction>(luma, pY[row] + i, even, odd),
                pOut[row] + nBytesPerPixel * i, nBytesPerPixel);
      }
    }
    if (i < nCount) {
      ScalarPairRest(set, values, pY, pOut, nRows, i, nCount, nBytesPerPixel);
    }
  }
};

TOVRIN_AVX512 void Avx512PairRows(const TInverseSet& set, const TPairValues& values,
                                  const std::uint8_t* const* pY, std::uint8_t* const* pOut,
                                  std::int32_t nRows, std::int32_t nCount, std::int32_t nBytesPerPixel) {
  DispatchPairRows<TAvx512PairRows>(set, values, pY, pOut, nRows, nCount, nBytesPerPixel);
}

// The same with the pack done by two-source byte permutes.
struct TAvx512VbmiPairRows {
  template <bool kLumaFraction, bool kChromaFraction, bool kShared>
  TOVRIN_AVX512VBMI static void Run(const TInverseSet& set, const TPairValues& values,
                                    const std::uint8_t* const* pY, std::uint8_t* const* pOut,
                                    std::int32_t nRows, std::int32_t nCount, std::int32_t nBytesPerPixel) {
    const TLuma512 luma = MakeLuma512(set);
    const TChroma512 chroma = MakeChroma512(set, kChromaFraction);
    const __m512i zero = _mm512_setzero_si512();
    const bool wide = nBytesPerPixel == 4;
    const __m512i low = LoadIndex(wide ? kPack32Low : kPack24Low);
    const __m512i high = LoadIndex(wide ? kPack32High : kPack24High);
    const __mmask64 secondPart = wide ? ~__mmask64{0} : 0x00000000FFFFFFFFull;
    std::int32_t i = 0;
    for (; nCount - i >= 32; i = NextStep(i, 0, nCount)) {
      const std::int32_t k = i / 2;
      const TComponents512 even =
          ChromaTerms16<kChromaFraction>(chroma, values.cbEven + k, values.crEven + k);
      const TComponents512 odd =
          kShared ? even : ChromaTerms16<kChromaFraction>(chroma, values.cbOdd + k, values.crOdd + k);
      for (std::int32_t row = 0; row < nRows; ++row) {
        const TComponents512 c = PairComponents512<kLumaFraction>(luma, pY[row] + i, even, odd);
        const __m512i blueGreen = _mm512_packus_epi16(c.blue, c.green);
        const __m512i redZero = _mm512_packus_epi16(c.red, zero);
        std::uint8_t* out = pOut[row] + nBytesPerPixel * i;
        _mm512_storeu_si512(out, _mm512_permutex2var_epi8(blueGreen, low, redZero));
        // A masked store is far slower than a plain one on some processors:
        // only 24-bit rows, whose second part is half a vector, take it.
        if (wide) {
          _mm512_storeu_si512(out + 64, _mm512_permutex2var_epi8(blueGreen, high, redZero));
        } else {
          _mm512_mask_storeu_epi8(out + 64, secondPart, _mm512_permutex2var_epi8(blueGreen, high, redZero));
        }
      }
    }
    if (i < nCount) {
      ScalarPairRest(set, values, pY, pOut, nRows, i, nCount, nBytesPerPixel);
    }
  }
};

TOVRIN_AVX512VBMI void Avx512VbmiPairRows(const TInverseSet& set, const TPairValues& values,
                                          const std::uint8_t* const* pY, std::uint8_t* const* pOut,
                                          std::int32_t nRows, std::int32_t nCount,
                                          std::int32_t nBytesPerPixel) {
  DispatchPairRows<TAvx512VbmiPairRows>(set, values, pY, pOut, nRows, nCount, nBytesPerPixel);
}

// YUY2 in one pass: each 64 bytes of a row (sixteen groups Y0 Cb Y1 Cr, 32
// pixels) are taken apart in their 32-bit lanes, which already hold one
// pixel pair each: the luma bytes masked out as the pair's two 16-bit
// lanes, Cb and Cr shifted out per lane; the pixels of a pair share its
// terms. Nothing goes through memory between the read and the write.

// Constants of the groups: the fraction multipliers as 16-bit pairs matching
// the (Cb, Cr) words of each lane.
struct TYuy2Chroma512 {
  __m512i lowBytes, offset, fBlueRed, fGreen, lowWord, bothWords;
};

TOVRIN_AVX512 inline TYuy2Chroma512 MakeYuy2Chroma512(const TInverseSet& set) {
  const auto pair = [](std::int32_t low, std::int32_t high) {
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(high) << 16) |
                                     (static_cast<std::uint32_t>(low) & 0xFFFFu));
  };
  return TYuy2Chroma512{_mm512_set1_epi32(0x00FF00FF),
                        _mm512_set1_epi16(static_cast<std::int16_t>(set.chromaOffset)),
                        _mm512_set1_epi32(pair(set.blueRule.f, set.redRule.f)),
                        _mm512_set1_epi32(pair(set.greenCbRule.f, set.greenCrRule.f)),
                        _mm512_set1_epi32(pair(1, 0)),
                        _mm512_set1_epi32(pair(1, 1))};
}

// The chroma terms of sixteen groups, one per 32-bit lane.
template <bool kFraction>
TOVRIN_AVX512 inline TComponents512 Yuy2ChromaTerms16(const TChroma512& c, const TYuy2Chroma512& g,
                                                      __m512i groups) {
  const __m512i cb32 = _mm512_and_si512(_mm512_srli_epi32(groups, 8), _mm512_set1_epi32(0xFF));
  const __m512i cr32 = _mm512_srli_epi32(groups, 24);
  __m512i blue = _mm512_add_epi32(c.baseBlue, _mm512_mullo_epi32(cb32, c.nBlue));
  __m512i green = _mm512_sub_epi32(_mm512_sub_epi32(c.baseGreen, _mm512_mullo_epi32(cb32, c.nGreenCb)),
                                   _mm512_mullo_epi32(cr32, c.nGreenCr));
  __m512i red = _mm512_add_epi32(c.baseRed, _mm512_mullo_epi32(cr32, c.nRed));
  if constexpr (kFraction) {
    // (Cb, Cr) - offset as the two words of each lane.
    const __m512i x = _mm512_sub_epi16(_mm512_srli_epi16(groups, 8), g.offset);
    const __m512i a = _mm512_abs_epi16(x);
    const __mmask32 negative = _mm512_cmplt_epi16_mask(x, _mm512_setzero_si512());
    const __m512i blueRed = SignedPart512(a, g.fBlueRed, negative);  // (blue part, red part)
    const __m512i greens = SignedPart512(a, g.fGreen, negative);     // (green of Cb, green of Cr)
    blue = _mm512_add_epi32(blue, _mm512_madd_epi16(blueRed, g.lowWord));
    green = _mm512_sub_epi32(green, _mm512_madd_epi16(greens, g.bothWords));
    red = _mm512_add_epi32(red, _mm512_srai_epi32(blueRed, 16));
  }
  return TComponents512{blue, green, red};
}

// Luma - offset of the 32 pixels of sixteen groups, as 16-bit lanes in
// pixel order.
TOVRIN_AVX512 inline __m512i Yuy2Luma(const TLuma512& c, const TYuy2Chroma512& g, __m512i groups) {
  return _mm512_sub_epi16(_mm512_and_si512(groups, g.lowBytes), c.offset);
}

struct TAvx512Yuy2Row {
  template <bool kLumaFraction, bool kChromaFraction>
  TOVRIN_AVX512 static std::int32_t Run(const TInverseSet& set, const std::uint8_t* pRow, std::uint8_t* pOut,
                                        std::int32_t nCount, std::int32_t nBytesPerPixel) {
    const TLuma512 luma = MakeLuma512(set);
    const TChroma512 chroma = MakeChroma512(set, kChromaFraction);
    const TYuy2Chroma512 yuy2 = MakeYuy2Chroma512(set);
    const std::int32_t line = PixelsToLine(pOut, nBytesPerPixel);
    std::int32_t i = 0;
    for (; nCount - i >= 32; i = NextStep(i, line, nCount)) {
      const __m512i groups = _mm512_loadu_si512(pRow + 2 * std::ptrdiff_t{i});
      const TComponents512 terms = Yuy2ChromaTerms16<kChromaFraction>(chroma, yuy2, groups);
      Store32(PairComponentsOf512<kLumaFraction>(luma, Yuy2Luma(luma, yuy2, groups), terms, terms),
              pOut + std::ptrdiff_t{nBytesPerPixel} * i, nBytesPerPixel);
    }
    return i;
  }
};

struct TAvx512VbmiYuy2Row {
  template <bool kLumaFraction, bool kChromaFraction>
  TOVRIN_AVX512VBMI static std::int32_t Run(const TInverseSet& set, const std::uint8_t* pRow,
                                            std::uint8_t* pOut, std::int32_t nCount,
                                            std::int32_t nBytesPerPixel) {
    const TLuma512 luma = MakeLuma512(set);
    const TChroma512 chroma = MakeChroma512(set, kChromaFraction);
    const __m512i zero = _mm512_setzero_si512();
    const TYuy2Chroma512 yuy2 = MakeYuy2Chroma512(set);
    const bool wide = nBytesPerPixel == 4;
    const __m512i low = LoadIndex(wide ? kPack32Low : kPack24Low);
    const __m512i high = LoadIndex(wide ? kPack32High : kPack24High);
    const __mmask64 secondPart = wide ? ~__mmask64{0} : 0x00000000FFFFFFFFull;
    const std::int32_t line = PixelsToLine(pOut, nBytesPerPixel);
    std::int32_t i = 0;
    for (; nCount - i >= 32; i = NextStep(i, line, nCount)) {
      const __m512i groups = _mm512_loadu_si512(pRow + 2 * std::ptrdiff_t{i});
      const TComponents512 terms = Yuy2ChromaTerms16<kChromaFraction>(chroma, yuy2, groups);
      const TComponents512 c =
          PairComponentsOf512<kLumaFraction>(luma, Yuy2Luma(luma, yuy2, groups), terms, terms);
      const __m512i blueGreen = _mm512_packus_epi16(c.blue, c.green);
      const __m512i redZero = _mm512_packus_epi16(c.red, zero);
      std::uint8_t* out = pOut + std::ptrdiff_t{nBytesPerPixel} * i;
      _mm512_storeu_si512(out, _mm512_permutex2var_epi8(blueGreen, low, redZero));
      // A plain store where the row takes a whole vector (see above).
      if (wide) {
        _mm512_storeu_si512(out + 64, _mm512_permutex2var_epi8(blueGreen, high, redZero));
      } else {
        _mm512_mask_storeu_epi8(out + 64, secondPart, _mm512_permutex2var_epi8(blueGreen, high, redZero));
      }
    }
    return i;
  }
};

TOVRIN_AVX512 std::int32_t Avx512Yuy2Row(const TInverseSet& set, const std::uint8_t* pRow, std::uint8_t* pOut,
                                         std::int32_t nCount, std::int32_t nBytesPerPixel) {
  return DispatchYuy2Row<TAvx512Yuy2Row>(set, pRow, pOut, nCount, nBytesPerPixel);
}

TOVRIN_AVX512VBMI std::int32_t Avx512VbmiYuy2Row(const TInverseSet& set, const std::uint8_t* pRow,
                                                 std::uint8_t* pOut, std::int32_t nCount,
                                                 std::int32_t nBytesPerPixel) {
  return DispatchYuy2Row<TAvx512VbmiYuy2Row>(set, pRow, pOut, nCount, nBytesPerPixel);
}

const TInverseKernels kAvx512Kernels{Avx2Yuy2Split, Avx512PairRows, Avx512Yuy2Row};
const TInverseKernels kAvx512VbmiKernels{Avx2Yuy2Split, Avx512VbmiPairRows, Avx512VbmiYuy2Row};

#pragma GCC diagnostic pop

#endif

// ---------------------------------------------------------------------------
// Squared differences of 4-byte pixels (blue, green, red and an ignored
// fourth byte). Every vector kernel takes |a - b| per byte as the larger of
// the two saturating differences, widens it to 16 bits and sums its squares
// in pairs into 32-bit lanes; a lane gains at most 4 x 255^2 per step, so
// the lanes are emptied into the 64-bit total every kFlushSteps steps, long
// before they could wrap. The last pixels (fewer than a step) go through the
// plain loop.

constexpr std::size_t kFlushSteps = 4096;

std::uint64_t PlainSquaredDiffBgrx(const std::uint8_t* a, const std::uint8_t* b, std::size_t pixels) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < pixels; ++i) {
    for (std::size_t c = 0; c < 3; ++c) {
      const std::int32_t d = std::int32_t{a[4 * i + c]} - std::int32_t{b[4 * i + c]};
      sum += static_cast<std::uint64_t>(d * d);
    }
  }
  return sum;
}

// ---------------------------------------------------------------------------
// 24-bit pixels widened to 32 bits (blue, green, red, 0).

void PlainWidenBgrRow(const std::uint8_t* pSource, std::uint8_t* pTarget, std::size_t pixels) {
  for (std::size_t x = 0; x < pixels; ++x, pSource += 3, pTarget += 4) {
    pTarget[0] = pSource[0];
    pTarget[1] = pSource[1];
    pTarget[2] = pSource[2];
    pTarget[3] = 0;
  }
}

// The SSE2 and AVX2 kernels are one loop over vectors of 4-byte pixels,
// two vectors a step; a lane type gives the loop its vector operations. The
// loop is written once, as a macro, and made into a template for each
// instruction set (a function must carry the target of the vector types it
// passes around), so each kernel gets its own instructions.
#define TOVRIN_SQUARED_DIFF_LOOP(NAME, TARGET)                                                         \
  template <typename TLanes>                                                                           \
  TARGET inline std::uint64_t NAME(const std::uint8_t* a, const std::uint8_t* b, std::size_t pixels) { \
    constexpr std::size_t kStep = 2 * TLanes::kPixels;                                                 \
    std::uint64_t sum = 0;                                                                             \
    std::size_t i = 0;                                                                                 \
    const auto zero = TLanes::Zero();                                                                  \
    const auto keep = TLanes::Keep();                                                                  \
    while (pixels - i >= kStep) {                                                                      \
      const std::size_t steps = std::min<std::size_t>((pixels - i) / kStep, kFlushSteps);              \
      auto acc0 = zero;                                                                                \
      auto acc1 = zero;                                                                                \
      for (std::size_t k = 0; k < steps; ++k, i += kStep) {                                            \
        const std::uint8_t* pa = a + 4 * i;                                                            \
        const std::uint8_t* pb = b + 4 * i;                                                            \
        acc0 = TLanes::AddSquares(acc0, TLanes::Diff(TLanes::Load(pa), TLanes::Load(pb), keep), zero); \
        acc1 = TLanes::AddSquares(acc1,                                                                \
                                  TLanes::Diff(TLanes::Load(pa + 4 * TLanes::kPixels),                 \
                                               TLanes::Load(pb + 4 * TLanes::kPixels), keep),          \
                                  zero);                                                               \
      }                                                                                                \
      sum += TLanes::Total(acc0, acc1, zero);                                                          \
    }                                                                                                  \
    return sum + PlainSquaredDiffBgrx(a + 4 * i, b + 4 * i, pixels - i);                               \
  }

TOVRIN_SQUARED_DIFF_LOOP(LanesSquaredDiffBgrx, )

#if defined(__SSE2__)
// Four pixels a vector.
struct TSse2Lanes {
  static constexpr std::size_t kPixels = 4;
  static __m128i Zero() { return _mm_setzero_si128(); }
  static __m128i Keep() { return _mm_set1_epi32(0x00FFFFFF); }
  static __m128i Load(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  // |a - b| per byte, the fourth bytes cleared.
  static __m128i Diff(__m128i a, __m128i b, __m128i keep) {
    return _mm_and_si128(_mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a)), keep);
  }
  // The squares of the differences, summed in pairs into the 32-bit lanes.
  static __m128i AddSquares(__m128i acc, __m128i d, __m128i zero) {
    const __m128i l = _mm_unpacklo_epi8(d, zero);
    const __m128i h = _mm_unpackhi_epi8(d, zero);
    return _mm_add_epi32(acc, _mm_add_epi32(_mm_madd_epi16(l, l), _mm_madd_epi16(h, h)));
  }
  static std::uint64_t Total(__m128i acc0, __m128i acc1, __m128i zero) {
    const __m128i both =
        _mm_add_epi64(_mm_add_epi64(_mm_unpacklo_epi32(acc0, zero), _mm_unpackhi_epi32(acc0, zero)),
                      _mm_add_epi64(_mm_unpacklo_epi32(acc1, zero), _mm_unpackhi_epi32(acc1, zero)));
    alignas(16) std::uint64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), both);
    return lanes[0] + lanes[1];
  }
};

std::uint64_t Sse2SquaredDiffBgrx(const std::uint8_t* a, const std::uint8_t* b, std::size_t pixels) {
  return LanesSquaredDiffBgrx<TSse2Lanes>(a, b, pixels);
}
#endif

#ifdef TOVRIN_COLOR_X86

#pragma GCC diagnostic push
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#pragma GCC diagnostic ignored "-Wuninitialized"

// Eight pixels a vector.
struct TAvx2Lanes {
  static constexpr std::size_t kPixels = 8;
  TOVRIN_AVX2 static __m256i Zero() { return _mm256_setzero_si256(); }
  TOVRIN_AVX2 static __m256i Keep() { return _mm256_set1_epi32(0x00FFFFFF); }
  TOVRIN_AVX2 static __m256i Load(const std::uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  TOVRIN_AVX2 static __m256i Diff(__m256i a, __m256i b, __m256i keep) {
    return _mm256_and_si256(_mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a)), keep);
  }
  TOVRIN_AVX2 static __m256i AddSquares(__m256i acc, __m256i d, __m256i zero) {
    const __m256i l = _mm256_unpacklo_epi8(d, zero);
    const __m256i h = _mm256_unpackhi_epi8(d, zero);
    return _mm256_add_epi32(acc, _mm256_add_epi32(_mm256_madd_epi16(l, l), _mm256_madd_epi16(h, h)));
  }
  TOVRIN_AVX2 static std::uint64_t Total(__m256i acc0, __m256i acc1, __m256i zero) {
    const __m256i both = _mm256_add_epi64(
        _mm256_add_epi64(_mm256_unpacklo_epi32(acc0, zero), _mm256_unpackhi_epi32(acc0, zero)),
        _mm256_add_epi64(_mm256_unpacklo_epi32(acc1, zero), _mm256_unpackhi_epi32(acc1, zero)));
    alignas(32) std::uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), both);
    return lanes[0] + lanes[1] + lanes[2] + lanes[3];
  }
};

TOVRIN_SQUARED_DIFF_LOOP(Avx2LanesSquaredDiffBgrx, TOVRIN_AVX2)

TOVRIN_AVX2 std::uint64_t Avx2SquaredDiffBgrx(const std::uint8_t* a, const std::uint8_t* b,
                                              std::size_t pixels) {
  return Avx2LanesSquaredDiffBgrx<TAvx2Lanes>(a, b, pixels);
}

// 32 pixels a step in two 64-byte halves; the fourth bytes are masked out of
// the differences. A 64-byte load that straddles two cache lines costs about
// as much as the arithmetic on it, and pictures from the heap start 16 bytes
// into a line: the pixels before the first line of `a` go through the plain
// loop, and the rest is read a whole line a load. Pictures that are not
// placed alike within their lines cannot both be read that way; they take
// the AVX2 loop, whose 32-byte loads straddle half as often.
TOVRIN_AVX512 std::uint64_t Avx512SquaredDiffBgrx(const std::uint8_t* a, const std::uint8_t* b,
                                                  std::size_t pixels) {
  const std::size_t place = reinterpret_cast<std::uintptr_t>(a) & 63;
  if (place != (reinterpret_cast<std::uintptr_t>(b) & 63) || place % 4 != 0) {
    return Avx2SquaredDiffBgrx(a, b, pixels);
  }
  const std::size_t head = std::min(pixels, (64 - place) % 64 / 4);
  std::uint64_t sum = PlainSquaredDiffBgrx(a, b, head);
  a += 4 * head;
  b += 4 * head;
  pixels -= head;
  std::size_t i = 0;
  const __m512i zero = _mm512_setzero_si512();
  const __mmask64 keep = 0x7777777777777777ull;
  while (pixels - i >= 32) {
    const std::size_t steps = std::min<std::size_t>((pixels - i) / 32, kFlushSteps);
    __m512i acc0 = zero;
    __m512i acc1 = zero;
    for (std::size_t k = 0; k < steps; ++k, i += 32) {
      const __m512i a0 = _mm512_load_si512(a + 4 * i);
      const __m512i b0 = _mm512_load_si512(b + 4 * i);
      const __m512i a1 = _mm512_load_si512(a + 4 * i + 64);
      const __m512i b1 = _mm512_load_si512(b + 4 * i + 64);
      const __m512i d0 = _mm512_maskz_max_epu8(keep, _mm512_subs_epu8(a0, b0), _mm512_subs_epu8(b0, a0));
      const __m512i d1 = _mm512_maskz_max_epu8(keep, _mm512_subs_epu8(a1, b1), _mm512_subs_epu8(b1, a1));
      const __m512i l0 = _mm512_unpacklo_epi8(d0, zero);
      const __m512i h0 = _mm512_unpackhi_epi8(d0, zero);
      const __m512i l1 = _mm512_unpacklo_epi8(d1, zero);
      const __m512i h1 = _mm512_unpackhi_epi8(d1, zero);
      acc0 = _mm512_add_epi32(acc0, _mm512_add_epi32(_mm512_madd_epi16(l0, l0), _mm512_madd_epi16(h0, h0)));
      acc1 = _mm512_add_epi32(acc1, _mm512_add_epi32(_mm512_madd_epi16(l1, l1), _mm512_madd_epi16(h1, h1)));
    }
    const __m512i both = _mm512_add_epi64(
        _mm512_add_epi64(_mm512_unpacklo_epi32(acc0, zero), _mm512_unpackhi_epi32(acc0, zero)),
        _mm512_add_epi64(_mm512_unpacklo_epi32(acc1, zero), _mm512_unpackhi_epi32(acc1, zero)));
    sum += static_cast<std::uint64_t>(_mm512_reduce_add_epi64(both));
  }
  return sum + PlainSquaredDiffBgrx(a + 4 * i, b + 4 * i, pixels - i);
}

// Sixteen pixels a step: four 12-byte groups, each read as 16 bytes (the
// last read ends 4 bytes past the group, so the loop stops while more than
// that is left) and spread to 4 bytes a pixel by one byte shuffle per lane.
TOVRIN_AVX2 void Avx2WidenBgrRow(const std::uint8_t* pSource, std::uint8_t* pTarget, std::size_t pixels) {
  const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1,
                                          3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  std::size_t i = 0;
  for (; pixels - i >= 18; i += 16) {
    const std::uint8_t* s = pSource + 3 * i;
    const __m256i a =
        _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s))),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 12)), 1);
    const __m256i b = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 24))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 36)), 1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pTarget + 4 * i), _mm256_shuffle_epi8(a, spread));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pTarget + 4 * i + 32), _mm256_shuffle_epi8(b, spread));
  }
  PlainWidenBgrRow(pSource + 3 * i, pTarget + 4 * i, pixels - i);
}

#pragma GCC diagnostic pop

#endif

bool CpuHasAvx2() {
#ifdef TOVRIN_COLOR_X86
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
#else
  return false;
#endif
}

bool CpuHasAvx512() {
#ifdef TOVRIN_COLOR_X86
  static const bool has = [] {
    __builtin_cpu_init();
    return CpuHasAvx2() && __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0;
  }();
  return has;
#else
  return false;
#endif
}

bool CpuHasAvx512Vbmi() {
#ifdef TOVRIN_COLOR_X86
  static const bool has = [] {
    __builtin_cpu_init();
    return CpuHasAvx512() && __builtin_cpu_supports("avx512vbmi") != 0;
  }();
  return has;
#else
  return false;
#endif
}

TColorKernel BestKernel() {
  if (CpuHasAvx512Vbmi()) {
    return TColorKernel::Avx512Vbmi;
  }
  if (CpuHasAvx512()) {
    return TColorKernel::Avx512;
  }
  return CpuHasAvx2() ? TColorKernel::Avx2 : TColorKernel::Scalar;
}

std::atomic<int>& ChosenKernel() {
  static std::atomic<int> chosen{static_cast<int>(BestKernel())};
  return chosen;
}

}  // namespace

bool IsColorKernelSupported(TColorKernel kernel) {
  switch (kernel) {
    case TColorKernel::Scalar: return true;
    case TColorKernel::Avx2: return CpuHasAvx2();
    case TColorKernel::Avx512: return CpuHasAvx512();
    case TColorKernel::Avx512Vbmi: return CpuHasAvx512Vbmi();
  }
  return false;
}

TColorKernel GetColorKernel() {
  return static_cast<TColorKernel>(ChosenKernel().load(std::memory_order_relaxed));
}

bool SetColorKernel(TColorKernel kernel) {
  if (!IsColorKernelSupported(kernel)) {
    return false;
  }
  ChosenKernel().store(static_cast<int>(kernel), std::memory_order_relaxed);
  return true;
}

std::uint64_t SquaredDiffBgrxReference(const std::uint8_t* a, const std::uint8_t* b, std::size_t pixels) {
  return PlainSquaredDiffBgrx(a, b, pixels);
}

TSquaredDiffBgrxFn SquaredDiffBgrxKernel() {
#ifdef TOVRIN_COLOR_X86
  switch (GetColorKernel()) {
    case TColorKernel::Avx512Vbmi:
    case TColorKernel::Avx512: return Avx512SquaredDiffBgrx;
    case TColorKernel::Avx2: return Avx2SquaredDiffBgrx;
    case TColorKernel::Scalar: break;
  }
#endif
#if defined(__SSE2__)
  return Sse2SquaredDiffBgrx;
#else
  return PlainSquaredDiffBgrx;
#endif
}

void WidenBgrRowReference(const std::uint8_t* pSource, std::uint8_t* pTarget, std::size_t pixels) {
  PlainWidenBgrRow(pSource, pTarget, pixels);
}

TWidenBgrRowFn WidenBgrRowKernel() {
#ifdef TOVRIN_COLOR_X86
  if (GetColorKernel() != TColorKernel::Scalar) return Avx2WidenBgrRow;
#endif
  return PlainWidenBgrRow;
}

const TInverseKernels& InverseKernels() {
#ifdef TOVRIN_COLOR_X86
  switch (GetColorKernel()) {
    case TColorKernel::Avx512Vbmi: return kAvx512VbmiKernels;
    case TColorKernel::Avx512: return kAvx512Kernels;
    case TColorKernel::Avx2: return kAvx2Kernels;
    case TColorKernel::Scalar: break;
  }
#endif
  return kScalarKernels;
}

}  // namespace ImageColorConversion::detail
