#pragma once
// The program's command images, drawn at the size of the toolbar image set
// (16 or 24 pixels) so that they stay sharp in every look.

#include <QIcon>

#include "platform/types.h"

namespace shell {

// The image of a command; a null icon for commands without one.
QIcon CommandIcon(UINT id, int size);

// True when the command has an image of its own.
bool HasCommandIcon(UINT id);

}  // namespace shell
