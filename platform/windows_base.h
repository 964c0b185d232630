// The one place that decides which face of the platform layer a build gets: the real
// Windows headers, or the simulator's declarations of the same names.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "platform/sim/types.h"
#endif
