#pragma once
// What the codec managers share: checks of the bitmaps and frames handed
// to them, the 32-bit copy a 24-bit bitmap is saved through, the bottom-up
// frame a 32-bit bitmap is written from, the frame a decoder fills and the
// request that describes it, and the messages of one call collected for the
// message sink.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/media_request.h"
#include "media/dib.h"
#include "media/frame_buffer.h"

namespace Codecs {

// True when the section has a width, height and depth above 0 and its bits
// hold all of its rows.
bool SectionHoldsRows(const Dib::TDibSection& section);

// True when the frame has storage and its stride and size hold `height` rows
// of `rowBytes` bytes each.
bool FrameHoldsRows(const ZarnTypes::TFrameBuffer* frame, std::int32_t height, std::int64_t rowBytes);

// A 32-bit copy (blue, green, red, 0) of a 24-bit bitmap with its rows in the
// same order. Null when the bitmap is not a 24-bit section holding its rows
// or the copy cannot be made.
Dib::TDibPtr WidenToRgb32(const Dib::TDibSection& bitmap);

// Allocates `frame` as a PF_RGB32 frame of a 32-bit bitmap's size (rows
// aligned to 4 bytes, height alignment 1, flag 1) and copies the bitmap's
// pixels into it bottom row first, whatever the bitmap's own row order.
// False when the frame cannot be allocated. The frame is the caller's to free.
bool CopyToBottomUpFrame(const Dib::TDibSection& bitmap, ZarnTypes::TFrameBuffer& frame);

// Makes `frame` a buffer of the format and size with rows aligned to 4 bytes
// and height alignment 1, ready for a decoder to fill. Storage it already
// holds for exactly that layout, with a stride and size that cover its rows,
// is kept with its contents; otherwise the record is freed and allocated
// anew, cleared to 0, with `flag` as the producer's flag.
bool PrepareFrame(ZarnTypes::TFrameBuffer* frame, ZarnTypes::TPixelFormat format, std::int32_t width,
                  std::int32_t height, std::int32_t flag = 1);

// Hands a decoded frame to the request: width, height, stride, pixels, size.
void DescribeFrame(ZarnTypes::TMediaRequest& request, const ZarnTypes::TFrameBuffer& frame);

// Reads a whole file into `out`. Only a regular file is read: a FIFO, a
// device or a folder that carries a picture's name is refused at once
// instead of blocking the reader. A file longer than `maxBytes` is refused
// too. False (and `out` left empty) on any failure.
bool ReadRegularFile(const std::string& path, std::vector<std::uint8_t>& out, std::uint64_t maxBytes);

// Messages of a library and of a manager during one call, shown through the
// message sink when the call ends: one box for the manager's own reasons
// (the application's caption), one for the library's errors and one for its
// warnings. A library box is captioned "<source> Error" or "<source> Warning"
// after the source of its first line; lines of other sources are led by
// "<source>: ". Line breaks at the end of a text are dropped, empty texts
// and repeated lines are left out, and past the first ten lines of a kind
// the rest are summed up as "...": a hostile file can make a library repeat
// itself thousands of times.
class TCallMessages {
 public:
  void AddOwn(std::string text) { Add(m_own, {}, std::move(text)); }
  void AddError(std::string source, std::string text) { Add(m_errors, std::move(source), std::move(text)); }
  void AddWarning(std::string source, std::string text) {
    Add(m_warnings, std::move(source), std::move(text));
  }

  bool HasErrors() const { return !m_errors.shown.empty(); }

  void Show() const;
  // The same texts for the log instead of the screen: one line each on
  // standard error, led by "<source> error: " or "<source> warning: " for
  // the library's. For the codecs whose failures are only results.
  void Log() const;

 private:
  struct TLine {
    std::string source;
    std::string text;
    bool operator==(const TLine&) const = default;
  };
  struct TLines {
    std::vector<TLine> shown;
    std::size_t dropped = 0;
  };

  static void Add(TLines& lines, std::string source, std::string text);
  static std::string Join(const TLines& lines);

  TLines m_own;
  TLines m_errors;
  TLines m_warnings;
};

// Writes one line of a codec library to the log (standard error):
// "<source> error: <text>" or "<source> warning: <text>".
void LogLibraryMessage(const std::string& source, bool error, const std::string& text);

}  // namespace Codecs
