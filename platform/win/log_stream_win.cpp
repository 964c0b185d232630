// Windows face: only Win32 / CRT pass-throughs, no logic.
#include "platform/file_system.h"

#include <fcntl.h>
#include <io.h>

#include <cstdint>

std::FILE* OpenLogStream(HANDLE file) {
    // _O_TEXT must be given: without a mode the run-time takes the handle as binary.
    const int descriptor =
        _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_APPEND | _O_TEXT);
    if (descriptor == -1) {
        CloseHandle(file);
        return nullptr;
    }
    std::FILE* stream = _fdopen(descriptor, "a");
    if (stream == nullptr) {
        _close(descriptor); // closes the handle too
    }
    return stream;
}
