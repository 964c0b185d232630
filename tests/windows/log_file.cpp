#include "tests/windows/log_file.h"

#include "config/config_values.h"
#include "config/diagnostic_log.h"
#include "tests/support/log_entries.h"
#include "tests/windows_conformance/platform_seed.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

LogFile::LogFile() {
    path_ = seed::UniqueTemporaryPath("hingeflow-test") + ".log";
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
    return LogEntries(Content());
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
