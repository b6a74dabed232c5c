#pragma once
// The media document's processing engine lives in its own Qt-free library.
#include "document/engine/zarn.h"
