#include "trigger/presence_check.h"

#include "config/config_values.h"
#include "config/diagnostic_log.h"
#include "platform/process.h"
#include "platform/synchronization.h"
#include "trigger/input_census.h"

namespace {

constexpr int kRetries = 3;
constexpr DWORD kRetryPauseMs = 30;

enum class Answer { Attached, NotAttached, Stopped };

// `census(attempt)` takes one census and says whether it shows external input; attempt 0 is
// the first, 1 to kRetries the retries, each after `pause(kRetryPauseMs)`, which answers false
// when the check must end without an answer.
template <typename Census, typename Pause> Answer WithRetries(Census census, Pause pause) {
    if (census(0)) {
        return Answer::Attached;
    }
    for (int attempt = 1; attempt <= kRetries; ++attempt) {
        if (!pause(kRetryPauseMs)) {
            return Answer::Stopped;
        }
        if (census(attempt)) {
            return Answer::Attached;
        }
    }
    return Answer::NotAttached;
}

} // namespace

std::int32_t BuiltInKeyboardNumberFrom(DWORD stored) {
    const auto number = static_cast<std::int32_t>(stored);
    return number < 1 ? 0 : number;
}

bool ExternalDevicesOnlyFrom(const ConfigNumber& stored) {
    return stored.problem.failure == ConfigFailure::None && stored.value == 1;
}

std::string LowerCaseTriggerDevice(std::string kind) {
    // What tolower does in the "C" locale, without depending on the process's locale.
    for (char& c : kind) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return kind;
}

Trigger SelectTrigger(const std::string& lowerCaseKind) {
    if (lowerCaseKind == "mouse") {
        return Trigger::Mouse;
    }
    return lowerCaseKind == "keyboard" ? Trigger::Keyboard : Trigger::Combined;
}

bool ShowsExternalInput(Trigger trigger, std::int32_t mice, std::int32_t keyboards,
                        std::int32_t builtInKeyboards) {
    const bool mouse = mice >= 1;
    const bool keyboard = keyboards > builtInKeyboards;
    switch (trigger) {
    case Trigger::Mouse:
        return mouse;
    case Trigger::Keyboard:
        return keyboard;
    default:
        return mouse && keyboard;
    }
}

std::int32_t ReadBuiltInKeyboardNumber() {
    return BuiltInKeyboardNumberFrom(ReadSettingDword(kBuiltInKeyboardNumberValue));
}

std::string ReadTriggerDevice() {
    return LowerCaseTriggerDevice(ReadSettingString(kTriggerDeviceValue));
}

bool ReadExternalDevicesOnly() {
    // Absent is today's behaviour and leaves the log as it was; any other failure is logged as
    // for the other values.
    return ReadSettingDwordUnlessAbsent(kExternalDevicesOnlyValue) == 1;
}

namespace {

template <typename Pause> Answer CheckExternalInput(Pause pause) {
    // In the mode the built-in keyboards are left out by their container, so their number is
    // neither read nor used.
    const bool externalOnly = ReadExternalDevicesOnly();
    const CensusScope scope = externalOnly ? CensusScope::ExternalOnly : CensusScope::AllDevices;
    const std::int32_t builtIn = externalOnly ? 0 : ReadBuiltInKeyboardNumber();
    const Trigger trigger = SelectTrigger(ReadTriggerDevice());
    if (externalOnly) {
        LogVerbose("external devices only");
    } else if (builtIn > 0) {
        LogVerbose("built-in keyboards number: %d", static_cast<int>(builtIn));
    }

    // Each trigger counts only the classes it looks at.
    if (trigger == Trigger::Mouse) {
        return WithRetries(
            [scope](int) {
                return ShowsExternalInput(Trigger::Mouse, CountInputDevices(kMouseKind, scope), 0,
                                          0);
            },
            pause);
    }
    if (trigger == Trigger::Keyboard) {
        return WithRetries(
            [builtIn, scope](int) {
                return ShowsExternalInput(Trigger::Keyboard, 0,
                                          CountInputDevices(kKeyboardKind, scope), builtIn);
            },
            pause);
    }
    return WithRetries(
        [builtIn, scope](int attempt) {
            const std::int32_t mice = CountInputDevices(kMouseKind, scope);
            const std::int32_t keyboards = CountInputDevices(kKeyboardKind, scope);
            const bool attached = ShowsExternalInput(Trigger::Combined, mice, keyboards, builtIn);
            if (attempt == 0) {
                LogVerbose("mouse number: %d, keyboard number: %d", static_cast<int>(mice),
                           static_cast<int>(keyboards));
            } else if (attached) {
                LogVerbose("mouse number: %d, keyboard number: %d, loop: %d",
                           static_cast<int>(mice), static_cast<int>(keyboards), attempt);
            }
            return attached;
        },
        pause);
}

} // namespace

bool IsExternalInputAttached() {
    return CheckExternalInput([](DWORD pauseMs) {
               Sleep(pauseMs);
               return true;
           }) == Answer::Attached;
}

std::optional<bool> IsExternalInputAttached(HANDLE stopEvent) {
    // A wait that fails ends the check too: retries without their pauses would answer too soon.
    const Answer answer = CheckExternalInput([stopEvent](DWORD pauseMs) {
        return WaitForSingleObject(stopEvent, pauseMs) == WAIT_TIMEOUT;
    });
    if (answer == Answer::Stopped) {
        return std::nullopt;
    }
    return answer == Answer::Attached;
}
