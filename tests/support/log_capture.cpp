#include "tests/support/log_capture.h"

#include "config/config_values.h"
#include "config/diagnostic_log.h"
#include "platform/sim/registry_control.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

LogCapture::LogCapture() {
    char pattern[] = "/tmp/hingeflow-log-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd >= 0) {
        close(fd);
    }
    path_ = pattern;
    sim::SetRegistryString(HKEY_CURRENT_CONFIG, kConfigKeyPath, kLogPathValue, path_);
    InitLog();
}

LogCapture::~LogCapture() {
    sim::DeleteRegistryValue(HKEY_CURRENT_CONFIG, kConfigKeyPath, kLogPathValue);
    InitLog();
    std::remove(path_.c_str());
}

std::vector<std::string> LogCapture::Lines() const {
    std::vector<std::string> lines;
    std::ifstream in(path_);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> LogCapture::Entries() const {
    std::vector<std::string> entries;
    for (const std::string& line : Lines()) {
        constexpr std::size_t kTimestamp = 19;
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

std::vector<std::string> LogCapture::Messages() const {
    std::vector<std::string> messages;
    for (const std::string& entry : Entries()) {
        messages.push_back(entry.substr(2));
    }
    return messages;
}
