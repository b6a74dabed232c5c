#pragma once
// The block of the "Channel Selector" (WM_APP_OPTS_NAVIGATE): which channels
// of a media document take part in walking the media-source list, in
// playing, in replaying from the cache and in DVD navigation. The dialog
// runs in one of five modes, each showing one selection or all of them; the
// document reads and writes only the selections of the block's mode.

#include <cstddef>
#include <cstdint>

#include "options/opts_exchange.h"

namespace ZarnTypes {

// Modes of the Channel Selector (what its commands ask for).
enum TNavigateMode : std::int32_t {
  NAVIGATE_MODE_STATUS = 30,       // all selections ("Status...")
  NAVIGATE_MODE_SOURCE_LIST = 31,  // channels that walk the media-source list
  NAVIGATE_MODE_PLAY = 32,         // channels that play
  NAVIGATE_MODE_REPLAY = 33,       // channels that replay from the cache
  NAVIGATE_MODE_DVD = 38,          // the channel that takes DVD navigation
};

// One channel's selections (a bool per byte).
struct TNavigateChannel {
  std::uint8_t navigate = 0;
  std::uint8_t play = 0;
  std::uint8_t replay = 0;
  std::uint8_t spare = 0;
  std::uint8_t dvdNavigate = 0;
};
static_assert(sizeof(TNavigateChannel) == 5);

struct TNavigateExchange {
  TOptsExchangeHeader header;
  std::int32_t mode = 0;  // TNavigateMode, set before the dialog runs
  std::int32_t reserved = 0;
  TNavigateChannel channel[4];  // channel 1 first
};
static_assert(sizeof(TNavigateExchange) == 36);
static_assert(offsetof(TNavigateExchange, mode) == 8);
static_assert(offsetof(TNavigateExchange, channel) == 16);

}  // namespace ZarnTypes
