// Windows face: only Win32 / CRT pass-throughs, no logic.
#include "platform/log_file.h"

#include <share.h>

std::FILE* OpenLogFileForAppend(const char* path) {
    return _fsopen(path, "a", _SH_DENYNO);
}
