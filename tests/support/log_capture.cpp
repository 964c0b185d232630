#include "tests/support/log_capture.h"

#include "config/config_values.h"
#include "config/diagnostic_log.h"
#include "platform/sim/registry_control.h"
#include "tests/support/log_entries.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
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
    std::ifstream in(path_, std::ios::binary);
    return LogEntries(
        std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

bool IsLogCall(const sim::Call& call) {
    // The faultable ones, and the first of each line's check.
    static const char* const kOps[] = {"GetFullPathNameA",
                                       "CreateFileA",
                                       "GetFileType",
                                       "GetFileInformationByHandleEx",
                                       "GetLongPathNameA",
                                       "GetFinalPathNameByHandleA",
                                       "GetSecurityInfo",
                                       "ConvertSidToStringSidA",
                                       "ConvertStringSidToSidA",
                                       "OpenProcessToken",
                                       "GetTokenInformation",
                                       "MultiByteToWideChar",
                                       "NtCreateFile",
                                       "OpenLogStream"};
    return std::any_of(std::begin(kOps), std::end(kOps),
                       [&](const char* op) { return call.op == op; });
}

bool OneLineDropped(std::vector<std::string> complete, std::vector<std::string> logged) {
    std::sort(complete.begin(), complete.end());
    std::sort(logged.begin(), logged.end());
    return logged.size() + 1 == complete.size() &&
           std::includes(complete.begin(), complete.end(), logged.begin(), logged.end());
}

std::vector<std::string> LogCapture::Messages() const {
    std::vector<std::string> messages;
    for (const std::string& entry : Entries()) {
        messages.push_back(entry.substr(2));
    }
    return messages;
}
