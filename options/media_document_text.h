#pragma once
// The texts that describe a media document and its channels: what the
// "Media document" page shows for the channel chosen with its selector, and
// the short channel description the per-channel pages (read stream,
// DirectShow, capture image, save stream) show above their own controls.
//
// These are pure functions of the document's identifier and title and the
// channel's source and format records; the pages only put their results into
// their controls. Line breaks are "\r\n" and columns are tabs, as the
// read-only edits show them.

#include <cstddef>
#include <cstdint>
#include <string>

#include "media/media_source.h"

namespace OptsMediaDocument {

// The format record a raw YUV channel keeps: what the document's raw YUV
// loader stores, field by field. The plane count and the bits per sample are
// not in it; they follow from the layout code (every layout is planar with
// 8-bit samples).
struct TYuvStreamParams {
  std::int32_t pixelFormat;  // TPixelFormat of the frames
  std::int32_t width;        // picture size, pixels
  std::int32_t height;
  std::int32_t alignedWidth;  // rounded up to the plane alignment
  std::int32_t alignedHeight;
  std::int32_t lumaSize;        // bytes of the Y plane
  std::int32_t chromaSize;      // bytes of each chroma plane
  std::int32_t standardCode;    // conversion base: 2 BT.601, 3 BT.709
  std::int32_t rangeCode;       // GetYuvRangeName code
  std::int32_t samplingSiting;  // 1 4:4:4; 2..4 4:2:2; 5..7 4:2:0
  std::int32_t samplingCode;    // GetYuvSamplingName code
  std::int32_t sitingCode;      // GetYuvSitingName code
  std::uint8_t interlaced;      // frames are interlaced
  std::uint8_t stillPicture;    // a single picture, not a video stream
};
static_assert(offsetof(TYuvStreamParams, standardCode) == 28);
static_assert(offsetof(TYuvStreamParams, sitingCode) == 44);
static_assert(offsetof(TYuvStreamParams, interlaced) == 48);
static_assert(offsetof(TYuvStreamParams, stillPicture) == 49);
static_assert(sizeof(TYuvStreamParams) <= ZarnTypes::TStreamFormat::kParamsSize);

// "\r\nFrame rate:\t... frames/second\r\nDuration:\t\t... seconds", with a
// D:H:M:S or H:M:S form appended for a duration above a minute. A period of
// 0 or less (or not a number) shows the rate 0.000; a duration that is not
// finite or beyond the 64-bit range gets no D:H:M:S form.
std::string FormatPlayTime(double period, double duration);

// The channel's type text: the stream type's name, with the device category
// line (and the device kind for a video input device); "Channel is closed"
// for a nameless type with the open flag clear. `moreInfo`, when given,
// tells whether the DVD "More info..." request makes sense for the channel.
std::string ChannelTypeText(const ZarnTypes::TMediaSource& source, bool* moreInfo = nullptr);

// The format details of a channel by stream type ("" when the record is
// missing, of another stream type, or its type has no details).
std::string StreamFormatText(const ZarnTypes::TMediaSource& source, const ZarnTypes::TStreamFormat* format);

// What the "Media document" page shows for one channel.
struct TChannelInfo {
  std::string documentText;  // type, identifier and title of the document
  std::string channelText;   // the channel's source and format
  bool moreInfoEnabled = false;
};
TChannelInfo ShowChannelInfo(const std::string& identifier, const std::string& title,
                             const ZarnTypes::TMediaSource& source, const ZarnTypes::TStreamFormat* format,
                             const std::string& moreInfoText);

// The short description of the per-channel pages: the header line and the
// channel text (paths beyond 40 characters cut to 37 and "...").
struct TChannelDescription {
  std::string headerText;
  std::string channelText;
};
TChannelDescription DescribeChannel(const std::string& identifier, const ZarnTypes::TMediaSource& source);

// The title a channel's source shows (its file name, or the device's name).
std::string SourceTitle(const ZarnTypes::TMediaSource& source);

}  // namespace OptsMediaDocument
