#include "io/codecs/gif_mgr.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "io/codecs/codec_common.h"
#include "io/codecs/quantizer.h"
#include "media/frame_buffer.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace GifMgr {

using namespace ZarnTypes;

namespace {

// The largest picture side a GIF can store.
constexpr int kMaxGifSide = 0xFFFF;

// ---------------------------------------------------------------------------
// Reading

struct TMemoryInput {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t position = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int length) {
  auto* input = static_cast<TMemoryInput*>(gif->UserData);
  if (length <= 0 || input->position >= input->size) return 0;
  const std::size_t n = std::min(static_cast<std::size_t>(length), input->size - input->position);
  std::memcpy(buffer, input->data + input->position, n);
  input->position += n;
  return static_cast<int>(n);
}

// Closes the library's handle when it goes out of scope, unless closed first.
class TGifReadHandle {
 public:
  explicit TGifReadHandle(GifFileType* gif) : m_gif(gif) {}
  ~TGifReadHandle() { Close(); }
  TGifReadHandle(const TGifReadHandle&) = delete;
  TGifReadHandle& operator=(const TGifReadHandle&) = delete;
  GifFileType* Get() const { return m_gif; }
  bool Close() {
    if (!m_gif) return true;
    int error = 0;
    const bool ok = DGifCloseFile(m_gif, &error) == GIF_OK;
    m_gif = nullptr;
    return ok;
  }

 private:
  GifFileType* m_gif;
};

// Reads (and drops) an extension's sub-blocks.
bool SkipExtension(GifFileType* gif) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
  while (block != nullptr) {
    if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
  }
  return true;
}

// Reads (and drops) the compressed data of the current image.
bool SkipImageData(GifFileType* gif) {
  int codeSize = 0;
  GifByteType* block = nullptr;
  if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR) return false;
  while (block != nullptr) {
    if (DGifGetCodeNext(gif, &block) == GIF_ERROR) return false;
  }
  return true;
}

// The 4-byte pixel of screen row y (counted from the top), column x.
inline std::uint8_t* PixelAt(const TFrameBuffer& frame, int x, int y) {
  return frame.pBuffer + static_cast<std::size_t>(frame.nHeight - 1 - y) * frame.nStride +
         static_cast<std::size_t>(x) * 4;
}

inline void PutColour(std::uint8_t* p, const GifColorType& c) {
  p[0] = c.Blue;
  p[1] = c.Green;
  p[2] = c.Red;
}

// Decodes an opened GIF into the request's frame buffer.
bool DecodeGif(GifFileType* gif, TMediaRequest& request) {
  if (request.pFrameBuffer == nullptr || request.ePixelFormat != PF_RGB32) return false;
  const int width = gif->SWidth;
  const int height = gif->SHeight;
  if (width <= 0 || height <= 0) return false;

  bool haveFirst = false;
  int imageCount = 0;
  TFrameBuffer& frame = *request.pFrameBuffer;

  for (;;) {
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &record) == GIF_ERROR) return false;
    if (record == TERMINATE_RECORD_TYPE) break;
    if (record == EXTENSION_RECORD_TYPE) {
      if (!SkipExtension(gif)) return false;
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) return false;
    if (DGifGetImageDesc(gif) == GIF_ERROR) return false;
    ++imageCount;
    if (haveFirst) {
      if (!SkipImageData(gif)) return false;
      continue;
    }
    haveFirst = true;

    // The first image's own colours, else the file's.
    const GifImageDesc& desc = gif->Image;
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (map == nullptr || map->Colors == nullptr || map->ColorCount <= 0) return false;

    // A new buffer carries no producer's flag.
    if (!Codecs::PrepareFrame(&frame, PF_RGB32, width, height, 0)) return false;

    // Screen pixels outside the image: the background colour.
    GifColorType background{0, 0, 0};
    if (gif->SColorMap && gif->SColorMap->Colors && gif->SBackGroundColor >= 0 &&
        gif->SBackGroundColor < gif->SColorMap->ColorCount) {
      background = gif->SColorMap->Colors[gif->SBackGroundColor];
    }
    const int left = desc.Left, top = desc.Top, imageWidth = desc.Width, imageHeight = desc.Height;
    const bool coversScreen = left == 0 && top == 0 && imageWidth >= width && imageHeight >= height;
    if (!coversScreen) {
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) PutColour(PixelAt(frame, x, y), background);
    }

    if (imageWidth <= 0 || imageHeight <= 0) {
      if (!SkipImageData(gif)) return false;
      continue;
    }

    // Rows arrive in stored order; interlaced images in four passes.
    std::vector<GifPixelType> row(static_cast<std::size_t>(imageWidth));
    const int firstX = std::clamp(left, 0, width);
    const int lastX = std::clamp(left + imageWidth, 0, width);  // one past
    const GifColorType black{0, 0, 0};
    auto storeRow = [&](int j) {
      const int y = top + j;
      if (y < 0 || y >= height) return;
      for (int x = firstX; x < lastX; ++x) {
        const int index = row[static_cast<std::size_t>(x - left)];
        PutColour(PixelAt(frame, x, y), index < map->ColorCount ? map->Colors[index] : black);
      }
    };
    if (desc.Interlace) {
      static const int kOffset[4] = {0, 4, 2, 1};
      static const int kJump[4] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass) {
        for (int j = kOffset[pass]; j < imageHeight; j += kJump[pass]) {
          if (DGifGetLine(gif, row.data(), imageWidth) == GIF_ERROR) return false;
          storeRow(j);
        }
      }
    } else {
      for (int j = 0; j < imageHeight; ++j) {
        if (DGifGetLine(gif, row.data(), imageWidth) == GIF_ERROR) return false;
        storeRow(j);
      }
    }
  }
  if (!haveFirst) return false;

  Codecs::DescribeFrame(request, frame);
  if (request.pResults != nullptr) {
    auto* results = static_cast<std::uint8_t*>(request.pResults);
    const std::int32_t count = imageCount;
    std::memcpy(results + kResultImageCount * sizeof(std::int32_t), &count, sizeof count);
    if (gif->SColorMap != nullptr) {
      const std::int32_t bits = gif->SColorMap->BitsPerPixel;
      std::memcpy(results + kResultGlobalBitsPerPixel * sizeof(std::int32_t), &bits, sizeof bits);
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Writing

int WriteToMemory(GifFileType* gif, const GifByteType* data, int length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
  if (length <= 0) return 0;
  out->insert(out->end(), data, data + length);
  return length;
}

// Encodes the palette section into `out`; false on any failure.
bool EncodeGif(const Dib::TDibSection& section, std::vector<std::uint8_t>& out) {
  const int bits = section.BitCount();
  if (bits != 1 && bits != 4 && bits != 8) return false;
  if (section.colorTable.empty()) return false;
  const int width = section.Width();
  const int height = section.Height();
  if (width > kMaxGifSide || height > kMaxGifSide) return false;

  const int entries = 1 << bits;
  std::vector<GifColorType> colours(static_cast<std::size_t>(entries), GifColorType{0, 0, 0});
  const std::size_t known = std::min(section.colorTable.size(), colours.size());
  for (std::size_t i = 0; i < known; ++i) {
    colours[i].Red = section.colorTable[i].rgbRed;
    colours[i].Green = section.colorTable[i].rgbGreen;
    colours[i].Blue = section.colorTable[i].rgbBlue;
  }
  ColorMapObject* map = GifMakeMapObject(entries, colours.data());
  if (map == nullptr) return false;

  // Pixel indices, top row first, unpacked from the high bits of each byte.
  std::vector<GifPixelType> indices(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  const unsigned mask = (1u << bits) - 1u;
  const int perByte = 8 / bits;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = section.RowFromTop(y);
    GifPixelType* dst = indices.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    for (int x = 0; x < width; ++x) {
      const std::uint8_t byte = row[x / perByte];
      const int shift = 8 - bits * (x % perByte + 1);
      dst[x] = static_cast<GifPixelType>((byte >> shift) & mask);
    }
  }

  int error = 0;
  GifFileType* gif = EGifOpen(&out, WriteToMemory, &error);
  if (gif == nullptr) {
    GifFreeMapObject(map);
    return false;
  }
  bool ok = EGifPutScreenDesc(gif, width, height, bits, 0, map) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
  for (int y = 0; ok && y < height; ++y) {
    ok = EGifPutLine(gif, indices.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width),
                     width) == GIF_OK;
  }
  if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
  GifFreeMapObject(map);
  return ok;
}

}  // namespace

bool CGifMgr::ReadGif(TMediaRequest& request) {
  if (request.pPath == nullptr || request.eTag != MEDIA_REQ_NONE)
    return FailRequest(request, MEDIA_ERR_READ_GIF);
  std::vector<std::uint8_t> bytes;
  // Only a regular file is read (a FIFO named x.gif would block the reader).
  if (!Codecs::ReadRegularFile(*request.pPath, bytes, static_cast<std::uint64_t>(kMaxFrameBufferBytes)))
    return FailRequest(request, MEDIA_ERR_READ_GIF);
  return ReadGifMemory(bytes.data(), bytes.size(), request);
}

bool CGifMgr::ReadGifMemory(const std::uint8_t* data, std::size_t size, TMediaRequest& request) {
  if (data == nullptr || size == 0 || request.eTag != MEDIA_REQ_NONE)
    return FailRequest(request, MEDIA_ERR_READ_GIF);
  TMemoryInput input{data, size, 0};
  int error = 0;
  TGifReadHandle handle(DGifOpen(&input, ReadFromMemory, &error));
  if (handle.Get() == nullptr) return FailRequest(request, MEDIA_ERR_READ_GIF);
  const bool decoded = DecodeGif(handle.Get(), request);
  const bool closed = handle.Close();
  if (!decoded || !closed) return FailRequest(request, MEDIA_ERR_READ_GIF);
  return SucceedRequest(request);
}

bool CGifMgr::SaveGif(const std::string& path, std::int32_t eFileFormat, const TGifSettings& settings,
                      const Dib::TDibSection& bitmap) {
  if (!Codecs::SectionHoldsRows(bitmap)) return false;
  const int bitCount = bitmap.BitCount();
  if (bitCount != 24 && bitCount != 32) return false;
  const int depth = settings.nBitDepth;
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8) return false;
  const int width = bitmap.Width();
  const int height = bitmap.Height();

  // A 24-bit picture is widened to 32 bits first.
  Dib::TDibPtr wide;
  if (bitCount == 24) {
    wide = Codecs::WidenToRgb32(bitmap);
    if (!wide) return false;
  }
  const Dib::TDibSection& picture = wide ? *wide : bitmap;

  Quantizer::CQuantizer quantizer;
  Quantizer::TPalettePtr palette;
  if (depth != 1) {
    palette = quantizer.QuantizeToPalette(picture, 1 << depth, settings.nSignificantBits);
    if (!palette) return false;
  }
  Dib::TDibPtr target = Dib::CreateDibSectionPal(width, height, depth == 2 ? 4 : depth, palette.get());
  if (!target) return false;
  if (!quantizer.MapToPalette(picture, *target, palette.get())) return false;

  TMediaRequest request;
  request.eOp = MEDIA_OP_WRITE_STILL;
  request.bSuccess = false;
  request.eSourceFormat = static_cast<TFileFormat>(eFileFormat);
  request.pPath = &path;
  request.pParams = target.get();
  return WriteGif(request);
}

bool CGifMgr::WriteGif(TMediaRequest& request) {
  const auto* section = static_cast<const Dib::TDibSection*>(request.pParams);
  // A request tagged for another writer carries another block: never taken
  // for a section.
  if (request.eTag != MEDIA_REQ_NONE) return FailRequest(request, MEDIA_ERR_WRITE_GIF);
  if (section == nullptr || !Codecs::SectionHoldsRows(*section)) return false;
  if (request.pPath == nullptr || request.pPath->empty()) return FailRequest(request, MEDIA_ERR_WRITE_GIF);
  std::vector<std::uint8_t> bytes;
  if (!EncodeGif(*section, bytes)) return FailRequest(request, MEDIA_ERR_WRITE_GIF);
  if (!platform::WriteFileBytes(platform::PathFromUtf8(*request.pPath), bytes.data(), bytes.size())) {
    return FailRequest(request, MEDIA_ERR_WRITE_GIF);
  }
  return SucceedRequest(request);
}

}  // namespace GifMgr
