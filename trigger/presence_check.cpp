#include "trigger/presence_check.h"

#include "config/config_values.h"
#include "config/diagnostic_log.h"
#include "platform/process.h"
#include "trigger/input_census.h"

namespace {

constexpr int kRetries = 3;
constexpr DWORD kRetryPauseMs = 30;

// `census(attempt)` takes one census and says whether it shows external input; attempt 0 is
// the first, 1 to kRetries the retries, each after a pause.
template <typename Census> bool WithRetries(Census census) {
    if (census(0)) {
        return true;
    }
    for (int attempt = 1; attempt <= kRetries; ++attempt) {
        Sleep(kRetryPauseMs);
        if (census(attempt)) {
            return true;
        }
    }
    return false;
}

} // namespace

std::int32_t ReadBuiltInKeyboardNumber() {
    const DWORD stored = ReadConfigDword(kConfigKeyPath, kBuiltInKeyboardNumberValue);
    const auto number = static_cast<std::int32_t>(stored);
    return number < 1 ? 0 : number;
}

std::string ReadTriggerDevice() {
    std::string kind = ReadConfigString(kConfigKeyPath, kTriggerDeviceValue);
    // What tolower does in the "C" locale, without depending on the process's locale.
    for (char& c : kind) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return kind;
}

bool IsExternalInputAttached() {
    const std::int32_t builtIn = ReadBuiltInKeyboardNumber();
    const std::string trigger = ReadTriggerDevice();
    if (builtIn > 0) {
        LogVerbose("built-in keyboards number: %d", static_cast<int>(builtIn));
    }

    if (trigger == "mouse") {
        return WithRetries([](int) { return CountInputDevices(kMouseKind) >= 1; });
    }
    if (trigger == "keyboard") {
        return WithRetries([builtIn](int) { return CountInputDevices(kKeyboardKind) > builtIn; });
    }
    return WithRetries([builtIn](int attempt) {
        const std::int32_t mice = CountInputDevices(kMouseKind);
        const std::int32_t keyboards = CountInputDevices(kKeyboardKind);
        const bool attached = mice >= 1 && keyboards > builtIn;
        if (attempt == 0) {
            LogVerbose("mouse number: %d, keyboard number: %d", static_cast<int>(mice),
                       static_cast<int>(keyboards));
        } else if (attached) {
            LogVerbose("mouse number: %d, keyboard number: %d, loop: %d", static_cast<int>(mice),
                       static_cast<int>(keyboards), attempt);
        }
        return attached;
    });
}
