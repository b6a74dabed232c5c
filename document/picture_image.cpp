#include "document/picture_image.h"

#include <cstdint>
#include <cstring>

namespace ZarnView {

QImage PictureToImage(const Dib::TDibSection& picture) {
  const int width = picture.Width();
  const int height = picture.Height();
  const int bits = picture.BitCount();
  if (width <= 0 || height <= 0 || (bits != 24 && bits != 32)) return {};
  if (picture.bits.size() < picture.Stride() * static_cast<std::size_t>(height)) return {};
  QImage image(width, height, QImage::Format_RGB32);
  if (image.isNull()) return {};
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* src = picture.RowFromTop(y);
    auto* dst = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
    const int step = bits / 8;
    for (int x = 0; x < width; ++x, src += step)
      dst[x] = 0xFF000000u | (std::uint32_t{src[2]} << 16) | (std::uint32_t{src[1]} << 8) | src[0];
  }
  return image;
}

}  // namespace ZarnView
