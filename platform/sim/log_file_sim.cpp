// Simulator face only: the log is a real file of the host; the journal and injected faults are
// simulated, and so is the way Windows appends.
#include "platform/log_file.h"
#include "platform/sim/core.h"

#include <fcntl.h>
#include <unistd.h>

std::FILE* OpenLogFileForAppend(const char* path) {
    // Never failed by a sweep (0), so sweeps stay about the registry; FailCall still reaches it.
    if (sim::core::Enter("OpenLogFileForAppend", 0, "%s", path == nullptr ? "(null)" : path) != 0 ||
        path == nullptr) {
        return nullptr;
    }
    // Not O_APPEND: POSIX appends atomically, whereas Windows' run-time library seeks to the end
    // and then writes, so two streams on one file can overwrite each other's lines. Fixing the
    // position when the stream opens keeps that race, and so keeps writers honest about locking.
    const int fd = open(path, O_WRONLY | O_CREAT, 0644);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = nullptr;
    if (lseek(fd, 0, SEEK_END) < 0 || (file = fdopen(fd, "w")) == nullptr) {
        close(fd);
        return nullptr;
    }
    return file;
}
