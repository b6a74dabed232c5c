#pragma once
// The block of the "Video Pane" page (topic OPTTOPIC_VIDEO_PANE of
// WM_APP_OPTS_CATEGORY): the document's identifier and title and its four
// channels' video-pane records. A record is the 28 bytes the document also
// saves: the fast-stretch byte at 0, the "View" and "Play" stretch modes at 4
// and 8, and sixteen bytes of the document's own that the page carries back
// unchanged.

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "options/opts_exchange.h"

namespace ZarnTypes {

// Stretch modes of a pane's picture.
inline constexpr std::int32_t kStretchFast = 3;    // nearest pixel (performance)
inline constexpr std::int32_t kStretchSmooth = 4;  // filtered (quality)

struct TVideoPaneChannel {
  std::uint8_t fastStretch = 0;  // while playing, always the fast mode
  std::int32_t viewMode = 0;     // while not playing
  std::int32_t playMode = 0;     // while playing, fast switch off
  std::uint8_t documentValues[16] = {};
};
static_assert(sizeof(TVideoPaneChannel) == 28);
static_assert(offsetof(TVideoPaneChannel, viewMode) == 4);
static_assert(offsetof(TVideoPaneChannel, playMode) == 8);
static_assert(offsetof(TVideoPaneChannel, documentValues) == 12);
static_assert(std::is_trivially_copyable_v<TVideoPaneChannel>);

struct TVideoPaneExchange {
  TOptsExchangeHeader header;
  const std::string* identifier = nullptr;
  const std::string* title = nullptr;
  TVideoPaneChannel channels[4];
};

}  // namespace ZarnTypes
