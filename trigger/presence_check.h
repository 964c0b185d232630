// Decides whether an external keyboard or mouse is attached, under the configured trigger kind.
#pragma once

#include "config/config_values.h"
#include "platform/windows_base.h"

#include <cstdint>
#include <optional>
#include <string>

// BuiltInHIDKeyboardNumber as a signed number; anything below 1 becomes 0.
std::int32_t ReadBuiltInKeyboardNumber();
// HingeflowTriggerDevice, lower-cased byte by byte as tolower does in the "C" locale.
std::string ReadTriggerDevice();
// HingeflowExternalDevicesOnly, policy first: true for a readable 1 alone.
bool ReadExternalDevicesOnly();
// Takes a census, and after a negative one retries up to 3 times, 30 ms apart.
bool IsExternalInputAttached();
// The same, its pauses being waits on `stopEvent`: none when that event is signalled before the
// check has answered, at the latest at the end of the pause it interrupts.
std::optional<bool> IsExternalInputAttached(HANDLE stopEvent);

// --- The rules of the check, for reports that show a decision without logging one ---------

enum class Trigger { Mouse, Keyboard, Combined };

// The stored number as the check takes it, and the stored text as it compares it.
std::int32_t BuiltInKeyboardNumberFrom(DWORD stored);
bool ExternalDevicesOnlyFrom(const ConfigNumber& stored);
std::string LowerCaseTriggerDevice(std::string kind);
// "mouse", "keyboard", and anything else (the empty text included) for both at once.
Trigger SelectTrigger(const std::string& lowerCaseKind);
// Whether one census, of mice and keyboards alike, shows external input under the trigger.
bool ShowsExternalInput(Trigger trigger, std::int32_t mice, std::int32_t keyboards,
                        std::int32_t builtInKeyboards);
