// YCbCr frame buffers and raw YUV files.

#include "media/yuv_frame.h"

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "media/atomic_file.h"
#include "platform/message_sink.h"
#include "platform/paths.h"

namespace ZarnTypes {

namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

constexpr bool IsPowerOfTwo(std::int64_t x) { return x > 0 && (x & (x - 1)) == 0; }

// Round-up of x to a multiple of m, m a power of two.
constexpr std::int64_t RoundUp(std::int64_t x, std::int64_t m) { return (x + m - 1) & -m; }

// The layout code of a planar YCbCr pixel format taken apart; false for the
// formats outside PF_YCBCR_FIRST..PF_YCBCR_LAST.
bool DecomposeYuvPixelFormat(TPixelFormat ePixelFormat, TYuvLayout& layout) {
  if (ePixelFormat < PF_YCBCR_FIRST || ePixelFormat > PF_YCBCR_LAST) {
    return false;
  }
  return DecomposeYuvFileFormat(ePixelFormat - PF_YCBCR_FIRST + FF_YCBCR_FIRST, layout);
}

std::int32_t DivisorOfSamplingCode(std::int32_t samplingCode) {
  switch (samplingCode) {
    case 2: return 1;
    case 3: return 2;
    case 4: return 4;
    default: return 0;
  }
}

// The sizes of a frame's layout.
struct TYuvSizes {
  std::int32_t nDivisor = 0;
  std::int32_t nAlignedWidth = 0;
  std::int32_t nAlignedHeight = 0;
  std::int32_t nYSize = 0;
  std::int32_t nChromaSize = 0;
  std::int32_t nTotalSize = 0;
};

bool ComputeYuvSizes(const TYuvFrameBuffer* pFrame, TYuvSizes& sizes) {
  if (pFrame == nullptr) {
    return false;
  }
  const std::int32_t divisor = GetYuvChromaDivisor(pFrame->ePixelFormat);
  if (divisor == 0 || pFrame->nWidth <= 0 || pFrame->nHeight <= 0) {
    return false;
  }
  if (!IsPowerOfTwo(pFrame->nWidthAlignment) || pFrame->nWidthAlignment > kMaxFrameBufferBytes ||
      !IsPowerOfTwo(pFrame->nHeightAlignment) || pFrame->nHeightAlignment > kMaxFrameBufferBytes) {
    return false;
  }
  const std::int64_t alignedWidth = RoundUp(pFrame->nWidth, pFrame->nWidthAlignment);
  const std::int64_t alignedHeight = RoundUp(pFrame->nHeight, pFrame->nHeightAlignment);
  if (alignedWidth > kInt32Max || alignedHeight > kInt32Max) {
    return false;
  }
  const std::int64_t ySize = alignedWidth * alignedHeight;  // both < 2^31: no overflow
  // The luma plane alone may already be too large; checked before the sum,
  // which could otherwise pass the 64-bit range (4:4:4 doubles it twice).
  if (ySize > kMaxFrameBufferBytes) {
    return false;
  }
  const std::int64_t chromaSize = ySize / divisor;
  const std::int64_t totalSize = ySize + 2 * chromaSize;
  if (totalSize > kMaxFrameBufferBytes) {
    return false;
  }
  sizes.nDivisor = divisor;
  sizes.nAlignedWidth = static_cast<std::int32_t>(alignedWidth);
  sizes.nAlignedHeight = static_cast<std::int32_t>(alignedHeight);
  sizes.nYSize = static_cast<std::int32_t>(ySize);
  sizes.nChromaSize = static_cast<std::int32_t>(chromaSize);
  sizes.nTotalSize = static_cast<std::int32_t>(totalSize);
  return true;
}

// The fields both layout functions store.
void StoreCommonLayout(TYuvFrameBuffer* pFrame, const TYuvSizes& sizes) {
  const bool packed = pFrame->ePixelFormat == PF_YUY2;
  pFrame->nAlignedWidth = sizes.nAlignedWidth;
  pFrame->nAlignedHeight = sizes.nAlignedHeight;
  pFrame->nTotalSize = sizes.nTotalSize;
  pFrame->nYSize = sizes.nYSize;
  pFrame->nCbSize = sizes.nChromaSize;
  pFrame->nCrSize = sizes.nChromaSize;
  pFrame->nPlane4Size = 0;
  pFrame->nPlane4Flag = 0;
  pFrame->nPlaneCount = packed ? 1 : 3;
  for (std::int32_t& bits : pFrame->nBitsPerSample) {
    bits = 8;
  }
  pFrame->bFlag2 = 0;
}

// Reads up to `count` bytes; false only on a read error (end of file is not one).
bool ReadUpTo(std::FILE* file, std::uint8_t* dest, std::int64_t count) {
  if (count <= 0) {
    return true;
  }
  const std::size_t got = std::fread(dest, 1, static_cast<std::size_t>(count), file);
  return got == static_cast<std::size_t>(count) || !std::ferror(file);
}

}  // namespace

std::int32_t GetYuvChromaDivisor(TPixelFormat ePixelFormat) {
  switch (ePixelFormat) {
    case PF_YUV444_601:
    case PF_YUV444_JPEG: return 1;
    case PF_YUV422_601:
    case PF_YUV422_JPEG:
    case PF_YUY2: return 2;
    case PF_YUV420_601:
    case PF_YUV420_JPEG: return 4;
    default: break;
  }
  TYuvLayout layout;
  if (DecomposeYuvPixelFormat(ePixelFormat, layout)) {
    return DivisorOfSamplingCode(layout.samplingCode);
  }
  return 0;
}

bool AllocYuvFrame(TYuvFrameBuffer* pFrame) {
  TYuvSizes sizes;
  if (!ComputeYuvSizes(pFrame, sizes)) {
    return false;
  }
  if (pFrame->pBuffer == nullptr || pFrame->nTotalSize != sizes.nTotalSize) {
    std::free(pFrame->pBuffer);
    pFrame->pBuffer = nullptr;
    pFrame->pCb = nullptr;
    pFrame->pCr = nullptr;
    pFrame->nTotalSize = 0;
    auto* buffer = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(sizes.nTotalSize)));
    if (buffer == nullptr) {
      return false;
    }
    pFrame->pBuffer = buffer;
  }
  StoreCommonLayout(pFrame, sizes);
  if (pFrame->ePixelFormat == PF_YUY2) {
    pFrame->pCb = pFrame->pBuffer;
    pFrame->pCr = pFrame->pBuffer;
  } else {
    pFrame->pCb = pFrame->pBuffer + sizes.nYSize;
    pFrame->pCr = pFrame->pCb + sizes.nChromaSize;
  }
  pFrame->nChromaDivisor = sizes.nDivisor;
  pFrame->nBitsPerPixel = 16 / sizes.nDivisor + 8;
  return true;
}

bool LayoutYuvFrame(TYuvFrameBuffer* pFrame) {
  TYuvSizes sizes;
  if (!ComputeYuvSizes(pFrame, sizes)) {
    return false;
  }
  StoreCommonLayout(pFrame, sizes);
  if (pFrame->ePixelFormat != PF_YUY2) {
    if (pFrame->pBuffer != nullptr) {
      pFrame->pCb = pFrame->pBuffer + sizes.nYSize;
      pFrame->pCr = pFrame->pCb + sizes.nChromaSize;
    } else {
      pFrame->pCb = nullptr;
      pFrame->pCr = nullptr;
    }
  }
  return true;
}

void FreeYuvFrame(TYuvFrameBuffer* pFrame) {
  if (pFrame == nullptr) {
    return;
  }
  std::free(pFrame->pBuffer);
  *pFrame = TYuvFrameBuffer{};
}

bool ReadYuvFrame(const std::filesystem::path& path, std::int64_t nYCount, std::int64_t nChromaCount,
                  std::uint8_t* pY, std::uint8_t* pCb, std::uint8_t* pCr) {
  if (nYCount < 0 || nChromaCount < 0 || (nYCount > 0 && pY == nullptr) ||
      (nChromaCount > 0 && (pCb == nullptr || pCr == nullptr))) {
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    platform::ShowMessage("Can not open YUV input file " + platform::PathToUtf8(path) + " ");
    return false;
  }
  const bool ok =
      ReadUpTo(file, pY, nYCount) && ReadUpTo(file, pCb, nChromaCount) && ReadUpTo(file, pCr, nChromaCount);
  std::fclose(file);
  return ok;
}

bool LoadRawYuvFile(const std::filesystem::path& path, std::int32_t nWidth, std::int32_t nHeight,
                    std::int32_t eFileFormat, std::uint8_t** ppY, std::uint8_t** ppCb, std::uint8_t** ppCr) {
  if (ppY == nullptr || ppCb == nullptr || ppCr == nullptr) {
    return false;
  }
  *ppY = *ppCb = *ppCr = nullptr;
  std::int32_t divisor = 0;
  switch (eFileFormat) {
    case 47:
    case 50: divisor = 1; break;
    case 48:
    case 51: divisor = 2; break;
    case 49:
    case 52: divisor = 4; break;
    default: {
      TYuvLayout layout;
      if (DecomposeYuvFileFormat(eFileFormat, layout)) {
        divisor = DivisorOfSamplingCode(layout.samplingCode);
      }
      break;
    }
  }
  if (divisor == 0 || nWidth <= 0 || nHeight <= 0) {
    return false;
  }
  const std::int64_t yCount = std::int64_t{nWidth} * nHeight;
  const std::int64_t chromaCount = yCount / divisor;
  const std::int64_t total = yCount + 2 * chromaCount;
  if (total > kMaxFrameBufferBytes) {
    return false;
  }
  auto* block = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(total), 1));
  if (block == nullptr) {
    return false;
  }
  *ppY = block;
  *ppCb = block + yCount;
  *ppCr = block + yCount + chromaCount;
  return ReadYuvFrame(path, yCount, chromaCount, *ppY, *ppCb, *ppCr);
}

bool ReadYuvFrameFile(const std::filesystem::path& path, TYuvFrameBuffer* pFrame) {
  if (pFrame == nullptr || pFrame->pBuffer == nullptr || pFrame->nTotalSize <= 0) {
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return false;
  }
  const bool ok = ReadUpTo(file, pFrame->pBuffer, pFrame->nTotalSize);
  std::fclose(file);
  return ok;
}

bool WriteYuvFrameFile(const std::filesystem::path& path, const TYuvFrameBuffer* pFrame) {
  if (pFrame == nullptr || pFrame->pBuffer == nullptr || pFrame->nTotalSize <= 0) {
    return false;
  }
  // Through a temporary file: a failed write leaves no partial frame and an
  // existing file as it was.
  return AtomicFile::WriteWholeFile(path, pFrame->pBuffer, static_cast<std::size_t>(pFrame->nTotalSize));
}

std::int32_t GetYuvColorStandard(TPixelFormat ePixelFormat) {
  switch (ePixelFormat) {
    case PF_YUV444_601:
    case PF_YUV422_601:
    case PF_YUV420_601:
    case PF_YUV444_JPEG:
    case PF_YUV422_JPEG:
    case PF_YUV420_JPEG: return 2;
    case PF_YUV444_709:
    case PF_YUV422_709:
    case PF_YUV420_709: return 3;
    default: break;
  }
  TYuvLayout layout;
  if (DecomposeYuvPixelFormat(ePixelFormat, layout)) {
    return layout.standardCode;
  }
  return 1;
}

std::int32_t GetYuvRangeCode(TPixelFormat ePixelFormat) {
  TYuvLayout layout;
  if (DecomposeYuvPixelFormat(ePixelFormat, layout)) {
    return layout.rangeCode;
  }
  return ePixelFormat >= PF_YUV && ePixelFormat <= 107 ? 1 : 0;
}

std::int32_t GetYuvMatrixRangeCode(TPixelFormat ePixelFormat) {
  TYuvLayout layout;
  if (DecomposeYuvPixelFormat(ePixelFormat, layout)) {
    return 1 + 3 * layout.standard + layout.range;
  }
  // YUY2 is taken as BT.601 with luma 16-235 and chroma 16-240.
  return ePixelFormat == PF_YUY2 ? 3 : 0;
}

std::int32_t GetYuvSubsamplingSiting(TPixelFormat ePixelFormat) {
  TYuvLayout layout;
  if (DecomposeYuvPixelFormat(ePixelFormat, layout)) {
    return layout.samplingSitingCode;
  }
  return ePixelFormat == PF_UYVY ? 2 : 0;
}

std::int32_t GetYuvSamplingCode(TPixelFormat ePixelFormat) {
  switch (ePixelFormat) {
    case PF_YUV: return 1;
    case PF_YUV444_601:
    case PF_YUV444_709:
    case PF_YUV444_JPEG:
    case PF_AYUV: return 2;
    case PF_YUV422_601:
    case PF_YUV422_709:
    case PF_YUV422_JPEG:
    case PF_YUY2:
    case PF_UYVY: return 3;
    case PF_YUV420_601:
    case PF_YUV420_709:
    case PF_YUV420_JPEG: return 4;
    default: break;
  }
  if (ePixelFormat >= 96 && ePixelFormat <= 101) {
    return 4;
  }
  TYuvLayout layout;
  if (DecomposeYuvPixelFormat(ePixelFormat, layout)) {
    return layout.samplingCode;
  }
  return 0;
}

std::int32_t GetYuvSitingCode(TPixelFormat ePixelFormat) {
  TYuvLayout layout;
  if (DecomposeYuvPixelFormat(ePixelFormat, layout)) {
    return layout.sitingCode;
  }
  return ePixelFormat >= PF_YUV && ePixelFormat <= 107 ? 1 : 0;
}

}  // namespace ZarnTypes
