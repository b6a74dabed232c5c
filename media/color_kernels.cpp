// Row kernels of the YCbCr -> RGB converters: a table-based scalar family
// that runs everywhere, and AVX2 and AVX-512 families chosen at run time.

#include "media/color_kernels.h"

#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TOVRIN_COLOR_X86 1
#endif

namespace ImageColorConversion::detail {

namespace {

// ---------------------------------------------------------------------------
// Scalar family: straight table look-ups.

void ScalarChromaTerms(const TInverseSet& set, const std::uint8_t* pCb, const std::uint8_t* pCr,
                       std::int32_t nCount, std::int32_t* pBlue, std::int32_t* pGreen,
                       std::int32_t* pRed) {
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

void ScalarYuy2Split(const std::uint8_t* pRow, std::int32_t nPairs, std::uint8_t* pY,
                     std::uint8_t* pCb, std::uint8_t* pCr) {
  for (std::int32_t k = 0; k < nPairs; ++k) {
    pY[2 * k] = pRow[4 * k];
    pCb[k] = pRow[4 * k + 1];
    pY[2 * k + 1] = pRow[4 * k + 2];
    pCr[k] = pRow[4 * k + 3];
  }
}

const TInverseKernels kScalarKernels{ScalarChromaTerms, ScalarPixelRow, ScalarYuy2Split};

#ifdef TOVRIN_COLOR_X86

// ---------------------------------------------------------------------------
// AVX2 family. Table entries are computed by their exact integer rules;
// chroma terms eight values at a time in 32-bit lanes, pixels sixteen at a
// time with each 32-bit lane holding one pixel pair (even pixel in the low
// half of the luma word, odd pixel in the high half), so that a pair's
// shared terms are used without widening them.

#define TOVRIN_AVX2 __attribute__((target("avx2")))

TOVRIN_AVX2 inline __m256i LoadBytes8(const std::uint8_t* p) {
  return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

TOVRIN_AVX2 inline __m256i Load8(const std::int32_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

TOVRIN_AVX2 inline void Store8(std::int32_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// Signed entry for the offset index x (32-bit lanes): n x + sign(x) ((f |x|) >> 16).
TOVRIN_AVX2 inline __m256i Term(__m256i x, __m256i absX, const TTermRule& rule) {
  const __m256i whole = _mm256_mullo_epi32(x, _mm256_set1_epi32(rule.n));
  const __m256i part =
      _mm256_srli_epi32(_mm256_mullo_epi32(absX, _mm256_set1_epi32(rule.f)), 16);
  return _mm256_add_epi32(whole, _mm256_sign_epi32(part, x));
}

template <bool kFraction>
TOVRIN_AVX2 void Avx2ChromaTerms(const TInverseSet& set, const std::uint8_t* pCb,
                                 const std::uint8_t* pCr, std::int32_t nCount, std::int32_t* pBlue,
                                 std::int32_t* pGreen, std::int32_t* pRed) {
  const std::int32_t o = set.chromaOffset;
  const std::int32_t r = set.rounding;
  const std::int32_t whole = nCount & ~7;
  std::int32_t i = 0;
  if constexpr (kFraction) {
    const __m256i offset = _mm256_set1_epi32(o);
    const __m256i rounding = _mm256_set1_epi32(r);
    for (; i < whole; i += 8) {
      const __m256i xCb = _mm256_sub_epi32(LoadBytes8(pCb + i), offset);
      const __m256i xCr = _mm256_sub_epi32(LoadBytes8(pCr + i), offset);
      const __m256i aCb = _mm256_abs_epi32(xCb);
      const __m256i aCr = _mm256_abs_epi32(xCr);
      Store8(pBlue + i, _mm256_add_epi32(rounding, Term(xCb, aCb, set.blueRule)));
      Store8(pGreen + i, _mm256_sub_epi32(_mm256_sub_epi32(rounding, Term(xCb, aCb, set.greenCbRule)),
                                          Term(xCr, aCr, set.greenCrRule)));
      Store8(pRed + i, _mm256_add_epi32(rounding, Term(xCr, aCr, set.redRule)));
    }
  } else {
    // Whole coefficients: n (c - o) = n c - n o, the constant folded in.
    const __m256i nBlue = _mm256_set1_epi32(set.blueRule.n);
    const __m256i nGreenCb = _mm256_set1_epi32(set.greenCbRule.n);
    const __m256i nGreenCr = _mm256_set1_epi32(set.greenCrRule.n);
    const __m256i nRed = _mm256_set1_epi32(set.redRule.n);
    const __m256i baseBlue = _mm256_set1_epi32(r - set.blueRule.n * o);
    const __m256i baseGreen = _mm256_set1_epi32(r + (set.greenCbRule.n + set.greenCrRule.n) * o);
    const __m256i baseRed = _mm256_set1_epi32(r - set.redRule.n * o);
    for (; i < whole; i += 8) {
      const __m256i cb = LoadBytes8(pCb + i);
      const __m256i cr = LoadBytes8(pCr + i);
      Store8(pBlue + i, _mm256_add_epi32(baseBlue, _mm256_mullo_epi32(cb, nBlue)));
      Store8(pGreen + i,
             _mm256_sub_epi32(_mm256_sub_epi32(baseGreen, _mm256_mullo_epi32(cb, nGreenCb)),
                              _mm256_mullo_epi32(cr, nGreenCr)));
      Store8(pRed + i, _mm256_add_epi32(baseRed, _mm256_mullo_epi32(cr, nRed)));
    }
  }
  if (i < nCount) {
    ScalarChromaTerms(set, pCb + i, pCr + i, nCount - i, pBlue + i, pGreen + i, pRed + i);
  }
}

// One component of sixteen pixels as 16-bit lanes in pixel order: the high
// halves of (luma + term) for the even and the odd pixel of each pair.
template <bool kShared>
TOVRIN_AVX2 inline __m256i Component(__m256i lumaEven, __m256i lumaOdd, const std::int32_t* pEven,
                                     const std::int32_t* pOdd) {
  const __m256i termEven = Load8(pEven);
  const __m256i termOdd = kShared ? termEven : Load8(pOdd);
  const __m256i even = _mm256_srli_epi32(_mm256_add_epi32(lumaEven, termEven), 16);
  const __m256i odd = _mm256_add_epi32(lumaOdd, termOdd);
  return _mm256_blend_epi16(even, odd, 0xAA);
}

template <bool kFraction, bool kShared>
TOVRIN_AVX2 void Avx2PixelRow(const TInverseSet& set, const std::uint8_t* pY,
                              const TTermRows& even, const TTermRows& odd, std::uint8_t* pOut,
                              std::int32_t nCount, std::int32_t nBytesPerPixel) {
  const std::int32_t* const evenBlue = even.blue;
  const std::int32_t* const evenGreen = even.green;
  const std::int32_t* const evenRed = even.red;
  const std::int32_t* const oddBlue = kShared ? even.blue : odd.blue;
  const std::int32_t* const oddGreen = kShared ? even.green : odd.green;
  const std::int32_t* const oddRed = kShared ? even.red : odd.red;
  // luma(x) = 65,536 x + nLow x + t(x), x = Y - offset, as 16-bit pairs.
  const std::int32_t nLow = set.lumaRule.n - 65536;
  const __m256i lowEven = _mm256_set1_epi32(nLow);
  const __m256i lowOdd = _mm256_set1_epi32(nLow << 16);
  const __m256i oneEven = _mm256_set1_epi32(1);
  const __m256i oneOdd = _mm256_set1_epi32(1 << 16);
  const __m256i highHalf = _mm256_set1_epi32(static_cast<std::int32_t>(0xFFFF0000u));
  const __m256i offset = _mm256_set1_epi16(static_cast<std::int16_t>(set.lumaOffset));
  const __m256i fraction = _mm256_set1_epi16(static_cast<std::int16_t>(set.lumaRule.f));
  const __m256i zero = _mm256_setzero_si256();
  const __m256i drop = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                        0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const std::int32_t whole = nCount & ~15;
  std::int32_t i = 0;
  for (; i < whole; i += 16) {
    const __m256i x = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pY + i))), offset);
    __m256i lumaEven = _mm256_add_epi32(_mm256_madd_epi16(x, lowEven), _mm256_slli_epi32(x, 16));
    __m256i lumaOdd = _mm256_add_epi32(_mm256_madd_epi16(x, lowOdd), _mm256_and_si256(x, highHalf));
    if constexpr (kFraction) {
      const __m256i t = _mm256_sign_epi16(_mm256_mulhi_epu16(_mm256_abs_epi16(x), fraction), x);
      lumaEven = _mm256_add_epi32(lumaEven, _mm256_madd_epi16(t, oneEven));
      lumaOdd = _mm256_add_epi32(lumaOdd, _mm256_madd_epi16(t, oneOdd));
    }
    const std::int32_t k = i / 2;
    const __m256i blue = Component<kShared>(lumaEven, lumaOdd, evenBlue + k, oddBlue + k);
    const __m256i green = Component<kShared>(lumaEven, lumaOdd, evenGreen + k, oddGreen + k);
    const __m256i red = Component<kShared>(lumaEven, lumaOdd, evenRed + k, oddRed + k);
    // Saturating packs clamp to 0..255; then B G R 0 per pixel.
    const __m256i blueRed = _mm256_packus_epi16(blue, red);    // B0-7 R0-7 | B8-15 R8-15
    const __m256i greenZero = _mm256_packus_epi16(green, zero);  // G0-7 0 | G8-15 0
    const __m256i bg = _mm256_unpacklo_epi8(blueRed, greenZero);
    const __m256i r0 = _mm256_unpackhi_epi8(blueRed, greenZero);
    const __m256i q1 = _mm256_unpacklo_epi16(bg, r0);  // pixels 0-3 | 8-11
    const __m256i q2 = _mm256_unpackhi_epi16(bg, r0);  // pixels 4-7 | 12-15
    if (nBytesPerPixel == 4) {
      std::uint8_t* out = pOut + 4 * i;
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(q1, q2, 0x20));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32),
                          _mm256_permute2x128_si256(q1, q2, 0x31));
    } else {
      const __m256i c1 = _mm256_shuffle_epi8(q1, drop);  // 12 bytes of 0-3 | 12 of 8-11
      const __m256i c2 = _mm256_shuffle_epi8(q2, drop);  // 12 bytes of 4-7 | 12 of 12-15
      const __m128i a = _mm256_castsi256_si128(c1);
      const __m128i b = _mm256_castsi256_si128(c2);
      const __m128i c = _mm256_extracti128_si256(c1, 1);
      const __m128i d = _mm256_extracti128_si256(c2, 1);
      std::uint8_t* out = pOut + 3 * i;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(a, _mm_slli_si128(b, 12)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                       _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32),
                       _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
    }
  }
  if (i < nCount) {
    const std::int32_t k = i / 2;
    const TTermRows evenRest{even.blue + k, even.green + k, even.red + k};
    const TTermRows oddRest{odd.blue + k, odd.green + k, odd.red + k};
    ScalarPixelRow(set, pY + i, evenRest, oddRest, pOut + nBytesPerPixel * i, nCount - i,
                   nBytesPerPixel);
  }
}

TOVRIN_AVX2 void Avx2ChromaTermsDispatch(const TInverseSet& set, const std::uint8_t* pCb,
                                         const std::uint8_t* pCr, std::int32_t nCount,
                                         std::int32_t* pBlue, std::int32_t* pGreen,
                                         std::int32_t* pRed) {
  if (set.blueRule.f != 0 || set.greenCbRule.f != 0 || set.greenCrRule.f != 0 ||
      set.redRule.f != 0) {
    Avx2ChromaTerms<true>(set, pCb, pCr, nCount, pBlue, pGreen, pRed);
  } else {
    Avx2ChromaTerms<false>(set, pCb, pCr, nCount, pBlue, pGreen, pRed);
  }
}

TOVRIN_AVX2 void Avx2PixelRowDispatch(const TInverseSet& set, const std::uint8_t* pY,
                                      const TTermRows& even, const TTermRows& odd,
                                      std::uint8_t* pOut, std::int32_t nCount,
                                      std::int32_t nBytesPerPixel) {
  const bool shared = even.blue == odd.blue;
  if (set.lumaRule.f != 0) {
    if (shared) {
      Avx2PixelRow<true, true>(set, pY, even, odd, pOut, nCount, nBytesPerPixel);
    } else {
      Avx2PixelRow<true, false>(set, pY, even, odd, pOut, nCount, nBytesPerPixel);
    }
  } else if (shared) {
    Avx2PixelRow<false, true>(set, pY, even, odd, pOut, nCount, nBytesPerPixel);
  } else {
    Avx2PixelRow<false, false>(set, pY, even, odd, pOut, nCount, nBytesPerPixel);
  }
}

TOVRIN_AVX2 void Avx2Yuy2Split(const std::uint8_t* pRow, std::int32_t nPairs, std::uint8_t* pY,
                               std::uint8_t* pCb, std::uint8_t* pCr) {
  // Per 16-byte lane: Y0..Y7, Cb0..Cb3, Cr0..Cr3.
  const __m256i gather = _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 5, 9, 13, 3, 7, 11, 15,
                                          0, 2, 4, 6, 8, 10, 12, 14, 1, 5, 9, 13, 3, 7, 11, 15);
  const std::int32_t whole = nPairs & ~7;
  std::int32_t k = 0;
  for (; k < whole; k += 8) {
    const __m256i groups =
        _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pRow + 4 * k)), gather);
    // Y0-7, Y8-15, Cb0-3 Cr0-3, Cb4-7 Cr4-7 -> Y0-15 | Cb0-3 Cb4-7 Cr0-3 Cr4-7.
    const __m256i ordered = _mm256_permute4x64_epi64(groups, 0xD8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pY + 2 * k), _mm256_castsi256_si128(ordered));
    const __m128i chroma =
        _mm_shuffle_epi32(_mm256_extracti128_si256(ordered, 1), _MM_SHUFFLE(3, 1, 2, 0));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pCb + k), chroma);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pCr + k), _mm_srli_si128(chroma, 8));
  }
  if (k < nPairs) {
    ScalarYuy2Split(pRow + 4 * k, nPairs - k, pY + 2 * k, pCb + k, pCr + k);
  }
}

const TInverseKernels kAvx2Kernels{Avx2ChromaTermsDispatch, Avx2PixelRowDispatch, Avx2Yuy2Split};

// ---------------------------------------------------------------------------
// AVX-512 family: the AVX2 algorithms on sixteen 32-bit lanes (chroma) and
// thirty-two pixels (sixteen pairs) per step.

#define TOVRIN_AVX512 __attribute__((target("avx512f,avx512bw")))

// GCC 12 reports the undefined pass-through operands inside its own AVX-512
// intrinsic headers as "may be used uninitialized".
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Negates the lanes of v where x is negative (AVX-512 has no sign instruction).
TOVRIN_AVX512 inline __m512i NegateWhereNegative32(__m512i v, __m512i x) {
  return _mm512_mask_sub_epi32(v, _mm512_cmplt_epi32_mask(x, _mm512_setzero_si512()),
                               _mm512_setzero_si512(), v);
}

TOVRIN_AVX512 inline __m512i Term512(__m512i x, __m512i absX, const TTermRule& rule) {
  const __m512i whole = _mm512_mullo_epi32(x, _mm512_set1_epi32(rule.n));
  const __m512i part =
      _mm512_srli_epi32(_mm512_mullo_epi32(absX, _mm512_set1_epi32(rule.f)), 16);
  return _mm512_add_epi32(whole, NegateWhereNegative32(part, x));
}

TOVRIN_AVX512 inline __m512i LoadBytes16(const std::uint8_t* p) {
  return _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

template <bool kFraction>
TOVRIN_AVX512 void Avx512ChromaTerms(const TInverseSet& set, const std::uint8_t* pCb,
                                     const std::uint8_t* pCr, std::int32_t nCount,
                                     std::int32_t* pBlue, std::int32_t* pGreen,
                                     std::int32_t* pRed) {
  const std::int32_t o = set.chromaOffset;
  const std::int32_t r = set.rounding;
  const std::int32_t whole = nCount & ~15;
  std::int32_t i = 0;
  if constexpr (kFraction) {
    const __m512i offset = _mm512_set1_epi32(o);
    const __m512i rounding = _mm512_set1_epi32(r);
    for (; i < whole; i += 16) {
      const __m512i xCb = _mm512_sub_epi32(LoadBytes16(pCb + i), offset);
      const __m512i xCr = _mm512_sub_epi32(LoadBytes16(pCr + i), offset);
      const __m512i aCb = _mm512_abs_epi32(xCb);
      const __m512i aCr = _mm512_abs_epi32(xCr);
      _mm512_storeu_si512(pBlue + i, _mm512_add_epi32(rounding, Term512(xCb, aCb, set.blueRule)));
      _mm512_storeu_si512(
          pGreen + i, _mm512_sub_epi32(_mm512_sub_epi32(rounding, Term512(xCb, aCb, set.greenCbRule)),
                                       Term512(xCr, aCr, set.greenCrRule)));
      _mm512_storeu_si512(pRed + i, _mm512_add_epi32(rounding, Term512(xCr, aCr, set.redRule)));
    }
  } else {
    const __m512i nBlue = _mm512_set1_epi32(set.blueRule.n);
    const __m512i nGreenCb = _mm512_set1_epi32(set.greenCbRule.n);
    const __m512i nGreenCr = _mm512_set1_epi32(set.greenCrRule.n);
    const __m512i nRed = _mm512_set1_epi32(set.redRule.n);
    const __m512i baseBlue = _mm512_set1_epi32(r - set.blueRule.n * o);
    const __m512i baseGreen = _mm512_set1_epi32(r + (set.greenCbRule.n + set.greenCrRule.n) * o);
    const __m512i baseRed = _mm512_set1_epi32(r - set.redRule.n * o);
    for (; i < whole; i += 16) {
      const __m512i cb = LoadBytes16(pCb + i);
      const __m512i cr = LoadBytes16(pCr + i);
      _mm512_storeu_si512(pBlue + i, _mm512_add_epi32(baseBlue, _mm512_mullo_epi32(cb, nBlue)));
      _mm512_storeu_si512(pGreen + i, _mm512_sub_epi32(
                                          _mm512_sub_epi32(baseGreen, _mm512_mullo_epi32(cb, nGreenCb)),
                                          _mm512_mullo_epi32(cr, nGreenCr)));
      _mm512_storeu_si512(pRed + i, _mm512_add_epi32(baseRed, _mm512_mullo_epi32(cr, nRed)));
    }
  }
  if (i < nCount) {
    ScalarChromaTerms(set, pCb + i, pCr + i, nCount - i, pBlue + i, pGreen + i, pRed + i);
  }
}

template <bool kShared>
TOVRIN_AVX512 inline __m512i Component512(__m512i lumaEven, __m512i lumaOdd,
                                          const std::int32_t* pEven, const std::int32_t* pOdd) {
  const __m512i termEven = _mm512_loadu_si512(pEven);
  const __m512i termOdd = kShared ? termEven : _mm512_loadu_si512(pOdd);
  const __m512i even = _mm512_srli_epi32(_mm512_add_epi32(lumaEven, termEven), 16);
  const __m512i odd = _mm512_add_epi32(lumaOdd, termOdd);
  return _mm512_mask_blend_epi16(0xAAAAAAAAu, even, odd);
}

template <bool kFraction, bool kShared>
TOVRIN_AVX512 void Avx512PixelRow(const TInverseSet& set, const std::uint8_t* pY,
                                  const TTermRows& even, const TTermRows& odd, std::uint8_t* pOut,
                                  std::int32_t nCount, std::int32_t nBytesPerPixel) {
  const std::int32_t* const evenBlue = even.blue;
  const std::int32_t* const evenGreen = even.green;
  const std::int32_t* const evenRed = even.red;
  const std::int32_t* const oddBlue = kShared ? even.blue : odd.blue;
  const std::int32_t* const oddGreen = kShared ? even.green : odd.green;
  const std::int32_t* const oddRed = kShared ? even.red : odd.red;
  const std::int32_t nLow = set.lumaRule.n - 65536;
  const __m512i lowEven = _mm512_set1_epi32(nLow);
  const __m512i lowOdd = _mm512_set1_epi32(nLow << 16);
  const __m512i oneEven = _mm512_set1_epi32(1);
  const __m512i oneOdd = _mm512_set1_epi32(1 << 16);
  const __m512i highHalf = _mm512_set1_epi32(static_cast<std::int32_t>(0xFFFF0000u));
  const __m512i offset = _mm512_set1_epi16(static_cast<std::int16_t>(set.lumaOffset));
  const __m512i fraction = _mm512_set1_epi16(static_cast<std::int16_t>(set.lumaRule.f));
  const __m512i zero = _mm512_setzero_si512();
  const __m512i first = _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11);
  const __m512i second = _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15);
  // 24-bit pixels: drop every fourth byte within each lane, then close the gaps.
  const __m512i drop = _mm512_broadcast_i32x4(
      _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
  const __m512i close = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 3, 7, 11, 15);
  const __mmask64 bytes48 = 0x0000FFFFFFFFFFFFull;
  const std::int32_t whole = nCount & ~31;
  std::int32_t i = 0;
  for (; i < whole; i += 32) {
    const __m512i x = _mm512_sub_epi16(
        _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pY + i))), offset);
    __m512i lumaEven = _mm512_add_epi32(_mm512_madd_epi16(x, lowEven), _mm512_slli_epi32(x, 16));
    __m512i lumaOdd = _mm512_add_epi32(_mm512_madd_epi16(x, lowOdd), _mm512_and_si512(x, highHalf));
    if constexpr (kFraction) {
      const __m512i part = _mm512_mulhi_epu16(_mm512_abs_epi16(x), fraction);
      const __m512i t =
          _mm512_mask_sub_epi16(part, _mm512_cmplt_epi16_mask(x, zero), zero, part);
      lumaEven = _mm512_add_epi32(lumaEven, _mm512_madd_epi16(t, oneEven));
      lumaOdd = _mm512_add_epi32(lumaOdd, _mm512_madd_epi16(t, oneOdd));
    }
    const std::int32_t k = i / 2;
    const __m512i blue = Component512<kShared>(lumaEven, lumaOdd, evenBlue + k, oddBlue + k);
    const __m512i green = Component512<kShared>(lumaEven, lumaOdd, evenGreen + k, oddGreen + k);
    const __m512i red = Component512<kShared>(lumaEven, lumaOdd, evenRed + k, oddRed + k);
    const __m512i blueRed = _mm512_packus_epi16(blue, red);
    const __m512i greenZero = _mm512_packus_epi16(green, zero);
    const __m512i bg = _mm512_unpacklo_epi8(blueRed, greenZero);
    const __m512i r0 = _mm512_unpackhi_epi8(blueRed, greenZero);
    const __m512i q1 = _mm512_unpacklo_epi16(bg, r0);  // pixels 0-3 | 8-11 | 16-19 | 24-27
    const __m512i q2 = _mm512_unpackhi_epi16(bg, r0);  // pixels 4-7 | 12-15 | 20-23 | 28-31
    const __m512i low = _mm512_permutex2var_epi64(q1, first, q2);    // pixels 0-15
    const __m512i high = _mm512_permutex2var_epi64(q1, second, q2);  // pixels 16-31
    if (nBytesPerPixel == 4) {
      _mm512_storeu_si512(pOut + 4 * i, low);
      _mm512_storeu_si512(pOut + 4 * i + 64, high);
    } else {
      std::uint8_t* out = pOut + 3 * i;
      _mm512_mask_storeu_epi8(out, bytes48,
                              _mm512_permutexvar_epi32(close, _mm512_shuffle_epi8(low, drop)));
      _mm512_mask_storeu_epi8(out + 48, bytes48,
                              _mm512_permutexvar_epi32(close, _mm512_shuffle_epi8(high, drop)));
    }
  }
  if (i < nCount) {
    const std::int32_t k = i / 2;
    const TTermRows evenRest{evenBlue + k, evenGreen + k, evenRed + k};
    const TTermRows oddRest{oddBlue + k, oddGreen + k, oddRed + k};
    ScalarPixelRow(set, pY + i, evenRest, oddRest, pOut + nBytesPerPixel * i, nCount - i,
                   nBytesPerPixel);
  }
}

TOVRIN_AVX512 void Avx512ChromaTermsDispatch(const TInverseSet& set, const std::uint8_t* pCb,
                                             const std::uint8_t* pCr, std::int32_t nCount,
                                             std::int32_t* pBlue, std::int32_t* pGreen,
                                             std::int32_t* pRed) {
  if (set.blueRule.f != 0 || set.greenCbRule.f != 0 || set.greenCrRule.f != 0 ||
      set.redRule.f != 0) {
    Avx512ChromaTerms<true>(set, pCb, pCr, nCount, pBlue, pGreen, pRed);
  } else {
    Avx512ChromaTerms<false>(set, pCb, pCr, nCount, pBlue, pGreen, pRed);
  }
}

TOVRIN_AVX512 void Avx512PixelRowDispatch(const TInverseSet& set, const std::uint8_t* pY,
                                          const TTermRows& even, const TTermRows& odd,
                                          std::uint8_t* pOut, std::int32_t nCount,
                                          std::int32_t nBytesPerPixel) {
  const bool shared = even.blue == odd.blue;
  if (set.lumaRule.f != 0) {
    if (shared) {
      Avx512PixelRow<true, true>(set, pY, even, odd, pOut, nCount, nBytesPerPixel);
    } else {
      Avx512PixelRow<true, false>(set, pY, even, odd, pOut, nCount, nBytesPerPixel);
    }
  } else if (shared) {
    Avx512PixelRow<false, true>(set, pY, even, odd, pOut, nCount, nBytesPerPixel);
  } else {
    Avx512PixelRow<false, false>(set, pY, even, odd, pOut, nCount, nBytesPerPixel);
  }
}

const TInverseKernels kAvx512Kernels{Avx512ChromaTermsDispatch, Avx512PixelRowDispatch,
                                     Avx2Yuy2Split};

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
    return CpuHasAvx2() && __builtin_cpu_supports("avx512f") != 0 &&
           __builtin_cpu_supports("avx512bw") != 0;
  }();
  return has;
#else
  return false;
#endif
}

TColorKernel BestKernel() {
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

const TInverseKernels& InverseKernels() {
#ifdef TOVRIN_COLOR_X86
  switch (GetColorKernel()) {
    case TColorKernel::Avx512: return kAvx512Kernels;
    case TColorKernel::Avx2: return kAvx2Kernels;
    case TColorKernel::Scalar: break;
  }
#endif
  return kScalarKernels;
}

}  // namespace ImageColorConversion::detail
