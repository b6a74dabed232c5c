#pragma once
// Row kernels of the YCbCr <-> RGB converters (internal to the colour
// conversion; tests include it to run every kernel family against the table
// formula).
//
// A kernel converts a run of pixel pairs of one or two rows that take the
// same chroma values: for each chroma value pair (Cb, Cr) the three terms
//   blue  = rounding + blueFromCb[Cb]
//   green = rounding + greenSign x (greenFromCb[Cb] + greenFromCr[Cr])
//   red   = rounding + redFromCr[Cr]
// and for each pixel component = clamp((luma[Y] + term) >> 16) to 0..255,
// written as blue, green, red (and 0 for 32-bit pixels). Pixel 2i of the run
// takes value i of the "even" values, pixel 2i + 1 value i of the "odd"
// values (the same arrays when the pair shares its chroma).
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

// The chroma values of a run of pixel pairs: pair i takes value i of the
// even arrays for its even pixel and of the odd arrays for its odd pixel
// (the same arrays when the pair shares its chroma).
struct TPairValues {
  const std::uint8_t* cbEven = nullptr;
  const std::uint8_t* crEven = nullptr;
  const std::uint8_t* cbOdd = nullptr;
  const std::uint8_t* crOdd = nullptr;
};

// Converts nCount pixels of each of nRows (1 or 2) rows that take the same
// chroma values: luma from pY[row], nBytesPerPixel (3 or 4) bytes per pixel
// into pOut[row]. Reads exactly (nCount + 1) / 2 values of each array and
// nCount luma bytes per row, and writes exactly nCount pixels per row.
using TPairRowsFn = void (*)(const TInverseSet& set, const TPairValues& values, const std::uint8_t* const* pY,
                             std::uint8_t* const* pOut, std::int32_t nRows, std::int32_t nCount,
                             std::int32_t nBytesPerPixel);

// Splits nPairs whole YUY2 groups (Y0 Cb Y1 Cr) into luma, Cb and Cr.
using TYuy2SplitFn = void (*)(const std::uint8_t* pRow, std::int32_t nPairs, std::uint8_t* pY,
                              std::uint8_t* pCb, std::uint8_t* pCr);

// Converts the first pixels of one YUY2 row (groups Y0 Cb Y1 Cr, both
// pixels of a group taking its Cb and Cr) straight into nBytesPerPixel (3 or
// 4) bytes per pixel at pOut, and answers how many: an even number, at most
// nCount & ~1. Reads only the groups of those pixels; the caller converts the
// rest.
using TYuy2RowFn = std::int32_t (*)(const TInverseSet& set, const std::uint8_t* pRow, std::uint8_t* pOut,
                                    std::int32_t nCount, std::int32_t nBytesPerPixel);

struct TInverseKernels {
  TYuy2SplitFn yuy2Split = nullptr;
  TPairRowsFn pairRows = nullptr;
  TYuy2RowFn yuy2Row = nullptr;  // null: every pixel goes through yuy2Split and pairRows
};

// ---------------------------------------------------------------------------
// RGB -> YCbCr.
//
// A forward component (Y, Cb or Cr) of a pixel is
//   floor((bias + tR[R] + tG[G] + tB[B]) / 65,536)
// over three tables with entry(c) = s x (n c + ((f c) >> 16)), s the sign of
// the coefficient (every rule is checked against all 256 entries of its
// table). The SIMD kernels take s x n as a 16-bit multiplier `a` plus, where
// s x n does not fit 16 signed bits, 65,536 x c: that part adds c after the
// shift. The signed sum of the fraction parts is the same for every matrix:
//   Y:  + fB + fG + fR      Cb: + fB - fG - fR      Cr: - fB - fG + fR
// and the whole parts past 16 bits fall on G for Y, on B for Cb and on R for
// Cr (both or neither of the chroma ones).

// One forward component.
struct TForwardTerms {
  std::int16_t aB = 0, aG = 0, aR = 0;   // s x n, less 65,536 where it adds c after the shift
  std::uint16_t fB = 0, fG = 0, fR = 0;  // fraction multipliers
  std::int32_t bias = 0;                 // offset x 65,536 + 32,768
  std::uint8_t lo = 0, hi = 255;         // clamp of the written value
};

// One complete forward coefficient set.
struct TForwardSet {
  TForwardTerms y, cb, cr;
  bool wideChroma = false;  // Cb adds B and Cr adds R after the shift
};

// Converts pixels [0, n) of one RGB row (sampling-siting code 1..4) or of two
// rows (5..7) into Y and the chroma samples they own, and answers n: a
// multiple of the kernel's step, at most nCount. pRgb[i] is row i's first
// pixel (nBytesPerPixel 3 or 4: blue, green, red); pY[i] its luma row. The
// chroma rows get samples [0, n) (4:4:4) or [0, n / 2) (4:2:2 and 4:2:0);
// pCb and pCr may be null, and only luma is written. Two rows may be the same
// row. Reads and writes nothing beyond those n pixels and samples; the
// caller converts the rest.
using TForwardRowsFn = std::int32_t (*)(const TForwardSet& set, std::int32_t siting,
                                        const std::uint8_t* const* pRgb, std::int32_t nBytesPerPixel,
                                        std::uint8_t* const* pY, std::uint8_t* pCb, std::uint8_t* pCr,
                                        std::int32_t nCount);

struct TForwardKernels {
  TForwardRowsFn rows = nullptr;  // null: the caller converts every pixel
};

// The coefficient set of the whole-frame converters for a matrix-range code
// 1..6 (GetYuvMatrixRangeCode).
const TInverseSet& InverseSetForCode(std::int32_t code);

// The forward coefficient set for a matrix-range code 1..6.
const TForwardSet& ForwardSetForCode(std::int32_t code);

// The kernel families. Scalar runs everywhere; Avx2, Avx512 (F and BW) and
// Avx512Vbmi (F, BW and VBMI) only where the processor has them. The
// forward (RGB -> YCbCr) kernels of Avx512Vbmi also use VNNI; without it
// that family converts towards YCbCr with the Avx512 kernels.
enum class TColorKernel { Scalar = 0, Avx2 = 1, Avx512 = 2, Avx512Vbmi = 3 };

bool IsColorKernelSupported(TColorKernel kernel);

// The family in use (the best supported one unless chosen otherwise).
TColorKernel GetColorKernel();

// Chooses the family for every later conversion; false, with nothing
// changed, when the processor lacks it. For tests and benchmarks.
bool SetColorKernel(TColorKernel kernel);

// The kernels of the family in use.
const TInverseKernels& InverseKernels();
const TForwardKernels& ForwardKernels();

// ---------------------------------------------------------------------------
// Comparison of pictures.

// The sum of the squared differences of the first three bytes (blue, green,
// red) of `pixels` 4-byte pixels of a and b; the fourth bytes do not count.
// Reads exactly 4 x pixels bytes of each.
using TSquaredDiffBgrxFn = std::uint64_t (*)(const std::uint8_t* a, const std::uint8_t* b,
                                             std::size_t pixels);

// The kernel of the family in use: the widest vector unit the processor has
// (the Scalar family compares 16 bytes at a time where the build targets SSE2,
// as every x86-64 build does).
TSquaredDiffBgrxFn SquaredDiffBgrxKernel();

// The same sum, one byte at a time: what every kernel is held to.
std::uint64_t SquaredDiffBgrxReference(const std::uint8_t* a, const std::uint8_t* b, std::size_t pixels);

// ---------------------------------------------------------------------------
// 24-bit pixels into 32 bits.

// Writes `pixels` 4-byte pixels (blue, green, red, 0) at pTarget from as
// many 3-byte pixels at pSource; reads exactly 3 x pixels bytes and writes
// exactly 4 x pixels. The two may not overlap.
using TWidenBgrRowFn = void (*)(const std::uint8_t* pSource, std::uint8_t* pTarget, std::size_t pixels);

// The kernel of the family in use (every family but Scalar: AVX2).
TWidenBgrRowFn WidenBgrRowKernel();

// The same, one pixel at a time: what the kernel is held to.
void WidenBgrRowReference(const std::uint8_t* pSource, std::uint8_t* pTarget, std::size_t pixels);

}  // namespace ImageColorConversion::detail
