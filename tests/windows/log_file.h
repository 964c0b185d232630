// Switches the diagnostic log on for one test, as an administrator would: the log path stored
// under the configuration key, then the start-up decision taken again.
#pragma once

#include <string>
#include <vector>

class LogFile {
public:
    LogFile();
    // Removes the path and decides again, so that logging is off for the next test.
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    const std::string& Path() const { return path_; }
    // The file's bytes, line ends as written.
    std::string Content() const;
    // Each line's level and message: "V:HingeflowService onStart", "E:incorrect value type".
    std::vector<std::string> Entries() const;

private:
    std::string path_;
};

// Sets or removes one configuration value for the length of a test.
void SetConfigText(const char* name, const std::string& text);
void SetConfigDword(const char* name, unsigned long value);
void RemoveConfigValue(const char* name);
