#include "media/dib.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "media/color_kernels.h"
#include "media/dib_detail.h"
#include "media/frame_buffer.h"
#include "platform/byte_order.h"
#include "platform/message_sink.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Dib {

namespace {

constexpr std::array<TRgbQuad, 256> MakeSystem332Table() {
  std::array<TRgbQuad, 256> table{};
  for (int i = 0; i < 256; ++i) {
    table[i].rgbRed = static_cast<std::uint8_t>((i & 7) * 32);
    table[i].rgbGreen = static_cast<std::uint8_t>(((i >> 3) & 7) * 32);
    table[i].rgbBlue = static_cast<std::uint8_t>((i >> 6) * 64);
  }
  return table;
}

constexpr TRgbQuad Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) { return TRgbQuad{b, g, r, 0}; }

}  // namespace

const std::array<TRgbQuad, 2> kMonoColorTable = {Rgb(0, 0, 0), Rgb(255, 255, 255)};

const std::array<TRgbQuad, 16> kVgaColorTable = {
    Rgb(0, 0, 0),       Rgb(0, 0, 128),   Rgb(0, 128, 0),   Rgb(0, 128, 128),
    Rgb(128, 0, 0),     Rgb(128, 0, 128), Rgb(128, 128, 0), Rgb(192, 192, 192),
    Rgb(128, 128, 128), Rgb(0, 0, 255),   Rgb(0, 255, 0),   Rgb(0, 255, 255),
    Rgb(255, 0, 0),     Rgb(255, 0, 255), Rgb(255, 255, 0), Rgb(255, 255, 255),
};

const std::array<TRgbQuad, 256> kSystem332ColorTable = MakeSystem332Table();

// ---------------------------------------------------------------------------
// Shared helpers.

namespace detail {

bool RowsBytes(std::int64_t width, std::int64_t rows, std::uint64_t bitsPerPixel, std::uint64_t& stride,
               std::uint64_t& total) {
  if (width < 0 || rows < 0) return false;
  std::uint64_t rowBits = 0;
  if (!CheckedMul(static_cast<std::uint64_t>(width), bitsPerPixel, rowBits)) return false;
  if (!CheckedAdd(rowBits, 31, rowBits)) return false;
  stride = (rowBits >> 5) * 4;
  return CheckedMul(stride, static_cast<std::uint64_t>(rows), total);
}

std::vector<TRgbQuad> FixedColorTable(int bitCount) {
  switch (bitCount) {
    case 1: return {kMonoColorTable.begin(), kMonoColorTable.end()};
    case 4: return {kVgaColorTable.begin(), kVgaColorTable.end()};
    case 8: return {kSystem332ColorTable.begin(), kSystem332ColorTable.end()};
    default:
      if (bitCount > 0 && bitCount < 8) return std::vector<TRgbQuad>(std::size_t{1} << bitCount);
      return {};
  }
}

bool IsDescribable(const TDibSection& section) {
  const int bits = section.BitCount();
  if (!(bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32 ||
        bits == 48))
    return false;
  if (section.header.biWidth < 0 || section.header.biHeight == INT32_MIN) return false;
  std::uint64_t stride = 0, total = 0;
  if (!RowsBytes(section.header.biWidth, section.Height(), static_cast<std::uint64_t>(bits), stride, total))
    return false;
  return total <= section.bits.size();
}

std::uint8_t MaskedTo8(std::uint32_t pixel, std::uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const int width = std::popcount(mask);
  const std::uint32_t value = (pixel & mask) >> shift;
  if (width >= 8) return static_cast<std::uint8_t>(value >> (width - 8));
  const std::uint32_t max = (std::uint32_t{1} << width) - 1;
  return static_cast<std::uint8_t>((value * 255 + max / 2) / max);
}

bool IsPlainBgrx(const TDibSection& section) {
  if (section.BitCount() != 32) return false;
  if (section.header.biCompression == BI_RGB) return true;
  return section.header.biCompression == BI_BITFIELDS && section.masks[0] == 0x00FF0000u &&
         section.masks[1] == 0x0000FF00u && section.masks[2] == 0x000000FFu;
}

void ReadRowBgr(const TDibSection& section, int y, std::uint8_t* bgr) {
  const int width = section.Width();
  const int bits = section.BitCount();
  const std::uint8_t* row = section.RowFromTop(y);
  if (bits <= 8) {
    const std::size_t entries = section.colorTable.size();
    const unsigned mask = (1u << bits) - 1;
    for (int x = 0; x < width; ++x) {
      const std::uint64_t bit = static_cast<std::uint64_t>(x) * bits;
      const unsigned byte = row[bit >> 3];
      const unsigned index = (byte >> (8 - bits - (bit & 7))) & mask;
      TRgbQuad q{};
      if (index < entries) q = section.colorTable[index];
      bgr[0] = q.rgbBlue;
      bgr[1] = q.rgbGreen;
      bgr[2] = q.rgbRed;
      bgr += 3;
    }
  } else if (bits == 16) {
    std::array<std::uint32_t, 3> masks = {kMask555Red, kMask555Green, kMask555Blue};
    if (section.header.biCompression == BI_BITFIELDS) masks = section.masks;
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = platform::LoadLE16(row + 2 * x);
      bgr[0] = MaskedTo8(p, masks[2]);
      bgr[1] = MaskedTo8(p, masks[1]);
      bgr[2] = MaskedTo8(p, masks[0]);
      bgr += 3;
    }
  } else if (bits == 24) {
    std::memcpy(bgr, row, static_cast<std::size_t>(width) * 3);
  } else if (bits == 48) {
    // 16-bit little-endian samples, blue first: the high byte of each.
    for (int x = 0; x < width; ++x) {
      bgr[0] = row[6 * x + 1];
      bgr[1] = row[6 * x + 3];
      bgr[2] = row[6 * x + 5];
      bgr += 3;
    }
  } else if (IsPlainBgrx(section)) {
    for (int x = 0; x < width; ++x) {
      bgr[0] = row[4 * x];
      bgr[1] = row[4 * x + 1];
      bgr[2] = row[4 * x + 2];
      bgr += 3;
    }
  } else {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = platform::LoadLE32(row + 4 * x);
      bgr[0] = MaskedTo8(p, section.masks[2]);
      bgr[1] = MaskedTo8(p, section.masks[1]);
      bgr[2] = MaskedTo8(p, section.masks[0]);
      bgr += 3;
    }
  }
}

void WriteInfoHeader(platform::TByteWriter& w, const TBitmapInfoHeader& h) {
  w.U32(h.biSize);
  w.I32(h.biWidth);
  w.I32(h.biHeight);
  w.U16(h.biPlanes);
  w.U16(h.biBitCount);
  w.U32(h.biCompression);
  w.U32(h.biSizeImage);
  w.I32(h.biXPelsPerMeter);
  w.I32(h.biYPelsPerMeter);
  w.U32(h.biClrUsed);
  w.U32(h.biClrImportant);
}

void WriteColorTable(platform::TByteWriter& w, const std::vector<TRgbQuad>& table) {
  for (const TRgbQuad& q : table) {
    w.U8(q.rgbBlue);
    w.U8(q.rgbGreen);
    w.U8(q.rgbRed);
    w.U8(0);
  }
}

}  // namespace detail

using detail::CheckedAdd;
using detail::CheckedMul;

// ---------------------------------------------------------------------------
// DIB sections and palettes.

namespace {

// A 40-byte header of uncompressed rows (one plane) of the size and depth,
// with the rows' byte count as its image size.
TBitmapInfoHeader PlainInfoHeader(int width, int height, int bitCount, std::uint64_t imageBytes) {
  TBitmapInfoHeader h;
  h.biSize = 40;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<std::uint16_t>(bitCount);
  h.biCompression = BI_RGB;
  h.biSizeImage = static_cast<std::uint32_t>(imageBytes);
  return h;
}

// Builds a section; errno-style code in `error` on failure.
TDibPtr MakeSection(int width, int height, int bitCount, const TPalette* palette, int& error) {
  error = 0;
  // 2 bits is not a .bmp depth, but sections of it exist (with a black
  // four-entry table); depths that split pixels across bytes do not.
  const bool depthOk = bitCount == 1 || bitCount == 2 || bitCount == 4 || bitCount == 8 || bitCount == 16 ||
                       bitCount == 24 || bitCount == 32;
  if (!depthOk || width <= 0 || height == 0 || height == INT32_MIN) {
    error = EINVAL;
    return nullptr;
  }
  const std::int64_t rows = height < 0 ? -std::int64_t{height} : height;
  std::uint64_t stride = 0, total = 0;
  if (!detail::RowsBytes(width, rows, static_cast<std::uint64_t>(bitCount), stride, total) ||
      total > kMaxDibBitsBytes) {
    error = ENOMEM;
    return nullptr;
  }
  try {
    auto section = std::make_unique<TDibSection>();
    TBitmapInfoHeader& h = section->header;
    h = PlainInfoHeader(width, height, bitCount, total);
    if (bitCount == 4) h.biClrUsed = 16;
    if (bitCount == 8) h.biClrUsed = 256;
    if (bitCount == 16) {
      h.biCompression = BI_BITFIELDS;
      section->masks = {kMask555Red, kMask555Green, kMask555Blue};
    }
    section->colorTable = detail::FixedColorTable(bitCount);
    if (palette && (bitCount == 4 || bitCount == 8)) {
      // Entries the palette lacks stay black.
      std::fill(section->colorTable.begin(), section->colorTable.end(), TRgbQuad{});
      const std::size_t n = std::min(section->colorTable.size(), palette->entries.size());
      for (std::size_t i = 0; i < n; ++i) {
        const TPaletteEntry& e = palette->entries[i];
        section->colorTable[i] = TRgbQuad{e.peBlue, e.peGreen, e.peRed, 0};
      }
    }
    section->bits.assign(static_cast<std::size_t>(total), 0);
    return section;
  } catch (const std::bad_alloc&) {
    error = ENOMEM;
    return nullptr;
  }
}

void ShowCreateError(int error) {
  char text[32];
  std::snprintf(text, sizeof text, "Error %d", error);
  platform::ShowMessage(text, "Error");
}

}  // namespace

TDibPtr CreateDibSectionEx(int width, int height, int bitCount) {
  return CreateDibSectionPal(width, height, bitCount, nullptr);
}

TDibPtr CreateDibSectionPal(int width, int height, int bitCount, const TPalette* palette) {
  int error = 0;
  TDibPtr section = MakeSection(width, height, bitCount, palette, error);
  if (!section) ShowCreateError(error);
  return section;
}

std::unique_ptr<TPalette> CreateSystemPalette332() {
  auto palette = std::make_unique<TPalette>();
  palette->version = 0x300;
  palette->entries.resize(256);
  for (std::size_t i = 0; i < 256; ++i) {
    const TRgbQuad& q = kSystem332ColorTable[i];
    palette->entries[i] = TPaletteEntry{q.rgbRed, q.rgbGreen, q.rgbBlue, 0};
  }
  return palette;
}

bool CreateDibSectionFromBitmap(const TDibSection& source, TDibPtr& section) {
  if (!detail::IsDescribable(source) || source.Width() == 0 || source.Height() == 0) return false;
  int error = 0;
  TDibPtr copy = MakeSection(source.Width(), source.Height(), source.BitCount(), nullptr, error);
  if (!copy) return false;
  const int bits = source.BitCount();
  if (bits <= 8) {
    const std::size_t entries = std::size_t{1} << bits;
    copy->header.biClrUsed = static_cast<std::uint32_t>(entries);
    copy->header.biClrImportant = static_cast<std::uint32_t>(entries);
    copy->colorTable.assign(entries, TRgbQuad{});
    std::copy_n(source.colorTable.begin(), std::min(entries, source.colorTable.size()),
                copy->colorTable.begin());
  }
  copy->header.biCompression = source.header.biCompression == BI_BITFIELDS ? BI_BITFIELDS : BI_RGB;
  copy->masks = source.masks;
  if (bits == 16 && source.header.biCompression != BI_BITFIELDS)
    copy->masks = {kMask555Red, kMask555Green, kMask555Blue};
  copy->header.biXPelsPerMeter = source.header.biXPelsPerMeter;
  copy->header.biYPelsPerMeter = source.header.biYPelsPerMeter;
  const std::size_t stride = copy->Stride();
  for (int y = 0; y < source.Height(); ++y) std::memcpy(copy->RowFromTop(y), source.RowFromTop(y), stride);
  section = std::move(copy);
  return true;
}

bool CreatePlaceholderBitmap(TDibPtr& bitmap) {
  TDibPtr placeholder = CreateDibSectionEx(300, 100, 32);
  if (!placeholder) return false;
  bitmap = std::move(placeholder);
  return true;
}

bool CanCopyDibToSection(const TDibSection& section, const TBitmapInfoHeader& source) {
  if (!detail::IsDescribable(section)) return false;
  if (section.BitCount() == 24) return true;
  if (section.BitCount() != 32) return false;
  switch (source.biBitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32: return true;
    default: return false;
  }
}

TBitmapInfo GetDibSectionInfo(const TDibSection& section) {
  TBitmapInfo info;
  info.header = section.header;
  info.header.biSize = 40;
  const int bits = section.BitCount();
  if (info.header.biCompression == BI_BITFIELDS) info.masks = section.masks;
  if (bits >= 1 && bits <= 8) {
    const std::size_t full = std::size_t{1} << bits;
    std::size_t entries = std::min(section.colorTable.size(), full);
    if (entries == 0) entries = full;
    info.colorTable = detail::FixedColorTable(bits);
    info.colorTable.resize(entries);
    std::copy_n(section.colorTable.begin(), std::min(entries, section.colorTable.size()),
                info.colorTable.begin());
    info.header.biClrUsed =
        entries < full ? static_cast<std::uint32_t>(entries) : (section.header.biClrUsed ? full : 0);
  } else {
    info.colorTable.assign(kSystem332ColorTable.begin(), kSystem332ColorTable.end());
    info.header.biClrUsed = 256;
  }
  if (info.header.biClrImportant > info.colorTable.size()) info.header.biClrImportant = 0;
  if (info.header.biCompression == BI_RGB || info.header.biCompression == BI_BITFIELDS) {
    const std::size_t image = GetDibImageBytes(info.header);
    info.header.biSizeImage = image <= UINT32_MAX ? static_cast<std::uint32_t>(image) : 0;
  }
  return info;
}

// ---------------------------------------------------------------------------
// Sizes.

std::size_t DibColorTableSize(const TBitmapInfoHeader& header) {
  const unsigned bits = header.biBitCount;
  const std::size_t standard = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
  if (header.biSize == 12) return 3 * standard;
  return 4 * (header.biClrUsed ? static_cast<std::size_t>(header.biClrUsed) : standard);
}

std::size_t GetDibColorTableBytes(const TBitmapInfoHeader& header) {
  const std::uint64_t depth = std::uint64_t{header.biPlanes} * header.biBitCount;
  std::uint64_t entries = header.biClrUsed;
  if (entries == 0 && depth < 9) entries = std::uint64_t{1} << depth;
  return static_cast<std::size_t>(entries * 4 + (header.biCompression == BI_BITFIELDS ? 12 : 0));
}

std::size_t GetDibImageBytes(const TBitmapInfoHeader& header) {
  switch (header.biCompression) {
    case BI_RGB:
    case BI_BITFIELDS: {
      const std::uint64_t depth = std::uint64_t{header.biPlanes} * header.biBitCount;
      const std::int64_t rows = header.biHeight < 0 ? -std::int64_t{header.biHeight} : header.biHeight;
      std::uint64_t stride = 0, total = 0;
      if (header.biWidth < 0 || !detail::RowsBytes(header.biWidth, rows, depth, stride, total) ||
          total > SIZE_MAX)
        return SIZE_MAX;
      return static_cast<std::size_t>(total);
    }
    case BI_RLE8:
    case BI_RLE4: return header.biSizeImage;
    default: return 0;
  }
}

std::size_t GetPackedDibSize(const TBitmapInfoHeader& header) {
  const std::uint64_t image = GetDibImageBytes(header);
  std::uint64_t total = 0;
  if (!CheckedAdd(image, GetDibColorTableBytes(header), total) || !CheckedAdd(total, 40, total))
    return SIZE_MAX;
  return static_cast<std::size_t>(total);
}

int GetScreenDibFormat(TBitmapInfo& info) {
  info = TBitmapInfo{};
  info.header = PlainInfoHeader(1, 1, 32, 4);
  return 1;
}

bool CreateBitmapInfoHeader(const TDibSection& bitmap, TBitmapInfo& info) {
  if (!detail::IsDescribable(bitmap)) return false;
  const int depth = bitmap.BitCount();  // one plane
  const int c = depth == 1 ? 1 : depth <= 4 ? 4 : depth <= 8 ? 8 : depth <= 16 ? 16 : depth <= 24 ? 24 : 32;
  std::uint64_t stride = 0, total = 0;
  if (!detail::RowsBytes(bitmap.Width(), bitmap.Height(), static_cast<std::uint64_t>(c), stride, total) ||
      total > UINT32_MAX)
    return false;
  TBitmapInfo result;
  TBitmapInfoHeader& h = result.header;
  // The header describes rows of depth c, so it names that depth; a colour
  // table only exists up to 8 bits.
  h = PlainInfoHeader(bitmap.Width(), bitmap.Height(), c, total);
  h.biClrUsed = c <= 8 ? (1u << c) : 0;
  h.biClrImportant = 0;
  result.colorTable.assign(h.biClrUsed, TRgbQuad{});
  info = std::move(result);
  return true;
}

namespace {

// Index of the table entry nearest to a colour.
std::uint8_t NearestIndex(const std::vector<TRgbQuad>& table, const std::uint8_t* bgr) {
  int best = 0;
  int bestDistance = INT_MAX;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const int db = table[i].rgbBlue - bgr[0];
    const int dg = table[i].rgbGreen - bgr[1];
    const int dr = table[i].rgbRed - bgr[2];
    const int d = db * db + dg * dg + dr * dr;
    if (d < bestDistance) {
      bestDistance = d;
      best = static_cast<int>(i);
    }
  }
  return static_cast<std::uint8_t>(best);
}

std::uint8_t Nearest332(const std::uint8_t* bgr) {
  const int r = std::min(7, (bgr[2] + 16) / 32);
  const int g = std::min(7, (bgr[1] + 16) / 32);
  const int b = std::min(3, (bgr[0] + 32) / 64);
  return static_cast<std::uint8_t>(r | (g << 3) | (b << 6));
}

}  // namespace

std::vector<std::uint8_t> CreateDibFromBitmap(const TDibSection& bitmap, int bitCount) {
  if (!detail::IsDescribable(bitmap)) return {};
  if (bitCount == 0) bitCount = bitmap.BitCount();
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
    return {};
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  std::uint64_t stride = 0, image = 0;
  if (!detail::RowsBytes(width, height, static_cast<std::uint64_t>(bitCount), stride, image) ||
      image > kMaxDibBitsBytes)
    return {};

  const TBitmapInfoHeader h = PlainInfoHeader(width, height, bitCount, image);

  const bool sameDepth = bitCount == bitmap.BitCount();
  std::vector<TRgbQuad> table;
  if (bitCount <= 8) {
    table = detail::FixedColorTable(bitCount);
    if (sameDepth) {
      std::fill(table.begin(), table.end(), TRgbQuad{});
      std::copy_n(bitmap.colorTable.begin(), std::min(table.size(), bitmap.colorTable.size()), table.begin());
    }
  }

  std::vector<std::uint8_t> packed;
  try {
    packed.reserve(40 + 4 * table.size() + static_cast<std::size_t>(image));
    platform::TByteWriter w(packed);
    detail::WriteInfoHeader(w, h);
    detail::WriteColorTable(w, table);
    const std::size_t bitsAt = packed.size();
    packed.resize(bitsAt + static_cast<std::size_t>(image), 0);

    // Rows are written bottom-up: packed row r is picture row height-1-r.
    const bool copyRows =
        sameDepth &&
        (bitCount <= 8 || bitCount == 24 || (bitCount == 32 && detail::IsPlainBgrx(bitmap)) ||
         (bitCount == 16 && (bitmap.header.biCompression != BI_BITFIELDS ||
                             (bitmap.masks[0] == kMask555Red && bitmap.masks[1] == kMask555Green &&
                              bitmap.masks[2] == kMask555Blue))));
    std::vector<std::uint8_t> bgr(copyRows ? 0 : static_cast<std::size_t>(width) * 3);
    for (int r = 0; r < height; ++r) {
      const int y = height - 1 - r;
      std::uint8_t* out = packed.data() + bitsAt + static_cast<std::size_t>(r) * stride;
      if (copyRows) {
        std::memcpy(out, bitmap.RowFromTop(y), static_cast<std::size_t>(stride));
        continue;
      }
      detail::ReadRowBgr(bitmap, y, bgr.data());
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* p = bgr.data() + 3 * x;
        switch (bitCount) {
          case 32:
            out[4 * x] = p[0];
            out[4 * x + 1] = p[1];
            out[4 * x + 2] = p[2];
            break;
          case 24: std::memcpy(out + 3 * x, p, 3); break;
          case 16:
            platform::StoreLE16(out + 2 * x, static_cast<std::uint16_t>(((p[2] >> 3) << 10) |
                                                                        ((p[1] >> 3) << 5) | (p[0] >> 3)));
            break;
          case 8: out[x] = Nearest332(p); break;
          case 4: out[x / 2] |= static_cast<std::uint8_t>(NearestIndex(table, p) << (x % 2 ? 0 : 4)); break;
          case 1: out[x / 8] |= static_cast<std::uint8_t>(NearestIndex(table, p) << (7 - x % 8)); break;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    return {};
  }
  return packed;
}

// ---------------------------------------------------------------------------
// Row converters.

namespace {

// `width` pixels of blue, green, red into blue, green, red, 0; four at a time
// through 32-bit words while four are left.
void WidenRow(const std::uint8_t* in, std::uint8_t* out, std::int64_t width) {
  std::int64_t left = width;
  while (left >= 4) {
    const std::uint32_t w0 = platform::LoadLE32(in);
    const std::uint32_t w1 = platform::LoadLE32(in + 4);
    const std::uint32_t w2 = platform::LoadLE32(in + 8);
    platform::StoreLE32(out, w0 & 0x00FFFFFFu);
    platform::StoreLE32(out + 4, ((w0 >> 24) | (w1 << 8)) & 0x00FFFFFFu);
    platform::StoreLE32(out + 8, ((w1 >> 16) | (w2 << 16)) & 0x00FFFFFFu);
    platform::StoreLE32(out + 12, w2 >> 8);
    in += 12;
    out += 16;
    left -= 4;
  }
  while (left-- > 0) {
    out[0] = in[0];
    out[1] = in[1];
    out[2] = in[2];
    out[3] = 0;
    in += 3;
    out += 4;
  }
}

}  // namespace

bool ConvertRgb24ToRgb32(const ZarnTypes::TFrameBuffer& source, ZarnTypes::TFrameBuffer& destination) {
  const std::int64_t width = source.nWidth;
  const std::int64_t height = source.nHeight;
  if (!source.pBuffer || !destination.pBuffer || source.nBitsPerPixel != 24 ||
      destination.nBitsPerPixel != 32 || width <= 0 || height <= 0 || destination.nWidth < width ||
      destination.nHeight < height || source.nStride < 3 * width || destination.nStride < 4 * width)
    return false;
  // Records that state their size must hold every row they are asked for.
  if (source.nSize > 0 && (height - 1) * source.nStride + 3 * width > source.nSize) return false;
  if (destination.nSize > 0 && (height - 1) * destination.nStride + 4 * width > destination.nSize)
    return false;

  for (std::int64_t y = 0; y < height; ++y)
    WidenRow(source.pBuffer + y * source.nStride, destination.pBuffer + y * destination.nStride, width);
  return true;
}

void CopyRgb24ToRgb32Flipped(const std::uint8_t* source, std::uint8_t* destination, int width, int height) {
  if (!source || !destination || width <= 0 || height <= 0) return;
  const std::size_t inRow = static_cast<std::size_t>(width) * 3;
  const std::size_t outRow = static_cast<std::size_t>(width) * 4;
  for (int y = 0; y < height; ++y)
    WidenRow(source + static_cast<std::size_t>(y) * inRow,
             destination + static_cast<std::size_t>(height - 1 - y) * outRow, width);
}

void CopyRgb32ToRgb24Flipped(std::uint8_t* destination, const std::uint8_t* source, int width, int height) {
  if (!source || !destination || width <= 0 || height <= 0) return;
  const std::size_t inRow = static_cast<std::size_t>(width) * 4;
  const std::size_t outRow = static_cast<std::size_t>(width) * 3;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* in = source + static_cast<std::size_t>(height - 1 - y) * inRow;
    std::uint8_t* out = destination + static_cast<std::size_t>(y) * outRow;
    for (int x = 0; x < width; ++x) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
      in += 4;
      out += 3;
    }
  }
}

void PackPlanesToRgb32(const TPlanarPicture16& picture, std::uint8_t* destination) {
  if (!destination || picture.width <= 0 || picture.height <= 0 || !picture.planes[0] || !picture.planes[1] ||
      !picture.planes[2])
    return;
  const std::size_t count =
      static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height);
  const std::uint16_t* p1 = picture.planes[0];
  const std::uint16_t* p2 = picture.planes[1];
  const std::uint16_t* p3 = picture.planes[2];
  for (std::size_t i = 0; i < count; ++i) {
    destination[0] = static_cast<std::uint8_t>(p3[i] & 0xFF);
    destination[1] = static_cast<std::uint8_t>(p2[i] & 0xFF);
    destination[2] = static_cast<std::uint8_t>(p1[i] & 0xFF);
    destination[3] = 0;
    destination += 4;
  }
}

// ---------------------------------------------------------------------------
// Comparison.

namespace {

// Sum of squared differences of n bytes.
std::uint64_t SquaredDiffBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  std::uint64_t sum = 0;
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  while (n - i >= 16) {
    // Each 32-bit lane gains at most 4 x 65,025 per block: flush well before
    // it could wrap.
    const std::size_t blocks = std::min<std::size_t>((n - i) / 16, 8192);
    __m128i acc = zero;
    for (std::size_t k = 0; k < blocks; ++k, i += 16) {
      const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
      const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
      const __m128i d = _mm_or_si128(_mm_subs_epu8(va, vb), _mm_subs_epu8(vb, va));
      const __m128i lo = _mm_unpacklo_epi8(d, zero);
      const __m128i hi = _mm_unpackhi_epi8(d, zero);
      acc = _mm_add_epi32(acc, _mm_madd_epi16(lo, lo));
      acc = _mm_add_epi32(acc, _mm_madd_epi16(hi, hi));
    }
    alignas(16) std::uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), acc);
    sum += std::uint64_t{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
  }
#endif
  for (; i < n; ++i) {
    const int d = a[i] - b[i];
    sum += static_cast<std::uint64_t>(d * d);
  }
  return sum;
}

// Sum of squared differences of the first three bytes of n 4-byte pixels,
// by the kernel of the widest vector unit the processor has.
std::uint64_t SquaredDiffBgrx(const std::uint8_t* a, const std::uint8_t* b, std::size_t pixels) {
  return ImageColorConversion::detail::SquaredDiffBgrxKernel()(a, b, pixels);
}

}  // namespace

int ComputeBitmapPsnr(const TDibSection& bitmap1, const TDibSection& bitmap2, double& psnr) {
  if (!detail::IsDescribable(bitmap1) || !detail::IsDescribable(bitmap2)) return PSNR_FAILED;
  if (bitmap1.Width() != bitmap2.Width() || bitmap1.Height() != bitmap2.Height()) return PSNR_SIZE_DIFFERS;
  const int width = bitmap1.Width();
  const int height = bitmap1.Height();
  if (width == 0 || height == 0) return PSNR_IDENTICAL;

  std::uint64_t sum = 0;
  if (detail::IsPlainBgrx(bitmap1) && detail::IsPlainBgrx(bitmap2)) {
    if (bitmap1.TopDown() == bitmap2.TopDown()) {
      // Rows of 4 x width bytes, unpadded, stored in the same order: one run
      // over both pictures in memory order.
      sum = SquaredDiffBgrx(bitmap1.bits.data(), bitmap2.bits.data(),
                            static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    } else {
      for (int y = 0; y < height; ++y)
        sum += SquaredDiffBgrx(bitmap1.RowFromTop(y), bitmap2.RowFromTop(y), static_cast<std::size_t>(width));
    }
  } else if (bitmap1.BitCount() == 24 && bitmap2.BitCount() == 24) {
    for (int y = 0; y < height; ++y)
      sum +=
          SquaredDiffBytes(bitmap1.RowFromTop(y), bitmap2.RowFromTop(y), static_cast<std::size_t>(width) * 3);
  } else {
    std::vector<std::uint8_t> row1(static_cast<std::size_t>(width) * 3);
    std::vector<std::uint8_t> row2(row1.size());
    for (int y = 0; y < height; ++y) {
      detail::ReadRowBgr(bitmap1, y, row1.data());
      detail::ReadRowBgr(bitmap2, y, row2.data());
      sum += SquaredDiffBytes(row1.data(), row2.data(), row1.size());
    }
  }
  if (sum == 0) return PSNR_IDENTICAL;
  const double mse =
      static_cast<double>(sum) / (static_cast<double>(width) * static_cast<double>(height) * 3.0);
  psnr = 20.0 * std::log10(255.0 / std::sqrt(mse));
  return PSNR_OK;
}

}  // namespace Dib
