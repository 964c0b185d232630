#include "config/diagnostic_log.h"

#include "config/config_values.h"
#include "platform/log_file.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

char g_logPath[kLogPathCapacity] = {};
bool g_logEnabled = false;

namespace {

constexpr std::size_t kMessageCapacity = 2048;
constexpr std::size_t kTimestampCapacity = 80;

// Both mutexes are constant-initialised, so they are usable during static initialisation.
// Separate streams appending from two threads can overwrite each other's lines.
std::mutex g_writeMutex;
// std::localtime may hand every thread the same result buffer.
std::mutex g_localTimeMutex;

void FormatTimestamp(char (&timestamp)[kTimestampCapacity]) {
    timestamp[0] = '\0';
    const std::time_t now = std::time(nullptr);
    std::lock_guard<std::mutex> lock(g_localTimeMutex);
    const std::tm* local = std::localtime(&now);
    if (local == nullptr || std::strftime(timestamp, sizeof timestamp, "%Y-%m-%d.%X", local) == 0) {
        timestamp[0] = '\0';
    }
}

void FormatAndWrite(const char* label, const char* format, va_list args) {
    char message[kMessageCapacity];
    // vsnprintf cuts a longer message to 2047 characters and always terminates it.
    if (std::vsnprintf(message, sizeof message, format, args) < 0) {
        message[0] = '\0';
    }
    WriteLogLine(label, message);
}

} // namespace

void InitLog() {
    // Only the process's own start-up runs this; starting from "off" keeps a repeated call honest.
    g_logEnabled = false;
    g_logPath[0] = '\0';
    const std::string path = ReadConfigStringQuiet(kConfigKeyPath, kLogPathValue);
    if (path.empty() || path.size() >= sizeof g_logPath) {
        return;
    }
    std::FILE* file = OpenLogFileForAppend(path.c_str());
    if (file == nullptr) {
        return;
    }
    std::memcpy(g_logPath, path.c_str(), path.size() + 1);
    g_logEnabled = true;
    (void)std::fclose(file); // only a test open: nothing was written that could be lost
}

void LogVerbose(const char* format, ...) {
    if (!g_logEnabled) {
        return;
    }
    va_list args;
    va_start(args, format);
    FormatAndWrite(" Verbose: ", format, args);
    va_end(args);
}

void LogError(const char* format, ...) {
    if (!g_logEnabled) {
        return;
    }
    va_list args;
    va_start(args, format);
    FormatAndWrite(" ERROR: ", format, args);
    va_end(args);
}

std::string GetLogTimestamp() {
    char timestamp[kTimestampCapacity];
    FormatTimestamp(timestamp);
    try {
        return std::string(timestamp);
    } catch (...) {
        return std::string();
    }
}

void WriteLogLine(const char* label, const char* message) {
    try {
        std::lock_guard<std::mutex> lock(g_writeMutex);
        std::FILE* file = OpenLogFileForAppend(g_logPath);
        if (file == nullptr) {
            return; // the line is lost; the next one tries again
        }
        char timestamp[kTimestampCapacity];
        FormatTimestamp(timestamp);
        // A line that cannot be written is lost; logging never reports its own failures.
        (void)std::fprintf(file, "%s%s%s\n", timestamp, label, message);
        (void)std::fclose(file);
    } catch (...) {
        // a lock that cannot be taken drops the line rather than the caller
    }
}
