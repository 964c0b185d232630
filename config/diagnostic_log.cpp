#include "config/diagnostic_log.h"

#include "config/config_values.h"
#include "config/event_messages.h"
#include "config/log_file_check.h"
#include "platform/event_log.h"
#include "platform/unique_handle.h"

#include <atomic>
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
// The service's name, under which its events are written.
constexpr const char* kEventSource = "HingeflowService";

// Both mutexes are constant-initialised, so they are usable during static initialisation.
// Separate streams appending from two threads can overwrite each other's lines.
std::mutex g_writeMutex;
// std::localtime may hand every thread the same result buffer.
std::mutex g_localTimeMutex;
// One warning per process: a log refused at every line must not flood the Application log.
std::atomic<bool> g_refusalReported{false};

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

// Where an administrator looks: the Application log, since the log itself is what was refused.
void WarnOfRefusal(const char* path, const LogFileCheck& check) {
    if (check.verdict != LogFileVerdict::Refused || g_refusalReported.exchange(true)) {
        return;
    }
    const UniqueEventSource source(RegisterEventSourceA(nullptr, kEventSource));
    if (!source) {
        return;
    }
    const char* strings[] = {path, check.reason};
    (void)ReportEventA(source.get(), EVENTLOG_WARNING_TYPE, event_message::kCategoryDiagnosticLog,
                       event_message::kLogPathRefused, nullptr, 2, 0, strings, nullptr);
}

} // namespace

void InitLog() {
    // Only the process's own start-up runs this; starting from "off" keeps a repeated call honest.
    g_logEnabled = false;
    g_logPath[0] = '\0';
    g_refusalReported = false;
    const std::string path = ReadSettingStringQuiet(kLogPathValue);
    if (path.empty() || path.size() >= sizeof g_logPath) {
        return;
    }
    LogFileCheck check;
    std::FILE* file = OpenLogFileSafely(path.c_str(), check);
    if (file == nullptr) {
        WarnOfRefusal(path.c_str(), check);
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
        LogFileCheck check;
        std::FILE* file = OpenLogFileSafely(g_logPath, check);
        if (file == nullptr) {
            WarnOfRefusal(g_logPath, check);
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
