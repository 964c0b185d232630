// Reads diagnostic-log text back as "V:message" / "E:message" entries, one per line, so tests
// on either face compare levels and messages without the timestamp.
#pragma once

#include <cstddef>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> LogEntries(const std::string& content) {
    constexpr std::size_t kTimestamp = 19;
    std::vector<std::string> entries;
    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.size() < kTimestamp) {
            entries.push_back("?:" + line);
        } else if (line.compare(kTimestamp, 10, " Verbose: ") == 0) {
            entries.push_back("V:" + line.substr(kTimestamp + 10));
        } else if (line.compare(kTimestamp, 8, " ERROR: ") == 0) {
            entries.push_back("E:" + line.substr(kTimestamp + 8));
        } else {
            entries.push_back("?:" + line);
        }
    }
    return entries;
}
