// Power: setting notifications (user32) and the power capabilities (powrprof).
#pragma once

#include "platform/windows_base.h"

#include <cstddef>
#include <cstring>

#ifdef _WIN32
#include <powrprof.h>
#else
HPOWERNOTIFY RegisterPowerSettingNotification(HANDLE hRecipient, LPCGUID PowerSettingGuid,
                                              DWORD Flags);
BOOL UnregisterPowerSettingNotification(HPOWERNOTIFY Handle);
NTSTATUS CallNtPowerInformation(POWER_INFORMATION_LEVEL InformationLevel, PVOID InputBuffer,
                                ULONG InputBufferLength, PVOID OutputBuffer,
                                ULONG OutputBufferLength);
#endif

namespace power_setting {

// GUID_CONSOLE_DISPLAY_STATE: its DWORD data is 0 off, 1 on, 2 dimmed. Spelled out because the
// SDK defines it only under INITGUID.
inline constexpr GUID kConsoleDisplayState = {
    0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};

// The record's header: the setting's GUID and DataLength, then the data itself.
inline constexpr std::size_t kSettingDataOffset = offsetof(POWERBROADCAST_SETTING, Data);

// SYSTEM_POWER_CAPABILITIES.AoAc, set where the machine has Modern Standby. Read by offset:
// mingw-w64's headers still name that byte spare2[2].
inline constexpr std::size_t kAoAcOffset = 20;
static_assert(offsetof(SYSTEM_POWER_CAPABILITIES, FastSystemS4) == kAoAcOffset - 3,
              "AoAc follows FastSystemS4, Hiberboot and WakeAlarmPresent");
inline bool HasModernStandby(const SYSTEM_POWER_CAPABILITIES& capabilities) {
    BYTE aoac = 0;
    std::memcpy(&aoac, reinterpret_cast<const BYTE*>(&capabilities) + kAoAcOffset, 1);
    return aoac != 0;
}

} // namespace power_setting
