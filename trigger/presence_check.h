// Decides whether an external keyboard or mouse is attached, under the configured trigger kind.
#pragma once

#include <cstdint>
#include <string>

// BuiltInHIDKeyboardNumber as a signed number; anything below 1 becomes 0.
std::int32_t ReadBuiltInKeyboardNumber();
// HingeflowTriggerDevice, lower-cased byte by byte as tolower does in the "C" locale.
std::string ReadTriggerDevice();
// Takes a census, and after a negative one retries up to 3 times, 30 ms apart.
bool IsExternalInputAttached();
