// .bmp files written here are read by Qt's BMP reader to the same pixels,
// and Qt's files are read here to the same pixels.

#include <gtest/gtest.h>

#include <QImage>
#include <QString>

#include <random>

#include "media/dib.h"
#include "tests/support/test_support.h"

namespace {

using namespace Dib;

QString QPath(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

// Red, green, blue of a picture pixel as its depth stores it.
std::array<int, 3> SectionRgb(const TDibSection& s, int x, int y) {
  const std::uint8_t* row = s.RowFromTop(y);
  const int bits = s.BitCount();
  if (bits <= 8) {
    const int bit = x * bits;
    const int index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1);
    const TRgbQuad q = s.colorTable[index];
    return {q.rgbRed, q.rgbGreen, q.rgbBlue};
  }
  if (bits == 16) {  // 5-5-5, as 5-bit values
    const int p = row[2 * x] | (row[2 * x + 1] << 8);
    return {(p >> 10) & 31, (p >> 5) & 31, p & 31};
  }
  const std::uint8_t* p = row + x * (bits / 8);
  return {p[2], p[1], p[0]};
}

TEST(BmpCrossCheckTest, QtReadsEveryDepthWeWrite) {
  tovrin_test::TTempDir dir;
  std::mt19937 rng(42);
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    for (int height : {5, -5}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, height " << height);
      TDibPtr s = CreateDibSectionEx(11, height, bits);
      ASSERT_TRUE(s);
      for (auto& b : s->bits) b = static_cast<std::uint8_t>(rng());
      for (auto& q : s->colorTable)
        q = TRgbQuad{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                     static_cast<std::uint8_t>(rng()), 0};
      const auto path = dir / "w.bmp";
      ASSERT_TRUE(SaveDibSectionToBmpFile(path, *s));
      QImage image;
      ASSERT_TRUE(image.load(QPath(path), "BMP"));
      ASSERT_EQ(image.width(), 11);
      ASSERT_EQ(image.height(), 5);
      for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 11; ++x) {
          const QRgb q = image.pixel(x, y);
          std::array<int, 3> got = {qRed(q), qGreen(q), qBlue(q)};
          if (bits == 16)
            for (int& c : got) c >>= 3;
          ASSERT_EQ(got, SectionRgb(*s, x, y)) << x << "," << y;
        }
      }
    }
  }
}

TEST(BmpCrossCheckTest, WeReadWhatQtWrites) {
  tovrin_test::TTempDir dir;
  std::mt19937 rng(7);
  QImage rgb(9, 4, QImage::Format_RGB32);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 9; ++x) rgb.setPixel(x, y, qRgb(rng() & 255, rng() & 255, rng() & 255));
  QImage indexed(9, 4, QImage::Format_Indexed8);
  indexed.setColorCount(200);
  for (int i = 0; i < 200; ++i) indexed.setColor(i, qRgb(i, 255 - i, (i * 7) & 255));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 9; ++x) indexed.setPixel(x, y, rng() % 200);
  QImage mono(13, 3, QImage::Format_Mono);
  mono.setColorCount(2);
  mono.setColor(0, qRgb(10, 20, 30));
  mono.setColor(1, qRgb(200, 210, 220));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 13; ++x) mono.setPixel(x, y, rng() & 1);

  for (const QImage& image : {rgb, indexed, mono}) {
    SCOPED_TRACE(image.format());
    const auto path = dir / "q.bmp";
    ASSERT_TRUE(image.save(QPath(path), "BMP"));
    TDibSection s;
    std::string error;
    ASSERT_TRUE(ReadBmpFile(path, s, &error)) << error;
    ASSERT_EQ(s.Width(), image.width());
    ASSERT_EQ(s.Height(), image.height());
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const QRgb q = image.pixel(x, y);
        ASSERT_EQ(SectionRgb(s, x, y), (std::array<int, 3>{qRed(q), qGreen(q), qBlue(q)})) << x << "," << y;
      }
  }
}

}  // namespace
