#include "io/codecs/image.h"

#include <cstdlib>
#include <cstring>

#include "platform/paths.h"

namespace Image {

using namespace ZarnTypes;

namespace {

TPixelFormat FormatOfDepth(int bits) {
  switch (bits) {
    case 1: return PF_DIB_1;
    case 4: return PF_DIB_4;
    case 8: return PF_DIB_8;
    case 16: return PF_DIB_16;
    case 24: return PF_RGB24;
    case 32: return PF_RGB32;
    case 48: return PF_DIB_48;
    default: return TPixelFormat{0};
  }
}

}  // namespace

CImage::~CImage() {
  std::free(m_pBits);
  std::free(m_pYuvBuffer);
}

bool CImage::LoadBmp(const std::string& path) {
  m_sError.clear();
  // Load into temporaries so that a failure leaves the held picture alone.
  Dib::TDibPtr bitmap;
  std::unique_ptr<Dib::TPalette> palette;
  if (!Dib::LoadBitmapFileWithPalette(platform::PathFromUtf8(path), bitmap, &palette, &m_sError) || !bitmap) {
    if (m_sError.empty()) m_sError = "Can not read the bitmap file";
    return false;
  }
  const int bits = bitmap->BitCount();
  const TPixelFormat format = FormatOfDepth(bits);
  const int width = bitmap->Width();
  const int height = bitmap->Height();
  if (format == 0) {
    m_sError = "Unsupported bits per pixel: " + std::to_string(bits);
    return false;
  }
  const std::size_t stride = bitmap->Stride();
  if (width <= 0 || height <= 0 || stride == 0 ||
      bitmap->bits.size() / stride < static_cast<std::size_t>(height)) {
    m_sError = "The bitmap's pixel rows are incomplete";
    return false;
  }

  // Size the bits buffer; the old storage is kept when the size is unchanged.
  std::uint8_t* pBits = nullptr;
  std::int32_t nSize = 0;
  std::int32_t nStride = 0;
  const bool sameSize = m_pBits != nullptr &&
                        static_cast<std::size_t>(m_nBitsSize) == stride * static_cast<std::size_t>(height);
  if (sameSize) {
    pBits = m_pBits;
    nSize = m_nBitsSize;
    nStride = m_nStride;
  }
  if (!AllocDibBits(pBits, nSize, nStride, width, height, format) || pBits == nullptr ||
      static_cast<std::size_t>(nStride) != stride) {
    if (!sameSize) std::free(pBits);
    m_sError = "Not enough memory for the bitmap";
    return false;
  }
  if (!sameSize) std::free(m_pBits);
  m_pBits = pBits;
  m_nBitsSize = nSize;
  m_nStride = nStride;

  // Rows bottom-up, whatever the order of the section.
  for (int y = 0; y < height; ++y) {
    std::memcpy(m_pBits + static_cast<std::size_t>(height - 1 - y) * stride, bitmap->RowFromTop(y), stride);
  }
  m_eFormat = format;
  m_nBitsPerPixel = bits;
  m_nWidth = width;
  m_nHeight = height;
  m_pBitmap = std::move(bitmap);
  m_pPalette = std::move(palette);
  return true;
}

bool CImage::ReadBmp(TMediaRequest& request) {
  if (request.pPath == nullptr || request.eTag != MEDIA_REQ_NONE || !LoadBmp(*request.pPath)) {
    request.bSuccess = false;
    return false;
  }
  request.ePixelFormat = m_eFormat;
  request.nWidth = m_nWidth;
  request.nHeight = m_nHeight;
  request.nStride = m_nStride;
  request.pPixels = m_pBits;
  request.nSize = m_nBitsSize;
  if (TFrameBuffer* frame = request.pFrameBuffer) {
    frame->ePixelFormat = m_eFormat;
    frame->nBitsPerPixel = m_nBitsPerPixel;
    frame->nWidth = m_nWidth;
    frame->nHeight = m_nHeight;
    frame->nStride = m_nStride;
    frame->nPaddedHeight = m_nHeight;
    frame->nSize = m_nBitsSize;
    frame->nRowAlignment = 4;
    frame->nHeightAlignment = 1;
    frame->pBuffer = m_pBits;
  }
  request.bSuccess = true;
  return true;
}

bool CImage::SetYuvFrame(TPixelFormat eFormat, std::int32_t nWidth, std::int32_t nHeight,
                         const std::uint8_t* pY, const std::uint8_t* pU, const std::uint8_t* pV) {
  if (nWidth <= 0 || nHeight <= 0) return false;
  int divisor = 0;
  switch (eFormat) {
    case PF_YUV444_601:
    case PF_YUV444_709: divisor = 1; break;
    case PF_YUV422_601:
    case PF_YUV422_709: divisor = 2; break;
    case PF_YUV420_601:
    case PF_YUV420_709: divisor = 4; break;
    default: return false;
  }
  if (pY == nullptr || pU == nullptr || pV == nullptr) return false;
  const std::int64_t luma = std::int64_t{nWidth} * nHeight;
  const std::int64_t chroma = luma / divisor;
  const std::int64_t total = luma + 2 * chroma;
  if (total > kMaxFrameBufferBytes) return false;
  if (total != m_nYuvBufferSize && !ReserveYuvBuffer(static_cast<std::int32_t>(total))) return false;

  m_eYuvFormat = eFormat;
  m_nYuvWidth = nWidth;
  m_nYuvHeight = nHeight;
  m_pUPlane = m_pYuvBuffer + luma;
  m_pVPlane = m_pUPlane + chroma;
  std::memmove(m_pYuvBuffer, pY, static_cast<std::size_t>(luma));
  std::memmove(m_pUPlane, pU, static_cast<std::size_t>(chroma));
  std::memmove(m_pVPlane, pV, static_cast<std::size_t>(chroma));
  return true;
}

bool CImage::ReserveYuvBuffer(std::int32_t nSize) {
  if (nSize < 0) return false;
  if (nSize == 0 || nSize == m_nYuvBufferSize) return true;
  std::free(m_pYuvBuffer);
  m_pYuvBuffer = nullptr;
  m_nYuvBufferSize = 0;
  m_pUPlane = nullptr;
  m_pVPlane = nullptr;
  m_eYuvFormat = TPixelFormat{0};
  m_nYuvWidth = 0;
  m_nYuvHeight = 0;
  m_pYuvBuffer = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(nSize)));
  if (m_pYuvBuffer == nullptr) return false;
  m_nYuvBufferSize = nSize;
  return true;
}

}  // namespace Image
