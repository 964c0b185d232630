// Simulator face only: paths are the host's, as the log file's are (log_file_sim.cpp); the
// journal and injected faults are simulated.
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/sim/core.h"

#include <cerrno>
#include <sys/stat.h>

DWORD GetFileAttributesA(LPCSTR lpFileName) {
    if (const DWORD fault = sim::core::Enter("GetFileAttributesA", ERROR_ACCESS_DENIED, "%s",
                                             lpFileName == nullptr ? "(null)" : lpFileName)) {
        SetLastError(fault);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (lpFileName == nullptr || *lpFileName == '\0') {
        SetLastError(lpFileName == nullptr ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    struct stat info {};
    if (stat(lpFileName, &info) != 0) {
        // Windows tells a missing file from a missing folder on its way.
        SetLastError(errno == ENOENT    ? ERROR_FILE_NOT_FOUND
                     : errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                        : ERROR_ACCESS_DENIED);
        return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}
