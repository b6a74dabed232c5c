#pragma once
// YCbCr frame buffers and raw YUV files.
//
// A TYuvFrameBuffer holds planar 4:4:4, 4:2:2 or 4:2:0 YCbCr in three planes
// (Y, then Cb, then Cr, each top row first) or packed YUY2 (Y0 Cb Y1 Cr) in
// one. Every component lays its frames out with AllocYuvFrame or
// LayoutYuvFrame so that plane sizes and positions agree everywhere.
//
// A raw YUV file has no header: frames follow one another, each its Y plane,
// Cb plane and Cr plane with the sizes of the frame's layout.
//
// Sizes are computed in checked 64-bit arithmetic and refused above
// kMaxFrameBufferBytes.

#include <cstdint>
#include <filesystem>

#include "media/file_types.h"
#include "media/frame_buffer.h"

namespace ZarnTypes {

// A YCbCr frame. Cleared as a whole before a producer fills pixel format,
// width, height and the two alignments; the rest is derived. The record owns
// `pBuffer` when AllocYuvFrame made it (FreeYuvFrame releases it).
struct TYuvFrameBuffer {
  TPixelFormat ePixelFormat = TPixelFormat{0};  // 42..44, 48..50, 51..92 planar; PF_YUY2 packed
  std::int32_t nWidth = 0;                      // picture size in pixels
  std::int32_t nHeight = 0;
  std::int32_t nAlignedWidth = 0;  // rounded up to the alignments (derived)
  std::int32_t nAlignedHeight = 0;
  std::int32_t nTotalSize = 0;  // Y size + 2 x chroma size
  std::int32_t nYSize = 0;      // aligned width x aligned height
  std::int32_t nCbSize = 0;     // Y size / chroma divisor
  std::int32_t nCrSize = 0;
  std::int32_t nPlane4Size = 0;      // always 0: no layout has a fourth plane
  std::int32_t nWidthAlignment = 0;  // powers of two set by the producer: 1, 2, 4 or 16
  std::int32_t nHeightAlignment = 0;
  std::uint8_t bFlag1 = 0;              // kept cleared
  std::uint8_t bFlag2 = 0;              // kept cleared; cleared again by the layout functions
  std::int32_t nPlaneCount = 0;         // 3 planar, 1 YUY2
  std::int32_t nChromaDivisor = 0;      // 1 (4:4:4), 2 (4:2:2, YUY2), 4 (4:2:0)
  std::int32_t nBitsPerPixel = 0;       // 24, 16 or 12
  std::int32_t nBitsPerSample[3] = {};  // 8 each
  std::int32_t nPlane4Flag = 0;         // 0
  std::int32_t nReserved[5] = {};       // kept cleared
  std::uint8_t* pBuffer = nullptr;      // the frame bytes (the Y plane first)
  std::uint8_t* pCb = nullptr;          // buffer + Y size (YUY2: the buffer)
  std::uint8_t* pCr = nullptr;          // Cb + Cb size (YUY2: the buffer)
  std::uint8_t* pPlane4 = nullptr;      // never set
};

// Chroma divisor of a pixel format a TYuvFrameBuffer can hold (1, 2 or 4);
// 0 for every refused format (45..47, 93, and all values outside 42..94
// other than the planar layouts and PF_YUY2).
std::int32_t GetYuvChromaDivisor(TPixelFormat ePixelFormat);

// Lays the frame out from its pixel format, width, height and alignments and
// gives it a buffer of the total size; a buffer of equal size is kept with
// its contents. Refused with nothing changed: null record, a pixel format
// without a layout, width or height <= 0, an alignment that is not a positive
// power of two, or a size above kMaxFrameBufferBytes. When a new buffer cannot
// be had the record holds none (buffer, plane pointers and total size 0).
bool AllocYuvFrame(TYuvFrameBuffer* pFrame);

// The same checks and sizes for a buffer the caller owns: stores the total
// size, aligned width and height, plane count, plane sizes, bits per sample
// and flags, and for planar formats the Cb and Cr pointers from `pBuffer`.
// It stores neither divisor nor bits per pixel, and for YUY2 no plane
// pointers.
bool LayoutYuvFrame(TYuvFrameBuffer* pFrame);

// Frees the buffer and clears the whole record.
void FreeYuvFrame(TYuvFrameBuffer* pFrame);

// Reads nYCount bytes into pY, then nChromaCount bytes into pCb and into pCr,
// from the start of the file. A file that cannot be opened shows
// "Can not open YUV input file <path> " and fails; a read error fails
// silently. A file shorter than the three counts leaves the unread rest of
// the destinations as it was and succeeds.
bool ReadYuvFrame(const std::filesystem::path& path, std::int64_t nYCount, std::int64_t nChromaCount,
                  std::uint8_t* pY, std::uint8_t* pCb, std::uint8_t* pCr);

// Reads the first frame of a raw YUV file into one new block of
// Y + 2 x chroma bytes and points the three out pointers at its planes. The
// chroma divisor comes from the code: 47 and 50 give 1, 48 and 51 give 2,
// 49 and 52 give 4, and the layouts 53..94 their own sampling; every other
// code is refused. The block is cleared before reading, so a short file
// leaves zeros behind. From the moment the block exists the caller owns it
// (also when the read fails) and releases it with std::free(*ppY); on a
// refusal the out pointers are null.
bool LoadRawYuvFile(const std::filesystem::path& path, std::int32_t nWidth, std::int32_t nHeight,
                    std::int32_t eFileFormat, std::uint8_t** ppY, std::uint8_t** ppCb, std::uint8_t** ppCr);

// Reads the record's total size from the start of the file into its buffer.
// False when the record has no laid-out buffer, the file cannot be opened or
// the read fails; a shorter file leaves the rest of the buffer as it was and
// still succeeds.
bool ReadYuvFrameFile(const std::filesystem::path& path, TYuvFrameBuffer* pFrame);

// Writes the record's total size from its buffer as the whole file, through
// a temporary file: false, with no file left and an existing file of that
// name unchanged, when the file cannot be created, or a write or the
// closing fails.
bool WriteYuvFrameFile(const std::filesystem::path& path, const TYuvFrameBuffer* pFrame);

// Properties of the YUV pixel formats.

// 1 none, 2 BT.601, 3 BT.709.
std::int32_t GetYuvColorStandard(TPixelFormat ePixelFormat);
// 1 none, 2 0-255, 3 16-255, 4 16-235/240; 0 outside 41..107.
std::int32_t GetYuvRangeCode(TPixelFormat ePixelFormat);
// 1..3 BT.601 by range, 4..6 BT.709 by range; 0 when the format has no matrix.
std::int32_t GetYuvMatrixRangeCode(TPixelFormat ePixelFormat);
// 1 4:4:4; 2, 3, 4 4:2:2 cosited even, cosited odd, centred; 5, 6, 7 4:2:0 likewise; 0 unknown.
std::int32_t GetYuvSubsamplingSiting(TPixelFormat ePixelFormat);
// 1 none, 2 4:4:4, 3 4:2:2, 4 4:2:0; 0 unknown.
std::int32_t GetYuvSamplingCode(TPixelFormat ePixelFormat);
// 1 none, 2 all sites, 3 cosited even, 4 cosited odd, 5 centred; 0 outside 41..107.
std::int32_t GetYuvSitingCode(TPixelFormat ePixelFormat);

}  // namespace ZarnTypes
