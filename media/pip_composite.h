#pragma once
// Picture-in-picture composites: a copy of a main picture with an inset
// picture (or a rectangle of it) scaled into a rectangle of it, and the
// scaler that draws the inset. No Qt: the recording path builds composites
// on the engine's pacing thread, into a picture the caller owns.
//
// Coordinates are counted from the top left of each picture, whatever order
// its rows are stored in. The rectangles come from the user's settings and
// are clipped here: only pixels inside both pictures are read or written.

#include <cstdint>

#include "media/dib.h"

namespace PipComposite {

// A rectangle; a width or height of 0 or less is empty.
struct TPipRect {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

enum TStretchMode : std::int32_t {
  STRETCH_NEAREST = 0,  // each pixel takes the source pixel under its centre
  STRETCH_AREA = 1,     // each pixel averages the source area it covers
};

// The pane's stretch mode code (3 fast, 4 smooth; others drawn as fast) as
// a scaler mode.
TStretchMode StretchModeFromCode(std::int32_t code);

// Scales the source rectangle `from` of the 32-bit picture `source` onto the
// rectangle `to` of the 32-bit picture `target`. The mapping between the two
// rectangles is kept whole; what is drawn is the part of `to` that lies
// inside `target` and whose pixel centres map inside `source` (an area pixel
// at the source's border averages only the source pixels there). Empty
// rectangles, or nothing left after clipping, draw nothing. False when a
// picture is not 32 bits deep or its bits do not hold its rows; true
// otherwise (also when nothing was drawn).
bool StretchPicture(const Dib::TDibSection& source, const TPipRect& from, Dib::TDibSection& target,
                    const TPipRect& to, TStretchMode mode);

// The composite: `composite` becomes a copy of `main` (its storage is reused
// when it already has the main picture's size and depth) with the inset
// scaled into `insetRect`; `sourceRect` null takes the whole inset. An inset
// rectangle wholly outside the picture leaves the composite equal to the
// main picture. False, with the composite unchanged, when either picture is
// not 32 bits deep or its bits do not hold its rows.
bool BuildPipComposite(const Dib::TDibSection& main, const Dib::TDibSection& inset, const TPipRect& insetRect,
                       const TPipRect* sourceRect, TStretchMode mode, Dib::TDibSection& composite);

}  // namespace PipComposite
