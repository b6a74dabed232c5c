#pragma once
// The block of the "Picture In Picture" page (WM_APP_OPTS_PIP): the
// picture-in-picture records of the four video panes, each the 56 bytes the
// document also saves. The page edits the primary and the assistant pane
// and carries the other two, and the two reserved words of every record,
// back unchanged.

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "options/opts_exchange.h"

namespace ZarnTypes {

struct TPipPaneRecord {
  std::uint8_t enabled = 0;
  std::int32_t optionsValue = 0;  // reserved, carried unchanged
  std::int32_t port = 0;          // 0..3: the channel inserted
  std::int32_t placement = 0;     // 0 from the pane's corner, 1 from the picture's
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t sourceMode = 0;  // 0 the whole source picture, 1 the crop below
  std::int32_t cropX = 0;
  std::int32_t cropY = 0;
  std::int32_t cropWidth = 0;
  std::int32_t cropHeight = 0;
  std::int32_t last = 0;  // reserved, carried unchanged
};
static_assert(sizeof(TPipPaneRecord) == 56);
static_assert(offsetof(TPipPaneRecord, port) == 8);
static_assert(offsetof(TPipPaneRecord, sourceMode) == 32);
static_assert(offsetof(TPipPaneRecord, last) == 52);
static_assert(std::is_trivially_copyable_v<TPipPaneRecord>);

struct TPictInPictExchange {
  TOptsExchangeHeader header;
  TPipPaneRecord panes[4];
};
static_assert(sizeof(TPictInPictExchange) == 232);
static_assert(offsetof(TPictInPictExchange, panes) == 8);

}  // namespace ZarnTypes
