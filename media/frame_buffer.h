#pragma once
// Pixel formats and packed frame buffers.
//
// Every decoded or captured picture of packed pixel rows travels in a
// TFrameBuffer; planar YCbCr travels in a TYuvFrameBuffer (yuv_frame.h).
// Both name their layout with a TPixelFormat. A frame buffer of unchanged
// size is reused rather than reallocated, and the row stride follows only
// from width, bits per pixel and the record's row alignment.
//
// All sizes are computed in checked 64-bit arithmetic and refused above
// kMaxFrameBufferBytes, so a crafted picture size fails instead of wrapping
// into an undersized buffer.

#include <cstdint>

#include "media/file_types.h"

namespace ZarnTypes {

// Pixel layout of a decoded frame or buffer. Values without a name (12,
// 96..101, 107) have no layout in this program and are refused wherever a
// layout is needed.
enum TPixelFormat : std::int32_t {
  // Packed pixel rows; producers give PF_PACKED_24..PF_PACKED_48 a row alignment of 1 byte.
  PF_PACKED_1 = 13,
  PF_PACKED_2 = 14,
  PF_PACKED_4 = 15,
  PF_PACKED_8 = 16,
  PF_PACKED_16 = 17,
  PF_PACKED_24 = 18,
  PF_PACKED_32 = 19,
  PF_PACKED_48 = 20,
  // A bitmap of unspecified depth; no allocator accepts it.
  PF_BMP = 21,
  // Device-independent-bitmap rows, aligned to 4 bytes. PF_RGB24 and PF_RGB32
  // hold blue, green, red (and a fourth byte for 32 bits).
  PF_DIB_1 = 22,
  PF_DIB_2 = 23,
  PF_DIB_4 = 24,
  PF_DIB_8 = 25,
  PF_DIB_16 = 26,
  PF_RGB24 = 27,
  PF_RGB32 = 28,
  PF_DIB_48 = 29,
  // Compressed file contents; not allocatable.
  PF_ICO = 33,
  PF_GIF = 34,
  PF_JPEG = 35,
  PF_JPEG_GRAY = 36,
  PF_JP2 = 37,
  PF_JPC = 38,
  PF_PNG = 39,
  PF_TIFF = 40,
  // YCbCr without a defined layout.
  PF_YUV = 41,
  // Planar YCbCr, range not given.
  PF_YUV444_601 = 42,
  PF_YUV422_601 = 43,
  PF_YUV420_601 = 44,
  PF_YUV444_709 = 45,
  PF_YUV422_709 = 46,
  PF_YUV420_709 = 47,
  // YCbCr of the JPEG decoder (BT.601).
  PF_YUV444_JPEG = 48,
  PF_YUV422_JPEG = 49,
  PF_YUV420_JPEG = 50,
  // The 42 planar YCbCr layouts of the file formats FF_YCBCR_FIRST..FF_YCBCR_LAST,
  // in the same order: pixel format = file format - 2.
  PF_YCBCR_FIRST = 51,
  PF_YCBCR_LAST = 92,
  // Packed YUV.
  PF_AYUV = 93,
  PF_YUY2 = 94,
  PF_UYVY = 95,
  PF_Y411 = 102,
  PF_Y41P = 103,
  PF_Y211 = 104,
  PF_YVYU = 105,
  PF_YUYV = 106,
};

// The largest pixel buffer any allocator of this program hands out.
inline constexpr std::int64_t kMaxFrameBufferBytes = std::int64_t{1} << 30;

// A frame of packed pixel rows. Copied by value between components and
// cleared as a whole before a producer fills it; the record owns `pBuffer`
// when AllocFrameBuffer made it (FreeFrameBuffer releases it). Rows follow
// one another `nStride` bytes apart; their order (top-down or bottom-up) is
// the producer's.
struct TFrameBuffer {
  TPixelFormat ePixelFormat = TPixelFormat{0};  // 13..29 for an allocated buffer
  std::int32_t nBitsPerPixel = 0;               // derived from the pixel format
  std::int32_t nWidth = 0;                      // pixels per row, > 0
  std::int32_t nHeight = 0;                     // rows, > 0
  std::int32_t nStride = 0;                     // bytes per row, derived
  std::int32_t nPaddedHeight = 0;               // height rounded up to the height alignment; recorded only
  std::int32_t nSize = 0;                       // bytes in the buffer = stride x height
  std::int32_t nRowAlignment = 0;               // bytes, a power of two (1 packed, 4 DIB)
  std::int32_t nHeightAlignment = 0;            // rows, a power of two
  std::int32_t nFlag = 0;                       // the producer's; not read here
  std::uint8_t* pBuffer = nullptr;              // the pixel bytes
  std::int32_t nReserved[8] = {};               // kept cleared, carried along on copies
};

// The row buffer of MNG image data: each row is led by one filter-type byte.
struct TScanlineBuffer {
  std::int32_t nColorCode = 0;     // PNG colour type: 2 grey, 3 grey+alpha, 4 palette, 5 RGB, 6 RGB+alpha
  std::int32_t nBitDepth = 0;      // bits per sample
  std::int32_t nUserValue = 0;     // kept for the caller
  std::int32_t nBitsPerPixel = 0;  // bit depth x samples
  std::int32_t nWidth = 0;
  std::int32_t nHeight = 0;
  std::int32_t nBytesPerRow = 0;  // packed row + 1 filter byte
  std::int32_t nSize = 0;         // bytes per row x height
  std::uint8_t* pBuffer = nullptr;
  std::int32_t nReserved[2] = {};
};

// Bits per pixel of the packed (13..20) and DIB (22..29) formats, the only
// ones a TFrameBuffer holds; 0 for every other value.
std::int32_t GetPixelFormatBitsPerPixel(TPixelFormat ePixelFormat);

// Lays the record out from its pixel format, width, height and alignments and
// makes its buffer exactly nSize bytes. A buffer of the same size is kept with
// its contents. Refused (false, record unchanged): null record, width or
// height <= 0, a pixel format without a packed or DIB layout, an alignment
// that is not a positive power of two, or a size above kMaxFrameBufferBytes.
// When allocation fails the record holds no buffer (pointer and size 0).
bool AllocFrameBuffer(TFrameBuffer* pFrame);

// The same checks and derived fields as AllocFrameBuffer, without touching
// the buffer pointer: for records pointing into memory owned elsewhere.
bool LayoutFrameBuffer(TFrameBuffer* pFrame);

// Frees the buffer and clears every field.
void FreeFrameBuffer(TFrameBuffer* pFrame);

// (Re)allocates the bits of a DIB held outside a TFrameBuffer: rows aligned to
// 4 bytes, size = stride x height. A buffer of the same size is kept; another
// size frees it (pointer, size and stride 0) and allocates anew. Refused with
// everything unchanged: width or height <= 0, a format without bits per pixel,
// or a size above kMaxFrameBufferBytes.
bool AllocDibBits(std::uint8_t*& pBits, std::int32_t& nSize, std::int32_t& nStride, std::int32_t nWidth,
                  std::int32_t nHeight, TPixelFormat ePixelFormat);

// Validates colour code and bit depth, computes bits per pixel, bytes per row
// and size, keeps a buffer of equal size or allocates a new one.
bool AllocScanlineBuffer(TScanlineBuffer* pScan);

// Frees the buffer and clears every field.
void FreeScanlineBuffer(TScanlineBuffer* pScan);

// The pixel format a decoded picture of the file format (TFileFormat) has;
// 0 when there is none.
TPixelFormat FileFormatToPixelFormat(std::int32_t eFileFormat);

}  // namespace ZarnTypes
