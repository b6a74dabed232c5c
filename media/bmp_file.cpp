// .bmp files: the writers of the three in-memory forms (header with separate
// rows, packed DIB, DIB section) and the validating reader.

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>

#include "media/atomic_file.h"
#include "media/dib.h"
#include "media/dib_detail.h"
#include "platform/byte_order.h"
#include "platform/message_sink.h"

namespace Dib {

using detail::CheckedAdd;
using detail::CheckedMul;

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kInfoHeaderBytes = 40;
constexpr std::uint16_t kBmpSignature = 0x4D42;  // "BM"

// The 14-byte file header: signature, file size, two reserved words and
// the offset of the pixel rows.
void WriteFileHeader(platform::TByteWriter& w, std::uint32_t fileSize, std::uint32_t bitsOffset) {
  w.U16(kBmpSignature);
  w.U32(fileSize);
  w.U16(0);
  w.U16(0);
  w.U32(bitsOffset);
}

bool IsBmpDepth(unsigned bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// A contiguous run of bits that fits in a pixel of `bits` bits.
bool IsValidMask(std::uint32_t mask, unsigned bits) {
  if (mask == 0) return false;
  if (bits < 32 && (mask >> bits) != 0) return false;
  const std::uint32_t shifted = mask >> std::countr_zero(mask);
  return (shifted & (shifted + 1)) == 0;
}

bool AreValidMasks(const std::array<std::uint32_t, 3>& masks, unsigned bits) {
  for (std::uint32_t m : masks)
    if (!IsValidMask(m, bits)) return false;
  return (masks[0] & masks[1]) == 0 && (masks[0] & masks[2]) == 0 && (masks[1] & masks[2]) == 0;
}

std::array<std::uint32_t, 3> DefaultMasks(unsigned bits) {
  if (bits == 16) return {kMask555Red, kMask555Green, kMask555Blue};
  return {0x00FF0000u, 0x0000FF00u, 0x000000FFu};
}

// ---------------------------------------------------------------------------
// Writing.

// What precedes the rows in a file: file header, 40-byte header, masks and
// colour table, with the header made consistent with what is written.
struct TBmpPrefix {
  std::vector<std::uint8_t> bytes;
  std::size_t imageBytes = 0;  // rows the header describes
};

// `bitsCount` is the number of row bytes that will follow (SIZE_MAX: exactly
// the rows the header describes). False when the header cannot be written as
// a .bmp file or the file would exceed 4 GiB.
bool BuildPrefix(const TBitmapInfo& info, std::size_t bitsCount, TBmpPrefix& out) {
  TBitmapInfoHeader h = info.header;
  const unsigned bits = h.biBitCount;
  if (!IsBmpDepth(bits) || h.biPlanes != 1 || h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN)
    return false;

  std::uint64_t imageBytes = 0;
  std::array<std::uint32_t, 3> masks = info.masks;
  switch (h.biCompression) {
    case BI_RGB:
    case BI_BITFIELDS: {
      if (h.biCompression == BI_BITFIELDS) {
        if (bits != 16 && bits != 32) return false;
        if (masks == std::array<std::uint32_t, 3>{}) masks = DefaultMasks(bits);
        if (!AreValidMasks(masks, bits)) return false;
      }
      std::uint64_t stride = 0;
      const std::int64_t rows = h.biHeight < 0 ? -std::int64_t{h.biHeight} : h.biHeight;
      if (!detail::RowsBytes(h.biWidth, rows, bits, stride, imageBytes)) return false;
      break;
    }
    case BI_RLE8:
    case BI_RLE4:
      if (bits != (h.biCompression == BI_RLE8 ? 8u : 4u) || h.biHeight < 0 || h.biSizeImage == 0)
        return false;
      imageBytes = h.biSizeImage;
      break;
    default: return false;
  }
  if (imageBytes > UINT32_MAX) return false;

  // The table written, and a colours-used field that counts exactly it.
  std::vector<TRgbQuad> table;
  if (bits <= 8) {
    const std::size_t full = std::size_t{1} << bits;
    const std::size_t entries = h.biClrUsed >= 1 && h.biClrUsed <= full ? h.biClrUsed : full;
    table = detail::FixedColorTable(static_cast<int>(bits));
    table.resize(entries);
    std::copy_n(info.colorTable.begin(), std::min(entries, info.colorTable.size()), table.begin());
    h.biClrUsed = h.biClrUsed == 0 ? 0 : static_cast<std::uint32_t>(entries);
  } else {
    const std::size_t entries =
        std::min<std::size_t>({h.biClrUsed, info.colorTable.size(), std::size_t{256}});
    table.assign(info.colorTable.begin(), info.colorTable.begin() + static_cast<std::ptrdiff_t>(entries));
    h.biClrUsed = static_cast<std::uint32_t>(entries);
  }
  if (h.biClrImportant > (h.biClrUsed ? h.biClrUsed : table.size())) h.biClrImportant = 0;
  h.biSize = kInfoHeaderBytes;
  h.biSizeImage = static_cast<std::uint32_t>(imageBytes);

  const bool withMasks = h.biCompression == BI_BITFIELDS;
  const std::uint64_t offset = kFileHeaderBytes + kInfoHeaderBytes + (withMasks ? 12 : 0) + 4 * table.size();
  const std::uint64_t written = bitsCount == SIZE_MAX ? imageBytes : bitsCount;
  if (written < imageBytes) return false;
  std::uint64_t fileSize = 0;
  if (!CheckedAdd(offset, written, fileSize) || fileSize > UINT32_MAX) return false;

  out.bytes.clear();
  out.bytes.reserve(static_cast<std::size_t>(offset));
  platform::TByteWriter w(out.bytes);
  WriteFileHeader(w, static_cast<std::uint32_t>(fileSize), static_cast<std::uint32_t>(offset));
  detail::WriteInfoHeader(w, h);
  if (withMasks)
    for (std::uint32_t m : masks) w.U32(m);
  detail::WriteColorTable(w, table);
  out.imageBytes = static_cast<std::size_t>(imageBytes);
  return true;
}

// A file being written: the rows go to a temporary file that replaces the
// target only when all of it was written, so a failed write leaves no file
// and an existing file of that name as it was.
class TOutFile {
 public:
  explicit TOutFile(const std::filesystem::path& path) : m_file(path) {}
  TOutFile(const TOutFile&) = delete;
  TOutFile& operator=(const TOutFile&) = delete;

  bool IsOpen() const { return m_file.IsOpen(); }
  std::FILE* Get() const { return m_file.Get(); }
  bool Write(const void* data, std::size_t n) { return m_file.Write(data, n); }
  // Completes the file; false when any of it could not be written (nothing
  // is left behind then).
  bool Close() { return m_file.Commit(); }

 private:
  AtomicFile::CAtomicFile m_file;
};

// ---------------------------------------------------------------------------
// Reading.

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

std::string Format(const char* format, auto... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

// Where everything of a DIB lies in the data, checked against its size.
struct TLayout {
  TBitmapInfoHeader h;  // a core header is widened into these fields
  bool core = false;
  std::array<std::uint32_t, 3> masks{};
  std::size_t tableStart = 0;
  std::size_t tableEntries = 0;  // entries stored in the data
  std::size_t entryBytes = 4;
  std::size_t bitsStart = 0;
  std::size_t bitsBytes = 0;  // bytes of row data (coded data for RLE)
  std::uint64_t stride = 0;
  std::uint64_t imageBytes = 0;  // decoded rows
  std::int64_t rows = 0;
  bool topDown = false;
};

// `bitsOffset`: the file header's offset of the rows (0: directly after the
// table); `packed`: the data is a packed DIB without a file header.
bool ParseLayout(const std::uint8_t* data, std::size_t size, std::size_t dibStart, std::uint64_t bitsOffset,
                 const TBmpReadOptions& options, TLayout& L, std::string* error) {
  if (size < dibStart || size - dibStart < 4) return Fail(error, "the file ends before the bitmap header");
  platform::TByteReader r(data + dibStart, size - dibStart);
  const std::uint32_t headerSize = r.U32();
  if (headerSize != 12 && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
      headerSize != 124)
    return Fail(error, Format("unsupported bitmap header size %" PRIu32, headerSize));
  if (size - dibStart < headerSize)
    return Fail(error, Format("the file ends inside the %" PRIu32 "-byte bitmap header", headerSize));

  TBitmapInfoHeader& h = L.h;
  h.biSize = headerSize;
  if (headerSize == 12) {
    L.core = true;
    h.biWidth = r.U16();
    h.biHeight = r.U16();
    h.biPlanes = r.U16();
    h.biBitCount = r.U16();
    h.biCompression = BI_RGB;
  } else {
    h.biWidth = r.I32();
    h.biHeight = r.I32();
    h.biPlanes = r.U16();
    h.biBitCount = r.U16();
    h.biCompression = r.U32();
    h.biSizeImage = r.U32();
    h.biXPelsPerMeter = r.I32();
    h.biYPelsPerMeter = r.I32();
    h.biClrUsed = r.U32();
    h.biClrImportant = r.U32();
    if (headerSize >= 52) L.masks = {r.U32(), r.U32(), r.U32()};
  }

  const unsigned bits = h.biBitCount;
  if (h.biPlanes != 1) return Fail(error, Format("%u colour planes (must be 1)", unsigned{h.biPlanes}));
  // Besides the depths it writes, the reader takes uncompressed 48-bit
  // pictures (16-bit blue, green, red samples), which come in format 29.
  const bool readable = IsBmpDepth(bits) || (bits == 48 && h.biCompression == BI_RGB);
  if (!readable || (L.core && (bits == 16 || bits == 32 || bits == 48)))
    return Fail(error, Format("unsupported depth of %u bits per pixel", bits));
  if (h.biWidth <= 0) return Fail(error, Format("invalid width %" PRId32, h.biWidth));
  if (h.biHeight == 0 || h.biHeight == INT32_MIN)
    return Fail(error, Format("invalid height %" PRId32, h.biHeight));
  L.topDown = h.biHeight < 0;
  L.rows = L.topDown ? -std::int64_t{h.biHeight} : h.biHeight;

  std::size_t masksBytes = 0;
  switch (h.biCompression) {
    case BI_RGB:
      if (bits == 16 || bits == 32) L.masks = DefaultMasks(bits);
      break;
    case BI_RLE8:
    case BI_RLE4:
      if (bits != (h.biCompression == BI_RLE8 ? 8u : 4u))
        return Fail(error, Format("run-length compression %" PRIu32 " with %u bits per pixel",
                                  h.biCompression, bits));
      if (L.topDown) return Fail(error, "a run-length coded picture cannot be top-down");
      break;
    case BI_BITFIELDS:
      if (bits != 16 && bits != 32)
        return Fail(error, Format("bit-field compression with %u bits per pixel", bits));
      if (headerSize == 40) {
        masksBytes = 12;
        if (size - dibStart - headerSize < masksBytes)
          return Fail(error, "the file ends inside the bit-field masks");
        platform::TByteReader m(data + dibStart + headerSize, masksBytes);
        L.masks = {m.U32(), m.U32(), m.U32()};
      }
      if (!AreValidMasks(L.masks, bits))
        return Fail(error, Format("invalid bit-field masks %08" PRIX32 ", %08" PRIX32 ", %08" PRIX32,
                                  L.masks[0], L.masks[1], L.masks[2]));
      break;
    default: return Fail(error, Format("unsupported compression %" PRIu32, h.biCompression));
  }

  // Colour table: a palette for 8 bits or fewer, an optional display hint
  // above (skipped, but it must lie inside the data).
  L.entryBytes = L.core ? 3 : 4;
  if (bits <= 8) {
    const std::size_t full = std::size_t{1} << bits;
    if (h.biClrUsed > full)
      return Fail(error,
                  Format("a colour table of %" PRIu32 " entries for %u-bit pixels", h.biClrUsed, bits));
    L.tableEntries = h.biClrUsed ? h.biClrUsed : full;
  } else {
    L.tableEntries = h.biClrUsed;
  }
  L.tableStart = dibStart + headerSize + masksBytes;
  std::uint64_t tableEnd = 0;
  if (!CheckedMul(L.tableEntries, L.entryBytes, tableEnd) || !CheckedAdd(tableEnd, L.tableStart, tableEnd) ||
      tableEnd > size)
    return Fail(error,
                Format("the colour table of %zu entries runs past the end of the data", L.tableEntries));

  if (bitsOffset == 0) bitsOffset = tableEnd;
  if (bitsOffset < tableEnd)
    return Fail(error,
                Format("the pixel data offset %" PRIu64 " lies inside the headers (which end at %" PRIu64 ")",
                       bitsOffset, tableEnd));
  if (bitsOffset > size)
    return Fail(error, Format("the pixel data offset %" PRIu64 " lies beyond the end of the data (%zu bytes)",
                              bitsOffset, size));
  L.bitsStart = static_cast<std::size_t>(bitsOffset);
  const std::size_t available = size - L.bitsStart;

  if (!detail::RowsBytes(h.biWidth, L.rows, bits, L.stride, L.imageBytes) ||
      L.imageBytes > options.maxBitsBytes)
    return Fail(error, Format("a picture of %" PRId32 " x %" PRId64 " pixels at %u bits is too large",
                              h.biWidth, L.rows, bits));
  if (h.biSizeImage > available)
    return Fail(error, Format("the image size field (%" PRIu32 " bytes) exceeds the %zu bytes of pixel data",
                              h.biSizeImage, available));
  if (h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4) {
    L.bitsBytes = h.biSizeImage ? h.biSizeImage : available;
  } else {
    if (L.imageBytes > available)
      return Fail(error,
                  Format("the pixel data is truncated: %zu of %" PRIu64 " bytes", available, L.imageBytes));
    L.bitsBytes = static_cast<std::size_t>(L.imageBytes);
  }
  return true;
}

// Expands RLE8 or RLE4 data into zeroed bottom-up rows. Every run, delta and
// literal is checked against the picture and the data.
bool DecodeRle(const std::uint8_t* p, std::size_t n, unsigned bits, std::int64_t width, std::int64_t height,
               std::size_t stride, std::uint8_t* out, std::string* error) {
  auto put = [&](std::int64_t x, std::int64_t y, unsigned index) {
    std::uint8_t* row = out + static_cast<std::size_t>(y) * stride;
    if (bits == 8)
      row[x] = static_cast<std::uint8_t>(index);
    else
      row[x / 2] |= static_cast<std::uint8_t>((x % 2) ? index & 15 : (index & 15) << 4);
  };
  std::size_t i = 0;
  std::int64_t x = 0, y = 0;
  while (i < n) {  // data that ends at a code boundary ends the picture
    if (n - i < 2) return Fail(error, "the run-length data is truncated");
    const unsigned count = p[i];
    const unsigned value = p[i + 1];
    i += 2;
    if (count > 0) {
      if (y >= height) return Fail(error, "a run-length run lies past the last row");
      if (x + count > width) return Fail(error, "a run-length run lies past the end of a row");
      for (unsigned k = 0; k < count; ++k)
        put(x + k, y, bits == 8 ? value : (k % 2 ? value & 15 : value >> 4));
      x += count;
      continue;
    }
    switch (value) {
      case 0:  // end of line
        x = 0;
        if (++y > height) return Fail(error, "run-length data continues past the last row");
        break;
      case 1:  // end of picture
        return true;
      case 2: {  // delta
        if (n - i < 2) return Fail(error, "the run-length data is truncated");
        x += p[i];
        y += p[i + 1];
        i += 2;
        if (x > width || y > height) return Fail(error, "a run-length delta moves outside the picture");
        break;
      }
      default: {  // literal pixels, padded to a 16-bit boundary
        const std::size_t bytes = bits == 8 ? value : (value + 1) / 2;
        if (n - i < bytes) return Fail(error, "the run-length data is truncated");
        if (y >= height) return Fail(error, "run-length pixels lie past the last row");
        if (x + value > width) return Fail(error, "run-length pixels lie past the end of a row");
        for (unsigned k = 0; k < value; ++k) {
          const unsigned byte = p[i + (bits == 8 ? k : k / 2)];
          put(x + k, y, bits == 8 ? byte : (k % 2 ? byte & 15 : byte >> 4));
        }
        x += value;
        i += std::min(n - i, bytes + (bytes & 1));
        break;
      }
    }
  }
  return true;
}

bool ReadDib(const std::uint8_t* data, std::size_t size, std::size_t dibStart, std::uint64_t bitsOffset,
             TDibSection& section, std::string* error, const TBmpReadOptions& options) {
  TLayout L;
  if (!ParseLayout(data, size, dibStart, bitsOffset, options, L, error)) return false;
  const TBitmapInfoHeader& in = L.h;
  const unsigned bits = in.biBitCount;

  TDibSection result;
  TBitmapInfoHeader& h = result.header;
  h.biSize = kInfoHeaderBytes;
  h.biWidth = in.biWidth;
  h.biHeight = static_cast<std::int32_t>(L.rows);
  h.biPlanes = 1;
  h.biBitCount = static_cast<std::uint16_t>(bits);
  h.biCompression = bits == 16 ? BI_BITFIELDS : BI_RGB;
  h.biSizeImage = static_cast<std::uint32_t>(L.imageBytes);
  h.biXPelsPerMeter = in.biXPelsPerMeter;
  h.biYPelsPerMeter = in.biYPelsPerMeter;
  if (bits == 16) result.masks = L.masks;

  if (bits <= 8) {
    // The section always carries the whole table so that every index has a
    // colour; entries the file lacks are black.
    const std::size_t full = std::size_t{1} << bits;
    result.colorTable.assign(full, TRgbQuad{});
    const std::uint8_t* t = data + L.tableStart;
    for (std::size_t i = 0; i < L.tableEntries; ++i, t += L.entryBytes)
      result.colorTable[i] = TRgbQuad{t[0], t[1], t[2], 0};
    h.biClrUsed = in.biClrUsed == 0 ? 0 : static_cast<std::uint32_t>(full);
    h.biClrImportant = in.biClrImportant <= full ? in.biClrImportant : 0;
  }

  try {
    result.bits.assign(static_cast<std::size_t>(L.imageBytes), 0);
  } catch (const std::bad_alloc&) {
    return Fail(error, "not enough memory for the picture");
  }
  const std::uint8_t* src = data + L.bitsStart;
  const std::size_t stride = static_cast<std::size_t>(L.stride);

  if (in.biCompression == BI_RLE8 || in.biCompression == BI_RLE4) {
    if (!DecodeRle(src, L.bitsBytes, bits, in.biWidth, L.rows, stride, result.bits.data(), error))
      return false;
  } else if (bits == 32 && L.masks != DefaultMasks(32)) {
    for (std::int64_t row = 0; row < L.rows; ++row) {
      const std::uint8_t* s = src + static_cast<std::size_t>(row) * stride;
      const std::int64_t stored = L.topDown ? L.rows - 1 - row : row;
      std::uint8_t* d = result.bits.data() + static_cast<std::size_t>(stored) * stride;
      for (std::int32_t x = 0; x < in.biWidth; ++x) {
        const std::uint32_t px = platform::LoadLE32(s + 4 * x);
        d[4 * x] = detail::MaskedTo8(px, L.masks[2]);
        d[4 * x + 1] = detail::MaskedTo8(px, L.masks[1]);
        d[4 * x + 2] = detail::MaskedTo8(px, L.masks[0]);
        d[4 * x + 3] = 0;
      }
    }
  } else if (!L.topDown) {
    std::memcpy(result.bits.data(), src, static_cast<std::size_t>(L.imageBytes));
  } else {
    for (std::int64_t row = 0; row < L.rows; ++row)
      std::memcpy(result.bits.data() + static_cast<std::size_t>(L.rows - 1 - row) * stride,
                  src + static_cast<std::size_t>(row) * stride, stride);
  }
  section = std::move(result);
  return true;
}

// The layout of a packed DIB for the writers: bytes of header, masks and
// table, checked against the block.
bool PackedPrefixBytes(const std::vector<std::uint8_t>& packed, std::size_t& prefix) {
  TLayout L;
  TBmpReadOptions unlimited;
  unlimited.maxBitsBytes = SIZE_MAX;
  if (!ParseLayout(packed.data(), packed.size(), 0, 0, unlimited, L, nullptr)) return false;
  prefix = L.bitsStart;
  return true;
}

bool WritePackedDib(const std::filesystem::path& path, const std::vector<std::uint8_t>& packed) {
  std::size_t prefix = 0;
  if (packed.empty() || !PackedPrefixBytes(packed, prefix)) return false;
  const std::uint64_t fileSize = std::uint64_t{packed.size()} + kFileHeaderBytes;
  if (fileSize > UINT32_MAX) return false;
  std::vector<std::uint8_t> header;
  platform::TByteWriter w(header);
  WriteFileHeader(w, static_cast<std::uint32_t>(fileSize),
                  static_cast<std::uint32_t>(kFileHeaderBytes + prefix));
  TOutFile file(path);
  if (!file.IsOpen()) return false;
  if (!file.Write(header.data(), header.size())) return false;
  if (WriteFileChunked(file.Get(), packed.data(), packed.size()) != packed.size()) return false;
  return file.Close();
}

}  // namespace

// ---------------------------------------------------------------------------
// Writers.

bool WriteBmpFile(const std::filesystem::path& path, const TBitmapInfo& info, const std::uint8_t* bits) {
  TBmpPrefix prefix;
  if (!bits || !BuildPrefix(info, SIZE_MAX, prefix)) return false;
  TOutFile file(path);
  if (!file.IsOpen()) {
    platform::ShowMessage("CreateFile error");
    return false;
  }
  if (!file.Write(prefix.bytes.data(), prefix.bytes.size()) || !file.Write(bits, prefix.imageBytes)) {
    platform::ShowMessage("WriteFile error");
    return false;
  }
  if (!file.Close()) {
    platform::ShowMessage("CloseHandle error");
    return false;
  }
  return true;
}

bool SaveDibToBmpFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& packedDib) {
  return WritePackedDib(path, packedDib);
}

bool WriteGlobalDibFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& packedDib) {
  return WritePackedDib(path, packedDib);
}

std::size_t WriteFileChunked(std::FILE* file, const void* data, std::size_t count) {
  constexpr std::size_t kChunk = 32768;
  if (!file || (!data && count)) return 0;
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::size_t left = count;
  while (left > kChunk) {
    if (std::fwrite(p, 1, kChunk, file) != kChunk) return 0;
    p += kChunk;
    left -= kChunk;
  }
  if (left && std::fwrite(p, 1, left, file) != left) return 0;
  return count;
}

bool EncodeBmpFile(const TDibSection& section, std::vector<std::uint8_t>& file) {
  if (!detail::IsDescribable(section)) return false;
  TBmpPrefix prefix;
  if (!BuildPrefix(GetDibSectionInfo(section), SIZE_MAX, prefix)) return false;
  if (prefix.imageBytes > section.bits.size()) return false;
  try {
    file = std::move(prefix.bytes);
    file.insert(file.end(), section.bits.begin(),
                section.bits.begin() + static_cast<std::ptrdiff_t>(prefix.imageBytes));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool SaveDibSectionToBmpFile(const std::filesystem::path& path, const TDibSection& section) {
  if (!detail::IsDescribable(section)) return false;
  TBmpPrefix prefix;
  if (!BuildPrefix(GetDibSectionInfo(section), SIZE_MAX, prefix) || prefix.imageBytes > section.bits.size())
    return false;
  TOutFile file(path);
  if (!file.IsOpen()) return false;
  if (!file.Write(prefix.bytes.data(), prefix.bytes.size()) ||
      !file.Write(section.bits.data(), prefix.imageBytes))
    return false;
  return file.Close();
}

bool WriteDibBitsFile(const std::filesystem::path& path, const TBitmapInfoHeader* header,
                      const std::uint8_t* bits, std::size_t count, const std::vector<TRgbQuad>* colorTable) {
  if (!header || !bits || count == 0) return true;
  TBitmapInfo info;
  info.header = *header;
  if (colorTable) info.colorTable = *colorTable;
  TBmpPrefix prefix;
  if (!BuildPrefix(info, count, prefix)) return false;
  TOutFile file(path);
  if (!file.IsOpen()) return false;
  if (!file.Write(prefix.bytes.data(), prefix.bytes.size()) || !file.Write(bits, count)) return false;
  return file.Close();
}

// ---------------------------------------------------------------------------
// Reading.

bool ReadBmpMemory(const std::uint8_t* data, std::size_t size, TDibSection& section, std::string* error,
                   const TBmpReadOptions& options) {
  if (!data || size < kFileHeaderBytes) return Fail(error, "the file is too short for a BMP file header");
  if (platform::LoadLE16(data) != kBmpSignature) return Fail(error, "not a BMP file (no \"BM\" signature)");
  const std::uint32_t bitsOffset = platform::LoadLE32(data + 10);
  return ReadDib(data, size, kFileHeaderBytes, bitsOffset, section, error, options);
}

bool ReadPackedDib(const std::uint8_t* data, std::size_t size, TDibSection& section, std::string* error,
                   const TBmpReadOptions& options) {
  if (!data) return Fail(error, "no data");
  return ReadDib(data, size, 0, 0, section, error, options);
}

bool ReadBmpFile(const std::filesystem::path& path, TDibSection& section, std::string* error,
                 const TBmpReadOptions& options) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return Fail(error, "cannot open the file");
  const std::uintmax_t length = std::filesystem::file_size(path, ec);
  if (ec) return Fail(error, "cannot open the file");
  // The largest sensible file: the rows plus headers and a full hint table.
  if (length > std::uint64_t{options.maxBitsBytes} + (std::uint64_t{1} << 24))
    return Fail(error, "the file is too large for a picture");
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return Fail(error, "cannot open the file");
  std::vector<std::uint8_t> bytes;
  bool ok = true;
  try {
    bytes.resize(static_cast<std::size_t>(length));
    ok = length == 0 || std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  std::fclose(file);
  if (!ok) return Fail(error, "cannot read the file");
  return ReadBmpMemory(bytes.data(), bytes.size(), section, error, options);
}

bool LoadBitmapFileWithPalette(const std::filesystem::path& path, TDibPtr& bitmap,
                               std::unique_ptr<TPalette>* palette, std::string* error) {
  auto loaded = std::make_unique<TDibSection>();
  if (!ReadBmpFile(path, *loaded, error)) return false;
  if (palette && loaded->BitCount() <= 8) {
    auto built = std::make_unique<TPalette>();
    built->version = 0x300;
    const std::size_t entries =
        loaded->header.biClrUsed ? loaded->header.biClrUsed : std::size_t{1} << loaded->BitCount();
    for (std::size_t i = 0; i < entries && i < loaded->colorTable.size(); ++i) {
      const TRgbQuad& q = loaded->colorTable[i];
      built->entries.push_back(TPaletteEntry{q.rgbRed, q.rgbGreen, q.rgbBlue, 0});
    }
    *palette = std::move(built);
  }
  bitmap = std::move(loaded);
  return true;
}

}  // namespace Dib
