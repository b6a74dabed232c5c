#pragma once
// Command ids handled by the media document, its panes and its child frame:
// the menu, toolbar and accelerator commands are the shell's
// (shell/command_ids.h); the controller pane's context menu adds its own.

#include "platform/types.h"
#include "shell/command_ids.h"

namespace ZarnCommands {

// View: pane layout (child frame).
using shell::ID_VIEW_BOTTOM_ROW_PANES;
using shell::ID_VIEW_CONTROLLER_PANE;
using shell::ID_VIEW_PANE_LAYOUT;
using shell::ID_VIEW_PRIMARY_PANE;
using shell::ID_VIEW_RIGHT_COLUMN_PANES;

// View: zoom (document).
using shell::ID_ZOOM_10;
using shell::ID_ZOOM_100;
using shell::ID_ZOOM_1000;
using shell::ID_ZOOM_125;
using shell::ID_ZOOM_150;
using shell::ID_ZOOM_175;
using shell::ID_ZOOM_200;
using shell::ID_ZOOM_25;
using shell::ID_ZOOM_50;
using shell::ID_ZOOM_500;
using shell::ID_ZOOM_CUSTOM;
using shell::ID_ZOOM_FILL_VIEW;
using shell::ID_ZOOM_FIT_HEIGHT;
using shell::ID_ZOOM_FIT_VIEW;
using shell::ID_ZOOM_FIT_WIDTH;
using shell::ID_ZOOM_IN;
using shell::ID_ZOOM_KEEP_IN_VIEW;
using shell::ID_ZOOM_OUT;
using shell::ID_ZOOM_PRESET;

// View: rotate and reflect (document, on the primary channel).
using shell::ID_TRANSFORM_CUSTOM;
using shell::ID_TRANSFORM_REFLECT_DIAG_ANTI;
using shell::ID_TRANSFORM_REFLECT_DIAG_MAIN;
using shell::ID_TRANSFORM_REFLECT_HORIZONTAL;
using shell::ID_TRANSFORM_REFLECT_VERTICAL;
using shell::ID_TRANSFORM_RESET;
using shell::ID_TRANSFORM_ROTATE_180;
using shell::ID_TRANSFORM_ROTATE_LEFT_90;
using shell::ID_TRANSFORM_ROTATE_RIGHT_90;

// Edit and File commands of a video pane.
using shell::ID_EDIT_COPY;
using shell::ID_EDIT_PASTE;
using shell::ID_FILE_PRINT;
using shell::ID_FILE_PRINT_DIRECT;
using shell::ID_FILE_PRINT_PREVIEW;

// Controller pane context menu.
inline constexpr UINT ID_CONTROLLER_MINIMIZE_RESTORE = 1026;   // "Minimize / Restore Pane"
inline constexpr UINT ID_CONTROLLER_CLOSE = 1027;              // "Close Controller"
inline constexpr UINT ID_CONTROLLER_GROUP_BY_FUNCTION = 1112;  // "Group by Function"
inline constexpr UINT ID_CONTROLLER_GROUP_BY_CHANNEL = 1113;   // "Group by Channel"

}  // namespace ZarnCommands
