// Points the diagnostic log at a fresh temporary file through the registry, as an administrator
// would, and reads back what was written.
#pragma once

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
