// Device notification (user32).
#pragma once

#include "platform/windows_base.h"

#ifdef _WIN32
#include <dbt.h>
#else
HDEVNOTIFY RegisterDeviceNotificationW(HANDLE hRecipient, LPVOID NotificationFilter, DWORD Flags);
BOOL UnregisterDeviceNotification(HDEVNOTIFY Handle);
#endif
