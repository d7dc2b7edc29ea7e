// The one place that includes <windows.h>, with the settings every platform file shares.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00  // Windows 10: long-path awareness and AddDllDirectory

#include <windows.h>
