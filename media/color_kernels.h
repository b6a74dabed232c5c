#pragma once
// Row kernels of the YCbCr -> RGB converters (internal to the colour
// conversion; tests include it to run every kernel family against the
// table formula).
//
// A conversion to RGB runs in two steps over a segment of a row:
//   1. chroma terms: for each chroma value pair (Cb, Cr) the three sums
//        blue  = rounding + blueFromCb[Cb]
//        green = rounding + greenSign x (greenFromCb[Cb] + greenFromCr[Cr])
//        red   = rounding + redFromCr[Cr]
//   2. pixels: component = clamp((luma[Y] + term) >> 16) to 0..255, written
//      as blue, green, red (and 0 for 32-bit pixels). Pixels go in pairs:
//      pixel 2i of a segment takes the terms of entry i of the "even" term
//      rows, pixel 2i + 1 entry i of the "odd" rows (the same rows when the
//      pair shares its chroma).
//
// The scalar kernels look the entries up in the tables. The SIMD kernels
// compute them from an exact integer rule per table instead:
//   entry(x) = s x sign(x) x (n |x| + ((f |x|) >> 16)),
// x being the index minus the table's offset and s the coefficient's sign;
// every rule is checked against all 256 entries of its table when it is
// made, so both give the same bits.

#include <cstddef>
#include <cstdint>

namespace ImageColorConversion::detail {

// The exact integer form of one 16.16 coefficient table (its magnitude).
struct TTermRule {
  std::int32_t n = 0;  // whole part of |coefficient| x 65,536
  std::int32_t f = 0;  // 16-bit multiplier of the fraction's floor
};

// One complete inverse coefficient set.
struct TInverseSet {
  std::int32_t lumaOffset = 0;    // luma index offset (0 or 16)
  std::int32_t chromaOffset = 0;  // chroma index offset (128 or 136); also the neutral chroma
  std::int32_t rounding = 0;      // added before the shift: 32,768, or 0 for the decoder path
  std::int32_t greenSign = 1;     // +1: green tables hold negative entries; -1: positive ones
  const std::int32_t* luma = nullptr;
  const std::int32_t* blueFromCb = nullptr;
  const std::int32_t* greenFromCb = nullptr;
  const std::int32_t* greenFromCr = nullptr;
  const std::int32_t* redFromCr = nullptr;
  const std::uint8_t* clamp = nullptr;  // valid for indices -384..639
  // Rules of the five tables: luma, blue and red with their own sign, the
  // two green tables as magnitudes that are subtracted. The luma rule's n
  // lies in 65,536..98,303.
  TTermRule lumaRule, blueRule, greenCbRule, greenCrRule, redRule;
};

// Term rows of a segment, one entry per chroma value.
struct TTermRows {
  const std::int32_t* blue = nullptr;
  const std::int32_t* green = nullptr;
  const std::int32_t* red = nullptr;
};

// Chroma terms of nCount value pairs; reads and writes exactly nCount entries.
using TChromaTermsFn = void (*)(const TInverseSet& set, const std::uint8_t* pCb,
                                const std::uint8_t* pCr, std::int32_t nCount, std::int32_t* pBlue,
                                std::int32_t* pGreen, std::int32_t* pRed);

// nCount pixels of one row: luma from pY, terms from the even and odd rows,
// nBytesPerPixel (3 or 4) bytes per pixel into pOut. Reads exactly nCount
// luma bytes and writes exactly nCount pixels.
using TPixelRowFn = void (*)(const TInverseSet& set, const std::uint8_t* pY,
                             const TTermRows& even, const TTermRows& odd, std::uint8_t* pOut,
                             std::int32_t nCount, std::int32_t nBytesPerPixel);

// Splits nPairs whole YUY2 groups (Y0 Cb Y1 Cr) into luma, Cb and Cr.
using TYuy2SplitFn = void (*)(const std::uint8_t* pRow, std::int32_t nPairs, std::uint8_t* pY,
                              std::uint8_t* pCb, std::uint8_t* pCr);

// Both steps in one pass for nRows (1 or 2) rows whose pixel pairs share
// their chroma values: pair i of every row takes value i of pCb and pCr.
// Reads exactly (nCount + 1) / 2 values and nCount luma bytes per row, and
// writes exactly nCount pixels per row.
using TSharedRowsFn = void (*)(const TInverseSet& set, const std::uint8_t* pCb,
                               const std::uint8_t* pCr, const std::uint8_t* const* pY,
                               std::uint8_t* const* pOut, std::int32_t nRows, std::int32_t nCount,
                               std::int32_t nBytesPerPixel);

struct TInverseKernels {
  TChromaTermsFn chromaTerms = nullptr;
  TPixelRowFn pixelRow = nullptr;
  TYuy2SplitFn yuy2Split = nullptr;
  TSharedRowsFn sharedRows = nullptr;  // null: the two steps one after the other
};

// The coefficient set of the whole-frame converters for a matrix-range code
// 1..6 (GetYuvMatrixRangeCode).
const TInverseSet& InverseSetForCode(std::int32_t code);

// The kernel families. Scalar runs everywhere; Avx2, Avx512 (F and BW) and
// Avx512Vbmi (F, BW and VBMI) only where the processor has them.
enum class TColorKernel { Scalar = 0, Avx2 = 1, Avx512 = 2, Avx512Vbmi = 3 };

bool IsColorKernelSupported(TColorKernel kernel);

// The family in use (the best supported one unless chosen otherwise).
TColorKernel GetColorKernel();

// Chooses the family for every later conversion; false, with nothing
// changed, when the processor lacks it. For tests and benchmarks.
bool SetColorKernel(TColorKernel kernel);

// The kernels of the family in use.
const TInverseKernels& InverseKernels();

}  // namespace ImageColorConversion::detail
