#pragma once
// The one way into libmng: its header declares the chunk writers
// (mng_create, mng_putchunk_*, mng_write) only when MNG_USE_SO is defined
// before it, and it needs <stdio.h> first (it includes jpeglib.h, which
// uses FILE).

#include <stdio.h>  // NOLINT(modernize-deprecated-headers): before libmng.h

#ifndef MNG_USE_SO
#define MNG_USE_SO
#endif
#include <libmng.h>
