#include "io/codecs/quantizer.h"

#include <bit>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

namespace Quantizer {

namespace {

// How one colour component is taken out of a 16- or 32-bit pixel: masked,
// shifted down to bit 0, then scaled to 8 bits.
struct TComponent {
  std::uint32_t mask = 0;
  int shift = 0;      // lowest set bit of the mask
  int bits = 0;       // bits in the mask
  int scaleUp = 0;    // left shift for masks narrower than 8 bits
  int scaleDown = 0;  // right shift for masks wider than 8 bits

  static TComponent From(std::uint32_t mask, bool scaleNarrow) {
    TComponent c;
    c.mask = mask;
    if (mask == 0) return c;
    c.shift = std::countr_zero(mask);
    c.bits = std::popcount(mask);
    if (c.bits > 8) {
      c.scaleDown = c.bits - 8;
    } else if (scaleNarrow) {
      c.scaleUp = 8 - c.bits;
    }
    return c;
  }

  std::uint8_t Extract(std::uint32_t pixel) const {
    if (mask == 0) return 0;
    std::uint32_t v = (pixel & mask) >> shift;
    v = (v << scaleUp) >> scaleDown;
    return static_cast<std::uint8_t>(v > 255 ? 255 : v);
  }
};

// True when the section's bits hold all of its rows.
bool HasAllRows(const Dib::TDibSection& section) {
  if (section.Width() <= 0 || section.Height() <= 0 || section.BitCount() <= 0) return false;
  const std::size_t stride = section.Stride();
  return stride > 0 && !section.bits.empty() &&
         section.bits.size() / stride >= static_cast<std::size_t>(section.Height());
}

// Colours a palette section can name: colours-used, or 2^depth when that is 0.
std::uint32_t ColoursUsed(const Dib::TDibSection& section) {
  if (section.header.biClrUsed != 0) return section.header.biClrUsed;
  const int bits = section.BitCount();
  return bits >= 1 && bits <= 8 ? (1u << bits) : 0u;
}

}  // namespace

CQuantizer::~CQuantizer() { ResetTree(); }

void CQuantizer::ResetTree() {
  if (m_pTree) {
    for (TOctreeNode*& child : m_pTree->pChild) DeleteTree(child);
    delete m_pTree;
    m_pTree = nullptr;
  }
  m_pReducibleNodes.fill(nullptr);
  m_nLeafCount = 0;
}

TPalettePtr CQuantizer::QuantizeToPalette(const Dib::TDibSection& bitmap, int nMaxColors, int nColorBits) {
  if (nColorBits < 1 || nColorBits > kMaxColorBits) return nullptr;
  if (nMaxColors < 1 || nMaxColors > kMaxPaletteColors) return nullptr;
  ResetTree();
  m_nColorBits = nColorBits;

  const int bitCount = bitmap.BitCount();
  if (bitCount != 16 && bitCount != 24 && bitCount != 32) return nullptr;
  if (!HasAllRows(bitmap)) return nullptr;

  const bool bitFields = bitmap.header.biCompression == Dib::BI_BITFIELDS;
  TComponent red, green, blue;
  if (bitCount == 16) {
    red = TComponent::From(bitFields ? bitmap.masks[0] : 0x7C00u, true);
    green = TComponent::From(bitFields ? bitmap.masks[1] : 0x03E0u, true);
    blue = TComponent::From(bitFields ? bitmap.masks[2] : 0x001Fu, true);
  } else if (bitCount == 32) {
    red = TComponent::From(bitFields ? bitmap.masks[0] : 0xFF0000u, false);
    green = TComponent::From(bitFields ? bitmap.masks[1] : 0x00FF00u, false);
    blue = TComponent::From(bitFields ? bitmap.masks[2] : 0x0000FFu, false);
  }

  const int width = bitmap.Width();
  const int height = bitmap.Height();
  const std::size_t stride = bitmap.Stride();
  const std::uint32_t maxColors = static_cast<std::uint32_t>(nMaxColors);

  try {
    // Rows in memory order, width pixels each; the padding is skipped.
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* p = bitmap.bits.data() + static_cast<std::size_t>(y) * stride;
      for (int x = 0; x < width; ++x) {
        std::uint8_t r, g, b;
        if (bitCount == 24) {
          b = p[0];
          g = p[1];
          r = p[2];
          p += 3;
        } else if (bitCount == 16) {
          const std::uint32_t pixel =
              static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8);
          r = red.Extract(pixel);
          g = green.Extract(pixel);
          b = blue.Extract(pixel);
          p += 2;
        } else {
          const std::uint32_t pixel =
              static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
              (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
          r = red.Extract(pixel);
          g = green.Extract(pixel);
          b = blue.Extract(pixel);
          p += 4;
        }
        if (!AddColor(r, g, b)) {
          ResetTree();
          return nullptr;
        }
        while (m_nLeafCount > maxColors) {
          if (!ReduceTree()) break;
        }
      }
    }
    if (m_nLeafCount > maxColors || m_nLeafCount == 0) {
      ResetTree();
      return nullptr;
    }
    auto palette = std::make_unique<Dib::TPalette>();
    palette->version = 0x300;
    palette->entries.reserve(m_nLeafCount);
    GetPaletteColors(m_pTree, *palette);
    ResetTree();
    return palette;
  } catch (const std::bad_alloc&) {
    ResetTree();
    return nullptr;
  }
}

bool CQuantizer::AddColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  TOctreeNode** ppNode = &m_pTree;
  for (int level = 0;; ++level) {
    if (*ppNode == nullptr) {
      auto* node = new (std::nothrow) TOctreeNode();
      if (!node) return false;
      if (level == m_nColorBits) {
        node->bIsLeaf = true;
        ++m_nLeafCount;
      } else {
        node->pNext = m_pReducibleNodes[level];
        m_pReducibleNodes[level] = node;
      }
      *ppNode = node;
    }
    TOctreeNode* node = *ppNode;
    if (node->bIsLeaf) {
      ++node->nPixelCount;
      node->nRedSum += red;
      node->nGreenSum += green;
      node->nBlueSum += blue;
      return true;
    }
    const int shift = 7 - level;
    const int index = (((red >> shift) & 1) << 2) | (((green >> shift) & 1) << 1) | ((blue >> shift) & 1);
    ppNode = &node->pChild[index];
  }
}

bool CQuantizer::ReduceTree() {
  // The deepest level below the leaves that still has a reducible node.
  int level = m_nColorBits - 1;
  while (level > 0 && m_pReducibleNodes[level] == nullptr) --level;
  TOctreeNode* node = m_pReducibleNodes[level];
  if (node == nullptr) return false;
  if (level == 0) return MergeClosestRootLeaves();
  m_pReducibleNodes[level] = node->pNext;
  node->pNext = nullptr;

  std::uint32_t children = 0;
  for (TOctreeNode*& child : node->pChild) {
    if (child == nullptr) continue;
    node->nPixelCount += child->nPixelCount;
    node->nRedSum += child->nRedSum;
    node->nGreenSum += child->nGreenSum;
    node->nBlueSum += child->nBlueSum;
    DeleteTree(child);
    ++children;
  }
  node->bIsLeaf = true;
  m_nLeafCount -= children > 0 ? children - 1 : 0;
  if (children == 0) ++m_nLeafCount;  // cannot happen: every reducible node has a child
  return true;
}

bool CQuantizer::MergeClosestRootLeaves() {
  // Every child of the root is a leaf here (all deeper levels are reduced).
  // Folding them all into the root would leave a single colour; instead the
  // two whose merge adds the least squared error become one.
  TOctreeNode* root = m_pTree;
  int first = -1, second = -1;
  double bestCost = 0.0;
  for (int i = 0; i < 8; ++i) {
    const TOctreeNode* a = root->pChild[i];
    if (a == nullptr || a->nPixelCount == 0) continue;
    for (int j = i + 1; j < 8; ++j) {
      const TOctreeNode* b = root->pChild[j];
      if (b == nullptr || b->nPixelCount == 0) continue;
      const double na = a->nPixelCount, nb = b->nPixelCount;
      const double dr = a->nRedSum / na - b->nRedSum / nb;
      const double dg = a->nGreenSum / na - b->nGreenSum / nb;
      const double db = a->nBlueSum / na - b->nBlueSum / nb;
      const double cost = na * nb / (na + nb) * (dr * dr + dg * dg + db * db);
      if (first < 0 || cost < bestCost) {
        first = i;
        second = j;
        bestCost = cost;
      }
    }
  }
  if (first < 0) return false;
  TOctreeNode* keep = root->pChild[first];
  TOctreeNode*& drop = root->pChild[second];
  keep->nPixelCount += drop->nPixelCount;
  keep->nRedSum += drop->nRedSum;
  keep->nGreenSum += drop->nGreenSum;
  keep->nBlueSum += drop->nBlueSum;
  DeleteTree(drop);
  --m_nLeafCount;
  return true;
}

void CQuantizer::GetPaletteColors(const TOctreeNode* pNode, Dib::TPalette& palette) const {
  if (pNode == nullptr) return;
  if (pNode->bIsLeaf) {
    Dib::TPaletteEntry entry;
    if (pNode->nPixelCount != 0) {
      entry.peRed = static_cast<std::uint8_t>(pNode->nRedSum / pNode->nPixelCount);
      entry.peGreen = static_cast<std::uint8_t>(pNode->nGreenSum / pNode->nPixelCount);
      entry.peBlue = static_cast<std::uint8_t>(pNode->nBlueSum / pNode->nPixelCount);
    }
    palette.entries.push_back(entry);
    return;
  }
  for (const TOctreeNode* child : pNode->pChild) GetPaletteColors(child, palette);
}

void CQuantizer::DeleteTree(TOctreeNode*& pNode) {
  if (pNode == nullptr) return;
  for (TOctreeNode*& child : pNode->pChild) DeleteTree(child);
  delete pNode;
  pNode = nullptr;
}

bool CQuantizer::MapToPalette(const Dib::TDibSection& source, Dib::TDibSection& destination,
                              const Dib::TPalette* pPalette) {
  if (!HasAllRows(source) || !HasAllRows(destination)) return false;
  if (source.BitCount() != 32) return false;
  if (source.Width() != destination.Width() || source.Height() != destination.Height()) return false;

  const int depth = destination.BitCount();
  std::vector<Dib::TPaletteEntry> colours;
  if (pPalette) {
    const std::size_t count = pPalette->entries.size();
    if (count == 0 || count > kMaxPaletteColors || count > ColoursUsed(destination)) return false;
    colours = pPalette->entries;
  } else {
    if (depth != 1) return false;
    colours = {Dib::TPaletteEntry{0, 0, 0, 0}, Dib::TPaletteEntry{255, 255, 255, 0}};
  }
  if (depth != 1 && depth != 4 && depth != 8) return false;

  const int pixelsPerByte = 8 / depth;
  const unsigned mask = (1u << depth) - 1u;
  const int width = source.Width();
  const int height = source.Height();

  // Rows are paired by their place in the picture, top first, so that a
  // top-down and a bottom-up section still line up.
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* src = source.RowFromTop(y);
    std::uint8_t* dst = destination.RowFromTop(y);
    unsigned current = 0;
    int filled = 0;
    for (int x = 0; x < width; ++x) {
      const int b = src[0], g = src[1], r = src[2];
      src += 4;
      std::size_t best = 0;
      int bestDistance = std::numeric_limits<int>::max();
      for (std::size_t i = 0; i < colours.size(); ++i) {
        const int d = std::abs(r - colours[i].peRed) + std::abs(g - colours[i].peGreen) +
                      std::abs(b - colours[i].peBlue);
        if (d < bestDistance) {
          bestDistance = d;
          best = i;
          if (d == 0) break;
        }
      }
      ++filled;
      current |= (static_cast<unsigned>(best) & mask) << (8 - filled * depth);
      if (filled == pixelsPerByte) {
        *dst++ = static_cast<std::uint8_t>(current);
        current = 0;
        filled = 0;
      }
    }
    if (filled != 0) *dst = static_cast<std::uint8_t>(current);
  }
  return true;
}

}  // namespace Quantizer
