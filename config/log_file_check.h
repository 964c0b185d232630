// Whether the diagnostic log may write a path as SYSTEM. The service and `install` run as
// SYSTEM, and the log's path and folder may have been prepared by someone else: like the checks
// that privileged daemons make before they trust a file, a path that is not safe is refused with
// a reason, never repaired.
//
// Safe means: the folder holding the file is where the path says, no junction or other reparse
// point above it or at it; it is owned by SYSTEM, Administrators, TrustedInstaller or the
// process's own user, and lets nobody else add or delete files or subfolders, change its
// permissions or take it over, nor gives such rights to the files made in it. The file, opened
// by its name within that folder without following a reparse point there, is a disk file in
// it, not a reparse point, with exactly one link, and passes the folder's owner and write rules.
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

// Opens the log file at `path` to append in text mode, creating it when missing once its folder
// has passed the check; otherwise nullptr, with `check` saying why. A file refused after its
// opening is closed unwritten.
std::FILE* OpenLogFileSafely(const char* path, LogFileCheck& check);

// The same verdict without creating, writing or opening anything for writing: whether the
// service would log to `path`, and if not, why. A missing file in a sound folder is Sound.
LogFileCheck CheckLogFile(const char* path);
