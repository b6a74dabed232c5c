#pragma once
// Qt's image reader as an independent check of the codecs: a picture read
// from a file or from a file's bytes, converted to one pixel format.

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace tovrin_test {

// The picture Qt reads from the file, in `format`; null when Qt cannot read it.
inline QImage QtReadFile(const std::string& path, QImage::Format format) {
  return QImage(QString::fromStdString(path)).convertToFormat(format);
}

// The picture Qt reads from a file's bytes of the type ("GIF", "PNG", ...),
// in `format`; null when Qt cannot read them.
inline QImage QtReadBytes(const std::vector<std::uint8_t>& bytes, const char* type, QImage::Format format) {
  QImage image;
  if (!image.loadFromData(
          QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size())), type))
    return QImage();
  return image.convertToFormat(format);
}

}  // namespace tovrin_test
