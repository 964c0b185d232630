// Whether the diagnostic log may write a path as SYSTEM. The service and `install` run as
// SYSTEM, and the log's path and folder may have been prepared by someone else: like the checks
// that privileged daemons make before they trust a file, a path that is not safe is refused with
// a reason, never repaired.
//
// Safe means: the folder holding the file is not a reparse point, is owned by SYSTEM,
// Administrators, TrustedInstaller or the process's own user, and lets nobody else add or delete
// files or subfolders, change its permissions or take it over; the file, opened without
// following a reparse point at its name, is a disk file in that very folder, neither a folder
// nor a reparse point, with exactly one link.
#pragma once

#include <cstdio>

constexpr int kLogReasonCapacity = 160;

enum class LogFileVerdict {
    Sound,    // the log writes there
    Unopened, // the folder or the file does not open (missing, no access): logging is off
    Refused,  // it opens, but is not safe to write as SYSTEM
};

struct LogFileCheck {
    LogFileVerdict verdict = LogFileVerdict::Unopened;
    char reason[kLogReasonCapacity] = {}; // plain English, empty when Sound
    unsigned long error = 0;              // the Windows error behind Unopened
};

// Opens the log file at `path` to append in text mode, creating it when missing, once the path
// has passed the check; otherwise nullptr, with `check` saying why. A file refused after its
// opening is closed unwritten.
std::FILE* OpenLogFileSafely(const char* path, LogFileCheck& check);

// The same verdict without creating, writing or opening anything for writing: whether the
// service would log to `path`, and if not, why. A missing file in a sound folder is Sound.
LogFileCheck CheckLogFile(const char* path);
