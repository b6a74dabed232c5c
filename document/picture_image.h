#pragma once
// Pictures of the video ports as Qt images, for painting, printing and the
// clipboard.

#include <QImage>

#include "media/dib.h"

namespace ZarnView {

// An opaque top-down image (QImage::Format_RGB32) of a 24- or 32-bit DIB in
// either row order; a null image for any other depth or a section whose rows
// are missing. The fourth byte of 32-bit pixels is not taken as alpha.
QImage PictureToImage(const Dib::TDibSection& picture);

}  // namespace ZarnView
