// Points the diagnostic log at a fresh temporary file through the registry, as an administrator
// would, and reads back what was written.
#pragma once

#include "platform/sim/control.h"

#include <string>
#include <vector>

class LogCapture {
public:
    // Seeds HingeflowServiceLogPath and runs InitLog, so logging is on.
    LogCapture();
    // Runs InitLog with no path configured, so logging is off again.
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::string& Path() const { return path_; }
    // Every line of the file, line ends removed.
    std::vector<std::string> Lines() const;
    // The message part of each line: what follows " Verbose: " or " ERROR: ".
    std::vector<std::string> Messages() const;
    // Messages with their level, e.g. "V:HingeflowService onStart" or "E:incorrect value type".
    std::vector<std::string> Entries() const;

private:
    std::string path_;
};

// The log's own platform calls, which every line makes: opening and checking its folder and
// file, reading the process's user, and the stream.
bool IsLogCall(const sim::Call& call);
// Whether `logged` is `complete` with exactly one line missing: what one failed log call leaves
// when it happens after start-up.
bool OneLineDropped(std::vector<std::string> complete, std::vector<std::string> logged);
