#pragma once
// The block of the Transform 2D page (topic OPTTOPIC_TRANSFORM_2D of
// WM_APP_OPTS_CATEGORY): per channel whether it has a picture and the
// orientation code of its picture. A read (op 1) fills both; an apply (op 4)
// gives every flagged channel the block's code as its new orientation. The
// instant byte is the page's own "Apply changes instantly" switch, which the
// owner neither fills nor reads.

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "options/opts_exchange.h"

namespace ZarnTypes {

struct TTransform2DChannel {
  std::uint8_t flag = 0;         // read: the channel has a picture; apply: apply this channel
  std::int32_t orientation = 8;  // orientation code 0..7, 8 for none
  std::uint8_t instant = 0;      // the page's own switch
};
static_assert(sizeof(TTransform2DChannel) == 12);
static_assert(offsetof(TTransform2DChannel, orientation) == 4);
static_assert(offsetof(TTransform2DChannel, instant) == 8);

struct TTransform2DExchange {
  TOptsExchangeHeader header;
  TTransform2DChannel channels[4];
};
static_assert(sizeof(TTransform2DExchange) == 56);
static_assert(offsetof(TTransform2DExchange, channels) == 8);
static_assert(std::is_trivially_copyable_v<TTransform2DExchange>);

}  // namespace ZarnTypes
