// The only writer of ConvertibleSlateMode (0 tablet, 1 laptop). Never creates the value.
#pragma once

#include "platform/windows_base.h"

constexpr const char* kSlateModeKeyPath = "System\\CurrentControlSet\\Control\\PriorityControl";
constexpr const char* kSlateModeValue = "ConvertibleSlateMode";

// mode 0 or 1; with force and a stored 1, writes 10 first so Windows sees a change.
bool SetTabletMode(DWORD mode, bool force);
// What one switch did to the value, which Windows reacts to only when it changes.
struct SlateModeSwitch {
    bool throughTemporaryValue = false; // 10 was written before the mode
    bool changed = false;               // the mode was written over another value
};
bool SetTabletMode(DWORD mode, bool force, SlateModeSwitch& done);
// Writes 1 once at start-up when the value exists as a REG_DWORD.
bool InitializeConvertibleSlateMode();

// The value as a reader with query rights alone sees it, for reports: nothing is written or
// logged. On failure `status` holds the Windows error of the step that failed.
struct SlateModeReading {
    enum class Failure { None, OpenKey, QueryValue, WrongType } failure = Failure::None;
    LSTATUS status = ERROR_SUCCESS;
    DWORD type = REG_NONE;
    DWORD value = 0;
};
SlateModeReading ReadConvertibleSlateMode();
