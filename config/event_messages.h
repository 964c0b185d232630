// The events hingeflow writes to the Application log under the source HingeflowService, with the
// IDs and categories its message table gives them. The table (built into hingeflow.exe) must
// define every ID here; the insertion strings are listed with each.
#pragma once

#include "platform/windows_base.h"

namespace event_message {

// Categories, numbered from 1 as the event source's CategoryCount requires.
constexpr WORD kCategoryService = 1;
constexpr WORD kCategoryDiagnosticLog = 2;
constexpr WORD kCategoryCount = 2;

// Severity in the top two bits, as the message compiler sets them: Event Viewer shows the low
// 16 bits as the event ID.
// %1 the service name, %2 "Can't set service control handler".
constexpr DWORD kControlHandlerFailed = 0xC0000064; // error, event 100
// %1 the configured log path, %2 why it was refused.
constexpr DWORD kLogPathRefused = 0x80000065; // warning, event 101
// %1 the service name, %2 what Windows refused, %3 the Windows error code in decimal.
constexpr DWORD kCannotWatchDevices = 0xC000006E; // error, event 110
// %1 the service name, %2 the classes it does not watch, %3 the Windows error code in decimal.
constexpr DWORD kDevicesWatchedInPart = 0x8000006F; // warning, event 111

} // namespace event_message
