#pragma once
// Command ids handled by the media document, its panes and its child frame.
// The numbers are those of the menus, toolbars and accelerators: the shell's
// actions carry the same ids and the command router offers them to the
// document's targets.

#include "platform/types.h"

namespace ZarnCommands {

// View: pane layout (child frame).
inline constexpr UINT ID_VIEW_PRIMARY_PANE = 32772;        // "Primary Video Pane / All Panes"
inline constexpr UINT ID_VIEW_CONTROLLER_PANE = 32773;     // "Controller Pane"
inline constexpr UINT ID_VIEW_RIGHT_COLUMN_PANES = 32774;  // "Right Column Video Panes"
inline constexpr UINT ID_VIEW_BOTTOM_ROW_PANES = 32775;    // "Bottom Row Video Panes"
inline constexpr UINT ID_VIEW_PANE_LAYOUT = 32776;         // "Video Pane / Channel Layout"

// View: zoom (document).
inline constexpr UINT ID_ZOOM_IN = 32781;
inline constexpr UINT ID_ZOOM_OUT = 32782;
inline constexpr UINT ID_ZOOM_1000 = 32783;
inline constexpr UINT ID_ZOOM_500 = 32784;
inline constexpr UINT ID_ZOOM_200 = 32785;
inline constexpr UINT ID_ZOOM_175 = 32786;
inline constexpr UINT ID_ZOOM_150 = 32787;
inline constexpr UINT ID_ZOOM_125 = 32788;
inline constexpr UINT ID_ZOOM_100 = 32789;
inline constexpr UINT ID_ZOOM_50 = 32790;
inline constexpr UINT ID_ZOOM_25 = 32791;
inline constexpr UINT ID_ZOOM_10 = 32792;
inline constexpr UINT ID_ZOOM_PRESET = 32793;
inline constexpr UINT ID_ZOOM_FIT_VIEW = 32794;
inline constexpr UINT ID_ZOOM_FIT_WIDTH = 32795;
inline constexpr UINT ID_ZOOM_FIT_HEIGHT = 32796;
inline constexpr UINT ID_ZOOM_FILL_VIEW = 32797;
inline constexpr UINT ID_ZOOM_KEEP_IN_VIEW = 32798;
inline constexpr UINT ID_ZOOM_CUSTOM = 32799;

// View: rotate and reflect (document, on the primary channel).
inline constexpr UINT ID_TRANSFORM_RESET = 32924;
inline constexpr UINT ID_TRANSFORM_ROTATE_RIGHT_90 = 32925;
inline constexpr UINT ID_TRANSFORM_ROTATE_LEFT_90 = 32926;
inline constexpr UINT ID_TRANSFORM_ROTATE_180 = 32927;
inline constexpr UINT ID_TRANSFORM_REFLECT_VERTICAL = 32928;
inline constexpr UINT ID_TRANSFORM_REFLECT_HORIZONTAL = 32929;
inline constexpr UINT ID_TRANSFORM_REFLECT_DIAG_MAIN = 32930;
inline constexpr UINT ID_TRANSFORM_REFLECT_DIAG_ANTI = 32931;
inline constexpr UINT ID_TRANSFORM_CUSTOM = 32934;

// Edit and File commands of a video pane.
inline constexpr UINT ID_FILE_PRINT = 57607;          // "&Print...\tCtrl+P"
inline constexpr UINT ID_FILE_PRINT_DIRECT = 57608;
inline constexpr UINT ID_FILE_PRINT_PREVIEW = 57609;  // "Print Pre&view"
inline constexpr UINT ID_EDIT_COPY = 57634;           // "&Copy\tCtrl+C"
inline constexpr UINT ID_EDIT_PASTE = 57637;          // "&Paste\tCtrl+V"

// Controller pane context menu.
inline constexpr UINT ID_CONTROLLER_MINIMIZE_RESTORE = 1026;  // "Minimize / Restore Pane"
inline constexpr UINT ID_CONTROLLER_CLOSE = 1027;             // "Close Controller"
inline constexpr UINT ID_CONTROLLER_GROUP_BY_FUNCTION = 1112;  // "Group by Function"
inline constexpr UINT ID_CONTROLLER_GROUP_BY_CHANNEL = 1113;   // "Group by Channel"

}  // namespace ZarnCommands
