// The optional diagnostic log: decided once at process start-up, one timestamped line per
// message, the file opened and closed for every line.
#pragma once

#include <string>

// Constant-initialised, so InitLog may run during static initialisation in any order.
constexpr int kLogPathCapacity = 2048;
extern char g_logPath[kLogPathCapacity];
extern bool g_logEnabled;

// Reads HingeflowServiceLogPath and switches logging on when that file is safe to write as
// SYSTEM and opens for appending (config/log_file_check.h); each line checks it again. The
// first refusal in a process is reported as a warning event.
void InitLog();

// printf-style; nothing is formatted or touched while logging is off.
void LogVerbose(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
void LogError(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Local time as "%Y-%m-%d.%X", e.g. 2016-03-01.14:05:09.
std::string GetLogTimestamp();

// Appends timestamp, label, message and a line feed; called by LogVerbose and LogError only.
void WriteLogLine(const char* label, const char* message);
