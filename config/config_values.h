// Readers of the configuration values under HKEY_CURRENT_CONFIG, and of the same values set by
// fleet policy under HKLM\SOFTWARE\Policies. Every call opens the key, reads one value and
// closes it again; a failure gives the neutral result (empty text or 0).
#pragma once

#include "platform/windows_base.h"

#include <string>

// The subkey every caller passes, and the values read under it.
constexpr const char* kConfigKeyPath = "System\\CurrentControlSet";
constexpr const char* kTriggerDeviceValue = "HingeflowTriggerDevice";
constexpr const char* kBuiltInKeyboardNumberValue = "BuiltInHIDKeyboardNumber";
constexpr const char* kLogPathValue = "HingeflowServiceLogPath";
constexpr const char* kExternalDevicesOnlyValue = "HingeflowExternalDevicesOnly";

// Where Group Policy and MDM write (they write nowhere under System): a value set there wins
// over the configuration, one value at a time. Always the 64-bit view, where policy lands.
constexpr const char* kPolicyKeyPath = "SOFTWARE\\Policies\\hingeflow";
constexpr const char* kPolicyKeyName = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\hingeflow";

// Every value that policy may set, with the type it must have. The policy template's test
// holds policy/hingeflow.admx to this list, so a new value is a name above, a row here and its
// setting in the template; the readers below take any of them.
struct Setting {
    const char* name;
    DWORD type;
};
inline constexpr Setting kSettings[] = {
    {kTriggerDeviceValue, REG_SZ},
    {kBuiltInKeyboardNumberValue, REG_DWORD},
    {kLogPathValue, REG_SZ},
    {kExternalDevicesOnlyValue, REG_DWORD},
};

// REG_SZ text up to its first zero byte; logs each failure.
std::string ReadConfigString(const char* subKeyPath, const char* valueName);
// REG_DWORD bits as stored; logs each failure.
DWORD ReadConfigDword(const char* subKeyPath, const char* valueName);
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

// Policy, then configuration, then the default: where a setting's value came from, and why a
// policy value that is present was passed over.
enum class SettingSource { Policy, Configuration, Default };
struct SettingOrigin {
    SettingSource source = SettingSource::Default;
    LSTATUS policyKeyStatus = ERROR_FILE_NOT_FOUND; // of opening the policy key
    ConfigProblem policyRefusal;                    // failure None unless refused
};
// `problem` is the configuration's, as above: None when policy decided.
struct SettingText : ConfigText {
    SettingOrigin origin;
};
struct SettingNumber : ConfigNumber {
    SettingOrigin origin;
};

// The readers the service uses. A policy value present but unreadable is refused with an
// ERROR line naming it and why; the configuration is then read and logged as ever.
std::string ReadSettingString(const char* valueName);
DWORD ReadSettingDword(const char* valueName);
// As ReadSettingDword, for a value most machines never set: absent from both keys, it is not
// logged.
DWORD ReadSettingDwordUnlessAbsent(const char* valueName);
// As ReadSettingString, but never writes to the log: the log's own start-up uses it.
std::string ReadSettingStringQuiet(const char* valueName);
// The same readings with their origin, for reports; nothing is logged.
SettingText ExplainSettingString(const char* valueName);
SettingNumber ExplainSettingDword(const char* valueName);

// "REG_SZ", "REG_DWORD", ...; null for a type without a name.
const char* RegistryTypeName(DWORD type);
// Why a policy value was refused, as the log and `status` word it ("it is REG_DWORD, not
// REG_SZ"); empty for no refusal.
std::string PolicyRefusalWords(const ConfigProblem& refusal, DWORD expectedType);
