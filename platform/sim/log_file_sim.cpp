// Simulator face only: the log is a real file of the host; the journal and injected faults are
// simulated, and so is the way Windows appends.
#include "platform/log_file.h"
#include "platform/sim/core.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <stdio.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

struct LogFileCookie {
    explicit LogFileCookie(int descriptor) : fd(descriptor) {}
    int fd;
};

// Not O_APPEND: POSIX appends atomically, whereas Windows' run-time library seeks to the end and
// then writes. Each write starts at the end as it is then, so sequential appends through separate
// streams keep each other's text, yet two unlocked writers can still both seek before either
// writes and overwrite one another, as they can on Windows.
ssize_t WriteAtTheEnd(void* cookie, const char* data, size_t size) {
    const int fd = static_cast<LogFileCookie*>(cookie)->fd;
    if (lseek(fd, 0, SEEK_END) < 0) {
        return -1;
    }
    size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, data + written, size - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // stdio treats a short count as an error, and a count already written must not be
            // repeated.
            return written > 0 ? static_cast<ssize_t>(written) : -1;
        }
        written += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(written);
}

int Seek(void* cookie, off64_t* offset, int whence) {
    const off64_t position = lseek64(static_cast<LogFileCookie*>(cookie)->fd, *offset, whence);
    if (position < 0) {
        return -1;
    }
    *offset = position;
    return 0;
}

int Close(void* cookie) {
    LogFileCookie* owned = static_cast<LogFileCookie*>(cookie);
    const int result = close(owned->fd);
    delete owned;
    return result;
}

} // namespace

std::FILE* OpenLogFileForAppend(const char* path) {
    // Never failed by a sweep (0), so sweeps stay about the registry; FailCall still reaches it.
    if (sim::core::Enter("OpenLogFileForAppend", 0, "%s", path == nullptr ? "(null)" : path) != 0 ||
        path == nullptr) {
        return nullptr;
    }
    const int fd = open(path, O_WRONLY | O_CREAT, 0644);
    if (fd < 0) {
        return nullptr;
    }
    LogFileCookie* cookie = new (std::nothrow) LogFileCookie(fd);
    if (cookie == nullptr) {
        close(fd);
        return nullptr;
    }
    const cookie_io_functions_t functions = {nullptr, WriteAtTheEnd, Seek, Close};
    std::FILE* file = fopencookie(cookie, "a", functions);
    if (file == nullptr) {
        Close(cookie);
        return nullptr;
    }
    return file;
}
