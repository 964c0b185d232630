// Readers of the configuration values under HKEY_CURRENT_CONFIG. Every call opens the key,
// reads one value and closes it again; a failure gives the neutral result (empty text or 0).
#pragma once

#include "platform/windows_base.h"

#include <string>

// The subkey every caller passes, and the values read under it.
constexpr const char* kConfigKeyPath = "System\\CurrentControlSet";
constexpr const char* kTriggerDeviceValue = "HingeflowTriggerDevice";
constexpr const char* kBuiltInKeyboardNumberValue = "BuiltInHIDKeyboardNumber";
constexpr const char* kLogPathValue = "HingeflowServiceLogPath";
constexpr const char* kExternalDevicesOnlyValue = "HingeflowExternalDevicesOnly";

// REG_SZ text up to its first zero byte; logs each failure.
std::string ReadConfigString(const char* subKeyPath, const char* valueName);
// REG_DWORD bits as stored; logs each failure.
DWORD ReadConfigDword(const char* subKeyPath, const char* valueName);
// As ReadConfigDword, but a value that does not exist is not logged.
DWORD ReadConfigDwordUnlessAbsent(const char* subKeyPath, const char* valueName);
// As ReadConfigString, but never writes to the log: the log's own start-up uses it.
std::string ReadConfigStringQuiet(const char* subKeyPath, const char* valueName);

// Why a value gives the neutral result: the step of the read that refused it and the Windows
// status it failed with (ERROR_MORE_DATA for text or a number too long for its buffer).
enum class ConfigFailure { None, OpenKey, QueryValue, WrongType, QueryData };
struct ConfigProblem {
    ConfigFailure failure = ConfigFailure::None;
    LSTATUS status = ERROR_SUCCESS;
    DWORD storedType = REG_NONE; // the type found, for WrongType
};
struct ConfigText {
    std::string text;
    ConfigProblem problem;
};
struct ConfigNumber {
    DWORD value = 0;
    ConfigProblem problem;
};
// The result ReadConfigString and ReadConfigDword would give, and why it is the neutral one;
// for reports, so nothing is logged.
ConfigText ExplainConfigString(const char* subKeyPath, const char* valueName);
ConfigNumber ExplainConfigDword(const char* subKeyPath, const char* valueName);
