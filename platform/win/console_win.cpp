// Windows face: only Win32 / CRT pass-throughs, no logic.
#include "platform/console.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>

int ConsolePrintf(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const int written = std::vfwprintf(stdout, format, args);
    va_end(args);
    return written;
}
