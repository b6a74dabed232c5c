#pragma once
// The block of the "Reference frames" page (WM_APP_OPTS_REFERENCE_FRAMES):
// the first frame and the frame limit of each channel's reader, channel 1
// first. The page edits channels 1 and 2 and sends 3 and 4 back as read.

#include <cstddef>
#include <cstdint>

#include "options/opts_exchange.h"

namespace ZarnTypes {

struct TReferenceFramesExchange {
  TOptsExchangeHeader header;
  std::int32_t startFrame[4] = {};
  std::int32_t stopFrame[4] = {};
};
static_assert(sizeof(TReferenceFramesExchange) == 40);
static_assert(offsetof(TReferenceFramesExchange, startFrame) == 8);

}  // namespace ZarnTypes
