#pragma once
// The block of the "Video" page (WM_APP_OPTS_VIDEO): the video-out period,
// the synchronisation of the channels and the two information switches of
// the controller pane. The frame rate is the page's own (1000 / period); the
// owner neither fills nor reads it.

#include <cstddef>
#include <cstdint>

#include "options/opts_exchange.h"

namespace ZarnTypes {

// Synchronisation of the channels.
enum TChannelSync : std::int32_t {
  CHANNEL_SYNC_NONE = 0,
  CHANNEL_SYNC_BY_FRAMES = 1,
  CHANNEL_SYNC_BY_TIME = 2,
};

struct TVideoExchange {
  TOptsExchangeHeader header;
  std::int32_t frameRate = 0;     // frames per second, written by the page
  std::int32_t period = 0;        // video-out period, ms
  std::int32_t syncMode = 0;      // TChannelSync
  std::uint8_t frameInfo = 0;     // "Enable frame index and time info"
  std::uint8_t fileNameInfo = 0;  // "Enable frame file name info"
};
static_assert(sizeof(TVideoExchange) == 24);
static_assert(offsetof(TVideoExchange, frameRate) == 8);
static_assert(offsetof(TVideoExchange, frameInfo) == 20);

}  // namespace ZarnTypes
