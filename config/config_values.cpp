#include "config/config_values.h"

#include "config/diagnostic_log.h"
#include "platform/unique_handle.h"

#include <algorithm>

namespace {

constexpr DWORD kTextCapacity = 2048;

// LogUnlessAbsent: for a value most machines never set, whose absence is no news.
enum class Reporting { Log, LogUnlessAbsent, Quiet };

// Records why a read failed, for the callers that explain rather than log.
bool Refuse(ConfigProblem* problem, ConfigFailure failure, LSTATUS status, DWORD type) {
    if (problem != nullptr) {
        *problem = ConfigProblem{failure, status, type};
    }
    return false;
}

// Opens the configuration key, checks the value's type and reads its data into `buffer`; on
// success `size` holds the bytes read. Every failure is logged (unless quiet) after the close,
// and recorded in `problem` when one is given.
bool ReadValue(const char* subKeyPath, const char* valueName, DWORD expectedType, BYTE* buffer,
               DWORD capacity, Reporting reporting, DWORD& size, ConfigProblem* problem) {
    const bool log = reporting != Reporting::Quiet;
    UniqueRegistryKey key;
    LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_CONFIG, subKeyPath, 0, KEY_READ, key.receive());
    if (status != ERROR_SUCCESS) {
        if (log) {
            LogError("open key(%s) failed: %d", subKeyPath, static_cast<int>(status));
        }
        return Refuse(problem, ConfigFailure::OpenKey, status, REG_NONE);
    }
    DWORD type = 0;
    size = 0;
    status = RegQueryValueExA(key.get(), valueName, nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS) {
        key.reset();
        if (log && !(reporting == Reporting::LogUnlessAbsent && status == ERROR_FILE_NOT_FOUND)) {
            LogVerbose("query value (%s) failed: %d", valueName, static_cast<int>(status));
        }
        return Refuse(problem, ConfigFailure::QueryValue, status, REG_NONE);
    }
    if (type != expectedType) {
        key.reset();
        if (log) {
            LogError("incorrect value type");
        }
        return Refuse(problem, ConfigFailure::WrongType, ERROR_SUCCESS, type);
    }
    // Never offer more than the buffer holds: a larger value then fails with ERROR_MORE_DATA
    // instead of overrunning it. Capping (rather than refusing on the reported size) also
    // tolerates a size-only query that overstates ANSI text.
    size = std::min(size, capacity);
    status = RegQueryValueExA(key.get(), valueName, nullptr, nullptr, buffer, &size);
    key.reset();
    if (status != ERROR_SUCCESS) {
        if (log) {
            LogError("query key(%s) value failed: %d", valueName, static_cast<int>(status));
        }
        return Refuse(problem, ConfigFailure::QueryData, status, expectedType);
    }
    return true;
}

std::string ReadText(const char* subKeyPath, const char* valueName, Reporting reporting,
                     ConfigProblem* problem = nullptr) {
    char text[kTextCapacity] = {};
    DWORD size = 0;
    if (!ReadValue(subKeyPath, valueName, REG_SZ, reinterpret_cast<BYTE*>(text), sizeof text,
                   reporting, size, problem)) {
        return std::string();
    }
    const char* end = std::find(text, text + sizeof text, '\0');
    if (end == text + sizeof text) {
        // 2048 bytes without a zero: the text and its terminator would not fit.
        if (reporting == Reporting::Log) {
            LogError("query key(%s) value failed: %d", valueName,
                     static_cast<int>(ERROR_MORE_DATA));
        }
        Refuse(problem, ConfigFailure::QueryData, ERROR_MORE_DATA, REG_SZ);
        return std::string();
    }
    try {
        return std::string(text, static_cast<std::size_t>(end - text));
    } catch (...) {
        Refuse(problem, ConfigFailure::QueryData, ERROR_NOT_ENOUGH_MEMORY, REG_SZ);
        return std::string();
    }
}

DWORD ReadNumber(const char* subKeyPath, const char* valueName, Reporting reporting,
                 ConfigProblem* problem) {
    BYTE word[4] = {};
    DWORD size = 0;
    if (!ReadValue(subKeyPath, valueName, REG_DWORD, word, sizeof word, reporting, size, problem)) {
        return 0;
    }
    // Little-endian as stored; bytes missing from a short value stay 0.
    return static_cast<DWORD>(word[0]) | static_cast<DWORD>(word[1]) << 8 |
           static_cast<DWORD>(word[2]) << 16 | static_cast<DWORD>(word[3]) << 24;
}

} // namespace

std::string ReadConfigString(const char* subKeyPath, const char* valueName) {
    return ReadText(subKeyPath, valueName, Reporting::Log);
}

std::string ReadConfigStringQuiet(const char* subKeyPath, const char* valueName) {
    return ReadText(subKeyPath, valueName, Reporting::Quiet);
}

DWORD ReadConfigDword(const char* subKeyPath, const char* valueName) {
    return ReadNumber(subKeyPath, valueName, Reporting::Log, nullptr);
}

DWORD ReadConfigDwordUnlessAbsent(const char* subKeyPath, const char* valueName) {
    return ReadNumber(subKeyPath, valueName, Reporting::LogUnlessAbsent, nullptr);
}

ConfigText ExplainConfigString(const char* subKeyPath, const char* valueName) {
    ConfigText reading;
    reading.text = ReadText(subKeyPath, valueName, Reporting::Quiet, &reading.problem);
    return reading;
}

ConfigNumber ExplainConfigDword(const char* subKeyPath, const char* valueName) {
    ConfigNumber reading;
    reading.value = ReadNumber(subKeyPath, valueName, Reporting::Quiet, &reading.problem);
    return reading;
}
