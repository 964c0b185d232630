#include "config/config_values.h"

#include "config/diagnostic_log.h"
#include "platform/unique_handle.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

constexpr DWORD kTextCapacity = 2048;

// LogUnlessAbsent: for a value most machines never set, whose absence is no news.
enum class Reporting { Log, LogUnlessAbsent, Quiet };

// A key the readers read from: the configuration, or the policy that overrides it.
struct Location {
    HKEY hive;
    const char* subKeyPath;
    REGSAM access;
};

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
bool ReadValue(const Location& location, const char* valueName, DWORD expectedType, BYTE* buffer,
               DWORD capacity, Reporting reporting, DWORD& size, ConfigProblem* problem) {
    const bool log = reporting != Reporting::Quiet;
    UniqueRegistryKey key;
    LSTATUS status =
        RegOpenKeyExA(location.hive, location.subKeyPath, 0, location.access, key.receive());
    if (status != ERROR_SUCCESS) {
        if (log) {
            LogError("open key(%s) failed: %d", location.subKeyPath, static_cast<int>(status));
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

std::string ReadText(const Location& location, const char* valueName, Reporting reporting,
                     ConfigProblem* problem) {
    char text[kTextCapacity] = {};
    DWORD size = 0;
    if (!ReadValue(location, valueName, REG_SZ, reinterpret_cast<BYTE*>(text), sizeof text,
                   reporting, size, problem)) {
        return std::string();
    }
    const char* end = std::find(text, text + sizeof text, '\0');
    if (end == text + sizeof text) {
        // 2048 bytes without a zero: the text and its terminator would not fit.
        if (reporting != Reporting::Quiet) {
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

DWORD ReadNumber(const Location& location, const char* valueName, Reporting reporting,
                 ConfigProblem* problem) {
    BYTE word[4] = {};
    DWORD size = 0;
    if (!ReadValue(location, valueName, REG_DWORD, word, sizeof word, reporting, size, problem)) {
        return 0;
    }
    // Little-endian as stored; bytes missing from a short value stay 0.
    return static_cast<DWORD>(word[0]) | static_cast<DWORD>(word[1]) << 8 |
           static_cast<DWORD>(word[2]) << 16 | static_cast<DWORD>(word[3]) << 24;
}

Location Configuration(const char* subKeyPath) {
    return Location{HKEY_CURRENT_CONFIG, subKeyPath, KEY_READ};
}

Location Policy() {
    return Location{HKEY_LOCAL_MACHINE, kPolicyKeyPath, KEY_READ | KEY_WOW64_64KEY};
}

// A missing key or value is simply not set by policy; anything else present is refused.
bool NotSet(const ConfigProblem& problem) {
    return (problem.failure == ConfigFailure::OpenKey ||
            problem.failure == ConfigFailure::QueryValue) &&
           problem.status == ERROR_FILE_NOT_FOUND;
}

void FormatRefusal(const ConfigProblem& refusal, DWORD expectedType, char* out,
                   std::size_t capacity) {
    const char* what = nullptr;
    switch (refusal.failure) {
    case ConfigFailure::OpenKey:
        what = "the policy key cannot be opened";
        break;
    case ConfigFailure::QueryValue:
        what = "it cannot be queried";
        break;
    case ConfigFailure::WrongType: {
        const char* stored = RegistryTypeName(refusal.storedType);
        (void)(stored != nullptr ? std::snprintf(out, capacity, "it is %s, not %s", stored,
                                                 RegistryTypeName(expectedType))
                                 : std::snprintf(out, capacity, "it is type %lu, not %s",
                                                 static_cast<unsigned long>(refusal.storedType),
                                                 RegistryTypeName(expectedType)));
        return;
    }
    case ConfigFailure::QueryData:
        what = refusal.status != ERROR_MORE_DATA ? "it cannot be read"
               : expectedType == REG_SZ          ? "it is longer than 2047 characters"
                                                 : "it is stored in more than 4 bytes";
        break;
    default:
        (void)std::snprintf(out, capacity, "%s", "");
        return;
    }
    (void)std::snprintf(out, capacity, "%s (error %d)", what, static_cast<int>(refusal.status));
}

// Policy first: a value present and readable there decides, and the configuration is not read.
// One present but unreadable is refused, in the log unless quiet, and the configuration decides
// as though policy had not set it.
template <typename Value, typename Read>
bool ReadPolicy(Read read, const char* valueName, DWORD type, Reporting reporting, Value& value,
                SettingOrigin& origin) {
    ConfigProblem problem;
    Value fromPolicy = read(Policy(), valueName, Reporting::Quiet, &problem);
    origin.policyKeyStatus =
        problem.failure == ConfigFailure::OpenKey ? problem.status : LSTATUS{ERROR_SUCCESS};
    if (problem.failure == ConfigFailure::None) {
        value = std::move(fromPolicy);
        origin.source = SettingSource::Policy;
        return true;
    }
    if (!NotSet(problem)) {
        origin.policyRefusal = problem;
        if (reporting != Reporting::Quiet) {
            char reason[96];
            FormatRefusal(problem, type, reason, sizeof reason);
            LogError("policy value (%s) refused: %s", valueName, reason);
        }
    }
    return false;
}

template <typename Reading, typename Value, typename Base, typename Read>
Reading ReadSetting(Read read, Value Base::*field, const char* valueName, DWORD type,
                    Reporting reporting) {
    Reading reading;
    if (!ReadPolicy(read, valueName, type, reporting, reading.*field, reading.origin)) {
        reading.*field =
            read(Configuration(kConfigKeyPath), valueName, reporting, &reading.problem);
        reading.origin.source = reading.problem.failure == ConfigFailure::None
                                    ? SettingSource::Configuration
                                    : SettingSource::Default;
    }
    return reading;
}

SettingText TextSetting(const char* valueName, Reporting reporting) {
    return ReadSetting<SettingText>(&ReadText, &SettingText::text, valueName, REG_SZ, reporting);
}

SettingNumber NumberSetting(const char* valueName, Reporting reporting) {
    return ReadSetting<SettingNumber>(&ReadNumber, &SettingNumber::value, valueName, REG_DWORD,
                                      reporting);
}

} // namespace

std::string ReadConfigString(const char* subKeyPath, const char* valueName) {
    return ReadText(Configuration(subKeyPath), valueName, Reporting::Log, nullptr);
}

std::string ReadConfigStringQuiet(const char* subKeyPath, const char* valueName) {
    return ReadText(Configuration(subKeyPath), valueName, Reporting::Quiet, nullptr);
}

DWORD ReadConfigDword(const char* subKeyPath, const char* valueName) {
    return ReadNumber(Configuration(subKeyPath), valueName, Reporting::Log, nullptr);
}

ConfigText ExplainConfigString(const char* subKeyPath, const char* valueName) {
    ConfigText reading;
    reading.text =
        ReadText(Configuration(subKeyPath), valueName, Reporting::Quiet, &reading.problem);
    return reading;
}

ConfigNumber ExplainConfigDword(const char* subKeyPath, const char* valueName) {
    ConfigNumber reading;
    reading.value =
        ReadNumber(Configuration(subKeyPath), valueName, Reporting::Quiet, &reading.problem);
    return reading;
}

std::string ReadSettingString(const char* valueName) {
    return TextSetting(valueName, Reporting::Log).text;
}

DWORD ReadSettingDword(const char* valueName) {
    return NumberSetting(valueName, Reporting::Log).value;
}

DWORD ReadSettingDwordUnlessAbsent(const char* valueName) {
    return NumberSetting(valueName, Reporting::LogUnlessAbsent).value;
}

std::string ReadSettingStringQuiet(const char* valueName) {
    return TextSetting(valueName, Reporting::Quiet).text;
}

SettingText ExplainSettingString(const char* valueName) {
    return TextSetting(valueName, Reporting::Quiet);
}

SettingNumber ExplainSettingDword(const char* valueName) {
    return NumberSetting(valueName, Reporting::Quiet);
}

const char* RegistryTypeName(DWORD type) {
    static const char* const kNames[] = {"REG_NONE",   "REG_SZ",      "REG_EXPAND_SZ",
                                         "REG_BINARY", "REG_DWORD",   "REG_DWORD_BIG_ENDIAN",
                                         "REG_LINK",   "REG_MULTI_SZ"};
    if (type < sizeof kNames / sizeof kNames[0]) {
        return kNames[type];
    }
    return type == REG_QWORD ? "REG_QWORD" : nullptr;
}

std::string PolicyRefusalWords(const ConfigProblem& refusal, DWORD expectedType) {
    char reason[96];
    FormatRefusal(refusal, expectedType, reason, sizeof reason);
    try {
        return reason;
    } catch (...) {
        return std::string();
    }
}
