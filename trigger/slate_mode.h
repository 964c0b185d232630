// The only writer of ConvertibleSlateMode (0 tablet, 1 laptop). Never creates the value.
#pragma once

#include "platform/windows_base.h"

constexpr const char* kSlateModeKeyPath = "System\\CurrentControlSet\\Control\\PriorityControl";
constexpr const char* kSlateModeValue = "ConvertibleSlateMode";

// mode 0 or 1; with force and a stored 1, writes 10 first so Windows sees a change.
bool SetTabletMode(DWORD mode, bool force);
// Writes 1 once at start-up when the value exists as a REG_DWORD.
bool InitializeConvertibleSlateMode();
