#pragma once
// The document's image holder: one decoded .bmp picture (its DIB section,
// its palette and a private copy of its pixel rows) and one planar YCbCr
// frame copied from the engine. The document owns exactly one; a frame
// buffer filled by ReadBmp points into this object, so that picture lives as
// long as the holder and is replaced by the next BMP read.

#include <cstdint>
#include <memory>
#include <string>

#include "io/media_request.h"
#include "media/dib.h"
#include "media/frame_buffer.h"

namespace Image {

class CImage {
 public:
  CImage() = default;
  ~CImage();
  CImage(const CImage&) = delete;
  CImage& operator=(const CImage&) = delete;

  // Loads a .bmp file: its section and (for 8 bits or fewer) its palette
  // replace the held ones, and its rows are copied bottom-up into the bits
  // buffer (DIB rows, 4-byte aligned). The depth chooses the format: 1
  // PF_DIB_1, 4 PF_DIB_4, 8 PF_DIB_8, 16 PF_DIB_16, 24 PF_RGB24, 32
  // PF_RGB32, 48 PF_DIB_48. False, with everything held left as it was, when
  // the file cannot be read (GetErrorText says why), has another depth, or
  // the bits buffer cannot be had.
  bool LoadBmp(const std::string& path);

  // Loads the file named by request.pPath. On success the request gets the
  // pixel format, width, height, stride, pixels and size, and its frame
  // buffer (when given) format, bits per pixel, width, height, stride, size,
  // row alignment 4, height alignment 1 and the buffer pointer; success is
  // set. The pixels are the holder's own bits buffer, not a copy: the frame
  // buffer only borrows it and must never be freed or reallocated with
  // FreeFrameBuffer / AllocFrameBuffer. The section behind the picture is
  // GetBitmap(). On failure (also for a request that carries a tag) the
  // request is left as it was, success clear.
  bool ReadBmp(ZarnTypes::TMediaRequest& request);

  // Keeps a copy of a planar frame: format PF_YUV444_601..PF_YUV420_709
  // (42..47), width and height > 0 and three planes. The Y plane has
  // width x height bytes, each chroma plane that / 1, 2 or 4 (4:4:4, 4:2:2,
  // 4:2:0). False, with the held frame unchanged, for another format, a
  // size <= 0 or too large, or a missing plane; false with no frame held
  // when a buffer of the new size cannot be had.
  bool SetYuvFrame(ZarnTypes::TPixelFormat eFormat, std::int32_t nWidth, std::int32_t nHeight,
                   const std::uint8_t* pY, const std::uint8_t* pU, const std::uint8_t* pV);

  // Makes the YUV buffer exactly `nSize` bytes (contents undefined). A size
  // of 0 or the current size succeeds at once; a negative size fails. When
  // the new buffer cannot be had there is none (and false).
  bool ReserveYuvBuffer(std::int32_t nSize);

  // The held picture.
  ZarnTypes::TPixelFormat GetFormat() const { return m_eFormat; }
  std::int32_t GetBitsPerPixel() const { return m_nBitsPerPixel; }
  std::int32_t GetWidth() const { return m_nWidth; }
  std::int32_t GetHeight() const { return m_nHeight; }
  const std::uint8_t* GetBits() const { return m_pBits; }
  std::int32_t GetBitsSize() const { return m_nBitsSize; }
  std::int32_t GetStride() const { return m_nStride; }
  const Dib::TDibSection* GetBitmap() const { return m_pBitmap.get(); }
  const Dib::TPalette* GetPalette() const { return m_pPalette.get(); }
  // Why the last LoadBmp failed ("" after a success).
  const std::string& GetErrorText() const { return m_sError; }

  // The held planar frame.
  ZarnTypes::TPixelFormat GetYuvFormat() const { return m_eYuvFormat; }
  std::int32_t GetYuvWidth() const { return m_nYuvWidth; }
  std::int32_t GetYuvHeight() const { return m_nYuvHeight; }
  const std::uint8_t* GetYuvBuffer() const { return m_pYuvBuffer; }
  std::int32_t GetYuvBufferSize() const { return m_nYuvBufferSize; }
  const std::uint8_t* GetUPlane() const { return m_pUPlane; }
  const std::uint8_t* GetVPlane() const { return m_pVPlane; }

 private:
  ZarnTypes::TPixelFormat m_eFormat = ZarnTypes::TPixelFormat{0};
  std::int32_t m_nBitsPerPixel = 0;
  std::int32_t m_nWidth = 0;
  std::int32_t m_nHeight = 0;
  std::uint8_t* m_pBits = nullptr;  // owned; AllocDibBits storage
  std::int32_t m_nBitsSize = 0;
  std::int32_t m_nStride = 0;
  std::uint8_t* m_pYuvBuffer = nullptr;  // owned: Y, then U, then V
  std::int32_t m_nYuvBufferSize = 0;
  std::uint8_t* m_pUPlane = nullptr;
  std::uint8_t* m_pVPlane = nullptr;
  ZarnTypes::TPixelFormat m_eYuvFormat = ZarnTypes::TPixelFormat{0};
  std::int32_t m_nYuvWidth = 0;
  std::int32_t m_nYuvHeight = 0;
  Dib::TDibPtr m_pBitmap;
  std::unique_ptr<Dib::TPalette> m_pPalette;
  std::string m_sError;
};

}  // namespace Image
