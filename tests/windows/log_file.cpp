#include "tests/windows/log_file.h"

#include "config/config_values.h"
#include "config/diagnostic_log.h"
#include "tests/windows_conformance/platform_seed.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

LogFile::LogFile() {
    static int serial = 0;
    path_ = seed::TemporaryDirectory() + "hingeflow-test-" + std::to_string(GetCurrentProcessId()) +
            "-" + std::to_string(++serial) + ".log";
    std::remove(path_.c_str());
    SetConfigText(kLogPathValue, path_);
    InitLog();
    EXPECT_TRUE(g_logEnabled) << "logging did not switch on for " << path_;
}

LogFile::~LogFile() {
    RemoveConfigValue(kLogPathValue);
    InitLog();
    std::remove(path_.c_str());
}

std::string LogFile::Content() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> LogFile::Entries() const {
    constexpr std::size_t kTimestamp = 19;
    std::vector<std::string> entries;
    std::istringstream lines(Content());
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

void SetConfigText(const char* name, const std::string& text) {
    seed::RegistryValue(HKEY_CURRENT_CONFIG, kConfigKeyPath, name, REG_SZ,
                        TextWithTerminator(text));
}

void SetConfigDword(const char* name, unsigned long value) {
    seed::RegistryValue(HKEY_CURRENT_CONFIG, kConfigKeyPath, name, REG_DWORD,
                        DwordBytes(static_cast<DWORD>(value)));
}

void RemoveConfigValue(const char* name) {
    seed::RemoveRegistryValue(HKEY_CURRENT_CONFIG, kConfigKeyPath, name);
}
