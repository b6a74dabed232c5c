#pragma once
// The records of the child frame's private messages (WM_APP_PANE_LAYOUT,
// WM_APP_PANE_COMMAND, WM_APP_ZOOM_SETTINGS), shared by the frame, the media
// document, its panes and the main frame. Each is built on the sender's stack
// and sent synchronously on the UI thread; only the receiver sets `answered`.

#include <cstdint>

namespace ZarnTypes {

// WM_APP_PANE_LAYOUT operations.
enum TPaneLayoutOp : std::int32_t {
  PANE_LAYOUT_GET = 1,
  PANE_LAYOUT_SET = 2,
  PANE_LAYOUT_PRIMARY_ONLY = 4,  // acts only when `value` is 1
};

// WM_APP_PANE_LAYOUT record (28 bytes).
struct TPaneLayoutState {
  std::int32_t operation = 0;
  std::uint8_t answered = 0;
  std::int32_t value = 0;
  std::int32_t controllerWidth = 0;  // get: the sizes given at creation
  std::int32_t paneHeightLeft = 0;
  std::int32_t paneHeightRight = 0;
  std::uint8_t controllerShown = 0;
  std::uint8_t primaryOnly = 0;  // get only; ignored by set
  std::uint8_t bottomRowShown = 0;
  std::uint8_t rightColumnShown = 0;
};
static_assert(sizeof(TPaneLayoutState) == 28);

// WM_APP_PANE_COMMAND commands (wParam).
enum TPaneCommand : std::int32_t {
  PANE_CMD_SHOW_CHANNEL = 1,  // lParam: channel 0..3
  PANE_CMD_TOGGLE_RIGHT_COLUMN = 2,
  PANE_CMD_TOGGLE_BOTTOM_ROW = 3,
  PANE_CMD_TOGGLE_CONTROLLER = 4,
  PANE_CMD_COLLAPSE_CONTROLLER = 5,
  PANE_CMD_PANE_CHANNELS = 6,    // lParam: TPaneLayoutExchange*
  PANE_CMD_QUERY_STREAMING = 7,  // lParam: TStreamingQuery*
};

// The channel each video pane shows (24 bytes): 1 read, 2 write.
struct TPaneLayoutExchange {
  std::int32_t operation = 0;
  std::uint8_t answered = 0;
  std::int32_t paneChannel[4] = {};
};
static_assert(sizeof(TPaneLayoutExchange) == 24);

// Whether the document's engine is streaming (8 bytes): 1 read.
struct TStreamingQuery {
  std::int32_t operation = 0;
  std::uint8_t answered = 0;
  std::uint8_t streaming = 0;
};
static_assert(sizeof(TStreamingQuery) == 8);

// The record of WM_APP_IDENTIFY_VIEW: the document asks each view its role
// and tells it its pane index.
struct TIdentifyView {
  std::int32_t answered = 0;
  std::int32_t role = 0;       // 1 controller pane, 2 video pane
  std::int32_t paneIndex = 0;  // in: the video pane's index 0..3
};

inline constexpr std::int32_t VIEW_ROLE_CONTROLLER = 1;
inline constexpr std::int32_t VIEW_ROLE_VIDEO_PANE = 2;

}  // namespace ZarnTypes
