#pragma once
// YCbCr <-> RGB colour conversion in 16.16 fixed point over constant tables.
//
// Two families:
//
// * CImageColorConversion converts planar 4:2:0 frames of the decoder path to
//   24- or 32-bit pixels with one fixed BT.601 studio-range table set.
//
// * ConvertRgbToYuv and ConvertYuvToRgb convert a whole TFrameBuffer to or
//   from a TYuvFrameBuffer for every one of the 42 planar YCbCr layouts (and,
//   towards RGB, packed YUY2), choosing their coefficient tables by the
//   matrix-range code of the YUV pixel format (GetYuvMatrixRangeCode): 1..3
//   BT.601 0-255, 16-255, 16-235/240; 4..6 BT.709 likewise.
//
// RGB pixels are blue, green, red (and a fourth byte, written 0 and ignored on
// input, for PF_RGB32). RGB frames are bottom-up: the last row in memory is
// the top row of the picture. YUV planes are top-down, with rows of the
// frame's aligned width (chroma: aligned width / 2 for 4:2:2 and 4:2:0, half
// as many rows for 4:2:0). Nothing is read or written outside a row's
// picture bytes or a plane; padding bytes are left as they were.
//
// All tables are read-only; every converter may run in several threads at
// once on different frames. The converters never allocate: the caller lays
// out and allocates both frames.

#include <array>
#include <cstddef>
#include <cstdint>

#include "media/frame_buffer.h"
#include "media/yuv_frame.h"

namespace ImageColorConversion {

// The converter of the decoder path: BT.601, luma 16-235, chroma 16-240.
// Per pixel: Yv = luma[Y]; red = clamp[(Yv + redFromCr[Cr]) >> 16];
// green = clamp[(Yv - greenFromCb[Cb] - greenFromCr[Cr]) >> 16];
// blue = clamp[(Yv + blueFromCb[Cb]) >> 16] (arithmetic shift, no rounding).
//
// The planes are I420: the Y plane has rows of `nWidth` bytes, the chroma
// planes rows of (nWidth + 1) / 2 bytes and (nHeight + 1) / 2 rows; every
// 2 x 2 block of luma shares one Cb and one Cr sample. An odd last column or
// row uses the chroma sample of its (half) block. Calls with a null pointer
// or a size <= 0 do nothing.
class CImageColorConversion {
 public:
  CImageColorConversion();
  ~CImageColorConversion();
  CImageColorConversion(const CImageColorConversion&) = delete;
  CImageColorConversion& operator=(const CImageColorConversion&) = delete;

  // Rows of 3 x width bytes without padding (blue, green, red), bottom-up:
  // the first luma row fills the last output row.
  void ConvertYuv420ToRgb24(const std::uint8_t* pY, const std::uint8_t* pCb, const std::uint8_t* pCr,
                            std::uint8_t* pOut, std::int32_t nWidth, std::int32_t nHeight) const;

  // Rows of 4 x width bytes (blue, green, red, 0), top-down.
  void ConvertYuv420ToRgb32(const std::uint8_t* pY, const std::uint8_t* pCb, const std::uint8_t* pCr,
                            std::uint8_t* pOut, std::int32_t nWidth, std::int32_t nHeight) const;

  // 4-byte pixels written bottom-up: the first luma row goes to
  // pOut + nStride x (nHeight - 1), each further row one stride lower in
  // memory. nStride must be at least 4 x width; only the first 4 x width
  // bytes of each row are written.
  void ConvertYuv420ToRgb32Flip(const std::uint8_t* pY, const std::uint8_t* pCb, const std::uint8_t* pCr,
                                std::uint8_t* pOut, std::int32_t nWidth, std::int32_t nHeight,
                                std::int32_t nStride) const;

  // The general form behind the three above: explicit strides for every
  // plane (chroma rows are nChromaStride apart, one per two luma rows),
  // 3 or 4 bytes per output pixel, and output rows nOutStride apart starting
  // at pOut (a negative stride writes bottom-up when pOut points at the last
  // row). False, with nothing written, for null pointers, sizes <= 0, a
  // pixel size other than 3 or 4, or strides shorter than a row.
  bool ConvertYuv420(const std::uint8_t* pY, std::ptrdiff_t nYStride, const std::uint8_t* pCb,
                     const std::uint8_t* pCr, std::ptrdiff_t nChromaStride, std::uint8_t* pOut,
                     std::ptrdiff_t nOutStride, std::int32_t nBytesPerPixel, std::int32_t nWidth,
                     std::int32_t nHeight) const;

  // The tables, read-only after construction.
  static constexpr std::int32_t kClampSize = 1024;
  static constexpr std::int32_t kClampCentre = 384;  // indices -384..639 are valid

  const std::uint8_t* Clamp() const { return m_ClampStorage.data() + kClampCentre; }
  const std::int32_t* RedFromCr() const { return m_RedFromCr.data(); }
  const std::int32_t* BlueFromCb() const { return m_BlueFromCb.data(); }
  const std::int32_t* GreenFromCb() const { return m_GreenFromCb.data(); }
  const std::int32_t* GreenFromCr() const { return m_GreenFromCr.data(); }
  const std::int32_t* Luma() const { return m_Luma.data(); }

 private:
  std::array<std::uint8_t, kClampSize> m_ClampStorage{};
  std::array<std::int32_t, 256> m_RedFromCr{};    // (i - 128) x 104,597 (1.596)
  std::array<std::int32_t, 256> m_BlueFromCb{};   // (i - 128) x 132,201 (2.017)
  std::array<std::int32_t, 256> m_GreenFromCb{};  // (i - 128) x 25,675 (0.392)
  std::array<std::int32_t, 256> m_GreenFromCr{};  // (i - 128) x 53,279 (0.813)
  std::array<std::int32_t, 256> m_Luma{};         // (i - 16) x 76,309 (1.164)
};

}  // namespace ImageColorConversion

namespace ZarnTypes {

// Converts a bottom-up PF_RGB24 or PF_RGB32 frame into a laid-out and
// allocated planar YUV frame of the same width and height. Y is written for
// every pixel; chroma by the sampling-siting code of the destination
// (GetYuvSubsamplingSiting):
//   1 4:4:4: every pixel's own Cb and Cr;
//   2, 3 4:2:2 cosited even / odd: those of the even / odd pixel of a pair;
//   4 4:2:2 centred: floor of the mean of the pair;
//   5, 6 4:2:0 cosited even / odd: floor of the mean of the upper and lower
//        row at the even / odd column;
//   7 4:2:0 centred: floor of the mean of the 2 x 2 block.
// Averaged samples are rounded but not clamped before the mean; the mean is
// clamped. A pair or block cut short by an odd last column or row is taken
// as if its missing pixels repeated the ones present. Chroma samples beyond
// the plane (an odd aligned width or height) are not written.
//
// False, with nothing written, when the source is not PF_RGB24/PF_RGB32 or
// has no buffer or a stride or size too small for its rows, when the sizes
// differ, when the destination's matrix-range code is not 1..6 or its
// sampling-siting code not 1..7 (packed formats such as PF_YUY2 are
// refused), or when its planes are missing or too small for its layout.
bool ConvertRgbToYuv(const TFrameBuffer& source, TYuvFrameBuffer& destination);

namespace detail {

// ConvertRgbToYuv through the coefficient tables alone, one pixel at a time:
// the definition the row kernels are held to (tests and benchmarks).
bool ConvertRgbToYuvReference(const TFrameBuffer& source, TYuvFrameBuffer& destination);

}  // namespace detail

// Converts a planar YUV frame or a packed PF_YUY2 frame into a laid-out and
// allocated bottom-up PF_RGB24 or PF_RGB32 frame of the same width and
// height. Each output pixel takes its chroma by the source's sampling-siting
// code (s_k is the k-th chroma sample of the row):
//   1 4:4:4: its own sample;
//   2, 5 cosited even: pixel 2k takes s_k, pixel 2k + 1 floor((s_k + s_k+1) / 2);
//   3, 6 cosited odd: pixel 2k + 1 takes s_k, pixel 2k floor((s_k-1 + s_k) / 2),
//        pixel 0 takes s_0;
//   4, 7 centred: both pixels of pair k take s_k.
// The last chroma sample of the picture stands in for a missing right
// neighbour; 4:2:0 luma rows 2j and 2j + 1 share chroma row j (an odd last
// row uses the last chroma row of the plane). A PF_YUY2 row is 2 x width
// bytes of Y0, Cb, Y1, Cr groups giving two pixels each; an odd last pixel
// takes the Cb of its own group and the Cr of the group before. A pixel
// with no chroma sample at all (a plane without columns or rows) takes the
// neutral chroma of the range (128, or 136 for 16-255).
//
// False, with nothing written, when the destination is not PF_RGB24/PF_RGB32
// or has no buffer or a stride or size too small for its rows, when the
// sizes differ, when the source's matrix-range code is not 1..6 or its
// sampling-siting code not 1..7 (PF_YUY2 aside), or when its planes are
// missing or too small for its layout.
bool ConvertYuvToRgb(const TYuvFrameBuffer& source, TFrameBuffer& destination);

}  // namespace ZarnTypes
