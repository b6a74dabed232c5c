// Pixel formats and packed frame buffers.

#include "media/frame_buffer.h"

#include <cstdlib>
#include <limits>

namespace ZarnTypes {

namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

constexpr bool IsPowerOfTwo(std::int64_t x) { return x > 0 && (x & (x - 1)) == 0; }

// Round-up of x to a multiple of m, m a power of two.
constexpr std::int64_t RoundUp(std::int64_t x, std::int64_t m) { return (x + m - 1) & -m; }

// The derived fields of a frame buffer.
struct TFrameLayout {
  std::int32_t nBitsPerPixel = 0;
  std::int32_t nStride = 0;
  std::int32_t nPaddedHeight = 0;
  std::int32_t nSize = 0;
};

// Checks the record's producer-set fields and derives its layout; false for
// anything that has no layout or would exceed the buffer cap.
bool ComputeFrameLayout(const TFrameBuffer* pFrame, TFrameLayout& layout) {
  if (pFrame == nullptr || pFrame->nWidth <= 0 || pFrame->nHeight <= 0) {
    return false;
  }
  const std::int32_t bpp = GetPixelFormatBitsPerPixel(pFrame->ePixelFormat);
  if (bpp == 0) {
    return false;
  }
  // Alignments beyond the cap can never describe a valid buffer; limiting
  // them keeps every product below within 64 bits.
  if (!IsPowerOfTwo(pFrame->nRowAlignment) || pFrame->nRowAlignment > kMaxFrameBufferBytes ||
      !IsPowerOfTwo(pFrame->nHeightAlignment) || pFrame->nHeightAlignment > kMaxFrameBufferBytes) {
    return false;
  }
  const std::int64_t rowBits = std::int64_t{pFrame->nWidth} * bpp;
  const std::int64_t stride = RoundUp(rowBits, 8 * std::int64_t{pFrame->nRowAlignment}) / 8;
  if (stride > kMaxFrameBufferBytes) {
    return false;
  }
  const std::int64_t size = stride * pFrame->nHeight;  // both <= 2^31: no overflow
  if (size > kMaxFrameBufferBytes) {
    return false;
  }
  const std::int64_t padded = RoundUp(pFrame->nHeight, pFrame->nHeightAlignment);
  if (padded > kInt32Max) {
    return false;
  }
  layout.nBitsPerPixel = bpp;
  layout.nStride = static_cast<std::int32_t>(stride);
  layout.nPaddedHeight = static_cast<std::int32_t>(padded);
  layout.nSize = static_cast<std::int32_t>(size);
  return true;
}

void StoreLayout(TFrameBuffer* pFrame, const TFrameLayout& layout) {
  pFrame->nBitsPerPixel = layout.nBitsPerPixel;
  pFrame->nStride = layout.nStride;
  pFrame->nPaddedHeight = layout.nPaddedHeight;
  pFrame->nSize = layout.nSize;
}

// Samples per pixel of a PNG colour code; 0 for an unknown code.
std::int32_t SamplesOfColorCode(std::int32_t code) {
  switch (code) {
    case 2: return 1;  // grey
    case 3: return 2;  // grey with alpha
    case 4: return 1;  // palette
    case 5: return 3;  // RGB
    case 6: return 4;  // RGB with alpha
    default: return 0;
  }
}

bool IsValidBitDepth(std::int32_t code, std::int32_t depth) {
  switch (code) {
    case 2: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 4: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 3:
    case 5:
    case 6: return depth == 8 || depth == 16;
    default: return false;
  }
}

}  // namespace

std::int32_t GetPixelFormatBitsPerPixel(TPixelFormat ePixelFormat) {
  static constexpr std::int32_t kBits[8] = {1, 2, 4, 8, 16, 24, 32, 48};
  if (ePixelFormat >= PF_PACKED_1 && ePixelFormat <= PF_PACKED_48) {
    return kBits[ePixelFormat - PF_PACKED_1];
  }
  if (ePixelFormat >= PF_DIB_1 && ePixelFormat <= PF_DIB_48) {
    return kBits[ePixelFormat - PF_DIB_1];
  }
  return 0;
}

bool AllocFrameBuffer(TFrameBuffer* pFrame) {
  TFrameLayout layout;
  if (!ComputeFrameLayout(pFrame, layout)) {
    return false;
  }
  if (pFrame->pBuffer != nullptr && pFrame->nSize == layout.nSize) {
    StoreLayout(pFrame, layout);
    return true;
  }
  std::free(pFrame->pBuffer);
  pFrame->pBuffer = nullptr;
  pFrame->nSize = 0;
  auto* buffer = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(layout.nSize)));
  if (buffer == nullptr) {
    return false;
  }
  pFrame->pBuffer = buffer;
  StoreLayout(pFrame, layout);
  return true;
}

bool LayoutFrameBuffer(TFrameBuffer* pFrame) {
  TFrameLayout layout;
  if (!ComputeFrameLayout(pFrame, layout)) {
    return false;
  }
  StoreLayout(pFrame, layout);
  return true;
}

void FreeFrameBuffer(TFrameBuffer* pFrame) {
  if (pFrame == nullptr) {
    return;
  }
  std::free(pFrame->pBuffer);
  *pFrame = TFrameBuffer{};
}

bool AllocDibBits(std::uint8_t*& pBits, std::int32_t& nSize, std::int32_t& nStride, std::int32_t nWidth,
                  std::int32_t nHeight, TPixelFormat ePixelFormat) {
  const std::int32_t bpp = GetPixelFormatBitsPerPixel(ePixelFormat);
  if (bpp == 0 || nWidth <= 0 || nHeight <= 0) {
    return false;
  }
  const std::int64_t stride = ((std::int64_t{nWidth} * bpp + 31) & ~std::int64_t{31}) / 8;
  const std::int64_t size = stride * nHeight;
  if (size > kMaxFrameBufferBytes) {
    return false;
  }
  if (pBits != nullptr && nSize == size) {
    nStride = static_cast<std::int32_t>(stride);
    return true;
  }
  std::free(pBits);
  pBits = nullptr;
  nSize = 0;
  nStride = 0;
  auto* bits = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(size)));
  if (bits == nullptr) {
    return false;
  }
  pBits = bits;
  nSize = static_cast<std::int32_t>(size);
  nStride = static_cast<std::int32_t>(stride);
  return true;
}

bool AllocScanlineBuffer(TScanlineBuffer* pScan) {
  if (pScan == nullptr || pScan->nWidth <= 0 || pScan->nHeight <= 0 ||
      !IsValidBitDepth(pScan->nColorCode, pScan->nBitDepth)) {
    return false;
  }
  const std::int32_t bitsPerPixel = pScan->nBitDepth * SamplesOfColorCode(pScan->nColorCode);
  const std::int64_t bytesPerRow = ((std::int64_t{bitsPerPixel} * pScan->nWidth + 7) >> 3) + 1;
  const std::int64_t size = bytesPerRow * pScan->nHeight;
  if (size > kMaxFrameBufferBytes) {
    return false;
  }
  if (pScan->pBuffer == nullptr || pScan->nSize != size) {
    std::free(pScan->pBuffer);
    pScan->pBuffer = nullptr;
    pScan->nSize = 0;
    auto* buffer = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(size)));
    if (buffer == nullptr) {
      return false;
    }
    pScan->pBuffer = buffer;
  }
  pScan->nBitsPerPixel = bitsPerPixel;
  pScan->nBytesPerRow = static_cast<std::int32_t>(bytesPerRow);
  pScan->nSize = static_cast<std::int32_t>(size);
  return true;
}

void FreeScanlineBuffer(TScanlineBuffer* pScan) {
  if (pScan == nullptr) {
    return;
  }
  std::free(pScan->pBuffer);
  *pScan = TScanlineBuffer{};
}

TPixelFormat FileFormatToPixelFormat(std::int32_t eFileFormat) {
  const auto pf = [](std::int32_t v) { return static_cast<TPixelFormat>(v); };
  if (eFileFormat == 23) {
    return pf(12);
  }
  if (eFileFormat >= 24 && eFileFormat <= 26) {
    return pf(eFileFormat - 24 + PF_PACKED_24);
  }
  if (eFileFormat == FF_BMP) {
    return PF_BMP;
  }
  if (eFileFormat >= FF_BMP_1BIT && eFileFormat <= FF_BMP_48BIT) {
    return pf(eFileFormat - FF_BMP_1BIT + PF_DIB_1);
  }
  if (eFileFormat >= FF_ICO && eFileFormat <= FF_JPEG_GRAY) {
    return pf(eFileFormat - FF_ICO + PF_ICO);
  }
  if (eFileFormat >= FF_JP2 && eFileFormat <= FF_TIFF) {
    return pf(eFileFormat - FF_JP2 + PF_JP2);
  }
  if (IsYuvFileFormat(eFileFormat)) {
    return pf(eFileFormat - FF_YCBCR_FIRST + PF_YCBCR_FIRST);
  }
  return pf(0);
}

}  // namespace ZarnTypes
