#pragma once
// Octree colour quantizer: reduces the colours of a 16-, 24- or 32-bit DIB
// section to a palette of at most 2, 4, 16 or 256 entries, and maps a 32-bit
// section onto a 1-, 4- or 8-bit palette section by nearest colour. The
// savers that write palette pictures (GIF, PNG, JPEG 2000, TIFF, BMP) build
// one quantizer on their stack for one save.
//
// The object keeps nothing between calls: QuantizeToPalette builds its
// octree for the duration of the call and frees it before returning.

#include <array>
#include <cstdint>
#include <memory>

#include "media/dib.h"

namespace Quantizer {

// A palette made by the quantizer; the caller owns it.
using TPalettePtr = std::unique_ptr<Dib::TPalette>;

// The largest palette the quantizer makes or maps with.
inline constexpr int kMaxPaletteColors = 256;
// The deepest octree: one level per bit of a colour component.
inline constexpr int kMaxColorBits = 8;

// One node of the octree.
struct TOctreeNode {
  bool bIsLeaf = false;
  std::uint32_t nPixelCount = 0;
  // Sums over every pixel that reached the node; 64 bits so that pictures of
  // any size the program allocates average correctly.
  std::uint64_t nRedSum = 0;
  std::uint64_t nGreenSum = 0;
  std::uint64_t nBlueSum = 0;
  std::array<TOctreeNode*, 8> pChild{};
  TOctreeNode* pNext = nullptr;  // chain of reducible nodes of the same level
};

class CQuantizer {
 public:
  CQuantizer() = default;
  ~CQuantizer();
  CQuantizer(const CQuantizer&) = delete;
  CQuantizer& operator=(const CQuantizer&) = delete;

  // Builds an octree of depth `nColorBits` (1..8) over every pixel of the
  // section and reduces it to at most `nMaxColors` (1..256) leaves, folding
  // the deepest nodes first; each leaf's average colour becomes one palette
  // entry (version 0x300, entries in the octree's depth-first order). Once
  // only the eight top-level leaves remain and they are still too many (2-
  // and 4-colour palettes), the two closest of them are merged at a time,
  // so that the palette keeps as many colours as allowed. Sections of 16 bits (5-5-5, or the
  // section's own masks with BI_BITFIELDS), 24 bits and 32 bits (blue, green,
  // red, or the section's masks) are accepted. Null, with nothing kept
  // allocated, for any other depth, colour bits or colour count out of range,
  // a section whose bits do not hold its rows, or exhausted memory.
  TPalettePtr QuantizeToPalette(const Dib::TDibSection& bitmap, int nMaxColors, int nColorBits);

  // Fills the pixels of `destination` (1, 4 or 8 bits per pixel, the same
  // width and height as `source`) with the index of the palette entry nearest
  // to each pixel of the 32-bit `source` (smallest sum of absolute
  // differences of red, green and blue; the first such entry wins). Indices
  // are packed from the most significant bits of each byte; a row's partly
  // filled last byte is stored with its unused bits clear. Without a palette
  // the destination must be 1 bit deep and gets black (0) and white (1).
  // False before any pixel is written when: either section has no pixel bits
  // or bits too short for its rows, the sizes differ, the source is not 32
  // bits, the destination depth is not 1, 4 or 8, the palette is empty or
  // has more than 256 entries or more than the destination's colours
  // (colours-used, or 2^depth when that is 0).
  bool MapToPalette(const Dib::TDibSection& source, Dib::TDibSection& destination,
                    const Dib::TPalette* pPalette);

 private:
  bool AddColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
  bool ReduceTree();
  bool MergeClosestRootLeaves();
  void GetPaletteColors(const TOctreeNode* pNode, Dib::TPalette& palette) const;
  static void DeleteTree(TOctreeNode*& pNode);
  void ResetTree();

  TOctreeNode* m_pTree = nullptr;
  std::array<TOctreeNode*, kMaxColorBits + 1> m_pReducibleNodes{};
  std::uint32_t m_nLeafCount = 0;
  int m_nColorBits = 0;
};

}  // namespace Quantizer
